/*
 * conchannel.cpp --
 *     The channel type "console" and its channels console0, console1 and
 *     console2, which make the process's standard input, output and error
 *     read from and write to the console of the stdio interpreter.  The
 *     standard channels they replace are kept and put back at exit.
 */
#include <stdint.h>

#include "core/console.h"
#include "core/core.h"
#include "core/families.h"
#include "vesk/stdio.h"

namespace {

int consoleCloseProc(ClientData instanceData, Tcl_Interp *interp);
int consoleInputProc(ClientData instanceData, char *buffer, int size, int *errorCode);
int consoleOutputProc(ClientData instanceData, const char *buffer, int count, int *errorCode);
void consoleWatchProc(ClientData instanceData, int mask);
int consoleGetHandleProc(ClientData instanceData, int direction, ClientData *handle);

/* The instance data of a console channel is its stream code (2, 4 or 8). */
Tcl_ChannelType consoleChannelType = {
    const_cast<char *>("console"),
    TCL_CHANNEL_VERSION_5,
    consoleCloseProc,
    consoleInputProc,
    consoleOutputProc,
    nullptr,  /* seek */
    nullptr,  /* set option */
    nullptr,  /* get option */
    consoleWatchProc,
    consoleGetHandleProc,
    nullptr,  /* close2 */
    nullptr,  /* block mode */
    nullptr,  /* flush */
    nullptr,  /* handler */
    nullptr,  /* wide seek */
    nullptr,  /* thread action */
    nullptr,  /* truncate */
};

/*
 * One standard channel taken over by a console channel: ours, the standard
 * channel it replaced (held until it is put back), and a channel of the
 * same name that had to leave the interpreter (held until exit).
 */
struct StdChannelSlot {
  int tclType;
  int stream;
  const char *name;
  int mask;
  Tcl_Channel ours = nullptr;
  Tcl_Channel saved = nullptr;
  Tcl_Channel displaced = nullptr;
};
StdChannelSlot stdSlots[] = {
    {TCL_STDIN, VESK_STDIN, "console0", TCL_READABLE},
    {TCL_STDOUT, VESK_STDOUT, "console1", TCL_WRITABLE},
    {TCL_STDERR, VESK_STDERR, "console2", TCL_WRITABLE},
};

StdChannelSlot *slotOfStream(int stream) {
  for (StdChannelSlot &slot : stdSlots)
    if (slot.stream == stream) return &slot;
  return nullptr;
}

int streamOf(ClientData instanceData) {
  return static_cast<int>(reinterpret_cast<intptr_t>(instanceData));
}

int consoleCloseProc(ClientData, Tcl_Interp *) {
  return 0;
}

/*
 * consoleInputProc --
 *     One console line, cut to the buffer; the rest comes with the next
 *     call.  Reached again from inside the console's own input script, it
 *     answers end of input rather than asking the console again.
 * Results:      the bytes stored; 0 means end of input.
 */
int consoleInputProc(ClientData, char *buffer, int size, int *errorCode) {
  *errorCode = 0;
  if (vesk::consoleReadActive()) return 0;
  int n = vesk::readConsoleLine(buffer, size);
  return n < 0 ? 0 : n;
}

/*
 * consoleOutputProc --
 *     Writes to the console with the channel's stream code.  Reached again
 *     from inside the console's own output script, it writes to the
 *     standard channel it replaced (or drops the text when there was none).
 * Results:      the count, always.
 */
int consoleOutputProc(ClientData instanceData, const char *buffer, int count, int *errorCode) {
  *errorCode = 0;
  int stream = streamOf(instanceData);
  if (vesk::consoleWriteActive()) {
    StdChannelSlot *slot = slotOfStream(stream);
    if (Tcl_Channel previous = slot ? slot->saved : nullptr) {
      Tcl_Write(previous, buffer, count);
      Tcl_Flush(previous);
    }
    return count;
  }
  consolePuts(stream, buffer, count);
  return count;
}

void consoleWatchProc(ClientData, int) {}

int consoleGetHandleProc(ClientData, int, ClientData *) {
  return TCL_ERROR;
}

/* Finds a channel by name in an interpreter without touching its result. */
Tcl_Channel findChannel(Tcl_Interp *interp, const char *name) {
  if (!interp) return nullptr;
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  Tcl_Channel channel = Tcl_GetChannel(interp, name, nullptr);
  Tcl_RestoreInterpState(interp, state);
  return channel;
}

/*
 * installConsoleChannel --
 *     Makes the slot's console channel the standard channel of its kind
 *     and registers it in the interpreter.  The first time (and again after
 *     a restore), it creates the channel and keeps the standard channel it
 *     replaces; a channel of the same name leaves the interpreter.
 * Results:      the channel, or NULL when it could not be created.
 */
Tcl_Channel installConsoleChannel(Tcl_Interp *interp, StdChannelSlot &slot, bool verbose) {
  if (slot.ours) {
    /* Installed already: another interpreter only needs to see it. */
    if (interp && !findChannel(interp, slot.name)) Tcl_RegisterChannel(interp, slot.ours);
    return slot.ours;
  }
  Tcl_Channel existing = findChannel(interp, slot.name);
  if (verbose) {
    if (existing && slot.tclType == TCL_STDIN) vesk_printf("modify %s...\n", slot.name);
    else if (!existing) vesk_printf("create %s...\n", slot.name);
  }
  Tcl_Channel channel = Tcl_CreateChannel(&consoleChannelType, slot.name,
                                          reinterpret_cast<ClientData>(intptr_t{slot.stream}),
                                          slot.mask);
  if (!channel) {
    if (verbose) vesk_printf("fail to create %s...\n", slot.name);
    return nullptr;
  }
  Tcl_SetChannelOption(nullptr, channel, "-translation", "lf");
  Tcl_SetChannelOption(nullptr, channel, "-buffering", "none");
  Tcl_SetChannelOption(nullptr, channel, "-encoding", "utf-8");

  Tcl_Channel previous = Tcl_GetStdChannel(slot.tclType);
  if (previous) Tcl_RegisterChannel(nullptr, previous);
  slot.saved = previous;
  Tcl_SetStdChannel(channel, slot.tclType);
  Tcl_RegisterChannel(nullptr, channel);
  slot.ours = channel;
  if (existing) {
    /* Held, so that leaving the interpreter does not close it. */
    if (existing != previous) {
      Tcl_RegisterChannel(nullptr, existing);
      slot.displaced = existing;
    }
    Tcl_UnregisterChannel(interp, existing);
  }
  if (interp) Tcl_RegisterChannel(interp, channel);
  return channel;
}

/* Puts the replaced standard channel back and lets go of ours. */
void restoreStdChannel(StdChannelSlot &slot) {
  if (!slot.ours) return;
  if (slot.saved) {
    Tcl_SetStdChannel(slot.saved, slot.tclType);
    Tcl_UnregisterChannel(nullptr, slot.saved);
    Tcl_UnregisterChannel(nullptr, slot.ours);
    slot.ours = nullptr;
    slot.saved = nullptr;
  }
  if (slot.displaced) {
    Tcl_UnregisterChannel(nullptr, slot.displaced);
    slot.displaced = nullptr;
  }
}

}  // namespace

namespace vesk {

bool stdChannelIsConsole(int stream, Tcl_Channel *previous) {
  StdChannelSlot *slot = slotOfStream(stream);
  *previous = nullptr;
  if (!slot || !slot->ours || Tcl_GetStdChannel(slot->tclType) != slot->ours) return false;
  *previous = slot->saved;
  return true;
}

/*
 * createConsoleChannels --
 *     Makes console0, console1 and console2 the standard input, output and
 *     error channels and registers them in the interpreter.
 * Results:      1 when there is a standard error channel at the end, else 0.
 * Side effects: prints what it does on the console (seen only when a stdio
 *               interpreter exists).
 */
int createConsoleChannels(Tcl_Interp *interp) {
  vesk_printf("create channels...\n");
  for (StdChannelSlot &slot : stdSlots) installConsoleChannel(interp, slot, true);
  return Tcl_GetStdChannel(TCL_STDERR) ? 1 : 0;
}

void hookStdChannels(Tcl_Interp *interp) {
  for (StdChannelSlot &slot : stdSlots) installConsoleChannel(interp, slot, false);
}

/*
 * hookStdinToConsole --
 *     Reads the process's standard input from the console: console0
 *     becomes the standard input channel when there is one.
 */
void hookStdinToConsole(Tcl_Interp *interp) {
  if (!Tcl_GetStdChannel(TCL_STDIN)) return;
  installConsoleChannel(interp, stdSlots[0], false);
}

/*
 * restoreConsoleChannelProcs --
 *     Puts the standard output, error and input channels that the console
 *     channels replaced back, in that order.
 */
void restoreConsoleChannelProcs() {
  restoreStdChannel(stdSlots[1]);
  restoreStdChannel(stdSlots[2]);
  restoreStdChannel(stdSlots[0]);
}

/*
 * consoleExitHandler --
 *     Clears the stdio interpreter and puts the replaced standard channels
 *     back.
 */
void consoleExitHandler(ClientData) {
  setStdioInterp(nullptr);
  discardConsoleInput();
  restoreConsoleChannelProcs();
}

}  // namespace vesk
