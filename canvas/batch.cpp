/*
 * batch.cpp --
 *     Batched drawing for items that draw many figures in one redisplay:
 *     one scratch GC per Tk GC and pass, changed only when a figure needs
 *     other values than the last one drew with.
 */
#include <X11/Xlib.h>

#include "canvas/gcanvas.h"
#include "display/drawing.h"

namespace vesk {

DrawBatch *beginDrawBatch(Display *display, Drawable drawable) {
  DrawBatch *batch = new DrawBatch;
  batch->display = display;
  batch->drawable = drawable;
  return batch;
}

void endDrawBatch(DrawBatch *batch) { delete batch; }

/*
 * createBatchGC --
 *     A scratch copy of a Tk GC for the batch's drawable; NULL for a NULL
 *     GC or a batch without a drawable.
 */
BatchGC *createBatchGC(DrawBatch *batch, GC gc) {
  if (!batch || gc == None || batch->drawable == None) return nullptr;
  BatchGC *b = new BatchGC;
  b->batch = batch;
  b->tkGC = gc;
  b->gc = copyGCFor(batch->display, batch->drawable, gc);
  XGetGCValues(batch->display, gc, GCFunction | GCFillStyle | GCFillRule | GCForeground, &b->values);
  b->changes = 0;
  return b;
}

void freeBatchGC(BatchGC *b) {
  if (!b) return;
  XFreeGC(b->batch->display, b->gc);
  delete b;
}

/* Changes the scratch GC only when the value differs from what it holds. */
void batchSetForeground(BatchGC *b, unsigned long pixel) {
  if (!b || b->values.foreground == pixel) return;
  b->values.foreground = pixel;
  XSetForeground(b->batch->display, b->gc, pixel);
  b->changes++;
}

void batchSetFunction(BatchGC *b, int function) {
  if (!b || b->values.function == function) return;
  b->values.function = function;
  XSetFunction(b->batch->display, b->gc, function);
  b->changes++;
}

void batchDrawLines(BatchGC *b, XPoint *points, int count, int mode) {
  if (!b || count < 1) return;
  XDrawLines(b->batch->display, b->batch->drawable, b->gc, points, count,
             mode ? CoordModePrevious : CoordModeOrigin);
}

void batchFillPolygon(BatchGC *b, XPoint *points, int count, int mode) {
  if (!b || count < 3) return;
  XFillPolygon(b->batch->display, b->batch->drawable, b->gc, points, count, Complex,
               mode ? CoordModePrevious : CoordModeOrigin);
}

void batchFillPolygonsWithHoles(BatchGC *b, XPoint *points, int partCount, int *counts,
                                int mode) {
  if (!b || partCount < 1) return;
  if (partCount == 1) {
    batchFillPolygon(b, points, counts[0], mode);
    return;
  }
  fillPolygonsWithHoles(b->batch->display, b->batch->drawable, b->gc, points, partCount, counts,
                        Complex, mode ? CoordModePrevious : CoordModeOrigin);
}

void batchDrawArc(BatchGC *b, int x, int y, int width, int height, int start, int extent,
                  int fill) {
  if (!b || width < 0 || height < 0) return;
  if (fill)
    XFillArc(b->batch->display, b->batch->drawable, b->gc, x, y, static_cast<unsigned>(width),
             static_cast<unsigned>(height), start, extent);
  else
    XDrawArc(b->batch->display, b->batch->drawable, b->gc, x, y, static_cast<unsigned>(width),
             static_cast<unsigned>(height), start, extent);
}

void batchDrawRectangle(BatchGC *b, int x, int y, int width, int height) {
  if (!b || width < 0 || height < 0) return;
  XDrawRectangle(b->batch->display, b->batch->drawable, b->gc, x, y, static_cast<unsigned>(width),
                 static_cast<unsigned>(height));
}

void batchFillRectangle(BatchGC *b, int x, int y, int width, int height) {
  if (!b || width <= 0 || height <= 0) return;
  XFillRectangle(b->batch->display, b->batch->drawable, b->gc, x, y, static_cast<unsigned>(width),
                 static_cast<unsigned>(height));
}

void batchFillRectangles(BatchGC *b, XRectangle *rectangles, int count) {
  if (!b || count <= 0) return;
  XFillRectangles(b->batch->display, b->batch->drawable, b->gc, rectangles, count);
}

/* X has no graphics modes: rotated text takes its own flag. */
int setDrawableGraphicsMode(Display *, Drawable, int) { return 0; }

}  // namespace vesk
