// Shared pieces of the native unit tests.
#ifndef VESK_TESTS_UNIT_HARNESS_H
#define VESK_TESTS_UNIT_HARNESS_H

#include <tcl.h>

// The interpreter created by the test main (Tk loaded when a display exists).
Tcl_Interp *testInterp();
// Sets up the stub tables the library's objects call through.
void initLibraryStubs(Tcl_Interp *interp, bool haveTk);

#endif
