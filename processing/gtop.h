/*
 * gtop.h --
 *     Private interface of "rimage gtop": the work record of one call, the
 *     view geometry (orientation, ground to photo, polar ranges) and the
 *     workers over flat ground (gtop.cpp) and over a DEM (gtop3d.cpp).
 */
#ifndef VESK_PROCESSING_GTOP_H
#define VESK_PROCESSING_GTOP_H

#include <vector>

#include "processing/rimage.h"

namespace vesk {

RimageModuleProc gtopModule;

/* Operation codes. */
enum GtopOp {
  GTOP_POLAR = 0,    /* ground to polar view, flat */
  GTOP_POLAR3D = 1,  /* ground to polar view over a DEM */
  GTOP_PTOG = 2,     /* polar view back to ground */
  GTOP_PTOP = 3,     /* polar view to photo (PTOG with -zc) */
  GTOP_GTOP3D = 4,   /* ground to photo through a polar view over a DEM */
  GTOP_GFP3D = 5,    /* central projection over a DEM */
  GTOP_GTOGR = 6,    /* ground from photo, flat */
  GTOP_ORTHOR = 7,   /* ground from photo over a DEM */
};

/* Angle of a point (X, Y) at distance r from the focal point. */
typedef float GtopAngleProc(float X, float Y, float r);

struct GtopWork {
  RAMIMG *in = nullptr, *out = nullptr, *dem = nullptr;
  double xc = 0, yc = 0, zc = 4096.0, zs = 1.0;
  double tx = 0, ty = 0, tz = 0;
  double f = 0, omega = 0, phi = 0, kappa = 0;
  double ex = 0, ey = 0, ez = 0;
  int groundRows = 0, groundColumns = 0, outRows = 0, outColumns = 0;
  int method = 1, demMethod = 1;  /* 1 nearest, 2 bilinear */
  int op = GTOP_GTOGR;
  int overwrite = 0;
  int oriented = 0;  /* the angles came with -ro */
  double rmin = 0, rmax = 0, thetaMin = 0, thetaMax = 0;
  double gap = 0.9;
  float offx = 0, offy = 0;
  std::vector<int> source, dest;
  double M[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  GtopAngleProc *angle = nullptr;
};

/* ---- view geometry (gtop.cpp) ---- */
double viewRotation(double *M, double dx, double dy, double dz, double *omega, double *kappa);
bool groundToPhoto(const double *M, double zc, double x, double y, double Z, double ex, double ey,
                   double tz, double *u, double *v);
void polarRange(double x0, double y0, double x1, double y1, double px, double py, GtopWork *w);
void gtopPrepareCache(RAMIMG *image, bool always);
void gtopWriteRow(GtopWork *w, RAMIMG *image, int row, std::vector<float> &values, int count);
int polarToPhoto(GtopWork *w);

/* ---- over a DEM (gtop3d.cpp) ---- */
int clipSegment(double *x1, double *y1, double *x2, double *y2, double ymin, double ymax,
                double xmin, double xmax);
void demViewCentre(RAMIMG *dem, double zs, const double *N, double xc, double yc, double zc,
                   double tx, double ty, double tz, double *cx, double *cy);
void focalTrace(double xc, double yc, double zc, double tx, double ty, double tz, double px,
                double py, double *rf, double *zf, double *alpha, double *side);
int rayVisibleRadii(const float *image, const float *dem, int n, double zs, std::vector<float> &values,
                    int limit, int bands, double zc, int *start);
int rayToFocalTrace(const float *image, const float *dem, double zs, std::vector<float> &values, int n,
                    int bands, int maxCount, double zc, double r1, double alpha, double rf,
                    double zf, bool ahead, int method, double *rhoA, double *zA, double *rhoB,
                    double *zB);
int gtopConvert3D(GtopWork *w, RAMIMG *target);
int gtop3D(GtopWork *w);
int centerProjection(GtopWork *w);

/* ---- offered to native callers (gtop.cpp) ---- */
int rOrientCentred(GtopWork *w);
bool pointToPhoto(const double *M, double x, double y, double z, double zs, double *u, double *v);
int gtopFillColumn(RAMIMG *image, int column, double y1, double y2, int nb, const int *bands,
                   const float *values, int n, int method);
int gtopFillRow(RAMIMG *image, int row, double x1, double x2, int nb, const int *bands,
                const float *values, int n, int method);
int rayFixedRadii(const float *image, const float *dem, int n, double zs, double zc, double v,
                  double r0, double dr, int count, int bands, float *values, int *first);

}  // namespace vesk

#endif
