#!/bin/sh
# Expected directory listings for tags set in place in a loaded file.
# libtiff's tiffset sets the same tags on copies of three fixtures and
# tiffdump lists the result; the file name and the directory offsets are
# dropped (where a directory moves to is the writer's choice).  The tests
# set the tags with their own code and compare with these listings (and
# with tiffdump's own view of their file when libtiff-tools is installed).
# Run from anywhere: sh tests/data/tiff/make-settag.sh
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

settags() {  # file [directory]
  d=${2:-0}
  tiffset -d "$d" -s 305 "vesk settag" "$1"
  tiffset -d "$d" -s 274 4 "$1"
  tiffset -d "$d" -s 282 300 "$1"
  tiffset -d "$d" -s 283 150 "$1"
  tiffset -d "$d" -s 297 0 2 "$1"
}

for src in grey8 rgb8-mm twopage; do
  cp "$src.tif" "$tmp/$src.tif"
  if [ "$src" = twopage ]; then settags "$tmp/$src.tif" 1; else settags "$tmp/$src.tif"; fi
  tiffdump "$tmp/$src.tif" | sed -e 1d -e 's/^\(Directory [0-9]*\): offset .* next .*/\1/' \
    > "settag-$src.dump"
done
