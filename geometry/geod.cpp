/*
 * geod.cpp --
 *     Geodesic lines: the geod program run as the command "geod" (distances
 *     and azimuths between points, end points from a point, an azimuth and
 *     a distance, points along a line or on an arc), and the geod objects
 *     made by "geod.create", which keep one ellipsoid set-up and one line
 *     as options and answer single computations and point series.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/core.h"
#include "geometry/geodesic.h"
#include "geometry/projcmd.h"
#include "geometry/projfamily.h"
#include "geometry/projprog.h"
#include "geometry/projprogram.h"
#include "vesk/object.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

constexpr double kDegToRad = M_PI / 180.0;
constexpr double kRadToDeg = 180.0 / M_PI;
constexpr int kMaxProgramParams = 50;
/* Most points one calcarc or calcgeod returns: the list must fit in memory. */
constexpr long kMaxSeriesPoints = 1000000;

constexpr const char *kGeodUsage = "%s\nusage: %s [ -afFIptTwW [args] ] [ +opts[=arg] ] [ files ]\n";

/* The payload of a geod object; options through geodConfigSpecs. */
struct GeodObject {
  char *geod = nullptr;          /* -geod: set-up words, a Tcl list of PROJ parameters */
  int inv = 1;                   /* -inv: 1 two points give -A and -S, 0 -A and -S give point 2 */
  double lat1 = 0, lon1 = 0;     /* -lat_1, -lon_1: degrees */
  double lat2 = 0, lon2 = 0;     /* -lat_2, -lon_2: degrees */
  double A = 0;                  /* -A: azimuth from point 1 to point 2, degrees */
  double S = 0;                  /* -S: distance in the units of the ellipsoid's axis */
  Tk_Uid fmt = nullptr;          /* -fmt: format of one number in results */
  int defined = 0;               /* 1 after the first successful configuration */
  GeodesicState work;            /* the state the options are computed on */
  GeodesicState sub;             /* the state of the computing subcommands */
  std::string geodDef;           /* the text work was set up from; "" before */
};

Tk_ConfigSpec geodConfigSpecs[] = {
    {TK_CONFIG_STRING, "-geod", nullptr, nullptr, "ellps=clrk66", Tk_Offset(GeodObject, geod),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_INT, "-inv", nullptr, nullptr, "1", Tk_Offset(GeodObject, inv), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-lat_1", nullptr, nullptr, "42.25", Tk_Offset(GeodObject, lat1), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-lon_1", nullptr, nullptr, "-71.11666667", Tk_Offset(GeodObject, lon1),
     0, nullptr},
    {TK_CONFIG_DOUBLE, "-lat_2", nullptr, nullptr, "45.51666667", Tk_Offset(GeodObject, lat2), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-lon_2", nullptr, nullptr, "-123.6833333", Tk_Offset(GeodObject, lon2),
     0, nullptr},
    {TK_CONFIG_DOUBLE, "-A", nullptr, nullptr, "-66.53059438", Tk_Offset(GeodObject, A), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-S", nullptr, nullptr, "4164192.64828", Tk_Offset(GeodObject, S), 0,
     nullptr},
    {TK_CONFIG_UID, "-fmt", nullptr, nullptr, "%.12g", Tk_Offset(GeodObject, fmt), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

const char *const geodSavedOptions[] = {"-geod", "-inv", "-lat_1", "-lon_1", "-lat_2",
                                        "-lon_2", "-A",   "-S",     "-fmt",  nullptr};
const char *const geodKeptOptions[] = {"-geod", "-fmt", nullptr};
const ProjOptionTable geodOptions = {geodConfigSpecs, geodSavedOptions, geodKeptOptions,
                                     PROJ_SAVED_PAIRS, "%.12g", false, 65536};

constexpr const char *kGeodInstanceUsage =
    " command (calcarc, calcgeod, cget class clone close config count geodconfigure geodfwd "
    "geodget geodinv save type version)";

/* ---- the program ---- */

/* The options of one run of geod, at their initial values. */
struct GeodRunOptions {
  int fullOut = 0;
  int inverse = 0;
  int positiveAzimuth = 0;
  int tag = '#';
  const char *angleFormat = nullptr;   /* -f: degrees in this format, else DMS text */
  const char *distFormat = "%.3f";     /* -F */
};

struct InputDeleter {
  void operator()(FILE *file) const {
    if (file != stdin) fclose(file);
  }
};
typedef std::unique_ptr<FILE, InputDeleter> InputHolder;

/* A point: latitude, a tab, longitude. */
void appendPoint(std::string &out, const GeodRunOptions &opt, double phi, double lam) {
  if (opt.angleFormat) {
    appendFormatted(out, opt.angleFormat, phi * kRadToDeg);
    out += '\t';
    appendFormatted(out, opt.angleFormat, lam * kRadToDeg);
  } else {
    out += dmsText(phi, 'N', 'S') + "\t" + dmsText(lam, 'E', 'W');
  }
}

/* An azimuth: degrees in the -f format, else DMS text without a letter. */
void appendAzimuth(std::string &out, const GeodRunOptions &opt, double az) {
  if (opt.angleFormat) appendFormatted(out, opt.angleFormat, az * kRadToDeg);
  else out += dmsText(az, 0, 0);
}

void printPointLine(const GeodRunOptions &opt, double phi, double lam) {
  std::string out;
  appendPoint(out, opt, phi, lam);
  out += '\n';
  vesk_fputs(out.c_str(), stdout);
}

/* The -l listings: ellipsoids (-le) and units (-lu). */
void listGeodTables(const char *arg) {
  std::string out;
  if (arg[0] == 'e' && !arg[1]) {
    for (const EllipsoidEntry *e = getFirstEllipsoid(); e && e->id; e = getNextEllipsoid(e))
      appendFormatted(out, "%9s %-16s %-16s %s\n", getEllipsoidId(e), getEllipsoidMajor(e),
                      getEllipsoidEll(e), getEllipsoidName(e));
  } else if (arg[0] == 'u' && !arg[1]) {
    for (const UnitEntry *u = getFirstUnit(); u && u->id; u = getNextUnit(u))
      appendFormatted(out, "%12s %-20s %s\n", u->id, u->to_meter, u->name);
  } else {
    emess(1, "invalid list option: l%s", arg);
  }
  vesk_fputs(out.c_str(), stdout);
}

/* The points of one input file, a line at a time. */
void processGeodInput(FILE *file, GeodesicState &g, const GeodRunOptions &opt) {
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
    bool good = true;
    auto angle = [&]() {
      double v = readProgramAngle(s, &s);
      if (v == HUGE_VAL) good = false;
      return v;
    };
    g.phi1 = angle();
    if (good) g.lam1 = angle();
    if (good && opt.inverse) {
      g.phi2 = angle();
      if (good) g.lam2 = angle();
      if (good) geodInv(&g);
    } else if (good) {
      g.al12 = angle();
      if (good) {
        double dist = readProgramNumber(s, &s);
        if (dist == HUGE_VAL) good = false;
        else g.S = dist * g.to_meter;
      }
      if (good) {
        geodPre(&g);
        geodFor(&g);
      }
    }
    out.clear();
    if (!good) {
      out += "*\t*";
      out += s;
      vesk_fputs(out.c_str(), stdout);
      continue;
    }
    if (opt.positiveAzimuth) {
      if (g.al12 < 0) g.al12 += 2 * M_PI;
      if (g.al21 < 0) g.al21 += 2 * M_PI;
    }
    if (opt.fullOut) {
      appendPoint(out, opt, g.phi1, g.lam1);
      out += '\t';
      appendPoint(out, opt, g.phi2, g.lam2);
      out += '\t';
      appendAzimuth(out, opt, g.al12);
      out += '\t';
      appendAzimuth(out, opt, g.al21);
      out += '\t';
      appendFormatted(out, opt.distFormat, g.S * g.fr_meter);
    } else if (opt.inverse) {
      appendAzimuth(out, opt, g.al12);
      out += '\t';
      appendAzimuth(out, opt, g.al21);
      out += '\t';
      appendFormatted(out, opt.distFormat, g.S * g.fr_meter);
    } else {
      appendPoint(out, opt, g.phi2, g.lam2);
      out += '\t';
      appendAzimuth(out, opt, g.al21);
    }
    out += s;
    vesk_fputs(out.c_str(), stdout);
  }
}

void checkGeodFormat(char letter, const char *format) {
  if (checkNumberFormat(nullptr, "-f", format) != TCL_OK)
    emess(1, "invalid output format: -%c %s (one floating-point conversion such as %%.6f)",
          letter, format);
}

/*
 * geodMain --
 *     The geod program: "+" words set up the ellipsoid and optionally a
 *     line, which is stepped along (n_S, del_S) or around (n_A, del_A);
 *     else the input's lines are solved one by one.
 */
int geodMain(int argc, const char **argv) {
  GeodRunOptions opt;
  std::vector<const char *> params, files;
  bool listed = false;
  if (strncmp(getProgramName(), "inv", 3) == 0) opt.inverse = 1;
  if (argc <= 1) {
    vesk_fprintf(stderr, kGeodUsage, kProgramReleaseText, getProgramName());
    projExit(0);
  }
  for (int i = 1; i < argc; i++) {
    const char *word = argv[i];
    if (listed) emess(1, "will not proceed after display list option");
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
      if ((*arg == 'f' || *arg == 'F') && i + 1 >= argc)
        emess(1, "missing argument for -%c", *arg);
      switch (*arg) {
      case 'a': opt.fullOut = 1; continue;
      case 'I': opt.inverse = 1; continue;
      case 'p': opt.positiveAzimuth = 1; continue;
      case 't':
        if (!arg[1]) emess(1, "missing -t col. 1 tag");
        opt.tag = static_cast<unsigned char>(*++arg);
        continue;
      case 'f':
        opt.angleFormat = argv[++i];
        checkGeodFormat('f', opt.angleFormat);
        continue;
      case 'F':
        opt.distFormat = argv[++i];
        checkGeodFormat('F', opt.distFormat);
        continue;
      case 'w':
      case 'W':
        setDmsOption(*arg == 'W', arg + 1);
        arg++;
        continue;
      case 'l':
        listGeodTables(arg + 1);
        listed = true;
        break;
      default:
        emess(1, "invalid option: -%c", *arg);
      }
      break;
    }
  }
  if (listed) projExit(0);
  GeodesicState g;
  g.twoPoint = opt.inverse;
  geodSet(static_cast<int>(params.size()), params.data(), &g, GEOD_SET_PROGRAM);
  if ((g.n_alpha > 0 || g.n_S > 0) && !files.empty())
    emess(1, "files specified for arc/geodesic mode");
  if (g.n_alpha > 0) {
    printPointLine(opt, g.phi2, g.lam2);
    for (int i = 0; i < g.n_alpha; i++) {
      g.al12 = adjustAzimuth(g.al12 + g.del_alpha);
      geodPre(&g);
      geodFor(&g);
      printPointLine(opt, g.phi2, g.lam2);
    }
    projExit(0);
  }
  if (g.n_S > 0) {
    double phi2 = g.phi2, lam2 = g.lam2, total = g.S;
    double step = total / g.n_S;
    printPointLine(opt, g.phi1, g.lam1);
    for (int i = 1; i < g.n_S; i++) {
      g.S = step * i;
      geodFor(&g);
      printPointLine(opt, g.phi2, g.lam2);
    }
    printPointLine(opt, phi2, lam2);
    projExit(0);
  }
  if (files.empty()) files.push_back("-");
  for (const char *name : files) {
    InputHolder file;
    if (strcmp(name, "-") == 0) {
      file.reset(stdin);
      setInputFile("<stdin>");
    } else {
      file.reset(fopen(name, "rt"));
      if (!file) {
        emess(-2, "%s", name);
        continue;
      }
      setInputFile(name);
    }
    processGeodInput(file.get(), g, opt);
    setInputFile(nullptr);
  }
  projExit(0);
}

/* ---- the objects ---- */

char *copyText(const char *text) {
  size_t n = strlen(text);
  char *copy = static_cast<char *>(ckalloc(static_cast<unsigned>(n + 1)));
  memcpy(copy, text, n + 1);
  return copy;
}

std::string formatNumber(const char *format, double value) {
  std::string out;
  appendFormatted(out, format, value);
  return out;
}

/*
 * setUpGeod --
 *     Runs geodSet on a copy of the working state from the words of text.
 * Results:      TCL_OK with *state filled, or TCL_ERROR with "error in
 *               parsing " and the text in the result.
 */
int setUpGeod(Tcl_Interp *interp, const char *text, int twoPoint, GeodesicState *state) {
  int argc = 0;
  const char **argv = nullptr;
  int ok = 0;
  if (Tcl_SplitList(interp, text, &argc, &argv) == TCL_OK) {
    GeodesicState s;
    s.twoPoint = twoPoint;
    ok = geodSet(argc, argv, &s, GEOD_SET_OBJECT);
    ckfree(reinterpret_cast<char *>(argv));
    if (ok) *state = s;
  }
  if (ok) return TCL_OK;
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "error in parsing ", text, nullptr);
  return TCL_ERROR;
}

GeodObject *newGeodObject() { return new GeodObject; }

void freeGeodObject(GeodObject *object) {
  if (!object) return;
  if (object->geod) ckfree(object->geod);
  delete object;
}

/*
 * configureGeodObject --
 *     Applies option words, sets the ellipsoid up again when "-geod"
 *     changed, and solves the object's line: -A and -S from the two points
 *     with -inv set, else the second point from the first, -A and -S.
 * Results:      TCL_OK, or TCL_ERROR with the message in the result.
 * Side effects: a refused set-up or format puts the previous "-geod" and
 *               "-fmt" back.
 */
int configureGeodObject(Tcl_Interp *interp, GeodObject *object, int argc, const char **argv,
                        int flags) {
  ProjOptionSnapshot snapshot(geodOptions, object);
  auto refuse = [&](const char *message) {
    snapshot.restore(object);
    if (message) Tcl_SetObjResult(interp, Tcl_NewStringObj(message, -1));
    return TCL_ERROR;
  };
  if (applyProjOptions(interp, geodOptions, object, argc, argv, flags) != TCL_OK)
    return TCL_ERROR;
  if (!object->geod || !*object->geod) return refuse("missing geod specification");
  if (strlen(object->geod) > static_cast<size_t>(kProjDefMax))
    return refuse(fmt("geod specification longer than %d characters", kProjDefMax));
  if (checkNumberFormat(interp, "-fmt", object->fmt) != TCL_OK) return refuse(nullptr);
  if (!object->defined || object->geodDef != object->geod) {
    GeodesicState s;
    if (setUpGeod(interp, object->geod, object->inv, &s) != TCL_OK) return refuse(nullptr);
    object->work = s;
    object->sub = s;
    object->inv = s.twoPoint;
    object->geodDef = object->geod;
  }
  GeodesicState &w = object->work;
  w.twoPoint = object->inv;
  w.lam1 = object->lon1 * kDegToRad;
  w.phi1 = object->lat1 * kDegToRad;
  if (object->inv) {
    w.lam2 = object->lon2 * kDegToRad;
    w.phi2 = object->lat2 * kDegToRad;
    geodInv(&w);
    object->A = w.al12 * kRadToDeg;
    object->S = w.S;
  } else {
    w.al12 = object->A * kDegToRad;
    w.S = object->S;
    geodPre(&w);
    geodFor(&w);
    object->lon2 = w.lam2 * kRadToDeg;
    object->lat2 = w.phi2 * kRadToDeg;
  }
  object->defined = 1;
  return TCL_OK;
}

/* A copy with the set-up, the format and both states; no line. */
GeodObject *cloneGeodObject(const GeodObject *source) {
  GeodObject *copy = newGeodObject();
  copy->geod = source->geod ? copyText(source->geod) : nullptr;
  copy->fmt = source->fmt;
  copy->work = source->work;
  copy->sub = source->sub;
  copy->inv = source->work.twoPoint;
  copy->geodDef = source->geodDef;
  return copy;
}

/* The numbers as one result, each in the object's format, blank-separated. */
void setNumbersResult(Tcl_Interp *interp, const GeodObject *object,
                      std::initializer_list<double> values) {
  std::string result;
  for (double v : values) {
    if (!result.empty()) result += ' ';
    result += formatNumber(object->fmt, v);
  }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(result.c_str(), -1));
}

/* A point series: n as the subcommand reads it, checked. */
int readSeriesCount(Tcl_Interp *interp, const char *text, long *n) {
  *n = atol(text);
  if (*n < 1) {
    Tcl_SetResult(interp, const_cast<char *>("Invalid n (must be >= 1)"), TCL_STATIC);
    return TCL_ERROR;
  }
  if (*n > kMaxSeriesPoints) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(fmt("Invalid n (must be <= %ld)", kMaxSeriesPoints), -1));
    return TCL_ERROR;
  }
  return TCL_OK;
}

void appendLonLat(Tcl_Interp *interp, const GeodObject *object, double lam, double phi) {
  Tcl_AppendElement(interp, formatNumber(object->fmt, lam * kRadToDeg).c_str());
  Tcl_AppendElement(interp, formatNumber(object->fmt, phi * kRadToDeg).c_str());
}

/*
 * geodObjectSubcommand --
 *     The own subcommands of a geod object: geodinv, geodfwd, calcarc,
 *     calcgeod, geodget and geodconfigure.
 */
int geodObjectSubcommand(Tcl_Interp *interp, GeodObject *object, const char *name, int argc,
                         const char **argv) {
  const char *word = argc > 1 ? argv[1] : "";
  size_t n = strlen(word);
  enum { NONE, GEODINV, GEODFWD, CALCARC, CALCGEOD, GEODGET, GEODCONFIGURE } sub = NONE;
  bool named = false;
  if ((word[0] == 'c' || word[0] == 'g') && n >= 5) {
    named = true;
    if (strcmp(word, "geodinv") == 0) sub = GEODINV;
    else if (strcmp(word, "geodfwd") == 0) sub = GEODFWD;
    else if (strncmp("calcarc", word, n) == 0) sub = CALCARC;
    else if (strncmp("calcgeod", word, n) == 0) sub = CALCGEOD;
    else if (strncmp("geodget", word, n) == 0) sub = GEODGET;
    else if (strncmp("geodconfigure", word, n) == 0) sub = GEODCONFIGURE;
  }
  if (sub == NONE) {
    if (named || argc < 2) Tcl_AppendResult(interp, "Usage: ", name, kGeodInstanceUsage, nullptr);
    return TCL_ERROR;
  }
  if (!object) {
    Tcl_SetResult(interp, const_cast<char *>("Undefined object"), TCL_STATIC);
    return TCL_ERROR;
  }
  GeodesicState &g = object->sub;
  switch (sub) {
  case GEODINV:
    if (argc != 6) {
      Tcl_AppendResult(interp, "Usage: ", name, " geodinv lon1 lat1 lon2 lat2", nullptr);
      return TCL_ERROR;
    }
    g.lam1 = atof(argv[2]) * kDegToRad;
    g.phi1 = atof(argv[3]) * kDegToRad;
    g.lam2 = atof(argv[4]) * kDegToRad;
    g.phi2 = atof(argv[5]) * kDegToRad;
    geodInv(&g);
    setNumbersResult(interp, object, {g.al12 * kRadToDeg, g.al21 * kRadToDeg, g.S});
    return TCL_OK;
  case GEODFWD:
    if (argc != 6) {
      Tcl_AppendResult(interp, "Usage: ", name, " geodfwd lon lat A S", nullptr);
      return TCL_ERROR;
    }
    g.lam1 = atof(argv[2]) * kDegToRad;
    g.phi1 = atof(argv[3]) * kDegToRad;
    g.al12 = atof(argv[4]) * kDegToRad;
    g.S = atof(argv[5]);
    geodPre(&g);
    geodFor(&g);
    setNumbersResult(interp, object, {g.lam2 * kRadToDeg, g.phi2 * kRadToDeg, g.al21 * kRadToDeg});
    return TCL_OK;
  case CALCARC: {
    if (argc != 8) {
      Tcl_AppendResult(interp, "Usage: ", name, " calcarc lon lat A S n dA", nullptr);
      return TCL_ERROR;
    }
    long count;
    if (readSeriesCount(interp, argv[6], &count) != TCL_OK) return TCL_ERROR;
    g.lam1 = atof(argv[2]) * kDegToRad;
    g.phi1 = atof(argv[3]) * kDegToRad;
    double azimuth = atof(argv[4]) * kDegToRad, step = atof(argv[7]) * kDegToRad;
    g.S = atof(argv[5]);
    for (long i = 0; i < count; i++) {
      g.al12 = azimuth + static_cast<double>(i) * step;
      geodPre(&g);
      geodFor(&g);
      appendLonLat(interp, object, g.lam2, g.phi2);
    }
    return TCL_OK;
  }
  case CALCGEOD: {
    if (argc != 7) {
      Tcl_AppendResult(interp, "Usage: ", name, " calcgeod lon lat A S n", nullptr);
      return TCL_ERROR;
    }
    long count;
    if (readSeriesCount(interp, argv[6], &count) != TCL_OK) return TCL_ERROR;
    g.lam1 = atof(argv[2]) * kDegToRad;
    g.phi1 = atof(argv[3]) * kDegToRad;
    g.al12 = atof(argv[4]) * kDegToRad;
    double total = atof(argv[5]);
    geodPre(&g);
    appendLonLat(interp, object, g.lam1, g.phi1);
    for (long i = 1; i <= count; i++) {
      g.S = i == count ? total : total * static_cast<double>(i) / static_cast<double>(count);
      geodFor(&g);
      appendLonLat(interp, object, g.lam2, g.phi2);
    }
    return TCL_OK;
  }
  case GEODGET:
    if (argc != 3) {
      Tcl_AppendResult(interp, "Usage: ", name, " geodget option", nullptr);
      return TCL_ERROR;
    }
    return getProjOption(interp, geodOptions, object, argv[2]);
  case GEODCONFIGURE:
    if (argc == 2 || argc == 3)
      return listProjOptions(interp, geodOptions, object, argc == 3 ? argv[2] : nullptr);
    return configureGeodObject(interp, object, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
  default: return TCL_ERROR;
  }
}

/* ---- class operations ---- */

const ProjPayloadKind<GeodObject> geodKind = {&geodOptions, newGeodObject, configureGeodObject,
                                              freeGeodObject};

GeodObject *payloadOf(RAMOBJ *object) { return static_cast<GeodObject *>(object->payload); }

int geodOpCount(RAMOBJ *) { return 1; }
int geodOpType(RAMOBJ *) { return -1; }

void *geodOpClonePayload(void *payload, int) {
  return payload ? cloneGeodObject(static_cast<GeodObject *>(payload)) : nullptr;
}

int geodOpModified(RAMOBJ *object) {
  GeodObject *payload = payloadOf(object);
  return payload ? payload->defined : 0;
}

/*
 * geodInstanceCmd --
 *     The command of one geod object: the shared object subcommands
 *     first, then the object's own inside the frame.
 */
constexpr Tcl_CmdProc *geodInstanceCmd =
    projFamilyInstanceCmd<GeodObject, geodObjectSubcommand>;

void fillGeodClassOps(ObjectClassOps *ops) {
  fillProjFamilyOps(ops, geodInstanceCmd, nullptr);
  ops->count = geodOpCount;
  ops->type = geodOpType;
  ops->clonePayload = geodOpClonePayload;
  ops->modified = geodOpModified;
  fillProjKindOps<GeodObject, geodKind>(ops);
}

/* Every option at its default; a refused default drops the object. */
int makeDefaultGeodPayload(Tcl_Interp *interp, RAMOBJ *object) {
  GeodObject *payload = newGeodObject();
  object->payload = payload;
  return configureGeodObject(interp, payload, 0, nullptr, 0) == TCL_OK ? TCL_OK : TCL_ERROR;
}

const ProjFamilyClass geodFamily = {OBJ_GEOD, "geod.create", geodInstanceCmd,
                                   fillGeodClassOps, makeDefaultGeodPayload, 0};

}  // namespace

/*
 * geodProgramCmd --
 *     "geod ?options? +params ?file ...?": runs the geod program.
 * Results:      TCL_ERROR after every run; "proj.exitCode" gives the code.
 */
int geodProgramCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return runProjProgramCmd(interp, "geod", geodMain, argc, argv);
}

/*
 * geodCreateCmd --
 *     "geod.create objName ?-file path? ?-update n?": a geod object from the
 *     file, else with every option at its default.
 * Results:      the object's name; the usage (TCL_OK) without a name.
 */
int geodCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return createProjFamilyObject(geodFamily, interp, argc, argv);
}

}  // namespace vesk
