#!/usr/bin/python3
"""Start-up: wish with `package require Vesk` against wish with Tk alone.

    /usr/bin/python3 bench/startup_bench.py [build] [--runs N] [--callgrind]

Whole process against whole process: each run starts wish8.6 on a script
that exits at once, either doing nothing more (Tk alone: wish has already
loaded Tk) or first doing `package require Vesk` from build/lib.  The two
alternate run by run (interleaved), N runs each (default 9); the table gives
the minimum and the median of the wall time and of the CPU time (user +
system), the peak RSS, and the ratios Vesk / Tk.  --callgrind adds the
instructions each process executes (valgrind's callgrind, one run each),
which a loaded machine hardly moves.  The Vesk side sets veskAppScripts to
an empty list first, so no application script library is read: what is
timed is the package alone.  Under xvfb-run when there is no display.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run_once(argv, env, cwd):
    """Wall seconds, CPU seconds and peak RSS (MiB) of one whole process."""
    start = time.perf_counter()
    p = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - start
    err = p.stderr.read().decode(errors="replace")
    p.stderr.close()
    if status != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(argv), err))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def instructions(argv, env, cwd):
    """Instructions executed by the whole process, as callgrind counts them."""
    out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + argv,
                         env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE).stderr.decode(errors="replace")
    for line in out.splitlines():
        if "Collected :" in line:
            return int(line.split(":")[-1])
    raise RuntimeError("callgrind gave no count:\n" + out[-2000:])


def main():
    args = sys.argv[1:]
    runs, use_callgrind, build = 9, False, "build"
    while args:
        a = args.pop(0)
        if a == "--runs":
            runs = int(args.pop(0))
        elif a == "--callgrind":
            use_callgrind = True
        else:
            build = a
    if not os.environ.get("DISPLAY"):
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24",
                               "/usr/bin/python3"] + sys.argv)
    libdir = os.path.abspath(os.path.join(build, "lib"))
    if not os.path.exists(os.path.join(libdir, "libvesk81.so")):
        sys.exit("no %s/libvesk81.so: build first (scripts/build.sh %s)" % (libdir, build))
    wish = shutil.which("wish8.6") or sys.exit("wish8.6 is missing (apt-get install tk8.6)")
    env = {k: v for k, v in os.environ.items() if k not in ("GHOME", "VESK", "TCLLIBPATH")}
    with tempfile.TemporaryDirectory() as folder:
        tk = os.path.join(folder, "tk.tcl")
        vesk = os.path.join(folder, "vesk.tcl")
        with open(tk, "w") as f:
            f.write("exit\n")
        with open(vesk, "w") as f:
            f.write("set veskAppScripts {}\nset auto_path [linsert $auto_path 0 {%s}]\n"
                    "package require Vesk\nexit\n" % libdir)
        sides = [("Tk alone", [wish, tk]), ("Vesk", [wish, vesk])]
        for _, argv in sides:  # warm the page cache
            run_once(argv, env, folder)
        results = {name: [] for name, _ in sides}
        for _ in range(runs):
            for name, argv in sides:
                results[name].append(run_once(argv, env, folder))
        counts = {name: instructions(argv, env, folder) for name, argv in sides} \
            if use_callgrind else {}

    print("start-up: wish8.6 on a script that exits, with or without `package require Vesk`; "
          "whole process against whole process, %d interleaved runs each; wall and CPU "
          "(user+sys) time, peak RSS (median)%s; load average %.1f"
          % (runs, ", instructions (callgrind, one run)" if counts else "", os.getloadavg()[0]))
    print("| side | wall min s | wall median s | CPU min s | CPU median s | peak RSS MiB |%s"
          % (" instructions |" if counts else ""))
    print("|---|---|---|---|---|---|%s" % ("---|" if counts else ""))
    summary = {}
    for name, _ in sides:
        wall = [r[0] for r in results[name]]
        cpu = [r[1] for r in results[name]]
        rss = statistics.median(r[2] for r in results[name])
        summary[name] = (min(wall), statistics.median(wall), min(cpu), statistics.median(cpu), rss,
                         counts.get(name))
        s = summary[name]
        print("| %s | %.3f | %.3f | %.3f | %.3f | %.1f |%s" % (
            name, s[0], s[1], s[2], s[3], s[4], " %d |" % s[5] if counts else ""))
    a, b = summary["Vesk"], summary["Tk alone"]
    print("| ratio Vesk / Tk | %.2f | %.2f | %.2f | %.2f | %.2f |%s" % (
        a[0] / b[0], a[1] / b[1], a[2] / b[2], a[3] / b[3], a[4] / b[4],
        " %.3f |" % (a[5] / b[5]) if counts else ""))


if __name__ == "__main__":
    main()
