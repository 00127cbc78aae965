/*
 * projlayer.cpp --
 *     The projection access layer over PROJ 9.  Each interpreter has one
 *     PROJ context, whose log feeds the error text and whose file finder
 *     looks in PROJ_LIB as the Tcl env array holds it.  A definition gets
 *     the classic defaults (WGS84 unless an earth shape is given, the
 *     standard parallels of aea and lcc, ...), and the layer derives the
 *     values the classic projection record carried (a, e, lam0, k0, datum
 *     type and parameters) from the words, since PROJ 9 keeps them private.
 */
#include "geometry/projlayer.h"

#include <math.h>
#include <proj_experimental.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "vesk/projfinder.h"
#include "vesk/vesk.h"
#include "core/core.h"

namespace vesk {

/*
 * The PROJ context of one interpreter.  The interpreter holds one
 * reference and every projection or grid made in the context holds one,
 * so the context outlives whichever of them goes last.
 */
struct ProjContext {
  PJ_CONTEXT *ctx = nullptr;
  int refs = 0;
  int errorNumber = 0;     /* the error of the layer's last call, 0 for none */
  std::string lastError;   /* first error PROJ logged since the last reset */
  std::string found;       /* the file finder's last answer */
};

struct NadGrid {
  ProjContext *context = nullptr;
  PJ *pj = nullptr;
};

namespace {

constexpr const char *kProjAssocKey = "vesk.proj";
constexpr double kSecToRad = 4.84813681109535993589914102357e-6;

/* The finder installed through pj_set_finder, consulted before PROJ_LIB. */
const char *(*legacyFinder)(const char *) = nullptr;
unsigned nextSerial = 1;

/* The datum list of the classic library, with PROJ 9's definitions. */
const DatumEntry datumTable[] = {
    {"WGS84", "towgs84=0,0,0", "WGS84", ""},
    {"GGRS87", "towgs84=-199.87,74.79,246.62", "GRS80", "Greek_Geodetic_Reference_System_1987"},
    {"NAD83", "towgs84=0,0,0", "GRS80", "North_American_Datum_1983"},
    {"NAD27", "nadgrids=@conus,@alaska,@ntv2_0.gsb,@ntv1_can.dat", "clrk66",
     "North_American_Datum_1927"},
    {"potsdam", "nadgrids=@BETA2007.gsb", "bessel", "Potsdam Rauenberg 1950 DHDN"},
    {"carthage", "towgs84=-263.0,6.0,431.0", "clrk80ign", "Carthage 1934 Tunisia"},
    {"hermannskogel", "towgs84=577.326,90.129,463.919,5.137,1.474,5.297,2.4232", "bessel",
     "Hermannskogel"},
    {"ire65", "towgs84=482.530,-130.596,564.557,-1.042,-0.214,-0.631,8.15", "mod_airy",
     "Ireland 1965"},
    {"nzgd49", "towgs84=59.47,-5.04,187.44,0.47,-0.1,1.024,-4.5993", "intl",
     "New Zealand Geodetic Datum 1949"},
    {"OSGB36", "towgs84=446.448,-125.157,542.060,0.1502,0.2470,0.8421,-20.4894", "airy",
     "Airy 1830"},
    {nullptr, nullptr, nullptr, nullptr},
};

/* Defaults per projection, added when the word is missing. */
struct ProjDefault {
  const char *proj;
  const char *word;
};
const ProjDefault projDefaults[] = {
    {"aea", "lat_1=29.5"}, {"aea", "lat_2=45.5"}, {"lcc", "lat_1=33"},
    {"lcc", "lat_2=45"},   {"lagrng", "W=2"},
};

/* Words that give the earth's shape: with one, no default ellipsoid. */
const char *const earthShapeKeys[] = {"datum", "ellps", "a", "b", "rf", "f", "es", "e", "R", "init"};

/* DMS writer state: a setting of the library that outlives a run. */
double dmsRes = 1000.0, dmsRes60 = 60000.0, dmsConv = 206264806.24709635515796003417;
char dmsFormat[50] = "%dd%d'%.3f\"%c";
int dmsFixedWidth = 0;

void projLog(void *data, int level, const char *message) {
  ProjContext *context = static_cast<ProjContext *>(data);
  if (level > PJ_LOG_ERROR || !message) return;
  if (context->lastError.empty()) context->lastError = message;
}

const char *projFileFinder(PJ_CONTEXT *, const char *name, void *data) {
  ProjContext *context = static_cast<ProjContext *>(data);
  if (legacyFinder) {
    if (const char *path = legacyFinder(name)) {
      context->found = path;
      return context->found.c_str();
    }
  }
  const char *lib = vesk_getenv("PROJ_LIB");
  if (!lib || !name || !*name) return nullptr;
  std::string dirs = lib;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    if (end > start) {
      std::string path = dirs.substr(start, end - start) + "/" + name;
      if (access(path.c_str(), R_OK) == 0) {
        context->found = path;
        return context->found.c_str();
      }
    }
    start = end + 1;
  }
  return nullptr;
}

ProjContext *newContext() {
  ProjContext *context = new ProjContext;
  context->ctx = proj_context_create();
  proj_log_func(context->ctx, context, projLog);
  proj_log_level(context->ctx, PJ_LOG_ERROR);
  proj_context_set_file_finder(context->ctx, projFileFinder, context);
  proj_context_use_proj4_init_rules(context->ctx, 1);
  context->refs = 1;
  return context;
}

void retainContext(ProjContext *context) { context->refs++; }

void releaseContext(ProjContext *context) {
  if (--context->refs > 0) return;
  proj_context_destroy(context->ctx);
  delete context;
}

void contextDeleted(ClientData clientData, Tcl_Interp *) {
  releaseContext(static_cast<ProjContext *>(clientData));
}

/* Every call of the layer starts with no error pending. */
void resetErrors(ProjContext *context, const PJ *pj) {
  context->lastError.clear();
  context->errorNumber = 0;
  if (pj) proj_errno_reset(pj);
}

/* Records a failure: PROJ's number when it gave one, else the fallback. */
int noteFailure(ProjContext *context, int projErrno, int fallback, const char *text) {
  if (projErrno == 0) projErrno = proj_context_errno(context->ctx);
  context->errorNumber = projErrno ? projErrno : fallback;
  if (context->lastError.empty() && text) context->lastError = text;
  return context->errorNumber;
}

/* The value of the first word with this key, "" for a bare key, NULL when absent. */
const char *paramValue(const projPJ pj, const char *key) {
  size_t n = strlen(key);
  for (const ProjParam &param : pj->params) {
    const char *text = param.text.c_str();
    if (strncmp(text, key, n) == 0 && (text[n] == '=' || text[n] == 0))
      return text[n] == '=' ? text + n + 1 : text + n;
  }
  return nullptr;
}

bool hasKey(const std::vector<std::string> &words, const char *key) {
  size_t n = strlen(key);
  for (const std::string &word : words)
    if (word.compare(0, n, key) == 0 && (word.size() == n || word[n] == '=')) return true;
  return false;
}

const char *wordValue(const std::vector<std::string> &words, const char *key) {
  size_t n = strlen(key);
  for (const std::string &word : words)
    if (word.compare(0, n, key) == 0 && (word.size() == n || word[n] == '='))
      return word.size() == n ? "" : word.c_str() + n + 1;
  return nullptr;
}

/* A number that may be written as a ratio ("1/3.28"). */
double ratioValue(const char *text) {
  char *end = nullptr;
  double value = strtod(text, &end);
  if (end && *end == '/') {
    double divisor = strtod(end + 1, nullptr);
    if (divisor != 0) value /= divisor;
  }
  return value;
}

double angleValue(const char *text) {
  if (!text || !*text) return 0;
  double value = proj_dmstor(text, nullptr);
  return value == HUGE_VAL ? 0 : value;
}

/* Earth figure: a sphere of radius R, or an ellipsoid from ellps and the shape words. */
void deriveEarthFigure(projPJ pj) {
  std::vector<std::string> words;
  for (const ProjParam &param : pj->params) words.push_back(param.text);
  if (const char *r = wordValue(words, "R")) {
    pj->a = strtod(r, nullptr);
    pj->e = 0;
    return;
  }
  if (const char *ellps = wordValue(words, "ellps")) {
    int index = findEllipsoid(ellps);
    if (index >= 0) {
      const EllipsoidEntry *entry = getEllipsoidAt(index);
      words.push_back(entry->major);
      words.push_back(entry->ell);
    }
  }
  const char *a = wordValue(words, "a");
  pj->a = a ? strtod(a, nullptr) : 0;
  double es = 0;
  if (const char *v = wordValue(words, "es")) {
    es = strtod(v, nullptr);
  } else if (const char *v = wordValue(words, "e")) {
    double e = strtod(v, nullptr);
    es = e * e;
  } else if (const char *v = wordValue(words, "rf")) {
    double rf = strtod(v, nullptr);
    if (rf != 0) es = (2 - 1 / rf) / rf;
  } else if (const char *v = wordValue(words, "f")) {
    double f = strtod(v, nullptr);
    es = f * (2 - f);
  } else if (const char *v = wordValue(words, "b")) {
    double b = strtod(v, nullptr);
    if (pj->a != 0) es = 1 - (b * b) / (pj->a * pj->a);
  }
  if (pj->a == 0) { /* PROJ 9's own fallback: GRS80 */
    pj->a = 6378137.0;
    double rf = 298.257222101;
    es = (2 - 1 / rf) / rf;
  }
  pj->e = es > 0 ? sqrt(es) : 0;
}

/* Origin, scale, offsets and units, with the set-up rules of utm and ups. */
void deriveOrigin(projPJ pj) {
  pj->lam0 = angleValue(paramValue(pj, "lon_0"));
  pj->phi0 = angleValue(paramValue(pj, "lat_0"));
  const char *v;
  pj->x0 = (v = paramValue(pj, "x_0")) ? strtod(v, nullptr) : 0;
  pj->y0 = (v = paramValue(pj, "y_0")) ? strtod(v, nullptr) : 0;
  if ((v = paramValue(pj, "k_0")) || (v = paramValue(pj, "k"))) pj->k0 = strtod(v, nullptr);
  else pj->k0 = 1;
  const char *proj = paramValue(pj, "proj");
  bool south = paramValue(pj, "south") != nullptr;
  if (proj && strcmp(proj, "utm") == 0) {
    pj->x0 = 500000;
    pj->y0 = south ? 10000000 : 0;
    pj->k0 = 0.9996;
    pj->phi0 = 0;
    long zone = 0;
    if ((v = paramValue(pj, "zone"))) zone = strtol(v, nullptr, 10);
    if (zone >= 1 && zone <= 60) {
      pj->lam0 = (static_cast<double>(zone - 1) + 0.5) * M_PI / 30.0 - M_PI;
    } else {
      double lam = fmod(pj->lam0 + M_PI, 2 * M_PI);
      if (lam < 0) lam += 2 * M_PI;
      long guess = lround(floor(lam * 30.0 / M_PI));
      if (guess < 0) guess = 0;
      if (guess >= 60) guess = 59;
      pj->lam0 = (static_cast<double>(guess) + 0.5) * M_PI / 30.0 - M_PI;
    }
  } else if (proj && strcmp(proj, "ups") == 0) {
    pj->x0 = pj->y0 = 2000000;
    pj->k0 = 0.994;
    pj->phi0 = south ? -M_PI_2 : M_PI_2;
    pj->lam0 = 0;
  }
  /* A named unit wins over to_meter, as PROJ applies them. */
  pj->toMeter = 1;
  int unit = (v = paramValue(pj, "units")) ? findUnit(v) : -1;
  if (unit >= 0) pj->toMeter = getUnitAt(unit)->factor;
  else if ((v = paramValue(pj, "to_meter"))) pj->toMeter = ratioValue(v);
  if (pj->toMeter == 0) pj->toMeter = 1;
  pj->frMeter = 1 / pj->toMeter;
}

/* Datum type and parameters: grid shift, three or seven parameters, or WGS84. */
void deriveDatum(projPJ pj) {
  pj->datumType = PJD_UNKNOWN;
  for (double &p : pj->datumParams) p = 0;
  if (paramValue(pj, "nadgrids")) {
    pj->datumType = PJD_GRIDSHIFT;
    return;
  }
  const char *towgs84 = paramValue(pj, "towgs84");
  if (!towgs84) return;
  const char *s = towgs84;
  for (int i = 0; i < 7 && *s; i++) {
    char *end = nullptr;
    pj->datumParams[i] = strtod(s, &end);
    if (end == s) break;
    s = end;
    while (*s == ',') s++;
  }
  if (pj->datumParams[3] != 0 || pj->datumParams[4] != 0 || pj->datumParams[5] != 0 ||
      pj->datumParams[6] != 0) {
    pj->datumType = PJD_7PARAM;
    for (int i = 3; i < 6; i++) pj->datumParams[i] *= kSecToRad;
    pj->datumParams[6] = pj->datumParams[6] / 1000000.0 + 1;
  } else {
    pj->datumType = PJD_3PARAM;
    if (pj->datumParams[0] == 0 && pj->datumParams[1] == 0 && pj->datumParams[2] == 0 &&
        pj->a == 6378137.0 && fabs(pj->e * pj->e - 0.006694379990) < 0.000000000050)
      pj->datumType = PJD_WGS84;
  }
}

/*
 * The definition with the classic defaults: WGS84 unless an earth shape or
 * no_defs is given, the defaults of some projections, and a named datum
 * spelled out as its ellipsoid and shift.
 */
std::vector<std::string> expandDefinition(int argc, const char *const *argv) {
  std::vector<std::string> words;
  for (int i = 0; i < argc; i++) {
    const char *word = argv[i] ? argv[i] : "";
    if (*word == '+') word++;
    words.emplace_back(word);
  }
  if (!hasKey(words, "no_defs")) {
    bool shaped = false;
    for (const char *key : earthShapeKeys) shaped = shaped || hasKey(words, key);
    if (!shaped && !words.empty()) words.emplace_back("ellps=WGS84");
    if (const char *proj = wordValue(words, "proj")) {
      std::string id = proj;
      for (const ProjDefault &def : projDefaults) {
        std::string key(def.word, strchr(def.word, '=') - def.word);
        if (id == def.proj && !hasKey(words, key.c_str())) words.emplace_back(def.word);
      }
    }
  }
  if (const char *datum = wordValue(words, "datum")) {
    int index = findDatum(datum);
    if (index >= 0) {
      const DatumEntry &entry = datumTable[index];
      words.emplace_back(std::string("ellps=") + entry.ellipseId);
      words.emplace_back(entry.defn);
    }
  }
  return words;
}

/* Whether a word is an init= reference that its own words have replaced. */
bool isInitWord(const std::string &word) { return word.compare(0, 5, "init=") == 0; }

/* PROJ's object for words, leaving out init= words when they were expanded. */
PJ *createFromWords(ProjContext *context, const std::vector<std::string> &words, bool skipInit) {
  std::vector<const char *> args;
  for (const std::string &word : words)
    if (!skipInit || !isInitWord(word)) args.push_back(word.c_str());
  return proj_create_argv(context->ctx, static_cast<int>(args.size()),
                          const_cast<char **>(args.data()));
}

/*
 * The words of a coordinate system that an init file or a database code
 * gave, without "+" and without "type=crs"; empty when PROJ cannot write
 * the system as words.
 */
std::vector<std::string> crsWords(ProjContext *context, PJ *crs) {
  std::vector<std::string> words;
  const char *text = proj_as_proj_string(context->ctx, crs, PJ_PROJ_4, nullptr);
  if (!text) return words;
  std::string all = text;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(' ', start);
    if (end == std::string::npos) end = all.size();
    std::string word = all.substr(start, end - start);
    if (!word.empty() && word[0] == '+') word.erase(0, 1);
    if (!word.empty() && word != "type=crs") words.push_back(word);
    start = end + 1;
  }
  return words;
}

PJ *makeCrs3d(projPJ pj) {
  if (pj->crs3d) return pj->crs3d;
  std::vector<const char *> argv;
  for (const ProjParam &param : pj->params)
    if (!pj->initExpanded || !isInitWord(param.text)) argv.push_back(param.text.c_str());
  argv.push_back("type=crs");
  PJ_CONTEXT *ctx = pj->context->ctx;
  PJ *crs = proj_create_argv(ctx, static_cast<int>(argv.size()), const_cast<char **>(argv.data()));
  if (!crs) return nullptr;
  PJ *crs3d = proj_crs_promote_to_3D(ctx, nullptr, crs);
  if (crs3d) {
    proj_destroy(crs);
    crs = crs3d;
  }
  pj->crs3d = crs;
  return crs;
}

void writeHuge(double *x, double *y, double *z = nullptr) {
  if (x) *x = HUGE_VAL;
  if (y) *y = HUGE_VAL;
  if (z) *z = HUGE_VAL;
}


void convertPoint(projPJ pj, PJ_DIRECTION direction, double u, double v, double *outU,
                  double *outV) {
  if (!pj || !pj->pj) {
    writeHuge(outU, outV);
    return;
  }
  resetErrors(pj->context, pj->pj);
  PJ_COORD result = proj_trans(pj->pj, direction, proj_coord(u, v, 0, 0));
  int err = proj_errno(pj->pj);
  if (err != 0 || !isfinite(result.xy.x) || !isfinite(result.xy.y)) {
    noteFailure(pj->context, err, PROJ_ERR_COORD_TRANSFM, "point could not be converted");
    writeHuge(outU, outV);
    return;
  }
  *outU = result.xy.x;
  *outV = result.xy.y;
}

template <class Entry>
int countEntries(const Entry *first) {
  int n = 0;
  for (const Entry *entry = first; entry && entry->id; entry++) n++;
  return n;
}

template <class Entry>
int findEntry(const Entry *first, const char *id) {
  if (!id) return -1;
  int index = 0;
  for (const Entry *entry = first; entry && entry->id; entry++, index++)
    if (strcmp(entry->id, id) == 0) return index;
  return -1;
}

}  // namespace

/* ---- contexts ---- */

/*
 * getProjContext --
 *     The PROJ context of an interpreter, made on first use and freed
 *     with the interpreter (or with its last projection).  Without an
 *     interpreter: the stdio interpreter's, else a process-wide one.
 */
ProjContext *getProjContext(Tcl_Interp *interp) {
  if (!interp) interp = getStdioInterp();
  if (!interp || Tcl_InterpDeleted(interp)) {
    static ProjContext *processContext = newContext();
    return processContext;
  }
  void *data = Tcl_GetAssocData(interp, kProjAssocKey, nullptr);
  if (data) return static_cast<ProjContext *>(data);
  ProjContext *context = newContext();
  Tcl_SetAssocData(interp, kProjAssocKey, contextDeleted, context);
  return context;
}

/* ---- projections ---- */

/*
 * initProjection --
 *     A projection from the words of a definition; a leading "+" is
 *     dropped.  The defaults of the classic library are added to the words.
 * Results:      the projection, or NULL with PROJ's error for getProjError.
 */
projPJ initProjection(Tcl_Interp *interp, int argc, const char *const *argv) {
  ProjContext *context = getProjContext(interp);
  resetErrors(context, nullptr);
  std::vector<std::string> words = expandDefinition(argc, argv);
  if (words.empty()) {
    noteFailure(context, 0, PROJ_ERR_INVALID_OP, "no arguments in initialization list");
    return nullptr;
  }
  PJ *p = createFromWords(context, words, false);
  bool initExpanded = false;
  if (p && proj_is_crs(p)) {
    /*
     * An init= reference gives a coordinate system, which converts no
     * point: its words follow the words given, as the init file's did,
     * and make the projection.
     */
    std::vector<std::string> extra = crsWords(context, p);
    proj_destroy(p);
    p = nullptr;
    std::vector<const char *> all(argv, argv + argc);
    for (const std::string &word : extra) all.push_back(word.c_str());
    words = expandDefinition(static_cast<int>(all.size()), all.data());
    initExpanded = true;
    if (!extra.empty()) p = createFromWords(context, words, true);
    if (p && proj_is_crs(p)) {
      proj_destroy(p);
      p = nullptr;
    }
  }
  if (!p) {
    int err = noteFailure(context, 0, PROJ_ERR_INVALID_OP, "projection initialization failure");
    if (err == PROJ_ERR_INVALID_OP_FILE_NOT_FOUND_OR_INVALID) {
      /* PROJ does not say which file: name the grids the definition asks for. */
      for (const char *key : {"nadgrids", "grids", "geoidgrids"})
        if (const char *grids = wordValue(words, key))
          context->lastError += std::string(" (") + key + "=" + grids + ")";
    }
    return nullptr;
  }
  projPJ pj = new ProjHandle;
  pj->context = context;
  retainContext(context);
  pj->pj = p;
  pj->serial = nextSerial++;
  pj->initExpanded = initExpanded;
  pj->params.resize(words.size());
  for (size_t i = 0; i < words.size(); i++) {
    pj->params[i].text = words[i];
    if (i > 0) pj->params[i - 1].next = &pj->params[i];
  }
  const char *proj = paramValue(pj, "proj");
  pj->isLatLong = proj && (strcmp(proj, "latlong") == 0 || strcmp(proj, "longlat") == 0 ||
                           strcmp(proj, "latlon") == 0 || strcmp(proj, "lonlat") == 0);
  pj->hasInverse = proj_pj_info(p).has_inverse;
  deriveEarthFigure(pj);
  deriveOrigin(pj);
  deriveDatum(pj);
  return pj;
}

void freeProjection(projPJ pj) {
  if (!pj) return;
  if (pj->cachedOp) proj_destroy(pj->cachedOp);
  if (pj->crs3d) proj_destroy(pj->crs3d);
  if (pj->pj) proj_destroy(pj->pj);
  ProjContext *context = pj->context;
  delete pj;
  if (context) releaseContext(context);
}

int hasProjectionInverse(projPJ pj) { return pj && pj->hasInverse ? 1 : 0; }
int isLatLongProjection(projPJ pj) { return pj ? pj->isLatLong : 0; }

/*
 * projectForward, projectInverse --
 *     One point through the projection; radians on the geographic side.
 * Results:      both outputs always written: HUGE_VAL when PROJ fails or
 *               gives no number, with the error kept for getProjError.
 */
void projectForward(projPJ pj, double lam, double phi, double *x, double *y) {
  convertPoint(pj, PJ_FWD, lam, phi, x, y);
}

void projectInverse(projPJ pj, double x, double y, double *lam, double *phi) {
  convertPoint(pj, PJ_INV, x, y, lam, phi);
}

/*
 * transformPoint --
 *     One point from one definition to another through PROJ's choice of
 *     operation between the two as 3-D coordinate systems, so heights
 *     follow datum shifts.  Latitude/longitude sides are in radians.
 * Results:      0, or PROJ's error number; on failure the outputs hold
 *               HUGE_VAL rather than whatever the caller left in them.
 * Side effects: keeps the operation for the next call with the same pair.
 */
int transformPoint(projPJ src, projPJ dst, double x, double y, double z, double *outX,
                   double *outY, double *outZ) {
  if (!src || !dst) {
    writeHuge(outX, outY, outZ);
    return PROJ_ERR_OTHER;
  }
  ProjContext *context = src->context;
  resetErrors(context, src->pj);
  if (!src->cachedOp || src->cachedTarget != dst->serial) {
    if (src->cachedOp) proj_destroy(src->cachedOp);
    src->cachedOp = nullptr;
    PJ *from = makeCrs3d(src);
    PJ *to = from ? makeCrs3d(dst) : nullptr;
    if (to) src->cachedOp = proj_create_crs_to_crs_from_pj(context->ctx, from, to, nullptr, nullptr);
    if (!src->cachedOp) {
      writeHuge(outX, outY, outZ);
      return noteFailure(context, 0, PROJ_ERR_INVALID_OP,
                         "no transformation between the two definitions");
    }
    src->cachedTarget = dst->serial;
  }
  PJ *op = src->cachedOp;
  if (src->isLatLong) {
    x *= 180.0 / M_PI;
    y *= 180.0 / M_PI;
  }
  proj_errno_reset(op);
  PJ_COORD result = proj_trans(op, PJ_FWD, proj_coord(x, y, z, 0));
  int err = proj_errno(op);
  if (err != 0 || !isfinite(result.xyz.x) || !isfinite(result.xyz.y)) {
    writeHuge(outX, outY, outZ);
    return noteFailure(context, err, PROJ_ERR_COORD_TRANSFM, "point could not be transformed");
  }
  if (dst->isLatLong) {
    result.xyz.x *= M_PI / 180.0;
    result.xyz.y *= M_PI / 180.0;
  }
  *outX = result.xyz.x;
  *outY = result.xyz.y;
  if (outZ) *outZ = result.xyz.z;
  return 0;
}

void applyProjectionFunc(ProjPointFunc func, projPJ pj, double u, double v, double *x, double *y) {
  PJ_LP point;
  point.lam = u;
  point.phi = v;
  PJ_XY result = func(point, pj);
  *x = result.x;
  *y = result.y;
}

/*
 * getProjError --
 *     The text of the context's current error: what PROJ logged for it,
 *     else PROJ's text for its number; "" when no error is pending.
 */
const char *getProjError(Tcl_Interp *interp) {
  ProjContext *context = getProjContext(interp);
  int err = getProjErrno(interp);
  if (err == 0) return "";
  if (!context->lastError.empty()) return context->lastError.c_str();
  const char *text = proj_context_errno_string(context->ctx, err);
  return text ? text : "";
}

int getProjErrno(Tcl_Interp *interp) { return getProjContext(interp)->errorNumber; }

/* ---- grid-shift tables ---- */

NadGrid *loadNadGrid(Tcl_Interp *interp, const char *name) {
  ProjContext *context = getProjContext(interp);
  resetErrors(context, nullptr);
  if (!name || !*name) {
    noteFailure(context, 0, PROJ_ERR_INVALID_OP, "no grid name");
    return nullptr;
  }
  std::string definition = std::string("+proj=hgridshift +grids=") + name;
  PJ *p = proj_create(context->ctx, definition.c_str());
  if (!p) {
    noteFailure(context, 0, PROJ_ERR_INVALID_OP, "grid could not be loaded");
    return nullptr;
  }
  NadGrid *grid = new NadGrid;
  grid->context = context;
  retainContext(context);
  grid->pj = p;
  return grid;
}

void freeNadGrid(NadGrid *grid) {
  if (!grid) return;
  proj_destroy(grid->pj);
  ProjContext *context = grid->context;
  delete grid;
  releaseContext(context);
}

static void convertNad(NadGrid *grid, PJ_DIRECTION direction, double lam, double phi,
                       double *outLam, double *outPhi) {
  if (!grid) {
    writeHuge(outLam, outPhi);
    return;
  }
  resetErrors(grid->context, grid->pj);
  PJ_COORD result = proj_trans(grid->pj, direction, proj_coord(lam, phi, 0, 0));
  int err = proj_errno(grid->pj);
  if (err != 0 || !isfinite(result.lp.lam) || !isfinite(result.lp.phi)) {
    noteFailure(grid->context, err, PROJ_ERR_COORD_TRANSFM, "point could not be converted");
    writeHuge(outLam, outPhi);
    return;
  }
  *outLam = result.lp.lam;
  *outPhi = result.lp.phi;
}

void convertNadForward(NadGrid *grid, double lam, double phi, double *outLam, double *outPhi) {
  convertNad(grid, PJ_FWD, lam, phi, outLam, outPhi);
}

void convertNadInverse(NadGrid *grid, double lam, double phi, double *outLam, double *outPhi) {
  convertNad(grid, PJ_INV, lam, phi, outLam, outPhi);
}

/* ---- parameters ---- */

double getProjA(projPJ pj) { return pj->a; }
double getProjE(projPJ pj) { return pj->e; }
double getProjLam0(projPJ pj) { return pj->lam0; }
double getProjPhi0(projPJ pj) { return pj->phi0; }
double getProjX0(projPJ pj) { return pj->x0; }
double getProjY0(projPJ pj) { return pj->y0; }
double getProjK0(projPJ pj) { return pj->k0; }
double getProjToMeter(projPJ pj) { return pj->toMeter; }
double getProjFrMeter(projPJ pj) { return pj->frMeter; }

const char *getDatumTypeName(projPJ pj) {
  switch (pj->datumType) {
  case PJD_3PARAM: return "3PARAM";
  case PJD_7PARAM: return "7PARAM";
  case PJD_GRIDSHIFT: return "GRIDSHIFT";
  case PJD_WGS84: return "WGS84";
  default: return "UNKNOWN";
  }
}

const double *getDatumParams(projPJ pj, int *count) {
  if (count) *count = 7;
  return pj->datumParams;
}

ProjParam *getFirstProjParam(projPJ pj) {
  return pj && !pj->params.empty() ? &pj->params[0] : nullptr;
}
ProjParam *getNextProjParam(ProjParam *param) { return param ? param->next : nullptr; }
const char *getProjParamText(ProjParam *param) { return param->text.c_str(); }
int getProjParamUsed(ProjParam *param) { return param->used; }

/* ---- lists ---- */

const ProjTypeEntry *getFirstProjType() { return proj_list_operations(); }
const ProjTypeEntry *getNextProjType(const ProjTypeEntry *entry) {
  return entry && entry->id ? entry + 1 : nullptr;
}
int countProjTypes() { return countEntries(proj_list_operations()); }
const ProjTypeEntry *getProjTypeAt(int index) {
  if (index < 0 || index >= countProjTypes()) return nullptr;
  return proj_list_operations() + index;
}
int findProjType(const char *id) { return findEntry(proj_list_operations(), id); }
const char *getProjTypeDescr(const ProjTypeEntry *entry) {
  return entry && entry->descr ? *entry->descr : nullptr;
}
const char *getProjTypeId(const ProjTypeEntry *entry) { return entry->id; }

const EllipsoidEntry *getFirstEllipsoid() { return proj_list_ellps(); }
const EllipsoidEntry *getNextEllipsoid(const EllipsoidEntry *entry) {
  return entry && entry->id ? entry + 1 : nullptr;
}
int countEllipsoids() { return countEntries(proj_list_ellps()); }
const EllipsoidEntry *getEllipsoidAt(int index) {
  if (index < 0 || index >= countEllipsoids()) return nullptr;
  return proj_list_ellps() + index;
}
int findEllipsoid(const char *id) { return findEntry(proj_list_ellps(), id); }
const char *getEllipsoidId(const EllipsoidEntry *entry) { return entry->id; }
const char *getEllipsoidMajor(const EllipsoidEntry *entry) { return entry->major; }
const char *getEllipsoidEll(const EllipsoidEntry *entry) { return entry->ell; }
const char *getEllipsoidName(const EllipsoidEntry *entry) { return entry->name; }

/* PROJ 9 marks its unit list deprecated in favour of its database; the list is what we need. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
const UnitEntry *getFirstUnit() { return proj_list_units(); }
#pragma GCC diagnostic pop
const UnitEntry *getNextUnit(const UnitEntry *entry) {
  return entry && entry->id ? entry + 1 : nullptr;
}
int findUnit(const char *id) { return findEntry(getFirstUnit(), id); }
const UnitEntry *getUnitAt(int index) {
  if (index < 0 || index >= countEntries(getFirstUnit())) return nullptr;
  return getFirstUnit() + index;
}

const DatumEntry *getFirstDatum() { return datumTable; }
const DatumEntry *getNextDatum(const DatumEntry *entry) {
  return entry && entry->id ? entry + 1 : nullptr;
}
int findDatum(const char *id) { return findEntry(datumTable, id); }

/* ---- degree-minute-second text ---- */

/*
 * dmsToRadians --
 *     Reads an angle in degrees, optionally with d ' " parts and a
 *     hemisphere letter.
 * Results:      radians, HUGE_VAL when the text holds no angle; *rest
 *               points after what was read.
 */
double dmsToRadians(const char *text, char **rest) { return proj_dmstor(text, rest); }

/*
 * setDmsFormat --
 *     The precision of seconds in DMS text: fraction digits 0 to 8, and
 *     with fixedWidth, two-digit minutes and zero-padded seconds.  Other
 *     values leave the format as it is.
 */
void setDmsFormat(int fraction, int fixedWidth) {
  if (fraction < 0 || fraction >= 9) return;
  dmsRes = 1.0;
  for (int i = 0; i < fraction; i++) dmsRes *= 10.0;
  dmsRes60 = dmsRes * 60.0;
  dmsConv = 180.0 * 3600.0 * dmsRes / M_PI;
  if (!fixedWidth)
    snprintf(dmsFormat, sizeof dmsFormat, "%%dd%%d'%%.%df\"%%c", fraction);
  else
    snprintf(dmsFormat, sizeof dmsFormat, "%%dd%%02d'%%0%d.%df\"%%c",
             fraction + 2 + (fraction ? 1 : 0), fraction);
  dmsFixedWidth = fixedWidth;
}

/*
 * radiansToDms --
 *     An angle as degrees, minutes and seconds with a hemisphere letter
 *     (pos for positive, neg for negative; no letter and a minus sign when
 *     pos is 0).  Trailing zeros of the seconds, and zero seconds or
 *     minutes, are dropped unless the fixed-width form is set.
 */
char *radiansToDms(char *buffer, size_t size, double r, int pos, int neg) {
  if (!buffer || size == 0) return buffer;
  std::string out;
  int sign;
  if (r < 0) {
    r = -r;
    if (!pos) {
      out = "-";
      sign = 0;
    } else {
      sign = neg;
    }
  } else {
    sign = pos;
  }
  if (!isfinite(r) || r > 1e12) {
    snprintf(buffer, size, "%s%s", out.c_str(), "inf");
    return buffer;
  }
  r = floor(r * dmsConv + 0.5);
  double sec = fmod(r / dmsRes, 60.0);
  r = floor(r / dmsRes60);
  int min = static_cast<int>(fmod(r, 60.0));
  int deg = static_cast<int>(r / 60.0);
  char text[128];
  if (dmsFixedWidth) {
    snprintf(text, sizeof text, dmsFormat, deg, min, sec, sign);
  } else if (sec != 0) {
    snprintf(text, sizeof text, dmsFormat, deg, min, sec, sign);
    /* Drop trailing zeros of the seconds, and the point when nothing follows it. */
    size_t len = strlen(text);
    size_t tail = pos ? 2 : 1;  /* the quote and the hemisphere letter */
    if (len > tail + 1) {
      size_t q = len - tail - 1;
      size_t p = q;
      while (p > 0 && text[p] == '0') p--;
      if (text[p] != '.') p++;
      memmove(text + p, text + q + 1, len - q);
    }
  } else if (min != 0) {
    snprintf(text, sizeof text, "%dd%d'%c", deg, min, sign);
  } else {
    snprintf(text, sizeof text, "%dd%c", deg, sign);
  }
  out += text;
  snprintf(buffer, size, "%s", out.c_str());
  return buffer;
}

}  // namespace vesk

/*
 * pj_set_finder --
 *     The classic library's hook for finding its data files: the given
 *     procedure is asked for a file's path before PROJ_LIB is searched;
 *     NULL removes it.
 */
void pj_set_finder(const char *(*finder)(const char *)) { vesk::legacyFinder = finder; }
