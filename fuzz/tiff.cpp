// TIFF files: the directory chain, then the whole image read as that format.
#include "fuzz/fuzz.h"
#include "raster/sniffer.h"
#include "raster/tiff.h"

FUZZ_TARGET(tiff) {
  ImageHeader header;
  vesk::initImageHeader(&header);
  {
    fuzz::MemFile file(data, size);
    if (TiffInfo *info = vesk::loadTiffInfo(file.fd())) vesk::freeTiffInfo(info);
  }
  fuzz::readImageFile(data, size, "TIFF");
  return 0;
}
