#!/usr/bin/env python3
"""Reference views for tests/processing/gtop.test.

numpy reimplementations of "rimage gtop" over a 12 x 16 ground image
(pixel (r, c) = (31 r + 17 c) mod 251): polar views from inside and from
outside the image, a rectified ground image (GTOGR) and a polar view over a
DEM with a ridge.  Sampling follows the module's rules: segment positions
in single precision, nearest pixel by truncating position + 0.5, the photo
equations solved in single precision.  Prints one line per case: its name
and the rows as a Tcl list.  Run: python3 make_expected.py > expected.txt
"""
import math

import numpy as np

f32 = np.float32
ROWS, COLS = 12, 16
ground = np.array([[(r * 31 + c * 17) % 251 for c in range(COLS)] for r in range(ROWS)], dtype=np.float64)


def rho(a, b):
    return math.hypot(a, b)


def asin_ratio(a, r):
    return math.asin(max(-1.0, min(1.0, a / r))) if r > 0 else 0.0


def polar_range(x0, y0, x1, y1, px, py):
    dx0, dx1, dy0, dy1 = x0 - px, x1 - px, y0 - py, y1 - py
    pi = math.pi
    if not px > x0:
        if not py > y0:
            return rho(dx0, dy0), rho(dx1, dy1), asin_ratio(dy0, rho(dx1, dy0)), asin_ratio(dy1, rho(dx0, dy1))
        if py < y1:
            return dx0, rho(dx1, dy0) if dy0 + dy1 < 0 else rho(dx1, dy1), asin_ratio(dy0, rho(dx0, dy0)), asin_ratio(dy1, rho(dx0, dy1))
        return rho(dx0, dy1), rho(dx1, dy0), asin_ratio(dy0, rho(dx0, dy0)), asin_ratio(dy1, rho(dx1, dy1))
    if px < x1:
        if py > y0 and py < y1:
            return 0.0, rho(dx0 if dx0 + dx1 < 0 else dx1, dy0 if dy0 + dy1 < 0 else dy1), 0.0, 2 * pi
    raise ValueError("case not needed here")


def seg_nn(img, x0, y0, x1, y1, n):
    """Nearest samples of a segment, positions in single precision."""
    rows, cols = img.shape
    x0, y0, x1, y1 = f32(x0), f32(y0), f32(x1), f32(y1)
    sx, sy = f32(x1 - x0), f32(y1 - y0)
    if n - 1 > 1:
        sx, sy = f32(sx / f32(n - 1)), f32(sy / f32(n - 1))
    out = np.zeros(n)
    for k in range(n):
        x = f32(x0 + f32(k) * sx)
        y = f32(y0 + f32(k) * sy)
        xs, ys = f32(x + f32(0.5)), f32(y + f32(0.5))
        if not (-2 < xs < cols + 1 and -2 < ys < rows + 1):
            continue
        c, r = int(xs), int(ys)  # toward zero
        if 0 <= c < cols and 0 <= r < rows:
            out[k] = img[r, c]
    return out


def polar_flat(xc, yc, nr, nc):
    rmin, rmax, tmin, tmax = polar_range(0, 0, COLS - 1, ROWS - 1, xc, yc)
    step = (tmax - tmin) / (nr - 1)
    theta = tmin
    rows = []
    for _ in range(nr):
        c, s = math.cos(theta), math.sin(theta)
        rows.append(seg_nn(ground, xc + rmin * c, yc + rmin * s, xc + rmax * c, yc + rmax * s, nc))
        theta += step
    return rows


def view_rotation(dx, dy, dz):
    d, r = math.sqrt(dx * dx + dy * dy + dz * dz), math.hypot(dx, dy)
    if dx == 0 and dy == 0:
        kappa = omega = 0.0
    elif dy > 0:
        kappa, omega = -math.asin(dx / r), math.acos(dz / d)
    else:
        kappa, omega = math.asin(dx / r), -math.acos(dz / d)
    ck, sk, co, so = math.cos(kappa), math.sin(kappa), math.cos(omega), math.sin(omega)
    rz = np.array([[ck, sk, 0], [-sk, ck, 0], [0, 0, 1]])
    rx = np.array([[1, 0, 0], [0, co, so], [0, -so, co]])
    return rx @ rz


def ground_to_photo(m, zc, x, y, z, ex, ey, tz):
    h = f32(zc - z)
    if not h > 0:
        return None
    fx, fy, depth = f32(x), f32(y), f32(zc - tz)
    p = f32(depth * fx) - f32(f32(ex) * h)
    q = f32(depth * fy) - f32(f32(ey) * h)
    M = [f32(v) for v in m.flatten()]
    a = f32(h * M[0]) + f32(fx * M[6])
    b = f32(h * M[1]) + f32(fx * M[7])
    c = f32(h * M[3]) + f32(fy * M[6])
    d = f32(h * M[4]) + f32(fy * M[7])
    det = f32(f32(a * d) - f32(b * c))
    if det == 0:
        return None
    u = f32(f32(f32(p * d) - f32(b * q)) / det)
    v = f32(f32(f32(a * q) - f32(p * c)) / det)
    return float(u), float(v)


def gtogr(xc, yc, zc, tx, ty, tz):
    ex, ey, ez = tx - xc, ty - yc, tz - zc
    n = view_rotation(ex, ey, -ez).T
    cx, cy = (COLS - 1) * 0.5, (ROWS - 1) * 0.5
    out = np.zeros((ROWS, COLS))
    for r in range(ROWS):
        for c in range(COLS):
            uv = ground_to_photo(n, zc, c - xc, r - yc, 0.0, ex, ey, tz)
            if uv is None:
                continue
            U, V = cx + uv[0], cy + uv[1]
            if 0 <= U <= COLS - 1 and 0 <= V <= ROWS - 1:
                out[r, c] = ground[int(V + 0.5), int(U + 0.5)]
    return out


def clip(x1, y1, x2, y2, ymin, ymax, xmin, xmax):
    p = [x1, y1, x2, y2]

    def bound(ia, ib, limit, lower):
        a1, b1, a2, b2 = p[ia], p[ib], p[ia + 2], p[ib + 2]
        if lower:
            if a1 < limit and a2 < limit:
                return False
            if a1 < limit <= a2:
                p[ib] = b1 + (b2 - b1) * (limit - a1) / (a2 - a1)
                p[ia] = limit
            elif a2 < limit <= a1:
                p[ib + 2] = b1 + (b2 - b1) * (limit - a1) / (a2 - a1)
                p[ia + 2] = limit
            return True
        if a1 > limit and a2 > limit:
            return False
        if a1 <= limit < a2:
            p[ib + 2] = b1 + (b2 - b1) * (limit - a1) / (a2 - a1)
            p[ia + 2] = limit
        elif a2 <= limit < a1:
            p[ib] = b1 + (b2 - b1) * (limit - a1) / (a2 - a1)
            p[ia] = limit
        return True

    for ia, ib, limit, lower in ((1, 0, ymin, True), (1, 0, ymax, False), (0, 1, xmin, True), (0, 1, xmax, False)):
        if not bound(ia, ib, limit, lower):
            return None
    return p


def round_half_away(x):
    return int(math.floor(x + 0.5)) if x >= 0 else -int(math.floor(-x + 0.5))


def visible_radii(samples, heights, zs, limit, zc, v):
    n = len(samples)
    den0 = zc - zs * heights[0]
    if not den0 > 0:
        return [], v
    m0 = zc * v / den0
    g0 = round_half_away(min(v + limit, max(v - limit, m0)))
    values = [samples[0]]
    H = p = float(g0)
    R = g0
    for j in range(1, n):
        den = zc - zs * heights[j]
        if not den > 0:
            continue
        m = zc * (v + j) / den
        if m > H:
            while R < m and R < v + limit:
                K = (R - p) / (m - p)
                values.append(float(f32((1 - K) * samples[j - 1] + K * samples[j])))
                R += 1
            H = m
        p = m
    return values, g0


def polar_dem(dem, xc, yc, zc, nr, nc):
    rmin, rmax, tmin, tmax = polar_range(0, 0, COLS - 1, ROWS - 1, xc, yc)
    rmax += (rmax - rmin) * 0.5
    out = np.zeros((nr, nc))
    step = (tmax - tmin) / (nr - 1)
    theta = tmin
    for i in range(nr):
        c, s = math.cos(theta), math.sin(theta)
        seg = clip(0, 0, rmax * c, rmax * s, -yc, ROWS - 1 - yc, -xc, COLS - 1 - xc)
        if seg is not None:
            a = math.trunc(math.hypot(seg[0], seg[1]) + 0.5)
            b = math.trunc(math.hypot(seg[2], seg[3]) + 0.5)
            n = b - a + 1
            ends = (xc + a * c, yc + a * s, xc + b * c, yc + b * s)
            samples = seg_nn(ground, *ends, n)
            heights = seg_nn(dem, *ends, n)
            values, g0 = visible_radii(samples, heights, 1.0, nc, zc, a)
            first = g0 - math.trunc(rmin)
            for k, val in enumerate(values):
                if 0 <= first + k < nc:
                    out[i, first + k] = val
        theta += step
    return out


def tcl_rows(rows):
    return "{" + " ".join("{" + " ".join("%.6g" % v for v in row) + "}" for row in rows) + "}"


print("polar.inside", tcl_rows(polar_flat(8.0, 6.0, 24, 11)))
print("polar.corner", tcl_rows(polar_flat(-5.0, -3.0, 10, 15)))
print("gtogr", tcl_rows(gtogr(8.0, 6.0, 40.0, 7.0, 4.0, 0.0)))
ridge = np.zeros((ROWS, COLS))
ridge[:, 11] = 8
print("polar.ridge", tcl_rows(polar_dem(ridge, 2.0, 5.5, 20.0, 16, 20)))
print("polar.zerodem", tcl_rows(polar_dem(np.zeros((ROWS, COLS)), 2.0, 5.5, 20.0, 16, 20)))
