#!/usr/bin/python3
"""Reference figures for the numeric kernels and the calc calculators.

Computed with numpy from textbook formulas (inverse, least squares,
rotation matrices, Pearson correlation), independent of the library's
code.  Run with Debian's /usr/bin/python3 from this folder:
    /usr/bin/python3 make_reference.py
It writes numeric_reference.h (GoogleTest) and calcgeom_reference.tcl.
"""
import numpy as np

rng = np.random.default_rng(20240611)
out_h = []
out_t = []


def carr(name, values):
    vals = ", ".join(repr(float(v)) for v in np.ravel(values))
    out_h.append("static const double %s[] = {%s};" % (name, vals))


# 1. Two-variable fit of order 2 over scattered points: lstsq coefficients
#    in the term order 1, x, y, x2, xy, y2 for two targets.
pts = rng.uniform(-50, 50, size=(25, 2))
x, y = pts[:, 0], pts[:, 1]
terms = np.column_stack([np.ones_like(x), x, y, x * x, x * y, y * y])
t1 = 3 - 0.5 * x + 0.25 * y + 0.01 * x * x + rng.normal(0, 0.5, size=x.size)
t2 = -7 + 0.1 * x * y - 0.02 * y * y + rng.normal(0, 0.5, size=x.size)
c1 = np.linalg.lstsq(terms, t1, rcond=None)[0]
c2 = np.linalg.lstsq(terms, t2, rcond=None)[0]
carr("kFitPoints", pts)
carr("kFitTarget1", t1)
carr("kFitTarget2", t2)
carr("kFitCoef1", c1)
carr("kFitCoef2", c2)

# 2. One-variable cubic fit (accumPoly1 + resolve + getRegression), with the
#    root of the residual variance per point.
xs = np.arange(0.0, 12.0)
ys = 2 - 0.7 * xs + 0.3 * xs ** 2 - 0.02 * xs ** 3 + rng.normal(0, 0.1, size=xs.size)
V = np.vander(xs, 4, increasing=True)
cp, *_ = np.linalg.lstsq(V, ys, rcond=None)
res = ys - V @ cp
carr("kPolyX", xs)
carr("kPolyY", ys)
carr("kPolyCoef", cp)
out_h.append("static const double kPolyResidualVariance = %r;" % float(np.mean(res ** 2)))

# 3. Sweep of a symmetric positive-definite matrix with two trailing
#    variables: inverse, regression block, residual covariance.
A = rng.normal(size=(40, 5))
C = np.cov(A.T, bias=True)
Ak, B, Cm = C[:3, :3], C[:3, 3:], C[3:, 3:]
swept = np.zeros((5, 5))
swept[:3, :3] = np.linalg.inv(Ak)
swept[:3, 3:] = np.linalg.solve(Ak, B)
swept[3:, :3] = swept[:3, 3:].T
swept[3:, 3:] = Cm - B.T @ np.linalg.solve(Ak, B)
carr("kSweepInput", C)
carr("kSweepResult", swept)

# 4. Inverse of a symmetric indefinite matrix whose pivots leave the
#    diagonal in a cycle (full pivoting must put rows and columns back).
S = np.array([[0.5, 4.0, 1.0, 0.2], [4.0, 0.1, 6.0, 0.3], [1.0, 6.0, 0.2, 9.0], [0.2, 0.3, 9.0, 0.4]])
carr("kIndefinite", S)
carr("kIndefiniteInverse", np.linalg.inv(S))


# 5. Rotations: R = Rz Ry Rx applied to a point, and its transpose.
def rz(a):
    c, s = np.cos(a), np.sin(a)
    return np.array([[c, -s, 0], [s, c, 0], [0, 0, 1]])


def ry(a):
    c, s = np.cos(a), np.sin(a)
    return np.array([[c, 0, s], [0, 1, 0], [-s, 0, c]])


def rx(a):
    c, s = np.cos(a), np.sin(a)
    return np.array([[1, 0, 0], [0, c, -s], [0, s, c]])


az, ay, ax = 0.3, -0.2, 0.5
R = rz(az) @ ry(ay) @ rx(ax)
p = np.array([1.5, -2.0, 3.0])
rtn = R @ p
ntr = R.T @ p
out_t.append("set ref(rtn) {%s}" % " ".join("%.6f" % v for v in rtn))
out_t.append("set ref(ntr) {%s}" % " ".join("%.6f" % v for v in ntr))
# rotateMatrix3 multiplies from the left by the transposed (passive)
# rotation: Rz^T(0.4) * Ry^T(-0.3) * I, then a point through it.
K = rz(0.7).T @ (ry(-0.3).T @ rx(0.25).T)
out_t.append("set ref(fplaneK) {%s}" % " ".join("%.8f" % v for v in K.ravel()))
out_t.append("set ref(fplanePoint) {%s}" % " ".join("%.6f" % v for v in K @ p))
carr("kRotationPassive", K)

# 6. fplane pixel through K with the default constants.
a0, a1, a2, a3, a4, a5 = 8.0, 1000.0, 0.01, 0.01, 640.0, 512.0
px, py, pz = 700.0, 400.0, 0.0
u = K @ np.array([(px - a4) * a2, (a5 - py) * a3, pz - a0])
col = -a1 * a0 * u[0] / u[2] / a2 + a4
row = a1 * a0 * u[1] / u[2] / a3 + a5
out_t.append("set ref(fplanePixel) {%.8f %.8f}" % (col, row))

# 7. refImgCoord: the tilted camera's ray through the pixel, turned by R,
#    meets the reference image plane at distance f.
f, pxs, pys, colc, rowc, c0, r0, scale = 50.0, 0.01, 0.012, 640.0, 512.0, 100.0, 200.0, 1.5
ray = R @ np.array([(c0 - colc) * pxs, -(r0 - rowc) * pys, -f])
ref = (colc - scale * f * ray[0] / (ray[2] * pxs), rowc + scale * f * ray[1] / (ray[2] * pys))
out_t.append("set ref(refImg) {%.3f %.3f}" % ref)

# 8. correl: the best squared Pearson correlation of the short list along
#    the long one.
series = np.round(rng.normal(size=30), 3)
pattern = np.round(series[11:19] * 2.5 + 4 + rng.normal(0, 0.05, size=8), 3)
best, at = -1, 0
for off in range(0, len(series) - len(pattern) + 1):
    r = np.corrcoef(pattern, series[off:off + len(pattern)])[0, 1]
    if r * r > best:
        best, at = r * r, off
out_t.append("set ref(series) {%s}" % " ".join("%g" % v for v in series))
out_t.append("set ref(pattern) {%s}" % " ".join("%g" % v for v in pattern))
out_t.append("set ref(correl) {%.8f %d}" % (best, at))

with open("numeric_reference.h", "w") as fh:
    fh.write("// Made by tests/data/numeric/make_reference.py (numpy); do not edit.\n")
    fh.write("\n".join(out_h) + "\n")
with open("calcgeom_reference.tcl", "w") as fh:
    fh.write("# Made by make_reference.py (numpy); do not edit.\n")
    fh.write("\n".join(out_t) + "\n")
