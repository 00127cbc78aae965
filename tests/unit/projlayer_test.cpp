// The projection access layer and the program frame: conversions against
// reference values of PROJ's own programs, transformations with datum
// shifts, errors, the lists, the file finder and DMS text.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "core/core.h"
#include "geometry/projlayer.h"
#include "geometry/projprog.h"
#include "geometry/projprogram.h"
#include "tests/unit/harness.h"
#include "vesk/projfinder.h"

using namespace vesk;

namespace {

constexpr double kDeg = M_PI / 180.0;

// A projection from words, freed at the end of the scope.
struct Projection {
  projPJ pj;
  explicit Projection(std::vector<const char *> words)
      : pj(initProjection(testInterp(), static_cast<int>(words.size()), words.data())) {}
  ~Projection() { freeProjection(pj); }
};

// A 2 x 2 CTable2 grid over 0..20 E, 40..60 N with a constant shift (radians,
// longitude positive west as the format has it).
std::string writeTestGrid(const std::string &dir, const char *name, float lamShift, float phiShift) {
  unsigned char header[160] = {0};
  memcpy(header, "CTABLE V2", 9);
  memcpy(header + 16, "vesk test grid", 14);
  double extent[4] = {0 * kDeg, 40 * kDeg, 20 * kDeg, 20 * kDeg};
  memcpy(header + 96, extent, sizeof extent);  // little-endian host, as the format wants
  int32_t lim[2] = {2, 2};
  memcpy(header + 128, lim, sizeof lim);
  std::string path = dir + "/" + name;
  FILE *file = fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr);
  if (!file) return path;
  fwrite(header, 1, sizeof header, file);
  for (int i = 0; i < 4; i++) {
    float shift[2] = {lamShift, phiShift};
    fwrite(shift, sizeof(float), 2, file);
  }
  fclose(file);
  return path;
}

std::string makeTempDir() {
  char templ[] = "/tmp/veskprojXXXXXX";
  const char *dir = mkdtemp(templ);
  return dir ? dir : "/tmp";
}

}  // namespace

// Reference values:
//   echo "15 50" | proj -f %.9f +proj=utm +zone=33 +ellps=WGS84
//     -> 500000.000000001  5538630.702867474
//   echo "9 48" | proj -f %.9f +proj=utm +zone=32 +ellps=WGS84
//     -> 500000.000000000  5316300.224451495
//   echo "3 0" | proj -f %.9f +proj=utm +ellps=WGS84
//     -> 1168881.688527471  0.000000000
//   echo "10 50" | proj -f %.9f +proj=merc +ellps=WGS84
//     -> 1113194.907932736  6413524.594163640
TEST(ProjLayer, ForwardMatchesProjAndInverseRoundTrips) {
  struct Case {
    std::vector<const char *> words;
    double lon, lat, x, y;
  } cases[] = {
      {{"+proj=utm", "+zone=33", "+ellps=WGS84"}, 15, 50, 500000.000000001, 5538630.702867474},
      {{"proj=utm", "zone=32", "ellps=WGS84"}, 9, 48, 500000.000000000, 5316300.224451495},
      {{"proj=utm"}, 3, 0, 1168881.688527471, 0.0},
      {{"proj=merc", "ellps=WGS84"}, 10, 50, 1113194.907932736, 6413524.594163640},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.words[0]);
    Projection p(c.words);
    ASSERT_NE(p.pj, nullptr) << getProjError(testInterp());
    double x = 0, y = 0, lam = 0, phi = 0;
    projectForward(p.pj, c.lon * kDeg, c.lat * kDeg, &x, &y);
    EXPECT_NEAR(x, c.x, 1e-6);
    EXPECT_NEAR(y, c.y, 1e-6);
    ASSERT_TRUE(hasProjectionInverse(p.pj));
    projectInverse(p.pj, x, y, &lam, &phi);
    EXPECT_NEAR(lam / kDeg, c.lon, 1e-9);
    EXPECT_NEAR(phi / kDeg, c.lat, 1e-9);
    EXPECT_STREQ(getProjError(testInterp()), "");
  }
}

TEST(ProjLayer, PointFunctionsAndParameterFlags) {
  // A PROJ-style point function called through the layer: the forward
  // projection itself gives the same point as projectForward.
  Projection p({"proj=utm", "zone=33", "ellps=WGS84"});
  ASSERT_NE(p.pj, nullptr);
  ProjPointFunc forward = [](PJ_LP lp, projPJ pj) {
    PJ_XY xy;
    projectForward(pj, lp.lam, lp.phi, &xy.x, &xy.y);
    return xy;
  };
  double x = 0, y = 0;
  applyProjectionFunc(forward, p.pj, 15 * kDeg, 50 * kDeg, &x, &y);
  EXPECT_NEAR(x, 500000.000000001, 1e-6);
  EXPECT_NEAR(y, 5538630.702867474, 1e-6);
  ProjPointFunc swap = [](PJ_LP lp, projPJ) {
    PJ_XY xy;
    xy.x = lp.phi;
    xy.y = lp.lam;
    return xy;
  };
  applyProjectionFunc(swap, nullptr, 1, 2, &x, &y);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 1);
  // PROJ does not say which words it consulted: no word reads as used.
  int words = 0;
  for (ProjParam *q = getFirstProjParam(p.pj); q; q = getNextProjParam(q), words++)
    EXPECT_EQ(getProjParamUsed(q), 0) << getProjParamText(q);
  EXPECT_GE(words, 3);
}

TEST(ProjLayer, DefaultsOfTheClassicLibrary) {
  Projection bare({"proj=utm"});
  ASSERT_NE(bare.pj, nullptr);
  std::vector<std::string> words;
  for (ProjParam *p = getFirstProjParam(bare.pj); p; p = getNextProjParam(p))
    words.push_back(getProjParamText(p));
  EXPECT_EQ(words, (std::vector<std::string>{"proj=utm", "ellps=WGS84"}));
  EXPECT_DOUBLE_EQ(getProjA(bare.pj), 6378137.0);

  Projection noDefs({"proj=utm", "zone=10", "no_defs", "a=6400000", "rf=300"});
  ASSERT_NE(noDefs.pj, nullptr);
  int n = 0;
  for (ProjParam *p = getFirstProjParam(noDefs.pj); p; p = getNextProjParam(p)) n++;
  EXPECT_EQ(n, 5);

  // lcc needs its standard parallels: the defaults give them.
  Projection lcc({"proj=lcc"});
  ASSERT_NE(lcc.pj, nullptr) << getProjError(testInterp());
}

TEST(ProjLayer, DerivedParameters) {
  Projection utm({"proj=utm", "zone=33", "south", "ellps=clrk66"});
  ASSERT_NE(utm.pj, nullptr);
  EXPECT_NEAR(getProjLam0(utm.pj), 15 * kDeg, 1e-15);
  EXPECT_DOUBLE_EQ(getProjK0(utm.pj), 0.9996);
  EXPECT_DOUBLE_EQ(getProjX0(utm.pj), 500000);
  EXPECT_DOUBLE_EQ(getProjY0(utm.pj), 10000000);
  EXPECT_DOUBLE_EQ(getProjA(utm.pj), 6378206.4);
  EXPECT_NEAR(getProjE(utm.pj), sqrt(1 - pow(6356583.8 / 6378206.4, 2)), 1e-15);
  EXPECT_STREQ(getDatumTypeName(utm.pj), "UNKNOWN");

  // The first and last zones: central meridians 177 W and 177 E.
  for (int zone : {1, 60}) {
    const std::string word = "zone=" + std::to_string(zone);
    Projection edge({"proj=utm", word.c_str(), "ellps=WGS84"});
    ASSERT_NE(edge.pj, nullptr);
    EXPECT_NEAR(getProjLam0(edge.pj), (zone == 1 ? -177 : 177) * kDeg, 1e-15) << zone;
  }

  Projection tm({"proj=tmerc", "lon_0=9d30", "k_0=0.5", "units=km", "ellps=bessel",
                 "towgs84=598.1,73.7,418.2,0.202,0.045,-2.455,6.7"});
  ASSERT_NE(tm.pj, nullptr);
  EXPECT_NEAR(getProjLam0(tm.pj), 9.5 * kDeg, 1e-15);
  EXPECT_DOUBLE_EQ(getProjK0(tm.pj), 0.5);
  EXPECT_DOUBLE_EQ(getProjToMeter(tm.pj), 1000);
  EXPECT_DOUBLE_EQ(getProjFrMeter(tm.pj), 0.001);
  EXPECT_STREQ(getDatumTypeName(tm.pj), "7PARAM");
  int count = 0;
  const double *params = getDatumParams(tm.pj, &count);
  EXPECT_EQ(count, 7);
  EXPECT_DOUBLE_EQ(params[0], 598.1);
  EXPECT_NEAR(params[3], 0.202 * 4.84813681109536e-6, 1e-18);
  EXPECT_DOUBLE_EQ(params[6], 1.0000067);

  // A named unit wins over to_meter, as PROJ applies it:
  //   echo "1 0" | proj +proj=tmerc +units=us-ft +to_meter=2 +ellps=WGS84 -> 365239.36 0.00
  Projection feet({"proj=tmerc", "units=us-ft", "to_meter=2"});
  ASSERT_NE(feet.pj, nullptr);
  EXPECT_DOUBLE_EQ(getProjToMeter(feet.pj), 0.3048006096012192);
  double x = 0, y = 0;
  projectForward(feet.pj, 1 * kDeg, 0, &x, &y);
  EXPECT_NEAR(x, 365239.36, 0.005);

  Projection wgs({"proj=latlong", "datum=WGS84"});
  ASSERT_NE(wgs.pj, nullptr);
  EXPECT_STREQ(getDatumTypeName(wgs.pj), "WGS84");
  EXPECT_TRUE(isLatLongProjection(wgs.pj));
  Projection three({"proj=latlong", "ellps=intl", "towgs84=-87,-98,-121"});
  EXPECT_STREQ(getDatumTypeName(three.pj), "3PARAM");
  Projection grid({"proj=latlong", "datum=NAD27"});
  ASSERT_NE(grid.pj, nullptr);
  EXPECT_STREQ(getDatumTypeName(grid.pj), "GRIDSHIFT");
}

// An init= reference stands for its words, which follow the words given.
// Reference values (proj itself takes no init= words; these are the words
// PROJ gives for epsg:32633):
//   echo "15 50" | proj -f %.9f +proj=utm +zone=33 +datum=WGS84 +units=m +no_defs
//     -> 500000.000000001  5538630.702867474
//   echo "15 50" | proj -f %.9f +proj=utm +zone=33 +datum=WGS84 +units=km +no_defs
//     -> 500.000000000  5538.630702867
TEST(ProjLayer, InitReferencesConvertPoints) {
  struct Case {
    std::vector<const char *> words;
    double x, y, toMeter;
  } cases[] = {
      {{"+init=epsg:32633"}, 500000.000000001, 5538630.702867474, 1},
      {{"init=epsg:32633", "units=km"}, 500.000000000, 5538.630702867, 1000},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.words.size());
    Projection p(c.words);
    ASSERT_NE(p.pj, nullptr) << getProjError(testInterp());
    ASSERT_TRUE(hasProjectionInverse(p.pj));
    double x = 0, y = 0, lam = 0, phi = 0;
    projectForward(p.pj, 15 * kDeg, 50 * kDeg, &x, &y);
    EXPECT_NEAR(x, c.x, 1e-6);
    EXPECT_NEAR(y, c.y, 1e-6);
    projectInverse(p.pj, x, y, &lam, &phi);
    EXPECT_NEAR(lam / kDeg, 15, 1e-9);
    EXPECT_NEAR(phi / kDeg, 50, 1e-9);
    EXPECT_STREQ(getProjParamText(getFirstProjParam(p.pj)), c.words[0] + (c.words[0][0] == '+'));
    EXPECT_NEAR(getProjLam0(p.pj), 15 * kDeg, 1e-15);
    EXPECT_DOUBLE_EQ(getProjToMeter(p.pj), c.toMeter);
    EXPECT_STREQ(getDatumTypeName(p.pj), "WGS84");
  }
  Projection geographic({"init=epsg:4326"});
  Projection utm({"init=epsg:32633"});
  ASSERT_TRUE(geographic.pj && utm.pj);
  EXPECT_TRUE(isLatLongProjection(geographic.pj));
  double x, y, z;
  ASSERT_EQ(transformPoint(geographic.pj, utm.pj, 15 * kDeg, 50 * kDeg, 0, &x, &y, &z), 0)
      << getProjError(testInterp());
  EXPECT_NEAR(x, 500000.000000001, 1e-6);
  EXPECT_NEAR(y, 5538630.702867474, 1e-6);
}

TEST(ProjLayer, RefusedDefinitionsCarryProjText) {
  struct Case {
    std::vector<const char *> words;
    const char *text;
  } cases[] = {
      {{}, "no arguments in initialization list"},
      {{"proj=bogus"}, "Unknown projection"},
      {{"proj=utm", "zone=99"}, "Invalid value for zone"},
      {{"proj=hgridshift", "grids=no-such-grid.gsb"}, "could not find required grid"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    Projection p(c.words);
    EXPECT_EQ(p.pj, nullptr);
    EXPECT_NE(getProjErrno(testInterp()), 0);
    EXPECT_NE(strstr(getProjError(testInterp()), c.text), nullptr) << getProjError(testInterp());
  }
  Projection good({"proj=merc"});
  ASSERT_NE(good.pj, nullptr);
  EXPECT_STREQ(getProjError(testInterp()), "");
}

TEST(ProjLayer, FailedPointsAreHugeValWithAnError) {
  Projection merc({"proj=merc", "ellps=WGS84"});
  double x = 1, y = 1;
  projectForward(merc.pj, 0, M_PI_2 + 1e-11, &x, &y);
  EXPECT_EQ(x, HUGE_VAL);
  EXPECT_EQ(y, HUGE_VAL);
  EXPECT_STRNE(getProjError(testInterp()), "");
  projectForward(merc.pj, 0, 0.5, &x, &y);
  EXPECT_TRUE(isfinite(x));
  EXPECT_STREQ(getProjError(testInterp()), "");
  projectForward(nullptr, 0, 0, &x, &y);
  EXPECT_EQ(x, HUGE_VAL);
}

// Reference values (3-D, as the classic transformation treated heights):
//   echo "100000 5000000 10" | cs2cs --3d -f %.9f +proj=tmerc +ellps=clrk66
//       +towgs84=100,200,300 +to +proj=latlong +datum=WGS84
//     -> 1.273643450  45.129453229 246.382835977
//   echo "10 50 0" | cs2cs --3d -f %.9f +proj=latlong +ellps=bessel
//       +towgs84=598.1,73.7,418.2,0.202,0.045,-2.455,6.7 +to +proj=latlong +datum=WGS84
//     -> 9.998813925  49.998857264 48.964290537
TEST(ProjLayer, TransformWithDatumShiftMovesHeights) {
  Projection wgs({"proj=latlong", "datum=WGS84"});
  Projection tm({"proj=tmerc", "ellps=clrk66", "towgs84=100,200,300"});
  Projection bessel({"proj=latlong", "ellps=bessel",
                     "towgs84=598.1,73.7,418.2,0.202,0.045,-2.455,6.7"});
  ASSERT_TRUE(wgs.pj && tm.pj && bessel.pj);
  double x, y, z;
  ASSERT_EQ(transformPoint(tm.pj, wgs.pj, 100000, 5000000, 10, &x, &y, &z), 0)
      << getProjError(testInterp());
  EXPECT_NEAR(x / kDeg, 1.273643450, 1e-9);
  EXPECT_NEAR(y / kDeg, 45.129453229, 1e-9);
  EXPECT_NEAR(z, 246.382835977, 1e-6);
  ASSERT_EQ(transformPoint(bessel.pj, wgs.pj, 10 * kDeg, 50 * kDeg, 0, &x, &y, &z), 0);
  EXPECT_NEAR(x / kDeg, 9.998813925, 1e-9);
  EXPECT_NEAR(y / kDeg, 49.998857264, 1e-9);
  EXPECT_NEAR(z, 48.964290537, 1e-6);
  // The same pair again uses the kept operation; z may be left out.
  ASSERT_EQ(transformPoint(bessel.pj, wgs.pj, 10 * kDeg, 50 * kDeg, 0, &x, &y, nullptr), 0);
  EXPECT_NEAR(x / kDeg, 9.998813925, 1e-9);
}

TEST(ProjLayer, TransformBetweenIdenticalDefinitionsKeepsThePoint) {
  Projection a({"proj=latlong", "ellps=clrk66"});
  Projection b({"proj=latlong", "ellps=clrk66"});
  double x, y, z;
  ASSERT_EQ(transformPoint(a.pj, b.pj, 0.3, 0.7, 12, &x, &y, &z), 0);
  EXPECT_NEAR(x, 0.3, 1e-12);
  EXPECT_NEAR(y, 0.7, 1e-12);
  EXPECT_NEAR(z, 12, 1e-9);
}

// A grid that is not there is an error, never a silent fall-back.
TEST(ProjLayer, MissingGridIsReported) {
  Projection src({"proj=latlong", "ellps=WGS84", "nadgrids=no-such-grid.gsb"});
  EXPECT_EQ(src.pj, nullptr);
  EXPECT_NE(strstr(getProjError(testInterp()), "no-such-grid.gsb"), nullptr)
      << getProjError(testInterp());
}

// The grid is found through PROJ_LIB of the stdio interpreter's env array:
// here a plain array that the process environment never sees.
//   echo "10 50 0" | PROJ_LIB=dir cct -d 9 +proj=hgridshift +grids=vesktest.ct2
//     -> 10.000572958  50.001145916
TEST(ProjLayer, FinderReadsProjLibFromTheEnvArray) {
  std::string dir = makeTempDir();
  std::string path = writeTestGrid(dir, "vesktest.ct2", -1e-5f, 2e-5f);
  Tcl_Interp *interp = Tcl_CreateInterp();
  Tcl_Eval(interp, "unset -nocomplain env; set env(HOME) /nonexistent");
  ASSERT_EQ(getenv("PROJ_LIB"), nullptr);
  Tcl_Interp *previous = setStdioInterp(interp);
  const char *words[] = {"proj=hgridshift", "grids=vesktest.ct2"};
  projPJ missing = initProjection(interp, 2, words);
  EXPECT_EQ(missing, nullptr);
  freeProjection(missing);
  Tcl_SetVar2(interp, "env", "PROJ_LIB", (dir + ":/usr/share/proj").c_str(), TCL_GLOBAL_ONLY);
  projPJ pj = initProjection(interp, 2, words);
  ASSERT_NE(pj, nullptr) << getProjError(interp);
  double lam, phi;
  projectForward(pj, 10 * kDeg, 50 * kDeg, &lam, &phi);
  EXPECT_NEAR(lam / kDeg, 10.000572958, 1e-9);
  EXPECT_NEAR(phi / kDeg, 50.001145916, 1e-9);
  freeProjection(pj);

  NadGrid *grid = loadNadGrid(interp, "vesktest.ct2");
  ASSERT_NE(grid, nullptr);
  convertNadForward(grid, 10 * kDeg, 50 * kDeg, &lam, &phi);
  EXPECT_NEAR(phi / kDeg, 50.001145916, 1e-9);
  convertNadInverse(grid, lam, phi, &lam, &phi);
  EXPECT_NEAR(lam / kDeg, 10, 1e-9);
  freeNadGrid(grid);
  setStdioInterp(previous);
  Tcl_DeleteInterp(interp);
  unlink(path.c_str());
  rmdir(dir.c_str());
}

static std::string legacyGridPath;
static const char *legacyFinderForTest(const char *name) {
  return strcmp(name, "legacy.ct2") == 0 ? legacyGridPath.c_str() : nullptr;
}

TEST(ProjLayer, LegacyFinderIsAskedFirst) {
  std::string dir = makeTempDir();
  legacyGridPath = writeTestGrid(dir, "elsewhere.ct2", 0, 1e-5f);
  const char *words[] = {"proj=hgridshift", "grids=legacy.ct2"};
  projPJ missing = initProjection(testInterp(), 2, words);
  EXPECT_EQ(missing, nullptr);
  freeProjection(missing);
  pj_set_finder(legacyFinderForTest);
  projPJ pj = initProjection(testInterp(), 2, words);
  pj_set_finder(nullptr);
  ASSERT_NE(pj, nullptr) << getProjError(testInterp());
  freeProjection(pj);
  unlink(legacyGridPath.c_str());
  rmdir(dir.c_str());
}

TEST(ProjLayer, Lists) {
  EXPECT_GE(findProjType("utm"), 0);
  EXPECT_EQ(findProjType("no-such"), -1);
  EXPECT_EQ(getProjTypeAt(-1), nullptr);
  EXPECT_EQ(getProjTypeAt(countProjTypes()), nullptr);
  EXPECT_STREQ(getProjTypeId(getProjTypeAt(findProjType("utm"))), "utm");
  int walked = 0;
  for (const ProjTypeEntry *e = getFirstProjType(); e; e = getNextProjType(e))
    if (getProjTypeDescr(e)) walked++;
  EXPECT_EQ(walked, countProjTypes());
  EXPECT_EQ(getProjTypeDescr(nullptr), nullptr);

  int clrk66 = findEllipsoid("clrk66");
  ASSERT_GE(clrk66, 0);
  const EllipsoidEntry *e = getEllipsoidAt(clrk66);
  EXPECT_STREQ(getEllipsoidMajor(e), "a=6378206.4");
  EXPECT_STREQ(getEllipsoidEll(e), "b=6356583.8");
  EXPECT_EQ(getEllipsoidAt(countEllipsoids()), nullptr);

  int m = findUnit("m");
  ASSERT_GE(m, 0);
  EXPECT_DOUBLE_EQ(getUnitAt(m)->factor, 1.0);
  EXPECT_GE(findDatum("NAD27"), 0);
  EXPECT_EQ(findDatum("nad27"), -1);
}

TEST(ProjLayer, DmsTextMatchesProj) {
  const double angles[] = {0, 0.5, -0.5, 1.0, 10 * kDeg, 10.5 * kDeg, -(45 + 1.0 / 3600) * kDeg,
                           123.456789 * kDeg};
  for (double r : angles) {
    SCOPED_TRACE(r);
    char ours[64], theirs[64];
    radiansToDms(ours, sizeof ours, r, 'N', 'S');
    proj_rtodms(theirs, r, 'N', 'S');
    EXPECT_STREQ(ours, theirs);
    radiansToDms(ours, sizeof ours, r, 0, 0);
    proj_rtodms(theirs, r, 0, 0);
    EXPECT_STREQ(ours, theirs);
    EXPECT_NEAR(dmsToRadians(ours, nullptr), r, 1e-8);
  }
  char text[64];
  setDmsFormat(2, 1);
  EXPECT_STREQ(radiansToDms(text, sizeof text, 10.5 * kDeg, 'E', 'W'), "10d30'00.00\"E");
  setDmsFormat(0, 1);
  EXPECT_STREQ(radiansToDms(text, sizeof text, 10.5 * kDeg, 'E', 'W'), "10d30'00\"E");
  setDmsFormat(9, 0);  // out of range: unchanged
  EXPECT_STREQ(radiansToDms(text, sizeof text, 10.5 * kDeg, 'E', 'W'), "10d30'00\"E");
  setDmsFormat(3, 0);
  EXPECT_STREQ(radiansToDms(text, sizeof text, 10.5 * kDeg, 'E', 'W'), "10d30'E");
}

// ---- the program frame ----

static int normalEnd(int, const char **) { projExit(0); }
static int fatalEnd(int, const char **) {
  emess(3, "projection initialization failure\ncause: %s", "none");
  return 0;
}
static int warnsAndReturns(int, const char **) {
  emess(-1, "just a warning");
  return 0;
}

TEST(ProjFrame, ExitCodesAndModule) {
  Tcl_Interp *interp = testInterp();
  struct Case {
    ProjProgramMain *main;
    const char *module;
    int tcl, exitCode;
  } cases[] = {
      {normalEnd, "proj", TCL_ERROR, 1},
      {fatalEnd, "cs2cs", TCL_ERROR, 3},
      {warnsAndReturns, "geod", TCL_OK, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.module);
    const char *argv[] = {c.module, "x"};
    EXPECT_EQ(runProjProgram(interp, c.module, c.main, 2, argv), c.tcl);
    EXPECT_EQ(getProjExitCode(), c.exitCode);
    EXPECT_STREQ(getProjModule(), c.module);
    EXPECT_EQ(getCurrentProjInterp(), interp);
  }
  const char *argv[] = {"/usr/bin/invproj"};
  runProjProgram(interp, "proj", normalEnd, 1, argv);
  EXPECT_STREQ(getProgramName(), "invproj");
}

// The programs' own number text must be printf's to the last digit: ties
// round to even, negative values that round to zero keep their sign, and
// subnormals and values near 2^53 go through the integer path too.
TEST(ProjFrame, FixedNumbersMatchPrintf) {
  std::vector<double> values = {0.0,    -0.0,   0.125, 0.375,  -0.125, 2.5,     1.5,
                                0.5,    -0.5,   -0.001, 0.005, 1.005,  1e-320, 5e-324,
                                0.0005, 0.0015, 9007199254740991.0, -4503599627370495.5,
                                99.995, 443426.465, 5622172.335, 1e15 + 0.5};
  uint64_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return seed >> 11;
  };
  for (int i = 0; i < 20000; i++) {
    double unit = static_cast<double>(next()) / 9007199254740992.0;  // [0, 1)
    double magnitude = ldexp(unit, static_cast<int>(next() % 80) - 30);
    values.push_back(next() & 1 ? -magnitude : magnitude);
    values.push_back(static_cast<double>(static_cast<int64_t>(next() % 2000000) - 1000000) / 1000.0 +
                     0.0005);  // near ties at three decimals
  }
  for (double value : values) {
    for (int precision = 0; precision <= 9; precision++) {
      char expected[400];
      snprintf(expected, sizeof expected, "%.*f", precision, value);
      std::string got = "x";
      ASSERT_TRUE(appendFixed(got, value, precision)) << value;
      ASSERT_EQ(got, std::string("x") + expected) << "value " << value << " precision " << precision;
    }
  }
  // Values and precisions it leaves to printf append nothing.
  for (double value : {double(NAN), double(INFINITY), -double(INFINITY), 9007199254740992.0, -1e300}) {
    std::string got;
    EXPECT_FALSE(appendFixed(got, value, 2)) << value;
    EXPECT_EQ(got, "");
  }
  std::string got;
  EXPECT_FALSE(appendFixed(got, 1.0, 10));
  EXPECT_FALSE(appendFixed(got, 1.0, -1));
  EXPECT_EQ(got, "");
}

TEST(ProjFrame, FixedFormatPrecision) {
  const struct {
    const char *format;
    int precision;
  } cases[] = {{"%.2f", 2}, {"%.0f", 0}, {"%.9f", 9},  {"%.10f", -1}, {"%.2g", -1}, {"%5.2f", -1},
               {"%.2f ", -1}, {"%f", -1}, {"%.f", -1}, {"x%.2f", -1}, {"", -1},     {nullptr, -1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.format ? c.format : "(null)");
    EXPECT_EQ(fixedFormatPrecision(c.format), c.precision);
  }
}

// The readers take plain decimals without PROJ's or libc's parsers: each
// text must give the very double, and stop at the very byte, that
// proj_dmstor (angles) and strtod (numbers) give.
TEST(ProjFrame, ReadersMatchProjAndStrtod) {
  std::vector<std::string> texts = {
      "8.198081 50.7",  "-7.5\n",   "+12.25\t",  "  0.0 ",      "-0 ",        "-0.000\n",
      ".5 ",            "5. ",      "179.999999999999", "123456789012345 ", "1234567890123456 ",
      "0.12345678901234567 ", "12d30'E ", "12.5N ", "1e2 ", "0x10 ", "12,5 ", "12.5.3 ",
      "007.25 ",        "1.5r ",    "359.99999999999994\n"};
  uint64_t seed = 99;
  auto next = [&seed] {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return seed >> 33;
  };
  for (int i = 0; i < 20000; i++) {
    char text[64];
    int decimals = static_cast<int>(next() % 18);
    snprintf(text, sizeof text, "%s%u.%0*u%s", next() % 3 == 0 ? "-" : "",
             static_cast<unsigned>(next() % 360), decimals > 9 ? 9 : decimals,
             static_cast<unsigned>(next() % 1000000000), next() & 1 ? " 1\n" : "\n");
    texts.push_back(text);
  }
  for (const std::string &text : texts) {
    SCOPED_TRACE(text);
    char *angleEnd = nullptr, *projEnd = nullptr;
    double angle = readProgramAngle(text.c_str(), &angleEnd);
    double proj = dmsToRadians(text.c_str(), &projEnd);
    EXPECT_EQ(memcmp(&angle, &proj, sizeof angle), 0) << angle << " " << proj;
    EXPECT_EQ(angleEnd, projEnd);
    char *numberEnd = nullptr, *libcEnd = nullptr;
    double number = readProgramNumber(text.c_str(), &numberEnd);
    double libc = strtod(text.c_str(), &libcEnd);
    if (libcEnd == text.c_str()) continue;  // no number: the reader's HUGE_VAL
    EXPECT_EQ(memcmp(&number, &libc, sizeof number), 0) << number << " " << libc;
    EXPECT_EQ(numberEnd, libcEnd);
  }
}
