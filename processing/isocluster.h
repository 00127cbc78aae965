/*
 * isocluster.h --
 *     Private interface of ISO clustering ("rimage gisoc"): the work
 *     record shared by the passes (isocluster.cpp) and the initial
 *     classes (isoinit.cpp).
 */
#ifndef VESK_PROCESSING_ISOCLUSTER_H
#define VESK_PROCESSING_ISOCLUSTER_H

#include <stdint.h>
#include <string>
#include <vector>

#include "processing/features.h"
#include "processing/ptable.h"
#include "raster/ramimg.h"

namespace vesk {

/* Initial methods. */
enum IsoMethod { ISO_FEATURES, ISO_FIRST, ISO_EQ, ISO_POP, ISO_SB };

/* Classes a run may hold: class numbers are bytes and palettes have 256 entries. */
inline constexpr int kIsoMaxClasses = 256;
/* Passes of the loops that run until they converge (palette mode, bin reclustering). */
inline constexpr int kIsoMaxConvergePasses = 100;
inline constexpr float kIsoHuge = 3.4028235e38f;
/* Columns of the scaled-means array: every class a column, padded to 8. */
inline constexpr int kIsoMeanStride = kIsoMaxClasses + 8;

/* One class: the fields of an ISOFEATU item, decoded. */
struct IsoClass {
  int32_t count = 0;              /* samples of the last completed pass */
  int32_t current = 0;            /* samples of the pass under way */
  float srmd2 = 0;                /* RMS of the last change of the mean */
  std::vector<float> mean, dmean;
  std::vector<double> sum;        /* running sums of the pass under way */
};

/* The buffers of a pass's rounds of rows, kept from pass to pass. */
struct IsoRound {
  std::vector<float> pixels, distances;    /* samples' vectors; their searches' distances */
  std::vector<int16_t> found;              /* their searches' classes */
  std::vector<unsigned char> bytes;        /* table mode: the samples' bytes, */
  std::vector<int32_t> entries, items;     /* their entries, the samples searched ahead */
  std::vector<int32_t> known;              /* a sample's entry's class as the round starts,
                                              -2 - s for the sample of search s, or -1 */
  std::vector<int16_t> classOf;            /* the samples' classes */
  std::vector<int32_t> owner;              /* per entry, its first sample in the round, or
                                              INT32_MAX */
};

/*
 * Per-sample bounds of the image passes of one step (Hamerly): each
 * sample's class and a lower bound on its distance to every other class,
 * 3 bytes a sample, for at most kIsoBoundSamples samples of a pass.
 */
inline constexpr int64_t kIsoBoundSamples = int64_t{1} << 24;
struct IsoBounds {
  int step = 0;                            /* the passes' step; 0: none kept */
  bool valid = false;                      /* the last pass left them true */
  int nc = 0;                              /* classes when they were made */
  double unit = 0;                         /* of lower */
  std::vector<float> means;                /* the scaled means then */
  std::vector<int32_t> reachUnits;         /* per class, the most another class moved since,
                                              in units rounded up */
  std::vector<uint8_t> classOf;            /* per sample, its class at its last search */
  std::vector<uint16_t> lower;             /* per sample, the bound in units; 0: none */
};

struct IsoWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  int ir = 0, ic = 0, r = 0, c = 0;        /* input window */
  int orow = 0, ocol = 0, orows = 0, ocols = 0;  /* output window */
  int outBand = 0;
  bool allowNew = false;                   /* classes may be made during a pass */
  bool reassign = false;                   /* a new class takes table entries nearer to it */
  bool verbose = false;
  bool palette = false;                    /* a palette input: its colours are clustered */
  bool keepEmpty = false;                  /* the final pass keeps class numbers */
  int method = ISO_FIRST;
  std::vector<int> sortOrder;              /* band positions, 0-based */
  int pass = 0;
  long hit = 0, find = 0, total = 0;
  std::string featurePath = "iso.ftr";
  std::string source;                      /* the -in text */
  int nc = 0, ncMax = 128, nr = 10, sk = 2;
  float meterFraction = 0;
  double D = -1, nearD = 0;                /* exclusion and early-accept distances */
  double cv = 0.05;
  double rms = kIsoHuge, wcv = 0, stability = 0;
  int n = 0;                               /* vector length */
  std::vector<int32_t> bands;              /* the work's bands, 0-based */
  std::vector<float> invScale;             /* 1 / standard deviation; 0 for a flat band */
  std::vector<float> pixels;               /* n x c */
  std::vector<unsigned char> classRow;     /* c */
  PTABLE *table = nullptr;                 /* table mode when it has entries */
  std::vector<int16_t> classTable;         /* per entry, -1 while unknown */
  std::vector<int32_t> entryOf;            /* the entry of every input pixel, or empty */
  std::vector<IsoClass> classes;           /* nc of them in use */
  std::vector<float> scaled;               /* band-major means x 1 / scale, for isoNearest */
  std::vector<float> scaledX;              /* isoNearest's work row */
  IsoRound round;
  IsoBounds bounds;

  bool tableMode() const { return table && !classTable.empty(); }
};

/* Passes (isocluster.cpp). */
void isoSyncMeans(IsoWork *w);
int isoNearest(IsoWork *w, const float *x);
int isoNearestBytes(IsoWork *w, const unsigned char *x);
void isoAddSamples(IsoWork *w, int k, const float *x, double times);
void isoImageClassify(IsoWork *w, int step, bool allowNew, bool write);
double isoUpdateClasses(IsoWork *w);
void isoSpeed(IsoWork *w);
void isoClearTableClasses(IsoWork *w);
void isoSetClass(IsoClass *k, int n, const float *mean, int32_t count);
void isoPrintClasses(IsoWork *w, int flag);
int isoSearch(const IsoWork *w, const float *x, float *__restrict xs, float *distance);
void isoSearchBlock(const IsoWork *w, const float *x, int count, int16_t *found, float *distance);
void isoPrepareBounds(IsoWork *w, int step, int64_t samples);
void isoSearchBounded(const IsoWork *w, const float *x, int count, int16_t *found, float *distance,
                      uint8_t *classOf, uint16_t *lower);
bool isoMakesClass(const IsoWork *w, int bi, float best);

/* Initial classes (isoinit.cpp). */
int isoInit(IsoWork *w);
void isoFirstInit(IsoWork *w);
void isoEqualInit(IsoWork *w);
void isoPopularInit(IsoWork *w);
void isoSpecBinning(IsoWork *w);
void isoSpecBinningDirect(IsoWork *w);
void isoReclusterBins(IsoWork *w);
int isoSmallestClass(const IsoWork *w);
void isoReassignTable(IsoWork *w);
int isoBinBase(int64_t a, int m);
int64_t isoBinRadix(int m, int k, int64_t *multiplier);
int isoBinOf(double v, double lo, double hi, int B, bool isByte);
int isoAddToNearest(IsoWork *w, const float *x, double times);
int isoMergeClosest(IsoWork *w);
void isoSortClasses(IsoWork *w);

}  // namespace vesk

#endif
