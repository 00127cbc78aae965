/*
 * colormap.h --
 *     Reading X colormaps: the visual behind a colormap, its cells as
 *     XColor records, pixel values computed from a true-colour visual's
 *     masks, and freeing only what the colormap handed out.
 */
#ifndef VESK_DISPLAY_COLORMAP_H
#define VESK_DISPLAY_COLORMAP_H

#include <tk.h>

namespace vesk {

Visual *colormapVisual(Display *display, Colormap colormap);
int colormapHasCells(Visual *visual);
int queryPaletteColor(Display *display, Colormap colormap, XColor *color);
int queryPaletteColors(Display *display, Colormap colormap, XColor *colors, int n);
unsigned long trueColorPixel(const Visual *visual, unsigned short red, unsigned short green,
                             unsigned short blue);
/* Bits of a channel mask: its lowest set bit and its width (0, 0 for none). */
void maskShift(unsigned long mask, int *shift, int *bits);
void freeColorPixels(Display *display, Colormap colormap, unsigned long *pixels, int count);

}  // namespace vesk

#endif
