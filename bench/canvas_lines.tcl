# Full redraw of 100,000 one-segment lines: gcanvas against Tk's canvas in
# the same process (best of five each), and a 10-pixel scroll of the
# gcanvas against its own full redraw.
#   scripts/build.sh build
#   VESK_LIBDIR=$PWD/build/lib xvfb-run -a -s "-screen 0 1280x1024x24" \
#       tclsh bench/canvas_lines.tcl [count]
source [file join [file dirname [info script]] benchlib.tcl]

set count [expr {[llength $argv] ? [lindex $argv 0] : 100000}]
toplevel .b
wm geometry .b +0+0
set size 600
canvas .b.tk -width $size -height $size -highlightthickness 0 -bd 0 \
    -scrollregion [list -100 -100 [expr {$size + 100}] [expr {$size + 100}]] -xscrollincrement 10
gcanvas .b.g -width $size -height $size -highlightthickness 0 -bd 0 \
    -scrollregion [list -100 -100 [expr {$size + 100}] [expr {$size + 100}]] -xscrollincrement 10
pack .b.tk .b.g -side left
expr {srand(11)}
set lines {}
for {set i 0} {$i < $count} {incr i} {
    set x [expr {rand() * ($size - 10)}]
    set y [expr {rand() * ($size - 10)}]
    lappend lines [list $x $y [expr {$x + rand() * 10}] [expr {$y + rand() * 10}]]
}
foreach w {.b.tk .b.g} {
    foreach l $lines {$w create line {*}$l -fill black}
}
update
raise .b
update

set ::bg 0
proc redraw {w} {
    $w configure -background [expr {[incr ::bg] % 2 ? "#ffffff" : "#fffffe"}]
    update idletasks
    roundTrip
}
proc scroll {w} {
    $w xview scroll [expr {$::bg % 2 ? 1 : -1}] units
    incr ::bg
    update idletasks
    roundTrip
}
set tk [best {redraw .b.tk}]
set g [best {redraw .b.g}]
set gScroll [best {scroll .b.g}]
set tkScroll [best {scroll .b.tk}]
puts [format "full redraw of %d lines: Tk canvas %.1f ms, gcanvas %.1f ms, ratio %.2f" \
    $count [expr {$tk / 1000.0}] [expr {$g / 1000.0}] [expr {double($g) / $tk}]]
puts [format "10-pixel scroll: gcanvas %.1f ms (%.3f of its full redraw), Tk canvas %.1f ms; peak RSS %d KiB" \
    [expr {$gScroll / 1000.0}] [expr {double($gScroll) / $g}] [expr {$tkScroll / 1000.0}] [rssKiB]]
exit 0
