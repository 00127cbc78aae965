# Seeds of the fuzz corpora written by the library itself: raw image files
# with IMAGEDEF, ERDAS and ELAS heads, a TERRA tile file and a GCP set.
# Run from the repository with the plain build:
#   xvfb-run tclsh fuzz/make-seeds.tcl build/lib
lappend auto_path [lindex $argv 0]
set veskAppScripts {}
package require Tk
wm withdraw .
package require Vesk
set corpus [file join [file dirname [info script]] corpus]

proc seed {target name} {
    file mkdir [file join $::corpus $target]
    return [file join $::corpus $target $name]
}

foreach {target imgid pixel} {
    imagedef BSQ BYTE  imagedef BIL SHORT  imagedef BIP FLOAT
    erdas E73 BYTE  erdas E74 USHORT  erdas E74BSQ BYTE
    elas ELAS BYTE  elas ELAS USHORT
} {
    set f [seed $target [string tolower $imgid-$pixel].img]
    file delete $f
    rimage create -file $f -imgid $imgid -pixel $pixel -rows 3 -columns 5 -nbands 2
}

terra.create t
t define 2 Photo Scale1km 32 3 5
set tile {}
for {set i 0} {$i < 300} {incr i} { append tile [format %c [expr {($i * 7) % 256}]] }
t puttile 1 [binary encode base64 -maxlen 72 $tile]
t save [seed terra defined.terra]
rename t {}

gcp.create g
g set {1 0 0 10 20}
g set {2 1 0 12 21}
g set {3 0 1 11 23}
g set {4 1 1 14 24}
g function 1
g save [seed gcpfile four.gcp]
rename g {}
exit 0
