// The worker pool: every row done once whatever the split, small counts on
// the calling thread, an exception in a piece thrown again to the caller
// once every piece has ended, and a pool call inside a piece run inline.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/threads.h"

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
