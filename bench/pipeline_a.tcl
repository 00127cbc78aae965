# Pipeline A (libvips' benchmark) with our own modules, in one process:
# a TIFF cropped by 100 pixels on each side and shrunk by 10 % (bilinear
# resample onto a georeferenced grid whose origin and step do both), then
# sharpened with [-1 -1 -1; -1 16 -1; -1 -1 -1] / 8 into a new
# uncompressed TIFF.  The resampled image goes to a file beside OUT
# (removed at the end).  Prints "seconds peakKiB": from the open of IN to
# the end of the write, and VmHWM at the end.
#   wish8.6 bench/pipeline_a.tcl LIBDIR IN.tif OUT.tif   (under an X display)
#   VESK_THREADS=1 runs it on one thread.
if {[llength $argv] != 3} {
    puts stderr "usage: wish8.6 pipeline_a.tcl LIBDIR IN.tif OUT.tif"
    exit 2
}
lassign $argv libdir in out
package require Tk
wm withdraw .
set veskAppScripts {}
lappend auto_path $libdir
package require Vesk

proc peakKiB {} {
    set f [open /proc/self/status]
    regexp {VmHWM:\s+(\d+)} [read $f] -> kib
    close $f
    return $kib
}

set small [file rootname $out].small.tif
set t [clock microseconds]
set src [rimage open $in]
set rows [rimage cget $src -rows]
set columns [rimage cget $src -columns]
set bands [rimage cget $src -nbands]
set step [expr {1 / 0.9}]
set orows [expr {int(($rows - 200) * 0.9)}]
set ocolumns [expr {int(($columns - 200) * 0.9)}]
rimage create overwrite -file $small -imgid GEOTIFF -rows $orows -columns $ocolumns \
    -nbands $bands -pixel BYTE -x0 100 -y0 -100 -dx $step -dy $step
rimage resample -in $src -out $small -rsp BI
rimage create overwrite -file $out -imgid TIFF -rows $orows -columns $ocolumns \
    -nbands $bands -pixel BYTE
rimage gconv -in $small -out $out -kn {@2D 3 3 -1 -1 -1 -1 16 -1 -1 -1 -1} -norm yes
rimage close $src
set s [expr {([clock microseconds] - $t) / 1e6}]
file delete $small
puts "$s [peakKiB]"
exit 0
