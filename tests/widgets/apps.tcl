# The application's side of the compound widgets, as the suites need it:
# images, spinner values, palette and list callbacks.
set arrowBits {#define a_width 8
#define a_height 4
static unsigned char a_bits[] = { 0x18, 0x3c, 0x7e, 0xff };}
proc _image.get {name file type} {
    if {$name ni [image names]} {image create $type $name -data $::arrowBits}
    return $name
}
proc num.get {w} {[comb.get $w -ent] get}
proc num.set {w v} {
    set e [comb.get $w -ent]
    $e delete 0 end
    $e insert 0 $v
}
proc num.bindChange {w script} {comb.set $w change $script}
proc pal.set {w color} {lappend ::picked $w $color}
proc pal.update {args} {}
proc popup.freeItem {args} {}
proc slis.setList {w items} {
    [comb.get $w -list] delete 0 end
    [comb.get $w -list] insert end {*}$items
}
proc pdl.closeList {w} {
    wm withdraw [comb.get $w wf]
    grab release $w
    set restore [comb.get $w grab]
    if {$restore ne ""} {eval $restore}
}
proc pdl.selList {w x y} {}
proc pdl.abort {w} {pdl.closeList $w}
