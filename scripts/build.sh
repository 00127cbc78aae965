#!/usr/bin/env bash
# Configures and builds one configuration, all of it or one target:
#   scripts/build.sh <dir> [--target TARGET] [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
target=()
if [ "${1:-}" = --target ]; then target=(--target "$2"); shift 2; fi
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "$dir.configure.log" 2>&1 \
  || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j"$(nproc)" "${target[@]}"
