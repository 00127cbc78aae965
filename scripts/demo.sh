#!/usr/bin/env bash
# Installs what is missing, builds the library and its package index (not
# the tests), runs the demo under a virtual display and checks its
# screenshot: a failing demo, or a missing or blank picture, fails.
#   scripts/demo.sh [output folder]      (default: demo/out in the clone)
# Works from any folder; a relative output folder is taken from the caller's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/demo/out}")
cd "$root"
scripts/install-deps.sh
scripts/build.sh build --target vesk81
mkdir -p "$out"
rm -f "$out/vesk-demo.png"
# VESK_XVFB_SERVER=N pins the display number, as for the test command.
xvfb=(-a)
[ -n "${VESK_XVFB_SERVER:-}" ] && xvfb=(-n "$VESK_XVFB_SERVER")
VESK_LIBDIR=$root/build/lib xvfb-run "${xvfb[@]}" -s "-screen 0 1280x1024x24" bash -c '
  set -e
  timeout 300 wish8.6 demo/demo.tcl "$1"
  wish8.6 demo/check-screenshot.tcl "$1/vesk-demo.png"' demo "$out"
