/*
 * core.h --
 *     Private interface of the package core: process-wide state and its
 *     accessors, the start-up steps, and the small services every
 *     subsystem calls.
 */
#ifndef VESK_CORE_CORE_H
#define VESK_CORE_CORE_H

#include <tk.h>
#include <sys/types.h>
#include <string>
#include "vesk/object.h"
#include "vesk/vesk.h"

namespace vesk {

inline constexpr const char *kPackageVersion = "4.010";

/* A family init procedure: 0 on success, non-zero stops the registration. */
typedef int FamilyInitProc(Tcl_Interp *interp);

/* ---- process-wide state (package.cpp) ---- */
Tcl_Interp *setStdioInterp(Tcl_Interp *interp);
Tcl_Interp *getStdioInterp();
int getTkConsoleActive();
void setTkConsoleActive(int active);
Display *getDisplay();
Colormap getColormap();
int getVisualDepth();
int getRgb24Mode();
void setRgb24Mode(int mode);
int getDebugFlag();
void setDebugFlag(int flag);
int getPaletteKind();
void setPaletteKind(int kind);
Pixmap setSharedPixmap(Pixmap pixmap);
Pixmap getSharedPixmap();
void freeSharedPixmap();
const char *getPackageVersion();
int getPackageExitInstalled();

/* ---- standard streams (stdio.cpp) ---- */
void setUnblockFlag(int flag);
int getUnblockFlag();
/*
 * Writes text to the console's error stream and, when that stream does not
 * already end on descriptor 2 (a Tk console, no stdio interpreter, output
 * dropped while an interpreter goes away), to descriptor 2 as well.
 */
void putsErrorOnce(const char *text, size_t length);

/* ---- progress meter and run status (meter.cpp) ---- */
/* The meter step, clamped to 0..0.5 (not a number gives 0). */
float getMeterStep();
void setMeterStep(double step);
/* The run status, clamped to 0..3: nothing, keep serviced, pause, abort. */
int getRunStatus();
void setRunStatus(long status);
/* The run status after servicing events; 3 asks a loop to stop. */
int pollStatus();

/* ---- start-up (package.cpp) ---- */
int initPackage(Tcl_Interp *interp);
void setHomeVars(Tcl_Interp *from, Tcl_Interp *to);
const char *getGimgHome(Tcl_Interp *interp);
int registerCommands(Tcl_Interp *interp);
int initApp(Tcl_Interp *interp);
void patchConsole(Tcl_Interp *interp);
void consolePanic(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* ---- package commands (pkgcmds.cpp) ---- */
Tcl_CmdProc veskCmd;
Tcl_CmdProc veskSelectionCmd;
Tcl_CmdProc veskListconcatCmd;
Tcl_CmdProc winmsgCmd;
Tcl_CmdDeleteProc winmsgCmdDeleted;

/* ---- core services (services.cpp) ---- */
inline constexpr int kFmtBufferSize = 16384;
inline constexpr int kFmtWrapOffset = 15360;
int fmtFillOffset();
const char *fmtBufferStart();
int addErrorInfoFormatted(Tcl_Interp *interp, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
void waitWithEvents(Tcl_Interp *interp, int flags, int milliseconds);

/* An integer-keyed object registry behind the command "vesk.object", for
   native modules that want to look objects up by number. */
int initObjectRegistry(Tcl_Interp *interp);
Tcl_HashTable *getObjectRegistry(Tcl_Interp *interp);

/* A zeroed object record of a class with the shared user operations
   filled in; NULL when memory can't be had. */
RAMOBJ *newObjectRecord(int classId);
/* Puts an object behind the new command `name` (its class's command
   procedure) and configures it from the option words; on failure nothing
   is left behind (failText when the command can't be made). */
int createObjectCommand(Tcl_Interp *interp, RAMOBJ *object, const char *name, int argc,
                        const char **argv, const char *failText);

/*
 * The recovery point of combEval: a command that passes one gets it back
 * as this exception when the called command fails, and answers TCL_ERROR.
 */
struct CombEvalAbort {
  int code = TCL_ERROR;
};
int combEval(const CombEvalAbort *abort, ClientData clientData, Tcl_Interp *interp,
             Tcl_CmdProc *proc, ...);
/* The most words a direct call passes on; further words are dropped. */
inline constexpr int kCombMaxWords = 4095;
/* What a failed direct call reports: the missing-command and failure texts
   (each formatted with the first word) for errorInfo, and the printout's
   form when it aborts (the result before "Abort at:", then the trailer). */
struct CombCallTexts {
  const char *missing;
  const char *failed;
  bool resultFirst;
  const char *trailer;
};
extern const CombCallTexts kCombEvalTexts;
/* combEval over counted words: proc with clientData when given, else the
   command of info (its own procedure and client data), else the command
   named by argv[0]. */
int combCallWords(const CombEvalAbort *abort, Tcl_Interp *interp, Tcl_CmdProc *proc,
                  ClientData clientData, const Tcl_CmdInfo *info, int argc,
                  const char *const *argv, const CombCallTexts &texts);
/* Calls a command's own procedure and client data (the object form when it has one). */
int callCommandInfo(Tcl_Interp *interp, const Tcl_CmdInfo &info, int argc,
                    const char *const *argv);
ClientData getCommandClientData(Tcl_Interp *interp, const char *commandName);

const char *translateFileName(Tcl_Interp *interp, std::string &out, const char *name);
const char *makeAbsolutePath(const char *path, std::string &out);
const char *getPathTail(const char *path, std::string &out);
int accessFile(const char *path);
double getDiskFree(int drive);
double getPathDiskFree(const char *path);
inline constexpr int kFilePieceSize = 32768;
int64_t getFileData(int fd, void *buffer, int64_t length, off_t offset, int fatal);
int64_t putFileData(int fd, const void *buffer, int64_t length, off_t offset, int quiet);
/* The whole of a regular file of at most limit bytes; false with the reason in *why. */
bool readRegularFile(const char *path, int64_t limit, std::string &text, std::string *why = nullptr);

}  // namespace vesk

#endif
