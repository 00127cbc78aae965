/*
 * banddraw.cpp --
 *     Lines traced with a floating-point digital differential analyser,
 *     and polygons scan-converted into spans, written into one band.
 */
#include "raster/banddraw.h"

#include <math.h>
#include <algorithm>
#include <vector>

#include "core/text.h"
#include "raster/pixels.h"

namespace vesk {
namespace {

/* Writes one pixel when it lies in the image. Results: 1 when written. */
int plotPixel(RAMIMG *image, int band, unsigned char value, int column, int row) {
  if (column < 0 || column >= image->header.columns || row < 0 || row >= image->header.rows)
    return 0;
  putByteBILData(image, row, column, 1, band, &value);
  return 1;
}

/* Steps a line may take before it is walked by position instead of by sums. */
int64_t shortLineSteps(const RAMIMG *image) {
  return 4 * (int64_t{image->header.rows} + image->header.columns) + 16;
}

}  // namespace

/*
 * drawRAMImageLine --
 *     Traces the line from (x0, y0) to (x1, y1) (x the column, y the row):
 *     unit steps along the longer axis, the matching fraction along the
 *     other, each position rounded half away from zero.
 * Results:      the number of pixels written (inside the image); 0 for a
 *               non-finite coordinate.
 * Side effects: a line much longer than the image is walked only over the
 *     steps whose long-axis position can fall inside it, so any length
 *     costs no more than the image's size.
 */
int drawRAMImageLine(RAMIMG *image, int band, int value, float x0, float y0, float x1, float y1) {
  if (!image || !std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
    return 0;
  const unsigned char v = static_cast<unsigned char>(value);
  if (x0 == x1 && y0 == y1) return plotPixel(image, band, v, roundToInt(x0), roundToInt(y0));

  const float dx = x1 - x0, dy = y1 - y0;
  const bool majorY = fabsf(dy) >= fabsf(dx);
  float xs, ys;
  if (majorY) {
    ys = dy > 0 ? 1.0f : -1.0f;
    xs = dx / fabsf(dy);
  } else {
    xs = dx > 0 ? 1.0f : -1.0f;
    ys = dy / fabsf(dx);
  }
  const double extent = majorY ? fabs(static_cast<double>(y1) - y0) : fabs(static_cast<double>(x1) - x0);
  int count = 0;
  if (extent <= static_cast<double>(shortLineSteps(image))) {
    /* The step bound stops a walk whose float sums no longer move (far from 0). */
    float x = x0, y = y0;
    for (double k = 0; k <= extent + 1 && (xs >= 0 ? x <= x1 : x >= x1) && (ys >= 0 ? y <= y1 : y >= y1);
         k++) {
      count += plotPixel(image, band, v, roundToInt(x), roundToInt(y));
      x += xs;
      y += ys;
    }
    return count;
  }
  /*
   * Positions start + k x step, only for the k whose long-axis coordinate
   * can round inside.  Along u = step x coordinate, which grows with k, the
   * first such position keeps the start's fraction; from there the count
   * is an integer bounded by the image, however far the ends lie.
   */
  const double s = majorY ? ys : xs;
  const double m0 = majorY ? y0 : x0, m1 = majorY ? y1 : x1;
  const double n0 = majorY ? x0 : y0, n1 = majorY ? x1 : y1;
  const double minorStep = (n1 - n0) / extent;
  const double size = majorY ? image->header.rows : image->header.columns;
  const double u0 = s * m0, u1 = s * m1;
  const double low = s > 0 ? -1.0 : -size, high = s > 0 ? size : 1.0;
  double uFirst = u0;
  if (uFirst < low) uFirst = low + (u0 - floor(u0));
  const double uLast = std::min(high, u1);
  if (!(uLast >= uFirst)) return 0;
  const int64_t n = static_cast<int64_t>(std::min(uLast - uFirst, size + 2.0));
  for (int64_t i = 0; i <= n; i++) {
    const double u = uFirst + static_cast<double>(i);
    const double major = s * u, minor = n0 + (u - u0) * minorStep;
    count += plotPixel(image, band, v, roundToInt(majorY ? minor : major),
                       roundToInt(majorY ? major : minor));
  }
  return count;
}

/*
 * drawRAMImagePolyline --
 *     The lines between successive points.
 * Results:      the number of segments (0 for fewer than two points).
 */
int drawRAMImagePolyline(RAMIMG *image, int band, int value, const PointList *points) {
  if (!points || points->count < 2) return 0;
  for (int i = 1; i < points->count; i++) {
    const RoiPoint &a = points->points[i - 1], &b = points->points[i];
    drawRAMImageLine(image, band, value, static_cast<float>(a.x), static_cast<float>(a.y),
                     static_cast<float>(b.x), static_cast<float>(b.y));
  }
  return points->count - 1;
}

/*
 * fillRAMImagePolygon --
 *     Fills the polygon: each span (xs, y) .. (xe, y) sets columns xs to
 *     xe - 1 of row y, clipped to the image.
 *     Only the image's rows are scanned.
 * Results:      the number of span end points (twice the spans) over the
 *     image's rows.
 */
int fillRAMImagePolygon(RAMIMG *image, int band, int value, const PointList *points) {
  if (!image || !points) return 0;
  const int columns = image->header.columns, rows = image->header.rows;
  PointList *spans = polyToSpans(points, 0, rows - 1);
  if (!spans) return 0;
  std::vector<unsigned char> run(static_cast<size_t>(std::max(columns, 0)),
                                 static_cast<unsigned char>(value));
  for (int i = 0; i + 1 < spans->count; i += 2) {
    const RoiPoint &a = spans->points[i], &b = spans->points[i + 1];
    if (a.y < 0 || a.y >= rows) continue;
    const int from = std::max(a.x, 0), to = std::min(b.x, columns);
    if (to > from) putByteBILData(image, a.y, from, to - from, band, run.data());
  }
  const int ends = spans->count;
  polyFree(spans);
  return ends;
}

}  // namespace vesk
