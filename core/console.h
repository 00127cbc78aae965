/*
 * console.h --
 *     Private interface between the standard streams, the "console"
 *     channels and the console windows: the channel set-up and teardown,
 *     the console cursor and clear procedures, and the deletion counter
 *     that silences output while an interpreter goes away.
 */
#ifndef VESK_CORE_CONSOLE_H
#define VESK_CORE_CONSOLE_H

#include <stdio.h>
#include <tcl.h>

namespace vesk {

/* ---- console channels (conchannel.cpp) ---- */

/*
 * Makes console0/1/2 the standard input, output and error channels and
 * registers them in the interpreter; the previous standard channels are
 * kept for consoleExitHandler.  Prints what it does.  1 when a standard
 * error channel exists at the end, else 0.
 */
int createConsoleChannels(Tcl_Interp *interp);
/* The same, silently: the "stdio" subcommand of the console manager. */
void hookStdChannels(Tcl_Interp *interp);
/* Puts back the standard channels the console channels replaced. */
void restoreConsoleChannelProcs();
/* Tcl exit handler: clears the stdio interpreter, restores the channels. */
void consoleExitHandler(ClientData clientData);
/*
 * True when the standard channel of a stream code is a console channel, so
 * that an ordinary shell's "puts stdout" or "gets stdin" would come back to
 * the console; *previous is then the channel it replaced (NULL when none).
 */
bool stdChannelIsConsole(int stream, Tcl_Channel *previous);

/* ---- console primitives (stdio.cpp) ---- */

/*
 * One console line cut to size-1 bytes and NUL-terminated; the rest stays
 * for the next read.  The bytes stored, or -1 when there is no line.
 */
int readConsoleLine(char *buffer, int size);

/* Forgets console input that a short read left over. */
void discardConsoleInput();

/* consolePuts to stream 8 for the standard error FILE, else to stream 4. */
int consolePutsToFile(FILE *file, const char *text, int length);

/* Evaluate "tkConsoleXY x y" and "clear" in the stdio interpreter. */
void gotoConsoleXY(int x, int y);
void clearConsole();

/*
 * Interpreter deletions in progress: while above 0, console output is
 * dropped.  The console windows add one per deletion and take it away
 * 500 ms later; the count never goes below 0.
 */
int getInterpDeletionCount();
void changeInterpDeletionCount(int delta);

/*
 * True while console output or input is being evaluated in the stdio
 * interpreter: a console channel reached from inside that evaluation must
 * not call back into it.
 */
/* Standard output of a long native run (one line a point) gathered into
   large writes: the same bytes, and anything for stderr writes what was
   gathered first.  Only while puts is Tcl's own; nests. */
void beginOutputBatch();
void endOutputBatch();
struct OutputBatchScope {
  OutputBatchScope() { beginOutputBatch(); }
  ~OutputBatchScope() { endOutputBatch(); }
  OutputBatchScope(const OutputBatchScope &) = delete;
  OutputBatchScope &operator=(const OutputBatchScope &) = delete;
};

bool consoleWriteActive();
bool consoleReadActive();


/* ---- console windows (consoles.cpp) ---- */

/*
 * One console slot: an application interpreter and the console
 * interpreter whose window serves it.  A slot is free while its
 * application interpreter is NULL; slot 0 belongs to the host.
 */
struct ConsoleSlot {
  Tcl_Interp *consoleInterp = nullptr;
  Tcl_Interp *appInterp = nullptr;
};
inline constexpr int kConsoleSlotCount = 16;

/* The slot table, the client data of every console-manager "vesk". */
ConsoleSlot *getConsoleSlots();
/* The first slot that holds the interpreter on either side, else 16. */
int findConsoleSlot(Tcl_Interp *interp);

/*
 * Holds every interpreter of the slot table (Tcl_Preserve) while it
 * lives, so that deletions in nested event processing cannot free an
 * interpreter still in use.  A copy of the table is kept per hold, so
 * holds may nest.
 */
class ConsoleSlotHold {
 public:
  ConsoleSlotHold();
  ~ConsoleSlotHold();
  ConsoleSlotHold(const ConsoleSlotHold &) = delete;
  ConsoleSlotHold &operator=(const ConsoleSlotHold &) = delete;

 private:
  ConsoleSlot held_[kConsoleSlotCount];
};

/* Attaches (create 0) or creates (create non-zero) an interpreter pair. */
int conInit(ConsoleSlot *slots, Tcl_Interp *interp, int create);
Tcl_Interp *createConsoleInterp(Tcl_Interp *parent, int index);
int initTclTk(Tcl_Interp *interp);
/*
 * Tk starting in a console's interpreter drops the thread's generic event
 * handlers.  A subsystem that keeps one sets the procedure that puts it
 * back, run after each such start; NULL for none.
 */
void setTkStartedHook(void (*hook)());
void deleteConsoleInterp(Tcl_Interp *interp);
void closeAllConsoleWindows(int eventFlags);
/* Timer procedures: the teardowns above with all event kinds. */
void closeAllConsolesLater(ClientData flags);
void closeAllConsoleWindowsLater(ClientData flags);
/* Adds one interpreter deletion that a 500 ms timer takes away again. */
void countInterpDeletion();
/* Clears the application side of a slot (any index is safe). */
void clearConsoleApp(int index);

/* ---- the console-manager command (conmanager.cpp) ---- */

/* "vesk" in a console host; its client data is the slot table. */
int veskConsoleCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]);
/* Forgets the console thread; a pending creation is cancelled when asked. */
void closeConsoleThread(bool cancelPending);

}  // namespace vesk

#endif
