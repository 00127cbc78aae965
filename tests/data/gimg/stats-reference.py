# Reference statistics of the test image of the gimg suite: a one-band BYTE
# image of 24 rows and 36 columns whose pixel (x, y) is (7x + 13y + xy) mod
# 251.  Band statistics read every fourth column of every fourth row.
# Run: /usr/bin/python3 tests/data/gimg/stats-reference.py
import numpy as np

y, x = np.mgrid[0:24, 0:36]
a = (7 * x + 13 * y + x * y) % 251
s = a[::4, ::4].astype(float)
print("{%-.3f %-.3f %-.3f %-.3f} %.1f" % (s.mean(), s.std(), s.min(), s.max(), s.size))
