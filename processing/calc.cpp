/*
 * calc.cpp --
 *     The "calc" module of rimage: an output image computed pixel by pixel
 *     from listed bands of an input with one of eight band-arithmetic
 *     functions (ratios, stretch, de-vignetting, linear combination,
 *     averaging, normalisation).  All arithmetic is in floats; the float
 *     writers round and clamp into the output's pixel type.
 */
#include <float.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <algorithm>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/text.h"
#include "core/threads.h"
#include "processing/rimage.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

enum {
  CA_IN, CA_OUT, CA_OB, CA_B, CA_PAR, CA_F, CA_IMGID, CA_PIXEL, CA_NBANDS, CA_OPTION_COUNT
};
const ModuleOption calcOptions[] = {
    {"-in", nullptr},  {"-out", nullptr},   {"-ob", nullptr},
    {"-b", nullptr},   {"-par", nullptr},   {"-f", nullptr},
    {"-imgid", nullptr}, {"-pixel", nullptr}, {"-nbands", nullptr},
    {nullptr, nullptr},
};
static_assert(sizeof calcOptions / sizeof calcOptions[0] == CA_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const calcUsage[] = {
    "    where\n",
    "    IN        the input image file;\n",
    "    OUT       the output image file;\n",
    "    FNM       the name of the function module:\n",
    "                 DRATIO    band differencial ratio\n",
    "                 RATIO     two band ratio\n",
    "                 NRATIO    normalized two band ratio\n",
    "                 STRETCH   linear stretch;\n",
    "                 DEV       de-vignetting;\n",
    "                 LINEAR    linear combination;\n",
    "                 AVG       averaging;\n",
    "                 NORM      normalize\n",
    "    BNDS      the input bands: b1,b2,... (module dependent);\n",
    "    OBNDS     the band of the output file;\n",
    "    PARS      the input parametes: p1,p2...(module depedent);\n",
};

enum CalcFunction { F_DRATIO, F_RATIO, F_NRATIO, F_STRETCH, F_DEV, F_LINEAR, F_AVG, F_NORM };
const char *const calcNames[] = {"dratio", "ratio",  "nratio", "stretch",
                                 "dev",    "linear", "avg",    "norm"};
const char *const calcMeters[] = {"dratio", "radio",  "nradio", "stretch",
                                  "dev",    "linear", "pavg",   "normalize"};

constexpr int kCalcBands = 8192;
constexpr int kCalcParams = 16384;

struct CalcWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  int function = 0;
  int rows = 0, columns = 0;
  int inBands = 0, outBands = 0;   /* band counts of the images */
  std::vector<int> ib, ob, pb;     /* 0-based input, output and norm parameter bands */
  std::vector<float> P;
  std::vector<float> inRow, outRow;
};

/* The option words the function parsers read. */
struct CalcTexts {
  const char *b, *ob, *par;
};

/* A list of longs from text; the count in the text, which may exceed capacity. */
int readLongs(const char *text, std::vector<long> *values, int capacity) {
  values->assign(static_cast<size_t>(capacity), 0);
  int n = passLongs(text, values->data(), capacity);
  values->resize(static_cast<size_t>(std::max(0, std::min(n, capacity))));
  return n;
}
int readFloats(const char *text, std::vector<float> *values, int capacity) {
  values->assign(static_cast<size_t>(capacity), 0);
  int n = passFloats(text, values->data(), capacity);
  values->resize(static_cast<size_t>(std::max(0, std::min(n, capacity))));
  return n;
}

/* Prints a message; 0. */
int calcFail(const char *name, const char *text) {
  vesk_fprintf(stderr, "%s%s", name, text);
  return 0;
}

/*
 * The input bands: a fixed count (exact > 0), or up to the input's count
 * (exact 0; none listed: all of them).
 */
int parseInputBands(CalcWork *w, const char *text, int exact, const char *fn,
                    const char *countMessage) {
  if (!text) {
    const int n = exact > 0 ? exact : w->inBands;
    w->ib.clear();
    for (int i = 0; i < n; i++) w->ib.push_back(i);
  } else {
    std::vector<long> v;
    const int n = readLongs(text, &v, kCalcBands);
    if (exact > 0 ? n != exact : (n > w->inBands || n > kCalcBands || n < 1))
      return calcFail(fn, countMessage);
    w->ib.clear();
    for (long b : v) w->ib.push_back(b >= 1 && b <= w->inBands ? static_cast<int>(b - 1) : -1);
  }
  for (int b : w->ib)
    if (b < 0 || b >= w->inBands) return calcFail(fn, ": Input band out of range.\n");
  return 1;
}

/* One output band (default 1), within the output. */
int parseOneOutputBand(CalcWork *w, const char *text, const char *fn, const char *message) {
  long band = 1;
  if (text) {
    std::vector<long> v;
    if (readLongs(text, &v, kCalcBands) != 1) return calcFail(fn, message);
    band = v[0];
  }
  if (band < 1 || band > w->outBands) return calcFail(fn, message);
  w->ob.assign(1, static_cast<int>(band - 1));
  return 1;
}

/* As many output bands as input bands (default 1 .. n), within the output. */
int parseMatchingOutputBands(CalcWork *w, const char *text, const char *fn) {
  const size_t n = w->ib.size();
  w->ob.clear();
  if (!text) {
    for (size_t i = 0; i < n; i++) w->ob.push_back(static_cast<int>(i));
  } else {
    std::vector<long> v;
    if (readLongs(text, &v, kCalcBands) != static_cast<int>(n))
      return calcFail(fn, ": Inconsistant output and input bands.\n");
    for (long b : v) w->ob.push_back(b >= 1 && b <= w->outBands ? static_cast<int>(b - 1) : -1);
  }
  for (int b : w->ob)
    if (b < 0 || b >= w->outBands) return calcFail(fn, ": Output band is out of range.\n");
  return 1;
}

/* Parameters over defaults: the count read must pass accept(count). */
template <class Accept>
int parseParams(CalcWork *w, const char *text, std::vector<float> defaults, const char *fn,
                const char *message, Accept accept) {
  w->P = std::move(defaults);
  if (!text) return 1;
  std::vector<float> v;
  const int n = readFloats(text, &v, kCalcParams);
  if (n > kCalcParams || !accept(n)) return calcFail(fn, message);
  if (w->P.size() < v.size()) w->P.resize(v.size());
  std::copy(v.begin(), v.end(), w->P.begin());
  return 1;
}

/* A band list of parseNumberList into 0-based bands; -1 when malformed or too long. */
int numberList(const char *text, int all, std::vector<int> *out) {
  out->clear();
  if (!text) {
    for (int i = 0; i < all; i++) out->push_back(i);
    return all;
  }
  std::vector<int> v(kCalcBands);
  const int n = parseNumberList(text, v.data(), kCalcBands);
  if (n < 0) return -1;
  for (int i = 0; i < n; i++) out->push_back(v[static_cast<size_t>(i)] - 1);
  return n;
}

int parseFunction(CalcWork *w, const CalcTexts &t) {
  const int n = static_cast<int>(w->inBands);
  switch (w->function) {
  case F_DRATIO:
    return parseInputBands(w, t.b, 4, "dratio", ": Input bands must be four.\n") &&
           parseOneOutputBand(w, t.ob, "dratio", ": Output band must be 1.\n") &&
           parseParams(w, t.par, {1, 0}, "dratio", ": Invalid parameter(s).\n",
                       [](int k) { return k == 2; });
  case F_RATIO:
    return parseInputBands(w, t.b, 2, "ratio", ": Input bands must be two.\n") &&
           parseOneOutputBand(w, t.ob, "ratio", ": invalid output band.\n") &&
           parseParams(w, t.par, {1, 0, 0, 0}, "ratio", ": Invalid parameter(s).\n",
                       [](int k) { return k == 2 || k == 4; });
  case F_NRATIO:
    return parseInputBands(w, t.b, 2, "nratio", ": Input bands must be two.\n") &&
           parseOneOutputBand(w, t.ob, "nratio", ": invalid output band.\n") &&
           parseParams(w, t.par, {0, 0, 1, 1, 0}, "nratio", ": Invalid parameter(s).\n",
                       [](int k) { return k < 6; });
  case F_STRETCH: {
    if (!parseInputBands(w, t.b, 0, "stretch", ": Too many input bands.\n") ||
        !parseMatchingOutputBands(w, t.ob, "stretch"))
      return 0;
    const int m = static_cast<int>(w->ib.size());
    std::vector<float> d;
    for (int k = 0; k < m; k++) d.insert(d.end(), {1.0f, 0.0f});
    return parseParams(w, t.par, d, "stretch", ": Invalide parameter(s).\n",
                       [m](int k) { return k % 2 == 0 && k <= 2 * m; });
  }
  case F_DEV: {
    if (!parseInputBands(w, t.b, 0, "DEV", ": Too many input bands.\n") ||
        !parseMatchingOutputBands(w, t.ob, "DEV") ||
        !parseParams(w, t.par,
                     {2.0f, 1.5f, 50.0f, 8.0f, 0.0068f, 0.0068f,
                      static_cast<float>(w->columns / 2), static_cast<float>(w->rows / 2)},
                     "DEV", ": Invalid parameter(s).\n", [](int k) { return k <= 8; }))
      return 0;
    w->P[0] *= 2;
    return 1;
  }
  case F_LINEAR: {
    if (!parseInputBands(w, t.b, 0, "linear", ": Too many input bands.\n") ||
        !parseOneOutputBand(w, t.ob, "linear", ": output band must be 1.\n"))
      return 0;
    const int m = static_cast<int>(w->ib.size());
    std::vector<float> d(static_cast<size_t>(m), 1.0f / static_cast<float>(m));
    d.push_back(0);
    return parseParams(w, t.par, d, "linear", ": invalide parameter(s).\n",
                       [m](int k) { return k == 0 || k == m + 1; });
  }
  case F_AVG:
    return parseInputBands(w, t.b, 0, "avg", ": Too many input bands.\n") &&
           parseOneOutputBand(w, t.ob, "avg", ": output band must be 1.\n") &&
           parseParams(w, t.par, {FLT_MAX}, "avg", ": invalide parameter(s).\n",
                       [](int k) { return k <= 1; });
  default: { /* F_NORM */
    const int ni = numberList(t.b, n, &w->ib);
    const int no = numberList(t.ob, w->outBands, &w->ob);
    if (ni < 1 || ni != no || ni > n || no > w->outBands)
      return calcFail("", "invalid input/output bands\n");
    for (int b : w->ib)
      if (b < 0 || b >= n) return calcFail("", "input band out of range\n");
    for (int b : w->ob)
      if (b < 0 || b >= w->outBands) return calcFail("", "output band out of range\n");
    /* Parameter bands pick values among the listed input bands. */
    const int np = numberList(t.par, n, &w->pb);
    if (np < 1) return calcFail("", "invalid par specification\n");
    for (int b : w->pb)
      if (b < 0 || b >= n || b >= ni) return calcFail("", "par band out of range\n");
    return 1;
  }
  }
}

/* x, or 1e-30 in place of an exact 0 (a denominator). */
inline float nonZero(float x) { return x == 0.0f ? 1e-30f : x; }

/* One row: the listed input values of each pixel into the output values. */
void calcRow(const CalcWork &w, int row, const float *__restrict in, float *__restrict out) {
  const int n = static_cast<int>(w.ib.size());
  const int no = static_cast<int>(w.ob.size());
  const int columns = w.columns;
  const float *P = w.P.data();
  switch (w.function) {
  case F_DRATIO:
    for (int c = 0; c < columns; c++) {
      const float *x = in + c * 4;
      out[c] = P[1] + P[0] * (x[0] - x[1]) / nonZero(x[2] - x[3]);
    }
    break;
  case F_RATIO:
    for (int c = 0; c < columns; c++) {
      const float *x = in + c * 2;
      out[c] = P[1] + P[0] * (x[0] - P[2]) / nonZero(x[1] - P[3]);
    }
    break;
  case F_NRATIO: {
    const float p0 = P[0], p1 = P[1], p2 = P[2], p3 = P[3], p4 = P[4];
    for (int c = 0; c < columns; c++) {
      const float d = in[2 * c] - p0;
      const float e = (in[2 * c + 1] - p1) * p2;
      const float s = d + e;
      out[c] = p4 + p3 * (d - e) / (s == 0.0f ? 1e-30f : s);
    }
    break;
  }
  case F_STRETCH:
    for (int c = 0; c < columns; c++)
      for (int k = 0; k < n; k++) out[c * no + k] = (in[c * n + k] - P[2 * k + 1]) * P[2 * k];
    break;
  case F_DEV: {
    const float p3sq = nonZero(P[3] * P[3]);
    const float dr = (static_cast<float>(row) - P[7]) * P[5];
    for (int c = 0; c < columns; c++) {
      const float dc = (P[6] - static_cast<float>(c)) * P[4];
      const float g = sqrtf((dr * dr + dc * dc + P[3] * P[3]) / p3sq) - 1.0f;
      const float f = expf(P[0] * g);
      for (int k = 0; k < n; k++) out[c * no + k] = P[1] + f * (in[c * n + k] - P[1]);
    }
    break;
  }
  case F_LINEAR:
    for (int c = 0; c < columns; c++) {
      float s = P[n];
      for (int k = 0; k < n; k++) s += in[c * n + k] * P[k];
      out[c] = s;
    }
    break;
  case F_AVG:
    for (int c = 0; c < columns; c++) {
      float s = 0;
      bool below = true;
      for (int k = 0; k < n; k++) {
        const float x = in[c * n + k];
        if (!(x < P[0])) below = false;
        s += x;
      }
      out[c] = below ? s / static_cast<float>(n) : P[0];
    }
    break;
  default: { /* F_NORM */
    const int np = static_cast<int>(w.pb.size());
    for (int c = 0; c < columns; c++) {
      const float *x = in + c * n;
      float s = 0;
      for (int b : w.pb) s += x[b];
      const float mean = nonZero(s / static_cast<float>(np));
      for (int k = 0; k < n; k++) out[c * no + k] = x[k] / mean;
    }
    break;
  }
  }
}

bool isBsqLayout(const RAMIMG *image) {
  const int id = image->header.imgid;
  return id == IMG_BSQ || id == IMG_BSQD || id == IMG_E74BSQ || id == IMG_MBSQ;
}

/* The input and output rows. Results: false after the message when memory is short. */
bool AllocateMem(CalcWork *w) {
  try {
    w->inRow.assign(static_cast<size_t>(w->columns) * w->ib.size(), 0.0f);
    w->outRow.assign(static_cast<size_t>(w->columns) * w->ob.size(), 0.0f);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error of malloc in AllocateMem.\n");
    return false;
  }
  return true;
}

/*
 * The band lines of a row of a FLOAT memory image without a palette, one
 * per listed band, where they lie; false when a band is not so held.
 */
template <class Line>
bool residentBandLines(RAMIMG *image, int row, const std::vector<int> &bands, Line *lines) {
  if (image->header.nindices > 0) return false;
  for (size_t i = 0; i < bands.size(); i++)
    if (!(lines[i] = residentFloatLine(image, row, bands[i]))) return false;
  return true;
}

/*
 * nratioLines --
 *     calcRow's nratio over two band lines into an output line: the same
 *     operations on each pixel, in the same order (no contraction into
 *     fused multiply-adds, so every machine gives the same floats).
 */
__attribute__((optimize("fp-contract=off", "vect-cost-model=dynamic")))
void nratioLines(const CalcWork &w, const float *__restrict a, const float *__restrict b,
                 float *__restrict out) {
  const float *P = w.P.data();
  const float p0 = P[0], p1 = P[1], p2 = P[2], p3 = P[3], p4 = P[4];
  for (int c = 0; c < w.columns; c++) {
    const float d = a[c] - p0;
    const float e = (b[c] - p1) * p2;
    const float s = d + e;
    out[c] = p4 + p3 * (d - e) / (s == 0.0f ? 1e-30f : s);
  }
}

/*
 * calcRows --
 *     Every row through calcRow, in rounds of rows: each round's input
 *     rows gathered on this thread (or, from a FLOAT memory image, by the
 *     workers where its lines lie), the rows worked out in blocks on the
 *     worker pool (a row's values depend on that row alone), and written
 *     in order (or by the workers into a FLOAT memory output).
 */
void calcRows(CalcWork &w, RowMeter &meter) {
  const int n = static_cast<int>(w.ib.size()), no = static_cast<int>(w.ob.size());
  const size_t columns = static_cast<size_t>(w.columns);
  const int grain = rowGrain(static_cast<long long>(w.columns) * (n + no));
  const int round = static_cast<int>(std::clamp<long long>(
      std::max<long long>(static_cast<long long>(grain) * workerCount() * 4,
                          (1LL << 22) / std::max<long long>(1, columns * (n + no))),
      1, std::max(w.rows, 1)));
  std::vector<const float *> inLines(static_cast<size_t>(round) * n);
  std::vector<float *> outLines(static_cast<size_t>(round) * no);
  std::vector<float> inBlock, outBlock;
  for (int r0 = 0; r0 < w.rows; r0 += round) {
    const int m = std::min(round, w.rows - r0);
    bool directIn = true, directOut = true;
    for (int k = 0; k < m && directIn; k++)
      directIn = residentBandLines(w.in, r0 + k, w.ib, inLines.data() + static_cast<size_t>(k) * n);
    for (int k = 0; k < m && directOut; k++)
      directOut = residentBandLines(w.out, r0 + k, w.ob, outLines.data() + static_cast<size_t>(k) * no);
    if (!directIn) {
      inBlock.resize(static_cast<size_t>(m) * columns * n);
      for (int k = 0; k < m; k++)
        getFloatBIPData(w.in, r0 + k, 0, w.columns, 1, n, w.ib.data(),
                        inBlock.data() + static_cast<size_t>(k) * columns * n);
    }
    if (directOut) {
      for (int k = 0; k < m; k++)
        for (int b : w.ob) setRAMImageDirty(w.out, r0 + k, b);
    } else {
      outBlock.resize(static_cast<size_t>(m) * columns * no);
    }
    // nratio between lines in memory: the kernel reads and writes the
    // lines where they lie (no interleaved copies).
    if (directIn && directOut && w.function == F_NRATIO) {
      parallelRows(m, grain, [&](int first, int end) {
        for (int k = first; k < end; k++)
          nratioLines(w, inLines[static_cast<size_t>(k) * n], inLines[static_cast<size_t>(k) * n + 1],
                      outLines[static_cast<size_t>(k) * no]);
      });
      for (int k = 0; k < m; k++) meter.row(r0 + k + 1, w.rows);
      continue;
    }
    parallelRows(m, grain, [&](int first, int end) {
      std::vector<float> in(directIn ? columns * n : 0), out(directOut ? columns * no : 0);
      for (int k = first; k < end; k++) {
        const float *row = inBlock.data() + static_cast<size_t>(k) * columns * n;
        if (directIn) {
          for (int i = 0; i < n; i++) {
            const float *line = inLines[static_cast<size_t>(k) * n + i];
            for (size_t c = 0; c < columns; c++) in[c * n + i] = line[c];
          }
          row = in.data();
        }
        float *result = directOut ? out.data() : outBlock.data() + static_cast<size_t>(k) * columns * no;
        calcRow(w, r0 + k, row, result);
        if (directOut)
          for (int i = 0; i < no; i++) {
            float *line = outLines[static_cast<size_t>(k) * no + i];
            for (size_t c = 0; c < columns; c++) line[c] = result[c * no + i];
          }
      }
    });
    for (int k = 0; k < m; k++) {
      if (!directOut)
        writeFloatBIPData(w.out, r0 + k, 0, w.columns, no, w.ob.data(),
                          outBlock.data() + static_cast<size_t>(k) * columns * no);
      meter.row(r0 + k + 1, w.rows);
    }
  }
}

void closeCalc(CalcWork *w) {
  if (w->in) closeRAMImage(w->in, nullptr);
  if (w->out) closeRAMImage(w->out, nullptr);
  w->in = w->out = nullptr;
}

}  // namespace

/*
 * openModuleOutput --
 *     Opens an output image named word, or creates it as a file like the
 *     given header with the pixel type, band count and layout asked for
 *     (a negative value keeps the header's).  A file of that name that
 *     exists but cannot be opened is left alone.
 * Results:      the image; null after "Error in create %s.\n" or
 *               "Error in open %s.\n".
 */
RAMIMG *openModuleOutput(const char *word, const ImageHeader &like, int imgid, int pixelid,
                         int nbands, int *err) {
  RAMIMG *image = openRAMImage(word, word, nullptr, nullptr, err);
  if (image) return image;
  /* A file that exists but does not open is not ours to overwrite. */
  if (word[0] && access(word, F_OK) == 0) {
    vesk_fprintf(stderr, "Error in open %s.\n", word);
    return nullptr;
  }
  ImageHeader h = like;
  if (strlen(word) >= sizeof h.path) {
    vesk_fprintf(stderr, "Error in create %s.\n", word);
    return nullptr;
  }
  strcpy(h.path, word);
  if (imgid >= 0) h.imgid = imgid;
  if (pixelid >= 0) {
    h.pixelid = pixelid;
    h.bits = getPixelBits(pixelid);
  }
  if (nbands > 0) h.nbands = nbands;
  if (pixelid >= 0 && pixelid != like.pixelid) h.nindices = 0;
  h.offset = 0;
  h.block = 0;
  h.altFd = -1;
  h.volumes = 0;
  h.readerFlag = 0;
  image = openRAMImageNew(&h, nullptr, 1, err);
  if (!image)
    vesk_fprintf(stderr, *err == VESK_RAMIMG_CREATE_ERROR ? "Error in create %s.\n"
                                                          : "Error in open %s.\n",
                 word);
  return image;
}

/*
 * calcModule --
 *     "rimage calc -in IN -out OUT -f FNM -b BNDS -ob OBNDS -par PARS".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int calcModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("%s -in IN -out OUT -f FNM -b BNDS -ob OBNDS -par PARS\n", prog);
    for (const char *line : calcUsage) vesk_printf("%s", line);
    return 2;
  }
  ModuleOption o[CA_OPTION_COUNT + 1];
  std::copy(std::begin(calcOptions), std::end(calcOptions), o);
  const int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  CalcWork w;
  int err = 0;
  if (!o[CA_IN].value) {
    vesk_fprintf(stderr, "Input image file missing!\n");
    return 0;
  }
  w.in = openRAMImage(o[CA_IN].value, o[CA_IN].value, nullptr, nullptr, &err);
  if (!w.in) {
    vesk_fprintf(stderr, "Error in open %s.\n", o[CA_IN].value);
    return 0;
  }
  if (!o[CA_F].value) {
    vesk_fprintf(stderr, "Module Name missing!\n");
    closeCalc(&w);
    return 0;
  }
  if (!o[CA_OUT].value) {
    vesk_fprintf(stderr, "Output file missing!\n");
    closeCalc(&w);
    return 0;
  }
  const int imgid = o[CA_IMGID].value ? getImgid(o[CA_IMGID].value) : -1;
  const int pixelid = o[CA_PIXEL].value ? getPixelid(o[CA_PIXEL].value) : P_FLOAT;
  const int nbands = o[CA_NBANDS].value ? static_cast<int>(atol(o[CA_NBANDS].value)) : -1;
  if ((o[CA_IMGID].value && imgid <= 0) || pixelid <= 0 ||
      (o[CA_NBANDS].value && nbands < 1)) {
    vesk_fprintf(stderr, "Error in create %s.\n", o[CA_OUT].value);
    closeCalc(&w);
    return 0;
  }
  w.out = openModuleOutput(o[CA_OUT].value, w.in->header, imgid, pixelid, nbands, &err);
  if (!w.out) {
    closeCalc(&w);
    return 0;
  }
  /* A JPEG holds its quality in the block field; results are kept at 100. */
  if (w.in->header.imgid == IMG_JPEG) w.in->header.block = 100;
  if (w.out->header.imgid == IMG_JPEG) w.out->header.block = 100;
  w.rows = std::min(w.in->header.rows, w.out->header.rows);
  w.columns = std::min(w.in->header.columns, w.out->header.columns);
  w.inBands = w.in->header.nindices > 0 ? 3 : w.in->header.nbands;
  w.outBands = w.out->header.nbands;

  const auto *name = std::find_if(std::begin(calcNames), std::end(calcNames),
                                  [&](const char *n) { return compareNoCase(n, o[CA_F].value) == 0; });
  if (name == std::end(calcNames)) {
    vesk_fprintf(stderr, "Undefined module.\n");
    closeCalc(&w);
    return 0;
  }
  w.function = static_cast<int>(name - std::begin(calcNames));
  if (!parseFunction(&w, CalcTexts{o[CA_B].value, o[CA_OB].value, o[CA_PAR].value})) {
    closeCalc(&w);
    return 0;
  }

  const int n = static_cast<int>(w.ib.size());
  if (!AllocateMem(&w)) {
    closeCalc(&w);
    return 0;
  }

  RowMeter meter(calcMeters[w.function]);
  if (w.function == F_STRETCH && (isBsqLayout(w.in) || isBsqLayout(w.out))) {
    /* Band by band, so a band-sequential file is read and written in order. */
    const float total = static_cast<float>(n) * static_cast<float>(w.rows);
    for (int k = 0; k < n; k++) {
      const float gain = w.P[static_cast<size_t>(2 * k)], offset = w.P[static_cast<size_t>(2 * k + 1)];
      for (int r = 0; r < w.rows; r++) {
        getPaletteFloatBILData(w.in, r, 0, w.columns, w.ib[static_cast<size_t>(k)], w.inRow.data());
        for (int c = 0; c < w.columns; c++) w.inRow[static_cast<size_t>(c)] = (w.inRow[static_cast<size_t>(c)] - offset) * gain;
        putFloatBILData(w.out, r, 0, w.columns, w.ob[static_cast<size_t>(k)], w.inRow.data());
        const float fraction = static_cast<float>(k + 1) * static_cast<float>(r + 1) / total;
        if (fraction >= meter.threshold) {
          meterSet(meter.name, meter.threshold);
          meter.threshold += meterInc();
        }
      }
    }
  } else {
    try {
      calcRows(w, meter);
    } catch (const std::bad_alloc &) {
      vesk_fprintf(stderr, "Error of malloc in AllocateMem.\n");
      closeCalc(&w);
      return 0;
    }
  }
  if (w.out->hist)
    for (int b : w.ob) resetHist(&w.out->hist[b]);
  updateClient(w.out, nullptr, 2);
  meterReset();
  closeCalc(&w);
  return 1;
}

}  // namespace vesk
