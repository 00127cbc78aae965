/*
 * fftkernel.cpp --
 *     The numerical core of the FFT filtering module: radix-2 transforms
 *     (forward kernel e^(+2 pi i jk/n), the inverse divides by n), the
 *     half-period rotation that centres the spectrum, the power/phase
 *     conversions and the bell, high and notch filters.
 */
#include "processing/fftkernel.h"

#include <math.h>
#include <stdio.h>
#include <algorithm>

#include "vesk/stdio.h"

namespace vesk {

void fftTwiddles(int n, int direction, double *cosines, double *sines) {
  for (int i = 1; i <= n; i++) {
    const double angle = 2 * M_PI * direction / i;
    cosines[i - 1] = cos(angle);
    sines[i - 1] = sin(angle);
  }
}

void fftPlan(FftPlan *plan, int n, int direction, const double *cosines, const double *sines) {
  plan->n = n;
  plan->direction = direction;
  plan->twiddles.assign(2 * static_cast<size_t>(std::max(n, 1)), 0.0);
  for (int h = 1; h < n; h *= 2) {
    const double c = cosines[2 * h - 1], s = sines[2 * h - 1];
    double wr = 1, wi = 0;
    for (int k = 0; k < h; k++) {
      plan->twiddles[2 * (h - 1 + k)] = wr;
      plan->twiddles[2 * (h - 1 + k) + 1] = wi;
      const double t = wr * c - wi * s;
      wi = wr * s + wi * c;
      wr = t;
    }
  }
  plan->reversed.resize(std::max(n, 1));
  int bits = 0;
  while ((1 << bits) < n) bits++;
  for (int i = 0; i < n; i++) {
    int r = 0;
    for (int b = 0; b < bits; b++) r |= ((i >> b) & 1) << (bits - 1 - b);
    plan->reversed[i] = r;
  }
}

__attribute__((target_clones("arch=x86-64-v3", "default")))
void fftRadix2Planned(const FftPlan &plan, float *x) {
  const int n = plan.n;
  for (int i = 0; i < n; i++) {
    const int r = plan.reversed[i];
    if (r > i) {
      std::swap(x[2 * i], x[2 * r]);
      std::swap(x[2 * i + 1], x[2 * r + 1]);
    }
  }
  for (int h = 1; h < n; h *= 2) {
    const double *w = plan.twiddles.data() + 2 * (h - 1);
    for (int g = 0; g < n; g += 2 * h) {
      float *a = x + 2 * g, *b = x + 2 * (g + h);
      for (int k = 0; k < h; k++) {
        const double wr = w[2 * k], wi = w[2 * k + 1];
        const float br = b[2 * k], bi = b[2 * k + 1];
        const float tr = static_cast<float>(wr * br - wi * bi);
        const float ti = static_cast<float>(wr * bi + wi * br);
        b[2 * k] = a[2 * k] - tr;
        b[2 * k + 1] = a[2 * k + 1] - ti;
        a[2 * k] += tr;
        a[2 * k + 1] += ti;
      }
    }
  }
  if (plan.direction <= 0) {
    const float scale = static_cast<float>(n);
    for (int i = 0; i < 2 * n; i++) x[i] /= scale;
  }
}

void fftRadix2(int n, float *data, int direction, const double *cosines, const double *sines) {
  FftPlan plan;
  fftPlan(&plan, n, direction, cosines, sines);
  fftRadix2Planned(plan, data);
}

namespace {

/* Swaps the two halves of n samples: the rotation by n/2. */
void swapHalves(float *x, int n) {
  const int half = n / 2;
  for (int i = 0; i < 2 * half; i++) std::swap(x[i], x[i + 2 * half]);
}

}  // namespace

/*
 * fftRows --
 *     Each row in place: the inverse's input and the forward's output
 *     rotated by n/2 (n is a power of 2, so the rotation swaps halves).
 */
int fftRows(float *block, const FftPlan &plan, int nrows) {
  const int n = plan.n;
  for (int r = 0; r < nrows; r++) {
    float *row = block + 2 * static_cast<size_t>(r) * n;
    if (plan.direction <= 0 && n > 1) swapHalves(row, n);
    fftRadix2Planned(plan, row);
    if (plan.direction >= 0 && n > 1) swapHalves(row, n);
  }
  return 1;
}

/*
 * fftColumns --
 *     Every column of a strip at once: the butterflies of one stage run
 *     along whole rows of the strip, so the strip is read row by row
 *     (the same arithmetic, sample for sample, as one column at a time).
 *     Row r of the strip starts at block + r x stride floats (stride 0:
 *     the rows follow each other, 2 x ncols floats apart), so a strip may
 *     be transformed where it lies inside a wider image.
 */
__attribute__((target_clones("arch=x86-64-v3", "default")))
int fftColumns(float *block, const FftPlan &plan, int ncols, size_t stride) {
  const int n = plan.n;
  const size_t width = 2 * static_cast<size_t>(ncols);
  if (stride == 0) stride = width;
  auto row = [block, stride](int r) { return block + r * stride; };
  auto swapRows = [&](int a, int b) { std::swap_ranges(row(a), row(a) + width, row(b)); };
  if (plan.direction <= 0 && n > 1)
    for (int r = 0; r < n / 2; r++) swapRows(r, r + n / 2);
  for (int i = 0; i < n; i++)
    if (plan.reversed[i] > i) swapRows(i, plan.reversed[i]);
  for (int h = 1; h < n; h *= 2) {
    const double *w = plan.twiddles.data() + 2 * (h - 1);
    for (int g = 0; g < n; g += 2 * h)
      for (int k = 0; k < h; k++) {
        const double wr = w[2 * k], wi = w[2 * k + 1];
        float *a = row(g + k), *b = row(g + k + h);
        for (size_t c = 0; c < width; c += 2) {
          const float br = b[c], bi = b[c + 1];
          const float tr = static_cast<float>(wr * br - wi * bi);
          const float ti = static_cast<float>(wr * bi + wi * br);
          b[c] = a[c] - tr;
          b[c + 1] = a[c + 1] - ti;
          a[c] += tr;
          a[c + 1] += ti;
        }
      }
  }
  if (plan.direction <= 0) {
    const float scale = static_cast<float>(n);
    for (int r = 0; r < n; r++) {
      float *x = row(r);
      for (size_t i = 0; i < width; i++) x[i] /= scale;
    }
  }
  if (plan.direction >= 0 && n > 1)
    for (int r = 0; r < n / 2; r++) swapRows(r, r + n / 2);
  return 1;
}

void fftToPolar(float *s, long long n) {
  for (long long i = 0; i < n; i++) {
    const float re = s[2 * i], im = s[2 * i + 1];
    const float power = static_cast<float>(sqrt(static_cast<double>(re) * re + static_cast<double>(im) * im));
    s[2 * i] = power;
    s[2 * i + 1] = power != 0 ? static_cast<float>(atan2(im, re)) : 0.0f;
  }
}

void fftToRect(float *s, long long n) {
  for (long long i = 0; i < n; i++) {
    const double power = s[2 * i], phase = s[2 * i + 1];
    s[2 * i] = static_cast<float>(power * cos(phase));
    s[2 * i + 1] = static_cast<float>(power * sin(phase));
  }
}

/* ---- filters ---- */

namespace {

constexpr double kExpLimit = 708.39;

/* e^(-x), or the fallback where x passes the exponent limit. */
inline double expOr(double x, double fallback) { return x > kExpLimit ? fallback : exp(-x); }

inline void scaleSample(const FftFilter *f, float *s, double factor) {
  s[0] = static_cast<float>(s[0] * factor);
  if (!f->powerPhase) s[1] = static_cast<float>(s[1] * factor);
}

/* u^2 + v^2 of the rotated (or plain) ellipse about a centre. */
inline double ellipse(const FftFilter *f, double dx, double dy, bool rotate) {
  const double theta = f->angle * M_PI / 180;
  double u, v;
  if (rotate) {
    u = (cos(theta) * dx + sin(theta) * dy) / f->r1;
    v = (-sin(theta) * dx + cos(theta) * dy) / f->r2;
  } else {
    u = dx / f->r1;
    v = dy / f->r2;
  }
  return u * u + v * v;
}

inline bool rotated(const FftFilter *f) {
  const double c = cos(f->angle * M_PI / 180);
  return c != 1 && c != -1;
}

/* Factor over the 2-D radius: bell (amp 0 form) or high. */
void radial2D(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows,
              bool high) {
  const bool rotate = rotated(f);
  for (int r = 0; r < nrows; r++) {
    const double dy = row0 + r - f->cy;
    for (int c = 0; c < ncols; c++) {
      const double dx = col0 + c - f->cx;
      const double x = pow(ellipse(f, dx, dy, rotate), f->n);
      const double factor = high ? 1 - f->amplitude * expOr(x, 0) : expOr(x, 0);
      scaleSample(f, block + 2 * (static_cast<size_t>(r) * ncols + c), factor);
    }
  }
}

/* A factor per column (axis 0) or per row (axis 1). */
template <typename Factor>
void alongAxis(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows,
               int axis, Factor factor) {
  for (int r = 0; r < nrows; r++)
    for (int c = 0; c < ncols; c++) {
      const double d = axis == 0 ? col0 + c - f->cx : row0 + r - f->cy;
      const double k = factor(d, axis == 0 ? col0 + c : row0 + r);
      if (!std::isnan(k)) scaleSample(f, block + 2 * (static_cast<size_t>(r) * ncols + c), k);
    }
}

}  // namespace

void bellFilter2D(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows) {
  radial2D(f, block, col0, ncols, row0, nrows, false);
}

void highFilter2D(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows) {
  radial2D(f, block, col0, ncols, row0, nrows, true);
}

void bellFilterX(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows) {
  alongAxis(f, block, col0, ncols, row0, nrows, 0, [f](double d, int) {
    return expOr(pow(d * d / (static_cast<double>(f->r) * f->r), f->n), 0);
  });
}

void bellFilterY(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows) {
  alongAxis(f, block, col0, ncols, row0, nrows, 1, [f](double d, int) {
    return expOr(pow(d * d / (static_cast<double>(f->r) * f->r), f->n), 0);
  });
}

void highFilterX(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows) {
  alongAxis(f, block, col0, ncols, row0, nrows, 0, [f](double d, int) {
    return 1 - f->amplitude * expOr(pow(d * d / (static_cast<double>(f->r) * f->r), f->n), 0);
  });
}

void highFilterY(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows) {
  alongAxis(f, block, col0, ncols, row0, nrows, 1, [f](double d, int) {
    return 1 - f->amplitude * expOr(pow(d * d / (static_cast<double>(f->r) * f->r), f->n), 0);
  });
}

/*
 * notchFilter2D --
 *     Two notches, at the centre and at its mirror through the spectrum's
 *     middle; samples farther than the radius from both are unchanged.
 */
namespace {

void notchPair(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows,
               bool rotate) {
  const double mx = f->columns - f->cx - 1.0, my = f->rows - f->cy - 1.0;
  for (int r = 0; r < nrows; r++)
    for (int c = 0; c < ncols; c++) {
      const double col = col0 + c, row = row0 + r;
      const double w = std::min(ellipse(f, col - f->cx, row - f->cy, rotate),
                                ellipse(f, col - mx, row - my, rotate));
      if (!(w <= 1)) continue;
      const double factor = 1 - f->amplitude * expOr(pow(w, f->n), 1);
      scaleSample(f, block + 2 * (static_cast<size_t>(r) * ncols + c), factor);
    }
}

}  // namespace

void notchFilter2D(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows) {
  notchPair(f, block, col0, ncols, row0, nrows, true);
}

/*
 * notchFilterAligned --
 *     The two notches of notchFilter2D with their ellipses along the
 *     axes: the angle is not used.
 */
void notchFilterAligned(const FftFilter *f, float *block, int col0, int ncols, int row0,
                        int nrows) {
  notchPair(f, block, col0, ncols, row0, nrows, false);
}

namespace {

/*
 * One 1-D notch at position a of an axis of size: it acts on the half of
 * the spectrum that holds it, on positions within the radius.
 */
double notchLine(const FftFilter *f, int a, int size, int at, double fallback) {
  const int half = size / 2;
  if (a >= half ? at < half : at >= half) return NAN;
  const double d = at - a;
  const double r2 = static_cast<double>(f->r) * f->r;
  if (d * d > r2) return NAN;
  return 1 - f->amplitude * expOr(pow(d * d / r2, f->n), fallback);
}

/* The notch at column a, across the columns. */
double notchLineX(const FftFilter *f, int a, int at) { return notchLine(f, a, f->columns, at, 1); }

/* The notch at row a, across the rows. */
double notchLineY(const FftFilter *f, int a, int at) { return notchLine(f, a, f->rows, at, 0); }

}  // namespace

void notchFilterX(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows) {
  for (int a : {static_cast<int>(f->cx), static_cast<int>(f->columns - f->cx - 1)})
    alongAxis(f, block, col0, ncols, row0, nrows, 0,
              [f, a](double, int at) { return notchLineX(f, a, at); });
}

void notchFilterY(const FftFilter *f, float *block, int col0, int ncols, int row0, int nrows) {
  for (int a : {static_cast<int>(f->cy), static_cast<int>(f->rows - f->cy - 1)})
    alongAxis(f, block, col0, ncols, row0, nrows, 1,
              [f, a](double, int at) { return notchLineY(f, a, at); });
}

FftFilterProc *const fftFilterProcs[9] = {
    bellFilter2D,  bellFilterX,  bellFilterY,  highFilter2D, highFilterX,
    highFilterY,   notchFilter2D, notchFilterX, notchFilterY,
};

}  // namespace vesk
