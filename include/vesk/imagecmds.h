/*
 * imagecmds.h --
 *     Entries of the image-file command families that other native modules
 *     may call: "dicom" (the DICOM data dictionary and element listings)
 *     and "gpz" (registration of the GPZ head-file reader).
 */
#ifndef VESK_IMAGECMDS_H
#define VESK_IMAGECMDS_H

#include "vesk/vesk.h"

VESK_EXPORT int Dicom_Init(Tcl_Interp *interp);
VESK_EXPORT int Gpz_Init(Tcl_Interp *interp);

#endif
