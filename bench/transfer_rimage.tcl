# Our side of bench/transfer_bench.py: one task a process, so that peak RSS
# belongs to it.  Prints "seconds peakKiB [extra]".
#   tclsh transfer_rimage.tcl LIBDIR WORK TASK
lassign $argv libdir work task
package require Tk
wm withdraw .
set veskAppScripts {}
lappend auto_path $libdir
package require Vesk
cd $work

proc peakKiB {} {
    set f [open /proc/self/status]
    regexp {VmHWM:\s+(\d+)} [read $f] -> kib
    close $f
    return $kib
}
proc seconds {script} {
    set t [clock microseconds]
    uplevel 1 $script
    return [expr {([clock microseconds] - $t) / 1e6}]
}

set sharpen {@2D 3 3 0 -1 0 -1 5 -1 0 -1 0}
switch $task {
    faithful {
        file delete crop.bil out.tif
        set s [seconds {
            set in [rimage open big.tif]
            rimage create overwrite -file crop.bil -imgid BIL -rows 9800 -columns 9800 -nbands 3 -pixel BYTE
            rimage crop -in $in -out crop.bil -ic 100 -ir 100
            rimage open @small MBIL -rows 980 -columns 980 -nbands 3 -pixel BYTE -dx 10 -dy 10
            rimage resample -in crop.bil -out @small -rsp BI
            rimage create overwrite -file out.tif -imgid TIFF -rows 980 -columns 980 -nbands 3 -pixel BYTE
            rimage gconv -in @small -out out.tif -kn $sharpen
        }]
        puts "$s [peakKiB]"
    }
    lean {
        file delete out.tif
        set s [seconds {
            set in [rimage open big.tif]
            rimage open @small MBIL -rows 980 -columns 980 -nbands 3 -pixel BYTE -x0 100 -y0 -100 -dx 10 -dy 10
            rimage resample -in $in -out @small -rsp BI
            rimage create overwrite -file out.tif -imgid TIFF -rows 980 -columns 980 -nbands 3 -pixel BYTE
            rimage gconv -in @small -out out.tif -kn $sharpen
        }]
        puts "$s [peakKiB]"
    }
    kernels {
        # Best of three of each kernel on a resident 4096 x 4096 FLOAT image.
        rimage open @a MBIL -rows 4096 -columns 4096 -pixel FLOAT
        rimage bind -file @a -obj a
        a initxy 0.25 0.5
        a unbind
        rimage open @b MBIL -rows 4096 -columns 4096 -pixel BYTE
        rimage bind -file @b -obj b
        b initxy 1 1
        b unbind
        # Turns, flips and the crop write into an existing output (the peer
        # gets its dst); the others make their output, as the peer allocates
        # its own.
        rimage open @r MBIL -rows 4096 -columns 4096 -pixel FLOAT
        rimage open @c MBIL -rows 3996 -columns 3996 -pixel BYTE
        foreach {name script} {
            rotate90 {rimage rotate -in @a -out @r -dir RIGHT}
            flip     {rimage rotate -in @a -out @r -dir XYFLIP}
            bilinear2x {rimage gsfzoom -in @a -out @o -s 2 -rs BI}
            cubic2x  {rimage gsfzoom -in @a -out @o -s 2 -rs CC}
            avg2x    {rimage gsfzoom -in @a -out @o -s 2 -rs AVG}
            transavg2x {rimage trans -in @a -out @o -o AVG -dx 2 -dy 2 -imgid MBIL}
            cropbyte {rimage crop -in @b -out @c -ic 100 -ir 100}
        } {
            set best 1e9
            for {set i 0} {$i < 3} {incr i} {
                catch {rimage close @o}
                set best [expr {min($best, [seconds $script])}]
            }
            catch {rimage close @o}
            puts "$name $best"
        }
    }
}
exit
