/*
 * projfamily.cpp --
 *     The ".create" command shared by the projection-kind object classes,
 *     their shared class operations and the guard of the program commands.
 */
#include "geometry/projfamily.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "core/core.h"

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
      RAMOBJ *object = static_cast<RAMOBJ *>(gmemAlloc(static_cast<int>(sizeof(RAMOBJ))));
      if (!object) return projFamilyOutOfMemory(interp);
      memset(object, 0, sizeof *object);
      object->magic = RAMOBJ_MAGIC;
      object->classId = family.classId;
      object->version = RAMOBJ_VERSION;
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

/*
 * writeObjectFile --
 *     The saved text of an object, written beside the file and renamed
 *     into place, so a failed save leaves the old file whole.
 */
int writeObjectFile(const char *path, const std::string &text) {
  std::string temporary = std::string(path) + ".tmp";
  FILE *file = fopen(temporary.c_str(), "w");
  if (!file) return 0;
  bool good = fwrite(text.data(), 1, text.size(), file) == text.size();
  good = (fclose(file) == 0) && good;
  if (!good || rename(temporary.c_str(), path) != 0) {
    remove(temporary.c_str());
    return 0;
  }
  return 1;
}

/*
 * readObjectFile --
 *     The whole text of a saved object no longer than limit.  Only a
 *     regular file holds one: a folder, a device or a FIFO is refused
 *     before it is opened (a FIFO would block the open).
 */
bool readObjectFile(const char *path, long limit, std::string &text) {
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  FILE *file = fopen(path, "r");
  if (!file) return false;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > limit) {
    fclose(file);
    return false;
  }
  text.assign(static_cast<size_t>(info.st_size), '\0');
  size_t got = fread(&text[0], 1, text.size(), file);
  fclose(file);
  text.resize(got);
  return true;
}

}  // namespace vesk
