/*
 * arc.cpp --
 *     The "arc" item type: a pie slice, chord or open arc of the ellipse
 *     inscribed in a world box.  All geometry is computed on the box
 *     mapped to canvas pixels, with the angles mapped to canvas space, so
 *     a flipped axis mirrors the arc.  The thick outline's straight parts
 *     are polygons computed whenever they are needed, never stored stale.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <tkInt.h>

#include "canvas/gcanvas.h"
#include "core/text.h"

namespace vesk {

namespace {

enum { PIESLICE_STYLE = 0, CHORD_STYLE = 1, ARC_STYLE = 2 };

struct GcanvasArcItem {
  GcanvasItem header;
  GcanvasOutline outline;
  double x1, y1, x2, y2;  /* world units */
  double start, extent;   /* degrees: [0, 360) and (-360, 360) */
  StippleOffset tsoffset;
  XColor *fillColor, *activeFillColor, *disabledFillColor;
  Pixmap fillStipple, activeFillStipple, disabledFillStipple;
  int style;
  GC fillGC;
};

/* The outline geometry in canvas pixels for the present view and state. */
struct ArcGeometry {
  double box[4];             /* ordered */
  double centre[2];
  double center1[2], center2[2];  /* start and end points on the ellipse */
  double outline[26];        /* chord: 7 points; pie slice: 6 then 7 points */
  double start, extent;      /* canvas angles */
  double width;              /* current width, at least 1 */
};

int styleParse(ClientData, Tcl_Interp *interp, Tk_Window, const char *value, char *widgRec,
               int offset) {
  int *style = reinterpret_cast<int *>(widgRec + offset);
  if (!value || !*value) {
    *style = PIESLICE_STYLE;
    return TCL_OK;
  }
  size_t n = strlen(value);
  if (value[0] == 'a' && strncmp(value, "arc", n) == 0 && n <= 3) *style = ARC_STYLE;
  else if (value[0] == 'c' && strncmp(value, "chord", n) == 0 && n <= 5) *style = CHORD_STYLE;
  else if (value[0] == 'p' && strncmp(value, "pieslice", n) == 0 && n <= 8) *style = PIESLICE_STYLE;
  else {
    Tcl_AppendResult(interp, "bad -style option \"", value,
                     "\": must be arc, chord, or pieslice", nullptr);
    *style = PIESLICE_STYLE;
    return TCL_ERROR;
  }
  return TCL_OK;
}

const char *stylePrint(ClientData, Tk_Window, char *widgRec, int offset, Tcl_FreeProc **) {
  int style = *reinterpret_cast<int *>(widgRec + offset);
  return style == ARC_STYLE ? "arc" : style == CHORD_STYLE ? "chord" : "pieslice";
}

Tk_CustomOption styleOption = {styleParse, stylePrint, nullptr};

#define ARC_OFFSET(field) static_cast<int>(offsetof(GcanvasArcItem, field))

Tk_ConfigSpec arcConfigSpecs[] = {
    {TK_CONFIG_CUSTOM, "-activedash", nullptr, nullptr, nullptr, ARC_OFFSET(outline.activeDash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-activefill", nullptr, nullptr, nullptr, ARC_OFFSET(activeFillColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-activeoutline", nullptr, nullptr, nullptr,
     ARC_OFFSET(outline.activeColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activeoutlinestipple", nullptr, nullptr, nullptr,
     ARC_OFFSET(outline.activeStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activestipple", nullptr, nullptr, nullptr, ARC_OFFSET(activeFillStipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-activewidth", nullptr, nullptr, "0.0", ARC_OFFSET(outline.activeWidth),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_CUSTOM, "-dash", nullptr, nullptr, nullptr, ARC_OFFSET(outline.dash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_PIXELS, "-dashoffset", nullptr, nullptr, "0", ARC_OFFSET(outline.offset),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-disableddash", nullptr, nullptr, nullptr,
     ARC_OFFSET(outline.disabledDash), TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-disabledfill", nullptr, nullptr, nullptr, ARC_OFFSET(disabledFillColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-disabledoutline", nullptr, nullptr, nullptr,
     ARC_OFFSET(outline.disabledColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledoutlinestipple", nullptr, nullptr, nullptr,
     ARC_OFFSET(outline.disabledStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledstipple", nullptr, nullptr, nullptr,
     ARC_OFFSET(disabledFillStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-disabledwidth", nullptr, nullptr, "0.0",
     ARC_OFFSET(outline.disabledWidth), TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_DOUBLE, "-extent", nullptr, nullptr, "90", ARC_OFFSET(extent),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_COLOR, "-fill", nullptr, nullptr, nullptr, ARC_OFFSET(fillColor), TK_CONFIG_NULL_OK,
     nullptr},
    {TK_CONFIG_CUSTOM, "-offset", nullptr, nullptr, "0,0", ARC_OFFSET(tsoffset),
     TK_CONFIG_DONT_SET_DEFAULT, &offsetOption},
    {TK_CONFIG_COLOR, "-outline", nullptr, nullptr, "black", ARC_OFFSET(outline.color),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-background", "background", "Background", nullptr,
     ARC_OFFSET(outline.background), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_CUSTOM, "-outlineoffset", nullptr, nullptr, "0,0", ARC_OFFSET(outline.tsoffset),
     TK_CONFIG_DONT_SET_DEFAULT, &offsetOption},
    {TK_CONFIG_BITMAP, "-outlinestipple", nullptr, nullptr, nullptr, ARC_OFFSET(outline.stipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_DOUBLE, "-start", nullptr, nullptr, "0", ARC_OFFSET(start),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, ARC_OFFSET(header.state),
     TK_CONFIG_NULL_OK, &stateOption},
    {TK_CONFIG_BITMAP, "-stipple", nullptr, nullptr, nullptr, ARC_OFFSET(fillStipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-style", nullptr, nullptr, nullptr, ARC_OFFSET(style),
     TK_CONFIG_DONT_SET_DEFAULT, &styleOption},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_CUSTOM, "-width", nullptr, nullptr, "1.0", ARC_OFFSET(outline.width),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

GcanvasArcItem *asArc(GcanvasItem *item) { return reinterpret_cast<GcanvasArcItem *>(item); }

/* Whole turns removed; the start brought into [0, 360). */
void normaliseAngles(double *start, double *extent) {
  *start -= 360.0 * trunc(*start / 360.0);
  if (*start < 0) *start += 360.0;
  *extent -= 360.0 * trunc(*extent / 360.0);
}

/* The angles in canvas space: a flipped axis mirrors the arc. */
void canvasAngles(ItemContainer *c, GcanvasArcItem *arc, double *s, double *e) {
  *s = arc->start;
  *e = arc->extent;
  if (c->mx >= 0 && c->my >= 0) {
  } else if (c->my >= 0) {
    *s = 180 - *s;
    *e = -*e;
  } else if (c->mx >= 0) {
    *s = -*s;
    *e = -*e;
  } else {
    *s += 180;
  }
  normaliseAngles(s, e);
}

double currentWidth(ItemContainer *c, GcanvasArcItem *arc) {
  GcanvasOutline &o = arc->outline;
  double width = o.width;
  if (itemIsCurrent(c, &arc->header)) {
    if (o.activeWidth > width) width = o.activeWidth;
  } else if (effectiveState(c, &arc->header) == STATE_DISABLED) {
    if (o.disabledWidth > width) width = o.disabledWidth;
  }
  return width < 1.0 ? 1.0 : width;
}

const GcanvasDash *currentDash(ItemContainer *c, GcanvasArcItem *arc) {
  GcanvasOutline &o = arc->outline;
  if (itemIsCurrent(c, &arc->header) && o.activeDash.number != 0) return &o.activeDash;
  if (effectiveState(c, &arc->header) == STATE_DISABLED && o.disabledDash.number != 0)
    return &o.disabledDash;
  return &o.dash;
}

XColor *stateFill(ItemContainer *c, GcanvasArcItem *arc) {
  return stateValue(c, &arc->header, arc->fillColor, arc->activeFillColor, arc->disabledFillColor);
}

Pixmap stateStipple(ItemContainer *c, GcanvasArcItem *arc) {
  return stateValue(c, &arc->header, arc->fillStipple, arc->activeFillStipple,
                    arc->disabledFillStipple);
}

/* Whether a canvas angle (degrees) lies within the arc from s over e. */
bool angleInArc(double angle, double s, double e) {
  double t = angle - s;
  t -= 360.0 * floor(t / 360.0);
  return t < e || t - 360 > e;
}

/*
 * arcGeometry --
 *     Maps the box and angles to canvas pixels and computes the end
 *     points and the thick outline's polygons.
 */
void arcGeometry(ItemContainer *c, GcanvasArcItem *arc, ArcGeometry *g) {
  canvasAngles(c, arc, &g->start, &g->extent);
  g->width = currentWidth(c, arc);
  double p1[2] = {arc->x1, arc->y1}, p2[2] = {arc->x2, arc->y2};
  worldPointsToCanvasRect(c, p1, p2, g->box);
  double W = g->box[2] - g->box[0], H = g->box[3] - g->box[1];
  double *ctr = g->centre;
  ctr[0] = (g->box[0] + g->box[2]) / 2;
  ctr[1] = (g->box[1] + g->box[3]) / 2;
  double a1 = -g->start * M_PI / 180.0, a2 = a1 - g->extent * M_PI / 180.0;
  g->center1[0] = ctr[0] + W / 2 * cos(a1);
  g->center1[1] = ctr[1] + H / 2 * sin(a1);
  g->center2[0] = ctr[0] + W / 2 * cos(a2);
  g->center2[1] = ctr[1] + H / 2 * sin(a2);
  double hw = g->width / 2;
  auto cornerAngle = [&](double a) {
    double y = W * sin(a), x = H * cos(a);
    return (y == 0 && x == 0) ? 0.0 : atan2(y, x);
  };
  double g1 = cornerAngle(a1), g2 = cornerAngle(a2);
  double corner1[2] = {g->center1[0] + hw * cos(g1), g->center1[1] + hw * sin(g1)};
  double corner2[2] = {g->center2[0] + hw * cos(g2), g->center2[1] + hw * sin(g2)};
  double *o = g->outline;
  memset(o, 0, sizeof g->outline);
  auto set = [](double *dst, const double *src) {
    dst[0] = src[0];
    dst[1] = src[1];
  };
  auto shifted = [](double *dst, const double *base, const double *plus, const double *minus) {
    dst[0] = base[0] + plus[0] - minus[0];
    dst[1] = base[1] + plus[1] - minus[1];
  };
  if (arc->style == CHORD_STYLE) {
    set(o, corner1);
    set(o + 12, corner1);
    TkGetButtPoints(g->center2, g->center1, g->width, 0, o + 10, o + 2);
    shifted(o + 4, g->center2, o + 2, g->center1);
    set(o + 6, corner2);
    shifted(o + 8, g->center2, o + 10, g->center1);
  } else if (arc->style == PIESLICE_STYLE) {
    TkGetButtPoints(g->center1, ctr, g->width, 0, o, o + 2);
    shifted(o + 4, g->center1, o + 2, ctr);
    set(o + 6, corner1);
    shifted(o + 8, g->center1, o, ctr);
    set(o + 10, o);
    TkGetButtPoints(g->center2, ctr, g->width, 0, o + 12, o + 16);
    double e = g->extent;
    set(o + 14, (e > 180 || (e > -180 && e < 0)) ? o : o + 2);
    shifted(o + 18, g->center2, o + 16, ctr);
    set(o + 20, corner2);
    shifted(o + 22, g->center2, o + 12, ctr);
    set(o + 24, o + 12);
  }
}

void computeArcBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasArcItem *arc = asArc(item);
  if (effectiveState(c, item) == STATE_HIDDEN) {
    item->x1 = item->y1 = item->x2 = item->y2 = -1;
    return;
  }
  if (arc->x1 > arc->x2) std::swap(arc->x1, arc->x2);
  if (arc->y1 > arc->y2) std::swap(arc->y1, arc->y2);
  ArcGeometry g;
  arcGeometry(c, arc, &g);
  item->x1 = item->x2 = roundToInt(g.center1[0]);
  item->y1 = item->y2 = roundToInt(g.center1[1]);
  growItemBox(item, g.center2[0], g.center2[1]);
  if (arc->style == PIESLICE_STYLE) growItemBox(item, g.centre[0], g.centre[1]);
  const double quarter[4][3] = {{0, g.box[2], g.centre[1]},
                                {90, g.centre[0], g.box[1]},
                                {180, g.box[0], g.centre[1]},
                                {270, g.centre[0], g.box[3]}};
  for (const auto &q : quarter)
    if (angleInArc(q[0], g.start, g.extent)) growItemBox(item, q[1], q[2]);
  int m = arc->outline.gc != None ? roundToInt(g.width + 1.5) : 1;
  item->x1 -= m;
  item->y1 -= m;
  item->x2 += m;
  item->y2 += m;
  item->xMargin = item->yMargin = static_cast<float>(m);
}

int arcCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
              Tcl_Obj *const objv[]) {
  GcanvasArcItem *arc = asArc(item);
  double *const fields[4] = {&arc->x1, &arc->y1, &arc->x2, &arc->y2};
  if (fixedItemCoords(interp, objc, objv, c, 4, fields) != TCL_OK) return TCL_ERROR;
  if (objc > 0) computeArcBbox(c, item);
  return TCL_OK;
}

void placeOffset(GcanvasArcItem *arc, StippleOffset *ts) {
  if (ts->flags & OFFSET_INDEX) return;
  if (ts->flags & OFFSET_LEFT) ts->x = saturatingInt(arc->x1 + 0.5);
  else if (ts->flags & OFFSET_CENTER) ts->x = saturatingInt((arc->x1 + arc->x2 + 1) / 2);
  else if (ts->flags & OFFSET_RIGHT) ts->x = saturatingInt(arc->x2 + 0.5);
  if (ts->flags & OFFSET_TOP) ts->y = saturatingInt(arc->y1 + 0.5);
  else if (ts->flags & OFFSET_MIDDLE) ts->y = saturatingInt((arc->y1 + arc->y2 + 1) / 2);
  else if (ts->flags & OFFSET_BOTTOM) ts->y = saturatingInt(arc->y2 + 0.5);
}

int configureArc(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[], int flags) {
  GcanvasArcItem *arc = asArc(item);
  Tk_Window tkwin = canvasTkwin(c);
  int code = Tk_ConfigureWidget(interp, tkwin, arcConfigSpecs, objc, objWords(objv),
                                reinterpret_cast<char *>(arc), flags | TK_CONFIG_OBJS);
  GcanvasOutline &o = arc->outline;
  setStateDependant(item, outlineHasActiveLook(&o) || arc->activeFillColor ||
                              arc->activeFillStipple != None);
  placeOffset(arc, &o.tsoffset);
  normaliseAngles(&arc->start, &arc->extent);

  XGCValues values;
  GC newGC = None;
  int mask = configOutlineGC(&values, c, item, &o);
  if (mask) {
    values.cap_style = CapButt;
    mask |= GCCapStyle;
    newGC = Tk_GetGC(tkwin, static_cast<unsigned long>(mask), &values);
  }
  replaceGC(Tk_Display(tkwin), &o.gc, newGC);

  if (effectiveState(c, item) != STATE_HIDDEN) {
    GC fillGC = None;
    if (arc->style != ARC_STYLE) {
      values.arc_mode = arc->style == CHORD_STYLE ? ArcChord : ArcPieSlice;
      fillGC = getFillGC(tkwin, stateFill(c, arc), stateStipple(c, arc), &values, GCArcMode);
    }
    replaceGC(Tk_Display(tkwin), &arc->fillGC, fillGC);
    placeOffset(arc, &arc->tsoffset);
  }
  computeArcBbox(c, item);
  return code;
}

void deleteArc(ItemContainer *, GcanvasItem *item, Display *display) {
  GcanvasArcItem *arc = asArc(item);
  freeOutline(display, &arc->outline);
  freeItemColors({&arc->fillColor, &arc->activeFillColor, &arc->disabledFillColor});
  freeItemBitmaps(display, {&arc->fillStipple, &arc->activeFillStipple, &arc->disabledFillStipple});
  freeItemGCs(display, {&arc->fillGC});
}

int createArc(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
              Tcl_Obj *const objv[]) {
  GcanvasArcItem *arc = asArc(item);
  int coords = createCoordCount(interp, c, item, objc, objv, 4, "x1 y1 x2 y2");
  if (coords < 0) return TCL_ERROR;
  initOutline(&arc->outline);
  arc->x1 = arc->y1 = arc->x2 = arc->y2 = 0;
  arc->start = 0;
  arc->extent = 90;
  arc->tsoffset = StippleOffset();
  arc->fillColor = arc->activeFillColor = arc->disabledFillColor = nullptr;
  arc->fillStipple = arc->activeFillStipple = arc->disabledFillStipple = None;
  arc->style = PIESLICE_STYLE;
  arc->fillGC = None;
  return createFromWords(interp, c, item, objc, objv, coords);
}

/* Fills a polygon given in canvas pixels. */
void fillPixelPolygon(GcanvasRecord *canvas, Display *display, Drawable drawable, GC gc,
                      const double *points, int n) {
  XPoint xp[8];
  for (int i = 0; i < n && i < 8; i++) {
    xp[i].x = toDrawableCoord(canvas->drawableXOrigin, points[2 * i]);
    xp[i].y = toDrawableCoord(canvas->drawableYOrigin, points[2 * i + 1]);
  }
  XFillPolygon(display, drawable, gc, xp, n, Complex, CoordModeOrigin);
}

void displayArc(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable, int, int,
                int, int) {
  GcanvasArcItem *arc = asArc(item);
  if (drawable == None) return;
  GcanvasRecord *canvas = canvasOf(c);
  ArcGeometry g;
  arcGeometry(c, arc, &g);
  int x1 = toDrawableCoord(canvas->drawableXOrigin, g.box[0]);
  int y1 = toDrawableCoord(canvas->drawableYOrigin, g.box[1]);
  int x2 = toDrawableCoord(canvas->drawableXOrigin, g.box[2]);
  int y2 = toDrawableCoord(canvas->drawableYOrigin, g.box[3]);
  if (x2 <= x1) x2 = x1 + 1;
  if (y2 <= y1) y2 = y1 + 1;
  unsigned w = static_cast<unsigned>(x2 - x1), h = static_cast<unsigned>(y2 - y1);
  int start = roundToInt(g.start * 64), extent = roundToInt(g.extent * 64);
  if (arc->fillGC != None && extent != 0) {
    Pixmap stipple = stateStipple(c, arc);
    if (stipple != None) setStippleOffset(c, arc->fillGC, &arc->tsoffset);
    XFillArc(display, drawable, arc->fillGC, x1, y1, w, h, start, extent);
    if (stipple != None) XSetTSOrigin(display, arc->fillGC, 0, 0);
  }
  GC gc = arc->outline.gc;
  if (gc != None) {
    changeOutlineGC(c, item, &arc->outline);
    if (extent != 0) XDrawArc(display, drawable, gc, x1, y1, w, h, start, extent);
    bool dashed = currentDash(c, arc)->number != 0;
    if (g.width >= 1.5 && !dashed) {
      if (arc->style == CHORD_STYLE) {
        fillPixelPolygon(canvas, display, drawable, gc, g.outline, 7);
      } else if (arc->style == PIESLICE_STYLE) {
        fillPixelPolygon(canvas, display, drawable, gc, g.outline, 6);
        fillPixelPolygon(canvas, display, drawable, gc, g.outline + 12, 7);
      }
    } else {
      auto line = [&](const double *a, const double *b) {
        XDrawLine(display, drawable, gc, toDrawableCoord(canvas->drawableXOrigin, a[0]),
                  toDrawableCoord(canvas->drawableYOrigin, a[1]),
                  toDrawableCoord(canvas->drawableXOrigin, b[0]),
                  toDrawableCoord(canvas->drawableYOrigin, b[1]));
      };
      if (arc->style == CHORD_STYLE) {
        line(g.center1, g.center2);
      } else if (arc->style == PIESLICE_STYLE) {
        line(g.centre, g.center1);
        line(g.centre, g.center2);
      }
    }
    resetOutlineGC(c, item, &arc->outline);
  }
}

double arcToPoint(ItemContainer *c, GcanvasItem *item, double *point) {
  GcanvasArcItem *arc = asArc(item);
  ArcGeometry g;
  arcGeometry(c, arc, &g);
  double W = g.box[2] - g.box[0], H = g.box[3] - g.box[1];
  double dy = H != 0 ? (point[1] - g.centre[1]) / H : 0;
  double dx = W != 0 ? (point[0] - g.centre[0]) / W : 0;
  double angle = (dx == 0 && dy == 0) ? 0 : -atan2(dy, dx) * 180 / M_PI;
  angle -= g.start;
  angle -= 360.0 * floor(angle / 360.0);
  bool inRange = g.extent >= 0 ? angle <= g.extent : angle >= g.extent + 360;
  bool outlined = arc->outline.gc != None;
  double width = outlined ? g.width : 0;
  bool filled = arc->fillGC != None || !outlined;
  if (arc->style == ARC_STYLE) {
    if (inRange) return ovalToPointScaled(1, 1, g.box, width, 0, point);
    return std::min(hypot(point[0] - g.center1[0], point[1] - g.center1[1]),
                    hypot(point[0] - g.center2[0], point[1] - g.center2[1]));
  }
  if (arc->style == CHORD_STYLE) {
    double dist = width > 1 ? polygonToPointScaled(1, 1, g.outline, 7, point, nullptr)
                            : lineToPointScaled(1, 1, g.center1, g.center2, point);
    double triangle[6] = {g.centre[0], g.centre[1], g.center1[0], g.center1[1], g.center2[0],
                          g.center2[1]};
    double polyDist = polygonToPointScaled(1, 1, triangle, 3, point, nullptr);
    if (!inRange) {
      if ((g.extent < -180 || g.extent > 180) && filled && polyDist < dist) dist = polyDist;
      return dist;
    }
    if (g.extent >= -180 && g.extent <= 180 && polyDist == 0) return dist;
    double oval = ovalToPointScaled(1, 1, g.box, width, filled, point);
    return oval < dist ? oval : dist;
  }
  double dist;
  if (width > 1) {
    dist = polygonToPointScaled(1, 1, g.outline, 6, point, nullptr);
    dist = std::min(dist, polygonToPointScaled(1, 1, g.outline + 12, 7, point, nullptr));
  } else {
    dist = lineToPointScaled(1, 1, g.centre, g.center1, point);
    dist = std::min(dist, lineToPointScaled(1, 1, g.centre, g.center2, point));
  }
  if (inRange) {
    double oval = ovalToPointScaled(1, 1, g.box, width, filled, point);
    if (oval < dist) dist = oval;
  }
  return dist;
}

/* Whether the direction (px, py) from the centre lies within the arc from s over e. */
bool directionInArc(double px, double py, double s, double e) {
  if (px == 0 && py == 0) return true;
  double d = -atan2(py, px) * 180 / M_PI - s;
  d -= 360.0 * floor(d / 360.0);
  return e >= 0 ? d <= e : d - 360 >= e;
}

/* Horizontal edge y (relative, from x1 to x2) against the ellipse rx, ry. */
bool hitsHorizontal(double y, double x1, double x2, double rx, double ry, double s, double e) {
  double ty = y / ry, t = 1 - ty * ty;
  if (t < 0) return false;
  double tx = sqrt(t), x = tx * rx;
  return (x >= x1 && x <= x2 && directionInArc(tx, ty, s, e)) ||
         (-x >= x1 && -x <= x2 && directionInArc(-tx, ty, s, e));
}

bool hitsVertical(double x, double y1, double y2, double rx, double ry, double s, double e) {
  double tx = x / rx, t = 1 - tx * tx;
  if (t < 0) return false;
  double ty = sqrt(t), y = ty * ry;
  return (y > y1 && y < y2 && directionInArc(tx, ty, s, e)) ||
         (-y > y1 && -y < y2 && directionInArc(tx, -ty, s, e));
}

int arcToArea(ItemContainer *c, GcanvasItem *item, double *rect) {
  GcanvasArcItem *arc = asArc(item);
  ArcGeometry g;
  arcGeometry(c, arc, &g);
  bool outlined = arc->outline.gc != None;
  double w = outlined ? g.width : 0;
  bool filled = arc->fillGC != None || !outlined;
  double cx = g.centre[0], cy = g.centre[1];
  double r[4] = {rect[0] - cx, rect[1] - cy, rect[2] - cx, rect[3] - cy};
  double rx = (g.box[2] - cx) + w / 2, ry = (g.box[3] - cy) + w / 2;
  double a1 = -g.start * M_PI / 180.0, a2 = a1 - g.extent * M_PI / 180.0;
  std::vector<double> keys = {rx * cos(a1), ry * sin(a1), rx * cos(a2), ry * sin(a2)};
  if (arc->style == PIESLICE_STYLE && g.extent < 180) {
    keys.push_back(0);
    keys.push_back(0);
  }
  const double quarter[4][3] = {{0, rx, 0}, {90, 0, -ry}, {180, -rx, 0}, {270, 0, ry}};
  for (const auto &q : quarter)
    if (angleInArc(q[0], g.start, g.extent)) {
      keys.push_back(q[1]);
      keys.push_back(q[2]);
    }
  int inside = -1;
  for (size_t i = 0; i < keys.size(); i += 2) {
    int in = keys[i] > r[0] && keys[i] < r[2] && keys[i + 1] > r[1] && keys[i + 1] < r[3];
    if (inside < 0) inside = in;
    else if (inside != in) return 0;
  }
  if (inside == 1) return 1;
  /* all key points outside: the straight parts, then the curve */
  if (arc->style == CHORD_STYLE) {
    if (w < 1) {
      if (lineToArea(g.center1, g.center2, rect) != -1) return 0;
    } else if (polygonToArea(g.outline, 7, rect) != -1) {
      return 0;
    }
  } else if (arc->style == PIESLICE_STYLE) {
    if (w < 1) {
      if (lineToArea(g.centre, g.center1, rect) != -1) return 0;
      if (lineToArea(g.centre, g.center2, rect) != -1) return 0;
    } else {
      if (polygonToArea(g.outline, 6, rect) != -1) return 0;
      if (polygonToArea(g.outline + 12, 7, rect) != -1) return 0;
    }
  }
  for (int pass = 0; pass < 2; pass++) {
    double ex = pass ? rx - w : rx, ey = pass ? ry - w : ry;
    if (ex > 0 && ey > 0 &&
        (hitsHorizontal(r[1], r[0], r[2], ex, ey, g.start, g.extent) ||
         hitsHorizontal(r[3], r[0], r[2], ex, ey, g.start, g.extent) ||
         hitsVertical(r[0], r[1], r[3], ex, ey, g.start, g.extent) ||
         hitsVertical(r[2], r[1], r[3], ex, ey, g.start, g.extent)))
      return 0;
    if (!(w > 1 && !filled)) break;
  }
  return arcToPoint(c, item, rect) == 0 ? 0 : -1;
}

void scaleArc(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasArcItem *arc = asArc(item);
  scaleWorldPoint(&arc->x1, &arc->y1, ox, oy, sx, sy);
  scaleWorldPoint(&arc->x2, &arc->y2, ox, oy, sx, sy);
  computeArcBbox(c, item);
}

void translateArc(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasArcItem *arc = asArc(item);
  arc->x1 += dx;
  arc->x2 += dx;
  arc->y1 += dy;
  arc->y2 += dy;
  computeArcBbox(c, item);
}

/* A pixel polygon as a path on the PostScript state (no world mapping). */
void psPixelPolygon(Tcl_Interp *interp, ItemContainer *c, const double *points, int n) {
  psPath(interp, canvasOf(c)->psInfo, points, n);
}

int arcToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int prepass) {
  GcanvasArcItem *arc = asArc(item);
  (void)prepass;
  ArcGeometry g;
  arcGeometry(c, arc, &g);
  double y1 = canvasPsY(c, g.box[1]), y2 = canvasPsY(c, g.box[3]);
  double a1 = g.start, a2 = g.start + g.extent;
  if (a1 > a2) std::swap(a1, a2);
  char buffer[400];
  snprintf(buffer, sizeof buffer, "matrix currentmatrix\n%.15g %.15g translate %.15g %.15g scale\n",
           (g.box[0] + g.box[2]) / 2, (y1 + y2) / 2, (g.box[2] - g.box[0]) / 2, (y1 - y2) / 2);
  std::string matrix = buffer;
  XColor *fill = stateFill(c, arc);
  Pixmap stipple = stateStipple(c, arc);
  if (arc->fillGC != None && fill) {
    Tcl_AppendResult(interp, matrix.c_str(), nullptr);
    snprintf(buffer, sizeof buffer,
             arc->style == CHORD_STYLE
                 ? "0 0 1 %.15g %.15g arc closepath\nsetmatrix\n"
                 : "0 0 moveto 0 0 1 %.15g %.15g arc closepath\nsetmatrix\n",
             a1, a2);
    Tcl_AppendResult(interp, buffer, nullptr);
    if (canvasPsColor(interp, c, fill) != TCL_OK) return TCL_ERROR;
    if (stipple != None) {
      Tcl_AppendResult(interp, "clip ", nullptr);
      if (canvasPsStipple(interp, c, stipple) != TCL_OK) return TCL_ERROR;
      if (arc->outline.gc != None) Tcl_AppendResult(interp, "grestore gsave\n", nullptr);
    } else {
      Tcl_AppendResult(interp, "fill\n", nullptr);
    }
  }
  if (arc->outline.gc != None) {
    Tcl_AppendResult(interp, matrix.c_str(), nullptr);
    snprintf(buffer, sizeof buffer, "0 0 1 %.15g %.15g", a1, a2);
    Tcl_AppendResult(interp, buffer, " arc\nsetmatrix\n0 setlinecap\n", nullptr);
    if (outlinePostScript(c, item, &arc->outline) != TCL_OK) return TCL_ERROR;
    if (arc->style != ARC_STYLE) {
      GcanvasOutline &o = arc->outline;
      XColor *color = stateValue(c, item, o.color, o.activeColor, o.disabledColor);
      Pixmap ostipple = arc->outline.stipple;
      auto polygon = [&](const double *points, int n) {
        psPixelPolygon(interp, c, points, n);
        if (canvasPsColor(interp, c, color) != TCL_OK) return TCL_ERROR;
        if (ostipple != None) {
          Tcl_AppendResult(interp, "clip ", nullptr);
          if (canvasPsStipple(interp, c, ostipple) != TCL_OK) return TCL_ERROR;
        } else {
          Tcl_AppendResult(interp, "fill\n", nullptr);
        }
        return TCL_OK;
      };
      Tcl_AppendResult(interp, "grestore gsave\n", nullptr);
      if (arc->style == PIESLICE_STYLE) {
        if (polygon(g.outline, 6) != TCL_OK) return TCL_ERROR;
        Tcl_AppendResult(interp, "grestore gsave\n", nullptr);
        if (polygon(g.outline + 12, 7) != TCL_OK) return TCL_ERROR;
      } else {
        if (polygon(g.outline, 7) != TCL_OK) return TCL_ERROR;
      }
    }
  }
  return TCL_OK;
}

}  // namespace

GcanvasItemType arcType = {
    "arc", sizeof(GcanvasArcItem), createArc, arcConfigSpecs, configureArc, arcCoords, deleteArc,
    displayArc, TK_ITEM_OBJS, arcToPoint, arcToArea, arcToPostscript, scaleArc, translateArc,
    nullptr, nullptr, nullptr, nullptr, nullptr, computeArcBbox, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr,
};

}  // namespace vesk
