#!/usr/bin/python3
# Reference figures for tests/vector/shapemeasure.test, computed apart
# from the library: geometry with the textbook shoelace and centroid
# formulas and atan2 (numpy), projections with PROJ's cs2cs program
# (Debian package proj-bin).  Run: /usr/bin/python3 measure-reference.py
import math
import subprocess

import numpy as np


def g(v):
    return "%.12g" % v


def shoelace(ring):
    # Standard counter-clockwise-positive area; the store's convention is
    # the opposite sign (clockwise outer rings are positive).
    r = np.asarray(ring, float)
    x, y = r[:, 0], r[:, 1]
    return -0.5 * np.sum(x[:-1] * y[1:] - x[1:] * y[:-1])


def ring_centroid(ring):
    r = np.asarray(ring, float)
    x, y = r[:, 0], r[:, 1]
    cross = x[:-1] * y[1:] - x[1:] * y[:-1]
    a = 0.5 * cross.sum()
    return (np.sum((x[:-1] + x[1:]) * cross) / (6 * a),
            np.sum((y[:-1] + y[1:]) * cross) / (6 * a), -a)


def angle(p, q):
    return math.degrees(math.atan2(q[1] - p[1], q[0] - p[0]))


def length(line):
    return sum(math.dist(a, b) for a, b in zip(line, line[1:]))


outer = [(0, 0), (0, 2), (2, 2), (2, 0), (0, 0)]
hole = [(0.25, 0.25), (1.25, 0.25), (1.25, 1.25), (0.25, 1.25), (0.25, 0.25)]
kite = [(1, 1), (2, 5), (6, 4), (5, 0.5), (1, 1)]
print("area outer+hole", g(shoelace(outer) + shoelace(hole)))
print("area kite", g(shoelace(kite)), "reversed", g(shoelace(kite[::-1])))
print("length kite", g(length(kite)))
parts = [ring_centroid(outer), ring_centroid(hole)]
for cx, cy, a in parts:
    print("centroid part", g(cx), g(cy), g(a))
w = sum(a for _, _, a in parts)
print("centroid average", g(sum(a * cx for cx, _, a in parts) / w),
      g(sum(a * cy for _, cy, a in parts) / w), g(w))
cx, cy, a = ring_centroid(kite)
print("centroid kite", g(cx), g(cy), g(a))
print("angle (0,0)->(3,4)", g(angle((0, 0), (3, 4))))
print("angle (0,0)->(-1,-1)", g(angle((0, 0), (-1, -1))))

lonlat = "-75 45\n-74 46\n-76 44\n"
for args in (["+proj=longlat", "+ellps=WGS84", "+to", "+proj=utm", "+zone=18", "+ellps=WGS84"],
             ["+proj=utm", "+zone=18", "+ellps=WGS84", "+to", "+proj=utm", "+zone=17",
              "+ellps=WGS84"]):
    text = lonlat
    if args[0] == "+proj=utm":
        text = subprocess.run(["cs2cs", "-f", "%.12g", "+proj=longlat", "+ellps=WGS84", "+to"]
                              + args[:3], input=lonlat, capture_output=True, text=True).stdout
    out = subprocess.run(["cs2cs", "-f", "%.12g"] + args, input=text,
                         capture_output=True, text=True).stdout
    print("cs2cs", " ".join(args))
    print(" ".join(" ".join(line.split()[:2]) for line in out.splitlines()))
