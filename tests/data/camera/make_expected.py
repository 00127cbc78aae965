#!/usr/bin/python3
"""Reference pictures of a camera's rectify and acquire (numpy), and the
cross-checks of its ground-to-picture mapping with OpenCV's projectPoints
and of rectify with OpenCV's warpPerspective.

Camera: -f 12 -dx 0.5 -dy 0.5 -xc 15.5 -yc 11.5 -z 100 -ax 5 -ay -3 -az 10
(rotation order ZXY).  Picture 32 x 24, map image 20 x 20 at x0 -10,
y0 10, dx dy 1.  Values v = (r x 31 + c x 17) mod 251.
Writes expected.txt: a case name, then rows.
Run: /usr/bin/python3 make_expected.py
"""
import math
import os

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
F, DX, DY, XC, YC, Z0 = 12.0, 0.5, 0.5, 15.5, 11.5, 100.0


def rot(ax, ay, az):
    x, y, z = (math.radians(v) for v in (ax, ay, az))
    c, s = math.cos, math.sin
    Mx = np.array([[1, 0, 0], [0, c(x), s(x)], [0, -s(x), c(x)]])
    My = np.array([[c(y), 0, -s(y)], [0, 1, 0], [s(y), 0, c(y)]])
    Mz = np.array([[c(z), s(z), 0], [-s(z), c(z), 0], [0, 0, 1]])
    return My @ Mx @ Mz


R = rot(5, -3, 10)


def imagexy(X, Y, Z=0.0):
    h = Z0 - Z
    q = np.array([X * F / h, Y * F / h, -F])
    c = R @ q
    return XC - F * c[0] / c[2] / DX, YC + F * c[1] / c[2] / DY


def mapxy(i, j):
    p = np.array([(i - XC) * DX, (YC - j) * DY, -F])
    g = R.T @ p
    return -Z0 * g[0] / g[2], -Z0 * g[1] / g[2]


def values(rows, columns):
    r, c = np.mgrid[0:rows, 0:columns]
    return ((r * 31 + c * 17) % 251).astype(float)


def bilinear(img, u, v):
    a, b = int(math.floor(u)), int(math.floor(v))
    a1, b1 = min(a + 1, img.shape[1] - 1), min(b + 1, img.shape[0] - 1)
    fu, fv = u - a, v - b
    return ((1 - fu) * (1 - fv) * img[b, a] + (1 - fu) * fv * img[b1, a]
            + fu * (1 - fv) * img[b, a1] + fu * fv * img[b1, a1])


def main():
    pic = values(24, 32)
    W, H = round(2 * XC), round(2 * YC)
    corners = [mapxy(i, j) for i, j in ((0, 0), (W, 0), (0, H), (W, H))]
    box = (min(p[0] for p in corners), min(p[1] for p in corners),
           max(p[0] for p in corners), max(p[1] for p in corners))
    rect = np.zeros((20, 20))
    for l in range(20):
        for k in range(20):
            X, Y = -10 + k, 10 - l
            if not (box[0] <= X <= box[2] and box[1] <= Y <= box[3]):
                continue
            u, v = imagexy(X, Y)
            if 0 <= u < 32 and 0 <= v < 24:
                rect[l, k] = bilinear(pic, u, v)
    ground = values(20, 20)
    acq = np.zeros((24, 32))
    for j in range(24):
        for i in range(32):
            X, Y = mapxy(i, j)
            u, v = X + 10, 10 - Y
            if 0 <= u < 20 and 0 <= v < 20:
                acq[j, i] = bilinear(ground, u, v)
    # OpenCV: the same mapping as a pinhole with K and R (rows flipped)
    try:
        import cv2
        K = np.array([[F / DX, 0, XC], [0, F / DY, YC], [0, 0, 1]])
        flip = np.diag([1.0, -1.0, -1.0])
        rvec, _ = cv2.Rodrigues(flip @ R)
        pts = np.array([[3.0, -4.0, 0.0], [-7.5, 2.25, 0.0]])
        tvec = -(flip @ R) @ np.array([0.0, 0.0, Z0])
        got, _ = cv2.projectPoints(pts, rvec, tvec, K, None)
        for (x, y), p in zip(got.reshape(-1, 2), pts):
            i, j = imagexy(p[0], p[1])
            assert abs(x - i) < 1e-9 and abs(y - j) < 1e-9, (x, y, i, j)
        # rectify without a DEM is the ground-to-picture homography:
        # warpPerspective (inverse map, bilinear) of a smooth picture agrees
        # inside it within OpenCV's 1/32-pixel interpolation steps.
        r_, c_ = np.mgrid[0:24, 0:32]
        smooth = (3.0 * r_ + 2.0 * c_).astype(np.float32)
        src = np.float32([[0, 0], [19, 0], [0, 19], [19, 19]])
        dst = np.float32([imagexy(-10 + k, 10 - l) for k, l in src])
        Hm = cv2.getPerspectiveTransform(src, dst)
        warped = cv2.warpPerspective(smooth, Hm, (20, 20),
                                     flags=cv2.INTER_LINEAR | cv2.WARP_INVERSE_MAP)
        checked = 0
        for l in range(20):
            for k in range(20):
                u, v = imagexy(-10 + k, 10 - l)
                if 0 <= u < 31 and 0 <= v < 23 and rect[l, k] != 0:
                    want = bilinear(smooth, u, v)
                    assert abs(warped[l, k] - want) < 0.2, (k, l, warped[l, k], want)
                    checked += 1
        assert checked > 100, checked
    except ImportError:
        pass
    with open(os.path.join(HERE, "expected.txt"), "w") as f:
        for name, a in (("rectify", rect), ("acquire", acq)):
            f.write(name + " {" + " ".join("{" + " ".join("%.6f" % v for v in row) + "}"
                                           for row in a) + "}\n")
        i, j = imagexy(3.0, -4.0)
        X, Y = mapxy(7.0, 5.0)
        f.write("imagexy %.12f %.12f\nmapxy %.12f %.12f\n" % (i, j, X, Y))


main()
