# Makes tests/data/home/program.lib, the script library that every test
# process loads at start-up (the test runner points GHOME at that folder).
#   VESK_LIBDIR=build/lib xvfb-run -a tclsh8.6 tests/data/make-home.tcl
package require Tk
wm withdraw .
set veskAppScripts {}
load [file join $env(VESK_LIBDIR) libvesk81.so] Vesk
set here [file dirname [file normalize [info script]]]
calc compsave [file join $here home program.lib] \
    "# Script library of the test home.\nset ::veskTestHome 1\n"
# contk.lib, the console library of the test home, is a plain script kept as is.
exit
