/*
 * drawing.h --
 *     What the display layer adds to Xlib drawing: the per-thread point
 *     buffer, filled ring sets with holes, the two-pass double-dash
 *     outlines and the focus highlight.  Plain drawing goes straight to
 *     Xlib with Tk's GCs.
 */
#ifndef VESK_DISPLAY_DRAWING_H
#define VESK_DISPLAY_DRAWING_H

#include <tk.h>

namespace vesk {

/* Point-list modes of the shape functions (Xlib's CoordModeOrigin/Previous). */
inline constexpr int kPointsAbsolute = 0;

/* ---- per-thread point buffer ---- */
XPoint *getPointBuffer(int count);
int getPointBufferCapacity();
void freePointBuffer();
XPoint *convertPoints(const XPoint *points, int count, int mode, XRectangle *bbox);

/* ---- shapes ---- */
long shortRingArea(const XPoint *points, int n);
void fillPolygonsWithHoles(Display *display, Drawable drawable, GC gc, const XPoint *points,
                           int ringCount, const int *ringSizes, int shape, int mode);
void drawPolyline(Display *display, Drawable drawable, GC gc, const XPoint *points, int count,
                  int mode);
void drawRectangleOutline(Display *display, Drawable drawable, GC gc, int x, int y,
                          unsigned width, unsigned height);
void drawArcOutline(Display *display, Drawable drawable, GC gc, int x, int y, unsigned width,
                    unsigned height, int angle1, int angle2);
void drawHighlightBorder(Tk_Window tkwin, GC fgGC, GC bgGC, int highlightWidth,
                         Drawable drawable);

/* A scratch GC for the drawable holding every value of gc; free with XFreeGC. */
GC copyGCFor(Display *display, Drawable drawable, GC gc);

}  // namespace vesk

#endif
