/*
 * symbol.cpp --
 *     The "symbol" item type: the same point symbol (oval, rectangle,
 *     diamond, crosshair or handle), marker and editable label at every
 *     one of its world points.  The symbol keeps its pixel size; the
 *     label's font follows the view but never falls below the canvas's
 *     minimum text size.  Also the symbol and marker option types.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <new>

#include "canvas/textitem.h"
#include "core/text.h"
#include "display/rotfont.h"

namespace vesk {

namespace {

const char *const symbolWords[] = {"oval", "rectangle", "diamond", "crosshair", "handle"};
const char *const markerWords[] = {"point", "cross"};

int symbolTypeParse(ClientData, Tcl_Interp *interp, Tk_Window, const char *value, char *widgRec,
                    int offset) {
  int *field = reinterpret_cast<int *>(widgRec + offset);
  *field = 0;
  if (!value || !*value) return TCL_OK;
  size_t n = strlen(value);
  for (int i = 0; i < 5; i++)
    if (value[0] == symbolWords[i][0] && n <= strlen(symbolWords[i]) &&
        strncmp(value, symbolWords[i], n) == 0) {
      *field = i;
      return TCL_OK;
    }
  Tcl_AppendResult(interp, "invalid -symboltype option \"", value,
                   "\": must be oval, rectangle, diamond, crosshair, handle", nullptr);
  return TCL_ERROR;
}

const char *symbolTypePrint(ClientData, Tk_Window, char *widgRec, int offset, Tcl_FreeProc **) {
  int v = *reinterpret_cast<int *>(widgRec + offset);
  return v >= 0 && v < 5 ? symbolWords[v] : "unknown";
}

int markerTypeParse(ClientData, Tcl_Interp *interp, Tk_Window, const char *value, char *widgRec,
                    int offset) {
  int *field = reinterpret_cast<int *>(widgRec + offset);
  *field = 0;
  if (!value || !*value) return TCL_OK;
  size_t n = strlen(value);
  for (int i = 0; i < 2; i++)
    if (value[0] == markerWords[i][0] && n <= strlen(markerWords[i]) &&
        strncmp(value, markerWords[i], n) == 0) {
      *field = i;
      return TCL_OK;
    }
  Tcl_AppendResult(interp, "invalid -markertype option \"", value, "\": must be point or cross",
                   nullptr);
  return TCL_ERROR;
}

const char *markerTypePrint(ClientData, Tk_Window, char *widgRec, int offset, Tcl_FreeProc **) {
  int v = *reinterpret_cast<int *>(widgRec + offset);
  return v >= 0 && v < 2 ? markerWords[v] : "unknown";
}

}  // namespace

Tk_CustomOption symbolTypeOption = {symbolTypeParse, symbolTypePrint, nullptr};
Tk_CustomOption markerTypeOption = {markerTypeParse, markerTypePrint, nullptr};

namespace {

enum { SYMBOL_OVAL, SYMBOL_RECTANGLE, SYMBOL_DIAMOND, SYMBOL_CROSSHAIR, SYMBOL_HANDLE };
enum { MARKER_POINT, MARKER_CROSS };

struct GcanvasSymbolItem {
  GcanvasItem header;
  TextLabel label;  /* right after the header, as in every text-bearing item */
  double *points;   /* x, y world units; owned */
  int numPoints;
  double labelLeft, labelRight, labelTop, labelBottom;  /* offsets from a point's pixel */
  int symbolType, markerType;
  int symbolWidth, symbolHeight;  /* pixels */
  int handleDx, handleDy;
  GC symbolGC;
  XColor *symbolColor;
  GC markerGC;
  XColor *markerColor;
  GcanvasOutline outline;
  int highlightPoint, lastHitPoint;
  GC highlightGC;
  XColor *highlightColor;
};

static_assert(offsetof(GcanvasSymbolItem, label) == offsetof(LabelledItem, label),
              "the label follows the header");

#define SYM_OFFSET(field) static_cast<int>(offsetof(GcanvasSymbolItem, field))

Tk_ConfigSpec symbolConfigSpecs[] = {
    {TK_CONFIG_CUSTOM, "-activedash", nullptr, nullptr, nullptr, SYM_OFFSET(outline.activeDash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-activeoutline", nullptr, nullptr, nullptr,
     SYM_OFFSET(outline.activeColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activeoutlinestipple", nullptr, nullptr, nullptr,
     SYM_OFFSET(outline.activeStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-activewidth", nullptr, nullptr, "0.0", SYM_OFFSET(outline.activeWidth),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_CUSTOM, "-dash", nullptr, nullptr, nullptr, SYM_OFFSET(outline.dash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_PIXELS, "-dashoffset", nullptr, nullptr, "0", SYM_OFFSET(outline.offset),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-disableddash", nullptr, nullptr, nullptr,
     SYM_OFFSET(outline.disabledDash), TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-disabledoutline", nullptr, nullptr, nullptr,
     SYM_OFFSET(outline.disabledColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledoutlinestipple", nullptr, nullptr, nullptr,
     SYM_OFFSET(outline.disabledStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-disabledwidth", nullptr, nullptr, "0.0",
     SYM_OFFSET(outline.disabledWidth), TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_COLOR, "-background", "background", "Background", nullptr,
     SYM_OFFSET(outline.background), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_COLOR, "-outline", nullptr, nullptr, "red", SYM_OFFSET(outline.color),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-outlineoffset", nullptr, nullptr, "0,0", SYM_OFFSET(outline.tsoffset),
     TK_CONFIG_DONT_SET_DEFAULT, &offsetOption},
    {TK_CONFIG_BITMAP, "-outlinestipple", nullptr, nullptr, nullptr, SYM_OFFSET(outline.stipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-width", nullptr, nullptr, "1.0", SYM_OFFSET(outline.width),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_CUSTOM, "-symboltype", nullptr, nullptr, "oval", SYM_OFFSET(symbolType),
     TK_CONFIG_DONT_SET_DEFAULT, &symbolTypeOption},
    {TK_CONFIG_COLOR, "-symbolcolor", nullptr, nullptr, "", SYM_OFFSET(symbolColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-markertype", nullptr, nullptr, "point", SYM_OFFSET(markerType),
     TK_CONFIG_DONT_SET_DEFAULT, &markerTypeOption},
    {TK_CONFIG_COLOR, "-markercolor", nullptr, nullptr, "red", SYM_OFFSET(markerColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-activefill", nullptr, nullptr, nullptr, SYM_OFFSET(label.activeColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activestipple", nullptr, nullptr, nullptr,
     SYM_OFFSET(label.activeStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_ANCHOR, "-anchor", nullptr, nullptr, "center", SYM_OFFSET(label.anchor),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_COLOR, "-disabledfill", nullptr, nullptr, nullptr, SYM_OFFSET(label.disabledColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledstipple", nullptr, nullptr, nullptr,
     SYM_OFFSET(label.disabledStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-fill", nullptr, nullptr, "black", SYM_OFFSET(label.color),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_INT, "-floating", nullptr, nullptr, "0", SYM_OFFSET(header.floating), 0, nullptr},
    {TK_CONFIG_FONT, "-font", nullptr, nullptr, "{MS Sans Serif} 8", SYM_OFFSET(label.tkfont), 0,
     nullptr},
    {TK_CONFIG_COLOR, "-highlightcolor", nullptr, nullptr, "yellow", SYM_OFFSET(highlightColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_JUSTIFY, "-justify", nullptr, nullptr, "left", SYM_OFFSET(label.justify),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-offset", nullptr, nullptr, "0,0", SYM_OFFSET(label.tsoffset),
     TK_CONFIG_DONT_SET_DEFAULT, &offsetOption},
    {TK_CONFIG_INT, "-scalable", nullptr, nullptr, "0", SYM_OFFSET(header.scalable), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, SYM_OFFSET(header.state),
     TK_CONFIG_NULL_OK, &stateOption},
    {TK_CONFIG_BITMAP, "-stipple", nullptr, nullptr, nullptr, SYM_OFFSET(label.stipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_STRING, "-text", nullptr, nullptr, "", SYM_OFFSET(label.text), 0, nullptr},
    {TK_CONFIG_PIXELS, "-textwidth", nullptr, nullptr, "0", SYM_OFFSET(label.width),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_PIXELS, "-xparam", nullptr, nullptr, "10", SYM_OFFSET(symbolWidth),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_PIXELS, "-yparam", nullptr, nullptr, "10", SYM_OFFSET(symbolHeight),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

GcanvasSymbolItem *asSymbol(GcanvasItem *item) {
  return reinterpret_cast<GcanvasSymbolItem *>(item);
}

void pointPixel(ItemContainer *c, GcanvasSymbolItem *s, int i, double *px, double *py) {
  *px = s->points[2 * i] * c->mx - c->xOffset;
  *py = s->points[2 * i + 1] * c->my - c->yOffset;
}

void computeSymbolBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasSymbolItem *s = asSymbol(item);
  TextLabel *t = &s->label;
  if (s->numPoints <= 0) {
    item->x1 = item->y1 = item->x2 = item->y2 = -1;
    return;
  }
  double B[4];
  {
    double world[4];
    pointsBox(s->points, s->numPoints, world);
    double p1[2] = {world[0], world[1]}, p2[2] = {world[2], world[3]};
    worldPointsToCanvasRect(c, p1, p2, B);
  }
  double hx = s->symbolWidth / 2.0, hy = s->symbolHeight / 2.0;
  int w = 0, h = 0, m = 0;
  if (t->tkfont && t->text && t->numBytes > 0) {
    double sx, sy;
    labelScales(c, item, &sx, &sy);
    int size = labelScaledSize(t, sy);
    if (size < c->textSizeMin) size = c->textSizeMin;
    if (size > c->textSizeMax) size = c->textSizeMax;
    double widthFactor = sy != 0 ? fabs((sx / sy) * 0.6) : 0;
    labelLayout(c, t, size, widthFactor, 0, 0, 0, &w, &h);
    if (effectiveState(c, item) == STATE_HIDDEN || !labelColor(c, item, t)) w = h = 0;
    m = labelCursorMargin(c);
  } else {
    freeTextLayout(t->layout);
    t->layout = nullptr;
  }
  t->cursorMargin = m;
  StippleOffset &ts = s->outline.tsoffset;
  if (!(ts.flags & OFFSET_INDEX)) {
    if (ts.flags & OFFSET_LEFT) ts.x = roundToInt(-hx);
    else if (ts.flags & OFFSET_CENTER) ts.x = 0;
    else if (ts.flags & OFFSET_RIGHT) ts.x = roundToInt(hx);
    if (ts.flags & OFFSET_TOP) ts.y = roundToInt(-hy);
    else if (ts.flags & OFFSET_MIDDLE) ts.y = 0;
    else if (ts.flags & OFFSET_BOTTOM) ts.y = roundToInt(hy);
  }
  double lx, ly;
  switch (t->anchor) {
  case TK_ANCHOR_SE: case TK_ANCHOR_S: case TK_ANCHOR_SW:
    ly = hy + 2;
    s->handleDy = saturatingInt(hy);
    break;
  case TK_ANCHOR_N: case TK_ANCHOR_NE: case TK_ANCHOR_NW:
    ly = -(h + hy + 2);
    s->handleDy = saturatingInt(-hy);
    break;
  default:
    ly = -h / 2.0;
    s->handleDy = 0;
    break;
  }
  switch (t->anchor) {
  case TK_ANCHOR_NE: case TK_ANCHOR_E: case TK_ANCHOR_SE:
    lx = hx + 2;
    s->handleDx = saturatingInt(hx);
    break;
  case TK_ANCHOR_SW: case TK_ANCHOR_W: case TK_ANCHOR_NW:
    lx = -(w + hx + 2);
    s->handleDx = saturatingInt(-hx);
    break;
  default:
    lx = -(w / 2);
    s->handleDx = 0;
    break;
  }
  s->labelLeft = lx;
  s->labelRight = lx + w;
  s->labelTop = ly;
  s->labelBottom = ly + h;
  float xm = static_cast<float>(1 + s->outline.width + m), ym = static_cast<float>(1 + s->outline.width);
  item->xMargin = xm;
  item->yMargin = ym;
  item->x1 = B[0];
  item->y1 = B[1];
  item->x2 = B[2];
  item->y2 = B[3];
  growItemBox(item, B[0] + lx - xm, B[1] + ly - ym);
  growItemBox(item, B[2] + lx + w + xm, B[3] + ly + h + ym);
  growItemBox(item, B[0] - hx, B[1] - hy);
  growItemBox(item, B[2] + hx, B[3] + hy);
}

int symbolCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  GcanvasSymbolItem *s = asSymbol(item);
  if (objc == 0) {
    Tcl_Obj *list = Tcl_NewObj();
    for (int i = 0; i < 2 * s->numPoints; i++)
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(s->points[i]));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
  }
  if (objc & 1) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                                 "wrong # coordinates: expected even number of coordates, got %d",
                                 objc));
    return TCL_ERROR;
  }
  double *fresh = static_cast<double *>(
      static_cast<void *>(Tcl_AttemptAlloc(static_cast<unsigned>(sizeof(double) * objc))));
  if (!fresh) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("not enough memory for the coordinates", -1));
    return TCL_ERROR;
  }
  for (int i = 0; i < objc; i++)
    if (canvasGetCoordFromObj(interp, c, objv[i], &fresh[i]) != TCL_OK) {
      Tcl_Free(reinterpret_cast<char *>(fresh));
      return TCL_ERROR;
    }
  if (s->points) Tcl_Free(reinterpret_cast<char *>(s->points));
  s->points = fresh;
  s->numPoints = objc / 2;
  if (s->lastHitPoint >= s->numPoints) s->lastHitPoint = -1;
  if (s->highlightPoint >= s->numPoints) s->highlightPoint = -1;
  computeSymbolBbox(c, item);
  return TCL_OK;
}

void symbolConfigureGCs(ItemContainer *c, GcanvasItem *item) {
  GcanvasSymbolItem *s = asSymbol(item);
  Tk_Window tkwin = canvasTkwin(c);
  Display *display = Tk_Display(tkwin);
  GcanvasOutline &o = s->outline;
  setStateDependant(item, outlineHasActiveLook(&o) || labelHasActiveLook(&s->label));
  labelConfigureGCs(c, item, &s->label);
  XGCValues values;
  GC gc = None;
  int mask = configOutlineGC(&values, c, item, &o);
  if (mask && o.width != 0 && o.color) {
    values.cap_style = CapProjecting;
    mask |= GCCapStyle;
    gc = Tk_GetGC(tkwin, static_cast<unsigned long>(mask), &values);
  }
  replaceGC(display, &o.gc, gc);
  auto colourGC = [&](XColor *color, GC *slot, int lineWidth) {
    GC fresh = None;
    if (color) {
      values.foreground = color->pixel;
      values.line_width = lineWidth;
      fresh = Tk_GetGC(tkwin, GCForeground | GCLineWidth, &values);
    }
    replaceGC(display, slot, fresh);
  };
  colourGC(s->symbolColor, &s->symbolGC, 0);
  colourGC(s->markerColor, &s->markerGC, 0);
  replaceGC(display, &s->highlightGC, getHighlightGC(c, item, &o, s->highlightColor, &values));
}

int configureSymbol(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                    Tcl_Obj *const objv[], int flags) {
  GcanvasSymbolItem *s = asSymbol(item);
  freeTextLayout(s->label.layout);
  s->label.layout = nullptr;
  int code = Tk_ConfigureWidget(interp, canvasTkwin(c), symbolConfigSpecs, objc, objWords(objv),
                                reinterpret_cast<char *>(s), flags | TK_CONFIG_OBJS);
  labelReadFontSize(c, &s->label);
  symbolConfigureGCs(c, item);
  labelUpdateCounts(c, item, &s->label);
  computeSymbolBbox(c, item);
  return code;
}

void deleteSymbol(ItemContainer *, GcanvasItem *item, Display *display) {
  GcanvasSymbolItem *s = asSymbol(item);
  labelFree(display, &s->label);
  freeOutline(display, &s->outline);
  freeItemGCs(display, {&s->symbolGC, &s->markerGC, &s->highlightGC});
  Tk_FreeOptions(symbolConfigSpecs, reinterpret_cast<char *>(s), display, 0);
  if (s->points) Tcl_Free(reinterpret_cast<char *>(s->points));
  s->points = nullptr;
  s->numPoints = 0;
}

void initSymbol(ItemContainer *c, GcanvasSymbolItem *s) {
  new (&s->label) TextLabel();
  s->label.textInfoPtr = canvasTextInfo(c);
  s->points = nullptr;
  s->numPoints = 0;
  s->labelLeft = s->labelRight = s->labelTop = s->labelBottom = 0;
  s->symbolType = SYMBOL_OVAL;
  s->markerType = MARKER_POINT;
  s->symbolWidth = s->symbolHeight = 10;
  s->handleDx = s->handleDy = 0;
  s->symbolGC = s->markerGC = s->highlightGC = None;
  s->symbolColor = s->markerColor = s->highlightColor = nullptr;
  initOutline(&s->outline);
  s->highlightPoint = s->lastHitPoint = -1;
}

int createSymbol(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  GcanvasSymbolItem *s = asSymbol(item);
  int coords = createCoordCount(interp, c, item, objc, objv, 2, "x y");
  if (coords < 0) return TCL_ERROR;
  initSymbol(c, s);
  return createFromWords(interp, c, item, objc, objv, coords);
}

int symbolFromVertices(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, VertexData *data) {
  GcanvasSymbolItem *s = asSymbol(item);
  initSymbol(c, s);
  if (configureSymbol(interp, c, item, 0, nullptr, 0) != TCL_OK) {
    deleteSymbol(c, item, canvasOf(c)->c.display);
    return TCL_ERROR;
  }
  if (data->numParts > 0 && data->vertices) {
    s->points = static_cast<double *>(static_cast<void *>(
        Tcl_AttemptAlloc(static_cast<unsigned>(sizeof(double) * 2 * data->numParts))));
    if (!s->points) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("not enough memory for the points", -1));
      deleteSymbol(c, item, canvasOf(c)->c.display);
      return TCL_ERROR;
    }
    memcpy(s->points, data->vertices, sizeof(double) * 2 * data->numParts);
    s->numPoints = data->numParts;
  }
  if (data->styleSource) {
    Tk_Window tkwin = canvasTkwin(c);
    GcanvasOutline *src = data->styleSource;
    s->outline.width = src->width;
    if (s->outline.color) Tk_FreeColor(s->outline.color);
    s->outline.color = copyColor(interp, tkwin, src->color);
    s->outline.activeColor = copyColor(interp, tkwin, src->activeColor);
    if (data->fillColor) {
      s->symbolColor = copyColor(interp, tkwin, data->fillColor);
      if (!s->markerColor) s->markerColor = copyColor(interp, tkwin, data->fillColor);
    }
    symbolConfigureGCs(c, item);
  }
  computeSymbolBbox(c, item);
  return TCL_OK;
}

void displaySymbol(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable, int,
                   int, int, int) {
  GcanvasSymbolItem *s = asSymbol(item);
  TextLabel *t = &s->label;
  if (drawable == None) return;
  GcanvasRecord *canvas = canvasOf(c);
  GC outlineGC = s->outline.gc;
  Pixmap stipple = labelStipple(c, item, t);
  if (t->gc != None && t->layout && stipple != None) setStippleOffset(c, t->gc, &t->tsoffset);
  if (outlineGC != None) changeOutlineGC(c, item, &s->outline);
  int sw = s->symbolWidth, sh = s->symbolHeight;
  for (int i = 0; i < s->numPoints; i++) {
    double px, py;
    pointPixel(c, s, i, &px, &py);
    if (t->gc != None && t->layout && s->labelRight > s->labelLeft) {
      t->leftEdge = px + s->labelLeft;
      t->rightEdge = px + s->labelRight;
      t->top = py + s->labelTop;
      labelDisplay(c, item, t, display, drawable,
                   toDrawableCoord(canvas->drawableXOrigin, t->leftEdge),
                   toDrawableCoord(canvas->drawableYOrigin, t->top), true);
    }
    int u = toDrawableCoord(canvas->drawableXOrigin, px);
    int v = toDrawableCoord(canvas->drawableYOrigin, py);
    int left = u - sw / 2, top = v - sh / 2;
    GC fill = i == s->highlightPoint && s->highlightGC != None ? s->highlightGC : s->symbolGC;
    unsigned uw = static_cast<unsigned>(std::max(sw, 0)), uh = static_cast<unsigned>(std::max(sh, 0));
    switch (s->symbolType) {
    case SYMBOL_OVAL:
      if (fill != None) XFillArc(display, drawable, fill, left, top, uw, uh, 0, 23040);
      if (outlineGC != None) XDrawArc(display, drawable, outlineGC, left, top, uw, uh, 0, 23040);
      break;
    case SYMBOL_RECTANGLE:
      if (fill != None) XFillRectangle(display, drawable, fill, left, top, uw, uh);
      if (outlineGC != None) XDrawRectangle(display, drawable, outlineGC, left, top, uw, uh);
      break;
    case SYMBOL_DIAMOND: {
      XPoint p[5] = {{short(u), short(top)}, {short(left), short(v)}, {short(u), short(top + sh)},
                     {short(left + sw), short(v)}, {short(u), short(top)}};
      if (fill != None) XFillPolygon(display, drawable, fill, p, 5, Complex, CoordModeOrigin);
      if (outlineGC != None) XDrawLines(display, drawable, outlineGC, p, 5, CoordModeOrigin);
      break;
    }
    case SYMBOL_CROSSHAIR: {
      int hx = sw / 2;
      XPoint p[13] = {{short(u + 1), short(top)},      {short(u + 1), short(v - 1)},
                      {short(u + hx), short(v - 1)},   {short(u + hx), short(v + 1)},
                      {short(u + 1), short(v + 1)},    {short(u + 1), short(top + sh)},
                      {short(u - 1), short(top + sh)}, {short(u - 1), short(v + 1)},
                      {short(left), short(v + 1)},     {short(left), short(v - 1)},
                      {short(u - 1), short(v - 1)},    {short(u - 1), short(top)},
                      {short(u + 1), short(top)}};
      if (fill != None) XFillPolygon(display, drawable, fill, p, 13, Complex, CoordModeOrigin);
      if (outlineGC != None) XDrawLines(display, drawable, outlineGC, p, 13, CoordModeOrigin);
      break;
    }
    case SYMBOL_HANDLE:
      if (outlineGC != None)
        XDrawLine(display, drawable, outlineGC, u, v, u + s->handleDx, v + s->handleDy);
      break;
    }
    if (s->markerGC != None) {
      if (s->markerType == MARKER_POINT) {
        XDrawRectangle(display, drawable, s->markerGC, u, v, 1, 1);
      } else {
        XDrawLine(display, drawable, s->markerGC, left + 1, v, left + sw - 1, v);
        XDrawLine(display, drawable, s->markerGC, u, top + 1, u, top + sh - 1);
      }
    }
  }
  if (outlineGC != None) resetOutlineGC(c, item, &s->outline);
  if (t->gc != None && stipple != None) XSetTSOrigin(display, t->gc, 0, 0);
}

bool labelShown(ItemContainer *c, GcanvasSymbolItem *s) {
  return s->label.layout && effectiveState(c, &s->header) != STATE_HIDDEN &&
         labelColor(c, &s->header, &s->label) && s->label.text && s->label.text[0];
}

double symbolToPoint(ItemContainer *c, GcanvasItem *item, double *p) {
  GcanvasSymbolItem *s = asSymbol(item);
  double hx = s->symbolWidth / 2.0, hy = s->symbolHeight / 2.0;
  double closeEnough = canvasOf(c)->closeEnough;
  double best = 1.0e36;
  int found = -1;
  for (int i = s->numPoints - 1; i >= 0; i--) {
    double px, py;
    pointPixel(c, s, i, &px, &py);
    double oval[4] = {px - hx, py - hy, px + hx, py + hy};
    double d = ovalToPointScaled(1, 1, oval, 0, s->symbolGC != None, p);
    if (s->symbolType == SYMBOL_HANDLE && s->outline.gc != None) {
      double line[4] = {px, py, px + s->handleDx, py + s->handleDy};
      d = std::min(d, thickLineToPoint(line, 2, s->outline.width, CapProjecting, JoinMiter, p));
    }
    if (labelShown(c, s))
      d = std::min(d, static_cast<double>(layoutDistance(
                          s->label.layout, roundToInt(p[0] - px - s->labelLeft),
                          roundToInt(p[1] - py - s->labelTop))));
    if (d >= best) continue;
    best = d;
    found = i;
    if (d < closeEnough) break;
  }
  s->lastHitPoint = found;
  return best;
}

int symbolToArea(ItemContainer *c, GcanvasItem *item, double *rect) {
  GcanvasSymbolItem *s = asSymbol(item);
  double box[4] = {item->x1, item->y1, item->x2, item->y2};
  int r = rectToArea(box, rect);
  if (r < 0 || s->numPoints == 1) return r;
  double hx = s->symbolWidth / 2.0, hy = s->symbolHeight / 2.0;
  for (int i = 0; i < s->numPoints; i++) {
    double px, py;
    pointPixel(c, s, i, &px, &py);
    double sym[4] = {px - hx, py - hy, px + hx, py + hy};
    r = rectToArea(sym, rect);
    if (r >= 0) return r;
    if (s->label.layout && s->label.text && s->label.text[0]) {
      r = layoutIntersect(s->label.layout, roundToInt(rect[0] - (px + s->labelLeft)),
                          roundToInt(rect[1] - (py + s->labelTop)), roundToInt(rect[2] - rect[0]),
                          roundToInt(rect[3] - rect[1]));
      if (r >= 0) return r;
    }
  }
  return -1;
}

void scaleSymbol(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasSymbolItem *s = asSymbol(item);
  scaleWorldPoints(s->points, s->numPoints, ox, oy, sx, sy);
  computeSymbolBbox(c, item);
}

void translateSymbol(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasSymbolItem *s = asSymbol(item);
  translateWorldPoints(s->points, s->numPoints, dx, dy);
  computeSymbolBbox(c, item);
}

/* Only the labels are written; the symbols themselves have no PostScript. */
int symbolToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int prepass) {
  GcanvasSymbolItem *s = asSymbol(item);
  for (int i = 0; i < s->numPoints; i++) {
    double px, py;
    pointPixel(c, s, i, &px, &py);
    Tcl_Obj *saved = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(saved);
    if (labelPostscript(interp, c, item, &s->label, px, py, prepass) != TCL_OK)
      Tcl_SetObjResult(interp, saved);
    Tcl_DecrRefCount(saved);
  }
  return TCL_OK;
}

/* The point form addresses the label of the first point. */
int symbolPointIndex(ItemContainer *c, GcanvasItem *item, double x, double y) {
  GcanvasSymbolItem *s = asSymbol(item);
  GcanvasRecord *canvas = canvasOf(c);
  if (!s->label.layout || s->numPoints == 0) return 0;
  double px, py;
  pointPixel(c, s, 0, &px, &py);
  return layoutPointToChar(s->label.layout,
                           roundToInt(static_cast<double>(roundToInt(x)) + canvas->xOrigin -
                                      (px + s->labelLeft)),
                           roundToInt(static_cast<double>(roundToInt(y)) + canvas->yOrigin -
                                      (py + s->labelTop)));
}

int symbolIndex(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, Tcl_Obj *obj,
                int *indexPtr) {
  return labelIndex(interp, c, item, &asSymbol(item)->label, obj, indexPtr, symbolPointIndex);
}

int symbolVertices(GcanvasItem *item, double **points) {
  *points = asSymbol(item)->points;
  return asSymbol(item)->numPoints;
}

int symbolPartCounts(GcanvasItem *item, int **counts) {
  *counts = nullptr;
  return asSymbol(item)->numPoints;
}

int symbolGetComponent(GcanvasItem *item) { return asSymbol(item)->lastHitPoint; }

void redrawPoint(ItemContainer *c, GcanvasSymbolItem *s, int i) {
  if (i < 0 || i >= s->numPoints) return;
  double px, py;
  pointPixel(c, s, i, &px, &py);
  double hx = s->symbolWidth / 2.0, hy = s->symbolHeight / 2.0;
  eventuallyRedrawArea(canvasOf(c), px - hx, py - hy, px + hx, py + hy, 1);
}

void symbolSetComponent(ItemContainer *c, GcanvasItem *item, int on) {
  GcanvasSymbolItem *s = asSymbol(item);
  switchHighlight(on, s->lastHitPoint, &s->highlightPoint,
                  [&](int point) { redrawPoint(c, s, point); });
}

}  // namespace

GcanvasItemType symbolType = {
    "symbol", sizeof(GcanvasSymbolItem), createSymbol, symbolConfigSpecs, configureSymbol,
    symbolCoords, deleteSymbol, displaySymbol, TK_ITEM_OBJS, symbolToPoint, symbolToArea,
    symbolToPostscript, scaleSymbol, translateSymbol, symbolIndex, labelledIcursor,
    labelledSelection, labelledInsert, labelledDChars, computeSymbolBbox, nullptr, nullptr,
    nullptr, symbolFromVertices, nullptr, symbolVertices, symbolPartCounts, nullptr, nullptr,
    symbolGetComponent, symbolSetComponent, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace vesk
