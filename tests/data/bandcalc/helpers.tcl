# Helpers of the band-arithmetic suites (calc, pcalc, smetric, data, draw).

# A memory image from a list of bands (each a list of rows).
proc makeImage {tag bands {pixel FLOAT}} {
    set rows [llength [lindex $bands 0]]
    set columns [llength [lindex $bands 0 0]]
    rimage open $tag MBSQ -rows $rows -columns $columns -nbands [llength $bands] -pixel $pixel
    rimage bind -file $tag -obj bandObj
    set b 0
    foreach band $bands {
        incr b
        set y 0
        foreach row $band {
            set x 0
            foreach v $row {bandObj vset $x $y $v $b; incr x}
            incr y
        }
    }
    bandObj unbind
    return $tag
}
# The bands of an image (a list of bands, each a list of rows).
proc imageBands {tag} {
    rimage bind -file $tag -obj bandObj
    set out {}
    for {set b 1} {$b <= [bandObj cget -nbands]} {incr b} {
        set band {}
        for {set y 0} {$y < [bandObj cget -rows]} {incr y} {
            set row {}
            for {set x 0} {$x < [bandObj cget -columns]} {incr x} {lappend row [bandObj vget $x $y $b]}
            lappend band $row
        }
        lappend out $band
    }
    bandObj unbind
    return $out
}
# "ok", or the first value that differs by more than tol (relative, at least 1).
proc near {got want {tol 1e-5}} {
    set g [concat {*}[concat {*}$got]]
    set w [concat {*}[concat {*}$want]]
    if {[llength $g] != [llength $w]} {return "[llength $g] values, not [llength $w]"}
    foreach a $g b $w {
        if {abs($a - $b) > $tol * max(1.0, abs($b))} {return "$a != $b"}
    }
    return ok
}
proc module {args} {
    set code [catch {rimage {*}$args} result]
    return [list $code $result]
}
proc closeAll {args} {foreach t $args {catch {rimage close $t}}}
