/*
 * georecpar.h --
 *     The georectification parameter file "GOERECHD": the centre of the
 *     input frame, the means of the two fitted values and the row and
 *     column polynomials.  Little-endian, no padding, 48 + 16n bytes.
 */
#ifndef VESK_PROCESSING_GEORECPAR_H
#define VESK_PROCESSING_GEORECPAR_H

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

}  // namespace vesk

#endif
