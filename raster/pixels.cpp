/*
 * pixels.cpp --
 *     Pixel access of RAM images by type.  A segment of one band is read
 *     or written through one cache line: the pixel type is dispatched once
 *     per segment and a plain loop converts.  Reads give 0 outside the
 *     image; writes store only what lies inside, clamp, round half away
 *     from zero and flag the line dirty.
 */
#include "raster/pixels.h"

#include <math.h>
#include <string.h>
#include <algorithm>
#include <new>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "vesk/stdio.h"

namespace vesk {

namespace {

/* The part of a segment that lies inside the image. */
struct Span {
  int64_t lead = 0;   /* positions before the first inside pixel */
  int64_t first = 0;  /* first inside column */
  int64_t n = 0;      /* inside pixels */
};

Span clipSegment(const RAMIMG *image, int row, int column, int count, int band) {
  Span s;
  const ImageHeader &h = image->header;
  if (count <= 0 || row < 0 || row >= h.rows || band < 0 || band >= h.nbands) return s;
  const int64_t from = std::max<int64_t>(column, 0);
  const int64_t to = std::min<int64_t>(int64_t{column} + count, h.columns);
  if (to <= from) return s;
  s.lead = from - column;
  s.first = from;
  s.n = to - from;
  return s;
}

/* The line of (row, band) with loading, or null. */
unsigned char *lineOf(RAMIMG *image, int row, int band) {
  return image->getLineProc ? image->getLineProc(image, row, band, 1) : nullptr;
}

/*
 * The line a writer fills: a write over the whole line of a plain line
 * cache claims it without reading the file first (the cache reads only
 * what a writer leaves).  Files of one record per band line share no
 * bytes with it; a pixel-interleaved record is still read for its other
 * bands, except where the file has never held it (see isUnwrittenRow).
 */
unsigned char *lineToWrite(RAMIMG *image, int row, int band, int64_t first, int64_t n) {
  const ImageHeader &h = image->header;
  bool claims = false;
  switch (h.imgid) {
  case IMG_BSQ: case IMG_E74BSQ: case IMG_BSQD: case IMG_BIL: case IMG_E73: case IMG_E74:
  case IMG_ELAS: case IMG_BILD:
  case IMG_BIP: case IMG_PPM: case IMG_FFT: case IMG_BIPD: case IMG_TIFF: case IMG_GEOTIFF:
    claims = true;
    break;
  default:
    break;
  }
  const bool whole = claims && first == 0 && n == h.columns && h.pixelid != P_1BIT &&
                     h.pixelid != P_4BITS && image->getLineProc == getRAMImageLine &&
                     image->lineBytes == pixelLineBytes(h.pixelid, h.columns);
  if (whole) return getRAMImageLine(image, row, band, 0);
  return lineOf(image, row, band);
}

/* Flags a written line and drops the band's cached statistics. */
void markWritten(RAMIMG *image, int row, int band) {
  setRAMImageDirty(image, row, band);
  if (image->hist && rasterHooks().resetBandHist) rasterHooks().resetBandHist(image->hist, band);
}

/* Calls fn with a value of the sample type of the whole-byte pixel types. */
template <class Fn> bool withSampleType(int pixelid, Fn &&fn) {
  switch (pixelid) {
  case P_BYTE: fn(uint8_t{}); return true;
  case P_SHORT: fn(int16_t{}); return true;
  case P_USHORT: fn(uint16_t{}); return true;
  case P_LONG: fn(int32_t{}); return true;
  case P_FLOAT: fn(float{}); return true;
  case P_ULONG: fn(uint32_t{}); return true;
  case P_SBYTE: fn(int8_t{}); return true;
  default: return false;
  }
}

template <class S> inline S loadSample(const unsigned char *line, int64_t x) {
  S v;
  memcpy(&v, line + x * static_cast<int64_t>(sizeof(S)), sizeof(S));
  return v;
}

template <class S> inline void storeSample(unsigned char *line, int64_t x, S v) {
  memcpy(line + x * static_cast<int64_t>(sizeof(S)), &v, sizeof(S));
}

/* Sub-byte pixels: 1BIT by bit, 4BITS by nibble, in the image's order. */
inline unsigned bitAt(const unsigned char *line, int64_t x, bool msbf) {
  const unsigned shift = msbf ? 7 - (x & 7) : (x & 7);
  return (line[x >> 3] >> shift) & 1u;
}
inline void setBitAt(unsigned char *line, int64_t x, bool msbf, unsigned v) {
  const unsigned mask = msbf ? 0x80u >> (x & 7) : 1u << (x & 7);
  if (v) line[x >> 3] = static_cast<unsigned char>(line[x >> 3] | mask);
  else line[x >> 3] = static_cast<unsigned char>(line[x >> 3] & ~mask);
}
inline bool highNibble(int64_t x, bool msbf) { return ((x & 1) == 0) == msbf; }
inline unsigned nibbleAt(const unsigned char *line, int64_t x, bool msbf) {
  const unsigned b = line[x >> 1];
  return highNibble(x, msbf) ? b >> 4 : b & 15u;
}
inline void setNibbleAt(unsigned char *line, int64_t x, bool msbf, unsigned v) {
  unsigned char &b = line[x >> 1];
  if (highNibble(x, msbf)) b = static_cast<unsigned char>((b & 0x0f) | ((v & 15u) << 4));
  else b = static_cast<unsigned char>((b & 0xf0) | (v & 15u));
}

/* ---- conversions on read ---- */

template <class Out, class S> inline Out readAs(S v);
template <> inline float readAs<float, uint8_t>(uint8_t v) { return v; }
template <> inline float readAs<float, int16_t>(int16_t v) { return v; }
template <> inline float readAs<float, uint16_t>(uint16_t v) { return v; }
template <> inline float readAs<float, int32_t>(int32_t v) { return static_cast<float>(v); }
template <> inline float readAs<float, uint32_t>(uint32_t v) { return static_cast<float>(v); }
template <> inline float readAs<float, int8_t>(int8_t v) { return v; }
template <> inline float readAs<float, float>(float v) { return v; }
/* Integers keep their low byte. */
template <> inline uint8_t readAs<uint8_t, uint8_t>(uint8_t v) { return v; }
template <> inline uint8_t readAs<uint8_t, int16_t>(int16_t v) { return static_cast<uint8_t>(v); }
template <> inline uint8_t readAs<uint8_t, uint16_t>(uint16_t v) { return static_cast<uint8_t>(v); }
template <> inline uint8_t readAs<uint8_t, int32_t>(int32_t v) { return static_cast<uint8_t>(v); }
template <> inline uint8_t readAs<uint8_t, uint32_t>(uint32_t v) { return static_cast<uint8_t>(v); }
template <> inline uint8_t readAs<uint8_t, int8_t>(int8_t v) { return static_cast<uint8_t>(v); }
/* A float is truncated toward zero and keeps its low byte.  Floats of
   2^24 and more are whole multiples of 256 from 2^31 on, so only values
   within the int64 range need the cast; NaN gives 0. */
template <> inline uint8_t readAs<uint8_t, float>(float v) {
  if (!(fabsf(v) < 9.0e18f)) return 0;
  return static_cast<uint8_t>(static_cast<int64_t>(v));
}

/* Plain loops over one run, free of aliasing so that they vectorise. */
template <class Out, class S>
void convertRun(const unsigned char *__restrict from, int64_t n, Out *__restrict out) {
  for (int64_t k = 0; k < n; k++) out[k] = readAs<Out, S>(loadSample<S>(from, k));
}

/* Bytes into floats, the most common read: 16 at a time. */
template <>
void convertRun<float, uint8_t>(const unsigned char *__restrict from, int64_t n,
                                float *__restrict out) {
  int64_t k = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; k + 16 <= n; k += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + k));
    const __m128i low = _mm_unpacklo_epi8(bytes, zero), high = _mm_unpackhi_epi8(bytes, zero);
    _mm_storeu_ps(out + k, _mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero)));
    _mm_storeu_ps(out + k + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero)));
    _mm_storeu_ps(out + k + 8, _mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero)));
    _mm_storeu_ps(out + k + 12, _mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero)));
  }
#endif
  for (; k < n; k++) out[k] = from[k];
}
template <class Out, class S>
void convertRunStrided(const unsigned char *__restrict from, int64_t n, Out *__restrict out,
                       int64_t stride) {
  for (int64_t k = 0; k < n; k++) out[k * stride] = readAs<Out, S>(loadSample<S>(from, k));
}

/*
 * readLine --
 *     Converts n pixels of a line from column `first` into out, positions
 *     `stride` apart.  An unknown pixel type gives zeros.
 */
template <class Out>
void readLine(const unsigned char *line, int pixelid, bool msbf, int64_t first, int64_t n,
              Out *__restrict out, int64_t stride) {
  if (pixelid == P_1BIT) {
    for (int64_t k = 0; k < n; k++) out[k * stride] = static_cast<Out>(bitAt(line, first + k, msbf));
    return;
  }
  if (pixelid == P_4BITS) {
    for (int64_t k = 0; k < n; k++)
      out[k * stride] = static_cast<Out>(nibbleAt(line, first + k, msbf));
    return;
  }
  const bool known = withSampleType(pixelid, [=](auto sample) {
    using S = decltype(sample);
    const unsigned char *from = line + first * static_cast<int64_t>(sizeof(S));
    if (stride == 1) convertRun<Out, S>(from, n, out);
    else convertRunStrided<Out, S>(from, n, out, stride);
  });
  if (!known)
    for (int64_t k = 0; k < n; k++) out[k * stride] = 0;
}

template <class Out>
void readSegment(RAMIMG *image, int row, int column, int count, int band, Out *out,
                 int64_t stride) {
  if (count <= 0) return;
  const Span s = clipSegment(image, row, column, count, band);
  const unsigned char *line = s.n > 0 ? lineOf(image, row, band) : nullptr;
  if (!line) {
    for (int64_t k = 0; k < count; k++) out[k * stride] = 0;
    return;
  }
  for (int64_t k = 0; k < s.lead; k++) out[k * stride] = 0;
  for (int64_t k = s.lead + s.n; k < count; k++) out[k * stride] = 0;
  readLine(line, image->header.pixelid, image->header.msbf != 0, s.first, s.n,
           out + s.lead * stride, stride);
}

/* ---- conversions on write ---- */

/*
 * Clamps a float into [lo, hi] and rounds half away from zero.  The
 * integer cast happens only on clamped values (NaN counts as 0); the
 * fraction is taken exactly, so 0.49999997 stays 0.
 */
template <class S> inline S clampRound(float v, float lo, float hi) {
  float c = v == v ? v : 0.0f;
  c = std::min(std::max(c, lo), hi);
  int i = static_cast<int>(c);
  const float frac = c - static_cast<float>(i);
  i += (frac >= 0.5f) - (frac <= -0.5f);
  return static_cast<S>(i);
}

template <class S> inline S storeAs(float v);
template <> inline uint8_t storeAs<uint8_t>(float v) { return clampRound<uint8_t>(v, 0.f, 255.f); }
template <> inline int16_t storeAs<int16_t>(float v) {
  return clampRound<int16_t>(v, -32768.f, 32767.f);
}
template <> inline uint16_t storeAs<uint16_t>(float v) {
  return clampRound<uint16_t>(v, 0.f, 65535.f);
}
/* LONG: float cannot hold 2147483647, so the clamp and rounding are done
   in double. */
template <> inline int32_t storeAs<int32_t>(float v) {
  double c = v == v ? v : 0.0;
  c = std::min(std::max(c, -2147483648.0), 2147483647.0);
  return static_cast<int32_t>(c + (c >= 0 ? 0.5 : -0.5));
}
/* ULONG: as LONG, in double. */
template <> inline uint32_t storeAs<uint32_t>(float v) {
  double c = v == v ? v : 0.0;
  c = std::min(std::max(c, 0.0), 4294967295.0);
  return static_cast<uint32_t>(c + 0.5);
}
template <> inline int8_t storeAs<int8_t>(float v) { return clampRound<int8_t>(v, -128.f, 127.f); }
template <> inline float storeAs<float>(float v) { return v; }

/* Bytes and 16-bit values are stored as their value; a type of their
   width or narrower takes their low bits as they are (SHORT from 16 bits,
   BYTE and SBYTE from the low byte, SBYTE from a byte above 127). */
template <class S> inline S storeAs(uint8_t v) { return static_cast<S>(v); }

template <class S> inline S storeAs(uint16_t v) { return static_cast<S>(v); }
template <> inline int16_t storeAs<int16_t>(uint16_t v) {
  int16_t s;
  memcpy(&s, &v, sizeof s);
  return s;
}
template <> inline int8_t storeAs<int8_t>(uint16_t v) {
  const uint8_t low = static_cast<uint8_t>(v);
  int8_t s;
  memcpy(&s, &low, sizeof s);
  return s;
}
template <> inline int8_t storeAs<int8_t>(uint8_t v) {
  int8_t s;
  memcpy(&s, &v, sizeof s);
  return s;
}

/* Values of the sub-byte types. */
inline unsigned bitOf(float v) { return v > 0; }
inline unsigned bitOf(uint8_t v) { return v != 0; }
inline unsigned bitOf(uint16_t v) { return v != 0; }
inline unsigned nibbleOf(float v) { return clampRound<unsigned>(v, 0.f, 15.f); }
inline unsigned nibbleOf(uint8_t v) { return v & 15u; }
inline unsigned nibbleOf(uint16_t v) { return v & 15u; }

template <class S, class In>
void storeRun(const In *__restrict in, int64_t n, unsigned char *__restrict to) {
  for (int64_t k = 0; k < n; k++) storeSample<S>(to, k, storeAs<S>(in[k]));
}

/* Floats into bytes, the most common store (every module writing a BYTE
   output): 16 at a time with the same clamp and rounding as storeAs. */
template <>
void storeRun<uint8_t, float>(const float *__restrict in, int64_t n, unsigned char *__restrict to) {
  int64_t k = 0;
#if defined(__SSE2__)
  const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(255.f), half = _mm_set1_ps(0.5f);
  auto four = [&](const float *p) {
    __m128 v = _mm_loadu_ps(p);
    v = _mm_and_ps(v, _mm_cmpord_ps(v, v));  /* NaN counts as 0 */
    v = _mm_min_ps(_mm_max_ps(v, zero), top);
    const __m128i i = _mm_cvttps_epi32(v);
    const __m128 frac = _mm_sub_ps(v, _mm_cvtepi32_ps(i));
    return _mm_sub_epi32(i, _mm_castps_si128(_mm_cmpge_ps(frac, half)));
  };
  for (; k + 16 <= n; k += 16) {
    const __m128i low = _mm_packs_epi32(four(in + k), four(in + k + 4));
    const __m128i high = _mm_packs_epi32(four(in + k + 8), four(in + k + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(to + k), _mm_packus_epi16(low, high));
  }
#endif
  for (; k < n; k++) to[k] = storeAs<uint8_t>(in[k]);
}

/*
 * writeSegment --
 *     Stores the inside part of a segment into its line, keeping the
 *     other pixels of the line.
 * Results:      the number of values stored.
 * Side effects: the line is flagged dirty.
 */
template <class In>
int writeSegment(RAMIMG *image, int row, int column, int count, int band, const In *in) {
  const Span s = clipSegment(image, row, column, count, band);
  if (s.n <= 0) return 0;
  const int pixelid = image->header.pixelid;
  if (pixelid < P_1BIT || pixelid > P_SBYTE) return 0;
  unsigned char *line = lineToWrite(image, row, band, s.first, s.n);
  if (!line) return 0;
  const bool msbf = image->header.msbf != 0;
  const In *__restrict from = in + s.lead;
  if (pixelid == P_1BIT) {
    for (int64_t k = 0; k < s.n; k++) setBitAt(line, s.first + k, msbf, bitOf(from[k]));
  } else if (pixelid == P_4BITS) {
    for (int64_t k = 0; k < s.n; k++) setNibbleAt(line, s.first + k, msbf, nibbleOf(from[k]));
  } else {
    const int64_t n = s.n;
    unsigned char *to = line;
    const int64_t first = s.first;
    withSampleType(pixelid, [=](auto sample) {
      using S = decltype(sample);
      storeRun<S, In>(from, n, to + first * static_cast<int64_t>(sizeof(S)));
    });
  }
  markWritten(image, row, band);
  return static_cast<int>(s.n);
}

/* A buffer reused by the palette and multi-band operations; null when it
   cannot grow.  Callers do not nest. */
template <class T> T *scratch(std::vector<T> &buffer, int64_t n) {
  try {
    if (static_cast<int64_t>(buffer.size()) < n) buffer.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  return buffer.data();
}
std::vector<unsigned char> paletteBytes;
std::vector<unsigned char> bipBytes;
std::vector<float> bipFloats;

bool hasPalette(const RAMIMG *image) { return image->header.nindices > 0; }

/*
 * Gathers one component of an interleaved buffer and writes it to a band;
 * the shared body of the four multi-band writers.
 */
template <class T>
int writeInterleaved(RAMIMG *image, int row, int column, int count, int n, const T *in,
                     std::vector<T> &buffer, const char *who, int firstBand, int lastBand,
                     const int *bands) {
  if (count <= 0 || n <= 0) return 0;
  T *values = scratch(buffer, count);
  if (!values) {
    vesk_fprintf(stderr, "Malloc error in %s.\n", who);
    return 0;
  }
  int result = 0;
  for (int i = 0; i < n; i++) {
    int band;
    if (bands) {
      band = bands[i];
    } else {
      band = firstBand + i;
      if (band > lastBand) break;
    }
    if (band < 0 || band >= image->header.nbands) continue;
    for (int64_t k = 0; k < count; k++) values[k] = in[k * n + i];
    result = writeSegment(image, row, column, count, band, values);
  }
  return result;
}

}  // namespace

/*
 * getFloatBILData --
 *     Reads count pixels of one band from (row, column) as floats.
 * Results:      out[0 .. count-1]; pixels outside the image are 0.
 * Side effects: may load the line.
 */
void getFloatBILData(RAMIMG *image, int row, int column, int count, int band, float *out) {
  readSegment(image, row, column, count, band, out, 1);
}

namespace {

/* Whether an image is a memory image of the pixel type that holds every line. */
bool holdsEveryLine(const RAMIMG *image, int pixelid) {
  const ImageHeader &h = image->header;
  return h.pixelid == pixelid && image->fd < 0 && !image->memData && image->getLineProc &&
         image->cacheLines >= int64_t{h.rows} * h.nbands;
}

float *asFloatLine(unsigned char *line) {
  if (!line || reinterpret_cast<uintptr_t>(line) % alignof(float) != 0) return nullptr;
  return reinterpret_cast<float *>(line);
}

}  // namespace

float *residentFloatLine(RAMIMG *image, int row, int band, int load) {
  return holdsEveryLine(image, P_FLOAT) ? asFloatLine(image->getLineProc(image, row, band, load)) : nullptr;
}

bool residentFloatLines(RAMIMG *image, int first, int count, int band, int load, float **lines) {
  if (!holdsEveryLine(image, P_FLOAT)) return false;
  unsigned char *bytes[256];
  for (int k0 = 0; k0 < count; k0 += 256) {
    const int n = std::min(256, count - k0);
    if (image->getLineProc == getRAMImageLine) {
      getRAMImageLines(image, first + k0, n, band, load, bytes);
    } else {
      for (int k = 0; k < n; k++) bytes[k] = image->getLineProc(image, first + k0 + k, band, load);
    }
    for (int k = 0; k < n; k++)
      if (!(lines[k0 + k] = asFloatLine(bytes[k]))) return false;
  }
  return true;
}

unsigned char *residentByteLine(RAMIMG *image, int row, int band) {
  return holdsEveryLine(image, P_BYTE) ? image->getLineProc(image, row, band, 1) : nullptr;
}

/* getByteBILData -- the byte counterpart of getFloatBILData. */
void getByteBILData(RAMIMG *image, int row, int column, int count, int band,
                    unsigned char *out) {
  readSegment(image, row, column, count, band, out, 1);
}

/*
 * getByteBILDataStride --
 *     As getByteBILData, pixel k at out[k x stride]: one component of an
 *     interleaved buffer.  Positions in between are left alone.
 */
void getByteBILDataStride(RAMIMG *image, int row, int column, int count, int band,
                          unsigned char *out, int stride) {
  readSegment(image, row, column, count, band, out, std::max(stride, 1));
}

void getFloatBILDataStride(RAMIMG *image, int row, int column, int count, int band,
                           float *out, int stride) {
  readSegment(image, row, column, count, band, out, std::max(stride, 1));
}

/*
 * putFloatBILData --
 *     Stores count floats into one band of one row, converted to the
 *     image's pixel type: clamped to its range, then rounded half away
 *     from zero.
 * Results:      values stored; pixels outside the image are skipped.
 * Side effects: loads the line if absent, marks it dirty and drops the
 *     band's cached statistics.
 */
int putFloatBILData(RAMIMG *image, int row, int column, int count, int band, const float *in) {
  return writeSegment(image, row, column, count, band, in);
}

/* putByteBILData -- stores bytes: 1BIT non-zero, 4BITS the low nibble. */
int putByteBILData(RAMIMG *image, int row, int column, int count, int band,
                   const unsigned char *in) {
  return writeSegment(image, row, column, count, band, in);
}

/* putUSHORTBILData -- stores unsigned 16-bit values; SHORT takes the bits. */
int putUSHORTBILData(RAMIMG *image, int row, int column, int count, int band,
                     const uint16_t *in) {
  return writeSegment(image, row, column, count, band, in);
}

/*
 * getPaletteByteBILData --
 *     Without a palette, band `component` as bytes.  With one, the band-0
 *     indexes, each replaced by component 0, 1 or 2 of its palette entry;
 *     any other component keeps the indexes.
 */
void getPaletteByteBILData(RAMIMG *image, int row, int column, int count, int component,
                           unsigned char *out) {
  if (!hasPalette(image)) {
    getByteBILData(image, row, column, count, component, out);
    return;
  }
  getByteBILData(image, row, column, count, 0, out);
  if (component < 0 || component > 2) return;
  const unsigned char(*palette)[3] = image->header.palette;
  for (int k = 0; k < count; k++) out[k] = palette[out[k]][component];
}

/* getPaletteFloatBILData -- the float counterpart of getPaletteByteBILData. */
void getPaletteFloatBILData(RAMIMG *image, int row, int column, int count, int component,
                            float *out) {
  if (!hasPalette(image)) {
    getFloatBILData(image, row, column, count, component, out);
    return;
  }
  if (component < 0 || component > 2) {
    getFloatBILData(image, row, column, count, 0, out);
    return;
  }
  if (count <= 0) return;
  unsigned char *indexes = scratch(paletteBytes, count);
  if (!indexes) {
    for (int k = 0; k < count; k++) out[k] = 0;
    return;
  }
  getByteBILData(image, row, column, count, 0, indexes);
  const unsigned char(*palette)[3] = image->header.palette;
  for (int k = 0; k < count; k++) out[k] = palette[indexes[k]][component];
}

int rgbBandComponent(const ImageHeader &header, int band) {
  if (header.imgid == IMG_DIB && header.nbands >= 3 && band >= 0 && band <= 2) return 2 - band;
  return band;
}

/*
 * getByteBIPData --
 *     Reads n components of count pixels (every columnStep-th pixel kept)
 *     into a pixel-interleaved buffer: output pixel k, component i at
 *     k x n + i.  Component i is band bands[i], or i modulo the image's
 *     bands without a list, read through the palette view.
 */
void getByteBIPData(RAMIMG *image, int row, int column, int count, int columnStep, int n,
                    const int *bands, unsigned char *out) {
  if (count <= 0 || n <= 0) return;
  const int step = std::max(columnStep, 1);
  const int64_t kept = (count - 1) / step + 1;
  unsigned char *values = scratch(bipBytes, count);
  for (int i = 0; i < n; i++) {
    if (!values) {
      for (int64_t k = 0; k < kept; k++) out[k * n + i] = 0;
      continue;
    }
    const int band = bands ? bands[i] : i % std::max(image->header.nbands, 1);
    getPaletteByteBILData(image, row, column, count, band, values);
    for (int64_t k = 0; k < kept; k++) out[k * n + i] = values[k * step];
  }
}

/* getFloatBIPData -- as getByteBIPData with floats; without a list, band i. */
void getFloatBIPData(RAMIMG *image, int row, int column, int count, int columnStep, int n,
                     const int *bands, float *out) {
  if (count <= 0 || n <= 0) return;
  const int step = std::max(columnStep, 1);
  const int64_t kept = (count - 1) / step + 1;
  float *values = scratch(bipFloats, count);
  for (int i = 0; i < n; i++) {
    if (!values) {
      for (int64_t k = 0; k < kept; k++) out[k * n + i] = 0;
      continue;
    }
    getPaletteFloatBILData(image, row, column, count, bands ? bands[i] : i, values);
    for (int64_t k = 0; k < kept; k++) out[k * n + i] = values[k * step];
  }
}

/*
 * writeFloatBIPData --
 *     Writes component i of a pixel-interleaved buffer (in[i], in[n + i],
 *     ...) to band bands[i] (or i) for every such band of the image.
 * Results:      the last putFloatBILData result; 0 when the gather buffer
 *     cannot be had ("Malloc error in writeFloatBIPData.").
 */
int writeFloatBIPData(RAMIMG *image, int row, int column, int count, int n, const int *bands,
                      const float *in) {
  return writeInterleaved(image, row, column, count, n, in, bipFloats, "writeFloatBIPData", 0,
                          INT32_MAX, bands);
}

int writeByteBIPData(RAMIMG *image, int row, int column, int count, int n, const int *bands,
                     const unsigned char *in) {
  return writeInterleaved(image, row, column, count, n, in, bipBytes, "writeByteBIPData", 0,
                          INT32_MAX, bands);
}

/*
 * putFloatBIPData --
 *     Writes bands firstBand to min(firstBand + n, bands) - 1 from a
 *     buffer of n interleaved components: band b takes the values at
 *     (b - firstBand) + k x n.
 * Results:      the last putFloatBILData result, 0 on a failed buffer.
 */
int putFloatBIPData(RAMIMG *image, int firstBand, int n, int row, int column, int count,
                    const float *in) {
  return writeInterleaved(image, row, column, count, n, in, bipFloats, "putFloatBIPData",
                          firstBand, image->header.nbands - 1, nullptr);
}

int putByteBIPData(RAMIMG *image, int firstBand, int n, int row, int column, int count,
                   const unsigned char *in) {
  return writeInterleaved(image, row, column, count, n, in, bipBytes, "putByteBIPData",
                          firstBand, image->header.nbands - 1, nullptr);
}

/* getPixelValue -- one pixel as a float; 0 outside the image. */
float getPixelValue(RAMIMG *image, int column, int row, int band) {
  float v = 0;
  getFloatBILData(image, row, column, 1, band, &v);
  return v;
}

int storedSampleBytes(int pixelid) {
  int size = 0;
  withSampleType(pixelid, [&](auto sample) { size = static_cast<int>(sizeof sample); });
  return size;
}

/* getStoredBILData -- readSegment's samples before their conversion. */
void getStoredBILData(RAMIMG *image, int row, int column, int count, int band,
                      unsigned char *out) {
  if (count <= 0) return;
  const int64_t size = storedSampleBytes(image->header.pixelid);
  const Span s = clipSegment(image, row, column, count, band);
  const unsigned char *line = s.n > 0 && size > 0 ? lineOf(image, row, band) : nullptr;
  if (!line) {
    memset(out, 0, static_cast<size_t>(count * size));
    return;
  }
  memset(out, 0, static_cast<size_t>(s.lead * size));
  memcpy(out + s.lead * size, line + s.first * size, static_cast<size_t>(s.n * size));
  memset(out + (s.lead + s.n) * size, 0, static_cast<size_t>((count - s.lead - s.n) * size));
}

/* storedToFloats -- readLine's conversion of whole-byte samples. */
void storedToFloats(int pixelid, const unsigned char *stored, int64_t n, float *out) {
  if (!withSampleType(pixelid, [=](auto sample) {
        convertRun<float, decltype(sample)>(stored, n, out);
      }))
    std::fill(out, out + n, 0.0f);
}

/* floatsToStored -- writeSegment's conversion into whole-byte samples. */
void floatsToStored(int pixelid, const float *in, int64_t n, unsigned char *stored) {
  withSampleType(pixelid, [=](auto sample) { storeRun<decltype(sample), float>(in, n, stored); });
}

/* putStoredBILData -- writeSegment with the samples already converted. */
int putStoredBILData(RAMIMG *image, int row, int column, int count, int band,
                     const unsigned char *in) {
  const int64_t size = storedSampleBytes(image->header.pixelid);
  const Span s = clipSegment(image, row, column, count, band);
  if (s.n <= 0 || size == 0) return 0;
  unsigned char *line = lineToWrite(image, row, band, s.first, s.n);
  if (!line) return 0;
  memcpy(line + s.first * size, in + s.lead * size, static_cast<size_t>(s.n * size));
  markWritten(image, row, band);
  return static_cast<int>(s.n);
}

/* getPixelBands -- the pixel of every band into out, without the palette. */
void getPixelBands(RAMIMG *image, int row, int column, float *out) {
  for (int band = 0; band < image->header.nbands; band++)
    getFloatBILData(image, row, column, 1, band, out + band);
}

/* getPixelVector -- out[i] is the palette view of band bands[i] (or i). */
void getPixelVector(RAMIMG *image, int column, int row, int n, const int *bands, float *out) {
  for (int i = 0; i < n; i++)
    getPaletteFloatBILData(image, row, column, 1, bands ? bands[i] : i, out + i);
}

/* putPixelVector -- stores in[i] into band bands[i] (or i) of one pixel. */
void putPixelVector(RAMIMG *image, int column, int row, int n, const int *bands,
                    const float *in) {
  for (int i = 0; i < n; i++) putFloatBILData(image, row, column, 1, bands ? bands[i] : i, in + i);
}

}  // namespace vesk

/* ---- the exported interface ---- */

int vesk_putUSHORTBILData(RAMIMG *image, int row, int column, int count, int band,
                          const uint16_t *values) {
  return image ? vesk::putUSHORTBILData(image, row, column, count, band, values) : 0;
}
