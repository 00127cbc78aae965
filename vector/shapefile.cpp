/*
 * shapefile.cpp --
 *     The shapefile store: reading a .shp/.shx pair into one record buffer,
 *     adding, inserting, replacing, erasing, selecting, deleting and
 *     purging records, keeping the header's ranges, and writing the pair
 *     back (all records or the selected ones) through temporary files that
 *     replace the old pair only once they are complete.
 */
#include "vector/shapefile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <new>

#include "core/core.h"
#include "core/savefile.h"
#include "core/text.h"
#include "vesk/stdio.h"

/* Records are kept in host order, which is the files' order for every field
 * but the few big-endian words; only little-endian hosts are supported. */
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the shapefile store keeps record content in file (little-endian) order");

namespace vesk {
namespace {

/* Byte positions inside a record (record header included). */
constexpr int kNumberAt = 0;
constexpr int kLengthAt = 4;
constexpr int kTypeAt = 8;
constexpr int kBoxAt = 12;
constexpr int kCountAt = 44;      /* multipoint point count, or numParts */
constexpr int kNumPointsAt = 48;  /* lines, polygons and multipatches */
constexpr int kPartsAt = 52;
constexpr int kMultiPointsAt = 48;

/* The buffer grows by the new record plus this many bytes. */
constexpr int64_t kShapeBufferStep = 524300;
/* The offset and flag tables grow by this many entries. */
constexpr size_t kShapeTableStep = 1024;
/* The largest file length a header can carry, in bytes. */
constexpr int64_t kShapeMaxBytes = 2 * static_cast<int64_t>(INT32_MAX);

/* Minimum and maximum by value: record doubles must not bind to references. */
inline double lesser(double a, double b) { return b < a ? b : a; }
inline double greater(double a, double b) { return b > a ? b : a; }

/* How a record's content is laid out, by shape type. */
enum ShapeForm { FORM_NULL, FORM_POINT, FORM_MULTIPOINT, FORM_LINES, FORM_PATCH, FORM_OTHER };

ShapeForm shapeForm(int type) {
  switch (type) {
  case SHP_NULL: return FORM_NULL;
  case SHP_POINT: case SHP_POINTZ: case SHP_POINTM: return FORM_POINT;
  case SHP_MULTIPOINT: case SHP_MULTIPOINTZ: case SHP_MULTIPOINTM: return FORM_MULTIPOINT;
  case SHP_POLYLINE: case SHP_POLYGON: case SHP_POLYLINEZ: case SHP_POLYGONZ:
  case SHP_POLYLINEM: case SHP_POLYGONM: return FORM_LINES;
  case SHP_MULTIPATCH: return FORM_PATCH;
  default: return FORM_OTHER;
  }
}

/* Byte positions of one record's arrays; -1 where it has none. */
struct ShapeLayout {
  ShapeForm form = FORM_OTHER;
  int64_t points = -1, partTypes = -1;
  int64_t zRange = -1, zArray = -1, mRange = -1, mArray = -1;
};

ShapeLayout shapeLayout(int type, int64_t n, int64_t p) {
  ShapeLayout at;
  at.form = shapeForm(type);
  switch (at.form) {
  case FORM_POINT:
    at.points = kBoxAt;
    if (type == SHP_POINTZ) {
      at.zArray = 28;
      at.mArray = 36;
    } else if (type == SHP_POINTM) {
      at.mArray = 28;
    }
    return at;
  case FORM_MULTIPOINT: at.points = kMultiPointsAt; break;
  case FORM_LINES: at.points = kPartsAt + 4 * p; break;
  case FORM_PATCH:
    at.partTypes = kPartsAt + 4 * p;
    at.points = kPartsAt + 8 * p;
    break;
  default: return at;
  }
  int64_t next = at.points + 16 * n;
  if (shapeTypeHasZ(type)) {
    at.zRange = next;
    at.zArray = next + 16;
    next = at.zArray + 8 * n;
  }
  if (shapeTypeHasM(type)) {
    at.mRange = next;
    at.mArray = next + 16;
  }
  return at;
}

int32_t &recordWord(ShapeRecord *record, int64_t at) {
  return *reinterpret_cast<int32_t *>(record + at);
}
int32_t recordWord(const ShapeRecord *record, int64_t at) {
  int32_t value;
  memcpy(&value, record + at, 4);
  return value;
}
ShapeDouble *recordDoubles(ShapeRecord *record, int64_t at) {
  return reinterpret_cast<ShapeDouble *>(record + at);
}

/* Point and part counts of a record, from its own count fields. */
void recordCounts(const ShapeRecord *record, int64_t &n, int64_t &p) {
  n = p = 0;
  switch (shapeForm(recordWord(record, kTypeAt))) {
  case FORM_POINT: n = 1; break;
  case FORM_MULTIPOINT: n = recordWord(record, kCountAt); break;
  case FORM_LINES:
  case FORM_PATCH:
    p = recordWord(record, kCountAt);
    n = recordWord(record, kNumPointsAt);
    break;
  default: break;
  }
}

/*
 * Bytes of the M block a record of a Z type may leave out (the format makes
 * measures optional there; GDAL, QGIS and shapelib omit them); 0 for the
 * other types.
 */
int64_t optionalMeasureBytes(int type, int64_t n) {
  if (type == SHP_POINTZ) return 8;
  return shapeTypeHasZ(type) ? 16 + 8 * n : 0;
}

ShapeLayout recordLayout(const ShapeRecord *record) {
  int64_t n, p;
  recordCounts(record, n, p);
  return shapeLayout(recordWord(record, kTypeAt), n, p);
}

void writeTerminator(ShapeRecord *at) {
  recordWord(at, kNumberAt) = -1;
  recordWord(at, kLengthAt) = 0;
  recordWord(at, kTypeAt) = 0;
}

/* End of the record data: where the terminator stands. */
int64_t shapeDataEnd(const ShapeFile *store) {
  if (store->count == 0) return 0;
  int64_t last = store->offsets[static_cast<size_t>(store->count - 1)];
  return last + shapeRecordBytes(store->records + last);
}

/*
 * reserveShapeRoom --
 *     Makes room in the buffer and the tables for a record d bytes larger
 *     than what it replaces, and for `entries` more table entries.
 * Results:      false (store unchanged) when memory or the file length
 *     limit runs out.
 */
bool reserveShapeRoom(ShapeFile *store, int64_t d, int entries) {
  int64_t words = static_cast<int64_t>(store->header.fileLength) + d / 2;
  if (words > INT32_MAX) return false;
  int64_t need = 2 * static_cast<int64_t>(store->header.fileLength) + d + kShapeTerminatorSize;
  if (store->bufferSize < need) {
    int64_t size = store->bufferSize + d + kShapeBufferStep;
    if (size < need) size = need + kShapeBufferStep;
    void *grown = realloc(store->records, static_cast<size_t>(size));
    if (!grown) return false;
    store->records = static_cast<unsigned char *>(grown);
    store->bufferSize = size;
  }
  try {
    size_t wanted = static_cast<size_t>(store->count) + static_cast<size_t>(entries);
    if (store->flags.capacity() < wanted) {
      size_t capacity = store->flags.capacity() + kShapeTableStep;
      if (capacity < wanted) capacity = wanted + kShapeTableStep;
      store->offsets.reserve(capacity);
      store->flags.reserve(capacity);
    } else if (store->offsets.capacity() < wanted) {
      store->offsets.reserve(store->flags.capacity());
    }
  } catch (const std::bad_alloc &) {
    return false;
  }
  return true;
}

/*
 * fillShapeRecord --
 *     Writes a whole record of s bytes: header words, type, counts, then
 *     the points, parts, part types, Z and M through the setters.
 */
void fillShapeRecord(ShapeRecord *record, int type, int number, int64_t s, const double *points,
                     int n, const int32_t *parts, int p, const double *z, const double *m,
                     const int32_t *partTypes) {
  memset(record, 0, static_cast<size_t>(s));
  recordWord(record, kNumberAt) = number;
  recordWord(record, kLengthAt) = static_cast<int32_t>((s - 8) / 2);
  recordWord(record, kTypeAt) = type;
  ShapeForm form = shapeForm(type);
  if (form == FORM_NULL || form == FORM_OTHER) return;
  if (form == FORM_MULTIPOINT) recordWord(record, kCountAt) = n;
  if (form == FORM_LINES || form == FORM_PATCH) {
    recordWord(record, kNumPointsAt) = n;
    if (parts && p > 0) {
      recordWord(record, kCountAt) = p;
    } else {
      recordWord(record, kCountAt) = 1;
      recordWord(record, kPartsAt) = n;
    }
  }
  if (points) setRecordPoints(record, points, 0, n);
  if (parts && p > 0) {
    setRecordParts(record, parts, 0, p);
    if (partTypes && form == FORM_PATCH) setRecordPartTypes(record, partTypes, 0, p);
  }
  if (z) setRecordZ(record, z, 0, n);
  if (m) setRecordM(record, m, 0, n);
}

/* The size of a new record of the store's type: no parts count as one. */
int64_t newRecordSize(const ShapeFile *store, int n, int p) {
  return shapeRecordSize(store->header.shapeType, n, p > 0 ? p : 1);
}

int takeRecordNumber(ShapeFile *store, int number) {
  return number > 0 ? number : store->nextNumber++;
}

/* Ranges of the header: each one set by the first record that has it. */
struct RangeState {
  bool box = false, z = false, m = false;
};

void widen(double &lo, double &hi, double a, double b, bool &set) {
  if (!set) {
    lo = a;
    hi = b;
    set = true;
  } else {
    lo = lesser(lo, a);
    hi = greater(hi, b);
  }
}

void addRecordRanges(ShapeFileHeader &header, RangeState &state, ShapeRecord *record) {
  int type = shapeRecordType(record);
  if (type == SHP_NULL) return;
  bool boxSet = state.box;
  if (ShapeDouble *box = getRecordBox(record)) {
    widen(header.xmin, header.xmax, box[0], box[2], state.box);
    widen(header.ymin, header.ymax, box[1], box[3], boxSet);
  } else if (shapeForm(type) == FORM_POINT) {
    int n;
    ShapeDouble *point = getRecordPoints(record, &n);
    widen(header.xmin, header.xmax, point[0], point[0], state.box);
    widen(header.ymin, header.ymax, point[1], point[1], boxSet);
  }
  double lo, hi;
  if (getRecordZ(record, &lo, &hi)) widen(header.zmin, header.zmax, lo, hi, state.z);
  if (getRecordM(record, &lo, &hi)) widen(header.mmin, header.mmax, lo, hi, state.m);
}

/* The bytes of a file opened read-only, at most limit of them. */
bool readWholeFile(int fd, int64_t limit, std::vector<unsigned char> &bytes) {
  struct stat info;
  if (fstat(fd, &info) != 0) return false;
  int64_t size = std::min<int64_t>(info.st_size, limit);
  bytes.resize(static_cast<size_t>(size));
  return getFileData(fd, bytes.data(), size, 0, 0) == size;
}

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

/* Buffered writes to a file descriptor from a given offset. */
struct ShapeWriter {
  int fd;
  off_t at;
  std::vector<unsigned char> pending;
  bool ok = true;

  void put(const void *bytes, size_t n) {
    const unsigned char *from = static_cast<const unsigned char *>(bytes);
    pending.insert(pending.end(), from, from + n);
    if (pending.size() >= (1u << 20)) flush();
  }
  void putBig32(int32_t value) {
    value = swapLong(value);
    put(&value, 4);
  }
  bool flush() {
    if (ok && !pending.empty()) {
      int64_t n = static_cast<int64_t>(pending.size());
      ok = putFileData(fd, pending.data(), n, at, 0) == n;
      at += n;
    }
    pending.clear();
    return ok;
  }
};

const char *const shapeDisplayNames[][2] = {
    {"0", "NullShape"},    {"1", "Point"},       {"3", "PolyLine"},    {"5", "Polygon"},
    {"8", "MultiPoint"},   {"11", "PointZ"},     {"13", "PolylineZ"},  {"15", "PolygonZ"},
    {"18", "MultiPointZ"}, {"21", "PointM"},     {"23", "PolylineM"},  {"25", "PolygonM"},
    {"28", "MultiPointM"}, {"31", "MultiPatch"},
};

}  // namespace

/* ---- shape types ---- */

bool shapeTypeHasZ(int type) {
  return type == 11 || type == 13 || type == 15 || type == 18 || type == 31;
}

/* MULTIPOINTM holds M values like every other M type. */
bool shapeTypeHasM(int type) {
  return type == 11 || type == 13 || type == 15 || type == 18 || type == 21 || type == 23 ||
         type == 25 || type == 28 || type == 31;
}

bool shapeTypeIsPolygon(int type) { return type == 5 || type == 15 || type == 25; }

bool shapeTypeHasParts(int type) {
  return type == 3 || type == 5 || type == 13 || type == 15 || type == 23 || type == 25;
}

/*
 * shapeRecordSize --
 *     Byte size of a record of the type with n points and p parts, the
 *     8-byte record header included.
 */
int64_t shapeRecordSize(int type, int64_t n, int64_t p) {
  switch (type) {
  case 1: return 28;
  case 3: case 5: return 52 + 4 * p + 16 * n;
  case 8: return 48 + 16 * n;
  case 11: return 44;
  case 13: case 15: return 84 + 4 * p + 32 * n;
  case 18: return 80 + 32 * n;
  case 21: return 36;
  case 23: case 25: return 68 + 4 * p + 24 * n;
  case 28: return 64 + 24 * n;
  case 31: return 84 + 8 * p + 32 * n;
  default: return 12;
  }
}

const char *shapeTypeDisplayName(int type) {
  for (const auto &row : shapeDisplayNames)
    if (atoi(row[0]) == type) return row[1];
  return "Unknown";
}

/* ---- headers ---- */

void decodeShapeHeader(const unsigned char *bytes, ShapeFileHeader &header) {
  int32_t words[9];
  memcpy(words, bytes, sizeof words);
  header.fileCode = swapLong(words[0]);
  for (int i = 0; i < 5; i++) header.unused[i] = words[1 + i];
  header.fileLength = swapLong(words[6]);
  header.version = words[7];
  header.shapeType = words[8];
  double ranges[8];
  memcpy(ranges, bytes + 36, sizeof ranges);
  header.xmin = ranges[0];
  header.ymin = ranges[1];
  header.xmax = ranges[2];
  header.ymax = ranges[3];
  header.zmin = ranges[4];
  header.zmax = ranges[5];
  header.mmin = ranges[6];
  header.mmax = ranges[7];
}

void encodeShapeHeader(const ShapeFileHeader &header, unsigned char *bytes) {
  int32_t words[9] = {swapLong(header.fileCode), header.unused[0], header.unused[1],
                      header.unused[2], header.unused[3], header.unused[4],
                      swapLong(header.fileLength), header.version, header.shapeType};
  memcpy(bytes, words, sizeof words);
  double ranges[8] = {header.xmin, header.ymin, header.xmax, header.ymax,
                      header.zmin, header.zmax, header.mmin, header.mmax};
  memcpy(bytes + 36, ranges, sizeof ranges);
}

ShapeFileHeader newShapeHeader(int type) {
  ShapeFileHeader header;
  header.fileCode = kShapeFileCode;
  header.fileLength = kShapeHeaderSize / 2;
  header.version = kShapeVersion;
  header.shapeType = type;
  return header;
}

/*
 * getShapeHead --
 *     Reads the header of a main (or index) file.
 * Results:      the header, or NULL with status 0 when the file cannot be
 *     opened, 2 when it is short or not a shapefile.
 */
std::unique_ptr<ShapeFileHeader> getShapeHead(const char *path, int *status) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    if (status) *status = 0;
    return nullptr;
  }
  FdCloser closer{fd};
  std::unique_ptr<ShapeFileHeader> header(new (std::nothrow) ShapeFileHeader);
  if (!header) {
    vesk_fprintf(stderr, "Error in malloc in getShapeHead\n");
    if (status) *status = 3;
    return nullptr;
  }
  unsigned char bytes[kShapeHeaderSize];
  if (getFileData(fd, bytes, kShapeHeaderSize, 0, 0) != kShapeHeaderSize) {
    vesk_fprintf(stderr, "Error in reading in getShapeHead\n");
    if (status) *status = 2;
    return nullptr;
  }
  decodeShapeHeader(bytes, *header);
  if (header->fileCode != kShapeFileCode) {
    vesk_fprintf(stderr, "Invalid shape ID\n");
    if (status) *status = 2;
    return nullptr;
  }
  return header;
}

/*
 * saveShapeHead --
 *     Writes the header at the start of an open file, with the file length
 *     taken from the file's size.  The header itself always counts: a file
 *     with nothing after it yet (no records, no index entries) gets the
 *     length 50, not the 0 of its still empty body, so that it reads back.
 * Results:      1, or 0 after a message.
 * Side effects: sets the header's file length.
 */
int saveShapeHead(int fd, ShapeFileHeader *header) {
  struct stat info;
  if (fstat(fd, &info) != 0) {
    vesk_fprintf(stderr, "Error in writing in saveShapeHead\n");
    return 0;
  }
  header->fileLength =
      static_cast<int32_t>(std::max<int64_t>(info.st_size, kShapeHeaderSize) / 2);
  if (header->fileCode != kShapeFileCode) {
    vesk_fprintf(stderr, "Invalid shape ID\n");
    return 0;
  }
  unsigned char bytes[kShapeHeaderSize];
  encodeShapeHeader(*header, bytes);
  if (putFileData(fd, bytes, kShapeHeaderSize, 0, 1) != kShapeHeaderSize) {
    vesk_fprintf(stderr, "Error in writing in saveShapeHead\n");
    return 0;
  }
  return 1;
}

/* ---- index file ---- */

std::string shapeIndexPath(const char *path) {
  std::string index = path ? path : "";
  if (!index.empty()) index.back() = 'x';
  return index;
}

/*
 * decodeShapeIndex --
 *     Decodes the entries of an index file held in memory and checks them
 *     against the main file's length.
 * Results:      true with the entries when they account for the main file
 *     exactly; false (no entries) after a message otherwise.
 */
bool decodeShapeIndex(const unsigned char *data, size_t size, int32_t mainFileLength,
                      std::vector<ShapeIndexEntry> &entries) {
  entries.clear();
  size_t count = size > kShapeHeaderSize ? (size - kShapeHeaderSize) / 8 : 0;
  int64_t words = kShapeHeaderSize / 2;
  try {
    entries.resize(count);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "\ngmemAlloc error in memAlloc: %s.\n", "readShapeIndex");
    entries.clear();
    return false;
  }
  for (size_t k = 0; k < count; k++) {
    int32_t pair[2];
    memcpy(pair, data + kShapeHeaderSize + 8 * k, 8);
    entries[k].offset = swapLong(pair[0]);
    entries[k].length = swapLong(pair[1]);
    words += static_cast<int64_t>(entries[k].length) + 4;
  }
  if (words != mainFileLength) {
    vesk_fprintf(stderr,
                 "Inconsistent shape sizes - file length:%d words; index length:%d words\n",
                 mainFileLength, static_cast<int>(std::clamp<int64_t>(words, INT_MIN, INT_MAX)));
    entries.clear();
    return false;
  }
  return true;
}

/*
 * readShapeIndex --
 *     Reads the index file of a main file.
 * Results:      true with the entries; false with none and status 0 when
 *     the index cannot be opened, 1 when the main header cannot be read,
 *     2 when the index does not match the main file.
 */
bool readShapeIndex(const char *path, std::vector<ShapeIndexEntry> &entries, int *status) {
  entries.clear();
  std::string indexPath = shapeIndexPath(path);
  int fd = open(indexPath.c_str(), O_RDONLY);
  if (fd < 0) {
    vesk_fprintf(stderr, "Error in open:%s\n", indexPath.c_str());
    if (status) *status = 0;
    return false;
  }
  FdCloser closer{fd};
  std::unique_ptr<ShapeFileHeader> header = getShapeHead(path, nullptr);
  if (!header) {
    if (status) *status = 1;
    return false;
  }
  std::vector<unsigned char> bytes;
  try {
    if (!readWholeFile(fd, kShapeMaxBytes, bytes)) {
      if (status) *status = 2;
      return false;
    }
  } catch (const std::bad_alloc &) {
    if (status) *status = 3;
    return false;
  }
  if (!decodeShapeIndex(bytes.data(), bytes.size(), header->fileLength, entries)) {
    if (status) *status = 2;
    return false;
  }
  return true;
}

/*
 * countShapeIndex --
 *     The number of entries of a main file's index, from the index file's
 *     size after checking its header.
 */
int countShapeIndex(const char *path, int *count) {
  std::string indexPath = shapeIndexPath(path);
  int fd = open(indexPath.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  FdCloser closer{fd};
  struct stat info;
  unsigned char bytes[kShapeHeaderSize];
  if (fstat(fd, &info) != 0 || info.st_size < kShapeHeaderSize ||
      getFileData(fd, bytes, kShapeHeaderSize, 0, 0) != kShapeHeaderSize)
    return 0;
  ShapeFileHeader header;
  decodeShapeHeader(bytes, header);
  if (header.fileCode != kShapeFileCode) return 0;
  int64_t entries = (info.st_size - kShapeHeaderSize) / 8;
  if (entries > INT_MAX) return 0;
  *count = static_cast<int>(entries);
  return 1;
}

/* ---- opening ---- */

/*
 * decodeShapeFile --
 *     Builds a store from the bytes of a main file, with the content
 *     lengths of its index when given.  Every count, length and part start
 *     is checked against the record and the data before it is used.
 * Results:      the store, or NULL after a message with status 2 (not a
 *     readable shapefile) or 3 (no memory).
 */
ShapeFile *decodeShapeFile(const unsigned char *data, size_t size,
                           const std::vector<ShapeIndexEntry> *index, const char *name,
                           int *status) {
  auto fail = [status](int code) -> ShapeFile * {
    if (status) *status = code;
    return nullptr;
  };
  if (!name) name = "";
  if (size < kShapeHeaderSize) {
    vesk_fprintf(stderr, "Error in reading in getShapeHead\n");
    return fail(2);
  }
  ShapeFileHeader header;
  decodeShapeHeader(data, header);
  if (header.fileCode != kShapeFileCode) {
    vesk_fprintf(stderr, "Invalid shape ID\n");
    return fail(2);
  }
  int64_t fileBytes = 2 * static_cast<int64_t>(header.fileLength);
  if (fileBytes < kShapeHeaderSize || fileBytes > static_cast<int64_t>(size)) {
    vesk_fprintf(stderr,
                 "Error in openShapeFile: %s holds %lld bytes, its header claims %lld\n", name,
                 static_cast<long long>(size), static_cast<long long>(fileBytes));
    return fail(2);
  }
  int64_t dataSize = fileBytes - kShapeHeaderSize;

  std::unique_ptr<ShapeFile> store(new (std::nothrow) ShapeFile);
  if (!store) return fail(3);
  store->header = header;
  store->records = static_cast<unsigned char *>(malloc(static_cast<size_t>(dataSize) + 12));
  if (!store->records) return fail(3);
  store->bufferSize = dataSize + kShapeTerminatorSize;
  memcpy(store->records, data + kShapeHeaderSize, static_cast<size_t>(dataSize));
  unsigned char *records = store->records;

  auto corrupt = [&](int64_t k, const char *what) -> ShapeFile * {
    vesk_fprintf(stderr, "Error in openShapeFile: %s: record %lld: %s\n", name,
                 static_cast<long long>(k), what);
    freeShapeFile(store.release());
    return fail(2);
  };

  /* Walk, convert and check the records; stop at the first unnumbered one. */
  int64_t at = 0, k = 0, growBy = 0;
  int corrected = 0;
  std::vector<int64_t> offsets;
  try {
    while (at < dataSize) {
      if (dataSize - at < 8) return corrupt(k, "record header cut off");
      ShapeRecord *record = records + at;
      int32_t number = swapLong(recordWord(record, kNumberAt));
      int32_t length = swapLong(recordWord(record, kLengthAt));
      if (number <= 0) break;
      if (index && static_cast<size_t>(k) < index->size() &&
          (*index)[static_cast<size_t>(k)].length != length) {
        corrected++;
        length = (*index)[static_cast<size_t>(k)].length;
      }
      recordWord(record, kNumberAt) = number;
      recordWord(record, kLengthAt) = length;
      int64_t bytes = 8 + 2 * static_cast<int64_t>(length);
      if (length < 2 || bytes > dataSize - at) return corrupt(k, "content length out of range");
      if (bytes % 4 != 0) return corrupt(k, "content length not a whole number of words");
      int type = recordWord(record, kTypeAt);
      ShapeForm form = shapeForm(type);
      int64_t n = 0, p = 0;
      if (form == FORM_MULTIPOINT) {
        if (bytes < kMultiPointsAt) return corrupt(k, "content length out of range");
        n = recordWord(record, kCountAt);
      } else if (form == FORM_LINES || form == FORM_PATCH) {
        if (bytes < kPartsAt) return corrupt(k, "content length out of range");
        p = recordWord(record, kCountAt);
        n = recordWord(record, kNumPointsAt);
      }
      if (n < 0 || p < 0) return corrupt(k, "negative point or part count");
      const int64_t full = shapeRecordSize(type, n, p);
      if (full - optionalMeasureBytes(type, n) > bytes)
        return corrupt(k, "point and part counts exceed the record");
      if (full > bytes) growBy += full - bytes;
      if (form == FORM_LINES || form == FORM_PATCH) {
        /* Part starts must rise within the points; they become lengths. */
        int32_t *parts = &recordWord(record, kPartsAt);
        for (int64_t j = 0; j < p; j++) {
          int64_t next = j + 1 < p ? parts[j + 1] : n;
          if (parts[j] < 0 || parts[j] > next) return corrupt(k, "part starts out of order");
        }
        int64_t nextStart = n;
        for (int64_t j = p - 1; j >= 0; j--) {
          int64_t start = parts[j];
          parts[j] = static_cast<int32_t>(nextStart - start);
          nextStart = start;
        }
      }
      offsets.push_back(at);
      at += bytes;
      k++;
    }
  } catch (const std::bad_alloc &) {
    freeShapeFile(store.release());
    return fail(3);
  }
  if (corrected > 0) vesk_fprintf(stderr, "bad record nWords: %d\n", corrected);

  /* Z records without measures get a zero M block, as new records have. */
  if (growBy > 0) {
    if (kShapeHeaderSize + at + growBy > kShapeMaxBytes)
      return corrupt(k, "records too long once their measures are added");
    auto *grown = static_cast<unsigned char *>(malloc(static_cast<size_t>(at + growBy) + 12));
    if (!grown) {
      freeShapeFile(store.release());
      return fail(3);
    }
    int64_t to = 0;
    for (int64_t &offset : offsets) {
      const ShapeRecord *from = records + offset;
      const int64_t bytes = shapeRecordBytes(from);
      int64_t n, p;
      recordCounts(from, n, p);
      const int64_t full = std::max(bytes, shapeRecordSize(recordWord(from, kTypeAt), n, p));
      memcpy(grown + to, from, static_cast<size_t>(bytes));
      memset(grown + to + bytes, 0, static_cast<size_t>(full - bytes));
      recordWord(grown + to, kLengthAt) = static_cast<int32_t>((full - 8) / 2);
      offset = to;
      to += full;
    }
    free(store->records);
    store->records = records = grown;
    store->bufferSize = to + kShapeTerminatorSize;
    at = to;
  }
  /* The length follows what is kept: records after an unnumbered one are
     dropped, measures may have been added. */
  if (at != dataSize) {
    store->header.fileLength = static_cast<int32_t>((kShapeHeaderSize + at) / 2);
  }
  writeTerminator(records + at);
  try {
    store->offsets = std::move(offsets);
    store->flags.assign(store->offsets.size(), RECORD_SELECTED);
  } catch (const std::bad_alloc &) {
    freeShapeFile(store.release());
    return fail(3);
  }
  store->count = static_cast<int32_t>(store->offsets.size());
  store->nextNumber = store->count + 1;
  store->dirty = 0;
  store->path = name;
  return store.release();
}

/*
 * openShapeFile --
 *     A new store from a main file and its index file.
 * Results:      the store, or NULL with status 2 (the file cannot be read
 *     or is not a sound shapefile) or 3 (no memory).
 */
ShapeFile *openShapeFile(const char *path, int *status) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    if (status) *status = 2;
    return nullptr;
  }
  std::vector<unsigned char> bytes;
  try {
    bool read = readWholeFile(fd, kShapeMaxBytes, bytes);
    close(fd);
    if (!read) {
      vesk_fprintf(stderr, "Error in reading in getShapeHead\n");
      if (status) *status = 2;
      return nullptr;
    }
  } catch (const std::bad_alloc &) {
    close(fd);
    if (status) *status = 3;
    return nullptr;
  }
  /* The index is read only for a plausible main file with records. */
  std::vector<ShapeIndexEntry> entries;
  bool haveIndex = false;
  if (bytes.size() > kShapeHeaderSize) {
    ShapeFileHeader header;
    decodeShapeHeader(bytes.data(), header);
    if (header.fileCode == kShapeFileCode && header.fileLength > kShapeHeaderSize / 2)
      haveIndex = readShapeIndex(path, entries, nullptr);
  }
  return decodeShapeFile(bytes.data(), bytes.size(), haveIndex ? &entries : nullptr, path,
                         status);
}

ShapeFile *newShapeFile(int type, const int32_t *partCounts, const int32_t *pointCounts, int n) {
  if (n < 0) return nullptr;
  int64_t total = 0;
  for (int i = 0; i < n; i++) {
    int64_t p = partCounts ? partCounts[i] : 0, points = pointCounts ? pointCounts[i] : 0;
    if (p < 0 || points < 0) return nullptr;
    total += shapeRecordSize(type, points, p);
    if (total > kShapeMaxBytes) return nullptr;
  }
  std::unique_ptr<ShapeFile> store(new (std::nothrow) ShapeFile);
  if (!store) return nullptr;
  store->header = newShapeHeader(type);
  if (2 * static_cast<int64_t>(store->header.fileLength) + total > kShapeMaxBytes) return nullptr;
  store->records = static_cast<unsigned char *>(malloc(static_cast<size_t>(total) + 12));
  if (!store->records) return nullptr;
  store->bufferSize = total + kShapeTerminatorSize;
  try {
    store->offsets.reserve(static_cast<size_t>(n));
    store->flags.assign(static_cast<size_t>(n), RECORD_SELECTED);
  } catch (const std::bad_alloc &) {
    freeShapeFile(store.release());
    return nullptr;
  }
  int64_t at = 0;
  ShapeForm form = shapeForm(type);
  for (int i = 0; i < n; i++) {
    int32_t p = partCounts ? partCounts[i] : 0, points = pointCounts ? pointCounts[i] : 0;
    int64_t s = shapeRecordSize(type, points, p);
    ShapeRecord *record = store->records + at;
    memset(record, 0, static_cast<size_t>(s));
    recordWord(record, kNumberAt) = i + 1;
    recordWord(record, kLengthAt) = static_cast<int32_t>((s - 8) / 2);
    recordWord(record, kTypeAt) = type;
    if (form == FORM_MULTIPOINT) recordWord(record, kCountAt) = points;
    if (form == FORM_LINES || form == FORM_PATCH) {
      recordWord(record, kCountAt) = p;
      recordWord(record, kNumPointsAt) = points;
    }
    store->offsets.push_back(at);
    at += s;
  }
  writeTerminator(store->records + at);
  store->header.fileLength += static_cast<int32_t>(total / 2);
  store->count = n;
  store->nextNumber = n + 1;
  store->dirty = 1;
  return store.release();
}

ShapeFile *cloneShapeFile(const ShapeFile *store) {
  if (!store) return nullptr;
  std::unique_ptr<ShapeFile> copy(new (std::nothrow) ShapeFile);
  if (!copy) return nullptr;
  try {
    copy->path = store->path;
    copy->offsets = store->offsets;
    copy->flags = store->flags;
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  copy->header = store->header;
  if (store->records) {
    copy->records = static_cast<unsigned char *>(malloc(static_cast<size_t>(store->bufferSize)));
    if (!copy->records) return nullptr;
    memcpy(copy->records, store->records, static_cast<size_t>(shapeDataEnd(store) + 12));
  }
  copy->bufferSize = store->bufferSize;
  copy->lockCount = store->lockCount;
  copy->purgePending = store->purgePending;
  copy->count = store->count;
  copy->nextNumber = store->nextNumber;
  copy->dirty = 1;
  return copy.release();
}

/*
 * copySelectedShapes --
 *     A new store of the same type holding copies of the selected records,
 *     numbered by their index in the source plus one.
 * Results:      the store, or NULL when nothing is selected or memory runs
 *     out.
 */
ShapeFile *copySelectedShapes(const ShapeFile *store) {
  if (!store || countSelectedShapes(store) == 0) return nullptr;
  std::unique_ptr<ShapeFile, void (*)(ShapeFile *)> copy(
      newShapeFile(store->header.shapeType, nullptr, nullptr, 0), freeShapeFile);
  if (!copy) return nullptr;
  for (int i = 0; i < store->count; i++) {
    if (!(store->flags[static_cast<size_t>(i)] & RECORD_SELECTED)) continue;
    ShapeRecord *from = getShapeRecord(store, i);
    int64_t s = shapeRecordBytes(from);
    if (!reserveShapeRoom(copy.get(), s, 1)) return nullptr;
    int64_t at = shapeDataEnd(copy.get());
    ShapeRecord *record = copy->records + at;
    memcpy(record, from, static_cast<size_t>(s));
    recordWord(record, kNumberAt) = i + 1;
    writeTerminator(record + s);
    copy->offsets.push_back(at);
    copy->flags.push_back(RECORD_SELECTED);
    copy->count++;
    copy->header.fileLength += static_cast<int32_t>(s / 2);
    /* Records added later are numbered after the last copied one, not
     * from 1 again, which would repeat the numbers of the copies. */
    copy->nextNumber = i + 2;
  }
  copy->dirty = 1;
  return copy.release();
}

void freeShapeFile(ShapeFile *store) {
  if (!store) return;
  free(store->records);
  delete store;
}

int setShapeProjection(ShapeFile *store, const char *text) {
  size_t length = text ? strlen(text) : 0;
  if (length >= kShapeTextLimit) return 0;
  store->projection.assign(text ? text : "", length);
  return static_cast<int>(length);
}

/* ---- records ---- */

ShapeRecord *getShapeRecord(const ShapeFile *store, int i) {
  if (!store || !store->records || i < 0 || i >= store->count) return nullptr;
  return store->records + store->offsets[static_cast<size_t>(i)];
}

ShapeRecord *nextShapeRecord(ShapeRecord *record) { return record + shapeRecordBytes(record); }

int32_t shapeRecordNumber(const ShapeRecord *record) { return recordWord(record, kNumberAt); }
int32_t shapeRecordType(const ShapeRecord *record) { return recordWord(record, kTypeAt); }
int64_t shapeRecordBytes(const ShapeRecord *record) {
  return 8 + 2 * static_cast<int64_t>(recordWord(record, kLengthAt));
}

ShapeDouble *getRecordBox(ShapeRecord *record) {
  ShapeForm form = shapeForm(shapeRecordType(record));
  if (form == FORM_MULTIPOINT || form == FORM_LINES || form == FORM_PATCH)
    return recordDoubles(record, kBoxAt);
  return nullptr;
}

int32_t *getRecordParts(ShapeRecord *record, int *count) {
  int64_t n, p;
  recordCounts(record, n, p);
  switch (shapeForm(shapeRecordType(record))) {
  case FORM_POINT: *count = 1; return nullptr;
  case FORM_MULTIPOINT: *count = static_cast<int>(n); return nullptr;
  case FORM_LINES:
  case FORM_PATCH: *count = static_cast<int>(p); return &recordWord(record, kPartsAt);
  default: *count = 0; return nullptr;
  }
}

ShapeDouble *getRecordPoints(ShapeRecord *record, int *count) {
  int64_t n, p;
  recordCounts(record, n, p);
  ShapeLayout at = shapeLayout(shapeRecordType(record), n, p);
  *count = at.points < 0 ? 0 : static_cast<int>(n);
  return at.points < 0 ? nullptr : recordDoubles(record, at.points);
}

/* The Z or M array of a record and its range, from the layout's places. */
static ShapeDouble *recordValues(ShapeRecord *record, bool wantZ, double *min, double *max) {
  ShapeLayout at = recordLayout(record);
  int64_t array = wantZ ? at.zArray : at.mArray, range = wantZ ? at.zRange : at.mRange;
  if (array < 0) return nullptr;
  ShapeDouble *values = recordDoubles(record, array);
  if (range < 0) {
    if (min) *min = values[0];
    if (max) *max = values[0];
  } else {
    if (min) *min = recordDoubles(record, range)[0];
    if (max) *max = recordDoubles(record, range)[1];
  }
  return values;
}

ShapeDouble *getRecordZ(ShapeRecord *record, double *min, double *max) {
  return recordValues(record, true, min, max);
}

ShapeDouble *getRecordM(ShapeRecord *record, double *min, double *max) {
  return recordValues(record, false, min, max);
}

int32_t *getRecordPartTypes(ShapeRecord *record, int *count) {
  ShapeLayout at = recordLayout(record);
  if (at.partTypes < 0) {
    if (count) *count = 0;
    return nullptr;
  }
  if (count) *count = recordWord(record, kCountAt);
  return &recordWord(record, at.partTypes);
}

/*
 * setRecordPoints --
 *     Copies n points (x, y pairs) into the record from point `start` on,
 *     never past its point count, then sets its box from all its points.
 * Results:      the number of points copied.
 */
int setRecordPoints(ShapeRecord *record, const double *points, int start, int n) {
  int count;
  ShapeDouble *to = getRecordPoints(record, &count);
  if (!to || start < 0) return 0;
  int copied = 0;
  for (; copied < n && start + copied < count; copied++) {
    to[2 * (start + copied)] = points[2 * copied];
    to[2 * (start + copied) + 1] = points[2 * copied + 1];
  }
  recomputeRecordBox(record);
  return copied;
}

/*
 * setRecordParts --
 *     Copies part lengths from slot `start` on while slots remain; stops
 *     before a length that is negative or above the record's point count.
 */
int setRecordParts(ShapeRecord *record, const int32_t *lengths, int start, int n) {
  int partCount, pointCount;
  int32_t *to = getRecordParts(record, &partCount);
  getRecordPoints(record, &pointCount);
  if (!to || start < 0) return 0;
  int copied = 0;
  for (; copied < n && start + copied < partCount; copied++) {
    if (lengths[copied] < 0 || lengths[copied] > pointCount) break;
    to[start + copied] = lengths[copied];
  }
  return copied;
}

int setRecordPartTypes(ShapeRecord *record, const int32_t *types, int start, int n) {
  int partCount;
  int32_t *to = getRecordPartTypes(record, &partCount);
  if (!to || start < 0) return 0;
  int copied = 0;
  for (; copied < n && start + copied < partCount; copied++) to[start + copied] = types[copied];
  return copied;
}

/* Copies Z or M values and, where the record keeps a range, resets it:
 * after a single value too, so that the range always covers the values. */
static int setRecordValues(ShapeRecord *record, bool z, const double *values, int start, int n) {
  ShapeLayout at = recordLayout(record);
  int64_t array = z ? at.zArray : at.mArray, range = z ? at.zRange : at.mRange;
  int count;
  getRecordPoints(record, &count);
  if (array < 0 || start < 0) return 0;
  ShapeDouble *to = recordDoubles(record, array);
  int copied = 0;
  for (; copied < n && start + copied < count; copied++) to[start + copied] = values[copied];
  if (copied > 0 && range >= 0) {
    ShapeDouble *limits = recordDoubles(record, range);
    limits[0] = limits[1] = to[0];
    for (int i = 1; i < count; i++) {
      limits[0] = lesser(limits[0], to[i]);
      limits[1] = greater(limits[1], to[i]);
    }
  }
  return copied;
}

int setRecordZ(ShapeRecord *record, const double *values, int start, int n) {
  return setRecordValues(record, true, values, start, n);
}

int setRecordM(ShapeRecord *record, const double *values, int start, int n) {
  return setRecordValues(record, false, values, start, n);
}

/* Sets the box of a record that has one from its points. */
void recomputeRecordBox(ShapeRecord *record) {
  ShapeDouble *box = getRecordBox(record);
  int count;
  ShapeDouble *points = getRecordPoints(record, &count);
  if (!box || !points || count < 1) return;
  double xmin = points[0], ymin = points[1], xmax = points[0], ymax = points[1];
  for (int i = 1; i < count; i++) {
    xmin = lesser(xmin, points[2 * i]);
    xmax = greater(xmax, points[2 * i]);
    ymin = lesser(ymin, points[2 * i + 1]);
    ymax = greater(ymax, points[2 * i + 1]);
  }
  box[0] = xmin;
  box[1] = ymin;
  box[2] = xmax;
  box[3] = ymax;
}

/*
 * recomputeShapeRanges --
 *     Sets the header's box, Z range and M range from the records (each
 *     from the first record that has it, widened by the rest), first
 *     recomputing every record's box when asked.  Ranges no record has
 *     keep their values; a store without records is left alone.
 */
void recomputeShapeRanges(ShapeFile *store, int recomputeBoxes) {
  if (!store || store->count == 0) return;
  RangeState state;
  for (int i = 0; i < store->count; i++) {
    ShapeRecord *record = getShapeRecord(store, i);
    if (recomputeBoxes) recomputeRecordBox(record);
    addRecordRanges(store->header, state, record);
  }
  store->dirty = 1;
}

ShapeRecord *addShapeRecord(ShapeFile *store, int number, const double *points, int n,
                            const int32_t *parts, int p, const double *z, const double *m,
                            const int32_t *partTypes) {
  if (!store || n < 0) return nullptr;
  int64_t s = newRecordSize(store, n, p);
  if (!reserveShapeRoom(store, s, 1)) return nullptr;
  int64_t at = shapeDataEnd(store);
  ShapeRecord *record = store->records + at;
  fillShapeRecord(record, store->header.shapeType, takeRecordNumber(store, number), s, points, n,
                  parts, p, z, m, partTypes);
  writeTerminator(record + s);
  store->offsets.push_back(at);
  store->flags.push_back(RECORD_SELECTED);
  store->count++;
  store->header.fileLength += static_cast<int32_t>(s / 2);
  store->dirty = 1;
  return record;
}

ShapeRecord *insertShapeRecord(ShapeFile *store, int i, int number, const double *points, int n,
                               const int32_t *parts, int p, const double *z, const double *m,
                               const int32_t *partTypes) {
  if (!store || n < 0) return nullptr;
  if (i >= store->count) return addShapeRecord(store, number, points, n, parts, p, z, m, partTypes);
  if (i < 0) i = 0;
  int64_t s = newRecordSize(store, n, p);
  if (!reserveShapeRoom(store, s, 1)) return nullptr;
  int64_t at = store->offsets[static_cast<size_t>(i)];
  int64_t end = shapeDataEnd(store);
  memmove(store->records + at + s, store->records + at, static_cast<size_t>(end - at));
  writeTerminator(store->records + end + s);
  store->offsets.insert(store->offsets.begin() + i, at);
  store->flags.insert(store->flags.begin() + i, RECORD_SELECTED);
  for (size_t j = static_cast<size_t>(i) + 1; j < store->offsets.size(); j++)
    store->offsets[j] += s;
  store->count++;
  ShapeRecord *record = store->records + at;
  fillShapeRecord(record, store->header.shapeType, takeRecordNumber(store, number), s, points, n,
                  parts, p, z, m, partTypes);
  store->header.fileLength += static_cast<int32_t>(s / 2);
  store->dirty = 1;
  return record;
}

ShapeRecord *replaceShapeRecord(ShapeFile *store, int i, int number, const double *points, int n,
                                const int32_t *parts, int p, const double *z, const double *m,
                                const int32_t *partTypes) {
  if (!store || n < 0) return nullptr;
  if (i >= store->count || i < 0)
    return addShapeRecord(store, number, points, n, parts, p, z, m, partTypes);
  int64_t s = newRecordSize(store, n, p);
  int64_t at = store->offsets[static_cast<size_t>(i)];
  int64_t old = shapeRecordBytes(store->records + at);
  int64_t d = s - old;
  if (!reserveShapeRoom(store, d, 0)) return nullptr;
  int32_t keptNumber = shapeRecordNumber(store->records + at);
  int64_t end = shapeDataEnd(store);
  if (d != 0) {
    int64_t from = at + old;
    memmove(store->records + from + d, store->records + from,
            static_cast<size_t>(end - from + kShapeTerminatorSize));
    for (size_t j = static_cast<size_t>(i) + 1; j < store->offsets.size(); j++)
      store->offsets[j] += d;
  }
  ShapeRecord *record = store->records + at;
  fillShapeRecord(record, store->header.shapeType, keptNumber, s, points, n, parts, p, z, m,
                  partTypes);
  writeTerminator(store->records + end + d);
  store->header.fileLength += static_cast<int32_t>(d / 2);
  store->dirty = 1;
  return record;
}

/*
 * eraseShapeRecords --
 *     Removes records first..last (clamped to the store) and shrinks the
 *     buffer and tables to fit.
 * Results:      1.
 */
int eraseShapeRecords(ShapeFile *store, int first, int last) {
  if (!store || store->count == 0) return 1;
  first = std::max(first, 0);
  last = std::min(last, store->count - 1);
  if (first > last) return 1;
  int64_t from = store->offsets[static_cast<size_t>(first)];
  int64_t lastAt = store->offsets[static_cast<size_t>(last)];
  int64_t removed = lastAt + shapeRecordBytes(store->records + lastAt) - from;
  int64_t end = shapeDataEnd(store);
  memmove(store->records + from, store->records + from + removed,
          static_cast<size_t>(end - from - removed));
  for (size_t j = static_cast<size_t>(last) + 1; j < store->offsets.size(); j++)
    store->offsets[j] -= removed;
  store->offsets.erase(store->offsets.begin() + first, store->offsets.begin() + last + 1);
  store->flags.erase(store->flags.begin() + first, store->flags.begin() + last + 1);
  store->offsets.shrink_to_fit();
  store->flags.shrink_to_fit();
  store->count -= last - first + 1;
  writeTerminator(store->records + end - removed);
  if (void *shrunk = realloc(store->records, static_cast<size_t>(store->bufferSize - removed))) {
    store->records = static_cast<unsigned char *>(shrunk);
    store->bufferSize -= removed;
  }
  store->header.fileLength -= static_cast<int32_t>(removed / 2);
  store->dirty = 1;
  return 1;
}

/*
 * setShapeRecordContent --
 *     Refills record i in place, without changing its size: its counts
 *     become n points in p parts, then the points, part lengths, part
 *     types, Z and M given are copied in.  A record of another type, or
 *     too small for n points in p parts, is left alone.
 * Results:      n when everything fitted, else 0.
 */
int setShapeRecordContent(ShapeFile *store, int i, const double *points, int n,
                          const int32_t *parts, int p, const double *z, const double *m,
                          const int32_t *partTypes) {
  ShapeRecord *record = getShapeRecord(store, i);
  int type = store ? store->header.shapeType : SHP_NULL;
  if (!record || n < 0 || p < 0 || shapeRecordType(record) != type) return 0;
  ShapeForm form = shapeForm(type);
  if (form == FORM_POINT && n != 1) return 0;
  if (shapeRecordSize(type, n, p) > shapeRecordBytes(record)) return 0;
  if (form == FORM_MULTIPOINT) recordWord(record, kCountAt) = n;
  if (form == FORM_LINES || form == FORM_PATCH) {
    recordWord(record, kCountAt) = p;
    recordWord(record, kNumPointsAt) = n;
  }
  bool complete = points ? setRecordPoints(record, points, 0, n) == n : n == 0;
  if (parts) complete = setRecordParts(record, parts, 0, p) == p && complete;
  if (partTypes) complete = setRecordPartTypes(record, partTypes, 0, p) == p && complete;
  if (z) complete = setRecordZ(record, z, 0, n) == n && complete;
  if (m) complete = setRecordM(record, m, 0, n) == n && complete;
  store->dirty = 1;
  return complete ? n : 0;
}

/* ---- selection and deletion ---- */

void selectShape(ShapeFile *store, int i) {
  unsigned char &flag = store->flags[static_cast<size_t>(i)];
  if (!(flag & RECORD_DELETED)) flag |= RECORD_SELECTED;
}

void unselectShape(ShapeFile *store, int i) {
  unsigned char &flag = store->flags[static_cast<size_t>(i)];
  if (!(flag & RECORD_DELETED)) flag &= static_cast<unsigned char>(~RECORD_SELECTED);
}

void toggleShape(ShapeFile *store, int i) {
  unsigned char &flag = store->flags[static_cast<size_t>(i)];
  if (!(flag & RECORD_DELETED)) flag ^= RECORD_SELECTED;
}

void deleteShape(ShapeFile *store, int i) { store->flags[static_cast<size_t>(i)] = RECORD_DELETED; }

void undeleteShape(ShapeFile *store, int i) {
  unsigned char &flag = store->flags[static_cast<size_t>(i)];
  if (flag & RECORD_DELETED) flag = RECORD_SELECTED;
}

int selectAllShapes(ShapeFile *store) {
  int changed = 0;
  for (unsigned char &flag : store->flags) {
    if (!(flag & (RECORD_DELETED | RECORD_SELECTED))) {
      flag |= RECORD_SELECTED;
      changed++;
    }
  }
  return changed;
}

int unselectAllShapes(ShapeFile *store) {
  int changed = 0;
  for (unsigned char &flag : store->flags) {
    if ((flag & RECORD_SELECTED) && !(flag & RECORD_DELETED)) {
      flag &= static_cast<unsigned char>(~RECORD_SELECTED);
      changed++;
    }
  }
  return changed;
}

int countSelectedShapes(const ShapeFile *store) {
  int n = 0;
  for (unsigned char flag : store->flags) n += (flag & RECORD_SELECTED) ? 1 : 0;
  return n;
}

int countDeletedShapes(const ShapeFile *store) {
  int n = 0;
  for (unsigned char flag : store->flags) n += (flag & RECORD_DELETED) ? 1 : 0;
  return n;
}

int isShapeSelected(const ShapeFile *store, int i) {
  return (store->flags[static_cast<size_t>(i)] & RECORD_SELECTED) ? 1 : 0;
}

int isShapeDeleted(const ShapeFile *store, int i) {
  return (store->flags[static_cast<size_t>(i)] & RECORD_DELETED) ? 1 : 0;
}

/*
 * purgeShapeFile --
 *     Removes the deleted records, unless the store is locked.
 * Results:      the number of records removed (0 when deferred).
 * Side effects: every remaining record ends up selected.
 */
int purgeShapeFile(ShapeFile *store) {
  if (store->lockCount != 0) {
    store->purgePending = 1;
    return 0;
  }
  store->purgePending = 0;
  int deleted = countDeletedShapes(store);
  if (deleted == store->count) {
    clearShapeFile(store);
  } else if (deleted > 0) {
    int64_t kept = 0;
    size_t j = 0;
    for (size_t i = 0; i < store->flags.size(); i++) {
      if (store->flags[i] & RECORD_DELETED) continue;
      int64_t at = store->offsets[i];
      int64_t s = shapeRecordBytes(store->records + at);
      memmove(store->records + kept, store->records + at, static_cast<size_t>(s));
      store->offsets[j++] = kept;
      kept += s;
    }
    writeTerminator(store->records + kept);
    store->count = static_cast<int32_t>(j);
    store->offsets.resize(j);
    store->offsets.shrink_to_fit();
    store->flags.assign(j, RECORD_SELECTED);
    store->flags.shrink_to_fit();
    if (void *shrunk = realloc(store->records, static_cast<size_t>(kept + kShapeTerminatorSize)))
      store->records = static_cast<unsigned char *>(shrunk);
    store->bufferSize = kept + kShapeTerminatorSize;
    store->header.fileLength = static_cast<int32_t>(kShapeHeaderSize / 2 + kept / 2);
  }
  store->dirty = 1;
  return deleted;
}

void clearShapeFile(ShapeFile *store) {
  free(store->records);
  store->records = nullptr;
  store->offsets.clear();
  store->offsets.shrink_to_fit();
  store->flags.clear();
  store->flags.shrink_to_fit();
  store->header.fileLength = kShapeHeaderSize / 2;
  store->lockCount = 0;
  store->count = 0;
  store->purgePending = 0;
  store->bufferSize = 0;
  store->nextNumber = 1;
  store->dirty = 1;
}

/* ---- writing ---- */

/*
 * writeShape --
 *     Writes the store's records (all of them in buffer order, or the
 *     selected ones in index order) as a main file and an index file at
 *     path.  Both are written to temporary files in the same folder and
 *     renamed into place once complete, so a failure leaves the old pair
 *     as it was.
 * Results:      1 when both files were written; 0 otherwise (status 0 when
 *     a file cannot be created).
 * Side effects: on success the store's header takes the written header's
 *     type and ranges (its file length is kept) and the store is clean.
 */
static int writeShapePair(const char *path, ShapeFile *store, int selectedOnly, int *status) {
  SaveFile mainFile;
  if (!mainFile.open(path)) {
    vesk_fprintf(stderr, "writeShape - error in open shape data file\n");
    if (status) *status = 0;
    return 0;
  }
  ShapeFileHeader fresh = newShapeHeader(store->header.shapeType);
  RangeState ranges;
  std::vector<ShapeIndexEntry> entries;
  std::vector<unsigned char> scratch;
  ShapeWriter data{mainFile.fd(), kShapeHeaderSize, {}};
  {
    int32_t offset = kShapeHeaderSize / 2;
    for (int i = 0; i < store->count; i++) {
      if (selectedOnly && !(store->flags[static_cast<size_t>(i)] & RECORD_SELECTED)) continue;
      ShapeRecord *record = getShapeRecord(store, i);
      int64_t s = shapeRecordBytes(record);
      scratch.assign(record, record + s);
      ShapeRecord *copy = scratch.data();
      int partCount;
      if (int32_t *parts = getRecordParts(copy, &partCount)) {
        /* Part lengths back to starts: each start is what the later parts leave. */
        int pointCount;
        getRecordPoints(copy, &pointCount);
        int64_t remaining = pointCount;
        for (int j = partCount - 1; j >= 0; j--) {
          remaining -= parts[j];
          parts[j] = static_cast<int32_t>(remaining);
        }
      }
      addRecordRanges(fresh, ranges, record);
      int32_t length = recordWord(copy, kLengthAt);
      entries.push_back({offset, length});
      offset += length + 4;
      recordWord(copy, kNumberAt) = swapLong(recordWord(copy, kNumberAt));
      recordWord(copy, kLengthAt) = swapLong(length);
      data.put(copy, static_cast<size_t>(s));
    }
  }
  if (!data.flush()) return 0;
  ShapeFileHeader written = fresh;
  if (!saveShapeHead(mainFile.fd(), &written)) return 0;

  SaveFile indexFile;
  if (!indexFile.open(shapeIndexPath(path).c_str())) {
    vesk_fprintf(stderr, "writeShape - error in open shape index file\n");
    if (status) *status = 0;
    return 0;
  }
  ShapeWriter index{indexFile.fd(), kShapeHeaderSize, {}};
  for (const ShapeIndexEntry &entry : entries) {
    index.putBig32(entry.offset);
    index.putBig32(entry.length);
  }
  if (!index.flush()) return 0;
  ShapeFileHeader indexHeader = fresh;
  if (!saveShapeHead(indexFile.fd(), &indexHeader)) return 0;

  /* Both files complete before either replaces its old one. */
  if (!mainFile.finish() || !indexFile.finish() || !mainFile.commit()) {
    vesk_fprintf(stderr, "writeShape - error in writing shape data file\n");
    return 0;
  }
  fresh.fileLength = store->header.fileLength;
  store->header = fresh;
  store->dirty = 0;
  if (!indexFile.commit()) {
    vesk_fprintf(stderr, "writeShape - error in writing shape index file\n");
    return 0;
  }
  return 1;
}

int writeShape(const char *path, ShapeFile *store, int selectedOnly, int *status) {
  if (!store || !path) return 0;
  if (selectedOnly && countSelectedShapes(store) == 0) return 0;
  /* A name ending in 'x' is its own index name: the index would be
   * written over the data just written. */
  if (shapeIndexPath(path) == path) {
    vesk_fprintf(stderr, "writeShape - %s would be its own index file\n", path);
    if (status) *status = 0;
    return 0;
  }
  try {
    return writeShapePair(path, store, selectedOnly, status);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "\ngmemAlloc error in memAlloc: %s.\n", "writeShape");
    return 0;
  }
}

/* ---- standalone records ---- */

ShapeRecord *newShapeRecord(int type, int n, int p) {
  if (n < 0 || p < 0) return nullptr;
  int64_t s = shapeRecordSize(type, n, p);
  if (s > kShapeMaxBytes) return nullptr;
  ShapeRecord *record = static_cast<ShapeRecord *>(calloc(1, static_cast<size_t>(s)));
  if (!record) return nullptr;
  recordWord(record, kLengthAt) = static_cast<int32_t>((s - 8) / 2);
  recordWord(record, kTypeAt) = type;
  ShapeForm form = shapeForm(type);
  if (form == FORM_MULTIPOINT) recordWord(record, kCountAt) = n;
  if (form == FORM_LINES || form == FORM_PATCH) {
    recordWord(record, kCountAt) = p;
    recordWord(record, kNumPointsAt) = n;
  }
  return record;
}

static ShapeRecord *makeLineShape(int type, int number, const double *points, int n,
                                  const int32_t *lengths, int p) {
  if (n < 0) return nullptr;
  int64_t s = shapeRecordSize(type, n, p > 0 ? p : 1);
  if (s > kShapeMaxBytes) return nullptr;
  ShapeRecord *record = static_cast<ShapeRecord *>(malloc(static_cast<size_t>(s)));
  if (!record) return nullptr;
  fillShapeRecord(record, type, number, s, points, n, lengths, p, nullptr, nullptr, nullptr);
  return record;
}

ShapeRecord *makePointShape(int number, double x, double y) {
  double point[2] = {x, y};
  return makeLineShape(SHP_POINT, number, point, 1, nullptr, 0);
}

ShapeRecord *makePolylineShape(int number, const double *points, int n, const int32_t *lengths,
                               int p) {
  return makeLineShape(SHP_POLYLINE, number, points, n, lengths, p);
}

ShapeRecord *makePolygonShape(int number, const double *points, int n, const int32_t *lengths,
                              int p) {
  return makeLineShape(SHP_POLYGON, number, points, n, lengths, p);
}

ShapeRecord *copyShapeRecord(const ShapeRecord *record) {
  int64_t s = shapeRecordBytes(record);
  ShapeRecord *copy = static_cast<ShapeRecord *>(malloc(static_cast<size_t>(s)));
  if (copy) memcpy(copy, record, static_cast<size_t>(s));
  return copy;
}

void freeShapeRecord(ShapeRecord *record) { free(record); }

}  // namespace vesk
