// GIF files: the header from memory, then the whole image read as that format.
#include "fuzz/fuzz.h"
#include "raster/sniffer.h"
#include "raster/gif.h"

FUZZ_TARGET(gif) {
  ImageHeader header;
  vesk::initImageHeader(&header);
  vesk::readGifHeader(-1, &header, data, static_cast<int64_t>(size));
  fuzz::readImageFile(data, size, "GIF");
  return 0;
}
