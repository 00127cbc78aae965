/*
 * projprog.cpp --
 *     The frame of the projection programs run inside the interpreter:
 *     the replacement of exit, the frame state reported by "proj.exitCode"
 *     and "proj.module", the programs' message routine, and the input and
 *     DMS conventions all four programs share.
 */
#include "geometry/projprog.h"

#include <errno.h>
#include <stdarg.h>
#include <string.h>

#include "geometry/projlayer.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Process-wide frame state: the most recent set-up is the current frame. */
Tcl_Interp *currentInterp = nullptr;
int projExitCode = 0;
std::string projModule;

/* The message routine's context: the run's program and its input. */
constexpr const char *kReleaseText = "Rel. 4.4.5, 9 January 2002";
std::string programName;
std::string inputFile;
int inputLine = 0;

}  // namespace

/*
 * projExit --
 *     Leaves the running program for the current frame with the code; 0
 *     arrives as 1, as every complete run counts as an exit.
 */
void projExit(int code) { throw ProjExit{code != 0 ? code : 1}; }

void beginProjFrame(Tcl_Interp *interp, const char *module) {
  currentInterp = interp;
  projExitCode = 0;
  projModule = module ? module : "";
}

void endProjFrame(int code) { projExitCode = code; }

Tcl_Interp *getCurrentProjInterp() { return currentInterp; }
void setCurrentProjInterp(Tcl_Interp *interp) { currentInterp = interp; }
int getProjExitCode() { return projExitCode; }
const char *getProjModule() { return projModule.c_str(); }

/*
 * runProjProgram --
 *     Runs a program's main with the command's words as its arguments.
 * Results:      TCL_OK only when main returns 0 without exiting, which
 *               the programs never do: every complete run ends in an exit
 *               and so in TCL_ERROR with the code for "proj.exitCode".
 */
int runProjProgram(Tcl_Interp *interp, const char *module, ProjProgramMain *main, int argc,
                   const char **argv) {
  return runInProjFrame(interp, module, [&]() {
    setProgramName(argc > 0 ? argv[0] : module);
    setInputFile(nullptr);
    return main(argc, argv) == 0 ? TCL_OK : TCL_ERROR;
  });
}

/* ---- message routine ---- */

void setProgramName(const char *argv0) {
  const char *name = argv0 ? argv0 : "";
  if (const char *slash = strrchr(name, '/')) name = slash + 1;
  programName = name;
}

const char *getProgramName() { return programName.c_str(); }

void setInputFile(const char *name) {
  inputFile = name ? name : "";
  inputLine = 0;
}

void setInputLine(int line) { inputLine = line; }

/*
 * emess --
 *     The programs' message routine: release and program name, the input
 *     position, the system error for codes 2 and -2, then the message, all
 *     to the standard error stream.
 * Side effects: a code above 0 is fatal: the program ends through
 *               projExit with that code.
 */
void emess(int code, const char *format, ...) {
  int systemErrno = errno;
  if (format) vesk_fprintf(stderr, "%s\n<%s>: ", kReleaseText, programName.c_str());
  if (!inputFile.empty()) {
    vesk_fprintf(stderr, "while processing file: %s", inputFile.c_str());
    if (inputLine > 0) vesk_fprintf(stderr, ", line %d\n", inputLine);
    else vesk_fputs("\n", stderr);
  } else {
    vesk_fputs("\n", stderr);
  }
  if (code == 2 || code == -2)
    vesk_fprintf(stderr, "Sys errno: %d: %s\n", systemErrno, "<system mess. texts unavail.>");
  if (format) {
    va_list args;
    va_start(args, format);
    vesk_vfprintf(stderr, format, args);
    va_end(args);
  }
  if (code > 0) {
    vesk_fputs("\nprogram abnormally terminated\n", stderr);
    projExit(code);
  }
  vesk_fputs("\n", stderr);
}

/* ---- shared conventions ---- */

/*
 * setDmsOption --
 *     The -w (fixedWidth 0) and -W options: one digit, the decimals of the
 *     seconds in DMS output; a digit above 8 leaves the format unchanged.
 */
void setDmsOption(int fixedWidth, const char *digits) {
  if (!digits || digits[0] < '0' || digits[0] > '9')
    emess(1, "-W argument missing or non-digit");
  setDmsFormat(digits[0] - '0', fixedWidth);
}

/* ---- commands ---- */

/* "proj.exitCode": the exit code of the most recent frame. */
int projExitCodeCmd(ClientData, Tcl_Interp *interp, int, const char **) {
  Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d", projExitCode));
  return TCL_OK;
}

/* "proj.module": the command that set up the most recent frame. */
int projModuleCmd(ClientData, Tcl_Interp *interp, int, const char **) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(projModule.c_str(), -1));
  return TCL_OK;
}

}  // namespace vesk
