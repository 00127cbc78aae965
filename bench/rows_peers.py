#!/usr/bin/python3
"""The peers' side of the in-process rows of bench/runner.py.

    /usr/bin/python3 bench/rows_peers.py ROW N DATA      (the runner starts it)

Each row is a function row_NAME(n, data) that prepares its input outside the
timing and returns the works {side: (before, work)}; serve() then answers
the runner's requests as benchlib.tcl's serveRow does (time of work around
the call, peak RSS).  BENCH_THREADS=1 (set by the runner, with
OMP_NUM_THREADS=1 and the like) pins OpenCV to one thread with
cv2.setNumThreads(1); otherwise every peer keeps its defaults.
"""
import os
import sys
import time

ONE = os.environ.get("BENCH_THREADS") == "1"
if ONE:
    for var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS",
                "NUMEXPR_NUM_THREADS"):
        os.environ[var] = "1"
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import numpy as np  # noqa: E402

from benchdata import read_lan, read_ppm  # noqa: E402


def cv():
    import cv2
    if ONE:
        cv2.setNumThreads(1)
    return cv2


def peer(work, before=None):
    return {"peer": (before, work)}


def peak_kib():
    with open("/proc/self/status") as f:
        return int(f.read().split("VmHWM:")[1].split()[0])


def serve(works):
    reply = os.fdopen(int(os.environ["BENCH_REPLY_FD"]), "w")
    reply.write("ready\n")
    reply.flush()
    for line in sys.stdin:
        words = line.split()
        try:
            if words[0] == "run":
                before, work = works[words[1]]
                if before:
                    before()
                t = time.perf_counter()
                work()
                answer = "time %r" % (time.perf_counter() - t)
            elif words[0] == "rss":
                answer = "rss %d" % peak_kib()
            elif words[0] == "quit":
                break
            else:
                raise ValueError("unknown request: " + line)
        except Exception as e:  # the runner shows it and stops the row
            reply.write("error %s\n" % str(e).replace("\n", " "))
            reply.flush()
            raise
        reply.write(answer + "\n")
        reply.flush()


def floats(n, data, name="a"):
    return read_lan(os.path.join(data, "%s-%d.lan" % (name, n)), 1, np.float32)[0]


# Bound-image operators: in place, as ours are.
def row_add_numpy(n, data):
    a, b = floats(n, data), floats(n, data, "b")

    def work():
        np.add(a, b, out=a)  # a += b
    return peer(work)


def row_mul_numpy(n, data):
    a = floats(n, data)
    k = np.float32(1.0001)

    def work():
        np.multiply(a, k, out=a)
    return peer(work)


def row_add_cv2(n, data):
    cv2 = cv()
    a, b = floats(n, data), floats(n, data, "b")
    return peer(lambda: cv2.add(a, b, dst=a))


def row_mul_cv2(n, data):
    cv2 = cv()
    a = floats(n, data)
    return peer(lambda: cv2.multiply(a, 1.0001, dst=a))


def row_gconv3(n, data):
    cv2 = cv()
    a = floats(n, data)
    k = np.ones((3, 3), np.float32)
    return peer(lambda: cv2.filter2D(a, -1, k, borderType=cv2.BORDER_REPLICATE))


def row_gconv9(n, data):
    cv2 = cv()
    a = floats(n, data)
    k = np.array([0.01 * (1 + i % 9 + i // 9) for i in range(81)], np.float32).reshape(9, 9)
    return peer(lambda: cv2.filter2D(a, -1, k, borderType=cv2.BORDER_REPLICATE))


def row_dist(n, data):
    cv2 = cv()
    s = (read_lan(os.path.join(data, "seeds-%d.lan" % n), 1, np.uint8)[0] == 0).astype(np.uint8)
    return peer(lambda: cv2.distanceTransform(s, cv2.DIST_L2, cv2.DIST_MASK_PRECISE))


def resize(n, data, size, interpolation):
    cv2 = cv()
    a = floats(n, data)
    return peer(lambda: cv2.resize(a, (size, size), interpolation=getattr(cv2, interpolation)))


def row_resample2x(n, data):
    return resize(n, data, 2 * n, "INTER_LINEAR")


def row_zoomBI(n, data):
    return resize(n, data, 2 * n - 1, "INTER_LINEAR")


def row_zoomCC(n, data):
    return resize(n, data, 2 * n - 1, "INTER_CUBIC")


def row_areaHalf(n, data):
    return resize(n, data, n // 2, "INTER_AREA")


def row_georef(n, data):
    cv2 = cv()
    a = floats(n, data)
    g = np.empty_like(a)
    m = cv2.getRotationMatrix2D((n / 2, n / 2), 30, 1.0)
    return peer(lambda: cv2.warpAffine(a, m, (n, n), dst=g, flags=cv2.INTER_LINEAR))


def row_rotate(n, data):
    cv2 = cv()
    a = floats(n, data)
    r = np.empty_like(a)
    return peer(lambda: cv2.rotate(a, cv2.ROTATE_90_CLOCKWISE, dst=r))


def row_flip(n, data):
    cv2 = cv()
    a = floats(n, data)
    r = np.empty_like(a)
    return peer(lambda: cv2.flip(a, -1, dst=r))


def row_crop(n, data):
    b = read_lan(os.path.join(data, "seeds-%d.lan" % n), 1, np.uint8)[0]
    c = np.empty((n - 100, n - 100), np.uint8)
    return peer(lambda: np.copyto(c, b[100:, 100:]))


def two_bands(n, data):
    ab = read_lan(os.path.join(data, "ab-%d.lan" % n), 2, np.float32)
    return ab[0], ab[1]


def row_nratio_numpy(n, data):
    """As a script writes it: each operation makes its array."""
    a, b = two_bands(n, data)
    np.seterr(all="ignore")
    return peer(lambda: (a - b) / (a + b))


def row_nratio_prealloc(n, data):
    """numpy into outputs made before: no array made in the timing."""
    a, b = two_bands(n, data)
    t, c = np.empty_like(a), np.empty_like(a)
    np.seterr(all="ignore")

    def work():
        np.subtract(a, b, out=t)
        np.add(a, b, out=c)
        np.divide(t, c, out=c)
    return peer(work)


def row_nratio_numexpr(n, data):
    """numexpr, its threads (one with BENCH_THREADS=1), into an output made before."""
    import numexpr
    a, b = two_bands(n, data)
    c = np.empty_like(a)
    return peer(lambda: numexpr.evaluate("(a - b) / (a + b)", local_dict={"a": a, "b": b},
                                         out=c))


def row_classify(n, data):
    """The nearest of 16 means over 3 bands, numpy in blocks of 65536 pixels."""
    from benchdata import Data
    _, _, means = Data(data).rgb(n)
    means = np.array(means, np.float32)
    px = read_lan(os.path.join(data, "rgb-%d.lan" % n), 3, np.uint8).reshape(3, -1).T \
        .astype(np.float32)
    cl = np.empty(px.shape[0], np.uint8)
    step = 1 << 16

    def work():
        for s in range(0, px.shape[0], step):
            d = ((px[s:s + step, None, :] - means[None]) ** 2).sum(-1)
            cl[s:s + step] = d.argmin(1)
    return peer(work)


def row_stats(n, data):
    cv2 = cv()
    r = read_lan(os.path.join(data, "rgb-%d.lan" % n), 3, np.uint8)

    def work():
        for k in range(3):
            cv2.meanStdDev(r[k])
            cv2.calcHist([r[k]], [0], None, [256], [0, 256])
    return peer(work)


def row_gisoc(n, data):
    """sklearn's KMeans: 16 clusters, 10 iterations, one initialisation (k-means++)."""
    from sklearn.cluster import KMeans
    img = read_lan(os.path.join(data, "iso-%d.lan" % n), 4, np.float32)
    px = np.ascontiguousarray(img.reshape(4, -1).T)
    return peer(lambda: KMeans(16, n_init=1, max_iter=10, tol=0, random_state=0).fit(px))


def row_kmeans_cv2(n, data):
    """cv2.kmeans: K = 16, 10 iterations, one attempt, k-means++ centres."""
    cv2 = cv()
    points = read_ppm(os.path.join(data, "natural-%d.ppm" % n)).reshape(-1, 3) \
        .astype(np.float32)
    criteria = (cv2.TERM_CRITERIA_MAX_ITER, 10, 0)
    return peer(lambda: cv2.kmeans(points, 16, None, criteria, 1, cv2.KMEANS_PP_CENTERS))


def row_unique(n, data):
    pixels = read_ppm(os.path.join(data, "random-%d.ppm" % n)).reshape(-1, 3)
    return peer(lambda: np.unique(pixels, axis=0, return_counts=True))


def row_fft(n, data):
    """scipy.fft forward then inverse of a complex64 array in memory (all cores
    with workers=-1 unless pinned to one thread)."""
    import scipy.fft
    with open(os.path.join(data, "grey-%d.pgm" % n), "rb") as f:
        g = np.frombuffer(f.read()[-n * n:], np.uint8).reshape(n, n)
    a = g.astype(np.complex64)
    workers = 1 if ONE else -1
    return peer(lambda: scipy.fft.ifft2(scipy.fft.fft2(a, workers=workers), workers=workers))


if __name__ == "__main__":
    name, size, folder = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    serve(globals()["row_" + name](size, folder))
