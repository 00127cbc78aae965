/*
 * colormap.cpp --
 *     Colormap queries.  A colormap's "palette" is its cells: on visuals
 *     with indexed cells (pseudo-colour, grey scale and their static
 *     forms) cell i is read as pixel i; true- and direct-colour visuals
 *     have no palette to read, and their pixel values follow from the
 *     visual's channel masks.
 */
#include "display/colormap.h"

#include <algorithm>
#include <vector>

#include "display/colortab.h"

namespace vesk {

namespace {

int colormapTrapError(ClientData clientData, XErrorEvent *) {
  *static_cast<int *>(clientData) = 1;
  return 0;
}

/*
 * scaleIntoMask --
 *     The nearest level of a channel mask for a 16-bit value whose top
 *     byte is the colour byte (the low byte is ignored, so byte x 256 and
 *     byte x 257 give the same level, and 255 gives the top level).
 */
unsigned long scaleIntoMask(unsigned long mask, unsigned short value) {
  if (!mask) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) shift++;
  int bits = 0;
  while ((mask >> (shift + bits)) & 1) bits++;
  unsigned long max = bits >= 32 ? 0xffffffffUL : (1UL << bits) - 1;
  unsigned long byte = value >> 8;
  unsigned long level = (byte * max + 127) / 255;
  return (level << shift) & mask;
}

}  // namespace

void maskShift(unsigned long mask, int *shift, int *bits) {
  *shift = 0;
  *bits = 0;
  if (!mask) return;
  while (!(mask & 1)) {
    mask >>= 1;
    (*shift)++;
  }
  while (mask & 1) {
    mask >>= 1;
    (*bits)++;
  }
}

/*
 * colormapVisual --
 *     The visual of a colormap: that of the screen whose default colormap
 *     it is, else the default visual of the default screen (the only other
 *     colormaps this library meets are made by Tk on that visual).
 */
Visual *colormapVisual(Display *display, Colormap colormap) {
  for (int s = 0; s < ScreenCount(display); s++) {
    if (DefaultColormap(display, s) == colormap) return DefaultVisual(display, s);
  }
  return DefaultVisual(display, DefaultScreen(display));
}

/* Non-zero when the visual's pixels index colormap cells. */
int colormapHasCells(Visual *visual) {
  int cls = visual->c_class;
  return cls == PseudoColor || cls == GrayScale || cls == StaticColor || cls == StaticGray;
}

/*
 * trueColorPixel --
 *     The pixel value of a 16-bit-per-channel colour on a true-colour
 *     visual, computed as the server would pick it: the nearest level of
 *     each channel placed in its mask.
 */
unsigned long trueColorPixel(const Visual *visual, unsigned short red, unsigned short green,
                             unsigned short blue) {
  return scaleIntoMask(visual->red_mask, red) | scaleIntoMask(visual->green_mask, green) |
         scaleIntoMask(visual->blue_mask, blue);
}

/*
 * queryPaletteColors --
 *     Reads the first min(n, cell count, 256) cells of the colormap into
 *     colors, pixel i in record i.
 * Results:      the number of records filled; 0 for a visual without
 *               cells.
 */
int queryPaletteColors(Display *display, Colormap colormap, XColor *colors, int n) {
  Visual *visual = colormapVisual(display, colormap);
  if (!colors || n <= 0 || !colormapHasCells(visual)) return 0;
  int count = std::min(std::min(n, visual->map_entries), kMaxColorEntries);
  for (int i = 0; i < count; i++) {
    colors[i].pixel = static_cast<unsigned long>(i);
    colors[i].flags = DoRed | DoGreen | DoBlue;
  }
  int failed = 0;
  Tk_ErrorHandler handler =
      Tk_CreateErrorHandler(display, -1, -1, -1, colormapTrapError, &failed);
  XQueryColors(display, colormap, colors, count);
  XSync(display, False);
  Tk_DeleteErrorHandler(handler);
  return failed ? 0 : count;
}

/*
 * queryPaletteColor --
 *     Sets the channels of one XColor from its pixel.
 * Results:      1 when set; 0 (record unchanged) for a pixel the
 *               colormap does not hold.
 */
int queryPaletteColor(Display *display, Colormap colormap, XColor *color) {
  Visual *visual = colormapVisual(display, colormap);
  if (!colormapHasCells(visual) && visual->c_class != DirectColor) {
    unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
    unsigned short *channels[3] = {&color->red, &color->green, &color->blue};
    for (int c = 0; c < 3; c++) {
      unsigned long mask = masks[c];
      if (!mask) return 0;
      int shift = 0, bits = 0;
      while (!((mask >> shift) & 1)) shift++;
      while ((mask >> (shift + bits)) & 1) bits++;
      unsigned long v = (color->pixel & mask) >> shift;
      unsigned long max = (1UL << bits) - 1;
      *channels[c] = static_cast<unsigned short>((v * 65535UL + max / 2) / max);
    }
    return 1;
  }
  XColor query = *color;
  int failed = 0;
  Tk_ErrorHandler handler =
      Tk_CreateErrorHandler(display, -1, -1, -1, colormapTrapError, &failed);
  XQueryColor(display, colormap, &query);
  XSync(display, False);
  Tk_DeleteErrorHandler(handler);
  if (failed) return 0;
  color->red = query.red;
  color->green = query.green;
  color->blue = query.blue;
  return 1;
}

/*
 * freeColorPixels --
 *     Gives pixels back to a colormap whose cells are allocated (the
 *     dynamic visual classes); pixels of static and true-colour visuals
 *     were never allocated and are left alone.  X errors are trapped.
 */
void freeColorPixels(Display *display, Colormap colormap, unsigned long *pixels, int count) {
  if (!display || !pixels || count <= 0) return;
  Visual *visual = colormapVisual(display, colormap);
  int cls = visual->c_class;
  if (cls != PseudoColor && cls != GrayScale && cls != DirectColor) return;
  int failed = 0;
  Tk_ErrorHandler handler =
      Tk_CreateErrorHandler(display, -1, -1, -1, colormapTrapError, &failed);
  XFreeColors(display, colormap, pixels, count, 0);
  XSync(display, False);
  Tk_DeleteErrorHandler(handler);
}

}  // namespace vesk
