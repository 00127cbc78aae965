# geom_rows.tcl --
#     The geometric kernels' own side: resample, gsfzoom, georef and dist
#     on 4096 x 4096 memory images, timed inside the process.
#
#     /usr/bin/python3 bench/geom_rows_cv2.py --make FOLDER
#     VESK_THREADS=1 taskset -c 3 wish bench/geom_rows.tcl LIB FOLDER ?-repeat N? ?ROW ...?
#
# LIB is build/lib/libvesk81.so; FOLDER holds a.lan and seeds.lan, made by
# geom_rows_cv2.py.  Each row (all by default) runs N times (default 5);
# the time is `clock microseconds` around the work, which makes the
# output where the peer's call allocates its own; the previous output is
# closed outside the timing.  Prints "ROW name min median" in seconds, as
# geom_rows_cv2.py prints for OpenCV.  VESK_THREADS=1 for one thread.
#
#   resample2x   resample BI into a new 8192^2 FLOAT image of half the pixel size
#   resampleAVG  resample AVG into a new 2048^2 FLOAT image of twice the pixel size
#   zoomCC       gsfzoom -s 2 (cubic), a new 8191^2 image
#   zoomAVG      gsfzoom -s 2 -rs AVG, a new 2048^2 image
#   georef       georef -p @30 -rs BI into an existing 4096^2 FLOAT image
#   dist         dist -c 1 of the seeds into an existing 4096^2 BYTE image

package require Tk
wm withdraw .
lassign $argv lib folder
set argv [lrange $argv 2 end]
set repeat 5
if {[set k [lsearch $argv -repeat]] >= 0} {
    set repeat [lindex $argv [expr {$k + 1}]]
    set argv [lreplace $argv $k [expr {$k + 1}]]
}
load $lib
set side 4096

# A memory image tag holding the pixels of an ERDAS file.
proc loadMemory {tag path pixel} {
    global side
    rimage open $tag MBIL -columns $side -rows $side -nbands 1 -pixel $pixel -dx 1 -dy 1
    rimage bind -file $tag -obj M
    M = [rimage bind -file $path -obj F]
    F unbind
    M unbind
}
loadMemory a $folder/a.lan FLOAT
loadMemory s $folder/seeds.lan BYTE
rimage open g MBIL -columns $side -rows $side -nbands 1 -pixel FLOAT
rimage open d MBIL -columns $side -rows $side -nbands 1 -pixel BYTE

set s2 [expr {2 * $side}]
set half [expr {$side / 2}]
set work [dict create \
    resample2x "rimage open o MBIL -columns $s2 -rows $s2 -nbands 1 -pixel FLOAT -dx 0.5 -dy 0.5
                rimage resample -in a -out o -rsp BI" \
    resampleAVG "rimage open o MBIL -columns $half -rows $half -nbands 1 -pixel FLOAT -dx 2 -dy 2
                 rimage resample -in a -out o -rsp AVG" \
    zoomCC "rimage gsfzoom -in a -out o -s 2" \
    zoomAVG "rimage gsfzoom -in a -out o -s 2 -rs AVG" \
    georef "rimage georef -in a -out g -p @30 -rs BI" \
    dist "rimage dist -in s -out d -c 1"]

foreach name [expr {[llength $argv] ? $argv : [dict keys $work]}] {
    set times {}
    for {set i 0} {$i < $repeat} {incr i} {
        catch {rimage close o}
        set t [clock microseconds]
        uplevel #0 [dict get $work $name]
        lappend times [expr {([clock microseconds] - $t) / 1e6}]
    }
    set times [lsort -real $times]
    puts [format "ROW %s %.6f %.6f" $name [lindex $times 0] [lindex $times [expr {$repeat / 2}]]]
    flush stdout
}
catch {rimage close o}
exit
