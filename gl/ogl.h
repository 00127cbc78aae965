/*
 * ogl.h --
 *     Private interface of the 3-D views: the view record, the data objects
 *     that scripts keep in a view, the argument readers of the OpenGL
 *     binding and the helpers its commands share.
 */
#ifndef VESK_GL_OGL_H
#define VESK_GL_OGL_H

#include <tk.h>
#include <GL/gl.h>
#include <GL/glx.h>
#include <map>
#include <string>
#include <vector>

namespace vesk {

/* Own type codes next to the GL ones. */
constexpr int kGluQuadric = 0xA000;
constexpr int kGluNurbs = 0xA001;
constexpr int kGluTess = 0xA002;
constexpr int kGlText = 0xA003;

struct GlDataObject {
  int type = 0;
  int count = 0;
  int elementSize = 0;
  void *data = nullptr; /* elements, NUL-ended text, or the GLU handle */
};

/* A vertex array handed to GL: what a draw may read from it. */
struct GlBoundArray {
  GlDataObject *object = nullptr;
  size_t bytesPerVertex = 0; /* what one vertex reads */
  size_t stride = 0;         /* distance between vertices */
};
enum { kArrayVertex, kArrayColor, kArrayNormal, kArrayTexCoord, kArrayIndex, kArrayEdge, kArrayKinds };

struct GlwImageInstance;

/* The configurable fields of a view (the record Tk's option table fills). */
struct GlwOptions {
  int x, y, width, height;
  int dbuffer, depth, stencil, alpha, accum;
  double aspect;
};

struct GlwView {
  int kind = 0; /* 1 created window, 2 adopted window, 3 image */
  Tk_ImageMaster master = nullptr;
  Tk_Window tkwin = nullptr;
  Display *display = nullptr;
  Drawable drawable = None;
  Tcl_Interp *interp = nullptr;
  Tcl_Command command = nullptr;
  std::string name;
  Pixmap pixmap = None;
  Colormap colormap = None;
  GC gc = None;
  GlwOptions o;
  int redrawPending = 0;
  std::map<std::string, GlDataObject *> objects;
  Tcl_HashTable *viewTable = nullptr;
  GLXContext context = nullptr;
  GLXFBConfig fbconfig = nullptr;
  GLXDrawable glxDrawable = None;
  bool glxWindow = false;
  GlwImageInstance *instances = nullptr;
  void *canvas = nullptr; /* Tk's canvas record of an adopted canvas */
  GlBoundArray arrays[kArrayKinds];
  /* Objects GL writes into later, at the next change of render mode. */
  GlDataObject *selectBuffer = nullptr;
  GlDataObject *feedbackBuffer = nullptr;
};

/* ---- views (glw.cpp) ---- */
GlwView *glwCurrentView();
/* Makes the view's context current (skipped when it already is). */
void glwMakeCurrent(GlwView *view);
/* Unregisters a view; it is freed once no caller holds it. */
void glwReleaseView(GlwView *view);
/* Frees the first image instance still listed on a view. */
void glwFreeInstanceList(GlwView *view);

/* ---- data objects (globjects.cpp) ---- */
struct GlRef {
  GlDataObject *object = nullptr;
  int first = 0, last = 0;
  bool error = false;
};
GlRef oglResolve(const char *word);
GlDataObject *oglFind(const char *name);
void *oglDataPointer(const char *name, int type, int minCount);
GlDataObject *oglNewNumeric(int type, int count);
GlDataObject *oglNewText(const char *text);
std::string oglInstall(const char *name, GlDataObject *object);
void oglFreeObject(GlDataObject *object);
void oglDeleteObject(const char *name, int type);
void oglDeleteTemporary(const void *pointer);
void oglFreeAll(GlwView *view);
int oglTypeSize(int type);
GlDataObject *oglLoadFile(const char *path, int type, long offset);
const char *oglTypeName(int type);
bool oglValidName(const char *name, size_t length);
/* Unbinds a view's vertex arrays that point into an object. */
void oglUnbindArrays(GlwView *view, GlDataObject *object);

/* ---- binding frame (binding.cpp) ---- */
struct GlEnumName {
  const char *name;
  int value;
};
int oglEnumValue(const GlEnumName *table, const char *word);
const char *oglEnumName(const GlEnumName *table, int value);
double oglReadDouble(const char *word);
int oglReadInt(const char *word);
int oglWordCount(const char *text);
bool oglIsPowerOfTwo(int n);
int oglFormatComponents(int format);
template <class T> int oglParseList(const char *text, T *dest, int count);

/* Temporaries a command got from the readers, deleted when it returns. */
class OglTemps {
 public:
  OglTemps() = default;
  OglTemps(const OglTemps &) = delete;
  OglTemps &operator=(const OglTemps &) = delete;
  ~OglTemps();
  void add(const void *pointer) { pointers_.push_back(pointer); }

 private:
  std::vector<const void *> pointers_;
};

/* Array readers: n elements of the type, or NULL; word NULL gives zeros. */
GLbyte *oglReadBytes(const char *word, int n, OglTemps &temps);
GLubyte *oglReadUbytes(const char *word, int n, OglTemps &temps);
GLshort *oglReadShorts(const char *word, int n, OglTemps &temps);
GLushort *oglReadUshorts(const char *word, int n, OglTemps &temps);
GLint *oglReadInts(const char *word, int n, OglTemps &temps);
GLuint *oglReadUints(const char *word, int n, OglTemps &temps);
GLfloat *oglReadFloats(const char *word, int n, OglTemps &temps);
GLdouble *oglReadDoubles(const char *word, int n, OglTemps &temps);
void *oglReadTyped(const char *word, int type, int n, OglTemps &temps);
/* Bytes GL reads (unpack) or writes (pack) for a pixel rectangle; 0 when
 * the type is unknown. */
size_t oglPixelSpan(bool pack, int format, int type, int width, int height);
/* Pixel data for an unpack call: enough elements for every unpack state. */
void *oglReadImage(const char *word, int format, int type, int width, int height, OglTemps &temps);
void oglArrayToVar(Tcl_Interp *interp, const char *varName, int type, const void *data, int width,
                   int height);
int oglSyntaxError(Tcl_Interp *interp);
int oglEnumError(Tcl_Interp *interp);
int oglErrorInfo(Tcl_Interp *interp, const char *message);
int oglResultError(Tcl_Interp *interp, const char *message);

typedef struct {
  Tcl_CmdProc *proc;
  const char *name;
} OglCommand;
/* The command rows of each part, ended by a row with no name. */
extern const OglCommand oglObjectCommands[];
extern const OglCommand oglGlCommands[];
extern const OglCommand oglGluCommands[];
extern const OglCommand oglDemCommands[];
int Ogl_Init(Tcl_Interp *interp);
int Glimg_Init(Tcl_Interp *interp);
int Glm_Init(Tcl_Interp *interp);
int Glw_Init(Tcl_Interp *interp);

}  // namespace vesk

#endif
