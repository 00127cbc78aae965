/*
 * surface.h --
 *     Our surface layer for image widgets on X: a display context bound to
 *     a Tk window (its visual, depth and pixel layout), the window itself
 *     as the primary surface, and off-screen surfaces in the window's own
 *     pixel format (a buffer with pitch, bits per pixel and channel masks)
 *     that are locked for writing and copied, scaled, onto the window with
 *     XPutImage.
 */
#ifndef VESK_PLATFORM_SURFACE_H
#define VESK_PLATFORM_SURFACE_H

#include <tk.h>

#include <vector>

namespace vesk {

/* Results of the surface operations. */
enum SurfaceResult {
  DD_OK = 0,
  DDERR_GENERIC,
  DDERR_UNSUPPORTED,
  DDERR_INVALIDPARAMS,
  DDERR_INVALIDOBJECT,
  DDERR_INVALIDRECT,
  DDERR_OUTOFMEMORY,
  DDERR_SURFACELOST,
  DDERR_LOCKEDSURFACES,
};

/* The pixel layout of a surface. */
struct SurfaceFormat {
  int bitsPerPixel = 0;          /* 8, 16, 24 or 32 */
  unsigned long redMask = 0;     /* 0 on palette (8-bit) formats */
  unsigned long greenMask = 0;
  unsigned long blueMask = 0;
};

/*
 * The display context of one window: what the surfaces of that window are
 * made for.  Created once per widget; the window must exist.
 */
struct DDContext {
  Display *display = nullptr;
  Tk_Window tkwin = nullptr;
  Visual *visual = nullptr;
  int depth = 0;
  Colormap colormap = 0;
  SurfaceFormat format;
  GC gc = nullptr;               /* plain copy GC of the window's depth */
  int imageByteOrder = LSBFirst; /* how our buffers hold multi-byte pixels: the host's order */
};

/* The window as a surface: what a copy onto the screen targets. */
struct DDPrimary {
  DDContext *context = nullptr;
  int clipped = 0;               /* a clipper is attached: copies stay within the window */
};

/* An off-screen surface in the context's pixel format. */
struct DDSurface {
  int width = 0, height = 0;
  int pitch = 0;                 /* bytes of one row, a multiple of 4 */
  SurfaceFormat format;
  int locked = 0;
  std::vector<unsigned char> buffer;  /* height x pitch bytes */
};

/* The description of a locked or queried surface. */
struct SurfaceDesc {
  int width = 0, height = 0, pitch = 0;
  int mipMapCount = 0, alphaBitDepth = 0;
  SurfaceFormat format;
  unsigned char *bits = nullptr;  /* set by lockSurface only */
};

int createDDContext(Tk_Window tkwin, DDContext **out);
void freeDDContext(DDContext *context);
int createPrimarySurface(DDContext *context, DDPrimary **out);
void freePrimarySurface(DDPrimary *primary);
int createOffscreenSurface(DDContext *context, int width, int height, DDSurface **out);
void freeSurface(DDSurface *surface);
int getSurfaceDesc(const DDSurface *surface, SurfaceDesc *desc);
int lockSurface(DDSurface *surface, SurfaceDesc *desc);
int unlockSurface(DDSurface *surface);
void clearSurface(DDSurface *surface);
int bltToPrimary(DDPrimary *primary, const DDSurface *source, int srcWidth, int srcHeight);
int putPixelsOnWindow(DDContext *context, const unsigned char *bits, int pitch, int width,
                      int height);
const char *surfaceErrorName(int code);
int surfaceFormatOf(Display *display, Visual *visual, int depth, SurfaceFormat *format);

}  // namespace vesk

#endif
