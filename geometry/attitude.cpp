/*
 * attitude.cpp --
 *     Rotation matrices of sensor attitudes, their angles and
 *     quaternions, and the command "quaternion.slerp".
 */
#include "geometry/attitude.h"

#include "geometry/camera.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <tcl.h>

namespace vesk {
namespace {

void mul3(const double *A, const double *B, double *out) {
  double t[9];
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      t[3 * i + j] = A[3 * i] * B[j] + A[3 * i + 1] * B[3 + j] + A[3 * i + 2] * B[6 + j];
  memcpy(out, t, sizeof t);
}

/* Three elementary matrices multiplied, the rightmost acting first. */
void product(const double *A, const double *B, const double *C, double *R) {
  double scratch[9];
  mul3(B, C, scratch);
  mul3(A, scratch, R);
}

constexpr double kDegrees = 180 * 0.3183098861837907;

double clampedAsin(double x) { return asin(std::max(-1.0, std::min(1.0, x))); }

}  // namespace

void buildRotationMatrix(int rotationid, const AxisTrig &t, double *R) {
  const double Mx[9] = {1, 0, 0, 0, t.cosX, t.sinX, 0, -t.sinX, t.cosX};
  const double My[9] = {t.cosY, 0, -t.sinY, 0, 1, 0, t.sinY, 0, t.cosY};
  const double Mz[9] = {t.cosZ, t.sinZ, 0, -t.sinZ, t.cosZ, 0, 0, 0, 1};
  switch (rotationid) {
    case ROT_ZYX: product(Mx, My, Mz, R); break;
    case ROT_ZXY: product(My, Mx, Mz, R); break;
    case ROT_YXZ: product(Mz, Mx, My, R); break;
    case ROT_YZX: product(Mx, Mz, My, R); break;
    case ROT_XYZ: product(Mz, My, Mx, R); break;
    case ROT_XZY: product(My, Mz, Mx, R); break;
    default: break;
  }
}

void anglesFromMatrix(int rotationid, const double *R, const double *offsets, double *angles) {
  const double r11 = R[0], r12 = R[1], r13 = R[2], r21 = R[3], r22 = R[4], r23 = R[5];
  const double r31 = R[6], r32 = R[7], r33 = R[8];
  double a[3];
  switch (rotationid) {
    case ROT_ZYX: a[0] = atan(r23 / r33), a[1] = clampedAsin(-r13), a[2] = atan(r12 / r11); break;
    case ROT_ZXY: a[0] = clampedAsin(r23), a[1] = atan(-r13 / r33), a[2] = atan(-r21 / r22); break;
    case ROT_YXZ: a[0] = clampedAsin(-r32), a[1] = atan(r31 / r33), a[2] = atan(r12 / r22); break;
    case ROT_YZX: a[0] = atan(-r32 / r22), a[1] = atan(-r13 / r11), a[2] = clampedAsin(r12); break;
    case ROT_XYZ: a[0] = atan(-r32 / r33), a[1] = clampedAsin(r31), a[2] = atan(-r21 / r11); break;
    /* r31 / r11 = tan Y for this order: the angle comes back with its own sign */
    case ROT_XZY: a[0] = atan(r23 / r22), a[1] = atan(r31 / r11), a[2] = clampedAsin(-r21); break;
    default: return;
  }
  for (int i = 0; i < 3; i++) angles[i] = a[i] * kDegrees - offsets[i];
}

/*
 * quaternionFromMatrix --
 *     Branches on the largest of the trace and the diagonal, so that the
 *     divisor is never small; the trace branch is the plain formula.
 */
void quaternionFromMatrix(const double *R, double *q) {
  const double r11 = R[0], r12 = R[1], r13 = R[2], r21 = R[3], r22 = R[4], r23 = R[5];
  const double r31 = R[6], r32 = R[7], r33 = R[8];
  const double trace = r11 + r22 + r33;
  double w, x, y, z;
  if (trace >= r11 && trace >= r22 && trace >= r33) {
    const double k = 2 * sqrt(std::max(0.0, trace + 1));
    if (k == 0) {
      q[0] = 1, q[1] = q[2] = q[3] = 0;
      return;
    }
    w = k / 4, x = (r23 - r32) / k, y = (r31 - r13) / k, z = (r12 - r21) / k;
  } else if (r11 >= r22 && r11 >= r33) {
    const double k = 2 * sqrt(std::max(0.0, 1 + r11 - r22 - r33));
    x = k / 4, w = (r23 - r32) / k, y = (r12 + r21) / k, z = (r13 + r31) / k;
  } else if (r22 >= r33) {
    const double k = 2 * sqrt(std::max(0.0, 1 + r22 - r11 - r33));
    y = k / 4, w = (r31 - r13) / k, x = (r12 + r21) / k, z = (r23 + r32) / k;
  } else {
    const double k = 2 * sqrt(std::max(0.0, 1 + r33 - r11 - r22));
    z = k / 4, w = (r12 - r21) / k, x = (r13 + r31) / k, y = (r23 + r32) / k;
  }
  if (!std::isfinite(w) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
    q[0] = 1, q[1] = q[2] = q[3] = 0;
    return;
  }
  const double s = w < 0 ? -1 : 1;
  q[0] = s * w, q[1] = s * x, q[2] = s * y, q[3] = s * z;
}

void matrixFromQuaternion(const double *q, double *R) {
  const double w = q[0], x = q[1], y = q[2], z = q[3];
  R[0] = 1 - 2 * y * y - 2 * z * z;
  R[1] = 2 * (x * y + w * z);
  R[2] = 2 * (x * z - w * y);
  R[3] = 2 * (x * y - w * z);
  R[4] = 1 - 2 * x * x - 2 * z * z;
  R[5] = 2 * (y * z + w * x);
  R[6] = 2 * (x * z + w * y);
  R[7] = 2 * (y * z - w * x);
  R[8] = 1 - 2 * x * x - 2 * y * y;
}

void viewDirection(const double *R, double *d) {
  d[0] = -R[6];
  d[1] = -R[7];
  d[2] = -R[8];
}

int aimAtPoint(const double *target, const double *centre, double *R) {
  const double b = centre[0] - target[0], c = target[1] - centre[1];
  const double h = sqrt(b * b + c * c), d = centre[2] - target[2];
  const double g = sqrt(h * h + d * d);
  if (g == 0) return 0;
  AxisTrig t;
  /* Tilted by the whole angle towards the target whichever side it lies:
     the Z rotation already turns the view to it. */
  t.sinX = h / g;
  t.cosX = d / g;
  t.sinY = 0, t.cosY = 1;
  if (h == 0) {
    t.sinZ = 0, t.cosZ = 1;
  } else {
    t.sinZ = b / h, t.cosZ = c / h;
  }
  buildRotationMatrix(ROT_ZXY, t, R);
  return 1;
}

/*
 * quaternionSlerp --
 *     The weights in extended precision, so that the halfway point of two
 *     orthogonal quaternions is sqrt(2)/2 to the last digit.
 */
void quaternionSlerp(const double *q1, const double *q2, double t, double *out) {
  long double dot = 0;
  for (int i = 0; i < 4; i++) dot += static_cast<long double>(q1[i]) * q2[i];
  dot = std::max(-1.0L, std::min(1.0L, dot));
  const long double theta = acosl(dot), s = sinl(theta);
  long double a, b;
  if (!(fabsl(s) > 1e-12L)) {
    a = 1 - t;
    b = t;
  } else {
    a = sinl((1 - t) * theta) / s;
    b = sinl(t * theta) / s;
  }
  for (int i = 0; i < 4; i++) out[i] = static_cast<double>(a * q1[i] + b * q2[i]);
}

namespace {

/* "quaternion.slerp q1 q2 timeInterval" */
int quaternionSlerpCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " q1 q2 timeInterval", nullptr);
    return TCL_ERROR;
  }
  double q1[4], q2[4];
  if (sscanf(argv[1], "%lf %lf %lf %lf", &q1[0], &q1[1], &q1[2], &q1[3]) != 4 ||
      sscanf(argv[2], "%lf %lf %lf %lf", &q2[0], &q2[1], &q2[2], &q2[3]) != 4 ||
      !std::all_of(q1, q1 + 4, [](double v) { return std::isfinite(v); }) ||
      !std::all_of(q2, q2 + 4, [](double v) { return std::isfinite(v); })) {
    Tcl_SetResult(interp, const_cast<char *>("Error in parsing quaternions"), TCL_STATIC);
    return TCL_ERROR;
  }
  double t;
  if (Tcl_GetDouble(nullptr, argv[3], &t) != TCL_OK || !(t >= 0 && t <= 1)) {
    Tcl_SetResult(interp, const_cast<char *>("Invalid timeInterveral (must be between 0 and 1)"),
                  TCL_STATIC);
    return TCL_ERROR;
  }
  double q[4];
  quaternionSlerp(q1, q2, t, q);
  for (double v : q) {
    char text[32];
    snprintf(text, sizeof text, "%.16g", v);
    Tcl_AppendElement(interp, text);
  }
  return TCL_OK;
}

}  // namespace

/* Camera_Init -- "camera.create", "pushbroom.create" and "quaternion.slerp". */
int Camera_Init(Tcl_Interp *interp) {
  if (createCameraCommand(interp)) return 1;
  return Tcl_CreateCommand(interp, "quaternion.slerp", quaternionSlerpCmd, nullptr, nullptr) ? 0
                                                                                              : 1;
}

}  // namespace vesk
