// Byte-window kernels and template search; correlation and variance
// against numpy (np.corrcoef(a, b)[0, 1] ** 2, a.var(), a.mean()).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "core/bytewindow.h"
#include "core/numeric.h"

using namespace vesk;

namespace {

const unsigned char kA[3][4] = {{3, 7, 1, 200}, {9, 9, 50, 4}, {0, 255, 17, 8}};
const unsigned char kB[3][4] = {{10, 2, 77, 5}, {6, 60, 3, 90}, {250, 1, 40, 33}};

std::vector<unsigned char> noise(int columns, int rows, unsigned seed) {
  std::vector<unsigned char> v(static_cast<size_t>(columns) * rows);
  for (auto &b : v) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<unsigned char>(seed >> 16);
  }
  return v;
}

}  // namespace

TEST(ByteWindow, SumsVarianceCorrelation) {
  ByteSums sums;
  addByteSums(&kA[0][0], 4, 4, 3, &sums);
  EXPECT_EQ(sums.sum, 563);
  EXPECT_EQ(sums.sumSq, 9 + 49 + 1 + 40000 + 81 + 81 + 2500 + 16 + 65025 + 289 + 64);
  subByteSums(&kA[0][1], 4, 1, 3, &sums);  // the column a sliding window leaves
  EXPECT_EQ(sums.sum, 563 - 7 - 9 - 255);

  double mean;
  EXPECT_NEAR(byteVariance(&kA[0][0], 4, 4, 3, &mean), 6808.409722222222, 1e-9);
  EXPECT_NEAR(mean, 46.916666666666664, 1e-12);

  EXPECT_NEAR(byteWindowR2(&kA[0][0], 4, &kB[0][0], 4, 4, 3), 0.12387918681391631, 1e-12);
  EXPECT_DOUBLE_EQ(byteWindowR2(&kA[0][0], 4, &kA[0][0], 4, 4, 3), 1.0);
  const unsigned char flat[2][2] = {{5, 5}, {5, 5}};
  EXPECT_EQ(byteWindowR2(&flat[0][0], 2, &kA[0][0], 4, 2, 2), 0.0);
  EXPECT_EQ(byteWindowR2(&kA[0][0], 4, &kB[0][0], 4, 0, 3), 0.0);
  EXPECT_EQ(byteDotProduct(&kA[0][0], 4, &kB[0][0], 4, 2, 1), 3 * 10 + 7 * 2);
}

TEST(ByteWindow, CopyAndZero) {
  unsigned char out[3 * 4];
  // Window hanging over the left edge and below the last row.
  copyByteWindow(&kA[0][0], 4, 4, 3, -1, 1, 3, 4, out);
  const unsigned char want[4][3] = {{0, 9, 9}, {0, 0, 255}, {0, 0, 0}, {0, 0, 0}};
  for (int i = 0; i < 12; i++) EXPECT_EQ(out[i], (&want[0][0])[i]) << "byte " << i;
  copyByteWindow(&kA[0][0], 4, 4, 3, 2, 0, 3, 1, out);  // over the right edge
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 200);
  EXPECT_EQ(out[2], 0);

  unsigned char image[3][5];
  memset(image, 7, sizeof image);
  zeroBytes(&image[1][1], 5, 3, 2);
  EXPECT_EQ(image[1][0], 7);
  EXPECT_EQ(image[1][1], 0);
  EXPECT_EQ(image[2][3], 0);
  EXPECT_EQ(image[2][4], 7);
  EXPECT_EQ(image[0][2], 7);
}

// A chip cut from a noise image is found at its offset by both searches.
TEST(ByteWindow, TemplateSearch) {
  const int columns = 61, rows = 37;
  std::vector<unsigned char> image = noise(columns, rows, 7);
  struct Case {
    int column, row, width, height;
  } cases[] = {{13, 9, 8, 6}, {0, 0, 5, 5}, {columns - 7, rows - 3, 7, 3}, {20, 4, 1, 9}};
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.column << "," << c.row << " " << c.width << "x"
                                      << c.height);
    std::vector<unsigned char> chip(static_cast<size_t>(c.width) * c.height);
    copyByteWindow(image.data(), columns, columns, rows, c.column, c.row, c.width, c.height,
                   chip.data());
    TemplateMatch plain =
        matchTemplate(image.data(), columns, columns, rows, chip.data(), c.width, c.width, c.height);
    TemplateMatch fast = matchTemplateFast(image.data(), columns, columns, rows, chip.data(),
                                           c.width, c.width, c.height);
    EXPECT_EQ(plain.column, c.column);
    EXPECT_EQ(plain.row, c.row);
    EXPECT_DOUBLE_EQ(plain.r2, 1.0);
    EXPECT_EQ(fast.column, plain.column);
    EXPECT_EQ(fast.row, plain.row);
    EXPECT_EQ(fast.r2, plain.r2);
  }
  // Ties keep the first window in row order: a periodic image matches
  // its own period everywhere.
  std::vector<unsigned char> stripes(40 * 10);
  for (int r = 0; r < 10; r++)
    for (int c = 0; c < 40; c++) stripes[r * 40 + c] = static_cast<unsigned char>((c % 4) * 60 + r);
  std::vector<unsigned char> chip(4 * 3);
  copyByteWindow(stripes.data(), 40, 40, 10, 8, 2, 4, 3, chip.data());
  TemplateMatch tie = matchTemplateFast(stripes.data(), 40, 40, 10, chip.data(), 4, 4, 3);
  EXPECT_EQ(tie.column, 0);
  EXPECT_EQ(tie.row, 0);
  // A template larger than the image fits nowhere.
  TemplateMatch none = matchTemplate(chip.data(), 4, 4, 3, stripes.data(), 40, 40, 10);
  EXPECT_EQ(none.column, -1);
}

TEST(ByteWindow, PolynomialHelpers) {
  double T[5];
  makeBilinearTerms(2, 3, T);
  EXPECT_EQ(T[0], 1);
  EXPECT_EQ(T[3], 6);

  // z = 1 + 2x + 3y + 0.5xy fitted from a grid with the order-0 (bilinear) terms.
  const int k = 4;  // x, y, xy and the target
  double M[k * k] = {}, S[k + 1] = {}, terms[8];
  for (int i = 0; i < 4; i++)
    for (int j = 0; j < 3; j++)
      ASSERT_EQ(accumPoly2(i, j, 1 + 2 * i + 3 * j + 0.5 * i * j, 0, M, S, terms), 4);
  EXPECT_EQ(S[0], 12);
  ASSERT_EQ(sumsToCovariance(k, S[0], M, S + 1), NUMERIC_OK);
  ASSERT_EQ(gaussJordan(M, k - 1, 1), NUMERIC_OK);
  double coef[k];
  getRegression(coef, M, S, k);
  const double want[k] = {1, 2, 3, 0.5};
  for (int i = 0; i < k; i++) EXPECT_NEAR(coef[i], want[i], 1e-9) << "coefficient " << i;

  // -4 + 2.5v - 0.02v^2 + 0.00005v^3, plus 0.5, clamped (numpy).
  const double poly[4] = {-4, 2.5, -0.02, 0.00005};
  unsigned char lut[256];
  makePolyLut(poly, 3, lut);
  const int at[] = {0, 3, 10, 100, 200, 255}, value[] = {0, 3, 19, 96, 96, 162};
  for (int i = 0; i < 6; i++) EXPECT_EQ(lut[at[i]], value[i]) << "v = " << at[i];
  const double two[4] = {300, 0, 10, -1};  // a constant above 255, then 10 - v
  unsigned char luts[512];
  makePolyLuts(two, 1, 2, luts);
  EXPECT_EQ(luts[0], 255);
  EXPECT_EQ(luts[256 + 0], 10);
  EXPECT_EQ(luts[256 + 9], 1);
  EXPECT_EQ(luts[256 + 200], 0);
}
