/*
 * threads.h --
 *     A small pool of worker threads for per-row kernels.  Work is split
 *     into numbered pieces whose results do not depend on which thread
 *     runs them, so the output is the same with any number of threads.
 *     VESK_THREADS=1 keeps everything on the calling thread.
 */
#ifndef VESK_CORE_THREADS_H
#define VESK_CORE_THREADS_H

#include <functional>

namespace vesk {

/* Threads the pool works with, the caller included: VESK_THREADS when set
   to 1 or more, else the machine's cores. */
int workerCount();

/* Runs piece(i) for i in 0 .. count - 1 on the pool and the calling
   thread; returns when every piece is done.  Pieces must not touch the
   Tcl interpreter, the meter or the line cache.  An exception thrown by a
   piece (the first, when several throw) is thrown again on the calling
   thread once every piece has ended; a parallelFor inside a piece runs
   its pieces on that piece's thread. */
void parallelFor(int count, const std::function<void(int)> &piece);

/* The rows of one block of work: at least this much, counted in the
   work of one pixel of a light kernel (an add), is worth handing to
   another thread; less stays on the calling thread. */
inline constexpr long kMinBlockWork = 1L << 17;

/* Rows a block needs for kMinBlockWork when a row costs rowWork (at least 1). */
int rowGrain(long long rowWork);

/*
 * parallelRows --
 *     Runs rows(first, end) over the rows 0 .. count - 1, in blocks of at
 *     least `grain` rows on the pool; each row's result must depend on
 *     that row alone, so the output is the same with any number of
 *     threads.  With fewer than two blocks' worth of rows, or one thread,
 *     everything runs on the calling thread, in one call.  A module reads
 *     and writes through the line cache, moves the meter and polls the run
 *     status on its own thread between calls (rounds of rows).
 */
void parallelRows(int count, int grain, const std::function<void(int first, int end)> &rows);

/*
 * Rows of one round of a module that reads its rows on the calling thread,
 * works them out on the pool and writes them there again: enough that every
 * thread gets a few blocks of `grain` rows, and about 4 MB of rows of
 * rowBytes, within 1 .. rows.
 */
int roundRows(int grain, int rows, long long rowBytes);

/* Blocks a watched parallelRows call on one thread splits its rows into. */
inline constexpr int kProgressBlocks = 64;

/*
 * parallelRows (watched) --
 *     As above, with the calling thread told how the work goes: progress
 *     runs on the calling thread only (never on a worker), once before the
 *     first block, after each block that thread finishes and, while it
 *     waits for the workers' last blocks, every few milliseconds, with the
 *     rows finished so far; it may move the meter and poll the run status.
 *     When it returns false it is not called again and no further block
 *     starts (the running ones finish).
 *     On one thread the rows go in kProgressBlocks blocks, so progress is
 *     still seen.  Inside progress the pool is busy: a module it starts
 *     runs on the calling thread alone.
 * Results:      true when every row was done, false when progress stopped it.
 */
bool parallelRows(int count, int grain, const std::function<void(int first, int end)> &rows,
                  const std::function<bool(int done)> &progress);

}  // namespace vesk

#endif
