# Saves a window as PNG: xwd takes the picture, Tk's photo writes the PNG.

proc xwdToPhoto {data} {
    binary scan $data I20 header
    lassign $header headerSize version format depth width height xoffset byteOrder \
        unit bitOrder pad bitsPerPixel bytesPerLine visualClass redMask greenMask \
        blueMask bitsPerRgb colormapEntries ncolors
    if {$format != 2 || $bitsPerPixel != 32} {
        error "unsupported window dump: format $format, $bitsPerPixel bits per pixel"
    }
    set start [expr {$headerSize + 12 * $ncolors}]
    set scan [expr {$byteOrder ? "I" : "i"}]
    set photo [image create photo -width $width -height $height]
    set rows {}
    for {set y 0} {$y < $height} {incr y} {
        binary scan $data @[expr {$start + $y * $bytesPerLine}]${scan}$width pixels
        set row {}
        foreach p $pixels {
            lappend row [format #%06x [expr {$p & 0xffffff}]]
        }
        lappend rows $row
    }
    $photo put $rows
    return $photo
}

proc saveWindowPng {window file} {
    update
    set f [open |[list xwd -silent -id [winfo id $window]] rb]
    set data [read $f]
    close $f
    set photo [xwdToPhoto $data]
    $photo write $file -format png
    image delete $photo
}
