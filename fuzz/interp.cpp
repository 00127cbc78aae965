// Starts Tcl (and Tk) for the fuzz targets.  Built without stubs: it calls
// Tcl and Tk itself, before the stub tables the library uses are filled.
#include <tcl.h>
#include <tk.h>

namespace fuzz {

Tcl_Interp *startTcl() {
  Tcl_FindExecutable(nullptr);
  return Tcl_CreateInterp();
}

/* An interpreter with Tk, its main window withdrawn; null when Tk cannot start. */
Tcl_Interp *startTk() {
  Tcl_Interp *interp = Tcl_CreateInterp();
  if (Tcl_Init(interp) != TCL_OK || Tk_Init(interp) != TCL_OK) return nullptr;
  Tcl_Eval(interp, "wm withdraw .");
  return interp;
}

}  // namespace fuzz
