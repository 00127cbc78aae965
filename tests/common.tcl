# Shared set-up of the Tcl suites: loads the package once per test file.
package require tcltest 2
namespace import -force ::tcltest::*
if {[catch {package require Vesk} err]} {
    puts stderr "cannot load Vesk: $err"
    exit 1
}
set ::veskSourceDir $::env(VESK_SOURCE_DIR)
set ::veskLib [file join $::env(VESK_LIBDIR) libvesk81.so]

# Runs a script in a fresh wish-like child process and returns what it printed.
proc runChild {script} {
    set f [makeFile $script child[incr ::childSeq].tcl]
    set tclsh [info nameofexecutable]
    return [exec $tclsh $f 2>@1]
}
