// IMAGEDEF files: the header core over the bytes, then the whole image read as that format.
#include "fuzz/fuzz.h"
#include "raster/sniffer.h"

FUZZ_TARGET(imagedef) {
  ImageHeader header;
  vesk::initImageHeader(&header);
  vesk::parseImagedefHeader(data, static_cast<int64_t>(size), static_cast<int64_t>(size), &header);
  fuzz::readImageFile(data, size, "IMAGEDEF");
  return 0;
}
