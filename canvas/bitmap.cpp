/*
 * bitmap.cpp --
 *     The "bitmap" item type: a two-colour Tk bitmap at a world anchor
 *     point, kept at its pixel size at every scale, with per-state
 *     bitmaps and colours, an empty background meaning transparent, and
 *     PostScript as an image mask.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "canvas/gcanvas.h"

namespace vesk {

namespace {

struct GcanvasBitmapItem {
  GcanvasItem header;
  double x, y;  /* anchor point, world units */
  Tk_Anchor anchor;
  Pixmap bitmap, activeBitmap, disabledBitmap;
  XColor *fgColor, *activeFgColor, *disabledFgColor;
  XColor *bgColor, *activeBgColor, *disabledBgColor;  /* NULL: 0 bits transparent */
  GC gc;
};

#define BITMAP_OFFSET(field) static_cast<int>(offsetof(GcanvasBitmapItem, field))

Tk_ConfigSpec bitmapConfigSpecs[] = {
    {TK_CONFIG_COLOR, "-activebackground", nullptr, nullptr, nullptr,
     BITMAP_OFFSET(activeBgColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-activebitmap", nullptr, nullptr, nullptr, BITMAP_OFFSET(activeBitmap),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-activeforeground", nullptr, nullptr, nullptr,
     BITMAP_OFFSET(activeFgColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_ANCHOR, "-anchor", nullptr, nullptr, "center", BITMAP_OFFSET(anchor),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_COLOR, "-background", nullptr, nullptr, nullptr, BITMAP_OFFSET(bgColor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-bitmap", nullptr, nullptr, nullptr, BITMAP_OFFSET(bitmap),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-disabledbackground", nullptr, nullptr, nullptr,
     BITMAP_OFFSET(disabledBgColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BITMAP, "-disabledbitmap", nullptr, nullptr, nullptr,
     BITMAP_OFFSET(disabledBitmap), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-disabledforeground", nullptr, nullptr, nullptr,
     BITMAP_OFFSET(disabledFgColor), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_COLOR, "-foreground", nullptr, nullptr, "black", BITMAP_OFFSET(fgColor), 0,
     nullptr},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, BITMAP_OFFSET(header.state),
     TK_CONFIG_NULL_OK, &stateOption},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

GcanvasBitmapItem *asBitmap(GcanvasItem *item) {
  return reinterpret_cast<GcanvasBitmapItem *>(item);
}

/* The bitmap and colours of the item's state. */
struct BitmapLook {
  Pixmap bitmap;
  XColor *fg, *bg;
};

BitmapLook bitmapLook(ItemContainer *c, GcanvasBitmapItem *b) {
  BitmapLook look{b->bitmap, b->fgColor, b->bgColor};
  if (itemIsCurrent(c, &b->header)) {
    if (b->activeBitmap != None) look.bitmap = b->activeBitmap;
    if (b->activeFgColor) look.fg = b->activeFgColor;
    if (b->activeBgColor) look.bg = b->activeBgColor;
  } else if (effectiveState(c, &b->header) == STATE_DISABLED) {
    if (b->disabledBitmap != None) look.bitmap = b->disabledBitmap;
    if (b->disabledFgColor) look.fg = b->disabledFgColor;
    if (b->disabledBgColor) look.bg = b->disabledBgColor;
  }
  return look;
}

void computeBitmapBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasBitmapItem *b = asBitmap(item);
  int x = pixelTrunc(b->x * c->mx - c->xOffset);
  int y = pixelTrunc(b->y * c->my - c->yOffset);
  BitmapLook look = bitmapLook(c, b);
  item->xMargin = item->yMargin = 0;
  if (effectiveState(c, item) == STATE_HIDDEN || look.bitmap == None) {
    item->x1 = item->x2 = x;
    item->y1 = item->y2 = y;
    return;
  }
  int w, h, dx, dy;
  Tk_SizeOfBitmap(Tk_Display(canvasTkwin(c)), look.bitmap, &w, &h);
  anchorOffset(b->anchor, w, h, &dx, &dy);
  x -= dx;
  y -= dy;
  item->x1 = x;
  item->y1 = y;
  item->x2 = static_cast<double>(x) + w;
  item->y2 = static_cast<double>(y) + h;
}

int bitmapCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  GcanvasBitmapItem *b = asBitmap(item);
  if (pointItemCoords(interp, objc, objv, c, &b->x, &b->y) != TCL_OK) return TCL_ERROR;
  if (objc > 0) computeBitmapBbox(c, item);
  return TCL_OK;
}

int configureBitmap(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                    Tcl_Obj *const objv[], int flags) {
  GcanvasBitmapItem *b = asBitmap(item);
  Tk_Window tkwin = canvasTkwin(c);
  if (Tk_ConfigureWidget(interp, tkwin, bitmapConfigSpecs, objc, objWords(objv),
                         reinterpret_cast<char *>(b), flags | TK_CONFIG_OBJS) != TCL_OK)
    return TCL_ERROR;
  setStateDependant(item, b->activeFgColor || b->activeBgColor || b->activeBitmap != None);
  BitmapLook look = bitmapLook(c, b);
  if (effectiveState(c, item) != STATE_HIDDEN && look.bitmap != None) {
    XGCValues values;
    unsigned long mask = GCForeground;
    values.foreground = look.fg ? look.fg->pixel : BlackPixelOfScreen(Tk_Screen(tkwin));
    if (look.bg) {
      values.background = look.bg->pixel;
      mask |= GCBackground;
    } else {
      values.clip_mask = look.bitmap;
      mask |= GCClipMask;
    }
    replaceGC(Tk_Display(tkwin), &b->gc, Tk_GetGC(tkwin, mask, &values));
  }
  computeBitmapBbox(c, item);
  return TCL_OK;
}

void deleteBitmap(ItemContainer *, GcanvasItem *item, Display *display) {
  GcanvasBitmapItem *b = asBitmap(item);
  Tk_FreeOptions(bitmapConfigSpecs, reinterpret_cast<char *>(b), display, 0);
  freeItemGCs(display, {&b->gc});
}

int createBitmap(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  GcanvasBitmapItem *b = asBitmap(item);
  int coords = createCoordCount(interp, c, item, objc, objv, 2, "x y");
  if (coords < 0) return TCL_ERROR;
  b->x = b->y = 0;
  b->anchor = TK_ANCHOR_CENTER;
  b->bitmap = b->activeBitmap = b->disabledBitmap = None;
  b->fgColor = b->activeFgColor = b->disabledFgColor = nullptr;
  b->bgColor = b->activeBgColor = b->disabledBgColor = nullptr;
  b->gc = None;
  return createFromWords(interp, c, item, objc, objv, coords);
}

/* Copies the part of the bitmap inside the redraw area through its GC. */
void displayBitmap(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable,
                   int x, int y, int width, int height) {
  GcanvasBitmapItem *b = asBitmap(item);
  BitmapLook look = bitmapLook(c, b);
  if (drawable == None || look.bitmap == None || b->gc == None) return;
  GcanvasRecord *canvas = canvasOf(c);
  int bx1 = saturatingInt(item->x1), by1 = saturatingInt(item->y1);
  int bx2 = saturatingInt(item->x2), by2 = saturatingInt(item->y2);
  /* The bitmap's span from b1 to b2 met by the area's from a over size: offset and length. */
  auto span = [](int a, int size, int b1, int b2, int *offset, int *length) {
    if (a > b1) {
      *offset = a - b1;
      *length = b2 - a;
    } else {
      *offset = 0;
      *length = a + size < b2 ? a + size - b1 : b2 - b1;
    }
  };
  int bmapX, bmapY, bmapWidth, bmapHeight;
  span(x, width, bx1, bx2, &bmapX, &bmapWidth);
  span(y, height, by1, by2, &bmapY, &bmapHeight);
  if (bmapWidth <= 0 || bmapHeight <= 0) return;
  int dx = toDrawableCoord(canvas->drawableXOrigin, static_cast<double>(bx1) + bmapX);
  int dy = toDrawableCoord(canvas->drawableYOrigin, static_cast<double>(by1) + bmapY);
  XSetClipOrigin(display, b->gc, dx - bmapX, dy - bmapY);
  XCopyPlane(display, look.bitmap, drawable, b->gc, bmapX, bmapY,
             static_cast<unsigned>(bmapWidth), static_cast<unsigned>(bmapHeight), dx, dy, 1);
  XSetClipOrigin(display, b->gc, 0, 0);
}

double bitmapToPoint(ItemContainer *, GcanvasItem *item, double *p) {
  return itemBoxToPoint(item, p);
}

int bitmapToArea(ItemContainer *c, GcanvasItem *item, double *r) {
  if (effectiveState(c, item) == STATE_HIDDEN) return -1;
  double ordered[4] = {std::min(r[0], r[2]), std::min(r[1], r[3]), std::max(r[0], r[2]),
                       std::max(r[1], r[3])};
  return itemBoxToArea(item, ordered);
}

void scaleBitmap(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasBitmapItem *b = asBitmap(item);
  scaleWorldPoint(&b->x, &b->y, ox, oy, sx, sy);
  computeBitmapBbox(c, item);
}

void translateBitmap(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasBitmapItem *b = asBitmap(item);
  b->x += dx;
  b->y += dy;
  computeBitmapBbox(c, item);
}

/* The normal bitmap as an image mask over an optional background rectangle. */
int bitmapToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int prepass) {
  GcanvasBitmapItem *b = asBitmap(item);
  if (b->bitmap == None) return TCL_OK;
  double x = b->x * c->mx - c->xOffset;
  double y = canvasPsY(c, b->y * c->my - c->yOffset);
  int w, h;
  Tk_SizeOfBitmap(Tk_Display(canvasTkwin(c)), b->bitmap, &w, &h);
  psAnchorCorner(b->anchor, w, h, &x, &y);
  char buffer[300];
  if (b->bgColor) {
    snprintf(buffer, sizeof buffer, "%.15g %.15g moveto %d 0 rlineto 0 %d rlineto %d %s\n", x, y,
             w, h, -w, "0 rlineto closepath");
    Tcl_AppendResult(interp, buffer, nullptr);
    if (canvasPsColor(interp, c, b->bgColor) != TCL_OK) return TCL_ERROR;
    Tcl_AppendResult(interp, "fill\n", nullptr);
  }
  if (b->fgColor) {
    if (canvasPsColor(interp, c, b->fgColor) != TCL_OK) return TCL_ERROR;
    if (w > 60000) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "can't generate Postscript",
                       " for bitmaps more than 60000 pixels wide", nullptr);
      return TCL_ERROR;
    }
    int rowsAtOnce = w > 0 ? 60000 / w : 1;
    if (rowsAtOnce < 1) rowsAtOnce = 1;
    snprintf(buffer, sizeof buffer, "%.15g %.15g translate\n", x, y + h);
    Tcl_AppendResult(interp, buffer, nullptr);
    for (int row = 0; row < h; row += rowsAtOnce) {
      int rows = std::min(rowsAtOnce, h - row);
      snprintf(buffer, sizeof buffer, "0 -%.15g translate\n%d %d true matrix {\n",
               static_cast<double>(rows), w, rows);
      Tcl_AppendResult(interp, buffer, nullptr);
      if (canvasPsBitmap(interp, c, b->bitmap, 0, row, w, rows) != TCL_OK) return TCL_ERROR;
      Tcl_AppendResult(interp, "\n} imagemask\n", nullptr);
    }
  }
  (void)prepass;
  return TCL_OK;
}

}  // namespace

GcanvasItemType bitmapType = {
    "bitmap", sizeof(GcanvasBitmapItem), createBitmap, bitmapConfigSpecs, configureBitmap,
    bitmapCoords, deleteBitmap, displayBitmap, TK_ITEM_OBJS, bitmapToPoint, bitmapToArea,
    bitmapToPostscript, scaleBitmap, translateBitmap, nullptr, nullptr, nullptr, nullptr, nullptr,
    computeBitmapBbox, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace vesk
