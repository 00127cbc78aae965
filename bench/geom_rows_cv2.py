#!/usr/bin/python3
"""The geometric kernels' OpenCV side, and the data both sides read.

    /usr/bin/python3 bench/geom_rows_cv2.py --make FOLDER
    /usr/bin/python3 bench/geom_rows_cv2.py FOLDER [--threads N] [--repeat N] [ROW ...]

--make writes FOLDER/a.lan (4096 x 4096 FLOAT, pseudo-random in [-100, 100),
seed 16) and FOLDER/seeds.lan (4096 x 4096 BYTE, 0.1 % seed pixels), ERDAS
7.4 files that bench/geom_rows.tcl loads into memory images.

Otherwise times each row (all by default) inside this process around the
cv2 call, --repeat times (default 5), with cv2.setNumThreads(N) when N is
given (1: one thread; run under taskset to pin it), and prints
"ROW name min median" in seconds, as geom_rows.tcl does for our side.
The output array of the previous run is freed outside the timing, as
geom_rows.tcl closes its previous output outside the timing.

Rows (ours in geom_rows.tcl):
  resample2x   cv2.resize to 8192^2, INTER_LINEAR
  resampleAVG  cv2.resize to 2048^2, INTER_AREA
  zoomCC       cv2.resize to 8191^2, INTER_CUBIC
  zoomAVG      cv2.resize to 2048^2, INTER_AREA
  georef       cv2.warpAffine, 30 degrees about the centre, INTER_LINEAR
  dist         cv2.distanceTransform, DIST_L2, DIST_MASK_PRECISE
"""
import os
import statistics
import struct
import sys
import time

import numpy as np

SIDE = 4096
ROWS = ("resample2x", "resampleAVG", "zoomCC", "zoomAVG", "georef", "dist")


def write_lan(path, array, pack):
    """An ERDAS 7.4 file of one band: array[rows, columns]."""
    rows, columns = array.shape
    head = bytearray(128)
    head[0:6] = b"HEAD74"
    struct.pack_into("<hh", head, 6, pack, 1)
    struct.pack_into("<ii", head, 16, columns, rows)
    with open(path, "wb") as f:
        f.write(head)
        f.write(array.tobytes())


def make(folder):
    os.makedirs(folder, exist_ok=True)
    rng = np.random.default_rng(16)
    a = rng.random((SIDE, SIDE), dtype=np.float32) * 200 - 100
    write_lan(os.path.join(folder, "a.lan"), a, 4)
    seeds = (rng.random((SIDE, SIDE)) < 0.001).astype(np.uint8)
    write_lan(os.path.join(folder, "seeds.lan"), seeds, 0)


def read_lan(path, dtype):
    return np.fromfile(path, dtype=dtype, offset=128).reshape(SIDE, SIDE)


def main():
    args = sys.argv[1:]
    if args[:1] == ["--make"]:
        make(args[1])
        return
    import cv2
    folder = args.pop(0)
    threads, repeat = None, 5
    if "--threads" in args:
        k = args.index("--threads")
        threads = int(args[k + 1])
        del args[k:k + 2]
    if "--repeat" in args:
        k = args.index("--repeat")
        repeat = int(args[k + 1])
        del args[k:k + 2]
    if threads is not None:
        cv2.setNumThreads(threads)
    a = read_lan(os.path.join(folder, "a.lan"), np.float32)
    s = (read_lan(os.path.join(folder, "seeds.lan"), np.uint8) == 0).astype(np.uint8)
    m = cv2.getRotationMatrix2D((SIDE // 2, SIDE // 2), 30, 1.0)
    work = {
        "resample2x": lambda: cv2.resize(a, (2 * SIDE, 2 * SIDE), interpolation=cv2.INTER_LINEAR),
        "resampleAVG": lambda: cv2.resize(a, (SIDE // 2, SIDE // 2), interpolation=cv2.INTER_AREA),
        "zoomCC": lambda: cv2.resize(a, (2 * SIDE - 1, 2 * SIDE - 1), interpolation=cv2.INTER_CUBIC),
        "zoomAVG": lambda: cv2.resize(a, (SIDE // 2, SIDE // 2), interpolation=cv2.INTER_AREA),
        "georef": lambda: cv2.warpAffine(a, m, (SIDE, SIDE), flags=cv2.INTER_LINEAR),
        "dist": lambda: cv2.distanceTransform(s, cv2.DIST_L2, cv2.DIST_MASK_PRECISE),
    }
    for name in args or ROWS:
        times = []
        for _ in range(repeat):
            t = time.perf_counter()
            c = work[name]()
            times.append(time.perf_counter() - t)
            del c
        print("ROW %s %.6f %.6f" % (name, min(times), statistics.median(times)))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
