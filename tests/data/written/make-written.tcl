# Writes every case of cases.tcl into a folder, with ours.txt: the values
# this library reads back from each.
# usage: wish8.6 make-written.tcl PKGDIR OUTDIR
lappend auto_path [lindex $argv 0]
set veskAppScripts {}
package require Tk
wm withdraw .
package require Vesk
source [file join [file dirname [info script]] cases.tcl]
set out [file normalize [lindex $argv 1]]
file mkdir $out
# ours.txt: each file's bands as this library reads them back, one line a band.
set ch [open [file join $out ours.txt] w]
foreach {name imgid pixel nbands options} $writtenCases {
    writeWrittenCase $out $name $imgid $pixel $nbands $options
    set b 0
    foreach band [readWrittenFile [file join $out $name]] {
        puts $ch "$name [incr b] $band"
    }
}
# A GeoTIFF that GDAL made (EPSG:32633) copied through the library's
# writer: the copy must keep the coordinate system.
set copy [file join $out roundtrip-utm33.tif]
writtenRoundTrip [file join [file dirname [info script]] peer utm33.tif] $copy
set b 0
foreach band [readWrittenFile $copy] {puts $ch "roundtrip-utm33.tif [incr b] $band"}
close $ch
exit
