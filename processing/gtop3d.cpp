/*
 * gtop3d.cpp --
 *     The views of "rimage gtop" that follow the terrain of a DEM: polar
 *     views over terrain (nearer ridges hide what lies behind them),
 *     photos through such a polar view (GTOP3D), and the central
 *     projection that draws each ground ray along its trace in the focal
 *     plane (GFP3D).  Heights at or above the focal point and rays that
 *     never reach the focal plane are hidden, never turned into pixels.
 */
#include <limits.h>
#include <math.h>
#include <string.h>
#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/numeric.h"
#include "core/text.h"
#include "processing/gtop.h"
#include "raster/pixels.h"
#include "raster/profile.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

constexpr int kMapidPolar = 63;

/* Writes zeros over every row of the destination bands. */
void zeroRows(RAMIMG *image, const std::vector<int> &dest) {
  const int columns = image->header.columns;
  std::vector<float> zero(static_cast<size_t>(columns) * dest.size(), 0.0f);
  for (int i = 0; i < image->header.rows; i++)
    writeFloatBIPData(image, i, 0, columns, static_cast<int>(dest.size()), dest.data(), zero.data());
}

/* Distance of (px, py) from the line through (x1, y1) and (x2, y2). */
double lineDistance(double px, double py, double x1, double y1, double x2, double y2) {
  const double dx = x2 - x1, dy = y2 - y1, len = sqrt(dx * dx + dy * dy);
  if (len == 0) return sqrt((px - x1) * (px - x1) + (py - y1) * (py - y1));
  return fabs(dy * (px - x1) - dx * (py - y1)) / len;
}

/* theta + step, at least the next double: a focal point far away makes
   steps below the resolution of theta, which would never get anywhere. */
double advance(double theta, double step) {
  const double next = theta + step;
  return next > theta ? next : nextafter(theta, HUGE_VAL);
}

/* The clipped ray of angle theta from the focal point over the ground image, relative to it. */
bool groundRay(const GtopWork *w, double theta, double *x1, double *y1, double *x2, double *y2) {
  *x1 = *y1 = 0;
  *x2 = w->rmax * cos(theta);
  *y2 = w->rmax * sin(theta);
  const int rows = w->in->header.rows, columns = w->in->header.columns;
  return clipSegment(x1, y1, x2, y2, -w->yc, rows - 1 - w->yc, -w->xc, columns - 1 - w->xc) != 0;
}

}  // namespace

/*
 * clipSegment --
 *     Clips a segment to a rectangle: the lower and upper bounds of y,
 *     then of x; a moved end lies on the bound.
 * Results:      1 when a part of the segment is inside, 0 when none.
 */
int clipSegment(double *x1, double *y1, double *x2, double *y2, double ymin, double ymax,
                double xmin, double xmax) {
  /* One bound on coordinate a (b the other coordinate): lower or upper. */
  auto bound = [](double *a1, double *b1, double *a2, double *b2, double limit, bool lower) {
    if (lower) {
      if (*a1 < limit && *a2 < limit) return false;
      if (*a1 < limit && limit <= *a2) {
        *b1 = *b1 + (*b2 - *b1) * (limit - *a1) / (*a2 - *a1);
        *a1 = limit;
      } else if (*a2 < limit && limit <= *a1) {
        *b2 = *b1 + (*b2 - *b1) * (limit - *a1) / (*a2 - *a1);
        *a2 = limit;
      }
      return true;
    }
    if (*a1 > limit && *a2 > limit) return false;
    if (*a1 <= limit && limit < *a2) {
      *b2 = *b1 + (*b2 - *b1) * (limit - *a1) / (*a2 - *a1);
      *a2 = limit;
    } else if (*a2 <= limit && limit < *a1) {
      *b1 = *b1 + (*b2 - *b1) * (limit - *a1) / (*a2 - *a1);
      *a1 = limit;
    }
    return true;
  };
  if (!bound(y1, x1, y2, x2, ymin, true)) return 0;
  if (!bound(y1, x1, y2, x2, ymax, false)) return 0;
  if (!bound(x1, y1, x2, y2, xmin, true)) return 0;
  if (!bound(x1, y1, x2, y2, xmax, false)) return 0;
  return 1;
}

/*
 * demViewCentre --
 *     The centre of the photo box of the DEM, sampled every 8 pixels.
 */
void demViewCentre(RAMIMG *dem, double zs, const double *N, double xc, double yc, double zc,
                   double tx, double ty, double tz, double *cx, double *cy) {
  double umin = HUGE_VAL, umax = -HUGE_VAL, vmin = HUGE_VAL, vmax = -HUGE_VAL;
  const double ex = tx - xc, ey = ty - yc;
  for (int c = 0; c < dem->header.columns; c += 8)
    for (int r = 0; r < dem->header.rows; r += 8) {
      const double Z = getPixelValue(dem, c, r, 0) * zs;
      double u, v;
      if (!groundToPhoto(N, zc, c - xc, r - yc, Z, ex, ey, tz, &u, &v)) continue;
      umin = std::min(umin, u);
      umax = std::max(umax, u);
      vmin = std::min(vmin, v);
      vmax = std::max(vmax, v);
    }
  *cx = umin <= umax ? (umin + umax) * 0.5 : 0.0;
  *cy = vmin <= vmax ? (vmin + vmax) * 0.5 : 0.0;
}

/*
 * focalTrace --
 *     The line in which the focal plane cuts the vertical plane of the ray
 *     from the focal point through (px, py): the foot of the perpendicular
 *     from the focal point (horizontal distance rf, height zf), the angle
 *     of the trace and the side (>= 0: ahead).
 */
void focalTrace(double xc, double yc, double zc, double tx, double ty, double tz, double px,
                double py, double *rf, double *zf, double *alpha, double *side) {
  const double ax = py - yc, ay = xc - px;
  const double wx = xc - tx, wy = yc - ty, wz = zc - tz;
  const double E = ax * wy - wx * ay;
  if (E == 0) {
    *rf = 0;
    *zf = tz;
    *alpha = 0;
    *side = 0;
    return;
  }
  const double b1 = ax * xc + ay * yc, b2 = wx * tx + wy * ty + wz * tz;
  const double x0 = (b1 * wy - ay * b2) / E, y0 = (ax * b2 - wx * b1) / E;
  const double dx = ay * wz, dy = -ax * wz, dz = E;
  const double dd = dx * dx + dy * dy + dz * dz;
  const double t = (dx * (xc - x0) + dy * (yc - y0) + dz * zc) / dd;
  const double qx = x0 + t * dx, qy = y0 + t * dy, qz = t * dz;
  *rf = sqrt((qx - xc) * (qx - xc) + (qy - yc) * (qy - yc));
  *zf = qz;
  const double toF = sqrt((xc - px) * (xc - px) + (yc - py) * (yc - py)) * sqrt(dd);
  double cosine = toF > 0 ? (dx * (xc - px) + dy * (yc - py)) / toF : 1.0;
  if (!(cosine >= -1)) cosine = -1;  /* also NaN */
  if (cosine > 1) cosine = 1;
  *alpha = acos(cosine);
  *side = (px - xc) * (qx - xc) + (py - yc) * (qy - yc);
}

/*
 * rayVisibleRadii --
 *     Pixels of a polar row over terrain: n samples at radii start + j
 *     with heights dem[j] x zs, seen from the height zc; one pixel per
 *     integer apparent radius of the visible samples, interpolated.
 * Results:      the number of pixels in values (bands each); *start
 *     becomes the apparent radius of the first sample.  A first sample at
 *     or above the focal height gives 0.
 */
int rayVisibleRadii(const float *image, const float *dem, int n, double zs, std::vector<float> &values,
                    int limit, int bands, double zc, int *start) {
  const long long v = *start;
  if (n < 1) return 0;
  const double den0 = zc - zs * dem[0];
  const double m0 = zc * static_cast<double>(v) / den0;
  if (!(den0 > 0) || !isfinite(m0)) return 0;
  /* Only radii from v - limit to v + limit can make pixels of the row. */
  const double lo = static_cast<double>(v - limit), hi = static_cast<double>(v + limit);
  const long long g0 = static_cast<long long>(roundToInt(std::min(hi, std::max(lo, m0))));
  values.assign(image, image + bands);
  double H = static_cast<double>(g0), p = H;
  long long R = g0;
  const long long end = v + limit;
  for (int j = 1; j < n; j++) {
    const double den = zc - zs * dem[j];
    const double m = zc * static_cast<double>(v + j) / den;
    if (!(den > 0) || !isfinite(m)) continue;  /* above the eye: hidden */
    if (m > H) {
      const float *a = image + static_cast<size_t>(j - 1) * bands, *b = a + bands;
      for (; R < m && R < end; R++) {
        const double K = (static_cast<double>(R) - p) / (m - p);
        for (int i = 0; i < bands; i++)
          values.push_back(static_cast<float>((1 - K) * a[i] + K * b[i]));
      }
      H = m;
    }
    p = m;
  }
  *start = static_cast<int>(g0);
  return static_cast<int>(values.size() / std::max(bands, 1));
}

/*
 * rayToFocalTrace --
 *     Values of a ray along its focal trace: each visible sample (radius
 *     r1 + j, height dem[j] x zs) lands at its trace position; one value
 *     per unit of the trace, at most maxCount.
 * Results:      the number of values D; (rhoA, zA) the start point and
 *     (rhoB, zB) the point that follows the last value.  0 when the first
 *     sample is not seen.
 */
int rayToFocalTrace(const float *image, const float *dem, double zs, std::vector<float> &values, int n,
                    int bands, int maxCount, double zc, double r1, double alpha, double rf,
                    double zf, bool ahead, int method, double *rhoA, double *zA, double *rhoB,
                    double *zB) {
  const double ca = cos(alpha), sa = sin(alpha);
  auto position = [&](int j, double *s) {
    const double rhoj = ahead ? r1 + j : -(r1 + j);
    const double G = zc - zs * dem[j];
    const double den = G * ca + rhoj * sa;
    if (!(G > 0) || den == 0) return false;
    *s = (rhoj * (zc - zf) - rf * G) / den;
    return isfinite(*s) != 0;
  };
  values.clear();
  double s0;
  if (n < 1 || maxCount < 1 || !position(0, &s0)) return 0;
  values.assign(image, image + bands);
  int D = 1;
  double p = s0, E = ahead ? s0 + 1 : s0 - 1;
  for (int j = 1; j < n && D < maxCount; j++) {
    double s;
    if (!position(j, &s)) continue;
    const float *a = image + static_cast<size_t>(j - 1) * bands, *b = a + bands;
    auto emit = [&]() {
      if (method == 2) {
        const double K = (E - p) / (s - p);
        for (int i = 0; i < bands; i++) values.push_back(static_cast<float>((1 - K) * a[i] + K * b[i]));
      } else {
        const bool previous = ahead ? s - E > E - p : E - s >= p - E;
        const float *from = previous ? a : b;
        values.insert(values.end(), from, from + bands);
      }
      D++;
    };
    if (ahead && s > E) {
      for (; E <= s && D < maxCount; E += 1) emit();
    } else if (!ahead && s < E) {
      for (; E >= s && D < maxCount; E -= 1) emit();
    }
    p = s;
  }
  auto rhoOf = [&](double s) { return ahead ? rf + s * ca : -(rf + s * ca); };
  *rhoA = rhoOf(s0);
  *zA = zf + s0 * sa;
  *rhoB = rhoOf(E);
  *zB = zf + E * sa;
  return D;
}

/*
 * gtopConvert3D --
 *     A polar view over the DEM into target: row i is the ray at angle
 *     thetaMin + i x step, clipped to the ground image, its visible radii
 *     written from column (first apparent radius - rmin).
 * Results:      1, or 0 after a message.
 */
int gtopConvert3D(GtopWork *w, RAMIMG *target) {
  const int rows = target->header.rows, columns = target->header.columns;
  const int pairs = static_cast<int>(w->source.size());
  if (rows < 2 || columns < 1) {
    vesk_fprintf(stderr, "Error in gtopConvert: the view needs at least 2 rows.\n");
    return 0;
  }
  std::vector<float> samples, heights, values;
  gtopPrepareCache(w->in, false);
  gtopPrepareCache(w->dem, true);
  gtopPrepareCache(target, true);
  zeroRows(target, w->dest);
  const double step = (w->thetaMax - w->thetaMin) / (rows - 1);
  const double rminPart = trunc(w->rmin);
  double theta = w->thetaMin;
  for (int i = 0; i < rows; i++, theta += step) {
    double x1, y1, x2, y2;
    if (!groundRay(w, theta, &x1, &y1, &x2, &y2)) continue;
    const double c = cos(theta), s = sin(theta);
    const double a = trunc(sqrt(x1 * x1 + y1 * y1) + 0.5), b = trunc(sqrt(x2 * x2 + y2 * y2) + 0.5);
    const double count = b - a + 1;
    if (!(count >= 1 && count <= INT_MAX / 2)) continue;
    const int n = static_cast<int>(count);
    try {
      samples.resize(static_cast<size_t>(n) * pairs);
      heights.resize(static_cast<size_t>(n));
    } catch (const std::exception &) {
      vesk_fprintf(stderr, "Error in gtopConvert: malloc.\n");
      return 0;
    }
    const float ax = static_cast<float>(w->xc + a * c), ay = static_cast<float>(w->yc + a * s);
    const float bx = static_cast<float>(w->xc + b * c), by = static_cast<float>(w->yc + b * s);
    getRAMImageSeg(w->in, ax, ay, bx, by, pairs, w->source.data(), samples.data(), n, w->method);
    const int band0 = 0;
    getRAMImageSeg(w->dem, ax, ay, bx, by, 1, &band0, heights.data(), n, w->demMethod);
    int start = static_cast<int>(a);
    const int D = rayVisibleRadii(samples.data(), heights.data(), n, w->zs, values, columns, pairs,
                                  w->zc, &start);
    if (D < 1) continue;
    const double first = start - rminPart;
    if (!(first > -static_cast<double>(D) && first < columns)) continue;
    const int col = static_cast<int>(first);
    if (col < 0) {
      writeFloatBIPData(target, i, 0, D + col, pairs, w->dest.data(),
                        values.data() + static_cast<size_t>(-col) * pairs);
    } else {
      writeFloatBIPData(target, i, col, D, pairs, w->dest.data(), values.data());
    }
  }
  return 1;
}

/*
 * gtop3D --
 *     GTOP3D: a polar view over the DEM into a memory image named after
 *     the output, then the photo made from it.
 * Results:      1, or 0 after a message.
 */
int gtop3D(GtopWork *w) {
  vesk_printf("gtop3D...\n");
  const double a = 2 / (w->rmax + w->rmin);
  const double raD = trunc((w->thetaMax - w->thetaMin) / a), caD = trunc(w->rmax - w->rmin);
  const int ra = raD > 0 && raD < INT_MAX ? static_cast<int>(raD) : 0;
  const int ca = caD > 0 && caD < INT_MAX ? static_cast<int>(caD) : 0;
  ImageHeader h = w->out->header;
  h.imgid = IMG_MBIP;
  h.mapid = kMapidPolar;
  h.nindices = 0;
  if (ra > h.rows) h.rows = ra;
  if (ca > h.columns) h.columns = ca;
  /* The photo keeps the output's own size: a larger polar view only
     holds more directions and radii (centring the photo on the raised
     size would push the view out of the output). */
  const size_t len = strlen(h.path);
  static const char suffix[] = ".gtop3D";
  if (len + sizeof suffix > sizeof h.path || getRAMImageByTag(strcat(h.path, suffix))) {
    if (len + sizeof suffix > sizeof h.path) h.path[len] = '\0';
    vesk_fprintf(stderr, "Error in open %s.\n", h.path);
    return 0;
  }
  h.offset = 0;
  h.block = 0;
  h.altFd = -1;
  h.volumes = 0;
  h.readerFlag = 0;
  int err = 0;
  RAMIMG *polar = openRAMImage(h.path, nullptr, &h, nullptr, &err);
  if (!polar) {
    vesk_fprintf(stderr, "Error in open %s.\n", h.path);
    return 0;
  }
  if (!gtopConvert3D(w, polar)) {
    closeRAMImage(polar, nullptr);
    return 0;
  }
  closeRAMImage(w->in, nullptr);
  w->in = polar;
  /* The polar view holds the values in the destination bands. */
  w->source = w->dest;
  return polarToPhoto(w);
}

/*
 * centerProjection --
 *     GFP3D: rays from the focal point over the ground, each drawn along
 *     its focal trace into the output, at angle steps that keep
 *     neighbouring drawn rays at most gap output pixels apart.
 * Results:      1, or 0 after a message.
 */
int centerProjection(GtopWork *w) {
  const int pairs = static_cast<int>(w->source.size());
  const int outRows = w->outRows, outColumns = w->outColumns;
  std::vector<float> samples, heights, values;
  const int maxCount = outColumns > INT_MAX / 5 ? INT_MAX : 5 * outColumns;
  try {
    const double span = std::max(0.0, std::min(w->rmax - w->rmin + 1, 1e9));
    samples.reserve(static_cast<size_t>(span) * pairs);
    heights.reserve(static_cast<size_t>(span));
    values.reserve(static_cast<size_t>(std::max(maxCount, 0)) * pairs);
  } catch (const std::exception &) {
    vesk_fprintf(stderr, "Error in centerProjection: malloc.\n");
    return 0;
  }
  gtopPrepareCache(w->in, false);
  gtopPrepareCache(w->dem, true);
  gtopPrepareCache(w->out, true);
  if (!w->overwrite) zeroRows(w->out, w->dest);
  double N[9];
  std::copy(w->M, w->M + 9, N);
  rotateMatrix3(N, ROTATE_TRANSPOSE, 0);
  double cx = 0, cy = 0;
  if (w->oriented)
    demViewCentre(w->dem, w->zs, N, w->xc, w->yc, w->zc, w->tx, w->ty, w->tz, &cx, &cy);
  const double sigma = w->ey > 0 ? 1.0 : -1.0;
  const double baseC = (outColumns - 1) * 0.5 + sigma * cx, baseR = (outRows - 1) * 0.5 + sigma * cy;
  auto place = [&](double u, double v, double *col, double *row) {
    *col = baseC - sigma * u;
    *row = baseR - sigma * v;
  };
  if (!(w->rmax > 0) || outRows < 1 || outColumns < 1) return 1;

  double theta = w->thetaMin, accepted = w->thetaMin, step = 1 / w->rmax;
  const double minStep = step * 1e-3;
  bool drawn = false;
  double prev[4] = {0, 0, 0, 0};
  while (theta <= w->thetaMax) {
    double x1, y1, x2, y2;
    if (!groundRay(w, theta, &x1, &y1, &x2, &y2)) {
      theta = advance(theta, step);
      continue;
    }
    double u1, v1, u2, v2, p[4];
    bool placed = groundToPhoto(N, w->zc, x1, y1, 0, w->ex, w->ey, w->tz, &u1, &v1) &&
                  groundToPhoto(N, w->zc, x2, y2, 0, w->ex, w->ey, w->tz, &u2, &v2);
    if (placed) {
      place(u1, v1, &p[0], &p[1]);
      place(u2, v2, &p[2], &p[3]);
      placed = clipSegment(&p[0], &p[1], &p[2], &p[3], 0, outRows - 1, 0, outColumns - 1) != 0;
    }
    if (!placed) {
      theta = advance(theta, step);
      accepted = theta;
      drawn = false;
      continue;
    }
    if (drawn) {
      const double d1 = lineDistance(prev[0], prev[1], p[0], p[1], p[2], p[3]);
      const double d2 = lineDistance(prev[2], prev[3], p[0], p[1], p[2], p[3]);
      const double dmax = std::max(d1, d2);
      double q = w->gap / (dmax + 0.0001);
      q = q > 2.0 ? 2.0 : (q < 0.5 ? 0.5 : q);
      /* Past a jump of the view the step stops shrinking and the ray is drawn. */
      if (dmax > w->gap && step * q >= minStep) {
        step *= q;
        theta = accepted + step;
        continue;
      }
      step = std::max(step * q, minStep);
    }
    accepted = theta;
    drawn = true;
    std::copy(p, p + 4, prev);

    const double r1 = sqrt(x1 * x1 + y1 * y1), r2 = sqrt(x2 * x2 + y2 * y2);
    const double ax = x1 + w->xc, ay = y1 + w->yc, bx = x2 + w->xc, by = y2 + w->yc;
    const double count = trunc(r2 - r1 + 1);
    if (count >= 1 && count < INT_MAX / 2) {
      const int n = static_cast<int>(count);
      double rf, zf, alpha, side;
      focalTrace(w->xc, w->yc, w->zc, w->tx, w->ty, w->tz, bx, by, &rf, &zf, &alpha, &side);
      samples.resize(static_cast<size_t>(n) * pairs);
      heights.resize(static_cast<size_t>(n));
      getRAMImageSeg(w->in, static_cast<float>(ax), static_cast<float>(ay), static_cast<float>(bx),
                     static_cast<float>(by), pairs, w->source.data(), samples.data(), n, w->method);
      const int band0 = 0;
      getRAMImageSeg(w->dem, static_cast<float>(ax), static_cast<float>(ay), static_cast<float>(bx),
                     static_cast<float>(by), 1, &band0, heights.data(), n, w->demMethod);
      double rhoA, zA, rhoB, zB;
      const int D = rayToFocalTrace(samples.data(), heights.data(), w->zs, values, n, pairs, maxCount,
                                    w->zc, r1, alpha, rf, zf, side >= 0, w->method, &rhoA, &zA,
                                    &rhoB, &zB);
      if (D > 0) {
        const double c = cos(theta), s = sin(theta);
        auto photo = [&](double rhoP, double zP, double *col, double *row) {
          const double vec[3] = {rhoP * c - w->ex, rhoP * s - w->ey, zP - w->tz};
          const double u = w->M[0] * vec[0] + w->M[1] * vec[1] + w->M[2] * vec[2];
          const double v = w->M[3] * vec[0] + w->M[4] * vec[1] + w->M[5] * vec[2];
          place(u, v, col, row);
        };
        double ca, ra, cb, rb;
        photo(rhoA, zA, &ca, &ra);
        photo(rhoB, zB, &cb, &rb);
        putRAMImageSeg(w->out, static_cast<float>(ca + w->offx), static_cast<float>(ra + w->offy),
                       static_cast<float>(cb + w->offx), static_cast<float>(rb + w->offy), pairs,
                       w->dest.data(), values.data(), D, w->method);
      }
    }
    theta = advance(theta, step);
  }
  return 1;
}

}  // namespace vesk
