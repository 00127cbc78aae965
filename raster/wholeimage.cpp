/*
 * wholeimage.cpp --
 *     Images whose pixels can't be read or written row by row in place:
 *     the line cache holds the whole image, a miss decodes the whole file
 *     and writing back any dirty line rewrites the whole file.  XBM text
 *     is decoded and encoded here; GIF and JPEG join as their codecs do.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "raster/jpeg.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* The whole file: the in-memory copy when there is one, else the open file. */
bool readWholeFile(RAMIMG *image, std::vector<unsigned char> &bytes) {
  if (image->memData) {
    bytes.assign(image->memData, image->memData + image->memLength);
    return true;
  }
  struct stat info;
  if (image->fd < 0 || fstat(image->fd, &info) != 0 || info.st_size < 0) return false;
  try {
    bytes.resize(static_cast<size_t>(info.st_size));
  } catch (const std::exception &) {
    return false;
  }
  readFileRange(image->fd, bytes.data(), info.st_size, 0);
  return true;
}

/* Gives every row its own slot (slot i holds row i), zeroed and clean. */
bool holdAllRows(RAMIMG *image) {
  const ImageHeader &h = image->header;
  if (image->cachedRows < h.rows && setRAMImageBuf(image, h.rows) == 0) return false;
  if (!image->cache || image->cacheLines < h.rows * h.nbands) return false;
  memset(image->cache, 0, static_cast<size_t>(image->lineBytes * image->cacheLines));
  for (int i = 0; i < image->cacheLines; i++) image->lineTags[i] = i;
  memset(image->dirtyBits, 0, static_cast<size_t>((image->cacheLines + 7) / 8));
  return true;
}

/*
 * Replaces the image's file with new contents: written beside it and
 * renamed into place, so a failure leaves the old file whole.
 */
bool replaceImageFile(RAMIMG *image, const std::string &text) {
  const std::string path = image->header.path;
  if (path.empty()) return false;
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) return false;
  struct stat info;
  if (image->fd >= 0 && fstat(image->fd, &info) == 0) fchmod(fd, info.st_mode & 07777);
  bool ok = writeFileAt(fd, text.data(), static_cast<int64_t>(text.size()), 0) &&
            fsync(fd) == 0 && rename(temp.c_str(), path.c_str()) == 0;
  close(fd);
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  int reopened = open(path.c_str(), O_RDWR);
  if (reopened >= 0) {
    if (image->fd >= 0) close(image->fd);
    image->fd = reopened;
  }
  return true;
}

/* Empties every slot and clears every dirty bit: the next access decodes. */
void emptyCache(RAMIMG *image) {
  for (int i = 0; i < image->cacheLines; i++) image->lineTags[i] = -1;
  if (image->dirtyBits) memset(image->dirtyBits, 0, static_cast<size_t>((image->cacheLines + 7) / 8));
}

}  // namespace

/*
 * readXbmImage --
 *     Reads the numbers of an XBM text, after its first "{", into the
 *     rows of the cache: "," or "}" ends a number (decimal, 0x hex or 0
 *     octal), blanks are skipped, and each row takes `block` numbers of
 *     which the first (columns + 7) / 8 are kept.
 * Results:      1 when every row was read; 0 when the text ended first
 *     (the rows read so far stay, the rest are zero) or on an error.
 */
int readXbmImage(RAMIMG *image) {
  const ImageHeader &h = image->header;
  std::vector<unsigned char> text;
  if (!readWholeFile(image, text) || !holdAllRows(image)) return 0;
  const int64_t keep = (int64_t{h.columns} + 7) / 8;
  const int64_t perRow = h.block > 0 ? h.block : keep;
  size_t at = 0;
  while (at < text.size() && text[at] != '{') at++;
  at++;
  int row = 0;
  int64_t inRow = 0;
  std::string number;
  for (; at < text.size() && row < h.rows; at++) {
    const char c = static_cast<char>(text[at]);
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    if (c != ',' && c != '}') {
      if (number.size() < 32) number += c;
      continue;
    }
    if (number.empty()) continue;
    const unsigned long value = strtoul(number.c_str(), nullptr, 0);
    number.clear();
    if (inRow < keep) image->cache[row * image->lineBytes + inRow] = static_cast<unsigned char>(value);
    if (++inRow == perRow) {
      inRow = 0;
      row++;
    }
  }
  return row >= h.rows ? 1 : 0;
}

/*
 * writeXbmRAMImage --
 *     Rewrites the whole XBM file from the cache.
 * Results:      1 when the new file is in place, else 0 (the old file
 *     stays).
 * Side effects: the cache is emptied, so the next access reads the file.
 */
int writeXbmRAMImage(RAMIMG *image) {
  ImageHeader &h = image->header;
  const int64_t rowBytes = (int64_t{h.columns} + 7) / 8;
  std::vector<unsigned char> data;
  try {
    data.assign(static_cast<size_t>(rowBytes * h.rows), 0);
  } catch (const std::exception &) {
    return 0;
  }
  for (int row = 0; row < h.rows; row++) {
    const int slot = image->cacheLines > 0 ? row % image->cacheLines : 0;
    if (image->cache && image->lineTags[slot] == row)
      memcpy(&data[static_cast<size_t>(row * rowBytes)], image->cache + slot * image->lineBytes,
             static_cast<size_t>(std::min(rowBytes, image->lineBytes)));
  }
  std::string text;
  int ok = formatXbmText(h, data.data(), rowBytes, text, nullptr);
  if (ok) ok = replaceImageFile(image, text);
  if (!ok) vesk_fprintf(stderr, "Can't rewrite %s\n", h.path);
  emptyCache(image);
  return ok;
}

/* loadWholeImage -- decodes a whole-image file into the cache by its format. */
static int loadWholeImage(RAMIMG *image) {
  switch (image->header.imgid) {
  case IMG_XBMP: return readXbmImage(image);
  case IMG_JPEG: return readJPEG(image);
  default: return 0;
  }
}

/* writeWholeImage -- rewrites a whole-image file from the cache by its format. */
static int writeWholeImage(RAMIMG *image) {
  switch (image->header.imgid) {
  case IMG_XBMP: return writeXbmRAMImage(image);
  case IMG_JPEG: return writeJpegRAMImage(image);
  default: return 0;
  }
}

void installWholeImageFormats() {
  rasterHooks().loadWholeImage = loadWholeImage;
  rasterHooks().writeWholeImage = writeWholeImage;
}

}  // namespace vesk
