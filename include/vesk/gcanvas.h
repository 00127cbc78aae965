/*
 * gcanvas.h --
 *     Entry of the map canvas family: creates "gcanvas" and "cliptest" in
 *     an interpreter with Tk, so a host can load the canvas alone.
 */
#ifndef VESK_GCANVAS_PUBLIC_H
#define VESK_GCANVAS_PUBLIC_H

#include "vesk/vesk.h"

VESK_EXPORT int Gcanvas_Init(Tcl_Interp *interp);

#endif
