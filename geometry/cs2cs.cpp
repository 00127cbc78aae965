/*
 * cs2cs.cpp --
 *     Transformation between two coordinate systems, datum shifts
 *     included: the cs2cs program run as the command "cs2cs", and the
 *     cs2cs objects made by "cs2cs.create", which keep two definitions,
 *     their last input point and its transformation as options.
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

#include "core/console.h"
#include "core/core.h"
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
constexpr int kMaxProgramParams = 100;

constexpr const char *kCs2csUsage =
    "%s\nusage: %s [ -eEfIlrstvwW [args] ] [ +opts[=arg] ]\n"
    "                   [+to [+opts[=arg] [ files ]\n";

/* The payload of a cs2cs object; options through cs2csConfigSpecs. */
struct Cs2csObject {
  char *ics = nullptr;        /* -ics: source definition, a Tcl list of PROJ words */
  char *ocs = nullptr;        /* -ocs: target definition */
  double ix = 0, iy = 0, iz = 0;  /* source point: degrees on a latitude/longitude side */
  double ox = 0, oy = 0, oz = 0;  /* its transformation */
  int rev = 0;                /* kept and saved; nothing reads it */
  Tk_Uid fmt = nullptr;       /* -fmt: format of one number in results */
  projPJ src = nullptr, dst = nullptr;
  std::string srcDef, dstDef; /* the texts src and dst were made from */
  int defined = 0;            /* 1 after the first successful configuration */
};

Tk_ConfigSpec cs2csConfigSpecs[] = {
    {TK_CONFIG_STRING, "-ics", nullptr, nullptr, "proj=utm zone=10 datum=NAD27",
     Tk_Offset(Cs2csObject, ics), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-ocs", nullptr, nullptr, "proj=utm zone=10 datum=NAD83",
     Tk_Offset(Cs2csObject, ocs), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_DOUBLE, "-ix", nullptr, nullptr, "500000.0", Tk_Offset(Cs2csObject, ix), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-iy", nullptr, nullptr, "3000000.0", Tk_Offset(Cs2csObject, iy), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-iz", nullptr, nullptr, "0.0", Tk_Offset(Cs2csObject, iz), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-ox", nullptr, nullptr, "499986.22875", Tk_Offset(Cs2csObject, ox), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-oy", nullptr, nullptr, "3000264.81766", Tk_Offset(Cs2csObject, oy), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-oz", nullptr, nullptr, "0.0", Tk_Offset(Cs2csObject, oz), 0, nullptr},
    {TK_CONFIG_INT, "-rev", nullptr, nullptr, "0", Tk_Offset(Cs2csObject, rev), 0, nullptr},
    {TK_CONFIG_UID, "-fmt", nullptr, nullptr, "%.12g", Tk_Offset(Cs2csObject, fmt), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

const char *const cs2csSavedOptions[] = {"-ics", "-ocs", "-ix", "-iy", "-ox", "-oy",
                                         "-rev", "-fmt", nullptr};
const char *const cs2csKeptOptions[] = {"-ics", "-ocs", "-ix", "-iy", "-iz", "-ox",
                                        "-oy", "-oz", "-rev", "-fmt", nullptr};
const ProjOptionTable cs2csOptions = {cs2csConfigSpecs, cs2csSavedOptions, cs2csKeptOptions,
                                      PROJ_SAVED_PAIRS, "%.12g", false, 65536};

constexpr const char *kCs2csInstanceUsage =
    " command (cget class clone close config count csconfigure cs2cs csget iinfo iparams oinfo "
    "oparams save type version)";

/* ---- the program ---- */

/* The options of one run of cs2cs, at their initial values. */
struct Cs2csRunOptions {
  int reverseIn = 0, reverseOut = 0;
  int echoIn = 0;
  int tag = '#';
  int inverse = 0;
  int verbose = 0;
  const char *outFormat = nullptr;
  const char *errorText = "*\t*";
};

struct ProjectionDeleter {
  void operator()(ProjHandle *pj) const { freeProjection(pj); }
};
typedef std::unique_ptr<ProjHandle, ProjectionDeleter> ProjectionHolder;

struct InputDeleter {
  void operator()(FILE *file) const {
    if (file != stdin) fclose(file);
  }
};
typedef std::unique_ptr<FILE, InputDeleter> InputHolder;

/* Whether a parameter list holds the key, as "key" or "key=value". */
const char *paramWord(projPJ pj, const char *key) {
  size_t n = strlen(key);
  for (ProjParam *p = getFirstProjParam(pj); p; p = getNextProjParam(p)) {
    const char *text = getProjParamText(p);
    if (strncmp(text, key, n) == 0 && (text[n] == '=' || text[n] == 0)) return text;
  }
  return nullptr;
}

/*
 * missingGrids --
 *     PROJ 9 passes points unchanged through a shift whose grids are all
 *     optional ("@name") when none of them is there: a datum shift that
 *     silently does nothing.  A definition whose grid list has no grid that
 *     can be found is refused instead.
 * Results:      "" when the definition has no grid list or one of its
 *               grids is found, else a message naming the list.
 */
std::string missingGrids(Tcl_Interp *interp, projPJ pj) {
  const char *word = paramWord(pj, "nadgrids");
  if (!word || word[8] != '=') return std::string();
  std::string list = word + 9;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string name = list.substr(start, end - start);
    if (!name.empty() && name[0] == '@') name.erase(0, 1);
    if (!name.empty()) {
      if (NadGrid *grid = loadNadGrid(interp, name.c_str())) {
        freeNadGrid(grid);
        return std::string();
      }
    }
    start = end + 1;
  }
  return "none of the grids nadgrids=" + list + " can be found";
}

/*
 * latLongFromProjection --
 *     A latitude/longitude definition on the datum, or else the earth
 *     figure and shift, of another definition.
 * Results:      the projection, or NULL with PROJ's error pending.
 */
projPJ latLongFromProjection(Tcl_Interp *interp, projPJ source) {
  std::vector<std::string> words = {"proj=latlong"};
  bool datum = false;
  if (const char *w = paramWord(source, "datum")) {
    words.push_back(w);
    datum = true;
  } else if (const char *w = paramWord(source, "ellps")) {
    words.push_back(w);
  } else if (paramWord(source, "a")) {
    for (const char *key : {"a", "b", "es", "e", "rf", "f"})
      if (const char *w = paramWord(source, key)) words.push_back(w);
  } else {
    double e = getProjE(source);
    words.push_back(fmt("a=%.16g", getProjA(source)));
    words.push_back(fmt("es=%.16g", e * e));
  }
  if (!datum) {
    for (const char *key : {"towgs84", "nadgrids"})
      if (const char *w = paramWord(source, key)) words.push_back(w);
  }
  for (const char *key : {"R", "R_A", "R_V", "R_a", "R_lat_a", "R_lat_g", "pm"})
    if (const char *w = paramWord(source, key)) words.push_back(w);
  std::vector<const char *> argv;
  for (const std::string &word : words) argv.push_back(word.c_str());
  return initProjection(interp, static_cast<int>(argv.size()), argv.data());
}

/* Prints a refused definition and ends the run with code 3. */
[[noreturn]] void refuseDefinition(const char *which, const std::vector<const char *> &params,
                                   const std::string &cause) {
  std::string out = std::string("Using ") + which + " definition: ";
  for (const char *p : params) out += std::string(p) + " ";
  out += '\n';
  vesk_fputs(out.c_str(), stdout);
  emess(3, "projection initialization failure\ncause: %s",
        cause.empty() ? getProjError(getCurrentProjInterp()) : cause.c_str());
  projExit(3);
}

/*
 * processCs2csInput --
 *     Transforms the points of one input, one output line for each line.
 *     The lines of a file go out in large pieces; read from stdin, where
 *     someone may be typing, each goes out before the next is read.
 */
void processCs2csInput(FILE *file, projPJ src, projPJ dst, const Cs2csRunOptions &opt) {
  OutputBatchScope batch;
  constexpr size_t kPieceBytes = 1 << 16;
  const bool perLine = file == stdin;
  std::string line, out;
  auto flush = [&] {
    if (out.empty()) return;
    vesk_fputs(out.c_str(), stdout);
    out.clear();
  };
  /* "%.Nf" and the height's "%.3f" are done without printf where the text is the same. */
  const int precision = fixedFormatPrecision(opt.outFormat);
  auto appendNumber = [&](double value) {
    if (precision < 0 || !appendFixed(out, value, precision))
      appendFormatted(out, opt.outFormat, value);
  };
  int lineNumber = 0;
  double (*read)(const char *, char **) =
      isLatLongProjection(src) ? readProgramAngle : readProgramNumber;
  const bool latLongOut = isLatLongProjection(dst);
  for (;;) {
    if (perLine || out.size() >= kPieceBytes) flush();
    setInputLine(++lineNumber);
    if (!readProgramLine(file, line)) break;
    if (line[0] == opt.tag) {
      out += line;
      continue;
    }
    char *s = &line[0];
    double u, v;
    if (opt.reverseIn) {
      v = read(s, &s);
      u = read(s, &s);
    } else {
      u = read(s, &s);
      v = read(s, &s);
    }
    /* Most lines end after two numbers: strtod would find no height there. */
    const char *t = s;
    while (*t == ' ' || *t == '\t') t++;
    double z = *t == '\n' || *t == 0 ? 0.0 : strtod(s, &s);
    if (v == HUGE_VAL) u = HUGE_VAL;
    if (!*s && s > line.c_str()) --s;
    if (opt.echoIn) {
      out.append(line.c_str(), static_cast<size_t>(s - line.c_str()));
      out += '\t';
    }
    if (u != HUGE_VAL && transformPoint(src, dst, u, v, z, &u, &v, &z) != 0) u = HUGE_VAL;
    if (u == HUGE_VAL) {
      /* A failed point has no height either. */
      out += opt.errorText;
      out += " *\n";
      continue;
    }
    if (latLongOut && !opt.outFormat) {
      if (opt.reverseOut) out += dmsText(v, 'N', 'S') + "\t" + dmsText(u, 'E', 'W');
      else out += dmsText(u, 'E', 'W') + "\t" + dmsText(v, 'N', 'S');
    } else {
      if (latLongOut) {
        u *= kRadToDeg;
        v *= kRadToDeg;
      }
      appendNumber(opt.reverseOut ? v : u);
      out += '\t';
      appendNumber(opt.reverseOut ? u : v);
    }
    out += ' ';
    if (!appendFixed(out, z, 3)) appendFormatted(out, "%.3f", z);
    out += '\n';
  }
  flush();
}

/*
 * cs2csMain --
 *     The cs2cs program: "+" words up to "+to" define the source, those
 *     after it the target (latitude/longitude on the source's datum when
 *     none are given); the input's points go from one to the other.
 */
int cs2csMain(int argc, const char **argv) {
  Cs2csRunOptions opt;
  std::vector<const char *> fromParams, toParams, files;
  bool toFlag = false;
  if (strncmp(getProgramName(), "inv", 3) == 0) opt.inverse = 1;
  if (argc <= 1) {
    vesk_fprintf(stderr, kCs2csUsage, kProgramReleaseText, getProgramName());
    projExit(0);
  }
  for (int i = 1; i < argc; i++) {
    const char *word = argv[i];
    if (strcmp(word, "+to") == 0) {
      toFlag = true;
      continue;
    }
    if (*word == '+') {
      std::vector<const char *> &params = toFlag ? toParams : fromParams;
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
      if ((*arg == 'e' || *arg == 'f') && i + 1 >= argc)
        emess(1, "missing argument for -%c", *arg);
      switch (*arg) {
      case 'v': opt.verbose = 1; continue;
      case 'I': opt.inverse = 1; continue;
      case 'E': opt.echoIn = 1; continue;
      case 't':
        if (!arg[1]) emess(1, "missing -t col. 1 tag");
        opt.tag = static_cast<unsigned char>(*++arg);
        continue;
      case 'l': listProgramTables(arg + 1);
      case 'e': opt.errorText = argv[++i]; continue;
      case 'f':
        opt.outFormat = argv[++i];
        if (checkNumberFormat(nullptr, "-f", opt.outFormat) != TCL_OK)
          emess(1, "invalid output format: -f %s (one floating-point conversion such as %%.6f)",
                opt.outFormat);
        continue;
      case 'r': opt.reverseIn = 1; continue;
      case 's': opt.reverseOut = 1; continue;
      case 'w':
      case 'W':
        setDmsOption(*arg == 'W', arg + 1);
        arg++;
        continue;
      default:
        emess(1, "invalid option: -%c", *arg);
      }
    }
  }
  if (files.empty()) files.push_back("-");
  if (opt.inverse) std::swap(fromParams, toParams);
  Tcl_Interp *interp = getCurrentProjInterp();
  ProjectionHolder src(
      initProjection(interp, static_cast<int>(fromParams.size()), fromParams.data()));
  if (!src) refuseDefinition("from", fromParams, std::string());
  std::string missing = missingGrids(interp, src.get());
  if (!missing.empty()) refuseDefinition("from", fromParams, missing);
  ProjectionHolder dst;
  if (toParams.empty()) dst.reset(latLongFromProjection(interp, src.get()));
  else dst.reset(initProjection(interp, static_cast<int>(toParams.size()), toParams.data()));
  if (!dst) refuseDefinition("to", toParams, std::string());
  missing = missingGrids(interp, dst.get());
  if (!missing.empty()) refuseDefinition("to", toParams, missing);
  if (opt.verbose) {
    vesk_printf("%c ---- From Coordinate System ----\n", opt.tag);
    printProjParamList(src.get());
    vesk_printf("%c ---- To Coordinate System ----\n", opt.tag);
    printProjParamList(dst.get());
  }
  if (!isLatLongProjection(dst.get()) && !opt.outFormat) opt.outFormat = "%.2f";
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
    processCs2csInput(file.get(), src.get(), dst.get(), opt);
    setInputFile(nullptr);
  }
  src.reset();
  dst.reset();
  projExit(0);
}

/* ---- the objects ---- */

/* One number in a format that checkNumberFormat accepted. */
std::string formatNumber(const char *format, double value) {
  std::string out;
  appendFormatted(out, format, value);
  return out;
}

/*
 * makeSide --
 *     The projection of one side's definition.
 * Results:      TCL_OK with *out set, or TCL_ERROR with "error in parsing
 *               ics:" (or ocs) and the text in the result.
 */
int makeSide(Tcl_Interp *interp, const char *which, const char *definition, projPJ *out) {
  *out = nullptr;
  int argc = 0;
  const char **argv = nullptr;
  if (Tcl_SplitList(interp, definition, &argc, &argv) == TCL_OK) {
    *out = initProjection(interp, argc, argv);
    ckfree(reinterpret_cast<char *>(argv));
  }
  std::string causeText;
  if (*out) {
    causeText = missingGrids(interp, *out);
    if (causeText.empty()) return TCL_OK;
    freeProjection(*out);
    *out = nullptr;
  } else {
    const char *cause = getProjError(interp);
    causeText = cause ? cause : "";
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "error in parsing ", which, ":", definition, nullptr);
  if (!causeText.empty()) {
    Tcl_AddErrorInfo(interp, "\n");
    Tcl_AddErrorInfo(interp, causeText.c_str());
    Tcl_SetErrorCode(interp, "PROJ", causeText.c_str(), nullptr);
  }
  return TCL_ERROR;
}

/*
 * transformObjectPoint --
 *     A point through the object's two definitions: degrees in and out on
 *     a latitude/longitude side.
 * Results:      TCL_OK, or TCL_ERROR with PROJ's reason in the result
 *               when the point cannot be transformed (no numbers are
 *               made up for it).
 */
int transformObjectPoint(Tcl_Interp *interp, projPJ src, projPJ dst, double x, double y,
                         double z, double *outX, double *outY, double *outZ) {
  if (isLatLongProjection(src)) {
    x *= kDegToRad;
    y *= kDegToRad;
  }
  if (transformPoint(src, dst, x, y, z, &x, &y, &z) != 0) {
    const char *cause = getProjError(interp);
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "point cannot be transformed: ", cause, nullptr);
    return TCL_ERROR;
  }
  if (isLatLongProjection(dst)) {
    x *= kRadToDeg;
    y *= kRadToDeg;
  }
  *outX = x;
  *outY = y;
  *outZ = z;
  return TCL_OK;
}

Cs2csObject *newCs2csObject() { return new Cs2csObject; }

void freeCs2csObject(Cs2csObject *object) {
  if (!object) return;
  freeProjection(object->src);
  freeProjection(object->dst);
  if (object->ics) ckfree(object->ics);
  if (object->ocs) ckfree(object->ocs);
  delete object;
}

/*
 * configureCs2csObject --
 *     Applies option words, remakes a projection whose definition changed
 *     and transforms the source point into the target point.
 * Results:      TCL_OK, or TCL_ERROR with the message in the result.
 * Side effects: any refusal leaves the options and projections as they
 *               were.
 */
int configureCs2csObject(Tcl_Interp *interp, Cs2csObject *object, int argc, const char **argv,
                         int flags) {
  ProjOptionSnapshot snapshot(cs2csOptions, object);
  auto refuse = [&](const char *message) {
    snapshot.restore(object);
    if (message) Tcl_SetObjResult(interp, Tcl_NewStringObj(message, -1));
    return TCL_ERROR;
  };
  if (applyProjOptions(interp, cs2csOptions, object, argc, argv, flags) != TCL_OK)
    return refuse(nullptr);
  if (!object->ics || !*object->ics) return refuse("missing ics specification");
  if (!object->ocs || !*object->ocs) return refuse("missing ocs specification");
  for (const char *definition : {object->ics, object->ocs})
    if (strlen(definition) > static_cast<size_t>(kProjDefMax))
      return refuse(fmt("projection definition longer than %d characters", kProjDefMax));
  if (checkNumberFormat(interp, "-fmt", object->fmt) != TCL_OK) return refuse(nullptr);

  projPJ src = object->src, dst = object->dst;
  projPJ newSrc = nullptr, newDst = nullptr;
  if (!src || object->srcDef != object->ics) {
    if (makeSide(interp, "ics", object->ics, &newSrc) != TCL_OK) return refuse(nullptr);
    src = newSrc;
  }
  if (!dst || object->dstDef != object->ocs) {
    if (makeSide(interp, "ocs", object->ocs, &newDst) != TCL_OK) {
      freeProjection(newSrc);
      return refuse(nullptr);
    }
    dst = newDst;
  }
  double ox, oy, oz;
  if (transformObjectPoint(interp, src, dst, object->ix, object->iy, object->iz, &ox, &oy,
                           &oz) != TCL_OK) {
    freeProjection(newSrc);
    freeProjection(newDst);
    return refuse(nullptr);
  }
  if (newSrc) {
    freeProjection(object->src);
    object->src = newSrc;
    object->srcDef = object->ics;
  }
  if (newDst) {
    freeProjection(object->dst);
    object->dst = newDst;
    object->dstDef = object->ocs;
  }
  object->ox = ox;
  object->oy = oy;
  object->oz = oz;
  object->defined = 1;
  return TCL_OK;
}

Cs2csObject *cloneCs2csObject(Tcl_Interp *interp, const Cs2csObject *source) {
  Cs2csObject *copy = newCs2csObject();
  const char *argv[] = {"-ics", source->ics ? source->ics : "", "-ocs",
                        source->ocs ? source->ocs : ""};
  if (configureCs2csObject(interp, copy, 4, argv, 0) == TCL_OK) return copy;
  /*
   * The default point may not exist in the source's system (degrees of a
   * latitude/longitude source): the copy then starts from the source's point.
   */
  std::string ix = fmt("%.17g", source->ix), iy = fmt("%.17g", source->iy),
              iz = fmt("%.17g", source->iz);
  const char *withPoint[] = {argv[0], argv[1], argv[2], argv[3], "-ix", ix.c_str(),
                             "-iy", iy.c_str(), "-iz", iz.c_str()};
  if (configureCs2csObject(interp, copy, 10, withPoint, 0) == TCL_OK) return copy;
  freeCs2csObject(copy);
  return nullptr;
}

/* The index in PROJ's list of the target's "proj=" id; -1 when none. */
int cs2csObjectType(const Cs2csObject *object) {
  if (!object || !object->dst) return -1;
  const char *word = paramWord(object->dst, "proj");
  return word && word[4] == '=' ? findProjType(word + 5) : -1;
}

/* The "info" list of a projection, as projection objects give it. */
void appendProjInfo(Tcl_Interp *interp, projPJ pj) {
  if (!pj) return;
  Tcl_AppendElement(interp, fmt("a %f", getProjA(pj)));
  Tcl_AppendElement(interp, fmt("e %f", getProjE(pj)));
  Tcl_AppendElement(interp, fmt("lam0 %f", getProjLam0(pj)));
  Tcl_AppendElement(interp, fmt("phi0 %f", getProjPhi0(pj)));
  Tcl_AppendElement(interp, fmt("x0 %f", getProjX0(pj)));
  Tcl_AppendElement(interp, fmt("y0 %f", getProjY0(pj)));
  Tcl_AppendElement(interp, fmt("k0 %f", getProjK0(pj)));
  Tcl_AppendElement(interp, fmt("to_meter %f", getProjToMeter(pj)));
  Tcl_AppendElement(interp, fmt("fr_meter %f", getProjFrMeter(pj)));
  Tcl_AppendElement(interp, fmt("datum_type %s", getDatumTypeName(pj)));
  int count = 0;
  const double *p = getDatumParams(pj, &count);
  Tcl_AppendElement(interp, fmt("datum_params %f %f %f %f %f %f %f", p[0], p[1], p[2], p[3],
                                p[4], p[5], p[6]));
}

void appendProjParams(Tcl_Interp *interp, projPJ pj) {
  for (ProjParam *p = getFirstProjParam(pj); pj && p; p = getNextProjParam(p))
    Tcl_AppendElement(interp, getProjParamText(p));
}

/*
 * cs2csObjectSubcommand --
 *     The own subcommands of a cs2cs object: cs2cs, csget, csconfigure,
 *     iparams, oparams, iinfo and oinfo.
 */
int cs2csObjectSubcommand(Tcl_Interp *interp, Cs2csObject *object, const char *name, int argc,
                          const char **argv) {
  const char *word = argc > 1 ? argv[1] : "";
  size_t n = strlen(word);
  enum { NONE, CS2CS, CSGET, CSCONFIGURE, IPARAMS, OPARAMS, IINFO, OINFO } sub = NONE;
  bool named = false;
  if (word[0] == 'c' && n >= 5) {
    named = true;
    if (strcmp(word, "cs2cs") == 0) sub = CS2CS;
    else if (strcmp(word, "csget") == 0) sub = CSGET;
    else if (strncmp("csconfigure", word, n) == 0) sub = CSCONFIGURE;
  } else if ((word[0] == 'i' || word[0] == 'o') && n >= 4) {
    named = true;
    if (strncmp("iparams", word, n) == 0) sub = IPARAMS;
    else if (strncmp("oparams", word, n) == 0) sub = OPARAMS;
    else if (strncmp("iinfo", word, n) == 0) sub = IINFO;
    else if (strncmp("oinfo", word, n) == 0) sub = OINFO;
  }
  if (sub == NONE) {
    if (named || argc < 2) Tcl_AppendResult(interp, "Usage: ", name, kCs2csInstanceUsage, nullptr);
    return TCL_ERROR;
  }
  if (!object) {
    Tcl_SetResult(interp, const_cast<char *>("Undefined object"), TCL_STATIC);
    return TCL_ERROR;
  }
  switch (sub) {
  case CS2CS: {
    if (argc != 5) {
      Tcl_AppendResult(interp, "Usage: ", name, " cs2cs x y z", nullptr);
      return TCL_ERROR;
    }
    if (!object->src || !object->dst) {
      Tcl_SetResult(interp, const_cast<char *>("cs2cs not defined"), TCL_STATIC);
      return TCL_ERROR;
    }
    double x, y, z;
    if (transformObjectPoint(interp, object->src, object->dst, atof(argv[2]), atof(argv[3]),
                             atof(argv[4]), &x, &y, &z) != TCL_OK)
      return TCL_ERROR;
    std::string result = formatNumber(object->fmt, x) + " " + formatNumber(object->fmt, y) +
                         " " + formatNumber(object->fmt, z);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(result.c_str(), -1));
    return TCL_OK;
  }
  case CSGET:
    if (argc != 3) {
      Tcl_AppendResult(interp, "Usage: ", name, " csget option", nullptr);
      return TCL_ERROR;
    }
    return getProjOption(interp, cs2csOptions, object, argv[2]);
  case CSCONFIGURE:
    if (argc == 2 || argc == 3)
      return listProjOptions(interp, cs2csOptions, object, argc == 3 ? argv[2] : nullptr);
    return configureCs2csObject(interp, object, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
  case IPARAMS: appendProjParams(interp, object->src); return TCL_OK;
  case OPARAMS: appendProjParams(interp, object->dst); return TCL_OK;
  case IINFO: appendProjInfo(interp, object->src); return TCL_OK;
  case OINFO: appendProjInfo(interp, object->dst); return TCL_OK;
  default: return TCL_ERROR;
  }
}

/* ---- ProjectionOps: forward through the transformation, radians as they are ---- */

int cs2csOpsHasInverse(void *) { return 0; }
int cs2csOpsIsReversed(void *) { return 0; }

int cs2csOpsForward(void *payload, double x, double y, double *outX, double *outY) {
  Cs2csObject *object = static_cast<Cs2csObject *>(payload);
  return transformPoint(object->src, object->dst, x, y, 0, outX, outY, nullptr);
}

const ProjectionOps cs2csOps = {cs2csOpsHasInverse, cs2csOpsIsReversed, cs2csOpsForward, nullptr};

/* ---- class operations ---- */

const ProjPayloadKind<Cs2csObject> cs2csKind = {&cs2csOptions, newCs2csObject, configureCs2csObject,
                                                freeCs2csObject};

Cs2csObject *payloadOf(RAMOBJ *object) { return static_cast<Cs2csObject *>(object->payload); }

int cs2csOpCount(RAMOBJ *) { return countProjTypes(); }
int cs2csOpType(RAMOBJ *object) { return cs2csObjectType(payloadOf(object)); }

void *cs2csOpClonePayload(void *payload, int) {
  return cloneCs2csObject(getCurrentProjInterp(), static_cast<Cs2csObject *>(payload));
}

int cs2csOpModified(RAMOBJ *object) {
  Cs2csObject *payload = payloadOf(object);
  return payload ? payload->defined : 0;
}

/*
 * cs2csInstanceCmd --
 *     The command of one cs2cs object: the shared object subcommands
 *     first, then the object's own inside the frame.
 */
constexpr Tcl_CmdProc *cs2csInstanceCmd =
    projFamilyInstanceCmd<Cs2csObject, cs2csObjectSubcommand>;

void fillCs2csClassOps(ObjectClassOps *ops) {
  fillProjFamilyOps(ops, cs2csInstanceCmd, &cs2csOps);
  ops->count = cs2csOpCount;
  ops->type = cs2csOpType;
  ops->clonePayload = cs2csOpClonePayload;
  ops->modified = cs2csOpModified;
  fillProjKindOps<Cs2csObject, cs2csKind>(ops);
}

/*
 * The default definitions shift NAD27 through grids that may not be
 * installed.  The object is made all the same, with the default options
 * and no transformation ("cs2cs not defined") until a configuration
 * succeeds, rather than not at all.
 */
int makeDefaultCs2csPayload(Tcl_Interp *interp, RAMOBJ *object) {
  Cs2csObject *payload = newCs2csObject();
  object->payload = payload;
  if (defaultProjOptions(interp, cs2csOptions, payload) != TCL_OK) return TCL_ERROR;
  configureCs2csObject(interp, payload, 0, nullptr, TK_CONFIG_ARGV_ONLY);
  return TCL_OK;
}

const ProjFamilyClass cs2csFamily = {OBJ_CS2CS, "cs2cs.create", cs2csInstanceCmd,
                                   fillCs2csClassOps, makeDefaultCs2csPayload, 0};

}  // namespace

/*
 * cs2csProgramCmd --
 *     "cs2cs ?options? +from-params ?+to +to-params? ?file ...?": runs the
 *     cs2cs program.
 * Results:      TCL_ERROR after every run; "proj.exitCode" gives the code.
 */
int cs2csProgramCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return runProjProgramCmd(interp, "cs2cs", cs2csMain, argc, argv);
}

/*
 * cs2csCreateCmd --
 *     "cs2cs.create objName ?-file path? ?-update n?": a cs2cs object from
 *     the file, else with every option at its default.
 * Results:      the object's name; the usage (TCL_OK) without a name.
 */
int cs2csCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return createProjFamilyObject(cs2csFamily, interp, argc, argv);
}

}  // namespace vesk
