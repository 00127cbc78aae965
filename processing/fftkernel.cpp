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
#include <atomic>
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
#define VESK_FFT_VECTORS 1
#endif

#ifdef VESK_FFT_VECTORS
/*
 * The vector transforms.  They run the butterflies of the loops above as
 * those loops' vector code computes them on AVX2 machines, each with the
 * same operations (w b in double with its products fused into
 * multiply-adds, rounded to float, then the float sum and difference), so
 * they give the same samples bit for bit; only the order of independent
 * butterflies and the layout change.  The lanes of a vector run side by
 * side: columns, or quarters of rows, with real and imaginary parts
 * apart.  Written once over the lane width: 4 lanes (SSE floats, AVX
 * doubles) for AVX2 machines, 8 (AVX floats, AVX-512 doubles) for
 * AVX-512 ones; the entry points below inline everything (flatten) into
 * code built for their machine.
 */
#pragma GCC diagnostic push
/* Every vector function below is inlined: no vector crosses a call. */
#pragma GCC diagnostic ignored "-Wpsabi"
/* GCC's own AVX-512 conversions leave their unused merge operand undefined. */
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define FFT_AVX2 __attribute__((target("arch=x86-64-v3")))
#define FFT_AVX512 __attribute__((target("arch=x86-64-v4")))

struct Lanes4 {
  typedef __m128 F;
  typedef __m256d D;
  static constexpr int kLanes = 4;
  FFT_AVX2 static inline F load(const float *p) { return _mm_loadu_ps(p); }
  FFT_AVX2 static inline void store(float *p, F x) { _mm_storeu_ps(p, x); }
  FFT_AVX2 static inline F add(F a, F b) { return _mm_add_ps(a, b); }
  FFT_AVX2 static inline F sub(F a, F b) { return _mm_sub_ps(a, b); }
  FFT_AVX2 static inline F mul(F a, F b) { return _mm_mul_ps(a, b); }
  FFT_AVX2 static inline F splat(float x) { return _mm_set1_ps(x); }
  FFT_AVX2 static inline F unpacklo(F a, F b) { return _mm_unpacklo_ps(a, b); }
  FFT_AVX2 static inline F unpackhi(F a, F b) { return _mm_unpackhi_ps(a, b); }
  FFT_AVX2 static inline F evens(F a, F b) { return _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)); }
  FFT_AVX2 static inline F odds(F a, F b) { return _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)); }
  FFT_AVX2 static inline F lows(F a, F b) { return _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 1, 0)); }
  FFT_AVX2 static inline F highs(F a, F b) { return _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 2, 3, 2)); }
  FFT_AVX2 static inline __m128 quarter(F x, int) { return x; }
  FFT_AVX2 static inline D up(F x) { return _mm256_cvtps_pd(x); }
  FFT_AVX2 static inline F down(D x) { return _mm256_cvtpd_ps(x); }
  FFT_AVX2 static inline D splat(double x) { return _mm256_set1_pd(x); }
  FFT_AVX2 static inline D four(const double *p) { return _mm256_loadu_pd(p); }
  FFT_AVX2 static inline D mul(D a, D b) { return _mm256_mul_pd(a, b); }
  FFT_AVX2 static inline D fmsub(D a, D b, D c) { return _mm256_fmsub_pd(a, b, c); }
  FFT_AVX2 static inline D fmadd(D a, D b, D c) { return _mm256_fmadd_pd(a, b, c); }
};

struct Lanes8 {
  typedef __m256 F;
  typedef __m512d D;
  static constexpr int kLanes = 8;
  FFT_AVX512 static inline F load(const float *p) { return _mm256_loadu_ps(p); }
  FFT_AVX512 static inline void store(float *p, F x) { _mm256_storeu_ps(p, x); }
  FFT_AVX512 static inline F add(F a, F b) { return _mm256_add_ps(a, b); }
  FFT_AVX512 static inline F sub(F a, F b) { return _mm256_sub_ps(a, b); }
  FFT_AVX512 static inline F mul(F a, F b) { return _mm256_mul_ps(a, b); }
  FFT_AVX512 static inline F splat(float x) { return _mm256_set1_ps(x); }
  /* within each 128-bit half, as the 4-lane forms */
  FFT_AVX512 static inline F unpacklo(F a, F b) { return _mm256_unpacklo_ps(a, b); }
  FFT_AVX512 static inline F unpackhi(F a, F b) { return _mm256_unpackhi_ps(a, b); }
  FFT_AVX512 static inline F evens(F a, F b) { return _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)); }
  FFT_AVX512 static inline F odds(F a, F b) { return _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)); }
  FFT_AVX512 static inline F lows(F a, F b) { return _mm256_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 1, 0)); }
  FFT_AVX512 static inline F highs(F a, F b) { return _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 2, 3, 2)); }
  FFT_AVX512 static inline __m128 quarter(F x, int half) {
    return half ? _mm256_extractf128_ps(x, 1) : _mm256_castps256_ps128(x);
  }
  FFT_AVX512 static inline D up(F x) { return _mm512_cvtps_pd(x); }
  FFT_AVX512 static inline F down(D x) { return _mm512_cvtpd_ps(x); }
  FFT_AVX512 static inline D splat(double x) { return _mm512_set1_pd(x); }
  /* four twiddles for both halves */
  FFT_AVX512 static inline D four(const double *p) { return _mm512_broadcast_f64x4(_mm256_loadu_pd(p)); }
  FFT_AVX512 static inline D mul(D a, D b) { return _mm512_mul_pd(a, b); }
  FFT_AVX512 static inline D fmsub(D a, D b, D c) { return _mm512_fmsub_pd(a, b, c); }
  FFT_AVX512 static inline D fmadd(D a, D b, D c) { return _mm512_fmadd_pd(a, b, c); }
};

/* b = a - w b, a = a + w b on every lane. */
template <class L>
inline void butterfly(typename L::F &ar, typename L::F &ai, typename L::F &br, typename L::F &bi,
                      typename L::D wr, typename L::D wi) {
  const typename L::D dr = L::up(br), di = L::up(bi);
  const typename L::F tr = L::down(L::fmsub(dr, wr, L::mul(di, wi)));
  const typename L::F ti = L::down(L::fmadd(di, wr, L::mul(dr, wi)));
  br = L::sub(ar, tr);
  bi = L::sub(ai, ti);
  ar = L::add(ar, tr);
  ai = L::add(ai, ti);
}

/*
 * The butterfly of the twiddle 1 (k = 0 of every stage), in float: there
 * the fused w b is b itself, but for the signs of zeros and for NaNs,
 * which the products by 0 settle as in the general butterfly (b - b'0
 * and b' + b 0 are exact in either precision).
 */
template <class L>
inline void butterflyOne(typename L::F &ar, typename L::F &ai, typename L::F &br, typename L::F &bi) {
  const typename L::F zero = L::splat(0.0f);
  const typename L::F tr = L::sub(br, L::mul(bi, zero));
  const typename L::F ti = L::add(bi, L::mul(br, zero));
  br = L::sub(ar, tr);
  bi = L::sub(ai, ti);
  ar = L::add(ar, tr);
  ai = L::add(ai, ti);
}

/* The butterflies of a radix-4 step over rows p, p + h, p + 2h, p + 3h
   (One: k = 0, where the twiddles of the stage h pairs and of the first
   stage 2h pair are 1). */
template <class L, bool One>
inline void radix4(float *p0, size_t hw, int groups, typename L::D w1r, typename L::D w1i,
                   typename L::D w2r, typename L::D w2i, typename L::D w3r, typename L::D w3i) {
  typedef typename L::F F;
  constexpr int K = L::kLanes;
  float *p1 = p0 + hw, *p2 = p1 + hw, *p3 = p2 + hw;
  for (int v = 0; v < groups; v++) {
    float *q0 = p0 + 2 * K * v, *q1 = p1 + 2 * K * v, *q2 = p2 + 2 * K * v, *q3 = p3 + 2 * K * v;
    F r0 = L::load(q0), i0 = L::load(q0 + K), r1 = L::load(q1), i1 = L::load(q1 + K);
    F r2 = L::load(q2), i2 = L::load(q2 + K), r3 = L::load(q3), i3 = L::load(q3 + K);
    if (One) {
      butterflyOne<L>(r0, i0, r1, i1);
      butterflyOne<L>(r2, i2, r3, i3);
      butterflyOne<L>(r0, i0, r2, i2);
    } else {
      butterfly<L>(r0, i0, r1, i1, w1r, w1i);
      butterfly<L>(r2, i2, r3, i3, w1r, w1i);
      butterfly<L>(r0, i0, r2, i2, w2r, w2i);
    }
    butterfly<L>(r1, i1, r3, i3, w3r, w3i);
    L::store(q0, r0);
    L::store(q0 + K, i0);
    L::store(q1, r1);
    L::store(q1 + K, i1);
    L::store(q2, r2);
    L::store(q2 + K, i2);
    L::store(q3, r3);
    L::store(q3 + K, i3);
  }
}

/*
 * What a transform fetches ahead into the cache while it computes, the
 * input of the next one: `rows` pieces of `bytes` from `at`, `stride`
 * bytes apart (the next batch's piece of each row of a column transform,
 * the next rows of a row transform), a piece at each step, so the
 * fetches overlap the butterflies instead of queueing up at once.
 */
struct Prefetch {
  const char *at = nullptr;
  size_t stride = 0;
  int rows = 0, bytes = 0;
  inline void step() {
    if (rows <= 0) return;
    for (int b = 0; b < bytes; b += 64) _mm_prefetch(at + b, _MM_HINT_T1);
    at += stride;
    rows--;
  }
};

/*
 * verticalStages --
 *     The stages h = 1, 2, 4 ... below end over n rows of a work array
 *     whose rows hold `groups` lane groups (the real parts of the lanes,
 *     then the imaginary ones), the lanes independent: a butterfly pairs
 *     two rows, its twiddle depends on its row alone.  Two stages at a
 *     time (a radix-4 pass of radix-2 butterflies), so the rows go
 *     through the cache half as often.
 */
template <class L>
inline void verticalStages(const FftPlan &plan, float *x, int groups, int n, int end,
                           Prefetch &ahead) {
  typedef typename L::F F;
  typedef typename L::D D;
  constexpr int K = L::kLanes;
  const double *twr = plan.twr.data(), *twi = plan.twi.data();
  const size_t gw = 2 * K * static_cast<size_t>(groups);
  int h = 1;
  for (; 2 * h < end; h *= 4) {
    /* stage h on (i, i+h) and (i+2h, i+3h); stage 2h on (i, i+2h) and (i+h, i+3h) */
    for (int k = 0; k < h; k++) {
      const D w1r = L::splat(twr[h - 1 + k]), w1i = L::splat(twi[h - 1 + k]);
      const D w2r = L::splat(twr[2 * h - 1 + k]), w2i = L::splat(twi[2 * h - 1 + k]);
      const D w3r = L::splat(twr[3 * h - 1 + k]), w3i = L::splat(twi[3 * h - 1 + k]);
      for (int g = 0; g < n; g += 4 * h) {
        ahead.step();
        float *p0 = x + (g + k) * gw;
        if (k == 0)
          radix4<L, true>(p0, h * gw, groups, w1r, w1i, w2r, w2i, w3r, w3i);
        else
          radix4<L, false>(p0, h * gw, groups, w1r, w1i, w2r, w2i, w3r, w3i);
      }
    }
  }
  for (; h < end; h *= 2)
    for (int k = 0; k < h; k++) {
      const D wr = L::splat(twr[h - 1 + k]), wi = L::splat(twi[h - 1 + k]);
      for (int g = 0; g < n; g += 2 * h) {
        float *a = x + (g + k) * gw, *b = a + h * gw;
        for (int v = 0; v < groups; v++, a += 2 * K, b += 2 * K) {
          F ar = L::load(a), ai = L::load(a + K), br = L::load(b), bi = L::load(b + K);
          if (k == 0)
            butterflyOne<L>(ar, ai, br, bi);
          else
            butterfly<L>(ar, ai, br, bi, wr, wi);
          L::store(a, ar);
          L::store(a + K, ai);
          L::store(b, br);
          L::store(b + K, bi);
        }
      }
    }
}

/* 4 x 4 transpose (in each 128-bit half): lane l of a, b, c, d into vector l. */
template <class L>
inline void transpose4(typename L::F &a, typename L::F &b, typename L::F &c, typename L::F &d) {
  const typename L::F t0 = L::unpacklo(a, b), t1 = L::unpackhi(a, b);
  const typename L::F t2 = L::unpacklo(c, d), t3 = L::unpackhi(c, d);
  a = L::lows(t0, t2);
  b = L::highs(t0, t2);
  c = L::lows(t1, t3);
  d = L::highs(t1, t3);
}

/* Four samples given as real and imaginary vectors, stored as pairs. */
inline void storePairs(float *p, __m128 re, __m128 im) {
  _mm_storeu_ps(p, _mm_unpacklo_ps(re, im));
  _mm_storeu_ps(p + 4, _mm_unpackhi_ps(re, im));
}

/*
 * transformRows --
 *     kLanes / 4 rows of n >= 16 samples, read from `from` (which may be
 *     the rows themselves) into `rows`, as fftRows does them
 *     (n/2 rotation before the inverse, after the forward).  Lane l of
 *     a row's four in work row j holds sample j + l n/4 of the
 *     bit-reversed order, so every stage below n/4 pairs whole work rows;
 *     the last two stages run on 4 x 4 transposed tiles on their way out.
 *     The rows are read in order (the bit reversal scatters into the work
 *     array).  work: 2 kLanes n / 4 floats.
 */
template <class L>
inline void transformRows(const FftPlan &plan, const float *const *from, float *const *rows, float *work,
                          const float *next) {
  typedef typename L::F F;
  typedef typename L::D D;
  constexpr int K = L::kLanes, R = K / 4, W = 2 * K;
  const int n = plan.n, q = n / 4;
  const int flip = plan.direction <= 0 ? q / 2 : 0;
  for (int rr = 0; rr < R; rr++) {
    const float *row = from[rr];
    for (int b = 0; b < q; b++) {
      /* samples 4b .. 4b + 3 are rev(j) .. rev(j) + 3: lanes 0, 2, 1, 3 of row j */
      const int j = plan.reversed[b ^ flip] >> 2;
      const __m128 x = _mm_loadu_ps(row + 8 * static_cast<size_t>(b));
      const __m128 y = _mm_loadu_ps(row + 8 * static_cast<size_t>(b) + 4);
      const __m128 lo = _mm_unpacklo_ps(x, y), hi = _mm_unpackhi_ps(x, y);
      _mm_storeu_ps(work + W * j + 4 * rr, _mm_movelh_ps(lo, hi));
      _mm_storeu_ps(work + W * j + K + 4 * rr, _mm_movehl_ps(hi, lo));
    }
  }
  Prefetch ahead;
  if (next) {
    ahead.at = reinterpret_cast<const char *>(next);
    ahead.stride = ahead.bytes = 128;
    ahead.rows = static_cast<int>(R * 2 * sizeof(float) * static_cast<size_t>(n) / 128);
  }
  verticalStages<L>(plan, work, 1, q, q, ahead);
  const double *twr = plan.twr.data(), *twi = plan.twi.data();
  const bool inverse = plan.direction <= 0;
  const F scale = L::splat(1.0f / static_cast<float>(n));  /* exact: n is a power of 2 */
  const int rot = plan.direction >= 0 ? n / 2 : 0;
  for (int j = 0; j < q; j += 4) {
    const float *w = work + W * j;
    F r0 = L::load(w), r1 = L::load(w + W), r2 = L::load(w + 2 * W), r3 = L::load(w + 3 * W);
    F i0 = L::load(w + K), i1 = L::load(w + W + K), i2 = L::load(w + 2 * W + K), i3 = L::load(w + 3 * W + K);
    transpose4<L>(r0, r1, r2, r3);
    transpose4<L>(i0, i1, i2, i3);
    /* vector l: samples j .. j + 3 plus l n/4; the stages n/4 and n/2 */
    const D w1r = L::four(twr + q - 1 + j), w1i = L::four(twi + q - 1 + j);
    butterfly<L>(r0, i0, r1, i1, w1r, w1i);
    butterfly<L>(r2, i2, r3, i3, w1r, w1i);
    butterfly<L>(r0, i0, r2, i2, L::four(twr + 2 * q - 1 + j), L::four(twi + 2 * q - 1 + j));
    butterfly<L>(r1, i1, r3, i3, L::four(twr + 3 * q - 1 + j), L::four(twi + 3 * q - 1 + j));
    if (inverse) {
      r0 = L::mul(r0, scale), r1 = L::mul(r1, scale), r2 = L::mul(r2, scale), r3 = L::mul(r3, scale);
      i0 = L::mul(i0, scale), i1 = L::mul(i1, scale), i2 = L::mul(i2, scale), i3 = L::mul(i3, scale);
    }
    const size_t at[4] = {2 * static_cast<size_t>((j + rot) & (n - 1)),
                          2 * static_cast<size_t>((j + q + rot) & (n - 1)),
                          2 * static_cast<size_t>((j + 2 * q + rot) & (n - 1)),
                          2 * static_cast<size_t>((j + 3 * q + rot) & (n - 1))};
    for (int rr = 0; rr < R; rr++) {
      storePairs(rows[rr] + at[0], L::quarter(r0, rr), L::quarter(i0, rr));
      storePairs(rows[rr] + at[1], L::quarter(r1, rr), L::quarter(i1, rr));
      storePairs(rows[rr] + at[2], L::quarter(r2, rr), L::quarter(i2, rr));
      storePairs(rows[rr] + at[3], L::quarter(r3, rr), L::quarter(i3, rr));
    }
  }
}

/* Columns a work array of the column transforms holds: the wider batch
   while its work array fits kMaxWorkBytes (fewer passes over the rows'
   pages), else the narrower. */
constexpr int kColumnBatch = 32, kNarrowColumnBatch = 16;

/*
 * transformColumns --
 *     Up to a batch of columns (ncols) of n rows, rows stride floats
 *     apart, in place: each lane a column.  The rows are read in order
 *     into the work array at their bit-reversed places (after the
 *     inverse's rotation) and go back rotated after the forward.  work:
 *     2 ncols n floats.  next: the nextCols columns of the next
 *     batch (or null), whose rows are fetched into the cache meanwhile:
 *     read a piece a page apart, a row would otherwise wait for memory.
 */
template <class L>
inline void transformColumns(const FftPlan &plan, float *block, int ncols, size_t stride, float *work,
                             const float *next, int nextCols) {
  typedef typename L::F F;
  constexpr int K = L::kLanes;
  const int n = plan.n, groups = (ncols + K - 1) / K;
  const size_t gw = 2 * K * static_cast<size_t>(groups);
  const int flip = plan.direction <= 0 ? n / 2 : 0;
  float pairs[2 * K];
  for (int r = 0; r < n; r++) {
    const float *src = block + static_cast<size_t>(r) * stride;
    float *dst = work + plan.reversed[r ^ flip] * gw;
    for (int v = 0; v < groups; v++, src += 2 * K, dst += 2 * K) {
      const float *from = src;
      if (K * v + K > ncols) {
        const int have = 2 * (ncols - K * v);
        for (int i = 0; i < 2 * K; i++) pairs[i] = i < have ? src[i] : 0;
        from = pairs;
      }
      const F a = L::load(from), b = L::load(from + K);
      L::store(dst, L::evens(a, b));
      L::store(dst + K, L::odds(a, b));
    }
  }
  Prefetch ahead;
  if (next) {
    ahead.at = reinterpret_cast<const char *>(next);
    ahead.stride = stride * sizeof(float);
    ahead.rows = n;
    ahead.bytes = 8 * nextCols;
  }
  verticalStages<L>(plan, work, groups, n, n, ahead);
  const bool inverse = plan.direction <= 0;
  const F scale = L::splat(1.0f / static_cast<float>(n));
  const int rot = plan.direction >= 0 ? n / 2 : 0;
  for (int i = 0; i < n; i++) {
    const float *src = work + i * gw;
    float *dst = block + static_cast<size_t>((i + rot) & (n - 1)) * stride;
    for (int v = 0; v < groups; v++, src += 2 * K, dst += 2 * K) {
      F re = L::load(src), im = L::load(src + K);
      if (inverse) re = L::mul(re, scale), im = L::mul(im, scale);
      if (K * v + K <= ncols) {
        L::store(dst, L::unpacklo(re, im));
        L::store(dst + K, L::unpackhi(re, im));
      } else {
        L::store(pairs, L::unpacklo(re, im));
        L::store(pairs + K, L::unpackhi(re, im));
        for (int i2 = 0; i2 < 2 * (ncols - K * v); i2++) dst[i2] = pairs[i2];
      }
    }
  }
}

__attribute__((flatten)) FFT_AVX2 void rowAvx2(const FftPlan &plan, const float *from, float *row,
                                               float *work, const float *next) {
  transformRows<Lanes4>(plan, &from, &row, work, next);
}
__attribute__((flatten)) FFT_AVX512 void rowPairAvx512(const FftPlan &plan, const float *fromA,
                                                       const float *fromB, float *a, float *b,
                                                       float *work, const float *next) {
  const float *const from[2] = {fromA, fromB};
  float *const rows[2] = {a, b};
  transformRows<Lanes8>(plan, from, rows, work, next);
}
__attribute__((flatten)) FFT_AVX2 void columnsAvx2(const FftPlan &plan, float *block, int ncols,
                                                   size_t stride, float *work, const float *next,
                                                   int nextCols) {
  transformColumns<Lanes4>(plan, block, ncols, stride, work, next, nextCols);
}
__attribute__((flatten)) FFT_AVX512 void columnsAvx512(const FftPlan &plan, float *block, int ncols,
                                                       size_t stride, float *work, const float *next,
                                                       int nextCols) {
  transformColumns<Lanes8>(plan, block, ncols, stride, work, next, nextCols);
}

/* The widest vectors of the machine: 8 (AVX-512), 4 (AVX2) or 0. */
int machineLanes() {
  static const int lanes = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("x86-64-v4")) return 8;
    return __builtin_cpu_supports("x86-64-v3") ? 4 : 0;
  }();
  return lanes;
}
#pragma GCC diagnostic pop
#else
int machineLanes() { return 0; }
#endif

/* The largest work array of a vector transform: longer lines (a million
   samples) go through the radix-2 loops, in place. */
constexpr int64_t kMaxWorkBytes = int64_t{8} << 20;

/* The lanes the transforms use: the machine's, or fewer (fftVectorLanes). */
std::atomic<int> lanesInUse{-1};

int vectorLanes() {
  const int lanes = lanesInUse.load(std::memory_order_relaxed);
  return lanes < 0 ? machineLanes() : std::min(lanes, machineLanes());
}

}  // namespace

int fftVectorLanes(int lanes) {
  const int before = vectorLanes();
  lanesInUse = lanes;
  return before;
}

/*
 * fftRows, fftRowsFrom --
 *     Each row in place (or from source into block: the row is read whole
 *     before any of it is written): the inverse's input and the forward's
 *     output rotated by n/2 (n is a power of 2, so the rotation swaps
 *     halves).
 * Results:      1; 0, with nothing transformed, when the work space
 *     cannot be had.
 */
int fftRows(float *block, const FftPlan &plan, int nrows) {
  return fftRowsFrom(block, block, plan, nrows);
}

int fftRowsFrom(const float *source, float *block, const FftPlan &plan, int nrows) {
  const int n = plan.n;
#ifdef VESK_FFT_VECTORS
  const int lanes = vectorLanes();
  if (n >= 16 && lanes > 0 && lanes / 2 * static_cast<int64_t>(n) * sizeof(float) <= kMaxWorkBytes) {
    std::unique_ptr<float[]> work(new (std::nothrow) float[lanes / 2 * static_cast<size_t>(n)]);
    if (!work) return 0;
    auto row = [&](int r) { return block + 2 * static_cast<size_t>(r) * n; };
    auto from = [&](int r) { return source + 2 * static_cast<size_t>(r) * n; };
    /* the rows after those in hand, fetched into the cache meanwhile */
    auto next = [&](int r) { return r < nrows ? from(r) : nullptr; };
    int r = 0;
    if (lanes == 8)
      for (; r + 2 <= nrows; r += 2)
        rowPairAvx512(plan, from(r), from(r + 1), row(r), row(r + 1), work.get(), next(r + 2));
    for (; r < nrows; r++) rowAvx2(plan, from(r), row(r), work.get(), next(r + 1));
    return 1;
  }
#endif
  if (source != block) std::copy_n(source, 2 * static_cast<size_t>(nrows) * n, block);
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
 *     wider image.  With vectors 32 columns at a time (16 for the
 *     longest) go through a work array that holds them whole (read in
 *     place, a column would take a cache line per sample); an odd last
 *     column takes the radix-2 loop, which rounds its products as it
 *     always has.
 * Results:      1; 0, with nothing transformed, when the work space
 *     cannot be had.
 */
int fftColumns(float *block, const FftPlan &plan, int ncols, size_t stride) {
  if (stride == 0) stride = 2 * static_cast<size_t>(ncols);
  if (ncols <= 0 || plan.n <= 0) return 1;
#ifdef VESK_FFT_VECTORS
  const int lanes = vectorLanes();
  auto fits = [&](int batch) { return 2 * batch * static_cast<int64_t>(plan.n) * sizeof(float) <= kMaxWorkBytes; };
  if (lanes > 0 && fits(kNarrowColumnBatch)) {
    const int batch = fits(kColumnBatch) ? kColumnBatch : kNarrowColumnBatch;
    const int paired = ncols & ~1;
    if (paired > 0) {
      std::unique_ptr<float[]> work(new (std::nothrow) float[2 * batch * static_cast<size_t>(plan.n)]);
      if (!work) return 0;
      for (int c = 0; c < paired; c += batch) {
        float *strip = block + 2 * static_cast<size_t>(c);
        const int count = std::min(batch, paired - c);
        const int nextCols = std::min(batch, paired - c - count);
        const float *next = nextCols > 0 ? strip + 2 * count : nullptr;
        if (lanes == 8)
          columnsAvx512(plan, strip, count, stride, work.get(), next, nextCols);
        else
          columnsAvx2(plan, strip, count, stride, work.get(), next, nextCols);
      }
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
