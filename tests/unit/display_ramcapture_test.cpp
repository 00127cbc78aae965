// RAM images made from window captures, pixmaps, the clipboard's image and
// packed DIBs in memory.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "display/capture.h"
#include "raster/ramimg.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

// Drops every reference, so the registry is left as the test found it.
void dispose(RAMIMG *image) {
  if (!image) return;
  image->keepCount = 0;
  while (closeRAMImage(image, nullptr) > 0) {}
}

const unsigned char *line(RAMIMG *image, int row, int band) {
  return image->getLineProc(image, row, band, 1);
}

// The colour (0xrrggbb) of a pixel of a capture: bands blue, green, red,
// or one band of indexes into the palette.
unsigned colourAt(RAMIMG *image, int x, int y) {
  const ImageHeader &h = image->header;
  if (h.nbands == 1) {
    const unsigned char *p = h.palette[line(image, y, 0)[x]];
    return (p[0] << 16) | (p[1] << 8) | p[2];
  }
  return (line(image, y, 2)[x] << 16) | (line(image, y, 1)[x] << 8) | line(image, y, 0)[x];
}

// A packed DIB: 40-byte header, colour table of quads, rows as given.
std::vector<unsigned char> packDib(int width, int height, int bitCount, int colorsUsed,
                                   const std::vector<unsigned char> &quads,
                                   const std::vector<unsigned char> &rows) {
  std::vector<unsigned char> dib(40, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) dib[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(width));
  put32(8, static_cast<uint32_t>(height));
  dib[12] = 1;
  dib[14] = static_cast<unsigned char>(bitCount);
  put32(32, static_cast<uint32_t>(colorsUsed));
  dib.insert(dib.end(), quads.begin(), quads.end());
  dib.insert(dib.end(), rows.begin(), rows.end());
  return dib;
}

}  // namespace

TEST(RamCapture, WindowRegionEqualsTheDrawnPixels) {
  for (int depth : {24, 16, 8}) {
    SCOPED_TRACE(depth);
    Tk_Window host = depth == 24 ? testMainWindow() : windowAtDepth(depth);
    if (!host || Tk_Depth(host) != depth) {
      if (depth == 24) GTEST_SKIP() << "needs a 24-bit display";
      continue;
    }
    PaintedFrame p(depth == 24 ? "." : Tk_PathName(host), "ramcap");
    ASSERT_NE(p.frame, nullptr);
    RAMIMG *image = makeRAMImageFromDrawable("capture.ram", Tk_Display(p.frame),
                                             Tk_WindowId(p.frame), Tk_Colormap(p.frame), 5, 3,
                                             50, 34);
    ASSERT_NE(image, nullptr);
    const ImageHeader &h = image->header;
    EXPECT_STREQ(image->tag, "capture.ram");
    EXPECT_STREQ(h.path, "capture.ram");
    EXPECT_EQ(h.columns, 50);
    EXPECT_EQ(h.rows, 34);
    EXPECT_EQ(h.pixelid, P_BYTE);
    // Depth 8 is a PseudoColor screen: cell indexes and the colormap's colours.
    EXPECT_EQ(h.nbands, depth == 8 ? 1 : 3);
    EXPECT_EQ(h.nindices > 0, depth == 8);
    int wrong = 0;
    for (int y = 0; y < h.rows; y++)
      for (int x = 0; x < h.columns; x++)
        if (colourAt(image, x, y) != p.expected(x + 5, y + 3)) wrong++;
    EXPECT_EQ(wrong, 0);
    // The first band of a colour capture holds the blue bytes.
    if (depth != 8) {
      EXPECT_EQ(line(image, 10, 0)[40], 255);
    }

    // Capturing again under the same name refills that image.
    RAMIMG *again = makeRAMImageFromDrawable("capture.ram", Tk_Display(p.frame),
                                             Tk_WindowId(p.frame), Tk_Colormap(p.frame), 0, 0,
                                             10, 12);
    EXPECT_EQ(again, image);
    EXPECT_EQ(image->header.rows, 12);
    EXPECT_EQ(image->refCount, 2);
    dispose(image);
  }
  EXPECT_EQ(makeRAMImageFromDrawable("none", Tk_Display(testMainWindow()), None,
                                     Tk_Colormap(testMainWindow()), 0, 0, 5, 5),
            nullptr);
  EXPECT_EQ(getRAMImageByTag("none"), nullptr);
}

TEST(RamCapture, PixmapsWholeAndBitmapsAsBits) {
  Tk_Window main = testMainWindow();
  if (!main || Tk_Depth(main) != 24) GTEST_SKIP() << "needs a 24-bit display";
  Display *display = Tk_Display(main);
  Pixmap filled = makeFilledPixmap(main, 7, 5, 0x336699);
  RAMIMG *image = makeRAMImageFromBitmap("pixmap.ram", display, filled, Tk_Colormap(main));
  Tk_FreePixmap(display, filled);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.columns, 7);
  EXPECT_EQ(image->header.rows, 5);
  EXPECT_EQ(colourAt(image, 6, 4), 0x336699u);
  dispose(image);

  // A depth-1 bitmap becomes packed bits, most significant first, with a
  // black and white palette.  XBM data is least significant bit first.
  const unsigned char xbm[] = {0x01, 0x02, 0xff, 0x03, 0x00, 0x00};  // 10 x 3
  Pixmap bitmap = XCreateBitmapFromData(display, RootWindowOfScreen(Tk_Screen(main)),
                                        reinterpret_cast<const char *>(xbm), 10, 3);
  image = makeRAMImageFromBitmap("bits.ram", display, bitmap, Tk_Colormap(main));
  XFreePixmap(display, bitmap);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.pixelid, P_1BIT);
  EXPECT_EQ(image->header.nindices, 2);
  EXPECT_EQ(image->header.palette[1][0], 255);
  EXPECT_EQ(line(image, 0, 0)[0], 0x80);
  EXPECT_EQ(line(image, 0, 0)[1], 0x40);
  EXPECT_EQ(line(image, 1, 0)[0], 0xff);
  EXPECT_EQ(line(image, 1, 0)[1], 0xc0);
  EXPECT_EQ(line(image, 2, 0)[0], 0x00);
  dispose(image);

  // A pixmap id the server does not know is trapped, not fatal.
  EXPECT_EQ(makeRAMImageFromBitmap("bad.ram", display, 0x7ffffff, Tk_Colormap(main)), nullptr);
  EXPECT_EQ(makeRAMImageFromBitmap("bad.ram", display, None, Tk_Colormap(main)), nullptr);
  EXPECT_EQ(getRAMImageByTag("bad.ram"), nullptr);
}

TEST(RamCapture, PackedDibs) {
  // Bottom-up 8 bits, 3 x 3, two colours: the last record is image row 0.
  const std::vector<unsigned char> quads = {10, 20, 30, 0, 40, 50, 60, 0};
  const std::vector<unsigned char> rows8 = {0, 1, 0, 9, 1, 1, 1, 9, 0, 0, 1, 9};
  std::vector<unsigned char> dib = packDib(3, 3, 8, 2, quads, rows8);
  RAMIMG *image = makeRAMImageFromDIB("dib8.ram", dib.data(), dib.size());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.nbands, 1);
  EXPECT_EQ(image->header.nindices, 2);
  EXPECT_EQ(image->header.palette[1][0], 60);  // quads are blue, green, red
  EXPECT_EQ(image->header.palette[1][2], 40);
  EXPECT_EQ(std::vector<unsigned char>(line(image, 0, 0), line(image, 0, 0) + 3),
            (std::vector<unsigned char>{0, 0, 1}));
  EXPECT_EQ(std::vector<unsigned char>(line(image, 2, 0), line(image, 2, 0) + 3),
            (std::vector<unsigned char>{0, 1, 0}));
  // The same name again re-creates that image in place, top-down this time.
  dib = packDib(3, -3, 8, 2, quads, rows8);
  EXPECT_EQ(makeRAMImageFromDIB("dib8.ram", dib.data(), dib.size()), image);
  EXPECT_EQ(line(image, 0, 0)[1], 1);
  EXPECT_EQ(line(image, 2, 0)[2], 1);
  EXPECT_EQ(image->refCount, 2);
  dispose(image);

  // 24 bits: bands blue, green, red; rows padded to 4 bytes.
  dib = packDib(2, 1, 24, 0, {}, {1, 2, 3, 4, 5, 6, 0, 0});
  image = makeRAMImageFromDIB("dib24.ram", dib.data(), dib.size());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.nbands, 3);
  EXPECT_EQ(image->header.nindices, 0);
  EXPECT_EQ(line(image, 0, 0)[1], 4);
  EXPECT_EQ(line(image, 0, 2)[0], 3);
  dispose(image);

  // 32 bits keep their fourth byte; 1 bit keeps its packed rows.
  dib = packDib(1, 1, 32, 0, {}, {7, 8, 9, 10});
  image = makeRAMImageFromDIB("dib32.ram", dib.data(), dib.size());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.nbands, 4);
  EXPECT_EQ(line(image, 0, 3)[0], 10);
  dispose(image);
  dib = packDib(10, 1, 1, 0, {0, 0, 0, 0, 255, 255, 255, 0}, {0xa5, 0x40, 0, 0});
  image = makeRAMImageFromDIB("dib1.ram", dib.data(), dib.size());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.pixelid, P_1BIT);
  EXPECT_EQ(line(image, 0, 0)[0], 0xa5);
  EXPECT_EQ(line(image, 0, 0)[1], 0x40);
  dispose(image);

  // Buffers that do not hold what their header claims.
  struct Bad {
    const char *what;
    std::vector<unsigned char> dib;
  };
  std::vector<unsigned char> truncated = packDib(3, 3, 8, 2, quads, rows8);
  truncated.pop_back();
  std::vector<unsigned char> compressed = packDib(3, 3, 8, 2, quads, rows8);
  compressed[16] = 1;
  std::vector<unsigned char> bigInfo = packDib(3, 3, 8, 2, quads, rows8);
  bigInfo[1] = 0x10;
  const Bad bad[] = {
      {"rows cut short", truncated},
      {"header only", std::vector<unsigned char>(truncated.begin(), truncated.begin() + 39)},
      {"16 bits", packDib(1, 1, 16, 0, {}, {0, 0, 0, 0})},
      {"300 colours", packDib(1, 1, 8, 300, {}, {0, 0, 0, 0})},
      {"compressed", compressed},
      {"header larger than the buffer", bigInfo},
      {"no columns", packDib(0, 1, 8, 1, {0, 0, 0, 0}, {})},
      {"no rows", packDib(1, 0, 8, 1, {0, 0, 0, 0}, {})},
      {"most negative height", packDib(1, INT32_MIN, 8, 1, {0, 0, 0, 0}, {0, 0, 0, 0})},
      {"huge", packDib(0x7fffffff, 0x7fffffff, 24, 0, {}, {0, 0, 0, 0})},
  };
  for (const Bad &b : bad) {
    SCOPED_TRACE(b.what);
    EXPECT_EQ(makeRAMImageFromDIB("bad.ram", b.dib.data(), b.dib.size()), nullptr);
  }
  EXPECT_EQ(makeRAMImageFromDIB("bad.ram", nullptr, 100), nullptr);
  EXPECT_EQ(getRAMImageByTag("bad.ram"), nullptr);
}

TEST(RamCapture, ClipboardImage) {
  Tk_Window main = testMainWindow();
  if (!main) GTEST_SKIP() << "needs a display";
  RgbImage rgb;
  rgb.width = 2;
  rgb.height = 2;
  rgb.pixels = {0x102030, 0x405060, 0x708090, 0xa0b0c0};
  ASSERT_EQ(putImageOnClipboard(Tk_Display(main), rgb), 1);
  RAMIMG *image = makeRAMImageFromClipboard("clip.ram", main);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.nbands, 3);
  EXPECT_EQ(colourAt(image, 1, 1), 0xa0b0c0u);
  EXPECT_EQ(line(image, 0, 0)[1], 0x60);
  dispose(image);
  clearLocalClipboard();
  evalScript("clipboard clear; clipboard append text; update");
  EXPECT_EQ(makeRAMImageFromClipboard("clip.ram", main), nullptr);
  evalScript("clipboard clear");
  EXPECT_EQ(getRAMImageByTag("clip.ram"), nullptr);
}
