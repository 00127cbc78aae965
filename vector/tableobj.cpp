/*
 * tableobj.cpp --
 *     Table objects: the "gtable.create" and "gtable.info" commands, the
 *     TABLE class's operations over its dBase store, and the instance
 *     command (shared object subcommands first, then field and record
 *     editing, cell blocks as tab-separated text, selection, and records
 *     selected by a predicate script).
 *
 *     Scripts run by "match" and the cell dialog of "setdatablock" may
 *     call the object again: the table is locked meanwhile, so a purge
 *     waits and a table replaced under them is freed only once they end.
 */
#include "vector/tableobj.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <new>
#include <set>

#include "core/core.h"
#include "core/families.h"
#include "vesk/object.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

constexpr int kdBaseTableKind = 0x100;
constexpr size_t kCellLimit = 255;
constexpr int kMatchFieldLimit = 255;

DBaseTable *tableOf(RAMOBJ *object) { return static_cast<DBaseTable *>(object->payload); }

/* ---- class operations ---- */

int gtableCount(RAMOBJ *object) {
  DBaseTable *table = tableOf(object);
  return table ? table->count : 0;
}

int gtableSelected(RAMOBJ *object, int i) { return isdBaseSelected(tableOf(object), i); }

int gtableKind(RAMOBJ *) { return kdBaseTableKind; }

void *gtableClonePayload(void *payload, int selectedOnly) {
  const DBaseTable *table = static_cast<const DBaseTable *>(payload);
  return selectedOnly ? copydBaseTable(table, 0, nullptr, 1) : clonedBase(table);
}

int gtableSave(RAMOBJ *object, const char *path, int selectedOnly) {
  DBaseTable *table = tableOf(object);
  return table ? writedBase(path, table, selectedOnly, nullptr) : 0;
}

void *gtableCreatePayload(const char *path, int *status) { return readdBase(path, status); }

/* A table that a running script still walks is freed when the script ends. */
void gtableFreePayload(void *payload) {
  DBaseTable *table = static_cast<DBaseTable *>(payload);
  if (table && table->lockCount > 0)
    table->released = 1;
  else
    freedBase(table);
}

int gtableModified(RAMOBJ *object) {
  DBaseTable *table = tableOf(object);
  return table ? table->dirty : 0;
}

/*
 * A lock on an object's table for the time a script may call the object
 * again: the object is held as a user and the table locked.  unlock()
 * runs a purge asked for meanwhile and frees a table given up meanwhile.
 */
struct TableLock {
  RAMOBJ *object;
  DBaseTable *table;
  TableLock(RAMOBJ *o, DBaseTable *t) : object(o), table(t) {
    objAcquire(object, nullptr, nullptr);
    table->lockCount++;
  }
  /* True while the table is still the object's. */
  bool intact() const { return !table->released && object->payload == table; }
  ~TableLock() {
    table->lockCount--;
    if (table->lockCount == 0) {
      if (table->released)
        freedBase(table);
      else if (table->purgePending)
        purgedBase(table);
    }
    objRelease(object, nullptr, nullptr);  // may free the object
  }
};

/* ---- helpers of the instance command ---- */

bool prefixOf(const char *word, const char *name, size_t minLength) {
  size_t length = strlen(word);
  return length >= minLength && length <= strlen(name) && strncmp(word, name, length) == 0;
}

int tableError(Tcl_Interp *interp, const char *message) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, message, (char *)nullptr);
  return TCL_ERROR;
}

int tableUsage(Tcl_Interp *interp, const char *const *argv, const char *syntax) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], syntax, (char *)nullptr);
  return TCL_ERROR;
}

void setIntResult(Tcl_Interp *interp, int value) { Tcl_SetObjResult(interp, Tcl_NewIntObj(value)); }

/* A decimal integer, the whole word. */
bool readIndex(const char *word, int *value) {
  char *end;
  errno = 0;
  long n = strtol(word, &end, 10);
  if (end == word || *end || errno || n < INT_MIN || n > INT_MAX) return false;
  *value = static_cast<int>(n);
  return true;
}

bool readRecord(const DBaseTable *table, const char *word, int *record) {
  return readIndex(word, record) && *record >= 0 && *record < table->count;
}

/* A Tcl list split into words; freed with the holder. */
struct WordList {
  int count = 0;
  const char **words = nullptr;
  bool split(Tcl_Interp *interp, const char *text) {
    return Tcl_SplitList(interp, text, &count, &words) == TCL_OK;
  }
  ~WordList() {
    if (words) Tcl_Free(reinterpret_cast<char *>(words));
  }
};

/*
 * readFieldDefs --
 *     The definitions of a fieldDefList of "addfields" and "insertfields",
 *     checked against each other and the table.
 */
int readFieldDefs(Tcl_Interp *interp, const DBaseTable *table, const char *text,
                  std::vector<DBaseField> &fields) {
  WordList defs;
  if (!defs.split(interp, text) || defs.count == 0)
    return tableError(interp, "Error in parsing fieldDefList");
  std::set<std::string> names;
  for (int i = 0; i < defs.count; i++) {
    WordList words;
    DBaseField field;
    if (!words.split(interp, defs.words[i]) || words.count != 4 ||
        !parsedBaseFieldDef(words.words, &field))
      return tableError(interp, "Error in parsing fieldDef");
    if (finddBaseField(table, field.name.c_str()) >= 0)
      return tableError(interp, "Field alreay exists");
    if (!names.insert(field.name).second) return tableError(interp, "Can't add duplicated fields");
    fields.push_back(field);
  }
  return TCL_OK;
}

/* The field indexes of a list of field names. */
int readFieldNames(Tcl_Interp *interp, const DBaseTable *table, const char *text,
                   std::vector<int> &indexes) {
  WordList names;
  if (!names.split(interp, text)) return tableError(interp, "Error in spliting fieldList");
  for (int i = 0; i < names.count; i++) {
    int field = finddBaseField(table, names.words[i]);
    if (field < 0) return tableError(interp, "Error in parsing fields");
    indexes.push_back(field);
  }
  return TCL_OK;
}

/* ---- subcommands ---- */

/* "define fieldDef ?fieldDef ...?": a new table of these fields replaces the table. */
int tableDefine(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) return tableUsage(interp, argv, " ?fieldDefs?");
  std::unique_ptr<DBaseTable> table(newdBaseTable());
  if (!table) return tableError(interp, "Error in parsing field definition");
  for (int i = 2; i < argc; i++) {
    WordList words;
    DBaseField field;
    if (!words.split(interp, argv[i]) || words.count != 4 ||
        !parsedBaseFieldDef(words.words, &field) ||
        finddBaseField(table.get(), field.name.c_str()) >= 0 ||
        !adddBaseField(table.get(), &field, 1, nullptr))
      return tableError(interp, "Error in parsing field definition");
  }
  gtableFreePayload(object->payload);
  object->payload = table.release();
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* "addfields fieldDefList ?fieldList?" and "insertfields position fieldDefList ?fieldList?". */
int tableAddFields(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv,
                   bool insert) {
  int first = insert ? 3 : 2;
  if (argc < first + 1 || argc > first + 2)
    return tableUsage(interp, argv,
                      insert ? " position fieldDefList [fieldList]" : " fieldDefList [fieldList]");
  int position = table->fieldCount;
  if (insert && (!readIndex(argv[2], &position) || position < 0 || position > table->fieldCount))
    return tableError(interp, "Invalid position to insert fields");
  std::vector<DBaseField> fields;
  if (readFieldDefs(interp, table, argv[first], fields) != TCL_OK) return TCL_ERROR;
  WordList values;
  if (argc == first + 2 &&
      (!values.split(interp, argv[first + 1]) || values.count != static_cast<int>(fields.size())))
    return tableError(interp, "Error in parsing fieldList");
  if (!insertdBaseFieldsAt(table, fields.data(), static_cast<int>(fields.size()), values.words,
                           position))
    return tableError(interp, "Error in adding fields");
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* One record buffer from a list of one text per field. */
int readRecordList(Tcl_Interp *interp, const DBaseTable *table, const char *text,
                   std::vector<unsigned char> &record) {
  WordList texts;
  if (!texts.split(interp, text) || texts.count != table->fieldCount)
    return tableError(interp, "Error in parsing fieldList");
  record.assign(static_cast<size_t>(table->recordLength), ' ');
  if (!parsedBaseRecord(table, record.data(), texts.count, texts.words))
    return tableError(interp, "Error in parsing fields");
  return TCL_OK;
}

int tableAddRecord(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) return tableUsage(interp, argv, " [record]");
  std::vector<unsigned char> record;
  if (argc == 3 && readRecordList(interp, table, argv[2], record) != TCL_OK) return TCL_ERROR;
  if (!adddBaseRecord(table, argc == 3 ? record.data() : nullptr, 1))
    return tableError(interp, "Error in adding record");
  reorderdBaseIndex(table, 1);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int tableInsertRecords(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) return tableUsage(interp, argv, " position ?nRecords? ?recordList?");
  int position, n = 1;
  if (!readIndex(argv[2], &position) || position < 0 || position > table->count ||
      (argc > 3 && (!readIndex(argv[3], &n) || n <= 0)))
    return tableError(interp, "Invalid record number or position");
  if (!insertdBaseRecords(table, nullptr, n, position))
    return tableError(interp, "Error in inserting record");
  reorderdBaseIndex(table, 1);
  std::vector<unsigned char> record;
  for (int i = 4; i < argc && i - 4 < n; i++) {
    if (readRecordList(interp, table, argv[i], record) != TCL_OK) return TCL_ERROR;
    memcpy(table->records.data() + static_cast<size_t>(position + i - 4) * record.size(),
           record.data(), record.size());
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int tableSetRecord(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) return tableUsage(interp, argv, " recIndex fieldList");
  int record;
  if (!readRecord(table, argv[2], &record)) return tableError(interp, "Invalid index");
  WordList texts;
  if (!texts.split(interp, argv[3]) || texts.count != table->fieldCount ||
      !setdBaseFields(table, record, 0, texts.count, texts.words))
    return tableError(interp, "Error in parsing fieldList");
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int tableSetField(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 5) return tableUsage(interp, argv, " recIndex fieldIndex ?fieldItems?");
  int record, field, n = argc - 4;
  if (!readRecord(table, argv[2], &record) || !readIndex(argv[3], &field) || field < 0 ||
      static_cast<int64_t>(field) + n > table->fieldCount)
    return tableError(interp, "Invalid index");
  if (!setdBaseFields(table, record, field, n, argv + 4))
    return tableError(interp, "Error in setting fields");
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/*
 * askCellError --
 *     Asks the user whether to skip a cell its field refuses.
 * Results:      true for Skip; false for Abort (the interpreter's result
 *               is what the dialog scripts left).
 */
bool askCellError(Tcl_Interp *interp, const DBaseTable *table, int field, int record,
                  const std::string &cell) {
  std::string message = "Error in parsing cell " + getdBaseField(table->header, field).name +
                        " at(" + std::to_string(field) + "," + std::to_string(record) +
                        ") for value:" + cell;
  const char *words[] = {"vesk.dialog", ".gtable_dialog", "gtable", message.c_str(), "question",
                         "0",           "Skip",           "Abort"};
  Tcl_Obj *objv[8];
  for (int i = 0; i < 8; i++) {
    objv[i] = Tcl_NewStringObj(words[i], -1);
    Tcl_IncrRefCount(objv[i]);
  }
  Tcl_EvalObjv(interp, 8, objv, TCL_EVAL_GLOBAL);
  for (Tcl_Obj *obj : objv) Tcl_DecrRefCount(obj);
  bool skip = Tcl_GetStringResult(interp)[0] == '0';
  Tcl_EvalEx(interp, "_busyIcon", -1, TCL_EVAL_GLOBAL);
  return skip;
}

/*
 * tableSetDataBlock --
 *     "setdatablock firstRecord fieldList dataBlock": cells separated by
 *     tabs, rows by newlines, set into the listed fields of consecutive
 *     records; records are appended as rows reach the end of the table.
 */
int tableSetDataBlock(RAMOBJ *object, DBaseTable *table, Tcl_Interp *interp, int argc,
                      const char **argv) {
  if (argc != 5) return tableUsage(interp, argv, " firstRecord fieldList dataBlock");
  int record;
  if (!readIndex(argv[2], &record)) record = 0;
  record = std::max(0, std::min(record, table->count));
  std::vector<int> fields;
  if (readFieldNames(interp, table, argv[3], fields) != TCL_OK) return TCL_ERROR;
  if (record == table->count && !adddBaseRecord(table, nullptr, 1))
    return tableError(interp, "Error in adding record");
  const char *block = argv[4];
  std::string cell;
  size_t column = 0;
  for (const char *at = block;; at++) {
    char c = *at;
    if (c != '\t' && c != '\n' && c != '\0') {
      if (cell.size() < kCellLimit) cell += c;
      continue;
    }
    if (!(c == '\0' && cell.empty())) {
      if (column < fields.size() && !setdBaseField(table, record, fields[column], cell.c_str())) {
        TableLock lock(object, table);
        bool skip = askCellError(interp, table, fields[column], record, cell);
        if (!lock.intact()) return TCL_ERROR;
        if (!skip) return TCL_ERROR;
      }
      column++;
    }
    cell.clear();
    if (c == '\0') break;
    if (c == '\n') {
      record++;
      column = 0;
      if (record >= table->count && !adddBaseRecord(table, nullptr, 1))
        return tableError(interp, "Error in adding record");
    }
  }
  reorderdBaseIndex(table, 1);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int tableGetDataBlock(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 5) return tableUsage(interp, argv, " firstRecord lastRecord fieldList");
  int first, last;
  if (!readIndex(argv[2], &first) || !readIndex(argv[3], &last))
    return tableError(interp, "Invalid index");
  std::vector<int> fields;
  if (readFieldNames(interp, table, argv[4], fields) != TCL_OK) return TCL_ERROR;
  first = std::max(first, 0);
  last = std::min(last, table->count - 1);
  std::string out, text;
  for (int r = first; r <= last; r++) {
    if (r > first) out += '\n';
    for (size_t i = 0; i < fields.size(); i++) {
      if (i) out += '\t';
      getdBaseFieldText(table, r, fields[i], text);
      out += text;
    }
  }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(out.data(), static_cast<int>(out.size())));
  return TCL_OK;
}

Tcl_Obj *recordFieldsObj(const DBaseTable *table, int record) {
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  std::string text;
  for (int i = 0; i < table->fieldCount; i++) {
    getdBaseFieldText(table, record, i, text);
    Tcl_ListObjAppendElement(nullptr, list,
                             Tcl_NewStringObj(text.data(), static_cast<int>(text.size())));
  }
  return list;
}

void appendFieldList(Tcl_Interp *interp, const std::vector<unsigned char> &header) {
  for (int i = 0, n = dBaseFieldCountOf(header); i < n; i++) {
    DBaseField field = getdBaseField(header, i);
    Tcl_AppendElement(
        interp, fmt("%s %c %d %d", field.name.c_str(), field.type, field.length, field.decimals));
  }
}

/* Operations of the selection subcommands on one record. */
enum SelectAction { SEL_SELECT, SEL_UNSELECT, SEL_TOGGLE };

int tableSelect(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv,
                SelectAction action, int before) {
  if (before == SEL_SELECT)
    selectAlldBase(table);
  else if (before == SEL_UNSELECT)
    unselectAlldBase(table);
  auto apply = [table, action](int r) {
    if (action == SEL_SELECT)
      selectdBaseRecord(table, r);
    else if (action == SEL_UNSELECT)
      unselectdBaseRecord(table, r);
    else
      toggledBaseRecord(table, r);
  };
  if (argc == 2) {
    for (int r = 0; r < table->count; r++) apply(r);
  } else {
    for (int i = 2; i < argc; i++) {
      int r;
      if (!readRecord(table, argv[i], &r)) return tableError(interp, "Invalid index");
      apply(r);
    }
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* "deleterecords" and "undeleterecord": the listed records, or all. */
int tableDeleteRecords(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv,
                       bool undelete) {
  int code = TCL_OK;
  if (argc == 2) {
    for (int r = 0; r < table->count; r++)
      undelete ? undeletedBaseRecord(table, r) : deletedBaseRecord(table, r);
  } else {
    for (int i = 2; i < argc; i++) {
      int r;
      if (!readRecord(table, argv[i], &r)) {
        code = tableError(interp, undelete ? "Invalid index" : "Invalid record index");
        break;
      }
      undelete ? undeletedBaseRecord(table, r) : deletedBaseRecord(table, r);
    }
  }
  reorderdBaseIndex(table, undelete ? 1 : 0);
  if (code == TCL_OK) Tcl_ResetResult(interp);
  return code;
}

int tableEraseRecords(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3 || argc > 4) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, argv[0], " ", argv[1], " position ?nRecords?", (char *)nullptr);
    return TCL_ERROR;
  }
  int position, n = 1;
  if (!readRecord(table, argv[2], &position)) return tableError(interp, "Invalid record position");
  if (argc == 4 && !readIndex(argv[3], &n)) return tableError(interp, "Invalid record position");
  n = std::max(n, 1);
  int64_t last = std::min<int64_t>(static_cast<int64_t>(position) + n - 1, table->count - 1);
  erasedBaseRecords(table, position, static_cast<int>(last));
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int tableDeleteFields(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) return tableUsage(interp, argv, " ?fieldNames?");
  std::vector<int> fields;
  for (int i = 2; i < argc; i++) {
    int field = finddBaseField(table, argv[i]);
    if (field < 0) return tableError(interp, "Invalid fieldName");
    fields.push_back(field);
  }
  if (!deletedBaseFields(table, static_cast<int>(fields.size()), fields.data()))
    return tableError(interp, "Error in deleting fields");
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int tableRenameField(DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) return tableUsage(interp, argv, " fieldName newFieldName");
  int field = finddBaseField(table, argv[2]);
  if (field < 0) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "can't find field ", argv[2], (char *)nullptr);
    return TCL_ERROR;
  }
  if (strlen(argv[3]) > static_cast<size_t>(kdBaseNameLimit) ||
      !setdBaseFieldName(table, field, argv[3]))
    return tableError(interp, "the new field name is too large");
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* A value as one word of a script: in braces where braces keep it whole. */
void appendMatchValue(std::string &out, const std::string &value) {
  int depth = 0;
  bool braces = value.find('\\') == std::string::npos;
  for (char c : value) {
    if (c == '{')
      depth++;
    else if (c == '}' && --depth < 0)
      braces = false;
  }
  if (braces && depth == 0) {
    out += '{';
    out += value;
    out += '}';
    return;
  }
  int flags = 0;
  int size = Tcl_ScanCountedElement(value.data(), static_cast<int>(value.size()), &flags);
  std::string element(static_cast<size_t>(size) + 1, '\0');
  int written = Tcl_ConvertCountedElement(value.data(), static_cast<int>(value.size()), &element[0],
                                          flags | TCL_DONT_USE_BRACES);
  out.append(element.data(), static_cast<size_t>(written));
}

/*
 * tableMatch --
 *     "match predicateScript ?action?": evaluates the script for every
 *     record in index order and changes the selection by its result.
 */
int tableMatch(RAMOBJ *object, DBaseTable *table, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3 || argc > 4)
    return tableUsage(
        interp, argv,
        " predicateScript action (select unselect selectonly unselectonly aselect list)");
  static const char *const actions[] = {"select",     "unselect",     "aselect",
                                        "selectonly", "unselectonly", "list"};
  int action = 5;
  if (argc == 4) {
    action = -1;
    for (int i = 0; i < 6; i++)
      if (strcmp(argv[3], actions[i]) == 0) action = i;
    if (action < 0) return tableError(interp, "Unknown action");
  }
  std::vector<MatchPiece> pieces;
  if (!compileMatchScript(table, argv[2], pieces))
    return tableError(interp, "Error in parse scripts");

  std::vector<int32_t> order = table->order;
  int matches = 0;
  int code = TCL_OK;
  std::string script;
  Tcl_Obj *list = nullptr;
  {
    TableLock lock(object, table);
    for (int32_t r : order) {
      if (!lock.intact()) {
        code = tableError(interp, "Error in match: the table was replaced");
        break;
      }
      if (r < 0 || r >= table->count) continue;
      if (!expandMatchScript(table, pieces, r, script)) {
        code = tableError(interp, fmt("Error in eval: script too long for record %d", r));
        break;
      }
      if (Tcl_EvalEx(interp, script.c_str(), -1, 0) != TCL_OK) {
        Tcl_AppendResult(interp, "\nError in eval: ", script.c_str(), (char *)nullptr);
        code = TCL_ERROR;
        break;
      }
      if (!lock.intact() || r >= table->count) continue;
      bool match = Tcl_GetStringResult(interp)[0] == '1';
      matches += match ? 1 : 0;
      switch (action) {
        case 0:
          if (match) selectdBaseRecord(table, r);
          break;
        case 1:
          if (match) unselectdBaseRecord(table, r);
          break;
        case 2:
          if (match) toggledBaseRecord(table, r);
          break;
        case 4:
          match ? unselectdBaseRecord(table, r) : selectdBaseRecord(table, r);
          break;
        default:
          match ? selectdBaseRecord(table, r) : unselectdBaseRecord(table, r);
          break;
      }
    }
    if (code == TCL_OK && action == 5 && lock.intact()) {
      list = Tcl_NewListObj(0, nullptr);
      for (int r = 0; r < table->count; r++)
        if (isdBaseSelected(table, r)) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(r));
    }
  }  // a purge asked for meanwhile runs here
  if (code != TCL_OK) return code;
  if (list)
    Tcl_SetObjResult(interp, list);
  else
    setIntResult(interp, matches);
  return TCL_OK;
}

const char kTableCommandWords[] =
    " [addfields addrecord aselect config cget class clone close count countdeletions "
    "countselections deletefields deleterecords eraserecords getdatablock getfield getindex "
    "getrecord getstatus info insertfields insertrecords isselected match modified purge "
    "recordsize renamefield select selectonly setblank setdatablock setfield setrecord "
    "undeleterecords unselect unselectonly version]";

/*
 * tableSubcommand --
 *     The table's own subcommands.  notify is set for those that tell the
 *     object's watchers.
 */
int tableSubcommand(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv, bool &notify) {
  const char *word = argv[1];
  if (strcmp(word, "define") == 0) return tableDefine(object, interp, argc, argv);
  DBaseTable *table = tableOf(object);
  if (!table) return tableError(interp, "Undefined object");
  switch (word[0]) {
    case 'a':
      if (prefixOf(word, "addrecord", 4)) return tableAddRecord(table, interp, argc, argv);
      if (prefixOf(word, "addfields", 3)) return tableAddFields(table, interp, argc, argv, false);
      if (prefixOf(word, "aselect", 3)) {
        notify = true;
        return tableSelect(table, interp, argc, argv, SEL_TOGGLE, -1);
      }
      break;
    case 'c':
      if (prefixOf(word, "countdeletions", 6)) {
        setIntResult(interp, countdBaseDeleted(table));
        return TCL_OK;
      }
      if (prefixOf(word, "countselections", 6)) {
        setIntResult(interp, countdBaseSelected(table));
        return TCL_OK;
      }
      break;
    case 'd':
      if (prefixOf(word, "deletefields", 7)) {
        notify = true;
        return tableDeleteFields(table, interp, argc, argv);
      }
      if (prefixOf(word, "deleterecords", 7)) {
        notify = true;
        return tableDeleteRecords(table, interp, argc, argv, false);
      }
      break;
    case 'e':
      if (prefixOf(word, "eraserecords", 5)) return tableEraseRecords(table, interp, argc, argv);
      break;
    case 'g':
      if (prefixOf(word, "getdatablock", 4)) return tableGetDataBlock(table, interp, argc, argv);
      if (prefixOf(word, "getfield", 4)) {
        if (argc != 4) return tableUsage(interp, argv, " recordIndex fieldIndex");
        int record, field;
        if (!readRecord(table, argv[2], &record) || !readIndex(argv[3], &field) || field < 0 ||
            field >= table->fieldCount)
          return tableError(interp, "Invalid index");
        std::string text;
        getdBaseFieldText(table, record, field, text);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(text.data(), static_cast<int>(text.size())));
        return TCL_OK;
      }
      if (prefixOf(word, "getindex", 4) || prefixOf(word, "getrecord", 4) ||
          prefixOf(word, "getstatus", 4)) {
        if (argc > 3) return tableUsage(interp, argv, " [index]");
        char kind = word[3];
        int record = 0;
        if (argc == 2 && kind == 'i') {
          Tcl_ResetResult(interp);
          return TCL_OK;
        }
        if (argc == 3 && !readRecord(table, argv[2], &record))
          return tableError(interp, "Invalid index");
        if (argc == 2 && record >= table->count) return tableError(interp, "Invalid index");
        if (kind == 'i')
          setIntResult(interp, table->order[static_cast<size_t>(record)]);
        else if (kind == 's')
          setIntResult(interp, table->flags[static_cast<size_t>(record)]);
        else
          Tcl_SetObjResult(interp, recordFieldsObj(table, record));
        return TCL_OK;
      }
      break;
    case 'i':
      if (strcmp(word, "info") == 0) {
        Tcl_ResetResult(interp);
        appendFieldList(interp, table->header);
        return TCL_OK;
      }
      if (prefixOf(word, "insertfields", 7)) return tableAddFields(table, interp, argc, argv, true);
      if (prefixOf(word, "insertrecords", 7)) return tableInsertRecords(table, interp, argc, argv);
      if (prefixOf(word, "isselected", 5)) {
        if (argc != 3) return tableUsage(interp, argv, " index");
        int record;
        if (!readRecord(table, argv[2], &record)) return tableError(interp, "Invalid index");
        setIntResult(interp, isdBaseSelected(table, record) ? 1 : 0);
        return TCL_OK;
      }
      break;
    case 'm':
      if (prefixOf(word, "match", 3)) return tableMatch(object, table, interp, argc, argv);
      break;
    case 'p':
      if (prefixOf(word, "purge", 4)) {
        purgedBase(table);
        Tcl_ResetResult(interp);
        return TCL_OK;
      }
      break;
    case 'r':
      if (prefixOf(word, "recordsize", 4)) {
        setIntResult(interp, table->recordLength);
        return TCL_OK;
      }
      if (strcmp(word, "renamefield") == 0) return tableRenameField(table, interp, argc, argv);
      if (strlen(word) >= 4) {
        Tcl_ResetResult(interp);
        return TCL_OK;
      }
      break;
    case 's':
      if (strcmp(word, "select") == 0 || strcmp(word, "selectonly") == 0) {
        notify = true;
        return tableSelect(table, interp, argc, argv, SEL_SELECT, word[6] ? SEL_UNSELECT : -1);
      }
      if (strcmp(word, "setblank") == 0) {
        int v[4];
        if (argc != 6) return tableUsage(interp, argv, " x0 y0 x1 y1");
        for (int i = 0; i < 4; i++)
          if (!readIndex(argv[2 + i], &v[i])) return tableUsage(interp, argv, " x0 y0 x1 y1");
        blankdBaseCells(table, v[0], v[1], v[2], v[3]);
        Tcl_ResetResult(interp);
        return TCL_OK;
      }
      if (prefixOf(word, "setdatablock", 7))
        return tableSetDataBlock(object, table, interp, argc, argv);
      if (strcmp(word, "setfield") == 0) return tableSetField(table, interp, argc, argv);
      if (strcmp(word, "setrecord") == 0) return tableSetRecord(table, interp, argc, argv);
      break;
    case 'u':
      if (prefixOf(word, "undeleterecord", 5)) {
        notify = true;
        return tableDeleteRecords(table, interp, argc, argv, true);
      }
      if (prefixOf(word, "unselectonly", 9)) {
        notify = true;
        return tableSelect(table, interp, argc, argv, SEL_UNSELECT, SEL_SELECT);
      }
      if (prefixOf(word, "unselect", 5)) {
        notify = true;
        return tableSelect(table, interp, argc, argv, SEL_UNSELECT, -1);
      }
      break;
    default:
      break;
  }
  return tableError(interp, "Unknown command");
}

/*
 * tableObjectCmd --
 *     The command of a table object: the subcommands every object shares,
 *     then the table's own.  Selection and deletion changes tell the
 *     object's watchers.
 */
int tableObjectCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  if (argc < 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], kTableCommandWords, (char *)nullptr);
    return TCL_ERROR;
  }
  int code = objDefCommand(object, interp, argc, argv);
  if (code != OBJ_NOT_HANDLED) return code;
  bool notify = false;
  /* The record stays while a script run by the subcommand closes the object. */
  objAcquire(object, nullptr, nullptr);
  try {
    code = tableSubcommand(object, interp, argc, argv, notify);
  } catch (const std::bad_alloc &) {
    code = tableError(interp, "Out of memory");
  }
  if (notify && object->magic == RAMOBJ_MAGIC) {
    Tcl_InterpState saved = Tcl_SaveInterpState(interp, code);
    objUpdate(object);
    code = Tcl_RestoreInterpState(interp, saved);
  }
  objRelease(object, nullptr, nullptr);
  return code;
}

/*
 * gtableCreateCmd --
 *     "gtable.create id ?option value ...?": a table object behind the
 *     command id, configured with the object options (-file loads a
 *     dBase file).
 * Results:      the id; on failure no command is left behind.
 */
int gtableCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, argv[0], " id options", (char *)nullptr);
    return TCL_ERROR;
  }
  RAMOBJ *object = newObjectRecord(OBJ_TABLE);
  if (!object) return tableError(interp, "Error in create dBase obj");
  object->ops.count = gtableCount;
  object->ops.selected = gtableSelected;
  object->ops.type = gtableKind;
  object->ops.clonePayload = gtableClonePayload;
  object->ops.save = gtableSave;
  object->ops.createPayload = gtableCreatePayload;
  object->ops.freePayload = gtableFreePayload;
  object->ops.command = tableObjectCmd;
  object->ops.modified = gtableModified;
  return createObjectCommand(interp, object, argv[1], argc - 2, argv + 2, "Error in create dBase obj");
}

/* "gtable.info fileName": "dBase" and the fields of a file, empty when unreadable. */
int gtableInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " fileName", (char *)nullptr);
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  std::vector<unsigned char> header;
  int status;
  if (!readdBaseInfo(argv[1], header, &status)) return TCL_OK;
  Tcl_AppendElement(interp, "dBase");
  appendFieldList(interp, header);
  return TCL_OK;
}

}  // namespace

/* ---- predicate scripts ---- */

bool compileMatchScript(const DBaseTable *table, const char *script,
                        std::vector<MatchPiece> &pieces) {
  pieces.clear();
  MatchPiece text;
  auto flush = [&pieces, &text]() {
    if (!text.text.empty()) pieces.push_back(text);
    text.text.clear();
  };
  for (const char *at = script; *at;) {
    if (*at != '%') {
      text.text += *at++;
      continue;
    }
    at++;
    MatchPiece reference;
    if (strncmp(at, "{INDEX}", 7) == 0) {
      reference.kind = MatchPiece::INDEX;
      at += 7;
    } else if (strncmp(at, "{RECORD}", 8) == 0) {
      reference.kind = MatchPiece::RECORD;
      at += 8;
    } else if (isalnum(static_cast<unsigned char>(*at)) || *at == '_') {
      const char *end = at;
      while (*end && !isspace(static_cast<unsigned char>(*end))) end++;
      std::string name(at, end);
      int field = finddBaseField(table, name.c_str());
      if (field < 0 || field >= kMatchFieldLimit) return false;
      reference.kind = MatchPiece::FIELD;
      reference.field = field;
      at = end;
    } else {
      if (*at) text.text += *at++;
      continue;
    }
    flush();
    pieces.push_back(reference);
  }
  flush();
  return true;
}

bool expandMatchScript(const DBaseTable *table, const std::vector<MatchPiece> &pieces, int record,
                       std::string &out) {
  out.clear();
  std::string value;
  for (const MatchPiece &piece : pieces) {
    switch (piece.kind) {
      case MatchPiece::TEXT:
        out += piece.text;
        break;
      case MatchPiece::INDEX:
        out += std::to_string(record);
        break;
      case MatchPiece::RECORD:
        appendMatchValue(out, getdBaseRecordText(table, record));
        break;
      case MatchPiece::FIELD:
        getdBaseFieldText(table, record, piece.field, value);
        appendMatchValue(out, value);
        break;
    }
    if (out.size() >= kMatchScriptLimit) return false;
  }
  return true;
}

int Gtable_Init(Tcl_Interp *interp) {
  bool created = Tcl_CreateCommand(interp, "gtable.create", gtableCreateCmd, nullptr, nullptr) &&
                 Tcl_CreateCommand(interp, "gtable.info", gtableInfoCmd, nullptr, nullptr);
  return created ? 0 : 1;
}

/*
 * readTextLine --
 *     Reads one line of a stream into a buffer of `size` bytes: up to a
 *     newline (read, not stored) or size - 1 characters, NUL-terminated.
 * Results:      the buffer; NULL when the stream was at its end (or the
 *     buffer has no room).
 */
char *readTextLine(FILE *file, char *buffer, int size) {
  if (!file || !buffer || size < 1) return nullptr;
  int n = 0;
  int c = vesk_fgetc(file);
  if (c < 0) {
    buffer[0] = 0;
    return nullptr;
  }
  while (c >= 0 && c != '\n') {
    buffer[n++] = static_cast<char>(c);
    if (n == size - 1) break;
    c = vesk_fgetc(file);
  }
  buffer[n] = 0;
  return buffer;
}

/*
 * trimBlanks --
 *     Removes the leading and trailing blanks (spaces and tabs) of a text
 *     in place.
 * Results:      the text.
 */
char *trimBlanks(char *text) {
  if (!text) return text;
  size_t start = 0, end = strlen(text);
  while (start < end && (text[start] == ' ' || text[start] == '\t')) start++;
  while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) end--;
  memmove(text, text + start, end - start);
  text[end - start] = 0;
  return text;
}

}  // namespace vesk
