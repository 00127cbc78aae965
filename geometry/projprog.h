/*
 * projprog.h --
 *     The frame in which the projection programs and the projection
 *     object commands run: every way out of a program (normal end, usage,
 *     fatal message) comes back to the Tcl command that started it, which
 *     then returns TCL_ERROR and leaves the exit code for "proj.exitCode".
 */
#ifndef VESK_GEOMETRY_PROJPROG_H
#define VESK_GEOMETRY_PROJPROG_H

#include <stdio.h>
#include <tcl.h>
#include <string>

namespace vesk {

/* Thrown by projExit and caught by the frame that is current. */
struct ProjExit {
  int code;
};

/* The main procedure of a program run as a command. */
typedef int ProjProgramMain(int argc, const char **argv);

[[noreturn]] void projExit(int code);
void beginProjFrame(Tcl_Interp *interp, const char *module);
void endProjFrame(int code);
Tcl_Interp *getCurrentProjInterp();
void setCurrentProjInterp(Tcl_Interp *interp);
int getProjExitCode();
const char *getProjModule();

/*
 * runInProjFrame --
 *     Runs work (returning a Tcl code) as a frame set up for the command
 *     module: an exit from any depth of it makes the command answer
 *     TCL_ERROR, with whatever the work put in the result.
 */
template <class Work>
int runInProjFrame(Tcl_Interp *interp, const char *module, Work &&work) {
  beginProjFrame(interp, module);
  try {
    return work();
  } catch (const ProjExit &exit) {
    endProjFrame(exit.code);
    return TCL_ERROR;
  }
}

int runProjProgram(Tcl_Interp *interp, const char *module, ProjProgramMain *main, int argc,
                   const char **argv);

/* ---- the message routine and its context ---- */
void setProgramName(const char *argv0);
const char *getProgramName();
void setInputFile(const char *name);
void setInputLine(int line);
void emess(int code, const char *format, ...) __attribute__((format(printf, 2, 3)));

/* ---- conventions shared by the programs ---- */
void setDmsOption(int fixedWidth, const char *digits);

Tcl_CmdProc projExitCodeCmd;
Tcl_CmdProc projModuleCmd;

}  // namespace vesk

#endif
