#!/usr/bin/python3
"""Reference fits for the GCP set tests.

Least squares with numpy over the selected points of a scattered set, the
terms centred on the means of the selected source positions, both targets
centred on their selected means.  Unselected points get residuals only.
Run with Debian's /usr/bin/python3 from this folder:
    /usr/bin/python3 make_reference.py
It writes gcp_reference.h.
"""
import numpy as np

rng = np.random.default_rng(20261210)
out = []


def carr(name, values, kind="double"):
    vals = ", ".join(repr(float(v)) if kind == "double" else str(int(v))
                     for v in np.ravel(values))
    out.append("static const %s %s[] = {%s};" % (kind, name, vals))


def terms(u, v, power):
    if power == 0:
        return np.column_stack([np.ones_like(u), u, v, u * v])
    cols = [np.ones_like(u)]
    for d in range(1, power + 1):
        for a in range(d, -1, -1):
            cols.append(u ** a * v ** (d - a))
    return np.column_stack(cols)


n = 30
pts = rng.uniform(100, 900, size=(n, 2))
x1, y1 = pts[:, 0], pts[:, 1]
x2 = 500000 + 2.0 * x1 - 0.3 * y1 + 1e-4 * x1 * y1 + rng.normal(0, 0.8, n)
y2 = 4200000 - 0.25 * x1 - 1.9 * y1 + 2e-4 * y1 * y1 + rng.normal(0, 0.8, n)
selected = np.ones(n, dtype=int)
selected[[3, 11, 17, 26]] = 0
ids = np.arange(1, n + 1)

carr("kGcpSelected", selected, "int")
carr("kGcpIds", ids, "int")
carr("kGcpX1", x1)
carr("kGcpY1", y1)
carr("kGcpX2", x2)
carr("kGcpY2", y2)

s = selected == 1
for power in (0, 1, 2, 3):
    mx1, my1, mx2, my2 = x1[s].mean(), y1[s].mean(), x2[s].mean(), y2[s].mean()
    T = terms(x1 - mx1, y1 - my1, power)
    J = np.linalg.lstsq(T[s], x2[s] - mx2, rcond=None)[0]
    I = np.linalg.lstsq(T[s], y2[s] - my2, rcond=None)[0]
    dx = (x2 - mx2) - T @ J
    dy = (y2 - my2) - T @ I
    sx, sy, k = (dx[s] ** 2).sum(), (dy[s] ** 2).sum(), s.sum()
    carr("kPower%dMeans" % power, [mx1, my1, mx2, my2])
    carr("kPower%dJcoef" % power, J)
    carr("kPower%dIcoef" % power, I)
    carr("kPower%dDx" % power, dx)
    carr("kPower%dDy" % power, dy)
    carr("kPower%dErrors" % power, [np.sqrt(sx / k), np.sqrt(sy / k), np.sqrt((sx + sy) / k)])

with open("gcp_reference.h", "w") as f:
    f.write("// Made by make_reference.py (numpy); do not edit.\n")
    f.write("#ifndef VESK_TESTS_GCP_REFERENCE_H\n#define VESK_TESTS_GCP_REFERENCE_H\n\n")
    f.write("\n".join(out))
    f.write("\n\n#endif\n")
