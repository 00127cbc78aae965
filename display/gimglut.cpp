/*
 * gimglut.cpp --
 *     The lookup tables of a gimg image: for each display channel a
 *     256-entry table from band value to display value.  The input range
 *     of a band is cut by its statistics, its histogram stretched or
 *     equalised, bent by a tone curve and mapped onto the output range of
 *     contrast and brightness; the result is then fitted to what the
 *     display has: raw 0..255 values, grey ramp or colour cube indices
 *     (with or without dither tables), or the image's own palette.  Also
 *     the histogram summaries the statistics subcommands print.
 */
#include <math.h>
#include <string.h>

#include <algorithm>

#include "core/text.h"
#include "display/colortab.h"
#include "display/gimg.h"
#include "raster/bandstats.h"

namespace vesk {
namespace {

/* Values of -func and -range. */
enum { kFuncUnknown = 0, kFuncNone = 1, kFuncLinear = 2, kFuncHists = 3, kFuncHistEq = 4 };
enum { kRangeUnknown = 0, kRangeMean = 1, kRangeDetail = 2 };

/* Bits per pixel of the master's header copy. */
int masterPixelBits(const GimgMaster *master) {
  return getPixelBits(master->header.pixelid);
}

/* The master's option low/high of a channel (-low0..-high2). */
void loadChannelRange(GimgMaster *master, int i, double *low, double *high) {
  *low = master->low[i];
  *high = master->high[i];
}

/* Level tables of one dithered channel: errors, level index. */
void channelDitherTables(GimgMaster *master, int channel, int levels, double multiplier) {
  int index[256];
  computeLevels(reinterpret_cast<signed char *>(master->ditherError[channel]), nullptr, levels,
                index, multiplier);
  for (int v = 0; v < 256; v++) master->levelIndex[channel][v] = static_cast<unsigned char>(index[v]);
}

/*
 * histMapping --
 *     The stretched (HISTS) or equalised (HISTEQ) mapping over the bins of
 *     a summary, inside [low, high].
 * Results:      false when the bins inside the range hold no pixels.
 */
bool histMapping(const HistSummary &s, int function, double low, double high, double gamma,
                 int mode, int *m) {
  const int n = std::min(s.binCount, 256);
  double total = 0;
  for (int i = 0; i < n; i++)
    if (i >= low && i <= high) total += s.bins[i];
  if (total <= 0) return false;
  double running = 0;
  if (function == kFuncHists) {
    int rank = -1, previous = 0;
    for (int i = 0; i < n; i++) {
      running += s.bins[i];
      double v = i < low ? 0 : (i > high ? 1 : running / total);
      int w = v == 0 ? 0 : roundToInt(toneCurve(v, gamma, mode) * 255);
      if (w > rank && w > previous) rank++;
      previous = w;
      m[i] = rank;
    }
    for (int i = 0; i < n; i++)
      m[i] = std::clamp(roundToInt(m[i] / (rank + 0.0001) * 255), 0, 255);
  } else {
    int lowBin = std::clamp(roundToInt(low), 0, n - 1);
    double first = s.bins[lowBin] / total;
    for (int i = 0; i < n; i++) {
      running += s.bins[i];
      double v = i < low ? 0 : (i > high ? 1 : running / total);
      m[i] = v > first ? roundToInt(toneCurve((v - first) / (1 - first), gamma, mode) * 255) : 0;
    }
  }
  for (int i = n; i < 256; i++) m[i] = m[n - 1];
  return true;
}

/* The table an enhancement fills, from the input map of each channel. */
const unsigned char *channelInputMap(GimgMaster *master, int band, int channel,
                                     unsigned char work[256]) {
  return paletteIndexMap(master->header.nindices, &master->header.palette[0][0], band, work,
                         master->userLut[channel]);
}

/*
 * buildDirectLuts --
 *     Tables of a direct-colour display: each channel maps band values
 *     straight to 0..255.
 */
void buildDirectLuts(GimgMaster *master, int function, double stdFactor) {
  unsigned char work[256];
  const int *comb = master->comb;
  if (comb[0] == 1 && comb[1] != 0 && (master->paletteFlags & 1)) {
    master->channelCount = 0;
    const int band = std::max(comb[1] - 1, 0);
    double low0 = master->low[0], high0 = master->high[0];
    for (int i = 0; i < 3; i++) {
      double low = master->low[0], high = master->high[0];
      master->channelBand[i] = band;
      const unsigned char *map = channelInputMap(master, band, i, work);
      enhanceLut(master, function, stdFactor, band, master->gamma, master->channelLut[i], 256,
                 master->outLow, master->outHigh, &low, &high, map);
      if (i == 0) {
        low0 = low;
        high0 = high;
      }
      master->inLow[i] = low;
      master->inHigh[i] = high;
    }
    master->low[0] = low0;
    master->high[0] = high0;
    return;
  }
  master->channelCount = 0;
  for (int i = 0; i < 3; i++) {
    const int combBand = i < comb[0] ? comb[i + 1] : 0;
    if (combBand <= 0) {
      master->channelBand[i] = -1;
      continue;
    }
    master->channelCount++;
    const int band = combBand - 1;
    master->channelBand[i] = band;
    const unsigned char *map = channelInputMap(master, band, i, work);
    enhanceLut(master, function, stdFactor, band, master->gamma, master->channelLut[i], 256,
               master->outLow, master->outHigh, &master->inLow[i], &master->inHigh[i], map);
    if (master->levels[i + 1] == 1) master->channelBand[i] = -1;
    master->low[i] = master->inLow[i];
    master->high[i] = master->inHigh[i];
  }
}

/*
 * buildPaletteLuts --
 *     Tables of a display with allocated colours: each channel maps band
 *     values to its share of a palette pixel index (grey ramp, colour cube
 *     or the image's own palette), with dither tables when dithering.
 */
void buildPaletteLuts(GimgMaster *master, int function, double stdFactor) {
  unsigned char work[256];
  const int *comb = master->comb;
  const int dithering = master->ditherOn != 0;
  const int combCount = std::clamp(comb[0], 0, 3);

  if (master->truePalette) {
    master->channelCount = 1;
    int first = 1;
    for (int i = 1; i <= combCount; i++)
      if (comb[i] > 0) {
        first = comb[i];
        break;
      }
    const int nbands = std::max(master->header.nbands, 1);
    master->channelBand[0] = (first - 1) % nbands;
    master->channelBand[1] = master->channelBand[2] = -1;
    if (master->image && master->header.nindices > 0 && masterPixelBits(master) <= 8) {
      for (int i = 0; i < 256; i++)
        master->channelLut[0][i] = static_cast<unsigned char>(i < master->header.nindices ? i : 0);
    } else {
      enhanceLut(master, function, stdFactor, master->channelBand[0], master->gamma,
                 master->channelLut[0], 256, master->outLow, master->outHigh, &master->low[0],
                 &master->high[0], nullptr);
      master->inLow[0] = master->low[0];
      master->inHigh[0] = master->high[0];
    }
    return;
  }

  auto inputMap = [&](int band, int channel) -> const unsigned char * {
    return master->filterStrength == 0 ? channelInputMap(master, band, channel, work)
                                       : master->userLut[channel];
  };

  if (master->levels[0] > 0) {
    int lo = master->outLow, hi = master->outHigh;
    if (!dithering) {
      lo = static_cast<int>(master->outLow / 255.0 * (master->pixelCount - 1) + 0.5);
      hi = static_cast<int>(master->outHigh / 255.0 * (master->pixelCount - 1) + 0.5);
    }
    if (combCount == 1 && comb[1] > 0) {
      master->channelCount = 1;
      const int band = comb[1] - 1;
      master->channelBand[0] = band;
      master->channelBand[1] = master->channelBand[2] = -1;
      enhanceLut(master, function, stdFactor, band, master->gamma, master->channelLut[0], 256, lo,
                 hi, &master->low[0], &master->high[0], inputMap(band, 0));
      master->inLow[0] = master->low[0];
      master->inHigh[0] = master->high[0];
      if (dithering) channelDitherTables(master, 0, master->pixelCount, 1.0);
    } else {
      int j = 0;
      for (int i = 0; i < combCount; i++) {
        if (comb[i + 1] == 0) continue;
        const int band = std::max(comb[i + 1] - 1, 0);
        master->channelBand[j] = band;
        enhanceLut(master, function, stdFactor, band, master->gamma, master->channelLut[j], 256,
                   lo, hi, &master->inLow[i], &master->inHigh[i], inputMap(band, j));
        master->low[i] = master->inLow[i];
        master->high[i] = master->inHigh[i];
        if (dithering) channelDitherTables(master, j, master->pixelCount, 1.0);
        j++;
      }
      for (int k = j; k < 3; k++) master->channelBand[k] = -1;
      master->channelCount = j;
      if (j > 1) {
        for (int v = 0; v < 256; v++) {
          int s = 0;
          for (int c = 0; c < j; c++) s += master->channelLut[c][v];
          if (s <= 0) continue;
          const double avg = std::min(s / static_cast<double>(j), 255.0);
          for (int c = 0; c < j; c++)
            master->channelLut[c][v] =
                static_cast<unsigned char>(master->channelLut[c][v] / static_cast<double>(s) * avg + 0.5);
        }
      }
    }
  } else {
    const int R = master->levels[1], G = master->levels[2], B = master->levels[3];
    const int multiplier[3] = {G * B, B, 1};
    const int top[3] = {R * G * B - 1, G * B - 1, B - 1};
    const int cap[3] = {(R - 1) * G * B, (G - 1) * B, B - 1};
    const int count[3] = {R, G, B};
    int j = 0;
    for (int i = 0; i < combCount; i++) {
      if (comb[i + 1] == 0) continue;
      const int band = std::max(comb[i + 1] - 1, 0);
      double low = master->low[i], high = master->high[i];
      if (dithering) {
        enhanceLut(master, function, stdFactor, band, master->gamma, master->channelLut[j], 256,
                   master->outLow, master->outHigh, &low, &high, inputMap(band, j));
        channelDitherTables(master, j, count[i], multiplier[i]);
      } else {
        const int lo = static_cast<int>(master->outLow / 255.0 * top[i] + 0.5);
        const int hi = static_cast<int>(master->outHigh / 255.0 * top[i] + 0.5);
        enhanceLut(master, function, stdFactor, band, master->gamma, master->channelLut[j], 256,
                   lo, hi, &low, &high, inputMap(band, j));
        quantizeLut(master->channelLut[j], 256, multiplier[i], cap[i]);
      }
      master->channelBand[j] = band;
      master->low[i] = master->inLow[j] = low;
      master->high[i] = master->inHigh[j] = high;
      j++;
    }
    for (int k = j; k < 3; k++) master->channelBand[k] = -1;
    if (!dithering && master->header.nindices > 0 && j > 0) {
      for (int c = 1; c < j; c++)
        for (int v = 0; v < 256; v++)
          master->channelLut[0][v] = static_cast<unsigned char>(master->channelLut[0][v] + master->channelLut[c][v]);
      master->channelCount = 1;
      master->channelBand[0] = std::max(master->layer - 1, 0);
    } else {
      master->channelCount = j;
    }
  }
  if (dithering) {
    for (int c = 0; c < std::max(master->channelCount, 1) && c < 3; c++)
      for (int v = 0; v < 256; v++) {
        const int e = static_cast<signed char>(master->ditherError[c][v]);
        master->ditherError[c][v] = static_cast<unsigned char>(
            static_cast<signed char>(std::clamp(roundToInt(e * master->dg), -128, 127)));
      }
  }
}

/*
 * buildPackedLuts --
 *     Tables that pack the shown channels into one 8-bit class index
 *     (4 + 4 bits for two channels, 3 + 3 + 2 for three).
 */
void buildPackedLuts(GimgMaster *master, int function, double stdFactor) {
  const int n = master->channelCount;
  bool same = true;
  for (int i = 1; i < n && i < 3; i++) same = same && master->channelBand[i] == master->channelBand[0];
  if (n <= 1 || same) {
    for (int v = 0; v < 256; v++) master->packedLut[0][v] = static_cast<unsigned char>(v);
    memset(master->packedLut[1], 0, 256);
    memset(master->packedLut[2], 0, 256);
    return;
  }
  static const int table[2][3][3] = {{{255, 16, 240}, {15, 1, 15}, {0, 0, 0}},
                                     {{255, 32, 224}, {31, 4, 28}, {3, 1, 3}}};
  const int row = n == 2 ? 0 : 1;
  for (int i = 0; i < 3; i++) {
    if (i >= n) {
      memset(master->packedLut[i], 0, 256);
      continue;
    }
    double low = 0, high = 255;
    const int *t = table[row][i];
    enhanceLut(master, function, stdFactor, master->channelBand[i], master->gamma,
               master->packedLut[i], 256, 0, t[0], &low, &high, nullptr);
    quantizeLut(master->packedLut[i], 256, t[1], t[2]);
  }
}

}  // namespace

/* toneCurve -- the tone curve of -gamma and -gmid at x in [0, 1]. */
double toneCurve(double x, double gamma, int mode) {
  if (mode == 0) return x <= 0 ? 0 : pow(x + 1e-11, gamma);
  if (mode == 1) {
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    if (x < 0.5) return pow(2 * x + 1e-11, gamma) * 0.5;
    return 1 - pow(2 * (1 - x) + 1e-11, gamma) * 0.5;
  }
  return x;
}

/*
 * fillToneLut --
 *     Fills n entries: the input (inputMap[i], or i) cut to [inLow, inHigh],
 *     bent by the tone curve and spread over [outLow, outHigh].  An
 *     inverted output range gives a falling table.
 */
void fillToneLut(unsigned char *lut, int n, int outLow, int outHigh, double inLow, double inHigh,
                 const unsigned char *inputMap, double gamma, int mode) {
  for (int i = 0; i < n; i++) {
    double h = inputMap ? inputMap[i] : i;
    if (h >= inHigh) h = inHigh;
    else if (h <= inLow) h = inLow;
    double r;
    if (inHigh - inLow == 0) {
      r = outLow;
    } else {
      const double t = toneCurve((h - inLow) / (inHigh - inLow), gamma, mode);
      r = outLow * (1 - t) + (outHigh + 0.999) * t;
      if (!(r == r)) r = outLow;  /* ranges at the ends of double give no number */
    }
    int v;
    if (outLow < outHigh) v = r < outLow ? outLow : (r > outHigh ? outHigh : static_cast<int>(r));
    else v = r > outLow ? outLow : (r < outHigh ? outHigh : static_cast<int>(r));
    lut[i] = static_cast<unsigned char>(std::clamp(v, 0, 255));
  }
}

/*
 * paletteIndexMap --
 *     The input map of one channel: the table itself without a palette,
 *     else work[i] = table[palette component of entry i].
 */
const unsigned char *paletteIndexMap(int paletteCount, const unsigned char *palette, int band,
                                     unsigned char work[256], const unsigned char *table) {
  if (paletteCount <= 0) return table;
  const int component = ((band % 3) + 3) % 3;
  const int n = std::min(paletteCount, 256);
  for (int i = 0; i < n; i++) work[i] = table[palette[3 * i + component]];
  for (int i = n; i < 256; i++) work[i] = 0;
  return work;
}

/* quantizeLut -- every entry to the nearest multiple of step, capped first. */
void quantizeLut(unsigned char *lut, int n, int step, int cap) {
  if (step <= 0) return;
  for (int i = 0; i < n; i++) {
    const int v = std::min<int>(lut[i], cap);
    lut[i] = static_cast<unsigned char>(std::clamp(step * ((v + step / 2) / step), 0, 255));
  }
}

namespace {

/* Palette-view summary: a band of palette indices seen through one
   component of the palette. */
void paletteSummary(const RAMIMG *image, const BandHist &bh, int component, HistSummary *s) {
  *s = HistSummary();
  double S = 0, Q = 0;
  bool any = false;
  for (int i = 0; i < bh.binCount && i < 256 && i < image->header.nindices; i++) {
    const int f = image->header.palette[i][component];
    const int64_t g = bh.bins[i];
    if (g == 0) continue;  /* unused entries take no part in the range */
    s->bins[f] += g;
    if (!any || f < s->min) s->min = f;
    if (!any || f > s->max) s->max = f;
    any = true;
    S += static_cast<double>(f) * g;
    Q += static_cast<double>(f) * f * g;
  }
  s->count = bh.count;
  s->mean = bh.count > 0 ? S / bh.count : 0;
  s->std = Q > 0 && bh.count > 0 ? sqrt(std::max(Q / bh.count - s->mean * s->mean, 0.0)) : 0;
  s->binCount = 256;
}

void copySummary(BandHist &bh, HistSummary *s) {
  *s = HistSummary();
  calcHistMeanStd(&bh);
  s->mean = bh.mean;
  s->std = bh.std;
  s->min = bh.min;
  s->max = bh.max;
  s->count = bh.count;
  s->binCount = std::min(bh.binCount, 256);
  if (bh.bins)
    for (int i = 0; i < s->binCount; i++) s->bins[i] = bh.bins[i];
}

}  // namespace

/*
 * histSummary --
 *     The summary of one band (or palette component) from an array of
 *     band statistics.
 * Results:      1, or 0 without statistics.
 */
int histSummary(GimgMaster *master, BandHist *bandHists, int component, HistSummary *summary) {
  if (!bandHists || !master->image) return 0;
  const int nbands = std::max(master->image->header.nbands, 1);
  const int layerBand = master->layer > 0 ? std::min(master->layer - 1, nbands - 1) : -1;
  if (master->header.nindices > 0 && layerBand >= 0 && bandHists[layerBand].binCount > 0 &&
      component >= 0) {
    paletteSummary(master->image, bandHists[layerBand], component % 3, summary);
    return 1;
  }
  int band = layerBand >= 0 ? layerBand : std::max(component, 0);
  copySummary(bandHists[std::min(band, nbands - 1)], summary);
  return 1;
}

/*
 * ramImageHistSummary --
 *     The summary of one band of a RAM image, from its statistics over
 *     every fourth column of every fourth row.
 * Results:      1, or 0 when the statistics cannot be had.
 */
int ramImageHistSummary(GimgMaster *master, RAMIMG *image, int band, HistSummary *summary) {
  if (!image) return 0;
  BandHist *hist = ramImageHist(image, kHistCached, 4, 4);
  if (!hist) return 0;
  const int nbands = std::max(image->header.nbands, 1);
  const int layerBand = master->layer > 0 ? std::min(master->layer - 1, nbands - 1) : -1;
  if (master->header.nindices > 0 && layerBand >= 0 && hist[layerBand].binCount > 0 && band >= 0) {
    paletteSummary(image, hist[layerBand], band % 3, summary);
    return 1;
  }
  int b = layerBand >= 0 ? layerBand : std::max(band, 0) % nbands;
  copySummary(hist[b], summary);
  return 1;
}

/*
 * enhanceLut --
 *     Fills one channel's table: cuts the band's input range by the cut
 *     rule, stretches or equalises it, and maps it through the tone curve
 *     onto [outLow, outHigh].
 * Results:      1.
 * Side effects: low and high take the cut points used.
 */
int enhanceLut(GimgMaster *master, int function, double stdFactor, int band, double gamma,
               unsigned char *lut, int n, int outLow, int outHigh, double *low, double *high,
               const unsigned char *inputMap) {
  double inLow = 0, inHigh = 255;
  if (master->filterOverride != 0) function = kFuncNone;
  else if (masterPixelBits(master) <= 8) {
    inLow = *low;
    inHigh = *high;
  }
  const int mode = master->gmid;
  HistSummary s;
  if (function != kFuncNone && master->image &&
      ramImageHistSummary(master, master->image, band, &s) && s.std != 0) {
    const int rule = master->range;
    if (rule == kRangeMean || (rule == kRangeDetail && s.binCount < 16)) {
      *low = s.mean - stdFactor * s.std;
      *high = s.mean + stdFactor * s.std;
    } else if (rule == kRangeDetail) {
      const double p = 0.005 * stdFactor;
      double sum = 0;
      int i = 0;
      while (sum < p && i < s.binCount) sum += s.bins[i++] / s.count;
      *low = i;
      sum = 0;
      i = s.binCount - 1;
      while (sum < p && i > 0) sum += s.bins[i--] / s.count;
      *high = i;
    }
    if (*low < s.min) *low = s.min;
    if (*high > s.max) *high = s.max;
    inLow = 0;
    inHigh = 255;
    if (s.binCount > 2) {
      if (function == kFuncLinear) {
        inLow = *low;
        inHigh = *high;
      } else if (function == kFuncHists || function == kFuncHistEq) {
        int m[256];
        if (histMapping(s, function, *low, *high, gamma, mode, m)) {
          for (int i = 0; i < n && i < 256; i++) lut[i] = static_cast<unsigned char>(m[inputMap ? inputMap[i] : i]);
          inputMap = lut;
          gamma = 1.0;
        }
      }
    }
  }
  fillToneLut(lut, n, outLow, outHigh, inLow, inHigh, inputMap, gamma, mode);
  return 1;
}

/*
 * buildGimgLuts --
 *     Rebuilds every lookup table of a master from its options and the
 *     colours allocated for it.
 * Side effects: -low0..-high2 take the cut points used.
 */
void buildGimgLuts(GimgMaster *master, int function, double stdFactor) {
  memset(master->levelIndex, 0, sizeof master->levelIndex);
  memset(master->channelLut, 0, sizeof master->channelLut);
  for (int i = 0; i < 3; i++) loadChannelRange(master, i, &master->inLow[i], &master->inHigh[i]);
  if (master->pixelCount != 0) buildPaletteLuts(master, function, stdFactor);
  else buildDirectLuts(master, function, stdFactor);
  buildPackedLuts(master, function, stdFactor);
}

}  // namespace vesk
