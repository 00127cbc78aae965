/*
 * package.cpp --
 *     The entry of the map canvas family: "gcanvas" and "cliptest", the
 *     script access to the polygon clipper.
 */
#include <stdio.h>
#include <stdlib.h>

#include "canvas/gcanvas.h"

namespace vesk {

namespace {

/*
 * cliptestCmd --
 *     "cliptest {left top right bottom} {x0 y0 x1 y1 ...}": the clipped
 *     ring as a flat list of coordinates.
 */
int cliptestCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " {left top right bottom} {x0 y0 x1 y1 ...}",
                     nullptr);
    return TCL_ERROR;
  }
  int left, top, right, bottom;
  if (sscanf(argv[1], "%d %d %d %d", &left, &top, &right, &bottom) != 4) {
    Tcl_SetResult(interp, const_cast<char *>("Error in parsing clip box"), TCL_STATIC);
    return TCL_ERROR;
  }
  int count;
  const char **words;
  if (Tcl_SplitList(interp, argv[2], &count, &words) != TCL_OK) {
    Tcl_ResetResult(interp);
    Tcl_SetResult(interp, const_cast<char *>("Error in parsing vertices"), TCL_STATIC);
    return TCL_ERROR;
  }
  if (count & 1) {
    ckfree(reinterpret_cast<char *>(words));
    Tcl_SetResult(interp, const_cast<char *>("Invalid vertex specification"), TCL_STATIC);
    return TCL_ERROR;
  }
  std::vector<XPoint> points(static_cast<size_t>(count / 2));
  for (int i = 0; i < count / 2; i++) {
    points[i].x = static_cast<short>(atol(words[2 * i]));
    points[i].y = static_cast<short>(atol(words[2 * i + 1]));
  }
  ckfree(reinterpret_cast<char *>(words));
  std::vector<XPoint> clipped =
      clipPolygonToBox(points.data(), count / 2, left, top, right, bottom);
  Tcl_Obj *list = Tcl_NewObj();
  for (const XPoint &p : clipped) {
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(p.x));
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewIntObj(p.y));
  }
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

}  // namespace

}  // namespace vesk

/*
 * Gcanvas_Init --
 *     Creates "cliptest" and "gcanvas" (client data: the main window).
 * Results:      TCL_OK, or TCL_ERROR when "gcanvas" cannot be created.
 */
int Gcanvas_Init(Tcl_Interp *interp) {
  Tcl_CreateCommand(interp, "cliptest", vesk::cliptestCmd, nullptr, nullptr);
  if (!Tcl_CreateObjCommand(interp, "gcanvas", vesk::gcanvasCmd, Tk_MainWindow(interp), nullptr))
    return TCL_ERROR;
  vesk::initItemTypes();
  return TCL_OK;
}
