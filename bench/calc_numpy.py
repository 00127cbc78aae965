#!/usr/bin/python3
# numpy's time for the normalized ratio of two 4096 x 4096 float32 bands,
# single thread, best of five: the plain expression, and with the module's
# convention for a zero denominator.
#   /usr/bin/python3 bench/calc_numpy.py
import os, time
os.environ.setdefault("OMP_NUM_THREADS", "1")
import numpy as np

rng = np.random.default_rng(1)
a = (rng.integers(0, 10000, (4096, 4096)) * 0.01).astype(np.float32)
b = (rng.integers(0, 10000, (4096, 4096)) * 0.01).astype(np.float32)

def timed(fn):
    best = 1e30
    for _ in range(5):
        t = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t)
    return best

def guarded():
    s = a + b
    return (a - b) / np.where(s == 0, np.float32(1e-30), s)

with np.errstate(all="ignore"):
    print("numpy (a - b) / (a + b): %.1f ms" % (timed(lambda: (a - b) / (a + b)) * 1e3))
    print("numpy with 1e-30 for a zero sum: %.1f ms" % (timed(guarded) * 1e3))
