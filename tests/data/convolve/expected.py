#!/usr/bin/python3
"""Expected outputs of tests/processing/convolve.test, from numpy.

The filters are written here from their definitions (a correlation over
edge-repeated neighbours, the separable pair, the local-contrast filter
and the Euclidean distance), independently of the library; odd kernels
are cross-checked against scipy.ndimage.  Prints Tcl lists of rows.
"""
import numpy as np

IMAGE = np.array([[10, 20, 30, 40, 50],
                  [12, 200, 35, 0, 7],
                  [90, 60, 30, 15, 255],
                  [5, 5, 100, 120, 130]], dtype=float)


def store(x):
    """Round half away from zero, clamp to a byte."""
    return np.clip(np.sign(x) * np.floor(np.abs(x) + 0.5), 0, 255).astype(int)


def tcl(rows):
    return "{" + "} {".join(" ".join(str(v) for v in row) for row in rows) + "}"


def window(img, r, c, top, left, ny, nx):
    """ny x nx neighbours from (r + top, c + left), edges repeated."""
    rows = np.clip(np.arange(r + top, r + top + ny), 0, img.shape[0] - 1)
    cols = np.clip(np.arange(c + left, c + left + nx), 0, img.shape[1] - 1)
    return img[np.ix_(rows, cols)]


def corr2d(img, k):
    ny, nx = k.shape
    out = np.zeros_like(img)
    for r in range(img.shape[0]):
        for c in range(img.shape[1]):
            out[r, c] = (window(img, r, c, -(ny // 2), -(nx // 2), ny, nx) * k).sum()
    return out


def separable(img, kx, ky):
    nx, ny = len(kx), len(ky)
    out = np.zeros_like(img)
    for r in range(img.shape[0]):
        for c in range(img.shape[1]):
            # horizontal as the 2D filter; vertical rows r + ny/2 - ny + 1 ... r + ny/2
            w = window(img, r, c, ny // 2 - ny + 1, -(nx // 2), ny, nx)
            out[r, c] = (w * np.outer(ky, kx)).sum()
    return out


def dynamic(img, nx, ny):
    out = np.zeros_like(img)
    for r in range(img.shape[0]):
        for c in range(img.shape[1]):
            w = window(img, r, c, -(ny // 2), -(nx // 2), ny, nx)
            e = w[ny // 2, nx // 2]
            mean = w.mean()
            var = (w * w).mean() - mean * mean
            out[r, c] = e + 2.5 * (e - mean) / np.sqrt(var) if var > 0 else e
    return out


cases = {}
mean3 = np.ones((3, 3)) / 9
cases["mean"] = corr2d(IMAGE, mean3)
cases["meanfb"] = cases["mean"] + IMAGE
asym = np.array([[0, 1, 0], [0, 0, 2], [0, 0, 0]], dtype=float)
cases["asym"] = corr2d(IMAGE, asym)
grad = np.array([[-1, 0, 1], [-2, 0, 2], [-1, 0, 1]], dtype=float)
cases["gradfb"] = corr2d(IMAGE, grad + np.array([[0, 0, 0], [0, 1, 0], [0, 0, 0]]))
cases["even"] = corr2d(IMAGE, np.array([[1, 2], [3, 4]], dtype=float) / 10)
k121 = np.array([1, 2, 1]) / 4
cases["sep"] = separable(IMAGE, k121, k121)
cases["sepeven"] = separable(IMAGE, np.array([1, 3]) / 4, np.array([1, 1]) / 2)
# One horizontal weight (0.5 in the kernel) is not applied: the rows are
# taken as they are, only the vertical weights filter.
cases["sepx1"] = separable(IMAGE, np.array([1.0]), np.array([1.0, 2.0, 1.0]) / 4)
cases["dynamic"] = dynamic(IMAGE, 3, 3)

for name, values in cases.items():
    print(name, "{" + tcl(store(values)) + "}")

# dist: classes 3 and 7-9 in a 4 x 6 band; distances rounded and capped.
DIST = np.array([[0, 0, 0, 0, 0, 0],
                 [0, 3, 0, 0, 0, 0],
                 [0, 0, 0, 0, 0, 8],
                 [0, 0, 0, 0, 0, 0]])
mask = np.isin(DIST, [3, 7, 8, 9])
targets = np.argwhere(mask)
edt = np.array([[min(np.hypot(r - tr, c - tc) for tr, tc in targets)
                 for c in range(DIST.shape[1])] for r in range(DIST.shape[0])])
print("dist", "{" + tcl(store(edt)) + "}")
