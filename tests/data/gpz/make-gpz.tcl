# Makes the GPZ fixtures: head files (8-byte magic, then the 2056-byte head
# in little-endian order) and the raw band-sequential data files they name.
# The bytes are committed; run with: tclsh tests/data/gpz/make-gpz.tcl
cd [file dirname [info script]]

proc writeBytes {name bytes} {
    set f [open $name wb]
    puts -nonewline $f $bytes
    close $f
}

# A head: the data file's name, form, columns, rows, bands, pixel type code,
# x0 y0 dx dy, palette entries and a list of {red green blue} entries.
proc gpzHead {name form columns rows bands code geo indices palette} {
    set head [binary format a136i1x32i4x76d4x596i1x136 \
                  $name $form [list $columns $rows $bands $code] $geo $indices]
    set quads {}
    foreach rgb $palette {
        lassign $rgb r g b
        append quads [binary format cccc $b $g $r 0]
    }
    append head [binary format a1024 $quads]
    return [binary format a8 GPZ1]$head
}

# Two BYTE bands of 3 rows x 4 columns: 0 10 ... 110, then 120 ... 230.
writeBytes sub/img.gpz [gpzHead img.dat 0 4 3 2 1 {100.0 200.0 0.5 -0.25} 0 {}]
set data {}
for {set i 0} {$i < 24} {incr i} {append data [binary format c [expr {$i * 10}]]}
writeBytes sub/img.dat $data

# Refused heads: an unsupported pixel type code, another form, a cut head,
# a data file shorter than the image, no data file, zero rows.
writeBytes sub/type6.gpz [gpzHead img.dat 0 4 3 2 6 {0 0 1 1} 0 {}]
writeBytes sub/form1.gpz [gpzHead img.dat 1 4 3 2 1 {0 0 1 1} 0 {}]
writeBytes sub/cut.gpz [string range [gpzHead img.dat 0 4 3 2 1 {0 0 1 1} 0 {}] 0 1999]
writeBytes sub/big.gpz [gpzHead img.dat 0 4 3 3 1 {0 0 1 1} 0 {}]
writeBytes sub/lost.gpz [gpzHead none.dat 0 4 3 2 1 {0 0 1 1} 0 {}]
writeBytes sub/empty.gpz [gpzHead img.dat 0 4 0 2 1 {0 0 1 1} 0 {}]
# A size past int64: 2^31-1 rows, columns and bands of one byte.
writeBytes sub/huge.gpz [gpzHead img.dat 0 2147483647 2147483647 2147483647 1 {0 0 1 1} 0 {}]

# A head that claims 1000 palette entries over USHORT data of 1 x 2 pixels.
writeBytes sub/many.gpz [gpzHead u16.dat 0 2 1 1 8 {0 0 1 1} 1000 {{1 2 3}}]
writeBytes sub/u16.dat [binary format s2 {300 65535}]

# A file that is both a GPZ head and an implicit-VR DICOM file: "DICM" and
# the first element lie in the unused end of the name field, and the
# element's value covers the rest of the head.  Its pixel data is one row of
# 7 and 9; the GPZ data file it names holds one row of 1 and 2.
set head [gpzHead dual.dat 0 2 1 1 1 {0 0 1 1} 0 {}]
set head [string replace $head 128 131 DICM]
set head [string replace $head 132 139 [binary format ssi 0x0008 0x0001 [expr {2064 - 140}]]]
set tail {}
foreach {element value} {0x0010 1 0x0011 2 0x0100 8} {
    append tail [binary format ssis 0x0028 $element 2 $value]
}
append tail [binary format ssicc 0x7fe0 0x0010 2 7 9]
writeBytes sub/dual.gpz $head$tail
writeBytes sub/dual.dat [binary format cc 1 2]
