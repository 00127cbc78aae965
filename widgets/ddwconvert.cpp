/*
 * ddwconvert.cpp --
 *     How the ddw widget turns its RAM image into surface pixels: band
 *     rows become bytes (8-bit images as they are, wider ones stretched
 *     between each channel's bounds), and the bytes of one or three
 *     display channels become pixels of an 8-, 16-, 24- or 32-bit surface.
 *     Also the widget colour table (image palette, band statistics) and
 *     its installation in the window's colormap on palette displays, with
 *     the map from table entries to the nearest colormap cells.
 */
#include <string.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/text.h"
#include "display/colormap.h"
#include "display/colortab.h"
#include "raster/bandstats.h"
#include "raster/imghead.h"
#include "raster/pixels.h"
#include "raster/ramimg.h"
#include "widgets/ddw.h"

namespace vesk {

namespace {

/* ---- band rows as bytes ---- */

template <class S> inline double sampleAt(const unsigned char *line, int x) {
  S v;
  memcpy(&v, line + static_cast<size_t>(x) * sizeof(S), sizeof(S));
  return static_cast<double>(v);
}

template <class S>
void scaleRow(const unsigned char *__restrict line, int n, double low, double high,
              unsigned char *__restrict out) {
  const double scale = high != low ? 255.0 / (high - low) : 0.0;
  for (int x = 0; x < n; x++) out[x] = ddwScaleSample(sampleAt<S>(line, x), low, high, scale);
}

/*
 * channelRow --
 *     The bytes of n pixels of one band row: BYTE samples as they are,
 *     1- and 4-bit samples as their values, wider samples stretched
 *     between low and high.  A missing band or line reads as zeros.
 * Results:      a pointer to the bytes (the cached line itself or out).
 */
const unsigned char *channelRow(RAMIMG *image, int row, int band, int n, double low, double high,
                                unsigned char *out) {
  const int pixelid = image->header.pixelid;
  if (band < 0 || band >= image->header.nbands) {
    memset(out, 0, static_cast<size_t>(n));
    return out;
  }
  if (pixelid == P_BYTE) {
    const unsigned char *line = getRAMImageLine(image, row, band, 1);
    if (line) return line;
    memset(out, 0, static_cast<size_t>(n));
    return out;
  }
  if (pixelid == P_1BIT || pixelid == P_4BITS) {
    getByteBILData(image, row, 0, n, band, out);
    return out;
  }
  const unsigned char *line = getRAMImageLine(image, row, band, 1);
  if (!line) {
    memset(out, 0, static_cast<size_t>(n));
    return out;
  }
  switch (pixelid) {
  case P_SHORT: scaleRow<int16_t>(line, n, low, high, out); break;
  case P_USHORT: scaleRow<uint16_t>(line, n, low, high, out); break;
  case P_LONG: scaleRow<int32_t>(line, n, low, high, out); break;
  case P_ULONG: scaleRow<uint32_t>(line, n, low, high, out); break;
  case P_SBYTE: scaleRow<int8_t>(line, n, low, high, out); break;
  case P_FLOAT: scaleRow<float>(line, n, low, high, out); break;
  default: memset(out, 0, static_cast<size_t>(n)); break;
  }
  return out;
}

/* ---- colour table installation ---- */

/* Index of the cell nearest to a colour (squared distance, first of equals). */
int nearestCell(const XColor *cells, int count, int r, int g, int b) {
  int best = 0;
  long bestDistance = -1;
  for (int i = 0; i < count; i++) {
    const long dr = (cells[i].red >> 8) - r, dg = (cells[i].green >> 8) - g,
               db = (cells[i].blue >> 8) - b;
    const long d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace

/* The 16-bit channel shift of a mask. */
int ddwShift16(unsigned long mask, int blue) {
  int shift, bits;
  maskShift(mask, &shift, &bits);
  const int above = shift + bits;
  return std::max(above, blue ? 1 : 8) - 8;
}

/* The share of a 16-bit pixel a byte gives through a mask and its shift. */
uint32_t ddwBits16(unsigned long mask, int shift, int byte) {
  const uint32_t v = static_cast<uint32_t>(byte);
  return static_cast<uint32_t>((shift >= 0 ? v << shift : v >> -shift) & mask);
}

/* A cube entry's colour: entry 32r + 4g + b. */
void ddwCubeColor(int entry, unsigned char rgb[3]) {
  rgb[0] = static_cast<unsigned char>(roundToInt(((entry >> 5) & 7) * 255.0 / 7));
  rgb[1] = static_cast<unsigned char>(roundToInt(((entry >> 2) & 7) * 255.0 / 7));
  rgb[2] = static_cast<unsigned char>(roundToInt((entry & 3) * 255.0 / 3));
}

/*
 * ddwChannelBands --
 *     The image band of each display channel (red, green, blue), -1 for
 *     none.  With one band in the combination or a one-band image all
 *     three channels show the same band and *single is set.
 */
void ddwChannelBands(const DdwWidget *w, int bands[3], int *single) {
  const int nb = w->image ? std::max(w->image->header.nbands, 1) : 1;
  if (w->comb[0] <= 1 || nb == 1) {
    const int band = ((w->comb[1] - 1) % nb + nb) % nb;
    bands[0] = bands[1] = bands[2] = band;
    *single = 1;
    return;
  }
  for (int k = 0; k < 3; k++) {
    const int band = w->comb[k + 1] - 1;
    bands[k] = band >= 0 && band < nb ? band : -1;
  }
  *single = 0;
}

/*
 * ddwConvertImage --
 *     Writes the image into a locked surface: the rows and columns both
 *     hold, in the surface's pixel format.
 */
void ddwConvertImage(DdwWidget *w, const SurfaceDesc *desc) {
  RAMIMG *image = w->image;
  if (!image || !desc->bits) return;
  const int rows = std::min(desc->height, image->header.rows);
  const int cols = std::min(desc->width, image->header.columns);
  if (rows <= 0 || cols <= 0) return;
  int bands[3], single;
  ddwChannelBands(w, bands, &single);
  const int bpp = desc->format.bitsPerPixel;
  const bool table = w->paletteCount > 0;
  const unsigned char(*pal)[3] = w->palette;

  std::vector<unsigned char> scratch(static_cast<size_t>(cols) * 3);
  unsigned char *bufs[3] = {&scratch[0], &scratch[cols], &scratch[2 * static_cast<size_t>(cols)]};

  /* 16 bits: each channel's byte through the table to its mask bits. */
  uint32_t part[3][256];
  if (bpp == 16) {
    const unsigned long masks[3] = {desc->format.redMask, desc->format.greenMask,
                                    desc->format.blueMask};
    for (int k = 0; k < 3; k++) {
      const int shift = ddwShift16(masks[k], k == 2);
      for (int v = 0; v < 256; v++) part[k][v] = ddwBits16(masks[k], shift, table ? pal[v][k] : v);
    }
  }
  const bool redHigh = (desc->format.redMask & 0xff0000UL) != 0;

  for (int r = 0; r < rows; r++) {
    unsigned char *to = desc->bits + static_cast<size_t>(r) * desc->pitch;
    const unsigned char *ch[3];
    if (single) {
      ch[0] = ch[1] = ch[2] = channelRow(image, r, bands[0], cols, w->low[0], w->high[0], bufs[0]);
    } else {
      for (int k = 0; k < 3; k++)
        ch[k] = channelRow(image, r, bands[k], cols, w->low[k], w->high[k], bufs[k]);
    }
    switch (bpp) {
    case 8:
      if (single) {
        for (int x = 0; x < cols; x++) to[x] = w->indexMap[ch[0][x]];
      } else {
        for (int x = 0; x < cols; x++) {
          int rv = bands[0] >= 0 ? ch[0][x] : 0, gv = bands[1] >= 0 ? ch[1][x] : 0,
              bv = bands[2] >= 0 ? ch[2][x] : 0;
          if (table) {
            rv = pal[rv][0];
            gv = pal[gv][1];
            bv = pal[bv][2];
          }
          to[x] = w->indexMap[(rv & 0xE0) | ((gv >> 3) & 0x1C) | (bv >> 6)];
        }
      }
      break;
    case 16:
      for (int x = 0; x < cols; x++) {
        uint32_t p = 0;
        for (int k = 0; k < 3; k++)
          if (single || bands[k] >= 0) p |= part[k][ch[k][x]];
        const uint16_t v = static_cast<uint16_t>(p);
        memcpy(to + 2 * x, &v, 2);
      }
      break;
    case 24:
    case 32: {
      const int step = bpp / 8;
      /* Memory byte 0, 1, 2 of a pixel and the channel it takes. */
      const int order[3] = {redHigh ? 2 : 0, 1, redHigh ? 0 : 2};
      for (int i = 0; i < 3; i++) {
        const int k = order[i];
        unsigned char *out = to + i;
        if (!single && bands[k] < 0) {
          for (int x = 0; x < cols; x++) out[x * step] = 0;
        } else if (table) {
          const unsigned char *src = ch[k];
          for (int x = 0; x < cols; x++) out[x * step] = pal[src[x]][k];
        } else {
          const unsigned char *src = ch[k];
          for (int x = 0; x < cols; x++) out[x * step] = src[x];
        }
      }
      break;
    }
    default:
      break;
    }
  }
}

/*
 * ddwStoreGrey --
 *     One grey pixel of a test pattern: the byte on 8 bits, spread into
 *     the masks on 16, the three colour bytes on 24 and 32.
 */
void ddwStoreGrey(const SurfaceFormat &format, unsigned char *pixel, int value) {
  value &= 255;
  switch (format.bitsPerPixel) {
  case 8: pixel[0] = static_cast<unsigned char>(value); break;
  case 16: {
    const unsigned long masks[3] = {format.redMask, format.greenMask, format.blueMask};
    uint32_t p = 0;
    for (int k = 0; k < 3; k++) p |= ddwBits16(masks[k], ddwShift16(masks[k], k == 2), value);
    const uint16_t v = static_cast<uint16_t>(p);
    memcpy(pixel, &v, 2);
    break;
  }
  default:
    pixel[0] = pixel[1] = pixel[2] = static_cast<unsigned char>(value);
    break;
  }
}

/* The pixel value of pure red in a surface format. */
unsigned long ddwRedPixel(const DdwWidget *w, const SurfaceFormat &format) {
  if (format.bitsPerPixel == 8) return w->redPixel;
  if (format.bitsPerPixel == 16)
    return ddwBits16(format.redMask, ddwShift16(format.redMask, 0), 255);
  return format.redMask;
}

void ddwFreePixels(DdwWidget *w) {
  if (w->pixels) {
    freeColorPixels(w->display, w->colormap, w->pixels, w->pixelCount);
    Tcl_Free(reinterpret_cast<char *>(w->pixels));
  }
  w->pixels = nullptr;
  w->pixelCount = 0;
}

/*
 * ddwInstallTable --
 *     On displays of 8 bits per pixel or fewer, makes the colormap hold the
 *     table: n >= 1 entries, else the 8 x 8 x 4 colour cube for three
 *     channels or 16 greys for one.  The previous colours are given back
 *     and the new ones allocated (nearest cells where the colormap is
 *     full); with mapIndices the index map then takes, for each entry (the
 *     n entries, the 256 cube colours or the 256 greys), the nearest cell
 *     of the colormap.
 * Side effects: paletteMode, pixels, indexMap, redPixel.
 */
void ddwInstallTable(DdwWidget *w, const unsigned char (*entries)[3], int n, int force,
                     int mapIndices) {
  if (!w->directDraw || w->directDraw->format.bitsPerPixel > 8) return;
  n = std::min(n, 256);
  int mode;
  if (n >= 1) {
    mode = kDdwPaletteTable;
    if (w->paletteMode == mode && !force && n == w->installedCount &&
        memcmp(w->installed, entries, static_cast<size_t>(n) * 3) == 0)
      return;
    memmove(w->palette, entries, static_cast<size_t>(n) * 3);
    memcpy(w->installed, entries, static_cast<size_t>(n) * 3);
    w->installedCount = n;
  } else {
    int bands[3], single;
    ddwChannelBands(w, bands, &single);
    mode = single ? kDdwPaletteGreys : kDdwPaletteCube;
    if (w->paletteMode == mode && !force) return;
    w->installedCount = 0;
  }

  /* The colours to allocate, and those the index map is made for. */
  unsigned char alloc[256][3];
  unsigned char wanted[256][3];
  int allocCount, wantedCount = 256;
  if (mode == kDdwPaletteTable) {
    memcpy(alloc, w->palette, static_cast<size_t>(n) * 3);
    memcpy(wanted, w->palette, static_cast<size_t>(n) * 3);
    allocCount = wantedCount = n;
  } else if (mode == kDdwPaletteCube) {
    for (int i = 0; i < 256; i++) ddwCubeColor(i, alloc[i]);
    memcpy(wanted, alloc, sizeof alloc);
    allocCount = 256;
  } else {
    for (int i = 0; i < 16; i++) {
      const unsigned char g = static_cast<unsigned char>(roundToInt(i * 255.0 / 15));
      alloc[i][0] = alloc[i][1] = alloc[i][2] = g;
    }
    allocCount = 16;
    for (int i = 0; i < 256; i++) wanted[i][0] = wanted[i][1] = wanted[i][2] = static_cast<unsigned char>(i);
  }
  ddwFreePixels(w);
  w->pixels = allocNearestColors(w->display, w->colormap, &alloc[0][0], allocCount);
  w->pixelCount = w->pixels ? allocCount : 0;
  w->paletteMode = mode;

  XColor cells[256];
  const int cellCount = queryPaletteColors(w->display, w->colormap, cells, 256);
  if (cellCount <= 0) return;
  if (mapIndices) {
    for (int i = 0; i < wantedCount; i++)
      w->indexMap[i] = static_cast<unsigned char>(
          cells[nearestCell(cells, cellCount, wanted[i][0], wanted[i][1], wanted[i][2])].pixel);
  }
  w->redPixel = cells[nearestCell(cells, cellCount, 255, 0, 0)].pixel;
}

/*
 * ddwComputeColorTable --
 *     Recomputes the widget colour table for its image: comb numbers
 *     brought into range, the image palette reordered by the combination,
 *     with -std above 0 the channel bounds from the band statistics and a
 *     table stretched by them; then the table installed (forced when
 *     asked).
 */
void ddwComputeColorTable(DdwWidget *w, int force) {
  RAMIMG *image = w->image;
  if (!image) return;
  const ImageHeader &h = image->header;
  const int nb = std::max(h.nbands, 1);
  const bool hasPalette = h.nindices > 0;
  for (int i = 1; i <= 3; i++) {
    if (hasPalette) w->comb[i] %= 4;
    else if (w->comb[i] > nb) w->comb[i] %= nb + 1;
  }
  const int displayBands = w->comb[0] <= 1 ? 1 : 3;

  unsigned char table[256][3];
  memset(table, 0, sizeof table);
  int count = 0;
  if (hasPalette) {
    count = std::min(h.nindices, 256);
    for (int j = 0; j < count; j++) {
      for (int k = 0; k < 3; k++) {
        if (displayBands == 1) {
          table[j][k] = h.palette[j][k];
        } else {
          const int c = w->comb[k + 1] - 1;
          table[j][k] = c >= 0 && c < 3 ? h.palette[j][c] : 0;
        }
      }
    }
  }

  if (w->std > 0) {
    int bands[3], single;
    ddwChannelBands(w, bands, &single);
    for (int k = 0; k < 3; k++) {
      if (bands[k] < 0) continue;
      double sd = 0, mean = 0, mn = 0, mx = 0;
      if (!ramImageBandStats(image, bands[k], &sd, &mean, &mn, &mx)) continue;
      w->low[k] = std::max(mean - w->std * sd, mn);
      w->high[k] = std::min(mean + w->std * sd, mx);
    }
    const bool wide = getPixelBits(h.pixelid) > 8 || h.pixelid == P_SBYTE;
    for (int j = 0; j < 256; j++) {
      for (int k = 0; k < 3; k++) {
        if (wide) {
          table[j][k] = static_cast<unsigned char>(j);
          continue;
        }
        const double value = hasPalette ? (j < count ? table[j][k] : 0) : j;
        const double lo = w->low[k], hi = w->high[k];
        double v;
        if (hi == lo) v = value >= hi ? 255 : 0;
        else v = (value - lo) / (hi - lo) * 255;
        table[j][k] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
    memcpy(w->palette, table, sizeof table);
    w->paletteCount = 256;
    ddwInstallTable(w, table, displayBands == 1 || hasPalette ? 256 : 0, force, 1);
  } else {
    if (count > 0) memcpy(w->palette, table, static_cast<size_t>(count) * 3);
    w->paletteCount = count;
    ddwInstallTable(w, table, count, force, 1);
  }
}

}  // namespace vesk
