#!/usr/bin/python3
# numpy's figures for the statistics benchmark: mean, std and a 256-bin
# histogram of each band of the file pixels_bench writes (3 x 4096 x 4096
# bytes, band-sequential), single thread, best of five.
#   /usr/bin/python3 bench/stats_numpy.py [$TMPDIR/vesk-stats-bench.raw]
import os, sys, time
os.environ.setdefault("OMP_NUM_THREADS", "1")
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
import numpy as np

path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                        "vesk-stats-bench.raw")
data = np.fromfile(path, dtype=np.uint8).reshape(3, 4096, 4096)

def run():
    out = []
    for band in data:
        out.append((band.mean(), band.std(), band.min(), band.max(),
                    np.histogram(band, bins=256, range=(0, 256))[0]))
    return out

def fastest():
    # numpy's quickest route to the same figures: bincount for the histogram.
    return [(band.mean(), band.std(), band.min(), band.max(),
             np.bincount(band.ravel(), minlength=256)) for band in data]

def timed(fn):
    best = 1e30
    for _ in range(5):
        t = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - t)
    return best, result

best, figures = timed(run)
quick, _ = timed(fastest)
for b, (m, s, lo, hi, _) in enumerate(figures):
    print("band %d: mean %.6f std %.6f min %d max %d" % (b, m, s, lo, hi))
print("numpy mean/std/min/max/histogram of 4096 x 4096 x 3 BYTE: %.1f ms" % (best * 1e3))
print("the same with bincount for the histogram: %.1f ms" % (quick * 1e3))
