// Saved projection objects: "proj.create", "cs2cs.create", "geod.create"
// and "nad2nad.create" with -file, the whole path through Tk's option
// tables into each kind's configuration, then one conversion.  The first
// byte picks the kind.  Needs an X display (see fuzz.h).
#include <tcl.h>

#include <string>

#include "fuzz/fuzz.h"

FUZZ_TARGET(projobject) {
  if (size < 1) return 0;
  static const char *const kinds[][2] = {{"proj", "project 2 48"},
                                         {"cs2cs", "cs2cs 9 48 0"},
                                         {"geod", "geodinv -71 42 -123 45"},
                                         {"nad2nad", "nad2nad 500000 3000000"}};
  const auto &kind = kinds[data[0] % 4];
  Tcl_Interp *interp = fuzz::tkInterp();
  fuzz::MemFile file(data + 1, size - 1);
  const std::string script = std::string("if {![catch {") + kind[0] + ".create fuzzobj -file " +
                             file.path() + "}]} {catch {fuzzobj " + kind[1] +
                             "}; catch {fuzzobj clone fuzzcopy; rename fuzzcopy {}}; "
                             "rename fuzzobj {}}";
  Tcl_Eval(interp, script.c_str());
  Tcl_ResetResult(interp);
  return 0;
}
