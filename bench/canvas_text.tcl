# The canvasText row of bench/runner.py: zooming 10,000 scalable text items
# on a gcanvas (-mx/-my changed, every item re-laid out in an item font at
# the new size, then redrawn) against Tk's canvas reconfiguring -font on
# 10,000 text items, in one process (serveRow: ours the gcanvas, peer Tk).
#   wish8.6 bench/canvas_text.tcl [count]     (the runner starts it)
source [file join [file dirname [info script]] benchlib.tcl]

set count [expr {[llength $argv] ? [lindex $argv 0] : 10000}]
toplevel .b
wm geometry .b +0+0
set size 600
canvas .b.tk -width $size -height $size -highlightthickness 0 -bd 0
gcanvas .b.g -width $size -height $size -highlightthickness 0 -bd 0
pack .b.tk .b.g -side left
expr {srand(7)}
for {set i 0} {$i < $count} {incr i} {
    set x [expr {rand() * ($size - 40)}]
    set y [expr {rand() * ($size - 10)}]
    .b.tk create text $x $y -text "P$i" -anchor nw -font {Helvetica 8}
    .b.g create text $x $y -text "P$i" -anchor nw -font {Helvetica 8} -scalable 1
}
update
raise .b
update

set ::tkStep 0
set ::gStep 0
# Sizes 8 and 10 points in turn: a zoom by 1.25 and back.
proc zoomTk {} {
    .b.tk itemconfigure all -font [expr {[incr ::tkStep] % 2 ? {Helvetica 10} : {Helvetica 8}}]
    update idletasks
    roundTrip
}
proc zoomG {} {
    set m [expr {[incr ::gStep] % 2 ? 1.25 : 1.0}]
    .b.g configure -mx $m -my $m
    update idletasks
    roundTrip
}
serveRow {ours {{} zoomG} peer {{} zoomTk}}
