/*
 * vask.cpp --
 *     Forms of the raster driver: screens of text lines, constant fields
 *     and answer fields bound to the caller's variables, drawn by the
 *     application's "_vask." procedures in the driver interpreter.  While
 *     the form is up, "_vask.parseInput" copies each answer from the array
 *     "_vask" into the variable.  Only fields this form issued can be
 *     written, with the type and length they were issued with.
 */
#include <errno.h>
#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <map>
#include <string>

#include "core/text.h"
#include "vesk/grass.h"
#include "vesk/stdio.h"
#include "widgets/grass.h"

namespace vesk {
namespace {

/* Decimals shown for reals; 0 or less means "%f". */
int floatAccuracy = 0;
/* Decimals beyond this add nothing a user can read. */
constexpr int kAccuracyMax = 400;

/* An answer field issued by V_ques: the caller's variable and its kind. */
struct VaskField {
  void *value = nullptr;
  char type = 0;
  int length = 0;
};
std::map<long long, VaskField> vaskFields;

bool isFieldType(char type) {
  return type == 'd' || type == 'f' || type == 'i' || type == 'l' || type == 's';
}

long long fieldId(const void *value) {
  return static_cast<long long>(reinterpret_cast<uintptr_t>(value));
}

std::string formatReal(double v) {
  char small[64];
  const int decimals = std::min(floatAccuracy, kAccuracyMax);
  int n = decimals > 0 ? snprintf(small, sizeof small, "%.*f", decimals, v)
                       : snprintf(small, sizeof small, "%f", v);
  if (n < static_cast<int>(sizeof small)) return small;
  std::string text(static_cast<size_t>(n) + 1, '\0');
  if (decimals > 0) snprintf(&text[0], text.size(), "%.*f", decimals, v);
  else snprintf(&text[0], text.size(), "%f", v);
  text.pop_back();
  return text;
}

/*
 * vaskValueText --
 *     The text of a variable: reals with the accuracy, integers in
 *     decimal, a string field up to its length (it need not end in 0).
 */
std::string vaskValueText(const void *value, char type, int length) {
  switch (type) {
  case 'd': return formatReal(*static_cast<const double *>(value));
  case 'f': return formatReal(*static_cast<const float *>(value));
  case 'i': return std::to_string(*static_cast<const int *>(value));
  case 'l': return std::to_string(*static_cast<const long *>(value));
  default: {
    const char *text = static_cast<const char *>(value);
    return std::string(text, strnlen(text, static_cast<size_t>(std::max(length, 0))));
  }
  }
}

/* Evaluates one command of words in the driver interpreter. */
int evalWords(std::initializer_list<std::string> words, std::string *result = nullptr) {
  Tcl_Interp *interp = driverInterp();
  if (!interp) return TCL_ERROR;
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(list);
  for (const std::string &w : words)
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(w.data(), static_cast<int>(w.size())));
  int n = 0;
  Tcl_Obj **objv = nullptr;
  Tcl_ListObjGetElements(nullptr, list, &n, &objv);
  Tcl_Preserve(interp);
  int code = Tcl_EvalObjv(interp, n, objv, TCL_EVAL_GLOBAL);
  if (result) *result = Tcl_GetStringResult(interp);
  Tcl_Release(interp);
  Tcl_DecrRefCount(list);
  return code;
}

/* Refuses a field the form cannot show. */
bool checkField(const void *value, char type, int len, const char *caller) {
  if (value && isFieldType(type) && len >= 0) return true;
  vesk_fprintf(stderr, "%s: invalid field: type %c, length %d%s\n", caller, type ? type : '?',
               len, value ? "" : ", no variable");
  return false;
}

void vaskError(long long id, const char *type, const char *text) {
  vesk_fprintf(stderr, "vask error - id: %lld type: %s value: %s\n", id, type, text);
}

/*
 * vaskStoreAnswer --
 *     Copies the answer text of field `idWord` from "_vask" into its
 *     variable, checked against the field's type.
 * Results:      1 when stored; 0 after a message on stderr (the variable
 *               keeps its last valid answer).
 */
int vaskStoreAnswer(Tcl_Interp *interp, const char *idWord, const char *typeWord) {
  const long long id = strtoll(idWord, nullptr, 10);
  const char *answer = Tcl_GetVar2(interp, "_vask", idWord, TCL_GLOBAL_ONLY);
  auto field = vaskFields.find(id);
  if (!answer || field == vaskFields.end()) {
    vesk_fprintf(stderr, "invalid vask id: %lld\n", id);
    return 0;
  }
  const std::string text = answer;
  const VaskField &f = field->second;
  if (typeWord[0] != f.type) {
    vaskError(id, typeWord, text.c_str());
    return 0;
  }
  const char *t = text.c_str();
  switch (f.type) {
  case 'd':
  case 'f': {
    if (!isRealString(t)) break;
    const double v = strtod(t, nullptr);
    if (f.type == 'd') {
      *static_cast<double *>(f.value) = v;
      return 1;
    }
    if (std::isfinite(v) && fabs(v) > FLT_MAX) break;
    *static_cast<float *>(f.value) = static_cast<float>(v);
    return 1;
  }
  case 'i':
  case 'l': {
    if (!isIntString(t)) break;
    errno = 0;
    const long v = strtol(t, nullptr, 10);
    if (errno == ERANGE) break;
    if (f.type == 'l') {
      *static_cast<long *>(f.value) = v;
      return 1;
    }
    if (v < INT_MIN || v > INT_MAX) break;
    *static_cast<int *>(f.value) = static_cast<int>(v);
    return 1;
  }
  case 's': {
    char *out = static_cast<char *>(f.value);
    const size_t n = std::min(text.size(), static_cast<size_t>(f.length));
    memcpy(out, t, n);
    memset(out + n, 0, static_cast<size_t>(f.length) - n);
    return 1;
  }
  }
  vaskError(id, typeWord, t);
  return 0;
}

}  // namespace

/*
 * vaskParseInputCmd --
 *     "_vask.parseInput id type len": stores the field's answer.  The
 *     length word is not trusted: the field's own length holds.
 * Results:      TCL_OK when stored, else TCL_ERROR; the result is empty.
 */
int vaskParseInputCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  Tcl_ResetResult(interp);
  if (argc != 4) {
    vesk_printf("Usage %s id type len\n", argv[0]);
    return TCL_ERROR;
  }
  return vaskStoreAnswer(interp, argv[1], argv[2]) ? TCL_OK : TCL_ERROR;
}

/*
 * vaskTest --
 *     The test form: an integer, a real and a string of 11 characters.
 * Results:      1 when the form was confirmed (the values are printed),
 *               else 0.
 */
int vaskTest() {
  int number = 0;
  float real = 2.1f;
  char text[12] = {0};
  V_clear();
  V_line(5, "Enter an Integer");
  V_line(7, "Enter a Decimal");
  V_line(9, "Enter a character string");
  V_ques(&number, 'i', 5, 30, 5);
  V_ques(&real, 'f', 7, 30, 5);
  V_ques(text, 's', 9, 30, 11);
  V_intrpt_GD_OK();
  if (V_call() == 0) return 0;
  vesk_printf("%d %f %s\n", number, real, text);
  return 1;
}

}  // namespace vesk

using namespace vesk;

/* A new form: the fields of the last one can no longer be written. */
int V_clear(void) {
  vaskFields.clear();
  return evalWords({"_vask.clear"});
}

int V_line(int line, const char *text) {
  return evalWords({"_vask.line", std::to_string(line), text ? text : ""});
}

/* A constant field showing the variable's value. */
int V_const(void *value, char type, int row, int col, int len) {
  if (!checkField(value, type, len, "V_const")) return TCL_ERROR;
  return evalWords({"_vask.const", vaskValueText(value, type, len), std::string(1, type),
                    std::to_string(row), std::to_string(col), std::to_string(len)});
}

/*
 * V_ques --
 *     An answer field bound to the variable: "_vask.ques" draws it and
 *     answers its entry's path, whose key releases store the answer.
 * Results:      0; the script's code when it failed, TCL_ERROR for a
 *               variable or type the form cannot take.
 */
int V_ques(void *value, char type, int row, int col, int len) {
  if (!checkField(value, type, len, "V_ques")) return TCL_ERROR;
  const long long id = fieldId(value);
  const std::string idText = std::to_string(id), typeText(1, type), lenText = std::to_string(len);
  std::string path;
  int code = evalWords({"_vask.ques", idText, vaskValueText(value, type, len), typeText,
                        std::to_string(row), std::to_string(col), lenText},
                       &path);
  if (code != TCL_OK) return code;
  vaskFields[id] = VaskField{value, type, len};
  code = evalWords({"bind", path, "<KeyRelease>",
                    "+_vask.parseInput " + idText + " " + typeText + " " + lenText});
  return code == TCL_OK ? 0 : code;
}

int V_float_accuracy(int decimals) {
  int previous = floatAccuracy;
  floatAccuracy = decimals;
  return previous;
}

/*
 * V_call --
 *     Shows the form and waits ("_vask.call"); the form's fields end here.
 * Results:      the decimal value of _vask(return), 0 when it is absent.
 */
int V_call(void) {
  evalWords({"_vask.call"});
  Tcl_Interp *interp = driverInterp();
  const char *answer = interp ? Tcl_GetVar2(interp, "_vask", "return", TCL_GLOBAL_ONLY) : nullptr;
  vaskFields.clear();
  return answer ? wordToInt(answer) : 0;
}

int V_intrpt_GD_OK(void) { return evalWords({"_vask.intrpt_GD_OK"}); }

int V_intrpt_msg(const char *message) {
  if (!message) return evalWords({"_vask.intrp_msg"});
  return evalWords({"_vask.intrp_msg", message});
}
