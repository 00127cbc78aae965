/*
 * mouseroute.cpp --
 *     "veskMainWindow ?0|1?" and "veskToplevelWindow ?0|1?": the switches
 *     that let Tk's pointer handling follow clicks made while a grab is in
 *     effect.  On X11 Tk already sees every pointer event of its windows,
 *     so the commands keep their switches, usage and results and install
 *     nothing into the window system.
 */
#include <string.h>

#include <tcl.h>

#include "core/families.h"

namespace vesk {
namespace {

/* The two switches, process-wide, both off at load. */
int mainRouting = 0;
int toplevelRouting = 0;

/*
 * routingSwitchCmd --
 *     Shared body of both commands: no word answers the switch, "0" turns
 *     it off, "1" turns it on.
 */
int routingSwitchCmd(int &routing, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc == 1) {
    Tcl_SetObjResult(interp, Tcl_NewIntObj(routing));
    return TCL_OK;
  }
  if (argc == 2 && strcmp(argv[1], "0") == 0) {
    routing = 0;
    return TCL_OK;
  }
  if (argc == 2 && strcmp(argv[1], "1") == 0) {
    routing = 1;
    return TCL_OK;
  }
  Tcl_AppendResult(interp, "Usage: ", argv[0], " [0|1]", nullptr);
  return TCL_ERROR;
}

int veskMainWindowCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return routingSwitchCmd(mainRouting, interp, argc, argv);
}

int veskToplevelWindowCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return routingSwitchCmd(toplevelRouting, interp, argc, argv);
}

}  // namespace

/*
 * MainWindow_Init --
 *     Creates "veskMainWindow" and "veskToplevelWindow".
 * Results:      TCL_OK, or TCL_ERROR when either can't be created.
 */
int MainWindow_Init(Tcl_Interp *interp) {
  if (!Tcl_CreateCommand(interp, "veskMainWindow", veskMainWindowCmd, nullptr, nullptr) ||
      !Tcl_CreateCommand(interp, "veskToplevelWindow", veskToplevelWindowCmd, nullptr, nullptr))
    return TCL_ERROR;
  return TCL_OK;
}

}  // namespace vesk
