/*
 * tiff.cpp --
 *     TIFF 6.0 and GeoTIFF files.  Every image file directory of a file
 *     is loaded once and kept with the open image; a page is chosen by
 *     filling the image header from its directory.  New files are written
 *     as one uncompressed strip, with the GeoTIFF tags of a map
 *     georeference for GEOTIFF images; the directory follows the pixels,
 *     whose room is left as a hole, so a module's rows are written in
 *     place as it makes them (the line cache keeps a window of them).
 *
 *     Every count and offset a directory claims is checked against the
 *     file's size before it is used.
 */
#include "raster/tiff.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/text.h"
#include "raster/sniffer.h"
#include "vesk/hash.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* One tag of a file being written: a gmemAlloc block, values in host order. */
struct TiffTagRecord {
  int tag;
  int type;
  int count;
  uint32_t value;  /* value field when there are no values */
  void *values;    /* count elements of the type, gmemAlloc'd, or null */
};

int64_t fileSizeOf(int fd) {
  struct stat info;
  return fd >= 0 && fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

/* Reads exactly n bytes at an offset inside the file. */
bool readAt(int fd, void *to, int64_t n, int64_t offset) {
  const int64_t size = fileSizeOf(fd);
  if (offset < 0 || n < 0 || size < 0 || offset > size || n > size - offset) return false;
  return getFileData(fd, to, n, static_cast<off_t>(offset), 0) == n;
}

/* The system error text after a message, as perror gives it. */
void reportSystemError(const char *text) {
  const int saved = errno;
  vesk_fprintf(stderr, "%s: %s\n", text, saved ? strerror(saved) : "invalid data");
}

bool isBigEndian(int byteOrder) { return byteOrder == kTiffBigEndian; }

/* Tags of a file being written, freed with their values. */
void freeTiffTagEntry(void *value) {
  TiffTagRecord *record = static_cast<TiffTagRecord *>(value);
  if (!record) return;
  gmemFree(record->values);
  gmemFree(record);
}

int compareTiffTags(const void *a, const void *b) {
  const uintptr_t x = reinterpret_cast<uintptr_t>(*static_cast<void *const *>(a));
  const uintptr_t y = reinterpret_cast<uintptr_t>(*static_cast<void *const *>(b));
  return x < y ? -1 : x > y ? 1 : 0;
}

/* Encodes count values of a type from host order into file order. */
void encodeTiffValues(unsigned char *out, int type, int count, const void *values, bool msb) {
  const int size = getTiffTypeSize(type);
  for (int i = 0; i < count; i++) {
    unsigned char *p = out + int64_t{i} * size;
    switch (size) {
    case 1: *p = static_cast<const unsigned char *>(values)[i]; break;
    case 2: putU16(p, static_cast<const uint16_t *>(values)[i], msb); break;
    case 4: putU32(p, static_cast<const uint32_t *>(values)[i], msb); break;
    case 8:
      if (type == TIFF_DOUBLE) {
        putF64(p, static_cast<const double *>(values)[i], msb);
      } else {
        putU32(p, static_cast<const uint32_t *>(values)[2 * i], msb);
        putU32(p + 4, static_cast<const uint32_t *>(values)[2 * i + 1], msb);
      }
      break;
    default: break;
    }
  }
}

/* One GeoKey row of four SHORTs. */
void setGeoKeyEntry(uint16_t *keys, int row, int a, int b, int c, int d) {
  keys[4 * row] = static_cast<uint16_t>(a);
  keys[4 * row + 1] = static_cast<uint16_t>(b);
  keys[4 * row + 2] = static_cast<uint16_t>(c);
  keys[4 * row + 3] = static_cast<uint16_t>(d);
}

const TiffEntry *entryOf(const TiffIFD *ifd, int tag) {
  const int i = findTiffTag(ifd, tag);
  return i < 0 ? nullptr : &ifd->entries[static_cast<size_t>(i)];
}

int64_t narrowedTag(const TiffIFD *ifd, int tag) {
  const TiffEntry *e = entryOf(ifd, tag);
  return e ? narrowTiffValue(e->type, e->value) : -1;
}

/* Reads up to `want` doubles of a DOUBLE tag; the tag's count, -1. */
int readTiffDoubles(int fd, const TiffIFD *ifd, int tag, int byteOrder, double *out, int want) {
  const TiffEntry *e = entryOf(ifd, tag);
  if (!e || e->type != TIFF_DOUBLE) return -1;
  const int n = static_cast<int>(std::min<uint32_t>(e->count, static_cast<uint32_t>(want)));
  unsigned char bytes[8 * 8];
  if (n <= 0 || !readAt(fd, bytes, 8 * n, e->value)) return -1;
  for (int i = 0; i < n; i++) out[i] = getF64(bytes + 8 * i, isBigEndian(byteOrder));
  return static_cast<int>(std::min<uint32_t>(e->count, INT32_MAX));
}

/*
 * The value field of an entry as this unit keeps it (see TiffEntry), from
 * its four bytes in the file; encodeEntryValue is the reverse.
 */
bool valueBytesInline(int type, uint32_t count) {
  return (type == TIFF_BYTE || type == TIFF_ASCII || type == TIFF_UNDEFINED ||
          type == TIFF_SBYTE) && count <= 4;
}

uint32_t decodeEntryValue(int type, uint32_t count, const unsigned char *v, bool msb) {
  const bool shorts = type == TIFF_SHORT || type == TIFF_SSHORT;
  if (valueBytesInline(type, count)) return getU32(v, false);
  if (shorts && count == 1) return getU16(v, msb);
  if (shorts && count == 2) return getU16(v, msb) | uint32_t{getU16(v + 2, msb)} << 16;
  return getU32(v, msb);
}

void encodeEntryValue(int type, uint32_t count, uint32_t value, unsigned char *v, bool msb) {
  const bool shorts = type == TIFF_SHORT || type == TIFF_SSHORT;
  if (valueBytesInline(type, count)) {
    putU32(v, value, false);
  } else if (shorts && count <= 2) {
    putU16(v, value & 0xffff, msb);
    putU16(v + 2, count == 2 ? value >> 16 : 0, msb);
  } else {
    putU32(v, value, msb);
  }
}

/* GeoKeys read here and their values. */
constexpr int kGeoKeyRasterType = 1025;     /* GTRasterTypeGeoKey: 1 area, 2 point */
constexpr int kRasterPixelIsPoint = 2;
constexpr int kGeoKeyProjectedCS = 3072;    /* ProjectedCSTypeGeoKey */
constexpr int kUserDefinedGeoKey = 32767;   /* "user-defined": no code */

/* The SHORT value a key of the GeoKey directory holds in place; -1 without. */
int64_t getTiffGeoKey(int fd, const TiffIFD *ifd, int byteOrder, int key) {
  const TiffEntry *e = entryOf(ifd, TAG_GEO_KEY_DIRECTORY);
  if (!e || e->type != TIFF_SHORT || e->count < 4) return -1;
  const int64_t keys = std::min<int64_t>(getTiffArrayValue(fd, ifd, e->tag, 3, byteOrder),
                                         (int64_t{e->count} - 4) / 4);
  for (int64_t k = 0; k < keys; k++) {
    if (getTiffArrayValue(fd, ifd, e->tag, 4 + 4 * k, byteOrder) == key &&
        getTiffArrayValue(fd, ifd, e->tag, 5 + 4 * k, byteOrder) == 0)
      return getTiffArrayValue(fd, ifd, e->tag, 7 + 4 * k, byteOrder);
  }
  return -1;
}

/* The first n values of a strip table: the value field itself for one. */
bool readTiffTable(int fd, const TiffEntry *e, int byteOrder, int64_t n, std::vector<int64_t> &out) {
  out.assign(static_cast<size_t>(n), -1);
  if (!e || n > e->count) return false;
  if (e->count == 1) {
    out[0] = e->value;
    return true;
  }
  std::vector<unsigned char> bytes;
  try {
    bytes.resize(static_cast<size_t>(4 * n));
  } catch (const std::bad_alloc &) {
    return false;
  }
  if (!readAt(fd, bytes.data(), 4 * n, e->value)) return false;
  for (int64_t i = 0; i < n; i++) out[static_cast<size_t>(i)] = getU32(&bytes[static_cast<size_t>(4 * i)], isBigEndian(byteOrder));
  return true;
}

/*
 * tiffUnitsFit --
 *     Checks, before anything is sized by them, that the directory has
 *     the strips or tiles its geometry needs and that each lies in the
 *     file (uncompressed: the bytes its rows take; PackBits: its byte
 *     count, which must be able to decode to its rows).
 * Results:      true, or false with a message.
 */
bool tiffUnitsFit(int fd, const TiffPrivate *tiff, const ImageHeader *header,
                  const TiffEntry *offsets, const TiffEntry *counts, int64_t fileSize) {
  const int64_t rows = header->rows, columns = header->columns, bands = header->nbands;
  const int64_t bits = header->bits;
  const bool packed = tiff->compression == kTiffPackBits;
  const int64_t planes = tiff->planar ? bands : 1;
  const int64_t rowBytes = tiff->planar ? columns * (bits / 8) : header->block;
  const auto beyond = [] {
    refuseImageFile("TIFF", "imgTiff - Strip data beyond the end of the file.\n");
    return false;
  };
  if (rowBytes <= 0 || rowBytes > 64 * fileSize) return beyond();
  int64_t perPlane = 0, unitRows = 0, unitRowBytes = rowBytes;
  if (tiff->tileWidth > 0) {
    const int64_t across = (columns - 1) / tiff->tileWidth + 1;
    const int64_t down = (rows - 1) / tiff->tileLength + 1;
    const int64_t rowBits = int64_t{tiff->tileWidth} * bits * (tiff->planar ? 1 : bands);
    if (rowBits % 8 != 0) {
      refuseImageFile("TIFF", "imgTiff - Tiles whose rows are not whole bytes.\n");
      return false;
    }
    perPlane = across * down;
    unitRows = tiff->tileLength;
    unitRowBytes = rowBits / 8;
  } else {
    unitRows = tiff->rowsPerStrip > 0 ? std::min<int64_t>(tiff->rowsPerStrip, rows) : rows;
    perPlane = (rows - 1) / unitRows + 1;
  }
  const int64_t need = perPlane * planes;
  if (tiff->stripCount < need) {
    refuseImageFile("TIFF", "imgTiff - The image needs %lld strips or tiles; the file has %d.\n",
                    static_cast<long long>(need), tiff->stripCount);
    return false;
  }
  std::vector<int64_t> at, length;
  if (!readTiffTable(fd, offsets, tiff->byteOrder, need, at)) return beyond();
  if (packed && !readTiffTable(fd, counts, tiff->byteOrder, need, length)) {
    refuseImageFile("TIFF",
                    "imgTiff - Strip byte counts missing or beyond the end of the file.\n");
    return false;
  }
  for (int64_t i = 0; i < need; i++) {
    const int64_t first = (i % perPlane) * unitRows;
    const int64_t unitRowsHere = tiff->tileWidth > 0 ? unitRows : std::min(unitRows, rows - first);
    int64_t bytes = 0;
    if (__builtin_mul_overflow(unitRowsHere, unitRowBytes, &bytes)) return beyond();
    const int64_t offset = at[static_cast<size_t>(i)];
    if (!packed) {
      if (offset < 0 || offset > fileSize || bytes > fileSize - offset) return beyond();
      continue;
    }
    const int64_t stored = length[static_cast<size_t>(i)];
    if (offset < 0 || stored < 0 || offset > fileSize || stored > fileSize - offset) return beyond();
    // PackBits gives at most 128 bytes for every 2 it reads.
    if (bytes > 64 * stored + 128) {
      refuseImageFile("TIFF", "imgTiff - A strip of %lld bytes can't hold %lld rows.\n",
                      static_cast<long long>(stored), static_cast<long long>(unitRowsHere));
      return false;
    }
  }
  return true;
}

}  // namespace

/*
 * getTiffTypeSize --
 *     Bytes of one value of a field type.
 * Results:      1, 2, 4 or 8; -1 with a message for an unknown type.
 */
int getTiffTypeSize(int type) {
  switch (type) {
  case TIFF_BYTE: case TIFF_ASCII: case TIFF_UNDEFINED: return 1;
  case TIFF_SHORT: case TIFF_SSHORT: return 2;
  case TIFF_LONG: case TIFF_SLONG: case TIFF_FLOAT: return 4;
  case TIFF_RATIONAL: case TIFF_SRATIONAL: case TIFF_DOUBLE: return 8;
  default:
    vesk_fprintf(stderr, "Unknown data type: %d\n", type);
    return -1;
  }
}

/*
 * readTiffHeader --
 *     Reads the 8-byte file header from offset 0.
 * Results:      the first IFD offset; 0 when the file does not start with
 *     "II" or "MM".  The header bytes go to `header` as they are.
 */
int64_t readTiffHeader(int fd, unsigned char header[8]) {
  if (!readAt(fd, header, 8, 0)) return 0;
  const int word = header[0] << 8 | header[1];
  if (word != kTiffLittleEndian && word != kTiffBigEndian) return 0;
  return getU32(header + 4, isBigEndian(word));
}

/*
 * getTiffInfo --
 *     Walks the directory chain.  A chain that comes back to a directory
 *     already seen, or a directory whose entries lie beyond the end of
 *     the file, makes the file unreadable.
 * Results:      the number of entries of all directories; 0 on failure.
 *     *count gets the number of directories.
 */
int getTiffInfo(int fd, int *count, unsigned char header[8]) {
  *count = 0;
  int64_t offset = readTiffHeader(fd, header);
  if (offset <= 0) return 0;
  const bool msb = isBigEndian(header[0] << 8 | header[1]);
  const int64_t size = fileSizeOf(fd);
  std::set<int64_t> seen;
  int64_t total = 0;
  while (offset > 0) {
    unsigned char word[4];
    errno = 0;
    if (!seen.insert(offset).second || !readAt(fd, word, 2, offset)) {
      reportSystemError("Error: read in getTiffInfo");
      *count = 0;
      return 0;
    }
    const int64_t entries = getU16(word, msb);
    if (offset + 2 + 12 * entries > size) {
      reportSystemError("Error: read in getTiffInfo");
      *count = 0;
      return 0;
    }
    total += entries;
    (*count)++;
    offset = readAt(fd, word, 4, offset + 2 + 12 * entries) ? getU32(word, msb) : 0;
  }
  return static_cast<int>(std::min<int64_t>(total, INT32_MAX));
}

/*
 * getNextIFDEntry --
 *     Loads the directory at an offset, converted to host order.
 * Results:      a new directory (freed with delete), or null with a
 *     message.
 */
TiffIFD *getNextIFDEntry(int fd, int byteOrder, int64_t offset) {
  const bool msb = isBigEndian(byteOrder);
  unsigned char word[4];
  errno = 0;
  if (offset < 0 || offset > fileSizeOf(fd)) {
    reportSystemError("Error: lseek in getNextIFDEntry");
    return nullptr;
  }
  if (!readAt(fd, word, 2, offset)) {
    reportSystemError("Error: read in getNextIFDEntry");
    return nullptr;
  }
  const int count = getU16(word, msb);
  std::vector<unsigned char> bytes(static_cast<size_t>(12) * count);
  if (!readAt(fd, bytes.data(), static_cast<int64_t>(bytes.size()), offset + 2)) {
    reportSystemError("Error: read in getNextIFDEntry");
    return nullptr;
  }
  TiffIFD *ifd = new (std::nothrow) TiffIFD();
  if (!ifd) {
    reportSystemError("Error: gmemAlloc in getNextIFDEntry");
    return nullptr;
  }
  ifd->offset = offset;
  ifd->entries.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; i++) {
    const unsigned char *e = &bytes[static_cast<size_t>(12) * i];
    TiffEntry &entry = ifd->entries[static_cast<size_t>(i)];
    entry.tag = getU16(e, msb);
    entry.type = getU16(e + 2, msb);
    entry.count = getU32(e + 4, msb);
    entry.value = decodeEntryValue(entry.type, entry.count, e + 8, msb);
  }
  ifd->next = readAt(fd, word, 4, offset + 2 + 12 * int64_t{count}) ? getU32(word, msb) : 0;
  return ifd;
}

/*
 * loadTiffInfo --
 *     Loads every directory of a TIFF file.
 * Results:      the directories, or null when the file is not a TIFF or
 *     one of its directories cannot be read.
 */
TiffInfo *loadTiffInfo(int fd) {
  int count = 0;
  unsigned char header[8];
  if (getTiffInfo(fd, &count, header) == 0 || count <= 0) return nullptr;
  TiffInfo *info = new (std::nothrow) TiffInfo();
  if (!info) return nullptr;
  info->headerWord = header[0] << 8 | header[1];
  info->version = getU16(header + 2, isBigEndian(info->headerWord));
  info->firstOffset = getU32(header + 4, isBigEndian(info->headerWord));
  int64_t offset = info->firstOffset;
  for (int i = 0; i < count; i++) {
    TiffIFD *ifd = offset > 0 ? getNextIFDEntry(fd, info->headerWord, offset) : nullptr;
    if (!ifd) {
      freeTiffInfo(info);
      return nullptr;
    }
    info->directories.push_back(ifd);
    offset = ifd->next;
  }
  info->count = count;
  return info;
}

/* freeTiffInfo -- frees every directory and the info. */
void freeTiffInfo(TiffInfo *info) {
  if (!info) return;
  for (TiffIFD *ifd : info->directories) delete ifd;
  delete info;
}

/* findTiffTag -- index of the first entry with the tag, -1. */
int findTiffTag(const TiffIFD *ifd, int tag) {
  if (!ifd) return -1;
  for (size_t i = 0; i < ifd->entries.size(); i++)
    if (ifd->entries[i].tag == tag) return static_cast<int>(i);
  return -1;
}

/* readTiffShort -- element i of a SHORT array at an offset; -1. */
int64_t readTiffShort(int fd, int byteOrder, int64_t offset, int64_t i) {
  unsigned char b[2];
  if (i < 0 || !readAt(fd, b, 2, offset + 2 * i)) return -1;
  return getU16(b, isBigEndian(byteOrder));
}

/* readTiffDouble -- element i of a DOUBLE array at an offset; 0 when unreadable. */
double readTiffDouble(int fd, int byteOrder, int64_t offset, int64_t i) {
  unsigned char b[8];
  if (i < 0 || !readAt(fd, b, 8, offset + 8 * i)) return 0;
  return getF64(b, isBigEndian(byteOrder));
}

/* narrowTiffValue -- the value a field of a type holds in its value field. */
int64_t narrowTiffValue(int type, uint32_t value) {
  switch (type) {
  case TIFF_BYTE: return value & 0xff;
  case TIFF_ASCII: case TIFF_UNDEFINED: return static_cast<signed char>(value & 0xff);
  case TIFF_SHORT: return value & 0xffff;
  case TIFF_SSHORT: return static_cast<int16_t>(value & 0xffff);
  default: return static_cast<int32_t>(value);
  }
}

/*
 * getTiffArrayValue --
 *     Element i of a tag's values, from the value field or the file.
 * Results:      the element; -1 when the tag is absent, i is out of its
 *     count, or the type has no integer elements.
 */
int64_t getTiffArrayValue(int fd, const TiffIFD *ifd, int tag, int64_t i, int byteOrder) {
  const TiffEntry *e = entryOf(ifd, tag);
  if (!e || i < 0 || i >= e->count) return -1;
  const bool msb = isBigEndian(byteOrder);
  unsigned char b[4];
  switch (e->type) {
  case TIFF_BYTE: case TIFF_ASCII: case TIFF_UNDEFINED: {
    int value = 0;
    if (e->count <= 4) {
      value = (e->value >> (8 * i)) & 0xff;
    } else {
      if (!readAt(fd, b, 1, int64_t{e->value} + i)) return -1;
      value = b[0];
    }
    return e->type == TIFF_BYTE ? value : static_cast<signed char>(value);
  }
  case TIFF_SHORT: case TIFF_SSHORT: {
    int64_t value = e->count <= 2 ? (e->value >> (16 * i)) & 0xffff
                                  : readTiffShort(fd, byteOrder, e->value, i);
    if (value < 0) return -1;
    return e->type == TIFF_SHORT ? value : static_cast<int16_t>(value);
  }
  case TIFF_LONG: case TIFF_SLONG:
    if (e->count == 1) return e->type == TIFF_LONG ? int64_t{e->value} : static_cast<int32_t>(e->value);
    if (!readAt(fd, b, 4, int64_t{e->value} + 4 * i)) return -1;
    return e->type == TIFF_LONG ? int64_t{getU32(b, msb)} : getI32(b, msb);
  case TIFF_RATIONAL: case TIFF_SRATIONAL:
    if (i > 1 || !readAt(fd, b, 4, int64_t{e->value} + 4 * i)) return -1;
    return getI32(b, msb);
  case TIFF_FLOAT: case TIFF_DOUBLE:
    return -1;
  default:
    vesk_fprintf(stderr, "Unknown data type for array element at index: %d tagged as: %d\n",
                 static_cast<int>(i), tag);
    return -1;
  }
}

/*
 * getTiffColorMap --
 *     Reads the ColorMap (all reds, then greens, then blues) into
 *     (red, green, blue) triples; 16-bit values keep their high byte.
 * Results:      the number of values; -1 when the tag is absent or of an
 *     unknown type; -2 when its count is not 3 to 768 values in threes or
 *     its values lie beyond the end of the file.
 */
int getTiffColorMap(int fd, const TiffIFD *ifd, int byteOrder, unsigned char palette[256][3]) {
  const TiffEntry *e = entryOf(ifd, TAG_COLOR_MAP);
  if (!e) return -1;
  if (e->type != TIFF_BYTE && e->type != TIFF_SHORT && e->type != TIFF_LONG) {
    vesk_fprintf(stderr, "Unknown data type for ColorMap\n");
    return -1;
  }
  const int64_t n = e->count;
  if (n <= 0 || n > 768 || n % 3 != 0) return -2;
  const int size = getTiffTypeSize(e->type);
  unsigned char bytes[768 * 4];
  if (n * size <= 4) {
    putU32(bytes, e->value, false);
  } else if (!readAt(fd, bytes, n * size, e->value)) {
    return -2;
  }
  const bool msb = isBigEndian(byteOrder);
  const int64_t entries = n / 3;
  for (int64_t k = 0; k < n; k++) {
    const unsigned char *p = bytes + k * size;
    const unsigned value = size == 1 ? p[0] : size == 2 ? getU16(p, msb) >> 8 : getU32(p, msb) >> 8;
    palette[k % entries][k / entries] = static_cast<unsigned char>(value);
  }
  return static_cast<int>(n);
}

/*
 * putTiffColorMap --
 *     Writes a palette over the ColorMap values of a directory, in the
 *     tag's own type (16-bit values as byte x 256).
 * Results:      the number of values; 0 for another type or values kept in
 *     the entry; -1 without the tag or when the write fails.
 */
int putTiffColorMap(int fd, const TiffIFD *ifd, int byteOrder,
                    const unsigned char palette[256][3]) {
  const TiffEntry *e = entryOf(ifd, TAG_COLOR_MAP);
  if (!e) return -1;
  const int64_t n = e->count;
  if (e->type != TIFF_BYTE && e->type != TIFF_SHORT && e->type != TIFF_LONG) return 0;
  if (n <= 0 || n > 768 || n % 3 != 0) return -1;
  const int size = getTiffTypeSize(e->type);
  if (n * size <= 4) return 0;
  const int64_t size64 = fileSizeOf(fd);
  if (!extentFits(e->value, size, n, size64)) return -1;
  unsigned char bytes[768 * 4];
  const bool msb = isBigEndian(byteOrder);
  const int64_t entries = n / 3;
  for (int64_t k = 0; k < n; k++) {
    const unsigned value = palette[k % entries][k / entries];
    unsigned char *p = bytes + k * size;
    if (size == 1) *p = static_cast<unsigned char>(value);
    else if (size == 2) putU16(p, value * 256, msb);
    else putU32(p, value * 256, msb);
  }
  return writeFileAt(fd, bytes, n * size, e->value) ? static_cast<int>(n) : -1;
}

/* ---- tag accessors ---- */

int64_t getTiffImageWidth(const TiffIFD *ifd) { return narrowedTag(ifd, TAG_IMAGE_WIDTH); }
int64_t getTiffImageLength(const TiffIFD *ifd) { return narrowedTag(ifd, TAG_IMAGE_LENGTH); }
int64_t getTiffBitsPerSampleAt(int fd, const TiffIFD *ifd, int i, int byteOrder) {
  return getTiffArrayValue(fd, ifd, TAG_BITS_PER_SAMPLE, i, byteOrder);
}
int64_t getTiffCompression(const TiffIFD *ifd) { return narrowedTag(ifd, TAG_COMPRESSION); }
int64_t getTiffPhotometric(const TiffIFD *ifd) {
  const TiffEntry *e = entryOf(ifd, TAG_PHOTOMETRIC);
  return e ? int64_t{e->value} : -1;
}
int64_t getTiffStripOffsets(const TiffIFD *ifd, int64_t *count) {
  const TiffEntry *e = entryOf(ifd, TAG_STRIP_OFFSETS);
  if (count) *count = e ? e->count : 0;
  return e ? int64_t{e->value} : -1;
}
int64_t getTiffSamplesPerPixel(const TiffIFD *ifd) {
  return entryOf(ifd, TAG_SAMPLES_PER_PIXEL) ? narrowedTag(ifd, TAG_SAMPLES_PER_PIXEL) : 1;
}
int64_t getTiffRowsPerStrip(const TiffIFD *ifd) {
  const TiffEntry *e = entryOf(ifd, TAG_ROWS_PER_STRIP);
  return e ? int64_t{e->value} : -1;
}
int64_t getTiffStripByteCounts(const TiffIFD *ifd) {
  const TiffEntry *e = entryOf(ifd, TAG_STRIP_BYTE_COUNTS);
  return e ? int64_t{e->value} : -1;
}
int64_t getTiffTileWidth(const TiffIFD *ifd) { return narrowedTag(ifd, TAG_TILE_WIDTH); }
int64_t getTiffTileLength(const TiffIFD *ifd) { return narrowedTag(ifd, TAG_TILE_LENGTH); }
int64_t getTiffSampleFormat(int fd, const TiffIFD *ifd, int i, int byteOrder) {
  return getTiffArrayValue(fd, ifd, TAG_SAMPLE_FORMAT, i, byteOrder);
}
int getTiffPixelScale(int fd, const TiffIFD *ifd, int byteOrder, double scale[3]) {
  return readTiffDoubles(fd, ifd, TAG_MODEL_PIXEL_SCALE, byteOrder, scale, 3);
}
int getTiffTiepoint(int fd, const TiffIFD *ifd, int byteOrder, double tiepoint[6]) {
  return readTiffDoubles(fd, ifd, TAG_MODEL_TIEPOINT, byteOrder, tiepoint, 6);
}

/*
 * imgTiff --
 *     Fills an image header from one page of a TIFF file.  Without
 *     private data the file's directories are loaded and page 1 is read;
 *     with it, page 0 is the page after the current one and a page out of
 *     range is the last.
 * Results:      1 when the page is loaded; 0 when the file is not a TIFF
 *     or not usable; -1 for a TIFF this reader can't read (another
 *     compression, no strips).
 * Side effects: a private record made here is handed to *privateData on
 *     success and freed otherwise.
 */
int imgTiff(int fd, ImageHeader *header, int page, void **privateData) {
  TiffPrivate *tiff = static_cast<TiffPrivate *>(*privateData);
  TiffPrivate *made = nullptr;
  if (!tiff) {
    TiffInfo *info = loadTiffInfo(fd);
    if (!info) return 0;
    made = tiff = new (std::nothrow) TiffPrivate();
    if (!tiff) {
      freeTiffInfo(info);
      return 0;
    }
    tiff->info = info;
    tiff->byteOrder = info->headerWord;
    page = 1;
  } else if (!tiff->info) {
    return 0;
  } else if (page == 0) {
    if (tiff->page >= tiff->info->count) return 0;
    page = tiff->page + 1;
  } else if (page < 0 || page > tiff->info->count) {
    page = tiff->info->count;
  }
  const auto fail = [&](int result) {
    if (made) {
      freeTiffInfo(made->info);
      delete made;
    }
    return result;
  };

  const TiffInfo *info = tiff->info;
  const TiffIFD *ifd = info->directories[static_cast<size_t>(page - 1)];
  const int order = tiff->byteOrder;
  const int64_t fileSize = fileSizeOf(fd);
  header->volumes = info->count;

  const int64_t compression = entryOf(ifd, TAG_COMPRESSION) ? getTiffCompression(ifd) : 1;
  if (compression == 1) {
    header->readerFlag = 0;
  } else if (compression == kTiffPackBits) {
    header->readerFlag = 2;
  } else {
    refuseImageFile("TIFF", "imgTiff - Can't read the Tiff with a compression ID:%d\n",
                    static_cast<int>(compression));
    return fail(-1);
  }

  int64_t tileWidth = getTiffTileWidth(ifd), tileLength = getTiffTileLength(ifd);
  if (tileWidth <= 0 || tileLength <= 0) tileWidth = tileLength = 0;
  // Tiled files keep their pieces in TileOffsets and TileByteCounts.
  const TiffEntry *offsets = entryOf(ifd, TAG_STRIP_OFFSETS);
  const TiffEntry *counts = entryOf(ifd, TAG_STRIP_BYTE_COUNTS);
  if (!offsets && tileWidth > 0) {
    offsets = entryOf(ifd, 324);
    counts = entryOf(ifd, 325);
  }
  if (!offsets || offsets->count == 0) {
    refuseImageFile("TIFF", "imgTiff - Fail to find Tiff strip offset.\n");
    return fail(-1);
  }
  // Tables of more than one strip are read as LONGs, inside the file;
  // the byte counts are used only to unpack PackBits strips.
  const auto tableFits = [&](const TiffEntry *e) {
    return !e || e->count <= 1 || (e->type == TIFF_LONG && extentFits(e->value, 4, e->count, fileSize));
  };
  if (!tableFits(offsets) || (compression == kTiffPackBits && !tableFits(counts))) {
    refuseImageFile("TIFF", "imgTiff - Strip tables beyond the end of the file.\n");
    return fail(-1);
  }
  header->offset = offsets->value;
  tiff->stripCount = static_cast<int>(std::min<uint32_t>(offsets->count, INT32_MAX));
  tiff->tileWidth = static_cast<int>(tileWidth);
  tiff->tileLength = static_cast<int>(tileLength);
  tiff->compression = static_cast<int>(compression);
  header->imgid = IMG_TIFF;
  header->mapid = MAPID_GRID;
  header->msbf = isBigEndian(order) ? 1 : 0;

  int64_t bits = getTiffBitsPerSampleAt(fd, ifd, 0, order);
  if (bits <= 0) {
    refuseImageFile("TIFF", "imgTiff - invalid nBits: %d\n", static_cast<int>(bits));
    return fail(0);
  }
  const int64_t bands = getTiffSamplesPerPixel(ifd);
  if (bands <= 0) {
    refuseImageFile("TIFF", "imgTiff - invalid nBands: %d\n", static_cast<int>(bands));
    return fail(0);
  }
  header->nbands = static_cast<int>(bands);
  header->top = header->left = 0;
  const int64_t columns = getTiffImageWidth(ifd), rows = getTiffImageLength(ifd);
  if (columns <= 0 || rows <= 0) {
    refuseImageFile("TIFF", "imgTiff - invalid col/row: %d/%d\n", static_cast<int>(columns),
                    static_cast<int>(rows));
    return fail(0);
  }
  header->columns = static_cast<int>(columns);
  header->rows = static_cast<int>(rows);
  tiff->rowsPerStrip = static_cast<int>(getTiffRowsPerStrip(ifd));
  tiff->stripByteCounts = counts ? int64_t{counts->value} : -1;
  tiff->planar = bands > 1 && narrowedTag(ifd, TAG_PLANAR_CONFIGURATION) == 2 ? 1 : 0;
  tiff->georeferenced = 0;

  double scale[3] = {1, 1, 0}, tie[6] = {0, 0, 0, 0, 0, 0};
  const bool hasScale = getTiffPixelScale(fd, ifd, order, scale) == 3;
  const bool hasTie = getTiffTiepoint(fd, ifd, order, tie) == 6;
  header->dx = hasScale ? scale[0] : 1.0;
  header->dy = hasScale ? scale[1] : 1.0;
  header->x0 = hasTie ? tie[3] - tie[0] * header->dx : 0;
  header->y0 = hasTie ? tie[4] - tie[1] * header->dy : 0;
  if (hasTie && getTiffGeoKey(fd, ifd, order, kGeoKeyRasterType) == kRasterPixelIsPoint) {
    // The tie point names the centre of its pixel: the corner is half a
    // pixel up and to the left.
    header->x0 -= header->dx / 2;
    header->y0 += header->dy / 2;
  }
  if (hasScale && hasTie) tiff->georeferenced = 1;
  // A projected coordinate system's code is kept as the mapid "PCS<code>",
  // the form the writer gives back; anything else is GRID.
  const int64_t pcs = getTiffGeoKey(fd, ifd, order, kGeoKeyProjectedCS);
  if (pcs >= kMinPcsCode && pcs <= kMaxPcsCode && pcs != kUserDefinedGeoKey)
    header->mapid = static_cast<int>(pcs);

  int64_t format = getTiffSampleFormat(fd, ifd, 0, order);
  if (format < 0) format = 1;
  const auto badFormat = [&]() {
    refuseImageFile("TIFF", "imgTiff - invalid sample format:%d\n", static_cast<int>(format));
    return fail(0);
  };
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 32) {
    refuseImageFile("TIFF", "imgTiff - Can't hold samples of %d bits.\n", static_cast<int>(bits));
    return fail(0);
  }
  if (bits < 8 && bands > 1) {
    refuseImageFile("TIFF", "imgTiff - Can't hold %d bands of %d-bit samples.\n",
                    static_cast<int>(std::min<int64_t>(bands, INT32_MAX)),
                    static_cast<int>(bits));
    return fail(0);
  }
  switch (bits) {
  case 1:
    header->pixelid = P_1BIT;
    header->block = (columns - 1) / 8 + 1;
    header->msbf = 1;
    break;
  case 4:
    header->pixelid = P_4BITS;
    header->block = (columns + 1) / 2;
    header->msbf = 1;
    break;
  case 8:
    // Signed bytes are SBYTE; no float is held in 8 bits.
    if (format == 3) return badFormat();
    header->pixelid = format == 2 ? P_SBYTE : P_BYTE;
    header->block = bands * columns;
    break;
  case 16:
    if (format != 1 && format != 2) return badFormat();
    header->pixelid = format == 1 ? P_USHORT : P_SHORT;
    header->block = bands * columns * 2;
    break;
  default:
    if (format < 1 || format > 3) return badFormat();
    header->pixelid = format == 1 ? P_ULONG : format == 2 ? P_LONG : P_FLOAT;
    header->block = bands * columns * 4;
    break;
  }
  header->bits = static_cast<int>(bits);
  if (compression != 1 && tileWidth > 0) {
    refuseImageFile("TIFF", "imgTiff - Can't read compressed tiles.\n");
    return fail(-1);
  }
  if (!tiffUnitsFit(fd, tiff, header, offsets, counts, fileSize)) return fail(0);

  const int colors = getTiffColorMap(fd, ifd, order, header->palette);
  if (colors < -1) {
    refuseImageFile("TIFF", "imgTiff - invalid nIndices: %d\n",
                    static_cast<int>(entryOf(ifd, TAG_COLOR_MAP)->count / 3));
    return fail(0);
  }
  header->nindices = colors > 0 ? colors / 3 : 0;
  if (bits == 1 && header->nindices == 0) {
    // WhiteIsZero unless the file says BlackIsZero.
    const bool blackIsZero = getTiffPhotometric(ifd) == 1;
    header->nindices = 2;
    memset(header->palette[0], blackIsZero ? 0 : 255, 3);
    memset(header->palette[1], blackIsZero ? 255 : 0, 3);
  }
  header->transparent = -1;
  if (tiff->georeferenced) header->imgid = IMG_GEOTIFF;
  tiff->page = page;
  *privateData = tiff;
  return 1;
}

/* probeTiff -- the sniffer's TIFF probe: the imgid, 0 or -1. */
int probeTiff(int fd, const char *, ImageHeader *header, void **privateData) {
  const int result = imgTiff(fd, header, 1, privateData);
  return result > 0 ? header->imgid : result;
}

/*
 * addTiffTag --
 *     Stores a tag of a file being written; the values (count elements of
 *     the type, host order) are copied.
 * Results:      1 for a new tag, 0 when it replaced one, -1 on failure.
 */
int addTiffTag(Tcl_HashTable *table, int tag, int type, int count, uint32_t value,
               const void *values) {
  const int size = getTiffTypeSize(type);
  if (size < 0 || count < 0) return -1;
  TiffTagRecord *record = static_cast<TiffTagRecord *>(gmemAlloc(sizeof(TiffTagRecord)));
  if (!record) return -1;
  record->tag = tag;
  record->type = type;
  record->count = count;
  record->value = value;
  record->values = nullptr;
  if (values && count > 0) {
    record->values = gmemAlloc(size * count);
    if (!record->values) {
      gmemFree(record);
      return -1;
    }
    memcpy(record->values, values, static_cast<size_t>(size) * count);
  }
  return putToIntHashTable(table, reinterpret_cast<void *>(static_cast<intptr_t>(tag)), record);
}

/*
 * writeTiffIFD --
 *     Writes the out-of-line values of every tag from an offset on (each
 *     piece even in length), then the directory after them, in ascending
 *     tag order, in host byte order.
 * Results:      the directory's offset; -1 when a write fails or an offset
 *     passes 4 GB.
 */
int64_t writeTiffIFD(Tcl_HashTable *table, int fd, int64_t offset) {
  const bool msb = msbFirst() != 0;
  const int n = countHashEntries(table);
  void **keys = getHashKeys(table, compareTiffTags);
  if (!keys) return -1;
  std::vector<unsigned char> directory(static_cast<size_t>(2 + 12 * n + 4), 0);
  putU16(directory.data(), static_cast<uint32_t>(n), msb);
  // Values and the directory start on word boundaries, after odd-length
  // pixel data too.
  int64_t at = (offset + 1) / 2 * 2;
  bool ok = true;
  for (int i = 0; i < n && ok; i++) {
    const TiffTagRecord *record =
        static_cast<const TiffTagRecord *>(getHashValue(findHashEntry(table, keys[i])));
    const int64_t bytes = int64_t{getTiffTypeSize(record->type)} * record->count;
    unsigned char *e = &directory[static_cast<size_t>(2 + 12 * i)];
    putU16(e, static_cast<uint32_t>(record->tag), msb);
    putU16(e + 2, static_cast<uint32_t>(record->type), msb);
    putU32(e + 4, static_cast<uint32_t>(record->count), msb);
    if (!record->values) {
      if (getTiffTypeSize(record->type) == 2) putU16(e + 8, record->value, msb);
      else putU32(e + 8, record->value, msb);
    } else if (bytes <= 4) {
      encodeTiffValues(e + 8, record->type, record->count, record->values, msb);
    } else {
      std::vector<unsigned char> values(static_cast<size_t>(bytes + 1), 0);
      encodeTiffValues(values.data(), record->type, record->count, record->values, msb);
      const int64_t even = (bytes + 1) / 2 * 2;
      ok = at + even <= UINT32_MAX && writeFileAt(fd, values.data(), even, at);
      putU32(e + 8, static_cast<uint32_t>(at), msb);
      at += even;
    }
  }
  gmemFree(keys);
  if (!ok || at + int64_t(directory.size()) > UINT32_MAX ||
      !writeFileAt(fd, directory.data(), static_cast<int64_t>(directory.size()), at))
    return -1;
  return at;
}

/*
 * writeTiffFile --
 *     Writes the header, tags and directory of a one-strip, uncompressed
 *     file for an image header; the pixels go from offset 8 on (the body
 *     writer fills them).  GEOTIFF images get the GeoTIFF tags.
 * Results:      8, the data offset; -1 on failure.
 * Side effects: the header's bytes per record are set.
 */
int writeTiffFile(int fd, int spaceCheck, const ImageHeader *pathHeader, ImageHeader *header) {
  const int bits = getPixelBits(header->pixelid);
  const int64_t columns = header->columns, rows = header->rows, bands = header->nbands;
  if (bits <= 0 || columns <= 0 || rows <= 0 || bands <= 0 || bands > 65535 ||
      columns > UINT32_MAX || rows > UINT32_MAX)
    return -1;
  const int64_t block = bits < 8 ? (columns * bits - 1) / 8 + 1 : columns * bands * bits / 8;
  if (block > (int64_t{UINT32_MAX} - 8) / rows) return -1;
  const int64_t imageBytes = block * rows;
  if (spaceCheck) {
    const double available = getPathDiskFree(pathHeader->path);
    if (8 + imageBytes > available) {
      vesk_fprintf(stderr, "Insufficient disk space.  Requested:%d Available:%.f\n",
                   static_cast<int>(std::min<int64_t>(8 + imageBytes, INT32_MAX)), available);
      return -1;
    }
  }
  header->block = block;

  Tcl_HashTable *table = createIntHashTable();
  if (!table) return -1;
  const auto add = [&](int tag, int type, int count, uint32_t value, const void *values) {
    addTiffTag(table, tag, type, count, value, values);
  };
  std::vector<uint16_t> perBand(static_cast<size_t>(bands), static_cast<uint16_t>(bits));
  add(TAG_IMAGE_WIDTH, TIFF_LONG, 1, static_cast<uint32_t>(columns), nullptr);
  add(TAG_IMAGE_LENGTH, TIFF_LONG, 1, static_cast<uint32_t>(rows), nullptr);
  add(TAG_BITS_PER_SAMPLE, TIFF_SHORT, static_cast<int>(bands), 0, perBand.data());
  add(TAG_COMPRESSION, TIFF_SHORT, 1, 1, nullptr);
  const bool hasColorMap = header->nindices > 0 && bits <= 8;
  const int photometric = bands == 1 && hasColorMap ? 3 : bands == 3 ? 2 : 1;
  add(TAG_PHOTOMETRIC, TIFF_SHORT, 1, static_cast<uint32_t>(photometric), nullptr);
  add(TAG_STRIP_OFFSETS, TIFF_LONG, 1, 8, nullptr);
  add(TAG_ORIENTATION, TIFF_SHORT, 1, 1, nullptr);
  add(TAG_SAMPLES_PER_PIXEL, TIFF_SHORT, 1, static_cast<uint32_t>(bands), nullptr);
  add(TAG_ROWS_PER_STRIP, TIFF_LONG, 1, static_cast<uint32_t>(rows), nullptr);
  add(TAG_STRIP_BYTE_COUNTS, TIFF_LONG, 1, static_cast<uint32_t>(imageBytes), nullptr);
  if (header->pixelid == P_BYTE) {
    add(TAG_MIN_SAMPLE_VALUE, TIFF_SHORT, 1, 0, nullptr);
    add(TAG_MAX_SAMPLE_VALUE, TIFF_SHORT, 1, 255, nullptr);
  }
  add(TAG_PLANAR_CONFIGURATION, TIFF_SHORT, 1, 1, nullptr);
  // Baseline readers need a resolution: 72 pixels per inch.
  const uint32_t resolution[2] = {72, 1};
  add(TAG_X_RESOLUTION, TIFF_RATIONAL, 1, 0, resolution);
  add(TAG_Y_RESOLUTION, TIFF_RATIONAL, 1, 0, resolution);
  add(TAG_RESOLUTION_UNIT, TIFF_SHORT, 1, 2, nullptr);
  if (hasColorMap) {
    // A ColorMap holds 2^bits reds, then as many greens and blues.
    const int entries = 1 << bits;
    uint16_t map[768];
    for (int c = 0; c < 3; c++)
      for (int i = 0; i < entries; i++)
        map[c * entries + i] = static_cast<uint16_t>(header->palette[i][c] * 256);
    add(TAG_COLOR_MAP, TIFF_SHORT, 3 * entries, 0, map);
  }
  int format = 1;
  switch (header->pixelid) {
  case P_SHORT: case P_LONG: case P_SBYTE: format = 2; break;
  case P_FLOAT: format = 3; break;
  default: break;
  }
  std::vector<uint16_t> formats(static_cast<size_t>(bands), static_cast<uint16_t>(format));
  add(TAG_SAMPLE_FORMAT, TIFF_SHORT, static_cast<int>(bands), 0, formats.data());
  // Samples beyond the grey (or RGB) channels are declared "unspecified".
  const int64_t extra = bands - (photometric == 2 ? 3 : 1);
  if (extra > 0) {
    std::vector<uint16_t> unspecified(static_cast<size_t>(extra), 0);
    add(TAG_EXTRA_SAMPLES, TIFF_SHORT, static_cast<int>(extra), 0, unspecified.data());
  }

  if (header->imgid == IMG_GEOTIFF) {
    const double scale[3] = {header->dx, header->dy, 0};
    const double tie[6] = {0, 0, 0, header->x0, header->y0, 0};
    add(TAG_MODEL_PIXEL_SCALE, TIFF_DOUBLE, 3, 0, scale);
    add(TAG_MODEL_TIEPOINT, TIFF_DOUBLE, 6, 0, tie);
    std::string text = getMapidName(header->mapid) ? getMapidName(header->mapid) : "";
    text += "|";
    if (header->note[0]) {
      text.append(header->note, strnlen(header->note, sizeof header->note));
      text += "|";
    }
    // The key counts the text with its last "|"; the tag adds the NUL.
    const int keyCount = static_cast<int>(text.size());
    text.push_back(0);
    const int m = static_cast<int>(text.size());
    uint16_t keys[20];
    setGeoKeyEntry(keys, 0, 1, 1, 0, 4);
    setGeoKeyEntry(keys, 1, 1024, 0, 1, 1);
    setGeoKeyEntry(keys, 2, 1025, 0, 1, 1);
    setGeoKeyEntry(keys, 3, 3072, 0, 1, header->mapid >= kMinPcsCode ? header->mapid : 32767);
    setGeoKeyEntry(keys, 4, 3073, TAG_GEO_ASCII_PARAMS, keyCount, 0);
    add(TAG_GEO_KEY_DIRECTORY, TIFF_SHORT, 20, 0, keys);
    add(TAG_GEO_ASCII_PARAMS, TIFF_ASCII, m, 0, text.data());
  }

  const int64_t ifdOffset = writeTiffIFD(table, fd, 8 + imageBytes);
  deleteHashTable(table, freeTiffTagEntry);
  if (ifdOffset < 0) return -1;
  const bool msb = msbFirst() != 0;
  unsigned char head[8];
  head[0] = head[1] = msb ? 'M' : 'I';
  putU16(head + 2, 42, msb);
  putU32(head + 4, static_cast<uint32_t>(ifdOffset), msb);
  return writeFileAt(fd, head, 8, 0) ? 8 : -1;
}

/* writeTiffHeader -- the TIFF header step of file creation: 8, or -1. */
int writeTiffHeader(int fd, int spaceCheck, ImageHeader *header) {
  const int result = writeTiffFile(fd, spaceCheck, header, header);
  if (result >= 0) header->offset = result;
  return result;
}

/*
 * writeTiffTrailer --
 *     Writes the header's palette over the ColorMap of the current page.
 * Results:      putTiffColorMap's result; 0 without private data.
 */
int writeTiffTrailer(int fd, ImageHeader *header, void *privateData) {
  const TiffPrivate *tiff = static_cast<const TiffPrivate *>(privateData);
  if (!tiff || !tiff->info || tiff->page < 1 || tiff->page > tiff->info->count) return 0;
  return putTiffColorMap(fd, tiff->info->directories[static_cast<size_t>(tiff->page - 1)],
                         tiff->byteOrder, header->palette);
}

/* ---- changing the tags of a loaded file ---- */

/*
 * writeTiffEntry --
 *     Writes one 12-byte directory entry at the file's current position,
 *     in the given byte order.
 * Results:      12; -1 when the write fails.
 * Side effects: the file position moves past the entry.
 */
int writeTiffEntry(int fd, int byteOrder, const TiffEntry *entry) {
  const bool msb = isBigEndian(byteOrder);
  unsigned char bytes[12];
  putU16(bytes, static_cast<uint32_t>(entry->tag), msb);
  putU16(bytes + 2, static_cast<uint32_t>(entry->type), msb);
  putU32(bytes + 4, entry->count, msb);
  encodeEntryValue(entry->type, entry->count, entry->value, bytes + 8, msb);
  return write(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes) ? 12 : -1;
}

/*
 * writeTiffValues --
 *     Writes count values of `size` bytes (1, 2, 4 or 8; host order) at an
 *     offset, each swapped as one unit into the given byte order.  A
 *     RATIONAL value is two 4-byte values.
 * Results:      the offset after the values; -1 for another size, a
 *     negative count, an end past 4 GB or a failed write.
 */
int64_t writeTiffValues(int fd, int64_t offset, int byteOrder, int64_t count, int size,
                        const void *values) {
  if (offset < 0 || count < 0 || (size != 1 && size != 2 && size != 4 && size != 8) ||
      count > (int64_t{UINT32_MAX} - offset) / size)
    return -1;
  const bool msb = isBigEndian(byteOrder);
  std::vector<unsigned char> bytes(static_cast<size_t>(count * size));
  const unsigned char *from = static_cast<const unsigned char *>(values);
  for (int64_t i = 0; i < count; i++) {
    unsigned char *p = &bytes[static_cast<size_t>(i * size)];
    const unsigned char *q = from + i * size;
    if (size == 1) {
      *p = *q;
    } else if (size == 2) {
      uint16_t v;
      memcpy(&v, q, 2);
      putU16(p, v, msb);
    } else if (size == 4) {
      uint32_t v;
      memcpy(&v, q, 4);
      putU32(p, v, msb);
    } else {
      double v;
      memcpy(&v, q, 8);
      putF64(p, v, msb);
    }
  }
  if (count > 0 && !writeFileAt(fd, bytes.data(), count * size, offset)) return -1;
  return offset + count * size;
}

/*
 * writeTiffLongAt --
 *     Writes a whole directory at an offset: the entry count, the entries
 *     in their order and a next offset of 0, in the given byte order.
 * Results:      the offset after the directory; -1 when the write fails.
 */
int64_t writeTiffLongAt(int fd, int byteOrder, int64_t offset, const TiffIFD *ifd) {
  const bool msb = isBigEndian(byteOrder);
  const size_t n = ifd->entries.size();
  if (offset < 0 || n > 65535) return -1;
  std::vector<unsigned char> bytes(2 + 12 * n + 4, 0);
  putU16(bytes.data(), static_cast<uint32_t>(n), msb);
  for (size_t i = 0; i < n; i++) {
    const TiffEntry &e = ifd->entries[i];
    unsigned char *p = &bytes[2 + 12 * i];
    putU16(p, static_cast<uint32_t>(e.tag), msb);
    putU16(p + 2, static_cast<uint32_t>(e.type), msb);
    putU32(p + 4, e.count, msb);
    encodeEntryValue(e.type, e.count, e.value, p + 8, msb);
  }
  const int64_t size = static_cast<int64_t>(bytes.size());
  if (offset + size > UINT32_MAX || !writeFileAt(fd, bytes.data(), size, offset)) return -1;
  return offset + size;
}

/*
 * setTiffTag --
 *     Inserts or replaces a tag in the last directory of a loaded file;
 *     the values are count elements of the type in host order (RATIONALs
 *     as numerator, denominator pairs of uint32).  Entries stay in
 *     ascending tag order.  A replaced tag whose values fit in its entry
 *     is rewritten in place.  Otherwise the values and then the grown
 *     directory are written where the directory was when it ends the
 *     file, else after the end of the file (so that nothing behind the
 *     old directory is overwritten), and the link to the directory (the
 *     previous directory's next field, or the header's first offset) is
 *     pointed at it.
 * Results:      1 for a new tag, 0 for a replaced one, -1 on failure (an
 *     unknown type, no values, offsets past 4 GB, a failed write).
 * Side effects: the loaded directory follows the file.
 */
int setTiffTag(int fd, TiffInfo *info, int tag, int type, int count, const void *values) {
  const int size = getTiffTypeSize(type);
  if (!info || info->directories.empty() || size < 0 || tag < 0 || tag > 65535 || count <= 0 ||
      !values || int64_t{count} * size > UINT32_MAX / 2)
    return -1;
  const int byteOrder = info->headerWord;
  const bool msb = isBigEndian(byteOrder);
  TiffIFD *ifd = info->directories.back();
  const int64_t fileSize = fileSizeOf(fd);
  if (fileSize < 0) return -1;

  TiffEntry entry;
  entry.tag = tag;
  entry.type = type;
  entry.count = static_cast<uint32_t>(count);
  const int64_t bytes = int64_t{count} * size;
  if (bytes <= 4) {
    unsigned char field[4] = {0, 0, 0, 0};
    encodeTiffValues(field, type, count, values, msb);
    entry.value = decodeEntryValue(type, entry.count, field, msb);
  }

  std::vector<TiffEntry> entries = ifd->entries;
  size_t at = 0;
  while (at < entries.size() && entries[at].tag < tag) at++;
  const bool replace = at < entries.size() && entries[at].tag == tag;
  if (!replace && entries.size() >= 65535) return -1;

  if (replace && bytes <= 4) {
    const int64_t where = ifd->offset + 2 + 12 * static_cast<int64_t>(at);
    if (where + 12 > fileSize || lseek(fd, static_cast<off_t>(where), SEEK_SET) < 0 ||
        writeTiffEntry(fd, byteOrder, &entry) < 0)
      return -1;
    ifd->entries[at] = entry;
    return 0;
  }

  // The directory moves: its values and then itself go where it was when
  // it ends the file, else after the end.
  const int64_t oldEnd = ifd->offset + 2 + 12 * static_cast<int64_t>(ifd->entries.size()) + 4;
  int64_t place = oldEnd >= fileSize ? ifd->offset : fileSize;
  place = (place + 1) / 2 * 2;
  if (bytes > 4) {
    std::vector<unsigned char> encoded(static_cast<size_t>(bytes + 1), 0);
    encodeTiffValues(encoded.data(), type, count, values, msb);
    const int64_t even = (bytes + 1) / 2 * 2;
    if (place + even > UINT32_MAX || !writeFileAt(fd, encoded.data(), even, place)) return -1;
    entry.value = static_cast<uint32_t>(place);
    place += even;
  }
  if (replace) entries[at] = entry;
  else entries.insert(entries.begin() + static_cast<ptrdiff_t>(at), entry);
  TiffIFD moved;
  moved.offset = place;
  moved.entries = entries;
  if (writeTiffLongAt(fd, byteOrder, place, &moved) < 0) return -1;

  unsigned char link[4];
  putU32(link, static_cast<uint32_t>(place), msb);
  const size_t last = info->directories.size() - 1;
  int64_t linkAt = 4;
  if (last > 0) {
    const TiffIFD *previous = info->directories[last - 1];
    linkAt = previous->offset + 2 + 12 * static_cast<int64_t>(previous->entries.size());
  }
  if (!writeFileAt(fd, link, 4, linkAt)) return -1;
  if (last > 0) info->directories[last - 1]->next = place;
  else info->firstOffset = place;
  ifd->offset = place;
  ifd->next = 0;
  ifd->entries = std::move(entries);
  return replace ? 0 : 1;
}

/*
 * getTiffBitsPerSample --
 *     BitsPerSample of a directory read as one number.
 * Results:      the value for one value, 8 for three; -1 without the tag,
 *     or with a message for any other count.
 */
int64_t getTiffBitsPerSample(const TiffIFD *ifd) {
  const TiffEntry *e = entryOf(ifd, TAG_BITS_PER_SAMPLE);
  if (!e) return -1;
  if (e->count == 1) return narrowTiffValue(e->type, e->value);
  if (e->count == 3) return 8;
  vesk_fprintf(stderr, "Unknown vCount for BITPERSAMPLE %ld\n", static_cast<long>(e->count));
  return -1;
}

}  // namespace vesk
