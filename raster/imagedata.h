/*
 * imagedata.h --
 *     Image-data scripts: blocks of pixel values written into an image as
 *     text.  A range script ("BSQH b0 b1 x0 x1 y0 y1 values") walks three
 *     inclusive ranges in either direction; a block script ("BSQ startBand
 *     nbands x y width height values") fills a rectangle of bands.
 *
 *     The parsing core works on a buffer and its size and knows nothing of
 *     images beyond their extent: planImageData reads and checks the head,
 *     walkImageData streams the values to a sink.  Values are never held
 *     whole: a script may name far more values than it gives, and the
 *     missing ones all repeat the last value read.
 */
#ifndef VESK_RASTER_IMAGEDATA_H
#define VESK_RASTER_IMAGEDATA_H

#include <stddef.h>
#include <stdint.h>
#include <string>

#include "raster/ramimg.h"

namespace vesk {

/* The extent a script is checked against. */
struct ImageDataShape {
  int rows = 0, columns = 0, nbands = 0;
  int nindices = 0;             /* palette entries; values are clamped below it */
};

/* Order words: the six range forms, then the three block forms. */
enum ImageDataOrder {
  DATA_BSQH, DATA_BSQV, DATA_BILH, DATA_BILV, DATA_BIPH, DATA_BIPV,
  DATA_BSQ, DATA_BIL, DATA_BIP,
};

/* A checked script: its head, and the text offset where the values start
   (every value word has been checked to be a number). */
struct ImageDataPlan {
  int order = DATA_BSQH;
  bool block = false;
  int b0 = 0, b1 = 0, x0 = 0, x1 = 0, y0 = 0, y1 = 0;        /* range form, bands 0-based */
  int startBand = 0, nbands = 0, x = 0, y = 0, width = 0, height = 0;  /* block form */
  size_t values = 0;
};

/* A cursor over script text: words are separated by blanks and newlines. */
struct ScriptCursor {
  const char *at;
  const char *end;
};
size_t nextScriptWord(ScriptCursor *cursor);
size_t scanScriptFloat(ScriptCursor *cursor, float *value);
size_t scanScriptInt(ScriptCursor *cursor, int *value);

/*
 * Where walked values go: one pixel and band (range form), or one row
 * segment of one band (block form).  Values arrive clamped for palettes.
 */
struct ImageDataSink {
  virtual ~ImageDataSink() = default;
  virtual void pixel(int column, int row, int band, float value) = 0;
  virtual void segment(int row, int column, int count, int band, const float *values) = 0;
};

bool planImageData(const char *text, size_t length, const ImageDataShape &shape,
                   ImageDataPlan *plan, std::string *error);
void walkImageData(const char *text, size_t length, const ImageDataShape &shape,
                   const ImageDataPlan &plan, ImageDataSink *sink);

int parseASCIIData(RAMIMG *image, const char *text);
int parseASCIIBlock(RAMIMG *image, const char *text);

}  // namespace vesk

#endif
