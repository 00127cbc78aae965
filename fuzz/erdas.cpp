// ERDAS files: the header core over the bytes, then the whole image read as that format.
#include "fuzz/fuzz.h"
#include "raster/sniffer.h"

FUZZ_TARGET(erdas) {
  ImageHeader header;
  vesk::initImageHeader(&header);
  vesk::parseErdasHeader(data, static_cast<int64_t>(size), static_cast<int64_t>(size), &header);
  fuzz::readImageFile(data, size, "ERDAS");
  return 0;
}
