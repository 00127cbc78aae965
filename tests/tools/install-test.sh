#!/bin/sh
# Installs the build into a temporary prefix and loads the package from there
# in a fresh wish, in an empty folder, whose only hint is TCLLIBPATH: the
# README's loading example without its auto_path line.  The installed library
# must be stripped and must not lean on the build tree.
#   install-test.sh <cmake> <build dir>
set -eu
cmake=$1 build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
pkg=$prefix/lib/tcltk/vesk4.010
fail() { echo "install: $*"; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" > "$tmp/install.log" 2>&1 \
  || { cat "$tmp/install.log"; fail "cmake --install failed"; }
for f in "$pkg/libvesk81.so" "$pkg/vesk81.so" "$pkg/pkgIndex.tcl" "$prefix/include/vesk/vesk.h"; do
  [ -e "$f" ] || fail "missing ${f#"$prefix"/}"
done
[ "$(readlink "$pkg/vesk81.so")" = libvesk81.so ] || fail "vesk81.so is not a link to libvesk81.so"

# Stripped: no symbol table, no debug sections; no run path at all.
if readelf -S -W "$pkg/libvesk81.so" | grep -E '\.symtab|\.debug_'; then
  fail "the installed library is not stripped"
fi
if readelf -d "$pkg/libvesk81.so" | grep -E 'RPATH|RUNPATH'; then
  fail "the installed library has a run path"
fi

# Debian's Tcl searches <prefix>/lib/tcltk of /usr/local by itself, so the
# same layout there needs no hint.
echo 'puts $auto_path' | env -u TCLLIBPATH tclsh8.6 | grep -qw /usr/local/lib/tcltk \
  || fail "/usr/local/lib/tcltk is not on tclsh's auto_path"

mkdir "$tmp/empty"
cd "$tmp/empty"
cat > load.tcl <<'EOF'
set veskAppScripts {}
package require Tk
package require Vesk
puts [list [vesk version] [lindex [lsearch -inline -index 1 [info loaded] Vesk] 0]]
exit
EOF
got=$(env -u VESK_LIBDIR -u VESK_SOURCE_DIR -u GHOME -u VESK -u VESK_TESTMOD_DIR \
        TCLLIBPATH="$prefix/lib/tcltk" wish8.6 load.tcl 2>&1) || fail "wish failed: $got"
[ "$got" = "4.010 $pkg/libvesk81.so" ] || fail "loaded: $got"
[ -z "$(ls -A "$tmp/empty" | grep -vx load.tcl)" ] || fail "loading wrote into the folder"
echo "install: ok ($got)"
