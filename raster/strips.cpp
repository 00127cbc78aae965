/*
 * strips.cpp --
 *     The special line sources of the line cache: TIFF strips and tiles
 *     (plain or PackBits), memory RGB frames in their seven packed
 *     layouts, and the volumes of multi-image files.
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <new>
#include <vector>

#include "raster/ramimg.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

std::vector<unsigned char> stripBuffer, tileBuffer, packedBuffer, rowBuffer, planeBuffer,
    planeRow;

unsigned char *sized(std::vector<unsigned char> &buffer, int64_t size) {
  if (size < 0) return nullptr;
  try {
    if (static_cast<int64_t>(buffer.size()) < size) buffer.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  return buffer.data();
}

const TiffPrivate *tiffOf(const RAMIMG *image) {
  return static_cast<const TiffPrivate *>(image->privateData);
}

bool isTiled(const TiffPrivate *tiff) {
  return tiff && tiff->tileWidth > 0 && tiff->tileLength > 0;
}

bool isPlanar(const RAMIMG *image, const TiffPrivate *tiff) {
  return tiff && tiff->planar && image->header.nbands > 1;
}

int rowsPerStrip(const RAMIMG *image, const TiffPrivate *tiff) {
  return tiff && tiff->rowsPerStrip > 0 ? tiff->rowsPerStrip : image->header.rows;
}

/*
 * What one band plane (or, pixel-interleaved, the whole image) keeps in
 * the file: bytes of a row, bytes of a row of one tile, and the index of
 * its first strip or tile.  A planar file stores each band's strips or
 * tiles after the previous band's.
 */
struct TiffPlane {
  int64_t rowBytes;
  int64_t tileRowBytes;
  int64_t firstUnit;
};

TiffPlane planeOf(const RAMIMG *image, const TiffPrivate *tiff, int band) {
  const ImageHeader &h = image->header;
  if (isPlanar(image, tiff)) {
    const int64_t sample = h.bits / 8;
    return {int64_t{h.columns} * sample, int64_t{tiff->tileWidth} * sample,
            int64_t{band} * (tiff->stripCount / h.nbands)};
  }
  return {h.block, tiff ? int64_t{tiff->tileWidth} * h.bits * h.nbands / 8 : 0, 0};
}

/* File offset of strip or tile i; with one, the value field holds it. */
int64_t unitOffset(const RAMIMG *image, const TiffPrivate *tiff, int64_t i) {
  if (!tiff || tiff->stripCount <= 1) return i == 0 ? image->dataOffset : -1;
  if (i >= tiff->stripCount) return -1;
  return readTiffLong(image->fd, tiff->byteOrder, image->dataOffset, i);
}

/* Stored bytes of strip or tile i, the same way. */
int64_t unitByteCount(const RAMIMG *image, const TiffPrivate *tiff, int64_t i) {
  if (!tiff) return -1;
  if (tiff->stripCount <= 1) return i == 0 ? tiff->stripByteCounts : -1;
  if (i >= tiff->stripCount) return -1;
  return readTiffLong(image->fd, tiff->byteOrder, tiff->stripByteCounts, i);
}

/*
 * Calls piece(file offset, offset in the plane's row, length) for every
 * stored piece of one row of a plane of an uncompressed TIFF.
 * Results:      false when the row's pieces cannot be found.
 */
template <class Fn>
bool forEachRowPiece(RAMIMG *image, int row, const TiffPlane &plane, Fn &&piece) {
  const ImageHeader &h = image->header;
  const TiffPrivate *tiff = tiffOf(image);
  if (tiff && tiff->compression != 1 && tiff->compression != 0) return false;
  if (!isTiled(tiff)) {
    if (!tiff || tiff->stripCount <= 1) {
      piece(int64_t{row} * plane.rowBytes + image->dataOffset, int64_t{0}, plane.rowBytes);
      return true;
    }
    const int perStrip = rowsPerStrip(image, tiff);
    const int64_t at = unitOffset(image, tiff, plane.firstUnit + row / perStrip);
    if (at < 0) return false;
    piece(at + int64_t{row % perStrip} * plane.rowBytes, int64_t{0}, plane.rowBytes);
    return true;
  }
  const int64_t across = (h.columns - 1) / tiff->tileWidth + 1;
  const int64_t tileRow = row / tiff->tileLength;
  const int64_t inTile = row - tileRow * tiff->tileLength;
  const int64_t bytes = plane.tileRowBytes;
  for (int64_t i = 0; i < across; i++) {
    const int64_t part = std::min(bytes, plane.rowBytes - i * bytes);
    if (part <= 0) break;
    const int64_t at = unitOffset(image, tiff, plane.firstUnit + i + tileRow * across);
    if (at < 0) return false;
    piece(at + inTile * bytes, i * bytes, part);
  }
  return true;
}

/* Moves the rows of one band plane into, or out of, interleaved records. */
void interleavePlane(const RAMIMG *image, int band, int count, const unsigned char *plane,
                     unsigned char *records) {
  const ImageHeader &h = image->header;
  const int64_t sample = h.bits / 8, columns = h.columns;
  for (int64_t j = 0; j < count; j++)
    for (int64_t k = 0; k < columns; k++)
      memcpy(records + j * h.block + (k * h.nbands + band) * sample,
             plane + (j * columns + k) * sample, static_cast<size_t>(sample));
}

void extractPlane(const RAMIMG *image, int band, const unsigned char *record, unsigned char *plane) {
  const ImageHeader &h = image->header;
  const int64_t sample = h.bits / 8, columns = h.columns;
  for (int64_t k = 0; k < columns; k++)
    memcpy(plane + k * sample, record + (k * h.nbands + band) * sample, static_cast<size_t>(sample));
}

/* The file size, the bound of every length a TIFF table claims. */
int64_t fileSize(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

/* Converts one frame row into the line of one band. */
void frameToLine(int imgid, const unsigned char *frame, unsigned char *line, int64_t n, int band) {
  switch (imgid) {
  case IMG_MRGB32:
  case IMG_MRGB24: {
    const int step = imgid == IMG_MRGB32 ? 4 : 3;
    if (band >= step) {
      memset(line, 0, static_cast<size_t>(n));
      return;
    }
    for (int64_t k = 0; k < n; k++) line[k] = frame[k * step + band];
    return;
  }
  case IMG_MRGB565:
  case IMG_MRGB555: {
    const bool is565 = imgid == IMG_MRGB565;
    const int shift = band == 0 ? (is565 ? 11 : 10) : band == 1 ? 5 : 0;
    const unsigned mask = band == 1 && is565 ? 63 : 31;
    const int scale = band == 1 && is565 ? 4 : 8;
    for (int64_t k = 0; k < n; k++) {
      const unsigned pixel = frame[2 * k] | frame[2 * k + 1] << 8;
      line[k] = static_cast<unsigned char>(((pixel >> shift) & mask) * scale);
    }
    return;
  }
  default:
    return;
  }
}

/* Stores the line of one band into a frame row, keeping the other fields. */
void lineToFrame(int imgid, const unsigned char *line, unsigned char *frame, int64_t n, int band) {
  switch (imgid) {
  case IMG_MRGB32:
  case IMG_MRGB24: {
    const int step = imgid == IMG_MRGB32 ? 4 : 3;
    if (band >= step) return;
    for (int64_t k = 0; k < n; k++) frame[k * step + band] = line[k];
    return;
  }
  case IMG_MRGB565:
  case IMG_MRGB555: {
    const bool is565 = imgid == IMG_MRGB565;
    const int shift = band == 0 ? (is565 ? 11 : 10) : band == 1 ? 5 : 0;
    const int drop = band == 1 && is565 ? 2 : 3;
    unsigned keep = ~((band == 1 && is565 ? 63u : 31u) << shift) & 0xffff;
    if (!is565 && band == 0) keep &= 0x7fff;  // band 0 of 5-5-5 clears the top bit
    for (int64_t k = 0; k < n; k++) {
      unsigned pixel = frame[2 * k] | frame[2 * k + 1] << 8;
      pixel = (pixel & keep) | (static_cast<unsigned>(line[k] >> drop) << shift);
      frame[2 * k] = static_cast<unsigned char>(pixel);
      frame[2 * k + 1] = static_cast<unsigned char>(pixel >> 8);
    }
    return;
  }
  default:
    return;
  }
}

/* Bytes of one volume of a stacked file. */
int64_t stackedVolumeBytes(const ImageHeader &h) {
  switch (h.imgid) {
  case IMG_BSQ: case IMG_E74BSQ: case IMG_BSQD: case IMG_BIL: case IMG_E73: case IMG_E74:
  case IMG_ELAS: case IMG_BILD:
    return h.block * h.rows * h.nbands;  // one record a line: every band's lines
  default:
    return h.block * h.rows;
  }
}

/* Empties the cache for another volume; its dirty lines go to the old one. */
void leaveVolume(RAMIMG *image) {
  flushRAMImage(image);
  invalidateRAMImageCache(image);
  resetImageStats(image);
}

}  // namespace

/*
 * readTiffLong --
 *     Element i of a 32-bit array at a file offset, in the file's byte
 *     order ("II" or "MM").
 * Results:      the value; -1 when it cannot be read.
 */
int64_t readTiffLong(int fd, int byteOrder, int64_t offset, int64_t i) {
  unsigned char b[4];
  if (fd < 0 || offset < 0 || i < 0) return -1;
  if (pread(fd, b, 4, static_cast<off_t>(offset + 4 * i)) != 4) return -1;
  if (byteOrder == kTiffBigEndian)
    return static_cast<int64_t>(uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]);
  return static_cast<int64_t>(uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0]);
}

namespace {

/*
 * Reads the strip, or the row of tiles, of one plane that holds a row
 * into `into`: *count rows of the plane's row bytes, *row set to the
 * first of them.
 */
unsigned char *readPlaneUnits(RAMIMG *image, const TiffPlane &plane, int *row, int *count,
                              std::vector<unsigned char> &into) {
  const ImageHeader &h = image->header;
  const TiffPrivate *tiff = tiffOf(image);
  const int compression = tiff ? tiff->compression : 1;
  const int64_t block = plane.rowBytes;
  *count = 0;

  if (compression == 1 || compression == 0) {
    if (!isTiled(tiff)) {
      int64_t offset = 0;
      if (!tiff || tiff->stripCount <= 1) {
        // One strip: rows are contiguous, so read no more than the cache keeps.
        offset = int64_t{*row} * block + image->dataOffset;
        *count = std::min({rowsPerStrip(image, tiff), h.rows - *row,
                           std::max(image->cachedRows, 1)});
      } else {
        const int perStrip = rowsPerStrip(image, tiff);
        const int strip = *row / perStrip;
        offset = unitOffset(image, tiff, plane.firstUnit + strip);
        if (offset < 0) return nullptr;
        *row = strip * perStrip;
        *count = std::min(perStrip, h.rows - *row);
      }
      unsigned char *records = sized(into, *count * block);
      if (!records) return nullptr;
      readFileRange(image->fd, records, *count * block, offset);
      return records;
    }
    const int tileRow = *row / tiff->tileLength;
    *row = tileRow * tiff->tileLength;
    *count = std::min(tiff->tileLength, h.rows - *row);
    const int64_t bytes = plane.tileRowBytes;
    const int64_t across = (h.columns - 1) / tiff->tileWidth + 1;
    unsigned char *records = sized(into, *count * block);
    unsigned char *tile = sized(tileBuffer, *count * bytes);
    if (!records || !tile || bytes <= 0) return nullptr;
    memset(records, 0, static_cast<size_t>(*count * block));
    for (int64_t i = 0; i < across; i++) {
      const int64_t part = std::min(bytes, block - i * bytes);
      if (part <= 0) break;
      const int64_t offset = unitOffset(image, tiff, plane.firstUnit + i + tileRow * across);
      if (offset < 0) continue;
      readFileRange(image->fd, tile, *count * bytes, offset);
      for (int j = 0; j < *count; j++)
        memcpy(records + j * block + i * bytes, tile + j * bytes, static_cast<size_t>(part));
    }
    return records;
  }

  if (compression != kTiffPackBits || isTiled(tiff)) return nullptr;
  int64_t offset = 0, length = 0;
  if (tiff->stripCount <= 1) {
    // The one compressed strip holds the whole image.
    *row = 0;
    *count = h.rows;
  } else {
    const int perStrip = rowsPerStrip(image, tiff);
    *row = *row / perStrip * perStrip;
    *count = std::min(perStrip, h.rows - *row);
  }
  const int64_t unit = plane.firstUnit + (tiff->stripCount <= 1 ? 0 : *row / rowsPerStrip(image, tiff));
  offset = unitOffset(image, tiff, unit);
  length = unitByteCount(image, tiff, unit);
  const int64_t size = fileSize(image->fd);
  if (offset < 0 || length < 0 || offset > size) return nullptr;
  length = std::min(length, size - offset);
  unsigned char *packed = sized(packedBuffer, length);
  unsigned char *records = sized(into, *count * block);
  if (!packed || !records) return nullptr;
  readFileRange(image->fd, packed, length, offset);
  const int64_t written = unpackBits(packed, length, records, *count * block);
  memset(records + written, 0, static_cast<size_t>(*count * block - written));
  return records;
}

}  // namespace

/*
 * readTiffStrip --
 *     Reads the strip, or the row of tiles, that holds a row.
 * Results:      count records of `block` bytes, *row set to the first row
 *     they hold; null when nothing could be read (another compression,
 *     compressed tiles).  The buffer lives until the next call.
 */
unsigned char *readTiffStrip(RAMIMG *image, int *row, int *count) {
  const ImageHeader &h = image->header;
  const TiffPrivate *tiff = tiffOf(image);
  *count = 0;
  if (*row < 0 || *row >= h.rows) return nullptr;
  if (!isPlanar(image, tiff)) return readPlaneUnits(image, planeOf(image, tiff, 0), row, count, stripBuffer);
  // Band planes are read one after another into the interleaved records.
  const int wanted = *row;
  unsigned char *records = nullptr;
  for (int band = 0; band < h.nbands; band++) {
    int first = wanted, rows = 0;
    const unsigned char *plane = readPlaneUnits(image, planeOf(image, tiff, band), &first, &rows, planeBuffer);
    if (!plane) return nullptr;
    if (band == 0) {
      *row = first;
      *count = rows;
      records = sized(stripBuffer, int64_t{rows} * h.block);
      if (!records) return nullptr;
      memset(records, 0, static_cast<size_t>(int64_t{rows} * h.block));
    }
    if (first != *row || rows != *count) return nullptr;
    interleavePlane(image, band, rows, plane, records);
  }
  return records;
}

/*
 * readTiffRowRecord --
 *     The stored record of one row of an uncompressed TIFF, or null.  The
 *     buffer lives until the next call.
 */
unsigned char *readTiffRowRecord(RAMIMG *image, int row) {
  const ImageHeader &h = image->header;
  const TiffPrivate *tiff = tiffOf(image);
  unsigned char *record = sized(rowBuffer, h.block);
  if (!record) return nullptr;
  memset(record, 0, static_cast<size_t>(h.block));
  const int fd = image->fd;
  if (!isPlanar(image, tiff)) {
    if (!forEachRowPiece(image, row, planeOf(image, tiff, 0), [&](int64_t at, int64_t into, int64_t length) {
          readFileRange(fd, record + into, length, at);
        }))
      return nullptr;
    return record;
  }
  for (int band = 0; band < h.nbands; band++) {
    const TiffPlane plane = planeOf(image, tiff, band);
    unsigned char *samples = sized(planeRow, plane.rowBytes);
    if (!samples || !forEachRowPiece(image, row, plane, [&](int64_t at, int64_t into, int64_t length) {
          readFileRange(fd, samples + into, length, at);
        }))
      return nullptr;
    interleavePlane(image, band, 1, samples, record);
  }
  return record;
}

/*
 * writeTiffRecord --
 *     Writes the record of one row to its place in its strip or in its
 *     row of tiles (to each band's plane in a planar file).
 * Results:      1 when written, 0 when the row has no place to go.
 */
int writeTiffRecord(RAMIMG *image, int row, const unsigned char *record) {
  const ImageHeader &h = image->header;
  const TiffPrivate *tiff = tiffOf(image);
  const int fd = image->fd;
  if (!isPlanar(image, tiff))
    return forEachRowPiece(image, row, planeOf(image, tiff, 0), [&](int64_t at, int64_t from, int64_t length) {
      if (!writeFileRange(fd, record + from, length, at)) failRAMImageWrite(image, errno);
    }) ? 1 : 0;
  for (int band = 0; band < h.nbands; band++) {
    const TiffPlane plane = planeOf(image, tiff, band);
    unsigned char *samples = sized(planeRow, plane.rowBytes);
    if (!samples) return 0;
    extractPlane(image, band, record, samples);
    if (!forEachRowPiece(image, row, plane, [&](int64_t at, int64_t from, int64_t length) {
          if (!writeFileRange(fd, samples + from, length, at)) failRAMImageWrite(image, errno);
        }))
      return 0;
  }
  return 1;
}

/*
 * unpackBits --
 *     PackBits decoder.  Neither input nor output is passed.
 * Results:      the bytes written.
 */
int64_t unpackBits(const unsigned char *in, int64_t inLength, unsigned char *out,
                   int64_t outLength) {
  int64_t i = 0, o = 0;
  while (i < inLength && o < outLength) {
    const int n = static_cast<signed char>(in[i++]);
    if (n == -128) continue;
    if (n < 0) {
      if (i >= inLength) break;
      const int64_t run = std::min<int64_t>(1 - n, outLength - o);
      memset(out + o, in[i++], static_cast<size_t>(run));
      o += run;
    } else {
      const int64_t run = std::min({int64_t{n} + 1, inLength - i, outLength - o});
      memcpy(out + o, in + i, static_cast<size_t>(run));
      i += n + 1;
      o += run;
    }
  }
  return o;
}

/*
 * getRGBFrameLine --
 *     Line procedure of memory RGB frames.  Index frames (8, 4 and 1 bit)
 *     give the frame row itself; packed colour frames give a converted
 *     band line, written back into the frame by putRGBFrameLine.
 */
unsigned char *getRGBFrameLine(RAMIMG *image, int row, int band, int load) {
  const ImageHeader &h = image->header;
  if (!image->cache || row < 0 || row >= h.rows || band < 0) return nullptr;
  unsigned char *frame = rgbFrame(image) + int64_t{row} * h.block;
  if (h.imgid == IMG_MRGB8 || h.imgid == IMG_MRGB4 || h.imgid == IMG_MRGB1) return frame;
  band %= h.nbands;
  const int64_t tag = int64_t{row} * h.nbands + band;
  const int slot = static_cast<int>(tag % image->cacheLines);
  unsigned char *line = image->cache + slot * image->lineBytes;
  if (image->lineTags[slot] == tag) return line;
  if (isSlotDirty(image, slot)) putRGBFrameLine(image, slot);
  image->lineTags[slot] = tag;
  if (load) frameToLine(h.imgid, frame, line, std::min<int64_t>(h.columns, image->lineBytes), band);
  return line;
}

/* putRGBFrameLine -- stores a band line of a packed frame back into it. */
void putRGBFrameLine(RAMIMG *image, int slot) {
  if (!image->cache || slot < 0 || slot >= image->cacheLines) return;
  image->dirtyBits[slot >> 3] &= static_cast<unsigned char>(~(1u << (slot & 7)));
  const int64_t tag = image->lineTags[slot];
  const ImageHeader &h = image->header;
  if (tag < 0 || tag / h.nbands >= h.rows) return;
  const int64_t row = tag / h.nbands;
  const int band = static_cast<int>(tag % h.nbands);
  lineToFrame(h.imgid, image->cache + slot * image->lineBytes, rgbFrame(image) + row * h.block,
              std::min<int64_t>(h.columns, image->lineBytes), band);
}

/*
 * seekRAMImageVolume --
 *     Selects an image of a multi-image file: 1 to n, 0 for the next one,
 *     a negative number for the last.
 * Results:      the volume reached, -2 when there is none further, 0 or
 *     -1 on failure (reported on the standard error stream).
 */
int seekRAMImageVolume(RAMIMG *image, int volume) {
  if (!image->seekProc) return seekStackedVolume(image, volume);
  const int result = image->seekProc(image, volume);
  if (result == -1) vesk_fprintf(stderr, "Error in seek image: %s\n", image->header.path);
  else if (result == 0) vesk_fprintf(stderr, "Can't seek image %s\n", image->header.path);
  return result;
}

/*
 * seekStackedVolume --
 *     Volumes stored one after another.  Dirty lines of the current
 *     volume are written back to it before the cache is emptied.
 */
int seekStackedVolume(RAMIMG *image, int volume) {
  const ImageHeader &h = image->header;
  if (h.volumes < 2) {
    image->volume = image->volumeCount = 1;
    return -2;
  }
  image->volumeCount = h.volumes;
  if (volume == 0) {
    if (image->volume >= h.volumes) return -2;
    volume = image->volume + 1;
  } else if (volume < 1 || volume > h.volumes) {
    volume = h.volumes;
  }
  if (volume != image->volume) leaveVolume(image);
  image->dataOffset = (volume - 1) * stackedVolumeBytes(h) + h.offset;
  image->volume = volume;
  return volume;
}

/*
 * seekTiffVolume --
 *     Pages of a TIFF file, through the TIFF reader's page selector.
 *     Dirty lines go to the current page before another one is loaded.
 */
int seekTiffVolume(RAMIMG *image, int volume) {
  if (!rasterHooks().imgTiff || !image->privateData) return 0;
  if (image->volumeCount < 0) image->volumeCount = image->header.volumes;
  flushRAMImage(image);
  ImageHeader page = image->header;
  void *privateData = image->privateData;
  int target = 0, result = 0;
  if (volume < 0 || volume > image->volumeCount) {
    result = rasterHooks().imgTiff(image->fd, &page, -1, &privateData);
    target = page.volumes;
  } else if (volume > 0) {
    result = rasterHooks().imgTiff(image->fd, &page, volume, &privateData);
    target = volume;
  } else {
    result = rasterHooks().imgTiff(image->fd, &page, 0, &privateData);
    if (result <= 0) return -2;
    target = image->volume + 1;
    if (target > image->volumeCount) target = 1;
  }
  if (result < 0) return -1;
  if (result == 0) return 0;
  const ImageHeader &old = image->header;
  const bool reshaped = page.rows != old.rows || page.columns != old.columns ||
                        page.nbands != old.nbands || page.pixelid != old.pixelid;
  memcpy(page.path, old.path, sizeof page.path);
  memcpy(page.note, old.note, sizeof page.note);
  if (target != image->volume || reshaped) {
    invalidateRAMImageCache(image);
    resetImageStats(image);
  }
  image->header = page;
  image->dataOffset = page.offset;
  if (reshaped) {
    image->lineBytes = pixelLineBytes(page.pixelid, page.columns);
    image->header.block = std::max(page.block, minimumBlock(&page, image->lineBytes));
    freeImageStats(image);
    setRAMImageBuf(image, image->cachedRows);
  }
  image->volume = target;
  return target;
}

/* freeTiffPrivate -- frees the TIFF directories and strip fields. */
void freeTiffPrivate(RAMIMG *image) {
  TiffPrivate *tiff = static_cast<TiffPrivate *>(image->privateData);
  if (tiff) {
    if (tiff->info && rasterHooks().freeTiffInfo) rasterHooks().freeTiffInfo(tiff->info);
    delete tiff;
  }
  image->privateData = nullptr;
}

}  // namespace vesk
