/*
 * fftfile.h --
 *     The FFT image file: a 1024-byte head (source, sizes, transform state
 *     and running statistics of the real and imaginary parts) followed by
 *     rows x columns complex samples, two host-order floats each.  The
 *     store opens it as a two-band FLOAT image interleaved by pixel; the
 *     FFT filtering module writes it block by block.
 */
#ifndef VESK_RASTER_FFTFILE_H
#define VESK_RASTER_FFTFILE_H

#include <math.h>
#include <stdint.h>
#include <string>

#include "raster/imghead.h"

struct BandHist;
struct RAMIMG;

namespace vesk {

inline constexpr int kFFTHeadSize = 1024;
inline constexpr int kFFTSourceSize = 64;

/* Transform states of the data: "RI" real and imaginary, "PP" power and
   phase; "SF" transformed to the frequency domain, "FS" back. */
enum FFTState {
  FFT_INIT, FFT_SFRI, FFT_SFPP, FFT_FSRI, FFT_FSPP, FFT_SFRIX, FFT_SFRIY, FFT_SFPPX, FFT_SFPPY
};

/* The head in memory; it is stored field by field in host byte order. */
struct FFTHead {
  char magic[16] = {};                 /* "FFT IMAGE FILE" */
  char source[kFFTSourceSize + 1] = {};  /* source image path, at most 64 characters */
  int32_t band = 0;                    /* source band; 0: palette indexes */
  int32_t rows = 0, columns = 0;       /* of the file, powers of 2 */
  int32_t sourceRows = 0, sourceColumns = 0;
  int32_t state = FFT_INIT;
  double count = 0;                    /* samples folded into the statistics */
  double reMax = 0, reMin = 0, imMax = 0, imMin = 0;
  double reMean = 0, imMean = 0;
  /* Mean of squares while the file is written, standard deviation once
     it is finished. */
  double reSquare = 0, imSquare = 0;
};

void initFFTHead(FFTHead *head, const char *source, int band, int sourceRows, int sourceColumns);
void encodeFFTHead(const FFTHead &head, unsigned char *bytes);
int decodeFFTHead(const unsigned char *bytes, int64_t size, FFTHead *head);

int parseFFTHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                   ImageHeader *header);
int readFFTHeader(int fd, ImageHeader *header, void **privateData);
int readFFTStats(int fd, BandHist *re, BandHist *im);
int getFFTHist(int fd, const ImageHeader *header, BandHist *re, BandHist *im);

int createFFTFile(const char *path, FFTHead *head, std::string *pending = nullptr);
int openFFTFile(const char *path, FFTHead *head);
int PutFFTHead(const FFTHead *head, int fd);
float *GetFFTFileBlock(const FFTHead *head, int fd, float *buffer, int firstRow, int rowCount);
/* GetFFTFileBlock without a message, for a worker thread: false when the
   rows are outside the file or the read falls short. */
bool readFFTFileRows(const FFTHead *head, int fd, float *buffer, int firstRow, int rowCount);
float *GetFFTFileSeg(const FFTHead *head, int fd, float *buffer, int firstColumn,
                     int columnCount);
/* startWriteback: the file is to be flushed to disk once written (a new
   file put in place when complete); its disk writes start piece by piece
   meanwhile, so the flush waits for less. */
int PutFFTFileBlock(FFTHead *head, int fd, const float *buffer, int firstRow, int rowCount,
                    int stats, bool startWriteback = false);
/* PutFFTFileBlock's write without statistics or a message, for a worker
   thread: false, with errno set, when it fails. */
bool writeFFTFileRows(const FFTHead *head, int fd, const float *buffer, int firstRow, int rowCount,
                      bool startWriteback);
/* Folds n complex samples into the head's extremes and running means. */
void updateFFTStats(FFTHead *head, int64_t n, const float *samples);

/*
 * What updateFFTStats takes from a run of samples before it folds them
 * into the head: their sums (of the real and imaginary parts and of their
 * squares, from the first sample on) and extremes.  Runs measured apart,
 * on any thread, and folded in their order give updateFFTStats' head.
 */
struct FFTStatsRun {
  int64_t n = 0;
  double sums[4] = {0, 0, 0, 0};
  double reMax = -HUGE_VAL, reMin = HUGE_VAL, imMax = -HUGE_VAL, imMin = HUGE_VAL;
};
/* Measures count runs of n samples each, run i at samples[i]. */
void measureFFTStats(FFTStatsRun *runs, int count, int64_t n, const float *const *samples);
void foldFFTStats(FFTHead *head, const FFTStatsRun &run);
int PutFFTFileSeg(FFTHead *head, int fd, const float *buffer, int firstColumn, int columnCount,
                  int stats);

void installFFTFormat();

}  // namespace vesk

#endif
