// DIB (BMP) files: the header core over the bytes, then the whole image read as that format.
#include "fuzz/fuzz.h"
#include "raster/sniffer.h"

FUZZ_TARGET(dib) {
  ImageHeader header;
  vesk::initImageHeader(&header);
  bool topDown = false;
  const int64_t length = static_cast<int64_t>(size);
  vesk::parseDibHeader(data, length, length, &header, &topDown);
  fuzz::readImageFile(data, size, "DIB");
  return 0;
}
