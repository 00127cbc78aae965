/*
 * rotate.cpp --
 *     "rimage rotate": a quarter turn to the left or right, or a mirror
 *     about either axis or both.  Quarter turns work in vertical strips of
 *     at most 4 MB of input (at least one column), so that large images
 *     never have to be held whole; the strip's columns become output rows,
 *     gathered in cache-sized tiles.  Samples move as bytes for inputs of
 *     8 bits or less but SBYTE, else as floats.
 */
#include <string.h>
#if defined(__x86_64__)
#include <emmintrin.h>
#endif
#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/core.h"
#include "core/options.h"
#include "core/threads.h"
#include "processing/transfer.h"
#include "raster/pixels.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

enum { RO_DIR, RO_IN, RO_OUT, RO_OPTION_COUNT };
const ModuleOption rotateOptions[] = {
    {"-dir", nullptr}, {"-in", nullptr}, {"-out", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof rotateOptions / sizeof rotateOptions[0] == RO_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const rotateUsage[] = {
    "    where\n",
    "    IN      the input image ID;\n",
    "    OUT     the output image ID;\n",
    "    DIR     the direction of rotation:\n",
    "            LEFT:    rotation left;\n",
    "            RIGHT:   rotation right;\n",
    "            XFLIP:   x flipping;\n",
    "            YFLIP:   y flipping;\n",
    "            XYFLIP:  x and y flipping.\n",
};

enum RotateDir { DIR_LEFT, DIR_RIGHT, DIR_XFLIP, DIR_YFLIP, DIR_XYFLIP, DIR_COUNT };
const char *const rotateDirNames[] = {"LEFT", "RIGHT", "XFLIP", "YFLIP", "XYFLIP"};
static_assert(sizeof rotateDirNames / sizeof rotateDirNames[0] == DIR_COUNT, "one name a direction");

/* Input bytes one strip may hold. */
constexpr int64_t kRotateStripBytes = 4194304;
/* Bytes of output lines gathered at once from a strip. */
constexpr int64_t kRotateTileBytes = 1 << 20;

struct RotateWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  int dir = DIR_LEFT;
  int n = 0, columns = 0, bands = 0;  /* rows, columns and bands used */
  int64_t stripWidth = 0;
};

/* Sample access by kind: bytes or floats, one band segment at a time. */
inline void rotateRead(RAMIMG *image, int row, int column, int count, int band, unsigned char *to) {
  getByteBILData(image, row, column, count, band, to);
}
inline void rotateRead(RAMIMG *image, int row, int column, int count, int band, float *to) {
  getFloatBILData(image, row, column, count, band, to);
}
inline void rotateWrite(RAMIMG *image, int row, int count, int band, const unsigned char *from) {
  putByteBILData(image, row, 0, count, band, from);
}
inline void rotateWrite(RAMIMG *image, int row, int count, int band, const float *from) {
  putFloatBILData(image, row, 0, count, band, from);
}

/* The mirrors: each output row from one input row, reversed for XFLIP and XYFLIP. */
template <class T> void rotateFlip(RotateWork *w) {
  std::vector<T> line(static_cast<size_t>(w->columns));
  RowMeter meter("rotate");
  const bool reverse = w->dir == DIR_XFLIP || w->dir == DIR_XYFLIP;
  for (int i = 0; i < w->n; i++) {
    const int from = w->dir == DIR_XFLIP ? i : w->n - 1 - i;
    for (int b = 0; b < w->bands; b++) {
      rotateRead(w->in, from, 0, w->columns, b, line.data());
      if (reverse) std::reverse(line.begin(), line.end());
      rotateWrite(w->out, i, w->columns, b, line.data());
    }
    meter.row(i + 1, w->n);
  }
}

/* Reverses count samples of size S from one cache line into another. */
template <class T> void rotateReverse(const unsigned char *from, unsigned char *to, int64_t count) {
  const T *__restrict a = reinterpret_cast<const T *>(from);
  T *__restrict z = reinterpret_cast<T *>(to) + count - 1;
  for (int64_t k = 0; k < count; k++) z[-k] = a[k];
}

/*
 * rotateFlipLines --
 *     The mirrors between two images of one whole-byte pixel type: each
 *     sample moves once, from the input's cached line straight into the
 *     output's, with no conversion.
 * Results:      false when a line is not to be had (nothing changed for
 *     that row): the caller then takes the general path.
 */
bool rotateFlipLines(RotateWork *w) {
  const int size = storedSampleBytes(w->in->header.pixelid);
  if (size == 0 || w->in->header.pixelid != w->out->header.pixelid || w->in == w->out ||
      !w->in->getLineProc || !w->out->getLineProc)
    return false;
  RowMeter meter("rotate");
  const bool reverse = w->dir == DIR_XFLIP || w->dir == DIR_XYFLIP;
  const int64_t count = w->columns;
  auto flip = [=](const unsigned char *src, unsigned char *dst) {
    if (!reverse) memcpy(dst, src, static_cast<size_t>(count * size));
    else if (size == 1) rotateReverse<uint8_t>(src, dst, count);
    else if (size == 2) rotateReverse<uint16_t>(src, dst, count);
    else rotateReverse<uint32_t>(src, dst, count);
  };
  if (residentImage(w->in) && residentImage(w->out)) {
    /* Rounds of rows: the lines had here, the samples moved on the pool.
       An output line the flip fills whole is not zeroed first. */
    const int load = w->columns == w->out->header.columns ? 0 : 1;
    const int grain = rowGrain(count * w->bands * size / 4);
    const int round = roundRows(grain, w->n, count * w->bands * size);
    std::vector<std::pair<const unsigned char *, unsigned char *>> lines(
        static_cast<size_t>(round) * w->bands);
    for (int i0 = 0; i0 < w->n; i0 += round) {
      const int m = std::min(round, w->n - i0);
      for (int k = 0; k < m; k++) {
        const int i = i0 + k, from = w->dir == DIR_XFLIP ? i : w->n - 1 - i;
        for (int b = 0; b < w->bands; b++) {
          auto &line = lines[static_cast<size_t>(k) * w->bands + b];
          line = {w->in->getLineProc(w->in, from, b, 1), w->out->getLineProc(w->out, i, b, load)};
          if (!line.first || !line.second) return false;
          setRAMImageDirty(w->out, i, b);
        }
      }
      parallelRows(m * w->bands, grain, [&](int first, int end) {
        for (int k = first; k < end; k++) flip(lines[k].first, lines[k].second);
      });
      for (int k = 0; k < m; k++) meter.row(i0 + k + 1, w->n);
    }
    if (w->out->hist && rasterHooks().resetBandHist)
      for (int b = 0; b < w->bands; b++) rasterHooks().resetBandHist(w->out->hist, b);
    return true;
  }
  for (int i = 0; i < w->n; i++) {
    const int from = w->dir == DIR_XFLIP ? i : w->n - 1 - i;
    for (int b = 0; b < w->bands; b++) {
      const unsigned char *src = w->in->getLineProc(w->in, from, b, 1);
      unsigned char *dst = w->out->getLineProc(w->out, i, b, 1);
      if (!src || !dst) return false;
      flip(src, dst);
      setRAMImageDirty(w->out, i, b);
      if (w->out->hist && rasterHooks().resetBandHist) rasterHooks().resetBandHist(w->out->hist, b);
    }
    meter.row(i + 1, w->n);
  }
  return true;
}

/*
 * rotateSeg --
 *     Writes one strip that has been read (row, band, column): tiles of
 *     strip columns are gathered into output lines (RIGHT puts input row
 *     r at n - 1 - r, LEFT at r) and written while they are in cache.
 *     This stays on the calling thread: gathered on the pool, the lines
 *     reach the writer from other cores' caches, and the turn took longer
 *     with every thread than with one (4096^2 FLOAT).
 */
template <class T>
void rotateSeg(RotateWork *w, const T *strip, int64_t x0, int64_t width, T *lines, int64_t tile) {
  const int64_t n = w->n, bands = w->bands;
  const bool right = w->dir == DIR_RIGHT;
  for (int64_t b = 0; b < bands; b++) {
    for (int64_t t0 = 0; t0 < width; t0 += tile) {
      const int64_t tw = std::min(tile, width - t0);
      /* Blocks of rows: each line gets a short contiguous run while the
         block's strip rows stay in cache. */
      constexpr int64_t kBlock = 32;
      const int64_t rowStride = bands * width;
      for (int64_t r0 = 0; r0 < n; r0 += kBlock) {
        const int64_t r1 = std::min(n, r0 + kBlock);
        const T *src = &strip[static_cast<size_t>((r0 * bands + b) * width + t0)];
        for (int64_t x = 0; x < tw; x++) {
          T *line = &lines[static_cast<size_t>(x * n)];
          const T *from = src + x;
          if (right) {
            T *to = line + (n - 1 - r0);
            for (int64_t r = r0; r < r1; r++, from += rowStride) *to-- = *from;
          } else {
            T *to = line + r0;
            for (int64_t r = r0; r < r1; r++, from += rowStride) *to++ = *from;
          }
        }
      }
      for (int64_t x = 0; x < tw; x++) {
        const int64_t sx = t0 + x;
        const int64_t orow = right ? x0 + sx : w->columns - x0 - sx - 1;
        rotateWrite(w->out, static_cast<int>(orow), static_cast<int>(n), static_cast<int>(b),
                    &lines[static_cast<size_t>(x * n)]);
      }
    }
  }
}

/* One rotated strip of byte samples. */
void rotateByteRAMImageSeg(RotateWork *w, const unsigned char *strip, int64_t x0, int64_t width,
                           unsigned char *lines, int64_t tile) {
  rotateSeg(w, strip, x0, width, lines, tile);
}

/* One rotated strip of float samples. */
void rotateFloatRAMImageSeg(RotateWork *w, const float *strip, int64_t x0, int64_t width,
                            float *lines, int64_t tile) {
  rotateSeg(w, strip, x0, width, lines, tile);
}

/*
 * rotateQuarter --
 *     LEFT and RIGHT strip by strip: the strip's rows are read (row, band,
 *     column), then the strip is written turned.
 */
template <class T> void rotateQuarter(RotateWork *w) {
  const int64_t n = w->n, bands = w->bands, sw = w->stripWidth;
  /* Every sample of a strip is read before it is used: no need to clear it. */
  std::unique_ptr<T[]> strip(new T[static_cast<size_t>(n * bands * sw)]);
  const int64_t tile =
      std::max<int64_t>(1, std::min<int64_t>(sw, kRotateTileBytes / (n * int64_t{sizeof(T)})));
  std::vector<T> lines(static_cast<size_t>(tile * n));
  const bool right = w->dir == DIR_RIGHT;
  const int strips = static_cast<int>((w->columns + sw - 1) / sw);
  for (int s = 0; s < strips; s++) {
    /* RIGHT from the left edge; LEFT from the right edge, the last strip first. */
    const int64_t x0 = right ? s * sw : std::max<int64_t>(0, w->columns - (s + 1) * sw);
    const int64_t width = right ? std::min(sw, w->columns - x0) : w->columns - s * sw - x0;
    for (int64_t r = 0; r < n; r++)
      for (int64_t b = 0; b < bands; b++)
        rotateRead(w->in, static_cast<int>(r), static_cast<int>(x0), static_cast<int>(width),
                   static_cast<int>(b), &strip[static_cast<size_t>((r * bands + b) * width)]);
    if constexpr (std::is_same_v<T, unsigned char>)
      rotateByteRAMImageSeg(w, strip.get(), x0, width, lines.data(), tile);
    else
      rotateFloatRAMImageSeg(w, strip.get(), x0, width, lines.data(), tile);
    meterSet("rotate", static_cast<float>(s + 1) / static_cast<float>(strips));
  }
}

/*
 * rotateTurnTiles --
 *     Input rows r0 .. r1 - 1 of a quarter turn of one band between held
 *     lines (RIGHT puts input row r at n - 1 - r, LEFT at r), in square
 *     tiles of one cache line a side: a tile's input rows are read in
 *     order and turned in a buffer, and each output line takes a whole
 *     cache line, sent straight to memory where it starts one (a plain
 *     store would first read the line it fills).
 */
template <class T>
void rotateTurnTiles(const unsigned char *const *inLines, unsigned char *const *outLines,
                     int64_t n, int64_t columns, bool right, int64_t r0, int64_t r1) {
  constexpr int64_t kTile = 64 / sizeof(T);
  alignas(64) T tile[kTile][kTile];
  alignas(64) T turned[kTile][kTile];
  for (int64_t t0 = r0; t0 < r1; t0 += kTile) {
    const int64_t rows = std::min(kTile, r1 - t0);
    const int64_t at = right ? n - t0 - rows : t0;  /* the tile's place in an output line */
    for (int64_t c0 = 0; c0 < columns; c0 += kTile) {
      const int64_t cols = std::min(kTile, columns - c0);
      for (int64_t k = 0; k < rows; k++)
        memcpy(tile[k], inLines[t0 + k] + c0 * sizeof(T), static_cast<size_t>(cols) * sizeof(T));
      for (int64_t c = 0; c < cols; c++)
        for (int64_t k = 0; k < rows; k++) turned[c][right ? rows - 1 - k : k] = tile[k][c];
      for (int64_t c = 0; c < cols; c++) {
        T *out = reinterpret_cast<T *>(outLines[right ? c0 + c : columns - 1 - c0 - c]) + at;
#if defined(__x86_64__)
        if (rows == kTile && reinterpret_cast<uintptr_t>(out) % 64 == 0) {
          for (int q = 0; q < 4; q++)
            _mm_stream_si128(reinterpret_cast<__m128i *>(out) + q,
                             _mm_load_si128(reinterpret_cast<const __m128i *>(turned[c]) + q));
          continue;
        }
#endif
        memcpy(out, turned[c], static_cast<size_t>(rows) * sizeof(T));
      }
    }
  }
#if defined(__x86_64__)
  _mm_sfence();  /* this thread's streamed lines in place before others read them */
#endif
}

/* A band's quarter turn in blocks of tiles' rows on the pool: each block
   writes bytes of its own in the output lines (whole cache lines of its
   own when n is a whole number of tiles). */
template <class T>
void rotateTurnBand(const unsigned char *const *inLines, unsigned char *const *outLines,
                    int64_t n, int64_t columns, bool right) {
  constexpr int64_t kTile = 64 / sizeof(T);
  const int tiles = static_cast<int>((n + kTile - 1) / kTile);
  parallelRows(tiles, rowGrain(columns * kTile / 4), [&](int first, int end) {
    rotateTurnTiles<T>(inLines, outLines, n, columns, right, first * kTile,
                       std::min(n, end * kTile));
  });
}

/*
 * rotateTurnLines --
 *     A quarter turn between two memory images that hold every line, of
 *     one whole-byte pixel type: each sample moves once, from the input's
 *     line straight into the output's (the strips of rotateQuarter copy
 *     every sample three times).
 * Results:      false, with nothing changed, when the images do not allow
 *     it: the caller then takes the strips.
 */
bool rotateTurnLines(RotateWork *w) {
  const int size = storedSampleBytes(w->in->header.pixelid);
  if (size == 0 || w->in->header.pixelid != w->out->header.pixelid || w->in == w->out ||
      !residentImage(w->in) || !residentImage(w->out))
    return false;
  const bool right = w->dir == DIR_RIGHT;
  /* An output line the turn fills whole is not zeroed first. */
  const int load = w->n == w->out->header.columns ? 0 : 1;
  std::vector<const unsigned char *> in(static_cast<size_t>(w->n));
  std::vector<unsigned char *> out(static_cast<size_t>(w->columns));
  for (int b = 0; b < w->bands; b++) {
    /* Every line of a resident image is had (rows and bands are within both). */
    for (int r = 0; r < w->n; r++) in[static_cast<size_t>(r)] = w->in->getLineProc(w->in, r, b, 1);
    for (int c = 0; c < w->columns; c++) {
      out[static_cast<size_t>(c)] = w->out->getLineProc(w->out, c, b, load);
      setRAMImageDirty(w->out, c, b);
    }
    if (size == 1) rotateTurnBand<uint8_t>(in.data(), out.data(), w->n, w->columns, right);
    else if (size == 2) rotateTurnBand<uint16_t>(in.data(), out.data(), w->n, w->columns, right);
    else rotateTurnBand<uint32_t>(in.data(), out.data(), w->n, w->columns, right);
    if (w->out->hist && rasterHooks().resetBandHist) rasterHooks().resetBandHist(w->out->hist, b);
    meterSet("rotate", static_cast<float>(b + 1) / static_cast<float>(w->bands));
  }
  return true;
}

int rotateFailure(RotateWork *w, int err) {
  closeTransferImages(&w->in, &w->out);
  printRAMImageError(err);
  return 0;
}

/*
 * parseRotateOptions --
 *     Direction and both images; the output is created when it does not
 *     open (rows and columns exchanged for quarter turns).
 * Results:      1; 0 after the message, with nothing left open.
 */
int parseRotateOptions(RotateWork *w, int argc, const char **argv) {
  ModuleOption o[RO_OPTION_COUNT + 1];
  std::copy(std::begin(rotateOptions), std::end(rotateOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  if (o[RO_DIR].value) {
    w->dir = -1;
    for (int i = 0; i < DIR_COUNT; i++)
      if (strcmp(o[RO_DIR].value, rotateDirNames[i]) == 0) w->dir = i;
    if (w->dir < 0) {
      vesk_fprintf(stderr, "Unknown rotate direction.\n");
      return 0;
    }
  }
  if (!o[RO_IN].value) {
    vesk_fprintf(stderr, "Input image is missing!\n");
    return 0;
  }
  int err = 0;
  w->in = openRAMImage(o[RO_IN].value, o[RO_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open %s.\n", o[RO_IN].value);
    return rotateFailure(w, err);
  }
  if (!o[RO_OUT].value) {
    vesk_fprintf(stderr, "Output image is missing!\n");
    return rotateFailure(w, 0);
  }
  w->out = openRAMImage(o[RO_OUT].value, o[RO_OUT].value, nullptr, nullptr, &err);
  if (!w->out) {
    ImageHeader h = w->in->header;
    if (strlen(o[RO_OUT].value) >= sizeof h.path) {
      vesk_fprintf(stderr, "Error in create %s.\n", o[RO_OUT].value);
      return rotateFailure(w, 0);
    }
    strcpy(h.path, o[RO_OUT].value);
    if (w->dir == DIR_LEFT || w->dir == DIR_RIGHT) std::swap(h.rows, h.columns);
    h.offset = 0;
    h.block = 0;
    h.altFd = -1;
    h.volumes = 0;
    h.readerFlag = 0;
    err = 0;
    w->out = openRAMImageNew(&h, nullptr, 0, &err);
    if (!w->out) {
      vesk_fprintf(stderr, "Error in create %s.\n", o[RO_OUT].value);
      return rotateFailure(w, err);
    }
  }
  const ImageHeader &in = w->in->header, &out = w->out->header;
  w->bands = std::min(in.nbands, out.nbands);
  if (w->dir == DIR_LEFT || w->dir == DIR_RIGHT) {
    w->n = std::min(in.rows, out.columns);
    w->columns = std::min(in.columns, out.rows);
  } else {
    w->n = std::min(in.rows, out.rows);
    w->columns = std::min(in.columns, out.columns);
  }
  /* One column of all rows and bands may exceed the strip size: a strip
     is still at least one column wide. */
  const int64_t sample = readsAsBytes(w->in->header) ? 1 : 4;
  const int64_t column = std::max<int64_t>(1, int64_t{w->n} * w->bands * sample);
  w->stripWidth = std::max<int64_t>(1, std::min<int64_t>(w->columns, kRotateStripBytes / column));
  return 1;
}

}  // namespace

/*
 * rotateModule --
 *     "rimage rotate -in IN -out OUT -dir DIR".
 * Results:      2 after the usage, 0 on failure (also when the strip
 *     cannot be allocated), 1 on success.
 */
int rotateModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -dir DIR\n", prog);
    for (const char *line : rotateUsage) vesk_printf("%s", line);
    return 2;
  }
  RotateWork w;
  if (!parseRotateOptions(&w, argc, argv)) return 0;
  int result = 1;
  if (w.n > 0 && w.columns > 0 && w.bands > 0) {
    const bool bytes = readsAsBytes(w.in->header);
    const bool quarter = w.dir == DIR_LEFT || w.dir == DIR_RIGHT;
    try {
      if (quarter) {
        if (!rotateTurnLines(&w)) {
          if (bytes) rotateQuarter<unsigned char>(&w);
          else rotateQuarter<float>(&w);
        }
      } else if (!rotateFlipLines(&w)) {
        if (bytes) rotateFlip<unsigned char>(&w);
        else rotateFlip<float>(&w);
      }
    } catch (const std::bad_alloc &) {
      const long long size = quarter ? static_cast<long long>(w.n) * w.bands * w.stripWidth
                                     : static_cast<long long>(w.columns);
      vesk_fprintf(stderr, "Error in malloc: %lld\n", size * (bytes ? 1 : 4));
      result = 0;
    } catch (const std::length_error &) {
      vesk_fprintf(stderr, "Error in malloc.\n");
      result = 0;
    }
  }
  if (result) meterSet("rotate", 1.0f);
  closeTransferImages(&w.in, &w.out);
  meterReset();
  return result;
}

}  // namespace vesk
