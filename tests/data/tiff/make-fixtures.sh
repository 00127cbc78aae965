#!/bin/sh
# Makes the TIFF fixtures with outside tools (libtiff-tools, ImageMagick 6,
# GDAL) and derives corrupt variants from them with Python.  The bytes are
# committed: the tests need none of the tools.
# Run from anywhere: sh tests/data/tiff/make-fixtures.sh
set -eu
cd "$(dirname "$0")"
IM=/usr/bin/convert
PY=/usr/bin/python3

# Sources: 5 x 3 grey and colour pixels, a 20 x 20 ramp for tiles.
cat > grey.pgm.txt <<'TXT'
P2
5 3
255
77 149 29 226 18
0 255 80 178 18
124 0 77 29 255
TXT
cat > colour.ppm.txt <<'TXT'
P3
5 3
255
255 0 0    0 255 0    0 0 255    255 255 0   10 20 30
0 0 0      255 255 255 128 64 32 0 255 255   10 20 30
200 100 50 0 0 0      255 0 0    0 0 255     255 255 255
TXT
cat > bilevel.pbm.txt <<'TXT'
P1
5 3
1 0 1 1 0
0 1 0 0 1
1 1 1 0 0
TXT
$PY - <<'PY'
rows = [' '.join(str((r * 20 + c) % 256) for c in range(20)) for r in range(20)]
open('ramp.pgm.txt', 'w').write('P2\n20 20\n255\n' + '\n'.join(rows) + '\n')
PY

$IM grey.pgm.txt grey.pgm
# Plain files from ImageMagick, little-endian ("II").
$IM grey.pgm.txt -depth 8 -compress None -define tiff:rows-per-strip=3 grey8.tif
$IM colour.ppm.txt -depth 8 -compress None rgb8.tif
$IM colour.ppm.txt -type Palette -depth 8 -compress None palette8.tif
$IM bilevel.pbm.txt -type Bilevel -compress None bilevel.tif
# Big-endian ("MM") copy, one row a strip, PackBits, LZW (refused) and tiles.
tiffcp -B -c none rgb8.tif rgb8-mm.tif
tiffcp -c packbits -r 1 grey8.tif packbits.tif
tiffcp -c lzw grey8.tif lzw.tif
$IM ramp.pgm.txt -depth 8 -compress None ramp.tif
tiffcp -c none -t -w 16 -l 16 ramp.tif tiled.tif
# Two pages: the grey image, then the colour one.
tiffcp -c none grey8.tif rgb8.tif twopage.tif

# From GDAL (it reads the binary PGM): 16-bit and float samples, GeoTIFF in both byte orders.
gdal_translate -q -ot UInt16 grey.pgm u16.tif
gdal_translate -q -ot Int16 grey.pgm s16.tif
gdal_translate -q -ot Float32 grey.pgm float.tif
gdal_translate -q -a_srs EPSG:32633 -a_ullr 500000 4100000 500050 4099970 grey.pgm geo.tif
gdal_translate -q -co ENDIANNESS=BIG -a_srs EPSG:32633 -a_ullr 500000 4100000 500050 4099970 \
  grey.pgm geo-mm.tif
rm -f *.aux.xml

# Variants, by patching the directory of a good file.
$PY - <<'PY'
import struct

def load(name):
    return bytearray(open(name, 'rb').read())

def entries(b):
    order = '<' if b[:2] == b'II' else '>'
    ifd = struct.unpack_from(order + 'I', b, 4)[0]
    n = struct.unpack_from(order + 'H', b, ifd)[0]
    return order, ifd, n, [ifd + 2 + 12 * i for i in range(n)]

def find(b, tag):
    order, ifd, n, at = entries(b)
    for e in at:
        if struct.unpack_from(order + 'H', b, e)[0] == tag:
            return order, e
    raise KeyError(tag)

def retag(name, out, tag, new):
    b = load(name)
    order, e = find(b, tag)
    struct.pack_into(order + 'H', b, e, new)
    open(out, 'wb').write(b)

def setvalue(name, out, tag, value, fmt='I', at=8):
    b = load(name)
    order, e = find(b, tag)
    struct.pack_into(order + fmt, b, e + at, value)
    open(out, 'wb').write(b)

# ModelPixelScale without a ModelTiepoint: the tiepoint renamed to a private tag.
retag('geo.tif', 'scale-only.tif', 33922, 65000)
# 12 bits a sample on float data: read as a 32-bit image.
b = load('float.tif'); order, e = find(b, 258); struct.pack_into(order + 'H', b, e + 8, 12)
open('bits12.tif', 'wb').write(b)
# Zero width.
b = load('grey8.tif'); order, e = find(b, 256); typ = struct.unpack_from(order + 'H', b, e + 2)[0]
struct.pack_into(order + ('H' if typ == 3 else 'I'), b, e + 8, 0); open('zero-width.tif', 'wb').write(b)
# A directory chain that loops: page 2 links back to page 1.
b = load('twopage.tif'); order, ifd, n, at = entries(b)
second = struct.unpack_from(order + 'I', b, ifd + 2 + 12 * n)[0]
m = struct.unpack_from(order + 'H', b, second)[0]
struct.pack_into(order + 'I', b, second + 2 + 12 * m, ifd); open('loop.tif', 'wb').write(b)
# The first directory beyond the end of the file.
b = load('grey8.tif'); struct.pack_into('<I', b, 4, len(b) + 100); open('ifd-past-end.tif', 'wb').write(b)
# Entries running past the end: the file cut inside its directory.
b = load('grey8.tif'); order, ifd, n, at = entries(b); open('cut-ifd.tif', 'wb').write(b[:ifd + 20])
PY
# The strip offset moved past the end of the file.
$PY - <<'PY'
import struct
b = bytearray(open('rgb8.tif', 'rb').read())
order = '<'
ifd = struct.unpack_from('<I', b, 4)[0]
n = struct.unpack_from('<H', b, ifd)[0]
for i in range(n):
    e = ifd + 2 + 12 * i
    if struct.unpack_from('<H', b, e)[0] == 273:
        struct.pack_into('<I', b, e + 8, len(b) - 10)
open('cut-strip.tif', 'wb').write(b)
# A colour map whose count is not a multiple of 3.
b = bytearray(open('palette8.tif', 'rb').read())
ifd = struct.unpack_from('<I', b, 4)[0]
n = struct.unpack_from('<H', b, ifd)[0]
for i in range(n):
    e = ifd + 2 + 12 * i
    if struct.unpack_from('<H', b, e)[0] == 320:
        struct.pack_into('<I', b, e + 4, 767)
open('bad-colormap.tif', 'wb').write(b)
PY

# What the tools see, for the record.
for f in grey8.tif rgb8.tif rgb8-mm.tif palette8.tif bilevel.tif packbits.tif tiled.tif \
         twopage.tif u16.tif float.tif geo.tif geo-mm.tif; do
  echo "== $f"; tiffdump "$f" | grep -v '^Magic\|^$'
done > tiffdump.txt 2>&1
rm -f grey.pgm grey.pgm.txt colour.ppm.txt bilevel.pbm.txt ramp.pgm.txt ramp.tif
