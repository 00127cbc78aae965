// The "tiff data" listings of a file: its page count, each page's entries
// and the values of each entry, read from the file as the command does.
#include <tcl.h>

#include <string>

#include "core/families.h"
#include "fuzz/fuzz.h"

FUZZ_TARGET(tifftags) {
  Tcl_Interp *interp = fuzz::interp();
  static bool made = false;
  if (!made) {
    made = true;
    vesk::Tiff_Init(interp);
    Tcl_Eval(interp, "tiff add {256 ImageWidth} {257 ImageLength} {258 BitsPerSample} "
                     "{270 {Image Description}} {273 StripOffsets} {320 ColorMap}");
  }
  fuzz::MemFile file(data, size);
  const std::string script = std::string("set p ") + file.path() + R"(
    catch {tiff data $p}
    if {![catch {tiff data $p -volume} n] && [string is integer -strict $n]} {
      for {set v 1} {$v <= min($n, 3)} {incr v} {
        if {[catch {tiff data $p -volume $v} entries]} continue
        foreach e [lrange $entries 0 47] {catch {tiff data $p -volume $v [lindex $e 0]}}
      }
    })";
  Tcl_Eval(interp, script.c_str());
  Tcl_ResetResult(interp);
  return 0;
}
