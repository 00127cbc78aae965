# Helpers of the widget suites: what the X server shows in a window, read
# through xwd (x11-apps), an independent look at the pixels a widget put
# there; RAM images filled from value lists; children on private X servers
# of other depths.

# Grabs a window: a dict with width, height, bpp, bpl, order (0 LSB, 1 MSB),
# the colormap cells {pixel {r g b}} (8-bit colour) and the pixel bytes.
proc grabWindow {win} {
    raise [winfo toplevel $win]
    update
    set display [winfo screen $win]
    set f [open [list | xwd -silent -display $display -id [winfo id $win]] rb]
    set data [read $f]
    close $f
    binary scan $data IIIIIIIIIIIIIIIII headerSize version format depth \
        width height xoffset order unit bitOrder pad bpp bpl class rmask gmask bmask
    binary scan $data @68III bitsPerRgb cmapEntries ncolors
    set cells {}
    set pos $headerSize
    for {set i 0} {$i < $ncolors} {incr i} {
        binary scan $data @${pos}IuSuSuSu pixel r g b
        set r [expr {$r & 0xffff}]; set g [expr {$g & 0xffff}]; set b [expr {$b & 0xffff}]
        dict set cells [expr {$pixel & 0xffffffff}] [list [expr {$r >> 8}] [expr {$g >> 8}] [expr {$b >> 8}]]
        incr pos 12
    }
    return [dict create width $width height $height bpp $bpp bpl $bpl order $order \
        cells $cells bytes [string range $data $pos end]]
}

# The pixel value at (x, y) of a grab.
proc pixelAt {grab x y} {
    set bytes [expr {[dict get $grab bpp] / 8}]
    set at [expr {$y * [dict get $grab bpl] + $x * $bytes}]
    set value 0
    for {set i 0} {$i < $bytes} {incr i} {
        binary scan [dict get $grab bytes] @[expr {$at + $i}]cu b
        if {[dict get $grab order] == 0} {
            set value [expr {$value | ($b << (8 * $i))}]
        } else {
            set value [expr {($value << 8) | $b}]
        }
    }
    return $value
}

# The colour {r g b} (0-255) of a pixel value of an 8-bit grab.
proc cellColor {grab pixel} {
    return [dict get [dict get $grab cells] $pixel]
}

# Pixel values at the centres of the image pixels (column, row) a window
# shows scaled over its whole area, for an image of cols x rows.
proc imagePixels {grab cols rows points} {
    set out {}
    foreach {c r} $points {
        set x [expr {int(($c + 0.5) * [dict get $grab width] / $cols)}]
        set y [expr {int(($r + 0.5) * [dict get $grab height] / $rows)}]
        lappend out [pixelAt $grab $x $y]
    }
    return $out
}

# Makes a RAM image of rows x columns x bands of a pixel type, band b
# holding the values of lists [lindex $values b] row by row.
proc makeImage {tag pixel rows columns values} {
    set bands [llength $values]
    rimage open $tag MBSQ -rows $rows -columns $columns -pixel $pixel -nbands $bands
    set o [rimage bind -file $tag -obj fill_[string map {@ _} $tag]]
    set n [expr {$rows * $columns}]
    for {set i 0} {$i < $n} {incr i} {
        set pixel {}
        foreach band $values {lappend pixel [lindex $band $i]}
        $o vset [expr {$i % $columns}] [expr {$i / $columns}] $pixel
    }
    $o unbind
    return $tag
}

# Starts a private Xvfb of a depth once per file: its display number.
# VESK_XVFB_PRIVATE names a first display number to use (the next ones
# follow); without it the server picks a free number itself.
array set privateServers {}
proc privateDisplay {depth} {
    global privateServers env
    if {[info exists privateServers($depth)]} {return [lindex $privateServers($depth) 0]}
    if {[info exists env(VESK_XVFB_PRIVATE)]} {
        set n [expr {$env(VESK_XVFB_PRIVATE) + [array size privateServers]}]
        set f [open "|Xvfb :$n -displayfd 1 -screen 0 640x480x$depth -nolisten tcp 2>/dev/null" r]
    } else {
        set f [open "|Xvfb -displayfd 1 -screen 0 640x480x$depth -nolisten tcp 2>/dev/null" r]
    }
    set n [gets $f]
    set privateServers($depth) [list $n $f]
    return $n
}
proc stopPrivateServers {} {
    global privateServers
    foreach {depth entry} [array get privateServers] {
        lassign $entry n f
        catch {exec kill [pid $f]}
        catch {close $f}
    }
    array unset privateServers
}

# Runs a script in a child on a private server of a depth; what it printed.
proc onDepth {depth script} {
    set n [privateDisplay $depth]
    set f [makeFile [string map [list @LIB@ $::veskLib \
        @XWD@ [file join $::veskSourceDir tests widgets xwd.tcl]] {
        set veskAppScripts {}
        package require Tk
        wm withdraw .
        load @LIB@ Vesk
        source @XWD@
        toplevel .t
    }]$script\nexit\n depth$depth.tcl]
    return [exec env DISPLAY=:$n [info nameofexecutable] $f 2>@1]
}

