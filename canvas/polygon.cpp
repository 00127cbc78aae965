/*
 * polygon.cpp --
 *     The "polygon" item type: rings in world coordinates, held closed,
 *     holes told by orientation, the fill clipped before it is drawn and
 *     written with the even-odd rule, the ring under the pointer
 *     highlighted, and the area, length, centroid and angle measures.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tkInt.h>

#include "canvas/gcanvas.h"
#include "display/drawing.h"

namespace vesk {

namespace {

struct GcanvasPolygonItem {
  GcanvasItem header;
  int numPoints;    /* stored vertices, closing vertices included */
  int *ringCounts;  /* numRings counts, then numRings closing flags */
  int numRings;
  int pointsAllocated;
  double *coordPtr;
  StippleOffset tsoffset;
  XColor *fillColor, *activeFillColor, *disabledFillColor;
  Pixmap fillStipple, activeFillStipple, disabledFillStipple;
  GC fillGC;
  GcanvasOutline outline;
  int joinStyle;
  int splineSteps;
  const SmoothMethod *smooth;
  int *closingFlags;  /* inside the ringCounts allocation */
  int currentComponent;
  int highlightComponent;
  XColor *highlightColor;
  GC highlightGC;
};

#define POLY_OFFSET(field) static_cast<int>(offsetof(GcanvasPolygonItem, field))

Tk_ConfigSpec polygonConfigSpecs[] = {
    {TK_CONFIG_CUSTOM, "-activedash", nullptr, nullptr, nullptr, POLY_OFFSET(outline.activeDash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-activefill", nullptr, nullptr, nullptr, POLY_OFFSET(activeFillColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-activeoutline", nullptr, nullptr, nullptr,
     POLY_OFFSET(outline.activeColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activeoutlinestipple", nullptr, nullptr, nullptr,
     POLY_OFFSET(outline.activeStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activestipple", nullptr, nullptr, nullptr,
     POLY_OFFSET(activeFillStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-activewidth", nullptr, nullptr, "0.0", POLY_OFFSET(outline.activeWidth),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_CUSTOM, "-dash", nullptr, nullptr, nullptr, POLY_OFFSET(outline.dash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_PIXELS, "-dashoffset", nullptr, nullptr, "0", POLY_OFFSET(outline.offset),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-disableddash", nullptr, nullptr, nullptr,
     POLY_OFFSET(outline.disabledDash), TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-disabledfill", nullptr, nullptr, nullptr, POLY_OFFSET(disabledFillColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-disabledoutline", nullptr, nullptr, nullptr,
     POLY_OFFSET(outline.disabledColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledoutlinestipple", nullptr, nullptr, nullptr,
     POLY_OFFSET(outline.disabledStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledstipple", nullptr, nullptr, nullptr,
     POLY_OFFSET(disabledFillStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-disabledwidth", nullptr, nullptr, "0.0",
     POLY_OFFSET(outline.disabledWidth), TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_COLOR, "-fill", nullptr, nullptr, "black", POLY_OFFSET(fillColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_INT, "-floating", nullptr, nullptr, "0", POLY_OFFSET(header.floating), 0, nullptr},
    {TK_CONFIG_COLOR, "-highlightcolor", nullptr, nullptr, "yellow", POLY_OFFSET(highlightColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-background", "background", "Background", nullptr,
     POLY_OFFSET(outline.background), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_JOIN_STYLE, "-joinstyle", nullptr, nullptr, "round", POLY_OFFSET(joinStyle),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-offset", nullptr, nullptr, "0,0", POLY_OFFSET(tsoffset),
     TK_CONFIG_NULL_OK, &offsetOption},
    {TK_CONFIG_COLOR, "-outline", nullptr, nullptr, nullptr, POLY_OFFSET(outline.color),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-outlineoffset", nullptr, nullptr, "0,0", POLY_OFFSET(outline.tsoffset),
     TK_CONFIG_NULL_OK, &offsetOption},
    {TK_CONFIG_BITMAP, "-outlinestipple", nullptr, nullptr, nullptr, POLY_OFFSET(outline.stipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-smooth", nullptr, nullptr, "0", POLY_OFFSET(smooth),
     TK_CONFIG_DONT_SET_DEFAULT, &smoothOption},
    {TK_CONFIG_INT, "-splinesteps", nullptr, nullptr, "12", POLY_OFFSET(splineSteps),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, POLY_OFFSET(header.state),
     TK_CONFIG_NULL_OK, &stateOption},
    {TK_CONFIG_BITMAP, "-stipple", nullptr, nullptr, nullptr, POLY_OFFSET(fillStipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_CUSTOM, "-width", nullptr, nullptr, "1.0", POLY_OFFSET(outline.width),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

GcanvasPolygonItem *asPoly(GcanvasItem *item) {
  return reinterpret_cast<GcanvasPolygonItem *>(item);
}

double currentWidth(ItemContainer *c, GcanvasPolygonItem *p) {
  return outlineStateWidth(c, &p->header, &p->outline);
}

XColor *stateFill(ItemContainer *c, GcanvasPolygonItem *p) {
  return stateValue(c, &p->header, p->fillColor, p->activeFillColor, p->disabledFillColor);
}

Pixmap stateFillStipple(ItemContainer *c, GcanvasPolygonItem *p) {
  return stateValue(c, &p->header, p->fillStipple, p->activeFillStipple, p->disabledFillStipple);
}

XColor *stateOutline(ItemContainer *c, GcanvasPolygonItem *p) {
  GcanvasOutline &o = p->outline;
  return stateValue(c, &p->header, o.color, o.activeColor, o.disabledColor);
}

/* A ring as the user sees it: its vertices without the added closing one. */
struct Ring {
  std::vector<double> v;
  int closingAdded = 0;
};

std::vector<Ring> userRings(GcanvasPolygonItem *p) {
  std::vector<Ring> rings;
  int start = 0;
  for (int i = 0; i < p->numRings; i++) {
    Ring r;
    int n = p->ringCounts[i] - p->closingFlags[i];
    r.v.assign(p->coordPtr + 2 * start, p->coordPtr + 2 * (start + n));
    r.closingAdded = p->closingFlags[i];
    rings.push_back(r);
    start += p->ringCounts[i];
  }
  return rings;
}

/* Closes every ring whose last vertex differs from its first and stores the rings. */
void storeRings(GcanvasPolygonItem *p, std::vector<Ring> &rings, bool reclose) {
  std::vector<double> all;
  std::vector<int> counts, flags;
  for (Ring &r : rings) {
    if (r.v.empty()) continue;
    size_t n = r.v.size();
    int added = 0;
    if (reclose || r.closingAdded < 0) {
      if (r.v[0] != r.v[n - 2] || r.v[1] != r.v[n - 1] || n == 2) {
        r.v.push_back(r.v[0]);
        r.v.push_back(r.v[1]);
        added = 1;
      }
    } else {
      added = r.closingAdded;
      if (added) {
        r.v.push_back(r.v[0]);
        r.v.push_back(r.v[1]);
      }
    }
    all.insert(all.end(), r.v.begin(), r.v.end());
    counts.push_back(static_cast<int>(r.v.size() / 2));
    flags.push_back(added);
  }
  if (p->coordPtr) ckfree((char *)p->coordPtr);
  if (p->ringCounts) ckfree((char *)p->ringCounts);
  p->numPoints = static_cast<int>(all.size() / 2);
  p->numRings = static_cast<int>(counts.size());
  p->pointsAllocated = p->numPoints;
  p->coordPtr = (double *)ckalloc(sizeof(double) * (all.size() + 2));
  if (!all.empty()) memcpy(p->coordPtr, all.data(), sizeof(double) * all.size());
  p->ringCounts = (int *)ckalloc(sizeof(int) * (2 * counts.size() + 2));
  p->closingFlags = p->ringCounts + counts.size();
  for (size_t i = 0; i < counts.size(); i++) {
    p->ringCounts[i] = counts[i];
    p->closingFlags[i] = flags[i];
  }
  p->currentComponent = p->highlightComponent = -1;
}

int userTotal(GcanvasPolygonItem *p) {
  int total = 0;
  for (int i = 0; i < p->numRings; i++) total += 2 * (p->ringCounts[i] - p->closingFlags[i]);
  return total;
}

int ringStart(GcanvasPolygonItem *p, int ring) {
  int start = 0;
  for (int i = 0; i < ring; i++) start += p->ringCounts[i];
  return start;
}

void computePolygonBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasPolygonItem *p = asPoly(item);
  if (p->numPoints == 0 || effectiveState(c, item) == STATE_HIDDEN) {
    item->x1 = item->y1 = item->x2 = item->y2 = -1;
    return;
  }
  double box[4];
  pointsBox(p->coordPtr, p->numPoints, box);
  auto place = [&](StippleOffset &ts) {
    if (ts.flags & OFFSET_INDEX) return;
    if (ts.flags & OFFSET_LEFT) ts.x = saturatingInt(box[0]);
    else if (ts.flags & OFFSET_CENTER) ts.x = saturatingInt(lround((box[0] + box[2]) / 2));
    else if (ts.flags & OFFSET_RIGHT) ts.x = saturatingInt(box[2]);
    if (ts.flags & OFFSET_TOP) ts.y = saturatingInt(box[1]);
    else if (ts.flags & OFFSET_MIDDLE) ts.y = saturatingInt(lround((box[1] + box[3]) / 2));
    else if (ts.flags & OFFSET_BOTTOM) ts.y = saturatingInt(box[3]);
  };
  place(p->tsoffset);
  double margin = 0;
  if (p->outline.gc != None) {
    place(p->outline.tsoffset);
    double w = currentWidth(c, p);
    double s = (fabs(c->mx) + fabs(c->my)) / 2;
    if (p->joinStyle == JoinMiter && p->numRings > 0 && p->ringCounts[0] >= 3) {
      int n = p->ringCounts[0];
      const double *v = p->coordPtr;
      auto take = [&](const double *m) {
        box[0] = fmin(box[0], m[0]), box[2] = fmax(box[2], m[0]);
        box[1] = fmin(box[1], m[1]), box[3] = fmax(box[3], m[1]);
      };
      double m1[2], m2[2];
      if (miterPoints(v + 2 * (n - 2), v, v + 2, w / s, m1, m2)) take(m1), take(m2);
      for (int i = 0; i + 2 < n; i++)
        if (miterPoints(v + 2 * i, v + 2 * i + 2, v + 2 * i + 4, w / s, m1, m2)) take(m1), take(m2);
    }
    margin = w / 2;
  }
  setItemBoxFromWorld(c, box[0], box[1], box[2], box[3], item);
  item->x1 -= margin;
  item->y1 -= margin;
  item->x2 += margin;
  item->y2 += margin;
  item->xMargin = item->yMargin = static_cast<float>(margin);
}

void appendPolygonCoords(Tcl_Obj *list, GcanvasPolygonItem *p) {
  int start = 0;
  for (int i = 0; i < p->numRings; i++) {
    int n = p->ringCounts[i] - p->closingFlags[i];
    for (int k = 0; k < 2 * n; k++)
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(p->coordPtr[2 * start + k]));
    start += p->ringCounts[i];
  }
  if (p->numRings > 1) {
    Tcl_Obj *counts = Tcl_NewObj();
    for (int i = 0; i < p->numRings; i++)
      Tcl_ListObjAppendElement(nullptr, counts,
                               Tcl_NewIntObj(p->ringCounts[i] - p->closingFlags[i]));
    Tcl_ListObjAppendElement(nullptr, list, counts);
  }
}

int polygonCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                  Tcl_Obj *const objv[]) {
  GcanvasPolygonItem *p = asPoly(item);
  if (objc == 0) {
    Tcl_Obj *list = Tcl_NewObj();
    appendPolygonCoords(list, p);
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
  }
  std::vector<double> vertices;
  std::vector<int> counts;
  if (parsePartCoords(interp, c, objc, objv, "Invalid or inconsistent polygon description list",
                      "error in parsing polygon description list", 2,
                      "A polygon or hole must have at least three vertices.", vertices,
                      counts) != TCL_OK)
    return TCL_ERROR;
  std::vector<Ring> rings;
  size_t at = 0;
  for (int n : counts) {
    Ring r;
    r.v.assign(vertices.begin() + at, vertices.begin() + at + 2 * n);
    at += 2 * static_cast<size_t>(n);
    rings.push_back(r);
  }
  storeRings(p, rings, true);
  computePolygonBbox(c, item);
  return TCL_OK;
}

void finishPolygonConfigure(ItemContainer *c, GcanvasItem *item) {
  GcanvasPolygonItem *p = asPoly(item);
  Tk_Window tkwin = canvasTkwin(c);
  Display *display = Tk_Display(tkwin);
  GcanvasOutline &o = p->outline;
  setStateDependant(item, outlineHasActiveLook(&o) || p->activeFillColor ||
                              p->activeFillStipple != None);
  if (effectiveState(c, item) == STATE_HIDDEN) {
    computePolygonBbox(c, item);
    return;
  }
  XGCValues gcValues;
  GC newGC = None;
  int mask = configOutlineGC(&gcValues, c, item, &o);
  if (mask) {
    gcValues.cap_style = CapRound;
    gcValues.join_style = p->joinStyle;
    mask |= GCCapStyle | GCJoinStyle;
    newGC = Tk_GetGC(tkwin, static_cast<unsigned long>(mask), &gcValues);
  }
  replaceGC(display, &o.gc, newGC);
  replaceGC(display, &p->fillGC,
            getFillGC(tkwin, stateFill(c, p), stateFillStipple(c, p), &gcValues));

  replaceGC(display, &p->highlightGC,
            getHighlightGC(c, item, &o, p->highlightColor, &gcValues));
  if (p->splineSteps < 1) p->splineSteps = 1;
  else if (p->splineSteps > 100) p->splineSteps = 100;
  computePolygonBbox(c, item);
}

int configurePolygon(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                     Tcl_Obj *const objv[], int flags) {
  if (Tk_ConfigureWidget(interp, canvasTkwin(c), polygonConfigSpecs, objc, objWords(objv),
                         reinterpret_cast<char *>(item), flags | TK_CONFIG_OBJS) != TCL_OK)
    return TCL_ERROR;
  finishPolygonConfigure(c, item);
  return TCL_OK;
}

void deletePolygon(ItemContainer *, GcanvasItem *item, Display *display) {
  GcanvasPolygonItem *p = asPoly(item);
  freeOutline(display, &p->outline);
  if (p->coordPtr) ckfree((char *)p->coordPtr);
  if (p->ringCounts) ckfree((char *)p->ringCounts);
  p->coordPtr = nullptr;
  p->ringCounts = p->closingFlags = nullptr;
  freeItemColors({&p->fillColor, &p->activeFillColor, &p->disabledFillColor, &p->highlightColor});
  freeItemBitmaps(display, {&p->fillStipple, &p->activeFillStipple, &p->disabledFillStipple});
  freeItemGCs(display, {&p->fillGC, &p->highlightGC});
}

void initPolygon(GcanvasPolygonItem *p) {
  p->numPoints = p->numRings = p->pointsAllocated = 0;
  p->ringCounts = p->closingFlags = nullptr;
  p->coordPtr = nullptr;
  p->tsoffset = StippleOffset();
  p->fillColor = p->activeFillColor = p->disabledFillColor = nullptr;
  p->fillStipple = p->activeFillStipple = p->disabledFillStipple = None;
  p->fillGC = None;
  initOutline(&p->outline);
  p->joinStyle = JoinRound;
  p->splineSteps = 12;
  p->smooth = nullptr;
  p->currentComponent = p->highlightComponent = -1;
  p->highlightColor = nullptr;
  p->highlightGC = None;
}

int createPolygon(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                  Tcl_Obj *const objv[]) {
  initPolygon(asPoly(item));
  int coords = 0;
  while (coords < objc) {
    const char *arg = Tcl_GetString(objv[coords]);
    if (arg[0] == '-' && arg[1] >= 'a' && arg[1] <= 'z') break;
    coords++;
  }
  return createFromWords(interp, c, item, objc, objv, coords);
}

/* The drawable points of every ring (smoothed when asked); counts filled per ring. */
std::vector<XPoint> ringsToDrawable(ItemContainer *c, GcanvasPolygonItem *p, int first, int last,
                                    std::vector<int> &counts) {
  std::vector<XPoint> out;
  counts.clear();
  bool smooth = p->smooth && p->numPoints > 3;
  for (int i = first; i < last; i++) {
    int n = p->ringCounts[i];
    const double *v = p->coordPtr + 2 * ringStart(p, i);
    size_t at = out.size();
    int got;
    if (smooth) {
      std::vector<double> pixels(2 * static_cast<size_t>(n));
      worldToCanvas(c, v, pixels.data(), n);
      int size = p->smooth->coordProc(c, nullptr, n, p->splineSteps, nullptr, nullptr);
      out.resize(at + static_cast<size_t>(size) + 2);
      got = p->smooth->coordProc(c, pixels.data(), n, p->splineSteps, out.data() + at, nullptr);
    } else {
      out.resize(at + static_cast<size_t>(n) + 2);
      got = worldToDrawablePath(c, v, out.data() + at, n);
    }
    out.resize(at + static_cast<size_t>(got));
    counts.push_back(got);
  }
  return out;
}

void fillRings(Display *display, Drawable drawable, GC gc, std::vector<XPoint> &points,
               std::vector<int> &counts, int width, int height) {
  std::vector<int> clippedCounts = counts;
  std::vector<XPoint> clipped =
      clipPartsToBox(points.data(), static_cast<int>(counts.size()), clippedCounts.data(), -64,
                     -64, width + 128, height + 128);
  std::vector<XPoint> kept;
  std::vector<int> keptCounts;
  size_t at = 0;
  for (int n : clippedCounts) {
    if (n > 2) {
      kept.insert(kept.end(), clipped.begin() + at, clipped.begin() + at + n);
      keptCounts.push_back(n);
    }
    at += static_cast<size_t>(n);
  }
  if (keptCounts.size() == 1)
    XFillPolygon(display, drawable, gc, kept.data(), keptCounts[0], Complex, CoordModeOrigin);
  else if (keptCounts.size() > 1)
    fillPolygonsWithHoles(display, drawable, gc, kept.data(), static_cast<int>(keptCounts.size()),
                          keptCounts.data(), Complex, CoordModeOrigin);
}

void displayPolygon(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable,
                    int, int, int width, int height) {
  GcanvasPolygonItem *p = asPoly(item);
  GcanvasRecord *canvas = canvasOf(c);
  if (drawable == None || (p->fillGC == None && p->outline.gc == None) || p->numPoints == 0 ||
      (p->numPoints <= 2 && p->outline.gc == None))
    return;
  if (Tk_IsMapped(canvas->c.tkwin)) {
    width = Tk_Width(canvas->c.tkwin) + 2 * 8;
    height = Tk_Height(canvas->c.tkwin) + 2 * 8;
  }
  Pixmap stipple = stateFillStipple(c, p);
  if (p->fillGC != None && stipple != None) {
    StippleOffset ts = p->tsoffset;
    if (!(ts.flags & OFFSET_INDEX) && (ts.flags & (OFFSET_CENTER | OFFSET_MIDDLE))) {
      int bw = 0, bh = 0;
      Tk_SizeOfBitmap(display, stipple, &bw, &bh);
      if (ts.flags & OFFSET_CENTER) ts.x -= bw / 2;
      if (ts.flags & OFFSET_MIDDLE) ts.y -= bh / 2;
    }
    setStippleOffset(c, p->fillGC, &ts);
  }
  changeOutlineGC(c, item, &p->outline);
  if (p->numPoints <= 2) {
    double w = currentWidth(c, p);
    int d = saturatingInt(floor(w + 0.5));
    if (d < 1) d = 1;
    XPoint pt;
    worldToDrawablePath(c, p->coordPtr, &pt, 1);
    XFillArc(display, drawable, p->outline.gc, pt.x - d / 2, pt.y - d / 2,
             static_cast<unsigned>(d + 1), static_cast<unsigned>(d + 1), 0, 23040);
  } else {
    std::vector<int> counts;
    std::vector<XPoint> points = ringsToDrawable(c, p, 0, p->numRings, counts);
    if (p->fillGC != None) fillRings(display, drawable, p->fillGC, points, counts, width, height);
    bool lit = p->highlightComponent >= 0 && p->highlightComponent < p->numRings &&
               p->highlightGC != None;
    std::vector<int> litCounts;
    std::vector<XPoint> litPoints;
    if (lit) {
      litPoints = ringsToDrawable(c, p, p->highlightComponent, p->highlightComponent + 1,
                                  litCounts);
      fillRings(display, drawable, p->highlightGC, litPoints, litCounts, width, height);
    }
    if (p->outline.gc != None) {
      size_t at = 0;
      for (int n : counts) {
        XDrawLines(display, drawable, p->outline.gc, points.data() + at, n, CoordModeOrigin);
        at += static_cast<size_t>(n);
      }
    }
  }
  resetOutlineGC(c, item, &p->outline);
  if (p->fillGC != None && stipple != None) XSetTSOrigin(display, p->fillGC, 0, 0);
}

/* The world points of one ring, smoothed when asked. */
std::vector<double> ringWorldPoints(ItemContainer *c, GcanvasPolygonItem *p, int ring) {
  int n = p->ringCounts[ring];
  const double *v = p->coordPtr + 2 * ringStart(p, ring);
  std::vector<double> out(v, v + 2 * n);
  if (p->smooth && n > 2) {
    int size = p->smooth->coordProc(c, nullptr, n, p->splineSteps, nullptr, nullptr);
    std::vector<double> smoothed(2 * static_cast<size_t>(size) + 4);
    int got = p->smooth->coordProc(c, out.data(), n, p->splineSteps, nullptr, smoothed.data());
    smoothed.resize(2 * static_cast<size_t>(got));
    return smoothed;
  }
  return out;
}

double polygonToPoint(ItemContainer *c, GcanvasItem *item, double *point) {
  GcanvasPolygonItem *p = asPoly(item);
  double world[2];
  canvasToWorld(c, point, world, 1);
  double w = currentWidth(c, p);
  const double kFar = 1.0e36;
  double bestOuter = kFar, bestHoleEdge = kFar, bestHole = kFar;
  int outerRing = -1, holeEdgeRing = -1, holeRing = -1;
  bool insideOuter = false;
  for (int i = 0; i < p->numRings; i++) {
    std::vector<double> pts = ringWorldPoints(c, p, i);
    int n = static_cast<int>(pts.size() / 2);
    if (n == 0) continue;
    double edge;
    double d = polygonToPointScaled(c->mx, c->my, pts.data(), n, world, &edge);
    if (d > 0 && p->outline.gc != None) {
      d -= w / 2;
      if (d < 0) d = 0;
    }
    bool outer = p->numRings == 1 || polygonAreaTrapezoid(pts.data(), n) > 0;
    if (outer) {
      if (d == 0) insideOuter = true;
      if (d < bestOuter) bestOuter = d, outerRing = i;
    } else {
      if (d == 0) {
        if (edge < bestHoleEdge) bestHoleEdge = edge, holeEdgeRing = i;
      } else if (d < bestHole) {
        bestHole = d, holeRing = i;
      }
    }
  }
  double result;
  int component;
  if (insideOuter) {
    if (holeEdgeRing >= 0) result = bestHoleEdge, component = holeEdgeRing;
    else result = 0, component = outerRing;
  } else {
    result = bestOuter, component = outerRing;
    if (bestHoleEdge <= result) result = bestHoleEdge, component = holeEdgeRing;
    if (bestHole <= result) result = bestHole, component = holeRing;
  }
  p->currentComponent = result <= canvasOf(c)->closeEnough ? component : -1;
  return result;
}

int ringToArea(ItemContainer *c, GcanvasPolygonItem *p, int ring, double *rect) {
  int stored = p->ringCounts[ring];
  if (stored < 2) return -1;
  double w = currentWidth(c, p);
  if (stored == 2) {
    double v[2];
    worldToCanvas(c, p->coordPtr + 2 * ringStart(p, ring), v, 1);
    double oval[4] = {v[0] - w / 2, v[1] - w / 2, v[0] + w / 2, v[1] + w / 2};
    return TkOvalToArea(oval, rect);
  }
  std::vector<double> world = ringWorldPoints(c, p, ring);
  int n = static_cast<int>(world.size() / 2);
  std::vector<double> pts(world.size());
  worldToCanvas(c, world.data(), pts.data(), n);
  int result;
  if (p->fillGC != None) {
    result = TkPolygonToArea(pts.data(), n, rect);
    if (result == 0) return 0;
  } else {
    result = (pts[0] >= rect[0] && pts[0] <= rect[2] && pts[1] >= rect[1] && pts[1] <= rect[3])
                 ? 1
                 : -1;
  }
  if (p->outline.gc != None &&
      TkThickPolyLineToArea(pts.data(), n, w, CapRound, p->joinStyle, rect) != result)
    return 0;
  return result;
}

int polygonToAreaProc(ItemContainer *c, GcanvasItem *item, double *rect) {
  GcanvasPolygonItem *p = asPoly(item);
  if (effectiveState(c, item) == STATE_HIDDEN || p->numRings == 0) return -1;
  int result = ringToArea(c, p, 0, rect);
  if (result != 0) return result;
  /* Overlapping the boundary: an area that lies wholly inside a hole is outside. */
  for (int i = 1; i < p->numRings; i++) {
    if (ringToArea(c, p, i, rect) != 0) continue;
    std::vector<double> world = ringWorldPoints(c, p, i);
    int n = static_cast<int>(world.size() / 2);
    std::vector<double> pts(world.size());
    worldToCanvas(c, world.data(), pts.data(), n);
    double w = p->outline.gc != None ? currentWidth(c, p) : 0;
    double corner[2] = {rect[0], rect[1]};
    bool edgesOutside = TkThickPolyLineToArea(pts.data(), n, w < 1 ? 1 : w, CapRound,
                                              p->joinStyle, rect) == -1;
    if (edgesOutside && TkPolygonToPoint(pts.data(), n, corner) == 0.0) return -1;
  }
  return 0;
}

void scalePolygon(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx,
                  double sy) {
  GcanvasPolygonItem *p = asPoly(item);
  scaleWorldPoints(p->coordPtr, p->numPoints, ox, oy, sx, sy);
  computePolygonBbox(c, item);
}

void translatePolygon(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasPolygonItem *p = asPoly(item);
  translateWorldPoints(p->coordPtr, p->numPoints, dx, dy);
  computePolygonBbox(c, item);
}

int polygonIndex(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, Tcl_Obj *obj,
                 int *index) {
  GcanvasPolygonItem *p = asPoly(item);
  int total = userTotal(p);
  const char *text = Tcl_GetString(obj);
  size_t length = strlen(text);
  if (text[0] == 'e' && strncmp(text, "end", length) == 0) {
    *index = total;
    return TCL_OK;
  }
  if (text[0] == '@') {
    char *end;
    double x = strtod(text + 1, &end);
    if (end != text + 1 && *end == ',') {
      const char *yText = end + 1;
      double y = strtod(yText, &end);
      if (end != yText && *end == '\0') {
        double best = 1.0e36;
        int user = 0;
        *index = 0;
        int start = 0;
        for (int r = 0; r < p->numRings; r++) {
          int n = p->ringCounts[r] - p->closingFlags[r];
          for (int k = 0; k < n; k++, user++) {
            const double *v = p->coordPtr + 2 * (start + k);
            double d = hypot((v[0] - x) * c->mx, (v[1] - y) * c->my);
            if (d < best) best = d, *index = 2 * user;
          }
          start += p->ringCounts[r];
        }
        return TCL_OK;
      }
    }
  } else {
    int value;
    if (Tcl_GetInt(nullptr, text, &value) == TCL_OK) {
      value &= ~1;
      if (total == 0) *index = 0;
      else if (value > 0) *index = ((value - 2) % total) + 2;
      else *index = -((-value) % total);
      return TCL_OK;
    }
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "bad index \"", text, "\"", nullptr);
  return TCL_ERROR;
}

void polygonInsert(ItemContainer *c, GcanvasItem *item, int index, Tcl_Obj *obj) {
  GcanvasPolygonItem *p = asPoly(item);
  int objc;
  Tcl_Obj **objv;
  if (!obj || Tcl_ListObjGetElements(nullptr, obj, &objc, &objv) != TCL_OK || objc == 0 ||
      (objc & 1))
    return;
  std::vector<double> added(static_cast<size_t>(objc));
  for (int i = 0; i < objc; i++)
    if (canvasGetCoordFromObj(nullptr, c, objv[i], &added[static_cast<size_t>(i)]) != TCL_OK) {
      Tcl_ResetResult(c->interp);
      return;
    }
  int total = userTotal(p);
  std::vector<Ring> rings = userRings(p);
  if (rings.empty()) {
    Ring r;
    r.v = added;
    rings.push_back(r);
    storeRings(p, rings, true);
    computePolygonBbox(c, item);
    return;
  }
  if (total > 0) {
    while (index > total) index -= total;
    while (index < 0) index += total;
  } else {
    index = 0;
  }
  size_t ring = 0;
  int position = index;
  while (ring + 1 < rings.size() && position >= static_cast<int>(rings[ring].v.size())) {
    position -= static_cast<int>(rings[ring].v.size());
    ring++;
  }
  Ring &r = rings[ring];
  if (position > static_cast<int>(r.v.size())) position = static_cast<int>(r.v.size());
  if (position == 0 && !r.closingAdded && r.v.size() >= 2) {
    /* The ring was given closed: it closes again on its new first vertex. */
    r.v.resize(r.v.size() - 2);
  }
  r.v.insert(r.v.begin() + position, added.begin(), added.end());
  r.closingAdded = -1;
  storeRings(p, rings, false);
  computePolygonBbox(c, item);
}

void polygonDeleteCoords(ItemContainer *c, GcanvasItem *item, int first, int last) {
  GcanvasPolygonItem *p = asPoly(item);
  int total = userTotal(p);
  if (total == 0) return;
  while (first >= total) first -= total;
  while (first < 0) first += total;
  while (last >= total) last -= total;
  while (last < 0) last += total;
  first &= ~1;
  last &= ~1;
  int count = total / 2;
  std::vector<bool> gone(static_cast<size_t>(count), false);
  if (last >= first) {
    for (int i = first / 2; i <= last / 2; i++) gone[static_cast<size_t>(i)] = true;
  } else {
    for (int i = first / 2; i < count; i++) gone[static_cast<size_t>(i)] = true;
    for (int i = 0; i <= last / 2; i++) gone[static_cast<size_t>(i)] = true;
  }
  std::vector<Ring> rings = userRings(p);
  int user = 0;
  for (Ring &r : rings) {
    int n = static_cast<int>(r.v.size() / 2);
    bool firstGone = n > 0 && gone[static_cast<size_t>(user)];
    bool closingStays = !r.closingAdded && n > 1 && !gone[static_cast<size_t>(user + n - 1)];
    std::vector<double> kept;
    for (int k = 0; k < n; k++)
      if (!gone[static_cast<size_t>(user + k)]) {
        kept.push_back(r.v[2 * k]);
        kept.push_back(r.v[2 * k + 1]);
      }
    /* A ring given closed that lost its first vertex closes on its new first one. */
    if (firstGone && closingStays && !kept.empty()) kept.resize(kept.size() - 2);
    user += n;
    r.v = kept;
    r.closingAdded = -1;
  }
  storeRings(p, rings, false);
  computePolygonBbox(c, item);
}

int polygonToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int) {
  GcanvasPolygonItem *p = asPoly(item);
  if (p->numPoints < 2) return TCL_OK;
  double w = currentWidth(c, p);
  XColor *outline = stateOutline(c, p);
  XColor *fill = stateFill(c, p);
  Pixmap stipple = stateFillStipple(c, p);
  if (p->numPoints == 2) {
    if (!outline) return TCL_OK;
    Pixmap dot = p->fillStipple;
    if (itemIsCurrent(c, item) && p->outline.activeStipple != None) dot = p->outline.activeStipple;
    else if (effectiveState(c, item) == STATE_DISABLED && p->outline.disabledStipple != None)
      dot = p->outline.disabledStipple;
    double v[2];
    worldToCanvas(c, p->coordPtr, v, 1);
    char buffer[256];
    snprintf(buffer, sizeof buffer,
             "matrix currentmatrix\n%.15g %.15g translate %.15g %.15g scale 1 0 moveto 0 0 1 0 "
             "360 arc\nsetmatrix\n",
             v[0], canvasPsY(c, v[1]), w / 2, w / 2);
    Tcl_AppendResult(interp, buffer, nullptr);
    if (canvasPsColor(interp, c, outline) != TCL_OK) return TCL_ERROR;
    if (dot != None) {
      Tcl_AppendResult(interp, "clip ", nullptr);
      return canvasPsStipple(interp, c, dot);
    }
    Tcl_AppendResult(interp, "fill\n", nullptr);
    return TCL_OK;
  }
  auto path = [&]() {
    for (int i = 0; i < p->numRings; i++) {
      int n = p->ringCounts[i];
      double *v = p->coordPtr + 2 * ringStart(p, i);
      if (p->smooth && n > 2 && p->smooth->postscriptProc) {
        std::vector<double> pixels(2 * static_cast<size_t>(n));
        worldToCanvas(c, v, pixels.data(), n);
        p->smooth->postscriptProc(interp, c, pixels.data(), n, p->splineSteps);
      } else {
        canvasPsPath(interp, c, v, n);
      }
    }
  };
  if (fill && p->numPoints > 3) {
    path();
    if (canvasPsColor(interp, c, fill) != TCL_OK) return TCL_ERROR;
    if (stipple != None) {
      Tcl_AppendResult(interp, "eoclip ", nullptr);
      if (canvasPsStipple(interp, c, stipple) != TCL_OK) return TCL_ERROR;
      if (outline) Tcl_AppendResult(interp, "grestore gsave\n", nullptr);
    } else {
      Tcl_AppendResult(interp, "eofill\n", nullptr);
    }
  }
  if (outline) {
    path();
    Tcl_AppendResult(interp,
                     p->joinStyle == JoinRound   ? "1"
                     : p->joinStyle == JoinBevel ? "2"
                                                 : "0",
                     " setlinejoin 1 setlinecap\n", nullptr);
    if (outlinePostScript(c, item, &p->outline) != TCL_OK) return TCL_ERROR;
  }
  return TCL_OK;
}

int polygonFromVertices(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item,
                        VertexData *data) {
  GcanvasPolygonItem *p = asPoly(item);
  initPolygon(p);
  if (Tk_ConfigureWidget(interp, canvasTkwin(c), polygonConfigSpecs, 0, nullptr,
                         reinterpret_cast<char *>(p), TK_CONFIG_OBJS) != TCL_OK)
    return TCL_ERROR;
  if (data && data->numParts > 0) {
    std::vector<Ring> rings;
    size_t at = 0;
    int numRings = data->partCounts ? data->numParts : 1;
    for (int i = 0; i < numRings; i++) {
      int n = data->partCounts ? data->partCounts[i] : data->numParts;
      Ring r;
      r.v.assign(data->vertices + at, data->vertices + at + 2 * static_cast<size_t>(n > 0 ? n : 0));
      at += 2 * static_cast<size_t>(n > 0 ? n : 0);
      rings.push_back(r);
    }
    storeRings(p, rings, false);
    for (int i = 0; i < p->numRings; i++) p->closingFlags[i] = 1;
  }
  if (data && data->styleSource) {
    Tk_Window tkwin = canvasTkwin(c);
    copyStyleSource(interp, tkwin, data->styleSource, &p->outline, &p->splineSteps, &p->smooth);
    freeItemColors({&p->fillColor});
    if (data->fillColor) p->fillColor = copyColor(interp, tkwin, data->fillColor);
    if (data->activeFillColor) p->activeFillColor = copyColor(interp, tkwin, data->activeFillColor);
    if (data->disabledFillColor)
      p->disabledFillColor = copyColor(interp, tkwin, data->disabledFillColor);
    finishPolygonConfigure(c, item);
  } else {
    computePolygonBbox(c, item);
  }
  return TCL_OK;
}

int polygonVertices(GcanvasItem *item, double **vertices) {
  *vertices = asPoly(item)->coordPtr;
  return asPoly(item)->numPoints;
}

int polygonRingCounts(GcanvasItem *item, int **counts) {
  *counts = asPoly(item)->ringCounts;
  return asPoly(item)->numRings;
}

int polygonGetComponent(GcanvasItem *item) { return asPoly(item)->currentComponent; }

void redrawRing(ItemContainer *c, GcanvasPolygonItem *p, int ring) {
  GcanvasRecord *canvas = canvasOf(c);
  if (p->numRings <= 1) {
    eventuallyRedrawArea(canvas, p->header.x1, p->header.y1, p->header.x2, p->header.y2, 1);
    return;
  }
  if (ring < 0 || ring >= p->numRings || p->ringCounts[ring] == 0) return;
  double box[4], r[4];
  pointsBox(p->coordPtr + 2 * ringStart(p, ring), p->ringCounts[ring], box);
  worldRectToCanvas(c, box[0], box[1], box[2], box[3], r);
  double m = p->header.xMargin + 1;
  eventuallyRedrawArea(canvas, r[0] - m, r[1] - m, r[2] + m, r[3] + m, 1);
}

void polygonSetComponent(ItemContainer *c, GcanvasItem *item, int on) {
  GcanvasPolygonItem *p = asPoly(item);
  switchHighlight(on, p->currentComponent, &p->highlightComponent,
                  [&](int ring) { redrawRing(c, p, ring); });
}

double polygonAreaMeasure(ItemContainer *, GcanvasItem *item) {
  GcanvasPolygonItem *p = asPoly(item);
  double area = 0;
  for (int i = 0; i < p->numRings; i++)
    area += polygonArea(p->coordPtr + 2 * ringStart(p, i), p->ringCounts[i]);
  return area;
}

double polygonLengthMeasure(ItemContainer *, GcanvasItem *item) {
  GcanvasPolygonItem *p = asPoly(item);
  double length = 0;
  for (int i = 0; i < p->numRings; i++)
    length += polylineLength(p->coordPtr + 2 * ringStart(p, i), p->ringCounts[i]);
  return length;
}

double polygonCentroidMeasure(ItemContainer *, GcanvasItem *item, double *x, double *y) {
  GcanvasPolygonItem *p = asPoly(item);
  double total = 0, sx = 0, sy = 0;
  for (int i = 0; i < p->numRings; i++) {
    double cx = 0, cy = 0;
    double a = polygonCentroid(p->coordPtr + 2 * ringStart(p, i), p->ringCounts[i], &cx, &cy);
    if (p->numRings == 1) {
      *x = cx;
      *y = cy;
      return a;
    }
    total += a;
    sx += a * cx;
    sy += a * cy;
  }
  if (total != 0) {
    *x = sx / total;
    *y = sy / total;
  }
  return total;
}

double polygonVangle(ItemContainer *, GcanvasItem *item, int vertex) {
  GcanvasPolygonItem *p = asPoly(item);
  return vertexAngle(p->coordPtr, p->numPoints, vertex);
}

double polygonLangle(ItemContainer *, GcanvasItem *item, double position, double *x, double *y) {
  GcanvasPolygonItem *p = asPoly(item);
  if (p->numRings == 0) return 0;
  double whole = floor(position);
  int ring = saturatingInt(fmod(whole, p->numRings));
  if (ring < 0) ring += p->numRings;
  return polylinePointAt(p->coordPtr + 2 * ringStart(p, ring), p->ringCounts[ring],
                         position - whole, x, y);
}

}  // namespace

GcanvasItemType polygonType = {
    "polygon", sizeof(GcanvasPolygonItem), createPolygon, polygonConfigSpecs, configurePolygon,
    polygonCoords, deletePolygon, displayPolygon, TK_ITEM_OBJS, polygonToPoint, polygonToAreaProc,
    polygonToPostscript, scalePolygon, translatePolygon, polygonIndex, nullptr, nullptr,
    polygonInsert, polygonDeleteCoords, computePolygonBbox, nullptr, nullptr, nullptr,
    polygonFromVertices, nullptr, polygonVertices, polygonRingCounts, nullptr, nullptr,
    polygonGetComponent, polygonSetComponent, polygonAreaMeasure, polygonLengthMeasure,
    polygonCentroidMeasure, polygonVangle, polygonLangle,
};

}  // namespace vesk
