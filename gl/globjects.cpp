/*
 * globjects.cpp --
 *     Data objects of the GL views: typed arrays handed to GL in place,
 *     texts (the "display" and "viewport" scripts) and GLU objects, their
 *     names and element ranges name(i:j), the temporaries of the readers,
 *     and the commands that make, show, change and delete them.
 */
#include "gl/ogl.h"

#include <GL/glu.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace vesk {

namespace {

struct TypeRow {
  const char *name;
  int code;
  int size;
};
const TypeRow kTypes[] = {
    {"GLUquadric", kGluQuadric, 4}, {"GLUnurbs", kGluNurbs, 4}, {"GLUtess", kGluTess, 4},
    {"GLfloat", GL_FLOAT, 4},       {"GLdouble", GL_DOUBLE, 8}, {"GLint", GL_INT, 4},
    {"GLshort", GL_SHORT, 2},       {"GLbyte", GL_BYTE, 1},     {"GLuint", GL_UNSIGNED_INT, 4},
    {"GLushort", GL_UNSIGNED_SHORT, 2}, {"GLubyte", GL_UNSIGNED_BYTE, 1}, {"GLchar", kGlText, 1},
};

int noView(Tcl_Interp *interp) { return oglErrorInfo(interp, "No OGL selected"); }

}  // namespace

int oglTypeSize(int type) {
  for (const TypeRow &row : kTypes)
    if (row.code == type) return row.size;
  return 0;
}

const char *oglTypeName(int type) {
  for (const TypeRow &row : kTypes)
    if (row.code == type) return row.name;
  return "";
}

bool oglValidName(const char *name, size_t length) {
  if (length == 0 || length > 4095) return false;
  if (!((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z'))) return false;
  for (size_t i = 1; i < length; i++) {
    char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
          c == '.'))
      return false;
  }
  return true;
}

GlDataObject *oglFind(const char *name) {
  GlwView *view = glwCurrentView();
  if (!view) return nullptr;
  auto it = view->objects.find(name);
  return it == view->objects.end() ? nullptr : it->second;
}

static bool parseIndex(const char *&p, long &value) {
  if (*p < '0' || *p > '9') return false;
  value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + (*p++ - '0');
    if (value > INT32_MAX) return false;
  }
  return true;
}

GlRef oglResolve(const char *word) {
  GlRef ref;
  GlwView *view = glwCurrentView();
  if (!view) return ref;
  auto it = view->objects.find(word);
  if (it != view->objects.end()) {
    ref.object = it->second;
    ref.first = 0;
    ref.last = it->second->count - 1;
    return ref;
  }
  const char *paren = strchr(word, '(');
  size_t nameLength = paren ? (size_t)(paren - word) : strlen(word);
  if (!oglValidName(word, nameLength)) {
    ref.error = true;
    return ref;
  }
  if (!paren) return ref;
  const char *p = paren + 1;
  long i, j;
  if (!parseIndex(p, i)) { ref.error = true; return ref; }
  j = i;
  if (*p == ':') {
    p++;
    if (!parseIndex(p, j)) { ref.error = true; return ref; }
  }
  if (*p != ')' || p[1] != '\0' || j < i) { ref.error = true; return ref; }
  ref.first = (int)i;
  ref.last = (int)j;
  auto named = view->objects.find(std::string(word, nameLength));
  if (named == view->objects.end()) return ref;
  ref.object = named->second;
  int count = ref.object->count;
  if (ref.last >= count) { ref.last = count - 1; ref.error = true; }
  if (ref.first >= count) ref.first = count - 1;
  if (ref.first < 0) ref.first = 0;
  return ref;
}

void *oglDataPointer(const char *name, int type, int minCount) {
  GlDataObject *o = oglFind(name);
  if (!o || o->type != type || o->count < minCount) return nullptr;
  return o->data;
}

GlDataObject *oglNewNumeric(int type, int count) {
  int size = oglTypeSize(type);
  if (!size || count < 0) return nullptr;
  void *data = calloc(count > 0 ? (size_t)count : 1, (size_t)size);
  if (!data) return nullptr;
  GlDataObject *o = new GlDataObject;
  o->type = type;
  o->count = count;
  o->elementSize = size;
  o->data = data;
  return o;
}

GlDataObject *oglNewText(const char *text) {
  if (!text) text = "";
  GlDataObject *o = new GlDataObject;
  o->type = kGlText;
  o->count = 1;
  o->elementSize = (int)strlen(text);
  o->data = strdup(text);
  return o;
}

void oglFreeObject(GlDataObject *o) {
  if (!o) return;
  switch (o->type) {
    case kGluQuadric: gluDeleteQuadric((GLUquadric *)o->data); break;
    case kGluNurbs: gluDeleteNurbsRenderer((GLUnurbs *)o->data); break;
    case kGluTess: gluDeleteTess((GLUtesselator *)o->data); break;
    default: free(o->data); break;
  }
  delete o;
}

static std::string temporaryKey(const void *pointer) {
  char key[40];
  snprintf(key, sizeof key, "ogl%lu", (unsigned long)(uintptr_t)pointer);
  return key;
}

/* Removes an object from a view, unbinding any vertex array on it. */
static void dropObject(GlwView *view, std::map<std::string, GlDataObject *>::iterator it) {
  GlDataObject *o = it->second;
  view->objects.erase(it);
  oglUnbindArrays(view, o);
  oglFreeObject(o);
}

std::string oglInstall(const char *name, GlDataObject *object) {
  GlwView *view = glwCurrentView();
  std::string key = name ? std::string(name, strcspn(name, "(")) : temporaryKey(object->data);
  auto it = view->objects.find(key);
  if (it != view->objects.end()) dropObject(view, it);
  view->objects[key] = object;
  return key;
}

void oglDeleteObject(const char *name, int type) {
  GlwView *view = glwCurrentView();
  if (!view) return;
  auto it = view->objects.find(name);
  if (it == view->objects.end() || (type >= 0 && it->second->type != type)) return;
  dropObject(view, it);
}

void oglDeleteTemporary(const void *pointer) {
  GlwView *view = glwCurrentView();
  if (!view) return;
  auto it = view->objects.find(temporaryKey(pointer));
  if (it != view->objects.end()) dropObject(view, it);
}

void oglFreeAll(GlwView *view) {
  for (auto &entry : view->objects) {
    oglUnbindArrays(view, entry.second);
    oglFreeObject(entry.second);
  }
  view->objects.clear();
}

void oglUnbindArrays(GlwView *view, GlDataObject *object) {
  static const GLenum kinds[kArrayKinds] = {GL_VERTEX_ARRAY, GL_COLOR_ARRAY, GL_NORMAL_ARRAY,
                                            GL_TEXTURE_COORD_ARRAY, GL_INDEX_ARRAY, GL_EDGE_FLAG_ARRAY};
  bool bound = object == view->selectBuffer || object == view->feedbackBuffer;
  for (int k = 0; k < kArrayKinds; k++) bound = bound || view->arrays[k].object == object;
  if (!bound) return;
  /* GL must not keep a pointer into freed memory: unbind in the view's
   * own context, then give the caller's context back. */
  Display *oldDisplay = glXGetCurrentDisplay();
  GLXContext oldContext = glXGetCurrentContext();
  GLXDrawable oldDraw = glXGetCurrentDrawable(), oldRead = glXGetCurrentReadDrawable();
  bool switched = false;
  if (view->context && oldContext != view->context && view->glxDrawable) {
    glXMakeContextCurrent(view->display, view->glxDrawable, view->glxDrawable, view->context);
    switched = true;
  }
  bool current = view->context && glXGetCurrentContext() == view->context;
  if (current && (object == view->selectBuffer || object == view->feedbackBuffer)) {
    static GLuint selectSpare[1];
    static GLfloat feedbackSpare[1];
    GLint mode = GL_RENDER;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    if (mode != GL_RENDER) glRenderMode(GL_RENDER);
    if (object == view->selectBuffer) glSelectBuffer(1, selectSpare);
    if (object == view->feedbackBuffer) glFeedbackBuffer(1, GL_2D, feedbackSpare);
  }
  if (object == view->selectBuffer) view->selectBuffer = nullptr;
  if (object == view->feedbackBuffer) view->feedbackBuffer = nullptr;
  for (int k = 0; k < kArrayKinds; k++) {
    if (view->arrays[k].object != object) continue;
    view->arrays[k] = GlBoundArray();
    if (!current) continue;
    glDisableClientState(kinds[k]);
    switch (k) {
      case kArrayVertex: glVertexPointer(4, GL_FLOAT, 0, nullptr); break;
      case kArrayColor: glColorPointer(4, GL_FLOAT, 0, nullptr); break;
      case kArrayNormal: glNormalPointer(GL_FLOAT, 0, nullptr); break;
      case kArrayTexCoord: glTexCoordPointer(4, GL_FLOAT, 0, nullptr); break;
      case kArrayIndex: glIndexPointer(GL_FLOAT, 0, nullptr); break;
      case kArrayEdge: glEdgeFlagPointer(0, nullptr); break;
    }
  }
  if (switched) {
    if (oldContext) glXMakeContextCurrent(oldDisplay, oldDraw, oldRead, oldContext);
    else glXMakeContextCurrent(view->display, None, None, nullptr);
  }
}

/* ---- the commands ---- */

static bool hasWords(const char *text) { return text && oglWordCount(text) > 0; }

/* Makes a numeric object from a name (with its range) and optional values. */
static int makeNumeric(Tcl_Interp *interp, int type, int argc, const char **argv) {
  if (argc != 2 && argc != 3) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  GlRef ref = oglResolve(argv[1]);
  if (ref.object || ref.error) return TCL_ERROR;
  const char *text = argc == 3 && hasWords(argv[2]) ? argv[2] : nullptr;
  int first = ref.first, last = ref.last;
  long count = (long)last + 1;
  if (text) {
    int w = oglWordCount(text);
    if (last == 0) {
      count = w;
      last = w - 1;
    } else if (last < w) {
      count = w;
    }
  }
  if (count > INT32_MAX / 8) return TCL_ERROR;
  GlDataObject *o = oglNewNumeric(type, (int)count);
  if (!o) return TCL_ERROR;
  if (text && count > 0) {
    int from = first < count ? first : (int)count - 1;
    int to = last < count ? last : (int)count - 1;
    char *base = (char *)o->data + (size_t)from * o->elementSize;
    int n = to - from + 1;
    switch (type) {
      case GL_BYTE: oglParseList(text, (GLbyte *)base, n); break;
      case GL_UNSIGNED_BYTE: oglParseList(text, (GLubyte *)base, n); break;
      case GL_SHORT: oglParseList(text, (GLshort *)base, n); break;
      case GL_UNSIGNED_SHORT: oglParseList(text, (GLushort *)base, n); break;
      case GL_INT: oglParseList(text, (GLint *)base, n); break;
      case GL_UNSIGNED_INT: oglParseList(text, (GLuint *)base, n); break;
      case GL_FLOAT: oglParseList(text, (GLfloat *)base, n); break;
      case GL_DOUBLE: oglParseList(text, (GLdouble *)base, n); break;
    }
  }
  oglInstall(argv[1], o);
  return TCL_OK;
}

#define NUMERIC_COMMAND(cmd, code)                                                 \
  static int cmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) { \
    return makeNumeric(interp, code, argc, argv);                                 \
  }
NUMERIC_COMMAND(GLdoubleCmd, GL_DOUBLE)
NUMERIC_COMMAND(GLfloatCmd, GL_FLOAT)
NUMERIC_COMMAND(GLshortCmd, GL_SHORT)
NUMERIC_COMMAND(GLushortCmd, GL_UNSIGNED_SHORT)
NUMERIC_COMMAND(GLintCmd, GL_INT)
NUMERIC_COMMAND(GLuintCmd, GL_UNSIGNED_INT)
NUMERIC_COMMAND(GLbyteCmd, GL_BYTE)
NUMERIC_COMMAND(GLubyteCmd, GL_UNSIGNED_BYTE)

static int GLcharCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2 && argc != 3) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  GlRef ref = oglResolve(argv[1]);
  if (ref.object || ref.error) return TCL_ERROR;
  oglInstall(argv[1], oglNewText(argc == 3 ? argv[2] : ""));
  return TCL_OK;
}

static int gldelCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  oglDeleteObject(argv[1], -1);
  return TCL_OK;
}

static int gllistCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 1) return oglSyntaxError(interp);
  GlwView *view = glwCurrentView();
  if (!view) return noView(interp);
  Tcl_ResetResult(interp);
  for (auto &entry : view->objects) Tcl_AppendElement(interp, entry.first.c_str());
  return TCL_OK;
}

static int glinfoCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  GlRef ref = oglResolve(argv[1]);
  if (!ref.object) return TCL_ERROR;
  char buf[80];
  snprintf(buf, sizeof buf, "%d %d %s", ref.object->count, ref.object->elementSize,
           oglTypeName(ref.object->type));
  Tcl_SetResult(interp, buf, TCL_VOLATILE);
  return TCL_OK;
}

static int glitemsCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  GlRef ref = oglResolve(argv[1]);
  if (!ref.object) return TCL_ERROR;
  Tcl_SetObjResult(interp, Tcl_NewIntObj(ref.object->count));
  return TCL_OK;
}

static int glsizeCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  GlRef ref = oglResolve(argv[1]);
  if (ref.object) {
    Tcl_SetObjResult(interp, Tcl_NewWideIntObj((Tcl_WideInt)(ref.last - ref.first + 1) *
                                               ref.object->elementSize));
    return TCL_OK;
  }
  for (const TypeRow &row : kTypes)
    if (strcmp(row.name, argv[1]) == 0) {
      Tcl_SetObjResult(interp, Tcl_NewIntObj(row.size));
      return TCL_OK;
    }
  return TCL_ERROR;
}

static void formatElement(const GlDataObject *o, int i, char *buf, size_t size) {
  switch (o->type) {
    case GL_BYTE: snprintf(buf, size, "%d", ((GLbyte *)o->data)[i]); break;
    case GL_UNSIGNED_BYTE: snprintf(buf, size, "%d", ((GLubyte *)o->data)[i]); break;
    case GL_SHORT: snprintf(buf, size, "%d", ((GLshort *)o->data)[i]); break;
    case GL_UNSIGNED_SHORT: snprintf(buf, size, "%d", ((GLushort *)o->data)[i]); break;
    case GL_INT: case GL_UNSIGNED_INT: snprintf(buf, size, "%d", ((GLint *)o->data)[i]); break;
    case GL_FLOAT: snprintf(buf, size, "%f", ((GLfloat *)o->data)[i]); break;
    case GL_DOUBLE: snprintf(buf, size, "%f", ((GLdouble *)o->data)[i]); break;
    default: buf[0] = '\0'; break;
  }
}

static int glvCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  GlRef ref = oglResolve(argv[1]);
  if (!ref.object) return TCL_ERROR;
  const GlDataObject *o = ref.object;
  Tcl_ResetResult(interp);
  if (o->type == kGlText) {
    Tcl_AppendElement(interp, (const char *)o->data);
  } else if (o->type != kGluQuadric && o->type != kGluNurbs && o->type != kGluTess) {
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    char buf[64];
    for (int i = ref.first; i <= ref.last; i++) {
      formatElement(o, i, buf, sizeof buf);
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(buf, -1));
    }
    Tcl_SetObjResult(interp, list);
  }
  return TCL_OK;
}

static int glsetCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  GlRef ref = oglResolve(argv[1]);
  if (!ref.object || ref.error) return TCL_ERROR;
  GlDataObject *o = ref.object;
  if (o->type == kGlText) {
    std::string name(argv[1], strcspn(argv[1], "("));
    oglInstall(name.c_str(), oglNewText(argv[2]));
    return TCL_OK;
  }
  int n = ref.last - ref.first + 1;
  char *base = (char *)o->data + (size_t)ref.first * o->elementSize;
  switch (o->type) {
    case GL_BYTE: oglParseList(argv[2], (GLbyte *)base, n); break;
    case GL_UNSIGNED_BYTE: oglParseList(argv[2], (GLubyte *)base, n); break;
    case GL_SHORT: oglParseList(argv[2], (GLshort *)base, n); break;
    case GL_UNSIGNED_SHORT: oglParseList(argv[2], (GLushort *)base, n); break;
    case GL_INT: oglParseList(argv[2], (GLint *)base, n); break;
    case GL_UNSIGNED_INT: oglParseList(argv[2], (GLuint *)base, n); break;
    case GL_FLOAT: oglParseList(argv[2], (GLfloat *)base, n); break;
    case GL_DOUBLE: oglParseList(argv[2], (GLdouble *)base, n); break;
    default: break;
  }
  return TCL_OK;
}

static const GlEnumName kLoadTypes[] = {
    {"GL_UNSIGNED_BYTE", GL_UNSIGNED_BYTE}, {"GL_BYTE", GL_BYTE}, {"GL_BITMAP", GL_BITMAP},
    {"GL_UNSIGNED_SHORT", GL_UNSIGNED_SHORT}, {"GL_SHORT", GL_SHORT},
    {"GL_UNSIGNED_INT", GL_UNSIGNED_INT}, {"GL_INT", GL_INT}, {"GL_FLOAT", GL_FLOAT}, {nullptr, -1}};

/*
 * oglLoadFile --
 *     The elements of one type in a raw file from a byte offset on; the
 *     rest of the file must be a whole number of elements.  Only a regular
 *     file is read: a FIFO would block, a device has no end to measure.
 * Results:      the new object; null when the file cannot be read or its
 *     length does not fit.
 */
GlDataObject *oglLoadFile(const char *path, int type, long offset) {
  const int size = oglTypeSize(type);
  struct stat info;
  if (!size || offset < 0 || stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  FILE *f = fopen(path, "rb");
  if (!f) return nullptr;
  GlDataObject *o = nullptr;
  bool ok = false;
  if (fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode)) {
    const int64_t length = static_cast<int64_t>(info.st_size) - offset;
    if (length >= 0 && length % size == 0 && length / size <= INT32_MAX / 8 &&
        fseek(f, offset, SEEK_SET) == 0 && (o = oglNewNumeric(type, (int)(length / size)))) {
      ok = length == 0 || fread(o->data, 1, (size_t)length, f) == (size_t)length;
    }
  }
  fclose(f);
  if (!ok) {
    oglFreeObject(o);
    return nullptr;
  }
  return o;
}

static int glloadCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4 && argc != 5) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  int type = oglEnumValue(kLoadTypes, argv[3]);
  if (type < 0) return oglEnumError(interp);
  GlRef ref = oglResolve(argv[1]);
  if (ref.object || ref.error || type == GL_BITMAP) return TCL_ERROR;
  long offset = argc == 5 ? atol(argv[4]) : 0;
  Tcl_DString native;
  const char *path = Tcl_TranslateFileName(interp, argv[2], &native);
  if (!path) return TCL_ERROR;
  GlDataObject *o = oglLoadFile(path, type, offset);
  Tcl_DStringFree(&native);
  if (!o) return TCL_ERROR;
  oglInstall(argv[1], o);
  return TCL_OK;
}

static int glphotoCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return oglSyntaxError(interp);
  if (!glwCurrentView()) return noView(interp);
  Tk_PhotoHandle photo = Tk_FindPhoto(interp, argv[2]);
  if (!photo) return oglErrorInfo(interp, "Not found photo");
  Tk_PhotoImageBlock block;
  if (!Tk_PhotoGetImage(photo, &block)) return oglErrorInfo(interp, "Fail to get photo");
  GlRef ref = oglResolve(argv[1]);
  if (ref.object || ref.error) return oglErrorInfo(interp, "Fail to alloc photo");
  GLint a = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &a);
  if (a <= 0) a = 1;
  int64_t row = ((int64_t)3 * block.width + a - 1) / a * a;
  if (row * block.height > INT32_MAX / 2) return oglErrorInfo(interp, "Fail to alloc photo");
  GlDataObject *o = oglNewNumeric(GL_UNSIGNED_BYTE, (int)(row * block.height));
  if (!o) return oglErrorInfo(interp, "Fail to alloc photo");
  GLubyte *out = (GLubyte *)o->data;
  for (int k = 0; k < block.height; k++) {
    const unsigned char *src = block.pixelPtr + (size_t)(block.height - 1 - k) * block.pitch;
    GLubyte *dst = out + (size_t)k * row;
    for (int x = 0; x < block.width; x++, src += block.pixelSize) {
      dst[3 * x] = src[block.offset[0]];
      dst[3 * x + 1] = src[block.offset[1]];
      dst[3 * x + 2] = src[block.offset[2]];
    }
  }
  oglInstall(argv[1], o);
  return TCL_OK;
}

static int glscanfbCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return oglSyntaxError(interp);
  int count = oglReadInt(argv[1]);
  const GLfloat *buffer = (const GLfloat *)oglDataPointer(argv[2], GL_FLOAT, count);
  if (!buffer || count < 0) return oglErrorInfo(interp, "Error in parse buffer");
  static const struct {
    float token;
    const char *name;
  } tokens[] = {{GL_POINT_TOKEN, "POINT"},           {GL_LINE_TOKEN, "LINE"},
                {GL_LINE_RESET_TOKEN, "LINE_RESET"}, {GL_POLYGON_TOKEN, "POLYGON"},
                {GL_BITMAP_TOKEN, "BITMAP"},         {GL_DRAW_PIXEL_TOKEN, "DRAW_PIXEL"},
                {GL_COPY_PIXEL_TOKEN, "COPY_PIXEL"}, {GL_PASS_THROUGH_TOKEN, "PASS_THROUGH"}};
  std::string result;
  char buf[64];
  for (int i = 0; i < count; i++)
    for (const auto &t : tokens)
      if (buffer[i] == t.token) {
        snprintf(buf, sizeof buf, "%s%s %d", result.empty() ? "" : " ", t.name, i);
        result += buf;
      }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(result.c_str(), -1));
  return TCL_OK;
}

const OglCommand oglObjectCommands[] = {
    {GLdoubleCmd, "GLdouble"}, {GLfloatCmd, "GLfloat"},   {GLshortCmd, "GLshort"},
    {GLushortCmd, "GLushort"}, {GLintCmd, "GLint"},       {GLuintCmd, "GLuint"},
    {GLbyteCmd, "GLbyte"},     {GLubyteCmd, "GLubyte"},   {GLcharCmd, "GLchar"},
    {gldelCmd, "gldel"},       {glinfoCmd, "glinfo"},     {glitemsCmd, "glitems"},
    {glloadCmd, "glload"},     {gllistCmd, "gllist"},     {glphotoCmd, "glphoto"},
    {glsetCmd, "glset"},       {glsizeCmd, "glsize"},     {glvCmd, "glv"},
    {glscanfbCmd, "glscanfb"}, {nullptr, nullptr}};

}  // namespace vesk
