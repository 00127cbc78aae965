# One whole-process JPEG row for the bench runner, run as its own process:
#
#   wish8.6 bench/jpeg_rows.tcl decode IN.jpg          ;# statistics of every band (reads every row once)
#   wish8.6 bench/jpeg_rows.tcl ppm IN.jpg OUT.ppm     ;# copy into a new PPM file
#   wish8.6 bench/jpeg_rows.tcl copy IN.jpg OUT.jpg    ;# copy into a new JPEG (quality 90)
#
# Needs an X display (DISPLAY) and the built library (VESK_LIBDIR, else the
# build tree beside this folder).  Prints "rows <op> <peak RSS KiB>" and
# exits non-zero when the command fails.  Time it from outside, against
# `djpeg -outfile /dev/null IN.jpg`, `djpeg -pnm -outfile OUT.ppm IN.jpg` and
# `djpeg IN.jpg | cjpeg -quality 90 -outfile OUT.jpg`.
package require Tk
wm withdraw .
if {![info exists env(VESK_LIBDIR)]} {
    set env(VESK_LIBDIR) [file join [file dirname [file dirname [file normalize [info script]]]] build lib]
}
set auto_path [linsert $auto_path 0 $env(VESK_LIBDIR)]
set veskAppScripts {}
package require Vesk

proc peakKiB {} {
    set f [open /proc/self/status]
    set text [read $f]
    close $f
    regexp {VmHWM:\s+(\d+)} $text -> kib
    return $kib
}

lassign $argv op in out
if {[catch {
    switch -- $op {
        decode {
            set t [rimage open $in]
            rimage hist -imgid $t -list stats
            rimage close $t
        }
        ppm {
            file delete $out
            rimage copy -in $in -out $out -imgid PPM
        }
        copy {
            file delete $out
            rimage copy -in $in -out $out -cmp 90
        }
        default {
            error "usage: jpeg_rows.tcl decode IN | ppm IN OUT | copy IN OUT"
        }
    }
} msg]} {
    puts stderr $msg
    exit 1
}
puts "rows $op [peakKiB]"
exit 0
