// The FFT kernels: the centred spectrum of a constant, the round trip,
// the filters' factors at chosen distances.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <random>
#include <string>
#include <vector>

#include "processing/fftkernel.h"

using namespace vesk;

namespace {

FftPlan plan(int n, int direction) {
  std::vector<double> c(n), s(n);
  fftTwiddles(n, direction, c.data(), s.data());
  FftPlan p;
  fftPlan(&p, n, direction, c.data(), s.data());
  return p;
}

}  // namespace

TEST(FftKernel, ConstantRowPutsItsSumAtTheMiddleAndComesBack) {
  const int n = 16;
  std::vector<float> row(2 * n, 0);
  for (int i = 0; i < n; i++) row[2 * i] = 1;
  ASSERT_EQ(fftRows(row.data(), plan(n, 1), 1), 1);
  for (int i = 0; i < n; i++) {
    EXPECT_NEAR(row[2 * i], i == n / 2 ? n : 0, 1e-6) << i;
    EXPECT_NEAR(row[2 * i + 1], 0, 1e-6) << i;
  }
  ASSERT_EQ(fftRows(row.data(), plan(n, -1), 1), 1);
  for (int i = 0; i < n; i++) EXPECT_NEAR(row[2 * i], 1, 1e-6);
}

TEST(FftKernel, ForwardThenInverseReturnsTheInput) {
  const int n = 64;
  std::vector<float> data(2 * n), copy;
  for (int i = 0; i < 2 * n; i++) data[i] = static_cast<float>(sin(i * 0.37) * 10 + i % 7);
  copy = data;
  std::vector<double> c(n), s(n);
  fftTwiddles(n, 1, c.data(), s.data());
  fftRadix2(n, data.data(), 1, c.data(), s.data());
  fftTwiddles(n, -1, c.data(), s.data());
  fftRadix2(n, data.data(), -1, c.data(), s.data());
  for (int i = 0; i < 2 * n; i++) EXPECT_NEAR(data[i], copy[i], 1e-4);
  /* columns of a 4 x 8 block: the same through the stride */
  std::vector<float> block(2 * 4 * 8);
  for (size_t i = 0; i < block.size(); i++) block[i] = static_cast<float>(i % 5);
  std::vector<float> before = block;
  ASSERT_EQ(fftColumns(block.data(), plan(4, 1), 8), 1);
  ASSERT_EQ(fftColumns(block.data(), plan(4, -1), 8), 1);
  for (size_t i = 0; i < block.size(); i++) EXPECT_NEAR(block[i], before[i], 1e-5);
}

namespace {

/*
 * The radix-2 transform of one line (stride floats between samples) with
 * the rotations of fftRows: what the row and column passes must give, bit
 * for bit.  fused: w b as one fused multiply-add of a product, as the
 * passes compute it on AVX2 machines (at the stages of 1 and 2
 * butterflies, whose twiddles are 1 and +-i to double precision, the
 * fused and the rounded products agree).
 */
void referenceLine(const FftPlan &p, float *x, size_t stride, bool fused) {
  const int n = p.n;
  auto at = [&](int r) { return x + r * stride; };
  auto swapHalves = [&] {
    for (int r = 0; r < n / 2; r++) std::swap_ranges(at(r), at(r) + 2, at(r + n / 2));
  };
  if (p.direction <= 0) swapHalves();
  for (int i = 0; i < n; i++)
    if (p.reversed[i] > i) std::swap_ranges(at(i), at(i) + 2, at(p.reversed[i]));
  for (int h = 1; h < n; h *= 2)
    for (int g = 0; g < n; g += 2 * h)
      for (int k = 0; k < h; k++) {
        const double wr = p.twiddles[2 * (h - 1 + k)], wi = p.twiddles[2 * (h - 1 + k) + 1];
        float *a = at(g + k), *b = at(g + k + h);
        const double br = b[0], bi = b[1];
        const double m1 = bi * wi, m2 = br * wi, p1 = wr * br, p2 = wr * bi;
        const float tr = static_cast<float>(fused ? fma(br, wr, -m1) : p1 - m1);
        const float ti = static_cast<float>(fused ? fma(bi, wr, m2) : p2 + m2);
        b[0] = a[0] - tr;
        b[1] = a[1] - ti;
        a[0] += tr;
        a[1] += ti;
      }
  if (p.direction <= 0)
    for (int r = 0; r < n; r++) at(r)[0] /= static_cast<float>(n), at(r)[1] /= static_cast<float>(n);
  if (p.direction >= 0) swapHalves();
}

/* Lines of n samples, stride floats apart, every step floats: an integer
   image, or for the inverse its spectrum (the cancellations there show any
   change in the rounding of a butterfly). */
void fillLines(std::vector<float> *data, int n, int direction, int lines, size_t stride, size_t step,
               std::mt19937 *random) {
  std::uniform_int_distribution<int> grey(0, 255);
  for (float &v : *data) v = 0;
  for (int l = 0; l < lines; l++)
    for (int r = 0; r < n; r++) {
      float *at = data->data() + l * step + r * stride;
      at[0] = static_cast<float>(grey(*random));
      if (r % 3 == 1) at[1] = -0.0f;  /* the signs of zeros go through too */
      if (r % 5 == 2) at[0] = -0.0f;
    }
  if (direction < 0)
    for (int l = 0; l < lines; l++) referenceLine(plan(n, 1), data->data() + l * step, stride, false);
}

}  // namespace

/*
 * Every vector width the machine has gives the radix-2 butterflies with
 * their products fused, bit for bit.  The radix-2 loops (no vectors,
 * lines below 16 samples, an odd last column) give what the compiler
 * made of them: the same where it vectorised them with fused
 * multiply-adds (optimised builds on AVX2 machines), else the rounded
 * products.
 */
TEST(FftKernel, RowsAndColumnsGiveTheRadix2SamplesBitForBit) {
  std::mt19937 random(7);
  fftVectorLanes(8);
  const int widest = fftVectorLanes(0);
  /* what the radix-2 loops do here: two columns of an inverse */
  bool loopsFuse;
  {
    const FftPlan p = plan(16, -1);
    std::vector<float> block(4 * 16), fused, rounded;
    fillLines(&block, 16, -1, 2, 4, 2, &random);
    fused = rounded = block;
    for (int c = 0; c < 2; c++) {
      referenceLine(p, fused.data() + 2 * c, 4, true);
      referenceLine(p, rounded.data() + 2 * c, 4, false);
    }
    ASSERT_NE(fused, rounded);
    ASSERT_EQ(fftColumns(block.data(), p, 2), 1);
    loopsFuse = block == fused;
    if (!loopsFuse) {
      ASSERT_EQ(block, rounded);
    }
  }
  for (int lanes : {0, 4, 8}) {
    fftVectorLanes(lanes);
    const bool vectors = std::min(lanes, widest) > 0;
    for (int n : {1, 2, 4, 8, 16, 32, 64, 128, 512, 2048}) {
      for (int direction : {1, -1}) {
        const FftPlan p = plan(n, direction);
        const std::string where = "lanes " + std::to_string(lanes) + " n " + std::to_string(n) +
                                  " direction " + std::to_string(direction);
        std::vector<float> rows(2 * 3 * n), want;
        fillLines(&rows, n, direction, 3, 2, 2 * n, &random);
        want = rows;
        const std::vector<float> input = rows;
        for (int r = 0; r < 3; r++)
          referenceLine(p, want.data() + 2 * r * n, 2, vectors && n >= 16 ? true : loopsFuse);
        ASSERT_EQ(fftRows(rows.data(), p, 3), 1);
        EXPECT_EQ(memcmp(rows.data(), want.data(), rows.size() * sizeof(float)), 0) << "rows " << where;
        /* from rows that stay as they are into another block */
        std::vector<float> into(rows.size(), NAN);
        ASSERT_EQ(fftRowsFrom(input.data(), into.data(), p, 3), 1);
        EXPECT_EQ(memcmp(into.data(), want.data(), into.size() * sizeof(float)), 0)
            << "rows from a source " << where;
        /* strips of several widths inside a wider block */
        for (int ncols : {1, 2, 3, 4, 7, 16, 21, 40}) {
          const size_t stride = 2 * static_cast<size_t>(ncols + 3);
          std::vector<float> block(stride * n);
          fillLines(&block, n, direction, ncols + 3, stride, 2, &random);
          std::vector<float> expect = block;
          for (int c = 0; c < ncols; c++)
            referenceLine(p, expect.data() + 2 * (c + 1), stride,
                          c < (ncols & ~1) && (vectors || loopsFuse));
          ASSERT_EQ(fftColumns(block.data() + 2, p, ncols, stride), 1);
          EXPECT_EQ(memcmp(block.data(), expect.data(), block.size() * sizeof(float)), 0)
              << "columns " << where << " ncols " << ncols;
        }
      }
    }
    /* columns too long for the wide batches' work array go 16 at a time */
    for (int direction : {1, -1}) {
      const int n = 65536, ncols = 18;
      const FftPlan p = plan(n, direction);
      const size_t stride = 2 * static_cast<size_t>(ncols);
      std::vector<float> block(stride * n);
      fillLines(&block, n, direction, ncols, stride, 2, &random);
      std::vector<float> expect = block;
      for (int c = 0; c < ncols; c++) referenceLine(p, expect.data() + 2 * c, stride, vectors || loopsFuse);
      ASSERT_EQ(fftColumns(block.data(), p, ncols), 1);
      EXPECT_EQ(memcmp(block.data(), expect.data(), block.size() * sizeof(float)), 0)
          << "long columns, lanes " << lanes << " direction " << direction;
    }
    /* zeros of both signs through the butterflies of twiddle 1: two
       columns of two rows, a = (-0, -0) and b = (-0, -1) */
    for (int direction : {1, -1}) {
      const FftPlan p = plan(2, direction);
      std::vector<float> block = {-0.0f, -0.0f, -0.0f, -0.0f, -0.0f, -1.0f, -0.0f, -1.0f}, expect = block;
      for (int c = 0; c < 2; c++) referenceLine(p, expect.data() + 2 * c, 4, vectors || loopsFuse);
      ASSERT_EQ(fftColumns(block.data(), p, 2), 1);
      EXPECT_EQ(memcmp(block.data(), expect.data(), block.size() * sizeof(float)), 0)
          << "signed zeros, lanes " << lanes << " direction " << direction;
    }
  }
  fftVectorLanes(-1);
}

TEST(FftKernel, PolarAndRectangular) {
  float s[4] = {3, 4, 0, 0};
  fftToPolar(s, 2);
  EXPECT_FLOAT_EQ(s[0], 5);
  EXPECT_FLOAT_EQ(s[1], atan2f(4, 3));
  EXPECT_EQ(s[3], 0);
  fftToRect(s, 2);
  EXPECT_NEAR(s[0], 3, 1e-6);
  EXPECT_NEAR(s[1], 4, 1e-6);
}

TEST(FftKernel, FilterFactors) {
  FftFilter f;
  f.rows = 32;
  f.columns = 32;
  f.cx = f.cy = 16;
  f.r = f.r1 = f.r2 = 10;
  f.n = 1;
  f.amplitude = 1;
  auto factorAt = [&f](FftFilterProc *proc, int col, int row) {
    float s[2] = {2, 4};
    proc(&f, s, col, 1, row, 1);
    return s[0] / 2.0;
  };
  EXPECT_NEAR(factorAt(bellFilter2D, 26, 16), exp(-1.0), 1e-6);
  EXPECT_NEAR(factorAt(bellFilterY, 3, 26), exp(-1.0), 1e-6);
  EXPECT_NEAR(factorAt(highFilterX, 16, 3), 0, 1e-6);
  /* a half-turn uses the plain formula: the same factor as no rotation */
  f.r2 = 5;
  const double plain = factorAt(bellFilter2D, 19, 20);
  f.angle = 180;
  EXPECT_NEAR(factorAt(bellFilter2D, 19, 20), plain, 1e-6);
  f.angle = 0;
  f.r2 = 10;
  /* notch: unchanged beyond the radius of both centres, cut at a centre */
  f.cx = 5;
  f.cy = 6;
  EXPECT_EQ(factorAt(notchFilter2D, 16, 16), 1);
  EXPECT_NEAR(factorAt(notchFilter2D, 5, 6), 1 - exp(-0.0), 1e-6);
  EXPECT_NEAR(factorAt(notchFilter2D, 26, 25), 0, 1e-6);  /* the mirror (32-5-1, 32-6-1) */
  EXPECT_NEAR(factorAt(notchFilterX, 16, 0), 1 - exp(-1.0), 1e-6);  /* the notch at 26 */
  EXPECT_NEAR(factorAt(notchFilterX, 5, 0), 0, 1e-6);
  /* the axis-aligned notch ignores the angle; the 2-D one turns its ellipse */
  f.r2 = 4;
  const double alongX = factorAt(notchFilterAligned, 12, 6);  /* 7 columns off: (7/10)^2 */
  EXPECT_NEAR(alongX, 1 - exp(-0.49), 1e-6);
  EXPECT_NEAR(factorAt(notchFilter2D, 12, 6), alongX, 1e-6);
  f.angle = 90;
  EXPECT_NEAR(factorAt(notchFilterAligned, 12, 6), alongX, 1e-6);
  EXPECT_EQ(factorAt(notchFilter2D, 12, 6), 1);  /* turned: 7 rows of radius 4 */
  f.angle = 0;
  f.r2 = 10;
  /* power/phase data: the phase is kept */
  f.powerPhase = 1;
  float s[2] = {2, 1.5f};
  bellFilterX(&f, s, 26, 1, 0, 1);
  EXPECT_FLOAT_EQ(s[1], 1.5f);
  EXPECT_NEAR(s[0], 2 * exp(-(21.0 * 21 / 100)), 1e-5);  /* 21 from the centre at 5 */
}
