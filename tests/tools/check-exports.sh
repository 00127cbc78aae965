#!/bin/sh
# Fails when the library defines a dynamic symbol that libc, libX11, Tcl or Tk
# also define: such a definition would hijack or be bypassed by the process.
set -eu
lib=$1
ours=$(mktemp); theirs=$(mktemp)
trap 'rm -f "$ours" "$theirs"' EXIT
nm -D --defined-only "$lib" | awk '{print $NF}' | sed 's/@.*//' | sort -u > "$ours"
for dep in libc.so.6 libm.so.6 libX11.so.6 libtcl8.6.so libtk8.6.so; do
  path=$(ldconfig -p | awk -v d="$dep" '$1 == d && /x86-64|x86_64|64/ {print $NF; exit}')
  [ -n "$path" ] || path=$(ldconfig -p | awk -v d="$dep" '$1 == d {print $NF; exit}')
  [ -n "$path" ] || { echo "cannot find $dep"; exit 1; }
  nm -D --defined-only "$path" | awk '{print $NF}' | sed 's/@.*//'
done | sort -u > "$theirs"
clash=$(comm -12 "$ours" "$theirs" | grep -v -E '^(_init|_fini|__bss_start|_edata|_end)$' || true)
if [ -n "$clash" ]; then
  echo "library exports names of the system libraries:"
  echo "$clash"
  exit 1
fi
echo "exports: $(wc -l < "$ours") names, no clash"
