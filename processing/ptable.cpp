/*
 * ptable.cpp --
 *     Pixel tables and the "ptable" module of rimage.  A build reads the
 *     image in blocks of about 1 MiB of vector bytes, finds the vectors
 *     the table does not hold yet by bisection in their first-byte
 *     bucket, sorts and uniques them, and merges them into the table in
 *     one backward pass by their insertion positions; a second pass
 *     counts the pixels of every entry.  The table never grows beyond
 *     8 MiB: vectors that no longer fit are dropped and counted as misses.
 */
#include "processing/ptable.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <new>

#include "core/core.h"
#include "core/options.h"
#include "core/savefile.h"
#include "core/text.h"
#include "processing/rimage.h"
#include "raster/pixels.h"
#include "raster/sniffer.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Rows of ptableOptions. */
enum { PT_IN, PT_PT, PT_SR, PT_ER, PT_B, PT_OPTION_COUNT };

const ModuleOption ptableOptions[] = {
    {"-in", nullptr}, {"-pt", nullptr}, {"-sr", nullptr}, {"-er", nullptr}, {"-b", nullptr},
    {nullptr, nullptr},
};
static_assert(sizeof ptableOptions / sizeof ptableOptions[0] == PT_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const ptableUsage[] = {
    "    where\n",
    "    IN      the input image file;\n",
    "    PT      the output pixel table file;\n",
    "    SR      the start row. (def: 0);\n",
    "    ER      the end row. (def: the last row);\n",
    "    BANDS   the bands b1,b2,... (def: all bands).\n",
};

constexpr int64_t kPTableBytes = 0x800000;   /* vectors and 16-bit values of a full table */
constexpr int64_t kBlockBytes = 0x100000;    /* vector bytes of one block */
constexpr int kPTableNameMax = 127;

double secondsSince(clock_t start) {
  return static_cast<double>(clock() - start) / CLOCKS_PER_SEC;
}

/* A build in progress. */
struct PTableWork {
  PTABLE *table = nullptr;
  RAMIMG *image = nullptr;
  int startRow = 0, endRow = 0;
  int columns = 0;
  int blockRows = 0;
  int64_t blockPixels = 0;
  bool verbose = true;
  std::vector<int32_t> *entryMap = nullptr;  /* the entry of every pixel, or null */
  std::vector<unsigned char> buffer;  /* block pixels x n */
  std::vector<int32_t> index;         /* new pixels, then unique new pixels */
  std::vector<int32_t> position;      /* insertion position of each pixel */
};

/* Rows of one block as pixel-interleaved bytes. Results: the pixel count. */
int64_t readPTableBlock(PTableWork *w, int row, int rows) {
  const PTABLE *t = w->table;
  const int64_t stride = static_cast<int64_t>(w->columns) * t->n;
  for (int i = 0; i < rows; i++)
    getByteBIPData(w->image, row + i, 0, w->columns, 1, t->n, t->bands.data(),
                   w->buffer.data() + i * stride);
  return static_cast<int64_t>(rows) * w->columns;
}

/*
 * Bisection in the bucket of the vector's first byte.
 * Results: the entry, or -1 with the insertion position stored.
 */
inline int32_t searchBucket(const PTABLE *t, const unsigned char *v, int32_t *insert) {
  const size_t n = static_cast<size_t>(t->n);
  const unsigned char *base = t->vectors.data();
  if (n >= 2 && !t->prefix.empty()) {
    /* The run of the first two bytes, then bisection over the rest. */
    const size_t p = size_t{v[0]} << 8 | v[1];
    int32_t lo = t->prefix[p], hi = t->prefix[p + 1] - 1;
    if (n == 3) {
      const unsigned char key = v[2];
      while (lo <= hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const unsigned char k = base[static_cast<size_t>(mid) * 3 + 2];
        if (k == key) return mid;
        if (k < key) lo = mid + 1;
        else hi = mid - 1;
      }
    } else {
      while (lo <= hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const int r = memcmp(base + static_cast<size_t>(mid) * n + 2, v + 2, n - 2);
        if (r == 0) return mid;
        if (r < 0) lo = mid + 1;
        else hi = mid - 1;
      }
    }
    *insert = lo;
    return -1;
  }
  const int b = v[0];
  if (t->first[b] < 0) {
    *insert = t->count == 0 ? 0 : t->last[b];
    return -1;
  }
  int32_t lo = t->first[b], hi = t->last[b];
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int r = memcmp(base + static_cast<size_t>(mid) * n, v, n);
    if (r == 0) return mid;
    if (r < 0) lo = mid + 1;
    else hi = mid - 1;
  }
  *insert = lo;
  return -1;
}

/* Empty buckets take their insertion position: the first entry of the next bucket. */
void rebuildPTableBuckets(PTABLE *t) {
  computePTableBuckets(t);
  int32_t next = t->count;
  for (int b = 255; b >= 0; b--) {
    if (t->first[b] >= 0) next = t->first[b];
    else t->last[b] = next;
  }
}

/*
 * mergeNewVectors --
 *     Inserts the smallest unique new vectors that fit, from the top slot
 *     down: each slot takes the largest new vector left when no old entry
 *     at or above its insertion position remains, else the next old entry.
 * Results: vectors inserted.
 */
int64_t mergeNewVectors(PTableWork *w, int64_t unique) {
  PTABLE *t = w->table;
  const int64_t k = std::min<int64_t>(t->capacity - t->count, unique);
  if (k <= 0) return 0;
  const size_t n = static_cast<size_t>(t->n);
  unsigned char *base = t->vectors.data();
  int64_t old = t->count - 1;
  int64_t dst = t->count + k - 1;
  for (int64_t j = k - 1; j >= 0; dst--) {
    const int32_t pixel = w->index[j];
    if (old >= 0 && old >= w->position[pixel]) {
      memcpy(base + dst * n, base + old * n, n);
      old--;
    } else {
      memcpy(base + dst * n, w->buffer.data() + static_cast<size_t>(pixel) * n, n);
      j--;
    }
  }
  t->count += static_cast<int32_t>(k);
  rebuildPTableBuckets(t);
  return k;
}

/* A vector's bytes as "%3ld " each. */
void printVector(const unsigned char *v, int n) {
  for (int j = 0; j < n; j++) vesk_printf("%3ld ", static_cast<long>(v[j]));
}

/* One numbered vector on its own line. */
void printPTableEntry(long number, const unsigned char *v, int n) {
  vesk_printf("# %ld ", number);
  printVector(v, n);
  vesk_printf("\n");
}

/*
 * New vectors of a block: the pixels not in the table, in pixel order,
 * each with its insertion position. Results: their count.
 */
int64_t findNewVectors(PTableWork *w, int64_t pixels) {
  const PTABLE *t = w->table;
  const size_t n = static_cast<size_t>(t->n);
  const unsigned char *buf = w->buffer.data();
  int64_t fresh = 0;
  for (int64_t p = 0; p < pixels; p++) {
    int32_t insert = 0;
    if (searchBucket(t, buf + p * n, &insert) < 0) {
      w->position[p] = insert;
      w->index[fresh++] = static_cast<int32_t>(p);
    }
  }
  return fresh;
}

/* The new pixels' indices in ascending order of their vectors. */
void sortNewVectors(PTableWork *w, int64_t fresh) {
  const size_t n = static_cast<size_t>(w->table->n);
  const unsigned char *buf = w->buffer.data();
  auto less = [buf, n](int32_t a, int32_t b) {
    return memcmp(buf + static_cast<size_t>(a) * n, buf + static_cast<size_t>(b) * n, n) < 0;
  };
  std::sort(w->index.begin(), w->index.begin() + fresh, less);
}

/* checkSortOrder -- reports the first pair of sorted new vectors out of order. */
void checkSortOrder(const PTableWork *w, int64_t fresh) {
  const int n = w->table->n;
  const unsigned char *buf = w->buffer.data();
  for (int64_t i = 1; i < fresh; i++) {
    const unsigned char *a = buf + static_cast<size_t>(w->index[i - 1]) * static_cast<size_t>(n);
    const unsigned char *b = buf + static_cast<size_t>(w->index[i]) * static_cast<size_t>(n);
    if (memcmp(a, b, static_cast<size_t>(n)) <= 0) continue;
    vesk_printf("sort wrong at %ld\n", static_cast<long>(i));
    printPTableEntry(static_cast<long>(i - 1), a, n);
    printPTableEntry(static_cast<long>(i), b, n);
    return;
  }
}

/* Keeps the first of every run of equal sorted vectors. Results: how many remain. */
int64_t uniqueNewVectors(PTableWork *w, int64_t fresh) {
  const size_t n = static_cast<size_t>(w->table->n);
  const unsigned char *buf = w->buffer.data();
  int64_t unique = 0;
  for (int64_t i = 0; i < fresh; i++) {
    if (unique > 0 && memcmp(buf + static_cast<size_t>(w->index[unique - 1]) * n,
                             buf + static_cast<size_t>(w->index[i]) * n, n) == 0)
      continue;
    w->index[unique++] = w->index[i];
  }
  return unique;
}

/* One block: new vectors found, sorted, uniqued and merged. */
void addPTableBlock(PTableWork *w, int64_t pixels, int64_t *uniqueTotal, double times[3],
                    clock_t readStart) {
  PTABLE *t = w->table;
  times[0] += secondsSince(readStart);

  clock_t start = clock();
  const int64_t fresh = findNewVectors(w, pixels);
  times[1] += secondsSince(start);

  start = clock();
  int64_t unique = 0;
  if (fresh > 0) {
    sortNewVectors(w, fresh);
    checkSortOrder(w, fresh);
    unique = uniqueNewVectors(w, fresh);
    mergeNewVectors(w, unique);
  }
  times[2] += secondsSince(start);
  *uniqueTotal += unique;
  if (w->verbose)
    vesk_printf("T:%7ld IN:%6ld NEW:%6ld U:%6ld Rd:%5.2f Rank:%5.2f Merge:%5.2f\n",
                static_cast<long>(t->count), static_cast<long>(pixels), static_cast<long>(fresh),
                static_cast<long>(unique), times[0], times[1], times[2]);
}

/* checkPTableOrder -- reports the first pair of entries out of order. */
void checkPTableOrder(const PTABLE *t) {
  for (int32_t i = 1; i < t->count; i++) {
    if (memcmp(t->vector(i - 1), t->vector(i), static_cast<size_t>(t->n)) < 0) continue;
    vesk_printf("Wrong order at %8ld\n", static_cast<long>(i));
    for (int32_t e : {i - 1, i}) printPTableEntry(static_cast<long>(e), t->vector(e), t->n);
    return;
  }
}

/* The block buffers. Results: false when memory is short. */
bool allocPTableWork(PTableWork *w) {
  try {
    w->buffer.resize(static_cast<size_t>(w->blockPixels) * static_cast<size_t>(w->table->n));
    w->index.resize(static_cast<size_t>(w->blockPixels));
    w->position.resize(static_cast<size_t>(w->blockPixels));
  } catch (const std::bad_alloc &) {
    return false;
  }
  return true;
}

/* Releases the block buffers (the table stays with its caller). */
void freePTableWork(PTableWork *w) {
  std::vector<unsigned char>().swap(w->buffer);
  std::vector<int32_t>().swap(w->index);
  std::vector<int32_t>().swap(w->position);
}

/*
 * buildPTable --
 *     Builds the table over the work's rows, then counts its pixels.
 * Results: true; false when the buffers cannot be had.
 */
bool buildPTable(PTableWork *w) {
  PTABLE *t = w->table;
  if (!allocPTableWork(w)) return false;
  const size_t n = static_cast<size_t>(t->n);
  int64_t all = 0, uniqueTotal = 0;
  double times[3] = {0, 0, 0};
  for (int row = w->startRow; row < w->endRow; row += w->blockRows) {
    const int rows = std::min(w->blockRows, w->endRow - row);
    clock_t start = clock();
    int64_t pixels = readPTableBlock(w, row, rows);
    all += pixels;
    addPTableBlock(w, pixels, &uniqueTotal, times, start);
  }
  checkPTableOrder(t);
  computePTableBuckets(t);
  if (w->verbose) {
    vesk_printf("\nN = %ld U = %ld Ratio = %6.3f\n", static_cast<long>(all),
                static_cast<long>(uniqueTotal), all > 0 ? static_cast<double>(uniqueTotal) / all : 0.0);
    vesk_printf("ioTime: %10.3f  rankTime: %10.3f  mergeTime: %10.3f\n", times[0], times[1],
                times[2]);
    vesk_printf("\nPixel counting...\n");
  }

  clock_t start = clock();
  std::fill(t->values.begin(), t->values.end(), 0u);
  int64_t misses = 0;
  for (int row = w->startRow; row < w->endRow; row += w->blockRows) {
    const int rows = std::min(w->blockRows, w->endRow - row);
    const int64_t pixels = readPTableBlock(w, row, rows);
    const unsigned char *buf = w->buffer.data();
    int32_t *map = w->entryMap
                       ? w->entryMap->data() + static_cast<int64_t>(row - w->startRow) * w->columns
                       : nullptr;
    for (int64_t p = 0; p < pixels; p++) {
      int32_t insert;
      int32_t e = searchBucket(t, buf + p * n, &insert);
      if (map) map[p] = e;
      if (e < 0) misses++;
      else if (t->values[e] != UINT32_MAX) t->values[e]++;
    }
  }
  if (w->verbose)
    vesk_printf("Time used for counting: %7.3f Miss counting: %ld\n", secondsSince(start),
                static_cast<long>(misses));
  return true;
}

/* Writes all bytes or reports the failure. */
bool writeAll(int fd, const unsigned char *data, size_t size) {
  while (size > 0) {
    ssize_t done = write(fd, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

/* The default output name: -in up to its first "." and ".lku". */
std::string ptableDefaultName(const char *in) {
  const char *dot = strchr(in, '.');
  return std::string(in, dot ? static_cast<size_t>(dot - in) : strlen(in)) + ".lku";
}

}  // namespace

/* ptableCapacity -- entries whose vectors and 16-bit values fit in 8 MiB. */
int32_t ptableCapacity(int n) {
  return static_cast<int32_t>(static_cast<uint32_t>(kPTableBytes) / static_cast<uint32_t>(n + 2) - 2);
}

/*
 * createPTable --
 *     An empty table: no entries, every bucket -1 / -2.
 * Results: the table, or null when the arrays cannot be had.
 */
PTABLE *createPTable(int32_t capacity, int n, const int32_t *bands) {
  if (capacity < 0 || n < 1 || n > kPTableMaxBands) return nullptr;
  PTABLE *t = new (std::nothrow) PTABLE;
  if (!t) return nullptr;
  try {
    t->capacity = capacity;
    t->n = n;
    t->vectors.assign(static_cast<size_t>(capacity) * static_cast<size_t>(n), 0);
    t->values.assign(static_cast<size_t>(capacity), 0u);
    t->bands.assign(bands, bands + n);
    computePTableBuckets(t);
  } catch (const std::bad_alloc &) {
    delete t;
    return nullptr;
  }
  return t;
}

void freePTable(PTABLE *table) { delete table; }

void clearPTable(PTABLE *table) {
  std::vector<unsigned char>().swap(table->vectors);
  std::vector<uint32_t>().swap(table->values);
}

/* findPTableEntry -- the entry of a vector, or -1. */
int32_t findPTableEntry(const PTABLE *table, const unsigned char *vector) {
  int32_t insert;
  return searchBucket(table, vector, &insert);
}

/* computePTableBuckets -- first and last entry of every first byte; -1 / -2 when none. */
void computePTableBuckets(PTABLE *t) {
  std::fill(std::begin(t->first), std::end(t->first), -1);
  std::fill(std::begin(t->last), std::end(t->last), -2);
  for (int32_t i = 0; i < t->count; i++) {
    const int b = t->vector(i)[0];
    if (t->first[b] < 0) t->first[b] = i;
    t->last[b] = i;
  }
  /* The finer index of lookups: where each two-byte prefix starts. */
  if (t->n >= 2) {
    t->prefix.assign(65537, 0);
    for (int32_t i = 0; i < t->count; i++) {
      const unsigned char *v = t->vector(i);
      t->prefix[(size_t{v[0]} << 8 | v[1]) + 1]++;
    }
    for (size_t p = 1; p < t->prefix.size(); p++) t->prefix[p] += t->prefix[p - 1];
  }
}

/*
 * parsePTable --
 *     A pixel-table file held in memory.  Every claim of the head is
 *     checked against the size and against the entries themselves before
 *     anything trusts it: the head size, 1 <= n <= 8192, the extent of
 *     the vectors and counts, strictly ascending entries, and buckets that
 *     equal the ones the entries imply.
 * Results: the table, or null with the reason in problem.
 */
PTABLE *parsePTable(const unsigned char *data, int64_t size, std::string *problem) {
  if (size >= 8 && size < kPTableHeadFixed + 4 && memcmp(data, "PTABLEHD", 8) == 0) {
    *problem = fmt("Pixel table head too short: %ld bytes\n", static_cast<long>(size));
    return nullptr;
  }
  if (size < kPTableHeadFixed + 4 || memcmp(data, "PTABLEHD", 8) != 0) {
    char id[9] = {0};
    if (size > 0) memcpy(id, data, static_cast<size_t>(std::min<int64_t>(size, 8)));
    for (char &c : id)
      if (c && (c < 32 || c > 126)) c = '?';
    *problem = fmt("Wrong PTABLE file ID %s.\n", id);
    return nullptr;
  }
  const int64_t head = getI32(data + 8, false);
  const int64_t count = getI32(data + 16, false);
  const int64_t n = getI32(data + 2076, false);
  if (n < 1 || n > kPTableMaxBands) {
    *problem = fmt("Wrong vector length in pixel table: %ld\n", static_cast<long>(n));
    return nullptr;
  }
  if (head != 4 * n + kPTableHeadFixed || head > size) {
    *problem = fmt("Wrong head bytes in pixel table: %ld\n", static_cast<long>(head));
    return nullptr;
  }
  if (count < 0 || getI32(data + 12, false) != count || count > (size - head) / (n + 2) ||
      head + count * (n + 2) > size) {
    *problem = fmt("Wrong entry count in pixel table: %ld\n", static_cast<long>(count));
    return nullptr;
  }
  std::vector<int32_t> bands(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; i++) bands[i] = getI32(data + kPTableHeadFixed + 4 * i, false);
  PTABLE *t = createPTable(static_cast<int32_t>(count), static_cast<int>(n), bands.data());
  if (!t) {
    *problem = "Error in createPTable...\n";
    return nullptr;
  }
  t->count = static_cast<int32_t>(count);
  if (count > 0) memcpy(t->vectors.data(), data + head, static_cast<size_t>(count * n));
  const unsigned char *values = data + head + count * n;
  for (int64_t i = 0; i < count; i++) t->values[i] = getU16(values + 2 * i, false);
  for (int32_t i = 1; i < t->count; i++) {
    if (memcmp(t->vector(i - 1), t->vector(i), static_cast<size_t>(n)) >= 0) {
      *problem = fmt("Pixel table entries out of order at %ld\n", static_cast<long>(i));
      freePTable(t);
      return nullptr;
    }
  }
  computePTableBuckets(t);
  for (int b = 0; b < 256; b++) {
    if (getI32(data + 20 + 4 * b, false) != t->first[b] ||
        getI32(data + 1044 + 4 * b, false) != t->last[b]) {
      *problem = fmt("Wrong bucket %d in pixel table\n", b);
      freePTable(t);
      return nullptr;
    }
  }
  return t;
}

/*
 * getPTable --
 *     Reads a pixel-table file.
 * Results: the table, or null after a message on stderr.
 */
PTABLE *getPTable(const char *fileName) {
  int fd = open(fileName, O_RDONLY);
  if (fd < 0) {
    vesk_fprintf(stderr, "Error in open table:%s\n", fileName);
    return nullptr;
  }
  struct stat info;
  std::vector<unsigned char> data;
  bool read = false;
  std::string problem;
  unsigned char head[kPTableHeadFixed + 4] = {0};
  if (fstat(fd, &info) == 0 && info.st_size >= 0) {
    /* Identify the file from its head before reading the rest. */
    const int64_t prefix = std::min<int64_t>(info.st_size, sizeof head);
    if (getFileData(fd, head, prefix, 0, 0) != prefix || prefix < static_cast<int64_t>(sizeof head) ||
        memcmp(head, "PTABLEHD", 8) != 0) {
      close(fd);
      parsePTable(head, prefix, &problem);
      vesk_fprintf(stderr, "%s", problem.c_str());
      return nullptr;
    }
    try {
      data.resize(static_cast<size_t>(info.st_size));
      read = getFileData(fd, data.data(), static_cast<int64_t>(data.size()), 0, 0) ==
             static_cast<int64_t>(data.size());
    } catch (const std::bad_alloc &) {
      vesk_fprintf(stderr, "Error of malloc in getPTable.\n");
      close(fd);
      return nullptr;
    }
  }
  close(fd);
  if (!read) {
    vesk_fprintf(stderr, "Error in open table:%s\n", fileName);
    return nullptr;
  }
  PTABLE *t = parsePTable(data.data(), static_cast<int64_t>(data.size()), &problem);
  if (!t) vesk_fprintf(stderr, "%s", problem.c_str());
  return t;
}

/* encodePTable -- the file's bytes; counts above 65535 are stored as 65535. */
std::vector<unsigned char> encodePTable(const PTABLE *t) {
  const size_t n = static_cast<size_t>(t->n);
  const size_t head = 4 * n + kPTableHeadFixed;
  std::vector<unsigned char> out(head + static_cast<size_t>(t->count) * (n + 2), 0);
  unsigned char *p = out.data();
  memcpy(p, "PTABLEHD", 8);
  putU32(p + 8, static_cast<uint32_t>(head), false);
  putU32(p + 12, static_cast<uint32_t>(t->count), false);
  putU32(p + 16, static_cast<uint32_t>(t->count), false);
  for (int b = 0; b < 256; b++) {
    putU32(p + 20 + 4 * b, static_cast<uint32_t>(t->first[b]), false);
    putU32(p + 1044 + 4 * b, static_cast<uint32_t>(t->last[b]), false);
  }
  putU32(p + 2076, static_cast<uint32_t>(t->n), false);
  for (size_t i = 0; i < n; i++) putU32(p + kPTableHeadFixed + 4 * i, static_cast<uint32_t>(t->bands[i]), false);
  if (t->count > 0) memcpy(p + head, t->vectors.data(), static_cast<size_t>(t->count) * n);
  unsigned char *values = p + head + static_cast<size_t>(t->count) * n;
  for (int32_t i = 0; i < t->count; i++)
    putU16(values + 2 * i, std::min<uint32_t>(t->values[i], kPTableFileCountMax), false);
  return out;
}

/* putPTable -- writes the file from the descriptor's position. Results: 1, or 0. */
int putPTable(int fd, const PTABLE *table) {
  std::vector<unsigned char> bytes = encodePTable(table);
  return writeAll(fd, bytes.data(), bytes.size()) ? 1 : 0;
}

namespace {

/*
 * setupPTableWork --
 *     The rows, block size and pixel map of a build over rows [startRow,
 *     endRow): blocks of at most 1 MiB of vector bytes but at least one row.
 */
void setupPTableWork(PTableWork *w, RAMIMG *image, int n, int startRow, int endRow, bool verbose,
                     std::vector<int32_t> *entryMap) {
  if (entryMap) {
    try {
      entryMap->assign(static_cast<size_t>(std::max(endRow - startRow, 0)) *
                           static_cast<size_t>(std::max(image->header.columns, 0)), -1);
      w->entryMap = entryMap;
    } catch (const std::bad_alloc &) {
      entryMap->clear();
    }
  }
  w->image = image;
  w->columns = std::max(image->header.columns, 1);
  w->startRow = startRow;
  w->endRow = endRow;
  w->verbose = verbose;
  w->blockRows = static_cast<int>(
      std::max<int64_t>(1, kBlockBytes / (static_cast<int64_t>(n) * w->columns)));
  w->blockRows = std::min(w->blockRows, std::max(endRow - startRow, 1));
  w->blockPixels = static_cast<int64_t>(w->blockRows) * w->columns;
}

/* The empty table of a build. Results: false when it cannot be made. */
bool initPTableWork(PTableWork *w, int n, const int32_t *bands) {
  w->table = createPTable(ptableCapacity(n), n, bands);
  return w->table != nullptr;
}

}  // namespace

/*
 * buildImagePTable --
 *     The table of rows [startRow, endRow) of a BYTE image over the bands,
 *     in blocks of at most 1 MiB of vector bytes but at least one row.
 * Results: the table, or null when memory is short.
 */
PTABLE *buildImagePTable(RAMIMG *image, int n, const int32_t *bands, int startRow, int endRow,
                         bool verbose, std::vector<int32_t> *entryMap) {
  PTableWork w;
  setupPTableWork(&w, image, n, startRow, endRow, verbose, entryMap);
  if (!initPTableWork(&w, n, bands)) return nullptr;
  if (!buildPTable(&w)) {
    freePTableWork(&w);
    freePTable(w.table);
    return nullptr;
  }
  freePTableWork(&w);
  return w.table;
}

/*
 * makePTable --
 *     The table of a whole image, for the clustering module; for images of
 *     at most kPTableMapPixels pixels also the entry of every pixel, so
 *     that its passes need no lookups.
 */
PTABLE *makePTable(RAMIMG *image, int n, const int32_t *bands, std::vector<int32_t> *entryMap) {
  const int64_t pixels = static_cast<int64_t>(image->header.rows) * image->header.columns;
  return buildImagePTable(image, n, bands, 0, image->header.rows, true,
                          pixels <= kPTableMapPixels ? entryMap : nullptr);
}

namespace {

/* The options of "rimage ptable", with the input opened. */
struct PtableArgs {
  RAMIMG *image = nullptr;
  std::string name;
  std::vector<int32_t> bands;
  int startRow = 0, endRow = 0;
};

/*
 * parsePtableOptions --
 *     Opens the input and reads the table name, the bands and the rows.
 * Results: 1; 0 after the message, with nothing left open.
 */
int parsePtableOptions(PtableArgs *args, int argc, const char **argv) {
  ModuleOption o[PT_OPTION_COUNT + 1];
  std::copy(std::begin(ptableOptions), std::end(ptableOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_printf("Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  if (!o[PT_IN].value) {
    vesk_fprintf(stderr, "Input file missing.\n");
    return 0;
  }
  int err = 0;
  RAMIMG *image = openRAMImage(o[PT_IN].value, o[PT_IN].value, nullptr, nullptr, &err);
  args->image = image;
  if (!image) {
    vesk_fprintf(stderr, "Error in open:%s\n", o[PT_IN].value);
    printRAMImageError(err);
    return 0;
  }
  auto fail = [&](const char *message) {
    vesk_fprintf(stderr, "%s", message);
    closeRAMImage(image, nullptr);
    args->image = nullptr;
    return 0;
  };
  const ImageHeader &h = image->header;
  if (h.nindices > 0) return fail("Unsupported index image.\n");
  if (h.pixelid != P_BYTE) return fail("Unsupported pixel type.\n");

  std::string &name = args->name;
  name = o[PT_PT].value ? o[PT_PT].value : ptableDefaultName(o[PT_IN].value);
  if (name.size() > static_cast<size_t>(kPTableNameMax))
    return fail(fmt("Error in open: %s\n", name.c_str()));

  std::vector<int32_t> &bands = args->bands;
  if (const char *text = o[PT_B].value) {
    const char *p = text;
    while (*p) {
      long b = atol(p);
      if (b < 1 || b > h.nbands || bands.size() >= static_cast<size_t>(kPTableMaxBands))
        return fail("Illegal band number.\n");
      bands.push_back(static_cast<int32_t>(b - 1));
      const char *comma = strchr(p, ',');
      if (!comma) break;
      p = comma + 1;
    }
    if (bands.empty()) return fail("Illegal band number.\n");
  } else {
    for (int b = 0; b < h.nbands; b++) bands.push_back(b);
  }

  int &startRow = args->startRow;
  startRow = o[PT_SR].value ? static_cast<int>(atol(o[PT_SR].value)) - 1 : 0;
  startRow = std::max(startRow, 0);
  args->endRow = o[PT_ER].value ? static_cast<int>(std::min<long>(atol(o[PT_ER].value), h.rows))
                                 : h.rows;
  return 1;
}

}  // namespace

/*
 * ptableModule --
 *     "rimage ptable -in IN -pt PT -sr SR -er ER -b BANDS".
 * Results: 2 after the usage, 0 on failure, 1 with the file written.
 */
int ptableModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -pt PT -sr SR -er ER -b BANDS\n", prog);
    for (const char *line : ptableUsage) vesk_printf("%s", line);
    return 2;
  }
  PtableArgs args;
  if (!parsePtableOptions(&args, argc, argv)) return 0;
  RAMIMG *image = args.image;
  const std::string &name = args.name;
  const std::vector<int32_t> &bands = args.bands;
  const int startRow = args.startRow, endRow = args.endRow;

  /* Written beside the target and renamed, so a failure leaves no half table. */
  SaveFile file;
  if (!file.open(name.c_str())) {
    vesk_fprintf(stderr, "Error in open: %s\n", name.c_str());
    closeRAMImage(image, nullptr);
    return 0;
  }
  PTABLE *table = buildImagePTable(image, static_cast<int>(bands.size()), bands.data(), startRow,
                                   std::max(endRow, startRow), true);
  closeRAMImage(image, nullptr);
  if (!table) {
    vesk_fprintf(stderr, "gptable error in gmemAlloc\n");
    return 0;
  }
  errno = 0;
  if (!putPTable(file.fd(), table)) file.fail(errno);
  freePTable(table);
  if (!file.commit()) {
    vesk_fprintf(stderr, "%s: %s\n", name.c_str(), file.reason());
    return 0;
  }
  return 1;
}

/*
 * checkMergeOrder --
 *     Checks that a table's entries are strictly ascending after new
 *     vectors were merged in; the first entry out of order is reported.
 * Results:      its index, or -1 when the order holds.
 */
int32_t checkMergeOrder(const PTABLE *t) {
  for (int32_t i = 1; i < t->count; i++) {
    if (memcmp(t->vector(i - 1), t->vector(i), static_cast<size_t>(t->n)) < 0) continue;
    vesk_printf("merge wrong at %8ld\n", static_cast<long>(i));
    return i;
  }
  return -1;
}

/*
 * printVectorList --
 *     Prints count vectors of n bytes, one a line: the vector's number
 *     and its bytes.
 */
void printVectorList(const unsigned char *vectors, int64_t count, int n) {
  for (int64_t i = 0; i < count; i++) {
    vesk_printf("%8ld ", static_cast<long>(i));
    for (int j = 0; j < n; j++) vesk_printf("%5d", vectors[i * n + j]);
    vesk_printf("\n");
  }
}

}  // namespace vesk
