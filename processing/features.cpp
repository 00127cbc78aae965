/*
 * features.cpp --
 *     Feature sets and feature files: the block and its head words, items
 *     and extra heads, reading and writing files, the statistics items
 *     and their merging, inversion and normalisation, eigenpairs by power
 *     iteration, and the console reports of the three kinds.
 *
 *     The block holds the file layout: every field is written and read
 *     through explicit little-endian helpers, so writing a set is writing
 *     its bytes, and a file read back is checked field by field against
 *     its size before anything trusts it.
 */
#include "processing/features.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <new>

#include "core/core.h"
#include "core/savefile.h"
#include "core/text.h"
#include "raster/sniffer.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"
#include "vesk/vesk.h"

namespace vesk {
namespace {

/* ---- fields of the block, little-endian ---- */

inline unsigned char *bytesOf(FeatureSet *set) { return reinterpret_cast<unsigned char *>(set); }
inline const unsigned char *bytesOf(const FeatureSet *set) {
  return reinterpret_cast<const unsigned char *>(set);
}
inline int32_t loadInt(const unsigned char *p) { return getI32(p, false); }
inline void storeInt(unsigned char *p, int32_t v) { putU32(p, static_cast<uint32_t>(v), false); }
inline float loadFloat(const unsigned char *p) { return getF32(p, false); }
inline void storeFloat(unsigned char *p, float v) { putF32(p, v, false); }
inline double loadDouble(const unsigned char *p) { return getF64(p, false); }

inline int32_t headWord(const FeatureSet *set, int at) { return loadInt(bytesOf(set) + at); }
inline void setHeadWord(FeatureSet *set, int at, int32_t v) { storeInt(bytesOf(set) + at, v); }
inline int32_t featureTotal(const FeatureSet *s) { return headWord(s, kFeatureTotalAt); }
inline int32_t featureHead(const FeatureSet *s) { return headWord(s, kFeatureHeadAt); }
inline int32_t featureItemBytes(const FeatureSet *s) { return headWord(s, kFeatureItemBytesAt); }
inline int32_t featureCount(const FeatureSet *s) { return headWord(s, kFeatureCountAt); }
inline int32_t featureBands(const FeatureSet *s) { return headWord(s, kFeatureBandsAt); }

/* A text field: at most size - 1 characters, the zero may be missing. */
std::string loadText(const unsigned char *p, int size) {
  const char *text = reinterpret_cast<const char *>(p);
  return std::string(text, strnlen(text, static_cast<size_t>(size)));
}

/* Stores a text cut to size - 1 characters, zero-filled to the field's end. */
void storeText(unsigned char *p, int size, const std::string &text) {
  size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  memset(p, 0, static_cast<size_t>(size));
  memcpy(p, text.data(), n);
}

/* Bytes of one item and of the extra head of a kind for n bands. */
int64_t kindItemSize(int kind, int64_t n) {
  switch (kind) {
  case FEATURE_STAT: return 72 + 2 * n * (n + 3);
  case FEATURE_EIGEN: return 4 * n + 12;
  case FEATURE_ISO: return 16 * n + 12;
  default: return -1;
  }
}
int64_t kindExtraSize(int kind, int64_t n) {
  switch (kind) {
  case FEATURE_STAT: return kStatExtraSize;
  case FEATURE_EIGEN: return 8 * n + 516;
  case FEATURE_ISO: return kIsoExtraSize;
  default: return -1;
  }
}

/* The item of a STATFTUR set, when its index and layout are sound. */
const unsigned char *statItemAt(const FeatureSet *set, int index) {
  if (!set || getFeatureKind(bytesOf(set)) != FEATURE_STAT) return nullptr;
  if (index < 0 || index >= featureCount(set)) return nullptr;
  if (featureItemBytes(set) < statItemSize(featureBands(set))) return nullptr;
  return bytesOf(set) + featureHead(set) + static_cast<int64_t>(index) * featureItemBytes(set);
}

/* perror's message, on the library's error stream. */
void reportFileError(const char *name) {
  vesk_fprintf(stderr, "%s: %s\n", name, strerror(errno));
}

/* Values in rows of five, each with the format, and a final newline. */
void printFiveAcross(const double *values, int n, int step, const char *format) {
  for (int i = 0; i < n; i++) {
    vesk_printf(format, values[static_cast<int64_t>(i) * step]);
    if ((i + 1) % 5 == 0) vesk_printf("\n");
  }
  vesk_printf("\n");
}

}  // namespace

/* ---- sets ---- */

/*
 * newFeature --
 *     A zero-filled set of count items of itemBytes each, with the tag, the
 *     band list (zeros when bands is null) and an extra head of extraBytes
 *     (a negative size counts as 0) filled from extra when given.
 * Results:      the block, or null after "Error in malloc of newFeature."
 */
FeatureSet *newFeature(const char *tag, const int *bands, int n, int itemBytes, int count,
                       const void *extra, int extraBytes) {
  if (extraBytes < 0) extraBytes = 0;
  int64_t head = kFeatureFixedHead + 4 * static_cast<int64_t>(n) + extraBytes;
  int64_t total = head + static_cast<int64_t>(itemBytes) * count;
  void *block = nullptr;
  if (n >= 0 && itemBytes >= 0 && count >= 0 && total <= INT32_MAX)
    block = Tcl_AttemptAlloc(static_cast<unsigned>(total));
  if (!block) {
    vesk_fprintf(stderr, "Error in malloc of newFeature.\n");
    return nullptr;
  }
  memset(block, 0, static_cast<size_t>(total));
  FeatureSet *set = static_cast<FeatureSet *>(block);
  unsigned char *p = bytesOf(set);
  memcpy(p, tag, strnlen(tag, 8));
  setHeadWord(set, kFeatureTotalAt, static_cast<int32_t>(total));
  setHeadWord(set, kFeatureHeadAt, static_cast<int32_t>(head));
  setHeadWord(set, kFeatureItemBytesAt, itemBytes);
  setHeadWord(set, kFeatureCountAt, count);
  setHeadWord(set, kFeatureBandsAt, n);
  for (int i = 0; i < n; i++) storeInt(p + kFeatureFixedHead + 4 * i, bands ? bands[i] : 0);
  if (extra) setFeatureExtra(set, extra, extraBytes);
  return set;
}

void freeFeature(FeatureSet *set) { gmemFree(set); }

/* Reallocates a set to hold count items; null when it cannot (the set stays). */
static FeatureSet *resizeFeature(FeatureSet *set, int count) {
  int64_t total = featureHead(set) + static_cast<int64_t>(featureItemBytes(set)) * count;
  if (total > INT32_MAX) return nullptr;
  void *block = Tcl_AttemptRealloc(reinterpret_cast<char *>(set), static_cast<unsigned>(total));
  if (!block) return nullptr;
  set = static_cast<FeatureSet *>(block);
  setHeadWord(set, kFeatureTotalAt, static_cast<int32_t>(total));
  setHeadWord(set, kFeatureCountAt, count);
  return set;
}

/*
 * addFeature --
 *     Appends one item, a copy of item or zeros.
 * Results:      the new block (the old address is gone), or null after
 *               "Error of realloc in addFeature." with the set unchanged.
 */
FeatureSet *addFeature(FeatureSet *set, const void *item) {
  int count = featureCount(set);
  FeatureSet *grown = count < INT32_MAX ? resizeFeature(set, count + 1) : nullptr;
  if (!grown) {
    vesk_fprintf(stderr, "Error of realloc in addFeature.\n");
    return nullptr;
  }
  unsigned char *at = getFeatureItem(grown, count);
  size_t bytes = static_cast<size_t>(featureItemBytes(grown));
  if (item) memcpy(at, item, bytes);
  else memset(at, 0, bytes);
  return grown;
}

/*
 * cutFeature --
 *     Sets the item count (negative counts as 0); added items are zeros.
 * Results:      the same block for the same count, else the new block, or
 *               null after "Error of realloc in cutFeature." (set unchanged).
 */
FeatureSet *cutFeature(FeatureSet *set, int count) {
  if (count < 0) count = 0;
  int old = featureCount(set);
  if (count == old) return set;
  FeatureSet *resized = resizeFeature(set, count);
  if (!resized) {
    vesk_fprintf(stderr, "Error of realloc in cutFeature.\n");
    return nullptr;
  }
  if (count > old) {
    memset(getFeatureItem(resized, old), 0,
           static_cast<size_t>(featureItemBytes(resized)) * static_cast<size_t>(count - old));
  }
  return resized;
}

/* delFeatureItem -- removes one item and closes the gap; outside indices change nothing. */
FeatureSet *delFeatureItem(FeatureSet *set, int index) {
  int count = featureCount(set);
  if (index < 0 || index >= count) return set;
  int64_t bytes = featureItemBytes(set);
  unsigned char *at = getFeatureItem(set, index);
  memmove(at, at + bytes, static_cast<size_t>(bytes * (count - index - 1)));
  FeatureSet *shrunk = resizeFeature(set, count - 1);
  if (!shrunk) {
    vesk_fprintf(stderr, "Error of realloc in delFeatureItem.\n");
    return nullptr;
  }
  return shrunk;
}

unsigned char *getFeatureItem(FeatureSet *set, int index) {
  if (index < 0 || index >= featureCount(set)) return nullptr;
  return bytesOf(set) + featureHead(set) + static_cast<int64_t>(index) * featureItemBytes(set);
}

int getFeatureExtraSize(const FeatureSet *set) {
  return featureHead(set) - kFeatureFixedHead - 4 * featureBands(set);
}

unsigned char *getFeatureExtra(FeatureSet *set) {
  if (getFeatureExtraSize(set) <= 0) return nullptr;
  return bytesOf(set) + kFeatureFixedHead + 4 * static_cast<int64_t>(featureBands(set));
}

void setFeatureExtra(FeatureSet *set, const void *data, int bytes) {
  unsigned char *extra = getFeatureExtra(set);
  if (!extra || !data || bytes <= 0) return;
  memcpy(extra, data, static_cast<size_t>(std::min(bytes, getFeatureExtraSize(set))));
}

int getFeatureBand(const FeatureSet *set, int position) {
  if (position < 0 || position >= featureBands(set)) return -1;
  return loadInt(bytesOf(set) + kFeatureFixedHead + 4 * position);
}

/* The kind code of an 8-byte tag, FEATURE_UNKNOWN for others. */
int getFeatureKind(const unsigned char *tag) {
  if (memcmp(tag, kStatTag, 8) == 0) return FEATURE_STAT;
  if (memcmp(tag, kEigenTag, 8) == 0) return FEATURE_EIGEN;
  if (memcmp(tag, kIsoTag, 8) == 0) return FEATURE_ISO;
  return FEATURE_UNKNOWN;
}

/*
 * getFeatureInfo --
 *     0 total bytes, 1 item count, 2 item bytes, 3 head bytes, 4 band
 *     count, 5 kind code.
 * Results:      the value; 0 with a message for an unknown tag or code.
 */
int getFeatureInfo(const FeatureSet *set, int code) {
  int kind = getFeatureKind(bytesOf(set));
  if (kind == FEATURE_UNKNOWN) {
    vesk_fprintf(stderr, "Unknown feature ID.\n");
    return 0;
  }
  switch (code) {
  case 0: return featureTotal(set);
  case 1: return featureCount(set);
  case 2: return featureItemBytes(set);
  case 3: return featureHead(set);
  case 4: return featureBands(set);
  case 5: return kind;
  default:
    vesk_fprintf(stderr, "Undefine feature info.\n");
    return 0;
  }
}

int getFeatureModified(const FeatureSet *set) { return headWord(set, kFeatureModifiedAt); }

/* ---- files ---- */

/*
 * checkFeatureBlock --
 *     Checks a whole feature file held in memory: a known tag, a total
 *     equal to the size, a head that holds the band list, the item bytes
 *     of the kind for its band count, an extra head that is absent or of
 *     the kind's size, and items that end exactly at the total.
 * Results:      empty when the block is sound, else the message to print.
 */
std::string checkFeatureBlock(const unsigned char *block, int64_t size) {
  if (size < kFeatureFirstRead)
    return fmt("Error in reading features. count %ld size %ld\n", static_cast<long>(size),
               static_cast<long>(kFeatureFirstRead));
  int kind = getFeatureKind(block);
  if (kind == FEATURE_UNKNOWN) return "Unknown feature ID.\n";
  int64_t total = loadInt(block + kFeatureTotalAt);
  if (total != size)
    return fmt("Error in reading features. count %ld size %ld\n", static_cast<long>(size),
               static_cast<long>(total));
  int64_t head = loadInt(block + kFeatureHeadAt);
  int64_t itemBytes = loadInt(block + kFeatureItemBytesAt);
  int64_t count = loadInt(block + kFeatureCountAt);
  int64_t n = loadInt(block + kFeatureBandsAt);
  if (n < 0 || kFeatureFixedHead + 4 * n > total)
    return fmt("Wrong band count in feature file: %ld\n", static_cast<long>(n));
  int64_t extra = head - kFeatureFixedHead - 4 * n;
  if (extra < 0 || head > total || (extra != 0 && extra != kindExtraSize(kind, n)))
    return fmt("Wrong head bytes in feature file: %ld for %ld bands\n", static_cast<long>(head),
               static_cast<long>(n));
  if (itemBytes != kindItemSize(kind, n))
    return fmt("Wrong item bytes in feature file: %ld for %ld bands\n",
               static_cast<long>(itemBytes), static_cast<long>(n));
  if (count < 0 || head + count * itemBytes != total)
    return fmt("Wrong item count in feature file: %ld\n", static_cast<long>(count));
  return std::string();
}

/*
 * getFeature --
 *     Reads a feature file, of the given tag when one is asked for.
 * Results:      the set (the caller frees it), or null: silently for a
 *               file that cannot be opened or has another tag, with a
 *               message for one that is not a sound feature file.
 */
FeatureSet *getFeature(const char *fileName, const char *tag) {
  int fd = open(fileName, O_RDONLY);
  if (fd < 0) return nullptr;
  struct stat info;
  unsigned char first[kFeatureFirstRead] = {0};
  int64_t size = fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
  int64_t prefix = std::min<int64_t>(size, kFeatureFirstRead);
  FeatureSet *set = nullptr;
  if (pread(fd, first, static_cast<size_t>(prefix), 0) != prefix) prefix = 0;
  if (tag) {
    if (prefix < 8 || memcmp(first, tag, 8) != 0) {
      close(fd);
      return nullptr;
    }
  } else if (prefix >= 8 && getFeatureKind(first) == FEATURE_UNKNOWN) {
    vesk_fprintf(stderr, "Unknown feature ID.\n");
    close(fd);
    return nullptr;
  }
  int64_t total = prefix == kFeatureFirstRead ? loadInt(first + kFeatureTotalAt) : 0;
  std::string problem;
  if (prefix < kFeatureFirstRead || total != size) {
    problem = fmt("Error in reading features. count %ld size %ld\n", static_cast<long>(size),
                  static_cast<long>(prefix < kFeatureFirstRead ? kFeatureFirstRead : total));
  } else {
    set = reinterpret_cast<FeatureSet *>(Tcl_AttemptAlloc(static_cast<unsigned>(total)));
    if (!set) {
      vesk_fprintf(stderr, "Error of malloc in getFeature\n");
      close(fd);
      return nullptr;
    }
    int64_t got = getFileData(fd, set, total, 0, 0);
    if (got != total)
      problem = fmt("Error in reading features. count %ld size %ld\n", static_cast<long>(got),
                    static_cast<long>(total));
    else
      problem = checkFeatureBlock(bytesOf(set), total);
  }
  close(fd);
  if (!problem.empty()) {
    vesk_fprintf(stderr, "%s", problem.c_str());
    freeFeature(set);
    return nullptr;
  }
  return set;
}

/*
 * putFeature --
 *     Writes a set as its file: the whole block into a new file beside the
 *     target, which then replaces the target, so a failed write never
 *     leaves a damaged file in place of a good one.
 * Results:      1 on success; 0 after the system's error text.
 */
int putFeature(const char *fileName, const FeatureSet *set) {
  SaveFile file;
  const int32_t total = featureTotal(set);
  if (file.open(fileName)) {
    if (total < 0) file.fail(EINVAL);
    else file.write(set, static_cast<size_t>(total));
  }
  if (!file.commit()) {
    errno = file.error();
    reportFileError(fileName);
    return 0;
  }
  return 1;
}

/* ---- statistics items ---- */

int statItemSize(int n) { return 72 + 2 * n * (n + 3); }

/* findStatItem -- the first item of that name, ignoring letter case; -1 when none. */
int findStatItem(const FeatureSet *set, const char *name) {
  int count = featureCount(set);
  for (int i = 0; i < count; i++) {
    const unsigned char *item = statItemAt(set, i);
    if (!item) return -1;
    if (compareNoCase(loadText(item, kStatNameSize).c_str(), name) == 0) return i;
  }
  return -1;
}

/* readStatItem -- decodes item index of a STATFTUR set; false when there is none. */
bool readStatItem(const FeatureSet *set, int index, StatItem *item) {
  const unsigned char *p = statItemAt(set, index);
  if (!p) return false;
  int n = featureBands(set);
  item->name = loadText(p, kStatNameSize);
  item->note = loadText(p + kStatNameSize, kStatNameSize);
  item->count = loadInt(p + 64);
  item->sequence = loadInt(p + 68);
  item->mean.resize(static_cast<size_t>(n));
  item->cov.resize(static_cast<size_t>(n) * static_cast<size_t>(n + 1) / 2);
  for (int i = 0; i < n; i++) item->mean[i] = loadFloat(p + 72 + 4 * i);
  const unsigned char *cov = p + 72 + 4 * n;
  for (size_t k = 0; k < item->cov.size(); k++) item->cov[k] = loadFloat(cov + 4 * k);
  return true;
}

/*
 * writeStatItem --
 *     Stores a decoded item; texts longer than 31 characters are cut,
 *     values are stored as floats.
 * Results:      false when the index names no item or the vectors are short.
 */
bool writeStatItem(FeatureSet *set, int index, const StatItem &item) {
  unsigned char *p = const_cast<unsigned char *>(statItemAt(set, index));
  int n = featureBands(set);
  size_t packed = static_cast<size_t>(n) * static_cast<size_t>(n + 1) / 2;
  if (!p || item.mean.size() < static_cast<size_t>(n) || item.cov.size() < packed) return false;
  storeText(p, kStatNameSize, item.name);
  storeText(p + kStatNameSize, kStatNameSize, item.note);
  storeInt(p + 64, item.count);
  storeInt(p + 68, item.sequence);
  for (int i = 0; i < n; i++) storeFloat(p + 72 + 4 * i, static_cast<float>(item.mean[i]));
  unsigned char *cov = p + 72 + 4 * n;
  for (size_t k = 0; k < packed; k++) storeFloat(cov + 4 * k, static_cast<float>(item.cov[k]));
  return true;
}

/* Addresses of an item's means and packed covariance: little-endian floats. */
unsigned char *getStatMean(FeatureSet *set, int index) {
  const unsigned char *p = statItemAt(set, index);
  return p ? const_cast<unsigned char *>(p) + 72 : nullptr;
}
unsigned char *getStatCov(FeatureSet *set, int index) {
  const unsigned char *p = statItemAt(set, index);
  return p ? const_cast<unsigned char *>(p) + 72 + 4 * featureBands(set) : nullptr;
}

/*
 * normalizeStatCov --
 *     Turns an item's covariance into correlations: off-diagonal (i,j)
 *     over the roots of the unchanged diagonal, then every diagonal value
 *     and every mean set to 1.
 * Results:      1, or 0 when the index names no item.
 */
int normalizeStatCov(FeatureSet *set, int index) {
  StatItem item;
  if (!readStatItem(set, index, &item)) return 0;
  int n = featureBands(set);
  std::vector<double> diag(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) diag[i] = item.cov[packedIndex(i, i)];
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < i; j++) item.cov[packedIndex(i, j)] /= sqrt(diag[i]) * sqrt(diag[j]);
    item.cov[packedIndex(i, i)] = 1.0;
    item.mean[i] = 1.0;
  }
  writeStatItem(set, index, item);
  return 1;
}

/*
 * invertStatCov --
 *     Replaces an item's covariance by its inverse when the determinant is
 *     positive; the determinant is stored through the out argument.
 * Results:      1 when inverted; 0 when the index names no item, the item
 *               has fewer samples than bands ("Not enough samples.") or
 *               the matrix is not positive definite (item unchanged).
 */
int invertStatCov(FeatureSet *set, int index, double *determinant) {
  StatItem item;
  if (!readStatItem(set, index, &item)) return 0;
  int n = featureBands(set);
  if (item.count < n) {
    vesk_fprintf(stderr, "Not enough samples.\n");
    return 0;
  }
  std::vector<double> packed = item.cov;
  double det = invertPackedMatrix(packed.data(), n);
  if (determinant) *determinant = det;
  if (!(det > 0)) return 0;
  item.cov = packed;
  writeStatItem(set, index, item);
  return 1;
}

/*
 * mergeStatItem --
 *     Merges a batch, given as its mean and packed covariance, into an
 *     item: the pooled covariance and mean of both, weighted by counts.
 * Results:      1, or 0 when the index names no item.
 */
int mergeStatItem(FeatureSet *set, int index, const double *cov2, const double *mean2,
                  int batch) {
  StatItem item;
  if (!readStatItem(set, index, &item)) return 0;
  int n = featureBands(set);
  int64_t total = static_cast<int64_t>(item.count) + batch;
  double f = total > 0 ? static_cast<double>(batch) / static_cast<double>(total) : 1.0;
  double g = 1.0 - f;
  const std::vector<double> m1 = item.mean;
  for (int j = 0; j < n; j++) {
    for (int k = 0; k <= j; k++) {
      int at = packedIndex(j, k);
      item.cov[at] = g * (item.cov[at] + m1[k] * m1[j]) + f * (cov2[at] + mean2[k] * mean2[j]) -
                     (g * m1[k] + f * mean2[k]) * (g * m1[j] + f * mean2[j]);
    }
  }
  for (int j = 0; j < n; j++) item.mean[j] = g * m1[j] + f * mean2[j];
  item.count = static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
  writeStatItem(set, index, item);
  return 1;
}

/* accumulateStatSums -- adds pixel-interleaved pixels to batch sums and cross products. */
void accumulateStatSums(double *cross, double *sums, int n, const float *pixels, int count) {
  for (int p = 0; p < count; p++) {
    const float *x = pixels + static_cast<int64_t>(p) * n;
    for (int j = 0; j < n; j++) {
      sums[j] += x[j];
      double *row = cross + j * (j + 1) / 2;
      for (int k = 0; k <= j; k++) row[k] += static_cast<double>(x[j]) * x[k];
    }
  }
}

/*
 * mergeStatSums --
 *     Merges batch sums into running averages: means E[x] and second
 *     moments E[xx'] (packed).
 * Results:      the new running count.
 */
int mergeStatSums(int running, int n, double *moments, double *means, const double *cross,
                  const double *sums, int batch) {
  if (batch <= 0) return running;
  double w = static_cast<double>(running) / (static_cast<double>(running) + batch);
  for (int i = 0; i < n; i++) means[i] = (1 - w) * sums[i] / batch + w * means[i];
  int packed = n * (n + 1) / 2;
  for (int i = 0; i < packed; i++) moments[i] = (1 - w) * cross[i] / batch + w * moments[i];
  return running + batch;
}

/* subtractMeanProduct -- second moments into covariance: M(j,k) -= m(k) m(j). */
void subtractMeanProduct(double *moments, const double *means, int n) {
  for (int j = 0; j < n; j++)
    for (int k = 0; k <= j; k++) moments[packedIndex(j, k)] -= means[k] * means[j];
}

/*
 * addStatSums --
 *     Merges raw batch sums into an item whose mean and covariance still
 *     hold running averages E[x] and E[xx'], and adds the batch count.
 * Results:      1, or 0 when the index names no item.
 */
int addStatSums(FeatureSet *set, int index, const double *cross, const double *sums, int batch) {
  StatItem item;
  if (!readStatItem(set, index, &item)) return 0;
  item.count = mergeStatSums(item.count, featureBands(set), item.cov.data(), item.mean.data(),
                             cross, sums, batch);
  writeStatItem(set, index, item);
  return 1;
}

/*
 * finishStatItem --
 *     Names an item, notes the time, sets its sequence number and turns its
 *     second moments into the covariance.
 * Results:      1, or 0 when the index names no item.
 */
int finishStatItem(FeatureSet *set, int index, const char *name, int sequence) {
  StatItem item;
  if (!readStatItem(set, index, &item)) return 0;
  time_t now = time(nullptr);
  char stamp[32] = {0};
  ctime_r(&now, stamp);
  item.name = name ? name : "";
  item.note = std::string(stamp, strnlen(stamp, 24));
  item.sequence = sequence;
  subtractMeanProduct(item.cov.data(), item.mean.data(), featureBands(set));
  writeStatItem(set, index, item);
  return 1;
}

/* ---- matrices ---- */

/*
 * dgb --
 *     Inverts a square matrix of doubles in place by Gauss-Jordan sweeps
 *     with the largest remaining diagonal as pivot and no row exchanges
 *     (the matrices given are symmetric positive definite).
 * Results:      the determinant; 0.0 after a message when a pivot
 *               vanishes, the matrix then partly transformed.
 */
double dgb(double *a, int n) {
  std::vector<char> used(static_cast<size_t>(std::max(n, 0)), 0);
  double det = 1.0;
  for (int step = 0; step < n; step++) {
    int p = -1;
    double best = 0.0;
    for (int k = 0; k < n; k++) {
      if (used[k]) continue;
      double value = fabs(a[static_cast<int64_t>(k) * n + k]);
      if (value >= best) {
        best = value;
        p = k;
      }
    }
    if (p < 0 || fabs(a[static_cast<int64_t>(p) * n + p]) <= 1e-38) {
      vesk_fprintf(stderr, "Error in dgb - zero value of a main element: %d\n", step);
      return 0.0;
    }
    used[p] = 1;
    double *rowP = a + static_cast<int64_t>(p) * n;
    double b = rowP[p];
    for (int j = 0; j < n; j++) rowP[j] /= b;
    for (int i = 0; i < n; i++) {
      if (i == p) continue;
      double *row = a + static_cast<int64_t>(i) * n;
      for (int j = 0; j < n; j++)
        if (j != p) row[j] -= row[p] * rowP[j];
    }
    for (int i = 0; i < n; i++) a[static_cast<int64_t>(i) * n + p] /= -b;
    rowP[p] = 1.0 / b;
    det *= b;
  }
  return det;
}

/*
 * invertPackedMatrix --
 *     Inverts a packed symmetric matrix through dgb; the packed values are
 *     replaced when the determinant is not negative.
 * Results:      the determinant.
 */
double invertPackedMatrix(double *packed, int n) {
  std::vector<double> full(static_cast<size_t>(n) * static_cast<size_t>(n));
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) full[static_cast<size_t>(i) * n + j] = packed[packedIndex(i, j)];
  double det = dgb(full.data(), n);
  if (det >= 0)
    for (int i = 0; i < n; i++)
      for (int j = 0; j <= i; j++) packed[packedIndex(i, j)] = full[static_cast<size_t>(i) * n + j];
  return det;
}

/* ---- eigenvectors ---- */

int eigenItemSize(int n) { return 4 * n + 12; }
int eigenExtraSize(int n) { return 8 * n + 516; }

/* getEigenItem -- decodes item index of an EIGENID set; false when there is none. */
bool getEigenItem(const FeatureSet *set, int index, EigenItem *item) {
  if (getFeatureKind(bytesOf(set)) != FEATURE_EIGEN) return false;
  int n = featureBands(set);
  if (index < 0 || index >= featureCount(set) || featureItemBytes(set) < eigenItemSize(n))
    return false;
  const unsigned char *p =
      bytesOf(set) + featureHead(set) + static_cast<int64_t>(index) * featureItemBytes(set);
  item->index = loadInt(p);
  item->value = loadFloat(p + 4);
  item->percent = loadFloat(p + 8);
  item->vector.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) item->vector[i] = loadFloat(p + 12 + 4 * i);
  return true;
}

/* getEigenExtra -- decodes the extra head of an EIGENID set; false when it has none. */
bool getEigenExtra(const FeatureSet *set, EigenExtra *extra) {
  int n = featureBands(set);
  if (getFeatureKind(bytesOf(set)) != FEATURE_EIGEN || getFeatureExtraSize(set) < eigenExtraSize(n))
    return false;
  const unsigned char *p = bytesOf(set) + kFeatureFixedHead + 4 * static_cast<int64_t>(n);
  extra->source = loadText(p, kEigenSourceSize);
  extra->normalized = loadInt(p + kEigenSourceSize);
  extra->variance.resize(static_cast<size_t>(n));
  extra->mean.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) {
    extra->variance[i] = loadFloat(p + 516 + 8 * i);
    extra->mean[i] = loadFloat(p + 520 + 8 * i);
  }
  return true;
}

/*
 * newEigenFeature --
 *     An EIGENID set for count eigenpairs (at most the band count) of a
 *     StatItem, its extra head holding the item's name and index, the
 *     flag, and the item's variances and means as they are now.
 * Results:      the set, or null after "Error in creating EGV feature."
 */
FeatureSet *newEigenFeature(FeatureSet *stat, int index, int normalized, int count) {
  StatItem item;
  int n = stat ? featureBands(stat) : 0;
  FeatureSet *set = nullptr;
  if (readStatItem(stat, index, &item)) {
    count = std::max(0, std::min(count, n));
    std::vector<int> bands(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) bands[i] = getFeatureBand(stat, i);
    set = newFeature(kEigenTag, bands.data(), n, eigenItemSize(n), count, nullptr,
                     eigenExtraSize(n));
  }
  if (!set) {
    vesk_fprintf(stderr, "Error in creating EGV feature.\n");
    return nullptr;
  }
  unsigned char *p = getFeatureExtra(set);
  storeText(p, kEigenSourceSize, fmt("%s %d", item.name.c_str(), index));
  storeInt(p + kEigenSourceSize, normalized);
  for (int i = 0; i < n; i++) {
    storeFloat(p + 516 + 8 * i, static_cast<float>(item.cov[packedIndex(i, i)]));
    storeFloat(p + 520 + 8 * i, static_cast<float>(item.mean[i]));
  }
  return set;
}

/*
 * calcEV --
 *     The largest eigenpair of a packed symmetric matrix by power
 *     iteration from (1, 0, ..., 0); the matrix is then deflated in place
 *     so that the next call finds the next pair.  When the first column is
 *     negligible beside the rest of the matrix (what is left after earlier
 *     deflations may be orthogonal to the first axis), the iteration starts
 *     from the axis of the largest diagonal instead; a zero matrix gives
 *     the pair 0 and (1, 0, ..., 0), and no division by zero.
 * Results:      the eigenvalue; v holds the unit eigenvector.
 * Side effects: throws std::bad_alloc when no work memory is left.
 */
double calcEV(double *packed, double *v, int n, float tolerance, int maxIterations) {
  if (n <= 0) return 0.0;
  std::vector<double> y(static_cast<size_t>(n));
  std::vector<double> a(static_cast<size_t>(n) * static_cast<size_t>(n));
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) a[static_cast<size_t>(i) * n + j] = packed[packedIndex(i, j)];
  double largest = 0.0, firstColumn = 0.0;
  int start = 0;
  for (int i = 0; i < n; i++) {
    firstColumn = std::max(firstColumn, fabs(a[static_cast<size_t>(i) * n]));
    for (int j = 0; j < n; j++)
      largest = std::max(largest, fabs(a[static_cast<size_t>(i) * n + j]));
    if (fabs(a[static_cast<size_t>(i) * n + i]) > fabs(a[static_cast<size_t>(start) * n + start]))
      start = i;
  }
  if (firstColumn > 1e-6 * largest) start = 0;
  for (int i = 0; i < n; i++) v[i] = i == start ? 1.0 : 0.0;
  double previous = 1000.0, lambda = 0.0, d = 0.0, delta = 0.0;
  int iterations = 0;
  do {
    for (int i = 0; i < n; i++) {
      const double *row = &a[static_cast<size_t>(i) * n];
      double sum = 0.0;
      for (int j = 0; j < n; j++) sum += row[j] * v[j];
      y[i] = sum;
    }
    lambda = y[0];
    for (int i = 1; i < n; i++)
      if (fabs(y[i]) > fabs(lambda)) lambda = y[i];
    if (lambda == 0.0) {
      for (int i = 0; i < n; i++) v[i] = i == 0 ? 1.0 : 0.0;
      return 0.0;
    }
    d = 0.0;
    for (int i = 0; i < n; i++) {
      double next = y[i] / lambda;
      d = std::max(d, fabs(next - v[i]));
      v[i] = next;
    }
    iterations++;
    delta = fabs(lambda - previous);
    previous = lambda;
  } while ((d > tolerance || delta > tolerance) && iterations < maxIterations);
  double norm = 0.0;
  for (int i = 0; i < n; i++) norm += v[i] * v[i];
  norm = sqrt(norm);
  for (int i = 0; i < n; i++) v[i] /= norm;
  for (int j = 0; j < n; j++)
    for (int i = 0; i <= j; i++) packed[packedIndex(j, i)] -= lambda * v[i] * v[j];
  return lambda;
}

/*
 * calcAllEV --
 *     The first count eigenpairs (at most the band count) of a StatItem's
 *     covariance, or of its correlations when normalise is set (the item
 *     is normalised in place first).  The item is left holding the
 *     deflated residual matrix.
 * Results:      the EIGENID set, or null after a message.
 */
FeatureSet *calcAllEV(int count, FeatureSet *stat, int normalize, int index, float tolerance,
                      int maxIterations) {
  FeatureSet *eigen = newEigenFeature(stat, index, normalize, count);
  if (!eigen) return nullptr;
  if (normalize) normalizeStatCov(stat, index);
  StatItem item;
  readStatItem(stat, index, &item);
  int n = featureBands(stat);
  count = featureCount(eigen);
  float trace = 0;
  for (int i = 0; i < n; i++) trace += static_cast<float>(item.cov[packedIndex(i, i)]);
  try {
    std::vector<double> v(static_cast<size_t>(n));
    for (int j = 0; j < count; j++) {
      double value = calcEV(item.cov.data(), v.data(), n, tolerance, maxIterations);
      unsigned char *p = getFeatureItem(eigen, j);
      storeInt(p, j);
      storeFloat(p + 4, static_cast<float>(value));
      storeFloat(p + 8, trace != 0 ? static_cast<float>(value / trace * 100) : 0.0f);
      for (int i = 0; i < n; i++) storeFloat(p + 12 + 4 * i, static_cast<float>(v[i]));
      meterSet("egv", static_cast<float>(j + 1) / static_cast<float>(count));
    }
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error of malloc in calcEV.\n");
    freeFeature(eigen);
    meterReset();
    return nullptr;
  }
  writeStatItem(stat, index, item);
  meterReset();
  return eigen;
}

/* ---- reports ---- */

void printFeatureBands(const FeatureSet *set) {
  int n = featureBands(set);
  vesk_printf("Bands: %d\n", n);
  for (int i = 0; i < n; i++) {
    vesk_printf("%10ld", static_cast<long>(getFeatureBand(set, i)) + 1);
    if ((i + 1) % 8 == 0) vesk_printf("\n");
  }
  vesk_printf("\n");
}

void printStatSource(const FeatureSet *set) {
  if (getFeatureExtraSize(set) < kStatExtraSize) {
    vesk_printf("No private info.\n");
    return;
  }
  const unsigned char *p = bytesOf(set) + kFeatureFixedHead + 4 * featureBands(set);
  vesk_printf("Stat Source: %s\n", loadText(p, kStatSourceSize).c_str());
  vesk_printf("Stat Note  : %s\n", loadText(p + kStatSourceSize, kStatNoteSize).c_str());
}

void printStatItem(const FeatureSet *set, int index, int flags) {
  StatItem item;
  if (!readStatItem(set, index, &item)) return;
  int n = featureBands(set);
  vesk_printf("Stat Info Sequence # %d\n", index);
  vesk_printf("ID     : %d\n", item.sequence);
  vesk_printf("name   : %s\n", item.name.c_str());
  vesk_printf("note   : %s\n", item.note.c_str());
  vesk_printf("nPixels: %d\n", item.count);
  if (flags & 1) printStatMeans(item.mean.data(), n);
  if (flags & 2) printStatStd(item.cov.data(), n);
  if (flags & 4) printStatMatrix(item.cov.data(), n, 0);
  if (flags & 8) printStatMatrix(item.cov.data(), n, 1);
}

void printStatMeans(const double *means, int n) {
  vesk_printf("Mean values:\n");
  printFiveAcross(means, n, 1, "%15.6e");
}

/* printStatStd -- the variances (the covariance's diagonal), not their roots. */
void printStatStd(const double *cov, int n) {
  std::vector<double> diag(static_cast<size_t>(std::max(n, 0)));
  for (int i = 0; i < n; i++) diag[i] = cov[packedIndex(i, i)];
  vesk_printf("Std values:\n");
  printFiveAcross(diag.data(), n, 1, "%15.6e");
}

void printStatMatrix(const double *cov, int n, int correlation) {
  vesk_printf(correlation ? "Correlation values:\n" : "Covariance values:\n");
  for (int first = 0; first < n; first += 5) {
    int last = std::min(first + 5, n);
    for (int i = 0; i < n; i++) {
      for (int j = first; j < last; j++) {
        double value = cov[packedIndex(i, j)];
        if (correlation)
          value = value / sqrt(cov[packedIndex(i, i)]) / sqrt(cov[packedIndex(j, j)]);
        vesk_printf("%15.6e", value);
      }
      vesk_printf("\n");
    }
    vesk_printf("\n");
  }
}

void printEigenInfo(const FeatureSet *set) {
  EigenExtra extra;
  if (!getEigenExtra(set, &extra)) {
    vesk_printf("No Private EVINFO.\n");
    return;
  }
  int n = featureBands(set);
  vesk_printf("EVINFO Source  : %s\n", extra.source.c_str());
  vesk_printf(extra.normalized ? "EVINFO Note    : Normalized\n"
                               : "EVINFO Note    : Non Normalized\n");
  vesk_printf("EVINFO SQSTD   :\n");
  printFiveAcross(extra.variance.data(), n, 1, "%15.6e");
  vesk_printf("EVINFO MEAN    :\n");
  printFiveAcross(extra.mean.data(), n, 1, "%15.6e");
}

void printEigenVectors(const FeatureSet *set, int withVectors) {
  int count = featureCount(set);
  int n = featureBands(set);
  double cumulative = 0;
  std::vector<EigenItem> items(static_cast<size_t>(std::max(count, 0)));
  for (int j = 0; j < count; j++)
    if (!getEigenItem(set, j, &items[j])) return;
  for (int first = 0; first < count; first += 5) {
    int last = std::min(first + 5, count);
    vesk_printf("\n\nEigen Vector Information\n");
    vesk_printf("ID    :");
    for (int j = first; j < last; j++) vesk_printf("%7ld      ", static_cast<long>(items[j].index) + 1);
    vesk_printf("\nValue :");
    for (int j = first; j < last; j++) vesk_printf("%13.6e", items[j].value);
    vesk_printf("\nPct   :");
    for (int j = first; j < last; j++) vesk_printf("%13.6f", items[j].percent);
    vesk_printf("\nAPct  :");
    for (int j = first; j < last; j++) {
      cumulative += items[j].percent;
      vesk_printf("%13.6f", cumulative);
    }
    vesk_printf("\n");
    if (withVectors) {
      vesk_printf("Vector:\n");
      for (int b = 0; b < n; b++) {
        vesk_printf("ch%4ld:", static_cast<long>(getFeatureBand(set, b)) + 1);
        for (int j = first; j < last; j++) vesk_printf("%13.7f", items[j].vector[b]);
        vesk_printf("\n");
      }
    }
  }
  vesk_printf("\n");
}

void printEigenVector(const FeatureSet *set, int index) {
  EigenItem item;
  if (!getEigenItem(set, index, &item)) return;
  vesk_printf("\nEVID: %d  Value: %15.6e  Percent: %8.3f\n", index + 1, item.value,
              item.percent);
  printFiveAcross(item.vector.data(), featureBands(set), 1, "%15.6e");
}

void printIsoInfo(const FeatureSet *set) {
  if (getFeatureKind(bytesOf(set)) != FEATURE_ISO || getFeatureExtraSize(set) < kIsoExtraSize)
    return;
  const unsigned char *p = bytesOf(set) + kFeatureFixedHead + 4 * featureBands(set);
  vesk_printf("source: %s\n", loadText(p + 24, kIsoSourceSize).c_str());
  vesk_printf("nClasses: %d nSamples %d RMS: %.4f DIS: %.4f\n", loadInt(p + 20), loadInt(p + 16),
              loadDouble(p), loadDouble(p + 8));
}

void isoPrint(const FeatureSet *set, int flag) {
  static const char *const titles[] = {"ISO_MEAN:\n", "ISO_DMEAN:\n", "ISO_SUM:\n"};
  if (flag < 0 || flag > 2) {
    vesk_fprintf(stderr, "Wrong flag for isoPrint\n");
    return;
  }
  int n = featureBands(set);
  int count = featureCount(set);
  if (getFeatureKind(bytesOf(set)) != FEATURE_ISO || featureItemBytes(set) < 16 * n + 12) return;
  vesk_printf("%s", titles[flag]);
  vesk_printf("  ID  SAMPLES    SRMD2");
  for (int b = 0; b < n; b++)
    vesk_printf("  %4ld  ", static_cast<long>(getFeatureBand(set, b)) + 1);
  vesk_printf("\n");
  for (int k = 0; k < count; k++) {
    const unsigned char *p =
        bytesOf(set) + featureHead(set) + static_cast<int64_t>(k) * featureItemBytes(set);
    vesk_printf("#%3d %8d %8.3f ", k, loadInt(p), loadFloat(p + 8));
    for (int b = 0; b < n; b++) {
      const unsigned char *band = p + 12 + 16 * b;
      double value = flag == 0 ? loadFloat(band) : flag == 1 ? loadFloat(band + 4)
                                                             : loadDouble(band + 8);
      vesk_printf("%7.3f ", value);
    }
    vesk_printf("\n");
  }
}

}  // namespace vesk
