// Image-data scripts through the buffer core: heads of both forms, the
// walk order, the repeat rule, and scripts that name far more values than
// any image holds (streamed, never allocated).
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

#include "raster/imagedata.h"
#include "raster/pixels.h"
#include "tests/unit/raster_images.h"

using namespace vesk;
using namespace rastertest;

namespace {

/* Records what the walk hands over. */
struct Recorder final : ImageDataSink {
  std::vector<std::string> calls;
  int64_t values = 0;
  void pixel(int column, int row, int band, float value) override {
    calls.push_back("p" + std::to_string(column) + "," + std::to_string(row) + "," +
                    std::to_string(band) + "=" + std::to_string(static_cast<int>(value)));
    values++;
  }
  void segment(int row, int column, int count, int band, const float *v) override {
    std::string text = "s" + std::to_string(row) + "," + std::to_string(column) + "," +
                       std::to_string(band) + ":";
    for (int i = 0; i < count; i++) text += " " + std::to_string(static_cast<int>(v[i]));
    calls.push_back(text);
    values += count;
  }
};

ImageDataShape shapeOf(int rows, int columns, int nbands, int nindices = 0) {
  ImageDataShape s;
  s.rows = rows;
  s.columns = columns;
  s.nbands = nbands;
  s.nindices = nindices;
  return s;
}

std::vector<std::string> walk(const std::string &text, const ImageDataShape &shape) {
  ImageDataPlan plan;
  std::string error;
  EXPECT_TRUE(planImageData(text.data(), text.size(), shape, &plan, &error)) << error;
  Recorder r;
  walkImageData(text.data(), text.size(), shape, plan, &r);
  return r.calls;
}

}  // namespace

TEST(ImageData, Scanners) {
  const char text[] = "  12\n\n-3.5e1\tx  ";
  ScriptCursor cursor{text, text + strlen(text)};
  int i = 0;
  float f = 0;
  EXPECT_EQ(scanScriptInt(&cursor, &i), 2u);
  EXPECT_EQ(i, 12);
  // a tab is part of a word: "-3.5e1\tx" is one word, and not a number
  EXPECT_EQ(nextScriptWord(&cursor), 8u);
  EXPECT_EQ(scanScriptFloat(&cursor, &f), 0u);
  EXPECT_EQ(nextScriptWord(&cursor), 0u);
}

TEST(ImageData, RangeOrders) {
  const ImageDataShape shape = shapeOf(3, 3, 2);
  EXPECT_EQ(walk("BSQH 1 1 2 0 0 0 1 2 3", shape),
            (std::vector<std::string>{"p2,0,0=1", "p1,0,0=2", "p0,0,0=3"}));
  EXPECT_EQ(walk("BIPV 2 1 0 0 1 0 1 2 3 4", shape),
            (std::vector<std::string>{"p0,1,1=1", "p0,1,0=2", "p0,0,1=3", "p0,0,0=4"}));
  // the repeat rule: the last value read to the end, 0 with none
  EXPECT_EQ(walk("BILV 1 1 0 0 0 2 7", shape),
            (std::vector<std::string>{"p0,0,0=7", "p0,1,0=7", "p0,2,0=7"}));
  EXPECT_EQ(walk("BSQV 1 1 1 1 0 1", shape), (std::vector<std::string>{"p1,0,0=0", "p1,1,0=0"}));
}

TEST(ImageData, BlockForms) {
  // BIP with more bands than the image: the third value of each group is skipped
  EXPECT_EQ(walk("BIP 1 3 0 0 2 1 1 2 3 4 5 6", shapeOf(1, 2, 2)),
            (std::vector<std::string>{"s0,0,0: 1 4", "s0,0,1: 2 5"}));
  // columns beyond the image are skipped, keeping the order of what follows
  EXPECT_EQ(walk("BSQ 1 1 1 0 3 2 1 2 3 4 5 6", shapeOf(2, 2, 1)),
            (std::vector<std::string>{"s0,1,0: 1", "s1,1,0: 4"}));
  EXPECT_EQ(walk("BIL 2 2 0 0 1 2 1 2 3 4", shapeOf(2, 1, 2)),
            (std::vector<std::string>{"s0,0,1: 1", "s1,0,1: 3"}));
}

// Sizes from the script ask for up to 2^93 values: the walk only visits the
// image, so it ends at once and allocates a row at most.
TEST(ImageData, HugeBlocksStream) {
  const ImageDataShape shape = shapeOf(4, 5, 2);
  for (const char *text : {"BSQ 1 1 0 0 100000 100000 5", "BIL 1 2147483647 0 0 2147483647 2147483647 5",
                           "BIP 2 2147483647 3 2 2147483647 2147483647 5 6",
                           "BSQ 1 2147483647 0 0 2147483647 2147483647"}) {
    SCOPED_TRACE(text);
    ImageDataPlan plan;
    std::string error;
    ASSERT_TRUE(planImageData(text, strlen(text), shape, &plan, &error)) << error;
    Recorder r;
    walkImageData(text, strlen(text), shape, plan, &r);
    EXPECT_LE(r.values, 4 * 5 * 2);
    EXPECT_GT(r.values, 0);
  }
}

TEST(ImageData, HeadErrors) {
  const ImageDataShape shape = shapeOf(2, 3, 2);
  const struct {
    const char *text, *message;
  } cases[] = {
      {"BSQH 0 1 0 0 0 0", "Error in parsing b0\n"},
      {"BSQH 1 1 0 0 0 2", "Error in parsing y1\n"},
      {"BSQHH 1 1 0 0 0 0", "Error in parsing imgid\n"},
      {"BIPX 1 1 0 0 0 0", "imgid must be BSQH or BILH or BIPH or BSQV or BILV or BIPV\n"},
      {"BIX 1 1 0 0 1 1", "imgid must be BSQ or BIL or BIP\n"},
      {"BSQ 1 1 0 0 1 3000000000", "Error in parsing height\n"},
      {"BSQ 1 1 0 0 1", "Error in parsing height\n"},
      {"", "Error in parsing imgid\n"},
      {"BSQH 1 1 0 0 0 0 1 2 three", "Error in parsing value: three\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    ImageDataPlan plan;
    std::string error;
    EXPECT_FALSE(planImageData(c.text, strlen(c.text), shape, &plan, &error));
    EXPECT_EQ(error, c.message);
  }
}

// Into an image: palettes clamp, an error writes nothing.
TEST(ImageData, PaletteValuesNameEntries) {
  struct Values final : ImageDataSink {
    std::vector<float> got;
    void pixel(int, int, int, float v) override { got.push_back(v); }
    void segment(int, int, int count, int, const float *v) override {
      got.insert(got.end(), v, v + count);
    }
  } sink;
  const std::string text = "BSQH 1 1 0 6 0 0 nan -nan -2 99 7.5 15.5 14.5";
  const ImageDataShape shape = shapeOf(1, 7, 1, 16);
  ImageDataPlan plan;
  std::string error;
  ASSERT_TRUE(planImageData(text.data(), text.size(), shape, &plan, &error)) << error;
  walkImageData(text.data(), text.size(), shape, plan, &sink);
  EXPECT_EQ(sink.got, (std::vector<float>{0, 0, 0, 15, 7.5f, 15, 14.5f}));
}

TEST(ImageData, IntoImages) {
  ImagePtr image = memoryImage(P_BYTE, 1, 3);
  image->header.nindices = 16;
  EXPECT_EQ(parseASCIIData(image.get(), "BSQH 1 1 0 2 0 0 20 -1 9"), 1);
  unsigned char row[3];
  getByteBILData(image.get(), 0, 0, 3, 0, row);
  EXPECT_EQ(row[0], 15);
  EXPECT_EQ(row[1], 0);
  EXPECT_EQ(row[2], 9);
  // A value between the last entry and the palette's size would round past it.
  EXPECT_EQ(parseASCIIData(image.get(), "BSQH 1 1 0 2 0 0 15.5 15.9999 14.5"), 1);
  getByteBILData(image.get(), 0, 0, 3, 0, row);
  EXPECT_EQ(row[0], 15);
  EXPECT_EQ(row[1], 15);
  EXPECT_EQ(row[2], 15);
  // NaN names no palette entry: 0, as a negative.
  EXPECT_EQ(parseASCIIData(image.get(), "BSQH 1 1 0 2 0 0 nan -nan 3"), 1);
  getByteBILData(image.get(), 0, 0, 3, 0, row);
  EXPECT_EQ(row[0], 0);
  EXPECT_EQ(row[1], 0);
  EXPECT_EQ(row[2], 3);
  EXPECT_EQ(parseASCIIData(image.get(), "BSQH 1 1 0 2 0 0 20 -1 9"), 1);
  EXPECT_EQ(parseASCIIData(image.get(), "BSQH 1 1 0 2 0 0 1 2 x"), 0);
  getByteBILData(image.get(), 0, 0, 3, 0, row);
  EXPECT_EQ(row[0], 15);
  EXPECT_EQ(parseASCIIBlock(image.get(), "BSQ 1 1 1 0 9 1 4"), 1);
  getByteBILData(image.get(), 0, 0, 3, 0, row);
  EXPECT_EQ(row[1], 4);
  EXPECT_EQ(row[2], 4);
  EXPECT_EQ(parseASCIIBlock(image.get(), "BSQH 1 1 0 0 0 0 1"), 0);
}
