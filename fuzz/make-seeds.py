#!/usr/bin/python3
"""Seeds of the fuzz corpora that no test fixture provides and that are plain
enough to lay out here: an FFT file, feature files of the three kinds and a
CONFIG.MOD.  Run from the repository: fuzz/make-seeds.py"""
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
