/*
 * gimgrender.cpp --
 *     Rendering of gimg views: each view row reads the image row and the
 *     columns the axis maps select, scales the values to bytes, maps them
 *     through the channel lookup tables, optionally filters and dithers
 *     them, packs them as pixels of the drawable's own visual and puts them
 *     on the view pixmap through one XImage in blocks of rows (or columns
 *     when the view is turned by 90 degrees).
 *
 *     Direct-colour displays (16, 24 and 32 bits per pixel) pack the three
 *     channels through the visual's masks; 8-bit displays add the channels'
 *     palette index contributions, with or without dithering, and store
 *     the allocated pixel of each index.
 */
#include <math.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "display/colormap.h"
#include "display/gimg.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Cut of the transfer image in rows (columns when turned) without -turbo. */
constexpr int kTransferBlock = 256;

/* How pixels are laid out in the transfer image. */
struct PixelFormat {
  int bytesPerPixel = 4;
  int msbFirst = 0;             /* the XImage's byte order */
  uint32_t part[3][256] = {};   /* direct colour: each channel's share of a pixel */
};

/* The direct-colour pixel shares of each channel's byte values. */
void directFormat(const XImage *xi, Visual *visual, PixelFormat *format) {
  const unsigned long masks[3] = {
      xi->red_mask ? xi->red_mask : (visual ? visual->red_mask : 0xff0000),
      xi->green_mask ? xi->green_mask : (visual ? visual->green_mask : 0x00ff00),
      xi->blue_mask ? xi->blue_mask : (visual ? visual->blue_mask : 0x0000ff)};
  for (int c = 0; c < 3; c++) {
    int shift, bits;
    maskShift(masks[c], &shift, &bits);
    for (int v = 0; v < 256; v++) {
      uint32_t level = bits >= 8 ? static_cast<uint32_t>(v) << (bits - 8)
                                 : static_cast<uint32_t>(v) >> (8 - bits);
      /* Wider channels repeat the top bits so that 255 is full scale. */
      if (bits > 8) level |= static_cast<uint32_t>(v) >> (16 - bits);
      format->part[c][v] = static_cast<uint32_t>((level << shift) & masks[c]);
    }
  }
}

/* Stores count pixel values in the XImage's byte order. */
template <int N, bool Msb>
void storePixelsAs(unsigned char *__restrict out, const uint32_t *__restrict pixels, int count) {
  for (int i = 0; i < count; i++, out += N) {
    const uint32_t p = pixels[i];
    for (int b = 0; b < N; b++) out[b] = static_cast<unsigned char>(p >> (8 * (Msb ? N - 1 - b : b)));
  }
}

void storePixels(const PixelFormat &format, unsigned char *out, const uint32_t *pixels,
                 int count) {
  switch (format.bytesPerPixel * 2 + format.msbFirst) {
  case 2: case 3: storePixelsAs<1, false>(out, pixels, count); break;
  case 4: storePixelsAs<2, false>(out, pixels, count); break;
  case 5: storePixelsAs<2, true>(out, pixels, count); break;
  case 6: storePixelsAs<3, false>(out, pixels, count); break;
  case 7: storePixelsAs<3, true>(out, pixels, count); break;
  case 8: storePixelsAs<4, false>(out, pixels, count); break;
  default: storePixelsAs<4, true>(out, pixels, count); break;
  }
}

/*
 * One rendering pass: the transfer image, its data and the assembly area
 * of turned views, and the block of rows gathered so far.
 */
struct Transfer {
  Display *display = nullptr;
  Drawable drawable = 0;
  GC gc = nullptr;
  XImage *xi = nullptr;
  int rotate = 0;
  int destX = 0, destY = 0;
  int targetWidth = 0, targetHeight = 0;
  int viewWidth = 0;              /* pixels in one view row */
  int bytesPerPixel = 4;
  int blockRows = 0;              /* view rows in one block */
  int blockFirst = 0, blockCount = 0;
  std::vector<unsigned char> data;      /* the XImage's data */
  std::vector<unsigned char> assembly;  /* turned views: the rows of a block */

  bool start() {
    blockRows = rotate ? xi->width : xi->height;
    if (blockRows < 1 || viewWidth < 1) return false;
    try {
      data.assign(static_cast<size_t>(xi->bytes_per_line) * static_cast<size_t>(xi->height), 0);
      if (rotate)
        assembly.assign(static_cast<size_t>(blockRows) * viewWidth * bytesPerPixel, 0);
    } catch (const std::bad_alloc &) {
      return false;
    }
    return true;
  }

  /* The place of the next row of the block. */
  unsigned char *nextRow(int viewRow) {
    if (blockCount == 0) blockFirst = viewRow;
    if (rotate) return &assembly[static_cast<size_t>(blockCount) * viewWidth * bytesPerPixel];
    return &data[static_cast<size_t>(blockCount) * xi->bytes_per_line];
  }

  void rowDone() {
    if (++blockCount == blockRows) flush();
  }

  void flush() {
    if (blockCount == 0) return;
    xi->data = reinterpret_cast<char *>(data.data());
    if (!rotate) {
      XPutImage(display, drawable, gc, xi, 0, 0, destX, destY + blockFirst,
                static_cast<unsigned>(std::min(viewWidth, xi->width)),
                static_cast<unsigned>(blockCount));
    } else {
      const int n = bytesPerPixel;
      const int height = std::min(viewWidth, xi->height);
      for (int k = 0; k < blockCount; k++) {
        const unsigned char *row = &assembly[static_cast<size_t>(k) * viewWidth * n];
        const int x = rotate < 0 ? k : blockCount - 1 - k;
        for (int c = 0; c < height; c++) {
          const int y = rotate < 0 ? targetHeight - 1 - c : c;
          if (y < 0 || y >= xi->height) continue;
          memcpy(&data[static_cast<size_t>(y) * xi->bytes_per_line + static_cast<size_t>(x) * n],
                 row + static_cast<size_t>(c) * n, static_cast<size_t>(n));
        }
      }
      const int column = rotate < 0 ? destX + blockFirst
                                    : destX + targetWidth - blockFirst - blockCount;
      XPutImage(display, drawable, gc, xi, 0, 0, column, destY,
                static_cast<unsigned>(blockCount), static_cast<unsigned>(xi->height));
    }
    xi->data = nullptr;
    blockCount = 0;
  }
};

/* The band a channel reads: the shown layer, else its own band. */
int channelSourceBand(const GimgMaster *owner, int channel) {
  return owner->layer > 0 ? owner->layer - 1 : owner->channelBand[channel];
}

/* The previous-row lines of the line filter, one per channel. */
struct FilterState {
  std::vector<unsigned char> previous[3];
  bool first[3] = {true, true, true};
  void reset(int width) {
    for (auto &p : previous) p.assign(static_cast<size_t>(width), 0);
    first[0] = first[1] = first[2] = true;
  }
  void run(const GimgMaster *owner, int channel, unsigned char *line, int width) {
    filterLine(width, line, previous[channel].data(), owner->filterStrength,
               owner->filterOverride, first[channel] ? 1 : 0, owner->filterDir);
    first[channel] = false;
  }
};

/* The view rows and columns a pass covers. */
struct Pass {
  GimgMaster *owner;
  RAMIMG *image;
  const AxisMap *xMap, *yMap;
  int width;           /* view columns */
  int c0, c1;          /* columns that show the image */
  int r0, r1;          /* view rows of the pass */
};

/*
 * directRenderer --
 *     Direct-colour displays: three channel lines packed through the
 *     visual's masks.
 */
bool directRenderer(const Pass &pass, Transfer &transfer, const PixelFormat &format) {
  GimgMaster *owner = pass.owner;
  const int width = pass.width, rows = pass.image->header.rows;
  std::vector<unsigned char> lines[3];
  for (auto &l : lines) l.assign(static_cast<size_t>(width), 0);
  std::vector<uint32_t> pixels(static_cast<size_t>(width), 0);
  FilterState filter;
  filter.reset(width);
  const bool grey = (owner->paletteFlags & 1) && owner->channelCount != 0;
  const bool filtering = owner->filterStrength != 0;
  /* A channel that reads the band of an earlier one through the same
     table and range copies that line (a grey view reads its band once). */
  int sameAs[3] = {-1, -1, -1};
  for (int c = 1; c < 3; c++)
    for (int e = 0; e < c && sameAs[c] < 0; e++)
      if (owner->channelBand[c] >= 0 &&
          channelSourceBand(owner, c) == channelSourceBand(owner, e) &&
          owner->channelBand[e] >= 0 && owner->inLow[c] == owner->inLow[e] &&
          owner->inHigh[c] == owner->inHigh[e] &&
          memcmp(owner->channelLut[c], owner->channelLut[e], 256) == 0)
        sameAs[c] = e;
  int previousY = -1;
  std::vector<unsigned char> previousRow(static_cast<size_t>(width) * format.bytesPerPixel, 0);
  for (int r = pass.r0; r < pass.r1; r++) {
    unsigned char *out = transfer.nextRow(r);
    const size_t rowBytes = static_cast<size_t>(width) * format.bytesPerPixel;
    const int y = pass.yMap->index[r];
    if (y < 0 || y >= rows) {
      memset(out, 0, rowBytes);
      previousY = -1;
    } else if (y == previousY) {
      memcpy(out, previousRow.data(), rowBytes);
    } else {
      for (int c = 0; c < 3; c++) {
        unsigned char *line = lines[c].data();
        if (owner->channelBand[c] < 0) {
          memset(line, 0, static_cast<size_t>(width));
          continue;
        }
        if (sameAs[c] >= 0) {
          memcpy(line, lines[sameAs[c]].data(), static_cast<size_t>(width));
          continue;
        }
        renderBandLine(pass.image, y, channelSourceBand(owner, c), pass.xMap->index, pass.c0,
                       pass.c1, width, nullptr, owner->inLow[c], owner->inHigh[c],
                       owner->channelLut[c], line);
      }
      if (grey) {
        unsigned char *a = lines[0].data(), *b = lines[1].data(), *g = lines[2].data();
        for (int i = 0; i < width; i++)
          a[i] = static_cast<unsigned char>(std::min((a[i] + b[i] + g[i]) / owner->channelCount, 255));
        if (filtering) filter.run(owner, 0, a, width);
        memcpy(b, a, static_cast<size_t>(width));
        memcpy(g, a, static_cast<size_t>(width));
      } else if (filtering) {
        for (int c = 0; c < 3; c++)
          if (owner->channelBand[c] >= 0) filter.run(owner, c, lines[c].data(), width);
      }
      const unsigned char *red = lines[0].data(), *green = lines[1].data(), *blue = lines[2].data();
      for (int i = 0; i < width; i++)
        pixels[i] = format.part[0][red[i]] | format.part[1][green[i]] | format.part[2][blue[i]];
      storePixels(format, out, pixels.data(), width);
      memcpy(previousRow.data(), out, rowBytes);
      previousY = y;
    }
    transfer.rowDone();
  }
  return true;
}

/* The allocated pixel of each palette index. */
void indexPixels(const GimgMaster *owner, const unsigned char *index, uint32_t *pixels,
                 int width) {
  if (!owner->pixels || owner->pixelCount <= 0) {
    for (int i = 0; i < width; i++) pixels[i] = index[i];
    return;
  }
  const int n = owner->pixelCount;
  for (int i = 0; i < width; i++)
    pixels[i] = static_cast<uint32_t>(owner->pixels[index[i] < n ? index[i] : n - 1]);
}

/*
 * paletteRenderer --
 *     8-bit displays: the palette index of a pixel is the sum of the
 *     channels' contributions; with dithering each channel's value is
 *     dithered onto its levels first.
 */
bool paletteRenderer(const Pass &pass, Transfer &transfer, const PixelFormat &format,
                     bool dither) {
  GimgMaster *owner = pass.owner;
  const int width = pass.width, rows = pass.image->header.rows;
  const int channels = std::clamp(owner->channelCount, 0, 3);
  std::vector<unsigned char> lines[3], index(static_cast<size_t>(width), 0);
  std::vector<signed char> errors[3];
  for (int c = 0; c < 3; c++) {
    lines[c].assign(static_cast<size_t>(width), 0);
    errors[c].assign(static_cast<size_t>(width) + 1, 0);
  }
  std::vector<uint32_t> pixels(static_cast<size_t>(width), 0);
  FilterState filter;
  filter.reset(width);
  const bool filtering = owner->filterStrength != 0;
  int previousY = -1;
  const size_t rowBytes = static_cast<size_t>(width) * format.bytesPerPixel;
  std::vector<unsigned char> previousRow(rowBytes, 0);
  for (int r = pass.r0; r < pass.r1; r++) {
    unsigned char *out = transfer.nextRow(r);
    const int y = pass.yMap->index[r];
    if (y < 0 || y >= rows) {
      memset(index.data(), 0, static_cast<size_t>(width));
      indexPixels(owner, index.data(), pixels.data(), width);
      storePixels(format, out, pixels.data(), width);
      previousY = -1;
      transfer.rowDone();
      continue;
    }
    if (y == previousY && !dither) {
      memcpy(out, previousRow.data(), rowBytes);
      transfer.rowDone();
      continue;
    }
    memset(index.data(), 0, static_cast<size_t>(width));
    if (dither) {
      for (int c = 0; c < channels; c++) {
        unsigned char *line = lines[c].data();
        renderBandValues(pass.image, y, channelSourceBand(owner, c), pass.xMap->index, pass.c0,
                         pass.c1, width, owner->inLow[c], owner->inHigh[c], line);
        if (filtering) filter.run(owner, c, line, width);
        ditherLine(width, index.data(), line, owner->channelLut[c], owner->levelIndex[c],
                   owner->ditherError[c], errors[c].data(), owner->ditherOn, r & 1);
      }
    } else if (!filtering) {
      for (int c = 0; c < channels; c++) {
        unsigned char *line = lines[c].data();
        renderBandLine(pass.image, y, channelSourceBand(owner, c), pass.xMap->index, pass.c0,
                       pass.c1, width, nullptr, owner->inLow[c], owner->inHigh[c],
                       owner->channelLut[c], line);
        for (int i = 0; i < width; i++) index[i] = static_cast<unsigned char>(index[i] + line[i]);
      }
    } else {
      if (owner->layer > 0) {
        renderBandValues(pass.image, y, owner->layer - 1, pass.xMap->index, pass.c0, pass.c1,
                         width, owner->inLow[0], owner->inHigh[0], index.data());
        for (int c = 0; c < channels; c++) {
          const int component = std::clamp(owner->channelBand[c], 0, 2);
          for (int i = 0; i < width; i++) lines[c][i] = owner->header.palette[index[i]][component];
        }
        memset(index.data(), 0, static_cast<size_t>(width));
      } else {
        for (int c = 0; c < channels; c++)
          renderBandValues(pass.image, y, owner->channelBand[c], pass.xMap->index, pass.c0,
                           pass.c1, width, owner->inLow[c], owner->inHigh[c], lines[c].data());
      }
      for (int c = 0; c < channels; c++) {
        unsigned char *line = lines[c].data();
        filter.run(owner, c, line, width);
        const unsigned char *lut = owner->channelLut[c];
        for (int i = 0; i < width; i++) index[i] = static_cast<unsigned char>(index[i] + lut[line[i]]);
      }
    }
    indexPixels(owner, index.data(), pixels.data(), width);
    storePixels(format, out, pixels.data(), width);
    memcpy(previousRow.data(), out, rowBytes);
    previousY = y;
    transfer.rowDone();
  }
  return true;
}

/* X errors of a pass are caught here instead of ending the process. */
int renderErrorHandler(ClientData clientData, XErrorEvent *) {
  *static_cast<int *>(clientData) = 1;
  return 0;
}

/* Reads one sample of the wide pixel types. */
template <class T>
inline double sampleAt(const unsigned char *line, int v) {
  T t;
  memcpy(&t, line + static_cast<size_t>(v) * sizeof(T), sizeof(T));
  return static_cast<double>(t);
}

/* The pixel types read through the scale to bytes, one dispatch per row. */
template <class Fn>
bool withWideType(int pixelid, Fn &&fn) {
  switch (pixelid) {
  case P_SHORT: fn(int16_t{}); return true;
  case P_USHORT: fn(uint16_t{}); return true;
  case P_LONG: fn(int32_t{}); return true;
  case P_ULONG: fn(uint32_t{}); return true;
  case P_FLOAT: fn(float{}); return true;
  case P_SBYTE: fn(int8_t{}); return true;
  default: return false;
  }
}

/* The bit or nibble of a packed pixel. */
inline int packedSample(const unsigned char *line, int v, int pixelid, int msbf) {
  if (pixelid == P_1BIT) {
    const int mask = msbf ? 128 >> (v & 7) : 1 << (v & 7);
    return (line[v >> 3] & mask) ? 1 : 0;
  }
  const unsigned char b = line[v >> 1];
  const bool high = msbf ? (v & 1) == 0 : (v & 1) != 0;
  return high ? b >> 4 : b & 15;
}

}  // namespace

/*
 * renderBandLine --
 *     One view row of one band as display bytes: each view column in
 *     [start, end) shows lut[value of its image column]; the wider pixel
 *     types are first scaled from [low, high] to 0..255.  Columns outside
 *     show lut[0].
 * Side effects: *lastValue (when given) takes the byte before the LUT of
 *     the last column.
 */
void renderBandLine(RAMIMG *image, int row, int band, const int *xIndex, int start, int end,
                    int count, int *lastValue, double low, double high, const unsigned char *lut,
                    unsigned char *out) {
  start = std::clamp(start, 0, count);
  end = std::clamp(end, start, count);
  memset(out, lut[0], static_cast<size_t>(start));
  memset(out + end, lut[0], static_cast<size_t>(count - end));
  const unsigned char *line = image->getLineProc ? image->getLineProc(image, row, band, 1) : nullptr;
  if (!line || start == end) {
    memset(out + start, lut[0], static_cast<size_t>(end - start));
    if (lastValue) *lastValue = 0;
    return;
  }
  const ImageHeader &h = image->header;
  int last = 0;
  if (h.pixelid == P_BYTE) {
    if (xIndex[start] == start && xIndex[end - 1] == end - 1 && lut[0] == 0 && lut[127] == 127 &&
        lut[255] == 255) {
      memcpy(out + start, line + start, static_cast<size_t>(end - start));
    } else {
      for (int i = start; i < end; i++) out[i] = lut[line[xIndex[i]]];
    }
    last = line[xIndex[end - 1]];
  } else if (h.pixelid == P_1BIT || h.pixelid == P_4BITS) {
    int previous = -1, value = 0;
    for (int i = start; i < end; i++) {
      const int v = xIndex[i];
      if (v != previous) {
        value = packedSample(line, v, h.pixelid, h.msbf > 0);
        previous = v;
      }
      out[i] = lut[value];
    }
    last = value;
  } else {
    const float g = high != low ? static_cast<float>(255.0 / (high - low)) : 0.0f;
    const float off = high != low ? static_cast<float>(0.5 - low * g) : 255.0f;
    const bool known = withWideType(h.pixelid, [&](auto sample) {
      using T = decltype(sample);
      int previous = -1, value = 0;
      for (int i = start; i < end; i++) {
        const int v = xIndex[i];
        if (v != previous) {
          const double t = sampleAt<T>(line, v);
          if (!(t >= low)) value = 0;  /* below, or not a number */
          else if (t >= high) value = 255;
          else value = std::clamp(static_cast<int>(off + static_cast<float>(t) * g), 0, 255);
          previous = v;
        }
        out[i] = lut[value];
      }
      last = value;
    });
    if (!known) memset(out + start, lut[0], static_cast<size_t>(end - start));
  }
  if (lastValue) *lastValue = last;
}

/*
 * renderBandValues --
 *     renderBandLine without a LUT: bits, nibbles and bytes as they are,
 *     the wider types scaled from [low, high] to 0..255; 0 outside
 *     [start, end).
 */
void renderBandValues(RAMIMG *image, int row, int band, const int *xIndex, int start, int end,
                      int count, double low, double high, unsigned char *out) {
  start = std::clamp(start, 0, count);
  end = std::clamp(end, start, count);
  memset(out, 0, static_cast<size_t>(count));
  const unsigned char *line = image->getLineProc ? image->getLineProc(image, row, band, 1) : nullptr;
  if (!line) return;
  const ImageHeader &h = image->header;
  if (h.pixelid == P_BYTE) {
    for (int i = start; i < end; i++) out[i] = line[xIndex[i]];
  } else if (h.pixelid == P_1BIT || h.pixelid == P_4BITS) {
    for (int i = start; i < end; i++) out[i] = static_cast<unsigned char>(packedSample(line, xIndex[i], h.pixelid, h.msbf > 0));
  } else {
    const double step = (high - low) / 255;
    withWideType(h.pixelid, [&](auto sample) {
      using T = decltype(sample);
      for (int i = start; i < end; i++) {
        const double t = sampleAt<T>(line, xIndex[i]);
        if (!(t >= low)) out[i] = 0;
        else if (t > high || step <= 0) out[i] = 255;
        else out[i] = static_cast<unsigned char>(std::min((t - low) / step + 0.5, 255.0));
      }
    });
  }
}

/*
 * filterLine --
 *     Filters one row in place against the unfiltered row above: emboss
 *     (background -1), directional sharpening (value 0 or more) or
 *     smoothing toward the left neighbour (value below 0).
 * Side effects: previous takes the unfiltered row; on the first row of a
 *     pass it starts as a copy of it.
 */
void filterLine(int count, unsigned char *line, unsigned char *previous, double value,
                int background, int first, int direction) {
  if (count <= 0) return;
  if (first) memcpy(previous, line, static_cast<size_t>(count));
  std::vector<unsigned char> current(line, line + count);
  auto rounded = [](double x) {
    x = std::clamp(x, -1e6, 1e6);
    return static_cast<int>(x + 0.5);
  };
  const double d = 3.0f * static_cast<float>(value);
  const double w = value >= -708.39 ? 0.75 * exp(value) + 0.25 : 0.25;
  for (int i = 0; i < count; i++) {
    const int cur = current[i];
    const int left = current[i > 0 ? i - 1 : 0];
    const int above = previous[i];
    const int aboveLeft = previous[i > 0 ? i - 1 : 0];
    int out;
    if (background == -1) {
      out = rounded(value * (3 * cur - left - aboveLeft - above)) + 192;
    } else if (value >= 0) {
      const int base = background != 0 ? background : cur;
      switch (direction) {
      case 1: out = base + rounded(d * (left - cur)); break;
      case 2: out = base + rounded(d * (left - above)); break;
      case 3: out = base + rounded(d * (cur - above)); break;
      case 4: out = base + rounded(d * (cur - aboveLeft)); break;
      default: out = base + rounded(value * (3 * cur - left - aboveLeft - above)); break;
      }
    } else {
      out = static_cast<int>(w * left + (1 - w) / 3 * (cur + aboveLeft + above) + 0.5);
    }
    line[i] = static_cast<unsigned char>(std::clamp(out, 0, 255));
  }
  memcpy(previous, current.data(), static_cast<size_t>(count));
}

/*
 * ditherLine --
 *     Adds each pixel's palette index contribution of one channel to the
 *     index line, carrying the quantisation error to the right and down
 *     by the dither kind.
 * Side effects: errorLine (count + 1 entries) keeps the errors for the
 *     next row.
 */
void ditherLine(int count, unsigned char *indexLine, const unsigned char *values,
                const unsigned char *lut, const unsigned char *levelIndex,
                const unsigned char *ditherError, signed char *errorLine, int kind, int oddRow) {
  auto level = [&](int a) {
    a = std::clamp(a, 0, 255);
    return std::pair<int, int>(levelIndex[a], static_cast<signed char>(ditherError[a]));
  };
  if (kind <= 0) {
    for (int i = 0; i < count; i++)
      indexLine[i] = static_cast<unsigned char>(indexLine[i] + levelIndex[lut[values[i]]]);
    return;
  }
  int left = errorLine[0];
  int aboveLeft = errorLine[0];
  for (int i = 0; i < count; i++) {
    const int above = errorLine[i];
    const int aboveRight = i + 1 < count ? errorLine[i + 1] : above;
    int e;
    if (kind == 1) e = oddRow ? above : left;
    else if (kind == 2) e = (left + above) / 2;
    else if (kind == 3) e = ((left + above) * 20 + aboveLeft * 14) / 54;
    else e = ((left + above) * 20 + (aboveLeft + aboveRight) * 14) / 68;
    const auto [index, error] = level(lut[values[i]] + e);
    indexLine[i] = static_cast<unsigned char>(indexLine[i] + index);
    errorLine[i] = static_cast<signed char>(error);
    aboveLeft = above;
    left = error;
  }
}

/*
 * makePixmap --
 *     Renders the view rows of rect (all rows without one) of an image
 *     into a view pixmap, through owner's lookup tables and the given
 *     axis maps.  The GC, transfer image and rotation are those of the
 *     instance's master, else of owner.
 * Results:      the pixmap drawn on, or 0 on failure ("Error in
 *     makePixmap..." on the standard error stream).
 * Side effects: viewValid of the displaying master is set.
 */
Pixmap makePixmap(GimgMaster *owner, GimgInstance *instance, RAMIMG *image, ViewPixmap *target,
                  ViewPixmap *frameTarget, ViewPixmap *maskTarget, const AxisMap *xMap,
                  const AxisMap *yMap, const RenderRect *rect) {
  GimgMaster *shown = instance && instance->master ? instance->master : owner;
  if (!owner || !shown || !image || !target || !xMap || !yMap || !xMap->index || !yMap->index)
    return 0;
  Drawable drawable;
  if (target->borrowed && instance && instance->tkwin) {
    Tk_MakeWindowExist(instance->tkwin);
    drawable = Tk_WindowId(instance->tkwin);
  } else {
    drawable = getViewPixmap(target);
  }
  if (!drawable) return 0;
  XImage *xi = shown->ximage;
  if (!xi || !shown->gc) return 0;

  XSetClipMask(shown->display, shown->gc, None);
  const int rotate = shown->rotate < 0 ? -1 : (shown->rotate > 0 ? 1 : 0);
  xi->width = target->width;
  xi->height = target->height;
  if (!shown->turbo) {
    if (rotate) xi->width = std::min(xi->width, kTransferBlock);
    else xi->height = std::min(xi->height, kTransferBlock);
  }
  xi->bytes_per_line = ((xi->bits_per_pixel * xi->width + 31) / 32) * 4;

  PixelFormat format;
  format.bytesPerPixel = std::max(xi->bits_per_pixel / 8, 1);
  format.msbFirst = xi->byte_order == MSBFirst ? 1 : 0;
  const bool eightBit = xi->bits_per_pixel <= 8;
  if (!eightBit) directFormat(xi, shown->visual, &format);

  Pass pass{owner, image, xMap, yMap, xMap->count, 0, 0, 0, yMap->count};
  axisMapRange(xMap, image->header.columns, &pass.c0, &pass.c1);
  if (rect) {
    pass.r0 = std::clamp<int>(rect->y, 0, yMap->count);
    pass.r1 = std::clamp<int>(rect->y + rect->height, pass.r0, yMap->count);
  }

  Transfer transfer;
  transfer.display = shown->display;
  transfer.drawable = drawable;
  transfer.gc = shown->gc;
  transfer.xi = xi;
  transfer.rotate = rotate;
  transfer.destX = target->destX;
  transfer.destY = target->destY;
  transfer.targetWidth = target->width;
  transfer.targetHeight = target->height;
  transfer.viewWidth = pass.width;
  transfer.bytesPerPixel = format.bytesPerPixel;

  int failed = 0;
  Tk_ErrorHandler handler =
      Tk_CreateErrorHandler(shown->display, -1, -1, -1, renderErrorHandler, &failed);
  bool ok = transfer.start();
  if (ok) {
    if (!eightBit) ok = directRenderer(pass, transfer, format);
    else ok = paletteRenderer(pass, transfer, format, owner->ditherOn != 0);
    transfer.flush();
  }
  XSync(shown->display, False);
  Tk_DeleteErrorHandler(handler);
  xi->data = nullptr;
  if (ok && !failed && shown->stippleBitmap) {
    /* The stipple lies over the view in the foreground colour. */
    XSetFillStyle(shown->display, shown->gc, FillStippled);
    XFillRectangle(shown->display, drawable, shown->gc, target->destX, target->destY,
                   static_cast<unsigned>(target->width), static_cast<unsigned>(target->height));
    XSetFillStyle(shown->display, shown->gc, FillSolid);
  }
  if (!ok || failed) {
    vesk_fprintf(stderr, "Error in makePixmap...\n");
    return 0;
  }
  target->valid = 1;
  shown->viewValid = 1;

  if (shown->frameDynamic && shown->framePolygons)
    polygonMaskToView(shown, &shown->frameBits, shown->frameParity, shown->framePolygons);
  buildViewMasks(shown, owner->maskPresent ? &owner->maskBits : nullptr, &shown->frameBits,
                 frameTarget, maskTarget, xMap, yMap, rotate);

  if (owner->pixmapOnly) {
    if (owner->image) closeRAMImage(owner->image, &owner->imageClient);
    if (owner->maskExport) closeRAMImage(owner->maskExport, &owner->exportClient);
    owner->image = nullptr;
    owner->maskExport = nullptr;
  }
  return drawable;
}

/*
 * makePixmap --
 *     Renders one block of view rows of a master's own image into its
 *     cached view, when the view has a pixmap.
 */
void makePixmap(GimgMaster *master, int, int y, int, int height) {
  if (!master->image || !master->viewPixmap.pixmap || master->viewPixmap.borrowed) return;
  RenderRect rect;
  rect.x = 0;
  rect.y = static_cast<int16_t>(std::clamp(y, 0, 32767));
  rect.width = static_cast<uint16_t>(std::min(master->xMap.count, 65535));
  rect.height = static_cast<uint16_t>(std::clamp(height, 0, 65535));
  const int valid = master->viewValid;
  makePixmap(master, nullptr, master->image, &master->viewPixmap, &master->framePixmap,
             &master->maskPixmap, &master->xMap, &master->yMap, &rect);
  master->viewValid = valid;
}

}  // namespace vesk
