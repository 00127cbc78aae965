/*
 * banddraw.h --
 *     Burning lines and filled polygons of one byte value into one band of
 *     a RAM image (the rimage "draw" subcommand and the raster drawing
 *     driver use them).  Pixels go through the row writers, which convert
 *     to the band's pixel type and mark the lines dirty.
 */
#ifndef VESK_RASTER_BANDDRAW_H
#define VESK_RASTER_BANDDRAW_H

#include "raster/ramimg.h"
#include "raster/roi.h"

namespace vesk {

int drawRAMImageLine(RAMIMG *image, int band, int value, float x0, float y0, float x1, float y1);
int drawRAMImagePolyline(RAMIMG *image, int band, int value, const PointList *points);
int fillRAMImagePolygon(RAMIMG *image, int band, int value, const PointList *points);

}  // namespace vesk

#endif
