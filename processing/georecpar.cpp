/*
 * georecpar.cpp --
 *     Writes the georectification parameter file "GOERECHD" field by
 *     field, in little-endian order whatever the host, so that the file
 *     never depends on how a record is laid out in memory; reads it back
 *     with every count checked against the order and the file's size;
 *     evaluates the polynomials row by row and bounds their images.
 */
#include "processing/georecpar.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <math.h>
#include <algorithm>
#include <string>

#include "core/savefile.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

void putUint32(std::vector<unsigned char> &out, uint32_t value) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void putDouble(std::vector<unsigned char> &out, double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; i++) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

uint32_t getUint32(const unsigned char *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

double getDouble(const unsigned char *p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; i--) bits = (bits << 8) | p[i];
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

int georecTermCount(int N) { return N == 0 ? 4 : (N + 1) * (N + 2) / 2; }

/*
 * newGeorecPar --
 *     The record of a fitted transform: the offsets are kept in the head
 *     and added into the first coefficient of their polynomial.
 */
GeorecPar newGeorecPar(double xc, double yc, double columnOffset, double rowOffset, int n, int N,
                       const double *rowCoef, const double *columnCoef) {
  GeorecPar par;
  par.xc = xc;
  par.yc = yc;
  par.columnOffset = columnOffset;
  par.rowOffset = rowOffset;
  par.n = n < 0 ? 0 : n;
  par.N = N;
  par.row.assign(rowCoef, rowCoef + par.n);
  par.column.assign(columnCoef, columnCoef + par.n);
  if (par.n > 0) {
    par.row[0] += rowOffset;
    par.column[0] += columnOffset;
  }
  return par;
}

/*
 * decodeGeorecPar --
 *     Reads a record from a file's bytes.  The order must be 0 to 14 and
 *     n its term count, so that evaluation never reaches past the
 *     coefficients; bytes behind the coefficients are ignored.
 */
int decodeGeorecPar(const unsigned char *bytes, size_t size, GeorecPar *par, int *why) {
  *why = 1;
  if (size < static_cast<size_t>(kGeorecHeadSize)) return 0;
  *why = 2;
  if (memcmp(bytes, "GOERECHD", 8) != 0) return 0;
  const int n = static_cast<int32_t>(getUint32(bytes + 40));
  const int N = static_cast<int32_t>(getUint32(bytes + 44));
  if (N < 0 || N > kGeorecMaxOrder || n != georecTermCount(N)) return 0;
  *why = 1;
  if (size < kGeorecHeadSize + 16 * static_cast<size_t>(n)) return 0;
  par->xc = getDouble(bytes + 8);
  par->yc = getDouble(bytes + 16);
  par->columnOffset = getDouble(bytes + 24);
  par->rowOffset = getDouble(bytes + 32);
  par->n = n;
  par->N = N;
  par->row.resize(n);
  par->column.resize(n);
  const unsigned char *p = bytes + kGeorecHeadSize;
  for (int i = 0; i < n; i++) par->row[i] = getDouble(p + 8 * i);
  p += 8 * n;
  for (int i = 0; i < n; i++) par->column[i] = getDouble(p + 8 * i);
  *why = 0;
  return 1;
}

/*
 * readGeorecPar --
 *     Reads a parameter file.
 * Results:      1; 0 after "%s open error.", "%s read error." or "%s is
 *               not a georectification parameter file." (no newline).
 */
int readGeorecPar(const char *path, GeorecPar *par) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    vesk_fprintf(stderr, "%s open error.", path);
    return 0;
  }
  /* The largest file read: the head and 120 terms each. */
  const size_t most = kGeorecHeadSize + 16 * static_cast<size_t>(georecTermCount(kGeorecMaxOrder));
  std::vector<unsigned char> bytes(most);
  size_t got = 0;
  while (got < most) {
    ssize_t r = read(fd, bytes.data() + got, most - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  int why = 0;
  if (decodeGeorecPar(bytes.data(), got, par, &why)) return 1;
  if (why == 2)
    vesk_fprintf(stderr, "%s is not a georectification parameter file.", path);
  else
    vesk_fprintf(stderr, "%s read error.", path);
  return 0;
}

/*
 * reduceAtY --
 *     Both polynomials at a fixed v = y - yc, as polynomials in u.  The
 *     bilinear order gives (Y0 + v Y2, X0 + v X2), (Y1 + v Y3, X1 + v X3).
 */
void reduceAtY(const GeorecPar &par, double *pairs, double v) {
  const double *Y = par.row.data(), *X = par.column.data();
  if (par.N == 0) {
    pairs[0] = Y[0] + v * Y[2];
    pairs[1] = X[0] + v * X[2];
    pairs[2] = Y[1] + v * Y[3];
    pairs[3] = X[1] + v * X[3];
    return;
  }
  for (int i = 0; i <= par.N; i++) {
    double y = 0, x = 0, p = 1;
    for (int j = 0; j <= par.N - i; j++) {
      const int k = polyIndex(i, j);
      y += p * Y[k];
      x += p * X[k];
      p *= v;
    }
    pairs[2 * i] = y;
    pairs[2 * i + 1] = x;
  }
}

/* reduceAtX -- the same at a fixed u, as polynomials in v. */
void reduceAtX(const GeorecPar &par, double *pairs, double u) {
  const double *Y = par.row.data(), *X = par.column.data();
  if (par.N == 0) {
    pairs[0] = Y[0] + u * Y[1];
    pairs[1] = X[0] + u * X[1];
    pairs[2] = Y[2] + u * Y[3];
    pairs[3] = X[2] + u * X[3];
    return;
  }
  for (int j = 0; j <= par.N; j++) {
    double y = 0, x = 0, p = 1;
    for (int i = 0; i <= par.N - j; i++) {
      const int k = polyIndex(i, j);
      y += p * Y[k];
      x += p * X[k];
      p *= u;
    }
    pairs[2 * j] = y;
    pairs[2 * j + 1] = x;
  }
}

/*
 * evalPoly1 --
 *     A polynomial of one variable, p0 + t p1 + ... + t^k pk (Horner).
 * Results:      its value; 0 for a negative degree.
 */
double evalPoly1(const double *p, int k, double t) {
  if (k < 0) return 0;
  double value = p[k];
  for (int i = k - 1; i >= 0; i--) value = value * t + p[i];
  return value;
}

/*
 * reduceBlockAtY --
 *     One coefficient block (terms by polyIndex, or the four bilinear
 *     terms 1, u, v, uv for order 0) at a fixed v = y - yc, as a
 *     polynomial in u: coefficient i is added to out[i], for i up to
 *     max(N, 1); the caller zeroes out first.
 */
void reduceBlockAtY(const double *block, int N, double v, double *out) {
  if (N == 0) {
    out[0] += block[0] + v * block[2];
    out[1] += block[1] + v * block[3];
    return;
  }
  for (int i = 0; i <= N; i++) {
    double p = 1;
    for (int j = 0; j <= N - i; j++) {
      out[i] += p * block[polyIndex(i, j)];
      p *= v;
    }
  }
}

/* reduceBlockAtX -- the same at a fixed u = x - xc, as a polynomial in v. */
void reduceBlockAtX(const double *block, int N, double u, double *out) {
  if (N == 0) {
    out[0] += block[0] + u * block[1];
    out[1] += block[2] + u * block[3];
    return;
  }
  for (int j = 0; j <= N; j++) {
    double p = 1;
    for (int i = 0; i <= N - j; i++) {
      out[j] += p * block[polyIndex(i, j)];
      p *= u;
    }
  }
}

/* evalReduced -- the reduced pairs at t: powers by repeated products. */
void evalReduced(const double *pairs, int count, double t, double *X, double *Y) {
  double y = pairs[0], x = pairs[1], p = 1;
  for (int i = 1; i < count; i++) {
    p *= t;
    y += p * pairs[2 * i];
    x += p * pairs[2 * i + 1];
  }
  *X = x;
  *Y = y;
}

void evalGeorecPar(const GeorecPar &par, double x, double y, double *X, double *Y) {
  double pairs[2 * (kGeorecMaxOrder + 1)];
  reduceAtY(par, pairs, y - par.yc);
  evalReduced(pairs, reducedCount(par), x - par.xc, X, Y);
}

namespace {

constexpr double kBoxLimit = 536870912.0; /* 2^29 */

/* Widens a box by a source position; non-finite positions are skipped. */
bool widenBox(double X, double Y, double box[4]) {
  if (!std::isfinite(X) || !std::isfinite(Y)) return false;
  box[0] = std::min(box[0], floor(X));
  box[1] = std::min(box[1], floor(Y));
  box[2] = std::max(box[2], ceil(X));
  box[3] = std::max(box[3], ceil(Y));
  return true;
}

int clampBound(double value) {
  return static_cast<int>(std::max(-kBoxLimit, std::min(kBoxLimit, value)));
}

}  // namespace

/*
 * transformBounds --
 *     Traces the images of the block's four edges: along the last and the
 *     first row, then down the first and the last column.
 */
int transformBounds(const GeorecPar &par, const GeoFrame &frame, PixelBox *box) {
  const double sx = fabs(frame.dx), sy = fabs(frame.dy);
  if (!(sx > 0) || !(sy > 0) || !std::isfinite(sx) || !std::isfinite(sy)) return 0;
  double b[4] = {HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  double pairs[2 * (kGeorecMaxOrder + 1)];
  const int count = reducedCount(par);
  bool any = false;
  const double x0 = std::min(frame.xFirst, frame.xLast), x1 = std::max(frame.xFirst, frame.xLast);
  const double y0 = std::min(frame.yFirst, frame.yLast), y1 = std::max(frame.yFirst, frame.yLast);
  /* Steps counted, not accumulated: a step too small to move x still ends. */
  const long long nx = static_cast<long long>(std::min((x1 - x0) / sx, 1e9)) + 1;
  const long long ny = static_cast<long long>(std::min((y1 - y0) / sy, 1e9)) + 1;
  for (double y : {frame.yLast, frame.yFirst}) {
    reduceAtY(par, pairs, y - par.yc);
    for (long long i = 0; i < nx; i++) {
      double X, Y;
      evalReduced(pairs, count, x0 + i * sx - par.xc, &X, &Y);
      any |= widenBox(X, Y, b);
    }
  }
  for (double x : {frame.xFirst, frame.xLast}) {
    reduceAtX(par, pairs, x - par.xc);
    for (long long i = 0; i < ny; i++) {
      double X, Y;
      evalReduced(pairs, count, y0 + i * sy - par.yc, &X, &Y);
      any |= widenBox(X, Y, b);
    }
  }
  if (!any) return 0;
  box->left = clampBound(b[0]);
  box->top = clampBound(b[1]);
  box->right = clampBound(b[2]);
  box->bottom = clampBound(b[3]);
  return 1;
}

/*
 * blockSourceBox --
 *     The frame of the output block (start row and column in the output's
 *     pixel coordinates) and its source box, clipped to the input box when
 *     clip is 1.
 */
long long blockSourceBox(const GeorecPar &par, GeoFrame *frame, PixelBox *box,
                         const GeoFrame &outFrame, const PixelBox &outBox, const PixelBox &inBox,
                         int startRow, int startColumn, int rows, int columns, int clip) {
  frame->dx = outFrame.dx;
  frame->dy = outFrame.dy;
  frame->xFirst = static_cast<double>(startColumn - outBox.left) * outFrame.dx + outFrame.xFirst;
  frame->yFirst = static_cast<double>(outBox.top - startRow) * outFrame.dy + outFrame.yFirst;
  frame->xLast = frame->xFirst + (columns - 1) * outFrame.dx;
  frame->yLast = frame->yFirst - (rows - 1) * outFrame.dy;
  if (!transformBounds(par, *frame, box)) return 0;
  if (clip) {
    box->left = std::max(box->left, inBox.left);
    box->top = std::max(box->top, inBox.top);
    box->right = std::min(box->right, inBox.right);
    box->bottom = std::min(box->bottom, inBox.bottom);
  }
  if (box->right < box->left || box->bottom < box->top) return 0;
  return (static_cast<long long>(box->right) - box->left + 1) *
         (static_cast<long long>(box->bottom) - box->top + 1);
}

std::vector<unsigned char> encodeGeorecPar(double xc, double yc, double columnOffset,
                                           double rowOffset, int n, int N,
                                           const double *rowCoef, const double *columnCoef) {
  std::vector<unsigned char> out;
  if (n < 1) n = 0;
  out.reserve(kGeorecHeadSize + 16 * static_cast<size_t>(n));
  out.insert(out.end(), "GOERECHD", "GOERECHD" + 8);
  putDouble(out, xc);
  putDouble(out, yc);
  putDouble(out, columnOffset);
  putDouble(out, rowOffset);
  putUint32(out, static_cast<uint32_t>(n));
  putUint32(out, static_cast<uint32_t>(N));
  for (int i = 0; i < n; i++) putDouble(out, rowCoef[i] + (i == 0 ? rowOffset : 0));
  for (int i = 0; i < n; i++) putDouble(out, columnCoef[i] + (i == 0 ? columnOffset : 0));
  return out;
}

/*
 * writeGeorecPar --
 *     Writes the parameter file.  The bytes go to a temporary file beside
 *     the path, which replaces the path only once all of them are written.
 * Results:      1 written; 0 after "%s open error." or "%s write error."
 *               (no newline), the path left as it was.
 */
int writeGeorecPar(const char *path, double xc, double yc, double columnOffset, double rowOffset,
                   int n, int N, const double *rowCoef, const double *columnCoef) {
  if (!path || !*path || n < 1 || !rowCoef || !columnCoef) {
    vesk_fprintf(stderr, "%s open error.", path ? path : "");
    return 0;
  }
  std::vector<unsigned char> bytes =
      encodeGeorecPar(xc, yc, columnOffset, rowOffset, n, N, rowCoef, columnCoef);
  SaveFile file;
  if (!file.open(path)) {
    vesk_fprintf(stderr, "%s open error.", path);
    return 0;
  }
  file.write(bytes.data(), bytes.size());
  if (!file.commit()) {
    vesk_fprintf(stderr, "%s write error.", path);
    return 0;
  }
  return 1;
}

}  // namespace vesk
