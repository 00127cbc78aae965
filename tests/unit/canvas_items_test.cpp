// Captures of the map canvas's arc, symbol and group items: what the view
// transform does to them on the window, and the arcs' EPS rendered by
// Ghostscript against the window at probe points.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <string>
#include <vector>

#include "canvas/textitem.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

bool canvasReady() {
  static int state = -1;
  if (state < 0) state = testMainWindow() && Gcanvas_Init(testInterp()) == TCL_OK ? 1 : 0;
  return state == 1;
}

// The 200 x 200 canvas .ui.c, white, with the items the script makes.
struct Shown {
  XImage *image = nullptr;
  unsigned long white = 0;
  explicit Shown(const std::string &options, const std::string &items) {
    evalScript(("catch {destroy .ui}; toplevel .ui; wm geometry .ui +0+0; gcanvas .ui.c -width "
                "200 -height 200 -bd 0 -highlightthickness 0 -bg white " +
                options + "; pack .ui.c; " + items + "; update; raise .ui; update")
                   .c_str());
    grab();
  }
  // Reads the window again (after events changed it).
  void grab() {
    if (image) XDestroyImage(image);
    image = nullptr;
    Tk_Window win = Tk_NameToWindow(testInterp(), ".ui.c", testMainWindow());
    if (!win) return;
    XSync(Tk_Display(win), False);
    white = WhitePixelOfScreen(Tk_Screen(win));
    image = XGetImage(Tk_Display(win), Tk_WindowId(win), 0, 0, 200, 200, AllPlanes, ZPixmap);
  }
  unsigned long at(int x, int y) const { return XGetPixel(image, x, y); }
  ~Shown() {
    if (image) XDestroyImage(image);
  }
  bool inked(int x, int y) const { return XGetPixel(image, x, y) != white; }
  int inkCount(int x1, int y1, int x2, int y2) const {
    int n = 0;
    for (int y = y1; y < y2; y++)
      for (int x = x1; x < x2; x++) n += inked(x, y);
    return n;
  }
};

// Renders the canvas's EPS at 72 dpi: rows of 0/1 ink flags, row 0 on top.
bool renderEps(std::vector<std::vector<int>> &ink, int *w, int *h) {
  char dir[] = "/tmp/vesk-items-XXXXXX";
  if (!mkdtemp(dir)) return false;
  std::string eps = std::string(dir) + "/a.eps", ppm = std::string(dir) + "/a.ppm";
  int code;
  evalScript((".ui.c postscript -file " + eps + " -pagewidth 200p -pageanchor sw -pagex 0 -pagey 0")
                 .c_str(),
             &code);
  std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -r72 -sDEVICE=ppmraw "
                        "-sOutputFile=" + ppm + " " + eps + " > /dev/null 2>&1";
  bool ok = code == TCL_OK && system(command.c_str()) == 0;
  FILE *f = ok ? fopen(ppm.c_str(), "rb") : nullptr;
  if (f) {
    // P6, comment lines, width height, maxval, one whitespace byte.
    int numbers[3], got = 0;
    char line[256];
    ok = fgets(line, sizeof line, f) && line[0] == 'P' && line[1] == '6';
    while (ok && got < 3 && fgets(line, sizeof line, f)) {
      if (line[0] == '#') continue;
      char *p = line, *end;
      for (long v; got < 3 && (v = strtol(p, &end, 10), end != p); p = end) numbers[got++] = (int)v;
    }
    ok = ok && got == 3;
    *w = numbers[0];
    *h = numbers[1];
    std::vector<unsigned char> data(static_cast<size_t>(*w) * *h * 3);
    ok = ok && fread(data.data(), 1, data.size(), f) == data.size();
    fclose(f);
    ink.assign(static_cast<size_t>(*h), std::vector<int>(static_cast<size_t>(*w)));
    for (int y = 0; ok && y < *h; y++)
      for (int x = 0; x < *w; x++) {
        const unsigned char *p = &data[3 * (static_cast<size_t>(y) * *w + x)];
        ink[y][x] = p[0] + p[1] + p[2] < 3 * 200;
      }
  } else {
    ok = false;
  }
  unlink(eps.c_str());
  unlink(ppm.c_str());
  rmdir(dir);
  return ok;
}

}  // namespace

// The arc keeps its world quadrant: under my -1 it is drawn mirrored.
TEST(CanvasArc, MirroredQuadrantUnderNegativeMy) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  {
    Shown s("", ".ui.c create arc 20 20 180 180 -start 0 -extent 90 -fill black");
    ASSERT_TRUE(s.image);
    EXPECT_GT(s.inkCount(110, 30, 170, 90), 2000);  // top right on a y-down view
    EXPECT_EQ(s.inkCount(110, 110, 170, 170), 0);
  }
  {
    Shown s("-my -1", ".ui.c create arc 20 -180 180 -20 -start 0 -extent 90 -fill black");
    ASSERT_TRUE(s.image);
    EXPECT_EQ(s.inkCount(110, 30, 170, 90), 0);
    EXPECT_GT(s.inkCount(110, 110, 170, 170), 2000);
  }
  {
    // An extent of 0: no arc and no fill, the two radii on one line.
    Shown s("", ".ui.c create arc 20 20 180 180 -start 0 -extent 0 -fill black -outline red");
    ASSERT_TRUE(s.image);
    EXPECT_GT(s.inkCount(0, 99, 200, 102), 50);
    EXPECT_EQ(s.inkCount(0, 0, 200, 99) + s.inkCount(0, 102, 200, 200), 0);
  }
  {
    // A chord of width 3: its straight side is a filled band, not a thin line.
    Shown s("", ".ui.c create arc 20 20 180 180 -start 0 -extent 180 -style chord -width 3");
    ASSERT_TRUE(s.image);
    int rows = 0;
    for (int y = 95; y < 106; y++) rows += s.inked(100, y);
    EXPECT_GE(rows, 3);
  }
  evalScript("destroy .ui");
}

// The three styles: the window and the EPS agree at probe points.
TEST(CanvasArc, PostscriptOfTheThreeStylesMatchesTheWindow) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  Shown s("", ".ui.c create arc 10 10 90 90 -start 30 -extent 120 -style pieslice -fill black "
              "-width 3; .ui.c create arc 110 10 190 90 -start 30 -extent 120 -style chord "
              "-fill black -width 3; .ui.c create arc 10 110 190 190 -start 200 -extent 140 "
              "-style arc -width 5");
  ASSERT_TRUE(s.image);
  std::vector<std::vector<int>> page;
  int w = 0, h = 0;
  ASSERT_TRUE(renderEps(page, &w, &h));
  evalScript("destroy .ui");
  ASSERT_GE(w, 200);
  ASSERT_GE(h, 200);
  int dy = h - 200;  // the page may have a row more at the top
  struct Probe { int x, y; } probes[] = {
      {50, 45}, {50, 25}, {30, 60}, {70, 60}, {50, 80},      // pie slice: in, in, out, out, out
      {150, 25}, {150, 40}, {150, 60}, {120, 30},            // chord
      {100, 190}, {100, 186}, {100, 150}, {20, 150}, {180, 150},  // open arc
  };
  int agree = 0;
  for (const Probe &p : probes) {
    SCOPED_TRACE(std::to_string(p.x) + "," + std::to_string(p.y));
    EXPECT_EQ(s.inked(p.x, p.y), page[p.y + dy][p.x] != 0);
    agree += s.inked(p.x, p.y) == (page[p.y + dy][p.x] != 0);
  }
  EXPECT_EQ(agree, static_cast<int>(sizeof probes / sizeof probes[0]));
  // Both show ink at the first probes: the test is not vacuous.
  EXPECT_TRUE(s.inked(50, 25));
  EXPECT_TRUE(s.inked(150, 25));
}

namespace {

// The ink box inside a region, or x2 < 0 when the region is white.
struct Box {
  int x1 = 1 << 20, y1 = 1 << 20, x2 = -1, y2 = -1;
};
Box inkBox(const Shown &s, int rx1, int ry1, int rx2, int ry2) {
  Box b;
  for (int y = ry1; y < ry2; y++)
    for (int x = rx1; x < rx2; x++)
      if (s.inked(x, y)) {
        b.x1 = std::min(b.x1, x);
        b.y1 = std::min(b.y1, y);
        b.x2 = std::max(b.x2, x);
        b.y2 = std::max(b.y2, y);
      }
  return b;
}

}  // namespace

// The e anchor puts the label 2 pixels right of the 10 x 10 symbol, centred on the point.
TEST(CanvasSymbol, LabelBesideTheSymbolAndTheHandle) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  {
    Shown s("", ".ui.c create symbol 50 50 -text HH -anchor e -font {Helvetica 12} "
                "-outline black -markercolor {}");
    ASSERT_TRUE(s.image);
    Box symbol = inkBox(s, 40, 40, 56, 60);
    Box label = inkBox(s, 56, 30, 120, 70);
    EXPECT_EQ(symbol.x1, 45);
    EXPECT_EQ(symbol.x2, 55);
    ASSERT_GE(label.x2, 0);
    EXPECT_GE(label.x1, 57);
    EXPECT_LE(label.x1, 58);  // a left side bearing of at most one pixel
    EXPECT_NEAR((label.y1 + label.y2) / 2.0, 50, 3);
  }
  {
    // The handle with ne: a line to 5 right and 5 up, no oval.
    Shown s("", ".ui.c create symbol 50 50 -symboltype handle -anchor ne -outline black "
                "-markercolor {}");
    ASSERT_TRUE(s.image);
    Box b = inkBox(s, 30, 30, 70, 70);
    EXPECT_EQ(b.x1, 50);
    EXPECT_EQ(b.y2, 50);
    EXPECT_GE(b.x2, 55);
    EXPECT_LE(b.y1, 45);
    EXPECT_FALSE(s.inked(45, 50));
  }
  {
    // Two points: both get the symbol and the label.
    Shown s("", ".ui.c coords [.ui.c create symbol 0 0 -text X -anchor s -symbolcolor blue] "
                "40 40 140 140");
    ASSERT_TRUE(s.image);
    EXPECT_GT(s.inkCount(34, 34, 46, 46), 40);
    EXPECT_GT(s.inkCount(134, 134, 146, 146), 40);
    EXPECT_GT(s.inkCount(30, 47, 50, 70), 5);
    EXPECT_GT(s.inkCount(130, 147, 150, 170), 5);
  }
  evalScript("destroy .ui");
}

// A scalable label holds at -textsizemin at small scales.
TEST(CanvasSymbol, LabelNeverShrinksBelowTheMinimum) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  Shown s("-mx 0.05 -my 0.05", ".ui.c create symbol 100 100 -text Town -scalable 1");
  Tcl_CmdInfo info;
  ASSERT_TRUE(Tcl_GetCommandInfo(testInterp(), ".ui.c", &info));
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(info.objClientData);
  GcanvasItem *item = canvas->c.firstItemPtr;
  ASSERT_TRUE(item);
  TextLabel *t = textItemLabel(item);
  ASSERT_TRUE(t && t->itemFont);
  EXPECT_EQ(t->itemSize, 4);
  evalScript(".ui.c configure -mx 100 -my 100");
  EXPECT_EQ(t->itemSize, 400);
  evalScript("destroy .ui");
}

// Members are drawn from the group's anchor pixel: in pixels, or zoomed.
TEST(CanvasGroup, MembersDrawnFromTheAnchor) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  {
    Shown s("-mx 2 -my 2", "set g [.ui.c create group 30 30]; "
                           ".ui.c group $g rectangle 0 0 20 10 -fill black -outline {}");
    ASSERT_TRUE(s.image);
    Box b = inkBox(s, 0, 0, 200, 200);
    EXPECT_EQ(b.x1, 60);
    EXPECT_EQ(b.y1, 60);
    EXPECT_EQ(b.x2, 79);
    EXPECT_EQ(b.y2, 69);
  }
  {
    Shown s("-mx 2 -my 2", "set g [.ui.c create group 30 30 -scalable 1]; "
                           ".ui.c group $g rectangle 0 0 20 10 -fill black -outline {}");
    ASSERT_TRUE(s.image);
    Box b = inkBox(s, 0, 0, 200, 200);
    EXPECT_EQ(b.x1, 60);
    EXPECT_EQ(b.y1, 60);
    EXPECT_EQ(b.x2, 99);
    EXPECT_EQ(b.y2, 79);
  }
  evalScript("destroy .ui");
}

// With -updatecomponent the point under the pointer takes the highlight fill.
TEST(CanvasSymbol, HighlightFollowsThePointer) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  Shown s("-updatecomponent 1",
          ".ui.c coords [.ui.c create symbol 0 0 -symbolcolor blue -highlightcolor yellow "
          "-outline {} -markercolor {} -xparam 16 -yparam 16] 40 40 140 140");
  ASSERT_TRUE(s.image);
  unsigned long blue = s.at(40, 44);
  EXPECT_EQ(blue, s.at(140, 144));
  evalScript("event generate .ui.c <Enter> -x 40 -y 42; event generate .ui.c <Motion> -x 40 -y 42;"
             " update");
  s.grab();
  unsigned long lit = s.at(40, 44);
  EXPECT_NE(lit, blue);
  EXPECT_EQ(s.at(140, 144), blue);
  evalScript("event generate .ui.c <Motion> -x 140 -y 142; update");
  s.grab();
  EXPECT_EQ(s.at(40, 44), blue);
  EXPECT_EQ(s.at(140, 144), lit);
  evalScript("destroy .ui");
}

// Symbols made from vertex data take one point a part and the source's colours.
TEST(CanvasSymbol, MadeFromVertexData) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  Shown s("", "");
  Tcl_CmdInfo info;
  ASSERT_TRUE(Tcl_GetCommandInfo(testInterp(), ".ui.c", &info));
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(info.objClientData);
  Tk_Window win = canvas->c.tkwin;
  GcanvasOutline style;
  style.width = 2;
  style.color = Tk_GetColor(testInterp(), win, "green");
  XColor *fill = Tk_GetColor(testInterp(), win, "blue");
  double vertices[4] = {10, 20, 30, 40};
  VertexData data;
  data.numParts = 2;
  data.vertices = vertices;
  data.styleSource = &style;
  data.fillColor = fill;
  GcanvasItem *item = createItemFromVertices(canvas, testInterp(), &symbolType, &data, "made");
  ASSERT_TRUE(item);
  std::string id = std::to_string(item->id);
  EXPECT_EQ(evalScript((".ui.c coords " + id).c_str()), "10.0 20.0 30.0 40.0");
  EXPECT_EQ(evalScript((".ui.c itemcget " + id + " -symbolcolor").c_str()), "blue");
  EXPECT_EQ(evalScript((".ui.c itemcget " + id + " -outline").c_str()), "green");
  EXPECT_EQ(evalScript((".ui.c itemcget " + id + " -width").c_str()), "2.0");
  EXPECT_EQ(evalScript(".ui.c find withtag made"), id);
  double *points;
  EXPECT_EQ(symbolType.getVerticesProc(item, &points), 2);
  int *counts = reinterpret_cast<int *>(1);
  EXPECT_EQ(symbolType.getPartCountsProc(item, &counts), 2);
  EXPECT_EQ(counts, nullptr);
  Tk_FreeColor(style.color);
  Tk_FreeColor(fill);
  evalScript("destroy .ui");
}
