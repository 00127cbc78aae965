// Stub-table set-up for the library objects linked into the unit tests.
#include <tk.h>

#include "tests/unit/harness.h"

void initLibraryStubs(Tcl_Interp *interp, bool haveTk) {
  Tcl_InitStubs(interp, "8.6", 0);
  if (haveTk) Tk_InitStubs(interp, "8.6", 0);
}
