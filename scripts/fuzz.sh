#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for the given seconds (default
# 60), FUZZ_JOBS (default 3) at a time:  scripts/fuzz.sh [seconds] [target...]
# Each target starts from a copy of fuzz/corpus/<target> in build-fuzz/, so
# the tree is left as it was; faults land in build-fuzz/artifacts/<target>/.
# Exits 1 when any target found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

# clang and its sanitizer runtimes (libFuzzer among them) are needed only here.
need=()
for p in clang libclang-rt-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${need[@]}"
fi
scripts/install-deps.sh

# A few targets reach their reader through Tk (fuzz/fuzz.h): without a
# display, the run goes on under an X server of its own.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 640x480x24" "$0" "$seconds" "$@"
fi

export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
mkdir -p build-fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_FUZZ=ON \
  > build-fuzz/configure.log 2>&1 || { cat build-fuzz/configure.log; exit 1; }
cmake --build build-fuzz -j"$(nproc)" --target fuzz_targets > build-fuzz/build.log 2>&1 ||
  { tail -50 build-fuzz/build.log; exit 1; }

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in fuzz/*.cpp; do
    name=$(basename "$f" .cpp)
    case $name in harness|interp|replay) ;; *) targets+=("$name") ;; esac
  done
fi

run_one() {
  local t=$1 seconds=$2 work=build-fuzz/work/$1
  rm -rf "$work" "build-fuzz/artifacts/$t"
  mkdir -p "$work/corpus" "build-fuzz/artifacts/$t"
  cp -r fuzz/corpus/"$t"/. "$work/corpus/"
  # One fuzzing process at a time (-fork=1) that goes on after a finding,
  # so that a run reports all it finds; what the library prints on either
  # stream is noise (close_fd_mask=3 keeps the reports).
  build-fuzz/fuzz/fuzz_"$t" "$work/corpus" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 \
    -ignore_ooms=1 -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
    -close_fd_mask=3 -artifact_prefix="build-fuzz/artifacts/$t/" > "$work/log" 2>&1 || true
  local runs crashes slow
  runs=$(grep -o '^#[0-9]*: cov' "$work/log" | tail -1 | tr -dc '0-9')
  crashes=$(find "build-fuzz/artifacts/$t" -type f ! -name 'slow-unit-*' | wc -l)
  slow=$(find "build-fuzz/artifacts/$t" -type f -name 'slow-unit-*' | wc -l)
  printf '%-10s %12s executions  %d faults  %d slow inputs\n' "$t" "${runs:-0}" "$crashes" "$slow"
}
export -f run_one

printf '%s\n' "${targets[@]}" |
  xargs -P "${FUZZ_JOBS:-3}" -I{} bash -c 'run_one "$@"' _ {} "$seconds" | tee build-fuzz/summary.txt
! grep -q ' [1-9][0-9]* faults ' build-fuzz/summary.txt
