/*
 * window.cpp --
 *     The "window" item type: another Tk window embedded at a world
 *     anchor point, placed by the canvas's own geometry manager "canvas"
 *     at every redisplay, unmapped when hidden or scrolled out of sight.
 *     The anchor's compass sides are world sides, so they follow the
 *     signs of the view's scales.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <X11/Xutil.h>

#include <string>

#include <tkInt.h>

#include "canvas/gcanvas.h"
#include "core/text.h"

namespace vesk {

namespace {

struct GcanvasWindowItem {
  GcanvasItem header;
  double x, y;      /* anchor point, world units */
  Tk_Window tkwin;  /* the embedded window; NULL when none or destroyed */
  int width, height;  /* pixels; 0 or less: the window's requested size */
  Tk_Anchor anchor;
  GcanvasRecord *canvas;
};

#define WINDOW_OFFSET(field) static_cast<int>(offsetof(GcanvasWindowItem, field))

Tk_ConfigSpec windowConfigSpecs[] = {
    {TK_CONFIG_ANCHOR, "-anchor", nullptr, nullptr, "center", WINDOW_OFFSET(anchor),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_PIXELS, "-height", nullptr, nullptr, "0", WINDOW_OFFSET(height),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, WINDOW_OFFSET(header.state),
     TK_CONFIG_NULL_OK, &hiddenStateOption},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_PIXELS, "-width", nullptr, nullptr, "0", WINDOW_OFFSET(width),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_WINDOW, "-window", nullptr, nullptr, nullptr, WINDOW_OFFSET(tkwin),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

GcanvasWindowItem *asWindow(GcanvasItem *item) {
  return reinterpret_cast<GcanvasWindowItem *>(item);
}

void computeWindowBbox(ItemContainer *c, GcanvasItem *item);
void displayWindow(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable,
                   int x, int y, int width, int height);

void windowStructureProc(ClientData clientData, XEvent *eventPtr) {
  GcanvasWindowItem *w = static_cast<GcanvasWindowItem *>(clientData);
  if (eventPtr->type == DestroyNotify) w->tkwin = nullptr;
}

void windowRequestProc(ClientData clientData, Tk_Window) {
  GcanvasWindowItem *w = static_cast<GcanvasWindowItem *>(clientData);
  computeWindowBbox(&w->canvas->c, &w->header);
  displayWindow(&w->canvas->c, &w->header, nullptr, None, 0, 0, 0, 0);
}

/* Another geometry manager took the window: let it go. */
void windowLostSlaveProc(ClientData clientData, Tk_Window tkwin) {
  GcanvasWindowItem *w = static_cast<GcanvasWindowItem *>(clientData);
  Tk_DeleteEventHandler(tkwin, StructureNotifyMask, windowStructureProc, w);
  if (w->canvas->c.tkwin != Tk_Parent(tkwin)) Tk_UnmaintainGeometry(tkwin, w->canvas->c.tkwin);
  Tk_UnmapWindow(tkwin);
  w->tkwin = nullptr;
}

const Tk_GeomMgr canvasGeomType = {"canvas", windowRequestProc, windowLostSlaveProc};

/* Releases a window from the canvas's management and unmaps it. */
void releaseWindow(GcanvasWindowItem *w, Tk_Window tkwin) {
  Tk_DeleteEventHandler(tkwin, StructureNotifyMask, windowStructureProc, w);
  Tk_ManageGeometry(tkwin, nullptr, nullptr);
  if (w->canvas->c.tkwin && w->canvas->c.tkwin != Tk_Parent(tkwin))
    Tk_UnmaintainGeometry(tkwin, w->canvas->c.tkwin);
  Tk_UnmapWindow(tkwin);
}

void computeWindowBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasWindowItem *w = asWindow(item);
  int x = pixelRound(w->x * c->mx - c->xOffset);
  int y = pixelRound(w->y * c->my - c->yOffset);
  item->xMargin = item->yMargin = 0;
  if (!w->tkwin || effectiveState(c, item) == STATE_HIDDEN) {
    item->x1 = x;
    item->y1 = y;
    item->x2 = static_cast<double>(x) + 1;
    item->y2 = static_cast<double>(y) + 1;
    return;
  }
  int width = w->width > 0 ? w->width : Tk_ReqWidth(w->tkwin) > 0 ? Tk_ReqWidth(w->tkwin) : 1;
  int height =
      w->height > 0 ? w->height : Tk_ReqHeight(w->tkwin) > 0 ? Tk_ReqHeight(w->tkwin) : 1;
  double mx = c->mx, my = c->my;
  switch (w->anchor) {
  case TK_ANCHOR_N:
    x -= width / 2;
    if (my < 0) y -= height;
    break;
  case TK_ANCHOR_NE:
    if (mx > 0) x -= width;
    if (my < 0) y -= height;
    break;
  case TK_ANCHOR_E:
    if (mx > 0) x -= width;
    y -= height / 2;
    break;
  case TK_ANCHOR_SE:
    if (mx > 0) x -= width;
    if (my > 0) y -= height;
    break;
  case TK_ANCHOR_S:
    x -= width / 2;
    if (my > 0) y -= height;
    break;
  case TK_ANCHOR_SW:
    if (mx < 0) x -= width;
    if (my > 0) y -= height;
    break;
  case TK_ANCHOR_W:
    if (mx < 0) x -= width;
    y -= height / 2;
    break;
  case TK_ANCHOR_NW:
    if (mx < 0) x -= width;
    if (my < 0) y -= height;
    break;
  case TK_ANCHOR_CENTER:
    x -= width / 2;
    y -= height / 2;
    break;
  }
  item->x1 = x;
  item->y1 = y;
  item->x2 = static_cast<double>(x) + width;
  item->y2 = static_cast<double>(y) + height;
}

int windowCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  GcanvasWindowItem *w = asWindow(item);
  if (pointItemCoords(interp, objc, objv, c, &w->x, &w->y) != TCL_OK) return TCL_ERROR;
  if (objc > 0) computeWindowBbox(c, item);
  return TCL_OK;
}

/*
 * configureWindow --
 *     Applies the options; a newly named window must be a child of the
 *     canvas or of one of its ancestors, never a toplevel nor the canvas.
 *     When the options fail, the window managed before stays.
 */
int configureWindow(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                    Tcl_Obj *const objv[], int flags) {
  GcanvasWindowItem *w = asWindow(item);
  Tk_Window canvasWin = canvasTkwin(c);
  Tk_Window oldWindow = w->tkwin;
  if (Tk_ConfigureWidget(interp, canvasWin, windowConfigSpecs, objc, objWords(objv),
                         reinterpret_cast<char *>(w), flags | TK_CONFIG_OBJS) != TCL_OK) {
    w->tkwin = oldWindow;
    computeWindowBbox(c, item);
    return TCL_ERROR;
  }
  if (oldWindow != w->tkwin) {
    if (oldWindow) releaseWindow(w, oldWindow);
    if (w->tkwin) {
      Tk_Window parent = Tk_Parent(w->tkwin);
      bool ok = true;
      for (Tk_Window ancestor = canvasWin;; ancestor = Tk_Parent(ancestor)) {
        if (ancestor == parent) break;
        if (!ancestor || Tk_IsTopLevel(ancestor)) {
          ok = false;
          break;
        }
      }
      if (Tk_IsTopLevel(w->tkwin) || w->tkwin == canvasWin) ok = false;
      if (!ok) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "can't use ", Tk_PathName(w->tkwin),
                         " in a window item of this canvas", nullptr);
        w->tkwin = nullptr;
        computeWindowBbox(c, item);
        return TCL_ERROR;
      }
      Tk_CreateEventHandler(w->tkwin, StructureNotifyMask, windowStructureProc, w);
      Tk_ManageGeometry(w->tkwin, &canvasGeomType, w);
      canvasOf(c)->flags |= HAS_WINDOWS;
    }
  }
  if (w->tkwin && effectiveState(c, item) == STATE_HIDDEN) Tk_UnmapWindow(w->tkwin);
  computeWindowBbox(c, item);
  return TCL_OK;
}

void deleteWindow(ItemContainer *, GcanvasItem *item, Display *) {
  GcanvasWindowItem *w = asWindow(item);
  if (w->tkwin) releaseWindow(w, w->tkwin);
  w->tkwin = nullptr;
}

int createWindow(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  GcanvasWindowItem *w = asWindow(item);
  int coords = createCoordCount(interp, c, item, objc, objv, 2, "x y");
  if (coords < 0) return TCL_ERROR;
  w->x = w->y = 0;
  w->tkwin = nullptr;
  w->width = w->height = 0;
  w->anchor = TK_ANCHOR_CENTER;
  w->canvas = canvasOf(c);
  return createFromWords(interp, c, item, objc, objv, coords);
}

/* Places the window over the item's box, or unmaps it out of sight. */
void displayWindow(ItemContainer *c, GcanvasItem *item, Display *, Drawable, int, int, int, int) {
  GcanvasWindowItem *w = asWindow(item);
  GcanvasRecord *canvas = w->canvas;
  Tk_Window canvasWin = canvas->c.tkwin;
  if (!w->tkwin || !canvasWin) return;
  if (effectiveState(c, item) == STATE_HIDDEN) {
    Tk_UnmapWindow(w->tkwin);
    return;
  }
  int x = toDrawableCoord(canvas->xOrigin, item->x1);
  int y = toDrawableCoord(canvas->yOrigin, item->y1);
  int width = roundToInt(item->x2 - item->x1);
  int height = roundToInt(item->y2 - item->y1);
  bool child = canvasWin == Tk_Parent(w->tkwin);
  if (x + width <= 0 || y + height <= 0 || x >= Tk_Width(canvasWin) ||
      y >= Tk_Height(canvasWin)) {
    if (child) Tk_UnmapWindow(w->tkwin);
    else Tk_UnmaintainGeometry(w->tkwin, canvasWin);
    return;
  }
  if (child) {
    if (x != Tk_X(w->tkwin) || y != Tk_Y(w->tkwin) || width != Tk_Width(w->tkwin) ||
        height != Tk_Height(w->tkwin))
      Tk_MoveResizeWindow(w->tkwin, x, y, width, height);
    Tk_MapWindow(w->tkwin);
  } else {
    Tk_MaintainGeometry(w->tkwin, canvasWin, x, y, width, height);
  }
}

double windowToPoint(ItemContainer *, GcanvasItem *item, double *p) {
  double dx = p[0] < item->x1 ? item->x1 - p[0] : p[0] >= item->x2 ? p[0] + 1 - item->x2 : 0;
  double dy = p[1] < item->y1 ? item->y1 - p[1] : p[1] >= item->y2 ? p[1] + 1 - item->y2 : 0;
  return hypot(dx, dy);
}

int windowToArea(ItemContainer *, GcanvasItem *item, double *r) {
  return itemBoxToArea(item, r);
}

void scaleWindow(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasWindowItem *w = asWindow(item);
  scaleWorldPoint(&w->x, &w->y, ox, oy, sx, sy);
  if (w->width > 0) w->width = pixelTrunc(sx * w->width);
  if (w->height > 0) w->height = pixelTrunc(sy * w->height);
  computeWindowBbox(c, item);
}

void translateWindow(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasWindowItem *w = asWindow(item);
  w->x += dx;
  w->y += dy;
  computeWindowBbox(c, item);
}

int ignoreXError(ClientData, XErrorEvent *) { return 0; }

/*
 * windowToPostscript --
 *     A window that writes PostScript itself (a canvas) gives its own
 *     "postscript -prolog 0" output over a white rectangle; any other
 *     window gives its pixels as an image.
 */
int windowToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int prepass) {
  GcanvasWindowItem *w = asWindow(item);
  Tk_Window tkwin = w->tkwin;
  if (prepass || !tkwin) return TCL_OK;
  int width = Tk_Width(tkwin), height = Tk_Height(tkwin);
  double x = w->x * c->mx - c->xOffset;
  double y = canvasPsY(c, w->y * c->my - c->yOffset);
  psAnchorCorner(w->anchor, width, height, &x, &y);
  const char *className = Tk_Class(tkwin) ? Tk_Class(tkwin) : "";
  Tcl_AppendResult(interp, "\n%% ", className, " item (", Tk_PathName(tkwin), ", ", nullptr);
  char buffer[400];
  snprintf(buffer, sizeof buffer, "%d x %d)\n%.15g %.15g translate\n", width, height, x, y);
  Tcl_AppendResult(interp, buffer, nullptr);

  /* The window's own PostScript, the words passed as words (never a pasted script). */
  Tcl_Obj *saved = Tcl_GetObjResult(interp);
  Tcl_IncrRefCount(saved);
  Tcl_ResetResult(interp);
  Tcl_Obj *words[3] = {Tcl_NewStringObj(Tk_PathName(tkwin), -1),
                       Tcl_NewStringObj("postscript", -1), Tcl_NewStringObj("-prolog", -1)};
  Tcl_Obj *objv[4] = {words[0], words[1], words[2], Tcl_NewIntObj(0)};
  for (Tcl_Obj *o : objv) Tcl_IncrRefCount(o);
  int code = Tcl_EvalObjv(interp, 4, objv, TCL_EVAL_GLOBAL);
  for (Tcl_Obj *o : objv) Tcl_DecrRefCount(o);
  std::string own = Tcl_GetStringResult(interp);
  Tcl_SetObjResult(interp, saved);
  Tcl_DecrRefCount(saved);
  if (code == TCL_OK) {
    snprintf(buffer, sizeof buffer, "50 dict begin\nsave\ngsave\n0 %d moveto %d 0 rlineto 0 -%d rlineto -%d",
             height, width, height, width);
    Tcl_AppendResult(interp, buffer, " 0 rlineto closepath\n",
                     "1.000 1.000 1.000 setrgbcolor AdjustColor\nfill\ngrestore\n", own.c_str(),
                     "\nrestore\nend\n\n\n", nullptr);
    return TCL_OK;
  }
  if (width <= 0 || height <= 0 || !Tk_WindowId(tkwin)) return TCL_OK;
  Display *display = Tk_Display(tkwin);
  Tk_ErrorHandler handler = Tk_CreateErrorHandler(display, -1, -1, -1, ignoreXError, nullptr);
  XImage *image = XGetImage(display, Tk_WindowId(tkwin), 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  XSync(display, False);
  Tk_DeleteErrorHandler(handler);
  if (!image) return TCL_OK;
  int result = psXImage(interp, canvasTkwin(c), canvasOf(c)->psInfo, image, 0, 0, width, height);
  XDestroyImage(image);
  return result;
}

}  // namespace

GcanvasItemType windowType = {
    "window", sizeof(GcanvasWindowItem), createWindow, windowConfigSpecs, configureWindow,
    windowCoords, deleteWindow, displayWindow, TK_ITEM_OBJS | TK_ITEM_ALWAYS_REDRAW,
    windowToPoint, windowToArea, windowToPostscript, scaleWindow, translateWindow, nullptr,
    nullptr, nullptr, nullptr, nullptr, computeWindowBbox, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr,
};

}  // namespace vesk
