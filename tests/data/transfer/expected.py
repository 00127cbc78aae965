#!/usr/bin/python3
"""Reference values of the window and geometry transfer suites.

Images are made by formula, the same in the Tcl suites:
  byte(r, c, b)  = (r*31 + c*17 + b*7) % 251
  float(r, c, b) = byte(r, c, b) + 0.25*((r + 2c) % 4)
Each line of expected.txt is a name and a Tcl list (rows of one band, or a
digest).  Run: /usr/bin/python3 expected.py > expected.txt
"""
import hashlib

import numpy as np
from scipy import ndimage


def byte_image(rows, cols, bands):
    r, c, b = np.meshgrid(np.arange(rows), np.arange(cols), np.arange(bands), indexing="ij")
    return ((r * 31 + c * 17 + b * 7) % 251).astype(np.float64)


def float_image(rows, cols, bands):
    r, c, b = np.meshgrid(np.arange(rows), np.arange(cols), np.arange(bands), indexing="ij")
    return byte_image(rows, cols, bands) + 0.25 * ((r + 2 * c) % 4)


def fmt(v):
    v = float(v)
    return repr(int(v)) if v == int(v) else repr(round(v, 6))


def emit(name, band):
    rows = ["{" + " ".join(fmt(v) for v in row) + "}" for row in np.atleast_2d(band)]
    print(name, "{" + " ".join(rows) + "}")


def md5(a):
    return hashlib.md5(np.ascontiguousarray(a, dtype="<f4").tobytes()).hexdigest()


# ---- rotate: numpy's turns and flips ----
turns = {
    "RIGHT": lambda a: np.rot90(a, -1),
    "LEFT": lambda a: np.rot90(a, 1),
    "XFLIP": np.fliplr,
    "YFLIP": np.flipud,
    "XYFLIP": lambda a: np.flipud(np.fliplr(a)),
}
for kind, img in (("byte", byte_image(7, 9, 2)), ("float", float_image(6, 5, 3))):
    for d, f in turns.items():
        for b in range(img.shape[2]):
            emit(f"rotate.{kind}.{d}.{b + 1}", f(img[:, :, b]))
strip = float_image(1100, 1500, 1)[:, :, 0]
print("rotate.strips.RIGHT", md5(np.rot90(strip, -1)))
print("rotate.strips.LEFT", md5(np.rot90(strip, 1)))
column = float_image(1100000, 1, 1)[:, :, 0]
print("rotate.column.RIGHT", md5(np.rot90(column, -1)))

# ---- gsfzoom ----
a = float_image(6, 5, 1)[:, :, 0]
for s in (2, 4, 8):
    shape = ((a.shape[0] - 1) * s + 1, (a.shape[1] - 1) * s + 1)
    z = ndimage.zoom(a, (shape[0] / a.shape[0], shape[1] / a.shape[1]), order=1, grid_mode=False)
    assert z.shape == shape
    emit(f"gsfzoom.BI.{s}", z)


def cubic_doubling(x, axis):
    """Doubles along an axis: odd points by (-1 9 9 -1)/16 where four neighbours exist."""
    x = np.moveaxis(x, axis, 0)
    n = x.shape[0]
    out = np.zeros((2 * n - 1,) + x.shape[1:])
    out[0::2] = x
    for k in range(n - 1):
        if 1 <= k <= n - 3:
            out[2 * k + 1] = (-x[k - 1] + 9 * x[k] + 9 * x[k + 1] - x[k + 2]) / 16
        else:
            out[2 * k + 1] = (x[k] + x[k + 1]) / 2
    return np.moveaxis(out, 0, axis)


c = float_image(8, 9, 1)[:, :, 0]
cc = cubic_doubling(cubic_doubling(c, 0), 1)
# Inside: rows and columns whose gaps have four neighbours.
emit("gsfzoom.CC.inside", cc[2:2 * (8 - 2) + 1, 2:2 * (9 - 2) + 1])
t = byte_image(10, 10, 1)[:, :, 0]
emit("gsfzoom.AVG.4", t[:8, :8].reshape(2, 4, 2, 4).mean((1, 3)))

# ---- copy, crop, trans: numpy slicing and block reductions ----
a = byte_image(7, 9, 2)
for b in range(2):
    out = np.zeros((7, 9))
    out[0:6, 0:7] = a[1:7, 2:9, b]
    emit(f"copy.crop.{b + 1}", out)
    out = np.zeros((3, 4))
    out[0:3, 1:4] = a[2:5, 1:4, b]
    emit(f"copy.into.{b + 1}", out)
    emit(f"copy.sub.{b + 1}", a[0:6:3, 0:8:2, b])
    emit(f"copy.bin.{b + 1}", a[:6, :8, b].reshape(3, 2, 4, 2).sum((1, 3)))
    emit(f"copy.avg.{b + 1}", a[:6, :9, b].reshape(3, 2, 3, 3).mean((1, 3)))
    emit(f"copy.bin3.{b + 1}", a[:2, :9, b].reshape(1, 2, 3, 3).sum((1, 3)))

# ---- resample: 10 m input, origin (0, 0) ----
a = float_image(8, 10, 1)[:, :, 0]
emit("resample.NN", a[::2, ::2])
emit("resample.AVG", a.reshape(4, 2, 5, 2).mean((1, 3)))
yi, xj = np.meshgrid(np.arange(5) * 1.37, np.arange(6) * 1.37, indexing="ij")
emit("resample.BI", ndimage.map_coordinates(a, [yi, xj], order=1, mode="grid-constant", cval=0))
emit("resample.half", np.array([[0.25 * (a[0, 0] + a[1, 0])]]))

# ---- section: the diagonal of a 100 x 100 image ----
s = float_image(100, 100, 1)[:, :, 0]
emit("section.diagonal", np.diag(s))

# ---- principal components of a 3-band image (population covariance) ----
r, c = np.meshgrid(np.arange(6), np.arange(7), indexing="ij")
pc = np.stack([(r * 7 + c * 3) % 11 + r, (r * 2 + c * 5) % 13 + c, (r * c) % 7 + 2 * r], axis=2).astype(float)
x = pc.reshape(-1, 3)
mean = x.mean(0)
cov = np.cov(x.T, bias=True)
values, vectors = np.linalg.eigh(cov)
order = np.argsort(values)[::-1]
vectors = vectors[:, order]
print("pc.mean", "{" + " ".join(fmt(v) for v in mean) + "}")
print("pc.cov", "{" + " ".join(fmt(v) for v in cov[np.tril_indices(3)]) + "}")
print("pc.vectors", "{" + " ".join(fmt(v) for v in vectors.T.ravel()) + "}")
print("pc.components", "{" + " ".join(fmt(v) for v in ((x - mean) @ vectors).T.ravel()) + "}")
