#!/usr/bin/env bash
# Installs what is missing, builds the library and runs the demo under a
# virtual display.  The screenshot lands in demo/out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
mkdir -p demo/out
VESK_LIBDIR=$PWD/build/lib xvfb-run -a -s "-screen 0 1280x1024x24" \
  wish8.6 demo/demo.tcl demo/out
