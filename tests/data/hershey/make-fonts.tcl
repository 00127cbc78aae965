# Makes the stroke-font fixture of the raster driver's suites from Debian's
# hershey-fonts-data: rowmans.jhf (roman) and greeks.jhf (greek) merged into
# one glyph file by glyph number (a number names the same glyph in both),
# and one definition file per font listing its 96 glyph numbers in
# character order (codes 32 to 127).
#   tclsh make-fonts.tcl ?/usr/share/hershey-fonts? ?outdir?
set src [expr {[llength $argv] > 0 ? [lindex $argv 0] : "/usr/share/hershey-fonts"}]
set out [expr {[llength $argv] > 1 ? [lindex $argv 1] : [file dirname [info script]]}]

# The glyphs of a file as a list of {number text}, line ends dropped.
proc readGlyphs {path} {
    set f [open $path]
    set data [string map {"\n" "" "\r" ""} [read $f]]
    close $f
    set glyphs {}
    set i 0
    while {$i + 8 <= [string length $data]} {
        set number [string trim [string range $data $i [expr {$i + 4}]]]
        set pairs [string trim [string range $data [expr {$i + 5}] [expr {$i + 7}]]]
        set end [expr {$i + 8 + 2 * $pairs}]
        lappend glyphs [list [scan $number %d] [string range $data $i [expr {$end - 1}]]]
        set i $end
    }
    return $glyphs
}

set seen [dict create]
set g [open [file join $out hershey.jhf] w]
fconfigure $g -translation lf
foreach {font file} {roman rowmans.jhf greek greeks.jhf} {
    set numbers {}
    foreach glyph [readGlyphs [file join $src $file]] {
        lassign $glyph number text
        lappend numbers $number
        if {![dict exists $seen $number]} {
            dict set seen $number 1
            puts $g $text
        }
    }
    set d [open [file join $out $font.def] w]
    fconfigure $d -translation lf
    puts $d $numbers
    close $d
}
close $g
