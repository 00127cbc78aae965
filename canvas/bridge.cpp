/*
 * bridge.cpp --
 *     Off-screen access to a Tk canvas or a map canvas: which kind a path
 *     names, the bounds of its items, and drawing a region of it into a
 *     pixmap, as capture, printing and metafiles need it.
 */
#include <math.h>
#include <string.h>

#include "canvas/gcanvas.h"

/* Tk's canvas record; its flag macros come after our own names. */
#include <tkInt.h>
#include <tkCanvas.h>

namespace vesk {

/*
 * getCanvasInfo --
 *     Fills info for the canvas named by pathName.
 * Results:      0, or 1 with the message in the interpreter result.
 */
int getCanvasInfo(Tcl_Interp *interp, const char *pathName, CanvasInfo *info) {
  Tk_Window main = Tk_MainWindow(interp);
  Tk_Window tkwin = main ? Tk_NameToWindow(interp, pathName, main) : nullptr;
  Tcl_ResetResult(interp);
  const char *cls = tkwin ? Tk_Class(tkwin) : nullptr;
  int kind = cls && strcmp(cls, "Canvas") == 0 ? 1 : cls && strcmp(cls, "Gcanvas") == 0 ? 2 : 0;
  if (kind == 0) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Not a canvas widget", -1));
    return 1;
  }
  Tcl_CmdInfo cmd;
  if (!Tcl_GetCommandInfo(interp, pathName, &cmd) || !cmd.objClientData) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Error in getting canvas info.\n", -1));
    return 1;
  }
  info->kind = kind;
  info->width = Tk_Width(tkwin);
  info->height = Tk_Height(tkwin);
  info->widget = cmd.objClientData;
  return 0;
}

void getCanvasBounds(const CanvasInfo *info, int *x1, int *y1, int *x2, int *y2) {
  double bx1 = 0, by1 = 0, bx2 = 0, by2 = 0;
  bool any = false;
  auto take = [&](double a, double b, double c, double d) {
    if (!any || a < bx1) bx1 = a;
    if (!any || b < by1) by1 = b;
    if (!any || c > bx2) bx2 = c;
    if (!any || d > by2) by2 = d;
    any = true;
  };
  int xo, yo;
  if (info->kind == 1) {
    TkCanvas *canvas = static_cast<TkCanvas *>(info->widget);
    for (Tk_Item *item = canvas->firstItemPtr; item; item = item->nextPtr)
      take(item->x1, item->y1, item->x2, item->y2);
    xo = canvas->xOrigin;
    yo = canvas->yOrigin;
  } else {
    GcanvasRecord *canvas = static_cast<GcanvasRecord *>(info->widget);
    for (GcanvasItem *item = canvas->c.firstItemPtr; item; item = item->nextPtr)
      take(item->x1, item->y1, item->x2, item->y2);
    xo = canvas->xOrigin;
    yo = canvas->yOrigin;
  }
  /* A canvas without items has the empty bounds at its origin. */
  *x1 = saturatingInt(floor(bx1 - xo));
  *y1 = saturatingInt(floor(by1 - yo));
  *x2 = saturatingInt(ceil(bx2 - xo));
  *y2 = saturatingInt(ceil(by2 - yo));
}

GC getCanvasPixmapGC(const CanvasInfo *info) {
  if (info->kind == 1) return static_cast<TkCanvas *>(info->widget)->pixmapGC;
  return static_cast<GcanvasRecord *>(info->widget)->pixmapGC;
}

/*
 * renderCanvasToPixmap --
 *     Draws every item overlapping the region (x, y, width, height) into
 *     drawable, or into a new pixmap of (width + 30) x (height + 30)
 *     filled with the canvas background.  coordType 0: window
 *     coordinates; otherwise canvas coordinates.
 * Results:      the drawable, or None with the message in the result.
 */
Drawable renderCanvasToPixmap(Tcl_Interp *interp, Drawable drawable, int extraX, int extraY,
                              const CanvasInfo *info, int x, int y, int width, int height,
                              int coordType) {
  Tk_Window main = Tk_MainWindow(interp);
  Display *display = Tk_Display(main);
  if (drawable == None) {
    if (width <= 0 || height <= 0 ||
        (drawable = Tk_GetPixmap(display, Tk_WindowId(main), width + 30, height + 30,
                                 Tk_Depth(main))) == None) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("Error in create pixmap: width %d height %d\n",
                                             width, height));
      return None;
    }
    GC gc = getCanvasPixmapGC(info);
    if (gc == None) {
      Tk_FreePixmap(display, drawable);
      Tcl_SetObjResult(interp, Tcl_NewStringObj("No pixmapGC", -1));
      return None;
    }
    XFillRectangle(display, drawable, gc, 0, 0, static_cast<unsigned>(width + 30),
                   static_cast<unsigned>(height + 30));
  }
  if (info->kind == 1) {
    TkCanvas *canvas = static_cast<TkCanvas *>(info->widget);
    if (coordType == 0) {
      x += canvas->xOrigin;
      y += canvas->yOrigin;
    }
    int sx = canvas->drawableXOrigin, sy = canvas->drawableYOrigin;
    canvas->drawableXOrigin = x;
    canvas->drawableYOrigin = y;
    for (Tk_Item *item = canvas->firstItemPtr; item; item = item->nextPtr) {
      if (item->x1 < x + width && x < item->x2 && item->y1 < y + height && y < item->y2)
        item->typePtr->displayProc(reinterpret_cast<Tk_Canvas>(canvas), item, display, drawable,
                                   x, y, width, height);
    }
    canvas->drawableXOrigin = sx;
    canvas->drawableYOrigin = sy;
  } else {
    GcanvasRecord *canvas = static_cast<GcanvasRecord *>(info->widget);
    if (coordType == 0) {
      x += canvas->xOrigin;
      y += canvas->yOrigin;
    }
    int sx = canvas->drawableXOrigin, sy = canvas->drawableYOrigin;
    canvas->drawableXOrigin = x + extraX;
    canvas->drawableYOrigin = y + extraY;
    for (GcanvasItem *item = canvas->c.firstItemPtr; item; item = item->nextPtr) {
      if (itemIsHidden(canvas, item)) continue;
      if (item->x1 < x + width && x < item->x2 && item->y1 < y + height && y < item->y2)
        item->typePtr->displayProc(&canvas->c, item, display, drawable, x, y, width, height);
    }
    canvas->drawableXOrigin = sx;
    canvas->drawableYOrigin = sy;
  }
  return drawable;
}

}  // namespace vesk
