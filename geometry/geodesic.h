/*
 * geodesic.h --
 *     Geodesic lines on an ellipsoid or a sphere: the forward problem
 *     (point, azimuth, distance to end point and back azimuth) and the
 *     inverse problem (two points to distance and both azimuths), on a
 *     state record of their own so that users never disturb each other.
 */
#ifndef VESK_GEOMETRY_GEODESIC_H
#define VESK_GEOMETRY_GEODESIC_H

#include <geodesic.h>

namespace vesk {

/*
 * One ellipsoid set-up and one line on it.  Angles in radians, distances
 * in the units of the major axis (metres for PROJ's ellipsoids).
 */
struct GeodesicState {
  double a = 0;                 /* major axis, or radius of a sphere */
  double lam1 = 0, phi1 = 0;    /* first point */
  double al12 = 0;              /* azimuth from the first point to the second */
  double lam2 = 0, phi2 = 0;    /* second point */
  double al21 = 0;              /* azimuth from the second point back to the first */
  double S = 0;                 /* geodesic distance */
  double onef = 1;              /* 1 - f; 1 for a sphere */
  double f = 0, f2 = 0, f4 = 0, f64 = 0;  /* f, f/2, f/4, f*f/64; 0 for a sphere */
  int ellipse = 0;              /* 1 for an ellipsoid, 0 for a sphere */
  int twoPoint = 0;             /* 1: the set-up gave a second point; 0: azimuth and distance */
  double to_meter = 1, fr_meter = 1;  /* factors of the "units" parameter */
  double del_alpha = 0;         /* azimuth step of the arc mode */
  int n_alpha = 0;              /* number of arc steps */
  int n_S = 0;                  /* number of steps along the line */
  struct geod_geodesic geod = {};      /* the ellipsoid for the solver */
  struct geod_geodesicline line = {};  /* the line geodPre prepared */
};

/* How geodSet reports a bad argument list. */
enum GeodSetForm { GEOD_SET_PROGRAM, GEOD_SET_OBJECT };

int geodSet(int argc, const char *const *argv, GeodesicState *state, GeodSetForm form);
void geodPre(GeodesicState *state);
void geodFor(GeodesicState *state);
void geodInv(GeodesicState *state);
double adjustAzimuth(double angle);

}  // namespace vesk

#endif
