/*
 * photo.cpp --
 *     The bridge between Tk photo images and RAM images.  A photo becomes
 *     a memory image of red, green and blue BYTE bands; files and data that
 *     only Tk's photo formats read are loaded through a photo that lives
 *     for the copy only; a RAM image is written into a photo row by row,
 *     its palette applied.  Commands are evaluated as word lists, so names
 *     with blanks or brackets stay names.
 */
#include "display/photo.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "core/core.h"
#include "raster/pixels.h"
#include "raster/ramimg.h"

namespace vesk {

namespace {

/* Evaluates "image delete name" with the name as one word; the result is reset. */
void deletePhoto(Tcl_Interp *interp, const std::string &name) {
  Tcl_Obj *words[3] = {Tcl_NewStringObj("image", -1), Tcl_NewStringObj("delete", -1),
                       Tcl_NewStringObj(name.data(), static_cast<int>(name.size()))};
  for (Tcl_Obj *word : words) Tcl_IncrRefCount(word);
  Tcl_EvalObjv(interp, 3, words, TCL_EVAL_GLOBAL);
  for (Tcl_Obj *word : words) Tcl_DecrRefCount(word);
  Tcl_ResetResult(interp);
}

}  // namespace

/* The photo image of that name, or NULL. */
Tk_PhotoHandle findPhoto(Tcl_Interp *interp, const char *name) {
  if (!interp || !name) return nullptr;
  return Tk_FindPhoto(interp, name);
}

/*
 * copyPhotoToRAMImage --
 *     A new memory image (band-sequential, three BYTE bands: red, green,
 *     blue) holding a photo's pixels; the other header fields come from
 *     the template.  It is named ramName, else the photo's name followed
 *     by ".photo", and its path is that name.
 * Results:      the image with one reference counted; NULL for a missing or
 *               empty photo, or when the image cannot be made.
 */
RAMIMG *copyPhotoToRAMImage(Tcl_Interp *interp, const char *photoName,
                            const ImageHeader *headerTemplate, const char *ramName) {
  Tk_PhotoHandle photo = findPhoto(interp, photoName);
  if (!photo) return nullptr;
  int width = 0, height = 0;
  Tk_PhotoGetSize(photo, &width, &height);
  Tk_PhotoImageBlock block;
  Tk_PhotoGetImage(photo, &block);
  if (width <= 0 || height <= 0 || !block.pixelPtr) return nullptr;

  ImageHeader header;
  if (headerTemplate) {
    header = *headerTemplate;
  } else {
    initImageHeader(&header);
    header.mapid = MAPID_GRID;
    header.altFd = -1;
  }
  header.pixelid = P_BYTE;
  header.bits = 8;
  header.imgid = IMG_MBSQ;
  header.block = width;
  header.rows = height;
  header.columns = width;
  header.nbands = 3;
  header.nindices = 0;
  header.transparent = -1;
  const std::string name = ramName ? std::string(ramName) : std::string(photoName) + ".photo";
  snprintf(header.path, sizeof header.path, "%s", name.c_str());

  int err = 0;
  RAMIMG *image = openRAMImage(name.c_str(), nullptr, &header, nullptr, &err);
  if (!image) return nullptr;
  snprintf(image->header.path, sizeof image->header.path, "%s", name.c_str());
  for (int band = 0; band < 3; band++) {
    for (int y = 0; y < height; y++) {
      unsigned char *line = image->getLineProc(image, y, band, 0);
      if (!line) continue;
      const unsigned char *from = block.pixelPtr + static_cast<size_t>(y) * block.pitch +
                                  block.offset[band];
      for (int x = 0; x < width; x++) line[x] = from[static_cast<size_t>(x) * block.pixelSize];
    }
  }
  return image;
}

/*
 * loadPhotoToRAMImage --
 *     Reads a file ("-file") or data ("-data") with Tk's photo formats and
 *     copies the photo into a RAM image named after it (see
 *     copyPhotoToRAMImage).  The photo is deleted again in every case.
 * Results:      the image, or NULL; a photo that cannot be made leaves
 *               its message in errorInfo and an empty result.
 */
RAMIMG *loadPhotoToRAMImage(Tcl_Interp *interp, const char *optionName, const char *optionValue,
                            const ImageHeader *headerTemplate) {
  if (!interp || !optionName || !optionValue) return nullptr;
  if (combEval(nullptr, nullptr, interp, nullptr, "image", "create", "photo", optionName,
               optionValue, static_cast<const char *>(nullptr)) != TCL_OK) {
    Tcl_ResetResult(interp);
    return nullptr;
  }
  const std::string photo = Tcl_GetStringResult(interp);
  RAMIMG *image = copyPhotoToRAMImage(interp, photo.c_str(), headerTemplate, nullptr);
  deletePhoto(interp, photo);
  return image;
}

/*
 * createPhotoRAMImage --
 *     Makes a photo (named name, or named by Tk when name is empty) and a
 *     RAM image "<photo>.ramimg" from the header to be written into it.
 * Results:      the image, with name set to the photo's name; NULL when
 *               either cannot be made (a photo made here is deleted again).
 */
RAMIMG *createPhotoRAMImage(Tcl_Interp *interp, std::string &name, const ImageHeader *header) {
  if (!interp || !header) return nullptr;
  int code = name.empty()
      ? combEval(nullptr, nullptr, interp, nullptr, "image", "create", "photo",
                 static_cast<const char *>(nullptr))
      : combEval(nullptr, nullptr, interp, nullptr, "image", "create", "photo", name.c_str(),
                 static_cast<const char *>(nullptr));
  if (code != TCL_OK) return nullptr;
  name = Tcl_GetStringResult(interp);
  ImageHeader copy = *header;
  int err = 0;
  RAMIMG *image = openRAMImage((name + ".ramimg").c_str(), nullptr, &copy, nullptr, &err);
  if (!image) deletePhoto(interp, name);
  return image;
}

/*
 * copyRAMImageToPhoto --
 *     Sets a photo to the image's size and writes the image into it one
 *     row at a time: palette images through their palette, others with
 *     bands 1, 2 and 3 as red, green and blue (band 1 for all three when
 *     the image has fewer than three bands).
 * Results:      0; kPhotoNotFound when no photo has that name;
 *               kPhotoRefused when Tk cannot take the size or a row (its
 *               message is in the interpreter's result).
 */
int copyRAMImageToPhoto(Tcl_Interp *interp, RAMIMG *image, const char *photoName) {
  Tk_PhotoHandle photo = findPhoto(interp, photoName);
  if (!photo) return kPhotoNotFound;
  if (!image) return kPhotoRefused;
  const ImageHeader &h = image->header;
  const int columns = h.columns, rows = h.rows;
  if (Tk_PhotoSetSize(interp, photo, columns, rows) != TCL_OK) return kPhotoRefused;
  if (columns <= 0 || rows <= 0) return 0;

  std::vector<unsigned char> planes(3 * static_cast<size_t>(columns));
  Tk_PhotoImageBlock block;
  block.pixelPtr = planes.data();
  block.width = columns;
  block.height = 1;
  block.pitch = 3 * columns;
  block.pixelSize = 1;
  block.offset[0] = 0;
  block.offset[1] = columns;
  block.offset[2] = 2 * columns;
  block.offset[3] = -1; /* no alpha: every pixel is opaque */

  unsigned char *red = planes.data();
  unsigned char *green = red + columns;
  unsigned char *blue = green + columns;
  const bool palette = h.nindices > 0;
  const bool grey = !palette && h.nbands < 3;
  for (int row = 0; row < rows; row++) {
    if (palette) {
      /* The index row sits in the red plane and is replaced last. */
      getByteBILData(image, row, 0, columns, 0, red);
      for (int plane = 2; plane >= 0; plane--) {
        unsigned char *to = red + static_cast<size_t>(plane) * static_cast<size_t>(columns);
        for (int x = 0; x < columns; x++) to[x] = h.palette[red[x]][plane];
      }
    } else if (grey) {
      getByteBILData(image, row, 0, columns, 0, red);
      memcpy(green, red, static_cast<size_t>(columns));
      memcpy(blue, red, static_cast<size_t>(columns));
    } else {
      getByteBILData(image, row, 0, columns, 0, red);
      getByteBILData(image, row, 0, columns, 1, green);
      getByteBILData(image, row, 0, columns, 2, blue);
    }
    if (Tk_PhotoPutBlock(interp, photo, &block, 0, row, columns, 1, TK_PHOTO_COMPOSITE_SET) !=
        TCL_OK)
      return kPhotoRefused;
  }
  return 0;
}

}  // namespace vesk
