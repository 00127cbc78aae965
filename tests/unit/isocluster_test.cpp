// ISO clustering's initial methods over hand-made pixel tables, spectral
// bin sizing, and the pixel-table parser over every cut of a good file.
#include <gtest/gtest.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

#include "processing/isocluster.h"
#include "processing/ptable.h"

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
  const int B = 202;
  EXPECT_EQ(isoBinOf(250, 10, 250, B, true), 201);   // a byte at hi: the last bin
  EXPECT_EQ(isoBinOf(250, 10, 250, B, false), 202);  // floats may reach B
  EXPECT_EQ(isoBinOf(10, 10, 250, B, true), 0);
  EXPECT_EQ(isoBinOf(-5, 10, 250, B, true), 0);
  EXPECT_EQ(isoBinOf(7, 7, 7, B, false), 0);         // a zero range counts as 1
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
