/*
 * glu.cpp --
 *     GLU and GLUT commands of the binding: matrices, mipmaps and image
 *     scaling, projection, quadrics, NURBS, the tessellator's polygon state,
 *     and GLUT's figures (GLUT is initialised once, on first use).
 */
#include "gl/ogl.h"

#include <GL/freeglut.h>
#include <GL/glu.h>
#include <cstdio>
#include <cstring>

namespace vesk {

namespace {

#define E(x) {#x, (int)(x)}
#define END {nullptr, -1}
#define CMD(name) int name(ClientData, Tcl_Interp *interp, int argc, const char **argv)
#define ARGC(k) \
  if (argc != (k)) return oglSyntaxError(interp)
#define I(k) oglReadInt(argv[k])
#define D(k) oglReadDouble(argv[k])

const GlEnumName kGluStrings[] = {E(GLU_VERSION), E(GLU_EXTENSIONS), END};
const GlEnumName kTex1D[] = {E(GL_TEXTURE_1D), END};
const GlEnumName kTex2D[] = {E(GL_TEXTURE_2D), END};
const GlEnumName kTextureFormats[] = {
    E(GL_COLOR_INDEX), E(GL_RED), E(GL_GREEN), E(GL_BLUE), E(GL_ALPHA), E(GL_RGB), E(GL_RGBA),
    E(GL_LUMINANCE), E(GL_LUMINANCE_ALPHA), END};
const GlEnumName kPixelFormats[] = {
    E(GL_COLOR_INDEX), E(GL_STENCIL_INDEX), E(GL_DEPTH_COMPONENT), E(GL_RED), E(GL_GREEN), E(GL_BLUE),
    E(GL_ALPHA), E(GL_RGB), E(GL_RGBA), E(GL_LUMINANCE), E(GL_LUMINANCE_ALPHA), END};
const GlEnumName kPixelTypes[] = {
    E(GL_UNSIGNED_BYTE), E(GL_BYTE), E(GL_BITMAP), E(GL_UNSIGNED_SHORT), E(GL_SHORT),
    E(GL_UNSIGNED_INT), E(GL_INT), E(GL_FLOAT), END};
const GlEnumName kDrawStyles[] = {E(GLU_FILL), E(GLU_LINE), E(GLU_SILHOUETTE), E(GLU_POINT), END};
const GlEnumName kNormals[] = {E(GLU_NONE), E(GLU_FLAT), E(GLU_SMOOTH), END};
const GlEnumName kOrientations[] = {E(GLU_INSIDE), E(GLU_OUTSIDE), END};
const GlEnumName kTextureFlags[] = {E(GL_TRUE), E(GL_FALSE), {"0", 0}, {"1", 1}, END};
const GlEnumName kCallbacks[] = {E(GLU_ERROR), END};
const GlEnumName kCurveTypes[] = {
    E(GLU_MAP1_TRIM_2), E(GLU_MAP1_TRIM_3), E(GL_MAP1_VERTEX_3), E(GL_MAP1_VERTEX_4), E(GL_MAP1_INDEX),
    E(GL_MAP1_COLOR_4), E(GL_MAP1_NORMAL), E(GL_MAP1_TEXTURE_COORD_1), E(GL_MAP1_TEXTURE_COORD_2),
    E(GL_MAP1_TEXTURE_COORD_3), E(GL_MAP1_TEXTURE_COORD_4), END};
const GlEnumName kSurfaceTypes[] = {
    E(GL_MAP2_VERTEX_3), E(GL_MAP2_VERTEX_4), E(GL_MAP2_INDEX), E(GL_MAP2_COLOR_4), E(GL_MAP2_NORMAL),
    E(GL_MAP2_TEXTURE_COORD_1), E(GL_MAP2_TEXTURE_COORD_2), E(GL_MAP2_TEXTURE_COORD_3),
    E(GL_MAP2_TEXTURE_COORD_4), END};
const GlEnumName kTrimTypes[] = {E(GLU_MAP1_TRIM_2), E(GLU_MAP1_TRIM_3), END};
const GlEnumName kNurbsProperties[] = {
    E(GLU_SAMPLING_TOLERANCE), E(GLU_DISPLAY_MODE), E(GLU_CULLING), E(GLU_AUTO_LOAD_MATRIX),
    E(GLU_PARAMETRIC_TOLERANCE), E(GLU_SAMPLING_METHOD), E(GLU_U_STEP), E(GLU_V_STEP), END};
const GlEnumName kNurbsValues[] = {
    E(GLU_PATH_LENGTH), E(GLU_PARAMETRIC_ERROR), E(GLU_DOMAIN_DISTANCE), E(GLU_FILL),
    E(GLU_OUTLINE_POLYGON), E(GLU_OUTLINE_PATCH), E(GL_TRUE), E(GL_FALSE), END};
const GlEnumName kContours[] = {
    E(GLU_EXTERIOR), E(GLU_INTERIOR), E(GLU_UNKNOWN), E(GLU_CCW), E(GLU_CW), END};
const GlEnumName kTessProperties[] = {
    E(GLU_TESS_WINDING_RULE), E(GLU_TESS_BOUNDARY_ONLY), E(GLU_TESS_TOLERANCE), END};
const GlEnumName kTessValues[] = {
    E(GLU_TESS_WINDING_ODD), E(GLU_TESS_WINDING_NONZERO), E(GLU_TESS_WINDING_POSITIVE),
    E(GLU_TESS_WINDING_NEGATIVE), E(GLU_TESS_WINDING_ABS_GEQ_TWO), E(GL_TRUE), E(GL_FALSE), END};

int gluCounter = 0; /* shared by the three GLU types and every view */

/* The GLU error callback: the error text in errorInfo, then an error. */
void errorCallback(GLenum code) {
  GlwView *view = glwCurrentView();
  if (!view) return;
  const GLubyte *text = gluErrorString(code);
  Tcl_AddErrorInfo(view->interp, text ? (const char *)text : "GLU error");
  Tcl_EvalEx(view->interp, "error {error from ogl callback}", -1, 0);
}

int newGluObject(Tcl_Interp *interp, int argc, int type) {
  if (argc != 1) return oglSyntaxError(interp);
  if (!glwCurrentView()) return TCL_ERROR;
  void *handle = type == kGluQuadric ? (void *)gluNewQuadric()
                 : type == kGluNurbs ? (void *)gluNewNurbsRenderer() : (void *)gluNewTess();
  if (!handle) return TCL_ERROR;
  GlDataObject *o = new GlDataObject;
  o->type = type;
  o->count = 1;
  o->elementSize = 4;
  o->data = handle;
  char name[48];
  snprintf(name, sizeof name, "%s_%d", oglTypeName(type), gluCounter++);
  oglInstall(name, o);
  Tcl_SetResult(interp, name, TCL_VOLATILE);
  return TCL_OK;
}

CMD(gluNewQuadricCmd) { return newGluObject(interp, argc, kGluQuadric); }
CMD(gluNewNurbsRendererCmd) { return newGluObject(interp, argc, kGluNurbs); }
CMD(gluNewTessCmd) { return newGluObject(interp, argc, kGluTess); }
CMD(gluDeleteQuadricCmd) { ARGC(2); oglDeleteObject(argv[1], kGluQuadric); return TCL_OK; }
CMD(gluDeleteNurbsRendererCmd) { ARGC(2); oglDeleteObject(argv[1], kGluNurbs); return TCL_OK; }
CMD(gluDeleteTessCmd) { ARGC(2); oglDeleteObject(argv[1], kGluTess); return TCL_OK; }

#define QUADRIC(k)                                               \
  GLUquadric *q = (GLUquadric *)oglDataPointer(argv[k], kGluQuadric, 1); \
  if (!q) return oglErrorInfo(interp, "Invalid quadric object id")
#define NURBS(k)                                                  \
  GLUnurbs *nb = (GLUnurbs *)oglDataPointer(argv[k], kGluNurbs, 1); \
  if (!nb) return oglErrorInfo(interp, "Invalid nurbs object id")
#define TESS(k, message)                                                 \
  GLUtesselator *t = (GLUtesselator *)oglDataPointer(argv[k], kGluTess, 1); \
  if (!t) return oglErrorInfo(interp, message)

CMD(gluCylinderCmd) { ARGC(7); QUADRIC(1); gluCylinder(q, D(2), D(3), D(4), I(5), I(6)); return TCL_OK; }
CMD(gluDiskCmd) { ARGC(6); QUADRIC(1); gluDisk(q, D(2), D(3), I(4), I(5)); return TCL_OK; }
CMD(gluPartialDiskCmd) { ARGC(8); QUADRIC(1); gluPartialDisk(q, D(2), D(3), I(4), I(5), D(6), D(7)); return TCL_OK; }
CMD(gluSphereCmd) { ARGC(5); QUADRIC(1); gluSphere(q, D(2), I(3), I(4)); return TCL_OK; }

int quadricEnum(Tcl_Interp *interp, int argc, const char **argv, const GlEnumName *table,
                void (*call)(GLUquadric *, GLenum)) {
  ARGC(3);
  QUADRIC(1);
  int v = oglEnumValue(table, argv[2]);
  if (v < 0) return oglEnumError(interp);
  call(q, v);
  return TCL_OK;
}
void drawStyle(GLUquadric *q, GLenum v) { gluQuadricDrawStyle(q, v); }
void normals(GLUquadric *q, GLenum v) { gluQuadricNormals(q, v); }
void orientation(GLUquadric *q, GLenum v) { gluQuadricOrientation(q, v); }
void texture(GLUquadric *q, GLenum v) { gluQuadricTexture(q, (GLboolean)v); }
CMD(gluQuadricDrawStyleCmd) { return quadricEnum(interp, argc, argv, kDrawStyles, drawStyle); }
CMD(gluQuadricNormalsCmd) { return quadricEnum(interp, argc, argv, kNormals, normals); }
CMD(gluQuadricOrientationCmd) { return quadricEnum(interp, argc, argv, kOrientations, orientation); }
CMD(gluQuadricTextureCmd) { return quadricEnum(interp, argc, argv, kTextureFlags, texture); }
CMD(gluQuadricCallbackCmd) {
  ARGC(4);
  QUADRIC(1);
  int which = oglEnumValue(kCallbacks, argv[2]);
  if (which < 0) return oglEnumError(interp);
  gluQuadricCallback(q, which, (_GLUfuncptr)errorCallback);
  return TCL_OK;
}

#define NURBS_CALL(cmd, call) \
  CMD(cmd) {                  \
    ARGC(2);                  \
    NURBS(1);                 \
    call(nb);                 \
    return TCL_OK;            \
  }
NURBS_CALL(gluBeginCurveCmd, gluBeginCurve)
NURBS_CALL(gluEndCurveCmd, gluEndCurve)
NURBS_CALL(gluBeginSurfaceCmd, gluBeginSurface)
NURBS_CALL(gluEndSurfaceCmd, gluEndSurface)
NURBS_CALL(gluBeginTrimCmd, gluBeginTrim)
NURBS_CALL(gluEndTrimCmd, gluEndTrim)

/* Values per control point of a NURBS or evaluator type. */
int pointComponents(int type) {
  switch (type) {
    case GLU_MAP1_TRIM_2: return 2;
    case GLU_MAP1_TRIM_3: return 3;
    case GL_MAP1_INDEX: case GL_MAP2_INDEX: case GL_MAP1_TEXTURE_COORD_1: case GL_MAP2_TEXTURE_COORD_1: return 1;
    case GL_MAP1_TEXTURE_COORD_2: case GL_MAP2_TEXTURE_COORD_2: return 2;
    case GL_MAP1_VERTEX_3: case GL_MAP2_VERTEX_3: case GL_MAP1_NORMAL: case GL_MAP2_NORMAL:
    case GL_MAP1_TEXTURE_COORD_3: case GL_MAP2_TEXTURE_COORD_3: return 3;
    default: return 4;
  }
}

CMD(gluNurbsCurveCmd) {
  ARGC(8);
  NURBS(1);
  int type = oglEnumValue(kCurveTypes, argv[7]);
  if (type < 0) return oglEnumError(interp);
  int knotCount = I(2), stride = I(4), order = I(6), k = pointComponents(type);
  int points = knotCount - order;
  const char *message = "Error in parse knot or ctlarray";
  /* GLU reads (points - 1) * stride + k control values. */
  if (knotCount < 1 || order < 1 || points < 1 || stride < k || stride > 1 << 20 || points > 1 << 20)
    return oglErrorInfo(interp, message);
  OglTemps temps;
  GLfloat *knots = oglReadFloats(argv[3], knotCount, temps);
  GLfloat *ctl = oglReadFloats(argv[5], (points - 1) * stride + k, temps);
  if (!knots || !ctl) return oglErrorInfo(interp, message);
  gluNurbsCurve(nb, knotCount, knots, stride, ctl, order, type);
  return TCL_OK;
}
CMD(gluNurbsSurfaceCmd) {
  ARGC(12);
  NURBS(1);
  int type = oglEnumValue(kSurfaceTypes, argv[11]);
  if (type < 0) return oglEnumError(interp);
  int sKnots = I(2), tKnots = I(4), sStride = I(6), tStride = I(7), sOrder = I(9), tOrder = I(10);
  int k = pointComponents(type), sn = sKnots - sOrder, tn = tKnots - tOrder;
  const char *message = "Error in parsing sknots, tknots or ctlarray";
  if (sKnots < 1 || tKnots < 1 || sOrder < 1 || tOrder < 1 || sn < 1 || tn < 1 || sStride < k ||
      tStride < k || sStride > 1 << 20 || tStride > 1 << 20 || sn > 1 << 10 || tn > 1 << 10)
    return oglErrorInfo(interp, message);
  OglTemps temps;
  GLfloat *sk = oglReadFloats(argv[3], sKnots, temps);
  GLfloat *tk = oglReadFloats(argv[5], tKnots, temps);
  GLfloat *ctl = oglReadFloats(argv[8], (sn - 1) * sStride + (tn - 1) * tStride + k, temps);
  if (!sk || !tk || !ctl) return oglErrorInfo(interp, message);
  gluNurbsSurface(nb, sKnots, sk, tKnots, tk, sStride, tStride, ctl, sOrder, tOrder, type);
  return TCL_OK;
}
CMD(gluPwlCurveCmd) {
  ARGC(6);
  int type = oglEnumValue(kTrimTypes, argv[5]);
  if (type < 0) return oglEnumError(interp);
  NURBS(1);
  int count = I(2), stride = I(4), k = pointComponents(type);
  if (count < 1 || stride < k || stride > 1 << 20 || count > 1 << 20) return oglErrorInfo(interp, "Error in parse array");
  OglTemps temps;
  GLfloat *array = oglReadFloats(argv[3], count * stride, temps);
  if (!array) return oglErrorInfo(interp, "Error in parse array");
  gluPwlCurve(nb, count, array, stride, type);
  return TCL_OK;
}
CMD(gluNurbsPropertyCmd) {
  ARGC(4);
  NURBS(1);
  int property = oglEnumValue(kNurbsProperties, argv[2]);
  if (property < 0) return oglEnumError(interp);
  int named = oglEnumValue(kNurbsValues, argv[3]);
  gluNurbsProperty(nb, property, named >= 0 ? (GLfloat)named : (GLfloat)D(3));
  return TCL_OK;
}
CMD(gluGetNurbsPropertyCmd) {
  ARGC(4);
  NURBS(1);
  int property = oglEnumValue(kNurbsProperties, argv[2]);
  if (property < 0) return oglEnumError(interp);
  GLfloat value = 0;
  gluGetNurbsProperty(nb, property, &value);
  if (property == GLU_SAMPLING_TOLERANCE || property == GLU_PARAMETRIC_TOLERANCE || property == GLU_U_STEP ||
      property == GLU_V_STEP) {
    oglArrayToVar(interp, argv[3], GL_FLOAT, &value, 1, 1);
  } else {
    const char *name = oglEnumName(kNurbsValues, (int)value);
    Tcl_SetVar(interp, argv[3], name ? name : "", 0);
  }
  return TCL_OK;
}
CMD(gluNurbsCallbackCmd) {
  ARGC(4);
  NURBS(1);
  int which = oglEnumValue(kCallbacks, argv[2]);
  if (which < 0) return oglEnumError(interp);
  gluNurbsCallback(nb, which, (_GLUfuncptr)errorCallback);
  return TCL_OK;
}
CMD(gluLoadSamplingMatricesCmd) {
  ARGC(5);
  NURBS(1);
  OglTemps temps;
  GLfloat *model = oglReadFloats(argv[2], 16, temps);
  GLfloat *proj = oglReadFloats(argv[3], 16, temps);
  GLint *viewport = oglReadInts(argv[4], 4, temps);
  if (!model || !proj || !viewport) {
    Tcl_AddErrorInfo(interp, "Error in parse matrix or viewport");
    return TCL_OK;
  }
  gluLoadSamplingMatrices(nb, model, proj, viewport);
  return TCL_OK;
}

CMD(gluBeginPolygonCmd) { ARGC(2); TESS(1, "Invalid polygon object id"); gluBeginPolygon(t); return TCL_OK; }
CMD(gluEndPolygonCmd) { ARGC(2); TESS(1, "Invalid tess object id"); gluEndPolygon(t); return TCL_OK; }
CMD(gluTessBeginContourCmd) { ARGC(2); TESS(1, "Invalid tess object id"); gluTessBeginContour(t); return TCL_OK; }
CMD(gluTessEndContourCmd) { ARGC(2); TESS(1, "Invalid tess object id"); gluTessEndContour(t); return TCL_OK; }
CMD(gluTessEndPolygonCmd) { ARGC(2); TESS(1, "Invalid tess object id"); gluTessEndPolygon(t); return TCL_OK; }
CMD(gluTessBeginPolygonCmd) {
  ARGC(3);
  TESS(1, "Invalid tess object id");
  static char noData[] = "";
  gluTessBeginPolygon(t, noData);
  return TCL_OK;
}
CMD(gluNextContourCmd) {
  ARGC(3);
  int type = oglEnumValue(kContours, argv[2]);
  if (type < 0) return oglEnumError(interp);
  TESS(1, "Invalid tess object id");
  gluNextContour(t, type);
  return TCL_OK;
}
CMD(gluTessNormalCmd) { ARGC(5); TESS(1, "Invalid tess object id"); gluTessNormal(t, D(2), D(3), D(4)); return TCL_OK; }
CMD(gluTessPropertyCmd) {
  ARGC(4);
  TESS(1, "Invalid tess object id");
  int property = oglEnumValue(kTessProperties, argv[2]);
  if (property < 0) return oglEnumError(interp);
  int named = oglEnumValue(kTessValues, argv[3]);
  double value = named >= 0 ? named : D(3);
  if (property == GLU_TESS_WINDING_RULE && (value == 0 || value == 1))
    return oglErrorInfo(interp, "Invalid value for GLU_TESS_WINDING_RULE");
  if (property == GLU_TESS_BOUNDARY_ONLY && value != 0 && value != 1)
    return oglErrorInfo(interp, "Invalid value for GLU_TESS_BOUNDARY_ONLY");
  gluTessProperty(t, property, value);
  return TCL_OK;
}
CMD(gluGetTessPropertyCmd) {
  ARGC(4);
  TESS(1, "Invalid tess object id");
  int property = oglEnumValue(kTessProperties, argv[2]);
  if (property < 0) return oglEnumError(interp);
  GLdouble value = 0;
  gluGetTessProperty(t, property, &value);
  if (property == GLU_TESS_TOLERANCE) {
    oglArrayToVar(interp, argv[3], GL_DOUBLE, &value, 1, 1);
  } else {
    const char *name = oglEnumName(kTessValues, (int)value);
    Tcl_SetVar(interp, argv[3], name ? name : "", 0);
  }
  return TCL_OK;
}

CMD(gluOrtho2DCmd) { ARGC(5); gluOrtho2D(D(1), D(2), D(3), D(4)); return TCL_OK; }
CMD(gluPerspectiveCmd) { ARGC(5); gluPerspective(D(1), D(2), D(3), D(4)); return TCL_OK; }
CMD(gluLookAtCmd) {
  ARGC(10);
  gluLookAt(D(1), D(2), D(3), D(4), D(5), D(6), D(7), D(8), D(9));
  return TCL_OK;
}
CMD(gluGetStringCmd) {
  ARGC(2);
  int name = oglEnumValue(kGluStrings, argv[1]);
  if (name < 0) return oglEnumError(interp);
  const GLubyte *s = gluGetString(name);
  Tcl_SetResult(interp, (char *)(s ? (const char *)s : ""), TCL_VOLATILE);
  return TCL_OK;
}
CMD(gluPickMatrixCmd) {
  ARGC(6);
  OglTemps temps;
  GLint *viewport = oglReadInts(argv[5], 4, temps);
  if (!viewport) return oglErrorInfo(interp, "Error in parsing viewport");
  gluPickMatrix(D(1), D(2), D(3), D(4), viewport);
  return TCL_OK;
}

int project(Tcl_Interp *interp, int argc, const char **argv, bool forward) {
  ARGC(10);
  OglTemps temps;
  GLdouble *model = oglReadDoubles(argv[4], 16, temps);
  if (!model) return oglResultError(interp, "Error in parsing modelMatrix");
  GLdouble *proj = oglReadDoubles(argv[5], 16, temps);
  if (!proj) return oglResultError(interp, "Error in parsing projMatrix");
  GLint *viewport = oglReadInts(argv[6], 4, temps);
  if (!viewport) return oglResultError(interp, "Error in parsing viewport");
  GLdouble out[3] = {0, 0, 0};
  GLint ok = forward ? gluProject(D(1), D(2), D(3), model, proj, viewport, &out[0], &out[1], &out[2])
                     : gluUnProject(D(1), D(2), D(3), model, proj, viewport, &out[0], &out[1], &out[2]);
  if (ok) {
    char buf[64];
    for (int i = 0; i < 3; i++) {
      snprintf(buf, sizeof buf, "%f", out[i]);
      Tcl_SetVar(interp, argv[7 + i], buf, 0);
    }
  }
  Tcl_SetResult(interp, (char *)(ok ? "1" : "0"), TCL_STATIC);
  return TCL_OK;
}
CMD(gluProjectCmd) { return project(interp, argc, argv, true); }
CMD(gluUnProjectCmd) { return project(interp, argc, argv, false); }

int buildMipmaps(Tcl_Interp *interp, int argc, const char **argv, bool twoD) {
  ARGC(twoD ? 8 : 7);
  int target = oglEnumValue(twoD ? kTex2D : kTex1D, argv[1]);
  int format = oglEnumValue(kTextureFormats, argv[twoD ? 5 : 4]);
  int type = oglEnumValue(kPixelTypes, argv[twoD ? 6 : 5]);
  if (target < 0 || format < 0 || type < 0) return oglEnumError(interp);
  int components = I(2), width = I(3), height = twoD ? I(4) : 1;
  if (components < 1 || components > 4) return oglErrorInfo(interp, "Invalid components");
  OglTemps temps;
  void *data = oglReadImage(argv[twoD ? 7 : 6], format, type, width, height, temps);
  if (!data) return oglSyntaxError(interp);
  if (twoD) gluBuild2DMipmaps(target, components, width, height, format, type, data);
  else gluBuild1DMipmaps(target, components, width, format, type, data);
  return TCL_OK;
}
CMD(gluBuild1DMipmapsCmd) { return buildMipmaps(interp, argc, argv, false); }
CMD(gluBuild2DMipmapsCmd) { return buildMipmaps(interp, argc, argv, true); }

int objectTypeOf(int pixelType) { return pixelType == GL_BITMAP ? GL_UNSIGNED_BYTE : pixelType; }

CMD(gluScaleImageCmd) {
  ARGC(10);
  int format = oglEnumValue(kPixelFormats, argv[1]);
  int typeIn = oglEnumValue(kPixelTypes, argv[4]), typeOut = oglEnumValue(kPixelTypes, argv[8]);
  if (format < 0 || typeIn < 0 || typeOut < 0) return oglEnumError(interp);
  int wIn = I(2), hIn = I(3), wOut = I(6), hOut = I(7);
  /* GLU reads and writes every component of every row, padded by the
   * unpack and pack state. */
  size_t bytesIn = oglPixelSpan(false, format, typeIn, wIn, hIn);
  size_t bytesOut = oglPixelSpan(true, format, typeOut, wOut, hOut);
  int sizeIn = oglTypeSize(objectTypeOf(typeIn)), sizeOut = oglTypeSize(objectTypeOf(typeOut));
  void *in = bytesIn ? oglDataPointer(argv[5], objectTypeOf(typeIn), (int)((bytesIn + sizeIn - 1) / sizeIn)) : nullptr;
  if (!in) return oglErrorInfo(interp, "Invalid datain");
  void *out = bytesOut ? oglDataPointer(argv[9], objectTypeOf(typeOut), (int)((bytesOut + sizeOut - 1) / sizeOut)) : nullptr;
  if (!out) return oglErrorInfo(interp, "Invalid dataout");
  if (gluScaleImage(format, wIn, hIn, typeIn, in, wOut, hOut, typeOut, out) != 0) return TCL_ERROR;
  return TCL_OK;
}

/* ---- GLUT ---- */

/* freeglut's figures end the process unless glutInit ran once. */
void ensureGlut() {
  static bool done = false;
  if (done) return;
  done = true;
  GlwView *view = glwCurrentView();
  std::string displayName = view && view->display ? DisplayString(view->display) : "";
  char arg0[] = "vesk", arg1[] = "-display";
  std::vector<char> name(displayName.begin(), displayName.end());
  name.push_back('\0');
  char *args[] = {arg0, arg1, name.data(), nullptr};
  int count = displayName.empty() ? 1 : 3;
  glutInit(&count, args);
}

#define GLUT0(cmd, call) \
  CMD(cmd) {             \
    ARGC(1);             \
    ensureGlut();        \
    call();              \
    return TCL_OK;       \
  }
GLUT0(glutSolidDodecahedronCmd, glutSolidDodecahedron)
GLUT0(glutSolidIcosahedronCmd, glutSolidIcosahedron)
GLUT0(glutSolidOctahedronCmd, glutSolidOctahedron)
GLUT0(glutSolidTetrahedronCmd, glutSolidTetrahedron)
GLUT0(glutWireDodecahedronCmd, glutWireDodecahedron)
GLUT0(glutWireIcosahedronCmd, glutWireIcosahedron)
GLUT0(glutWireOctahedronCmd, glutWireOctahedron)
GLUT0(glutWireTetrahedronCmd, glutWireTetrahedron)
#define GLUT1(cmd, call) \
  CMD(cmd) {             \
    ARGC(2);             \
    ensureGlut();        \
    call(D(1));          \
    return TCL_OK;       \
  }
GLUT1(glutSolidCubeCmd, glutSolidCube)
GLUT1(glutWireCubeCmd, glutWireCube)
GLUT1(glutSolidTeapotCmd, glutSolidTeapot)
GLUT1(glutWireTeapotCmd, glutWireTeapot)
CMD(glutSolidSphereCmd) { ARGC(4); ensureGlut(); glutSolidSphere(D(1), I(2), I(3)); return TCL_OK; }
CMD(glutWireSphereCmd) { ARGC(4); ensureGlut(); glutWireSphere(D(1), I(2), I(3)); return TCL_OK; }
CMD(glutSolidTorusCmd) { ARGC(5); ensureGlut(); glutSolidTorus(D(1), D(2), I(3), I(4)); return TCL_OK; }
CMD(glutWireTorusCmd) { ARGC(5); ensureGlut(); glutWireTorus(D(1), D(2), I(3), I(4)); return TCL_OK; }
CMD(glutSetColorCmd) {
  ARGC(5);
  /* Colour indices belong to a colour-index GLUT window, which views
   * (RGBA GLX contexts, no GLUT window) never have. */
  return oglErrorInfo(interp,
                      "glutSetColor: no colour-index window: the views are RGBA GLX contexts");
}

}  // namespace

#define R(name) {name##Cmd, #name}
const OglCommand oglGluCommands[] = {
    R(gluBeginCurve), R(gluBeginPolygon), R(gluBeginSurface), R(gluBeginTrim), R(gluBuild1DMipmaps),
    R(gluBuild2DMipmaps), R(gluCylinder), R(gluDeleteNurbsRenderer), R(gluDeleteQuadric), R(gluDeleteTess),
    R(gluDisk), R(gluEndCurve), R(gluEndPolygon), R(gluEndSurface), R(gluEndTrim), R(gluGetNurbsProperty),
    R(gluGetString), R(gluGetTessProperty), R(gluLoadSamplingMatrices), R(gluLookAt),
    R(gluNewNurbsRenderer), R(gluNewQuadric), R(gluNewTess), R(gluNextContour), R(gluNurbsCallback),
    R(gluNurbsCurve), R(gluNurbsProperty), R(gluNurbsSurface), R(gluOrtho2D), R(gluPartialDisk),
    R(gluPerspective), R(gluPickMatrix), R(gluProject), R(gluPwlCurve), R(gluQuadricCallback),
    R(gluQuadricDrawStyle), R(gluQuadricNormals), R(gluQuadricOrientation), R(gluQuadricTexture),
    R(gluSphere), R(gluScaleImage), R(gluTessBeginContour), R(gluTessBeginPolygon), R(gluTessEndContour),
    R(gluTessEndPolygon), R(gluTessNormal), R(gluTessProperty), R(gluUnProject),
    R(glutSetColor), R(glutSolidCube), R(glutSolidDodecahedron), R(glutSolidIcosahedron),
    R(glutSolidOctahedron), R(glutSolidSphere), R(glutSolidTeapot), R(glutSolidTetrahedron),
    R(glutSolidTorus), R(glutWireCube), R(glutWireDodecahedron), R(glutWireOctahedron),
    R(glutWireIcosahedron), R(glutWireSphere), R(glutWireTeapot), R(glutWireTetrahedron), R(glutWireTorus),
    {nullptr, nullptr}};

}  // namespace vesk
