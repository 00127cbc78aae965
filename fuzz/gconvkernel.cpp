// gconv kernel files (-kn): the module run as "rimage gconv" runs it, over
// a small memory image, with the input as the kernel file.
#include <stdlib.h>

#include "fuzz/fuzz.h"
#include "processing/rimage.h"
#include "raster/ramimg.h"

namespace {

// Memory images @fzin (a ramp, two bands) and @fzout, made once and kept.
void makeImages() {
  static bool made = false;
  if (made) return;
  made = true;
  setenv("VESK_THREADS", "1", 1);
  for (const char *tag : {"@fzin", "@fzout"}) {
    ImageHeader h;
    vesk::initImageHeader(&h);
    h.imgid = vesk::IMG_MBIL;
    h.pixelid = vesk::P_BYTE;
    h.rows = 9;
    h.columns = 11;
    h.nbands = 2;
    int err = 0;
    RAMIMG *image = vesk::openRAMImage(tag, nullptr, &h, nullptr, &err);
    if (!image) abort();
    image->keepCount++;
    for (int band = 0; band < h.nbands; band++)
      for (int row = 0; row < h.rows; row++) {
        unsigned char *line = vesk::getRAMImageLine(image, row, band, 0);
        for (int c = 0; c < h.columns; c++) line[c] = static_cast<unsigned char>(row * 17 + c * 5 + band);
      }
  }
}

}  // namespace

FUZZ_TARGET(gconvkernel) {
  makeImages();
  fuzz::MemFile file(data, size);
  const char *argv[] = {"-in", "@fzin", "-out", "@fzout", "-b", "1:1;2:2", "-kn", file.path()};
  vesk::gconvModule("gconv", 8, argv);
  const char *normed[] = {"-in", "@fzin", "-out", "@fzout", "-ir", "2", "-r", "5", "-c", "7",
                          "-norm", "yes", "-kn", file.path()};
  vesk::gconvModule("gconv", 14, normed);
  return 0;
}
