// JPEG files: the header from memory, then the whole image read as that format.
#include "fuzz/fuzz.h"
#include "raster/sniffer.h"
#include "raster/jpeg.h"

FUZZ_TARGET(jpeg) {
  ImageHeader header;
  vesk::initImageHeader(&header);
  vesk::readJpegHeader(-1, &header, data, static_cast<int64_t>(size));
  fuzz::readImageFile(data, size, "JPEG");
  return 0;
}
