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
#include <memory>
#include <new>

#include "vesk/stdio.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

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
  plan->twr.assign(std::max(n, 1), 0.0);
  plan->twi.assign(std::max(n, 1), 0.0);
  for (int h = 1; h < n; h *= 2) {
    const double c = cosines[2 * h - 1], s = sines[2 * h - 1];
    double wr = 1, wi = 0;
    for (int k = 0; k < h; k++) {
      plan->twiddles[2 * (h - 1 + k)] = wr;
      plan->twiddles[2 * (h - 1 + k) + 1] = wi;
      plan->twr[h - 1 + k] = wr;
      plan->twi[h - 1 + k] = wi;
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

/*
 * columnsRadix2 --
 *     Every column of a strip at once, the butterflies of a stage along
 *     whole rows of the strip: the loops the compiler vectorises.  On
 *     AVX2 machines its vector loop fuses the products of w b into
 *     multiply-adds for each pair of columns (an odd last column rounds
 *     both products).
 */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void columnsRadix2(float *block, const FftPlan &plan, int ncols, size_t stride) {
  const int n = plan.n;
  const size_t width = 2 * static_cast<size_t>(ncols);
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
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VESK_FFT_AVX2 1
#endif

#ifdef VESK_FFT_AVX2
#pragma GCC push_options
#pragma GCC target("arch=x86-64-v3")

/*
 * The transforms of AVX2 machines.  They run the butterflies of the loops
 * above as those loops' vector code computes them on such machines, each
 * with the same operations (w b in double with its products fused into
 * multiply-adds, rounded to float, then the float sum and difference), so
 * they give the same samples bit for bit; only the order of independent
 * butterflies and the layout change.  Four transforms, or four quarters
 * of one, run side by side as the lanes of a vector, with real and
 * imaginary parts apart.
 */
#define FFT_INLINE inline __attribute__((always_inline))

/* b = a - w b, a = a + w b on four lanes. */
FFT_INLINE void butterfly(__m128 &ar, __m128 &ai, __m128 &br, __m128 &bi, __m256d wr, __m256d wi) {
  const __m256d dr = _mm256_cvtps_pd(br), di = _mm256_cvtps_pd(bi);
  const __m128 tr = _mm256_cvtpd_ps(_mm256_fmsub_pd(dr, wr, _mm256_mul_pd(di, wi)));
  const __m128 ti = _mm256_cvtpd_ps(_mm256_fmadd_pd(di, wr, _mm256_mul_pd(dr, wi)));
  br = _mm_sub_ps(ar, tr);
  bi = _mm_sub_ps(ai, ti);
  ar = _mm_add_ps(ar, tr);
  ai = _mm_add_ps(ai, ti);
}

/*
 * verticalStages --
 *     The stages h = 1, 2, 4 ... below end over n rows of a work array
 *     whose rows hold `groups` lane groups (re[4], im[4]) with
 *     independent lanes: a butterfly pairs two rows, its twiddle depends
 *     on its row alone.  Two stages at a time (a radix-4 pass with the
 *     radix-2 butterflies), so the rows go through the cache half as
 *     often.
 */
FFT_INLINE void verticalStages(const FftPlan &plan, float *x, int groups, int n, int end) {
  const double *twr = plan.twr.data(), *twi = plan.twi.data();
  const size_t g8 = 8 * static_cast<size_t>(groups);
  int h = 1;
  for (; 2 * h < end; h *= 4) {
    /* stage h on (i, i+h) and (i+2h, i+3h); stage 2h on (i, i+2h) and (i+h, i+3h) */
    for (int k = 0; k < h; k++) {
      const __m256d w1r = _mm256_set1_pd(twr[h - 1 + k]), w1i = _mm256_set1_pd(twi[h - 1 + k]);
      const __m256d w2r = _mm256_set1_pd(twr[2 * h - 1 + k]), w2i = _mm256_set1_pd(twi[2 * h - 1 + k]);
      const __m256d w3r = _mm256_set1_pd(twr[3 * h - 1 + k]), w3i = _mm256_set1_pd(twi[3 * h - 1 + k]);
      for (int g = 0; g < n; g += 4 * h) {
        float *p0 = x + (g + k) * g8, *p1 = p0 + h * g8, *p2 = p1 + h * g8, *p3 = p2 + h * g8;
        for (int v = 0; v < groups; v++) {
          float *q0 = p0 + 8 * v, *q1 = p1 + 8 * v, *q2 = p2 + 8 * v, *q3 = p3 + 8 * v;
          __m128 r0 = _mm_loadu_ps(q0), i0 = _mm_loadu_ps(q0 + 4);
          __m128 r1 = _mm_loadu_ps(q1), i1 = _mm_loadu_ps(q1 + 4);
          __m128 r2 = _mm_loadu_ps(q2), i2 = _mm_loadu_ps(q2 + 4);
          __m128 r3 = _mm_loadu_ps(q3), i3 = _mm_loadu_ps(q3 + 4);
          butterfly(r0, i0, r1, i1, w1r, w1i);
          butterfly(r2, i2, r3, i3, w1r, w1i);
          butterfly(r0, i0, r2, i2, w2r, w2i);
          butterfly(r1, i1, r3, i3, w3r, w3i);
          _mm_storeu_ps(q0, r0);
          _mm_storeu_ps(q0 + 4, i0);
          _mm_storeu_ps(q1, r1);
          _mm_storeu_ps(q1 + 4, i1);
          _mm_storeu_ps(q2, r2);
          _mm_storeu_ps(q2 + 4, i2);
          _mm_storeu_ps(q3, r3);
          _mm_storeu_ps(q3 + 4, i3);
        }
      }
    }
  }
  for (; h < end; h *= 2)
    for (int k = 0; k < h; k++) {
      const __m256d wr = _mm256_set1_pd(twr[h - 1 + k]), wi = _mm256_set1_pd(twi[h - 1 + k]);
      for (int g = 0; g < n; g += 2 * h) {
        float *a = x + (g + k) * g8, *b = a + h * g8;
        for (int v = 0; v < groups; v++, a += 8, b += 8) {
          __m128 ar = _mm_loadu_ps(a), ai = _mm_loadu_ps(a + 4);
          __m128 br = _mm_loadu_ps(b), bi = _mm_loadu_ps(b + 4);
          butterfly(ar, ai, br, bi, wr, wi);
          _mm_storeu_ps(a, ar);
          _mm_storeu_ps(a + 4, ai);
          _mm_storeu_ps(b, br);
          _mm_storeu_ps(b + 4, bi);
        }
      }
    }
}

/* Four samples given as real and imaginary vectors, stored as pairs. */
FFT_INLINE void storePairs(float *p, __m128 re, __m128 im) {
  _mm_storeu_ps(p, _mm_unpacklo_ps(re, im));
  _mm_storeu_ps(p + 4, _mm_unpackhi_ps(re, im));
}

/*
 * transformRowAvx2 --
 *     One row of n >= 16 samples in place, as fftRows does it (n/2
 *     rotation before the inverse, after the forward).  Lane l of work
 *     row j holds sample j + l n/4 of the bit-reversed order, so every
 *     stage below n/4 pairs whole work rows; the last two stages run on
 *     4 x 4 transposed tiles on their way out.  The row is read in order
 *     (the bit reversal scatters into the work array).  work: 2 n floats.
 */
void transformRowAvx2(const FftPlan &plan, float *row, float *work) {
  const int n = plan.n, q = n / 4;
  const int flip = plan.direction <= 0 ? q / 2 : 0;
  for (int b = 0; b < q; b++) {
    /* samples 4b .. 4b + 3 are rev(j) .. rev(j) + 3: lanes 0, 2, 1, 3 of row j */
    const int j = plan.reversed[b ^ flip] >> 2;
    const __m128 x = _mm_loadu_ps(row + 8 * static_cast<size_t>(b));
    const __m128 y = _mm_loadu_ps(row + 8 * static_cast<size_t>(b) + 4);
    const __m128 lo = _mm_unpacklo_ps(x, y), hi = _mm_unpackhi_ps(x, y);
    _mm_storeu_ps(work + 8 * j, _mm_movelh_ps(lo, hi));
    _mm_storeu_ps(work + 8 * j + 4, _mm_movehl_ps(hi, lo));
  }
  verticalStages(plan, work, 1, q, q);
  const double *twr = plan.twr.data(), *twi = plan.twi.data();
  const bool inverse = plan.direction <= 0;
  const __m128 scale = _mm_set1_ps(1.0f / static_cast<float>(n));  /* exact: n is a power of 2 */
  const int rot = plan.direction >= 0 ? n / 2 : 0;
  for (int j = 0; j < q; j += 4) {
    const float *w = work + 8 * j;
    __m128 r0 = _mm_loadu_ps(w), r1 = _mm_loadu_ps(w + 8), r2 = _mm_loadu_ps(w + 16), r3 = _mm_loadu_ps(w + 24);
    __m128 i0 = _mm_loadu_ps(w + 4), i1 = _mm_loadu_ps(w + 12), i2 = _mm_loadu_ps(w + 20), i3 = _mm_loadu_ps(w + 28);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    _MM_TRANSPOSE4_PS(i0, i1, i2, i3);
    /* vector l: samples j .. j + 3 plus l n/4; the stages n/4 and n/2 */
    const __m256d w1r = _mm256_loadu_pd(twr + q - 1 + j), w1i = _mm256_loadu_pd(twi + q - 1 + j);
    butterfly(r0, i0, r1, i1, w1r, w1i);
    butterfly(r2, i2, r3, i3, w1r, w1i);
    butterfly(r0, i0, r2, i2, _mm256_loadu_pd(twr + 2 * q - 1 + j), _mm256_loadu_pd(twi + 2 * q - 1 + j));
    butterfly(r1, i1, r3, i3, _mm256_loadu_pd(twr + 3 * q - 1 + j), _mm256_loadu_pd(twi + 3 * q - 1 + j));
    if (inverse) {
      r0 = _mm_mul_ps(r0, scale), r1 = _mm_mul_ps(r1, scale), r2 = _mm_mul_ps(r2, scale), r3 = _mm_mul_ps(r3, scale);
      i0 = _mm_mul_ps(i0, scale), i1 = _mm_mul_ps(i1, scale), i2 = _mm_mul_ps(i2, scale), i3 = _mm_mul_ps(i3, scale);
    }
    storePairs(row + 2 * ((j + rot) & (n - 1)), r0, i0);
    storePairs(row + 2 * ((j + q + rot) & (n - 1)), r1, i1);
    storePairs(row + 2 * ((j + 2 * q + rot) & (n - 1)), r2, i2);
    storePairs(row + 2 * ((j + 3 * q + rot) & (n - 1)), r3, i3);
  }
}

/*
 * transformColumnsAvx2 --
 *     Up to 4 x groups columns (ncols) of n rows, rows stride floats
 *     apart, in place: each lane a column.  The rows are read in order
 *     into the work array at their bit-reversed places (after the
 *     inverse's rotation) and go back rotated after the forward; work:
 *     8 x groups x n floats.
 */
void transformColumnsAvx2(const FftPlan &plan, float *block, int ncols, size_t stride, float *work) {
  const int n = plan.n, groups = (ncols + 3) / 4;
  const size_t g8 = 8 * static_cast<size_t>(groups);
  const int flip = plan.direction <= 0 ? n / 2 : 0;
  for (int r = 0; r < n; r++) {
    const float *src = block + static_cast<size_t>(r) * stride;
    if (r + 8 < n) {
      const char *ahead = reinterpret_cast<const char *>(src + 8 * stride);
      for (int b = 0; b < 8 * ncols; b += 64) _mm_prefetch(ahead + b, _MM_HINT_T0);
    }
    float *dst = work + plan.reversed[r ^ flip] * g8;
    for (int v = 0; v < groups; v++, src += 8, dst += 8) {
      if (4 * v + 4 <= ncols) {
        const __m128 a = _mm_loadu_ps(src), b = _mm_loadu_ps(src + 4);
        _mm_storeu_ps(dst, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(dst + 4, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
      } else {
        for (int l = 0; l < 4; l++) {
          const bool in = 4 * v + l < ncols;
          dst[l] = in ? src[2 * l] : 0;
          dst[4 + l] = in ? src[2 * l + 1] : 0;
        }
      }
    }
  }
  verticalStages(plan, work, groups, n, n);
  const bool inverse = plan.direction <= 0;
  const __m128 scale = _mm_set1_ps(1.0f / static_cast<float>(n));
  const int rot = plan.direction >= 0 ? n / 2 : 0;
  for (int i = 0; i < n; i++) {
    const float *src = work + i * g8;
    float *dst = block + static_cast<size_t>((i + rot) & (n - 1)) * stride;
    for (int v = 0; v < groups; v++, src += 8, dst += 8) {
      __m128 re = _mm_loadu_ps(src), im = _mm_loadu_ps(src + 4);
      if (inverse) re = _mm_mul_ps(re, scale), im = _mm_mul_ps(im, scale);
      if (4 * v + 4 <= ncols) {
        storePairs(dst, re, im);
      } else {
        float lanes[8];
        _mm_storeu_ps(lanes, re);
        _mm_storeu_ps(lanes + 4, im);
        for (int l = 0; 4 * v + l < ncols; l++) {
          dst[2 * l] = lanes[l];
          dst[2 * l + 1] = lanes[4 + l];
        }
      }
    }
  }
}

#pragma GCC pop_options
#endif

/* The AVX2 transforms serve this machine. */
bool useAvx2() {
#ifdef VESK_FFT_AVX2
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v3") != 0;
  }();
  return avx2;
#else
  return false;
#endif
}

/* Columns a work array of the column transform holds. */
constexpr int kColumnBatch = 16;

}  // namespace

/*
 * fftRows --
 *     Each row in place: the inverse's input and the forward's output
 *     rotated by n/2 (n is a power of 2, so the rotation swaps halves).
 */
int fftRows(float *block, const FftPlan &plan, int nrows) {
  const int n = plan.n;
#ifdef VESK_FFT_AVX2
  if (n >= 16 && useAvx2()) {
    std::unique_ptr<float[]> work(new (std::nothrow) float[2 * static_cast<size_t>(n)]);
    if (!work) return 0;
    for (int r = 0; r < nrows; r++) transformRowAvx2(plan, block + 2 * static_cast<size_t>(r) * n, work.get());
    return 1;
  }
#endif
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
 *     Every column of a strip.  Row r of the strip starts at block + r x
 *     stride floats (stride 0: the rows follow each other, 2 x ncols
 *     floats apart), so a strip may be transformed where it lies inside a
 *     wider image.  On AVX2 machines 16 columns at a time go through a
 *     work array that holds them whole (read in place, a column would
 *     take a cache line per sample); an odd last column takes the
 *     radix-2 loop, which rounds its products as it always has.
 */
int fftColumns(float *block, const FftPlan &plan, int ncols, size_t stride) {
  if (stride == 0) stride = 2 * static_cast<size_t>(ncols);
  if (ncols <= 0 || plan.n <= 0) return 1;
#ifdef VESK_FFT_AVX2
  if (useAvx2()) {
    const int paired = ncols & ~1;
    if (paired > 0) {
      const size_t batch = std::min(kColumnBatch, (paired + 3) & ~3);
      std::unique_ptr<float[]> work(new (std::nothrow) float[2 * batch * plan.n]);
      if (!work) return 0;
      for (int c = 0; c < paired; c += kColumnBatch)
        transformColumnsAvx2(plan, block + 2 * static_cast<size_t>(c), std::min(kColumnBatch, paired - c),
                             stride, work.get());
    }
    if (paired < ncols) columnsRadix2(block + 2 * static_cast<size_t>(paired), plan, 1, stride);
    return 1;
  }
#endif
  columnsRadix2(block, plan, ncols, stride);
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
