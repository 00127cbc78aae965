# The written-file table: every format, pixel type and kind of image the
# library writes, as small images with known pixels.  Sourced by
# make-written.tcl (which writes the files that make-written.sh hands to
# GDAL and the formats' own tools) and by tests/raster/written.test (which
# writes them again and compares with what those tools read).

# name  imgid  pixel  bands  options: -palette N (an N-entry colour ramp),
# -geo (a projected coordinate system and a pixel grid), -columns N (7
# unless given), -top N (the largest USHORT value).  A one-band TIFF is
# made with a palette (a grey ramp unless given).  4-bit ERDAS rows are
# an even number of pixels: GDAL reads odd ones as if rows were not padded
# to whole bytes.
set writtenCases {
    tiff-1bit.tif       TIFF     1BIT   1 {-palette 2}
    tiff-4bits.tif      TIFF     4BITS  1 {-palette 16}
    tiff-ramp8.tif      TIFF     BYTE   1 {}
    tiff-palette8.tif   TIFF     BYTE   1 {-palette 256}
    tiff-rgb8.tif       TIFF     BYTE   3 {}
    tiff-sbyte.tif      TIFF     SBYTE  1 {}
    tiff-short.tif      TIFF     SHORT  1 {}
    tiff-ushort.tif     TIFF     USHORT 1 {}
    tiff-long.tif       TIFF     LONG   1 {}
    tiff-ulong.tif      TIFF     ULONG  1 {}
    tiff-float.tif      TIFF     FLOAT  2 {}
    geotiff-utm33.tif   GEOTIFF  BYTE   1 {-geo}
    geotiff-float.tif   GEOTIFF  FLOAT  1 {-geo}
    gif87-grey.gif      GIF87a   BYTE   1 {}
    gif89-grey.gif      GIF89a   BYTE   1 {}
    gif89-palette.gif   GIF89a   BYTE   1 {-palette 16}
    jpeg-grey.jpg       JPEG     BYTE   1 {}
    jpeg-rgb.jpg        JPEG     BYTE   3 {}
    dib-1bit.bmp        DIB      1BIT   1 {-palette 2}
    dib-4bits.bmp       DIB      4BITS  1 {-palette 16}
    dib-palette8.bmp    DIB      BYTE   1 {-palette 256}
    dib-rgb24.bmp       DIB      BYTE   3 {}
    ppm-grey.pgm        PPM      BYTE   1 {}
    ppm-rgb.ppm         PPM      BYTE   3 {}
    xbm-1bit.xbm        XBMP     1BIT   1 {}
    erdas-byte.lan      E74      BYTE   1 {}
    erdas-4bits.lan     E74      4BITS  1 {-columns 8}
    erdas-ushort.lan    E74      USHORT 1 {-top 32767}
    erdas-bil3.lan      E74      BYTE   3 {}
    erdas-e73.lan       E73      BYTE   2 {}
    imagedef-bsq.img    BSQ      SHORT  2 {}
    imagedef-bil.img    BIL      BYTE   3 {}
    imagedef-bip.img    BIP      FLOAT  2 {}
}
set writtenRows 5
set writtenColumns 7

# The value written at (x, y) of band b (from 1): spread over the type's
# range, signed types below zero too.  Values have six digits at most, as
# a bound image's vget prints them; ERDAS 16-bit files stay below 32768,
# the range on which readers agree (GDAL takes the type as signed).
proc writtenValue {pixel x y b {ushortTop 65535}} {
    set k [expr {$x + 7 * $y + 35 * ($b - 1)}]
    switch $pixel {
        1BIT   {expr {($x + $y) % 2}}
        4BITS  {expr {$k % 16}}
        BYTE   {expr {($k * 37) % 256}}
        SBYTE  {expr {($k * 37) % 256 - 128}}
        SHORT  {expr {$k * 1873 % 65536 - 32768}}
        USHORT {expr {$k * 1873 % ($ushortTop + 1)}}
        LONG   {expr {$k * 28001 - 999999}}
        ULONG  {expr {$k * 13001 + 70000}}
        FLOAT  {expr {$k * 1.5 - 10.25}}
    }
}

# Writes one case into dir; the file's path.
proc writeWrittenCase {dir name imgid pixel nbands options} {
    global writtenRows writtenColumns
    set path [file join $dir $name]
    file delete $path
    set palette 0
    set geo {}
    set columns $writtenColumns
    set top 65535
    if {[set i [lsearch $options -palette]] >= 0} {set palette [lindex $options $i+1]}
    if {[set i [lsearch $options -columns]] >= 0} {set columns [lindex $options $i+1]}
    if {[set i [lsearch $options -top]] >= 0} {set top [lindex $options $i+1]}
    if {"-geo" in $options} {set geo {-mapid PCS32633 -x0 500000 -y0 4650000 -dx 30 -dy 30}}
    rimage configure -file $path -imgid $imgid -pixel $pixel -nbands $nbands \
        -rows $writtenRows -columns $columns -nindices $palette \
        -mapid GRID -x0 0 -y0 0 -dx 1 -dy 1 {*}$geo
    rimage create
    set tag [rimage open $path]
    if {$palette > 0} {
        # A ramp from blue to red through green, not a grey one.
        set entries {}
        for {set i 0} {$i < $palette} {incr i} {
            set t [expr {$palette > 1 ? 255 * $i / ($palette - 1) : 0}]
            lappend entries [list $i $t [expr {(3 * $t + 64) % 256}] [expr {255 - $t}]]
        }
        rimage setIndices $path {*}$entries
    }
    rimage bind -file $path -obj writtenObj
    for {set b 1} {$b <= $nbands} {incr b} {
        for {set y 0} {$y < $writtenRows} {incr y} {
            for {set x 0} {$x < $columns} {incr x} {
                writtenObj vset $x $y [writtenValue $pixel $x $y $b $top] $b
            }
        }
    }
    writtenObj unbind
    rimage save $path
    rimage close $tag
    return $path
}

# The bands of an image file as this library reads them: a list of bands,
# each the row-major list of its values.
proc readWrittenFile {path} {
    rimage bind -file $path -obj writtenObj
    set out {}
    for {set b 1} {$b <= [writtenObj cget -nbands]} {incr b} {
        set band {}
        for {set y 0} {$y < [writtenObj cget -rows]} {incr y} {
            for {set x 0} {$x < [writtenObj cget -columns]} {incr x} {
                lappend band [writtenObj vget $x $y $b]
            }
        }
        lappend out $band
    }
    writtenObj unbind
    catch {rimage close $path}
    return $out
}

# Copies an image file into a new GeoTIFF through the library's writer.
proc writtenRoundTrip {from to} {
    file delete $to
    rimage copy -in $from -out $to -imgid GEOTIFF
    catch {rimage close $to}
    catch {rimage close $from}
    return $to
}
