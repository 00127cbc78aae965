/*
 * line.cpp --
 *     The "line" item type: polylines in world coordinates, several parts
 *     to one item, arrowheads sized in screen pixels, the part under the
 *     pointer highlighted, editing by coordinate index, and the length,
 *     centroid and angle measures.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tkInt.h>

#include "canvas/gcanvas.h"

namespace vesk {

namespace {

enum { ARROWS_NONE = 0, ARROWS_FIRST = 1, ARROWS_LAST = 2, ARROWS_BOTH = 3 };

struct GcanvasLineItem {
  GcanvasItem header;
  GcanvasRecord *canvas;
  int numPoints;
  int numParts;
  int *partCounts;
  double *coordPtr;
  GC arrowGC;
  int arrow;
  float arrowShapeA, arrowShapeB, arrowShapeC;
  double *firstArrowPtr;  /* 6 points a part; points 0 and 5 are the tip */
  double *lastArrowPtr;
  GcanvasOutline outline;
  int joinStyle;
  int capStyle;
  int splineSteps;
  const SmoothMethod *smooth;
  int currentComponent;
  int highlightComponent;
  XColor *highlightColor;
  GC highlightGC;
};

#define LINE_OFFSET(field) static_cast<int>(offsetof(GcanvasLineItem, field))

int arrowParse(ClientData, Tcl_Interp *interp, Tk_Window, const char *value, char *widgRec,
               int offset) {
  int *arrow = reinterpret_cast<int *>(widgRec + offset);
  size_t length = value ? strlen(value) : 0;
  if (length == 0) {
    *arrow = ARROWS_NONE;
    return TCL_OK;
  }
  static const struct { const char *name; int value; } names[] = {
      {"none", ARROWS_NONE}, {"first", ARROWS_FIRST}, {"last", ARROWS_LAST}, {"both", ARROWS_BOTH}};
  for (const auto &n : names) {
    if (value[0] == n.name[0] && strncmp(value, n.name, length) == 0) {
      *arrow = n.value;
      return TCL_OK;
    }
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "bad arrow spec \"", value, "\": must be none, first, last, or both",
                   nullptr);
  *arrow = ARROWS_NONE;
  return TCL_ERROR;
}

const char *arrowPrint(ClientData, Tk_Window, char *widgRec, int offset, Tcl_FreeProc **freeProc) {
  *freeProc = nullptr;
  switch (*reinterpret_cast<int *>(widgRec + offset)) {
  case ARROWS_FIRST: return "first";
  case ARROWS_LAST: return "last";
  case ARROWS_BOTH: return "both";
  }
  return "none";
}

int arrowShapeParse(ClientData, Tcl_Interp *interp, Tk_Window, const char *value, char *widgRec,
                    int offset) {
  if (offset != LINE_OFFSET(arrowShapeA)) Tcl_Panic("ParseArrowShape received bogus offset");
  GcanvasLineItem *line = reinterpret_cast<GcanvasLineItem *>(widgRec);
  int argc = 0;
  const char **argv = nullptr;
  double a, b, c;
  bool good = Tcl_SplitList(interp, value, &argc, &argv) == TCL_OK && argc == 3 &&
              canvasGetCoord(interp, &line->canvas->c, argv[0], &a) == TCL_OK &&
              canvasGetCoord(interp, &line->canvas->c, argv[1], &b) == TCL_OK &&
              canvasGetCoord(interp, &line->canvas->c, argv[2], &c) == TCL_OK;
  if (argv) ckfree((char *)argv);
  if (!good) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "bad arrow shape \"", value, "\": must be list with three numbers",
                     nullptr);
    return TCL_ERROR;
  }
  line->arrowShapeA = static_cast<float>(a);
  line->arrowShapeB = static_cast<float>(b);
  line->arrowShapeC = static_cast<float>(c);
  return TCL_OK;
}

const char *arrowShapePrint(ClientData, Tk_Window, char *widgRec, int, Tcl_FreeProc **freeProc) {
  GcanvasLineItem *line = reinterpret_cast<GcanvasLineItem *>(widgRec);
  char *buffer = (char *)ckalloc(120);
  snprintf(buffer, 120, "%.5g %.5g %.5g", line->arrowShapeA, line->arrowShapeB,
           line->arrowShapeC);
  *freeProc = TCL_DYNAMIC;
  return buffer;
}

Tk_CustomOption arrowOption = {arrowParse, arrowPrint, nullptr};
Tk_CustomOption arrowShapeOption = {arrowShapeParse, arrowShapePrint, nullptr};

Tk_ConfigSpec lineConfigSpecs[] = {
    {TK_CONFIG_CUSTOM, "-activedash", nullptr, nullptr, nullptr, LINE_OFFSET(outline.activeDash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-activefill", nullptr, nullptr, nullptr, LINE_OFFSET(outline.activeColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activestipple", nullptr, nullptr, nullptr,
     LINE_OFFSET(outline.activeStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-activewidth", nullptr, nullptr, "0.0", LINE_OFFSET(outline.activeWidth),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_CUSTOM, "-arrow", nullptr, nullptr, "none", LINE_OFFSET(arrow),
     TK_CONFIG_DONT_SET_DEFAULT, &arrowOption},
    {TK_CONFIG_CUSTOM, "-arrowshape", nullptr, nullptr, "8 10 3", LINE_OFFSET(arrowShapeA),
     TK_CONFIG_DONT_SET_DEFAULT, &arrowShapeOption},
    {TK_CONFIG_CAP_STYLE, "-capstyle", nullptr, nullptr, "butt", LINE_OFFSET(capStyle),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_COLOR, "-fill", nullptr, nullptr, "black", LINE_OFFSET(outline.color),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_SYNONYM, "-outline", "fill", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_COLOR, "-background", "background", "Background", nullptr,
     LINE_OFFSET(outline.background), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_CUSTOM, "-dash", nullptr, nullptr, nullptr, LINE_OFFSET(outline.dash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_PIXELS, "-dashoffset", nullptr, nullptr, "0", LINE_OFFSET(outline.offset),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-disableddash", nullptr, nullptr, nullptr,
     LINE_OFFSET(outline.disabledDash), TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-disabledfill", nullptr, nullptr, nullptr,
     LINE_OFFSET(outline.disabledColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledstipple", nullptr, nullptr, nullptr,
     LINE_OFFSET(outline.disabledStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-disabledwidth", nullptr, nullptr, "0.0",
     LINE_OFFSET(outline.disabledWidth), TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_INT, "-floating", nullptr, nullptr, "0", LINE_OFFSET(header.floating), 0, nullptr},
    {TK_CONFIG_JOIN_STYLE, "-joinstyle", nullptr, nullptr, "round", LINE_OFFSET(joinStyle),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_COLOR, "-highlightcolor", nullptr, nullptr, "yellow", LINE_OFFSET(highlightColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-offset", nullptr, nullptr, "0,0", LINE_OFFSET(outline.tsoffset),
     TK_CONFIG_DONT_SET_DEFAULT, &offsetOption},
    {TK_CONFIG_CUSTOM, "-smooth", nullptr, nullptr, "0", LINE_OFFSET(smooth),
     TK_CONFIG_DONT_SET_DEFAULT, &smoothOption},
    {TK_CONFIG_INT, "-splinesteps", nullptr, nullptr, "12", LINE_OFFSET(splineSteps),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, LINE_OFFSET(header.state),
     TK_CONFIG_NULL_OK, &stateOption},
    {TK_CONFIG_BITMAP, "-stipple", nullptr, nullptr, nullptr, LINE_OFFSET(outline.stipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_CUSTOM, "-width", nullptr, nullptr, "1.0", LINE_OFFSET(outline.width),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

GcanvasLineItem *asLine(GcanvasItem *item) { return reinterpret_cast<GcanvasLineItem *>(item); }

double currentWidth(ItemContainer *c, GcanvasLineItem *line) {
  return outlineStateWidth(c, &line->header, &line->outline);
}

XColor *stateColor(ItemContainer *c, GcanvasLineItem *line) {
  GcanvasOutline &o = line->outline;
  return stateValue(c, &line->header, o.color, o.activeColor, o.disabledColor);
}

Pixmap stateStipple(ItemContainer *c, GcanvasLineItem *line) {
  GcanvasOutline &o = line->outline;
  return stateValue(c, &line->header, o.stipple, o.activeStipple, o.disabledStipple);
}

int partStart(GcanvasLineItem *line, int part) {
  int start = 0;
  for (int i = 0; i < part; i++) start += line->partCounts[i];
  return start;
}

/* Puts every part's arrowhead tips back into its end vertices and drops the arrowheads. */
void restoreTips(GcanvasLineItem *line, bool first, bool last) {
  int start = 0;
  for (int i = 0; i < line->numParts; i++) {
    int n = line->partCounts[i];
    if (n > 0) {
      double *v = line->coordPtr;
      if (first && line->firstArrowPtr) {
        v[2 * start] = line->firstArrowPtr[12 * i];
        v[2 * start + 1] = line->firstArrowPtr[12 * i + 1];
      }
      if (last && line->lastArrowPtr) {
        v[2 * (start + n - 1)] = line->lastArrowPtr[12 * i];
        v[2 * (start + n - 1) + 1] = line->lastArrowPtr[12 * i + 1];
      }
    }
    start += n;
  }
  if (first && line->firstArrowPtr) {
    ckfree((char *)line->firstArrowPtr);
    line->firstArrowPtr = nullptr;
  }
  if (last && line->lastArrowPtr) {
    ckfree((char *)line->lastArrowPtr);
    line->lastArrowPtr = nullptr;
  }
}

/*
 * One arrowhead in pixel space, stored in world units: tip at poly[0..1],
 * neighbour vertex N; the end vertex becomes the neck.
 */
void arrowheadAt(ItemContainer *c, GcanvasLineItem *line, double *poly, const double *next,
                 double *endVertex, double width) {
  double a = line->arrowShapeA + 0.001, b = line->arrowShapeB + 0.001;
  double cc = line->arrowShapeC + width / 2.0 + 0.001;
  double f = (width / 2.0) / cc;
  double backup = f * b + a * (1 - f) / 2;
  double tx = poly[0], ty = poly[1];
  double dx = (tx - next[0]) * c->mx, dy = (ty - next[1]) * c->my;
  double length = hypot(dx, dy);
  double cosT = length == 0 ? 0 : dx / length, sinT = length == 0 ? 0 : dy / length;
  auto world = [&](double px, double py, double *out) {
    out[0] = tx + px / c->mx;
    out[1] = ty + py / c->my;
  };
  double v[2];
  world(-a * cosT, -a * sinT, v);
  world(-(b * cosT - cc * sinT), -(b * sinT + cc * cosT), poly + 2);
  world(-(b * cosT - cc * sinT) - 2 * cc * sinT, -(b * sinT + cc * cosT) + 2 * cc * cosT, poly + 8);
  for (int k = 0; k < 2; k++) {
    poly[4 + k] = f * poly[2 + k] + (1 - f) * v[k];
    poly[6 + k] = f * poly[8 + k] + (1 - f) * v[k];
  }
  poly[10] = tx;
  poly[11] = ty;
  world(-backup * cosT, -backup * sinT, endVertex);
}

void computeArrowheads(ItemContainer *c, GcanvasLineItem *line) {
  if (line->numPoints < 2) return;
  double width = currentWidth(c, line);
  double *v = line->coordPtr;
  for (int which = 0; which < 2; which++) {
    bool first = which == 0;
    if (!(line->arrow & (first ? ARROWS_FIRST : ARROWS_LAST))) continue;
    double *&arrows = first ? line->firstArrowPtr : line->lastArrowPtr;
    bool fresh = arrows == nullptr;
    if (fresh) arrows = (double *)ckalloc(sizeof(double) * 12 * line->numParts);
    int start = 0;
    for (int i = 0; i < line->numParts; i++) {
      int n = line->partCounts[i];
      double *poly = arrows + 12 * i;
      int end = first ? start : start + n - 1;
      if (fresh) {
        for (int k = 0; k < 6; k++) {
          poly[2 * k] = n > 0 ? v[2 * end] : 0;
          poly[2 * k + 1] = n > 0 ? v[2 * end + 1] : 0;
        }
      }
      /* A part of one vertex has no direction: its arrowheads stay a point at the vertex. */
      if (n >= 2) {
        int neighbour = first ? start + 1 : start + n - 2;
        arrowheadAt(c, line, poly, v + 2 * neighbour, v + 2 * end, width);
      }
      start += n;
    }
  }
}

void computeLineBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasLineItem *line = asLine(item);
  if (line->numPoints == 0 || effectiveState(c, item) == STATE_HIDDEN) {
    item->x1 = item->y1 = item->x2 = item->y2 = -1;
    return;
  }
  double *v = line->coordPtr;
  double box[4] = {v[0], v[1], v[0], v[1]};
  auto take = [&](double x, double y) {
    if (x < box[0]) box[0] = x;
    if (x > box[2]) box[2] = x;
    if (y < box[1]) box[1] = y;
    if (y > box[3]) box[3] = y;
  };
  for (int i = 1; i < line->numPoints; i++) take(v[2 * i], v[2 * i + 1]);
  double w = currentWidth(c, line);
  if (w < 1) w = 1;
  double s = (fabs(c->mx) + fabs(c->my)) / 2;
  double margin = floor(w + 1.5);

  StippleOffset &ts = line->outline.tsoffset;
  /* The index form is placed by setStippleOffset from the index itself. */
  if (ts.flags & OFFSET_INDEX) {
  } else if (ts.flags & (OFFSET_LEFT | OFFSET_CENTER | OFFSET_RIGHT | OFFSET_TOP | OFFSET_MIDDLE |
                         OFFSET_BOTTOM)) {
    double b[4] = {box[0], box[1], box[2], box[3]};
    if (line->firstArrowPtr)
      for (int k = 0; k < 6; k++) {
        double x = line->firstArrowPtr[2 * k], y = line->firstArrowPtr[2 * k + 1];
        b[0] = fmin(b[0], x), b[2] = fmax(b[2], x), b[1] = fmin(b[1], y), b[3] = fmax(b[3], y);
      }
    if (ts.flags & OFFSET_LEFT) ts.x = saturatingInt(lround(b[0]));
    else if (ts.flags & OFFSET_CENTER) ts.x = saturatingInt(lround((b[0] + b[2]) / 2));
    else if (ts.flags & OFFSET_RIGHT) ts.x = saturatingInt(lround(b[2]));
    if (ts.flags & OFFSET_TOP) ts.y = saturatingInt(lround(b[1]));
    else if (ts.flags & OFFSET_MIDDLE) ts.y = saturatingInt(lround((b[1] + b[3]) / 2));
    else if (ts.flags & OFFSET_BOTTOM) ts.y = saturatingInt(lround(b[3]));
  }

  if (line->numPoints != 1) {
    if (line->joinStyle == JoinMiter) {
      for (int i = 0; i + 2 < line->numPoints; i++) {
        double m1[2], m2[2];
        if (miterPoints(v + 2 * i, v + 2 * i + 2, v + 2 * i + 4, w / s, m1, m2)) {
          take(m1[0], m1[1]);
          take(m2[0], m2[1]);
        }
      }
    }
    for (int i = 0; i < line->numParts; i++) {
      if (line->firstArrowPtr && line->arrow != ARROWS_LAST)
        for (int k = 0; k < 6; k++)
          take(line->firstArrowPtr[12 * i + 2 * k], line->firstArrowPtr[12 * i + 2 * k + 1]);
      if (line->lastArrowPtr && line->arrow != ARROWS_FIRST)
        for (int k = 0; k < 6; k++)
          take(line->lastArrowPtr[12 * i + 2 * k], line->lastArrowPtr[12 * i + 2 * k + 1]);
    }
  }
  setItemBoxFromWorld(c, box[0], box[1], box[2], box[3], item);
  item->x1 -= margin;
  item->y1 -= margin;
  item->x2 += margin;
  item->y2 += margin;
  item->xMargin = item->yMargin = static_cast<float>(margin);
}

/* Replaces the vertices and part counts; the arrowheads are dropped. */
void setGeometry(GcanvasLineItem *line, std::vector<double> &vertices, std::vector<int> &counts) {
  if (line->firstArrowPtr) ckfree((char *)line->firstArrowPtr);
  if (line->lastArrowPtr) ckfree((char *)line->lastArrowPtr);
  line->firstArrowPtr = line->lastArrowPtr = nullptr;
  if (line->coordPtr) ckfree((char *)line->coordPtr);
  if (line->partCounts) ckfree((char *)line->partCounts);
  line->numPoints = static_cast<int>(vertices.size() / 2);
  line->numParts = static_cast<int>(counts.size());
  line->coordPtr = (double *)ckalloc(sizeof(double) * (vertices.size() + 2));
  if (!vertices.empty()) memcpy(line->coordPtr, vertices.data(), sizeof(double) * vertices.size());
  line->partCounts = (int *)ckalloc(sizeof(int) * (counts.size() + 1));
  if (!counts.empty()) memcpy(line->partCounts, counts.data(), sizeof(int) * counts.size());
  line->currentComponent = line->highlightComponent = -1;
}

void appendCoords(Tcl_Obj *list, GcanvasLineItem *line) {
  int start = 0;
  for (int i = 0; i < line->numParts; i++) {
    int n = line->partCounts[i];
    for (int k = 0; k < n; k++) {
      const double *p = line->coordPtr + 2 * (start + k);
      if (k == 0 && line->firstArrowPtr) p = line->firstArrowPtr + 12 * i;
      if (k == n - 1 && line->lastArrowPtr) p = line->lastArrowPtr + 12 * i;
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(p[0]));
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(p[1]));
    }
    start += n;
  }
  if (line->numParts > 1) {
    Tcl_Obj *counts = Tcl_NewObj();
    for (int i = 0; i < line->numParts; i++)
      Tcl_ListObjAppendElement(nullptr, counts, Tcl_NewIntObj(line->partCounts[i]));
    Tcl_ListObjAppendElement(nullptr, list, counts);
  }
}

int lineCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
               Tcl_Obj *const objv[]) {
  GcanvasLineItem *line = asLine(item);
  if (objc == 0) {
    Tcl_Obj *list = Tcl_NewObj();
    appendCoords(list, line);
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
  }
  std::vector<double> vertices;
  std::vector<int> counts;
  if (parsePartCoords(interp, c, objc, objv, "Invalid or inconsistent polyline description list",
                      "error in parsing polyline description list", 1, nullptr, vertices,
                      counts) != TCL_OK)
    return TCL_ERROR;
  setGeometry(line, vertices, counts);
  if (line->arrow != ARROWS_NONE) computeArrowheads(c, line);
  computeLineBbox(c, item);
  return TCL_OK;
}

int configureLine(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                  Tcl_Obj *const objv[], int flags) {
  GcanvasLineItem *line = asLine(item);
  Tk_Window tkwin = canvasTkwin(c);
  if (Tk_ConfigureWidget(interp, tkwin, lineConfigSpecs, objc, objWords(objv),
                         reinterpret_cast<char *>(line), flags | TK_CONFIG_OBJS) != TCL_OK)
    return TCL_ERROR;
  finishLineConfigure(c, item);
  return TCL_OK;
}

void deleteLine(ItemContainer *, GcanvasItem *item, Display *display) {
  GcanvasLineItem *line = asLine(item);
  freeOutline(display, &line->outline);
  if (line->partCounts) ckfree((char *)line->partCounts);
  if (line->coordPtr) ckfree((char *)line->coordPtr);
  if (line->firstArrowPtr) ckfree((char *)line->firstArrowPtr);
  if (line->lastArrowPtr) ckfree((char *)line->lastArrowPtr);
  line->partCounts = nullptr;
  line->coordPtr = line->firstArrowPtr = line->lastArrowPtr = nullptr;
  freeItemGCs(display, {&line->arrowGC, &line->highlightGC});
  freeItemColors({&line->highlightColor});
}

void initLine(ItemContainer *c, GcanvasLineItem *line) {
  line->canvas = canvasOf(c);
  line->numPoints = 0;
  line->numParts = 0;
  line->partCounts = nullptr;
  line->coordPtr = nullptr;
  line->arrowGC = None;
  line->arrow = ARROWS_NONE;
  line->arrowShapeA = 8;
  line->arrowShapeB = 10;
  line->arrowShapeC = 3;
  line->firstArrowPtr = line->lastArrowPtr = nullptr;
  initOutline(&line->outline);
  line->joinStyle = JoinRound;
  line->capStyle = CapButt;
  line->splineSteps = 12;
  line->smooth = nullptr;
  line->currentComponent = line->highlightComponent = -1;
  line->highlightColor = nullptr;
  line->highlightGC = None;
}

int createLine(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
               Tcl_Obj *const objv[]) {
  GcanvasLineItem *line = asLine(item);
  initLine(c, line);
  int coords = 0;
  while (coords < objc) {
    const char *arg = Tcl_GetString(objv[coords]);
    if (arg[0] == '-' && arg[1] >= 'a' && arg[1] <= 'z') break;
    coords++;
  }
  return createFromWords(interp, c, item, objc, objv, coords);
}

/* The drawable points of one part, smoothed when asked. */
int partDrawablePoints(ItemContainer *c, GcanvasLineItem *line, const double *v, int n,
                       std::vector<XPoint> &out) {
  if (line->smooth && line->numPoints > 2 && n >= 3) {
    std::vector<double> pixels(2 * static_cast<size_t>(n));
    worldToCanvas(c, v, pixels.data(), n);
    int count = line->smooth->coordProc(c, nullptr, n, line->splineSteps, nullptr, nullptr);
    out.resize(static_cast<size_t>(count) + 2);
    return line->smooth->coordProc(c, pixels.data(), n, line->splineSteps, out.data(), nullptr);
  }
  out.resize(static_cast<size_t>(n) + 2);
  return worldToDrawablePath(c, v, out.data(), n);
}

/* The canvas-pixel points of one part, smoothed when asked. */
void partCanvasPoints(ItemContainer *c, GcanvasLineItem *line, const double *v, int n,
                      std::vector<double> &out) {
  std::vector<double> pixels(2 * static_cast<size_t>(n));
  worldToCanvas(c, v, pixels.data(), n);
  if (line->smooth && n > 2) {
    int count = line->smooth->coordProc(c, nullptr, n, line->splineSteps, nullptr, nullptr);
    out.resize(2 * static_cast<size_t>(count) + 4);
    count = line->smooth->coordProc(c, pixels.data(), n, line->splineSteps, nullptr, out.data());
    out.resize(2 * static_cast<size_t>(count));
  } else {
    out = pixels;
  }
}

void displayLine(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable, int,
                 int, int, int) {
  GcanvasLineItem *line = asLine(item);
  if (drawable == None || line->numPoints == 0 || line->outline.gc == None) return;
  int stippled = changeOutlineGC(c, item, &line->outline);
  if (stippled && line->arrowGC != None) setStippleOffset(c, line->arrowGC, &line->outline.tsoffset);
  std::vector<XPoint> points;
  int start = 0;
  for (int i = 0; i < line->numParts; i++) {
    int n = line->partCounts[i];
    bool lit = i == line->highlightComponent && line->highlightGC != None;
    GC lineGC = lit ? line->highlightGC : line->outline.gc;
    GC arrowGC = lit ? line->highlightGC : line->arrowGC;
    if (n > 0) {
      int count = partDrawablePoints(c, line, line->coordPtr + 2 * start, n, points);
      XDrawLines(display, drawable, lineGC, points.data(), count, CoordModeOrigin);
      if (n >= 2) {
        if (line->firstArrowPtr)
          fillCanvasPolygon(c, display, drawable, arrowGC, line->firstArrowPtr + 12 * i, 6);
        if (line->lastArrowPtr)
          fillCanvasPolygon(c, display, drawable, arrowGC, line->lastArrowPtr + 12 * i, 6);
      }
    }
    start += n;
  }
  resetOutlineGC(c, item, &line->outline);
  if (stippled && line->arrowGC != None) XSetTSOrigin(display, line->arrowGC, 0, 0);
}

double partToPoint(ItemContainer *c, GcanvasLineItem *line, int part, int start, double *point) {
  int n = line->partCounts[part];
  if (n == 0) return 1.0e36;
  double w = currentWidth(c, line);
  if (w < 1) w = 1;
  std::vector<double> pts;
  partCanvasPoints(c, line, line->coordPtr + 2 * start, n, pts);
  int count = static_cast<int>(pts.size() / 2);
  double best;
  if (count == 1) {
    best = hypot(pts[0] - point[0], pts[1] - point[1]) - w / 2;
    return best < 0 ? 0 : best;
  }
  best = thickLineToPoint(pts.data(), count, w, line->capStyle, line->joinStyle, point);
  if (best <= 0) return 0;
  for (double *arrows : {line->firstArrowPtr, line->lastArrowPtr}) {
    if (!arrows) continue;
    double poly[12];
    worldToCanvas(c, arrows + 12 * part, poly, 6);
    double d = TkPolygonToPoint(poly, 6, point);
    if (d < best) best = d;
  }
  return best < 0 ? 0 : best;
}

double lineToPoint(ItemContainer *c, GcanvasItem *item, double *point) {
  GcanvasLineItem *line = asLine(item);
  double best = 1.0e36;
  double closeEnough = canvasOf(c)->closeEnough;
  for (int i = line->numParts - 1; i >= 0; i--) {
    double d = partToPoint(c, line, i, partStart(line, i), point);
    if (d < best) {
      best = d;
      if (best < closeEnough) {
        line->currentComponent = i;
        return best;
      }
    }
  }
  line->currentComponent = -1;
  return best;
}

int lineToArea(ItemContainer *c, GcanvasItem *item, double *rect) {
  GcanvasLineItem *line = asLine(item);
  if (effectiveState(c, item) == STATE_HIDDEN || line->numPoints == 0) return -1;
  double w = currentWidth(c, line);
  int inside = 0, outside = 0, start = 0;
  std::vector<double> pts;
  for (int i = 0; i < line->numParts; i++) {
    int n = line->partCounts[i];
    int result = -1;
    if (n == 1) {
      double p[2];
      worldToCanvas(c, line->coordPtr + 2 * start, p, 1);
      double h = (w + 1) / 2;
      double oval[4] = {p[0] - h, p[1] - h, p[0] + h, p[1] + h};
      result = TkOvalToArea(oval, rect);
    } else if (n > 1) {
      partCanvasPoints(c, line, line->coordPtr + 2 * start, n, pts);
      result = TkThickPolyLineToArea(pts.data(), static_cast<int>(pts.size() / 2), w,
                                     line->capStyle, line->joinStyle, rect);
      for (double *arrows : {line->firstArrowPtr, line->lastArrowPtr}) {
        if (!arrows || result == 0) continue;
        double poly[12];
        worldToCanvas(c, arrows + 12 * i, poly, 6);
        if (TkPolygonToArea(poly, 6, rect) != result) result = 0;
      }
    }
    if (result < 0) outside++;
    else if (result > 0) inside++;
    start += n;
  }
  if (outside == line->numParts) return -1;
  if (inside == line->numParts) return 1;
  return 0;
}

void scaleLine(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasLineItem *line = asLine(item);
  restoreTips(line, true, true);
  scaleWorldPoints(line->coordPtr, line->numPoints, ox, oy, sx, sy);
  if (line->arrow != ARROWS_NONE) computeArrowheads(c, line);
  computeLineBbox(c, item);
}

void translateLine(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasLineItem *line = asLine(item);
  translateWorldPoints(line->coordPtr, line->numPoints, dx, dy);
  for (double *arrows : {line->firstArrowPtr, line->lastArrowPtr}) {
    if (!arrows) continue;
    translateWorldPoints(arrows, 6 * line->numParts, dx, dy);
  }
  computeLineBbox(c, item);
}

int lineIndex(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, Tcl_Obj *obj, int *index) {
  GcanvasLineItem *line = asLine(item);
  const char *text = Tcl_GetString(obj);
  size_t length = strlen(text);
  if (text[0] == 'e' && strncmp(text, "end", length) == 0) {
    *index = 2 * line->numPoints;
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
        *index = 0;
        for (int i = 0; i < line->numPoints; i++) {
          double d = hypot((line->coordPtr[2 * i] - x) * c->mx, (line->coordPtr[2 * i + 1] - y) * c->my);
          if (d < best) {
            best = d;
            *index = 2 * i;
          }
        }
        return TCL_OK;
      }
    }
  } else {
    int value;
    if (Tcl_GetInt(nullptr, text, &value) == TCL_OK) {
      value &= ~1;
      if (value < 0) value = 0;
      if (value > 2 * line->numPoints) value = 2 * line->numPoints;
      *index = value;
      return TCL_OK;
    }
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "bad index \"", text, "\"", nullptr);
  return TCL_ERROR;
}

void lineInsert(ItemContainer *c, GcanvasItem *item, int index, Tcl_Obj *obj) {
  GcanvasLineItem *line = asLine(item);
  int objc;
  Tcl_Obj **objv;
  if (!obj || Tcl_ListObjGetElements(nullptr, obj, &objc, &objv) != TCL_OK || objc == 0 ||
      (objc & 1))
    return;
  std::vector<double> added(static_cast<size_t>(objc));
  for (int i = 0; i < objc; i++) {
    if (canvasGetCoordFromObj(nullptr, c, objv[i], &added[static_cast<size_t>(i)]) != TCL_OK) {
      Tcl_ResetResult(c->interp);
      return;
    }
  }
  if (index < 0) index = 0;
  if (index > 2 * line->numPoints) index = 2 * line->numPoints;
  restoreTips(line, true, true);
  std::vector<double> vertices(line->coordPtr, line->coordPtr + 2 * line->numPoints);
  std::vector<int> counts(line->partCounts, line->partCounts + line->numParts);
  if (counts.empty()) counts.push_back(0);
  int part = index >= 2 * line->numPoints ? static_cast<int>(counts.size()) - 1
                                          : partOfVertex(index / 2, counts.data(),
                                                         static_cast<int>(counts.size()));
  vertices.insert(vertices.begin() + index, added.begin(), added.end());
  counts[static_cast<size_t>(part)] += static_cast<int>(objc / 2);
  setGeometry(line, vertices, counts);
  if (line->arrow != ARROWS_NONE) computeArrowheads(c, line);
  computeLineBbox(c, item);
}

void lineDeleteCoords(ItemContainer *c, GcanvasItem *item, int first, int last) {
  GcanvasLineItem *line = asLine(item);
  first &= ~1;
  last &= ~1;
  if (first < 0) first = 0;
  if (last >= 2 * line->numPoints) last = 2 * (line->numPoints - 1);
  if (last < first) return;
  restoreTips(line, true, true);
  std::vector<double> vertices;
  std::vector<int> counts;
  int vertex = 0;
  for (int i = 0; i < line->numParts; i++) {
    int kept = 0;
    for (int k = 0; k < line->partCounts[i]; k++, vertex++) {
      if (vertex >= first / 2 && vertex <= last / 2) continue;
      vertices.push_back(line->coordPtr[2 * vertex]);
      vertices.push_back(line->coordPtr[2 * vertex + 1]);
      kept++;
    }
    if (kept > 0) counts.push_back(kept);
  }
  if (counts.empty()) counts.push_back(0);
  setGeometry(line, vertices, counts);
  if (line->arrow != ARROWS_NONE) computeArrowheads(c, line);
  computeLineBbox(c, item);
}

int lineToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int) {
  GcanvasLineItem *line = asLine(item);
  XColor *color = stateColor(c, line);
  Pixmap stipple = stateStipple(c, line);
  double w = currentWidth(c, line);
  if (!color || line->numPoints == 0) return TCL_OK;
  char buffer[256];
  if (line->numPoints == 1) {
    double p[2];
    worldToCanvas(c, line->coordPtr, p, 1);
    snprintf(buffer, sizeof buffer,
             "matrix currentmatrix\n%.15g %.15g translate %.15g %.15g scale 1 0 moveto 0 0 1 0 "
             "360 arc\nsetmatrix\n",
             p[0], canvasPsY(c, p[1]), w / 2, w / 2);
    Tcl_AppendResult(interp, buffer, nullptr);
    if (canvasPsColor(interp, c, color) != TCL_OK) return TCL_ERROR;
    if (stipple != None) {
      Tcl_AppendResult(interp, "clip ", nullptr);
      return canvasPsStipple(interp, c, stipple);
    }
    Tcl_AppendResult(interp, "fill\n", nullptr);
    return TCL_OK;
  }
  int start = 0;
  for (int i = 0; i < line->numParts; i++) {
    int n = line->partCounts[i];
    double *v = line->coordPtr + 2 * start;
    start += n;
    if (n == 0) continue;
    if (line->smooth && n > 2) {
      if (stipple != None || !line->smooth->postscriptProc) {
        std::vector<double> pts;
        partCanvasPoints(c, line, v, n, pts);
        std::vector<double> world(pts.size());
        canvasToWorld(c, pts.data(), world.data(), static_cast<int>(pts.size() / 2));
        canvasPsPath(interp, c, world.data(), static_cast<int>(world.size() / 2));
      } else {
        std::vector<double> pixels(2 * static_cast<size_t>(n));
        worldToCanvas(c, v, pixels.data(), n);
        line->smooth->postscriptProc(interp, c, pixels.data(), n, line->splineSteps);
      }
    } else {
      canvasPsPath(interp, c, v, n);
    }
    static const char *const caps[] = {"0 setlinecap\n", "1 setlinecap\n", "2 setlinecap\n"};
    static const char *const joins[] = {"0 setlinejoin\n", "1 setlinejoin\n", "2 setlinejoin\n"};
    Tcl_AppendResult(interp,
                     line->capStyle == CapRound ? caps[1]
                     : line->capStyle == CapProjecting ? caps[2] : caps[0],
                     line->joinStyle == JoinRound ? joins[1]
                     : line->joinStyle == JoinBevel ? joins[2] : joins[0],
                     nullptr);
    if (outlinePostScript(c, item, &line->outline) != TCL_OK) return TCL_ERROR;
    for (double *arrows : {line->firstArrowPtr, line->lastArrowPtr}) {
      if (!arrows || n < 2) continue;
      if (stipple != None) Tcl_AppendResult(interp, "grestore gsave\n", nullptr);
      canvasPsPath(interp, c, arrows + 12 * i, 6);
      if (canvasPsColor(interp, c, color) != TCL_OK) return TCL_ERROR;
      if (stipple != None) {
        Tcl_AppendResult(interp, "clip ", nullptr);
        if (canvasPsStipple(interp, c, stipple) != TCL_OK) return TCL_ERROR;
      } else {
        Tcl_AppendResult(interp, "fill\n", nullptr);
      }
    }
  }
  return TCL_OK;
}

int lineFromVertices(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, VertexData *data) {
  GcanvasLineItem *line = asLine(item);
  initLine(c, line);
  if (Tk_ConfigureWidget(interp, canvasTkwin(c), lineConfigSpecs, 0, nullptr,
                         reinterpret_cast<char *>(line), TK_CONFIG_OBJS) != TCL_OK)
    return TCL_ERROR;
  if (data && data->numParts > 0) {
    std::vector<int> counts(data->partCounts, data->partCounts + data->numParts);
    size_t total = 0;
    for (int n : counts) total += static_cast<size_t>(n > 0 ? n : 0);
    std::vector<double> vertices(data->vertices, data->vertices + 2 * total);
    setGeometry(line, vertices, counts);
  }
  if (data && data->styleSource) {
    copyStyleSource(interp, canvasTkwin(c), data->styleSource, &line->outline, &line->splineSteps,
                    &line->smooth);
    finishLineConfigure(c, item);
  } else {
    if (line->outline.gc != None) Tk_FreeGC(c->display, line->outline.gc);
    line->outline.gc = None;
    if (line->arrow != ARROWS_NONE) computeArrowheads(c, line);
    computeLineBbox(c, item);
  }
  return TCL_OK;
}

int lineVertices(GcanvasItem *item, double **vertices) {
  *vertices = asLine(item)->coordPtr;
  return asLine(item)->numPoints;
}

int linePartCounts(GcanvasItem *item, int **counts) {
  *counts = asLine(item)->partCounts;
  return asLine(item)->numParts;
}

int lineGetComponent(GcanvasItem *item) { return asLine(item)->currentComponent; }

void redrawComponent(ItemContainer *c, GcanvasLineItem *line, int part) {
  GcanvasRecord *canvas = canvasOf(c);
  if (line->numParts <= 1) {
    eventuallyRedrawArea(canvas, line->header.x1, line->header.y1, line->header.x2,
                         line->header.y2, 1);
    return;
  }
  if (part < 0 || part >= line->numParts || line->partCounts[part] == 0) return;
  int start = partStart(line, part);
  double box[4];
  pointsBox(line->coordPtr + 2 * start, line->partCounts[part], box);
  double r[4];
  worldRectToCanvas(c, box[0], box[1], box[2], box[3], r);
  eventuallyRedrawArea(canvas, r[0], r[1], r[2], r[3], 1);
}

void lineSetComponent(ItemContainer *c, GcanvasItem *item, int on) {
  GcanvasLineItem *line = asLine(item);
  switchHighlight(on, line->currentComponent, &line->highlightComponent,
                  [&](int part) { redrawComponent(c, line, part); });
}

double lineLength(ItemContainer *, GcanvasItem *item) {
  GcanvasLineItem *line = asLine(item);
  double length = 0;
  int start = 0;
  for (int i = 0; i < line->numParts; i++) {
    length += polylineLength(line->coordPtr + 2 * start, line->partCounts[i]);
    start += line->partCounts[i];
  }
  return length;
}

double lineCentroid(ItemContainer *, GcanvasItem *item, double *x, double *y) {
  GcanvasLineItem *line = asLine(item);
  pointsCentroid(line->coordPtr, line->numPoints, x, y);
  return 0;
}

double lineVangle(ItemContainer *, GcanvasItem *item, int vertex) {
  GcanvasLineItem *line = asLine(item);
  return vertexAngle(line->coordPtr, line->numPoints, vertex);
}

double lineLangle(ItemContainer *, GcanvasItem *item, double position, double *x, double *y) {
  GcanvasLineItem *line = asLine(item);
  if (line->numParts == 0 || line->numPoints == 0) return 0;
  double whole = floor(position);
  int part = saturatingInt(fmod(whole, line->numParts));
  if (part < 0) part += line->numParts;
  return polylinePointAt(line->coordPtr + 2 * partStart(line, part), line->partCounts[part],
                         position - whole, x, y);
}

}  // namespace

/*
 * finishLineConfigure --
 *     The steps after the options are read: the GCs for the state, the
 *     spline steps, the highlight GC, the arrowheads and the box.
 */
void finishLineConfigure(ItemContainer *c, GcanvasItem *item) {
  GcanvasLineItem *line = asLine(item);
  Tk_Window tkwin = canvasTkwin(c);
  GcanvasOutline &o = line->outline;
  setStateDependant(item, outlineHasActiveLook(&o));
  XGCValues gcValues;
  GC newGC = None, arrowGC = None;
  int mask = configOutlineGC(&gcValues, c, item, &o);
  if (mask) {
    if (line->arrow == ARROWS_NONE) {
      gcValues.cap_style = line->capStyle;
      mask |= GCCapStyle;
    }
    gcValues.join_style = line->joinStyle;
    mask |= GCJoinStyle;
    newGC = Tk_GetGC(tkwin, static_cast<unsigned long>(mask), &gcValues);
    gcValues.line_width = 0;
    arrowGC = Tk_GetGC(tkwin, static_cast<unsigned long>(mask), &gcValues);
  }
  replaceGC(Tk_Display(tkwin), &o.gc, newGC);
  replaceGC(Tk_Display(tkwin), &line->arrowGC, arrowGC);
  if (line->splineSteps < 1) line->splineSteps = 1;
  else if (line->splineSteps > 100) line->splineSteps = 100;
  replaceGC(Tk_Display(tkwin), &line->highlightGC,
            getHighlightGC(c, item, &o, line->highlightColor, &gcValues));

  if (line->numPoints > 0 && effectiveState(c, item) != STATE_HIDDEN) {
    if (line->firstArrowPtr && !(line->arrow & ARROWS_FIRST)) restoreTips(line, true, false);
    if (line->lastArrowPtr && !(line->arrow & ARROWS_LAST)) restoreTips(line, false, true);
    if (line->arrow != ARROWS_NONE) computeArrowheads(c, line);
  }
  computeLineBbox(c, item);
}

/*
 * parsePartCoords --
 *     Reads x y pairs, optionally ended by a list of part counts, as line
 *     and polygon coordinates take them.  minimum is the fewest vertices a
 *     part may have; tooFew the message when one has fewer (NULL: none).
 */
int parsePartCoords(Tcl_Interp *interp, ItemContainer *c, int objc, Tcl_Obj *const objv[],
                    const char *inconsistent, const char *badList, int minimum,
                    const char *tooFew, std::vector<double> &vertices, std::vector<int> &counts) {
  Tcl_Obj *const *words = objv;
  int count = objc;
  if (objc == 1) {
    Tcl_Obj **elements;
    if (Tcl_ListObjGetElements(interp, objv[0], &count, &elements) != TCL_OK) return TCL_ERROR;
    words = elements;
  }
  int values = count;
  counts.clear();
  if (count & 1) {
    values = count - 1;
    int n;
    Tcl_Obj **parts;
    if (Tcl_ListObjGetElements(nullptr, words[count - 1], &n, &parts) != TCL_OK) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, badList, nullptr);
      return TCL_ERROR;
    }
    long sum = 0;
    bool bad = false;
    for (int i = 0; i < n; i++) {
      long v = strtol(Tcl_GetString(parts[i]), nullptr, 10);
      if (v < 0 || v > INT_MAX) bad = true;
      sum += v;
      counts.push_back(static_cast<int>(v));
    }
    if (bad || n == 0 || sum != values / 2) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, inconsistent, nullptr);
      return TCL_ERROR;
    }
  } else {
    counts.push_back(static_cast<int>(values / 2));
  }
  if (tooFew) {
    for (int n : counts) {
      if (n < minimum) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, tooFew, nullptr);
        return TCL_ERROR;
      }
    }
  }
  vertices.assign(static_cast<size_t>(values), 0.0);
  for (int i = values - 1; i >= 0; i--)
    if (canvasGetCoordFromObj(interp, c, words[i], &vertices[static_cast<size_t>(i)]) != TCL_OK)
      return TCL_ERROR;
  return TCL_OK;
}

/*
 * fillCanvasPolygon --
 *     Fills a polygon of world points with gc.
 */
void fillCanvasPolygon(ItemContainer *c, Display *display, Drawable drawable, GC gc,
                       const double *points, int n) {
  if (n <= 0) return;
  GcanvasRecord *canvas = canvasOf(c);
  std::vector<XPoint> xp(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) {
    xp[i].x = toDrawableCoord(canvas->drawableXOrigin, points[2 * i] * c->mx - c->xOffset);
    xp[i].y = toDrawableCoord(canvas->drawableYOrigin, points[2 * i + 1] * c->my - c->yOffset);
  }
  XFillPolygon(display, drawable, gc, xp.data(), n, Complex, CoordModeOrigin);
}

GcanvasItemType lineType = {
    "line", sizeof(GcanvasLineItem), createLine, lineConfigSpecs, configureLine, lineCoords,
    deleteLine, displayLine, TK_ITEM_OBJS, lineToPoint, lineToArea, lineToPostscript, scaleLine,
    translateLine, lineIndex, nullptr, nullptr, lineInsert, lineDeleteCoords, computeLineBbox,
    nullptr, nullptr, nullptr, lineFromVertices, nullptr, lineVertices, linePartCounts, nullptr,
    nullptr, lineGetComponent, lineSetComponent, nullptr, lineLength, lineCentroid, lineVangle,
    lineLangle,
};

}  // namespace vesk
