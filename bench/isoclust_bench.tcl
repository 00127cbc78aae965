# Times rimage ptable and gisoc on the images isoclust_bench.py makes.
#   wish8.6 bench/isoclust_bench.tcl folder
# Prints "name milliseconds" lines (best of the runs asked for).
set dir [lindex $argv 0]
if {[info exists env(VESK_LIBDIR)]} {set auto_path [linsert $auto_path 0 $env(VESK_LIBDIR)]}
set veskAppScripts {}
package require Vesk
cd $dir

# A 3-band FLOAT BIP image of the natural picture (header, then the raw floats).
set float [file join $dir natural-float.bip]
file delete $float
rimage create -file $float -imgid BIP -pixel FLOAT -nbands 3 -rows 2048 -columns 2048
set t [rimage open $float]
set offset [rimage cget $t -offset]
rimage close $t
set in [open [file join $dir natural.f32] rb]
set out [open $float r+]
fconfigure $out -translation binary
seek $out $offset
fcopy $in $out
close $in
close $out

# Best wall time of runs, in ms; the modules' printing goes to a file.
proc best {runs script} {
    set best 1e30
    for {set i 0} {$i < $runs} {incr i} {
        set us [lindex [time {uplevel #0 $script}] 0]
        set best [expr {min($best, $us / 1000.0)}]
    }
    return $best
}
puts stderr "ptable [best 3 {rimage ptable -in rand.ppm -pt rand.lku}]"
puts stderr "gisoc-table [best 2 {file delete table.bmp; rimage gisoc -in natural.ppm -out table.bmp}]"
puts stderr "gisoc-image [best 2 {file delete image.bmp; rimage gisoc -in $float -out image.bmp -nc 16 -nr 10 -cv 0 -sk 1}]"
iso.create classes -file iso.ftr
puts stderr "image-classes [classes count]"
exit 0
