/*
 * consoles.cpp --
 *     Console windows with interpreters of their own.  In a console host
 *     every application interpreter can have a console interpreter: a
 *     second interpreter with a Tk main window whose script libraries
 *     show the console text and read typed lines.  The two sides of a pair
 *     talk through "console"/"conTk" (application side) and
 *     "conApp"/"conAppRec" (console side).  This file holds the sixteen
 *     slots, the creation of pairs, the reaction to destroyed windows, the
 *     deferred deletion of interpreters and the teardown of all consoles.
 */
#include <stdint.h>
#include <string.h>
#include <string>

#include <tkInt.h>

#include "core/console.h"
#include "core/core.h"
#include "core/families.h"
#include "vesk/meter.h"

namespace vesk {
namespace {

ConsoleSlot consoleSlots[kConsoleSlotCount];
/* Set once the slots, the console channels and the exit handler exist. */
int consoleManagerReady = 0;

/* Window and idle events: what a replaced console needs serviced. */
constexpr int kWindowAndIdleEvents = TCL_WINDOW_EVENTS | TCL_IDLE_EVENTS;

ClientData indexData(int index) {
  return reinterpret_cast<ClientData>(static_cast<intptr_t>(index));
}
int indexOf(ClientData clientData) {
  intptr_t index = reinterpret_cast<intptr_t>(clientData);
  return index >= 0 && index < kConsoleSlotCount ? static_cast<int>(index) : -1;
}

bool usable(Tcl_Interp *interp) {
  return interp && !Tcl_InterpDeleted(interp);
}

/* The Tk main window of an interpreter, or NULL; its result is kept. */
Tk_Window mainWindowOf(Tcl_Interp *interp) {
  if (!usable(interp)) return nullptr;
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  Tk_Window main = Tk_MainWindow(interp);
  Tcl_RestoreInterpState(interp, state);
  return main;
}

/* Destroys an interpreter's main window when it has one. */
void destroyMainWindow(Tcl_Interp *interp) {
  if (Tk_Window main = mainWindowOf(interp)) Tk_DestroyWindow(main);
}

/*
 * The interpreter of the window a DestroyNotify is about.  Tk takes a main
 * window out of its list before the event, so the window record itself is
 * asked.
 */
Tcl_Interp *interpOfEvent(XEvent *event) {
  Tk_Window tkwin = Tk_IdToWindow(event->xany.display, event->xdestroywindow.window);
  if (!tkwin) return nullptr;
  TkMainInfo *info = reinterpret_cast<TkWindow *>(tkwin)->mainPtr;
  return info ? info->interp : nullptr;
}

/* Evaluates a script at global level; the code, the result left in place. */
int evalGlobal(Tcl_Interp *interp, const char *script) {
  return Tcl_EvalEx(interp, script, -1, TCL_EVAL_GLOBAL);
}

void decrementDeletionCount(ClientData) {
  changeInterpDeletionCount(-1);
}

/*
 * deleteInterpLater --
 *     Timer procedure: deletes an interpreter that a replaced console
 *     left behind.
 */
void deleteInterpLater(ClientData clientData) {
  Tcl_Interp *interp = static_cast<Tcl_Interp *>(clientData);
  if (getStdioInterp() == interp) setStdioInterp(nullptr);
  if (!Tcl_InterpDeleted(interp)) Tcl_DeleteInterp(interp);
  Tcl_Release(interp);
}

/*
 * consoleWindowEventProc --
 *     DestroyNotify of a console interpreter's main window: the slot loses
 *     its console and the interpreter is deleted.  When the host's console
 *     goes while the host's own window is withdrawn, that window is
 *     iconified rather than left invisible.
 */
void consoleWindowEventProc(ClientData clientData, XEvent *event) {
  if (event->type != DestroyNotify) return;
  int index = indexOf(clientData);
  if (index < 0) return;
  Tcl_Interp *con = consoleSlots[index].consoleInterp;
  if (!con || interpOfEvent(event) != con) return;
  if (getStdioInterp() == con) setStdioInterp(nullptr);
  consoleSlots[index].consoleInterp = nullptr;
  if (index == 0 && !Tcl_InterpDeleted(con)) {
    Tcl_Preserve(con);
    if (evalGlobal(con, "conApp wm state .") == TCL_OK &&
        strcmp(Tcl_GetStringResult(con), "withdrawn") == 0) {
      evalGlobal(con, "conApp wm iconify .");
    }
    if (!Tcl_InterpDeleted(con)) Tcl_ResetResult(con);
    Tcl_Release(con);
  }
  deleteConsoleInterp(con);
}

/*
 * appWindowEventProc --
 *     DestroyNotify of an application interpreter's main window: the
 *     interpreter of slots 1 to 15 is deleted; the host's window (slot 0)
 *     takes every console with it.
 */
void appWindowEventProc(ClientData clientData, XEvent *event) {
  if (event->type != DestroyNotify) return;
  int index = indexOf(clientData);
  if (index < 0) return;
  Tcl_Interp *app = consoleSlots[index].appInterp;
  if (!app || interpOfEvent(event) != app) return;
  if (getStdioInterp() == app) setStdioInterp(nullptr);
  consoleSlots[index].appInterp = nullptr;
  if (index > 0) deleteConsoleInterp(app);
  else closeAllConsoles(0xffff);
}

void watchWindow(Tcl_Interp *interp, Tk_EventProc *proc, int index) {
  if (Tk_Window main = mainWindowOf(interp))
    Tk_CreateEventHandler(main, StructureNotifyMask, proc, indexData(index));
}

void unwatchWindow(Tcl_Interp *interp, Tk_EventProc *proc, int index) {
  if (Tk_Window main = mainWindowOf(interp))
    Tk_DeleteEventHandler(main, StructureNotifyMask, proc, indexData(index));
}

/*
 * Evaluates the words of a pair command in the other interpreter with a
 * chosen stdio interpreter, both interpreters held.  The stdio
 * interpreter is put back afterwards unless it was deleted meanwhile.
 */
enum class PairEval { merge, concat, record };

int evalInPartner(Tcl_Interp *caller, Tcl_Interp *target, Tcl_Interp *stdio, PairEval how,
                  int argc, const char *argv[]) {
  Tcl_Preserve(caller);
  Tcl_Preserve(target);
  Tcl_Interp *old = setStdioInterp(stdio);
  if (old) Tcl_Preserve(old);

  int code;
  if (how == PairEval::record && argc == 2) {
    code = Tcl_RecordAndEval(target, argv[1], TCL_EVAL_GLOBAL);
  } else {
    char *script = how == PairEval::merge ? Tcl_Merge(argc - 1, argv + 1)
                                          : Tcl_Concat(argc - 1, argv + 1);
    code = how == PairEval::record ? Tcl_RecordAndEval(target, script, TCL_EVAL_GLOBAL)
                                   : evalGlobal(target, script);
    Tcl_Free(script);
  }

  const bool bothAlive = !Tcl_InterpDeleted(caller) && !Tcl_InterpDeleted(target);
  if (target != caller && bothAlive) {
    if (how == PairEval::record) {
      Tcl_AppendResult(caller, Tcl_GetStringResult(target), nullptr);
    } else {
      Tcl_SetObjResult(caller, Tcl_GetObjResult(target));
      if (how == PairEval::merge) Tcl_ResetResult(target);
    }
  }

  setStdioInterp(old && !Tcl_InterpDeleted(old) ? old : nullptr);
  if (old) Tcl_Release(old);
  Tcl_Release(target);
  Tcl_Release(caller);
  return code;
}

/*
 * conTkCmd --
 *     "console" and "conTk" in an application interpreter: evaluates the
 *     words, as a list, in the slot's console interpreter.
 */
int conTkCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (Tcl_InterpDeleted(interp)) return TCL_OK;
  int index = indexOf(clientData);
  Tcl_Interp *target = index < 0 ? nullptr : consoleSlots[index].consoleInterp;
  if (!usable(target)) {
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  return evalInPartner(interp, target, target, PairEval::merge, argc, argv);
}

/*
 * conAppCmd, conAppRecCmd --
 *     "conApp" and "conAppRec" in a console interpreter: evaluate the
 *     words in the slot's application interpreter, with the console as
 *     the stdio interpreter meanwhile.  "conAppRec" enters the command
 *     into the application's history.
 */
int conAppCommon(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[],
                 PairEval how) {
  if (Tcl_InterpDeleted(interp)) return TCL_OK;
  int index = indexOf(clientData);
  Tcl_Interp *target = index < 0 ? nullptr : consoleSlots[index].appInterp;
  if (!usable(target)) {
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  return evalInPartner(interp, target, interp, how, argc, argv);
}

int conAppCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  return conAppCommon(clientData, interp, argc, argv, PairEval::concat);
}

int conAppRecCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  return conAppCommon(clientData, interp, argc, argv, PairEval::record);
}

/*
 * setConStdIOCmd --
 *     "setConStdIO": the calling console becomes the stdio interpreter.
 */
int setConStdIOCmd(ClientData, Tcl_Interp *interp, int, const char *[]) {
  if (interp != getStdioInterp() && !Tcl_InterpDeleted(interp)) {
    meterReset();
    setStdioInterp(interp);
  }
  return TCL_OK;
}

/* Both sides of a slot are held by a teardown while it runs. */
void preserveSlots(ConsoleSlot *copy) {
  for (int i = 0; i < kConsoleSlotCount; i++) {
    copy[i] = consoleSlots[i];
    if (copy[i].appInterp) Tcl_Preserve(copy[i].appInterp);
    if (copy[i].consoleInterp) Tcl_Preserve(copy[i].consoleInterp);
  }
}

void releaseSlots(const ConsoleSlot *copy) {
  for (int i = kConsoleSlotCount - 1; i >= 0; i--) {
    if (copy[i].consoleInterp) Tcl_Release(copy[i].consoleInterp);
    if (copy[i].appInterp) Tcl_Release(copy[i].appInterp);
  }
}

/* Puts back what Tk starting in another interpreter dropped (setTkStartedHook). */
void (*tkStartedHook)() = nullptr;

void runTkStartedHook() {
  if (tkStartedHook) tkStartedHook();
}

}  // namespace

void setTkStartedHook(void (*hook)()) { tkStartedHook = hook; }

ConsoleSlot *getConsoleSlots() { return consoleSlots; }

int findConsoleSlot(Tcl_Interp *interp) {
  for (int i = 0; i < kConsoleSlotCount; i++) {
    if (interp && (consoleSlots[i].appInterp == interp || consoleSlots[i].consoleInterp == interp))
      return i;
  }
  return kConsoleSlotCount;
}

ConsoleSlotHold::ConsoleSlotHold() { preserveSlots(held_); }
ConsoleSlotHold::~ConsoleSlotHold() { releaseSlots(held_); }

void countInterpDeletion() {
  changeInterpDeletionCount(1);
  Tcl_CreateTimerHandler(500, decrementDeletionCount, nullptr);
}

void clearConsoleApp(int index) {
  if (index >= 0 && index < kConsoleSlotCount) consoleSlots[index].appInterp = nullptr;
}

void createSetConStdIO(Tcl_Interp *consoleInterp) {
  Tcl_CreateCommand(consoleInterp, "setConStdIO", setConStdIOCmd, nullptr, nullptr);
}

/*
 * initTclTk --
 *     Tcl_Init and Tk's own initialisation on a new interpreter, results
 *     ignored.  Tk is already in the process, so loading it again only
 *     runs its init procedure in the new interpreter.  Tk starting in
 *     another interpreter drops the thread's generic event handlers, so
 *     the hook puts back those that the other subsystems keep.
 */
int initTclTk(Tcl_Interp *interp) {
  Tcl_Init(interp);
  if (Tcl_EvalEx(interp, "load {} Tk", -1, TCL_EVAL_GLOBAL) != TCL_OK)
    Tcl_EvalEx(interp, "package require Tk", -1, TCL_EVAL_GLOBAL);
  Tcl_ResetResult(interp);
  runTkStartedHook();
  return 0;
}

/*
 * initConsoleManager --
 *     Makes an interpreter a console host (or a new application
 *     interpreter): the console-manager "vesk", once per process the slots,
 *     the console channels and their exit handler, then the command
 *     families and the application's script libraries.
 */
int initConsoleManager(Tcl_Interp *interp) {
  Tk_Window main = Tk_MainWindow(interp);
  if (!main) return TCL_ERROR;
  Tk_MakeWindowExist(main);
  if (!Tcl_CreateCommand(interp, "vesk", veskConsoleCmd, consoleSlots, nullptr)) return TCL_ERROR;
  if (!consoleManagerReady) {
    for (ConsoleSlot &slot : consoleSlots) slot = ConsoleSlot{};
    createConsoleChannels(interp);
    Tcl_CreateExitHandler(consoleExitHandler, nullptr);
    consoleManagerReady = 1;
  }
  return initApp(interp);
}

/*
 * createConsoleInterp --
 *     Makes the console interpreter of a slot: Tk, the command families,
 *     the pair commands, its title and the console script libraries.
 * Results:      the interpreter, or NULL with "Fail to load veskConScripts:"
 *               and the console's error appended to the parent's result.
 */
Tcl_Interp *createConsoleInterp(Tcl_Interp *parent, int index) {
  Tcl_Interp *con = Tcl_CreateInterp();
  initTclTk(con);
  if (Tk_Window main = mainWindowOf(con)) Tk_MakeWindowExist(main);
  registerCommands(con);
  Tcl_ResetResult(con);
  setHomeVars(parent, con);

  Tcl_CreateCommand(con, "vesk", veskConsoleCmd, consoleSlots, nullptr);
  createSetConStdIO(con);
  Tcl_CreateCommand(con, "conApp", conAppCmd, indexData(index), nullptr);
  Tcl_CreateCommand(con, "conAppRec", conAppRecCmd, indexData(index), nullptr);
  watchWindow(con, consoleWindowEventProc, index);

  if (const char *version = Tcl_GetVar2(con, "tk_version", nullptr, TCL_GLOBAL_ONLY)) {
    std::string title = fmt("wm title . {Tk%s Vesk Console # %i}", version, index);
    evalGlobal(con, title.c_str());
  } else {
    evalGlobal(con, fmt("wm title . {Tk Vesk Console # %i}", index));
  }
  evalGlobal(con, "proc hide {} {wm withdraw .}");
  evalGlobal(con, "proc show {} {wm deiconify .}");
  evalGlobal(con, "proc title titleName {wm title . $titleName}");
  Tcl_ResetResult(con);

  if (loadScriptLibraries(con, "veskConScripts") == TCL_OK) {
    Tcl_ResetResult(con);
    runTkStartedHook();
    return con;
  }
  Tcl_AppendResult(parent, "Fail to load veskConScripts:", Tcl_GetStringResult(con), "\n",
                   nullptr);
  unwatchWindow(con, consoleWindowEventProc, index);
  Tcl_Preserve(con);
  destroyMainWindow(con);
  Tcl_DeleteInterp(con);
  Tcl_Release(con);
  return nullptr;
}

/*
 * conInit --
 *     Attaches an interpreter (create 0) or creates a new application
 *     interpreter (create non-zero) and gives it a console interpreter.
 *     An interpreter attached from no slot takes slot 0; one attached
 *     again gets a fresh console in place of its old one.
 * Results:      TCL_OK, or TCL_ERROR with "Too many consoles" or
 *               "Error in conInit" in the interpreter's result.
 */
int conInit(ConsoleSlot *slots, Tcl_Interp *interp, int create) {
  Tcl_Interp *lookFor = create ? nullptr : interp;
  int index = -1;
  for (int i = 0; i < kConsoleSlotCount; i++) {
    if (slots[i].appInterp == lookFor) {
      index = i;
      break;
    }
  }
  if (index < 0 && create) {
    Tcl_SetResult(interp, const_cast<char *>("Too many consoles"), TCL_STATIC);
    return TCL_ERROR;
  }
  Tcl_Interp *app;
  if (create) {
    app = Tcl_CreateInterp();
    initTclTk(app);
    setHomeVars(interp, app);
    initConsoleManager(app);
    Tcl_ResetResult(app);
    Tcl_CreateCommand(app, "conTk", conTkCmd, indexData(index), nullptr);
    Tcl_CreateCommand(app, "console", conTkCmd, indexData(index), nullptr);
    watchWindow(app, appWindowEventProc, index);
    slots[index].appInterp = app;
    Tcl_SetVar2(app, "tcl_interactive", nullptr, "1", TCL_GLOBAL_ONLY);
  } else if (index < 0) {
    index = 0;
    app = interp;
    Tcl_CreateCommand(app, "console", conTkCmd, indexData(index), nullptr);
    Tcl_CreateCommand(app, "conTk", conTkCmd, indexData(index), nullptr);
    watchWindow(app, appWindowEventProc, index);
    slots[index].appInterp = app;
  } else {
    app = interp;
    if (Tcl_Interp *old = slots[index].consoleInterp) {
      slots[index].consoleInterp = nullptr;
      unwatchWindow(old, consoleWindowEventProc, index);
      destroyMainWindow(old);
      tclUpdate(nullptr, kWindowAndIdleEvents);
      Tcl_Preserve(old);
      Tcl_CreateTimerHandler(128, deleteInterpLater, old);
    }
  }

  if (usable(app)) {
    Tcl_Preserve(app);
    Tcl_InterpState state = Tcl_SaveInterpState(app, TCL_OK);
    evalGlobal(app, fmt("wm title . {Tk Main # %i}", index));
    if (Tcl_InterpDeleted(app)) Tcl_DiscardInterpState(state);
    else Tcl_RestoreInterpState(app, state);
    Tcl_Release(app);
  }
  if (!slots[index].consoleInterp) slots[index].consoleInterp = createConsoleInterp(interp, index);
  if (slots[index].consoleInterp) return TCL_OK;
  Tcl_AppendResult(interp, "Error in conInit", nullptr);
  return TCL_ERROR;
}

/*
 * deleteConsoleInterp --
 *     Deletes one interpreter of a pair (its main window first) and finds
 *     another console to be the stdio interpreter.  Console output is
 *     silent for 500 ms afterwards.
 */
void deleteConsoleInterp(Tcl_Interp *interp) {
  changeInterpDeletionCount(1);
  if (getStdioInterp() == interp) setStdioInterp(nullptr);
  if (!Tcl_InterpDeleted(interp)) {
    Tcl_Preserve(interp);
    destroyMainWindow(interp);
    if (!Tcl_InterpDeleted(interp)) Tcl_DeleteInterp(interp);
    Tcl_Release(interp);
  }
  if (!getStdioInterp()) {
    for (const ConsoleSlot &slot : consoleSlots) {
      Tcl_Interp *con = slot.consoleInterp;
      if (con && con != interp && !Tcl_InterpDeleted(con)) {
        setStdioInterp(con);
        break;
      }
    }
  }
  Tcl_CreateTimerHandler(500, decrementDeletionCount, nullptr);
}

/*
 * closeAllConsoles --
 *     The full teardown: services pending events of the given kinds, then
 *     destroys every window of every pair and deletes the interpreters of
 *     slots 1 to 15.  The host's own interpreter (slot 0) stays.
 */
void closeAllConsoles(int eventFlags) {
  closeConsoleThread(true);
  if (!consoleManagerReady) return;
  ConsoleSlot held[kConsoleSlotCount];
  preserveSlots(held);
  tclUpdate(nullptr, eventFlags);
  setStdioInterp(nullptr);
  for (int i = kConsoleSlotCount - 1; i >= 0; i--) {
    destroyMainWindow(consoleSlots[i].appInterp);
    destroyMainWindow(consoleSlots[i].consoleInterp);
    if (i == 0) continue;
    Tcl_Interp *app = consoleSlots[i].appInterp;
    Tcl_Interp *con = consoleSlots[i].consoleInterp;
    consoleSlots[i] = ConsoleSlot{};
    if (app) deleteConsoleInterp(app);
    if (con) deleteConsoleInterp(con);
  }
  consoleManagerReady = 0;
  releaseSlots(held);
}

/*
 * closeAllConsoleWindows --
 *     Destroys every console window; the window events then delete the
 *     console interpreters.  Application interpreters stay.
 */
void closeAllConsoleWindows(int eventFlags) {
  closeConsoleThread(false);
  ConsoleSlot held[kConsoleSlotCount];
  preserveSlots(held);
  tclUpdate(nullptr, eventFlags);
  setStdioInterp(nullptr);
  for (int i = kConsoleSlotCount - 1; i >= 0; i--) destroyMainWindow(consoleSlots[i].consoleInterp);
  releaseSlots(held);
}

void closeAllConsolesLater(ClientData flags) {
  closeAllConsoles(static_cast<int>(reinterpret_cast<intptr_t>(flags)));
}

void closeAllConsoleWindowsLater(ClientData flags) {
  closeAllConsoleWindows(static_cast<int>(reinterpret_cast<intptr_t>(flags)));
}

}  // namespace vesk
