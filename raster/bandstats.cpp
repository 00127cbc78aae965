/*
 * bandstats.cpp --
 *     Band statistics of RAM images.  An accumulator per band gathers
 *     sum, sum of squares, count and extremes, and counts a histogram for
 *     1BIT, 4BITS and BYTE pixels.  Whole-image statistics are cached in
 *     the image until a write or a volume change resets a band; masked
 *     and region statistics are computed on demand.
 */
#include "raster/bandstats.h"

#include <stdint.h>
#include <math.h>
#include <string.h>
#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "core/threads.h"
#include "raster/pixels.h"
#include "raster/roi.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

template <class S> inline S loadSample(const unsigned char *line, int64_t x) {
  S v;
  memcpy(&v, line + x * static_cast<int64_t>(sizeof(S)), sizeof(S));
  return v;
}

/* Adds a run of values of one small type counted per value: the counts
   go to four tables in turn (no store waits on the previous one), then
   fold into the sums, extremes and histogram. */
template <class Value>
void accumulateCounted(BandHist *h, int64_t n, int64_t step, int values, Value &&valueAt) {
  uint32_t counts[4][256];
  memset(counts, 0, sizeof counts);
  int64_t pos = 0, k = 0;
  for (; pos < n; pos += step, k++) counts[k & 3][valueAt(pos)]++;
  for (int v = 0; v < values; v++) {
    const double c = double(counts[0][v]) + counts[1][v] + counts[2][v] + counts[3][v];
    if (c == 0) continue;
    h->min = std::min<double>(h->min, v);
    h->max = std::max<double>(h->max, v);
    h->sum += c * v;
    h->sumSq += c * v * v;
    if (h->bins && v < h->binCount) h->bins[v] += static_cast<int64_t>(c);
  }
}

/*
 * The counts of a BYTE band over any number of runs: four tables filled
 * four pixels a step (no store waits on the previous one), moved into
 * 64-bit totals before a table could overflow, folded into the sums,
 * extremes and histogram once.  Every sum is a sum of whole numbers,
 * exact in double, so one fold at the end gives the figures a fold per
 * run gives.
 */
struct ByteTally {
  uint32_t counts[4][256];
  uint64_t totals[256];
  int64_t pending;
};

void flushTally(ByteTally *t) {
  for (int v = 0; v < 256; v++)
    t->totals[v] += uint64_t{t->counts[0][v]} + t->counts[1][v] + t->counts[2][v] + t->counts[3][v];
  memset(t->counts, 0, sizeof t->counts);
  t->pending = 0;
}

void tallyBytes(ByteTally *t, const unsigned char *line, int64_t n) {
  if (t->pending + n > INT32_MAX) flushTally(t);
  uint32_t(*counts)[256] = t->counts;
  int64_t x = 0;
  for (; x + 4 <= n; x += 4) {
    counts[0][line[x]]++;
    counts[1][line[x + 1]]++;
    counts[2][line[x + 2]]++;
    counts[3][line[x + 3]]++;
  }
  for (; x < n; x++) counts[0][line[x]]++;
  t->pending += n;
}

void foldTally(BandHist *h, ByteTally *t) {
  flushTally(t);
  for (int v = 0; v < 256; v++) {
    const double c = static_cast<double>(t->totals[v]);
    if (c == 0) continue;
    h->min = std::min<double>(h->min, v);
    h->max = std::max<double>(h->max, v);
    h->sum += c * v;
    h->sumSq += c * v * v;
    if (h->bins && v < h->binCount) h->bins[v] += static_cast<int64_t>(t->totals[v]);
  }
  memset(t->totals, 0, sizeof t->totals);
}

/* accumulateCounted for a run of every byte. */
void accumulateBytes(BandHist *h, const unsigned char *line, int64_t n) {
  ByteTally t;
  memset(&t, 0, sizeof t);
  tallyBytes(&t, line, n);
  foldTally(h, &t);
}

/* The sums and extremes of one run of wider values (extremes from lo and
   hi): four partial sums so that the additions overlap. */
struct WideSums {
  double sum, sumSq, lo, hi;
};
template <class S> WideSums wideSums(const unsigned char *line, int64_t n, int64_t step, double lo,
                                     double hi) {
  double sum[4] = {0, 0, 0, 0}, sq[4] = {0, 0, 0, 0};
  int64_t pos = 0, k = 0;
  for (; pos < n; pos += step, k++) {
    const double v = loadSample<S>(line, pos);
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
    sum[k & 3] += v;
    sq[k & 3] += v * v;
  }
  return {(sum[0] + sum[1]) + (sum[2] + sum[3]), (sq[0] + sq[1]) + (sq[2] + sq[3]), lo, hi};
}

/* Adds the sums of one run that started from no extremes: runs added in
   their order give the figures of one pass. */
void addWideSums(BandHist *h, const WideSums &s) {
  h->min = s.lo < h->min ? s.lo : h->min;
  h->max = s.hi > h->max ? s.hi : h->max;
  h->sum += s.sum;
  h->sumSq += s.sumSq;
}

/* wideSums of a wider pixel type; false for the others. */
bool wideSumsOf(int pixelid, const unsigned char *line, int64_t n, int64_t step, double lo,
                double hi, WideSums *out) {
  switch (pixelid) {
  case P_SHORT: *out = wideSums<int16_t>(line, n, step, lo, hi); return true;
  case P_LONG: *out = wideSums<int32_t>(line, n, step, lo, hi); return true;
  case P_FLOAT: *out = wideSums<float>(line, n, step, lo, hi); return true;
  case P_USHORT: *out = wideSums<uint16_t>(line, n, step, lo, hi); return true;
  case P_ULONG: *out = wideSums<uint32_t>(line, n, step, lo, hi); return true;
  case P_SBYTE: *out = wideSums<int8_t>(line, n, step, lo, hi); return true;
  default: return false;
  }
}

/* The types whose runs wideSumsOf adds. */
bool isWideType(int pixelid) {
  switch (pixelid) {
  case P_SHORT: case P_LONG: case P_FLOAT: case P_USHORT: case P_ULONG: case P_SBYTE: return true;
  default: return false;
  }
}

/* Whether every line of an image has a cache slot of its own, so that
   lines had stay where they are while others are had.  A JPEG file read
   in order has a slot for every line but keeps only a window of them
   decoded: rows the window has passed are given back. */
bool linesStay(const RAMIMG *image) {
  return image->cache && image->getLineProc == getRAMImageLine &&
         image->header.imgid != IMG_JPEG &&
         image->cacheLines >= int64_t{image->header.rows} * image->header.nbands;
}

/*
 * scanRoundsOnPool --
 *     The scan of ramImageHist row by row over an image whose lines stay,
 *     in rounds: the lines had here, counted on the worker pool, the
 *     counts merged.  BYTE bands are tallied per block and the whole-number
 *     tallies added (any order gives the same); wider types get the sums
 *     of each line worked out on the pool and added here in row order, so
 *     the figures are those of one thread to the last bit.
 */
void scanRoundsOnPool(RAMIMG *image, BandHist *hist, int rowStep, int columnStep,
                      std::vector<ByteTally> &tallies, std::vector<char> &tallied) {
  const ImageHeader &h = image->header;
  const int nbands = h.nbands;
  const int64_t step = std::max(columnStep, 1);
  const int scanned = static_cast<int>((int64_t{h.rows} + rowStep - 1) / rowStep);
  const int grain = rowGrain(int64_t{h.columns} * nbands / step);
  const int round = roundRows(grain, scanned, image->lineBytes * nbands);
  const size_t nb = static_cast<size_t>(nbands);
  std::vector<const unsigned char *> lines(static_cast<size_t>(round) * nb);
  std::vector<WideSums> sums(tallies.empty() ? lines.size() : 0);
  std::mutex merge;
  for (int q0 = 0; q0 < scanned; q0 += round) {
    const int m = std::min(round, scanned - q0);
    for (int k = 0; k < m; k++)
      for (int band = 0; band < nbands; band++)
        lines[k * nb + band] =
            hist[band].done ? nullptr : image->getLineProc(image, (q0 + k) * rowStep, band, 1);
    parallelRows(m, grain, [&](int first, int end) {
      if (tallies.empty()) {
        for (size_t i = first * nb; i < end * nb; i++)
          if (lines[i])
            wideSumsOf(h.pixelid, lines[i], h.columns, step, HUGE_VAL, -HUGE_VAL, &sums[i]);
        return;
      }
      std::vector<ByteTally> mine(nb);
      for (int k = first; k < end; k++)
        for (size_t band = 0; band < nb; band++)
          if (const unsigned char *line = lines[k * nb + band]) tallyBytes(&mine[band], line, h.columns);
      std::lock_guard<std::mutex> hold(merge);
      for (size_t band = 0; band < nb; band++) {
        flushTally(&mine[band]);
        for (int v = 0; v < 256; v++) tallies[band].totals[v] += mine[band].totals[v];
      }
    });
    for (size_t i = 0; i < static_cast<size_t>(m) * nb; i++) {
      if (!lines[i]) continue;
      BandHist &band = hist[i % nb];
      if (tallies.empty()) {
        addWideSums(&band, sums[i]);
        band.count += double((h.columns - 1) / step + 1);
      } else {
        tallied[i % nb] = 1;
        band.count += h.columns;
      }
    }
  }
}

bool isBandSequential(int imgid) {
  return imgid == IMG_BSQ || imgid == IMG_E74BSQ || imgid == IMG_BSQD;
}

/* A reused row buffer of the masked and region scans; null when it
   cannot grow. */
template <class T> T *rowBuffer(std::vector<T> &buffer, int64_t n) {
  try {
    if (static_cast<int64_t>(buffer.size()) < n) buffer.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  return buffer.data();
}

/* Whether a band's values are read as floats (not held by a byte). */
bool readsFloats(const RAMIMG *image) { return histBinCount(image->header.pixelid) == 0; }

/* A fresh array for an image, "Error in createHist." when it fails. */
BandHist *newImageHist(RAMIMG *image) {
  BandHist *hist = createHist(image->header.nbands, histBinCount(image->header.pixelid));
  if (!hist) vesk_fprintf(stderr, "Error in createHist.\n");
  return hist;
}

}  // namespace

/* histBinCount -- histogram bins of a pixel type: 2, 16, 256 or 0. */
int histBinCount(int pixelid) {
  switch (pixelid) {
  case P_1BIT: return 2;
  case P_4BITS: return 16;
  case P_BYTE: return 256;
  default: return 0;
  }
}

/*
 * createHist --
 *     n zeroed accumulators, each with a zeroed histogram of `bins` counts
 *     when bins > 0.
 * Results:      the array, or null when an allocation fails (nothing is
 *     left allocated).
 */
BandHist *createHist(int n, int bins) {
  if (n <= 0) return nullptr;
  BandHist *hist = new (std::nothrow) BandHist[n];
  if (!hist) return nullptr;
  for (int i = 0; i < n; i++) {
    if (bins > 0) {
      hist[i].bins = new (std::nothrow) int64_t[bins]();
      if (!hist[i].bins) {
        freeHist(hist, n);
        return nullptr;
      }
      hist[i].binCount = bins;
    }
    resetHist(&hist[i]);
  }
  return hist;
}

/* freeHist -- frees the histograms and the array; null is ignored. */
void freeHist(BandHist *hist, int n) {
  if (!hist) return;
  for (int i = 0; i < n; i++) delete[] hist[i].bins;
  delete[] hist;
}

/*
 * resetHist --
 *     Empties an accumulator: sums and count 0, extremes at the infinities,
 *     not done, histogram zeroed.
 */
void resetHist(BandHist *h) {
  h->sum = h->sumSq = h->count = h->mean = h->std = 0;
  h->min = HUGE_VAL;
  h->max = -HUGE_VAL;
  h->done = 0;
  if (h->bins && h->binCount > 0) memset(h->bins, 0, sizeof(int64_t) * static_cast<size_t>(h->binCount));
}

void clearHistDone(BandHist *h) { h->done = 0; }

void resetBandHist(BandHist *hist, int band) {
  BandHist *h = hist + band;
  if (h->done || h->count != 0) resetHist(h);
}

/*
 * accumulateHist --
 *     Adds every step-th of the first n pixels of a line in the given
 *     pixel type (a step below 1 counts as 1).  1BIT and 4BITS pixels are
 *     taken in the line's bit order (msbf as in row access).  An unknown
 *     type adds nothing.
 */
void accumulateHist(BandHist *h, int pixelid, int n, int step, const unsigned char *line,
                    int msbf) {
  if (n <= 0 || !line) return;
  const int64_t s = std::max(step, 1);
  switch (pixelid) {
  case P_1BIT:
    if (msbf)
      accumulateCounted(h, n, s, 2, [&](int64_t x) { return (line[x >> 3] >> (7 - (x & 7))) & 1; });
    else
      accumulateCounted(h, n, s, 2, [&](int64_t x) { return (line[x >> 3] >> (x & 7)) & 1; });
    break;
  case P_4BITS:
    if (msbf)
      accumulateCounted(h, n, s, 16,
                        [&](int64_t x) { return (x & 1) ? line[x >> 1] & 15 : line[x >> 1] >> 4; });
    else
      accumulateCounted(h, n, s, 16,
                        [&](int64_t x) { return (x & 1) ? line[x >> 1] >> 4 : line[x >> 1] & 15; });
    break;
  case P_BYTE:
    if (s == 1) accumulateBytes(h, line, n);
    else accumulateCounted(h, n, s, 256, [&](int64_t x) { return line[x]; });
    break;
  default: {
    WideSums sums;
    if (!wideSumsOf(pixelid, line, n, s, h->min, h->max, &sums)) return;
    h->min = sums.lo;
    h->max = sums.hi;
    h->sum += sums.sum;
    h->sumSq += sums.sumSq;
    break;
  }
  }
  h->count += double((n - 1) / s + 1);
}

/*
 * calcHistMeanStd --
 *     mean = sum / count; std = sqrt(sumSq / count - mean^2) when that is
 *     positive, else 0.  An empty accumulator has mean and std 0.
 */
void calcHistMeanStd(BandHist *h) {
  if (h->count <= 0) {
    h->mean = h->std = 0;
    return;
  }
  h->mean = h->sum / h->count;
  const double variance = h->sumSq / h->count - h->mean * h->mean;
  h->std = variance > 0 ? sqrt(variance) : 0;
}

double getHistMean(BandHist *h) {
  calcHistMeanStd(h);
  return h->mean;
}

double getHistStd(BandHist *h) {
  calcHistMeanStd(h);
  return h->std;
}

/*
 * ramImageHist --
 *     The statistics of every band of an image, cached in the image.
 *     Mode 0 returns a complete cached array as it is; mode 2 drops it
 *     first.  Bands not done are scanned over every rowStep-th row and
 *     columnStep-th column, band by band for band-sequential files and
 *     row by row otherwise (the file's own order).
 * Results:      the image's array with every band done; null when it
 *     cannot be allocated.
 */
BandHist *ramImageHist(RAMIMG *image, int mode, int columnStep, int rowStep) {
  const ImageHeader &h = image->header;
  const int nbands = h.nbands;
  if (mode == kHistCached && image->hist) {
    bool complete = true;
    for (int b = 0; b < nbands && complete; b++) complete = image->hist[b].done != 0;
    if (complete) return image->hist;
  }
  if (mode == kHistRecompute) freeImageStats(image);
  if (!image->hist) {
    image->hist = newImageHist(image);
    if (!image->hist) return nullptr;
  }
  BandHist *hist = image->hist;
  bool fromHeader = false;
  if (h.imgid == IMG_FFT && rasterHooks().getFFTHist) fromHeader = rasterHooks().getFFTHist(image, hist) != 0;
  if (!fromHeader && image->getLineProc) {
    const int rs = std::max(rowStep, 1);
    // Every byte of a BYTE band: counted over all rows, folded once.
    std::vector<ByteTally> tallies;
    if (h.pixelid == P_BYTE && columnStep <= 1 && h.columns > 0) {
      try {
        tallies.resize(static_cast<size_t>(nbands));
      } catch (const std::bad_alloc &) {
        tallies.clear();
      }
      for (ByteTally &t : tallies) memset(&t, 0, sizeof t);
    }
    std::vector<char> tallied(tallies.size(), 0);
    auto scan = [&](int row, int band) {
      if (hist[band].done) return;
      const unsigned char *line = image->getLineProc(image, row, band, 1);
      if (!line) return;
      if (tallies.empty()) {
        accumulateHist(&hist[band], h.pixelid, h.columns, columnStep, line, h.msbf);
        return;
      }
      tallyBytes(&tallies[static_cast<size_t>(band)], line, h.columns);
      tallied[static_cast<size_t>(band)] = 1;
      hist[band].count += h.columns;
    };
    if (!isBandSequential(h.imgid) && h.columns > 0 && linesStay(image) &&
        (!tallies.empty() || isWideType(h.pixelid))) {
      scanRoundsOnPool(image, hist, rs, columnStep, tallies, tallied);
    } else if (isBandSequential(h.imgid)) {
      for (int band = 0; band < nbands; band++)
        for (int row = 0; row < h.rows; row += rs) scan(row, band);
    } else {
      for (int row = 0; row < h.rows; row += rs)
        for (int band = 0; band < nbands; band++) scan(row, band);
    }
    for (size_t b = 0; b < tallies.size(); b++)
      if (tallied[b]) foldTally(&hist[b], &tallies[b]);
  }
  for (int b = 0; b < nbands; b++) hist[b].done = 1;
  return hist;
}

/*
 * ramImageBandStats --
 *     Mean, standard deviation and extremes of one band (each output may
 *     be null).  For a palette image with a histogram, band 0, 1 or 2
 *     (modulo 3) names a colour component, weighted by the histogram of
 *     the indexes.
 * Results:      1, or 0 when the statistics cannot be computed.
 */
int ramImageBandStats(RAMIMG *image, int band, double *stdOut, double *meanOut, double *minOut,
                      double *maxOut) {
  BandHist *hist = ramImageHist(image, kHistCached, 1, 1);
  if (!hist) return 0;
  const ImageHeader &h = image->header;
  double mean, std, lo, hi;
  if (h.nindices < 1 || !hist[0].bins || band < 0) {
    BandHist *one = &hist[std::max(band, 0) % h.nbands];
    calcHistMeanStd(one);
    mean = one->mean;
    std = one->std;
    lo = one->min;
    hi = one->max;
  } else {
    const int c = band % 3;
    const BandHist &indexes = hist[0];
    double sum = 0, sumSq = 0;
    lo = HUGE_VAL;
    hi = -HUGE_VAL;
    for (int i = 0; i < indexes.binCount; i++) {
      const double f = h.palette[i][c];
      sum += indexes.bins[i] * f;
      sumSq += indexes.bins[i] * f * f;
      lo = std::min(lo, f);
      hi = std::max(hi, f);
    }
    mean = indexes.count > 0 ? sum / indexes.count : 0;
    const double variance = indexes.count > 0 ? sumSq / indexes.count - mean * mean : 0;
    std = variance > 0 ? sqrt(variance) : 0;
  }
  if (stdOut) *stdOut = std;
  if (meanOut) *meanOut = mean;
  if (minOut) *minOut = lo;
  if (maxOut) *maxOut = hi;
  return 1;
}

/*
 * ramImageHistWithMask --
 *     Statistics of every band over the pixels where band 0 of a mask
 *     image is non-zero (the mask read over the image's columns: columns
 *     and rows beyond the mask count as 0), every rowStep-th row and
 *     columnStep-th column.
 * Results:      a new array, which with keep becomes the image's cached
 *     one (the old one is dropped first); null on failure.
 */
BandHist *ramImageHistWithMask(RAMIMG *image, RAMIMG *mask, int columnStep, int rowStep,
                               int keep) {
  if (!mask) return nullptr;
  if (keep) freeImageStats(image);
  BandHist *hist = newImageHist(image);
  if (!hist) return nullptr;
  const ImageHeader &h = image->header;
  const int64_t columns = h.columns;
  const int cs = std::max(columnStep, 1), rs = std::max(rowStep, 1);
  static std::vector<unsigned char> maskRow, byteRow;
  static std::vector<float> floatRow;
  const bool floats = readsFloats(image);
  unsigned char *m = rowBuffer(maskRow, columns);
  unsigned char *bytes = rowBuffer(byteRow, columns);
  float *values = floats ? rowBuffer(floatRow, columns) : nullptr;
  if (!m || !bytes || (floats && !values)) {
    vesk_fprintf(stderr, "Error in ramImageHistWithMask - malloc...\n");
    freeHist(hist, h.nbands);
    return nullptr;
  }
  for (int row = 0; row < h.rows; row += rs) {
    getByteBILData(mask, row, 0, h.columns, 0, m);
    bool any = false;
    for (int64_t x = 0; x < columns && !any; x += cs) any = m[x] != 0;
    if (!any) continue;
    for (int band = 0; band < h.nbands; band++) {
      if (hist[band].done) continue;
      int n = 0;
      if (floats) {
        getFloatBILData(image, row, 0, h.columns, band, values);
        for (int64_t x = 0; x < columns; x += cs)  // gathered in place: n <= x
          if (m[x]) values[n++] = values[x];
        accumulateHist(&hist[band], P_FLOAT, n, 1, reinterpret_cast<unsigned char *>(values), 0);
      } else {
        getByteBILData(image, row, 0, h.columns, band, bytes);
        for (int64_t x = 0; x < columns; x += cs)
          if (m[x]) bytes[n++] = bytes[x];
        accumulateHist(&hist[band], P_BYTE, n, 1, bytes, 0);
      }
    }
  }
  for (int b = 0; b < h.nbands; b++) hist[b].done = 1;
  if (keep) image->hist = hist;
  return hist;
}

/*
 * ramImageHistWithROI --
 *     Statistics of every band over the pixels of a span set (pairs
 *     (x0, y), (x1, y) covering columns x0 to x1 - 1 of row y), each span
 *     clipped to the image.
 * Results:      a new array, which with keep becomes the image's cached
 *     one (the old one is dropped first); null on failure or when the
 *     spans cover no pixel of the image.
 */
BandHist *ramImageHistWithROI(RAMIMG *image, const PointList *spans, int keep) {
  if (keep) freeImageStats(image);
  BandHist *hist = newImageHist(image);
  if (!hist) return nullptr;
  const ImageHeader &h = image->header;
  static std::vector<unsigned char> byteRow;
  static std::vector<float> floatRow;
  const bool floats = readsFloats(image);
  bool covered = false;
  for (int i = 0; spans && i + 1 < spans->count; i += 2) {
    const RoiPoint a = spans->points[i], b = spans->points[i + 1];
    if (a.y < 0 || a.y >= h.rows || a.x >= h.columns || b.x <= 0) continue;
    const int from = std::max(a.x, 0), to = std::min(b.x, h.columns);
    if (to <= from) continue;
    const int n = to - from;
    void *buffer = floats ? static_cast<void *>(rowBuffer(floatRow, n))
                          : static_cast<void *>(rowBuffer(byteRow, n));
    if (!buffer) {
      vesk_fprintf(stderr, "Error in ramImageHistWithROI - malloc...\n");
      freeHist(hist, h.nbands);
      return nullptr;
    }
    covered = true;
    for (int band = 0; band < h.nbands; band++) {
      if (hist[band].done) continue;
      if (floats) getFloatBILData(image, a.y, from, n, band, static_cast<float *>(buffer));
      else getByteBILData(image, a.y, from, n, band, static_cast<unsigned char *>(buffer));
      accumulateHist(&hist[band], floats ? P_FLOAT : P_BYTE, n, 1,
                     static_cast<unsigned char *>(buffer), 0);
    }
  }
  for (int b = 0; b < h.nbands; b++) hist[b].done = 1;
  if (!covered) {
    freeHist(hist, h.nbands);
    return nullptr;
  }
  if (keep) image->hist = hist;
  return hist;
}

}  // namespace vesk
