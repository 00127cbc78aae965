/*
 * wholeimage.cpp --
 *     Images whose pixels can't be read or written row by row in place:
 *     the line cache holds the whole image, a miss decodes the whole file
 *     and writing back any dirty line rewrites the whole file.  XBM text
 *     and GIF images are decoded and encoded here (JPEG joins as its
 *     codec does).  The images of a GIF89a file are the volumes of its
 *     image: each is drawn over the one before, transparent pixels keep
 *     what lies below, and a disposal clears the image first.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/savefile.h"
#include "core/text.h"
#include "raster/gif.h"
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
 * Replaces the image's file with what `write` puts into a new file: it is
 * written beside the old one and renamed into place, so a failure leaves
 * the old file whole.
 */
bool replaceImageFileWith(RAMIMG *image, const std::function<bool(int fd)> &write) {
  const std::string path = image->header.path;
  SaveFile file;
  if (path.empty() || !file.open(path.c_str())) return false;
  if (!write(file.fd())) file.fail(EIO);
  if (!file.commit()) return false;
  int reopened = open(path.c_str(), O_RDWR);
  if (reopened >= 0) {
    if (image->fd >= 0) close(image->fd);
    image->fd = reopened;
  }
  return true;
}

bool replaceImageFile(RAMIMG *image, const std::string &text) {
  return replaceImageFileWith(image, [&](int fd) {
    return writeFileAt(fd, text.data(), static_cast<int64_t>(text.size()), 0);
  });
}

/* Empties every slot and clears every dirty bit: the next access decodes. */
void emptyCache(RAMIMG *image) {
  for (int i = 0; i < image->cacheLines; i++) image->lineTags[i] = -1;
  if (image->dirtyBits && image->cacheLines > 0)
    memset(image->dirtyBits, 0, static_cast<size_t>((image->cacheLines + 7) / 8));
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

/* ---- GIF ---- */

namespace {

/* True when slot i of the cache holds row i for every row. */
bool holdsEveryRow(const RAMIMG *image) {
  if (!image->cache || image->cacheLines < image->header.rows) return false;
  for (int i = 0; i < image->header.rows; i++)
    if (image->lineTags[i] != i) return false;
  return true;
}

void fillGifImage(RAMIMG *image, int index) {
  const int64_t bytes = image->lineBytes * image->header.rows;
  memset(image->cache, index < 0 ? 0 : index & 0xff, static_cast<size_t>(bytes));
}

/* A reader on the image's file or memory copy, at the current volume's data. */
std::unique_ptr<GifReader> openGifReader(RAMIMG *image) {
  std::unique_ptr<GifReader> reader(new (std::nothrow) GifReader());
  if (!reader) return reader;
  initGifReader(image->memData ? -1 : image->fd, image->memData, image->memLength, reader.get());
  gifSeek(reader.get(), image->dataOffset, SEEK_SET);
  return reader;
}

/* Decodes one image into the cache: its rows, in four passes when interlaced. */
void decodeGifImage(RAMIMG *image, GifReader *reader, bool transparency) {
  const ImageHeader &h = image->header;
  const GifImageInfo &info = reader->info;
  if (!initGifDecoder(reader)) return;
  static const int passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
  const int count = info.interlace ? 4 : 1;
  for (int pass = 0; pass < count; pass++) {
    const int first = info.interlace ? passes[pass][0] : 0;
    const int step = info.interlace ? passes[pass][1] : 1;
    for (int r = first; r < info.height; r += step) {
      const int row = info.top + r;
      unsigned char *line =
          row < h.rows ? image->cache + int64_t{row} * image->lineBytes : nullptr;
      for (int i = 0; i < info.width; i++) {
        const int pixel = nextGifPixel(reader);
        if (pixel < 0) return;
        const int column = info.left + i;
        if (!line || column >= h.columns) continue;
        if (transparency && pixel == h.transparent) continue;
        line[column] = static_cast<unsigned char>(pixel);
      }
    }
  }
}

}  // namespace

/*
 * readGIF --
 *     Decodes the next image of a GIF file into the cache, with the
 *     extension blocks before it (frame delay, transparency, disposal,
 *     the georeference comment before the first image).
 * Results:      1 when an image was decoded; 2 when there is none
 *     further; 0 on an error.
 */
int readGIF(RAMIMG *image) {
  ImageHeader &h = image->header;
  if (!holdsEveryRow(image)) {
    if ((image->cachedRows < h.rows && setRAMImageBuf(image, h.rows) == 0) || !holdAllRows(image)) {
      vesk_fprintf(stderr, "Error of malloc in readGIF.\n");
      return 0;
    }
    fillGifImage(image, h.transparent);
  }
  std::unique_ptr<GifReader> owned = openGifReader(image);
  if (!owned) {
    vesk_fprintf(stderr, "Error of malloc in readGIF.\n");
    return 0;
  }
  GifReader *reader = owned.get();
  bool transparency = false;
  int previousTransparent = h.transparent;
  unsigned char block[256];
  for (;;) {
    const int64_t at = gifSeek(reader, 0, SEEK_CUR);
    unsigned char c;
    if (gifRead(reader, &c, 1) != 1) {
      vesk_fprintf(stderr, "Unexpected GIF EOF\n");
      image->volumeCount = image->volume;
      return 2;
    }
    if (c == 0x21) {
      unsigned char label;
      if (gifRead(reader, &label, 1) != 1) {
        vesk_fprintf(stderr, "Error in read GIF label\n");
        return 0;
      }
      int n = 0;
      switch (label) {
      case 0x01: case 0xFF:
        while ((n = readGifBlock(reader, block)) > 0) {
        }
        break;
      case 0xF9:
        n = readGifBlock(reader, block);
        if (n >= 4) {
          const int delay = block[1] | block[2] << 8;
          image->frameDelay = delay > 0 ? delay * 10.0f : 33.0f;
          if (block[0] & 1) {
            transparency = true;
            h.transparent = block[3];
          }
          const int disposal = (block[0] >> 2) & 7;
          if (disposal == 2) fillGifImage(image, h.transparent);
          if (disposal == 3 && previousTransparent >= 0) fillGifImage(image, previousTransparent);
          previousTransparent = h.transparent;
        }
        while (n > 0 && (n = readGifBlock(reader, block)) > 0) {
        }
        break;
      case 0xFE: {
        std::string text;
        while ((n = readGifBlock(reader, block)) > 0)
          text.append(reinterpret_cast<char *>(block), static_cast<size_t>(n));
        if (image->volume == 0) {
          text.resize(std::min<size_t>(strnlen(text.c_str(), text.size()), kProjStringSize - 1));
          parseProjString(&h, text.c_str());
        }
        break;
      }
      default:
        vesk_fprintf(stderr, "    Unknown label in extension block\n");
        return 0;
      }
      continue;
    }
    if (c == 0x2C) {
      if (!getGIFImgDes(reader, &reader->info)) {
        vesk_fprintf(stderr, "    Error in getGIFImgDes\n");
        return 0;
      }
      decodeGifImage(image, reader, transparency);
      if (!reader->dataEnded) {
        while (readGifBlock(reader, block) > 0) {
        }
      }
      image->dataOffset = gifSeek(reader, 0, SEEK_CUR);
      image->volume++;
      unsigned char next;
      if (gifRead(reader, &next, 1) != 1) {
        vesk_fprintf(stderr, "Unexpected GIF EOF\n");
        image->volumeCount = image->volume;
        return 2;
      }
      if (next == 0x3B) image->volumeCount = image->volume;
      return 1;
    }
    if (c == 0x3B) {
      image->dataOffset = at;
      image->volumeCount = image->volume;
      return 2;
    }
    // Anything else can't be passed over safely: the next call would
    // start here again.
    vesk_fprintf(stderr, "Unknown GIF Introducer: 0x%x.\n", c);
    return 0;
  }
}

/*
 * rewindGif --
 *     Starts a GIF again at its first image and decodes it.
 * Results:      readGIF's result; 0 without file or memory data.
 */
int rewindGif(RAMIMG *image) {
  if (image->fd < 0 && !image->memData) {
    vesk_fprintf(stderr, "Can't rewind %s\n", image->header.path);
    return 0;
  }
  ImageHeader header = image->header;
  if (!readGifHeader(image->memData ? -1 : image->fd, &header, image->memData, image->memLength))
    return 0;
  image->dataOffset = header.offset;
  image->volume = 0;
  image->header.transparent = header.transparent;
  emptyCache(image);
  return readGIF(image);
}

/*
 * seekGifVolume --
 *     The volume procedure of GIF89a images: n > 0 the n-th image, 0 the
 *     next one, negative the last.
 * Results:      the volume reached; -2 when there is no next image; -1 on
 *     an error; 0 without file or memory data.
 */
int seekGifVolume(RAMIMG *image, int volume) {
  if (image->fd < 0 && !image->memData) return 0;
  if (volume == 0) {
    const int result = readGIF(image);
    if (result == 2) return -2;
    if (result == 0) return -1;
    return image->volume;
  }
  if (volume > 0) {
    if (volume == image->volume) return volume;
    if (volume < image->volume && rewindGif(image) == 0) return -1;
    while (image->volume < volume) {
      const int result = readGIF(image);
      if (result == 0) return -1;
      if (result == 2) break;
    }
    return image->volume;
  }
  for (;;) {
    const int result = readGIF(image);
    if (result == 0) return -1;
    if (result == 2) return image->volume;
  }
}

/*
 * writeGifRAMImage --
 *     Rewrites the whole file as GIF87a or GIF89a from band 0 of the
 *     cache; equal palette colours are merged first.
 * Results:      1 when the new file is in place, else 0 (the old file
 *     stays).
 * Side effects: the cache is emptied and the image starts again at its
 *     first image, so the next access decodes the new file.
 */
int writeGifRAMImage(RAMIMG *image) {
  ImageHeader &h = image->header;
  unsigned char palette[256][3] = {};
  int map[256];
  int kept = 0;
  for (int i = 0; i < 256; i++) map[i] = i;
  const int entries = std::min(h.nindices, 256);
  for (int i = 0; i < entries; i++) {
    int j = 0;
    while (j < kept && memcmp(palette[j], h.palette[i], 3) != 0) j++;
    if (j == kept) memcpy(palette[kept++], h.palette[i], 3);
    map[i] = j;
  }
  const int bits = entries > 0 ? gifColorBits(kept) : 8;
  const int codeSize = bits == 1 ? 2 : bits;
  for (int i = entries; i < 256; i++) map[i] = i & ((1 << bits) - 1);
  const int transparent = h.transparent >= 0 ? map[h.transparent & 0xff] : -1;
  std::vector<unsigned char> row(static_cast<size_t>(h.columns));

  const bool ok = replaceImageFileWith(image, [&](int fd) {
    std::unique_ptr<GifEncoder> encoder(new (std::nothrow) GifEncoder());
    if (!encoder) return false;
    bool written = putGifSignature(fd, h.imgid) &&
                   putGifScreen(fd, h.columns, h.rows, bits, entries > 0 ? palette : nullptr,
                                transparent);
    if (written && h.imgid == IMG_GIF89A) {
      char text[kProjStringSize];
      const int n = formatProjString(&h, text, sizeof text);
      written = putGifComment(fd, text, std::min<int>(n, sizeof text));
    }
    written = written && putGifControl(fd, transparent, roundToInt(image->frameDelay), 0, 0) &&
              putGifImageDesc(fd, 0, 0, h.columns, h.rows, codeSize, bits);
    if (!written) return false;
    initGifEncoder(fd, codeSize, -1, encoder.get());
    for (int r = 0; r < h.rows; r++) {
      const int slot = image->cacheLines > 0 ? r % image->cacheLines : 0;
      const bool held = image->cache && image->lineTags[slot] == r * h.nbands;
      for (int k = 0; k < h.columns; k++)
        row[static_cast<size_t>(k)] = static_cast<unsigned char>(
            map[held ? image->cache[slot * image->lineBytes + k] : 0]);
      gifEncodeLine(encoder.get(), h.columns, row.data());
    }
    return finishGifEncoder(encoder.get()) && putGifTrailer(fd);
  });
  if (!ok) vesk_fprintf(stderr, "Can't rewrite %s\n", h.path);
  emptyCache(image);
  if (ok) {
    ImageHeader written = h;
    if (readGifHeader(image->fd, &written, nullptr, 0)) {
      h.offset = written.offset;
      h.nindices = written.nindices;
      memcpy(h.palette, written.palette, sizeof h.palette);
      h.transparent = written.transparent;
    }
    image->dataOffset = h.offset;
    image->volume = 0;
  }
  return ok ? 1 : 0;
}

/*
 * prepareGifImage --
 *     Sets up a GIF image once it is opened or given memory data: it
 *     starts before its first image; GIF89a files page through their
 *     images as volumes.  Without a global palette the first image is
 *     decoded at once.
 */
void prepareGifImage(RAMIMG *image) {
  const int imgid = image->header.imgid;
  if (imgid != IMG_GIF87A && imgid != IMG_GIF89A) return;
  image->volume = 0;
  image->volumeCount = -1;
  image->dataOffset = image->header.offset;
  if (imgid == IMG_GIF89A) image->seekProc = seekGifVolume;
  if (image->header.nindices == 0) {
    if (imgid == IMG_GIF89A) seekGifVolume(image, 1);
    else readGIF(image);
  }
}

/* loadWholeImage -- decodes a whole-image file into the cache by its format. */
static int loadWholeImage(RAMIMG *image, int row) {
  switch (image->header.imgid) {
  case IMG_XBMP: return readXbmImage(image);
  case IMG_GIF87A: case IMG_GIF89A: return readGIF(image);
  case IMG_JPEG: return loadJpegRows(image, row);
  default: return 0;
  }
}

/* writeWholeImage -- rewrites a whole-image file from the cache by its format. */
static int writeWholeImage(RAMIMG *image) {
  switch (image->header.imgid) {
  case IMG_XBMP: return writeXbmRAMImage(image);
  case IMG_GIF87A: case IMG_GIF89A: return writeGifRAMImage(image);
  case IMG_JPEG: return writeJpegRAMImage(image);
  default: return 0;
  }
}

void installWholeImageFormats() {
  rasterHooks().loadWholeImage = loadWholeImage;
  rasterHooks().writeWholeImage = writeWholeImage;
  rasterHooks().finishImageStream = finishJpegStream;
}

}  // namespace vesk
