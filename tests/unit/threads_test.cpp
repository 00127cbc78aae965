// The worker pool: every row done once whatever the split, small counts on
// the calling thread, an exception in a piece thrown again to the caller
// once every piece has ended, a pool call inside a piece run inline, the
// watched form's progress and stop, and image statistics counted on the
// pool equal to one pass over the rows in order.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/threads.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "tests/unit/raster_images.h"

using namespace vesk;

TEST(Threads, ParallelRowsDoesEveryRowOnceAndKeepsSmallCountsOnTheCaller) {
  for (int count : {0, 1, 7, 63, 64, 1000, 4097}) {
    SCOPED_TRACE(count);
    for (int grain : {1, 16, 5000}) {
      std::vector<std::atomic<int>> seen(static_cast<size_t>(count));
      std::atomic<int> calls{0}, elsewhere{0};
      const std::thread::id caller = std::this_thread::get_id();
      parallelRows(count, grain, [&](int first, int end) {
        EXPECT_LT(first, end);
        calls++;
        if (std::this_thread::get_id() != caller) elsewhere++;
        for (int r = first; r < end; r++) seen[r]++;
      });
      for (int r = 0; r < count; r++) EXPECT_EQ(seen[r].load(), 1) << "row " << r;
      if (count < 2 * grain) {  // one call, on this thread
        EXPECT_EQ(calls.load(), count > 0 ? 1 : 0);
        EXPECT_EQ(elsewhere.load(), 0);
      }
    }
  }
  EXPECT_EQ(rowGrain(4096), int(kMinBlockWork / 4096));
  EXPECT_EQ(rowGrain(0), int(kMinBlockWork));
  EXPECT_EQ(rowGrain(1LL << 40), 1);
}

TEST(Threads, ExceptionsReachTheCallerAndNestedCallsRunInline) {
  std::atomic<int> ran{0};
  EXPECT_THROW(parallelFor(64,
                           [&](int i) {
                             ran++;
                             if (i == 5) throw std::runtime_error("piece 5");
                           }),
               std::runtime_error);
  EXPECT_GE(ran.load(), 1);
  // The pool still works afterwards, and a pool call inside a piece does
  // its pieces on that piece's thread.
  std::vector<std::atomic<int>> sums(16);
  parallelFor(16, [&](int i) {
    const std::thread::id outer = std::this_thread::get_id();
    parallelFor(8, [&](int j) {
      EXPECT_EQ(std::this_thread::get_id(), outer);
      sums[i] += j;
    });
  });
  for (auto &s : sums) EXPECT_EQ(s.load(), 28);
}

// The watched form: progress runs on the calling thread only, from 0 up
// through the rows done, and every row is done once; a pool call made from
// progress (a meter script running a module) runs inline.
TEST(Threads, WatchedRowsReportProgressOnTheCallingThread) {
  for (int count : {0, 5, 1000, 100000}) {
    SCOPED_TRACE(count);
    std::vector<std::atomic<int>> seen(static_cast<size_t>(count));
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<int> reports;
    bool elsewhere = false;
    const bool finished = parallelRows(
        count, 16,
        [&](int first, int end) {
          for (int r = first; r < end; r++) seen[r]++;
        },
        [&](int done) {
          if (std::this_thread::get_id() != caller) elsewhere = true;
          reports.push_back(done);
          std::atomic<int> inner{0};
          parallelRows(100, 1, [&](int first, int end) { inner += end - first; });
          EXPECT_EQ(inner.load(), 100);
          return true;
        });
    EXPECT_TRUE(finished);
    EXPECT_FALSE(elsewhere);
    for (int r = 0; r < count; r++) EXPECT_EQ(seen[r].load(), 1) << "row " << r;
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), 0);
    for (size_t i = 1; i < reports.size(); i++) EXPECT_LE(reports[i - 1], reports[i]);
    EXPECT_LE(reports.back(), count);
  }
}

// A stop before the first block does nothing; a stop on the way ends the
// call with rows left undone, and no block runs after it has returned.
TEST(Threads, WatchedRowsStopAtTheNextBlock) {
  std::atomic<int> rows{0};
  auto work = [&](int first, int end) { rows += end - first; };
  EXPECT_FALSE(parallelRows(100000, 16, work, [](int) { return false; }));
  EXPECT_EQ(rows.load(), 0);

  const int count = 1 << 20;
  int calls = 0;
  const bool finished = parallelRows(
      count, 16,
      [&](int first, int end) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        rows += end - first;
      },
      [&](int done) { return ++calls < 3 || done == 0; });
  EXPECT_FALSE(finished);
  const int after = rows.load();
  EXPECT_GT(after, 0);
  EXPECT_LT(after, count);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(rows.load(), after);

  // The same inside a piece, where everything runs on that piece's thread
  // in blocks.
  parallelFor(2, [&](int i) {
    if (i != 0) return;
    int reports = 0, seen = 0;
    const std::thread::id self = std::this_thread::get_id();
    EXPECT_FALSE(parallelRows(
        6400, 1,
        [&](int first, int end) {
          EXPECT_EQ(std::this_thread::get_id(), self);
          seen += end - first;
        },
        [&](int) { return ++reports < 10; }));
    EXPECT_EQ(seen, 9 * 6400 / kProgressBlocks);
    // Run to the end, every block is reported.
    std::vector<int> done;
    EXPECT_TRUE(parallelRows(6400, 1, [](int, int) {}, [&](int d) {
      done.push_back(d);
      return true;
    }));
    ASSERT_EQ(done.size(), size_t{kProgressBlocks + 1});
    EXPECT_EQ(done[1], 6400 / kProgressBlocks);
    EXPECT_EQ(done.back(), 6400);
  });
}

// Statistics of a memory image are counted on the pool; every figure is
// the one a single pass over the lines in row order gives (accumulateHist,
// the scan of an image whose lines do not stay), to the last bit.
TEST(Threads, PoolStatisticsEqualOnePassInRowOrder) {
  const int rows = 2100, columns = 997, nbands = 2;
  for (int pixelid : {vesk::P_FLOAT, vesk::P_SHORT, vesk::P_BYTE}) {
    for (int step : {1, 3}) {
      SCOPED_TRACE(pixelid * 10 + step);
      rastertest::ImagePtr image = rastertest::memoryImage(pixelid, rows, columns, nbands);
      ASSERT_TRUE(image);
      std::vector<float> row(columns);
      unsigned seed = 12345;
      for (int b = 0; b < nbands; b++)
        for (int r = 0; r < rows; r++) {
          for (float &v : row) {
            seed = seed * 1103515245u + 12345u;
            const float u = static_cast<float>((seed >> 8) & 0xffff) / 65536.0f;
            v = pixelid == vesk::P_FLOAT ? (u - 0.3f) * 1234.567f + r * 0.001f
                                         : std::floor(u * 250.0f);
          }
          putFloatBILData(image.get(), r, 0, columns, b, row.data());
        }
      BandHist *expected = createHist(nbands, histBinCount(pixelid));
      ASSERT_NE(expected, nullptr);
      for (int r = 0; r < rows; r += step)
        for (int b = 0; b < nbands; b++)
          accumulateHist(&expected[b], pixelid, columns, step,
                         getRAMImageLine(image.get(), r, b, 1), 0);
      BandHist *got = ramImageHist(image.get(), kHistRecompute, step, step);
      ASSERT_NE(got, nullptr);
      for (int b = 0; b < nbands; b++) {
        EXPECT_EQ(memcmp(&got[b].sum, &expected[b].sum, sizeof(double)), 0) << got[b].sum;
        EXPECT_EQ(memcmp(&got[b].sumSq, &expected[b].sumSq, sizeof(double)), 0) << got[b].sumSq;
        EXPECT_EQ(got[b].count, expected[b].count);
        EXPECT_EQ(got[b].min, expected[b].min);
        EXPECT_EQ(got[b].max, expected[b].max);
        for (int v = 0; v < expected[b].binCount; v++) EXPECT_EQ(got[b].bins[v], expected[b].bins[v]);
      }
      freeHist(expected, nbands);
    }
  }
}
