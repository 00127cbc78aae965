/*
 * isoinit.cpp --
 *     The first classes of ISO clustering: the distance scales (each band's
 *     standard deviation) and the exclusion distance, then the classes of
 *     a feature file, the first pixel grown by coarse passes (FIRST), runs
 *     of equal pixel count through the sorted pixel table (EQ), the most
 *     frequent colours (POP), or spectral binning reclustered (SB).
 */
#include <math.h>
#include <string.h>
#include <algorithm>
#include <unordered_map>

#include "core/text.h"
#include "processing/isocluster.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {

/* isoFirstInit -- the window's first pixel, grown by coarse passes. */
void isoFirstInit(IsoWork *w) {
  std::vector<float> x(static_cast<size_t>(w->n));
  getFloatBIPData(w->in, w->ir, w->ic, 1, 1, w->n, w->bands.data(), x.data());
  w->classes.assign(1, IsoClass());
  isoSetClass(&w->classes[0], w->n, x.data(),
              static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(w->r) * w->c, INT32_MAX)));
  w->nc = 1;
  for (int i = 0; i < 5; i++) isoImageClassify(w, w->sk + 2, true, false);
  for (int i = 0; i < 3; i++) isoImageClassify(w, w->sk + 1, true, false);
}

/* Means from the sums of the pass under way; classes without samples dropped. */
static void isoFinishSums(IsoWork *w) {
  int kept = 0;
  for (int i = 0; i < w->nc; i++) {
    IsoClass &c = w->classes[i];
    if (c.current <= 0) continue;
    for (int b = 0; b < w->n; b++) {
      c.mean[b] = static_cast<float>(c.sum[b] / c.current);
      c.sum[b] = 0;
    }
    c.count = c.current;
    c.current = 0;
    if (kept != i) std::swap(w->classes[kept], c);
    kept++;
  }
  w->nc = kept;
  w->classes.resize(static_cast<size_t>(kept));
}

/*
 * isoEqualInit --
 *     Classes of about equal pixel count along the sorted table: entry
 *     with running count t goes to class round(t (k - 1) / S), advancing
 *     at most one class per entry.  k is cut to the number of entries, and
 *     classes left without entries are dropped.
 */
void isoEqualInit(IsoWork *w) {
  const PTABLE *t = w->table;
  const int k = std::min(w->ncMax, static_cast<int>(t->count));
  double S = 0;
  for (int32_t e = 0; e < t->count; e++) S += std::max<uint32_t>(t->values[e], 1u);
  std::vector<float> zero(static_cast<size_t>(w->n), 0.0f), x(static_cast<size_t>(w->n));
  w->classes.assign(static_cast<size_t>(k), IsoClass());
  for (IsoClass &c : w->classes) isoSetClass(&c, w->n, zero.data(), 0);
  w->nc = k;
  double running = 0;
  int i = 0;
  for (int32_t e = 0; e < t->count; e++) {
    const int target = roundToInt(running * (k - 1) / S);
    i = target - i < 2 ? target : i + 1;
    i = std::min(i, k - 1);
    const uint32_t count = std::max<uint32_t>(t->values[e], 1u);
    const unsigned char *v = t->vector(e);
    for (int b = 0; b < w->n; b++) x[b] = v[b];
    isoAddSamples(w, i, x.data(), count);
    running += count;
  }
  isoFinishSums(w);
  if (w->verbose) isoPrintClasses(w, 0);
}

/* isoSmallestClass -- the last class among those with the smallest count. */
int isoSmallestClass(const IsoWork *w) {
  int smallest = 0;
  for (int i = 1; i < w->nc; i++)
    if (w->classes[i].count <= w->classes[smallest].count) smallest = i;
  return smallest;
}

/* isoPopularInit -- the most frequent colours of the table, at most one class per entry. */
void isoPopularInit(IsoWork *w) {
  const PTABLE *t = w->table;
  w->reassign = false;
  w->allowNew = true;
  const int k = std::min(w->ncMax, static_cast<int>(t->count));
  std::vector<float> x(static_cast<size_t>(w->n));
  auto take = [&](IsoClass *c, int32_t e) {
    const unsigned char *v = t->vector(e);
    for (int b = 0; b < w->n; b++) x[b] = v[b];
    isoSetClass(c, w->n, x.data(), static_cast<int32_t>(std::min<uint32_t>(t->values[e], INT32_MAX)));
  };
  w->classes.assign(static_cast<size_t>(k), IsoClass());
  for (int i = 0; i < k; i++) take(&w->classes[i], i);
  w->nc = k;
  const long every = std::max<long>(1, roundToInt(t->count * 0.1));
  int smallest = isoSmallestClass(w);
  for (int32_t e = k; e < t->count; e++) {
    if (static_cast<int64_t>(t->values[e]) > w->classes[smallest].count) {
      take(&w->classes[smallest], e);
      smallest = isoSmallestClass(w);
    }
    if (w->verbose && (e + 1) % every == 0)
      vesk_printf(" %3ld done...\n", static_cast<long>((e + 1) / every * 10));
  }
  if (w->verbose) isoPrintClasses(w, 0);
  w->reassign = true;
}

/*
 * isoReclusterBins --
 *     Clusters the bin classes, each weighted by its pixels, into a new
 *     set, until the classes settle (at most kIsoMaxConvergePasses).
 */
void isoReclusterBins(IsoWork *w) {
  const bool allowNew = w->allowNew;
  w->allowNew = true;
  std::vector<IsoClass> bins;
  bins.swap(w->classes);
  const int binCount = w->nc;
  w->classes.assign(1, IsoClass());
  if (binCount > 0) isoSetClass(&w->classes[0], w->n, bins[0].mean.data(), 0);
  w->nc = binCount > 0 ? 1 : 0;
  for (int pass = 1; pass <= kIsoMaxConvergePasses && binCount > 0; pass++) {
    isoSyncMeans(w);
    for (int i = 0; i < binCount; i++) {
      isoAddToNearest(w, bins[i].mean.data(), bins[i].count);
    }
    w->stability = isoUpdateClasses(w);
    if (w->verbose)
      vesk_printf("itr: %3d nc: %d rms: %7.4f total: %d\n", pass, w->nc, w->rms,
                  static_cast<int>(std::min<long>(w->total, INT32_MAX)));
    if (w->rms > 0) meterSet("gisoc", static_cast<float>(w->cv / w->rms * 8 / (w->nr + 9)));
    if (w->rms <= w->cv) break;
  }
  w->meterFraction = 8.0f / static_cast<float>(w->nr + 9);
  w->allowNew = allowNew;
}

/*
 * isoSpecBinning --
 *     Bins the sampled pixels over the first (at most seven) bands of the
 *     sort order, each band's range mean +- 2.5 std cut to its extremes;
 *     every occupied bin becomes a class, which are then reclustered.
 */
/*
 * isoBinSpectra --
 *     Spectral binning over at most maxBands bands of the sort order with
 *     k to the power m <= base codes; the codes find their classes through
 *     a hash table, or, with direct, through a table of every code.
 */
static void isoBinSpectra(IsoWork *w, int maxBands, int64_t base, bool direct) {
  if (w->verbose) vesk_printf("isoSpecBinning...\n");
  const int m = std::min(w->n, maxBands);
  const int k = isoBinBase(base, m);
  const int B = k - 1;
  std::vector<int64_t> multiplier(static_cast<size_t>(m));
  const int64_t codes = isoBinRadix(m, k, multiplier.data());
  if (w->verbose) vesk_printf("max id: %d\n", static_cast<int>(codes));
  const bool isByte = readsAsBytes(w->in->header);
  std::vector<double> lo(static_cast<size_t>(m)), hi(static_cast<size_t>(m));
  std::vector<int> position(static_cast<size_t>(m));
  std::vector<std::vector<int>> byteBins(static_cast<size_t>(m));
  for (int i = 0; i < m; i++) {
    position[i] = w->sortOrder[i];
    const int band = w->bands[position[i]];
    double s = 0, mean = 0, minimum = 0, maximum = 0;
    ramImageBandStats(w->in, band, &s, &mean, &minimum, &maximum);
    if (s == 0) s = 3.4028234663852886e38;
    lo[i] = std::max(mean - 2.5 * s, minimum);
    hi[i] = std::min(mean + 2.5 * s, maximum);
    if (w->verbose)
      vesk_printf("bin: %d band: %d low: %8.3f high: %8.3f min: %8.3f max: %8.3f\n", B, band + 1,
                  lo[i], hi[i], minimum, maximum);
    if (isByte) {
      byteBins[i].resize(256);
      for (int v = 0; v < 256; v++) byteBins[i][v] = isoBinOf(v, lo[i], hi[i], B, true);
    }
  }
  std::unordered_map<int64_t, int> classOf;
  std::vector<int> classAt(direct ? static_cast<size_t>(codes) : 0, -1);
  w->classes.clear();
  w->nc = 0;
  std::vector<float> x(static_cast<size_t>(w->n) * static_cast<size_t>(w->c));
  const int count = (w->c + w->sk - 1) / w->sk;
  for (int offset = 0; offset < w->r; offset += w->sk) {
    getFloatBIPData(w->in, w->ir + offset, w->ic, w->c, w->sk, w->n, w->bands.data(), x.data());
    for (int j = 0; j < count; j++) {
      const float *p = x.data() + static_cast<size_t>(j) * w->n;
      int64_t code = 0;
      for (int i = 0; i < m; i++) {
        const float v = p[position[i]];
        const int bin = isByte ? byteBins[i][std::clamp(static_cast<int>(v), 0, 255)]
                               : isoBinOf(v, lo[i], hi[i], B, false);
        code += bin * multiplier[i];
      }
      int cls;
      bool fresh;
      if (direct) {
        int &slot = classAt[static_cast<size_t>(code)];
        fresh = slot < 0;
        if (fresh) slot = w->nc;
        cls = slot;
      } else {
        auto found = classOf.emplace(code, w->nc);
        fresh = found.second;
        cls = found.first->second;
      }
      if (fresh) {
        w->classes.emplace_back();
        isoSetClass(&w->classes.back(), w->n, p, 0);
        w->nc++;
      }
      isoAddSamples(w, cls, p, 1);
    }
  }
  if (w->verbose) vesk_printf("init nc: %d\n", w->nc);
  long pixels = 0;
  for (int i = 0; i < w->nc; i++) pixels += w->classes[i].current;
  isoFinishSums(w);
  if (w->verbose) vesk_printf("class: %d total Samples: %ld\n", w->nc, pixels);
  isoReclusterBins(w);
}

/* isoSpecBinning -- the SB method: up to 7 bands, k^m <= 0x800000 codes. */
void isoSpecBinning(IsoWork *w) { isoBinSpectra(w, 7, 0x800000, false); }

/*
 * isoSpecBinningDirect --
 *     Spectral binning of at most 4 bands with k^m <= 0x80000 codes, each
 *     code indexing a table of classes directly instead of a hash table.
 */
void isoSpecBinningDirect(IsoWork *w) { isoBinSpectra(w, 4, 0x80000, true); }

/* isoBinBase -- the largest k with k to the power m at most a. */
int isoBinBase(int64_t a, int m) {
  auto power = [m](int64_t k) {
    double p = 1;
    for (int i = 0; i < m; i++) p *= static_cast<double>(k);
    return p;
  };
  int64_t k = std::max<int64_t>(1, static_cast<int64_t>(pow(static_cast<double>(a), 1.0 / m)));
  while (k > 1 && power(k) > static_cast<double>(a)) k--;
  while (power(k + 1) <= static_cast<double>(a)) k++;
  return static_cast<int>(k);
}

/*
 * isoBinRadix -- the multipliers of m bins of k digits each: k to the
 * power (m - 1 - i) for bin i. Results: the code count, k to the power m.
 */
int64_t isoBinRadix(int m, int k, int64_t *multiplier) {
  int64_t codes = 1;
  for (int i = m - 1; i >= 0; i--) {
    multiplier[i] = codes;
    codes *= k;
  }
  return codes;
}

/* isoBinOf -- the bin of a value: 0 .. B - 1 for bytes, 0 .. B otherwise. */
int isoBinOf(double v, double lo, double hi, int B, bool isByte) {
  double range = hi - lo;
  if (range == 0) range = 1.0;
  const int bin = roundToInt((v - lo) / range * B);
  return std::clamp(bin, 0, isByte ? B - 1 : B);
}

/*
 * isoReassignTable --
 *     Table entries already assigned move to the newest class when it is
 *     nearer (plain squared distance) than their own.
 */
void isoReassignTable(IsoWork *w) {
  const int fresh = w->nc - 1;
  const float *m2 = w->classes[fresh].mean.data();
  const PTABLE *t = w->table;
  for (int32_t e = 0; e < t->count; e++) {
    const int a = w->classTable[e];
    if (a < 0 || a == fresh) continue;
    const unsigned char *v = t->vector(e);
    const float *m1 = w->classes[a].mean.data();
    float d1 = 0, d2 = 0;
    for (int b = 0; b < w->n; b++) {
      d1 += (v[b] - m1[b]) * (v[b] - m1[b]);
      d2 += (v[b] - m2[b]) * (v[b] - m2[b]);
    }
    if (d1 > d2) w->classTable[e] = static_cast<int16_t>(fresh);
  }
}

/*
 * isoInit --
 *     Scales, D and the initial classes.
 * Results: 1, or 0 for an unknown method.
 */
int isoInit(IsoWork *w) {
  const int n = w->n;
  w->invScale.assign(static_cast<size_t>(n), 0.0f);
  double totalStd = 0;
  for (int i = 0; i < n; i++) {
    double s = 0;
    if (w->palette) {
      ramImageBandStats(w->in, i, &s, nullptr, nullptr, nullptr);
    } else if (BandHist *hist = ramImageHist(w->in, kHistCached, 1, 1)) {
      s = getHistStd(&hist[w->bands[i]]);
    }
    w->invScale[i] = s > 0 ? static_cast<float>(1.0 / s) : 0.0f;
    totalStd += s;
    if (w->verbose) vesk_printf("std[%d]: %.3f\n", i, s);
  }
  if (w->verbose) vesk_printf("Total Std: %.3f\n", totalStd);
  if (!(w->D > 0)) w->D = sqrt(static_cast<double>(n) / w->ncMax);
  w->nearD = 0.2 * w->D;
  w->stability = 0;
  if (w->verbose)
    vesk_printf("ncMax %d nc %d DIS %7.3f bands: %d\n", w->ncMax, w->nc, w->D, n);
  if (w->palette) return 1;
  if (w->tableMode()) isoClearTableClasses(w);
  switch (w->method) {
  case ISO_FEATURES:
    vesk_printf("Initiate classes with features.\n");
    break;
  case ISO_FIRST:
    vesk_printf("Initial classes with the first pixel.\n");
    isoFirstInit(w);
    break;
  case ISO_EQ:
    vesk_printf("Initiate classes with equal number of pixels.\n");
    isoEqualInit(w);
    break;
  case ISO_POP:
    vesk_printf("Initiate classes with popular pixels.\n");
    isoPopularInit(w);
    break;
  case ISO_SB:
    vesk_printf("Initial classes with spectral binning.\n");
    isoSpecBinning(w);
    break;
  default:
    vesk_fprintf(stderr, "Error in isoInit: %d\n", w->method);
    return 0;
  }
  return 1;
}

/*
 * isoAddToNearest --
 *     Classifies a vector (isoNearest, which may start a new class) and
 *     adds it `times` times in all to that class: a bin or table entry
 *     that stands for that many pixels.
 * Results:      the class.
 */
int isoAddToNearest(IsoWork *w, const float *x, double times) {
  const int k = isoNearest(w, x);
  isoAddSamples(w, k, x, times - 1.0);
  return k;
}

/* The scaled squared distance between the means of two classes. */
static double isoClassDistance(const IsoWork *w, int i, int j) {
  double d = 0;
  for (int b = 0; b < w->n; b++) {
    const double t = (w->classes[i].mean[b] - w->classes[j].mean[b]) * w->invScale[b];
    d += t * t;
  }
  return d;
}

/*
 * isoMergeClosest --
 *     Merges the two classes whose means are closest (scaled squared
 *     distance) while that distance is at most 0.5 D, or while more than
 *     ncMax classes are alive.  The merged means are weighted by the
 *     classes' sample counts (equally when both are empty), counts and
 *     sums of the pass under way add up; the second class goes and the
 *     classes after it move down, table entries following their class.
 * Results:      the class count left.
 * Side effects: the scaled means are brought up to date.
 */
int isoMergeClosest(IsoWork *w) {
  const int before = w->nc;
  while (w->nc > 1) {
    int bi = 0, bj = 1;
    double best = isoClassDistance(w, 0, 1);
    for (int i = 0; i < w->nc; i++)
      for (int j = i + 1; j < w->nc; j++) {
        const double d = isoClassDistance(w, i, j);
        if (d < best) {
          best = d;
          bi = i;
          bj = j;
        }
      }
    if (!(best <= 0.5 * w->D) && w->nc <= w->ncMax) break;
    if (w->verbose)
      vesk_printf("minDist: %7.3f inDIS: %7.4f n: %3d i: %3d j: %3d\n", best, w->D, w->nc, bi, bj);
    IsoClass &a = w->classes[bi];
    const IsoClass &b = w->classes[bj];
    const double ca = a.count, cb = b.count;
    const double wa = ca + cb > 0 ? ca / (ca + cb) : 0.5;
    for (int k = 0; k < w->n; k++) {
      a.mean[k] = static_cast<float>(wa * a.mean[k] + (1 - wa) * b.mean[k]);
      a.sum[k] += b.sum[k];
    }
    a.count = static_cast<int32_t>(std::min(ca + cb, static_cast<double>(INT32_MAX)));
    a.current = static_cast<int32_t>(
        std::min(static_cast<double>(a.current) + b.current, static_cast<double>(INT32_MAX)));
    w->classes.erase(w->classes.begin() + bj);
    w->nc--;
    for (int16_t &k : w->classTable) {
      if (k == bj) k = static_cast<int16_t>(bi);
      else if (k > bj) k--;
    }
  }
  if (w->verbose) vesk_printf("nc: %d new nc: %d\n", before, w->nc);
  isoSyncMeans(w);
  return w->nc;
}

/*
 * isoSortClasses --
 *     Puts the classes in ascending order of their means, compared band
 *     by band in the work's sort order (ties keep their order); table
 *     entries follow their class.
 */
void isoSortClasses(IsoWork *w) {
  std::vector<int> order(static_cast<size_t>(w->nc));
  for (int i = 0; i < w->nc; i++) order[static_cast<size_t>(i)] = i;
  std::vector<int> bands = w->sortOrder;
  if (bands.empty())
    for (int b = 0; b < w->n; b++) bands.push_back(b);
  std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
    for (int b : bands) {
      if (b < 0 || b >= w->n) continue;
      const float mx = w->classes[x].mean[b], my = w->classes[y].mean[b];
      if (mx != my) return mx < my;
    }
    return false;
  });
  std::vector<IsoClass> sorted;
  std::vector<int16_t> moved(static_cast<size_t>(w->nc), 0);
  for (int i = 0; i < w->nc; i++) {
    sorted.push_back(std::move(w->classes[static_cast<size_t>(order[static_cast<size_t>(i)])]));
    moved[static_cast<size_t>(order[static_cast<size_t>(i)])] = static_cast<int16_t>(i);
  }
  for (int i = 0; i < w->nc; i++) w->classes[static_cast<size_t>(i)] = std::move(sorted[static_cast<size_t>(i)]);
  for (int16_t &k : w->classTable)
    if (k >= 0 && k < w->nc) k = moved[static_cast<size_t>(k)];
  isoSyncMeans(w);
}

}  // namespace vesk
