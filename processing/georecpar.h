/*
 * georecpar.h --
 *     The georectification parameter file "GOERECHD": the centre of the
 *     input frame, the means of the two fitted values and the row and
 *     column polynomials.  Little-endian, no padding, 48 + 16n bytes.
 */
#ifndef VESK_PROCESSING_GEORECPAR_H
#define VESK_PROCESSING_GEORECPAR_H

#include <stddef.h>
#include <vector>

namespace vesk {

inline constexpr int kGeorecHeadSize = 48;

/*
 * The file's bytes: magic, xc, yc, column offset, row offset, n, N, then
 * the n row coefficients and the n column coefficients, the offsets added
 * into the first coefficient of their polynomial.
 */
std::vector<unsigned char> encodeGeorecPar(double xc, double yc, double columnOffset,
                                           double rowOffset, int n, int N,
                                           const double *rowCoef, const double *columnCoef);

int writeGeorecPar(const char *path, double xc, double yc, double columnOffset, double rowOffset,
                   int n, int N, const double *rowCoef, const double *columnCoef);

/* Highest order a parameter file may hold: 120 terms a polynomial. */
inline constexpr int kGeorecMaxOrder = 14;

/*
 * The record in memory.  row and column hold n coefficients each, the
 * offsets already added into their first coefficient.
 */
struct GeorecPar {
  double xc = 0, yc = 0;
  double columnOffset = 0, rowOffset = 0;
  int n = 0, N = 0;
  std::vector<double> row, column;
};

/* The number of terms of an order: 4 for the bilinear order 0. */
int georecTermCount(int N);

GeorecPar newGeorecPar(double xc, double yc, double columnOffset, double rowOffset, int n, int N,
                       const double *rowCoef, const double *columnCoef);

/*
 * The parser over a file's bytes.  Results: 1; 0 with *why 1 (short: a
 * read error) or 2 (not such a file: magic, n or N wrong).
 */
int decodeGeorecPar(const unsigned char *bytes, size_t size, GeorecPar *par, int *why);
int readGeorecPar(const char *path, GeorecPar *par);

inline int polyIndex(int a, int b) { return b + (a + b) * (a + b + 1) / 2; }

/*
 * Reduced polynomials: pairs[2i] row value, pairs[2i + 1] column value of
 * the i-th power of the free coordinate; max(N, 1) + 1 pairs.
 */
void reduceAtY(const GeorecPar &par, double *pairs, double v);
void reduceAtX(const GeorecPar &par, double *pairs, double u);
inline int reducedCount(const GeorecPar &par) { return (par.N < 1 ? 1 : par.N) + 1; }
void evalReduced(const double *pairs, int count, double t, double *X, double *Y);
/* One variable, and one coefficient block reduced into a caller-zeroed array. */
double evalPoly1(const double *p, int k, double t);
void reduceBlockAtY(const double *block, int N, double v, double *out);
void reduceBlockAtX(const double *block, int N, double u, double *out);
/* Direct evaluation of both polynomials at (x, y) of the frame. */
void evalGeorecPar(const GeorecPar &par, double x, double y, double *X, double *Y);

/*
 * A block of an image in frame coordinates: x of the last and the first
 * column, y of the first and the last row, the steps.  y falls by dy from
 * row to row.
 */
struct GeoFrame {
  double xLast, xFirst, yFirst, yLast, dx, dy;
};
/* An inclusive pixel rectangle in the image's own pixel coordinates. */
struct PixelBox {
  int left, top, right, bottom;
};

/*
 * The source box of the border of a frame block.  Results: 1; 0 when a
 * step is not positive or no border position was finite.  Bounds are
 * kept within +-2^29 so that sizes computed from them cannot overflow.
 */
int transformBounds(const GeorecPar &par, const GeoFrame &frame, PixelBox *box);
/* The frame of a block of the output and the source box behind it; the
   pixel count of the box, 0 when it has none. */
long long blockSourceBox(const GeorecPar &par, GeoFrame *frame, PixelBox *box,
                         const GeoFrame &outFrame, const PixelBox &outBox, const PixelBox &inBox,
                         int startRow, int startColumn, int rows, int columns, int clip);

}  // namespace vesk

#endif
