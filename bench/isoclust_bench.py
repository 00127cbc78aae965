#!/usr/bin/python3
"""Pixel table and ISO clustering against numpy and OpenCV, one thread.

    xvfb-run -a -s "-screen 0 640x480x24" /usr/bin/python3 bench/isoclust_bench.py [folder]

Makes a 2048 x 2048 random RGB image and one of natural-image statistics
(1/f noise per band, bands correlated, quantised to bytes), times
"rimage ptable" against np.unique of the same pixels, "rimage gisoc" with
its defaults (table mode) against cv2.kmeans with K = 16, and gisoc in
image mode on a FLOAT copy (K = 16, 10 iterations, every pixel) against the
same kmeans, and prints the ratios ours / peer."""
import os
import subprocess
import sys
import tempfile
import time

os.environ.setdefault("OMP_NUM_THREADS", "1")
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
import numpy as np
import cv2

cv2.setNumThreads(1)
here = os.path.dirname(os.path.abspath(__file__))
folder = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="vesk-isoclust-")
os.makedirs(folder, exist_ok=True)
N = 2048


def write_ppm(path, a):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (a.shape[1], a.shape[0]))
        f.write(np.ascontiguousarray(a, np.uint8).tobytes())


def natural(rng):
    fy = np.fft.fftfreq(N)[:, None]
    fx = np.fft.fftfreq(N)[None, :]
    f = np.sqrt(fx * fx + fy * fy)
    f[0, 0] = 1
    base = [np.real(np.fft.ifft2(np.fft.fft2(rng.normal(size=(N, N))) / f ** 1.1)) for _ in range(3)]
    mix = np.array([[1.0, 0.3, 0.1], [0.8, 0.6, 0.2], [0.6, 0.4, 0.7]])
    bands = np.tensordot(mix, np.array(base), axes=1)
    out = np.empty((N, N, 3), np.uint8)
    for b in range(3):
        v = bands[b]
        v = (v - v.mean()) / v.std() * 45 + 110
        out[:, :, b] = np.clip(np.rint(v), 0, 255)
    return out


def best(fn, runs):
    t = 1e30
    for _ in range(runs):
        s = time.perf_counter()
        fn()
        t = min(t, time.perf_counter() - s)
    return t * 1e3


rng = np.random.default_rng(7)
rand = rng.integers(0, 256, (N, N, 3), dtype=np.uint8)
nat = natural(rng)
write_ppm(os.path.join(folder, "rand.ppm"), rand)
write_ppm(os.path.join(folder, "natural.ppm"), nat)
nat.astype("<f4").tofile(os.path.join(folder, "natural.f32"))

env = dict(os.environ, VESK_LIBDIR=os.environ.get("VESK_LIBDIR", os.path.join(here, "..", "build", "lib")),
           VESK_THREADS="1")
run = subprocess.run(["wish8.6", os.path.join(here, "isoclust_bench.tcl"), folder], env=env,
                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
ours = dict(line.split() for line in run.stderr.splitlines() if len(line.split()) == 2)

pixels = rand.reshape(-1, 3)
unique_ms = best(lambda: np.unique(pixels, axis=0, return_counts=True), 3)
points = nat.reshape(-1, 3).astype(np.float32)
criteria = (cv2.TERM_CRITERIA_MAX_ITER, 10, 0)
kmeans_ms = best(lambda: cv2.kmeans(points, 16, None, criteria, 1, cv2.KMEANS_PP_CENTERS), 2)
distinct = len(np.unique(nat.reshape(-1, 3), axis=0))

print("folder: %s" % folder)
print("natural image: %d distinct colours; gisoc image mode made %s classes" % (distinct, ours.get("image-classes")))
print("ptable 2048^2 random RGB:   %8.0f ms   np.unique %8.0f ms   ratio %.2f"
      % (float(ours["ptable"]), unique_ms, float(ours["ptable"]) / unique_ms))
print("gisoc defaults (table):     %8.0f ms   kmeans K16 %7.0f ms   ratio %.2f"
      % (float(ours["gisoc-table"]), kmeans_ms, float(ours["gisoc-table"]) / kmeans_ms))
print("gisoc image mode K16 nr 10: %8.0f ms   kmeans K16 %7.0f ms   ratio %.2f"
      % (float(ours["gisoc-image"]), kmeans_ms, float(ours["gisoc-image"]) / kmeans_ms))
