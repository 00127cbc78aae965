/*
 * package.cpp --
 *     Package entry and start-up: the two entry procedures, the shared
 *     package initialisation, the registration of every command family in
 *     its fixed order, the application's script libraries, the binding to
 *     Tk's console, the exit handler, the panic procedure and the
 *     process-wide state other parts read through accessors.
 */
#include <dlfcn.h>
#include <fenv.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <string>

#include "core/core.h"
#include "core/families.h"
#include "vesk/gcanvas.h"
#include "vesk/imagecmds.h"
#include "vesk/rimage.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Process-wide state, shared by every interpreter that loads the library. */
Tcl_Interp *stdioInterp = nullptr;
int packageExitInstalled = 0;
int tkConsoleActive = 0;
int debugFlag = 0;
Display *mainDisplay = nullptr;
Colormap mainColormap = 0;
int mainDepth = 0;
int rgb24Mode = 0;
Pixmap sharedPixmap = None;
int paletteKind = 0;

constexpr const char *kDefaultAppScripts = "program.lib";
constexpr const char *kDefaultConScripts = "program.lib contk.lib";

/*
 * The command families in their start-up order.  A family whose init
 * procedure is not part of this build yet has none and is passed over.
 */
struct CommandFamily {
  const char *name;
  FamilyInitProc *init;
};
const CommandFamily commandFamilies[] = {
    {"MainWindow_Init", MainWindow_Init},
    {"Rimg_Init", Rimg_Init},
    {"Calc_Init", Calc_Init},
    {"Comb_Init", Comb_Init},
    {"Grass_Init", Grass_Init},
    {"Etran_Init", Etran_Init},
    {"Ddw_Init", Ddw_Init},
    {"Twimg_Init", Twimg_Init},
    {"Glw_Init", Glw_Init},
    {"Dicom_Init", Dicom_Init},
    {"Tiff_Init", Tiff_Init},
    {"Gcp_Init", Gcp_Init},
    {"Gpz_Init", Gpz_Init},
    {"Printer_Init", Printer_Init},
    {"Shape_Init", Shape_Init},
    {"Stats_Init", Stats_Init},
    {"Gtable_Init", Gtable_Init},
    {"Terra_Init", Terra_Init},
    {"Proj_Init", Proj_Init},
    {"Gcanvas_Init", Gcanvas_Init},
    {"Camera_Init", Camera_Init},
};
static_assert(sizeof commandFamilies / sizeof commandFamilies[0] == 21,
              "the start-up order names twenty-one families");

/* Test hook: a family that fails, to check that registration stops there. */
const char *failingFamily = nullptr;

/* True when a command procedure lies in the library that holds Tk. */
bool isTkProcedure(Tcl_ObjCmdProc *proc) {
  Dl_info procInfo, tkInfo;
  if (!dladdr(reinterpret_cast<void *>(proc), &procInfo) ||
      !dladdr(reinterpret_cast<void *>(Tk_MainWindow), &tkInfo))
    return false;
  return procInfo.dli_fbase && procInfo.dli_fbase == tkInfo.dli_fbase;
}

/* Reads a global variable, NULL when it does not exist. */
const char *globalVar(Tcl_Interp *interp, const char *name, const char *element = nullptr) {
  return Tcl_GetVar2(interp, name, element, TCL_GLOBAL_ONLY);
}

void packageExitHandler(ClientData) {
  stdioInterp = nullptr;
  closeAllConsoles(TCL_ALL_EVENTS);
  deleteAllGimgs();
  freePaletteColors();
  freeSharedPixmap();
  freeTagTables();
  freeImageReaders();
  packageExitInstalled = 0;
}

void installExitHandler() {
  if (!packageExitInstalled) {
    Tcl_CreateExitHandler(packageExitHandler, nullptr);
    packageExitInstalled = 1;
  }
}

/* Formats "panic:" and the message, without a length limit. */
std::string panicText(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text = "panic:";
  if (n > 0) {
    std::string message(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&message[0], message.size(), format, args);
    message.resize(static_cast<size_t>(n));
    text += message;
  }
  text += "\n";
  return text;
}

/*
 * Shows a panic on the console's error stream, and on descriptor 2 unless
 * that stream already ends there (a plain shell would show it twice).
 */
void showPanic(const std::string &text) { putsErrorOnce(text.data(), text.size()); }

extern "C" void panicTrampoline(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = panicText(format, args);
  va_end(args);
  showPanic(text);
}

}  // namespace

/* ---- accessors ---- */

Tcl_Interp *setStdioInterp(Tcl_Interp *interp) {
  Tcl_Interp *previous = stdioInterp;
  stdioInterp = interp;
  return previous;
}
Tcl_Interp *getStdioInterp() { return stdioInterp; }
int getTkConsoleActive() { return tkConsoleActive; }
void setTkConsoleActive(int active) { tkConsoleActive = active; }
Display *getDisplay() { return mainDisplay; }
Colormap getColormap() { return mainColormap; }
int getVisualDepth() { return mainDepth; }
int getRgb24Mode() { return rgb24Mode; }
void setRgb24Mode(int mode) { rgb24Mode = mode; }
int getDebugFlag() { return debugFlag; }
void setDebugFlag(int flag) { debugFlag = flag ? 1 : 0; }
int getPaletteKind() { return paletteKind; }
void setPaletteKind(int kind) { paletteKind = kind; }
const char *getPackageVersion() { return kPackageVersion; }
int getPackageExitInstalled() { return packageExitInstalled; }
void setFailingFamily(const char *name) { failingFamily = name; }

Pixmap setSharedPixmap(Pixmap pixmap) {
  Pixmap previous = sharedPixmap;
  sharedPixmap = pixmap;
  return previous;
}
Pixmap getSharedPixmap() { return sharedPixmap; }
void freeSharedPixmap() {
  if (sharedPixmap != None && mainDisplay) Tk_FreePixmap(mainDisplay, sharedPixmap);
  sharedPixmap = None;
}

/*
 * consolePanic --
 *     Tcl's panic procedure while the package is loaded: the message goes
 *     to the console's error stream and to file descriptor 2.
 */
void consolePanic(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = panicText(format, args);
  va_end(args);
  showPanic(text);
}

/* ---- start-up ---- */

/*
 * getGimgHome --
 *     The home folder: gimgHome, else env(GHOME), else veskHome, else
 *     env(VESK), else the current directory; kept in gimgHome.
 */
const char *getGimgHome(Tcl_Interp *interp) {
  if (const char *home = globalVar(interp, "gimgHome")) return home;
  const char *home = globalVar(interp, "env", "GHOME");
  if (!home) home = globalVar(interp, "veskHome");
  if (!home) home = globalVar(interp, "env", "VESK");
  if (home) {
    std::string copy = home;
    return Tcl_SetVar2(interp, "gimgHome", nullptr, copy.c_str(), TCL_GLOBAL_ONLY);
  }
  int code = Tcl_Eval(interp, "set ::gimgHome [pwd]");
  Tcl_ResetResult(interp);
  if (code != TCL_OK) return "";
  return globalVar(interp, "gimgHome");
}

/*
 * setHomeVars --
 *     Resolves the home folder and script lists in one interpreter and
 *     sets them in another (the same one at package load).
 */
void setHomeVars(Tcl_Interp *from, Tcl_Interp *to) {
  std::string home = getGimgHome(from);
  const char *app = globalVar(from, "veskAppScripts");
  const char *con = globalVar(from, "veskConScripts");
  std::string appScripts = app ? app : kDefaultAppScripts;
  std::string conScripts = con ? con : kDefaultConScripts;
  Tcl_SetVar2(to, "gimgHome", nullptr, home.c_str(), TCL_GLOBAL_ONLY);
  Tcl_SetVar2(to, "veskAppScripts", nullptr, appScripts.c_str(), TCL_GLOBAL_ONLY);
  Tcl_SetVar2(to, "veskConScripts", nullptr, conScripts.c_str(), TCL_GLOBAL_ONLY);
}

/*
 * initPackage --
 *     Package initialisation shared by both entry procedures.  The display,
 *     image type, panic procedure and exception mask are set up by the
 *     first load in the process only.
 */
int initPackage(Tcl_Interp *interp) {
  setHomeVars(interp, interp);
  int result = Tcl_PkgProvide(interp, "Vesk", kPackageVersion);
  if (result != TCL_OK) return result;
  if (packageExitInstalled) return TCL_OK;

  installImageFormats();
  installImageVocabularies();
  installCalcImageSubcommands();

  Tk_Window main = Tk_MainWindow(interp);
  if (main && !mainDisplay) {
    Tk_MakeWindowExist(main);
    mainDisplay = Tk_Display(main);
    mainColormap = Tk_Colormap(main);
    mainDepth = Tk_Depth(main);
    if (mainDepth > 24) rgb24Mode = 1;
  }
  Tcl_ResetResult(interp);

  Tcl_Interp *previous = setStdioInterp(interp);
  result = Gimg_Init(interp);
  setStdioInterp(previous);
  if (result == 0) {
    Tcl_SetPanicProc(panicTrampoline);
    fedisableexcept(FE_ALL_EXCEPT);
  }
  return result;
}

/*
 * registerCommands --
 *     Creates every command family in one interpreter, in the start-up
 *     order, then "gimg", "vesk.selection" and "vesk.listconcat".
 * Results:      0, or the first non-zero family result.
 */
int registerCommands(Tcl_Interp *interp) {
  for (const CommandFamily &family : commandFamilies) {
    if (failingFamily && strcmp(failingFamily, family.name) == 0) {
      Tcl_AppendResult(interp, "Fail to init ", family.name, nullptr);
      return 1;
    }
    if (!family.init) continue;
    int result = family.init(interp);
    if (result != 0) return result;
  }
  if (Tcl_CmdProc *gimg = gimgCommandProc()) {
    if (!Tcl_CreateCommand(interp, "gimg", gimg, nullptr, gimgCommandDeleteProc()))
      return TCL_OK;
  }
  if (!Tcl_CreateCommand(interp, "vesk.selection", veskSelectionCmd, nullptr, nullptr))
    return TCL_OK;
  Tcl_CreateCommand(interp, "vesk.listconcat", veskListconcatCmd, nullptr, nullptr);
  return TCL_OK;
}

/*
 * initApp --
 *     Registers the command families and "winmsg", then loads the
 *     application's script libraries.
 */
int initApp(Tcl_Interp *interp) {
  Tcl_Preserve(interp);
  int result = registerCommands(interp);
  if (result == 0) {
    Tcl_CreateCommand(interp, "winmsg", winmsgCmd, nullptr, winmsgCmdDeleted);
    result = loadScriptLibraries(interp, "veskAppScripts");
  }
  Tcl_Release(interp);
  return result;
}

/*
 * patchConsole --
 *     Binds the package to Tk's own console when the interpreter has one:
 *     the console interpreter becomes the stdio interpreter and gets the
 *     command families too.
 */
void patchConsole(Tcl_Interp *interp) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(interp, "console", &info)) return;
  /*
   * Tk's console command keeps its console interpreter first in its data.
   * Any other command of that name (a script's own "proc console", an
   * alias) keeps something else there: only a command procedure of Tk's
   * own library is trusted.
   */
  if (!info.isNativeObjectProc || !info.objClientData || !isTkProcedure(info.objProc)) return;
  Tcl_Interp *consoleInterp = *static_cast<Tcl_Interp **>(info.objClientData);
  if (!consoleInterp || Tcl_InterpDeleted(consoleInterp)) return;
  setStdioInterp(consoleInterp);
  createSetConStdIO(consoleInterp);
  tkConsoleActive = 1;
  hookStdinToConsole(interp);
  registerCommands(consoleInterp);
  Tcl_ResetResult(consoleInterp);
  if (Tcl_Eval(interp, "calc decompload [file join $gimgHome conpatch.lib]") != TCL_OK &&
      Tcl_Eval(interp, "source [file join $gimgHome conpatch.tcl]") != TCL_OK) {
    Tcl_AppendResult(interp, "Failed to patch console!", nullptr);
  }
}

}  // namespace vesk

using namespace vesk;

/*
 * Vesk_Init --
 *     Entry procedure of a normal load: the package command, the shared
 *     initialisation, the command families and the script libraries.
 */
int Vesk_Init(Tcl_Interp *interp) {
  if (!Tcl_InitStubs(interp, "8.6", 0) || !Tk_InitStubs(interp, "8.6", 0)) return TCL_ERROR;
  if (!Tcl_CreateCommand(interp, "vesk", veskCmd, nullptr, nullptr)) return TCL_ERROR;
  Tcl_Interp *old = setStdioInterp(interp);
  int result = initPackage(interp);
  if (result != TCL_OK) {
    Tcl_AppendResult(interp, "error in init vesk", nullptr);
    setStdioInterp(old);
    return result;
  }
  result = initApp(interp);
  if (result != TCL_OK) {
    Tcl_AppendResult(interp, "error in init app", nullptr);
    setStdioInterp(old);
    return result;
  }
  /* Tk's console exists on X11 too when the shell made one. */
  patchConsole(interp);
  installExitHandler();
  return TCL_OK;
}

/*
 * Console_Init --
 *     Entry procedure of a console host: the shell becomes the host of
 *     console windows with interpreters of their own.
 */
int Console_Init(Tcl_Interp *interp) {
  if (!Tcl_InitStubs(interp, "8.6", 0) || !Tk_InitStubs(interp, "8.6", 0)) return TCL_ERROR;
  Tcl_Interp *old = setStdioInterp(interp);
  int result = initPackage(interp);
  if (result != TCL_OK) {
    setStdioInterp(old);
    return result;
  }
  setStdioInterp(nullptr);
  result = initConsoleManager(interp);
  if (result != TCL_OK) {
    setStdioInterp(old);
    return result;
  }
  tkConsoleActive = 1;
  const char *interactive = Tcl_GetVar2(interp, "tcl_interactive", nullptr, TCL_GLOBAL_ONLY);
  if (interactive && interactive[0] == '0') {
    result = Tcl_Eval(interp, fmt("vesk attach"));
    Tcl_SetVar2(interp, "tcl_interactive", nullptr, "1", TCL_GLOBAL_ONLY);
  } else {
    result = Tcl_Eval(interp, fmt("vesk create"));
    patchConsole(interp);
  }
  if (result != TCL_OK) {
    setStdioInterp(old);
    return result;
  }
  installExitHandler();
  return TCL_OK;
}
