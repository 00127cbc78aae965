#!/usr/bin/python3
"""Reference values of tests/processing/demshade.test, computed with numpy
in double precision from the formulas of the shading and slope models.
Prints one Tcl list per case: the name and the rows of the output band."""
import numpy as np

DEM = np.array([[0, 1, 3, 2, 0],
                [1, 2, 5, 3, 1],
                [2, 4, 6, 4, 2],
                [1, 3, 4, 3, 1]], dtype=float)
D2R = np.pi / 180


def gradients(dem, zs, dx, dy):
    P = np.vstack([dem[:1], dem[:-1]])    # the row above; row 0 pairs with itself
    Q = dem
    s = P + Q
    gx = np.zeros_like(dem)
    gy = np.zeros_like(dem)
    gx[:, 1:] = 2 * zs / dx * (s[:, 1:] - s[:, :-1])
    gy[:, 1:] = 2 * zs / dy * ((P[:, :-1] + P[:, 1:]) - (Q[:, :-1] + Q[:, 1:]))
    return gx, gy


def shade(op, dem=DEM, dx=1.0, dy=1.0, zs=1.0, S=255.0, az=135, va=45, vaz=None, vva=90,
          H=None, xc=None, yc=None, p=1.0, off=0.0, g=0.5, m=0, hle=None, avg=1):
    rows, cols = dem.shape
    vaz = az if vaz is None else vaz
    H = cols * dx * 2 if H is None else H
    xc = (cols - 1) * 0.5 if xc is None else xc
    yc = (rows - 1) * 0.5 if yc is None else yc
    az, va, vaz, vva = az * D2R, va * D2R, vaz * D2R, vva * D2R
    gx, gy = gradients(dem, zs, dx, dy)
    O = gx ** 2 + gy ** 2 + 1
    L = np.array([np.cos(va) * np.sin(az), np.cos(va) * np.cos(az), np.sin(va)])
    Ln = gx * L[0] + gy * L[1] - L[2]
    if op == 'LAMBERT':
        V = [np.cos(vva) * np.sin(vaz), np.cos(vva) * np.cos(vaz), np.sin(vva)]
        out = S * (gx * V[0] + gy * V[1] - V[2]) * Ln / O
    elif op == 'SINE':
        out = S * np.sqrt(1 - 1 / O)
    elif op == 'TANG':
        out = S * np.sqrt(gx ** 2 + gy ** 2)
    else:
        j = np.arange(cols)[None, :].repeat(rows, 0)
        i = np.arange(rows)[:, None].repeat(cols, 1)
        X = (j - xc) * dx
        Y = np.full(X.shape, dy * yc) if m else dy * (yc - i)
        R = np.sqrt(X ** 2 + Y ** 2 + H ** 2)
        vx, vy, vz = -X / R, -Y / R, H / R
        Vn = gx * vx + gy * vy - vz
        B = (1 - g) * Vn * Ln / O
        c = vx * L[0] + vy * L[1] + vz * L[2]
        if op == 'SL':
            D = -c - 2 * (L[2] - L[0] * gx - L[1] * gy) * Vn / O
            out = np.where(D > 0, off + S * (g * np.abs(D) ** p + B), off + S * B)
        elif op == 'HL':
            with np.errstate(invalid='ignore'):
                halo = np.where((c >= 0) | (p == np.floor(p)), np.power(c, p), 0)
            out = off + S * (g * halo + B)
        else:
            eps = hle * D2R if hle is not None else np.arctan(H / ((cols // 2) * dx))
            cc = np.minimum(c, 0)
            out = off + S * (g * np.exp(-(np.sqrt(1 - cc ** 2) / np.sin(eps)) ** p) + B)
    out[:, 0] = out[:, 1]
    if not avg:
        return out
    res = np.empty_like(out)
    for r in range(rows):
        a, b = out[max(r - 1, 0)], out[r]
        res[r, 0] = (a[0] + b[0]) * 0.5
        res[r, 1:-1] = (a[1:-1] + b[1:-1] + a[2:] + b[2:]) * 0.25
        res[r, -1] = (a[-1] + b[-1]) * 0.5
    return res


def slope(dem, dx, dy, zs, scale):
    mx, my = 4 * (dx / zs) ** 2, 4 * (dy / zs) ** 2
    P, Q = dem[:-1], dem[1:]
    a = (P[:, :-1] + Q[:, :-1]) - (P[:, 1:] + Q[:, 1:])
    b = (P[:, :-1] + P[:, 1:]) - (Q[:, :-1] + Q[:, 1:])
    k = 1 / (a ** 2 / mx + b ** 2 / my + 1)
    return np.sqrt((1 - k) / k) * scale


CASES = [
    ('lambert', shade('LAMBERT', avg=0)),
    ('lambertView', shade('LAMBERT', dx=2, dy=1.5, zs=0.5, az=300, va=30, vaz=10, vva=60)),
    ('sine', shade('SINE', S=100, avg=0)),
    ('tang', shade('TANG')),
    ('sl', shade('SL', avg=0, p=2, off=10, g=0.3, az=200, va=35)),
    ('hl', shade('HL', avg=0, az=100, va=60, p=3)),
    ('hlHalf', shade('HL', avg=0, az=315, va=10, p=0.5)),
    ('hle30', shade('HLE', avg=0, p=2, hle=30)),
    ('hleGeometry', shade('HLE', avg=0, m=1, H=40)),
    ('slope', slope(DEM, 2, 1.5, 0.5, 100)),
]
for name, rows in CASES:
    print('%s {%s}' % (name, ' '.join('{%s}' % ' '.join('%.6g' % v for v in r) for r in rows)))
