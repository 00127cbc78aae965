// Captures of windows, pixmaps and toplevel frames, and images on the X
// CLIPBOARD: the process copy, image/png for other clients, foreign PNGs.
#include <gtest/gtest.h>

#include <string>

#include <X11/Xutil.h>

#include "display/capture.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

void expectRegion(const PaintedFrame &p, const RgbImage &image, int x0, int y0) {
  int wrong = 0;
  for (int y = 0; y < image.height; y++)
    for (int x = 0; x < image.width; x++)
      if (image.pixels[static_cast<size_t>(y * image.width + x)] != p.expected(x0 + x, y0 + y))
        wrong++;
  EXPECT_EQ(wrong, 0);
}

Tcl_Interp *secondInterp() {
  static Tcl_Interp *interp = nullptr;
  if (!interp) {
    interp = Tcl_CreateInterp();
    if (Tcl_Init(interp) != TCL_OK || Tk_Init(interp) != TCL_OK) return nullptr;
    Tcl_Eval(interp, "wm withdraw .");
  }
  return interp;
}

}  // namespace

TEST(Capture, WindowRegionEqualsTheDrawnPixels) {
  for (int depth : {24, 16, 8}) {
    SCOPED_TRACE(depth);
    Tk_Window host = depth == 24 ? testMainWindow() : windowAtDepth(depth);
    if (!host || Tk_Depth(host) != depth) {
      if (depth == 24) GTEST_SKIP() << "needs a 24-bit display";
      continue;
    }
    PaintedFrame p(depth == 24 ? "." : Tk_PathName(host), "cap");
    ASSERT_NE(p.frame, nullptr);
    Display *display = Tk_Display(p.frame);
    RgbImage image;
    ASSERT_EQ(captureDrawableRgb(display, Tk_WindowId(p.frame), Tk_Colormap(p.frame), 5, 3, 50,
                                 34, image), 1);
    EXPECT_EQ(image.width, 50);
    EXPECT_EQ(image.height, 34);
    expectRegion(p, image, 5, 3);

    Pixmap pixmap = makePixmapFromDrawable(display, Tk_WindowId(p.frame), Tk_Colormap(p.frame), 8,
                                           8, 30, 30);
    ASSERT_NE(pixmap, None);
    ASSERT_EQ(captureDrawableRgb(display, pixmap, Tk_Colormap(p.frame), 0, 0, 30, 30, image), 1);
    expectRegion(p, image, 8, 8);
    Tk_FreePixmap(display, pixmap);
  }
}

TEST(Capture, ToplevelIsTakenWithItsWholeFrame) {
  if (!testMainWindow() || Tk_Depth(testMainWindow()) != 24) GTEST_SKIP();
  PaintedFrame p(".", "frm");
  ASSERT_NE(p.frame, nullptr);
  Tk_Window top = Tk_Parent(p.frame);
  Display *display = Tk_Display(top);
  RgbImage image;
  ASSERT_EQ(captureDrawableRgb(display, Tk_WindowId(top), Tk_Colormap(top), 30, 30, 5, 5, image), 1);
  int x, y, w, h;
  ASSERT_EQ(getToplevelRect(testInterp(), (p.top + ".f").c_str(), &x, &y, &w, &h), TCL_OK);
  EXPECT_EQ(image.width, w);
  EXPECT_EQ(image.height, h);
  EXPECT_GE(w, 100);
  EXPECT_GE(h, 80);
  // The painted frame sits at (20, 20) inside the toplevel.
  int rx, ry;
  Window child;
  XTranslateCoordinates(display, Tk_WindowId(p.frame), RootWindowOfScreen(Tk_Screen(top)), 0, 0,
                        &rx, &ry, &child);
  EXPECT_EQ(image.pixels[static_cast<size_t>((ry - y + 15) * image.width + (rx - x + 15))],
            0xff0000u);
  EXPECT_EQ(getToplevelRect(testInterp(), ".noSuchWindow", &x, &y, &w, &h), TCL_ERROR);
  // Unmapped windows are trapped, not fatal.
  evalScript("frame .frm.hidden -width 10 -height 10; update");
  Tk_Window hidden = Tk_NameToWindow(testInterp(), ".frm.hidden", testMainWindow());
  Tk_MakeWindowExist(hidden);
  EXPECT_EQ(captureDrawableRgb(display, Tk_WindowId(hidden), Tk_Colormap(hidden), 0, 0, 5, 5,
                               image), 0);
}

TEST(Clipboard, ImageIsSharedInProcessAndOfferedAsPng) {
  if (!testMainWindow() || Tk_Depth(testMainWindow()) != 24) GTEST_SKIP();
  PaintedFrame p(".", "clip");
  ASSERT_NE(p.frame, nullptr);
  Display *display = Tk_Display(p.frame);
  ASSERT_EQ(copyDrawableToClipboard(display, Tk_WindowId(p.frame), 0, 0, 60, 40), 1);

  // Another interpreter of this process reads the process copy.
  Tcl_Interp *other = secondInterp();
  ASSERT_NE(other, nullptr);
  Tk_Window otherMain = Tk_MainWindow(other);
  RgbImage image;
  ASSERT_EQ(getClipboardImage(otherMain, image), 1);
  EXPECT_EQ(image.width, 60);
  expectRegion(p, image, 0, 0);
  int w = 0, h = 0;
  EXPECT_EQ(getClipboardBitmapSize(otherMain, &w, &h), 1);
  EXPECT_EQ(h, 40);

  // An X client asking for image/png gets the PNG bytes.
  ASSERT_EQ(Tcl_Eval(testInterp(), "selection get -selection CLIPBOARD -type TARGETS"), TCL_OK)
      << Tcl_GetStringResult(testInterp());
  EXPECT_NE(std::string(Tcl_GetStringResult(testInterp())).find("image/png"), std::string::npos);
  ASSERT_EQ(Tcl_Eval(testInterp(), "selection get -selection CLIPBOARD -type image/png"), TCL_OK)
      << Tcl_GetStringResult(testInterp());
  std::string bytes;
  for (const char *s = Tcl_GetStringResult(testInterp()); *s;) {
    char *end;
    unsigned long v = strtoul(s, &end, 0);
    if (end == s) {
      s++;
      continue;
    }
    bytes.push_back(static_cast<char>(v));
    s = end;
  }
  RgbImage fromPng;
  ASSERT_EQ(decodePng(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                      fromPng), 1);
  expectRegion(p, fromPng, 0, 0);

  Pixmap pixmap = makePixmapFromClipboard(testMainWindow(), &w, &h);
  ASSERT_NE(pixmap, None);
  RgbImage back;
  captureDrawableRgb(display, pixmap, Tk_Colormap(testMainWindow()), 0, 0, w, h, back);
  expectRegion(p, back, 0, 0);
  Tk_FreePixmap(display, pixmap);

  // Text put on the clipboard by Tk replaces the image: no image any more.
  evalScript("clipboard clear; clipboard append hello; update");
  EXPECT_EQ(getClipboardBitmapSize(testMainWindow(), &w, &h), 0);
  EXPECT_EQ(makePixmapFromClipboard(testMainWindow(), &w, &h), None);

  // A PNG offered by another owner is read.
  std::string png;
  RgbImage small;
  small.width = 3;
  small.height = 2;
  small.pixels = {0x102030, 0x405060, 0x708090, 0xa0b0c0, 0xd0e0f0, 0x000000};
  ASSERT_EQ(encodePng(small, png), 1);
  std::string words;
  for (unsigned char c : png) words += " 0x" + [](unsigned v) {
    char buf[8];
    snprintf(buf, sizeof buf, "%02x", v);
    return std::string(buf);
  }(c);
  Tcl_SetVar(testInterp(), "pngWords", words.c_str(), TCL_GLOBAL_ONLY);
  int code;
  evalScript("clipboard clear; clipboard append -type image/png -format image/png $pngWords",
             &code);
  ASSERT_EQ(code, TCL_OK);
  RgbImage foreign;
  ASSERT_EQ(getClipboardImage(otherMain, foreign), 1);
  EXPECT_EQ(foreign.pixels, small.pixels);
  evalScript("clipboard clear");
  clearLocalClipboard();
}

TEST(Capture, BitmapsDuplicatedThroughTheirBitsAndDrawableDepths) {
  Tk_Window main = testMainWindow();
  ASSERT_NE(main, nullptr);
  Display *display = Tk_Display(main);
  Tk_MakeWindowExist(main);
  Window window = Tk_WindowId(main);
  // A 1-bit bitmap of known bits and a pixmap of the screen's depth.
  static const unsigned char bits[] = {0x0f, 0x01, 0x5a, 0x00, 0xf0, 0x01};  // 9 x 3
  Pixmap bitmap = XCreateBitmapFromData(display, window, reinterpret_cast<const char *>(bits), 9, 3);
  Pixmap deep = Tk_GetPixmap(display, window, 7, 5, Tk_Depth(main));
  GC gc = XCreateGC(display, deep, 0, nullptr);
  XSetForeground(display, gc, 0x123456 & ((1ul << Tk_Depth(main)) - 1));
  XFillRectangle(display, deep, gc, 0, 0, 7, 5);
  XSetForeground(display, gc, 0);
  XDrawPoint(display, deep, gc, 3, 2);
  XFreeGC(display, gc);
  struct Case {
    Pixmap source;
    int width, height, depth;
  } cases[] = {{bitmap, 9, 3, 1}, {deep, 7, 5, Tk_Depth(main)}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.depth);
    EXPECT_EQ(getDrawableDepth(display, c.source), c.depth);
    Pixmap copy = duplicateBitmap(display, c.source);
    ASSERT_NE(copy, None);
    EXPECT_NE(copy, c.source);
    EXPECT_EQ(getDrawableDepth(display, copy), c.depth);
    XImage *a = getDrawableImage(display, c.source, 0, 0, c.width, c.height);
    XImage *b = getDrawableImage(display, copy, 0, 0, c.width, c.height);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    int differ = 0;
    for (int y = 0; y < c.height; y++)
      for (int x = 0; x < c.width; x++) differ += XGetPixel(a, x, y) != XGetPixel(b, x, y);
    EXPECT_EQ(differ, 0);
    if (c.depth == 1) {
      EXPECT_EQ(XGetPixel(b, 0, 0), 1u);
      EXPECT_EQ(XGetPixel(b, 4, 0), 0u);
      EXPECT_EQ(XGetPixel(b, 8, 0), 1u);
    }
    XDestroyImage(a);
    XDestroyImage(b);
    Tk_FreePixmap(display, copy);
  }
  // A window has its own depth; no drawable, or one that does not exist,
  // gives the screen's.
  EXPECT_EQ(getDrawableDepth(display, window), Tk_Depth(main));
  EXPECT_EQ(getDrawableDepth(display, None), DefaultDepth(display, DefaultScreen(display)));
  EXPECT_EQ(getDrawableDepth(display, bitmap + 0x7fff), DefaultDepth(display, DefaultScreen(display)));
  EXPECT_EQ(duplicateBitmap(display, None), static_cast<Pixmap>(None));
  EXPECT_EQ(duplicateBitmap(display, bitmap + 0x7fff), static_cast<Pixmap>(None));
  XFreePixmap(display, bitmap);
  Tk_FreePixmap(display, deep);
}
