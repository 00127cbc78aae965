/*
 * classify.cpp --
 *     The "classify" module of rimage: supervised classification of a
 *     window of an image against the classes of a statistics feature
 *     file, by nearest mean (squared Euclidean or city-block distance),
 *     by Mahalanobis distance with the log determinant, or by the same
 *     with prior probabilities estimated from the image (Bayes).  Pixels
 *     too far from every class get the class number "unknown", the class
 *     count.
 */
#include <ctype.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/text.h"
#include "core/threads.h"
#include "processing/features.h"
#include "processing/rimage.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "raster/sniffer.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Rows of classifyOptions. */
enum {
  CL_IN, CL_OUT, CL_STAT, CL_IB, CL_OB, CL_O, CL_NORM, CL_TSHD, CL_IR, CL_IC, CL_OR, CL_OC,
  CL_R, CL_C, CL_IMGID, CL_OPTION_COUNT
};

const ModuleOption classifyOptions[] = {
    {"-in", nullptr},   {"-out", nullptr}, {"-stat", nullptr}, {"-ib", nullptr},
    {"-ob", nullptr},   {"-o", nullptr},   {"-norm", nullptr}, {"-tshd", nullptr},
    {"-ir", nullptr},   {"-ic", nullptr},  {"-or", nullptr},   {"-oc", nullptr},
    {"-r", nullptr},    {"-c", nullptr},   {"-imgid", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof classifyOptions / sizeof classifyOptions[0] == CL_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const classifyUsage[] = {
    "where  IN     input rimage ID\n",
    "       OUT    output rimage ID\n",
    "       STAT   statistical file name\n",
    "       IB     input image bands (i.e., 1:2:...n)\n",
    "       OB     output image band\n",
    "       OP     option of classifier: E, P, M, B\n",
    "       NORM   flag of normalization: Y for yes or N for No\n",
    "       TSHD   threshold for unknowns (def: 10)\n",
    "       IR     start row of the input image\n",
    "       IC     start column of the input image\n",
    "       OR     start row of the output image\n",
    "       OC     start column of the output image\n",
    "       R      the number of rows to process\n",
    "       C      the number of columns to process\n",
    "       IMGID  output image id\n",
};

/* Decision rules, in the order of their option words. */
enum ClassifyRule { RULE_EUCLIDEAN = 1, RULE_PARALLELPIPE, RULE_MAHALANOBIS, RULE_BAYES };
const char *const ruleNames[] = {"EUCLIDEAN", "PARALLELPIPE", "MAHALANOBIS", "BAYES"};

/* Selected input bands at most. */
constexpr int kMaxClassifyBands = 8192;

/* The imgids a created output may have. */
const int outputImgids[] = {IMG_BSQ, IMG_BIL, IMG_BIP, IMG_DIB, IMG_TIFF, IMG_GEOTIFF,
                            IMG_BSQD, IMG_BILD, IMG_BIPD};

/* The module's work record; owns the images and the feature set while parsing. */
struct ClassifyWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  std::vector<int> bands;       /* selected input bands, 0-based */
  std::vector<int> positions;   /* each band's place in the feature set's band list */
  int m = 0;                    /* selected band count */
  int outBand = 0;              /* 0-based */
  int normalize = 0;            /* accepted and kept; no step uses it */
  int rule = RULE_EUCLIDEAN;
  int ir = 0, ic = 0, orow = 0, oc = 0;
  int c = 0, r = 0;             /* window columns and rows */
  float threshold = 0;          /* T squared */
  FeatureSet *set = nullptr;
};

/*
 * The class table.  Per class, contiguous: m variances (rules 1 and 2) or
 * the m x m inverse covariance (rules 3 and 4), m means, the log
 * determinant, the prior term and a pixel count.
 */
struct ClassTable {
  int rule = 0;
  int K = 0;                    /* classes; K is also "unknown" */
  int m = 0;
  int matrixStride = 0;         /* m or m x m */
  int meanStride = 0;           /* m */
  float E = 0;                  /* threshold of the rule's value */
  std::vector<float> matrix;
  std::vector<float> mean;
  std::vector<float> logDet;
  std::vector<float> prior;
  std::vector<int32_t> count;   /* pixels per class, summed over the tallies */
};

/* One thread's share of a pass: the rule's scratch and its class counts. */
struct ClassTally {
  std::vector<float> work;      /* m floats */
  std::vector<int32_t> count;   /* pixels per class */
  explicit ClassTally(const ClassTable &t)
      : work(static_cast<size_t>(t.m)), count(static_cast<size_t>(t.K), 0) {}
};

/* Picks the best class from the values of the rule's measure. */
template <class Measure>
inline int bestClass(const ClassTable *t, ClassTally *tally, Measure &&measure) {
  float best = 3.4028235e38f;
  int winner = t->K;
  for (int k = 0; k < t->K; k++) {
    float value = measure(k);
    if (value < best) {
      best = value;
      winner = k;
    }
  }
  if (winner == t->K || best >= t->E) return t->K;
  tally->count[winner]++;
  return winner;
}

/* (x - mean)' inverse (x - mean) of class k, in single precision. */
inline float mahalanobisTerm(const float *x, const ClassTable *t, ClassTally *tally, int k) {
  const int m = t->m;
  const float *mean = &t->mean[static_cast<size_t>(k) * t->meanStride];
  const float *inv = &t->matrix[static_cast<size_t>(k) * t->matrixStride];
  float *d = tally->work.data();
  for (int b = 0; b < m; b++) d[b] = x[b] - mean[b];
  float sum = 0;
  for (int i = 0; i < m; i++) {
    const float *row = inv + static_cast<size_t>(i) * m;
    float inner = 0;
    for (int j = 0; j < m; j++) inner += row[j] * d[j];
    sum += d[i] * inner;
  }
  return sum;
}

}  // namespace

/* ---- rules: the class number 0 .. K - 1, or K for unknown ---- */

int euclideanRule(const float *x, const ClassTable *t, ClassTally *tally) {
  return bestClass(t, tally, [&](int k) {
    const float *mean = &t->mean[static_cast<size_t>(k) * t->meanStride];
    float sum = 0;
    for (int b = 0; b < t->m; b++) {
      float d = x[b] - mean[b];
      sum += d * d;
    }
    return sum;
  });
}

int cityBlockRule(const float *x, const ClassTable *t, ClassTally *tally) {
  return bestClass(t, tally, [&](int k) {
    const float *mean = &t->mean[static_cast<size_t>(k) * t->meanStride];
    float sum = 0;
    for (int b = 0; b < t->m; b++) sum += fabsf(x[b] - mean[b]);
    return sum;
  });
}

int mahalanobisRule(const float *x, const ClassTable *t, ClassTally *tally) {
  return bestClass(t, tally, [&](int k) { return t->logDet[k] + mahalanobisTerm(x, t, tally, k); });
}

int bayesRule(const float *x, const ClassTable *t, ClassTally *tally) {
  return bestClass(t, tally, [&](int k) {
    return t->logDet[k] + mahalanobisTerm(x, t, tally, k) - t->prior[k];
  });
}

void freeClassTable(ClassTable *table) { delete table; }

/*
 * createClusters --
 *     The class table of the set's items over the selected positions:
 *     means, and variances or inverse covariances with log determinants.
 * Results:      the table, or null after the messages of the classes
 *               whose covariance could not be inverted.
 */
ClassTable *createClusters(FeatureSet *set, int rule, float tSquared, const int *positions,
                           int m) {
  ClassTable *t = new (std::nothrow) ClassTable;
  if (!t) {
    vesk_fprintf(stderr, "Error in gmemAlloc - createClusters.\n");
    return nullptr;
  }
  try {
    const int K = getFeatureInfo(set, 1);
    const bool full = rule >= RULE_MAHALANOBIS;
    t->rule = rule;
    t->K = K;
    t->m = m;
    t->matrixStride = full ? m * m : m;
    t->meanStride = m;
    if (full) {
      t->E = tSquared;
    } else {
      t->E = static_cast<float>(m) * tSquared;
      if (rule == RULE_EUCLIDEAN) t->E *= t->E;
    }
    t->matrix.assign(static_cast<size_t>(K) * t->matrixStride, 0.0f);
    t->mean.assign(static_cast<size_t>(K) * m, 0.0f);
    t->logDet.assign(static_cast<size_t>(K), 0.0f);
    t->prior.assign(static_cast<size_t>(K), 0.0f);
    t->count.assign(static_cast<size_t>(K), 0);
    int failures = 0;
    StatItem item;
    std::vector<double> a(full ? static_cast<size_t>(m) * m : 0);
    for (int k = 0; k < K; k++) {
      readStatItem(set, k, &item);
      float *mean = &t->mean[static_cast<size_t>(k) * m];
      float *matrix = &t->matrix[static_cast<size_t>(k) * t->matrixStride];
      for (int b = 0; b < m; b++) mean[b] = static_cast<float>(item.mean[positions[b]]);
      if (!full) {
        for (int b = 0; b < m; b++)
          matrix[b] = static_cast<float>(item.cov[packedIndex(positions[b], positions[b])]);
        continue;
      }
      for (int i = 0; i < m; i++)
        for (int j = 0; j < m; j++)
          a[static_cast<size_t>(i) * m + j] = item.cov[packedIndex(positions[i], positions[j])];
      double det = dgb(a.data(), m);
      if (det > 0) {
        for (size_t i = 0; i < a.size(); i++) matrix[i] = static_cast<float>(a[i]);
        t->logDet[k] = static_cast<float>(log(std::max(det, 2.2250738585072014e-308)));
      } else {
        vesk_fprintf(stderr, "Error in inverting:%d\n", k);
        failures++;
      }
    }
    if (failures) {
      vesk_fprintf(stderr, "Total Errors in invertStateItem:%d\n", failures);
      delete t;
      return nullptr;
    }
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in gmemAlloc - createClusters.\n");
    delete t;
    return nullptr;
  }
  return t;
}

namespace {

/*
 * The class numbers of one row's pixels (m values a pixel) into out.  A
 * function of its own (inside the block's loop the class loop's counter
 * went to the stack), its loops aligned to 32 bytes: the short band loop
 * ran a tenth slower where it happened to straddle a boundary.
 */
template <int (*Rule)(const float *, const ClassTable *, ClassTally *)>
__attribute__((noinline, optimize("align-loops=32"))) void classifyRow(
    const float *pixels, int columns, int m, const ClassTable *t, ClassTally *tally, float *out) {
  for (int j = 0; j < columns; j++)
    out[j] = static_cast<float>(Rule(pixels + static_cast<size_t>(j) * m, t, tally));
}

/*
 * classifyRows --
 *     The window's rows through one rule, in rounds: each round's rows
 *     read over the selected bands on this thread (a FLOAT memory input's
 *     gathered by the workers where its lines lie), classified in blocks
 *     of rows on the worker pool (a pixel's class depends on that pixel
 *     alone; each block counts its classes apart and the counts are
 *     summed), and the class numbers written to the output band in order.
 */
template <int (*Rule)(const float *, const ClassTable *, ClassTally *)>
int classifyRows(ClassifyWork *w, ClassTable *t, const char *meterName, bool write) {
  const int m = w->m, columns = w->c;
  const size_t rowFloats = static_cast<size_t>(m) * columns;
  const int grain = rowGrain(static_cast<long long>(columns) * std::max(t->K, 1) *
                             (t->rule >= RULE_MAHALANOBIS ? m * m : m));
  /* Rounds of rows: every thread gets a few blocks, and the rows read
     are still in the cache when they are classified. */
  const int round = static_cast<int>(std::clamp<long long>(
      std::max<long long>(static_cast<long long>(grain) * workerCount() * 4,
                          (1LL << 16) / std::max<long long>(1, rowFloats + columns)),
      1, std::max(w->r, 1)));
  std::unique_ptr<float[]> pixels, classes;
  std::vector<const float *> lines(static_cast<size_t>(round) * m);
  try {
    classes.reset(new float[static_cast<size_t>(round) * columns]);
  } catch (const std::bad_alloc &) {
    return 0;
  }
  std::mutex countLock;
  RowMeter meter(meterName);
  meter.threshold = meterInc();
  for (int i0 = 0; i0 < w->r; i0 += round) {
    const int n = std::min(round, w->r - i0);
    bool direct = w->in->header.nindices == 0 && w->ic >= 0 &&
                  int64_t{w->ic} + columns <= w->in->header.columns;
    for (int k = 0; k < n && direct; k++)
      for (int b = 0; b < m && direct; b++)
        direct = (lines[static_cast<size_t>(k) * m + b] =
                      residentFloatLine(w->in, w->ir + i0 + k, w->bands[b])) != nullptr;
    if (!direct) {
      try {
        if (!pixels) pixels.reset(new float[rowFloats * round]);
      } catch (const std::bad_alloc &) {
        return 0;
      }
      for (int k = 0; k < n; k++)
        getFloatBIPData(w->in, w->ir + i0 + k, w->ic, columns, 1, m, w->bands.data(),
                        pixels.get() + rowFloats * k);
    }
    parallelRows(n, grain, [&](int first, int end) {
      ClassTally tally(*t);
      std::vector<float> gathered(direct ? rowFloats : 0);
      for (int k = first; k < end; k++) {
        const float *row = pixels.get() + rowFloats * k;
        if (direct) {
          for (int b = 0; b < m; b++) {
            const float *line = lines[static_cast<size_t>(k) * m + b] + w->ic;
            for (int j = 0; j < columns; j++) gathered[static_cast<size_t>(j) * m + b] = line[j];
          }
          row = gathered.data();
        }
        classifyRow<Rule>(row, columns, m, t, &tally,
                          classes.get() + static_cast<size_t>(k) * columns);
      }
      std::lock_guard<std::mutex> hold(countLock);
      for (int c = 0; c < t->K; c++) t->count[c] += tally.count[c];
    });
    for (int k = 0; k < n; k++) {
      if (write)
        putFloatBILData(w->out, w->orow + i0 + k, w->oc, columns, w->outBand,
                        classes.get() + static_cast<size_t>(k) * columns);
      meter.row(i0 + k + 1, w->r);
    }
  }
  meterSet(meterName, 1.0f);
  return 1;
}

}  // namespace

/*
 * calcPrior --
 *     The prior terms of the Bayes rule: the window classified by
 *     city-block distance counts the pixels of each class; a class with
 *     n pixels of S gets 2 ln(n / S), one without pixels 0; the threshold
 *     is then lowered by the mean prior term.
 * Results:      1, or 0 when the row buffer cannot be had.
 */
int calcPrior(ClassifyWork *w, ClassTable *t) {
  if (!classifyRows<cityBlockRule>(w, t, "calcPrior", false)) {
    vesk_fprintf(stderr, "Error in gmemAlloc: calcPrior\n");
    return 0;
  }
  double S = 0;
  for (int k = 0; k < t->K; k++) S += t->count[k];
  float sum = 0;
  for (int k = 0; k < t->K; k++) {
    t->prior[k] = t->count[k] > 0 ? static_cast<float>(2 * log(t->count[k] / S)) : 0.0f;
    sum += t->prior[k];
    t->count[k] = 0;
  }
  if (t->K > 0) t->E -= sum / static_cast<float>(t->K);
  return 1;
}

/* classifyGeneric -- the window through the table's rule. Results: 1, or 0 without memory. */
int classifyGeneric(ClassifyWork *w, ClassTable *t) {
  int done = 0;
  switch (t->rule) {
  case RULE_EUCLIDEAN: done = classifyRows<euclideanRule>(w, t, "classify", true); break;
  case RULE_PARALLELPIPE: done = classifyRows<cityBlockRule>(w, t, "classify", true); break;
  case RULE_MAHALANOBIS: done = classifyRows<mahalanobisRule>(w, t, "classify", true); break;
  default: done = classifyRows<bayesRule>(w, t, "classify", true); break;
  }
  if (!done) vesk_fprintf(stderr, "Error in gmemAlloc: classifyGeneric\n");
  return done;
}

/*
 * writeClassPalette --
 *     Colours the output's palette from the class means over at most three
 *     bands (meanOf(k, j) is class k's mean in the j-th of `bands`),
 *     stretched by the band statistics of `in` when `stretch` is set
 *     (mean +- 2.5 standard deviations within the band's range); entries
 *     past the classes are black.  The palette is written into the file's
 *     header.
 */
void writeClassPalette(RAMIMG *in, RAMIMG *out, const int *bands, int nbands, int classes,
                       bool stretch, const std::function<double(int, int)> &meanOf) {
  ImageHeader &h = out->header;
  if (h.nindices <= 0) return;
  const int entries = std::min(h.nindices, 256);
  const int p = std::min(nbands, 3);
  double lo[3] = {0, 0, 0}, hi[3] = {1, 1, 1};
  for (int j = 0; stretch && j < p; j++) {
    double s = 0, mean = 0, minimum = 0, maximum = 0;
    ramImageBandStats(in, bands[j], &s, &mean, &minimum, &maximum);
    if (s == 0) s = 3.4028234663852886e38;
    lo[j] = std::max(mean - 2.5 * s, minimum);
    hi[j] = std::min(mean + 2.5 * s, maximum);
    if (hi[j] - lo[j] == 0) hi[j] = lo[j] + 1e-17;
  }
  for (int k = 0; k < entries; k++) {
    unsigned char rgb[3] = {0, 0, 0};
    if (k < classes) {
      for (int j = 0; j < p; j++) {
        const double mean = meanOf(k, j);
        const int v = stretch ? roundToInt((mean - lo[j]) / (hi[j] - lo[j]) * 255) : roundToInt(mean);
        rgb[j] = static_cast<unsigned char>(std::clamp(v, 0, 255));
      }
      if (p == 1) rgb[1] = rgb[2] = rgb[0];
    }
    memcpy(h.palette[k], rgb, 3);
  }
  if (out->fd >= 0) writeImageHeader(out->fd, 0, &h);
}

namespace {

/* Ends a failed parse: everything the work record holds is released. */
int classifyParseFailure(ClassifyWork *w) {
  if (w->in) closeRAMImage(w->in, nullptr);
  if (w->out) closeRAMImage(w->out, nullptr);
  freeFeature(w->set);
  w->in = w->out = nullptr;
  w->set = nullptr;
  return 0;
}


}  // namespace

/*
 * openClassOutput --
 *     The output of a classifier: an existing image, else a new one-band
 *     BYTE image with the input's head, a grey palette of 256 entries and
 *     the imgid asked for (DIB by default).
 * Results:      the image, or null after a message.
 */
RAMIMG *openClassOutput(RAMIMG *in, const char *word, const char *imgidWord) {
  int err = 0;
  RAMIMG *image = openRAMImage(word, word, nullptr, nullptr, &err);
  if (image) return image;
  ImageHeader h = in->header;
  if (strlen(word) >= sizeof h.path) {
    vesk_fprintf(stderr, "Error in open %s\n", word);
    return nullptr;
  }
  strcpy(h.path, word);
  h.pixelid = P_BYTE;
  h.bits = 8;
  h.imgid = IMG_DIB;
  h.nbands = 1;
  h.nindices = 256;
  h.offset = 0;
  h.block = 0;
  h.altFd = -1;
  h.volumes = 0;
  h.readerFlag = 0;
  setGreyRamp(&h, 256);
  if (imgidWord) {
    int id = getImgid(imgidWord);
    if (std::find(std::begin(outputImgids), std::end(outputImgids), id) == std::end(outputImgids)) {
      vesk_fprintf(stderr, "Invalid imgid.\n");
      return nullptr;
    }
    h.imgid = id;
  }
  image = openRAMImageNew(&h, nullptr, 1, &err);
  if (!image) {
    vesk_fprintf(stderr, "Error in open %s\n", word);
    printRAMImageError(err);
  }
  return image;
}


/*
 * parseClassifyOptions --
 *     Fills the work record from the option words: opens the feature set
 *     and both images and checks the bands and the window.
 * Results:      1; 0 after the message of the first fault, with nothing
 *               left open.
 */
int parseClassifyOptions(ClassifyWork *w, int argc, const char **argv) {
  ModuleOption o[CL_OPTION_COUNT + 1];
  std::copy(std::begin(classifyOptions), std::end(classifyOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_printf("Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  w->rule = RULE_EUCLIDEAN;
  w->normalize = 0;
  float T = 10;

  if (const char *word = o[CL_O].value) {
    w->rule = 0;
    size_t length = strlen(word);
    for (int i = 0; i < 4 && !w->rule; i++)
      if (strncmp(word, ruleNames[i], length) == 0) w->rule = i + 1;
    if (!w->rule) {
      vesk_fprintf(stderr, "Unknown option: %s\n", word);
      return 0;
    }
  }
  if (const char *word = o[CL_NORM].value) {
    if (compareNoCase(word, "Y") == 0) w->normalize = 1;
    else if (compareNoCase(word, "N") == 0) w->normalize = 0;
  }

  if (!o[CL_STAT].value) {
    vesk_fprintf(stderr, "stat missing!\n");
    return 0;
  }
  w->set = getFeature(o[CL_STAT].value, kStatTag);
  if (!w->set) {
    vesk_fprintf(stderr, "Error in open stat: %s\n", o[CL_STAT].value);
    return 0;
  }

  if (!o[CL_IN].value) {
    vesk_fprintf(stderr, "Input image missing!\n");
    return classifyParseFailure(w);
  }
  int err = 0;
  w->in = openRAMImage(o[CL_IN].value, o[CL_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open %s\n", o[CL_IN].value);
    return classifyParseFailure(w);
  }
  if (!o[CL_OUT].value) {
    vesk_fprintf(stderr, "Output image missing!\n");
    return classifyParseFailure(w);
  }
  w->out = openClassOutput(w->in, o[CL_OUT].value, o[CL_IMGID].value);
  if (!w->out) return classifyParseFailure(w);
  const ImageHeader &in = w->in->header;
  const ImageHeader &out = w->out->header;

  w->outBand = (o[CL_OB].value ? atoi(o[CL_OB].value) : 1) - 1;
  if (w->outBand < 0 || w->outBand >= out.nbands) {
    vesk_fprintf(stderr, "Output band out of range.\n");
    return classifyParseFailure(w);
  }

  const int n = getFeatureInfo(w->set, 4);
  const char *ib = o[CL_IB].value;
  if (ib && isdigit(static_cast<unsigned char>(ib[0]))) {
    w->bands.resize(kMaxClassifyBands);
    int count = parseNumberList(ib, w->bands.data(), kMaxClassifyBands);
    bool good = count > 0 && count <= in.nbands;
    for (int i = 0; good && i < count; i++) {
      if (w->bands[i] < 1 || w->bands[i] > in.nbands) good = false;
      else w->bands[i]--;
    }
    if (!good) {
      vesk_fprintf(stderr, "Illegal band number.\n");
      return classifyParseFailure(w);
    }
    w->bands.resize(static_cast<size_t>(count));
  } else {
    w->bands.resize(static_cast<size_t>(std::min(n, kMaxClassifyBands)));
    for (size_t i = 0; i < w->bands.size(); i++)
      w->bands[i] = getFeatureBand(w->set, static_cast<int>(i));
  }
  w->m = static_cast<int>(w->bands.size());
  std::vector<int> sorted = w->bands;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
    vesk_fprintf(stderr, "Duplicated input band.\n");
    return classifyParseFailure(w);
  }
  w->positions.assign(static_cast<size_t>(w->m), -1);
  for (int i = 0; i < w->m; i++) {
    for (int j = 0; j < n && w->positions[i] < 0; j++)
      if (getFeatureBand(w->set, j) == w->bands[i]) w->positions[i] = j;
    if (w->positions[i] < 0) {
      vesk_fprintf(stderr, "Input band %d is not found in features.\n", w->bands[i] + 1);
      return classifyParseFailure(w);
    }
  }
  /* Bands the set names may lie outside the input: those are refused too. */
  for (int i = 0; i < w->m; i++) {
    if (w->bands[i] < 0 || w->bands[i] >= in.nbands) {
      vesk_fprintf(stderr, "Illegal band number.\n");
      return classifyParseFailure(w);
    }
  }

  if (o[CL_TSHD].value) T = static_cast<float>(atof(o[CL_TSHD].value));
  w->threshold = T * T;

  w->ir = o[CL_IR].value ? static_cast<int>(atol(o[CL_IR].value)) : 0;
  w->ic = o[CL_IC].value ? static_cast<int>(atol(o[CL_IC].value)) : 0;
  w->orow = o[CL_OR].value ? static_cast<int>(atol(o[CL_OR].value)) : 0;
  w->oc = o[CL_OC].value ? static_cast<int>(atol(o[CL_OC].value)) : 0;
  const char *range = nullptr;
  if (w->ir < 0 || w->ir >= in.rows) range = "input start row out of range.\n";
  else if (w->ic < 0 || w->ic >= in.columns) range = "input start colum out of range.\n";
  else if (w->orow < 0 || w->orow >= out.rows) range = "output start row out of range.\n";
  else if (w->oc < 0 || w->oc >= out.columns) range = "output start column out of range.\n";
  if (range) {
    vesk_fprintf(stderr, "%s", range);
    return classifyParseFailure(w);
  }
  w->r = o[CL_R].value ? static_cast<int>(atol(o[CL_R].value)) : in.rows;
  w->c = o[CL_C].value ? static_cast<int>(atol(o[CL_C].value)) : in.columns;
  w->r = std::max(0, std::min({w->r, in.rows - w->ir, out.rows - w->orow}));
  w->c = std::max(0, std::min({w->c, in.columns - w->ic, out.columns - w->oc}));
  return 1;
}

/* The output's palette from the class table's means over the selected bands. */
void setClassPalette(ClassifyWork *w, ClassTable *t) {
  writeClassPalette(w->in, w->out, w->bands.data(), w->m, t->K, !readsAsBytes(w->in->header),
                    [t](int k, int j) {
                      return t->mean[static_cast<size_t>(k) * t->meanStride + j];
                    });
}

/*
 * runClassify --
 *     Builds the class table, colours the output's palette, classifies the
 *     window and closes both images whatever happened.
 * Results:      1 when the window was classified, else 0.
 */
int runClassify(ClassifyWork *w) {
  ClassTable *t = createClusters(w->set, w->rule, w->threshold, w->positions.data(), w->m);
  int result = 0;
  if (t) setClassPalette(w, t);
  freeFeature(w->set);
  w->set = nullptr;
  if (t) {
    if (w->rule != RULE_BAYES || calcPrior(w, t)) result = classifyGeneric(w, t);
    freeClassTable(t);
  }
  closeRAMImage(w->in, nullptr);
  closeRAMImage(w->out, nullptr);
  w->in = w->out = nullptr;
  meterReset();
  return result;
}

/*
 * classifyModule --
 *     "rimage classify -in IN -out OUT -stat STAT ...".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int classifyModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -stat STAT -ib IB -ob OB -o OP -norm NORM -tshd TSHD "
                "-ir IR -ic IC -or OR -oc OC -r R -c C -imgid IMGID\n",
                prog);
    for (const char *line : classifyUsage) vesk_printf("%s", line);
    return 2;
  }
  ClassifyWork work;
  if (!parseClassifyOptions(&work, argc, argv)) return 0;
  return runClassify(&work);
}

}  // namespace vesk
