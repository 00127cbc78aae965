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
