/*
 * projobj.cpp --
 *     "proj.create" and the instance command of projection objects: the
 *     generic object record of class PROJ around a projection payload,
 *     its class operations, and the dispatch of the shared subcommands
 *     and the projection's own.
 */
#include <string.h>
#include <new>
#include <string>

#include "core/core.h"
#include "geometry/projcmd.h"
#include "geometry/projprog.h"
#include "vesk/object.h"

namespace vesk {
namespace {

ProjObject *payloadOf(RAMOBJ *object) { return static_cast<ProjObject *>(object->payload); }

int projOpCount(RAMOBJ *) { return countProjTypes(); }

int projOpType(RAMOBJ *object) { return projObjectType(payloadOf(object)); }

void *projOpClonePayload(void *payload, int) {
  return cloneProjObject(getCurrentProjInterp(), static_cast<ProjObject *>(payload));
}

int projOpSave(RAMOBJ *object, const char *path, int) {
  return saveProjObject(payloadOf(object), path);
}

void *projOpCreatePayload(const char *path, int *status) {
  ProjObject *payload = loadProjObject(getCurrentProjInterp(), path);
  if (status) *status = payload ? 0 : 1;
  return payload;
}

void projOpFreePayload(void *payload) { freeProjObject(static_cast<ProjObject *>(payload)); }

int projOpModified(RAMOBJ *object) {
  ProjObject *payload = payloadOf(object);
  return payload ? payload->modified : 0;
}

int projInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv);

void fillProjClassOps(ObjectClassOps *ops) {
  ops->count = projOpCount;
  ops->selected = nullptr;
  ops->type = projOpType;
  ops->clonePayload = projOpClonePayload;
  ops->save = projOpSave;
  ops->acquire = objAcquire;
  ops->release = objRelease;
  ops->close = objClose;
  ops->createPayload = projOpCreatePayload;
  ops->freePayload = projOpFreePayload;
  ops->command = projInstanceCmd;
  ops->modified = projOpModified;
  ops->methods = const_cast<ProjectionOps *>(&projectionOps);
}

/*
 * projInstanceCmd --
 *     The command of one projection object: the shared object
 *     subcommands first, then the projection's own inside the frame.
 */
int projInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  if (argc < 2) return projObjectSubcommand(interp, payloadOf(object), argv[0], argc, argv);
  /* Payloads made by the shared subcommands (clone, -file) parse in this interpreter. */
  setCurrentProjInterp(interp);
  int result = objDefCommand(object, interp, argc, argv);
  if (result != OBJ_NOT_HANDLED) return result;
  std::string name = argv[0];
  try {
    return runInProjFrame(interp, name.c_str(), [&]() {
      return projObjectSubcommand(interp, payloadOf(object), name.c_str(), argc, argv);
    });
  } catch (const std::bad_alloc &) {
    Tcl_SetResult(interp, const_cast<char *>("out of memory"), TCL_STATIC);
    return TCL_ERROR;
  }
}

}  // namespace

/*
 * projCreateCmd --
 *     "proj.create objName ?-file path? ?-update n?": a projection object
 *     whose projection comes from the file, else from the defaults
 *     (proj=utm).
 * Results:      the object's name; the usage (TCL_OK) without a name.
 */
int projCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  try {
    return runInProjFrame(interp, "proj.create", [&]() -> int {
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
      if (!object) {
        Tcl_SetResult(interp, const_cast<char *>("out of memory"), TCL_STATIC);
        return TCL_ERROR;
      }
      memset(object, 0, sizeof *object);
      object->magic = RAMOBJ_MAGIC;
      object->classId = OBJ_PROJ;
      object->version = RAMOBJ_VERSION;
      fillProjClassOps(&object->ops);
      /* objDelete frees the record once no native user holds it any more. */
      Tcl_Command token = Tcl_CreateCommand(interp, name, projInstanceCmd, object, objDelete);
      if (!token) {
        objClose(object);
        Tcl_SetResult(interp, const_cast<char *>("command already exists"), TCL_STATIC);
        return TCL_ERROR;
      }
      if (objConfig(object, interp, argc - 2, argv + 2, 0, nullptr) != TCL_OK) {
        Tcl_Obj *message = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(message);
        Tcl_DeleteCommandFromToken(interp, token);
        Tcl_SetObjResult(interp, message);
        Tcl_DecrRefCount(message);
        return TCL_ERROR;
      }
      if (!object->payload) {
        ProjObject *payload = newProjObject();
        object->payload = payload;
        /* A default PROJ refuses leaves its message before the name. */
        configureProjObject(interp, payload, 0, nullptr, 0);
      }
      Tcl_AppendResult(interp, name, nullptr);
      return TCL_OK;
    });
  } catch (const std::bad_alloc &) {
    Tcl_SetResult(interp, const_cast<char *>("out of memory"), TCL_STATIC);
    return TCL_ERROR;
  }
}

}  // namespace vesk
