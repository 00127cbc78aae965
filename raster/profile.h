/*
 * profile.h --
 *     Pixel values along straight lines through an image: a profile from
 *     a centre at an angle, a sampled segment of several bands, and a
 *     value sequence written along a segment.
 */
#ifndef VESK_RASTER_PROFILE_H
#define VESK_RASTER_PROFILE_H

#include "raster/ramimg.h"

namespace vesk {

/* Sampling methods of the three operations. */
inline constexpr int kSampleNearest = 1;
inline constexpr int kSampleBilinear = 2;

float *getRAMImageProfile(RAMIMG *image, float cx, float cy, int band, float angle, float step,
                          float start, float *out, int n, int method);
float *getRAMImageSeg(RAMIMG *image, float x0, float y0, float x1, float y1, int nb,
                      const int *bands, float *out, int n, int method);
int putRAMImageSeg(RAMIMG *image, float x0, float y0, float x1, float y1, int nb,
                   const int *bands, const float *values, int n, int method);

}  // namespace vesk

#endif
