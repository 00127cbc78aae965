/*
 * pcalc.cpp --
 *     The "pcalc" module of rimage: every pixel of an input transformed by
 *     a function whose coefficients come from a parameter image (a
 *     polynomial in the pixel value, or a piecewise-linear table whose
 *     breakpoints are the parameter bands), or a polynomial fitted per
 *     pixel over the bands and stored into the parameter image.  The
 *     parameter image lies over the input's rows and columns (layer XY)
 *     or over its bands and columns (layer XZ).
 */
#include <float.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "core/numeric.h"
#include "core/options.h"
#include "core/threads.h"
#include "core/text.h"
#include "processing/rimage.h"
#include "raster/pixels.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

enum { PC_IN, PC_OUT, PC_PAR, PC_OP, PC_NORM, PC_LAYER, PC_OPTION_COUNT };
const ModuleOption pcalcOptions[] = {
    {"-in", nullptr},   {"-out", nullptr},  {"-par", nullptr}, {"-op", nullptr},
    {"-norm", nullptr}, {"-layer", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof pcalcOptions / sizeof pcalcOptions[0] == PC_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const pcalcUsage[] = {
    "where\n",
    "    IN     input image file.\n",
    "    OUT    output image file.\n",
    "    PARIMG parameter image file.\n",
    "    OP     operation type.\n",
    "    NORM   normalize: H, V, NONE (def: NONE).\n",
    "    LAYER  data layer: XZ or XY (def: XY).\n",
};

enum PcalcMode { MODE_POLY, MODE_PIECEWISE, MODE_FIT };
enum { NORM_NONE, NORM_H, NORM_V };
enum { LAYER_XY, LAYER_XZ };

struct PcalcWork {
  RAMIMG *in = nullptr, *par = nullptr, *out = nullptr;
  int mode = MODE_POLY;
  int order = 0;
  int norm = NORM_NONE;
  int layer = LAYER_XY;
  float cutoff = FLT_MAX;
  std::vector<double> params;   /* piecewise values, or fit abscissas */
};

void closePcalc(PcalcWork *w) {
  for (RAMIMG **image : {&w->in, &w->par, &w->out}) {
    if (*image) closeRAMImage(*image, nullptr);
    *image = nullptr;
  }
}

int pcalcFail(PcalcWork *w, const char *message, int err = 0) {
  if (message) vesk_fprintf(stderr, "%s", message);
  closePcalc(w);
  meterReset();
  printRAMImageError(err);
  return 0;
}

/* The numbers of an -op text, split at commas and blanks. */
std::vector<double> opNumbers(const char *text, bool *ok) {
  std::vector<double> values;
  *ok = true;
  std::string copy(text);
  size_t at = 0;
  while (at < copy.size()) {
    const size_t end = std::min(copy.find_first_of(", \t\n", at), copy.size());
    const std::string item = copy.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    char *stop = nullptr;
    const double v = strtod(item.c_str(), &stop);
    if (*stop != '\0' || !std::isfinite(v)) {
      *ok = false;
      return values;
    }
    values.push_back(v);
  }
  return values;
}

/* ---- per-pixel functions ---- */

inline float evalPoly(float x, const float *p, int n) {
  float sum = p[0], power = 1;
  for (int i = 1; i < n; i++) {
    power *= x;
    sum += p[i] * power;
  }
  return sum;
}

/*
 * The piecewise-linear table at x: breakpoints X from the parameter pixel,
 * values Y from the command line; values past either end extend the
 * nearest segment.  A table whose second breakpoint is already at or
 * above the cut-off has a single point: its value.
 */
inline float evalPiecewise(float x, const float *X, const double *Y, int m, float cutoff) {
  float xlo = X[0], ylo = static_cast<float>(Y[0]), xhi = 0, yhi = 0;
  int k = 1;
  for (; k < m && X[k] < cutoff; k++) {
    if (x <= X[k]) {
      xhi = X[k];
      yhi = static_cast<float>(Y[k]);
      break;
    }
    xlo = X[k];
    ylo = static_cast<float>(Y[k]);
  }
  if (k == m || !(X[k] < cutoff)) {
    if (k < 2) return static_cast<float>(Y[0]);
    xhi = X[k - 1];
    yhi = static_cast<float>(Y[k - 1]);
    xlo = X[k - 2];
    ylo = static_cast<float>(Y[k - 2]);
  }
  if (xhi == xlo) return ylo;
  return (ylo * (xhi - x) + yhi * (x - xlo)) / (xhi - xlo);
}

/* One value through the work's function with one parameter pixel. */
inline float transform(const PcalcWork &w, float x, const float *p, int nb) {
  if (w.mode == MODE_PIECEWISE) return evalPiecewise(x, p, w.params.data(), nb, w.cutoff);
  return evalPoly(x, p, nb);
}

/* ---- runs ---- */

/*
 * pcalcRounds --
 *     The rows of the fit in rounds of `round` rows (the polynomial and
 *     table runs stay on this thread: bound by moving the samples, the
 *     pool made them no faster): read(r, k) fetches row r into slot k of
 *     the round on this thread, work(k, r) works slot k out on the pool (a
 *     row's values depend on that row alone), write(r, k) stores it here
 *     again, the meter moving a row at a time.
 */
template <class Read, class Work, class Write>
void pcalcRounds(int rows, int grain, int round, RowMeter &meter, Read read, Work work,
                 Write write) {
  for (int r0 = 0; r0 < rows; r0 += round) {
    const int m = std::min(round, rows - r0);
    for (int k = 0; k < m; k++) read(r0 + k, k);
    parallelRows(m, grain, [&](int first, int end) {
      for (int k = first; k < end; k++) work(k, r0 + k);
    });
    for (int k = 0; k < m; k++) {
      write(r0 + k, k);
      meter.row(r0 + k + 1, rows);
    }
  }
}

int runXY(PcalcWork *w) {
  const int rows = w->in->header.rows, columns = w->in->header.columns;
  const int nb = w->par->header.nbands, bands = w->in->header.nbands;
  std::vector<float> par(static_cast<size_t>(columns) * static_cast<size_t>(nb));
  std::vector<float> row(static_cast<size_t>(columns));
  RowMeter meter("pcalc xy");
  for (int r = 0; r < rows; r++) {
    getFloatBIPData(w->par, r, 0, columns, 1, nb, nullptr, par.data());
    for (int b = 0; b < bands; b++) {
      getFloatBILData(w->in, r, 0, columns, b, row.data());
      for (int c = 0; c < columns; c++)
        row[static_cast<size_t>(c)] = transform(*w, row[static_cast<size_t>(c)], &par[static_cast<size_t>(c) * nb], nb);
      putFloatBILData(w->out, r, 0, columns, b, row.data());
    }
    meter.row(r + 1, rows);
  }
  meter.finish();
  return 1;
}

/* Scales a set of weights by its largest; a largest not above 0 leaves them all 1. */
void normaliseWeights(std::vector<float> *weights) {
  float largest = 0;
  for (float v : *weights) largest = std::max(largest, v);
  if (!(largest > 0) || !std::isfinite(largest)) {
    std::fill(weights->begin(), weights->end(), 1.0f);
    return;
  }
  for (float &v : *weights) v /= largest;
}

int runXZ(PcalcWork *w) {
  const int rows = w->in->header.rows, columns = w->in->header.columns;
  const int bands = w->in->header.nbands, nb = w->par->header.nbands;
  const int parRows = w->par->header.rows, parColumns = w->par->header.columns;
  const size_t stride = static_cast<size_t>(parColumns) * static_cast<size_t>(nb);
  std::vector<float> par(static_cast<size_t>(parRows) * stride);
  for (int r = 0; r < parRows; r++)
    getFloatBIPData(w->par, r, 0, parColumns, 1, nb, nullptr, &par[static_cast<size_t>(r) * stride]);
  auto pixel = [&](int r, int c) { return &par[static_cast<size_t>(r) * stride + static_cast<size_t>(c) * nb]; };
  /* The weight of one parameter pixel: the table's span, or the inverse slope sum. */
  auto weight = [&](const float *p) {
    if (w->mode == MODE_PIECEWISE) return p[nb - 1] - p[0];
    float sum = 0;
    for (int i = 1; i < nb; i++) sum += static_cast<float>(i) * p[i];
    return 1.0f / (sum == 0 ? 1e-8f : sum);
  };
  std::vector<float> rowWeight(static_cast<size_t>(parRows), 1.0f);
  std::vector<float> columnWeight(static_cast<size_t>(parColumns), 1.0f);
  if (w->norm != NORM_NONE) {
    for (int r = 0; r < parRows; r++) rowWeight[static_cast<size_t>(r)] = weight(pixel(r, parColumns / 2));
    for (int c = 0; c < parColumns; c++) columnWeight[static_cast<size_t>(c)] = weight(pixel(parRows / 2, c));
    normaliseWeights(&rowWeight);
    normaliseWeights(&columnWeight);
  }
  std::vector<float> row(static_cast<size_t>(columns));
  RowMeter meter("pcalc xz");
  for (int r = 0; r < rows; r++) {
    for (int b = 0; b < bands; b++) {
      getFloatBILData(w->in, r, 0, columns, b, row.data());
      for (int c = 0; c < columns; c++) {
        float v = transform(*w, row[static_cast<size_t>(c)], pixel(b, c), nb);
        if (w->norm == NORM_H) v *= columnWeight[static_cast<size_t>(c)];
        else if (w->norm == NORM_V) v *= rowWeight[static_cast<size_t>(b)];
        row[static_cast<size_t>(c)] = v;
      }
      putFloatBILData(w->out, r, 0, columns, b, row.data());
    }
    meter.row(r + 1, rows);
  }
  meter.finish();
  return 1;
}

/*
 * The fit of one pixel: the leading band values below the cut-off
 * against the abscissas.  Too few points, or a singular system, give
 * zero coefficients and a zero error.
 */
void fitPixel(const PcalcWork &w, const float *values, int bands, float *coef, float *error,
              std::vector<double> &M, std::vector<double> &S, std::vector<double> &T,
              std::vector<char> &work) {
  const int N = w.order, n = N + 1;
  std::fill(coef, coef + n, 0.0f);
  *error = 0;
  int k = 0;
  while (k < bands && values[k] < w.cutoff) k++;
  if (k < n) return;
  std::fill(M.begin(), M.end(), 0.0);
  std::fill(S.begin(), S.end(), 0.0);
  for (int b = 0; b < k; b++) accumPoly1(w.params[static_cast<size_t>(b)], values[b], N, M.data(), S.data(), T.data());
  if (sumsToCovariance(n, S[0], M.data(), S.data() + 1) != NUMERIC_OK) return;
  if (resolve(M.data(), N, n, work.data()) != NUMERIC_OK) return;
  std::vector<double> c(static_cast<size_t>(n));
  getRegression(c.data(), M.data(), S.data(), n);
  for (int i = 0; i < n; i++) coef[i] = static_cast<float>(c[static_cast<size_t>(i)]);
  *error = static_cast<float>(sqrt(std::max(0.0, M[static_cast<size_t>(n) * n - 1])));
}

int runFit(PcalcWork *w) {
  const int rows = w->in->header.rows, columns = w->in->header.columns;
  const int bands = w->in->header.nbands, n = w->order + 1;
  const size_t inRow = static_cast<size_t>(columns) * bands, coefRow = static_cast<size_t>(columns) * n;
  const long long rowBytes = static_cast<long long>(inRow + coefRow + columns) * 4;
  const int grain = rowGrain(static_cast<long long>(columns) * bands * n * n);
  const int round = roundRows(grain, rows, rowBytes);
  std::vector<float> in(inRow * round), coef(coefRow * round), error(static_cast<size_t>(columns) * round);
  const int zero = 0;
  RowMeter meter("pcalc reg");
  pcalcRounds(
      rows, grain, round, meter,
      [&](int r, int k) { getFloatBIPData(w->in, r, 0, columns, 1, bands, nullptr, &in[inRow * k]); },
      [&](int k, int) {
        std::vector<double> M(static_cast<size_t>(n) * n), S(static_cast<size_t>(n) + 1),
            T(static_cast<size_t>(n) + 1);
        std::vector<char> work(resolveWorkSize(w->order, n));
        for (int c = 0; c < columns; c++)
          fitPixel(*w, &in[inRow * k + static_cast<size_t>(c) * bands], bands,
                   &coef[coefRow * k + static_cast<size_t>(c) * n],
                   &error[static_cast<size_t>(columns) * k + c], M, S, T, work);
      },
      [&](int r, int k) {
        writeFloatBIPData(w->out, r, 0, columns, 1, &zero, &error[static_cast<size_t>(columns) * k]);
        writeFloatBIPData(w->par, r, 0, columns, n, nullptr, &coef[coefRow * k]);
      });
  meterReset();
  return 1;
}

}  // namespace

/*
 * pcalcModule --
 *     "rimage pcalc -in IN -out OUT -par PARIMG -op OP -norm NORM -layer LAYER".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int pcalcModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -par PARIMG -op OP -norm NORM -layer LAYER\n", prog);
    for (const char *line : pcalcUsage) vesk_printf("%s", line);
    return 2;
  }
  ModuleOption o[PC_OPTION_COUNT + 1];
  std::copy(std::begin(pcalcOptions), std::end(pcalcOptions), o);
  const int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  PcalcWork w;
  if (!o[PC_IN].value) return pcalcFail(&w, "Input image missing.\n");
  if (!o[PC_OUT].value) return pcalcFail(&w, "Output image missing.\n");
  if (!o[PC_PAR].value) return pcalcFail(&w, "image of parameter missing.\n");
  int err = 0;
  const int slots[] = {PC_IN, PC_OUT, PC_PAR};
  RAMIMG **images[] = {&w.in, &w.out, &w.par};
  for (int i = 0; i < 3; i++) {
    const char *word = o[slots[i]].value;
    *images[i] = openRAMImage(word, word, nullptr, nullptr, &err);
    if (!*images[i]) {
      vesk_fprintf(stderr, "Error in open: %s\n", word);
      return pcalcFail(&w, nullptr, err);
    }
  }
  if (const char *layer = o[PC_LAYER].value) {
    if (compareNoCase(layer, "XZ") == 0) w.layer = LAYER_XZ;
    else if (compareNoCase(layer, "XY") == 0) w.layer = LAYER_XY;
    else return pcalcFail(&w, "Unknown data layer.\n");
  }
  const int parBands = w.par->header.nbands, inBands = w.in->header.nbands;
  int expected = 0;  /* parameter bands the function needs */
  if (o[PC_OP].value) {
    bool ok = false;
    std::vector<double> numbers = opNumbers(o[PC_OP].value, &ok);
    if (!ok || numbers.empty() || numbers[0] < -1 || numbers[0] > 64 ||
        numbers[0] != floor(numbers[0]))
      return pcalcFail(&w, "Error in parsing operator.\n");
    const int code = static_cast<int>(numbers[0]);
    w.params.assign(numbers.begin() + 1, numbers.end());
    if (code == -1) {
      w.mode = MODE_PIECEWISE;
      if (parBands < static_cast<int>(w.params.size())) {
        w.cutoff = static_cast<float>(w.params.back());
        w.params.pop_back();
      }
      if (w.params.size() < 2) return pcalcFail(&w, "A piecewise table needs two points.\n");
      expected = static_cast<int>(w.params.size());
    } else if (w.params.empty()) {
      w.mode = MODE_POLY;
      w.order = code;
      expected = code + 1;
    } else {
      w.mode = MODE_FIT;
      w.order = code;
      if (static_cast<int>(w.params.size()) != inBands) {
        if (static_cast<int>(w.params.size()) != inBands + 1)
          return pcalcFail(&w, "Unmatched parameters in input image file.\n");
        w.cutoff = static_cast<float>(w.params.back());
        w.params.pop_back();
      }
      if (w.order >= static_cast<int>(w.params.size()))
        return pcalcFail(&w, "A lower order of a polynomial is expected.\n");
      expected = code + 1;
    }
  } else {
    w.mode = MODE_POLY;
    w.order = parBands - 1;
    expected = parBands;
  }
  if (parBands != expected) return pcalcFail(&w, "Unmatched parameters in par image file.\n");
  if (const char *norm = o[PC_NORM].value) {
    if (compareNoCase(norm, "H") == 0) w.norm = NORM_H;
    else if (compareNoCase(norm, "V") == 0) w.norm = NORM_V;
    else if (compareNoCase(norm, "NONE") == 0) w.norm = NORM_NONE;
    else return pcalcFail(&w, "Unknown flag of normilze.\n");
  }
  /* Every input sample needs its parameter pixel. */
  if (w.mode != MODE_FIT) {
    const ImageHeader &in = w.in->header, &par = w.par->header;
    const int needRows = w.layer == LAYER_XY ? in.rows : in.nbands;
    if (par.rows < needRows || par.columns < in.columns)
      return pcalcFail(&w, "The parameter image does not cover the input image.\n");
  }
  int result = 0;
  try {
    result = w.mode == MODE_FIT ? runFit(&w) : w.layer == LAYER_XY ? runXY(&w) : runXZ(&w);
  } catch (const std::bad_alloc &) {
    return pcalcFail(&w, "Error in malloc.\n");
  } catch (const std::length_error &) {
    return pcalcFail(&w, "Error in malloc.\n");
  }
  closePcalc(&w);
  meterReset();
  return result;
}

}  // namespace vesk
