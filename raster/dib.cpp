/*
 * dib.cpp --
 *     Windows device-independent bitmaps (BMP files) of 1, 4, 8, 24 and
 *     32 bits: the 14-byte file header, an info header of 40 bytes or
 *     more, the palette, and in the gap before the pixels the
 *     georeference string.  Rows are stored bottom-up unless the height
 *     is negative; bytes of a pixel are blue, green, red (, alpha).
 *     Compressed bitmaps are refused.
 */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <algorithm>
#include <new>

#include "core/core.h"
#include "core/text.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* Bytes of a file the probe reads: headers, palette and gap. */
constexpr int kDibProbeSize = 4096;
/* The longest gap that can hold a georeference string. */
constexpr int kDibGapLimit = 256;

const char *dibCompressionName(uint32_t code) {
  switch (code) {
  case 1: return "RLE8";
  case 2: return "RLE4";
  case 3: return "BITFIELDS";
  case 4: return "JPEG";
  case 5: return "PNG";
  default: return "unknown";
  }
}

/* Bytes of one stored row: whole 32-bit words. */
int64_t dibRowBytes(int64_t bitCount, int64_t columns) { return (bitCount * columns + 31) / 32 * 4; }

}  // namespace

/*
 * initDIB_Bi --
 *     Fills a header from a 40-byte (little-endian) info header.
 * Results:      1; 0 for a bit count other than 1, 4, 8, 24 and 32 (with
 *     a message), a width of 0 or less, or a height of 0.
 */
int initDIB_Bi(ImageHeader *header, const unsigned char *info) {
  const int64_t width = getI32(info + 4, false);
  const int64_t height = getI32(info + 8, false);
  const int bitCount = getU16(info + 14, false);
  const uint32_t colorsUsed = getU32(info + 32, false);
  header->msbf = 0;
  header->offset = 0;
  header->nindices = colorsUsed > 65536 ? 65536 : static_cast<int>(colorsUsed);
  switch (bitCount) {
  case 1:
    header->pixelid = P_1BIT;
    header->bits = 1;
    header->nbands = 1;
    if (colorsUsed == 0) header->nindices = 2;
    header->msbf = 1;
    break;
  case 4:
    header->pixelid = P_4BITS;
    header->bits = 4;
    header->nbands = 1;
    if (colorsUsed == 0) header->nindices = 16;
    header->msbf = 1;
    break;
  case 8:
    header->pixelid = P_BYTE;
    header->bits = 8;
    header->nbands = 1;
    if (colorsUsed == 0) header->nindices = 256;
    break;
  case 24:
  case 32:
    header->pixelid = P_BYTE;
    header->bits = 8;
    header->nbands = bitCount / 8;
    header->nindices = 0;
    break;
  default:
    vesk_fprintf(stderr, "Error in initDIB_Bi: invalid BitCount.\n");
    return 0;
  }
  const int64_t rows = height < 0 ? -height : height;
  if (width <= 0 || rows == 0 || rows > INT32_MAX) return 0;
  header->imgid = IMG_DIB;
  header->mapid = MAPID_GRID;
  header->imgtype = 0;
  header->block = dibRowBytes(bitCount, width);
  header->transparent = -1;
  header->top = header->left = 0;
  header->rows = static_cast<int>(rows);
  header->columns = static_cast<int>(width);
  header->x0 = header->y0 = 0;
  header->dx = header->dy = 1.0;
  return 1;
}

/* setDIBPalette -- takes count (blue, green, red, x) quads as the palette. */
void setDIBPalette(ImageHeader *header, const unsigned char *quads, int count) {
  count = std::clamp(count, 0, 256);
  header->nindices = count;
  for (int i = 0; i < count; i++) {
    header->palette[i][0] = quads[4 * i + 2];
    header->palette[i][1] = quads[4 * i + 1];
    header->palette[i][2] = quads[4 * i];
  }
}

/*
 * parseDibHeader --
 *     Reads a DIB from the first bytes of a file: file header, info
 *     header, the palette right after the info header's declared size,
 *     and a georeference string in a gap of 1 to 256 bytes before the
 *     pixels.
 * Results:      7 (DIB), with *topDown set for rows stored top-down; 0 for
 *     another file, an info header under 40 bytes, an unsupported bit
 *     count, compression (with a message), more colours than the bit
 *     count allows, or a palette or pixel data outside the file.
 */
int parseDibHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                   ImageHeader *header, bool *topDown) {
  if (size < kDibFileHeaderSize + kDibInfoHeaderSize) return 0;
  if (buffer[0] != 'B' || buffer[1] != 'M') return 0;
  const unsigned char *info = buffer + kDibFileHeaderSize;
  const int64_t infoSize = getU32(info, false);
  const int64_t pixelOffset = getU32(buffer + 10, false);
  if (infoSize < kDibInfoHeaderSize) return 0;

  ImageHeader h = *header;
  if (!initDIB_Bi(&h, info)) return 0;
  const uint32_t compression = getU32(info + 16, false);
  if (compression != 0) {
    vesk_fprintf(stderr, "Can't read a compressed DIB (compression %u, %s).\n",
                 static_cast<unsigned>(compression), dibCompressionName(compression));
    return 0;
  }
  const int bitCount = getU16(info + 14, false);
  if (bitCount <= 8 && h.nindices > (1 << bitCount)) {
    vesk_fprintf(stderr, "Wrong value for colors used: %u\n", getU32(info + 32, false));
    return 0;
  }
  const int64_t paletteAt = kDibFileHeaderSize + infoSize;
  const int64_t paletteEnd = paletteAt + 4 * int64_t{h.nindices};
  if (paletteEnd > size || paletteEnd > pixelOffset) return 0;
  if (!extentFits(pixelOffset, h.block, h.rows, fileSize)) return 0;

  if (h.nindices > 0) setDIBPalette(&h, buffer + paletteAt, h.nindices);
  const int64_t gap = pixelOffset - paletteEnd;
  if (gap >= 1 && gap <= kDibGapLimit && pixelOffset <= size) {
    char text[kDibGapLimit + 1];
    memcpy(text, buffer + paletteEnd, static_cast<size_t>(gap));
    text[gap] = 0;
    parseProjString(&h, text);
  }
  h.offset = pixelOffset;
  *header = h;
  if (topDown) *topDown = getI32(info + 8, false) < 0;
  return IMG_DIB;
}

/* readDibHeader -- the DIB probe without private data; the position is kept. */
int readDibHeader(int fd, ImageHeader *header) {
  unsigned char buffer[kDibProbeSize];
  int64_t fileSize = 0;
  const int64_t n = readFilePrefix(fd, buffer, sizeof buffer, &fileSize);
  return n < 0 ? 0 : parseDibHeader(buffer, n, fileSize, header, nullptr);
}

/*
 * readDibProbe --
 *     The sniffer's DIB probe.  A top-down file gets private data that
 *     tells the line cache the order of its rows.
 */
int readDibProbe(int fd, const char *, ImageHeader *header, void **privateData) {
  unsigned char buffer[kDibProbeSize];
  int64_t fileSize = 0;
  const int64_t n = readFilePrefix(fd, buffer, sizeof buffer, &fileSize);
  bool topDown = false;
  if (n < 0 || parseDibHeader(buffer, n, fileSize, header, &topDown) == 0) return 0;
  if (topDown && privateData) {
    void *memory = gmemAlloc(sizeof(DibPrivate));
    if (!memory) return 0;
    *privateData = new (memory) DibPrivate{1};
  }
  return IMG_DIB;
}

/*
 * writeDibHeader --
 *     Writes the file header, the 40-byte info header, the palette and
 *     the georeference string of a bottom-up DIB: 1BIT (1 bit), 4BITS
 *     (4 bits), BYTE with one band (8 bits) or more (24 bits, three
 *     bands).
 * Results:      the pixel-data offset (54 + palette + georeference
 *     string); -1 for another pixel type, a file too large for the
 *     format, too little disk space (with spaceCheck), or a short write.
 * Side effects: sets the header's bytes per record, data offset,
 *     MSB-first flag, and bands for 24 bits.
 */
int writeDibHeader(int fd, int spaceCheck, ImageHeader *header) {
  char proj[kProjStringSize];
  const int projSize = std::min<int>(formatProjString(header, proj, sizeof proj), sizeof proj);
  int bitCount, paletteCount;
  switch (header->pixelid) {
  case P_1BIT: bitCount = 1; paletteCount = 2; break;
  case P_4BITS: bitCount = 4; paletteCount = 16; break;
  case P_BYTE:
    if (header->nbands <= 1) {
      bitCount = 8;
      paletteCount = 256;
    } else {
      bitCount = 24;
      paletteCount = 0;
      header->nbands = 3;
    }
    break;
  default:
    vesk_fprintf(stderr, "Can't write a DIB of pixel type %s.\n",
                 getPixelidName(header->pixelid));
    return -1;
  }
  const int64_t rowBytes = dibRowBytes(bitCount, header->columns);
  const int64_t pixelOffset = 54 + 4 * paletteCount + projSize;
  const int64_t fileSize = rowBytes * header->rows + pixelOffset;
  if (header->rows <= 0 || header->columns <= 0 || fileSize > UINT32_MAX) {
    vesk_fprintf(stderr, "Can't write a DIB of %d x %d pixels.\n", header->columns, header->rows);
    return -1;
  }
  if (spaceCheck) {
    const double available = getPathDiskFree(header->path);
    if (fileSize > available) {
      vesk_fprintf(stderr, "Insufficient disk space. Request:%ld Available:%.f\n",
                   static_cast<long>(fileSize), available);
      return -1;
    }
  }
  header->block = rowBytes;
  header->offset = pixelOffset;
  header->msbf = msbFirst();

  unsigned char head[54 + 4 * 256 + kProjStringSize] = {};
  head[0] = 'B';
  head[1] = 'M';
  putU32(head + 2, static_cast<uint32_t>(fileSize), false);
  putU32(head + 10, static_cast<uint32_t>(pixelOffset), false);
  unsigned char *info = head + kDibFileHeaderSize;
  putU32(info, kDibInfoHeaderSize, false);
  putU32(info + 4, static_cast<uint32_t>(header->columns), false);
  putU32(info + 8, static_cast<uint32_t>(header->rows), false);
  putU16(info + 12, 1, false);
  putU16(info + 14, static_cast<uint32_t>(bitCount), false);
  unsigned char *quads = info + kDibInfoHeaderSize;
  const int given = std::clamp(header->nindices, 0, paletteCount);
  for (int i = 0; i < paletteCount; i++) {
    unsigned char *q = quads + 4 * i;
    if (header->nindices > 0) {
      if (i < given) {
        q[0] = header->palette[i][2];
        q[1] = header->palette[i][1];
        q[2] = header->palette[i][0];
      }
    } else {
      q[0] = q[1] = q[2] = static_cast<unsigned char>(i);
    }
  }
  memcpy(quads + 4 * paletteCount, proj, static_cast<size_t>(projSize));
  if (!writeFileAt(fd, head, pixelOffset, 0)) return -1;
  return static_cast<int>(pixelOffset);
}

/*
 * writeDibPalette --
 *     Puts the header's palette into a written one-band DIB, keeping the
 *     fourth byte of each quad as the file has it.
 * Results:      the entries written; 0, with nothing written, when the
 *     file is not a DIB, or its bit count, the pixel type and the palette
 *     size (2, 16 or 256) do not agree.
 */
int writeDibPalette(int fd, ImageHeader *header) {
  if (header->nbands != 1) return 0;
  unsigned char head[kDibFileHeaderSize + kDibInfoHeaderSize];
  int64_t fileSize = 0;
  if (readFilePrefix(fd, head, sizeof head, &fileSize) != static_cast<int64_t>(sizeof head))
    return 0;
  if (head[0] != 'B' || head[1] != 'M') return 0;
  const unsigned char *info = head + kDibFileHeaderSize;
  int count;
  switch (getU16(info + 14, false)) {
  case 1: count = header->pixelid == P_1BIT ? 2 : 0; break;
  case 4: count = header->pixelid == P_4BITS ? 16 : 0; break;
  case 8: count = header->pixelid == P_BYTE ? 256 : 0; break;
  default: count = 0; break;
  }
  if (count == 0 || header->nindices != count) return 0;
  const int64_t at = kDibFileHeaderSize + int64_t{getU32(info, false)};
  if (!extentFits(at, 4, count, fileSize)) return 0;
  unsigned char quads[4 * 256];
  if (pread(fd, quads, 4 * static_cast<size_t>(count), at) != 4 * count) return 0;
  for (int i = 0; i < count; i++) {
    quads[4 * i] = header->palette[i][2];
    quads[4 * i + 1] = header->palette[i][1];
    quads[4 * i + 2] = header->palette[i][0];
  }
  if (!writeFileAt(fd, quads, 4 * count, at)) return 0;
  return count;
}

}  // namespace vesk
