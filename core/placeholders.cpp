/*
 * placeholders.cpp --
 *     Start-up hooks whose units are not in the library yet.  Each one
 *     leaves this file when the unit that owns it arrives.
 */
#include "core/core.h"
#include "core/families.h"

namespace vesk {

Tcl_CmdProc *gimgCommandProc() { return nullptr; }
Tcl_CmdDeleteProc *gimgCommandDeleteProc() { return nullptr; }

int initConsoleManager(Tcl_Interp *interp) {
  Tcl_SetResult(interp, const_cast<char *>("console windows are not available in this build"),
                TCL_STATIC);
  return TCL_ERROR;
}
void createSetConStdIO(Tcl_Interp *) {}
void closeAllConsoles(int) {}

void freePaletteColors() {}
void freeTagTables() {}

}  // namespace vesk
