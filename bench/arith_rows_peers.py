#!/usr/bin/python3
"""The arithmetic-kernel rows against their peers, interleaved in one run.

    /usr/bin/python3 bench/arith_rows_peers.py compare [--build DIR] [--rows a,b]
                     [--runs N] [--threads 1|all|both] [--core C] [--folder DIR]
    /usr/bin/python3 bench/arith_rows_peers.py make-data FOLDER
    /usr/bin/python3 bench/arith_rows_peers.py peer FOLDER ROW RUNS THREADS [WARM]

compare makes the data in a temporary folder (or FOLDER), then for every
row and thread setting runs our side (bench/arith_rows.tcl in wish, under
xvfb-run when there is no display) and the peer (this script's "peer"
mode) alternately, one process each per round and RUNS rounds (each
process warms up once, then times one run), and prints min and median of
both sides, their ratios and both peak RSS.  Both sides time inside their
process around the work alone (in-process against in-process).  One
thread: ours with VESK_THREADS=1, both pinned with taskset to one core,
the peer with OMP/OpenBLAS/MKL at one thread, cv2.setNumThreads(1),
scipy.fft workers=1, sklearn under threadpool_limits(1).  All threads:
defaults on both sides (scipy.fft workers=-1).

Peers (numpy/OpenCV/scipy/sklearn from Debian: python3-numpy,
python3-opencv, python3-scipy, python3-sklearn):
  mul       4096^2 float in place by 1.0001: numpy a *= k (one thread),
            cv2.multiply(a, k, dst=a) (all threads)
  add       4096^2 float a += b: numpy (one thread), cv2.add(a, b, dst=a) (all)
  nratio    (a - b) / (a + b) of two 4096^2 float bands as a script writes
            it; nratio-pre: the same with preallocated outputs (out=)
  gconv3-2k, gconv3, gconv9   cv2.filter2D, BORDER_REPLICATE, 2048^2 / 4096^2
  fft       2048^2 byte image forward then back, file to file: numpy reads
            the PGM, scipy.fft.fft2 in complex64, the spectrum written to a
            file (32 MiB) and read back, ifft2, the result written (32 MiB):
            the same reads and writes as our two gfftrans calls
  gisoc     16 classes, 10 iterations over 4096^2 x 4 float: sklearn KMeans
            (lloyd, n_init=1, random init, tol=0, max_iter=10) on the pixels
            held in memory (ours reads the file each run)
  classify  nearest of 16 means over 3 byte bands, numpy in blocks
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIDE = 4096
ROWS = ["mul", "add", "nratio", "nratio-pre", "gconv3-2k", "gconv3", "gconv9", "fft", "gisoc",
        "classify"]
WARM = {"gisoc": 0}  # a run long enough to need no warm-up


def write_lan(path, array, pack):
    """An ERDAS 7.4 file (band-interleaved by line) of array[bands, rows, columns]."""
    import struct
    bands, rows, columns = array.shape
    head = bytearray(128)
    head[0:6] = b"HEAD74"
    struct.pack_into("<hh", head, 6, pack, bands)
    struct.pack_into("<ii", head, 16, columns, rows)
    with open(path, "wb") as f:
        f.write(head)
        f.write(array.transpose(1, 0, 2).tobytes())


def write_stat(path, means):
    """Class statistics for the classify module: each class its mean, unit covariance."""
    import struct
    k, n = means.shape
    head = 32 + 4 * n + 192
    item = 72 + 2 * n * (n + 3)
    cov = [1.0 if i == j else 0.0 for i in range(n) for j in range(i, n)]
    with open(path, "wb") as f:
        f.write(struct.pack("<8s6i%di" % n, b"STATFTUR", head + k * item, 0, head, item, k, n,
                            *range(n)))
        f.write(struct.pack("<64s128s", b"bench", b"arith_rows_peers.py"))
        for c in range(k):
            f.write(struct.pack("<32s32sii%df%df" % (n, len(cov)), b"c%d" % c, b"", 1000, c,
                                *means[c], *cov))


def make_data(folder):
    import numpy as np
    rng = np.random.default_rng(16)
    a = rng.random((1, SIDE, SIDE), dtype=np.float32) * 200 - 100
    b = rng.random((1, SIDE, SIDE), dtype=np.float32) * 200 - 100
    write_lan(os.path.join(folder, "a.lan"), a, 4)
    write_lan(os.path.join(folder, "b.lan"), b, 4)
    write_lan(os.path.join(folder, "ab.lan"), np.concatenate([a, b]), 4)
    write_lan(os.path.join(folder, "a2k.lan"), a[:, :2048, :2048].copy(), 4)
    rgb = rng.integers(0, 256, (3, SIDE, SIDE), dtype=np.uint8)
    write_lan(os.path.join(folder, "rgb.lan"), rgb, 0)
    means = rng.integers(0, 256, (16, 3)).astype(np.float32)
    write_stat(os.path.join(folder, "sixteen.stat"), means)
    np.save(os.path.join(folder, "means.npy"), means)
    # The FFT input: a 2048^2 byte picture of varied values.
    y, x = np.mgrid[0:2048, 0:2048]
    pic = ((x * 7 + y * 3) % 251).astype(np.uint8)
    with open(os.path.join(folder, "pic2k.pgm"), "wb") as f:
        f.write(b"P5\n2048 2048\n255\n")
        f.write(pic.tobytes())
    # Four bands of smooth land-cover-like fields with noise, for the clustering.
    del a, b, rgb, x, y
    small = rng.random((4, 64, 64)).astype(np.float32) * 200
    fields = np.repeat(np.repeat(small, 64, axis=1), 64, axis=2)
    fields += rng.normal(0, 12, fields.shape).astype(np.float32)
    write_lan(os.path.join(folder, "abcd.lan"), fields, 4)


def lan(folder, name, bands, dtype, side=SIDE):
    import numpy as np
    a = np.fromfile(os.path.join(folder, name), dtype=dtype, offset=128)
    return a.reshape(side, bands, side).transpose(1, 0, 2).copy()


def peer(folder, row, runs, threads, warm):
    one = threads == 1
    if one:
        for v in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
            os.environ[v] = "1"
    import numpy as np
    import cv2
    cv2.setNumThreads(1 if one else -1)
    if row in ("mul", "add"):
        a = lan(folder, "a.lan", 1, np.float32)[0]
        b = lan(folder, "b.lan", 1, np.float32)[0]
        k = np.float32(1.0001)
        # all threads: the faster of numpy and OpenCV, each run
        if row == "mul":
            forms = [lambda: np.multiply(a, k, out=a), lambda: cv2.multiply(a, 1.0001, dst=a)]
        else:
            forms = [lambda: np.add(a, b, out=a), lambda: cv2.add(a, b, dst=a)]
        if one:
            forms = forms[:1]
    elif row in ("nratio", "nratio-pre"):
        ab = lan(folder, "ab.lan", 2, np.float32)
        a, b = ab[0], ab[1]
        if row == "nratio":
            def work():
                return (a - b) / (a + b)
        else:
            d = np.empty_like(a)
            c = np.empty_like(a)

            def work():
                np.subtract(a, b, out=d)
                np.add(a, b, out=c)
                np.divide(d, c, out=c)
    elif row.startswith("gconv"):
        side = 2048 if row.endswith("2k") else SIDE
        a = lan(folder, "a2k.lan" if side == 2048 else "a.lan", 1, np.float32, side)[0]
        if row == "gconv9":
            kern = np.array([0.01 * (1 + i % 9 + i // 9) for i in range(81)],
                            np.float32).reshape(9, 9)
        else:
            kern = np.ones((3, 3), np.float32)

        def work():
            return cv2.filter2D(a, -1, kern, borderType=cv2.BORDER_REPLICATE)
    elif row == "fft":
        import scipy.fft
        workers = 1 if one else -1
        pgm = os.path.join(folder, "pic2k.pgm")
        spec = os.path.join(folder, "peer-spectrum.bin")
        back = os.path.join(folder, "peer-back.bin")

        def work():
            with open(pgm, "rb") as f:
                f.readline()
                f.readline()
                f.readline()
                pic = np.frombuffer(f.read(), np.uint8).reshape(2048, 2048)
            s = scipy.fft.fft2(pic.astype(np.complex64), workers=workers)
            s.tofile(spec)
            s = np.fromfile(spec, np.complex64).reshape(2048, 2048)
            scipy.fft.ifft2(s, workers=workers, overwrite_x=True).tofile(back)
    elif row == "gisoc":
        from sklearn.cluster import KMeans
        from threadpoolctl import threadpool_limits
        px = lan(folder, "abcd.lan", 4, np.float32).reshape(4, -1).T.copy()

        def work():
            km = KMeans(n_clusters=16, init="random", n_init=1, max_iter=10, tol=0,
                        algorithm="lloyd", random_state=0)
            if one:
                with threadpool_limits(1):
                    km.fit(px)
            else:
                km.fit(px)
    elif row == "classify":
        r = lan(folder, "rgb.lan", 3, np.uint8)
        px = r.reshape(3, -1).T.astype(np.float32)
        means = np.load(os.path.join(folder, "means.npy"))
        cl = np.empty(px.shape[0], np.uint8)

        def work():
            for s in range(0, px.shape[0], 1 << 16):
                d = ((px[s:s + (1 << 16), None, :] - means[None]) ** 2).sum(-1)
                cl[s:s + (1 << 16)] = d.argmin(1)
    else:
        raise SystemExit("unknown row " + row)
    if row not in ("mul", "add"):
        forms = [work]
    for _ in range(warm):
        for form in forms:
            form()
    for _ in range(runs):
        best = 1e30
        for form in forms:
            start = time.perf_counter()
            form()
            best = min(best, time.perf_counter() - start)
        print("TIME", best)
    print("RSS", int(open("/proc/self/status").read().split("VmHWM:")[1].split()[0]) / 1024.0)


def parse(out):
    times = [float(v) for v in re.findall(r"^TIME (\S+)", out, re.M)]
    rss = float(re.search(r"^RSS (\S+)", out, re.M).group(1))
    return times, rss


def run(argv, env):
    p = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, text=True)
    if p.returncode != 0 or "TIME" not in p.stdout:
        raise RuntimeError("%s failed:\n%s%s" % (" ".join(argv), p.stdout[-2000:], p.stderr[-2000:]))
    return parse(p.stdout)


def compare(args):
    def opt(name, default):
        return args[args.index(name) + 1] if name in args else default
    build = os.path.abspath(opt("--build", os.path.join(HERE, "..", "build")))
    rows = opt("--rows", ",".join(ROWS)).split(",")
    runs = int(opt("--runs", "5"))
    modes = {"1": [1], "all": [None], "both": [1, None]}[opt("--threads", "both")]
    core = opt("--core", "2")
    folder = opt("--folder", None)
    made = folder is None
    if made:
        folder = tempfile.mkdtemp(prefix="vesk-arith-")
    if not os.path.exists(os.path.join(folder, "abcd.lan")):
        make_data(folder)
    print("%-11s %-4s %9s %9s %9s %9s %6s %6s %8s %8s" % (
        "row", "thr", "ours min", "ours med", "peer min", "peer med", "r min", "r med",
        "ours MiB", "peer MiB"))
    for row in rows:
        for threads in modes:
            ours, peers, rss = [], [], [0.0, 0.0]
            for _ in range(runs):
                env = dict(os.environ, VESK_LIBDIR=os.path.join(build, "lib"))
                env.pop("VESK_THREADS", None)
                pin = []
                if threads == 1:
                    env["VESK_THREADS"] = "1"
                    pin = ["taskset", "-c", core]
                if row != "nratio-pre":
                    argv = pin + ["wish8.6", os.path.join(HERE, "arith_rows.tcl"), folder, row,
                                  "1", str(WARM.get(row, 1))]
                    if not os.environ.get("DISPLAY"):
                        argv = ["xvfb-run", "-a", "-s", "-screen 0 640x480x24"] + argv
                    t, r = run(argv, env)
                    ours += t
                    rss[0] = max(rss[0], r)
                t, r = run(pin + ["/usr/bin/python3", os.path.abspath(__file__), "peer", folder,
                                  row, "1", "1" if threads == 1 else "0", str(WARM.get(row, 1))],
                           env)
                peers += t
                rss[1] = max(rss[1], r)
            if not ours:  # the preallocated peer is compared with our nratio
                print("%-11s %-4s %9s %9s %9.4f %9.4f" % (
                    row, "1" if threads == 1 else "all", "", "", min(peers),
                    statistics.median(peers)))
                continue
            om, od, pm, pd = min(ours), statistics.median(ours), min(peers), statistics.median(peers)
            print("%-11s %-4s %9.4f %9.4f %9.4f %9.4f %6.2f %6.2f %8.1f %8.1f" % (
                row, "1" if threads == 1 else "all", om, od, pm, pd, om / pm, od / pd,
                rss[0], rss[1]))
            sys.stdout.flush()
    if made:
        import shutil
        shutil.rmtree(folder, ignore_errors=True)


def main():
    args = sys.argv[1:]
    if not args:
        raise SystemExit(__doc__)
    if args[0] == "make-data":
        os.makedirs(args[1], exist_ok=True)
        make_data(args[1])
    elif args[0] == "peer":
        threads = int(args[4])
        peer(args[1], args[2], int(args[3]), 1 if threads == 1 else 0,
             int(args[5]) if len(args) > 5 else 1)
    elif args[0] == "compare":
        compare(args[1:])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
