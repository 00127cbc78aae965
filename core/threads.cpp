/*
 * threads.cpp --
 *     The worker pool of the per-row kernels: threads started on first use
 *     and kept, one job at a time, pieces handed out by a shared counter.
 */
#include "core/threads.h"

#include <limits.h>
#include <stdlib.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vesk {
namespace {

constexpr int kMaxWorkers = 64;

/* How often a watched job's caller, its own blocks done, looks at the
   workers' progress. */
constexpr std::chrono::milliseconds kWatchInterval{20};

struct Pool {
  std::mutex lock;
  std::condition_variable wake, done;
  const std::function<void(int)> *piece = nullptr;
  int count = 0;
  std::atomic<int> next{0};
  int busy = 0;             /* workers still inside the current job */
  unsigned generation = 0;  /* bumped for each job */
  int threads = 0;          /* workers started */
  std::exception_ptr failure;  /* the first exception of the current job */
};

/* True on a thread while it runs a piece: a parallelFor there runs inline. */
thread_local bool inPiece = false;

/* Takes pieces of the current job until none are left; the first
   exception is kept for the caller and the remaining pieces skipped.  The
   calling thread runs `between` after each of its pieces (null: nothing);
   when that returns false no further piece is handed out. */
void runPieces(Pool &pool, const std::function<void(int)> &piece, int count,
               const std::function<bool()> *between = nullptr) {
  inPiece = true;
  for (int i = pool.next.fetch_add(1); i < count; i = pool.next.fetch_add(1)) {
    try {
      piece(i);
      if (between && !(*between)()) pool.next.store(count);
    } catch (...) {
      std::lock_guard<std::mutex> hold(pool.lock);
      if (!pool.failure) pool.failure = std::current_exception();
      pool.next.store(count);
    }
  }
  inPiece = false;
}

void workerMain(Pool *pool) {
  unsigned seen = 0;
  for (;;) {
    const std::function<void(int)> *piece;
    int count;
    {
      std::unique_lock<std::mutex> hold(pool->lock);
      pool->wake.wait(hold, [&] { return pool->generation != seen; });
      seen = pool->generation;
      piece = pool->piece;
      count = pool->count;
    }
    runPieces(*pool, *piece, count);
    std::lock_guard<std::mutex> hold(pool->lock);
    if (--pool->busy == 0) pool->done.notify_one();
  }
}

/* The pool lives as long as the process: its threads wait on a condition
   variable between jobs and end with the process. */
Pool &thePool() {
  static Pool *pool = new Pool();
  return *pool;
}

std::mutex jobLock;  // one job at a time

}  // namespace

int workerCount() {
  static const int count = [] {
    if (const char *text = getenv("VESK_THREADS")) {
      const int n = atoi(text);
      if (n >= 1) return std::min(n, kMaxWorkers);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, static_cast<unsigned>(kMaxWorkers)));
  }();
  return count;
}

namespace {

/* parallelFor with the calling thread's `between` of runPieces. */
void runJob(int count, const std::function<void(int)> &piece, const std::function<bool()> *between) {
  const int helpers = std::min(workerCount(), count) - 1;
  if (helpers <= 0 || inPiece) {
    for (int i = 0; i < count; i++) {
      piece(i);
      if (between && !(*between)()) break;
    }
    return;
  }
  std::lock_guard<std::mutex> job(jobLock);
  Pool &pool = thePool();
  {
    std::lock_guard<std::mutex> hold(pool.lock);
    try {
      while (pool.threads < workerCount() - 1) {
        std::thread(workerMain, &pool).detach();
        pool.threads++;
      }
    } catch (...) {
      // No more threads to be had: the ones running (and the caller) do the work.
    }
    pool.piece = &piece;
    pool.count = count;
    pool.next.store(0);
    pool.busy = pool.threads;
    pool.failure = nullptr;
    pool.generation++;
  }
  pool.wake.notify_all();
  runPieces(pool, piece, count, between);
  std::exception_ptr failure;
  for (bool stop = false;;) {
    {
      std::unique_lock<std::mutex> hold(pool.lock);
      if (!between || stop) pool.done.wait(hold, [&] { return pool.busy == 0; });
      else pool.done.wait_for(hold, kWatchInterval, [&] { return pool.busy == 0; });
      if (pool.busy == 0) {
        std::swap(failure, pool.failure);
        break;
      }
    }
    // The last blocks still run on the workers: the caller keeps watching.
    inPiece = true;
    try {
      stop = !(*between)();
    } catch (...) {
      std::lock_guard<std::mutex> hold(pool.lock);
      if (!pool.failure) pool.failure = std::current_exception();
      stop = true;
    }
    inPiece = false;
    if (stop) pool.next.store(count);
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

void parallelFor(int count, const std::function<void(int)> &piece) {
  runJob(count, piece, nullptr);
}

int rowGrain(long long rowWork) {
  rowWork = std::max(rowWork, 1LL);
  return static_cast<int>(std::clamp<long long>((kMinBlockWork + rowWork - 1) / rowWork, 1,
                                                INT_MAX));
}

int roundRows(int grain, int rows, long long rowBytes) {
  const long long bytes = std::max(rowBytes, 1LL);
  return static_cast<int>(std::clamp<long long>(
      std::max<long long>(static_cast<long long>(std::max(grain, 1)) * workerCount() * 4,
                          (1LL << 22) / bytes),
      1, std::max(rows, 1)));
}

namespace {

/* Threads a parallelRows call may use: 1 inside a piece, or for fewer
   than two blocks' worth of rows. */
int rowWorkers(int count, int grain) {
  const int workers = inPiece ? 1 : workerCount();
  return count < 2 * grain ? 1 : workers;
}

/* Blocks small enough that every thread gets several (the last ones to
   finish balance the load), large enough to be worth a hand-over. */
int rowBlock(int count, int grain, int workers) {
  return std::max(grain, count / (workers * 8));
}

}  // namespace

void parallelRows(int count, int grain, const std::function<void(int first, int end)> &rows) {
  if (count <= 0) return;
  grain = std::max(grain, 1);
  const int workers = rowWorkers(count, grain);
  if (workers <= 1) {
    rows(0, count);
    return;
  }
  const int block = rowBlock(count, grain, workers);
  parallelFor((count + block - 1) / block, [&](int i) {
    const int first = i * block;
    rows(first, std::min(count, first + block));
  });
}

bool parallelRows(int count, int grain, const std::function<void(int first, int end)> &rows,
                  const std::function<bool(int done)> &progress) {
  if (!progress(0)) return false;
  if (count <= 0) return true;
  grain = std::max(grain, 1);
  const int workers = rowWorkers(count, grain);
  // One thread still works in blocks, so that the meter moves and an
  // abort is seen while the rows are done.
  const int block = workers <= 1 ? std::max(1, (count + kProgressBlocks - 1) / kProgressBlocks)
                                 : rowBlock(count, grain, workers);
  std::atomic<int> done{0};
  bool stopped = false;
  const std::function<bool()> between = [&] {
    if (!stopped && !progress(done.load())) stopped = true;
    return !stopped;
  };
  runJob((count + block - 1) / block,
         [&](int i) {
           const int first = i * block, end = std::min(count, first + block);
           rows(first, end);
           done.fetch_add(end - first);
         },
         &between);
  return !stopped;
}

}  // namespace vesk
