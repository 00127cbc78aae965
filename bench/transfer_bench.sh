#!/usr/bin/env bash
# Window and geometry transfers against libvips and OpenCV, one thread,
# same input, same run: pipeline A (crop, shrink to 10 % bilinear, 3 x 3
# sharpen, TIFF out) and the 4096 x 4096 FLOAT kernels.
#   bench/transfer_bench.sh [work folder, default $TMPDIR or /tmp; needs ~700 MB]
set -euo pipefail
cd "$(dirname "$0")/.."
PEERS=(libvips-tools python3-opencv python3-numpy xvfb xauth)
missing=()
for p in "${PEERS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi
scripts/build.sh build
work=${1:-${TMPDIR:-/tmp}/vesk-transfer-bench}
mkdir -p "$work"
export VESK_THREADS=1 VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1
export GHOME=$PWD/tests/data/home
xvfb=(-a)
[ -n "${VESK_XVFB_SERVER:-}" ] && xvfb=(-n "$VESK_XVFB_SERVER")
xvfb-run "${xvfb[@]}" -s "-screen 0 640x480x24" \
  /usr/bin/python3 bench/transfer_bench.py "$PWD/build/lib" "$work"
