/*
 * bandstats.h --
 *     Per-band statistics of RAM images: the accumulator BandHist (sums,
 *     extremes and, for the small pixel types, a histogram), filled over a
 *     whole image (cached in the image), under a mask image or over the
 *     spans of a region of interest, and the statistics of one band,
 *     palette components included.
 */
#ifndef VESK_RASTER_BANDSTATS_H
#define VESK_RASTER_BANDSTATS_H

#include "raster/ramimg.h"

/* One band's accumulator; arrays of them are allocated together. */
struct BandHist {
  double sum = 0;        /* sum of the values */
  double sumSq = 0;      /* sum of the squared values */
  double count = 0;      /* number of values */
  double mean = 0;       /* set by calcHistMeanStd */
  double std = 0;        /* set by calcHistMeanStd */
  double min = 0;        /* least value seen; +infinity while none */
  double max = 0;        /* greatest value seen; -infinity while none */
  int done = 0;          /* 1 when the band's statistics are complete */
  int binCount = 0;      /* 2 for 1BIT, 16 for 4BITS, 256 for BYTE, else 0 */
  int64_t *bins = nullptr;  /* pixel counts per value, or null (64 bits: images may
                               hold more than 2^31 pixels of one value) */
};

struct PointList;

namespace vesk {

/* Modes of ramImageHist. */
inline constexpr int kHistCached = 0;     /* the cached array when complete */
inline constexpr int kHistRecompute = 2;  /* drop the cache and scan again */

int histBinCount(int pixelid);
BandHist *createHist(int n, int bins);
void freeHist(BandHist *hist, int n);
void resetHist(BandHist *hist);
void clearHistDone(BandHist *hist);
void accumulateHist(BandHist *hist, int pixelid, int n, int step, const unsigned char *line,
                    int msbf);
void calcHistMeanStd(BandHist *hist);
double getHistMean(BandHist *hist);
double getHistStd(BandHist *hist);

BandHist *ramImageHist(RAMIMG *image, int mode, int columnStep, int rowStep);
int ramImageBandStats(RAMIMG *image, int band, double *std, double *mean, double *min,
                      double *max);
BandHist *ramImageHistWithMask(RAMIMG *image, RAMIMG *mask, int columnStep, int rowStep,
                               int keep);
BandHist *ramImageHistWithROI(RAMIMG *image, const PointList *spans, int keep);

/* Resets band `band` of an image's statistics array (the hook the store
   calls on volume changes and pixel writes). */
void resetBandHist(BandHist *hist, int band);

}  // namespace vesk

#endif
