# "postscript" of 100,000 rectangles: gcanvas against Tk's canvas in the
# same process, best of three runs each.
#   scripts/build.sh build
#   VESK_LIBDIR=$PWD/build/lib xvfb-run -a -s "-screen 0 1280x1024x24" \
#       tclsh bench/canvas_postscript.tcl [count]
source [file join [file dirname [info script]] benchlib.tcl]

set count [expr {[llength $argv] ? [lindex $argv 0] : 100000}]
toplevel .b
canvas .b.tk -width 1000 -height 1000 -highlightthickness 0
gcanvas .b.g -width 1000 -height 1000 -highlightthickness 0
pack .b.tk .b.g -side left
expr {srand(7)}
set rects {}
for {set i 0} {$i < $count} {incr i} {
    set x [expr {rand() * 990}]
    set y [expr {rand() * 990}]
    lappend rects [list $x $y [expr {$x + 1 + rand() * 9}] [expr {$y + 1 + rand() * 9}]]
}
foreach w {.b.tk .b.g} {
    foreach r $rects {$w create rectangle {*}$r -fill red -outline black}
}
update

set tk [best {set ::psTk [.b.tk postscript]} 3]
set g [best {set ::psG [.b.g postscript]} 3]
puts [format "postscript of %d rectangles: Tk canvas %.1f ms (%d bytes), gcanvas %.1f ms (%d bytes), ratio %.2f, peak RSS %d KiB" \
    $count [expr {$tk / 1000.0}] [string length $psTk] [expr {$g / 1000.0}] \
    [string length $psG] [expr {double($g) / $tk}] [rssKiB]]
exit 0
