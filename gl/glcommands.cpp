/*
 * glcommands.cpp --
 *     The OpenGL 1.1 commands of the binding: one Tcl command per GL
 *     function or family of type variants, with the word lists each accepts,
 *     and the checks that keep GL from reading or writing past a data object
 *     (pixel spans by every pixel-store parameter, vertex arrays against
 *     every draw, evaluator control points).
 */
#include "gl/ogl.h"

#include <cstdio>
#include <cstdlib>
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
#define ENUMS1(t1, a1) \
  int e1 = oglEnumValue(t1, argv[a1]); \
  if (e1 < 0) return oglEnumError(interp)
#define ENUMS2(t1, a1, t2, a2) \
  int e1 = oglEnumValue(t1, argv[a1]), e2 = oglEnumValue(t2, argv[a2]); \
  if (e1 < 0 || e2 < 0) return oglEnumError(interp)

const GlEnumName kCaps[] = {
    E(GL_ALPHA_TEST), E(GL_AUTO_NORMAL), E(GL_BLEND), E(GL_CLIP_PLANE0), E(GL_CLIP_PLANE1),
    E(GL_CLIP_PLANE2), E(GL_CLIP_PLANE3), E(GL_CLIP_PLANE4), E(GL_CLIP_PLANE5), E(GL_COLOR_MATERIAL),
    E(GL_CULL_FACE), E(GL_DEPTH_TEST), E(GL_DITHER), E(GL_FOG), E(GL_LIGHT0), E(GL_LIGHT1), E(GL_LIGHT2),
    E(GL_LIGHT3), E(GL_LIGHT4), E(GL_LIGHT5), E(GL_LIGHT6), E(GL_LIGHT7), E(GL_LIGHTING),
    E(GL_LINE_SMOOTH), E(GL_LINE_STIPPLE), E(GL_LOGIC_OP), E(GL_MAP1_COLOR_4), E(GL_MAP1_INDEX),
    E(GL_MAP1_NORMAL), E(GL_MAP1_TEXTURE_COORD_1), E(GL_MAP1_TEXTURE_COORD_2),
    E(GL_MAP1_TEXTURE_COORD_3), E(GL_MAP1_TEXTURE_COORD_4), E(GL_MAP1_VERTEX_3), E(GL_MAP1_VERTEX_4),
    E(GL_MAP2_COLOR_4), E(GL_MAP2_INDEX), E(GL_MAP2_NORMAL), E(GL_MAP2_TEXTURE_COORD_1),
    E(GL_MAP2_TEXTURE_COORD_2), E(GL_MAP2_TEXTURE_COORD_3), E(GL_MAP2_TEXTURE_COORD_4),
    E(GL_MAP2_VERTEX_3), E(GL_MAP2_VERTEX_4), E(GL_NORMALIZE), E(GL_POINT_SMOOTH),
    E(GL_POLYGON_SMOOTH), E(GL_POLYGON_STIPPLE), E(GL_SCISSOR_TEST), E(GL_STENCIL_TEST),
    E(GL_TEXTURE_1D), E(GL_TEXTURE_2D), E(GL_TEXTURE_GEN_Q), {"GL_TEXUTER_GEN_R", 0x0C62},
    E(GL_TEXTURE_GEN_S), E(GL_TEXTURE_GEN_T), END};
const GlEnumName kInternalFormats[] = {
    E(GL_ALPHA), E(GL_ALPHA4), E(GL_ALPHA8), E(GL_ALPHA12), E(GL_ALPHA16), E(GL_LUMINANCE),
    E(GL_LUMINANCE4), E(GL_LUMINANCE8), E(GL_LUMINANCE12), E(GL_LUMINANCE16), E(GL_LUMINANCE_ALPHA),
    E(GL_LUMINANCE4_ALPHA4), E(GL_LUMINANCE6_ALPHA2), E(GL_LUMINANCE8_ALPHA8),
    E(GL_LUMINANCE12_ALPHA4), E(GL_LUMINANCE12_ALPHA12), E(GL_LUMINANCE16_ALPHA16), E(GL_INTENSITY),
    E(GL_INTENSITY4), E(GL_INTENSITY8), E(GL_INTENSITY12), E(GL_INTENSITY16), E(GL_RGB),
    E(GL_R3_G3_B2), E(GL_RGB4), E(GL_RGB5), E(GL_RGB8), E(GL_RGB10), E(GL_RGB12), E(GL_RGB16),
    E(GL_RGBA), E(GL_RGBA2), E(GL_RGBA4), E(GL_RGB5_A1), E(GL_RGBA8), E(GL_RGB10_A2), E(GL_RGBA12),
    E(GL_RGBA16), END};
const GlEnumName kAttribBits[] = {
    E(GL_ALL_ATTRIB_BITS), E(GL_ACCUM_BUFFER_BIT), E(GL_COLOR_BUFFER_BIT), E(GL_CURRENT_BIT),
    E(GL_DEPTH_BUFFER_BIT), E(GL_ENABLE_BIT), E(GL_EVAL_BIT), E(GL_FOG_BIT), E(GL_HINT_BIT),
    E(GL_LIGHTING_BIT), E(GL_LINE_BIT), E(GL_LIST_BIT), E(GL_PIXEL_MODE_BIT), E(GL_POINT_BIT),
    E(GL_POLYGON_BIT), E(GL_POLYGON_STIPPLE_BIT), E(GL_SCISSOR_BIT), E(GL_STENCIL_BUFFER_BIT),
    E(GL_TEXTURE_BIT), E(GL_TRANSFORM_BIT), E(GL_VIEWPORT_BIT), END};
const GlEnumName kDrawBuffers[] = {
    E(GL_NONE), E(GL_FRONT_LEFT), E(GL_FRONT_RIGHT), E(GL_BACK_LEFT), E(GL_BACK_RIGHT), E(GL_FRONT),
    E(GL_BACK), E(GL_LEFT), E(GL_RIGHT), E(GL_FRONT_AND_BACK), E(GL_AUX0), E(GL_AUX1), E(GL_AUX2),
    E(GL_AUX3), END};
const GlEnumName *const kReadBuffers = kDrawBuffers + 1;
const GlEnumName kPixelFormats[] = {
    E(GL_COLOR_INDEX), E(GL_STENCIL_INDEX), E(GL_DEPTH_COMPONENT), E(GL_RED), E(GL_GREEN), E(GL_BLUE),
    E(GL_ALPHA), E(GL_RGB), E(GL_RGBA), E(GL_LUMINANCE), E(GL_LUMINANCE_ALPHA), END};
const GlEnumName kTextureFormats[] = {
    E(GL_COLOR_INDEX), E(GL_RED), E(GL_GREEN), E(GL_BLUE), E(GL_ALPHA), E(GL_RGB), E(GL_RGBA),
    E(GL_LUMINANCE), E(GL_LUMINANCE_ALPHA), END};
const GlEnumName kPixelTypes[] = {
    E(GL_UNSIGNED_BYTE), E(GL_BYTE), E(GL_BITMAP), E(GL_UNSIGNED_SHORT), E(GL_SHORT),
    E(GL_UNSIGNED_INT), E(GL_INT), E(GL_FLOAT), END};
const GlEnumName kArrayTypes[] = {E(GL_SHORT), E(GL_INT), E(GL_FLOAT), E(GL_DOUBLE), END};
const GlEnumName kPrimitives[] = {
    E(GL_LINES), E(GL_LINE_LOOP), E(GL_LINE_STRIP), E(GL_POINTS), E(GL_POLYGON), E(GL_QUADS),
    E(GL_QUAD_STRIP), E(GL_TRIANGLES), E(GL_TRIANGLE_FAN), E(GL_TRIANGLE_STRIP), END};
const GlEnumName kCompareMisspelt[] = {
    E(GL_ALWAYS), {"GL_EQAUL", 0x0202}, E(GL_GEQUAL), E(GL_GREATER), E(GL_LEQUAL), E(GL_LESS),
    E(GL_NEVER), E(GL_NOTEQUAL), END};
const GlEnumName kCompare[] = {
    E(GL_ALWAYS), E(GL_EQUAL), E(GL_GEQUAL), E(GL_GREATER), E(GL_LEQUAL), E(GL_LESS), E(GL_NEVER),
    E(GL_NOTEQUAL), END};
const GlEnumName kFaces2[] = {E(GL_FRONT), E(GL_BACK), END};
const GlEnumName kFaces3[] = {E(GL_FRONT), E(GL_BACK), E(GL_FRONT_AND_BACK), END};
const GlEnumName kLogicOps[] = {
    E(GL_CLEAR), E(GL_COPY), E(GL_NOOP), E(GL_SET), E(GL_COPY_INVERTED), E(GL_INVERT),
    E(GL_AND_REVERSE), E(GL_OR_REVERSE), E(GL_AND), E(GL_OR), E(GL_NAND), E(GL_NOR), E(GL_XOR),
    E(GL_EQUIV), E(GL_AND_INVERTED), E(GL_OR_INVERTED), END};
const GlEnumName kInterleaved[] = {
    E(GL_V2F), E(GL_V3F), E(GL_C4UB_V2F), E(GL_C4UB_V3F), E(GL_C3F_V3F), E(GL_N3F_V3F),
    E(GL_C4F_N3F_V3F), E(GL_T2F_V3F), E(GL_T4F_V4F), E(GL_T2F_C4UB_V3F), E(GL_T2F_C3F_V3F),
    E(GL_T2F_N3F_V3F), E(GL_T2F_C4F_N3F_V3F), E(GL_T4F_C4F_N3F_V4F), END};
/* The word GL_PACK_SKIP_ROWS stands for the pack alignment here. */
const GlEnumName kPixelStore[] = {
    E(GL_PACK_SWAP_BYTES), E(GL_PACK_LSB_FIRST), E(GL_PACK_ROW_LENGTH), E(GL_PACK_SKIP_PIXELS),
    {"GL_PACK_SKIP_ROWS", 0x0D05}, E(GL_UNPACK_SWAP_BYTES), E(GL_UNPACK_LSB_FIRST),
    E(GL_UNPACK_ROW_LENGTH), E(GL_UNPACK_SKIP_PIXELS), E(GL_UNPACK_SKIP_ROWS), E(GL_UNPACK_ALIGNMENT),
    END};
const GlEnumName kPixelTransfer[] = {
    E(GL_MAP_COLOR), E(GL_MAP_STENCIL), E(GL_INDEX_SHIFT), E(GL_INDEX_OFFSET), E(GL_RED_SCALE),
    E(GL_GREEN_SCALE), E(GL_BLUE_SCALE), E(GL_ALPHA_SCALE), E(GL_DEPTH_SCALE), E(GL_RED_BIAS),
    E(GL_GREEN_BIAS), E(GL_ALPHA_BIAS), E(GL_DEPTH_BIAS), END};
const GlEnumName kPixelMaps[] = {
    E(GL_PIXEL_MAP_I_TO_I), E(GL_PIXEL_MAP_S_TO_S), E(GL_PIXEL_MAP_I_TO_R), E(GL_PIXEL_MAP_I_TO_G),
    E(GL_PIXEL_MAP_I_TO_B), E(GL_PIXEL_MAP_I_TO_A), E(GL_PIXEL_MAP_R_TO_R), E(GL_PIXEL_MAP_G_TO_G),
    E(GL_PIXEL_MAP_B_TO_B), E(GL_PIXEL_MAP_A_TO_A), END};
const GlEnumName kMap1[] = {
    E(GL_MAP1_VERTEX_3), E(GL_MAP1_VERTEX_4), E(GL_MAP1_INDEX), E(GL_MAP1_COLOR_4), E(GL_MAP1_NORMAL),
    E(GL_MAP1_TEXTURE_COORD_1), E(GL_MAP1_TEXTURE_COORD_2), E(GL_MAP1_TEXTURE_COORD_3),
    E(GL_MAP1_TEXTURE_COORD_4), END};
const GlEnumName kMap2[] = {
    E(GL_MAP2_VERTEX_3), E(GL_MAP2_VERTEX_4), E(GL_MAP2_INDEX), E(GL_MAP2_COLOR_4), E(GL_MAP2_NORMAL),
    E(GL_MAP2_TEXTURE_COORD_1), E(GL_MAP2_TEXTURE_COORD_2), E(GL_MAP2_TEXTURE_COORD_3),
    E(GL_MAP2_TEXTURE_COORD_4), END};
const GlEnumName kTexLevelParams[] = {
    E(GL_TEXTURE_WIDTH), E(GL_TEXTURE_HEIGHT), E(GL_TEXTURE_COMPONENTS), E(GL_TEXTURE_BORDER),
    E(GL_TEXTURE_INTERNAL_FORMAT), E(GL_TEXTURE_RED_SIZE), E(GL_TEXTURE_GREEN_SIZE),
    E(GL_TEXTURE_BLUE_SIZE), E(GL_TEXTURE_ALPHA_SIZE), E(GL_TEXTURE_LUMINANCE_SIZE),
    E(GL_TEXTURE_INTENSITY_SIZE), END};
const GlEnumName kClear[] = {
    E(GL_ACCUM_BUFFER_BIT), E(GL_COLOR_BUFFER_BIT), E(GL_DEPTH_BUFFER_BIT), E(GL_STENCIL_BUFFER_BIT),
    {"|", 0}, END};
const GlEnumName kAccumOps[] = {E(GL_ACCUM), E(GL_ADD), E(GL_MULT), E(GL_LOAD), END};
const GlEnumName kTex1D[] = {E(GL_TEXTURE_1D), END};
const GlEnumName kTex2D[] = {E(GL_TEXTURE_2D), END};
const GlEnumName kTex12[] = {E(GL_TEXTURE_1D), E(GL_TEXTURE_2D), END};
const GlEnumName kBlendSrc[] = {
    E(GL_ZERO), E(GL_ONE), E(GL_DST_COLOR), E(GL_ONE_MINUS_DST_COLOR), E(GL_SRC_ALPHA),
    E(GL_ONE_MINUS_SRC_ALPHA), E(GL_DST_ALPHA), E(GL_ONE_MINUS_DST_ALPHA), E(GL_SRC_ALPHA_SATURATE), END};
const GlEnumName kBlendDst[] = {
    E(GL_ZERO), E(GL_ONE), E(GL_SRC_COLOR), E(GL_ONE_MINUS_SRC_COLOR), E(GL_SRC_ALPHA),
    E(GL_ONE_MINUS_SRC_ALPHA), E(GL_DST_ALPHA), E(GL_ONE_MINUS_DST_ALPHA), END};
const GlEnumName kColorMaterialModes[] = {
    E(GL_EMISSION), E(GL_AMBIENT), E(GL_DIFFUSE), E(GL_SPECULAR), E(GL_AMBIENT_AND_DIFFUSE), END};
const GlEnumName kCopyTypes[] = {E(GL_COLOR), E(GL_DEPTH), E(GL_STENCIL), END};
const GlEnumName kBool[] = {E(GL_TRUE), E(GL_FALSE), END};
const GlEnumName kMesh1[] = {E(GL_POINT), E(GL_LINE), END};
const GlEnumName kMesh2[] = {E(GL_FILL), E(GL_POINT), E(GL_LINE), END};
const GlEnumName kWinding[] = {E(GL_CW), E(GL_CCW), END};
const GlEnumName kHintTargets[] = {
    E(GL_FOG_HINT), E(GL_LINE_SMOOTH_HINT), E(GL_PERSPECTIVE_CORRECTION_HINT), E(GL_POINT_SMOOTH_HINT),
    E(GL_POLYGON_SMOOTH_HINT), END};
const GlEnumName kHintModes[] = {E(GL_FASTEST), E(GL_NICEST), E(GL_DONT_CARE), END};
const GlEnumName kMatrixModes[] = {E(GL_MODELVIEW), E(GL_PROJECTION), E(GL_TEXTURE), END};
const GlEnumName kListModes[] = {E(GL_COMPILE), E(GL_COMPILE_AND_EXECUTE), END};
const GlEnumName kPolygonModes[] = {E(GL_POINT), E(GL_LINE), E(GL_FILL), END};
const GlEnumName kClientBits[] = {
    E(GL_CLIENT_PIXEL_STORE_BIT), E(GL_CLIENT_VERTEX_ARRAY_BIT), E(GL_CLIENT_ALL_ATTRIB_BITS), END};
const GlEnumName kRenderModes[] = {E(GL_RENDER), E(GL_SELECT), E(GL_FEEDBACK), END};
const GlEnumName kShadeModels[] = {E(GL_FLAT), E(GL_SMOOTH), END};
const GlEnumName kStencilOps[] = {
    E(GL_KEEP), E(GL_ZERO), E(GL_REPLACE), E(GL_INCR), E(GL_DECR), E(GL_INVERT), END};
const GlEnumName kErrors[] = {
    E(GL_NO_ERROR), E(GL_INVALID_ENUM), E(GL_INVALID_VALUE), E(GL_INVALID_OPERATION),
    E(GL_STACK_OVERFLOW), E(GL_STACK_UNDERFLOW), E(GL_OUT_OF_MEMORY), END};
const GlEnumName kStrings[] = {E(GL_VENDOR), E(GL_RENDERER), E(GL_VERSION), E(GL_EXTENSIONS), END};
const GlEnumName kClipPlanes[] = {
    E(GL_CLIP_PLANE0), E(GL_CLIP_PLANE1), E(GL_CLIP_PLANE2), E(GL_CLIP_PLANE3), E(GL_CLIP_PLANE4),
    E(GL_CLIP_PLANE5), END};
const GlEnumName kFogParams[] = {
    E(GL_FOG_MODE), E(GL_FOG_DENSITY), E(GL_FOG_START), E(GL_FOG_END), E(GL_FOG_INDEX),
    {"GL_FOR_COLOR", 0x0B66}, END};
const GlEnumName kLights[] = {
    E(GL_LIGHT0), E(GL_LIGHT1), E(GL_LIGHT2), E(GL_LIGHT3), E(GL_LIGHT4), E(GL_LIGHT5), E(GL_LIGHT6),
    E(GL_LIGHT7), END};
const GlEnumName kLightParams[] = {
    E(GL_AMBIENT), E(GL_DIFFUSE), E(GL_SPECULAR), E(GL_POSITION), E(GL_SPOT_DIRECTION),
    E(GL_SPOT_EXPONENT), E(GL_SPOT_CUTOFF), E(GL_CONSTANT_ATTENUATION), E(GL_LINEAR_ATTENUATION),
    E(GL_QUADRATIC_ATTENUATION), END};
const GlEnumName kLightModelParams[] = {
    E(GL_LIGHT_MODEL_TWO_SIDE), E(GL_LIGHT_MODEL_AMBIENT), E(GL_LIGHT_MODEL_LOCAL_VIEWER), END};
const GlEnumName kMaterialParams[] = {
    E(GL_AMBIENT), E(GL_AMBIENT_AND_DIFFUSE), {"GL_COLOR_INDEX", 0x1603}, E(GL_DIFFUSE),
    E(GL_EMISSION), E(GL_SHININESS), E(GL_SPECULAR), END};
const GlEnumName kTexEnvTarget[] = {E(GL_TEXTURE_ENV), END};
const GlEnumName kTexEnvParams[] = {E(GL_TEXTURE_ENV_MODE), E(GL_TEXTURE_ENV_COLOR), END};
const GlEnumName kTexEnvModes[] = {E(GL_MODULATE), E(GL_DECAL), E(GL_BLEND), END};
const GlEnumName kTexCoords[] = {E(GL_S), E(GL_T), E(GL_R), E(GL_Q), END};
const GlEnumName kTexGenParams[] = {E(GL_TEXTURE_GEN_MODE), E(GL_OBJECT_PLANE), E(GL_EYE_PLANE), END};
const GlEnumName kTexGenModes[] = {E(GL_OBJECT_LINEAR), E(GL_EYE_LINEAR), E(GL_SPHERE_MAP), END};
const GlEnumName kTexParams[] = {
    E(GL_TEXTURE_MAG_FILTER), E(GL_TEXTURE_MIN_FILTER), E(GL_TEXTURE_WRAP_S), E(GL_TEXTURE_WRAP_T),
    {"GL_TEXUTER_BORDER_COLOR", 0x1004}, E(GL_TEXTURE_PRIORITY), END};
const GlEnumName kMagFilters[] = {E(GL_NEAREST), E(GL_LINEAR), END};
const GlEnumName kMinFilters[] = {
    E(GL_NEAREST), E(GL_LINEAR), E(GL_NEAREST_MIPMAP_NEAREST), E(GL_NEAREST_MIPMAP_LINEAR),
    E(GL_LINEAR_MIPMAP_NEAREST), E(GL_LINEAR_MIPMAP_LINEAR), END};
const GlEnumName kWraps[] = {E(GL_CLAMP), E(GL_REPEAT), END};
const GlEnumName kCallListTypes[] = {
    E(GL_BYTE), E(GL_UNSIGNED_BYTE), E(GL_SHORT), E(GL_UNSIGNED_SHORT), E(GL_UNSIGNED_INT),
    E(GL_FLOAT), E(GL_2_BYTES), E(GL_3_BYTES), E(GL_4_BYTES), END};
const GlEnumName kIndexTypes[] = {E(GL_UNSIGNED_BYTE), E(GL_UNSIGNED_SHORT), E(GL_UNSIGNED_INT), END};
const GlEnumName kTexTargets1D[] = {E(GL_TEXTURE_1D), E(GL_PROXY_TEXTURE_1D), END};
const GlEnumName kTexTargets2D[] = {E(GL_TEXTURE_2D), E(GL_PROXY_TEXTURE_2D), END};
const GlEnumName kFeedbackTypes[] = {
    E(GL_2D), E(GL_3D), E(GL_3D_COLOR), E(GL_3D_COLOR_TEXTURE), E(GL_4D_COLOR_TEXTURE), END};

/* ---- commands without symbolic words ---- */

#define NOARG(cmd, call) \
  CMD(cmd) {             \
    ARGC(1);             \
    call();              \
    return TCL_OK;       \
  }
NOARG(glEndCmd, glEnd)
NOARG(glEndListCmd, glEndList)
NOARG(glFinishCmd, glFinish)
NOARG(glFlushCmd, glFlush)
NOARG(glInitNamesCmd, glInitNames)
NOARG(glLoadIdentityCmd, glLoadIdentity)
NOARG(glPopAttribCmd, glPopAttrib)
NOARG(glPopClientAttribCmd, glPopClientAttrib)
NOARG(glPopMatrixCmd, glPopMatrix)
NOARG(glPopNameCmd, glPopName)
NOARG(glPushMatrixCmd, glPushMatrix)

#define INT1(cmd, call) \
  CMD(cmd) {            \
    ARGC(2);            \
    call(I(1));         \
    return TCL_OK;      \
  }
INT1(glCallListCmd, glCallList)
INT1(glClearStencilCmd, glClearStencil)
INT1(glEdgeFlagCmd, glEdgeFlag)
INT1(glIndexMaskCmd, glIndexMask)
INT1(glListBaseCmd, glListBase)
INT1(glLoadNameCmd, glLoadName)
INT1(glPushNameCmd, glPushName)
INT1(glStencilMaskCmd, glStencilMask)
INT1(glEvalPoint1Cmd, glEvalPoint1)
INT1(glEnableClientStateCmd, glEnableClientState)
INT1(glDisableClientStateCmd, glDisableClientState)

#define DBL1(cmd, call) \
  CMD(cmd) {            \
    ARGC(2);            \
    call(D(1));         \
    return TCL_OK;      \
  }
DBL1(glClearDepthCmd, glClearDepth)
DBL1(glClearIndexCmd, glClearIndex)
DBL1(glLineWidthCmd, glLineWidth)
DBL1(glPointSizeCmd, glPointSize)
DBL1(glPassThroughCmd, glPassThrough)
DBL1(glIndexCmd, glIndexd)
DBL1(glEvalCoord1Cmd, glEvalCoord1d)

CMD(glEvalCoord2Cmd) { ARGC(3); glEvalCoord2d(D(1), D(2)); return TCL_OK; }
CMD(glEvalPoint2Cmd) { ARGC(3); glEvalPoint2(I(1), I(2)); return TCL_OK; }
CMD(glDeleteListsCmd) { ARGC(3); glDeleteLists(I(1), I(2)); return TCL_OK; }
CMD(glLineStippleCmd) { ARGC(3); glLineStipple(I(1), (GLushort)I(2)); return TCL_OK; }
CMD(glDepthRangeCmd) { ARGC(3); glDepthRange(D(1), D(2)); return TCL_OK; }
CMD(glPixelZoomCmd) { ARGC(3); glPixelZoom(D(1), D(2)); return TCL_OK; }
CMD(glColorMaskCmd) { ARGC(5); glColorMask(I(1), I(2), I(3), I(4)); return TCL_OK; }
CMD(glScissorCmd) { ARGC(5); glScissor(I(1), I(2), I(3), I(4)); return TCL_OK; }
CMD(glViewportCmd) { ARGC(5); glViewport(I(1), I(2), I(3), I(4)); return TCL_OK; }
CMD(glClearAccumCmd) { ARGC(5); glClearAccum(D(1), D(2), D(3), D(4)); return TCL_OK; }
CMD(glClearColorCmd) { ARGC(5); glClearColor(D(1), D(2), D(3), D(4)); return TCL_OK; }
CMD(glRectCmd) { ARGC(5); glRectd(D(1), D(2), D(3), D(4)); return TCL_OK; }
CMD(glRotateCmd) { ARGC(5); glRotatef(D(1), D(2), D(3), D(4)); return TCL_OK; }
CMD(glScaleCmd) { ARGC(4); glScaled(D(1), D(2), D(3)); return TCL_OK; }
CMD(glTranslateCmd) { ARGC(4); glTranslated(D(1), D(2), D(3)); return TCL_OK; }
CMD(glNormalCmd) { ARGC(4); glNormal3d(D(1), D(2), D(3)); return TCL_OK; }
CMD(glFrustumCmd) { ARGC(7); glFrustum(D(1), D(2), D(3), D(4), D(5), D(6)); return TCL_OK; }
CMD(glOrthoCmd) { ARGC(7); glOrtho(D(1), D(2), D(3), D(4), D(5), D(6)); return TCL_OK; }
CMD(glMapGrid1Cmd) { ARGC(4); glMapGrid1d(I(1), D(2), D(3)); return TCL_OK; }
CMD(glMapGrid2Cmd) { ARGC(7); glMapGrid2d(I(1), D(2), D(3), I(4), D(5), D(6)); return TCL_OK; }

CMD(glColorCmd) {
  if (argc == 4) glColor3f(D(1), D(2), D(3));
  else if (argc == 5) glColor4f(D(1), D(2), D(3), D(4));
  else return oglSyntaxError(interp);
  return TCL_OK;
}
CMD(glVertexCmd) {
  if (argc == 3) glVertex2f(D(1), D(2));
  else if (argc == 4) glVertex3f(D(1), D(2), D(3));
  else if (argc == 5) glVertex4f(D(1), D(2), D(3), D(4));
  else return oglSyntaxError(interp);
  return TCL_OK;
}
CMD(glTexCoordCmd) {
  if (argc == 3) glTexCoord2f(D(1), D(2));
  else if (argc == 4) glTexCoord3f(D(1), D(2), D(3));
  else if (argc == 5) glTexCoord4f(D(1), D(2), D(3), D(4));
  else return oglSyntaxError(interp);
  return TCL_OK;
}
CMD(glRasterPosCmd) {
  if (argc == 3) glRasterPos2d(D(1), D(2));
  else if (argc == 4) glRasterPos3d(D(1), D(2), D(3));
  else if (argc == 5) glRasterPos4d(D(1), D(2), D(3), D(4));
  else return oglSyntaxError(interp);
  return TCL_OK;
}

/* ---- commands with symbolic words ---- */

CMD(glAccumCmd) { ARGC(3); ENUMS1(kAccumOps, 1); glAccum(e1, D(2)); return TCL_OK; }
CMD(glAlphaFuncCmd) { ARGC(3); ENUMS1(kCompareMisspelt, 1); glAlphaFunc(e1, D(2)); return TCL_OK; }
CMD(glBeginCmd) { ARGC(2); ENUMS1(kPrimitives, 1); glBegin(e1); return TCL_OK; }
CMD(glBindTextureCmd) { ARGC(3); ENUMS1(kTex12, 1); glBindTexture(e1, I(2)); return TCL_OK; }
CMD(glBlendFuncCmd) { ARGC(3); ENUMS2(kBlendSrc, 1, kBlendDst, 2); glBlendFunc(e1, e2); return TCL_OK; }
CMD(glClearCmd) {
  if (argc < 2) return oglSyntaxError(interp);
  GLbitfield mask = 0;
  for (int i = 1; i < argc; i++) {
    int v = oglEnumValue(kClear, argv[i]);
    if (v < 0) return oglEnumError(interp);
    mask |= (GLbitfield)v;
  }
  glClear(mask);
  return TCL_OK;
}
CMD(glColorMaterialCmd) { ARGC(3); ENUMS2(kFaces3, 1, kColorMaterialModes, 2); glColorMaterial(e1, e2); return TCL_OK; }
CMD(glCopyPixelsCmd) { ARGC(6); ENUMS1(kCopyTypes, 5); glCopyPixels(I(1), I(2), I(3), I(4), e1); return TCL_OK; }
CMD(glCullFaceCmd) { ARGC(2); ENUMS1(kFaces2, 1); glCullFace(e1); return TCL_OK; }
CMD(glDepthFuncCmd) { ARGC(2); ENUMS1(kCompareMisspelt, 1); glDepthFunc(e1); return TCL_OK; }
CMD(glDepthMaskCmd) { ARGC(2); ENUMS1(kBool, 1); glDepthMask(e1); return TCL_OK; }
CMD(glEnableCmd) { ARGC(2); ENUMS1(kCaps, 1); glEnable(e1); return TCL_OK; }
CMD(glDisableCmd) { ARGC(2); ENUMS1(kCaps, 1); glDisable(e1); return TCL_OK; }
CMD(glIsEnabledCmd) {
  ARGC(2);
  ENUMS1(kCaps, 1);
  Tcl_SetObjResult(interp, Tcl_NewIntObj(glIsEnabled(e1) ? 1 : 0));
  return TCL_OK;
}
CMD(glDrawBufferCmd) { ARGC(2); ENUMS1(kDrawBuffers, 1); glDrawBuffer(e1); return TCL_OK; }
CMD(glReadBufferCmd) { ARGC(2); ENUMS1(kReadBuffers, 1); glReadBuffer(e1); return TCL_OK; }
CMD(glEvalMesh1Cmd) { ARGC(4); ENUMS1(kMesh1, 1); glEvalMesh1(e1, I(2), I(3)); return TCL_OK; }
CMD(glEvalMesh2Cmd) { ARGC(6); ENUMS1(kMesh2, 1); glEvalMesh2(e1, I(2), I(3), I(4), I(5)); return TCL_OK; }
CMD(glFrontFaceCmd) { ARGC(2); ENUMS1(kWinding, 1); glFrontFace(e1); return TCL_OK; }
CMD(glHintCmd) { ARGC(3); ENUMS2(kHintTargets, 1, kHintModes, 2); glHint(e1, e2); return TCL_OK; }
CMD(glLogicOpCmd) { ARGC(2); ENUMS1(kLogicOps, 1); glLogicOp(e1); return TCL_OK; }
CMD(glMatrixModeCmd) { ARGC(2); ENUMS1(kMatrixModes, 1); glMatrixMode(e1); return TCL_OK; }
CMD(glNewListCmd) { ARGC(3); ENUMS1(kListModes, 2); glNewList(I(1), e1); return TCL_OK; }
CMD(glPolygonModeCmd) { ARGC(3); ENUMS2(kFaces3, 1, kPolygonModes, 2); glPolygonMode(e1, e2); return TCL_OK; }
CMD(glPushAttribCmd) { ARGC(2); ENUMS1(kAttribBits, 1); glPushAttrib((GLbitfield)e1); return TCL_OK; }
CMD(glPushClientAttribCmd) {
  ARGC(2);
  /* A word not in the list pushes every client attribute. */
  int bits = oglEnumValue(kClientBits, argv[1]);
  glPushClientAttrib((GLbitfield)bits);
  return TCL_OK;
}
CMD(glRenderModeCmd) {
  ARGC(2);
  ENUMS1(kRenderModes, 1);
  Tcl_SetObjResult(interp, Tcl_NewIntObj(glRenderMode(e1)));
  return TCL_OK;
}
CMD(glShadeModelCmd) { ARGC(2); ENUMS1(kShadeModels, 1); glShadeModel(e1); return TCL_OK; }
CMD(glStencilFuncCmd) { ARGC(4); ENUMS1(kCompare, 1); glStencilFunc(e1, I(2), I(3)); return TCL_OK; }
CMD(glStencilOpCmd) {
  ARGC(4);
  int a = oglEnumValue(kStencilOps, argv[1]), b = oglEnumValue(kStencilOps, argv[2]),
      c = oglEnumValue(kStencilOps, argv[3]);
  if (a < 0 || b < 0 || c < 0) return oglEnumError(interp);
  glStencilOp(a, b, c);
  return TCL_OK;
}
CMD(glPixelStoreCmd) {
  ARGC(3);
  ENUMS1(kPixelStore, 1);
  int param = I(2);
  if ((e1 == GL_UNPACK_ALIGNMENT || e1 == GL_PACK_ALIGNMENT) && param != 1 && param != 2 && param != 4 &&
      param != 8)
    return oglSyntaxError(interp);
  /* Negative lengths and skips would make GL read before the data. */
  if (param < 0) return oglSyntaxError(interp);
  glPixelStorei(e1, param);
  return TCL_OK;
}
CMD(glPixelTransferCmd) { ARGC(3); ENUMS1(kPixelTransfer, 1); glPixelTransferf(e1, D(2)); return TCL_OK; }
CMD(glCopyTexSubImage1DCmd) {
  ARGC(7);
  ENUMS1(kTex1D, 1);
  glCopyTexSubImage1D(e1, I(2), I(3), I(4), I(5), I(6));
  return TCL_OK;
}
CMD(glCopyTexSubImage2DCmd) {
  ARGC(9);
  ENUMS1(kTex2D, 1);
  glCopyTexSubImage2D(e1, I(2), I(3), I(4), I(5), I(6), I(7), I(8));
  return TCL_OK;
}
CMD(glCopyTexImage1DCmd) {
  ARGC(8);
  ENUMS2(kTex1D, 1, kInternalFormats, 3);
  int width = I(6), border = I(7);
  if (border != 0 && border != 1) return oglErrorInfo(interp, "Invalid border");
  if (!oglIsPowerOfTwo(width)) return oglErrorInfo(interp, "Invalid image width");
  glCopyTexImage1D(e1, I(2), e2, I(4), I(5), width, border);
  return TCL_OK;
}
CMD(glCopyTexImage2DCmd) {
  ARGC(9);
  ENUMS2(kTex2D, 1, kInternalFormats, 3);
  int width = I(6), height = I(7), border = I(8);
  if (border != 0 && border != 1) return oglErrorInfo(interp, "Invalid border");
  if (!oglIsPowerOfTwo(width)) return oglErrorInfo(interp, "Invalid image width");
  if (!oglIsPowerOfTwo(height)) return oglErrorInfo(interp, "Invalid image height");
  glCopyTexImage2D(e1, I(2), e2, I(4), I(5), width, height, border);
  return TCL_OK;
}
CMD(glGetErrorCmd) {
  ARGC(1);
  int code = (int)glGetError();
  const char *name = oglEnumName(kErrors, code);
  if (name) Tcl_SetResult(interp, (char *)name, TCL_STATIC);
  else Tcl_SetObjResult(interp, Tcl_NewIntObj(code));
  return TCL_OK;
}
CMD(glGetStringCmd) {
  ARGC(2);
  ENUMS1(kStrings, 1);
  const GLubyte *s = glGetString(e1);
  Tcl_SetResult(interp, (char *)(s ? (const char *)s : ""), TCL_VOLATILE);
  return TCL_OK;
}
CMD(glGenListsCmd) { ARGC(2); Tcl_SetObjResult(interp, Tcl_NewIntObj((int)glGenLists(I(1)))); return TCL_OK; }
CMD(glIsListCmd) { ARGC(2); Tcl_SetObjResult(interp, Tcl_NewIntObj(glIsList(I(1)) ? 1 : 0)); return TCL_OK; }
CMD(glIsTextureCmd) { ARGC(2); Tcl_SetObjResult(interp, Tcl_NewIntObj(glIsTexture(I(1)) ? 1 : 0)); return TCL_OK; }

/* ---- fixed-size arrays ---- */

#define VERTEXV(cmd, T, reader, n, call)                          \
  CMD(cmd) {                                                      \
    ARGC(2);                                                      \
    OglTemps temps;                                               \
    T *v = reader(argv[1], n, temps);                             \
    if (!v) return oglErrorInfo(interp, "Error in parse vertex."); \
    call(v);                                                      \
    return TCL_OK;                                                \
  }
VERTEXV(glVertex2dvCmd, GLdouble, oglReadDoubles, 2, glVertex2dv)
VERTEXV(glVertex3dvCmd, GLdouble, oglReadDoubles, 3, glVertex3dv)
VERTEXV(glVertex4dvCmd, GLdouble, oglReadDoubles, 4, glVertex4dv)
VERTEXV(glVertex2fvCmd, GLfloat, oglReadFloats, 2, glVertex2fv)
VERTEXV(glVertex3fvCmd, GLfloat, oglReadFloats, 3, glVertex3fv)
VERTEXV(glVertex4fvCmd, GLfloat, oglReadFloats, 4, glVertex4fv)

CMD(glClipPlaneCmd) {
  ARGC(3);
  ENUMS1(kClipPlanes, 1);
  OglTemps temps;
  GLdouble *eq = oglReadDoubles(argv[2], 4, temps);
  if (!eq) return oglSyntaxError(interp);
  glClipPlane(e1, eq);
  return TCL_OK;
}
CMD(glLoadMatrixCmd) {
  ARGC(2);
  OglTemps temps;
  GLdouble *m = oglReadDoubles(argv[1], 16, temps);
  if (!m) return oglSyntaxError(interp);
  glLoadMatrixd(m);
  return TCL_OK;
}
CMD(glMultMatrixCmd) {
  ARGC(2);
  OglTemps temps;
  GLdouble *m = oglReadDoubles(argv[1], 16, temps);
  if (!m) return oglSyntaxError(interp);
  glMultMatrixd(m);
  return TCL_OK;
}
CMD(glFogCmd) {
  ARGC(3);
  ENUMS1(kFogParams, 1);
  OglTemps temps;
  GLfloat *p = oglReadFloats(argv[2], e1 == GL_FOG_COLOR ? 4 : 1, temps);
  if (!p) return oglSyntaxError(interp);
  glFogfv(e1, p);
  return TCL_OK;
}
CMD(glLightCmd) {
  ARGC(4);
  ENUMS2(kLights, 1, kLightParams, 2);
  int n = 1;
  if (e2 == GL_AMBIENT || e2 == GL_DIFFUSE || e2 == GL_SPECULAR || e2 == GL_POSITION) n = 4;
  else if (e2 == GL_SPOT_DIRECTION) n = 3;
  OglTemps temps;
  GLfloat *p = oglReadFloats(argv[3], n, temps);
  if (!p) return oglSyntaxError(interp);
  glLightfv(e1, e2, p);
  return TCL_OK;
}
CMD(glLightModelCmd) {
  ARGC(3);
  ENUMS1(kLightModelParams, 1);
  OglTemps temps;
  /* GL reads four values for the ambient colour and one for the flags. */
  GLfloat *p = oglReadFloats(argv[2], e1 == GL_LIGHT_MODEL_AMBIENT ? 4 : 1, temps);
  if (!p) return oglSyntaxError(interp);
  glLightModelfv(e1, p);
  return TCL_OK;
}
CMD(glMaterialCmd) {
  ARGC(4);
  ENUMS2(kFaces3, 1, kMaterialParams, 2);
  int n = e2 == GL_COLOR_INDEXES ? 3 : e2 == GL_SHININESS ? 1 : 4;
  OglTemps temps;
  GLfloat *p = oglReadFloats(argv[3], n, temps);
  if (!p) return oglSyntaxError(interp);
  glMaterialfv(e1, e2, p);
  return TCL_OK;
}
CMD(glTexEnvCmd) {
  ARGC(4);
  ENUMS2(kTexEnvTarget, 1, kTexEnvParams, 2);
  if (e2 == GL_TEXTURE_ENV_MODE) {
    int mode = oglEnumValue(kTexEnvModes, argv[3]);
    if (mode < 0) return oglEnumError(interp);
    glTexEnvi(e1, e2, mode);
    return TCL_OK;
  }
  OglTemps temps;
  GLfloat *p = oglReadFloats(argv[3], 4, temps);
  if (!p) return oglErrorInfo(interp, "Error in parsing coefients");
  glTexEnvfv(e1, e2, p);
  return TCL_OK;
}
CMD(glTexGenCmd) {
  ARGC(4);
  ENUMS2(kTexCoords, 1, kTexGenParams, 2);
  if (e2 == GL_TEXTURE_GEN_MODE) {
    int mode = oglEnumValue(kTexGenModes, argv[3]);
    if (mode < 0) return oglEnumError(interp);
    glTexGeni(e1, e2, mode);
    return TCL_OK;
  }
  OglTemps temps;
  GLdouble *p = oglReadDoubles(argv[3], 4, temps);
  if (!p) return oglErrorInfo(interp, "Error in parsing coefients");
  glTexGendv(e1, e2, p);
  return TCL_OK;
}
CMD(glTexParameterCmd) {
  ARGC(4);
  ENUMS2(kTex12, 1, kTexParams, 2);
  const GlEnumName *words = e2 == GL_TEXTURE_MAG_FILTER ? kMagFilters
                            : e2 == GL_TEXTURE_MIN_FILTER ? kMinFilters
                            : (e2 == GL_TEXTURE_WRAP_S || e2 == GL_TEXTURE_WRAP_T) ? kWraps
                                                                                   : nullptr;
  if (words) {
    int v = oglEnumValue(words, argv[3]);
    if (v < 0) return oglErrorInfo(interp, "Error in parsing texture param");
    glTexParameteri(e1, e2, v);
    return TCL_OK;
  }
  OglTemps temps;
  if (e2 == GL_TEXTURE_BORDER_COLOR) {
    GLfloat *p = oglReadFloats(argv[3], 4, temps);
    if (!p) return oglErrorInfo(interp, "Error in parsing GL_TEXTUER_BORDER_COLOR");
    glTexParameterfv(e1, e2, p);
  } else {
    GLfloat *p = oglReadFloats(argv[3], 1, temps);
    if (!p) return oglErrorInfo(interp, "Error in parsing GL_TEXTUER_PRIORITY");
    glTexParameterf(e1, e2, p[0]);
  }
  return TCL_OK;
}
CMD(glPolygonStippleCmd) {
  ARGC(2);
  OglTemps temps;
  /* GL reads the 32x32 mask by the unpack state. */
  GLubyte *mask = (GLubyte *)oglReadImage(argv[1], GL_COLOR_INDEX, GL_BITMAP, 32, 32, temps);
  if (!mask) return oglErrorInfo(interp, "Error in parsing mask");
  glPolygonStipple(mask);
  return TCL_OK;
}
CMD(glPixelMapCmd) {
  ARGC(4);
  ENUMS1(kPixelMaps, 1);
  int size = I(2);
  OglTemps temps;
  GLfloat *values = oglReadFloats(argv[3], size, temps);
  if (!values || size <= 0) return oglSyntaxError(interp);
  glPixelMapfv(e1, size, values);
  return TCL_OK;
}
CMD(glCallListsCmd) {
  ARGC(4);
  ENUMS1(kCallListTypes, 2);
  int n = I(1);
  OglTemps temps;
  void *lists = n > 0 ? oglReadTyped(argv[3], e1, n, temps) : nullptr;
  if (!lists) return oglSyntaxError(interp);
  glCallLists(n, e1, lists);
  return TCL_OK;
}
CMD(glDeleteTexturesCmd) {
  ARGC(3);
  int n = I(1);
  OglTemps temps;
  GLuint *names = n > 0 ? oglReadUints(argv[2], n, temps) : nullptr;
  if (!names) return oglSyntaxError(interp);
  glDeleteTextures(n, names);
  return TCL_OK;
}
CMD(glPrioritizeTexturesCmd) {
  ARGC(4);
  int n = I(1);
  OglTemps temps;
  GLuint *names = n > 0 ? oglReadUints(argv[2], n, temps) : nullptr;
  GLfloat *priorities = n > 0 ? oglReadFloats(argv[3], n, temps) : nullptr;
  if (!names || !priorities) return oglSyntaxError(interp);
  glPrioritizeTextures(n, names, priorities);
  return TCL_OK;
}
CMD(glAreTexturesResidentCmd) {
  ARGC(4);
  int n = I(1);
  OglTemps temps;
  GLuint *names = n > 0 ? oglReadUints(argv[2], n, temps) : nullptr;
  GLubyte *flags = n > 0 ? oglReadUbytes(nullptr, n, temps) : nullptr;
  if (!names || !flags) return oglSyntaxError(interp);
  GLboolean all = glAreTexturesResident(n, names, flags);
  if (!all) oglArrayToVar(interp, argv[3], GL_UNSIGNED_BYTE, flags, n, 1);
  Tcl_SetObjResult(interp, Tcl_NewIntObj(all));
  return TCL_OK;
}

/* Values per control point of an evaluator target. */
int mapComponents(int target) {
  switch (target) {
    case GL_MAP1_INDEX: case GL_MAP2_INDEX: case GL_MAP1_TEXTURE_COORD_1: case GL_MAP2_TEXTURE_COORD_1: return 1;
    case GL_MAP1_TEXTURE_COORD_2: case GL_MAP2_TEXTURE_COORD_2: return 2;
    case GL_MAP1_VERTEX_3: case GL_MAP2_VERTEX_3: case GL_MAP1_NORMAL: case GL_MAP2_NORMAL:
    case GL_MAP1_TEXTURE_COORD_3: case GL_MAP2_TEXTURE_COORD_3: return 3;
    default: return 4;
  }
}

CMD(glMap1Cmd) {
  ARGC(7);
  ENUMS1(kMap1, 1);
  int stride = I(4), order = I(5), k = mapComponents(e1);
  /* GL reads (order - 1) * stride + k values. */
  if (stride < k || order < 1 || order > 64) return oglErrorInfo(interp, "Error in parsing control points");
  OglTemps temps;
  GLdouble *points = oglReadDoubles(argv[6], (order - 1) * stride + k, temps);
  if (!points) return oglErrorInfo(interp, "Error in parsing control points");
  glMap1d(e1, D(2), D(3), stride, order, points);
  return TCL_OK;
}
CMD(glMap2Cmd) {
  ARGC(11);
  ENUMS1(kMap2, 1);
  int ustride = I(4), uorder = I(5), vstride = I(8), vorder = I(9), k = mapComponents(e1);
  if (ustride < k || vstride < k || uorder < 1 || vorder < 1 || uorder > 64 || vorder > 64 ||
      ustride > 1 << 20 || vstride > 1 << 20)
    return oglErrorInfo(interp, "Error in parsing control points");
  OglTemps temps;
  GLdouble *points =
      oglReadDoubles(argv[10], (uorder - 1) * ustride + (vorder - 1) * vstride + k, temps);
  if (!points) return oglErrorInfo(interp, "Error in parsing control points");
  glMap2d(e1, D(2), D(3), ustride, uorder, D(6), D(7), vstride, vorder, points);
  return TCL_OK;
}

/* ---- images ---- */

CMD(glBitmapCmd) {
  ARGC(8);
  int width = I(1), height = I(2);
  OglTemps temps;
  GLubyte *bits = (GLubyte *)oglReadImage(argv[7], GL_COLOR_INDEX, GL_BITMAP, width, height, temps);
  if (!bits) return oglSyntaxError(interp);
  glBitmap(width, height, D(3), D(4), D(5), D(6), bits);
  return TCL_OK;
}
CMD(glDrawPixelsCmd) {
  ARGC(6);
  ENUMS2(kPixelFormats, 3, kPixelTypes, 4);
  int width = I(1), height = I(2);
  OglTemps temps;
  void *pixels = oglReadImage(argv[5], e1, e2, width, height, temps);
  if (!pixels) return oglErrorInfo(interp, "Error in parsing pixel values.");
  glDrawPixels(width, height, e1, e2, pixels);
  return TCL_OK;
}
CMD(glReadPixelsCmd) {
  ARGC(8);
  ENUMS2(kPixelFormats, 5, kPixelTypes, 6);
  int x = I(1), y = I(2), width = I(3), height = I(4);
  /* The list holds the rectangle's values row after row: the rows are read
     tight (no alignment padding, row length or skips), the script's pack
     settings restored after. */
  struct TightPack {
    TightPack() {
      glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
      glPixelStorei(GL_PACK_ALIGNMENT, 1);
      glPixelStorei(GL_PACK_ROW_LENGTH, 0);
      glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
      glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    }
    ~TightPack() { glPopClientAttrib(); }
  } tight;
  size_t bytes = oglPixelSpan(true, e1, e2, width, height);
  int size = e2 == GL_SHORT || e2 == GL_UNSIGNED_SHORT ? 2
             : (e2 == GL_INT || e2 == GL_UNSIGNED_INT || e2 == GL_FLOAT) ? 4 : 1;
  if (!bytes) return oglSyntaxError(interp);
  std::vector<unsigned char> buffer((bytes + size - 1) / size * size + 8);
  glReadPixels(x, y, width, height, e1, e2, buffer.data());
  oglArrayToVar(interp, argv[7], e2 == GL_BITMAP ? GL_UNSIGNED_BYTE : e2, buffer.data(),
                (int)((bytes + size - 1) / size), 1);
  return TCL_OK;
}

/* components: 1 to 4 or an internal-format word. */
bool readComponents(const char *word, int &components) {
  int v = oglEnumValue(kInternalFormats, word);
  if (v >= 0) {
    components = v;
    return true;
  }
  components = oglReadInt(word);
  return components >= 1 && components <= 4;
}

CMD(glTexImage1DCmd) {
  ARGC(9);
  ENUMS2(kTexTargets1D, 1, kTextureFormats, 6);
  int type = oglEnumValue(kPixelTypes, argv[7]);
  if (type < 0) return oglEnumError(interp);
  int components;
  if (!readComponents(argv[3], components)) return oglErrorInfo(interp, "Invalid components");
  int width = I(4), border = I(5);
  if (border != 0 && border != 1) return oglErrorInfo(interp, "Invalid border");
  if (!oglIsPowerOfTwo(width)) return oglErrorInfo(interp, "Invalid image width");
  OglTemps temps;
  void *pixels = nullptr;
  if (e1 != GL_PROXY_TEXTURE_1D) {
    pixels = oglReadImage(argv[8], e2, type, width + 2 * border, 1, temps);
    if (!pixels) return oglErrorInfo(interp, "Error in parsing pixel values.");
  }
  glTexImage1D(e1, I(2), components, width + 2 * border, border, e2, type, pixels);
  return TCL_OK;
}
CMD(glTexImage2DCmd) {
  ARGC(10);
  ENUMS2(kTexTargets2D, 1, kTextureFormats, 7);
  int type = oglEnumValue(kPixelTypes, argv[8]);
  if (type < 0) return oglEnumError(interp);
  int components;
  if (!readComponents(argv[3], components)) return oglErrorInfo(interp, "Invalid components");
  int width = I(4), height = I(5), border = I(6);
  if (border != 0 && border != 1) return oglErrorInfo(interp, "Invalid border");
  if (!oglIsPowerOfTwo(width)) return oglErrorInfo(interp, "Invalid image width");
  if (!oglIsPowerOfTwo(height)) return oglErrorInfo(interp, "Invalid image height");
  OglTemps temps;
  void *pixels = nullptr;
  if (e1 != GL_PROXY_TEXTURE_2D) {
    pixels = oglReadImage(argv[9], e2, type, width + 2 * border, height + 2 * border, temps);
    if (!pixels) return oglErrorInfo(interp, "Error in parsing pixel values.");
  }
  glTexImage2D(e1, I(2), components, width + 2 * border, height + 2 * border, border, e2, type, pixels);
  return TCL_OK;
}
CMD(glTexSubImage1DCmd) {
  ARGC(8);
  ENUMS2(kTex1D, 1, kTextureFormats, 5);
  int type = oglEnumValue(kPixelTypes, argv[6]);
  if (type < 0) return oglEnumError(interp);
  int width = I(4);
  if (!oglIsPowerOfTwo(width)) return oglErrorInfo(interp, "Invalid image width");
  OglTemps temps;
  void *pixels = oglReadImage(argv[7], e2, type, width, 1, temps);
  if (!pixels) return oglErrorInfo(interp, "Error in parsing pixel values.");
  glTexSubImage1D(e1, I(2), I(3), width, e2, type, pixels);
  return TCL_OK;
}
CMD(glTexSubImage2DCmd) {
  ARGC(10);
  ENUMS2(kTex2D, 1, kTextureFormats, 7);
  int type = oglEnumValue(kPixelTypes, argv[8]);
  if (type < 0) return oglEnumError(interp);
  int width = I(5), height = I(6);
  if (!oglIsPowerOfTwo(width)) return oglErrorInfo(interp, "Invalid image width");
  if (!oglIsPowerOfTwo(height)) return oglErrorInfo(interp, "Invalid image height");
  OglTemps temps;
  void *pixels = oglReadImage(argv[9], e2, type, width, height, temps);
  if (!pixels) return oglErrorInfo(interp, "Error in parsing pixel values.");
  glTexSubImage2D(e1, I(2), I(3), I(4), width, height, e2, type, pixels);
  return TCL_OK;
}

/* ---- vertex arrays ---- */

const GLenum kArrayCaps[kArrayKinds] = {GL_VERTEX_ARRAY, GL_COLOR_ARRAY, GL_NORMAL_ARRAY,
                                        GL_TEXTURE_COORD_ARRAY, GL_INDEX_ARRAY, GL_EDGE_FLAG_ARRAY};

/* True when every enabled array holds vertex `last` (all when last < 0). */
bool arraysHold(long last) {
  GlwView *view = glwCurrentView();
  if (!view || glXGetCurrentContext() != view->context) return false;
  if (last < 0) return true;
  for (int k = 0; k < kArrayKinds; k++) {
    if (!glIsEnabled(kArrayCaps[k])) continue;
    const GlBoundArray &a = view->arrays[k];
    if (!a.object) return false;
    size_t bytes = (size_t)a.object->count * a.object->elementSize;
    if ((unsigned long long)last * a.stride + a.bytesPerVertex > bytes) return false;
  }
  return true;
}

int typeBytes(int type) {
  switch (type) {
    case GL_BYTE: case GL_UNSIGNED_BYTE: return 1;
    case GL_SHORT: case GL_UNSIGNED_SHORT: return 2;
    case GL_DOUBLE: return 8;
    default: return 4;
  }
}

/* Binds a named object of exactly the type as one of the view's arrays. */
int bindArray(Tcl_Interp *interp, int kind, int size, int type, int stride, const char *name,
              int minCount, const char *message, GlDataObject **out) {
  GlDataObject *o = oglFind(name);
  if (!o || o->type != type || o->count < minCount || stride < 0) return oglResultError(interp, message);
  GlwView *view = glwCurrentView();
  GlBoundArray &a = view->arrays[kind];
  a.object = o;
  a.bytesPerVertex = (size_t)size * typeBytes(type);
  a.stride = stride ? (size_t)stride : a.bytesPerVertex;
  *out = o;
  return TCL_OK;
}

CMD(glColorPointerCmd) {
  ARGC(5);
  ENUMS1(kPixelTypes, 2);
  int size = I(1), stride = I(3);
  if (size < 2 || size > 4) return oglResultError(interp, "Invalide size");
  GlDataObject *o;
  if (bindArray(interp, kArrayColor, size, e1, stride, argv[4], size, "Error in parsing color array", &o))
    return TCL_ERROR;
  glColorPointer(size, e1, stride, o->data);
  return TCL_OK;
}
CMD(glVertexPointerCmd) {
  ARGC(5);
  ENUMS1(kArrayTypes, 2);
  int size = I(1), stride = I(3);
  if (size < 2 || size > 4) return oglResultError(interp, "Invalide size");
  GlDataObject *o;
  if (bindArray(interp, kArrayVertex, size, e1, stride, argv[4], size, "Error in parsing vertex array", &o))
    return TCL_ERROR;
  glVertexPointer(size, e1, stride, o->data);
  return TCL_OK;
}
CMD(glTexCoordPointerCmd) {
  ARGC(5);
  ENUMS1(kArrayTypes, 2);
  int size = I(1), stride = I(3);
  if (size < 1 || size > 4) return oglResultError(interp, "Invalide size");
  GlDataObject *o;
  if (bindArray(interp, kArrayTexCoord, size, e1, stride, argv[4], size, "Error in parsing Tex coord array", &o))
    return TCL_ERROR;
  glTexCoordPointer(size, e1, stride, o->data);
  return TCL_OK;
}
CMD(glNormalPointerCmd) {
  ARGC(4);
  ENUMS1(kArrayTypes, 1);
  int stride = I(2);
  GlDataObject *o;
  if (bindArray(interp, kArrayNormal, 3, e1, stride, argv[3], 3, "Error in parsing normal array", &o))
    return TCL_ERROR;
  glNormalPointer(e1, stride, o->data);
  return TCL_OK;
}
CMD(glIndexPointerCmd) {
  ARGC(4);
  ENUMS1(kArrayTypes, 1);
  int stride = I(2);
  GlDataObject *o;
  if (bindArray(interp, kArrayIndex, 1, e1, stride, argv[3], 1, "Error in parsing index array", &o))
    return TCL_ERROR;
  glIndexPointer(e1, stride, o->data);
  return TCL_OK;
}
CMD(glEdgeFlagPointerCmd) {
  ARGC(3);
  int stride = I(1);
  GlDataObject *o;
  if (bindArray(interp, kArrayEdge, 1, GL_UNSIGNED_BYTE, stride, argv[2], 1, "Error in parsing edge flag array", &o))
    return TCL_ERROR;
  glEdgeFlagPointer(stride, o->data);
  return TCL_OK;
}
CMD(glInterleavedArraysCmd) {
  ARGC(4);
  ENUMS1(kInterleaved, 1);
  int stride = I(2);
  GlDataObject *o = oglFind(argv[3]);
  if (!o || o->type != GL_FLOAT || o->count < 1 || stride < 0)
    return oglResultError(interp, "Error in parsing interleave array");
  struct Layout {
    int format, bytes;
    bool color, normal, tex;
  };
  static const Layout layouts[] = {
      {GL_V2F, 8, 0, 0, 0},           {GL_V3F, 12, 0, 0, 0},           {GL_C4UB_V2F, 12, 1, 0, 0},
      {GL_C4UB_V3F, 16, 1, 0, 0},     {GL_C3F_V3F, 24, 1, 0, 0},       {GL_N3F_V3F, 24, 0, 1, 0},
      {GL_C4F_N3F_V3F, 40, 1, 1, 0},  {GL_T2F_V3F, 20, 0, 0, 1},       {GL_T4F_V4F, 32, 0, 0, 1},
      {GL_T2F_C4UB_V3F, 24, 1, 0, 1}, {GL_T2F_C3F_V3F, 32, 1, 0, 1},   {GL_T2F_N3F_V3F, 32, 0, 1, 1},
      {GL_T2F_C4F_N3F_V3F, 48, 1, 1, 1}, {GL_T4F_C4F_N3F_V4F, 60, 1, 1, 1}};
  const Layout *layout = &layouts[0];
  for (const Layout &l : layouts)
    if (l.format == e1) layout = &l;
  GlwView *view = glwCurrentView();
  GlBoundArray a;
  a.object = o;
  a.bytesPerVertex = layout->bytes;
  a.stride = stride ? stride : layout->bytes;
  for (int k = 0; k < kArrayKinds; k++) view->arrays[k] = GlBoundArray();
  view->arrays[kArrayVertex] = a;
  if (layout->color) view->arrays[kArrayColor] = a;
  if (layout->normal) view->arrays[kArrayNormal] = a;
  if (layout->tex) view->arrays[kArrayTexCoord] = a;
  glInterleavedArrays(e1, stride, o->data);
  return TCL_OK;
}
CMD(glArrayElementCmd) {
  ARGC(2);
  int i = I(1);
  if (i < 0 || !arraysHold(i)) return oglSyntaxError(interp);
  glArrayElement(i);
  return TCL_OK;
}
CMD(glDrawArraysCmd) {
  ARGC(4);
  ENUMS1(kPrimitives, 1);
  int first = I(2), count = I(3);
  if (first < 0 || count < 0 || !arraysHold(count ? (long)first + count - 1 : -1)) return oglSyntaxError(interp);
  glDrawArrays(e1, first, count);
  return TCL_OK;
}
CMD(glDrawElementsCmd) {
  ARGC(5);
  ENUMS2(kPrimitives, 1, kIndexTypes, 3);
  int count = I(2);
  if (count <= 0) return oglSyntaxError(interp);
  OglTemps temps;
  void *indices = oglReadTyped(argv[4], e2, count, temps);
  if (!indices) return oglSyntaxError(interp);
  long last = -1;
  for (int i = 0; i < count; i++) {
    long v = e2 == GL_UNSIGNED_BYTE ? ((GLubyte *)indices)[i]
             : e2 == GL_UNSIGNED_SHORT ? ((GLushort *)indices)[i] : (long)((GLuint *)indices)[i];
    if (v > last) last = v;
  }
  if (!arraysHold(last)) return oglSyntaxError(interp);
  glDrawElements(e1, count, e2, indices);
  return TCL_OK;
}
CMD(glSelectBufferCmd) {
  ARGC(3);
  int size = I(1);
  GLuint *buffer = (GLuint *)oglDataPointer(argv[2], GL_UNSIGNED_INT, size);
  if (!buffer || size < 0) return oglErrorInfo(interp, "Error in parse buffer");
  GLint mode = GL_RENDER;
  glGetIntegerv(GL_RENDER_MODE, &mode);
  glSelectBuffer(size, buffer);
  /* GL keeps the buffer only when it accepted it (in render mode). */
  if (mode == GL_RENDER) glwCurrentView()->selectBuffer = oglFind(argv[2]);
  return TCL_OK;
}
CMD(glFeedbackBufferCmd) {
  ARGC(4);
  ENUMS1(kFeedbackTypes, 2);
  int size = I(1);
  GLfloat *buffer = (GLfloat *)oglDataPointer(argv[3], GL_FLOAT, size);
  if (!buffer || size < 0) return oglErrorInfo(interp, "Error in parse feedback buffer");
  GLint mode = GL_RENDER;
  glGetIntegerv(GL_RENDER_MODE, &mode);
  glFeedbackBuffer(size, e1, buffer);
  /* GL keeps the buffer only when it accepted it (in render mode). */
  if (mode == GL_RENDER) glwCurrentView()->feedbackBuffer = oglFind(argv[3]);
  return TCL_OK;
}
CMD(glGenTexturesCmd) {
  ARGC(3);
  int n = I(1);
  GLuint *names = (GLuint *)oglDataPointer(argv[2], GL_UNSIGNED_INT, n);
  if (!names || n < 0) return oglSyntaxError(interp);
  glGenTextures(n, names);
  return TCL_OK;
}

/* ---- queries ---- */

CMD(glGetTexLevalParameterCmd) {
  ARGC(5);
  ENUMS2(kTex12, 1, kTexLevelParams, 3);
  GLint value = 0;
  glGetTexLevelParameteriv(e1, I(2), e2, &value);
  oglArrayToVar(interp, argv[4], GL_INT, &value, 1, 1);
  return TCL_OK;
}

enum GetKind { kNum = 1, kTwo = 2, kThree = 3, kFour = 4, kSixteen = 16, kBoolean = 100, kMask4, kNamed };
struct GetRow {
  const char *name;
  int value;
  int kind;
  const GlEnumName *names;
};
const GlEnumName kFogHints[] = {E(GL_FASTEST), E(GL_NICEST), E(GL_DONT_CARE), END};

#define G(x, k) {#x, x, k, nullptr}
#define GN(x, t) {#x, x, kNamed, t}
const GetRow kGetRows[] = {
    G(GL_CURRENT_COLOR, kFour), G(GL_CURRENT_TEXTURE_COORDS, kFour), G(GL_CURRENT_RASTER_COLOR, kFour),
    G(GL_CURRENT_RASTER_TEXTURE_COORDS, kFour), G(GL_CURRENT_RASTER_POSITION, kFour),
    G(GL_LIGHT_MODEL_AMBIENT, kFour), G(GL_FOG_COLOR, kFour), G(GL_ACCUM_CLEAR_VALUE, kFour),
    G(GL_VIEWPORT, kFour), G(GL_SCISSOR_BOX, kFour), G(GL_COLOR_CLEAR_VALUE, kFour),
    G(GL_MAP2_GRID_DOMAIN, kFour), G(GL_TEXTURE_ENV_COLOR, kFour), G(GL_CURRENT_NORMAL, kThree),
    G(GL_POINT_SIZE_RANGE, kTwo), G(GL_LINE_WIDTH_RANGE, kTwo), G(GL_DEPTH_RANGE, kTwo),
    G(GL_MAX_VIEWPORT_DIMS, kTwo), G(GL_MAP1_GRID_DOMAIN, kTwo), G(GL_MAP2_GRID_SEGMENTS, kTwo),
    G(GL_MODELVIEW_MATRIX, kSixteen), G(GL_PROJECTION_MATRIX, kSixteen), G(GL_TEXTURE_MATRIX, kSixteen),
    G(GL_CURRENT_RASTER_POSITION_VALID, kBoolean), G(GL_POINT_SMOOTH, kBoolean), G(GL_LINE_SMOOTH, kBoolean),
    G(GL_LINE_STIPPLE, kBoolean), G(GL_POLYGON_SMOOTH, kBoolean), G(GL_POLYGON_STIPPLE, kBoolean),
    G(GL_EDGE_FLAG, kBoolean), G(GL_CULL_FACE, kBoolean), G(GL_LIGHTING, kBoolean),
    G(GL_LIGHT_MODEL_LOCAL_VIEWER, kBoolean), G(GL_LIGHT_MODEL_TWO_SIDE, kBoolean),
    G(GL_COLOR_MATERIAL, kBoolean), G(GL_FOG, kBoolean), G(GL_DEPTH_TEST, kBoolean),
    G(GL_DEPTH_WRITEMASK, kBoolean), G(GL_STENCIL_TEST, kBoolean), G(GL_NORMALIZE, kBoolean),
    G(GL_ALPHA_TEST, kBoolean), G(GL_DITHER, kBoolean), G(GL_BLEND, kBoolean), G(GL_LOGIC_OP, kBoolean),
    G(GL_SCISSOR_TEST, kBoolean), G(GL_INDEX_MODE, kBoolean), G(GL_RGBA_MODE, kBoolean),
    G(GL_DOUBLEBUFFER, kBoolean), G(GL_STEREO, kBoolean), G(GL_TEXTURE_GEN_S, kBoolean),
    G(GL_TEXTURE_GEN_T, kBoolean), G(GL_TEXTURE_GEN_R, kBoolean), {"GL_TExTURE_GEN_Q", 0x0C63, kBoolean, nullptr},
    G(GL_UNPACK_SWAP_BYTES, kBoolean), G(GL_UNPACK_LSB_FIRST, kBoolean), G(GL_PACK_SWAP_BYTES, kBoolean),
    G(GL_PACK_LSB_FIRST, kBoolean), G(GL_MAP_COLOR, kBoolean), G(GL_MAP_STENCIL, kBoolean),
    G(GL_AUTO_NORMAL, kBoolean), G(GL_MAP1_COLOR_4, kBoolean), G(GL_MAP1_INDEX, kBoolean),
    G(GL_MAP1_NORMAL, kBoolean), G(GL_MAP1_TEXTURE_COORD_1, kBoolean), G(GL_MAP1_TEXTURE_COORD_2, kBoolean),
    G(GL_MAP1_TEXTURE_COORD_3, kBoolean), G(GL_MAP1_TEXTURE_COORD_4, kBoolean), G(GL_MAP1_VERTEX_3, kBoolean),
    G(GL_MAP1_VERTEX_4, kBoolean), G(GL_MAP2_COLOR_4, kBoolean), G(GL_MAP2_INDEX, kBoolean),
    G(GL_MAP2_NORMAL, kBoolean), G(GL_MAP2_TEXTURE_COORD_1, kBoolean), G(GL_MAP2_TEXTURE_COORD_2, kBoolean),
    G(GL_MAP2_TEXTURE_COORD_3, kBoolean), G(GL_MAP2_TEXTURE_COORD_4, kBoolean), G(GL_MAP2_VERTEX_3, kBoolean),
    G(GL_MAP2_VERTEX_4, kBoolean), G(GL_TEXTURE_1D, kBoolean), G(GL_TEXTURE_2D, kBoolean),
    G(GL_CLIP_PLANE0, kBoolean), G(GL_CLIP_PLANE1, kBoolean), G(GL_CLIP_PLANE2, kBoolean),
    G(GL_CLIP_PLANE3, kBoolean), G(GL_CLIP_PLANE4, kBoolean), G(GL_CLIP_PLANE5, kBoolean),
    G(GL_LIGHT0, kBoolean), G(GL_LIGHT1, kBoolean), G(GL_LIGHT2, kBoolean), G(GL_LIGHT3, kBoolean),
    G(GL_LIGHT4, kBoolean), G(GL_LIGHT5, kBoolean), G(GL_LIGHT6, kBoolean), G(GL_LIGHT7, kBoolean),
    G(GL_COLOR_WRITEMASK, kMask4),
    GN(GL_LIST_MODE, kListModes), GN(GL_POLYGON_MODE, kPolygonModes), GN(GL_CULL_FACE_MODE, kFaces2),
    GN(GL_FRONT_FACE, kWinding), GN(GL_SHADE_MODEL, kShadeModels), GN(GL_COLOR_MATERIAL_FACE, kFaces3),
    GN(GL_COLOR_MATERIAL_PARAMETER, kColorMaterialModes), GN(GL_STENCIL_FUNC, kCompare),
    GN(GL_STENCIL_FAIL, kStencilOps), GN(GL_STENCIL_PASS_DEPTH_FAIL, kStencilOps),
    GN(GL_STENCIL_PASS_DEPTH_PASS, kStencilOps), GN(GL_MATRIX_MODE, kMatrixModes),
    GN(GL_ALPHA_TEST_FUNC, kCompareMisspelt), GN(GL_BLEND_DST, kBlendDst), GN(GL_BLEND_SRC, kBlendSrc),
    GN(GL_DRAW_BUFFER, kDrawBuffers), GN(GL_READ_BUFFER, kDrawBuffers), GN(GL_RENDER_MODE, kRenderModes),
    GN(GL_PERSPECTIVE_CORRECTION_HINT, kFogHints), GN(GL_POINT_SMOOTH_HINT, kFogHints),
    GN(GL_LINE_SMOOTH_HINT, kFogHints), GN(GL_POLYGON_SMOOTH_HINT, kFogHints), GN(GL_FOG_HINT, kFogHints),
    GN(GL_TEXTURE_ENV_MODE, kTexEnvModes), GN(GL_FOG_MODE, kFogParams),
    G(GL_ACCUM_ALPHA_BITS, kNum), G(GL_ACCUM_BLUE_BITS, kNum), G(GL_ACCUM_GREEN_BITS, kNum),
    G(GL_ACCUM_RED_BITS, kNum), G(GL_ALPHA_BIAS, kNum), G(GL_ALPHA_BITS, kNum), G(GL_ALPHA_SCALE, kNum),
    G(GL_ALPHA_TEST_REF, kNum), G(GL_ATTRIB_STACK_DEPTH, kNum), G(GL_AUX_BUFFERS, kNum),
    G(GL_BLUE_BIAS, kNum), G(GL_BLUE_BITS, kNum), G(GL_BLUE_SCALE, kNum), G(GL_CURRENT_INDEX, kNum),
    G(GL_CURRENT_RASTER_DISTANCE, kNum), G(GL_CURRENT_RASTER_INDEX, kNum), G(GL_DEPTH_BIAS, kNum),
    G(GL_DEPTH_BITS, kNum), G(GL_DEPTH_CLEAR_VALUE, kNum), G(GL_DEPTH_FUNC, kNum), G(GL_DEPTH_SCALE, kNum),
    G(GL_FOG_DENSITY, kNum), G(GL_FOG_END, kNum), G(GL_FOG_INDEX, kNum), {"GL_FOR_START", 0x0B63, kNum, nullptr},
    G(GL_GREEN_BIAS, kNum), G(GL_GREEN_BITS, kNum), G(GL_GREEN_SCALE, kNum), G(GL_INDEX_BITS, kNum),
    G(GL_INDEX_CLEAR_VALUE, kNum), G(GL_INDEX_OFFSET, kNum), G(GL_INDEX_SHIFT, kNum),
    G(GL_INDEX_WRITEMASK, kNum), G(GL_LINE_STIPPLE_PATTERN, kNum), G(GL_LINE_STIPPLE_REPEAT, kNum),
    G(GL_LINE_WIDTH, kNum), G(GL_LINE_WIDTH_GRANULARITY, kNum), G(GL_LIST_BASE, kNum), G(GL_LIST_INDEX, kNum),
    G(GL_LOGIC_OP_MODE, kNum), G(GL_MAP1_GRID_SEGMENTS, kNum), G(GL_MAX_ATTRIB_STACK_DEPTH, kNum),
    G(GL_MAX_CLIP_PLANES, kNum), G(GL_MAX_EVAL_ORDER, kNum), G(GL_MAX_LIGHTS, kNum),
    G(GL_MAX_LIST_NESTING, kNum), G(GL_MAX_MODELVIEW_STACK_DEPTH, kNum), G(GL_MAX_NAME_STACK_DEPTH, kNum),
    G(GL_MAX_PIXEL_MAP_TABLE, kNum), G(GL_MAX_PROJECTION_STACK_DEPTH, kNum), G(GL_MAX_TEXTURE_SIZE, kNum),
    G(GL_MAX_TEXTURE_STACK_DEPTH, kNum), G(GL_MODELVIEW_STACK_DEPTH, kNum), G(GL_NAME_STACK_DEPTH, kNum),
    G(GL_PACK_ALIGNMENT, kNum), G(GL_PACK_ROW_LENGTH, kNum), G(GL_PACK_SKIP_PIXELS, kNum),
    G(GL_PACK_SKIP_ROWS, kNum), G(GL_PIXEL_MAP_A_TO_A_SIZE, kNum), G(GL_PIXEL_MAP_B_TO_B_SIZE, kNum),
    G(GL_PIXEL_MAP_G_TO_G_SIZE, kNum), G(GL_PIXEL_MAP_I_TO_A_SIZE, kNum), G(GL_PIXEL_MAP_I_TO_B_SIZE, kNum),
    G(GL_PIXEL_MAP_I_TO_G_SIZE, kNum), G(GL_PIXEL_MAP_I_TO_R_SIZE, kNum), G(GL_PIXEL_MAP_R_TO_R_SIZE, kNum),
    G(GL_PIXEL_MAP_S_TO_S_SIZE, kNum), G(GL_POINT_SIZE, kNum), G(GL_POINT_SIZE_GRANULARITY, kNum),
    G(GL_PROJECTION_STACK_DEPTH, kNum), G(GL_RED_BIAS, kNum), G(GL_RED_BITS, kNum), G(GL_RED_SCALE, kNum),
    G(GL_STENCIL_BITS, kNum), G(GL_STENCIL_CLEAR_VALUE, kNum), G(GL_STENCIL_REF, kNum),
    G(GL_STENCIL_VALUE_MASK, kNum), G(GL_STENCIL_WRITEMASK, kNum), G(GL_SUBPIXEL_BITS, kNum),
    G(GL_TEXTURE_STACK_DEPTH, kNum), G(GL_UNPACK_ALIGNMENT, kNum), G(GL_UNPACK_ROW_LENGTH, kNum),
    G(GL_UNPACK_SKIP_PIXELS, kNum), G(GL_ZOOM_X, kNum), G(GL_ZOOM_Y, kNum), {nullptr, 0, 0, nullptr}};

CMD(glGetCmd) {
  ARGC(3);
  const GetRow *row = nullptr;
  for (const GetRow *r = kGetRows; r->name; r++)
    if (strcmp(r->name, argv[1]) == 0) {
      row = r;
      break;
    }
  if (!row) return oglEnumError(interp);
  GLdouble v[16] = {0};
  glGetDoublev(row->value, v);
  Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
  char buf[64];
  auto addName = [&](const char *name) {
    Tcl_ListObjAppendElement(nullptr, result, Tcl_NewStringObj(name ? name : "", -1));
  };
  if (row->kind <= kSixteen) {
    for (int i = 0; i < row->kind; i++) {
      snprintf(buf, sizeof buf, "%f", v[i]);
      Tcl_ListObjAppendElement(nullptr, result, Tcl_NewStringObj(buf, -1));
    }
  } else if (row->kind == kBoolean) {
    addName(v[0] != 0 ? "GL_TRUE" : "GL_FALSE");
  } else if (row->kind == kMask4) {
    for (int i = 0; i < 4; i++) addName(v[i] != 0 ? "GL_TRUE" : "GL_FALSE");
  } else {
    int count = row->value == GL_POLYGON_MODE ? 2 : 1;
    bool found = true;
    for (int i = 0; i < count; i++) found = found && oglEnumName(row->names, (int)v[i]);
    if (found)
      for (int i = 0; i < count; i++) addName(oglEnumName(row->names, (int)v[i]));
  }
  if (row->kind == kBoolean || (row->kind == kNamed && row->value != GL_POLYGON_MODE)) {
    /* one word, not a one-element list */
    Tcl_Obj *word = nullptr;
    Tcl_ListObjIndex(nullptr, result, 0, &word);
    Tcl_Obj *value = word ? word : Tcl_NewObj();
    Tcl_IncrRefCount(value);
    Tcl_DecrRefCount(result);
    Tcl_SetVar2Ex(interp, argv[2], nullptr, value, 0);
    Tcl_DecrRefCount(value);
    return TCL_OK;
  }
  Tcl_SetVar2Ex(interp, argv[2], nullptr, result, 0);
  return TCL_OK;
}

}  // namespace

#define R(name) {name##Cmd, #name}
const OglCommand oglGlCommands[] = {
    R(glAccum), R(glAlphaFunc), R(glArrayElement), R(glAreTexturesResident), R(glBegin), R(glBindTexture),
    R(glBitmap), R(glBlendFunc), R(glCallList), R(glCallLists), R(glClear), R(glClearAccum),
    R(glClearColor), R(glClearDepth), R(glClearIndex), R(glClearStencil), R(glClipPlane), R(glColor),
    R(glColorMask), R(glColorMaterial), R(glColorPointer), R(glCopyPixels), R(glCopyTexImage1D),
    R(glCopyTexImage2D), R(glCopyTexSubImage1D), R(glCopyTexSubImage2D), R(glCullFace), R(glDeleteLists),
    R(glDeleteTextures), R(glDepthFunc), R(glDepthMask), R(glDepthRange), R(glDisable),
    R(glDisableClientState), R(glDrawArrays), R(glDrawBuffer), R(glDrawElements), R(glDrawPixels),
    R(glEdgeFlag), R(glEdgeFlagPointer), R(glEnable), R(glEnableClientState), R(glEnd), R(glEndList),
    R(glEvalCoord1), R(glEvalCoord2), R(glEvalMesh1), R(glEvalMesh2), R(glEvalPoint1), R(glEvalPoint2),
    R(glFeedbackBuffer), R(glFinish), R(glFlush), R(glFog), R(glFrontFace), R(glFrustum), R(glGenLists),
    R(glGenTextures), R(glGet), R(glGetError), R(glGetString), R(glGetTexLevalParameter), R(glHint),
    R(glIndex), R(glIndexMask), R(glInterleavedArrays), R(glIndexPointer), R(glInitNames), R(glIsEnabled),
    R(glIsList), R(glIsTexture), R(glLight), R(glLightModel), R(glLineStipple), R(glLineWidth),
    R(glListBase), R(glLoadIdentity), R(glLoadMatrix), R(glLoadName), R(glLogicOp), R(glMap1), R(glMap2),
    R(glMapGrid1), R(glMapGrid2), R(glMaterial), R(glMatrixMode), R(glMultMatrix), R(glNewList),
    R(glNormal), R(glNormalPointer), R(glOrtho), R(glPassThrough), R(glPixelMap), R(glPixelStore),
    R(glPixelTransfer), R(glPixelZoom), R(glPointSize), R(glPolygonMode), R(glPolygonStipple),
    R(glPopAttrib), R(glPopClientAttrib), R(glPopMatrix), R(glPopName), R(glPrioritizeTextures),
    R(glPushAttrib), R(glPushClientAttrib), R(glPushMatrix), R(glPushName), R(glRasterPos),
    R(glReadBuffer), R(glReadPixels), R(glRect), R(glRenderMode), R(glRotate), R(glScale), R(glScissor),
    R(glSelectBuffer), R(glShadeModel), R(glStencilFunc), R(glStencilMask), R(glStencilOp), R(glTexCoord),
    R(glTexCoordPointer), R(glTexEnv), R(glTexGen), R(glTexImage1D), R(glTexImage2D), R(glTexParameter),
    R(glTexSubImage1D), R(glTexSubImage2D), R(glTranslate), R(glVertex), R(glVertex2dv), R(glVertex3dv),
    R(glVertex4dv), R(glVertex2fv), R(glVertex3fv), R(glVertex4fv), R(glVertexPointer), R(glViewport),
    {nullptr, nullptr}};

}  // namespace vesk
