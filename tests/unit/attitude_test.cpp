// Attitude rotations: the six orders against numpy, angles back from a
// matrix, quaternions (scipy), half turns, aiming, and slerp.
#include <gtest/gtest.h>
#include <math.h>

#include "geometry/attitude.h"
#include "tests/data/attitude/attitude_reference.h"

using namespace vesk;

namespace {

AxisTrig trigOf(double ax, double ay, double az) {
  const double k = M_PI * 0.005555555555555556;
  AxisTrig t;
  t.sinX = sin(ax * k), t.cosX = cos(ax * k);
  t.sinY = sin(ay * k), t.cosY = cos(ay * k);
  t.sinZ = sin(az * k), t.cosZ = cos(az * k);
  return t;
}

}  // namespace

TEST(Attitude, SixOrdersEqualTheProductsAndGiveTheirAnglesBack) {
  const int orders[6] = {ROT_ZYX, ROT_ZXY, ROT_YXZ, ROT_YZX, ROT_XYZ, ROT_XZY};
  const double offsets[3] = {1, 2, 3};
  for (int k = 0; k < 6; k++) {
    double R[9];
    buildRotationMatrix(orders[k], trigOf(10, 20, 30), R);
    for (int i = 0; i < 9; i++) EXPECT_NEAR(R[i], kRotations[k][i], 1e-15) << k << " " << i;
    double angles[3];
    anglesFromMatrix(orders[k], R, offsets, angles);
    EXPECT_NEAR(angles[0], 9, 1e-12) << k;
    EXPECT_NEAR(angles[1], 18, 1e-12) << k;
    EXPECT_NEAR(angles[2], 27, 1e-12) << k;
  }
  double R[9] = {5, 5, 5, 5, 5, 5, 5, 5, 5};
  buildRotationMatrix(ROT_UNKNOWN, trigOf(10, 20, 30), R);
  EXPECT_EQ(R[4], 5);
  buildRotationMatrix(ROT_ZYX, trigOf(90, 0, 0), R);
  const double want[9] = {1, 0, 0, 0, 0, 1, 0, -1, 0};
  for (int i = 0; i < 9; i++) EXPECT_NEAR(R[i], want[i], 1e-15);
}

TEST(Attitude, QuaternionsOfMatricesAndBack) {
  double q[4], R[9];
  quaternionFromMatrix(kRotations[1], q);
  for (int i = 0; i < 4; i++) EXPECT_NEAR(q[i], kZxyQuaternion[i], 1e-12) << i;
  matrixFromQuaternion(q, R);
  for (int i = 0; i < 9; i++) EXPECT_NEAR(R[i], kRotations[1][i], 1e-15);
  const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  quaternionFromMatrix(identity, q);
  EXPECT_EQ(q[0], 1);
  EXPECT_EQ(q[1], 0);
  /* half turns about each axis: finite, and they rebuild their matrix */
  for (auto trig : {trigOf(0, 0, 180), trigOf(180, 0, 0), trigOf(0, 180, 0)}) {
    double H[9];
    buildRotationMatrix(ROT_ZXY, trig, H);
    quaternionFromMatrix(H, q);
    for (double v : q) EXPECT_TRUE(std::isfinite(v));
    EXPECT_NEAR(fabs(q[0]), 0, 1e-12);
    matrixFromQuaternion(q, R);
    for (int i = 0; i < 9; i++) EXPECT_NEAR(R[i], H[i], 1e-12);
  }
  /* an unnormalised quaternion's matrix still yields angles, not NaN */
  const double big[4] = {2, 0, 0, 1};
  matrixFromQuaternion(big, R);
  const double none[3] = {0, 0, 0};
  double angles[3];
  for (int order : {ROT_ZYX, ROT_ZXY, ROT_YXZ, ROT_YZX, ROT_XYZ, ROT_XZY}) {
    anglesFromMatrix(order, R, none, angles);
    for (double a : angles) EXPECT_FALSE(std::isnan(a)) << order;
  }
}

TEST(Attitude, AimingStraightDownAndAside) {
  double R[9];
  const double below[3] = {10, 20, 0}, centre[3] = {10, 20, 1000};
  ASSERT_EQ(aimAtPoint(below, centre, R), 1);
  const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; i++) EXPECT_NEAR(R[i], identity[i], 1e-15);
  EXPECT_EQ(aimAtPoint(centre, centre, R), 0);
  /* the view direction of an aimed sensor points at the target, on every side */
  for (double sx : {-1.0, 1.0})
    for (double sy : {-1.0, 1.0}) {
      const double target[3] = {10 + 300 * sx, 20 + 400 * sy, 0};
      ASSERT_EQ(aimAtPoint(target, centre, R), 1);
      double d[3];
      viewDirection(R, d);
      const double g = sqrt(300.0 * 300 + 400.0 * 400 + 1000.0 * 1000);
      EXPECT_NEAR(d[0], 300 * sx / g, 1e-12) << sx << sy;
      EXPECT_NEAR(d[1], 400 * sy / g, 1e-12) << sx << sy;
      EXPECT_NEAR(d[2], -1000 / g, 1e-12);
    }
}

TEST(Attitude, SlerpNeverGivesNaN) {
  const double a[4] = {1, 0, 0, 0}, b[4] = {0, 1, 0, 0}, minus[4] = {-1, 0, 0, 0};
  const double big[4] = {2, 0, 0, 0};
  double q[4];
  quaternionSlerp(a, b, 0.5, q);
  EXPECT_EQ(q[0], sqrt(2.0) / 2);
  EXPECT_EQ(q[1], sqrt(2.0) / 2);
  quaternionSlerp(a, a, 0.3, q);
  EXPECT_EQ(q[0], 1);
  quaternionSlerp(a, minus, 0.25, q);
  EXPECT_DOUBLE_EQ(q[0], 0.5);
  quaternionSlerp(big, a, 0.5, q);  /* dot 2: clamped */
  for (double v : q) EXPECT_TRUE(std::isfinite(v));
}
