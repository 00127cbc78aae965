/*
 * redisplay.cpp --
 *     Redraw requests, the idle redisplay through a backing pixmap that is
 *     redrawn only in stale strips, floating items, the structure events
 *     of the window, the origin with scroll increments and confinement,
 *     the scrollbar protocol, and "xview", "yview", "scan", "redraw".
 */
#include <math.h>
#include <stdio.h>

#include "canvas/gcanvas.h"
#include "core/text.h"
#include "display/drawing.h"

namespace vesk {

namespace {

constexpr int kMargin = 8;  /* backing pixmap margin on each side */
int stripCount = 0;

/* Adds a rounded rectangle to the redraw region and schedules the redisplay. */
void addToRedrawRegion(GcanvasRecord *canvas, int x1, int y1, int x2, int y2) {
  if (canvas->flags & BBOX_NOT_EMPTY) {
    if (x1 < canvas->redrawX1) canvas->redrawX1 = x1;
    if (y1 < canvas->redrawY1) canvas->redrawY1 = y1;
    if (x2 > canvas->redrawX2) canvas->redrawX2 = x2;
    if (y2 > canvas->redrawY2) canvas->redrawY2 = y2;
  } else {
    canvas->redrawX1 = x1;
    canvas->redrawY1 = y1;
    canvas->redrawX2 = x2;
    canvas->redrawY2 = y2;
    canvas->flags |= BBOX_NOT_EMPTY;
  }
}

void scheduleRedisplay(GcanvasRecord *canvas) {
  if (!(canvas->flags & REDRAW_PENDING)) {
    Tcl_DoWhenIdle(displayGcanvas, canvas);
    canvas->flags |= REDRAW_PENDING;
  }
}

/* Outward rounding of a canvas-pixel box to ints, saturating. */
int floorInt(double v) { return roundToInt(floor(v)); }
int ceilInt(double v) { return roundToInt(ceil(v)); }

/*
 * redrawBackingStrip --
 *     Renders the non-floating items over one strip of the view into the
 *     backing pixmap, through a scratch pixmap with margins.
 */
void redrawBackingStrip(GcanvasRecord *canvas, int x1, int y1, int x2, int y2) {
  if (x1 < canvas->redrawX1) x1 = canvas->redrawX1;
  if (y1 < canvas->redrawY1) y1 = canvas->redrawY1;
  if (x2 > canvas->redrawX2) x2 = canvas->redrawX2;
  if (y2 > canvas->redrawY2) y2 = canvas->redrawY2;
  if (x1 >= x2 || y1 >= y2) return;
  stripCount++;
  Tk_Window tkwin = canvas->c.tkwin;
  Display *display = canvas->c.display;
  int width = x2 - x1, height = y2 - y1;
  canvas->drawableXOrigin = x1 - kMargin;
  canvas->drawableYOrigin = y1 - kMargin;
  Pixmap pixmap = Tk_GetPixmap(display, Tk_WindowId(tkwin), width + 2 * kMargin,
                               height + 2 * kMargin, Tk_Depth(tkwin));
  XFillRectangle(display, pixmap, canvas->pixmapGC, kMargin, kMargin,
                 static_cast<unsigned>(width), static_cast<unsigned>(height));
  for (GcanvasItem *item = canvas->c.firstItemPtr; item; item = item->nextPtr) {
    if (item->floating) continue;
    bool outside = item->x1 >= x2 || item->y1 >= y2 || item->x2 < x1 || item->y2 < y1;
    if (outside) {
      bool always = (item->typePtr->alwaysRedraw & TK_ITEM_ALWAYS_REDRAW) &&
                    item->x1 < canvas->redrawX2 && item->y1 < canvas->redrawY2 &&
                    item->x2 >= canvas->redrawX1 && item->y2 >= canvas->redrawY1;
      if (!always) continue;
    }
    if (itemIsHidden(canvas, item)) continue;
    item->typePtr->displayProc(&canvas->c, item, display, pixmap, x1, y1, width, height);
  }
  XCopyArea(display, pixmap, canvas->backingPixmap, canvas->pixmapGC, kMargin, kMargin,
            static_cast<unsigned>(width), static_cast<unsigned>(height),
            x1 - canvas->backingX1 + kMargin, y1 - canvas->backingY1 + kMargin);
  Tk_FreePixmap(display, pixmap);
}

/*
 * updateBackingPixmap --
 *     Brings the backing pixmap up to date for the present view, copying
 *     what is still valid and redrawing only the exposed strips, then
 *     composes the floating items over a copy and shows it.
 */
void updateBackingPixmap(GcanvasRecord *canvas) {
  Tk_Window tkwin = canvas->c.tkwin;
  Display *display = canvas->c.display;
  int vx1 = canvas->xOrigin + canvas->inset, vy1 = canvas->yOrigin + canvas->inset;
  int vx2 = canvas->xOrigin + Tk_Width(tkwin) - canvas->inset;
  int vy2 = canvas->yOrigin + Tk_Height(tkwin) - canvas->inset;
  int w = vx2 - vx1, h = vy2 - vy1;
  if (w <= 0 || h <= 0) return;

  if (canvas->backingPixmap == None || canvas->backingStale || vx1 < canvas->backingX1 ||
      canvas->backingX2 < vx2 || vy1 < canvas->backingY1 || canvas->backingY2 < vy2) {
    Pixmap old = canvas->backingPixmap;
    int ox1 = canvas->backingX1, oy1 = canvas->backingY1, ox2 = canvas->backingX2,
        oy2 = canvas->backingY2;
    canvas->backingPixmap =
        Tk_GetPixmap(display, Tk_WindowId(tkwin), w + 2 * kMargin, h + 2 * kMargin, Tk_Depth(tkwin));
    canvas->backingX1 = vx1;
    canvas->backingY1 = vy1;
    canvas->backingX2 = vx2;
    canvas->backingY2 = vy2;
    bool whole = true;
    if (old != None) {
      int ix1 = ox1 > vx1 ? ox1 : vx1, iy1 = oy1 > vy1 ? oy1 : vy1;
      int ix2 = ox2 < vx2 ? ox2 : vx2, iy2 = oy2 < vy2 ? oy2 : vy2;
      if (ix1 < ix2 && iy1 < iy2) {
        whole = false;
        XCopyArea(display, old, canvas->backingPixmap, canvas->pixmapGC, ix1 - ox1 + kMargin,
                  iy1 - oy1 + kMargin, static_cast<unsigned>(ix2 - ix1),
                  static_cast<unsigned>(iy2 - iy1), ix1 - vx1 + kMargin, iy1 - vy1 + kMargin);
        Tk_FreePixmap(display, old);
        if (canvas->backingStale) redrawBackingStrip(canvas, ix1, iy1, ix2, iy2);
        /* The strips the view gained: top, bottom, left, right. */
        if (vy1 < iy1) {
          addToRedrawRegion(canvas, vx1, vy1, vx2, iy1);
          redrawBackingStrip(canvas, vx1, vy1, vx2, iy1);
        }
        if (iy2 < vy2) {
          addToRedrawRegion(canvas, vx1, iy2, vx2, vy2);
          redrawBackingStrip(canvas, vx1, iy2, vx2, vy2);
        }
        if (vx1 < ix1) {
          addToRedrawRegion(canvas, vx1, iy1, ix1, iy2);
          redrawBackingStrip(canvas, vx1, iy1, ix1, iy2);
        }
        if (ix2 < vx2) {
          addToRedrawRegion(canvas, ix2, iy1, vx2, iy2);
          redrawBackingStrip(canvas, ix2, iy1, vx2, iy2);
        }
      } else {
        Tk_FreePixmap(display, old);
      }
    }
    if (whole) {
      addToRedrawRegion(canvas, vx1, vy1, vx2, vy2);
      redrawBackingStrip(canvas, vx1, vy1, vx2, vy2);
    }
  }
  if (!(canvas->flags & HAS_FLOATING)) {
    /* Nothing to compose: the backing pixmap goes to the window as it is. */
    XCopyArea(display, canvas->backingPixmap, Tk_WindowId(tkwin), canvas->pixmapGC,
              vx1 - canvas->backingX1 + kMargin, vy1 - canvas->backingY1 + kMargin,
              static_cast<unsigned>(w), static_cast<unsigned>(h), canvas->inset, canvas->inset);
    canvas->drawableXOrigin = vx1;
    canvas->drawableYOrigin = vy1;
    canvas->backingStale = 0;
    return;
  }
  Pixmap temp = Tk_GetPixmap(display, Tk_WindowId(tkwin), w, h, Tk_Depth(tkwin));
  XCopyArea(display, canvas->backingPixmap, temp, canvas->pixmapGC,
            vx1 - canvas->backingX1 + kMargin, vy1 - canvas->backingY1 + kMargin,
            static_cast<unsigned>(w), static_cast<unsigned>(h), 0, 0);
  canvas->drawableXOrigin = vx1;
  canvas->drawableYOrigin = vy1;
  if (canvas->flags & HAS_FLOATING) {
    bool any = false;
    for (GcanvasItem *item = canvas->c.firstItemPtr; item; item = item->nextPtr) {
      if (!item->floating) continue;
      any = true;
      if (itemIsHidden(canvas, item)) continue;
      item->typePtr->displayProc(&canvas->c, item, display, temp, vx1, vy1, w, h);
    }
    if (!any) canvas->flags &= ~HAS_FLOATING;
  }
  XCopyArea(display, temp, Tk_WindowId(tkwin), canvas->pixmapGC, 0, 0, static_cast<unsigned>(w),
            static_cast<unsigned>(h), canvas->inset, canvas->inset);
  Tk_FreePixmap(display, temp);
  canvas->backingStale = 0;
}

}  // namespace

int backingStripCount() { return stripCount; }

bool itemIsHidden(GcanvasRecord *canvas, GcanvasItem *item) {
  int state = item->state == STATE_NONE ? canvas->canvasState : item->state;
  return state == STATE_HIDDEN;
}

/*
 * eventuallyRedrawArea --
 *     Grows the redraw region by a rectangle of canvas pixels and
 *     schedules one idle redisplay; backing 1 marks the backing stale.
 */
void eventuallyRedrawArea(GcanvasRecord *canvas, double x1, double y1, double x2, double y2,
                          int backing) {
  Tk_Window tkwin = canvas->c.tkwin;
  if (!tkwin || x1 > x2 || y1 > y2 || x2 < canvas->xOrigin || y2 < canvas->yOrigin ||
      x1 >= canvas->xOrigin + Tk_Width(tkwin) || y1 >= canvas->yOrigin + Tk_Height(tkwin))
    return;
  addToRedrawRegion(canvas, floorInt(x1 - 0.5), floorInt(y1 - 0.5), ceilInt(x2 + 0.5),
                    ceilInt(y2 + 0.5));
  canvas->backingStale |= backing;
  scheduleRedisplay(canvas);
}

/*
 * eventuallyRedrawItem --
 *     Schedules the redraw of an item's box; a floating item leaves the
 *     backing pixmap valid.
 */
void eventuallyRedrawItem(GcanvasRecord *canvas, GcanvasItem *item) {
  Tk_Window tkwin = canvas->c.tkwin;
  if (!tkwin) return;
  int x1 = floorInt(item->x1 - 0.5), y1 = floorInt(item->y1 - 0.5);
  int x2 = ceilInt(item->x2 + 0.5), y2 = ceilInt(item->y2 + 0.5);
  bool invisible = x1 >= x2 || y2 <= y1 || x2 < canvas->xOrigin || y2 < canvas->yOrigin ||
                   x1 >= canvas->xOrigin + Tk_Width(tkwin) ||
                   y1 >= canvas->yOrigin + Tk_Height(tkwin);
  if (item->floating) canvas->flags |= HAS_FLOATING;
  if (invisible && !(item->typePtr->alwaysRedraw & TK_ITEM_ALWAYS_REDRAW)) return;
  if (!item->floating) canvas->backingStale = 1;
  if (!(item->redrawFlags & ITEM_FORCE_REDRAW)) {
    addToRedrawRegion(canvas, x1, y1, x2, y2);
    item->redrawFlags |= ITEM_FORCE_REDRAW;
    canvas->flags |= ITEMS_FORCED;
  }
  scheduleRedisplay(canvas);
}

void scheduleCanvasRedisplay(GcanvasRecord *canvas) { scheduleRedisplay(canvas); }

/*
 * displayGcanvas --
 *     The idle redisplay: re-adds the boxes of changed items, brings the
 *     backing pixmap and the window up to date, draws the border and the
 *     highlight ring, and runs the scroll commands when asked.
 */
void displayGcanvas(ClientData clientData) {
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(clientData);
  Tk_Window tkwin = canvas->c.tkwin;
  if (!tkwin) return;
  if (Tk_IsMapped(tkwin)) {
    /* Items moved or changed since the last pass: the pointer may be over another one. */
    while (canvas->flags & REPICK_NEEDED) {
      Tcl_Preserve(canvas);
      canvas->flags &= ~REPICK_NEEDED;
      pickCurrentItem(canvas, &canvas->pickEvent);
      tkwin = canvas->c.tkwin;
      Tcl_Release(canvas);
      if (!tkwin) return;
    }
    /* Only walk the items when one asked to be redrawn (a scroll asks none). */
    bool forced = canvas->flags & ITEMS_FORCED;
    canvas->flags &= ~ITEMS_FORCED;
    for (GcanvasItem *item = forced ? canvas->c.firstItemPtr : nullptr; item;
         item = item->nextPtr) {
      if (item->redrawFlags & ITEM_FORCE_REDRAW) {
        item->redrawFlags &= ~ITEM_FORCE_REDRAW;
        eventuallyRedrawItem(canvas, item);
        item->redrawFlags &= ~ITEM_FORCE_REDRAW;
      }
    }
    canvas->flags &= ~ITEMS_FORCED;
    if (canvas->redrawX1 < canvas->redrawX2 && canvas->redrawY1 < canvas->redrawY2)
      updateBackingPixmap(canvas);
    /*
     * Embedded windows follow the view also where no strip was redrawn:
     * one scrolled out of sight is unmapped, one scrolled back mapped.
     */
    if (canvas->flags & HAS_WINDOWS) {
      bool any = false;
      for (GcanvasItem *item = canvas->c.firstItemPtr; item && canvas->c.tkwin;
           item = item->nextPtr) {
        if (!(item->typePtr->alwaysRedraw & TK_ITEM_ALWAYS_REDRAW)) continue;
        any = true;
        item->typePtr->displayProc(&canvas->c, item, canvas->c.display, None, 0, 0, 0, 0);
      }
      if (!any) canvas->flags &= ~HAS_WINDOWS;
      tkwin = canvas->c.tkwin;
      if (!tkwin) return;
    }
    if (canvas->flags & REDRAW_BORDERS) {
      canvas->flags &= ~REDRAW_BORDERS;
      if (canvas->borderWidth > 0)
        Tk_Draw3DRectangle(tkwin, Tk_WindowId(tkwin), canvas->bgBorder, canvas->highlightWidth,
                           canvas->highlightWidth, Tk_Width(tkwin) - 2 * canvas->highlightWidth,
                           Tk_Height(tkwin) - 2 * canvas->highlightWidth, canvas->borderWidth,
                           canvas->relief);
      if (canvas->highlightWidth != 0) {
        XColor *color = canvas->textInfo.gotFocus ? canvas->highlightColorPtr
                                                  : canvas->highlightBgColorPtr;
        GC fg = Tk_GCForColor(color, Tk_WindowId(tkwin));
        drawHighlightBorder(tkwin, fg, fg, canvas->highlightWidth, Tk_WindowId(tkwin));
      }
    }
  }
  canvas->flags &= ~(REDRAW_PENDING | BBOX_NOT_EMPTY);
  canvas->redrawX1 = canvas->redrawY1 = canvas->redrawX2 = canvas->redrawY2 = 0;
  if (canvas->flags & UPDATE_SCROLLBARS) updateScrollbars(canvas);
}

/*
 * gcanvasEventProc --
 *     Expose, configure, destroy, focus and unmap events of the window.
 */
void gcanvasEventProc(ClientData clientData, XEvent *eventPtr) {
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(clientData);
  Tk_Window tkwin = canvas->c.tkwin;
  switch (eventPtr->type) {
  case Expose: {
    if (!tkwin) return;
    int x = eventPtr->xexpose.x, y = eventPtr->xexpose.y;
    int w = eventPtr->xexpose.width, h = eventPtr->xexpose.height;
    eventuallyRedrawArea(canvas, x + canvas->xOrigin, y + canvas->yOrigin,
                         x + canvas->xOrigin + w, y + canvas->yOrigin + h, 0);
    if (x < canvas->inset || y < canvas->inset || x + w > Tk_Width(tkwin) - canvas->inset ||
        y + h > Tk_Height(tkwin) - canvas->inset)
      canvas->flags |= REDRAW_BORDERS;
    break;
  }
  case DestroyNotify:
    gcanvasStructureGone(canvas);
    break;
  case ConfigureNotify:
    if (!tkwin) return;
    canvas->flags |= UPDATE_SCROLLBARS;
    setCanvasOrigin(canvas, canvas->xOrigin, canvas->yOrigin);
    eventuallyRedrawArea(canvas, canvas->xOrigin, canvas->yOrigin,
                         canvas->xOrigin + Tk_Width(tkwin), canvas->yOrigin + Tk_Height(tkwin), 1);
    canvas->flags |= REDRAW_BORDERS;
    break;
  case FocusIn:
  case FocusOut:
    if (eventPtr->xfocus.detail != NotifyInferior) {
      canvasFocusProc(canvas, eventPtr->type == FocusIn);
      canvas->flags |= REDRAW_BORDERS;
      if (tkwin) scheduleRedisplay(canvas);
    }
    break;
  case UnmapNotify:
    for (GcanvasItem *item = canvas->c.firstItemPtr; item; item = item->nextPtr)
      if (item->typePtr->alwaysRedraw & TK_ITEM_ALWAYS_REDRAW)
        item->typePtr->displayProc(&canvas->c, item, canvas->c.display, None, 0, 0, 0, 0);
    break;
  }
}

namespace {

/* Rounds an origin to the scroll increment (division truncating). */
int applyIncrement(int origin, int increment, int inset) {
  if (increment <= 0) return origin;
  if (origin >= 0) return origin + increment / 2 - ((origin + increment / 2 + inset) % increment);
  int t = increment / 2 - origin;
  return -(t - ((t - inset) % increment));
}

/* Confinement on one axis: how far to move so the view stays in the region. */
int confineDelta(int low, int high, int increment) {
  if (low < 0 && high > 0) {
    int delta = -low < high ? -low : high;
    if (increment > 0) delta -= delta % increment;
    return delta;
  }
  if (high < 0 && low > 0) {
    int delta = -high < low ? -high : low;
    if (increment > 0) delta -= delta % increment;
    return -delta;
  }
  return 0;
}

int truncInt(double v) { return saturatingInt(v); }

/* Origins stay well inside the int range, so origin + window size cannot overflow. */
int clampOrigin(int v) {
  constexpr int kLimit = 1 << 29;
  return v < -kLimit ? -kLimit : (v > kLimit ? kLimit : v);
}

}  // namespace

/*
 * setCanvasOrigin --
 *     Moves the view, honouring scroll increments and confinement.
 */
void setCanvasOrigin(GcanvasRecord *canvas, int xOrigin, int yOrigin) {
  Tk_Window tkwin = canvas->c.tkwin;
  int inset = canvas->inset;
  xOrigin = clampOrigin(xOrigin);
  yOrigin = clampOrigin(yOrigin);
  xOrigin = applyIncrement(xOrigin, canvas->xScrollIncrement, inset);
  yOrigin = applyIncrement(yOrigin, canvas->yScrollIncrement, inset);
  if (canvas->confine && canvas->regionString) {
    int left = truncInt(xOrigin + inset - canvas->scrollX1);
    int right = truncInt(canvas->scrollX2 - (xOrigin + Tk_Width(tkwin) - inset));
    int top = truncInt(yOrigin + inset - canvas->scrollY1);
    int bottom = truncInt(canvas->scrollY2 - (yOrigin + Tk_Height(tkwin) - inset));
    xOrigin += confineDelta(left, right, canvas->xScrollIncrement);
    yOrigin += confineDelta(top, bottom, canvas->yScrollIncrement);
  }
  if (xOrigin == canvas->xOrigin && yOrigin == canvas->yOrigin) return;
  eventuallyRedrawArea(canvas, canvas->xOrigin, canvas->yOrigin,
                       canvas->xOrigin + Tk_Width(tkwin), canvas->yOrigin + Tk_Height(tkwin), 0);
  canvas->xOrigin = xOrigin;
  canvas->yOrigin = yOrigin;
  canvas->flags |= UPDATE_SCROLLBARS;
  eventuallyRedrawArea(canvas, canvas->xOrigin, canvas->yOrigin,
                       canvas->xOrigin + Tk_Width(tkwin), canvas->yOrigin + Tk_Height(tkwin), 0);
}

std::string printScrollFractions(double screen1, double screen2, double object1, double object2) {
  double range = object2 - object1, f1, f2;
  if (range <= 0) {
    f1 = 0;
    f2 = 1.0;
  } else {
    f1 = (screen1 - object1) / range;
    f2 = (screen2 - object1) / range;
    if (f2 < f1) f2 = f1;
  }
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%g %g", f1, f2);
  return buffer;
}

/*
 * updateScrollbars --
 *     Runs the x and y scroll commands with the present fractions; an
 *     error goes to the background error handler.
 */
void updateScrollbars(GcanvasRecord *canvas) {
  Tcl_Interp *interp = canvas->c.interp;
  Tk_Window tkwin = canvas->c.tkwin;
  canvas->flags &= ~UPDATE_SCROLLBARS;
  if (!tkwin) return;
  Tcl_Preserve(interp);
  std::string xCmd = canvas->xScrollCmd ? canvas->xScrollCmd : "";
  std::string yCmd = canvas->yScrollCmd ? canvas->yScrollCmd : "";
  int xo = canvas->xOrigin, yo = canvas->yOrigin, inset = canvas->inset;
  int w = Tk_Width(tkwin), h = Tk_Height(tkwin);
  double sx1 = canvas->scrollX1, sx2 = canvas->scrollX2, sy1 = canvas->scrollY1,
         sy2 = canvas->scrollY2;
  if (!xCmd.empty()) {
    std::string script = xCmd + " " + printScrollFractions(xo + inset, xo + w - inset, sx1, sx2);
    if (Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL) != TCL_OK) {
      Tcl_AddErrorInfo(interp, "\n    (horizontal scrolling command executed by gcanvas)");
      Tcl_BackgroundError(interp);
    }
    Tcl_ResetResult(interp);
  }
  if (!yCmd.empty()) {
    std::string script = yCmd + " " + printScrollFractions(yo + inset, yo + h - inset, sy1, sy2);
    if (Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL) != TCL_OK) {
      Tcl_AddErrorInfo(interp, "\n    (vertical scrolling command executed by gcanvas)");
      Tcl_BackgroundError(interp);
    }
    Tcl_ResetResult(interp);
  }
  Tcl_Release(interp);
}

/*
 * xviewCmd --
 *     "xview" and "yview": the fractions, or moveto / scroll.
 */
int xviewCmd(GcanvasRecord *canvas, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], bool y) {
  Tk_Window tkwin = canvas->c.tkwin;
  int inset = canvas->inset;
  int origin = y ? canvas->yOrigin : canvas->xOrigin;
  int size = y ? Tk_Height(tkwin) : Tk_Width(tkwin);
  double s1 = y ? canvas->scrollY1 : canvas->scrollX1, s2 = y ? canvas->scrollY2 : canvas->scrollX2;
  int increment = y ? canvas->yScrollIncrement : canvas->xScrollIncrement;
  if (objc == 2) {
    std::string text = printScrollFractions(origin + inset, origin + size - inset, s1, s2);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    return TCL_OK;
  }
  double fraction;
  int count;
  int newOrigin = origin;
  switch (Tk_GetScrollInfoObj(interp, objc, objv, &fraction, &count)) {
  case TK_SCROLL_ERROR:
    return TCL_ERROR;
  case TK_SCROLL_MOVETO:
    newOrigin = roundToInt(s1 - inset + (s2 - s1) * fraction);
    break;
  case TK_SCROLL_PAGES:
    newOrigin = truncInt(origin + count * 0.9 * (size - 2 * inset));
    break;
  case TK_SCROLL_UNITS:
    if (increment > 0)
      newOrigin = truncInt(origin + static_cast<double>(count) * increment);
    else
      newOrigin = truncInt(origin + count * 0.1 * (size - 2 * inset));
    break;
  }
  if (y)
    setCanvasOrigin(canvas, canvas->xOrigin, newOrigin);
  else
    setCanvasOrigin(canvas, newOrigin, canvas->yOrigin);
  return TCL_OK;
}

/* "scan mark x y" and "scan dragto x y ?gain?". */
int scanCmd(GcanvasRecord *canvas, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  static const char *const options[] = {"mark", "dragto", nullptr};
  if (objc < 3) {
    Tcl_WrongNumArgs(interp, 2, objv, "mark|dragto x y ?dragGain?");
    return TCL_ERROR;
  }
  int index;
  if (Tcl_GetIndexFromObj(interp, objv[2], options, "scan option", 0, &index) != TCL_OK)
    return TCL_ERROR;
  if ((index == 0 && objc != 5) || (index == 1 && objc != 5 && objc != 6)) {
    Tcl_WrongNumArgs(interp, 3, objv, index == 0 ? "x y" : "x y ?gain?");
    return TCL_ERROR;
  }
  double x, y, gain = 10;
  if (Tcl_GetDoubleFromObj(interp, objv[3], &x) != TCL_OK ||
      Tcl_GetDoubleFromObj(interp, objv[4], &y) != TCL_OK ||
      (objc == 6 && Tcl_GetDoubleFromObj(interp, objv[5], &gain) != TCL_OK))
    return TCL_ERROR;
  if (index == 0) {
    canvas->scanX = truncInt(x);
    canvas->scanXOrigin = canvas->xOrigin;
    canvas->scanY = truncInt(y);
    canvas->scanYOrigin = canvas->yOrigin;
  } else {
    int nx = truncInt(canvas->scrollX1 +
                      (canvas->scanXOrigin - gain * (x - canvas->scanX) - canvas->scrollX1));
    int ny = truncInt(canvas->scrollY1 +
                      (canvas->scanYOrigin - gain * (y - canvas->scanY) - canvas->scrollY1));
    setCanvasOrigin(canvas, nx, ny);
  }
  return TCL_OK;
}

/* "redraw x0 y0 x1 y1": canvas pixels, backing re-rendered. */
int redrawCmd(GcanvasRecord *canvas, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc != 6) {
    Tcl_WrongNumArgs(interp, 2, objv, "x0 y0 x1 y1");
    return TCL_ERROR;
  }
  double v[4];
  for (int i = 0; i < 4; i++)
    if (Tcl_GetDoubleFromObj(interp, objv[2 + i], &v[i]) != TCL_OK) return TCL_ERROR;
  eventuallyRedrawArea(canvas, v[0], v[1], v[2], v[3], 1);
  return TCL_OK;
}

}  // namespace vesk
