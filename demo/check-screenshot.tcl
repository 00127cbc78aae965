# Checks the demo's screenshot: it must exist, be at least 600 x 400 and
# show more than a handful of colours (a demo that died before drawing, or
# drew an empty window, leaves a blank picture).  Exits 1 when it does not.
#   wish8.6 demo/check-screenshot.tcl file.png
wm withdraw .
set file [lindex $argv 0]
proc fail {why} {puts stderr "screenshot check: $why"; exit 1}
if {![file isfile $file]} {fail "no file $file"}
if {[catch {image create photo -file $file} shot]} {fail "$file does not read as an image: $shot"}
set w [image width $shot]
set h [image height $shot]
if {$w < 600 || $h < 400} {fail "$file is only $w x $h"}
# Colours on a 64 x 64 grid of samples.
set colours [dict create]
for {set y 0} {$y < $h} {incr y [expr {max(1, $h / 64)}]} {
    for {set x 0} {$x < $w} {incr x [expr {max(1, $w / 64)}]} {dict set colours [$shot get $x $y] 1}
}
if {[dict size $colours] < 32} {fail "$file is blank: [dict size $colours] colours in a sample"}
puts "screenshot check: $file, $w x $h, [dict size $colours] colours in a sample"
exit 0
