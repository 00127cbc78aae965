/*
 * pixels.h --
 *     Row, rectangle and pixel access of RAM images by type: segments of
 *     one band read and written as floats, bytes or unsigned 16-bit
 *     values, palette views, pixel-interleaved buffers of several bands,
 *     and single pixels.  Every access goes through the image's line
 *     cache; writes flag the line dirty.
 */
#ifndef VESK_RASTER_PIXELS_H
#define VESK_RASTER_PIXELS_H

#include <stdint.h>
#include "raster/ramimg.h"

namespace vesk {

/* ---- segments of one band: outside pixels read as 0, writes skip them ---- */
void getFloatBILData(RAMIMG *image, int row, int column, int count, int band, float *out);
void getByteBILData(RAMIMG *image, int row, int column, int count, int band,
                    unsigned char *out);
void getByteBILDataStride(RAMIMG *image, int row, int column, int count, int band,
                          unsigned char *out, int stride);
void getFloatBILDataStride(RAMIMG *image, int row, int column, int count, int band,
                           float *out, int stride);
int putFloatBILData(RAMIMG *image, int row, int column, int count, int band, const float *in);
int putByteBILData(RAMIMG *image, int row, int column, int count, int band,
                   const unsigned char *in);
int putUSHORTBILData(RAMIMG *image, int row, int column, int count, int band,
                     const uint16_t *in);

/*
 * The FLOAT line of a memory image that holds every line, where it lies
 * (the values getFloatBILData copies out); null for any other image and
 * for a row or band outside.  A writer flags the line with
 * setRAMImageDirty; one that fills the whole line passes `load` 0, so that
 * a new image's line is not zeroed first.
 */
float *residentFloatLine(RAMIMG *image, int row, int band, int load = 1);
/* residentFloatLine for rows first .. first + count - 1, into lines:
   false (lines undefined) unless the image holds every one. */
bool residentFloatLines(RAMIMG *image, int first, int count, int band, int load, float **lines);
/* The same for a BYTE memory image: the bytes getByteBILData copies out. */
unsigned char *residentByteLine(RAMIMG *image, int row, int band);

/* ---- palette views: component 0, 1, 2 = red, green, blue; < 0 the index ---- */
void getPaletteByteBILData(RAMIMG *image, int row, int column, int count, int component,
                           unsigned char *out);
void getPaletteFloatBILData(RAMIMG *image, int row, int column, int count, int component,
                            float *out);
/* The palette component that fills band `band` of a colour image: a DIB
   stores blue, green, red, so its bands 0 and 2 take blue and red. */
int rgbBandComponent(const ImageHeader &header, int band);

/* ---- several bands in pixel-interleaved buffers; bands may be null ---- */
void getByteBIPData(RAMIMG *image, int row, int column, int count, int columnStep, int n,
                    const int *bands, unsigned char *out);
void getFloatBIPData(RAMIMG *image, int row, int column, int count, int columnStep, int n,
                     const int *bands, float *out);
int writeFloatBIPData(RAMIMG *image, int row, int column, int count, int n, const int *bands,
                      const float *in);
int writeByteBIPData(RAMIMG *image, int row, int column, int count, int n, const int *bands,
                     const unsigned char *in);
int putFloatBIPData(RAMIMG *image, int firstBand, int n, int row, int column, int count,
                    const float *in);
int putByteBIPData(RAMIMG *image, int firstBand, int n, int row, int column, int count,
                   const unsigned char *in);

/*
 * ---- stored samples: a band's line moved as the cache holds it ----
 * A module that works its rows on the pool moves lines through the cache
 * on the calling thread as stored samples (host order) and converts them
 * on the workers: getStoredBILData, storedToFloats give the values of
 * getFloatBILData; floatsToStored, putStoredBILData store what
 * putFloatBILData stores.  Whole-byte pixel types only.
 */
/* Bytes of one stored sample: 1, 2 or 4; 0 for 1BIT, 4BITS and unknown types. */
int storedSampleBytes(int pixelid);
/* count samples of (row, band) from column; outside ones (and all, when the
   line cannot be had) are zero bytes, which read as 0. */
void getStoredBILData(RAMIMG *image, int row, int column, int count, int band,
                      unsigned char *out);
void storedToFloats(int pixelid, const unsigned char *stored, int64_t n, float *out);
void floatsToStored(int pixelid, const float *in, int64_t n, unsigned char *stored);
/* Stores the inside part of count samples and flags the line dirty.
   Results: the samples stored. */
int putStoredBILData(RAMIMG *image, int row, int column, int count, int band,
                     const unsigned char *in);

/* ---- single pixels ---- */
float getPixelValue(RAMIMG *image, int column, int row, int band);
void getPixelBands(RAMIMG *image, int row, int column, float *out);
void getPixelVector(RAMIMG *image, int column, int row, int n, const int *bands, float *out);
void putPixelVector(RAMIMG *image, int column, int row, int n, const int *bands,
                    const float *in);

}  // namespace vesk

#endif
