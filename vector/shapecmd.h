/*
 * shapecmd.h --
 *     Shape type names, the geometry kinds of vector objects, and the
 *     subcommands of a shape object that work on its store alone.  The
 *     object layer (the generic object record, watchers, table matching)
 *     sits on top of these.
 */
#ifndef VESK_VECTOR_SHAPECMD_H
#define VESK_VECTOR_SHAPECMD_H

#include <tcl.h>

#include "vector/shapefile.h"

namespace vesk {

/* Geometry kinds of vector objects and canvas vertex data. */
inline constexpr int KIND_POINT = 0x100;
inline constexpr int KIND_LINE = 0x200;
inline constexpr int KIND_POLYGON = 0x400;
inline constexpr int KIND_POINTM = 0x1100;
inline constexpr int KIND_LINEM = 0x1200;
inline constexpr int KIND_POLYGONM = 0x1400;
inline constexpr int KIND_POINTZ = 0x2100;
inline constexpr int KIND_LINEZ = 0x2200;
inline constexpr int KIND_POLYGONZ = 0x2400;
inline constexpr int KIND_MULTIPATCH = 0x4000;
inline constexpr int KIND_MULTIPOINT = 0x4100;
inline constexpr int KIND_MULTIPOINTM = 0x4200;
inline constexpr int KIND_MULTIPOINTZ = 0x4400;

struct ShapeTypeName {
  int code;
  const char *name;
};
/* {code, name} in the order of the names listed to users; ends with {-1, NULL}. */
extern const ShapeTypeName shapeTypeNames[];

int shapeTypeFromName(const char *name);
const char *shapeTypeName(int code);
int shapeTypeForKind(int kind);
int shapeBaseKind(int type);

/*
 * Copies a table object's selection into the store (the "match"
 * subcommand); supplied by the object layer.  TCL_OK (the watchers are
 * then told) or TCL_ERROR with a message.
 */
typedef int ShapeMatchProc(Tcl_Interp *interp, const char *tableName, ShapeFile *store);

/* Outcome of shapeStoreCommand beyond the completion code. */
struct ShapeCommandState {
  bool changed = false;     /* the watchers must be told */
  bool handled = true;      /* false: not one of the store's subcommands */
};

int shapeStoreCommand(ShapeFile *&store, Tcl_Interp *interp, int argc, const char **argv,
                      ShapeMatchProc *match, ShapeCommandState &state);
Tcl_CmdProc shapeInfoCmd;

}  // namespace vesk

#endif
