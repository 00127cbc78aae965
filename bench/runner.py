#!/usr/bin/python3
"""Every benchmark row, ours against its peer, in one run.

    /usr/bin/python3 bench/runner.py [--build DIR] [--runs N] [--quick] [--only ROW,...]
                                     [--threads 1|all|both] [--core C] [--data DIR] [--list]

Prints the date, the machine and the build at the top, then one table line
for each row and thread setting: the method (in-process: each side timed
inside its own long-lived process around the command, on inputs prepared
before; whole process: each side a whole process started the same way),
the minimum and the median of N interleaved runs of each side (ours, peer,
ours, peer ...; one untimed run of each first), both peak RSS and the time
ratios ours / peer.  One thread: both sides under `taskset -c C` with
VESK_THREADS=1, OMP_NUM_THREADS=1, VIPS_CONCURRENCY=1 ... and OpenCV's
cv2.setNumThreads(1); all threads: every side at its defaults.

A row is one entry of ROWS below: in-process sides speak the protocol of
benchlib.tcl's serveRow (rows.tcl, rows_peers.py and the canvas scripts do),
whole-process sides are command lines.  --quick runs small sizes twice to
check that every row works; its figures mean nothing.
"""
import argparse
import datetime
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)
PY = "/usr/bin/python3"
WISH = "wish8.6"


class Side:
    """One side of a row.  kind "serve": argv of a process that speaks the row
    protocol, asked for `side`; "same": the side `side` of ours's process;
    "once": argv of a whole process (stdin: a file to read, or None)."""

    def __init__(self, kind, argv=None, side=None, stdin=None, label=""):
        self.kind, self.argv, self.side, self.stdin, self.label = kind, argv, side, stdin, label


def tcl(row):
    return Side("serve", [WISH, "{bench}/rows.tcl", "serve", row, "{n}", "{data}"], "ours")


def tcl_once(row):
    return Side("once", [WISH, "{bench}/rows.tcl", "once", row, "{n}", "{data}"])


def py(row, label):
    return Side("serve", [PY, "{bench}/rows_peers.py", row, "{n}", "{data}"], "peer", label=label)


def same(label):
    return Side("same", side="peer", label=label)


def once(argv, label, stdin=None):
    return Side("once", argv, stdin=stdin, label=label)


class Row:
    def __init__(self, name, issue, size, quick, needs, ours, peer, threads=("1", "all"),
                 note=""):
        self.name, self.issue, self.size, self.quick = name, issue, size, quick
        self.needs, self.ours, self.peer, self.threads, self.note = needs, ours, peer, threads, note
        self.method = "whole process" if ours.kind == "once" else "in-process"


def floats(d, n):
    d.floats(n)


def nothing(d, n):
    pass


# name, issue(s), size, quick size, data maker, ours, peer, threads.
ROWS = [
    # Issue 35.
    Row("pipelineA", "35", 10000, 1000, lambda d, n: d.tiff(n), tcl_once("pipelineA"),
        once(["{work}/pipeline_a", "{data}/rgb-{n}.tif", "out-vips.tif"],
             "vips C pipeline (pipeline_a.c)"),
        note="crop 100 px each side, shrink to 90 % bilinear, 3x3 sharpen, TIFF"),
    Row("jpegDecode", "35", 10000, 1000, lambda d, n: d.picture(n), tcl_once("jpegDecode"),
        once(["djpeg", "-outfile", "/dev/null", "{data}/pic-{n}.jpg"], "djpeg"),
        note="ours: open, statistics of every band (one read in order), close"),
    Row("jpegRecode", "35", 10000, 1000, lambda d, n: d.picture(n), tcl_once("jpegRecode"),
        once(["sh", "-c", "djpeg {data}/pic-{n}.jpg | cjpeg -quality 90 > out-peer.jpg"],
             "djpeg | cjpeg"),
        note="decode and encode again at quality 90; peer RSS: the larger of the two"),
    Row("dist", "35 36", 4096, 512, lambda d, n: d.seeds(n), tcl("dist"),
        py("dist", "cv2.distanceTransform L2 PRECISE")),
    Row("georef", "35 36", 4096, 512, floats, tcl("georef"),
        py("georef", "cv2.warpAffine INTER_LINEAR")),
    Row("resample2x", "35 36", 4096, 512, floats, tcl("resample2x"),
        py("resample2x", "cv2.resize INTER_LINEAR")),
    Row("zoomCC", "35 36", 4096, 512, floats, tcl("zoomCC"),
        py("zoomCC", "cv2.resize INTER_CUBIC")),
    Row("add-cv2", "35", 4096, 512, floats, tcl("add"), py("add_cv2", "cv2.add (dst)")),
    Row("mul-cv2", "35", 4096, 512, floats, tcl("mul"), py("mul_cv2", "cv2.multiply (dst)")),
    Row("gisoc", "35 36", 4096, 256, lambda d, n: d.clusters(n), tcl("gisoc"),
        py("gisoc", "sklearn KMeans")),
    Row("nratio", "35 36", 4096, 512, floats, tcl("nratio"),
        py("nratio_numpy", "numpy (a - b) / (a + b)")),
    Row("nratio-prealloc", "36", 4096, 512, floats, tcl("nratio"),
        py("nratio_prealloc", "numpy, outputs made before")),
    Row("nratio-numexpr", "35", 4096, 512, floats, tcl("nratio"),
        py("nratio_numexpr", "numexpr (out)")),
    Row("classify", "35", 4096, 512, lambda d, n: d.rgb(n), tcl("classify"),
        py("classify", "numpy nearest mean in blocks")),
    Row("tiffStats", "35", 10000, 1000, lambda d, n: d.tiff(n), tcl_once("tiffStats"),
        once(["vips", "stats", "{data}/rgb-{n}.tif", "stats-peer.v"], "vips stats")),
    Row("gconv3", "35 36", 4096, 512, floats, tcl("gconv3"),
        py("gconv3", "cv2.filter2D")),
    Row("rotate", "35", 4096, 512, floats, tcl("rotate"), py("rotate", "cv2.rotate (dst)")),
    Row("cs2cs", "35", 1000000, 10000, lambda d, n: d.points(n), tcl_once("cs2cs"),
        once(["cs2cs", "+proj=latlong", "+datum=WGS84", "+to", "+proj=utm", "+zone=32",
              "+datum=WGS84"], "PROJ cs2cs", stdin="{data}/points-{n}.txt"),
        threads=("1",)),
    # Issue 36.
    Row("fft", "36", 2048, 256, lambda d, n: d.grey(n), tcl("fft"),
        py("fft", "scipy.fft complex64"),
        note="ours file to file (page cache), scipy in memory"),
    Row("zoomAVG", "36", 4096, 512, floats, tcl("zoomAVG"),
        py("areaHalf", "cv2.resize INTER_AREA")),
    Row("resampleAVG", "36", 4096, 512, floats, tcl("resampleAVG"),
        py("areaHalf", "cv2.resize INTER_AREA")),
    Row("gconv3-2048", "36", 2048, 256, floats, tcl("gconv3"), py("gconv3", "cv2.filter2D")),
    Row("gconv9", "36", 4096, 512, floats, tcl("gconv9"), py("gconv9", "cv2.filter2D")),
    Row("mul-numpy", "36", 4096, 512, floats, tcl("mul"),
        py("mul_numpy", "numpy a *= k")),
    Row("add-numpy", "36", 4096, 512, floats, tcl("add"),
        py("add_numpy", "numpy a += b")),
    Row("startup", "36", 0, 0, nothing,
        once([WISH, "{work}/startup-vesk.tcl"], ""),
        once([WISH, "{work}/startup-tk.tcl"], "wish with Tk alone"),
        threads=("1",), note="wish8.6 with `package require Vesk` against Tk alone"),
    # The canvas rows: both sides in one wish process.
    Row("canvasText", "canvas", 10000, 1000, nothing,
        Side("serve", [WISH, "{bench}/canvas_text.tcl", "{n}"], "ours"),
        same("Tk canvas -font"), threads=("1",),
        note="zoom of N text items: gcanvas -mx/-my against Tk's canvas -font"),
    Row("canvasObjects", "canvas", 50000, 2000, nothing,
        Side("serve", [WISH, "{bench}/canvas_objects.tcl", "{n}"], "ours"),
        same("polygon items"), threads=("1",),
        note="full redraw: one object item of N polygons against N polygon items"),
    # Further rows of the earlier benches.
    Row("stats", "-", 4096, 512, lambda d, n: d.rgb(n), tcl("stats"),
        py("stats", "cv2.meanStdDev + calcHist")),
    Row("zoomBI", "-", 4096, 512, floats, tcl("zoomBI"),
        py("zoomBI", "cv2.resize INTER_LINEAR")),
    Row("transAVG", "-", 4096, 512, floats, tcl("transAVG"),
        py("areaHalf", "cv2.resize INTER_AREA")),
    Row("flip", "-", 4096, 512, floats, tcl("flip"), py("flip", "cv2.flip (dst)")),
    Row("crop", "-", 4096, 512, lambda d, n: d.seeds(n), tcl("crop"),
        py("crop", "numpy copyto")),
    Row("ptable", "-", 2048, 256, lambda d, n: d.natural(n), tcl("ptable"),
        py("unique", "np.unique axis=0"), threads=("1",)),
    Row("gisocTable", "-", 2048, 256, lambda d, n: d.natural(n), tcl("gisocTable"),
        py("kmeans_cv2", "cv2.kmeans K16"),
        note="gisoc defaults (pixel table, 128 classes at most) against kmeans K = 16"),
]

PEERS = {  # program or module -> Debian package
    "cv2": "python3-opencv", "numpy": "python3-numpy", "scipy": "python3-scipy",
    "sklearn": "python3-sklearn", "numexpr": "python3-numexpr", "djpeg": "libjpeg-turbo-progs",
    "cjpeg": "libjpeg-turbo-progs", "cs2cs": "proj-bin", "vips": "libvips-tools",
    "vips.pc": "libvips-dev", "xvfb-run": "xvfb", "xauth": "xauth", "taskset": "util-linux",
    "wish8.6": "tk8.6", "cc": "gcc", "pkg-config": "pkg-config", "/usr/bin/time": "time",
}
ONE_THREAD_ENV = {"VESK_THREADS": "1", "BENCH_THREADS": "1", "OMP_NUM_THREADS": "1",
                  "OPENBLAS_NUM_THREADS": "1", "MKL_NUM_THREADS": "1",
                  "NUMEXPR_NUM_THREADS": "1", "VIPS_CONCURRENCY": "1"}


def install_peers():
    missing = set()
    for name, package in PEERS.items():
        if name == "vips.pc":
            absent = subprocess.call(["pkg-config", "--exists", "vips"]) != 0 \
                if shutil.which("pkg-config") else True
        elif name in ("cv2", "numpy", "scipy", "sklearn", "numexpr"):
            absent = subprocess.call([PY, "-c", "import " + name], stderr=subprocess.DEVNULL) != 0
        else:
            absent = not shutil.which(name)
        if absent:
            missing.add(package)
    if missing:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.check_call(sudo + ["apt-get", "-o", "DPkg::Lock::Timeout=600", "install", "-y",
                                      "--no-install-recommends"] + sorted(missing), env=env)


def fill(argv, values):
    return [a.format(**values) for a in argv]


class Server:
    """A long-lived side: requests on its stdin, answers on a pipe whose
    descriptor it finds in BENCH_REPLY_FD."""

    def __init__(self, argv, env, cwd, log):
        r, w = os.pipe()
        self.log = log
        with open(log, "ab") as out:
            self.p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=out, stderr=out,
                                      env=dict(env, BENCH_REPLY_FD=str(w)), cwd=cwd,
                                      pass_fds=(w,))
        os.close(w)
        self.replies = os.fdopen(r)
        self.expect("ready")

    def expect(self, word):
        line = self.replies.readline().split(None, 1)
        if not line or line[0] != word:
            self.close()
            with open(self.log, errors="replace") as f:
                tail = f.read()[-3000:]
            raise RuntimeError("%s answered %r instead of %s; its output:\n%s"
                               % (" ".join(self.p.args), " ".join(line), word, tail))
        return line[1].strip() if len(line) > 1 else ""

    def ask(self, request, answer):
        self.p.stdin.write((request + "\n").encode())
        self.p.stdin.flush()
        return float(self.expect(answer))

    def close(self):
        try:
            self.p.stdin.close()
        except OSError:
            pass
        self.p.wait()
        self.replies.close()


def whole_process(argv, env, cwd, stdin, log):
    """Wall seconds and peak RSS (KiB) of one whole process.  GNU time starts it
    and tells its peak RSS: the rusage of a child of this process would count
    the pages of the runner it was forked from."""
    rss_file = os.path.join(cwd, "rss.txt")
    with open(stdin or os.devnull, "rb") as inp, open(log, "ab") as err:
        start = time.perf_counter()
        status = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", rss_file] + argv, stdin=inp,
                                 stdout=subprocess.DEVNULL, stderr=err, env=env, cwd=cwd)
        wall = time.perf_counter() - start
    if status != 0:
        with open(log, errors="replace") as f:
            tail = f.read()[-3000:]
        raise RuntimeError("%s failed (status %d):\n%s" % (" ".join(argv), status, tail))
    with open(rss_file) as f:
        return wall, int(f.read().split()[-1])


def measure(row, threads, args, values, env, work):
    """ours and peer times (lists of seconds) and peak RSS (KiB) of one row."""
    pin = ["taskset", "-c", str(args.core)] if threads == "1" else []
    log = os.path.join(work, "%s-%s.log" % (row.name, threads))
    ours_t, peer_t = [], []
    total = args.runs + (0 if args.quick else 1)
    if row.method == "whole process":
        ours_argv = pin + fill(row.ours.argv, values)
        peer_argv = pin + fill(row.peer.argv, values)
        ours_in = row.ours.stdin and row.ours.stdin.format(**values)
        peer_in = row.peer.stdin and row.peer.stdin.format(**values)
        ours_rss = peer_rss = 0
        for i in range(total):
            t, rss = whole_process(ours_argv, env, work, ours_in, log)
            t2, rss2 = whole_process(peer_argv, env, work, peer_in, log)
            ours_rss, peer_rss = max(ours_rss, rss), max(peer_rss, rss2)
            if i >= total - args.runs:
                ours_t.append(t)
                peer_t.append(t2)
        return ours_t, peer_t, ours_rss, peer_rss
    ours = Server(pin + fill(row.ours.argv, values), env, work, log)
    try:
        peer = ours if row.peer.kind == "same" else \
            Server(pin + fill(row.peer.argv, values), env, work, log)
        try:
            for i in range(total):
                t = ours.ask("run " + row.ours.side, "time")
                t2 = peer.ask("run " + row.peer.side, "time")
                if i >= total - args.runs:
                    ours_t.append(t)
                    peer_t.append(t2)
            ours_rss = ours.ask("rss", "rss")
            peer_rss = peer.ask("rss", "rss") if peer is not ours else ours_rss
        finally:
            if peer is not ours:
                peer.close()
    finally:
        ours.close()
    return ours_t, peer_t, ours_rss, peer_rss


def machine():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem = int(f.readline().split()[1]) / 1024 / 1024
    try:
        with open("/etc/debian_version") as f:
            debian = "Debian " + f.read().strip()
    except OSError:
        debian = platform.platform()
    return "%s, %d cores, %.0f GiB, %s, Linux %s" % (model, os.cpu_count(), mem, debian,
                                                   platform.release())


def build_info(build):
    commit = subprocess.run(["git", "-C", ROOT, "describe", "--always", "--dirty"],
                            capture_output=True, text=True).stdout.strip() or "?"
    kind, compiler = "?", "?"
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    kind = line.split("=", 1)[1].strip()
                elif line.startswith("CMAKE_CXX_COMPILER:"):
                    compiler = line.split("=", 1)[1].strip()
    except OSError:
        pass
    version = subprocess.run([compiler, "-dumpfullversion"], capture_output=True,
                             text=True).stdout.strip() if shutil.which(compiler) else ""
    return "commit %s, %s, %s %s" % (commit, kind, os.path.basename(compiler), version)


def peer_versions():
    code = ("import numpy, cv2, scipy, sklearn, numexpr; print('numpy %s, OpenCV %s, scipy %s, "
            "sklearn %s, numexpr %s' % (numpy.__version__, cv2.__version__, scipy.__version__, "
            "sklearn.__version__, numexpr.__version__))")
    py_side = subprocess.run([PY, "-c", code], capture_output=True, text=True).stdout.strip()
    vips = subprocess.run(["vips", "--version"], capture_output=True, text=True).stdout.strip()
    proj = subprocess.run(["cs2cs"], capture_output=True, text=True)
    proj = (proj.stderr or proj.stdout).splitlines()[0] if (proj.stderr or proj.stdout) else "?"
    jpeg = subprocess.run(["djpeg", "-version"], capture_output=True, text=True)
    jpeg = (jpeg.stderr or jpeg.stdout).strip().splitlines()[0]
    return "%s; %s; %s; %s" % (py_side, vips, proj.strip(), jpeg)


def ms(seconds):
    v = seconds * 1e3
    return "%.3g" % v if v < 100 else "%.0f" % v


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--runs", type=int, default=None, help="timed runs a side (default 5)")
    ap.add_argument("--quick", action="store_true", help="small sizes, two runs: a check")
    ap.add_argument("--only", default="", help="comma-separated row names")
    ap.add_argument("--threads", choices=("1", "all", "both"), default="both")
    ap.add_argument("--core", type=int, default=None, help="core of the one-thread runs")
    ap.add_argument("--data", default=None, help="keep the inputs in this folder")
    ap.add_argument("--display", default=None, help="Xvfb display number (default: any free)")
    ap.add_argument("--size", type=int, default=None,
                    help="every row at this size instead of its own (scale checks)")
    ap.add_argument("--list", action="store_true", help="list the rows and stop")
    args = ap.parse_args()
    if args.list:
        for r in ROWS:
            print("%-16s %-7s %-14s %-8s %s" % (r.name, r.issue, r.method, ",".join(r.threads),
                                                r.peer.label))
        return
    only = [x for x in args.only.split(",") if x]
    unknown = set(only) - {r.name for r in ROWS}
    if unknown:
        sys.exit("unknown rows: %s (--list names them)" % ", ".join(sorted(unknown)))
    if args.runs is None:
        args.runs = 2 if args.quick else 5
    if args.runs < 5 and not args.quick:
        sys.exit("at least 5 runs (or --quick)")
    if not os.environ.get("DISPLAY"):
        server = ["-n", args.display] if args.display else ["-a"]
        os.execvp("xvfb-run", ["xvfb-run"] + server + ["-s", "-screen 0 1280x1024x24", PY] +
                  [os.path.abspath(__file__)] + sys.argv[1:])
    build = os.path.abspath(args.build)
    libdir = os.path.join(build, "lib")
    if not os.path.exists(os.path.join(libdir, "libvesk81.so")):
        sys.exit("no %s/libvesk81.so: build first (scripts/build.sh %s)" % (libdir, args.build))
    if args.core is None:
        args.core = max(os.sched_getaffinity(0))
    install_peers()
    from benchdata import Data

    rows = [r for r in ROWS if not only or r.name in only]
    data_dir = os.path.abspath(args.data) if args.data else tempfile.mkdtemp(prefix="vesk-bench-")
    data = Data(data_dir)
    work = tempfile.mkdtemp(prefix="vesk-bench-work-")
    env = {k: v for k, v in os.environ.items() if k not in ONE_THREAD_ENV and k != "TCLLIBPATH"}
    env.update(VESK_LIBDIR=libdir, GHOME=os.path.join(ROOT, "tests", "data", "home"))
    try:
        if any(r.name == "pipelineA" for r in rows):
            subprocess.check_call("cc -O2 -o %s/pipeline_a %s/pipeline_a.c $(pkg-config --cflags "
                                  "--libs vips)" % (work, HERE), shell=True)
        with open(os.path.join(work, "startup-tk.tcl"), "w") as f:
            f.write("exit\n")
        with open(os.path.join(work, "startup-vesk.tcl"), "w") as f:
            f.write("set veskAppScripts {}\nset auto_path [linsert $auto_path 0 {%s}]\n"
                    "package require Vesk\nexit\n" % libdir)
        print("# Vesk benchmarks, %s" % datetime.datetime.now(datetime.timezone.utc)
              .strftime("%Y-%m-%d %H:%M UTC"))
        print("machine: %s" % machine())
        print("build: %s" % build_info(build))
        print("peers: %s" % peer_versions())
        print("runs: %d interleaved a side%s; one thread pinned to core %d; load average at "
              "start %.1f%s" % (args.runs, "" if args.quick else " after one untimed run each",
                                args.core, os.getloadavg()[0],
                                "; QUICK: small sizes, figures mean nothing" if args.quick
                                else ""))
        print("command: %s" % " ".join([os.path.relpath(sys.argv[0], ROOT)] + sys.argv[1:]))
        print()
        print("| row | issue | method | size | threads | ours min ms | ours median ms | peer | "
              "peer min ms | peer median ms | ratio min | ratio median | ours MiB | peer MiB | "
              "load |")
        print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
        sys.stdout.flush()
        notes, failed = [], []
        for row in rows:
            n = args.size or (row.quick if args.quick else row.size)
            row.needs(data, n)
            values = dict(n=n, data=data_dir, work=work, bench=HERE)
            for threads in row.threads:
                if args.threads != "both" and threads != args.threads:
                    continue
                run_env = dict(env, **ONE_THREAD_ENV) if threads == "1" else env
                try:
                    o, p, orss, prss = measure(row, threads, args, values, run_env, work)
                except RuntimeError as e:
                    failed.append(row.name)
                    print("| %s | %s | %s | %s | %s | failed (the reason on stderr) |" % (
                        row.name, row.issue, row.method, n or "", threads))
                    print(str(e), file=sys.stderr)
                    continue
                label = row.peer.label.replace("|", "\\|")
                print("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %.2f | %.2f | %.1f | "
                      "%.1f%s | %.1f |" % (
                          row.name, row.issue, row.method, n or "", threads, ms(min(o)),
                          ms(statistics.median(o)), label, ms(min(p)), ms(statistics.median(p)),
                          min(o) / min(p), statistics.median(o) / statistics.median(p),
                          orss / 1024, prss / 1024,
                          " (one process)" if row.peer.kind == "same" else "",
                          os.getloadavg()[0]))
                sys.stdout.flush()
            if row.note:
                notes.append("%s: %s" % (row.name, row.note))
        print()
        print("load average at the end %.1f" % os.getloadavg()[0])
        for line in notes:
            print("- " + line)
        if failed:
            sys.exit("failed rows: " + ", ".join(failed))
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if not args.data:
            shutil.rmtree(data_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
