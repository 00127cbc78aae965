/*
 * georef.cpp --
 *     "rimage georef": resamples a source image into a window of an
 *     existing image through a georectification transform, read from a
 *     parameter file or given inline as a rotation, a scale and a shift.
 *     The window is cut in halves until the source box of a block fits in
 *     4 MB, so that the whole source never has to be held.
 */
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <functional>
#include <iterator>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>
#include "core/options.h"
#include "core/text.h"
#include "core/threads.h"
#include "processing/georecpar.h"
#include "processing/rimage.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

enum {
  GR_IN, GR_OUT, GR_SR, GR_SC, GR_R, GR_C, GR_B, GR_P, GR_O, GR_OV, GR_RS, GR_OPTION_COUNT
};

const ModuleOption georefOptions[] = {
    {"-in", nullptr}, {"-out", nullptr}, {"-sr", nullptr}, {"-sc", nullptr},
    {"-r", nullptr},  {"-c", nullptr},   {"-b", nullptr},  {"-p", nullptr},
    {"-o", nullptr},  {"-ov", nullptr},  {"-rs", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof georefOptions / sizeof georefOptions[0] == GR_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const georefUsage[] = {
    "where IN    input image\n",
    "      OUT   output image\n",
    "      PAR   geo-reference parameter file\n",
    "      SC    start column of the output\n",
    "      SR    start row of the output\n",
    "      R     rows to copy\n",
    "      C     columns to copy\n",
    "      B     band selection: i1[[:o1],i2[:o2],...]\n",
    "      OV    flag of overlay: Y or N\n",
    "      O     flag of overwritten with zero: Y or N\n",
    "      RSP   resampling method: NN (Nearest NB); BI (Bilinear).\n",
};

enum { RS_BILINEAR = 2, RS_NEAREST = 3 };

/* A source block larger than this is cut in two. */
constexpr long long kGeorefBlockBytes = 4194304;

/* The work record of one georef call. */
struct GeorefWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  int startRow = 0, startColumn = 0, lastRow = 0, lastColumn = 0, rows = 0, columns = 0;
  int overlay = 0;
  int zero = 0;
  int pairs = 0;
  std::vector<int> source, dest;
  int method = RS_NEAREST;
  PixelBox inBox{}, outBox{};
  GeoFrame outFrame{};
  GeorecPar par;
  bool failed = false;
  /* Source windows, kept from block to block (a new 4 MB buffer per block
     cost a page fault per 4 KiB). */
  std::vector<float> floatWindow;
  std::vector<unsigned char> byteWindow;
};

PixelBox imagePixelBox(const ImageHeader &h) {
  return PixelBox{h.left, h.top, h.left + h.columns - 1, h.top + h.rows - 1};
}

GeoFrame imageMapFrame(const ImageHeader &h) {
  return GeoFrame{h.x0 + (h.columns - 1) * h.dx, h.x0, h.y0, h.y0 - (h.rows - 1) * h.dy, h.dx,
                  h.dy};
}

GeoFrame imagePixelFrame(const ImageHeader &h) {
  return GeoFrame{static_cast<double>(h.left) + h.columns - 1, static_cast<double>(h.left),
                  static_cast<double>(h.top), static_cast<double>(h.top) + h.rows - 1, 1.0, -1.0};
}

void closeGeoref(GeorefWork *w) {
  if (w->out) closeRAMImage(w->out, nullptr);
  if (w->in) closeRAMImage(w->in, nullptr);
  w->in = w->out = nullptr;
}

/*
 * inlineGeorecPar --
 *     The order-1 transform of a rotation by angle degrees, a scale and a
 *     shift, about the centres of the two images (in pixels with the
 *     overlay flag, else in map units).
 */
void inlineGeorecPar(GeorefWork *w, float angle, float scale, float shiftX, float shiftY) {
  const ImageHeader &ih = w->in->header, &oh = w->out->header;
  double icx, icy, ocx, ocy;
  if (w->overlay) {
    icx = ih.left + (ih.columns - 1) * 0.5;
    icy = ih.top + (ih.rows - 1) * 0.5;
    ocx = oh.left + (oh.columns - 1) * 0.5;
    ocy = oh.top + (oh.rows - 1) * 0.5;
  } else {
    icx = ih.x0 + (ih.columns - 1) * ih.dx * 0.5;
    icy = ih.y0 - (ih.rows - 1) * ih.dy * 0.5;
    ocx = oh.x0 + (oh.columns - 1) * oh.dx * 0.5;
    ocy = oh.y0 - (oh.rows - 1) * oh.dy * 0.5;
  }
  const double theta = angle * 0.005555555555555556 * 3.141592653589793;
  const double alpha = cos(theta) / scale, beta = sin(theta) / scale;
  const double rowCoef[3] = {0, -beta, alpha};
  const double columnCoef[3] = {0, alpha, beta};
  w->par = newGeorecPar(ocx, ocy, icx - shiftX, icy + shiftY, 3, 1, rowCoef, columnCoef);
}

/*
 * parseGeorefOptions --
 *     Reads the options, the transform and the window, and opens both
 *     images.
 * Results:      1; 0 after the message, with nothing left open.
 */
int parseGeorefOptions(GeorefWork *w, int argc, const char **argv) {
  ModuleOption o[GR_OPTION_COUNT + 1];
  std::copy(std::begin(georefOptions), std::end(georefOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  if (!o[GR_IN].value) {
    vesk_fprintf(stderr, "input image is missing!\n");
    return 0;
  }
  if (!o[GR_OUT].value) {
    vesk_fprintf(stderr, "Output file is missing!\n");
    return 0;
  }
  w->zero = o[GR_O].value && o[GR_O].value[0] == 'Y';
  const char *p = o[GR_P].value;
  if (!p) {
    vesk_fprintf(stderr, "rectification parameter missing!\n");
    return 0;
  }
  const bool inlined = p[0] == '@';
  float angle = 0, scale = 1.0f, shiftX = 0, shiftY = 0;
  if (inlined) {
    /* An angle is required; a scale of 0 (or no number at all) has no inverse. */
    if (sscanf(p + 1, "%f,%f,%f,%f", &angle, &scale, &shiftX, &shiftY) < 1 ||
        !std::isfinite(angle) || !(scale != 0) || !std::isfinite(scale) ||
        !std::isfinite(shiftX) || !std::isfinite(shiftY)) {
      vesk_fprintf(stderr, "Illegal inline transform: %s\n", p);
      return 0;
    }
  } else if (!readGeorecPar(p, &w->par)) {
    return 0;
  }
  if (const char *rs = o[GR_RS].value) {
    if (compareNoCase(rs, "NN") == 0) {
      w->method = RS_NEAREST;
    } else if (compareNoCase(rs, "BI") == 0) {
      w->method = RS_BILINEAR;
    } else {
      vesk_fprintf(stderr, "Illegal parameter for rs.\n");
      return 0;
    }
  }
  int err = 0;
  w->in = openRAMImage(o[GR_IN].value, o[GR_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open %s.\n", o[GR_IN].value);
    printRAMImageError(err);
    return 0;
  }
  w->out = openRAMImage(o[GR_OUT].value, o[GR_OUT].value, nullptr, nullptr, &err);
  if (!w->out) {
    vesk_fprintf(stderr, "Error in open %s.\n", o[GR_OUT].value);
    printRAMImageError(err);
    closeGeoref(w);
    return 0;
  }
  const ImageHeader &ih = w->in->header, &oh = w->out->header;
  w->inBox = imagePixelBox(ih);
  w->outBox = imagePixelBox(oh);
  if (const char *ov = o[GR_OV].value) {
    if (compareNoCase(ov, "Y") == 0) {
      w->overlay = 1;
    } else if (compareNoCase(ov, "N") == 0) {
      w->overlay = 0;
    } else {
      vesk_fprintf(stderr, "Illegal params for 'ov'.\n");
      closeGeoref(w);
      return 0;
    }
  } else {
    w->overlay = inlined ? 1 : 0;
  }
  w->outFrame = w->overlay ? imagePixelFrame(oh) : imageMapFrame(oh);
  /* The bounds of a block are traced in steps of the pixel size. */
  if (!(fabs(w->outFrame.dx) > 0) || !(fabs(w->outFrame.dy) > 0) ||
      !std::isfinite(w->outFrame.dx) || !std::isfinite(w->outFrame.dy)) {
    vesk_fprintf(stderr, "Invalid pixel size of the output: %g %g.\n", w->outFrame.dx,
                 w->outFrame.dy);
    closeGeoref(w);
    return 0;
  }
  if (inlined) inlineGeorecPar(w, angle, scale, shiftX, shiftY);

  /* The window, clipped to the output; the last row and column come first. */
  long long sr = o[GR_SR].value ? atol(o[GR_SR].value) : w->outBox.top;
  long long sc = o[GR_SC].value ? atol(o[GR_SC].value) : w->outBox.left;
  long long r = o[GR_R].value ? atol(o[GR_R].value) : oh.rows;
  long long c = o[GR_C].value ? atol(o[GR_C].value) : oh.columns;
  long long lr = sr + r - 1, lc = sc + c - 1;
  sr = std::max<long long>(sr, w->outBox.top);
  sc = std::max<long long>(sc, w->outBox.left);
  lr = std::min<long long>(lr, w->outBox.bottom);
  lc = std::min<long long>(lc, w->outBox.right);
  w->startRow = static_cast<int>(std::min<long long>(sr, w->outBox.bottom + 1LL));
  w->startColumn = static_cast<int>(std::min<long long>(sc, w->outBox.right + 1LL));
  w->lastRow = static_cast<int>(std::max<long long>(lr, w->outBox.top - 1LL));
  w->lastColumn = static_cast<int>(std::max<long long>(lc, w->outBox.left - 1LL));
  w->rows = std::max(0, w->lastRow - w->startRow + 1);
  w->columns = std::max(0, w->lastColumn - w->startColumn + 1);

  w->source.resize(kMaxBandPairs);
  w->dest.resize(kMaxBandPairs);
  w->pairs = parseBandList(ih.nbands, oh.nbands, w->source.data(), w->dest.data(), o[GR_B].value);
  if (w->pairs <= 0) {
    closeGeoref(w);
    return 0;
  }
  return 1;
}

/* The progress of one block: the fraction of band pairs and rows done. */
struct BlockMeter {
  float threshold = 0;
  void step(int pair, int row, int rows, int pairs) {
    const float fraction = static_cast<float>(pair + 1) * static_cast<float>(row + 1) /
                           (static_cast<float>(rows) * static_cast<float>(pairs));
    if (fraction >= threshold) {
      meterSet("georef", threshold);
      threshold += meterInc();
    }
  }
};

/*
 * Reads the source window of one band: rows of the box top to bottom,
 * zeros outside the image.
 */
template <typename T>
void readWindow(RAMIMG *in, const PixelBox &inBox, const PixelBox &box, int band, T *window) {
  const int width = box.right - box.left + 1;
  const int rows = in->header.rows;
  for (int y = box.top; y <= box.bottom; y++) {
    T *line = window + static_cast<size_t>(y - box.top) * width;
    const long long r = static_cast<long long>(y) - inBox.top;
    if (r < 0 || r >= rows) {
      std::fill(line, line + width, T(0));
    } else if (sizeof(T) == 1) {
      getByteBILData(in, static_cast<int>(r), box.left - inBox.left, width, band,
                     reinterpret_cast<unsigned char *>(line));
    } else {
      getFloatBILData(in, static_cast<int>(r), box.left - inBox.left, width, band,
                      reinterpret_cast<float *>(line));
    }
  }
}

/* readFloatWindow, readByteWindow -- the source box of one band as floats or bytes. */
void readFloatWindow(RAMIMG *in, const PixelBox &inBox, const PixelBox &box, int band, float *window) {
  /* The lines of a FLOAT memory input are copied on the worker pool. */
  const int width = box.right - box.left + 1, height = box.bottom - box.top + 1;
  std::vector<const float *> lines(static_cast<size_t>(height));
  for (int y = box.top; y <= box.bottom; y++) {
    const long long r = static_cast<long long>(y) - inBox.top;
    if (r < 0 || r >= in->header.rows) continue;
    if (!(lines[y - box.top] = residentFloatLine(in, static_cast<int>(r), band))) {
      readWindow(in, inBox, box, band, window);
      return;
    }
  }
  /* Window columns [lo, hi) lie inside the image; zeros elsewhere. */
  const long long first = static_cast<long long>(box.left) - inBox.left;
  const int lo = static_cast<int>(std::clamp<long long>(-first, 0, width));
  const int hi = static_cast<int>(std::clamp<long long>(in->header.columns - first, lo, width));
  parallelRows(height, rowGrain(width), [&](int y0, int y1) {
    for (int y = y0; y < y1; y++) {
      float *to = window + static_cast<size_t>(y) * width;
      if (!lines[y]) {
        std::fill(to, to + width, 0.0f);
        continue;
      }
      std::fill(to, to + lo, 0.0f);
      std::copy(lines[y] + (first + lo), lines[y] + (first + hi), to + lo);
      std::fill(to + hi, to + width, 0.0f);
    }
  });
}
void readByteWindow(RAMIMG *in, const PixelBox &inBox, const PixelBox &box, int band,
                    unsigned char *window) {
  readWindow(in, inBox, box, band, window);
}

/* A source coordinate as an int when it lies within +-2^30; else false. */
inline bool truncated(double t, int *out) {
  if (!(t > -1073741824.0 && t < 1073741824.0)) return false;
  *out = static_cast<int>(t);
  return true;
}

/*
 * affineBilinearFloat --
 *     Bilinear samples of a float window at the positions of an affine
 *     row, every square inside the window: the worker's arithmetic, built
 *     for the baseline and for AVX2 machines (no fused multiply-adds, so
 *     both give the same values).
 */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void affineBilinearFloat(const double *__restrict us, int n, const double *pairs,
                         const float *__restrict window, int width, int left, int top,
                         float *__restrict out) {
  const double a0 = pairs[0], a1 = pairs[1], a2 = pairs[2], a3 = pairs[3];
  for (int k = 0; k < n; k++) {
    const double Y = a0 + us[k] * a2;
    const double X = a1 + us[k] * a3;
    const int ix = static_cast<int>(X), iy = static_cast<int>(Y);
    const float fx = static_cast<float>(X - ix), fy = static_cast<float>(Y - iy);
    const int at = (iy - top) * width + (ix - left);
    const float p00 = window[at], p10 = window[at + 1];
    const float p01 = window[at + width], p11 = window[at + width + 1];
    out[k] = (1 - fx) * (1 - fy) * p00 + fx * (1 - fy) * p10 + (1 - fx) * fy * p01 + fx * fy * p11;
  }
}

/*
 * affineRange --
 *     The columns j in [*from, *to) of a row whose source position
 *     (pairs[1] + u_j pairs[3], pairs[0] + u_j pairs[2]), u_j = u0 + j du,
 *     lies in [xmin, xmax] x [ymin, ymax]; slack columns are taken off each
 *     end (negative slack adds them), for the rounding of the running u.
 *     An empty range when there is none.
 */
void affineRange(const double *pairs, double u0, double du, int columns, double xmin, double xmax,
                 double ymin, double ymax, int slack, int *from, int *to) {
  double lo = 0, hi = columns - 1.0;
  *from = *to = 0;
  if (!(xmin <= xmax && ymin <= ymax)) return;
  /* a + (u0 + j du) b within [min, max]: a linear bound on j. */
  auto bound = [&](double a, double b, double min, double max) {
    const double slope = du * b, at0 = a + u0 * b;
    if (slope == 0) {
      if (!(at0 >= min && at0 <= max)) hi = -1;
      return;
    }
    double j1 = (min - at0) / slope, j2 = (max - at0) / slope;
    if (j1 > j2) std::swap(j1, j2);
    lo = std::max(lo, j1);
    hi = std::min(hi, j2);
  };
  bound(pairs[1], pairs[3], xmin, xmax);
  bound(pairs[0], pairs[2], ymin, ymax);
  if (!(lo <= hi) || !isfinite(lo) || !isfinite(hi)) return;
  lo = std::max(0.0, ceil(lo) + slack);
  hi = std::min(columns - 1.0, floor(hi) - slack);
  if (!(lo <= hi)) return;
  *from = static_cast<int>(lo);
  *to = static_cast<int>(hi) + 1;
}

/* A block's source pixels: pixel (x, y) of `held` at base[(y - held.top)
   stride + (x - held.left)], either a copied window (held is the whole
   source box, zeros outside the image) or the input's own lines (held is
   the part of the box inside the image: the pixels outside it read as 0). */
template <typename Src>
struct SourceView {
  const Src *base;
  int stride;
  PixelBox held;
  const Src *at(int x, int y) const {
    return base + static_cast<size_t>(y - held.top) * stride + (x - held.left);
  }
  float value(int x, int y) const {
    if (x < held.left || x > held.right || y < held.top || y > held.bottom) return 0.0f;
    return static_cast<float>(*at(x, y));
  }
};

/*
 * The samples of one block over one band pair, row by row.  Src is the
 * source's type, Dst the output row's; the byte-to-byte worker
 * (clampEdge) takes anchors up to the box's last column and row,
 * repeating them as neighbours, and rounds its values into 0..255.  A
 * row's samples depend on that row alone.
 */
template <typename Src, typename Dst, bool clampEdge>
struct BlockSampler {
  const GeorefWork *w;
  GeoFrame frame;
  PixelBox box;
  int columns;
  SourceView<Src> src;
  /* The row and column coordinates as the block's loops step them (serial
     sums), the same for every row. */
  std::vector<double> vs, us;

  BlockSampler(const GeorefWork *work, const GeoFrame &f, const PixelBox &b, int rows, int c,
               const SourceView<Src> &view)
      : w(work), frame(f), box(b), columns(c), src(view), vs(static_cast<size_t>(rows)),
        us(static_cast<size_t>(c)) {
    double v = frame.yFirst - w->par.yc;
    for (int i = 0; i < rows; i++, v -= frame.dy) vs[i] = v;
    double u = frame.xFirst - w->par.xc;
    for (int j = 0; j < c; j++, u += frame.dx) us[j] = u;
  }

  /* The samples of block row i into line, which holds the row as it was. */
  void row(int i, Dst *line) const {
    const GeorecPar &par = w->par;
    const int count = reducedCount(par);
    const bool nearest = w->method == RS_NEAREST;
    double pairs[2 * (kGeorecMaxOrder + 1)];
    reduceAtY(par, pairs, vs[i]);
    const double u0 = frame.xFirst - par.xc;
    /* Affine bilinear: columns whose four neighbours surely lie in the box
       (a pixel of margin each side) need no tests; columns surely far
       from it (two pixels of margin) are skipped without a position. */
    int fastFrom = columns, fastTo = columns, nearFrom = 0, nearTo = columns;
    /* Runs of columns surely inside the box and a pixel clear of the part
       held (the image's lines): their samples are 0.  In order, apart. */
    std::pair<int, int> zero[4];  /* [first, second) */
    int zeros = 0;
    if (count == 2 && !nearest && !clampEdge) {
      const PixelBox &held = src.held;
      affineRange(pairs, u0, frame.dx, columns, held.left + 1.0, held.right - 2.0, held.top + 1.0,
                  held.bottom - 2.0, 1, &fastFrom, &fastTo);
      if (fastFrom == fastTo) fastFrom = fastTo = columns;
      affineRange(pairs, u0, frame.dx, columns, box.left - 2.0, box.right + 2.0, box.top - 2.0,
                  box.bottom + 2.0, -1, &nearFrom, &nearTo);
      if (held.left != box.left || held.right != box.right || held.top != box.top ||
          held.bottom != box.bottom) {
        const double x0 = box.left + 1.0, x1 = box.right - 2.0;
        const double y0 = box.top + 1.0, y1 = box.bottom - 2.0;
        const double sides[4][4] = {{x0, std::min(x1, held.left - 3.0), y0, y1},
                                    {std::max(x0, held.right + 2.0), x1, y0, y1},
                                    {x0, x1, y0, std::min(y1, held.top - 3.0)},
                                    {x0, x1, std::max(y0, held.bottom + 2.0), y1}};
        for (const double *side : sides) {
          int from, to;
          affineRange(pairs, u0, frame.dx, columns, side[0], side[1], side[2], side[3], 1, &from,
                      &to);
          if (from >= to) continue;
          /* Kept in order of their starts. */
          int at = zeros++;
          for (; at > 0 && zero[at - 1].first > from; at--) zero[at] = zero[at - 1];
          zero[at] = {from, to};
        }
        /* Overlapping runs joined. */
        int joined = 0;
        for (int z = 0; z < zeros; z++) {
          if (joined > 0 && zero[z].first <= zero[joined - 1].second)
            zero[joined - 1].second = std::max(zero[joined - 1].second, zero[z].second);
          else
            zero[joined++] = zero[z];
        }
        zeros = joined;
      }
    }
    for (int j = 0, z = 0; j < columns; j++) {
      if (j < nearFrom || j >= nearTo) continue;
      while (z < zeros && zero[z].second <= j) z++;
      if (z < zeros && j >= zero[z].first) {
        std::fill(line + j, line + zero[z].second, Dst(0));
        j = zero[z].second - 1;
        continue;
      }
      if (j == fastFrom) {
        const int n = fastTo - fastFrom;
        if constexpr (std::is_same<Src, float>::value && std::is_same<Dst, float>::value) {
          affineBilinearFloat(us.data() + j, n, pairs, src.base, src.stride, src.held.left,
                              src.held.top, line + j);
        } else {
          for (int k = 0; k < n; k++) {
            const double Y = pairs[0] + us[j + k] * pairs[2];
            const double X = pairs[1] + us[j + k] * pairs[3];
            const int ix = static_cast<int>(X), iy = static_cast<int>(Y);
            const float fx = static_cast<float>(X - ix), fy = static_cast<float>(Y - iy);
            const Src *p = src.at(ix, iy);
            const float p00 = p[0], p10 = p[1], p01 = p[src.stride], p11 = p[src.stride + 1];
            line[j + k] = static_cast<Dst>((1 - fx) * (1 - fy) * p00 + fx * (1 - fy) * p10 +
                                           (1 - fx) * fy * p01 + fx * fy * p11);
          }
        }
        j = fastTo;
        if (j >= columns) break;
      }
      const double u = us[j];
      double X, Y;
      if (count == 2) {
        Y = pairs[0] + u * pairs[2];
        X = pairs[1] + u * pairs[3];
      } else {
        evalReduced(pairs, count, u, &X, &Y);
      }
      int ix, iy;
      if (nearest) {
        if (!truncated(X + 0.5, &ix) || !truncated(Y + 0.5, &iy)) continue;
        if (ix < box.left || ix > box.right || iy < box.top || iy > box.bottom) continue;
        line[j] = static_cast<Dst>(src.value(ix, iy));
        continue;
      }
      if (!truncated(X, &ix) || !truncated(Y, &iy)) continue;
      const float fx = static_cast<float>(X - ix), fy = static_cast<float>(Y - iy);
      if (clampEdge) {
        if (ix < box.left || ix > box.right || iy < box.top || iy > box.bottom) continue;
      } else {
        if (ix < box.left || ix >= box.right || iy < box.top || iy >= box.bottom) continue;
      }
      const int ix1 = clampEdge && ix == box.right ? ix : ix + 1;
      const int iy1 = clampEdge && iy == box.bottom ? iy : iy + 1;
      const PixelBox &held = src.held;
      if (ix1 < held.left || ix > held.right || iy1 < held.top || iy > held.bottom) {
        /* Four zeros: the sum below is +0 (its first weight is positive). */
        line[j] = Dst(0);
        continue;
      }
      const float p00 = src.value(ix, iy), p10 = src.value(ix1, iy);
      const float p01 = src.value(ix, iy1), p11 = src.value(ix1, iy1);
      const float value = (1 - fx) * (1 - fy) * p00 + fx * (1 - fy) * p10 +
                          (1 - fx) * fy * p01 + fx * fy * p11;
      if (clampEdge)
        line[j] = static_cast<Dst>(std::max(0, std::min(255, roundToInt(value))));
      else
        line[j] = static_cast<Dst>(value);
    }
  }
};

/*
 * The worker of one block over one band pair, from its copied window.
 * The output rows are read (or cleared) and written on this thread, a
 * FLOAT memory output's where its lines lie; the samples of each row are
 * worked out in blocks of rows on the worker pool.
 */
template <typename Src, typename Dst, bool clampEdge>
void georefWorker(GeorefWork *w, const GeoFrame &frame, const PixelBox &box, int startRow,
                  int startColumn, int rows, int columns, const Src *window, int pair,
                  BlockMeter *meter) {
  const int width = box.right - box.left + 1;
  const int dstBand = w->dest[pair];
  const int outColumn = startColumn - w->outBox.left;
  const bool nearest = w->method == RS_NEAREST;
  const BlockSampler<Src, Dst, clampEdge> sampler(w, frame, box, rows, columns,
                                                  SourceView<Src>{window, width, box});

  /* Rows in rounds whose buffered lines stay within the block's 4 MB. */
  const int chunk = static_cast<int>(std::clamp<long long>(
      kGeorefBlockBytes / (static_cast<long long>(columns) * sizeof(Dst)), 1, rows));
  std::vector<Dst *> lines(static_cast<size_t>(chunk));
  std::vector<Dst> buffer;
  const int grain = rowGrain(static_cast<long long>(columns) * (nearest ? 1 : 4));
  for (int i0 = 0; i0 < rows; i0 += chunk) {
    const int n = std::min(chunk, rows - i0);
    /* A FLOAT memory output is written where its lines lie. */
    bool direct = std::is_same<Dst, float>::value && outColumn >= 0 &&
                  outColumn + static_cast<long long>(columns) <= w->out->header.columns;
    for (int k = 0; k < n && direct; k++) {
      float *held = residentFloatLine(w->out, startRow + i0 + k - w->outBox.top, dstBand);
      direct = held != nullptr;
      lines[k] = reinterpret_cast<Dst *>(held + outColumn);
    }
    if (direct) {
      for (int k = 0; k < n; k++) {
        setRAMImageDirty(w->out, startRow + i0 + k - w->outBox.top, dstBand);
        if (w->zero) std::fill(lines[k], lines[k] + columns, Dst(0));
      }
    } else {
      if (buffer.size() < static_cast<size_t>(n) * columns)
        buffer.resize(static_cast<size_t>(n) * columns);
      for (int k = 0; k < n; k++) {
        Dst *line = lines[k] = buffer.data() + static_cast<size_t>(k) * columns;
        const int outRow = startRow + i0 + k - w->outBox.top;
        if (w->zero) {
          std::fill(line, line + columns, Dst(0));
        } else if (sizeof(Dst) == 1) {
          getByteBILData(w->out, outRow, outColumn, columns, dstBand,
                         reinterpret_cast<unsigned char *>(line));
        } else {
          getFloatBILData(w->out, outRow, outColumn, columns, dstBand,
                          reinterpret_cast<float *>(line));
        }
      }
    }
    parallelRows(n, grain, [&](int first, int end) {
      for (int k = first; k < end; k++) sampler.row(i0 + k, lines[k]);
    });
    for (int k = 0; k < n; k++) {
      const int outRow = startRow + i0 + k - w->outBox.top;
      if (!direct) {
        if (sizeof(Dst) == 1)
          putByteBILData(w->out, outRow, outColumn, columns, dstBand,
                         reinterpret_cast<const unsigned char *>(lines[k]));
        else
          putFloatBILData(w->out, outRow, outColumn, columns, dstBand,
                          reinterpret_cast<const float *>(lines[k]));
      }
      meter->step(pair, i0 + k, rows, w->pairs);
    }
  }
  if (w->out->hist) resetBandHist(w->out->hist, dstBand);
}

template <typename Src> std::vector<Src> &windowOf(GeorefWork *w);
template <> std::vector<float> &windowOf<float>(GeorefWork *w) { return w->floatWindow; }
template <> std::vector<unsigned char> &windowOf<unsigned char>(GeorefWork *w) { return w->byteWindow; }

/* Allocates the window and a row, then runs the worker over every pair. */
template <typename Src, typename Dst, bool clampEdge>
bool georefPairs(GeorefWork *w, const GeoFrame &frame, const PixelBox &box, long long pixels,
                 int startRow, int startColumn, int rows, int columns) {
  std::vector<Src> &window = windowOf<Src>(w);
  try {
    if (window.size() < static_cast<size_t>(pixels)) window.resize(static_cast<size_t>(pixels));
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in malloc.\n");
    return false;
  }
  BlockMeter meter;
  for (int k = 0; k < w->pairs; k++) {
    if constexpr (std::is_same<Src, float>::value)
      readFloatWindow(w->in, w->inBox, box, w->source[k], window.data());
    else
      readByteWindow(w->in, w->inBox, box, w->source[k], window.data());
    georefWorker<Src, Dst, clampEdge>(w, frame, box, startRow, startColumn, rows, columns,
                                      window.data(), k, &meter);
  }
  meterSet("georef", 1.0f);
  return true;
}

/* The three workers: float source, byte source into a float output, bytes into bytes. */
bool georefFloatBlock(GeorefWork *w, const GeoFrame &frame, const PixelBox &box, long long pixels,
                      int startRow, int startColumn, int rows, int columns) {
  return georefPairs<float, float, false>(w, frame, box, pixels, startRow, startColumn, rows,
                                          columns);
}
bool georefByteFloatBlock(GeorefWork *w, const GeoFrame &frame, const PixelBox &box,
                          long long pixels, int startRow, int startColumn, int rows, int columns) {
  return georefPairs<unsigned char, float, false>(w, frame, box, pixels, startRow, startColumn,
                                                  rows, columns);
}
bool georefByteBlock(GeorefWork *w, const GeoFrame &frame, const PixelBox &box, long long pixels,
                     int startRow, int startColumn, int rows, int columns) {
  return georefPairs<unsigned char, unsigned char, true>(w, frame, box, pixels, startRow,
                                                         startColumn, rows, columns);
}

/* A block of the window and its source box. */
struct GeorefLeaf {
  GeoFrame frame;
  PixelBox box;
  long long pixels;
  int startRow, startColumn, rows, columns;
  int flag;  /* how georefBlocks cuts it next */
};

/*
 * cornerPixels --
 *     At most the pixels of a block's source box (blockSourceBox, not
 *     clipped), without tracing its edges: the box of the four corners
 *     that the trace passes through, a pixel in from each side against
 *     rounding; 0 when a corner has no finite image.
 */
long long cornerPixels(const GeorefWork *w, int startRow, int startColumn, int rows,
                       int columns) {
  const GeorecPar &par = w->par;
  const GeoFrame &of = w->outFrame;
  const double xFirst = static_cast<double>(startColumn - w->outBox.left) * of.dx + of.xFirst;
  const double yFirst = static_cast<double>(w->outBox.top - startRow) * of.dy + of.yFirst;
  const double xLast = xFirst + (columns - 1) * of.dx;
  const double yLast = yFirst - (rows - 1) * of.dy;
  const double sx = fabs(of.dx);
  const double x0 = std::min(xFirst, xLast), x1 = std::max(xFirst, xLast);
  const long long nx = static_cast<long long>(std::min((x1 - x0) / sx, 1e9)) + 1;
  double pairs[2 * (kGeorecMaxOrder + 1)];
  const int count = reducedCount(par);
  /* Within the bounds a traced box is held to (2^29). */
  const double limit = 536870912.0;
  double lo[2] = {limit, limit}, hi[2] = {-limit, -limit};
  for (double y : {yLast, yFirst}) {
    reduceAtY(par, pairs, y - par.yc);
    for (double x : {x0, x0 + static_cast<double>(nx - 1) * sx}) {
      double X, Y;
      evalReduced(pairs, count, x - par.xc, &X, &Y);
      if (!std::isfinite(X) || !std::isfinite(Y)) return 0;
      lo[0] = std::min(lo[0], std::max(X, -limit));
      hi[0] = std::max(hi[0], std::min(X, limit));
      lo[1] = std::min(lo[1], std::max(Y, -limit));
      hi[1] = std::max(hi[1], std::min(Y, limit));
    }
  }
  const double width = hi[0] - lo[0] - 1, height = hi[1] - lo[1] - 1;
  if (!(width > 0 && height > 0)) return 0;
  return static_cast<long long>(width) * static_cast<long long>(height);
}

/*
 * georefBlocks --
 *     Cuts a block of the window in two while its source box exceeds
 *     4 MB (rows first when flag is 0, columns when 1, alternating) and
 *     hands each block with a source to `leaf`, in order.  A block whose
 *     corners alone span more is cut without tracing its edges.  A single
 *     pixel whose box is still too large (a transform that spreads it over
 *     a huge area) takes the box clipped to the input instead of being cut
 *     forever.  Without `trace`, the blocks that are not surely too large
 *     go to `leaf` as they are, untraced (no frame, box or pixels), for
 *     the caller to cut with georefBlocks.
 * Results:      false as soon as `leaf` gives false.
 */
bool georefBlocks(GeorefWork *w, int startRow, int startColumn, int rows, int columns, int flag,
                  const std::function<bool(const GeorefLeaf &)> &leaf, bool trace = true) {
  if (rows <= 0 || columns <= 0) return true;
  const long long bytes = readsAsBytes(w->in->header) ? 1 : 4;
  GeorefLeaf b{{}, {}, 0, startRow, startColumn, rows, columns, flag};
  bool cut = (rows > 1 || columns > 1) &&
             cornerPixels(w, startRow, startColumn, rows, columns) * bytes > kGeorefBlockBytes;
  if (!cut && !trace) return leaf(b);
  if (!cut) {
    b.pixels = blockSourceBox(w->par, &b.frame, &b.box, w->outFrame, w->outBox, w->inBox,
                              startRow, startColumn, rows, columns, 0);
    if (b.pixels * bytes > kGeorefBlockBytes) {
      if (rows > 1 || columns > 1)
        cut = true;
      else
        b.pixels = blockSourceBox(w->par, &b.frame, &b.box, w->outFrame, w->outBox, w->inBox,
                                  startRow, startColumn, rows, columns, 1);
    }
  }
  if (cut) {
    if ((flag == 0 && rows > 1) || columns == 1) {
      const int half = rows / 2;
      return georefBlocks(w, startRow, startColumn, half, columns, 1, leaf, trace) &&
             georefBlocks(w, startRow + half, startColumn, rows - half, columns, 1, leaf, trace);
    }
    const int half = columns / 2;
    return georefBlocks(w, startRow, startColumn, rows, half, 0, leaf, trace) &&
           georefBlocks(w, startRow, startColumn + half, rows, columns - half, 0, leaf, trace);
  }
  if (b.pixels <= 0) return true;
  return leaf(b);
}

/*
 * georefLeaves --
 *     georefBlocks' blocks of the whole window, in its order: the blocks
 *     surely too large are cut here, the others' edges traced (and cut
 *     further where need be) on the worker pool.
 */
std::vector<GeorefLeaf> georefLeaves(GeorefWork *w) {
  std::vector<GeorefLeaf> parts, leaves;
  georefBlocks(
      w, w->startRow, w->startColumn, w->rows, w->columns, w->rows > w->columns ? 1 : 0,
      [&](const GeorefLeaf &b) {
        parts.push_back(b);
        return true;
      },
      false);
  std::vector<std::vector<GeorefLeaf>> found(parts.size());
  parallelFor(static_cast<int>(parts.size()), [&](int i) {
    const GeorefLeaf &p = parts[i];
    georefBlocks(w, p.startRow, p.startColumn, p.rows, p.columns, p.flag,
                 [&](const GeorefLeaf &b) {
                   found[i].push_back(b);
                   return true;
                 });
  });
  for (const std::vector<GeorefLeaf> &some : found) leaves.insert(leaves.end(), some.begin(), some.end());
  return leaves;
}

/* georefBlock -- one block, its source window copied band pair by band pair. */
bool georefBlock(const GeorefLeaf &b, GeorefWork *w) {
  if (!readsAsBytes(w->in->header))
    return georefFloatBlock(w, b.frame, b.box, b.pixels, b.startRow, b.startColumn, b.rows,
                            b.columns);
  if (!readsAsBytes(w->out->header))
    return georefByteFloatBlock(w, b.frame, b.box, b.pixels, b.startRow, b.startColumn, b.rows,
                                b.columns);
  return georefByteBlock(w, b.frame, b.box, b.pixels, b.startRow, b.startColumn, b.rows,
                         b.columns);
}

/* heldRows -- georefHeld's block rows [first, end) into the window's output
   lines of a band pair, cleared first when asked. */
void heldRows(const GeorefWork *w, const GeorefLeaf &b,
              const BlockSampler<float, float, false> &sampler, float *const *pairLines,
              int first, int end) {
  for (int i = first; i < end; i++) {
    float *line = pairLines[b.startRow - w->startRow + i] + (b.startColumn - w->startColumn);
    if (w->zero) std::fill(line, line + b.columns, 0.0f);
    sampler.row(i, line);
  }
}

/*
 * georefInPlace --
 *     georefHeld's blocks sampling the input's lines in place (band k's
 *     row r at inLines[k][0] + r x strides[k]), written into the output
 *     rows lines[k][i]: each block's rows cut into pieces, enough pieces
 *     for every thread, on the worker pool a band pair at a time.
 */
void georefInPlace(GeorefWork *w, const std::vector<GeorefLeaf> &leaves,
                   const std::vector<const float *> &inLines, const std::vector<int> &strides,
                   const std::vector<float *> &lines) {
  const ImageHeader &ih = w->in->header;
  struct Piece {
    int leaf, first, end;  /* rows [first, end) of the block */
  };
  std::vector<Piece> pieces;
  const int wanted = workerCount() * 8;
  const int perLeaf = static_cast<int>((wanted + leaves.size() - 1) / leaves.size());
  for (size_t l = 0; l < leaves.size(); l++) {
    const GeorefLeaf &b = leaves[l];
    const int step = std::max(rowGrain(static_cast<long long>(b.columns) * 4),
                              (b.rows + perLeaf - 1) / perLeaf);
    for (int first = 0; first < b.rows; first += step)
      pieces.push_back({static_cast<int>(l), first, std::min(b.rows, first + step)});
  }
  const int count = static_cast<int>(pieces.size());
  BlockMeter meter;
  for (int k = 0; k < w->pairs; k++) {
    const float *band = inLines[static_cast<size_t>(k) * ih.rows];
    float *const *pairLines = lines.data() + static_cast<size_t>(k) * w->rows;
    parallelRows(
        count, 1,
        [&](int p0, int p1) {
          for (int p = p0; p < p1; p++) {
            const GeorefLeaf &b = leaves[pieces[p].leaf];
            /* The part of the source box inside the input. */
            PixelBox held{std::max(b.box.left, w->inBox.left), std::max(b.box.top, w->inBox.top),
                          std::min(b.box.right, w->inBox.right),
                          std::min(b.box.bottom, w->inBox.bottom)};
            const float *base = nullptr;
            if (held.left <= held.right && held.top <= held.bottom)
              base = band + static_cast<size_t>(held.top - w->inBox.top) * strides[k] +
                     (held.left - w->inBox.left);
            else
              held = PixelBox{0, 0, -1, -1};
            const BlockSampler<float, float, false> sampler(
                w, b.frame, b.box, b.rows, b.columns,
                SourceView<float>{base, strides[k], held});
            heldRows(w, b, sampler, pairLines, pieces[p].first, pieces[p].end);
          }
        },
        [&](int done) {
          if (done > 0) meter.step(k, done - 1, count, w->pairs);
          return true;
        });
    if (w->out->hist) resetBandHist(w->out->hist, w->dest[k]);
  }
  meterSet("georef", 1.0f);
}

/*
 * georefHeld --
 *     FLOAT memory images in and out (not the same one): the output's
 *     lines are written where they lie, by blocks on the worker pool.
 *     When each source band's lines lie a fixed stride apart (a memory
 *     image's lines are one block) the blocks sample those lines in place
 *     and their rows are cut into pieces enough for every thread.  Else,
 *     with blocks enough for every thread, the blocks of a band pair go to
 *     the pool at once (in rounds, for the meter), each copying its own
 *     source window from the input's lines.  Either way the samples are
 *     georefBlock's.
 * Results:      false when the images don't allow it (nothing done).
 */
bool georefHeld(GeorefWork *w) {
  const ImageHeader &ih = w->in->header;
  if (w->in == w->out || w->rows <= 0 || w->columns <= 0 || readsAsBytes(ih)) return false;
  /* The input lines of each source band. */
  std::vector<const float *> inLines(static_cast<size_t>(w->pairs) * ih.rows);
  for (int k = 0; k < w->pairs; k++)
    for (int r = 0; r < ih.rows; r++)
      if (!(inLines[static_cast<size_t>(k) * ih.rows + r] =
                residentFloatLine(w->in, r, w->source[k])))
        return false;
  /* In place: every band's lines a fixed stride apart, offsets within an int. */
  std::vector<int> strides(static_cast<size_t>(w->pairs), ih.columns);
  bool inPlace = true;
  for (int k = 0; k < w->pairs && inPlace; k++) {
    const float *const *band = inLines.data() + static_cast<size_t>(k) * ih.rows;
    const uintptr_t first = reinterpret_cast<uintptr_t>(band[0]);
    const uintptr_t step = ih.rows > 1 ? reinterpret_cast<uintptr_t>(band[1]) - first
                                       : ih.columns * sizeof(float);
    inPlace = step % sizeof(float) == 0 && step / sizeof(float) >= static_cast<size_t>(ih.columns) &&
              step / sizeof(float) * (static_cast<uintptr_t>(ih.rows) + 1) < INT_MAX;
    for (int r = 2; r < ih.rows && inPlace; r++)
      inPlace = reinterpret_cast<uintptr_t>(band[r]) == first + step * r;
    strides[k] = static_cast<int>(step / sizeof(float));
  }
  if (!inPlace && workerCount() < 2) return false;
  const std::vector<GeorefLeaf> leaves = georefLeaves(w);
  if (leaves.empty() || (!inPlace && leaves.size() < static_cast<size_t>(workerCount()) * 2))
    return false;
  const int outColumn = w->startColumn - w->outBox.left;
  std::vector<float *> lines(static_cast<size_t>(w->pairs) * w->rows);
  for (int k = 0; k < w->pairs; k++)
    for (int i = 0; i < w->rows; i++) {
      float *line = residentFloatLine(w->out, w->startRow + i - w->outBox.top, w->dest[k]);
      if (!line) return false;
      lines[static_cast<size_t>(k) * w->rows + i] = line + outColumn;
    }
  for (int k = 0; k < w->pairs; k++)
    for (int i = 0; i < w->rows; i++)
      setRAMImageDirty(w->out, w->startRow + i - w->outBox.top, w->dest[k]);
  if (inPlace) {
    georefInPlace(w, leaves, inLines, strides, lines);
    return true;
  }

  BlockMeter meter;
  const size_t round = std::max<size_t>(static_cast<size_t>(workerCount()) * 8,
                                        (leaves.size() + 3) / 4);
  for (int k = 0; k < w->pairs; k++) {
    const float *const *bandLines = inLines.data() + static_cast<size_t>(k) * ih.rows;
    float *const *pairLines = lines.data() + static_cast<size_t>(k) * w->rows;
    for (size_t l0 = 0; l0 < leaves.size(); l0 += round) {
      const size_t l1 = std::min(leaves.size(), l0 + round);
      parallelFor(static_cast<int>(l1 - l0), [&](int p) {
        const GeorefLeaf &b = leaves[l0 + p];
        const PixelBox &box = b.box;
        /* Each thread keeps its window (up to 4 MB) from block to block. */
        thread_local std::vector<float> window;
        const int width = box.right - box.left + 1;
        if (window.size() < static_cast<size_t>(b.pixels)) window.resize(static_cast<size_t>(b.pixels));
        /* Window columns [lo, hi) lie inside the input; zeros elsewhere. */
        const long long first = static_cast<long long>(box.left) - w->inBox.left;
        const int lo = static_cast<int>(std::clamp<long long>(-first, 0, width));
        const int hi = static_cast<int>(std::clamp<long long>(ih.columns - first, lo, width));
        for (int y = box.top; y <= box.bottom; y++) {
          float *to = window.data() + static_cast<size_t>(y - box.top) * width;
          const long long r = static_cast<long long>(y) - w->inBox.top;
          if (r < 0 || r >= ih.rows) {
            std::fill(to, to + width, 0.0f);
            continue;
          }
          std::fill(to, to + lo, 0.0f);
          std::copy(bandLines[r] + (first + lo), bandLines[r] + (first + hi), to + lo);
          std::fill(to + hi, to + width, 0.0f);
        }
        const BlockSampler<float, float, false> sampler(
            w, b.frame, box, b.rows, b.columns,
            SourceView<float>{window.data(), width, box});
        heldRows(w, b, sampler, pairLines, 0, b.rows);
      });
      meter.step(k, static_cast<int>(l1 - 1), static_cast<int>(leaves.size()), w->pairs);
    }
    if (w->out->hist) resetBandHist(w->out->hist, w->dest[k]);
  }
  meterSet("georef", 1.0f);
  return true;
}

int runGeoref(GeorefWork *w) {
  bool ok;
  try {
    ok = georefHeld(w) ||
         georefBlocks(w, w->startRow, w->startColumn, w->rows, w->columns,
                      w->rows > w->columns ? 1 : 0,
                      [w](const GeorefLeaf &b) { return georefBlock(b, w); });
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in malloc.\n");
    ok = false;
  }
  closeRAMImage(w->in, nullptr);
  w->in = nullptr;
  updateClient(w->out, nullptr, 2);
  closeRAMImage(w->out, nullptr);
  w->out = nullptr;
  meterReset();
  return ok ? 1 : 0;
}

}  // namespace

/*
 * georefModule --
 *     "rimage georef -in IN -out OUT -p PAR ...".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int georefModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -p PAR -sc SC -sr SR -r R -c C -b B -ov OV -o O "
                "-rs RSP\n",
                prog);
    for (const char *line : georefUsage) vesk_printf("%s", line);
    return 2;
  }
  GeorefWork work;
  if (!parseGeorefOptions(&work, argc, argv)) return 0;
  return runGeoref(&work);
}

}  // namespace vesk
