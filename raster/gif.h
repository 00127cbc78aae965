/*
 * gif.h --
 *     GIF87a and GIF89a: a reader over a file or a memory block with the
 *     block parsers and a variable-width LZW decoder that delivers one
 *     pixel index at a time, and an LZW encoder with the writers of every
 *     GIF block.
 */
#ifndef VESK_RASTER_GIF_H
#define VESK_RASTER_GIF_H

#include <stdint.h>

#include <tcl.h>

#include "raster/imghead.h"

namespace vesk {

inline constexpr int kGifMaxCodes = 4096;

/*
 * The logical screen descriptor or an image descriptor; the screen's
 * values stay until the first image descriptor overwrites them.
 */
struct GifImageInfo {
  int left = 0, top = 0, width = 0, height = 0;
  int paletteEntries = 0;  /* 0: no colour table */
  int interlace = 0, sort = 0, reserved = 0;
  int codeSize = 0;        /* LZW minimum code size */
  int background = 0;
  int paletteBits = 0;
  int colorResolution = 0;
  int aspect = 0;
  unsigned char palette[256][3] = {};
};

/* A reader: the source, the LZW state and the bit buffer (about 67 KB). */
struct GifReader {
  int fd = -1;                      /* negative: the data is in memory */
  int codeWidth = 0, rootSize = 0, clearCode = 0, endCode = 0;
  int widthLimit = 0;               /* next free code at which the width grows */
  int nextFree = 0, firstChar = 0, previousCode = 0;
  int bitCount = 0, bitPos = 0;     /* bits in the buffer, next bit to take */
  int dataEnded = 0;                /* the image's terminator (or the end) was read */
  int64_t memPos = 0, memLength = 0;
  const unsigned char *memory = nullptr;
  int prefix[kGifMaxCodes] = {}, suffix[kGifMaxCodes] = {};
  int stack[2 * kGifMaxCodes] = {};
  int stackTop = 0;
  unsigned char buffer[512] = {};   /* one sub-block plus the unread bytes before it */
  GifImageInfo info;
};

inline constexpr int kGifHashSize = 5021;

/* An encoder writing to a file (about 45 KB). */
struct GifEncoder {
  int fd = -1;
  int codeWidth = 0, maxCode = 0, rootSize = 0, clearCode = 0, nextFree = 0, endCode = 0;
  int maxWidth = 12, maxAllowed = 4095;
  int bitPos = 8;                   /* next bit of the output buffer */
  int prefix = -1;                  /* pending prefix code; negative: none */
  bool failed = false;              /* a write fell short */
  int hashCode[kGifHashSize] = {}, hashPrefix[kGifHashSize] = {};
  unsigned char hashSuffix[kGifHashSize] = {};
  unsigned char out[260] = {};      /* length byte, 255 data bytes, overflow */
};

/* ---- reading ---- */
void initGifReader(int fd, const unsigned char *memory, int64_t length, GifReader *reader);
int64_t gifRead(GifReader *reader, void *buffer, int64_t n);
int64_t gifSeek(GifReader *reader, int64_t offset, int whence);
int readGifSignature(GifReader *reader);
int getGifLSD(GifReader *reader);
int64_t readGifExtensions(GifReader *reader, int *transparent);
int getGIFImgDes(GifReader *reader, GifImageInfo *info);
int readGifBlock(GifReader *reader, unsigned char *buffer);
int initGifDecoder(GifReader *reader);
int resetGifTable(GifReader *reader);
int nextGifCode(GifReader *reader);
int nextGifPixel(GifReader *reader);
int readGifHeader(int fd, ImageHeader *header, const unsigned char *memory, int64_t length);
int probeGif(int fd, const char *path, ImageHeader *header, void **privateData);
int scanGif(GifReader *reader, int *status);
/* "calc scangif file": the block walk of a GIF file, printed on the console. */
int calcScangif(Tcl_Interp *interp, int argc, const char **argv);

/* ---- writing: 1 on success, 0 when a write falls short ---- */
int putGifSignature(int fd, int imgid);
int putGifScreen(int fd, int width, int height, int bits, const unsigned char (*palette)[3],
                 int background);
int putGifComment(int fd, const char *text, int length);
int putGifControl(int fd, int transparent, double delayMs, int disposal, int userInput);
int putGifImageDesc(int fd, int top, int left, int width, int height, int codeSize, int bits);
int putGifTrailer(int fd);
int putGifIntroducer(int fd);
void initGifEncoder(int fd, int rootSize, int prefix, GifEncoder *encoder);
void clearGifEncoder(GifEncoder *encoder);
int findGifHashSlot(GifEncoder *encoder, int prefix, int pixel);
void putGifCode(GifEncoder *encoder, int code);
int nextGifEncoderCode(GifEncoder *encoder);
void gifEncodePixel(GifEncoder *encoder, int pixel);
void gifEncodeLine(GifEncoder *encoder, int64_t n, const unsigned char *pixels);
int finishGifEncoder(GifEncoder *encoder);
int writeGifFile(int fd, ImageHeader *header);
int gifColorBits(int entries);

}  // namespace vesk

#endif
