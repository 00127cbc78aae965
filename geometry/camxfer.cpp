/*
 * camxfer.cpp --
 *     Image transfers of the sensor models: the picture a frame camera
 *     takes of a map image (acquire, with or without a DEM), the picture
 *     resampled onto a map image (rectify) and projected forward onto it
 *     (normalize, plain or distance-weighted), with the notes written
 *     into acquired pictures.
 */
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <new>
#include <string>
#include <vector>
#include <tk.h>

#include "core/options.h"
#include "core/text.h"
#include "geometry/attitude.h"
#include "geometry/cameramodel.h"
#include "raster/bandstats.h"
#include "raster/imghead.h"
#include "raster/pixels.h"
#include "raster/ramimg.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace cam {

bool loadRaster(RAMIMG *image, int bands, Raster *r) {
  r->rows = image->header.rows;
  r->columns = image->header.columns;
  r->bands = bands;
  try {
    r->v.resize(static_cast<size_t>(bands) * r->rows * r->columns);
  } catch (const std::bad_alloc &) {
    return false;
  }
  for (int b = 0; b < bands; b++)
    for (int row = 0; row < r->rows; row++)
      getFloatBILData(image, row, 0, r->columns, b,
                      &r->v[(static_cast<size_t>(b) * r->rows + row) * r->columns]);
  return true;
}

bool loadRasterReport(Tcl_Interp *interp, RAMIMG *image, int bands, Raster *r) {
  if (loadRaster(image, bands, r)) return true;
  Tcl_SetResult(interp, const_cast<char *>("Error in malloc"), TCL_STATIC);
  return false;
}

int loadSources(Tcl_Interp *interp, const Images *im, Raster *s, Raster *dem) {
  const int bands = std::min(im->src->header.nbands, im->des->header.nbands);
  if (!loadRasterReport(interp, im->src, bands, s) ||
      (dem && im->dem && !loadRasterReport(interp, im->dem, 1, dem)))
    return -1;
  return bands;
}

/* Bilinear mean at (u, v), inside the raster; neighbours held to the last row and column. */
float bilinear(const Raster &r, int band, double u, double v) {
  const int a = static_cast<int>(floor(u)), b = static_cast<int>(floor(v));
  const int a1 = std::min(a + 1, r.columns - 1), b1 = std::min(b + 1, r.rows - 1);
  const double fu = u - a, fv = v - b;
  return static_cast<float>((1 - fu) * (1 - fv) * r.at(band, b, a) + (1 - fu) * fv * r.at(band, b1, a) +
                            fu * (1 - fv) * r.at(band, b, a1) + fu * fv * r.at(band, b1, a1));
}

void acquireRow(const Camera *c, double j, const Raster &s, const ImageHeader &sh, int band,
                int resamplemode, float *line, int columns) {
  for (int i = 0; i < columns; i++) {
    double X, Y;
    line[i] = 0;
    if (!mapxy(c, i, j, &X, &Y)) continue;
    const double u = (X - sh.x0) / sh.dx, v = (sh.y0 - Y) / sh.dy;
    if (!(u >= 0 && u < sh.columns && v >= 0 && v < sh.rows)) continue;
    line[i] = resamplemode == 0 ? s.at(band, static_cast<int>(v), static_cast<int>(u))
                                : bilinear(s, band, u, v);
  }
}

/* Writes one pixel's bands to the fillfactor block from (i, j), clipped. */
void paintBlock(RAMIMG *des, int i, int j, int fill, const float *values, int bands) {
  const int rows = des->header.rows, columns = des->header.columns;
  fill = std::max(fill, 1);
  const int right = static_cast<int>(std::min<long long>(columns, static_cast<long long>(i) + fill));
  const int bottom = static_cast<int>(std::min<long long>(rows, static_cast<long long>(j) + fill));
  if (right <= i) return;
  std::vector<float> run(right - i);
  for (int b = 0; b < bands; b++) {
    std::fill(run.begin(), run.end(), values[b]);
    for (int row = j; row < bottom; row++) putFloatBILData(des, row, i, right - i, b, run.data());
  }
}

bool openNamed(Tcl_Interp *interp, const char *name, RAMIMG **out) {
  int err = 0;
  *out = openRAMImage(name, name, nullptr, nullptr, &err);
  if (!*out) {
    Tcl_AppendResult(interp, "Error in open ", name, nullptr);
    return false;
  }
  return true;
}

bool sameGrid(const ImageHeader &a, const ImageHeader &b) {
  return a.rows == b.rows && a.columns == b.columns && a.x0 == b.x0 && a.y0 == b.y0 &&
         a.dx == b.dx && a.dy == b.dy && a.mapid == b.mapid;
}

namespace {

/* The camera's parameters as the note of an acquired picture. */
void writeNote(const Camera *c, RAMIMG *des) {
  const char *mapid = getMapidName(c->mapid);
  char note[1024];
  snprintf(note, sizeof note,
           "-lat %.16g -lon %.16g -mapid %s -x %.4g -y %.4g -z %.4g -xc %d -yc %d -f %.4g "
           "-dx %.6g -dy %.6g -ax %.6g -ay %.6g -az %.6g -axoffset %.6g -ayoffset %.6g "
           "-azoffset %.6g",
           c->lat, c->lon, mapid ? mapid : "", c->x, c->y, c->z, roundToInt(c->xc),
           roundToInt(c->yc), c->f, c->dx, c->dy, c->ax, c->ay, c->az, c->axoffset, c->ayoffset,
           c->azoffset);
  /* cut to what the note holds */
  const size_t room = sizeof des->header.note - 1;
  const size_t length = std::min(strlen(note), room);
  memcpy(des->header.note, note, length);
  des->header.note[length] = 0;
}

}  // namespace

/* acquire: the picture the camera takes of a map image, with or without a DEM. */
int acquire(const Camera *c, Tcl_Interp *interp, Images *im) {
  RAMIMG *src = im->src, *des = im->des;
  Raster s;
  const int bands = loadSources(interp, im, &s, nullptr);
  if (bands < 0) return TCL_ERROR;
  const ImageHeader &sh = src->header;
  const int rows = des->header.rows, columns = des->header.columns;
  std::vector<float> values(std::max(bands, 1));
  if (!im->dem) {
    CameraMeter meter{"Camera acquire", des, c->update};
    std::vector<float> line(columns);
    for (int j = 0; j < rows; j++) {
      for (int b = 0; b < bands; b++) {
        acquireRow(c, j, s, sh, b, c->resamplemode, line.data(), columns);
        putFloatBILData(des, j, 0, columns, b, line.data());
      }
      meter.row(j + 1, rows);
    }
    writeNote(c, des);
    meter.finish(bands);
    return TCL_OK;
  }
  Raster dem;
  if (!loadRasterReport(interp, im->dem, 1, &dem)) return TCL_ERROR;
  std::vector<float> height(static_cast<size_t>(rows) * columns, -3.4028235e38f);
  CameraMeter meter{"Camera takeimage", des, c->update};
  for (int l = 0; l < sh.rows; l++) {
    for (int k = 0; k < sh.columns; k++) {
      const double X = sh.x0 + k * sh.dx, Y = sh.y0 - l * sh.dy, Z = dem.at(0, l, k);
      double u, v;
      int i, j;
      if (!imagexy(c, X, Y, Z, &u, &v) || !pixelIndex(u, columns, &i) || !pixelIndex(v, rows, &j))
        continue;
      float &top = height[static_cast<size_t>(j) * columns + i];
      if (!(Z > top)) continue;
      top = static_cast<float>(Z);
      for (int b = 0; b < bands; b++) values[b] = s.at(b, l, k);
      paintBlock(des, i, j, c->fillfactor, values.data(), bands);
    }
    meter.row(l + 1, sh.rows);
  }
  meter.finish(bands);
  return TCL_OK;
}

/* rectify: a camera picture resampled onto a map image. */
int rectify(const Camera *c, Tcl_Interp *interp, Images *im) {
  RAMIMG *des = im->des;
  Raster s, dem;
  const int bands = loadSources(interp, im, &s, &dem);
  if (bands < 0) return TCL_ERROR;
  const ImageHeader &dh = des->header;
  double box[4];
  bbox(c, box);
  CameraMeter meter{"Camera rectify", des, c->update};
  std::vector<float> line(dh.columns);
  for (int l = 0; l < dh.rows; l++) {
    for (int b = 0; b < bands; b++) {
      for (int k = 0; k < dh.columns; k++) {
        const double X = dh.x0 + k * dh.dx, Y = dh.y0 - l * dh.dy;
        line[k] = 0;
        if (!(X >= box[0] && X <= box[2] && Y >= box[1] && Y <= box[3])) continue;
        const double Z = im->dem ? dem.at(0, l, k) : 0;
        double u, v;
        if (!imagexy(c, X, Y, Z, &u, &v)) continue;
        if (!(u >= 0 && u < s.columns && v >= 0 && v < s.rows)) continue;
        if (c->resamplemode == 0)
          line[k] = s.at(b, std::min(roundToInt(v), s.rows - 1), std::min(roundToInt(u), s.columns - 1));
        else
          line[k] = bilinear(s, b, u, v);
      }
      putFloatBILData(des, l, 0, dh.columns, b, line.data());
    }
    meter.row(l + 1, dh.rows);
  }
  meter.finish(bands);
  return TCL_OK;
}

/* normalize: the picture projected onto a map image at Z = 0. */
int normalize(const Camera *c, Tcl_Interp *interp, Images *im) {
  RAMIMG *des = im->des;
  Raster s;
  const int bands = loadSources(interp, im, &s, nullptr);
  if (bands < 0) return TCL_ERROR;
  const ImageHeader &dh = des->header;
  std::vector<float> values(std::max(bands, 1));
  auto target = [&](double X, double Y, int *k, int *l) {
    return pixelIndex((X - dh.x0) / dh.dx, dh.columns, k) &&
           pixelIndex((dh.y0 - Y) / dh.dy, dh.rows, l);
  };
  if (c->resamplemode == 0) {
    CameraMeter meter{"Camera normalize", des, c->update};
    for (int j = 0; j < s.rows; j++) {
      for (int i = 0; i < s.columns; i++) {
        double X, Y;
        int k, l;
        if (!mapxy(c, i, j, &X, &Y) || !target(X, Y, &k, &l)) continue;
        for (int b = 0; b < bands; b++) values[b] = s.at(b, j, i);
        paintBlock(des, k, l, c->fillfactor, values.data(), bands);
      }
      meter.row(j + 1, s.rows);
    }
    meter.finish(bands);
    return TCL_OK;
  }
  const double radius = fabs(c->neighborhood * sqrt(pow(c->dx * c->z / c->f, 2) +
                                                     pow(c->dy * c->z / c->f, 2)));
  weightedNormalize(s, des, s.rows, radius, c->fillfactor, bands, "Camera advanced normalization",
                    c->update, [c](int i, int j, double *X, double *Y) { mapxy(c, i, j, X, Y); });
  return TCL_OK;
}

}  // namespace cam
}  // namespace vesk
