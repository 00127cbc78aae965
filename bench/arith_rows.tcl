# Our side of the arithmetic-kernel rows: one row, timed inside the
# process with clock microseconds around the command (the data set up
# first, outside the time).  Prints one "TIME seconds" line per run and
# "RSS MiB" (peak) at the end.
#   wish8.6 bench/arith_rows.tcl folder row runs [warm]
# folder holds the files bench/arith_rows_peers.py make-data writes.
# Rows: mul add nratio gconv3-2k gconv3 gconv9 fft gisoc classify.
# VESK_THREADS=1 (with taskset) for one thread; unset for all.
set dir [lindex $argv 0]
set row [lindex $argv 1]
set runs [lindex $argv 2]
set warm [expr {[llength $argv] > 3 ? [lindex $argv 3] : 1}]
if {[info exists env(VESK_LIBDIR)]} {set auto_path [linsert $auto_path 0 $env(VESK_LIBDIR)]}
set veskAppScripts {}
package require Tk
wm withdraw .
package require Vesk
cd $dir

# A memory image under tag holding the pixels of a file image.
proc memoryCopy {tag path} {
    rimage open $tag MBIL $path
    set obj [rimage bind -file $tag -obj ${tag}_mem]
    $obj = [rimage bind -file $path -obj ${tag}_file]
    ${tag}_file unbind
    return $obj
}
proc floatOut {tag side} {
    rimage open $tag MBIL -columns $side -rows $side -nbands 1 -pixel FLOAT
}

switch -- $row {
    mul {
        set a [memoryCopy a a.lan]
        set work {$a * 1.0001}
    }
    add {
        set a [memoryCopy a a.lan]
        memoryCopy b b.lan
        set work {$a + b}
    }
    nratio {
        memoryCopy ab ab.lan
        floatOut c 4096
        set work {rimage calc -in ab -out c -f nratio -b 1,2}
    }
    gconv3-2k {
        memoryCopy a a2k.lan
        floatOut c 2048
        set work {rimage gconv -in a -out c -kn {@2D 3 3 1 1 1 1 1 1 1 1 1}}
    }
    gconv3 {
        memoryCopy a a.lan
        floatOut c 4096
        set work {rimage gconv -in a -out c -kn {@2D 3 3 1 1 1 1 1 1 1 1 1}}
    }
    gconv9 {
        memoryCopy a a.lan
        floatOut c 4096
        set k {}
        for {set i 0} {$i < 81} {incr i} {lappend k [expr {0.01 * (1 + $i % 9 + $i / 9)}]}
        set work [list rimage gconv -in a -out c -kn "@2D 9 9 $k"]
    }
    fft {
        # forward of the byte image, then the inverse of its spectrum, file to file
        set work {
            rimage gfftrans -in pic2k.pgm -out spectrum.fft -op XYRI
            rimage gfftrans -in spectrum.fft -out back.fft -op XYRI
        }
    }
    gisoc {
        set work {file delete iso.bmp; rimage gisoc -in abcd.lan -out iso.bmp -nc 16 -nr 10 -cv 0 -sk 1}
    }
    classify {
        memoryCopy r rgb.lan
        rimage open cl MBIL -columns 4096 -rows 4096 -nbands 1 -pixel BYTE
        set work {rimage classify -in r -out cl -stat sixteen.stat -tshd 1000}
    }
    default {
        puts stderr "unknown row $row"
        exit 2
    }
}
proc work {} [list uplevel #0 $work]
for {set i 0} {$i < $warm} {incr i} {work}
for {set i 0} {$i < $runs} {incr i} {
    set t [clock microseconds]
    work
    puts "TIME [expr {([clock microseconds] - $t) / 1e6}]"
}
set f [open /proc/self/status]
regexp {VmHWM:\s+(\d+)} [read $f] -> hwm
close $f
puts "RSS [expr {$hwm / 1024.0}]"
exit 0
