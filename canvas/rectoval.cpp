/*
 * rectoval.cpp --
 *     The "rectangle" and "oval" item types: an axis-parallel box in world
 *     coordinates, or the ellipse inscribed in it, with outline, fill,
 *     per-state colours and stipples, and the area, length and centroid
 *     measures.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <tkInt.h>

#include "canvas/gcanvas.h"

namespace vesk {

namespace {

struct GcanvasBoxItem {
  GcanvasItem header;
  GcanvasOutline outline;
  double x1, y1, x2, y2;  /* world units, ordered by every box computation */
  StippleOffset tsoffset;
  XColor *fillColor;
  XColor *activeFillColor;
  XColor *disabledFillColor;
  Pixmap fillStipple;
  Pixmap activeFillStipple;
  Pixmap disabledFillStipple;
  GC fillGC;
};

#define BOX_OFFSET(field) static_cast<int>(offsetof(GcanvasBoxItem, field))

Tk_ConfigSpec boxConfigSpecs[] = {
    {TK_CONFIG_CUSTOM, "-activedash", nullptr, nullptr, nullptr, BOX_OFFSET(outline.activeDash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-activefill", nullptr, nullptr, nullptr, BOX_OFFSET(activeFillColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-activeoutline", nullptr, nullptr, nullptr,
     BOX_OFFSET(outline.activeColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activeoutlinestipple", nullptr, nullptr, nullptr,
     BOX_OFFSET(outline.activeStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activestipple", nullptr, nullptr, nullptr, BOX_OFFSET(activeFillStipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-activewidth", nullptr, nullptr, "0.0", BOX_OFFSET(outline.activeWidth),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_CUSTOM, "-dash", nullptr, nullptr, nullptr, BOX_OFFSET(outline.dash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_PIXELS, "-dashoffset", nullptr, nullptr, "0", BOX_OFFSET(outline.offset),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-disableddash", nullptr, nullptr, nullptr,
     BOX_OFFSET(outline.disabledDash), TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-disabledfill", nullptr, nullptr, nullptr, BOX_OFFSET(disabledFillColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-disabledoutline", nullptr, nullptr, nullptr,
     BOX_OFFSET(outline.disabledColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledoutlinestipple", nullptr, nullptr, nullptr,
     BOX_OFFSET(outline.disabledStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledstipple", nullptr, nullptr, nullptr,
     BOX_OFFSET(disabledFillStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-disabledwidth", nullptr, nullptr, "0.0",
     BOX_OFFSET(outline.disabledWidth), TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_COLOR, "-fill", nullptr, nullptr, nullptr, BOX_OFFSET(fillColor), TK_CONFIG_NULL_OK,
     nullptr},
    {TK_CONFIG_INT, "-floating", nullptr, nullptr, "0", BOX_OFFSET(header.floating), 0, nullptr},
    {TK_CONFIG_COLOR, "-background", "background", "Background", nullptr,
     BOX_OFFSET(outline.background), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_CUSTOM, "-offset", nullptr, nullptr, "0,0", BOX_OFFSET(tsoffset),
     TK_CONFIG_DONT_SET_DEFAULT, &offsetOption},
    {TK_CONFIG_COLOR, "-outline", nullptr, nullptr, "black", BOX_OFFSET(outline.color),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-outlineoffset", nullptr, nullptr, "0,0", BOX_OFFSET(outline.tsoffset),
     TK_CONFIG_DONT_SET_DEFAULT, &offsetOption},
    {TK_CONFIG_BITMAP, "-outlinestipple", nullptr, nullptr, nullptr, BOX_OFFSET(outline.stipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, BOX_OFFSET(header.state),
     TK_CONFIG_NULL_OK, &stateOption},
    {TK_CONFIG_BITMAP, "-stipple", nullptr, nullptr, nullptr, BOX_OFFSET(fillStipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_CUSTOM, "-width", nullptr, nullptr, "1.0", BOX_OFFSET(outline.width),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

bool isRectangle(GcanvasItem *item) { return item->typePtr->name[0] == 'r'; }

/* The outline width in the item's state (0 when there is no outline GC). */
double currentWidth(ItemContainer *c, GcanvasBoxItem *box) {
  return outlineStateWidth(c, &box->header, &box->outline);
}

XColor *stateFillColor(ItemContainer *c, GcanvasBoxItem *box) {
  return stateValue(c, &box->header, box->fillColor, box->activeFillColor, box->disabledFillColor);
}

Pixmap stateFillStipple(ItemContainer *c, GcanvasBoxItem *box) {
  return stateValue(c, &box->header, box->fillStipple, box->activeFillStipple,
                    box->disabledFillStipple);
}

XColor *stateOutlineColor(ItemContainer *c, GcanvasBoxItem *box) {
  GcanvasOutline &o = box->outline;
  return stateValue(c, &box->header, o.color, o.activeColor, o.disabledColor);
}

/* Stipple offsets placed relative to the item's corners. */
void placeOffset(GcanvasBoxItem *box, StippleOffset *ts) {
  if (ts->flags & OFFSET_INDEX) return;
  if (ts->flags & OFFSET_LEFT) ts->x = saturatingInt(box->x1 + 0.5);
  else if (ts->flags & OFFSET_CENTER) ts->x = saturatingInt((box->x1 + box->x2 + 1) / 2 + 0.5);
  else if (ts->flags & OFFSET_RIGHT) ts->x = saturatingInt(box->x2 + 0.5);
  if (ts->flags & OFFSET_TOP) ts->y = saturatingInt(box->y1 + 0.5);
  else if (ts->flags & OFFSET_MIDDLE) ts->y = saturatingInt((box->y1 + box->y2 + 1) / 2 + 0.5);
  else if (ts->flags & OFFSET_BOTTOM) ts->y = saturatingInt(box->y2 + 0.5);
}

void computeBoxBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  if (effectiveState(c, item) == STATE_HIDDEN) {
    item->x1 = item->y1 = item->x2 = item->y2 = -1;
    return;
  }
  if (box->y1 > box->y2) std::swap(box->y1, box->y2);
  if (box->x1 > box->x2) std::swap(box->x1, box->x2);
  double margin = box->outline.gc != None ? (currentWidth(c, box) + 1) / 2 : 1;
  double p1[2] = {box->x1, box->y1}, p2[2] = {box->x2, box->y2}, r[4];
  worldPointsToCanvasRect(c, p1, p2, r);
  item->x1 = r[0] - margin;
  item->y1 = r[1] - margin;
  item->x2 = (r[2] > r[0] + 1 ? r[2] : r[0] + 1) + margin;
  item->y2 = (r[3] > r[1] + 1 ? r[3] : r[1] + 1) + margin;
  item->xMargin = item->yMargin = static_cast<float>(margin);
}

int boxCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
              Tcl_Obj *const objv[]) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  if (objc == 0) {
    Tcl_Obj *list = Tcl_NewObj();
    for (double v : {box->x1, box->y1, box->x2, box->y2})
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(v));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
  }
  if (objc == 1) {
    if (Tcl_ListObjGetElements(interp, objv[0], &objc, const_cast<Tcl_Obj ***>(&objv)) != TCL_OK)
      return TCL_ERROR;
  }
  if (objc != 4) {
    Tcl_SetObjResult(interp,
                     Tcl_ObjPrintf("wrong # coordinates: expected 0 or 4, got %d", objc));
    return TCL_ERROR;
  }
  double *fields[4] = {&box->x1, &box->y1, &box->x2, &box->y2};
  for (int i = 0; i < 4; i++)
    if (canvasGetCoordFromObj(interp, c, objv[i], fields[i]) != TCL_OK) return TCL_ERROR;
  computeBoxBbox(c, item);
  return TCL_OK;
}

int configureBox(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[], int flags) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  Tk_Window tkwin = canvasTkwin(c);
  if (Tk_ConfigureWidget(interp, tkwin, boxConfigSpecs, objc,
                         objWords(objv),
                         reinterpret_cast<char *>(box), flags | TK_CONFIG_OBJS) != TCL_OK)
    return TCL_ERROR;
  GcanvasOutline &o = box->outline;
  setStateDependant(item, outlineHasActiveLook(&o) || box->activeFillColor ||
                              box->activeFillStipple != None);
  placeOffset(box, &o.tsoffset);

  XGCValues gcValues;
  GC newGC = None;
  int mask = configOutlineGC(&gcValues, c, item, &o);
  if (mask && currentWidth(c, box) != 0 && stateOutlineColor(c, box)) {
    gcValues.cap_style = CapProjecting;
    mask |= GCCapStyle;
    newGC = Tk_GetGC(tkwin, static_cast<unsigned long>(mask), &gcValues);
  }
  replaceGC(Tk_Display(tkwin), &o.gc, newGC);

  if (effectiveState(c, item) != STATE_HIDDEN) {
    GC fillGC = getFillGC(tkwin, stateFillColor(c, box), stateFillStipple(c, box), &gcValues);
    replaceGC(Tk_Display(tkwin), &box->fillGC, fillGC);
    placeOffset(box, &box->tsoffset);
  }
  computeBoxBbox(c, item);
  return TCL_OK;
}

void deleteBox(ItemContainer *, GcanvasItem *item, Display *display) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  freeOutline(display, &box->outline);
  freeItemColors({&box->fillColor, &box->activeFillColor, &box->disabledFillColor});
  freeItemBitmaps(display, {&box->fillStipple, &box->activeFillStipple, &box->disabledFillStipple});
  freeItemGCs(display, {&box->fillGC});
}

int createBox(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
              Tcl_Obj *const objv[]) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  int coords = createCoordCount(interp, c, item, objc, objv, 4, "x1 y1 x2 y2");
  if (coords < 0) return TCL_ERROR;
  initOutline(&box->outline);
  box->x1 = box->y1 = box->x2 = box->y2 = 0;
  box->tsoffset = StippleOffset();
  box->fillColor = box->activeFillColor = box->disabledFillColor = nullptr;
  box->fillStipple = box->activeFillStipple = box->disabledFillStipple = None;
  box->fillGC = None;
  return createFromWords(interp, c, item, objc, objv, coords);
}

void displayBox(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable, int, int,
                int, int) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  if (drawable == None) return;
  GcanvasRecord *canvas = canvasOf(c);
  double p[4] = {box->x1, box->y1, box->x2, box->y2}, q[4];
  worldToCanvas(c, p, q, 2);
  int x1 = toDrawableCoord(canvas->drawableXOrigin, q[0]);
  int y1 = toDrawableCoord(canvas->drawableYOrigin, q[1]);
  int x2 = toDrawableCoord(canvas->drawableXOrigin, q[2]);
  int y2 = toDrawableCoord(canvas->drawableYOrigin, q[3]);
  if (x1 > x2) std::swap(x1, x2);
  if (x1 == x2) x2 = x1 + 1;
  if (y1 > y2) std::swap(y1, y2);
  if (y1 == y2) y2 = y1 + 1;
  unsigned w = static_cast<unsigned>(x2 - x1), h = static_cast<unsigned>(y2 - y1);
  bool rect = isRectangle(item);
  if (box->fillGC != None) {
    Pixmap stipple = stateFillStipple(c, box);
    if (stipple != None) {
      StippleOffset saved = box->tsoffset;
      if (!(saved.flags & OFFSET_INDEX) && (saved.flags & (OFFSET_CENTER | OFFSET_MIDDLE))) {
        int bw = 0, bh = 0;
        Tk_SizeOfBitmap(display, stipple, &bw, &bh);
        if (saved.flags & OFFSET_CENTER) box->tsoffset.x -= bw / 2;
        if (saved.flags & OFFSET_MIDDLE) box->tsoffset.y -= bh / 2;
      }
      setStippleOffset(c, box->fillGC, &box->tsoffset);
      box->tsoffset = saved;
    }
    if (rect)
      XFillRectangle(display, drawable, box->fillGC, x1, y1, w, h);
    else
      XFillArc(display, drawable, box->fillGC, x1, y1, w, h, 0, 23040);
    if (stipple != None) XSetTSOrigin(display, box->fillGC, 0, 0);
  }
  if (box->outline.gc != None) {
    changeOutlineGC(c, item, &box->outline);
    if (rect)
      XDrawRectangle(display, drawable, box->outline.gc, x1, y1, w, h);
    else
      XDrawArc(display, drawable, box->outline.gc, x1, y1, w, h, 0, 23040);
    resetOutlineGC(c, item, &box->outline);
  }
}

double rectToPoint(ItemContainer *c, GcanvasItem *item, double *point) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  double p1[2] = {box->x1, box->y1}, p2[2] = {box->x2, box->y2}, r[4];
  worldPointsToCanvasRect(c, p1, p2, r);
  double width = currentWidth(c, box);
  double x1 = r[0], y1 = r[1], x2 = r[2], y2 = r[3];
  if (box->outline.gc != None) {
    double inc = width / 2.0;
    x1 -= inc;
    y1 -= inc;
    x2 += inc;
    y2 += inc;
  }
  double px = point[0], py = point[1];
  if (px >= x1 && px < x2 && py >= y1 && py < y2) {
    if (box->fillGC != None || box->outline.gc == None) return 0.0;
    double d = px - x1;
    if (x2 - px < d) d = x2 - px;
    if (py - y1 < d) d = py - y1;
    if (y2 - py < d) d = y2 - py;
    d -= width;
    return d < 0 ? 0.0 : d;
  }
  double dx = px < x1 ? x1 - px : (px > x2 ? px - x2 : 0);
  double dy = py < y1 ? y1 - py : (py > y2 ? py - y2 : 0);
  return hypot(dx, dy);
}

double ovalToPoint(ItemContainer *c, GcanvasItem *item, double *point) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  double world[2];
  canvasToWorld(c, point, world, 1);
  double oval[4] = {box->x1, box->y1, box->x2, box->y2};
  bool outlined = box->outline.gc != None;
  double width = outlined ? currentWidth(c, box) : 0.0;
  int filled = box->fillGC != None || !outlined;
  return ovalToPointScaled(c->mx, c->my, oval, width, filled, world);
}

double halfWidthWorld(ItemContainer *c, GcanvasBoxItem *box) {
  return box->outline.gc != None ? currentWidth(c, box) / (fabs(c->mx) + fabs(c->my)) : 0.0;
}

int rectToAreaProc(ItemContainer *c, GcanvasItem *item, double *area) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  double h = halfWidthWorld(c, box), a[4];
  canvasPointsToWorldRect(c, area, area + 2, a);
  if (a[2] <= box->x1 - h || a[0] >= box->x2 + h || a[3] <= box->y1 - h || a[1] >= box->y2 + h)
    return -1;
  if (box->fillGC == None && box->outline.gc != None && a[0] >= box->x1 + h &&
      a[1] >= box->y1 + h && a[2] <= box->x2 - h && a[3] <= box->y2 - h)
    return -1;
  if (a[0] <= box->x1 - h && a[1] <= box->y1 - h && a[2] >= box->x2 + h && a[3] >= box->y2 + h)
    return 1;
  return 0;
}

int ovalToAreaProc(ItemContainer *c, GcanvasItem *item, double *area) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  double h = halfWidthWorld(c, box), a[4];
  canvasPointsToWorldRect(c, area, area + 2, a);
  double oval[4] = {box->x1 - h, box->y1 - h, box->x2 + h, box->y2 + h};
  int result = TkOvalToArea(oval, a);
  if (result != 0 || box->outline.gc == None || box->fillGC != None) return result;
  double cx = (oval[0] + oval[2]) / 2, cy = (oval[1] + oval[3]) / 2;
  double rx = (oval[2] - oval[0]) / 2 - h, ry = (oval[3] - oval[1]) / 2 - h;
  if (rx <= 0 || ry <= 0) return 0;
  for (int i = 0; i < 4; i++) {
    double x = (i & 1) ? a[2] : a[0], y = (i & 2) ? a[3] : a[1];
    double dx = (x - cx) / rx, dy = (y - cy) / ry;
    if (dx * dx + dy * dy >= 1.0) return 0;
  }
  return -1;
}

void scaleBox(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  scaleWorldPoint(&box->x1, &box->y1, ox, oy, sx, sy);
  scaleWorldPoint(&box->x2, &box->y2, ox, oy, sx, sy);
  computeBoxBbox(c, item);
}

void translateBox(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  box->x1 += dx;
  box->x2 += dx;
  box->y1 += dy;
  box->y2 += dy;
  computeBoxBbox(c, item);
}

int boxToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int prepass) {
  GcanvasBoxItem *box = reinterpret_cast<GcanvasBoxItem *>(item);
  double p1[2] = {box->x1, box->y1}, p2[2] = {box->x2, box->y2}, r[4];
  worldPointsToCanvasRect(c, p1, p2, r);
  double y1 = canvasPsY(c, r[1]), y2 = canvasPsY(c, r[3]);
  char path[512];
  if (isRectangle(item))
    snprintf(path, sizeof path,
             "%.15g %.15g moveto %.15g 0 rlineto 0 %.15g rlineto %.15g 0 rlineto closepath\n",
             r[0], y1, r[2] - r[0], y2 - y1, r[0] - r[2]);
  else
    snprintf(path, sizeof path,
             "matrix currentmatrix\n%.15g %.15g translate %.15g %.15g scale 1 0 moveto 0 0 1 0 "
             "360 arc\nsetmatrix\n",
             (r[0] + r[2]) / 2, (y1 + y2) / 2, (r[2] - r[0]) / 2, (y1 - y2) / 2);
  XColor *outline = stateOutlineColor(c, box);
  XColor *fill = stateFillColor(c, box);
  Pixmap stipple = stateFillStipple(c, box);
  if (fill) {
    Tcl_AppendResult(interp, path, nullptr);
    if (canvasPsColor(interp, c, fill) != TCL_OK) return TCL_ERROR;
    if (stipple != None) {
      Tcl_AppendResult(interp, "clip ", nullptr);
      if (canvasPsStipple(interp, c, stipple) != TCL_OK) return TCL_ERROR;
      if (outline) Tcl_AppendResult(interp, "grestore gsave\n", nullptr);
    } else {
      Tcl_AppendResult(interp, "fill\n", nullptr);
    }
  }
  if (outline && box->outline.gc != None) {
    Tcl_AppendResult(interp, path, "0 setlinejoin 2 setlinecap\n", nullptr);
    if (outlinePostScript(c, item, &box->outline) != TCL_OK) return TCL_ERROR;
  }
  (void)prepass;
  return TCL_OK;
}

double rectArea(ItemContainer *, GcanvasItem *item) {
  GcanvasBoxItem *b = reinterpret_cast<GcanvasBoxItem *>(item);
  return (b->x2 - b->x1) * (b->y2 - b->y1);
}

double rectLength(ItemContainer *, GcanvasItem *item) {
  GcanvasBoxItem *b = reinterpret_cast<GcanvasBoxItem *>(item);
  return 2 * ((b->x2 - b->x1) + (b->y2 - b->y1));
}

double ovalArea(ItemContainer *, GcanvasItem *item) {
  GcanvasBoxItem *b = reinterpret_cast<GcanvasBoxItem *>(item);
  return 3.141592653589793 / 4 * (b->x2 - b->x1) * (b->y2 - b->y1);
}

double ovalLength(ItemContainer *, GcanvasItem *item) {
  GcanvasBoxItem *b = reinterpret_cast<GcanvasBoxItem *>(item);
  double a = (b->x2 - b->x1) / 2, bb = (b->y2 - b->y1) / 2;
  return 2 * 3.141592653589793 * sqrt((a * a + bb * bb) / 2);
}

double boxCentroid(ItemContainer *c, GcanvasItem *item, double *x, double *y) {
  GcanvasBoxItem *b = reinterpret_cast<GcanvasBoxItem *>(item);
  *x = (b->x1 + b->x2) / 2;
  *y = (b->y1 + b->y2) / 2;
  return isRectangle(item) ? rectArea(c, item) : ovalArea(c, item);
}

}  // namespace

GcanvasItemType rectangleType = {
    "rectangle", sizeof(GcanvasBoxItem), createBox, boxConfigSpecs, configureBox, boxCoords,
    deleteBox, displayBox, TK_ITEM_OBJS, rectToPoint, rectToAreaProc, boxToPostscript, scaleBox,
    translateBox, nullptr, nullptr, nullptr, nullptr, nullptr, computeBoxBbox, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, rectArea,
    rectLength, boxCentroid, nullptr, nullptr,
};

GcanvasItemType ovalType = {
    "oval", sizeof(GcanvasBoxItem), createBox, boxConfigSpecs, configureBox, boxCoords, deleteBox,
    displayBox, TK_ITEM_OBJS, ovalToPoint, ovalToAreaProc, boxToPostscript, scaleBox, translateBox,
    nullptr, nullptr, nullptr, nullptr, nullptr, computeBoxBbox, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, ovalArea, ovalLength,
    boxCentroid, nullptr, nullptr,
};

}  // namespace vesk
