#!/bin/sh
# scripts/tree-check.sh: a file a run leaves behind fails the check; the
# developer's own changes made before the run do not.
set -eu
source_dir=$1
work=$(mktemp -d)
snap=$(mktemp)
trap 'rm -rf "$work" "$snap"' EXIT
mkdir -p "$work/scripts"
cp "$source_dir/scripts/tree-check.sh" "$work/scripts/"
cd "$work"
echo one > README
git init -q .
git -c user.name=t -c user.email=t@t add scripts README
git -c user.name=t -c user.email=t@t commit -q -m seed
echo two >> README                        # changed before the run
echo mine > notes.txt                     # new before the run
scripts/tree-check.sh snapshot "$snap"
scripts/tree-check.sh compare "$snap" || { echo "clean run refused"; exit 1; }
mkdir -p deep && echo x > deep/@unused    # what a test leaves behind
if out=$(scripts/tree-check.sh compare "$snap"); then
  echo "dirty run passed"; exit 1
fi
echo "$out" | grep -q "deep/@unused" || { echo "not named: $out"; exit 1; }
echo ok
