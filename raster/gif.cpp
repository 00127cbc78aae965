/*
 * gif.cpp --
 *     The GIF codec of the store: the signature, screen descriptor,
 *     extension blocks and image descriptors read from a file or a memory
 *     block; a variable-width LZW decoder delivering one pixel index at a
 *     time; an LZW encoder with the writers of every block; a blank file
 *     for a new image; and a dump of a file's block structure.
 *
 *     The decoder bounds its table, its stack and its bit buffer on every
 *     step: a corrupt code stream ends the image, never the buffers.
 */
#include "raster/gif.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <algorithm>
#include <new>

#include "core/text.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* Writes all bytes at the file's position. */
bool putBytes(int fd, const void *data, int64_t n) {
  const unsigned char *from = static_cast<const unsigned char *>(data);
  int64_t done = 0;
  while (done < n) {
    const ssize_t k = write(fd, from + done, static_cast<size_t>(n - done));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    done += k;
  }
  return true;
}

void putLE16(unsigned char *p, int v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

int readByte(GifReader *reader) {
  unsigned char b;
  return gifRead(reader, &b, 1) == 1 ? b : -1;
}

/* Skips the sub-blocks up to the terminator: false on a short read. */
bool skipGifBlocks(GifReader *reader) {
  unsigned char block[256];
  int n;
  while ((n = readGifBlock(reader, block)) > 0) {
  }
  return n == 0;
}

/* Reads a colour table of 2^(field + 1) entries: the entry count, 0. */
int readGifPalette(GifReader *reader, int field, GifImageInfo *info) {
  const int entries = 1 << ((field & 7) + 1);
  if (gifRead(reader, info->palette, 3 * entries) != 3 * entries) return 0;
  info->paletteEntries = entries;
  info->paletteBits = (field & 7) + 1;
  return entries;
}

}  // namespace

/* ---- reader ---- */

/* initGifReader -- a reader on a file, or (fd < 0) on a memory block. */
void initGifReader(int fd, const unsigned char *memory, int64_t length, GifReader *reader) {
  reader->fd = fd;
  reader->memory = memory;
  reader->memLength = memory ? std::max<int64_t>(length, 0) : 0;
  reader->memPos = 0;
  reader->bitCount = reader->bitPos = 0;
  reader->stackTop = 0;
}

/* gifRead -- up to n bytes from the file or the memory block. */
int64_t gifRead(GifReader *reader, void *buffer, int64_t n) {
  if (n <= 0) return 0;
  if (reader->fd >= 0) {
    unsigned char *to = static_cast<unsigned char *>(buffer);
    int64_t done = 0;
    while (done < n) {
      const ssize_t k = read(reader->fd, to + done, static_cast<size_t>(n - done));
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) break;
      done += k;
    }
    return done;
  }
  const int64_t k = std::min(n, reader->memLength - reader->memPos);
  if (k <= 0 || !reader->memory) return 0;
  memcpy(buffer, reader->memory + reader->memPos, static_cast<size_t>(k));
  reader->memPos += k;
  return k;
}

/* gifSeek -- the new position; in memory clamped to the block. */
int64_t gifSeek(GifReader *reader, int64_t offset, int whence) {
  if (reader->fd >= 0) return lseek(reader->fd, static_cast<off_t>(offset), whence);
  int64_t at = whence == SEEK_SET ? offset
               : whence == SEEK_CUR ? reader->memPos + offset
                                    : reader->memLength - offset;
  reader->memPos = std::min(std::max<int64_t>(at, 0), reader->memLength);
  return reader->memPos;
}

/* readGifSignature -- 10 for "GIF87a", 11 for "GIF89a", 0 otherwise. */
int readGifSignature(GifReader *reader) {
  char sig[6];
  if (gifRead(reader, sig, 6) != 6) return 0;
  if (!memcmp(sig, "GIF87a", 6)) return IMG_GIF87A;
  if (!memcmp(sig, "GIF89a", 6)) return IMG_GIF89A;
  return 0;
}

/*
 * getGifLSD --
 *     Reads the logical screen descriptor and the global colour table.
 * Results:      1, or 0 on a short read.
 */
int getGifLSD(GifReader *reader) {
  unsigned char d[7];
  if (gifRead(reader, d, 7) != 7) return 0;
  GifImageInfo &info = reader->info;
  info.width = d[0] | d[1] << 8;
  info.height = d[2] | d[3] << 8;
  info.colorResolution = ((d[4] >> 4) & 7) + 1;
  info.sort = (d[4] >> 3) & 1;
  info.background = d[5];
  info.aspect = d[6];
  if (d[4] & 0x80) {
    const int entries = 1 << ((d[4] & 7) + 1);
    const int64_t n = gifRead(reader, info.palette, 3 * entries);
    if (n != 3 * entries) {
      vesk_fprintf(stderr, "Error in getGifLSD: count = %d n = %d\n", 3 * entries, int(n));
      return 0;
    }
    info.paletteEntries = entries;
    info.paletteBits = (d[4] & 7) + 1;
  } else {
    info.paletteEntries = 0;
    info.paletteBits = 8;
  }
  return 1;
}

/*
 * readGifExtensions --
 *     Passes over extension blocks up to the next image separator, taking
 *     the transparent index of a graphic control extension.
 * Results:      the position after the separator; 0 at the end of the
 *     data; -1 at an unknown extension label.
 */
int64_t readGifExtensions(GifReader *reader, int *transparent) {
  for (;;) {
    const int c = readByte(reader);
    if (c < 0) {
      vesk_fprintf(stderr, "Error in read GIF Introducer\n");
      return 0;
    }
    if (c == ',') return gifSeek(reader, 0, SEEK_CUR);
    if (c != '!') continue;
    const int label = readByte(reader);
    if (label < 0) {
      vesk_fprintf(stderr, "Error in read GIF label\n");
      return 0;
    }
    if (label == 0xF9) {
      unsigned char block[256];
      const int n = readGifBlock(reader, block);
      if (n >= 4 && (block[0] & 1) && transparent) *transparent = block[3];
      if (n > 0) skipGifBlocks(reader);
    } else if (label == 0x01 || label == 0xFE || label == 0xFF) {
      skipGifBlocks(reader);
    } else {
      vesk_fprintf(stderr, "    Unknown label in extension block\n");
      return -1;
    }
  }
}

/*
 * getGIFImgDes --
 *     Reads an image descriptor (after its separator), its local colour
 *     table and the LZW minimum code size.
 * Results:      2 with a local colour table, 1 without, 0 on a short read.
 */
int getGIFImgDes(GifReader *reader, GifImageInfo *info) {
  unsigned char d[9];
  if (gifRead(reader, d, 9) != 9) return 0;
  info->left = d[0] | d[1] << 8;
  info->top = d[2] | d[3] << 8;
  info->width = d[4] | d[5] << 8;
  info->height = d[6] | d[7] << 8;
  info->interlace = (d[8] >> 6) & 1;
  info->sort = (d[8] >> 5) & 1;
  int result = 1;
  if (d[8] & 0x80) {
    if (!readGifPalette(reader, d[8], info)) return 0;
    result = 2;
  } else {
    info->paletteEntries = 0;
    info->paletteBits = 0;
  }
  const int size = readByte(reader);
  if (size < 0) return 0;
  info->codeSize = size;
  return result;
}

/*
 * readGifBlock --
 *     Reads the next data sub-block into a buffer of 256 bytes.
 * Results:      its length; 0 at the terminator; -1 on a short read.
 */
int readGifBlock(GifReader *reader, unsigned char *buffer) {
  const int n = readByte(reader);
  if (n < 0) {
    vesk_fprintf(stderr, "Error in read GIF Block Size.\n");
    return -1;
  }
  if (n == 0) return 0;
  if (gifRead(reader, buffer, n) != n) {
    vesk_fprintf(stderr, "Error in read GIF Block Data.\n");
    return -1;
  }
  return n;
}

/*
 * nextGifCode --
 *     The next code of the current width, least significant bit first;
 *     sub-blocks are appended to the bit buffer as they are needed.
 * Results:      the code; -1 at the end of the data.
 */
int nextGifCode(GifReader *reader) {
  while (reader->bitPos + reader->codeWidth > reader->bitCount) {
    // Keep the unread bytes (at most three) and append the next sub-block.
    const int from = reader->bitPos / 8;
    const int keep = std::max(0, reader->bitCount / 8 - from);
    memmove(reader->buffer, reader->buffer + from, static_cast<size_t>(keep));
    const int n = reader->dataEnded ? 0 : readGifBlock(reader, reader->buffer + keep);
    if (n <= 0) {
      reader->dataEnded = 1;
      return -1;
    }
    reader->bitCount = (keep + n) * 8;
    reader->bitPos &= 7;
  }
  const int at = reader->bitPos / 8;
  const uint32_t bits = uint32_t{reader->buffer[at]} | uint32_t{reader->buffer[at + 1]} << 8 |
                        uint32_t{reader->buffer[at + 2]} << 16;
  const int code = static_cast<int>((bits >> (reader->bitPos & 7)) & ((1u << reader->codeWidth) - 1));
  reader->bitPos += reader->codeWidth;
  return code;
}

/*
 * resetGifTable --
 *     Empties the string table after a clear code and reads the first code.
 * Results:      that code, which is also the first character.
 */
int resetGifTable(GifReader *reader) {
  for (int i = 0; i < kGifMaxCodes; i++) {
    reader->prefix[i] = 0;
    reader->suffix[i] = i < reader->clearCode ? i : 0;
  }
  reader->codeWidth = reader->rootSize + 1;
  reader->widthLimit = 2 * reader->clearCode;
  reader->nextFree = reader->clearCode + 2;
  reader->stackTop = 0;
  const int code = nextGifCode(reader);
  reader->firstChar = reader->previousCode = code;
  return code;
}

/*
 * initGifDecoder --
 *     Starts decoding the image whose descriptor was just read.
 * Results:      1; 0 when the code size is outside 1 to 11 or the data
 *     ends before the first pixel.
 */
int initGifDecoder(GifReader *reader) {
  const int root = reader->info.codeSize;
  reader->bitCount = reader->bitPos = 0;
  reader->stackTop = 0;
  reader->dataEnded = 0;
  if (root < 1 || root > 11) return 0;
  reader->rootSize = root;
  reader->clearCode = 1 << root;
  reader->endCode = reader->clearCode + 1;
  int code = resetGifTable(reader);
  while (code == reader->clearCode) code = nextGifCode(reader);
  if (code < 0 || code == reader->endCode) return 0;
  reader->firstChar = reader->previousCode = code;
  reader->stack[reader->stackTop++] = code;
  return 1;
}

/*
 * nextGifPixel --
 *     The next pixel index of the image.
 * Results:      the index; negative at the end of the data, at the end
 *     code, or when the table holds a chain that does not end.
 */
int nextGifPixel(GifReader *reader) {
  if (reader->stackTop > 0) return reader->stack[--reader->stackTop];
  int code;
  for (;;) {
    code = nextGifCode(reader);
    if (code < 0 || code == reader->endCode) return -1;
    if (code != reader->clearCode) break;
    code = resetGifTable(reader);
    if (code == reader->clearCode) continue;
    if (code < 0 || code == reader->endCode) return -1;
    return code;
  }
  const int read = code;
  if (code >= reader->nextFree) {
    reader->stack[reader->stackTop++] = reader->firstChar;
    code = reader->previousCode;
  }
  int steps = 0;
  while (code >= reader->clearCode) {
    if (reader->prefix[code] == code || ++steps >= kGifMaxCodes ||
        reader->stackTop >= 2 * kGifMaxCodes - 1) {
      vesk_fprintf(stderr, "circular table entry BIG ERROR: %d\n", code);
      reader->stackTop = 0;
      return -1;
    }
    reader->stack[reader->stackTop++] = reader->suffix[code];
    code = reader->prefix[code];
  }
  reader->firstChar = reader->suffix[code];
  reader->stack[reader->stackTop++] = reader->firstChar;
  if (reader->nextFree < kGifMaxCodes) {
    reader->prefix[reader->nextFree] = reader->previousCode;
    reader->suffix[reader->nextFree] = reader->firstChar;
    reader->nextFree++;
    if (reader->nextFree >= reader->widthLimit && reader->widthLimit < kGifMaxCodes) {
      reader->widthLimit *= 2;
      reader->codeWidth++;
    }
  }
  reader->previousCode = read;
  return reader->stack[--reader->stackTop];
}

/*
 * gifPixelBound --
 *     The most pixels LZW data of a number of bytes can decode to: codes
 *     are 3 bits or wider, and the i-th code after a clear gives at most i
 *     pixels, never more than the table holds.
 */
static int64_t gifPixelBound(int64_t bytes) {
  const int64_t codes = bytes * 8 / 3;
  if (codes <= kGifMaxCodes) return codes * (codes + 1) / 2;
  return int64_t{kGifMaxCodes} * (kGifMaxCodes + 1) / 2 + (codes - kGifMaxCodes) * kGifMaxCodes;
}

/*
 * readGifHeader --
 *     The GIF probe, on a file or on a memory block: the signature, the
 *     screen, and the transparent index of a graphic control extension
 *     before the first image.  A zero-sized screen is not a GIF.
 * Results:      10 or 11 (the imgid) with the header filled; 0 when the
 *     data is not a GIF.  A file keeps its position.
 */
int readGifHeader(int fd, ImageHeader *header, const unsigned char *memory, int64_t length) {
  GifReader *reader = new (std::nothrow) GifReader();
  if (!reader) return 0;
  initGifReader(fd, memory, length, reader);
  const int64_t saved = gifSeek(reader, 0, SEEK_CUR);
  gifSeek(reader, 0, SEEK_SET);
  const int imgid = readGifSignature(reader);
  if (!imgid || !getGifLSD(reader) || reader->info.width <= 0 || reader->info.height <= 0) {
    gifSeek(reader, saved, SEEK_SET);
    delete reader;
    return 0;
  }
  // A screen larger than the file's data could ever paint is refused
  // before anything is sized by it.
  const int64_t afterScreen = gifSeek(reader, 0, SEEK_CUR);
  const int64_t bytes = memory ? length : gifSeek(reader, 0, SEEK_END);
  const int64_t pixels = int64_t{reader->info.width} * reader->info.height;
  if (pixels > gifPixelBound(std::max<int64_t>(bytes, 0))) {
    vesk_fprintf(stderr, "A GIF image of %d x %d pixels can't be held in %lld bytes.\n",
                 reader->info.width, reader->info.height, static_cast<long long>(bytes));
    gifSeek(reader, saved, SEEK_SET);
    delete reader;
    return 0;
  }
  gifSeek(reader, afterScreen, SEEK_SET);
  int transparent = -1;
  {
    // The scan of the extensions says nothing about the file's type.
    readGifExtensions(reader, &transparent);
  }
  gifSeek(reader, saved, SEEK_SET);
  const GifImageInfo &info = reader->info;
  header->imgid = imgid;
  header->columns = info.width;
  header->rows = info.height;
  header->transparent = transparent;
  header->nindices = info.paletteEntries;
  memcpy(header->palette, info.palette, sizeof header->palette);
  header->offset = 13 + 3 * info.paletteEntries;
  header->mapid = MAPID_GRID;
  header->pixelid = P_BYTE;
  header->bits = 8;
  header->nbands = 1;
  header->block = 0;
  header->top = header->left = 0;
  header->x0 = header->y0 = 0;
  header->dx = header->dy = 1.0;
  header->msbf = msbFirst();
  header->readerFlag = 4;
  delete reader;
  return imgid;
}

/* probeGif -- the sniffer's GIF probe. */
int probeGif(int fd, const char *, ImageHeader *header, void **) {
  // Messages of the extension scan are no concern of identification.
  return readGifHeader(fd, header, nullptr, 0);
}

/*
 * scanGif --
 *     Prints the block structure of a GIF on the standard output stream.
 * Results:      1 at the trailer, 0 on an error; *status the same.
 */
int scanGif(GifReader *reader, int *status) {
  vesk_printf("scanGIF...\n");
  gifSeek(reader, 0, SEEK_SET);
  *status = -1;
  int result = 0;
  int64_t total = 0;
  const int imgid = readGifSignature(reader);
  if (!imgid) {
    vesk_fprintf(stderr, "Unknown File\n");
  } else {
    vesk_printf("    File ID: %s\n", imgid == IMG_GIF87A ? "GIF87a" : "GIF89a");
    if (!getGifLSD(reader)) {
      vesk_fprintf(stderr, "Error in getGifLSB\n");
    } else {
      vesk_printf("    width: %d height: %d\n", reader->info.width, reader->info.height);
      for (int i = 0; i < reader->info.paletteEntries; i++)
        vesk_printf("    i %3d r:%3d g:%3d b:%3d\n", i, reader->info.palette[i][0],
                    reader->info.palette[i][1], reader->info.palette[i][2]);
      for (bool going = true; going;) {
        const int c = readByte(reader);
        if (c < 0) {
          vesk_fprintf(stderr, "Error in read GIF Introducer\n");
          break;
        }
        if (c == '!') {
          vesk_printf("Get GIF Extension block...\n");
          const int label = readByte(reader);
          const char *name = label == 0xF9   ? "Graphic Control"
                             : label == 0xFE ? "Comment"
                             : label == 0x01 ? "Plain text"
                             : label == 0xFF ? "Application"
                                             : nullptr;
          if (!name) {
            vesk_fprintf(stderr, "    Unknown label in extension block\n");
            break;
          }
          vesk_printf("    Get %s label...\n", name);
          if (!skipGifBlocks(reader)) break;
        } else if (c == ',') {
          vesk_printf("Get Image Separator...\n");
          if (!getGIFImgDes(reader, &reader->info)) {
            vesk_fprintf(stderr, "Error in getGIFImgDes\n");
            break;
          }
          const GifImageInfo &info = reader->info;
          vesk_printf("    Image Description - codeSize:%d left:%d top:%d cols:%d rows:%d\n",
                      info.codeSize, info.left, info.top, info.width, info.height);
          if (initGifDecoder(reader)) {
            const int64_t pixels = int64_t{info.width} * info.height;
            for (int64_t k = 0; k < pixels && nextGifPixel(reader) >= 0; k++) total++;
          }
          if (!reader->dataEnded) skipGifBlocks(reader);
          vesk_printf("        Total Bytes: %d\n", static_cast<int>(std::min<int64_t>(total, INT32_MAX)));
        } else if (c == ';') {
          vesk_printf("End of GIF at: %d.\n", static_cast<int>(gifSeek(reader, 0, SEEK_CUR)));
          result = 1;
          going = false;
        } else {
          vesk_fprintf(stderr, "Unknown GIF Introducer: 0x%x.\n", c);
          going = false;
        }
      }
    }
  }
  *status = result;
  vesk_printf("end of scanGIF - status: %d\n\n", result);
  return result;
}

/* ---- writers ---- */

int putGifSignature(int fd, int imgid) {
  const char *sig = imgid == IMG_GIF87A ? "GIF87a" : imgid == IMG_GIF89A ? "GIF89a" : nullptr;
  if (!sig || lseek(fd, 0, SEEK_SET) != 0) return 0;
  return putBytes(fd, sig, 6);
}

/*
 * putGifScreen --
 *     Writes the logical screen descriptor and its global colour table of
 *     2^bits entries.  Without a palette the table is a grey ramp: no
 *     reader can show an image that has no colour table at all.
 */
int putGifScreen(int fd, int width, int height, int bits, const unsigned char (*palette)[3],
                 int background) {
  unsigned char d[7];
  putLE16(d, width);
  putLE16(d + 2, height);
  d[4] = static_cast<unsigned char>(0x80 | ((bits - 1) << 4) | (bits - 1));
  d[5] = static_cast<unsigned char>(background < 0 ? 0 : background);
  d[6] = 0;
  if (!putBytes(fd, d, 7)) return 0;
  const int entries = 1 << bits;
  if (palette) return putBytes(fd, palette, 3 * entries);
  unsigned char ramp[256][3];
  for (int i = 0; i < entries; i++)
    memset(ramp[i], i * 255 / (entries - 1), 3);
  return putBytes(fd, ramp, 3 * entries);
}

int putGifComment(int fd, const char *text, int length) {
  if (!putBytes(fd, "\x21\xFE", 2)) return 0;
  for (int at = 0; at < length;) {
    const unsigned char n = static_cast<unsigned char>(std::min(length - at, 255));
    if (!putBytes(fd, &n, 1) || !putBytes(fd, text + at, n)) return 0;
    at += n;
  }
  return putBytes(fd, "", 1);
}

int putGifControl(int fd, int transparent, double delayMs, int disposal, int userInput) {
  unsigned char d[8] = {0x21, 0xF9, 0x04, 0, 0, 0, 0, 0};
  d[3] = static_cast<unsigned char>((transparent >= 0 ? 1 : 0) | ((disposal << 2) & 0x1C) |
                                    ((userInput << 1) & 2));
  putLE16(d + 4, roundToInt(delayMs * 0.1));
  d[6] = static_cast<unsigned char>(transparent);
  return putBytes(fd, d, 8);
}

int putGifImageDesc(int fd, int top, int left, int width, int height, int codeSize, int bits) {
  unsigned char d[11];
  d[0] = 0x2C;
  putLE16(d + 1, left);
  putLE16(d + 3, top);
  putLE16(d + 5, width);
  putLE16(d + 7, height);
  d[9] = static_cast<unsigned char>(bits - 1);
  d[10] = static_cast<unsigned char>(codeSize);
  return putBytes(fd, d, 11);
}

int putGifTrailer(int fd) { return putBytes(fd, ";", 1); }

/* putGifIntroducer -- the extension introducer 0x21 that starts an extension block. */
int putGifIntroducer(int fd) { return putBytes(fd, "!", 1); }

/* ---- LZW encoder ---- */

void initGifEncoder(int fd, int rootSize, int prefix, GifEncoder *encoder) {
  encoder->fd = fd;
  encoder->rootSize = rootSize;
  encoder->clearCode = 1 << rootSize;
  encoder->endCode = encoder->clearCode + 1;
  encoder->codeWidth = rootSize + 1;
  encoder->maxCode = (1 << encoder->codeWidth) - 1;
  encoder->maxWidth = 12;
  encoder->maxAllowed = 4095;
  memset(encoder->out, 0, sizeof encoder->out);
  encoder->bitPos = 8;
  encoder->failed = false;
  encoder->prefix = prefix;
  if (prefix >= 0) clearGifEncoder(encoder);
}

/* clearGifEncoder -- empties the table and writes a clear code. */
void clearGifEncoder(GifEncoder *encoder) {
  for (int i = 0; i < kGifHashSize; i++) encoder->hashCode[i] = -1;
  putGifCode(encoder, encoder->clearCode);
  encoder->codeWidth = encoder->rootSize + 1;
  encoder->maxCode = (1 << encoder->codeWidth) - 1;
  encoder->nextFree = encoder->endCode + 1;
}

/* findGifHashSlot -- the slot holding (prefix, pixel), or the first empty one. */
int findGifHashSlot(GifEncoder *encoder, int prefix, int pixel) {
  int h = ((pixel & 0xff) << 4) ^ prefix;
  h %= kGifHashSize;
  const int step = h == 0 ? 1 : kGifHashSize - h;
  while (encoder->hashCode[h] >= 0 &&
         (encoder->hashPrefix[h] != prefix || encoder->hashSuffix[h] != (pixel & 0xff))) {
    h -= step;
    if (h < 0) h += kGifHashSize;
  }
  return h;
}

/* putGifCode -- appends a code; full sub-blocks of 255 bytes go to the file. */
void putGifCode(GifEncoder *encoder, int code) {
  if (encoder->bitPos > 2048) {
    encoder->out[0] = 255;
    if (!putBytes(encoder->fd, encoder->out, 256)) encoder->failed = true;
    memmove(encoder->out + 1, encoder->out + 256, 4);
    memset(encoder->out + 5, 0, sizeof encoder->out - 5);
    encoder->bitPos -= 2040;
  }
  const uint32_t bits = static_cast<uint32_t>(code) << (encoder->bitPos & 7);
  const int at = encoder->bitPos / 8;
  for (int i = 0; i < 3; i++) encoder->out[at + i] |= static_cast<unsigned char>(bits >> (8 * i));
  encoder->bitPos += encoder->codeWidth;
}

/* nextGifEncoderCode -- the next free code, widening the codes when needed. */
int nextGifEncoderCode(GifEncoder *encoder) {
  if (encoder->nextFree > encoder->maxCode && encoder->codeWidth < encoder->maxWidth) {
    encoder->codeWidth++;
    encoder->maxCode = (1 << encoder->codeWidth) - 1;
  }
  return encoder->nextFree++;
}

void gifEncodePixel(GifEncoder *encoder, int pixel) {
  pixel &= 0xff;
  const int slot = findGifHashSlot(encoder, encoder->prefix, pixel);
  if (encoder->hashCode[slot] >= 0) {
    encoder->prefix = encoder->hashCode[slot];
    return;
  }
  putGifCode(encoder, encoder->prefix);
  if (encoder->nextFree <= encoder->maxAllowed) {
    encoder->hashCode[slot] = nextGifEncoderCode(encoder);
    encoder->hashPrefix[slot] = encoder->prefix;
    encoder->hashSuffix[slot] = static_cast<unsigned char>(pixel);
  } else {
    clearGifEncoder(encoder);
  }
  encoder->prefix = pixel;
}

void gifEncodeLine(GifEncoder *encoder, int64_t n, const unsigned char *pixels) {
  int64_t k = 0;
  if (encoder->prefix < 0 && n > 0) {
    clearGifEncoder(encoder);
    encoder->prefix = pixels[k++];
  }
  for (; k < n; k++) gifEncodePixel(encoder, pixels[k]);
}

/*
 * finishGifEncoder --
 *     Writes the pending prefix, the end code, the last sub-block (split
 *     in two when it holds more than 255 bytes) and the terminator.
 * Results:      1, or 0 when a write fell short.
 */
int finishGifEncoder(GifEncoder *encoder) {
  if (encoder->prefix >= 0) putGifCode(encoder, encoder->prefix);
  putGifCode(encoder, encoder->endCode);
  int bytes = (encoder->bitPos - 8 + 7) / 8;
  bool ok = !encoder->failed;
  if (bytes > 255) {
    encoder->out[0] = 255;
    ok = ok && putBytes(encoder->fd, encoder->out, 256);
    memmove(encoder->out + 1, encoder->out + 256, 4);
    bytes -= 255;
  }
  encoder->out[0] = static_cast<unsigned char>(bytes);
  if (bytes > 0) encoder->out[bytes + 1] = 0;
  ok = ok && putBytes(encoder->fd, encoder->out, bytes > 0 ? bytes + 2 : 1);
  memset(encoder->out, 0, sizeof encoder->out);
  encoder->bitPos = 8;
  encoder->prefix = -1;
  return ok ? 1 : 0;
}

/* gifColorBits -- the smallest n >= 1 with 2^n >= entries; 8 without a palette. */
int gifColorBits(int entries) {
  if (entries <= 0) return 8;
  int bits = 1;
  while (bits < 8 && (1 << bits) < entries) bits++;
  return bits;
}

/*
 * writeGifFile --
 *     Writes a whole GIF of index 0 for a header: screen, georeference
 *     comment (GIF89a), graphic control, image and trailer.
 * Results:      0; -1 when a write falls short (a full disk).
 * Side effects: the header's data offset is the image data's.
 */
int writeGifFile(int fd, ImageHeader *header) {
  const int bits = gifColorBits(header->nindices);
  const int codeSize = bits == 1 ? 2 : bits;
  bool ok = putGifSignature(fd, header->imgid) &&
            putGifScreen(fd, header->columns, header->rows, bits,
                         header->nindices > 0 ? header->palette : nullptr, header->transparent);
  if (ok && header->imgid == IMG_GIF89A) {
    char text[kProjStringSize];
    const int n = formatProjString(header, text, sizeof text);
    ok = putGifComment(fd, text, std::min<int>(n, sizeof text));
  }
  ok = ok && putGifControl(fd, header->transparent, 0, 0, 0) &&
       putGifImageDesc(fd, 0, 0, header->columns, header->rows, codeSize, bits);
  if (!ok) return -1;
  header->offset = lseek(fd, 0, SEEK_CUR);
  GifEncoder *encoder = new (std::nothrow) GifEncoder();
  if (!encoder) return -1;
  initGifEncoder(fd, codeSize, 0, encoder);
  const int64_t pixels = int64_t{header->rows} * header->columns;
  for (int64_t k = 1; k < pixels; k++) gifEncodePixel(encoder, 0);
  ok = finishGifEncoder(encoder) && putGifTrailer(fd);
  delete encoder;
  return ok ? 0 : -1;
}

}  // namespace vesk
