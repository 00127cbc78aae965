/*
 * drawing.cpp --
 *     Drawing helpers above Xlib: the point buffer each thread reuses for
 *     shape conversion, ring sets filled as one area with holes cut out
 *     through X regions, outlines whose double dashes lie over a solid
 *     background line when they are wide, and Tk's focus highlight.
 *
 *     GC functions, stipples, clip masks, caps, joins and dash lists are
 *     the X server's own: every helper draws through the caller's GC or
 *     through a scratch copy of it.
 */
#include "display/drawing.h"

#include <tkInt.h>

#include "core/core.h"

namespace vesk {

namespace {

/* The point buffer of one thread: grows to the largest count asked for. */
struct PointBufferData {
  XPoint *points;
  int capacity; /* -1 after a failed allocation */
};

Tcl_ThreadDataKey pointBufferKey;

PointBufferData *pointBufferData() {
  return static_cast<PointBufferData *>(
      Tcl_GetThreadData(&pointBufferKey, static_cast<int>(sizeof(PointBufferData))));
}

void pointBufferThreadExit(ClientData) { freePointBuffer(); }

/* Every GC component, for XCopyGC. */
constexpr unsigned long kAllGCBits = (1UL << (GCLastBit + 1)) - 1;

/*
 * drawDoubleDashPasses --
 *     Draws a figure with the caller's GC, except that a double-dashed
 *     figure two or more pixels wide is drawn first as a solid line in the
 *     GC background and then with on-off dashes in the foreground, so the
 *     background also fills the joins and caps between dashes.
 */
template <class Draw>
void drawDoubleDashPasses(Display *display, Drawable drawable, GC gc, Draw &&draw) {
  XGCValues values;
  if (!XGetGCValues(display, gc, GCLineStyle | GCLineWidth | GCForeground | GCBackground,
                    &values) ||
      values.line_style != LineDoubleDash || values.line_width < 2) {
    draw(gc);
    return;
  }
  GC scratch = copyGCFor(display, drawable, gc);
  XGCValues change;
  change.line_style = LineSolid;
  change.foreground = values.background;
  XChangeGC(display, scratch, GCLineStyle | GCForeground, &change);
  draw(scratch);
  change.line_style = LineOnOffDash;
  change.foreground = values.foreground;
  XChangeGC(display, scratch, GCLineStyle | GCForeground, &change);
  draw(scratch);
  XFreeGC(display, scratch);
}

}  // namespace

/*
 * getPointBuffer --
 *     The calling thread's point buffer with room for count points.
 * Results:      the buffer, or NULL when it could not be grown (its
 *               capacity then reads -1 and the old points are gone).
 * Side effects: grows the buffer; it is never shrunk.
 */
XPoint *getPointBuffer(int count) {
  PointBufferData *data = pointBufferData();
  if (count < 0) return nullptr;
  if (count <= data->capacity && data->points) return data->points;
  if (!data->points && data->capacity == 0)
    Tcl_CreateThreadExitHandler(pointBufferThreadExit, nullptr);
  size_t bytes = sizeof(XPoint) * static_cast<size_t>(count > 0 ? count : 1);
  void *grown = bytes <= UINT_MAX ? Tcl_AttemptRealloc(reinterpret_cast<char *>(data->points),
                                                       static_cast<unsigned>(bytes))
                                  : nullptr;
  if (!grown) {
    Tcl_Free(reinterpret_cast<char *>(data->points));
    data->points = nullptr;
    data->capacity = -1;
    return nullptr;
  }
  data->points = static_cast<XPoint *>(grown);
  data->capacity = count;
  return data->points;
}

int getPointBufferCapacity() { return pointBufferData()->capacity; }

/* Frees the calling thread's point buffer (thread exit, tests). */
void freePointBuffer() {
  PointBufferData *data = pointBufferData();
  Tcl_Free(reinterpret_cast<char *>(data->points));
  data->points = nullptr;
  data->capacity = 0;
}

/*
 * convertPoints --
 *     Copies points into the thread's point buffer, summing them when mode
 *     is relative (each point relative to the one before).
 * Results:      the absolute points, or NULL when the buffer cannot hold
 *               them; bbox (optional) gets x, y = the minima and
 *               width, height = the maxima.
 */
XPoint *convertPoints(const XPoint *points, int count, int mode, XRectangle *bbox) {
  XPoint *out = getPointBuffer(count);
  if (!out) return nullptr;
  int minX = 0, minY = 0, maxX = 0, maxY = 0;
  for (int i = 0; i < count; i++) {
    XPoint p = points[i];
    if (mode != kPointsAbsolute && i > 0) {
      p.x = static_cast<short>(p.x + out[i - 1].x);
      p.y = static_cast<short>(p.y + out[i - 1].y);
    }
    out[i] = p;
    if (i == 0 || p.x < minX) minX = p.x;
    if (i == 0 || p.y < minY) minY = p.y;
    if (i == 0 || p.x > maxX) maxX = p.x;
    if (i == 0 || p.y > maxY) maxY = p.y;
  }
  if (bbox) {
    bbox->x = static_cast<short>(minX);
    bbox->y = static_cast<short>(minY);
    bbox->width = static_cast<unsigned short>(maxX);
    bbox->height = static_cast<unsigned short>(maxY);
  }
  return out;
}

/*
 * shortRingArea --
 *     Twice the signed area of a closed ring: the sum over its edges, the
 *     closing one included, of (x - previous x) * (y + previous y).
 * Results:      negative for a hole, non-negative for an outer ring.
 */
long shortRingArea(const XPoint *points, int n) {
  if (n <= 0) return 0;
  long sum = 0;
  for (int i = 0; i < n; i++) {
    const XPoint &a = points[i == 0 ? n - 1 : i - 1];
    const XPoint &b = points[i];
    sum += (static_cast<long>(b.x) - a.x) * (static_cast<long>(b.y) + a.y);
  }
  return sum;
}

GC copyGCFor(Display *display, Drawable drawable, GC gc) {
  GC copy = XCreateGC(display, drawable, 0, nullptr);
  XCopyGC(display, gc, kAllGCBits, copy);
  return copy;
}

/*
 * fillPolygonsWithHoles --
 *     Fills ringCount rings, ringSizes[i] points each, one after another
 *     in points, as one area.  With more than one ring, the rings whose
 *     shortRingArea is negative are holes: the fill is clipped to the
 *     union of the outer rings exclusive-or the union of the holes.
 * Results:      none.
 * Side effects: draws with the GC's fill; the hole clip replaces any clip
 *               of the GC for this call (a scratch copy carries it).
 */
void fillPolygonsWithHoles(Display *display, Drawable drawable, GC gc, const XPoint *points,
                           int ringCount, const int *ringSizes, int /*shape*/, int mode) {
  if (!drawable || !points || !ringSizes || ringCount <= 0) return;
  GC fillGC = gc;
  Region clip = nullptr;
  if (ringCount > 1) {
    Region outer = XCreateRegion();
    Region holes = XCreateRegion();
    bool anyHole = false;
    const XPoint *ring = points;
    for (int i = 0; i < ringCount; i++) {
      int n = ringSizes[i] > 0 ? ringSizes[i] : 0;
      XPoint *abs = n > 0 ? convertPoints(ring, n, mode, nullptr) : nullptr;
      if (abs && n >= 3) {
        Region region = XPolygonRegion(abs, n, EvenOddRule);
        Region into = shortRingArea(abs, n) < 0 ? holes : outer;
        if (into == holes) anyHole = true;
        XUnionRegion(into, region, into);
        XDestroyRegion(region);
      }
      ring += n;
    }
    if (anyHole) {
      clip = XCreateRegion();
      XXorRegion(outer, holes, clip);
      fillGC = copyGCFor(display, drawable, gc);
      XSetRegion(display, fillGC, clip);
    }
    XDestroyRegion(outer);
    XDestroyRegion(holes);
  }
  const XPoint *ring = points;
  for (int i = 0; i < ringCount; i++) {
    int n = ringSizes[i] > 0 ? ringSizes[i] : 0;
    XPoint *abs = n > 0 ? convertPoints(ring, n, mode, nullptr) : nullptr;
    if (abs) XFillPolygon(display, drawable, fillGC, abs, n, Complex, CoordModeOrigin);
    ring += n;
  }
  if (clip) {
    XFreeGC(display, fillGC);
    XDestroyRegion(clip);
  }
}

/*
 * drawPolyline --
 *     XDrawLines with the double-dash rule of drawDoubleDashPasses.
 */
void drawPolyline(Display *display, Drawable drawable, GC gc, const XPoint *points, int count,
                  int mode) {
  if (!drawable || count <= 0) return;
  XPoint *abs = convertPoints(points, count, mode, nullptr);
  if (!abs) return;
  drawDoubleDashPasses(display, drawable, gc, [&](GC use) {
    XDrawLines(display, drawable, use, abs, count, CoordModeOrigin);
  });
}

/* XDrawRectangle (corners (x, y) and (x + width, y + height) included), same rule. */
void drawRectangleOutline(Display *display, Drawable drawable, GC gc, int x, int y,
                          unsigned width, unsigned height) {
  if (!drawable) return;
  drawDoubleDashPasses(display, drawable, gc, [&](GC use) {
    XDrawRectangle(display, drawable, use, x, y, width, height);
  });
}

/* XDrawArc (angles in 1/64 degree, angle2 the extent), same rule. */
void drawArcOutline(Display *display, Drawable drawable, GC gc, int x, int y, unsigned width,
                    unsigned height, int angle1, int angle2) {
  if (!drawable) return;
  drawDoubleDashPasses(display, drawable, gc, [&](GC use) {
    XDrawArc(display, drawable, use, x, y, width, height, angle1, angle2);
  });
}

/*
 * drawHighlightBorder --
 *     Tk's inset focus highlight ring of the given width in fgGC; bgGC is
 *     not used.
 */
void drawHighlightBorder(Tk_Window tkwin, GC fgGC, GC /*bgGC*/, int highlightWidth,
                         Drawable drawable) {
  if (!tkwin || !drawable || highlightWidth <= 0) return;
  TkDrawInsetFocusHighlight(tkwin, fgGC, highlightWidth, drawable, 0);
}

}  // namespace vesk
