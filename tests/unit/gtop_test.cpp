// The view geometry of "rimage gtop": segment clipping, visible radii over
// terrain, the focal trace of a vertical view, and the degenerate inputs
// (terrain above the eye, a focal point on its own ray) that must end with
// finite values.
#include <gtest/gtest.h>
#include <math.h>

#include <vector>

#include "processing/gtop.h"

using namespace vesk;

TEST(GtopClip, SegmentsAgainstARectangle) {
  struct Case {
    double x1, y1, x2, y2;
    int inside;
    double cx1, cy1, cx2, cy2;
  } cases[] = {
      {0, 0, 10, 0, 1, 0, 0, 5, 0},       // cut at x = 5
      {-5, 2, 5, 2, 1, 0, 2, 5, 2},       // both ends moved
      {0, -4, 0, 4, 1, 0, -1, 0, 3},      // y bounds
      {6, 0, 9, 0, 0, 0, 0, 0, 0},        // right of the box
      {-2, -2, 8, 8, 1, 0, 0, 3, 3},      // diagonal through a corner
      {1, 1, 2, 2, 1, 1, 1, 2, 2},        // inside: unchanged
  };
  for (const Case &c : cases) {
    double x1 = c.x1, y1 = c.y1, x2 = c.x2, y2 = c.y2;
    int got = clipSegment(&x1, &y1, &x2, &y2, -1, 3, 0, 5);
    EXPECT_EQ(got, c.inside) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
    if (got && c.inside) {
      EXPECT_DOUBLE_EQ(x1, c.cx1);
      EXPECT_DOUBLE_EQ(y1, c.cy1);
      EXPECT_DOUBLE_EQ(x2, c.cx2);
      EXPECT_DOUBLE_EQ(y2, c.cy2);
    }
  }
}

TEST(GtopRadii, FlatGroundGivesOnePixelPerRadius) {
  // Samples at radii 3 .. 7 over a zero DEM: the first sample, then one
  // pixel per integer radius from 3 (3 again, then 4, 5, 6).
  const float image[] = {30, 40, 50, 60, 70};
  const float dem[5] = {0, 0, 0, 0, 0};
  std::vector<float> values;
  int start = 3;
  int n = rayVisibleRadii(image, dem, 5, 1.0, values, 100, 1, 100.0, &start);
  EXPECT_EQ(start, 3);
  ASSERT_EQ(n, 5);
  EXPECT_EQ(values, (std::vector<float>{30, 30, 40, 50, 60}));
}

TEST(GtopRadii, ARidgeHidesWhatLiesBehind) {
  // Eye at 10; the sample at radius 2 stands 5 high: apparent radius 4, so
  // samples 3 (apparent 3) and 4 (apparent 4) are hidden; 5 (apparent 5)
  // shows again and radius 4 is interpolated from it and the hidden 4.
  const float image[] = {0, 10, 20, 30, 40, 50};
  const float dem[] = {0, 0, 5, 0, 0, 0};
  std::vector<float> values;
  int start = 0;
  int n = rayVisibleRadii(image, dem, 6, 1.0, values, 100, 1, 10.0, &start);
  // Sample 0, radius 0 (sample 0), radii 1 to 3 towards the ridge
  // (apparent 4); then sample 5 at apparent 5 makes radius 4 (K = 0: the
  // hidden sample 4).
  ASSERT_EQ(n, 6);
  EXPECT_EQ(start, 0);
  std::vector<float> want{0, 0, 10, 40 / 3.0f, 50 / 3.0f, 40};
  for (int i = 0; i < n; i++) EXPECT_NEAR(values[i], want[i], 1e-5) << i;
}

TEST(GtopRadii, TerrainAboveTheEyeEnds) {
  const float image[] = {1, 2, 3, 4};
  std::vector<float> values;
  int start = 5;
  const float above[] = {200, 0, 0, 0};
  EXPECT_EQ(rayVisibleRadii(image, above, 4, 1.0, values, 1 << 30, 1, 100.0, &start), 0);
  const float level[] = {0, 100, 300, 0};  // level with and above the eye: hidden
  start = 5;
  int n = rayVisibleRadii(image, level, 4, 1.0, values, 1 << 30, 1, 100.0, &start);
  EXPECT_EQ(n, 4);  // sample 0, then radii 5, 6, 7 towards sample 3 at radius 8
  for (float v : values) EXPECT_TRUE(isfinite(v));
}

TEST(GtopTrace, VerticalViewLandsAtScaledRadius) {
  // Target straight below the focal point: a horizontal focal plane at tz.
  double rf, zf, alpha, side;
  focalTrace(50, 40, 100, 50, 40, 10, 80, 40, &rf, &zf, &alpha, &side);
  EXPECT_EQ(rf, 0);
  EXPECT_EQ(zf, 10);
  EXPECT_EQ(alpha, 0);
  EXPECT_GE(side, 0);
  // One sample at radius 30, height 20: s = 30 (100 - 10) / (100 - 20).
  const float image[] = {7};
  const float dem[] = {20};
  std::vector<float> values;
  double rhoA, zA, rhoB, zB;
  int D = rayToFocalTrace(image, dem, 1.0, values, 1, 1, 10, 100.0, 30, alpha, rf, zf, true, 1,
                          &rhoA, &zA, &rhoB, &zB);
  ASSERT_EQ(D, 1);
  EXPECT_NEAR(rhoA, 30.0 * 90 / 80, 1e-12);
  EXPECT_EQ(zA, 10);
  EXPECT_NEAR(rhoB, rhoA + 1, 1e-12);
}

TEST(GtopTrace, ObliqueTraceAndDegenerateRays) {
  double rf, zf, alpha, side;
  // Focal point (0, 0, 100), target (100, 0, 0); the ray along +x lies in
  // the plane of the view: the trace is the focal plane's line z = x - 100
  // at y = 0, whose foot from F is T itself, at 45 degrees.
  focalTrace(0, 0, 100, 100, 0, 0, 50, 0, &rf, &zf, &alpha, &side);
  EXPECT_NEAR(rf, 100, 1e-9);
  EXPECT_NEAR(zf, 0, 1e-9);
  EXPECT_NEAR(alpha, M_PI / 4, 1e-9);
  EXPECT_GT(side, 0);
  // A ray through the focal point itself: finite, alpha 0.
  focalTrace(0, 0, 100, 100, 30, 0, 0, 0, &rf, &zf, &alpha, &side);
  EXPECT_TRUE(isfinite(rf) && isfinite(zf) && isfinite(alpha) && isfinite(side));
  // A sample at the focal height is hidden; a first sample there ends the ray.
  const float image[] = {1, 2};
  const float dem[] = {100, 0};
  std::vector<float> values;
  double a, b, c, d;
  EXPECT_EQ(rayToFocalTrace(image, dem, 1.0, values, 2, 1, 10, 100.0, 5, 0, 0, 0, true, 2, &a, &b,
                            &c, &d),
            0);
  // The maximum count bounds a long ray.
  std::vector<float> many(1000, 3.0f), flat(1000, 0.0f);
  int D = rayToFocalTrace(many.data(), flat.data(), 1.0, values, 1000, 1, 7, 100.0, 0, 0, 0, 0,
                          true, 2, &a, &b, &c, &d);
  EXPECT_EQ(D, 7);
}

// ---- the pieces offered to native callers ----
// References are worked by hand in the comments beside each row.

#include <algorithm>

#include "raster/pixels.h"
#include "tests/unit/raster_images.h"

namespace {

using rastertest::ImagePtr;
using rastertest::memoryImage;

std::vector<float> columnOf(RAMIMG *image, int column, int band) {
  std::vector<float> out;
  for (int r = 0; r < image->header.rows; r++) out.push_back(getPixelValue(image, column, r, band));
  return out;
}

void expectNear(const std::vector<float> &got, const std::vector<float> &want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got[i], want[i], tol) << "at " << i;
}

}  // namespace

TEST(GtopOffered, PointToPhotoTakesTheFirstTwoRowsWithTheHeightScale) {
  const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double X[9] = {1, 0, 0, 0, 0, -1, 0, 1, 0};  // a quarter turn about x
  struct Case {
    const double *M;
    double x, y, z, zs, u, v;
  } cases[] = {
      {I, 3, 4, 5, 2, 3, 4},      // z does not reach u, v
      {X, 3, 4, 5, 2, 3, -10},    // v = -(z x zs)
      {X, 3, 4, 5, 0.5, 3, -2.5},
      {X, 0, 0, 0, 7, 0, 0},      // the target itself
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.zs);
    double u, v;
    ASSERT_TRUE(pointToPhoto(c.M, c.x, c.y, c.z, c.zs, &u, &v));
    EXPECT_DOUBLE_EQ(u, c.u);
    EXPECT_DOUBLE_EQ(v, c.v);
  }
  double u, v;
  EXPECT_FALSE(pointToPhoto(X, NAN, 0, 0, 1, &u, &v));
  EXPECT_FALSE(pointToPhoto(X, 0, 0, 0, INFINITY, &u, &v));  // 0 x inf
}

TEST(GtopOffered, PointToPhotoAgreesWithGroundToPhotoOnTheFocalPlane) {
  // A ground point seen from F crosses the focal plane (through T,
  // perpendicular to F - T) at Q; Q's photo coordinates by the matrix rows
  // equal groundToPhoto's for the ground point (single precision there).
  const double xc = 10, yc = 20, zc = 100, tx = 40, ty = 60, tz = 5;
  double M[9], omega, kappa, N[9];
  viewRotation(M, tx - xc, ty - yc, zc - tz, &omega, &kappa);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) N[3 * i + j] = M[3 * j + i];
  struct Case {
    double x, y, Z, zs;
  } cases[] = {{35, 50, 0, 1}, {60, 90, 12, 2}, {20, 70, -8, 0.5}, {tx, ty, tz, 1}, {-30, 5, 40, 4}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x);
    double u, v;
    ASSERT_TRUE(groundToPhoto(N, zc, c.x - xc, c.y - yc, c.Z, tx - xc, ty - yc, tz, &u, &v));
    const double wx = xc - tx, wy = yc - ty, wz = zc - tz;
    const double dx = c.x - xc, dy = c.y - yc, dz = c.Z - zc;
    const double s = ((tx - xc) * wx + (ty - yc) * wy + (tz - zc) * wz) / (dx * wx + dy * wy + dz * wz);
    const double qx = xc + s * dx, qy = yc + s * dy, qz = zc + s * dz;
    double pu, pv;
    ASSERT_TRUE(pointToPhoto(M, qx - tx, qy - ty, (qz - tz) / c.zs, c.zs, &pu, &pv));
    EXPECT_NEAR(pu, u, 1e-3 * (1 + fabs(u)));
    EXPECT_NEAR(pv, v, 1e-3 * (1 + fabs(v)));
  }
}

TEST(GtopOffered, SegmentWritersFillAColumnOrARow) {
  struct Case {
    const char *what;
    double p1, p2;
    std::vector<float> values;
    int method;
    int written;
    std::vector<float> want;  // the column (6 rows) or row (6 columns) after the write
  } cases[] = {
      // rows 1..3: t = (i - 0.6) / 2.8 = 1/7, 1/2, 6/7 between 10 and 40
      {"linear", 0.6, 3.4, {10, 40}, 2, 3, {-1, 10 + 30 / 7.0f, 25, 10 + 180 / 7.0f, -1, -1}},
      {"nearest", 0.6, 3.4, {10, 40}, 1, 3, {-1, 10, 40, 40, -1, -1}},
      // the same positions given the other way round
      {"reversed", 3.4, 0.6, {10, 40}, 2, 3, {-1, 10 + 180 / 7.0f, 25, 10 + 30 / 7.0f, -1, -1}},
      // three groups over 0..4: group place i / 2
      {"three linear", 0, 4, {0, 100, 200}, 2, 5, {0, 50, 100, 150, 200, -1}},
      {"three nearest", 0, 4, {0, 100, 200}, 1, 5, {0, 100, 100, 200, 200, -1}},
      // a span past both ends: only rows 0..5 written, placed on the whole span
      {"clipped", -3, 9, {0, 120}, 2, 6, {30, 40, 50, 60, 70, 80}},
      // one position: the pixel it falls in takes group 0
      {"point", 2.2, 2.2, {7, 9}, 2, 1, {-1, -1, 7, -1, -1, -1}},
      // -0.5 belongs to pixel 0; 5.5 lies past the last one
      {"edges", -0.5, -0.6, {5}, 1, 1, {5, -1, -1, -1, -1, -1}},
      {"beyond", 5.5, 8, {5}, 1, 0, {-1, -1, -1, -1, -1, -1}},
      {"no method", 0, 4, {1, 2}, 3, 0, {-1, -1, -1, -1, -1, -1}},
      {"not finite", 0, NAN, {1, 2}, 2, 0, {-1, -1, -1, -1, -1, -1}},
  };
  const int band0 = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ImagePtr image = memoryImage(P_FLOAT, 6, 6);
    std::vector<float> minus(6, -1.0f);
    for (int r = 0; r < 6; r++) putFloatBILData(image.get(), r, 0, 6, 0, minus.data());
    const int n = static_cast<int>(c.values.size());
    EXPECT_EQ(gtopFillColumn(image.get(), 2, c.p1, c.p2, 1, &band0, c.values.data(), n, c.method),
              c.written);
    expectNear(columnOf(image.get(), 2, 0), c.want, 1e-4);
    expectNear(columnOf(image.get(), 1, 0), minus, 0);  // its neighbours untouched
    expectNear(columnOf(image.get(), 3, 0), minus, 0);
    EXPECT_EQ(gtopFillRow(image.get(), 4, c.p1, c.p2, 1, &band0, c.values.data(), n, c.method),
              c.written);
    std::vector<float> row(6);
    getFloatBILData(image.get(), 4, 0, 6, 0, row.data());
    std::vector<float> want = c.want;
    if (want[2] == -1) want[2] = c.want[4];  // (2, 4) keeps what the column write left
    expectNear(row, want, 1e-4);
  }
}

TEST(GtopOffered, SegmentWritersMapBandsAndStayInTheImage) {
  ImagePtr image = memoryImage(P_FLOAT, 4, 5, 2);
  // Two groups of two values; value 0 goes to band 1 and value 1 to band 0.
  const float values[] = {10, 100, 30, 300};
  const int bands[] = {1, 0};
  EXPECT_EQ(gtopFillRow(image.get(), 1, 0, 4, 2, bands, values, 2, 2), 5);
  std::vector<float> b0(5), b1(5);
  getFloatBILData(image.get(), 1, 0, 5, 0, b0.data());
  getFloatBILData(image.get(), 1, 0, 5, 1, b1.data());
  expectNear(b1, {10, 15, 20, 25, 30}, 1e-5);
  expectNear(b0, {100, 150, 200, 250, 300}, 1e-4);
  // A row or column outside the image writes nothing.
  EXPECT_EQ(gtopFillRow(image.get(), 4, 0, 4, 2, bands, values, 2, 2), 0);
  EXPECT_EQ(gtopFillRow(image.get(), -1, 0, 4, 2, bands, values, 2, 2), 0);
  EXPECT_EQ(gtopFillColumn(image.get(), 5, 0, 3, 2, bands, values, 2, 2), 0);
  EXPECT_EQ(gtopFillColumn(image.get(), 0, -1e300, 1e300, 2, bands, values, 2, 1), 4);
}

TEST(GtopOffered, RayFixedRadiiInterpolatesVisibleSamples) {
  struct Case {
    const char *what;
    std::vector<float> image, dem;
    double zc, v, r0, dr;
    int count, filled, first;
    std::vector<float> want;
  } cases[] = {
      // Flat ground: apparent radius = radius 3 .. 7; radius 2.5 comes
      // before the first sample, 7.5 .. 8.5 after the last.
      {"flat", {30, 40, 50, 60, 70}, {0, 0, 0, 0, 0}, 100, 3, 2.5, 1, 7, 4, 1,
       {0, 35, 45, 55, 65, 0, 0}},
      // Radii on the samples take them; the first radius is the first sample.
      {"on samples", {30, 40, 50, 60, 70}, {0, 0, 0, 0, 0}, 100, 3, 3, 0.5, 4, 4, 0, {30, 35, 40, 45}},
      // Eye at 10, a 5 high ridge at radius 2 shows at apparent radius 4
      // and hides radii 3 (apparent 3) and 4 (apparent 4); radius 5 shows
      // again, 4.5 between the hidden sample 4 (40) and sample 5 (50).
      {"ridge", {0, 10, 20, 30, 40, 50}, {0, 0, 5, 0, 0, 0}, 10, 0, 0.5, 1, 6, 5, 0,
       {5, 10 + 10 / 6.0f, 15, 10 + 50 / 6.0f, 45, 0}},
      // A height at the eye hides all behind it.
      {"wall", {0, 10, 20, 30}, {0, 0, 10, 0}, 10, 0, 0.5, 1, 4, 1, 0, {5, 0, 0, 0}},
      // The first sample at or above the eye: nothing is seen.
      {"eye in the ground", {1, 2, 3}, {200, 0, 0}, 100, 5, 5, 1, 3, 0, 0, {0, 0, 0}},
      // Every fixed radius before the first sample, or a step that is not positive.
      {"short", {1, 2}, {0, 0}, 100, 50, 0, 1, 3, 0, 0, {0, 0, 0}},
      {"zero step", {1, 2}, {0, 0}, 100, 0, 0, 0, 3, 0, 0, {0, 0, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<float> values(static_cast<size_t>(c.count), -1.0f);
    int first = -1;
    const int got = rayFixedRadii(c.image.data(), c.dem.data(), static_cast<int>(c.image.size()), 1.0,
                                  c.zc, c.v, c.r0, c.dr, c.count, 1, values.data(), &first);
    EXPECT_EQ(got, c.filled);
    EXPECT_EQ(first, c.first);
    expectNear(values, c.want, 1e-4);
  }
  // Two bands stay interleaved, and the height scale lifts the ridge:
  // 2.5 x zs 2 = the 5 high ridge of the table.
  const float image[] = {0, 1, 10, 11, 20, 21, 30, 31, 40, 41, 50, 51};
  const float dem[] = {0, 0, 2.5f, 0, 0, 0};
  std::vector<float> values(12);
  int first;
  EXPECT_EQ(rayFixedRadii(image, dem, 6, 2.0, 10, 0, 0.5, 1, 6, 2, values.data(), &first), 5);
  expectNear(values, {5, 6, 10 + 10 / 6.0f, 11 + 10 / 6.0f, 15, 16, 10 + 50 / 6.0f, 11 + 50 / 6.0f,
                      45, 46, 0, 0},
             1e-4);
}

TEST(GtopOffered, ROrientCentredPutsTheGroundInTheMiddleOfThePhoto) {
  // A vertical view from 100 over a target at height 50 halves the
  // ground: u = 0.5 x, v = 0.5 y.  An 8 x 6 ground projects to a 3.5 x 2.5
  // box, centred in a 5 x 4 photo whatever the focal point: column c
  // reads photo column trunc(0.25 + 0.5 c + 0.5), row r photo row
  // trunc(0.25 + 0.5 r + 0.5).
  const int photoColumn[8] = {0, 1, 1, 2, 2, 3, 3, 4}, photoRow[6] = {0, 1, 1, 2, 2, 3};
  const double focal[][2] = {{0, 0}, {3.5, 2.5}, {7, 5}, {-20, 13}};
  for (const auto &f : focal) {
    SCOPED_TRACE(f[0]);
    ImagePtr photo = memoryImage(P_FLOAT, 4, 5);
    for (int r = 0; r < 4; r++)
      for (int c = 0; c < 5; c++) {
        const float value = static_cast<float>(10 * r + c + 1);
        putFloatBILData(photo.get(), r, c, 1, 0, &value);
      }
    ImagePtr ground = memoryImage(P_FLOAT, 6, 8);
    GtopWork w;
    w.in = photo.get();
    w.out = ground.get();
    w.xc = f[0], w.yc = f[1], w.zc = 100;
    w.tx = f[0], w.ty = f[1], w.tz = 50;
    w.outRows = 6, w.outColumns = 8;
    w.source = {0};
    w.dest = {0};
    ASSERT_EQ(rOrientCentred(&w), 1);
    for (int r = 0; r < 6; r++)
      for (int c = 0; c < 8; c++)
        EXPECT_EQ(getPixelValue(ground.get(), c, r, 0), 10 * photoRow[r] + photoColumn[c] + 1)
            << c << "," << r;
  }
}

TEST(GtopOffered, ROrientCentredFitsAnObliqueViewIntoAPhotoOfItsBox) {
  // Oblique: the ground's projection is a trapezoid whose box is measured
  // with groundToPhoto; a photo of the box's size (plus one pixel) then
  // covers every ground pixel, while the target-centred rOrient mapping
  // leaves part of the ground outside it.
  GtopWork w;
  w.xc = -40, w.yc = 10, w.zc = 60, w.tx = 20, w.ty = 12, w.tz = 0;
  w.ex = w.tx - w.xc, w.ey = w.ty - w.yc, w.ez = w.tz - w.zc;
  double omega, kappa;
  viewRotation(w.M, w.ex, w.ey, -w.ez, &omega, &kappa);
  double N[9];
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) N[3 * i + j] = w.M[3 * j + i];
  const int rows = 24, columns = 40;
  double umin = HUGE_VAL, umax = -HUGE_VAL, vmin = HUGE_VAL, vmax = -HUGE_VAL;
  for (double x : {0.0, columns - 1.0})
    for (double y : {0.0, rows - 1.0}) {
      double u, v;
      ASSERT_TRUE(groundToPhoto(N, w.zc, x - w.xc, y - w.yc, 0, w.ex, w.ey, w.tz, &u, &v));
      umin = std::min(umin, u), umax = std::max(umax, u);
      vmin = std::min(vmin, v), vmax = std::max(vmax, v);
    }
  ASSERT_GT(fabs(umin + umax) + fabs(vmin + vmax), 4.0);  // the target is off the box's centre
  const int photoColumns = static_cast<int>(ceil(umax - umin)) + 2;
  const int photoRows = static_cast<int>(ceil(vmax - vmin)) + 2;
  ImagePtr photo = memoryImage(P_BYTE, photoRows, photoColumns);
  std::vector<float> ones(static_cast<size_t>(photoColumns), 1.0f);
  for (int r = 0; r < photoRows; r++) putFloatBILData(photo.get(), r, 0, photoColumns, 0, ones.data());
  ImagePtr ground = memoryImage(P_BYTE, rows, columns);
  w.in = photo.get();
  w.out = ground.get();
  w.outRows = rows, w.outColumns = columns;
  w.source = {0};
  w.dest = {0};
  ASSERT_EQ(rOrientCentred(&w), 1);
  int zeros = 0;
  for (int r = 0; r < rows; r++)
    for (int c = 0; c < columns; c++) zeros += getPixelValue(ground.get(), c, r, 0) == 0;
  EXPECT_EQ(zeros, 0);
}
