/*
 * folder.cpp --
 *     The folder: a tabbed notebook on a canvas.  Each page is a frame in a
 *     canvas window item, each tab a polygon, two lines and a text on the
 *     same canvas; a bar below holds an information label and buttons.
 */
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vesk/stdio.h"
#include "widgets/comb.h"
#include "widgets/combcmds.h"

namespace vesk {
namespace {

constexpr const char *kFoldFont = "-*-Helvetica-bold-r-normal-*-*-140-*-*-*-*-*";

std::string foldCanvas(Tcl_Interp *interp, const char *w) {
  const char *canvas = combGetKey(interp, combKey(w, "canv"));
  return canvas ? canvas : std::string(w) + ".canv";
}

std::vector<std::string> foldList(Tcl_Interp *interp, const char *w, const char *name) {
  std::vector<std::string> items;
  const char *text = combGetKey(interp, combKey(w, name));
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  combSplitList(interp, text ? text : "", items);
  Tcl_RestoreInterpState(interp, state);
  return items;
}

void appendListElement(Tcl_Interp *interp, const char *w, const char *name,
                       const std::string &element) {
  Tcl_SetVar2(interp, kCombArray, combKey(w, name).c_str(), element.c_str(),
              TCL_GLOBAL_ONLY | TCL_APPEND_VALUE | TCL_LIST_ELEMENT);
}

/* The page frame of the first label that matches the pattern, or "". */
std::string findPage(Tcl_Interp *interp, const char *w, const char *pattern) {
  std::vector<std::string> labels = foldList(interp, w, "labels");
  std::vector<std::string> pids = foldList(interp, w, "pid");
  for (size_t i = 0; i < labels.size() && i < pids.size(); i++) {
    if (!Tcl_StringMatch(labels[i].c_str(), pattern)) continue;
    const char *page = combGetKey(interp, combKey(w, ("-" + pids[i]).c_str()));
    return page ? page : "";
  }
  return "";
}

bool getInts(Tcl_Interp *interp, const char **words, int count, int *out) {
  for (int i = 0; i < count; i++)
    if (Tcl_GetInt(interp, words[i], &out[i]) != TCL_OK) return false;
  return true;
}

/* Adds an item to a page frame (fold.addItem and fold.addFoldItem). */
int addPageItem(Tcl_Interp *interp, const char *page, const char *id, const char *creator,
                const char *opts, const char *name) {
  if (!checkNewItem(Tk_MainWindow(interp), interp, page, "page", id, name)) return TCL_ERROR;
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string path = std::string(page) + "." + (id + 1);
    combSetKey(interp, combKey(page, id), path.c_str());
    combSetKey(interp, combKey(page, (std::string("cf") + id).c_str()), opts);
    calls.spliced({combSplice(creator), combWord(path), combSplice(opts)});
    calls.bind(path, "<Destroy>", "+" + combBindScript({"fold.freeItem", page, id}));
    Tcl_SetObjResult(interp, Tcl_NewStringObj(path.c_str(), -1));
    return TCL_OK;
  });
}

}  // namespace

/*
 * foldCreateCmd --
 *     fold.create w ?option value ...?: the folder with its canvas, the
 *     information bar with its buttons, and one page a label.
 */
int foldCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  int code = combBeginCreate(
      clientData, interp, argc, argv,
      {"usage: %s w\n",
       "fold",
       {"cf-page", "12", "cf-labels", "", "cf-fwidth", "280", "cf-fheight", "256", "cf-fclr",
        "black", "cf-bclr", "gray50", "cf-x", "1", "cf-y", "4", "cf-dy", "22", "cf-dx", "80",
        "cf-maxdx", "128", "cf-wx", "10", "cf-wy", "10", "cf-btns", "", "cf-font", kFoldFont,
        "id", "0", "labels", "", "pid", "", "info", ""}});
  if (code != TCL_OK) return code;
  const char *w = argv[1];
  std::string canvas = std::string(w) + ".canv";
  std::string bar = std::string(w) + ".info", label = bar + ".lable";
  code = combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string fwidth = combOption(interp, w, "-fwidth");
    std::string fheight = combOption(interp, w, "-fheight");
    combSetKey(interp, combKey(w, "canv"), canvas.c_str());
    combSetKey(interp, combKey(w, "-info"), bar.c_str());
    combSetKey(interp, combKey(w, "-infoLable"), label.c_str());

    calls.cached(COMB_FRAME, {"frame", w, "-bd", "1", "-width", fwidth, "-height", fheight});
    combBindFree(&calls.abort, interp, w);
    calls.cached(COMB_CANVAS, {"canvas", canvas, "-relief", "flat", "-bd", "1", "-width", fwidth,
                               "-height", fheight, "-bg", "gray50", "-highlightthickness", "0"});
    calls.cached(COMB_FRAME, {"frame", bar, "-height", "10", "-bd", "0"});
    calls.cached(COMB_LABEL, {"label", label, "-text", "", "-textv",
                              std::string(kCombArray) + "(" + combKey(w, "info") + ")"});
    calls.cached(COMB_PACK, {"pack", label, "-side", "left"});
    calls.cached(COMB_PACK, {"pack", bar, "-side", "bottom", "-fill", "x"});
    calls.cached(COMB_PACK, {"pack", canvas, "-side", "top", "-fill", "both", "-expand", "1"});
    calls.bind(canvas, "<Configure>", combBindScript({"fold.winconfig", w}));

    std::vector<std::string> buttons;
    if (!combSplitList(interp, combOption(interp, w, "-btns").c_str(), buttons)) return TCL_ERROR;
    for (size_t k = 0; k < buttons.size(); k++) {
      std::string name = "btn" + std::to_string(k);
      std::string path = bar + "." + name;
      combSetKey(interp, combKey(w, ("cf-" + name).c_str()), buttons[k].c_str());
      combSetKey(interp, combKey(w, ("-" + name).c_str()), path.c_str());
      calls.call({"button", path});
      calls.spliced({combWord(path), combWord("config"), combSplice(buttons[k])});
      calls.cached(COMB_PACK, {"pack", path, "-side", "right", "-padx", "3", "-pady", "5"});
    }
    tclUpdate(interp, TCL_WINDOW_EVENTS | TCL_FILE_EVENTS | TCL_TIMER_EVENTS);

    combSetKey(interp, combKey(w, "top"), "p0");
    std::vector<std::string> labels;
    if (!combSplitList(interp, combOption(interp, w, "-labels").c_str(), labels)) return TCL_ERROR;
    if (labels.empty()) {
      int pages = combIntOption(interp, w, "-page");
      for (int i = 0; i < pages; i++) labels.push_back("p" + std::to_string(i));
      combSetKey(interp, combKey(w, "cf-labels"), combList(labels).c_str());
    } else {
      combSetKey(interp, combKey(w, "cf-page"), std::to_string(labels.size()).c_str());
    }
    for (const std::string &pageLabel : labels) calls.proc(foldAddCmd, {"fold.add", w, pageLabel});
    combSetKey(interp, combKey(w, "redraw"), combList({"fold.winconfig", w}).c_str());
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w, -1));
    return TCL_OK;
  });
  if (code != TCL_OK) combDestroyPath(interp, w);
  return code;
}

/*
 * foldAddCmd --
 *     fold.add w label ?update?: a new page frame shown in a canvas window
 *     item, with its tab bindings; nothing when the label is there.
 */
int foldAddCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4) {
    vesk_printf("usage: %s w label {update}\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1], *label = argv[2];
  if (!isWidgetOfClass(Tk_MainWindow(interp), interp, w, "fold")) {
    vesk_printf("%s is not a fold\n", w);
    return TCL_ERROR;
  }
  std::string existing = findPage(interp, w, label);
  if (!existing.empty()) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(existing.c_str(), -1));
    return TCL_OK;
  }
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string canvas = foldCanvas(interp, w);
    appendListElement(interp, w, "labels", label);
    const char *idText = combGetKey(interp, combKey(w, "id"));
    std::string n = std::to_string(idText ? atoi(idText) : 0);
    std::string pid = "p" + n;

    std::string bg = calls.call({w, "cget", "-bg"});
    std::string page = canvas + ".fp" + n;
    combSetKey(interp, combKey(w, ("cf-p" + n).c_str()), combList({"-bg", bg}).c_str());
    calls.cached(COMB_FRAME, {"frame", page, "-bg", bg});
    combSetKey(interp, combKey(w, ("-p" + n).c_str()), page.c_str());
    calls.bind(page, "<Destroy>", combBindScript({"comb.free", page}));
    combSetKey(interp, combKey(page.c_str(), "class"), "page");

    tclUpdate(interp, TCL_WINDOW_EVENTS | TCL_FILE_EVENTS | TCL_TIMER_EVENTS);
    int x = combIntOption(interp, w, "-x"), y = combIntOption(interp, w, "-y");
    int dy = combIntOption(interp, w, "-dy");
    int wx = combIntOption(interp, w, "-wx"), wy = combIntOption(interp, w, "-wy");
    calls.call({canvas, "create", "window", std::to_string(wx + x), std::to_string(wy + y + dy),
                "-anchor", "nw", "-tags", "wp" + n, "-window", page});

    appendListElement(interp, w, "pid", pid);
    combSetKey(interp, combKey(w, "id"), std::to_string(atoi(n.c_str()) + 1).c_str());
    calls.call({canvas, "bind", pid, "<Button-1>", combBindScript({"fold.page", w, pid})});
    calls.call({canvas, "bind", pid, "<Any-Enter>", combBindScript({"fold.info", w, pid})});
    calls.bind(page, "<Destroy>", "+" + combBindScript({"fold.freePage", w, pid, "update"}));
    if (argc == 4) calls.proc(foldPageCmd, {"fold.page", w});
    Tcl_SetObjResult(interp, Tcl_NewStringObj(page.c_str(), -1));
    return TCL_OK;
  });
}

/* fold.get w label: the page frame of the first matching label, or "". */
int foldGetCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    vesk_printf("usage: %s w label\n", argv[0]);
    return TCL_ERROR;
  }
  if (!isWidgetOfClass(Tk_MainWindow(interp), interp, argv[1], "fold"))
    vesk_printf("%s is not a fold class!\n", argv[1]);
  std::string page = findPage(interp, argv[1], argv[2]);
  Tcl_SetObjResult(interp, Tcl_NewStringObj(page.c_str(), -1));
  return TCL_OK;
}

/* fold.addItem w label itemId creator ?opts?: an item on a labelled page. */
int foldAddItemCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 5 && argc != 6) {
    vesk_printf("usgae: %s w label itemID creator opts\n", argv[0]);
    return TCL_ERROR;
  }
  std::string page = findPage(interp, argv[1], argv[2]);
  if (page.empty()) {
    addErrorInfoFormatted(interp, "fold.addItem - invalid fold label: %s", argv[2]);
    return TCL_ERROR;
  }
  return addPageItem(interp, page.c_str(), argv[3], argv[4], argc == 6 ? argv[5] : "",
                     "fold.addItem");
}

/* fold.addFoldItem page itemId creator ?opts?: an item on a page frame. */
int foldAddFoldItemCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4 && argc != 5) {
    vesk_printf("usgae: %s fid itemID creator opts\n", argv[0]);
    return TCL_ERROR;
  }
  return addPageItem(interp, argv[1], argv[2], argv[3], argc == 5 ? argv[4] : "",
                     "fold.addFoldItem");
}

/*
 * foldDrawCmd --
 *     fold.draw w id x y wd ht offset dx dy ?label?: one tab and the page
 *     outline under it.
 * Results:      the x where the tab's right slope begins.
 */
int foldDrawCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 10 && argc != 11) {
    vesk_printf("usage: %s w id x y wd ht offset dx dy label\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1], *id = argv[2];
  int v[7];
  if (!getInts(interp, argv + 3, 7, v)) return TCL_ERROR;
  const long X = v[0], y = v[1], wd = v[2], ht = v[3], o = v[4], d = v[5], dy = v[6];
  const long yb = y + dy;
  const char *label = argc == 11 ? argv[10] : id;
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string canvas = foldCanvas(interp, w);
    std::string bg = calls.call({w, "cget", "-bg"});
    auto s = [](long value) { return std::to_string(value); };
    calls.call({canvas, "create", "polygon", s(X), s(yb), s(std::max(X + o - 2, X)), s(yb),
                s(X + o), s(yb - 2), s(X + o), s(y + 2), s(X + o + 2), s(y), s(X + o + d - 2),
                s(y), s(X + o + d), s(y + 2), s(X + o + d), s(yb - 2), s(X + o + d + 2), s(yb),
                s(X + wd), s(yb), s(X + wd), s(yb + ht), s(X), s(yb + ht), s(X), s(yb), "-fill",
                bg, "-outline", "white", "-tags", id});
    calls.call({canvas, "addtag", "fold", "withtag", id});
    std::string tags = combList({id, "fold"});
    calls.call({canvas, "create", "line", s(X + wd), s(yb), s(X + wd), s(yb + ht), s(X),
                s(yb + ht), "-fill", "black", "-tags", tags});
    calls.call({canvas, "create", "line", s(X + o + d - 2), s(y), s(X + o + d), s(y + 2),
                s(X + o + d), s(yb - 2), s(X + o + d + 2), s(yb), "-fill", "black", "-tags",
                tags});
    const char *top = combGetKey(interp, combKey(w, "top"));
    bool isTop = top && strcmp(top, id) == 0;
    calls.call({canvas, "create", "text", s(X + o + 6), s(y + 2), "-anchor", "nw", "-text", label,
                "-font", combOption(interp, w, "-font"), "-tags", tags, "-fill",
                combOption(interp, w, isTop ? "-fclr" : "-bclr")});
    Tcl_SetObjResult(interp, Tcl_NewLongObj(X + o + d - 2));
    return TCL_OK;
  });
}

/*
 * foldPageCmd --
 *     fold.page w ?id?: lays every tab out again and brings page id (the
 *     top page by default) to the front.
 */
int foldPageCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2 && argc != 3) {
    vesk_printf("usage: %s w id\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1];
  std::vector<std::string> pids = foldList(interp, w, "pid");
  if (pids.empty()) {
    vesk_printf("No pages to draw\n");
    return TCL_ERROR;
  }
  const char *topText = combGetKey(interp, combKey(w, "top"));
  std::string id = argc == 3 ? argv[2] : (topText ? topText : "");
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string canvas = foldCanvas(interp, w);
    calls.call({canvas, "delete", "fold"});
    int W = atoi(calls.call({"winfo", "width", canvas}).c_str());
    int H = atoi(calls.call({"winfo", "height", canvas}).c_str());
    long x = combIntOption(interp, w, "-x"), y = combIntOption(interp, w, "-y");
    long dx = combIntOption(interp, w, "-dx"), dy = combIntOption(interp, w, "-dy");
    long maxdx = combIntOption(interp, w, "-maxdx");
    long width = W - 2 * x, height = H - 2 * x;
    long n = static_cast<long>(pids.size());
    long step = (W - 2 * x - dx) / n;
    long tab = step < dx ? dx : (step > maxdx ? maxdx : step);
    tab -= 2;
    long offset = 5;
    combSetKey(interp, combKey(w, "top"), id.c_str());
    std::vector<std::string> labels = foldList(interp, w, "labels");
    auto s = [](long value) { return std::to_string(value); };
    for (size_t i = 0; i < pids.size(); i++) {
      bool isTop = pids[i] == id;
      std::vector<std::string> words = {"fold.draw", w, pids[i], s(x), s(isTop ? y + 4 : y),
                                        s(width), s(height), s(offset), s(tab),
                                        s(isTop ? dy - 4 : dy)};
      if (i < labels.size()) words.push_back(labels[i]);
      long answer = atol(calls.proc(foldDrawCmd, words).c_str());
      offset = std::min(offset + step, answer);
    }
    calls.call({canvas, "raise", id});
    if (const char *page = combGetKey(interp, combKey(w, ("-" + id).c_str())))
      calls.cached(COMB_RAISE, {"raise", page});
    Tcl_ResetResult(interp);
    return TCL_OK;
  });
}

}  // namespace vesk
