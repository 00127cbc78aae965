/*
 * gcpobj.cpp --
 *     GCP objects: "gcp.create" makes a generic object whose payload is a
 *     GCP set, and the object's command loads, edits, selects, fits and
 *     saves its control points.
 */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <new>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "geometry/gcpset.h"
#include "vesk/object.h"
#include "vesk/vesk.h"

namespace vesk {
namespace {

constexpr const char *kGcpUsage =
    " [calc config cget class clone close count delete error function get id modified reverse "
    "save savefunction select set setxy setuv unselect version]";

GCPOBJ *gcpOf(RAMOBJ *object) { return static_cast<GCPOBJ *>(object->payload); }

/* ---- class operations ---- */

int gcpOpCount(RAMOBJ *object) { return gcpOf(object) ? gcpOf(object)->count : 0; }

int gcpOpSelected(RAMOBJ *object, int item) {
  GCPOBJ *set = gcpOf(object);
  return set && item >= 0 && item < set->count && set->records[item].selected ? 1 : 0;
}

int gcpOpType(RAMOBJ *) { return 0x100; }

void *gcpOpClone(void *payload, int selectedOnly) {
  GCPOBJ *copy = createGcpSet(static_cast<GCPOBJ *>(payload));
  if (copy && !selectedOnly)
    for (int i = 0; i < copy->count; i++) copy->records[i].selected = 1;
  return copy;
}

int gcpOpSave(RAMOBJ *object, const char *fileName, int) {
  return gcpOf(object) ? writeGcpFile(gcpOf(object), fileName) : 0;
}

void *gcpOpCreatePayload(const char *fileName, int *status) {
  GCPOBJ *set = readGcpFile(fileName);
  if (status) *status = set ? 0 : 1;
  return set;
}

void gcpOpFreePayload(void *payload) { freeGcpSet(static_cast<GCPOBJ *>(payload)); }

int gcpOpModified(RAMOBJ *object) { return gcpOf(object) ? gcpOf(object)->modified : 0; }

int gcpInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv);

void fillGcpClassOps(ObjectClassOps *ops) {
  ops->count = gcpOpCount;
  ops->selected = gcpOpSelected;
  ops->type = gcpOpType;
  ops->clonePayload = gcpOpClone;
  ops->save = gcpOpSave;
  ops->acquire = objAcquire;
  ops->release = objRelease;
  ops->close = objClose;
  ops->createPayload = gcpOpCreatePayload;
  ops->freePayload = gcpOpFreePayload;
  ops->command = gcpInstanceCmd;
  ops->modified = gcpOpModified;
  ops->methods = nullptr;
}

/* ---- subcommands ---- */

int gcpUsage(Tcl_Interp *interp, const char *name, const char *tail) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "Usage: ", name, tail, (char *)nullptr);
  return TCL_ERROR;
}

int gcpError(Tcl_Interp *interp, const char *message) {
  Tcl_SetResult(interp, const_cast<char *>(message), TCL_VOLATILE);
  return TCL_ERROR;
}

/* A whole decimal number: the leading integer of the word, 0 when none. */
int wholeNumber(const char *word) { return static_cast<int>(strtol(word, nullptr, 10)); }

bool isAll(int argc, const char **argv) { return argc == 3 && strcmp(argv[2], "all") == 0; }

void appendElement(Tcl_Interp *interp, const std::string &text) {
  Tcl_AppendElement(interp, text.c_str());
}

std::string formatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char *format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string recordCoordinates(const GcpRecord &r) {
  return formatted("%d %-.12g %-.12g %-.12g %-.12g", r.id, r.x1, r.y1, r.x2, r.y2);
}

std::string recordResidual(const GcpRecord &r) {
  return formatted("%d %-.12g %-.12g", r.id, static_cast<double>(r.dx), static_cast<double>(r.dy));
}

int gcpCalc(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) return gcpUsage(interp, argv[0], " calc x y");
  double y2, x2;
  if (!evalGcpPolynomial(set, wholeNumber(argv[2]), wholeNumber(argv[3]), &y2, &x2))
    return gcpError(interp, "No function is available");
  Tcl_SetResult(interp, const_cast<char *>(formatted("%.12g %.12g", y2, x2).c_str()), TCL_VOLATILE);
  return TCL_OK;
}

int gcpDelete(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return gcpUsage(interp, argv[0], " delete index");
  int index = wholeNumber(argv[2]);
  if (index < 0 || index >= set->count) return gcpError(interp, "Invalid index");
  deleteGcpAt(set, index);
  return TCL_OK;
}

int gcpErrorList(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) return gcpUsage(interp, argv[0], " error ?id? ...|all");
  if (isAll(argc, argv)) {
    for (int i = 0; i < set->count; i++) appendElement(interp, recordResidual(set->records[i]));
    return TCL_OK;
  }
  for (int k = 2; k < argc; k++) {
    int index;
    if (findGcpById(set, wholeNumber(argv[k]), &index))
      appendElement(interp, recordResidual(set->records[index]));
  }
  return TCL_OK;
}

int gcpFunction(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return gcpUsage(interp, argv[0], " power");
  int power = wholeNumber(argv[2]);
  if (power < 0) power = 0;
  if (!fitGcpPolynomial(set, power)) return gcpError(interp, "No enough GCPs");
  std::vector<char> buffer(static_cast<size_t>(gcpCoefBufferSize(set)));
  Tcl_ResetResult(interp);
  Tcl_AppendElement(interp, formatGcpErrors(set, "%.12g", buffer.data()));
  Tcl_AppendElement(interp, formatJcoef(set, "%.12g", buffer.data()));
  Tcl_AppendElement(interp, formatIcoef(set, "%.12g", buffer.data()));
  return TCL_OK;
}

int gcpGet(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) return gcpUsage(interp, argv[0], " get ?index? ...|all");
  if (isAll(argc, argv)) {
    for (int i = 0; i < set->count; i++) appendElement(interp, recordCoordinates(set->records[i]));
    return TCL_OK;
  }
  for (int k = 2; k < argc; k++) {
    int index = wholeNumber(argv[k]);
    if (index >= 0 && index < set->count) appendElement(interp, recordCoordinates(set->records[index]));
  }
  return TCL_OK;
}

int gcpId(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) return gcpUsage(interp, argv[0], " id ?index? ...|all");
  if (isAll(argc, argv)) {
    for (int i = 0; i < set->count; i++) appendElement(interp, formatted("%d", set->records[i].id));
    return TCL_OK;
  }
  for (int k = 2; k < argc; k++) {
    int index = wholeNumber(argv[k]);
    appendElement(interp, index >= 0 && index < set->count
                              ? formatted("%d", set->records[index].id) : std::string());
  }
  return TCL_OK;
}

int gcpSelect(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv, int flag) {
  if (argc < 3) return gcpUsage(interp, argv[0], flag ? " select ?id? ...|all" : " unselect ?id? ...|all");
  if (isAll(argc, argv)) {
    for (int i = 0; i < set->count; i++) set->records[i].selected = flag;
  } else {
    for (int k = 2; k < argc; k++) {
      int index;
      if (findGcpById(set, wholeNumber(argv[k]), &index)) set->records[index].selected = flag;
    }
  }
  set->modified = 1;
  return TCL_OK;
}

/* The words of a list argument, or false when it is no list of count words. */
bool listWords(Tcl_Interp *interp, const char *text, int count, std::vector<std::string> &out) {
  int n = 0;
  const char **words = nullptr;
  if (Tcl_SplitList(interp, text, &n, &words) != TCL_OK) return false;
  for (int i = 0; i < n; i++) out.push_back(words[i]);
  Tcl_Free(reinterpret_cast<char *>(words));
  return n == count;
}

/* Reads the numbers of words[from..]; false with an error for a non-number. */
bool readDoubles(Tcl_Interp *interp, const std::vector<std::string> &words, size_t from, double *out) {
  for (size_t i = from; i < words.size(); i++)
    if (Tcl_GetDouble(interp, words[i].c_str(), &out[i - from]) != TCL_OK) return false;
  return true;
}

int gcpSet(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv) {
  std::vector<std::string> words;
  if (argc != 3 || !listWords(interp, argv[2], 5, words))
    return gcpUsage(interp, argv[0], " set {id x y u v}");
  int id = wholeNumber(words[0].c_str());
  if (id <= 0) return gcpError(interp, "id must be greater than 0");
  double v[4];
  if (!readDoubles(interp, words, 1, v)) return TCL_ERROR;
  int index;
  if (!findGcpById(set, id, &index)) {
    if (set->count >= set->capacity) return gcpError(interp, "GCP number overflow");
    index = set->count++;
    set->records[index] = GcpRecord();
    set->records[index].selected = 1;
    set->records[index].id = id;
  }
  GcpRecord &r = set->records[index];
  r.x1 = v[0];
  r.y1 = v[1];
  r.x2 = v[2];
  r.y2 = v[3];
  set->modified = 1;
  return TCL_OK;
}

/* setxy and setuv: one position of the first record with the id. */
int gcpSetPosition(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv, bool target) {
  const char *tail = target ? " setuv {id u v}" : " setxy {id x y}";
  std::vector<std::string> words;
  if (argc != 3 || !listWords(interp, argv[2], 3, words)) return gcpUsage(interp, argv[0], tail);
  double v[2];
  if (!readDoubles(interp, words, 1, v)) return TCL_ERROR;
  int index;
  if (!findGcpById(set, wholeNumber(words[0].c_str()), &index))
    return gcpError(interp, "can't find specified GCP");
  GcpRecord &r = set->records[index];
  (target ? r.x2 : r.x1) = v[0];
  (target ? r.y2 : r.y1) = v[1];
  set->modified = 1;
  return TCL_OK;
}

int gcpSaveFunction(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return gcpUsage(interp, argv[0], " savefuntion fileName");
  if (!saveGcpFunction(set, argv[2])) return gcpError(interp, "Error in saving");
  return TCL_OK;
}

bool isPrefix(const char *word, const char *name, size_t minimum) {
  size_t length = strlen(word);
  return length >= minimum && strncmp(word, name, length) == 0;
}

/*
 * gcpSubcommand --
 *     The object's own words, matched by their first letter.
 * Results:      the subcommand's code; the full usage for a word whose
 *               first letter none of them has (or a "d" word shorter than
 *               three characters); an empty result for a word that has a
 *               known first letter but matches nothing.
 */
int gcpSubcommand(GCPOBJ *set, Tcl_Interp *interp, int argc, const char **argv) {
  const char *word = argv[1];
  switch (word[0]) {
  case 'c':
    if (strcmp(word, "calc") == 0) return gcpCalc(set, interp, argc, argv);
    return TCL_OK;
  case 'd':
    if (strlen(word) < 3) return gcpUsage(interp, argv[0], kGcpUsage);
    if (isPrefix(word, "delete", 3)) return gcpDelete(set, interp, argc, argv);
    return TCL_OK;
  case 'e':
    if (strcmp(word, "error") == 0) return gcpErrorList(set, interp, argc, argv);
    return TCL_OK;
  case 'f':
    if (strcmp(word, "function") == 0) return gcpFunction(set, interp, argc, argv);
    return TCL_OK;
  case 'g':
    if (isPrefix(word, "get", 1)) return gcpGet(set, interp, argc, argv);
    return TCL_OK;
  case 'i':
    if (strcmp(word, "id") == 0) return gcpId(set, interp, argc, argv);
    return TCL_OK;
  case 'r':
    if (strcmp(word, "reverse") == 0) exchangeGcpPoints(set);
    return TCL_OK;
  case 's':
    if (strcmp(word, "select") == 0) return gcpSelect(set, interp, argc, argv, 1);
    if (strcmp(word, "set") == 0) return gcpSet(set, interp, argc, argv);
    if (strcmp(word, "setxy") == 0) return gcpSetPosition(set, interp, argc, argv, false);
    if (strcmp(word, "setuv") == 0) return gcpSetPosition(set, interp, argc, argv, true);
    if (isPrefix(word, "savefunction", 5)) return gcpSaveFunction(set, interp, argc, argv);
    return TCL_OK;
  case 'u':
    if (strcmp(word, "unselect") == 0) return gcpSelect(set, interp, argc, argv, 0);
    return TCL_OK;
  default:
    return gcpUsage(interp, argv[0], kGcpUsage);
  }
}

/*
 * gcpInstanceCmd --
 *     The command of one GCP object: the shared object subcommands first,
 *     then the GCP words.
 */
int gcpInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  if (argc < 2) return gcpUsage(interp, argv[0], kGcpUsage);
  int result = objDefCommand(object, interp, argc, argv);
  if (result != OBJ_NOT_HANDLED) return result;
  const char first = argv[1][0];
  bool known = strchr("cdefgirsu", first) && first && !(first == 'd' && strlen(argv[1]) < 3);
  if (!known) return gcpUsage(interp, argv[0], kGcpUsage);
  if (!gcpOf(object)) return gcpError(interp, "Undefined object");
  try {
    return gcpSubcommand(gcpOf(object), interp, argc, argv);
  } catch (const std::bad_alloc &) {
    return gcpError(interp, "out of memory");
  }
}

/*
 * gcpCreateCmd --
 *     "gcp.create id ?-file path? ?-update n?": a GCP object, with the set
 *     of the file or an empty one.
 * Results:      the id; an error for a missing id, a name in use or a
 *               failed configuration (the object is gone again).
 */
int gcpCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, argv[0], " id options", (char *)nullptr);
    return TCL_ERROR;
  }
  const char *name = argv[1];
  Tcl_CmdInfo info;
  if (Tcl_GetCommandInfo(interp, name, &info)) return gcpError(interp, "command already exists");
  RAMOBJ *object = newObjectRecord(OBJ_GCP);
  if (!object) return gcpError(interp, "Error in create gcp obj");
  fillGcpClassOps(&object->ops);
  Tcl_Command token = Tcl_CreateCommand(interp, name, gcpInstanceCmd, object, objDelete);
  if (!token) {
    objClose(object);
    return gcpError(interp, "Error in create gcp obj");
  }
  if (objConfig(object, interp, argc - 2, argv + 2, 0, nullptr) != TCL_OK) {
    Tcl_Obj *message = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(message);
    Tcl_DeleteCommandFromToken(interp, token);
    Tcl_SetObjResult(interp, message);
    Tcl_DecrRefCount(message);
    return TCL_ERROR;
  }
  if (!object->payload) object->payload = createGcpSet(nullptr);
  if (!object->payload) {
    Tcl_DeleteCommandFromToken(interp, token);
    return gcpError(interp, "Error in create gcp obj");
  }
  Tcl_SetResult(interp, const_cast<char *>(name), TCL_VOLATILE);
  return TCL_OK;
}

}  // namespace

/* Gcp_Init -- creates "gcp.create" and fills in "calc geocalc"; 1 when Tcl refuses it. */
int Gcp_Init(Tcl_Interp *interp) {
  registerCalcGeocalc();
  return Tcl_CreateCommand(interp, "gcp.create", gcpCreateCmd, nullptr, nullptr) ? 0 : 1;
}

}  // namespace vesk
