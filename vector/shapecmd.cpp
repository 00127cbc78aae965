/*
 * shapecmd.cpp --
 *     The subcommands of a shape object that work on its store: listing
 *     records, boxes, parts, Z and M values; selecting, deleting, erasing
 *     and purging; adding, inserting and replacing records with the checks
 *     each shape type asks for; overwriting values in place; and the
 *     "shape.info" command, which reads a header without loading the file.
 */
#include "vector/shapecmd.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <cmath>
#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/core.h"
#include "vector/shapemeasure.h"

namespace vesk {

const ShapeTypeName shapeTypeNames[] = {
    {0, "NULL"},         {1, "POINT"},       {3, "POLYLINE"},    {5, "POLYGON"},
    {8, "MULTIPOINT"},   {11, "POINTZ"},     {13, "POLYLINEZ"},  {15, "POLYGONZ"},
    {18, "MULTIPOINTZ"}, {21, "POINTM"},     {23, "POLYLINEM"},  {25, "POLYGONM"},
    {28, "MULTIPOINTM"}, {31, "MULTIPATCH"}, {-1, nullptr},
};

namespace {

/* The store's own subcommands; "exact" ones take only the full word. */
enum ShapeSubId {
  SUB_ADDRECORD, SUB_AREA, SUB_ASELECT, SUB_BBOX, SUB_CENTROID, SUB_COUNTDELETIONS,
  SUB_COUNTSELECTIONS, SUB_DELETESHAPE, SUB_ERASERECORD, SUB_ID, SUB_INFO, SUB_INITIALIZE,
  SUB_INSERTRECORD, SUB_ISSELECTED, SUB_LANGLE, SUB_LENGTH, SUB_MATCH, SUB_MVALUES, SUB_PARTS,
  SUB_PATCHTYPES, SUB_PROJDEF, SUB_PROJECTION, SUB_PURGE, SUB_SELECT, SUB_SELECTONLY,
  SUB_SETMVALUES, SUB_SETPATCHTYPES, SUB_SETRANGE, SUB_SETRECORD, SUB_SETVERTICES,
  SUB_SETZVALUES, SUB_TYPE, SUB_UNDELETESHAPE, SUB_UNSELECT, SUB_UNSELECTONLY, SUB_VANGLE,
  SUB_VERTEX, SUB_VPARTS, SUB_ZVALUES, SUB_NONE
};

struct ShapeSubcommand {
  const char *name;
  int minLength;
  bool exact;
  ShapeSubId id;
};

const ShapeSubcommand shapeSubcommands[] = {
    {"addrecord", 3, false, SUB_ADDRECORD},
    {"area", 3, false, SUB_AREA},
    {"aselect", 3, false, SUB_ASELECT},
    {"bbox", 3, false, SUB_BBOX},
    {"centroid", 6, false, SUB_CENTROID},
    {"countdeletions", 6, false, SUB_COUNTDELETIONS},
    {"countselections", 6, false, SUB_COUNTSELECTIONS},
    {"deleteshape", 4, false, SUB_DELETESHAPE},
    {"eraserecord", 4, false, SUB_ERASERECORD},
    {"id", 2, true, SUB_ID},
    {"info", 4, true, SUB_INFO},
    {"initialize", 2, false, SUB_INITIALIZE},
    {"insertrecord", 3, false, SUB_INSERTRECORD},
    {"isselected", 2, false, SUB_ISSELECTED},
    {"langle", 4, false, SUB_LANGLE},
    {"length", 4, false, SUB_LENGTH},
    {"match", 4, false, SUB_MATCH},
    {"mvalues", 4, false, SUB_MVALUES},
    {"parts", 4, false, SUB_PARTS},
    {"patchtypes", 4, false, SUB_PATCHTYPES},
    {"projdef", 4, false, SUB_PROJDEF},
    {"projection", 5, false, SUB_PROJECTION},
    {"purge", 5, true, SUB_PURGE},
    {"select", 5, false, SUB_SELECT},
    {"selectonly", 7, false, SUB_SELECTONLY},
    {"setmvalues", 5, false, SUB_SETMVALUES},
    {"setpatchtypes", 5, false, SUB_SETPATCHTYPES},
    {"setrange", 5, false, SUB_SETRANGE},
    {"setrecord", 5, false, SUB_SETRECORD},
    {"setvertices", 5, false, SUB_SETVERTICES},
    {"setzvalues", 5, false, SUB_SETZVALUES},
    {"type", 4, false, SUB_TYPE},
    {"undeleteshape", 5, false, SUB_UNDELETESHAPE},
    {"unselect", 8, true, SUB_UNSELECT},
    {"unselectonly", 12, true, SUB_UNSELECTONLY},
    {"vangle", 4, false, SUB_VANGLE},
    {"vertex", 4, false, SUB_VERTEX},
    {"vparts", 4, false, SUB_VPARTS},
    {"zvalues", 4, false, SUB_ZVALUES},
};

ShapeSubId findShapeSubcommand(const char *word) {
  size_t length = strlen(word);
  for (const ShapeSubcommand &sub : shapeSubcommands) {
    if (sub.exact ? strcmp(word, sub.name) == 0
                  : length >= static_cast<size_t>(sub.minLength) &&
                        strncmp(word, sub.name, length) == 0)
      return sub.id;
  }
  return SUB_NONE;
}

/* A record index as decimal text: a word without a leading number reads as 0. */
int readIndexWord(const char *word) {
  errno = 0;
  long value = strtol(word, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

double readNumberWord(const char *word) { return strtod(word, nullptr); }

/* The result under construction: a Tcl list built element by element. */
struct ShapeResult {
  Tcl_DString text;
  ShapeResult() { Tcl_DStringInit(&text); }
  ~ShapeResult() { Tcl_DStringFree(&text); }
  void element(const char *value) { Tcl_DStringAppendElement(&text, value); }
  void raw(const char *value) { Tcl_DStringAppend(&text, value, -1); }
  void separate() {
    if (Tcl_DStringLength(&text) > 0) raw(" ");
  }
  int finish(Tcl_Interp *interp, int code) {
    Tcl_DStringResult(interp, &text);
    return code;
  }
};

int setResult(Tcl_Interp *interp, const std::string &message, int code = TCL_ERROR) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
  return code;
}

std::string usage(const char *const *argv, const char *syntax) {
  return std::string("Usage: ") + argv[0] + " " + argv[1] + " " + syntax;
}

/* Record doubles are 4-byte aligned: copy them out by value. */
void appendNumberList(ShapeResult &result, const ShapeDouble *values, int n) {
  if (!values || n <= 0) return;
  char buffer[64];
  if (n == 1) {
    double value = values[0];
    snprintf(buffer, sizeof buffer, "%.12g", value);
    result.element(buffer);
    return;
  }
  result.separate();
  for (int i = 0; i < n; i++) {
    double value = values[i];
    snprintf(buffer, sizeof buffer, i == 0 ? "{%.12g" : " %.12g", value);
    result.raw(buffer);
  }
  result.raw("}");
}

void appendIntList(ShapeResult &result, const int32_t *values, int n) {
  if (!values || n <= 0) return;
  char buffer[32];
  if (n == 1) {
    snprintf(buffer, sizeof buffer, "%d", values[0]);
    result.element(buffer);
    return;
  }
  result.separate();
  for (int i = 0; i < n; i++) {
    snprintf(buffer, sizeof buffer, i == 0 ? "{%d" : " %d", values[i]);
    result.raw(buffer);
  }
  result.raw("}");
}

/* Coordinates as one braced element, with the part lengths nested when p > 1. */
void appendVertexPartList(ShapeResult &result, const ShapeDouble *coordinates, int count,
                          const int32_t *lengths, int p) {
  if (!coordinates || count <= 0) return;
  result.separate();
  char buffer[64];
  for (int i = 0; i < count; i++) {
    double value = coordinates[i];
    snprintf(buffer, sizeof buffer, i == 0 ? "{%.12g" : " %.12g", value);
    result.raw(buffer);
  }
  if (lengths && p > 1) {
    result.raw(" {");
    for (int k = 0; k < p; k++) {
      snprintf(buffer, sizeof buffer, k + 1 < p ? "%d " : "%d}", lengths[k]);
      result.raw(buffer);
    }
  }
  result.raw("}");
}

/*
 * forEachListed --
 *     Calls fn for every record named by the words from argv[first] on, or
 *     for every record when the first word is "all" (and allowAll).  An
 *     index outside the store ends the walk with "invalid index" appended.
 * Results:      TCL_OK, or TCL_ERROR after an invalid index.
 */
template <class Fn>
int forEachListed(ShapeFile *store, Tcl_Interp *interp, ShapeResult &result, int argc,
                  const char **argv, int first, bool allowAll, bool strictInts, Fn &&fn) {
  if (allowAll && first < argc && strcmp(argv[first], "all") == 0) {
    for (int i = 0; i < store->count; i++) fn(i);
    return TCL_OK;
  }
  for (int w = first; w < argc; w++) {
    int i;
    if (strictInts) {
      if (Tcl_GetInt(nullptr, argv[w], &i) != TCL_OK) i = -1;
    } else {
      i = readIndexWord(argv[w]);
    }
    if (i < 0 || i >= store->count) {
      result.separate();
      result.raw("invalid index");
      return TCL_ERROR;
    }
    fn(i);
  }
  return TCL_OK;
}

/* Every record when no index is given, else the listed ones. */
template <class Fn>
int forEachOrAll(ShapeFile *store, Tcl_Interp *interp, ShapeResult &result, int argc,
                 const char **argv, Fn &&fn) {
  if (argc <= 2) {
    for (int i = 0; i < store->count; i++) fn(i);
    return TCL_OK;
  }
  return forEachListed(store, interp, result, argc, argv, 2, false, false, fn);
}

/* ---- listing ---- */

int listInfo(ShapeFile *store, ShapeResult &result) {
  const ShapeFileHeader &h = store->header;
  const char *name = shapeTypeName(h.shapeType);
  result.element(fmt("shapeID %d", h.fileCode));
  result.element(fmt("version %d", h.version));
  result.element(fmt("typeID %d", h.shapeType));
  result.element(fmt("type %s", name ? name : ""));
  result.element(fmt("length %d", h.fileLength));
  result.element(fmt("xyrange {%.12g %.12g %.12g %.12g}", h.xmin, h.ymin, h.xmax, h.ymax));
  result.element(fmt("zrange {%.12g %.12g}", h.zmin, h.zmax));
  result.element(fmt("mrange {%.12g %.12g}", h.mmin, h.mmax));
  return TCL_OK;
}

/* "count" forms of vertex and parts: the summed counts as one number. */
int listCountTotal(ShapeFile *store, Tcl_Interp *interp, ShapeResult &result, int argc,
                   const char **argv, bool points, bool strictInts) {
  long long total = 0;
  auto add = [&](int i) {
    int n;
    if (points) getRecordPoints(getShapeRecord(store, i), &n);
    else getRecordParts(getShapeRecord(store, i), &n);
    total += n;
  };
  int code = TCL_OK;
  if (argc == 3) {
    for (int i = 0; i < store->count; i++) add(i);
  } else {
    ShapeResult ignored;
    code = forEachListed(store, interp, ignored, argc, argv, 3, false, strictInts, add);
    if (code != TCL_OK) return setResult(interp, "invalid index");
  }
  result.raw(fmt("%lld", total));
  return result.finish(interp, code);
}

int listValues(ShapeFile *store, Tcl_Interp *interp, ShapeResult &result, int argc,
               const char **argv, bool z) {
  if (argc < 3) return setResult(interp, usage(argv, "?index? | all"));
  int type = store->header.shapeType;
  if (z ? !shapeTypeHasZ(type) : !shapeTypeHasM(type))
    return setResult(interp,
                     std::string(argv[0]) + (z ? " has no z values" : " has no measurement values"));
  int missing = -1;
  int code = forEachListed(store, interp, result, argc, argv, 2, true, false, [&](int i) {
    if (missing >= 0) return;
    ShapeRecord *record = getShapeRecord(store, i);
    int n;
    getRecordPoints(record, &n);
    ShapeDouble *values = z ? getRecordZ(record, nullptr, nullptr) : getRecordM(record, nullptr, nullptr);
    if (!values) missing = i;
    else appendNumberList(result, values, n);
  });
  if (missing >= 0)
    return setResult(interp, fmt(z ? "record %d has no z values" : "record %d has no measurement values",
                                 missing));
  return result.finish(interp, code);
}

/* ---- record editing ---- */

/* The lists of addrecord, insertrecord and setrecord, parsed. */
struct ShapeRecordLists {
  std::vector<double> points;  /* x y pairs */
  std::vector<int32_t> parts, types;
  std::vector<double> m, z;
  bool hasParts = false, hasM = false, hasZ = false, hasTypes = false;
  int n = 0, p = 0;
};

bool splitWords(const char *list, std::vector<std::string> &words) {
  int count;
  const char **items;
  if (Tcl_SplitList(nullptr, list, &count, &items) != TCL_OK) return false;
  words.assign(items, items + count);
  Tcl_Free(reinterpret_cast<char *>(items));
  return true;
}

const char *parseRecordLists(const char **lists, int count, ShapeRecordLists &out) {
  std::vector<std::string> words;
  if (!splitWords(lists[0], words) || words.size() % 2 != 0) return "Error in parsing verticeList";
  for (const std::string &word : words) out.points.push_back(readNumberWord(word.c_str()));
  out.n = static_cast<int>(words.size() / 2);
  if (count > 1) {
    out.hasParts = true;
    if (!splitWords(lists[1], words)) return "Error in parsing partList";
    long long total = 0;
    for (const std::string &word : words) {
      int length = readIndexWord(word.c_str());
      total += length;
      if (length < 0 || total > out.n) return "Invalid part sepcification";
      out.parts.push_back(length);
    }
    out.p = static_cast<int>(out.parts.size());
  }
  if (count > 2) {
    out.hasM = true;
    if (!splitWords(lists[2], words)) return "Error in parsing mvalueList";
    for (const std::string &word : words) out.m.push_back(readNumberWord(word.c_str()));
    if (static_cast<int>(out.m.size()) != out.n) return "Unequal numbers of veritces and m values";
  }
  if (count > 3) {
    out.hasZ = true;
    if (!splitWords(lists[3], words)) return "Error in parsing zvalueList";
    for (const std::string &word : words) out.z.push_back(readNumberWord(word.c_str()));
    if (static_cast<int>(out.z.size()) != out.n) return "Unequal numbers of veritces and z values";
  }
  if (count > 4) {
    out.hasTypes = true;
    if (!splitWords(lists[4], words)) return "Error in parsing typeList";
    for (const std::string &word : words) out.types.push_back(readIndexWord(word.c_str()));
    if (static_cast<int>(out.types.size()) != out.p) return "Unequal numbers of types and parts";
  }
  return nullptr;
}

/* What each store type allows of the lists; the first failing check wins. */
std::string checkRecordLists(int type, const ShapeRecordLists &l) {
  const char *name = shapeTypeName(type);
  std::string of = std::string(" for ") + (name ? name : "");
  bool onePoint = l.n == 1 && l.p <= 1;
  bool multipointParts = !l.hasParts || l.p == 0 || (l.p == 1 && l.parts[0] == 0);
  switch (type) {
  case SHP_POINT:
    if (!onePoint) return "More than one points" + of;
    if (l.hasM || l.hasZ || l.hasTypes)
      return "z value list or m value list or typeList is not allowed" + of;
    return "";
  case SHP_POLYLINE:
  case SHP_POLYGON:
    if (l.hasM || l.hasZ || l.hasTypes)
      return "z value list or m value list or type list is not allowed" + of;
    return "";
  case SHP_MULTIPOINT:
    if (!multipointParts) return "Invalid part specification" + of;
    if (l.hasM || l.hasZ || l.hasTypes)
      return "z value list or m value list or type list is not allowed" + of;
    return "";
  case SHP_POINTZ:
  case SHP_POLYLINEZ:
  case SHP_POLYGONZ:
    if (type == SHP_POINTZ && !onePoint) return "More than one points" + of;
    if (!l.hasM) return "missing m value list" + of;
    if (!l.hasZ) return "missing z value list" + of;
    if (l.hasTypes) return "type list is not allowed" + of;
    return "";
  case SHP_MULTIPOINTZ:
    if (!multipointParts) return "Invalid part specification" + of;
    if (!l.hasZ) return "missing z value list" + of;
    if (!l.hasM) return "missing m value list" + of;
    if (l.hasTypes) return "type list is not allowed" + of;
    return "";
  case SHP_POINTM:
  case SHP_POLYLINEM:
  case SHP_POLYGONM:
  case SHP_MULTIPOINTM:
    if (type == SHP_POINTM && !onePoint) return "More than one points" + of;
    if (type == SHP_MULTIPOINTM && !multipointParts) return "Invalid part specification" + of;
    if (!l.hasM) return "missing m value list" + of;
    if (l.hasZ || l.hasTypes) return "z value list or type list is not allowed" + of;
    return "";
  case SHP_MULTIPATCH:
    if (!l.hasM) return "missing m value list" + of;
    if (!l.hasZ) return "missing z value list" + of;
    if (!l.hasTypes) return "missing type list" + of;
    return "";
  default:
    return "";
  }
}

/* Lines need parts of two points or more; polygons closed rings of four or more. */
bool validateShapeGeometry(int type, const ShapeRecordLists &l) {
  bool lines = type == SHP_POLYLINE || type == SHP_POLYLINEZ || type == SHP_POLYLINEM;
  bool polygons = shapeTypeIsPolygon(type);
  if (!lines && !polygons) return true;
  int minimum = lines ? 2 : 4;
  auto closed = [&](int first, int last) {
    return l.points[2 * first] == l.points[2 * last] &&
           l.points[2 * first + 1] == l.points[2 * last + 1];
  };
  if (!l.hasParts) return lines ? l.n > 1 : l.n >= 4 && closed(0, l.n - 1);
  if (l.p == 0) return false;
  long long total = 0;
  for (int32_t length : l.parts) {
    if (length < minimum) return false;
    if (polygons && !closed(static_cast<int>(total), static_cast<int>(total) + length - 1))
      return false;
    total += length;
  }
  return total == l.n;
}

/* NaN and infinite coordinates would poison every length, area and bound. */
const char *const kNonFiniteCoordinate = "Coordinates must be finite numbers";

bool allFinite(const std::vector<double> &values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

int editRecord(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv, ShapeSubId id,
               ShapeCommandState &state) {
  bool add = id == SUB_ADDRECORD;
  int first = add ? 2 : 3;
  if (argc < first + 1 || argc > first + 5)
    return setResult(interp,
                     usage(argv, add ? "verticeList partList mvalueList zvalueList typeList"
                                     : "index verticeList partList mvalueList zvalueList typeList"));
  int index = add ? 0 : readIndexWord(argv[2]);
  if (id == SUB_INSERTRECORD) index = std::min(std::max(index, 0), store->count);
  if (id == SUB_SETRECORD && (index < 0 || index >= store->count))
    return setResult(interp, "invalid index");
  ShapeRecordLists lists;
  if (const char *message = parseRecordLists(argv + first, argc - first, lists))
    return setResult(interp, message);
  int type = store->header.shapeType;
  std::string refused = checkRecordLists(type, lists);
  if (!refused.empty()) return setResult(interp, refused);
  if (!allFinite(lists.points) || !allFinite(lists.z))
    return setResult(interp, kNonFiniteCoordinate);
  if (!validateShapeGeometry(type, lists)) return setResult(interp, "Error in parsing verticeList");

  const int32_t *parts = lists.hasParts && lists.p > 0 ? lists.parts.data() : nullptr;
  const double *m = lists.hasM ? lists.m.data() : nullptr;
  const double *z = lists.hasZ ? lists.z.data() : nullptr;
  const int32_t *types = lists.hasTypes && lists.p > 0 ? lists.types.data() : nullptr;
  ShapeRecord *record;
  if (id == SUB_ADDRECORD)
    record = addShapeRecord(store, 0, lists.points.data(), lists.n, parts, lists.p, z, m, types);
  else if (id == SUB_INSERTRECORD)
    record = insertShapeRecord(store, index, 0, lists.points.data(), lists.n, parts, lists.p, z, m,
                               types);
  else
    record = replaceShapeRecord(store, index, 0, lists.points.data(), lists.n, parts, lists.p, z,
                                m, types);
  if (!record) return setResult(interp, std::string("Error in ") + argv[0] + " " + argv[1]);
  state.changed = true;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* setvertices, setmvalues, setzvalues, setpatchtypes: values overwritten in place. */
int editValues(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv, ShapeSubId id,
               ShapeCommandState &state) {
  const char *syntax = id == SUB_SETVERTICES   ? " setvertex index vertexList [offset]"
                       : id == SUB_SETMVALUES  ? " setmvalue index mvalueList [offset]"
                       : id == SUB_SETZVALUES  ? " setzvalues index zvalueList [offset]"
                                               : " setpatchtypes index patchTypeList [offset]";
  if (argc != 4 && argc != 5) return setResult(interp, std::string("Usage: ") + argv[0] + syntax);
  int type = store->header.shapeType;
  if (id == SUB_SETMVALUES && !shapeTypeHasM(type))
    return setResult(interp, std::string(argv[0]) + " has no measurement values");
  if (id == SUB_SETZVALUES && !shapeTypeHasZ(type))
    return setResult(interp, std::string(argv[0]) + " has no z values");
  if (id == SUB_SETPATCHTYPES && type != SHP_MULTIPATCH)
    return setResult(interp, std::string(argv[0]) + " has no patch values");
  int index = readIndexWord(argv[2]);
  if (index < 0 || index >= store->count) return setResult(interp, "invalid index");
  ShapeRecord *record = getShapeRecord(store, index);
  int limit;
  if (id == SUB_SETPATCHTYPES) getRecordParts(record, &limit);
  else getRecordPoints(record, &limit);
  int offset = argc == 5 ? readIndexWord(argv[4]) : 0;
  if (offset < 0 || offset >= limit) return setResult(interp, "Invalid offset");
  std::vector<std::string> words;
  if (!splitWords(argv[3], words))
    return setResult(interp, id == SUB_SETVERTICES  ? "Error in parsing vertexList"
                             : id == SUB_SETMVALUES ? "Error in parsing mvalueList"
                                                    : "Error in parsing zvalueList");
  long long count = static_cast<long long>(words.size());
  if (id == SUB_SETPATCHTYPES) {
    if (count + offset > limit) return setResult(interp, "Invalid number of patch types");
    std::vector<int32_t> values;
    for (const std::string &word : words) values.push_back(readIndexWord(word.c_str()));
    setRecordPartTypes(record, values.data(), offset, static_cast<int>(count));
  } else {
    std::vector<double> values;
    for (const std::string &word : words) values.push_back(readNumberWord(word.c_str()));
    if (id != SUB_SETMVALUES && !allFinite(values)) return setResult(interp, kNonFiniteCoordinate);
    if (id == SUB_SETVERTICES) {
      if (count % 2 != 0 || count / 2 + offset > limit)
        return setResult(interp, "Invalid number of vertices");
      setRecordPoints(record, values.data(), offset, static_cast<int>(count / 2));
    } else if (id == SUB_SETMVALUES) {
      if (count + offset > limit) return setResult(interp, "Invalid number of measurements");
      setRecordM(record, values.data(), offset, static_cast<int>(count));
    } else {
      if (count + offset > limit) return setResult(interp, "Invalid number of zvalues");
      setRecordZ(record, values.data(), offset, static_cast<int>(count));
    }
  }
  store->dirty = 1;
  state.changed = true;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int initializeStore(ShapeFile *&store, Tcl_Interp *interp, int argc, const char **argv,
                    ShapeCommandState &state) {
  if (argc != 3) return setResult(interp, std::string("Usage: ") + argv[0] + " initialize shapeID");
  int type = shapeTypeFromName(argv[2]);
  if (type < 0) {
    std::string message = "Invalid shapeID. Should be";
    for (const ShapeTypeName *row = shapeTypeNames; row->name; row++) message += std::string(" ") + row->name;
    return setResult(interp, message);
  }
  ShapeFile *fresh = newShapeFile(type, nullptr, nullptr, 0);
  if (!fresh) return setResult(interp, std::string("Error in ") + argv[0] + " " + argv[1]);
  freeShapeFile(store);
  store = fresh;
  state.changed = true;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* The measuring and projection subcommands, handed to their own unit. */
ShapeMeasureId measureIdOf(ShapeSubId id) {
  switch (id) {
  case SUB_AREA: return MEASURE_AREA;
  case SUB_CENTROID: return MEASURE_CENTROID;
  case SUB_LANGLE: return MEASURE_LANGLE;
  case SUB_LENGTH: return MEASURE_LENGTH;
  case SUB_PROJDEF: return MEASURE_PROJDEF;
  case SUB_PROJECTION: return MEASURE_PROJECTION;
  default: return MEASURE_VANGLE;
  }
}

int storeCommand(ShapeFile *&store, Tcl_Interp *interp, int argc, const char **argv,
                 ShapeMatchProc *match, ShapeCommandState &state) {
  ShapeSubId id = findShapeSubcommand(argv[1]);
  if (id == SUB_INITIALIZE) return initializeStore(store, interp, argc, argv, state);
  if (!store) return setResult(interp, "Undefined object");
  if (id == SUB_NONE || (id == SUB_MATCH && !match)) {
    state.handled = false;
    return setResult(interp, "Unknown command");
  }
  ShapeResult result;
  int type = store->header.shapeType;
  switch (id) {
  case SUB_ADDRECORD:
  case SUB_INSERTRECORD:
  case SUB_SETRECORD:
    return editRecord(store, interp, argc, argv, id, state);
  case SUB_AREA:
  case SUB_CENTROID:
  case SUB_LANGLE:
  case SUB_LENGTH:
  case SUB_PROJDEF:
  case SUB_PROJECTION:
  case SUB_VANGLE:
    return shapeMeasureCommand(store, interp, argc, argv, measureIdOf(id), state.changed);
  case SUB_SETVERTICES:
  case SUB_SETMVALUES:
  case SUB_SETZVALUES:
  case SUB_SETPATCHTYPES:
    return editValues(store, interp, argc, argv, id, state);

  case SUB_BBOX: {
    if (type == SHP_POINT || type == SHP_POINTZ || type == SHP_POINTM) return result.finish(interp, TCL_OK);
    if (argc < 3) return setResult(interp, usage(argv, "?index? | all"));
    int code = forEachListed(store, interp, result, argc, argv, 2, true, false, [&](int i) {
      appendNumberList(result, getRecordBox(getShapeRecord(store, i)), 4);
    });
    return result.finish(interp, code);
  }
  case SUB_VERTEX: {
    if (argc < 3) return setResult(interp, usage(argv, "?index? | all | count"));
    if (strcmp(argv[2], "count") == 0)
      return listCountTotal(store, interp, result, argc, argv, true, true);
    int code = forEachListed(store, interp, result, argc, argv, 2, true, true, [&](int i) {
      int n;
      ShapeDouble *points = getRecordPoints(getShapeRecord(store, i), &n);
      appendNumberList(result, points, 2 * n);
    });
    return result.finish(interp, code);
  }
  case SUB_VPARTS: {
    if (argc < 3) return setResult(interp, usage(argv, "?index? | all"));
    int code = forEachListed(store, interp, result, argc, argv, 2, true, false, [&](int i) {
      ShapeRecord *record = getShapeRecord(store, i);
      int n, p;
      ShapeDouble *points = getRecordPoints(record, &n);
      int32_t *parts = getRecordParts(record, &p);
      appendVertexPartList(result, points, 2 * n, parts, parts ? p : 0);
    });
    return result.finish(interp, code);
  }
  case SUB_PARTS: {
    if (argc < 3) return setResult(interp, usage(argv, "?index? | all"));
    if (strcmp(argv[2], "count") == 0)
      return listCountTotal(store, interp, result, argc, argv, false, false);
    int code = forEachListed(store, interp, result, argc, argv, 2, true, false, [&](int i) {
      int p;
      int32_t *parts = getRecordParts(getShapeRecord(store, i), &p);
      appendIntList(result, parts, p);
    });
    return result.finish(interp, code);
  }
  case SUB_PATCHTYPES: {
    if (argc < 3) return setResult(interp, usage(argv, "?index? | all"));
    if (type != SHP_MULTIPATCH)
      return setResult(interp, std::string(argv[0]) + " is not a multipatch shape object");
    int code = forEachListed(store, interp, result, argc, argv, 2, true, false, [&](int i) {
      int p;
      int32_t *types = getRecordPartTypes(getShapeRecord(store, i), &p);
      appendIntList(result, types, p);
    });
    return result.finish(interp, code);
  }
  case SUB_MVALUES:
  case SUB_ZVALUES:
    return listValues(store, interp, result, argc, argv, id == SUB_ZVALUES);
  case SUB_ID: {
    int code = forEachOrAll(store, interp, result, argc, argv, [&](int i) {
      result.element(fmt("%d", shapeRecordNumber(getShapeRecord(store, i))));
    });
    return result.finish(interp, code);
  }
  case SUB_ISSELECTED: {
    if (argc != 3) return setResult(interp, usage(argv, "index"));
    int i = readIndexWord(argv[2]);
    if (i < 0 || i >= store->count) return setResult(interp, "invalid index");
    return setResult(interp, fmt("%d", isShapeSelected(store, i)), TCL_OK);
  }
  case SUB_COUNTSELECTIONS:
    return setResult(interp, fmt("%d", countSelectedShapes(store)), TCL_OK);
  case SUB_COUNTDELETIONS:
    return setResult(interp, fmt("%d", countDeletedShapes(store)), TCL_OK);
  case SUB_TYPE: {
    const char *name = shapeTypeName(type);
    return setResult(interp, name ? name : fmt("%d", type), TCL_OK);
  }
  case SUB_INFO:
    listInfo(store, result);
    result.element(fmt("count %d", store->count));
    return result.finish(interp, TCL_OK);

  case SUB_SELECT:
  case SUB_UNSELECT:
  case SUB_ASELECT:
  case SUB_DELETESHAPE:
  case SUB_UNDELETESHAPE: {
    void (*apply)(ShapeFile *, int) = id == SUB_SELECT     ? selectShape
                                      : id == SUB_UNSELECT ? unselectShape
                                      : id == SUB_ASELECT  ? toggleShape
                                      : id == SUB_DELETESHAPE ? deleteShape
                                                              : undeleteShape;
    int code = forEachOrAll(store, interp, result, argc, argv, [&](int i) { apply(store, i); });
    if (code == TCL_OK) state.changed = true;
    return result.finish(interp, code);
  }
  case SUB_SELECTONLY:
  case SUB_UNSELECTONLY: {
    bool only = id == SUB_SELECTONLY;
    if (only) unselectAllShapes(store);
    else selectAllShapes(store);
    int code = forEachListed(store, interp, result, argc, argv, 2, false, false, [&](int i) {
      if (only) selectShape(store, i);
      else unselectShape(store, i);
    });
    if (code == TCL_OK) state.changed = true;
    return result.finish(interp, code);
  }
  case SUB_MATCH: {
    if (argc != 3) return setResult(interp, usage(argv, "tableObj"));
    int code = match(interp, argv[2], store);
    if (code == TCL_OK) state.changed = true;
    return code;
  }
  case SUB_PURGE:
    purgeShapeFile(store);
    state.changed = true;
    return result.finish(interp, TCL_OK);
  case SUB_ERASERECORD: {
    if (argc != 3) return setResult(interp, usage(argv, "index"));
    if (store->count > 0) {
      int i = std::min(std::max(readIndexWord(argv[2]), 0), store->count - 1);
      eraseShapeRecords(store, i, i);
    }
    state.changed = true;
    return result.finish(interp, TCL_OK);
  }
  case SUB_SETRANGE:
    recomputeShapeRanges(store, 1);
    return result.finish(interp, TCL_OK);
  default:
    state.handled = false;
    return setResult(interp, "Unknown command");
  }
}

}  // namespace

int shapeTypeFromName(const char *name) {
  for (const ShapeTypeName *row = shapeTypeNames; row->name; row++)
    if (name && strcmp(row->name, name) == 0) return row->code;
  return -1;
}

const char *shapeTypeName(int code) {
  for (const ShapeTypeName *row = shapeTypeNames; row->name; row++)
    if (row->code == code) return row->name;
  return nullptr;
}

int shapeTypeForKind(int kind) {
  switch (kind) {
  case KIND_POINT: return SHP_POINT;
  case KIND_LINE: return SHP_POLYLINE;
  case KIND_POLYGON: return SHP_POLYGON;
  case KIND_POINTM: return SHP_POINTM;
  case KIND_LINEM: return SHP_POLYLINEM;
  case KIND_POLYGONM: return SHP_POLYGONM;
  case KIND_POINTZ: return SHP_POINTZ;
  case KIND_LINEZ: return SHP_POLYLINEZ;
  case KIND_POLYGONZ: return SHP_POLYGONZ;
  case KIND_MULTIPATCH: return SHP_MULTIPATCH;
  case KIND_MULTIPOINT: return SHP_MULTIPOINT;
  case KIND_MULTIPOINTM: return SHP_MULTIPOINTM;
  case KIND_MULTIPOINTZ: return SHP_MULTIPOINTZ;
  default: return -1;
  }
}

int shapeBaseKind(int type) {
  switch (type) {
  case 1: case 8: case 11: case 18: case 21: case 28: return KIND_POINT;
  case 3: case 13: case 23: return KIND_LINE;
  case 5: case 15: case 25: return KIND_POLYGON;
  default: return 0;
  }
}

/*
 * shapeStoreCommand --
 *     The subcommands of a shape object that need only its store
 *     (argv[1] is the subcommand word).  "initialize" may replace the
 *     store; every other word needs one ("Undefined object").
 * Results:      TCL_OK or TCL_ERROR with the result set; state.changed
 *     when the object's watchers must be told, state.handled false for a
 *     word that is not a subcommand ("Unknown command").
 */
int shapeStoreCommand(ShapeFile *&store, Tcl_Interp *interp, int argc, const char **argv,
                      ShapeMatchProc *match, ShapeCommandState &state) {
  state = ShapeCommandState();
  try {
    return storeCommand(store, interp, argc, argv, match, state);
  } catch (const std::bad_alloc &) {
    return setResult(interp, std::string("Error in ") + argv[0] + " " + argv[1]);
  }
}

/*
 * shapeInfoCmd --
 *     "shape.info shapeFile": the header of a shapefile as a list, with the
 *     record count of its index; empty when the header cannot be read.
 */
int shapeInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) return setResult(interp, std::string("Usage: ") + argv[0] + " shapeFile");
  int status = 0;
  std::unique_ptr<ShapeFileHeader> header = getShapeHead(argv[1], &status);
  Tcl_ResetResult(interp);
  if (!header) return TCL_OK;
  ShapeFile view;
  view.header = *header;
  ShapeResult result;
  listInfo(&view, result);
  int count;
  if (countShapeIndex(argv[1], &count)) result.element(fmt("count %d", count));
  return result.finish(interp, TCL_OK);
}

}  // namespace vesk
