/*
 * ramcapture.cpp --
 *     RAM images made from what the screen shows: captures of windows and
 *     pixmaps, the clipboard's image, and packed DIBs handed over in memory
 *     by scanners.  The images are described as DIBs are: one band with a
 *     palette for pixels of 8 bits or fewer, three BYTE bands in the DIB's
 *     order (blue, green, red) for colour pixels.
 */
#include <X11/Xutil.h>
#include <limits.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "display/capture.h"
#include "display/colormap.h"
#include "display/colortab.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

constexpr uint32_t kDibUncompressed = 0;

int ramCaptureTrapError(ClientData clientData, XErrorEvent *) {
  *static_cast<int *>(clientData) = 1;
  return 0;
}

/*
 * fillDibHeader --
 *     Describes captured pixels as a DIB of that bit count would be (see
 *     initDIB_Bi): 1 bit packed most significant first, 8 bits as one BYTE
 *     band with colors palette entries, 24 bits as three BYTE bands; the
 *     header's path is the name.
 * Results:      1, or 0 for a size or bit count no DIB can have.
 */
int fillDibHeader(ImageHeader *h, const char *name, int width, int height, int bitCount,
                  int colors) {
  unsigned char info[kDibInfoHeaderSize] = {};
  putU32(info, kDibInfoHeaderSize, false);
  putU32(info + 4, static_cast<uint32_t>(width), false);
  putU32(info + 8, static_cast<uint32_t>(height), false);
  info[12] = 1;
  info[14] = static_cast<unsigned char>(bitCount);
  putU32(info + 32, static_cast<uint32_t>(colors), false);
  initImageHeader(h);
  if (!initDIB_Bi(h, info)) return 0;
  if (name) snprintf(h->path, sizeof h->path, "%s", name);
  h->altFd = -1;
  return 1;
}

/* Creates (or refills) the image of a header under its name. */
RAMIMG *openCaptureImage(const char *name, ImageHeader *header) {
  int err = 0;
  RAMIMG *image = openRAMImage(name, nullptr, header, nullptr, &err);
  if (!image) printRAMImageError(err);
  return image;
}

/* The line of (row, band) to be filled whole, marked as written. */
unsigned char *lineToFill(RAMIMG *image, int row, int band) {
  unsigned char *line = image->getLineProc(image, row, band, 0);
  if (line) setRAMImageDirty(image, row, band);
  return line;
}

/* Three BYTE bands, blue first, from pixels 0x00rrggbb. */
void putBgrRows(RAMIMG *image, const RgbImage &rgb) {
  for (int y = 0; y < rgb.height; y++) {
    const uint32_t *from = &rgb.pixels[static_cast<size_t>(y) * static_cast<size_t>(rgb.width)];
    for (int band = 0; band < 3; band++) {
      unsigned char *line = lineToFill(image, y, band);
      if (!line) continue;
      const int shift = 8 * band;
      for (int x = 0; x < rgb.width; x++)
        line[x] = static_cast<unsigned char>((from[x] >> shift) & 0xff);
    }
  }
}

/*
 * ramImageFromXImage --
 *     The RAM image of captured pixels: a depth-1 image as 1-bit pixels
 *     with a black and white palette; pixels of 8 bits or fewer on a
 *     visual with colormap cells as one band of cell indexes with the
 *     colormap's colours as palette; anything else as blue, green and red
 *     bands.
 */
RAMIMG *ramImageFromXImage(const char *name, Display *display, Colormap colormap, XImage *ximage) {
  ImageHeader header;
  const int width = ximage->width, height = ximage->height;
  if (ximage->depth == 1) {
    if (!fillDibHeader(&header, name, width, height, 1, 2)) return nullptr;
    const unsigned char blackWhite[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    setDIBPalette(&header, blackWhite, 2);
    RAMIMG *image = openCaptureImage(name, &header);
    if (!image) return nullptr;
    for (int y = 0; y < height; y++) {
      unsigned char *line = lineToFill(image, y, 0);
      if (!line) continue;
      memset(line, 0, static_cast<size_t>(image->lineBytes));
      for (int x = 0; x < width; x++)
        if (XGetPixel(ximage, x, y)) line[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
    }
    return image;
  }
  Visual *visual = colormapVisual(display, colormap);
  if (ximage->depth <= 8 && visual && colormapHasCells(visual)) {
    std::vector<XColor> cells(kMaxColorEntries);
    int count = queryPaletteColors(display, colormap, cells.data(), kMaxColorEntries);
    count = std::max(count, 1);
    if (!fillDibHeader(&header, name, width, height, 8, count)) return nullptr;
    std::vector<unsigned char> quads(4 * static_cast<size_t>(count), 0);
    for (int i = 0; i < count; i++) {
      quads[4 * i] = static_cast<unsigned char>(cells[i].blue >> 8);
      quads[4 * i + 1] = static_cast<unsigned char>(cells[i].green >> 8);
      quads[4 * i + 2] = static_cast<unsigned char>(cells[i].red >> 8);
    }
    setDIBPalette(&header, quads.data(), count);
    RAMIMG *image = openCaptureImage(name, &header);
    if (!image) return nullptr;
    for (int y = 0; y < height; y++) {
      unsigned char *line = lineToFill(image, y, 0);
      if (!line) continue;
      for (int x = 0; x < width; x++)
        line[x] = static_cast<unsigned char>(std::min(XGetPixel(ximage, x, y), 255UL));
    }
    return image;
  }
  RgbImage rgb;
  if (!ximageToRgb(display, colormap, ximage, rgb)) return nullptr;
  return makeRAMImageFromRgb(name, rgb);
}

}  // namespace

/*
 * makeRAMImageFromRgb --
 *     A RAM image of three BYTE bands (blue, green, red) holding RGB
 *     pixels, created under name (or refilling the memory image of that
 *     name).
 * Results:      the image with one reference counted, or NULL.
 */
RAMIMG *makeRAMImageFromRgb(const char *name, const RgbImage &rgb) {
  if (rgb.width <= 0 || rgb.height <= 0 ||
      rgb.pixels.size() < static_cast<size_t>(rgb.width) * static_cast<size_t>(rgb.height))
    return nullptr;
  ImageHeader header;
  if (!fillDibHeader(&header, name, rgb.width, rgb.height, 24, 0)) return nullptr;
  RAMIMG *image = openCaptureImage(name, &header);
  if (image) putBgrRows(image, rgb);
  return image;
}

/*
 * makeRAMImageFromBitmap --
 *     The whole of a pixmap as a RAM image; the colormap gives the colours
 *     of its pixel values.
 * Results:      the image with one reference counted, or NULL with
 *               "no bitmap data converted." when the pixmap cannot be read.
 */
RAMIMG *makeRAMImageFromBitmap(const char *name, Display *display, Pixmap bitmap,
                               Colormap colormap) {
  Window root;
  int x, y;
  unsigned width = 0, height = 0, border, depth;
  int failed = 0;
  Status known = 0;
  if (bitmap) {
    Tk_ErrorHandler handler =
        Tk_CreateErrorHandler(display, -1, -1, -1, ramCaptureTrapError, &failed);
    known = XGetGeometry(display, bitmap, &root, &x, &y, &width, &height, &border, &depth);
    XSync(display, False);
    Tk_DeleteErrorHandler(handler);
  }
  XImage *ximage = nullptr;
  if (known && !failed)
    ximage = getDrawableImage(display, bitmap, 0, 0, static_cast<int>(width),
                              static_cast<int>(height));
  if (!ximage) {
    vesk_fprintf(stderr, "no bitmap data converted.\n");
    return nullptr;
  }
  RAMIMG *image = ramImageFromXImage(name, display, colormap, ximage);
  XDestroyImage(ximage);
  return image;
}

/*
 * makeRAMImageFromDrawable --
 *     A capture of a drawable as a RAM image: a rectangle of the screen
 *     or of a window or pixmap, or a toplevel with its whole frame (see
 *     captureSourceRect).
 * Results:      the image with one reference counted, or NULL with
 *               "Error in makeBitmapFromDrawable." when nothing is captured.
 */
RAMIMG *makeRAMImageFromDrawable(const char *name, Display *display, Drawable drawable,
                                 Colormap colormap, int x, int y, int width, int height) {
  Drawable source;
  XRectangle rect;
  XImage *ximage = nullptr;
  if (drawable && captureSourceRect(display, drawable, x, y, width, height, &source, &rect))
    ximage = getDrawableImage(display, source, rect.x, rect.y, rect.width, rect.height);
  if (!ximage) {
    vesk_fprintf(stderr, "Error in makeBitmapFromDrawable.\n");
    return nullptr;
  }
  RAMIMG *image = ramImageFromXImage(name, display, colormap, ximage);
  XDestroyImage(ximage);
  return image;
}

/*
 * makeRAMImageFromDIB --
 *     A packed DIB in memory (info header, colour table, uncompressed
 *     rows) as a RAM image.  Bottom-up rows are stored top row first;
 *     colour pixels are split into bands byte by byte (blue, green, red,
 *     and the fourth byte of 32-bit pixels).  Every field is checked
 *     against the size of the buffer before it is used.
 * Results:      the image with one reference counted (an existing memory
 *               image of that name is refilled), or NULL with a message.
 */
RAMIMG *makeRAMImageFromDIB(const char *name, const unsigned char *dib, size_t size) {
  if (!dib || size < kDibInfoHeaderSize) {
    vesk_fprintf(stderr, "Error in makeRAMImageFromDIB: %zu bytes hold no DIB header.\n",
                 dib ? size : 0);
    return nullptr;
  }
  const uint32_t infoSize = getU32(dib, false);
  const int32_t width = getI32(dib + 4, false);
  const int32_t height = getI32(dib + 8, false);
  const int bitCount = getU16(dib + 14, false);
  const uint32_t compression = getU32(dib + 16, false);
  const uint32_t colorsUsed = getU32(dib + 32, false);
  if (infoSize < kDibInfoHeaderSize || infoSize > size) {
    vesk_fprintf(stderr, "Error in makeRAMImageFromDIB: header size %u of %zu bytes.\n",
                 infoSize, size);
    return nullptr;
  }
  if (width <= 0 || height == 0 || height == INT32_MIN) {
    vesk_fprintf(stderr, "Error in makeRAMImageFromDIB: size %d x %d.\n", width, height);
    return nullptr;
  }
  if (compression != kDibUncompressed) {
    vesk_fprintf(stderr, "Error in makeRAMImageFromDIB: compression %u is not supported.\n",
                 compression);
    return nullptr;
  }
  ImageHeader header;
  initImageHeader(&header);
  if (!initDIB_Bi(&header, dib)) return nullptr;
  if (bitCount <= 8 && colorsUsed > (1u << bitCount)) {
    vesk_fprintf(stderr, "Wrong value for colors used: %u\n", colorsUsed);
    return nullptr;
  }
  if (name) snprintf(header.path, sizeof header.path, "%s", name);
  header.altFd = -1;

  /* The colour table follows the info header, the rows follow the table. */
  const int rows = header.rows;
  const uint64_t tableEntries = bitCount <= 8 ? static_cast<uint64_t>(header.nindices) : colorsUsed;
  const uint64_t pixelsAt = infoSize + 4 * tableEntries;
  const uint64_t extent = pixelsAt + static_cast<uint64_t>(header.block) * static_cast<uint64_t>(rows);
  if (extent > size) {
    vesk_fprintf(stderr,
                 "Error in makeRAMImageFromDIB: %d x %d pixels of %d bits need %llu bytes, "
                 "the DIB has %zu.\n",
                 width, rows, bitCount, static_cast<unsigned long long>(extent), size);
    return nullptr;
  }
  if (header.nindices > 0) setDIBPalette(&header, dib + infoSize, header.nindices);
  RAMIMG *image = openCaptureImage(name, &header);
  if (!image) return nullptr;
  const unsigned char *pixels = dib + pixelsAt;
  const int bands = header.nbands;
  const bool topDown = height < 0;
  for (int i = 0; i < rows; i++) {
    const unsigned char *record = pixels + static_cast<size_t>(header.block) * static_cast<size_t>(i);
    const int row = topDown ? i : rows - 1 - i;
    if (bands == 1) {
      unsigned char *line = lineToFill(image, row, 0);
      if (line) memcpy(line, record, static_cast<size_t>(image->lineBytes));
      continue;
    }
    for (int band = 0; band < bands; band++) {
      unsigned char *line = lineToFill(image, row, band);
      if (!line) continue;
      for (int x = 0; x < width; x++)
        line[x] = record[static_cast<size_t>(x) * static_cast<size_t>(bands) + static_cast<size_t>(band)];
    }
  }
  return image;
}

/*
 * makeRAMImageFromClipboard --
 *     The clipboard's image as a RAM image of blue, green and red bands.
 * Results:      the image with one reference counted, or NULL with
 *               "fail to get bitmap from clipboard." when there is none.
 */
RAMIMG *makeRAMImageFromClipboard(const char *name, Tk_Window tkwin) {
  RgbImage rgb;
  if (!getClipboardImage(tkwin, rgb)) {
    vesk_fprintf(stderr, "fail to get bitmap from clipboard.\n");
    return nullptr;
  }
  return makeRAMImageFromRgb(name, rgb);
}

}  // namespace vesk
