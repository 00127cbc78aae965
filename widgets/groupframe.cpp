/*
 * groupframe.cpp --
 *     The group frame and the button group: a grooved frame with a caption
 *     label set into its top edge, holding arbitrary items or a column or
 *     row of radio and check buttons.
 */
#include <string.h>

#include <string>
#include <vector>

#include "vesk/stdio.h"
#include "widgets/comb.h"
#include "widgets/combcmds.h"

namespace vesk {
namespace {

/* True when word is a beginning of full (the empty word included). */
bool isPrefixOf(const std::string &word, const char *full) {
  return strncmp(word.c_str(), full, word.size()) == 0 && word.size() <= strlen(full);
}

}  // namespace

/*
 * frmCreateCmd --
 *     frm.create w ?option value ...?: the caption label, the grooved
 *     frame and the inner frame that holds the items.
 */
int frmCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  int code = combBeginCreate(clientData, interp, argc, argv,
                             {"usage: %s w\n", "frm", {"cf-frm", "", "cf-label", "", "cf-pad", "-bd 6"}});
  if (code != TCL_OK) return code;
  const char *w = argv[1];
  std::string label = std::string(w) + ".label", groove = std::string(w) + ".f";
  std::string spacer = std::string(w) + ".f1", inner = groove + ".f";
  code = combGuard(interp, [&] {
    CombCalls calls(interp);
    calls.cached(COMB_FRAME, {"frame", w});
    combBindFree(&calls.abort, interp, w);
    combSetKey(interp, combKey(w, "-label"), label.c_str());
    combSetKey(interp, combKey(w, "-frm"), groove.c_str());
    calls.cached(COMB_FRAME, {"frame", spacer, "-height", "8"});
    calls.cached(COMB_PACK, {"pack", spacer, "-fill", "x", "-side", "top"});
    calls.spliced({combWord("label"), combWord(label), combWord("-text"), combWord("Frame"),
                   combSplice(combOption(interp, w, "-label")), combSplice("-pady 0 -bd 0")});
    calls.cached(COMB_PLACE, {"place", label, "-x", "10"});
    calls.spliced({combWord("frame"), combWord(groove),
                   combSplice("-relief groove -bd 2 -width 128 -height 64"),
                   combSplice(combOption(interp, w, "-frm"))});
    calls.cached(COMB_PACK, {"pack", groove, "-fill", "both", "-expand", "1", "-side", "top"});
    combSetKey(interp, combKey(w, "-pad"), inner.c_str());
    calls.spliced({combWord("frame"), combWord(inner), combSplice(combOption(interp, w, "-pad"))});
    calls.cached(COMB_PACK, {"pack", inner, "-fill", "both", "-expand", "1"});
    calls.cached(COMB_LOWER, {"lower", groove});
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w, -1));
    return TCL_OK;
  });
  if (code != TCL_OK) combDestroyPath(interp, w);
  return code;
}

/* frm.add w id creator ?opts?: an item in the inner frame. */
int frmAddCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 4) {
    vesk_printf("usage: %s w id opts\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1], *id = argv[2], *creator = argv[3];
  const char *opts = argc > 4 ? argv[4] : "";
  if (!checkNewItem(Tk_MainWindow(interp), interp, w, "frm", id, "frm.add")) return TCL_ERROR;
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string path = std::string(w) + ".f.f." + (id + 1);
    combSetKey(interp, combKey(w, id), path.c_str());
    combSetKey(interp, combKey(w, (std::string("cf") + id).c_str()), opts);
    calls.spliced({combSplice(creator), combWord(path), combSplice(opts)});
    calls.bind(path, "<Destroy>", "+" + combBindScript({"frm.freeItem", w, id}));
    Tcl_SetObjResult(interp, Tcl_NewStringObj(path.c_str(), -1));
    return TCL_OK;
  });
}

/*
 * gbtnFrameCmd --
 *     gbtn.frame w: the captioned, grooved frame of a button group.
 * Results:      the inner frame's path.
 */
int gbtnFrameCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    vesk_printf("usage: %s w\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1];
  std::string label = std::string(w) + ".label", spacer = std::string(w) + ".f1";
  std::string groove = std::string(w) + ".btn", inner = groove + ".f";
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    combSetKey(interp, combKey(w, "-label"), label.c_str());
    calls.cached(COMB_FRAME, {"frame", w});
    combBindFree(&calls.abort, interp, w);
    calls.cached(COMB_FRAME, {"frame", spacer, "-height", "10"});
    calls.cached(COMB_PACK, {"pack", spacer, "-fill", "x", "-side", "top"});
    calls.spliced({combWord("label"), combWord(label), combSplice(combOption(interp, w, "-label"))});
    calls.cached(COMB_PLACE, {"place", label, "-x", "10"});
    calls.cached(COMB_FRAME, {"frame", groove, "-relief", "groove", "-bd", "2"});
    calls.cached(COMB_PACK, {"pack", groove, "-fill", "both", "-expand", "1", "-side", "top"});
    calls.cached(COMB_LOWER, {"lower", groove});
    combSetKey(interp, combKey(w, "-pad"), inner.c_str());
    calls.spliced({combWord("frame"), combWord(inner), combSplice(combOption(interp, w, "-pad"))});
    calls.cached(COMB_PACK, {"pack", inner, "-expand", "1", "-fill", "both"});
    Tcl_SetObjResult(interp, Tcl_NewStringObj(inner.c_str(), -1));
    return TCL_OK;
  });
}

/*
 * gbtnCreateCmd --
 *     gbtn.create w ?option value ...?: a captioned column (or row) of
 *     radio and check buttons, one a -btns element ("type options").
 */
int gbtnCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  int code = combBeginCreate(clientData, interp, argc, argv,
                             {"usage: %s w", "gbtn",
                              {"cf-label", "", "cf-btns", "", "cf-layout", "vertical", "cf-pad",
                               "-bd 6"}});
  if (code != TCL_OK) return code;
  const char *w = argv[1];
  std::string layout = combOption(interp, w, "-layout");
  const char *side;
  if (layout.compare(0, 8, "vertical") == 0) side = "top";
  else if (layout.compare(0, 10, "horizontal") == 0) side = "left";
  else {
    Tcl_AddErrorInfo(interp, "\nwrong layout - should be vertical or horizontal\n");
    for (const std::string &key : combKeysOf(interp, w)) combUnsetKey(interp, key);
    return TCL_ERROR;
  }
  code = combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string inner = calls.proc(gbtnFrameCmd, {"gbtn.frame", w});
    combSetKey(interp, combKey(w, "btFrame"), inner.c_str());
    std::vector<std::string> buttons;
    if (!combSplitList(interp, combOption(interp, w, "-btns").c_str(), buttons)) return TCL_ERROR;
    for (size_t k = 0; k < buttons.size(); k++) {
      const std::string &element = buttons[k];
      size_t blank = element.find(' ');
      std::string type = element.substr(0, blank);
      std::string options = blank == std::string::npos ? "" : element.substr(blank + 1);
      const char *creator;
      if (isPrefixOf(type, "radiobutton")) creator = "radiobutton";
      else if (isPrefixOf(type, "checkbutton")) creator = "checkbutton";
      else {
        addErrorInfoFormatted(interp, "unknow button type: %s\n", element.c_str());
        std::string text = "error - frm: " + inner + " type:" + element + " opt:" + options + "\n";
        combAbort(&calls.abort, text.c_str());
      }
      std::string n = std::to_string(k);
      std::string path = inner + "." + n;
      combSetKey(interp, combKey(w, ("-btn" + n).c_str()), path.c_str());
      combSetKey(interp, combKey(w, ("cf-btn" + n).c_str()), options.c_str());
      calls.spliced({combWord(creator), combWord(path), combSplice("-bd 1 -anchor w"),
                     combSplice(options)});
      calls.bind(path, "<Destroy>", "+" + combBindScript({"gbtn.freeItem", w, n}));
      calls.cached(COMB_PACK, {"pack", path, "-side", side, "-anchor", "w"});
    }
    combUnsetKey(interp, combKey(w, "cf-btns"));
    combUnsetKey(interp, combKey(w, "cf-layout"));
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w, -1));
    return TCL_OK;
  });
  if (code != TCL_OK) combDestroyPath(interp, w);
  return code;
}

}  // namespace vesk
