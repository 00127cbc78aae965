/*
 * object.cpp --
 *     The "object" item type: a whole vector object (a SHAPE object read
 *     through its VectorOps) drawn at every redisplay as point symbols,
 *     polylines or filled polygons with holes, shifted by the item's two
 *     coordinates.  The item watches the object, so every change of it
 *     redraws the item; it hit-tests and measures the selected records,
 *     highlights the record under the pointer, and can be taken apart into
 *     ordinary items, one a record.
 */
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <tkInt.h>

#include "canvas/gcanvas.h"
#include "core/core.h"
#include "vector/shapeobj.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

struct GcanvasObjectItem {
  GcanvasItem header;
  double x, y;  /* displacement, world units */
  Tk_Anchor anchor;
  StippleOffset tsoffset;
  XColor *fillColor, *activeFillColor, *disabledFillColor;
  Pixmap fillStipple, activeFillStipple, disabledFillStipple;
  GC fillGC;
  GcanvasOutline outline;
  /* The style tail that disassembled items copy (StyleTail). */
  int joinStyle;
  int capStyle;
  int splineSteps;
  const SmoothMethod *smooth;
  char *objectName;
  RAMOBJ *object;
  int highlightRecord;
  int lastHitRecord;
  ItemContainer *container;
  int symbolXSize, symbolYSize;
  int symbolType;
  int markerType;
  GC markerGC;
  XColor *markerColor;
  GC highlightGC;
  XColor *highlightColor;
};

GcanvasObjectItem *asObject(GcanvasItem *item) {
  return reinterpret_cast<GcanvasObjectItem *>(item);
}

/* -symboltype and -markertype are the symbol item's options (gcanvas.h). */

#define OBJ_OFFSET(field) static_cast<int>(offsetof(GcanvasObjectItem, field))

Tk_ConfigSpec objectConfigSpecs[] = {
    {TK_CONFIG_CUSTOM, "-activedash", nullptr, nullptr, nullptr, OBJ_OFFSET(outline.activeDash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-activefill", nullptr, nullptr, nullptr, OBJ_OFFSET(activeFillColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-activeoutline", nullptr, nullptr, nullptr, OBJ_OFFSET(outline.activeColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activeoutlinestipple", nullptr, nullptr, nullptr,
     OBJ_OFFSET(outline.activeStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activestipple", nullptr, nullptr, nullptr, OBJ_OFFSET(activeFillStipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-activewidth", nullptr, nullptr, "0.0", OBJ_OFFSET(outline.activeWidth),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_CUSTOM, "-dash", nullptr, nullptr, nullptr, OBJ_OFFSET(outline.dash),
     TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_PIXELS, "-dashoffset", nullptr, nullptr, "0", OBJ_OFFSET(outline.offset),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-disableddash", nullptr, nullptr, nullptr,
     OBJ_OFFSET(outline.disabledDash), TK_CONFIG_NULL_OK, &dashOption},
    {TK_CONFIG_COLOR, "-disabledfill", nullptr, nullptr, nullptr, OBJ_OFFSET(disabledFillColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-disabledoutline", nullptr, nullptr, nullptr,
     OBJ_OFFSET(outline.disabledColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledoutlinestipple", nullptr, nullptr, nullptr,
     OBJ_OFFSET(outline.disabledStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledstipple", nullptr, nullptr, nullptr,
     OBJ_OFFSET(disabledFillStipple), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-disabledwidth", nullptr, nullptr, "0.0",
     OBJ_OFFSET(outline.disabledWidth), TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_COLOR, "-fill", nullptr, nullptr, nullptr, OBJ_OFFSET(fillColor), TK_CONFIG_NULL_OK,
     nullptr},
    {TK_CONFIG_INT, "-floating", nullptr, nullptr, "0", OBJ_OFFSET(header.floating), 0, nullptr},
    {TK_CONFIG_COLOR, "-background", "background", "Background", nullptr,
     OBJ_OFFSET(outline.background), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_JOIN_STYLE, "-joinstyle", nullptr, nullptr, "round", OBJ_OFFSET(joinStyle),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-offset", nullptr, nullptr, "0,0", OBJ_OFFSET(tsoffset),
     TK_CONFIG_NULL_OK, &offsetOption},
    {TK_CONFIG_COLOR, "-outline", nullptr, nullptr, "black", OBJ_OFFSET(outline.color),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-outlineoffset", nullptr, nullptr, "0,0", OBJ_OFFSET(outline.tsoffset),
     TK_CONFIG_NULL_OK, &offsetOption},
    {TK_CONFIG_BITMAP, "-outlinestipple", nullptr, nullptr, nullptr, OBJ_OFFSET(outline.stipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-smooth", nullptr, nullptr, "0", OBJ_OFFSET(smooth),
     TK_CONFIG_DONT_SET_DEFAULT, &smoothOption},
    {TK_CONFIG_INT, "-splinesteps", nullptr, nullptr, "12", OBJ_OFFSET(splineSteps),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, OBJ_OFFSET(header.state),
     TK_CONFIG_NULL_OK, &stateOption},
    {TK_CONFIG_BITMAP, "-stipple", nullptr, nullptr, nullptr, OBJ_OFFSET(fillStipple),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_CUSTOM, "-width", nullptr, nullptr, "1.0", OBJ_OFFSET(outline.width),
     TK_CONFIG_DONT_SET_DEFAULT, &distanceOption},
    {TK_CONFIG_STRING, "-object", nullptr, nullptr, nullptr, OBJ_OFFSET(objectName),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_ANCHOR, "-anchor", nullptr, nullptr, "center", OBJ_OFFSET(anchor),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_PIXELS, "-symbolxsize", nullptr, nullptr, "10", OBJ_OFFSET(symbolXSize),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_PIXELS, "-symbolysize", nullptr, nullptr, "10", OBJ_OFFSET(symbolYSize),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-symboltype", nullptr, nullptr, "oval", OBJ_OFFSET(symbolType),
     TK_CONFIG_DONT_SET_DEFAULT, &symbolTypeOption},
    {TK_CONFIG_CUSTOM, "-markertype", nullptr, nullptr, "point", OBJ_OFFSET(markerType),
     TK_CONFIG_DONT_SET_DEFAULT, &markerTypeOption},
    {TK_CONFIG_COLOR, "-markercolor", nullptr, nullptr, "red", OBJ_OFFSET(markerColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-highlightcolor", nullptr, nullptr, "yellow", OBJ_OFFSET(highlightColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

/* ---- reading the object ---- */

const VectorOps *opsOf(RAMOBJ *object) {
  return object ? static_cast<const VectorOps *>(object->ops.methods) : nullptr;
}

int recordCount(RAMOBJ *object) {
  return object && object->ops.count && object->payload ? object->ops.count(object) : 0;
}

/* One record read whole: its kind, points (copied: the store's doubles are unaligned) and part lengths. */
struct Record {
  int kind = 0;
  std::vector<double> points;
  std::vector<int> counts;
};

/* A record's part lengths; a record without parts is one part.  Lengths
 * past the points the record holds are cut to what is there. */
bool readRecord(RAMOBJ *object, int i, Record &r) {
  const VectorOps *ops = opsOf(object);
  int partCount = 0, n = 0;
  const int32_t *lengths = ops->recordParts(object, i, &r.kind, &partCount);
  const ShapeDouble *pts = ops->recordPoints(object, i, &n);
  r.points.clear();
  r.counts.clear();
  if (!pts || n <= 0) return false;
  r.points.resize(2 * static_cast<size_t>(n));
  for (int k = 0; k < 2 * n; k++) r.points[static_cast<size_t>(k)] = pts[k];
  if (!lengths || partCount <= 0) {
    r.counts.push_back(n);
    return true;
  }
  int left = n;
  for (int p = 0; p < partCount; p++) {
    int length = lengths[p] < 0 ? 0 : lengths[p] > left ? left : lengths[p];
    r.counts.push_back(length);
    left -= length;
  }
  return true;
}

/* The first point of a record, for culling records that have no box. */
bool firstPoint(RAMOBJ *object, int i, double *x, double *y) {
  int n = 0;
  const ShapeDouble *pts = opsOf(object)->recordPoints(object, i, &n);
  if (!pts || n <= 0) return false;
  *x = pts[0];
  *y = pts[1];
  return true;
}

/*
 * The canvas's transform shifted by the item's displacement for the
 * duration of a call: world coordinates are then the object's own.
 */
struct ShiftedTransform {
  ItemContainer *c;
  double xOffset, yOffset;
  ShiftedTransform(ItemContainer *c_, GcanvasObjectItem *o)
      : c(c_), xOffset(c_->xOffset), yOffset(c_->yOffset) {
    c->xOffset -= o->x * c->mx;
    c->yOffset -= o->y * c->my;
  }
  ~ShiftedTransform() {
    c->xOffset = xOffset;
    c->yOffset = yOffset;
  }
};

/* ---- the watcher, attach and detach ---- */

void computeObjectBbox(ItemContainer *c, GcanvasItem *item);

void objectWatcher(RAMOBJ *, ClientData clientData) {
  GcanvasObjectItem *o = static_cast<GcanvasObjectItem *>(clientData);
  GcanvasRecord *canvas = canvasOf(o->container);
  eventuallyRedrawItem(canvas, &o->header);
  computeObjectBbox(o->container, &o->header);
  eventuallyRedrawItem(canvas, &o->header);
}

void detachObject(GcanvasObjectItem *o) {
  if (!o->object) return;
  RAMOBJ *object = o->object;
  o->object = nullptr;
  if (object->ops.release) object->ops.release(object, objectWatcher, o);
}

/* The object a command name stands for; NULL when it names none. */
RAMOBJ *objectOfCommand(Tcl_Interp *interp, const char *name) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(interp, name, &info)) return nullptr;
  /* Only an object command's client data is read as an object record. */
  if (info.deleteProc != objDelete || !info.clientData) return nullptr;
  RAMOBJ *object = static_cast<RAMOBJ *>(info.clientData);
  if (object->magic != RAMOBJ_MAGIC || !object->ops.methods || !object->ops.acquire ||
      !object->ops.release)
    return nullptr;
  return object;
}

bool attachObject(Tcl_Interp *interp, GcanvasObjectItem *o, const char *name) {
  RAMOBJ *object = objectOfCommand(interp, name);
  if (!object) return false;
  if (!object->ops.acquire(object, objectWatcher, o)) return false;
  if (object->version < 0x100) {
    vesk_fprintf(stderr, "RAMOBJ version 0x%x or higher is required\n", 0x100);
    object->ops.release(object, objectWatcher, o);
    return false;
  }
  detachObject(o);
  o->object = object;
  return true;
}

/* ---- state-dependent tools ---- */

XColor *stateFill(ItemContainer *c, GcanvasObjectItem *o) {
  if (itemIsCurrent(c, &o->header) && o->activeFillColor) return o->activeFillColor;
  if (effectiveState(c, &o->header) == STATE_DISABLED && o->disabledFillColor)
    return o->disabledFillColor;
  return o->fillColor;
}

Pixmap stateFillStipple(ItemContainer *c, GcanvasObjectItem *o) {
  if (itemIsCurrent(c, &o->header) && o->activeFillStipple != None) return o->activeFillStipple;
  if (effectiveState(c, &o->header) == STATE_DISABLED && o->disabledFillStipple != None)
    return o->disabledFillStipple;
  return o->fillStipple;
}

XColor *stateOutline(ItemContainer *c, GcanvasObjectItem *o) {
  GcanvasOutline &ol = o->outline;
  if (itemIsCurrent(c, &o->header) && ol.activeColor) return ol.activeColor;
  if (effectiveState(c, &o->header) == STATE_DISABLED && ol.disabledColor) return ol.disabledColor;
  return ol.color;
}

/* The outline GC's line width, 0 without one. */
int outlineLineWidth(Display *display, GcanvasObjectItem *o) {
  if (o->outline.gc == None) return 0;
  XGCValues values;
  if (!XGetGCValues(display, o->outline.gc, GCLineWidth, &values)) return 0;
  return values.line_width;
}

/* ---- box ---- */

void computeObjectBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasObjectItem *o = asObject(item);
  int count = recordCount(o->object);
  if (!o->object || effectiveState(c, item) == STATE_HIDDEN || count <= 0) {
    item->x1 = item->y1 = item->x2 = item->y2 = -1;
    return;
  }
  const VectorOps *ops = opsOf(o->object);
  double w = outlineLineWidth(canvasOf(c)->c.display, o);
  double ox = o->x * c->mx - c->xOffset, oy = o->y * c->my - c->yOffset;
  double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  bool any = false, lastHadBox = true;
  for (int i = 0; i < count; i++) {
    const ShapeDouble *box = ops->recordBox(o->object, i);
    double b[4];
    if (box) {
      b[0] = box[0], b[1] = box[1], b[2] = box[2], b[3] = box[3];
      lastHadBox = true;
    } else {
      if (!firstPoint(o->object, i, &b[0], &b[1])) continue;
      b[2] = b[0], b[3] = b[1];
      lastHadBox = false;
    }
    if (!any) {
      xmin = b[0], ymin = b[1], xmax = b[2], ymax = b[3];
      any = true;
    } else {
      xmin = fmin(xmin, b[0]), ymin = fmin(ymin, b[1]);
      xmax = fmax(xmax, b[2]), ymax = fmax(ymax, b[3]);
    }
  }
  if (!any) {
    item->x1 = item->y1 = item->x2 = item->y2 = -1;
    return;
  }
  double x1 = xmin * c->mx, x2 = xmax * c->mx, y1 = ymin * c->my, y2 = ymax * c->my;
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  item->x1 = x1 + ox - w;
  item->y1 = y1 + oy - w;
  item->x2 = x2 + ox + w;
  item->y2 = y2 + oy + w;
  if (!lastHadBox) {
    item->x1 -= o->symbolXSize / 2.0;
    item->x2 += o->symbolXSize / 2.0;
    item->y1 -= o->symbolYSize / 2.0;
    item->y2 += o->symbolYSize / 2.0;
  }
  item->xMargin = item->yMargin = static_cast<float>(w);
}

/* ---- configuration ---- */

int configureObject(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                    Tcl_Obj *const objv[], int flags) {
  GcanvasObjectItem *o = asObject(item);
  const std::string previous = o->objectName ? o->objectName : "";
  int code = Tk_ConfigureWidget(interp, canvasTkwin(c), objectConfigSpecs, objc, objWords(objv),
                                reinterpret_cast<char *>(item), flags | TK_CONFIG_OBJS);
  const char *now = o->objectName ? o->objectName : "";
  if (code == TCL_OK && previous != now) {
    if (!now[0]) {
      detachObject(o);
    } else if (!attachObject(interp, o, now)) {
      if (o->objectName) ckfree(o->objectName);
      o->objectName = static_cast<char *>(ckalloc(previous.size() + 1));
      memcpy(o->objectName, previous.c_str(), previous.size() + 1);
      Tcl_SetObjResult(interp, Tcl_NewStringObj("Invalid object!", -1));
      code = TCL_ERROR;
    }
  }
  if (code != TCL_OK) {
    computeObjectBbox(c, item);
    return code;
  }
  Tk_Window tkwin = canvasTkwin(c);
  Display *display = Tk_Display(tkwin);
  GcanvasOutline &ol = o->outline;
  if (ol.activeWidth > ol.width || ol.activeDash.number != 0 || ol.activeColor ||
      ol.activeStipple != None || o->activeFillColor || o->activeFillStipple != None)
    item->redrawFlags |= ITEM_STATE_DEPENDANT;
  else
    item->redrawFlags &= ~ITEM_STATE_DEPENDANT;
  if (effectiveState(c, item) == STATE_HIDDEN) {
    computeObjectBbox(c, item);
    return TCL_OK;
  }
  XGCValues gcValues;
  GC fillGC = None;
  if (XColor *fill = stateFill(c, o)) {
    gcValues.foreground = fill->pixel;
    unsigned long mask = GCForeground;
    Pixmap stipple = stateFillStipple(c, o);
    if (stipple != None) {
      gcValues.stipple = stipple;
      gcValues.fill_style = FillStippled;
      mask |= GCStipple | GCFillStyle;
    }
    fillGC = Tk_GetGC(tkwin, mask, &gcValues);
  }
  if (o->fillGC != None) Tk_FreeGC(display, o->fillGC);
  o->fillGC = fillGC;

  GC newGC = None;
  int mask = configOutlineGC(&gcValues, c, item, &ol);
  if (mask) {
    gcValues.cap_style = CapRound;
    gcValues.join_style = o->joinStyle;
    mask |= GCCapStyle | GCJoinStyle;
    newGC = Tk_GetGC(tkwin, static_cast<unsigned long>(mask), &gcValues);
  }
  if (ol.gc != None) Tk_FreeGC(display, ol.gc);
  ol.gc = newGC;

  if (o->splineSteps < 1) o->splineSteps = 1;
  else if (o->splineSteps > 100) o->splineSteps = 100;

  GC markerGC = None;
  if (o->markerColor) {
    gcValues.foreground = o->markerColor->pixel;
    markerGC = Tk_GetGC(tkwin, GCForeground, &gcValues);
  }
  if (o->markerGC != None) Tk_FreeGC(display, o->markerGC);
  o->markerGC = markerGC;

  GC highlight = None;
  if (o->highlightColor) {
    double w = ol.width;
    if (itemIsCurrent(c, item) && ol.activeWidth > w) w = ol.activeWidth;
    if (w < 1.0) w = 1.0;
    gcValues.foreground = o->highlightColor->pixel;
    gcValues.line_width = saturatingInt(w + 0.5);
    highlight = Tk_GetGC(tkwin, GCForeground | GCLineWidth, &gcValues);
  }
  if (o->highlightGC != None) Tk_FreeGC(display, o->highlightGC);
  o->highlightGC = highlight;
  computeObjectBbox(c, item);
  return TCL_OK;
}

void deleteObject(ItemContainer *, GcanvasItem *item, Display *display) {
  GcanvasObjectItem *o = asObject(item);
  freeOutline(display, &o->outline);
  for (XColor **color :
       {&o->fillColor, &o->activeFillColor, &o->disabledFillColor, &o->markerColor,
        &o->highlightColor}) {
    if (*color) Tk_FreeColor(*color);
    *color = nullptr;
  }
  for (Pixmap *s : {&o->fillStipple, &o->activeFillStipple, &o->disabledFillStipple}) {
    if (*s != None) Tk_FreeBitmap(display, *s);
    *s = None;
  }
  for (GC *gc : {&o->fillGC, &o->markerGC, &o->highlightGC}) {
    if (*gc != None) Tk_FreeGC(display, *gc);
    *gc = None;
  }
  if (o->objectName) ckfree(o->objectName);
  o->objectName = nullptr;
  detachObject(o);
}

void initObject(ItemContainer *c, GcanvasObjectItem *o) {
  o->x = o->y = 0;
  o->anchor = TK_ANCHOR_CENTER;
  o->tsoffset = StippleOffset();
  o->fillColor = o->activeFillColor = o->disabledFillColor = nullptr;
  o->fillStipple = o->activeFillStipple = o->disabledFillStipple = None;
  o->fillGC = None;
  initOutline(&o->outline);
  o->joinStyle = JoinRound;
  o->capStyle = CapRound;
  o->splineSteps = 12;
  o->smooth = nullptr;
  o->objectName = nullptr;
  o->object = nullptr;
  o->highlightRecord = o->lastHitRecord = -1;
  o->container = c;
  o->symbolXSize = o->symbolYSize = 10;
  o->symbolType = 0;
  o->markerType = 0;
  o->markerGC = None;
  o->markerColor = nullptr;
  o->highlightGC = None;
  o->highlightColor = nullptr;
}

/* ---- disassembly ---- */

/* A point record's symbol item draws as the object does: type, size and marker. */
void copySymbolStyle(Tcl_Interp *interp, GcanvasRecord *canvas, GcanvasObjectItem *o,
                     GcanvasItem *made) {
  char *rec = reinterpret_cast<char *>(o);
  const int symbolAt = static_cast<int>(offsetof(GcanvasObjectItem, symbolType));
  const int markerAt = static_cast<int>(offsetof(GcanvasObjectItem, markerType));
  Tcl_Obj *words = Tcl_NewObj();
  Tcl_IncrRefCount(words);
  auto add = [&](const char *name, Tcl_Obj *value) {
    Tcl_ListObjAppendElement(nullptr, words, Tcl_NewStringObj(name, -1));
    Tcl_ListObjAppendElement(nullptr, words, value);
  };
  add("-symboltype", Tcl_NewStringObj(symbolTypeOption.printProc(nullptr, nullptr, rec, symbolAt,
                                                                  nullptr), -1));
  add("-markertype", Tcl_NewStringObj(markerTypeOption.printProc(nullptr, nullptr, rec, markerAt,
                                                                  nullptr), -1));
  add("-xparam", Tcl_NewIntObj(o->symbolXSize));
  add("-yparam", Tcl_NewIntObj(o->symbolYSize));
  if (o->markerColor) add("-markercolor", Tcl_NewStringObj(Tk_NameOfColor(o->markerColor), -1));
  int objc;
  Tcl_Obj **objv;
  Tcl_ListObjGetElements(nullptr, words, &objc, &objv);
  eventuallyRedrawItem(canvas, made);
  made->typePtr->configProc(interp, &canvas->c, made, objc, objv, TK_CONFIG_ARGV_ONLY);
  eventuallyRedrawItem(canvas, made);
  Tcl_DecrRefCount(words);
}

int disassembleObject(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item) {
  GcanvasObjectItem *o = asObject(item);
  if (!o->object) return TCL_ERROR;
  GcanvasRecord *canvas = canvasOf(c);
  GcanvasItemType *polygon = findItemType(canvas, "polygon");
  GcanvasItemType *line = findItemType(canvas, "line");
  GcanvasItemType *symbol = findItemType(canvas, "symbol");
  RAMOBJ *object = o->object;
  const VectorOps *ops = opsOf(object);
  /* Creating items may run scripts: keep the object while they do. */
  object->ops.acquire(object, nullptr, nullptr);
  const std::string name = o->objectName ? o->objectName : "";
  Tcl_InterpState saved = Tcl_SaveInterpState(interp, TCL_OK);
  int count = recordCount(object);
  Record r;
  for (int i = 0; i < count; i++) {
    if (!readRecord(object, i, r)) continue;
    GcanvasItemType *type = r.kind == 0x100   ? symbol
                            : r.kind == 0x200 ? line
                            : r.kind == 0x400 ? polygon
                                              : nullptr;
    if (!type) continue;
    VertexData data;
    if (type == symbol) {
      /* A symbol item takes its points one a part, without counts. */
      data.numParts = static_cast<int>(r.points.size() / 2);
    } else {
      data.numParts = static_cast<int>(r.counts.size());
      data.partCounts = r.counts.data();
    }
    data.vertices = r.points.data();
    data.styleSource = &o->outline;
    data.fillColor = o->fillColor;
    data.activeFillColor = o->activeFillColor;
    data.disabledFillColor = o->disabledFillColor;
    const char *words[2];
    std::string first = name + "." + std::to_string(ops->recordNumber(object, i));
    words[0] = first.c_str();
    words[1] = "disassembled";
    char *tags = Tcl_Merge(2, words);
    GcanvasItem *made = createItemFromVertices(canvas, interp, type, &data, tags);
    ckfree(tags);
    if (made && type == symbol) copySymbolStyle(interp, canvas, o, made);
  }
  Tcl_RestoreInterpState(interp, saved);
  object->ops.release(object, nullptr, nullptr);
  return TCL_OK;
}

/* ---- coordinates, create, scale, translate ---- */

int objectCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  GcanvasObjectItem *o = asObject(item);
  if (objc == 0) {
    Tcl_Obj *list = Tcl_NewObj();
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(o->x));
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(o->y));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
  }
  if (objc > 2) {
    Tcl_SetObjResult(interp,
                     Tcl_ObjPrintf("wrong # coordinates: expected 0 or 2, got %d", objc));
    return TCL_ERROR;
  }
  Tcl_Obj *const *words = objv;
  if (objc == 1) {
    if (Tcl_ListObjGetElements(interp, objv[0], &objc, const_cast<Tcl_Obj ***>(&words)) != TCL_OK)
      return TCL_ERROR;
    if (objc != 2) {
      if (strcmp(Tcl_GetString(objv[0]), "disassemble") == 0) {
        disassembleObject(interp, c, item);
        Tcl_AppendResult(interp, "...", nullptr);
        return TCL_OK;
      }
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("wrong # coordinates: expected 2, got %d", objc));
      return TCL_ERROR;
    }
  }
  double x, y;
  if (canvasGetCoordFromObj(interp, c, words[0], &x) != TCL_OK ||
      canvasGetCoordFromObj(interp, c, words[1], &y) != TCL_OK)
    return TCL_ERROR;
  o->x = x;
  o->y = y;
  computeObjectBbox(c, item);
  return TCL_OK;
}

int createObject(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  GcanvasObjectItem *o = asObject(item);
  initObject(c, o);
  int coords;
  if (objc == 1) {
    coords = 1;
  } else if (objc > 1) {
    const char *arg = Tcl_GetString(objv[1]);
    coords = arg[0] == '-' && arg[1] >= 'a' && arg[1] <= 'z' ? 1 : 2;
  } else {
    coords = 0;
  }
  if (coords == 0) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "wrong # args: should be \"", Tk_PathName(canvasTkwin(c)),
                     " create ", item->typePtr->name, " x y ?options?\"", nullptr);
    deleteObject(c, item, canvasOf(c)->c.display);
    return TCL_ERROR;
  }
  if (objectCoords(interp, c, item, coords, objv) != TCL_OK ||
      configureObject(interp, c, item, objc - coords, objv + coords, 0) != TCL_OK) {
    deleteObject(c, item, canvasOf(c)->c.display);
    return TCL_ERROR;
  }
  return TCL_OK;
}

void scaleObject(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasObjectItem *o = asObject(item);
  o->x = ox + (o->x - ox) * sx;
  o->y = oy + (o->y - oy) * sy;
  computeObjectBbox(c, item);
}

void translateObject(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasObjectItem *o = asObject(item);
  o->x += dx;
  o->y += dy;
  computeObjectBbox(c, item);
}

int objectIndex(Tcl_Interp *, ItemContainer *, GcanvasItem *, Tcl_Obj *, int *) { return TCL_OK; }
void objectInsert(ItemContainer *c, GcanvasItem *item, int, Tcl_Obj *) { computeObjectBbox(c, item); }
void objectDChars(ItemContainer *c, GcanvasItem *item, int, int) { computeObjectBbox(c, item); }

/* ---- display ---- */

/* The drawable points of a record's parts (smoothed when asked); counts replaced. */
void partsToDrawable(ItemContainer *c, GcanvasObjectItem *o, Record &r, bool smooth,
                     std::vector<XPoint> &out) {
  int total = static_cast<int>(r.points.size() / 2);
  out.resize(static_cast<size_t>(total) + 2 * r.counts.size() + 2);
  if (!smooth) {
    int got = worldToDrawableParts(c, r.points.data(), out.data(), static_cast<int>(r.counts.size()),
                                   r.counts.data());
    out.resize(static_cast<size_t>(got));
    return;
  }
  std::vector<XPoint> all;
  std::vector<double> pixels;
  size_t at = 0;
  for (int &n : r.counts) {
    const double *v = r.points.data() + at;
    at += 2 * static_cast<size_t>(n);
    size_t base = all.size();
    if (n > 2) {
      pixels.resize(2 * static_cast<size_t>(n));
      worldToCanvas(c, v, pixels.data(), n);
      int size = o->smooth->coordProc(c, nullptr, n, o->splineSteps, nullptr, nullptr);
      all.resize(base + static_cast<size_t>(size) + 2);
      n = o->smooth->coordProc(c, pixels.data(), n, o->splineSteps, all.data() + base, nullptr);
    } else {
      all.resize(base + static_cast<size_t>(n) + 2);
      n = worldToDrawablePath(c, v, all.data() + base, n);
    }
    all.resize(base + static_cast<size_t>(n));
  }
  out.swap(all);
}

int drawPoints(ItemContainer *c, GcanvasObjectItem *o, DrawBatch *batch, const double *P) {
  BatchGC *fill = createBatchGC(batch, o->fillGC);
  BatchGC *line = createBatchGC(batch, o->outline.gc);
  BatchGC *marker = createBatchGC(batch, o->markerGC);
  int drawn = 0;
  if (fill || line || marker) {
    BatchGC *lit = createBatchGC(batch, o->highlightGC);
    GcanvasRecord *canvas = canvasOf(c);
    RAMOBJ *object = o->object;
    const VectorOps *ops = opsOf(object);
    const int count = recordCount(object);
    const int sx = o->symbolXSize, sy = o->symbolYSize, hx = sx / 2, hy = sy / 2;
    for (int i = 0; i < count; i++) {
      if (!ops->isSelected(object, i)) continue;
      int n = 0;
      const ShapeDouble *pts = ops->recordPoints(object, i, &n);
      if (!pts || n <= 0) continue;
      double fx = pts[0], fy = pts[1];
      if (fx < P[0] || fx > P[2] || fy < P[1] || fy > P[3]) continue;
      drawn++;
      BatchGC *f = i == o->highlightRecord && lit ? lit : fill;
      for (int k = 0; k < n; k++) {
        double wp[2] = {pts[2 * k], pts[2 * k + 1]}, cp[2];
        worldToCanvas(c, wp, cp, 1);
        int u = toDrawableCoord(canvas->drawableXOrigin, cp[0]);
        int v = toDrawableCoord(canvas->drawableYOrigin, cp[1]);
        int left = u - hx, top = v - hy;
        switch (o->symbolType) {
          case 0:
            batchDrawArc(f, left, top, sx, sy, 0, 23040, 1);
            batchDrawArc(line, left, top, sx, sy, 0, 23040, 0);
            break;
          case 1:
            batchFillRectangle(f, left, top, sx, sy);
            batchDrawRectangle(line, left, top, sx, sy);
            break;
          case 2: {
            XPoint d[5] = {{short(u), short(top)},      {short(left), short(v)},
                           {short(u), short(top + sy)}, {short(left + sx), short(v)},
                           {short(u), short(top)}};
            batchFillPolygon(f, d, 5, 0);
            batchDrawLines(line, d, 5, 0);
            break;
          }
          case 3: {
            XPoint d[13] = {{short(u + 1), short(top)},      {short(u + 1), short(v - 1)},
                            {short(u + hx), short(v - 1)},   {short(u + hx), short(v + 1)},
                            {short(u + 1), short(v + 1)},    {short(u + 1), short(top + sy)},
                            {short(u - 1), short(top + sy)}, {short(u - 1), short(v + 1)},
                            {short(left), short(v + 1)},     {short(left), short(v - 1)},
                            {short(u - 1), short(v - 1)},    {short(u - 1), short(top)},
                            {short(u + 1), short(top)}};
            batchFillPolygon(f, d, 13, 0);
            batchDrawLines(line, d, 13, 0);
            break;
          }
          default:
            break;
        }
        if (o->markerType == 0) {
          batchDrawRectangle(marker, u, v, 1, 1);
        } else {
          XPoint h[2] = {{short(left + 1), short(v)}, {short(left + sx - 1), short(v)}};
          XPoint w[2] = {{short(u), short(top + 1)}, {short(u), short(top + sy - 1)}};
          batchDrawLines(marker, h, 2, 0);
          batchDrawLines(marker, w, 2, 0);
        }
      }
    }
    freeBatchGC(lit);
  }
  freeBatchGC(fill);
  freeBatchGC(line);
  freeBatchGC(marker);
  return drawn;
}

bool boxMeets(const ShapeDouble *box, const double *Q) {
  return !box || (box[0] <= Q[2] && box[2] >= Q[0] && box[1] <= Q[3] && box[3] >= Q[1]);
}

int drawLines(ItemContainer *c, GcanvasObjectItem *o, DrawBatch *batch, const double *Q) {
  BatchGC *line = createBatchGC(batch, o->outline.gc);
  BatchGC *lit = createBatchGC(batch, o->highlightGC);
  RAMOBJ *object = o->object;
  const VectorOps *ops = opsOf(object);
  const int count = recordCount(object);
  int drawn = 0;
  Record r;
  std::vector<XPoint> points;
  for (int i = 0; i < count; i++) {
    if (!ops->isSelected(object, i) || !boxMeets(ops->recordBox(object, i), Q)) continue;
    BatchGC *tools = i == o->highlightRecord && lit ? lit : line;
    if (!tools || !readRecord(object, i, r)) continue;
    drawn++;
    bool smooth = o->smooth && r.points.size() > 4;
    partsToDrawable(c, o, r, smooth, points);
    size_t at = 0;
    for (int n : r.counts) {
      XPoint *p = points.data() + at;
      if (n >= 2 && (p[0].x != p[1].x || p[0].y != p[1].y)) batchDrawLines(tools, p, n, 0);
      at += static_cast<size_t>(n);
    }
  }
  freeBatchGC(line);
  freeBatchGC(lit);
  return drawn;
}

/*
 * A polygon record's drawable points (its outline, parts in r.counts) and
 * the parts to fill, clipped to a little more than the area (X, Y, width,
 * height), those of fewer than three points left out.
 */
void recordFillParts(ItemContainer *c, GcanvasObjectItem *o, Record &r, int total, int X, int Y,
                     int width, int height, std::vector<XPoint> &points, std::vector<XPoint> &kept,
                     std::vector<int> &keptCounts) {
  partsToDrawable(c, o, r, o->smooth && total > 3, points);
  const int left = X - 8, top = Y - 8, right = X + width + 16, bottom = Y + height + 16;
  bool inside = true;
  for (const XPoint &p : points)
    if (p.x < left || p.x > right || p.y < top || p.y > bottom) {
      inside = false;
      break;
    }
  kept.clear();
  keptCounts.clear();
  if (inside) {
    /* nothing to clip: the parts as they are */
    size_t at = 0;
    for (int n : r.counts) {
      if (n > 2) {
        kept.insert(kept.end(), points.begin() + static_cast<long>(at),
                    points.begin() + static_cast<long>(at + static_cast<size_t>(n)));
        keptCounts.push_back(n);
      }
      at += static_cast<size_t>(n);
    }
    return;
  }
  std::vector<int> counts = r.counts;
  std::vector<XPoint> clipped = clipPartsToBox(points.data(), static_cast<int>(counts.size()),
                                               counts.data(), left, top, right, bottom);
  size_t at = 0;
  for (int n : counts) {
    if (n > 2) {
      kept.insert(kept.end(), clipped.begin() + static_cast<long>(at),
                  clipped.begin() + static_cast<long>(at + static_cast<size_t>(n)));
      keptCounts.push_back(n);
    }
    at += static_cast<size_t>(n);
  }
}

/* ---- polygons drawn on the client ---- */

/*
 * When every record is drawn in solid colours with plain copies and thin
 * outlines, the records are rasterised here into the pixels of the area,
 * read from the drawable and written back with one request: the X server
 * then fills no polygons.  The fill follows the X rule (a pixel is in when
 * its centre is, the left and top edges in, the right and bottom out,
 * even-odd over the parts); outlines are Bresenham lines through the
 * vertices, as a thin X line is drawn.
 */
struct Raster {
  uint32_t *pixels = nullptr;
  int left = 0, top = 0;       /* drawable coordinates of the first pixel */
  int width = 0, height = 0;
  int stride = 0;              /* in pixels */
};

/*
 * An edge (y0 < y1) stepped down the scanlines: at scanline y its crossing
 * is x0 + (y - y0) dx / dy, and the first pixel at or right of it,
 * q = ceil(that), is kept with r = q dy - (x0 dy + (y - y0) dx), 0 <= r < dy.
 */
struct RasterEdge {
  int y0, y1;
  int q, r, dy;
  int step, rem;  /* dx = step dy + rem, 0 <= rem < dy */
};

/* Fills the parts even-odd; the scratch vectors are kept between calls. */
void rasterFill(Raster &ras, const XPoint *p, int partCount, const int *counts, uint32_t pixel,
                std::vector<RasterEdge> &edges, std::vector<int> &xs) {
  edges.clear();
  const int clipTop = ras.top, clipBottom = ras.top + ras.height;
  int ymin = clipBottom, ymax = clipTop;
  size_t at = 0;
  for (int part = 0; part < partCount; part++) {
    const int n = counts[part];
    for (int k = 0; k < n; k++) {
      const XPoint &a = p[at + static_cast<size_t>(k)];
      const XPoint &b = p[at + static_cast<size_t>(k + 1 < n ? k + 1 : 0)];
      if (a.y == b.y) continue;
      const XPoint &u = a.y < b.y ? a : b, &v = a.y < b.y ? b : a;
      int y0 = u.y, y1 = v.y;
      if (y1 <= clipTop || y0 >= clipBottom) continue;
      const int start = y0 < clipTop ? clipTop : y0;
      RasterEdge e;
      e.y0 = start;
      e.y1 = y1 > clipBottom ? clipBottom : y1;
      e.dy = y1 - y0;
      const int dx = v.x - u.x;
      e.step = dx / e.dy;
      e.rem = dx - e.step * e.dy;
      if (e.rem < 0) {
        e.step--;
        e.rem += e.dy;
      }
      const long long num = static_cast<long long>(u.x) * e.dy +
                            static_cast<long long>(start - y0) * dx;
      long long q = num / e.dy;
      if (q * e.dy < num) q++;
      e.q = static_cast<int>(q);
      e.r = static_cast<int>(q * e.dy - num);
      edges.push_back(e);
      if (e.y0 < ymin) ymin = e.y0;
      if (e.y1 > ymax) ymax = e.y1;
    }
    at += static_cast<size_t>(n);
  }
  for (int y = ymin; y < ymax; y++) {
    xs.clear();
    for (RasterEdge &e : edges) {
      if (y < e.y0 || y >= e.y1) continue;
      xs.push_back(e.q);
      e.q += e.step;
      e.r -= e.rem;
      if (e.r < 0) {
        e.q++;
        e.r += e.dy;
      }
    }
    if (xs.size() < 2) continue;
    if (xs.size() == 2) {
      if (xs[0] > xs[1]) std::swap(xs[0], xs[1]);
    } else {
      std::sort(xs.begin(), xs.end());
    }
    uint32_t *row = ras.pixels + static_cast<size_t>(y - ras.top) * static_cast<size_t>(ras.stride);
    for (size_t k = 0; k + 1 < xs.size(); k += 2) {
      int a = xs[k] - ras.left, b = xs[k + 1] - ras.left;
      if (a < 0) a = 0;
      if (b > ras.width) b = ras.width;
      for (int x = a; x < b; x++) row[x] = pixel;
    }
  }
}

void rasterLine(Raster &ras, int x0, int y0, int x1, int y1, uint32_t pixel) {
  const int dx = abs(x1 - x0), dy = -abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  /* Lines far outside the area are skipped whole. */
  const int l = ras.left, t = ras.top, r = ras.left + ras.width, b = ras.top + ras.height;
  if ((x0 < l && x1 < l) || (x0 >= r && x1 >= r) || (y0 < t && y1 < t) || (y0 >= b && y1 >= b))
    return;
  const bool inside = x0 >= l && x0 < r && y0 >= t && y0 < b && x1 >= l && x1 < r && y1 >= t &&
                      y1 < b;
  int err = dx + dy;
  for (;;) {
    if (inside || (x0 >= l && x0 < r && y0 >= t && y0 < b))
      ras.pixels[static_cast<size_t>(y0 - t) * static_cast<size_t>(ras.stride) +
                 static_cast<size_t>(x0 - l)] = pixel;
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

/* A GC that paints its foreground as it is; its pixel in *pixel. */
bool plainGC(Display *display, GC gc, int maxWidth, uint32_t *pixel) {
  if (gc == None) return true;
  XGCValues v;
  if (!XGetGCValues(display, gc,
                    GCFunction | GCPlaneMask | GCForeground | GCFillStyle | GCLineWidth |
                        GCLineStyle,
                    &v))
    return false;
  if (v.function != GXcopy || v.fill_style != FillSolid || v.line_style != LineSolid ||
      v.line_width > maxWidth || (v.plane_mask & 0xffffffUL) != 0xffffffUL)
    return false;
  *pixel = static_cast<uint32_t>(v.foreground);
  return true;
}

/* Whether the client draws the records: off with VESK_OBJECT_XDRAW set (tests, benches). */
bool clientDrawingWanted() {
  const char *v = getenv("VESK_OBJECT_XDRAW");
  return !(v && *v && strcmp(v, "0") != 0);
}

/* The records drawn on the client; -1 when they must go to the X server. */
int drawPolygonsOnClient(ItemContainer *c, GcanvasObjectItem *o, Display *display,
                         Drawable drawable, const double *Q, int X, int Y, int width, int height) {
  if (!clientDrawingWanted() || stateFillStipple(c, o) != None) return -1;
  uint32_t fillPixel = 0, linePixel = 0, litPixel = 0;
  /* the fills' line widths do not matter */
  if (!plainGC(display, o->fillGC, 32767, &fillPixel) ||
      !plainGC(display, o->highlightGC, 32767, &litPixel))
    return -1;
  changeOutlineGC(c, &o->header, &o->outline);
  const bool plainLine = plainGC(display, o->outline.gc, 1, &linePixel);
  resetOutlineGC(c, &o->header, &o->outline);
  if (!plainLine) return -1;
  /* The area that is drawn: the part of (X, Y, width, height) inside the drawable. */
  Window root;
  int gx, gy;
  unsigned gw, gh, border, depth;
  if (!XGetGeometry(display, drawable, &root, &gx, &gy, &gw, &gh, &border, &depth)) return -1;
  if (depth != 24 && depth != 32) return -1;
  const double w = o->outline.width;
  /* a pixel more on every side: the area's rounding does not matter */
  int left = saturatingInt(X + floor(w + 0.5) - 1), top = saturatingInt(Y + floor(w + 0.5) - 1);
  int right = saturatingInt(static_cast<double>(left) + width + 2);
  int bottom = saturatingInt(static_cast<double>(top) + height + 2);
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > static_cast<int>(gw)) right = static_cast<int>(gw);
  if (bottom > static_cast<int>(gh)) bottom = static_cast<int>(gh);
  if (left >= right || top >= bottom) return 0;
  /* A drawable that can't be read (a window partly off the screen) goes to the server. */
  Tk_ErrorHandler handler = Tk_CreateErrorHandler(display, -1, X_GetImage, -1, nullptr, nullptr);
  auto destroy = [](XImage *i) { XDestroyImage(i); };
  std::unique_ptr<XImage, decltype(destroy)> held(
      XGetImage(display, drawable, left, top, static_cast<unsigned>(right - left),
                static_cast<unsigned>(bottom - top), AllPlanes, ZPixmap),
      destroy);
  Tk_DeleteErrorHandler(handler);
  XImage *image = held.get();
  if (!image) return -1;
  const int host = 1;
  const int hostOrder = *reinterpret_cast<const char *>(&host) ? LSBFirst : MSBFirst;
  if (image->bits_per_pixel != 32 || image->byte_order != hostOrder ||
      image->bytes_per_line % 4 != 0)
    return -1;
  Raster ras;
  ras.pixels = reinterpret_cast<uint32_t *>(image->data);
  ras.left = left;
  ras.top = top;
  ras.width = right - left;
  ras.height = bottom - top;
  ras.stride = image->bytes_per_line / 4;
  const bool fill = o->fillGC != None, line = o->outline.gc != None;
  const bool lit = o->highlightGC != None;
  const int lw = outlineLineWidth(display, o);
  RAMOBJ *object = o->object;
  const VectorOps *ops = opsOf(object);
  const int count = recordCount(object);
  int drawn = 0;
  Record r;
  std::vector<XPoint> points, kept;
  std::vector<int> keptCounts, xs;
  std::vector<RasterEdge> edges;
  for (int i = 0; i < count; i++) {
    if (!ops->isSelected(object, i) || !boxMeets(ops->recordBox(object, i), Q)) continue;
    if (!readRecord(object, i, r) || r.counts.empty() || r.counts[0] <= 0) continue;
    const int total = static_cast<int>(r.points.size() / 2);
    if (total < 3 && !line) continue;
    drawn++;
    const bool highlighted = i == o->highlightRecord && lit;
    if (total <= 2) {
      /* a dot of the outline's width */
      XPoint p;
      worldToDrawablePath(c, r.points.data(), &p, 1);
      const int s = lw + 1, x0 = p.x - lw / 2, y0 = p.y - lw / 2;
      for (int k = 0; k < s; k++) rasterLine(ras, x0, y0 + k, x0 + s - 1, y0 + k, linePixel);
      continue;
    }
    recordFillParts(c, o, r, total, X, Y, width, height, points, kept, keptCounts);
    if ((fill || highlighted) && !keptCounts.empty())
      rasterFill(ras, kept.data(), static_cast<int>(keptCounts.size()), keptCounts.data(),
                 highlighted ? litPixel : fillPixel, edges, xs);
    if (line) {
      size_t at = 0;
      for (int n : r.counts) {
        const XPoint *q = points.data() + at;
        if (n == 1) rasterLine(ras, q[0].x, q[0].y, q[0].x, q[0].y, linePixel);
        for (int k = 0; k + 1 < n; k++)
          rasterLine(ras, q[k].x, q[k].y, q[k + 1].x, q[k + 1].y, linePixel);
        at += static_cast<size_t>(n);
      }
    }
  }
  GC gc = o->fillGC != None ? o->fillGC : o->outline.gc;
  XPutImage(display, drawable, gc, image, 0, 0, left, top, static_cast<unsigned>(ras.width),
            static_cast<unsigned>(ras.height));
  return drawn;
}

int drawPolygons(ItemContainer *c, GcanvasObjectItem *o, Display *display, DrawBatch *batch,
                 const double *Q, int X, int Y, int width, int height) {
  if (o->fillGC == None && o->outline.gc == None) return 0;
  Pixmap stipple = stateFillStipple(c, o);
  if (o->fillGC != None && stipple != None) {
    StippleOffset ts = o->tsoffset;
    if (!(ts.flags & OFFSET_INDEX) && (ts.flags & (OFFSET_CENTER | OFFSET_MIDDLE))) {
      int bw = 0, bh = 0;
      Tk_SizeOfBitmap(display, stipple, &bw, &bh);
      if (ts.flags & OFFSET_CENTER) ts.x -= bw / 2;
      if (ts.flags & OFFSET_MIDDLE) ts.y -= bh / 2;
    }
    setStippleOffset(c, o->fillGC, &ts);
  }
  changeOutlineGC(c, &o->header, &o->outline);
  BatchGC *fill = createBatchGC(batch, o->fillGC);
  BatchGC *line = createBatchGC(batch, o->outline.gc);
  BatchGC *lit = createBatchGC(batch, o->highlightGC);
  const int lw = outlineLineWidth(display, o);
  RAMOBJ *object = o->object;
  const VectorOps *ops = opsOf(object);
  const int count = recordCount(object);
  int drawn = 0;
  Record r;
  std::vector<XPoint> points;
  for (int i = 0; i < count; i++) {
    if (!ops->isSelected(object, i) || !boxMeets(ops->recordBox(object, i), Q)) continue;
    if (!readRecord(object, i, r) || r.counts.empty() || r.counts[0] <= 0) continue;
    const int total = static_cast<int>(r.points.size() / 2);
    if (total < 3 && !line) continue;
    drawn++;
    BatchGC *f = i == o->highlightRecord && lit ? lit : fill;
    if (total <= 2) {
      XPoint p;
      worldToDrawablePath(c, r.points.data(), &p, 1);
      batchDrawArc(line, p.x - lw / 2, p.y - lw / 2, lw + 1, lw + 1, 0, 23040, 1);
      continue;
    }
    std::vector<XPoint> kept;
    std::vector<int> keptCounts;
    recordFillParts(c, o, r, total, X, Y, width, height, points, kept, keptCounts);
    size_t at = 0;
    if (!keptCounts.empty())
      batchFillPolygonsWithHoles(f, kept.data(), static_cast<int>(keptCounts.size()),
                                 keptCounts.data(), 0);
    if (line) {
      at = 0;
      for (int n : r.counts) {
        batchDrawLines(line, points.data() + at, n, 0);
        at += static_cast<size_t>(n);
      }
    }
  }
  freeBatchGC(fill);
  freeBatchGC(line);
  freeBatchGC(lit);
  resetOutlineGC(c, &o->header, &o->outline);
  if (o->fillGC != None && stipple != None) XSetTSOrigin(display, o->fillGC, 0, 0);
  return drawn;
}

void displayObject(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable,
                   int x, int y, int width, int height) {
  GcanvasObjectItem *o = asObject(item);
  if (!o->object || drawable == None) return;
  const clock_t start = clock();
  GcanvasRecord *canvas = canvasOf(c);
  int drawn = 0;
  {
    ShiftedTransform shift(c, o);
    const double w = o->outline.width;
    double Q[4], P[4];
    canvasRectToWorld(c, x - w, y - w, x + width + w, y + height + w, Q);
    const double hx = o->symbolXSize / 2.0, hy = o->symbolYSize / 2.0;
    canvasRectToWorld(c, x - w - hx, y - w - hy, x + width + w + hx, y + height + w + hy, P);
    const int X = toDrawableCoord(canvas->drawableXOrigin, x - w);
    const int Y = toDrawableCoord(canvas->drawableYOrigin, y - w);
    DrawBatch *batch = beginDrawBatch(display, drawable);
    int type = o->object->ops.type ? o->object->ops.type(o->object) : 0;
    if (type == 0x100) drawn = drawPoints(c, o, batch, P);
    else if (type == 0x200) drawn = drawLines(c, o, batch, Q);
    else if (type == 0x400) {
      drawn = drawPolygonsOnClient(c, o, display, drawable, Q, X, Y, width, height);
      if (drawn < 0) drawn = drawPolygons(c, o, display, batch, Q, X, Y, width, height);
    }
    endDrawBatch(batch);
  }
  if (getDebugFlag())
    vesk_fprintf(stderr, "drawn %d items in %f s\n", drawn,
                 static_cast<double>(clock() - start) / CLOCKS_PER_SEC);
}

/* ---- point and area tests (canvas pixels, under the shifted transform) ---- */

/* Canvas pixels of a part. */
std::vector<double> partPixels(ItemContainer *c, GcanvasObjectItem *o, const double *v, int n) {
  std::vector<double> pixels(2 * static_cast<size_t>(n));
  worldToCanvas(c, v, pixels.data(), n);
  if (o->smooth && n > 2) {
    int size = o->smooth->coordProc(c, nullptr, n, o->splineSteps, nullptr, nullptr);
    std::vector<double> world(v, v + 2 * n);
    std::vector<double> smoothed(2 * static_cast<size_t>(size) + 4);
    int got = o->smooth->coordProc(c, world.data(), n, o->splineSteps, nullptr, smoothed.data());
    smoothed.resize(2 * static_cast<size_t>(got));
    pixels.resize(smoothed.size());
    worldToCanvas(c, smoothed.data(), pixels.data(), got);
  }
  return pixels;
}

double recordDistance(ItemContainer *c, GcanvasObjectItem *o, Record &r, double *point) {
  const double w = fmax(o->outline.width, 1.0);
  double best = 1.0e300;
  size_t at = 0;
  for (int n : r.counts) {
    const double *v = r.points.data() + at;
    at += 2 * static_cast<size_t>(n);
    if (n <= 0) continue;
    if (r.kind == 0x100) {
      std::vector<double> px(2 * static_cast<size_t>(n));
      worldToCanvas(c, v, px.data(), n);
      const double hx = o->symbolXSize / 2.0, hy = o->symbolYSize / 2.0;
      for (int k = 0; k < n; k++) {
        double d = hypot((px[2 * k] - point[0]) / (hx > 0 ? hx : 1),
                         (px[2 * k + 1] - point[1]) / (hy > 0 ? hy : 1)) -
                   lround(o->outline.width) / 2.0;
        best = fmin(best, d);
      }
      continue;
    }
    std::vector<double> px = partPixels(c, o, v, n);
    int m = static_cast<int>(px.size() / 2);
    if (r.kind == 0x200) {
      double d;
      if (m == 1) d = fmax(0.0, hypot(px[0] - point[0], px[1] - point[1]) - w / 2);
      else d = thickLineToPoint(px.data(), m, w, CapRound, o->joinStyle, point);
      best = fmin(best, d);
    }
  }
  return best;
}

double polygonRecordDistance(ItemContainer *c, GcanvasObjectItem *o, Record &r, double *point) {
  const double w = fmax(o->outline.width, 1.0);
  const double kFar = 1.0e300;
  double bestOuter = kFar, bestHole = kFar, bestHoleEdge = kFar;
  bool insideOuter = false;
  size_t at = 0;
  const bool single = r.counts.size() == 1;
  for (int n : r.counts) {
    const double *v = r.points.data() + at;
    at += 2 * static_cast<size_t>(n);
    if (n <= 0) continue;
    std::vector<double> px = partPixels(c, o, v, n);
    int m = static_cast<int>(px.size() / 2);
    double edge = kFar;
    double d = polygonToPointScaled(1, 1, px.data(), m, point, &edge);
    if (d > 0 && o->outline.gc != None) {
      if (o->joinStyle == JoinRound) d = fmax(0.0, d - w / 2);
      if (w > 1 && m > 1) d = fmin(d, thickLineToPoint(px.data(), m, w, CapRound, o->joinStyle, point));
    }
    bool outer = single || polygonAreaTrapezoid(v, n) > 0;
    if (outer) {
      if (d == 0) insideOuter = true;
      bestOuter = fmin(bestOuter, d);
    } else if (d == 0) {
      bestHoleEdge = fmin(bestHoleEdge, edge);
    } else {
      bestHole = fmin(bestHole, d);
    }
  }
  if (insideOuter) return bestHoleEdge < kFar ? bestHoleEdge : 0;
  return fmin(bestOuter, fmin(bestHole, bestHoleEdge));
}

double objectToPoint(ItemContainer *c, GcanvasItem *item, double *point) {
  GcanvasObjectItem *o = asObject(item);
  o->lastHitRecord = -1;
  if (!o->object || effectiveState(c, item) == STATE_HIDDEN) return HUGE_VAL;
  ShiftedTransform shift(c, o);
  double world[2];
  canvasToWorld(c, point, world, 1);
  const double tx = fabs(1 / c->mx), ty = fabs(1 / c->my);
  const double closeEnough = canvasOf(c)->closeEnough;
  RAMOBJ *object = o->object;
  const VectorOps *ops = opsOf(object);
  double best = HUGE_VAL;
  int bestIndex = -1;
  Record r;
  for (int i = recordCount(object) - 1; i >= 0; i--) {
    if (!ops->isSelected(object, i)) continue;
    const ShapeDouble *box = ops->recordBox(object, i);
    if (box && (world[0] < box[0] - tx || world[0] > box[2] + tx || world[1] < box[1] - ty ||
                world[1] > box[3] + ty))
      continue;
    if (!readRecord(object, i, r)) continue;
    double d;
    if (r.kind == 0x100 || r.kind == 0x200) d = recordDistance(c, o, r, point);
    else if (r.kind == 0x400) d = polygonRecordDistance(c, o, r, point);
    else continue;
    if (d < best) {
      best = d;
      bestIndex = i;
      if (best < closeEnough) break;
    }
  }
  o->lastHitRecord = bestIndex;
  return best;
}

int recordToArea(ItemContainer *c, GcanvasObjectItem *o, Record &r, double *rect) {
  const double w = o->outline.width;
  if (r.kind == 0x100) {
    std::vector<double> px(r.points.size());
    worldToCanvas(c, r.points.data(), px.data(), static_cast<int>(r.points.size() / 2));
    const double ex = o->symbolXSize / 2.0 + lround(w), ey = o->symbolYSize / 2.0 + lround(w);
    bool overlap = false;
    for (size_t k = 0; k + 1 < px.size(); k += 2) {
      double b[4] = {px[k] - ex, px[k + 1] - ey, px[k] + ex, px[k + 1] + ey};
      if (b[0] >= rect[0] && b[2] <= rect[2] && b[1] >= rect[1] && b[3] <= rect[3]) return 1;
      if (b[0] < rect[2] && b[2] > rect[0] && b[1] < rect[3] && b[3] > rect[1]) overlap = true;
    }
    return overlap ? 0 : -1;
  }
  size_t at = 0;
  if (r.kind == 0x200) {
    bool all = true;
    for (int n : r.counts) {
      const double *v = r.points.data() + at;
      at += 2 * static_cast<size_t>(n);
      int answer;
      if (n <= 0) {
        answer = -1;
      } else if (n == 1) {
        double p[2];
        worldToCanvas(c, v, p, 1);
        double rad = (w + 1) / 2;
        double oval[4] = {p[0] - rad, p[1] - rad, p[0] + rad, p[1] + rad};
        answer = TkOvalToArea(oval, rect);
      } else {
        std::vector<double> px = partPixels(c, o, v, n);
        answer = TkThickPolyLineToArea(px.data(), static_cast<int>(px.size() / 2), w, CapRound,
                                       o->joinStyle, rect);
      }
      if (answer == 0) return 0;
      if (answer != 1) all = false;
    }
    return all ? 1 : -1;
  }
  int outerAnswer = -2;
  bool insideHole = false;
  const bool single = r.counts.size() == 1;
  for (int n : r.counts) {
    const double *v = r.points.data() + at;
    at += 2 * static_cast<size_t>(n);
    int answer;
    if (n < 2) {
      answer = -1;
    } else if (n == 2) {
      double p[2];
      worldToCanvas(c, v, p, 1);
      double oval[4] = {p[0] - w / 2, p[1] - w / 2, p[0] + w / 2, p[1] + w / 2};
      answer = TkOvalToArea(oval, rect);
    } else {
      std::vector<double> px = partPixels(c, o, v, n);
      int m = static_cast<int>(px.size() / 2);
      if (o->fillGC != None)
        answer = TkPolygonToArea(px.data(), m, rect);
      else
        answer = px[0] >= rect[0] && px[0] <= rect[2] && px[1] >= rect[1] && px[1] <= rect[3] ? 1
                                                                                           : -1;
      if (answer != 0 && o->outline.gc != None &&
          TkThickPolyLineToArea(px.data(), m, w, CapRound, o->joinStyle, rect) != answer)
        answer = 0;
    }
    if (answer < 0) continue;
    if (single || polygonAreaTrapezoid(v, n) > 0) {
      outerAnswer = answer;
    } else if (answer == 0 && n > 2) {
      /* Overlapping a hole whose edges stay clear of the rectangle: it lies in the hole. */
      std::vector<double> px = partPixels(c, o, v, n);
      if (TkThickPolyLineToArea(px.data(), static_cast<int>(px.size() / 2), fmax(w, 1.0),
                                CapRound, o->joinStyle, rect) == -1)
        insideHole = true;
    }
  }
  if (insideHole) return -1;
  return outerAnswer == -2 ? -1 : outerAnswer;
}

int objectToArea(ItemContainer *c, GcanvasItem *item, double *rect) {
  GcanvasObjectItem *o = asObject(item);
  if (effectiveState(c, item) == STATE_HIDDEN) return 0;
  if (!o->object) return -1;
  ShiftedTransform shift(c, o);
  double p1[2] = {rect[0], rect[1]}, p2[2] = {rect[2], rect[3]}, world[4];
  canvasPointsToWorldRect(c, p1, p2, world);
  RAMOBJ *object = o->object;
  const VectorOps *ops = opsOf(object);
  bool someIn = false, someOut = false;
  Record r;
  for (int i = recordCount(object) - 1; i >= 0; i--) {
    if (!ops->isSelected(object, i)) continue;
    const ShapeDouble *box = ops->recordBox(object, i);
    if (box && !(box[0] <= world[2] && box[2] >= world[0] && box[1] <= world[3] &&
                 box[3] >= world[1])) {
      someOut = true;
      continue;
    }
    if (!readRecord(object, i, r)) continue;
    if (r.kind != 0x100 && r.kind != 0x200 && r.kind != 0x400) continue;
    int answer = recordToArea(c, o, r, rect);
    if (answer == 0) return 0;
    if (answer == 1) someIn = true;
    else someOut = true;
  }
  if (!someIn) return -1;
  return someOut ? 0 : 1;
}

/* ---- components and measures ---- */

int objectGetComponent(GcanvasItem *item) { return asObject(item)->lastHitRecord; }

void redrawRecord(ItemContainer *c, GcanvasObjectItem *o, int i) {
  GcanvasRecord *canvas = canvasOf(c);
  if (o->header.floating) {
    eventuallyRedrawItem(canvas, &o->header);
    return;
  }
  if (i < 0 || i >= recordCount(o->object)) return;
  const ShapeDouble *box = opsOf(o->object)->recordBox(o->object, i);
  double b[4];
  if (box) {
    b[0] = box[0], b[1] = box[1], b[2] = box[2], b[3] = box[3];
  } else {
    double px, py;
    if (!firstPoint(o->object, i, &px, &py)) return;
    const double hx = o->symbolXSize / 2.0 / fabs(c->mx), hy = o->symbolYSize / 2.0 / fabs(c->my);
    b[0] = px - hx, b[1] = py - hy, b[2] = px + hx, b[3] = py + hy;
  }
  double rect[4];
  worldRectToCanvas(c, b[0] + o->x, b[1] + o->y, b[2] + o->x, b[3] + o->y, rect);
  /* The outline and the highlight stroke reach past the record's box. */
  double m = fmax(o->outline.width, 1.0) + 1;
  eventuallyRedrawArea(canvas, rect[0] - m, rect[1] - m, rect[2] + m, rect[3] + m, 1);
}

void objectSetComponent(ItemContainer *c, GcanvasItem *item, int flag) {
  GcanvasObjectItem *o = asObject(item);
  if (!o->object) return;
  if (flag) {
    if (o->lastHitRecord >= 0 && o->lastHitRecord != o->highlightRecord) {
      redrawRecord(c, o, o->lastHitRecord);
      o->highlightRecord = o->lastHitRecord;
    }
  } else if (o->highlightRecord >= 0) {
    redrawRecord(c, o, o->highlightRecord);
    o->highlightRecord = -1;
  }
}

int objectKind(GcanvasObjectItem *o) {
  return o->object && o->object->ops.type ? o->object->ops.type(o->object) : 0;
}

/* The sum of a measure over every part of the selected records. */
template <class PartMeasure>
double sumSelectedParts(GcanvasObjectItem *o, PartMeasure measure) {
  const VectorOps *ops = opsOf(o->object);
  double total = 0;
  Record r;
  for (int i = 0; i < recordCount(o->object); i++) {
    if (!ops->isSelected(o->object, i) || !readRecord(o->object, i, r)) continue;
    size_t at = 0;
    for (int n : r.counts) {
      total += measure(r.points.data() + at, n);
      at += 2 * static_cast<size_t>(n);
    }
  }
  return total;
}

double objectAreaMeasure(ItemContainer *, GcanvasItem *item) {
  GcanvasObjectItem *o = asObject(item);
  if (objectKind(o) != 0x400) return 0;
  return sumSelectedParts(o, polygonArea);
}

double objectLengthMeasure(ItemContainer *, GcanvasItem *item) {
  GcanvasObjectItem *o = asObject(item);
  int type = objectKind(o);
  if (type != 0x200 && type != 0x400) return 0;
  return sumSelectedParts(o, polylineLength);
}

double objectCentroidMeasure(ItemContainer *, GcanvasItem *item, double *x, double *y) {
  GcanvasObjectItem *o = asObject(item);
  int type = objectKind(o);
  *x = *y = 0;
  if (type != 0x100 && type != 0x200 && type != 0x400) return 0;
  const VectorOps *ops = opsOf(o->object);
  double total = 0, sx = 0, sy = 0;
  Record r;
  for (int i = 0; i < recordCount(o->object); i++) {
    if (!ops->isSelected(o->object, i) || !readRecord(o->object, i, r)) continue;
    size_t at = 0;
    for (int n : r.counts) {
      const double *v = r.points.data() + at;
      at += 2 * static_cast<size_t>(n);
      double cx = 0, cy = 0, weight;
      if (type == 0x100) weight = pointsCentroid(v, n, &cx, &cy);
      else if (type == 0x200) weight = polylineCentroid(v, n, &cx, &cy);
      else weight = polygonCentroid(v, n, &cx, &cy);
      total += weight;
      sx += weight * cx;
      sy += weight * cy;
    }
  }
  if (total != 0) {
    *x = sx / total;
    *y = sy / total;
  }
  return total;
}

/* ---- PostScript ---- */

/*
 * The selected records as paths: polygons filled (even-odd, one record at
 * a time) and outlined, lines stroked, points as their symbols filled and
 * outlined.  A map's vector layer so appears in the canvas's PostScript as
 * it does on the screen.
 */
int objectToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int) {
  GcanvasObjectItem *o = asObject(item);
  if (!o->object) return TCL_OK;
  const int type = objectKind(o);
  if (type != 0x100 && type != 0x200 && type != 0x400) return TCL_OK;
  ShiftedTransform shift(c, o);
  CanvasPsInfo *ps = canvasOf(c)->psInfo;
  XColor *fill = stateFill(c, o);
  XColor *outline = o->outline.gc != None ? stateOutline(c, o) : nullptr;
  const VectorOps *ops = opsOf(o->object);
  const int count = recordCount(o->object);
  const char *join = o->joinStyle == JoinRound ? "1" : o->joinStyle == JoinBevel ? "2" : "0";
  Record r;
  auto paths = [&](int i) {
    size_t at = 0;
    for (int n : r.counts) {
      const double *v = r.points.data() + at;
      at += 2 * static_cast<size_t>(n);
      if (n <= 0) continue;
      std::vector<double> px = partPixels(c, o, v, n);
      psPath(interp, ps, px.data(), static_cast<int>(px.size() / 2));
    }
    (void)i;
  };
  if (type == 0x100) {
    if (o->symbolType == 4 || (!fill && !outline)) return TCL_OK;
    const double sx = o->symbolXSize, sy = o->symbolYSize, hx = sx / 2, hy = sy / 2;
    std::string text;
    for (int i = 0; i < count; i++) {
      if (!ops->isSelected(o->object, i) || !readRecord(o->object, i, r)) continue;
      for (size_t k = 0; k + 1 < r.points.size(); k += 2) {
        double p[2];
        worldToCanvas(c, &r.points[k], p, 1);
        const double u = p[0], v = p[1];
        std::vector<double> shape;
        if (o->symbolType == 0) {
          char buffer[256];
          snprintf(buffer, sizeof buffer,
                   "matrix currentmatrix\n%.15g %.15g translate %.15g %.15g scale 1 0 moveto 0 0 "
                   "1 0 360 arc\nsetmatrix\n",
                   u, psY(v, ps), hx, hy);
          Tcl_AppendResult(interp, buffer, nullptr);
        } else if (o->symbolType == 1) {
          shape = {u - hx, v - hy, u + hx, v - hy, u + hx, v + hy, u - hx, v + hy, u - hx, v - hy};
        } else if (o->symbolType == 2) {
          shape = {u, v - hy, u - hx, v, u, v + hy, u + hx, v, u, v - hy};
        } else {
          shape = {u + 1, v - hy, u + 1, v - 1, u + hx, v - 1, u + hx, v + 1, u + 1, v + 1,
                   u + 1, v + hy, u - 1, v + hy, u - 1, v + 1, u - hx, v + 1, u - hx, v - 1,
                   u - 1, v - 1, u - 1, v - hy, u + 1, v - hy};
        }
        if (!shape.empty()) psPath(interp, ps, shape.data(), static_cast<int>(shape.size() / 2));
        if (fill) {
          Tcl_AppendResult(interp, "gsave\n", nullptr);
          if (canvasPsColor(interp, c, fill) != TCL_OK) return TCL_ERROR;
          Tcl_AppendResult(interp, "fill\ngrestore\n", nullptr);
        }
        if (outline) {
          Tcl_AppendResult(interp, join, " setlinejoin 1 setlinecap\n", nullptr);
          if (outlinePostScript(c, item, &o->outline) != TCL_OK) return TCL_ERROR;
        } else {
          Tcl_AppendResult(interp, "newpath\n", nullptr);
        }
      }
    }
    return TCL_OK;
  }
  if (type == 0x400 && fill) {
    for (int i = 0; i < count; i++) {
      if (!ops->isSelected(o->object, i) || !readRecord(o->object, i, r)) continue;
      if (r.points.size() < 6) continue;
      paths(i);
      if (canvasPsColor(interp, c, fill) != TCL_OK) return TCL_ERROR;
      Tcl_AppendResult(interp, "eofill\n", nullptr);
    }
  }
  if (!outline) return TCL_OK;
  bool any = false;
  for (int i = 0; i < count; i++) {
    if (!ops->isSelected(o->object, i) || !readRecord(o->object, i, r)) continue;
    paths(i);
    any = true;
  }
  if (!any) return TCL_OK;
  Tcl_AppendResult(interp, join, " setlinejoin 1 setlinecap\n", nullptr);
  return outlinePostScript(c, item, &o->outline);
}

}  // namespace

GcanvasItemType objectType = {
    "object", sizeof(GcanvasObjectItem), createObject, objectConfigSpecs, configureObject,
    objectCoords, deleteObject, displayObject, TK_ITEM_OBJS, objectToPoint, objectToArea,
    objectToPostscript, scaleObject, translateObject, objectIndex, nullptr, nullptr, objectInsert,
    objectDChars, computeObjectBbox, nullptr, nullptr, nullptr, nullptr, disassembleObject,
    nullptr, nullptr, nullptr, nullptr, objectGetComponent, objectSetComponent,
    objectAreaMeasure, objectLengthMeasure, objectCentroidMeasure, nullptr, nullptr,
};

}  // namespace vesk
