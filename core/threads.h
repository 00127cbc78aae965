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
   Tcl interpreter, the meter or the line cache. */
void parallelFor(int count, const std::function<void(int)> &piece);

}  // namespace vesk

#endif
