/*
 * nad2nad.cpp --
 *     Conversion between the North American datums NAD27 and NAD83 through
 *     grid-shift tables: the nad2nad program run as the command "nad2nad",
 *     and the nad2nad objects made by "nad2nad.create".  Each side is a
 *     short datum specification (datum, UTM or SPCS zone, feet, reversed
 *     order, a high-precision table); a region table shifts between the
 *     datums.
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
constexpr int kMaxSpecLength = 100;     /* a program side specification */
constexpr int kMaxObjectFile = 511;     /* an object definition file */

constexpr const char *kNad2nadUsage = "%s\nusage: %s [ -eEfihortwW [args] ] [ files ]\n";

/* One side of a conversion. */
struct NadSpec {
  int feet = 0;             /* US survey feet (SPCS zones only) */
  int rev = 0;              /* the two coordinates in reversed order */
  int datum = 0;            /* 27, 83, or 0 when not given */
  int zone = 0;             /* UTM zone 1..60, SPCS zone above 60, 0 for none */
  int bin = 0;              /* program only: binary records */
  std::string hp;           /* high-precision table name; "" for none */
  projPJ proj = nullptr;    /* made from the zone; NULL: longitude/latitude */
};

void clearSpec(NadSpec &spec) {
  freeProjection(spec.proj);
  spec = NadSpec();
}

struct NadGridDeleter {
  void operator()(NadGrid *grid) const { freeNadGrid(grid); }
};
typedef std::unique_ptr<NadGrid, NadGridDeleter> NadGridHolder;

/*
 * convertNadPoint --
 *     A point from the input side to the output side: unprojected, shifted
 *     through the tables, projected again.
 * Results:      true with *x, *y set; false when a step cannot convert it.
 */
bool convertNadPoint(const NadSpec &in, const NadSpec &out, NadGrid *region, NadGrid *hpGrid,
                     double u, double v, double *x, double *y) {
  if (in.rev) std::swap(u, v);
  double lam, phi;
  if (in.proj) projectInverse(in.proj, u, v, &lam, &phi);
  else {
    lam = u * kDegToRad;
    phi = v * kDegToRad;
  }
  if (lam == HUGE_VAL) return false;
  if (!in.hp.empty()) {
    convertNadInverse(hpGrid, lam, phi, &lam, &phi);
    if (lam == HUGE_VAL) return false;
  }
  if (region) {
    if (in.datum == 83) convertNadInverse(region, lam, phi, &lam, &phi);
    else convertNadForward(region, lam, phi, &lam, &phi);
    if (lam == HUGE_VAL) return false;
  }
  if (!out.hp.empty()) {
    convertNadForward(hpGrid, lam, phi, &lam, &phi);
    if (lam == HUGE_VAL) return false;
  }
  if (out.proj) {
    projectForward(out.proj, lam, phi, &u, &v);
    if (u == HUGE_VAL) return false;
  } else {
    u = lam * kRadToDeg;
    v = phi * kRadToDeg;
  }
  if (out.rev) std::swap(u, v);
  *x = u;
  *y = v;
  return true;
}

/* The projection of a zone from a parameter text split at blanks. */
projPJ zoneProjection(Tcl_Interp *interp, const NadSpec &spec) {
  std::string text;
  const char *datum = spec.datum == 83 ? "83" : "27";
  if (spec.zone > 60)
    text = fmt("init=nad%s:%d no_defs%s", datum, spec.zone, spec.feet ? " units=us-ft" : "");
  else
    text = fmt("proj=utm zone=%d %s", spec.zone,
               spec.datum == 83 ? "ellps=GRS80" : "ellps=clrk66");
  std::vector<std::string> words;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char *> argv;
  for (const std::string &w : words) argv.push_back(w.c_str());
  return initProjection(interp, static_cast<int>(argv.size()), argv.data());
}

/* A zone number after "=": digits only, else -1. */
int zoneNumber(const char *text) {
  if (!*text) return -1;
  long n = 0;
  for (const char *p = text; *p; p++) {
    if (*p < '0' || *p > '9') return -1;
    n = n * 10 + (*p - '0');
    if (n > 1000000) return -1;
  }
  return static_cast<int>(n);
}

/* ---- the program ---- */

struct Nad2nadRunOptions {
  const char *errorText = "*\t*";
  const char *outFormat = nullptr;
  int echoIn = 0;
  int tag = '#';
};

/* A program side: words separated by blanks, commas or tabs. */
void parseProgramSpec(const char *text, NadSpec &spec) {
  std::string s = text;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find_first_of(" ,\t", start);
    if (end == std::string::npos) end = s.size();
    std::string word = s.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    const char *w = word.c_str();
    if (strncmp(w, "utm=", 4) == 0) spec.zone = atoi(w + 4);
    else if (strncmp(w, "spcs=", 5) == 0) spec.zone = atoi(w + 5);
    else if (strncmp(w, "feet", 4) == 0) {
      if (spec.zone <= 60) emess(1, "spcs zone must be selected");
      spec.feet = 1;
    } else if (strncmp(w, "27", 2) == 0) spec.datum = 27;
    else if (strncmp(w, "83", 2) == 0) spec.datum = 83;
    else if (strncmp(w, "hp", 2) == 0) {
      if (w[2] != '=' || !w[3]) emess(1, "hp missing name");
      spec.hp = w + 3;
    } else if (strncmp(w, "bin", 3) == 0) spec.bin = 1;
    else if (strncmp(w, "rev", 3) == 0) spec.rev = 1;
    else emess(1, "invalid selection");
  }
}

struct SpecHolder {
  NadSpec spec;
  ~SpecHolder() { freeProjection(spec.proj); }
};

void printNadValue(std::string &out, const Nad2nadRunOptions &opt, const NadSpec &side,
                   double x, double y) {
  if (!side.proj) {
    if (opt.outFormat) {
      appendFormatted(out, opt.outFormat, x);
      out += '\t';
      appendFormatted(out, opt.outFormat, y);
    } else if (side.rev) {
      out += dmsText(x * kDegToRad, 'N', 'S') + "\t" + dmsText(y * kDegToRad, 'E', 'W');
    } else {
      out += dmsText(x * kDegToRad, 'E', 'W') + "\t" + dmsText(y * kDegToRad, 'N', 'S');
    }
  } else {
    const char *format = opt.outFormat ? opt.outFormat : "%.2f";
    appendFormatted(out, format, x);
    out += '\t';
    appendFormatted(out, format, y);
  }
}

void processNad2nadInput(FILE *file, const NadSpec &in, const NadSpec &out, NadGrid *region,
                         NadGrid *hpGrid, const Nad2nadRunOptions &opt) {
  std::string line, text;
  for (;;) {
    double u, v, x = 0, y = 0;
    char *s = nullptr;
    if (in.bin) {
      double pair[2];
      if (fread(pair, sizeof(double), 2, file) != 2) break;
      u = pair[0];
      v = pair[1];
    } else {
      if (!readProgramLine(file, line)) break;
      if (line[0] == opt.tag) {
        vesk_fputs(line.c_str(), stdout);
        continue;
      }
      s = &line[0];
      double (*read)(const char *, char **) = in.proj ? readProgramNumber : readProgramAngle;
      u = read(s, &s);
      v = read(s, &s);
      if (!in.proj && u != HUGE_VAL && v != HUGE_VAL) {
        /* the angles were read in radians; the conversion takes degrees */
        u *= kRadToDeg;
        v *= kRadToDeg;
      }
    }
    bool good = u != HUGE_VAL && v != HUGE_VAL &&
                convertNadPoint(in, out, region, hpGrid, u, v, &x, &y);
    if (out.bin) {
      double pair[2] = {good ? x : HUGE_VAL, good ? y : HUGE_VAL};
      fwrite(pair, sizeof(double), 2, stdout);
      continue;
    }
    text.clear();
    if (opt.echoIn && s) {
      text.append(line.c_str(), static_cast<size_t>(s - line.c_str()));
      text += '\t';
    }
    if (good) printNadValue(text, opt, out, x, y);
    else text += opt.errorText;
    text += s ? s : "\n";
    vesk_fputs(text.c_str(), stdout);
  }
}

/*
 * nad2nadMain --
 *     The nad2nad program: points from the -i side to the -o side through
 *     the -r region table and a high-precision table of one side.
 */
int nad2nadMain(int argc, const char **argv) {
  Nad2nadRunOptions opt;
  const char *inText = nullptr, *outText = nullptr, *regionName = nullptr;
  std::vector<const char *> files;
  if (argc <= 1) {
    vesk_fprintf(stderr, kNad2nadUsage, kProgramReleaseText, getProgramName());
    projExit(0);
  }
  for (int i = 1; i < argc; i++) {
    const char *word = argv[i];
    if (*word != '-') {
      files.push_back(word);
      continue;
    }
    if (!word[1]) {
      files.push_back("-");
      continue;
    }
    for (const char *arg = word + 1; *arg; arg++) {
      if (strchr("ioref", *arg) && i + 1 >= argc) emess(1, "missing argument for -%c", *arg);
      switch (*arg) {
      case 'i': inText = argv[++i]; continue;
      case 'o': outText = argv[++i]; continue;
      case 'r': regionName = argv[++i]; continue;
      case 'e': opt.errorText = argv[++i]; continue;
      case 'E': opt.echoIn = 1; continue;
      case 'f':
        opt.outFormat = argv[++i];
        if (checkNumberFormat(nullptr, "-f", opt.outFormat) != TCL_OK)
          emess(1, "invalid output format: -f %s (one floating-point conversion such as %%.6f)",
                opt.outFormat);
        continue;
      case 't':
        if (!arg[1]) emess(1, "missing -t col. 1 tag");
        opt.tag = static_cast<unsigned char>(*++arg);
        continue;
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
  for (const char *text : {inText, outText})
    if (text && strlen(text) > static_cast<size_t>(kMaxSpecLength))
      emess(1, "specification longer than %d characters: %s", kMaxSpecLength, text);
  SpecHolder in, out;
  if (inText) parseProgramSpec(inText, in.spec);
  if (outText) parseProgramSpec(outText, out.spec);
  if (!in.spec.hp.empty() && !out.spec.hp.empty())
    emess(1, "both input and output cannot be high precision");
  Tcl_Interp *interp = getCurrentProjInterp();
  NadGridHolder hpGrid, region;
  for (NadSpec *side : {&in.spec, &out.spec}) {
    if (!side->hp.empty()) {
      side->datum = 83;
      hpGrid.reset(loadNadGrid(interp, side->hp.c_str()));
      if (!hpGrid)
        emess(1, "hp datum file: %s, failed: %s", side->hp.c_str(), getProjError(interp));
    }
    if (side->zone > 0) {
      side->proj = zoneProjection(interp, *side);
      if (!side->proj) emess(1, "%s", getProjError(interp));
    }
  }
  if (!regionName) {
    if (in.spec.datum != out.spec.datum) emess(1, "conversion region (-r) not specified");
  } else {
    if (in.spec.hp.empty() && out.spec.hp.empty() && in.spec.datum == out.spec.datum)
      emess(1, "identical datums");
    region.reset(loadNadGrid(interp, regionName));
    if (!region) emess(1, "datum file: %s, failed: %s", regionName, getProjError(interp));
  }
  if (files.empty()) files.push_back("-");
  for (const char *name : files) {
    FILE *file = stdin;
    if (strcmp(name, "-") != 0) {
      file = fopen(name, "r");
      if (!file) {
        emess(-2, "%s", name);
        continue;
      }
      setInputFile(name);
    } else {
      setInputFile("<stdin>");
    }
    processNad2nadInput(file, in.spec, out.spec, region.get(), hpGrid.get(), opt);
    if (file != stdin) fclose(file);
    setInputFile(nullptr);
  }
  fflush(stdout);
  projExit(0);
}

/* ---- the objects ---- */

/* The payload of a nad2nad object; options through nad2nadConfigSpecs. */
struct Nad2nadObject {
  char *region = nullptr;     /* -r: region table name */
  char *inad = nullptr;       /* -inad: input specification */
  char *onad = nullptr;       /* -onad: output specification */
  double ix = 0, iy = 0;      /* input point */
  double ox = 0, oy = 0;      /* its conversion */
  Tk_Uid fmt = nullptr;       /* -fmt: format of one number in results */
  int defined = 0;            /* 1 after a successful configuration */
  NadSpec in, out;
  std::string inDef, outDef, regionDef;  /* the texts in, out and the tables came from */
  NadGrid *regionGrid = nullptr;
  NadGrid *hpGrid = nullptr;
};

Tk_ConfigSpec nad2nadConfigSpecs[] = {
    {TK_CONFIG_STRING, "-r", nullptr, nullptr, "conus", Tk_Offset(Nad2nadObject, region),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-inad", nullptr, nullptr, "27,utm=10", Tk_Offset(Nad2nadObject, inad),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-onad", nullptr, nullptr, "83,utm=10", Tk_Offset(Nad2nadObject, onad),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_DOUBLE, "-ix", nullptr, nullptr, "500000.0", Tk_Offset(Nad2nadObject, ix), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-iy", nullptr, nullptr, "3000000.0", Tk_Offset(Nad2nadObject, iy), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-ox", nullptr, nullptr, "499986.22875", Tk_Offset(Nad2nadObject, ox), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-oy", nullptr, nullptr, "3000264.81766", Tk_Offset(Nad2nadObject, oy), 0,
     nullptr},
    {TK_CONFIG_UID, "-fmt", nullptr, nullptr, "%.12g", Tk_Offset(Nad2nadObject, fmt), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

const char *const nad2nadSavedOptions[] = {"-inad", "-onad", "-r",   "-ix", "-iy",
                                           "-ox",   "-oy",   "-fmt", nullptr};
const char *const nad2nadKeptOptions[] = {"-r", "-inad", "-onad", "-fmt", "-ix", "-iy", nullptr};
const ProjOptionTable nad2nadOptions = {nad2nadConfigSpecs, nad2nadSavedOptions,
                                        nad2nadKeptOptions, PROJ_SAVED_PAIRS, "%f", true,
                                        kMaxObjectFile};

constexpr const char *kNad2nadInstanceUsage =
    " command (cget class clone close config count nadconfigure nad2nad nadget save type "
    "version)";

/*
 * parseObjectSpec --
 *     An object specification: comma-separated words, each at most once.
 * Results:      true with spec filled (its projection made); false when
 *               the text is invalid.  A conflict of datum 27 and an hp
 *               table is appended to the interpreter's result.
 */
bool parseObjectSpec(Tcl_Interp *interp, const char *text, const char *which, NadSpec &spec) {
  NadSpec s;
  unsigned seen = 0;
  auto once = [&](unsigned bit) {
    if (seen & bit) return false;
    seen |= bit;
    return true;
  };
  std::string all = text;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(',', start);
    if (end == std::string::npos) end = all.size();
    std::string word = all.substr(start, end - start);
    start = end + 1;
    const char *w = word.c_str();
    if (word == "27" || word == "83") {
      if (!once(1)) return false;
      s.datum = atoi(w);
    } else if (strncmp(w, "utm=", 4) == 0) {
      if (!once(2)) return false;
      s.zone = zoneNumber(w + 4);
      if (s.zone < 1 || s.zone > 60) return false;
    } else if (strncmp(w, "spcs=", 5) == 0) {
      if (!once(2)) return false;
      s.zone = zoneNumber(w + 5);
      if (s.zone <= 60) return false;
    } else if (word == "feet") {
      if (!once(4)) return false;
      s.feet = 1;
    } else if (strncmp(w, "hp=", 3) == 0 && w[3]) {
      if (!once(8)) return false;
      s.hp = w + 3;
    } else if (word == "rev") {
      if (!once(16)) return false;
      s.rev = 1;
    } else {
      return false;
    }
  }
  if (s.feet && s.zone <= 60) return false;
  if (!s.hp.empty()) {
    if (s.datum == 27)
      Tcl_AppendResult(interp, "conflict datum and hp in ", which, " specification", nullptr);
    else
      s.datum = 83;
  }
  if (s.zone > 0) {
    s.proj = zoneProjection(interp, s);
    if (!s.proj) return false;
  }
  spec = std::move(s);
  return true;
}

Nad2nadObject *newNad2nadObject() { return new Nad2nadObject; }

void freeNad2nadObject(Nad2nadObject *object) {
  if (!object) return;
  clearSpec(object->in);
  clearSpec(object->out);
  freeNadGrid(object->regionGrid);
  freeNadGrid(object->hpGrid);
  if (object->region) ckfree(object->region);
  if (object->inad) ckfree(object->inad);
  if (object->onad) ckfree(object->onad);
  delete object;
}

/*
 * configureNad2nadObject --
 *     Applies option words, parses changed specifications, loads the
 *     tables and converts the input point into the output point.
 * Results:      TCL_OK, or TCL_ERROR with the message in the result.
 * Side effects: a refusal leaves the texts, specifications and tables as
 *               they were.
 */
int configureNad2nadObject(Tcl_Interp *interp, Nad2nadObject *object, int argc,
                           const char **argv, int flags) {
  ProjOptionSnapshot snapshot(nad2nadOptions, object);
  NadSpec in, out;
  NadGrid *hpGrid = nullptr, *regionGrid = nullptr;
  auto refuse = [&](const std::string &message, const char *text) {
    std::string full = message + (text ? text : "");
    snapshot.restore(object);
    clearSpec(in);
    clearSpec(out);
    freeNadGrid(hpGrid);
    freeNadGrid(regionGrid);
    if (!message.empty()) Tcl_SetObjResult(interp, Tcl_NewStringObj(full.c_str(), -1));
    return TCL_ERROR;
  };
  if (applyProjOptions(interp, nad2nadOptions, object, argc, argv, flags) != TCL_OK)
    return refuse(std::string(), nullptr);
  if (!object->inad || !*object->inad) return refuse("missing inad specification", nullptr);
  if (!object->onad || !*object->onad) return refuse("missing onad specification", nullptr);
  for (const char *text : {static_cast<const char *>(object->inad), static_cast<const char *>(object->onad), object->region ? static_cast<const char *>(object->region) : ""})
    if (strlen(text) > static_cast<size_t>(kProjDefMax))
      return refuse(fmt("specification longer than %d characters: ", kProjDefMax), text);
  if (checkNumberFormat(interp, "-fmt", object->fmt) != TCL_OK) return refuse(std::string(), nullptr);
  Tcl_ResetResult(interp);
  /* Both sides are parsed again: a side's projection follows its datum and tables. */
  if (!parseObjectSpec(interp, object->inad, "inad", in))
    return refuse("error in parsing inad:", object->inad);
  if (!parseObjectSpec(interp, object->onad, "onad", out))
    return refuse("error in parsing onad:", object->onad);
  if (!in.hp.empty() && !out.hp.empty())
    return refuse("Either inad or onad can be high precision but not both", nullptr);
  const std::string &hpName = !in.hp.empty() ? in.hp : out.hp;
  if (!hpName.empty() && !(hpGrid = loadNadGrid(interp, hpName.c_str())))
    return refuse("fail to initialize htab:", hpName.c_str());
  if (object->region && *object->region) {
    if (in.hp.empty() && out.hp.empty() && in.datum == out.datum)
      return refuse("idential datums", nullptr);
    if (!(regionGrid = loadNadGrid(interp, object->region)))
      return refuse("error in initializing region:", object->region);
  } else if (in.datum != out.datum) {
    return refuse("conversion region (-r) not specified", nullptr);
  }
  double x, y;
  if (!convertNadPoint(in, out, regionGrid, hpGrid, object->ix, object->iy, &x, &y))
    return refuse("point cannot be converted: ", getProjError(interp));
  clearSpec(object->in);
  clearSpec(object->out);
  freeNadGrid(object->regionGrid);
  freeNadGrid(object->hpGrid);
  object->in = std::move(in);
  object->out = std::move(out);
  in.proj = out.proj = nullptr;
  object->regionGrid = regionGrid;
  object->hpGrid = hpGrid;
  object->ox = x;
  object->oy = y;
  object->defined = 1;
  return TCL_OK;
}

Nad2nadObject *cloneNad2nadObject(Tcl_Interp *interp, const Nad2nadObject *source) {
  Nad2nadObject *copy = newNad2nadObject();
  std::vector<const char *> words;
  if (source->inad) words.insert(words.end(), {"-inad", source->inad});
  if (source->onad) words.insert(words.end(), {"-onad", source->onad});
  if (source->region) words.insert(words.end(), {"-r", source->region});
  if (configureNad2nadObject(interp, copy, static_cast<int>(words.size()), words.data(), 0) ==
      TCL_OK)
    return copy;
  /* The default point may lie outside the tables: the copy then starts from the source's. */
  std::string ix = fmt("%.17g", source->ix), iy = fmt("%.17g", source->iy);
  words.insert(words.end(), {"-ix", ix.c_str(), "-iy", iy.c_str()});
  configureNad2nadObject(interp, copy, static_cast<int>(words.size()), words.data(), 0);
  return copy;
}

std::string formatNumber(const char *format, double value) {
  std::string out;
  appendFormatted(out, format, value);
  return out;
}

int nad2nadObjectSubcommand(Tcl_Interp *interp, Nad2nadObject *object, const char *name,
                            int argc, const char **argv) {
  const char *word = argc > 1 ? argv[1] : "";
  size_t n = strlen(word);
  enum { NONE, NAD2NAD, NADGET, NADCONFIGURE } sub = NONE;
  if (strcmp(word, "nad2nad") == 0) sub = NAD2NAD;
  else if (strcmp(word, "nadget") == 0) sub = NADGET;
  else if (n >= 6 && strncmp("nadconfigure", word, n) == 0) sub = NADCONFIGURE;
  if (sub == NONE) {
    Tcl_AppendResult(interp, "Usage: ", name, kNad2nadInstanceUsage, nullptr);
    return TCL_ERROR;
  }
  if (!object) {
    Tcl_SetResult(interp, const_cast<char *>("Undefined object"), TCL_STATIC);
    return TCL_ERROR;
  }
  switch (sub) {
  case NAD2NAD: {
    if (argc != 4) {
      Tcl_AppendResult(interp, "Usage: ", name, " nad2nad u v", nullptr);
      return TCL_ERROR;
    }
    if (!object->defined) {
      Tcl_SetResult(interp, const_cast<char *>("nad2nad not defined"), TCL_STATIC);
      return TCL_ERROR;
    }
    double x, y;
    if (!convertNadPoint(object->in, object->out, object->regionGrid, object->hpGrid,
                         atof(argv[2]), atof(argv[3]), &x, &y)) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "point cannot be converted: ", getProjError(interp), nullptr);
      return TCL_ERROR;
    }
    std::string result = formatNumber(object->fmt, x) + " " + formatNumber(object->fmt, y);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(result.c_str(), -1));
    return TCL_OK;
  }
  case NADGET:
    if (argc != 3) {
      Tcl_AppendResult(interp, "Usage: ", name, " nad2nadget option", nullptr);
      return TCL_ERROR;
    }
    return getProjOption(interp, nad2nadOptions, object, argv[2]);
  case NADCONFIGURE:
    if (argc == 2 || argc == 3)
      return listProjOptions(interp, nad2nadOptions, object, argc == 3 ? argv[2] : nullptr);
    return configureNad2nadObject(interp, object, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
  default: return TCL_ERROR;
  }
}

/* ---- ProjectionOps: forward through the conversion ---- */

int nad2nadOpsHasInverse(void *) { return 0; }
int nad2nadOpsIsReversed(void *payload) {
  return payload ? static_cast<Nad2nadObject *>(payload)->in.rev : 0;
}
int nad2nadOpsForward(void *payload, double x, double y, double *outX, double *outY) {
  Nad2nadObject *object = static_cast<Nad2nadObject *>(payload);
  if (!object || !object->defined) return -1;
  return convertNadPoint(object->in, object->out, object->regionGrid, object->hpGrid, x, y, outX,
                         outY)
             ? 0
             : -1;
}
const ProjectionOps nad2nadOps = {nad2nadOpsHasInverse, nad2nadOpsIsReversed, nad2nadOpsForward,
                                  nullptr};

/* ---- class operations ---- */

const ProjPayloadKind<Nad2nadObject> nad2nadKind = {&nad2nadOptions, newNad2nadObject, configureNad2nadObject,
                                                    freeNad2nadObject};

Nad2nadObject *payloadOf(RAMOBJ *object) {
  return static_cast<Nad2nadObject *>(object->payload);
}
int nad2nadOpCount(RAMOBJ *) { return 1; }
int nad2nadOpType(RAMOBJ *) { return 0; }
void *nad2nadOpClonePayload(void *payload, int) {
  return payload ? cloneNad2nadObject(getCurrentProjInterp(), static_cast<Nad2nadObject *>(payload))
                 : nullptr;
}
int nad2nadOpModified(RAMOBJ *object) {
  Nad2nadObject *payload = payloadOf(object);
  return payload ? payload->defined : 0;
}

/* The command of one nad2nad object. */
constexpr Tcl_CmdProc *nad2nadInstanceCmd =
    projFamilyInstanceCmd<Nad2nadObject, nad2nadObjectSubcommand>;

void fillNad2nadClassOps(ObjectClassOps *ops) {
  fillProjFamilyOps(ops, nad2nadInstanceCmd, &nad2nadOps);
  ops->count = nad2nadOpCount;
  ops->type = nad2nadOpType;
  ops->clonePayload = nad2nadOpClonePayload;
  ops->modified = nad2nadOpModified;
  fillProjKindOps<Nad2nadObject, nad2nadKind>(ops);
}

/* Every option at its default; missing tables leave the object undefined, not unmade. */
int makeDefaultNad2nadPayload(Tcl_Interp *interp, RAMOBJ *object) {
  Nad2nadObject *payload = newNad2nadObject();
  object->payload = payload;
  if (defaultProjOptions(interp, nad2nadOptions, payload) == TCL_OK)
    configureNad2nadObject(interp, payload, 0, nullptr, TK_CONFIG_ARGV_ONLY);
  return TCL_OK;
}

const ProjFamilyClass nad2nadFamily = {OBJ_NAD2NAD, "nad2nad.create", nad2nadInstanceCmd,
                                   fillNad2nadClassOps, makeDefaultNad2nadPayload, 0};

}  // namespace

/*
 * nad2nadProgramCmd --
 *     "nad2nad ?options? ?file ...?": runs the nad2nad program.
 * Results:      TCL_ERROR after every run; "proj.exitCode" gives the code.
 */
int nad2nadProgramCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return runProjProgramCmd(interp, "nad2nad", nad2nadMain, argc, argv);
}

/*
 * nad2nadCreateCmd --
 *     "nad2nad.create objName ?-file path? ?-update n?": a nad2nad object
 *     from the file, else with every option at its default (a default set-up
 *     whose tables are missing leaves the object undefined).
 */
int nad2nadCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return createProjFamilyObject(nad2nadFamily, interp, argc, argv);
}

}  // namespace vesk
