# A private CUPS server for the printer tests: its own folders under the
# suite's temporary folder, a socket there, and the queue "vesktest" whose
# backend copies every job's document into $dir/out.  startCupsd returns
# "" when it runs (CUPS_SERVER points at it), else why it cannot.

proc startCupsd {dir} {
    foreach tool {cupsd lpadmin} {
        if {[auto_execok $tool] eq "" && ![file executable /usr/sbin/$tool]} {
            return "$tool is not installed"
        }
    }
    file delete -force $dir
    foreach d {log spool cache state lib lib/backend out} {file mkdir [file join $dir $d]}
    foreach f [glob -nocomplain -directory /usr/lib/cups *] {
        if {[file tail $f] ne "backend"} {
            file link -symbolic [file join $dir lib [file tail $f]] $f
        }
    }
    set sink [file join $dir lib backend vesksink]
    set f [open $sink w]
    puts $f {#!/bin/sh
[ $# -eq 0 ] && { echo 'file vesksink "Vesk test sink" "Vesk test sink"'; exit 0; }
dir="${DEVICE_URI#vesksink:}"
if [ -n "$6" ]; then cat "$6"; else cat; fi > "$dir/job-$1.tmp" && mv "$dir/job-$1.tmp" "$dir/job-$1.out"
exit 0}
    close $f
    # As root, cupsd runs a backend that only its owner may run as root, any
    # other as lp, who may not reach a clone in a private folder (mktemp -d).
    file attributes $sink -permissions [expr {[exec id -u] == 0 ? "0700" : "0755"}]
    set user [expr {[exec id -u] == 0 ? "lp" : [exec id -un]}]
    set group [expr {[exec id -u] == 0 ? "lp" : [exec id -gn]}]
    set f [open [file join $dir cupsd.conf] w]
    puts $f "Listen $dir/cups.sock
LogLevel warn
ErrorLog $dir/log/error_log
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>"
    close $f
    set f [open [file join $dir cups-files.conf] w]
    puts $f "FileDevice Yes
ServerRoot $dir
RequestRoot $dir/spool
CacheDir $dir/cache
StateDir $dir/state
TempDir $dir/spool
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
User $user
Group $group
SystemGroup root
ServerBin $dir/lib"
    close $f
    if {[exec id -u] == 0} {
        catch {exec chown -R lp:lp [file join $dir spool] [file join $dir out] [file join $dir cache]}
        file attributes [file join $dir out] -permissions 0777
    }
    set cupsd [expr {[auto_execok cupsd] ne "" ? [auto_execok cupsd] : "/usr/sbin/cupsd"}]
    set lpadmin [expr {[auto_execok lpadmin] ne "" ? [auto_execok lpadmin] : "/usr/sbin/lpadmin"}]
    # Not under the sanitizer build's preloaded runtimes: cupsd then hangs on SIGTERM.
    if {[catch {exec env -u LD_PRELOAD {*}$cupsd -f -c [file join $dir cupsd.conf] \
            -s [file join $dir cups-files.conf] >& [file join $dir log/stdout] &} pid]} {
        return "cupsd cannot start: $pid"
    }
    set ::cupsdPid $pid
    for {set i 0} {$i < 100 && ![file exists $dir/cups.sock]} {incr i} {after 50}
    if {![file exists $dir/cups.sock]} {
        stopCupsd
        return "cupsd did not start"
    }
    set ::env(CUPS_SERVER) $dir/cups.sock
    if {[catch {
        exec {*}$lpadmin -p vesktest -E -v vesksink:$dir/out
        exec {*}$lpadmin -d vesktest
    } err]} {
        stopCupsd
        return "lpadmin failed: $err"
    }
    return ""
}

proc stopCupsd {} {
    if {[info exists ::cupsdPid]} {
        catch {exec kill $::cupsdPid}
        for {set i 0} {$i < 100 && ![catch {exec kill -0 $::cupsdPid}]} {incr i} {after 50}
        # A server that did not stop is not left behind.
        catch {exec kill -9 $::cupsdPid}
        unset ::cupsdPid
    }
    catch {unset ::env(CUPS_SERVER)}
}

# The documents the sink received, oldest first, waiting up to 10 s for count.
proc sinkJobs {dir count} {
    for {set i 0} {$i < 200} {incr i} {
        set jobs [lsort -dictionary [glob -nocomplain -directory [file join $dir out] job-*.out]]
        if {[llength $jobs] >= $count} {return $jobs}
        after 50
    }
    return $jobs
}
