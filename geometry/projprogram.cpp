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

#include <math.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "geometry/projcmd.h"
#include "geometry/projprog.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

constexpr double kRadToDeg = 180.0 / M_PI;
constexpr int kMaxProgramParams = 100;
constexpr int kParamLineLength = 72;

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
 * processText --
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
  if (opt.series) emess(16, "series approximation (-T) not available");
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

/* A plain number, HUGE_VAL when the text holds none. */
double readProgramNumber(const char *text, char **rest) {
  char *end = nullptr;
  double value = strtod(text, &end);
  *rest = end;
  if (end == text) return HUGE_VAL;
  return value;
}

/* An angle in DMS text (radians), HUGE_VAL when the text holds none. */
double readProgramAngle(const char *text, char **rest) {
  /* PROJ's reader takes a lone letter or blank for 0: an angle starts with a number. */
  const char *start = text;
  while (*start == ' ' || *start == '\t') start++;
  if (*start == '+' || *start == '-') start++;
  if (!((*start >= '0' && *start <= '9') || *start == '.')) {
    *rest = const_cast<char *>(text);
    return HUGE_VAL;
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
  try {
    return runProjProgram(interp, "proj", projMain, argc, argv);
  } catch (const std::bad_alloc &) {
    Tcl_SetResult(interp, const_cast<char *>("out of memory"), TCL_STATIC);
    return TCL_ERROR;
  }
}

}  // namespace vesk
