/*
 * mask.h --
 *     1-bit mask bitmaps with rows aligned to 16 bits (the layout of the
 *     display's bitmaps), with their own bits or borrowing the bits of a
 *     resident 1-bit memory image; row access, spans and polygon fills.
 */
#ifndef VESK_RASTER_MASK_H
#define VESK_RASTER_MASK_H

#include "raster/ramimg.h"
#include "raster/roi.h"

/*
 * A bitmap: height rows of rowBytes bytes, row 0 first.  The record and
 * its own bits come from Tcl's allocator; set it up with initMaskBitmap.
 */
struct MaskBitmap {
  int width;            /* pixels per row */
  int height;           /* rows */
  int bitOrder;         /* 0: pixel x is bit x mod 8; 1: bit 7 - (x mod 8) */
  int alignment;        /* row alignment in bits: 16 */
  int rowBytes;         /* (width + 15) / 16 x 2, or a borrowed image's line bytes */
  int borrowed;         /* 1: the bits belong to a RAM image and are not freed */
  unsigned char *bits;  /* null while there are none */
};

typedef struct _XRegion *Region;  /* as X11/Xutil.h declares it */

namespace vesk {

MaskBitmap *newMaskBitmap(int width, int height, int fill);
void deleteMaskBitmap(MaskBitmap *bitmap);
void initMaskBitmap(MaskBitmap *bitmap);
MaskBitmap *allocMaskBitmap(MaskBitmap *bitmap, int width, int height, int fill);
void freeMaskBitmap(MaskBitmap *bitmap);
int borrowMaskBitmap(MaskBitmap *bitmap, RAMIMG *image);
void copyMaskBitmapRow(MaskBitmap *bitmap, int fromRow, int toRow);
void putMaskBitmapLine(MaskBitmap *bitmap, int index, const unsigned char *bytes, int direction);
void getMaskBitmapRow(const MaskBitmap *bitmap, int row, int start, int end, unsigned char *out);
void getMaskBitmapRowIndexed(const MaskBitmap *bitmap, int row, int lead, int count,
                             const int *map, int mapLength, unsigned char *out);
void setMaskBitmapSpan(MaskBitmap *bitmap, int row, int x0, int x1);
void fillMaskSpans(const PointList *spans, MaskBitmap *bitmap);
void polyFillMask(const PointList *chain, MaskBitmap *bitmap, int parity);
void maskBitmapToRegion(const MaskBitmap *bitmap, Region region);

}  // namespace vesk

#endif
