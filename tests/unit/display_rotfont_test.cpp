// Rotated fonts: face resolution, measuring flags, width scale, drawing at
// angles through the caller's GC (function, stipple, clip).
#include <gtest/gtest.h>
#include <math.h>

#include <set>
#include <string>

#include "display/rotfont.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

struct FontPtr {
  RotatedFont *font;
  explicit FontPtr(RotatedFont *f) : font(f) {}
  ~FontPtr() { freeRotatedFont(font); }
  RotatedFont *operator->() { return font; }
};

RotatedFont *makeFont(const char *family, int pixels, double widthScale, double angle,
                      double orientation = 0, int advanced = 0) {
  TkFontAttributes fa{};
  fa.family = Tk_GetUid(family);
  fa.size = -pixels;
  initFontPackage();
  return getRotatedFont(nullptr, testMainWindow(), &fa, widthScale, angle,
                        advanced ? orientation : angle, advanced);
}

int measure(RotatedFont *font, const char *text, int maxLength, int flags, int *width) {
  return measureRotatedChars(font, text, static_cast<int>(strlen(text)), maxLength, flags, width);
}

// A white pixmap with text drawn at (x, y); the box of non-white pixels.
struct Drawn {
  Display *display;
  Pixmap pixmap;
  int w, h;
  Drawn(int width, int height, unsigned long bg) : w(width), h(height) {
    display = Tk_Display(testMainWindow());
    pixmap = makeFilledPixmap(testMainWindow(), w, h, bg);
  }
  ~Drawn() { Tk_FreePixmap(display, pixmap); }
  std::set<unsigned long> colours(int *x0, int *y0, int *x1, int *y1, unsigned long bg) {
    std::set<unsigned long> seen;
    XImage *image = XGetImage(display, pixmap, 0, 0, w, h, AllPlanes, ZPixmap);
    *x0 = *y0 = 1 << 20;
    *x1 = *y1 = -1;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        unsigned long p = XGetPixel(image, x, y);
        seen.insert(p);
        if (p != bg) {
          *x0 = std::min(*x0, x);
          *y0 = std::min(*y0, y);
          *x1 = std::max(*x1, x);
          *y1 = std::max(*y1, y);
        }
      }
    XDestroyImage(image);
    return seen;
  }
};

bool deep() { return testMainWindow() && Tk_Depth(testMainWindow()) == 24; }

}  // namespace

TEST(RotatedFont, ResolvesFacesAndStockNames) {
  if (!testMainWindow()) GTEST_SKIP();
  FontPtr helvetica(makeFont("Helvetica", 20, 0, 0));
  ASSERT_FALSE(helvetica->subfonts.empty());
  EXPECT_STRNE(helvetica->fa.family, "Helvetica");  // an installed alias stands in
  Tcl_ResetResult(testInterp());
  getSubFonts(testInterp(), helvetica.font);
  EXPECT_EQ(std::string(Tcl_GetStringResult(testInterp())).find("Helvetica"), std::string::npos);

  FontPtr dejavu(makeFont("DejaVu Sans", 20, 0, 0));
  EXPECT_STREQ(dejavu->fa.family, "DejaVu Sans");
  EXPECT_EQ(dejavu->pixelSize, 20);
  EXPECT_GT(dejavu->fm.ascent, 10);
  EXPECT_GT(dejavu->fm.descent, 0);

  Tcl_ResetResult(testInterp());
  getFontFamilies(testInterp(), testMainWindow());
  EXPECT_NE(std::string(Tcl_GetStringResult(testInterp())).find("DejaVu Sans"), std::string::npos);

  FontPtr ansi(getNativeRotatedFont(testMainWindow(), "ansi"));
  ASSERT_NE(ansi.font, nullptr);
  EXPECT_EQ(ansi->pixelSize, 13);
  EXPECT_EQ(getNativeRotatedFont(testMainWindow(), "Ansi"), nullptr);
  EXPECT_EQ(getNativeRotatedFont(testMainWindow(), "bogus"), nullptr);

  // Without the advanced mode the glyphs turn with the baseline.
  FontPtr turned(makeFont("DejaVu Sans", 20, 0, 90, 30, 0));
  EXPECT_EQ(turned->orientation, 90);
  // A record is refilled in place.
  TkFontAttributes fa = turned->fa;
  fa.size = -10;
  EXPECT_EQ(getRotatedFont(turned.font, testMainWindow(), &fa, 0, 45, 45, 0), turned.font);
  EXPECT_EQ(turned->pixelSize, 10);
  EXPECT_EQ(turned->escapement, 45);
}

TEST(RotatedFont, MeasuringFlags) {
  if (!testMainWindow()) GTEST_SKIP();
  FontPtr font(makeFont("DejaVu Sans", 20, 0, 0));
  int w5, w6, w;
  ASSERT_EQ(measure(font.font, "abc d", -1, 0, &w5), 5);
  ASSERT_EQ(measure(font.font, "abc de", -1, 0, &w6), 6);
  int max = (w5 + w6) / 2;
  ASSERT_GT(max, w5);
  struct Case {
    int flags, bytes;
  } cases[] = {{kMeasureWholeWords, 3}, {0, 5}, {kMeasurePartialOk, 6},
               {kMeasureWholeWords | kMeasurePartialOk, 3}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(measure(font.font, "abc def", max, c.flags, &w), c.bytes);
  }
  EXPECT_EQ(measure(font.font, "abc def", max, 0, &w), 5);
  EXPECT_EQ(w, w5);
  EXPECT_EQ(measure(font.font, "abc def", 1, 0, &w), 0);
  EXPECT_EQ(measure(font.font, "abc def", 1, kMeasureAtLeastOne, &w), 1);
  EXPECT_EQ(w, font->widths[static_cast<int>('a')]);
  EXPECT_EQ(measure(font.font, "", 100, 0, &w), 0);
  EXPECT_EQ(w, 0);
}

TEST(RotatedFont, WidthScaleSetsTheAdvance) {
  if (!testMainWindow()) GTEST_SKIP();
  FontPtr one(makeFont("DejaVu Sans", 20, 1.0, 0));
  FontPtr two(makeFont("DejaVu Sans", 20, 2.0, 0));
  const char *text = "abcdefghijklmnop";
  int w1, w2;
  measure(one.font, text, -1, 0, &w1);
  measure(two.font, text, -1, 0, &w2);
  EXPECT_NEAR(static_cast<double>(w2) / w1, 2.0, 0.08);
}

TEST(RotatedFont, CharacterWithoutFaceIsSearchedOnce) {
  if (!testMainWindow()) GTEST_SKIP();
  FontPtr font(makeFont("DejaVu Sans", 20, 0, 0));
  const char *text = "\xf3\xbf\xbf\xbd";  // U+FFFFD, private use: no face has it
  int w;
  measure(font.font, text, -1, 0, &w);
  size_t subfonts = font->subfonts.size();
  ASSERT_EQ(font->subfontOf.size(), 1u);
  EXPECT_EQ(font->subfontOf.begin()->second, 0);
  measure(font.font, text, -1, 0, &w);
  EXPECT_EQ(font->subfonts.size(), subfonts);
}

TEST(RotatedFont, DrawnTextMatchesItsMeasureAndAngle) {
  if (!deep()) GTEST_SKIP() << "needs a 24-bit display";
  const char *text = "Hello World";
  int len = static_cast<int>(strlen(text));
  for (int angle : {0, 90}) {
    SCOPED_TRACE(angle);
    FontPtr font(makeFont("DejaVu Sans", 20, 0, angle));
    int width;
    measure(font.font, text, -1, 0, &width);
    Drawn d(300, 300, 0xffffff);
    GC gc = XCreateGC(d.display, d.pixmap, 0, nullptr);
    XSetForeground(d.display, gc, 0x000000);
    drawChars(d.display, d.pixmap, gc, font.font, text, len, 100, 200);
    XFreeGC(d.display, gc);
    int x0, y0, x1, y1;
    std::set<unsigned long> seen = d.colours(&x0, &y0, &x1, &y1, 0xffffff);
    EXPECT_EQ(seen, (std::set<unsigned long>{0x000000, 0xffffff}));
    int inkW = x1 - x0 + 1, inkH = y1 - y0 + 1;
    if (angle == 0) {
      EXPECT_GT(inkW, 3 * inkH);
      EXPECT_NEAR(x0, 100, 3);
      EXPECT_NEAR(x1, 100 + width, 4);
      EXPECT_LT(y0, 200);
      EXPECT_LE(y1, 200 + font->fm.descent);
    } else {
      EXPECT_GT(inkH, 3 * inkW);  // tall and narrow
      EXPECT_NEAR(y1, 200, 3);
      EXPECT_NEAR(y0, 200 - width, 4);
      EXPECT_LT(x0, 100);  // the glyphs' tops point left
    }
    XRectangle box;
    ASSERT_EQ(rotatedInkBox(font.font, text, len, 100, 200, &box), 1);
    EXPECT_LE(box.x, x0);
    EXPECT_LE(box.y, y0);
    EXPECT_GE(box.x + box.width, x1);
    EXPECT_GE(box.y + box.height, y1);
  }
}

TEST(RotatedFont, DrawingHonoursFunctionStippleAndClip) {
  if (!deep()) GTEST_SKIP() << "needs a 24-bit display";
  FontPtr font(makeFont("DejaVu Sans", 24, 0, 30));
  const char *text = "XOR text";
  int len = static_cast<int>(strlen(text));
  {
    Drawn d(300, 300, 0x0f0f0f);
    GC gc = XCreateGC(d.display, d.pixmap, 0, nullptr);
    XSetForeground(d.display, gc, 0x123456);
    XSetFunction(d.display, gc, GXxor);
    drawChars(d.display, d.pixmap, gc, font.font, text, len, 50, 200);
    int x0, y0, x1, y1;
    EXPECT_EQ(d.colours(&x0, &y0, &x1, &y1, 0x0f0f0f),
              (std::set<unsigned long>{0x0f0f0f, 0x1d3b59}));
    // Drawing again with xor restores the background.
    drawChars(d.display, d.pixmap, gc, font.font, text, len, 50, 200);
    EXPECT_EQ(d.colours(&x0, &y0, &x1, &y1, 0x0f0f0f), (std::set<unsigned long>{0x0f0f0f}));
    XFreeGC(d.display, gc);
  }
  {
    // Stipple of vertical stripes (even columns set) and a clip rectangle.
    Drawn d(300, 300, 0xffffff);
    const char stripes[2] = {0x55, 0x55};
    Pixmap stipple = XCreateBitmapFromData(d.display, d.pixmap, stripes, 8, 2);
    GC gc = XCreateGC(d.display, d.pixmap, 0, nullptr);
    XSetForeground(d.display, gc, 0xff0000);
    XSetStipple(d.display, gc, stipple);
    XSetFillStyle(d.display, gc, FillOpaqueStippled);
    XSetTSOrigin(d.display, gc, 0, 0);
    XRectangle clip = {0, 0, 300, 150};
    XSetClipRectangles(d.display, gc, 0, 0, &clip, 1, Unsorted);
    drawChars(d.display, d.pixmap, gc, font.font, text, len, 50, 200);
    XImage *image = XGetImage(d.display, d.pixmap, 0, 0, 300, 300, AllPlanes, ZPixmap);
    int ink = 0, wrong = 0;
    for (int y = 0; y < 300; y++)
      for (int x = 0; x < 300; x++) {
        unsigned long p = XGetPixel(image, x, y);
        if (p == 0xffffff) continue;
        ink++;
        if (p != 0xff0000 || x % 2 == 1 || y >= 150) wrong++;
      }
    XDestroyImage(image);
    EXPECT_GT(ink, 20);
    EXPECT_EQ(wrong, 0);
    XFreeGC(d.display, gc);
    XFreePixmap(d.display, stipple);
  }
}
