#!/bin/sh
# The plane DEM of demshade.test's z-scale cases and what GDAL's gdaldem
# computes on it: z = 3 x column + 2 x row in a 6 x 5 PGM (a format that
# carries no z scale), pixels 1 x 1.  gdaldem reads it through a GeoTIFF copy
# with that pixel size.  plane.txt holds, for interior pixel (2, 2):
#   slopePercent  gdaldem slope -p            (heights as they are)
#   slopeDegrees4 gdaldem slope -s 0.25       (heights times 4)
#   hillshade4    gdaldem hillshade -z 4 -az 315 -alt 45 (1 + 254 cos i, a byte)
# Run from anywhere: sh tests/data/demshade/make-plane.sh
set -eu
cd "$(dirname "$0")"
/usr/bin/python3 -c '
import sys
w, h = 6, 5
sys.stdout.buffer.write(b"P5\n%d %d\n255\n" % (w, h) + bytes(3 * c + 2 * r for r in range(h) for c in range(w)))
' > plane.pgm
tmp=$(mktemp -d)
gdal_translate -q -a_ullr 0 5 6 0 plane.pgm "$tmp/g.tif"
gdaldem slope -q -p "$tmp/g.tif" "$tmp/sp.tif"
gdaldem slope -q -s 0.25 "$tmp/g.tif" "$tmp/sd.tif"
gdaldem hillshade -q -z 4 -az 315 -alt 45 "$tmp/g.tif" "$tmp/hs.tif"
{
  printf 'slopePercent %s\n' "$(gdallocationinfo -valonly "$tmp/sp.tif" 2 2)"
  printf 'slopeDegrees4 %s\n' "$(gdallocationinfo -valonly "$tmp/sd.tif" 2 2)"
  printf 'hillshade4 %s\n' "$(gdallocationinfo -valonly "$tmp/hs.tif" 2 2)"
} > plane.txt
rm -rf "$tmp"
