// Starts Tcl for the fuzz targets.  Built without stubs: it calls Tcl
// itself, before the stub table the library uses is filled.
#include <tcl.h>

namespace fuzz {

Tcl_Interp *startTcl() {
  Tcl_FindExecutable(nullptr);
  return Tcl_CreateInterp();
}

}  // namespace fuzz
