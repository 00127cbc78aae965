#!/usr/bin/python3
"""Seeds of the fuzz corpora that no test fixture provides and that are plain
enough to lay out here: an FFT file, feature files of the three kinds, a
CONFIG.MOD, pixel tables, image-data scripts and OBJ models with materials.
Run from the repository: fuzz/make-seeds.py"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# FFT file: 1024-byte head (host order, little-endian here), then 4 x 8
# complex samples.
head = bytearray(1024)
head[0:15] = b"FFT IMAGE FILE\0"
head[16:34] = b"/images/source.img"
struct.pack_into("<6i", head, 80, 1, 4, 8, 3, 5, 1)
struct.pack_into("<9d", head, 104, 32, 37, 0, 0, -10, 12.5, -4.5, 9.8, 2.4)
samples = b"".join(struct.pack("<2f", r * 10 + c, -(r + c)) for r in range(4) for c in range(8))
put("fftfile", "pattern.fft", bytes(head) + samples)


def feature(tag, n, item, extra, count, fill):
    head = 32 + 4 * n + extra
    total = head + count * item
    block = bytearray(total)
    block[0:8] = tag.ljust(8, b"\0")[:8]
    struct.pack_into("<6i", block, 8, total, 0, head, item, count, n)
    for i in range(n):
        struct.pack_into("<i", block, 32 + 4 * i, i + 1)
    for i in range(32 + 4 * n, total):
        block[i] = fill(i)
    return bytes(block)


def small_doubles(i):
    return (0, 0, 0, 0, 0, 0, 0xf0, 0x3f)[i % 8]   # 1.0 as little-endian doubles


for n in (1, 3):
    put("features", "stat%d.ftr" % n,
        feature(b"STATFTUR", n, 72 + 2 * n * (n + 3), 192, 2, small_doubles))
    put("features", "eigen%d.ftr" % n, feature(b"EIGENID", n, 4 * n + 12, 8 * n + 516, n,
                                                lambda i: (0, 0, 0x80, 0x3f)[i % 4]))
    put("features", "iso%d.ftr" % n, feature(b"ISOFEATU", n, 16 * n + 12, 152, 3,
                                             lambda i: (0, 0, 0x80, 0x3f)[i % 4]))


# CONFIG.MOD: 256-byte records, the module name in the first 16 bytes, then
# "key value" words.
def record(name, text):
    r = bytearray(256)
    r[0:len(name)] = name.encode()
    r[16:16 + len(text)] = text.encode()
    return bytes(r)


put("configmod", "two.mod", record("-a", "-a 5 -size 12 -out img") + record("resample", "-b 7"))
put("configmod", "quoted.mod", record("-b", "-b {a b} -out \"x y\" -a -1"))


# Pixel tables (PTABLEHD): sorted distinct vectors with 16-bit counts and
# the first and last entry of each first byte.
def ptable(bands, vectors, counts):
    n = len(bands)
    head = 2080 + 4 * n
    first, last = [-1] * 256, [-2] * 256
    for i, v in enumerate(vectors):
        if first[v[0]] < 0:
            first[v[0]] = i
        last[v[0]] = i
    out = b"PTABLEHD" + struct.pack("<3i", head, len(vectors), len(vectors))
    out += struct.pack("<256i", *first) + struct.pack("<256i", *last) + struct.pack("<i", n)
    out += struct.pack("<%di" % n, *bands) + b"".join(bytes(v) for v in vectors)
    return out + struct.pack("<%dH" % len(counts), *counts)


put("ptable", "one-band.lku", ptable([0], [(0,), (7,), (255,)], [3, 1, 65535]))
put("ptable", "three-bands.lku", ptable([0, 1, 2], [(0, 1, 9), (0, 5, 9), (7, 1, 9), (7, 1, 10)],
                                        [1, 2, 3, 4]))
put("ptable", "empty.lku", ptable([4, 2], [], []))

# Image-data scripts: the first byte picks the extent the target checks the
# script against (1x1x1, 7 rows x 5 columns x 3 bands, 40x33x4 with 16
# palette entries, 3x200x1 with 256).
for name, shape, text in (
        ("bsqh.txt", 1, "BSQH 1 3 0 4 0 6 1 2 3 4.5 -6 7e2"),
        ("bipv-reversed.txt", 1, "BIPV 3 1 4 0 6 0 9 8 7\n6 5"),
        ("bilh-palette.txt", 2, "BILH 1 4 32 0 39 0 3 17 -1 2.5"),
        ("bsq-block.txt", 1, "BSQ 2 2 3 4 4 5 1 2 3 4 5 6 7 8"),
        ("bil-block.txt", 2, "BIL 1 9 30 35 10 10 15 14 13"),
        ("bip-block.txt", 3, "BIP 1 3 198 1 5 4 0 1 2 3 4 5 300"),
        ("one.txt", 0, "BSQV 1 1 0 0 0 0 42")):
    put("imagedata", name, bytes([shape]) + text.encode())

# OBJ models: the first byte picks the normal and smoothing modes; the
# material libraries they name are read from the same bytes.
for name, modes, text in (
        ("triangle.obj", 1, "v 0 0 0\nv 10 0 0\nv 0 2 4\nf 1 2 3\n"),
        ("quad.obj", 2 + 3 * 2, "v 0 0 0\nv 1 0 0\nv 1 1 0.5\nv 0 1 0\nf 1 2 3 4\n"),
        ("groups.obj", 32 + 1 + 3,
         "mtllib self.mtl\nnewmtl red\nKd 1 0 0 1\nKa 0.2 0.2 0.2\nKs 1 1 1\nNs 10\n"
         "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nvn 0 0 1\nvn 1 0 0\nvt 0 0\nvt 1 1\n"
         "g a\nusemtl red\ns 1\nf 1/1/1 2/2/1 3/1/2\ng b\ns off\nf 4//2 2//1 3//1\n"
         "f -1 -2 -3\n"),
        ("texcoords.obj", 16 + 2, "v 0 0 0\nv 2 0 0\nv 2 2 0\nv 0 2 1\nvt 0 0\nvt 1 0\n"
         "vt 1 1\nf 1/1 2/2 3/3 4/1\n")):
    put("objmodel", name, bytes([modes]) + text.encode())
