#!/bin/sh
# Makes the JPEG fixtures with the JPEG library's own tools (cjpeg, djpeg,
# wrjpgcom from libjpeg-turbo-progs) and ImageMagick 6, and writes what
# djpeg decodes from each into expected.txt (plain PNM samples).  The
# bytes are committed: the tests need none of the tools.
# Run from anywhere: sh tests/data/jpeg/make-fixtures.sh
set -eu
cd "$(dirname "$0")"
IM=/usr/bin/convert

# The source: 13 x 9 pixels (not a whole number of blocks), smooth ramps
# with a few sharp edges.
/usr/bin/python3 - <<'PY'
w, h = 13, 9
data = bytearray()
for y in range(h):
    for x in range(w):
        r = (x * 19 + y * 3) % 256
        g = (y * 28) % 256
        b = 255 - x * 17 if (x + y) % 5 else 40
        data += bytes((r, g, b))
open('source.ppm', 'wb').write(b'P6\n%d %d\n255\n' % (w, h) + data)
PY

cjpeg -quality 85 source.ppm > colour.jpg
cjpeg -grayscale -quality 90 source.ppm > grey.jpg
cjpeg -progressive -quality 75 source.ppm > progressive.jpg
# A progressive image tall enough to need whole-image buffers in several
# pieces (for the library's memory ceiling).
$IM -size 40x200 gradient:red-blue -interlace JPEG -quality 80 JPEG:tall-progressive.jpg
# Full-resolution chroma, from ImageMagick.
$IM source.ppm -quality 92 -sampling-factor 1x1 JPEG:im444.jpg
# Three comments: text that is no georeference, the georeference, a note.
wrjpgcom -comment "made by the fixture script" grey.jpg |
  wrjpgcom -comment "vesk proj:UTM x0:500000.5 y0:4500000 dx:30 dy:-30" |
  wrjpgcom -comment "a note after it" > comments.jpg

plain() { pnmtoplainpnm | tr -s ' \n' ' ' ; echo; }
{
  for f in colour.jpg grey.jpg progressive.jpg im444.jpg comments.jpg; do
    printf '%s: ' "$f"; djpeg -pnm "$f" | plain
  done
} > expected.txt
rm -f source.ppm
