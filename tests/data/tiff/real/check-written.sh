#!/bin/sh
# Writes one TIFF of each kind the library writes (grey, RGB, palette,
# 16-bit, float, GeoTIFF; 3 x 5, so that byte data has an odd length) and
# records what independent readers say of them in written-check.txt:
# tiffinfo (libtiff-tools) and gdalinfo (gdal-bin) warnings, listgeo
# (geotiff-bin) for the GeoTIFF.  The unit tests check alignment and the
# baseline tags themselves; this file keeps the outside readers' verdict.
# (checkit-tiff is not packaged for Debian: the unit tests check what its
# baseline checks look at, word alignment and the required tags.)
# listgeo prints PROJ's "proj_create: unrecognized format / unknown name"
# once for each corner it tries to give in latitude and longitude: a map id
# is written as a user-defined projected system named by its citation, which
# no PROJ definition matches (also with the citation key left out);
# the keys themselves draw no warning.
# Run from anywhere with a built tree: sh check-written.sh <build dir>
set -eu
build=$(cd "$1" && pwd)
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/write.tcl" <<TCL
lappend auto_path $build
set veskAppScripts {}
package require Tk; wm withdraw .
package require Vesk
foreach {name imgid pixel bands extra} {
    grey TIFF BYTE 1 {}
    rgb TIFF BYTE 3 {}
    palette TIFF BYTE 1 {-nindices 16}
    u16 TIFF USHORT 1 {}
    float TIFF FLOAT 1 {}
    geo GEOTIFF BYTE 1 {-mapid UTM33 -x0 500000 -y0 4100000 -dx 30 -dy 30}
} {
    rimage create -file $work/\$name.tif -imgid \$imgid -pixel \$pixel -nbands \$bands \
        -rows 3 -columns 5 -nindices 0 {*}\$extra
}
exit 0
TCL
xvfb-run -a wish8.6 "$work/write.tcl"
{
    for f in grey rgb palette u16 float geo; do
        echo "== $f.tif"
        echo "tiffinfo messages:"
        tiffinfo "$work/$f.tif" 2>&1 >/dev/null | sed 's/^/    /' 
        echo "gdalinfo warnings: $(gdalinfo "$work/$f.tif" 2>&1 >/dev/null | wc -l)"
        tiffdump "$work/$f.tif" | grep -E "Directory|Resolution"
    done
    echo "== listgeo geo.tif: messages"
    listgeo "$work/geo.tif" 2>&1 >/dev/null | sed 's/^/    /'
    listgeo "$work/geo.tif" 2>/dev/null | sed -n '/Keyed_Information/,/End_Of_Keys/p'
} | sed "s|$work/||g" > written-check.txt
cat written-check.txt
