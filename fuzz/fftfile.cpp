// FFT files: the header core over the bytes, then the whole image read as that format.
#include "fuzz/fuzz.h"
#include "raster/sniffer.h"
#include "raster/fftfile.h"

FUZZ_TARGET(fftfile) {
  ImageHeader header;
  vesk::initImageHeader(&header);
  vesk::parseFFTHeader(data, static_cast<int64_t>(size), static_cast<int64_t>(size), &header);
  fuzz::readImageFile(data, size, "FFT");
  return 0;
}
