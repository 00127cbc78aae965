/*
 * surface.cpp --
 *     The surface layer of the image widgets: display contexts in a
 *     window's visual, off-screen surfaces in its pixel format, and the
 *     scaled copy of a surface rectangle onto the window (nearest
 *     neighbour, then one XPutImage; Xlib splits large requests).
 *     Multi-byte pixels are held in the host's byte order and the XImage
 *     says so, so Xlib swaps them for a server of the other order.
 */
#include "platform/surface.h"

#include <stdint.h>
#include <string.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <new>

#include "display/colormap.h"

namespace vesk {

namespace {

int surfaceTrapError(ClientData clientData, XErrorEvent *) {
  *static_cast<int *>(clientData) = 1;
  return 0;
}

int hostByteOrder() {
  const uint16_t probe = 1;
  unsigned char first;
  memcpy(&first, &probe, 1);
  return first ? LSBFirst : MSBFirst;
}

/* Bits per pixel of the server's pixmap format for a depth; 0 when none. */
int bitsPerPixelOf(Display *display, int depth) {
  int count = 0;
  XPixmapFormatValues *formats = XListPixmapFormats(display, &count);
  int bits = 0;
  for (int i = 0; formats && i < count; i++)
    if (formats[i].depth == depth) bits = formats[i].bits_per_pixel;
  if (formats) XFree(formats);
  return bits;
}

/* Scaled copy of the source rectangle into a buffer of the target size. */
void scaleRows(const DDSurface *source, int srcWidth, int srcHeight, unsigned char *out,
               int outPitch, int width, int height) {
  const int bytes = source->format.bitsPerPixel / 8;
  std::vector<int> columns(static_cast<size_t>(width));
  for (int x = 0; x < width; x++)
    columns[x] = static_cast<int>(static_cast<int64_t>(x) * srcWidth / width) * bytes;
  for (int y = 0; y < height; y++) {
    const int sy = static_cast<int>(static_cast<int64_t>(y) * srcHeight / height);
    const unsigned char *__restrict row = &source->buffer[static_cast<size_t>(sy) * source->pitch];
    unsigned char *__restrict to = out + static_cast<size_t>(y) * outPitch;
    switch (bytes) {
    case 1:
      for (int x = 0; x < width; x++) to[x] = row[columns[x]];
      break;
    case 2:
      for (int x = 0; x < width; x++) memcpy(to + 2 * x, row + columns[x], 2);
      break;
    case 3:
      for (int x = 0; x < width; x++) memcpy(to + 3 * x, row + columns[x], 3);
      break;
    default:
      for (int x = 0; x < width; x++) memcpy(to + 4 * x, row + columns[x], 4);
      break;
    }
  }
}

}  // namespace

/*
 * surfaceFormatOf --
 *     The surface format of a visual at a depth: palette displays of 8
 *     bits per pixel, or true-colour displays of 16, 24 or 32.
 * Results:      DD_OK, or DDERR_UNSUPPORTED for any other layout.
 */
int surfaceFormatOf(Display *display, Visual *visual, int depth, SurfaceFormat *format) {
  const int bits = bitsPerPixelOf(display, depth);
  SurfaceFormat f;
  f.bitsPerPixel = bits;
  if (bits == 8 && colormapHasCells(visual)) {
    *format = f;
    return DD_OK;
  }
  if ((bits == 16 || bits == 24 || bits == 32) && visual->c_class == TrueColor) {
    f.redMask = visual->red_mask;
    f.greenMask = visual->green_mask;
    f.blueMask = visual->blue_mask;
    *format = f;
    return DD_OK;
  }
  return DDERR_UNSUPPORTED;
}

/*
 * createDDContext --
 *     The display context of a window: its visual, depth, colormap, pixel
 *     format and a copy GC.  The window is made to exist.
 */
int createDDContext(Tk_Window tkwin, DDContext **out) {
  *out = nullptr;
  if (!tkwin) return DDERR_INVALIDPARAMS;
  Tk_MakeWindowExist(tkwin);
  DDContext *context = new (std::nothrow) DDContext;
  if (!context) return DDERR_OUTOFMEMORY;
  context->display = Tk_Display(tkwin);
  context->tkwin = tkwin;
  context->visual = Tk_Visual(tkwin);
  context->depth = Tk_Depth(tkwin);
  context->colormap = Tk_Colormap(tkwin);
  context->imageByteOrder = hostByteOrder();
  int code = surfaceFormatOf(context->display, context->visual, context->depth, &context->format);
  if (code != DD_OK) {
    delete context;
    return code;
  }
  XGCValues values;
  values.graphics_exposures = False;
  context->gc = XCreateGC(context->display, Tk_WindowId(tkwin), GCGraphicsExposures, &values);
  *out = context;
  return DD_OK;
}

void freeDDContext(DDContext *context) {
  if (!context) return;
  if (context->gc) XFreeGC(context->display, context->gc);
  delete context;
}

int createPrimarySurface(DDContext *context, DDPrimary **out) {
  *out = nullptr;
  if (!context) return DDERR_INVALIDOBJECT;
  DDPrimary *primary = new (std::nothrow) DDPrimary;
  if (!primary) return DDERR_OUTOFMEMORY;
  primary->context = context;
  *out = primary;
  return DD_OK;
}

void freePrimarySurface(DDPrimary *primary) { delete primary; }

/*
 * createOffscreenSurface --
 *     A zero-filled surface of the context's format, rows padded to 4
 *     bytes.
 * Results:      DD_OK, DDERR_INVALIDPARAMS for a size below 1 or one
 *               whose buffer does not fit, DDERR_OUTOFMEMORY.
 */
int createOffscreenSurface(DDContext *context, int width, int height, DDSurface **out) {
  *out = nullptr;
  if (!context) return DDERR_INVALIDOBJECT;
  if (width < 1 || height < 1) return DDERR_INVALIDPARAMS;
  const int64_t pitch = (static_cast<int64_t>(width) * context->format.bitsPerPixel / 8 + 3) & ~3LL;
  if (pitch > 0x7fffffff || pitch * height > (int64_t{1} << 40)) return DDERR_INVALIDPARAMS;
  DDSurface *surface = new (std::nothrow) DDSurface;
  if (!surface) return DDERR_OUTOFMEMORY;
  try {
    surface->buffer.assign(static_cast<size_t>(pitch * height), 0);
  } catch (const std::bad_alloc &) {
    delete surface;
    return DDERR_OUTOFMEMORY;
  }
  surface->width = width;
  surface->height = height;
  surface->pitch = static_cast<int>(pitch);
  surface->format = context->format;
  *out = surface;
  return DD_OK;
}

void freeSurface(DDSurface *surface) { delete surface; }

int getSurfaceDesc(const DDSurface *surface, SurfaceDesc *desc) {
  if (!surface || !desc) return DDERR_INVALIDPARAMS;
  desc->width = surface->width;
  desc->height = surface->height;
  desc->pitch = surface->pitch;
  desc->mipMapCount = 0;
  desc->alphaBitDepth = 0;
  desc->format = surface->format;
  desc->bits = nullptr;
  return DD_OK;
}

/* Locks the whole surface for writing: its description with the buffer. */
int lockSurface(DDSurface *surface, SurfaceDesc *desc) {
  int code = getSurfaceDesc(surface, desc);
  if (code != DD_OK) return code;
  if (surface->locked) return DDERR_LOCKEDSURFACES;
  surface->locked = 1;
  desc->bits = surface->buffer.data();
  return DD_OK;
}

int unlockSurface(DDSurface *surface) {
  if (!surface) return DDERR_INVALIDPARAMS;
  surface->locked = 0;
  return DD_OK;
}

void clearSurface(DDSurface *surface) {
  if (surface) std::fill(surface->buffer.begin(), surface->buffer.end(), 0);
}

/*
 * putPixelsOnWindow --
 *     One XPutImage of a buffer in the context's format at the window's
 *     origin, X errors trapped.
 */
int putPixelsOnWindow(DDContext *context, const unsigned char *bits, int pitch, int width,
                      int height) {
  if (!context || !bits || width < 1 || height < 1) return DDERR_INVALIDPARAMS;
  Window window = Tk_WindowId(context->tkwin);
  if (!window) return DDERR_SURFACELOST;
  XImage *xi = XCreateImage(context->display, context->visual,
                            static_cast<unsigned>(context->depth), ZPixmap, 0, nullptr,
                            static_cast<unsigned>(width), static_cast<unsigned>(height), 32, pitch);
  if (!xi) return DDERR_GENERIC;
  if (xi->bits_per_pixel != context->format.bitsPerPixel) {
    XDestroyImage(xi);
    return DDERR_UNSUPPORTED;
  }
  xi->byte_order = context->imageByteOrder;
  xi->data = const_cast<char *>(reinterpret_cast<const char *>(bits));
  int failed = 0;
  Tk_ErrorHandler handler =
      Tk_CreateErrorHandler(context->display, -1, -1, -1, surfaceTrapError, &failed);
  XPutImage(context->display, window, context->gc, xi, 0, 0, 0, 0, static_cast<unsigned>(width),
            static_cast<unsigned>(height));
  XSync(context->display, False);
  Tk_DeleteErrorHandler(handler);
  xi->data = nullptr;
  XDestroyImage(xi);
  return failed ? DDERR_GENERIC : DD_OK;
}

/*
 * bltToPrimary --
 *     Copies the rectangle (0, 0, srcWidth, srcHeight) of a surface onto
 *     the whole window, scaled to fit.
 * Results:      DD_OK or the reason it failed.
 */
int bltToPrimary(DDPrimary *primary, const DDSurface *source, int srcWidth, int srcHeight) {
  if (!primary || !primary->context || !source) return DDERR_INVALIDOBJECT;
  if (source->locked) return DDERR_LOCKEDSURFACES;
  DDContext *context = primary->context;
  if (srcWidth < 1 || srcHeight < 1 || srcWidth > source->width || srcHeight > source->height)
    return DDERR_INVALIDRECT;
  const int width = Tk_Width(context->tkwin), height = Tk_Height(context->tkwin);
  if (width < 1 || height < 1) return DD_OK;
  if (width == source->width && height == source->height && srcWidth == width &&
      srcHeight == height)
    return putPixelsOnWindow(context, source->buffer.data(), source->pitch, width, height);
  const int pitch = (width * source->format.bitsPerPixel / 8 + 3) & ~3;
  std::vector<unsigned char> scaled;
  try {
    scaled.resize(static_cast<size_t>(pitch) * height);
  } catch (const std::bad_alloc &) {
    return DDERR_OUTOFMEMORY;
  }
  scaleRows(source, srcWidth, srcHeight, scaled.data(), pitch, width, height);
  return putPixelsOnWindow(context, scaled.data(), pitch, width, height);
}

/* The name a failed copy prints. */
const char *surfaceErrorName(int code) {
  switch (code) {
  case DDERR_UNSUPPORTED: return "DDERR_UNSUPPORTED";
  case DDERR_GENERIC: return "DDERR_GENERIC";
  case DDERR_INVALIDPARAMS: return "DDERR_INVALIDEPARAMS\n";
  case DDERR_INVALIDOBJECT: return "DDERR_INVALIDOBJECT";
  case DDERR_INVALIDRECT: return "DDERR_INVALIDRECT\n";
  case DDERR_LOCKEDSURFACES: return "DDERR_LOCKEDSURFACES";
  case DDERR_SURFACELOST: return "DDERR_SURFACELOST";
  default: return "Unknown Blt error";
  }
}

}  // namespace vesk
