/*
 * popup.cpp --
 *     Two classes that show a borderless toplevel next to another window:
 *     the pull-down list (an entry whose arrow drops a scrolled list and
 *     grabs while it is open) and the pop-up window, posted at an anchor
 *     around a reference window, at a screen position or centred.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "vesk/stdio.h"
#include "widgets/comb.h"
#include "widgets/combcmds.h"

namespace vesk {
namespace {

/* The anchors of popup.post, in their table order. */
enum PopupAnchor { ANCHOR_NW, ANCHOR_NE, ANCHOR_SW, ANCHOR_SE, ANCHOR_N, ANCHOR_S, ANCHOR_W,
                   ANCHOR_E, ANCHOR_C };
struct AnchorName {
  const char *name;
  PopupAnchor anchor;
};
constexpr AnchorName kAnchors[] = {
    {"northwest", ANCHOR_NW}, {"nw", ANCHOR_NW}, {"northeast", ANCHOR_NE}, {"ne", ANCHOR_NE},
    {"southwest", ANCHOR_SW}, {"sw", ANCHOR_SW}, {"southeast", ANCHOR_SE}, {"se", ANCHOR_SE},
    {"north", ANCHOR_N},      {"n", ANCHOR_N},   {"south", ANCHOR_S},     {"s", ANCHOR_S},
    {"west", ANCHOR_W},       {"w", ANCHOR_W},   {"east", ANCHOR_E},      {"e", ANCHOR_E},
    {"center", ANCHOR_C},     {"c", ANCHOR_C},
};
static_assert(sizeof kAnchors / sizeof kAnchors[0] == 18, "eighteen anchor names");

/* Prints "error: " and errorInfo, the way the pop-up classes report an abort. */
void printError(Tcl_Interp *interp) {
  const char *info = Tcl_GetVar(interp, "errorInfo", TCL_GLOBAL_ONLY);
  vesk_printf("error: %s\n", info ? info : Tcl_GetStringResult(interp));
}

/* A window's size: the shown one once mapped, else the one it asks for. */
void windowSize(CombCalls &calls, const std::string &path, long &width, long &height) {
  bool mapped = atoi(calls.call({"winfo", "ismapped", path}).c_str()) != 0;
  width = atol(calls.call({"winfo", mapped ? "width" : "reqwidth", path}).c_str());
  height = atol(calls.call({"winfo", mapped ? "height" : "reqheight", path}).c_str());
}

}  // namespace

/*
 * pdlCreateCmd --
 *     pdl.create w ?option value ...?: the entry and its arrow button, and
 *     the withdrawn list toplevel.
 */
int pdlCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    vesk_printf("usage: %s w args\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1];
  if (!checkCombPath(Tk_MainWindow(interp), interp, w, true)) {
    addErrorInfoFormatted(interp, "\ninvalid path: %s\n", w);
    return TCL_ERROR;
  }
  /* The arrow's image first: the class is declared only after it. */
  if (combGuard(interp, [&] {
        CombCalls calls(interp);
        calls.call({"_image.get", "downarro.bmp", "downarro.bmp", "bitmap"});
        return TCL_OK;
      }) != TCL_OK) {
    printError(interp);
    return TCL_ERROR;
  }
  int code = combBeginCreate(clientData, interp, argc, argv,
                             {"usage: %s w args\n",
                              "pdl",
                              {"cf-items", "", "cf-ent", "", "cf-btn", "", "cf-list", "", "cf-scrb",
                               "", "cf-label", ""}});
  if (code != TCL_OK) return code;
  code = combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string entry = std::string(w) + ".entry", button = std::string(w) + ".btn";
    std::string right = std::string(w) + ".r";
    combSetKey(interp, combKey(w, "-ent"), entry.c_str());
    combSetKey(interp, combKey(w, "-btn"), button.c_str());
    combSetKey(interp, combKey(w, "wr"), right.c_str());
    calls.cached(COMB_FRAME, {"frame", w, "-bd", "1", "-relief", "sunken"});
    combBindFree(&calls.abort, interp, w);
    std::string label = combOption(interp, w, "-label");
    if (!label.empty()) {
      std::string path = std::string(w) + ".label";
      combSetKey(interp, combKey(w, "-label"), path.c_str());
      calls.spliced({combWord("label"), combWord(path), combSplice(label)});
      calls.cached(COMB_PACK, {"pack", path, "-side", "left"});
    }
    calls.spliced({combWord("entry"), combWord(entry), combSplice("-bd 1 -highlightthickness 1"),
                   combSplice(combOption(interp, w, "-ent"))});
    calls.spliced({combWord("button"), combWord(button),
                   combSplice("-width 14 -height 14 -bd 1 -image downarro.bmp"),
                   combWord("-command"), combWord(combList({"pdl.openList", w})),
                   combSplice(combOption(interp, w, "-btn"))});
    calls.cached(COMB_FRAME, {"frame", right});
    calls.cached(COMB_PACK, {"pack", entry, "-side", "left", "-fill", "x", "-expand", "1", "-pady",
                             "1", "-padx", "2"});
    calls.cached(COMB_PACK, {"pack", button, right, "-side", "left"});
    calls.proc(pdlCreateListCmd, {"pdl.createList", w});
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w, -1));
    return TCL_OK;
  });
  if (code != TCL_OK) {
    printError(interp);
    combDestroyPath(interp, w);
  }
  return code;
}

/*
 * pdlCreateListCmd --
 *     pdl.createList w: the withdrawn, borderless list toplevel "w.f" with
 *     its listbox, scrollbar and bindings.
 */
int pdlCreateListCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    vesk_printf("usage: %s w\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1];
  std::string top = std::string(w) + ".f", list = top + ".list", scroll = top + ".scroll";
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    combSetKey(interp, combKey(w, "wf"), top.c_str());
    combSetKey(interp, combKey(w, "-list"), list.c_str());
    combSetKey(interp, combKey(w, "-scrb"), scroll.c_str());
    calls.cached(COMB_TOPLEVEL, {"toplevel", top, "-width", "200", "-relief", "raise", "-bd", "1",
                                 "-highlightthickness", "0"});
    calls.cached(COMB_WM, {"wm", "transient", top});
    calls.cached(COMB_WM, {"wm", "overrideredirect", top, "1"});
    calls.cached(COMB_WM, {"wm", "withdraw", top});
    calls.spliced({combWord("listbox"), combWord(list), combSplice("-height 5 -bd 1 -relief flat"),
                   combWord("-yscrollcomm"), combWord(combList({scroll, "set"})),
                   combSplice(combOption(interp, w, "-list"))});
    calls.spliced({combWord("scrollbar"), combWord(scroll), combSplice("-bd 1"), combWord("-command"),
                   combWord(combList({list, "yview"})), combSplice(combOption(interp, w, "-scrb"))});
    calls.cached(COMB_PACK, {"pack", scroll, "-side", "right", "-fill", "y", "-padx", "1", "-pady", "2"});
    calls.cached(COMB_PACK, {"pack", list, "-side", "left", "-fill", "both", "-expand", "1", "-padx",
                             "2", "-pady", "2"});
    std::string items = combOption(interp, w, "-items");
    if (!items.empty())
      calls.spliced({combWord(list), combWord("insert"), combWord("end"), combSplice(items)});
    combUnsetKey(interp, combKey(w, "cf-items"));
    calls.bind(list, "<ButtonRelease-1>", combBindScript({"pdl.selList", w}) + " %x %y");
    calls.bind(list, "<Double-Button-1>", combBindScript({"pdl.closeList", w}));
    calls.bind(w, "<ButtonRelease-1>", combBindScript({"pdl.abort", w}));
    calls.bind(scroll, "<ButtonRelease-1>",
               combBindScript({"grab", "release", w}) + "; " +
                   combBindScript({"after", "idle", "grab", "-global", w}));
    Tcl_ResetResult(interp);
    return TCL_OK;
  });
}

/*
 * pdlOpenListCmd --
 *     pdl.openList w: shows the list right under w and grabs globally,
 *     keeping how to restore the grab held before under "w,grab".
 */
int pdlOpenListCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    vesk_printf("usage: %s w\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1];
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    const char *topKey = combGetKey(interp, combKey(w, "wf"));
    const char *buttonKey = combGetKey(interp, combKey(w, "-btn"));
    std::string top = topKey ? topKey : std::string(w) + ".f";
    std::string button = buttonKey ? buttonKey : std::string(w) + ".btn";
    calls.call({"_image.get", "uparrow.bmp", "uparrow.bmp", "bitmap"});
    calls.call({button, "config", "-image", "uparrow.bmp", "-command", combList({"pdl.closeList", w})});
    calls.cached(COMB_WM, {"wm", "geom", top, "+32767+0"});
    calls.cached(COMB_WM, {"wm", "deiconify", top});
    long listWidth, listHeight, width, height;
    windowSize(calls, top, listWidth, listHeight);
    windowSize(calls, w, width, height);
    long x = atol(calls.call({"winfo", "rootx", w}).c_str());
    long y = atol(calls.call({"winfo", "rooty", w}).c_str()) + height;
    calls.cached(COMB_WM, {"wm", "geom", top,
                           std::to_string(width) + "x" + std::to_string(listHeight) + "+" +
                               std::to_string(x) + "+" + std::to_string(y)});
    tclUpdate(interp, TCL_ALL_EVENTS);
    calls.cached(COMB_RAISE, {"raise", top});

    std::string holder = calls.cached(COMB_GRAB, {"grab", "current", w});
    std::string restore;
    if (!holder.empty()) {
      std::string status = calls.cached(COMB_GRAB, {"grab", "status", holder});
      restore = status == "local" ? combList({"grab", holder}) : combList({"grab", "-global", holder});
    }
    combSetKey(interp, combKey(w, "grab"), restore.c_str());
    calls.cached(COMB_GRAB, {"grab", "-global", w});
    Tcl_ResetResult(interp);
    return TCL_OK;
  });
}

/*
 * popupCreateCmd --
 *     popup.create w ?-pop options?: a withdrawn, borderless toplevel.
 */
int popupCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  int code = combBeginCreate(clientData, interp, argc, argv,
                             {"Usage: %s w\n", "pop", {"cf-pop", "", "-pop", ""}});
  if (code != TCL_OK) return code;
  const char *w = argv[1];
  code = combGuard(interp, [&] {
    CombCalls calls(interp);
    calls.spliced({combWord("toplevel"), combWord(w), combSplice("-width 0 -height 1"),
                   combSplice(combOption(interp, w, "-pop"))});
    calls.cached(COMB_WM, {"wm", "withdraw", w});
    calls.cached(COMB_WM, {"wm", "overrideredirect", w, "1"});
    combBindFree(&calls.abort, interp, w);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w, -1));
    return TCL_OK;
  });
  if (code != TCL_OK) {
    printError(interp);
    combDestroyPath(interp, w);
  }
  return code;
}

/* popup.add w id creator ?opts?: an item inside the pop-up. */
int popupAddCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 4) {
    vesk_printf("usage: %s w id opts\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1], *id = argv[2], *creator = argv[3];
  const char *opts = argc > 4 ? argv[4] : "";
  if (!checkNewItem(Tk_MainWindow(interp), interp, w, "pop", id, "popup.add")) return TCL_ERROR;
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string path = std::string(w) + "." + (id + 1);
    combSetKey(interp, combKey(w, id), path.c_str());
    combSetKey(interp, combKey(w, (std::string("cf") + id).c_str()), opts);
    calls.spliced({combSplice(creator), combWord(path), combSplice(opts)});
    calls.bind(path, "<Destroy>", "+" + combBindScript({"popup.freeItem", w, id}));
    Tcl_SetObjResult(interp, Tcl_NewStringObj(path.c_str(), -1));
    return TCL_OK;
  });
}

/*
 * popupPostCmd --
 *     popup.post w ref ?anchor?: shows the pop-up at an anchor around the
 *     window ref, centred on the screen (ref "center") or at "x y".
 */
int popupPostCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4) {
    vesk_printf("usage: %s w ref\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1], *ref = argv[2];
  Tk_Window mainWindow = Tk_MainWindow(interp);
  if (!isWidgetOfClass(mainWindow, interp, w, "pop")) {
    vesk_printf("%s is not a popup\n", w);
    return TCL_ERROR;
  }
  PopupAnchor anchor = ANCHOR_NW;
  if (argc == 4) {
    const AnchorName *found = nullptr;
    for (const AnchorName &entry : kAnchors)
      if (compareNoCase(entry.name, argv[3]) == 0) found = &entry;
    if (!found) {
      vesk_printf("Unknow anchor type: %s", argv[3]);
      return TCL_ERROR;
    }
    anchor = found->anchor;
  }
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    calls.cached(COMB_RAISE, {"raise", w});
    calls.cached(COMB_WM, {"wm", "deiconify", w});
    long wP, hP;
    windowSize(calls, w, wP, hP);
    long x = 0, y = 0;
    if (combWindow(mainWindow, ref)) {
      long X = atol(calls.call({"winfo", "rootx", ref}).c_str());
      long Y = atol(calls.call({"winfo", "rooty", ref}).c_str());
      long wR, hR;
      windowSize(calls, ref, wR, hR);
      switch (anchor) {
      case ANCHOR_NW: y = Y - hP; x = X; break;
      case ANCHOR_NE: y = Y - hP; x = X - (wP - wR); break;
      case ANCHOR_SW: y = Y + hR; x = X; break;
      case ANCHOR_SE: y = Y + hR; x = X - (wP - wR); break;
      case ANCHOR_N: y = Y - hP; x = X + (wR - wP) / 2; break;
      case ANCHOR_S: y = Y + hR; x = X + (wR - wP) / 2; break;
      case ANCHOR_W: y = Y + (hR - hP) / 2; x = X - wP; break;
      case ANCHOR_E: y = Y + (hR - hP) / 2; x = X + wR; break;
      case ANCHOR_C: y = Y + (hR - hP) / 2; x = X - (wP - wR) / 2; break;
      }
    } else if (strcmp(ref, "center") == 0) {
      long sw = atol(calls.call({"winfo", "screenwidth", "."}).c_str());
      long sh = atol(calls.call({"winfo", "screenheight", "."}).c_str());
      x = sw / 2 - wP / 2;
      y = sh / 2 - hP / 2;
    } else {
      int px = 0, py = 0;
      sscanf(ref, "%d %d", &px, &py);
      x = px;
      y = py;
    }
    calls.cached(COMB_WM, {"wm", "geom", w, "+" + std::to_string(x) + "+" + std::to_string(y)});
    Tcl_ResetResult(interp);
    return TCL_OK;
  });
}

/* popup.hide w: withdraws the pop-up. */
int popupHideCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    vesk_printf("Usage: %s path\n", argv[0]);
    return TCL_ERROR;
  }
  if (!isWidgetOfClass(Tk_MainWindow(interp), interp, argv[1], "pop")) {
    vesk_printf("%s is not a popup\n", argv[1]);
    return TCL_ERROR;
  }
  const char *words[] = {"wm", "withdraw", argv[1]};
  return callCachedCommand(interp, COMB_WM, 3, words);
}

}  // namespace vesk
