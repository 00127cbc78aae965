// GPZ images read whole: the input's first 2064 bytes are a head (its data
// name set to gpz.dat), the rest the data file beside it; the head opened
// through the GPZ reader and every line read.
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz.h"
#include "raster/ramimg.h"

namespace vesk {
int readGpzHeader(int fd, const char *path, ImageHeader *header, void **privateData);
}

namespace {

constexpr size_t kHeadBytes = 8 + 2056;
constexpr size_t kNameAt = 8, kNameBytes = 136;

int sniffGpz(int fd, const char *path, ImageHeader *header, void **privateData) {
  return vesk::readGpzHeader(fd, path, header, privateData);
}

}  // namespace

FUZZ_TARGET(gpzimage) {
  if (size < kHeadBytes) return 0;
  std::vector<uint8_t> head(data, data + kHeadBytes);
  memset(head.data() + kNameAt, 0, kNameBytes);
  memcpy(head.data() + kNameAt, "gpz.dat", 7);
  const std::string headPath = fuzz::folder() + "/head.gpz";
  fuzz::writeFile(headPath, head.data(), head.size());
  fuzz::writeFile(fuzz::folder() + "/gpz.dat", data + kHeadBytes, size - kHeadBytes);
  vesk::rasterHooks().sniffImageFile = sniffGpz;
  int err = 0;
  RAMIMG *image = vesk::openRAMImageFile(headPath.c_str(), nullptr, nullptr, &err);
  if (!image) return 0;
  fuzz::readImage(image);
  vesk::flushRAMImage(image);
  vesk::freeRAMImage(image);
  return 0;
}
