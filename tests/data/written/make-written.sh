#!/bin/sh
# Makes the reference answers of tests/raster/written.test:
#  1. peer-made inputs: TIFFs from GDAL (32-bit unsigned, signed 8-bit,
#     64-bit float, a UTM 33N GeoTIFF) and DICOM files from dcmtk (a dose
#     grid of 32-bit unsigned samples, signed 8-bit, a big-endian data set),
#     with what GDAL and dcmdump read from them (peer-inputs.txt);
#  2. every file of the written-file table (cases.tcl), written by the
#     library from make-written.tcl into files/, and what GDAL and each
#     format's own tool read from them (peers.tcl, made by peers.py; it
#     fails when a peer disagrees with the library or warns).
# The bytes are committed: the tests need none of the tools.
# usage: sh tests/data/written/make-written.sh [PKGDIR]   (default build/lib)
# Needs gdal-bin, python3-gdal, dcmtk, libtiff-tools, netpbm,
# libjpeg-turbo-progs, xvfb.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
lib=$(cd "${1:-$here/../../../build/lib}" && pwd)
cd "$here"
PY=/usr/bin/python3

# ---- 1. peer-made inputs ----
mkdir -p peer
$PY - <<'PYEOF'
from osgeo import gdal, osr
gdal.UseExceptions()
def make(name, dtype, rows, options=(), srs=None, transform=None):
    ds = gdal.GetDriverByName("GTiff").Create("peer/" + name, len(rows[0]), len(rows), 1,
                                              dtype, list(options))
    import numpy
    ds.GetRasterBand(1).WriteArray(numpy.array(rows))
    if srs:
        s = osr.SpatialReference()
        s.ImportFromEPSG(srs)
        ds.SetProjection(s.ExportToWkt())
        ds.SetGeoTransform(transform)
    ds = None
make("uint32.tif", gdal.GDT_UInt32, [[0, 1249000, 70000], [4000000000, 16777216, 4294967040]])
# GDAL 3.6 keeps signed bytes as Byte bands marked SIGNEDBYTE: the bytes
# of -128 -1 0 / 1 127 -50.
make("int8.tif", gdal.GDT_Byte, [[128, 255, 0], [1, 127, 206]], ["PIXELTYPE=SIGNEDBYTE"])
make("float64.tif", gdal.GDT_Float64, [[0.5, 1.5, 2.5], [3.5, 4.5, 5.5]])
make("utm33.tif", gdal.GDT_Byte, [[10, 20, 30], [40, 50, 60]], srs=32633,
     transform=(500000, 30, 0, 4650000, 0, -30))
PYEOF
# A dose grid: 32-bit unsigned samples, 2 rows x 3 columns (little-endian
# bytes): 0 1249000 70000 / 4000000000 16777216 4294967040.
cat > peer/rtdose.txt <<'TXT'
(0008,0016) UI [1.2.840.10008.5.1.4.1.1.481.2]
(0008,0018) UI [1.2.826.0.1.3680043.2.1125.33.1]
(0008,0060) CS [RTDOSE]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 2
(0028,0011) US 3
(0028,0100) US 32
(0028,0101) US 32
(0028,0102) US 31
(0028,0103) US 0
(3004,000e) DS [1.0e-5]
(7fe0,0010) OB 00\00\00\00\e8\0e\13\00\70\11\01\00\00\28\6b\ee\00\00\00\01\00\ff\ff\ff
TXT
# Signed 8-bit samples, 2 rows x 3 columns: -128 -1 0 / 1 127 -50.
cat > peer/signed8.txt <<'TXT'
(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,0018) UI [1.2.826.0.1.3680043.2.1125.33.2]
(0008,0060) CS [OT]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 2
(0028,0011) US 3
(0028,0100) US 8
(0028,0101) US 8
(0028,0102) US 7
(0028,0103) US 1
(7fe0,0010) OB 80\ff\00\01\7f\ce
TXT
dump2dcm +te peer/rtdose.txt peer/rtdose.dcm
dump2dcm +te peer/signed8.txt peer/signed8.dcm
# The same 16-bit image as ../dicom/mono16.dcm, in big-endian byte order.
dump2dcm +tb ../dicom/mono16.txt peer/mono16-big.dcm
{
  for f in uint32 int8 float64 utm33; do
    echo "== gdalinfo -stats peer/$f.tif"
    gdalinfo -stats -nomd peer/$f.tif | grep -E 'Type=|Minimum|EPSG",32633\]\]$|Origin|Pixel Size'
    $PY -c "from osgeo import gdal; d = gdal.Open('peer/$f.tif'); b = d.GetRasterBand(1); print(b.ReadAsArray().tolist(), b.GetMetadataItem('PIXELTYPE', 'IMAGE_STRUCTURE') or '')"
    tiffinfo peer/$f.tif 2>&1 | grep -E 'Sample Format|Bits/Sample'
  done
  for f in rtdose signed8 mono16-big; do
    echo "== dcmdump peer/$f.dcm"
    dcmdump +L peer/$f.dcm | grep -E '\(0002,0010\)|\(0028,01|\(7fe0,0010\)'
  done
  echo "== dcm2pnm +Wm +on2 peer/rtdose.dcm: not used; pydicom-style values from the bytes:"
  $PY -c "import struct; b=bytes.fromhex('00000000e80e13007011010000286bee00000001 00ffffff'.replace(' ','')); print(struct.unpack('<6I', b))"
} > peer-inputs.txt 2>&1
rm -f peer/*.aux.xml

# ---- 2. the written-file table ----
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
xvfb-run -a wish8.6 make-written.tcl "$lib" "$out"
$PY peers.py "$out" > peers.tcl
rm -rf files
mkdir files
for f in "$out"/*; do
  case $f in *.txt|*.vrt|*.aux.xml) continue;; esac
  cp "$f" files/
done
echo "made $(ls files | wc -l) files; peers.tcl and peer-inputs.txt"
