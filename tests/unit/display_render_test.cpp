// Rendering of gimg views: lookup tables, axis maps, the row renderers and
// what a label that shows a gimg image puts on the screen, read back with
// XGetImage and compared with the image's pixels through the view's maps.
#include <gtest/gtest.h>
#include <tk.h>

#include <X11/Xutil.h>
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "display/capture.h"
#include "display/gimg.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"
#include "tests/unit/raster_files.h"

extern char **environ;

using namespace vesk;

namespace {

Tcl_Interp *renderInterp() {
  Tcl_Interp *interp = testInterp();
  if (!Tk_MainWindow(interp)) return nullptr;
  Gimg_Init(interp);
  return interp;
}

void dispose(RAMIMG *image) {
  if (!image) return;
  image->keepCount = 0;
  while (closeRAMImage(image, nullptr) > 0) {}
}

// A registered memory image whose band b at (x, y) is value(x, y, b).
RAMIMG *patternImage(const char *tag, int pixelid, int rows, int columns, int bands,
                     const std::function<double(int, int, int)> &value) {
  const int bytes = pixelLineBytes(pixelid, columns);
  ImageHeader h = rastertest::rawHeader(tag, IMG_MBSQ, pixelid, rows, columns, bands, 0, bytes);
  RAMIMG *image = openRAMImage(tag, nullptr, &h, nullptr, nullptr);
  if (!image) return nullptr;
  for (int b = 0; b < bands; b++)
    for (int y = 0; y < rows; y++) {
      unsigned char *line = image->getLineProc(image, y, b, 0);
      for (int x = 0; x < columns; x++) {
        const double v = value(x, y, b);
        switch (pixelid) {
        case P_BYTE: line[x] = static_cast<unsigned char>(v); break;
        case P_SHORT: {
          int16_t s = static_cast<int16_t>(v);
          memcpy(line + 2 * x, &s, 2);
          break;
        }
        case P_4BITS:
          if (x % 2 == 0) line[x / 2] = static_cast<unsigned char>(static_cast<int>(v) << 4);
          else line[x / 2] |= static_cast<unsigned char>(static_cast<int>(v) & 15);
          break;
        default: break;
        }
      }
    }
  return image;
}

// A label showing a gimg image with no border, raised and drawn; the RGB
// pixels of its area.
struct ShownImage {
  std::string label;
  RgbImage rgb;
  bool ok = false;
  ShownImage(const char *image, const char *label, int width, int height) : label(label) {
    std::string top = std::string(label).substr(0, std::string(label).rfind('.'));
    std::string script = "toplevel " + top + "; wm geometry " + top + " +0+0; label " + label +
                         " -image " + image +
                         " -bd 0 -highlightthickness 0 -padx 0 -pady 0 -anchor nw;"
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
  ~ShownImage() {
    std::string top = label.substr(0, label.rfind('.'));
    evalScript(("destroy " + top).c_str());
  }
  unsigned at(int x, int y) const { return rgb.pixels[static_cast<size_t>(y) * rgb.width + x]; }
};

unsigned grey(int v) { return static_cast<unsigned>(v * 0x010101); }

int eval(Tcl_Interp *interp, const std::string &script) {
  int code = Tcl_Eval(interp, script.c_str());
  if (code != TCL_OK) ADD_FAILURE() << script << ": " << Tcl_GetStringResult(interp);
  return code;
}

}  // namespace

// ---- lookup tables ----

TEST(GimgLut, ToneCurveModes) {
  EXPECT_NEAR(toneCurve(0.25, 2, 1), pow(0.5 + 1e-11, 2) * 0.5, 1e-12);
  EXPECT_NEAR(toneCurve(0.75, 2, 1), 0.875, 1e-9);
  EXPECT_EQ(toneCurve(0.3, 2, 2), 0.3);
  EXPECT_EQ(toneCurve(0, 2, 0), 0);
  EXPECT_NEAR(toneCurve(0.5, 2, 0), 0.25, 1e-9);
}

TEST(GimgLut, FillToneLutIdentityFlatAndFalling) {
  unsigned char lut[256];
  fillToneLut(lut, 256, 0, 255, 0, 255, nullptr, 1.0, 0);
  for (int i = 0; i < 256; i++) ASSERT_EQ(lut[i], i) << i;
  fillToneLut(lut, 256, 40, 200, 100, 100, nullptr, 1.0, 0);
  for (int i = 0; i < 256; i++) ASSERT_EQ(lut[i], 40) << i;
  fillToneLut(lut, 256, 255, 0, 0, 255, nullptr, 1.0, 0);
  EXPECT_EQ(lut[0], 255);
  EXPECT_EQ(lut[255], 0);
  for (int i = 1; i < 256; i++) ASSERT_LE(lut[i], lut[i - 1]) << i;
}

TEST(GimgLut, QuantizeAndPaletteIndexMap) {
  unsigned char lut[4] = {0, 7, 8, 250};
  quantizeLut(lut, 4, 16, 240);
  EXPECT_EQ(std::vector<int>(lut, lut + 4), (std::vector<int>{0, 0, 16, 240}));
  unsigned char table[256], work[256];
  for (int i = 0; i < 256; i++) table[i] = static_cast<unsigned char>(255 - i);
  const unsigned char palette[6] = {10, 20, 30, 40, 50, 60};
  EXPECT_EQ(paletteIndexMap(0, palette, 1, work, table), table);
  const unsigned char *map = paletteIndexMap(2, palette, 1, work, table);
  EXPECT_EQ(map[0], 255 - 20);
  EXPECT_EQ(map[1], 255 - 50);
}

// The histogram functions against images with known value counts.
TEST(GimgLut, HistogramStretchAndConstantBand) {
  Tcl_Interp *interp = renderInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  // Three values of equal count: HISTS spreads them to 0, 127 and 255.
  RAMIMG *image = patternImage("ut_hists", P_BYTE, 12, 12, 1, [](int x, int, int) {
    return x < 4 ? 50 : (x < 8 ? 100 : 150);
  });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg uh -file ut_hists -func HISTS -range UNKNOWN -palette 64"), TCL_OK);
  GimgMaster *master = findGimg(interp, "uh");
  ASSERT_NE(master, nullptr);
  EXPECT_EQ(master->channelLut[0][0], 0);
  EXPECT_EQ(master->channelLut[0][50], 0);
  EXPECT_EQ(master->channelLut[0][100], 127);
  EXPECT_EQ(master->channelLut[0][150], 255);
  // A constant band keeps its configured range and gets a plain table.
  eval(interp, "image delete uh");
  dispose(image);
  image = patternImage("ut_flat", P_BYTE, 8, 8, 1, [](int, int, int) { return 77; });
  ASSERT_EQ(eval(interp, "image create gimg uf -file ut_flat -func LINEAR"), TCL_OK);
  master = findGimg(interp, "uf");
  for (int i = 0; i < 256; i++) ASSERT_EQ(master->channelLut[0][i], i) << i;
  EXPECT_EQ(master->low[0], 0);
  EXPECT_EQ(master->high[0], 255);
  // LINEAR with MEAN stretches mean -/+ std x factor onto the whole range.
  eval(interp, "image delete uf");
  dispose(image);
  image = patternImage("ut_lin", P_BYTE, 8, 8, 1, [](int x, int, int) { return x < 4 ? 100 : 140; });
  ASSERT_EQ(eval(interp, "image create gimg ul -file ut_lin -func LINEAR -range MEAN -std 1"), TCL_OK);
  master = findGimg(interp, "ul");
  EXPECT_EQ(master->low[0], 100);
  EXPECT_EQ(master->high[0], 140);
  EXPECT_EQ(master->channelLut[0][100], 0);
  EXPECT_EQ(master->channelLut[0][140], 255);
  eval(interp, "image delete ul");
  dispose(image);
}

// ---- axis maps ----

TEST(GimgView, AxisMapsMagnifyMirrorAndInvert) {
  AxisMap map;
  EXPECT_EQ(setAxisMap(&map, 0, 0, 0, 1), nullptr);
  EXPECT_EQ(map.index, nullptr);
  struct Case { int flip; double scale; std::vector<int> expected; } cases[] = {
      {0, 2, {0, 0, 1, 1, 2, 2}},
      {1, 2, {2, 2, 1, 1, 0, 0}},
      {0, -2, {2, 2, 1, 1, 0, 0}},
      {1, -2, {0, 0, 1, 1, 2, 2}},
      {0, 0.5, {0, 2, 4, 6, 8, 10}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "flip " << c.flip << " scale " << c.scale);
    ASSERT_EQ(setAxisMap(&map, 6, 0, c.flip, c.scale), &map);
    EXPECT_EQ(std::vector<int>(map.index, map.index + 6), c.expected);
    for (double p : {0.0, 1.0, 2.0}) EXPECT_NEAR(axisMapToImage(&map, axisMapToScreen(&map, p)), p, 1e-9);
  }
  setAxisMap(&map, 6, 3, 0, 1);
  int first, end;
  axisMapRange(&map, 5, &first, &end);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(end, 2);
  AxisMap *slice = axisMapSlice(&map, -2, 4);
  ASSERT_NE(slice, nullptr);
  EXPECT_EQ(std::vector<int>(slice->index, slice->index + 4), (std::vector<int>{-1, -1, 3, 4}));
  deleteAxisMap(slice);
  freeAxisMapArray(&map);
}

// ---- row kernels ----

TEST(GimgRender, FilterLineEmbossSharpnessAndSmoothing) {
  std::vector<unsigned char> flat(8, 90), previous(8, 0);
  filterLine(8, flat.data(), previous.data(), 1, -1, 1, 0);
  EXPECT_EQ(flat, std::vector<unsigned char>(8, 192));
  std::vector<unsigned char> line = {10, 200, 30, 40}, copy = line;
  previous.assign(4, 0);
  filterLine(4, line.data(), previous.data(), 0, 0, 1, 0);
  EXPECT_EQ(line, copy);
  EXPECT_EQ(previous, copy);
  // Smoothing of -1 on a row equal to the one above: w x left + (1 - w) x cur.
  line = {0, 100};
  previous = line;
  filterLine(2, line.data(), previous.data(), -1, 0, 0, 0);
  const double w = 0.75 * exp(-1.0) + 0.25;
  EXPECT_EQ(line[1], static_cast<int>((1 - w) / 3 * 200 + 0.5));
}

TEST(GimgRender, DitherLineAddsLevelsAndCarriesErrors) {
  unsigned char lut[256], levels[256], errors[256];
  for (int i = 0; i < 256; i++) {
    lut[i] = static_cast<unsigned char>(i);
    levels[i] = i < 128 ? 0 : 1;
    errors[i] = static_cast<unsigned char>(static_cast<signed char>(i < 128 ? i / 2 : (i - 255) / 2));
  }
  const unsigned char values[4] = {100, 100, 100, 100};
  unsigned char index[4] = {0, 0, 0, 0};
  signed char errorLine[5] = {0, 0, 0, 0, 0};
  ditherLine(4, index, values, lut, levels, errors, errorLine, 0, 0);
  EXPECT_EQ(std::vector<int>(index, index + 4), (std::vector<int>{0, 0, 0, 0}));
  // Kind 1 on an even row carries the error to the right: 100, 150 -> 1, ...
  ditherLine(4, index, values, lut, levels, errors, errorLine, 1, 0);
  EXPECT_EQ(index[0], 0);
  EXPECT_EQ(index[1], 1);
}

// ---- what a widget shows ----

TEST(GimgShow, GreyByteImageAtMagnificationOne) {
  Tcl_Interp *interp = renderInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = patternImage("ut_grey", P_BYTE, 12, 20, 1,
                               [](int x, int y, int) { return x * 12 + y; });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg ug -file ut_grey"), TCL_OK);
  {
    ShownImage shown("ug", ".ugt.l", 20, 12);
    ASSERT_TRUE(shown.ok);
    for (int y = 0; y < 12; y++)
      for (int x = 0; x < 20; x++) ASSERT_EQ(shown.at(x, y), grey(x * 12 + y)) << x << "," << y;
  }
  // -contrast -1 inverts the table: the label shows 255 - value.
  ASSERT_EQ(eval(interp, "ug configure -contrast -1"), TCL_OK);
  {
    ShownImage shown("ug", ".ugt.l", 20, 12);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(shown.at(0, 0), grey(255));
    EXPECT_EQ(shown.at(19, 11), grey(255 - (19 * 12 + 11)));
  }
  eval(interp, "image delete ug");
  dispose(image);
}

TEST(GimgShow, ThreeBandImageInColour) {
  Tcl_Interp *interp = renderInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = patternImage("ut_rgb", P_BYTE, 10, 16, 3, [](int x, int y, int b) {
    return b == 0 ? x * 16 : (b == 1 ? y * 25 : 255 - x * 8);
  });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg uc -file ut_rgb -comb 1/2/3 -palette 8/8/4"), TCL_OK);
  {
    ShownImage shown("uc", ".uct.l", 16, 10);
    ASSERT_TRUE(shown.ok);
    for (int y = 0; y < 10; y++)
      for (int x = 0; x < 16; x++) {
        const unsigned expected = static_cast<unsigned>((x * 16) << 16 | (y * 25) << 8 | (255 - x * 8));
        ASSERT_EQ(shown.at(x, y), expected) << x << "," << y;
      }
  }
  // Bands swapped by -comb.
  ASSERT_EQ(eval(interp, "uc configure -comb 3/2/1"), TCL_OK);
  {
    ShownImage shown("uc", ".uct.l", 16, 10);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(shown.at(2, 3), static_cast<unsigned>((255 - 16) << 16 | 75 << 8 | 32));
  }
  eval(interp, "image delete uc");
  dispose(image);
}

// Magnified, mirrored and turned views show the image pixel the inverse
// conversion names at every display pixel.
TEST(GimgShow, MagnifiedMirroredAndTurnedViews) {
  Tcl_Interp *interp = renderInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = patternImage("ut_geo", P_BYTE, 9, 13, 1,
                               [](int x, int y, int) { return x * 19 + y; });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg uv -file ut_geo"), TCL_OK);
  GimgMaster *master = findGimg(interp, "uv");
  struct Case { const char *options; int width, height; } cases[] = {
      {"-mx 2 -my 3", 26, 27},
      {"-mx 1.5 -my 1.5 -xflip 1", 20, 14},
      {"-mx 1 -my 1 -xflip 0 -yflip 1", 13, 9},
      {"-mx 2 -my 1 -yflip 0 -rotate 1", 9, 26},
      {"-mx 1 -my 2 -rotate -1", 18, 13},
      {"-mx 1 -my 1 -rotate 0 -sc 4 -sr 2", 9, 7},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options);
    ASSERT_EQ(eval(interp, std::string("uv configure ") + c.options), TCL_OK);
    ShownImage shown("uv", ".uvt.l", c.width, c.height);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(master->viewPixmap.width, c.width);
    EXPECT_EQ(master->viewPixmap.height, c.height);
    for (int y = 0; y < c.height; y++)
      for (int x = 0; x < c.width; x++) {
        double ix, iy;
        displayToImage(master, x, y, &ix, &iy);
        const int col = static_cast<int>(floor(ix + 1e-9)), row = static_cast<int>(floor(iy + 1e-9));
        ASSERT_EQ(shown.at(x, y), grey(col * 19 + row)) << x << "," << y;
        double bx, by;
        imageToDisplay(master, col, row, &bx, &by);
      }
  }
  eval(interp, "image delete uv");
  dispose(image);
}

// A turned view of more than 256 rows goes out in two column blocks.
TEST(GimgShow, TurnedViewInBlocksAndTurbo) {
  Tcl_Interp *interp = renderInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = patternImage("ut_tall", P_BYTE, 300, 4, 1,
                               [](int x, int y, int) { return (y + x * 50) % 256; });
  ASSERT_NE(image, nullptr);
  for (const char *turbo : {"0", "1"}) {
    SCOPED_TRACE(turbo);
    ASSERT_EQ(eval(interp, std::string("image create gimg ut -file ut_tall -rotate 1 -turbo ") + turbo), TCL_OK);
    ShownImage shown("ut", ".utt.l", 300, 4);
    ASSERT_TRUE(shown.ok);
    // Turned right: view row v lands in column 299 - v, view column c in row c.
    for (int v : {0, 1, 43, 44, 255, 256, 299})
      for (int c = 0; c < 4; c++) ASSERT_EQ(shown.at(299 - v, c), grey((v + c * 50) % 256)) << v;
    eval(interp, "image delete ut");
  }
  dispose(image);
}

TEST(GimgShow, ShortAndNibbleImages) {
  Tcl_Interp *interp = renderInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  // SHORT with -low0 equal to -high0: 0 below, 255 from there on.
  RAMIMG *image = patternImage("ut_short", P_SHORT, 2, 6, 1,
                               [](int x, int, int) { return x * 1000 - 2000; });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg us -file ut_short -low0 1000 -high0 1000"), TCL_OK);
  {
    ShownImage shown("us", ".ust.l", 6, 2);
    ASSERT_TRUE(shown.ok);
    const int expected[6] = {0, 0, 0, 255, 255, 255};
    for (int x = 0; x < 6; x++) EXPECT_EQ(shown.at(x, 1), grey(expected[x])) << x;
  }
  // A range of 0..4000 scales linearly.
  ASSERT_EQ(eval(interp, "us configure -low0 0 -high0 4000"), TCL_OK);
  {
    ShownImage shown("us", ".ust.l", 6, 2);
    ASSERT_TRUE(shown.ok);
    EXPECT_EQ(shown.at(0, 0), grey(0));
    EXPECT_EQ(shown.at(3, 0), grey(static_cast<int>(0.5 + 1000 * 255.0 / 4000)));
    EXPECT_EQ(shown.at(5, 0), grey(191));  // 3000 of 4000
  }
  eval(interp, "image delete us");
  dispose(image);
  // 4BITS, most significant nibble first.
  image = patternImage("ut_nib", P_4BITS, 1, 4, 1, [](int x, int, int) { return x + 1; });
  ASSERT_NE(image, nullptr);
  image->header.msbf = 1;
  ASSERT_EQ(eval(interp, "image create gimg un -file ut_nib"), TCL_OK);
  {
    ShownImage shown("un", ".unt.l", 4, 1);
    ASSERT_TRUE(shown.ok);
    for (int x = 0; x < 4; x++) EXPECT_EQ(shown.at(x, 0), grey(x + 1)) << x;
  }
  eval(interp, "image delete un");
  dispose(image);
}

TEST(GimgShow, TiledViewCoversTheWidget) {
  Tcl_Interp *interp = renderInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = patternImage("ut_tile", P_BYTE, 3, 5, 1,
                               [](int x, int y, int) { return 10 + x * 40 + y; });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg uti -file ut_tile -tile 1 -tw 12 -th 7"), TCL_OK);
  {
    ShownImage shown("uti", ".utit.l", 12, 7);
    ASSERT_TRUE(shown.ok);
    for (int y = 0; y < 7; y++)
      for (int x = 0; x < 12; x++)
        ASSERT_EQ(shown.at(x, y), grey(10 + (x % 5) * 40 + y % 3)) << x << "," << y;
  }
  eval(interp, "image delete uti");
  dispose(image);
}

// Render mode 1 renders each exposed area (with a margin) into temporary
// pixmaps through slices of the maps, and keeps nothing cached.
TEST(GimgShow, RenderModeOneUsesTemporaries) {
  Tcl_Interp *interp = renderInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = patternImage("ut_mode", P_BYTE, 7, 11, 1,
                               [](int x, int y, int) { return x * 20 + y; });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg um -file ut_mode"), TCL_OK);
  GimgMaster *master = findGimg(interp, "um");
  setGimgRenderMode(1);
  for (const char *options : {"-mx 2 -my 2 -rotate 0", "-mx 2 -my 1 -rotate 1", "-rotate -1"}) {
    SCOPED_TRACE(options);
    ASSERT_EQ(eval(interp, std::string("um configure ") + options), TCL_OK);
    const int w = master->viewPixmap.width, h = master->viewPixmap.height;
    ShownImage shown("um", ".umt.l", w, h);
    ASSERT_TRUE(shown.ok);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) {
        double ix, iy;
        displayToImage(master, x, y, &ix, &iy);
        ASSERT_EQ(shown.at(x, y), grey(static_cast<int>(floor(ix + 1e-9)) * 20 +
                                       static_cast<int>(floor(iy + 1e-9))))
            << x << "," << y;
      }
    EXPECT_EQ(master->viewPixmap.pixmap, 0u);
    EXPECT_EQ(master->viewValid, 0);
  }
  setGimgRenderMode(0);
  eval(interp, "image delete um");
  dispose(image);
}

// A gimg that shows another gimg's image through "copy" draws the source's
// pixels around the centre it was given; a changed rectangle of the image
// is drawn again.
TEST(GimgShow, CopyViewAndChangedRectangle) {
  Tcl_Interp *interp = renderInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  RAMIMG *image = patternImage("ut_src", P_BYTE, 30, 30, 1,
                               [](int x, int y, int) { return x * 6 + y; });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg usrc -file ut_src; image create gimg udst -width 8 -height 6;"
                         " toplevel .udt; wm geometry .udt +0+0; label .udt.l -image udst -bd 0"
                         " -highlightthickness 0 -padx 0 -pady 0; pack .udt.l; update;"
                         " udst copy usrc 15 12 1 1; update; raise .udt; update"),
            TCL_OK);
  {
    Tk_Window tkwin = Tk_NameToWindow(interp, ".udt.l", testMainWindow());
    RgbImage shown;
    ASSERT_TRUE(captureDrawableRgb(Tk_Display(tkwin), Tk_WindowId(tkwin), Tk_Colormap(tkwin), 0, 0,
                                   8, 6, shown));
    // Centre (15, 12), 8 x 6 view: columns from 11, rows from 9.
    for (int y = 0; y < 6; y++)
      for (int x = 0; x < 8; x++)
        ASSERT_EQ(shown.pixels[y * 8 + x], grey((11 + x) * 6 + 9 + y)) << x << "," << y;
  }
  eval(interp, "destroy .udt; image delete udst");

  ASSERT_EQ(eval(interp, "image create gimg urect -file ut_src"), TCL_OK);
  {
    ShownImage shown("urect", ".urt.l", 30, 30);
    ASSERT_TRUE(shown.ok);
    for (int y = 4; y < 6; y++) {
      unsigned char *line = image->getLineProc(image, y, 0, 1);
      for (int x = 2; x < 5; x++) line[x] = 250;
    }
    updateClientRect(image, nullptr, 2, 4, 3, 2);
    evalScript("update");
    Tk_Window tkwin = Tk_NameToWindow(interp, ".urt.l", testMainWindow());
    RgbImage after;
    ASSERT_TRUE(captureDrawableRgb(Tk_Display(tkwin), Tk_WindowId(tkwin), Tk_Colormap(tkwin), 0, 0,
                                   30, 30, after));
    EXPECT_EQ(after.pixels[4 * 30 + 2], grey(250));
    EXPECT_EQ(after.pixels[5 * 30 + 4], grey(250));
    EXPECT_EQ(after.pixels[6 * 30 + 4], grey(4 * 6 + 6));
  }
  eval(interp, "image delete usrc urect");
  dispose(image);
}

// ---- other display depths ----
//
// A master draws on the display of the application's main window, so the
// 8-bit (palette) and 16-bit paths run in a child copy of this program
// whose display is a private Xvfb of that depth.

namespace {

const char *kChildDepth = "VESK_RENDER_CHILD_DEPTH";

// Starts Xvfb at a depth; its pid and display number, or -1.
pid_t startDepthServer(int depth, int *number) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  std::string fdText = std::to_string(fds[1]);
  std::string screen = "320x240x" + std::to_string(depth);
  std::vector<const char *> argv = {"Xvfb", "-displayfd", fdText.c_str(), "-screen", "0",
                                    screen.c_str(), "-nolisten", "tcp", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char **>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string text;
  char c;
  while (rc == 0 && read(fds[0], &c, 1) == 1 && c != '\n') text += c;
  close(fds[0]);
  if (rc != 0) return -1;
  if (text.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  *number = std::stoi(text);
  return pid;
}

}  // namespace

// Runs in the child: a grey ramp image and an RGB image on this display.
TEST(GimgDepthChild, GreyAndColourImages) {
  const char *depthText = getenv(kChildDepth);
  if (!depthText) GTEST_SKIP() << "runs in the child of GimgDepth";
  Tcl_Interp *interp = renderInterp();
  ASSERT_NE(interp, nullptr);
  ASSERT_EQ(Tk_Depth(testMainWindow()), atoi(depthText));
  RAMIMG *image = patternImage("ut_dgrey", P_BYTE, 8, 32, 1, [](int x, int, int) { return x * 8; });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg dg -file ut_dgrey"), TCL_OK);
  {
    ShownImage shown("dg", ".dgt.l", 32, 8);
    ASSERT_TRUE(shown.ok);
    int previous = -1;
    for (int x = 0; x < 32; x++) {
      const unsigned p = shown.at(x, 4);
      const int r = static_cast<int>(p >> 16), g = static_cast<int>((p >> 8) & 255), b = static_cast<int>(p & 255);
      EXPECT_NEAR(r, x * 8, 10) << x;
      EXPECT_NEAR(g, x * 8, 10) << x;
      EXPECT_NEAR(b, x * 8, 10) << x;
      EXPECT_GE(r, previous) << x;
      previous = r;
    }
  }
  eval(interp, "image delete dg");
  dispose(image);
  if (atoi(depthText) == 8) {
    // Dithering a flat grey between two ramp levels: the area's mean stays
    // near the value for every dither kind.
    image = patternImage("ut_dflat", P_BYTE, 16, 16, 1, [](int, int, int) { return 100; });
    ASSERT_NE(image, nullptr);
    for (const char *kind : {"1", "2", "3", "4"}) {
      SCOPED_TRACE(kind);
      ASSERT_EQ(eval(interp, std::string("image create gimg dd -file ut_dflat -palette 8 -dither ") + kind), TCL_OK);
      ShownImage shown("dd", ".ddt.l", 16, 16);
      ASSERT_TRUE(shown.ok);
      double sum = 0;
      int levels = 0, previous = -1;
      for (int i = 0; i < 256; i++) {
        const int v = static_cast<int>(shown.rgb.pixels[i] & 255);
        sum += v;
        if (v != previous && previous >= 0) levels = 1;
        previous = v;
      }
      EXPECT_NEAR(sum / 256, 100, 8);
      EXPECT_EQ(levels, 1) << "a flat value between levels mixes two of them";
      eval(interp, "image delete dd");
    }
    dispose(image);
  }
  image = patternImage("ut_dcol", P_BYTE, 4, 4, 3, [](int x, int, int b) {
    const int colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    return colours[x][b];
  });
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(eval(interp, "image create gimg dc -file ut_dcol -comb 1/2/3 -palette 8/8/4"), TCL_OK);
  {
    ShownImage shown("dc", ".dct.l", 4, 4);
    ASSERT_TRUE(shown.ok);
    const unsigned expected[4] = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff};
    for (int x = 0; x < 4; x++)
      for (int shift : {16, 8, 0})
        EXPECT_NEAR(static_cast<int>((shown.at(x, 1) >> shift) & 255),
                    static_cast<int>((expected[x] >> shift) & 255), 8) << x;
  }
  eval(interp, "image delete dc");
  dispose(image);
}

TEST(GimgDepth, PaletteAndSixteenBitDisplays) {
  if (getenv(kChildDepth)) GTEST_SKIP() << "the child runs the depth tests only";
  for (int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    int number = 0;
    pid_t server = startDepthServer(depth, &number);
    if (server < 0) GTEST_SKIP() << "Xvfb cannot run";
    std::string display = "DISPLAY=:" + std::to_string(number);
    std::string depthVar = std::string(kChildDepth) + "=" + std::to_string(depth);
    std::vector<std::string> env;
    for (char **e = environ; *e; e++)
      if (strncmp(*e, "DISPLAY=", 8) != 0) env.push_back(*e);
    env.push_back(display);
    env.push_back(depthVar);
    std::vector<char *> envp;
    for (auto &s : env) envp.push_back(&s[0]);
    envp.push_back(nullptr);
    const char *argv[] = {"/proc/self/exe", "--gtest_filter=GimgDepthChild.*", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    pid_t child = -1;
    int rc = posix_spawn(&child, "/proc/self/exe", &actions, nullptr, const_cast<char **>(argv),
                         envp.data());
    posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    if (rc == 0) waitpid(child, &status, 0);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  }
}
