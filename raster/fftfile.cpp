/*
 * fftfile.cpp --
 *     The FFT image file: its head, the probe that opens it as a two-band
 *     FLOAT image, statistics kept in the head, and the block and segment
 *     I/O of the FFT filtering module.  Write failures are reported to the
 *     caller; the process is never ended.
 */
#include "raster/fftfile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <math.h>
#include <string.h>
#include <unistd.h>
#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "core/core.h"
#include "core/savefile.h"
#include "core/text.h"
#include "raster/bandstats.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

const char kFFTMagic[] = "FFT IMAGE FILE";  // compared with its terminator

/* perror's form through the library's error stream. */
void reportFFTError(const char *what, int error) {
  vesk_fprintf(stderr, "%s: %s\n", what, error ? strerror(error) : "short transfer");
}

bool readAll(int fd, void *to, int64_t length, int64_t offset) {
  unsigned char *into = static_cast<unsigned char *>(to);
  int64_t done = 0;
  errno = 0;
  while (done < length) {
    const ssize_t n = pread(fd, into + done, static_cast<size_t>(length - done), offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

/* Bytes written between the starts of the disk writes of a file to be flushed. */
constexpr int64_t kWritebackPiece = int64_t{4} << 20;

int64_t sampleOffset(const FFTHead *head, int64_t row, int64_t column) {
  return kFFTHeadSize + (row * head->columns + column) * 8;
}

bool validGeometry(const FFTHead *head) {
  return head->rows > 0 && head->columns > 0;
}

/* Rows firstRow .. firstRow + rowCount - 1 lie in the file, with a buffer for them. */
bool rowsInFile(const FFTHead *head, const float *buffer, int firstRow, int rowCount) {
  return buffer && validGeometry(head) && firstRow >= 0 && rowCount >= 0 &&
         rowCount <= head->rows - firstRow;
}

int32_t nextPowerOf2(int32_t n) {
  int32_t p = 1;
  while (p < n && p <= INT32_MAX / 2) p *= 2;
  return p;
}

/* Reads the head at offset 0 of an open file; false when it is not one. */
bool readFFTHead(int fd, FFTHead *head) {
  unsigned char bytes[kFFTHeadSize];
  if (!readAll(fd, bytes, kFFTHeadSize, 0)) return false;
  return decodeFFTHead(bytes, kFFTHeadSize, head) != 0;
}

/* The statistics hook of the store: band 0 real parts, band 1 imaginary. */
int fftHistOfImage(RAMIMG *image, BandHist *hist) {
  if (!image || !hist || image->header.nbands < 2) return 0;
  return getFFTHist(image->fd, &image->header, &hist[0], &hist[1]);
}

}  // namespace

/*
 * initFFTHead --
 *     A new head for a source image: file rows and columns are the source
 *     size rounded up to powers of 2; no samples yet (extremes at their
 *     infinities, means 0).
 */
void initFFTHead(FFTHead *head, const char *source, int band, int sourceRows,
                 int sourceColumns) {
  *head = FFTHead();
  memcpy(head->magic, kFFTMagic, sizeof kFFTMagic);
  if (source) strncpy(head->source, source, kFFTSourceSize);
  head->band = band;
  head->sourceRows = sourceRows;
  head->sourceColumns = sourceColumns;
  head->rows = nextPowerOf2(sourceRows);
  head->columns = nextPowerOf2(sourceColumns);
  head->count = 0;
  head->reMax = head->imMax = -HUGE_VAL;
  head->reMin = head->imMin = HUGE_VAL;
}

/* encodeFFTHead -- the 1024 bytes of a head, in host byte order. */
void encodeFFTHead(const FFTHead &head, unsigned char *bytes) {
  const bool msb = msbFirst() != 0;
  memset(bytes, 0, kFFTHeadSize);
  memcpy(bytes, head.magic, 16);
  memcpy(bytes + 16, head.source, strnlen(head.source, kFFTSourceSize));
  const int32_t ints[] = {head.band,      head.rows,          head.columns,
                          head.sourceRows, head.sourceColumns, head.state};
  for (int i = 0; i < 6; i++) putU32(bytes + 80 + 4 * i, static_cast<uint32_t>(ints[i]), msb);
  const double doubles[] = {head.count,  head.reMax,  head.reMin,    head.imMax,   head.imMin,
                            head.reMean, head.imMean, head.reSquare, head.imSquare};
  for (int i = 0; i < 9; i++) putF64(bytes + 104 + 8 * i, doubles[i], msb);
}

/*
 * decodeFFTHead --
 *     Reads a head from its bytes.
 * Results:      1 when the bytes hold a whole head with the magic (through
 *     its terminator), else 0.
 */
int decodeFFTHead(const unsigned char *bytes, int64_t size, FFTHead *head) {
  if (size < kFFTHeadSize || memcmp(bytes, kFFTMagic, sizeof kFFTMagic) != 0) return 0;
  const bool msb = msbFirst() != 0;
  *head = FFTHead();
  memcpy(head->magic, bytes, 16);
  head->magic[15] = 0;
  memcpy(head->source, bytes + 16, kFFTSourceSize);
  head->source[kFFTSourceSize] = 0;
  int32_t *ints[] = {&head->band,       &head->rows,          &head->columns,
                     &head->sourceRows, &head->sourceColumns, &head->state};
  for (int i = 0; i < 6; i++) *ints[i] = getI32(bytes + 80 + 4 * i, msb);
  double *doubles[] = {&head->count,  &head->reMax,  &head->reMin,    &head->imMax,   &head->imMin,
                       &head->reMean, &head->imMean, &head->reSquare, &head->imSquare};
  for (int i = 0; i < 9; i++) *doubles[i] = getF64(bytes + 104 + 8 * i, msb);
  return 1;
}

/*
 * parseFFTHeader --
 *     The FFT probe's core over the file's first bytes: a two-band FLOAT
 *     image interleaved by pixel, data at 1024.  A head whose sizes are
 *     not positive, or whose samples the file does not hold, is not taken.
 * Results:      IMG_FFT, or 0.
 */
int parseFFTHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                   ImageHeader *header) {
  FFTHead head;
  if (!decodeFFTHead(buffer, size, &head) || !validGeometry(&head)) return 0;
  const int64_t block = int64_t{head.columns} * 8;
  if (!extentFits(kFFTHeadSize, block, head.rows, fileSize)) return 0;
  header->pixelid = P_FLOAT;
  header->imgid = IMG_FFT;
  header->mapid = MAPID_GRID;
  header->offset = kFFTHeadSize;
  header->block = block;
  header->top = header->left = 0;
  header->rows = head.rows;
  header->columns = head.columns;
  header->bits = 32;
  header->nbands = 2;
  header->msbf = msbFirst();
  header->nindices = 0;
  header->transparent = -1;
  header->x0 = header->y0 = 0;
  header->dx = header->dy = 1.0;
  return IMG_FFT;
}

/*
 * readFFTHeader --
 *     The sniffer's FFT probe.
 * Results:      IMG_FFT when the file is an FFT image file, else 0.
 * Side effects: fills the header; *privateData gets a copy of the
 *     1024-byte head (gmemAlloc).
 */
int readFFTHeader(int fd, ImageHeader *header, void **privateData) {
  unsigned char bytes[kFFTHeadSize];
  int64_t fileSize = 0;
  const int64_t got = readFilePrefix(fd, bytes, kFFTHeadSize, &fileSize);
  if (got < kFFTHeadSize) return 0;
  ImageHeader filled = *header;
  if (!parseFFTHeader(bytes, got, fileSize, &filled)) return 0;
  *header = filled;
  if (privateData) {
    void *copy = gmemAlloc(kFFTHeadSize);
    memcpy(copy, bytes, kFFTHeadSize);
    *privateData = copy;
  }
  return IMG_FFT;
}

/*
 * readFFTStats --
 *     Statistics of a finished FFT file from its head: the real parts into
 *     `re`, the imaginary parts into `im` (sums from mean, deviation and
 *     count).
 * Results:      1, or 0 when the head cannot be read.
 */
int readFFTStats(int fd, BandHist *re, BandHist *im) {
  FFTHead head;
  if (!readFFTHead(fd, &head)) return 0;
  const double means[2] = {head.reMean, head.imMean};
  const double deviations[2] = {head.reSquare, head.imSquare};
  const double mins[2] = {head.reMin, head.imMin};
  const double maxs[2] = {head.reMax, head.imMax};
  BandHist *hists[2] = {re, im};
  for (int i = 0; i < 2; i++) {
    BandHist *h = hists[i];
    if (!h) continue;
    h->count = head.count;
    h->sum = means[i] * head.count;
    h->sumSq = (deviations[i] * deviations[i] + means[i] * means[i]) * head.count;
    h->min = mins[i];
    h->max = maxs[i];
  }
  return 1;
}

/*
 * getFFTHist --
 *     Band statistics of an FFT image from its file's head.
 * Results:      1 for an FFT image whose head was read, else 0 (the
 *     caller then scans the pixels).
 */
int getFFTHist(int fd, const ImageHeader *header, BandHist *re, BandHist *im) {
  if (!header || header->imgid != IMG_FFT || fd < 0) return 0;
  return readFFTStats(fd, re, im);
}

/*
 * measureFFTStats --
 *     The sums and extremes of runs of samples.  On AVX2 machines four
 *     runs go side by side, each sum still taken sample after sample.
 */
namespace {

void measureRun(FFTStatsRun *run, int64_t n, const float *samples) {
  double sums[4] = {0, 0, 0, 0};
  for (int64_t i = 0; i < n; i++) {
    const double re = samples[2 * i], im = samples[2 * i + 1];
    if (re > run->reMax) run->reMax = re;
    if (re < run->reMin) run->reMin = re;
    if (im > run->imMax) run->imMax = im;
    if (im < run->imMin) run->imMin = im;
    sums[0] += re;
    sums[1] += im;
    sums[2] += re * re;
    sums[3] += im * im;
  }
  run->n = n;
  for (int k = 0; k < 4; k++) run->sums[k] = sums[k];
}

#if defined(__x86_64__) && defined(__GNUC__)
/* Four runs: a vector holds the (real, imaginary) pairs of two.  max and
   min keep the old value unless the new one is greater (less), as the
   comparisons above do, so the extremes are the same. */
__attribute__((target("arch=x86-64-v3")))
void measureFourRuns(FFTStatsRun *runs, int64_t n, const float *const *samples) {
  const float *p0 = samples[0], *p1 = samples[1], *p2 = samples[2], *p3 = samples[3];
  __m256d sumA = _mm256_setzero_pd(), sumB = sumA, sqA = sumA, sqB = sumA;
  __m256d maxA = _mm256_set1_pd(-HUGE_VAL), maxB = maxA, minA = _mm256_set1_pd(HUGE_VAL), minB = minA;
  for (int64_t i = 0; i < n; i++) {
    double pairs[4];  /* the (real, imaginary) floats of a sample of each run */
    memcpy(&pairs[0], p0 + 2 * i, 8);
    memcpy(&pairs[1], p1 + 2 * i, 8);
    memcpy(&pairs[2], p2 + 2 * i, 8);
    memcpy(&pairs[3], p3 + 2 * i, 8);
    const __m128d a = _mm_set_pd(pairs[1], pairs[0]), b = _mm_set_pd(pairs[3], pairs[2]);
    const __m256d x = _mm256_cvtps_pd(_mm_castpd_ps(a)), y = _mm256_cvtps_pd(_mm_castpd_ps(b));
    maxA = _mm256_max_pd(x, maxA);
    minA = _mm256_min_pd(x, minA);
    maxB = _mm256_max_pd(y, maxB);
    minB = _mm256_min_pd(y, minB);
    sumA = _mm256_add_pd(sumA, x);
    sumB = _mm256_add_pd(sumB, y);
    sqA = _mm256_add_pd(sqA, _mm256_mul_pd(x, x));
    sqB = _mm256_add_pd(sqB, _mm256_mul_pd(y, y));
  }
  double v[8][4];
  _mm256_storeu_pd(v[0], sumA);
  _mm256_storeu_pd(v[1], sumB);
  _mm256_storeu_pd(v[2], sqA);
  _mm256_storeu_pd(v[3], sqB);
  _mm256_storeu_pd(v[4], maxA);
  _mm256_storeu_pd(v[5], maxB);
  _mm256_storeu_pd(v[6], minA);
  _mm256_storeu_pd(v[7], minB);
  for (int r = 0; r < 4; r++) {
    const int half = r / 2, at = 2 * (r % 2);
    FFTStatsRun &run = runs[r];
    run.n = n;
    run.sums[0] = v[half][at];
    run.sums[1] = v[half][at + 1];
    run.sums[2] = v[2 + half][at];
    run.sums[3] = v[2 + half][at + 1];
    run.reMax = v[4 + half][at];
    run.imMax = v[4 + half][at + 1];
    run.reMin = v[6 + half][at];
    run.imMin = v[6 + half][at + 1];
  }
}

bool haveAvx2() {
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v3") != 0;
  }();
  return avx2;
}
#endif

}  // namespace

void measureFFTStats(FFTStatsRun *runs, int count, int64_t n, const float *const *samples) {
  int i = 0;
#if defined(__x86_64__) && defined(__GNUC__)
  if (n > 0 && haveAvx2())
    for (; i + 4 <= count; i += 4) measureFourRuns(runs + i, n, samples + i);
#endif
  for (; i < count; i++) {
    runs[i] = FFTStatsRun();
    if (n > 0 && samples[i]) measureRun(&runs[i], n, samples[i]);
  }
}

/*
 * foldFFTStats --
 *     Folds a measured run into the head's extremes and running means (of
 *     the parts and of their squares).
 */
void foldFFTStats(FFTHead *head, const FFTStatsRun &run) {
  if (run.n <= 0) return;
  if (run.reMax > head->reMax) head->reMax = run.reMax;
  if (run.reMin < head->reMin) head->reMin = run.reMin;
  if (run.imMax > head->imMax) head->imMax = run.imMax;
  if (run.imMin < head->imMin) head->imMin = run.imMin;
  const double before = head->count;
  const double after = before + static_cast<double>(run.n);
  double *means[4] = {&head->reMean, &head->imMean, &head->reSquare, &head->imSquare};
  for (int k = 0; k < 4; k++) *means[k] = *means[k] * before / after + run.sums[k] / after;
  head->count = after;
}

/*
 * updateFFTStats --
 *     Folds n samples (real, imaginary pairs) into the head's extremes and
 *     running means (of the parts and of their squares).
 */
void updateFFTStats(FFTHead *head, int64_t n, const float *samples) {
  if (n <= 0 || !samples) return;
  FFTStatsRun run;
  measureFFTStats(&run, 1, n, &samples);
  foldFFTStats(head, run);
}

/*
 * createFFTFile --
 *     Creates an FFT file for a head (its rows and columns set): the head
 *     and a zero body of the whole size.  The disk space for the whole
 *     file is checked first, and the file is built beside the path and
 *     renamed over it once complete, so a refusal or a failure leaves an
 *     existing file as it was.
 *     With pending, the file is left under its temporary name (given in
 *     *pending) for the caller to rename once it has filled it.
 * Results:      a descriptor open for reading and writing, or -1.
 * Side effects: the head is read back from the file.
 */
int createFFTFile(const char *path, FFTHead *head, std::string *pending) {
  if (!path || !head || !validGeometry(head)) return -1;
  const int64_t need = kFFTHeadSize + int64_t{head->rows} * head->columns * 8;
  const double available = getPathDiskFree(path);
  if (static_cast<double>(need) > available) {
    vesk_fprintf(stderr, "Insufficient disk space.\n");
    vesk_fprintf(stderr, "Rquest: %ld  Available: %ld\n", static_cast<long>(need),
                 static_cast<long>(available));
    return -1;
  }
  unsigned char bytes[kFFTHeadSize];
  encodeFFTHead(*head, bytes);
  SaveFile file;
  if (file.open(path) && file.writeAt(bytes, kFFTHeadSize, 0) &&
      ftruncate(file.fd(), static_cast<off_t>(need)) != 0)
    file.fail(errno);
  if (pending) {
    *pending = file.release();
    if (pending->empty()) {
      reportFFTError(path, file.error() ? file.error() : EINVAL);
      return -1;
    }
    return openFFTFile(pending->c_str(), head);
  }
  if (!file.commit()) {
    reportFFTError(path, file.error());
    return -1;
  }
  return openFFTFile(path, head);
}

/*
 * openFFTFile --
 *     Opens an FFT file for reading and writing and reads its head.
 * Results:      the descriptor, or -1 (with a message).
 */
int openFFTFile(const char *path, FFTHead *head) {
  const int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    reportFFTError(path, errno);
    return -1;
  }
  unsigned char bytes[kFFTHeadSize];
  if (!readAll(fd, bytes, kFFTHeadSize, 0)) {
    reportFFTError(path, errno);
    close(fd);
    return -1;
  }
  if (!decodeFFTHead(bytes, kFFTHeadSize, head)) {
    vesk_fprintf(stderr, "Not an FFT image file!\n");
    close(fd);
    return -1;
  }
  return fd;
}

/* PutFFTHead -- writes the head at offset 0.  Results: 0, or -1 with a message. */
int PutFFTHead(const FFTHead *head, int fd) {
  unsigned char bytes[kFFTHeadSize];
  encodeFFTHead(*head, bytes);
  errno = 0;
  if (writeFileAt(fd, bytes, kFFTHeadSize, 0)) return 0;
  reportFFTError("PutFFTHead", errno);
  return -1;
}

/*
 * GetFFTFileBlock --
 *     Reads rows firstRow .. firstRow + rowCount - 1 whole (two floats a
 *     sample) into the buffer.
 * Results:      the buffer, or null with a message for rows outside the
 *     file or a read that falls short.
 */
float *GetFFTFileBlock(const FFTHead *head, int fd, float *buffer, int firstRow, int rowCount) {
  if (!rowsInFile(head, buffer, firstRow, rowCount)) {
    reportFFTError("lseek error in GetFFTFileBlock", EINVAL);
    return nullptr;
  }
  if (!readFFTFileRows(head, fd, buffer, firstRow, rowCount)) {
    reportFFTError("read error in GetFFTFileBlock", errno);
    return nullptr;
  }
  return buffer;
}

bool readFFTFileRows(const FFTHead *head, int fd, float *buffer, int firstRow, int rowCount) {
  if (!rowsInFile(head, buffer, firstRow, rowCount)) return false;
  return readAll(fd, buffer, int64_t{rowCount} * head->columns * 8, sampleOffset(head, firstRow, 0));
}

/*
 * GetFFTFileSeg --
 *     Reads columns firstColumn .. firstColumn + columnCount - 1 of every
 *     row, stored row after row.
 * Results:      the buffer, or null with a message.
 */
float *GetFFTFileSeg(const FFTHead *head, int fd, float *buffer, int firstColumn,
                     int columnCount) {
  if (!buffer || !validGeometry(head) || firstColumn < 0 || columnCount < 0 ||
      columnCount > head->columns - firstColumn) {
    reportFFTError("lseek error in GetFFTFileSeg", EINVAL);
    return nullptr;
  }
  for (int64_t row = 0; row < head->rows; row++) {
    if (!readAll(fd, buffer + row * columnCount * 2, int64_t{columnCount} * 8,
                 sampleOffset(head, row, firstColumn))) {
      reportFFTError("read error in GetFFTFileSeg", errno);
      return nullptr;
    }
  }
  return buffer;
}

/*
 * PutFFTFileBlock --
 *     Writes whole rows; with stats set their samples are folded into the
 *     head's statistics first.
 * Results:      0, or -1 with a message (rows outside the file, a write
 *     that falls short).
 */
int PutFFTFileBlock(FFTHead *head, int fd, const float *buffer, int firstRow, int rowCount,
                    int stats, bool startWriteback) {
  if (!rowsInFile(head, buffer, firstRow, rowCount)) {
    reportFFTError("lseek error in PutFFTFileBlock", EINVAL);
    return -1;
  }
  if (stats) updateFFTStats(head, int64_t{rowCount} * head->columns, buffer);
  if (!writeFFTFileRows(head, fd, buffer, firstRow, rowCount, startWriteback)) {
    reportFFTError("write error in PutFFTFileBlock", errno);
    return -1;
  }
  return 0;
}

bool writeFFTFileRows(const FFTHead *head, int fd, const float *buffer, int firstRow, int rowCount,
                      bool startWriteback) {
  errno = 0;
  if (!rowsInFile(head, buffer, firstRow, rowCount)) {
    errno = EINVAL;
    return false;
  }
  const int64_t length = int64_t{rowCount} * head->columns * 8, offset = sampleOffset(head, firstRow, 0);
  const int64_t piece = startWriteback ? kWritebackPiece : std::max<int64_t>(length, 1);
  for (int64_t done = 0; done < length; done += piece) {
    const int64_t part = std::min(piece, length - done);
    errno = 0;
    if (!writeFileAt(fd, reinterpret_cast<const unsigned char *>(buffer) + done, part, offset + done))
      return false;
#ifdef SYNC_FILE_RANGE_WRITE
    /* a hint: a failure shows in the flush */
    if (startWriteback) sync_file_range(fd, offset + done, part, SYNC_FILE_RANGE_WRITE);
#endif
  }
  return true;
}

/*
 * PutFFTFileSeg --
 *     Writes the given columns of every row from a buffer stored row after
 *     row; with stats set the whole segment is folded first, row by row.
 * Results:      0, or -1 with a message.
 */
int PutFFTFileSeg(FFTHead *head, int fd, const float *buffer, int firstColumn, int columnCount,
                  int stats) {
  if (!buffer || !validGeometry(head) || firstColumn < 0 || columnCount < 0 ||
      columnCount > head->columns - firstColumn) {
    reportFFTError("lseek error in PutFFTFileSeg", EINVAL);
    return -1;
  }
  if (stats) {
    /* row by row, four rows measured at a time */
    for (int64_t row = 0; row < head->rows; row += 4) {
      const int count = static_cast<int>(std::min<int64_t>(4, head->rows - row));
      const float *rows[4];
      for (int k = 0; k < count; k++) rows[k] = buffer + (row + k) * columnCount * 2;
      FFTStatsRun runs[4];
      measureFFTStats(runs, count, columnCount, rows);
      for (int k = 0; k < count; k++) foldFFTStats(head, runs[k]);
    }
  }
  for (int64_t row = 0; row < head->rows; row++) {
    errno = 0;
    if (!writeFileAt(fd, buffer + row * columnCount * 2, int64_t{columnCount} * 8,
                     sampleOffset(head, row, firstColumn))) {
      reportFFTError("write error in PutFFTFileSeg", errno);
      return -1;
    }
  }
  return 0;
}

/* installFFTFormat -- FFT images take their statistics from the head. */
void installFFTFormat() {
  rasterHooks().getFFTHist = fftHistOfImage;
}

}  // namespace vesk
