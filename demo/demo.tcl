# Vesk demo: a small GIS job end to end.  It makes a terrain model and a
# four-band scene of the land on it, stores both georeferenced, shows the
# scene with a stretch on a map canvas under a road and town layer, shades
# the relief, clusters the scene into land-cover classes, draws the terrain
# in 3-D, logs each step and saves a screenshot of the window.
#   wish8.6 demo/demo.tcl ?output folder?      (default: the current folder)
# Everything it writes goes into the output folder.

set demoDir [file dirname [file normalize [info script]]]
set outDir [file normalize [expr {[llength $argv] ? [lindex $argv 0] : "."}]]
file mkdir $outDir
# The library: VESK_LIBDIR, else the build tree beside the demo, else an
# installed package.
if {[info exists env(VESK_LIBDIR)]} {
    set auto_path [linsert $auto_path 0 $env(VESK_LIBDIR)]
} elseif {[file exists [file join $demoDir .. build lib pkgIndex.tcl]]} {
    set auto_path [linsert $auto_path 0 [file normalize [file join $demoDir .. build lib]]]
}
source [file join $demoDir screenshot.tcl]
# Start-up loads the script libraries that veskAppScripts names (by default
# program.lib) from the home folder gimgHome.
set gimgHome $demoDir

# ---- the log: one line a step with its time, cut to the window's width ----

set logWidth 128
set log {}
proc step {what script} {
    set t0 [clock microseconds]
    set result [uplevel #0 $script]
    set ms [expr {([clock microseconds] - $t0) / 1000.0}]
    set room [expr {$::logWidth - 10}]
    set line [format "%-28s %s" $what $result]
    if {[string length $line] > $room} {set line "[string range $line 0 [expr {$room - 4}]]..."}
    set line [format "%-*s %6.0f ms" $room $line $ms]
    puts $line
    lappend ::log $line
}
proc out {name} {file join $::outDir $name}

# ---- the area: 200 x 150 cells of 30 m in UTM zone 33 north ----

set W 200; set H 150; set cell 30.0
set X0 431000.0; set Y0 5546000.0        ;# the upper-left corner
set utmDef {+proj=utm +zone=33 +ellps=WGS84}
# Places as fractions of the area (u east, v south).
set towns {Lindau {0.35 0.66} Brenn {0.62 0.50} Oberau {0.86 0.41}}
set roadLines {
    {0.0 0.78 0.18 0.70 0.35 0.66 0.52 0.58 0.62 0.50 0.80 0.45 1.0 0.36}
    {0.35 0.66 0.33 0.55 0.26 0.50 0.22 0.42}
}
proc mapxy {uvs} {
    set out {}
    foreach {u v} $uvs {lappend out [expr {$::X0 + $u * $::W * $::cell}] [expr {$::Y0 - $v * $::H * $::cell}]}
    return $out
}

# Terrain: summits and a ridge, a basin holding a lake, a slope down to
# the north-east and hillsides roughened by a few waves.
set hills {
    0.27 0.30 560 0.016   0.70 0.22 380 0.028   0.48 0.28 200 0.012
    0.12 0.12 250 0.010   0.93 0.80 160 0.020   0.55 0.92 120 0.015
    0.74 0.70 -110 0.018
}
proc elevation {u v} {
    set z [expr {240 + 150 * $v * (1 - $u)
                 + 10 * sin(13 * $u + 5 * $v + 1) * cos(11 * $v - 6 * $u)
                 + 5 * sin(31 * $u + 19 * $v) + 3 * cos(47 * $v - 23 * $u + 2)}]
    foreach {hu hv height spread} $::hills {
        set z [expr {$z + $height * exp(-(($u - $hu) ** 2 + ($v - $hv) ** 2) / $spread)}]
    }
    return $z
}
set lakeLevel 215.0      ;# the lake's surface, flat in the model

# ---- the window's panels, filled as the steps go ----

wm title . "Vesk demo: a small GIS job"
proc panel {w title} {
    labelframe $w -text $title -font {Helvetica 10 bold} -padx 4 -pady 4
    return $w
}
panel .mapPanel "Map: the scene in natural colour (linear stretch), roads and towns"
panel .shadePanel "Shaded relief (rimage gdem)"
panel .classPanel "Land cover (rimage gisoc)"
panel .terrainPanel "Terrain in 3-D (glw)"

step "package require Vesk" {
    format "Vesk %s; the home folder's program.lib ran at start-up: %s" [package require Vesk] \
        [demoGreeting]
}

step "terrain model" {
    set dem {}
    for {set r 0} {$r < $H} {incr r} {
        set row {}
        for {set c 0} {$c < $W} {incr c} {
            lappend row [expr {max($lakeLevel, [elevation [expr {$c / double($W)}] [expr {$r / double($H)}]])}]
        }
        lappend dem $row
    }
    format "%d x %d cells of %g m, upper left corner %.0f E %.0f N (UTM 33N)" $W $H $cell $X0 $Y0
}

step "dem.bil (FLOAT)" {
    file delete [out dem.bil]
    rimage create -file [out dem.bil] -imgid BIL -pixel FLOAT -rows $H -columns $W -nbands 1 \
        -x0 $X0 -y0 $Y0 -dx $cell -dy $cell
    rimage data -in [out dem.bil] -data "BSQ 1 1 0 0 $W $H [concat {*}$dem]"
    set demTag [rimage open [out dem.bil]]
    lassign [lindex [rimage hist -imgid $demTag -list stats] 0] std mean zmin zmax
    format "heights %.0f to %.0f m, mean %.0f m; x0 %s y0 %s dx %s" $zmin $zmax $mean \
        [rimage cget $demTag -x0] [rimage cget $demTag -y0] [rimage cget $demTag -dx]
}

# Four bands (blue, green, red, near infrared) as a sensor would see the
# land cover: a lake, fields, meadows, forest, bare rock and the villages,
# lit from the north-west.
set signatures {
    water   {22 20 12 6}
    rock    {84 90 94 106}
    forest  {28 46 32 135}
    village {105 108 112 95}
    wheat   {62 96 112 150}
    crop    {38 82 50 205}
    meadow  {46 84 66 170}
    soil    {74 92 112 122}
}
step "scene.lan (4 bands)" {
    set bands {{} {} {} {}}
    set cover [dict create]
    set places {}
    foreach {name uv} $towns {lassign $uv u v; lappend places [expr {$u * $W}] [expr {$v * $H}]}
    expr {srand(7)}
    set rowAbove [lindex $dem 0]
    for {set r 0} {$r < $H} {incr r} {
        set row [lindex $dem $r]
        set rowBelow [lindex $dem [expr {min($r + 1, $H - 1)}]]
        set dyCells [expr {$r == 0 || $r == $H - 1 ? 1 : 2}]
        for {set c 0} {$c < $W} {incr c} {
            set z [lindex $row $c]
            set ce [expr {min($c + 1, $W - 1)}]; set cw [expr {max($c - 1, 0)}]
            # Slope (x east, y north); the light comes from azimuth 315 at 45
            # degrees, and the sky lights the shaded sides too.
            set gx [expr {([lindex $row $ce] - [lindex $row $cw]) / (($ce - $cw) * $cell)}]
            set gy [expr {([lindex $rowAbove $c] - [lindex $rowBelow $c]) / ($dyCells * $cell)}]
            set slope [expr {hypot($gx, $gy)}]
            set incidence [expr {max(0, 0.5 * $gx - 0.5 * $gy + 0.7071) / sqrt(1 + $slope * $slope)}]
            set light [expr {0.55 + 0.45 * $incidence / 0.7071}]
            # Tree line and rock line wander with the ground.
            set zc [expr {$z + 25 * sin($c / 4.0 + 2 * sin($r / 9.0)) + 15 * cos($r / 5.0)}]
            set village 0
            foreach {x y} $places {
                if {($c - $x) ** 2 + ($r - $y) ** 2 < 30 + 20 * rand()} {set village 1}
            }
            if {$village} {
                set kind village
            } elseif {$z <= $lakeLevel} {
                set kind water; set light 1.0
            } elseif {$zc > 690 || ($zc > 560 && $slope > 0.5)} {
                set kind rock
            } elseif {$zc > 440 || $slope > 0.28} {
                set kind forest
                # Crowns and clearings.
                set light [expr {$light * (1 + 0.15 * sin($c * 1.7 + $r * 0.9) * sin($r * 1.3 - $c * 0.4))}]
            } else {
                # Parcels: strips across the slope, each with its own crop.
                set strip [expr {int(($c + 9 * sin($r / 11.0)) / 17)}]
                set cut [expr {int(($r + 5 * sin($c / 7.0)) / (9 + $strip % 4))}]
                set kind [lindex {wheat crop meadow soil crop meadow} [expr {($strip * 7 + $cut * 5) % 6}]]
            }
            dict incr cover $kind
            set b 0
            foreach base [dict get $signatures $kind] {
                lset bands $b end+1 [expr {max(0, min(255, round($base * $light + 6 * rand() - 3)))}]
                incr b
            }
        }
        set rowAbove $row
    }
    file delete [out scene.lan]
    rimage create -file [out scene.lan] -imgid E74 -pixel BYTE -rows $H -columns $W -nbands 4 \
        -x0 $X0 -y0 $Y0 -dx $cell -dy $cell
    rimage data -in [out scene.lan] -data "BSQ 1 4 0 0 $W $H [concat {*}$bands]"
    set scene [rimage open [out scene.lan]]
    set parts {}
    foreach kind {water forest rock village} {lappend parts [format "%s %.0f%%" $kind [expr {100.0 * [dict get $cover $kind] / ($W * $H)}]]}
    format "blue, green, red, near infrared: %s, fields" [join $parts ", "]
}

step "gimg, stretched" {
    # Several bands show as grey unless a colour palette is named.
    image create gimg sceneView -file $scene -comb 3/2/1 -palette 8/8/4 -func LINEAR -range DETAIL \
        -mx 2 -my 2
    format "bands 3/2/1 at x2, linear stretch: red %s, green %s, blue %s" \
        {*}[lmap {a b} {-low0 -high0 -low1 -high1 -low2 -high2} {format %.0f-%.0f [sceneView cget $a] [sceneView cget $b]}]
}

step "rimage gdem" {
    rimage open @shade MBSQ -rows $H -columns $W -pixel BYTE
    rimage gdem -dem $demTag -shade @shade -dx $cell -dy $cell -zs 0.25 -az 315 -va 35 -s 255
    image create gimg shadeView -file @shade -func LINEAR -range DETAIL
    label .shadePanel.img -image shadeView -bd 0
    pack .shadePanel.img
    lassign [lindex [rimage hist -imgid @shade -list stats] 0] std mean lo hi
    format "light from 315 deg at 35 deg: shade %.0f to %.0f, mean %.0f" $lo $hi $mean
}

# Land cover from the clusters: each class is named by its mean signature.
proc coverOf {green red nir} {
    set ndvi [expr {($nir - $red) / ($nir + $red + 1e-9)}]
    if {$nir < 40} {return {water #2a5cb8}}
    if {$ndvi > 0.45 && $green < 60} {return {forest #1f6b2a}}
    if {$ndvi > 0.45} {return {crops #8cc63f}}
    if {$ndvi > 0.2} {return {fields #d9c56a}}
    return {bare #a08c78}
}
step "rimage gisoc" {
    # gisoc writes its classes to iso.ftr in the working folder: it runs in
    # the output folder (every path given here is absolute).
    file delete [out classes.bmp] [out iso.ftr]
    set here [pwd]
    cd $outDir
    try {
        rimage gisoc -in $scene -out [out classes.bmp] -b 2,3,4 -nc 8
    } finally {
        cd $here
    }
    iso.create isoClasses -file [out iso.ftr]
    set classes [rimage open [out classes.bmp]]
    set legend [dict create]
    for {set k 0} {$k < [isoClasses count]} {incr k} {
        lassign [isoClasses mean $k] means count
        lassign [coverOf {*}[lrange $means 0 2]] name colour
        rimage setIndices $classes [list $k {*}[lmap x [winfo rgb . $colour] {expr {$x / 257}}]]
        if {![dict exists $legend $name]} {dict set legend $name [dict create colour $colour count 0]}
        dict set legend $name count [expr {[dict get $legend $name count] + $count}]
    }
    image create gimg classView -file $classes
    label .classPanel.img -image classView -bd 0
    frame .classPanel.legend
    set summary {}
    foreach name [dict keys $legend] {
        set share [expr {100.0 * [dict get $legend $name count] / ($W * $H)}]
        label .classPanel.legend.$name -text [format "%s %.0f%%" $name $share] -font {Helvetica 9} \
            -compound left -image [image create photo -width 10 -height 10] -padx 3
        [.classPanel.legend.$name cget -image] put [dict get $legend $name colour] -to 0 0 10 10
        grid .classPanel.legend.$name -row [expr {[llength $summary] / 3}] \
            -column [expr {[llength $summary] % 3}] -sticky w
        lappend summary [format "%s %.0f%%" $name $share]
    }
    pack .classPanel.img .classPanel.legend -side top -anchor w
    format "%d clusters named by their means: %s" [isoClasses count] [join $summary ", "]
}

# The vector layer: a road along the valley, a track up the summit and
# three towns, kept as shapefiles in map coordinates.
step "roads.shp, towns.shp" {
    shape.create roadsNew; roadsNew initialize POLYLINE
    foreach line $roadLines {roadsNew addrecord [mapxy $line]}
    roadsNew save [out roads.shp]
    shape.create townsNew; townsNew initialize POINT
    foreach {name uv} $towns {townsNew addrecord [mapxy $uv]}
    townsNew save [out towns.shp]
    shape.create roads -file [out roads.shp]
    shape.create townLayer -file [out towns.shp]
    format "%d roads, %.2f km long; %d towns" [roads count] [expr {[roads length all] / 1000}] [townLayer count]
}

step "proj: towns in degrees" {
    proj.create utm
    utm projconfigure -projdef $utmDef -inv 1 -fmtll %.4f
    set i -1
    join [lmap {name uv} $towns {
        lassign [lindex [townLayer vertex [incr i]] 0] x y
        format "%s %s" $name [utm project $x $y]
    }] ", "
}

# ---- the map canvas: world coordinates in metres, north up ----

step "gcanvas map" {
    set c .mapPanel.map
    gcanvas $c -width [expr {2 * $W}] -height [expr {2 * $H}] -bg white -highlightthickness 0 \
        -mx [expr {2 / $cell}] -my [expr {-2 / $cell}] -viewxorigin $X0 -viewyorigin $Y0
    pack $c
    $c create image $X0 $Y0 -image sceneView -anchor nw -tags scene
    $c create object 0 0 -object roads -outline #40200a -width 5 -tags roads
    $c create object 0 0 -object roads -outline #ffd24a -width 3 -tags roads
    $c create object 0 0 -object townLayer -symboltype oval -fill #e02020 -outline black \
        -symbolxsize 9 -symbolysize 9 -tags towns
    set i -1
    foreach {name uv} $towns side {1 1 -1} {
        lassign [lindex [townLayer vertex [incr i]] 0] x y
        # A dark copy one pixel (15 m) off keeps the white name readable.
        set anchor [expr {$side > 0 ? "w" : "e"}]
        set x [expr {$x + $side * 120}]; set y [expr {$y + 60}]
        $c create text [expr {$x + 15}] [expr {$y - 15}] -text $name -anchor $anchor \
            -font {Helvetica 10 bold} -fill black -tags labels
        $c create text $x $y -text $name -anchor $anchor -font {Helvetica 10 bold} -fill white \
            -tags labels
    }
    # The road's number along its course (a rotated label).
    lassign [roads langle 0 0.12] rx ry angle
    $c create gtext $rx [expr {$ry + 150}] -text "B 17" -escapement $angle -fill #5a2a00 \
        -font {Helvetica 9 bold} -tags labels
    # A scale bar of 1 km and a north arrow.
    set sx [expr {$X0 + 240}]; set sy [expr {$Y0 - $H * $cell + 180}]
    $c create line $sx $sy [expr {$sx + 1000}] $sy -width 3 -fill white -tags furniture
    $c create text [expr {$sx + 500}] [expr {$sy + 60}] -text "1 km" -fill white \
        -font {Helvetica 9 bold} -anchor s -tags furniture
    set nx [expr {$X0 + $W * $cell - 240}]
    $c create line $nx $sy $nx [expr {$sy + 540}] -width 3 -fill white -arrow last -tags furniture
    $c create text [expr {$nx - 90}] [expr {$sy + 480}] -text N -fill white \
        -font {Helvetica 10 bold} -anchor e -tags furniture
    format "%d items: the scene, roads and towns from the shapefiles, labels, scale bar" \
        [llength [$c find all]]
}

# ---- the terrain in 3-D, draped with the stretched scene ----

step "glw 3-D view" {
    image create glw terrainView -width 300 -height 230
    glw current terrainView
    set step 2
    set cols [expr {$W / $step}]; set rows [expr {$H / $step}]
    set heights {}
    for {set r 0} {$r < $H} {incr r $step} {
        for {set c 0} {$c < $W} {incr c $step} {lappend heights [lindex $dem $r $c]}
    }
    # Each grid point takes the scene's colour under the map's own stretch
    # (comb 3/2/1: channel 0 shows band 3); bottom row first.
    set stretch {}
    foreach ch {0 1 2} band {2 1 0} {
        lappend stretch $band [sceneView cget -low$ch] [sceneView cget -high$ch]
    }
    set drape {}
    for {set r [expr {($rows - 1) * $step}]} {$r >= 0} {incr r -$step} {
        for {set c 0} {$c < $W} {incr c $step} {
            set i [expr {$r * $W + $c}]
            foreach {band lo hi} $stretch {
                lappend drape [expr {max(0, min(255, round(([lindex $bands $band $i] - $lo) * 255.0 / ($hi - $lo))))}]
            }
        }
    }
    GLfloat terrainZ $heights
    GLubyte terrainRGB $drape
    GLchar display [string map [list @cols $cols @rows $rows @zs [expr {2.0 / ($cell * $step)}]] {
        glClearColor 0.09 0.11 0.18 1
        glClear GL_COLOR_BUFFER_BIT GL_DEPTH_BUFFER_BIT
        glEnable GL_DEPTH_TEST
        glMatrixMode GL_PROJECTION
        glLoadIdentity
        glOrtho -0.56 0.56 -0.43 0.43 -2 2
        glMatrixMode GL_MODELVIEW
        glLoadIdentity
        glRotate -55 1 0 0
        glRotate -25 0 0 1
        glTranslate 0 0 -0.1
        glexSolidDem @cols @rows 1 1 @zs terrainZ terrainRGB
    }]
    glw draw terrainView
    label .terrainPanel.img -image terrainView -bd 0
    pack .terrainPanel.img
    format "%d x %d grid, heights x 2, draped with the stretched scene" $cols $rows
}

grid .mapPanel -row 0 -column 0 -rowspan 2 -padx 6 -pady 4 -sticky nw
grid .shadePanel -row 0 -column 1 -padx 6 -pady 4 -sticky nw
grid .classPanel -row 1 -column 1 -padx 6 -pady 4 -sticky nw
grid .terrainPanel -row 0 -column 2 -rowspan 2 -padx 6 -pady 4 -sticky nw
update

step "map.eps" {
    .mapPanel.map postscript -file [out map.eps]
    format "the map as Encapsulated PostScript, %d bytes" [file size [out map.eps]]
}
step "event loop, 100 ms" {after 100 {winmsg 0}; winmsg 1}

text .log -width $logWidth -height [llength $log] -font {Courier 9} -wrap none -bd 1 -relief sunken
.log insert end [join $log \n]
.log configure -state disabled
grid .log -row 2 -column 0 -columnspan 3 -padx 6 -pady 6 -sticky w
raise .
update

set png [out vesk-demo.png]
saveWindowPng . $png
puts "screenshot: $png"
exit 0
