# Runs one Tcl test file against the built library.
# Usage: tclsh all.tcl file.test tmpdir
# Exits 0 when every test passed, 1 on a failure or file error, 2 without Tk.

if {[catch {package require Tk} err]} {
    puts stderr "Tk is required (no display?): $err"
    exit 2
}
wm withdraw .
lassign $argv testFile tmpDir
# tcltest reads argv itself: our arguments are not its options.
set argv {}
set argc 0
package require tcltest 2
namespace import ::tcltest::*

file mkdir $tmpDir
# A suite that writes a relative path writes into its own folder, never the tree.
cd $tmpDir
if {[info exists env(VESK_LIBDIR)]} {
    set ::auto_path [linsert $::auto_path 0 $env(VESK_LIBDIR)]
}

# Under Tk, cleanupTests would end the process with status 0 unless the
# interactive constraint holds; runAllTests then reports the real outcome.
testConstraint interactive 1
configure -singleproc 1 -testdir [file dirname [file normalize $testFile]] \
    -file [file tail $testFile] -tmpdir $tmpDir -verbose e
exit [runAllTests]
