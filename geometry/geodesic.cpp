/*
 * geodesic.cpp --
 *     Geodesic computations on an ellipsoid or a sphere.  geodSet reads a
 *     PROJ parameter list (the ellipsoid, "units", and optionally a line
 *     given by two points or by a point, an azimuth and a distance, with
 *     arc or line steps); geodPre, geodFor and geodInv solve the two
 *     problems.  The solutions are PROJ's geodesic routines, exact to the
 *     round-off of doubles at any distance.
 */
#include "geometry/geodesic.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "geometry/projlayer.h"
#include "geometry/projprog.h"

namespace vesk {
namespace {

constexpr double kDegToRad = M_PI / 180.0;
constexpr double kRadToDeg = 180.0 / M_PI;

/* The words that describe the line and its units, not the ellipsoid. */
const char *const kLineKeys[] = {"lat_1", "lon_1", "lat_2", "lon_2", "A",    "S",
                                 "n_A",   "del_A", "n_S",   "del_S", "units", "proj"};

/* The key of a word ("key" or "key=value") and its value, NULL for none. */
const char *splitWord(const std::string &word, std::string &key) {
  size_t eq = word.find('=');
  key = word.substr(0, eq);
  return eq == std::string::npos ? nullptr : word.c_str() + eq + 1;
}

struct GeodParams {
  std::vector<std::string> words;

  const char *value(const char *key) const {
    std::string k;
    for (const std::string &word : words) {
      const char *v = splitWord(word, k);
      if (k == key) return v ? v : "";
    }
    return nullptr;
  }
  double angle(const char *key) const {
    const char *v = value(key);
    if (!v || !*v) return 0;
    char *rest = nullptr;
    double r = dmsToRadians(v, &rest);
    return r == HUGE_VAL ? 0 : r;
  }
  double number(const char *key) const {
    const char *v = value(key);
    return v ? strtod(v, nullptr) : 0;
  }
};

/* A set-up problem: fatal in the program, a warning in an object. */
int geodFail(GeodSetForm form, const char *format, const char *arg = nullptr) {
  if (form == GEOD_SET_PROGRAM) emess(1, format, arg);
  emess(0, format, arg);
  return 0;
}

}  // namespace

/* An angle reduced to -pi..pi, as PROJ reduces longitudes. */
double adjustAzimuth(double angle) {
  if (!isfinite(angle)) return angle;
  if (fabs(angle) <= M_PI) return angle;
  angle = remainder(angle, 2 * M_PI);
  return angle;
}

/*
 * geodSet --
 *     Fills the state from PROJ parameter words (a leading "+" dropped):
 *     the ellipsoid, the units, and optionally a line and its steps.
 * Results:      1 on success.  A problem is a fatal message in the
 *               program form; in the object form a warning and 0.
 */
int geodSet(int argc, const char *const *argv, GeodesicState *state, GeodSetForm form) {
  if (argc <= 0) return geodFail(form, "no arguments in initialization list");
  GeodParams params;
  for (int i = 0; i < argc; i++) params.words.emplace_back(argv[i][0] == '+' ? argv[i] + 1 : argv[i]);

  /* The ellipsoid, as PROJ sets one up for a latitude/longitude definition. */
  std::vector<const char *> shape{"proj=longlat"};
  std::string key;
  for (const std::string &word : params.words) {
    splitWord(word, key);
    bool lineWord = false;
    for (const char *k : kLineKeys) lineWord = lineWord || key == k;
    if (!lineWord) shape.push_back(word.c_str());
  }
  projPJ pj = initProjection(getCurrentProjInterp(), static_cast<int>(shape.size()), shape.data());
  if (!pj) return geodFail(form, "ellipse setup failure");
  double a = getProjA(pj), e = getProjE(pj);
  freeProjection(pj);
  double es = e * e;
  if (!(a > 0) || !(es >= 0) || !(es < 1)) return geodFail(form, "ellipse setup failure");

  GeodesicState s;
  s.a = a;
  if (const char *unit = params.value("units")) {
    int index = findUnit(unit);
    if (index < 0) return geodFail(form, "%s unknown unit conversion id", unit);
    s.to_meter = getUnitAt(index)->factor;
    s.fr_meter = 1 / s.to_meter;
  }
  s.ellipse = es != 0;
  if (s.ellipse) {
    s.onef = sqrt(1 - es);
    s.f = 1 - s.onef;
    s.f2 = s.f / 2;
    s.f4 = s.f / 4;
    s.f64 = s.f * s.f / 64;
  }
  geod_init(&s.geod, s.a, s.f);
  s.twoPoint = state->twoPoint;

  if (params.value("lat_1")) {
    s.phi1 = params.angle("lat_1");
    s.lam1 = params.angle("lon_1");
    if (params.value("lat_2")) {
      s.phi2 = params.angle("lat_2");
      s.lam2 = params.angle("lon_2");
      s.twoPoint = 1;
      geodInv(&s);
      geodPre(&s);
    } else {
      s.S = params.number("S") * s.to_meter;
      if (s.S == 0) return geodFail(form, "incomplete geodesic/arc info");
      s.twoPoint = 0;
      s.al12 = params.angle("A");
      geodPre(&s);
      geodFor(&s);
    }
    s.n_alpha = static_cast<int>(params.number("n_A"));
    if (s.n_alpha > 0) {
      s.del_alpha = params.angle("del_A");
      if (s.del_alpha == 0) return geodFail(form, "del azimuth == 0");
    } else {
      double step = fabs(params.number("del_S") * s.to_meter);
      if (step != 0) {
        double n = s.S / step + 0.5;
        s.n_S = n < 2147483647.0 ? static_cast<int>(n) : 2147483647;
      } else {
        s.n_S = static_cast<int>(params.number("n_S"));
        if (s.n_S <= 0) return geodFail(form, "no interval divisor selected");
      }
    }
  }
  *state = s;
  return 1;
}

/*
 * geodPre --
 *     Prepares the forward problem from the first point and al12 (reduced
 *     to -pi..pi here).
 */
void geodPre(GeodesicState *s) {
  s->al12 = adjustAzimuth(s->al12);
  geod_lineinit(&s->line, &s->geod, s->phi1 * kRadToDeg, s->lam1 * kRadToDeg,
                s->al12 * kRadToDeg, 0);
}

/*
 * geodFor --
 *     The forward problem on the prepared line: the point at distance S
 *     and the azimuth from it back to the first point.
 */
void geodFor(GeodesicState *s) {
  double lat = 0, lon = 0, azi = 0;
  geod_position(&s->line, s->S, &lat, &lon, &azi);
  s->phi2 = lat * kDegToRad;
  s->lam2 = adjustAzimuth(lon * kDegToRad);
  s->al21 = adjustAzimuth(azi * kDegToRad + M_PI);
}

/*
 * geodInv --
 *     The inverse problem: distance S and the azimuths al12 and al21
 *     between the two points; all 0 when the points coincide.
 */
void geodInv(GeodesicState *s) {
  double dlam = adjustAzimuth(s->lam2 - s->lam1);
  if (fabs(dlam) < 1e-12 && fabs(s->phi2 - s->phi1) < 1e-12) {
    s->al12 = s->al21 = s->S = 0;
    return;
  }
  double dist = 0, azi1 = 0, azi2 = 0;
  geod_inverse(&s->geod, s->phi1 * kRadToDeg, s->lam1 * kRadToDeg, s->phi2 * kRadToDeg,
               s->lam2 * kRadToDeg, &dist, &azi1, &azi2);
  s->S = dist;
  s->al12 = adjustAzimuth(azi1 * kDegToRad);
  s->al21 = adjustAzimuth(azi2 * kDegToRad + M_PI);
}

}  // namespace vesk
