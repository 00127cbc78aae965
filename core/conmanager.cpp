/*
 * conmanager.cpp --
 *     The console manager: the command "vesk" of a console host, of its
 *     console interpreters and of the application interpreters it creates.
 *     It creates, attaches, lists, evaluates in, closes and deletes
 *     interpreter pairs, and holds the settings native code reads while it
 *     works (debug flag, meter step, run status, unblock flag).
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/core.h"
#include "core/families.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Every event kind, the flags of the teardown timers. */
constexpr intptr_t kAllEventKinds = -3;
/* The delay of "close all" and "delete all". */
constexpr int kTeardownDelay = 512;

constexpr const char *kCommandList =
    "Commands: attach create close debug delete eval gimg identify list meter status unblock "
    "version";

/*
 * The console thread: "vesk thread" asks for a new pair to be created
 * from an idle callback (the main loop builds it), and holds that request
 * until asked again, the way a thread handle is held until closed.
 */
struct ConsoleThread {
  bool held = false;
  int flag = 0;
  std::vector<Tcl_Interp *> pending; /* interpreters of idle calls not run yet, held */
};
ConsoleThread consoleThreadState;

/* True when word is a prefix of name at least minimum characters long. */
bool matchesWord(const char *word, const char *name, size_t minimum) {
  size_t length = strlen(word);
  return length >= minimum && strncmp(word, name, length) == 0;
}

/* A whole decimal number, or false. */
bool parseSlotNumber(const char *word, long *value) {
  char *end;
  *value = strtol(word, &end, 10);
  return end != word && *end == 0;
}

void setUsage(Tcl_Interp *interp, const char *a, const char *b = nullptr,
              const char *c = nullptr) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "Usage: ", a, b ? " " : "", b ? b : "", c ? " " : "", c ? c : "",
                   nullptr);
}

void setIntResult(Tcl_Interp *interp, long value) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(fmt("%ld", value), -1));
}

/*
 * consoleThread --
 *     Idle procedure of "vesk thread": creates a new pair for the
 *     interpreter that asked.  Errors stay in that interpreter's result.
 */
void consoleThread(ClientData clientData) {
  Tcl_Interp *interp = static_cast<Tcl_Interp *>(clientData);
  std::vector<Tcl_Interp *> &pending = consoleThreadState.pending;
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if (*it == interp) {
      pending.erase(it);
      break;
    }
  }
  if (!Tcl_InterpDeleted(interp)) {
    ConsoleSlotHold hold;
    conInit(getConsoleSlots(), interp, 1);
  }
  Tcl_Release(interp);
}

/* ---- subcommands ---- */

int createSub(Tcl_Interp *interp, int argc, const char *argv[]) {
  ConsoleSlot *slots = getConsoleSlots();
  if (argc == 2) return conInit(slots, interp, 1);
  const char *kind = argv[2];
  bool known = strcmp(kind, "tclsh") == 0 || strcmp(kind, "wish") == 0 ||
               strcmp(kind, "vesksh") == 0;
  if (argc > 3 || !known) {
    setUsage(interp, argv[0], "create [tclsh|wish|vesksh]");
    return TCL_OK;
  }
  int index = 0;
  while (index < kConsoleSlotCount && slots[index].appInterp) index++;
  if (index == kConsoleSlotCount) {
    Tcl_SetResult(interp, const_cast<char *>("No free slots"), TCL_STATIC);
    return TCL_ERROR;
  }
  Tcl_Interp *child = Tcl_CreateInterp();
  slots[index].appInterp = child;
  int code = TCL_OK;
  if (kind[0] == 't') {
    code = Tcl_Init(child);
  } else {
    initTclTk(child);
    if (kind[0] == 'v') {
      setHomeVars(interp, child);
      code = initConsoleManager(child);
    }
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, fmt("%s interp %d\n", kind, index), Tcl_GetStringResult(child),
                   nullptr);
  return code;
}

/* The slot a word names for close and delete: 0..15, else -1. */
int slotOfWord(Tcl_Interp *interp, const char *word) {
  if (strcmp(word, ".") == 0) {
    int index = findConsoleSlot(interp);
    return index < kConsoleSlotCount ? index : -1;
  }
  long value;
  if (!parseSlotNumber(word, &value) || value < 0 || value >= kConsoleSlotCount) return -1;
  return static_cast<int>(value);
}

int closeSub(Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) {
    setUsage(interp, argv[0], argv[1], "id0 id1 ...");
    return TCL_OK;
  }
  ConsoleSlot *slots = getConsoleSlots();
  for (int i = 2; i < argc; i++) {
    if (strcasecmp(argv[i], "all") == 0) {
      Tcl_CreateTimerHandler(kTeardownDelay, closeAllConsoleWindowsLater,
                             reinterpret_cast<ClientData>(kAllEventKinds));
      break;
    }
    int index = slotOfWord(interp, argv[i]);
    if (index < 0) continue;
    Tcl_Interp *con = slots[index].consoleInterp;
    if (con && !Tcl_InterpDeleted(con)) {
      Tcl_InterpState state = Tcl_SaveInterpState(con, TCL_OK);
      Tk_Window main = Tk_MainWindow(con);
      Tcl_RestoreInterpState(con, state);
      if (main) Tk_DestroyWindow(main);
    }
  }
  return TCL_OK;
}

void deletePair(int index) {
  ConsoleSlot *slots = getConsoleSlots();
  Tcl_Interp *app = slots[index].appInterp;
  Tcl_Interp *con = slots[index].consoleInterp;
  slots[index] = ConsoleSlot{};
  if (app) deleteConsoleInterp(app);
  if (con) deleteConsoleInterp(con);
}

int deleteSub(Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) {
    setUsage(interp, argv[0], argv[1], "id0 id1 ...");
    return TCL_OK;
  }
  for (int i = 2; i < argc; i++) {
    const char *word = argv[i];
    int index = slotOfWord(interp, word);
    bool dot = strcmp(word, ".") == 0;
    if (strcasecmp(word, "all") == 0 || index == 0) {
      Tcl_CreateTimerHandler(kTeardownDelay, closeAllConsolesLater,
                             reinterpret_cast<ClientData>(kAllEventKinds));
      break;
    }
    if (index < 0) continue;
    if (dot) countInterpDeletion();
    deletePair(index);
  }
  return TCL_OK;
}

int debugSub(Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) {
    setIntResult(interp, getDebugFlag());
    return TCL_OK;
  }
  if (argc == 3) {
    setDebugFlag(atol(argv[2]) != 0);
    return TCL_OK;
  }
  Tcl_AppendResult(interp, argv[0], " ", argv[1], " debugmode", nullptr);
  return TCL_ERROR;
}

int evalSub(Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc != 4) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(fmt("Usage: %s eval id scripts", argv[0]), -1));
    return TCL_OK;
  }
  long index;
  ConsoleSlot *slots = getConsoleSlots();
  Tcl_Interp *target = nullptr;
  if (parseSlotNumber(argv[2], &index) && index >= 0 && index < kConsoleSlotCount)
    target = slots[index].appInterp;
  if (!target || Tcl_InterpDeleted(target)) {
    Tcl_SetResult(interp, const_cast<char *>("Invalid interp ID.\n"), TCL_STATIC);
    return TCL_ERROR;
  }
  Tcl_Preserve(interp);
  Tcl_Preserve(target);
  int code = Tcl_EvalEx(target, argv[3], -1, 0);
  if (target != interp && !Tcl_InterpDeleted(interp) && !Tcl_InterpDeleted(target))
    Tcl_SetObjResult(interp, Tcl_GetObjResult(target));
  Tcl_Release(target);
  Tcl_Release(interp);
  return code;
}

/*
 * listSub --
 *     One line per slot on the console: the address of each side in
 *     decimal and in hexadecimal and whether it is being deleted.
 */
int listSub(Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc > 2) {
    setUsage(interp, argv[0], argv[1]);
    return TCL_OK;
  }
  const ConsoleSlot *slots = getConsoleSlots();
  for (int i = 0; i < kConsoleSlotCount; i++) {
    uintptr_t app = reinterpret_cast<uintptr_t>(slots[i].appInterp);
    uintptr_t con = reinterpret_cast<uintptr_t>(slots[i].consoleInterp);
    int appDeleted = slots[i].appInterp ? (Tcl_InterpDeleted(slots[i].appInterp) ? 1 : 0) : 0;
    int conDeleted =
        slots[i].consoleInterp ? (Tcl_InterpDeleted(slots[i].consoleInterp) ? 1 : 0) : 0;
    vesk_printf("id:%2d app:%08ju 0x%08jx deleted:%d con:%08ju 0x%08jx deleted:%d\n", i,
                static_cast<uintmax_t>(app), static_cast<uintmax_t>(app), appDeleted,
                static_cast<uintmax_t>(con), static_cast<uintmax_t>(con), conDeleted);
  }
  return TCL_OK;
}

int identifySub(Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc > 2) {
    setUsage(interp, argv[0], argv[1]);
    return TCL_OK;
  }
  setIntResult(interp, findConsoleSlot(interp));
  return TCL_OK;
}

int meterSub(Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(fmt("%f", static_cast<double>(getMeterStep())), -1));
  } else if (argc == 3) {
    /* A text that is not a number reads as 0. */
    setMeterStep(strtod(argv[2], nullptr));
  }
  return TCL_OK;
}

int threadSub(Tcl_Interp *interp) {
  ConsoleThread &thread = consoleThreadState;
  thread.flag = 1;
  if (!thread.held) {
    Tcl_Preserve(interp);
    thread.pending.push_back(interp);
    Tcl_DoWhenIdle(consoleThread, interp);
    thread.held = true;
    Tcl_AppendResult(interp, fmt("Thread start with flag: %d.\n", thread.flag), nullptr);
  } else {
    thread.flag = 0;
    thread.held = false;
    Tcl_AppendResult(interp, fmt("Thread closed with flag: %d.\n", thread.flag), nullptr);
  }
  return TCL_OK;
}

int unblockSub(Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) setIntResult(interp, getUnblockFlag());
  else if (argc == 3) setUnblockFlag(static_cast<int>(atol(argv[2])));
  return TCL_OK;
}

int statusSub(Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 2) setIntResult(interp, getRunStatus());
  else if (argc == 3) setRunStatus(atol(argv[2]));
  return TCL_OK;
}

/* Anything else is a script for the calling interpreter. */
int evalWords(Tcl_Interp *interp, int argc, const char *argv[]) {
  char *script = Tcl_Concat(argc - 1, argv + 1);
  int code = Tcl_EvalEx(interp, script, -1, 0);
  Tcl_Free(script);
  return code;
}

/* The subcommand a word names, by its first letter, in the table's order. */
enum class Sub {
  none, create, close, deleteSub, debug, eval, attach, list, identify, meter, gimg, thread,
  unblock, stdio, status, tflag, version, unmatchedD
};

Sub findSub(const char *word) {
  struct Entry {
    const char *name;
    size_t minimum;
    Sub sub;
  };
  static const Entry table[] = {
      {"create", 3, Sub::create},     {"close", 3, Sub::close},   {"delete", 3, Sub::deleteSub},
      {"debug", 3, Sub::debug},       {"eval", 3, Sub::eval},     {"attach", 3, Sub::attach},
      {"list", 3, Sub::list},         {"identify", 2, Sub::identify}, {"meter", 3, Sub::meter},
      {"gimg", 3, Sub::gimg},         {"thread", 3, Sub::thread}, {"unblock", 4, Sub::unblock},
      {"stdio", 3, Sub::stdio},       {"status", 3, Sub::status}, {"tflag", 3, Sub::tflag},
      {"version", 3, Sub::version},
  };
  for (const Entry &entry : table) {
    if (entry.name[0] == word[0] && matchesWord(word, entry.name, entry.minimum))
      return entry.sub;
  }
  /* A d-word long enough to be delete or debug but neither is refused. */
  if (word[0] == 'd' && strlen(word) >= 3) return Sub::unmatchedD;
  return Sub::none;
}

}  // namespace

/*
 * veskConsoleCmd --
 *     "vesk" in a console host.  Every interpreter of the slot table is
 *     held while a subcommand runs.  A word that names no subcommand is
 *     evaluated, with the words after it, in the calling interpreter.
 */
int veskConsoleCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 2) {
    Tcl_SetResult(interp, const_cast<char *>(kCommandList), TCL_STATIC);
    return TCL_OK;
  }
  ConsoleSlotHold hold;
  switch (findSub(argv[1])) {
  case Sub::create: return createSub(interp, argc, argv);
  case Sub::close: return closeSub(interp, argc, argv);
  case Sub::deleteSub: return deleteSub(interp, argc, argv);
  case Sub::debug: return debugSub(interp, argc, argv);
  case Sub::eval: return evalSub(interp, argc, argv);
  case Sub::attach:
    if (argc > 2) {
      setUsage(interp, argv[0], "attach");
      return TCL_OK;
    }
    return conInit(getConsoleSlots(), interp, 0);
  case Sub::list: return listSub(interp, argc, argv);
  case Sub::identify: return identifySub(interp, argc, argv);
  case Sub::meter: return meterSub(interp, argc, argv);
  case Sub::gimg:
    gimgNames(interp);
    return TCL_OK;
  case Sub::thread: return threadSub(interp);
  case Sub::unblock: return unblockSub(interp, argc, argv);
  case Sub::stdio:
    hookStdChannels(interp);
    return TCL_OK;
  case Sub::status: return statusSub(interp, argc, argv);
  case Sub::tflag:
    Tcl_SetObjResult(interp,
                     Tcl_NewStringObj(fmt("ThreadFlag: %d\n", consoleThreadState.flag), -1));
    return TCL_OK;
  case Sub::version:
    Tcl_SetResult(interp, const_cast<char *>(kPackageVersion), TCL_STATIC);
    return TCL_OK;
  case Sub::unmatchedD:
    Tcl_SetResult(interp, const_cast<char *>(kCommandList), TCL_STATIC);
    return TCL_ERROR;
  case Sub::none: break;
  }
  return evalWords(interp, argc, argv);
}

/*
 * closeConsoleThread --
 *     Forgets the console thread request.  The full teardown also cancels
 *     a creation that has not run yet: no pair is made after everything
 *     has gone.
 */
void closeConsoleThread(bool cancelPending) {
  consoleThreadState.held = false;
  if (!cancelPending) return;
  std::vector<Tcl_Interp *> pending;
  pending.swap(consoleThreadState.pending);
  for (Tcl_Interp *interp : pending) Tcl_CancelIdleCall(consoleThread, interp);
  for (Tcl_Interp *interp : pending) Tcl_Release(interp);
}

}  // namespace vesk
