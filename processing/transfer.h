/*
 * transfer.h --
 *     Private interface of the modules that move windows and geometry
 *     between images: copy, crop and trans, rotate and gsfzoom, resample
 *     and section, and the small helpers they share.
 */
#ifndef VESK_PROCESSING_TRANSFER_H
#define VESK_PROCESSING_TRANSFER_H

#include <limits.h>
#include <stdlib.h>

#include "processing/rimage.h"

namespace vesk {

RimageModuleProc copyModule;      /* copy.cpp: copy and crop */
RimageModuleProc transModule;     /* copy.cpp */
RimageModuleProc rotateModule;    /* rotate.cpp */
RimageModuleProc gsfzoomModule;   /* gsfzoom.cpp */
RimageModuleProc resampleModule;  /* resample.cpp */
RimageModuleProc sectionModule;   /* section.cpp */

/* An integer option: the default when absent, saturated to the int range. */
inline int transferInt(const char *value, int fallback) {
  if (!value) return fallback;
  long long n = strtoll(value, nullptr, 10);
  if (n > INT_MAX) return INT_MAX;
  if (n < INT_MIN) return INT_MIN;
  return static_cast<int>(n);
}

/*
 * fitMemoryFrame --
 *     The memory frames MRGB32 .. MRGB1 hold only their own bands and
 *     pixel type.  A new head copied from one that asks for others gets
 *     the frame of three bytes (three BYTE bands) or MBSQ, which holds any.
 */
inline void fitMemoryFrame(ImageHeader &h) {
  int bands = 1, pixelid = P_BYTE;
  switch (h.imgid) {
  case IMG_MRGB32: bands = 4; break;
  case IMG_MRGB24: case IMG_MRGB565: case IMG_MRGB555: bands = 3; break;
  case IMG_MRGB8: break;
  case IMG_MRGB4: pixelid = P_4BITS; break;
  case IMG_MRGB1: pixelid = P_1BIT; break;
  default: return;
  }
  if (h.nbands != bands || h.pixelid != pixelid)
    h.imgid = h.nbands == 3 && h.pixelid == P_BYTE ? IMG_MRGB24 : IMG_MBSQ;
}

/*
 * A memory image whose every line has a cache slot of its own: line
 * addresses had on the calling thread stay where they are while other
 * lines are had, so pool workers may move samples between them.
 */
inline bool residentImage(const RAMIMG *image) {
  const ImageHeader &h = image->header;
  return image->fd < 0 && !image->memData && image->cache &&
         image->getLineProc == getRAMImageLine &&
         image->cacheLines >= int64_t{h.rows} * h.nbands;
}

/* Closes the images of a module that are open; each pointer is cleared. */
inline void closeTransferImages(RAMIMG **a, RAMIMG **b) {
  if (*a) closeRAMImage(*a, nullptr);
  if (*b) closeRAMImage(*b, nullptr);
  *a = *b = nullptr;
}

}  // namespace vesk

#endif
