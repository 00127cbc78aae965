# Times of rimage gfftrans (2048 x 2048 forward then inverse, two calls,
# files in the page cache) and rimage georef (4096 x 4096 FLOAT turned by
# 30 degrees, bilinear), best of five; prints milliseconds.
#   wish8.6 bench/fft_georef.tcl folder
set veskAppScripts {}
package require Vesk
wm withdraw .
set dir [lindex $argv 0]

proc best {script} {
    set best 1e30
    for {set i 0} {$i < 5} {incr i} {
        set t [clock microseconds]
        uplevel #0 $script
        set best [expr {min($best, [clock microseconds] - $t)}]
    }
    return [expr {$best / 1000.0}]
}

# a 2048 x 2048 byte image of varied values
set n 2048
set base {}
for {set i 0} {$i < $n + 251} {incr i} {lappend base [expr {($i * 7) % 251}]}
set base [binary format cu* $base]
set pgm [file join $dir vesk-fft-bench.pgm]
set f [open $pgm wb]
puts -nonewline $f "P5\n$n $n\n255\n"
for {set r 0} {$r < $n} {incr r} {
    set at [expr {(3 * $r) % 251}]
    puts -nonewline $f [string range $base $at [expr {$at + $n - 1}]]
}
close $f
set spectrum [file join $dir vesk-fft-bench.fft]
set back [file join $dir vesk-fft-back.fft]
rimage gfftrans -in $pgm -out $spectrum -op XYRI
rimage gfftrans -in $spectrum -out $back -op XYRI
puts "fft [best {
    rimage gfftrans -in $spectrum -out $back -op XYRI
    rimage gfftrans -in $back -out $spectrum -op XYRI
}]"
file delete $pgm $spectrum $back

rimage open @src MBSQ -rows 4096 -columns 4096 -pixel FLOAT
rimage open @dst MBSQ -rows 4096 -columns 4096 -pixel FLOAT
rimage bind -file @src -obj benchObj
for {set y 0} {$y < 4096} {incr y 64} {
    for {set x 0} {$x < 4096} {incr x 64} {benchObj vset $x $y [expr {$x + $y}] 1}
}
benchObj unbind
puts "georef [best {rimage georef -in @src -out @dst -p @30 -rs BI}]"
exit 0
