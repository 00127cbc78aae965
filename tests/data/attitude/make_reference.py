#!/usr/bin/python3
"""Rotation matrices of the six orders for ax 10, ay 20, az 30 (numpy), and
the quaternion of the ZXY one from scipy (the standard quaternion of R
transposed, reordered to w x y z).  Writes attitude_reference.h.
Run: /usr/bin/python3 make_reference.py
"""
import math
import os

import numpy as np
from scipy.spatial.transform import Rotation

HERE = os.path.dirname(os.path.abspath(__file__))


def mx(a):
    c, s = math.cos(a), math.sin(a)
    return np.array([[1, 0, 0], [0, c, s], [0, -s, c]])


def my(a):
    c, s = math.cos(a), math.sin(a)
    return np.array([[c, 0, -s], [0, 1, 0], [s, 0, c]])


def mz(a):
    c, s = math.cos(a), math.sin(a)
    return np.array([[c, s, 0], [-s, c, 0], [0, 0, 1]])


def main():
    x, y, z = (math.radians(v) for v in (10, 20, 30))
    X, Y, Z = mx(x), my(y), mz(z)
    orders = {"ZYX": X @ Y @ Z, "ZXY": Y @ X @ Z, "YXZ": Z @ X @ Y,
              "YZX": X @ Z @ Y, "XYZ": Z @ Y @ X, "XZY": Y @ Z @ X}
    lines = ["// Made by make_reference.py: rotation matrices for ax 10, ay 20, az 30.",
             "static const double kRotations[6][9] = {"]
    for name in ("ZYX", "ZXY", "YXZ", "YZX", "XYZ", "XZY"):
        lines.append("    {%s},  // %s" % (", ".join("%.17g" % v for v in orders[name].ravel()), name))
    lines.append("};")
    q = Rotation.from_matrix(orders["ZXY"].T).as_quat()  # x y z w
    if q[3] < 0:
        q = -q
    lines.append("static const double kZxyQuaternion[4] = {%s};" %
                 ", ".join("%.17g" % v for v in (q[3], q[0], q[1], q[2])))
    with open(os.path.join(HERE, "attitude_reference.h"), "w") as f:
        f.write("\n".join(lines) + "\n")


main()
