/*
 * binding.cpp --
 *     The frame of the OpenGL binding: command registration, GLenum word
 *     lookup, the scalar and array readers that turn words into arguments
 *     (from literal lists or from the current view's data objects), the
 *     pixel-span rules and the writer of arrays into Tcl variables.
 */
#include "gl/ogl.h"

#include "core/lazylib.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

namespace vesk {

int oglEnumValue(const GlEnumName *table, const char *word) {
  for (const GlEnumName *row = table; row->name; row++)
    if (strcmp(row->name, word) == 0) return row->value;
  return -1;
}

const char *oglEnumName(const GlEnumName *table, int value) {
  for (const GlEnumName *row = table; row->name; row++)
    if (row->value == value) return row->name;
  return nullptr;
}

int oglSyntaxError(Tcl_Interp *interp) { return oglErrorInfo(interp, "Syntax Error"); }
int oglEnumError(Tcl_Interp *interp) { return oglErrorInfo(interp, "GLenum Error"); }

/* Errors of the binding go to errorInfo; the result stays empty. */
int oglErrorInfo(Tcl_Interp *interp, const char *message) {
  Tcl_ResetResult(interp);
  Tcl_AddErrorInfo(interp, message);
  return TCL_ERROR;
}

int oglResultError(Tcl_Interp *interp, const char *message) {
  Tcl_AppendResult(interp, message, (char *)nullptr);
  return TCL_ERROR;
}

/* ---- numbers ---- */

/* Floating value to an integer type without undefined casts: truncated or
 * rounded half away from zero, clamped to the type's range. */
template <class T> static T floatToInt(double v, bool round) {
  if (!std::isfinite(v)) return 0;
  if (round) v = v < 0 ? std::ceil(v - 0.5) : std::floor(v + 0.5);
  else v = std::trunc(v);
  const double lo = (double)std::numeric_limits<T>::min(), hi = (double)std::numeric_limits<T>::max();
  if (v <= lo) return std::numeric_limits<T>::min();
  if (v >= hi) return std::numeric_limits<T>::max();
  return (T)v;
}

static double elementAsDouble(const GlDataObject *o, int i) {
  switch (o->type) {
    case GL_BYTE: return ((GLbyte *)o->data)[i];
    case GL_UNSIGNED_BYTE: return ((GLubyte *)o->data)[i];
    case GL_SHORT: return ((GLshort *)o->data)[i];
    case GL_UNSIGNED_SHORT: return ((GLushort *)o->data)[i];
    case GL_INT: return ((GLint *)o->data)[i];
    case GL_UNSIGNED_INT: return ((GLuint *)o->data)[i];
    case GL_FLOAT: return ((GLfloat *)o->data)[i];
    case GL_DOUBLE: return ((GLdouble *)o->data)[i];
    case kGlText: return atof((const char *)o->data);
    default: return 0;
  }
}

static long elementAsLong(const GlDataObject *o, int i) {
  switch (o->type) {
    case GL_UNSIGNED_INT: return (GLint)((GLuint *)o->data)[i];
    case GL_FLOAT:
    case GL_DOUBLE: return floatToInt<int>(elementAsDouble(o, i), false);
    case kGlText: return atol((const char *)o->data);
    case kGluQuadric:
    case kGluNurbs:
    case kGluTess: return 0;
    default: return (long)elementAsDouble(o, i);
  }
}

double oglReadDouble(const char *word) {
  GlRef ref = oglResolve(word);
  if (ref.object && ref.object->count > 0) return elementAsDouble(ref.object, ref.first);
  return atof(word);
}

int oglReadInt(const char *word) {
  GlRef ref = oglResolve(word);
  if (ref.object && ref.object->count > 0) return (int)elementAsLong(ref.object, ref.first);
  return (int)atol(word);
}

int oglWordCount(const char *text) {
  int n = 0;
  for (const char *p = text; *p;) {
    while (*p == ' ' || *p == '\t') p++;
    if (!*p) break;
    n++;
    while (*p && *p != ' ' && *p != '\t') p++;
  }
  return n;
}

bool oglIsPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

int oglFormatComponents(int format) {
  switch (format) {
    case GL_RGB: return 3;
    case GL_RGBA: return 4;
    case GL_LUMINANCE_ALPHA: return 2;
    default: return 1;
  }
}

template <class T> int oglParseList(const char *text, T *dest, int count) {
  std::string copy(text ? text : "");
  int parsed = 0;
  char *save = nullptr;
  for (char *tok = strtok_r(&copy[0], " ,\t", &save); tok && parsed < count;
       tok = strtok_r(nullptr, " ,\t", &save)) {
    if (std::is_floating_point<T>::value) dest[parsed] = (T)atof(tok);
    else dest[parsed] = (T)(unsigned long)atol(tok); /* low bits kept */
    parsed++;
  }
  if (parsed > 0)
    for (int i = parsed; i < count; i++) dest[i] = dest[parsed - 1];
  return parsed;
}
template int oglParseList<GLbyte>(const char *, GLbyte *, int);
template int oglParseList<GLubyte>(const char *, GLubyte *, int);
template int oglParseList<GLshort>(const char *, GLshort *, int);
template int oglParseList<GLushort>(const char *, GLushort *, int);
template int oglParseList<GLint>(const char *, GLint *, int);
template int oglParseList<GLuint>(const char *, GLuint *, int);
template int oglParseList<GLfloat>(const char *, GLfloat *, int);
template int oglParseList<GLdouble>(const char *, GLdouble *, int);

/* ---- arrays ---- */

OglTemps::~OglTemps() {
  for (const void *p : pointers_) oglDeleteTemporary(p);
}

/* Element i of an object converted to T by the conversion rules. */
template <class T> static T convertElement(const GlDataObject *o, int i) {
  if (std::is_floating_point<T>::value) return (T)elementAsDouble(o, i);
  if (o->type != GL_FLOAT && o->type != GL_DOUBLE) return (T)(unsigned long)elementAsLong(o, i);
  double v = elementAsDouble(o, i);
  bool isDouble = o->type == GL_DOUBLE;
  bool round;
  if (sizeof(T) == 1) round = true;
  else if (std::is_same<T, GLushort>::value) round = false;
  else round = isDouble;
  return floatToInt<T>(v, round);
}

template <class T> static int typeCode();
template <> int typeCode<GLbyte>() { return GL_BYTE; }
template <> int typeCode<GLubyte>() { return GL_UNSIGNED_BYTE; }
template <> int typeCode<GLshort>() { return GL_SHORT; }
template <> int typeCode<GLushort>() { return GL_UNSIGNED_SHORT; }
template <> int typeCode<GLint>() { return GL_INT; }
template <> int typeCode<GLuint>() { return GL_UNSIGNED_INT; }
template <> int typeCode<GLfloat>() { return GL_FLOAT; }
template <> int typeCode<GLdouble>() { return GL_DOUBLE; }

static bool isNumeric(int type) {
  switch (type) {
    case GL_BYTE: case GL_UNSIGNED_BYTE: case GL_SHORT: case GL_UNSIGNED_SHORT:
    case GL_INT: case GL_UNSIGNED_INT: case GL_FLOAT: case GL_DOUBLE: return true;
    default: return false;
  }
}

template <class T> static T *newTemporary(int n, OglTemps &temps) {
  GlDataObject *o = oglNewNumeric(typeCode<T>(), n > 0 ? n : 1);
  if (!o) return nullptr;
  oglInstall(nullptr, o);
  temps.add(o->data);
  return (T *)o->data;
}

template <class T> static T *readArray(const char *word, int n, OglTemps &temps) {
  if (!glwCurrentView() || n < 0) return nullptr;
  if (!word) return newTemporary<T>(n, temps);
  GlRef ref = oglResolve(word);
  if (ref.object && isNumeric(ref.object->type) && ref.object->count - ref.first >= n) {
    if (ref.object->type == typeCode<T>()) return (T *)ref.object->data + ref.first;
    GlDataObject *source = ref.object;
    int first = ref.first;
    T *out = newTemporary<T>(n, temps);
    if (out)
      for (int i = 0; i < n; i++) out[i] = convertElement<T>(source, first + i);
    return out;
  }
  if (oglWordCount(word) == n && n > 0) {
    T *out = newTemporary<T>(n, temps);
    if (out) oglParseList<T>(word, out, n);
    return out;
  }
  return nullptr;
}

GLbyte *oglReadBytes(const char *w, int n, OglTemps &t) { return readArray<GLbyte>(w, n, t); }
GLubyte *oglReadUbytes(const char *w, int n, OglTemps &t) { return readArray<GLubyte>(w, n, t); }
GLshort *oglReadShorts(const char *w, int n, OglTemps &t) { return readArray<GLshort>(w, n, t); }
GLushort *oglReadUshorts(const char *w, int n, OglTemps &t) { return readArray<GLushort>(w, n, t); }
GLint *oglReadInts(const char *w, int n, OglTemps &t) { return readArray<GLint>(w, n, t); }
GLuint *oglReadUints(const char *w, int n, OglTemps &t) { return readArray<GLuint>(w, n, t); }
GLfloat *oglReadFloats(const char *w, int n, OglTemps &t) { return readArray<GLfloat>(w, n, t); }
GLdouble *oglReadDoubles(const char *w, int n, OglTemps &t) { return readArray<GLdouble>(w, n, t); }

void *oglReadTyped(const char *word, int type, int n, OglTemps &temps) {
  switch (type) {
    case GL_BYTE: return oglReadBytes(word, n, temps);
    case GL_UNSIGNED_BYTE: return oglReadUbytes(word, n, temps);
    case GL_SHORT: return oglReadShorts(word, n, temps);
    case GL_UNSIGNED_SHORT: return oglReadUshorts(word, n, temps);
    case GL_INT: return oglReadInts(word, n, temps);
    case GL_UNSIGNED_INT: return oglReadUints(word, n, temps);
    case GL_FLOAT: return oglReadFloats(word, n, temps);
    case GL_2_BYTES: return n > INT32_MAX / 2 ? nullptr : oglReadUbytes(word, 2 * n, temps);
    case GL_3_BYTES: return n > INT32_MAX / 3 ? nullptr : oglReadUbytes(word, 3 * n, temps);
    case GL_4_BYTES: return n > INT32_MAX / 4 ? nullptr : oglReadUbytes(word, 4 * n, temps);
    default: return nullptr;
  }
}

static int pixelTypeSize(int type) {
  switch (type) {
    case GL_BYTE: case GL_UNSIGNED_BYTE: return 1;
    case GL_SHORT: case GL_UNSIGNED_SHORT: return 2;
    case GL_INT: case GL_UNSIGNED_INT: case GL_FLOAT: return 4;
    case GL_BITMAP: return 1;
    default: return 0;
  }
}

/* The bytes GL touches for a rectangle, by every pack or unpack parameter
 * (row length, skips and alignment), as the GL 1.1 pixel-storage rules
 * define them. */
size_t oglPixelSpan(bool pack, int format, int type, int width, int height) {
  int s = pixelTypeSize(type);
  if (!s || width <= 0 || height <= 0) return 0;
  GLint a = 4, rowLength = 0, skipPixels = 0, skipRows = 0;
  glGetIntegerv(pack ? GL_PACK_ALIGNMENT : GL_UNPACK_ALIGNMENT, &a);
  glGetIntegerv(pack ? GL_PACK_ROW_LENGTH : GL_UNPACK_ROW_LENGTH, &rowLength);
  glGetIntegerv(pack ? GL_PACK_SKIP_PIXELS : GL_UNPACK_SKIP_PIXELS, &skipPixels);
  glGetIntegerv(pack ? GL_PACK_SKIP_ROWS : GL_UNPACK_SKIP_ROWS, &skipRows);
  if (a <= 0) a = 1;
  uint64_t l = rowLength > 0 ? (uint64_t)rowLength : (uint64_t)width;
  uint64_t rowBytes, firstRowBytes;
  if (type == GL_BITMAP) {
    rowBytes = (l + 7) / 8;
    rowBytes = (rowBytes + a - 1) / a * a;
    firstRowBytes = ((uint64_t)skipPixels + width + 7) / 8;
  } else {
    uint64_t n = (uint64_t)oglFormatComponents(format);
    rowBytes = s * n * l;
    if (s < a) rowBytes = (rowBytes + a - 1) / a * a;
    firstRowBytes = s * n * ((uint64_t)skipPixels + width);
  }
  /* Whole padded rows, and never less than what the last row reaches. */
  uint64_t total = ((uint64_t)skipRows + height) * rowBytes;
  uint64_t reach = ((uint64_t)skipRows + height - 1) * rowBytes + firstRowBytes;
  if (reach > total) total = reach;
  if (total > (uint64_t)INT32_MAX) return 0;
  return (size_t)total;
}

void *oglReadImage(const char *word, int format, int type, int width, int height, OglTemps &temps) {
  size_t bytes = oglPixelSpan(false, format, type, width, height);
  int s = pixelTypeSize(type);
  if (!bytes || !s) return nullptr;
  int n = (int)((bytes + s - 1) / s);
  switch (type) {
    case GL_BITMAP: return oglReadUbytes(word, n, temps);
    default: return oglReadTyped(word, type, n, temps);
  }
}

void oglArrayToVar(Tcl_Interp *interp, const char *varName, int type, const void *data, int width,
                   int height) {
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  size_t n = (size_t)(width > 0 ? width : 0) * (size_t)(height > 0 ? height : 0);
  char buf[64];
  auto add = [&](const char *text) { Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(text, -1)); };
  switch (type) {
    case GL_BYTE: for (size_t i = 0; i < n; i++) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(((const GLbyte *)data)[i])); break;
    case GL_UNSIGNED_BYTE: for (size_t i = 0; i < n; i++) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(((const GLubyte *)data)[i])); break;
    case GL_SHORT: for (size_t i = 0; i < n; i++) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(((const GLshort *)data)[i])); break;
    case GL_UNSIGNED_SHORT: for (size_t i = 0; i < n; i++) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(((const GLushort *)data)[i])); break;
    case GL_INT: case GL_UNSIGNED_INT: for (size_t i = 0; i < n; i++) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(((const GLint *)data)[i])); break;
    case GL_FLOAT: for (size_t i = 0; i < n; i++) { snprintf(buf, sizeof buf, "%f", ((const GLfloat *)data)[i]); add(buf); } break;
    case GL_DOUBLE: for (size_t i = 0; i < n; i++) { snprintf(buf, sizeof buf, "%f", ((const GLdouble *)data)[i]); add(buf); } break;
    case GL_BITMAP: {
      GLint a = 4;
      glGetIntegerv(GL_UNPACK_ALIGNMENT, &a);
      if (a <= 0) a = 1;
      size_t row = ((size_t)(width + 7) / 8 + a - 1) / a * a;
      for (size_t i = 0; i < row * (size_t)(height > 0 ? height : 0); i++)
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(((const GLubyte *)data)[i]));
      break;
    }
    default: break;
  }
  Tcl_SetVar2Ex(interp, varName, nullptr, list, 0);
}

/* The command table, part by part in the order of creation. */
static const OglCommand *const commandParts[] = {oglObjectCommands, oglGlCommands, oglGluCommands,
                                                    oglDemCommands};

/* Each command of the binding loads the GL libraries before it runs. */
static int oglEntry(ClientData data, Tcl_Interp *interp, int argc, const char **argv) {
  if (requireLibrary(interp, kLazyGl) != TCL_OK) return TCL_ERROR;
  return static_cast<const OglCommand *>(data)->proc(nullptr, interp, argc, argv);
}

int Ogl_Init(Tcl_Interp *interp) {
  for (const OglCommand *part : commandParts)
    for (const OglCommand *row = part; row->name; row++)
      if (!Tcl_CreateCommand(interp, row->name, oglEntry, const_cast<OglCommand *>(row), nullptr))
        return 1;
  return 0;
}

}  // namespace vesk
