#!/usr/bin/python3
# Makes the band-statistics fixtures and their reference figures with numpy:
#   stats-byte.raw   BYTE, BIL, 96 rows x 128 columns x 3 bands, no header
#   stats-short.raw  SHORT, BSQ, 64 rows x 50 columns x 2 bands, big-endian
#   stats-figures.txt  per image, step and band: count mean std min max,
#                      and for BYTE the 256 histogram counts
# Run with Debian's python (numpy): /usr/bin/python3 make_stats.py
import os
import numpy as np

here = os.path.dirname(os.path.abspath(__file__))
rng = np.random.default_rng(20240611)

byte = rng.integers(0, 256, size=(96, 3, 128), dtype=np.uint8)   # row, band, column
byte[:, 2, :] = np.clip(rng.normal(90, 25, size=(96, 128)), 0, 255).astype(np.uint8)
byte.tofile(os.path.join(here, "stats-byte.raw"))

short = rng.integers(-30000, 30000, size=(2, 64, 50), dtype=np.int16)  # band, row, column
short[1] = (rng.normal(-500, 1200, size=(64, 50))).astype(np.int16)
short.astype(">i2").tofile(os.path.join(here, "stats-short.raw"))

lines = []
def figures(name, bands, colstep, rowstep, hist):
    for b, data in enumerate(bands):
        v = data[::rowstep, ::colstep].astype(np.float64)
        lines.append("%s %d %d %d %d %.17g %.17g %.17g %.17g" % (
            name, colstep, rowstep, b, v.size, v.mean(), v.std(), v.min(), v.max()))
        if hist:
            h = np.bincount(data[::rowstep, ::colstep].ravel(), minlength=256)
            lines.append("hist " + " ".join(str(int(c)) for c in h))

for cs, rs in ((1, 1), (2, 3)):
    figures("byte", [byte[:, b, :] for b in range(3)], cs, rs, True)
    figures("short", [short[b] for b in range(2)], cs, rs, False)

with open(os.path.join(here, "stats-figures.txt"), "w") as f:
    f.write("\n".join(lines) + "\n")
