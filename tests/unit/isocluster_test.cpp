// ISO clustering's initial methods over hand-made pixel tables, spectral
// bin sizing, and the pixel-table parser over every cut of a good file.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

#include "processing/isocluster.h"
#include "processing/ptable.h"
#include "raster/pixels.h"
#include "tests/unit/raster_images.h"
#include "core/core.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

// A table of 3-byte vectors (given ascending) with their counts.
PTABLE *makeTable(const std::vector<std::vector<unsigned char>> &vectors,
                  const std::vector<uint32_t> &counts) {
  const int32_t bands[3] = {0, 1, 2};
  PTABLE *t = createPTable(static_cast<int32_t>(vectors.size()), 3, bands);
  t->count = static_cast<int32_t>(vectors.size());
  for (size_t i = 0; i < vectors.size(); i++) {
    memcpy(t->vectors.data() + 3 * i, vectors[i].data(), 3);
    t->values[i] = counts[i];
  }
  computePTableBuckets(t);
  return t;
}

// A work record in table mode over the table, without images.
void tableWork(IsoWork *w, PTABLE *t, int ncMax) {
  w->table = t;
  w->classTable.assign(static_cast<size_t>(t->count), -1);
  w->n = 3;
  w->bands = {0, 1, 2};
  w->invScale.assign(3, 1.0f);
  w->ncMax = ncMax;
  w->D = 1e9;
}

TEST(IsoInit, EqualCountsCutIntoSixthsAndThirds) {
  std::vector<std::vector<unsigned char>> vectors;
  for (unsigned char i = 0; i < 12; i++) vectors.push_back({i, 0, 0});
  PTABLE *t = makeTable(vectors, std::vector<uint32_t>(12, 10));
  IsoWork w;
  tableWork(&w, t, 4);
  isoEqualInit(&w);
  ASSERT_EQ(w.nc, 4);
  const int counts[4] = {20, 40, 40, 20};
  const float means[4] = {0.5f, 3.5f, 7.5f, 10.5f};
  for (int k = 0; k < 4; k++) {
    SCOPED_TRACE(k);
    EXPECT_EQ(w.classes[k].count, counts[k]);
    EXPECT_FLOAT_EQ(w.classes[k].mean[0], means[k]);
    EXPECT_EQ(w.classes[k].current, 0);
  }
  freePTable(t);
}

TEST(IsoInit, EqualWithFewerEntriesThanClassesKeepsOneClassPerEntry) {
  PTABLE *t = makeTable({{1, 1, 1}, {9, 9, 9}}, {5, 5});
  IsoWork w;
  tableWork(&w, t, 128);
  isoEqualInit(&w);
  ASSERT_EQ(w.nc, 2);
  EXPECT_FLOAT_EQ(w.classes[0].mean[0], 1.0f);
  EXPECT_FLOAT_EQ(w.classes[1].mean[0], 9.0f);
  freePTable(t);
}

TEST(IsoInit, PopularTakesTheMostFrequentColours) {
  PTABLE *t = makeTable({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}}, {5, 9, 3, 7});
  IsoWork w;
  tableWork(&w, t, 2);
  isoPopularInit(&w);
  ASSERT_EQ(w.nc, 2);
  std::vector<float> taken = {w.classes[0].mean[0], w.classes[1].mean[0]};
  std::sort(taken.begin(), taken.end());
  EXPECT_EQ(taken, (std::vector<float>{2.0f, 4.0f}));
  EXPECT_TRUE(w.reassign);
  freePTable(t);
}

TEST(IsoInit, PopularWithFewerEntriesThanClasses) {
  PTABLE *t = makeTable({{1, 0, 0}}, {3});
  IsoWork w;
  tableWork(&w, t, 4);
  isoPopularInit(&w);
  EXPECT_EQ(w.nc, 1);
  freePTable(t);
}

TEST(IsoInit, SpectralBinSizes) {
  EXPECT_EQ(isoBinBase(0x800000, 3), 203);
  EXPECT_EQ(isoBinBase(0x800000, 7), 9);
  EXPECT_EQ(isoBinBase(0x800000, 1), 0x800000);
  int64_t multiplier[3] = {0, 0, 0};
  EXPECT_EQ(isoBinRadix(3, 203, multiplier), int64_t{203} * 203 * 203);
  EXPECT_EQ(multiplier[0], 203 * 203);  // the first binned band is the most significant digit
  EXPECT_EQ(multiplier[1], 203);
  EXPECT_EQ(multiplier[2], 1);
  const int B = 202;
  EXPECT_EQ(isoBinOf(250, 10, 250, B, true), 201);   // a byte at hi: the last bin
  EXPECT_EQ(isoBinOf(250, 10, 250, B, false), 202);  // floats may reach B
  EXPECT_EQ(isoBinOf(10, 10, 250, B, true), 0);
  EXPECT_EQ(isoBinOf(-5, 10, 250, B, true), 0);
  EXPECT_EQ(isoBinOf(7, 7, 7, B, false), 0);         // a zero range counts as 1
}

// What the library prints on its standard output while `run` runs.
template <class Fn> std::string printedBy(Fn &&run) {
  Tcl_Interp *previous = setStdioInterp(testInterp());
  testing::internal::CaptureStdout();
  run();
  setStdioInterp(previous);
  return testing::internal::GetCapturedStdout();
}

// A work record of given class means (first band) and counts.
void classWork(IsoWork *w, const std::vector<float> &means, const std::vector<int32_t> &counts,
               double D, int ncMax) {
  w->n = 3;
  w->bands = {0, 1, 2};
  w->invScale.assign(3, 1.0f);
  w->D = D;
  w->ncMax = ncMax;
  w->classes.resize(means.size());
  for (size_t i = 0; i < means.size(); i++) {
    const float mean[3] = {means[i], 0, 0};
    isoSetClass(&w->classes[i], 3, mean, counts[i]);
  }
  w->nc = static_cast<int>(means.size());
  isoSyncMeans(w);
}

TEST(IsoInit, MergeClosestByDistanceAndByClassCount) {
  struct Case {
    std::vector<float> means;
    std::vector<int32_t> counts;
    double D;
    int ncMax;
    std::vector<float> left;
    std::vector<int32_t> leftCounts;
  } cases[] = {
      // 1 and 2 are 1 apart (squared 1 <= 0.5 x 4): merged, weighted 1:3.
      {{1, 2, 10}, {1, 3, 5}, 4, 8, {1.75f, 10}, {4, 5}},
      // Nothing within 0.5 D, and no more classes than ncMax.
      {{0, 10, 20}, {1, 1, 1}, 4, 3, {0, 10, 20}, {1, 1, 1}},
      // One class too many: the closest pair (10, 13) goes, D or not.
      {{0, 10, 13}, {2, 2, 2}, 1, 2, {0, 11.5f}, {2, 4}},
      // Empty classes merge with equal weights; all within 0.5 D: one left.
      {{0, 2, 4}, {0, 0, 0}, 100, 8, {2.5f}, {0}},
  };
  for (const Case &c : cases) {
    IsoWork w;
    classWork(&w, c.means, c.counts, c.D, c.ncMax);
    EXPECT_EQ(isoMergeClosest(&w), static_cast<int>(c.left.size()));
    ASSERT_EQ(w.nc, static_cast<int>(c.left.size()));
    for (int k = 0; k < w.nc; k++) {
      SCOPED_TRACE(k);
      EXPECT_FLOAT_EQ(w.classes[k].mean[0], c.left[k]);
      EXPECT_EQ(w.classes[k].count, c.leftCounts[k]);
    }
  }
  // Verbose: each merge, then the counts; table entries follow.
  IsoWork w;
  classWork(&w, {1, 2, 10}, {1, 3, 5}, 4, 8);
  w.verbose = true;
  w.classTable = {2, 1, 0, -1};
  EXPECT_EQ(printedBy([&] { isoMergeClosest(&w); }),
            "minDist:   1.000 inDIS:  4.0000 n:   3 i:   0 j:   1\nnc: 3 new nc: 2\n");
  EXPECT_EQ(w.classTable, (std::vector<int16_t>{1, 0, 0, -1}));
}

TEST(IsoInit, AddToNearestAndSortClasses) {
  IsoWork w;
  classWork(&w, {9, 1, 5}, {0, 0, 0}, 1e9, 8);
  const float x[3] = {4, 0, 0};
  EXPECT_EQ(isoAddToNearest(&w, x, 6), 2);
  EXPECT_EQ(w.classes[2].current, 6);
  EXPECT_DOUBLE_EQ(w.classes[2].sum[0], 24);
  w.classTable = {0, 1, 2};
  isoSortClasses(&w);
  EXPECT_EQ((std::vector<float>{w.classes[0].mean[0], w.classes[1].mean[0], w.classes[2].mean[0]}),
            (std::vector<float>{1, 5, 9}));
  EXPECT_EQ(w.classes[1].current, 6);
  EXPECT_EQ(w.classTable, (std::vector<int16_t>{2, 0, 1}));
  // The sort order decides which band leads.
  IsoWork v;
  classWork(&v, {2, 1}, {0, 0}, 1e9, 8);
  v.classes[0].mean[1] = 0;
  v.classes[1].mean[1] = 7;
  v.sortOrder = {1, 0};
  isoSortClasses(&v);
  EXPECT_FLOAT_EQ(v.classes[0].mean[0], 2);
}

TEST(IsoInit, DirectBinningFindsTheClassesTheHashedOneFinds) {
  // Two colours, far apart, each over half of an 8 x 8 image.
  rastertest::ImagePtr image = rastertest::memoryImage(P_BYTE, 8, 8, 3);
  ASSERT_TRUE(image);
  const unsigned char colours[2][3] = {{10, 20, 30}, {200, 180, 160}};
  for (int row = 0; row < 8; row++)
    for (int band = 0; band < 3; band++) {
      unsigned char line[8];
      for (int c = 0; c < 8; c++) line[c] = colours[c < 4 ? 0 : 1][band];
      ASSERT_GT(putByteBILData(image.get(), row, 0, 8, band, line), 0);
    }
  std::vector<std::vector<float>> found[2];
  for (int variant = 0; variant < 2; variant++) {
    SCOPED_TRACE(variant);
    IsoWork w;
    w.in = image.get();
    w.r = w.c = 8;
    w.sk = 1;
    w.n = 3;
    w.bands = {0, 1, 2};
    w.sortOrder = {0, 1, 2};
    w.invScale.assign(3, 0.01f);
    w.D = 1;
    w.nearD = 0.2;
    if (variant == 0) isoSpecBinning(&w);
    else isoSpecBinningDirect(&w);
    ASSERT_EQ(w.nc, 2);
    for (int k = 0; k < 2; k++) found[variant].push_back(w.classes[k].mean);
    std::sort(found[variant].begin(), found[variant].end());
  }
  EXPECT_EQ(found[0], found[1]);
  EXPECT_FLOAT_EQ(found[1][0][0], 10);
  EXPECT_FLOAT_EQ(found[1][1][2], 160);
}

// One update pass, by hand: class 0 (mean 1 2 3, 4 samples before) takes
// 2 samples of 4 2 3, so its mean moves by (3, 0, 0) and SRMD2 =
// sqrt((9 + 0 + 0) / 3) = sqrt(3); class 1 (10 10 10, 4 before) takes 6 of
// its own mean and stays.  RMS weighs SRMD2 by the pass's counts:
// 2 / 8 x sqrt(3); the stability ratios are 2/4 and 4/6.
TEST(IsoPass, UpdateMeasuresTheMeansChangeByItsRms) {
  IsoWork w;
  classWork(&w, {1, 10}, {4, 4}, 1e9, 8);
  w.classes[0].mean = {1, 2, 3};
  w.classes[1].mean = {10, 10, 10};
  const float x0[3] = {4, 2, 3}, x1[3] = {10, 10, 10};
  isoAddSamples(&w, 0, x0, 2);
  isoAddSamples(&w, 1, x1, 6);
  EXPECT_DOUBLE_EQ(isoUpdateClasses(&w), 0.5);
  ASSERT_EQ(w.nc, 2);
  EXPECT_EQ(w.classes[0].mean, (std::vector<float>{4, 2, 3}));
  EXPECT_EQ(w.classes[0].dmean, (std::vector<float>{3, 0, 0}));
  EXPECT_FLOAT_EQ(w.classes[0].srmd2, sqrtf(3));
  EXPECT_FLOAT_EQ(w.classes[1].srmd2, 0);
  EXPECT_NEAR(w.rms, 2.0 / 8 * sqrt(3.0), 1e-6);
  EXPECT_NEAR(w.wcv, 2.0 / 8 * 0.5 + 6.0 / 8 * (4.0 / 6), 1e-12);
  EXPECT_EQ(w.total, 8);
  EXPECT_EQ(w.classes[0].count, 2);
  EXPECT_EQ(w.classes[0].current, 0);
}

// Passes that keep bounds answer as the full search, pass after pass, while
// the means move a little, not at all, far, or trade places: pixels on a
// grid (ties between classes, pixels on a mean, nearer than 0.2 D to two
// classes) and 12 classes on a coarse grid; the bounds do skip searches.
TEST(IsoPass, BoundedSearchAnswersAsTheFullSearch) {
  IsoWork w;
  std::vector<float> grid;
  for (int i = 0; i < 12; i++) grid.push_back(static_cast<float>(2 * (i % 4)));
  classWork(&w, grid, std::vector<int32_t>(12, 1), 3.0, 12);
  w.invScale = {1.0f, 0.5f, 0.25f};
  w.nearD = 0.2 * w.D;
  for (int i = 0; i < 12; i++) w.classes[i].mean = {2.0f * (i % 4), 4.0f * (i / 4), 1.0f * (i % 3)};
  std::vector<float> x;
  for (int a = -1; a <= 7; a++)
    for (int b = -2; b <= 10; b++)
      for (int c = 0; c <= 3; c++) x.insert(x.end(), {a * 1.0f, b * 1.0f, c * 0.5f});
  const int count = static_cast<int>(x.size() / 3);
  const float moves[6] = {0.01f, 0.0f, 0.3f, 0.001f, 0.0f, 0.05f};
  uint32_t seed = 7;
  auto nudge = [&](float size) {
    seed = seed * 1103515245 + 12345;
    return size * (static_cast<float>(seed >> 16 & 0xff) / 255.0f - 0.5f);
  };
  long kept = 0;
  for (int pass = 0; pass < 8; pass++) {
    SCOPED_TRACE(pass);
    if (pass == 6) std::swap(w.classes[2].mean, w.classes[9].mean);
    for (int i = 0; i < 12 && pass > 0 && pass < 6; i++)
      for (float &m : w.classes[i].mean) m += nudge(moves[pass]);
    isoSyncMeans(&w);
    isoPrepareBounds(&w, 1, count);
    std::vector<int16_t> want(count), got(count);
    std::vector<float> wantD(count), gotD(count);
    isoSearchBlock(&w, x.data(), count, want.data(), wantD.data());
    for (int j = 0; j < count; j++) kept += pass > 0 && w.bounds.lower[j] > 0;
    isoSearchBounded(&w, x.data(), count, got.data(), gotD.data(), w.bounds.classOf.data(),
                     w.bounds.lower.data());
    w.bounds.valid = true;
    for (int j = 0; j < count; j++) {
      ASSERT_EQ(got[j], want[j]) << "pixel " << j;
      ASSERT_EQ(gotD[j], wantD[j]) << "pixel " << j;
    }
  }
  EXPECT_GT(kept, count);
}

// A pixel keeps the class nearest to it while another comes within 0.2 D
// (0.6): the scan then takes the first class nearer than 0.2 D, which the
// bound alone (every other class farther) does not prove.
TEST(IsoPass, BoundedSearchSeesAnEarlierClassComeNearerThanFifthOfD) {
  IsoWork w;
  classWork(&w, {1.0f, 0.1f}, {1, 1}, 3.0, 2);
  w.nearD = 0.2 * w.D;
  const float x[6] = {0, 0, 0, 0.05f, 0, 0};
  const float first[3] = {1.0f, 0.7f, 0.7f};
  for (int pass = 0; pass < 3; pass++) {
    SCOPED_TRACE(pass);
    w.classes[0].mean[0] = first[pass];
    isoSyncMeans(&w);
    isoPrepareBounds(&w, 1, 2);
    int16_t want[2], got[2];
    float wantD[2], gotD[2];
    isoSearchBlock(&w, x, 2, want, wantD);
    isoSearchBounded(&w, x, 2, got, gotD, w.bounds.classOf.data(), w.bounds.lower.data());
    w.bounds.valid = true;
    EXPECT_EQ(want[0], pass == 0 ? 1 : 0);
    for (int j = 0; j < 2; j++) {
      EXPECT_EQ(got[j], want[j]);
      EXPECT_EQ(gotD[j], wantD[j]);
    }
  }
}

TEST(PixelTable, MergeOrderAndVectorList) {
  PTABLE *t = makeTable({{1, 0, 0}, {2, 0, 0}, {3, 4, 5}}, {1, 1, 1});
  EXPECT_EQ(printedBy([&] { EXPECT_EQ(checkMergeOrder(t), -1); }), "");
  memcpy(t->vectors.data() + 3, t->vectors.data() + 6, 3);  // a duplicate: out of order
  EXPECT_EQ(printedBy([&] { EXPECT_EQ(checkMergeOrder(t), 2); }), "merge wrong at        2\n");
  EXPECT_EQ(printedBy([&] { printVectorList(t->vectors.data(), 2, 3); }),
            "       0     1    0    0\n       1     3    4    5\n");
  freePTable(t);
}

TEST(PixelTableFile, EveryCutOfAGoodFileIsRefusedCleanly) {
  PTABLE *t = makeTable({{0, 3, 1}, {0, 5, 2}, {7, 1, 3}}, {4, 70000, 1});
  std::vector<unsigned char> bytes = encodePTable(t);
  ASSERT_EQ(bytes.size(), 2092u + 3 * 5);
  std::string problem;
  PTABLE *back = parsePTable(bytes.data(), static_cast<int64_t>(bytes.size()), &problem);
  ASSERT_NE(back, nullptr) << problem;
  EXPECT_EQ(back->count, 3);
  EXPECT_EQ(back->capacity, 3);
  EXPECT_EQ(back->values, (std::vector<uint32_t>{4, 65535, 1}));  // saturated in the file
  EXPECT_EQ(back->first[0], 0);
  EXPECT_EQ(back->last[0], 1);
  EXPECT_EQ(back->first[7], 2);
  EXPECT_EQ(back->last[7], 2);
  const unsigned char probe[3] = {0, 5, 2};
  EXPECT_EQ(findPTableEntry(back, probe), 1);
  freePTable(back);
  for (size_t size = 0; size < bytes.size(); size++) {
    SCOPED_TRACE(size);
    std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
    EXPECT_EQ(parsePTable(cut.data(), static_cast<int64_t>(size), &problem), nullptr);
  }
  freePTable(t);
}

}  // namespace
