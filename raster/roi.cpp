/*
 * roi.cpp --
 *     Regions of interest: point lists and their growth, the ROI texts
 *     ("rc" rectangles, "pl" polygons, "ov" ovals and expressions that
 *     combine them), the scan conversion of polygons into span sets, and
 *     union, intersection and symmetric difference of span sets.
 */
#include "raster/roi.h"

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <new>

#include "core/text.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

bool operator==(RoiPoint a, RoiPoint b) { return a.x == b.x && a.y == b.y; }

/* Row, then column: the order of span sets. */
bool pointBefore(RoiPoint a, RoiPoint b) { return a.y != b.y ? a.y < b.y : a.x < b.x; }

PointList *emptyList() { return new (std::nothrow) PointList; }

/* Makes room for `extra` more points, growing in steps of 256. */
bool reserveMore(PointList *list, int extra) {
  if (list->capacity - list->count >= extra) return true;
  const int64_t wanted = int64_t{list->capacity} + kPointListGrowth;
  if (wanted > INT_MAX) return false;
  const int count = list->count;
  if (!polyAllocPt(list, static_cast<int>(wanted))) return false;
  list->count = count;
  return true;
}

void pushPoint(PointList *list, RoiPoint p) {
  if (!reserveMore(list, 1)) return;
  list->points[list->count++] = p;
}

/* Pairs sorted crossings of one row into spans; an unpaired crossing left
   at the end of a row is dropped. */
void pairCrossings(const RoiPoint *crossings, int n, PointList *spans) {
  int i = 0;
  while (i + 1 < n) {
    if (crossings[i].y != crossings[i + 1].y) {
      i++;
      continue;
    }
    spanAdd(spans, crossings[i], crossings[i + 1]);
    i += 2;
  }
}

/*
 * scanPolygon --
 *     The row crossings of a closed polygon in rows firstRow..lastRow:
 *     for every edge, the rounded x of each row strictly between its ends,
 *     plus its start vertex where the outline passes through monotonically
 *     (not at a local top or bottom), so that every row has an even number
 *     of crossings.  Rows outside the range are never visited, so the work
 *     and the list are bounded by the range, however far the corners lie.
 */
void scanPolygon(const RoiPoint *p, int n, int firstRow, int lastRow, PointList *crossings) {
  int first = 0;
  if (n > 1 && p[n - 1] == p[0]) first = 1;
  if (n - first < 2 || firstRow > lastRow) return;
  const int64_t lo = firstRow, hi = lastRow;
  auto push = [&](int64_t x, int64_t y) {
    if (y >= lo && y <= hi) pushPoint(crossings, {static_cast<int>(x), static_cast<int>(y)});
  };
  RoiPoint prev = p[n - 1];
  int64_t e = int64_t{p[n - 2].y} - p[n - 1].y;
  for (int i = first; i < n; i++) {
    const RoiPoint cur = p[i];
    const int64_t xp = prev.x, yp = prev.y, xc = cur.x, yc = cur.y;
    const double slope = yp != yc ? double(xp - xc) / double(yp - yc) : 0;
    if (yp < yc) {
      if (e <= 0) push(xp, yp);
      for (int64_t y = std::max(yp + 1, lo), end = std::min(yc - 1, hi); y <= end; y++)
        push(roundToInt(xc + slope * double(y - yc)), y);
    } else {
      if (e > 0) push(xp, yp);
      for (int64_t y = std::min(yp - 1, hi), end = std::max(yc + 1, lo); y >= end; y--)
        push(roundToInt(xc + slope * double(y - yc)), y);
    }
    e = yp - yc;
    prev = cur;
  }
}

/* Appends the spans of a set in order, through spanAddMerge. */
void mergeSpans(const PointList *a, const PointList *b, PointList *out) {
  int i = 0, j = 0;
  const int na = a ? a->count / 2 * 2 : 0, nb = b ? b->count / 2 * 2 : 0;
  while (i < na || j < nb) {
    const bool takeA = j >= nb || (i < na && !pointBefore(b->points[j], a->points[i]));
    const RoiPoint *s = takeA ? a->points + i : b->points + j;
    if (s[0].x < s[1].x) spanAddMerge(out, s[0], s[1]);
    (takeA ? i : j) += 2;
  }
}

/* The operator words of parseROIExpr. */
enum RoiOp { OP_SET, OP_OR, OP_AND, OP_XOR, OP_NONE };
RoiOp roiOp(const char *word) {
  if (!strcmp(word, "set")) return OP_SET;
  if (!strcmp(word, "or")) return OP_OR;
  if (!strcmp(word, "and")) return OP_AND;
  if (!strcmp(word, "xor")) return OP_XOR;
  return OP_NONE;
}

}  // namespace

/* ---- point lists ---- */

/* initPointList -- every field zero. */
void initPointList(PointList *list) { *list = PointList(); }

/* clearPointList -- frees the points; the list stays, empty. */
void clearPointList(PointList *list) {
  free(list->points);
  list->points = nullptr;
  list->capacity = list->count = 0;
}

/*
 * polyAllocPt --
 *     Resizes the point array of a list to n points: new points are zero,
 *     count is cut to n.
 * Results:      the array; null when n is 0 or the allocation fails (the
 *     list is then empty, and for n > 0 a message goes to stderr).
 */
RoiPoint *polyAllocPt(PointList *list, int n) {
  if (n <= 0) {
    clearPointList(list);
    return nullptr;
  }
  RoiPoint *points = static_cast<RoiPoint *>(
      realloc(list->points, sizeof(RoiPoint) * static_cast<size_t>(n)));
  if (!points) {
    clearPointList(list);
    vesk_fprintf(stderr, "Error in polyAllocPt: fail to allocate memory.\n");
    return nullptr;
  }
  if (n > list->capacity)
    memset(points + list->capacity, 0, sizeof(RoiPoint) * static_cast<size_t>(n - list->capacity));
  list->points = points;
  list->capacity = n;
  list->count = std::min(list->count, n);
  return points;
}

/* polyNew -- a list of n zero points; null on failure. */
PointList *polyNew(int n) {
  PointList *list = emptyList();
  if (!list || n <= 0) return list;
  if (!polyAllocPt(list, n)) {
    delete list;
    return nullptr;
  }
  list->count = n;
  return list;
}

/* polyPush -- appends a point, growing by 256; nothing when it cannot grow. */
void polyPush(PointList *list, int x, int y) { pushPoint(list, {x, y}); }

/* polyCopy -- a copy with the same capacity and points; null for null. */
PointList *polyCopy(const PointList *list) {
  if (!list) return nullptr;
  PointList *copy = emptyList();
  if (!copy) return nullptr;
  if (list->capacity > 0) {
    if (!polyAllocPt(copy, list->capacity)) {
      delete copy;
      return nullptr;
    }
    memcpy(copy->points, list->points, sizeof(RoiPoint) * static_cast<size_t>(list->count));
    copy->count = list->count;
  }
  return copy;
}

/* polyFree -- frees every list of a chain with its points. */
void polyFree(PointList *chain) {
  while (chain) {
    PointList *next = chain->next;
    free(chain->points);
    delete chain;
    chain = next;
  }
}

/*
 * rectToPoints --
 *     The four corners (x0, y0), (x0, y1), (x1, y1), (x1, y0), rounded
 *     half away from zero.
 */
PointList *rectToPoints(float x0, float y0, float x1, float y1) {
  PointList *list = polyNew(4);
  if (!list) return nullptr;
  const int a = roundToInt(x0), b = roundToInt(y0), c = roundToInt(x1), d = roundToInt(y1);
  list->points[0] = {a, b};
  list->points[1] = {a, d};
  list->points[2] = {c, d};
  list->points[3] = {c, b};
  return list;
}

/* ---- ROI texts ---- */

/* parseRectangle -- "x0 y0 x1 y1" as its four corners. */
PointList *parseRectangle(Tcl_Interp *interp, const char *text) {
  float x0, y0, x1, y1;
  if (!text || sscanf(text, "%f %f %f %f", &x0, &y0, &x1, &y1) != 4) {
    Tcl_AppendResult(interp, "Error in parsing rectangle.\n", (char *)NULL);
    return nullptr;
  }
  return rectToPoints(x0, y0, x1, y1);
}

/*
 * parsePolygonPoints --
 *     A Tcl list of x y numbers, at least minCount numbers and an even
 *     count, as rounded points.
 */
PointList *parsePolygonPoints(Tcl_Interp *interp, const char *text, int minCount) {
  int n = 0;
  const char **words = nullptr;
  PointList *list = nullptr;
  if (text && Tcl_SplitList(nullptr, text, &n, &words) == TCL_OK && n >= minCount && n % 2 == 0 &&
      n > 0 && (list = polyNew(n / 2))) {
    for (int i = 0; i < n; i += 2) {
      double x, y;
      if (Tcl_GetDouble(nullptr, words[i], &x) != TCL_OK ||
          Tcl_GetDouble(nullptr, words[i + 1], &y) != TCL_OK) {
        polyFree(list);
        list = nullptr;
        break;
      }
      list->points[i / 2] = {roundToInt(x), roundToInt(y)};
    }
  }
  if (words) Tcl_Free(reinterpret_cast<char *>(words));
  if (!list) Tcl_AppendResult(interp, "Error in parsing polygon.\n", (char *)NULL);
  return list;
}

/*
 * parseOval --
 *     The outline of the ellipse inscribed in the box "x0 y0 x1 y1": one
 *     point a column (wider than tall) or a row (otherwise) along the
 *     upper or left half, then back along the other.  Boxes under two
 *     pixels each way are their rectangle.
 */
PointList *parseOval(Tcl_Interp *interp, const char *text) {
  float x0, y0, x1, y1;
  if (!text || sscanf(text, "%f %f %f %f", &x0, &y0, &x1, &y1) != 4) {
    Tcl_AppendResult(interp, "Error in parsing oval.\n", (char *)NULL);
    return nullptr;
  }
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  const int64_t xa = roundToInt(x0), ya = roundToInt(y0);
  const int64_t xb = int64_t{roundToInt(x1)} - 1, yb = int64_t{roundToInt(y1)} - 1;
  if (2 * (xb - xa) < 4 && 2 * (yb - ya) < 4) return rectToPoints(x0, y0, x1, y1);
  const double a = double(xb - xa) / 2, b = double(yb - ya) / 2;
  const double cx = double(xa + xb) / 2, cy = double(ya + yb) / 2;
  auto half = [](double t) {
    const double r = 1 - t * t;
    return r > 0 ? sqrt(r) : 0.0;
  };
  PointList *list = emptyList();
  if (!list) return nullptr;
  if (yb - ya < xb - xa) {
    for (int64_t x = xa; x < xb; x++)
      pushPoint(list, {static_cast<int>(x), roundToInt(cy - b * half((x - cx) / a))});
    for (int64_t x = xb; x > xa; x--)
      pushPoint(list, {static_cast<int>(x), roundToInt(cy + b * half((x - cx) / a))});
  } else {
    for (int64_t y = ya; y < yb; y++)
      pushPoint(list, {roundToInt(cx - a * half((y - cy) / b)), static_cast<int>(y)});
    for (int64_t y = yb; y > ya; y--)
      pushPoint(list, {roundToInt(cx + a * half((y - cy) / b)), static_cast<int>(y)});
  }
  return list;
}

/*
 * parseROIObject --
 *     One term: "rc", "pl" (at least 6 numbers) or "ov" and its value.
 * Results:      the polygon, or null with a message in the result.
 */
PointList *parseROIObject(Tcl_Interp *interp, int argc, const char *const *argv) {
  if (argc < 2) {
    Tcl_AppendResult(interp, "error in parsing obj.\n", (char *)NULL);
    return nullptr;
  }
  if (!strcmp(argv[0], "rc")) return parseRectangle(interp, argv[1]);
  if (!strcmp(argv[0], "pl")) return parsePolygonPoints(interp, argv[1], 6);
  if (!strcmp(argv[0], "ov")) return parseOval(interp, argv[1]);
  Tcl_AppendResult(interp, "Unknown obj type: ", argv[0], (char *)NULL);
  return nullptr;
}

/*
 * parseROIList --
 *     A chain from pairs of type and value words; each new polygon goes in
 *     front, so the chain runs from the last pair to the first.
 * Results:      the chain; null (nothing kept) when a term fails or a
 *     type word has no value.
 */
PointList *parseROIList(Tcl_Interp *interp, int argc, const char *const *argv) {
  PointList *chain = nullptr;
  for (int i = 0; i < argc; i += 2) {
    PointList *term = parseROIObject(interp, std::min(2, argc - i), argv + i);
    if (!term) {
      polyFree(chain);
      return nullptr;
    }
    term->next = chain;
    chain = term;
  }
  return chain;
}

/* parseMaskKind -- "frame" 1, "clip" 2, "data" 3, "all" 4; else 0. */
int parseMaskKind(Tcl_Interp *interp, const char *word) {
  static const char *const kinds[] = {"frame", "clip", "data", "all"};
  for (int i = 0; i < 4; i++)
    if (word && !strcmp(word, kinds[i])) return i + 1;
  Tcl_AppendResult(interp, "unknown mask\n", (char *)NULL);
  return MASK_NONE;
}

/*
 * parseROIExpr --
 *     A span set from the current one (or none) and a sequence of terms,
 *     each after an optional operator word "set", "or", "and" or "xor"
 *     (the last one given holds; "set" at first).  "current" alone keeps
 *     the current set.
 * Results:      the new set; null with *error set (and a message) on a
 *     failing term.
 */
PointList *parseROIExpr(Tcl_Interp *interp, const PointList *current, int argc,
                        const char *const *argv, int *error) {
  *error = 0;
  PointList *result = current ? polyCopy(current) : emptyList();
  if (!result) {
    *error = 1;
    return nullptr;
  }
  if (argc > 0 && !strcmp(argv[0], "current")) {
    if (argc == 1) return result;
    Tcl_AppendResult(interp, "Syntax error.\n", (char *)NULL);
    polyFree(result);
    *error = 1;
    return nullptr;
  }
  RoiOp op = OP_SET;
  int i = 0;
  while (i < argc) {
    const RoiOp given = roiOp(argv[i]);
    if (given != OP_NONE) {
      op = given;
      i++;
    }
    PointList *term = parseROIObject(interp, std::min(2, argc - i), argv + i);
    PointList *spans = term ? polyToSpans(term) : nullptr;
    polyFree(term);
    if (!spans) {
      polyFree(result);
      *error = 1;
      return nullptr;
    }
    dropEmptySpans(spans);
    PointList *combined = spans;
    switch (op) {
    case OP_OR: combined = spanUnion(result, spans); break;
    case OP_AND: combined = spanIntersect(result, spans); break;
    case OP_XOR: combined = spanXor(result, spans); break;
    default: break;
    }
    if (combined != spans) polyFree(spans);
    polyFree(result);
    result = combined;
    if (!result) {
      *error = 1;
      return nullptr;
    }
    i += 2;
  }
  return result;
}

/* ---- span sets ---- */

/*
 * pointArrayToSpans --
 *     Scan-converts a closed polygon (its last point joined to its first;
 *     a repeated first point at the end counts once) over the rows
 *     firstRow..lastRow.
 * Results:      its span set, pairs of crossings sorted by row and column;
 *     null when the set cannot be allocated.
 */
PointList *pointArrayToSpans(const RoiPoint *points, int n, int firstRow, int lastRow) {
  PointList crossings;
  if (points && n > 0) scanPolygon(points, n, firstRow, lastRow, &crossings);
  std::sort(crossings.points, crossings.points + crossings.count, pointBefore);
  PointList *spans = emptyList();
  if (spans) pairCrossings(crossings.points, crossings.count, spans);
  clearPointList(&crossings);
  return spans;
}

PointList *polyToSpans(const PointList *polygon, int firstRow, int lastRow) {
  if (!polygon) return nullptr;
  return pointArrayToSpans(polygon->points, polygon->count, firstRow, lastRow);
}

/*
 * polyListToSpans --
 *     The span set of a chain combined by parity: a pixel is inside when
 *     it lies inside an odd number of the polygons.
 */
PointList *polyListToSpans(const PointList *chain, int firstRow, int lastRow) {
  if (!chain) return nullptr;
  PointList *spans = polyToSpans(chain, firstRow, lastRow);
  if (!spans) return nullptr;
  for (const PointList *p = chain->next; p; p = p->next) {
    PointList *more = polyToSpans(p, firstRow, lastRow);
    if (!more) continue;
    for (int i = 0; i + 1 < more->count; i += 2) spanAdd(spans, more->points[i], more->points[i + 1]);
    polyFree(more);
  }
  sortSpans(spans);
  dropEmptySpans(spans);
  return spans;
}

/* polyListXorSpans -- the chain combined by spanXor. */
PointList *polyListXorSpans(const PointList *chain) {
  PointList *result = emptyList();
  for (const PointList *p = chain; p && result; p = p->next) {
    PointList *spans = polyToSpans(p);
    PointList *combined = spans ? spanXor(result, spans) : nullptr;
    polyFree(spans);
    polyFree(result);
    result = combined;
  }
  return result;
}

/* spanAdd -- appends a span, growing by 256 points when fewer than two are free. */
void spanAdd(PointList *spans, RoiPoint start, RoiPoint end) {
  if (!reserveMore(spans, 2)) return;
  spans->points[spans->count++] = start;
  spans->points[spans->count++] = end;
}

/*
 * spanAddMerge --
 *     Appends a span, or extends the last span of the same row when the
 *     new one overlaps or touches it.
 */
void spanAddMerge(PointList *spans, RoiPoint start, RoiPoint end) {
  if (spans->count >= 2) {
    RoiPoint &lastEnd = spans->points[spans->count - 1];
    if (lastEnd.y == start.y && start.x <= lastEnd.x) {
      lastEnd.x = std::max(lastEnd.x, end.x);
      return;
    }
  }
  spanAdd(spans, start, end);
}

/* sortSpans -- sorts all points by row, then column. */
void sortSpans(PointList *spans) {
  std::sort(spans->points, spans->points + spans->count, pointBefore);
}

/* dropEmptySpans -- removes spans whose two points are equal and shrinks
   the array to the count. */
void dropEmptySpans(PointList *spans) {
  int kept = 0;
  for (int i = 0; i + 1 < spans->count; i += 2) {
    if (spans->points[i] == spans->points[i + 1]) continue;
    spans->points[kept++] = spans->points[i];
    spans->points[kept++] = spans->points[i + 1];
  }
  spans->count = kept;
  if (kept < spans->capacity) polyAllocPt(spans, kept);
}

/* spanUnion -- the union of two span sets. */
PointList *spanUnion(const PointList *a, const PointList *b) {
  PointList *out = emptyList();
  if (out) mergeSpans(a, b, out);
  return out;
}

/* spanIntersect -- for every two spans on one row, their common part. */
PointList *spanIntersect(const PointList *a, const PointList *b) {
  PointList *out = emptyList();
  if (!out || !a || !b) return out;
  int i = 0, j = 0;
  while (i + 1 < a->count && j + 1 < b->count) {
    const RoiPoint *s = a->points + i, *t = b->points + j;
    if (s[0].y != t[0].y) {
      (s[0].y < t[0].y ? i : j) += 2;
      continue;
    }
    const int lo = std::max(s[0].x, t[0].x), hi = std::min(s[1].x, t[1].x);
    if (lo < hi) spanAdd(out, {lo, s[0].y}, {hi, s[0].y});
    (s[1].x < t[1].x ? i : j) += 2;
  }
  return out;
}

/*
 * spanXor --
 *     The symmetric difference: the boundary points of both sets merged in
 *     order, a point equal to the last one kept cancelling it.
 */
PointList *spanXor(const PointList *a, const PointList *b) {
  PointList *out = emptyList();
  if (!out) return nullptr;
  const int na = a ? a->count : 0, nb = b ? b->count : 0;
  int i = 0, j = 0;
  while (i < na || j < nb) {
    const bool takeA = j >= nb || (i < na && !pointBefore(b->points[j], a->points[i]));
    const RoiPoint p = takeA ? a->points[i++] : b->points[j++];
    if (out->count > 0 && out->points[out->count - 1] == p) out->count--;
    else pushPoint(out, p);
  }
  return out;
}

/*
 * clipPointArraySpans --
 *     Spans from a sorted array of crossing pairs, clipped to the columns
 *     x0 to x1 - 1 and rows y0 to y1 - 1; empty spans are left out.
 */
PointList *clipPointArraySpans(const RoiPoint *crossings, int n, int x0, int y0, int x1, int y1) {
  PointList *out = emptyList();
  if (!out || !crossings) return out;
  for (int i = 0; i + 1 < n; i += 2) {
    const int y = crossings[i].y;
    if (y < y0 || y >= y1 || crossings[i + 1].y != y) continue;
    const int lo = std::max(crossings[i].x, x0), hi = std::min(crossings[i + 1].x, x1);
    if (lo < hi) spanAdd(out, {lo, y}, {hi, y});
  }
  return out;
}

}  // namespace vesk
