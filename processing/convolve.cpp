/*
 * convolve.cpp --
 *     Two neighbourhood modules of rimage.  "gconv" filters a window of an
 *     image with a kernel given as text: a full weight matrix ("2D"), a
 *     separable pair of weight lists ("1Ds") or the local-contrast filter
 *     ("dynamic"), working on float rows held in a ring of the last
 *     kernel-height rows.  "dist" writes the Euclidean distance in pixels
 *     to the nearest pixel of a set of classes, capped at 255, in two
 *     passes over the image.
 */
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <immintrin.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "core/core.h"
#include "core/options.h"
#include "core/text.h"
#include "core/threads.h"
#include "processing/rimage.h"
#include "processing/transfer.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* ---- gconv ---- */

/* Rows of gconvOptions. */
enum {
  GC_IN, GC_OUT, GC_IR, GC_IC, GC_R, GC_C, GC_OR, GC_OC, GC_B, GC_KN, GC_NORM, GC_FB,
  GC_OPTION_COUNT
};

const ModuleOption gconvOptions[] = {
    {"-in", nullptr}, {"-out", nullptr}, {"-ir", nullptr}, {"-ic", nullptr},
    {"-r", nullptr},  {"-c", nullptr},   {"-or", nullptr}, {"-oc", nullptr},
    {"-b", nullptr},  {"-kn", nullptr},  {"-norm", nullptr}, {"-fb", nullptr},
    {nullptr, nullptr},
};
static_assert(sizeof gconvOptions / sizeof gconvOptions[0] == GC_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const gconvUsage[] = {
    "     IN   input image id (file name or tag)\n",
    "     OUT  output image id (file name or tag)\n",
    "     IR   start input row (def:0)\n",
    "     IC   start input column (def:0)\n",
    "     R    number of rows to process.\n",
    "     C    number of columns to process.\n",
    "     OR   start output row (def:IR)\n",
    "     OC   start output column (def:IC)\n",
    "     B    image band specification:ib1:ob1;ib2:ob2....\n",
    "     KN   file name of weight list\n",
    "     NORM flag of normailzation (yes or no, def:no)\n",
    "     FB   flag of feed back to the original (yes or no, def:no)\n",
};

/* Kernel types, in the order of their names. */
enum KernelType { KERNEL_2D, KERNEL_1DS, KERNEL_DYNAMIC, KERNEL_MEDIAN };
const char *const kernelTypeNames[] = {"2D", "1Ds", "dynamic", "median"};

/* Weights a kernel text may hold. */
constexpr long kMaxKernelWeights = 512;

/* A kernel read from its text. */
struct ConvKernel {
  int type = KERNEL_2D;
  int nx = 0, ny = 0;
  std::vector<float> weights;   /* 2D: ny rows of nx; 1Ds: nx, then ny */
};

/* The gconv work record; owns both images while it is filled. */
struct GconvWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  int ir = 0, ic = 0;           /* input start row and column */
  int r = 0, c = 0;             /* rows and columns to process */
  int orow = 0, oc = 0;         /* output start row and column */
  int pairs = 0;                /* band pairs */
  int normalize = 0;
  int feedback = 0;
  ConvKernel kernel;
  std::vector<int> source;      /* 0-based source bands (palette components) */
  std::vector<int> dest;        /* 0-based destination bands */
};

/* One weight of a 2D kernel that is not zero: window row, column and weight. */
struct KernelTap {
  int m, n;
  float w;
};

/*
 * convolveTaps --
 *     One output row of a 2D kernel: each pixel the sum, in double, of its
 *     taps in order (a float times a float is exact in double, so a fused
 *     multiply-add gives the same sums).  Thirty-two pixels at a time, their
 *     sums in eight registers, one pass over the window's rows per output
 *     row.  The window's rows are floats, or the same values already
 *     widened to double (rows that many taps read: no conversion a tap).
 *     Built for the baseline and for AVX2/FMA machines, chosen at load.
 */
typedef double Doubles4 __attribute__((vector_size(32)));
typedef float Floats4 __attribute__((vector_size(16)));

/* Four samples as doubles (through a pointer: no vector crosses a call). */
inline void loadWide(const float *p, Doubles4 *v) {
  Floats4 f;
  memcpy(&f, p, sizeof f);
  *v = __builtin_convertvector(f, Doubles4);
}
inline void loadWide(const double *p, Doubles4 *v) { memcpy(v, p, sizeof *v); }
/* The dense filter's loads: four floats widened in one instruction (g++ 12
   splits a converted Floats4 into halves, and builds an element-wise one
   from scalar loads inside the filter's loops).  Only the AVX builds read
   float rows; the baseline widens them first. */
__attribute__((target("avx"))) inline void loadDense(const float *p, Doubles4 *v) {
  const __m256d wide = _mm256_cvtps_pd(_mm_loadu_ps(p));
  memcpy(v, &wide, sizeof *v);
}
inline void loadDense(const double *p, Doubles4 *v) { memcpy(v, p, sizeof *v); }
/* Eight lanes on AVX-512 builds: the same sums, half the instructions. */
typedef double Doubles8 __attribute__((vector_size(64)));
template <class V> constexpr int kLanes = sizeof(V) / sizeof(double);
template <class V> constexpr int kVectors = 4;  /* vectors across a block */
template <class V> constexpr int kBlock = kVectors<V> * kLanes<V>;
/* (The masked forms with every lane set: g++ 12's plain ones start from an
   undefined vector and warn.) */
__attribute__((target("avx512f"))) inline void loadDense(const float *p, Doubles8 *v) {
  const __m512d wide = _mm512_mask_cvtps_pd(_mm512_setzero_pd(), 0xff, _mm256_loadu_ps(p));
  memcpy(v, &wide, sizeof *v);
}
/* Sums rounded to float, stored. */
inline void storeDense(const Doubles4 &sums, float *p) {
  const Floats4 narrow = __builtin_convertvector(sums, Floats4);
  memcpy(p, &narrow, sizeof narrow);
}
__attribute__((target("avx512f"))) inline void storeDense(const Doubles8 &sums, float *p) {
  __m512d wide;
  memcpy(&wide, &sums, sizeof wide);
  _mm256_storeu_ps(p, _mm512_mask_cvtpd_ps(_mm256_setzero_ps(), 0xff, wide));
}
/* Four sums rounded to float, stored. */
#define storeNarrow(sums, p)                                    \
  do {                                                          \
    const Floats4 narrow = __builtin_convertvector(sums, Floats4); \
    memcpy(p, &narrow, sizeof narrow);                          \
  } while (0)

template <class Sample>
__attribute__((always_inline)) inline void convolveTapsBody(const Sample *const *window,
                                                            const KernelTap *taps, int tapCount,
                                                            int columns, float *__restrict out) {
  int x = 0;
  for (; x + 32 <= columns; x += 32) {
    Doubles4 a0 = {}, a1 = {}, a2 = {}, a3 = {}, a4 = {}, a5 = {}, a6 = {}, a7 = {};
    for (int t = 0; t < tapCount; t++) {
      const double weight = taps[t].w;
      const Doubles4 w = {weight, weight, weight, weight};
      const Sample *src = window[taps[t].m] + taps[t].n + x;
      Doubles4 v0, v1, v2, v3, v4, v5, v6, v7;
      loadWide(src, &v0);
      loadWide(src + 4, &v1);
      loadWide(src + 8, &v2);
      loadWide(src + 12, &v3);
      loadWide(src + 16, &v4);
      loadWide(src + 20, &v5);
      loadWide(src + 24, &v6);
      loadWide(src + 28, &v7);
      a0 += w * v0;
      a1 += w * v1;
      a2 += w * v2;
      a3 += w * v3;
      a4 += w * v4;
      a5 += w * v5;
      a6 += w * v6;
      a7 += w * v7;
    }
    storeNarrow(a0, out + x);
    storeNarrow(a1, out + x + 4);
    storeNarrow(a2, out + x + 8);
    storeNarrow(a3, out + x + 12);
    storeNarrow(a4, out + x + 16);
    storeNarrow(a5, out + x + 20);
    storeNarrow(a6, out + x + 24);
    storeNarrow(a7, out + x + 28);
  }
  for (; x < columns; x++) {
    double acc = 0;
    for (int t = 0; t < tapCount; t++)
      acc += static_cast<double>(taps[t].w) * window[taps[t].m][taps[t].n + x];
    out[x] = static_cast<float>(acc);
  }
}

__attribute__((target_clones("arch=x86-64-v3", "default")))
void convolveTaps(const float *const *window, const KernelTap *taps, int tapCount, int columns,
                  float *__restrict out) {
  convolveTapsBody(window, taps, tapCount, columns, out);
}

__attribute__((target_clones("arch=x86-64-v3", "default")))
void convolveTaps(const double *const *window, const KernelTap *taps, int tapCount, int columns,
                  float *__restrict out) {
  convolveTapsBody(window, taps, tapCount, columns, out);
}

/*
 * convolveDenseRows --
 *     Output rows of a kernel with no zero weight: window holds the
 *     ny + rows - 1 input rows they read, widened to double or as floats
 *     widened as they are loaded (output row r reads window[r] to
 *     window[r + ny - 1]).  The rows go in groups whose
 *     sums stay in registers across blocks of four vectors of columns, so
 *     each input vector is loaded once for every row of its group that
 *     reads it; each pixel still sums its taps in the kernel's order, so
 *     the values are those of convolveTaps row by row whatever the grouping
 *     or the vector width.  Groups of six rows and vectors of eight lanes
 *     where AVX-512 gives 32 such registers (blocks of 32 columns), of
 *     three rows and four lanes elsewhere; a 3 x 3 kernel is unrolled
 *     whole, its weights held in registers.
 */
/* Input row j of a group of R output rows, which rows LO to HI read
   (output row r with the kernel's row j - r). */
template <int R, int LO, int HI, class Sample, class V>
__attribute__((always_inline)) inline void denseStep(V (&acc)[R][4], const Sample *row,
                                                     const double *weights, int j, int nx) {
  const double *weightRows[R];
#pragma GCC unroll 8
  for (int r = LO; r <= HI; r++) weightRows[r] = weights + static_cast<ptrdiff_t>(j - r) * nx;
  for (int n = 0; n < nx; n++) {
    double k[R] = {};
#pragma GCC unroll 8
    for (int r = LO; r <= HI; r++) k[r] = weightRows[r][n];
#pragma GCC unroll 4
    for (int q = 0; q < kVectors<V>; q++) {
      V v;
      loadDense(row + n + kLanes<V> * q, &v);
#pragma GCC unroll 8
      for (int r = LO; r <= HI; r++) acc[r][q] += k[r] * v;
    }
  }
}

/* The first R - 1 input rows of a group: row J is read by rows 0 to J. */
template <int R, int J, class Sample, class V>
__attribute__((always_inline)) inline void denseHead(V (&acc)[R][4],
                                                     const Sample *const *window, int x,
                                                     const double *weights, int nx) {
  if constexpr (J < R - 1) {
    denseStep<R, 0, J>(acc, window[J] + x, weights, J, nx);
    denseHead<R, J + 1>(acc, window, x, weights, nx);
  }
}

/* The last R - 1 input rows of a group: row ny - 1 + L is read by rows L to R - 1. */
template <int R, int L, class Sample, class V>
__attribute__((always_inline)) inline void denseTail(V (&acc)[R][4],
                                                     const Sample *const *window, int x,
                                                     const double *weights, int nx, int ny) {
  if constexpr (L < R) {
    denseStep<R, L, R - 1>(acc, window[ny - 1 + L] + x, weights, ny - 1 + L, nx);
    denseTail<R, L + 1>(acc, window, x, weights, nx, ny);
  }
}

/* Columns past the last whole vector block, pixel by pixel. */
template <class Sample>
inline void denseColumns(const Sample *const *window, const double *weights, int nx, int ny,
                         int x, int columns, int rows, float *__restrict const *out) {
  for (; x < columns; x++)
    for (int r = 0; r < rows; r++) {
      double a = 0;
      for (int m = 0; m < ny; m++)
        for (int n = 0; n < nx; n++)
          a += weights[static_cast<ptrdiff_t>(m) * nx + n] * window[m + r][n + x];
      out[r][x] = static_cast<float>(a);
    }
}

/* Tail step L of the block at x (rows L to R - 1, input row ny - 1 + L)
   beside head step L - 1 of the next block (rows 0 to L - 1, input
   row L - 1), so that every row of the group has sums in flight. */
template <int R, int L, class Sample, class V>
__attribute__((always_inline)) inline void denseOverlapStep(V (&acc)[R][4],
                                                            const Sample *tailRow,
                                                            const Sample *headRow,
                                                            const double *weights, int nx,
                                                            int ny) {
  const double *weightRows[R];
#pragma GCC unroll 8
  for (int r = 0; r < R; r++)
    weightRows[r] = weights + static_cast<ptrdiff_t>(r < L ? L - 1 - r : ny - 1 + L - r) * nx;
  for (int n = 0; n < nx; n++) {
    double k[R];
#pragma GCC unroll 8
    for (int r = 0; r < R; r++) k[r] = weightRows[r][n];
#pragma GCC unroll 4
    for (int q = 0; q < kVectors<V>; q++) {
      V late, early;
      loadDense(tailRow + n + kLanes<V> * q, &late);
      loadDense(headRow + n + kLanes<V> * q, &early);
#pragma GCC unroll 8
      for (int r = 0; r < R; r++)
        acc[r][q] += k[r] * (r < L ? early : late);
    }
  }
}

/* Row r of the block at x stored; its sums start again for the next block. */
template <int R, class V>
__attribute__((always_inline)) inline void denseFinishRow(V (&acc)[R][4], int r, int x,
                                                          float *__restrict const *out) {
#pragma GCC unroll 4
  for (int q = 0; q < kVectors<V>; q++) {
    storeDense(acc[r][q], out[r] + x + kLanes<V> * q);
    acc[r][q] = V{};
  }
}

/* The tail of the block at x overlapped with the head of the next one,
   from step L on; row L is done after step L. */
template <int R, int L, class Sample, class V>
__attribute__((always_inline)) inline void denseOverlap(V (&acc)[R][4],
                                                        const Sample *const *window, int x,
                                                        const double *weights, int nx, int ny,
                                                        float *__restrict const *out) {
  if constexpr (L < R) {
    denseOverlapStep<R, L>(acc, window[ny - 1 + L] + x, window[L - 1] + x + kBlock<V>,
                           weights, nx, ny);
    denseFinishRow<R>(acc, L, x, out);
    denseOverlap<R, L + 1>(acc, window, x, weights, nx, ny, out);
  }
}

template <int R, class V, class Sample>
void denseGroup(const Sample *const *window, const double *weights, int nx, int ny, int columns,
                float *__restrict const *out);
template <int R, class V, class Sample>
void dense3x3Group(const Sample *const *window, const double *weights, int columns,
                   float *__restrict const *out);

/* Columns x on of a group of R rows past its last whole block: blocks of
   four lanes where eight lanes no longer fit, the rest pixel by pixel (a
   pixel's sum is a chain of dependent adds: slow alone). */
template <int R, class V, class Sample>
__attribute__((always_inline)) inline void denseRest(const Sample *const *window,
                                                     const double *weights, int nx, int ny,
                                                     int x, int columns,
                                                     float *__restrict const *out) {
  if constexpr (kLanes<V> > 4) {
    if (columns - x >= 16) {
      const Sample *shifted[kMaxKernelWeights + 8];
      float *outs[R];
      for (int m = 0; m < ny + R - 1; m++) shifted[m] = window[m] + x;
      for (int r = 0; r < R; r++) outs[r] = out[r] + x;
      if (nx == 3 && ny == 3) dense3x3Group<R, Doubles4>(shifted, weights, columns - x, outs);
      else denseGroup<R, Doubles4>(shifted, weights, nx, ny, columns - x, outs);
      return;
    }
  }
  denseColumns(window, weights, nx, ny, x, columns, R, out);
}

/* A group of R rows (R <= ny): blocks of four vectors, each block's
   last input rows read beside the next block's first. */
template <int R, class V, class Sample>
__attribute__((always_inline)) inline void denseGroup(const Sample *const *window,
                                                      const double *weights, int nx, int ny,
                                                      int columns, float *__restrict const *out) {
  int x = 0;
  if (columns >= kBlock<V>) {
    V acc[R][4] = {};
    denseHead<R, 0>(acc, window, 0, weights, nx);
    for (;; x += kBlock<V>) {
      for (int j = R - 1; j < ny; j++) denseStep<R, 0, R - 1>(acc, window[j] + x, weights, j, nx);
      if (x + 2 * kBlock<V> > columns) break;
      denseFinishRow<R>(acc, 0, x, out);
      denseOverlap<R, 1>(acc, window, x, weights, nx, ny, out);
    }
    denseTail<R, 1>(acc, window, x, weights, nx, ny);
#pragma GCC unroll 8
    for (int r = 0; r < R; r++)
#pragma GCC unroll 4
      for (int q = 0; q < kVectors<V>; q++) storeDense(acc[r][q], out[r] + x + kLanes<V> * q);
    x += kBlock<V>;
  }
  denseRest<R, V>(window, weights, nx, ny, x, columns, out);
}

/* Input row J of the block at x and input row JN of the next block
   (none when negative) for a group of R rows of a 3 x 3 kernel: output row
   r reads input row j with the kernel's row j - r. */
template <int R, int J, int JN, class Sample, class V>
__attribute__((always_inline)) inline void dense3x3Step(V (&acc)[R][4],
                                                        const Sample *const *window, int x,
                                                        const double (&k)[3][3]) {
#pragma GCC unroll 3
  for (int n = 0; n < 3; n++)
#pragma GCC unroll 4
    for (int q = 0; q < kVectors<V>; q++) {
      V late = {}, early = {};
      if constexpr (J >= 0) loadDense(window[J] + x + n + kLanes<V> * q, &late);
      if constexpr (JN >= 0)
        loadDense(window[JN] + x + kBlock<V> + n + kLanes<V> * q, &early);
#pragma GCC unroll 8
      for (int r = 0; r < R; r++) {
        if (JN >= 0 && r <= JN && JN - r < 3) {
          const double c = k[JN - r][n];
          acc[r][q] += c * early;
        } else if (J >= 0 && r <= J && J - r < 3) {
          const double c = k[J - r][n];
          acc[r][q] += c * late;
        }
      }
    }
}

/* Input rows J to LAST of the block at x alone. */
template <int R, int J, int LAST, class Sample, class V>
__attribute__((always_inline)) inline void dense3x3Steps(V (&acc)[R][4],
                                                         const Sample *const *window, int x,
                                                         const double (&k)[3][3]) {
  if constexpr (J <= LAST) {
    dense3x3Step<R, J, -1>(acc, window, x, k);
    dense3x3Steps<R, J + 1, LAST>(acc, window, x, k);
  }
}

/* Input rows J to R + 1 of the block at x beside rows J - 3 on of the next
   block; row J - 3, done with the row before, is stored first. */
template <int R, int J, class Sample, class V>
__attribute__((always_inline)) inline void dense3x3Pairs(V (&acc)[R][4],
                                                         const Sample *const *window, int x,
                                                         const double (&k)[3][3],
                                                         float *__restrict const *out) {
  if constexpr (J <= R + 1) {
    denseFinishRow<R>(acc, J - 3, x, out);
    dense3x3Step<R, J, J - 3>(acc, window, x, k);
    dense3x3Pairs<R, J + 1>(acc, window, x, k, out);
  }
}

/* A group of R rows (R <= 4) of a 3 x 3 kernel, every loop unrolled: the
   block at x reads input rows 0 to R + 1; its rows 3 on are read beside
   the next block's rows 0 on, so every row of the group has sums in
   flight. */
template <int R, class V, class Sample>
__attribute__((always_inline)) inline void dense3x3Group(const Sample *const *window,
                                                         const double *weights, int columns,
                                                         float *__restrict const *out) {
  double k[3][3];
  memcpy(k, weights, sizeof k);
  int x = 0;
  if (columns >= kBlock<V>) {
    V acc[R][4] = {};
    dense3x3Steps<R, 0, R - 2>(acc, window, 0, k);
    for (;; x += kBlock<V>) {
      dense3x3Steps<R, R - 1, 2>(acc, window, x, k);
      if (x + 2 * kBlock<V> > columns) break;
      dense3x3Pairs<R, 3>(acc, window, x, k, out);
      denseFinishRow<R>(acc, R - 1, x, out);
    }
    dense3x3Steps<R, 3, R + 1>(acc, window, x, k);
#pragma GCC unroll 8
    for (int r = 0; r < R; r++)
#pragma GCC unroll 4
      for (int q = 0; q < kVectors<V>; q++) storeDense(acc[r][q], out[r] + x + kLanes<V> * q);
    x += kBlock<V>;
  }
  denseRest<R, V>(window, weights, 3, 3, x, columns, out);
}

/* Rows from *done on in groups of G while a whole group is left. */
template <int G, class V3, class V, class Sample>
__attribute__((always_inline)) inline void denseGroups(const Sample *const *window,
                                                       const double *weights, int nx, int ny,
                                                       int columns, int rows,
                                                       float *__restrict const *out, int *done) {
  for (; *done + G <= rows; *done += G) {
    if (nx == 3 && ny == 3) dense3x3Group<G, V3>(window + *done, weights, columns, out + *done);
    else denseGroup<G, V>(window + *done, weights, nx, ny, columns, out + *done);
  }
}

/* All the rows, in groups of up to MAXG rows (groups no higher than the
   kernel); sums in vectors V3 for a 3 x 3 kernel, V for the others. */
template <int MAXG, class V3, class V, class Sample>
__attribute__((always_inline)) inline void denseRowsBody(const Sample *const *window,
                                                         const double *weights, int nx, int ny,
                                                         int columns, int rows,
                                                         float *__restrict const *out) {
  int done = 0;
  if (nx == 3 && ny == 3) {
    denseGroups<4, V3, V>(window, weights, nx, ny, columns, rows, out, &done);
  } else if constexpr (MAXG >= 6) {
    if (ny >= 6) denseGroups<6, V3, V>(window, weights, nx, ny, columns, rows, out, &done);
  }
  if (ny >= 3) denseGroups<3, V3, V>(window, weights, nx, ny, columns, rows, out, &done);
  if (ny >= 2) denseGroups<2, V3, V>(window, weights, nx, ny, columns, rows, out, &done);
  denseGroups<1, V3, V>(window, weights, nx, ny, columns, rows, out, &done);
}

template <class Sample>
using DenseRowsFn = void(const Sample *const *, const double *, int, int, int, int,
                         float *__restrict const *);

template <class Sample>
__attribute__((target("arch=x86-64-v4")))
void denseRowsAvx512(const Sample *const *window, const double *weights, int nx, int ny,
                     int columns, int rows, float *__restrict const *out) {
  // Eight lanes for a 3 x 3 kernel on float rows; a 64-byte load of eight
  // doubles from any column but every eighth spans two cache lines.
  typedef std::conditional_t<std::is_same_v<Sample, float>, Doubles8, Doubles4> Vector3x3;
  denseRowsBody<6, Vector3x3, Doubles4>(window, weights, nx, ny, columns, rows, out);
}

template <class Sample>
__attribute__((target("arch=x86-64-v3")))
void denseRowsAvx2(const Sample *const *window, const double *weights, int nx, int ny,
                   int columns, int rows, float *__restrict const *out) {
  denseRowsBody<3, Doubles4, Doubles4>(window, weights, nx, ny, columns, rows, out);
}

template <class Sample>
void denseRowsBaseline(const Sample *const *window, const double *weights, int nx, int ny,
                       int columns, int rows, float *__restrict const *out);

template <>
void denseRowsBaseline(const double *const *window, const double *weights, int nx, int ny,
                       int columns, int rows, float *__restrict const *out) {
  denseRowsBody<3, Doubles4, Doubles4>(window, weights, nx, ny, columns, rows, out);
}

/* Float rows on machines without AVX: widened first (the same sums). */
template <>
void denseRowsBaseline(const float *const *window, const double *weights, int nx, int ny,
                       int columns, int rows, float *__restrict const *out) {
  const int inputs = ny + rows - 1;
  const size_t width = static_cast<size_t>(columns) + nx - 1;
  std::vector<double> wide(width * inputs);
  const double *wideRows[kMaxKernelWeights + 8];
  for (int m = 0; m < inputs; m++) {
    std::copy(window[m], window[m] + width, wide.data() + m * width);
    wideRows[m] = wide.data() + m * width;
  }
  denseRowsBaseline(wideRows, weights, nx, ny, columns, rows, out);
}

template <class Sample>
DenseRowsFn<Sample> *pickDenseRows() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("x86-64-v4")) return denseRowsAvx512<Sample>;
  if (__builtin_cpu_supports("x86-64-v3")) return denseRowsAvx2<Sample>;
  return denseRowsBaseline<Sample>;
}

/* Widened rows (a ring) or the float lines themselves, widened as they are
   loaded: the same sums either way. */
void convolveDenseRows(const double *const *window, const double *weights, int nx, int ny,
                       int columns, int rows, float *__restrict const *out) {
  static DenseRowsFn<double> *const chosen = pickDenseRows<double>();
  chosen(window, weights, nx, ny, columns, rows, out);
}

void convolveDenseRows(const float *const *window, const double *weights, int nx, int ny,
                       int columns, int rows, float *__restrict const *out) {
  static DenseRowsFn<float> *const chosen = pickDenseRows<float>();
  chosen(window, weights, nx, ny, columns, rows, out);
}
#undef storeNarrow

/* printf into a string, for messages handed back to the caller. */
std::string kernelMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string kernelMessage(const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

/* True for the characters that separate tokens of a kernel text. */
inline bool isKernelSeparator(char ch) { return ch == ' ' || ch == '\n' || ch == ',' || ch == ';'; }

/* The tokens of a kernel text, in order. */
std::vector<std::string> kernelTokens(const std::string &text) {
  std::vector<std::string> tokens;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && isKernelSeparator(text[at])) at++;
    size_t end = at;
    while (end < text.size() && !isKernelSeparator(text[end]) && text[end] != '\0') end++;
    if (end > at) tokens.push_back(text.substr(at, end - at));
    if (end < text.size() && text[end] == '\0') break;
    at = end;
  }
  return tokens;
}

}  // namespace

/*
 * parseConvKernel --
 *     Reads a kernel text: type, width, height and the type's weights.
 * Results:      1 with the kernel filled; 0 with the message of the first
 *               fault in *message (no "Error in parsing" line).
 */
int parseConvKernel(const std::string &text, ConvKernel *kernel, std::string *message) {
  std::vector<std::string> tokens = kernelTokens(text);
  if (tokens.empty()) {
    *message = "Missing kernel type.\n";
    return 0;
  }
  int type = -1;
  for (int i = 0; i < 4; i++)
    if (tokens[0] == kernelTypeNames[i]) type = i;
  if (type < 0) {
    *message = kernelMessage("Unknown kernel type: %s", tokens[0].c_str());
    return 0;
  }
  if (tokens.size() < 3) {
    *message = "Missing kernel dimension.\n";
    return 0;
  }
  long nx = atol(tokens[1].c_str());
  long ny = atol(tokens[2].c_str());
  if (nx < 1 || ny < 1 || nx > INT_MAX || ny > INT_MAX) {
    *message = kernelMessage("Invalid kernel dimension (must be > 0) - nx:%ld ny:%ld\n", nx, ny);
    return 0;
  }
  long long count = 0;
  if (type == KERNEL_2D) count = static_cast<long long>(nx) * ny;
  else if (type == KERNEL_1DS) count = static_cast<long long>(nx) + ny;
  if (count > kMaxKernelWeights) {
    *message = kernelMessage("Kernel size overflow: %ldx%ld.\n", nx, ny);
    return 0;
  }
  const long long given = static_cast<long long>(tokens.size()) - 3;
  if (given < count) {
    *message = kernelMessage("Not enough kernel elements: %lld (expected: %lld).\n", given, count);
    return 0;
  }
  if (given > count) {
    *message = kernelMessage("Unexpected kernel end %s.\n", tokens[3 + count].c_str());
    return 0;
  }
  kernel->type = type;
  kernel->nx = static_cast<int>(nx);
  kernel->ny = static_cast<int>(ny);
  kernel->weights.resize(static_cast<size_t>(count));
  for (long long i = 0; i < count; i++)
    kernel->weights[i] = static_cast<float>(atof(tokens[3 + i].c_str()));
  return 1;
}

namespace {

/*
 * readKernelText --
 *     The -kn value: an at-sign and the text itself, or the path of a file
 *     read whole.
 * Results:      1; 0 after "Error in open kernel file" or for an empty file.
 */
int readKernelText(const char *word, std::string *text) {
  if (word[0] == '@') {
    *text = word + 1;
    return 1;
  }
  int fd = open(word, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    vesk_fprintf(stderr, "Error in open kernel file: %s.\n", word);
    return 0;
  }
  /* A kernel of 512 weights is a few kilobytes; a huge file is not a kernel. */
  constexpr off_t kMaxKernelFile = 16 << 20;
  if (st.st_size > kMaxKernelFile) {
    close(fd);
    vesk_fprintf(stderr, "Kernel file too large: %s (%lld bytes, limit %lld).\n", word,
                 static_cast<long long>(st.st_size), static_cast<long long>(kMaxKernelFile));
    return 0;
  }
  text->assign(static_cast<size_t>(st.st_size), '\0');
  int64_t got = st.st_size ? getFileData(fd, &(*text)[0], st.st_size, 0, 0) : 0;
  close(fd);
  if (got != st.st_size) {
    vesk_fprintf(stderr, "Error in open kernel file: %s.\n", word);
    return 0;
  }
  return !text->empty();
}

/* Ends a failed gconv parse: both images closed, the open error printed. */
int gconvParseFailure(GconvWork *w, int err) {
  if (w->in) closeRAMImage(w->in, nullptr);
  if (w->out) closeRAMImage(w->out, nullptr);
  w->in = w->out = nullptr;
  printRAMImageError(err);
  return 0;
}

/*
 * moduleOutputHead --
 *     A new DIB of BYTE pixels beside an input: the input's size and
 *     georeference, the given band count, the caller sets the palette.
 * Results:      the head, or false when the path does not fit.
 */
bool moduleOutputHead(const RAMIMG *in, const char *path, int nbands, ImageHeader *h) {
  *h = in->header;
  if (strlen(path) >= sizeof h->path) return false;
  strcpy(h->path, path);
  h->imgid = IMG_DIB;
  h->pixelid = P_BYTE;
  h->bits = 8;
  h->nbands = nbands;
  h->nindices = 0;
  h->offset = 0;
  h->block = 0;
  h->altFd = -1;
  h->volumes = 0;
  h->readerFlag = 0;
  return true;
}

/* "yes" 1, "no" 0, anything else -1; no word gives 0. */
int yesNoFlag(const char *word) {
  if (!word || compareNoCase(word, "no") == 0) return 0;
  if (compareNoCase(word, "yes") == 0) return 1;
  return -1;
}

}  // namespace

/*
 * parseGconvOptions --
 *     Fills the work record from the option words: both images, the
 *     window, the flags, the band pairs and the kernel.
 * Results:      1; 0 after the message of the first fault, with nothing
 *               left open.
 */
int parseGconvOptions(GconvWork *w, int argc, const char **argv) {
  ModuleOption o[GC_OPTION_COUNT + 1];
  std::copy(std::begin(gconvOptions), std::end(gconvOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  int err = 0;
  if (!o[GC_IN].value) {
    vesk_fprintf(stderr, "missing input image file.\n");
    return 0;
  }
  w->in = openRAMImage(o[GC_IN].value, o[GC_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open input image: %s\n", o[GC_IN].value);
    return gconvParseFailure(w, err);
  }
  if (!o[GC_OUT].value) {
    vesk_fprintf(stderr, "missing output image file.\n");
    return gconvParseFailure(w, 0);
  }
  w->out = openRAMImage(o[GC_OUT].value, o[GC_OUT].value, nullptr, nullptr, &err);
  if (!w->out) {
    ImageHeader h;
    const bool colour = w->in->header.nbands > 1;
    if (moduleOutputHead(w->in, o[GC_OUT].value, colour ? 3 : 1, &h)) {
      if (!colour) {
        h.nindices = 256;
        for (int i = 0; i < 256; i++)
          h.palette[i][0] = h.palette[i][1] = h.palette[i][2] = static_cast<unsigned char>(i);
      }
      w->out = openRAMImageNew(&h, nullptr, 0, &err);
    }
    if (!w->out) {
      vesk_fprintf(stderr, "Error in open output image: %s\n", o[GC_OUT].value);
      return gconvParseFailure(w, err);
    }
  }
  const ImageHeader &in = w->in->header;
  const ImageHeader &out = w->out->header;

  w->ir = o[GC_IR].value ? static_cast<int>(atol(o[GC_IR].value)) : 0;
  w->ic = o[GC_IC].value ? static_cast<int>(atol(o[GC_IC].value)) : 0;
  w->orow = o[GC_OR].value ? static_cast<int>(atol(o[GC_OR].value)) : w->ir;
  w->oc = o[GC_OC].value ? static_cast<int>(atol(o[GC_OC].value)) : w->ic;
  const char *range = nullptr;
  if (w->ir < 0 || w->ir >= in.rows) range = "Start input row out of range.\n";
  else if (w->ic < 0 || w->ic >= in.columns) range = "Start input column out of range.\n";
  else if (w->orow < 0 || w->orow >= out.rows) range = "Start output row out of range.\n";
  else if (w->oc < 0 || w->oc >= out.columns) range = "Start output column out of range.\n";
  if (range) {
    vesk_fprintf(stderr, "%s", range);
    return gconvParseFailure(w, 0);
  }
  w->r = o[GC_R].value ? static_cast<int>(atol(o[GC_R].value)) : in.rows;
  w->c = o[GC_C].value ? static_cast<int>(atol(o[GC_C].value)) : in.columns;
  w->r = std::max(0, std::min({w->r, in.rows - w->ir, out.rows - w->orow}));
  w->c = std::max(0, std::min({w->c, in.columns - w->ic, out.columns - w->oc}));

  w->normalize = yesNoFlag(o[GC_NORM].value);
  if (w->normalize < 0) {
    vesk_fprintf(stderr, "-norm flag must be yes or no.\n");
    return gconvParseFailure(w, 0);
  }
  w->feedback = yesNoFlag(o[GC_FB].value);
  if (w->feedback < 0) {
    vesk_fprintf(stderr, "-fb flag must be yes or no.\n");
    return gconvParseFailure(w, 0);
  }

  const int sourceBands = in.nindices > 0 ? 3 : in.nbands;
  w->source.resize(kMaxBandPairs);
  w->dest.resize(kMaxBandPairs);
  w->pairs = parseBandList(sourceBands, out.nbands, w->source.data(), w->dest.data(),
                           o[GC_B].value);
  if (w->pairs <= 0) return gconvParseFailure(w, 0);
  w->source.resize(static_cast<size_t>(w->pairs));
  w->dest.resize(static_cast<size_t>(w->pairs));

  if (!o[GC_KN].value) {
    vesk_fprintf(stderr, "missing kernel.\n");
    return gconvParseFailure(w, 0);
  }
  std::string text, message;
  if (!readKernelText(o[GC_KN].value, &text)) return gconvParseFailure(w, 0);
  if (!parseConvKernel(text, &w->kernel, &message)) {
    vesk_fprintf(stderr, "%sError in parsing conv kernel.\n", message.c_str());
    return gconvParseFailure(w, 0);
  }
  return 1;
}

namespace {

/* Divides the weights by their sum when it is not 0. */
void normaliseWeights(float *weights, int n) {
  double sum = 0;
  for (int i = 0; i < n; i++) sum += weights[i];
  if (sum != 0)
    for (int i = 0; i < n; i++) weights[i] = static_cast<float>(weights[i] / sum);
}

/* The weights as the filters use them: normalised, then the input added back. */
void prepareWeights(GconvWork *w) {
  ConvKernel &k = w->kernel;
  float *weights = k.weights.data();
  if (k.type == KERNEL_2D) {
    if (w->normalize) normaliseWeights(weights, k.nx * k.ny);
    if (w->feedback) weights[(k.ny / 2) * k.nx + k.nx / 2] += 1.0f;
  } else if (k.type == KERNEL_1DS) {
    if (w->normalize) {
      normaliseWeights(weights, k.nx);
      normaliseWeights(weights + k.nx, k.ny);
    }
    if (w->feedback) {
      weights[k.nx / 2] += 1.0f;
      weights[k.nx + k.ny / 2] += 1.0f;
    }
  }
}

/*
 * readPaddedRow --
 *     One input row of a source band (palette component) into a padded
 *     row: the pixels at offset nx/2, the edge pixels repeated into the
 *     nx/2 slots before and the slots after them.
 */
void readPaddedRow(RAMIMG *in, int row, int band, int nx, float *padded) {
  const int columns = in->header.columns;
  row = std::clamp(row, 0, in->header.rows - 1);
  float *pixels = padded + nx / 2;
  getPaletteFloatBILData(in, row, 0, columns, band, pixels);
  std::fill(padded, pixels, pixels[0]);
  std::fill(pixels + columns, padded + nx + columns, pixels[columns - 1]);
}

/* A line widened to double into a padded row, the edge pixels repeated
   into the nx/2 slots before and the slots after them (built for AVX2 and
   AVX-512 too: wider conversions and stores). */
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
void widenPaddedRow(const float *pixels, int columns, int nx, double *padded) {
  double *at = padded + nx / 2;
  std::copy(pixels, pixels + columns, at);
  std::fill(padded, at, static_cast<double>(pixels[0]));
  std::fill(at + columns, padded + nx + columns, static_cast<double>(pixels[columns - 1]));
}

/* a x b floats of a ring, or bad_alloc when that cannot be addressed. */
size_t checkedCount(size_t a, size_t b) {
  if (b != 0 && a > (PTRDIFF_MAX / sizeof(double)) / b) throw std::bad_alloc();
  return a * b;
}

/* The destination bands' statistics are stale once the filter writes them. */
void resetDestinationStats(GconvWork *w) {
  if (!w->out->hist) return;
  for (int d : w->dest) resetHist(&w->out->hist[d]);
}

/* The weights convolveDenseRows takes, widened, when the kernel has no zero
   weight (every weight a tap); none when it has one. */
std::vector<double> denseWeights(const std::vector<KernelTap> &taps, int nx, int ny) {
  std::vector<double> weights;
  if (taps.size() == static_cast<size_t>(nx) * ny)
    for (const KernelTap &t : taps) weights.push_back(t.w);
  return weights;
}

/*
 * gconvResident --
 *     "2D" from a FLOAT memory image into another: the rows are split into
 *     runs, each run filtered on the worker pool, read and written where
 *     the lines lie.  Runs are long on few threads and short enough on
 *     many that every thread gets several.  A kernel with no zero weight
 *     filters a group of rows at a time, in strips of columns; while a
 *     strip's sums run, the input lines the next group adds are fetched
 *     into the cache.  A dense kernel of up to nine weights reads the float
 *     lines themselves, widened as they are loaded (a pass widening them
 *     first cost a fifth of the time at 2048 x 2048); larger kernels, whose
 *     sums are the cost, and kernels with zero weights keep a ring of input
 *     rows widened once (converting at every load of a 9 x 9 kernel costs
 *     more than the pass).  The meter moves between rounds of runs on this
 *     thread.
 * Results:      1; 0 (nothing done) when some line is not held in memory.
 */
int gconvResident(GconvWork *w, const std::vector<KernelTap> &taps) {
  const ConvKernel &k = w->kernel;
  const int nx = k.nx, ny = k.ny;
  const ImageHeader &in = w->in->header;
  if (w->r <= 0 || in.rows <= 0 || in.nindices != 0 || in.pixelid != P_FLOAT ||
      w->out->header.pixelid != P_FLOAT ||
      w->oc < 0 || int64_t{w->oc} + w->c > w->out->header.columns)
    return 0;
  // Every line either side touches, gathered on this thread.
  const int first = std::clamp(w->ir - ny / 2, 0, in.rows - 1);
  const int last = std::clamp(w->ir + w->r - 1 - ny / 2 + ny - 1, 0, in.rows - 1);
  std::vector<const float *> source(static_cast<size_t>(last - first + 1) * w->pairs);
  std::vector<float *> target(static_cast<size_t>(w->r) * w->pairs);
  for (int p = 0; p < w->pairs; p++) {
    for (int row = first; row <= last; row++) {
      const float *line = residentFloatLine(w->in, row, w->source[p]);
      if (!line) return 0;
      source[static_cast<size_t>(p) * (last - first + 1) + (row - first)] = line;
    }
    for (int i = 0; i < w->r; i++)
      if (!(target[static_cast<size_t>(p) * w->r + i] =
                residentFloatLine(w->out, w->orow + i, w->dest[p])))
        return 0;
  }
  for (int p = 0; p < w->pairs; p++)
    for (int i = 0; i < w->r; i++) setRAMImageDirty(w->out, w->orow + i, w->dest[p]);

  // A kernel without zero weights filters rows in groups (4 for 3 x 3, else 6).
  const std::vector<double> weights = denseWeights(taps, nx, ny);
  const bool dense = !weights.empty();
  const int group = !dense ? 1 : nx == 3 && ny == 3 ? 4 : 6;
  // About four runs a thread, of 64 to 512 rows, in whole groups.
  const int workers = std::max(workerCount(), 1);
  int run = std::clamp((w->r + workers * 4 - 1) / (workers * 4), 64, 512);
  run = (run + 11) / 12 * 12;
  const int runs = (w->r + run - 1) / run;
  auto inputLine = [&](int p, int row) {
    row = std::clamp(row, 0, in.rows - 1);
    return source[static_cast<size_t>(p) * (last - first + 1) + (row - first)];
  };
  // Dense kernels of up to nine weights read the float lines themselves.
  const bool direct = dense && nx * ny <= 9;
  // Output column x reads the line from column x + shift on.  Such a kernel
  // reads the lines where they lie between the edge pieces [0, left) and
  // [right, c), whose columns past the line's ends come from short padded
  // copies (whole blocks of sixteen columns when they fit; eight-lane
  // filters take a last block of sixteen in four lanes).
  const int shift = w->ic - nx / 2;
  const int inside0 = std::min(w->c, std::max(0, -shift));
  const int inside1 = std::clamp(in.columns - nx + 1 - shift, inside0, w->c);
  const int left = std::min(w->c, (inside0 + 15) / 16 * 16);
  const int right = std::max(left, left + (inside1 - left) / 16 * 16);
  const size_t edgeStride = (static_cast<size_t>(std::max(left, w->c - right)) + nx + 6) / 8 * 8;
  const size_t edgeSize =
      direct ? checkedCount(edgeStride, static_cast<size_t>(ny + group - 1)) : 0;
  const int slots = ny + group - 1;
  const size_t padded = static_cast<size_t>(nx) + in.columns;
  // Slots start on 64-byte lines: the filter's loads cross fewer lines.
  const size_t stride = (padded + 7) / 8 * 8;
  const size_t ringSize = direct ? 0 : checkedCount(stride, static_cast<size_t>(slots)) + 8;
  constexpr int kStrip = 256;
  RowMeter meter("gconv");
  const int round = workers * 2;
  for (int r0 = 0; r0 < runs; r0 += round) {
    const int count = std::min(round, runs - r0);
    parallelFor(count * w->pairs, [&](int piece) {
      const int p = piece % w->pairs, i0 = (r0 + piece / w->pairs) * run;
      const int n = std::min(run, w->r - i0);
      auto line = [&](int j) { return inputLine(p, w->ir + i0 + j - ny / 2); };
      auto output = [&](int i) { return target[static_cast<size_t>(p) * w->r + i0 + i] + w->oc; };
      if (!direct) {
        // Input row i0 + j - ny/2 of the run lies in slot j % slots.
        std::unique_ptr<double[]> ring(new double[ringSize]);
        double *const ringStart =
            ring.get() + (8 - reinterpret_cast<uintptr_t>(ring.get()) / sizeof(double) % 8) % 8;
        auto slot = [&](int s) { return ringStart + static_cast<size_t>(s) * stride; };
        int held = 0;
        auto hold = [&](int rows) {
          for (; held < rows; held++) widenPaddedRow(line(held), in.columns, nx, slot(held % slots));
        };
        const double *window[kMaxKernelWeights + 8];
        const double *strip[kMaxKernelWeights + 8];
        float *outs[8], *stripOuts[8];
        for (int i = 0; i < n; i += group) {
          const int rows = std::min(group, n - i);
          hold(i + ny + rows - 1);
          for (int m = 0; m < ny + rows - 1; m++) window[m] = slot((i + m) % slots) + w->ic;
          if (!dense) {
            convolveTaps(window, taps.data(), static_cast<int>(taps.size()), w->c, output(i));
            continue;
          }
          for (int r = 0; r < rows; r++) outs[r] = output(i + r);
          // Rows held..ahead - 1 are the next group's new input rows.
          const int ahead = i + rows < n ? i + rows + std::min(group, n - i - rows) + ny - 1 : held;
          for (int x = 0; x < w->c; x += kStrip) {
            const int width = std::min(kStrip, w->c - x);
            const int64_t from = int64_t{x} * in.columns / w->c;
            const int64_t to = int64_t{x + width} * in.columns / w->c;
            for (int j = held; j < ahead; j++) {
              const float *start = line(j);
              for (const float *at = start + from, *end = start + to; at < end; at += 16)
                __builtin_prefetch(at, 0, 2);
            }
            for (int m = 0; m < ny + rows - 1; m++) strip[m] = window[m] + x;
            for (int r = 0; r < rows; r++) stripOuts[r] = outs[r] + x;
            convolveDenseRows(strip, weights.data(), nx, ny, width, rows, stripOuts);
          }
        }
        return;
      }
      std::unique_ptr<float[]> edge(new float[edgeSize]);
      const float *lines[kMaxKernelWeights + 8], *window[kMaxKernelWeights + 8];
      float *outs[8], *stripOuts[8];
      // Columns x to x + width of the group's rows, from padded copies when
      // the lines do not hold every column they read.
      auto filter = [&](int x, int width, int inputs, int rows) {
        if (x < left || x >= right) {
          // Copy entry t is column x + shift + t of the line, held to its ends.
          const int count = width + nx - 1;
          const int from = std::clamp(-(x + shift), 0, count);
          const int to = std::clamp(in.columns - (x + shift), from, count);
          for (int m = 0; m < inputs; m++) {
            float *copy = edge.get() + static_cast<size_t>(m) * edgeStride;
            std::fill(copy, copy + from, lines[m][0]);
            std::copy(lines[m] + x + shift + from, lines[m] + x + shift + to, copy + from);
            std::fill(copy + to, copy + count, lines[m][in.columns - 1]);
            window[m] = copy;
          }
        } else {
          for (int m = 0; m < inputs; m++) window[m] = lines[m] + x + shift;
        }
        for (int r = 0; r < rows; r++) stripOuts[r] = outs[r] + x;
        convolveDenseRows(window, weights.data(), nx, ny, width, rows, stripOuts);
      };
      for (int i = 0; i < n; i += group) {
        const int rows = std::min(group, n - i), inputs = ny + rows - 1;
        for (int m = 0; m < inputs; m++) lines[m] = line(i + m);
        for (int r = 0; r < rows; r++) outs[r] = output(i + r);
        // Rows i + inputs to ahead - 1 are the next group's new input rows:
        // fetched into the cache while the strips before them run.
        const int ahead = i + rows < n ? i + rows + std::min(group, n - i - rows) + ny - 1 : 0;
        if (left > 0) filter(0, left, inputs, rows);
        for (int x = left; x < right; x += kStrip) {
          const int width = std::min(kStrip, right - x);
          // The first and last strips fetch the edge pieces' columns too.
          const int64_t from = x == left ? 0 : std::max<int64_t>(0, x + shift);
          const int64_t to = x + width == right ? in.columns
                                                : std::min<int64_t>(in.columns, x + shift + width);
          for (int j = i + inputs; j < ahead; j++) {
            const float *start = line(j);
            for (const float *at = start + from, *end = start + to; at < end; at += 16)
              __builtin_prefetch(at, 0, 2);
          }
          filter(x, width, inputs, rows);
        }
        if (right < w->c) filter(right, w->c - right, inputs, rows);
      }
    });
    const int done = std::min(w->r, (r0 + count) * run);
    meter.row(done, w->r);
  }
  meter.finish();
  return 1;
}

/*
 * gconvBlocks --
 *     "2D" from one image into another: blocks of 32 output rows, each block's
 *     input rows read first (on this thread, through the line cache), the
 *     rows filtered on the worker pool, then written in order.  Each row is
 *     computed as the ring computes it, so the values are the same.
 * Results:      1.
 */
int gconvBlocks(GconvWork *w, const std::vector<KernelTap> &taps) {
  if (gconvResident(w, taps)) return 1;
  const ConvKernel &k = w->kernel;
  const int nx = k.nx, ny = k.ny;
  const int block = 32;
  const size_t padded = static_cast<size_t>(nx) + w->in->header.columns;
  const size_t inRows = static_cast<size_t>(block) + ny - 1;
  // The input rows widened to double once: each is read by ny x nx taps.
  std::vector<double> input(checkedCount(checkedCount(padded, inRows), w->pairs));
  std::vector<float> row(padded);
  std::vector<float *> target(static_cast<size_t>(block) * w->pairs);
  std::vector<const float *> source(inRows * w->pairs);
  const bool inside = w->out->header.pixelid == P_FLOAT && w->oc >= 0 &&
                      int64_t{w->oc} + w->c <= w->out->header.columns;
  std::vector<float> output;  // rows on their way to an output that is not FLOAT in memory
  const size_t outputSize = checkedCount(checkedCount(static_cast<size_t>(w->c), block), w->pairs);
  auto inputRow = [&](int p, int r) { return input.data() + (p * inRows + r) * padded; };
  auto outputRow = [&](int p, int r) {
    return output.data() + (static_cast<size_t>(p) * block + r) * w->c;
  };
  const std::vector<double> weights = denseWeights(taps, nx, ny);
  const bool dense = !weights.empty();
  RowMeter meter("gconv");
  for (int i0 = 0; i0 < w->r; i0 += block) {
    const int n = std::min(block, w->r - i0);
    // A FLOAT memory input is widened where it lies, on the pool; other
    // inputs come through the line cache on this thread.
    const int inCount = n + ny - 1;
    bool held = w->in->header.nindices == 0;
    for (int p = 0; p < w->pairs && held; p++)
      for (int r = 0; r < inCount && held; r++) {
        const int at = std::clamp(w->ir + i0 - ny / 2 + r, 0, w->in->header.rows - 1);
        source[static_cast<size_t>(p) * inRows + r] = residentFloatLine(w->in, at, w->source[p]);
        held = source[static_cast<size_t>(p) * inRows + r] != nullptr;
      }
    if (held) {
      parallelFor(inCount * w->pairs, [&](int piece) {
        const int p = piece / inCount, r = piece % inCount;
        widenPaddedRow(source[static_cast<size_t>(p) * inRows + r], w->in->header.columns, nx,
                       inputRow(p, r));
      });
    } else {
      for (int p = 0; p < w->pairs; p++)
        for (int r = 0; r < inCount; r++) {
          readPaddedRow(w->in, w->ir + i0 - ny / 2 + r, w->source[p], nx, row.data());
          std::copy(row.begin(), row.end(), inputRow(p, r));
        }
    }
    // A FLOAT memory output takes the rows where they lie (a FLOAT store
    // keeps every value as it is).
    bool direct = inside;
    for (int p = 0; p < w->pairs && direct; p++)
      for (int r = 0; r < n && direct; r++) {
        float *line = residentFloatLine(w->out, w->orow + i0 + r, w->dest[p]);
        direct = line != nullptr;
        target[static_cast<size_t>(p) * block + r] = line ? line + w->oc : nullptr;
        if (line) setRAMImageDirty(w->out, w->orow + i0 + r, w->dest[p]);
      }
    if (!direct && output.empty()) output.resize(outputSize);
    // Rows in threes (a dense kernel's rows share their loads).  Rows that
    // came through the line cache and go back through it stay on this
    // thread: they are in its cache, and the filter costs less than moving
    // them to other cores and back.
    const int groups = (n + 2) / 3;
    auto filter = [&](int piece) {
      const int p = piece / groups, r0 = piece % groups * 3;
      const int count = std::min(3, n - r0);
      auto output = [&](int r) {
        return direct ? target[static_cast<size_t>(p) * block + r] : outputRow(p, r);
      };
      const double *window[kMaxKernelWeights + 2];
      for (int m = 0; m < ny + count - 1; m++) window[m] = inputRow(p, r0 + m) + w->ic;
      if (dense) {
        float *outs[3];
        for (int r = 0; r < count; r++) outs[r] = output(r0 + r);
        convolveDenseRows(window, weights.data(), nx, ny, w->c, count, outs);
        return;
      }
      for (int r = 0; r < count; r++)
        convolveTaps(window + r, taps.data(), static_cast<int>(taps.size()), w->c,
                     output(r0 + r));
    };
    if (held || direct) parallelFor(groups * w->pairs, filter);
    else for (int piece = 0; piece < groups * w->pairs; piece++) filter(piece);
    for (int r = 0; r < n; r++) {
      if (!direct)
        for (int p = 0; p < w->pairs; p++)
          putFloatBILData(w->out, w->orow + i0 + r, w->oc, w->c, w->dest[p], outputRow(p, r));
      meter.row(i0 + r + 1, w->r);
    }
  }
  meter.finish();
  return 1;
}

/*
 * gconvLineRounds --
 *     "2D" into another image when the two are not both held in memory:
 *     rounds of output rows whose input rows are taken out of the line
 *     cache as stored samples on this thread; on the worker pool, runs
 *     of output rows of one band pair widen their input rows into a ring
 *     of ny + 2 rows, filter them (each row as the ring computes it) and
 *     store them; then this thread puts them into the output's cache in
 *     order.  Only bytes are moved here, and while the pool filters a
 *     round this thread writes the round before and reads the round
 *     after (two sets of buffers), so the file work and the filter
 *     overlap.
 * Results:      1; 0 (nothing done) for a palette input, a 1BIT or 4BITS
 *     image, or two memory images.
 */
int gconvLineRounds(GconvWork *w, const std::vector<KernelTap> &taps) {
  const ConvKernel &k = w->kernel;
  const int nx = k.nx, ny = k.ny;
  const ImageHeader &ih = w->in->header, &oh = w->out->header;
  const int inSize = storedSampleBytes(ih.pixelid), outSize = storedSampleBytes(oh.pixelid);
  if (w->r <= 0 || w->c <= 0 || ih.rows <= 0 || ih.columns <= 0 || ih.nindices != 0 ||
      inSize == 0 || outSize == 0 || (residentImage(w->in) && residentImage(w->out)))
    return 0;
  const int run = 16;  /* output rows of a piece */
  const size_t inRowBytes = static_cast<size_t>(ih.columns) * inSize;
  const size_t outRowBytes = static_cast<size_t>(w->c) * outSize;
  // Rounds large enough for a few runs a thread; the four buffers within
  // about 64 MB however many threads there are.
  const long long rowBytes = static_cast<long long>(inRowBytes + outRowBytes) * w->pairs;
  const int round = std::min(roundRows((run + w->pairs - 1) / w->pairs, w->r, rowBytes),
                             static_cast<int>(std::clamp<long long>((32LL << 20) / rowBytes,
                                                                    run, INT_MAX)));
  const int rounds = (w->r + round - 1) / round;
  const size_t inRows = static_cast<size_t>(round) + ny - 1;
  std::vector<unsigned char> input[2], output[2];
  for (int b = 0; b < std::min(rounds, 2); b++) {
    input[b].resize(checkedCount(inRows * w->pairs, inRowBytes));
    output[b].resize(checkedCount(static_cast<size_t>(round) * w->pairs, outRowBytes));
  }
  // Round j's rows lie in the buffers j % 2.
  auto inputRow = [&](int j, int p, int r) {
    return input[j % 2].data() + (p * inRows + r) * inRowBytes;
  };
  auto outputRow = [&](int j, int p, int r) {
    return output[j % 2].data() + (static_cast<size_t>(p) * round + r) * outRowBytes;
  };
  auto rowsOf = [&](int j) { return std::min(round, w->r - j * round); };
  RowMeter meter("gconv");
  auto read = [&](int j) {  // row by row: every band of a row while the cache holds it
    for (int r = 0; r < rowsOf(j) + ny - 1; r++)
      for (int p = 0; p < w->pairs; p++)
        getStoredBILData(w->in, std::clamp(w->ir + j * round - ny / 2 + r, 0, ih.rows - 1), 0,
                         ih.columns, w->source[p], inputRow(j, p, r));
  };
  auto write = [&](int j) {
    for (int r = 0; r < rowsOf(j); r++) {
      const int i = j * round + r;
      for (int p = 0; p < w->pairs; p++)
        putStoredBILData(w->out, w->orow + i, w->oc, w->c, w->dest[p], outputRow(j, p, r));
      meter.row(i + 1, w->r);
    }
  };

  const size_t padded = static_cast<size_t>(nx) + ih.columns;
  const std::vector<double> weights = denseWeights(taps, nx, ny);
  const bool dense = !weights.empty();
  // Runs of one band pair, as many pieces as make the work of a block.
  const int grain = rowGrain(static_cast<long long>(run) * w->c *
                             static_cast<long long>(taps.size() + 2));
  read(0);
  for (int j = 0; j < rounds; j++) {
    const int n = rowsOf(j);
    const int runs = (n + run - 1) / run;
    auto filter = [&](int first, int end) {
      for (int piece = first; piece < end; piece++) {
        const int p = piece % w->pairs, i1 = piece / w->pairs * run;
        const int count = std::min(run, n - i1);
        // Input row i1 + m of the round lies in slot m % (ny + 2).  (Left
        // uninitialised: every slot and value is written before it is read.)
        std::unique_ptr<double[]> ring(new double[padded * static_cast<size_t>(ny + 2)]);
        std::unique_ptr<float[]> values(new float[std::max(padded, static_cast<size_t>(w->c) * 3)]);
        auto slot = [&](int s) { return ring.get() + static_cast<size_t>(s) * padded; };
        int held = 0;
        auto hold = [&](int rows) {
          for (; held < rows; held++) {
            storedToFloats(ih.pixelid, inputRow(j, p, i1 + held), ih.columns, values.get());
            widenPaddedRow(values.get(), ih.columns, nx, slot(held % (ny + 2)));
          }
        };
        const double *window[kMaxKernelWeights + 2];
        float *outs[3] = {values.get(), values.get() + w->c, values.get() + 2 * w->c};
        auto store = [&](int i, int rows) {
          for (int q = 0; q < rows; q++)
            floatsToStored(oh.pixelid, outs[q], w->c, outputRow(j, p, i1 + i + q));
        };
        int i = 0;
        const int rows = dense ? std::min(ny, 3) : 1;
        for (; rows > 1 && i + rows <= count; i += rows) {
          hold(i + ny + rows - 1);
          for (int m = 0; m < ny + rows - 1; m++) window[m] = slot((i + m) % (ny + 2)) + w->ic;
          convolveDenseRows(window, weights.data(), nx, ny, w->c, rows, outs);
          store(i, rows);
        }
        for (; i < count; i++) {
          hold(i + ny);
          for (int m = 0; m < ny; m++) window[m] = slot((i + m) % (ny + 2)) + w->ic;
          convolveTaps(window, taps.data(), static_cast<int>(taps.size()), w->c, outs[0]);
          store(i, 1);
        }
      }
    };
    // The rounds either side go through the cache here, once this thread
    // has done its first block (the workers are under way by then).
    bool moved = false;
    auto move = [&] {
      if (j > 0) write(j - 1);
      if (j + 1 < rounds) read(j + 1);
      moved = true;
    };
    parallelRows(runs * w->pairs, grain, filter, [&](int done) {
      if (done > 0 && !moved) move();
      return true;
    });
    if (!moved) move();
  }
  write(rounds - 1);
  meter.finish();
  return 1;
}

/*
 * gconvRing --
 *     "2D" and "dynamic": a ring of ny padded row sets (one padded row a
 *     band pair) and one row set for the output.
 * Results:      1, or 0 when the buffer cannot be had.
 */
int gconvRing(GconvWork *w) {
  const ConvKernel &k = w->kernel;
  const int nx = k.nx, ny = k.ny;
  /* Only the weights that count. */
  std::vector<KernelTap> taps;
  if (k.type == KERNEL_2D)
    for (int m = 0; m < ny; m++)
      for (int n = 0; n < nx; n++)
        if (float weight = k.weights[static_cast<size_t>(m) * nx + n]; weight != 0)
          taps.push_back({m, n, weight});

  resetDestinationStats(w);
  // Into another image the rows may be filtered in any order; in place,
  // rows are read and written in the ring's order.
  if (k.type == KERNEL_2D && w->in != w->out)
    return gconvLineRounds(w, taps) ? 1 : gconvBlocks(w, taps);

  const size_t padded = static_cast<size_t>(nx) + w->in->header.columns;
  const size_t set = padded * w->pairs;
  std::vector<float> ring(checkedCount(set, ny));
  std::vector<float> output(static_cast<size_t>(w->c));
  std::vector<double> sum(static_cast<size_t>(w->c));
  std::vector<double> sumSq(k.type == KERNEL_DYNAMIC ? static_cast<size_t>(w->c) : 0);
  std::vector<const float *> window(static_cast<size_t>(ny));
  auto slot = [&](int s, int p) { return ring.data() + s * set + p * padded; };
  for (int s = 0; s < ny; s++)
    for (int p = 0; p < w->pairs; p++)
      readPaddedRow(w->in, w->ir - ny / 2 + s, w->source[p], nx, slot(s, p));

  const double area = static_cast<double>(nx) * ny;
  RowMeter meter("gconv");
  for (int i = 0; i < w->r; i++) {
    for (int p = 0; p < w->pairs; p++) {
      for (int m = 0; m < ny; m++) window[m] = slot((i + m) % ny, p) + w->ic;
      if (k.type == KERNEL_2D) {
        convolveTaps(window.data(), taps.data(), static_cast<int>(taps.size()), w->c,
                     output.data());
      } else {
        std::fill(sum.begin(), sum.end(), 0.0);
        std::fill(sumSq.begin(), sumSq.end(), 0.0);
        for (int m = 0; m < ny; m++)
          for (int n = 0; n < nx; n++) {
            const float *__restrict src = window[m] + n;
            for (int x = 0; x < w->c; x++) {
              sum[x] += src[x];
              sumSq[x] += static_cast<double>(src[x]) * src[x];
            }
          }
        const float *centre = window[ny / 2] + nx / 2;
        for (int x = 0; x < w->c; x++) {
          const double e = centre[x];
          const double mean = sum[x] / area;
          const double variance = sumSq[x] / area - mean * mean;
          output[x] = static_cast<float>(variance > 0 ? e + 2.5 * (e - mean) / sqrt(variance) : e);
        }
      }
      putFloatBILData(w->out, w->orow + i, w->oc, w->c, w->dest[p], output.data());
    }
    for (int p = 0; p < w->pairs; p++)
      readPaddedRow(w->in, w->ir + i - ny / 2 + ny, w->source[p], nx, slot(i % ny, p));
    meter.row(i + 1, w->r);
  }
  meter.finish();
  return 1;
}

/*
 * gconvSeparable --
 *     "1Ds": each input row filtered horizontally once into a ring of ny
 *     filtered rows, then the ring's columns through the vertical weights.
 * Results:      1.
 */
int gconvSeparable(GconvWork *w) {
  const ConvKernel &k = w->kernel;
  const int nx = k.nx, ny = k.ny;
  const float *weightX = k.weights.data();
  const float *weightY = weightX + nx;
  const size_t set = static_cast<size_t>(w->c) * w->pairs;
  std::vector<float> padded(static_cast<size_t>(nx) + w->in->header.columns);
  std::vector<float> ring(checkedCount(set, ny));
  std::vector<float> output(static_cast<size_t>(w->c));
  std::vector<double> acc(static_cast<size_t>(w->c));

  /* filterRowX: one input row of pair p, filtered, into ring slot s. */
  auto filterRowX = [&](int row, int p, int s) {
    readPaddedRow(w->in, row, w->source[p], nx, padded.data());
    float *__restrict filtered = ring.data() + s * set + static_cast<size_t>(p) * w->c;
    const float *__restrict src = padded.data() + w->ic;
    if (nx == 1) {
      /* A horizontal width of 1 leaves the rows as they are: its weight is not applied. */
      std::copy(src, src + w->c, filtered);
      return;
    }
    std::fill(acc.begin(), acc.end(), 0.0);
    for (int n = 0; n < nx; n++) {
      const double weight = weightX[n];
      if (weight == 0) continue;
      for (int x = 0; x < w->c; x++) acc[x] += weight * src[x + n];
    }
    for (int x = 0; x < w->c; x++) filtered[x] = static_cast<float>(acc[x]);
  };

  resetDestinationStats(w);
  const int first = w->ir + ny / 2 - ny + 1;
  for (int s = 0; s < ny; s++)
    for (int p = 0; p < w->pairs; p++) filterRowX(first + s, p, s);

  RowMeter meter("gconv");
  for (int j = 0; j < w->r; j++) {
    for (int p = 0; p < w->pairs; p++) {
      /* filterColumnY */
      std::fill(acc.begin(), acc.end(), 0.0);
      for (int q = 0; q < ny; q++) {
        const double weight = weightY[q];
        if (weight == 0) continue;
        const float *__restrict row =
            ring.data() + ((j + q) % ny) * set + static_cast<size_t>(p) * w->c;
        for (int x = 0; x < w->c; x++) acc[x] += weight * row[x];
      }
      for (int x = 0; x < w->c; x++) output[x] = static_cast<float>(acc[x]);
      putFloatBILData(w->out, w->orow + j, w->oc, w->c, w->dest[p], output.data());
    }
    for (int p = 0; p < w->pairs; p++) filterRowX(w->ir + j + ny / 2 + 1, p, j % ny);
    meter.row(j + 1, w->r);
  }
  meter.finish();
  return 1;
}

/* closeGconv -- watchers of the output told, both images closed. */
void closeGconv(GconvWork *w) {
  updateClient(w->out, nullptr, 2);
  closeRAMImage(w->out, nullptr);
  closeRAMImage(w->in, nullptr);
  w->in = w->out = nullptr;
}

}  // namespace

/*
 * gconvModule --
 *     "rimage gconv -in IN -out OUT ... -kn KN": the window of the input
 *     filtered with the kernel into the output.
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int gconvModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("%s -in IN -out OUT -ir IR -ic IC -r R -c C -or OR -oc OC -b B -kn KN "
                "-norm NORM -fb FB\n",
                prog);
    for (const char *line : gconvUsage) vesk_printf("%s", line);
    return 2;
  }
  GconvWork work;
  if (!parseGconvOptions(&work, argc, argv)) return 0;
  if (work.kernel.type == KERNEL_MEDIAN) {
    /* The kernel text names it, but there is no median filter to run. */
    vesk_fprintf(stderr, "Kernel type median is not supported.\n");
    gconvParseFailure(&work, 0);
    return 0;
  }
  prepareWeights(&work);
  int result = 0;
  try {
    result = work.kernel.type == KERNEL_1DS ? gconvSeparable(&work) : gconvRing(&work);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in malloc.\n");
  } catch (const std::length_error &) {
    vesk_fprintf(stderr, "Error in malloc.\n");
  }
  closeGconv(&work);
  return result;
}

/* ---- dist ---- */

namespace {

/* Rows of distOptions. */
enum { DI_IN, DI_OUT, DI_B, DI_C, DI_BLUR, DI_OPTION_COUNT };

const ModuleOption distOptions[] = {
    {"-in", nullptr}, {"-out", nullptr}, {"-b", nullptr},
    {"-c", nullptr},  {"-blur", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof distOptions / sizeof distOptions[0] == DI_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const distUsage[] = {
    "    where\n",
    "    IN         the input file.\n",
    "    OUT        the output file.\n",
    "    BAND       the band number.\n",
    "    CLASS      the class number(s) n1,n2,....\n",
    "    BLUR       the gain of bluring.\n",
};

/* Spans of class values the column pass tests one by one. */
constexpr int kDistSpans = 4;

/* The dist work record. */
struct DistWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  int band = 0;                 /* 0-based */
  int rows = 0, columns = 0;    /* of the input */
  int classes[256] = {};        /* 1 where the value is a class */
  float blur = 0;
  /* A block of input and output rows, for images whose lines are not
     held in memory; left untouched (unmapped) where they are. */
  std::unique_ptr<unsigned char[]> inRows, outRows;
  /* Per row of the block and column: rows since the last class pixel, held
     at 255 (no nearer than the cap either way). */
  std::unique_ptr<unsigned char[]> runs;
  std::vector<unsigned char> lastRuns;  /* per column: the runs of the row before the block */
  unsigned char roundedRoot[255 * 255 + 1];  /* the rounded root of each squared distance */
  /* The classes as spans of values [lo, lo + width] when they make at most
     kDistSpans of them (tests that vectorise); a count of 0: more. */
  int spanCount = 0;
  unsigned char spanLo[kDistSpans] = {}, spanWidth[kDistSpans] = {};
};

/* One thread's scratch for the envelope of a row. */
struct DistScratch {
  std::vector<int32_t> best;    /* per column: the envelope's squared distance */
  std::vector<int> apex;        /* the envelope: its parabolas' columns */
  std::vector<int64_t> height;  /* and their run^2 + column^2 */
  std::vector<int64_t> cutNum, cutDen;  /* where each parabola starts, a fraction */
  std::vector<int> start;       /* the first column each parabola is the least at */
  explicit DistScratch(int columns)
      : best(static_cast<size_t>(columns)), apex(static_cast<size_t>(columns)),
        height(static_cast<size_t>(columns)), cutNum(static_cast<size_t>(columns)),
        cutDen(static_cast<size_t>(columns)), start(static_cast<size_t>(columns) + 1) {}
};

int distParseFailure(DistWork *w, int err) {
  if (w->in) closeRAMImage(w->in, nullptr);
  if (w->out) closeRAMImage(w->out, nullptr);
  w->in = w->out = nullptr;
  printRAMImageError(err);
  return 0;
}

/* Sets the class flags of a list "3,7-9 12". Results: 1, or 0 after a message. */
int parseDistClasses(const char *text, int *classes) {
  std::string copy(text);
  size_t at = 0;
  while (at < copy.size()) {
    size_t end = copy.find_first_of(", ", at);
    if (end == std::string::npos) end = copy.size();
    std::string item = copy.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    int lo = 0, hi = 0;
    int n = sscanf(item.c_str(), "%d-%d", &lo, &hi);
    if (n < 1) {
      vesk_fprintf(stderr, "Error in parsing class definition.\n");
      return 0;
    }
    if (n == 1) hi = lo;
    if (lo < 0 || hi < lo || hi > 255) {
      vesk_fprintf(stderr, "Illigal class definition.\n");
      return 0;
    }
    for (int v = lo; v <= hi; v++) classes[v] = 1;
  }
  return 1;
}

}  // namespace

/*
 * parseDistOptions --
 *     Opens both images and reads the band, the classes and the blur.
 * Results:      1; 0 after the message of the first fault, nothing open.
 */
int parseDistOptions(DistWork *w, int argc, const char **argv) {
  ModuleOption o[DI_OPTION_COUNT + 1];
  std::copy(std::begin(distOptions), std::end(distOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  int err = 0;
  if (!o[DI_IN].value) {
    vesk_fprintf(stderr, "Input image file missing!\n");
    return 0;
  }
  w->in = openRAMImage(o[DI_IN].value, o[DI_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in DIST - open:%s\n", o[DI_IN].value);
    return distParseFailure(w, err);
  }
  const int nbands = w->in->header.nbands;
  w->band = o[DI_B].value ? static_cast<int>(atol(o[DI_B].value)) : 1;
  if (w->band < 1 || w->band > nbands) {
    vesk_fprintf(stderr, "band is out of range (1 to %d).\n", nbands);
    return distParseFailure(w, 0);
  }
  w->band--;
  if (!o[DI_OUT].value) {
    vesk_fprintf(stderr, "Missing output image file!\n");
    return distParseFailure(w, 0);
  }
  if (strcmp(o[DI_OUT].value, o[DI_IN].value) == 0) {
    vesk_fprintf(stderr, "Illegal output file.\n");
    return distParseFailure(w, 0);
  }
  w->out = openRAMImage(o[DI_OUT].value, o[DI_OUT].value, nullptr, nullptr, &err);
  if (!w->out) {
    ImageHeader h;
    if (moduleOutputHead(w->in, o[DI_OUT].value, 1, &h)) {
      h.nindices = 256;
      for (int i = 0; i < 256; i++) {
        h.palette[i][0] = static_cast<unsigned char>((256 - i) % 256);
        h.palette[i][1] = h.palette[i][2] = 0;
      }
      w->out = openRAMImageNew(&h, nullptr, 0, &err);
    }
    if (!w->out) {
      vesk_fprintf(stderr, "Error in DIST - open: %s\n", o[DI_OUT].value);
      return distParseFailure(w, err);
    }
  }
  if (!o[DI_C].value) {
    vesk_fprintf(stderr, "Missing class number!");
    return distParseFailure(w, 0);
  }
  if (!parseDistClasses(o[DI_C].value, w->classes)) return distParseFailure(w, 0);
  w->blur = o[DI_BLUR].value ? static_cast<float>(atof(o[DI_BLUR].value)) : 0.0f;
  w->rows = w->in->header.rows;
  w->columns = w->in->header.columns;
  return 1;
}

namespace {

/* Rows of a block: several blocks of work for every thread (a block is one
   hand-over to the pool for its column runs and one for its rows), its
   buffers within a few MB. */
int distBlockRows(const DistWork *w) {
  const int64_t columns = std::max(w->columns, 1);
  const int64_t rows = std::max<int64_t>(int64_t{rowGrain(columns * 8)} * workerCount() * 4,
                                         (int64_t{4} << 20) / columns);
  return static_cast<int>(std::clamp<int64_t>(rows, 1, std::max(w->rows, 1)));
}

/* Allocates the row buffers (pages are touched only where used).
   Results: 1, or 0 after "Error in malloc." */
int allocDistRows(DistWork *w) {
  try {
    const size_t cells = static_cast<size_t>(distBlockRows(w)) * w->columns;
    w->inRows.reset(new unsigned char[cells]);
    w->outRows.reset(new unsigned char[cells]);
    w->runs.reset(new unsigned char[cells]);
    w->lastRuns.resize(static_cast<size_t>(w->columns));
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in malloc.\n");
    return 0;
  }
  for (int a = 0; a <= 255 * 255; a++)
    w->roundedRoot[a] = static_cast<unsigned char>(
        std::clamp(roundToInt(std::min(sqrt(static_cast<double>(a)), 1e6)), 0, 255));
  int spans = 0;
  for (int v = 0; v < 256 && spans <= kDistSpans; v++) {
    if (!w->classes[v] || (v > 0 && w->classes[v - 1])) continue;
    int last = v;
    while (last < 255 && w->classes[last + 1]) last++;
    if (spans < kDistSpans) {
      w->spanLo[spans] = static_cast<unsigned char>(v);
      w->spanWidth[spans] = static_cast<unsigned char>(last - v);
    }
    spans++;
  }
  w->spanCount = spans <= kDistSpans ? spans : 0;
  return 1;
}

/*
 * columnRuns --
 *     The runs of columns [c0, c1) for the n rows of a block (input rows
 *     at ins[k]): each column's run restarts at a class pixel and
 *     otherwise grows by one from the row before (w->lastRuns before the
 *     block's first row), held at 255; w->lastRuns is left holding the
 *     block's last row.
 */
void columnRuns(DistWork *w, const unsigned char *const *ins, int n, int c0, int c1) {
  const int columns = w->columns;
  unsigned char *__restrict last = w->lastRuns.data();
  unsigned char isClass[256];
  for (int v = 0; v < 256; v++) isClass[v] = w->classes[v] ? 1 : 0;
  for (int k = 0; k < n; k++) {
    const unsigned char *__restrict in = ins[k];
    unsigned char *__restrict runs = w->runs.get() + static_cast<size_t>(k) * columns;
    for (int c = c0; c < c1; c++) {
      const unsigned char grown = static_cast<unsigned char>(last[c] + (last[c] < 255));
      runs[c] = last[c] = isClass[in[c]] ? 0 : grown;
    }
  }
}

/*
 * rowEnvelope --
 *     For every pixel of the row the least (j - i)^2 + runs[j]^2 over the
 *     columns j whose run is below 255 (a farther column can't come under
 *     the cap of 255): the lower envelope of one parabola per column, built
 *     and read in one sweep each, exact in integers (Wide holds the
 *     products of the crossing test: 64 bits up to 2^20 columns).  Pixels
 *     no parabola reaches below the cap get kDistFar.
 */
constexpr int32_t kDistFar = 255 * 255 + 1;

template <typename Wide>
void rowEnvelope(const unsigned char *runs, int columns, DistScratch *t) {
  int32_t *best = t->best.data();
  int *apex = t->apex.data();
  int64_t *height = t->height.data();
  int64_t *cutNum = t->cutNum.data(), *cutDen = t->cutDen.data();
  int k = -1;
  for (int q = 0; q < columns; q++) {
    if (runs[q] >= 255) continue;
    // Where the parabola of q passes under the envelope's last one:
    // num / den, den > 0; parabolas beaten before their start are dropped.
    int64_t num = 0, den = 1;
    const int64_t hq = int64_t{runs[q]} * runs[q] + int64_t{q} * q;
    while (k >= 0) {
      num = hq - height[k];
      den = 2 * (int64_t{q} - apex[k]);
      if (k == 0 || static_cast<Wide>(num) * cutDen[k] > static_cast<Wide>(cutNum[k]) * den)
        break;
      k--;
    }
    k++;
    apex[k] = q;
    height[k] = hq;
    cutNum[k] = num;
    cutDen[k] = den;
  }
  if (k < 0) {
    std::fill(best, best + columns, kDistFar);
    return;
  }
  if constexpr (sizeof(Wide) == sizeof(int64_t)) {
    // Parabola a is the least from the first column past its cut on, so
    // the row is filled a parabola at a time.  The cut's floor in doubles
    // is exact: |num| < 2^53 and a quotient no closer than 1 / den to an
    // integer it is not.
    int *start = t->start.data();
    start[0] = 0;
    for (int a = 1; a <= k; a++) {
      const double cut = floor(static_cast<double>(cutNum[a]) / static_cast<double>(cutDen[a]));
      start[a] = static_cast<int>(std::clamp(cut + 1.0, 0.0, static_cast<double>(columns)));
    }
    start[k + 1] = columns;
    for (int a = 0; a <= k; a++) {
      const int64_t r = runs[apex[a]];
      for (int i = start[a]; i < start[a + 1]; i++) {
        const int64_t dx = int64_t{i} - apex[a];
        best[i] = static_cast<int32_t>(std::min<int64_t>(kDistFar, dx * dx + r * r));
      }
    }
    return;
  }
  int at = 0;
  for (int i = 0; i < columns; i++) {
    while (at < k && static_cast<Wide>(cutNum[at + 1]) < static_cast<Wide>(i) * cutDen[at + 1])
      at++;
    const int64_t dx = int64_t{i} - apex[at];
    const int64_t r = runs[apex[at]];
    best[i] = static_cast<int32_t>(std::min<int64_t>(kDistFar, dx * dx + r * r));
  }
}

/*
 * rowDistances --
 *     Each pixel's distance: the least of what it had (out), its own
 *     column's run and the runs of the other columns (rowEnvelope),
 *     rounded; with a blur gain each pixel draws rand() in turn, left to
 *     right.
 */
void rowDistances(const DistWork *w, const unsigned char *runs, unsigned char *out,
                  DistScratch *t) {
  const int columns = w->columns;
  if (columns <= (1 << 20)) rowEnvelope<int64_t>(runs, columns, t);
  else rowEnvelope<__int128>(runs, columns, t);
  const int32_t *best = t->best.data();
  /* rand() spans 0..RAND_MAX here: scale it to 0..1 before the gain. */
  const double gain = static_cast<double>(w->blur) / RAND_MAX;
  if (gain == 0) {
    for (int i = 0; i < columns; i++) {
      const int32_t own = std::min(out[i], runs[i]);
      out[i] = w->roundedRoot[std::min(own * own, best[i])];
    }
    return;
  }
  for (int i = 0; i < columns; i++) {
    const int32_t own = std::min(out[i], runs[i]);
    const int32_t a = std::min(own * own, best[i]);
    const double d = sqrt(static_cast<double>(a)) + gain * rand();
    out[i] = static_cast<unsigned char>(std::clamp(roundToInt(std::min(d, 1e6)), 0, 255));
  }
}

/*
 * runDist --
 *     The two passes, top down and bottom up, in blocks of rows: the
 *     block's rows read on this thread, the column runs worked out in
 *     strips of columns and the rows' distances row by row on the worker
 *     pool (each depends on its own runs alone), then the rows written in
 *     order.  A blur gain draws rand() pixel by pixel in order, so it
 *     keeps to this thread.
 */
void runDist(DistWork *w) {
  RowMeter meter("dist");
  const int total = 2 * w->rows, columns = w->columns;
  const int block = distBlockRows(w);
  const bool pooled = w->blur == 0;
  const int strips = std::max(1, std::min(workerCount() * 4, columns / 256));
  auto line = [&](const std::unique_ptr<unsigned char[]> &rows, int k) {
    return rows.get() + static_cast<size_t>(k) * columns;
  };
  /* A block's input and output rows: memory images' lines where they lie. */
  std::vector<const unsigned char *> ins(static_cast<size_t>(block));
  std::vector<unsigned char *> outs(static_cast<size_t>(block));
  std::vector<char> held(static_cast<size_t>(block));
  /* An output narrower than the input takes its part through a buffer. */
  const bool outWide = w->out->header.columns >= columns;
  for (int pass = 0; pass < 2; pass++) {
    const bool down = pass == 0;
    /* A column with no class pixel yet is at the cap. */
    std::fill(w->lastRuns.begin(), w->lastRuns.end(), 255);
    for (int done = 0; done < w->rows; done += block) {
      const int n = std::min(block, w->rows - done);
      /* Block row k is image row done + k going down, rows - 1 - done - k going up. */
      auto rowOf = [&](int k) { return down ? done + k : w->rows - 1 - done - k; };
      for (int k = 0; k < n; k++) {
        if (!(ins[k] = residentByteLine(w->in, rowOf(k), w->band))) {
          getByteBILData(w->in, rowOf(k), 0, columns, w->band, line(w->inRows, k));
          ins[k] = line(w->inRows, k);
        }
        held[k] = outWide && (outs[k] = residentByteLine(w->out, rowOf(k), 0)) != nullptr;
        if (held[k]) {
          setRAMImageDirty(w->out, rowOf(k), 0);
        } else {
          outs[k] = line(w->outRows, k);
          if (!down) getByteBILData(w->out, rowOf(k), 0, columns, 0, outs[k]);
        }
      }
      /* Going down, every pixel starts at the cap. */
      auto distances = [&](int first, int end) {
        DistScratch scratch(columns);
        for (int k = first; k < end; k++) {
          if (down) std::fill(outs[k], outs[k] + columns, 255);
          rowDistances(w, line(w->runs, k), outs[k], &scratch);
        }
      };
      if (pooled) {
        parallelFor(strips, [&](int i) {
          columnRuns(w, ins.data(), n, static_cast<int>(int64_t{columns} * i / strips),
                     static_cast<int>(int64_t{columns} * (i + 1) / strips));
        });
        parallelRows(n, rowGrain(int64_t{columns} * 8), distances);
      } else {
        columnRuns(w, ins.data(), n, 0, columns);
        distances(0, n);
      }
      for (int k = 0; k < n; k++) {
        if (!held[k]) putByteBILData(w->out, rowOf(k), 0, columns, 0, outs[k]);
        meter.row(down ? rowOf(k) : w->rows + done + k, total);
      }
    }
  }
}

/*
 * downRows --
 *     Columns [c0, c1) of rows [first, end) top down: 0 at a class pixel
 *     (input row ins[r - first]), else one more than the row above
 *     (outs[r - 1], `top` above row 0), held at 255.  Spans is the number
 *     of spans of class values tested (0: the flag of each value).
 */
template <int Spans>
void downRows(const DistWork *w, const unsigned char *const *ins, unsigned char *const *outs,
              const unsigned char *top, int first, int end, int c0, int c1) {
  unsigned char isClass[256];
  if constexpr (Spans == 0)
    for (int v = 0; v < 256; v++) isClass[v] = w->classes[v] ? 1 : 0;
  unsigned char lo[kDistSpans], width[kDistSpans];
  std::copy(w->spanLo, w->spanLo + kDistSpans, lo);
  std::copy(w->spanWidth, w->spanWidth + kDistSpans, width);
  for (int r = first; r < end; r++) {
    const unsigned char *__restrict in = ins[r - first];
    const unsigned char *__restrict above = r > 0 ? outs[r - 1] : top;
    unsigned char *__restrict out = outs[r];
    for (int c = c0; c < c1; c++) {
      const unsigned char grown = static_cast<unsigned char>(above[c] + (above[c] < 255));
      bool hit = false;
      if constexpr (Spans == 0) {
        hit = isClass[in[c]];
      } else {
        for (int k = 0; k < Spans; k++)
          hit |= static_cast<unsigned char>(in[c] - lo[k]) <= width[k];
      }
      out[c] = hit ? 0 : grown;
    }
  }
}

/*
 * columnDistances --
 *     Columns [c0, c1) of the output lines outs[0 .. rows - 1] take each
 *     pixel's distance within its column to the nearest class pixel, held
 *     at 255: rows [first, end) top down from their input rows (downRows);
 *     with bottomUp, then every row bottom up.
 */
void columnDistances(const DistWork *w, const unsigned char *const *ins,
                     unsigned char *const *outs, int rows, int first, int end, bool bottomUp,
                     int c0, int c1) {
  const unsigned char *top = w->lastRuns.data();
  switch (w->spanCount) {
  case 1: downRows<1>(w, ins, outs, top, first, end, c0, c1); break;
  case 2: downRows<2>(w, ins, outs, top, first, end, c0, c1); break;
  case 3: downRows<3>(w, ins, outs, top, first, end, c0, c1); break;
  case 4: downRows<4>(w, ins, outs, top, first, end, c0, c1); break;
  default: downRows<0>(w, ins, outs, top, first, end, c0, c1); break;
  }
  static_assert(kDistSpans == 4, "one case per number of spans");
  if (!bottomUp) return;
  for (int r = rows - 2; r >= 0; r--) {
    const unsigned char *__restrict below = outs[r + 1];
    unsigned char *__restrict out = outs[r];
    for (int c = c0; c < c1; c++) {
      const unsigned char grown = static_cast<unsigned char>(below[c] + (below[c] < 255));
      out[c] = std::min(out[c], grown);
    }
  }
}

/*
 * runDistHeld --
 *     Without a blur the two passes give each pixel its distance to the
 *     nearest class pixel, rounded and held at 255.  A memory output that
 *     holds all its lines is worked in place: first each pixel's distance
 *     within its column (top down from the input, in blocks of rows when
 *     the input's lines are not held, then bottom up), in strips of
 *     columns on the pool; then each row's distances from a copy of those
 *     (rowDistances), rows on the pool.  One row pass instead of two.
 * Results:      false when the images don't allow it (nothing done).
 */
bool runDistHeld(DistWork *w) {
  const int rows = w->rows, columns = w->columns;
  if (w->blur != 0 || rows <= 0 || columns <= 0 || w->out->header.rows < rows ||
      w->out->header.columns < columns)
    return false;
  std::vector<unsigned char *> outs(static_cast<size_t>(rows));
  for (int r = 0; r < rows; r++)
    if (!(outs[r] = residentByteLine(w->out, r, 0))) return false;
  for (int r = 0; r < rows; r++) setRAMImageDirty(w->out, r, 0);
  /* Input lines where they lie: all rows in one block; else blocks of rows read here. */
  std::vector<const unsigned char *> ins(static_cast<size_t>(rows));
  bool inHeld = true;
  for (int r = 0; r < rows && inHeld; r++) inHeld = (ins[r] = residentByteLine(w->in, r, w->band));
  const int block = inHeld ? rows : distBlockRows(w);
  /* Strips of whole cache lines, several for every thread, each worth a
     hand-over (a small image keeps to this thread). */
  const int64_t stripWork = int64_t{block} * columns * 2 / kMinBlockWork;
  const int strips = static_cast<int>(
      std::max<int64_t>(1, std::min<int64_t>({workerCount() * 4, columns / 64, stripWork})));
  auto stripEdge = [&](int i) {
    return i == strips ? columns : static_cast<int>(int64_t{columns} * i / strips) & ~63;
  };
  /* No class pixel above the first row. */
  std::fill(w->lastRuns.begin(), w->lastRuns.end(), 255);
  RowMeter meter("dist");
  for (int first = 0; first < rows; first += block) {
    const int end = std::min(rows, first + block);
    const unsigned char *const *blockIns = ins.data() + first;
    if (!inHeld) {
      for (int r = first; r < end; r++) {
        unsigned char *line = w->inRows.get() + static_cast<size_t>(r - first) * columns;
        getByteBILData(w->in, r, 0, columns, w->band, line);
        ins[r - first] = line;
      }
      blockIns = ins.data();
    }
    parallelFor(strips, [&](int i) {
      columnDistances(w, blockIns, outs.data(), rows, first, end, end == rows, stripEdge(i),
                      stripEdge(i + 1));
    });
    meter.row(end - 1, 2 * rows);
  }
  parallelRows(
      rows, rowGrain(int64_t{columns} * 8),
      [&](int first, int end) {
        DistScratch scratch(columns);
        std::vector<unsigned char> runs(static_cast<size_t>(columns));
        for (int r = first; r < end; r++) {
          std::copy(outs[r], outs[r] + columns, runs.begin());
          rowDistances(w, runs.data(), outs[r], &scratch);
        }
      },
      [&](int done) {
        meter.row(rows + done, 2 * rows);
        return true;
      });
  return true;
}

void closeDist(DistWork *w) {
  if (w->in) closeRAMImage(w->in, nullptr);
  if (w->out) closeRAMImage(w->out, nullptr);
  w->in = w->out = nullptr;
}

}  // namespace

/*
 * distModule --
 *     "rimage dist -in IN -out OUT -b BAND -c CLASS -blur BLUR".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int distModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -b BAND -c CLASS -blur BLUR\n", prog);
    for (const char *line : distUsage) vesk_printf("%s", line);
    return 2;
  }
  DistWork work;
  if (!parseDistOptions(&work, argc, argv)) return 0;
  int result = allocDistRows(&work);
  if (result) {
    try {
      if (!runDistHeld(&work)) runDist(&work);
      meterSet("dist", 1.0f);
      if (work.out->hist) resetHist(&work.out->hist[0]);
      updateClient(work.out, nullptr, 2);
    } catch (const std::bad_alloc &) {
      vesk_fprintf(stderr, "Error in malloc.\n");
      result = 0;
    }
  }
  closeDist(&work);
  meterReset();
  return result;
}

}  // namespace vesk
