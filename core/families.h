/*
 * families.h --
 *     What the package's start-up and exit call in the other subsystems:
 *     the init procedures of the command families (package.cpp lists them
 *     in their start-up order), the process-wide set-up of the image
 *     store and of the tables that other subsystems fill in core, the
 *     console windows, and the clean-up of the package exit handler.  The
 *     exported families (Rimg_Init, Dicom_Init, Gpz_Init, Gcanvas_Init)
 *     are declared in include/vesk/.
 */
#ifndef VESK_CORE_FAMILIES_H
#define VESK_CORE_FAMILIES_H

#include <tcl.h>

namespace vesk {

/* ---- command families; 0 on success ---- */
/* "veskMainWindow" and "veskToplevelWindow" (display/mouseroute.cpp). */
int MainWindow_Init(Tcl_Interp *interp);
int Calc_Init(Tcl_Interp *interp);
int Shape_Init(Tcl_Interp *interp);
int Gtable_Init(Tcl_Interp *interp);
int Terra_Init(Tcl_Interp *interp);
/* "stats.create", "eigen.create" and "iso.create" (processing/featureobj.cpp). */
int Stats_Init(Tcl_Interp *interp);
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
/* "gcp.create"; it also fills in "calc geocalc". */
int Gcp_Init(Tcl_Interp *interp);
int Camera_Init(Tcl_Interp *interp);
/* The "ddw" image widget (package TK_DIRECTX). */
int Ddw_Init(Tcl_Interp *interp);
/* Scanners ("twimg"), printing ("printer", "gmetafile"). */
int Twimg_Init(Tcl_Interp *interp);
/* The raster graphics driver: "grass" and "_vask.parseInput". */
int Grass_Init(Tcl_Interp *interp);
int Printer_Init(Tcl_Interp *interp);
/* Compound widgets: the "comb.*" family and its classes (widgets/). */
int Comb_Init(Tcl_Interp *interp);

/* Test hook: makes the named family fail, "" or NULL for none. */
void setFailingFamily(const char *name);

/* ---- the image type "gimg" (display/) ---- */
/* Registers the image type "gimg" once per process; 0 on success. */
int Gimg_Init(Tcl_Interp *interp);
/* The "gimg" command and its delete procedure. */
Tcl_CmdProc *gimgCommandProc();
Tcl_CmdDeleteProc *gimgCommandDeleteProc();
/* Names of all gimg images, as a list, into the result. */
void gimgNames(Tcl_Interp *interp);

/* ---- process-wide set-up, once before the first family (raster/) ---- */
/* Plugs the format sniffer and image file creation into the image store. */
void installImageFormats();
/* Gives the id options their image header vocabularies (mapid, imgid,
   imgtype, pixel). */
void installImageVocabularies();
/* Fills in "calc bitmap" and "calc scangif". */
void installCalcImageSubcommands();

/* ---- console windows: the console manager, its channels and teardown ---- */
int initConsoleManager(Tcl_Interp *interp);
void createSetConStdIO(Tcl_Interp *consoleInterp);
void hookStdinToConsole(Tcl_Interp *interp);
void closeAllConsoles(int eventFlags);

/* Evaluates the script libraries listed in a global variable. */
int loadScriptLibraries(Tcl_Interp *interp, const char *listVariable);

/* ---- exit-time clean-up of the other subsystems ---- */
void deleteAllGimgs();
void freePaletteColors();
void freeTagTables();
void freeImageReaders();

}  // namespace vesk

#endif
