/*
 * profile.cpp --
 *     Profiles and segments: samples of an image along a straight line,
 *     one pixel at a time (nearest pixel or bilinear), and a sequence of
 *     value groups written along a segment, each pixel once.  Coordinates
 *     come from scripts, so every one is tested against the image before
 *     it becomes an integer.
 */
#include "raster/profile.h"

#include <math.h>
#include <algorithm>
#include <vector>

#include "core/text.h"
#include "raster/pixels.h"

namespace vesk {
namespace {

/*
 * A coordinate truncated toward zero when it lies in (-2, limit + 1), the
 * only places where a cell or its neighbour can touch the image; false
 * for anything else (NaN, far away), which reads as outside.
 */
bool profileCell(float v, int limit, int *cell) {
  if (!(v > -2.0f && v < static_cast<float>(limit) + 1.0f)) return false;
  *cell = static_cast<int>(v);
  return true;
}

bool profileInside(const RAMIMG *image, int c, int r) {
  return c >= 0 && r >= 0 && c < image->header.columns && r < image->header.rows;
}

}  // namespace

/*
 * getRAMImageProfile --
 *     n samples of one band along the ray from (cx, cy) at the angle
 *     (counterclockwise, rows growing downward), from the start distance
 *     in steps.  Method 1 rounds to the nearest pixel; method 2 weighs the
 *     four pixels of the cell, neighbours beyond the image counting as 0.
 * Results:      out; samples outside the image are 0.  Other methods leave
 *     out untouched.
 */
float *getRAMImageProfile(RAMIMG *image, float cx, float cy, int band, float angle, float step,
                          float start, float *out, int n, int method) {
  if (method != kSampleNearest && method != kSampleBilinear) return out;
  const double ca = cos(angle), sa = -sin(angle);
  const int rows = image->header.rows, columns = image->header.columns;
  for (int k = 0; k < n; k++) {
    const double d = start + static_cast<double>(k) * step;
    const float x = static_cast<float>(cx + ca * d);
    const float y = static_cast<float>(cy + sa * d);
    out[k] = 0;
    if (method == kSampleNearest) {
      const int c = roundToInt(x), r = roundToInt(y);
      if (profileInside(image, c, r)) out[k] = getPixelValue(image, c, r, band);
      continue;
    }
    int c, r;
    if (!profileCell(x, columns, &c) || !profileCell(y, rows, &r)) continue;
    if (!profileInside(image, c, r)) continue;
    const float fx = x - static_cast<float>(c), fy = y - static_cast<float>(r);
    out[k] = (1 - fx) * (1 - fy) * getPixelValue(image, c, r, band) +
             fx * (1 - fy) * getPixelValue(image, c + 1, r, band) +
             (1 - fx) * fy * getPixelValue(image, c, r + 1, band) +
             fx * fy * getPixelValue(image, c + 1, r + 1, band);
  }
  return out;
}

/*
 * getRAMImageSeg --
 *     n samples of nb bands from (x0, y0) to (x1, y1), pixel-interleaved:
 *     sample k, band i at out[k x nb + i].  Bilinear sampling takes the
 *     pixel itself as its neighbour at the last column and row.
 * Results:      out; samples outside the image are 0 for every band.
 */
float *getRAMImageSeg(RAMIMG *image, float x0, float y0, float x1, float y1, int nb,
                      const int *bands, float *out, int n, int method) {
  if (method != kSampleNearest && method != kSampleBilinear) return out;
  const int rows = image->header.rows, columns = image->header.columns;
  float sx = x1 - x0, sy = y1 - y0;
  if (n - 1 > 1) {
    sx /= static_cast<float>(n - 1);
    sy /= static_cast<float>(n - 1);
  }
  for (int k = 0; k < n; k++) {
    const float x = x0 + static_cast<float>(k) * sx;
    const float y = y0 + static_cast<float>(k) * sy;
    float *v = out + static_cast<int64_t>(k) * nb;
    std::fill(v, v + nb, 0.0f);
    if (method == kSampleNearest) {
      int c, r;
      if (!profileCell(x + 0.5f, columns, &c) || !profileCell(y + 0.5f, rows, &r)) continue;
      if (!profileInside(image, c, r)) continue;
      for (int i = 0; i < nb; i++) v[i] = getPixelValue(image, c, r, bands[i]);
      continue;
    }
    int c, r;
    if (!profileCell(x, columns, &c) || !profileCell(y, rows, &r)) continue;
    const float fx = x - static_cast<float>(c), fy = y - static_cast<float>(r);
    if (c == -1) c = 0;
    if (r == -1) r = 0;
    if (!profileInside(image, c, r)) continue;
    const int c1 = c + 1 < columns ? c + 1 : c;
    const int r1 = r + 1 < rows ? r + 1 : r;
    for (int i = 0; i < nb; i++) {
      const int b = bands[i];
      v[i] = (1 - fx) * (1 - fy) * getPixelValue(image, c, r, b) +
             fx * (1 - fy) * getPixelValue(image, c1, r, b) +
             (1 - fx) * fy * getPixelValue(image, c, r1, b) +
             fx * fy * getPixelValue(image, c1, r1, b);
    }
  }
  return out;
}

/*
 * putRAMImageSeg --
 *     Writes n value groups of nb values along the segment from (x0, y0)
 *     to (x1, y1), walking in half-pixel steps along the major axis; each
 *     pixel takes the value of its position along the sequence (nearest
 *     group, or the two groups around it weighed).  The walk starts at
 *     the first step that can touch the image, so far-away coordinates
 *     cost nothing.
 * Results:      n, or 1 for a zero-length segment.
 * Side effects: pixels inside the image written once each.
 */
int putRAMImageSeg(RAMIMG *image, float x0, float y0, float x1, float y1, int nb,
                   const int *bands, const float *values, int n, int method) {
  if (n < 1 || nb < 1) return 0;
  const double dx = static_cast<double>(x1) - x0, dy = static_cast<double>(y1) - y0;
  const double length = sqrt(dx * dx + dy * dy);
  if (!isfinite(length) || !isfinite(x0) || !isfinite(y0)) return 0;
  double sx = 0, sy = 0;
  if (fabs(dy) >= fabs(dx)) {
    if (dy != 0) {
      sy = dy > 0 ? 0.5 : -0.5;
      sx = 0.5 * dx / fabs(dy);
    }
  } else {
    sx = dx > 0 ? 0.5 : -0.5;
    sy = 0.5 * dy / fabs(dx);
  }
  const int m = n - 1;
  const double stepLength = sqrt(sx * sx + sy * sy);
  const double dt = (n == 1 || length == 0) ? 1.0 : stepLength / length * m;
  const int rows = image->header.rows, columns = image->header.columns;

  /* Steps k with t = k dt <= m, cut to those whose pixel may lie inside. */
  double kLow = 0, kHigh = floor(m / dt + 1e-9);
  auto clip = [&](double p0, double s, double limit) {
    // pixel = trunc(p + 0.5) inside 0 .. limit - 1 needs p in (-1.5, limit - 0.5).
    if (s == 0) {
      if (!(p0 > -1.5 && p0 < limit - 0.5)) kHigh = -1;
      return;
    }
    double a = (-1.5 - p0) / s, b = (limit - 0.5 - p0) / s;
    if (a > b) std::swap(a, b);
    kLow = std::max(kLow, floor(a));
    kHigh = std::min(kHigh, ceil(b));
  };
  clip(x0, sx, columns);
  clip(y0, sy, rows);

  /* Steps are counted exactly only while they are integers of a double;
     a walk that starts farther out cannot reach the image. */
  if (!(kLow <= kHigh) || kLow > 9e15) return length == 0 ? 1 : n;

  std::vector<float> group(static_cast<size_t>(nb));
  int lastC = 0, lastR = 0;
  bool wrote = false;
  const int64_t steps = static_cast<int64_t>(kHigh - kLow);
  for (int64_t j = 0; j <= steps; j++) {
    const double k = kLow + static_cast<double>(j);
    const double t = k * dt;
    const double x = x0 + k * sx + 0.5, y = y0 + k * sy + 0.5;
    if (!(x > -1.0 && y > -1.0 && x < columns + 1.0 && y < rows + 1.0)) continue;
    const int c = static_cast<int>(x), r = static_cast<int>(y);
    if (wrote && c == lastC && r == lastR) continue;
    if (!profileInside(image, c, r)) continue;
    if (method == kSampleNearest) {
      const int g = std::min(roundToInt(t), m);
      std::copy(values + static_cast<int64_t>(g) * nb, values + static_cast<int64_t>(g + 1) * nb,
                group.begin());
    } else if (method == kSampleBilinear) {
      const int g = std::min(static_cast<int>(t), m);
      const float w = static_cast<float>(t - g);
      const float *a = values + static_cast<int64_t>(g) * nb;
      for (int i = 0; i < nb; i++)
        group[i] = g < m ? (1 - w) * a[i] + w * a[i + nb] : a[i];
    } else {
      continue;
    }
    for (int i = 0; i < nb; i++) putFloatBILData(image, r, c, 1, bands[i], &group[i]);
    lastC = c;
    lastR = r;
    wrote = true;
  }
  return length == 0 ? 1 : n;
}

}  // namespace vesk
