#!/usr/bin/python3
"""Reference values of tests/processing/calc.test, pcalc.test and
smetric.test, computed with numpy (float32 where the modules work in
floats).  Prints Tcl: "set name value" lines; images are lists of bands,
each a list of rows."""
import numpy as np

f4 = np.float32


def tcl(a):
    a = np.asarray(a)
    if a.ndim == 0:
        return repr(float(a))
    return "{" + " ".join(tcl(x) for x in a) + "}"


out = []


def emit(name, value):
    value = np.asarray(value)
    if value.ndim == 2:      # one band
        value = value[None]
    out.append("set %s %s" % (name, tcl(value)))


# ---- calc: a 4-band FLOAT image of 5 rows and 6 columns ----
R, C, B = 5, 6, 4
r, c = np.mgrid[0:R, 0:C]
img = np.stack([((r * 31 + c * 17 + b * 7) % 23) - 5 for b in range(B)]).astype(f4)
img[0:2, 0, 0] = 0          # bands 1 and 2 both 0 at (0, 0): nratio gives 0
emit("calcInput", img)
x0, x1, x2, x3 = img


def nz(d):
    return np.where(d == 0, f4(1e-30), d).astype(f4)


emit("calc_nratio", (x0 - x1) / nz(x0 + x1))
emit("calc_ratio", f4(0) + f4(100) * (x0 - f4(0)) / nz(x1 - f4(0)))
emit("calc_dratio", f4(3) + f4(2) * (x0 - x1) / nz(x2 - x3))
emit("calc_linear", (x0 * f4(1 / 3) + x1 * f4(1 / 3) + x2 * f4(1 / 3)))
emit("calc_linearPar", (x0 * f4(0.5) - x2 * f4(2) + f4(7)))
three = img[:3]
emit("calc_avg", np.where((three < 0).all(axis=0), three.mean(axis=0), f4(0)))
emit("calc_stretch", f4(2) * (x0 - f4(10)))
# norm: bands 1..3 divided by the mean of listed bands 1 and 2 (1e-30 for 0)
m = nz((x0 + x1) / f4(2))
emit("calc_norm", np.stack([x0 / m, x1 / m, x2 / m]))
# dev with its defaults: P0 = 2 doubled, P1 = 1.5, P3 = 8, P4 = P5 = .0068,
# centre (columns / 2, rows / 2) in integers
P0, P1, P3, P4, P5, P6, P7 = 4.0, 1.5, 8.0, 0.0068, 0.0068, C // 2, R // 2
g = np.sqrt((((r - P7) * P5) ** 2 + ((P6 - c) * P4) ** 2 + P3 ** 2) / P3 ** 2) - 1
emit("calc_dev", np.stack([P1 + np.exp(P0 * g) * (b - P1) for b in img[:3]]))
# an existing BYTE output: stretch 15.5 x rounds half away from zero, clamps
v = 15.5 * x0.astype(np.float64)
emit("calc_byte", np.clip(np.sign(v) * np.floor(np.abs(v) + 0.5), 0, 255))

# ---- pcalc ----
rng = np.random.default_rng(18)
pin = rng.uniform(-2, 2, (1, 3, 4)).astype(f4)
ppar = rng.uniform(-1, 1, (3, 3, 4)).astype(f4)
emit("pcalcPolyIn", pin)
emit("pcalcPolyPar", ppar)
emit("pcalcPoly", [ppar[0] + ppar[1] * pin[0] + ppar[2] * pin[0] ** 2])
# XZ layer, -norm H: parameter row b for input band b; column weights from
# the middle row, 1 / (p1 + 2 p2), divided by the largest
xin = rng.uniform(0, 3, (3, 2, 4)).astype(f4)      # 3 bands, 2 rows, 4 columns
xpar = rng.uniform(0.5, 1.5, (3, 3, 4)).astype(f4)  # 3 bands (order 2), 3 rows, 4 columns
emit("pcalcXzIn", xin)
emit("pcalcXzPar", xpar)
wcol = 1 / (xpar[1, 1] + 2 * xpar[2, 1])
wcol = wcol / wcol.max()
xz = np.stack([xpar[0, b] + xpar[1, b] * xin[b] + xpar[2, b] * xin[b] ** 2 for b in range(3)])
emit("pcalcXz", xz * wcol)
# fit: abscissas 1..4, order 1; pixel (0, 0) collinear
fin = rng.uniform(0, 10, (4, 2, 3)).astype(f4)
fin[:, 0, 0] = [3, 5, 7, 9]
emit("pcalcFitIn", fin)
coef = np.zeros((2, 2, 3))
err = np.zeros((2, 3))
for i in range(2):
    for j in range(3):
        y = fin[:, i, j].astype(np.float64)
        slope, icept = np.polyfit([1, 2, 3, 4], y, 1)
        coef[:, i, j] = [icept, slope]
        res = y - (icept + slope * np.arange(1, 5))
        err[i, j] = np.sqrt(np.mean(res ** 2))
emit("pcalcFitCoef", coef)
emit("pcalcFitErr", [err])

# ---- smetric: per-column offsets on a row trend ----
SR, SC = 6, 8
sr_, sc_ = np.mgrid[0:SR, 0:SC]
off = np.array([0, 5, -3, 8, 2, -6, 4, 1], dtype=np.float64)
sin_ = (50 + 2 * sr_ + off[None, :] + (sr_ * 7 + sc_ * 3) % 5).astype(f4)
emit("smInput", [sin_])
col = sin_.astype(np.float64).mean(axis=0)
emit("smXadd", [sin_ - (col - col.mean())])
# window 3: running sums over k-1 .. k+1, end positions repeated
sums = sin_.astype(np.float64).sum(axis=0)
cnts = np.full(SC, float(SR))
idx = np.clip(np.arange(SC)[:, None] + np.arange(-1, 2)[None, :], 0, SC - 1)
mean3 = sums[idx].sum(axis=1) / cnts[idx].sum(axis=1)
emit("smXadd3", [sin_ - (mean3 - mean3.mean())])
dark = 10.0
mk = col - dark
emit("smXmulti", [dark + (sin_ - dark) / (mk / mk.mean())])
row = sin_.astype(np.float64).mean(axis=1)
emit("smYadd", [sin_ - (row - row.mean())[:, None]])
emit("smXYadd", [sin_ - ((col - col.mean())[None, :] + (row - row.mean())[:, None])])
# EX, model multi: q = a0 exp(-(d/r)^p a1) + 1 around the constant c
d = np.abs(sc_ - 3.0)
q = 2.0 * np.exp(-((d / 4.0) ** 1.0) * 0.5) + 1
emit("smExMulti", [5 + (sin_ - 5) / q])
# EY, model add, p 2: in - (a0 exp(-(d/r)^2 a1) + c), d = |row - 2|
d = np.abs(sr_ - 2.0)
emit("smEyAdd", [sin_ - (3.0 * np.exp(-((d / 2.0) ** 2) * 1.0) + 1.5)])
# EXY, model multi, centre (column 5, row 1)
d = np.sqrt((sr_ - 1.0) ** 2 + (sc_ - 5.0) ** 2)
emit("smExyMulti", [2 + (sin_ - 2) / (1.0 * np.exp(-((d / 3.0) ** 1.5) * 0.7) + 1)])

print("\n".join(out))
