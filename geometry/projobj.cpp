/*
 * projobj.cpp --
 *     "proj.create" and the instance command of projection objects: the
 *     generic object record of class PROJ around a projection payload,
 *     its class operations, and the dispatch of the shared subcommands
 *     and the projection's own.
 */
#include "core/core.h"
#include "geometry/projcmd.h"
#include "geometry/projfamily.h"
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

int projOpModified(RAMOBJ *object) {
  ProjObject *payload = payloadOf(object);
  return payload ? payload->modified : 0;
}

int projInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv);

void fillProjClassOps(ObjectClassOps *ops) {
  fillProjFamilyOps(ops, projInstanceCmd, &projectionOps);
  ops->count = projOpCount;
  ops->type = projOpType;
  ops->clonePayload = projOpClonePayload;
  ops->modified = projOpModified;
  fillProjKindOps<ProjObject, projObjectKind>(ops);
}

/*
 * projInstanceCmd --
 *     The command of one projection object: the bare name answers the
 *     projection's usage outside any frame; otherwise the shared object
 *     subcommands first, then the projection's own inside the frame.
 */
int projInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  if (argc < 2) return projObjectSubcommand(interp, payloadOf(object), argv[0], argc, argv);
  return projFamilyInstanceCmd<ProjObject, projObjectSubcommand>(clientData, interp, argc, argv);
}

/* The defaults (proj=utm); a default PROJ refuses leaves its message before the name. */
int makeDefaultProjPayload(Tcl_Interp *interp, RAMOBJ *object) {
  ProjObject *payload = newProjObject();
  object->payload = payload;
  configureProjObject(interp, payload, 0, nullptr, 0);
  return TCL_OK;
}

const ProjFamilyClass projFamily = {OBJ_PROJ, "proj.create", projInstanceCmd,
                                   fillProjClassOps, makeDefaultProjPayload, 1};

}  // namespace

/*
 * projCreateCmd --
 *     "proj.create objName ?-file path? ?-update n?": a projection object
 *     whose projection comes from the file, else from the defaults
 *     (proj=utm).
 * Results:      the object's name; the usage (TCL_OK) without a name.
 */
int projCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return createProjFamilyObject(projFamily, interp, argc, argv);
}

}  // namespace vesk
