/*
 * imagedef.cpp --
 *     Raw band-sequential, line-interleaved and pixel-interleaved files
 *     with the 1152-byte IMAGEDEF header.  The header's numbers are in the
 *     byte order its magic names, so a file moves between hosts of either
 *     order; the pixel data's own order is the header's MSB-first field.
 */
#include <algorithm>
#include <vector>

#include "core/text.h"
#include "raster/sniffer.h"

namespace vesk {

namespace {

const char imagedefMagicMsb[] = "IMAGEDEF_MSBF";
const char imagedefMagicLsb[] = "IMAGEDEF_MSBL";
static_assert(sizeof imagedefMagicMsb == 14 && sizeof imagedefMagicLsb == 14);

/* Byte offsets of the header's fields. */
enum ImagedefField {
  ID_MSBF = 16, ID_IMGID = 20, ID_MAPID = 24, ID_IMGTYPE = 28, ID_OFFSET = 32, ID_PIXELID = 36,
  ID_BANDS = 40, ID_ROWS = 44, ID_COLUMNS = 48, ID_TOP = 52, ID_LEFT = 56,
  ID_X0 = 60, ID_Y0 = 68, ID_Z0 = 76, ID_ZSCALE = 84, ID_ZMIN = 92, ID_ZMAX = 100,
  ID_DX = 108, ID_DY = 116, ID_NINDICES = 124, ID_PALETTE = 128, ID_NOTE = 896
};

bool isImagedefInterleaved(int imgid) { return imgid == IMG_BIP || imgid == IMG_BIPD; }

/* Bytes of one stored record: a line of one band, or a pixel row of all. */
int64_t imagedefBlock(int imgid, int pixelid, int64_t columns, int64_t bands) {
  int64_t block = (columns * getPixelBits(pixelid) - 1) / 8 + 1;
  if (!isImagedefInterleaved(imgid)) return block;
  // A pixel row of 2^31 bands of 2^31 wide pixels is past int64: -1.
  return __builtin_mul_overflow(block, bands, &block) ? -1 : block;
}

}  // namespace

/*
 * swapImagedefHeader --
 *     Changes a 1152-byte header between the two byte orders: the int32
 *     fields from offset 16 to 56, the doubles from 60 to 116 and the
 *     palette count at 124.
 */
void swapImagedefHeader(unsigned char *buffer) {
  for (int at = ID_MSBF; at <= ID_LEFT; at += 4) swapBytes(buffer + at, 4);
  for (int at = ID_X0; at <= ID_DY; at += 8) swapBytes(buffer + at, 8);
  swapBytes(buffer + ID_NINDICES, 4);
}

/*
 * parseImagedefHeader --
 *     Reads an IMAGEDEF header from the first bytes of a file.
 * Results:      the imgid (1 BSQ, 2 BIL, 3 BIP), or 0 when the bytes are
 *     not such a header, describe no image, or describe more pixel data
 *     than the file holds.
 */
int parseImagedefHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                        ImageHeader *header) {
  if (size < kImagedefHeaderSize) return 0;
  bool msb;
  if (memcmp(buffer, imagedefMagicMsb, sizeof imagedefMagicMsb) == 0) msb = true;
  else if (memcmp(buffer, imagedefMagicLsb, sizeof imagedefMagicLsb) == 0) msb = false;
  else return 0;
  unsigned char head[kImagedefHeaderSize];
  memcpy(head, buffer, sizeof head);
  if (msb != (msbFirst() != 0)) swapImagedefHeader(head);
  const bool host = msbFirst() != 0;
  auto field = [&](int at) { return getI32(head + at, host); };

  const int imgid = field(ID_IMGID);
  const int pixelid = field(ID_PIXELID);
  const int rows = field(ID_ROWS), columns = field(ID_COLUMNS), bands = field(ID_BANDS);
  const int nindices = field(ID_NINDICES);
  const int64_t offset = field(ID_OFFSET);
  if (imgid < IMG_BSQ || imgid > IMG_BIP) return 0;
  if (pixelid <= P_UNKNOWN || pixelid >= kPixelidCount) return 0;
  if (rows <= 0 || columns <= 0 || bands <= 0 || nindices < 0 || nindices > 256) return 0;
  const int64_t block = imagedefBlock(imgid, pixelid, columns, bands);
  if (block < 0) return 0;
  if (!extentFits(offset, block, isImagedefInterleaved(imgid) ? rows : int64_t{rows} * bands,
                  fileSize))
    return 0;

  header->msbf = field(ID_MSBF);
  header->imgid = imgid;
  header->mapid = field(ID_MAPID);
  header->imgtype = field(ID_IMGTYPE);
  header->offset = offset;
  header->pixelid = pixelid;
  header->nbands = bands;
  header->rows = rows;
  header->columns = columns;
  header->top = field(ID_TOP);
  header->left = field(ID_LEFT);
  header->x0 = getF64(head + ID_X0, host);
  header->y0 = getF64(head + ID_Y0, host);
  header->z0 = getF64(head + ID_Z0, host);
  header->zscale = getF64(head + ID_ZSCALE, host);
  header->zmin = getF64(head + ID_ZMIN, host);
  header->zmax = getF64(head + ID_ZMAX, host);
  header->dx = getF64(head + ID_DX, host);
  header->dy = getF64(head + ID_DY, host);
  header->nindices = nindices;
  header->transparent = -1;
  header->bits = getPixelBits(pixelid);
  const char *note = reinterpret_cast<const char *>(head + ID_NOTE);
  const size_t noteLength = strnlen(note, sizeof header->note - 1);
  memcpy(header->note, note, noteLength);
  header->note[noteLength] = 0;
  memcpy(header->palette, head + ID_PALETTE, 3 * static_cast<size_t>(nindices));
  header->block = block;
  return imgid;
}

/* readImagedefHeader -- the IMAGEDEF probe; the file position is kept. */
int readImagedefHeader(int fd, ImageHeader *header) {
  unsigned char buffer[kImagedefHeaderSize];
  int64_t fileSize = 0;
  const int64_t n = readFilePrefix(fd, buffer, sizeof buffer, &fileSize);
  return n < 0 ? 0 : parseImagedefHeader(buffer, n, fileSize, header);
}

/*
 * writeImagedefHeader --
 *     Writes the header of a raw file (BSQ, BIL, BIP) in host order, or
 *     sets up a headerless raw file (BSQD, BILD, BIPD).  The header is
 *     followed by zeros up to the data offset, which is at least 1152:
 *     pixel data never starts inside the header.
 * Results:      the bytes written (0 for headerless files), -1 when a
 *     write falls short or a field does not fit the header.
 * Side effects: sets the header's data offset and bytes per record.
 */
int writeImagedefHeader(int fd, ImageHeader *header) {
  const bool headerless =
      header->imgid == IMG_BSQD || header->imgid == IMG_BILD || header->imgid == IMG_BIPD;
  header->block = imagedefBlock(header->imgid, header->pixelid, header->columns, header->nbands);
  if (header->block < 0) return -1;
  if (headerless) {
    header->offset = 0;
    header->nindices = 0;
    return 0;
  }
  if (header->offset < kImagedefHeaderSize) header->offset = kImagedefHeaderSize;
  if (header->offset > INT32_MAX) return -1;

  const bool host = msbFirst() != 0;
  unsigned char head[kImagedefHeaderSize] = {};
  memcpy(head, host ? imagedefMagicMsb : imagedefMagicLsb, sizeof imagedefMagicMsb);
  auto put = [&](int at, int value) { putU32(head + at, static_cast<uint32_t>(value), host); };
  put(ID_MSBF, header->msbf);
  put(ID_IMGID, header->imgid);
  put(ID_MAPID, header->mapid);
  put(ID_IMGTYPE, header->imgtype);
  put(ID_OFFSET, static_cast<int>(header->offset));
  put(ID_PIXELID, header->pixelid);
  put(ID_BANDS, header->nbands);
  put(ID_ROWS, header->rows);
  put(ID_COLUMNS, header->columns);
  put(ID_TOP, header->top);
  put(ID_LEFT, header->left);
  putF64(head + ID_X0, header->x0, host);
  putF64(head + ID_Y0, header->y0, host);
  putF64(head + ID_Z0, header->z0, host);
  putF64(head + ID_ZSCALE, header->zscale, host);
  putF64(head + ID_ZMIN, header->zmin, host);
  putF64(head + ID_ZMAX, header->zmax, host);
  putF64(head + ID_DX, header->dx, host);
  putF64(head + ID_DY, header->dy, host);
  const int nindices = std::clamp(header->nindices, 0, 256);
  put(ID_NINDICES, nindices);
  memcpy(head + ID_PALETTE, header->palette, sizeof header->palette);
  memcpy(head + ID_NOTE, header->note, strnlen(header->note, sizeof header->note - 1));

  if (!writeFileAt(fd, head, sizeof head, 0)) return -1;
  static const unsigned char zeros[8192] = {};
  for (int64_t at = sizeof head; at < header->offset; at += sizeof zeros)
    if (!writeFileAt(fd, zeros, std::min<int64_t>(header->offset - at, sizeof zeros), at))
      return -1;
  return static_cast<int>(header->offset);
}

}  // namespace vesk
