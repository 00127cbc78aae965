// Mask bitmaps: row sizes, spans in both bit orders, column writes, row
// reads, polygon fills with and without parity, borrowing image bits and
// the refusal of images whose pixels are not resident.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <string>
#include <vector>

#include "raster/mask.h"
#include "core/text.h"
#include "raster/pixels.h"
#include "tests/unit/harness.h"
#include "tests/unit/raster_images.h"

using namespace vesk;
using namespace rastertest;

namespace {

struct MaskFree {
  void operator()(MaskBitmap *bitmap) const { deleteMaskBitmap(bitmap); }
};
using MaskPtr = std::unique_ptr<MaskBitmap, MaskFree>;

std::vector<unsigned char> rowBytes(const MaskBitmap *bitmap, int row) {
  const unsigned char *r = bitmap->bits + row * bitmap->rowBytes;
  return std::vector<unsigned char>(r, r + bitmap->rowBytes);
}

// "#" for a set pixel, "." for a clear one, rows separated by "/".
std::string picture(const MaskBitmap *bitmap) {
  std::string text;
  std::vector<unsigned char> row(bitmap->width);
  for (int y = 0; y < bitmap->height; y++) {
    if (y) text += "/";
    getMaskBitmapRow(bitmap, y, 0, bitmap->width, row.data());
    for (unsigned char v : row) text += v ? '#' : '.';
  }
  return text;
}

}  // namespace

TEST(Mask, RowSizes) {
  const int widths[][2] = {{17, 4}, {16, 2}, {1, 2}, {0, 0}, {33, 6}};
  for (const auto &w : widths) {
    MaskPtr bitmap(newMaskBitmap(w[0], 3, 0xa5));
    ASSERT_TRUE(bitmap) << w[0];
    EXPECT_EQ(bitmap->rowBytes, w[1]) << w[0];
    EXPECT_EQ(bitmap->alignment, 16);
    EXPECT_EQ(bitmap->bitOrder, msbFirst());
    if (w[1]) {
      EXPECT_EQ(bitmap->bits[3 * w[1] - 1], 0xa5);
    }
  }
  EXPECT_EQ(newMaskBitmap(-1, 3, 0), nullptr);
}

// Spans set exactly their pixels, clipped to the bitmap, in both orders.
TEST(Mask, Spans) {
  struct Case {
    int bitOrder, x0, x1;
    std::vector<unsigned char> bytes;
  };
  const Case cases[] = {
      {0, 3, 12, {0xf8, 0x0f, 0, 0}},  {1, 3, 12, {0x1f, 0xf0, 0, 0}},
      {0, 3, 13, {0xf8, 0x1f, 0, 0}},  {0, -5, 2, {0x03, 0, 0, 0}},
      {0, 10, 100, {0, 0xfc, 0x01, 0}}, {0, 0, 17, {0xff, 0xff, 0x01, 0}},
      {1, 8, 16, {0, 0xff, 0, 0}},     {0, 5, 5, {0, 0, 0, 0}},
      {0, -3, -1, {0, 0, 0, 0}},       {0, 17, 20, {0, 0, 0, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("order " + std::to_string(c.bitOrder) + " span " + std::to_string(c.x0) + ".." +
                 std::to_string(c.x1));
    MaskPtr bitmap(newMaskBitmap(17, 3, 0));
    bitmap->bitOrder = c.bitOrder;
    setMaskBitmapSpan(bitmap.get(), 1, c.x0, c.x1);
    EXPECT_EQ(rowBytes(bitmap.get(), 1), c.bytes);
    EXPECT_EQ(rowBytes(bitmap.get(), 0), std::vector<unsigned char>(4, 0));
    EXPECT_EQ(rowBytes(bitmap.get(), 2), std::vector<unsigned char>(4, 0));
  }
  MaskPtr bitmap(newMaskBitmap(17, 3, 0));
  setMaskBitmapSpan(bitmap.get(), 3, 0, 17);  // row outside
  setMaskBitmapSpan(bitmap.get(), -1, 0, 17);
  EXPECT_EQ(picture(bitmap.get()), std::string(17, '.') + "/" + std::string(17, '.') + "/" +
                                       std::string(17, '.'));
}

// Lines of bytes set pixels along a row or a column; zeros clear nothing.
TEST(Mask, LinesAndRowReads) {
  MaskPtr bitmap(newMaskBitmap(4, 3, 0));
  bitmap->bitOrder = 1;
  const unsigned char rowIn[4] = {1, 0, 7, 0};
  putMaskBitmapLine(bitmap.get(), 0, rowIn, 0);
  const unsigned char columnIn[3] = {1, 1, 0};
  putMaskBitmapLine(bitmap.get(), 0, columnIn, -1);  // column 0, bottom-up
  putMaskBitmapLine(bitmap.get(), 0, columnIn, 1);   // column 3, top-down
  EXPECT_EQ(picture(bitmap.get()), "#.##/#..#/#...");
  const unsigned char zeros[4] = {0, 0, 0, 0};
  putMaskBitmapLine(bitmap.get(), 0, zeros, 0);
  EXPECT_EQ(picture(bitmap.get()), "#.##/#..#/#...");

  unsigned char out[6];
  getMaskBitmapRow(bitmap.get(), 0, -1, 5, out);
  EXPECT_EQ(std::vector<unsigned char>(out, out + 6),
            (std::vector<unsigned char>{0, 0x80, 0, 0x20, 0x10, 0}));
  const int map[6] = {3, 3, 2, 0, 1, 9};
  getMaskBitmapRowIndexed(bitmap.get(), 0, 1, 5, map, 6, out);
  EXPECT_EQ(std::vector<unsigned char>(out, out + 6),
            (std::vector<unsigned char>{0, 0x10, 0x20, 0x80, 0, 0}));

  copyMaskBitmapRow(bitmap.get(), 0, 2);
  EXPECT_EQ(picture(bitmap.get()), "#.##/#..#/#.##");
}

// Two overlapping squares: their union without parity, the overlap clear
// with it.
TEST(Mask, PolygonFills) {
  Tcl_Interp *interp = testInterp();
  const char *words[] = {"rc", "0 0 3 3", "rc", "1 1 4 4"};
  PointList *chain = parseROIList(interp, 4, words);
  ASSERT_NE(chain, nullptr);
  MaskPtr bitmap(newMaskBitmap(5, 5, 0));
  polyFillMask(chain, bitmap.get(), 0);
  EXPECT_EQ(picture(bitmap.get()), "###../####./####./.###./.....");
  MaskPtr parity(newMaskBitmap(5, 5, 0));
  polyFillMask(chain, parity.get(), 1);
  EXPECT_EQ(picture(parity.get()), "###../#..#./#..#./.###./.....");
  polyFree(chain);

  Region region = XCreateRegion();
  maskBitmapToRegion(parity.get(), region);
  XRectangle box;
  XClipBox(region, &box);
  EXPECT_EQ(box.x, 0);
  EXPECT_EQ(box.y, 0);
  EXPECT_EQ(box.width, 4);
  EXPECT_EQ(box.height, 4);
  EXPECT_TRUE(XPointInRegion(region, 0, 1));
  EXPECT_FALSE(XPointInRegion(region, 1, 1));
  XDestroyRegion(region);
}

// A resident 1-bit image lends its cache; freeing the bitmap leaves it.
// Images whose pixels are not all resident in row order are refused.
TEST(Mask, Borrowing) {
  for (int msbf : {0, 1}) {
    ImagePtr image = memoryImage(P_1BIT, 3, 10, 1, msbf);
    const unsigned char ones[2] = {1, 1};
    putByteBILData(image.get(), 1, 8, 2, 0, ones);
    MaskBitmap bitmap;
    initMaskBitmap(&bitmap);
    ASSERT_EQ(borrowMaskBitmap(&bitmap, image.get()), 1);
    EXPECT_EQ(bitmap.bits, image->cache);
    EXPECT_EQ(bitmap.rowBytes, 2);
    EXPECT_EQ(bitmap.bitOrder, msbf);
    EXPECT_EQ(picture(&bitmap), "........../........##/..........");
    setMaskBitmapSpan(&bitmap, 2, 0, 1);
    EXPECT_EQ(getPixelValue(image.get(), 0, 2, 0), 1);
    freeMaskBitmap(&bitmap);
    EXPECT_EQ(bitmap.bits, nullptr);
    EXPECT_EQ(getPixelValue(image.get(), 9, 1, 0), 1);  // the image's bits stay
  }

  const std::string path = tempPath("mask.raw");
  writeFile(path, std::vector<unsigned char>(2 * 200, 0xff));
  ImageHeader header = rawHeader(path, IMG_BIL, P_1BIT, 200, 10, 1, 0, 2);
  int err = -1;
  ImagePtr file(openRAMImageFile(path.c_str(), &header, nullptr, &err));
  ASSERT_TRUE(file);
  ImagePtr bytes = memoryImage(P_BYTE, 2, 2);
  ImagePtr bands = memoryImage(P_1BIT, 2, 2, 2);
  MaskBitmap bitmap;
  initMaskBitmap(&bitmap);
  EXPECT_EQ(borrowMaskBitmap(&bitmap, file.get()), 0);  // a file image
  EXPECT_EQ(borrowMaskBitmap(&bitmap, bytes.get()), 0);
  EXPECT_EQ(borrowMaskBitmap(&bitmap, bands.get()), 0);
  EXPECT_EQ(bitmap.bits, nullptr);
  // Made resident, the file image holds all its rows in order.
  ASSERT_EQ(setRAMImageResident(file.get(), 1), 1);
  ASSERT_EQ(borrowMaskBitmap(&bitmap, file.get()), 1);
  EXPECT_EQ(bitmap.height, 200);
  EXPECT_EQ(bitmap.bits[2 * 199 + 1], 0xff);
  freeMaskBitmap(&bitmap);
}
