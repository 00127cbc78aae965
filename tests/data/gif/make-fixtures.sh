#!/bin/sh
# Makes the GIF fixtures with outside tools (giflib's gifbuild from text
# descriptions, ImageMagick 6) and derives corrupt variants with Python.
# The bytes are committed: the tests need none of the tools.
# Run from anywhere: sh tests/data/gif/make-fixtures.sh
set -eu
cd "$(dirname "$0")"
IM=/usr/bin/convert
PY=/usr/bin/python3

# The 5 x 3 colour source of the other format fixtures, as GIF87a and GIF89a.
cat > colour.ppm.txt <<'TXT'
P3
5 3
255
255 0 0    0 255 0    0 0 255    255 255 0   10 20 30
0 0 0      255 255 255 128 64 32 0 255 255   10 20 30
200 100 50 0 0 0      255 0 0    0 0 255     255 255 255
TXT
$IM colour.ppm.txt GIF87:colour87.gif
$IM colour.ppm.txt GIF:colour89.gif
# An interlaced 20 x 20 grey ramp (more than one LZW width step).
$PY - <<'PY'
rows = [' '.join(str((r * 20 + c) % 256) for c in range(20)) for r in range(20)]
open('ramp.pgm.txt', 'w').write('P2\n20 20\n255\n' + '\n'.join(rows) + '\n')
PY
$IM ramp.pgm.txt -interlace GIF ramp-interlaced.gif

# Three frames on a 4 x 3 screen: a georeference comment; frame 1 all red
# but for one green pixel; frame 2 a 2 x 2 patch at (1, 1) whose index 0
# is transparent and a delay of 0.5 s; frame 3 after a disposal to the
# background, an interlaced 2 x 2 patch with its own colour table.
gifbuild > anim.gif <<'TXT'
screen width 4
screen height 3
screen colors 4
screen background 0
pixel aspect byte 0

screen map
	rgb 000 000 000 is 0
	rgb 255 000 000 is 1
	rgb 000 255 000 is 2
	rgb 000 000 255 is 3
end

comment
vesk proj:UTM x0:500000 y0:4100000 dx:30 dy:20
end

graphics control
	disposal mode 0
	user input flag off
	delay 0
	transparent index -1
end

image # 1
image left 0
image top 0
image bits 4 by 3
1111
1121
1111

graphics control
	disposal mode 0
	user input flag off
	delay 50
	transparent index 0
end

image # 2
image left 1
image top 1
image bits 2 by 2
30
03

graphics control
	disposal mode 2
	user input flag off
	delay 0
	transparent index 3
end

image # 3
image left 2
image top 0
image interlaced
image map
	rgb 000 000 000 is 0
	rgb 255 000 000 is 1
end
image bits 2 by 2
10
01
TXT

# No global colour table: the image brings its own.
gifbuild > local.gif <<'TXT'
screen width 3
screen height 2
screen colors 2
screen background 0
pixel aspect byte 0

image # 1
image left 0
image top 0
image map
	rgb 010 020 030 is 0
	rgb 200 100 050 is 1
end
image bits 3 by 2
010
110
TXT

# Variants.
$PY - <<'PY'
b = bytearray(open('colour89.gif', 'rb').read())
z = bytearray(b); z[6:8] = b'\0\0'; open('zero-width.gif', 'wb').write(z)
# The LZW code size byte (after the separator's nine descriptor bytes) set to 12.
i = b.index(b',', 13 + 3 * (2 << (b[10] & 7)))
c = bytearray(b); c[i + 10] = 12; open('codesize12.gif', 'wb').write(c)
# A stray byte where the next block should start.
u = bytearray(b[:i]) + b'\x07' + b[i:]; open('stray.gif', 'wb').write(u)
PY

# What giflib reads back, for the record.
for f in colour87.gif colour89.gif anim.gif local.gif ramp-interlaced.gif; do echo "== $f"; gifbuild -d "$f" | grep -v '^#'; done > gifbuild.txt
rm -f colour.ppm.txt ramp.pgm.txt
