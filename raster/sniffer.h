/*
 * sniffer.h --
 *     Identification and creation of image files: the format sniffer with
 *     its reader hooks, the header, body and trailer writers dispatched by
 *     imgid, and the readers and writers of the simple raw formats
 *     (IMAGEDEF, ERDAS, ELAS, PPM, XBM, DIB).
 *
 *     Every reader has a parsing core over a buffer: the first bytes of
 *     the file and the file's size.  Header fields are claims and the
 *     file size is the fact; a core checks every count, offset and
 *     length against it before the header is filled.
 */
#ifndef VESK_RASTER_SNIFFER_H
#define VESK_RASTER_SNIFFER_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "raster/imghead.h"

namespace vesk {

/*
 * A reader procedure: fills the header from an open file.
 * Results: the imgid (> 0) when the file is recognised; 0 when it is not
 *     of this format; negative on an error that ends the identification.
 */
typedef int ImageReaderProc(int fd, const char *path, ImageHeader *header, void **privateData);

/* One node of a hook list; nodes come from gmemAlloc. */
struct ImageReaderHook {
  ImageReaderProc *proc = nullptr;
  ImageReaderHook *next = nullptr;
};

/*
 * One row of the built-in probe order.  A row whose format is not in the
 * library yet has no probe and is passed over.  A probe whose negative
 * result ends the identification (TIFF) sets errorEnds.
 */
struct FormatProbe {
  const char *name;
  ImageReaderProc *probe;
  bool errorEnds;
};
const FormatProbe *formatProbes(int *count);

/* ---- sniffer, hooks and file creation (sniffer.cpp) ---- */
int sniffImageFile(int fd, const char *path, ImageHeader *header, void **privateData);
void addImageReader(ImageReaderProc *proc, int append);
void removeImageReader(ImageReaderProc *proc);
ImageReaderHook *unlinkImageReader(ImageReaderHook *head, ImageReaderProc *proc);
ImageReaderHook *imageReadersBefore();
ImageReaderHook *imageReadersAfter();
int writeImageHeader(int fd, int spaceCheck, ImageHeader *header);
int rewriteImageHeader(int fd, ImageHeader *header);
int writeImageBody(int fd, ImageHeader *header);
int writeImageTrailer(int fd, ImageHeader *header, void *privateData);
int createImageFile(ImageHeader *header);
int createPendingImageFile(ImageHeader *header, std::string *temporary);

/* Shared file helpers of the format units. */
int64_t readFilePrefix(int fd, unsigned char *buffer, int64_t length, int64_t *fileSize);
bool writeFileAt(int fd, const void *data, int64_t length, int64_t offset);
bool extentFits(int64_t offset, int64_t stride, int64_t count, int64_t fileSize);

/* Field access with an explicit byte order. */
inline uint16_t getU16(const unsigned char *p, bool msb) {
  return msb ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}
inline uint32_t getU32(const unsigned char *p, bool msb) {
  return msb ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
             : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}
inline int32_t getI32(const unsigned char *p, bool msb) {
  return static_cast<int32_t>(getU32(p, msb));
}
inline float getF32(const unsigned char *p, bool msb) {
  uint32_t bits = getU32(p, msb);
  float value;
  memcpy(&value, &bits, 4);
  return value;
}
inline double getF64(const unsigned char *p, bool msb) {
  uint64_t bits = msb ? uint64_t{getU32(p, true)} << 32 | getU32(p + 4, true)
                      : uint64_t{getU32(p + 4, false)} << 32 | getU32(p, false);
  double value;
  memcpy(&value, &bits, 8);
  return value;
}
inline void putU16(unsigned char *p, uint32_t v, bool msb) {
  p[msb ? 0 : 1] = static_cast<unsigned char>(v >> 8);
  p[msb ? 1 : 0] = static_cast<unsigned char>(v);
}
inline void putU32(unsigned char *p, uint32_t v, bool msb) {
  for (int i = 0; i < 4; i++) p[msb ? 3 - i : i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void putF32(unsigned char *p, float value, bool msb) {
  uint32_t bits;
  memcpy(&bits, &value, 4);
  putU32(p, bits, msb);
}
inline void putF64(unsigned char *p, double value, bool msb) {
  uint64_t bits;
  memcpy(&bits, &value, 8);
  putU32(p + (msb ? 0 : 4), static_cast<uint32_t>(bits >> 32), msb);
  putU32(p + (msb ? 4 : 0), static_cast<uint32_t>(bits), msb);
}

/* ---- IMAGEDEF (imagedef.cpp) ---- */
inline constexpr int kImagedefHeaderSize = 1152;
int parseImagedefHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                        ImageHeader *header);
int readImagedefHeader(int fd, ImageHeader *header);
int writeImagedefHeader(int fd, ImageHeader *header);
void swapImagedefHeader(unsigned char *buffer);

/* ---- ERDAS (erdas.cpp) ---- */
inline constexpr int kErdasHeaderSize = 128;
int parseErdasHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                     ImageHeader *header);
int readErdasHeader(int fd, ImageHeader *header);
int writeErdasHeader(int fd, int spaceCheck, ImageHeader *header);

/* ---- ELAS (elas.cpp) ---- */
inline constexpr int kElasHeaderSize = 1024;
int parseElasHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                    ImageHeader *header);
int readElasHeader(int fd, ImageHeader *header);

/* ---- PPM (ppm.cpp) ---- */
int parsePpmHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                   ImageHeader *header);
int readPpmHeader(int fd, ImageHeader *header);
int writePpmHeader(int fd, ImageHeader *header);

/* ---- XBM (xbm.cpp) ---- */
inline constexpr int kXbmProbeSize = 4096;
int parseXbmHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                   ImageHeader *header);
int readXbmHeader(int fd, ImageHeader *header);
int writeXbmFile(int fd, ImageHeader *header, const unsigned char *data, int64_t rowBytes);
bool formatXbmText(const ImageHeader &header, const unsigned char *data, int64_t rowBytes,
                   std::string &text, int *headLength);
/* Whole-image formats (wholeimage.cpp): XBM decoding and encoding. */
int readXbmImage(struct ::RAMIMG *image);
int writeXbmRAMImage(struct ::RAMIMG *image);
int readGIF(struct ::RAMIMG *image);
int seekGifVolume(struct ::RAMIMG *image, int volume);
int rewindGif(struct ::RAMIMG *image);
int writeGifRAMImage(struct ::RAMIMG *image);
void installWholeImageFormats();
/* GIF set-up of a newly opened image (the format dispatch calls it). */
void prepareGifImage(struct ::RAMIMG *image);

/* ---- DIB (dib.cpp) ---- */
inline constexpr int kDibFileHeaderSize = 14;
inline constexpr int kDibInfoHeaderSize = 40;
int parseDibHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                   ImageHeader *header, bool *topDown);
int readDibHeader(int fd, ImageHeader *header);
int readDibProbe(int fd, const char *path, ImageHeader *header, void **privateData);
int initDIB_Bi(ImageHeader *header, const unsigned char *info);
void setDIBPalette(ImageHeader *header, const unsigned char *quads, int count);
int writeDibHeader(int fd, int spaceCheck, ImageHeader *header);
int writeDibPalette(int fd, ImageHeader *header);

}  // namespace vesk

#endif
