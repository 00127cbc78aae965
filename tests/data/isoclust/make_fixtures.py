#!/usr/bin/python3
"""Fixtures and oracle values of the statistics, pixel-table and ISO
clustering suites (tests/processing/stats.test, ptable.test, gisoc.test).

Run from this folder: /usr/bin/python3 make_fixtures.py
Writes clusters.ppm, small.ppm, stats.ppm, mask.pgm and expected.txt (a
Tcl-readable list of name value pairs)."""
import numpy as np


def write_pnm(path, a):
    a = np.ascontiguousarray(a, dtype=np.uint8)
    magic = b"P6" if a.ndim == 3 else b"P5"
    with open(path, "wb") as f:
        f.write(magic + b"\n%d %d\n255\n" % (a.shape[1], a.shape[0]))
        f.write(a.tobytes())


def fmt(values):
    return "{" + " ".join("%.9g" % v for v in np.ravel(values)) + "}"


out = []
rng = np.random.default_rng(19)

# Four well separated clusters, one per quadrant, sd 3.
means = np.array([[40, 40, 40], [200, 40, 40], [40, 200, 40], [40, 40, 200]], float)
labels = np.zeros((128, 128), int)
labels[:64, 64:] = 1
labels[64:, :64] = 2
labels[64:, 64:] = 3
pix = means[labels] + rng.normal(0, 3, (128, 128, 3))
clusters = np.clip(np.rint(pix), 0, 255).astype(np.uint8)
write_pnm("clusters.ppm", clusters)
cm = np.array([clusters[labels == k].mean(axis=0) for k in range(4)])
out.append(("clusterMeans", fmt(cm)))

# A small image with repeated colours for the pixel table.
small = rng.integers(0, 4, (24, 32, 3)).astype(np.uint8) * np.array([1, 60, 7], np.uint8)
small[0, :5] = [250, 1, 2]
write_pnm("small.ppm", small)
rows, counts = np.unique(small.reshape(-1, 3), axis=0, return_counts=True)
out.append(("ptableVectors", fmt(rows)))
out.append(("ptableCounts", fmt(counts)))
first = np.full(256, -1)
last = np.full(256, -2)
for i, b in enumerate(rows[:, 0]):
    if first[b] < 0:
        first[b] = i
    last[b] = i
out.append(("ptableFirst", fmt(first)))
out.append(("ptableLast", fmt(last)))
# Bands 3,1 only.
rows31, counts31 = np.unique(small[:, :, [2, 0]].reshape(-1, 2), axis=0, return_counts=True)
out.append(("ptable31Vectors", fmt(rows31)))
out.append(("ptable31Counts", fmt(counts31)))

# Statistics: a 3-band image and a mask of 0/1.
stats = rng.integers(0, 256, (16, 20, 3)).astype(np.uint8)
stats[:, :, 1] = (stats[:, :, 0] // 2 + stats[:, :, 1] // 3).astype(np.uint8)
mask = (rng.random((16, 20)) < 0.6).astype(np.uint8)
write_pnm("stats.ppm", stats)
write_pnm("mask.pgm", mask)
sr, sc, r, c, dx, dy = 2, 3, 12, 14, 2, 3
win = stats[sr:sr + r:dy, sc:sc + c:dx].reshape(-1, 3).astype(float)
mwin = mask[sr:sr + r:dy, sc:sc + c:dx].reshape(-1)
sel = win[mwin == 1]
out.append(("gstatCount", str(len(sel))))
out.append(("gstatMean", fmt(sel.mean(axis=0))))
cov = np.cov(sel.T, bias=True)
out.append(("gstatCov", fmt(cov)))
# A second window pooled into the same item.
win2 = stats[0:5, 0:6].reshape(-1, 3).astype(float)
both = np.vstack([sel, win2])
out.append(("pooledCount", str(len(both))))
out.append(("pooledMean", fmt(both.mean(axis=0))))
pcov = np.cov(both.T, bias=True)
out.append(("pooledCov", fmt(pcov)))
# Eigenpairs of the pooled covariance as the file stores it (float32).
fcov = pcov.astype(np.float32).astype(float)
w, v = np.linalg.eigh(fcov)
order = np.argsort(w)[::-1]
out.append(("egvValues", fmt(w[order])))
out.append(("egvVectors", fmt(v[:, order].T)))
out.append(("egvPercent", fmt(w[order] / np.trace(fcov) * 100)))
d = np.sqrt(np.diag(fcov))
corr = fcov / np.outer(d, d)
wc, vc = np.linalg.eigh(corr)
oc = np.argsort(wc)[::-1]
out.append(("egvNormValues", fmt(wc[oc])))
out.append(("statDet", "%.9g" % np.linalg.det(fcov)))

with open("expected.txt", "w") as f:
    for name, value in out:
        f.write("%s %s\n" % (name, value))
