// GPZ heads: the head file beside a data file in a private folder, so that
// the data name the head gives is looked up there.
#include <stdlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "fuzz/fuzz.h"
#include "raster/imghead.h"

namespace vesk {
int readGpzHeader(int fd, const char *path, ImageHeader *header, void **privateData);
}

namespace {

const std::string &dataFolder() {
  static std::string path;
  if (path.empty()) {
    path = fuzz::folder();
    // The data files the seeds name: 64 KiB each, sparse.
    for (const char *data : {"img.dat", "dual.dat", "u16.dat"}) {
      int fd = open((path + "/" + data).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
      if (fd < 0 || ftruncate(fd, 65536) != 0) abort();
      close(fd);
    }
  }
  return path;
}

}  // namespace

FUZZ_TARGET(gpz) {
  const std::string head = dataFolder() + "/head.gpz";
  int fd = open(head.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) abort();
  if (size && write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  ImageHeader header;
  vesk::initImageHeader(&header);
  header.altFd = -1;
  vesk::readGpzHeader(fd, head.c_str(), &header, nullptr);
  if (header.altFd >= 0) close(header.altFd);
  close(fd);
  return 0;
}
