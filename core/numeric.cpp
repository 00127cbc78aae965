/*
 * numeric.cpp --
 *     Least-squares kernels: accumulation of normal-equation sums for
 *     polynomial fits, conversion of sums to covariance and means, the
 *     Gauss-Jordan sweep with full pivoting, regression coefficients and
 *     intercepts, and 3 x 3 rotation matrices.
 */
#include <math.h>
#include <stdint.h>
#include <string.h>
#include <new>
#include <vector>

#include "core/numeric.h"
#include "vesk/stdio.h"
#include "vesk/vesk.h"

namespace vesk {
namespace {

/* Largest order a sweep accepts: n * n doubles must stay well inside an int. */
constexpr int kMaxSweepOrder = 4096;

/*
 * The work space of a sweep: the row buffer of the reordering, the
 * original diagonal of the swept block, and the pivot rows and columns.
 */
struct SweepWork {
  double *row;       /* n doubles */
  double *diagonal;  /* k doubles */
  int *pivotRow;     /* k ints: the row of the s-th pivot */
  int *pivotColumn;  /* k ints: the column of the s-th pivot */
};

SweepWork carveSweepWork(void *block, int k, int n) {
  SweepWork w;
  w.row = static_cast<double *>(block);
  w.diagonal = w.row + n;
  w.pivotRow = reinterpret_cast<int *>(w.diagonal + k);
  w.pivotColumn = w.pivotRow + k;
  return w;
}

/*
 * sweepMatrix --
 *     Sweeps the leading k variables of the matrix M of order n with full
 *     pivoting over the block not yet pivoted, then puts rows and columns
 *     back in variable order and mirrors the swept rows' entries of the
 *     unswept columns into the unswept rows.  columnSign is -1 for the
 *     Gauss-Jordan convention (the swept block becomes the inverse) and +1
 *     for the convention of resolve.
 * Results:      NUMERIC_OK, or NUMERIC_SINGULAR when a pivot is zero, not
 *               finite or lost to rounding.
 * Side effects: M is swept; after NUMERIC_SINGULAR it is left partly swept
 *               and must not be used.
 */
int sweepMatrix(double *M, int k, int n, int columnSign, const SweepWork &w) {
  for (int s = 0; s < k; s++) {
    w.diagonal[s] = fabs(M[s * n + s]);
    w.pivotRow[s] = -1;
    w.pivotColumn[s] = -1;
  }
  std::vector<char> rowTaken(static_cast<size_t>(k), 0), columnTaken(static_cast<size_t>(k), 0);

  for (int s = 0; s < k; s++) {
    /* Pivot search: column by column, rows inside; the first of equals. */
    int r = -1, c = -1;
    double best = 0;
    for (int j = 0; j < k; j++) {
      if (columnTaken[static_cast<size_t>(j)]) continue;
      for (int i = 0; i < k; i++) {
        if (rowTaken[static_cast<size_t>(i)]) continue;
        double a = fabs(M[static_cast<size_t>(i) * n + j]);
        if (r < 0 || a > best) {
          best = a;
          r = i;
          c = j;
        }
      }
    }
    double p = M[static_cast<size_t>(r) * n + c];
    double scale = w.diagonal[r] > w.diagonal[c] ? w.diagonal[r] : w.diagonal[c];
    if (!isfinite(p) || !(fabs(p) > kPivotTolerance * scale)) return NUMERIC_SINGULAR;
    rowTaken[static_cast<size_t>(r)] = 1;
    columnTaken[static_cast<size_t>(c)] = 1;
    w.pivotRow[s] = r;
    w.pivotColumn[s] = c;

    double *pivotRow = M + static_cast<size_t>(r) * n;
    for (int j = 0; j < n; j++) pivotRow[j] /= p;
    for (int i = 0; i < n; i++) {
      if (i == r) continue;
      double *rowI = M + static_cast<size_t>(i) * n;
      double factor = rowI[c];
      if (factor == 0) continue;
      for (int j = 0; j < n; j++)
        if (j != c) rowI[j] -= pivotRow[j] * factor;
    }
    for (int i = 0; i < n; i++) M[static_cast<size_t>(i) * n + c] = columnSign * M[static_cast<size_t>(i) * n + c] / p;
    pivotRow[c] = 1 / p;
  }

  /*
   * Back to variable order.  The pivot at (r, c) solved equation r for
   * variable c: row r holds variable c's results and column c belongs to
   * equation r.  With pivots on the diagonal, as a symmetric non-negative
   * matrix always gives, nothing moves.
   */
  std::vector<int> columnOfRow(static_cast<size_t>(k)), rowOfColumn(static_cast<size_t>(k));
  for (int s = 0; s < k; s++) {
    columnOfRow[static_cast<size_t>(w.pivotRow[s])] = w.pivotColumn[s];
    rowOfColumn[static_cast<size_t>(w.pivotColumn[s])] = w.pivotRow[s];
  }
  bool moved = false;
  for (int s = 0; s < k; s++) moved = moved || w.pivotRow[s] != w.pivotColumn[s];
  if (moved) {
    /* Columns of the swept block, in every row: column c goes to row-of-c's slot. */
    for (int i = 0; i < n; i++) {
      double *rowI = M + static_cast<size_t>(i) * n;
      for (int j = 0; j < k; j++) w.row[rowOfColumn[static_cast<size_t>(j)]] = rowI[j];
      memcpy(rowI, w.row, sizeof(double) * static_cast<size_t>(k));
    }
    /* Swept rows, all columns: row r goes to the slot of its variable. */
    std::vector<double> rows(static_cast<size_t>(k) * n);
    for (int i = 0; i < k; i++)
      memcpy(&rows[static_cast<size_t>(columnOfRow[static_cast<size_t>(i)]) * n], M + static_cast<size_t>(i) * n,
             sizeof(double) * static_cast<size_t>(n));
    memcpy(M, rows.data(), sizeof(double) * rows.size());
  }
  /* The unswept rows take the swept rows' coefficients: M stays symmetric. */
  for (int j = k; j < n; j++)
    for (int i = 0; i < k; i++) M[static_cast<size_t>(j) * n + i] = M[static_cast<size_t>(i) * n + j];
  return NUMERIC_OK;
}

bool sweepSizeOk(int k, int n) { return k >= 0 && n >= k && n <= kMaxSweepOrder; }

}  // namespace

/* ---- vectors and sums ---- */

/* addVector -- target[i] += source[i] for i < n. */
void addVector(const double *source, double *target, int n) {
  for (int i = 0; i < n; i++) target[i] += source[i];
}

/* addOuterProduct -- M += v * v' for the n x n matrix M, both triangles. */
void addOuterProduct(int n, double *M, const double *v) {
  for (int i = 0; i < n; i++) {
    double vi = v[i];
    double *row = M + static_cast<size_t>(i) * n;
    for (int j = 0; j < n; j++) row[j] += vi * v[j];
  }
}

/* dotProduct -- the sum of a[i] * b[i] for i < n. */
double dotProduct(const double *a, const double *b, int n) {
  double sum = 0;
  for (int i = 0; i < n; i++) sum += a[i] * b[i];
  return sum;
}

/* ---- polynomial terms ---- */

/*
 * polyTermCount --
 *     Terms of a two-variable polynomial of the given order, the constant
 *     included: (N + 1)(N + 2) / 2, except order 0, the bilinear set of
 *     four terms.  0 for a negative order.
 */
int polyTermCount(int order) {
  if (order < 0) return 0;
  if (order == 0) return 4;
  return (order + 1) * (order + 2) / 2;
}

/* makePowers -- out[i] = x to the power i, i = 0..N. */
void makePowers(int N, double x, double *out) {
  if (N < 0) return;
  out[0] = 1;
  for (int i = 1; i <= N; i++) out[i] = out[i - 1] * x;
}

/*
 * makeCrossTerms --
 *     The products px[j] * py[k] of total degree at most N, j outer and k
 *     inner.
 * Results: the number of terms written.
 */
int makeCrossTerms(int N, double *out, const double *px, const double *py) {
  int count = 0;
  for (int j = 0; j <= N; j++)
    for (int k = 0; k <= N - j; k++) out[count++] = px[j] * py[k];
  return count;
}

/*
 * makePolyTerms --
 *     Completes the term vector of a two-variable polynomial of order N
 *     whose first three entries the caller set to 1, x and y: by total
 *     degree, and within a degree the power of x falls from the degree to
 *     0 (1, x, y, x2, xy, y2, x3, x2y ...).  Order 0 gives 1, x, y, xy.
 * Results: the number of terms (polyTermCount).
 */
int makePolyTerms(double *T, int N) {
  if (N < 0) return 0;
  if (N == 0) {
    T[3] = T[1] * T[2];
    return 4;
  }
  const double x = T[1], y = T[2];
  /* Degree d starts at d(d+1)/2; its entry t carries x to the power d - t. */
  for (int d = 2; d <= N; d++) {
    int start = d * (d + 1) / 2, previous = (d - 1) * d / 2;
    for (int t = 0; t < d; t++) T[start + t] = x * T[previous + t];
    T[start + d] = y * T[previous + d - 1];
  }
  return polyTermCount(N);
}

/*
 * accumPoly1 --
 *     One observation (x, y) of a one-variable polynomial fit of order N:
 *     T becomes (1, x, ..., x^N, y), S[0..N+1] += T and the sums matrix of
 *     order N + 1 takes the outer product of T[1..N+1].
 */
void accumPoly1(double x, double y, int N, double *M, double *S, double *T) {
  if (N < 0) return;
  makePowers(N, x, T);
  T[N + 1] = y;
  addVector(T, S, N + 2);
  addOuterProduct(N + 1, M, T + 1);
}

/*
 * accumObservation --
 *     One observation of a fit with two targets: T[0..k-2] hold the
 *     constant and the terms; the targets go to T[k-1] and T[k]; the sums
 *     matrix of order k takes the outer product of T[1..k] and S[0..k]
 *     takes T[0..k].
 */
void accumObservation(double target1, double target2, int k, double *M, double *S, double *T) {
  if (k < 1) return;
  T[k - 1] = target1;
  T[k] = target2;
  addOuterProduct(k, M, T + 1);
  addVector(T, S, k + 1);
}

/* ---- solving ---- */

/*
 * sumsToCovariance --
 *     Turns sums into the population covariance (divided by count) and
 *     sums of values into means.  count is taken as an integer.  A variance
 *     that is no more than rounding left over from cancelling the sums is
 *     zero, and so are that variable's covariances: a constant variable
 *     then shows as a zero pivot rather than as noise.
 * Results:      NUMERIC_OK, or NUMERIC_BAD_SIZE for a count below 1 (M and
 *               means untouched).
 * Side effects: M and means rewritten in place.
 */
int sumsToCovariance(int n, double count, double *M, double *means) {
  if (!(count >= 1) || n < 0) return NUMERIC_BAD_SIZE;
  const double c = static_cast<double>(static_cast<int64_t>(count));
  for (int i = 0; i < n; i++) {
    for (int j = i; j < n; j++) {
      double &mij = M[static_cast<size_t>(i) * n + j];
      double sumOfProducts = mij;
      mij -= means[i] * means[j] / c;
      if (i == j && !(fabs(mij) > kPivotTolerance * fabs(sumOfProducts))) mij = 0;
      M[static_cast<size_t>(j) * n + i] = mij;
    }
  }
  for (int i = 0; i < n; i++) {
    if (M[static_cast<size_t>(i) * n + i] != 0) continue;
    for (int j = 0; j < n; j++) M[static_cast<size_t>(i) * n + j] = M[static_cast<size_t>(j) * n + i] = 0;
  }
  for (int i = 0; i < n; i++) {
    means[i] /= c;
    for (int j = 0; j < n; j++) M[static_cast<size_t>(i) * n + j] /= c;
  }
  return NUMERIC_OK;
}

/*
 * gaussJordan --
 *     Sweeps the leading k variables of the symmetric matrix M of order
 *     k + m.  Afterwards the leading block is the inverse of the original
 *     one, the rows of the swept variables hold, in the last m columns, the
 *     regression coefficients of the m remaining variables on the swept
 *     ones (mirrored into the last m rows), and the trailing block holds the
 *     residual covariance.
 * Results: NUMERIC_OK, NUMERIC_SINGULAR (M then unusable), NUMERIC_BAD_SIZE
 *          or NUMERIC_NO_MEMORY (M untouched).
 */
int gaussJordan(double *M, int k, int m) {
  if (k < 0 || m < 0 || !sweepSizeOk(k, k + m)) return NUMERIC_BAD_SIZE;
  int n = k + m;
  void *block = gmemAlloc(static_cast<int>(resolveWorkSize(k, n)));
  if (!block) {
    vesk_fprintf(stderr, "Error in gaussJordan: gmemAlloc.\n");
    return NUMERIC_NO_MEMORY;
  }
  int status;
  try {
    status = sweepMatrix(M, k, n, -1, carveSweepWork(block, k, n));
  } catch (const std::bad_alloc &) {
    status = NUMERIC_NO_MEMORY;
  }
  gmemFree(block);
  return status;
}

/* resolveWorkSize -- bytes of the work buffer that resolve takes. */
size_t resolveWorkSize(int k, int n) {
  if (k < 0 || n < 0) return 0;
  return sizeof(double) * static_cast<size_t>(n + k) + sizeof(int) * 2 * static_cast<size_t>(k);
}

/*
 * resolve --
 *     The sweep of gaussJordan over the first k variables of the matrix of
 *     order n, with the swept columns keeping their sign.  The regression
 *     coefficients and the residual block are the same as gaussJordan's.
 *     work holds resolveWorkSize(k, n) bytes, or is NULL to allocate.
 * Results: as gaussJordan; without memory, "Error in resolve: gmemAlloc."
 *          on the standard error stream and M unchanged.
 */
int resolve(double *M, int k, int n, void *work) {
  if (!sweepSizeOk(k, n)) return NUMERIC_BAD_SIZE;
  void *block = work;
  if (!block) {
    block = gmemAlloc(static_cast<int>(resolveWorkSize(k, n)));
    if (!block) {
      vesk_fprintf(stderr, "Error in resolve: gmemAlloc.\n");
      return NUMERIC_NO_MEMORY;
    }
  }
  int status;
  try {
    status = sweepMatrix(M, k, n, 1, carveSweepWork(block, k, n));
  } catch (const std::bad_alloc &) {
    status = NUMERIC_NO_MEMORY;
  }
  if (!work) gmemFree(block);
  return status;
}

/*
 * getRegression --
 *     From a swept matrix of order n and the means S[1..n]: coef[1..n-1]
 *     are the coefficients of the variables 0..n-2 on the last one, coef[0]
 *     the intercept mean(last) - sum of mean(x_i) * coef[i+1].
 * Side effects: S[0] becomes the last variable's mean.
 */
void getRegression(double *coef, const double *M, double *S, int n) {
  if (n < 1) return;
  const double *last = M + static_cast<size_t>(n - 1) * n;
  for (int i = 1; i < n; i++) coef[i] = last[i - 1];
  coef[0] = -1;
  S[0] = S[n];
  coef[0] = -dotProduct(S, coef, n);
}

/*
 * getRegression2 --
 *     getRegression for the last two variables of the matrix of order n
 *     on the first n - 2.
 * Side effects: S[0] becomes the last variable's mean.
 */
void getRegression2(double *coef1, double *coef2, const double *M, double *S, int n) {
  if (n < 2) return;
  const double *row1 = M + static_cast<size_t>(n - 2) * n, *row2 = M + static_cast<size_t>(n - 1) * n;
  for (int i = 1; i < n - 1; i++) {
    coef1[i] = row1[i - 1];
    coef2[i] = row2[i - 1];
  }
  coef1[0] = coef2[0] = -1;
  S[0] = S[n - 1];
  coef1[0] = -dotProduct(S, coef1, n - 1);
  S[0] = S[n];
  coef2[0] = -dotProduct(S, coef2, n - 1);
}

/*
 * solveRegression2 --
 *     Fits two targets at once from the sums of accumObservation: the
 *     sums matrix and vector of order n become covariance and means, the
 *     first n - 2 variables are swept and coef1, coef2 (n - 1 entries each,
 *     intercept first) receive the two regressions.
 * Results: NUMERIC_OK; NUMERIC_BAD_SIZE with no observation or n < 2;
 *          NUMERIC_SINGULAR when the terms are linearly dependent over the
 *          observations (too few of them, or points in a line); the
 *          coefficients are then untouched.
 */
int solveRegression2(double *coef1, double *coef2, double *M, double *S, int n) {
  if (n < 2) return NUMERIC_BAD_SIZE;
  int status = sumsToCovariance(n, S[0], M, S + 1);
  if (status != NUMERIC_OK) return status;
  status = gaussJordan(M, n - 2, 2);
  if (status != NUMERIC_OK) return status;
  getRegression2(coef1, coef2, M, S, n);
  return NUMERIC_OK;
}

/* ---- 3 x 3 matrices ---- */

/* mulMat3Vec -- out = M * v; out may not alias v. */
void mulMat3Vec(const double *M, const double *v, double *out) {
  for (int i = 0; i < 3; i++) out[i] = M[3 * i] * v[0] + M[3 * i + 1] * v[1] + M[3 * i + 2] * v[2];
}

/* mulMat3 -- out = A * B; out may alias A or B. */
void mulMat3(double *out, const double *A, const double *B) {
  double r[9];
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) r[3 * i + j] = A[3 * i] * B[j] + A[3 * i + 1] * B[3 + j] + A[3 * i + 2] * B[6 + j];
  memcpy(out, r, sizeof r);
}

/*
 * rotateMatrix3 --
 *     Edits M in place: ROTATE_IDENTITY and ROTATE_TRANSPOSE replace it;
 *     ROTATE_Z, ROTATE_Y and ROTATE_X multiply it from the left by the
 *     rotation of the angle (radians) about that axis.  Any other
 *     operation leaves the zero matrix.
 */
void rotateMatrix3(double *M, int operation, double angle) {
  const double c = cos(angle), s = sin(angle);
  switch (operation) {
  case ROTATE_IDENTITY: {
    static const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    memcpy(M, identity, sizeof identity);
    return;
  }
  case ROTATE_TRANSPOSE:
    for (int i = 0; i < 3; i++)
      for (int j = i + 1; j < 3; j++) {
        double t = M[3 * i + j];
        M[3 * i + j] = M[3 * j + i];
        M[3 * j + i] = t;
      }
    return;
  case ROTATE_Z: {
    const double R[9] = {c, s, 0, -s, c, 0, 0, 0, 1};
    mulMat3(M, R, M);
    return;
  }
  case ROTATE_Y: {
    const double R[9] = {c, 0, -s, 0, 1, 0, s, 0, c};
    mulMat3(M, R, M);
    return;
  }
  case ROTATE_X: {
    const double R[9] = {1, 0, 0, 0, c, s, 0, -s, c};
    mulMat3(M, R, M);
    return;
  }
  default:
    memset(M, 0, sizeof(double) * 9);
    return;
  }
}

}  // namespace vesk

/* ---- the exported interface ---- */

int resolve(double *M, int k, int n, void *work) { return vesk::resolve(M, k, n, work); }
