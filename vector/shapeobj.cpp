/*
 * shapeobj.cpp --
 *     Shape objects: the "shape.create" command, the SHAPE class's
 *     operations over its shapefile store, the instance command (shared
 *     object subcommands first, then the store's own), selection matched
 *     from a table object, and the VectorOps table read by the canvas.
 */
#include "vector/shapeobj.h"

#include <limits.h>
#include <string.h>
#include <algorithm>
#include <string>

#include "core/core.h"
#include "core/families.h"
#include "vector/shapecmd.h"

namespace vesk {
namespace {

ShapeFile *shapeStore(RAMOBJ *object) { return static_cast<ShapeFile *>(object->payload); }

/* ---- class operations ---- */

int shapeCount(RAMOBJ *object) {
  ShapeFile *store = shapeStore(object);
  return store ? store->count : 0;
}

int shapeKind(RAMOBJ *object) {
  ShapeFile *store = shapeStore(object);
  return store ? shapeBaseKind(store->header.shapeType) : 0;
}

void *shapeClonePayload(void *payload, int selectedOnly) {
  const ShapeFile *store = static_cast<const ShapeFile *>(payload);
  return selectedOnly ? copySelectedShapes(store) : cloneShapeFile(store);
}

int shapeSave(RAMOBJ *object, const char *path, int selectedOnly) {
  return writeShape(path, shapeStore(object), selectedOnly, nullptr);
}

void *shapeCreatePayload(const char *path, int *status) { return openShapeFile(path, status); }

void shapeFreePayload(void *payload) { freeShapeFile(static_cast<ShapeFile *>(payload)); }

int shapeModified(RAMOBJ *object) {
  ShapeFile *store = shapeStore(object);
  return store ? store->dirty : 0;
}

/* ---- VectorOps ---- */

ShapeRecord *shapeRecordAt(RAMOBJ *object, int i) {
  return getShapeRecord(shapeStore(object), i);
}

int32_t vectorRecordNumber(RAMOBJ *object, int i) {
  ShapeRecord *record = shapeRecordAt(object, i);
  return record ? shapeRecordNumber(record) : 0;
}

/* A new store for the kind replaces the old one; an unknown kind changes nothing. */
ShapeFile *vectorNewPayload(RAMOBJ *object, int kind, const int32_t *partCounts,
                            const int32_t *pointCounts, int n) {
  int type = shapeTypeForKind(kind);
  if (type < 0) return nullptr;
  ShapeFile *store = newShapeFile(type, partCounts, pointCounts, n);
  if (!store) return nullptr;
  freeShapeFile(shapeStore(object));
  object->payload = store;
  return store;
}

const ShapeDouble *vectorRecordBox(RAMOBJ *object, int i) {
  ShapeRecord *record = shapeRecordAt(object, i);
  return record ? getRecordBox(record) : nullptr;
}

const int32_t *vectorRecordParts(RAMOBJ *object, int i, int *kind, int *partCount) {
  ShapeRecord *record = shapeRecordAt(object, i);
  if (!record) {
    *kind = 0;
    *partCount = 0;
    return nullptr;
  }
  *kind = shapeBaseKind(shapeRecordType(record));
  return getRecordParts(record, partCount);
}

const ShapeDouble *vectorRecordPoints(RAMOBJ *object, int i, int *pointCount) {
  ShapeRecord *record = shapeRecordAt(object, i);
  if (!record) {
    *pointCount = 0;
    return nullptr;
  }
  return getRecordPoints(record, pointCount);
}

int vectorSetRecord(RAMOBJ *object, int i, const double *points, int n, const int32_t *parts,
                    int p, const double *z, const double *m, const int32_t *partTypes) {
  ShapeFile *store = shapeStore(object);
  return store ? setShapeRecordContent(store, i, points, n, parts, p, z, m, partTypes) : 0;
}

ShapeRecord *vectorAddRecord(RAMOBJ *object, int number, const double *points, int n,
                             const int32_t *parts, int p, const double *z, const double *m,
                             const int32_t *partTypes) {
  ShapeFile *store = shapeStore(object);
  return store ? addShapeRecord(store, number, points, n, parts, p, z, m, partTypes) : nullptr;
}

int32_t vectorRecordSize(RAMOBJ *, int kind, int n, int p) {
  int64_t size = shapeRecordSize(shapeTypeForKind(kind), n, p);
  return static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
}

/* Selection through the object: indexes outside the store are ignored. */
bool inStore(RAMOBJ *object, int i) {
  ShapeFile *store = shapeStore(object);
  return store && i >= 0 && i < store->count;
}

int vectorIsSelected(RAMOBJ *object, int i) {
  return inStore(object, i) ? isShapeSelected(shapeStore(object), i) : 0;
}

void vectorSelect(RAMOBJ *object, int i) {
  if (inStore(object, i)) selectShape(shapeStore(object), i);
}

int vectorSelectAll(RAMOBJ *object) {
  ShapeFile *store = shapeStore(object);
  return store ? selectAllShapes(store) : 0;
}

void vectorUnselect(RAMOBJ *object, int i) {
  if (inStore(object, i)) unselectShape(shapeStore(object), i);
}

int vectorUnselectAll(RAMOBJ *object) {
  ShapeFile *store = shapeStore(object);
  return store ? unselectAllShapes(store) : 0;
}

void vectorToggle(RAMOBJ *object, int i) {
  if (inStore(object, i)) toggleShape(shapeStore(object), i);
}

int32_t vectorCountSelected(RAMOBJ *object) {
  ShapeFile *store = shapeStore(object);
  return store ? countSelectedShapes(store) : 0;
}

/* ---- the instance command ---- */

/*
 * shapeMatchTable --
 *     "match tableObj": the first records take the selection of the
 *     table's rows (deleted records keep their state); later ones are
 *     left alone.
 */
int shapeMatchTable(Tcl_Interp *interp, const char *tableName, ShapeFile *store) {
  RAMOBJ *table;
  if (openObject(interp, OBJ_TABLE, tableName, &table) != 0) return TCL_ERROR;
  int rows = table->ops.count ? table->ops.count(table) : 0;
  int n = std::min(store->count, rows);
  for (int i = 0; i < n; i++) {
    if (table->ops.selected && table->ops.selected(table, i)) selectShape(store, i);
    else unselectShape(store, i);
  }
  closeObject(table);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

const char kShapeCommandWords[] =
    " [addrecord area aselect bbox centroid config cget class clone close count countdeletions "
    "countselections deleteshape id initialize info insertrecord isselected langle length match "
    "mvalues parts patchtypes projdef projection purge save select selectonly setmvalues "
    "setpatchtypes setrecord setvertices setzvalues setrange type undeleteshap unselect "
    "unselectonly vangle version vertex vparts zvalues]";

/*
 * shapeObjectCmd --
 *     The command of a shape object: the subcommands every object shares,
 *     then the store's own.  A change tells the object's watchers.
 */
int shapeObjectCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  if (argc < 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], kShapeCommandWords, (char *)nullptr);
    return TCL_ERROR;
  }
  int code = objDefCommand(object, interp, argc, argv);
  if (code != OBJ_NOT_HANDLED) return code;
  ShapeFile *store = shapeStore(object);
  ShapeCommandState state;
  code = shapeStoreCommand(store, interp, argc, argv, shapeMatchTable, state);
  object->payload = store;
  if (state.changed) {
    /* Watchers may pump events; the command's result must survive them. */
    Tcl_InterpState saved = Tcl_SaveInterpState(interp, code);
    objUpdate(object);
    code = Tcl_RestoreInterpState(interp, saved);
  }
  return code;
}

/*
 * shapeCreateCmd --
 *     "shape.create id ?option value ...?": a shape object behind the
 *     command id, configured with the object options (-file loads a
 *     shapefile).
 * Results:      the id; on failure no command is left behind.
 */
int shapeCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, argv[0], " id options", (char *)nullptr);
    return TCL_ERROR;
  }
  RAMOBJ *object = newObjectRecord(OBJ_SHAPE);
  if (!object) {
    Tcl_SetResult(interp, const_cast<char *>("Error in create shape obj"), TCL_STATIC);
    return TCL_ERROR;
  }
  object->ops.count = shapeCount;
  object->ops.type = shapeKind;
  object->ops.clonePayload = shapeClonePayload;
  object->ops.save = shapeSave;
  object->ops.createPayload = shapeCreatePayload;
  object->ops.freePayload = shapeFreePayload;
  object->ops.command = shapeObjectCmd;
  object->ops.modified = shapeModified;
  object->ops.methods = const_cast<VectorOps *>(&shapeVectorOps);
  return createObjectCommand(interp, object, argv[1], argc - 2, argv + 2, "Error in create shape obj");
}

}  // namespace

const VectorOps shapeVectorOps = {
    vectorRecordNumber, vectorNewPayload, vectorRecordBox,    vectorRecordParts,
    vectorRecordPoints, vectorSetRecord,  vectorAddRecord,    vectorRecordSize,
    vectorIsSelected,   vectorSelect,     vectorSelectAll,    vectorUnselect,
    vectorUnselectAll,  vectorToggle,     vectorCountSelected,
};

int Shape_Init(Tcl_Interp *interp) {
  bool created = Tcl_CreateCommand(interp, "shape.create", shapeCreateCmd, nullptr, nullptr) &&
                 Tcl_CreateCommand(interp, "shape.info", shapeInfoCmd, nullptr, nullptr);
  return created ? 0 : 1;
}

}  // namespace vesk
