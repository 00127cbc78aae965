// What masks and the stipple do to a gimg view on the screen: the pixels of
// a label showing the image are read back from the window.
#include <gtest/gtest.h>
#include <tk.h>

#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>

#include "display/capture.h"
#include "display/gimg.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"
#include "tests/unit/raster_files.h"

using namespace vesk;

namespace {

Tcl_Interp *maskInterp() {
  Tcl_Interp *interp = testInterp();
  if (!Tk_MainWindow(interp)) return nullptr;
  Gimg_Init(interp);
  return interp;
}

int eval(Tcl_Interp *interp, const std::string &script) {
  int code = Tcl_Eval(interp, script.c_str());
  if (code != TCL_OK) ADD_FAILURE() << script << ": " << Tcl_GetStringResult(interp);
  return code;
}

void dispose(RAMIMG *image) {
  if (!image) return;
  image->keepCount = 0;
  while (closeRAMImage(image, nullptr) > 0) {}
}

// A one-band BYTE memory image with pixel (x, y) = value(x, y).
RAMIMG *byteImage(const char *tag, int rows, int columns, const std::function<int(int, int)> &value) {
  ImageHeader h = rastertest::rawHeader(tag, IMG_MBSQ, P_BYTE, rows, columns, 1, 0, columns);
  RAMIMG *image = openRAMImage(tag, nullptr, &h, nullptr, nullptr);
  if (!image) return nullptr;
  for (int y = 0; y < rows; y++) {
    unsigned char *line = image->getLineProc(image, y, 0, 0);
    for (int x = 0; x < columns; x++) line[x] = static_cast<unsigned char>(value(x, y));
  }
  return image;
}

// A label on a blue background showing a gimg image; the RGB pixels of
// its area.  Pixels the mask keeps out show the background.
struct ShownImage {
  std::string label;
  RgbImage rgb;
  bool ok = false;
  ShownImage(const char *image, const char *label, int width, int height) : label(label) {
    std::string top = std::string(label).substr(0, std::string(label).rfind('.'));
    std::string script = "toplevel " + top + "; wm geometry " + top + " +0+0; label " + label +
                         " -image " + image +
                         " -bd 0 -highlightthickness 0 -padx 0 -pady 0 -anchor nw -bg #0000ff;"
                         " pack " + label + "; update; raise " + top + "; update";
    int code;
    std::string result = evalScript(script.c_str(), &code);
    if (code != TCL_OK) {
      ADD_FAILURE() << script << ": " << result;
      return;
    }
    Tk_Window tkwin = Tk_NameToWindow(testInterp(), label, testMainWindow());
    ok = tkwin && captureDrawableRgb(Tk_Display(tkwin), Tk_WindowId(tkwin), Tk_Colormap(tkwin),
                                     0, 0, width, height, rgb);
  }
  ~ShownImage() { evalScript(("destroy " + label.substr(0, label.rfind('.'))).c_str()); }
  unsigned at(int x, int y) const { return rgb.pixels[static_cast<size_t>(y) * rgb.width + x]; }
};

constexpr unsigned kBlue = 0x0000ff;
unsigned grey(int v) { return static_cast<unsigned>(v * 0x010101); }

}  // namespace

TEST(GimgMaskShown, HiddenValuesShowTheBackground) {
  Tcl_Interp *interp = maskInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  auto value = [](int x, int y) { return (x + y) % 3 == 0 ? 0 : 40 + x + y; };
  RAMIMG *image = byteImage("um_data", 8, 10, value);
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg umd -file um_data"), TCL_OK);
  ASSERT_EQ(eval(interp, "umd mask data off 0"), TCL_OK);
  {
    ShownImage shown("umd", ".umdt.l", 10, 8);
    ASSERT_TRUE(shown.ok);
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 10; x++)
        ASSERT_EQ(shown.at(x, y), value(x, y) == 0 ? kBlue : grey(value(x, y))) << x << "," << y;
  }
  // Switched off, the whole view is drawn again, zeros black.
  ASSERT_EQ(eval(interp, "umd mask off"), TCL_OK);
  {
    ShownImage shown("umd", ".umdt.l", 10, 8);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(shown.at(0, 0), grey(0));
    EXPECT_EQ(shown.at(1, 0), grey(41));
  }
  eval(interp, "image delete umd");
  dispose(image);
}

TEST(GimgMaskShown, MaskImageClassOnMagnifiedTurnedView) {
  Tcl_Interp *interp = maskInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = byteImage("um_val", 4, 6, [](int x, int y) { return 100 + 10 * y + x; });
  RAMIMG *mask = byteImage("um_cls", 4, 6, [](int x, int) { return x % 4; });
  ASSERT_NE(image, nullptr);
  ASSERT_NE(mask, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg umc -file um_val -maskfile um_cls -mx 2 -my 2 -rotate -1"),
            TCL_OK);
  ASSERT_EQ(eval(interp, "umc mask class 3"), TCL_OK);
  {
    // Turned left, display (dx, dy) shows view column 11 - dy and view row
    // dx, that is image column (11 - dy) / 2 and row dx / 2.
    ShownImage shown("umc", ".umct.l", 8, 12);
    ASSERT_TRUE(shown.ok);
    for (int dy = 0; dy < 12; dy++)
      for (int dx = 0; dx < 8; dx++) {
        const int x = (11 - dy) / 2, y = dx / 2;
        ASSERT_EQ(shown.at(dx, dy), x % 4 == 3 ? grey(100 + 10 * y + x) : kBlue) << dx << "," << dy;
      }
  }
  eval(interp, "image delete umc");
  dispose(image);
  dispose(mask);
}

TEST(GimgMaskShown, ClipPolygonsAndFrame) {
  Tcl_Interp *interp = maskInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = byteImage("um_clip", 10, 10, [](int, int) { return 90; });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg umf -file um_clip"), TCL_OK);
  ASSERT_EQ(eval(interp, "umf mask clip rc {0 0 6 6} rc {3 3 10 10}"), TCL_OK);
  {
    ShownImage shown("umf", ".umft.l", 10, 10);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(shown.at(1, 1), grey(90));
    EXPECT_EQ(shown.at(4, 4), kBlue);  // the overlap, left out by xor
    EXPECT_EQ(shown.at(8, 8), grey(90));
    EXPECT_EQ(shown.at(8, 1), kBlue);
  }
  // A static frame in view coordinates cuts the rest down further.
  ASSERT_EQ(eval(interp, "umf mask frame static; umf mask frame rc {0 0 2 10}"), TCL_OK);
  {
    ShownImage shown("umf", ".umft.l", 10, 10);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(shown.at(1, 1), grey(90));
    EXPECT_EQ(shown.at(8, 8), kBlue);
  }
  eval(interp, "image delete umf");
  dispose(image);
}

TEST(GimgMaskShown, StippleLaysTheForegroundOverTheView) {
  Tcl_Interp *interp = maskInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = byteImage("um_st", 8, 8, [](int, int) { return 60; });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg ums -file um_st -stipple gray50 -foreground red"), TCL_OK);
  {
    ShownImage shown("ums", ".umst.l", 8, 8);
    ASSERT_TRUE(shown.ok);
    int red = 0, view = 0;
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 8; x++) {
        const unsigned p = shown.at(x, y);
        if (p == 0xff0000) {
          red++;
        } else if (p == grey(60)) {
          view++;
        } else {
          ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << p;
        }
        // gray50 is a checkerboard: neighbours differ.
        if (x > 0) {
          EXPECT_NE(p, shown.at(x - 1, y));
        }
      }
    EXPECT_EQ(red, 32);
    EXPECT_EQ(view, 32);
  }
  ASSERT_EQ(eval(interp, "ums configure -stipple None"), TCL_OK);
  {
    ShownImage shown("ums", ".umst.l", 8, 8);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(shown.at(0, 0), grey(60));
    EXPECT_EQ(shown.at(1, 0), grey(60));
  }
  eval(interp, "image delete ums");
  dispose(image);
}
