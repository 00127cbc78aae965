/*
 * camera.cpp --
 *     The frame camera: a pinhole sensor above the ground level Z = 0
 *     with a focal length, a pixel grid, a principal point and an
 *     attitude.  "camera.create" makes one; its instance command converts
 *     between picture pixels and map positions and transfers images
 *     between the picture grid and map images.  "pushbroom.create" makes
 *     a line scanner: the same optics with one attitude per scan line.
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
#include "geometry/camera.h"
#include "geometry/attitude.h"
#include "raster/bandstats.h"
#include "raster/imghead.h"
#include "raster/pixels.h"
#include "raster/ramimg.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

struct Camera {
  double f, dx, dy, xc, yc;
  double axoffset, ayoffset, azoffset;
  double ax, ay, az;
  double x, y, z;
  double R[9];
  AxisTrig trig;
  double lat, lon;
  int rotationid;
  int mapid;
  int update;
  int resamplemode;
  int fillfactor;
  double neighborhood;
  Tcl_Command command;
};

#define CAMERA_FIELD(field) static_cast<int>(offsetof(Camera, field))
Tk_ConfigSpec cameraSpecs[] = {
    {TK_CONFIG_DOUBLE, "-f", nullptr, nullptr, "12", CAMERA_FIELD(f), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dx", nullptr, nullptr, "0.0068", CAMERA_FIELD(dx), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dy", nullptr, nullptr, "0.0068", CAMERA_FIELD(dy), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-xc", nullptr, nullptr, "639.5", CAMERA_FIELD(xc), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-yc", nullptr, nullptr, "511.5", CAMERA_FIELD(yc), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-axoffset", nullptr, nullptr, "0.0", CAMERA_FIELD(axoffset), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-ayoffset", nullptr, nullptr, "0.0", CAMERA_FIELD(ayoffset), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-azoffset", nullptr, nullptr, "0.0", CAMERA_FIELD(azoffset), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-ax", nullptr, nullptr, "0.0", CAMERA_FIELD(ax), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-ay", nullptr, nullptr, "0.0", CAMERA_FIELD(ay), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-az", nullptr, nullptr, "0.0", CAMERA_FIELD(az), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-x", nullptr, nullptr, "0.0", CAMERA_FIELD(x), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-y", nullptr, nullptr, "0.0", CAMERA_FIELD(y), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-z", nullptr, nullptr, "1000.0", CAMERA_FIELD(z), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-lat", nullptr, nullptr, "-121.0", CAMERA_FIELD(lat), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-lon", nullptr, nullptr, "37.5", CAMERA_FIELD(lon), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-rotationid", nullptr, nullptr, "ZXY", CAMERA_FIELD(rotationid), 0,
     &rotationidOption},
    {TK_CONFIG_CUSTOM, "-mapid", nullptr, nullptr, "GRID", CAMERA_FIELD(mapid), 0, &mapidOption},
    {TK_CONFIG_INT, "-update", nullptr, nullptr, "0", CAMERA_FIELD(update), 0, nullptr},
    {TK_CONFIG_INT, "-resamplemode", nullptr, nullptr, "1", CAMERA_FIELD(resamplemode), 0,
     nullptr},
    {TK_CONFIG_INT, "-fillfactor", nullptr, nullptr, "2", CAMERA_FIELD(fillfactor), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-neighborhood", nullptr, nullptr, "0.75", CAMERA_FIELD(neighborhood), 0,
     nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

constexpr double kDegToRad = M_PI * 0.005555555555555556;

void setAxis(double angle, double offset, double *s, double *c) {
  *s = sin((angle + offset) * kDegToRad);
  *c = cos((angle + offset) * kDegToRad);
}

/* ---- the projection equations ---- */

/* Picture (i, j) to the ground Z = 0; false when the ray misses the ground. */
bool mapxy(const Camera *c, double i, double j, double *X, double *Y) {
  const double p[3] = {(i - c->xc) * c->dx, (c->yc - j) * c->dy, -c->f};
  const double *R = c->R;
  const double g[3] = {R[0] * p[0] + R[3] * p[1] + R[6] * p[2],
                       R[1] * p[0] + R[4] * p[1] + R[7] * p[2],
                       R[2] * p[0] + R[5] * p[1] + R[8] * p[2]};
  *X = c->x - c->z * g[0] / g[2];
  *Y = c->y - c->z * g[1] / g[2];
  return std::isfinite(*X) && std::isfinite(*Y);
}

/* Ground (X, Y, Z) to the picture; false for a point at the camera's height. */
bool imagexy(const Camera *c, double X, double Y, double Z, double *i, double *j) {
  const double h = c->z - Z;
  const double q[3] = {(X - c->x) * c->f / h, (Y - c->y) * c->f / h, -c->f};
  const double *R = c->R;
  const double v[3] = {R[0] * q[0] + R[1] * q[1] + R[2] * q[2],
                       R[3] * q[0] + R[4] * q[1] + R[5] * q[2],
                       R[6] * q[0] + R[7] * q[1] + R[8] * q[2]};
  *i = c->xc - c->f * v[0] / v[2] / c->dx;
  *j = c->yc + c->f * v[1] / v[2] / c->dy;
  return std::isfinite(*i) && std::isfinite(*j);
}

void normxy(const Camera *c, double i, double j, double *oi, double *oj) {
  const double p[3] = {(i - c->xc) * c->dx, (c->yc - j) * c->dy, -c->f};
  const double *R = c->R;
  const double g[3] = {R[0] * p[0] + R[3] * p[1] + R[6] * p[2],
                       R[1] * p[0] + R[4] * p[1] + R[7] * p[2],
                       R[2] * p[0] + R[5] * p[1] + R[8] * p[2]};
  *oi = c->xc - c->f * g[0] / g[2] / c->dx;
  *oj = c->yc + c->f * g[1] / g[2] / c->dy;
}

/* The ground box of the frame's corners: least X, least Y, greatest X, greatest Y. */
void bbox(const Camera *c, double *box) {
  const double W = roundToInt(2 * c->xc), H = roundToInt(2 * c->yc);
  const double corners[4][2] = {{0, 0}, {W, 0}, {0, H}, {W, H}};
  box[0] = box[1] = HUGE_VAL;
  box[2] = box[3] = -HUGE_VAL;
  for (const auto &p : corners) {
    double X, Y;
    mapxy(c, p[0], p[1], &X, &Y);
    box[0] = std::min(box[0], X);
    box[1] = std::min(box[1], Y);
    box[2] = std::max(box[2], X);
    box[3] = std::max(box[3], Y);
  }
}

/* A position as a pixel index when it rounds inside [0, size). */
bool pixelIndex(double value, int size, int *out) {
  if (!(value > -0.5 && value < size - 0.5)) return false;
  *out = roundToInt(value);
  return *out >= 0 && *out < size;
}

/* ---- images ---- */

/* The bands of an image held as floats, band after band. */
struct Raster {
  int rows = 0, columns = 0, bands = 0;
  std::vector<float> v;
  float at(int band, int row, int column) const {
    return v[(static_cast<size_t>(band) * rows + row) * columns + column];
  }
};

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

/* Bilinear mean at (u, v), inside the raster; neighbours held to the last row and column. */
float bilinear(const Raster &r, int band, double u, double v) {
  const int a = static_cast<int>(floor(u)), b = static_cast<int>(floor(v));
  const int a1 = std::min(a + 1, r.columns - 1), b1 = std::min(b + 1, r.rows - 1);
  const double fu = u - a, fv = v - b;
  return static_cast<float>((1 - fu) * (1 - fv) * r.at(band, b, a) + (1 - fu) * fv * r.at(band, b1, a) +
                            fu * (1 - fv) * r.at(band, b, a1) + fu * fv * r.at(band, b1, a1));
}

/* The progress of a procedure over rows; displays told when update is set. */
struct CameraMeter {
  const char *text;
  RAMIMG *des;
  int update;
  float threshold = 0;
  void row(int done, int total) {
    if (static_cast<float>(done) / static_cast<float>(total) >= threshold) {
      meterSet(text, threshold);
      threshold += meterInc();
      if (update) updateClient(des, nullptr, 2);
    }
  }
  void finish(int bands) {
    meterSet(text, 1.0f);
    if (update) {
      for (int b = 0; b < bands && des->hist; b++) resetHist(&des->hist[b]);
      updateClient(des, nullptr, 2);
    }
    meterReset();
  }
};

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

struct Images {
  RAMIMG *src = nullptr, *des = nullptr, *dem = nullptr;
  ~Images() {
    if (dem) closeRAMImage(dem, nullptr);
    if (des) closeRAMImage(des, nullptr);
    if (src) closeRAMImage(src, nullptr);
  }
};

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

/* acquire: the picture the camera takes of a map image, with or without a DEM. */
int acquire(const Camera *c, Tcl_Interp *interp, Images *im) {
  RAMIMG *src = im->src, *des = im->des;
  const int bands = std::min(src->header.nbands, des->header.nbands);
  Raster s;
  if (!loadRaster(src, bands, &s)) {
    Tcl_SetResult(interp, const_cast<char *>("Error in malloc"), TCL_STATIC);
    return TCL_ERROR;
  }
  const ImageHeader &sh = src->header;
  const int rows = des->header.rows, columns = des->header.columns;
  std::vector<float> values(std::max(bands, 1));
  if (!im->dem) {
    CameraMeter meter{"Camera acquire", des, c->update};
    std::vector<float> line(columns);
    for (int j = 0; j < rows; j++) {
      for (int b = 0; b < bands; b++) {
        for (int i = 0; i < columns; i++) {
          double X, Y;
          line[i] = 0;
          if (!mapxy(c, i, j, &X, &Y)) continue;
          const double u = (X - sh.x0) / sh.dx, v = (sh.y0 - Y) / sh.dy;
          if (!(u >= 0 && u < sh.columns && v >= 0 && v < sh.rows)) continue;
          line[i] = c->resamplemode == 0 ? s.at(b, static_cast<int>(v), static_cast<int>(u))
                                         : bilinear(s, b, u, v);
        }
        putFloatBILData(des, j, 0, columns, b, line.data());
      }
      meter.row(j + 1, rows);
    }
    writeNote(c, des);
    meter.finish(bands);
    return TCL_OK;
  }
  Raster dem;
  if (!loadRaster(im->dem, 1, &dem)) {
    Tcl_SetResult(interp, const_cast<char *>("Error in malloc"), TCL_STATIC);
    return TCL_ERROR;
  }
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
  RAMIMG *src = im->src, *des = im->des;
  const int bands = std::min(src->header.nbands, des->header.nbands);
  Raster s, dem;
  if (!loadRaster(src, bands, &s) || (im->dem && !loadRaster(im->dem, 1, &dem))) {
    Tcl_SetResult(interp, const_cast<char *>("Error in malloc"), TCL_STATIC);
    return TCL_ERROR;
  }
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

/*
 * weightedNormalize --
 *     The distance-weighted forward projection of picture rows 0 .. rows
 *     - 1: each pixel goes to the map pixel under its ground point, with
 *     the mean of the neighbours whose ground points lie within the
 *     radius of that pixel's position, the nearer weighing more.
 */
template <typename Ground>
void weightedNormalize(const Raster &s, RAMIMG *des, int rows, double radius, int fillfactor,
                       int bands, const char *text, int update, Ground ground) {
  const ImageHeader &dh = des->header;
  std::vector<float> values(std::max(bands, 1));
  const int n = s.columns + 2;
  std::vector<double> g[3];
  for (auto &v : g) v.assign(2 * static_cast<size_t>(n), NAN);
  auto fill = [&](std::vector<double> &v, int j) {
    for (int i = -1; i <= s.columns; i++) ground(i, j, &v[2 * (i + 1)], &v[2 * (i + 1) + 1]);
  };
  fill(g[0], 0);
  g[1] = g[0];
  CameraMeter meter{text, des, update};
  for (int j = 0; j < rows; j++) {
    fill(g[2], j + 1 < rows ? j + 1 : j);
    for (int i = 0; i < s.columns; i++) {
      const double px = g[1][2 * (i + 1)], py = g[1][2 * (i + 1) + 1];
      int k, l;
      if (!pixelIndex((px - dh.x0) / dh.dx, dh.columns, &k) ||
          !pixelIndex((dh.y0 - py) / dh.dy, dh.rows, &l))
        continue;
      const double mx = dh.x0 + k * dh.dx, my = dh.y0 - l * dh.dy;
      double dist[9];
      int rowOf[9], colOf[9];
      double S = 0;
      int count = 0;
      for (int a = 0; a < 3; a++)
        for (int b = 0; b < 3; b++) {
          const int m = 3 * a + b;
          dist[m] = hypot(g[a][2 * (i + b)] - mx, g[a][2 * (i + b) + 1] - my);
          int row = j + a - 1, col = i + b - 1;
          if (row < 0) row = 0;
          if (row >= rows) row = j;
          if (col < 0) col = 0;
          if (col >= s.columns) col = i;
          rowOf[m] = row;
          colOf[m] = col;
          if (dist[m] <= radius) {
            S += dist[m];
            count++;
          }
        }
      for (int bnd = 0; bnd < bands; bnd++) {
        if (count < 2) {
          values[bnd] = s.at(bnd, j, i);
          continue;
        }
        double v = 0;
        for (int m = 0; m < 9; m++) {
          if (!(dist[m] <= radius)) continue;
          /* all neighbours on the pixel's own position: equal weights */
          const double w = S > 0 ? (S - dist[m]) / (S * (count - 1)) : 1.0 / count;
          v += w * s.at(bnd, rowOf[m], colOf[m]);
        }
        values[bnd] = static_cast<float>(v);
      }
      paintBlock(des, k, l, fillfactor, values.data(), bands);
    }
    g[0].swap(g[1]);
    g[1].swap(g[2]);
    meter.row(j + 1, rows);
  }
  meter.finish(bands);
}

/* normalize: the picture projected onto a map image at Z = 0. */
int normalize(const Camera *c, Tcl_Interp *interp, Images *im) {
  RAMIMG *src = im->src, *des = im->des;
  const int bands = std::min(src->header.nbands, des->header.nbands);
  Raster s;
  if (!loadRaster(src, bands, &s)) {
    Tcl_SetResult(interp, const_cast<char *>("Error in malloc"), TCL_STATIC);
    return TCL_ERROR;
  }
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

/* ---- the instance command ---- */

const char *const subcommands[] = {"acquire", "bbox",     "config",    "cget",
                                   "class",   "destroy",  "imagexy",   "mapxy",
                                   "normxy",  "normalize", "quaternion", "rectify",
                                   "rotationmatrix", "viewpoint"};

int usage(Tcl_Interp *interp, const char *name, const char *tail) {
  Tcl_AppendResult(interp, "Usage: ", name, tail, nullptr);
  return TCL_ERROR;
}

void rebuild(Camera *c) {
  setAxis(c->ax, c->axoffset, &c->trig.sinX, &c->trig.cosX);
  setAxis(c->ay, c->ayoffset, &c->trig.sinY, &c->trig.cosY);
  setAxis(c->az, c->azoffset, &c->trig.sinZ, &c->trig.cosZ);
  buildRotationMatrix(c->rotationid, c->trig, c->R);
}

void setPair(Tcl_Interp *interp, double a, double b) {
  char text[64];
  snprintf(text, sizeof text, "%.16g %.16g", a, b);
  Tcl_SetResult(interp, text, TCL_VOLATILE);
}

int imageSubcommand(Camera *c, Tcl_Interp *interp, int which, int argc, const char **argv) {
  Images im;
  if (!openNamed(interp, argv[2], &im.src) || !openNamed(interp, argv[3], &im.des)) return TCL_ERROR;
  if (which != 9 && argc == 5) {
    if (!openNamed(interp, argv[4], &im.dem)) return TCL_ERROR;
    if (which == 0 && !sameGrid(im.dem->header, im.src->header)) {
      Tcl_SetResult(interp, const_cast<char *>("Inconsistent DEM and source images"), TCL_STATIC);
      return TCL_ERROR;
    }
    if (which == 11 && !sameGrid(im.dem->header, im.des->header)) {
      Tcl_SetResult(interp, const_cast<char *>("Inconsistent DEM and destination images"),
                    TCL_STATIC);
      return TCL_ERROR;
    }
  }
  const int code = which == 0 ? acquire(c, interp, &im)
                   : which == 11 ? rectify(c, interp, &im)
                                 : normalize(c, interp, &im);
  /* the meter's scripts may leave their own result behind */
  if (code == TCL_OK) Tcl_ResetResult(interp);
  return code;
}

int cameraCmd(ClientData data, Tcl_Interp *interp, int argc, const char **argv) {
  Camera *c = static_cast<Camera *>(data);
  const char *name = argv[0];
  int which = -1;
  if (argc >= 2 && strlen(argv[1]) >= 3) {
    for (int k = 0; k < 14 && which < 0; k++)
      if (strncmp(subcommands[k], argv[1], strlen(argv[1])) == 0) which = k;
  }
  if (which < 0)
    return usage(interp, name,
                 " [acquire bbox cget class config destroy imagexy mapxy normalize normxy "
                 "quaternion rectify rotationmatrix viewpoint]");
  Tk_Window main = Tk_MainWindow(interp);
  char text[160];
  switch (which) {
    case 0:  /* acquire */
    case 11: /* rectify */
      if (argc != 4 && argc != 5)
        return usage(interp, name, which == 0 ? " acquire src des [dem]" : " rectify src des [dem]");
      return imageSubcommand(c, interp, which, argc, argv);
    case 9:  /* normalize */
      if (argc != 4) return usage(interp, name, " normalize src des");
      return imageSubcommand(c, interp, which, argc, argv);
    case 1: {
      double box[4];
      bbox(c, box);
      snprintf(text, sizeof text, "%.16g %.16g %.16g %.16g", box[0], box[1], box[2], box[3]);
      Tcl_SetResult(interp, text, TCL_VOLATILE);
      return TCL_OK;
    }
    case 2: {  /* config */
      if (argc == 2)
        return Tk_ConfigureInfo(interp, main, cameraSpecs, reinterpret_cast<char *>(c), nullptr, 0);
      if (argc == 3)
        return Tk_ConfigureInfo(interp, main, cameraSpecs, reinterpret_cast<char *>(c), argv[2], 0);
      const double before[7] = {c->ax, c->ay, c->az, c->axoffset, c->ayoffset, c->azoffset,
                                static_cast<double>(c->rotationid)};
      if (Tk_ConfigureWidget(interp, main, cameraSpecs, argc - 2, argv + 2,
                             reinterpret_cast<char *>(c), TK_CONFIG_ARGV_ONLY) != TCL_OK)
        return TCL_ERROR;
      bool changed = false;
      if (c->ax != before[0] || c->axoffset != before[3]) {
        setAxis(c->ax, c->axoffset, &c->trig.sinX, &c->trig.cosX);
        changed = true;
      }
      if (c->ay != before[1] || c->ayoffset != before[4]) {
        setAxis(c->ay, c->ayoffset, &c->trig.sinY, &c->trig.cosY);
        changed = true;
      }
      if (c->az != before[2] || c->azoffset != before[5]) {
        setAxis(c->az, c->azoffset, &c->trig.sinZ, &c->trig.cosZ);
        changed = true;
      }
      if (changed || c->rotationid != before[6]) buildRotationMatrix(c->rotationid, c->trig, c->R);
      return TCL_OK;
    }
    case 3:
      if (argc != 3) return usage(interp, name, " cget -option");
      return Tk_ConfigureValue(interp, main, cameraSpecs, reinterpret_cast<char *>(c), argv[2], 0);
    case 4:
      Tcl_SetResult(interp, const_cast<char *>("Camera"), TCL_STATIC);
      return TCL_OK;
    case 5:
      Tcl_DeleteCommandFromToken(interp, c->command);
      return TCL_OK;
    case 6: {
      if (argc != 4 && argc != 5) return usage(interp, name, " imagexy mapx mapy [mapz]");
      double i, j;
      imagexy(c, atof(argv[2]), atof(argv[3]), argc == 5 ? atof(argv[4]) : 0, &i, &j);
      setPair(interp, i, j);
      return TCL_OK;
    }
    case 7: {
      if (argc != 4) return usage(interp, name, " mapxy ix iy");
      double X, Y;
      mapxy(c, atof(argv[2]), atof(argv[3]), &X, &Y);
      setPair(interp, X, Y);
      return TCL_OK;
    }
    case 8: {
      if (argc != 4) return usage(interp, name, " normxy imgx imgy");
      double i, j;
      normxy(c, atof(argv[2]), atof(argv[3]), &i, &j);
      setPair(interp, i, j);
      return TCL_OK;
    }
    case 10: {  /* quaternion */
      if (argc == 2) {
        double q[4];
        quaternionFromMatrix(c->R, q);
        snprintf(text, sizeof text, "%.16g %.16g %.16g %.16g", q[0], q[1], q[2], q[3]);
        Tcl_SetResult(interp, text, TCL_VOLATILE);
        return TCL_OK;
      }
      double q[4];
      if (sscanf(argv[2], "%lf %lf %lf %lf", &q[0], &q[1], &q[2], &q[3]) != 4) {
        Tcl_SetResult(interp, const_cast<char *>("Error in parsing quaternion"), TCL_STATIC);
        return TCL_ERROR;
      }
      matrixFromQuaternion(q, c->R);
      const double offsets[3] = {c->axoffset, c->ayoffset, c->azoffset};
      double angles[3] = {c->ax, c->ay, c->az};
      anglesFromMatrix(c->rotationid, c->R, offsets, angles);
      c->ax = angles[0], c->ay = angles[1], c->az = angles[2];
      return TCL_OK;
    }
    case 12:
      for (double v : c->R) {
        snprintf(text, sizeof text, "%.16g", v);
        Tcl_AppendElement(interp, text);
      }
      return TCL_OK;
    default: {  /* viewpoint */
      if (argc == 2) {
        double d[3];
        viewDirection(c->R, d);
        snprintf(text, sizeof text, "%g %g %g", d[0], d[1], d[2]);
        Tcl_SetResult(interp, text, TCL_VOLATILE);
        return TCL_OK;
      }
      if (argc != 3) return usage(interp, name, " viewpoint [{x y z}]");
      double p[3];
      if (sscanf(argv[2], "%lf %lf %lf", &p[0], &p[1], &p[2]) != 3) {
        Tcl_SetResult(interp, const_cast<char *>("Error in parsing view point"), TCL_STATIC);
        return TCL_ERROR;
      }
      const double centre[3] = {c->x, c->y, c->z};
      if (aimAtPoint(p, centre, c->R)) {
        const double offsets[3] = {c->axoffset, c->ayoffset, c->azoffset};
        double angles[3] = {c->ax, c->ay, c->az};
        anglesFromMatrix(c->rotationid, c->R, offsets, angles);
        c->ax = angles[0], c->ay = angles[1], c->az = angles[2];
      }
      return TCL_OK;
    }
  }
}

void cameraDeleted(ClientData data) {
  Camera *c = static_cast<Camera *>(data);
  Tk_FreeOptions(cameraSpecs, reinterpret_cast<char *>(c), nullptr, 0);
  delete c;
}

/* "camera.create name ?options?" */
int cameraCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) return usage(interp, argv[0], " name ?options?");
  Camera *c = new Camera();
  const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  memcpy(c->R, identity, sizeof identity);
  if (Tk_ConfigureWidget(interp, Tk_MainWindow(interp), cameraSpecs, argc - 2, argv + 2,
                         reinterpret_cast<char *>(c), 0) != TCL_OK) {
    delete c;
    return TCL_ERROR;
  }
  rebuild(c);
  c->command = Tcl_CreateCommand(interp, argv[1], cameraCmd, c, cameraDeleted);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* ---- the pushbroom scanner ---- */

/* The attitude and projection centre of one scan line. */
struct ScanLine {
  double ax, ay, az, x, y, z;
};

struct Pushbroom {
  double f, dx, dy, xc, yc;
  double axoffset, ayoffset, azoffset;
  ScanLine *lines;
  double *matrices;
  double lat, lon;
  int nscanlines;
  int rotationid;
  int mapid;
  int update;
  int resamplemode;
  int fillfactor;
  double neighborhood;
  Tcl_Command command;
};

#define PB_FIELD(field) static_cast<int>(offsetof(Pushbroom, field))
Tk_ConfigSpec pushbroomSpecs[] = {
    {TK_CONFIG_DOUBLE, "-f", nullptr, nullptr, "12", PB_FIELD(f), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dx", nullptr, nullptr, "0.0068", PB_FIELD(dx), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dy", nullptr, nullptr, "0.0068", PB_FIELD(dy), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-xc", nullptr, nullptr, "639.5", PB_FIELD(xc), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-yc", nullptr, nullptr, "511.5", PB_FIELD(yc), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-axoffset", nullptr, nullptr, "0.0", PB_FIELD(axoffset), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-ayoffset", nullptr, nullptr, "0.0", PB_FIELD(ayoffset), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-azoffset", nullptr, nullptr, "0.0", PB_FIELD(azoffset), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-lat", nullptr, nullptr, "-121.0", PB_FIELD(lat), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-lon", nullptr, nullptr, "37.5", PB_FIELD(lon), 0, nullptr},
    {TK_CONFIG_INT, "-nscanlines", nullptr, nullptr, "0", PB_FIELD(nscanlines), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-rotationid", nullptr, nullptr, "ZXY", PB_FIELD(rotationid), 0,
     &rotationidOption},
    {TK_CONFIG_CUSTOM, "-mapid", nullptr, nullptr, "GRID", PB_FIELD(mapid), 0, &mapidOption},
    {TK_CONFIG_INT, "-update", nullptr, nullptr, "0", PB_FIELD(update), 0, nullptr},
    {TK_CONFIG_INT, "-resamplemode", nullptr, nullptr, "1", PB_FIELD(resamplemode), 0, nullptr},
    {TK_CONFIG_INT, "-fillfactor", nullptr, nullptr, "2", PB_FIELD(fillfactor), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-neighborhood", nullptr, nullptr, "0.75", PB_FIELD(neighborhood), 0,
     nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

void freeScanLines(Pushbroom *p) {
  delete[] p->lines;
  delete[] p->matrices;
  p->lines = nullptr;
  p->matrices = nullptr;
}

/*
 * allocScanLines --
 *     New line arrays for nscanlines lines: records zeroed and matrices
 *     the identity, so that lines never set read as a camera at the
 *     origin looking down.  Results: 1; 0 with nscanlines set to 0.
 */
int allocScanLines(Pushbroom *p) {
  freeScanLines(p);
  if (p->nscanlines <= 0) {
    p->nscanlines = 0;
    return 0;
  }
  try {
    p->lines = new ScanLine[p->nscanlines]();
    p->matrices = new double[9 * static_cast<size_t>(p->nscanlines)]();
  } catch (const std::bad_alloc &) {
    freeScanLines(p);
    p->nscanlines = 0;
    return 0;
  }
  for (int n = 0; n < p->nscanlines; n++)
    for (int k = 0; k < 3; k++) p->matrices[9 * n + 4 * k] = 1;
  return 1;
}

void buildLineMatrix(Pushbroom *p, int n) {
  AxisTrig t;
  const ScanLine &l = p->lines[n];
  setAxis(l.ax, p->axoffset, &t.sinX, &t.cosX);
  setAxis(l.ay, p->ayoffset, &t.sinY, &t.cosY);
  setAxis(l.az, p->azoffset, &t.sinZ, &t.cosZ);
  buildRotationMatrix(p->rotationid, t, p->matrices + 9 * n);
}

void rebuildScanLines(Pushbroom *p) {
  for (int n = 0; n < p->nscanlines; n++) buildLineMatrix(p, n);
}

/* The frame camera of line n: the scanner's optics with the line's attitude. */
Camera lineCamera(const Pushbroom *p, int n) {
  Camera c{};
  c.f = p->f, c.dx = p->dx, c.dy = p->dy, c.xc = p->xc, c.yc = p->yc;
  c.axoffset = p->axoffset, c.ayoffset = p->ayoffset, c.azoffset = p->azoffset;
  const ScanLine &l = p->lines[n];
  c.ax = l.ax, c.ay = l.ay, c.az = l.az, c.x = l.x, c.y = l.y, c.z = l.z;
  memcpy(c.R, p->matrices + 9 * n, sizeof c.R);
  c.rotationid = p->rotationid;
  c.mapid = p->mapid;
  c.update = p->update;
  c.resamplemode = p->resamplemode;
  c.fillfactor = p->fillfactor;
  c.neighborhood = p->neighborhood;
  return c;
}

void scanBbox(const Pushbroom *p, double *box) {
  box[0] = box[1] = box[2] = box[3] = 0;
  const int W = roundToInt(2 * p->xc);
  if (W < 0 || p->nscanlines <= 0) return;
  bool first = true;
  for (int n = 0; n < p->nscanlines; n++) {
    const Camera c = lineCamera(p, n);
    for (int i : {0, W}) {
      double X, Y;
      mapxy(&c, i, 0, &X, &Y);
      if (first) {
        box[0] = box[2] = X;
        box[1] = box[3] = Y;
        first = false;
      }
      box[0] = std::min(box[0], X);
      box[1] = std::min(box[1], Y);
      box[2] = std::max(box[2], X);
      box[3] = std::max(box[3], Y);
    }
  }
}

/*
 * gridsize --
 *     Across- and along-track ground sampling.  Results: 1; 0 after the
 *     message (fewer than two lines, or a line of fewer than two columns).
 */
int gridsize(const Pushbroom *p, Tcl_Interp *interp, double *across, double *along) {
  if (p->nscanlines < 2) {
    Tcl_SetResult(interp, const_cast<char *>("Need at least two scan lines"), TCL_STATIC);
    return 0;
  }
  const int W = roundToInt(2 * p->xc);
  if (W <= 1) {
    Tcl_SetResult(interp, const_cast<char *>("Need at least two columns in a scan line"),
                  TCL_STATIC);
    return 0;
  }
  double A = 0, B = 0, prev[4] = {0, 0, 0, 0};
  for (int n = 0; n < p->nscanlines; n++) {
    const Camera c = lineCamera(p, n);
    double q[4];
    mapxy(&c, 0, 0, &q[0], &q[1]);
    mapxy(&c, W, 0, &q[2], &q[3]);
    A += hypot(q[2] - q[0], q[3] - q[1]);
    if (n > 0) B += hypot(q[0] - prev[0], q[1] - prev[1]) + hypot(q[2] - prev[2], q[3] - prev[3]);
    memcpy(prev, q, sizeof q);
  }
  *across = A / ((W - 1.0) * p->nscanlines);
  *along = B / (2.0 * (p->nscanlines - 1));
  return 1;
}

void writeScanNote(const Pushbroom *p, RAMIMG *des) {
  const char *mapid = getMapidName(p->mapid);
  char note[1024];
  snprintf(note, sizeof note,
           "-lat %.16g -lon %.16g -mapid %s -xc %d -yc %d -f %.4g -dx %.6g -dy %.6g "
           "-axoffset %.6g -ayoffset %.6g -azoffset %.6g",
           p->lat, p->lon, mapid ? mapid : "", roundToInt(p->xc), roundToInt(p->yc), p->f, p->dx,
           p->dy, p->axoffset, p->ayoffset, p->azoffset);
  const size_t length = std::min(strlen(note), sizeof des->header.note - 1);
  memcpy(des->header.note, note, length);
  des->header.note[length] = 0;
}

int scanAcquire(Pushbroom *p, Tcl_Interp *interp, Images *im) {
  if (p->nscanlines <= 0) return TCL_OK;
  RAMIMG *src = im->src, *des = im->des;
  const int bands = std::min(src->header.nbands, des->header.nbands);
  Raster s;
  if (!loadRaster(src, bands, &s)) {
    Tcl_SetResult(interp, const_cast<char *>("Error in malloc"), TCL_STATIC);
    return TCL_ERROR;
  }
  const ImageHeader &sh = src->header;
  const int rows = std::min(des->header.rows, p->nscanlines), columns = des->header.columns;
  CameraMeter meter{"Pushbroom acquire", des, p->update};
  std::vector<float> line(columns);
  for (int n = 0; n < rows; n++) {
    const Camera c = lineCamera(p, n);
    for (int b = 0; b < bands; b++) {
      for (int i = 0; i < columns; i++) {
        double X, Y;
        line[i] = 0;
        if (!mapxy(&c, i, 0, &X, &Y)) continue;
        const double u = (X - sh.x0) / sh.dx, v = (sh.y0 - Y) / sh.dy;
        if (!(u >= 0 && u < sh.columns && v >= 0 && v < sh.rows)) continue;
        line[i] = p->resamplemode == 0 ? s.at(b, static_cast<int>(v), static_cast<int>(u))
                                       : bilinear(s, b, u, v);
      }
      putFloatBILData(des, n, 0, columns, b, line.data());
    }
    meter.row(n + 1, rows);
  }
  writeScanNote(p, des);
  meter.finish(bands);
  return TCL_OK;
}

int scanNormalize(Pushbroom *p, Tcl_Interp *interp, Images *im) {
  RAMIMG *src = im->src, *des = im->des;
  const int bands = std::min(src->header.nbands, des->header.nbands);
  const int rows = std::min(src->header.rows, p->nscanlines);
  if (p->resamplemode != 0 && p->nscanlines < 2) {
    vesk_fprintf(stderr,
                 "Error in pushbroomAdvancedNormalization: Need at least two scan lines.\n");
    return TCL_OK;
  }
  Raster s;
  if (!loadRaster(src, bands, &s)) {
    Tcl_SetResult(interp, const_cast<char *>("Error in malloc"), TCL_STATIC);
    return TCL_ERROR;
  }
  const ImageHeader &dh = des->header;
  if (p->resamplemode == 0) {
    std::vector<float> values(std::max(bands, 1));
    CameraMeter meter{"Pushbroom normalize", des, p->update};
    for (int n = 0; n < rows; n++) {
      const Camera c = lineCamera(p, n);
      for (int i = 0; i < s.columns; i++) {
        double X, Y;
        int k, l;
        if (!mapxy(&c, i, 0, &X, &Y) || !pixelIndex((X - dh.x0) / dh.dx, dh.columns, &k) ||
            !pixelIndex((dh.y0 - Y) / dh.dy, dh.rows, &l))
          continue;
        for (int b = 0; b < bands; b++) values[b] = s.at(b, n, i);
        paintBlock(des, k, l, p->fillfactor, values.data(), bands);
      }
      meter.row(n + 1, rows);
    }
    meter.finish(bands);
    return TCL_OK;
  }
  double across, along;
  Tcl_Interp *quiet = interp;
  if (!gridsize(p, quiet, &across, &along)) {
    Tcl_ResetResult(interp);
    across = along = 0;
  }
  const double radius = fabs(p->neighborhood * sqrt(across * across + along * along));
  weightedNormalize(s, des, rows, radius, p->fillfactor, bands,
                    "Pushbroom advanced normalization", p->update,
                    [p](int i, int j, double *X, double *Y) {
                      const Camera c = lineCamera(p, j);
                      mapxy(&c, i, 0, X, Y);
                    });
  return TCL_OK;
}

/* The row at which line n's frame sees (X, Y, Z); NaN when it cannot. */
double rowValue(const Pushbroom *p, int n, double X, double Y, double Z, double *column) {
  const Camera c = lineCamera(p, n);
  double i, j;
  if (!imagexy(&c, X, Y, Z, &i, &j)) return NAN;
  if (column) *column = i;
  return j;
}

int scanRectify(Pushbroom *p, Tcl_Interp *interp, Images *im) {
  if (p->nscanlines < 2) {
    Tcl_SetResult(interp, const_cast<char *>("Need at least two scan lines"), TCL_STATIC);
    return TCL_ERROR;
  }
  RAMIMG *src = im->src, *des = im->des;
  const int bands = std::min(src->header.nbands, des->header.nbands);
  Raster s, dem;
  if (!loadRaster(src, bands, &s) || (im->dem && !loadRaster(im->dem, 1, &dem))) {
    Tcl_SetResult(interp, const_cast<char *>("Error in malloc"), TCL_STATIC);
    return TCL_ERROR;
  }
  const ImageHeader &dh = des->header;
  double box[4];
  scanBbox(p, box);
  CameraMeter meter{p->resamplemode ? "Pushbroom bi-linear resampling"
                                    : "Pushbroom nearest neighborhood resampling",
                    des, p->update};
  std::vector<std::vector<float>> lines(bands, std::vector<float>(dh.columns));
  auto differ = [](double a, double b) { return (a < 0) != (b < 0); };
  for (int l = 0; l < dh.rows; l++) {
    for (int k = 0; k < dh.columns; k++) {
      for (int b = 0; b < bands; b++) lines[b][k] = 0;
      const double X = dh.x0 + k * dh.dx, Y = dh.y0 - l * dh.dy;
      if (!(X >= box[0] && X <= box[2] && Y >= box[1] && Y <= box[3])) continue;
      const double Z = im->dem ? dem.at(0, l, k) : 0;
      int lo = 0, hi = p->nscanlines - 1;
      double vlo = rowValue(p, lo, X, Y, Z, nullptr), vhi = rowValue(p, hi, X, Y, Z, nullptr);
      while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        const double v = rowValue(p, mid, X, Y, Z, nullptr);
        if (differ(v, vlo)) {
          hi = mid, vhi = v;
        } else if (differ(v, vhi)) {
          lo = mid, vlo = v;
        } else if (fabs(vlo) > fabs(v)) {
          lo = mid, vlo = v;
        } else if (fabs(vhi) > fabs(v)) {
          hi = mid, vhi = v;
        } else {
          break;
        }
      }
      const int near = fabs(vlo) >= fabs(vhi) ? hi : lo;
      double column = NAN;
      const double vp = rowValue(p, near, X, Y, Z, &column);
      const double S = fabs(vlo) + fabs(vhi);
      const double row = near + vp / S;
      /* a zero or non-finite S or column is outside */
      if (!(column >= 0 && column <= s.columns - 1 && row >= 0 && row <= s.rows - 1)) continue;
      for (int b = 0; b < bands; b++)
        lines[b][k] = p->resamplemode ? bilinear(s, b, column, row)
                                      : s.at(b, roundToInt(row), roundToInt(column));
    }
    for (int b = 0; b < bands; b++) putFloatBILData(des, l, 0, dh.columns, b, lines[b].data());
    meter.row(l + 1, dh.rows);
  }
  meter.finish(bands);
  return TCL_OK;
}

const char *const scanSubcommands[] = {
    "acquire", "attitude", "bbox",      "config",     "cget",    "class",
    "destroy", "gridsize", "imagexy",   "mapxy",      "normxy",  "normalize",
    "quaternion", "rectify", "rotationmatrix", "viewpoint"};

/* A line id from its text: 1 and the id, or 0 after "Invalid line id". */
int lineId(const Pushbroom *p, Tcl_Interp *interp, const char *text, int *n) {
  *n = atoi(text);
  if (*n < 0 || *n >= p->nscanlines) {
    Tcl_SetResult(interp, const_cast<char *>("Invalid line id"), TCL_STATIC);
    return 0;
  }
  return 1;
}

int pushbroomCmd(ClientData data, Tcl_Interp *interp, int argc, const char **argv) {
  Pushbroom *p = static_cast<Pushbroom *>(data);
  const char *name = argv[0];
  int which = -1;
  if (argc >= 2 && strlen(argv[1]) >= 3) {
    for (int k = 0; k < 16 && which < 0; k++)
      if (strncmp(scanSubcommands[k], argv[1], strlen(argv[1])) == 0) which = k;
  }
  if (which < 0)
    return usage(interp, name,
                 " [acquire attitude bbox cget class config destroy gridsize imagexy mapxy "
                 "normalize normxy quaternion rectify rotationmatrix viewpoint]");
  Tk_Window main = Tk_MainWindow(interp);
  char text[200];
  int n = 0;
  switch (which) {
    case 0:
    case 11: {
      if (argc != 4) return usage(interp, name, which == 0 ? " acquire src des" : " normalize src des");
      Images im;
      if (!openNamed(interp, argv[2], &im.src) || !openNamed(interp, argv[3], &im.des))
        return TCL_ERROR;
      const int code = which == 0 ? scanAcquire(p, interp, &im) : scanNormalize(p, interp, &im);
      if (code == TCL_OK) Tcl_ResetResult(interp);
      return code;
    }
    case 13: {
      if (argc != 4 && argc != 5) return usage(interp, name, " rectify src des [dem]");
      Images im;
      if (!openNamed(interp, argv[2], &im.src) || !openNamed(interp, argv[3], &im.des))
        return TCL_ERROR;
      if (argc == 5) {
        if (!openNamed(interp, argv[4], &im.dem)) return TCL_ERROR;
        if (!sameGrid(im.dem->header, im.des->header)) {
          Tcl_SetResult(interp, const_cast<char *>("Inconsistent DEM and destination images"),
                        TCL_STATIC);
          return TCL_ERROR;
        }
      }
      const int code = scanRectify(p, interp, &im);
      if (code == TCL_OK) Tcl_ResetResult(interp);
      return code;
    }
    case 1: {
      if (argc != 3 && argc != 4) return usage(interp, name, " attitude id [{Ax Ay Az x y z}]");
      if (!lineId(p, interp, argv[2], &n)) return TCL_ERROR;
      ScanLine &l = p->lines[n];
      if (argc == 3) {
        for (double v : {l.ax, l.ay, l.az, l.x, l.y, l.z}) {
          snprintf(text, sizeof text, "%.16g", v);
          Tcl_AppendElement(interp, text);
        }
        return TCL_OK;
      }
      ScanLine v;
      if (sscanf(argv[3], "%lf %lf %lf %lf %lf %lf", &v.ax, &v.ay, &v.az, &v.x, &v.y, &v.z) != 6) {
        Tcl_SetResult(interp, const_cast<char *>("Error in parsing attitude"), TCL_STATIC);
        return TCL_ERROR;
      }
      l = v;
      buildLineMatrix(p, n);
      return TCL_OK;
    }
    case 2: {
      double box[4];
      scanBbox(p, box);
      snprintf(text, sizeof text, "%.16g %.16g %.16g %.16g", box[0], box[1], box[2], box[3]);
      Tcl_SetResult(interp, text, TCL_VOLATILE);
      return TCL_OK;
    }
    case 3: {
      if (argc == 2)
        return Tk_ConfigureInfo(interp, main, pushbroomSpecs, reinterpret_cast<char *>(p), nullptr, 0);
      if (argc == 3)
        return Tk_ConfigureInfo(interp, main, pushbroomSpecs, reinterpret_cast<char *>(p), argv[2], 0);
      const int lines = p->nscanlines, order = p->rotationid;
      const double offsets[3] = {p->axoffset, p->ayoffset, p->azoffset};
      if (Tk_ConfigureWidget(interp, main, pushbroomSpecs, argc - 2, argv + 2,
                             reinterpret_cast<char *>(p), TK_CONFIG_ARGV_ONLY) != TCL_OK)
        return TCL_ERROR;
      if (p->nscanlines != lines) allocScanLines(p);
      if (p->nscanlines != lines || p->rotationid != order || p->axoffset != offsets[0] ||
          p->ayoffset != offsets[1] || p->azoffset != offsets[2])
        rebuildScanLines(p);
      return TCL_OK;
    }
    case 4:
      if (argc != 3) return usage(interp, name, " cget -option");
      return Tk_ConfigureValue(interp, main, pushbroomSpecs, reinterpret_cast<char *>(p), argv[2], 0);
    case 5:
      Tcl_SetResult(interp, const_cast<char *>("Pushbroom"), TCL_STATIC);
      return TCL_OK;
    case 6:
      Tcl_DeleteCommandFromToken(interp, p->command);
      return TCL_OK;
    case 7: {
      double across, along;
      if (!gridsize(p, interp, &across, &along)) return TCL_ERROR;
      setPair(interp, across, along);
      return TCL_OK;
    }
    case 8: {
      if (argc != 5 && argc != 6) return usage(interp, name, " imagexy id mapx mapy [mapz]");
      if (!lineId(p, interp, argv[2], &n)) return TCL_ERROR;
      const Camera c = lineCamera(p, n);
      double i, j;
      imagexy(&c, atof(argv[3]), atof(argv[4]), argc == 6 ? atof(argv[5]) : 0, &i, &j);
      setPair(interp, i, j);
      return TCL_OK;
    }
    case 9:
    case 10: {
      if (argc != 5) return usage(interp, name, which == 9 ? " mapxy id ix iy" : " normxy id imgx imgy");
      if (!lineId(p, interp, argv[2], &n)) return TCL_ERROR;
      const Camera c = lineCamera(p, n);
      double a, b;
      if (which == 9)
        mapxy(&c, atof(argv[3]), atof(argv[4]), &a, &b);
      else
        normxy(&c, atof(argv[3]), atof(argv[4]), &a, &b);
      setPair(interp, a, b);
      return TCL_OK;
    }
    case 12: {
      if (argc != 3 && argc != 4) return usage(interp, name, " quaternion id [{w x y z}]");
      if (!lineId(p, interp, argv[2], &n)) return TCL_ERROR;
      double *R = p->matrices + 9 * n;
      double q[4];
      if (argc == 3) {
        quaternionFromMatrix(R, q);
        snprintf(text, sizeof text, "%.16g %.16g %.16g %.16g", q[0], q[1], q[2], q[3]);
        Tcl_SetResult(interp, text, TCL_VOLATILE);
        return TCL_OK;
      }
      if (sscanf(argv[3], "%lf %lf %lf %lf", &q[0], &q[1], &q[2], &q[3]) != 4) {
        Tcl_SetResult(interp, const_cast<char *>("Error in parsing quaternion"), TCL_STATIC);
        return TCL_ERROR;
      }
      matrixFromQuaternion(q, R);
      const double offsets[3] = {p->axoffset, p->ayoffset, p->azoffset};
      double angles[3] = {p->lines[n].ax, p->lines[n].ay, p->lines[n].az};
      anglesFromMatrix(p->rotationid, R, offsets, angles);
      p->lines[n].ax = angles[0], p->lines[n].ay = angles[1], p->lines[n].az = angles[2];
      return TCL_OK;
    }
    case 14: {
      if (argc != 3) return usage(interp, name, " rotationmatrix id");
      if (!lineId(p, interp, argv[2], &n)) return TCL_ERROR;
      for (int k = 0; k < 9; k++) {
        snprintf(text, sizeof text, "%.16g", p->matrices[9 * n + k]);
        Tcl_AppendElement(interp, text);
      }
      return TCL_OK;
    }
    default: {
      if (argc != 3) return usage(interp, name, " viewpoint id");
      if (!lineId(p, interp, argv[2], &n)) return TCL_ERROR;
      double d[3];
      viewDirection(p->matrices + 9 * n, d);
      snprintf(text, sizeof text, "%g %g %g", d[0], d[1], d[2]);
      Tcl_SetResult(interp, text, TCL_VOLATILE);
      return TCL_OK;
    }
  }
}

void pushbroomDeleted(ClientData data) {
  Pushbroom *p = static_cast<Pushbroom *>(data);
  freeScanLines(p);
  Tk_FreeOptions(pushbroomSpecs, reinterpret_cast<char *>(p), nullptr, 0);
  delete p;
}

/* "pushbroom.create name ?options?" */
int pushbroomCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) return usage(interp, argv[0], " name ?options?");
  Pushbroom *p = new Pushbroom();
  if (Tk_ConfigureWidget(interp, Tk_MainWindow(interp), pushbroomSpecs, argc - 2, argv + 2,
                         reinterpret_cast<char *>(p), 0) != TCL_OK) {
    delete p;
    return TCL_ERROR;
  }
  if (p->nscanlines != 0) {
    allocScanLines(p);
    rebuildScanLines(p);
  }
  p->command = Tcl_CreateCommand(interp, argv[1], pushbroomCmd, p, pushbroomDeleted);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

}  // namespace

int createCameraCommand(Tcl_Interp *interp) {
  if (!Tcl_CreateCommand(interp, "camera.create", cameraCreateCmd, nullptr, nullptr)) return 1;
  return Tcl_CreateCommand(interp, "pushbroom.create", pushbroomCreateCmd, nullptr, nullptr) ? 0
                                                                                              : 1;
}

}  // namespace vesk
