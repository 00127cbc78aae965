/*
 * rimage.h --
 *     Entry of the raster processing command family: creates the "rimage"
 *     command of an interpreter.
 */
#ifndef VESK_RIMAGE_H
#define VESK_RIMAGE_H

#include "vesk/vesk.h"

VESK_EXPORT int Rimg_Init(Tcl_Interp *interp);

#endif
