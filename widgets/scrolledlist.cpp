/*
 * scrolledlist.cpp --
 *     The scrolled list: a listbox with a vertical scrollbar, a horizontal
 *     one, or both.
 */
#include <string>
#include <vector>

#include "widgets/comb.h"
#include "widgets/combcmds.h"

namespace vesk {

/*
 * slisCreateCmd --
 *     slis.create w ?option value ...?: a listbox with a vertical, a
 *     horizontal or both scrollbars (-layout v, h, vh or hv).
 */
int slisCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  int code = combBeginCreate(clientData, interp, argc, argv,
                             {"usage: %s w args\n",
                              "slis",
                              {"cf-items", "", "cf-list", "", "cf-scrbv", "", "cf-scrbh", "",
                               "cf-layout", "v"}});
  if (code != TCL_OK) return code;
  const char *w = argv[1];
  std::string list = std::string(w) + ".list";
  std::string vbar = std::string(w) + ".scrbv", hbar = std::string(w) + ".scrbh";
  code = combGuard(interp, [&] {
    CombCalls calls(interp);
    calls.cached(COMB_FRAME, {"frame", w, "-bd", "1", "-relief", "sunken"});
    combBindFree(&calls.abort, interp, w);
    combSetKey(interp, combKey(w, "-list"), list.c_str());
    std::string layout = combOption(interp, w, "-layout");
    bool vertical = layout == "v" || layout == "vh" || layout == "hv";
    bool horizontal = layout == "h" || layout == "vh" || layout == "hv";
    if (!vertical && !horizontal) {
      Tcl_AddErrorInfo(interp, "layout must be v or h or vh or hv\n");
      combAbort(&calls.abort, "error in layout");
    }
    std::vector<CombPiece> listWords = {combWord("listbox"), combWord(list),
                                        combSplice("-height 5 -bd 1 -relief flat")};
    if (horizontal) {
      listWords.push_back(combWord("-xscrollcomm"));
      listWords.push_back(combWord(combList({hbar, "set"})));
    }
    if (vertical) {
      listWords.push_back(combWord("-yscrollcomm"));
      listWords.push_back(combWord(combList({vbar, "set"})));
    }
    listWords.push_back(combSplice(combOption(interp, w, "-list")));
    calls.spliced(listWords);
    if (horizontal) {
      combSetKey(interp, combKey(w, "-scrbh"), hbar.c_str());
      calls.spliced({combWord("scrollbar"), combWord(hbar), combSplice("-bd 1 -orient horizontal"),
                     combWord("-comm"), combWord(combList({list, "xview"})),
                     combSplice(combOption(interp, w, "-scrbh"))});
    } else {
      combUnsetKey(interp, combKey(w, "cf-scrbh"));
    }
    if (vertical) {
      combSetKey(interp, combKey(w, "-scrbv"), vbar.c_str());
      calls.spliced({combWord("scrollbar"), combWord(vbar), combSplice("-bd 1 -orient vertical"),
                     combWord("-comm"), combWord(combList({list, "yview"})),
                     combSplice(combOption(interp, w, "-scrbv"))});
    } else {
      combUnsetKey(interp, combKey(w, "cf-scrbv"));
    }
    if (vertical) calls.cached(COMB_PACK, {"pack", vbar, "-side", "right", "-fill", "y"});
    if (horizontal) calls.cached(COMB_PACK, {"pack", hbar, "-side", "bottom", "-fill", "x"});
    calls.cached(COMB_PACK, {"pack", list, "-side", vertical ? "right" : "top", "-expand", "1",
                             "-fill", "both"});
    std::string items = combOption(interp, w, "-items");
    if (!items.empty()) calls.call({"slis.setList", w, items});
    combUnsetKey(interp, combKey(w, "cf-items"));
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w, -1));
    return TCL_OK;
  });
  if (code != TCL_OK) combDestroyPath(interp, w);
  return code;
}

}  // namespace vesk
