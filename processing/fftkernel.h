/*
 * fftkernel.h --
 *     Radix-2 FFT on interleaved float pairs with twiddle tables, row and
 *     column passes that centre the spectrum, the power/phase conversions
 *     and the nine frequency filters of "rimage gfftrans".
 */
#ifndef VESK_PROCESSING_FFTKERNEL_H
#define VESK_PROCESSING_FFTKERNEL_H

#include <stddef.h>
#include <vector>

namespace vesk {

/* cos and sin of 2 pi direction / i for i = 1 .. n, element i - 1. */
void fftTwiddles(int n, int direction, double *cosines, double *sines);

/*
 * The twiddles of every stage of an n-point transform, taken from the
 * tables by the double recurrence w = w (cos + i sin) once per pass
 * instead of once per transform.  Stage h (1, 2, 4 ... n/2) holds h
 * pairs starting at pair h - 1.
 */
struct FftPlan {
  int n = 0;
  int direction = 1;
  std::vector<double> twiddles;  /* re, im pairs */
  std::vector<double> twr, twi;  /* the same, real and imaginary parts apart */
  std::vector<int> reversed;     /* bit-reversed index of each sample */
};
void fftPlan(FftPlan *plan, int n, int direction, const double *cosines, const double *sines);

/* In place on n complex samples; the inverse divides by n. */
void fftRadix2(int n, float *data, int direction, const double *cosines, const double *sines);
void fftRadix2Planned(const FftPlan &plan, float *data);

/*
 * Every row (or column) of a block, in place, with the half-period
 * rotation that puts the zero frequency at n/2.  Results: 1.  The
 * columns' rows lie stride floats apart (0: 2 x ncols, one after another).
 */
int fftRows(float *block, const FftPlan &plan, int nrows);
/* fftRows from rows that stay as they are (a mapped file's) into block. */
int fftRowsFrom(const float *source, float *block, const FftPlan &plan, int nrows);
int fftColumns(float *block, const FftPlan &plan, int ncols, size_t stride = 0);

/* The vector lanes fftRows and fftColumns use at most: 8, 4 or 0 (the
   radix-2 loops); -1: the machine's widest (the default).  Every width
   gives the same samples; the tests compare them.  Results: the width in
   use before. */
int fftVectorLanes(int lanes);

void fftToPolar(float *samples, long long n);
void fftToRect(float *samples, long long n);

/* The filter record. */
struct FftFilter {
  int rows = 0, columns = 0;       /* of the file */
  double angle = 0;                /* degrees */
  float cx = 0, cy = 0;            /* centre column and row */
  float r = 0, n = 0, r1 = 0, r2 = 0, amplitude = 0;
  int powerPhase = 0;              /* 1: scale the first float of each sample only */
};

typedef void FftFilterProc(const FftFilter *filter, float *block, int col0, int ncols, int row0,
                           int nrows);
FftFilterProc bellFilter2D, bellFilterX, bellFilterY;
FftFilterProc highFilter2D, highFilterX, highFilterY;
FftFilterProc notchFilter2D, notchFilterX, notchFilterY;
/* A notch pair whose ellipses keep to the axes whatever the angle. */
FftFilterProc notchFilterAligned;
/* Indexed by family (0 bell, 1 high, 2 notch) x 3 + variant (0 2-D, 1 X, 2 Y). */
extern FftFilterProc *const fftFilterProcs[9];

}  // namespace vesk

#endif
