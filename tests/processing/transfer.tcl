# Shared pieces of the window and geometry transfer suites (copy.test,
# rotate.test, resample.test): images made by formula, the same as in
# tests/data/transfer/expected.py, and the reference values it printed.

set f [open [file join $::veskSourceDir tests data transfer expected.txt]]
set ::transferExpected [dict create]
foreach line [split [string trim [read $f]] \n] {
    dict set ::transferExpected [lindex $line 0] [lindex $line 1]
}
close $f
proc expected {name} {dict get $::transferExpected $name}

# The formula of pixel (r, c) of band b (from 0).
proc pixelValue {kind r c b} {
    set v [expr {($r * 31 + $c * 17 + $b * 7) % 251}]
    if {$kind eq "float"} {set v [expr {$v + 0.25 * (($r + 2 * $c) % 4)}]}
    return $v
}

# A memory image filled by the formula; extra words go to rimage open.
proc formulaImage {tag rows columns bands pixel kind args} {
    rimage open $tag MBIL -rows $rows -columns $columns -nbands $bands -pixel $pixel {*}$args
    rimage bind -file $tag -obj transferObj
    for {set r 0} {$r < $rows} {incr r} {
        for {set c 0} {$c < $columns} {incr c} {
            set v {}
            for {set b 0} {$b < $bands} {incr b} {lappend v [pixelValue $kind $r $c $b]}
            transferObj vset $c $r $v
        }
    }
    transferObj unbind
    return $tag
}

# The rows of one band (from 1) of an image.
proc bandRows {tag {band 1}} {
    rimage bind -file $tag -obj transferObj
    set rows [transferObj cget -rows]
    set columns [transferObj cget -columns]
    set out {}
    for {set y 0} {$y < $rows} {incr y} {
        set row {}
        for {set x 0} {$x < $columns} {incr x} {lappend row [transferObj vget $x $y $band]}
        lappend out $row
    }
    transferObj unbind
    return $out
}

# "ok", or the first place where two row lists differ by more than tol
# (relative to the size of the value, at least 1).
proc near {got want {tol 1e-5}} {
    if {[llength $got] != [llength $want]} {return "rows [llength $got] != [llength $want]"}
    set i 0
    foreach g $got w $want {
        if {[llength $g] != [llength $w]} {return "row $i: [llength $g] != [llength $w] columns"}
        foreach a $g b $w {
            if {abs($a - $b) > $tol * max(1.0, abs($b))} {return "row $i: $a != $b"}
        }
        incr i
    }
    return ok
}

# Runs the default head's options around a script, restoring them after.
proc withHead {script} {
    set keep [rimage configure]
    set code [catch {uplevel 1 $script} r]
    foreach spec $keep {rimage configure [lindex $spec 0] [lindex $spec 4]}
    return -code $code $r
}

# A one-band FLOAT BIL file by the formula, written directly after its header.
proc formulaFile {name rows columns} {
    set path [file join [temporaryDirectory] $name]
    file delete $path
    withHead {
        rimage create -file $path -imgid BIL -pixel FLOAT -rows $rows -columns $columns -nbands 1
    }
    set values {}
    for {set r 0} {$r < $rows} {incr r} {
        for {set c 0} {$c < $columns} {incr c} {lappend values [pixelValue float $r $c 0]}
    }
    set f [open $path r+]
    fconfigure $f -translation binary
    seek $f [dataOffset $path]
    puts -nonewline $f [binary format r* $values]
    close $f
    return $path
}

# The data offset of an image file.
proc dataOffset {path} {
    set t [rimage open $path]
    set offset [rimage cget $t -offset]
    rimage close $t
    return $offset
}

# The MD5 digest of an image file's pixel data.
proc dataDigest {path} {
    set f [open $path rb]
    seek $f [dataOffset $path]
    set data [read $f]
    close $f
    set tmp [file join [temporaryDirectory] digest.bin]
    set g [open $tmp wb]
    puts -nonewline $g $data
    close $g
    set sum [lindex [exec md5sum $tmp] 0]
    file delete $tmp
    return $sum
}

# Runs a module: its answer code and result together.
proc module {args} {
    set code [catch {rimage {*}$args} result]
    return [list $code $result]
}
proc closeAll {args} {foreach t $args {catch {rimage close $t}}}

# The pixels of a 24-bit BMP as any reader takes them: rows top first, each
# pixel {r g b}.  Stored rows run bottom up, blue green red, padded to 4 bytes.
proc bmpRgbRows {path} {
    set f [open $path rb]
    set d [read $f]
    close $f
    binary scan $d @10iu@18iu@22i offset columns rows
    set stride [expr {(24 * $columns + 31) / 32 * 4}]
    set out {}
    for {set y [expr {$rows - 1}]} {$y >= 0} {incr y -1} {
        binary scan $d @[expr {$offset + $y * $stride}]cu[expr {3 * $columns}] bgr
        lappend out [lmap {b g r} $bgr {list $r $g $b}]
    }
    return $out
}

# The pixels netpbm read from a fixture of tests/data/formats (its
# expected.txt, made by make-fixtures.sh), in the form of bmpRgbRows.
proc netpbmRgbRows {name} {
    set f [open [file join $::veskSourceDir tests data formats expected.txt]]
    set lines [split [read $f] \n]
    close $f
    set words [lrange [lindex $lines [lsearch -glob $lines "$name: *"]] 1 end]
    lassign $words magic columns rows
    set values [lrange $words 4 end]
    set out {}
    for {set y 0} {$y < $rows} {incr y} {
        set row {}
        for {set x 0} {$x < $columns} {incr x} {
            lappend row [lrange $values [expr {3 * ($y * $columns + $x)}] [expr {3 * ($y * $columns + $x) + 2}]]
        }
        lappend out $row
    }
    return $out
}
