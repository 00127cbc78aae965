// The rectification parameter file read back, its refusals, and the
// row-by-row evaluation against the direct sum of the terms.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "processing/georecpar.h"

using namespace vesk;

namespace {

/* Direct evaluation: every term u^a v^b at its index (order 0: 1, u, v, uv). */
void direct(const GeorecPar &par, double x, double y, double *X, double *Y) {
  const double u = x - par.xc, v = y - par.yc;
  std::vector<double> terms(par.n);
  if (par.N == 0) {
    terms = {1, u, v, u * v};
  } else {
    for (int a = 0; a <= par.N; a++)
      for (int b = 0; a + b <= par.N; b++) terms[polyIndex(a, b)] = pow(u, a) * pow(v, b);
  }
  *X = *Y = 0;
  for (int i = 0; i < par.n; i++) {
    *Y += par.row[i] * terms[i];
    *X += par.column[i] * terms[i];
  }
}

GeorecPar sample(int N) {
  const int n = georecTermCount(N);
  std::vector<double> row(n), column(n);
  for (int i = 0; i < n; i++) {
    row[i] = sin(i + 1.0) / (1 + i * i);
    column[i] = cos(i + 2.0) / (1 + i * i);
  }
  return newGeorecPar(3.5, -2.25, 40, 30, n, N, row.data(), column.data());
}

}  // namespace

TEST(GeorecPar, RoundTripKeepsHeadAndOffsetsInTheFirstCoefficients) {
  const double row[6] = {1, 2, 3, 4, 5, 6}, column[6] = {-1, -2, -3, -4, -5, -6};
  char dir[] = "/tmp/georecparXXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  const std::string path = std::string(dir) + "/t.par";
  ASSERT_EQ(writeGeorecPar(path.c_str(), 1.5, 2.5, 10, 20, 6, 2, row, column), 1);
  GeorecPar par;
  ASSERT_EQ(readGeorecPar(path.c_str(), &par), 1);
  EXPECT_EQ(par.xc, 1.5);
  EXPECT_EQ(par.yc, 2.5);
  EXPECT_EQ(par.columnOffset, 10);
  EXPECT_EQ(par.rowOffset, 20);
  EXPECT_EQ(par.n, 6);
  EXPECT_EQ(par.N, 2);
  EXPECT_EQ(par.row, (std::vector<double>{21, 2, 3, 4, 5, 6}));
  EXPECT_EQ(par.column, (std::vector<double>{9, -2, -3, -4, -5, -6}));
  GeorecPar made = newGeorecPar(1.5, 2.5, 10, 20, 6, 2, row, column);
  EXPECT_EQ(made.row, par.row);
  EXPECT_EQ(made.column, par.column);
  unlink(path.c_str());
  rmdir(dir);
}

TEST(GeorecPar, DecodeRefusesCountsThatDisagreeWithTheOrder) {
  const double c[4] = {1, 2, 3, 4};
  std::vector<unsigned char> good = encodeGeorecPar(0, 0, 0, 0, 4, 0, c, c);
  GeorecPar par;
  int why = 0;
  EXPECT_EQ(decodeGeorecPar(good.data(), good.size(), &par, &why), 1);
  EXPECT_EQ(decodeGeorecPar(good.data(), good.size() - 1, &par, &why), 0);
  EXPECT_EQ(why, 1);
  EXPECT_EQ(decodeGeorecPar(good.data(), 47, &par, &why), 0);
  EXPECT_EQ(why, 1);
  /* n 4 with order 1 (3 terms), and order -1 */
  std::vector<unsigned char> bad = good;
  bad[44] = 1;
  EXPECT_EQ(decodeGeorecPar(bad.data(), bad.size(), &par, &why), 0);
  EXPECT_EQ(why, 2);
  bad[44] = bad[45] = bad[46] = bad[47] = 0xff;
  EXPECT_EQ(decodeGeorecPar(bad.data(), bad.size(), &par, &why), 0);
  EXPECT_EQ(why, 2);
}

TEST(GeorecPar, RowByRowEvaluationEqualsTheDirectSum) {
  for (int N : {0, 1, 2, 3, 5, kGeorecMaxOrder}) {
    GeorecPar par = sample(N);
    double pairs[2 * (kGeorecMaxOrder + 1)];
    for (double y = -3; y <= 3; y += 0.75) {
      reduceAtY(par, pairs, y - par.yc);
      for (double x = -2; x <= 4; x += 0.5) {
        double X, Y, dX, dY, tX, tY;
        evalReduced(pairs, reducedCount(par), x - par.xc, &X, &Y);
        direct(par, x, y, &dX, &dY);
        EXPECT_NEAR(X, dX, 1e-9 * (1 + fabs(dX))) << N;
        EXPECT_NEAR(Y, dY, 1e-9 * (1 + fabs(dY))) << N;
        double columnPairs[2 * (kGeorecMaxOrder + 1)];
        reduceAtX(par, columnPairs, x - par.xc);
        evalReduced(columnPairs, reducedCount(par), y - par.yc, &tX, &tY);
        EXPECT_NEAR(tX, dX, 1e-9 * (1 + fabs(dX))) << N;
        EXPECT_NEAR(tY, dY, 1e-9 * (1 + fabs(dY))) << N;
      }
    }
  }
}

TEST(GeorecPar, SingleBlocksReducedAndEvaluatedAsOneVariable) {
  // p(t) = 2 - 3t + 0.5t^3 against its expanded sum.
  const double p[4] = {2, -3, 0, 0.5};
  for (double t : {-2.0, 0.0, 0.3, 4.0}) EXPECT_DOUBLE_EQ(evalPoly1(p, 3, t), 2 - 3 * t + 0.5 * t * t * t);
  EXPECT_EQ(evalPoly1(p, 0, 9), 2);
  EXPECT_EQ(evalPoly1(p, -1, 9), 0);
  for (int N : {0, 1, 3, kGeorecMaxOrder}) {
    GeorecPar par = sample(N);
    const int count = reducedCount(par);
    for (double at : {-1.5, 0.25, 2.0}) {
      double pairs[2 * (kGeorecMaxOrder + 1)];
      // The row block alone, added twice into a zeroed array, is twice
      // the row half of the pairs; reduceAtX likewise for the column block.
      double rows[kGeorecMaxOrder + 1] = {0}, columns[kGeorecMaxOrder + 1] = {0};
      reduceAtY(par, pairs, at);
      reduceBlockAtY(par.row.data(), N, at, rows);
      reduceBlockAtY(par.row.data(), N, at, rows);
      for (int i = 0; i < count; i++) EXPECT_NEAR(rows[i], 2 * pairs[2 * i], 1e-9 * (1 + fabs(rows[i]))) << N;
      reduceAtX(par, pairs, at);
      reduceBlockAtX(par.column.data(), N, at, columns);
      for (int i = 0; i < count; i++) EXPECT_NEAR(columns[i], pairs[2 * i + 1], 1e-9 * (1 + fabs(columns[i]))) << N;
      // Evaluated in the free coordinate they give the direct sums.
      double X, Y;
      direct(par, 0.75 + par.xc, at + par.yc, &X, &Y);
      double half[kGeorecMaxOrder + 1] = {0};
      reduceBlockAtY(par.column.data(), N, at, half);
      EXPECT_NEAR(evalPoly1(half, count - 1, 0.75), X, 1e-9 * (1 + fabs(X))) << N;
    }
  }
}

TEST(GeorecPar, BoundsOfABlockAndTheirRefusals) {
  const double row[3] = {0, 0, 2}, column[3] = {0, 0.5, 0};
  GeorecPar par = newGeorecPar(0, 0, 100, 50, 3, 1, row, column);
  /* x 0..10, y 0..-4 in pixel frames: X = 100 + x/2, Y = 50 + 2y */
  GeoFrame frame{10, 0, 0, 4, 1, -1};
  PixelBox box;
  ASSERT_EQ(transformBounds(par, frame, &box), 1);
  EXPECT_EQ(box.left, 100);
  EXPECT_EQ(box.right, 105);
  EXPECT_EQ(box.top, 50);
  EXPECT_EQ(box.bottom, 58);
  frame.dx = 0;
  EXPECT_EQ(transformBounds(par, frame, &box), 0);
  frame.dx = 1;
  frame.dy = NAN;
  EXPECT_EQ(transformBounds(par, frame, &box), 0);
  /* far-away images stay within +-2^29 so sizes cannot overflow */
  const double far[3] = {1e300, 0, 0};
  GeorecPar huge = newGeorecPar(0, 0, 0, 0, 3, 1, far, far);
  frame.dy = -1;
  ASSERT_EQ(transformBounds(huge, frame, &box), 1);
  EXPECT_EQ(box.right, 536870912);
  GeoFrame out{9, 0, 0, 9, 1, -1}, block;
  PixelBox outBox{0, 0, 9, 9}, inBox{0, 0, 4, 4};
  EXPECT_EQ(blockSourceBox(par, &block, &box, out, outBox, inBox, 2, 3, 4, 5, 0), 4LL * 7);
  EXPECT_EQ(block.xFirst, 3);
  EXPECT_EQ(block.yFirst, 2);
  EXPECT_EQ(blockSourceBox(par, &block, &box, out, outBox, inBox, 2, 3, 4, 5, 1), 0);
}
