/*
 * geometry.cpp --
 *     Numeric routines the item types share: distances and area tests in
 *     canvas pixels over world geometry, box growth, miters, measures,
 *     bezier smoothing and polygon clipping of drawable points.
 */
#include <math.h>
#include <stdio.h>

#include <tkInt.h>

#include "canvas/gcanvas.h"
#include "core/text.h"

namespace vesk {

namespace {

/* The point of a segment nearest to p; vertical/horizontal by the tolerance. */
void closestOnSegment(const double *e1, const double *e2, const double *p, double tolerance,
                      double *c) {
  bool vertical = tolerance > 0 ? fabs(e1[0] - e2[0]) < tolerance : e1[0] == e2[0];
  bool horizontal = tolerance > 0 ? fabs(e1[1] - e2[1]) < tolerance : e1[1] == e2[1];
  if (vertical) {
    c[0] = e1[0];
    double lo = fmin(e1[1], e2[1]), hi = fmax(e1[1], e2[1]);
    c[1] = p[1] < lo ? lo : (p[1] > hi ? hi : p[1]);
  } else if (horizontal) {
    c[1] = e1[1];
    double lo = fmin(e1[0], e2[0]), hi = fmax(e1[0], e2[0]);
    c[0] = p[0] < lo ? lo : (p[0] > hi ? hi : p[0]);
  } else {
    double m1 = (e2[1] - e1[1]) / (e2[0] - e1[0]);
    double b1 = e1[1] - m1 * e1[0];
    double m2 = -1.0 / m1;
    double b2 = p[1] - m2 * p[0];
    c[0] = (b2 - b1) / (m1 - m2);
    c[1] = m1 * c[0] + b1;
    if (e1[0] > e2[0]) {
      if (c[0] > e1[0]) { c[0] = e1[0]; c[1] = e1[1]; }
      else if (c[0] < e2[0]) { c[0] = e2[0]; c[1] = e2[1]; }
    } else {
      if (c[0] > e2[0]) { c[0] = e2[0]; c[1] = e2[1]; }
      else if (c[0] < e1[0]) { c[0] = e1[0]; c[1] = e1[1]; }
    }
  }
}

}  // namespace

double lineToPointScaled(double sx, double sy, const double *end1, const double *end2,
                         const double *point) {
  double c[2];
  closestOnSegment(end1, end2, point, 0.001, c);
  return hypot(fabs(sx) * (point[0] - c[0]), fabs(sy) * (point[1] - c[1]));
}

int lineToArea(double *end1, double *end2, double *rect) { return TkLineToArea(end1, end2, rect); }

double polygonToPointScaled(double sx, double sy, const double *points, int n, const double *point,
                            double *edgeDistance) {
  double best = 1.0e36;
  int crossings = 0;
  for (int i = 0; i < n; i++) {
    const double *a = points + 2 * ((i + n - 1) % n);
    const double *b = points + 2 * i;
    double c[2];
    closestOnSegment(a, b, point, 0, c);
    if (a[1] == b[1]) {
      double lo = fmin(a[0], b[0]), hi = fmax(a[0], b[0]);
      if (point[1] < a[1] && point[0] >= lo && point[0] < hi) crossings++;
    } else if (a[0] != b[0]) {
      double m = (b[1] - a[1]) / (b[0] - a[0]);
      double bb = a[1] - m * a[0];
      double lo = fmin(a[0], b[0]), hi = fmax(a[0], b[0]);
      if (point[1] < m * point[0] + bb && point[0] >= lo && point[0] < hi) crossings++;
    }
    double d = hypot(fabs(sx) * (point[0] - c[0]), fabs(sy) * (point[1] - c[1]));
    if (d < best) best = d;
  }
  if (edgeDistance) *edgeDistance = best;
  return (crossings & 1) ? 0.0 : best;
}

int polygonToArea(double *points, int n, double *rect) {
  if (n < 2) return -1;
  int r = TkLineToArea(points, points + 2, rect);
  if (r == 0) return 0;
  for (int i = 1; i < n - 1; i++)
    if (TkLineToArea(points + 2 * i, points + 2 * i + 2, rect) != r) return 0;
  if (r == 1) return 1;
  return TkPolygonToPoint(points, n, rect) == 0.0 ? 0 : -1;
}

double thickLineToPoint(double *points, int n, double width, int capStyle, int joinStyle,
                        double *point) {
  double best = 1.0e36;
  double half = width / 2.0;
  double poly[10];
  bool changedMiter = false;
  for (int i = 0; i < n - 1; i++) {
    double *p = points + 2 * i;
    if ((capStyle == CapRound && i == 0) || (joinStyle == JoinRound && i > 0)) {
      double oval[4] = {p[0] - half, p[1] - half, p[0] + half, p[1] + half};
      double d = TkOvalToPoint(oval, 0.0, 1, point);
      if (d < best) best = d;
    }
    if (i == 0 || !changedMiter) {
      TkGetButtPoints(p + 2, p, width, capStyle == CapProjecting && i == 0, poly, poly + 2);
    } else {
      poly[0] = poly[6];
      poly[1] = poly[7];
      poly[2] = poly[4];
      poly[3] = poly[5];
    }
    changedMiter = false;
    if (i == n - 2) {
      TkGetButtPoints(p, p + 2, width, capStyle == CapProjecting, poly + 4, poly + 6);
    } else if (joinStyle == JoinMiter) {
      if (miterPoints(p, p + 2, p + 4, width, poly + 4, poly + 6) == 0) {
        TkGetButtPoints(p, p + 2, width, 0, poly + 4, poly + 6);
      } else {
        changedMiter = true;
      }
    } else {
      TkGetButtPoints(p, p + 2, width, 0, poly + 4, poly + 6);
    }
    poly[8] = poly[0];
    poly[9] = poly[1];
    double d = TkPolygonToPoint(poly, 5, point);
    if (d < best) best = d;
    if (!changedMiter && i < n - 2 && joinStyle != JoinRound) {
      /* The bevel wedge between this quadrilateral and the next. */
      double next[4];
      TkGetButtPoints(p + 4, p + 2, width, 0, next, next + 2);
      double wedge[8] = {poly[4], poly[5], poly[6], poly[7], next[0], next[1], next[2], next[3]};
      double wd = TkPolygonToPoint(wedge, 4, point);
      if (wd < best) best = wd;
    }
  }
  if (capStyle == CapRound && n > 0) {
    double *p = points + 2 * (n - 1);
    double oval[4] = {p[0] - half, p[1] - half, p[0] + half, p[1] + half};
    double d = TkOvalToPoint(oval, 0.0, 1, point);
    if (d < best) best = d;
  }
  return best;
}

double ovalToPointScaled(double sx, double sy, const double *oval, double width, int filled,
                         const double *point) {
  double ax = fabs(sx), ay = fabs(sy);
  double dx = point[0] - (oval[0] + oval[2]) / 2, dy = point[1] - (oval[1] + oval[3]) / 2;
  double toCentre = hypot(ax * dx, ay * dy);
  double s = hypot(dx / ((width / ax + oval[2] - oval[0]) / 2),
                   dy / ((width / ay + oval[3] - oval[1]) / 2));
  if (s > 1.0) return toCentre / s * (s - 1.0);
  if (filled) return 0.0;
  double d;
  if (s > 1e-10)
    d = toCentre / s * (1.0 - s) - width;
  else
    d = (fmin(ax * (oval[2] - oval[0]), ay * (oval[3] - oval[1])) - width) / 2;
  return d < 0 ? 0.0 : d;
}

int ovalToArea(const double *oval, const double *rect) {
  if (rect[0] <= oval[0] && rect[2] >= oval[2] && rect[1] <= oval[1] && rect[3] >= oval[3])
    return 1;
  if (rect[2] < oval[0] || rect[0] > oval[2] || rect[3] < oval[1] || rect[1] > oval[3]) return -1;
  double cx = (oval[0] + oval[2]) / 2, cy = (oval[1] + oval[3]) / 2;
  double rx = (oval[2] - oval[0]) / 2, ry = (oval[3] - oval[1]) / 2;
  double vy = (cy >= rect[1] && cy <= rect[3]) ? 0.0 : fmin(fabs(rect[1] - cy), fabs(rect[3] - cy));
  double vys = vy / ry;
  for (double side : {rect[0], rect[2]}) {
    double t = (side - cx) / rx;
    if (t * t + vys * vys <= 1.0) return 0;
  }
  double hx = (cx >= rect[0] && cx <= rect[2]) ? 0.0 : fmin(fabs(rect[0] - cx), fabs(rect[2] - cx));
  double hxs = hx / rx;
  for (double side : {rect[1], rect[3]}) {
    double t = (side - cy) / ry;
    if (t * t + hxs * hxs < 1.0) return 0;
  }
  return -1;
}

int rectToArea(const double *b, const double *r) {
  if (b[2] < r[0] || b[0] > r[2] || b[3] < r[1] || b[1] > r[3]) return -1;
  if (r[0] <= b[0] && b[2] <= r[2] && r[1] <= b[1] && b[3] <= r[3]) return 1;
  return 0;
}

void growItemBox(GcanvasItem *item, double x, double y) {
  if (x < item->x1) item->x1 = x;
  if (x > item->x2) item->x2 = x;
  if (y < item->y1) item->y1 = y;
  if (y > item->y2) item->y2 = y;
}

void growItemBoxByPoints(GcanvasItem *item, const double *points, int n) {
  for (int i = 0; i < n; i++) growItemBox(item, points[2 * i], points[2 * i + 1]);
}

int miterPoints(const double *p1, const double *p2, const double *p3, double width, double *m1,
                double *m2) {
  double a[6] = {p1[0], p1[1], p2[0], p2[1], p3[0], p3[1]};
  for (double &v : a) v = floor(v + 0.5);
  return TkGetMiterPoints(a, a + 2, a + 4, width, m1, m2);
}

double polygonArea(const double *points, int n) {
  double sum = 0;
  for (int i = 0; i < n; i++) {
    const double *prev = points + 2 * ((i + n - 1) % n), *cur = points + 2 * i;
    sum += prev[1] * cur[0] - prev[0] * cur[1];
  }
  return sum / 2;
}

double polygonAreaTrapezoid(const double *points, int n) {
  double sum = 0;
  for (int i = 0; i < n; i++) {
    const double *prev = points + 2 * ((i + n - 1) % n), *cur = points + 2 * i;
    sum += (prev[1] + cur[1]) * (cur[0] - prev[0]);
  }
  return sum / 2;
}

double polygonCentroid(const double *points, int n, double *x, double *y) {
  double a = 0, sx = 0, sy = 0;
  for (int i = 0; i < n; i++) {
    const double *prev = points + 2 * ((i + n - 1) % n), *cur = points + 2 * i;
    double c = prev[1] * cur[0] - prev[0] * cur[1];
    a += c;
    sx += c * (cur[0] + prev[0]);
    sy += c * (prev[1] + cur[1]);
  }
  a /= 2;
  *x = sx / 6 / a;
  *y = sy / 6 / a;
  return a;
}

double polylineCentroid(const double *points, int n, double *x, double *y) {
  double length = 0, sx = 0, sy = 0;
  for (int i = 1; i < n; i++) {
    const double *a = points + 2 * (i - 1), *b = points + 2 * i;
    double l = hypot(b[0] - a[0], b[1] - a[1]);
    length += l;
    sx += l * (a[0] + b[0]);
    sy += l * (a[1] + b[1]);
  }
  if (length == 0) {
    if (n > 0) {
      *x = points[2 * (n - 1)];
      *y = points[2 * (n - 1) + 1];
    }
    return 0;
  }
  *x = sx / length / 2;
  *y = sy / length / 2;
  return length;
}

double pointsCentroid(const double *points, int n, double *x, double *y) {
  double sx = 0, sy = 0;
  for (int i = 0; i < n; i++) {
    sx += points[2 * i];
    sy += points[2 * i + 1];
  }
  if (n > 0) {
    *x = sx / n;
    *y = sy / n;
  }
  return n;
}

double polylineLength(const double *points, int n) {
  double length = 0;
  for (int i = 1; i < n; i++)
    length += hypot(points[2 * i] - points[2 * i - 2], points[2 * i + 1] - points[2 * i - 1]);
  return length;
}

double vectorAngle(double dx, double dy) {
  if (dx == 0 && dy == 0) return 0;
  double r = hypot(dx, dy);
  if (dy > 0) return acos(dx / r) * (1 / M_PI) * 180;
  return acos(-dx / r) * (1 / M_PI) * 180 - 180;
}

double vertexAngle(const double *points, int n, int vertex) {
  if (n < 2) return 0;
  int k = ((vertex % n) + n) % n;
  if (k == n - 1) k = n - 2;
  const double *p = points + 2 * k;
  return vectorAngle(p[2] - p[0], p[3] - p[1]);
}

double polylinePointAt(const double *v, int n, double fraction, double *x, double *y) {
  if (n == 0) return 0;
  *x = v[0];
  *y = v[1];
  if (n == 1) return 0;
  double left = fraction * polylineLength(v, n);
  for (int i = 0; i + 1 < n; i++) {
    const double *p = v + 2 * i;
    double seg = hypot(p[2] - p[0], p[3] - p[1]);
    if (seg < left && i + 2 < n) {
      left -= seg;
      continue;
    }
    double t = seg > 0 ? left / seg : 0;
    if (t > 1) t = 1;
    *x = (1 - t) * p[0] + t * p[2];
    *y = (1 - t) * p[1] + t * p[3];
    return vectorAngle(p[2] - p[0], p[3] - p[1]);
  }
  return 0;
}

namespace {

/* One Sutherland-Hodgman stage; the output grows as it needs. */
template <class Inside, class Cross>
void clipStage(const std::vector<XPoint> &in, std::vector<XPoint> &out, Inside inside,
               Cross cross) {
  out.clear();
  size_t n = in.size();
  if (n == 0) return;
  XPoint prev = in[n - 1];
  for (size_t i = 0; i < n; i++) {
    XPoint cur = in[i];
    if (inside(cur)) {
      if (!inside(prev)) out.push_back(cross(prev, cur));
      out.push_back(cur);
    } else if (inside(prev)) {
      out.push_back(cross(prev, cur));
    }
    prev = cur;
  }
}

short clampShort(int v) { return static_cast<short>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v)); }

}  // namespace

/*
 * clipPolygonToBox --
 *     Clips a ring of drawable points to left <= x <= right, top <= y <=
 *     bottom.  Each stage may add a vertex per boundary crossing, so the
 *     result is not bounded by twice the input.
 * Results:      the clipped ring.
 */
std::vector<XPoint> clipPolygonToBox(const XPoint *points, int n, int left, int top, int right,
                                     int bottom) {
  std::vector<XPoint> a(points, points + (n > 0 ? n : 0)), b;
  auto vertical = [](XPoint q, XPoint p, int X) {
    XPoint r;
    r.x = clampShort(X);
    r.y = clampShort(roundToInt(static_cast<double>(q.y - p.y) / (q.x - p.x) * (X - q.x) + q.y));
    return r;
  };
  auto horizontal = [](XPoint q, XPoint p, int Y) {
    XPoint r;
    r.x = clampShort(roundToInt(static_cast<double>(q.x - p.x) / (q.y - p.y) * (Y - q.y) + q.x));
    r.y = clampShort(Y);
    return r;
  };
  clipStage(a, b, [&](XPoint p) { return p.x >= left; },
            [&](XPoint q, XPoint p) { return vertical(q, p, left); });
  clipStage(b, a, [&](XPoint p) { return p.x <= right; },
            [&](XPoint q, XPoint p) { return vertical(q, p, right); });
  clipStage(a, b, [&](XPoint p) { return p.y >= top; },
            [&](XPoint q, XPoint p) { return horizontal(q, p, top); });
  clipStage(b, a, [&](XPoint p) { return p.y <= bottom; },
            [&](XPoint q, XPoint p) { return horizontal(q, p, bottom); });
  return a;
}

std::vector<XPoint> clipPartsToBox(const XPoint *points, int numParts, int *counts, int left,
                                   int top, int right, int bottom) {
  std::vector<XPoint> out;
  int offset = 0;
  for (int i = 0; i < numParts; i++) {
    std::vector<XPoint> part =
        clipPolygonToBox(points + offset, counts[i], left, top, right, bottom);
    offset += counts[i];
    counts[i] = static_cast<int>(part.size());
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

/* ---- the "bezier" smooth method ---- */

int bezierCoords(ItemContainer *c, double *points, int n, int steps, XPoint *xPoints,
                 double *dblPoints) {
  if (!points) return 1 + n * steps;
  GcanvasRecord *canvas = canvasOf(c);
  int out = 0;
  auto emit = [&](double x, double y) {
    if (xPoints) {
      xPoints[out].x = toDrawableCoord(canvas->drawableXOrigin, x);
      xPoints[out].y = toDrawableCoord(canvas->drawableYOrigin, y);
    }
    if (dblPoints) {
      dblPoints[2 * out] = x;
      dblPoints[2 * out + 1] = y;
    }
    out++;
  };
  auto emitCurve = [&](const double *control) {
    for (int j = 1; j <= steps; j++) {
      double t = static_cast<double>(j) / steps, t2 = t * t, t3 = t2 * t, u = 1.0 - t,
             u2 = u * u, u3 = u2 * u;
      emit(control[0] * u3 + 3.0 * (control[2] * t * u2 + control[4] * t2 * u) + control[6] * t3,
           control[1] * u3 + 3.0 * (control[3] * t * u2 + control[5] * t2 * u) + control[7] * t3);
    }
  };
  if (n < 2) {
    for (int i = 0; i < n; i++) emit(points[2 * i], points[2 * i + 1]);
    return out;
  }
  bool closed = points[0] == points[2 * n - 2] && points[1] == points[2 * n - 1];
  double control[8];
  if (closed && n > 2) {
    const double *sl = points + 2 * (n - 2), *f = points, *s = points + 2;
    control[0] = 0.5 * sl[0] + 0.5 * f[0];
    control[1] = 0.5 * sl[1] + 0.5 * f[1];
    control[2] = 0.167 * sl[0] + 0.833 * f[0];
    control[3] = 0.167 * sl[1] + 0.833 * f[1];
    control[4] = 0.833 * f[0] + 0.167 * s[0];
    control[5] = 0.833 * f[1] + 0.167 * s[1];
    control[6] = 0.5 * f[0] + 0.5 * s[0];
    control[7] = 0.5 * f[1] + 0.5 * s[1];
    emit(control[0], control[1]);
    emitCurve(control);
  } else {
    emit(points[0], points[1]);
  }
  for (int i = 2; i < n; i++) {
    const double *a = points + 2 * (i - 2), *b = points + 2 * (i - 1), *cc = points + 2 * i;
    if ((i == 2) && !closed) {
      control[0] = a[0];
      control[1] = a[1];
      control[2] = 0.333 * a[0] + 0.667 * b[0];
      control[3] = 0.333 * a[1] + 0.667 * b[1];
    } else {
      control[0] = 0.5 * a[0] + 0.5 * b[0];
      control[1] = 0.5 * a[1] + 0.5 * b[1];
      control[2] = 0.167 * a[0] + 0.833 * b[0];
      control[3] = 0.167 * a[1] + 0.833 * b[1];
    }
    if (i == n - 1 && !closed) {
      control[4] = 0.667 * b[0] + 0.333 * cc[0];
      control[5] = 0.667 * b[1] + 0.333 * cc[1];
      control[6] = cc[0];
      control[7] = cc[1];
    } else {
      control[4] = 0.833 * b[0] + 0.167 * cc[0];
      control[5] = 0.833 * b[1] + 0.167 * cc[1];
      control[6] = 0.5 * b[0] + 0.5 * cc[0];
      control[7] = 0.5 * b[1] + 0.5 * cc[1];
    }
    bool degenerate = (a[0] == b[0] && a[1] == b[1]) || (b[0] == cc[0] && b[1] == cc[1]);
    if (degenerate)
      emit(control[6], control[7]);
    else
      emitCurve(control);
  }
  return out;
}

void bezierPostscript(Tcl_Interp *interp, ItemContainer *c, double *points, int n, int) {
  if (n < 2) return;
  char buffer[512];
  bool closed = points[0] == points[2 * n - 2] && points[1] == points[2 * n - 1];
  double cx, cy;
  if (closed && n > 2) {
    const double *sl = points + 2 * (n - 2), *f = points, *s = points + 2;
    double x0 = 0.5 * sl[0] + 0.5 * f[0], y0 = 0.5 * sl[1] + 0.5 * f[1];
    double x1 = 0.167 * sl[0] + 0.833 * f[0], y1 = 0.167 * sl[1] + 0.833 * f[1];
    double x2 = 0.833 * f[0] + 0.167 * s[0], y2 = 0.833 * f[1] + 0.167 * s[1];
    cx = 0.5 * f[0] + 0.5 * s[0];
    cy = 0.5 * f[1] + 0.5 * s[1];
    snprintf(buffer, sizeof buffer,
             "%.15g %.15g moveto\n%.15g %.15g %.15g %.15g %.15g %.15g curveto\n", x0,
             canvasPsY(c, y0), x1, canvasPsY(c, y1), x2, canvasPsY(c, y2), cx, canvasPsY(c, cy));
  } else {
    cx = points[0];
    cy = points[1];
    snprintf(buffer, sizeof buffer, "%.15g %.15g moveto\n", cx, canvasPsY(c, cy));
  }
  Tcl_AppendResult(interp, buffer, nullptr);
  for (int i = 1; i < n - 1; i++) {
    const double *p = points + 2 * i;
    double c1x = 0.333 * cx + 0.667 * p[0], c1y = 0.333 * cy + 0.667 * p[1];
    double ex, ey;
    const double *after = points + 2 * (i + 1);
    if (i == n - 2 && !closed) {
      ex = after[0];
      ey = after[1];
    } else {
      ex = 0.5 * p[0] + 0.5 * after[0];
      ey = 0.5 * p[1] + 0.5 * after[1];
    }
    double c2x = 0.333 * ex + 0.667 * p[0], c2y = 0.333 * ey + 0.667 * p[1];
    snprintf(buffer, sizeof buffer, "%.15g %.15g %.15g %.15g %.15g %.15g curveto\n", c1x,
             canvasPsY(c, c1y), c2x, canvasPsY(c, c2y), ex, canvasPsY(c, ey));
    Tcl_AppendResult(interp, buffer, nullptr);
    cx = ex;
    cy = ey;
  }
}

const SmoothMethod bezierSmoothMethod = {"bezier", bezierCoords, bezierPostscript};

}  // namespace vesk
