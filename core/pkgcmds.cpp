/*
 * pkgcmds.cpp --
 *     The package form of "vesk" and the small commands "vesk.selection",
 *     "vesk.listconcat" and "winmsg".
 */
#include <string.h>
#include <string>

#include "core/core.h"
#include "core/families.h"

namespace vesk {
namespace {

int winmsgLoopActive = 0;

/* True when word is a prefix of name at least minimum characters long. */
bool matchesWord(const char *word, const char *name, size_t minimum) {
  size_t length = strlen(word);
  return length >= minimum && strncmp(word, name, length) == 0;
}

void setUsage(Tcl_Interp *interp, const char *command, const char *syntax) {
  Tcl_AppendResult(interp, "Usage: ", command, " ", syntax, nullptr);
}

/* Collects the first portion of a selection; later portions are ignored. */
struct SelectionProbe {
  bool received = false;
  bool nonEmpty = false;
};

int selectionProbeProc(ClientData clientData, Tcl_Interp *, const char *portion) {
  SelectionProbe *probe = static_cast<SelectionProbe *>(clientData);
  if (!probe->received) {
    probe->received = true;
    probe->nonEmpty = portion && portion[0] != 0;
  }
  return TCL_OK;
}

/* Asks for a selection in one target: 1 or 0 by its first portion, -1 when refused. */
int probeSelection(Tcl_Interp *interp, Tk_Window main, const char *selection,
                   const char *target) {
  SelectionProbe probe;
  int code = Tk_GetSelection(interp, main, Tk_InternAtom(main, selection),
                             Tk_InternAtom(main, target), selectionProbeProc, &probe);
  Tcl_ResetResult(interp);
  if (code != TCL_OK) return -1;
  return probe.nonEmpty ? 1 : 0;
}

}  // namespace

/*
 * veskCmd --
 *     The package form of "vesk": debug, gimg, identify and version.
 */
int veskCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc >= 2) {
    const char *word = argv[1];
    switch (word[0]) {
    case 'g':
      if (matchesWord(word, "gimg", 3)) {
        gimgNames(interp);
        return TCL_OK;
      }
      break;
    case 'd':
      if (matchesWord(word, "debug", 3) && argc <= 3) {
        if (argc == 2) {
          Tcl_SetObjResult(interp, Tcl_NewIntObj(getDebugFlag()));
          return TCL_OK;
        }
        int value;
        if (Tcl_GetInt(interp, argv[2], &value) != TCL_OK) return TCL_ERROR;
        setDebugFlag(value != 0);
        return TCL_OK;
      }
      break;
    case 'i':
      if (matchesWord(word, "identify", 2)) {
        Tcl_SetResult(interp, const_cast<char *>("0"), TCL_STATIC);
        return TCL_OK;
      }
      break;
    case 'v':
      if (matchesWord(word, "version", 3)) {
        Tcl_SetResult(interp, const_cast<char *>(kPackageVersion), TCL_STATIC);
        return TCL_OK;
      }
      break;
    }
  }
  Tcl_SetResult(interp, const_cast<char *>("Commands: debug gimg identify version"), TCL_STATIC);
  return TCL_ERROR;
}

/*
 * veskSelectionCmd --
 *     Whether a selection holds text: "1" when its first portion is not
 *     empty, "0" when it is, "-1" when it does not exist as text.  The
 *     clipboard is the X CLIPBOARD selection, read as STRING and else as
 *     UTF8_STRING, and never answers -1.
 */
int veskSelectionCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc != 2) {
    setUsage(interp, argv[0], "selection");
    return TCL_ERROR;
  }
  Tk_Window main = Tk_MainWindow(interp);
  if (!main) {
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  int answer;
  if (strcmp(argv[1], "CLIPBOARD") == 0) {
    answer = probeSelection(interp, main, "CLIPBOARD", "STRING");
    if (answer < 0) answer = probeSelection(interp, main, "CLIPBOARD", "UTF8_STRING");
    if (answer < 0) answer = 0;
  } else {
    answer = probeSelection(interp, main, argv[1], "STRING");
  }
  Tcl_SetObjResult(interp, Tcl_NewIntObj(answer));
  return TCL_OK;
}

/*
 * veskListconcatCmd --
 *     The elements of a list joined with nothing between them.
 */
int veskListconcatCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc != 2) {
    setUsage(interp, argv[0], "list");
    return TCL_ERROR;
  }
  int count;
  const char **elements;
  if (Tcl_SplitList(nullptr, argv[1], &count, &elements) != TCL_OK) {
    Tcl_SetResult(interp, const_cast<char *>("Error in slipt list"), TCL_STATIC);
    return TCL_ERROR;
  }
  std::string joined;
  for (int i = 0; i < count; i++) joined += elements[i];
  Tcl_Free(reinterpret_cast<char *>(elements));
  Tcl_SetObjResult(interp, Tcl_NewStringObj(joined.data(), static_cast<int>(joined.size())));
  return TCL_OK;
}

/*
 * winmsgCmd --
 *     "winmsg" reports whether the event loop runs; "winmsg 1" runs it,
 *     counting events, until "winmsg 0" clears the flag.
 */
int winmsgCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 2) {
    Tcl_SetObjResult(interp, Tcl_NewIntObj(winmsgLoopActive));
    return TCL_OK;
  }
  int run;
  if (Tcl_GetInt(interp, argv[1], &run) != TCL_OK) return TCL_ERROR;
  if (!run) {
    winmsgLoopActive = 0;
    return TCL_OK;
  }
  if (winmsgLoopActive) return TCL_OK;
  winmsgLoopActive = 1;
  long count = 0;
  Tcl_Preserve(interp);
  while (winmsgLoopActive && !Tcl_InterpDeleted(interp)) {
    if (Tcl_DoOneEvent(TCL_ALL_EVENTS)) count++;
  }
  Tcl_Release(interp);
  winmsgLoopActive = 0;
  Tcl_SetObjResult(interp,
                   Tcl_ObjPrintf("Exit Window's message loop: %ld messages recorded...", count));
  return TCL_OK;
}

void winmsgCmdDeleted(ClientData) {
  winmsgLoopActive = 0;
}

}  // namespace vesk
