/*
 * projfamily.cpp --
 *     The ".create" command shared by the projection-kind object classes,
 *     their shared class operations, the guard of the program commands,
 *     and the option tables' configure, cget, save and load.
 */
#include "geometry/projfamily.h"

#include <stdio.h>
#include <string.h>

#include "core/core.h"
#include "core/savefile.h"

namespace vesk {

int projFamilyOutOfMemory(Tcl_Interp *interp) {
  Tcl_SetResult(interp, const_cast<char *>("out of memory"), TCL_STATIC);
  return TCL_ERROR;
}

/*
 * fillProjFamilyOps --
 *     The class operations every projection-kind class shares: the
 *     generic acquire, release and close, no selection, the instance
 *     command and the native operations (methods, may be NULL).  The
 *     payload operations are the class's own.
 */
void fillProjFamilyOps(ObjectClassOps *ops, Tcl_CmdProc *command, const ProjectionOps *methods) {
  ops->selected = nullptr;
  ops->acquire = objAcquire;
  ops->release = objRelease;
  ops->close = objClose;
  ops->command = command;
  ops->methods = const_cast<ProjectionOps *>(methods);
}

/*
 * runProjProgramCmd --
 *     Runs a program as its command, out of memory answered as a Tcl
 *     error.
 * Results:      TCL_ERROR after every run; "proj.exitCode" gives the code.
 */
int runProjProgramCmd(Tcl_Interp *interp, const char *module, ProjProgramMain *main, int argc,
                      const char **argv) {
  try {
    return runProjProgram(interp, module, main, argc, argv);
  } catch (const std::bad_alloc &) {
    return projFamilyOutOfMemory(interp);
  }
}

/*
 * createProjFamilyObject --
 *     "<class>.create objName ?-file path? ?-update n?": the generic
 *     object record of the class, its command, the generic options, and
 *     the class's default payload when no file gave one.
 * Results:      the object's name; the usage (TCL_OK) without a name.
 */
int createProjFamilyObject(const ProjFamilyClass &family, Tcl_Interp *interp, int argc,
                           const char **argv) {
  try {
    return runInProjFrame(interp, family.createWord, [&]() -> int {
      if (argc < 2) {
        Tcl_AppendResult(interp, "Usage: ", argv[0], " objName options", nullptr);
        return TCL_OK;
      }
      const char *name = argv[1];
      Tcl_CmdInfo info;
      if (Tcl_GetCommandInfo(interp, name, &info)) {
        Tcl_SetResult(interp, const_cast<char *>("command already exists"), TCL_STATIC);
        return TCL_ERROR;
      }
      RAMOBJ *object = newObjectRecord(family.classId);
      if (!object) return projFamilyOutOfMemory(interp);
      family.fillOps(&object->ops);
      /* objDelete frees the record once no native user holds it any more. */
      Tcl_Command token = Tcl_CreateCommand(interp, name, family.instanceCmd, object, objDelete);
      if (!token) {
        objClose(object);
        Tcl_SetResult(interp, const_cast<char *>("command already exists"), TCL_STATIC);
        return TCL_ERROR;
      }
      /* Deleting the command must not lose the message that made it go. */
      auto fail = [&]() {
        Tcl_Obj *message = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(message);
        Tcl_DeleteCommandFromToken(interp, token);
        Tcl_SetObjResult(interp, message);
        Tcl_DecrRefCount(message);
        return TCL_ERROR;
      };
      if (objConfig(object, interp, argc - 2, argv + 2, 0, nullptr) != TCL_OK) return fail();
      if (!object->payload && family.makeDefaultPayload(interp, object) != TCL_OK) return fail();
      if (!family.keepsResult) Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, name, nullptr);
      return TCL_OK;
    });
  } catch (const std::bad_alloc &) {
    return projFamilyOutOfMemory(interp);
  }
}

/* ---- option tables ---- */

namespace {

const Tk_ConfigSpec *findOptionSpec(const ProjOptionTable &table, const char *name) {
  for (const Tk_ConfigSpec *spec = table.specs; spec->type != TK_CONFIG_END; spec++)
    if (spec->argvName && strcmp(spec->argvName, name) == 0) return spec;
  return nullptr;
}

template <class T> T &fieldOf(void *record, const Tk_ConfigSpec *spec) {
  return *reinterpret_cast<T *>(static_cast<char *>(record) + spec->offset);
}

template <class T> const T &fieldOf(const void *record, const Tk_ConfigSpec *spec) {
  return *reinterpret_cast<const T *>(static_cast<const char *>(record) + spec->offset);
}

/* The main window the option procedures need; NULL without an interpreter. */
Tk_Window optionWindowOf(Tcl_Interp *interp) { return interp ? Tk_MainWindow(interp) : nullptr; }

}  // namespace

ProjOptionSnapshot::ProjOptionSnapshot(const ProjOptionTable &table, const void *record) {
  for (const char *const *name = table.kept; *name; name++) {
    Value value;
    value.spec = findOptionSpec(table, *name);
    if (!value.spec) continue;
    switch (value.spec->type) {
    case TK_CONFIG_STRING: {
      const char *text = fieldOf<char *>(record, value.spec);
      value.isSet = text != nullptr;
      if (text) value.text = text;
      break;
    }
    case TK_CONFIG_UID: value.uid = fieldOf<Tk_Uid>(record, value.spec); break;
    case TK_CONFIG_DOUBLE: value.number = fieldOf<double>(record, value.spec); break;
    default: value.integer = fieldOf<int>(record, value.spec); break;
    }
    values_.push_back(std::move(value));
  }
}

void ProjOptionSnapshot::restore(void *record) const {
  for (const Value &value : values_) {
    switch (value.spec->type) {
    case TK_CONFIG_STRING: {
      char *&text = fieldOf<char *>(record, value.spec);
      if (text) ckfree(text);
      text = nullptr;
      if (value.isSet) {
        text = static_cast<char *>(ckalloc(static_cast<unsigned>(value.text.size() + 1)));
        memcpy(text, value.text.c_str(), value.text.size() + 1);
      }
      break;
    }
    case TK_CONFIG_UID: fieldOf<Tk_Uid>(record, value.spec) = value.uid; break;
    case TK_CONFIG_DOUBLE: fieldOf<double>(record, value.spec) = value.number; break;
    default: fieldOf<int>(record, value.spec) = value.integer; break;
    }
  }
}

/*
 * applyProjOptions --
 *     Applies option words to a record through its kind's specs.
 * Results:      TCL_OK, or TCL_ERROR with the message in the result
 *               ("no main window for the options" without Tk).
 */
int applyProjOptions(Tcl_Interp *interp, const ProjOptionTable &table, void *record, int argc,
                     const char **argv, int flags) {
  Tk_Window window = optionWindowOf(interp);
  if (!window) {
    if (interp)
      Tcl_SetResult(interp, const_cast<char *>("no main window for the options"), TCL_STATIC);
    return TCL_ERROR;
  }
  return Tk_ConfigureWidget(interp, window, table.specs, argc, argv, static_cast<char *>(record),
                            flags);
}

/* defaultProjOptions -- every option of a new record at its default. */
int defaultProjOptions(Tcl_Interp *interp, const ProjOptionTable &table, void *record) {
  return Tk_ConfigureWidget(interp, Tk_MainWindow(interp), table.specs, 0, nullptr,
                            static_cast<char *>(record), 0);
}

/* getProjOption -- one option's value as the result (the kinds' cget). */
int getProjOption(Tcl_Interp *interp, const ProjOptionTable &table, void *record,
                  const char *option) {
  return Tk_ConfigureValue(interp, Tk_MainWindow(interp), table.specs,
                           static_cast<char *>(record), option, 0);
}

/* listProjOptions -- the description of one option, or of all (option NULL). */
int listProjOptions(Tcl_Interp *interp, const ProjOptionTable &table, void *record,
                    const char *option) {
  return Tk_ConfigureInfo(interp, Tk_MainWindow(interp), table.specs,
                          static_cast<char *>(record), option, 0);
}

/*
 * saveProjOptions --
 *     Writes the saved options: as one line of option and value pairs, or
 *     as the one option's text alone.
 * Results:      1 when written; 0 when the file cannot be written, or
 *               when the text of a text-form kind is empty.
 */
int saveProjOptions(const ProjOptionTable &table, const void *record, const char *path) {
  if (!record || !path) return 0;
  if (table.form == PROJ_SAVED_TEXT) {
    const Tk_ConfigSpec *spec = findOptionSpec(table, table.saved[0]);
    const char *text = spec ? fieldOf<char *>(record, spec) : nullptr;
    if (!text || !*text) return 0;
    return writeObjectFile(path, text);
  }
  Tcl_DString line;
  Tcl_DStringInit(&line);
  for (const char *const *name = table.saved; *name; name++) {
    const Tk_ConfigSpec *spec = findOptionSpec(table, *name);
    if (!spec) continue;
    std::string value;
    switch (spec->type) {
    case TK_CONFIG_STRING: {
      const char *text = fieldOf<char *>(record, spec);
      if (!text && table.skipUnsetTexts) continue;
      value = text ? text : "";
      break;
    }
    case TK_CONFIG_UID: {
      Tk_Uid uid = fieldOf<Tk_Uid>(record, spec);
      value = uid ? uid : "";
      break;
    }
    case TK_CONFIG_DOUBLE: value = fmt(table.numberFormat, fieldOf<double>(record, spec)); break;
    default: value = fmt("%d", fieldOf<int>(record, spec)); break;
    }
    Tcl_DStringAppendElement(&line, *name);
    Tcl_DStringAppendElement(&line, value.c_str());
  }
  Tcl_DStringAppend(&line, "\n", 1);
  std::string text(Tcl_DStringValue(&line), static_cast<size_t>(Tcl_DStringLength(&line)));
  Tcl_DStringFree(&line);
  return writeObjectFile(path, text);
}

/*
 * readProjOptionWords --
 *     The option words of a saved file: its list of pairs, or the one
 *     option with the whole text (surrounding white space dropped).
 * Results:      false when the file cannot be read, is longer than the
 *               kind's limit, or is not a list.
 */
bool readProjOptionWords(Tcl_Interp *interp, const ProjOptionTable &table, const char *path,
                         std::vector<std::string> &words) {
  if (!path || !interp) return false;
  std::string text;
  if (!readObjectFile(path, table.fileLimit, text)) return false;
  if (table.form == PROJ_SAVED_TEXT) {
    size_t first = text.find_first_not_of(" \t\r\n");
    size_t last = text.find_last_not_of(" \t\r\n");
    words = {table.saved[0],
             first == std::string::npos ? std::string() : text.substr(first, last - first + 1)};
    return true;
  }
  int argc = 0;
  const char **argv = nullptr;
  if (Tcl_SplitList(interp, text.c_str(), &argc, &argv) != TCL_OK) return false;
  words.assign(argv, argv + argc);
  ckfree(reinterpret_cast<char *>(argv));
  return true;
}

/*
 * writeObjectFile --
 *     The saved text of an object, written beside the file and renamed
 *     into place, so a failed save leaves the old file whole.
 */
int writeObjectFile(const char *path, const std::string &text) {
  return saveFileBytes(path, text.data(), text.size()) == 0 ? 1 : 0;
}

/* readObjectFile -- the whole text of a saved object no longer than limit. */
bool readObjectFile(const char *path, long limit, std::string &text) {
  return readRegularFile(path, limit, text);
}

}  // namespace vesk
