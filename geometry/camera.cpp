/*
 * camera.cpp --
 *     The frame camera: a pinhole sensor above the ground level Z = 0
 *     with a focal length, a pixel grid, a principal point and an
 *     attitude.  "camera.create" makes one; its instance command converts
 *     between picture pixels and map positions and hands the image
 *     transfers to camxfer.cpp.
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
#include "geometry/camera.h"
#include "geometry/cameramodel.h"
#include "raster/bandstats.h"
#include "raster/imghead.h"
#include "raster/pixels.h"
#include "raster/ramimg.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace cam {

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

/* ---- the instance command ---- */

/* A usage error: "Usage: ", the command's name and the tail. */
int usage(Tcl_Interp *interp, const char *name, const char *tail) {
  Tcl_AppendResult(interp, "Usage: ", name, tail, nullptr);
  return TCL_ERROR;
}

/* Two numbers as the result, "%.16g %.16g". */
void setPair(Tcl_Interp *interp, double a, double b) {
  char text[64];
  snprintf(text, sizeof text, "%.16g %.16g", a, b);
  Tcl_SetResult(interp, text, TCL_VOLATILE);
}

namespace {

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

const char *const subcommands[] = {"acquire", "bbox",     "config",    "cget",
                                   "class",   "destroy",  "imagexy",   "mapxy",
                                   "normxy",  "normalize", "quaternion", "rectify",
                                   "rotationmatrix", "viewpoint"};

void rebuild(Camera *c) {
  setAxis(c->ax, c->axoffset, &c->trig.sinX, &c->trig.cosX);
  setAxis(c->ay, c->ayoffset, &c->trig.sinY, &c->trig.cosY);
  setAxis(c->az, c->azoffset, &c->trig.sinZ, &c->trig.cosZ);
  buildRotationMatrix(c->rotationid, c->trig, c->R);
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

}  // namespace
}  // namespace cam

int createCameraCommand(Tcl_Interp *interp) {
  if (!Tcl_CreateCommand(interp, "camera.create", cam::cameraCreateCmd, nullptr, nullptr)) return 1;
  return Tcl_CreateCommand(interp, "pushbroom.create", cam::pushbroomCreateCmd, nullptr, nullptr) ? 0
                                                                                              : 1;
}

}  // namespace vesk
