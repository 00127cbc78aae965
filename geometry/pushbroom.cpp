/*
 * pushbroom.cpp --
 *     The pushbroom scanner "pushbroom.create": the optics of the frame
 *     camera with one attitude and projection centre per scan line; its
 *     equations, its bounding box and ground sampling, and its image
 *     transfers (acquire, rectify by line search, normalize).
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
namespace {

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

/* The most scan lines a scanner may have: 120 bytes a line, 2 GiB in all. */
constexpr int kMaxScanLines = 1 << 24;

/*
 * allocScanLines --
 *     New line arrays for nscanlines lines (none for 0 or less): records
 *     zeroed and matrices the identity, so that lines never set read as a
 *     camera at the origin looking down.
 * Results:      TCL_OK; TCL_ERROR with a message when the count is over
 *     the limit or the arrays cannot be had, the old lines then kept.
 */
int allocScanLines(Tcl_Interp *interp, Pushbroom *p) {
  if (p->nscanlines <= 0) {
    freeScanLines(p);
    p->nscanlines = 0;
    return TCL_OK;
  }
  if (p->nscanlines > kMaxScanLines) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Too many scan lines: %d (at most %d)", p->nscanlines,
                                           kMaxScanLines));
    return TCL_ERROR;
  }
  const size_t n = static_cast<size_t>(p->nscanlines);
  ScanLine *lines = new (std::nothrow) ScanLine[n]();
  double *matrices = lines ? new (std::nothrow) double[9 * n]() : nullptr;
  if (!matrices) {
    delete[] lines;
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Cannot allocate %d scan lines", p->nscanlines));
    return TCL_ERROR;
  }
  freeScanLines(p);
  p->lines = lines;
  p->matrices = matrices;
  for (size_t i = 0; i < n; i++)
    for (int k = 0; k < 3; k++) p->matrices[9 * i + 4 * k] = 1;
  return TCL_OK;
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
  Raster s;
  const int bands = loadSources(interp, im, &s, nullptr);
  if (bands < 0) return TCL_ERROR;
  const ImageHeader &sh = src->header;
  const int rows = std::min(des->header.rows, p->nscanlines), columns = des->header.columns;
  CameraMeter meter{"Pushbroom acquire", des, p->update};
  std::vector<float> line(columns);
  for (int n = 0; n < rows; n++) {
    const Camera c = lineCamera(p, n);
    for (int b = 0; b < bands; b++) {
      acquireRow(&c, 0, s, sh, b, p->resamplemode, line.data(), columns);
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
  const int rows = std::min(src->header.rows, p->nscanlines);
  if (p->resamplemode != 0 && p->nscanlines < 2) {
    vesk_fprintf(stderr,
                 "Error in pushbroomAdvancedNormalization: Need at least two scan lines.\n");
    return TCL_OK;
  }
  Raster s;
  const int bands = loadSources(interp, im, &s, nullptr);
  if (bands < 0) return TCL_ERROR;
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
  RAMIMG *des = im->des;
  Raster s, dem;
  const int bands = loadSources(interp, im, &s, &dem);
  if (bands < 0) return TCL_ERROR;
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
      if (p->nscanlines != lines && allocScanLines(interp, p) != TCL_OK) {
        p->nscanlines = lines;
        return TCL_ERROR;
      }
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

}  // namespace

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
    if (allocScanLines(interp, p) != TCL_OK) {
      Tk_FreeOptions(pushbroomSpecs, reinterpret_cast<char *>(p), nullptr, 0);
      delete p;
      return TCL_ERROR;
    }
    rebuildScanLines(p);
  }
  p->command = Tcl_CreateCommand(interp, argv[1], pushbroomCmd, p, pushbroomDeleted);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

}  // namespace cam
}  // namespace vesk
