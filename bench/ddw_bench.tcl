# The ddw widget against gimg, and its video playback against the clock.
#
# 1. Redraw of a 2048 x 2048 3-band BYTE image shown whole at 1:1: a ddw
#    widget against a gimg image in a label, both in the same run, best of
#    five each (every redraw converts all pixels and puts them on the
#    screen; a round trip makes the server finish).
# 2. Playback of a 640 x 480, 25 fps, 10 s clip made by ffmpeg: every
#    sample's wall time since the start of play against its timestamp;
#    late = shown more than one frame time after it, dropped = never shown.
#
#   scripts/build.sh build
#   Xvfb :174 -screen 0 2200x2200x24 -nolisten tcp &
#   DISPLAY=:174 VESK_LIBDIR=$PWD/build/lib tclsh8.6 bench/ddw_bench.tcl [folder]
source [file join [file dirname [info script]] benchlib.tcl]

set folder [expr {[llength $argv] ? [lindex $argv 0] : "/tmp"}]
set size 2048

# ---- redraw ----
set ppm [file join $folder vesk-ddw-bench.ppm]
set f [open $ppm wb]
puts -nonewline $f "P6\n$size $size\n255\n"
for {set y 0} {$y < $size} {incr y} {
    set row {}
    for {set x 0} {$x < $size} {incr x 16} {
        append row [binary format cu* [list [expr {$x & 255}] [expr {$y & 255}] [expr {($x ^ $y) & 255}]]]
    }
    puts -nonewline $f [string repeat $row 16]
}
close $f


toplevel .d
wm geometry .d +0+0
ddw .d.w -image $ppm -comb 1/2/3 -std 0 -width $size -height $size
pack .d.w
update
raise .d
update
set ::high 255
proc ddwRedraw {} {
    .d.w configure -high0 [set ::high [expr {$::high == 255 ? 254.5 : 255}]]
    roundTrip
}
set ddwTime [best ddwRedraw]
destroy .d

toplevel .g
wm geometry .g +0+0
image create gimg bench -file $ppm -comb 1/2/3 -width $size -height $size
label .g.l -image bench -bd 0 -highlightthickness 0
pack .g.l
update
raise .g
update
proc gimgRedraw {} {
    bench configure -high0 [set ::high [expr {$::high == 255 ? 254.5 : 255}]]
    update idletasks
    roundTrip
}
set gimgTime [best gimgRedraw]
destroy .g
image delete bench
file delete $ppm

puts [format "redraw %dx%d 3 bands: ddw %.1f ms, gimg %.1f ms, ratio %.2f" \
    $size $size [expr {$ddwTime / 1000.0}] [expr {$gimgTime / 1000.0}] \
    [expr {double($ddwTime) / $gimgTime}]]

# ---- playback ----
set clip [file join $folder vesk-ddw-bench.avi]
exec ffmpeg -loglevel error -y -f lavfi -i testsrc=size=640x480:rate=25:duration=10 \
    -pix_fmt yuv420p -c:v mpeg4 -q:v 5 $clip
set frames [exec ffprobe -v error -count_frames -select_streams v \
    -show_entries stream=nb_read_frames -of default=nw=1:nk=1 $clip]
toplevel .v
wm geometry .v +0+0
set ::shown {}
ddw .v.w -video $clip -vvar ::clk -vstop {set ::done 1} -width 640 -height 480
pack .v.w
update
raise .v
update
trace add variable ::clk write {apply {args {
    lappend ::shown [list $::clk [expr {[clock microseconds] - $::start}]]
}}}
set ::start [clock microseconds]
.v.w video
vwait ::done
set frameTime [.v.w video frametime]
set seen [dict create]
set late 0
foreach entry $::shown {
    lassign $entry pts wall
    if {[dict exists $seen $pts]} continue
    dict set seen $pts 1
    if {$wall / 1e6 - $pts > $frameTime} {incr late}
}
set distinct [dict size $seen]
set dropped [expr {$frames - $distinct}]
destroy .v
file delete $clip
puts [format "playback 640x480 25 fps 10 s: %d frames, %d shown, %d late, %d dropped: %.1f%% late or dropped" \
    $frames $distinct $late $dropped [expr {100.0 * ($late + $dropped) / $frames}]]
exit
