#!/usr/bin/python3
"""Hot paths against the field's tools, in one run on one machine.

    /usr/bin/python3 bench/hotpaths_bench.py [build] [--only NAME,...] [--big]

Installs the peers it lacks (apt), makes its data in a temporary folder
(pseudo-random where bench/README.md says so), times each row on both sides
(best of three), and prints the time ratio ours / peer and both peak RSS.
Rows whose kernels use threads run twice: VESK_THREADS=1 and the default.
Our side runs in wish (under xvfb-run when there is no display); its time
is taken inside the process around the command unless the row says
"whole process".
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

PEERS = {  # program or module -> Debian package
    "cv2": "python3-opencv", "numpy": "python3-numpy", "djpeg": "libjpeg-turbo-progs",
    "cjpeg": "libjpeg-turbo-progs", "cs2cs": "proj-bin", "vips": "libvips-tools",
    "xvfb-run": "xvfb", "osgeo": "python3-gdal",
}
REPEATS = 3


def install_peers():
    missing = set()
    for name, package in PEERS.items():
        if name in ("cv2", "numpy", "osgeo"):
            if subprocess.call(["/usr/bin/python3", "-c", "import " + name],
                               stderr=subprocess.DEVNULL) != 0:
                missing.add(package)
        elif not shutil.which(name):
            missing.add(package)
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.check_call(sudo + ["apt-get", "-o", "DPkg::Lock::Timeout=600", "install", "-y",
                                  "--no-install-recommends"] + sorted(missing), env=env)


def run(argv, env=None):
    """Runs a process to its end; its stdout text (each side reports its own peak RSS)."""
    p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, env=env)
    out, err = p.communicate()
    if p.returncode != 0:
        raise RuntimeError("%s failed:\n%s%s" % (argv[0], out.decode()[-2000:], err.decode()))
    return out.decode(errors="replace")


def whole_process(argv, stdin=None):
    """Best-of wall time of a whole process and its peak RSS in MiB."""
    best, rss = 1e30, 0.0
    for _ in range(REPEATS):
        with open(stdin, "rb") if stdin else open(os.devnull, "rb") as inp, \
                open(os.devnull, "wb") as sink:
            start = time.perf_counter()
            p = subprocess.Popen(argv, stdin=inp, stdout=sink, stderr=subprocess.DEVNULL)
            _, status, usage = os.wait4(p.pid, 0)
            best = min(best, time.perf_counter() - start)
            rss = max(rss, usage.ru_maxrss / 1024.0)
        if status != 0:
            raise RuntimeError("%s failed" % argv[0])
    return best, rss


class Ours:
    """Our side: a wish script that prints TIME and RSS lines."""

    def __init__(self, build, folder):
        self.lib = os.path.join(os.path.abspath(build), "lib", "libvesk81.so")
        self.folder = folder
        self.home = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                 "data", "home")

    def time(self, setup, work, threads=None):
        script = os.path.join(self.folder, "ours.tcl")
        with open(script, "w") as f:
            f.write("""package require Tk
wm withdraw .
load %s
set dir %s
%s
proc work {} {%s}
set best 1e30
for {set i 0} {$i < %d} {incr i} {
    set t [clock microseconds]
    work
    set best [expr {min($best, ([clock microseconds] - $t) / 1e6)}]
}
set f [open /proc/self/status]
regexp {VmHWM:\\s+(\\d+)} [read $f] -> hwm
close $f
puts "TIME $best"
puts "RSS [expr {$hwm / 1024.0}]"
exit
""" % (self.lib, self.folder, setup, work, REPEATS))
        env = dict(os.environ, GHOME=self.home)
        if threads is not None:
            env["VESK_THREADS"] = str(threads)
        argv = ["wish", script]
        if not os.environ.get("DISPLAY"):
            argv = ["xvfb-run", "-a", "-s", "-screen 0 640x480x24"] + argv
        out = run(argv, env=env)
        t = float(re.search(r"TIME (\S+)", out).group(1))
        rss = float(re.search(r"RSS (\S+)", out).group(1))
        return t, rss


def peer_python(setup, work):
    """A numpy/OpenCV peer in its own process: best-of time of work and peak RSS."""
    code = """import resource, time
import numpy as np
%s
best = 1e30
for _ in range(%d):
    t = time.perf_counter()
%s
    best = min(best, time.perf_counter() - t)
print("TIME", best)
print("RSS", int(open("/proc/self/status").read().split("VmHWM:")[1].split()[0]) / 1024.0)
""" % (setup, REPEATS, "\n".join("    " + l for l in work.strip().splitlines()))
    out = run(["/usr/bin/python3", "-c", code])
    return float(re.search(r"TIME (\S+)", out).group(1)), \
        float(re.search(r"RSS (\S+)", out).group(1))


def write_lan(path, array, pack):
    """An ERDAS 7.4 file (band-interleaved by line) holding array[bands, rows, columns]."""
    bands, rows, columns = array.shape
    head = bytearray(128)
    head[0:6] = b"HEAD74"
    struct.pack_into("<hh", head, 6, pack, bands)
    struct.pack_into("<ii", head, 16, columns, rows)
    with open(path, "wb") as f:
        f.write(head)
        f.write(array.transpose(1, 0, 2).tobytes())


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
        f.write(struct.pack("<64s128s", b"bench", b"hotpaths_bench.py"))
        for c in range(k):
            f.write(struct.pack("<32s32sii%df%df" % (n, len(cov)), b"c%d" % c, b"", 1000, c,
                                *means[c], *cov))


def make_data(folder, big):
    import numpy as np
    rng = np.random.default_rng(16)
    side = 4096
    data = {}
    a = rng.random((1, side, side), dtype=np.float32) * 200 - 100
    b = rng.random((1, side, side), dtype=np.float32) * 200 - 100
    data["a"], data["b"] = os.path.join(folder, "a.lan"), os.path.join(folder, "b.lan")
    write_lan(data["a"], a, 4)
    write_lan(data["b"], b, 4)
    data["ab"] = os.path.join(folder, "ab.lan")
    write_lan(data["ab"], np.concatenate([a, b]), 4)
    # The same pixels as a vips image, and a 3 x 3 box as a vips matrix.
    data["av"] = os.path.join(folder, "a.v")
    subprocess.check_call(["vips", "rawload", data["a"], data["av"], str(side), str(side), "1",
                           "--offset", "128", "--format", "float"])
    data["box3"] = os.path.join(folder, "box3.mat")
    with open(data["box3"], "w") as f:
        f.write("3 3 1 0\n1 1 1\n1 1 1\n1 1 1\n")
    seeds = (rng.random((1, side, side)) < 0.001).astype(np.uint8)
    data["seeds"] = os.path.join(folder, "seeds.lan")
    write_lan(data["seeds"], seeds, 0)
    rgb = rng.integers(0, 256, (3, side, side), dtype=np.uint8)
    data["rgb"] = os.path.join(folder, "rgb.lan")
    write_lan(data["rgb"], rgb, 0)
    # 16 class means over the RGB bytes, for the nearest-mean rule.
    means = rng.integers(0, 256, (16, 3)).astype(np.float32)
    data["means"] = means.tolist()
    data["stat"] = os.path.join(folder, "sixteen.stat")
    write_stat(data["stat"], means)
    # The JPEG: a smooth picture with some noise, as photographs are.
    n = 10000 if big else 4096
    y, x = np.mgrid[0:n, 0:n].astype(np.float32)
    planes = [127 + 100 * np.sin(x / 97.0 + k) * np.cos(y / 61.0 - k) for k in range(3)]
    pic = np.stack(planes, axis=-1) + rng.normal(0, 12, (n, n, 3)).astype(np.float32)
    pic = np.clip(pic, 0, 255).astype(np.uint8)
    data["ppm"] = os.path.join(folder, "pic.ppm")
    with open(data["ppm"], "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (n, n))
        f.write(pic.tobytes())
    del pic, planes, x, y
    data["jpeg"] = os.path.join(folder, "pic.jpg")
    subprocess.check_call(["cjpeg", "-quality", "90", "-outfile", data["jpeg"], data["ppm"]])
    data["jpegSide"] = n
    # A pixel-interleaved RGB TIFF of pseudo-random bytes (GDAL writes it).
    from osgeo import gdal
    t = 10000 if big else 4096
    data["tiff"] = os.path.join(folder, "rgb.tif")
    tif = gdal.GetDriverByName("GTiff").Create(data["tiff"], t, t, 3, gdal.GDT_Byte,
                                               ["INTERLEAVE=PIXEL"])
    for k in range(3):
        tif.GetRasterBand(k + 1).WriteArray(rng.integers(0, 256, (t, t), dtype=np.uint8))
    tif = None
    data["tiffSide"] = t
    # 1,000,000 points in degrees around 9E 48N.
    pts = np.stack([rng.uniform(6, 12, 1000000), rng.uniform(40, 56, 1000000)], axis=1)
    data["points"] = os.path.join(folder, "points.txt")
    np.savetxt(data["points"], pts, fmt="%.6f")
    return data


def load_memory(tag, path):
    """Tcl: a memory image tag loaded with the pixels of a file image."""
    return ("rimage open %s MBIL %s\nset %s [rimage bind -file %s]\n"
            "$%s = [rimage bind -file %s -obj %s_file]\n%s_file unbind\n"
            % (tag, path, tag, tag, tag, path, tag, tag))


def rows(data, ours, only):
    side = 4096
    numpy_load = ("def lan(p, bands, dtype):\n"
                  "    a = np.fromfile(p, dtype=dtype, offset=128)\n"
                  "    return a.reshape(%d, bands, %d).transpose(1, 0, 2).copy()\n"
                  % (side, side))
    cv2 = "import cv2\ncv2.setNumThreads(%d)\n"
    gauss9 = " ".join("%g" % (0.01 * (1 + (i % 9) + (i // 9))) for i in range(81))
    box3 = "1 1 1 1 1 1 1 1 1"
    cases = []

    def case(name, threaded, our, peer, note=""):
        if only and name not in only:
            return
        cases.append((name, threaded, our, peer, note))

    float_out = "rimage open c MBIL -columns %d -rows %d -nbands 1 -pixel FLOAT\n" % (side, side)
    case("add", True, lambda t: ours.time(load_memory("a", data["a"]) + load_memory("b", data["b"]),
                                          "$::a + b", t),
         lambda t: peer_python(numpy_load + "a = lan(%r, 1, np.float32)\nb = lan(%r, 1, np.float32)"
                               % (data["a"], data["b"]), "np.add(a, b, out=a)"))
    case("mul", True, lambda t: ours.time(load_memory("a", data["a"]), "$::a * 1.0001", t),
         lambda t: peer_python(numpy_load + "a = lan(%r, 1, np.float32)" % data["a"],
                               "np.multiply(a, np.float32(1.0001), out=a)"))
    for name, kernel, size, cvk in (("gconv3", box3, 3, "np.ones((3, 3), np.float32)"),
                                    ("gconv9", gauss9, 9, "np.array([%s], np.float32).reshape(9, 9)"
                                     % gauss9.replace(" ", ","))):
        case(name, True,
             lambda t, kernel=kernel, size=size: ours.time(
                 load_memory("a", data["a"]) + float_out,
                 "rimage gconv -in a -out c -kn {@2D %d %d %s}" % (size, size, kernel), t),
             lambda t, cvk=cvk: peer_python(
                 cv2 % t + numpy_load + "a = lan(%r, 1, np.float32)[0]\nk = %s" % (data["a"], cvk),
                 "c = cv2.filter2D(a, -1, k, borderType=cv2.BORDER_REPLICATE)"))
    # libvips with all its threads, whole process: the input as a .v file,
    # the result written to one (vips has no way to keep it in memory).
    case("gconv3-vips", False,
         lambda t: ours.time(load_memory("a", data["a"]) + float_out,
                             "rimage gconv -in a -out c -kn {@2D 3 3 %s}" % box3, t),
         lambda t: whole_process(["vips", "conv", data["av"],
                                  os.path.join(os.path.dirname(data["av"]), "conv.v"),
                                  data["box3"], "--precision", "float"]),
         "ours all threads inside the process, vips conv whole process, all threads")
    case("dist", True,
         lambda t: ours.time(load_memory("s", data["seeds"]) +
                             "rimage open d MBIL -columns %d -rows %d -nbands 1 -pixel BYTE\n"
                             % (side, side), "rimage dist -in s -out d -c 1", t),
         lambda t: peer_python(cv2 % t + numpy_load + "s = (lan(%r, 1, np.uint8)[0] == 0)"
                               ".astype(np.uint8)" % data["seeds"],
                               "d = cv2.distanceTransform(s, cv2.DIST_L2, cv2.DIST_MASK_PRECISE)"))
    # Modules that make or fill a FLOAT output from a; ours makes its
    # output inside the timed work, as the peer allocates its own.
    def remake(tag, columns, rows, extra=""):
        return ("catch {rimage close %s}\nrimage open %s MBIL -columns %d -rows %d -nbands 1 "
                "-pixel FLOAT %s\n" % (tag, tag, columns, rows, extra))
    for name, our_work, peer_work in (
            ("resample2x", remake("o", 2 * side, 2 * side, "-dx 0.5 -dy 0.5") +
             "rimage resample -in a -out o -rsp BI",
             "c = cv2.resize(a, (%d, %d), interpolation=cv2.INTER_LINEAR)" % (2 * side, 2 * side)),
            ("resampleAVG", remake("o", side // 2, side // 2, "-dx 2 -dy 2") +
             "rimage resample -in a -out o -rsp AVG",
             "c = cv2.resize(a, (%d, %d), interpolation=cv2.INTER_AREA)" % (side // 2, side // 2)),
            ("zoomCC", "catch {rimage close o}\nrimage gsfzoom -in a -out o -s 2",
             "c = cv2.resize(a, (%d, %d), interpolation=cv2.INTER_CUBIC)"
             % (2 * side - 1, 2 * side - 1)),
            ("zoomAVG", "catch {rimage close o}\nrimage gsfzoom -in a -out o -s 2 -rs AVG",
             "c = cv2.resize(a, (%d, %d), interpolation=cv2.INTER_AREA)" % (side // 2, side // 2)),
            ("georef", "rimage georef -in a -out g -p @30 -rs BI",
             "c = cv2.warpAffine(a, M, (%d, %d), flags=cv2.INTER_LINEAR)" % (side, side))):
        case(name, True,
             lambda t, w=our_work: ours.time(
                 float_out.replace(" c ", " a ").replace("-pixel FLOAT", "-pixel FLOAT -dx 1 -dy 1") +
                 "rimage bind -file a -obj A\nA = [rimage bind -file %s -obj F]\nF unbind\n"
                 "A unbind\n" % data["a"] + float_out.replace(" c ", " g "), w, t),
             lambda t, w=peer_work: peer_python(
                 cv2 % t + numpy_load + "a = lan(%r, 1, np.float32)[0]\n"
                 "M = cv2.getRotationMatrix2D((%d, %d), 30, 1.0)" % (data["a"], side // 2,
                                                                     side // 2), w))
    case("nratio", True,
         lambda t: ours.time(load_memory("ab", data["ab"]) + float_out,
                             "rimage calc -in ab -out c -f nratio -b 1,2", t),
         lambda t: peer_python(numpy_load + "ab = lan(%r, 2, np.float32)\na, b = ab[0], ab[1]"
                               % data["ab"], "c = (a - b) / (a + b)"),
         "numpy as a script writes it (one thread)")
    case("classify", True,
         lambda t: ours.time(load_memory("r", data["rgb"]) +
                             "rimage open cl MBIL -columns %d -rows %d -nbands 1 -pixel BYTE\n"
                             % (side, side),
                             "rimage classify -in r -out cl -stat %s -tshd 1000" % data["stat"], t),
         lambda t: peer_python(
             numpy_load + "r = lan(%r, 3, np.uint8)\npx = r.reshape(3, -1).T.astype(np.float32)\n"
             "means = np.array(%r, np.float32)\ncl = np.empty(px.shape[0], np.uint8)"
             % (data["rgb"], data["means"]),
             "for s in range(0, px.shape[0], 1 << 16):\n"
             "    d = ((px[s:s + (1 << 16), None, :] - means[None]) ** 2).sum(-1)\n"
             "    cl[s:s + (1 << 16)] = d.argmin(1)"),
         "nearest of 16 means over 3 bands; numpy in blocks (one thread)")
    case("stats", True,
         lambda t: ours.time(load_memory("r", data["rgb"]), "rimage hist -imgid r -list stats", t),
         lambda t: peer_python(cv2 % t + numpy_load + "r = lan(%r, 3, np.uint8)" % data["rgb"],
                               "for k in range(3):\n"
                               "    m, s = cv2.meanStdDev(r[k])\n"
                               "    h = cv2.calcHist([r[k]], [0], None, [256], [0, 256])"))
    case("tiff-stats", False,
         lambda t: ours.time("", "set t [rimage open %s]\nrimage hist -imgid $t -list stats\n"
                             "rimage close $t" % data["tiff"], t),
         lambda t: whole_process(["vips", "stats", data["tiff"],
                                  os.path.join(os.path.dirname(data["tiff"]), "stats.v")]),
         "ours inside the process (open, read, statistics), vips stats whole process, all threads")
    n = data["jpegSide"]
    case("jpeg-decode", False,
         lambda t: ours.time("", "set j [rimage bind -file %s -obj j]\nj vget 0 0\nj unbind"
                             % data["jpeg"], t),
         lambda t: whole_process(["djpeg", "-outfile", os.devnull, data["jpeg"]]),
         "ours inside the process, djpeg whole process")
    case("jpeg-encode", False,
         lambda t: ours.time(
             "set src [rimage bind -file %s -obj src]\nsrc vget 0 0\n" % data["jpeg"],
             "file delete $::dir/out.jpg\n"
             "rimage create -file $::dir/out.jpg -imgid JPEG -columns %d -rows %d -nbands 3 "
             "-pixel BYTE -block 90\nset o [rimage bind -file $::dir/out.jpg -obj o]\n"
             "o = src\no unbind" % (n, n), t),
         lambda t: whole_process(["cjpeg", "-quality", "90", "-outfile", os.devnull, data["ppm"]]),
         "ours inside the process, cjpeg whole process")
    cs2cs = ["+proj=latlong", "+datum=WGS84", "+to", "+proj=utm", "+zone=32", "+datum=WGS84"]
    case("cs2cs", False,
         lambda t: ours.time("", "catch {cs2cs %s %s}" % (" ".join(cs2cs), data["points"]), t),
         lambda t: whole_process(["cs2cs"] + cs2cs, stdin=data["points"]),
         "ours inside the process (stdout to a pipe), PROJ's cs2cs whole process")
    return cases


def main():
    args = sys.argv[1:]
    if args and args[0] == "--make-data":
        print(repr(make_data(args[1], "--big" in args)))
        return
    only = set()
    big = "--big" in args
    if "--only" in args:
        only = set(args[args.index("--only") + 1].split(","))
    build = next((a for a in args if not a.startswith("--") and "," not in a), "build")
    install_peers()
    folder = tempfile.mkdtemp(prefix="vesk-hot-")
    try:
        out = run(["/usr/bin/python3", os.path.abspath(__file__), "--make-data", folder] +
                  (["--big"] if big else []))
        data = eval(out.strip().splitlines()[-1])
        ours = Ours(build, folder)
        print("%-12s %-8s %10s %10s %7s %9s %9s" %
              ("row", "threads", "ours s", "peer s", "ratio", "ours MiB", "peer MiB"))
        for name, threaded, our, peer, note in rows(data, ours, only):
            for threads in ((1, None) if threaded else (None,)):
                t0, r0 = our(threads)
                t1, r1 = peer(threads if threads else os.cpu_count())
                print("%-12s %-8s %10.4f %10.4f %7.2f %9.1f %9.1f %s" %
                      (name, "1" if threads == 1 else "all", t0, t1, t0 / t1, r0, r1, note))
                sys.stdout.flush()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
