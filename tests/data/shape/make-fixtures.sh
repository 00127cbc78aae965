#!/bin/sh
# Makes the shapefile fixtures with shapelib's tools (Debian package
# "shapelib": shpcreate, shpadd, shpdump) and records shpdump's view of
# each one.  The bytes are committed, so the tests need none of these tools.
set -e
cd "$(dirname "$0")"
rm -f *.shp *.shx *.dbf *.dump

# Three points.
shpcreate point point
shpadd point 1 2
shpadd point -3.5 4.25
shpadd point 10 -20

# Two multipoints of 3 and 4 points.
shpcreate multipoint multipoint
shpadd multipoint 0 0 1 1 2 2
shpadd multipoint 5 5 6 7 8 9 -1 -2

# Polylines: one part of 2 points; three parts of 3, 4 and 3 points (starts 0 3 7).
shpcreate polyline arc
shpadd polyline 0 0 10 10
shpadd polyline 0 0 1 0 2 0 + 0 1 1 1 2 1 3 1 + 0 2 1 2 2 2

# Polygons: a square with a square hole; a triangle.
shpcreate polygon polygon
shpadd polygon 0 0 0 10 10 10 10 0 0 0 + 2 2 8 2 8 8 2 8 2 2
shpadd polygon 20 20 20 30 30 20 20 20

# A polyline with Z (and M) values, two parts.
shpcreate polylinez arcz
shpadd polylinez -zm 0 0 1 5 1 1 2 6 + 2 2 3 7 3 3 4 8

# Z records without the optional M block, as shapelib (and GDAL, QGIS) write
# them: two points, a polyline of two parts, a polygon, a multipoint.
shpcreate pointz-nom pointz
shpadd pointz-nom -z 5 6 7
shpadd pointz-nom -z -1 2.5 -3
shpcreate polylinez-nom arcz
shpadd polylinez-nom -z 0 0 1 1 1 2 + 2 2 3 3 3 4 4 4 5
shpcreate polygonz-nom polygonz
shpadd polygonz-nom -z 0 0 1 0 10 2 10 10 3 10 0 4 0 0 1
shpcreate multipointz-nom multipointz
shpadd multipointz-nom -z 1 2 3 4 5 6

# A polyline with M values.
shpcreate polylinem arcm
shpadd polylinem -m 0 0 5 1 1 6

# Five point records: the file that a 2-record store is written over.
shpcreate five point
for i in 1 2 3 4 5; do shpadd five $i $i; done

# For the map canvas's object item: a square of side 10 with a hole of
# side 2 (area 96), a square of side 10 beside it, a triangle; three points.
shpcreate objpoly polygon
shpadd objpoly 0 0 0 10 10 10 10 0 0 0 + 2 2 4 2 4 4 2 4 2 2
shpadd objpoly 20 0 20 10 30 10 30 0 20 0
shpadd objpoly 40 0 40 10 50 0 40 0
shpcreate objpoint point
shpadd objpoint 5 5
shpadd objpoint 25 5
shpadd objpoint 45 5

rm -f *.dbf
for f in *.shp; do shpdump -precision 12 "$f" > "${f%.shp}.dump"; done
