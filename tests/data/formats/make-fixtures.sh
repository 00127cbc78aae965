#!/bin/sh
# Makes the image-format fixtures with outside tools (netpbm, ImageMagick 6,
# GDAL) and writes what those tools report about their pixels into
# expected.txt.  The bytes are committed: the tests need none of the tools.
# Run from anywhere: sh tests/data/formats/make-fixtures.sh
set -eu
cd "$(dirname "$0")"
IM=/usr/bin/convert

# The sources: 5 x 3 pixels, odd widths so that BMP rows are padded.
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

# PPM and PGM from netpbm (raw forms, no comment).
ppmtoppm < colour.ppm.txt > colour.ppm
ppmtopgm < colour.ppm > grey.pgm
# The same pixels behind a nine-character comment line: data offset 21.
{ printf 'P6\n#comment1\n5 3\n255\n'; tail -c 45 colour.ppm; } > comment.ppm

# XBM from netpbm.
pbmtoxbm < bilevel.pbm.txt > bilevel.xbm

# BMPs from netpbm: 1, 4, 8 and 24 bits, 40-byte info headers.
ppmtobmp -quiet -bpp 1 < bilevel.pbm.txt > bilevel1.bmp
ppmtobmp -quiet -bpp 4 < colour.ppm > colour4.bmp
ppmtobmp -quiet -bpp 8 < colour.ppm > colour8.bmp
ppmtobmp -quiet -bpp 24 < colour.ppm > colour24.bmp
# From ImageMagick: 24 bits and 8-bit palette with its default (V5) header,
# and an RLE8-compressed one that the reader refuses.
$IM colour.ppm -type TrueColor BMP:im24.bmp
$IM colour.ppm -type Palette BMP:im4.bmp
$IM bilevel.pbm.txt -type Bilevel BMP:im1.bmp
$IM colour.ppm -type Palette -compress RLE BMP:rle8.bmp
# A top-down copy of the 24-bit file: negative height, rows reversed.
/usr/bin/python3 - <<'PY'
import struct
b = bytearray(open('colour24.bmp', 'rb').read())
off = struct.unpack_from('<I', b, 10)[0]
w, h = struct.unpack_from('<ii', b, 18)
stride = (24 * w + 31) // 32 * 4
rows = [b[off + i * stride: off + (i + 1) * stride] for i in range(h)]
struct.pack_into('<i', b, 22, -h)
b[off:] = b''.join(reversed(rows))
open('topdown24.bmp', 'wb').write(b)
PY

# ERDAS 7.4 from GDAL (three bands of bytes, line-interleaved).
gdal_translate -q -of LAN colour.ppm colour.lan
rm -f colour.lan.aux.xml

# What the tools see: plain PNM text of every fixture, read back by the
# tools themselves (bmptopnm, xbmtopbm, GDAL's PNM writer).
plain() { pnmtoplainpnm | tr -s ' \n' ' ' ; echo; }
{
  for f in colour.ppm grey.pgm comment.ppm; do printf '%s: ' "$f"; plain < "$f"; done
  printf 'bilevel.xbm: '; xbmtopbm < bilevel.xbm | plain
  for f in bilevel1.bmp colour4.bmp colour8.bmp colour24.bmp im24.bmp im4.bmp im1.bmp topdown24.bmp; do
    printf '%s: ' "$f"; bmptopnm < "$f" 2>/dev/null | plain
  done
  gdal_translate -q -of PNM colour.lan lan.ppm
  printf 'colour.lan: '; plain < lan.ppm
  rm -f lan.ppm lan.ppm.aux.xml
} > expected.txt
rm -f colour.ppm.txt bilevel.pbm.txt
