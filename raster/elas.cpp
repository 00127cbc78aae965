/*
 * elas.cpp --
 *     ELAS files: a 1024-byte header in host byte order, recognised by
 *     4321 at byte 28, then byte lines, one per band and row.  Read only.
 */
#include "core/text.h"
#include "raster/sniffer.h"

namespace vesk {

/*
 * parseElasHeader --
 *     Reads an ELAS header from the first bytes of a file.
 * Results:      6 (ELAS); 0 for another file, an empty line or column
 *     range, records shorter than a line, or lines past the end of the
 *     file.
 */
int parseElasHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                    ImageHeader *header) {
  if (size < kElasHeaderSize) return 0;
  const bool host = msbFirst() != 0;
  auto field = [&](int at) { return int64_t{getI32(buffer + at, host)}; };
  if (field(28) != 4321) return 0;
  const int64_t offset = field(0), block = field(4), bands = field(24);
  const int64_t rows = field(12) - field(8) + 1;
  const int64_t columns = field(20) - field(16) + 1;
  if (rows <= 0 || rows > INT32_MAX || columns <= 0 || columns > INT32_MAX || bands <= 0)
    return 0;
  if (block < columns || !extentFits(offset, block, rows * bands, fileSize)) return 0;

  header->pixelid = P_BYTE;
  header->bits = 8;
  header->imgid = IMG_ELAS;
  header->mapid = MAPID_GRID;
  header->rows = static_cast<int>(rows);
  header->columns = static_cast<int>(columns);
  header->top = static_cast<int>(field(8));
  header->left = static_cast<int>(field(16));
  header->offset = offset;
  header->block = block;
  header->nbands = static_cast<int>(bands);
  header->y0 = static_cast<double>(field(36));
  header->x0 = static_cast<double>(field(44));
  header->dy = getF32(buffer + 48, host);
  header->dx = getF32(buffer + 52, host);
  header->msbf = msbFirst();
  header->nindices = 0;
  header->transparent = -1;
  return IMG_ELAS;
}

/* readElasHeader -- the ELAS probe; the file position is kept. */
int readElasHeader(int fd, ImageHeader *header) {
  unsigned char buffer[kElasHeaderSize];
  int64_t fileSize = 0;
  const int64_t n = readFilePrefix(fd, buffer, sizeof buffer, &fileSize);
  return n < 0 ? 0 : parseElasHeader(buffer, n, fileSize, header);
}

}  // namespace vesk
