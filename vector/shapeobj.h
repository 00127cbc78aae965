/*
 * shapeobj.h --
 *     Shape objects: generic objects of class SHAPE whose payload is a
 *     shapefile store, and the VectorOps table through which the map
 *     canvas and other native code read and build their records.
 */
#ifndef VESK_VECTOR_SHAPEOBJ_H
#define VESK_VECTOR_SHAPEOBJ_H

#include <stdint.h>

#include "vector/shapefile.h"
#include "vesk/object.h"

namespace vesk {

/*
 * The operations every SHAPE object carries in its methods slot.  Record
 * indexes run over 0..count-1 of the object's count slot; coordinates are
 * world units.  Doubles handed out point into the records and are only
 * 4-byte aligned: read them by value.
 */
struct VectorOps {
  int32_t (*recordNumber)(RAMOBJ *object, int i);
  ShapeFile *(*newPayload)(RAMOBJ *object, int kind, const int32_t *partCounts,
                           const int32_t *pointCounts, int n);
  const ShapeDouble *(*recordBox)(RAMOBJ *object, int i);  /* NULL: no box */
  const int32_t *(*recordParts)(RAMOBJ *object, int i, int *kind, int *partCount);
  const ShapeDouble *(*recordPoints)(RAMOBJ *object, int i, int *pointCount);
  int (*setRecord)(RAMOBJ *object, int i, const double *points, int n, const int32_t *parts,
                   int p, const double *z, const double *m, const int32_t *partTypes);
  ShapeRecord *(*addRecord)(RAMOBJ *object, int number, const double *points, int n,
                            const int32_t *parts, int p, const double *z, const double *m,
                            const int32_t *partTypes);
  int32_t (*recordSize)(RAMOBJ *object, int kind, int n, int p);
  int (*isSelected)(RAMOBJ *object, int i);
  void (*select)(RAMOBJ *object, int i);
  int (*selectAll)(RAMOBJ *object);
  void (*unselect)(RAMOBJ *object, int i);
  int (*unselectAll)(RAMOBJ *object);
  void (*toggle)(RAMOBJ *object, int i);
  int32_t (*countSelected)(RAMOBJ *object);
};

extern const VectorOps shapeVectorOps;

}  // namespace vesk

#endif
