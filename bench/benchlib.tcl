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

# The row protocol of bench/runner.py.  The set-up is done before this is
# called; works is a dict side -> {before work}: for each line "run SIDE" on
# stdin, before runs untimed, then work timed by clock microseconds, and the
# seconds go back as "time S" on the runner's pipe, file descriptor
# $env(BENCH_REPLY_FD) (the modules may print on stdout); "rss" answers
# "rss KiB" (peak RSS); end of input or "quit" ends the process.  An error
# answers "error MESSAGE".
proc serveRow {works} {
    set reply [open /dev/fd/$::env(BENCH_REPLY_FD) w]
    puts $reply ready
    flush $reply
    while {[gets stdin line] >= 0} {
        set code [catch {
            switch -- [lindex $line 0] {
                run {
                    lassign [dict get $works [lindex $line 1]] before work
                    uplevel #0 $before
                    set t [clock microseconds]
                    uplevel #0 $work
                    set answer "time [expr {([clock microseconds] - $t) / 1e6}]"
                }
                rss {set answer "rss [rssKiB]"}
                quit break
                default {error "unknown request: $line"}
            }
        } message]
        if {$code == 1} {
            puts $reply "error [string map {\n { }} $message]"
            flush $reply
            exit 1
        }
        if {$code == 3} break
        puts $reply $answer
        flush $reply
    }
    exit 0
}
