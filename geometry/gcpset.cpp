/*
 * gcpset.cpp --
 *     Ground control point sets: records, the least-squares polynomials of
 *     the target position in the source position, residuals and errors,
 *     the rectification parameter file of a fit and the GCPOBJ file.
 */
#include "geometry/gcpset.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "core/numeric.h"
#include "core/savefile.h"
#include "processing/georecpar.h"
#include "vesk/stdio.h"
#include "vesk/vesk.h"

namespace vesk {
namespace {

constexpr char kGcpMagic[] = "GCPOBJ";
constexpr size_t kGcpMagicSize = 6;
constexpr size_t kGcpHeadSize = 18;
constexpr size_t kGcpFileRecordSize = 48;

/* ---- little-endian fields of the GCPOBJ file ---- */

void putInt32(std::vector<unsigned char> &out, int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; i++) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

void putDouble(std::vector<unsigned char> &out, double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; i++) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

void putFloat(std::vector<unsigned char> &out, float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 4; i++) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

int32_t getInt32(const unsigned char *p) {
  uint32_t bits = 0;
  for (int i = 3; i >= 0; i--) bits = (bits << 8) | p[i];
  return static_cast<int32_t>(bits);
}

double getDouble(const unsigned char *p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; i--) bits = (bits << 8) | p[i];
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

float getFloat(const unsigned char *p) {
  uint32_t bits = static_cast<uint32_t>(getInt32(p));
  float value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

/* Reads up to size bytes; the count read, short only at the end or on error. */
size_t readFully(int fd, unsigned char *buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t r = read(fd, buffer + done, size - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

double *copyDoubles(const double *source, int n, const char *label) {
  double *copy = static_cast<double *>(memAlloc(n * static_cast<int>(sizeof(double)), label));
  if (copy && source) memcpy(copy, source, sizeof(double) * static_cast<size_t>(n));
  return copy;
}

/* Formats coefficient k of one polynomial, the mean added to the constant. */
char *formatCoefficients(const double *coef, double mean, int n, const char *format,
                         char *buffer) {
  char scratch[256];
  buffer[0] = 0;
  size_t length = 0;
  for (int k = 0; k < n; k++) {
    snprintf(scratch, sizeof scratch, format, k == 0 ? mean + coef[0] : coef[k]);
    if (k > 0) buffer[length++] = ' ';
    size_t add = strlen(scratch);
    memcpy(buffer + length, scratch, add + 1);
    length += add;
  }
  return buffer;
}

}  // namespace

int gcpTermCount(int power) {
  if (power < 0) return 0;
  /* Far beyond what 300 records can fit; keeps the count from overflowing. */
  if (power > 1000) return 1 << 20;
  return power == 0 ? 4 : power * (power + 3) / 2 + 1;
}

/*
 * createGcpSet --
 *     An empty set of 300 zeroed slots, or a copy of source: its records,
 *     counters, means, errors and fit (new arrays).  The copy is not
 *     modified; the editor's line and words are not copied.
 * Results:      the set, NULL when memory runs out.
 */
GCPOBJ *createGcpSet(const GCPOBJ *source) {
  GCPOBJ *set = static_cast<GCPOBJ *>(gmemAlloc(static_cast<int>(sizeof(GCPOBJ))));
  if (!set) return nullptr;
  memset(set, 0, sizeof *set);
  set->records = static_cast<GcpRecord *>(
      gmemAlloc(static_cast<int>(sizeof(GcpRecord)) * kGcpCapacity));
  if (!set->records) {
    gmemFree(set);
    return nullptr;
  }
  memset(static_cast<void *>(set->records), 0, sizeof(GcpRecord) * kGcpCapacity);
  set->capacity = kGcpCapacity;
  set->running = 1;
  strcpy(set->helpFile, "/geocalc.hlp");
  if (!source) return set;

  int count = source->count < 0 ? 0 : source->count > kGcpCapacity ? kGcpCapacity : source->count;
  memcpy(static_cast<void *>(set->records), source->records, sizeof(GcpRecord) * static_cast<size_t>(count));
  set->count = count;
  set->current = source->current;
  set->running = source->running;
  set->lineLength = source->lineLength;
  set->wordCount = source->wordCount;
  set->power = source->power;
  set->meanX1 = source->meanX1;
  set->meanY1 = source->meanY1;
  set->meanY2 = source->meanY2;
  set->meanX2 = source->meanX2;
  set->MSRJ = source->MSRJ;
  set->MSRI = source->MSRI;
  set->MSR = source->MSR;
  if (source->termCount > 0 && source->Icoef && source->Jcoef && source->xy) {
    int n = source->termCount;
    set->Icoef = copyDoubles(source->Icoef, n, "Icoef");
    set->Jcoef = copyDoubles(source->Jcoef, n, "Jcoef");
    set->xy = copyDoubles(source->xy, n + 2, "xy");
    if (set->Icoef && set->Jcoef && set->xy) set->termCount = n;
    else freeGcpFit(set);
  }
  return set;
}

/* freeGcpSet -- frees the fit, the records and the set. */
void freeGcpSet(GCPOBJ *set) {
  if (!set) return;
  freeGcpFit(set);
  gmemFree(set->records);
  gmemFree(set);
}

/* freeGcpFit -- drops the fit: the three arrays go, termCount becomes 0. */
void freeGcpFit(GCPOBJ *set) {
  gmemFree(set->xy);
  gmemFree(set->Icoef);
  gmemFree(set->Jcoef);
  set->xy = set->Icoef = set->Jcoef = nullptr;
  set->termCount = 0;
}

/*
 * parseGcpRecord --
 *     Appends "selected id x1 y1 x2 y2" read from text.
 * Results:      the new count; 0 after "GCP number overflow.\n" or
 *               "Invalid record:\n%s".
 */
int parseGcpRecord(GCPOBJ *set, const char *text) {
  if (set->count >= set->capacity) {
    vesk_fprintf(stderr, "GCP number overflow.\n");
    return 0;
  }
  GcpRecord record;
  if (!text || sscanf(text, "%d %d %lf %lf %lf %lf", &record.selected, &record.id, &record.x1,
                      &record.y1, &record.x2, &record.y2) != 6) {
    vesk_fprintf(stderr, "Invalid record:\n%s", text ? text : "");
    return 0;
  }
  set->records[set->count++] = record;
  set->modified = 1;
  return set->count;
}

int formatGcpResidual(const GCPOBJ *set, int i, char *buffer) {
  if (i < 0 || i >= set->count) return 0;
  const GcpRecord &r = set->records[i];
  sprintf(buffer, "%d %.3f %.3f", r.id, static_cast<double>(r.dx), static_cast<double>(r.dy));
  return 1;
}

/* gcpTerms -- the xy vector: the terms of the fit at (x, y), centred on the input means. */
void gcpTerms(GCPOBJ *set, double x, double y) {
  set->xy[0] = 1;
  set->xy[1] = x - set->meanX1;
  set->xy[2] = y - set->meanY1;
  makePolyTerms(set->xy, set->power);
}

/*
 * solveGcpPolynomial --
 *     The least-squares coefficients of x2 and y2 over the selected
 *     records, with the means; residuals and errors are the caller's.
 *     The new fit replaces the old only once it is made: when too few
 *     records are selected, when they do not determine the terms (all on
 *     one line, say) or when memory runs out, the set is left as it was.
 * Results:      1 solved; 0 after "Not enough GCPs !" or memAlloc's message.
 */
int solveGcpPolynomial(GCPOBJ *set, int power) {
  const int n = gcpTermCount(power);
  if (n < 1) return 0;
  int selected = 0;
  double mean[4] = {0, 0, 0, 0};
  for (int i = 0; i < set->count; i++) {
    const GcpRecord &r = set->records[i];
    if (!r.selected) continue;
    selected++;
    mean[0] += r.x1;
    mean[1] += r.y1;
    mean[2] += r.x2;
    mean[3] += r.y2;
  }
  if (selected < n) {
    vesk_fprintf(stderr, "Not enough GCPs !");
    return 0;
  }
  for (double &m : mean) m /= selected;

  double *Jcoef = static_cast<double *>(memAlloc(n * static_cast<int>(sizeof(double)), "Jcoef"));
  double *Icoef = static_cast<double *>(memAlloc(n * static_cast<int>(sizeof(double)), "Icoef"));
  double *xy = static_cast<double *>(memAlloc((n + 2) * static_cast<int>(sizeof(double)), "xy"));
  double *sums = static_cast<double *>(memAlloc((n + 2) * static_cast<int>(sizeof(double)), "sumptr"));
  double *cov = static_cast<double *>(
      memAlloc((n + 1) * (n + 1) * static_cast<int>(sizeof(double)), "covptr"));
  int status = NUMERIC_NO_MEMORY;
  if (Jcoef && Icoef && xy && sums && cov) {
    for (int i = 0; i < set->count; i++) {
      const GcpRecord &r = set->records[i];
      if (!r.selected) continue;
      xy[0] = 1;
      xy[1] = r.x1 - mean[0];
      xy[2] = r.y1 - mean[1];
      makePolyTerms(xy, power);
      accumObservation(r.x2 - mean[2], r.y2 - mean[3], n + 1, cov, sums, xy);
    }
    status = solveRegression2(Jcoef, Icoef, cov, sums, n + 1);
    if (status == NUMERIC_SINGULAR || status == NUMERIC_BAD_SIZE)
      vesk_fprintf(stderr, "Not enough GCPs !");
  }
  gmemFree(sums);
  gmemFree(cov);
  if (status != NUMERIC_OK) {
    gmemFree(Jcoef);
    gmemFree(Icoef);
    gmemFree(xy);
    return 0;
  }
  freeGcpFit(set);
  set->Jcoef = Jcoef;
  set->Icoef = Icoef;
  set->xy = xy;
  set->termCount = n;
  set->power = power;
  set->meanX1 = mean[0];
  set->meanY1 = mean[1];
  set->meanX2 = mean[2];
  set->meanY2 = mean[3];
  set->modified = 1;
  return 1;
}

/*
 * fitGcpPolynomial --
 *     Fits x2 and y2 as polynomials of the given power in the centred x1,
 *     y1 over the selected records; every record gets its residuals
 *     (unselected ones serve as check points) and the selected ones give
 *     the root-mean-square errors.
 * Results:      1 on success; 0 with the set unchanged.
 */
int fitGcpPolynomial(GCPOBJ *set, int power) {
  if (!solveGcpPolynomial(set, power)) return 0;
  const int n = set->termCount;
  double sumX = 0, sumY = 0;
  int selected = 0;
  for (int i = 0; i < set->count; i++) {
    GcpRecord &r = set->records[i];
    gcpTerms(set, r.x1, r.y1);
    double dx = (r.x2 - set->meanX2) - dotProduct(set->Jcoef, set->xy, n);
    double dy = (r.y2 - set->meanY2) - dotProduct(set->Icoef, set->xy, n);
    r.dx = static_cast<float>(dx);
    r.dy = static_cast<float>(dy);
    if (!r.selected) continue;
    selected++;
    sumX += dx * dx;
    sumY += dy * dy;
  }
  set->MSRJ = sqrt(sumX / selected);
  set->MSRI = sqrt(sumY / selected);
  set->MSR = sqrt((sumX + sumY) / selected);
  return 1;
}

/*
 * evalGcpPolynomial --
 *     The held fit at (x, y): *y2 first, then *x2.
 * Results:      1; 0 with nothing stored when no fit is held.
 */
int evalGcpPolynomial(GCPOBJ *set, double x, double y, double *y2, double *x2) {
  if (!set->xy || set->termCount <= 0) return 0;
  gcpTerms(set, x, y);
  *y2 = set->meanY2 + dotProduct(set->Icoef, set->xy, set->termCount);
  *x2 = set->meanX2 + dotProduct(set->Jcoef, set->xy, set->termCount);
  return 1;
}

int gcpCoefBufferSize(const GCPOBJ *set) {
  /* The errors are three numbers; a fit has at least three terms. */
  int n = set->termCount > 3 ? set->termCount : 3;
  return n * 256 + 1;
}

char *formatJcoef(const GCPOBJ *set, const char *format, char *buffer) {
  return formatCoefficients(set->Jcoef, set->meanX2, set->termCount, format, buffer);
}

char *formatIcoef(const GCPOBJ *set, const char *format, char *buffer) {
  return formatCoefficients(set->Icoef, set->meanY2, set->termCount, format, buffer);
}

char *formatGcpErrors(const GCPOBJ *set, const char *format, char *buffer) {
  const double values[3] = {set->MSRJ, set->MSRI, set->MSR};
  return formatCoefficients(values, 0, 3, format, buffer);
}

/*
 * saveGcpFunction --
 *     Writes the held fit as a georectification parameter file: the input
 *     centre, the Y2 polynomial (row) and the X2 polynomial (column) with
 *     their means added to the constant terms.
 * Results:      1 written, 0 not (no fit held, or the writer's message).
 */
int saveGcpFunction(const GCPOBJ *set, const char *path) {
  if (set->termCount <= 0 || !set->Icoef || !set->Jcoef) return 0;
  return writeGeorecPar(path, set->meanX1, set->meanY1, set->meanX2, set->meanY2, set->termCount,
                        set->power, set->Icoef, set->Jcoef);
}

int findGcpById(const GCPOBJ *set, int id, int *index) {
  for (int i = 0; i < set->count; i++) {
    if (set->records[i].id == id) {
      *index = i;
      return 1;
    }
  }
  *index = set->count;
  return 0;
}

/* deleteGcpAt -- removes record index; later records move down one place. */
void deleteGcpAt(GCPOBJ *set, int index) {
  if (index < 0 || index >= set->count) return;
  memmove(static_cast<void *>(set->records + index), set->records + index + 1,
          sizeof(GcpRecord) * static_cast<size_t>(set->count - index - 1));
  set->count--;
  set->modified = 1;
  if (set->current >= set->count) set->current--;
  if (set->current < 0) set->current = 0;
}

/* exchangeGcpPoints -- swaps source and target of every record; the fit goes. */
void exchangeGcpPoints(GCPOBJ *set) {
  for (int i = 0; i < set->count; i++) {
    GcpRecord &r = set->records[i];
    double x = r.x1, y = r.y1;
    r.x1 = r.x2;
    r.y1 = r.y2;
    r.x2 = x;
    r.y2 = y;
  }
  freeGcpFit(set);
  set->modified = 1;
}

/*
 * writeGcpFile --
 *     Writes the set as a GCPOBJ file.  The bytes go to a temporary file
 *     that replaces the path only once it is whole.
 * Results:      1, the modified flag cleared; 0 after the system's error
 *               for the path, the path left as it was.
 */
int writeGcpFile(GCPOBJ *set, const char *path) {
  std::vector<unsigned char> bytes;
  bytes.reserve(kGcpHeadSize + kGcpFileRecordSize * static_cast<size_t>(set->count));
  bytes.insert(bytes.end(), kGcpMagic, kGcpMagic + kGcpMagicSize);
  putInt32(bytes, set->count);
  putInt32(bytes, set->power);
  putInt32(bytes, set->termCount);
  for (int i = 0; i < set->count; i++) {
    const GcpRecord &r = set->records[i];
    putInt32(bytes, r.selected);
    putInt32(bytes, r.id);
    putDouble(bytes, r.x1);
    putDouble(bytes, r.y1);
    putDouble(bytes, r.x2);
    putDouble(bytes, r.y2);
    putFloat(bytes, r.dx);
    putFloat(bytes, r.dy);
  }
  if (writeWholeFile(path, bytes.data(), bytes.size()) != 0) {
    vesk_fprintf(stderr, "%s: %s\n", path ? path : "", strerror(errno ? errno : EIO));
    return 0;
  }
  set->modified = 0;
  return 1;
}

/*
 * writeWholeFile --
 *     Writes the bytes to a temporary file beside the path, which then
 *     replaces the path: a failure leaves the old file as it was.
 * Results:      0 written; 1 when no file could be made, 2 when the
 *               bytes could not all be written (errno tells why).
 */
int writeWholeFile(const char *path, const void *data, size_t size) {
  SaveFile file;
  if (!file.open(path)) {
    errno = file.error();
    return 1;
  }
  file.write(data, size);
  if (!file.commit()) {
    errno = file.error();
    return 2;
  }
  return 0;
}

/*
 * readGcpFile --
 *     Reads a GCPOBJ file.  The count must lie in 0..300 and the file must
 *     hold all of its records; a stored fit is recomputed from the
 *     selected records (none when that fails).
 * Results:      the new set; NULL for a missing, short, foreign or
 *               corrupt file.
 */
GCPOBJ *readGcpFile(const char *path) {
  int fd = path ? open(path, O_RDONLY) : -1;
  if (fd < 0) return nullptr;
  unsigned char head[kGcpHeadSize];
  size_t got = readFully(fd, head, sizeof head);
  if (got < kGcpMagicSize || memcmp(head, kGcpMagic, kGcpMagicSize) != 0 || got < kGcpHeadSize) {
    close(fd);
    return nullptr;
  }
  int32_t count = getInt32(head + 6), power = getInt32(head + 10), termCount = getInt32(head + 14);
  if (count < 0 || count > kGcpCapacity) {
    close(fd);
    return nullptr;
  }
  std::vector<unsigned char> body(kGcpFileRecordSize * static_cast<size_t>(count));
  got = readFully(fd, body.data(), body.size());
  close(fd);
  if (got < body.size()) return nullptr;
  GCPOBJ *set = createGcpSet(nullptr);
  if (!set) return nullptr;
  for (int i = 0; i < count; i++) {
    const unsigned char *p = body.data() + kGcpFileRecordSize * static_cast<size_t>(i);
    GcpRecord &r = set->records[i];
    r.selected = getInt32(p);
    r.id = getInt32(p + 4);
    r.x1 = getDouble(p + 8);
    r.y1 = getDouble(p + 16);
    r.x2 = getDouble(p + 24);
    r.y2 = getDouble(p + 32);
    r.dx = getFloat(p + 40);
    r.dy = getFloat(p + 44);
  }
  set->count = count;
  set->power = power < 0 ? 0 : power;
  if (termCount > 0 && power >= 0) fitGcpPolynomial(set, power);
  set->modified = 0;
  return set;
}

}  // namespace vesk
