/*
 * bytewindow.cpp --
 *     Window sums, variance, correlation and template search over 8-bit
 *     images, and the small polynomial helpers of radiometric fits.
 *
 *     Sums of bytes are integers: they are kept exactly (64-bit integers,
 *     or doubles below 2^53), so the running-sum search and the plain one
 *     see the same numbers and pick the same window.
 */
#include "core/bytewindow.h"

#include <math.h>
#include <string.h>

#include "core/numeric.h"

namespace vesk {

namespace {

/* Sums over two windows of equal size. */
struct PairSums {
  int64_t sx = 0, sxx = 0, sy = 0, syy = 0, sxy = 0;
};

/*
 * windowR2 --
 *     Squared correlation coefficient from exact sums over n pixels:
 *     (Sxy - SxSy/n)^2 / ((Sxx - Sx^2/n)(Syy - Sy^2/n)).
 * Results:      0 when either window is flat.
 */
double windowR2(int64_t n, int64_t sx, int64_t sxx, int64_t sy, int64_t syy, int64_t sxy) {
  if (n <= 0) return 0;
  __int128 varX = static_cast<__int128>(n) * sxx - static_cast<__int128>(sx) * sx;
  __int128 varY = static_cast<__int128>(n) * syy - static_cast<__int128>(sy) * sy;
  if (varX <= 0 || varY <= 0) return 0;
  __int128 cov = static_cast<__int128>(n) * sxy - static_cast<__int128>(sx) * sy;
  // Scaled by n^2 in both numerator and denominator: the ratio is the same.
  double c = static_cast<double>(cov);
  return c * c / (static_cast<double>(varX) * static_cast<double>(varY));
}

void sumWindow(const unsigned char *window, ptrdiff_t pitch, int width, int height, int64_t *sum,
               int64_t *sumSq) {
  int64_t s = 0, ss = 0;
  for (int r = 0; r < height; r++) {
    const unsigned char *p = window + r * pitch;
    uint32_t rs = 0, rss = 0;  // a row of at most 2^15 bytes fits 32 bits
    for (int c = 0; c < width;) {
      int end = c + 32768 < width ? c + 32768 : width;
      for (; c < end; c++) {
        rs += p[c];
        rss += static_cast<uint32_t>(p[c]) * p[c];
      }
      s += rs;
      ss += rss;
      rs = rss = 0;
    }
  }
  *sum = s;
  *sumSq = ss;
}

/* The searches' common checks: a template that fits inside the image. */
bool templateFits(int columns, int rows, int width, int height) {
  return width > 0 && height > 0 && columns >= width && rows >= height;
}

}  // namespace

/*
 * addByteSums, subByteSums --
 *     Add (or subtract) a window's values and squares to running sums:
 *     a sliding window adds the column it enters and drops the one it
 *     leaves.
 */
void addByteSums(const unsigned char *window, ptrdiff_t pitch, int width, int height,
                 ByteSums *sums) {
  if (width <= 0 || height <= 0) return;
  int64_t s, ss;
  sumWindow(window, pitch, width, height, &s, &ss);
  sums->sum += static_cast<double>(s);
  sums->sumSq += static_cast<double>(ss);
}

void subByteSums(const unsigned char *window, ptrdiff_t pitch, int width, int height,
                 ByteSums *sums) {
  if (width <= 0 || height <= 0) return;
  int64_t s, ss;
  sumWindow(window, pitch, width, height, &s, &ss);
  sums->sum -= static_cast<double>(s);
  sums->sumSq -= static_cast<double>(ss);
}

/*
 * byteWindowR2 --
 *     Squared correlation coefficient of two windows of equal size.
 * Results:      in [0, 1]; 0 when either window is flat or empty.
 */
double byteWindowR2(const unsigned char *a, ptrdiff_t pitchA, const unsigned char *b,
                    ptrdiff_t pitchB, int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  int64_t sx, sxx, sy, syy;
  sumWindow(a, pitchA, width, height, &sx, &sxx);
  sumWindow(b, pitchB, width, height, &sy, &syy);
  int64_t sxy = byteDotProduct(a, pitchA, b, pitchB, width, height);
  return windowR2(static_cast<int64_t>(width) * height, sx, sxx, sy, syy, sxy);
}

/*
 * byteVariance --
 *     Population variance (sum of squares / n - mean^2) of a window.
 * Results:      the variance; the mean in *mean when given.  An empty
 *               window has mean and variance 0.
 */
double byteVariance(const unsigned char *window, ptrdiff_t pitch, int width, int height,
                    double *mean) {
  if (width <= 0 || height <= 0) {
    if (mean) *mean = 0;
    return 0;
  }
  int64_t s, ss;
  sumWindow(window, pitch, width, height, &s, &ss);
  double n = static_cast<double>(width) * height;
  double m = s / n;
  if (mean) *mean = m;
  double v = ss / n - m * m;
  return v > 0 ? v : 0;
}

/* Sum of the products of corresponding pixels of two windows. */
int64_t byteDotProduct(const unsigned char *a, ptrdiff_t pitchA, const unsigned char *b,
                       ptrdiff_t pitchB, int width, int height) {
  int64_t total = 0;
  for (int r = 0; r < height; r++) {
    const unsigned char *pa = a + r * pitchA, *pb = b + r * pitchB;
    uint64_t row = 0;
    for (int c = 0; c < width; c++) row += static_cast<uint32_t>(pa[c]) * pb[c];
    total += static_cast<int64_t>(row);
  }
  return total;
}

void zeroBytes(unsigned char *window, ptrdiff_t pitch, int width, int height) {
  if (width <= 0) return;
  for (int r = 0; r < height; r++) memset(window + r * pitch, 0, static_cast<size_t>(width));
}

/*
 * copyByteWindow --
 *     Copies the width x height rectangle at (column, row) of an image
 *     into a packed buffer, row by row.
 * Side effects: pixels of the rectangle that lie outside the image
 *               (rows beyond it, or columns on either side) are 0.
 */
void copyByteWindow(const unsigned char *image, ptrdiff_t pitch, int imageColumns,
                    int imageRows, int column, int row, int width, int height,
                    unsigned char *out) {
  if (width <= 0 || height <= 0) return;
  int64_t first = column < 0 ? -static_cast<int64_t>(column) : 0;
  int64_t last = static_cast<int64_t>(imageColumns) - column;  // one past, in window columns
  if (last > width) last = width;
  for (int r = 0; r < height; r++) {
    unsigned char *dst = out + static_cast<size_t>(r) * width;
    int64_t y = static_cast<int64_t>(row) + r;
    if (y < 0 || y >= imageRows || first >= last) {
      memset(dst, 0, static_cast<size_t>(width));
      continue;
    }
    memset(dst, 0, static_cast<size_t>(first));
    memcpy(dst + first, image + y * pitch + column + first, static_cast<size_t>(last - first));
    memset(dst + last, 0, static_cast<size_t>(width - last));
  }
}

/*
 * matchTemplate --
 *     Slides the template over every position where it fits and keeps the
 *     one with the largest squared correlation; the first in row order on
 *     ties.
 * Results:      the best position and its r2; column and row -1 when the
 *               template does not fit in the image.
 */
TemplateMatch matchTemplate(const unsigned char *image, ptrdiff_t pitch, int columns, int rows,
                            const unsigned char *templ, ptrdiff_t templPitch, int width,
                            int height) {
  TemplateMatch best;
  if (!templateFits(columns, rows, width, height)) return best;
  for (int r = 0; r + height <= rows; r++)
    for (int c = 0; c + width <= columns; c++) {
      double r2 = byteWindowR2(image + r * pitch + c, pitch, templ, templPitch, width, height);
      if (best.column < 0 || r2 > best.r2) best = {c, r, r2};
    }
  return best;
}

/*
 * matchTemplateFast --
 *     The same search, keeping the image window's sums as running sums:
 *     one column enters and one leaves per step along a row.  The sums are
 *     exact, so the answer is the one matchTemplate gives.
 */
TemplateMatch matchTemplateFast(const unsigned char *image, ptrdiff_t pitch, int columns,
                                int rows, const unsigned char *templ, ptrdiff_t templPitch,
                                int width, int height) {
  TemplateMatch best;
  if (!templateFits(columns, rows, width, height)) return best;
  int64_t n = static_cast<int64_t>(width) * height;
  int64_t sy, syy;
  sumWindow(templ, templPitch, width, height, &sy, &syy);
  for (int r = 0; r + height <= rows; r++) {
    const unsigned char *top = image + r * pitch;
    int64_t sx, sxx;
    sumWindow(top, pitch, width, height, &sx, &sxx);
    for (int c = 0;; c++) {
      int64_t sxy = byteDotProduct(top + c, pitch, templ, templPitch, width, height);
      double r2 = windowR2(n, sx, sxx, sy, syy, sxy);
      if (best.column < 0 || r2 > best.r2) best = {c, r, r2};
      if (c + width >= columns) break;
      int64_t inS, inSS, outS, outSS;
      sumWindow(top + c + width, pitch, 1, height, &inS, &inSS);
      sumWindow(top + c, pitch, 1, height, &outS, &outSS);
      sx += inS - outS;
      sxx += inSS - outSS;
    }
  }
  return best;
}

/*
 * accumPoly2 --
 *     One observation z(x, y) of a two-variable polynomial fit of order N
 *     with cross terms: T = (1, terms of x and y in makePolyTerms order,
 *     z); S[0..k] += T; M (order k) += T[1..k] T[1..k]^T, where k is the
 *     number of terms.
 * Results:      k, or 0 when N is out of range (nothing accumulated).
 */
int accumPoly2(double x, double y, double z, int N, double *M, double *S, double *T) {
  if (N < 0 || N > 20) return 0;
  T[0] = 1;
  T[1] = x;
  T[2] = y;
  int k = makePolyTerms(T, N);
  T[k] = z;
  addVector(T, S, k + 1);
  addOuterProduct(k, M, T + 1);
  return k;
}

/* The bilinear terms {1, a, b, a*b}. */
void makeBilinearTerms(double a, double b, double *T) {
  T[0] = 1;
  T[1] = a;
  T[2] = b;
  T[3] = a * b;
}

/*
 * makePolyLut --
 *     Evaluates coef[0] + coef[1] v + ... + coef[n] v^n at v = 0..255,
 *     adds 0.5 and clamps to 0..255 into a 256-byte table.
 */
void makePolyLut(const double *coef, int n, unsigned char *lut) {
  for (int v = 0; v < 256; v++) {
    double value = 0;
    for (int i = n; i >= 0; i--) value = value * v + coef[i];  // Horner
    value += 0.5;
    if (!(value > 0)) value = 0;  // NaN too
    if (value > 255) value = 255;
    lut[v] = static_cast<unsigned char>(value);
  }
}

/* One table of 256 bytes per channel, each from its own n + 1 coefficients. */
void makePolyLuts(const double *coef, int n, int channels, unsigned char *luts) {
  for (int c = 0; c < channels; c++)
    makePolyLut(coef + static_cast<size_t>(c) * (n + 1), n, luts + static_cast<size_t>(c) * 256);
}

}  // namespace vesk
