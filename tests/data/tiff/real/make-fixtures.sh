#!/bin/sh
# TIFF layouts made by GDAL (gdal-bin, python3-gdal) that the reader once
# got wrong, with GDAL's own reading of them as the reference:
#   one-tile.tif     16 x 16 bytes in one 16 x 16 uncompressed tile
#   planar.tif       37 x 29 x 3 bytes, INTERLEAVE=BAND, strips
#   planar-tiled.tif 40 x 20 x 3 unsigned shorts, INTERLEAVE=BAND, 16 x 16 tiles
#   bits1-tiled.tif  100 x 20, NBITS=1 (MinIsBlack), one 128 x 128 tile
#   bits4-tiled.tif  100 x 20, NBITS=4, one 128 x 128 tile
#   float64.tif      5 x 3 Float64: refused (the store holds no 64-bit samples)
#   point.tif        a UTM GeoTIFF with AREA_OR_POINT=Point
#   strips.tif       12 x 10 bytes in strips of 4 rows
#   planar-packbits.tif  11 x 9 x 2 bytes, INTERLEAVE=BAND, PackBits strips of 4 rows
# <name>.txt holds GDAL's values, band after band, row after row;
# reference.txt holds gdalinfo's corner of point.tif and the palette GDAL
# gives bits1-tiled.tif.  The bytes are committed: the tests need no tool.
# Run from anywhere: sh tests/data/tiff/real/make-fixtures.sh
set -eu
cd "$(dirname "$0")"
/usr/bin/python3 - <<'PY'
import numpy as np
from osgeo import gdal
gdal.UseExceptions()
rng = np.random.default_rng(14)

def make(name, data, gdal_type, options, srs=None, geo=None, meta=None):
    bands = data.shape[0]
    ds = gdal.GetDriverByName('MEM').Create('', data.shape[2], data.shape[1], bands, gdal_type)
    for b in range(bands):
        ds.GetRasterBand(b + 1).WriteArray(data[b])
    if geo:
        ds.SetGeoTransform(geo)
        ds.SetProjection(srs)
    if meta:
        ds.SetMetadata(meta)
    gdal.GetDriverByName('GTiff').CreateCopy(name, ds, options=options)
    ds = None
    back = gdal.Open(name)
    values = [back.GetRasterBand(b + 1).ReadAsArray() for b in range(back.RasterCount)]
    with open(name.replace('.tif', '.txt'), 'w') as out:
        for v in values:
            out.write(' '.join(str(x) for x in v.ravel().tolist()) + '\n')
    return back

make('one-tile.tif', rng.integers(0, 256, (1, 16, 16)), gdal.GDT_Byte,
     ['TILED=YES', 'BLOCKXSIZE=16', 'BLOCKYSIZE=16', 'COMPRESS=NONE'])
make('planar.tif', rng.integers(0, 256, (3, 29, 37)), gdal.GDT_Byte,
     ['INTERLEAVE=BAND', 'COMPRESS=NONE', 'BLOCKYSIZE=8'])
make('planar-tiled.tif', rng.integers(0, 65536, (3, 20, 40)), gdal.GDT_UInt16,
     ['INTERLEAVE=BAND', 'TILED=YES', 'BLOCKXSIZE=16', 'BLOCKYSIZE=16', 'COMPRESS=NONE'])
bits1 = make('bits1-tiled.tif', rng.integers(0, 2, (1, 20, 100)), gdal.GDT_Byte,
             ['NBITS=1', 'TILED=YES', 'BLOCKXSIZE=128', 'BLOCKYSIZE=128', 'COMPRESS=NONE'])
make('bits4-tiled.tif', rng.integers(0, 16, (1, 20, 100)), gdal.GDT_Byte,
     ['NBITS=4', 'TILED=YES', 'BLOCKXSIZE=128', 'BLOCKYSIZE=128', 'COMPRESS=NONE'])
make('float64.tif', rng.random((1, 3, 5)), gdal.GDT_Float64, ['COMPRESS=NONE'])
from osgeo import osr
srs = osr.SpatialReference(); srs.ImportFromEPSG(32633)
point = make('point.tif', rng.integers(0, 256, (1, 4, 6)), gdal.GDT_Byte, ['COMPRESS=NONE'],
             srs.ExportToWkt(), (500000.0, 30.0, 0, 4100000.0, 0, -30.0), {'AREA_OR_POINT': 'Point'})
make('strips.tif', rng.integers(0, 256, (1, 10, 12)), gdal.GDT_Byte,
     ['COMPRESS=NONE', 'BLOCKYSIZE=4'])
make('planar-packbits.tif', rng.integers(0, 4, (2, 9, 11)), gdal.GDT_Byte,
     ['COMPRESS=PACKBITS', 'INTERLEAVE=BAND', 'BLOCKYSIZE=4'])
with open('reference.txt', 'w') as out:
    info = gdal.Info('point.tif', format='json')
    ul = info['cornerCoordinates']['upperLeft']
    out.write('point.tif upper left: %r %r\n' % (ul[0], ul[1]))
    out.write('point.tif metadata: %r\n' % info['metadata'][''])
    table = bits1.GetRasterBand(1).GetColorTable()
    entries = [table.GetColorEntry(i)[:3] for i in range(table.GetCount())] if table else []
    out.write('bits1-tiled.tif palette: %r\n' % entries)
    out.write('bits1-tiled.tif photometric: %s\n' %
              bits1.GetMetadataItem('TIFFTAG_PHOTOMETRIC', 'IMAGE_STRUCTURE'))
PY
rm -f *.aux.xml
