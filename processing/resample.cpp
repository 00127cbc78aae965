/*
 * resample.cpp --
 *     "rimage resample": fills an existing output from an input of the
 *     same map id, matching pixels through both georeferences: nearest
 *     neighbour, bilinear at the output pixels' upper-left corners, or
 *     area-weighted means.  Work goes by output rows: the input rows a row
 *     needs are read once, and the column positions and weights, which do
 *     not change from row to row, are computed once per call.
 */
#include <math.h>
#include <string.h>
#include <limits.h>
#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "core/core.h"
#include "core/options.h"
#include "core/text.h"
#include "core/threads.h"
#include "processing/transfer.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

enum { RS_IN, RS_OUT, RS_B, RS_RSP, RS_U, RS_OPTION_COUNT };
const ModuleOption resampleOptions[] = {
    {"-in", nullptr}, {"-out", nullptr}, {"-b", nullptr}, {"-rsp", nullptr}, {"-u", nullptr},
    {nullptr, nullptr},
};
static_assert(sizeof resampleOptions / sizeof resampleOptions[0] == RS_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const resampleUsage[] = {
    "where IN    input image\n",
    "      OUT   output image\n",
    "      B     band selection: i1[[:o1];i2[:o2];...]\n",
    "      RSP   resampling method: NN, BI, AVG\n",
};

enum ResampleMethod { RSP_NN = 1, RSP_BI = 2, RSP_AVG = 3 };

struct ResampleWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  int method = RSP_AVG;
  std::vector<int> source, dest;  /* source: palette components, -1 the index */
  int update = 1;
};

/*
 * The cell of a bilinear position whose square of four pixels touches the
 * image: position in (-1, limit), cell = its floor (-1 .. limit - 1).
 * Anything else (far away, NaN) is outside and reads zeros.
 */
inline bool resampleCell(double v, int limit, int *cell) {
  if (!(v > -1.0 && v < limit)) return false;
  *cell = static_cast<int>(floor(v));
  return true;
}

/* overlap([a, b], [lo, hi]) as a fraction of hi - lo; 0 when apart. */
inline double resampleOverlap(double a, double b, double lo, double hi) {
  if (b < lo || a >= hi) return 0;
  return (std::min(b, hi) - std::max(a, lo)) / (hi - lo);
}

/* One input cell of an average and its weight. */
struct AvgTap {
  int cell;
  float w;
};

/*
 * avgTaps --
 *     For each output cell k (corner at origin + k x step, size step) the
 *     input cells it overlaps, inside the input, with their weights.
 *     first[k] .. first[k + 1] index the taps of cell k.
 */
void avgTaps(double origin, double step, int count, double inOrigin, double inStep, int inCount,
             std::vector<AvgTap> *taps, std::vector<int> *first) {
  first->assign(static_cast<size_t>(count) + 1, 0);
  for (int k = 0; k < count; k++) {
    (*first)[k] = static_cast<int>(taps->size());
    const double lo = origin + k * step, hi = lo + step;
    const double a = (lo - inOrigin) / inStep, b = (hi - inOrigin) / inStep;
    if (!(b >= 0 && a < inCount)) continue;
    const int c0 = a <= 0 ? 0 : static_cast<int>(a);
    const int c1 = b >= inCount - 1 ? inCount - 1 : static_cast<int>(b);
    for (int c = c0; c <= c1; c++) {
      const double w = resampleOverlap(inOrigin + c * inStep, inOrigin + (c + 1) * inStep, lo, hi);
      if (w > 0) taps->push_back({c, static_cast<float>(w)});
    }
  }
  (*first)[count] = static_cast<int>(taps->size());
}

/*
 * The bilinear columns: input column col[j] and weight u[j] (oneMinus[j]
 * = 1 - u[j]) of output column j, whose square touches the input where
 * inside[j] (the others are 0); columns before inFrom and from inTo on
 * are all outside; [safeFrom, safeTo), inside, read both neighbours
 * inside the span [lo, lo + span) (the others read 0 outside it).
 */
struct BilinearColumns {
  std::vector<int> col;
  std::vector<float> u, oneMinus;
  std::vector<unsigned char> inside;
  int inFrom = 0, inTo = 0, safeFrom = 0, safeTo = 0, lo = 0, span = 0;
  bool doubled = false;  /* safe columns in pairs on one input column each (an exact 2x) */
};

/*
 * resampleBilinearH --
 *     One input row's horizontal samples (1 - u) row(c) + u row(c + 1),
 *     the row addressed by input column; 0 outside the inside columns.
 *     The vertical step combines two of them, so an input row's samples
 *     are worked out once for every output row that reads it.
 */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void resampleBilinearH(const float *__restrict row, const BilinearColumns &bc, int columns,
                       float *__restrict h) {
  const int *__restrict col = bc.col.data();
  const float *__restrict u = bc.u.data(), *__restrict oneMinus = bc.oneMinus.data();
  const int lo = bc.lo, hi = bc.lo + bc.span;
  auto at = [&](int c) { return c >= lo && c < hi ? row[c] : 0.0f; };
  auto edge = [&](int j) {
    h[j] = bc.inside[j] ? oneMinus[j] * at(col[j]) + u[j] * at(col[j] + 1) : 0.0f;
  };
  std::fill(h, h + bc.inFrom, 0.0f);
  for (int j = bc.inFrom; j < bc.safeFrom; j++) edge(j);
  int j = bc.safeFrom;
  if (bc.doubled) {
    /* The same sums, each pair of columns from one pair of samples. */
    const float *__restrict from = row + col[j];
    const float *__restrict w0 = oneMinus + j, *__restrict w1 = u + j;
    float *__restrict to = h + j;
    const int n = (bc.safeTo - j) / 2;
    for (int m = 0; m < n; m++) {
      const float a = from[m], b = from[m + 1];
      to[2 * m] = w0[2 * m] * a + w1[2 * m] * b;
      to[2 * m + 1] = w0[2 * m + 1] * a + w1[2 * m + 1] * b;
    }
    j += 2 * n;
  }
  for (; j < bc.safeTo; j++)
    h[j] = oneMinus[j] * row[col[j]] + u[j] * row[col[j] + 1];
  for (int j = std::max(bc.safeTo, bc.safeFrom); j < bc.inTo; j++) edge(j);
  std::fill(h + std::max(bc.inTo, bc.inFrom), h + columns, 0.0f);
}

/* The vertical step: (1 - v) top + v bottom, columns outside the input 0. */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void resampleBilinearV(const float *__restrict top, const float *__restrict bottom, float v,
                       const BilinearColumns &bc, int columns, float *__restrict line) {
  const float w = 1 - v;
  for (int j = 0; j < columns; j++) line[j] = w * top[j] + v * bottom[j];
  std::fill(line, line + bc.inFrom, 0.0f);
  std::fill(line + std::max(bc.inTo, bc.inFrom), line + columns, 0.0f);
}

/*
 * Output lines of a large output go out with streaming stores: nothing
 * reads them back soon, and an ordinary store first reads each cache line
 * it fills, doubling the traffic.  Each kernel makes the values its
 * counterpart above makes (the same products and sums, no fused ones);
 * a thread ends its streamed lines with streamFence before they are read.
 */
#if defined(__x86_64__)
/* Floats until `to` is on a boundary of `bytes` (within n). */
inline int streamHead(const float *to, int n, int bytes) {
  const int off = static_cast<int>(reinterpret_cast<uintptr_t>(to) % bytes);
  if (off % sizeof(float)) return n;  /* never aligned: ordinary stores */
  return std::min(n, off ? (bytes - off) / static_cast<int>(sizeof(float)) : 0);
}

void streamV(const float *top, const float *bottom, float v, int n, float *to) {
  const float w = 1 - v;
  int j = streamHead(to, n, 16);
  for (int k = 0; k < j; k++) to[k] = w * top[k] + v * bottom[k];
  const __m128 vw = _mm_set1_ps(w), vv = _mm_set1_ps(v);
  for (; j + 4 <= n; j += 4)
    _mm_stream_ps(to + j, _mm_add_ps(_mm_mul_ps(vw, _mm_loadu_ps(top + j)),
                                     _mm_mul_ps(vv, _mm_loadu_ps(bottom + j))));
  for (; j < n; j++) to[j] = w * top[j] + v * bottom[j];
}

/* n floats of `from` (zeros when null) to `to`. */
void streamCopy(const float *from, int n, float *to) {
  int j = streamHead(to, n, 16);
  for (int k = 0; k < j; k++) to[k] = from ? from[k] : 0.0f;
  if (from)
    for (; j + 4 <= n; j += 4) _mm_stream_ps(to + j, _mm_loadu_ps(from + j));
  else
    for (; j + 4 <= n; j += 4) _mm_stream_ps(to + j, _mm_setzero_ps());
  for (; j < n; j++) to[j] = from ? from[j] : 0.0f;
}

inline void streamFence() { _mm_sfence(); }
constexpr int64_t kStreamBytes = int64_t{32} << 20;
#else
void streamCopy(const float *from, int n, float *to) {
  if (from) std::copy(from, from + n, to);
  else std::fill(to, to + n, 0.0f);
}
inline void streamFence() {}
constexpr int64_t kStreamBytes = INT64_MAX;
#endif

/* resampleBilinearV into a streamed line. */
void resampleBilinearVStream(const float *top, const float *bottom, float v,
                             const BilinearColumns &bc, int columns, float *line) {
#if defined(__x86_64__)
  const int from = bc.inFrom, to = std::max(bc.inTo, bc.inFrom);
  streamCopy(nullptr, from, line);
  streamV(top + from, bottom + from, v, to - from, line + from);
  streamCopy(nullptr, columns - to, line + to);
#else
  resampleBilinearV(top, bottom, v, bc, columns, line);
#endif
}

/*
 * The AVG columns whose taps are all of one count: tap k of output column
 * j is cell[k][j] with weight w[k][j].
 */
struct AverageColumns {
  int count = 0;  /* 0: columns with different counts */
  bool even = false;  /* every column's tap k has the same weight w[k][0] */
  std::vector<int> cell[4];
  std::vector<float> w[4];
};

/* One input row's share of an AVG row: each column's weighted taps times wy, added to sums. */
void resampleAverageRow(const float *__restrict row, float wy, const AvgTap *__restrict taps,
                        const int *__restrict first, int columns, float *__restrict sums) {
  for (int j = 0; j < columns; j++) {
    float s = 0;
    for (int k = first[j]; k < first[j + 1]; k++) s += row[taps[k].cell] * taps[k].w;
    sums[j] += s * wy;
  }
}

/* The same with K taps to every column: the same sums, without the tap loop. */
template <int K>
void resampleAverageRowK(const float *__restrict row, float wy, const AverageColumns &ac,
                         int columns, float *__restrict sums) {
  const int *__restrict c0 = ac.cell[0].data(), *__restrict c1 = ac.cell[K > 1 ? 1 : 0].data();
  const int *__restrict c2 = ac.cell[K > 2 ? 2 : 0].data(), *__restrict c3 = ac.cell[K > 3 ? 3 : 0].data();
  const float *__restrict w0 = ac.w[0].data(), *__restrict w1 = ac.w[K > 1 ? 1 : 0].data();
  const float *__restrict w2 = ac.w[K > 2 ? 2 : 0].data(), *__restrict w3 = ac.w[K > 3 ? 3 : 0].data();
  for (int j = 0; j < columns; j++) {
    float s = 0;
    s += row[c0[j]] * w0[j];
    if (K > 1) s += row[c1[j]] * w1[j];
    if (K > 2) s += row[c2[j]] * w2[j];
    if (K > 3) s += row[c3[j]] * w3[j];
    sums[j] += s * wy;
  }
}

/* An exact halving from two input rows (weights wa, wb): the sums of two
   calls of resampleAverageRowHalf on a row of zeros (weights are positive).
   The first row's products are stored, then the second row's added to
   them: one input row read at a time goes faster than two side by side. */
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
void resampleAverageHalf2(const float *__restrict rowA, float wa, const float *__restrict rowB,
                          float wb, const AverageColumns &ac, int columns,
                          float *__restrict line) {
  const float *__restrict a = rowA + ac.cell[0][0], *__restrict b = rowB + ac.cell[0][0];
  const float *__restrict w0 = ac.w[0].data(), *__restrict w1 = ac.w[1].data();
  /* Sums from zero differ from these only in the sign of a zero result,
     which the last + 0 makes positive as theirs is. */
  if (ac.even) {
    const float c0 = w0[0], c1 = w1[0];
    for (int j = 0; j < columns; j++) line[j] = (a[2 * j] * c0 + a[2 * j + 1] * c1) * wa;
    for (int j = 0; j < columns; j++)
      line[j] = (line[j] + (b[2 * j] * c0 + b[2 * j + 1] * c1) * wb) + 0.0f;
    return;
  }
  for (int j = 0; j < columns; j++) line[j] = (a[2 * j] * w0[j] + a[2 * j + 1] * w1[j]) * wa;
  for (int j = 0; j < columns; j++)
    line[j] = (line[j] + (b[2 * j] * w0[j] + b[2 * j + 1] * w1[j]) * wb) + 0.0f;
}

/* Two taps, cells 2j + base and 2j + base + 1 (an exact halving): loads in order. */
void resampleAverageRowHalf(const float *__restrict row, float wy, const AverageColumns &ac,
                            int columns, float *__restrict sums) {
  const float *__restrict r = row + ac.cell[0][0];
  const float *__restrict w0 = ac.w[0].data(), *__restrict w1 = ac.w[1].data();
  for (int j = 0; j < columns; j++) {
    float s = 0;
    s += r[2 * j] * w0[j];
    s += r[2 * j + 1] * w1[j];
    sums[j] += s * wy;
  }
}

/*
 * Rows of a round that go through the line cache as stored samples: this
 * thread only copies their bytes (getStoredBILData, putStoredBILData), and
 * each block of rows on the pool converts the input rows it reads and the
 * output rows it makes in buffers of its own, with the values
 * getPaletteFloatBILData and putFloatBILData give.  A palette input, a
 * 1BIT or 4BITS image, and every image on one thread, are converted here
 * as they are read or written.
 */
struct ResampleStaging {
  int inSize = 0, outSize = 0;  /* stored sample bytes; 0: not staged */
  int inPixel = 0, outPixel = 0;
  int span = 0, columns = 0;    /* input span and output columns */
  int lo = 0, count = 0;        /* input rows of the round */
  std::unique_ptr<unsigned char[]> in;  /* the round's input rows, `staged` of them */
  size_t room = 0, staged = 0;
  std::vector<unsigned char> out[2];    /* output rows of this round and the one before */
  int current = 0;              /* out[current] takes this round's rows */
  std::vector<int> index;       /* per pair and input row of the round: staged row, or -1 */

  ResampleStaging(const RAMIMG *input, const RAMIMG *output, int inputSpan, int outColumns,
                  bool pool)
      : inSize(input->header.nindices == 0 && pool ? storedSampleBytes(input->header.pixelid) : 0),
        outSize(pool ? storedSampleBytes(output->header.pixelid) : 0),
        inPixel(input->header.pixelid), outPixel(output->header.pixelid), span(inputSpan),
        columns(outColumns) {}

  /* Floats a copied input row (an output row) of a round takes, for its budget. */
  int64_t copyFloats() const { return inSize ? (int64_t{span} * inSize + 3) / 4 : span + 1; }
  int64_t lineFloats() const { return outSize ? (int64_t{columns} * outSize + 3) / 4 : columns; }

  /* A round of input rows first .. first + rows - 1, `copies` of them staged. */
  void begin(int pairs, int first, int rows, size_t copies) {
    lo = first;
    count = rows;
    index.assign(static_cast<size_t>(pairs) * rows, -1);
    staged = 0;
    const size_t need = copies * span * inSize;
    if (room < need) {
      in.reset(new unsigned char[need]);  /* every byte is written before it is read */
      room = need;
    }
  }
  /* Stages input row r of pair p (span samples from column `from`): false
     when this image's rows are converted here instead. */
  bool read(RAMIMG *image, int p, int r, int source, int from) {
    if (!inSize) return false;
    const size_t bytes = static_cast<size_t>(span) * inSize, k = staged++;
    getStoredBILData(image, r, from, span, source, in.get() + k * bytes);
    index[static_cast<size_t>(p) * count + (r - lo)] = static_cast<int>(k);
    return true;
  }
  unsigned char *stored(int b, int k) {
    return out[b].data() + static_cast<size_t>(k) * columns * outSize;
  }

  /* The converted rows of one block: the last few input rows it read (a
     block reads a pair's rows in order), then its output lines. */
  static constexpr int kHeld = 8;
  struct Block {
    ResampleStaging &s;
    int spanLo;
    std::unique_ptr<float[]> values;  /* uninitialised: each part is written first */
    int tags[kHeld] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int next = 0;
    Block(ResampleStaging &staging, int from, int lines)
        : s(staging), spanLo(from),
          values(new float[kHeld * static_cast<size_t>(staging.span + 1) +
                           static_cast<size_t>(lines) * staging.columns]) {}
    /* Input row r of pair p by column: `held` unless staged. */
    const float *input(int p, int r, const float *held) {
      const int k = s.index.empty() || r < s.lo || r >= s.lo + s.count
                        ? -1 : s.index[static_cast<size_t>(p) * s.count + (r - s.lo)];
      if (k < 0) return held;
      for (int t = 0; t < kHeld; t++)
        if (tags[t] == k) return values.get() + static_cast<size_t>(t) * (s.span + 1) - spanLo;
      const int t = next;
      next = (next + 1) % kHeld;
      tags[t] = k;
      float *row = values.get() + static_cast<size_t>(t) * (s.span + 1);
      storedToFloats(s.inPixel, s.in.get() + static_cast<size_t>(k) * s.span * s.inSize, s.span,
                     row);
      row[s.span] = 0;  /* the pad a copied row has */
      return row - spanLo;
    }
    float *line(int i) {
      return values.get() + kHeld * static_cast<size_t>(s.span + 1) +
             static_cast<size_t>(i) * s.columns;
    }
  };
};

/*
 * resampleRows --
 *     The output rows in rounds: the input rows a round needs are read
 *     once per source band (only the span of columns the rows touch; the
 *     lines of a FLOAT memory input are used where they lie), then the
 *     rows are combined per output column in blocks on the worker pool,
 *     written where a FLOAT memory output's lines lie or stored in order
 *     afterwards.  Rows going through the line cache are staged as bytes
 *     (ResampleStaging) and a round's output is stored while the pool
 *     works out the next.  Every output row depends only on the input
 *     rows, so the values are the same with any number of threads.
 */
void resampleRows(ResampleWork *w) {
  const ImageHeader &ih = w->in->header, &oh = w->out->header;
  const int outRows = oh.rows, outColumns = oh.columns;
  const int inRows = ih.rows, inColumns = ih.columns;
  const int pairs = static_cast<int>(w->source.size());
  RowMeter meter("Rimage resample");

  /* Column positions: the same for every row. */
  std::vector<int> col(static_cast<size_t>(outColumns), 0);
  std::vector<unsigned char> colInside(static_cast<size_t>(outColumns), 0);
  std::vector<float> colFrac(static_cast<size_t>(outColumns), 0);
  std::vector<AvgTap> colTaps;
  std::vector<int> colFirst;
  int spanLo = inColumns, spanHi = -1;  /* input columns read */
  if (w->method == RSP_AVG) {
    avgTaps(oh.x0, oh.dx, outColumns, ih.x0, ih.dx, inColumns, &colTaps, &colFirst);
    for (const AvgTap &t : colTaps) {
      spanLo = std::min(spanLo, t.cell);
      spanHi = std::max(spanHi, t.cell);
    }
  } else {
    for (int j = 0; j < outColumns; j++) {
      const double xf = (oh.x0 + j * oh.dx - ih.x0) / ih.dx;
      int c;
      if (w->method == RSP_NN) {
        c = roundToInt(xf);
        if (c < 0 || c >= inColumns) continue;
      } else {
        if (!resampleCell(xf, inColumns, &c)) continue;
        colFrac[j] = static_cast<float>(xf - c);
      }
      col[j] = c;
      colInside[j] = 1;
      spanLo = std::min(spanLo, c);
      spanHi = std::max(spanHi, w->method == RSP_BI ? c + 1 : c);
    }
    spanLo = std::max(spanLo, 0);
    spanHi = std::min(spanHi, inColumns - 1);
  }
  const int span = std::max(0, spanHi - spanLo + 1);
  if (span == 0) spanLo = 0;
  /* Input rows are addressed by input column; outside the span reads 0. */

  /* The bilinear columns with their inside and safe ranges (positions
     grow with j, so each is one run of columns). */
  BilinearColumns bc;
  if (w->method == RSP_BI && span > 0) {
    bc.col = col;
    bc.u = colFrac;
    bc.inside = colInside;
    bc.oneMinus.resize(static_cast<size_t>(outColumns));
    for (int j = 0; j < outColumns; j++) bc.oneMinus[j] = 1 - colFrac[j];
    bc.lo = spanLo;
    bc.span = span;
    bc.inFrom = 0;
    while (bc.inFrom < outColumns && !colInside[bc.inFrom]) bc.inFrom++;
    bc.inTo = outColumns;
    while (bc.inTo > bc.inFrom && !colInside[bc.inTo - 1]) bc.inTo--;
    auto safe = [&](int j) {
      return colInside[j] && col[j] >= spanLo && col[j] + 1 < spanLo + span;
    };
    bc.safeFrom = bc.inFrom;
    while (bc.safeFrom < bc.inTo && !safe(bc.safeFrom)) bc.safeFrom++;
    bc.safeTo = bc.safeFrom;
    while (bc.safeTo < bc.inTo && safe(bc.safeTo)) bc.safeTo++;
    bc.doubled = bc.safeTo - bc.safeFrom >= 2;
    for (int j = bc.safeFrom; j < bc.safeTo && bc.doubled; j++)
      bc.doubled = col[j] == col[bc.safeFrom] + (j - bc.safeFrom) / 2;
  }
  /* AVG columns with one count of taps each, taken out of the tap lists. */
  AverageColumns ac;
  if (w->method == RSP_AVG && outColumns > 0) {
    const int k0 = colFirst[1] - colFirst[0];
    bool uniform = k0 >= 1 && k0 <= 4;
    for (int j = 0; j < outColumns && uniform; j++) uniform = colFirst[j + 1] - colFirst[j] == k0;
    if (uniform) {
      ac.count = k0;
      for (int k = 0; k < k0; k++) {
        ac.cell[k].resize(static_cast<size_t>(outColumns));
        ac.w[k].resize(static_cast<size_t>(outColumns));
        for (int j = 0; j < outColumns; j++) {
          ac.cell[k][j] = colTaps[colFirst[j] + k].cell;
          ac.w[k][j] = colTaps[colFirst[j] + k].w;
        }
      }
      ac.even = true;
      for (int k = 0; k < k0; k++)
        for (int j = 0; j < outColumns && ac.even; j++) ac.even = ac.w[k][j] == ac.w[k][0];
    }
  }
  /* An exact halving: cells 2j + base and 2j + base + 1. */
  bool halving = ac.count == 2;
  for (int j = 0; j < outColumns && halving; j++)
    halving = ac.cell[0][j] == ac.cell[0][0] + 2 * j && ac.cell[1][j] == ac.cell[0][j] + 1;

  std::vector<AvgTap> rowTaps;
  std::vector<int> rowFirst;
  if (w->method == RSP_AVG)
    avgTaps(-oh.y0, oh.dy, outRows, -ih.y0, ih.dy, inRows, &rowTaps, &rowFirst);

  /* Calls use(r) for each input row that output row i reads. */
  auto inputRows = [&](int i, const std::function<void(int)> &use) {
    if (span == 0) return;
    const double yf = (ih.y0 - (oh.y0 - i * oh.dy)) / ih.dy;
    if (w->method == RSP_NN) {
      const int r = roundToInt(yf);
      if (r >= 0 && r < inRows) use(r);
    } else if (w->method == RSP_BI) {
      int r;
      if (resampleCell(yf, inRows, &r)) {
        use(r);
        if (yf - r != 0) use(r + 1);
      }
    } else {
      for (int t = rowFirst[i]; t < rowFirst[i + 1]; t++) use(rowTaps[t].cell);
    }
  };

  /* One output row of one band pair from its input rows (row(r): input row r),
     nearest or AVG (bilinear rows: bilinearRows below).  Columns outside the
     input, and rows that read none, are zeros. */
  auto combine = [&](int i, const std::function<const float *(int)> &row, float *line) {
    const double yf = (ih.y0 - (oh.y0 - i * oh.dy)) / ih.dy;
    int r = 0;
    if (span > 0 && w->method == RSP_NN && (r = roundToInt(yf)) >= 0 && r < inRows) {
      const float *row0 = row(r);
      for (int j = 0; j < outColumns; j++) line[j] = colInside[j] ? row0[col[j]] : 0.0f;
      return;
    }
    if (span > 0 && w->method == RSP_AVG && halving && rowFirst[i + 1] - rowFirst[i] == 2) {
      const AvgTap &a = rowTaps[rowFirst[i]], &b = rowTaps[rowFirst[i] + 1];
      resampleAverageHalf2(row(a.cell), a.w, row(b.cell), b.w, ac, outColumns, line);
      return;
    }
    std::fill(line, line + outColumns, 0.0f);
    if (span > 0 && w->method == RSP_AVG) {
      for (int t = rowFirst[i]; t < rowFirst[i + 1]; t++) {
        const float *in = row(rowTaps[t].cell);
        const float wy = rowTaps[t].w;
        switch (halving ? -1 : ac.count) {
        case -1: resampleAverageRowHalf(in, wy, ac, outColumns, line); break;
        case 1: resampleAverageRowK<1>(in, wy, ac, outColumns, line); break;
        case 2: resampleAverageRowK<2>(in, wy, ac, outColumns, line); break;
        case 3: resampleAverageRowK<3>(in, wy, ac, outColumns, line); break;
        case 4: resampleAverageRowK<4>(in, wy, ac, outColumns, line); break;
        default:
          resampleAverageRow(in, wy, colTaps.data(), colFirst.data(), outColumns, line);
        }
      }
    }
  };

  /* Bilinear rows of one band pair: each input row's horizontal samples
     once, kept in two slots for the output rows that read them.  A row
     that falls on an input row takes its samples straight into its line,
     which then serves as that row's slot. */
  auto bilinearRows = [&](int first, int end, const std::function<const float *(int)> &row,
                          float *const *lines, bool stream) {
    std::vector<float> slots(2 * static_cast<size_t>(outColumns));
    float *own[2] = {slots.data(), slots.data() + outColumns};
    const float *at[2] = {own[0], own[1]};
    int tags[2] = {INT_MIN, INT_MIN};
    /* The samples of input row r, in slot k (not keep) unless held; into
       `into` when given, that slot then reading from there. */
    auto horizontal = [&](int r, int keep, float *into) -> const float * {
      for (int k = 0; k < 2; k++)
        if (tags[k] == r) return at[k];
      const int k = keep == 0 ? 1 : 0;
      tags[k] = r;
      float *h = into ? into : own[k];
      resampleBilinearH(row(r), bc, outColumns, h);
      return at[k] = h;
    };
    /* The input row that output row i falls on, its vertical weight 0;
       INT_MIN when it falls between two (v: the weight) or outside. */
    auto position = [&](int i, float *v) {
      const double yf = (ih.y0 - (oh.y0 - i * oh.dy)) / ih.dy;
      int r = 0;
      if (!resampleCell(yf, inRows, &r)) return INT_MIN + 1;
      *v = static_cast<float>(yf - r);
      return r;
    };
    for (int i = first; i < end; i++) {
      float *line = lines[i - first];
      float v = 0;
      const int r = position(i, &v);
      if (r == INT_MIN + 1) {
        if (stream) streamCopy(nullptr, outColumns, line);
        else std::fill(line, line + outColumns, 0.0f);
        continue;
      }
      if (v == 0) {
        const float *top = horizontal(r, -1, stream ? nullptr : line);
        if (stream) streamCopy(top, outColumns, line);
        else if (top != line) std::copy(top, top + outColumns, line);
        continue;
      }
      const float *top = horizontal(r, -1, nullptr);
      if (stream) {
        const int topSlot = tags[0] == r ? 0 : 1;
        resampleBilinearVStream(top, horizontal(r + 1, topSlot, nullptr), v, bc, outColumns, line);
        continue;
      }
      /* The lower row straight into the next output row when that row
         falls on it. */
      float next = 1;
      float *into = i + 1 < end && position(i + 1, &next) == r + 1 && next == 0
                        ? lines[i + 1 - first]
                        : nullptr;
      const int topSlot = tags[0] == r ? 0 : 1;
      resampleBilinearV(top, horizontal(r + 1, topSlot, into), v, bc, outColumns, line);
    }
    if (stream) streamFence();
  };

  /* Rounds of output rows with their output lines (or buffers) and input
     rows; what a round copies stays within about 4 MiB. */
  /* A block also moves at least 2 MiB (its output rows written and the
     input rows they read): a new output's pages are zeroed by the system
     as they are first written, a huge page at a time, and threads sharing
     one wait for each other.  (Rows going through the line cache are
     written into buffers used again.) */
  const int64_t rowBytes = std::max<int64_t>(
      int64_t{4} * pairs * (outColumns + int64_t{span} * inRows / std::max(outRows, 1)), 1);
  const int grain = std::max(
      rowGrain(int64_t{outColumns} * pairs * (w->method == RSP_AVG ? 4 : 2)),
      !residentImage(w->out)
          ? 1
          : static_cast<int>(std::min<int64_t>(outRows, ((int64_t{2} << 20) + rowBytes - 1) / rowBytes)));
  /* (An image resampled into itself is read before it is written: its
     rows are not staged, nor written a round late.)  Staged rows take a
     quarter of the room of floats or less: their rounds get twice the
     room, so that every thread still has blocks at large sizes. */
  ResampleStaging staging(w->in, w->out, span, outColumns,
                          workerCount() > 1 && outRows >= 2 * grain && w->in != w->out);
  const int64_t budget = int64_t{1} << (staging.inSize || staging.outSize ? 21 : 20);  /* floats */
  const int round = static_cast<int>(std::max<int64_t>(
      1, std::min<int64_t>(outRows, std::max<int64_t>(int64_t{grain} * workerCount() * 4,
                                                      budget / std::max(outColumns, 1)))));
  const std::vector<float> zeros(static_cast<size_t>(inColumns) + 2, 0.0f);
  /* Staged output rows of the round before, written while the pool works
     out the next round (or after the last). */
  int pendingFirst = 0, pendingRows = 0;
  auto writePending = [&] {
    const int b = 1 - staging.current;
    for (int k = 0; k < pendingRows; k++) {
      for (int p = 0; p < pairs; p++)
        putStoredBILData(w->out, pendingFirst + k, 0, outColumns, w->dest[p],
                         staging.stored(b, p * pendingRows + k));
      const int i = pendingFirst + k;
      if (outRows > 0 && static_cast<float>(i) / outRows >= meter.threshold && w->update)
        updateClient(w->out, nullptr, 2);
      meter.row(i, outRows);
    }
    pendingRows = 0;
  };
  std::vector<float> inputStore, outputStore;
  std::vector<const float *> inputs;  /* per pair and input row of the round, by column */
  std::vector<char> needed;           /* per input row of the round */
  std::vector<float *> outputs;       /* per pair and output row of the round */
  /* (An image resampled into itself is read before it is written.) */
  const bool directIn = ih.nindices == 0 && w->in != w->out;
  const bool directOut = oh.pixelid == P_FLOAT;
  int done = 0, n = 0, lo = 0, count = 0;
  auto input = [&](int p, int r) -> const float *& {
    return inputs[static_cast<size_t>(p) * count + (r - lo)];
  };
  bool stream = false;  /* output lines streamed (bilinear) */
  /* Rows first .. end - 1 of those from `done`, every pair, into outputs. */
  auto block = [&](int first, int end) {
    if (w->method == RSP_BI && span > 0) {
      for (int p = 0; p < pairs; p++)
        bilinearRows(done + first, done + end, [&](int r) { return input(p, r); },
                     outputs.data() + static_cast<size_t>(p) * n + first, stream);
      return;
    }
    for (int k = first; k < end; k++)
      for (int p = 0; p < pairs; p++)
        combine(done + k, [&](int r) { return input(p, r); },
                outputs[static_cast<size_t>(p) * n + k]);
  };
  /* The meter (and between rounds the clients) at each row, as the rows
     end; while workers write the lines no client reads them. */
  int told = 0;
  auto tell = [&](int rows, bool clients) {
    for (; told < rows; told++) {
      if (clients && static_cast<float>(told) / outRows >= meter.threshold && w->update)
        updateClient(w->out, nullptr, 2);
      meter.row(told, outRows);
    }
    return true;
  };

  /* Input and output memory images that hold every line: no rounds.  The
     lines are had here, and each block of rows works straight from the
     input's lines into the output's, so the first writes into a new
     output (its pages zeroed by the system as they are touched) are
     spread over the threads as the rest of the work is. */
  if (directIn && directOut && outRows > 0) {
    lo = -1;
    count = inRows + 2;
    n = outRows;
    inputs.assign(static_cast<size_t>(pairs) * count, zeros.data() + 1);
    outputs.assign(static_cast<size_t>(pairs) * n, nullptr);
    bool resident = true;
    for (int p = 0; p < pairs && resident; p++) {
      resident = w->source[p] >= 0;
      for (int r = 0; r < inRows && resident; r++)
        resident = (input(p, r) = residentFloatLine(w->in, r, w->source[p])) != nullptr;
      for (int i = 0; i < outRows && resident; i++)  /* every line written whole */
        resident = (outputs[static_cast<size_t>(p) * n + i] =
                        residentFloatLine(w->out, i, w->dest[p], 0)) != nullptr;
    }
    if (resident) {
      /* An output larger than any cache would hold is streamed. */
      stream = int64_t{4} * pairs * outRows * outColumns >= kStreamBytes;
      for (int p = 0; p < pairs; p++)
        for (int i = 0; i < outRows; i++) setRAMImageDirty(w->out, i, w->dest[p]);
      parallelRows(outRows, grain, block, [&](int rows) { return tell(rows, false); });
      tell(outRows, false);
      if (w->out->hist)
        for (int p = 0; p < pairs; p++) resetBandHist(w->out->hist, w->dest[p]);
      return;
    }
  }
  while (done < outRows) {
    n = std::min(round, outRows - done);
    lo = 0;
    count = 0;
    size_t copies = 0;
    for (;;) {
      /* The input rows of the round; fewer rows when the copies would be many. */
      int hi = -1;
      lo = INT_MAX;
      for (int i = done; i < done + n; i++)
        inputRows(i, [&](int r) {
          lo = std::min(lo, r);
          hi = std::max(hi, r);
        });
      count = hi >= lo ? hi - lo + 1 : 0;
      needed.assign(static_cast<size_t>(count), 0);
      for (int i = done; i < done + n; i++) inputRows(i, [&](int r) { needed[r - lo] = 1; });
      inputs.assign(static_cast<size_t>(pairs) * count, nullptr);
      copies = 0;
      for (int p = 0; p < pairs; p++)
        for (int r = lo; r < lo + count; r++) {
          if (!needed[r - lo]) continue;
          const float *line = directIn && w->source[p] >= 0 && r >= 0 && r < inRows
                                  ? residentFloatLine(w->in, r, w->source[p])
                                  : nullptr;
          inputs[static_cast<size_t>(p) * count + (r - lo)] = line;
          copies += !line && r >= 0 && r < inRows;
        }
      if (n == 1 || (static_cast<int64_t>(copies) * staging.copyFloats() <= budget &&
                     (directOut || int64_t{n} * pairs * staging.lineFloats() <= budget)))
        break;
      n = (n + 1) / 2;
    }
    /* Input rows a round reads: held lines in place, others copied once. */
    staging.begin(pairs, lo, count, copies);
    if (!staging.inSize && inputStore.size() < copies * static_cast<size_t>(span + 1))
      inputStore.resize(copies * static_cast<size_t>(span + 1));
    size_t next = 0;
    /* Row by row, every band of a row while the cache holds it. */
    for (int r = lo; r < lo + count; r++)
      for (int p = 0; p < pairs; p++) {
        if (!needed[r - lo] || input(p, r)) continue;
        if (r < 0 || r >= inRows) {
          input(p, r) = zeros.data() + 1;
          continue;
        }
        if (staging.read(w->in, p, r, w->source[p], spanLo)) continue;
        float *to = inputStore.data() + next++ * static_cast<size_t>(span + 1);
        getPaletteFloatBILData(w->in, r, spanLo, span, w->source[p], to);
        input(p, r) = to - spanLo;
      }
    /* Output lines: a FLOAT memory output's where they lie. */
    outputs.assign(static_cast<size_t>(pairs) * n, nullptr);
    bool direct = directOut;
    for (int p = 0; p < pairs && direct; p++)
      for (int k = 0; k < n && direct; k++)
        direct = (outputs[static_cast<size_t>(p) * n + k] =
                      residentFloatLine(w->out, done + k, w->dest[p])) != nullptr;
    const bool stagedOut = !direct && staging.outSize;
    if (direct) {
      for (int p = 0; p < pairs; p++)
        for (int k = 0; k < n; k++) setRAMImageDirty(w->out, done + k, w->dest[p]);
    } else if (stagedOut) {
      staging.out[staging.current].resize(static_cast<size_t>(pairs) * n * outColumns *
                                          staging.outSize);
    } else {
      if (outputStore.size() < static_cast<size_t>(pairs) * n * outColumns)
        outputStore.resize(static_cast<size_t>(pairs) * n * outColumns);
      for (size_t k = 0; k < outputs.size(); k++)
        outputs[k] = outputStore.data() + k * static_cast<size_t>(outColumns);
    }
    /* A block of a round with staged rows: its input rows converted as it
       reads them, its output rows made in lines of its own and stored. */
    auto stagedRows = [&](int first, int end) {
      ResampleStaging::Block stage(staging, spanLo, stagedOut ? pairs * (end - first) : 0);
      std::vector<float *> lines(static_cast<size_t>(end - first));
      for (int p = 0; p < pairs; p++) {
        for (int k = first; k < end; k++)
          lines[k - first] = stagedOut ? stage.line(p * (end - first) + k - first)
                                       : outputs[static_cast<size_t>(p) * n + k];
        auto row = [&](int r) { return stage.input(p, r, input(p, r)); };
        if (w->method == RSP_BI && span > 0)
          bilinearRows(done + first, done + end, row, lines.data(), false);
        else
          for (int k = first; k < end; k++) combine(done + k, row, lines[k - first]);
        if (stagedOut)
          for (int k = first; k < end; k++)
            floatsToStored(oh.pixelid, lines[k - first], outColumns,
                           staging.stored(staging.current, p * n + k));
      }
    };
    const std::function<void(int, int)> rows = [&](int first, int end) {
      if (staging.inSize || stagedOut) {
        stagedRows(first, end);
        return;
      }
      block(first, end);
    };
    if (stagedOut)
      parallelRows(n, grain, rows, [&](int finished) {
        if (finished > 0 && pendingRows) writePending();
        return true;
      });
    else
      parallelRows(n, grain, rows);
    if (pendingRows) writePending();
    if (stagedOut) {
      pendingFirst = done;
      pendingRows = n;
      staging.current = 1 - staging.current;
    }
    for (int k = 0; k < n && !stagedOut; k++) {
      if (!direct)
        for (int p = 0; p < pairs; p++)
          putFloatBILData(w->out, done + k, 0, outColumns, w->dest[p],
                          outputs[static_cast<size_t>(p) * n + k]);
      tell(done + k + 1, true);
    }
    if (direct && w->out->hist)
      for (int p = 0; p < pairs; p++) resetBandHist(w->out->hist, w->dest[p]);
    done += n;
  }
  writePending();
}

int resampleFailure(ResampleWork *w) {
  closeTransferImages(&w->in, &w->out);
  return 0;
}

/*
 * parseResampleOptions --
 *     Method, both images (the output must exist), the map ids, pixel
 *     sizes and the band pairs.
 * Results:      1; 0 after the message, with nothing left open.
 */
int parseResampleOptions(ResampleWork *w, int argc, const char **argv) {
  ModuleOption o[RS_OPTION_COUNT + 1];
  std::copy(std::begin(resampleOptions), std::end(resampleOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  if (const char *m = o[RS_RSP].value) {
    if (compareNoCase(m, "BI") == 0) w->method = RSP_BI;
    else if (compareNoCase(m, "AVG") == 0) w->method = RSP_AVG;
    else if (compareNoCase(m, "NN") == 0) w->method = RSP_NN;
    else {
      vesk_fprintf(stderr, "Unknown resample method.\n");
      return 0;
    }
  }
  w->update = transferInt(o[RS_U].value, 1) != 0;
  if (!o[RS_IN].value) {
    vesk_fprintf(stderr, "Missing input file.\n");
    return 0;
  }
  if (!o[RS_OUT].value) {
    vesk_fprintf(stderr, "Missing output file.\n");
    return 0;
  }
  int err = 0;
  w->in = openRAMImage(o[RS_IN].value, o[RS_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open %s.\n", o[RS_IN].value);
    return resampleFailure(w);
  }
  w->out = openRAMImage(o[RS_OUT].value, o[RS_OUT].value, nullptr, nullptr, &err);
  if (!w->out) {
    vesk_fprintf(stderr, "Error in open %s.\n", o[RS_OUT].value);
    return resampleFailure(w);
  }
  const ImageHeader &ih = w->in->header, &oh = w->out->header;
  if (ih.mapid != oh.mapid) {
    vesk_fprintf(stderr, "Inconsistent mapID of input/output images");
    return resampleFailure(w);
  }
  if (ih.nindices > 0 && oh.nindices > 0 && w->method != RSP_NN) {
    vesk_fprintf(stderr, "Output image should not be of color index image");
    return resampleFailure(w);
  }
  /* Positions divide by the input's pixel size; the output's steps them. */
  if (!(ih.dx > 0 && ih.dy > 0 && oh.dx > 0 && oh.dy > 0) || !isfinite(ih.dx) ||
      !isfinite(ih.dy) || !isfinite(oh.dx) || !isfinite(oh.dy)) {
    vesk_fprintf(stderr, "Invalid pixel size of input/output images.\n");
    return resampleFailure(w);
  }
  if (!o[RS_B].value) {
    if (ih.nindices > 0 && oh.nindices > 0) {
      w->source = {-1};  /* the index band, not the palette's red */
      w->dest = {0};
    } else if (ih.nindices > 0) {
      /* The palette in the output's colour order (a DIB's is blue first). */
      for (int b = 0; b < std::min(3, oh.nbands); b++) {
        w->source.push_back(rgbBandComponent(oh, b));
        w->dest.push_back(b);
      }
    } else {
      for (int b = 0; b < oh.nbands; b++) {
        w->source.push_back(b);
        w->dest.push_back(b);
      }
    }
    return 1;
  }
  std::vector<int> s(kMaxBandPairs), d(kMaxBandPairs);
  std::string text(o[RS_B].value);
  int total = 0;
  const int inBands = ih.nindices > 0 ? 3 : ih.nbands;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find_first_of(";, ", at);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    int n = total < kMaxBandPairs
                ? parseBandPair(s.data() + total, d.data() + total, kMaxBandPairs - total, item.c_str())
                : 0;
    if (n <= 0) total = -1;
    if (total < 0) break;
    total += n;
  }
  bool good = total > 0;
  for (int k = 0; good && k < total; k++)
    /* A palette output stores one band: its index. */
    good = s[k] >= 1 && s[k] <= inBands && d[k] >= 1 && d[k] <= oh.nbands;
  if (!good) {
    vesk_fprintf(stderr, "Invalid band specification.\n");
    return resampleFailure(w);
  }
  for (int k = 0; k < total; k++) {
    w->source.push_back(s[k] - 1);
    w->dest.push_back(d[k] - 1);
  }
  return 1;
}

}  // namespace

/*
 * resampleModule --
 *     "rimage resample -in IN -out OUT -b B -rsp RSP".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int resampleModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -b B -rsp RSP\n", prog);
    for (const char *line : resampleUsage) vesk_printf("%s", line);
    return 2;
  }
  ResampleWork w;
  if (!parseResampleOptions(&w, argc, argv)) return 0;
  int result = 1;
  try {
    resampleRows(&w);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in memory allocation.\n");
    result = 0;
  } catch (const std::length_error &) {
    vesk_fprintf(stderr, "Error in memory allocation.\n");
    result = 0;
  }
  meterSet("Rimage resample", 1.0f);
  if (result && w.update) {
    if (w.out->hist)
      for (int d : w.dest) resetBandHist(w.out->hist, d);
    updateClient(w.out, nullptr, 2);
  }
  meterReset();
  closeTransferImages(&w.in, &w.out);
  return result;
}

}  // namespace vesk
