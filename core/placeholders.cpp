/*
 * placeholders.cpp --
 *     Start-up hooks whose units are not in the library yet.  Each one
 *     leaves this file when the unit that owns it arrives.
 */
#include "core/core.h"
#include "core/families.h"

namespace vesk {

int Gimg_Init(Tcl_Interp *) { return 0; }
Tcl_CmdProc *gimgCommandProc() { return nullptr; }
Tcl_CmdDeleteProc *gimgCommandDeleteProc() { return nullptr; }
void gimgNames(Tcl_Interp *) {}


void deleteAllGimgs() {}
void freePaletteColors() {}

}  // namespace vesk
