// rimage calc nratio of a 4096 x 4096 x 2 FLOAT memory image into a
// 1-band FLOAT memory image, through the module itself (best of five);
// bench/calc_numpy.py times the same expression in numpy.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tcl.h>
#include <algorithm>
#include <chrono>

#include "processing/rimage.h"
#include "raster/pixels.h"
#include "raster/ramimg.h"

void initBenchStubs(Tcl_Interp *interp);

namespace {

const int kSide = 4096;

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

RAMIMG *memoryImage(const char *tag, int nbands) {
  ImageHeader h;
  vesk::initImageHeader(&h);
  snprintf(h.path, sizeof h.path, "%s", tag);
  h.imgid = vesk::IMG_MBIL;
  h.pixelid = vesk::P_FLOAT;
  h.bits = 32;
  h.rows = h.columns = kSide;
  h.nbands = nbands;
  h.transparent = -1;
  h.altFd = -1;
  int err = 0;
  return vesk::openRAMImageNew(&h, nullptr, 1, &err);
}

}  // namespace

int main(int, char **argv) {
  Tcl_FindExecutable(argv[0]);
  Tcl_Interp *interp = Tcl_CreateInterp();
  initBenchStubs(interp);
  RAMIMG *in = memoryImage("calcBenchIn", 2);
  RAMIMG *out = memoryImage("calcBenchOut", 1);
  if (!in || !out) {
    fprintf(stderr, "cannot make the images\n");
    return 1;
  }
  unsigned x = 12345;
  for (int y = 0; y < kSide; y++)
    for (int b = 0; b < 2; b++) {
      float *line = reinterpret_cast<float *>(in->getLineProc(in, y, b, 1));
      for (int c = 0; c < kSide; c++) {
        x = x * 1103515245u + 12345u;
        line[c] = static_cast<float>((x >> 8) % 10000) * 0.01f;
      }
    }
  const char *args[] = {"-in", "calcBenchIn", "-out", "calcBenchOut", "-f", "nratio"};
  double fastest = 1e30;
  for (int i = 0; i < 5; i++) {
    const double start = now();
    if (vesk::calcModule("rimage calc", 6, args) != 1) return 1;
    fastest = std::min(fastest, now() - start);
  }
  printf("rimage calc nratio of 4096 x 4096 x 2 FLOAT: %.1f ms\n", fastest * 1e3);
  Tcl_DeleteInterp(interp);
  return 0;
}
