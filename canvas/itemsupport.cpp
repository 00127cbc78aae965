/*
 * itemsupport.cpp --
 *     What item types use of their canvas: the window and text info, the
 *     conversions between world units, canvas pixels and 16-bit drawable
 *     coordinates, coordinates with screen units, the stipple origin, the
 *     shared item option types and the PostScript entry points.
 */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <utility>

#include "canvas/gcanvas.h"

namespace vesk {

Tk_Window canvasTkwin(ItemContainer *c) { return canvasOf(c)->c.tkwin; }
GcanvasTextInfo *canvasTextInfo(ItemContainer *c) { return &canvasOf(c)->textInfo; }

void worldToCanvas(ItemContainer *c, const double *in, double *out, int n) {
  for (int i = 0; i < n; i++) {
    out[2 * i] = in[2 * i] * c->mx - c->xOffset;
    out[2 * i + 1] = in[2 * i + 1] * c->my - c->yOffset;
  }
}

void canvasToWorld(ItemContainer *c, const double *in, double *out, int n) {
  for (int i = 0; i < n; i++) {
    out[2 * i] = (in[2 * i] + c->xOffset) / c->mx;
    out[2 * i + 1] = (in[2 * i + 1] + c->yOffset) / c->my;
  }
}

namespace {
void sortRect(double *r) {
  if (r[0] > r[2]) std::swap(r[0], r[2]);
  if (r[1] > r[3]) std::swap(r[1], r[3]);
}
}  // namespace

void worldRectToCanvas(ItemContainer *c, double x1, double y1, double x2, double y2, double *rect) {
  double p[4] = {x1, y1, x2, y2};
  worldToCanvas(c, p, rect, 2);
  sortRect(rect);
}

void setItemBoxFromWorld(ItemContainer *c, double x1, double y1, double x2, double y2,
                         GcanvasItem *item) {
  double r[4];
  worldRectToCanvas(c, x1, y1, x2, y2, r);
  item->x1 = r[0];
  item->y1 = r[1];
  item->x2 = r[2];
  item->y2 = r[3];
}

void worldPointsToCanvasRect(ItemContainer *c, const double *p1, const double *p2, double *rect) {
  worldRectToCanvas(c, p1[0], p1[1], p2[0], p2[1], rect);
}

void canvasPointsToWorldRect(ItemContainer *c, const double *p1, const double *p2, double *rect) {
  double p[4] = {p1[0], p1[1], p2[0], p2[1]};
  canvasToWorld(c, p, rect, 2);
  sortRect(rect);
}

void canvasRectToWorld(ItemContainer *c, double x1, double y1, double x2, double y2, double *rect) {
  double p[4] = {x1, y1, x2, y2};
  canvasToWorld(c, p, rect, 2);
  sortRect(rect);
}

void pointsBox(const double *points, int n, double *rect) {
  if (n <= 0) return;
  rect[0] = rect[2] = points[0];
  rect[1] = rect[3] = points[1];
  for (int i = 1; i < n; i++) {
    rect[0] = fmin(rect[0], points[2 * i]);
    rect[2] = fmax(rect[2], points[2 * i]);
    rect[1] = fmin(rect[1], points[2 * i + 1]);
    rect[3] = fmax(rect[3], points[2 * i + 1]);
  }
}

/*
 * toDrawableCoord --
 *     A canvas coordinate as a drawable coordinate: half away from zero,
 *     clamped to the 16-bit range before the conversion.
 */
short toDrawableCoord(int origin, double coord) {
  double t = coord - origin;
  t = t > 0 ? t + 0.5 : t - 0.5;
  if (!(t == t)) return 0;
  if (t >= 32767.0) return 32767;
  if (t <= -32768.0) return -32768;
  return static_cast<short>(static_cast<int>(t));
}

/*
 * worldToDrawablePath --
 *     Converts world points to drawable points, drops repeated points and
 *     middle points of straight runs.
 * Results:      the number of points written (at least 2 when n > 0).
 */
int worldToDrawablePath(ItemContainer *c, const double *points, XPoint *out, int n) {
  if (n <= 0) return 0;
  GcanvasRecord *canvas = canvasOf(c);
  auto convert = [&](int i) {
    XPoint p;
    p.x = toDrawableCoord(canvas->drawableXOrigin, points[2 * i] * c->mx - c->xOffset);
    p.y = toDrawableCoord(canvas->drawableYOrigin, points[2 * i + 1] * c->my - c->yOffset);
    return p;
  };
  int count = 0;
  out[count++] = convert(0);
  for (int i = 1; i < n; i++) {
    XPoint p = convert(i);
    if (p.x == out[count - 1].x && p.y == out[count - 1].y) continue;
    out[count++] = p;
  }
  if (count == 1) {
    out[1] = out[0];
    return 2;
  }
  /* Drop middle points: out[k-1] is the last kept, out[i] the candidate. */
  int kept = 1;
  for (int i = 1; i < count - 1; i++) {
    const XPoint &prev = out[kept - 1], &cur = out[i], &next = out[i + 1];
    long dx1 = cur.x - prev.x, dx2 = next.x - cur.x, dy1 = cur.y - prev.y, dy2 = next.y - cur.y;
    bool drop;
    if (dx1 == 0 && dx2 == 0 && dy1 * dy2 > 0) drop = true;
    else if (dy1 == 0 && dy2 == 0 && dx1 * dx2 > 0) drop = true;
    else if (dx1 == 0 || dx2 == 0 || dy1 * dx2 - dx1 * dy2 != 0) drop = false;
    else drop = true;
    if (!drop) out[kept++] = cur;
  }
  out[kept++] = out[count - 1];
  return kept;
}

int worldToDrawableParts(ItemContainer *c, const double *points, XPoint *out, int numParts,
                         int *counts) {
  int total = 0, offset = 0;
  for (int i = 0; i < numParts; i++) {
    int n = worldToDrawablePath(c, points + 2 * offset, out + total, counts[i]);
    offset += counts[i];
    counts[i] = n;
    total += n;
  }
  return total;
}

int canvasGetCoord(Tcl_Interp *interp, ItemContainer *c, const char *string, double *value) {
  if (Tcl_GetDouble(nullptr, string, value) == TCL_OK) return TCL_OK;
  double mm;
  if (Tk_GetScreenMM(interp, canvasTkwin(c), string, &mm) != TCL_OK) return TCL_ERROR;
  if (mm != mm) {
    /* Tcl refuses a NaN, Tk's distance parser does not. */
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "bad screen distance \"", string, "\"", nullptr);
    return TCL_ERROR;
  }
  *value = mm * canvasOf(c)->pixelsPerMM;
  return TCL_OK;
}

int canvasGetCoordFromObj(Tcl_Interp *interp, ItemContainer *c, Tcl_Obj *obj, double *value) {
  if (Tcl_GetDoubleFromObj(nullptr, obj, value) == TCL_OK) return TCL_OK;
  return canvasGetCoord(interp, c, Tcl_GetString(obj), value);
}

/*
 * canvasScreenDistance --
 *     A screen distance in pixels: a number, or a number and a unit (c, i,
 *     m, p) as Tk reads it.  NaN is no distance; a negative one only with
 *     anySign.
 */
int canvasScreenDistance(Tcl_Interp *interp, Tk_Window tkwin, const char *value, bool anySign,
                         double *pixels) {
  double v;
  if (Tk_GetScreenMM(interp, tkwin, value, &v) != TCL_OK) return TCL_ERROR;
  double mm = WidthMMOfScreen(Tk_Screen(tkwin));
  v = mm > 0 ? v * WidthOfScreen(Tk_Screen(tkwin)) / mm : v;
  /* Plain numbers stay exact. */
  double plain;
  if (Tcl_GetDouble(nullptr, value, &plain) == TCL_OK) v = plain;
  if (v != v || (!anySign && v < 0)) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "bad screen distance \"", value, "\"", nullptr);
    return TCL_ERROR;
  }
  *pixels = v;
  return TCL_OK;
}

int partOfVertex(int vertex, const int *counts, int numParts) {
  int start = 0;
  for (int i = 0; i < numParts; i++) {
    start += counts[i];
    if (vertex < start) return i;
  }
  return numParts > 0 ? numParts - 1 : 0;
}

void setStippleOffset(ItemContainer *c, GC gc, StippleOffset *offset) {
  GcanvasRecord *canvas = canvasOf(c);
  int x = (offset ? offset->x : 0) - canvas->drawableXOrigin;
  int y = (offset ? offset->y : 0) - canvas->drawableYOrigin;
  if (offset && (offset->flags & OFFSET_RELATIVE) && !(offset->flags & OFFSET_INDEX))
    Tk_SetTSOrigin(canvas->c.tkwin, gc, x - canvas->xOrigin, y - canvas->yOrigin);
  else
    XSetTSOrigin(canvas->c.display, gc, x, y);
}

XColor *copyColor(Tcl_Interp *interp, Tk_Window tkwin, XColor *color) {
  if (!color) return nullptr;
  return Tk_GetColor(interp, tkwin, Tk_NameOfColor(color));
}

bool itemIsCurrent(ItemContainer *c, GcanvasItem *item) {
  return canvasOf(c)->currentItemPtr == item;
}

int effectiveState(ItemContainer *c, GcanvasItem *item) {
  return item->state == STATE_NONE ? canvasOf(c)->canvasState : item->state;
}

/* ---- procedures the item types share ---- */

int createCoordCount(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                     Tcl_Obj *const objv[], int coords, const char *usage) {
  if (objc == 1) {
    coords = 1;
  } else if (objc > 1) {
    const char *arg = Tcl_GetString(objv[1]);
    if (arg[0] == '-' && arg[1] >= 'a' && arg[1] <= 'z') coords = 1;
  }
  if (objc < coords || objc == 0) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "wrong # args: should be \"", Tk_PathName(canvasTkwin(c)),
                     " create ", item->typePtr->name, " ", usage, " ?options?\"", nullptr);
    return -1;
  }
  return coords;
}

int createFromWords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                    Tcl_Obj *const objv[], int coords) {
  GcanvasItemType *type = item->typePtr;
  if ((coords > 0 && type->coordProc(interp, c, item, coords, objv) != TCL_OK) ||
      type->configProc(interp, c, item, objc - coords, objv + coords, 0) != TCL_OK) {
    type->deleteProc(c, item, canvasOf(c)->c.display);
    return TCL_ERROR;
  }
  return TCL_OK;
}

int fixedItemCoords(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], ItemContainer *c, int n,
                    double *const fields[]) {
  if (objc == 0) {
    Tcl_Obj *list = Tcl_NewObj();
    for (int i = 0; i < n; i++)
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewDoubleObj(*fields[i]));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
  }
  Tcl_Obj *const *words = objv;
  if (objc == 1) {
    Tcl_Obj **elements;
    if (Tcl_ListObjGetElements(interp, objv[0], &objc, &elements) != TCL_OK) return TCL_ERROR;
    if (objc != n) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("wrong # coordinates: expected %d, got %d", n, objc));
      return TCL_ERROR;
    }
    words = elements;
  } else if (objc != n) {
    Tcl_SetObjResult(interp,
                     Tcl_ObjPrintf("wrong # coordinates: expected 0 or %d, got %d", n, objc));
    return TCL_ERROR;
  }
  std::vector<double> values(static_cast<size_t>(n));
  for (int i = 0; i < n; i++)
    if (canvasGetCoordFromObj(interp, c, words[i], &values[i]) != TCL_OK) return TCL_ERROR;
  for (int i = 0; i < n; i++) *fields[i] = values[i];
  return TCL_OK;
}

int pointItemCoords(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], ItemContainer *c,
                    double *x, double *y) {
  double *const fields[2] = {x, y};
  return fixedItemCoords(interp, objc, objv, c, 2, fields);
}

void psAnchorCorner(Tk_Anchor anchor, int w, int h, double *x, double *y) {
  double dx, dy;
  anchorOffset<double>(anchor, w, h, &dx, &dy);
  *x -= dx;
  *y -= h - dy;
}

double itemBoxToPoint(GcanvasItem *item, const double *p) {
  double dx = p[0] < item->x1 ? item->x1 - p[0] : p[0] > item->x2 ? p[0] - item->x2 : 0;
  double dy = p[1] < item->y1 ? item->y1 - p[1] : p[1] > item->y2 ? p[1] - item->y2 : 0;
  return hypot(dx, dy);
}

int itemBoxToArea(GcanvasItem *item, const double *r) {
  if (r[2] <= item->x1 || r[0] >= item->x2 || r[3] <= item->y1 || r[1] >= item->y2) return -1;
  if (r[0] <= item->x1 && r[1] <= item->y1 && r[2] >= item->x2 && r[3] >= item->y2) return 1;
  return 0;
}

void scaleWorldPoints(double *points, int n, double ox, double oy, double sx, double sy) {
  for (int i = 0; i < n; i++) scaleWorldPoint(&points[2 * i], &points[2 * i + 1], ox, oy, sx, sy);
}

void translateWorldPoints(double *points, int n, double dx, double dy) {
  for (int i = 0; i < n; i++) {
    points[2 * i] += dx;
    points[2 * i + 1] += dy;
  }
}

GC getFillGC(Tk_Window tkwin, XColor *color, Pixmap stipple, XGCValues *values,
             unsigned long mask) {
  if (!color) return None;
  values->foreground = color->pixel;
  mask |= GCForeground;
  if (stipple != None) {
    values->stipple = stipple;
    values->fill_style = FillStippled;
    mask |= GCStipple | GCFillStyle;
  }
  return Tk_GetGC(tkwin, mask, values);
}

void replaceGC(Display *display, GC *slot, GC gc) {
  if (*slot != None) Tk_FreeGC(display, *slot);
  *slot = gc;
}

void freeItemColors(std::initializer_list<XColor **> colors) {
  for (XColor **color : colors) {
    if (*color) Tk_FreeColor(*color);
    *color = nullptr;
  }
}

void freeItemBitmaps(Display *display, std::initializer_list<Pixmap *> bitmaps) {
  for (Pixmap *bitmap : bitmaps) {
    if (*bitmap != None) Tk_FreeBitmap(display, *bitmap);
    *bitmap = None;
  }
}

void freeItemGCs(Display *display, std::initializer_list<GC *> gcs) {
  for (GC *gc : gcs) replaceGC(display, gc, None);
}

void copyStyleSource(Tcl_Interp *interp, Tk_Window tkwin, const GcanvasOutline *style,
                     GcanvasOutline *outline, int *splineSteps, const SmoothMethod **smooth) {
  const StyleTail *tail = reinterpret_cast<const StyleTail *>(style + 1);
  *splineSteps = tail->splineSteps;
  *smooth = tail->smooth;
  outline->width = style->width;
  if (style->color) {
    freeItemColors({&outline->color});
    outline->color = copyColor(interp, tkwin, style->color);
  }
  if (style->activeColor) {
    freeItemColors({&outline->activeColor});
    outline->activeColor = copyColor(interp, tkwin, style->activeColor);
  }
}

/* ---- option types ---- */

namespace {

int tagsParse(ClientData, Tcl_Interp *interp, Tk_Window, const char *value, char *widgRec, int) {
  GcanvasItem *item = reinterpret_cast<GcanvasItem *>(widgRec);
  int argc;
  const char **argv;
  if (Tcl_SplitList(interp, value, &argc, &argv) != TCL_OK) return TCL_ERROR;
  if (item->tagSpace < argc) {
    Tk_Uid *newPtr = static_cast<Tk_Uid *>((void *)ckalloc(sizeof(Tk_Uid) * argc));
    for (int i = 0; i < item->numTags; i++) newPtr[i] = item->tagPtr[i];
    if (item->tagPtr != item->staticTagSpace) ckfree(reinterpret_cast<char *>(item->tagPtr));
    item->tagPtr = newPtr;
    item->tagSpace = argc;
  }
  item->numTags = argc;
  for (int i = 0; i < argc; i++) item->tagPtr[i] = Tk_GetUid(argv[i]);
  ckfree(reinterpret_cast<char *>(argv));
  return TCL_OK;
}

const char *tagsPrint(ClientData, Tk_Window, char *widgRec, int, Tcl_FreeProc **freeProcPtr) {
  GcanvasItem *item = reinterpret_cast<GcanvasItem *>(widgRec);
  if (item->numTags == 0) {
    *freeProcPtr = nullptr;
    return "";
  }
  if (item->numTags == 1) {
    *freeProcPtr = nullptr;
    return item->tagPtr[0];
  }
  *freeProcPtr = TCL_DYNAMIC;
  return Tcl_Merge(item->numTags, item->tagPtr);
}

/* Client data bits: 0x1 active allowed, 0x2 hidden allowed, 0x4 "-default" in the message. */
int stateParse(ClientData clientData, Tcl_Interp *interp, Tk_Window, const char *value,
               char *widgRec, int offset) {
  int flags = static_cast<int>(reinterpret_cast<intptr_t>(clientData));
  int *statePtr = reinterpret_cast<int *>(widgRec + offset);
  if (!value || !*value) {
    *statePtr = STATE_NONE;
    return TCL_OK;
  }
  size_t length = strlen(value);
  char c = value[0];
  if (c == 'n' && strncmp(value, "normal", length) == 0) {
    *statePtr = STATE_NORMAL;
    return TCL_OK;
  }
  if (c == 'd' && strncmp(value, "disabled", length) == 0) {
    *statePtr = STATE_DISABLED;
    return TCL_OK;
  }
  if ((flags & 1) && c == 'a' && strncmp(value, "active", length) == 0) {
    *statePtr = STATE_ACTIVE;
    return TCL_OK;
  }
  if ((flags & 2) && c == 'h' && strncmp(value, "hidden", length) == 0) {
    *statePtr = STATE_HIDDEN;
    return TCL_OK;
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "bad ", (flags & 4) ? "-default" : "state", " value \"", value,
                   "\": must be normal", nullptr);
  if (flags & 1) Tcl_AppendResult(interp, ", active", nullptr);
  if (flags & 2) Tcl_AppendResult(interp, ", hidden", nullptr);
  if (flags & 3) Tcl_AppendResult(interp, ",", nullptr);
  Tcl_AppendResult(interp, " or disabled", nullptr);
  *statePtr = STATE_NORMAL;
  return TCL_ERROR;
}

const char *statePrint(ClientData, Tk_Window, char *widgRec, int offset,
                       Tcl_FreeProc **freeProcPtr) {
  *freeProcPtr = nullptr;
  switch (*reinterpret_cast<int *>(widgRec + offset)) {
  case STATE_NORMAL: return "normal";
  case STATE_DISABLED: return "disabled";
  case STATE_HIDDEN: return "hidden";
  case STATE_ACTIVE: return "active";
  default: return "";
  }
}

/* Client data bits: 0x1 index allowed, 0x2 "#x,y" allowed. */
int offsetParse(ClientData clientData, Tcl_Interp *interp, Tk_Window tkwin, const char *value,
                char *widgRec, int offset) {
  int flags = static_cast<int>(reinterpret_cast<intptr_t>(clientData));
  StippleOffset *tso = reinterpret_cast<StippleOffset *>(widgRec + offset);
  StippleOffset result;
  const char *p = value;
  if (!value || !*value) {
    result.flags = OFFSET_CENTER | OFFSET_MIDDLE;
    *tso = result;
    return TCL_OK;
  }
  struct Anchor {
    const char *word;
    int flags;
  };
  static const Anchor anchors[] = {
      {"n", OFFSET_CENTER | OFFSET_TOP},     {"ne", OFFSET_RIGHT | OFFSET_TOP},
      {"e", OFFSET_RIGHT | OFFSET_MIDDLE},   {"se", OFFSET_RIGHT | OFFSET_BOTTOM},
      {"s", OFFSET_CENTER | OFFSET_BOTTOM},  {"sw", OFFSET_LEFT | OFFSET_BOTTOM},
      {"w", OFFSET_LEFT | OFFSET_MIDDLE},    {"nw", OFFSET_LEFT | OFFSET_TOP},
  };
  for (const Anchor &a : anchors) {
    if (strcmp(value, a.word) == 0) {
      result.flags = a.flags;
      *tso = result;
      return TCL_OK;
    }
  }
  if (value[0] == 'c' && strncmp(value, "center", strlen(value)) == 0) {
    result.flags = OFFSET_CENTER | OFFSET_MIDDLE;
    *tso = result;
    return TCL_OK;
  }
  /* "end" stands in every form, as in Tk's parser. */
  if (strcmp(value, "end") == 0) {
    result.flags = OFFSET_INDEX;
    result.x = INT_MAX;
    *tso = result;
    return TCL_OK;
  }
  if ((flags & 1) && Tcl_GetInt(nullptr, value, &result.x) == TCL_OK) {
    result.flags = OFFSET_INDEX;
    *tso = result;
    return TCL_OK;
  }
  if (*p == '#' && (flags & 2)) {
    result.flags = OFFSET_RELATIVE;
    p++;
  }
  const char *comma = strchr(p, ',');
  /* Tk_GetPixels needs an interpreter for its message (a null one crashes);
     the message is replaced below. */
  if (comma && tkwin && interp) {
    std::string xs(p, comma - p);
    if (Tk_GetPixels(interp, tkwin, xs.c_str(), &result.x) == TCL_OK &&
        Tk_GetPixels(interp, tkwin, comma + 1, &result.y) == TCL_OK) {
      *tso = result;
      return TCL_OK;
    }
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "bad offset \"", value, "\": expected \"x,y\"", nullptr);
  if (flags & 2) Tcl_AppendResult(interp, ", \"#x,y\"", nullptr);
  if (flags & 1) Tcl_AppendResult(interp, ", <index>", nullptr);
  Tcl_AppendResult(interp, ", n, ne, e, se, s, sw, w, nw, or center", nullptr);
  return TCL_ERROR;
}

const char *offsetPrint(ClientData, Tk_Window, char *widgRec, int offset,
                        Tcl_FreeProc **freeProcPtr) {
  StippleOffset *tso = reinterpret_cast<StippleOffset *>(widgRec + offset);
  *freeProcPtr = nullptr;
  if (tso->flags & OFFSET_INDEX) {
    if (tso->x == INT_MAX) return "end";
    char *p = (char *)ckalloc(24);
    snprintf(p, 24, "%d", tso->x);
    *freeProcPtr = TCL_DYNAMIC;
    return p;
  }
  int f = tso->flags;
  if (f & OFFSET_TOP) {
    if (f & OFFSET_LEFT) return "nw";
    if (f & OFFSET_CENTER) return "n";
    if (f & OFFSET_RIGHT) return "ne";
  } else if (f & OFFSET_MIDDLE) {
    if (f & OFFSET_LEFT) return "w";
    if (f & OFFSET_CENTER) return "center";
    if (f & OFFSET_RIGHT) return "e";
  } else if (f & OFFSET_BOTTOM) {
    if (f & OFFSET_LEFT) return "sw";
    if (f & OFFSET_CENTER) return "s";
    if (f & OFFSET_RIGHT) return "se";
  }
  char *p = (char *)ckalloc(48);
  snprintf(p, 48, "%s%d,%d", (f & OFFSET_RELATIVE) ? "#" : "", tso->x, tso->y);
  *freeProcPtr = TCL_DYNAMIC;
  return p;
}


/* A non-negative screen distance kept as a double (client data non-zero: any sign). */
int pixelParse(ClientData clientData, Tcl_Interp *interp, Tk_Window tkwin, const char *value,
               char *widgRec, int offset) {
  return canvasScreenDistance(interp, tkwin, value, clientData != nullptr,
                        reinterpret_cast<double *>(widgRec + offset));
}

const char *pixelPrint(ClientData, Tk_Window, char *widgRec, int offset,
                       Tcl_FreeProc **freeProcPtr) {
  char *p = (char *)ckalloc(TCL_DOUBLE_SPACE);
  Tcl_PrintDouble(nullptr, *reinterpret_cast<double *>(widgRec + offset), p);
  *freeProcPtr = TCL_DYNAMIC;
  return p;
}

/*
 * A screen distance of any sign kept as whole pixels, rounded and held
 * within +-2^30 (pixelRound), so a sum of two stays an int.
 */
int wholePixelParse(ClientData, Tcl_Interp *interp, Tk_Window tkwin, const char *value,
                    char *widgRec, int offset) {
  double v;
  if (canvasScreenDistance(interp, tkwin, value, true, &v) != TCL_OK) return TCL_ERROR;
  *reinterpret_cast<int *>(widgRec + offset) = pixelRound(v);
  return TCL_OK;
}

const char *wholePixelPrint(ClientData, Tk_Window, char *widgRec, int offset,
                            Tcl_FreeProc **freeProcPtr) {
  char *p = (char *)ckalloc(24);
  snprintf(p, 24, "%d", *reinterpret_cast<int *>(widgRec + offset));
  *freeProcPtr = TCL_DYNAMIC;
  return p;
}

int smoothParse(ClientData, Tcl_Interp *interp, Tk_Window, const char *value, char *widgRec,
                int offset) {
  const SmoothMethod **method = reinterpret_cast<const SmoothMethod **>(widgRec + offset);
  if (!value || !*value) {
    *method = nullptr;
    return TCL_OK;
  }
  size_t length = strlen(value);
  if (strncmp(value, "bezier", length) == 0) {
    *method = &bezierSmoothMethod;
    return TCL_OK;
  }
  int b;
  if (Tcl_GetBoolean(interp, value, &b) != TCL_OK) return TCL_ERROR;
  *method = b ? &bezierSmoothMethod : nullptr;
  return TCL_OK;
}

const char *smoothPrint(ClientData, Tk_Window, char *widgRec, int offset,
                        Tcl_FreeProc **freeProcPtr) {
  const SmoothMethod *method = *reinterpret_cast<const SmoothMethod **>(widgRec + offset);
  *freeProcPtr = nullptr;
  return method ? method->name : "";
}

}  // namespace

Tk_CustomOption tagsOption = {tagsParse, tagsPrint, nullptr};
Tk_CustomOption stateOption = {stateParse, statePrint, reinterpret_cast<ClientData>(3)};
Tk_CustomOption canvasStateOption = {stateParse, statePrint, nullptr};
Tk_CustomOption hiddenStateOption = {stateParse, statePrint, reinterpret_cast<ClientData>(2)};
Tk_CustomOption offsetOption = {offsetParse, offsetPrint, reinterpret_cast<ClientData>(3)};
Tk_CustomOption canvasOffsetOption = {offsetParse, offsetPrint, reinterpret_cast<ClientData>(2)};
Tk_CustomOption distanceOption = {pixelParse, pixelPrint, nullptr};
Tk_CustomOption wholePixelOption = {wholePixelParse, wholePixelPrint, nullptr};
Tk_CustomOption smoothOption = {smoothParse, smoothPrint, nullptr};

/* ---- PostScript entry points ---- */

int canvasPsColor(Tcl_Interp *interp, ItemContainer *c, XColor *color) {
  return psColor(interp, canvasOf(c)->psInfo, color);
}

int canvasPsFont(Tcl_Interp *interp, ItemContainer *c, Tk_Font font) {
  return psFont(interp, canvasOf(c)->psInfo, font);
}

int canvasPsBitmap(Tcl_Interp *interp, ItemContainer *c, Pixmap bitmap, int x, int y, int width,
                   int height) {
  return psBitmap(interp, canvasTkwin(c), canvasOf(c)->psInfo, bitmap, x, y, width, height);
}

int canvasPsStipple(Tcl_Interp *interp, ItemContainer *c, Pixmap bitmap) {
  return psStipple(interp, canvasTkwin(c), canvasOf(c)->psInfo, bitmap);
}

double canvasPsY(ItemContainer *c, double y) { return psY(y, canvasOf(c)->psInfo); }

void canvasPsPath(Tcl_Interp *interp, ItemContainer *c, const double *points, int n) {
  if (c->mx != 1 || c->my != 1 || c->xOffset != 0 || c->yOffset != 0) {
    std::vector<double> converted(2 * static_cast<size_t>(n));
    worldToCanvas(c, points, converted.data(), n);
    psPath(interp, canvasOf(c)->psInfo, converted.data(), n);
  } else {
    psPath(interp, canvasOf(c)->psInfo, points, n);
  }
}

}  // namespace vesk
