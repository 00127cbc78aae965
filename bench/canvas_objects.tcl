# An object item of 50,000 polygon records against the same geometry as
# 50,000 polygon items.
#   wish8.6 bench/canvas_objects.tcl [count]     the canvasObjects row of
#       bench/runner.py (serveRow): full redraws (a background change), ours
#       the object item rasterising its records, peer the polygon items
#   VESK_LIBDIR=$PWD/build/lib xvfb-run -a -s "-screen 0 1280x1024x24" \
#       wish8.6 bench/canvas_objects.tcl count more
#       prints, best of five, the object item sending its records as X
#       requests (VESK_OBJECT_XDRAW=1) against the items, and motion events
#       over the object item with -updatecomponent 1 (the hit test, and the
#       redraw of the highlighted record)
source [file join [file dirname [info script]] benchlib.tcl]

set count [expr {[llength $argv] ? [lindex $argv 0] : 50000}]
toplevel .b
wm geometry .b +0+0
set size 600
gcanvas .b.p -width $size -height $size -highlightthickness 0 -bd 0
gcanvas .b.o -width $size -height $size -highlightthickness 0 -bd 0 -updatecomponent 1
pack .b.p .b.o -side left
expr {srand(13)}
for {set i 0} {$i < $count} {incr i} {
    set x [expr {rand() * ($size - 10)}]
    set y [expr {rand() * ($size - 10)}]
    .b.p create polygon $x $y [expr {$x + 3 + rand() * 7}] $y [expr {$x + rand() * 10}] \
        [expr {$y + 3 + rand() * 7}] -fill red -outline black
}
shape.create layer
.b.p assemble layer POLYGON all
.b.o create object 0 0 -object layer -fill red -outline black
update
raise .b
update

# Each canvas between two backgrounds of its own (runs of the two canvases
# alternate).
proc redraw {w} {
    $w configure -background [expr {[incr ::bg($w)] % 2 ? "#ffffff" : "#fffffe"}]
    update idletasks
    roundTrip
}
if {[info exists env(OBJDEBUG)]} {vesk debug 1}
if {[lindex $argv 1] ne "more"} {
    serveRow {ours {{} {redraw .b.o}} peer {{} {redraw .b.p}}}
}
set items [best {redraw .b.p}]
# The object item with its records sent to the X server as requests.
set env(VESK_OBJECT_XDRAW) 1
set objectX [best {redraw .b.o}]
unset env(VESK_OBJECT_XDRAW)
# Motion: from one point of the window to another, the pick alone, then with the redraw.
set ::k 0
proc motion {redraw} {
    set x [expr {20 + (([incr ::k] * 37) % 560)}]
    set y [expr {20 + (($::k * 53) % 560)}]
    event generate .b.o <Motion> -x $x -y $y
    if {$redraw} {update idletasks; roundTrip}
}
set pick [best {motion 0} 20]
set pickDraw [best {motion 1} 20]
set worstDraw 0
for {set i 0} {$i < 20} {incr i} {
    set t [lindex [time {motion 1}] 0]
    if {$t > $worstDraw} {set worstDraw $t}
}
puts [format "full redraw of %d polygons: items %.1f ms, object item drawn by X requests %.1f ms, ratio %.2f" \
    $count [expr {$items / 1000.0}] [expr {$objectX / 1000.0}] [expr {double($objectX) / $items}]]
puts [format "motion over the object item: pick %.2f ms, pick and redraw %.2f ms (worst of 20: %.2f ms)" \
    [expr {$pick / 1000.0}] [expr {$pickDraw / 1000.0}] [expr {$worstDraw / 1000.0}]]
exit 0
