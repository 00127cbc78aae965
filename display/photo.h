/*
 * photo.h --
 *     Tk photo images and RAM images: copies each way, photos loaded from
 *     files or data that only Tk can read, and photos made to receive a
 *     RAM image.
 */
#ifndef VESK_DISPLAY_PHOTO_H
#define VESK_DISPLAY_PHOTO_H

#include <tk.h>

#include <string>

#include "vesk/ramimg.h"

namespace vesk {

/* Results of copyRAMImageToPhoto besides 0. */
inline constexpr int kPhotoNotFound = 1;
inline constexpr int kPhotoRefused = 2;

Tk_PhotoHandle findPhoto(Tcl_Interp *interp, const char *name);
RAMIMG *copyPhotoToRAMImage(Tcl_Interp *interp, const char *photoName,
                            const ImageHeader *headerTemplate, const char *ramName);
RAMIMG *loadPhotoToRAMImage(Tcl_Interp *interp, const char *optionName, const char *optionValue,
                            const ImageHeader *headerTemplate);
RAMIMG *createPhotoRAMImage(Tcl_Interp *interp, std::string &name, const ImageHeader *header);
int copyRAMImageToPhoto(Tcl_Interp *interp, RAMIMG *image, const char *photoName);

}  // namespace vesk

#endif
