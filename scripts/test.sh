#!/usr/bin/env bash
# Installs what is missing, builds the library twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole suite on both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
snapshot=$(mktemp)
trap 'rm -f "$snapshot"' EXIT
scripts/tree-check.sh snapshot "$snapshot"
scripts/build.sh build
scripts/build.sh build-asan -DVESK_SANITIZE=ON
jobs=$(nproc)
# VESK_XVFB_SERVER=N pins the display number (parallel runs on one machine
# would otherwise race for the same free number).
xvfb=(-a)
[ -n "${VESK_XVFB_SERVER:-}" ] && xvfb=(-n "$VESK_XVFB_SERVER")
xvfb-run "${xvfb[@]}" -s "-screen 0 1280x1024x24" bash -c "
  set -e
  echo '== tests: plain build'
  ctest --test-dir build --output-on-failure -j$jobs
  echo '== tests: sanitizer build'
  ctest --test-dir build-asan --output-on-failure -j$jobs
"
# Tests work in their own temporary folders: the run must leave the tree as it was.
scripts/tree-check.sh compare "$snapshot"
