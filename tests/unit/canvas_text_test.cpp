// The text layout of the canvas's text items (lines, tabs, wrapping,
// justification, rotation, distances, PostScript strings) and the scaling
// of the text items' fonts with the view.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "canvas/textitem.h"
#include "display/rotfont.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

struct TestFont {
  RotatedFont *font = nullptr;
  TestFont() {
    TkFontAttributes fa{};
    fa.family = Tk_GetUid("DejaVu Sans");
    fa.size = -12;
    initFontPackage();
    font = getRotatedFont(nullptr, testMainWindow(), &fa, 0, 0, 0, 0);
  }
  ~TestFont() { freeRotatedFont(font); }
};

int widthOf(RotatedFont *font, const char *s) {
  int w;
  measureRotatedChars(font, s, static_cast<int>(strlen(s)), -1, 0, &w);
  return w;
}

struct Layout {
  int w = 0, h = 0;
  RotatedTextLayout *layout;
  Layout(RotatedFont *font, const char *s, int wrap = 0, int justify = LAYOUT_JUSTIFY_LEFT)
      : layout(computeTextLayout(font, s, -1, wrap, justify, 0, &w, &h)) {}
  ~Layout() { freeTextLayout(layout); }
  const LayoutChunk &chunk(size_t i) const { return layout->chunks.at(i); }
};

}  // namespace

TEST(TextLayout, LinesTabsWrapAndJustify) {
  if (!testMainWindow()) GTEST_SKIP() << "no display";
  TestFont f;
  int line = f.font->fm.ascent + f.font->fm.descent;
  {
    SCOPED_TRACE("empty string: one empty chunk, one line high");
    Layout l(f.font, "");
    ASSERT_EQ(l.layout->chunks.size(), 1u);
    EXPECT_EQ(l.chunk(0).numDisplayChars, -1);
    EXPECT_EQ(l.chunk(0).y, f.font->fm.ascent);
    EXPECT_EQ(l.w, 0);
    EXPECT_EQ(l.h, line);
  }
  {
    SCOPED_TRACE("a newline at the end opens an empty second line");
    Layout l(f.font, "a\n");
    ASSERT_EQ(l.layout->chunks.size(), 3u);
    EXPECT_EQ(l.chunk(0).numDisplayChars, 1);
    EXPECT_EQ(l.chunk(1).numDisplayChars, -1);
    EXPECT_EQ(l.chunk(1).totalWidth, 0);
    EXPECT_EQ(l.chunk(2).numBytes, 0);
    EXPECT_EQ(l.chunk(2).y, f.font->fm.ascent + line);
    EXPECT_EQ(l.h, 2 * line);
  }
  {
    SCOPED_TRACE("a tab runs to the next tab stop");
    int saved = f.font->tabWidth;
    f.font->tabWidth = 8;
    int wi = widthOf(f.font, "i");
    Layout l(f.font, "i\tx");
    f.font->tabWidth = saved;
    ASSERT_GE(l.layout->chunks.size(), 3u);
    EXPECT_EQ(l.chunk(1).x, wi);
    EXPECT_EQ(l.chunk(1).x + l.chunk(1).totalWidth, (wi / 8 + 1) * 8);
    EXPECT_EQ(l.chunk(1).numDisplayChars, -1);
    EXPECT_EQ(l.chunk(2).x, (wi / 8 + 1) * 8);
  }
  {
    SCOPED_TRACE("spaces at a wrap count in the total width only");
    int wrap = widthOf(f.font, "aaaa ") + 2;
    Layout l(f.font, "aaaa   bbbb", wrap);
    ASSERT_EQ(l.layout->chunks.size(), 2u);
    EXPECT_EQ(l.chunk(0).numBytes, 7);
    EXPECT_EQ(l.chunk(0).displayWidth, widthOf(f.font, "aaaa"));
    EXPECT_EQ(l.chunk(0).totalWidth, widthOf(f.font, "aaaa   "));
    EXPECT_EQ(l.chunk(1).x, 0);
    EXPECT_EQ(l.chunk(1).y, l.chunk(0).y + line);
  }
  {
    SCOPED_TRACE("centring shifts a shorter line by half the difference");
    Layout l(f.font, "ii\nmmmm", 0, LAYOUT_JUSTIFY_CENTER);
    int extra = widthOf(f.font, "mmmm") - widthOf(f.font, "ii");
    EXPECT_EQ(l.chunk(0).x, extra / 2);
    EXPECT_EQ(l.chunk(2).x, 0);
    Layout r(f.font, "ii\nmmmm", 0, LAYOUT_JUSTIFY_RIGHT);
    EXPECT_EQ(r.chunk(0).x, extra);
  }
}

TEST(TextLayout, RotationDistanceIndexAndPostscript) {
  if (!testMainWindow()) GTEST_SKIP() << "no display";
  TestFont f;
  Layout l(f.font, "ab(c");
  {
    SCOPED_TRACE("a quarter turn puts (10, 0) at (x, y - 10)");
    setLayoutRotation(l.layout, 1.0, 0.0);
    double x, y;
    layoutUnrotatePoint(l.layout, 10, 0, &x, &y);
    EXPECT_NEAR(x, 0, 1e-12);
    EXPECT_NEAR(y, -10, 1e-12);
    layoutRotate(l.layout, &x, &y);
    EXPECT_NEAR(x, 10, 1e-12);
    EXPECT_NEAR(y, 0, 1e-12);
    /* the distance test turns a drawable offset back: (0, -5) is on the text */
    EXPECT_EQ(layoutDistance(l.layout, f.font->fm.ascent / 2, -3), 0);
    setLayoutRotation(l.layout, 0.0, 1.0);
  }
  int w = l.chunk(0).displayWidth;
  EXPECT_EQ(layoutDistance(l.layout, 1, f.font->fm.ascent - 1), 0);
  EXPECT_EQ(layoutDistance(l.layout, w, f.font->fm.ascent - 1), 1);
  EXPECT_EQ(layoutDistance(l.layout, w + 3, f.font->fm.ascent - 1), 4);
  EXPECT_EQ(layoutIntersect(l.layout, -1, -1, w + 2, 100), 1);
  EXPECT_EQ(layoutIntersect(l.layout, w + 5, 0, 10, 10), -1);
  EXPECT_EQ(layoutIntersect(l.layout, 1, 1, 3, 3), 0);
  EXPECT_EQ(layoutPointToChar(l.layout, -5, 2), 0);
  EXPECT_EQ(layoutPointToChar(l.layout, widthOf(f.font, "ab") + 1, 2), 2);
  EXPECT_EQ(layoutPointToChar(l.layout, 1000, 2), 4);
  EXPECT_EQ(layoutPointToChar(l.layout, 0, 1000), 4);
  int x, y, cw, ch;
  ASSERT_EQ(layoutCharBbox(l.layout, 1, &x, &y, &cw, &ch), 1);
  EXPECT_EQ(x, widthOf(f.font, "a"));
  EXPECT_EQ(cw, widthOf(f.font, "b"));
  ASSERT_EQ(layoutCharBbox(l.layout, 4, &x, &y, &cw, &ch), 1);
  EXPECT_EQ(x, w);
  EXPECT_EQ(cw, 0);
  EXPECT_EQ(layoutCharBbox(l.layout, 5, &x, &y, &cw, &ch), 0);
  Tcl_ResetResult(testInterp());
  Layout tabbed(f.font, "a\tb\\\nc");
  textLayoutToPostscript(testInterp(), l.layout);
  textLayoutToPostscript(testInterp(), tabbed.layout);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "(ab\\050c)\n(a\\tb\\134)\n(c)\n");
}

namespace {

bool canvasReady() {
  static int state = -1;
  if (state < 0) state = testMainWindow() && Gcanvas_Init(testInterp()) == TCL_OK ? 1 : 0;
  return state == 1;
}

GcanvasItem *itemOf(const char *path, int id) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(testInterp(), path, &info)) return nullptr;
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(info.objClientData);
  Tcl_HashEntry *e = Tcl_FindHashEntry(&canvas->idTable,
                                       reinterpret_cast<char *>(static_cast<intptr_t>(id)));
  return e ? static_cast<GcanvasItem *>(Tcl_GetHashValue(e)) : nullptr;
}

}  // namespace

TEST(TextItem, FontFollowsTheScale) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  evalScript("catch {destroy .tx}; toplevel .tx; gcanvas .tx.c -width 100 -height 100; pack .tx.c");
  int id = atoi(evalScript(".tx.c create text 10 10 -text Hi -scalable 1").c_str());
  GcanvasItem *item = itemOf(".tx.c", id);
  ASSERT_TRUE(item);
  TextLabel *t = textItemLabel(item);
  ASSERT_TRUE(t && t->itemFont);
  EXPECT_EQ(t->itemSize, 8);
  EXPECT_EQ(t->widthFactor, 0);
  evalScript(".tx.c configure -my 0.25");
  EXPECT_EQ(item->x1, item->x2);
  EXPECT_EQ(item->y1, item->y2);
  evalScript(".tx.c configure -my 10");
  EXPECT_EQ(t->itemSize, 80);
  EXPECT_DOUBLE_EQ(t->widthFactor, 0.4 / 10);
  evalScript(".tx.c configure -mx 20");
  EXPECT_EQ(t->itemSize, 80);
  EXPECT_DOUBLE_EQ(t->widthFactor, 0.8);
  {
    SCOPED_TRACE("zooming shares one font among items of one look");
    int before = sharedFontCount();
    evalScript("for {set i 0} {$i < 50} {incr i} {.tx.c create text $i 5 -text x -scalable 1}");
    EXPECT_LE(sharedFontCount(), before + 1);
    evalScript(".tx.c configure -mx 3 -my 3");
    EXPECT_LE(sharedFontCount(), before + 1);
  }
  {
    SCOPED_TRACE("a font given in pixels is below any minimum");
    int px = atoi(evalScript(".tx.c create text 10 10 -text Hi -font {Helvetica -12}").c_str());
    GcanvasItem *p = itemOf(".tx.c", px);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->y1, p->y2);
  }
  {
    SCOPED_TRACE("gtext angles in tenths of a degree");
    struct Row { double esc; int tenths; } rows[] = {{30.04, 300}, {30.06, 301}};
    for (const Row &r : rows) {
      std::string cmd = ".tx.c create gtext 10 10 -text Hi -escapement " + std::to_string(r.esc);
      evalScript(".tx.c configure -mx 1 -my -1");
      GcanvasItem *g = itemOf(".tx.c", atoi(evalScript(cmd.c_str()).c_str()));
      ASSERT_TRUE(g);
      TextLabel *gl = textItemLabel(g);
      ASSERT_TRUE(gl && gl->itemFont && gl->layout);
      EXPECT_DOUBLE_EQ(gl->itemFont->escapement * 10, r.tenths);
      EXPECT_NEAR(atan2(gl->layout->sine, gl->layout->cosine) * 1800 / M_PI, r.tenths, 1e-9);
    }
  }
  evalScript("destroy .tx");
}

namespace {

// The ink box (non-white pixels) of a region of the 200 x 200 canvas .ug.c.
struct Ink {
  int x1 = 1 << 20, y1 = 1 << 20, x2 = -1, y2 = -1;
  int width() const { return x2 - x1 + 1; }
  int height() const { return y2 - y1 + 1; }
};

Ink inkOf(int rx1, int ry1, int rx2, int ry2) {
  Ink ink;
  Tk_Window win = Tk_NameToWindow(testInterp(), ".ug.c", testMainWindow());
  if (!win) return ink;
  XSync(Tk_Display(win), False);
  XImage *image = XGetImage(Tk_Display(win), Tk_WindowId(win), 0, 0, 200, 200, AllPlanes, ZPixmap);
  if (!image) return ink;
  unsigned long white = WhitePixelOfScreen(Tk_Screen(win));
  for (int y = ry1; y < ry2; y++)
    for (int x = rx1; x < rx2; x++)
      if (XGetPixel(image, x, y) != white) {
        ink.x1 = std::min(ink.x1, x);
        ink.y1 = std::min(ink.y1, y);
        ink.x2 = std::max(ink.x2, x);
        ink.y2 = std::max(ink.y2, y);
      }
  XDestroyImage(image);
  return ink;
}

void showCanvas(const std::string &options, const std::string &items) {
  evalScript(("catch {destroy .ug}; toplevel .ug; wm geometry .ug +0+0; gcanvas .ug.c -width 200 "
              "-height 200 -bd 0 -highlightthickness 0 -bg white " +
              options + "; pack .ug.c; " + items + "; update; raise .ug; update")
                 .c_str());
}

}  // namespace

// Escapement 90 runs up a north-up map (my < 0) and down a y-down one.
TEST(GtextItem, EscapementFollowsTheSignOfMy) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  showCanvas("-my -1", ".ug.c create gtext 100 -100 -text Mountains -anchor w -escapement 90 "
                       "-font {Helvetica 14}");
  Ink up = inkOf(0, 0, 200, 200);
  showCanvas("-my 1", ".ug.c create gtext 100 100 -text Mountains -anchor w -escapement 90 "
                      "-font {Helvetica 14}");
  Ink down = inkOf(0, 0, 200, 200);
  evalScript("destroy .ug");
  ASSERT_GT(up.x2, 0);
  ASSERT_GT(down.x2, 0);
  EXPECT_GT(up.height(), 3 * up.width());
  EXPECT_GT(down.height(), 3 * down.width());
  EXPECT_LT(up.y1, 100 - 40);
  EXPECT_LE(up.y2, 102);
  EXPECT_GE(down.y1, 98);
  EXPECT_GT(down.y2, 100 + 40);
  // The glyphs stand on the baseline's left side as it turns: x stays near the anchor.
  EXPECT_NEAR((up.x1 + up.x2) / 2.0, 100, 12);
}

// An aspect ratio sets the average character width to that share of the height.
TEST(GtextItem, AspectRatioSetsTheWidth) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  showCanvas("", ".ug.c create gtext 10 50 -text MMMMMMMM -anchor w -aspectratio 0.5 "
                 "-font {Helvetica 14}; .ug.c create gtext 10 150 -text MMMMMMMM -anchor w "
                 "-aspectratio 0.25 -font {Helvetica 14}");
  Ink half = inkOf(0, 0, 200, 100);
  Ink quarter = inkOf(0, 100, 200, 200);
  evalScript("destroy .ug");
  ASSERT_GT(half.x2, 0);
  ASSERT_GT(quarter.x2, 0);
  EXPECT_NEAR(static_cast<double>(half.width()) / quarter.width(), 2.0, 0.2);
  EXPECT_NEAR(half.height(), quarter.height(), 1);
}
