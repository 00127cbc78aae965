# Benchmarks of the 3-D views, run against their peers in the same process
# run and on the same display:
#   - glexSolidDem and glexWireDem on a 1024 x 1024 grid against the native
#     immediate-mode loop of gl_dem_native.c (the same fan and strip order);
#   - 100 000 glVertex3fv calls from a GLfloat data object against the same
#     calls from literal lists.
# Usage (a display is needed; Xvfb will do):
#   xvfb-run -a -s "-screen 0 1280x1024x24" wish bench/gl_bench.tcl build/lib/libvesk81.so
package require Tk
wm withdraw .
set veskAppScripts {}
load [lindex $argv 0] Vesk
set here [file dirname [file normalize [info script]]]

# The native peer, built here.
set exe [file join /tmp vesk_gl_dem_native[pid]]
exec gcc -O2 -o $exe [file join $here gl_dem_native.c] -lGL -lX11 -lm
set native [exec $exe]
file delete $exe
lassign $native - nativeSolid - nativeWire

image create glw bench -width 1024 -height 768 -depth 16
glw current bench
set z {}
for {set r 0} {$r < 1024} {incr r} {
    for {set c 0} {$c < 1024} {incr c} {
        lappend z [expr {0.5 + 0.5 * sin($r * 0.02) * cos($c * 0.03)}]
    }
}
set ch [open /tmp/vesk_dem[pid].raw wb]
puts -nonewline $ch [binary format f* $z]
close $ch
unset z
glload dem /tmp/vesk_dem[pid].raw GL_FLOAT
file delete /tmp/vesk_dem[pid].raw
glEnable GL_DEPTH_TEST
glEnable GL_LIGHTING
glEnable GL_LIGHT0
glEnable GL_COLOR_MATERIAL
glEnable GL_NORMALIZE
glMatrixMode GL_PROJECTION
glLoadIdentity
glOrtho -0.6 0.6 -0.6 0.6 -2 2
glMatrixMode GL_MODELVIEW
glLoadIdentity
glRotate -50 1 0 0

proc best {script} {
    set fastest 1e30
    for {set i 0} {$i < 5} {incr i} {
        set t [lindex [time {uplevel 1 $script; glFinish}] 0]
        if {$i > 0 && $t < $fastest} {set fastest $t}
    }
    expr {$fastest / 1000.0}
}
set solid [best {glClear GL_COLOR_BUFFER_BIT GL_DEPTH_BUFFER_BIT; glexSolidDem 1024 1024 1 1 50 dem}]
set wire [best {glClear GL_COLOR_BUFFER_BIT GL_DEPTH_BUFFER_BIT; glexWireDem 1024 1024 1 1 50 dem}]
puts [format "glexSolidDem 1024x1024: %.1f ms, native %.1f ms, ratio %.2f (goal <= 1.2)" \
    $solid $nativeSolid [expr {$solid / $nativeSolid}]]
puts [format "glexWireDem  1024x1024: %.1f ms, native %.1f ms, ratio %.2f (goal <= 1.2)" \
    $wire $nativeWire [expr {$wire / $nativeWire}]]

# 100 000 vertices from one data object against literal lists.
GLfloat v {0.1 0.2 0.3}
proc fromObject {} {
    glBegin GL_POINTS
    for {set i 0} {$i < 100000} {incr i} {glVertex3fv v}
    glEnd
}
proc fromLists {} {
    glBegin GL_POINTS
    for {set i 0} {$i < 100000} {incr i} {glVertex3fv {0.1 0.2 0.3}}
    glEnd
}
set object [best fromObject]
set lists [best fromLists]
puts [format "glVertex3fv x100000: object %.1f ms, lists %.1f ms, speed-up %.2f (goal >= 3)" \
    $object $lists [expr {$lists / $object}]]
exit
