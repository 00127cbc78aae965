// Drawing helpers: point buffer, ring sets with holes, GC functions through
// the helpers, double-dashed outlines and the focus highlight.
#include <gtest/gtest.h>

#include <set>

#include "display/drawing.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

constexpr unsigned long kWhite = 0xffffff, kRed = 0xff0000, kBlue = 0x0000ff;

struct Canvas {
  Tk_Window tkwin;
  Display *display;
  Pixmap pixmap;
  GC gc;
  Canvas(int w, int h, unsigned long background) {
    tkwin = testMainWindow();
    display = Tk_Display(tkwin);
    pixmap = makeFilledPixmap(tkwin, w, h, background);
    gc = XCreateGC(display, pixmap, 0, nullptr);
  }
  ~Canvas() {
    XFreeGC(display, gc);
    Tk_FreePixmap(display, pixmap);
  }
  unsigned long at(int x, int y) { return readPixel(display, pixmap, x, y); }
};

bool trueColor24() {
  Tk_Window w = testMainWindow();
  return w && Tk_Depth(w) == 24 && Tk_Visual(w)->c_class == TrueColor;
}

}  // namespace

TEST(PointBuffer, GrowsNeverShrinksAndSumsRelativePoints) {
  freePointBuffer();
  ASSERT_NE(getPointBuffer(10), nullptr);
  EXPECT_EQ(getPointBufferCapacity(), 10);
  getPointBuffer(4);
  EXPECT_EQ(getPointBufferCapacity(), 10);
  XPoint rel[3] = {{5, 5}, {10, 0}, {-3, 7}};
  XRectangle box;
  XPoint *abs = convertPoints(rel, 3, 1, &box);
  ASSERT_NE(abs, nullptr);
  EXPECT_EQ(abs[1].x, 15);
  EXPECT_EQ(abs[2].x, 12);
  EXPECT_EQ(abs[2].y, 12);
  EXPECT_EQ(box.x, 5);
  EXPECT_EQ(box.y, 5);
  EXPECT_EQ(box.width, 15);   // right = max x
  EXPECT_EQ(box.height, 12);  // bottom = max y
  EXPECT_EQ(getPointBuffer(-1), nullptr);
}

TEST(ShortRingArea, SignMarksHoles) {
  XPoint clockwise[4] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  XPoint counter[4] = {{0, 0}, {0, 10}, {10, 10}, {10, 0}};
  EXPECT_EQ(shortRingArea(clockwise, 4), -200);
  EXPECT_EQ(shortRingArea(counter, 4), 200);
}

TEST(FillPolygonsWithHoles, HoleKeepsTheBackground) {
  if (!trueColor24()) GTEST_SKIP() << "needs a 24-bit display";
  Canvas c(80, 80, kWhite);
  XSetForeground(c.display, c.gc, kRed);
  // Outer ring with a non-negative sum, inner ring with a negative one.
  XPoint points[8] = {{10, 10}, {10, 60}, {60, 60}, {60, 10},
                      {25, 25}, {45, 25}, {45, 45}, {25, 45}};
  int sizes[2] = {4, 4};
  fillPolygonsWithHoles(c.display, c.pixmap, c.gc, points, 2, sizes, Complex, 0);
  EXPECT_EQ(c.at(15, 15), kRed);
  EXPECT_EQ(c.at(35, 35), kWhite);  // the hole
  EXPECT_EQ(c.at(5, 5), kWhite);
  EXPECT_EQ(c.at(50, 50), kRed);

  // One ring is filled whatever its orientation.
  Canvas single(40, 40, kWhite);
  XSetForeground(single.display, single.gc, kBlue);
  int one = 4;
  fillPolygonsWithHoles(single.display, single.pixmap, single.gc, points + 4, 1, &one, Complex,
                        0);
  EXPECT_EQ(single.at(35, 35), kBlue);

  // Holes only: the rings are filled.
  Canvas holes(80, 80, kWhite);
  XSetForeground(holes.display, holes.gc, kBlue);
  XPoint twoHoles[8] = {{5, 5}, {20, 5}, {20, 20}, {5, 20},
                        {40, 40}, {60, 40}, {60, 60}, {40, 60}};
  fillPolygonsWithHoles(holes.display, holes.pixmap, holes.gc, twoHoles, 2, sizes, Complex, 0);
  EXPECT_EQ(holes.at(10, 10), kBlue);
  EXPECT_EQ(holes.at(50, 50), kBlue);
  EXPECT_EQ(holes.at(30, 30), kWhite);
}

TEST(FillPolygonsWithHoles, XorFunctionReachesTheServer) {
  if (!trueColor24()) GTEST_SKIP() << "needs a 24-bit display";
  Canvas c(80, 80, 0x0f0f0f);
  XSetForeground(c.display, c.gc, 0x123456);
  XSetFunction(c.display, c.gc, GXxor);
  XPoint points[8] = {{10, 10}, {10, 60}, {60, 60}, {60, 10},
                      {25, 25}, {45, 25}, {45, 45}, {25, 45}};
  int sizes[2] = {4, 4};
  fillPolygonsWithHoles(c.display, c.pixmap, c.gc, points, 2, sizes, Complex, 0);
  EXPECT_EQ(c.at(15, 15), 0x1d3b59UL);
  EXPECT_EQ(c.at(35, 35), 0x0f0f0fUL);
}

TEST(DrawPolyline, DoubleDashesShowTheBackgroundBetweenDashes) {
  if (!trueColor24()) GTEST_SKIP() << "needs a 24-bit display";
  for (int width : {1, 3}) {
    SCOPED_TRACE(width);
    Canvas c(100, 40, kWhite);
    XGCValues v;
    v.foreground = kRed;
    v.background = kBlue;
    v.line_width = width;
    v.line_style = LineDoubleDash;
    v.cap_style = CapButt;
    XChangeGC(c.display, c.gc, GCForeground | GCBackground | GCLineWidth | GCLineStyle |
                                   GCCapStyle, &v);
    char dashes[2] = {6, 6};
    XSetDashes(c.display, c.gc, 0, dashes, 2);
    XPoint line[2] = {{10, 20}, {90, 20}};
    drawPolyline(c.display, c.pixmap, c.gc, line, 2, 0);
    std::set<unsigned long> seen;
    for (int x = 10; x < 90; x++) seen.insert(c.at(x, 20));
    EXPECT_EQ(seen, (std::set<unsigned long>{kRed, kBlue}));
    EXPECT_EQ(c.at(12, 20), kRed);   // first dash
    EXPECT_EQ(c.at(18, 20), kBlue);  // first gap, in the background colour
    if (width == 3) {
      // The solid background line lies under the dashes across the width.
      EXPECT_EQ(c.at(18, 21), kBlue);
      EXPECT_EQ(c.at(18, 19), kBlue);
    }
  }
}

TEST(DrawPolyline, OnOffDashesLeaveGapsUntouched) {
  if (!trueColor24()) GTEST_SKIP() << "needs a 24-bit display";
  Canvas c(100, 40, kWhite);
  XSetForeground(c.display, c.gc, kRed);
  XSetLineAttributes(c.display, c.gc, 3, LineOnOffDash, CapButt, JoinMiter);
  char dashes[2] = {6, 6};
  XSetDashes(c.display, c.gc, 0, dashes, 2);
  XPoint line[2] = {{10, 20}, {90, 20}};
  drawPolyline(c.display, c.pixmap, c.gc, line, 2, 0);
  EXPECT_EQ(c.at(12, 20), kRed);
  EXPECT_EQ(c.at(18, 20), kWhite);
}

TEST(DrawOutlines, RectangleAndArcUseTheDoubleDashRule) {
  if (!trueColor24()) GTEST_SKIP() << "needs a 24-bit display";
  Canvas c(100, 100, kWhite);
  XGCValues v;
  v.foreground = kRed;
  v.background = kBlue;
  v.line_width = 3;
  v.line_style = LineDoubleDash;
  XChangeGC(c.display, c.gc, GCForeground | GCBackground | GCLineWidth | GCLineStyle, &v);
  char dashes[2] = {6, 6};
  XSetDashes(c.display, c.gc, 0, dashes, 2);
  drawRectangleOutline(c.display, c.pixmap, c.gc, 10, 10, 40, 40);
  std::set<unsigned long> seen;
  for (int x = 12; x < 48; x++) seen.insert(c.at(x, 10));
  EXPECT_EQ(seen, (std::set<unsigned long>{kRed, kBlue}));
  EXPECT_EQ(c.at(30, 30), kWhite);
  drawArcOutline(c.display, c.pixmap, c.gc, 60, 60, 30, 30, 0, 23040);
  EXPECT_EQ(c.at(75, 75), kWhite);
  unsigned long edge = c.at(75, 60);
  EXPECT_TRUE(edge == kRed || edge == kBlue);
}

TEST(DrawHighlightBorder, DrawsTheInsetRing) {
  if (!trueColor24()) GTEST_SKIP() << "needs a 24-bit display";
  evalScript("toplevel .hl -width 60 -height 40; update");
  Tk_Window tkwin = Tk_NameToWindow(testInterp(), ".hl", testMainWindow());
  ASSERT_NE(tkwin, nullptr);
  Display *display = Tk_Display(tkwin);
  Pixmap pixmap = makeFilledPixmap(tkwin, Tk_Width(tkwin), Tk_Height(tkwin), kWhite);
  GC gc = XCreateGC(display, pixmap, 0, nullptr);
  XSetForeground(display, gc, kRed);
  drawHighlightBorder(tkwin, gc, nullptr, 3, pixmap);
  EXPECT_EQ(readPixel(display, pixmap, 0, 0), kRed);
  EXPECT_EQ(readPixel(display, pixmap, 2, 20), kRed);
  EXPECT_EQ(readPixel(display, pixmap, Tk_Width(tkwin) - 1, Tk_Height(tkwin) - 1), kRed);
  EXPECT_EQ(readPixel(display, pixmap, 3, 20), kWhite);
  EXPECT_EQ(readPixel(display, pixmap, 30, 20), kWhite);
  XFreeGC(display, gc);
  Tk_FreePixmap(display, pixmap);
  evalScript("destroy .hl");
}
