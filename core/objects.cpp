/*
 * objects.cpp --
 *     The generic object framework: opening objects by command name,
 *     users and watchers, the -file and -update options, change
 *     notification, and the subcommands every object command shares.
 *
 *     An object's references are its users plus its command: the close
 *     that finds no user left frees the record, so deleting the command
 *     of an object nobody holds frees it at once, while an object that a
 *     display still holds lives on until the display releases it.
 */
#include <stdint.h>
#include <string.h>

#include "core/core.h"
#include "vesk/hash.h"
#include "vesk/object.h"
#include "vesk/stdio.h"

namespace {

/* Names of the class ids 0 to 8. */
const char *const objectClassNames[] = {"UNKNOWN", "SHAPE", "STATS", "EV",   "ISO",
                                        "TABLE",   "PROJ",  "GCP",   "TERRA"};
constexpr int kObjectClassNameCount =
    static_cast<int>(sizeof objectClassNames / sizeof objectClassNames[0]);
static_assert(kObjectClassNameCount == OBJ_TERRA + 1, "one name for each named class");

/* True when word abbreviates name with at least minLength characters. */
bool objMatchesPrefix(const char *word, const char *name, size_t minLength) {
  size_t length = strlen(word);
  return length >= minLength && length <= strlen(name) && strncmp(word, name, length) == 0;
}

/* True when the words configure -file (Tk accepts any unique abbreviation). */
bool objFileGiven(int argc, const char **argv) {
  for (int i = 0; i < argc; i += 2)
    if (objMatchesPrefix(argv[i], "-file", 2)) return true;
  return false;
}

int objUsage(Tcl_Interp *interp, const char *command, const char *syntax) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "Usage: ", command, " ", syntax, (char *)nullptr);
  return TCL_ERROR;
}

int objUndefined(Tcl_Interp *interp) {
  Tcl_SetResult(interp, const_cast<char *>("Undefined object"), TCL_STATIC);
  return TCL_ERROR;
}

void objSetInt(Tcl_Interp *interp, int value) {
  Tcl_SetObjResult(interp, Tcl_NewIntObj(value));
}

/* The release slot, or the shared release for a class without one. */
int objCallRelease(RAMOBJ *object, ObjectWatchProc *proc, ClientData clientData) {
  return object->ops.release ? object->ops.release(object, proc, clientData)
                             : objRelease(object, proc, clientData);
}

RAMOBJ *objCallClose(RAMOBJ *object) {
  return object->ops.close ? object->ops.close(object) : objClose(object);
}

/*
 * objCloseCommand --
 *     "close": deletes the object command, whose delete procedure gives
 *     up the command's reference.  The record stays while other users
 *     hold it and is freed by the last of them.
 * Results:      the users left, in the result.
 */
int objCloseCommand(RAMOBJ *object, Tcl_Interp *interp, const char *command) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(interp, command, &info) || info.isNativeObjectProc ||
      info.clientData != static_cast<ClientData>(object)) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Invalid object: ", command, (char *)nullptr);
    return TCL_ERROR;
  }
  int left = object->users > 0 ? object->users - 1 : 0;
  Tcl_DeleteCommand(interp, command);  // the record may be gone from here on
  objSetInt(interp, left);
  return TCL_OK;
}

/*
 * objCloneCommand --
 *     "clone newObjName ?selected?": a new object of the same class with a
 *     copy of the payload (all items, or the selected ones), no users, no
 *     watchers and no -file.
 */
int objCloneCommand(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3 || argc > 4 || (argc == 4 && strcmp(argv[3], "selected") != 0))
    return objUsage(interp, argv[0], "clone newObjName [selected]");
  if (!object->ops.command) return OBJ_NOT_HANDLED;
  RAMOBJ *copy = static_cast<RAMOBJ *>(gmemAlloc(sizeof(RAMOBJ)));
  memcpy(copy, object, sizeof *copy);
  copy->users = 0;
  copy->payload = nullptr;
  copy->file = nullptr;
  copy->watchers = nullptr;
  if (object->payload && object->ops.clonePayload)
    copy->payload = object->ops.clonePayload(object->payload, argc == 4);
  if (!Tcl_CreateCommand(interp, argv[2], copy->ops.command, copy, objDelete)) {
    objCallClose(copy);
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Fail to create command: ", argv[2], (char *)nullptr);
    return TCL_ERROR;
  }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(argv[2], -1));
  return TCL_OK;
}

}  // namespace

Tk_ConfigSpec objectConfigSpecs[] = {
    {TK_CONFIG_STRING, const_cast<char *>("-file"), nullptr, nullptr, nullptr,
     offsetof(RAMOBJ, file), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_INT, const_cast<char *>("-update"), nullptr, nullptr, const_cast<char *>("1"),
     offsetof(RAMOBJ, update), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

/*
 * openObject --
 *     Finds the object behind a command and counts one user.
 * Results:      0 with the object stored; 1 with a message in the result.
 */
int openObject(Tcl_Interp *interp, int classId, const char *name, RAMOBJ **object) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(interp, name, &info)) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Fail to open the object: ", name, (char *)nullptr);
    return 1;
  }
  /* Object commands are string commands; anything else is not an object. */
  RAMOBJ *found = info.isNativeObjectProc ? nullptr : static_cast<RAMOBJ *>(info.clientData);
  if (reinterpret_cast<uintptr_t>(found) < 4096 || found->magic != RAMOBJ_MAGIC ||
      !found->ops.acquire || !found->ops.acquire(found, nullptr, nullptr)) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Invalid object: ", name, (char *)nullptr);
    return 1;
  }
  if (found->version < RAMOBJ_VERSION) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, fmt("RAMOBJ version 0x%x or higher is required", RAMOBJ_VERSION),
                     (char *)nullptr);
    objCallRelease(found, nullptr, nullptr);
    return 1;
  }
  if (found->classId != classId) {
    Tcl_SetResult(interp, const_cast<char *>("Not the type of RAMOBJ"), TCL_STATIC);
    objCallRelease(found, nullptr, nullptr);
    return 1;
  }
  *object = found;
  return 0;
}

/* closeObject -- ends an openObject. */
void closeObject(RAMOBJ *object) {
  if (object) objCallRelease(object, nullptr, nullptr);
}

/*
 * objAcquire --
 *     Counts one more user and, given a procedure, puts a watcher at the
 *     head of the list.
 * Results:      1; 0 (nothing changed) when the record is not an object.
 */
int objAcquire(RAMOBJ *object, ObjectWatchProc *proc, ClientData clientData) {
  if (!object || object->magic != RAMOBJ_MAGIC) return 0;
  if (proc) {
    ObjectWatcher *watcher = static_cast<ObjectWatcher *>(gmemAlloc(sizeof(ObjectWatcher)));
    watcher->proc = proc;
    watcher->clientData = clientData;
    watcher->next = object->watchers;
    object->watchers = watcher;
  }
  object->users++;
  return 1;
}

/*
 * objRelease --
 *     Removes the first watcher with this procedure and client data (if
 *     any) and gives up one user through the close slot.
 * Results:      1 when no user was left before the call: the object is
 *               freed; else 0.
 */
int objRelease(RAMOBJ *object, ObjectWatchProc *proc, ClientData clientData) {
  if (!object || object->magic != RAMOBJ_MAGIC) return 0;
  for (ObjectWatcher **link = &object->watchers; *link; link = &(*link)->next) {
    ObjectWatcher *watcher = *link;
    if (watcher->proc == proc && watcher->clientData == clientData) {
      *link = watcher->next;
      gmemFree(watcher);
      break;
    }
  }
  int freed = object->users == 0;
  objCallClose(object);
  return freed;
}

/*
 * objClose --
 *     Drops one user, or, with none left, frees the file option, the
 *     payload and the record.
 * Results:      the object, or NULL once it is freed.
 * Side effects: a record with watchers but no user is a broken invariant
 *               of the caller: the process panics rather than leave the
 *               watchers with a freed record.
 */
RAMOBJ *objClose(RAMOBJ *object) {
  if (!object) return nullptr;
  if (object->users > 0) {
    object->users--;
    return object;
  }
  if (object->watchers) Tcl_Panic("Try to delete a RAMOBJ in using.");
  Tk_FreeOptions(objectConfigSpecs, reinterpret_cast<char *>(object), nullptr, 0);
  if (object->payload && object->ops.freePayload) object->ops.freePayload(object->payload);
  object->magic = 0;  // a stale pointer must not pass for an object
  gmemFree(object);
  return nullptr;
}

namespace vesk {

/*
 * newObjectRecord --
 *     A zeroed object record of a class, with the shared acquire, release
 *     and close operations filled in.
 * Results:      the record, or NULL when memory can't be had.
 */
RAMOBJ *newObjectRecord(int classId) {
  RAMOBJ *object = reinterpret_cast<RAMOBJ *>(Tcl_AttemptAlloc(sizeof(RAMOBJ)));
  if (!object) return nullptr;
  memset(object, 0, sizeof *object);
  object->magic = RAMOBJ_MAGIC;
  object->classId = classId;
  object->version = RAMOBJ_VERSION;
  object->ops.acquire = objAcquire;
  object->ops.release = objRelease;
  object->ops.close = objClose;
  return object;
}

/*
 * createObjectCommand --
 *     Makes the object the client data of a new command `name` running its
 *     class's command procedure, then configures it from the option words.
 * Results:      TCL_OK with the name as result; TCL_ERROR with failText
 *               when the command can't be made (the record is freed), or
 *               with the configure message (the command, and the record
 *               with it, is gone).
 */
int createObjectCommand(Tcl_Interp *interp, RAMOBJ *object, const char *name, int argc,
                        const char **argv, const char *failText) {
  if (!Tcl_CreateCommand(interp, name, object->ops.command, object, objDelete)) {
    objDelete(object);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(failText, -1));
    return TCL_ERROR;
  }
  if (objConfig(object, interp, argc, argv, 0, nullptr) != TCL_OK) {
    Tcl_InterpState saved = Tcl_SaveInterpState(interp, TCL_ERROR);
    Tcl_DeleteCommand(interp, name);
    return Tcl_RestoreInterpState(interp, saved);
  }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(name, -1));
  return TCL_OK;
}

}  // namespace vesk

/* objDelete -- the delete procedure of object commands. */
void objDelete(ClientData clientData) { objClose(static_cast<RAMOBJ *>(clientData)); }

/*
 * objConfig --
 *     Configures -file and -update and keeps the payload in step with
 *     -file: a file given (again, even with the same name) is read into a
 *     new payload; an empty -file drops the payload.
 * Results:      TCL_OK, or TCL_ERROR with a message; a payload that
 *               cannot be read leaves the old one and an empty -file.
 * Side effects: the watchers are notified.
 */
int objConfig(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv, int flags,
              const char *previousFile) {
  if (Tk_ConfigureWidget(interp, Tk_MainWindow(interp), objectConfigSpecs, argc, argv,
                         reinterpret_cast<char *>(object), flags) != TCL_OK)
    return TCL_ERROR;
  if (object->file && object->file[0]) {
    if (!object->payload || object->file != previousFile) {
      int status = 0;
      void *payload =
          object->ops.createPayload ? object->ops.createPayload(object->file, &status) : nullptr;
      if (!payload) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Error in creating object: ", object->file, (char *)nullptr);
        object->file[0] = '\0';
        return TCL_ERROR;
      }
      if (object->payload && object->ops.freePayload) object->ops.freePayload(object->payload);
      object->payload = payload;
    }
  } else if (object->payload && objFileGiven(argc, argv)) {
    /* Only an empty -file given here drops the data: a clone, or an object
       whose last load failed, keeps its payload through other options. */
    if (object->ops.freePayload) object->ops.freePayload(object->payload);
    object->payload = nullptr;
  }
  objUpdate(object);
  return TCL_OK;
}

/*
 * objUpdate --
 *     Calls every watcher, most recently added first, then, with -update
 *     set, services all pending events.  Nothing happens without watchers.
 */
void objUpdate(RAMOBJ *object) {
  if (!object || !object->watchers) return;
  int pump = object->update;
  for (ObjectWatcher *watcher = object->watchers, *next; watcher; watcher = next) {
    next = watcher->next;  // a watcher may release itself
    if (watcher->proc) watcher->proc(object, watcher->clientData);
  }
  if (pump) tclUpdate(nullptr, 0xffff);
}

/*
 * objDefCommand --
 *     The subcommands all object commands share: configure, cget, class,
 *     clone, close, count, modified, save and version.
 * Results:      TCL_OK or TCL_ERROR for a word it handled, else
 *               OBJ_NOT_HANDLED (4) for the class command to go on with.
 */
int objDefCommand(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2 || strlen(argv[1]) < 4) return OBJ_NOT_HANDLED;
  const char *word = argv[1];
  Tk_Window mainWindow = Tk_MainWindow(interp);
  char *record = reinterpret_cast<char *>(object);

  if (word[0] == 'c') {
    if (objMatchesPrefix(word, "configure", 4)) {
      if (argc == 2)
        return Tk_ConfigureInfo(interp, mainWindow, objectConfigSpecs, record, nullptr, 0);
      if (argc == 3)
        return Tk_ConfigureInfo(interp, mainWindow, objectConfigSpecs, record, argv[2], 0);
      return objConfig(object, interp, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY, object->file);
    }
    if (objMatchesPrefix(word, "cget", 4)) {
      if (argc != 3) return objUsage(interp, argv[0], "cget option");
      return Tk_ConfigureValue(interp, mainWindow, objectConfigSpecs, record, argv[2], 0);
    }
    if (objMatchesPrefix(word, "class", 4)) {
      if (argc != 2) return objUsage(interp, argv[0], "class");
      Tcl_SetResult(interp, const_cast<char *>(getObjStr(object->classId)), TCL_STATIC);
      return TCL_OK;
    }
    if (objMatchesPrefix(word, "clone", 4)) return objCloneCommand(object, interp, argc, argv);
    if (objMatchesPrefix(word, "close", 4)) {
      if (argc != 2) return objUsage(interp, argv[0], "close");
      return objCloseCommand(object, interp, argv[0]);
    }
    if (objMatchesPrefix(word, "count", 4)) {
      if (!object->ops.count) return OBJ_NOT_HANDLED;
      if (!object->payload) return objUndefined(interp);
      objSetInt(interp, object->ops.count(object));
      return TCL_OK;
    }
    return OBJ_NOT_HANDLED;
  }
  if (strcmp(word, "modified") == 0) {
    if (!object->ops.modified) return OBJ_NOT_HANDLED;
    if (!object->payload) return objUndefined(interp);
    objSetInt(interp, object->ops.modified(object));
    return TCL_OK;
  }
  if (strcmp(word, "save") == 0) {
    if (!object->ops.save) return OBJ_NOT_HANDLED;
    if (argc < 3 || argc > 4 || (argc == 4 && strcmp(argv[3], "selected") != 0))
      return objUsage(interp, argv[0], "save filename [selected]");
    if (!object->ops.save(object, argv[2], argc == 4)) {
      Tcl_SetResult(interp, const_cast<char *>("Error in save object"), TCL_STATIC);
      return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  if (objMatchesPrefix(word, "version", 4)) {
    objSetInt(interp, object->version);
    return TCL_OK;
  }
  return OBJ_NOT_HANDLED;
}

/* getObjStr -- the name of a class id, "Invalid obj id" outside 0 to 8. */
const char *getObjStr(int classId) {
  if (classId < 0 || classId >= kObjectClassNameCount) return "Invalid obj id";
  return objectClassNames[classId];
}

/* ---- the object registry ---- */

namespace vesk {

namespace {

int objRegistryCmd(ClientData, Tcl_Interp *, int, const char **) { return TCL_OK; }

/* The command's delete procedure: the registry goes with it. */
void objRegistryDeleted(ClientData clientData) {
  Tcl_HashTable *table = static_cast<Tcl_HashTable *>(clientData);
  if (countHashEntries(table) > 0)
    vesk_fprintf(stderr, "Permature to delete the object hash table");
  destroyHashTable(table);
}

}  // namespace

/*
 * initObjectRegistry --
 *     Creates the integer-keyed registry and the command "vesk.object"
 *     that owns it (the command itself does nothing).
 * Results:      TCL_OK, or TCL_ERROR with "Fail to create object
 *               hashtable".
 */
int initObjectRegistry(Tcl_Interp *interp) {
  Tcl_HashTable *table = createIntHashTable();
  if (!table) {
    Tcl_SetResult(interp, const_cast<char *>("Fail to create object hashtable"), TCL_STATIC);
    return TCL_ERROR;
  }
  Tcl_CreateCommand(interp, "vesk.object", objRegistryCmd, table, objRegistryDeleted);
  return TCL_OK;
}

/* getObjectRegistry -- the table of "vesk.object", or NULL when absent. */
Tcl_HashTable *getObjectRegistry(Tcl_Interp *interp) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(interp, "vesk.object", &info) || info.proc != objRegistryCmd)
    return nullptr;
  return static_cast<Tcl_HashTable *>(info.clientData);
}

}  // namespace vesk
