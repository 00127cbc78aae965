// Least-squares kernels and 3 x 3 matrices, against figures computed with
// numpy by tests/data/numeric/make_reference.py.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <array>
#include <string>
#include <vector>

#include "core/numeric.h"
#include "tests/data/numeric/numeric_reference.h"

using namespace vesk;

namespace {

constexpr double kPi = 3.14159265358979323846;

void expectNear(const double *got, const double *want, int n, double tolerance) {
  for (int i = 0; i < n; i++) {
    SCOPED_TRACE("entry " + std::to_string(i));
    EXPECT_NEAR(got[i], want[i], tolerance * (1 + fabs(want[i])));
  }
}

}  // namespace

TEST(Numeric, PolyTermsOrder) {
  struct Case {
    int order;
    std::vector<double> terms;
  } cases[] = {
      {0, {1, 2, 3, 6}},
      {1, {1, 2, 3}},
      {2, {1, 2, 3, 4, 6, 9}},
      {3, {1, 2, 3, 4, 6, 9, 8, 12, 18, 27}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("order " + std::to_string(c.order));
    double T[16] = {1, 2, 3};
    ASSERT_EQ(makePolyTerms(T, c.order), static_cast<int>(c.terms.size()));
    ASSERT_EQ(polyTermCount(c.order), static_cast<int>(c.terms.size()));
    for (size_t i = 0; i < c.terms.size(); i++) EXPECT_EQ(T[i], c.terms[i]) << "term " << i;
  }
  EXPECT_EQ(polyTermCount(5), 21);
  EXPECT_EQ(polyTermCount(-1), 0);

  double px[3], py[3], cross[6];
  makePowers(2, 2, px);
  makePowers(2, 3, py);
  ASSERT_EQ(makeCrossTerms(2, cross, px, py), 6);
  const double want[6] = {1, 3, 9, 2, 6, 4};  // x^0 y^0..2, x^1 y^0..1, x^2
  for (int i = 0; i < 6; i++) EXPECT_EQ(cross[i], want[i]);
}

// z = 1 + 2x + 3y on a grid: the exact plane comes back for both targets.
TEST(Numeric, ExactPlaneFit) {
  const int k = 4;  // constant, x, y, then two targets: sums of order 4
  double M[k * k] = {}, S[k + 1] = {}, T[k + 1];
  for (int i = 0; i < 5; i++)
    for (int j = 0; j < 4; j++) {
      T[0] = 1;
      T[1] = i;
      T[2] = j * 1.5;
      double z = 1 + 2 * T[1] + 3 * T[2];
      accumObservation(z, z, k, M, S, T);
    }
  EXPECT_EQ(S[0], 20);
  double c1[3], c2[3];
  ASSERT_EQ(solveRegression2(c1, c2, M, S, k), NUMERIC_OK);
  const double want[3] = {1, 2, 3};
  expectNear(c1, want, 3, 1e-12);
  expectNear(c2, want, 3, 1e-12);
}

// Order-2 fit of two noisy targets over scattered points, against lstsq.
TEST(Numeric, PolynomialFitMatchesLeastSquares) {
  const int terms = polyTermCount(2), k = terms + 1;
  std::vector<double> M(k * k), S(k + 1), T(k + 1);
  const int count = sizeof kFitTarget1 / sizeof kFitTarget1[0];
  for (int i = 0; i < count; i++) {
    T[0] = 1;
    T[1] = kFitPoints[2 * i];
    T[2] = kFitPoints[2 * i + 1];
    makePolyTerms(T.data(), 2);
    accumObservation(kFitTarget1[i], kFitTarget2[i], k, M.data(), S.data(), T.data());
  }
  std::vector<double> c1(terms), c2(terms);
  ASSERT_EQ(solveRegression2(c1.data(), c2.data(), M.data(), S.data(), k), NUMERIC_OK);
  expectNear(c1.data(), kFitCoef1, terms, 1e-9);
  expectNear(c2.data(), kFitCoef2, terms, 1e-9);
}

// A cubic through twelve points with accumPoly1, resolve and getRegression;
// the trailing entry is the residual variance.
TEST(Numeric, OneVariableFitWithResolve) {
  const int N = 3, n = N + 1;  // x, x2, x3 and the target
  double M[n * n] = {}, S[n + 1] = {}, T[n + 1];
  for (size_t i = 0; i < sizeof kPolyX / sizeof kPolyX[0]; i++) accumPoly1(kPolyX[i], kPolyY[i], N, M, S, T);
  ASSERT_EQ(sumsToCovariance(n, S[0], M, S + 1), NUMERIC_OK);
  std::vector<char> work(resolveWorkSize(N, n));
  ASSERT_EQ(resolve(M, N, n, work.data()), NUMERIC_OK);
  double coef[n];
  getRegression(coef, M, S, n);
  expectNear(coef, kPolyCoef, N + 1, 1e-8);
  EXPECT_NEAR(M[n * n - 1], kPolyResidualVariance, 1e-8);
}

// The sweep of a covariance matrix: inverse, regressions and residuals.
TEST(Numeric, GaussJordanSweep) {
  double M[25];
  memcpy(M, kSweepInput, sizeof M);
  ASSERT_EQ(gaussJordan(M, 3, 2), NUMERIC_OK);
  expectNear(M, kSweepResult, 25, 1e-10);

  // resolve keeps the regressions and residuals; a NULL buffer is its own.
  double R[25];
  memcpy(R, kSweepInput, sizeof R);
  ASSERT_EQ(resolve(R, 3, 5, nullptr), NUMERIC_OK);
  for (int i = 0; i < 5; i++)
    for (int j = 3; j < 5; j++) {
      EXPECT_NEAR(R[i * 5 + j], kSweepResult[i * 5 + j], 1e-10) << i << "," << j;
      EXPECT_NEAR(R[j * 5 + i], kSweepResult[j * 5 + i], 1e-10) << j << "," << i;
    }
}

// Pivots off the diagonal, in a cycle: rows and columns come back in order.
TEST(Numeric, GaussJordanFullPivoting) {
  double M[16];
  memcpy(M, kIndefinite, sizeof M);
  ASSERT_EQ(gaussJordan(M, 4, 0), NUMERIC_OK);
  expectNear(M, kIndefiniteInverse, 16, 1e-12);

  // The largest candidate is taken; among equals, the first scanned.
  double P[4] = {1, 3, 5, 2};  // column 0 holds 1 and 5: pivot (1, 0)
  ASSERT_EQ(gaussJordan(P, 2, 0), NUMERIC_OK);
  const double inverse[4] = {-2.0 / 13, 3.0 / 13, 5.0 / 13, -1.0 / 13};
  expectNear(P, inverse, 4, 1e-14);
}

// No unique solution: reported, never passed off as coefficients.
TEST(Numeric, SingularSystems) {
  struct Case {
    const char *what;
    std::vector<std::array<double, 2>> points;
  } cases[] = {
      {"points on a line", {{0, 0}, {1, 2}, {2, 4}, {3, 6}, {4, 8}}},
      {"constant x", {{0.1, 0}, {0.1, 1}, {0.1, 2}, {0.1, 5}}},
      {"fewer points than terms", {{0, 0}, {1, 3}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const int k = 4;
    double M[k * k] = {}, S[k + 1] = {}, T[k + 1];
    for (const auto &p : c.points) {
      T[0] = 1;
      T[1] = p[0];
      T[2] = p[1];
      accumObservation(p[0] + p[1], 1, k, M, S, T);
    }
    double c1[3] = {7, 7, 7}, c2[3] = {7, 7, 7};
    EXPECT_EQ(solveRegression2(c1, c2, M, S, k), NUMERIC_SINGULAR);
    EXPECT_EQ(c1[0], 7);
  }
  double empty[16] = {}, sums[5] = {};
  double c1[3], c2[3];
  EXPECT_EQ(solveRegression2(c1, c2, empty, sums, 4), NUMERIC_BAD_SIZE);
  double zero[4] = {0, 0, 0, 0};
  EXPECT_EQ(gaussJordan(zero, 2, 0), NUMERIC_SINGULAR);
  double nan[1] = {NAN};
  EXPECT_EQ(resolve(nan, 1, 1, nullptr), NUMERIC_SINGULAR);
  EXPECT_EQ(gaussJordan(zero, 3, -1), NUMERIC_BAD_SIZE);
}

TEST(Numeric, SumsToCovariance) {
  // Values 1, 2, 3, 6 and their doubles: means 3 and 6, variances 3.5 and 14.
  double M[4] = {}, S[3] = {}, T[3];
  for (double v : {1.0, 2.0, 3.0, 6.0}) {
    T[0] = 1;
    T[1] = v;
    T[2] = 2 * v;
    addVector(T, S, 3);
    addOuterProduct(2, M, T + 1);
  }
  ASSERT_EQ(sumsToCovariance(2, S[0], M, S + 1), NUMERIC_OK);
  const double cov[4] = {3.5, 7, 7, 14}, means[2] = {3, 6};
  expectNear(M, cov, 4, 1e-14);
  expectNear(S + 1, means, 2, 1e-14);
  EXPECT_EQ(sumsToCovariance(2, 0, M, S + 1), NUMERIC_BAD_SIZE);
  EXPECT_EQ(dotProduct(cov, means, 2), 3.5 * 3 + 7 * 6);
}

TEST(Numeric, Rotations) {
  double M[9];
  rotateMatrix3(M, ROTATE_IDENTITY, 0);
  rotateMatrix3(M, ROTATE_Z, kPi / 2);
  const double rz[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
  expectNear(M, rz, 9, 1e-15);

  // Rx, then Ry, then Rz from the left, as the reference composes them.
  rotateMatrix3(M, ROTATE_IDENTITY, 0);
  rotateMatrix3(M, ROTATE_X, 0.25);
  rotateMatrix3(M, ROTATE_Y, -0.3);
  rotateMatrix3(M, ROTATE_Z, 0.7);
  expectNear(M, kRotationPassive, 9, 1e-14);

  // The transpose undoes it; operations past the list give zero.
  double T[9], P[9];
  memcpy(T, M, sizeof T);
  rotateMatrix3(T, ROTATE_TRANSPOSE, 0);
  mulMat3(P, T, M);
  const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  expectNear(P, identity, 9, 1e-14);
  mulMat3(T, T, M);  // in place
  expectNear(T, identity, 9, 1e-14);
  const double v[3] = {1, 2, 3};
  double w[3];
  mulMat3Vec(identity, v, w);
  expectNear(w, v, 3, 0);
  rotateMatrix3(M, 9, 1);
  for (double e : M) EXPECT_EQ(e, 0);
}
