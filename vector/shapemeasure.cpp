/*
 * shapemeasure.cpp --
 *     The shape object's subcommands that compute with coordinates:
 *     "area", "length", "centroid", "vangle" and "langle" measure records
 *     in the units of their coordinates; "projdef" records the projection
 *     the coordinates are expressed in, and "projection" converts every
 *     vertex of the store from that projection to another one.
 */
#include "vector/shapemeasure.h"

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/lazylib.h"
#include "geometry/projlayer.h"

namespace vesk {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegToRad = kPi * 0.005555555555555556;
constexpr double kRadToDeg = 57.29577951308232;
constexpr double kInversePi = 0.3183098861837907;
constexpr double kSixth = 0.16666666666666666;

int setResult(Tcl_Interp *interp, const std::string &message, int code = TCL_ERROR) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
  return code;
}

std::string usage(const char *const *argv, const char *subcommand, const char *syntax) {
  return std::string("Usage: ") + argv[0] + " " + subcommand + " " + syntax;
}

/* A record index as decimal text: a word without a leading number reads as 0. */
int readIndexWord(const char *word) {
  errno = 0;
  long value = strtol(word, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

/* One part of a record: its first point and how many follow. */
struct MeasurePart {
  const ShapeDouble *points;
  int n;
};

/*
 * The parts of a record in order, each part's points following the
 * previous part's.  A record without a parts array (points, multipoints)
 * gives one part per point; lengths running past the points are cut.
 */
std::vector<MeasurePart> measureParts(ShapeRecord *record) {
  std::vector<MeasurePart> parts;
  int n = 0, p = 0;
  const ShapeDouble *points = getRecordPoints(record, &n);
  const int32_t *lengths = getRecordParts(record, &p);
  if (!points || n <= 0) return parts;
  if (!lengths) {
    for (int i = 0; i < n; i++) parts.push_back({points + 2 * i, 1});
    return parts;
  }
  int at = 0;
  for (int k = 0; k < p; k++) {
    int length = lengths[k];
    if (length < 0) length = 0;
    if (length > n - at) length = n - at;
    parts.push_back({points + 2 * at, length});
    at += length;
  }
  return parts;
}

char *formatTriple(double a, double b, double c) { return fmt("%.12g %.12g %.12g", a, b, c); }

/* ---- area and length ---- */

/*
 * measureSum --
 *     "area" and "length": the summed ring areas or part lengths of the
 *     listed records, or of every record (deleted ones too) for "all".
 */
int measureSum(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv, bool area) {
  const char *name = area ? "area" : "length";
  if (argc < 3) return setResult(interp, usage(argv, name, "index ?index?... | all"));
  int type = store->header.shapeType;
  if (area ? !shapeTypeIsPolygon(type) : !shapeTypeHasParts(type))
    return setResult(interp, area ? "shape object does not have area."
                                  : "shape object does not have length.");
  double total = 0;
  auto add = [&](int i) {
    for (const MeasurePart &part : measureParts(getShapeRecord(store, i)))
      total += area ? ringArea(part.points, part.n) : shapePolylineLength(part.points, part.n);
  };
  if (strcmp(argv[2], "all") == 0) {
    for (int i = 0; i < store->count; i++) add(i);
  } else {
    for (int w = 2; w < argc; w++) {
      int i = readIndexWord(argv[w]);
      if (i < 0 || i >= store->count) return setResult(interp, "invalid index");
      add(i);
    }
  }
  return setResult(interp, fmt("%.12g", total), TCL_OK);
}

/* ---- centroid ---- */

/*
 * partCentroid --
 *     The centroid of one part by the store's kind and its measure: signed
 *     area for polygons, length for lines, point count otherwise.  A ring
 *     without area has no area centroid: the mean of its points stands in.
 */
double partCentroid(int type, const MeasurePart &part, double *cx, double *cy) {
  if (shapeTypeIsPolygon(type)) {
    double a = shapePolygonCentroid(part.points, part.n, cx, cy);
    if (a == 0 || !isfinite(*cx) || !isfinite(*cy)) {
      shapePointsCentroid(part.points, part.n, cx, cy);
      return 0;
    }
    return a;
  }
  if (shapeTypeHasParts(type)) return lineCentroid(part.points, part.n, cx, cy);
  return shapePointsCentroid(part.points, part.n, cx, cy);
}

int measureCentroid(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv) {
  if ((argc != 3 && argc != 4) || (argc == 4 && strcmp(argv[3], "average") != 0))
    return setResult(interp, usage(argv, argv[1], "index [average]"));
  int i = readIndexWord(argv[2]);
  if (i < 0 || i >= store->count) return setResult(interp, "invalid index");
  std::vector<MeasurePart> parts = measureParts(getShapeRecord(store, i));
  if (parts.empty()) return setResult(interp, fmt("record %d has no points", i));
  int type = store->header.shapeType;
  Tcl_DString result;
  Tcl_DStringInit(&result);
  if (argc == 3) {
    for (const MeasurePart &part : parts) {
      double cx = 0, cy = 0;
      double measure = partCentroid(type, part, &cx, &cy);
      Tcl_DStringAppendElement(&result, formatTriple(cx, cy, measure));
    }
  } else {
    double w = 0, sx = 0, sy = 0, mx = 0, my = 0;
    for (const MeasurePart &part : parts) {
      double cx = 0, cy = 0;
      double measure = partCentroid(type, part, &cx, &cy);
      w += measure;
      sx += measure * cx;
      sy += measure * cy;
      mx += cx;
      my += cy;
    }
    /* Measures that cancel out weigh nothing: the parts count alike. */
    double x = w != 0 ? sx / w : mx / static_cast<double>(parts.size());
    double y = w != 0 ? sy / w : my / static_cast<double>(parts.size());
    Tcl_DStringAppendElement(&result, formatTriple(x, y, w));
  }
  Tcl_DStringResult(interp, &result);
  return TCL_OK;
}

/* ---- directions ---- */

/* Index words of vangle and langle must be integers. */
bool readStrictIndex(ShapeFile *store, const char *word, int *index) {
  return Tcl_GetInt(nullptr, word, index) == TCL_OK && *index >= 0 && *index < store->count;
}

int measureVangle(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4) return setResult(interp, usage(argv, argv[1], "index [pos]"));
  int i;
  if (!readStrictIndex(store, argv[2], &i)) return setResult(interp, "invalid index");
  int n = 0;
  const ShapeDouble *points = getRecordPoints(getShapeRecord(store, i), &n);
  if (!points || n <= 0) return setResult(interp, fmt("record %d has no points", i));
  double x0 = points[0], y0 = points[1];
  if (n == 1) return setResult(interp, fmt("%.12g %.12g 0", x0, y0), TCL_OK);
  int pos = argc == 4 ? readIndexWord(argv[3]) : 0;
  if (pos < 0) pos = 0;
  if (pos > n - 2) pos = n - 2;
  x0 = points[2 * pos];
  y0 = points[2 * pos + 1];
  double x1 = points[2 * pos + 2], y1 = points[2 * pos + 3];
  return setResult(interp,
                   formatTriple((x0 + x1) * 0.5, (y0 + y1) * 0.5, segmentAngle(x0, y0, x1, y1)),
                   TCL_OK);
}

/*
 * measureLangle --
 *     "langle index ?pIndex?": the point at a fraction of the way along a
 *     part and the direction of the segment it lies on.  The whole part of
 *     pIndex picks the part (modulo the part count), its fraction the
 *     distance.  A part of one point gives that point and direction 0.
 */
int measureLangle(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4) return setResult(interp, usage(argv, argv[1], "index [pIndex]"));
  int i;
  if (!readStrictIndex(store, argv[2], &i)) return setResult(interp, "invalid index");
  double t = argc == 4 ? strtod(argv[3], nullptr) : 0.5;
  if (!isfinite(t) || t < 0) return setResult(interp, std::string("invalid pIndex ") + argv[3]);
  ShapeRecord *record = getShapeRecord(store, i);
  int n = 0;
  const ShapeDouble *points = getRecordPoints(record, &n);
  if (!points || n <= 0) return setResult(interp, fmt("record %d has no points", i));
  if (n == 1) {
    double x = points[0], y = points[1];
    return setResult(interp, fmt("%.12g %.12g 0", x, y), TCL_OK);
  }
  std::vector<MeasurePart> parts = measureParts(record);
  double whole = floor(t);
  int k = static_cast<int>(fmod(whole, static_cast<double>(parts.size())));
  double f = t - whole;
  const MeasurePart &part = parts[static_cast<size_t>(k)];
  if (part.n <= 0) return setResult(interp, fmt("part %d of record %d has no points", k, i));
  double x0 = part.points[0], y0 = part.points[1];
  if (part.n == 1) return setResult(interp, fmt("%.12g %.12g 0", x0, y0), TCL_OK);
  double d = shapePolylineLength(part.points, part.n) * f;
  double x1 = x0, y1 = y0, s = 0;
  for (int j = 1; j < part.n; j++) {
    x0 = part.points[2 * j - 2];
    y0 = part.points[2 * j - 1];
    x1 = part.points[2 * j];
    y1 = part.points[2 * j + 1];
    s = hypot(x1 - x0, y1 - y0);
    if (s >= d || j == part.n - 1) break;
    d -= s;
  }
  /* A segment of no length puts the point at its start. */
  double m = s > 0 ? d / s : 0;
  return setResult(interp,
                   formatTriple((1 - m) * x0 + m * x1, (1 - m) * y0 + m * y1,
                                segmentAngle(x0, y0, x1, y1)),
                   TCL_OK);
}

/* ---- projection definitions ---- */

struct ProjectionFree {
  void operator()(ProjHandle *pj) const { freeProjection(pj); }
};
typedef std::unique_ptr<ProjHandle, ProjectionFree> ProjectionPtr;

/* The words of a definition; false when the text is not a Tcl list. */
bool splitDefinition(const char *text, std::vector<std::string> &words) {
  int count;
  const char **items;
  if (Tcl_SplitList(nullptr, text, &count, &items) != TCL_OK) return false;
  words.assign(items, items + count);
  Tcl_Free(reinterpret_cast<char *>(items));
  return true;
}

/* A definition is reversed (latitude first) by a flag word such as "-r". */
bool definitionReversed(const std::vector<std::string> &words) {
  for (const std::string &word : words)
    if (!word.empty() && word[0] == '-' && word.find('r') != std::string::npos) return true;
  return false;
}

/*
 * makeDefinition --
 *     A projection from a definition's words.  Flag words (those starting
 *     with '-') only say how coordinates are ordered and are not handed
 *     to the projection library.
 */
ProjectionPtr makeDefinition(Tcl_Interp *interp, const std::vector<std::string> &words) {
  std::vector<const char *> argv;
  for (const std::string &word : words)
    if (word.empty() || word[0] != '-') argv.push_back(word.c_str());
  return ProjectionPtr(initProjection(interp, static_cast<int>(argv.size()), argv.data()));
}

std::string tooLong(size_t length) {
  return fmt("projection definition too long: %zu characters, at most %zu", length,
             kShapeTextLimit - 1);
}

/*
 * projectionDefinition --
 *     "projdef ?proj_definition?": the stored definition, or a new one
 *     tried and stored.  The coordinates are not touched.
 */
int projectionDefinition(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc == 2) return setResult(interp, store->projection, TCL_OK);
  if (argc != 3) return setResult(interp, usage(argv, argv[1], "proj_definition"));
  const char *text = argv[2];
  size_t length = strlen(text);
  if (length >= kShapeTextLimit) return setResult(interp, tooLong(length));
  if (strcmp(text, "longlat") != 0 && strcmp(text, "latlong") != 0) {
    if (requireLibrary(interp, kLazyProj) != TCL_OK) return TCL_ERROR;
    std::vector<std::string> words;
    if (!splitDefinition(text, words))
      return setResult(interp, "Error in parsing projection definition");
    if (!makeDefinition(interp, words)) return setResult(interp, "Invalid projectin definition");
  }
  setShapeProjection(store, text);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/*
 * reproject --
 *     "projection proj_definition": every vertex of every record (deleted
 *     ones too) converted from the stored definition to the new one, which
 *     is then stored; "inverse" converts to geographic degrees in
 *     longitude/latitude order.  All vertices are converted before any is
 *     stored: a vertex the projections cannot convert fails the command
 *     and leaves the store as it was.
 * Side effects: records' boxes and the header's ranges are recomputed;
 *     changed is set so that the watchers are told.
 */
int reproject(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv, bool &changed) {
  if (argc != 3) return setResult(interp, usage(argv, argv[1], "proj_definition"));
  const char *text = argv[2];
  Tcl_ResetResult(interp);
  if (store->projection == text) return TCL_OK;
  size_t length = strlen(text);
  if (length >= kShapeTextLimit) return setResult(interp, tooLong(length));
  if (requireLibrary(interp, kLazyProj) != TCL_OK) return TCL_ERROR;

  bool toGeographic = strcmp(text, "inverse") == 0;
  bool targetReversed = false;
  ProjectionPtr target;
  if (!toGeographic) {
    std::vector<std::string> words;
    if (!splitDefinition(text, words))
      return setResult(interp, "Error in parsing projection definition");
    target = makeDefinition(interp, words);
    if (!target) return setResult(interp, "Invalid projection definition");
    targetReversed = definitionReversed(words);
  }

  const std::string &stored = store->projection;
  bool fromGeographic = stored == "longlat" || stored == "latlong";
  bool sourceReversed = stored == "latlong";
  ProjectionPtr source;
  if (fromGeographic) {
    if (toGeographic) return TCL_OK;
  } else {
    std::vector<std::string> words;
    if (!splitDefinition(stored.c_str(), words) || !(source = makeDefinition(interp, words)))
      return setResult(interp, "The current projection is unknown");
    if (!hasProjectionInverse(source.get()))
      return setResult(interp, "The current projection is not invertible");
    sourceReversed = definitionReversed(words);
  }
  bool sameOrder = sourceReversed == targetReversed;

  std::vector<double> converted;
  for (int i = 0; i < store->count; i++) {
    int n = 0;
    const ShapeDouble *points = getRecordPoints(getShapeRecord(store, i), &n);
    if (!points) continue;
    for (int j = 0; j < n; j++) {
      double x = points[2 * j], y = points[2 * j + 1];
      double outX, outY;
      if (!fromGeographic) {
        double lam, phi;
        projectInverse(source.get(), x, y, &lam, &phi);
        if (toGeographic) {
          outX = lam * kRadToDeg;
          outY = phi * kRadToDeg;
        } else if (lam == HUGE_VAL || phi == HUGE_VAL) {
          outX = outY = HUGE_VAL;
        } else if (sameOrder) {
          projectForward(target.get(), lam, phi, &outX, &outY);
        } else {
          projectForward(target.get(), phi, lam, &outX, &outY);
        }
      } else if (sameOrder) {
        projectForward(target.get(), x * kDegToRad, y * kDegToRad, &outX, &outY);
      } else {
        projectForward(target.get(), y * kDegToRad, x * kDegToRad, &outX, &outY);
      }
      if (!isfinite(outX) || !isfinite(outY)) {
        std::string message = fmt("vertex %d of record %d cannot be converted", j, i);
        const char *why = getProjError(interp);
        if (*why) message += std::string(": ") + why;
        return setResult(interp, message);
      }
      converted.push_back(outX);
      converted.push_back(outY);
    }
  }

  size_t at = 0;
  for (int i = 0; i < store->count; i++) {
    ShapeRecord *record = getShapeRecord(store, i);
    int n = 0;
    if (!getRecordPoints(record, &n) || n <= 0) continue;
    setRecordPoints(record, converted.data() + at, 0, n);
    at += 2 * static_cast<size_t>(n);
  }
  setShapeProjection(store, toGeographic ? "longlat" : text);
  recomputeShapeRanges(store, 1);
  store->dirty = 1;
  changed = true;
  return TCL_OK;
}

}  // namespace

/* ---- geometry ---- */

/* Twice the signed area summed over the ring's edges, halved. */
double ringArea(const ShapeDouble *points, int n) {
  if (n <= 0) return 0;
  double sum = 0;
  double px = points[2 * n - 2], py = points[2 * n - 1];
  for (int i = 0; i < n; i++) {
    double x = points[2 * i], y = points[2 * i + 1];
    sum += py * x - px * y;
    px = x;
    py = y;
  }
  return 0.5 * sum;
}

double shapePolylineLength(const ShapeDouble *points, int n) {
  double length = 0;
  for (int i = 1; i < n; i++) {
    double x0 = points[2 * i - 2], y0 = points[2 * i - 1];
    double x1 = points[2 * i], y1 = points[2 * i + 1];
    length += hypot(x1 - x0, y1 - y0);
  }
  return length;
}

/*
 * shapePolygonCentroid --
 *     The area centroid of a ring.
 * Results:      the signed area; cx, cy divide by it (not finite for a
 *               ring without area).
 */
double shapePolygonCentroid(const ShapeDouble *points, int n, double *cx, double *cy) {
  double sum = 0, sx = 0, sy = 0;
  if (n > 0) {
    double px = points[2 * n - 2], py = points[2 * n - 1];
    for (int i = 0; i < n; i++) {
      double x = points[2 * i], y = points[2 * i + 1];
      double c = py * x - px * y;
      sum += c;
      sx += c * (x + px);
      sy += c * (y + py);
      px = x;
      py = y;
    }
  }
  double a = 0.5 * sum;
  *cx = sx * kSixth / a;
  *cy = sy * kSixth / a;
  return a;
}

/*
 * lineCentroid --
 *     The length-weighted centroid of a line's segments.
 * Results:      the length; a line of no length gives its last point.
 */
double lineCentroid(const ShapeDouble *points, int n, double *cx, double *cy) {
  double length = 0, sx = 0, sy = 0;
  for (int i = 1; i < n; i++) {
    double x0 = points[2 * i - 2], y0 = points[2 * i - 1];
    double x1 = points[2 * i], y1 = points[2 * i + 1];
    double s = hypot(x1 - x0, y1 - y0);
    length += s;
    sx += s * (x0 + x1);
    sy += s * (y0 + y1);
  }
  if (length > 0) {
    *cx = sx / length * 0.5;
    *cy = sy / length * 0.5;
  } else if (n > 0) {
    *cx = points[2 * n - 2];
    *cy = points[2 * n - 1];
  } else {
    *cx = *cy = 0;
  }
  return length;
}

double shapePointsCentroid(const ShapeDouble *points, int n, double *cx, double *cy) {
  double sx = 0, sy = 0;
  for (int i = 0; i < n; i++) {
    double x = points[2 * i], y = points[2 * i + 1];
    sx += x;
    sy += y;
  }
  *cx = n > 0 ? sx / n : 0;
  *cy = n > 0 ? sy / n : 0;
  return n;
}

/*
 * segmentAngle --
 *     Direction of the segment from (x0, y0) to (x1, y1) in degrees,
 *     counter-clockwise from +x, in -180 .. just under 180; 0 for a
 *     segment of no length.
 */
double segmentAngle(double x0, double y0, double x1, double y1) {
  double dx = x1 - x0, dy = y1 - y0;
  if (dx == 0 && dy == 0) return 0;
  double h = hypot(dx, dy);
  double c = dx / h;
  if (c > 1) c = 1;
  if (c < -1) c = -1;
  if (dy > 0) return acos(c) * kInversePi * 180;
  return acos(-c) * kInversePi * 180 - 180;
}

/*
 * shapeMeasureCommand --
 *     One of the measuring and projection subcommands on a store
 *     (argv[1] is the subcommand word as given).
 * Results:      TCL_OK or TCL_ERROR with the result set; changed is set
 *     when the coordinates were converted.
 */
int shapeMeasureCommand(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv,
                        ShapeMeasureId id, bool &changed) {
  switch (id) {
  case MEASURE_AREA: return measureSum(store, interp, argc, argv, true);
  case MEASURE_LENGTH: return measureSum(store, interp, argc, argv, false);
  case MEASURE_CENTROID: return measureCentroid(store, interp, argc, argv);
  case MEASURE_VANGLE: return measureVangle(store, interp, argc, argv);
  case MEASURE_LANGLE: return measureLangle(store, interp, argc, argv);
  case MEASURE_PROJDEF: return projectionDefinition(store, interp, argc, argv);
  case MEASURE_PROJECTION: return reproject(store, interp, argc, argv, changed);
  }
  return setResult(interp, "Unknown command");
}

}  // namespace vesk
