/*
 * palette.cpp --
 *     The colour palette: a grid of swatches on a canvas to pick from, and
 *     three number spinners for red, green and blue with a sample canvas.
 */
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "vesk/stdio.h"
#include "widgets/comb.h"
#include "widgets/combcmds.h"

namespace vesk {
namespace {

/*
 * builtInColors --
 *     64 colours over four levels of each primary (red fastest, then
 *     green, then blue), then eight greys.
 */
std::vector<std::string> builtInColors() {
  std::vector<std::string> colors;
  char text[8];
  auto level = [](int i, int n) { return roundToInt(i / static_cast<double>(n) * 255.0); };
  for (int b = 0; b < 4; b++)
    for (int g = 0; g < 4; g++)
      for (int r = 0; r < 4; r++) {
        snprintf(text, sizeof text, "#%02x%02x%02x", level(r, 3), level(g, 3), level(b, 3));
        colors.push_back(text);
      }
  for (int i = 0; i < 8; i++) {
    int v = level(i, 7);
    snprintf(text, sizeof text, "#%02x%02x%02x", v, v, v);
    colors.push_back(text);
  }
  return colors;
}

}  // namespace

/*
 * palCreateCmd --
 *     pal.create w ?option value ...?: the swatch canvas, the sample and
 *     the red, green and blue spinners.
 */
int palCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  int code = combBeginCreate(
      clientData, interp, argc, argv,
      {"usage: %s w args\n",
       "pal",
       {"cf-r", "", "cf-g", "", "cf-b", "", "cf-d", "3", "cf-nx", "8", "cf-ny", "9", "cf-colors", "",
        "cf-highlight", "white", "cf-outline", "black", "-r", "", "-g", "", "-b", ""}});
  if (code != TCL_OK) return code;
  const char *w = argv[1];
  std::string sample = std::string(w) + ".rgb", swatches = std::string(w) + ".canv";
  code = combGuard(interp, [&] {
    CombCalls calls(interp);
    calls.cached(COMB_FRAME, {"frame", w, "-bd", "1", "-relief", "raise"});
    combBindFree(&calls.abort, interp, w);
    combSetKey(interp, combKey(w, "rgb"), sample.c_str());
    combSetKey(interp, combKey(w, "canv"), swatches.c_str());
    const char *names[] = {"r", "g", "b"};
    const char *labels[] = {"R", "G", "B"};
    std::string spinners[3];
    for (int i = 0; i < 3; i++) {
      spinners[i] = std::string(w) + "." + names[i];
      combSetKey(interp, combKey(w, (std::string("-") + names[i]).c_str()), spinners[i].c_str());
    }
    calls.cached(COMB_CANVAS, {"canvas", sample, "-bg", "red", "-width", "20", "-height", "24",
                               "-bd", "1", "-highlightthickness", "0"});
    for (int i = 0; i < 3; i++) {
      calls.spliced({combWord("num.create"), combWord(spinners[i]),
                     combSplice("-max 255 -min 0 -init 255 -inc 16 -dec 16"),
                     combSplice(combList({"-ent", "-width 4", "-label",
                                          std::string("-text ") + labels[i] + " -width 2"})),
                     combSplice(combOption(interp, w, (std::string("-") + names[i]).c_str()))});
    }
    calls.cached(COMB_CANVAS, {"canvas", swatches, "-width", "180", "-height", "20", "-bd", "1",
                               "-highlightthickness", "0"});
    calls.bind(swatches, "<Configure>", combBindScript({"pal.colors", w}));
    calls.cached(COMB_GRID, {"grid", swatches, "-column", "0", "-row", "0", "-rowspan", "4", "-padx",
                             "4", "-pady", "2", "-sticky", "ns"});
    calls.cached(COMB_GRID, {"grid", sample, "-column", "1", "-row", "0", "-padx", "4", "-pady", "4",
                             "-sticky", "nsew"});
    const char *pady[] = {"2", "2", "4"};
    for (int i = 0; i < 3; i++)
      calls.cached(COMB_GRID, {"grid", spinners[i], "-column", "1", "-row", std::to_string(i + 1),
                               "-padx", "4", "-pady", pady[i], "-sticky", "we"});
    for (const std::string &spinner : spinners)
      calls.call({"num.bindChange", spinner, combList({"pal.update", w, sample, "config", "-bg"})});
    combSetKey(interp, combKey(w, "redraw"), combList({"pal.colors", w}).c_str());
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w, -1));
    return TCL_OK;
  });
  if (code != TCL_OK) combDestroyPath(interp, w);
  return code;
}

/*
 * palColorsCmd --
 *     pal.colors w: draws the swatches, row by row, centred on the swatch
 *     canvas, with their pointer and click bindings.
 */
int palColorsCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    vesk_printf("usage: %s w \n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1];
  int nx = combIntOption(interp, w, "-nx"), ny = combIntOption(interp, w, "-ny");
  if (nx < 1 || ny < 1) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad swatch grid %s x %s: both must be at least 1",
                                           combOption(interp, w, "-nx").c_str(),
                                           combOption(interp, w, "-ny").c_str()));
    return TCL_ERROR;
  }
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    const char *canvasKey = combGetKey(interp, combKey(w, "canv"));
    std::string canvas = canvasKey ? canvasKey : std::string(w) + ".canv";
    long W = atol(calls.call({"winfo", "width", canvas}).c_str());
    long H = atol(calls.call({"winfo", "height", canvas}).c_str());
    long cw = (W - 2) / nx, ch = (H - 2) / ny;
    long d = combIntOption(interp, w, "-d");
    calls.call({canvas, "delete", "clrs"});
    std::vector<std::string> colors;
    if (!combSplitList(interp, combOption(interp, w, "-colors").c_str(), colors)) return TCL_ERROR;
    if (colors.empty()) colors = builtInColors();
    std::string outline = combOption(interp, w, "-outline");
    std::string highlight = combOption(interp, w, "-highlight");
    auto s = [](long value) { return std::to_string(value); };
    size_t next = 0;
    for (long j = 0; j < ny && next < colors.size(); j++)
      for (long i = 0; i < nx && next < colors.size(); i++) {
        std::string tags = "clrs c(" + s(i) + "," + s(j) + ")";
        calls.call({canvas, "create", "rectangle", s(i * cw), s(j * ch), s(i * cw + cw - d),
                    s(j * ch + ch - d), "-tags", tags, "-fill", colors[next++], "-outline",
                    outline});
      }
    calls.call({canvas, "move", "clrs", s((W - (nx * cw - 4)) / 2), s((H - ny * ch) / 2)});
    calls.call({canvas, "bind", "clrs", "<Any-Enter>",
                combBindScript({canvas, "itemconfig", "current", "-outline", highlight})});
    calls.call({canvas, "bind", "clrs", "<Any-Leave>",
                combBindScript({canvas, "itemconfig", "current", "-outline", outline})});
    calls.call({canvas, "bind", "clrs", "<Button-1>",
                combEscapePercent(combList({"pal.set", w}) + " [" +
                                  combList({canvas, "itemcget", "current", "-fill"}) + "]")});
    Tcl_ResetResult(interp);
    return TCL_OK;
  });
}

}  // namespace vesk
