/*
 * mask.cpp --
 *     Mask bitmaps: 1-bit rows aligned to 16 bits, owned or borrowed from
 *     a resident one-band 1-bit memory image, with row reads and writes,
 *     span fills and the filling of region polygons.
 */
#include "raster/mask.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <limits.h>
#include <string.h>
#include <tcl.h>
#include <algorithm>

#include "core/text.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* The mask value of pixel x in a bitmap's bit order. */
inline unsigned bitMask(const MaskBitmap *bitmap, int64_t x) {
  return bitmap->bitOrder ? 0x80u >> (x & 7) : 1u << (x & 7);
}

inline unsigned char *rowOf(const MaskBitmap *bitmap, int row) {
  return bitmap->bits + int64_t{row} * bitmap->rowBytes;
}

inline bool hasRow(const MaskBitmap *bitmap, int row) {
  return bitmap->bits && row >= 0 && row < bitmap->height;
}

inline void setPixel(MaskBitmap *bitmap, int row, int64_t x) {
  unsigned char *r = rowOf(bitmap, row);
  r[x >> 3] = static_cast<unsigned char>(r[x >> 3] | bitMask(bitmap, x));
}

/* Whether an image holds every row of its one band in the cache, in row
   order, with no file behind it: what a borrowed bitmap can view. */
const char *whyNotBorrowable(const RAMIMG *image) {
  const ImageHeader &h = image->header;
  if (h.pixelid != P_1BIT) return "it is not a 1BIT image";
  if (h.nbands != 1) return "it has more than one band";
  if (image->fd >= 0 || image->memData || (h.imgid >= IMG_MRGB32 && h.imgid <= IMG_MRGB1))
    return "its pixels are not resident in memory";
  if (!image->cache || image->cachedRows < h.rows) return "its pixels are not resident in memory";
  if (h.imgid != IMG_MBSQ)
    for (int i = 0; i < h.rows; i++)
      if (image->lineTags[i] != i) return "its pixels are not resident in memory";
  return nullptr;
}

}  // namespace

/* initMaskBitmap -- no bits, not borrowed, the host's bit order, alignment 16. */
void initMaskBitmap(MaskBitmap *bitmap) {
  bitmap->width = bitmap->height = 0;
  bitmap->bitOrder = msbFirst();
  bitmap->alignment = 16;
  bitmap->rowBytes = 0;
  bitmap->borrowed = 0;
  bitmap->bits = nullptr;
}

/*
 * allocMaskBitmap --
 *     Replaces the bits of a bitmap by a new array of height rows of
 *     (width + 15) / 16 x 2 bytes, every byte holding `fill`.
 * Results:      the bitmap, or null when the size is invalid or the
 *     allocation fails (the bitmap is then left as it was).
 */
MaskBitmap *allocMaskBitmap(MaskBitmap *bitmap, int width, int height, int fill) {
  if (width < 0 || height < 0) return nullptr;
  const int64_t rowBytes = (int64_t{width} + 15) / 16 * 2;
  const int64_t size = rowBytes * height;
  if (size > UINT_MAX) return nullptr;
  unsigned char *bits = nullptr;
  if (size > 0) {
    bits = reinterpret_cast<unsigned char *>(Tcl_AttemptAlloc(static_cast<unsigned>(size)));
    if (!bits) return nullptr;
    memset(bits, fill & 0xff, static_cast<size_t>(size));
  }
  freeMaskBitmap(bitmap);
  bitmap->width = width;
  bitmap->height = height;
  bitmap->rowBytes = static_cast<int>(rowBytes);
  bitmap->bits = bits;
  return bitmap;
}

/* freeMaskBitmap -- frees the bits unless borrowed, then initMaskBitmap. */
void freeMaskBitmap(MaskBitmap *bitmap) {
  if (bitmap->bits && !bitmap->borrowed) Tcl_Free(reinterpret_cast<char *>(bitmap->bits));
  initMaskBitmap(bitmap);
}

/* newMaskBitmap -- a new bitmap filled with a byte; null on failure. */
MaskBitmap *newMaskBitmap(int width, int height, int fill) {
  MaskBitmap *bitmap = reinterpret_cast<MaskBitmap *>(Tcl_AttemptAlloc(sizeof(MaskBitmap)));
  if (!bitmap) return nullptr;
  initMaskBitmap(bitmap);
  if (!allocMaskBitmap(bitmap, width, height, fill)) {
    Tcl_Free(reinterpret_cast<char *>(bitmap));
    return nullptr;
  }
  return bitmap;
}

/* deleteMaskBitmap -- frees the bits (unless borrowed) and the record. */
void deleteMaskBitmap(MaskBitmap *bitmap) {
  if (!bitmap) return;
  freeMaskBitmap(bitmap);
  Tcl_Free(reinterpret_cast<char *>(bitmap));
}

/*
 * borrowMaskBitmap --
 *     Makes a bitmap a view of the cache of a 1-bit image: its lines are
 *     the rows, its bit order the image's msbf.  Only an image whose one
 *     band is wholly resident in row order (a memory image, or a file
 *     image made resident) can lend its bits: anything else would be read
 *     past its cache.
 * Results:      1; 0 with a message on the standard error stream when the
 *     image cannot be borrowed (the bitmap is then unchanged).
 */
int borrowMaskBitmap(MaskBitmap *bitmap, RAMIMG *image) {
  if (!image) return 0;
  const char *why = whyNotBorrowable(image);
  if (why) {
    vesk_fprintf(stderr, "Cannot use image %s as a mask: %s.\n",
                 image->tag[0] ? image->tag : image->header.path, why);
    return 0;
  }
  freeMaskBitmap(bitmap);
  bitmap->bits = image->cache;
  bitmap->rowBytes = static_cast<int>(image->lineBytes);
  bitmap->bitOrder = image->header.msbf ? 1 : 0;
  bitmap->width = image->header.columns;
  bitmap->height = image->header.rows;
  bitmap->borrowed = 1;
  return 1;
}

/* copyMaskBitmapRow -- copies one row over another; rows outside are ignored. */
void copyMaskBitmapRow(MaskBitmap *bitmap, int fromRow, int toRow) {
  if (!hasRow(bitmap, fromRow) || !hasRow(bitmap, toRow) || fromRow == toRow) return;
  memcpy(rowOf(bitmap, toRow), rowOf(bitmap, fromRow), static_cast<size_t>(bitmap->rowBytes));
}

/*
 * putMaskBitmapLine --
 *     Sets pixels from one byte a pixel (zero bytes leave pixels as they
 *     are).  Direction 0: row `index`, x = 0 to width - 1.  Negative: column
 *     `index`, byte i at row height - 1 - i.  Positive: column width - 1 -
 *     index, byte i at row i.
 */
void putMaskBitmapLine(MaskBitmap *bitmap, int index, const unsigned char *bytes, int direction) {
  if (!bitmap->bits) return;
  if (direction == 0) {
    if (!hasRow(bitmap, index)) return;
    for (int x = 0; x < bitmap->width; x++)
      if (bytes[x]) setPixel(bitmap, index, x);
    return;
  }
  const int column = direction < 0 ? index : bitmap->width - 1 - index;
  if (column < 0 || column >= bitmap->width) return;
  for (int i = 0; i < bitmap->height; i++)
    if (bytes[i]) setPixel(bitmap, direction < 0 ? bitmap->height - 1 - i : i, column);
}

/*
 * getMaskBitmapRow --
 *     out[x - start] for x = start to end - 1: the pixel's bit mask when it
 *     is set, else 0 (also outside the bitmap).
 */
void getMaskBitmapRow(const MaskBitmap *bitmap, int row, int start, int end, unsigned char *out) {
  const bool inside = hasRow(bitmap, row);
  const unsigned char *r = inside ? rowOf(bitmap, row) : nullptr;
  for (int64_t x = start; x < end; x++) {
    unsigned char v = 0;
    if (inside && x >= 0 && x < bitmap->width) v = static_cast<unsigned char>(r[x >> 3] & bitMask(bitmap, x));
    out[x - start] = v;
  }
}

/*
 * getMaskBitmapRowIndexed --
 *     out[0 .. lead-1] are 0; out[i] for i = lead to count - 1 is the masked
 *     bit of column map[i]; out[count .. mapLength-1] are 0.
 */
void getMaskBitmapRowIndexed(const MaskBitmap *bitmap, int row, int lead, int count,
                             const int *map, int mapLength, unsigned char *out) {
  const bool inside = hasRow(bitmap, row);
  const unsigned char *r = inside ? rowOf(bitmap, row) : nullptr;
  count = std::min(count, mapLength);
  for (int i = 0; i < mapLength; i++) {
    unsigned char v = 0;
    if (inside && i >= lead && i < count) {
      const int x = map[i];
      if (x >= 0 && x < bitmap->width) v = static_cast<unsigned char>(r[x >> 3] & bitMask(bitmap, x));
    }
    out[i] = v;
  }
}

/*
 * setMaskBitmapSpan --
 *     Sets pixels x0 to x1 - 1 of a row, clipped to the bitmap; whole
 *     bytes inside the span are set to 255.
 */
void setMaskBitmapSpan(MaskBitmap *bitmap, int row, int x0, int x1) {
  if (!hasRow(bitmap, row) || x1 < 0 || x0 >= bitmap->width) return;
  const int64_t from = std::max(x0, 0), to = std::min(x1, bitmap->width);
  if (to <= from) return;
  unsigned char *r = rowOf(bitmap, row);
  int64_t x = from;
  for (; x < to && (x & 7); x++) setPixel(bitmap, row, x);
  if (to - x >= 8) {
    memset(r + (x >> 3), 0xff, static_cast<size_t>((to - x) >> 3));
    x += (to - x) & ~int64_t{7};
  }
  for (; x < to; x++) setPixel(bitmap, row, x);
}

/* fillMaskSpans -- sets every span of a span set. */
void fillMaskSpans(const PointList *spans, MaskBitmap *bitmap) {
  if (!spans) return;
  for (int i = 0; i + 1 < spans->count; i += 2)
    setMaskBitmapSpan(bitmap, spans->points[i].y, spans->points[i].x, spans->points[i + 1].x);
}

/*
 * polyFillMask --
 *     Fills a chain of polygons: each on its own (overlaps stay set), or
 *     with the parity flag combined by parity (overlaps clear).
 */
void polyFillMask(const PointList *chain, MaskBitmap *bitmap, int parity) {
  const int lastRow = bitmap->height - 1;
  if (parity) {
    PointList *spans = polyListToSpans(chain, 0, lastRow);
    fillMaskSpans(spans, bitmap);
    polyFree(spans);
    return;
  }
  for (const PointList *p = chain; p; p = p->next) {
    PointList *spans = polyToSpans(p, 0, lastRow);
    fillMaskSpans(spans, bitmap);
    polyFree(spans);
  }
}

/* maskBitmapToRegion -- adds the set runs of every row to an X region as
   one-row rectangles. */
void maskBitmapToRegion(const MaskBitmap *bitmap, Region region) {
  if (!bitmap->bits || !region) return;
  for (int row = 0; row < bitmap->height; row++) {
    const unsigned char *r = rowOf(bitmap, row);
    int x = 0;
    while (x < bitmap->width) {
      while (x < bitmap->width && !(r[x >> 3] & bitMask(bitmap, x))) x++;
      const int start = x;
      while (x < bitmap->width && (r[x >> 3] & bitMask(bitmap, x))) x++;
      if (x > start) {
        XRectangle rect;
        rect.x = static_cast<short>(start);
        rect.y = static_cast<short>(row);
        rect.width = static_cast<unsigned short>(x - start);
        rect.height = 1;
        XUnionRectWithRegion(&rect, region, region);
      }
    }
  }
}

}  // namespace vesk
