// GoogleTest main: creates the interpreter the library's units run in.
// Built without stubs: it starts Tcl and Tk itself.
#include <gtest/gtest.h>
#include <tk.h>

#include "core/families.h"
#include "tests/unit/harness.h"

static Tcl_Interp *harnessInterp = nullptr;

Tcl_Interp *testInterp() { return harnessInterp; }

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  Tcl_FindExecutable(argv[0]);
  harnessInterp = Tcl_CreateInterp();
  if (Tcl_Init(harnessInterp) != TCL_OK) return 2;
  bool haveTk = Tk_Init(harnessInterp) == TCL_OK;
  if (haveTk) Tcl_Eval(harnessInterp, "wm withdraw .");
  initLibraryStubs(harnessInterp, haveTk);
  // What the package's start-up gives every unit: the id options' image
  // header vocabularies.
  vesk::installImageVocabularies();
  int status = RUN_ALL_TESTS();
  return status;
}
