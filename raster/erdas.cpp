/*
 * erdas.cpp --
 *     ERDAS 7.x files: a 128-byte little-endian header ("HEADER" for the
 *     older files whose size fields are floats, "HEAD74", or "E74BSQ" for
 *     band-sequential data) followed by the pixel data at byte 128.
 */
#include <math.h>
#include <stdio.h>

#include "core/core.h"
#include "core/text.h"
#include "raster/sniffer.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* Pack types by code, and the pixel types they hold. */
constexpr int erdasPixelids[] = {P_BYTE, P_4BITS, P_USHORT, P_LONG, P_FLOAT, P_SHORT};
constexpr int kErdasPackCount = sizeof erdasPixelids / sizeof erdasPixelids[0];

/* A float size field of an old header as a whole number of rows or
   columns, or -1 when it is not one. */
int erdasFloatSize(float value) {
  if (!(value >= 1.0f && value < 2147483520.0f)) return -1;
  return static_cast<int>(value);
}

}  // namespace

/*
 * parseErdasHeader --
 *     Reads an ERDAS header from the first bytes of a file.  The header is
 *     little-endian whatever the host.
 * Results:      4 (E73), 5 (E74) or 14 (E74BSQ); 0 for another file, an
 *     unknown pack type, sizes of 0 or less, or pixel data past the end
 *     of the file.
 */
int parseErdasHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                     ImageHeader *header) {
  if (size < kErdasHeaderSize) return 0;
  int imgid;
  if (memcmp(buffer, "HEADER", 6) == 0) imgid = IMG_E73;
  else if (memcmp(buffer, "HEAD74", 6) == 0) imgid = IMG_E74;
  else if (memcmp(buffer, "E74BSQ", 6) == 0) imgid = IMG_E74BSQ;
  else return 0;
  const int pack = static_cast<int16_t>(getU16(buffer + 6, false));
  if (pack < 0 || pack >= kErdasPackCount) return 0;
  const int pixelid = erdasPixelids[pack];
  const int bands = static_cast<int16_t>(getU16(buffer + 8, false));
  int rows, columns;
  if (imgid == IMG_E73) {
    columns = erdasFloatSize(getF32(buffer + 16, false));
    rows = erdasFloatSize(getF32(buffer + 20, false));
  } else {
    columns = getI32(buffer + 16, false);
    rows = getI32(buffer + 20, false);
  }
  if (rows <= 0 || columns <= 0 || bands <= 0) return 0;
  const int bits = getPixelBits(pixelid);
  const int64_t block = (int64_t{columns} * bits - 1) / 8 + 1;
  if (!extentFits(kErdasHeaderSize, block, int64_t{rows} * bands, fileSize)) return 0;

  header->imgid = imgid;
  header->pixelid = pixelid;
  header->bits = bits;
  header->msbf = pixelid == P_4BITS ? 1 : msbFirst();
  header->offset = kErdasHeaderSize;
  header->mapid = getU16(buffer + 92, false);
  if (header->mapid == 0) header->mapid = MAPID_GRID;
  header->top = getI32(buffer + 28, false);
  header->left = getI32(buffer + 24, false);
  header->rows = rows;
  header->columns = columns;
  header->nbands = bands;
  header->imgtype = static_cast<int16_t>(getU16(buffer + 10, false));
  header->zscale = getF32(buffer + 12, false);
  header->z0 = getF32(buffer + 32, false);
  header->zmin = getF32(buffer + 36, false);
  header->zmax = getF32(buffer + 40, false);
  header->x0 = getF32(buffer + 112, false);
  header->y0 = getF32(buffer + 116, false);
  header->dx = getF32(buffer + 120, false);
  header->dy = getF32(buffer + 124, false);
  header->nindices = 0;
  header->transparent = -1;
  header->block = block;
  return imgid;
}

/* readErdasHeader -- the ERDAS probe; the file position is kept. */
int readErdasHeader(int fd, ImageHeader *header) {
  unsigned char buffer[kErdasHeaderSize];
  int64_t fileSize = 0;
  const int64_t n = readFilePrefix(fd, buffer, sizeof buffer, &fileSize);
  return n < 0 ? 0 : parseErdasHeader(buffer, n, fileSize, header);
}

/*
 * writeErdasHeader --
 *     Writes the 128-byte header of an E73, E74 or E74BSQ file.
 * Results:      128; -1 for a pixel type without a pack type, when the
 *     disk lacks room for the whole file (with spaceCheck), or when the
 *     write falls short.
 * Side effects: sets the header's data offset, bytes per record and
 *     MSB-first flag.
 */
int writeErdasHeader(int fd, int spaceCheck, ImageHeader *header) {
  int pack;
  int64_t block;
  const int64_t columns = header->columns;
  switch (header->pixelid) {
  case P_4BITS: pack = 1; block = (4 * columns + 4) / 8; break;
  case P_BYTE: pack = 0; block = columns; break;
  case P_SHORT: pack = 5; block = 2 * columns; break;
  case P_LONG: pack = 3; block = 4 * columns; break;
  case P_FLOAT: pack = 4; block = 4 * columns; break;
  case P_USHORT: pack = 2; block = 2 * columns; break;
  default: return -1;
  }
  if (spaceCheck) {
    const int64_t requested =
        block * header->nbands * static_cast<int64_t>(header->rows) + kErdasHeaderSize;
    const double available = getPathDiskFree(header->path);
    if (requested > available) {
      vesk_fprintf(stderr, "Insufficient disk space. Requested:%lld Available:%.f\n",
                   static_cast<long long>(requested), available);
      return -1;
    }
  }
  unsigned char head[kErdasHeaderSize] = {};
  const char *magic = header->imgid == IMG_E73 ? "HEADER"
                      : header->imgid == IMG_E74 ? "HEAD74" : "E74BSQ";
  memcpy(head, magic, 6);
  putU16(head + 6, static_cast<uint32_t>(pack), false);
  putU16(head + 8, static_cast<uint32_t>(header->nbands), false);
  putU16(head + 10, static_cast<uint32_t>(header->imgtype), false);
  putF32(head + 12, static_cast<float>(header->zscale), false);
  if (header->imgid == IMG_E73) {
    putF32(head + 16, static_cast<float>(header->columns), false);
    putF32(head + 20, static_cast<float>(header->rows), false);
  } else {
    putU32(head + 16, static_cast<uint32_t>(header->columns), false);
    putU32(head + 20, static_cast<uint32_t>(header->rows), false);
  }
  putU32(head + 24, static_cast<uint32_t>(header->left), false);
  putU32(head + 28, static_cast<uint32_t>(header->top), false);
  putF32(head + 32, static_cast<float>(header->z0), false);
  putF32(head + 36, static_cast<float>(header->zmin), false);
  putF32(head + 40, static_cast<float>(header->zmax), false);
  putU16(head + 92, static_cast<uint32_t>(header->mapid), false);
  putF32(head + 112, static_cast<float>(header->x0), false);
  putF32(head + 116, static_cast<float>(header->y0), false);
  putF32(head + 120, static_cast<float>(header->dx), false);
  putF32(head + 124, static_cast<float>(header->dy), false);

  header->msbf = msbFirst();
  header->offset = kErdasHeaderSize;
  header->block = block;
  if (!writeFileAt(fd, head, sizeof head, 0)) return -1;
  return kErdasHeaderSize;
}

}  // namespace vesk
