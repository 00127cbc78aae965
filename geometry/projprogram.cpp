/*
 * projprogram.cpp --
 *     The proj program run as the command "proj": one projection from "+"
 *     parameters converts the points of text or binary input forward or
 *     inverse, one output line per input line, optionally with the scale
 *     factors of each point or a full report per point (-V).  Also the
 *     pieces the cs2cs program shares with it: whole input lines, the
 *     listing options and the printed parameter list.
 */
#include "geometry/projprogram.h"

#include <langinfo.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "geometry/projcmd.h"
#include "geometry/projfamily.h"
#include "geometry/projprog.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

constexpr double kRadToDeg = 180.0 / M_PI;
constexpr int kMaxProgramParams = 100;
constexpr int kParamLineLength = 72;
constexpr int kMaxSeriesDimension = 1000;  /* NU, NV of -T: the fit costs NU * NV points */

constexpr const char *kProjUsage =
    "%s\nusage: %s [ -beEfiIlormsStTvVwW [args] ] [ +opts[=arg] ] [ files ]\n";

/* The options of one run of proj, at their initial values. */
struct ProjRunOptions {
  int reverseIn = 0, reverseOut = 0;
  int binaryIn = 0, binaryOut = 0;
  int echoIn = 0;
  int tag = '#';
  int inverse = 0;
  int prescale = 0, postscale = 0;
  int doFactors = 0, veryVerbose = 0, verbose = 0;
  const char *outFormat = nullptr;
  const char *errorText = "*\t*";
  const char *series = nullptr;
  double scale = 0;
};

/* A projection freed when the run ends, however it ends. */
struct ProjectionDeleter {
  void operator()(ProjHandle *pj) const { freeProjection(pj); }
};
typedef std::unique_ptr<ProjHandle, ProjectionDeleter> ProjectionHolder;

/* An input file closed when the run ends; the console is never closed. */
struct InputDeleter {
  void operator()(FILE *file) const {
    if (file != stdin) fclose(file);
  }
};
typedef std::unique_ptr<FILE, InputDeleter> InputHolder;

/* The output format of a run, refused unless it formats one number. */
void checkProgramFormat(const char *format) {
  if (checkNumberFormat(nullptr, "-f", format) != TCL_OK)
    emess(1, "invalid output format: -f %s (one floating-point conversion such as %%.6f)",
          format);
}

/*
 * computeFactors --
 *     PROJ's scale factors of a geographic point (radians).
 * Results:      true when PROJ computed them.
 */
bool computeFactors(projPJ pj, double lam, double phi, PJ_FACTORS *factors) {
  if (!pj || !pj->pj) return false;
  proj_errno_reset(pj->pj);
  *factors = proj_factors(pj->pj, proj_coord(lam, phi, 0, 0));
  return proj_errno(pj->pj) == 0 && isfinite(factors->meridional_scale);
}

/* The first line of a description. */
std::string firstLine(const char *text) {
  if (!text) return std::string();
  const char *end = strchr(text, '\n');
  return end ? std::string(text, static_cast<size_t>(end - text)) : std::string(text);
}

/*
 * processInput --
 *     The normal loop over one text or binary input: one output line per
 *     input record.
 */
void processInput(FILE *file, projPJ pj, const ProjRunOptions &opt) {
  std::string line, out;
  int lineNumber = 0;
  for (;;) {
    double u, v;
    const char *rest = "\n";
    out.clear();
    if (opt.binaryIn) {
      double record[2];
      if (fread(record, sizeof record, 1, file) != 1) break;
      u = record[0];
      v = record[1];
    } else {
      setInputLine(++lineNumber);
      if (!readProgramLine(file, line)) break;
      if (line[0] == opt.tag) {
        vesk_fputs(line.c_str(), stdout);
        continue;
      }
      char *s = &line[0];
      double (*read)(const char *, char **) =
          opt.inverse ? readProgramNumber : readProgramAngle;
      if (opt.reverseIn) {
        v = read(s, &s);
        u = read(s, &s);
      } else {
        u = read(s, &s);
        v = read(s, &s);
      }
      if (v == HUGE_VAL) u = HUGE_VAL;
      if (!*s && s > line.c_str()) --s;
      if (!opt.binaryOut && opt.echoIn) {
        out.append(line.c_str(), static_cast<size_t>(s - line.c_str()));
        out += '\t';
      }
      rest = s;
    }
    PJ_FACTORS factors;
    bool factorsGood = false;
    if (u != HUGE_VAL) {
      if (opt.prescale) {
        u *= opt.scale;
        v *= opt.scale;
      }
      if (opt.doFactors && !opt.inverse) factorsGood = computeFactors(pj, u, v, &factors);
      if (opt.inverse) projectInverse(pj, u, v, &u, &v);
      else projectForward(pj, u, v, &u, &v);
      if (opt.doFactors && opt.inverse && u != HUGE_VAL)
        factorsGood = computeFactors(pj, u, v, &factors);
      if (opt.postscale && u != HUGE_VAL) {
        u *= opt.scale;
        v *= opt.scale;
      }
    }
    if (opt.binaryOut) {
      double record[2] = {u, v};
      fwrite(record, sizeof record, 1, stdout);
      continue;
    }
    if (u == HUGE_VAL) {
      out += opt.errorText;
    } else if (!opt.inverse || opt.outFormat) {
      if (opt.inverse) {
        u *= kRadToDeg;
        v *= kRadToDeg;
      }
      appendFormatted(out, opt.outFormat, opt.reverseOut ? v : u);
      out += '\t';
      appendFormatted(out, opt.outFormat, opt.reverseOut ? u : v);
    } else if (opt.reverseOut) {
      out += dmsText(v, 'N', 'S') + "\t" + dmsText(u, 'E', 'W');
    } else {
      out += dmsText(u, 'E', 'W') + "\t" + dmsText(v, 'N', 'S');
    }
    if (opt.doFactors) {
      if (!factorsGood)
        out += "\t<* * * * * *>";
      else
        appendFormatted(out, "\t<%g %g %g %g %g %g>", factors.meridional_scale,
                        factors.parallel_scale, factors.areal_scale,
                        factors.angular_distortion * kRadToDeg, factors.tissot_semimajor,
                        factors.tissot_semiminor);
    }
    out += opt.binaryIn ? "\n" : rest;
    vesk_fputs(out.c_str(), stdout);
  }
}

/*
 * processVerbose --
 *     The -V loop: a report of the point, its projection and its scale
 *     factors for each input line; a line beginning with I or i is read in
 *     inverse mode.
 */
void processVerbose(FILE *file, projPJ pj, const ProjRunOptions &opt) {
  const char *format = opt.outFormat ? opt.outFormat : "%.3f";
  if (opt.binaryIn || opt.binaryOut) emess(1, "binary I/O not available in -V option");
  std::string line, out;
  int lineNumber = 0;
  for (;;) {
    setInputLine(++lineNumber);
    if (!readProgramLine(file, line)) break;
    if (line[0] == opt.tag) {
      vesk_fputs(line.c_str(), stdout);
      continue;
    }
    char *s = &line[0];
    int inverse = opt.inverse;
    if (*s == 'I' || *s == 'i') {
      inverse = 1;
      ++s;
    }
    double lam, phi, x, y;
    if (inverse) {
      if (!hasProjectionInverse(pj)) {
        emess(-1, "inverse for this projection not avail.\n");
        continue;
      }
      x = readProgramNumber(s, &s);
      y = readProgramNumber(s, &s);
      if (x == HUGE_VAL || y == HUGE_VAL) {
        emess(-1, "lon-lat input conversion failure\n");
        continue;
      }
      if (opt.prescale) {
        x *= opt.scale;
        y *= opt.scale;
      }
      projectInverse(pj, x, y, &lam, &phi);
    } else {
      lam = readProgramAngle(s, &s);
      phi = readProgramAngle(s, &s);
      if (lam == HUGE_VAL || phi == HUGE_VAL) {
        emess(-1, "lon-lat input conversion failure\n");
        continue;
      }
      projectForward(pj, lam, phi, &x, &y);
      if (opt.postscale && x != HUGE_VAL) {
        x *= opt.scale;
        y *= opt.scale;
      }
    }
    if (lam == HUGE_VAL || x == HUGE_VAL) {
      emess(-1, "%s", getProjError(getCurrentProjInterp()));
      continue;
    }
    if (!*s && s > line.c_str()) --s;
    PJ_FACTORS f;
    if (!computeFactors(pj, lam, phi, &f)) {
      emess(-1, "failed to conpute factors\n\n");
      continue;
    }
    out.clear();
    if (*s != '\n') out += s;
    out += "Longitude: " + dmsText(lam, 'E', 'W');
    appendFormatted(out, " [ %.11g ]\n", lam * kRadToDeg);
    out += "Latitude:  " + dmsText(phi, 'N', 'S');
    appendFormatted(out, " [ %.11g ]\n", phi * kRadToDeg);
    out += "Easting (x):   ";
    appendFormatted(out, format, x);
    out += "\nNorthing (y):  ";
    appendFormatted(out, format, y);
    out += '\n';
    /* PROJ 9 does not say whether h, k and the convergence were analytic. */
    const char analytic = ' ';
    appendFormatted(out, "Meridian scale (h)%c: %.8f  ( %.4g %% error )\n", analytic,
                    f.meridional_scale, (f.meridional_scale - 1.) * 100.);
    appendFormatted(out, "Parallel scale (k)%c: %.8f  ( %.4g %% error )\n", analytic,
                    f.parallel_scale, (f.parallel_scale - 1.) * 100.);
    appendFormatted(out, "Areal scale (s):     %.8f  ( %.4g %% error )\n", f.areal_scale,
                    (f.areal_scale - 1.) * 100.);
    appendFormatted(out, "Angular distortion (w): %.3f\n", f.angular_distortion * kRadToDeg);
    appendFormatted(out, "Meridian/Parallel angle: %.5f\n",
                    f.meridian_parallel_angle * kRadToDeg);
    appendFormatted(out, "Convergence%c: ", analytic);
    out += dmsText(f.meridian_convergence, 0, 0);
    appendFormatted(out, " [ %.8f ]\n", f.meridian_convergence * kRadToDeg);
    appendFormatted(out, "Max-min (Tissot axis a-b) scale error: %.5f %.5f\n\n",
                    f.tissot_semimajor, f.tissot_semiminor);
    vesk_fputs(out.c_str(), stdout);
  }
}

/* ---- series approximation (-T) ---- */

/*
 * A bivariate series: for u and for v, per row i the coefficients of the
 * columns 0..m-1 (m = 0 for an empty row).
 */
struct SeriesRows {
  std::vector<std::vector<double>> rows;
};

/* The point function of the fit: the run's projection with its scaling. */
struct SeriesPoint {
  projPJ pj;
  const ProjRunOptions *opt;
  bool operator()(double u, double v, double *x, double *y) const {
    if (opt->prescale) {
      u *= opt->scale;
      v *= opt->scale;
    }
    if (opt->inverse) projectInverse(pj, u, v, x, y);
    else projectForward(pj, u, v, x, y);
    if (*x == HUGE_VAL) return false;
    if (opt->postscale) {
      *x *= opt->scale;
      *y *= opt->scale;
    }
    return true;
  }
};

typedef std::vector<std::vector<double>> Grid;

/*
 * chebyshevCoefficients --
 *     Samples the function at the Chebyshev nodes of [a, b] and turns the
 *     samples into the coefficients of the bivariate Chebyshev series,
 *     first along u, then along v.
 * Results:      false when the function fails at a node.
 */
bool chebyshevCoefficients(double au, double av, double bu, double bv, int nu, int nv,
                           const SeriesPoint &func, Grid &fu, Grid &fv) {
  double bmaU = 0.5 * (bu - au), bmaV = 0.5 * (bv - av);
  double bpaU = 0.5 * (bu + au), bpaV = 0.5 * (bv + av);
  fu.assign(static_cast<size_t>(nu), std::vector<double>(static_cast<size_t>(nv)));
  fv = fu;
  for (int i = 0; i < nu; ++i) {
    double u = cos(M_PI * (i + 0.5) / nu) * bmaU + bpaU;
    for (int j = 0; j < nv; ++j) {
      double v = cos(M_PI * (j + 0.5) / nv) * bmaV + bpaV;
      if (!func(u, v, &fu[i][j], &fv[i][j])) return false;
    }
  }
  std::vector<double> cu(static_cast<size_t>(nu)), cv(static_cast<size_t>(nu));
  double fac = 2. / nu;
  for (int j = 0; j < nv; ++j) {
    for (int i = 0; i < nu; ++i) {
      double su = 0, sv = 0;
      for (int k = 0; k < nu; ++k) {
        double d = cos(M_PI * i * (k + .5) / nu);
        su += fu[k][j] * d;
        sv += fv[k][j] * d;
      }
      cu[i] = su * fac;
      cv[i] = sv * fac;
    }
    for (int i = 0; i < nu; ++i) {
      fu[i][j] = cu[i];
      fv[i][j] = cv[i];
    }
  }
  cu.resize(static_cast<size_t>(nv));
  cv.resize(static_cast<size_t>(nv));
  fac = 2. / nv;
  for (int i = 0; i < nu; ++i) {
    for (int j = 0; j < nv; ++j) {
      double su = 0, sv = 0;
      for (int k = 0; k < nv; ++k) {
        double d = cos(M_PI * j * (k + .5) / nv);
        su += fu[i][k] * d;
        sv += fv[i][k] * d;
      }
      cu[j] = su * fac;
      cv[j] = sv * fac;
    }
    fu[i].assign(cu.begin(), cu.end());
    fv[i].assign(cv.begin(), cv.end());
  }
  return true;
}

/*
 * chebyshevToPower --
 *     The coefficients c[0..n-1] of a Chebyshev series on [a, b] (c[0]
 *     counted half) as the coefficients of a power series in the
 *     variable itself, in place; get and put reach the n values.
 */
template <class Get, class Put>
void chebyshevToPower(int n, double a, double b, Get get, Put put) {
  std::vector<double> c(static_cast<size_t>(n)), d(static_cast<size_t>(n), 0.),
      dd(static_cast<size_t>(n), 0.);
  for (int j = 0; j < n; ++j) c[j] = get(j);
  d[0] = c[n - 1];
  for (int j = n - 2; j >= 1; --j) {
    for (int k = n - j; k >= 1; --k) {
      double sv = d[k];
      d[k] = 2. * d[k - 1] - dd[k];
      dd[k] = sv;
    }
    double sv = d[0];
    d[0] = -dd[0] + c[j];
    dd[0] = sv;
  }
  for (int j = n - 1; j >= 1; --j) d[j] = d[j - 1] - dd[j];
  d[0] = -dd[0] + .5 * c[0];
  /* from [-1, 1] to [a, b] */
  double cnst = 2. / (b - a), fac = cnst;
  for (int j = 1; j < n; ++j) {
    d[j] *= fac;
    fac *= cnst;
  }
  cnst = .5 * (a + b);
  for (int j = 0; j <= n - 2; ++j)
    for (int k = n - 2; k >= j; --k) d[k] -= cnst * d[k + 1];
  for (int j = 0; j < n; ++j) put(j, d[j]);
}

/* Sum of the magnitudes of the coefficients below res. */
double smallSum(const Grid &w, double res) {
  double sum = 0;
  for (const std::vector<double> &row : w)
    for (double c : row)
      if (fabs(c) < res) sum += fabs(c);
  return sum;
}

/* The non-zero rows of a coefficient grid: per row, columns up to the last non-zero one. */
SeriesRows seriesRowsOf(const Grid &w) {
  SeriesRows out;
  int last = 0;
  std::vector<std::vector<double>> rows;
  for (size_t i = 0; i < w.size(); ++i) {
    size_t m = 0;
    for (size_t j = 0; j < w[i].size(); ++j)
      if (w[i][j] != 0.) m = j + 1;
    rows.emplace_back(w[i].begin(), w[i].begin() + static_cast<long>(m));
    if (m) last = static_cast<int>(i) + 1;
  }
  rows.resize(static_cast<size_t>(last));
  out.rows = rows;
  return out;
}

/*
 * printSeriesRows --
 *     "u: %d" (or v) with the row count, then each non-empty row as its
 *     index, its count and its coefficients, continuing on a new line
 *     after 60 characters.
 */
void printSeriesRows(std::string &out, char name, const SeriesRows &series, const char *format) {
  std::string cut(format, strnlen(format, 17));
  appendFormatted(out, "%c: %d\n", name, static_cast<int>(series.rows.size()));
  for (size_t i = 0; i < series.rows.size(); ++i) {
    const std::vector<double> &row = series.rows[i];
    if (row.empty()) continue;
    size_t start = out.size();
    appendFormatted(out, "%d %d", static_cast<int>(i), static_cast<int>(row.size()));
    size_t length = out.size() - start, n = 0;
    for (double c : row) {
      if ((length += n) > 60) {
        out += "\n ";
        length = 1;
      }
      size_t before = out.size();
      out += ' ';
      appendFormatted(out, cut.c_str(), c);
      n = out.size() - before;
    }
    out += '\n';
  }
}

/*
 * generateSeries --
 *     The -T run: reads the bounds and settings, prints the run line and
 *     the projection's parameters, fits the series and prints it.
 * Side effects: every refusal is fatal with code 16.
 */
void generateSeries(const char *request, projPJ pj, const ProjRunOptions &opt, int argc,
                    const char **argv) {
  double (*input)(const char *, char **) = opt.inverse ? readProgramNumber : readProgramAngle;
  char *s = const_cast<char *>(request);
  double low[2] = {0, 0}, upp[2] = {0, 0};
  int missing = 0;
  if (*s) low[0] = input(s, &s); else ++missing;
  if (*s == ',') upp[0] = input(s + 1, &s); else ++missing;
  if (*s == ',') low[1] = input(s + 1, &s); else ++missing;
  if (*s == ',') upp[1] = input(s + 1, &s); else ++missing;
  for (double bound : {low[0], upp[0], low[1], upp[1]})
    if (bound == HUGE_VAL) ++missing;
  if (missing) emess(16, "null or absent -T parameters");
  long res = -1, nu = 15, nv = 15;
  if (*s == ',' && *++s != ',') res = strtol(s, &s, 10);
  if (*s == ',' && *++s != ',') nu = strtol(s, &s, 10);
  if (*s == ',' && *++s != ',') nv = strtol(s, &s, 10);
  bool power = strcmp(s, ",P") == 0;
  const char *kind = power ? "Power" : "Chebyshev";

  std::string out;
  appendFormatted(out, "#proj_%s\n#    run-line:\n", kind);
  size_t n = 0;
  for (int i = 0; i < argc; ++i) {
    if (*argv[i] == '+') continue;
    if (!n) {
      out += '#';
      ++n;
    }
    out += ' ';
    out += argv[i];
    if ((n += strlen(argv[i]) + 1) > 50) {
      out += '\n';
      n = 0;
    }
  }
  if (n) out += '\n';
  out += "# projection parameters\n";
  vesk_fputs(out.c_str(), stdout);
  printProjParamList(pj);

  if (low[0] == upp[0] || low[1] >= upp[1]) emess(16, "approx. argument range error");
  if (low[0] > upp[0]) low[0] -= 2 * M_PI;
  if (nu < 2 || nv < 2) emess(16, "approx. work dimensions (%ld %ld) too small", nu, nv);
  if (nu > kMaxSeriesDimension || nv > kMaxSeriesDimension)
    emess(16, "approx. work dimensions (%ld %ld) too large (at most %d)", nu, nv,
          kMaxSeriesDimension);

  Grid wu, wv;
  SeriesPoint func{pj, &opt};
  if (!chebyshevCoefficients(low[0], low[1], upp[0], upp[1], static_cast<int>(nu),
                             static_cast<int>(nv), func, wu, wv))
    emess(16, "generation of approx failed\nreason: %s\n",
          "the projection fails inside the argument range");
  double tolerance = pow(10., static_cast<double>(res)) * .5;
  double cutres = tolerance, residU = 0, residV = 0;
  int tries;
  for (tries = 4; tries; --tries) {
    residU = smallSum(wu, cutres);
    residV = smallSum(wv, cutres);
    if (residU < tolerance && residV < tolerance) break;
    cutres *= .5;
  }
  if (tries <= 0) residU = -residU;
  for (Grid *w : {&wu, &wv})
    for (std::vector<double> &row : *w)
      for (double &c : row)
        if (fabs(c) < cutres) c = 0.;
  if (power) {
    for (Grid *w : {&wu, &wv}) {
      Grid &g = *w;
      for (int i = 0; i < nu; ++i)
        chebyshevToPower(static_cast<int>(nv), low[1], upp[1], [&](int j) { return g[i][j]; },
                         [&](int j, double value) { g[i][j] = value; });
      for (int j = 0; j < nv; ++j)
        chebyshevToPower(static_cast<int>(nu), low[0], upp[0], [&](int i) { return g[i][j]; },
                         [&](int i, double value) { g[i][j] = value; });
    }
  }
  double toDegrees = opt.inverse ? 1. : kRadToDeg;
  out.clear();
  appendFormatted(out, "%c,%.12g,%.12g,%.12g,%.12g,%.12g\n", opt.inverse ? 'I' : 'F',
                  getProjLam0(pj) * kRadToDeg, low[0] * toDegrees, upp[0] * toDegrees,
                  low[1] * toDegrees, upp[1] * toDegrees);
  std::string format;
  if (power) format = "%.15g";
  else if (res <= 0) appendFormatted(format, "%%.%ldf", -res + 1);
  else format = "%.0f";
  printSeriesRows(out, 'u', seriesRowsOf(wu), format.c_str());
  printSeriesRows(out, 'v', seriesRowsOf(wv), format.c_str());
  appendFormatted(out, "# |u,v| sums %g %g\n#end_proj_%s\n", residU, residV, kind);
  vesk_fputs(out.c_str(), stdout);
}

/* The -m argument: a factor, or the reciprocal of one written "1/n" or "1:n". */
double readScale(const char *text) {
  double scale;
  if (strncmp(text, "1/", 2) == 0 || strncmp(text, "1:", 2) == 0) {
    scale = atof(text + 2);
    if (scale == 0.) emess(1, "invalid scale argument");
    return 1. / scale;
  }
  scale = atof(text);
  if (scale == 0.) emess(1, "invalid scale argument");
  return scale;
}

/*
 * projMain --
 *     The proj program: scans the words, builds the projection and runs
 *     the input through it.  Every way out is projExit.
 */
int projMain(int argc, const char **argv) {
  ProjRunOptions opt;
  std::vector<const char *> params, files;
  if (strncmp(getProgramName(), "inv", 3) == 0) opt.inverse = 1;
  if (argc <= 1) {
    vesk_fprintf(stderr, kProjUsage, kProgramReleaseText, getProgramName());
    projExit(0);
  }
  for (int i = 1; i < argc; i++) {
    const char *word = argv[i];
    if (*word == '+') {
      if (static_cast<int>(params.size()) >= kMaxProgramParams)
        emess(1, "overflowed + argument table");
      params.push_back(word + 1);
      continue;
    }
    if (*word != '-') {
      files.push_back(word);
      continue;
    }
    if (!word[1]) {
      files.push_back("-");
      continue;
    }
    for (const char *arg = word + 1; *arg; arg++) {
      bool takesNext = strchr("eTmf", *arg) != nullptr;
      if (takesNext && i + 1 >= argc) emess(1, "missing argument for -%c", *arg);
      switch (*arg) {
      case 'b': opt.binaryIn = opt.binaryOut = 1; continue;
      case 'v': opt.verbose = 1; continue;
      case 'i': opt.binaryIn = 1; continue;
      case 'o': opt.binaryOut = 1; continue;
      case 'I': opt.inverse = 1; continue;
      case 'E': opt.echoIn = 1; continue;
      case 'V': opt.veryVerbose = opt.verbose = opt.doFactors = 1; continue;
      case 'S': opt.doFactors = 1; continue;
      case 'T': opt.series = argv[++i]; continue;
      case 'm':
        opt.scale = readScale(argv[++i]);
        opt.postscale = 1;
        continue;
      case 'l': listProgramTables(arg + 1);
      case 'e': opt.errorText = argv[++i]; continue;
      case 'f':
        opt.outFormat = argv[++i];
        checkProgramFormat(opt.outFormat);
        continue;
      case 'r': opt.reverseIn = 1; continue;
      case 's': opt.reverseOut = 1; continue;
      case 'w':
      case 'W':
        setDmsOption(*arg == 'W', arg + 1);
        arg++;
        continue;
      case 't':
        if (!arg[1]) emess(1, "missing -t col. 1 tag");
        opt.tag = static_cast<unsigned char>(*++arg);
        continue;
      default:
        emess(1, "invalid option: -%c", *arg);
      }
    }
  }
  if (files.empty() && !opt.series) files.push_back("-");
  else if (!files.empty() && opt.series) emess(4, "data files when generating Chebychev prohibited");
  if (opt.inverse && opt.postscale) {
    opt.prescale = 1;
    opt.postscale = 0;
    opt.scale = 1. / opt.scale;
  }
  Tcl_Interp *interp = getCurrentProjInterp();
  ProjectionHolder pj(initProjection(interp, static_cast<int>(params.size()), params.data()));
  if (!pj) emess(3, "projection initialization failure\ncause: %s", getProjError(interp));
  if (isLatLongProjection(pj.get())) emess(3, "+proj=latlong unsuitable for use with proj program.");
  if (opt.inverse && !hasProjectionInverse(pj.get())) emess(3, "inverse projection not available");
  if (opt.series) {
    generateSeries(opt.series, pj.get(), opt, argc, argv);
    pj.reset();
    projExit(0);
  }
  if (opt.verbose) {
    printProjParamList(pj.get());
    if (opt.veryVerbose) {
      std::string out = "#Final Earth figure: ";
      double e = getProjE(pj.get());
      const char *format = opt.outFormat ? opt.outFormat : "%.3f";
      if (e != 0) {
        double es = e * e;
        out += "ellipsoid\n#  Major axis (a): ";
        appendFormatted(out, format, getProjA(pj.get()));
        appendFormatted(out, "\n#  1/flattening: %.6f\n", 1. / (1. - sqrt(1. - es)));
        appendFormatted(out, "#  squared eccentricity: %.12f\n", es);
      } else {
        out += "sphere\n#  Radius: ";
        appendFormatted(out, format, getProjA(pj.get()));
        out += '\n';
      }
      vesk_fputs(out.c_str(), stdout);
    }
  }
  if (!opt.inverse && !opt.outFormat) opt.outFormat = "%.2f";
  for (const char *name : files) {
    InputHolder file;
    if (strcmp(name, "-") == 0) {
      file.reset(stdin);
      setInputFile("<stdin>");
    } else {
      file.reset(fopen(name, "rb"));
      if (!file) {
        emess(-2, "%s", name);
        continue;
      }
      setInputFile(name);
    }
    if (opt.veryVerbose) processVerbose(file.get(), pj.get(), opt);
    else processInput(file.get(), pj.get(), opt);
    setInputFile(nullptr);
  }
  pj.reset();
  projExit(0);
}

}  // namespace

/* ---- shared with cs2cs ---- */

/*
 * readProgramLine --
 *     One whole input line, however long, ending in a line break (one is
 *     added to a last line without it).
 * Results:      false at the end of the input.
 */
bool readProgramLine(FILE *file, std::string &line) {
  line.clear();
  char chunk[512];
  while (vesk_fgets(chunk, static_cast<int>(sizeof chunk), file)) {
    line += chunk;
    if (!line.empty() && line.back() == '\n') return true;
  }
  if (line.empty()) return false;
  line += '\n';
  return true;
}

namespace {

constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
constexpr uint64_t kIntPow10[] = {1,      10,      100,      1000,      10000,
                                  100000, 1000000, 10000000, 100000000, 1000000000};
constexpr int kMaxFixedPrecision = 9;
static_assert(sizeof kIntPow10 / sizeof kIntPow10[0] == kMaxFixedPrecision + 1,
              "one power of ten for each precision");

/*
 * readPlainDecimal --
 *     "[+-]digits[.digits]" with at most 15 digits, which a double holds
 *     exactly: one division by an exact power of ten then rounds as
 *     strtod does.  Any other form is left to the full readers.
 * Results:      false when the text is not such a number; else the
 *               magnitude, the sign and the end of the number.
 */
bool readPlainDecimal(const char *text, const char **end, double *magnitude, bool *negative) {
  const char *p = text;
  *negative = *p == '-';
  if (*p == '+' || *p == '-') p++;
  uint64_t digits = 0;
  int count = 0, fraction = 0;
  for (; *p >= '0' && *p <= '9'; p++, count++) digits = digits * 10 + static_cast<unsigned>(*p - '0');
  if (*p == '.') {
    for (p++; *p >= '0' && *p <= '9'; p++, count++, fraction++)
      digits = digits * 10 + static_cast<unsigned>(*p - '0');
  }
  if (count == 0 || count > 15) return false;
  *magnitude = fraction ? static_cast<double>(digits) / kPow10[fraction]
                        : static_cast<double>(digits);
  *end = p;
  return true;
}

/* Bytes after which neither strtod nor PROJ's angle reader reads on. */
bool endsPlainNumber(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0 || c == '\v' || c == '\f';
}

/* Whether strtod and printf use "." as the locale's decimal point. */
bool plainDecimalPoint() {
  const char *point = nl_langinfo(RADIXCHAR);
  return point[0] == '.' && point[1] == 0;
}

}  // namespace

/* A plain number, HUGE_VAL when the text holds none. */
double readProgramNumber(const char *text, char **rest) {
  const char *p = text;
  while (*p == ' ' || *p == '\t') p++;
  double magnitude;
  bool negative;
  const char *plainEnd;
  if (readPlainDecimal(p, &plainEnd, &magnitude, &negative) && endsPlainNumber(*plainEnd) &&
      plainDecimalPoint()) {
    *rest = const_cast<char *>(plainEnd);
    return negative ? -magnitude : magnitude;
  }
  char *end = nullptr;
  double value = strtod(text, &end);
  *rest = end;
  if (end == text) return HUGE_VAL;
  return value;
}

/* An angle in DMS text (radians), HUGE_VAL when the text holds none. */
double readProgramAngle(const char *text, char **rest) {
  /* PROJ's reader takes a lone letter or blank for 0: an angle starts with a number. */
  const char *number = text;
  while (*number == ' ' || *number == '\t') number++;
  const char *start = number;
  if (*start == '+' || *start == '-') start++;
  if (!((*start >= '0' && *start <= '9') || *start == '.')) {
    *rest = const_cast<char *>(text);
    return HUGE_VAL;
  }
  /* Plain degrees as PROJ's reader takes them: the number times its degree. */
  static const double degree = dmsToRadians("1", nullptr);
  double magnitude;
  bool negative;
  const char *plainEnd;
  if (readPlainDecimal(number, &plainEnd, &magnitude, &negative) && endsPlainNumber(*plainEnd)) {
    double value = 0.;
    value += magnitude * degree;
    *rest = const_cast<char *>(plainEnd);
    return negative ? -value : value;
  }
  char *end = nullptr;
  double value = dmsToRadians(text, &end);
  if (!end || end == text) {
    *rest = const_cast<char *>(text);
    return HUGE_VAL;
  }
  *rest = end;
  return value;
}

void appendFormatted(std::string &out, const char *format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
    out.append(small, static_cast<size_t>(n));
  } else if (n >= 0) {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&big[0], big.size(), format, args);
    out.append(big.c_str(), static_cast<size_t>(n));
  }
  va_end(args);
}

int fixedFormatPrecision(const char *format) {
  if (!format || format[0] != '%' || format[1] != '.' || format[2] < '0' || format[2] > '9' ||
      format[3] != 'f' || format[4] != 0)
    return -1;
  return format[2] - '0';
}

/*
 * appendFixed --
 *     "%.*f" of a value below 2^53 in magnitude, worked out in integers
 *     from the double's exact binary value: scaled by 10^precision, then
 *     rounded half to even as printf rounds, with the sign of a negative
 *     zero or of a negative value that rounds to zero kept.
 * Results:      false, with nothing appended, for any other value or
 *               precision, or when the locale's decimal point is not ".".
 */
bool appendFixed(std::string &out, double value, int precision) {
  if (precision < 0 || precision > kMaxFixedPrecision || !(fabs(value) < 9007199254740992.0) ||
      !plainDecimalPoint())
    return false;
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  int biased = static_cast<int>((bits >> 52) & 0x7ff);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exponent = -1074;
  if (biased) {
    mantissa |= uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  /* Below 2^53 the exponent is at most 0, and the product stays below 2^83. */
  unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * kIntPow10[precision];
  unsigned __int128 rounded = 0;
  int shift = -exponent;
  if (shift == 0) {
    rounded = scaled;
  } else if (shift < 128) {
    rounded = scaled >> shift;
    unsigned __int128 rest = scaled - (rounded << shift);
    unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    if (rest > half || (rest == half && (rounded & 1))) rounded++;
  }
  uint64_t whole, fraction;
  if (rounded >> 64 == 0) {  /* the usual case, without a 128-bit division */
    whole = static_cast<uint64_t>(rounded) / kIntPow10[precision];
    fraction = static_cast<uint64_t>(rounded) % kIntPow10[precision];
  } else {
    whole = static_cast<uint64_t>(rounded / kIntPow10[precision]);
    fraction = static_cast<uint64_t>(rounded % kIntPow10[precision]);
  }
  char buffer[48];
  char *end = buffer + sizeof buffer, *p = end;
  for (int i = 0; i < precision; i++, fraction /= 10) *--p = static_cast<char>('0' + fraction % 10);
  if (precision > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole);
  if (bits >> 63) *--p = '-';
  out.append(p, static_cast<size_t>(end - p));
  return true;
}

std::string dmsText(double radians, int pos, int neg) {
  char buffer[64];
  radiansToDms(buffer, sizeof buffer, radians, pos, neg);
  return buffer;
}

/*
 * listProgramTables --
 *     The -l options: projections (-l, -lp, -lP, -l=id), ellipsoids (-le),
 *     units (-lu) and datums (-ld).  arg is what follows the l.
 * Side effects: ends the run with exit 0.
 */
void listProgramTables(const char *arg) {
  std::string out;
  if (!arg[0] || arg[0] == 'p' || arg[0] == 'P') {
    for (const ProjTypeEntry *e = getFirstProjType(); e && e->id; e = getNextProjType(e)) {
      const char *descr = getProjTypeDescr(e);
      appendFormatted(out, "%s : ", getProjTypeId(e));
      if (arg[0] == 'P') out += std::string(descr ? descr : "") + "\n";
      else out += firstLine(descr) + "\n";
    }
  } else if (arg[0] == '=') {
    const ProjTypeEntry *e = getProjTypeAt(findProjType(arg + 1));
    if (e) {
      const char *descr = getProjTypeDescr(e);
      appendFormatted(out, "%9s : %s\n", getProjTypeId(e), descr ? descr : "");
    }
  } else if (arg[0] == 'e') {
    for (const EllipsoidEntry *e = getFirstEllipsoid(); e && e->id; e = getNextEllipsoid(e))
      appendFormatted(out, "%9s %-16s %-16s %s\n", getEllipsoidId(e), getEllipsoidMajor(e),
                      getEllipsoidEll(e), getEllipsoidName(e));
  } else if (arg[0] == 'u') {
    for (const UnitEntry *u = getFirstUnit(); u && u->id; u = getNextUnit(u))
      appendFormatted(out, "%12s %-20s %s\n", u->id, u->to_meter, u->name);
  } else if (arg[0] == 'd') {
    out = "__datum_id__ __ellipse___ __definition/comments______________________________\n";
    for (const DatumEntry *d = getFirstDatum(); d && d->id; d = getNextDatum(d)) {
      appendFormatted(out, "%12s %-12s %-30s\n", d->id, d->ellipseId, d->defn);
      if (d->comments && *d->comments) appendFormatted(out, "%25s %s\n", " ", d->comments);
    }
  } else {
    emess(1, "invalid list option: l%c", arg[0]);
  }
  vesk_fputs(out.c_str(), stdout);
  projExit(0);
}

/*
 * printProjParamList --
 *     The description of a projection's kind, each line after a "#", then
 *     its parameters as "+" words on "#" lines of at most 72 characters.
 */
void printProjParamList(projPJ pj) {
  std::string out = "#";
  const char *descr = nullptr;
  for (ProjParam *p = getFirstProjParam(pj); p; p = getNextProjParam(p)) {
    const char *text = getProjParamText(p);
    if (strncmp(text, "proj=", 5) == 0) {
      descr = getProjTypeDescr(getProjTypeAt(findProjType(text + 5)));
      break;
    }
  }
  for (const char *s = descr ? descr : ""; *s; s++) {
    out += *s;
    if (*s == '\n') out += '#';
  }
  out += "\n#";
  int n = 1;
  for (ProjParam *p = getFirstProjParam(pj); p; p = getNextProjParam(p)) {
    const char *text = getProjParamText(p);
    int length = static_cast<int>(strlen(text)) + 1;
    if (n + length > kParamLineLength) {
      out += "\n#";
      n = 2;
    }
    out += ' ';
    if (*text != '+') out += '+';
    out += text;
    n += length;
  }
  if (n > 1) out += '\n';
  vesk_fputs(out.c_str(), stdout);
}

/* ---- the command ---- */

/*
 * projProgramCmd --
 *     "proj ?options? ?+param ...? ?file ...?": runs the proj program.
 * Results:      TCL_ERROR after every run (its output went to the
 *               console); "proj.exitCode" gives the exit code.
 */
int projProgramCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return runProjProgramCmd(interp, "proj", projMain, argc, argv);
}

}  // namespace vesk
