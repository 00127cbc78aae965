// Band statistics: the per-type accumulators, whole-image statistics and
// their cache, palette components, masked statistics, and reference
// figures computed with numpy (tests/data/stats/make_stats.py).
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "tests/unit/raster_images.h"

using namespace vesk;
using namespace rastertest;

namespace {

std::string dataPath(const std::string &name) {
  const char *source = getenv("VESK_SOURCE_DIR");
  return std::string(source ? source : ".") + "/tests/data/stats/" + name;
}

struct HistFree {
  int n;
  void operator()(BandHist *hist) const { freeHist(hist, n); }
};

}  // namespace

// A small image against values worked out by hand.
TEST(BandStats, SmallImageByHand) {
  ImagePtr image = memoryImage(P_SHORT, 2, 3, 2);
  const float band0[6] = {1, 2, 3, 4, 5, 6};
  const float band1[6] = {-4, -5, -9, -6, -7, -8};  // all negative, max first
  putFloatBILData(image.get(), 0, 0, 3, 0, band0);
  putFloatBILData(image.get(), 1, 0, 3, 0, band0 + 3);
  putFloatBILData(image.get(), 0, 0, 3, 1, band1);
  putFloatBILData(image.get(), 1, 0, 3, 1, band1 + 3);
  double std, mean, lo, hi;
  ASSERT_EQ(ramImageBandStats(image.get(), 0, &std, &mean, &lo, &hi), 1);
  EXPECT_DOUBLE_EQ(mean, 3.5);
  EXPECT_DOUBLE_EQ(std, sqrt(35.0 / 12));
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 6);
  ASSERT_EQ(ramImageBandStats(image.get(), 3, &std, &mean, &lo, &hi), 1);  // band 3 mod 2
  EXPECT_DOUBLE_EQ(mean, -6.5);
  EXPECT_EQ(lo, -9);
  EXPECT_EQ(hi, -4);
  EXPECT_EQ(image->hist[1].count, 6);
  EXPECT_EQ(image->hist[1].bins, nullptr);

  // A write drops the band's cached figures; the next request rescans.
  const float big = 100;
  putFloatBILData(image.get(), 1, 2, 1, 0, &big);
  EXPECT_EQ(image->hist[0].done, 0);
  EXPECT_EQ(image->hist[1].done, 1);
  ASSERT_EQ(ramImageBandStats(image.get(), 0, &std, &mean, &lo, &hi), 1);
  EXPECT_EQ(hi, 100);
  EXPECT_DOUBLE_EQ(mean, 115.0 / 6);
}

// The accumulator by pixel type: histograms, steps, bit orders.
TEST(BandStats, Accumulators) {
  struct Case {
    const char *name;
    int pixelid, n, step, msbf;
    std::vector<unsigned char> line;
    double count, sum, min, max;
    std::vector<int> bins;  // leading bins expected
  };
  const Case cases[] = {
      {"1BIT lsb first, bits 0 and 9", P_1BIT, 10, 1, 0, {0x01, 0x02}, 10, 2, 0, 1, {8, 2}},
      {"1BIT msb first, bits 0 and 9", P_1BIT, 10, 1, 1, {0x80, 0x40}, 10, 2, 0, 1, {8, 2}},
      {"1BIT msb bytes read lsb first", P_1BIT, 10, 1, 0, {0x80, 0x40}, 10, 1, 0, 1, {9, 1}},
      {"4BITS msb first", P_4BITS, 3, 1, 1, {0x12, 0x30}, 3, 6, 1, 3, {0, 1, 1, 1}},
      {"4BITS lsb first", P_4BITS, 3, 1, 0, {0x12, 0x30}, 3, 3, 0, 2, {1, 1, 1, 0}},
      {"BYTE step 2 over 5", P_BYTE, 5, 2, 0, {9, 1, 7, 1, 5}, 3, 21, 5, 9, {0, 0, 0, 0, 0, 1}},
      {"BYTE step 0 counts as 1", P_BYTE, 2, 0, 0, {3, 3}, 2, 6, 3, 3, {0, 0, 0, 2}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    BandHist *h = createHist(1, histBinCount(c.pixelid));
    ASSERT_NE(h, nullptr);
    accumulateHist(h, c.pixelid, c.n, c.step, c.line.data(), c.msbf);
    EXPECT_EQ(h->count, c.count);
    EXPECT_EQ(h->sum, c.sum);
    EXPECT_EQ(h->min, c.min);
    EXPECT_EQ(h->max, c.max);
    for (size_t i = 0; i < c.bins.size(); i++) EXPECT_EQ(h->bins[i], c.bins[i]) << "bin " << i;
    freeHist(h, 1);
  }
  // An empty accumulator: extremes at the infinities, mean and std 0.
  BandHist *h = createHist(2, 0);
  EXPECT_EQ(h[1].min, HUGE_VAL);
  EXPECT_EQ(h[1].max, -HUGE_VAL);
  EXPECT_EQ(getHistMean(&h[1]), 0);
  EXPECT_EQ(getHistStd(&h[1]), 0);
  const float decreasing[3] = {5, 4, -2};
  accumulateHist(h, P_FLOAT, 3, 1, reinterpret_cast<const unsigned char *>(decreasing), 0);
  EXPECT_EQ(h->max, 5);
  EXPECT_EQ(h->min, -2);
  freeHist(h, 2);
}

// A 1BIT image written as MSB-first: the histogram counts its pixels.
TEST(BandStats, OneBitImageFollowsBitOrder) {
  for (int msbf : {0, 1}) {
    SCOPED_TRACE(msbf);
    ImagePtr image = memoryImage(P_1BIT, 2, 10, 1, msbf);
    const unsigned char one = 1;
    putByteBILData(image.get(), 0, 0, 1, 0, &one);
    putByteBILData(image.get(), 0, 9, 1, 0, &one);
    putByteBILData(image.get(), 1, 3, 1, 0, &one);
    BandHist *hist = ramImageHist(image.get(), kHistCached, 1, 1);
    ASSERT_NE(hist, nullptr);
    EXPECT_EQ(hist[0].bins[1], 3);
    EXPECT_EQ(hist[0].bins[0], 17);
  }
}

// Figures of numpy over random BYTE (BIL) and big-endian SHORT (BSQ)
// files, with and without steps.
TEST(BandStats, MatchNumpyFigures) {
  std::ifstream figures(dataPath("stats-figures.txt"));
  ASSERT_TRUE(figures) << dataPath("stats-figures.txt");
  ImageHeader byteHeader = rawHeader(dataPath("stats-byte.raw"), IMG_BILD, P_BYTE, 96, 128, 3, 0, 128);
  ImageHeader shortHeader = rawHeader(dataPath("stats-short.raw"), IMG_BSQD, P_SHORT, 64, 50, 2, 0, 100);
  shortHeader.msbf = 1;
  int err = -1;
  // The fixtures are opened read-only from copies: the tests must not change them.
  const std::string byteCopy = tempPath("stats-byte.raw"), shortCopy = tempPath("stats-short.raw");
  writeFile(byteCopy, readFile(dataPath("stats-byte.raw")));
  writeFile(shortCopy, readFile(dataPath("stats-short.raw")));
  ImagePtr byteImage(openRAMImageFile(byteCopy.c_str(), &byteHeader, nullptr, &err));
  ImagePtr shortImage(openRAMImageFile(shortCopy.c_str(), &shortHeader, nullptr, &err));
  ASSERT_TRUE(byteImage && shortImage);

  std::string line;
  BandHist *hist = nullptr;
  int lines = 0;
  while (std::getline(figures, line)) {
    std::istringstream in(line);
    std::string name;
    in >> name;
    if (name == "hist") {
      ASSERT_NE(hist, nullptr);
      for (int v = 0; v < 256; v++) {
        int expected;
        in >> expected;
        ASSERT_EQ(hist->bins[v], expected) << "bin " << v;
      }
      continue;
    }
    int columnStep, rowStep, band;
    double count, mean, std, lo, hi;
    in >> columnStep >> rowStep >> band >> count >> mean >> std >> lo >> hi;
    SCOPED_TRACE(line);
    RAMIMG *image = name == "byte" ? byteImage.get() : shortImage.get();
    BandHist *all = ramImageHist(image, kHistRecompute, columnStep, rowStep);
    ASSERT_NE(all, nullptr);
    hist = &all[band];
    EXPECT_EQ(hist->count, count);
    EXPECT_NEAR(getHistMean(hist), mean, 1e-9 * fabs(mean) + 1e-12);
    EXPECT_NEAR(getHistStd(hist), std, 1e-9 * std);
    EXPECT_EQ(hist->min, lo);
    EXPECT_EQ(hist->max, hi);
    lines++;
  }
  EXPECT_EQ(lines, 10);
}

// A palette image: band c gives the statistics of colour component c
// weighted by the index histogram; extremes over the whole table.
TEST(BandStats, PaletteComponents) {
  ImagePtr image = memoryImage(P_BYTE, 1, 4);
  image->header.nindices = 2;
  for (int i = 0; i < 256; i++)
    for (int c = 0; c < 3; c++) image->header.palette[i][c] = static_cast<unsigned char>(i == 0 ? 50 : 100);
  image->header.palette[0][1] = 10;
  image->header.palette[1][1] = 20;
  const unsigned char indexes[4] = {0, 1, 1, 1};
  putByteBILData(image.get(), 0, 0, 4, 0, indexes);
  double std, mean, lo, hi;
  ASSERT_EQ(ramImageBandStats(image.get(), 1, &std, &mean, &lo, &hi), 1);
  EXPECT_DOUBLE_EQ(mean, (10 + 3 * 20) / 4.0);
  EXPECT_DOUBLE_EQ(std, sqrt((100 + 3 * 400) / 4.0 - 17.5 * 17.5));
  EXPECT_EQ(lo, 10);
  EXPECT_EQ(hi, 100);  // entries without pixels count for the extremes
  ASSERT_EQ(ramImageBandStats(image.get(), -1, &std, &mean, nullptr, &hi), 1);
  EXPECT_DOUBLE_EQ(mean, 0.75);  // the indexes themselves
  EXPECT_EQ(hi, 1);
}

// Statistics under a mask: only where the mask is non-zero, rows of the
// mask without a set pixel add nothing, and keep replaces the cache.
TEST(BandStats, UnderAMask) {
  ImagePtr image = memoryImage(P_FLOAT, 3, 4, 2);
  ImagePtr mask = memoryImage(P_1BIT, 2, 4);  // row 2 lies beyond the mask
  for (int row = 0; row < 3; row++)
    for (int band = 0; band < 2; band++) {
      float values[4];
      for (int x = 0; x < 4; x++) values[x] = float(100 * band + 10 * row + x);
      putFloatBILData(image.get(), row, 0, 4, band, values);
    }
  const unsigned char maskRow0[4] = {1, 0, 0, 1};
  putByteBILData(mask.get(), 0, 0, 4, 0, maskRow0);

  std::unique_ptr<BandHist, HistFree> hist(ramImageHistWithMask(image.get(), mask.get(), 1, 1, 0),
                                           HistFree{2});
  ASSERT_TRUE(hist);
  EXPECT_EQ(hist.get()[0].count, 2);
  EXPECT_EQ(hist.get()[0].sum, 3);
  EXPECT_EQ(hist.get()[1].sum, 203);
  EXPECT_EQ(hist.get()[1].done, 1);
  EXPECT_EQ(image->hist, nullptr);

  BandHist *kept = ramImageHistWithMask(image.get(), mask.get(), 3, 1, 1);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(image->hist, kept);
  EXPECT_EQ(kept[0].count, 2);  // columns 0 and 3
  EXPECT_EQ(ramImageHist(image.get(), kHistCached, 1, 1), kept);
}

// More than 2^31 pixels of one value: the bins count in 64 bits.  The rows
// are fed to the accumulator directly (the same 16 MiB row again and again),
// so no image of that size is needed.
TEST(BandStats, CountsBeyondTwoToTheThirtyOne) {
  std::unique_ptr<BandHist, HistFree> hist(createHist(1, 256), HistFree{1});
  ASSERT_TRUE(hist);
  const int n = 1 << 24;
  std::vector<unsigned char> line(static_cast<size_t>(n), 7);
  line[0] = 200;
  const int64_t rows = 129;  // 129 x 2^24 = 2^31 + 2^24 pixels
  for (int64_t r = 0; r < rows; r++) accumulateHist(hist.get(), P_BYTE, n, 1, line.data(), 0);
  const int64_t sevens = rows * (n - 1);
  EXPECT_GT(sevens, int64_t{INT32_MAX});
  EXPECT_EQ(hist->bins[7], sevens);
  EXPECT_EQ(hist->bins[200], rows);
  EXPECT_EQ(hist->count, double(rows) * n);
  EXPECT_EQ(hist->sum, 7.0 * sevens + 200.0 * rows);
  EXPECT_EQ(hist->min, 7);
  EXPECT_EQ(hist->max, 200);
}

TEST(BandHistDone, ClearedAloneKeepsTheSums) {
  BandHist h;
  h.done = 1;
  h.count = 5;
  h.sum = 12;
  clearHistDone(&h);
  EXPECT_EQ(h.done, 0);
  EXPECT_EQ(h.count, 5);
  EXPECT_EQ(h.sum, 12);
}
