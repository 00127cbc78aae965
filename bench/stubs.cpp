// Sets up the stub table that the library's objects call Tcl through;
// compiled with stubs like the library itself.
#include <tcl.h>

void initBenchStubs(Tcl_Interp *interp) { Tcl_InitStubs(interp, "8.6", 0); }

#include <tk.h>

void initBenchTkStubs(Tcl_Interp *interp) { Tk_InitStubs(interp, "8.6", 0); }
