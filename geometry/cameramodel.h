/*
 * cameramodel.h --
 *     Private interface of the sensor models: the frame camera record and
 *     its projection equations (camera.cpp), the image transfers between
 *     a picture grid and map images (camxfer.cpp), shared with the
 *     pushbroom scanner (pushbroom.cpp).
 */
#ifndef VESK_GEOMETRY_CAMERAMODEL_H
#define VESK_GEOMETRY_CAMERAMODEL_H

#include <math.h>
#include <algorithm>
#include <vector>
#include <tk.h>

#include "geometry/attitude.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "raster/ramimg.h"
#include "vesk/meter.h"

namespace vesk {
namespace cam {

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

constexpr double kDegToRad = M_PI * 0.005555555555555556;

inline void setAxis(double angle, double offset, double *s, double *c) {
  *s = sin((angle + offset) * kDegToRad);
  *c = cos((angle + offset) * kDegToRad);
}

/* ---- projection equations and instance-command helpers (camera.cpp) ---- */
bool mapxy(const Camera *c, double i, double j, double *X, double *Y);
bool imagexy(const Camera *c, double X, double Y, double Z, double *i, double *j);
void normxy(const Camera *c, double i, double j, double *oi, double *oj);
void bbox(const Camera *c, double *box);
bool pixelIndex(double value, int size, int *out);
int usage(Tcl_Interp *interp, const char *name, const char *tail);
void setPair(Tcl_Interp *interp, double a, double b);

/* ---- image transfers (camxfer.cpp) ---- */

/* The bands of an image held as floats, band after band. */
struct Raster {
  int rows = 0, columns = 0, bands = 0;
  std::vector<float> v;
  float at(int band, int row, int column) const {
    return v[(static_cast<size_t>(band) * rows + row) * columns + column];
  }
};

bool loadRaster(RAMIMG *image, int bands, Raster *r);
/* loadRaster, leaving "Error in malloc" as the result when it fails. */
bool loadRasterReport(Tcl_Interp *interp, RAMIMG *image, int bands, Raster *r);
struct Images;
/*
 * The source's bands (as many as source and destination share) into s
 * and, when dem is given and the images have one, the DEM's first band.
 * Results: the band count, or -1 with "Error in malloc" as the result.
 */
int loadSources(Tcl_Interp *interp, const Images *im, Raster *s, Raster *dem);
float bilinear(const Raster &r, int band, double u, double v);
/*
 * One band of one picture row j as camera c sees the map raster s (grid
 * sh): each pixel's ground point sampled nearest (resamplemode 0) or
 * bilinear, 0 off the map or where the ray misses.
 */
void acquireRow(const Camera *c, double j, const Raster &s, const ImageHeader &sh, int band,
                int resamplemode, float *line, int columns);

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

void paintBlock(RAMIMG *des, int i, int j, int fill, const float *values, int bands);

struct Images {
  RAMIMG *src = nullptr, *des = nullptr, *dem = nullptr;
  ~Images() {
    if (dem) closeRAMImage(dem, nullptr);
    if (des) closeRAMImage(des, nullptr);
    if (src) closeRAMImage(src, nullptr);
  }
};

bool openNamed(Tcl_Interp *interp, const char *name, RAMIMG **out);
bool sameGrid(const ImageHeader &a, const ImageHeader &b);
int acquire(const Camera *c, Tcl_Interp *interp, Images *im);
int rectify(const Camera *c, Tcl_Interp *interp, Images *im);
int normalize(const Camera *c, Tcl_Interp *interp, Images *im);

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

/* ---- the pushbroom scanner (pushbroom.cpp) ---- */
int pushbroomCreateCmd(ClientData data, Tcl_Interp *interp, int argc, const char **argv);

}  // namespace cam
}  // namespace vesk

#endif
