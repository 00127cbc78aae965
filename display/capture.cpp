/*
 * capture.cpp --
 *     Copies of what is on the screen, in a window or in a pixmap: as new
 *     pixmaps, and as RGB pixels for RAM images and the clipboard.  A Tk
 *     toplevel is taken whole with the frame around it, as the screen
 *     shows it; X errors of unmapped or mismatched drawables are trapped.
 */
#include "display/capture.h"

#include <X11/Xutil.h>
#include <stdlib.h>

#include <algorithm>
#include <unordered_map>

#include "display/colormap.h"
#include "display/colortab.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

int captureTrapError(ClientData clientData, XErrorEvent *) {
  *static_cast<int *>(clientData) = 1;
  return 0;
}

/* The ancestor of a window that is a child of the root: its frame. */
Window frameOf(Display *display, Window window, Window *rootOut) {
  for (;;) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return window;
    if (children) XFree(children);
    *rootOut = root;
    if (parent == root || parent == 0) return window;
    window = parent;
  }
}

/* A frame's rectangle on its screen, border included, clipped to the screen. */
bool frameRect(Display *display, Window frame, Window root, XRectangle *rect) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, frame, &attributes)) return false;
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(display, frame, root, 0, 0, &x, &y, &child);
  x -= attributes.border_width;
  y -= attributes.border_width;
  int w = attributes.width + 2 * attributes.border_width;
  int h = attributes.height + 2 * attributes.border_width;
  Screen *screen = attributes.screen;
  int x0 = std::max(x, 0), y0 = std::max(y, 0);
  int x1 = std::min(x + w, WidthOfScreen(screen)), y1 = std::min(y + h, HeightOfScreen(screen));
  if (x1 <= x0 || y1 <= y0) return false;
  rect->x = static_cast<short>(x0);
  rect->y = static_cast<short>(y0);
  rect->width = static_cast<unsigned short>(x1 - x0);
  rect->height = static_cast<unsigned short>(y1 - y0);
  return true;
}

int maskShift(unsigned long mask) {
  int shift = 0;
  while (mask && !((mask >> shift) & 1)) shift++;
  return shift;
}

uint32_t maskToByte(unsigned long pixel, unsigned long mask) {
  if (!mask) return 0;
  int shift = maskShift(mask);
  unsigned long max = mask >> shift;
  unsigned long v = (pixel & mask) >> shift;
  return static_cast<uint32_t>((v * 255 + max / 2) / max);
}

}  // namespace

/*
 * captureSourceRect --
 *     Where a capture of (x, y, width, height) of a drawable reads from:
 *     the root window itself for a rectangle of the screen; the screen
 *     under the whole frame for a Tk toplevel (the rectangle asked for is
 *     not used); the drawable otherwise.
 * Results:      1, or 0 when nothing is left to copy.
 */
int captureSourceRect(Display *display, Drawable drawable, int x, int y, int width, int height,
                      Drawable *source, XRectangle *rect) {
  for (int s = 0; s < ScreenCount(display); s++) {
    if (drawable == RootWindow(display, s)) {
      int x0 = std::max(x, 0), y0 = std::max(y, 0);
      int x1 = std::min(x + width, DisplayWidth(display, s));
      int y1 = std::min(y + height, DisplayHeight(display, s));
      if (x1 <= x0 || y1 <= y0) return 0;
      *source = drawable;
      *rect = {static_cast<short>(x0), static_cast<short>(y0),
               static_cast<unsigned short>(x1 - x0), static_cast<unsigned short>(y1 - y0)};
      return 1;
    }
  }
  Tk_Window tkwin = Tk_IdToWindow(display, drawable);
  if (tkwin && Tk_IsTopLevel(tkwin)) {
    Window root = 0;
    Window frame = frameOf(display, drawable, &root);
    if (!root || !frameRect(display, frame, root, rect)) return 0;
    *source = root;
    return 1;
  }
  if (width <= 0 || height <= 0) return 0;
  *source = drawable;
  *rect = {static_cast<short>(x), static_cast<short>(y), static_cast<unsigned short>(width),
           static_cast<unsigned short>(height)};
  return 1;
}

/*
 * getDrawableImage --
 *     XGetImage of a rectangle, with X errors (an unmapped window, a
 *     rectangle outside the drawable) trapped.
 * Results:      the image (XDestroyImage frees it), or NULL.
 */
XImage *getDrawableImage(Display *display, Drawable drawable, int x, int y, int width,
                         int height) {
  if (!drawable || width <= 0 || height <= 0) return nullptr;
  int failed = 0;
  Tk_ErrorHandler handler = Tk_CreateErrorHandler(display, -1, -1, -1, captureTrapError, &failed);
  XImage *image = XGetImage(display, drawable, x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  XSync(display, False);
  Tk_DeleteErrorHandler(handler);
  if (failed && image) {
    XDestroyImage(image);
    image = nullptr;
  }
  return image;
}

/*
 * ximageToRgb --
 *     The colours of an image's pixels: through the channel masks of a
 *     true-colour visual, through the colormap's cells otherwise; depth 1
 *     is black and white.
 */
int ximageToRgb(Display *display, Colormap colormap, XImage *image, RgbImage &out) {
  if (!image) return 0;
  Visual *visual = colormapVisual(display, colormap);
  out.width = image->width;
  out.height = image->height;
  out.pixels.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height), 0);
  std::vector<XColor> cells;
  bool masks = image->depth > 1 && !colormapHasCells(visual);
  if (image->depth > 1 && !masks) {
    cells.resize(kMaxColorEntries);
    cells.resize(static_cast<size_t>(
        queryPaletteColors(display, colormap, cells.data(), kMaxColorEntries)));
  }
  size_t i = 0;
  for (int y = 0; y < image->height; y++) {
    for (int x = 0; x < image->width; x++, i++) {
      unsigned long p = XGetPixel(image, x, y);
      uint32_t rgb = 0;
      if (image->depth == 1) {
        rgb = p ? 0xffffff : 0;
      } else if (masks) {
        rgb = (maskToByte(p, visual->red_mask) << 16) | (maskToByte(p, visual->green_mask) << 8) |
              maskToByte(p, visual->blue_mask);
      } else if (p < cells.size()) {
        rgb = (static_cast<uint32_t>(cells[p].red >> 8) << 16) |
              (static_cast<uint32_t>(cells[p].green >> 8) << 8) | (cells[p].blue >> 8);
      }
      out.pixels[i] = rgb;
    }
  }
  return 1;
}

/* The RGB pixels of a capture (see captureSourceRect); 0 on failure. */
int captureDrawableRgb(Display *display, Drawable drawable, Colormap colormap, int x, int y,
                       int width, int height, RgbImage &out) {
  Drawable source;
  XRectangle rect;
  if (!captureSourceRect(display, drawable, x, y, width, height, &source, &rect)) return 0;
  XImage *image = getDrawableImage(display, source, rect.x, rect.y, rect.width, rect.height);
  if (!image) return 0;
  int ok = ximageToRgb(display, colormap, image, out);
  XDestroyImage(image);
  return ok;
}

/*
 * makePixmapFromDrawable --
 *     A new Tk pixmap holding a capture of the drawable (children included).
 * Results:      the pixmap, or None with a message on the error stream.
 */
Pixmap makePixmapFromDrawable(Display *display, Drawable drawable, Colormap /*colormap*/, int x,
                              int y, int width, int height) {
  Drawable source;
  XRectangle rect;
  Window root;
  int gx, gy;
  unsigned gw, gh, border, depth;
  if (!drawable || !captureSourceRect(display, drawable, x, y, width, height, &source, &rect) ||
      !XGetGeometry(display, source, &root, &gx, &gy, &gw, &gh, &border, &depth)) {
    vesk_fprintf(stderr, "Error in makeBitmapFromDrawable.\n");
    return None;
  }
  Pixmap pixmap = Tk_GetPixmap(display, source, rect.width, rect.height, static_cast<int>(depth));
  XGCValues values;
  values.subwindow_mode = IncludeInferiors;
  values.graphics_exposures = False;
  GC gc = XCreateGC(display, pixmap, GCSubwindowMode | GCGraphicsExposures, &values);
  int failed = 0;
  Tk_ErrorHandler handler = Tk_CreateErrorHandler(display, -1, -1, -1, captureTrapError, &failed);
  XCopyArea(display, source, pixmap, gc, rect.x, rect.y, rect.width, rect.height, 0, 0);
  XSync(display, False);
  Tk_DeleteErrorHandler(handler);
  XFreeGC(display, gc);
  if (failed) {
    Tk_FreePixmap(display, pixmap);
    vesk_fprintf(stderr, "Error in makeBitmapFromDrawable.\n");
    return None;
  }
  return pixmap;
}

/*
 * getDrawableDepth --
 *     The depth of a drawable (a pixmap's own, a window's own); the
 *     default screen's depth when the drawable cannot be asked.
 */
int getDrawableDepth(Display *display, Drawable drawable) {
  Window root;
  int x, y;
  unsigned width, height, border, depth = 0;
  int failed = 0;
  if (drawable) {
    Tk_ErrorHandler handler = Tk_CreateErrorHandler(display, -1, -1, -1, captureTrapError, &failed);
    if (!XGetGeometry(display, drawable, &root, &x, &y, &width, &height, &border, &depth)) failed = 1;
    XSync(display, False);
    Tk_DeleteErrorHandler(handler);
  }
  if (!drawable || failed || depth == 0) return DefaultDepth(display, DefaultScreen(display));
  return static_cast<int>(depth);
}

/*
 * duplicateBitmap --
 *     A copy of a pixmap made through its bits: the pixels are read into
 *     memory and put into a new Tk pixmap of the same size and depth.
 * Results:      the copy, or None (with a message when the bits cannot be
 *     had).
 */
Pixmap duplicateBitmap(Display *display, Pixmap bitmap) {
  Window root;
  int x, y;
  unsigned width = 0, height = 0, border, depth = 0;
  int failed = 0;
  if (!bitmap) return None;
  Tk_ErrorHandler handler = Tk_CreateErrorHandler(display, -1, -1, -1, captureTrapError, &failed);
  if (!XGetGeometry(display, bitmap, &root, &x, &y, &width, &height, &border, &depth)) failed = 1;
  XSync(display, False);
  Tk_DeleteErrorHandler(handler);
  if (failed || width == 0 || height == 0) return None;
  XImage *bits = getDrawableImage(display, bitmap, 0, 0, static_cast<int>(width),
                                  static_cast<int>(height));
  if (!bits) {
    const long widthBytes = depth == 1 ? (static_cast<long>(width) + 15) / 16 * 2
                                       : static_cast<long>(width) * ((depth + 7) / 8);
    vesk_fprintf(stderr, "Error in duplicateBitmap: malloc size: %ld h: %u w: %ld\n",
                 widthBytes * static_cast<long>(height), height, widthBytes);
    return None;
  }
  Pixmap copy = Tk_GetPixmap(display, root, static_cast<int>(width), static_cast<int>(height),
                             static_cast<int>(depth));
  GC gc = XCreateGC(display, copy, 0, nullptr);
  XPutImage(display, copy, gc, bits, 0, 0, 0, 0, width, height);
  XFreeGC(display, gc);
  XDestroyImage(bits);
  return copy;
}

/*
 * makePixmapFromRgb --
 *     A new Tk pixmap of the window's depth showing RGB pixels: computed
 *     pixel values on true-colour visuals, the nearest existing colormap
 *     cell otherwise (no colour is allocated).
 */
Pixmap makePixmapFromRgb(Tk_Window tkwin, const RgbImage &image) {
  if (image.width <= 0 || image.height <= 0) return None;
  Display *display = Tk_Display(tkwin);
  Visual *visual = Tk_Visual(tkwin);
  int depth = Tk_Depth(tkwin);
  XImage *ximage = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                                nullptr, static_cast<unsigned>(image.width),
                                static_cast<unsigned>(image.height), 32, 0);
  if (!ximage) return None;
  ximage->data = static_cast<char *>(
      malloc(static_cast<size_t>(ximage->bytes_per_line) * static_cast<size_t>(image.height)));
  if (!ximage->data) {
    XDestroyImage(ximage);
    return None;
  }
  std::vector<XColor> cells;
  bool computed = !colormapHasCells(visual);
  if (!computed) {
    cells.resize(kMaxColorEntries);
    cells.resize(static_cast<size_t>(
        queryPaletteColors(display, Tk_Colormap(tkwin), cells.data(), kMaxColorEntries)));
  }
  std::unordered_map<uint32_t, unsigned long> nearest;
  size_t i = 0;
  for (int y = 0; y < image.height; y++) {
    for (int x = 0; x < image.width; x++, i++) {
      uint32_t rgb = image.pixels[i];
      unsigned short r = static_cast<unsigned short>(((rgb >> 16) & 0xff) << 8);
      unsigned short g = static_cast<unsigned short>(((rgb >> 8) & 0xff) << 8);
      unsigned short b = static_cast<unsigned short>((rgb & 0xff) << 8);
      unsigned long pixel = 0;
      if (computed) {
        pixel = trueColorPixel(visual, r, g, b);
      } else {
        auto found = nearest.find(rgb);
        if (found != nearest.end()) {
          pixel = found->second;
        } else {
          double best = 12884901888.0;
          for (const XColor &cell : cells) {
            double dr = cell.red - static_cast<double>(r), dg = cell.green - static_cast<double>(g),
                   db = cell.blue - static_cast<double>(b);
            double d = dr * dr + dg * dg + db * db;
            if (d < best) {
              best = d;
              pixel = cell.pixel;
            }
          }
          nearest[rgb] = pixel;
        }
      }
      XPutPixel(ximage, x, y, pixel);
    }
  }
  Pixmap pixmap = Tk_GetPixmap(display, RootWindowOfScreen(Tk_Screen(tkwin)), image.width,
                               image.height, depth);
  GC gc = XCreateGC(display, pixmap, 0, nullptr);
  XPutImage(display, pixmap, gc, ximage, 0, 0, 0, 0, static_cast<unsigned>(image.width),
            static_cast<unsigned>(image.height));
  XFreeGC(display, gc);
  XDestroyImage(ximage);
  return pixmap;
}

/*
 * getToplevelRect --
 *     The screen rectangle of the frame that holds the toplevel of a Tk
 *     window.
 * Results:      TCL_OK and the rectangle; TCL_ERROR with Tk's message for
 *               a path that names no window.
 */
int getToplevelRect(Tcl_Interp *interp, const char *pathName, int *x, int *y, int *width,
                    int *height) {
  Tk_Window tkwin = Tk_NameToWindow(interp, pathName, Tk_MainWindow(interp));
  if (!tkwin) return TCL_ERROR;
  while (!Tk_IsTopLevel(tkwin) && Tk_Parent(tkwin)) tkwin = Tk_Parent(tkwin);
  Tk_MakeWindowExist(tkwin);
  Display *display = Tk_Display(tkwin);
  Window root = 0;
  Window frame = frameOf(display, Tk_WindowId(tkwin), &root);
  XRectangle rect{0, 0, 0, 0};
  if (root) frameRect(display, frame, root, &rect);
  *x = rect.x;
  *y = rect.y;
  *width = rect.width;
  *height = rect.height;
  return TCL_OK;
}

}  // namespace vesk
