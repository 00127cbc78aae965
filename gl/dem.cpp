/*
 * dem.cpp --
 *     Elevation grids drawn into the current GL context: a wire mesh of row
 *     and column strips, or a surface of triangle fans over 3x3 blocks,
 *     coloured from a draped RGB image or a height ramp, one normal a point.
 */
#include "gl/ogl.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace vesk {

namespace {

/* More points than this is refused rather than drawn for minutes. */
constexpr int64_t kMaxDemPoints = int64_t(1) << 28;

struct Dem {
  int cols = 0, rows = 0;
  float dx = 1, dy = 1, zscale = 1, cx = 0, cy = 0, w = 1;
  std::vector<float> z; /* heights, non-finite ones replaced by the minimum */
  const GLubyte *image = nullptr;
  size_t imageRow = 0;
  float ramp[256][3];
  float zmin = 0, zmax = 0;

  void colour(int r, int c, float out[3]) const {
    if (image) {
      const GLubyte *p = image + (size_t)(rows - 1 - r) * imageRow + (size_t)c * 3;
      out[0] = p[0] / 255.0f;
      out[1] = p[1] / 255.0f;
      out[2] = p[2] / 255.0f;
      return;
    }
    int entry = 0;
    if (zmax > zmin) {
      double t = (z[(size_t)r * cols + c] - zmin) / (double)(zmax - zmin) * 256;
      entry = t < 0 ? 0 : t >= 255 ? 255 : (int)t;
    }
    out[0] = ramp[entry][0];
    out[1] = ramp[entry][1];
    out[2] = ramp[entry][2];
  }

  void point(int r, int c) const {
    float col[3], n[3];
    colour(r, c, col);
    int r0 = r == rows - 1 ? r - 1 : r, c0 = c == cols - 1 ? c - 1 : c;
    const float *row0 = &z[(size_t)r0 * cols + c0], *row1 = row0 + cols;
    float z00 = row0[0], z01 = row0[1], z10 = row1[0], z11 = row1[1];
    n[0] = (z00 - z01 + z10 - z11) * 2 * zscale / dx;
    n[1] = (z00 + z01 - z10 - z11) * (-2) * zscale / dy;
    n[2] = 1;
    glColor3fv(col);
    glNormal3fv(n);
    glVertex4f(c * dx - cx, cy - r * dy, z[(size_t)r * cols + c] * zscale, w);
  }
};

void makeRamp(float ramp[256][3]) {
  static const int anchors[5] = {0, 63, 127, 191, 255};
  static const float colours[5][3] = {{0, 0, 1}, {0, 1, 1}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}};
  for (int a = 0; a < 4; a++)
    for (int i = anchors[a]; i <= anchors[a + 1]; i++) {
      float t = (float)(i - anchors[a]) / (float)(anchors[a + 1] - anchors[a]);
      for (int k = 0; k < 3; k++) ramp[i][k] = colours[a][k] + (colours[a + 1][k] - colours[a][k]) * t;
    }
}

/* Reads the words of both commands; TCL_OK with the grid filled. */
int readDem(Tcl_Interp *interp, int argc, const char **argv, Dem &dem, OglTemps &temps) {
  if (argc != 7 && argc != 8) return oglSyntaxError(interp);
  int cols = oglReadInt(argv[1]), rows = oglReadInt(argv[2]);
  if (cols < 2 || rows < 2) return oglErrorInfo(interp, "No enough points");
  int64_t points = (int64_t)cols * rows;
  if (points > kMaxDemPoints) return oglErrorInfo(interp, "Error in parse DEM");
  const GLfloat *z = oglReadFloats(argv[6], (int)points, temps);
  if (!z) return oglErrorInfo(interp, "Error in parse DEM");
  if (argc == 8) {
    dem.image = (const GLubyte *)oglReadImage(argv[7], GL_LUMINANCE, GL_UNSIGNED_BYTE, cols * 3, rows, temps);
    if (!dem.image) return oglErrorInfo(interp, "Error in parse surface image");
    GLint a = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &a);
    if (a <= 0) a = 1;
    dem.imageRow = ((size_t)cols * 3 + a - 1) / a * a;
  }
  dem.cols = cols;
  dem.rows = rows;
  dem.dx = (float)oglReadDouble(argv[3]);
  dem.dy = (float)oglReadDouble(argv[4]);
  dem.zscale = (float)oglReadDouble(argv[5]);
  bool any = false;
  for (int64_t i = 0; i < points; i++)
    if (std::isfinite(z[i])) {
      if (!any || z[i] < dem.zmin) dem.zmin = z[i];
      if (!any || z[i] > dem.zmax) dem.zmax = z[i];
      any = true;
    }
  dem.z.assign(z, z + points);
  for (float &v : dem.z)
    if (!std::isfinite(v)) v = dem.zmin;
  float width = (cols - 1) * dem.dx, height = (rows - 1) * dem.dy;
  dem.w = width > height ? width : height;
  dem.cx = width / 2;
  dem.cy = height / 2;
  makeRamp(dem.ramp);
  return TCL_OK;
}

int glexWireDemCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  Dem dem;
  OglTemps temps;
  if (readDem(interp, argc, argv, dem, temps) != TCL_OK) return TCL_ERROR;
  for (int r = 0; r < dem.rows; r++) {
    glBegin(GL_LINE_STRIP);
    for (int c = 0; c < dem.cols; c++) dem.point(r, c);
    glEnd();
  }
  for (int c = 0; c < dem.cols; c++) {
    glBegin(GL_LINE_STRIP);
    for (int r = 0; r < dem.rows; r++) dem.point(r, c);
    glEnd();
  }
  return TCL_OK;
}

int glexSolidDemCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  Dem dem;
  OglTemps temps;
  if (readDem(interp, argc, argv, dem, temps) != TCL_OK) return TCL_ERROR;
  int rows = dem.rows, cols = dem.cols, i = 1;
  for (; i < rows - 1; i += 2)
    for (int j = 1; j < cols; j += 2) {
      glBegin(GL_TRIANGLE_FAN);
      dem.point(i, j);
      dem.point(i + 1, j);
      dem.point(i + 1, j - 1);
      dem.point(i, j - 1);
      dem.point(i - 1, j - 1);
      dem.point(i - 1, j);
      if (j + 1 < cols) {
        dem.point(i - 1, j + 1);
        dem.point(i, j + 1);
        dem.point(i + 1, j + 1);
        dem.point(i + 1, j);
      }
      glEnd();
    }
  if (rows % 2 == 0) {
    i = rows - 1;
    for (int j = 0; j < cols - 1; j++) {
      glBegin(GL_TRIANGLE_FAN);
      dem.point(i, j);
      dem.point(i - 1, j);
      dem.point(i - 1, j + 1);
      dem.point(i, j + 1);
      glEnd();
    }
  }
  return TCL_OK;
}

}  // namespace

const OglCommand oglDemCommands[] = {
    {glexSolidDemCmd, "glexSolidDem"}, {glexWireDemCmd, "glexWireDem"}, {nullptr, nullptr}};

}  // namespace vesk
