# TIFFs written row by row by a module: every case is a new file made by
# "rimage create" and filled by "rimage copy" from a memory image of the
# same pixel type holding a pattern that differs by band.  Sourced by
# make-streamed.tcl (which recorded the size and CRC-32 of each file as
# the library wrote it before outputs were streamed: streamed.txt) and by
# tests/raster/tiffstream.test (which writes them again and compares).

# name  imgid  pixel  bands  rows  columns  georeferenced
set streamedCases {
    rgb8.tif        TIFF     BYTE   3  300  257 0
    grey8.tif       TIFF     BYTE   1  300  257 0
    sbyte.tif       TIFF     SBYTE  1   61  300 0
    ushort2.tif     TIFF     USHORT 2  300  257 0
    long2.tif       TIFF     LONG   2   97  301 0
    short3-geo.tif  GEOTIFF  SHORT  3  200  131 1
    float1-geo.tif  GEOTIFF  FLOAT  1  300  257 1
    float4.tif      TIFF     FLOAT  4  150   99 0
    rgb8-big.tif    TIFF     BYTE   3 1500 1001 0
}

# Writes one case into dir; returns its path.
proc writeStreamedCase {dir name imgid pixel nbands rows columns geo} {
    set path [file join $dir $name]
    file delete $path
    set src @streamed
    rimage open $src MBIL -rows $rows -columns $columns -nbands $nbands -pixel $pixel \
        -nindices 0
    set obj [rimage bind -file $src]
    $obj initxy 0.731 -1.37 3 2
    $obj * 17.3
    $obj sin 0.41 0.23 1 1
    $obj + [expr {$pixel in {BYTE SBYTE} ? 100 : 3.25}]
    for {set b 1} {$b < $nbands} {incr b} {$obj @*,*,$b + [expr {37 * $b}]}
    $obj unbind
    set where {-mapid GRID -x0 0 -y0 0 -dx 1 -dy 1}
    if {$geo} {set where {-mapid PCS32633 -x0 500000 -y0 4650000 -dx 30 -dy 30}}
    rimage configure -file $path -imgid $imgid -pixel $pixel -nbands $nbands -rows $rows \
        -columns $columns -nindices 0 {*}$where
    rimage create overwrite
    rimage copy -in $src -out $path
    rimage close $src
    return $path
}

# "size crc32" of a file.
proc streamedDigest {path} {
    set f [open $path rb]
    set data [read $f]
    close $f
    return [list [string length $data] [zlib crc32 $data]]
}
