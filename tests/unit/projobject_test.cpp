// The payload of projection objects: configuration, the point pair kept in
// step, the subcommands, formats, limits, saving and loading.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "geometry/projcmd.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

struct Payload {
  ProjObject *object = newProjObject();
  ~Payload() { freeProjObject(object); }
  int configure(std::vector<const char *> words, int flags = TK_CONFIG_ARGV_ONLY) {
    Tcl_ResetResult(testInterp());
    return configureProjObject(testInterp(), object, static_cast<int>(words.size()),
                               words.data(), flags);
  }
  int run(std::vector<const char *> words) {
    Tcl_ResetResult(testInterp());
    words.insert(words.begin(), "p");
    return projObjectSubcommand(testInterp(), object, "p", static_cast<int>(words.size()),
                                words.data());
  }
};

std::string result() { return Tcl_GetStringResult(testInterp()); }

bool haveTk() { return Tk_MainWindow(testInterp()) != nullptr; }

}  // namespace

TEST(ProjObject, DefaultsGiveUtm) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  ASSERT_EQ(p.configure({}, 0), TCL_OK) << result();
  EXPECT_STREQ(p.object->projdef, "proj=utm");
  ASSERT_EQ(p.run({"type"}), TCL_OK);
  EXPECT_EQ(result(), "utm");
  // echo "3 0" | proj -f %.9f +proj=utm +ellps=WGS84  ->  1168881.688527471  0.000000000
  ASSERT_EQ(p.run({"project", "3", "0"}), TCL_OK);
  EXPECT_EQ(result(), "1168881.68853 0");
}

// echo "15 50" | proj -f %.9f +proj=utm +zone=33 +ellps=WGS84 -> 500000.000000001 5538630.702867474
TEST(ProjObject, ProjectBothWaysAndKeepThePairInStep) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  ASSERT_EQ(p.configure({"-projdef", "proj=utm zone=33 ellps=WGS84", "-fmtxy", "%.6f"}, 0),
            TCL_OK) << result();
  ASSERT_EQ(p.run({"project", "15", "50"}), TCL_OK);
  EXPECT_EQ(result(), "500000.000000 5538630.702867");
  ASSERT_EQ(p.configure({"-inv", "1", "-x", "500000", "-y", "5538630.702867474"}), TCL_OK);
  EXPECT_NEAR(p.object->longitude, 15, 1e-9);
  EXPECT_NEAR(p.object->latitude, 50, 1e-9);
  ASSERT_EQ(p.configure({"-inv", "0", "-longitude", "10", "-latitude", "50"}), TCL_OK);
  // echo "10 50" | proj -f %.6f +proj=utm +zone=33 +ellps=WGS84 -> 141743.632239 5550619.375419
  ASSERT_EQ(p.run({"projget", "-x"}), TCL_OK);
  EXPECT_NEAR(atof(result().c_str()), 141743.632239, 1e-6);
  ASSERT_EQ(p.run({"projget", "-y"}), TCL_OK);
  EXPECT_NEAR(atof(result().c_str()), 5550619.375419, 1e-6);
}

TEST(ProjObject, MercatorInverse) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  ASSERT_EQ(p.configure({"-projdef", "proj=merc ellps=WGS84", "-inv", "1"}, 0), TCL_OK);
  ASSERT_EQ(p.run({"project", "0", "0"}), TCL_OK);
  EXPECT_EQ(result(), "0 0");
  // echo "1113194.907932735 6446275.841017158" | proj -I -f %.12f +proj=merc +ellps=WGS84
  //   -> 10.000000000000  50.189264859104
  ASSERT_EQ(p.run({"project", "1113194.907932735", "6446275.841017158"}), TCL_OK);
  EXPECT_EQ(result(), "10 50.1892648591");
}

TEST(ProjObject, Errors) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  ASSERT_EQ(p.configure({"-projdef", "proj=merc ellps=WGS84"}, 0), TCL_OK);
  struct Case {
    std::vector<const char *> words;
    const char *message;
  } cases[] = {
      {{"project", "1"}, "Usage: p project u v"},
      {{"projget"}, "Usage: p projget option"},
      {{"proj"}, "Usage: p command (cget class clone close config count info projconfigure "
                 "params project projget save type version)"},
      {{"inf"}, "Usage: p command (cget class clone close config count info projconfigure "
                "params project projget save type version)"},
      {{"projconfigure", "-bogus", "1"}, "unknown option \"-bogus\""},
      {{"projconfigure", "-projdef", "proj=bogus"}, "Error in allocating projection: proj=bogus"},
      {{"projconfigure", "-fmtxy", "%s"},
       "bad -fmtxy format \"%s\": must hold one floating-point conversion such as %.12g"},
      {{"projconfigure", "-fmtll", "%g %g"},
       "bad -fmtll format \"%g %g\": must hold one floating-point conversion such as %.12g"},
      {{"projconfigure", "-fmtll", "%n"},
       "bad -fmtll format \"%n\": must hold one floating-point conversion such as %.12g"},
      {{"projconfigure", "-fmtll", "%999f"},
       "bad -fmtll format \"%999f\": must hold one floating-point conversion such as %.12g"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(p.run(c.words), TCL_ERROR);
    EXPECT_EQ(result(), c.message);
  }
  // Refusals left the options and the projection as they were; a refused
  // definition stays in its option and is tried again on the next configure.
  EXPECT_STREQ(p.object->fmtxy, "%.12g");
  ASSERT_EQ(p.run({"type"}), TCL_OK);
  EXPECT_EQ(result(), "merc");
  EXPECT_STREQ(p.object->projdef, "proj=bogus");
  EXPECT_EQ(p.run({"projconfigure", "-inv", "0"}), TCL_ERROR);
  EXPECT_EQ(result(), "Error in allocating projection: proj=bogus");
  ASSERT_EQ(p.run({"projconfigure", "-projdef", "proj=merc ellps=WGS84"}), TCL_OK);
  // A format with text around one conversion is fine.
  ASSERT_EQ(p.run({"projconfigure", "-fmtxy", "x=%+08.2f%%"}), TCL_OK) << result();
  ASSERT_EQ(p.run({"project", "0", "0"}), TCL_OK);
  EXPECT_EQ(result(), "x=+0000.00% x=+0000.00%");
}

TEST(ProjObject, OverlongDefinitionIsRefused) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  ASSERT_EQ(p.configure({"-projdef", "proj=merc"}, 0), TCL_OK);
  std::string longDef = "proj=merc ellps=WGS84 lon_0=0" + std::string(230, ' ');
  ASSERT_GT(longDef.size(), 255u);
  EXPECT_EQ(p.configure({"-projdef", longDef.c_str(), "-inv", "1"}), TCL_ERROR);
  EXPECT_EQ(result(), "projection definition longer than 255 characters");
  EXPECT_STREQ(p.object->projdef, "proj=merc");
  EXPECT_EQ(p.object->inv, 0);
}

TEST(ProjObject, EmptyDefinitionLeavesNoProjection) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  ASSERT_EQ(p.configure({}, 0), TCL_OK);
  ASSERT_EQ(p.configure({"-projdef", ""}), TCL_OK) << result();
  EXPECT_EQ(p.object->pj, nullptr);
  EXPECT_EQ(p.run({"project", "1", "2"}), TCL_ERROR);
  EXPECT_EQ(result(), "projection function not defined");
  for (const char *sub : {"info", "params", "type"}) {
    EXPECT_EQ(p.run({sub}), TCL_OK);
    EXPECT_EQ(result(), "");
  }
}

TEST(ProjObject, InverseNotAvailable) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  // adams_ws1 has no inverse.
  ASSERT_EQ(p.configure({"-projdef", "proj=adams_ws1 R=6400000"}, 0), TCL_OK) << result();
  EXPECT_EQ(p.configure({"-inv", "1"}), TCL_ERROR);
  EXPECT_EQ(result(), "inverse projection not available");
  EXPECT_EQ(p.run({"project", "1", "1"}), TCL_ERROR);
  EXPECT_EQ(result(), "projection is not inversible");
  EXPECT_EQ(projectionOps.hasInverse(p.object), 0);
}

TEST(ProjObject, ParamsInfoAndReversedWord) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  ASSERT_EQ(p.configure({"-projdef", "proj=utm zone=32 -r"}, 0), TCL_OK) << result();
  EXPECT_EQ(projectionOps.isReversed(p.object), 1);
  ASSERT_EQ(p.run({"params"}), TCL_OK);
  EXPECT_EQ(result(), "proj=utm zone=32 -r ellps=WGS84");
  ASSERT_EQ(p.run({"info"}), TCL_OK);
  EXPECT_EQ(result(),
            "{a 6378137.000000} {e 0.081819} {lam0 0.157080} {phi0 0.000000} "
            "{x0 500000.000000} {y0 0.000000} {k0 0.999600} {to_meter 1.000000} "
            "{fr_meter 1.000000} {datum_type UNKNOWN} "
            "{datum_params 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000}");
  double x, y, lon, lat;
  ASSERT_TRUE(projectionOps.forward(p.object, 9, 48, &x, &y));
  EXPECT_NEAR(x, 500000.0, 1e-6);
  EXPECT_NEAR(y, 5316300.224451495, 1e-6);
  ASSERT_TRUE(projectionOps.inverse(p.object, x, y, &lon, &lat));
  EXPECT_NEAR(lon, 9, 1e-9);
  EXPECT_NEAR(lat, 48, 1e-9);
  ASSERT_EQ(p.configure({"-projdef", "proj=utm zone=32"}), TCL_OK);
  EXPECT_EQ(projectionOps.isReversed(p.object), 0);
}

TEST(ProjObject, SaveLoadAndClone) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  ASSERT_EQ(p.configure({"-projdef", "proj=merc ellps=clrk66", "-fmtxy", "%.1f"}, 0), TCL_OK);
  char path[] = "/tmp/veskprojdefXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(saveProjObject(p.object, path), 1);
  ProjObject *loaded = loadProjObject(testInterp(), path);
  ASSERT_NE(loaded, nullptr);
  EXPECT_STREQ(loaded->projdef, "proj=merc ellps=clrk66");
  EXPECT_STREQ(loaded->fmtxy, "%.12g");
  freeProjObject(loaded);
  ProjObject *copy = cloneProjObject(testInterp(), p.object);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->projdef, "proj=merc ellps=clrk66");
  EXPECT_STREQ(copy->fmtxy, "%.12g");
  freeProjObject(copy);
  EXPECT_EQ(loadProjObject(testInterp(), "/nonexistent/def"), nullptr);
  FILE *file = fopen(path, "w");
  fputs("proj=bogus\n", file);
  fclose(file);
  EXPECT_EQ(loadProjObject(testInterp(), path), nullptr);
  // An empty file is an empty definition: a payload without a projection.
  file = fopen(path, "w");
  fclose(file);
  ProjObject *none = loadProjObject(testInterp(), path);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->pj, nullptr);
  freeProjObject(none);
  unlink(path);

  // A source whose new definition PROJ refused clones into a payload that
  // holds the text and no projection, and can be configured further.
  EXPECT_EQ(p.configure({"-projdef", "proj=bogus"}), TCL_ERROR);
  ProjObject *refused = cloneProjObject(testInterp(), p.object);
  ASSERT_NE(refused, nullptr);
  EXPECT_STREQ(refused->projdef, "proj=bogus");
  EXPECT_EQ(refused->pj, nullptr);
  EXPECT_STREQ(refused->fmtxy, "%.12g");
  const char *merc[] = {"-projdef", "proj=merc"};
  EXPECT_EQ(configureProjObject(testInterp(), refused, 2, merc, TK_CONFIG_ARGV_ONLY), TCL_OK);
  EXPECT_NE(refused->pj, nullptr);
  freeProjObject(refused);

  Payload empty;
  ASSERT_EQ(empty.configure({"-projdef", "", "-fmtll", "%.3f"}, 0), TCL_OK);
  EXPECT_EQ(saveProjObject(empty.object, "/tmp/never-written"), 0);
  ProjObject *blank = cloneProjObject(testInterp(), empty.object);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(blank->pj, nullptr);
  EXPECT_STREQ(blank->fmtll, "%.3f");
  freeProjObject(blank);
}

// The table native clients reach through a projection object's methods.
TEST(ProjObject, ProjectionOpsForNativeClients) {
  if (!haveTk()) GTEST_SKIP() << "no display";
  Payload p;
  ASSERT_EQ(p.configure({"-projdef", "proj=utm zone=33 ellps=WGS84"}, 0), TCL_OK) << result();
  void *payload = p.object;
  EXPECT_EQ(projectionOps.hasInverse(payload), 1);
  EXPECT_EQ(projectionOps.isReversed(payload), p.object->reversed);
  double x = 0, y = 0, lon = 0, lat = 0;
  // echo "15 50" | proj -f %.9f +proj=utm +zone=33 +ellps=WGS84
  ASSERT_EQ(projectionOps.forward(payload, 15, 50, &x, &y), 1);
  EXPECT_NEAR(x, 500000.000000001, 1e-6);
  EXPECT_NEAR(y, 5538630.702867474, 1e-6);
  ASSERT_EQ(projectionOps.inverse(payload, x, y, &lon, &lat), 1);
  EXPECT_NEAR(lon, 15, 1e-9);
  EXPECT_NEAR(lat, 50, 1e-9);
}
