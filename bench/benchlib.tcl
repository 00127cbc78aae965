# Shared set-up of the Tk benchmarks, sourced first: Tk and Vesk loaded
# (from VESK_LIBDIR when set), a timer taking the best of several runs, a
# server round trip and the process's peak resident size.
package require Tk
wm withdraw .
if {[info exists env(VESK_LIBDIR)]} {
    set auto_path [linsert $auto_path 0 $env(VESK_LIBDIR)]
}
set veskAppScripts {}
package require Vesk

# The fastest of runs runs of script, in microseconds.
proc best {script {runs 5}} {
    set best {}
    for {set run 0} {$run < $runs} {incr run} {
        set t [lindex [time {uplevel #0 $script}] 0]
        if {$best eq {} || $t < $best} {set best $t}
    }
    return $best
}

# A round trip makes the server finish what was sent.
proc roundTrip {} { winfo pointerxy . }

proc rssKiB {} {
    set f [open /proc/self/status]
    set text [read $f]
    close $f
    regexp {VmHWM:\s+(\d+)} $text -> kib
    return $kib
}
