"""The benchmark inputs, made once per size in the runner's data folder.

Every input is seeded, so a run makes the same files every time.  Each
maker returns its path (or paths) and writes the file only when it is not
there yet, so a kept folder (runner.py --data DIR) is reused.
"""
import os
import struct
import subprocess

import numpy as np


def write_lan(path, array, pack):
    """An ERDAS 7.4 file (band-interleaved by line) of array[bands, rows, columns];
    pack 0 for bytes, 4 for floats."""
    bands, rows, columns = array.shape
    head = bytearray(128)
    head[0:6] = b"HEAD74"
    struct.pack_into("<hh", head, 6, pack, bands)
    struct.pack_into("<ii", head, 16, columns, rows)
    with open(path + ".tmp", "wb") as f:
        f.write(head)
        for r in range(rows):
            f.write(np.ascontiguousarray(array[:, r, :]).tobytes())
    os.replace(path + ".tmp", path)


def read_lan(path, bands, dtype):
    """array[bands, rows, columns] of a file write_lan wrote."""
    with open(path, "rb") as f:
        head = f.read(128)
    columns, rows = struct.unpack_from("<ii", head, 16)
    a = np.fromfile(path, dtype=dtype, offset=128)
    return a.reshape(rows, bands, columns).transpose(1, 0, 2).copy()


class Data:
    """The data folder; each method makes its input on first use."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def _fresh(self, name):
        return not os.path.exists(self.path(name))

    def floats(self, n):
        """Two n x n FLOAT images of pseudo-random values in [-100, 100) and both as
        one two-band image: a-N.lan, b-N.lan, ab-N.lan."""
        names = ["a-%d.lan" % n, "b-%d.lan" % n, "ab-%d.lan" % n]
        if any(self._fresh(x) for x in names):
            rng = np.random.default_rng(16)
            a = rng.random((1, n, n), dtype=np.float32) * 200 - 100
            b = rng.random((1, n, n), dtype=np.float32) * 200 - 100
            write_lan(self.path(names[0]), a, 4)
            write_lan(self.path(names[1]), b, 4)
            write_lan(self.path(names[2]), np.concatenate([a, b]), 4)
        return [self.path(x) for x in names]

    def seeds(self, n):
        """An n x n BYTE image with 0.1 % pseudo-random seed pixels (value 1)."""
        name = "seeds-%d.lan" % n
        if self._fresh(name):
            rng = np.random.default_rng(17)
            write_lan(self.path(name), (rng.random((1, n, n)) < 0.001).astype(np.uint8), 0)
        return self.path(name)

    def rgb(self, n):
        """An n x n x 3 BYTE image of pseudo-random bytes and a feature file of 16
        class means over its bands (unit covariances): rgb-N.lan, sixteen.stat and
        the means as a list."""
        name = "rgb-%d.lan" % n
        rng = np.random.default_rng(18)
        means = rng.integers(0, 256, (16, 3)).astype(np.float32)
        if self._fresh(name):
            write_lan(self.path(name), rng.integers(0, 256, (3, n, n), dtype=np.uint8), 0)
        if self._fresh("sixteen.stat"):
            write_stat(self.path("sixteen.stat"), means)
        return self.path(name), self.path("sixteen.stat"), means.tolist()

    def clusters(self, n):
        """An n x n x 4 FLOAT image: 16 Gaussian clusters of random centres in
        [0, 200) with a deviation of 12, each pixel of a random cluster."""
        name = "iso-%d.lan" % n
        if self._fresh(name):
            rng = np.random.default_rng(19)
            centres = rng.random((16, 4), dtype=np.float32) * 200
            label = rng.integers(0, 16, (n, n))
            img = np.empty((4, n, n), np.float32)
            for b in range(4):
                img[b] = centres[label, b] + rng.normal(0, 12, (n, n)).astype(np.float32)
            write_lan(self.path(name), img, 4)
        return self.path(name)

    def picture(self, n):
        """A smooth n x n RGB picture with Gaussian noise, as photographs are: pic-N.ppm
        and pic-N.jpg (cjpeg -quality 90)."""
        ppm, jpg = "pic-%d.ppm" % n, "pic-%d.jpg" % n
        if self._fresh(ppm) or self._fresh(jpg):
            rng = np.random.default_rng(20)
            with open(self.path(ppm) + ".tmp", "wb") as f:
                f.write(b"P6\n%d %d\n255\n" % (n, n))
                x = np.arange(n, dtype=np.float32)
                for top in range(0, n, 1024):
                    y = np.arange(top, min(n, top + 1024), dtype=np.float32)[:, None]
                    planes = [127 + 100 * np.sin(x / 97.0 + k) * np.cos(y / 61.0 - k)
                              for k in range(3)]
                    pic = np.stack(planes, axis=-1) + \
                        rng.normal(0, 12, (len(y), n, 3)).astype(np.float32)
                    f.write(np.clip(pic, 0, 255).astype(np.uint8).tobytes())
            os.replace(self.path(ppm) + ".tmp", self.path(ppm))
            subprocess.check_call(["cjpeg", "-quality", "90", "-outfile", self.path(jpg),
                                   self.path(ppm)])
        return self.path(ppm), self.path(jpg)

    def tiff(self, n):
        """An n x n RGB BYTE TIFF of pseudo-random bytes, uncompressed, in strips,
        pixel-interleaved (libtiff through OpenCV writes it)."""
        name = "rgb-%d.tif" % n
        if self._fresh(name):
            import cv2
            rng = np.random.default_rng(21)
            img = rng.integers(0, 256, (n, n, 3), dtype=np.uint8)
            tmp = self.path("tmp-" + name)
            cv2.imwrite(tmp, img, [cv2.IMWRITE_TIFF_COMPRESSION, 1])
            os.replace(tmp, self.path(name))
        return self.path(name)

    def points(self, count):
        """count points in degrees around 9E 48N, one "lon lat" a line."""
        name = "points-%d.txt" % count
        if self._fresh(name):
            rng = np.random.default_rng(22)
            pts = np.stack([rng.uniform(6, 12, count), rng.uniform(40, 56, count)], axis=1)
            np.savetxt(self.path(name) + ".tmp", pts, fmt="%.6f")
            os.replace(self.path(name) + ".tmp", self.path(name))
        return self.path(name)

    def natural(self, n):
        """An n x n RGB PPM of natural-image statistics (1/f noise per band, bands
        correlated, quantised to bytes: about a million distinct colours at 2048)
        and one of pseudo-random bytes: natural-N.ppm, random-N.ppm."""
        nat, rand = "natural-%d.ppm" % n, "random-%d.ppm" % n
        if self._fresh(nat) or self._fresh(rand):
            rng = np.random.default_rng(7)
            write_ppm(self.path(rand), rng.integers(0, 256, (n, n, 3), dtype=np.uint8))
            fy = np.fft.fftfreq(n)[:, None]
            fx = np.fft.fftfreq(n)[None, :]
            f = np.sqrt(fx * fx + fy * fy)
            f[0, 0] = 1
            base = [np.real(np.fft.ifft2(np.fft.fft2(rng.normal(size=(n, n))) / f ** 1.1))
                    for _ in range(3)]
            mix = np.array([[1.0, 0.3, 0.1], [0.8, 0.6, 0.2], [0.6, 0.4, 0.7]])
            bands = np.tensordot(mix, np.array(base), axes=1)
            out = np.empty((n, n, 3), np.uint8)
            for b in range(3):
                v = bands[b]
                v = (v - v.mean()) / v.std() * 45 + 110
                out[:, :, b] = np.clip(np.rint(v), 0, 255)
            write_ppm(self.path(nat), out)
        return self.path(nat), self.path(rand)

    def grey(self, n):
        """An n x n BYTE PGM of varied values (the FFT rows' input)."""
        name = "grey-%d.pgm" % n
        if self._fresh(name):
            r = np.arange(n)[:, None]
            c = np.arange(n)[None, :]
            img = ((3 * r + c) * 7 % 251).astype(np.uint8)
            with open(self.path(name), "wb") as f:
                f.write(b"P5\n%d %d\n255\n" % (n, n))
                f.write(img.tobytes())
        return self.path(name)


def write_ppm(path, a):
    """A binary PPM of a[rows, columns, 3] bytes."""
    with open(path + ".tmp", "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (a.shape[1], a.shape[0]))
        f.write(np.ascontiguousarray(a, np.uint8).tobytes())
    os.replace(path + ".tmp", path)


def read_ppm(path):
    """a[rows, columns, 3] of a binary PPM write_ppm or picture wrote."""
    with open(path, "rb") as f:
        f.readline()  # P6
        columns, rows = (int(v) for v in f.readline().split())
        f.readline()  # 255
        return np.frombuffer(f.read(), np.uint8).reshape(rows, columns, 3)


def write_stat(path, means):
    """A feature file of class statistics over bands 0 .. n-1 (the classify module's
    input): each class its mean and a unit covariance, packed."""
    k, n = means.shape
    head = 32 + 4 * n + 192
    item = 72 + 2 * n * (n + 3)
    cov = [1.0 if i == j else 0.0 for i in range(n) for j in range(i, n)]
    with open(path, "wb") as f:
        f.write(struct.pack("<8s6i%di" % n, b"STATFTUR", head + k * item, 0, head, item, k, n,
                            *range(n)))
        f.write(struct.pack("<64s128s", b"bench", b"benchdata.py"))
        for c in range(k):
            f.write(struct.pack("<32s32sii%df%df" % (n, len(cov)), b"c%d" % c, b"", 1000, c,
                                *means[c], *cov))
