/*
 * smetric.cpp --
 *     The "smetric" module of rimage: removes systematic brightness
 *     variations from an image.  A column profile (X), a row profile (Y),
 *     both (XY), a radial profile around a centre (R), a histogram
 *     mapping (Z), or an exponential fall-off along columns, rows or the
 *     radius (EX, EY, EXY) is either subtracted (model ADD) or divided out
 *     around a dark level (model MULTI).  Profiles are complete before any
 *     row is written, so a failed profile leaves the output untouched.
 */
#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/threads.h"
#include "core/text.h"
#include "processing/rimage.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

enum {
  SM_O, SM_IN, SM_OUT, SM_SR, SM_NR, SM_SC, SM_NC, SM_L, SM_H, SM_DARK, SM_P, SM_M, SM_B, SM_W,
  SM_OPTION_COUNT
};
const ModuleOption smetricOptions[] = {
    {"-o", nullptr},  {"-in", nullptr}, {"-out", nullptr},  {"-sr", nullptr}, {"-nr", nullptr},
    {"-sc", nullptr}, {"-nc", nullptr}, {"-l", nullptr},    {"-h", nullptr},  {"-dark", nullptr},
    {"-p", nullptr},  {"-m", nullptr},  {"-b", nullptr},    {"-w", nullptr},  {nullptr, nullptr},
};
static_assert(sizeof smetricOptions / sizeof smetricOptions[0] == SM_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const smetricUsage[] = {
    "    where\n",
    "    IN      the input image ID;\n",
    "    OUT     the output image ID;\n",
    "    OPT     the option for sysmetric calibaration:\n",
    "                X:   avg horizontal calibration\n",
    "                Y:   avg vertical calibration\n",
    "                XY:  avg X-Y 2D calibration\n",
    "                R:   avg X-Y 2D calibration\n",
    "                Z:   hist Z calibration\n",
    "                EX:  exp. horizontal calibartion\n",
    "                EY:  exp. vertical calibration\n",
    "                EXY: exp. X-Y 2D calibration\n",
    "    SC      the start column of the input sample area\n",
    "    SR      the start row of the input sample area\n",
    "    NC      the number of columns or start angle\n",
    "    NR      the number of rows or end angle\n",
    "    LOW     the low boundary\n",
    "    HIGH    the high boundary\n",
    "    MD      the optione of model: add or multi\n",
    "    DARK    the dark value\n",
    "    PAR     the additional parameters: p,r,a0,a1,c\n",
    "                p:power; r:radius; a0:amp; a1:gain; c:const\n",
    "                def: 1.0,128,1.0,1.0,0.0\n",
    "    B       band selection: i1[[:o1];i2[:o2];...]\n",
    "    WIN     width of window (def: 32)\n",
};

enum SmetricOp { OP_X, OP_Y, OP_XY, OP_R, OP_Z, OP_EX, OP_EY, OP_EXY };
enum { MODEL_ADD, MODEL_MULTI };

struct SmetricWork {
  RAMIMG *in = nullptr, *out = nullptr;
  int op = OP_X;
  int model = MODEL_ADD;
  int columns = 0, rows = 0;
  std::vector<int> source, dest;  /* 0-based band pairs */
  int sr = 0, nr = 0, sc = 0, nc = 0;
  int window = 32;
  float low = -FLT_MAX, high = FLT_MAX;
  float dark = 0;
  float p = 1.0f, r = 128, a0 = 1.0f, a1 = 1.0f, c = 0.0f;
  std::vector<float> inRow, outRow;
};

/* A profile position's sum and count. */
struct ProfileSums {
  std::vector<double> sum, count;
  explicit ProfileSums(size_t n) : sum(n, 0.0), count(n, 0.0) {}
};

void closeSmetric(SmetricWork *w) {
  if (w->out) {
    if (w->out->hist)
      for (int b = 0; b < w->out->header.nbands; b++) resetHist(&w->out->hist[b]);
    updateClient(w->out, nullptr, 2);
    closeRAMImage(w->out, nullptr);
  }
  if (w->in) closeRAMImage(w->in, nullptr);
  w->in = w->out = nullptr;
}

int smetricParseFailure(SmetricWork *w, const char *message, int err = 0) {
  if (message) vesk_fprintf(stderr, "%s", message);
  if (w->in) closeRAMImage(w->in, nullptr);
  if (w->out) closeRAMImage(w->out, nullptr);
  w->in = w->out = nullptr;
  printRAMImageError(err);
  return 0;
}

inline bool taken(const SmetricWork &w, float v) { return v >= w.low && v <= w.high; }

/* A long option within int range, or the fallback. */
int intWord(const char *word, int fallback) {
  if (!word) return fallback;
  const long v = atol(word);
  return static_cast<int>(std::max<long>(INT_MIN, std::min<long>(INT_MAX, v)));
}

/*
 * Running totals over a window of w positions (k - w/2 .. k - w/2 + w - 1),
 * positions beyond either end taking the end values.
 */
void smoothProfileRun(std::vector<double> *values, int window) {
  const int n = static_cast<int>(values->size());
  if (window == 1 || n == 0) return;
  const std::vector<double> &v = *values;
  auto at = [&](long k) { return v[static_cast<size_t>(std::max(0L, std::min<long>(n - 1, k)))]; };
  std::vector<double> out(static_cast<size_t>(n));
  const long half = window / 2;
  double total = 0;
  for (long k = -half; k < -half + window; k++) total += at(k);
  for (int k = 0; k < n; k++) {
    out[static_cast<size_t>(k)] = total;
    total += at(k - half + window) - at(k - half);
  }
  *values = std::move(out);
}

/* Smoothing along a column profile (one position per column). */
void smoothProfileColumns(std::vector<double> *values, int window) {
  smoothProfileRun(values, window);
}

/* Smoothing along a row profile (one position per row). */
void smoothProfileRows(std::vector<double> *values, int window) {
  smoothProfileRun(values, window);
}

/*
 * The profile of one band pair from its sums: smoothed, checked for empty
 * positions, turned into means less the dark value, then into the add or
 * multi profile around their average.
 * Results: false after "Failed to find pixel in <who>." and the position.
 */
bool finishProfile(const SmetricWork &w, ProfileSums *s, int pair, const char *who,
                   const char *axis, std::vector<double> *profile,
                   void (*smooth)(std::vector<double> *, int)) {
  smooth(&s->sum, w.window);
  smooth(&s->count, w.window);
  const size_t n = s->sum.size();
  profile->assign(n, 0.0);
  double total = 0;
  for (size_t k = 0; k < n; k++) {
    if (s->count[k] == 0) {
      vesk_fprintf(stderr, "Failed to find pixel in %s.\n", who);
      vesk_fprintf(stderr, "b: %d  %s: %d\n", pair, axis, static_cast<int>(k));
      return false;
    }
    double mean = s->sum[k] / s->count[k] - w.dark;
    if (mean == 0) mean = 1e-32;
    (*profile)[k] = mean;
    total += mean;
  }
  double avg = n ? total / static_cast<double>(n) : 1.0;
  if (avg == 0) avg = 1e-32;
  for (double &v : *profile) v = w.model == MODEL_ADD ? v - avg : v / avg;
  return true;
}

/* Column profile of each pair over the sample rows. */
bool xStats(const SmetricWork &w, std::vector<std::vector<double>> *profiles) {
  const int inRows = w.in->header.rows;
  const int sr = w.sr < 0 || w.sr >= inRows ? 0 : w.sr;
  const int end = w.nr <= 0 || static_cast<int64_t>(sr) + w.nr >= inRows ? inRows : sr + w.nr;
  std::vector<float> row(static_cast<size_t>(w.columns));
  for (size_t j = 0; j < w.source.size(); j++) {
    ProfileSums s(static_cast<size_t>(w.columns));
    for (int i = sr; i < end; i++) {
      getFloatBILData(w.in, i, 0, w.columns, w.source[j], row.data());
      for (int k = 0; k < w.columns; k++) {
        const float v = row[static_cast<size_t>(k)];
        if (!taken(w, v)) continue;
        s.sum[static_cast<size_t>(k)] += v;
        s.count[static_cast<size_t>(k)] += 1;
      }
    }
    if (!finishProfile(w, &s, static_cast<int>(j), "xStats", "j", &(*profiles)[j],
                       smoothProfileColumns)) return false;
  }
  return true;
}

/* Row profile of each pair over the sample columns. */
bool yStats(const SmetricWork &w, std::vector<std::vector<double>> *profiles) {
  const int inColumns = w.in->header.columns;
  const int sc = w.sc < 0 || w.sc >= inColumns ? 0 : w.sc;
  const int count = w.nc <= 0 || static_cast<int64_t>(sc) + w.nc >= inColumns ? inColumns - sc : w.nc;
  std::vector<float> row(static_cast<size_t>(count));
  for (size_t j = 0; j < w.source.size(); j++) {
    ProfileSums s(static_cast<size_t>(w.rows));
    for (int i = 0; i < w.rows; i++) {
      getFloatBILData(w.in, i, sc, count, w.source[j], row.data());
      for (float v : row) {
        if (!taken(w, v)) continue;
        s.sum[static_cast<size_t>(i)] += v;
        s.count[static_cast<size_t>(i)] += 1;
      }
    }
    if (!finishProfile(w, &s, static_cast<int>(j), "yStats", "i", &(*profiles)[j],
                       smoothProfileRows)) return false;
  }
  return true;
}

/*
 * Applies a per-pixel correction to every row of every pair.  Into
 * another image, in rounds of rows: read here, corrected on the pool (a
 * value depends on its pixel and place alone), written here.  An image
 * corrected in place goes row by row, pair by pair, so that a pair reads
 * what an earlier pair of the row wrote; so does one thread, whose rows
 * then stay in cache.
 */
template <class Fn>
void applyRows(SmetricWork *w, Fn correct) {
  const size_t pairs = w->source.size(), columns = static_cast<size_t>(w->columns);
  if (w->in == w->out || workerCount() == 1) {
    for (int i = 0; i < w->rows; i++) {
      for (size_t j = 0; j < pairs; j++) {
        getFloatBILData(w->in, i, 0, w->columns, w->source[j], w->inRow.data());
        for (size_t k = 0; k < columns; k++)
          w->outRow[k] = correct(j, i, static_cast<int>(k), w->inRow[k]);
        putFloatBILData(w->out, i, 0, w->columns, w->dest[j], w->outRow.data());
      }
    }
    return;
  }
  const int grain = rowGrain(static_cast<long long>(columns * pairs) * 8);
  const int round = roundRows(grain, w->rows, static_cast<long long>(columns * pairs) * 4);
  std::vector<float> values(columns * pairs * round);
  auto line = [&](int k, size_t j) { return &values[(static_cast<size_t>(k) * pairs + j) * columns]; };
  for (int i0 = 0; i0 < w->rows; i0 += round) {
    const int m = std::min(round, w->rows - i0);
    for (int k = 0; k < m; k++)
      for (size_t j = 0; j < pairs; j++)
        getFloatBILData(w->in, i0 + k, 0, w->columns, w->source[j], line(k, j));
    parallelRows(m, grain, [&](int first, int end) {
      for (int k = first; k < end; k++)
        for (size_t j = 0; j < pairs; j++) {
          float *v = line(k, j);
          for (size_t c = 0; c < columns; c++) v[c] = correct(j, i0 + k, static_cast<int>(c), v[c]);
        }
    });
    for (int k = 0; k < m; k++)
      for (size_t j = 0; j < pairs; j++)
        putFloatBILData(w->out, i0 + k, 0, w->columns, w->dest[j], line(k, j));
  }
}

/* The column profile (X), the row profile (Y) or both (XY) taken out of every pixel. */
int calibrateProfiles(SmetricWork *w, bool useX, bool useY) {
  const size_t pairs = w->source.size();
  std::vector<std::vector<double>> px(pairs), py(pairs);
  if (useX && !xStats(*w, &px)) return 0;
  if (useY && !yStats(*w, &py)) return 0;
  const float dark = w->dark;
  const bool add = w->model == MODEL_ADD;
  applyRows(w, [&](size_t j, int i, int k, float v) {
    double q = add ? 0.0 : 1.0;
    if (useX) q = add ? q + px[j][static_cast<size_t>(k)] : q * px[j][static_cast<size_t>(k)];
    if (useY) q = add ? q + py[j][static_cast<size_t>(i)] : q * py[j][static_cast<size_t>(i)];
    return add ? static_cast<float>(v - q) : static_cast<float>(dark + (v - dark) / q);
  });
  return 1;
}

int calibrateX(SmetricWork *w) { return calibrateProfiles(w, true, false); }
int calibrateY(SmetricWork *w) { return calibrateProfiles(w, false, true); }
int calibrateXY(SmetricWork *w) { return calibrateProfiles(w, true, true); }

/* Nearest-neighbour samples of one band along a segment, 0 outside. */
void sampleSegment(RAMIMG *image, int band, double x0, double y0, double x1, double y1, int n,
                   float *out) {
  const double sx = n - 1 > 1 ? (x1 - x0) / (n - 1) : x1 - x0;
  const double sy = n - 1 > 1 ? (y1 - y0) / (n - 1) : y1 - y0;
  const int rows = image->header.rows, columns = image->header.columns;
  for (int k = 0; k < n; k++) {
    const double x = x0 + sx * k + 0.5, y = y0 + sy * k + 0.5;
    out[k] = 0;
    if (!(x > -1 && x < columns && y > -1 && y < rows)) continue;
    const int c = static_cast<int>(x), r = static_cast<int>(y);
    if (c >= 0 && c < columns && r >= 0 && r < rows) out[k] = getPixelValue(image, c, r, band);
  }
}

/* A float truncated toward zero, saturated to the int range (0 for NaN). */
int truncToInt(float v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0f) return INT_MAX;
  if (v <= -2147483648.0f) return INT_MIN;
  return static_cast<int>(v);
}

int rSysMetric(SmetricWork *w) {
  const double sc = w->sc, sr = w->sr;
  const double W = w->in->header.columns, H = w->in->header.rows;
  double R = 0;
  const double corners[4][2] = {{0, 0}, {W, 0}, {0, H}, {W, H}};
  for (const auto &corner : corners) R = std::max(R, hypot(corner[0] - sc, corner[1] - sr));
  if (!(R < 1e7)) {
    vesk_fprintf(stderr, "malloc error in rSysMetric.\n");
    return 0;
  }
  const int bins = static_cast<int>(R) + 1;
  const size_t pairs = w->source.size();
  std::vector<ProfileSums> sums(pairs, ProfileSums(static_cast<size_t>(bins)));
  std::vector<float> ray(static_cast<size_t>(bins));
  const double step = (static_cast<double>(w->nr) - w->nc) * 0.008333333333333333;
  for (int ray_i = 0; step > 0 && ray_i < 121; ray_i++) {
    const double theta = w->nc + ray_i * step;
    if (!(theta < w->nr)) break;
    const double t = theta * 0.005555555555555556 * M_PI;
    for (size_t j = 0; j < pairs; j++) {
      sampleSegment(w->in, w->source[j], sc, sr, sc + R * sin(t), sr - R * cos(t), bins, ray.data());
      for (int k = 0; k < bins; k++) {
        const float v = ray[static_cast<size_t>(k)];
        if (!taken(*w, v)) break;
        sums[j].sum[static_cast<size_t>(k)] += truncToInt(v);
        sums[j].count[static_cast<size_t>(k)] += 1;
      }
    }
  }
  std::vector<std::vector<double>> profiles(pairs);
  for (size_t j = 0; j < pairs; j++)
    if (!finishProfile(*w, &sums[j], static_cast<int>(j), "rSysMetric", "j", &profiles[j],
                       smoothProfileColumns)) return 0;
  const float dark = w->dark;
  const bool add = w->model == MODEL_ADD;
  applyRows(w, [&](size_t j, int i, int k, float v) {
    const double d = sqrt((k - sc) * (k - sc) + (i - sr) * (i - sr)) + 0.5;
    const size_t bin = static_cast<size_t>(std::min<double>(d, bins - 1));
    const double q = profiles[j][bin];
    return add ? static_cast<float>(v - q) : static_cast<float>(dark + (v - dark) / q);
  });
  return 1;
}

/* The 256-entry map from the input's cumulative histogram to the output's. */
void matchHistMap(const double *cin, const double *cout, int *map) {
  int i0 = 0, a0 = 0;
  while (i0 < 256 && cin[i0] == 0) i0++;
  while (a0 < 256 && cout[a0] == 0) a0++;
  for (int v = 0; v < i0 && v < 256; v++)
    map[v] = static_cast<int>((i0 + 1.0) * a0 / i0 - 0.5);
  int a = std::max(a0 - 1, 0);
  for (int v = i0; v < 256; v++) {
    int best = a;
    for (int c = a; c < 256; c++)
      if (fabs(cin[v] - cout[c]) < fabs(cin[v] - cout[best])) best = c;
    map[v] = a = best;
  }
  int j1 = 0, k1 = 0;
  while (j1 < 255 && cin[j1] < cin[255]) j1++;
  while (k1 < 255 && cout[k1] < cout[255]) k1++;
  for (int v = j1; v < 256; v++)
    map[v] = static_cast<int>((v - j1) * (256.0 - k1) / (256.0 - j1) + 0.5 + k1);
  for (int v = 0; v < 256; v++) map[v] = std::max(0, std::min(255, map[v]));
}

void cumulateHist(const BandHist &h, double *out) {
  double total = 0;
  for (int v = 0; v < 256; v++) {
    total += h.bins && v < h.binCount ? h.bins[v] : 0;
    out[v] = total;
  }
}

/*
 * The map of each pair is built from the input's histogram to the output's
 * and applied to the input's rows, so an output other than the input
 * receives the input remapped to the output's distribution.
 */
int zSysMetric(SmetricWork *w) {
  if (w->in->header.pixelid != P_BYTE || w->out->header.pixelid != P_BYTE) {
    vesk_fprintf(stderr, "Images must be of byte pixels\n");
    return 0;
  }
  BandHist *hin = ramImageHist(w->in, kHistCached, 1, 1);
  BandHist *hout = hin ? ramImageHist(w->out, kHistCached, 1, 1) : nullptr;
  if (!hin || !hout) {
    vesk_fprintf(stderr, "malloc error in zSysMetric\n");
    return 0;
  }
  const size_t pairs = w->source.size();
  std::vector<int> maps(pairs * 256);
  for (size_t j = 0; j < pairs; j++) {
    double cin[256], cout[256];
    cumulateHist(hin[w->source[j]], cin);
    cumulateHist(hout[w->dest[j]], cout);
    matchHistMap(cin, cout, &maps[j * 256]);
  }
  std::vector<unsigned char> row(static_cast<size_t>(w->columns));
  for (int i = 0; i < w->rows; i++)
    for (size_t j = 0; j < pairs; j++) {
      getByteBILData(w->in, i, 0, w->columns, w->source[j], row.data());
      for (unsigned char &v : row) v = static_cast<unsigned char>(maps[j * 256 + v]);
      putByteBILData(w->out, i, 0, w->columns, w->dest[j], row.data());
    }
  return 1;
}

int eSysmetric(SmetricWork *w) {
  const double a0 = w->a0, a1 = w->a1, p = w->p, r = w->r, c = w->c;
  const double sc = w->sc, sr = w->sr;
  auto f = [&](double d) { return a0 * exp(-pow(d / r, p) * a1); };
  const bool add = w->model == MODEL_ADD;
  const int op = w->op;
  applyRows(w, [&](size_t, int i, int k, float v) {
    const double d = op == OP_EX ? fabs(k - sc)
                     : op == OP_EY ? fabs(i - sr)
                                   : sqrt((i - sr) * (i - sr) + (k - sc) * (k - sc));
    return add ? static_cast<float>(v - (f(d) + c)) : static_cast<float>(c + (v - c) / (f(d) + 1));
  });
  return 1;
}

/*
 * parseSmetricOptions --
 *     Fills the work record and opens (or creates) the images.
 * Results:      1; 0 after the message of the first fault, nothing open.
 */
int parseSmetricOptions(SmetricWork *w, int argc, const char **argv) {
  ModuleOption o[SM_OPTION_COUNT + 1];
  std::copy(std::begin(smetricOptions), std::end(smetricOptions), o);
  const int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  int err = 0;
  if (!o[SM_IN].value) return smetricParseFailure(w, "Input image missing!.\n");
  w->in = openRAMImage(o[SM_IN].value, o[SM_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open: %s\n", o[SM_IN].value);
    return smetricParseFailure(w, nullptr, err);
  }
  if (const char *op = o[SM_O].value) {
    static const struct {
      const char *name;
      int op;
    } ops[] = {{"X", OP_X},   {"Y", OP_Y},   {"XY", OP_XY}, {"YX", OP_XY},   {"R", OP_R},
               {"Z", OP_Z},   {"EX", OP_EX}, {"EY", OP_EY}, {"EXY", OP_EXY}, {"EYX", OP_EXY}};
    const auto *row = std::find_if(std::begin(ops), std::end(ops),
                                   [&](const auto &r) { return compareNoCase(r.name, op) == 0; });
    if (row == std::end(ops)) return smetricParseFailure(w, "Unknown option.\n");
    w->op = row->op;
    if (w->op == OP_R) {
      w->sc = w->in->header.columns / 2;
      w->sr = w->in->header.rows / 2;
      w->nc = 0;
      w->nr = 360;
      w->low = 1.0f;
    }
  }
  if (o[SM_W].value) {
    w->window = intWord(o[SM_W].value, 32);
    if (w->window <= 0) w->window = 8;
  }
  const char *outWord = o[SM_OUT].value ? o[SM_OUT].value : o[SM_IN].value;
  w->out = openModuleOutput(outWord, w->in->header, -1, -1, -1, &err);
  if (!w->out) return smetricParseFailure(w, nullptr, err);
  if (o[SM_L].value) w->low = static_cast<float>(atof(o[SM_L].value));
  if (o[SM_H].value) w->high = static_cast<float>(atof(o[SM_H].value));
  if (const char *model = o[SM_M].value) {
    if (compareNoCase(model, "ADD") == 0) w->model = MODEL_ADD;
    else if (compareNoCase(model, "MULTI") == 0) w->model = MODEL_MULTI;
    else return smetricParseFailure(w, "Unknown model.\n");
  }
  if (const char *par = o[SM_P].value) {
    std::vector<double> v;
    std::string text(par);
    size_t at = 0;
    bool ok = true;
    for (;;) {
      const size_t end = std::min(text.find(',', at), text.size());
      const std::string item = text.substr(at, end - at);
      char *stop = nullptr;
      const double x = strtod(item.c_str(), &stop);
      if (item.empty() || *stop != '\0') ok = false;
      v.push_back(x);
      if (end >= text.size()) break;
      at = end + 1;
    }
    if (!ok || v.size() != 5) return smetricParseFailure(w, "invalid syntax for par: must be p,r,a0,a1,c\n");
    w->p = static_cast<float>(v[0]);
    w->r = static_cast<float>(v[1]);
    w->a0 = static_cast<float>(v[2]);
    w->a1 = static_cast<float>(v[3]);
    w->c = static_cast<float>(v[4]);
    if (w->a0 < 0) return smetricParseFailure(w, "invalid negative amplitude.\n");
    if (w->a1 < 0) return smetricParseFailure(w, "invalid negative gain.\n");
    if (w->r == 0) return smetricParseFailure(w, "invalid radius.\n");
  }
  w->nr = intWord(o[SM_NR].value, w->nr);
  w->sr = intWord(o[SM_SR].value, w->sr);
  w->nc = intWord(o[SM_NC].value, w->nc);
  w->sc = intWord(o[SM_SC].value, w->sc);
  if (o[SM_DARK].value) w->dark = static_cast<float>(atof(o[SM_DARK].value));
  std::vector<int> source(kMaxBandPairs), dest(kMaxBandPairs);
  const int pairs = parseBandList(w->in->header.nbands, w->out->header.nbands, source.data(),
                                  dest.data(), o[SM_B].value);
  if (pairs <= 0) return smetricParseFailure(w, nullptr);
  w->source.assign(source.begin(), source.begin() + pairs);
  w->dest.assign(dest.begin(), dest.begin() + pairs);
  w->columns = std::min(w->in->header.columns, w->out->header.columns);
  w->rows = std::min(w->in->header.rows, w->out->header.rows);
  try {
    w->inRow.assign(static_cast<size_t>(w->columns), 0.0f);
    w->outRow.assign(static_cast<size_t>(w->columns), 0.0f);
  } catch (const std::bad_alloc &) {
    return smetricParseFailure(w, "Error in malloc.\n");
  }
  return 1;
}

}  // namespace

/*
 * smetricModule --
 *     "rimage smetric -in IN -out OUT -o OPT ...".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int smetricModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -o OPT -sr SR -nr NR -sc SC -nc NC -l LOW -h HIGH "
                "-m MD -dark DARK -p PAR -b B -w WIN\n",
                prog);
    for (const char *line : smetricUsage) vesk_printf("%s", line);
    return 2;
  }
  SmetricWork w;
  if (!parseSmetricOptions(&w, argc, argv)) return 0;
  int result = 0;
  try {
    switch (w.op) {
    case OP_X: result = calibrateX(&w); break;
    case OP_Y: result = calibrateY(&w); break;
    case OP_XY: result = calibrateXY(&w); break;
    case OP_R: result = rSysMetric(&w); break;
    case OP_Z: result = zSysMetric(&w); break;
    default: result = eSysmetric(&w); break;
    }
  } catch (const std::bad_alloc &) {
    const char *who[] = {"xStats", "yStats", "xStats", "rSysMetric"};
    if (w.op <= OP_R) vesk_fprintf(stderr, "malloc error in %s.\n", who[w.op]);
    else vesk_fprintf(stderr, w.op == OP_Z ? "malloc error in zSysMetric\n" : "malloc error in eSysmetric\n");
    result = 0;
  }
  closeSmetric(&w);
  return result;
}

}  // namespace vesk
