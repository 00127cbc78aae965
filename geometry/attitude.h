/*
 * attitude.h --
 *     Sensor attitudes: rotation matrices built from three angles in one
 *     of six orders, angles derived back, quaternions, the view direction
 *     and aiming at a ground point.  A matrix maps ground vectors to
 *     camera vectors (camera = R ground), row-major.
 */
#ifndef VESK_GEOMETRY_ATTITUDE_H
#define VESK_GEOMETRY_ATTITUDE_H

namespace vesk {

/* The rotation orders of the rotationid vocabulary. */
enum RotationId { ROT_UNKNOWN, ROT_ZYX, ROT_ZXY, ROT_YXZ, ROT_YZX, ROT_XYZ, ROT_XZY };

/* Sines and cosines of the X, Y and Z angles. */
struct AxisTrig {
  double sinX = 0, cosX = 1, sinY = 0, cosY = 1, sinZ = 0, cosZ = 1;
};

/* R for the order; an unknown order leaves R as it was. */
void buildRotationMatrix(int rotationid, const AxisTrig &trig, double *R);

/*
 * The angles (degrees, within +-90) of R under the order, each less its
 * offset; an unknown order leaves them.  Arguments of asin are clamped
 * to [-1, 1] so that rounding never gives NaN.
 */
void anglesFromMatrix(int rotationid, const double *R, const double *offsets, double *angles);

/* w x y z of R (Shepperd's method: finite for every rotation, w >= 0). */
void quaternionFromMatrix(const double *R, double *q);
void matrixFromQuaternion(const double *q, double *R);

void viewDirection(const double *R, double *d);

/*
 * The ZXY matrix that looks from the centre at the target.  Results: 1,
 * 0 when the target is the centre (R unchanged).
 */
int aimAtPoint(const double *target, const double *centre, double *R);

/* Spherical interpolation; never NaN (near-equal or opposite inputs blend linearly). */
void quaternionSlerp(const double *q1, const double *q2, double t, double *out);

}  // namespace vesk

#endif
