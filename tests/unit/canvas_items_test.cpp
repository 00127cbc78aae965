// Captures of the map canvas's arc, symbol and group items: what the view
// transform does to them on the window, and the arcs' EPS rendered by
// Ghostscript against the window at probe points.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <X11/Xutil.h>

#include <string>
#include <vector>

#include "canvas/gcanvas.h"
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
    Tk_Window win = Tk_NameToWindow(testInterp(), ".ui.c", testMainWindow());
    if (!win) return;
    XSync(Tk_Display(win), False);
    white = WhitePixelOfScreen(Tk_Screen(win));
    image = XGetImage(Tk_Display(win), Tk_WindowId(win), 0, 0, 200, 200, AllPlanes, ZPixmap);
  }
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
