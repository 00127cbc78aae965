# Vesk demo: loads the package, exercises what the library offers so far,
# prints what it did and saves a screenshot.
#   wish8.6 demo/demo.tcl <output folder>

set outDir [expr {[llength $argv] ? [lindex $argv 0] : "."}]
file mkdir $outDir
if {[info exists env(VESK_LIBDIR)]} {
    set auto_path [linsert $auto_path 0 $env(VESK_LIBDIR)]
}
source [file join [file dirname [info script]] screenshot.tcl]
# Start-up loads the script libraries of veskAppScripts from gimgHome.
set gimgHome [file dirname [file normalize [info script]]]

set log {}
proc step {what script} {
    set result [uplevel #0 $script]
    set line [format "%-34s -> %s" $what $result]
    puts $line
    lappend ::log $line
}

step "package require Vesk"        {package require Vesk}
step "vesk version"                {vesk version}
step "home folder (gimgHome)"      {set gimgHome}
step "script libraries"            {set veskAppScripts}
step "program.lib ran at start-up" {demoGreeting}
step "calc compsave (ratio)"        {calc compsave [file join $outDir demo.lib] "set demoVar 42"}
step "calc decompload"              {calc decompload [file join $outDir demo.lib]}
step "calc d2r 180"                 {calc d2r 180}
step "calc srand 1; calc rand"      {calc srand 1; calc rand}
step "proj.create u33 (UTM zone 33)" {proj.create u33}
step "u33 project 15 50"           {u33 projconfigure -projdef {+proj=utm +zone=33 +ellps=WGS84} -fmtxy %.3f; u33 project 15 50}
step "u33 inverse"                 {u33 projconfigure -inv 1 -fmtll %.6f; u33 project 500000 5538630.703}
step "shape.create roads; POLYLINE"   {shape.create roads; roads initialize POLYLINE}
step "roads addrecord (2 lines)"       {roads addrecord {0 0 5 5 10 0}; roads addrecord {0 10 10 10}; roads count}
step "roads save; shape.info"          {roads save [file join $outDir roads.shp]; shape.info [file join $outDir roads.shp]}
step "rimage create (ERDAS, 3x4 BYTE)"  {rimage create overwrite -file [file join $outDir demo.lan] -imgid E74 -rows 3 -columns 4}
step "fill the body; rimage open"        {
    set f [open [file join $outDir demo.lan] r+]; fconfigure $f -translation binary
    seek $f 128; puts -nonewline $f [binary format c* {0 10 20 30 40 50 60 70 80 90 100 110}]; close $f
    set lan [rimage open [file join $outDir demo.lan]]
}
step "rimage configure -x0 -dx; cget"    {rimage configure $lan -x0 500000 -dx 30; rimage cget $lan -x0}
step "rimage list"                       {rimage list}
step "rimage hist -list stats"           {rimage hist -imgid $lan -list stats}
step "rimage save (flush to ERDAS)"      {rimage save $lan; file size [file join $outDir demo.lan]}
step "image create gimg -file $lan"      {image create gimg demoView -file $lan; list [vesk gimg] [demoView cget -file]}
step "etran parser (three-address code)" {etran parser "x = (a + b) * c"}
step "rimage create (DIB); setIndices"   {
    rimage create overwrite -file [file join $outDir demo.bmp] -imgid DIB -rows 3 -columns 4
    set bmp [rimage open [file join $outDir demo.bmp]]
    rimage setIndices $bmp {0-9 255 0 0}; rimage save $bmp; rimage getIndices $bmp 9-10
}
step "rimage open @mem MRGB8; getIndices" {rimage open @mem MRGB8 -rows 2 -columns 2; rimage getIndices @mem 128}
step "rimage close (all three)"          {image delete demoView; list [rimage close $lan] [rimage close $bmp] [rimage close @mem]}
step "gradient PPM (128x64 RGB)"         {
    set ppm [file join $outDir gradient.ppm]
    set f [open $ppm wb]; puts -nonewline $f "P6\n128 64\n255\n"
    for {set y 0} {$y < 64} {incr y} {
        set row {}
        for {set x 0} {$x < 128} {incr x} {lappend row [expr {$x * 2}] [expr {$y * 4}] [expr {255 - $x * 2}]}
        puts -nonewline $f [binary format c* $row]
    }
    close $f
    set grad [rimage open $ppm]
}
step "rimage draw polygon into band 2"   {rimage draw $grad polygon {12 8 60 8 36 56} 255 2; rimage draw $grad line {0 63 127 0} 0 1}
step "rimage calc nratio of bands 1, 3"  {
    set ratio [file join $outDir ratio.bsq]
    rimage calc -in $grad -out $ratio -imgid BSQ -nbands 1 -f nratio -b 1,3
    set r [rimage open $ratio]
    set stats [rimage hist -imgid $r -list stats]
    rimage close $r
    set stats
}
step "gimg of it, x2, in a label"        {
    image create gimg demoGrad -file $grad -comb 1/2/3 -palette 8/8/4 -mx 2 -my 2
    image create gimg demoGrey -file $grad -comb 2 -palette 64 -rotate 1
    list [image width demoGrad] [image height demoGrad] [image width demoGrey] [image height demoGrey]
}
step "rimage georef @30,1.25 (bilinear)" {
    rimage open @turned MBSQ -rows 64 -columns 128 -nbands 3 -pixel BYTE
    rimage georef -in $grad -out @turned -p @30,1.25 -rs BI -o Y
    image create gimg demoTurned -file @turned -comb 1/2/3 -palette 8/8/4
    list [image width demoTurned] [image height demoTurned]
}
step "rimage gfftrans XY, rotated bell" {
    set fft [file join $outDir gradient.fft]
    file delete $fft
    rimage gfftrans -in $grad -out $fft -b 1 -op XY -fp bell,3,12,1 -fa 45
    rimage open @smooth MBSQ -rows 64 -columns 128 -pixel BYTE
    rimage georef -in $fft -out @smooth -p @0 -b 1:1
    image create gimg demoSmooth -file @smooth -comb 1 -palette 64
    list [image width demoSmooth] [image height demoSmooth]
}
step "gcanvas in world units (y north)" {
    # A map canvas: 1 world unit = 2 pixels, y grows north from 60.
    gcanvas .map -width 200 -height 120 -bg white -mx 2 -my -2 -viewyorigin 60 \
        -scrollregion {0 0 150 60} -xscrollcommand {.mapx set}
    scrollbar .mapx -orient horizontal -command {.map xview}
    .map create rect 5 55 45 30 -fill red -width 3 -tags parcel
    .map create oval 55 50 95 10 -fill blue -outline {} -tags lake
    .map create rect 110 40 140 5 -outline #00a000 -width 2 -dash {6 4} -tags parcel
    list [.map bbox lake] [.map area parcel] [.map find withtag parcel&&!lake]
}
step "gcanvas labels, gtext, symbols" {
    # Labels that zoom with the map, a river name along its course and a
    # layer of towns: one symbol item with a marker and a label per point.
    .map create text 25 57 -text "Parcel 7" -anchor s -scalable 1 -font {Helvetica 5} -tags label
    .map create text 75 30 -text "Lake" -fill white -font {Helvetica 9 bold} -tags label
    .map create line 100 58 118 45 128 20 -fill #4060ff -width 2 -tags river
    .map create gtext 121 36 -text "Blue River" -escapement 65 -fill #2040c0 \
        -font {Helvetica 8 italic} -tags label
    set towns [.map create symbol 12 12 -symboltype diamond -symbolcolor orange -outline black \
        -markertype cross -markercolor black -xparam 8 -yparam 8 -text "Town" -anchor e \
        -font {Helvetica 7} -tags towns]
    .map coords $towns 12 12 48 8 100 52
    list [.map type $towns] [llength [.map coords $towns]] [.map find withtag label]
}
step "gcanvas scrolled; EPS written"   {
    pack .mapx -side bottom -anchor w -fill x
    pack .map -side bottom -anchor w
    update
    .map xview moveto 0.2
    update
    .map postscript -file [file join $outDir map.eps]
    list [.map xview] [file size [file join $outDir map.eps]]
}
step "shapefile as an object item"      {
    # Two parcels (one with a courtyard) written as a shapefile, read back
    # and drawn by an object item over a gimg image item (y north).
    shape.create demoParcels; demoParcels initialize POLYGON
    demoParcels addrecord {20 20 20 110 110 110 110 20 20 20 60 50 80 50 80 80 60 80 60 50} {5 5}
    demoParcels addrecord {140 30 140 100 230 100 230 30 140 30}
    demoParcels save [file join $outDir parcels.shp]
    shape.create demoLayer -file [file join $outDir parcels.shp]
    gcanvas .layer -width 256 -height 128 -bg white -mx 1 -my -1 -viewyorigin 128
    .layer create image 0 128 -image demoGrad -anchor nw
    .layer create object 0 0 -object demoLayer -outline yellow -width 2 -stipple gray25 -fill white
    list [demoLayer count] [.layer area 2] [.layer bbox 2]
}
step "rimage canvas of the layer"       {
    rimage canvas .layer @layer 0 0 256 128
    image create gimg demoCapture -file @layer -comb 3/2/1 -palette 8/8/4
    list [image width demoCapture] [image height demoCapture]
}
step "gimg masked view (clip triangle)" {
    image create gimg demoMask -file $grad -comb 1/2/3 -palette 8/8/4
    demoMask mask clip pl {4 60 64 2 124 60}
    demoMask mask clip
}
step "demoGrad profile band 1 (red)"    {demoGrad profile 1 0 10 8 0 16 0}
step "demoGrad stats"                    {demoGrad stats}
step "animated GIF: frames played"       {
    image create gimg demoAnim -file [file join $gimgHome anim.gif] -mx 12 -my 12
    label .anim -image demoAnim; pack .anim; update
    demoAnim animate 15 1
    set frames {}
    set t0 [clock milliseconds]
    while {[clock milliseconds] - $t0 < 1500 && [demoAnim seek] != 10} {
        update
        if {[lindex $frames end] ne [demoAnim seek]} {lappend frames [demoAnim seek]}
    }
    destroy .anim
    set frames
}
step "gimg version; gimg names"          {list [gimg version] [gimg names]}
step "gstat: two training areas"        {
    set sta [file join $outDir demo.sta]
    file delete $sta
    rimage gstat -in $ppm -out $sta -stat west -c 32
    rimage gstat -in $ppm -out $sta -stat east -sc 96
    stats.create demoStats -file $sta
    list [demoStats count] [demoStats mean 0] [demoStats mean 1]
}
step "egv of the west area"             {
    rimage egv -in $sta -out [file join $outDir demo.egv] -stat west
    eigen.create demoEigen -file [file join $outDir demo.egv]
    demoEigen pct
}
step "classify by the two areas"         {
    set classes [file join $outDir classes.bmp]
    file delete $classes
    rimage classify -in $ppm -out $classes -stat $sta -tshd 1000
    rimage bind -file $classes -obj demoClasses
    set row {}
    foreach x {0 40 80 127} {lappend row [demoClasses vget $x 10 1]}
    demoClasses unbind
    list classes along a row: $row
}
step "gisoc: cluster the scene (nc 8)"   {
    set clusters [file join $outDir clusters.bmp]
    file delete $clusters
    set here [pwd]; cd $outDir
    rimage gisoc -in $ppm -out $clusters -nc 8
    iso.create demoIso -file iso.ftr; cd $here
    image create gimg demoClusters -file [rimage open $clusters] -mx 2 -my 2
    demoIso info
}
step "vesk.listconcat {a b {c d}}" {vesk.listconcat {a b {c d}}}
step "clipboard holds text?"       {clipboard clear; clipboard append demo; vesk.selection CLIPBOARD}
step "DEM surface in a glw image"   {
    image create glw demoDem -width 160 -height 120
    glw current demoDem
    set heights {}
    for {set r 0} {$r < 33} {incr r} {
        for {set c 0} {$c < 33} {incr c} {
            lappend heights [expr {sin($r / 5.0) * cos($c / 6.0)}]
        }
    }
    GLfloat dem $heights
    GLchar display {
        glClearColor 0 0 0.2 1
        glClear GL_COLOR_BUFFER_BIT GL_DEPTH_BUFFER_BIT
        glEnable GL_DEPTH_TEST
        glMatrixMode GL_PROJECTION
        glLoadIdentity
        glOrtho -0.8 0.8 -0.6 0.6 -2 2
        glMatrixMode GL_MODELVIEW
        glLoadIdentity
        glRotate -55 1 0 0
        glRotate 25 0 0 1
        glexSolidDem 33 33 1 1 4 dem
    }
    glw draw demoDem
    update
    glReadPixels 80 60 1 1 GL_RGB GL_UNSIGNED_BYTE centre
    lrange $centre 0 2
}
step "folder of two pages"          {
    fold.create .fold -labels {Spinner Palette} -fwidth 330 -fheight 170
    list [comb.get .fold labels] [comb.get .fold pid]
}
step "a spinner on page Spinner"     {
    set spin [fold.addItem .fold Spinner -num num.create {-label {-text Level} -min 0 -max 10 -inc 3 -init 9}]
    pack $spin -padx 20 -pady 20
    after 200 [list comb.set $spin done 1]
    num.update $spin up
    list $spin [num.get $spin]
}
step "a palette on page Palette; set"  {
    set pal [fold.addItem .fold Palette -pal pal.create]
    pack $pal -padx 6 -pady 6
    update
    pal.set $pal #55aaff
    list $pal [comb.get $pal -r -g -b] [[comb.get $pal rgb] cget -bg]
}
step "event loop for 100 ms"       {after 100 {winmsg 0}; winmsg 1}

wm title . "Vesk demo"
text .t -width 120 -height [expr {min([llength $log] + 3, 28)}] -font {Courier 10} -wrap none
.t insert end "Vesk [vesk version]\n\n[join $log \n]"
.t yview moveto 1.0
pack .t
frame .pics
label .pics.grad -image demoGrad -bd 0
label .pics.grey -image demoGrey -bd 0
label .pics.mask -image demoMask -bd 0 -bg #404040
label .pics.clusters -image demoClusters -bd 0
label .pics.turned -image demoTurned -bd 0
label .pics.smooth -image demoSmooth -bd 0
pack .pics.grad .pics.grey .pics.mask .pics.clusters .pics.turned .pics.smooth -side left -padx 6 -pady 6
frame .pics2
label .pics2.text -text "gimg views of a RAM image:\ncolour at x2, band 2 turned right,\nclipped to a triangle, its ISO clusters,\nrectified (georef @30,1.25),\nband 1 filtered in the frequency domain" -justify left
label .pics2.dem -image demoDem -bd 0
label .pics2.demText -text "an elevation grid drawn\noffscreen in a glw image" -justify left
label .pics2.layer -image demoCapture -bd 0
label .pics2.layerText -text "a shapefile (object item) over\na gimg image item, captured\nwith rimage canvas" -justify left
pack .pics2.text .pics2.dem .pics2.demText .pics2.layer .pics2.layerText -side left -padx 6 -pady 6
frame .pics3
label .foldText -text "a folder of two pages:\na spinner, a colour palette" -justify left
label .mapText -text "a map canvas: labels that zoom,\na rotated river name, a town layer" -justify left
pack forget .map .mapx .anim
pack .fold .foldText .map .mapText -in .pics3 -side left -padx 6 -pady 6
raise .fold .pics3
raise .map .pics3
pack .pics .pics2 .pics3 -anchor w
raise .
update
fold.page .fold p1
update

set png [file join $outDir vesk-demo.png]
saveWindowPng . $png
puts "screenshot: $png"
exit 0
