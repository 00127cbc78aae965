/*
 * roi.h --
 *     Regions of interest: point lists (one polygon each, chained into
 *     multi-part regions), the ROI texts that scripts write (rectangles,
 *     polygons, ovals), the scan conversion of polygons into span sets
 *     (runs of pixels per row) and the set operations on span sets.
 */
#ifndef VESK_RASTER_ROI_H
#define VESK_RASTER_ROI_H

#include <limits.h>
#include <tcl.h>

/* A point of a region: x is the column, y the row (32-bit, so that large
   images do not wrap). */
struct RoiPoint {
  int x;
  int y;
};

/*
 * A polygon, or a span set: points in pairs on one row, sorted by row
 * and column, the pair (x0, y), (x1, y) covering pixels x0 to x1 - 1.
 */
struct PointList {
  int capacity = 0;            /* points allocated */
  int count = 0;               /* points in use */
  RoiPoint *points = nullptr;  /* malloc'd; null when capacity is 0 */
  PointList *next = nullptr;   /* next polygon of a chain */
};

namespace vesk {

inline constexpr int kPointListGrowth = 256;

/* Mask kinds of parseMaskKind. */
enum MaskKind { MASK_NONE, MASK_FRAME, MASK_CLIP, MASK_DATA, MASK_ALL };

/* ---- point lists ---- */
PointList *polyNew(int n);
RoiPoint *polyAllocPt(PointList *list, int n);
void polyPush(PointList *list, int x, int y);
PointList *polyCopy(const PointList *list);
void polyFree(PointList *chain);
void initPointList(PointList *list);
void clearPointList(PointList *list);
PointList *rectToPoints(float x0, float y0, float x1, float y1);

/* ---- ROI texts (errors appended to the interpreter result) ---- */
PointList *parseRectangle(Tcl_Interp *interp, const char *text);
PointList *parsePolygonPoints(Tcl_Interp *interp, const char *text, int minCount);
PointList *parseOval(Tcl_Interp *interp, const char *text);
PointList *parseROIObject(Tcl_Interp *interp, int argc, const char *const *argv);
PointList *parseROIList(Tcl_Interp *interp, int argc, const char *const *argv);
int parseMaskKind(Tcl_Interp *interp, const char *word);
PointList *parseROIExpr(Tcl_Interp *interp, const PointList *current, int argc,
                        const char *const *argv, int *error);

/* ---- span sets ---- */
/* Polygons are scanned over the rows firstRow..lastRow only: callers that
   fill an image pass its rows, so the work never exceeds the image. */
PointList *polyToSpans(const PointList *polygon, int firstRow = INT_MIN, int lastRow = INT_MAX);
PointList *pointArrayToSpans(const RoiPoint *points, int n, int firstRow = INT_MIN,
                             int lastRow = INT_MAX);
PointList *polyListToSpans(const PointList *chain, int firstRow = INT_MIN, int lastRow = INT_MAX);
PointList *polyListXorSpans(const PointList *chain);
void spanAdd(PointList *spans, RoiPoint start, RoiPoint end);
void spanAddMerge(PointList *spans, RoiPoint start, RoiPoint end);
void sortSpans(PointList *spans);
void dropEmptySpans(PointList *spans);
PointList *spanUnion(const PointList *a, const PointList *b);
PointList *spanIntersect(const PointList *a, const PointList *b);
PointList *spanXor(const PointList *a, const PointList *b);
PointList *clipPointArraySpans(const RoiPoint *crossings, int n, int x0, int y0, int x1, int y1);

}  // namespace vesk

#endif
