#!/bin/sh
# core/ is the lowest layer: none of its files includes a header of a
# subsystem above it (those register what core calls instead).
# Usage: check-core-layer.sh <source folder>
cd "$1" || exit 2
found=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](raster|display|processing|canvas|geometry|vector|gl|widgets|devices|platform)/' core/*.h core/*.cpp)
if [ -n "$found" ]; then
  echo "core/ includes headers of higher layers:"
  echo "$found"
  exit 1
fi
echo "core/ includes no header of a higher layer"
