/*
 * numeric.h --
 *     Least squares and small linear algebra shared by the geometric
 *     modules and the polynomial fits: normal-equation sums, covariance,
 *     the Gauss-Jordan sweep, regression coefficients and 3 x 3 rotations.
 *
 *     Matrices are row-major arrays of doubles.  A sums matrix M of order n
 *     holds the sums of t[i]*t[j] over the observations (both triangles); a
 *     sums vector S of n + 1 doubles holds the count in S[0] and the sums of
 *     t[i] in S[1..n]; a term vector T holds 1 in T[0], then the n values.
 *     No routine keeps state.
 */
#ifndef VESK_CORE_NUMERIC_H
#define VESK_CORE_NUMERIC_H

#include <stddef.h>

namespace vesk {

/* Outcome of the sweeps and the solvers. */
enum NumericStatus {
  NUMERIC_OK = 0,
  NUMERIC_SINGULAR,   /* a pivot vanished: the system has no unique solution */
  NUMERIC_BAD_SIZE,   /* orders or counts out of range */
  NUMERIC_NO_MEMORY,
};

/*
 * A pivot is taken as zero when it has lost all but this fraction of the
 * diagonal entries it came from: the variable is then a linear combination
 * of those already swept, up to rounding.
 */
inline constexpr double kPivotTolerance = 1e-12;

/* ---- vectors and sums ---- */
void addVector(const double *source, double *target, int n);
void addOuterProduct(int n, double *M, const double *v);
double dotProduct(const double *a, const double *b, int n);

/* ---- polynomial terms ---- */
int polyTermCount(int order);
void makePowers(int N, double x, double *out);
int makeCrossTerms(int N, double *out, const double *px, const double *py);
int makePolyTerms(double *T, int N);
void accumPoly1(double x, double y, int N, double *M, double *S, double *T);
void accumObservation(double target1, double target2, int k, double *M, double *S, double *T);

/* ---- solving ---- */
int sumsToCovariance(int n, double count, double *M, double *means);
int gaussJordan(double *M, int k, int m);
size_t resolveWorkSize(int k, int n);
int resolve(double *M, int k, int n, void *work);
void getRegression(double *coef, const double *M, double *S, int n);
void getRegression2(double *coef1, double *coef2, const double *M, double *S, int n);
int solveRegression2(double *coef1, double *coef2, double *M, double *S, int n);

/* ---- 3 x 3 matrices ---- */
void mulMat3Vec(const double *M, const double *v, double *out);
void mulMat3(double *out, const double *A, const double *B);

/* Operations of rotateMatrix3. */
enum RotateOp {
  ROTATE_IDENTITY = 0,
  ROTATE_TRANSPOSE = 1,
  ROTATE_Z = 2,
  ROTATE_Y = 3,
  ROTATE_X = 4,
};
void rotateMatrix3(double *M, int operation, double angle);

}  // namespace vesk

#endif
