/*
 * calcgeom.cpp --
 *     The geometry and correlation calculators of "calc": the focal-plane
 *     model of "fplane", the axis rotations of "xyzRotate", the reference
 *     pixel of a tilted frame camera ("refImgCoord") and the sliding
 *     correlation of two number lists ("correl").  Angles are in radians.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "core/calc.h"
#include "core/core.h"
#include "core/numeric.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/*
 * The focal-plane model, shared by every interpreter: the rotation K from
 * the tilted to the reference plane and the array constants: a0 the plane
 * distance, a1 a scale, a2 and a3 the pixel width and height, a4 and a5
 * the principal column and row.
 */
struct FplaneState {
  double K[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  double a[6] = {8.0, 1000.0, 0.01, 0.01, 640.0, 512.0};
};
FplaneState fplaneState;

/* Reads count numbers from the words; Tcl's error in the result if one is not. */
int getDoubles(Tcl_Interp *interp, const char **words, int count, double *values) {
  for (int i = 0; i < count; i++)
    if (Tcl_GetDouble(interp, words[i], &values[i]) != TCL_OK) return TCL_ERROR;
  return TCL_OK;
}

/* R = Rz * Ry * Rx of the angles about z, y and x. */
void rotationZYX(double az, double ay, double ax, double *R) {
  const double cz = cos(az), sz = sin(az), cy = cos(ay), sy = sin(ay), cx = cos(ax), sx = sin(ax);
  const double m[9] = {cy * cz, sx * sy * cz - cx * sz, cx * sy * cz + sx * sz,
                       cy * sz, sx * sy * sz + cx * cz, cx * sy * sz - sx * cz,
                       -sy,     sx * cy,                cx * cy};
  memcpy(R, m, sizeof m);
}

/* The arc cosine of a value that rounding may have pushed just past +-1. */
double clampedAcos(double value) {
  if (value > 1) value = 1;
  if (value < -1) value = -1;
  return acos(value);
}

/* ---- fplane ---- */

/*
 * fplaneError --
 *     An error of "fplane" after the option word: the text goes to
 *     errorInfo and the result, and to the standard error stream when the
 *     variable Vesk_Debug is "1".
 */
int fplaneError(Tcl_Interp *interp, const char *text) {
  Tcl_AddErrorInfo(interp, text);
  Tcl_SetResult(interp, const_cast<char *>(text), TCL_VOLATILE);
  const char *debug = Tcl_GetVar(interp, "Vesk_Debug", TCL_GLOBAL_ONLY);
  if (debug && strcmp(debug, "1") == 0) vesk_fprintf(stderr, "%s\n", text);
  return TCL_ERROR;
}

/* The same for the errors that only go to a stream. */
void fplaneDebug(Tcl_Interp *interp, const char *text) {
  const char *debug = Tcl_GetVar(interp, "Vesk_Debug", TCL_GLOBAL_ONLY);
  if (debug && strcmp(debug, "1") == 0) vesk_fprintf(stderr, "%s\n", text);
}

/* A word matches an option when it is a prefix of it over its own length. */
bool isOptionPrefix(const char *word, const char *option) {
  return strncmp(word, option, strlen(word)) == 0;
}

/* "fplane Rk|Rz|Ry|Rx ...": the rotation of the model. */
int fplaneRotation(Tcl_Interp *interp, int argc, const char **argv) {
  const char *option = argv[2];
  double *K = fplaneState.K;
  if (isOptionPrefix(option, "Rk")) {
    if (argc == 3) {
      Tcl_SetResult(interp,
                    fmt("%.8f %.8f %.8f %.8f %.8f %.8f %.8f %.8f %.8f", K[0], K[1], K[2], K[3], K[4],
                        K[5], K[6], K[7], K[8]),
                    TCL_VOLATILE);
      return TCL_OK;
    }
    if (argc != 4) return fplaneError(interp, "Invalid kernel matrix.");
    if (strcmp(argv[3], "init") == 0) {
      rotateMatrix3(K, ROTATE_IDENTITY, 0);
    } else if (strcmp(argv[3], "inv") == 0) {
      rotateMatrix3(K, ROTATE_TRANSPOSE, 0);
    } else {
      double m[9];
      if (sscanf(argv[3], "%lf %lf %lf %lf %lf %lf %lf %lf %lf", &m[0], &m[1], &m[2], &m[3], &m[4],
                 &m[5], &m[6], &m[7], &m[8]) != 9)
        return fplaneError(interp, "Error in parsing kernel matrix.");
      memcpy(K, m, sizeof m);
    }
    return TCL_OK;
  }
  static const struct {
    const char *name, *axis;
    int operation;
  } axes[] = {{"Rz", "z", ROTATE_Z}, {"Ry", "y", ROTATE_Y}, {"Rx", "x", ROTATE_X}};
  for (const auto &row : axes) {
    if (!isOptionPrefix(option, row.name)) continue;
    double angle = 0;
    char extra = 0;
    if (argc != 4 || sscanf(argv[3], "%lf %c", &angle, &extra) != 1) {
      std::string text = fmt("Error in parsing %s angle!\n", row.axis);
      vesk_fprintf(stderr, "%s", text.c_str());
      fplaneDebug(interp, text.c_str());
      return TCL_ERROR;
    }
    rotateMatrix3(K, row.operation, angle);
    return TCL_OK;
  }
  return fplaneError(interp, "Unknown options.\n");
}

/* "fplane point x y z": the point turned by K, a period after the first
   number ("%.6f. %.6f %.6f", the form scripts parse). */
int fplanePoint(Tcl_Interp *interp, int argc, const char **argv) {
  double p[3], out[3];
  if (argc != 6 || getDoubles(interp, argv + 3, 3, p) != TCL_OK) {
    Tcl_ResetResult(interp);
    vesk_printf("wrong specification of {x y z}.\n");
    fplaneDebug(interp, "wrong specification of {x y z}.\n");
    return TCL_ERROR;
  }
  mulMat3Vec(fplaneState.K, p, out);
  Tcl_SetResult(interp, fmt("%.6f. %.6f %.6f", out[0], out[1], out[2]), TCL_VOLATILE);
  return TCL_OK;
}

/*
 * fplanePixel --
 *     "fplane pixel {px py ?pz?}": the pixel of the tilted plane carried
 *     through K onto the reference plane.
 */
int fplanePixel(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) return fplaneError(interp, "Missing or invalid pixel.\n");
  double px = 0, py = 0, pz = 0;
  if (sscanf(argv[3], "%lf %lf %lf", &px, &py, &pz) < 2)
    return fplaneError(interp, "Error in parsing pixel.\n");
  const double *a = fplaneState.a;
  const double v[3] = {(px - a[4]) * a[2], (a[5] - py) * a[3], pz - a[0]};
  double u[3];
  mulMat3Vec(fplaneState.K, v, u);
  const double column = -a[1] * a[0] * u[0] / u[2] / a[2] + a[4];
  const double row = a[1] * a[0] * u[1] / u[2] / a[3] + a[5];
  /* A ray parallel to the reference plane, or a zero pixel size, has no image. */
  if (!isfinite(column) || !isfinite(row))
    return fplaneError(interp, "Pixel has no image on the reference plane.\n");
  Tcl_SetResult(interp, fmt("%.8f %.8f", column, row), TCL_VOLATILE);
  return TCL_OK;
}

/* "fplane array ?{a0 .. a5}?": the array constants. */
int fplaneArray(Tcl_Interp *interp, int argc, const char **argv) {
  double *a = fplaneState.a;
  if (argc == 3) {
    Tcl_SetResult(interp, fmt("%.8f %.8f %.8f %.8f %.8f %.8f", a[0], a[1], a[2], a[3], a[4], a[5]),
                  TCL_VOLATILE);
    return TCL_OK;
  }
  if (argc != 4) return fplaneError(interp, "Invalid array options.\n");
  double v[6];
  if (sscanf(argv[3], "%lf %lf %lf %lf %lf %lf", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
    return fplaneError(interp, "Error in parsing array params.\n");
  memcpy(a, v, sizeof v);
  return TCL_OK;
}

}  // namespace

/*
 * calcFplane --
 *     "calc fplane option ?value ...?": the persistent focal-plane model.
 *     The option is matched by prefix over its own length: "Rk", "Rz",
 *     "Ry", "Rx" (two characters at least), "point", "pixel" and "array"
 *     (three at least).
 */
int calcFplane(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    vesk_printf("Usage: %s %s ?options?. [Rk Rz Ry Rx array point pixel]\n", argv[0], argv[1]);
    return TCL_ERROR;
  }
  const char *option = argv[2];
  const size_t length = strlen(option);
  if (option[0] == 'R' && length >= 2) return fplaneRotation(interp, argc, argv);
  if (option[0] == 'p' && length >= 3) {
    if (isOptionPrefix(option, "point")) return fplanePoint(interp, argc, argv);
    if (isOptionPrefix(option, "pixel")) return fplanePixel(interp, argc, argv);
  }
  if (option[0] == 'a' && length >= 3 && isOptionPrefix(option, "array"))
    return fplaneArray(interp, argc, argv);
  return fplaneError(interp, "Unknown options.\n");
}

/* ---- xyzRotate ---- */

/*
 * xyzRotateAngles --
 *     The rotation angles of one root of the ZYX problem, when the root
 *     gives real angles.
 */
static bool xyzRotateAngles(double root, double a, double c, double alpha, double gamma,
                            double angles[3]) {
  if (!(root > 0) || !isfinite(root)) return false;
  const double t = sqrt(root);
  const double slack = 1e-12;
  if (t > 1 + slack || fabs(c / t) > 1 + slack || fabs(a / t) > 1 + slack) return false;
  angles[0] = clampedAcos(c / t);
  angles[1] = clampedAcos(t);
  angles[2] = clampedAcos(a / t);
  if (gamma < 0) angles[0] = -angles[0];
  if (alpha < 0) {
    angles[1] = -angles[1];
    angles[2] = -angles[2];
  }
  return true;
}

/*
 * calcXyzRotate --
 *     "calc xyzRotate op Az Ay Ax ?x y z?": NTR and RTN turn the point by
 *     the transposed or the plain rotation Rz * Ry * Rx; ZYX and GPT solve
 *     for angles from the three values.
 */
int calcXyzRotate(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 6 && argc != 9) {
    Tcl_SetResult(interp, const_cast<char *>("Usage: calc xyzRotate op Az Ay Ax x y z\n"), TCL_STATIC);
    return TCL_OK;
  }
  const char *op = argv[2];
  if (strcmp(op, "NTR") != 0 && strcmp(op, "RTN") != 0 && strcmp(op, "ZYX") != 0 &&
      strcmp(op, "GPT") != 0) {
    Tcl_SetResult(interp, const_cast<char *>("op must be NTR or RTN or ZYX or GPT.\n"), TCL_STATIC);
    return TCL_ERROR;
  }
  double angle[3], point[3] = {0, 0, 0};
  if (getDoubles(interp, argv + 3, 3, angle) != TCL_OK) return TCL_ERROR;
  if (argc == 9 && getDoubles(interp, argv + 6, 3, point) != TCL_OK) return TCL_ERROR;

  if (op[0] == 'N' || op[0] == 'R') {
    double R[9], out[3];
    rotationZYX(angle[0], angle[1], angle[2], R);
    if (op[0] == 'N') rotateMatrix3(R, ROTATE_TRANSPOSE, 0);
    mulMat3Vec(R, point, out);
    Tcl_SetResult(interp, fmt("%.6f %.6f %.6f\n", out[0], out[1], out[2]), TCL_VOLATILE);
    return TCL_OK;
  }
  if (op[0] == 'G') {
    const double p = angle[0], q = angle[1], r = angle[2];
    double first = clampedAcos(cos(q) * cos(r));
    double second = clampedAcos(sin(p) * sin(q) * sin(r) + cos(p) * cos(r));
    double third = clampedAcos(cos(p) * cos(q));
    if (q < 0) {
      first = -first;
      third = -third;
    }
    if (p < 0) second = -second;
    Tcl_SetResult(interp, fmt("%.6f %.6f %.6f\n", first, second, third), TCL_VOLATILE);
    return TCL_OK;
  }

  /* ZYX: the roots of x^2 + k x + m = 0 give the squared cosine of Ay. */
  const double a = cos(angle[0]), b = cos(angle[1]), c = cos(angle[2]);
  const double k = b * b - c * c - a * a - 1;
  const double m = c * c + a * a + c * c * a * a - 2 * a * b * c;
  if (4 * m > k * k) return TCL_OK;
  const double h = sqrt(k * k - 4 * m);
  const double roots[2] = {(-k + h) / 2, (-k - h) / 2};
  vesk_fprintf(stderr, "x1: %.6f x2: %.6f\n", roots[0], roots[1]);
  double angles[2][3];
  bool real[2];
  for (int i = 0; i < 2; i++) {
    real[i] = xyzRotateAngles(roots[i], a, c, angle[0], angle[2], angles[i]);
    if (real[i])
      vesk_fprintf(stderr, "Az: %.6f Ay: %.6f Ax: %.6f\n", angles[i][0], angles[i][1], angles[i][2]);
  }
  /* A second root without real angles is no solution, as no root is. */
  if (real[1])
    Tcl_SetResult(interp, fmt("%.6f %.6f %.6f\n", angles[1][0], angles[1][1], angles[1][2]),
                  TCL_VOLATILE);
  return TCL_OK;
}

/* ---- refImgCoord ---- */

/*
 * calcRefImgCoord --
 *     "calc refImgCoord Az Ay Ax f px py colc rowc col row ?scale?": the
 *     pixel (col, row) of a frame camera tilted by the three angles, with
 *     focal length f, pixel size px by py and principal point (colc, rowc),
 *     as seen in the untilted reference image.
 */
int calcRefImgCoord(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 12 && argc != 13) {
    Tcl_SetResult(interp,
                  const_cast<char *>("Usage: calc refImgCoord Az Ay Ax f px py colc rowc col row [scale]\n"),
                  TCL_STATIC);
    return TCL_OK;
  }
  double v[11];
  v[10] = 1;
  if (getDoubles(interp, argv + 2, argc - 2, v) != TCL_OK) return TCL_ERROR;
  const double f = v[3], px = v[4], py = v[5], colc = v[6], rowc = v[7], scale = v[10];
  double R[9], u[3];
  rotationZYX(v[0], v[1], v[2], R);
  const double p[3] = {(v[8] - colc) * px, -(v[9] - rowc) * py, -f};
  mulMat3Vec(R, p, u);
  const double column = colc - scale * f * u[0] / (u[2] * px);
  const double row = rowc + scale * f * u[1] / (u[2] * py);
  if (!isfinite(column) || !isfinite(row)) {
    Tcl_SetResult(interp, const_cast<char *>("Pixel has no image in the reference image."), TCL_STATIC);
    return TCL_ERROR;
  }
  Tcl_SetResult(interp, fmt("%.3f %.3f", column, row), TCL_VOLATILE);
  return TCL_OK;
}

/* ---- correl ---- */

/* Splits a list of numbers into floats; Tcl's error when it does not split. */
static int correlSeries(Tcl_Interp *interp, const char *text, std::vector<float> &values) {
  int count = 0;
  const char **elements = nullptr;
  if (Tcl_SplitList(interp, text, &count, &elements) != TCL_OK) return TCL_ERROR;
  try {
    values.resize(static_cast<size_t>(count));
  } catch (...) {
    Tcl_Free(reinterpret_cast<char *>(elements));
    throw;
  }
  for (int i = 0; i < count; i++) values[static_cast<size_t>(i)] = static_cast<float>(strtod(elements[i], nullptr));
  Tcl_Free(reinterpret_cast<char *>(elements));
  return TCL_OK;
}

/*
 * calcCorrel --
 *     "calc correl list1 list2 ?start? ?n?": slides the shorter list over
 *     the longer and answers the largest squared correlation of n values
 *     with its offset, "" when no offset correlates.  start shortens both
 *     lists; both are still read from their first element.
 */
int calcCorrel(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 4 || argc > 6) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], " list1 list2 start n", nullptr);
    return TCL_ERROR;
  }
  std::vector<float> list1, list2;
  if (correlSeries(interp, argv[2], list1) != TCL_OK || correlSeries(interp, argv[3], list2) != TCL_OK)
    return TCL_ERROR;
  long start = argc > 4 ? atol(argv[4]) : 0;
  long n = argc > 5 ? atol(argv[5]) : 4096;
  /* A negative start would lengthen the lists past their ends. */
  if (start < 0) {
    Tcl_SetResult(interp, fmt("Invalid start: %s", argv[4]), TCL_VOLATILE);
    return TCL_ERROR;
  }
  long length1 = static_cast<long>(list1.size()) - start;
  long length2 = static_cast<long>(list2.size()) - start;
  if (length1 < n) n = length1;
  if (length2 < n) n = length2;
  if (n <= 0) {
    Tcl_SetResult(interp, const_cast<char *>("Empty input lists."), TCL_STATIC);
    return TCL_OK;
  }
  const bool firstIsPattern = length1 <= length2;
  const float *pattern = firstIsPattern ? list1.data() : list2.data();
  const float *series = firstIsPattern ? list2.data() : list1.data();
  const long patternLength = firstIsPattern ? length1 : length2;
  const long seriesLength = firstIsPattern ? length2 : length1;

  const float count = static_cast<float>(n);
  float best = -1;
  long bestOffset = 0;
  for (long offset = 0; patternLength + offset <= seriesLength; offset++) {
    float sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    const float *y = series + offset;
    for (long i = 0; i < n; i++) {
      sx += pattern[i];
      sy += y[i];
      sxx += pattern[i] * pattern[i];
      syy += y[i] * y[i];
      sxy += pattern[i] * y[i];
    }
    const float mx = sx / count, my = sy / count;
    const float vx = sxx - mx * count * mx, vy = syy - my * count * my;
    if (!(vx * vy > 0)) continue;
    const float r = (sxy - count * mx * my) / sqrtf(vx) / sqrtf(vy);
    if (r * r > best) {
      best = r * r;
      bestOffset = offset;
    }
  }
  if (best > 0) Tcl_SetResult(interp, fmt("%.8f %ld", static_cast<double>(best), bestOffset), TCL_VOLATILE);
  return TCL_OK;
}

}  // namespace vesk
