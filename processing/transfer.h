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

/* Closes the images of a module that are open; each pointer is cleared. */
inline void closeTransferImages(RAMIMG **a, RAMIMG **b) {
  if (*a) closeRAMImage(*a, nullptr);
  if (*b) closeRAMImage(*b, nullptr);
  *a = *b = nullptr;
}

}  // namespace vesk

#endif
