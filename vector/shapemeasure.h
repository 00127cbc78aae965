/*
 * shapemeasure.h --
 *     Measures of shape records (areas, lengths, centroids, directions
 *     along lines) and the projection a shape object's coordinates are
 *     expressed in, with the re-projection of every vertex of its store.
 */
#ifndef VESK_VECTOR_SHAPEMEASURE_H
#define VESK_VECTOR_SHAPEMEASURE_H

#include <tcl.h>

#include "vector/shapefile.h"

namespace vesk {

/* The instance subcommands that compute with coordinates. */
enum ShapeMeasureId {
  MEASURE_AREA,
  MEASURE_CENTROID,
  MEASURE_LANGLE,
  MEASURE_LENGTH,
  MEASURE_PROJDEF,
  MEASURE_PROJECTION,
  MEASURE_VANGLE,
};

int shapeMeasureCommand(ShapeFile *store, Tcl_Interp *interp, int argc, const char **argv,
                        ShapeMeasureId id, bool &changed);

/*
 * Geometry over x, y pairs (n points).  Rings stored clockwise have
 * positive areas, counter-clockwise ones (holes) negative areas.
 */
double ringArea(const ShapeDouble *points, int n);
double shapePolylineLength(const ShapeDouble *points, int n);
double shapePolygonCentroid(const ShapeDouble *points, int n, double *cx, double *cy);
double lineCentroid(const ShapeDouble *points, int n, double *cx, double *cy);
double shapePointsCentroid(const ShapeDouble *points, int n, double *cx, double *cy);
double segmentAngle(double x0, double y0, double x1, double y1);

}  // namespace vesk

#endif
