/*
 * tiff.h --
 *     TIFF and GeoTIFF files: the directory model (every image file
 *     directory of a file, loaded once), the tag accessors, the page
 *     reader that fills an image header, and the one-strip writer.
 */
#ifndef VESK_RASTER_TIFF_H
#define VESK_RASTER_TIFF_H

#include <stdint.h>
#include <vector>

#include "raster/ramimg.h"

struct Tcl_HashTable;

/*
 * One 12-byte directory entry, in host order.  The value field is kept
 * as the number it holds in a little-endian reading of its four bytes:
 * a LONG or an offset is itself, a SHORT of count 1 is in the low 16
 * bits, two SHORTs are v0 | v1 << 16, up to four BYTE or ASCII values
 * are b0 | b1 << 8 | b2 << 16 | b3 << 24, whatever the file's order.
 */
struct TiffEntry {
  int tag = 0;
  int type = 0;
  uint32_t count = 0;
  uint32_t value = 0;
};

/* One loaded directory. */
struct TiffIFD {
  int64_t offset = 0;  /* own file offset */
  int64_t next = 0;    /* offset of the next directory, 0 for the last */
  std::vector<TiffEntry> entries;  /* in file order */
};

/* The directories of a file, in chain order. */
struct TiffInfo {
  int count = 0;        /* directories */
  int headerWord = 0;   /* byte-order word (0x4949 or 0x4D4D) */
  int version = 0;
  int64_t firstOffset = 0;
  std::vector<TiffIFD *> directories;
};

namespace vesk {

enum TiffType {
  TIFF_BYTE = 1, TIFF_ASCII, TIFF_SHORT, TIFF_LONG, TIFF_RATIONAL, TIFF_SBYTE, TIFF_UNDEFINED,
  TIFF_SSHORT, TIFF_SLONG, TIFF_SRATIONAL, TIFF_FLOAT, TIFF_DOUBLE
};

/* The tags this unit reads or writes. */
enum TiffTag {
  TAG_IMAGE_WIDTH = 256, TAG_IMAGE_LENGTH = 257, TAG_BITS_PER_SAMPLE = 258,
  TAG_COMPRESSION = 259, TAG_PHOTOMETRIC = 262, TAG_STRIP_OFFSETS = 273, TAG_ORIENTATION = 274,
  TAG_SAMPLES_PER_PIXEL = 277, TAG_ROWS_PER_STRIP = 278, TAG_STRIP_BYTE_COUNTS = 279,
  TAG_MIN_SAMPLE_VALUE = 280, TAG_MAX_SAMPLE_VALUE = 281, TAG_X_RESOLUTION = 282,
  TAG_Y_RESOLUTION = 283, TAG_PLANAR_CONFIGURATION = 284, TAG_RESOLUTION_UNIT = 296,
  TAG_COLOR_MAP = 320, TAG_TILE_WIDTH = 322, TAG_TILE_LENGTH = 323, TAG_EXTRA_SAMPLES = 338,
  TAG_SAMPLE_FORMAT = 339,
  TAG_MODEL_PIXEL_SCALE = 33550, TAG_MODEL_TIEPOINT = 33922, TAG_GEO_KEY_DIRECTORY = 34735,
  TAG_GEO_ASCII_PARAMS = 34737
};

/* ---- file structure ---- */
int getTiffTypeSize(int type);
int64_t readTiffHeader(int fd, unsigned char header[8]);
int getTiffInfo(int fd, int *count, unsigned char header[8]);
TiffIFD *getNextIFDEntry(int fd, int byteOrder, int64_t offset);
TiffInfo *loadTiffInfo(int fd);
void freeTiffInfo(TiffInfo *info);
int findTiffTag(const TiffIFD *ifd, int tag);
int64_t readTiffShort(int fd, int byteOrder, int64_t offset, int64_t i);
double readTiffDouble(int fd, int byteOrder, int64_t offset, int64_t i);
int64_t narrowTiffValue(int type, uint32_t value);
int64_t getTiffArrayValue(int fd, const TiffIFD *ifd, int tag, int64_t i, int byteOrder);
int getTiffColorMap(int fd, const TiffIFD *ifd, int byteOrder, unsigned char palette[256][3]);
int putTiffColorMap(int fd, const TiffIFD *ifd, int byteOrder,
                    const unsigned char palette[256][3]);

/* ---- tag accessors: -1 when the tag is absent unless stated ---- */
int64_t getTiffImageWidth(const TiffIFD *ifd);
int64_t getTiffImageLength(const TiffIFD *ifd);
int64_t getTiffBitsPerSampleAt(int fd, const TiffIFD *ifd, int i, int byteOrder);
int64_t getTiffCompression(const TiffIFD *ifd);
int64_t getTiffPhotometric(const TiffIFD *ifd);
int64_t getTiffStripOffsets(const TiffIFD *ifd, int64_t *count);
int64_t getTiffSamplesPerPixel(const TiffIFD *ifd);
int64_t getTiffRowsPerStrip(const TiffIFD *ifd);
int64_t getTiffStripByteCounts(const TiffIFD *ifd);
int64_t getTiffTileWidth(const TiffIFD *ifd);
int64_t getTiffTileLength(const TiffIFD *ifd);
int64_t getTiffSampleFormat(int fd, const TiffIFD *ifd, int i, int byteOrder);
int getTiffPixelScale(int fd, const TiffIFD *ifd, int byteOrder, double scale[3]);
int getTiffTiepoint(int fd, const TiffIFD *ifd, int byteOrder, double tiepoint[6]);

/* ---- reading and writing ---- */
int imgTiff(int fd, ImageHeader *header, int page, void **privateData);
int writeTiffHeader(int fd, int spaceCheck, ImageHeader *header);
int writeTiffFile(int fd, int spaceCheck, const ImageHeader *pathHeader, ImageHeader *header);
int addTiffTag(Tcl_HashTable *table, int tag, int type, int count, uint32_t value,
               const void *values);
int64_t writeTiffIFD(Tcl_HashTable *table, int fd, int64_t offset);
int writeTiffTrailer(int fd, ImageHeader *header, void *privateData);
int probeTiff(int fd, const char *path, ImageHeader *header, void **privateData);

/* ---- changing the tags of a loaded file ---- */
int writeTiffEntry(int fd, int byteOrder, const TiffEntry *entry);
int64_t writeTiffValues(int fd, int64_t offset, int byteOrder, int64_t count, int size,
                        const void *values);
int64_t writeTiffLongAt(int fd, int byteOrder, int64_t offset, const TiffIFD *ifd);
int setTiffTag(int fd, TiffInfo *info, int tag, int type, int count, const void *values);
int64_t getTiffBitsPerSample(const TiffIFD *ifd);

}  // namespace vesk

#endif
