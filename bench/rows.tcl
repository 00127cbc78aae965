# Our side of the rows of bench/runner.py.
#   wish8.6 bench/rows.tcl serve ROW N DATA    in-process: set-up, then serveRow
#   wish8.6 bench/rows.tcl once ROW N DATA     whole process: the work once, exit
# N is the row's size (the side of the image, a count), DATA the runner's
# data folder (benchdata.py names the files); the working folder is the
# runner's scratch folder.  A row is a proc "serve:ROW n data" that sets up
# and returns the works for serveRow (side -> {untimed before, timed work}),
# or "once:ROW n data" that does the whole work.
source [file join [file dirname [info script]] benchlib.tcl]

# Memory image tag holding the pixels of a file image; the name of its
# bound object is the result.
proc memory {tag path} {
    rimage open $tag MBIL $path
    set obj [rimage bind -file $tag]
    $obj = [rimage bind -file $path -obj ${tag}_file]
    ${tag}_file unbind
    return $obj
}
proc floatImage {tag n args} {
    rimage open $tag MBIL -columns $n -rows $n -nbands 1 -pixel FLOAT {*}$args
}
proc byteImage {tag n args} {
    rimage open $tag MBIL -columns $n -rows $n -nbands 1 -pixel BYTE {*}$args
}
proc ours {before work} { return [dict create ours [list $before $work]] }
# A FLOAT memory image a with the pixels of a-N.lan and a georeference of
# one unit a pixel (the resampling rows map through it).
proc floatInput {n data} {
    floatImage a $n -dx 1 -dy 1
    rimage bind -file a -obj A
    A = [rimage bind -file $data/a-$n.lan -obj F]
    F unbind
    A unbind
}

# Bound-image operators on FLOAT memory images, in place.
proc serve:add {n data} {
    set ::a [memory a $data/a-$n.lan]
    memory b $data/b-$n.lan
    ours {} {$::a + b}
}
proc serve:mul {n data} {
    set ::a [memory a $data/a-$n.lan]
    ours {} {$::a * 1.0001}
}

# Convolutions of a FLOAT memory image into another.
proc serve:gconv3 {n data} {
    memory a $data/a-$n.lan
    floatImage c $n
    ours {} {rimage gconv -in a -out c -kn {@2D 3 3 1 1 1 1 1 1 1 1 1}}
}
proc gauss9 {} {
    for {set i 0} {$i < 81} {incr i} {lappend k [expr {0.01 * (1 + $i % 9 + $i / 9)}]}
    return $k
}
proc serve:gconv9 {n data} {
    memory a $data/a-$n.lan
    floatImage c $n
    ours {} [list rimage gconv -in a -out c -kn "@2D 9 9 [gauss9]"]
}

proc serve:dist {n data} {
    memory s $data/seeds-$n.lan
    byteImage d $n
    ours {} {rimage dist -in s -out d -c 1}
}

# Modules that make their output: the output is made inside the timed work
# (the peer allocates its own), the last one closed before, untimed.
proc serve:resample2x {n data} {
    floatInput $n $data
    ours {catch {rimage close o}} [list apply {{n} {
        floatImage o [expr {2 * $n}] -dx 0.5 -dy 0.5
        rimage resample -in a -out o -rsp BI
    }} $n]
}
proc serve:resampleAVG {n data} {
    floatInput $n $data
    ours {catch {rimage close o}} [list apply {{n} {
        floatImage o [expr {$n / 2}] -dx 2 -dy 2
        rimage resample -in a -out o -rsp AVG
    }} $n]
}
proc serve:zoomCC {n data} {
    floatInput $n $data
    ours {catch {rimage close o}} {rimage gsfzoom -in a -out o -s 2}
}
proc serve:zoomBI {n data} {
    floatInput $n $data
    ours {catch {rimage close o}} {rimage gsfzoom -in a -out o -s 2 -rs BI}
}
proc serve:zoomAVG {n data} {
    floatInput $n $data
    ours {catch {rimage close o}} {rimage gsfzoom -in a -out o -s 2 -rs AVG}
}
proc serve:transAVG {n data} {
    floatInput $n $data
    ours {catch {rimage close o}} {rimage trans -in a -out o -o AVG -dx 2 -dy 2 -imgid MBIL}
}

# Into an existing output, as the peer writes into its dst.
proc serve:georef {n data} {
    floatInput $n $data
    floatImage g $n
    ours {} {rimage georef -in a -out g -p @30 -rs BI}
}
proc serve:rotate {n data} {
    memory a $data/a-$n.lan
    floatImage r $n
    ours {} {rimage rotate -in a -out r -dir RIGHT}
}
proc serve:flip {n data} {
    memory a $data/a-$n.lan
    floatImage r $n
    ours {} {rimage rotate -in a -out r -dir XYFLIP}
}
proc serve:crop {n data} {
    memory b $data/seeds-$n.lan
    byteImage c [expr {$n - 100}]
    ours {} {rimage crop -in b -out c -ic 100 -ir 100}
}

proc serve:nratio {n data} {
    memory ab $data/ab-$n.lan
    floatImage c $n
    ours {} {rimage calc -in ab -out c -f nratio -b 1,2}
}
proc serve:classify {n data} {
    memory r $data/rgb-$n.lan
    byteImage cl $n
    ours {} [list rimage classify -in r -out cl -stat $data/sixteen.stat -tshd 1000]
}
proc serve:stats {n data} {
    memory r $data/rgb-$n.lan
    ours {} {rimage hist -imgid r -list stats}
}

# Image-mode ISO clustering of a 4-band FLOAT memory image: 16 classes,
# 10 iterations, every pixel in every pass.
proc serve:gisoc {n data} {
    memory iso $data/iso-$n.lan
    ours {file delete iso.bmp iso.ftr} {rimage gisoc -in iso -out iso.bmp -nc 16 -nr 10 -cv 0 -sk 1}
}
# gisoc with its defaults (pixel table, 128 classes at most) on a natural picture.
proc serve:gisocTable {n data} {
    ours {file delete table.bmp iso.ftr} [list rimage gisoc -in $data/natural-$n.ppm -out table.bmp]
}
proc serve:ptable {n data} {
    ours {file delete random.lku} [list rimage ptable -in $data/random-$n.ppm -pt random.lku]
}

# Forward then inverse FFT, file to file (files in the page cache).
proc serve:fft {n data} {
    rimage gfftrans -in $data/grey-$n.pgm -out spectrum.fft -op XYRI
    rimage gfftrans -in spectrum.fft -out back.fft -op XYRI
    ours {} {
        rimage gfftrans -in back.fft -out spectrum.fft -op XYRI
        rimage gfftrans -in spectrum.fft -out back.fft -op XYRI
    }
}

# Whole-process rows.

# Pipeline A as libvips' benchmark defines it: crop 100 pixels off each
# side, shrink to 90 % (bilinear), 3 x 3 sharpen, save as TIFF; each step a
# module, from file to file.
proc once:pipelineA {n data} {
    # Cropped by 100 pixels on each side and shrunk by 10 % in one bilinear
    # resample onto a georeferenced grid whose origin and step do both,
    # then sharpened ([-1 -1 -1; -1 16 -1; -1 -1 -1] / 8, as libvips'
    # benchmark does) into a new uncompressed TIFF.
    set src [rimage open $data/rgb-$n.tif]
    set step [expr {1 / 0.9}]
    set s [expr {int(($n - 200) * 0.9)}]
    rimage create overwrite -file small.tif -imgid GEOTIFF -rows $s -columns $s -nbands 3 \
        -pixel BYTE -x0 100 -y0 -100 -dx $step -dy $step
    rimage resample -in $src -out small.tif -rsp BI
    rimage create overwrite -file out-vesk.tif -imgid TIFF -rows $s -columns $s -nbands 3 \
        -pixel BYTE
    rimage gconv -in small.tif -out out-vesk.tif -kn {@2D 3 3 -1 -1 -1 -1 16 -1 -1 -1 -1} -norm yes
    rimage close $src
    file delete small.tif
}
# JPEG decoded once from top to bottom (statistics of every band).
proc once:jpegDecode {n data} {
    set j [rimage open $data/pic-$n.jpg]
    rimage hist -imgid $j -list stats
    rimage close $j
}
# JPEG decoded and encoded again at quality 90.
proc once:jpegRecode {n data} {
    file delete out-vesk.jpg
    rimage copy -in $data/pic-$n.jpg -out out-vesk.jpg -cmp 90
}
proc once:tiffStats {n data} {
    set t [rimage open $data/rgb-$n.tif]
    rimage hist -imgid $t -list stats
    rimage close $t
}
# The command ends every run with an error of no message (the program's
# exit; proj.exitCode has its code).
proc once:cs2cs {n data} {
    set words {+proj=latlong +datum=WGS84 +to +proj=utm +zone=32 +datum=WGS84}
    if {[catch {cs2cs {*}$words $data/points-$n.txt} message] && $message ne ""} {
        error $message
    }
}

lassign $argv mode row n data
if {[catch {
    if {$mode eq "serve"} {
        serveRow [serve:$row $n $data]
    } else {
        once:$row $n $data
    }
} message]} {
    puts stderr $::errorInfo
    exit 1
}
exit 0
