#!/usr/bin/env bash
# rimage gfftrans and rimage georef against OpenCV in the same run, one
# thread: prints both times and the ratios (ours / OpenCV).
#   bench/fft_georef.sh [folder]     (needs the plain build in build/)
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""; [ "$(id -u)" != 0 ] && sudo=sudo
$sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y \
  --no-install-recommends python3-opencv python3-numpy xvfb xauth > /dev/null
dir=${1:-${TMPDIR:-/tmp}}
ours=$(VESK_THREADS=1 VESK_LIBDIR=$PWD/build/lib TCLLIBPATH=$PWD/build/lib \
  xvfb-run -a wish8.6 bench/fft_georef.tcl "$dir")
peer=$(/usr/bin/python3 bench/fft_georef_peers.py)
for what in fft georef; do
  a=$(echo "$ours" | awk -v w=$what '$1 == w {print $2}')
  b=$(echo "$peer" | awk -v w=$what '$1 == w {print $2}')
  echo "$what: vesk $a ms, OpenCV $b ms, ratio $(awk -v a=$a -v b=$b 'BEGIN {printf "%.2f", a / b}')"
done
