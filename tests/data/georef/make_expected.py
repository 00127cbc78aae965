#!/usr/bin/python3
"""Parameter files and reference outputs of rimage georef.

Writes the GOERECHD fixtures (good and hostile) beside this script and
expected.txt: one line per case, the case name then the output rows, row
by row.  The reference follows the resampling rule of the module: source
positions from the two polynomials, the source box of the window's border,
zeros inside the box but outside the image, old values outside the box.
Run: /usr/bin/python3 make_expected.py

It also warps the same source with gdalwarp over GCPs of the order-1 and
order-2 mappings; with GDAL 3.6.2 it printed
    gdalwarp -order 1 -r near: 261 of 261 interior pixels agree, 0 differ away from the edge
    gdalwarp -order 1 -r bilinear: 256 of 263 interior pixels agree, 0 differ away from the edge
    gdalwarp -order 2 -r near: 207 of 207 interior pixels agree, 0 differ away from the edge
    gdalwarp -order 2 -r bilinear: 196 of 207 interior pixels agree, 0 differ away from the edge
"""
import math
import os
import struct

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))


def term_count(N):
    return 4 if N == 0 else (N + 1) * (N + 2) // 2


def poly_index(a, b):
    return b + (a + b) * (a + b + 1) // 2


def par_bytes(xc, yc, coff, roff, N, row, col, n=None, magic=b"GOERECHD"):
    n = term_count(N) if n is None else n
    row = list(row) + [0.0] * (n - len(row))
    col = list(col) + [0.0] * (n - len(col))
    row[0] += roff
    col[0] += coff
    return (magic + struct.pack("<ddddii", xc, yc, coff, roff, n, N)
            + struct.pack("<%dd" % n, *row) + struct.pack("<%dd" % n, *col))


def evaluate(par, x, y):
    xc, yc, N, row, col = par
    u, v = x - xc, y - yc
    if N == 0:
        terms = [1, u, v, u * v]
    else:
        terms = [0.0] * term_count(N)
        for a in range(N + 1):
            for b in range(N + 1 - a):
                terms[poly_index(a, b)] = u ** a * v ** b
    Y = sum(c * t for c, t in zip(row, terms))
    X = sum(c * t for c, t in zip(col, terms))
    return X, Y


def source(rows, columns):
    r, c = np.mgrid[0:rows, 0:columns]
    return ((r * 31 + c * 17) % 251).astype(np.float64)


def georef(src, out, par, frame, method, byte=False):
    """frame: (xFirst, yFirst, dx, dy) of output pixel (0, 0)."""
    rows, columns = out.shape
    x0, y0, dx, dy = frame
    XY = np.zeros((rows, columns, 2))
    for i in range(rows):
        for j in range(columns):
            XY[i, j] = evaluate(par, x0 + j * dx, y0 - i * dy)
    border = np.concatenate([XY[0], XY[-1], XY[:, 0], XY[:, -1]])
    left, top = np.floor(border.min(axis=0)).astype(int)
    right, bottom = np.ceil(border.max(axis=0)).astype(int)

    def pixel(ix, iy):
        if 0 <= iy < src.shape[0] and 0 <= ix < src.shape[1]:
            return src[iy, ix]
        return 0.0

    res = out.copy()
    for i in range(rows):
        for j in range(columns):
            X, Y = XY[i, j]
            if method == "NN":
                ix, iy = math.trunc(X + 0.5), math.trunc(Y + 0.5)
                if left <= ix <= right and top <= iy <= bottom:
                    res[i, j] = pixel(ix, iy)
                continue
            ix, iy = math.trunc(X), math.trunc(Y)
            fx, fy = np.float32(X - ix), np.float32(Y - iy)
            if byte:
                if not (left <= ix <= right and top <= iy <= bottom):
                    continue
                ix1, iy1 = min(ix + 1, right), min(iy + 1, bottom)
            else:
                if not (left <= ix < right and top <= iy < bottom):
                    continue
                ix1, iy1 = ix + 1, iy + 1
            value = ((1 - fx) * (1 - fy) * pixel(ix, iy) + fx * (1 - fy) * pixel(ix1, iy)
                     + (1 - fx) * fy * pixel(ix, iy1) + fx * fy * pixel(ix1, iy1))
            if byte:
                value = min(255, max(0, math.floor(value + 0.5)))
            res[i, j] = value
    return res


def inline(angle, scale, shift_x, shift_y, in_shape, out_shape):
    ir, ic = in_shape
    orows, ocols = out_shape
    icx, icy = (ic - 1) * 0.5, (ir - 1) * 0.5
    ocx, ocy = (ocols - 1) * 0.5, (orows - 1) * 0.5
    theta = np.float32(angle) * 0.005555555555555556 * 3.141592653589793
    scale = float(np.float32(scale))
    a, b = math.cos(theta) / scale, math.sin(theta) / scale
    coff, roff = icx - float(np.float32(shift_x)), icy + float(np.float32(shift_y))
    return (ocx, ocy, 1, [roff, -b, a], [coff, a, b])


def gdal_check(src, pars, expected):
    """gdalwarp -order 1 / -order 2 on GCPs of the same mappings (GDAL's
    pixel coordinates are ours + 0.5) over the output's map frame, its
    kernels at scale 1 (XSCALE, YSCALE: no widening when shrinking); prints
    how many interior pixels agree.  Only a cross-check: GDAL is not needed
    to run the tests."""
    try:
        from osgeo import gdal
    except ImportError:
        return
    gdal.UseExceptions()
    for name, frame, order in (("order1", (0.0, 0.0, 1.0, -1.0), 1),
                               ("order2", (100.0, 200.0, 2.0, 2.0), 2)):
        x0, y0, dx, dy = frame
        gcps = []
        for i in range(-2, 19, 3):
            for j in range(-2, 21, 3):
                x, y = x0 + j * dx, y0 - i * dy
                X, Y = evaluate(pars[name], x, y)
                gcps.append(gdal.GCP(x, y, 0, X + 0.5, Y + 0.5))
        mem = gdal.GetDriverByName("MEM").Create("", src.shape[1], src.shape[0], 1,
                                                 gdal.GDT_Float32)
        mem.GetRasterBand(1).WriteArray(src)
        mem.SetGCPs(gcps, "")
        # target pixel centres at the output's frame positions
        xs = sorted((x0 - 0.5 * abs(dx), x0 + 17.5 * abs(dx)))
        ys = sorted((y0 + 0.5 * dy, y0 - 15.5 * dy))
        for method, resample in (("NN", "near"), ("BI", "bilinear")):
            out = gdal.Warp("", mem, format="MEM", polynomialOrder=order, resampleAlg=resample,
                            outputBounds=(xs[0], ys[0], xs[1], ys[1]), width=18, height=16,
                            dstNodata=-1, outputType=gdal.GDT_Float32,
                            warpOptions=["XSCALE=1", "YSCALE=1"], errorThreshold=0)
            got = out.GetRasterBand(1).ReadAsArray().astype(float)
            if dy < 0:  # pixel frame: y grows downwards, GDAL's rows go north first
                got = got[::-1]
            want = expected[name + method]
            inside = (got != -1) & (want > 0)
            agree = np.isclose(got, want, atol=0.5 if method == "NN" else 1e-2)[inside]
            # where they differ, the source position is within a pixel of the
            # image's edge: the two treat missing neighbours differently
            pos = np.array([[evaluate(pars[name], x0 + j * dx, y0 - i * dy) for j in range(18)]
                            for i in range(16)])
            edge = ((pos[..., 0] < 1) | (pos[..., 0] > src.shape[1] - 2) |
                    (pos[..., 1] < 1) | (pos[..., 1] > src.shape[0] - 2))[inside]
            print("gdalwarp -order %d -r %s: %d of %d interior pixels agree, %d differ away "
                  "from the edge" % (order, resample, agree.sum(), agree.size,
                                     (~agree & ~edge).sum()))


def main():
    order1 = dict(xc=10.0, yc=8.0, coff=9.0, roff=11.0, N=1,
                  row=[0.5, 0.1, 0.95], col=[0.25, 1.1, -0.2])
    order2 = dict(xc=130.0, yc=180.0, coff=12.0, roff=9.0, N=2,
                  row=[0.3, 0.05, -0.45, 0.0008, 0.0015, -0.001],
                  col=[-0.2, 0.52, 0.07, -0.002, 0.001, 0.0011])
    order0 = dict(xc=8.0, yc=7.0, coff=11.0, roff=9.5, N=0,
                  row=[0.3, 0.02, 1.05, 0.004], col=[-0.4, 0.9, -0.01, -0.006])
    pars = {}
    for name, p in (("order1", order1), ("order2", order2), ("order0", order0)):
        data = par_bytes(p["xc"], p["yc"], p["coff"], p["roff"], p["N"], p["row"], p["col"])
        with open(os.path.join(HERE, name + ".par"), "wb") as f:
            f.write(data)
        row = list(p["row"])
        col = list(p["col"])
        row[0] += p["roff"]
        col[0] += p["coff"]
        pars[name] = (p["xc"], p["yc"], p["N"], row, col)
    good = par_bytes(**{k: order1[k] for k in ("xc", "yc", "coff", "roff", "N", "row", "col")})
    hostile = {
        "badmagic": b"GOERECHX" + good[8:],
        "short": good[:-8],
        "head": good[:40],
        "n126": par_bytes(0, 0, 0, 0, 14, [1.0], [1.0], n=126),
        "mismatch": par_bytes(0, 0, 0, 0, 2, [1.0], [1.0], n=3),
        "order15": par_bytes(0, 0, 0, 0, 15, [1.0], [1.0]),
    }
    for name, data in hostile.items():
        with open(os.path.join(HERE, name + ".par"), "wb") as f:
            f.write(data)

    src = source(20, 24)
    prior = np.full((16, 18), -1.0)
    cases = []
    pixel_frame = (0.0, 0.0, 1.0, -1.0)
    map_frame = (100.0, 200.0, 2.0, 2.0)
    for name in ("order1", "order0"):
        for method in ("NN", "BI"):
            cases.append((name + method, georef(src, prior, pars[name], pixel_frame, method)))
    for method in ("NN", "BI"):
        cases.append(("order2" + method, georef(src, prior, pars["order2"], map_frame, method)))
    for name, words in (("at0", (0, 1, 0, 0)), ("at0s2", (0, 2, 0, 0)),
                        ("at30", (30, 1.5, 2, -1)), ("at90", (90, 1, 0, 0))):
        par = inline(*words, (20, 24), (16, 18))
        for method in ("NN", "BI"):
            cases.append((name + method, georef(src, prior, par, pixel_frame, method)))
    square = source(10, 10)
    turned = georef(square, np.zeros((10, 10)), inline(90, 1, 0, 0, (10, 10), (10, 10)),
                    pixel_frame, "NN")
    assert (turned == np.rot90(square, -1)).all()
    cases.append(("quarter", turned))
    byte = georef(src, prior * 0 + 7, inline(10, 1.3, 0, 0, (20, 24), (16, 18)),
                  pixel_frame, "BI", byte=True)
    cases.append(("byteBI", byte))
    expected = dict(cases)
    gdal_check(src, pars, expected)
    with open(os.path.join(HERE, "expected.txt"), "w") as f:
        for name, a in cases:
            f.write(name + " {" + " ".join(
                "{" + " ".join("%.6f" % v for v in row) + "}" for row in a) + "}\n")


main()
