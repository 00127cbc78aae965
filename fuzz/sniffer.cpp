// The format sniffer's whole chain as "rimage open FILE" runs it with no
// format given (the GPZ reader appended as "gpz append" does): every probe
// in its order, then the image read.  The file lies in a private folder,
// so that the names a head gives are looked up there.
#include "fuzz/fuzz.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"

namespace vesk {
int readGpzHeader(int fd, const char *path, ImageHeader *header, void **privateData);
}

FUZZ_TARGET(sniffer) {
  static bool made = false;
  if (!made) {
    made = true;
    vesk::addImageReader(vesk::readGpzHeader, 1);
  }
  vesk::rasterHooks().sniffImageFile = vesk::sniffImageFile;
  const std::string path = fuzz::folder() + "/input";
  fuzz::writeFile(path, data, size);
  int err = 0;
  RAMIMG *image = vesk::openRAMImage(nullptr, path.c_str(), nullptr, nullptr, &err);
  if (!image) return 0;
  fuzz::readImage(image);
  vesk::closeRAMImage(image, nullptr);
  return 0;
}
