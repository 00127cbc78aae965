/*
 * projlayer.h --
 *     The projection access layer: the only code that talks to the PROJ
 *     library.  Projections are made from parameter lists, convert single
 *     points forward and inverse, transform points between two
 *     definitions, and describe themselves; PROJ's lists of projections,
 *     ellipsoids, units and our datum list are walked here.  Angles are
 *     radians at this layer; callers convert degrees themselves.
 */
#ifndef VESK_GEOMETRY_PROJLAYER_H
#define VESK_GEOMETRY_PROJLAYER_H

#include <proj.h>
#include <tcl.h>
#include <string>
#include <vector>

namespace vesk {

/* Longest definition text a projection object accepts. */
inline constexpr int kProjDefMax = 255;

/* Datum type codes of a projection. */
enum ProjDatumType { PJD_UNKNOWN = 0, PJD_3PARAM = 1, PJD_7PARAM = 2, PJD_GRIDSHIFT = 3, PJD_WGS84 = 4 };

struct ProjContext;

/*
 * One word of a definition, in the order given, followed by the defaults
 * the layer added (without a leading "+").
 */
struct ProjParam {
  ProjParam *next = nullptr;
  char used = 0;     /* PROJ 9 does not say which words it consulted: always 0 */
  std::string text;  /* e.g. "proj=utm", "zone=10" */
};

/*
 * A projection made by initProjection.  The derived values follow the
 * rules of the classic library: a, e of the earth figure; lam0, phi0 in
 * radians; x0, y0 false easting and northing in metres; k0 scale factor;
 * toMeter/frMeter the cartesian unit factors.
 */
struct ProjHandle {
  ProjContext *context = nullptr;
  PJ *pj = nullptr;
  std::vector<ProjParam> params;  /* linked through next, first at params[0] */
  int isLatLong = 0;
  int hasInverse = 0;
  double a = 0, e = 0, lam0 = 0, phi0 = 0, x0 = 0, y0 = 0, k0 = 1, toMeter = 1, frMeter = 1;
  int datumType = PJD_UNKNOWN;
  double datumParams[7] = {0, 0, 0, 0, 0, 0, 0};
  unsigned serial = 0;          /* tells handles apart in the transformation cache */
  int initExpanded = 0;         /* params hold init= words and the words they stand for */
  PJ *crs3d = nullptr;          /* the definition as a 3-D CRS, made on first transform */
  unsigned cachedTarget = 0;    /* serial of the target of cachedOp */
  PJ *cachedOp = nullptr;       /* this definition to that target */
};
typedef ProjHandle *projPJ;

/* Entries of the lists (PROJ's own records, and our datum table). */
typedef PJ_OPERATIONS ProjTypeEntry;
typedef PJ_ELLPS EllipsoidEntry;
typedef PJ_UNITS UnitEntry;
struct DatumEntry {
  const char *id;
  const char *defn;
  const char *ellipseId;
  const char *comments;
};

/* ---- contexts and messages ---- */
ProjContext *getProjContext(Tcl_Interp *interp);

/* ---- projections ---- */
projPJ initProjection(Tcl_Interp *interp, int argc, const char *const *argv);
void freeProjection(projPJ pj);
int hasProjectionInverse(projPJ pj);
int isLatLongProjection(projPJ pj);
void projectForward(projPJ pj, double lam, double phi, double *x, double *y);
void projectInverse(projPJ pj, double x, double y, double *lam, double *phi);
int transformPoint(projPJ src, projPJ dst, double x, double y, double z, double *outX,
                   double *outY, double *outZ);
typedef PJ_XY (*ProjPointFunc)(PJ_LP point, projPJ pj);
void applyProjectionFunc(ProjPointFunc func, projPJ pj, double u, double v, double *x, double *y);
const char *getProjError(Tcl_Interp *interp);
int getProjErrno(Tcl_Interp *interp);

/* ---- grid-shift tables (PROJ grid names found through PROJ_LIB) ---- */
struct NadGrid;
NadGrid *loadNadGrid(Tcl_Interp *interp, const char *name);
void freeNadGrid(NadGrid *grid);
void convertNadForward(NadGrid *grid, double lam, double phi, double *outLam, double *outPhi);
void convertNadInverse(NadGrid *grid, double lam, double phi, double *outLam, double *outPhi);

/* ---- parameters of a projection ---- */
double getProjA(projPJ pj);
double getProjE(projPJ pj);
double getProjLam0(projPJ pj);
double getProjPhi0(projPJ pj);
double getProjX0(projPJ pj);
double getProjY0(projPJ pj);
double getProjK0(projPJ pj);
double getProjToMeter(projPJ pj);
double getProjFrMeter(projPJ pj);
const char *getDatumTypeName(projPJ pj);
const double *getDatumParams(projPJ pj, int *count);
ProjParam *getFirstProjParam(projPJ pj);
ProjParam *getNextProjParam(ProjParam *param);
const char *getProjParamText(ProjParam *param);
int getProjParamUsed(ProjParam *param);

/* ---- PROJ's projection list ---- */
const ProjTypeEntry *getFirstProjType();
const ProjTypeEntry *getNextProjType(const ProjTypeEntry *entry);
int countProjTypes();
const ProjTypeEntry *getProjTypeAt(int index);
int findProjType(const char *id);
const char *getProjTypeDescr(const ProjTypeEntry *entry);
const char *getProjTypeId(const ProjTypeEntry *entry);

/* ---- PROJ's ellipsoid list ---- */
const EllipsoidEntry *getFirstEllipsoid();
const EllipsoidEntry *getNextEllipsoid(const EllipsoidEntry *entry);
int countEllipsoids();
const EllipsoidEntry *getEllipsoidAt(int index);
int findEllipsoid(const char *id);
const char *getEllipsoidId(const EllipsoidEntry *entry);
const char *getEllipsoidMajor(const EllipsoidEntry *entry);
const char *getEllipsoidEll(const EllipsoidEntry *entry);
const char *getEllipsoidName(const EllipsoidEntry *entry);

/* ---- units and datums ---- */
const UnitEntry *getFirstUnit();
const UnitEntry *getNextUnit(const UnitEntry *entry);
int findUnit(const char *id);
const UnitEntry *getUnitAt(int index);
const DatumEntry *getFirstDatum();
const DatumEntry *getNextDatum(const DatumEntry *entry);
int findDatum(const char *id);

/* ---- degree-minute-second text ---- */
double dmsToRadians(const char *text, char **rest);
char *radiansToDms(char *buffer, size_t size, double r, int pos, int neg);
void setDmsFormat(int fraction, int fixedWidth);

}  // namespace vesk

#endif
