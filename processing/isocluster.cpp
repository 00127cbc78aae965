/*
 * isocluster.cpp --
 *     The "gisoc" module of rimage: unsupervised classification by
 *     iterative nearest-mean clustering that makes classes on the fly
 *     (a pixel farther than D from every class starts one), drops classes
 *     that lose all their pixels and moves means on by half their last
 *     change while the classes are stable.  It runs over sampled pixels
 *     of the image, over the pixel table of a BYTE image (each distinct
 *     colour once, weighted by its count) or over the palette colours of
 *     a palette image, then writes the class of every pixel into a band
 *     of the output, colours the output's palette and keeps the classes
 *     in an ISOFEATU feature file.
 */
#include "processing/isocluster.h"

#include <ctype.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <algorithm>
#include <new>

#include "core/core.h"
#include "core/options.h"
#include "core/text.h"
#include "core/threads.h"
#include "processing/rimage.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "raster/sniffer.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Rows of gisocOptions. */
enum {
  GI_IN, GI_OUT, GI_B, GI_NC, GI_CV, GI_D, GI_NR, GI_SK, GI_PT, GI_F, GI_S, GI_INI, GI_IR,
  GI_IC, GI_R, GI_C, GI_OB, GI_OR, GI_OC, GI_V, GI_IMGID, GI_OPTION_COUNT
};

const ModuleOption gisocOptions[] = {
    {"-in", nullptr},  {"-out", nullptr}, {"-b", nullptr},  {"-nc", nullptr},
    {"-cv", nullptr},  {"-d", nullptr},   {"-nr", nullptr}, {"-sk", nullptr},
    {"-pt", nullptr},  {"-f", nullptr},   {"-s", nullptr},  {"-ini", nullptr},
    {"-ir", nullptr},  {"-ic", nullptr},  {"-r", nullptr},  {"-c", nullptr},
    {"-ob", nullptr},  {"-or", nullptr},  {"-oc", nullptr}, {"-v", nullptr},
    {"-imgid", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof gisocOptions / sizeof gisocOptions[0] == GI_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const gisocUsage[] = {
    "    where\n",
    "    IN         input rimage;\n",
    "    OUT        output rimage;\n",
    "    BND        band numbers (b1,b2,...);\n",
    "    NC         number of classes requested (def: 128);\n",
    "    D          excluding distance (sqrt(nbands/nc));\n",
    "    CV         convergence value (0.05);\n",
    "    NR         number of iteration (10);\n",
    "    SK         skip factor for sampling (2);\n",
    "    PT         pixel table;\n",
    "    FTR        feature file name (iso.ftr);\n",
    "    SO         sorting order (b1,b2,....);\n",
    "    INI        initialization method (FIRST, EQ, POP, SB).\n",
    "    IR         input start row\n",
    "    IC         input start column\n",
    "    R          input rows\n",
    "    C          input columns\n",
    "    OB         output band\n",
    "    OR         output start row\n",
    "    OC         output start column\n",
    "    VB         verbose: y or n (n)\n",
    "    IMGID      output image id\n",
};

/* ---- the feature set ---- */

/* The classes as an ISOFEATU set, with the run's extra head. */
FeatureSet *isoMakeFeature(const IsoWork *w) {
  const int n = w->n;
  FeatureSet *set = newFeature(kIsoTag, w->bands.data(), n, 16 * n + 12, w->nc, nullptr,
                               kIsoExtraSize);
  if (!set) return nullptr;
  for (int k = 0; k < w->nc; k++) {
    const IsoClass &c = w->classes[k];
    unsigned char *p = getFeatureItem(set, k);
    putU32(p, static_cast<uint32_t>(c.count), false);
    putU32(p + 4, static_cast<uint32_t>(c.current), false);
    putF32(p + 8, c.srmd2, false);
    for (int b = 0; b < n; b++) {
      putF32(p + 12 + 16 * b, c.mean[b], false);
      putF32(p + 16 + 16 * b, c.dmean[b], false);
      putF64(p + 20 + 16 * b, c.sum[b], false);
    }
  }
  unsigned char *x = getFeatureExtra(set);
  putF64(x, w->rms, false);
  putF64(x + 8, w->D, false);
  putU32(x + 16, static_cast<uint32_t>(std::min<long>(w->total, INT32_MAX)), false);
  putU32(x + 20, static_cast<uint32_t>(w->nc), false);
  memset(x + 24, 0, kIsoSourceSize);
  memcpy(x + 24, w->source.data(), std::min<size_t>(w->source.size(), kIsoSourceSize - 1));
  return set;
}

/* Writes the classes to the feature path; putFeature reports a failure. */
void isoWriteFeature(IsoWork *w) {
  FeatureSet *set = isoMakeFeature(w);
  if (set) putFeature(w->featurePath.c_str(), set);
  freeFeature(set);
}

/* The classes of an ISOFEATU set. */
void isoReadFeature(IsoWork *w, FeatureSet *set) {
  const int n = getFeatureInfo(set, 4);
  const int count = getFeatureInfo(set, 1);
  w->classes.assign(static_cast<size_t>(count), IsoClass());
  for (int k = 0; k < count; k++) {
    const unsigned char *p = getFeatureItem(set, k);
    IsoClass &c = w->classes[k];
    std::vector<float> mean(static_cast<size_t>(n));
    for (int b = 0; b < n; b++) mean[b] = getF32(p + 12 + 16 * b, false);
    isoSetClass(&c, n, mean.data(), getI32(p, false));
    c.srmd2 = getF32(p + 8, false);
    for (int b = 0; b < n; b++) c.dmean[b] = getF32(p + 16 + 16 * b, false);
  }
  w->nc = count;
}

/* ---- passes ---- */

double elapsedSeconds(time_t start) { return difftime(time(nullptr), start); }

/* Progress inside a pass: every tenth of the steps. */
struct IsoProgress {
  IsoWork *w;
  long every;
  long done = 0;
  int tenths = 0;
  float fraction;
  IsoProgress(IsoWork *work, long steps) : w(work), fraction(work->meterFraction) {
    every = std::max<long>(1, roundToInt(static_cast<double>(steps) * 0.1));
  }
  void step(const char *format) {
    if (++done % every != 0) return;
    tenths++;
    if (w->verbose) vesk_printf(format, static_cast<long>(tenths * 10));
    fraction += 0.1f / static_cast<float>(w->nr + 9);
    meterSet("gisoc", fraction);
  }
  void finish() {
    w->meterFraction += 1.0f / static_cast<float>(w->nr + 9);
    meterSet("gisoc", w->meterFraction);
  }
};

/* search(first, end) over samples 0 .. count - 1 on the pool, in pieces worth a thread's searches. */
template <typename Search>
void isoSearchPieces(const IsoWork *w, int count, const Search &search) {
  const int piece = std::max(1, rowGrain(static_cast<long long>(w->n) * std::max(w->nc, 1)));
  parallelFor((count + piece - 1) / piece, [&](int i) {
    const int first = i * piece;
    search(first, std::min(count, first + piece));
  });
}

/* Searches of count vectors (n floats each) on the pool, among the classes as they stand. */
void isoSearchAll(const IsoWork *w, const float *x, int count, int16_t *found, float *distance) {
  isoSearchPieces(w, count, [&](int first, int end) {
    isoSearchBlock(w, x + static_cast<size_t>(first) * w->n, end - first, found + first,
                   distance + first);
  });
}

/*
 * isoNearestAhead --
 *     isoNearest of x, given what its search among the first `classes`
 *     classes found before the pass came to it: the classes made since in
 *     the pass (the last ones) are scanned here in class order, and a
 *     vector that makes a class, or found none, goes through isoNearest.
 * Results:      the class, x added to it.
 */
int isoNearestAhead(IsoWork *w, const float *x, int found, float distance, int classes) {
  if (found >= 0 && classes < w->nc) {
    const int n = w->n;
    const float nearD = static_cast<float>(w->nearD);
    float key = distance < nearD ? -1.0f : distance;
    for (int k = classes; k < w->nc; k++) {
      float sum = 0;
      for (int b = 0; b < n; b++) {
        const float xs = x[b] * w->invScale[b];
        const float t = xs - w->scaled[static_cast<size_t>(b) * kIsoMeanStride + k];
        sum += t * t;
      }
      const float keyK = sum < nearD ? -1.0f : sum;
      if (keyK < key) {
        key = keyK;
        found = k;
        distance = sum;
      }
    }
  }
  if (found < 0 || isoMakesClass(w, found, distance)) return isoNearest(w, x);
  isoAddSamples(w, found, x, 1);
  return found;
}

/* Whether a pass writes the row at offset. */
bool isoWritesRow(const IsoWork *w, int offset, int step, bool allowNew, bool write) {
  return ((!allowNew && step == 1) || write) && offset < w->orows;
}

/* The classes of a pass's rows (count a row, from `found`) written out
   where the pass writes them, the meter stepped at each row. */
void isoWriteRows(IsoWork *w, const int16_t *found, int taken, int count, int offset, int step,
                  bool allowNew, bool write, IsoProgress &progress) {
  for (int k = 0; k < taken; k++) {
    for (int j = 0; j < count; j++)
      w->classRow[j] = static_cast<unsigned char>(found[static_cast<size_t>(k) * count + j]);
    const int offsetK = offset + k * step;
    if (isoWritesRow(w, offsetK, step, allowNew, write))
      putByteBILData(w->out, w->orow + offsetK, w->ocol, std::min(count, w->ocols), w->outBand,
                     w->classRow.data());
    progress.step("  %3ld percent done...\n");
  }
}

/*
 * isoSumByClass --
 *     Samples 0 .. stop - 1 (n values each from x, their classes in found)
 *     added to their classes' sums and counts one after another, as
 *     isoAddSamples adds them.  Classes is the class count.  (The sums of
 *     float samples depend on their order; on the pool they only wait on
 *     the memory, so they stay on this thread.)
 */
template <typename T>
void isoSumByClass(IsoWork *w, const T *x, const int16_t *found, int stop, int classes) {
  const int n = w->n;
  if (stop <= 0 || classes <= 0) return;
  std::vector<double *> sums(static_cast<size_t>(classes));
  for (int k = 0; k < classes; k++) sums[k] = w->classes[k].sum.data();
  std::vector<int64_t> counts(static_cast<size_t>(classes), 0);
  for (int j = 0; j < stop; j++) {
    const int k = found[j];
    double *sum = sums[k];
    const T *v = x + static_cast<size_t>(j) * n;
    for (int b = 0; b < n; b++) sum[b] += v[b];
    counts[k]++;
  }
  for (int k = 0; k < classes; k++) {
    IsoClass &c = w->classes[k];
    c.current = static_cast<int32_t>(std::min<int64_t>(int64_t{c.current} + counts[k], INT32_MAX));
  }
}

/*
 * isoSumBytesByClass --
 *     isoSumByClass of byte samples.  While every class sum is a whole
 *     number below 2^52, the sums stay whole and exact in a double in any
 *     order of the additions, so blocks of samples are summed on the pool,
 *     each into its own whole totals, then added to the classes.
 */
void isoSumBytesByClass(IsoWork *w, const unsigned char *x, const int16_t *found, int stop,
                        int classes) {
  const int n = w->n;
  constexpr double whole = 4503599627370496.0;  // 2^52
  bool exact = static_cast<int64_t>(stop) * 255 < (int64_t{1} << 40);
  for (int k = 0; k < classes && exact; k++)
    for (double v : w->classes[k].sum) exact = exact && fabs(v) < whole && v == floor(v);
  if (!exact || stop < (1 << 14)) {
    isoSumByClass(w, x, found, stop, classes);
    return;
  }
  const int piece = std::max(1 << 14, rowGrain(n));
  const int pieces = (stop + piece - 1) / piece;
  const size_t width = static_cast<size_t>(n) + 1;
  std::vector<int64_t> totals(static_cast<size_t>(pieces) * classes * width, 0);
  parallelFor(pieces, [&](int i) {
    int64_t *t = totals.data() + static_cast<size_t>(i) * classes * width;
    const int end = std::min(stop, (i + 1) * piece);
    for (int j = i * piece; j < end; j++) {
      int64_t *c = t + static_cast<size_t>(found[j]) * width;
      const unsigned char *v = x + static_cast<size_t>(j) * n;
      for (int b = 0; b < n; b++) c[b] += v[b];
      c[n]++;
    }
  });
  for (int k = 0; k < classes; k++) {
    IsoClass &c = w->classes[k];
    int64_t samples = 0;
    for (int i = 0; i < pieces; i++) {
      const int64_t *t = totals.data() + (static_cast<size_t>(i) * classes + k) * width;
      for (int b = 0; b < n; b++) c.sum[b] += static_cast<double>(t[b]);
      samples += t[n];
    }
    c.current = static_cast<int32_t>(std::min<int64_t>(int64_t{c.current} + samples, INT32_MAX));
  }
}

/* The first of count searches whose answer makes a class or is none (isoMakesClass), or count. */
int isoFirstStop(const IsoWork *w, const int16_t *found, const float *distance, int count) {
  constexpr int piece = 1 << 15;
  const int pieces = (count + piece - 1) / piece;
  std::vector<int> stops(static_cast<size_t>(pieces));
  parallelFor(pieces, [&](int i) {
    const int end = std::min(count, (i + 1) * piece);
    int j = i * piece;
    while (j < end && found[j] >= 0 && !isoMakesClass(w, found[j], distance[j])) j++;
    stops[i] = j;
  });
  for (int i = 0; i < pieces; i++)
    if (stops[i] < std::min(count, (i + 1) * piece)) return stops[i];
  return count;
}

/*
 * isoPassTableRows --
 *     Sampled rows of the window from offset on (at most `rows` of them)
 *     in table mode: a pixel takes its entry's class when the entry has
 *     one, else the nearest class, which the entry keeps.  The first
 *     pixel of every entry without a class (and every pixel without an
 *     entry) is searched ahead on the worker pool.  The pixels before the
 *     first of those that makes a class (or finds none) then take their
 *     classes side by side and are summed (isoSumBytesByClass); from that
 *     pixel on they are taken one after another.
 * Results:      the sampled rows done.
 */
int isoPassTableRows(IsoWork *w, int offset, int step, int rows, bool allowNew, bool write,
                     IsoRound &r, IsoProgress &progress) {
  const int count = (w->c + step - 1) / step;
  const int n = w->n;
  const size_t stride = static_cast<size_t>(count) * n;
  int taken = 0;
  for (int at = offset; at < w->r && taken < rows; at += step) taken++;
  const int total = taken * count;
  for (int k = 0; k < taken; k++) {
    const int row = w->ir + offset + k * step;
    getByteBIPData(w->in, row, w->ic, w->c, step, n, w->bands.data(), r.bytes.data() + k * stride);
    int32_t *e = r.entries.data() + static_cast<size_t>(k) * count;
    if (w->entryOf.empty()) {
      for (int j = 0; j < count; j++)
        e[j] = findPTableEntry(w->table, r.bytes.data() + k * stride + static_cast<size_t>(j) * n);
    } else {
      const int32_t *map = w->entryOf.data() + static_cast<int64_t>(row) * w->in->header.columns + w->ic;
      for (int j = 0; j < count; j++) e[j] = map[static_cast<int64_t>(j) * step];
    }
  }
  // The class of every pixel's entry as the round starts (the class table
  // is read at random: fetched early).
  constexpr int ahead = 16;
  parallelRows(total, rowGrain(8), [&](int first, int end) {
    for (int j = first; j < end; j++) {
      if (j + ahead < end && r.entries[j + ahead] >= 0)
        __builtin_prefetch(&w->classTable[r.entries[j + ahead]]);
      const int32_t e = r.entries[j];
      r.known[j] = e >= 0 ? w->classTable[e] : -1;
    }
  });
  // The pixels to search: the first pixel of each entry without a class
  // (the least its entry's owner slot is given, side by side) and every
  // pixel without an entry.  items lists them; known holds -2 - s for the
  // pixel of search s, -1 for a later pixel of its entry.
  int32_t *owner = r.owner.data();
  parallelRows(total, rowGrain(8), [&](int first, int end) {
    for (int j = first; j < end; j++) {
      const int32_t e = r.entries[j];
      if (r.known[j] >= 0 || e < 0) continue;
      int32_t least = __atomic_load_n(&owner[e], __ATOMIC_RELAXED);
      while (j < least && !__atomic_compare_exchange_n(&owner[e], &least, j, true, __ATOMIC_RELAXED,
                                                       __ATOMIC_RELAXED)) {
      }
    }
  });
  parallelRows(total, rowGrain(8), [&](int first, int end) {
    for (int j = first; j < end; j++) {
      const int32_t e = r.entries[j];
      if (r.known[j] < 0) r.known[j] = e < 0 || owner[e] == j ? -2 : -1;
    }
  });
  int searches = 0;
  for (int j = 0; j < total; j++)
    if (r.known[j] == -2) {
      r.known[j] = -2 - searches;
      r.items[searches++] = j;
    }
  parallelRows(searches, rowGrain(8), [&](int first, int end) {
    for (int s = first; s < end; s++) {
      const int j = r.items[s];
      const unsigned char *v = r.bytes.data() + static_cast<size_t>(j) * n;
      float *x = r.pixels.data() + static_cast<size_t>(s) * n;
      for (int b = 0; b < n; b++) x[b] = v[b];
      if (r.entries[j] >= 0) owner[r.entries[j]] = INT32_MAX;
    }
  });
  const int classes = w->nc;
  isoSearchAll(w, r.pixels.data(), searches, r.found.data(), r.distances.data());
  const int stopItem = isoFirstStop(w, r.found.data(), r.distances.data(), searches);
  const int stop = stopItem < searches ? r.items[stopItem] : total;
  // Before the stop the classes stand as they were searched.
  parallelRows(stopItem, rowGrain(8), [&](int first, int end) {
    for (int s = first; s < end; s++) {
      const int32_t e = r.entries[r.items[s]];
      if (e >= 0) w->classTable[e] = r.found[s];
    }
  });
  parallelRows(stop, rowGrain(8), [&](int first, int end) {
    for (int j = first; j < end; j++) {
      if (j + ahead < end && r.known[j + ahead] == -1)
        __builtin_prefetch(&w->classTable[r.entries[j + ahead]]);
      const int32_t known = r.known[j];
      r.classOf[j] = static_cast<int16_t>(known >= 0    ? known
                                          : known == -1 ? w->classTable[r.entries[j]]
                                                        : r.found[-2 - known]);
    }
  });
  // Every pixel with an entry is a hit; those whose entry had its class are found.
  long entries = 0;
  for (int j = 0; j < total; j++) entries += r.entries[j] >= 0;
  long searched = 0;
  for (int s = 0; s < searches; s++) searched += r.entries[r.items[s]] >= 0;
  w->hit += entries;
  w->find += entries - searched;
  isoSumBytesByClass(w, r.bytes.data(), r.classOf.data(), stop, classes);
  float *x = w->pixels.data();
  for (int j = stop; j < total; j++) {
    const unsigned char *v = r.bytes.data() + static_cast<size_t>(j) * n;
    for (int b = 0; b < n; b++) x[b] = v[b];
    const int32_t e = r.entries[j];
    const int32_t known = r.known[j];
    int cls;
    if (known >= -1) {
      // The entry's class: known when the round started (a new class takes
      // entries nearer to it when it reassigns), or found by its first pixel.
      cls = known >= 0 && !(w->reassign && w->nc != classes) ? known : w->classTable[e];
      isoAddSamples(w, cls, x, 1);
    } else {
      const int s = -2 - known;
      cls = isoNearestAhead(w, x, r.found[s], r.distances[s], classes);
      if (e >= 0) w->classTable[e] = static_cast<int16_t>(cls);
    }
    r.classOf[j] = static_cast<int16_t>(cls);
  }
  isoWriteRows(w, r.classOf.data(), taken, count, offset, step, allowNew, write, progress);
  return taken;
}

/*
 * isoPassRows --
 *     Sampled rows of the window from offset on (at most `rows` of them),
 *     read on this thread, their classes searched on the worker pool
 *     among the classes as they stand (the samples that keep bounds
 *     skipping the search where the bound proves the class), then added
 *     to their classes' sums in pixel order.  From the first pixel that
 *     makes a class on, the pixels are taken one after another, the
 *     classes made since their search scanned then (isoNearestAhead).
 * Results:      the sampled rows done.
 */
int isoPassRows(IsoWork *w, int offset, int step, int rows, bool allowNew, bool write,
                IsoRound &r, IsoProgress &progress) {
  std::vector<float> &pixels = r.pixels;
  std::vector<int16_t> &found = r.found;
  std::vector<float> &distances = r.distances;
  const int count = (w->c + step - 1) / step;
  const int n = w->n;
  const size_t stride = static_cast<size_t>(count) * n;
  int taken = 0;
  for (int at = offset; at < w->r && taken < rows; at += step) taken++;
  for (int k = 0; k < taken; k++)
    getFloatBIPData(w->in, w->ir + offset + k * step, w->ic, w->c, step, n, w->bands.data(),
                    pixels.data() + k * stride);
  const int classes = w->nc;
  const int total = taken * count;
  // The samples of the pass up to kIsoBoundSamples keep bounds.
  const int64_t base = static_cast<int64_t>(offset / step) * count;
  const int bounded = static_cast<int>(
      std::clamp<int64_t>(static_cast<int64_t>(w->bounds.lower.size()) - base, 0, total));
  isoSearchPieces(w, bounded, [&](int first, int end) {
    isoSearchBounded(w, pixels.data() + static_cast<size_t>(first) * n, end - first,
                     &found[first], &distances[first], &w->bounds.classOf[base + first],
                     &w->bounds.lower[base + first]);
  });
  isoSearchAll(w, pixels.data() + static_cast<size_t>(bounded) * n, total - bounded,
               found.data() + bounded, distances.data() + bounded);
  // The pixels before the first that makes a class (or finds none) join
  // the classes they found; from that pixel on, the pixels are taken one
  // after another.
  const int stop = isoFirstStop(w, found.data(), distances.data(), total);
  isoSumByClass(w, pixels.data(), found.data(), stop, classes);
  for (int j = stop; j < total; j++)
    found[j] = static_cast<int16_t>(
        isoNearestAhead(w, pixels.data() + static_cast<size_t>(j) * n, found[j], distances[j], classes));
  isoWriteRows(w, found.data(), taken, count, offset, step, allowNew, write, progress);
  return taken;
}

/* isoSetPalette -- the output's palette from the class means in the sort order. */
void isoSetPalette(IsoWork *w) {
  int bands[3] = {0, 0, 0};
  const int p = std::min(w->n, 3);
  for (int j = 0; j < p; j++) bands[j] = w->bands[w->sortOrder[j]];
  writeClassPalette(w->in, w->out, bands, p, w->nc, !w->palette && !readsAsBytes(w->in->header),
                    [w](int k, int j) { return w->classes[k].mean[w->sortOrder[j]]; });
}

/* isoTableClassify -- one pass over the pixel table, each colour weighted by its count. */
void isoTableClassify(IsoWork *w) {
  const bool allowNew = w->allowNew, reassign = w->reassign;
  w->allowNew = true;
  w->reassign = false;
  w->pass++;
  w->hit = w->find = 0;
  time_t start = time(nullptr);
  const PTABLE *t = w->table;
  const int n = w->n;
  IsoProgress progress(w, t->count);
  isoSyncMeans(w);
  // Rounds of entries: their searches on the pool among the classes as
  // they stand, then the entries in order (isoNearestAhead).
  const int32_t round = 1 << 16;
  IsoRound &r = w->round;
  r.pixels.resize(static_cast<size_t>(round) * n);
  r.found.resize(round);
  r.distances.resize(round);
  for (int32_t first = 0; first < t->count; first += round) {
    const int count = std::min(round, t->count - first);
    for (int i = 0; i < count; i++) {
      const unsigned char *v = t->vector(first + i);
      for (int b = 0; b < n; b++) r.pixels[static_cast<size_t>(i) * n + b] = v[b];
    }
    const int classes = w->nc;
    isoSearchAll(w, r.pixels.data(), count, r.found.data(), r.distances.data());
    for (int i = 0; i < count; i++) {
      const float *x = r.pixels.data() + static_cast<size_t>(i) * n;
      const int k = isoNearestAhead(w, x, r.found[i], r.distances[i], classes);
      w->classTable[first + i] = static_cast<int16_t>(k);
      const uint32_t times = std::max<uint32_t>(t->values[first + i], 1u);
      isoAddSamples(w, k, x, static_cast<double>(times - 1));
      progress.step("  %3ld percent done...\n");
    }
  }
  progress.finish();
  w->stability = isoUpdateClasses(w);
  isoSpeed(w);
  if (w->verbose) isoPrintClasses(w, 1);
  isoWriteFeature(w);
  w->allowNew = allowNew;
  w->reassign = reassign;
  if (w->verbose) {
    vesk_printf("isoTableClassify...\n");
    vesk_printf("ir %2d dt %4ld wcv %5.3f cv %5.3f RMS %7.4f cvRMS %7.4f\n", w->pass,
                static_cast<long>(elapsedSeconds(start)), w->wcv, w->stability, w->rms, w->cv);
    vesk_printf("nc %d ncMax %d DIS %.4f nTuples: %d total: %d\n", w->nc, w->ncMax, w->D,
                t->count, static_cast<int>(std::min<long>(w->total, INT32_MAX)));
  }
  isoSetPalette(w);
}

void isoTableIterations(IsoWork *w) {
  for (int i = 0; i < w->nr && w->rms > w->cv; i++) {
    if (w->verbose) vesk_printf("Iteration # %d\n", i + 1);
    isoTableClassify(w);
  }
}

void isoRunIterations(IsoWork *w, int step, bool allowNew) {
  for (int i = 0; i < w->nr && w->rms > w->cv; i++) {
    if (w->verbose) vesk_printf("Iteration # %d updateFlag %d\n", i, 0);
    isoImageClassify(w, step, allowNew, false);
  }
}

/*
 * isoPaletteClassify --
 *     Clusters the palette colours, each weighted by its pixels, until the
 *     classes settle (at most kIsoMaxConvergePasses passes), then maps
 *     the window's indices to their classes.
 */
void isoPaletteClassify(IsoWork *w) {
  BandHist *hist = ramImageHist(w->in, kHistCached, 1, 1);
  const ImageHeader &h = w->in->header;
  const int entries = hist && hist[0].bins ? std::min(h.nindices, hist[0].binCount) : 0;
  std::vector<int> indexClass(256, 0);
  w->allowNew = true;
  float x[3];
  for (int pass = 1; pass <= kIsoMaxConvergePasses && entries > 0; pass++) {
    isoSyncMeans(w);
    for (int i = 0; i < entries; i++) {
      const int pixels = hist[0].bins[i];
      if (pixels <= 0) continue;
      for (int j = 0; j < 3; j++) x[j] = h.palette[i][j];
      const int k = isoNearest(w, x);
      isoAddSamples(w, k, x, pixels - 1.0);
      indexClass[i] = k;
    }
    w->stability = isoUpdateClasses(w);
    if (w->verbose)
      vesk_printf("itr: %3d nc: %d rms: %7.4f total: %d\n", pass, w->nc, w->rms,
                  static_cast<int>(std::min<long>(w->total, INT32_MAX)));
    if (w->rms <= w->cv) break;
  }
  /* Class numbers shift as empty classes go: map each colour to its class once more. */
  w->allowNew = false;
  isoSyncMeans(w);
  std::vector<IsoClass> kept = w->classes;
  for (int i = 0; i < entries; i++) {
    if (hist[0].bins[i] <= 0) continue;
    for (int j = 0; j < 3; j++) x[j] = h.palette[i][j];
    indexClass[i] = isoNearest(w, x);
  }
  w->classes = kept;
  std::vector<unsigned char> raw(static_cast<size_t>(w->c));
  const int rows = std::min(w->r, w->orows);
  const int count = std::min(w->c, w->ocols);
  for (int i = 0; i < rows; i++) {
    getByteBILData(w->in, w->ir + i, w->ic, w->c, 0, raw.data());
    for (int j = 0; j < w->c; j++) w->classRow[j] = static_cast<unsigned char>(indexClass[raw[j]]);
    putByteBILData(w->out, w->orow + i, w->ocol, count, w->outBand, w->classRow.data());
  }
  isoSetPalette(w);
}

/* runGisoc -- iterations, the final pass and the notices. */
void runGisoc(IsoWork *w) {
  if (w->palette) {
    isoPaletteClassify(w);
  } else {
    w->pass = 0;
    if (w->tableMode() &&
        static_cast<int64_t>(w->r) * w->c / w->sk / w->sk >= w->table->count)
      isoTableIterations(w);
    else
      isoRunIterations(w, w->sk, true);
    vesk_printf("Final...\n");
    w->keepEmpty = true;
    isoImageClassify(w, 1, false, true);
    isoWriteFeature(w);
    if (w->verbose) isoPrintClasses(w, 0);
    vesk_printf("Total number of iterations: %d\n", w->pass - 1);
  }
  if (w->out->hist) resetBandHist(w->out->hist, w->outBand);
  updateClient(w->out, nullptr, 1);
  meterReset();
}

/* ---- parsing ---- */

/* Ends a failed parse with the message; what the work holds is released by its owner. */
int gisocFailure(const char *message) {
  vesk_fprintf(stderr, "%s", message);
  return 0;
}

/* The sort order: 1-based positions separated by "," or "/"; negative items take the next free. */
int parseSortOrder(IsoWork *w, const char *text) {
  const int n = w->n;
  std::vector<char> taken(static_cast<size_t>(n), 0);
  std::vector<long> items;
  if (text) {
    const char *p = text;
    while (*p) {
      char *end;
      long v = strtol(p, &end, 10);
      if (end == p) break;
      items.push_back(v);
      p = end;
      while (*p == ',' || *p == '/' || *p == ' ') p++;
    }
  }
  w->sortOrder.clear();
  for (long v : items) {
    if (static_cast<int>(w->sortOrder.size()) >= n) break;
    if (v < 0) {
      int free = 0;
      while (free < n && taken[free]) free++;
      v = free + 1;
    }
    if (v < 1 || v > n) {
      vesk_fprintf(stderr, "Sorting variable is out of range: 1 - %d.\n", n);
      return 0;
    }
    if (taken[v - 1]) {
      vesk_fprintf(stderr, "Duplicated use of sorting variable.\n");
      return 0;
    }
    taken[v - 1] = 1;
    w->sortOrder.push_back(static_cast<int>(v - 1));
  }
  for (int i = 0; i < n; i++)
    if (!taken[i]) w->sortOrder.push_back(i);
  return 1;
}

/* An integer option: atol of the word, the default when absent. */
long longOption(const char *word, long fallback) { return word ? atol(word) : fallback; }

/*
 * parseGisocOptions --
 *     Fills the work record; prints the first fault.
 * Results: 1, or 0 (the caller releases what was opened).
 */
int parseGisocOptions(IsoWork *w, int argc, const char **argv) {
  ModuleOption o[GI_OPTION_COUNT + 1];
  std::copy(std::begin(gisocOptions), std::end(gisocOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_printf("Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  w->verbose = o[GI_V].value && compareNoCase(o[GI_V].value, "y") == 0;

  FeatureSet *features = nullptr;
  struct FeatureHolder {
    FeatureSet *&set;
    ~FeatureHolder() { freeFeature(set); }
  } holder{features};
  if (o[GI_F].value) {
    w->featurePath = o[GI_F].value;
    features = getFeature(o[GI_F].value, kIsoTag);
    if (!features) return gisocFailure("Error in opening ISOFEATURES.\n");
    if (argc == 2) return 0;
    const int nb = getFeatureInfo(features, 4);
    w->bands.resize(static_cast<size_t>(nb));
    for (int i = 0; i < nb; i++) w->bands[i] = getFeatureBand(features, i);
  }

  if (!o[GI_IN].value) return gisocFailure("Input image file missing!\n");
  int err = 0;
  w->in = openRAMImage(o[GI_IN].value, o[GI_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open:%s\n", o[GI_IN].value);
    printRAMImageError(err);
    return 0;
  }
  w->source = o[GI_IN].value;
  if (!o[GI_OUT].value) return gisocFailure("Missing output image file!\n");
  if (strcmp(o[GI_OUT].value, o[GI_IN].value) == 0) return gisocFailure("Illegal output file.\n");
  w->out = openClassOutput(w->in, o[GI_OUT].value, o[GI_IMGID].value);
  if (!w->out) return 0;
  const ImageHeader &in = w->in->header;
  const ImageHeader &out = w->out->header;

  w->outBand = static_cast<int>(longOption(o[GI_OB].value, 1)) - 1;
  if (w->outBand < 0 || w->outBand >= out.nbands) return gisocFailure("output band out of range.\n");

  w->palette = in.nindices > 0 && in.nbands == 1;
  const char *b = o[GI_B].value;
  const bool bandWords = b && isdigit(static_cast<unsigned char>(b[0]));
  if (bandWords && (o[GI_F].value || o[GI_PT].value)) {
    vesk_fprintf(stderr, "Band(s) will be overwritten.\n");
  } else if (bandWords) {
    std::vector<int> list(kMaxBandPairs);
    int count = parseNumberList(b, list.data(), kMaxBandPairs);
    if (count <= 0 || count > in.nbands) return gisocFailure("Illegal band number.\n");
    for (int i = 0; i < count; i++)
      if (list[i] < 1 || list[i] > in.nbands) return gisocFailure("Illegal band number.\n");
    w->bands.clear();
    for (int i = 0; i < count; i++) w->bands.push_back(list[i] - 1);
  } else if (!o[GI_F].value) {
    w->bands.clear();
    for (int i = 0; i < in.nbands; i++) w->bands.push_back(i);
  }

  if (w->palette) {
    w->bands = {0, 1, 2};
  } else {
    if (o[GI_PT].value) {
      w->table = getPTable(o[GI_PT].value);
      if (!w->table) return gisocFailure("Error in getPTable...\n");
      w->bands = w->table->bands;
    } else if (in.pixelid == P_BYTE && w->bands.size() == 3) {
      w->table = makePTable(w->in, 3, w->bands.data(), &w->entryOf);
      if (!w->table) return gisocFailure("Error in makePTable.\n");
    }
    for (int32_t band : w->bands)
      if (band < 0 || band >= in.nbands) return gisocFailure("Illegal band number.\n");
    if (w->table) {
      try {
        w->classTable.assign(static_cast<size_t>(w->table->count), -1);
      } catch (const std::bad_alloc &) {
        return gisocFailure("Error in malloc cTable.\n");
      }
      if (w->table->count == 0) w->classTable.clear();
    }
  }
  w->n = static_cast<int>(w->bands.size());
  if (w->n < 1) return gisocFailure("Illegal band number.\n");

  w->cv = o[GI_CV].value ? atof(o[GI_CV].value) : 0.05;
  if (!(w->cv >= 0 && w->cv <= 1)) return gisocFailure("Illegal convergence value.\n");
  w->ncMax = static_cast<int>(longOption(o[GI_NC].value, features ? getFeatureInfo(features, 1) : 128));
  if (w->ncMax < 1 || w->ncMax > kIsoMaxClasses)
    return gisocFailure(fmt("Number of classes out of range: 1 - %d.\n", kIsoMaxClasses));
  w->nr = static_cast<int>(std::max(0L, longOption(o[GI_NR].value, 10)));
  const long sk = longOption(o[GI_SK].value, 2);
  if (sk < 1 || sk > INT32_MAX) return gisocFailure("Illegal skip factor.\n");
  w->sk = static_cast<int>(sk);

  w->ir = static_cast<int>(longOption(o[GI_IR].value, 0));
  w->ic = static_cast<int>(longOption(o[GI_IC].value, 0));
  if (w->ir < 0 || w->ir >= in.rows) return gisocFailure("start input row out of range.\n");
  if (w->ic < 0 || w->ic >= in.columns) return gisocFailure("start input column out of range.\n");
  w->r = static_cast<int>(std::clamp<long>(longOption(o[GI_R].value, in.rows), 1, in.rows - w->ir));
  w->c = static_cast<int>(std::clamp<long>(longOption(o[GI_C].value, in.columns), 1, in.columns - w->ic));
  w->orow = static_cast<int>(longOption(o[GI_OR].value, 0));
  w->ocol = static_cast<int>(longOption(o[GI_OC].value, 0));
  if (w->orow < 0 || w->orow >= out.rows) return gisocFailure("start output row out of range.\n");
  if (w->ocol < 0 || w->ocol >= out.columns)
    return gisocFailure("start output column out of range.\n");
  w->orows = std::min(w->r, out.rows - w->orow);
  w->ocols = std::min(w->c, out.columns - w->ocol);

  if (!parseSortOrder(w, o[GI_S].value)) return 0;

  if (features) {
    if (getFeatureInfo(features, 4) != w->n) return gisocFailure("Inconsistant features with bands.\n");
    for (int i = 0; i < w->n; i++)
      if (getFeatureBand(features, i) != w->bands[i])
        return gisocFailure("Inconsistant features with bands.\n");
    if (getFeatureInfo(features, 1) > kIsoMaxClasses)
      return gisocFailure(fmt("Number of classes out of range: 1 - %d.\n", kIsoMaxClasses));
    isoReadFeature(w, features);
    w->method = ISO_FEATURES;
  } else {
    const char *ini = o[GI_INI].value ? o[GI_INI].value : "FIRST";
    if (compareNoCase(ini, "SB") == 0) w->method = ISO_SB;
    else if (compareNoCase(ini, "FIRST") == 0) w->method = ISO_FIRST;
    else if (compareNoCase(ini, "EQ") == 0) w->method = ISO_EQ;
    else if (compareNoCase(ini, "POP") == 0) w->method = ISO_POP;
    else return gisocFailure("Illegal initial class.\n");
    if (!w->tableMode() && (w->method == ISO_EQ || w->method == ISO_POP)) w->method = ISO_FIRST;
  }
  w->D = o[GI_D].value ? atof(o[GI_D].value) : -1;
  return 1;
}

void freeIsoWork(IsoWork *w) {
  if (w->in) closeRAMImage(w->in, nullptr);
  if (w->out) closeRAMImage(w->out, nullptr);
  freePTable(w->table);
  w->in = w->out = nullptr;
  w->table = nullptr;
}

}  // namespace

/* ---- passes shared with the initial methods ---- */

/* isoSetClass -- a class with these means and count, nothing under way. */
void isoSetClass(IsoClass *k, int n, const float *mean, int32_t count) {
  k->count = count;
  k->current = 0;
  k->srmd2 = 0;
  k->mean.assign(mean, mean + n);
  k->dmean.assign(static_cast<size_t>(n), 0.0f);
  k->sum.assign(static_cast<size_t>(n), 0.0);
}

/* isoAddSamples -- times more samples x in class k's sums and count. */
void isoAddSamples(IsoWork *w, int k, const float *x, double times) {
  if (times == 0) return;
  IsoClass &c = w->classes[k];
  for (int b = 0; b < w->n; b++) c.sum[b] += times * x[b];
  c.current = static_cast<int32_t>(std::clamp(c.current + times, 0.0, static_cast<double>(INT32_MAX)));
}

/*
 * isoSyncMeans --
 *     The class means scaled by the bands' deviations, band by band, as
 *     isoNearest scans them; called before every run of isoNearest once
 *     means have changed (updates, the speed step, new initial classes).
 */
void isoSyncMeans(IsoWork *w) {
  const int n = w->n;
  w->scaled.assign(static_cast<size_t>(n) * kIsoMeanStride, 0.0f);
  w->scaledX.assign(static_cast<size_t>(n), 0.0f);
  for (int b = 0; b < n; b++) {
    float *column = &w->scaled[static_cast<size_t>(b) * kIsoMeanStride];
    for (int i = 0; i < w->nc; i++) column[i] = w->classes[i].mean[b] * w->invScale[b];
  }
}

namespace {

typedef float IsoLanes __attribute__((vector_size(32)));
typedef int32_t IsoIndex __attribute__((vector_size(32)));
constexpr int kIsoLanes = 8;

/*
 * The search of one pixel, eight classes a step.  The scan in class order
 * takes the first class nearer than 0.2 D, else the first of the nearest:
 * that is the first class of the least key, the key being -1 for a class
 * nearer than 0.2 D and its distance otherwise.  Each lane keeps the
 * least key of its classes (the first of them on a tie) and the distance
 * there; the lanes then give the least key of the least class number.
 */
inline __attribute__((always_inline)) int isoSearchPixel(const float *scaled, const float *invScale,
                                                         int n, int nc, float nearD, const float *x,
                                                         float *__restrict xs, float *distance,
                                                         float *__restrict all = nullptr) {
  for (int b = 0; b < n; b++) xs[b] = x[b] * invScale[b];
  const float inf = __builtin_inff();
  const IsoLanes huge = {kIsoHuge, kIsoHuge, kIsoHuge, kIsoHuge, kIsoHuge, kIsoHuge, kIsoHuge, kIsoHuge};
  IsoLanes least = huge;
  IsoLanes key = {inf, inf, inf, inf, inf, inf, inf, inf}, at = least;
  const IsoIndex lane = {0, 1, 2, 3, 4, 5, 6, 7};
  IsoIndex index = lane + INT32_MAX - kIsoLanes;
  const IsoLanes minusOne = {-1, -1, -1, -1, -1, -1, -1, -1};
  for (int i = 0; i < nc; i += kIsoLanes) {
    IsoLanes sum = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int b = 0; b < n; b++) {
      IsoLanes m;
      memcpy(&m, scaled + static_cast<size_t>(b) * kIsoMeanStride + i, sizeof m);
      const IsoLanes t = xs[b] - m;
      sum += t * t;
    }
    const IsoIndex classes = lane + i;
    if (i + kIsoLanes > nc) {
      /* Padding columns never win. */
      const IsoIndex valid = classes < nc;
      sum = valid ? sum : huge;
      const IsoLanes k = sum < nearD ? minusOne : sum;
      const IsoIndex better = valid & (k < key);
      key = better ? k : key;
      at = better ? sum : at;
      index = better ? classes : index;
    } else {
      const IsoLanes k = sum < nearD ? minusOne : sum;
      const IsoIndex better = k < key;
      key = better ? k : key;
      at = better ? sum : at;
      index = better ? classes : index;
    }
    least = sum < least ? sum : least;
    if (all) memcpy(all + i, &sum, sizeof sum);
  }
  /* Across the lanes in three steps, each lane taking the least of two. */
  const IsoIndex steps[3] = {{4, 5, 6, 7, 0, 1, 2, 3}, {2, 3, 0, 1, 6, 7, 4, 5},
                             {1, 0, 3, 2, 5, 4, 7, 6}};
  for (const IsoIndex &step : steps) {
    const IsoLanes other = __builtin_shuffle(least, step);
    least = other < least ? other : least;
  }
  if (!(least[0] < kIsoHuge)) {
    *distance = least[0];
    return -1;
  }
  IsoLanes k = key;
  for (const IsoIndex &step : steps) {
    const IsoLanes other = __builtin_shuffle(k, step);
    k = other < k ? other : k;
  }
  IsoIndex first = key == k ? index : lane - lane + INT32_MAX;
  for (const IsoIndex &step : steps) {
    const IsoIndex other = __builtin_shuffle(first, step);
    first = other < first ? other : first;
  }
  const int bi = first[0];
  /* Lane l holds the classes l, l + 8, ... */
  *distance = at[bi & (kIsoLanes - 1)];
  return bi;
}

}  // namespace

/*
 * isoSearchBlock --
 *     isoSearch of count pixels one after another (n floats each).
 */
__attribute__((target_clones("avx2", "default")))
void isoSearchBlock(const IsoWork *w, const float *x, int count, int16_t *found,
                    float *distance) {
  const int n = w->n;
  float xs[64];
  std::vector<float> wide;
  float *row = xs;
  if (n > 64) {
    wide.resize(static_cast<size_t>(n));
    row = wide.data();
  }
  const float nearD = static_cast<float>(w->nearD);
  for (int j = 0; j < count; j++)
    found[j] = static_cast<int16_t>(isoSearchPixel(w->scaled.data(), w->invScale.data(), n, w->nc,
                                                   nearD, x + static_cast<size_t>(j) * n, row,
                                                   distance + j));
}

/*
 * isoPrepareBounds --
 *     The bounds for an image pass of this step over `samples` samples:
 *     kept from the last pass when it had the same step and made no class
 *     (each class's reach then being the most any other class moved), else
 *     made afresh by this pass (none for the final pass).  The means are
 *     kept for the next pass.
 */
void isoPrepareBounds(IsoWork *w, int step, int64_t samples) {
  IsoBounds &b = w->bounds;
  const int n = w->n, nc = w->nc;
  const size_t kept = static_cast<size_t>(std::min(samples, kIsoBoundSamples));
  b.reachUnits.assign(static_cast<size_t>(std::max(nc, 1)), 0);
  if (b.valid && b.step == step && nc <= b.nc && b.lower.size() == kept) {
    std::vector<double> moved(static_cast<size_t>(nc));
    for (int i = 0; i < nc; i++) {
      double squares = 0;
      for (int k = 0; k < n; k++) {
        const size_t at = static_cast<size_t>(k) * kIsoMeanStride + i;
        const double d = static_cast<double>(w->scaled[at]) - b.means[at];
        squares += d * d;
      }
      const double shift = sqrt(squares) * (1 + 1e-12);
      moved[i] = shift == shift ? shift : __builtin_inf();
    }
    // The most and the second most moved: every class's reach is one of them.
    int most = 0;
    for (int i = 1; i < nc; i++)
      if (moved[i] > moved[most]) most = i;
    double second = 0;
    for (int i = 0; i < nc; i++)
      if (i != most) second = std::max(second, moved[i]);
    for (int i = 0; i < nc; i++) {
      const double reach = i == most ? second : moved[most];
      b.reachUnits[i] = static_cast<int32_t>(std::min(65536.0, ceil(reach / b.unit * (1 + 1e-12))));
    }
  } else if (w->keepEmpty) {
    // The final pass: no later pass would take fresh bounds.
    b.step = 0;
    std::vector<uint8_t>().swap(b.classOf);
    std::vector<uint16_t>().swap(b.lower);
  } else {
    b.step = step;
    b.unit = sqrt(static_cast<double>(n)) / 4096;
    b.classOf.assign(kept, 0);
    b.lower.assign(kept, 0);
  }
  b.means = w->scaled;
  b.nc = nc;
  b.valid = false;
}

/*
 * isoSearchBounded --
 *     isoSearchBlock of count pixels of a pass that keeps bounds (Hamerly),
 *     with the same answers.  A pixel keeps its class a of the last pass
 *     without a search when a lower bound L on its distance (not squared)
 *     to every other class, less the most any other class moved since,
 *     proves each of them farther than a and not nearer than 0.2 D: their
 *     float distances are at least L^2 (1 - eps), eps bounding the
 *     rounding of n squares summed in float, and a's distance is worked
 *     out as the search does.  Other pixels are searched in full and get
 *     L from the second least distance.  L is kept in units of
 *     bounds.unit, rounded down.
 */
__attribute__((target_clones("avx2", "default")))
void isoSearchBounded(const IsoWork *w, const float *x, int count, int16_t *found, float *distance,
                      uint8_t *classOf, uint16_t *lower) {
  const int n = w->n, nc = w->nc;
  const IsoBounds &bounds = w->bounds;
  const double unit = bounds.unit, inverse = 1 / unit, eps = (n + 4) * 0x1p-23 + 1e-12;
  const float nearD = static_cast<float>(w->nearD);
  const float *scaled = w->scaled.data();
  const float *invScale = w->invScale.data();
  float xs[64], all[kIsoMeanStride];
  std::vector<float> wide;
  float *row = xs;
  if (n > 64) {
    wide.resize(static_cast<size_t>(n));
    row = wide.data();
  }
  auto keep = [&](double L) {
    return static_cast<uint16_t>(L > 0 ? std::min(65535.0, floor(L * inverse * (1 - 1e-12))) : 0);
  };
  for (int j = 0; j < count; j++) {
    const float *p = x + static_cast<size_t>(j) * n;
    const int a = classOf[j];
    if (a < nc) {
      // The bound less the most another class moved, in whole units rounded up.
      const int q = lower[j] - bounds.reachUnits[a];
      const double L = q * unit;
      if (q > 0) {
        float d = 0;
        for (int b = 0; b < n; b++) {
          const float t = p[b] * invScale[b] - scaled[static_cast<size_t>(b) * kIsoMeanStride + a];
          d += t * t;
        }
        const double floor2 = L * L * (1 - eps);
        if (floor2 > d && floor2 > nearD) {
          found[j] = static_cast<int16_t>(a);
          distance[j] = d;
          lower[j] = static_cast<uint16_t>(q);
          continue;
        }
      }
    }
    const int bi = isoSearchPixel(scaled, invScale, n, nc, nearD, p, row, distance + j, all);
    found[j] = static_cast<int16_t>(bi);
    if (bi < 0) {
      lower[j] = 0;
      continue;
    }
    // The least distance of the other classes (the padding holds kIsoHuge).
    all[bi] = kIsoHuge;
    IsoLanes least;
    memcpy(&least, all, sizeof least);
    for (int i = kIsoLanes; i < nc; i += kIsoLanes) {
      IsoLanes d;
      memcpy(&d, all + i, sizeof d);
      least = d < least ? d : least;
    }
    float second = least[0];
    for (int l = 1; l < kIsoLanes; l++) second = least[l] < second ? least[l] : second;
    classOf[j] = static_cast<uint8_t>(bi);
    lower[j] = keep(sqrt(second / (1 + eps)) * (1 - 1e-12));
  }
}

/*
 * isoSearch --
 *     The class the scan in class order picks for x among the classes of
 *     w->scaled (nc of them): the first class nearer than 0.2 D, else the
 *     first of the nearest.  xs is a work row (n).  It changes nothing in
 *     w, so blocks of pixels may search at once on several threads.
 * Results:      the class, or -1 when there is none; *distance holds its
 *               scaled squared distance (with no class, the least found).
 */
__attribute__((target_clones("avx2", "default")))
int isoSearch(const IsoWork *w, const float *x, float *__restrict xs, float *distance) {
  return isoSearchPixel(w->scaled.data(), w->invScale.data(), w->n, w->nc,
                        static_cast<float>(w->nearD), x, xs, distance);
}

/* Whether the search's answer makes a new class instead. */
bool isoMakesClass(const IsoWork *w, int bi, float best) {
  return (bi < 0 || (w->allowNew && best > w->D)) && w->nc < w->ncMax &&
         (w->allowNew || w->nc == 0);
}

/*
 * isoNearest --
 *     The class of a vector by scaled squared distance (isoSearch).  A
 *     vector farther than D from all classes starts a new one while new
 *     classes are allowed and ncMax is not reached.  The vector is added
 *     to its class.
 */
int isoNearest(IsoWork *w, const float *x) {
  const int n = w->n;
  float best;
  int bi = isoSearch(w, x, w->scaledX.data(), &best);
  if (isoMakesClass(w, bi, best)) {
    if (static_cast<int>(w->classes.size()) <= w->nc) w->classes.resize(static_cast<size_t>(w->nc) + 1);
    isoSetClass(&w->classes[w->nc], n, x, 0);
    for (int b = 0; b < n; b++)
      w->scaled[static_cast<size_t>(b) * kIsoMeanStride + w->nc] = w->scaledX[b];
    bi = w->nc++;
    if (w->reassign && w->tableMode()) isoReassignTable(w);
  }
  if (bi < 0) bi = 0;
  isoAddSamples(w, bi, x, 1);
  return bi;
}

int isoNearestBytes(IsoWork *w, const unsigned char *v) {
  float x[16];
  if (w->n <= 16) {
    for (int b = 0; b < w->n; b++) x[b] = v[b];
    return isoNearest(w, x);
  }
  std::vector<float> wide(v, v + w->n);
  return isoNearest(w, wide.data());
}

/*
 * isoImageClassify --
 *     One pass over the window with a row and column step: every sampled
 *     pixel classified (and written with the write flag, or on a step-1
 *     pass that makes no classes), then the classes updated, saved on the
 *     main step, moved on and, on step 1, coloured into the palette.
 */
void isoImageClassify(IsoWork *w, int step, bool allowNew, bool write) {
  const bool saved = w->allowNew;
  w->allowNew = allowNew;
  w->hit = w->find = w->total = 0;
  w->pass++;
  if (w->tableMode()) std::fill(w->classTable.begin(), w->classTable.end(), -1);
  isoSyncMeans(w);
  if (w->verbose) vesk_printf("isoImageClassify...\n");
  time_t start = time(nullptr);
  IsoProgress progress(w, (w->r + step - 1) / step);
  // Rounds of sampled rows: about a million samples' searches at a time.
  const size_t count = static_cast<size_t>((w->c + step - 1) / step);
  const int rows = static_cast<int>(std::clamp<size_t>((1u << 20) / std::max<size_t>(count, 1), 1, 256));
  IsoRound &r = w->round;
  const size_t samples = count * rows;
  r.pixels.resize(samples * w->n);
  r.distances.resize(samples);
  r.found.resize(samples);
  if (w->tableMode()) {
    r.bytes.resize(samples * w->n);
    r.entries.resize(samples);
    r.items.resize(samples);
    r.known.resize(samples);
    r.classOf.resize(samples);
    if (r.owner.size() != w->classTable.size()) r.owner.assign(w->classTable.size(), INT32_MAX);
    for (int offset = 0; offset < w->r;)
      offset += step * isoPassTableRows(w, offset, step, rows, allowNew, write, r, progress);
  } else {
    const int classes = w->nc;
    isoPrepareBounds(w, step, static_cast<int64_t>(count) * ((w->r + step - 1) / step));
    for (int offset = 0; offset < w->r;)
      offset += step * isoPassRows(w, offset, step, rows, allowNew, write, r, progress);
    // A class made in the pass is in no bound.
    w->bounds.valid = w->nc == classes;
  }
  progress.finish();
  w->stability = isoUpdateClasses(w);
  if (step == w->sk) isoWriteFeature(w);
  isoSpeed(w);
  if (step == 1) isoSetPalette(w);
  w->allowNew = saved;
  if (w->verbose) {
    vesk_printf("ir %2d dt %ld wcv %5.3f cv %5.3f RMS %7.4f cvRMS %7.4f sk %2ld\n", w->pass,
                static_cast<long>(elapsedSeconds(start)), w->wcv, w->stability, w->rms, w->cv,
                static_cast<long>(step));
    vesk_printf("nc %d ncMax %d DIS %.4f hit %ld find %ld total %ld\n", w->nc, w->ncMax, w->D,
                w->hit, w->find, w->total);
  }
}

/*
 * isoUpdateClasses --
 *     New means from the pass's sums, their change (DMEAN, SRMD2, RMS), the
 *     stability ratio of every class's count, and classes without samples
 *     removed (kept, with their numbers, on the final pass).
 * Results: the smallest stability ratio.
 */
double isoUpdateClasses(IsoWork *w) {
  const int n = w->n;
  long total = 0;
  for (int i = 0; i < w->nc; i++) total += w->classes[i].current;
  w->total = total;
  double minRatio = w->nc > 0 ? 1.0 : 0.0;
  w->rms = 0;
  w->wcv = 0;
  int kept = 0;
  for (int i = 0; i < w->nc; i++) {
    IsoClass &c = w->classes[i];
    const double a = c.count, b = c.current;
    const double ratio = a == 0 && b == 0 ? 0 : std::min(a, b) / std::max(a, b);
    minRatio = std::min(minRatio, ratio);
    if (b > 0) {
      double squares = 0;
      for (int j = 0; j < n; j++) {
        const float mean = static_cast<float>(c.sum[j] / b);
        c.dmean[j] = mean - c.mean[j];
        c.mean[j] = mean;
        c.sum[j] = 0;
        squares += static_cast<double>(c.dmean[j]) * c.dmean[j];
      }
      c.srmd2 = static_cast<float>(sqrt(squares / n));
      w->rms += b * c.srmd2 / static_cast<double>(total);
      w->wcv += b * ratio / static_cast<double>(total);
    } else if (!w->keepEmpty) {
      continue;
    }
    c.count = c.current;
    c.current = 0;
    if (kept != i) std::swap(w->classes[kept], c);
    kept++;
  }
  w->nc = kept;
  w->classes.resize(static_cast<size_t>(kept));
  if (w->tableMode()) {
    isoClearTableClasses(w);
    if (w->verbose) vesk_printf("Unstable ratio: %8.3f\n", 1.0);
  }
  return minRatio;
}

/* isoSpeed -- stable classes move on by half their last change. */
void isoSpeed(IsoWork *w) {
  if (w->verbose) vesk_printf("isoSpeed...\n");
  if (w->stability <= 0.5) return;
  for (int i = 0; i < w->nc; i++)
    for (int b = 0; b < w->n; b++) w->classes[i].mean[b] += 0.5f * w->classes[i].dmean[b];
}

void isoClearTableClasses(IsoWork *w) { std::fill(w->classTable.begin(), w->classTable.end(), -1); }

/* isoPrintClasses -- the classes through the feature report. */
void isoPrintClasses(IsoWork *w, int flag) {
  FeatureSet *set = isoMakeFeature(w);
  if (set) isoPrint(set, flag);
  freeFeature(set);
}

/* The row buffers: the pixel vectors of a row and its class numbers (throws bad_alloc). */
static void allocIsoWork(IsoWork *w) {
  w->pixels.resize(static_cast<size_t>(w->n) * static_cast<size_t>(w->c));
  w->classRow.resize(static_cast<size_t>(w->c));
}

/*
 * gisocModule --
 *     "rimage gisoc -in IN -out OUT ...".
 * Results: 2 after the usage, 0 on failure, 1 with the classes written.
 */
int gisocModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -b BND -nc NC -d D -cv CV -nr NR -sk SK -pt PT -f FTR "
                "-s SO -ini INI -ir IR -ic IC -r R -c C -ob OB -or OR -oc OC -v VB -imgid IMGID\n",
                prog);
    for (const char *line : gisocUsage) vesk_printf("%s", line);
    return 2;
  }
  IsoWork work;
  int result = 0;
  try {
    if (parseGisocOptions(&work, argc, argv)) {
      allocIsoWork(&work);
      if (isoInit(&work)) {
        runGisoc(&work);
        result = 1;
      }
    }
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in gmemAlloc.\n");
    result = 0;
  }
  freeIsoWork(&work);
  return result;
}

}  // namespace vesk
