/*
 * gimgdisplay.cpp --
 *     Drawing gimg images in widgets.  A master keeps its rendered view in
 *     a cached pixmap (and two 1-bit pixmaps for its masks) and copies the
 *     part Tk asks for, clipped by the mask; views are tiled on request;
 *     when no pixmap of the view's size can be had, only the requested
 *     area is rendered into temporary pixmaps.
 */
#include <algorithm>
#include <new>

#include "core/core.h"
#include "display/gimg.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Largest side of the view region (X coordinates are 16-bit). */
constexpr int kRegionLimit = 32700;

/* 1: views are never cached; every redraw renders the requested area. */
int gimgRenderMode = 0;

void renderAreaToTemporaries(GimgInstance *instance, GimgMaster *source, ViewPixmap *view,
                             ViewPixmap *frame, ViewPixmap *mask, int x, int y, int width,
                             int height);

/*
 * gimgRender --
 *     Draws one area of a gimg image into a drawable: renders the view
 *     when it is not valid, then copies the area through the mask clip.
 */
void gimgRender(GimgInstance *instance, Display *display, Drawable drawable, int imageX,
                int imageY, int width, int height, int drawableX, int drawableY) {
  GimgMaster *master = instance->master;
  if (!master || !master->master || width <= 0 || height <= 0) return;
  ViewPixmap *view = &master->viewPixmap;
  ViewPixmap *temporaries[3] = {nullptr, nullptr, nullptr};
  bool usedTemporaries = false;

  if (!master->viewValid) {
    GimgMaster *source = master->image ? master : findGimg(master->interp, master->mirrorName.c_str());
    if (!source || !source->image) return;
    if (source != master || (gimgRenderMode != 1 && getViewPixmap(view))) {
      makePixmap(source, instance, source->image, view, &master->framePixmap, &master->maskPixmap,
                 &master->xMap, &master->yMap, nullptr);
    } else {
      for (ViewPixmap *&t : temporaries) {
        t = newViewPixmap(display);
        if (!t) break;
      }
      if (temporaries[0] && temporaries[1] && temporaries[2]) {
        int x = imageX, y = imageY, w = width, h = height;
        if (x > 0) {
          x--;
          w += 2;
        }
        if (y > 0) {
          y--;
          h += 2;
        }
        renderAreaToTemporaries(instance, source, temporaries[0], temporaries[1],
                                temporaries[2], x, y, w, h);
        view = temporaries[0];
      }
      usedTemporaries = true;
    }
  }

  if (master->viewValid && view->pixmap) {
    GC gc = master->gc;
    const int sx = imageX - view->originX, sy = imageY - view->originY;
    if (master->maskState > 0) {
      if (master->maskPixmap.valid && master->maskPixmap.pixmap) XSetClipMask(display, gc, master->maskPixmap.pixmap);
      else if (master->clipRegion) XSetRegion(display, gc, master->clipRegion);
      else if (master->viewRegion && !usedTemporaries) XSetRegion(display, gc, master->viewRegion);
      XSetClipOrigin(display, gc, drawableX - sx, drawableY - sy);
    }
    if (master->maskState > 0 && master->maskOpaque && master->maskPixmap.valid &&
        master->maskPixmap.pixmap) {
      XSetForeground(display, gc, master->bgColor->pixel);
      if (master->framePixmap.valid && master->framePixmap.pixmap) {
        XSetClipMask(display, gc, master->framePixmap.pixmap);
        XCopyPlane(display, master->framePixmap.pixmap, drawable, gc, sx, sy,
                   static_cast<unsigned>(width), static_cast<unsigned>(height), drawableX,
                   drawableY, 1);
      } else {
        XSetClipMask(display, gc, None);
        XFillRectangle(display, drawable, gc, drawableX, drawableY, static_cast<unsigned>(width),
                       static_cast<unsigned>(height));
      }
      XSetClipMask(display, gc, master->maskPixmap.pixmap);
      XSetForeground(display, gc, master->fgColor->pixel);
    }
    XCopyArea(display, view->pixmap, drawable, gc, sx, sy, static_cast<unsigned>(width),
              static_cast<unsigned>(height), drawableX, drawableY);
    XSetClipMask(display, gc, None);
    XSetClipOrigin(display, gc, 0, 0);
  }
  if (master->viewPixmap.borrowed) master->viewValid = 0;

  if (usedTemporaries) {
    for (ViewPixmap *t : temporaries)
      if (t) deleteViewPixmap(t);
    master->viewValid = 0;
    freeViewPixmap(&master->viewPixmap);
    freeViewPixmap(&master->framePixmap);
    freeViewPixmap(&master->maskPixmap);
  }
}

/*
 * renderAreaToTemporaries --
 *     Renders one area of the view (in the displayed orientation) into
 *     three temporaries through slices of the axis maps.
 */
void renderAreaToTemporaries(GimgInstance *instance, GimgMaster *source, ViewPixmap *view,
                             ViewPixmap *frame, ViewPixmap *mask, int x, int y, int width,
                             int height) {
  GimgMaster *master = instance->master;
  const int W = master->viewPixmap.width, H = master->viewPixmap.height;
  Drawable window = master->viewPixmap.drawable;
  if (!window) {
    Tk_MakeWindowExist(master->tkwin);
    window = Tk_WindowId(master->tkwin);
  }
  setViewPixmapSize(view, window, width, height, master->depth, 0, 0, x, y);
  setViewPixmapSize(frame, window, width, height, 1, 0, 0, x, y);
  setViewPixmapSize(mask, window, width, height, 1, 0, 0, x, y);
  AxisMap *columns, *rows;
  if (master->rotate < 0) {
    columns = axisMapSlice(&master->xMap, H - y - 1 - height + 1, height);
    rows = axisMapSlice(&master->yMap, x, width);
  } else if (master->rotate > 0) {
    columns = axisMapSlice(&master->xMap, y, height);
    rows = axisMapSlice(&master->yMap, W - x - 1 - width + 1, width);
  } else {
    columns = axisMapSlice(&master->xMap, x, width);
    rows = axisMapSlice(&master->yMap, y, height);
  }
  if (columns && rows)
    makePixmap(source, instance, source->image, view, frame, mask, columns, rows, nullptr);
  deleteAxisMap(columns);
  deleteAxisMap(rows);
}

}  // namespace

/* The render mode of all gimg images. */
int getGimgRenderMode() { return gimgRenderMode; }
void setGimgRenderMode(int mode) { gimgRenderMode = mode; }

/* initViewPixmap -- no pixmap, size and depth 0, not valid, owned. */
void initViewPixmap(ViewPixmap *vp, Display *display) {
  *vp = ViewPixmap();
  vp->display = display;
}

/* newViewPixmap -- a new initialised record, or NULL. */
ViewPixmap *newViewPixmap(Display *display) {
  ViewPixmap *vp = new (std::nothrow) ViewPixmap;
  if (vp) initViewPixmap(vp, display);
  return vp;
}

void deleteViewPixmap(ViewPixmap *vp) {
  if (!vp) return;
  freeViewPixmap(vp);
  delete vp;
}

/*
 * setViewPixmapSize --
 *     Stores a view pixmap's geometry; a new size, depth or origin frees
 *     the pixmap.
 * Results:      1 when the pixmap was freed for a new geometry, else 0.
 */
int setViewPixmapSize(ViewPixmap *vp, Drawable drawable, int width, int height, int depth,
                      int destX, int destY, int originX, int originY) {
  vp->destX = destX;
  vp->destY = destY;
  vp->drawable = drawable;
  vp->valid = 0;
  if (width == vp->width && height == vp->height && depth == vp->depth &&
      originX == vp->originX && originY == vp->originY)
    return 0;
  freeViewPixmap(vp);
  vp->width = width;
  vp->height = height;
  vp->depth = depth;
  vp->originX = originX;
  vp->originY = originY;
  return 1;
}

/*
 * getViewPixmap --
 *     The pixmap of a view, made on first use.
 * Results:      the pixmap, or 0 when none can be made (borrowed records
 *     give their stored pixmap, possibly 0).
 */
Pixmap getViewPixmap(ViewPixmap *vp) {
  if (vp->pixmap || vp->borrowed) return vp->pixmap;
  if (!vp->display || !vp->drawable || vp->width <= 0 || vp->height <= 0 || vp->depth <= 0) {
    vp->valid = 0;
    return 0;
  }
  /* A pixmap the server refuses (too large) must not end the process. */
  int failed = 0;
  Tk_ErrorHandler handler = Tk_CreateErrorHandler(
      vp->display, -1, -1, -1,
      [](ClientData data, XErrorEvent *) {
        *static_cast<int *>(data) = 1;
        return 0;
      },
      &failed);
  Pixmap pixmap = Tk_GetPixmap(vp->display, vp->drawable, vp->width, vp->height, vp->depth);
  XSync(vp->display, False);
  Tk_DeleteErrorHandler(handler);
  if (failed && pixmap) {
    Tk_FreePixmap(vp->display, pixmap);
    pixmap = 0;
  }
  vp->pixmap = pixmap;
  vp->valid = pixmap ? 1 : 0;
  if (!pixmap && getDebugFlag())
    vesk_fprintf(stderr, "vpPixmap error in Tk_GetPixmap - fail to create a pixmap of %dx%dx%d\n",
                 vp->width, vp->height, vp->depth);
  return pixmap;
}

/* freeViewPixmap -- frees an owned pixmap; the field becomes 0. */
void freeViewPixmap(ViewPixmap *vp) {
  if (vp->pixmap && !vp->borrowed && vp->display) Tk_FreePixmap(vp->display, vp->pixmap);
  vp->pixmap = 0;
}

/* setViewPixmapBorrowed -- a changed flag frees the pixmap first. */
void setViewPixmapBorrowed(ViewPixmap *vp, int flag) {
  if (flag != vp->borrowed) freeViewPixmap(vp);
  vp->borrowed = flag;
}

/* isViewPixmapBorrowed -- 1 when the view pixmap is not owned by the record. */
int isViewPixmapBorrowed(const ViewPixmap *vp) { return vp->borrowed; }

/* setViewRegion -- the view pixmap's rectangle, each side cut to 32700. */
void setViewRegion(GimgMaster *master) {
  if (master->viewRegion) XDestroyRegion(master->viewRegion);
  master->viewRegion = XCreateRegion();
  XRectangle rect;
  rect.x = 0;
  rect.y = 0;
  rect.width = static_cast<unsigned short>(std::min(std::max(master->viewPixmap.width, 0), kRegionLimit));
  rect.height = static_cast<unsigned short>(std::min(std::max(master->viewPixmap.height, 0), kRegionLimit));
  XUnionRectWithRegion(&rect, master->viewRegion, master->viewRegion);
}

/*
 * gimgDisplay --
 *     Tk's displayProc: draws an area of the image, repeating the view
 *     over the area when tiling.
 */
void gimgDisplay(ClientData clientData, Display *display, Drawable drawable, int imageX,
                 int imageY, int width, int height, int drawableX, int drawableY) {
  GimgInstance *instance = static_cast<GimgInstance *>(clientData);
  GimgMaster *master = instance->master;
  if (!master) return;
  if (master->tile == 0) {
    gimgRender(instance, display, drawable, imageX, imageY, width, height, drawableX, drawableY);
    return;
  }
  int tw = master->xMap.count, th = master->yMap.count;
  if (master->rotate != 0) std::swap(tw, th);
  if (tw <= 0 || th <= 0) return;
  const int ax = imageX % tw, ay = imageY % th;
  int limitX = ax + width, limitY = ay + height;
  if (master->tile > 0 && instance->tkwin) {
    limitX = ax + Tk_Width(instance->tkwin);
    limitY = ay + Tk_Height(instance->tkwin);
  }
  const int coveredW = std::min(ax + width, limitX), coveredH = std::min(ay + height, limitY);
  for (int ty = 0; ty < coveredH; ty += th) {
    for (int tx = 0; tx < coveredW; tx += tw) {
      const int dx = drawableX + tx - ax, dy = drawableY + ty - ay;
      const int w = std::min(tw, coveredW - tx) + std::min(dx, 0);
      const int h = std::min(th, coveredH - ty) + std::min(dy, 0);
      if (w <= 0 || h <= 0) continue;
      gimgRender(instance, display, drawable, std::max(0, -dx), std::max(0, -dy), w, h,
                 std::max(dx, 0), std::max(dy, 0));
    }
  }
}

}  // namespace vesk
