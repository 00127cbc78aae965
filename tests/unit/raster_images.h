// Unregistered memory images for the pixel, statistics and mask units:
// created and freed directly, so that the registry and its tag counter
// stay untouched.
#ifndef VESK_TESTS_UNIT_RASTER_IMAGES_H
#define VESK_TESTS_UNIT_RASTER_IMAGES_H

#include <memory>

#include "raster/ramimg.h"
#include "tests/unit/raster_files.h"

namespace rastertest {

struct ImageFree {
  void operator()(RAMIMG *image) const { vesk::freeRAMImage(image); }
};
using ImagePtr = std::unique_ptr<RAMIMG, ImageFree>;

inline ImagePtr memoryImage(int pixelid, int rows, int columns, int nbands = 1, int msbf = 0,
                            int imgid = vesk::IMG_MBIL) {
  ImageHeader h = rawHeader("memory", imgid, pixelid, rows, columns, nbands, 0,
                            vesk::pixelLineBytes(pixelid, columns));
  h.msbf = msbf;
  int err = -1;
  return ImagePtr(vesk::createRAMImage(&h, nullptr, &err));
}

}  // namespace rastertest

#endif
