#!/usr/bin/env bash
# Configures and builds one configuration: scripts/build.sh <dir> [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "$dir.configure.log" 2>&1 \
  || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j"$(nproc)"
