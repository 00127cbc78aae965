#!/usr/bin/python3
"""Window and geometry transfers: ours (through rimage) against libvips and
OpenCV on the same input in the same run, one thread each; ratios are
ours / peer (below 1: we are faster).
  /usr/bin/python3 bench/transfer_bench.py LIBDIR WORK   (run by transfer_bench.sh)
"""
import os
import resource
import subprocess
import sys
import time

os.environ.setdefault("OMP_NUM_THREADS", "1")
import numpy as np
import cv2

cv2.setNumThreads(1)
here = os.path.dirname(os.path.abspath(__file__))
libdir, work = sys.argv[1], sys.argv[2]
os.chdir(work)
BIG = "big.tif"
TIFF_PLAIN = [cv2.IMWRITE_TIFF_COMPRESSION, 1]


def make_input():
    if os.path.exists(BIG) and os.path.getsize(BIG) > 300_000_000:
        return
    rng = np.random.default_rng(7)
    img = rng.integers(0, 256, size=(10000, 10000, 3), dtype=np.uint8)
    cv2.imwrite(BIG, img, TIFF_PLAIN)


def child(cmd):
    """Runs a command; its wall time and its own peak RSS in KiB."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    t = time.perf_counter()
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    wall = time.perf_counter() - t
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return wall, peak if peak > before else None, out


def ours(task):
    out = subprocess.run(["tclsh8.6", os.path.join(here, "transfer_rimage.tcl"), libdir, work,
                          task], check=True, capture_output=True, text=True).stdout
    return out


VIPS_MASK = "sharpen.mat"
CV_PIPELINE = r"""
import sys, time, resource, cv2, numpy as np
cv2.setNumThreads(1)
t = time.perf_counter()
img = cv2.imread("big.tif", cv2.IMREAD_UNCHANGED)
small = cv2.resize(img[100:9900, 100:9900], (980, 980), interpolation=cv2.INTER_LINEAR)
k = np.array([[0, -1, 0], [-1, 5, -1], [0, -1, 0]], np.float32)
cv2.imwrite("out_cv.tif", cv2.filter2D(small, -1, k), [cv2.IMWRITE_TIFF_COMPRESSION, 1])
print(time.perf_counter() - t, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""


def vips_pipeline():
    with open(VIPS_MASK, "w") as f:
        f.write("3 3 1 0\n0 -1 0\n-1 5 -1\n0 -1 0\n")
    steps = [["vips", "extract_area", BIG, "crop.v", "100", "100", "9800", "9800"],
             ["vips", "resize", "crop.v", "small.v", "0.1", "--kernel", "linear"],
             ["vips", "conv", "small.v", "out_vips.tif", VIPS_MASK, "--precision", "integer"]]
    total, peak = 0.0, 0
    for cmd in steps:
        t = time.perf_counter()
        p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, check=True, capture_output=True,
                           text=True)
        total += time.perf_counter() - t
        peak = max(peak, int(p.stderr.strip().splitlines()[-1]))
    return total, peak


def best(fn, n=3):
    times = []
    for _ in range(n):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def main():
    make_input()
    subprocess.run(["cat", BIG], stdout=subprocess.DEVNULL, check=True)  # page cache
    print("== pipeline A: 10000 x 10000 RGB BYTE TIFF, one thread, best of 3")
    rows = {}
    for task in ("faithful", "lean"):
        runs = [ours(task).split() for _ in range(3)]
        s = min(float(r[0]) for r in runs)
        rss = max(int(r[1]) for r in runs)
        rows[task] = (s, rss)
    cv = [subprocess.run([sys.executable, "-c", CV_PIPELINE], check=True, capture_output=True,
                         text=True).stdout.split() for _ in range(3)]
    cv_s, cv_rss = min(float(r[0]) for r in cv), max(int(r[1]) for r in cv)
    vp = [vips_pipeline() for _ in range(3)]
    vips_s, vips_rss = min(v[0] for v in vp), max(v[1] for v in vp)
    print("%-22s %8s %9s %12s %12s" % ("form", "seconds", "peak MiB", "ours/opencv", "ours/vips"))
    for task, (s, rss) in rows.items():
        print("%-22s %8.3f %9.1f %12.2f %12.2f" % ("rimage " + task, s, rss / 1024, s / cv_s,
                                                   s / vips_s))
    print("%-22s %8.3f %9.1f" % ("opencv", cv_s, cv_rss / 1024))
    print("%-22s %8.3f %9.1f" % ("vips (3 commands)", vips_s, vips_rss / 1024))
    ref = cv2.imread("out_cv.tif", cv2.IMREAD_UNCHANGED)
    print("result sizes: ours", cv2.imread("out.tif", cv2.IMREAD_UNCHANGED).shape, "opencv", ref.shape)

    print("\n== kernels: 4096 x 4096 FLOAT (crop: BYTE), one thread, best of 3")
    mine = dict((line.split()[0], float(line.split()[1])) for line in ours("kernels").splitlines()
                if line.strip())
    y, x = np.mgrid[0:4096, 0:4096].astype(np.float32)
    a = (0.25 * x + 0.5 * y).astype(np.float32)
    # The same bytes as ours (initxy 1 1): untouched zero pages would read
    # from one shared page.
    b = ((np.arange(4096)[:, None] + np.arange(4096)[None, :]) & 255).astype(np.uint8)
    out = np.empty((3996, 3996), np.uint8)
    turned = np.empty((4096, 4096), np.float32)
    peers = {
        "rotate90": ("cv2.rotate (dst)", lambda: cv2.rotate(a, cv2.ROTATE_90_CLOCKWISE, dst=turned)),
        "flip": ("cv2.flip (dst)", lambda: cv2.flip(a, -1, dst=turned)),
        "bilinear2x": ("cv2.resize LINEAR", lambda: cv2.resize(a, (8191, 8191), interpolation=cv2.INTER_LINEAR)),
        "cubic2x": ("cv2.resize CUBIC", lambda: cv2.resize(a, (8191, 8191), interpolation=cv2.INTER_CUBIC)),
        "avg2x": ("cv2.resize AREA", lambda: cv2.resize(a, (2048, 2048), interpolation=cv2.INTER_AREA)),
        "transavg2x": ("cv2.resize AREA", lambda: cv2.resize(a, (2048, 2048), interpolation=cv2.INTER_AREA)),
        "cropbyte": ("row memcpy (numpy copyto)", lambda: np.copyto(out, b[100:, 100:])),
    }
    numpy_avg = best(lambda: a.reshape(2048, 2, 2048, 2).mean((1, 3)))
    print("%-12s %10s %-28s %10s %8s" % ("kernel", "ours ms", "peer", "peer ms", "ratio"))
    for name, (label, fn) in peers.items():
        p = best(fn)
        print("%-12s %10.1f %-28s %10.1f %8.2f" % (name, mine[name] * 1e3, label, p * 1e3,
                                                   mine[name] / p))
    print("%-12s %10.1f %-28s %10.1f %8.2f" % ("avg2x", mine["avg2x"] * 1e3, "numpy reshape.mean",
                                               numpy_avg * 1e3, mine["avg2x"] / numpy_avg))


main()
