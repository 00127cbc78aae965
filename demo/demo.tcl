# Vesk demo: loads the package, exercises what the library offers so far,
# prints what it did and saves a screenshot.
#   wish8.6 demo/demo.tcl <output folder>

set outDir [expr {[llength $argv] ? [lindex $argv 0] : "."}]
file mkdir $outDir
if {[info exists env(VESK_LIBDIR)]} {
    set auto_path [linsert $auto_path 0 $env(VESK_LIBDIR)]
}
source [file join [file dirname [info script]] screenshot.tcl]
# Start-up loads the script libraries of veskAppScripts from gimgHome.
set gimgHome [file dirname [file normalize [info script]]]

set log {}
proc step {what script} {
    set result [uplevel #0 $script]
    set line [format "%-34s -> %s" $what $result]
    puts $line
    lappend ::log $line
}

step "package require Vesk"        {package require Vesk}
step "vesk version"                {vesk version}
step "home folder (gimgHome)"      {set gimgHome}
step "script libraries"            {set veskAppScripts}
step "program.lib ran at start-up" {demoGreeting}
step "calc compsave (ratio)"        {calc compsave [file join $outDir demo.lib] "set demoVar 42"}
step "calc decompload"              {calc decompload [file join $outDir demo.lib]}
step "calc d2r 180"                 {calc d2r 180}
step "calc srand 1; calc rand"      {calc srand 1; calc rand}
step "proj.create u33 (UTM zone 33)" {proj.create u33}
step "u33 project 15 50"           {u33 projconfigure -projdef {+proj=utm +zone=33 +ellps=WGS84} -fmtxy %.3f; u33 project 15 50}
step "u33 inverse"                 {u33 projconfigure -inv 1 -fmtll %.6f; u33 project 500000 5538630.703}
step "shape.create roads; POLYLINE"   {shape.create roads; roads initialize POLYLINE}
step "roads addrecord (2 lines)"       {roads addrecord {0 0 5 5 10 0}; roads addrecord {0 10 10 10}; roads count}
step "roads save; shape.info"          {roads save [file join $outDir roads.shp]; shape.info [file join $outDir roads.shp]}
step "vesk.listconcat {a b {c d}}" {vesk.listconcat {a b {c d}}}
step "clipboard holds text?"       {clipboard clear; clipboard append demo; vesk.selection CLIPBOARD}
step "event loop for 100 ms"       {after 100 {winmsg 0}; winmsg 1}

wm title . "Vesk demo"
text .t -width 120 -height [expr {[llength $log] + 3}] -font {Courier 10} -wrap none
.t insert end "Vesk [vesk version]\n\n[join $log \n]"
pack .t
raise .
update

set png [file join $outDir vesk-demo.png]
saveWindowPng . $png
puts "screenshot: $png"
exit 0
