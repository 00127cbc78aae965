/*
 * families.h --
 *     What start-up calls in the other subsystems: the init procedures of
 *     the command families and the hooks of the package exit handler.
 */
#ifndef VESK_CORE_FAMILIES_H
#define VESK_CORE_FAMILIES_H

#include <tcl.h>

namespace vesk {

/* Command families built so far, in their start-up order. */
int Calc_Init(Tcl_Interp *interp);

/* Registers the image type "gimg" once per process; 0 on success. */
int Gimg_Init(Tcl_Interp *interp);
/* The "gimg" command and its delete procedure. */
Tcl_CmdProc *gimgCommandProc();
Tcl_CmdDeleteProc *gimgCommandDeleteProc();
/* Names of all gimg images, as a list, into the result. */
void gimgNames(Tcl_Interp *interp);

/* Command families, in their start-up order; 0 on success. */
int Shape_Init(Tcl_Interp *interp);
int Gtable_Init(Tcl_Interp *interp);
int Terra_Init(Tcl_Interp *interp);
/* "stats.create", "eigen.create" and "iso.create" (processing/featureobj.cpp). */
int Stats_Init(Tcl_Interp *interp);

/* Console windows: the console manager, its channels and teardown. */
int initConsoleManager(Tcl_Interp *interp);
void createSetConStdIO(Tcl_Interp *consoleInterp);
void hookStdinToConsole(Tcl_Interp *interp);
void closeAllConsoles(int eventFlags);

/* Evaluates the script libraries listed in a global variable. */
int loadScriptLibraries(Tcl_Interp *interp, const char *listVariable);

/* Exit-time clean-up of the other subsystems. */
void deleteAllGimgs();
void freePaletteColors();
void freeTagTables();
void freeImageReaders();

/* Plugs the format sniffer and image file creation into the image store. */
void installImageFormats();

/* Command families. */
int Etran_Init(Tcl_Interp *interp);
/* "tiff"; "dicom" and "gpz" are exported (vesk/imagecmds.h). */
int Tiff_Init(Tcl_Interp *interp);

/* The tag tables of "tiff" and "dicom": present once either command ran. */
bool tiffTagTableExists();
void tiffCmdDeleted(ClientData clientData);
bool dicomTagTableExists();
void dicomCmdDeleted(ClientData clientData);
int Proj_Init(Tcl_Interp *interp);
/* 3-D views: "glw", the OpenGL binding and the "glw" image type. */
int Glw_Init(Tcl_Interp *interp);
int Gcp_Init(Tcl_Interp *interp);
int Camera_Init(Tcl_Interp *interp);
/* The "ddw" image widget (package TK_DIRECTX). */
int Ddw_Init(Tcl_Interp *interp);
/* Scanners ("twimg"), printing ("printer", "gmetafile"). */
int Twimg_Init(Tcl_Interp *interp);
int Printer_Init(Tcl_Interp *interp);

/* Test hook: makes the named family fail, "" or NULL for none. */
void setFailingFamily(const char *name);

}  // namespace vesk

#endif
