#!/usr/bin/env bash
# Tests must never write into the source tree.
#   scripts/tree-check.sh snapshot FILE   records what git status shows now
#   scripts/tree-check.sh compare FILE    fails, listing them, when entries
#                                         appeared that the snapshot lacks
# (Changes made before the run are the developer's own and are left be.)
set -euo pipefail
mode=$1 file=$2
cd "$(dirname "$0")/.."
case $mode in
  snapshot) git status --porcelain --untracked-files=all > "$file" ;;
  compare)
    new=$(git status --porcelain --untracked-files=all | grep -vxF -f "$file" || true)
    if [ -n "$new" ]; then
      echo "== the tests left these in the tree:"
      echo "$new"
      exit 1
    fi ;;
  *) echo "usage: $0 snapshot|compare FILE" >&2; exit 2 ;;
esac
