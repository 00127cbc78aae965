# Records the size and CRC-32 of every file of cases.tcl as a build of the
# library writes it (streamed.txt; the reference was made by the build
# before created TIFFs were written as they are made).
#   xvfb-run -a wish8.6 tests/data/streamed/make-streamed.tcl LIBDIR > streamed.txt
lassign $argv libdir
package require Tk
wm withdraw .
set veskAppScripts {}
lappend auto_path $libdir
package require Vesk
set here [file dirname [file normalize [info script]]]
source [file join $here cases.tcl]
set dir [file join [pwd] streamed-work]
file mkdir $dir
foreach {name imgid pixel nbands rows columns geo} $streamedCases {
    set path [writeStreamedCase $dir $name $imgid $pixel $nbands $rows $columns $geo]
    puts [list $name {*}[streamedDigest $path]]
}
file delete -force $dir
exit
