#!/usr/bin/python3
"""Seeds of the fuzz corpora that no test fixture provides and that are plain
enough to lay out here: an FFT file, feature files of the three kinds, a
CONFIG.MOD, pixel tables, image-data scripts and OBJ models with materials;
then the seeds of the readers' own targets, copied from tests/data or laid
out here.  Run from the repository (after fuzz/make-seeds.tcl, whose files
some of them copy): fuzz/make-seeds.py"""
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


# ---- the readers' own targets ----

def copy_fixtures(target, folder, names):
    for name in names:
        with open(os.path.join(REPO, "tests", "data", folder, name), "rb") as f:
            put(target, name, f.read())


REPO = os.path.dirname(HERE)
TIFFS = sorted(n for n in os.listdir(os.path.join(REPO, "tests", "data", "tiff")) if n.endswith(".tif"))
DICOMS = sorted(n for n in os.listdir(os.path.join(REPO, "tests", "data", "dicom")) if n.endswith(".dcm"))
GIFS = sorted(n for n in os.listdir(os.path.join(REPO, "tests", "data", "gif")) if n.endswith(".gif"))
copy_fixtures("tifftags", "tiff", TIFFS)
copy_fixtures("dicomtags", "dicom", DICOMS)
copy_fixtures("scangif", "gif", GIFS)
# The sniffer gets one file of every format it knows.
copy_fixtures("sniffer", "formats", ["bilevel.xbm", "colour.lan", "colour.ppm", "grey.pgm",
                                     "colour8.bmp", "rle8.bmp", "topdown24.bmp"])
copy_fixtures("sniffer", "gif", ["anim.gif", "local.gif"])
copy_fixtures("sniffer", "jpeg", ["grey.jpg", "progressive.jpg"])
copy_fixtures("sniffer", "tiff", ["rgb8-mm.tif", "tiled.tif", "twopage.tif", "geo.tif"])
copy_fixtures("sniffer", "dicom", ["rgb.dcm", "frames8-implicit.dcm"])
copy_fixtures("sniffer", "gpz/sub", ["img.gpz"])
for target, name in (("imagedef", "bsq-byte.img"), ("erdas", "e74-ushort.img"),
                     ("elas", "elas-byte.img"), ("fftfile", "pattern.fft")):
    with open(os.path.join(HERE, "corpus", target, name), "rb") as f:
        put("sniffer", name, f.read())


# DICOM files with palettes and frame times, explicit VR little-endian.
def dicom_element(group, element, vr, value):
    if len(value) % 2:
        value += b"\0" if vr in (b"UI", b"OB") else b" "
    head = struct.pack("<HH", group, element) + vr
    if vr in (b"OB", b"OW", b"SQ", b"UN", b"UT"):
        return head + b"\0\0" + struct.pack("<I", len(value)) + value
    return head + struct.pack("<H", len(value)) + value


def palette_dicom(count, depth, words, frame_time, frames=3, rows=4, columns=5):
    meta = dicom_element(0x0002, 0x0010, b"UI", b"1.2.840.10008.1.2.1")
    body = [(0x0008, 0x0060, b"CS", b"OT")]
    if frame_time is not None:
        body.append((0x0018, 0x1063, b"DS", frame_time))
    body += [(0x0028, 0x0002, b"US", struct.pack("<H", 1)),
             (0x0028, 0x0004, b"CS", b"PALETTE COLOR"),
             (0x0028, 0x0008, b"IS", str(frames).encode()),
             (0x0028, 0x0010, b"US", struct.pack("<H", rows)),
             (0x0028, 0x0011, b"US", struct.pack("<H", columns)),
             (0x0028, 0x0100, b"US", struct.pack("<H", 8)),
             (0x0028, 0x0101, b"US", struct.pack("<H", 8)),
             (0x0028, 0x0103, b"US", struct.pack("<H", 0))]
    for element in (0x1101, 0x1102, 0x1103):
        body.append((0x0028, element, b"US", struct.pack("<3H", count, 0, depth)))
    for channel, element in enumerate((0x1201, 0x1202, 0x1203)):
        table = [(i * (channel + 3) * 257) & 0xffff for i in range(words)]
        body.append((0x0028, element, b"OW", struct.pack("<%dH" % words, *table)))
    body.append((0x7fe0, 0x0010, b"OB", bytes((i * 7) % 256 for i in range(rows * columns * frames))))
    return b"\0" * 128 + b"DICM" + meta + b"".join(dicom_element(*e) for e in body)


for name, args in (("palette16.dcm", (16, 8, 16, b"40.5")),
                   ("palette-all-words.dcm", (0, 16, 256, b"33.3")),
                   ("palette-short-table.dcm", (256, 16, 3, b"-2")),
                   ("palette-no-table.dcm", (200, 8, 0, b"abc")),
                   ("frame-time-huge.dcm", (4, 8, 4, b"1e308")),
                   ("frame-time-none.dcm", (4, 8, 4, None))):
    data = palette_dicom(*args)
    put("dicompalette", name, data)
    put("dicomtags", name, data)
copy_fixtures("dicompalette", "dicom", ["palette-rle.dcm", "frames8-bare.dcm", "frames8-implicit.dcm"])


# TERRA sets whose tiles are real GIF and JPEG files: n = 2, tiles 0, 1 and 3.
def terra_set(tiles):
    n = 2
    head_size = 48 + 8 * n * n
    index, body, offset = [], b"", head_size
    for tile in tiles:
        if tile is None:
            index.append((0, 0))
            continue
        index.append((offset, len(tile)))
        body += tile
        offset += len(tile)
    stored = sum(1 for t in tiles if t is not None)
    head = b"TERRA\0\0\0" + struct.pack("<B3x", 0) + struct.pack(
        "<9i", head_size + len(body), head_size, n, stored, 1, 21, 32, 3, 5)
    return head + b"".join(struct.pack("<2i", o, l) for o, l in index) + body


def fixture(folder, name):
    with open(os.path.join(REPO, "tests", "data", folder, name), "rb") as f:
        return f.read()


put("terratile", "gif-jpeg.terra", terra_set([fixture("gif", "colour89.gif"), fixture("jpeg", "grey.jpg"),
                                              None, fixture("gif", "local.gif")]))
put("terratile", "progressive.terra", terra_set([None, fixture("jpeg", "progressive.jpg"), None, None]))
with open(os.path.join(HERE, "corpus", "terra", "defined.terra"), "rb") as f:
    put("terratile", "defined.terra", f.read())


# GPZ images: the 2064-byte head (its data name is set by the target), then
# the data file's bytes.
def gpz_image(columns, rows, bands, code, data, indices=0):
    head = bytearray(2064)
    head[0:4] = b"GPZ1"
    struct.pack_into("<i", head, 8 + 136, 0)
    struct.pack_into("<4i", head, 8 + 172, columns, rows, bands, code)
    struct.pack_into("<4d", head, 8 + 264, 100.0, 200.0, 0.5, -0.25)
    struct.pack_into("<i", head, 8 + 892, indices)
    for i in range(min(indices, 256)):
        struct.pack_into("<4B", head, 8 + 1032 + 4 * i, i, 255 - i, i // 2, 0)
    return bytes(head) + data


put("gpzimage", "byte-2bands.gpz", gpz_image(4, 3, 2, 1, bytes(range(0, 240, 10))))
put("gpzimage", "bit.gpz", gpz_image(13, 2, 1, 0, b"\xa5\x0f\xff\x00"))
put("gpzimage", "short.gpz", gpz_image(3, 2, 1, 2, struct.pack("<6h", -5, 0, 7, 300, -300, 1)))
put("gpzimage", "float.gpz", gpz_image(2, 2, 1, 4, struct.pack("<4f", 0.5, -1e30, 3.25, 1e-3)))
put("gpzimage", "ulong-palette.gpz", gpz_image(2, 1, 1, 9, struct.pack("<2I", 1, 4000000000), 300))
put("gpzimage", "short-data.gpz", gpz_image(4, 3, 2, 1, bytes(10)))

# gconv kernels: each type, a normalised form and refused ones.
for name, text in (("2d.kn", "2D 3 3 1 2 1 2 4 2 1 2 1"), ("1ds.kn", "1Ds 3 5 1 2 1 1 1 3 1 1"),
                   ("dynamic.kn", "dynamic 5 3"), ("median.kn", "median 3 3"),
                   ("commas.kn", "2D,2,2,\n0.25,0.25\n0.25,0.25"), ("short.kn", "2D 2 2 1 2 3"),
                   ("long.kn", "1Ds 1 1 1 1 9"), ("huge.kn", "2D 100 100 1")):
    put("gconvkernel", name, text.encode())

# Saved projection objects: the first byte picks proj, cs2cs, geod or nad2nad.
for name, kind, text in (
        ("merc.proj", 0, "proj=merc ellps=clrk66"),
        ("utm.proj", 0, "  +proj=utm +zone=32 +ellps=WGS84\n"),
        ("utm.cs2cs", 1, "-ics {proj=latlong ellps=WGS84} -ocs {proj=utm zone=32 ellps=WGS84} "
                         "-ix 9 -iy 48 -ox 500000 -oy 5316300.22445 -rev 1 -fmt %.3f"),
        ("wgs.geod", 2, "-geod ellps=WGS84 -inv 1 -lat_1 0 -lon_1 0 -lat_2 0 -lon_2 1 -fmt %.6f"),
        ("fwd.geod", 2, "-geod R=6370997 -inv 0 -lat_1 10 -lon_1 20 -A 45 -S 100000"),
        ("zones.nad", 3, "-inad 27,utm=10 -onad 27,utm=11 -ix 500000 -iy 3000000 -fmt %.3f"),
        ("rev.nad", 3, "-inad 27,rev -onad 83 -r conus -ix 50 -iy 10")):
    put("projobject", name, bytes([kind]) + text.encode())

# glload: the first byte picks the type, the second the offset.
put("glload", "shorts.bin", bytes([3, 1]) + struct.pack("<3h", 1, -2, 300))
put("glload", "floats.bin", bytes([6, 3]) + b"abc" + struct.pack("<2f", 0.5, -2.0))
put("glload", "odd.bin", bytes([5, 1]) + b"12345")

# calc loadtime: the first byte picks the offset.
put("loadtime", "stamps.bin", bytes([2]) + struct.pack("<3ih", 1, 2, -3, 7))
put("loadtime", "offset.bin", bytes([6]) + struct.pack("<5i", 10, 20, 30, 40, 50))

# The GCP editor: records to load, and a help file.
put("gcpedit", "records.txt", b"# id x1 y1 x2 y2\n1 0 0 10 20\n2 1 0 12 21\noops\n"
    b"3 0 1 11 23\n4 1 1 14 24\n5 2 1 15 22.5\n6 0 2 9 26\n")
put("gcpedit", "help.hlp", b"@help\nCommands: add list quit\n@end\n\n@LIST\nlist ?from? ?to?\n@END\n")

# The projection programs' input: the first byte picks the program and its options.
for name, run, text in (
        ("proj.txt", 0, "9 48\n# tag line\n9d30'E 48d15'N rest\nbad\n"),
        ("proj-inverse.txt", 1, "500000 5316300.22\n0 0\n"),
        ("proj-verbose.txt", 2, "10 45\nI 1000 2000\n"),
        ("proj-binary.bin", 3, struct.pack("<4d", 0.1, 0.8, -0.5, 0.2).decode("latin-1")),
        ("proj-echo.txt", 4, "45 10 extra text\n"),
        ("cs2cs.txt", 5, "9 48 100\n9.5 48.5\n"),
        ("geod.txt", 6, "42.25 -71.12 -66.53 4164192.6\n"),
        ("geod-inverse.txt", 7, "42.25 -71.12 45.52 -123.68\n"),
        ("nad2nad.txt", 8, "500000 3000000\n# tag\n100 10\n")):
    put("projinput", name, bytes([run]) + text.encode("latin-1"))
