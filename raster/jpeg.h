/*
 * jpeg.h --
 *     Baseline JPEG through the JPEG library: the sniffer's probe, the
 *     decoding of a whole file or memory block into the lines of a RAM
 *     image, the writers of a blank file and of a whole image, and the
 *     loaders and savers of the line cache (whole, or in order).  Two comment
 *     segments carry an image's georeference string and note.
 */
#ifndef VESK_RASTER_JPEG_H
#define VESK_RASTER_JPEG_H

#include <stdint.h>

#include "raster/imghead.h"

struct RAMIMG;

namespace vesk {

/* The JPEG quality a probed image is given (held in the header's block). */
inline constexpr int kJpegDefaultQuality = 90;

/*
 * The most pixels one byte of JPEG data may stand for.  Huffman-coded
 * data spends at least one bit on every 8 x 8 block; this allows eight
 * times less, so that a header claiming a huge image in a few bytes is
 * refused before anything is allocated for it.
 */
inline constexpr int64_t kJpegMaxPixelsPerByte = 4096;

int isJpegSOI(const unsigned char *bytes);
int readJpegHeader(int fd, ImageHeader *header, const unsigned char *memory, int64_t length);
int decodeJpeg(int fd, unsigned char *destination, int64_t lineStride,
               const unsigned char *memory, int64_t length, int rows, int columns, int bands);
int writeJpegFile(int fd, ImageHeader *header);
int writeJpegLines(int fd, const ImageHeader *header, const unsigned char *lines,
                   int64_t lineStride);

/* Whole-image loader and saver of the line cache. */
int readJPEG(::RAMIMG *image);
int writeJpegRAMImage(::RAMIMG *image);
/* The line cache's loader of rows read in order, and the end of a write in order. */
int loadJpegRows(::RAMIMG *image, int row);
int finishJpegStream(::RAMIMG *image);
/* The bytes of decoded rows kept behind the newest (at least 64 rows);
   returns the previous value.  Tests make it small. */
int64_t setJpegWindowBytes(int64_t bytes);

}  // namespace vesk

#endif
