// Row conversion and band statistics of resident 4096 x 4096 images:
// getFloatBILData/putFloatBILData against a plain C++ conversion loop over
// the same lines (BYTE, SHORT, FLOAT), and ramImageHist of a 3-band BYTE
// image (bench/runner.py's "stats" row sets the module against OpenCV).
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tcl.h>
#include <algorithm>
#include <chrono>
#include <vector>

#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "raster/ramimg.h"

void initBenchStubs(Tcl_Interp *interp);

namespace {

const int kSide = 4096;
const int kRepeats = 5;

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

template <class Fn> double best(Fn &&pass) {
  double fastest = 1e30;
  for (int i = 0; i < kRepeats; i++) {
    double start = now();
    pass();
    fastest = std::min(fastest, now() - start);
  }
  return fastest;
}

RAMIMG *memoryImage(int pixelid, int nbands) {
  ImageHeader h;
  vesk::initImageHeader(&h);
  snprintf(h.path, sizeof h.path, "bench");
  h.imgid = vesk::IMG_MBIL;
  h.pixelid = pixelid;
  h.bits = vesk::getPixelBits(pixelid);
  h.rows = h.columns = kSide;
  h.nbands = nbands;
  h.transparent = -1;
  h.altFd = -1;
  h.block = vesk::pixelLineBytes(pixelid, kSide);
  int err = 0;
  return vesk::createRAMImage(&h, nullptr, &err);
}

// The plain loop: what one would write by hand over a line of samples.
template <class S> void plainToFloat(const unsigned char *line, float *out) {
  const S *s = reinterpret_cast<const S *>(line);
  for (int x = 0; x < kSide; x++) out[x] = static_cast<float>(s[x]);
}
template <class S> void plainFromFloat(const float *in, unsigned char *line, float lo, float hi) {
  S *s = reinterpret_cast<S *>(line);
  for (int x = 0; x < kSide; x++) {
    float c = std::min(std::max(in[x], lo), hi);
    s[x] = static_cast<S>(c >= 0 ? c + 0.5f : c - 0.5f);
  }
}
template <> void plainFromFloat<float>(const float *in, unsigned char *line, float, float) {
  memcpy(line, in, sizeof(float) * kSide);
}

template <class S> void benchType(const char *name, int pixelid, float lo, float hi) {
  RAMIMG *image = memoryImage(pixelid, 1);
  std::vector<float> row(kSide);
  for (int y = 0; y < kSide; y++) {
    for (int x = 0; x < kSide; x++) row[x] = float((x * 7 + y * 13) % 251) - (lo < 0 ? 100 : 0);
    vesk::putFloatBILData(image, y, 0, kSide, 0, row.data());
  }
  volatile float sink = 0;
  const double plainRead = best([&] {
    for (int y = 0; y < kSide; y++) {
      plainToFloat<S>(image->getLineProc(image, y, 0, 1), row.data());
      sink = sink + row[y];
    }
  });
  const double oursRead = best([&] {
    for (int y = 0; y < kSide; y++) {
      vesk::getFloatBILData(image, y, 0, kSide, 0, row.data());
      sink = sink + row[y];
    }
  });
  const double plainWrite = best([&] {
    for (int y = 0; y < kSide; y++) {
      plainFromFloat<S>(row.data(), image->getLineProc(image, y, 0, 1), lo, hi);
      vesk::setRAMImageDirty(image, y, 0);
    }
  });
  const double oursWrite = best([&] {
    for (int y = 0; y < kSide; y++) vesk::putFloatBILData(image, y, 0, kSide, 0, row.data());
  });
  const double mpix = double(kSide) * kSide / 1e6;
  printf("%-6s to float: plain %7.1f Mpx/s  ours %7.1f Mpx/s  ratio %.2f\n", name,
         mpix / plainRead, mpix / oursRead, oursRead / plainRead);
  printf("%-6s from float: plain %7.1f Mpx/s  ours %7.1f Mpx/s  ratio %.2f\n", name,
         mpix / plainWrite, mpix / oursWrite, oursWrite / plainWrite);
  vesk::freeRAMImage(image);
}

}  // namespace

int main(int, char **argv) {
  Tcl_FindExecutable(argv[0]);
  Tcl_Interp *interp = Tcl_CreateInterp();
  initBenchStubs(interp);

  benchType<uint8_t>("BYTE", vesk::P_BYTE, 0, 255);
  benchType<int16_t>("SHORT", vesk::P_SHORT, -32768, 32767);
  benchType<float>("FLOAT", vesk::P_FLOAT, -3e38f, 3e38f);

  // Statistics of a 3-band BYTE image of pseudo-random values.
  RAMIMG *image = memoryImage(vesk::P_BYTE, 3);
  unsigned x = 12345;
  for (int y = 0; y < kSide; y++)
    for (int b = 0; b < 3; b++) {
      unsigned char *line = image->getLineProc(image, y, b, 1);
      for (int c = 0; c < kSide; c++) {
        x = x * 1103515245u + 12345u;
        line[c] = static_cast<unsigned char>((x >> 16) % (b == 2 ? 128 : 256));
      }
    }
  const double stats = best([&] { vesk::ramImageHist(image, vesk::kHistRecompute, 1, 1); });
  BandHist *hist = vesk::ramImageHist(image, vesk::kHistCached, 1, 1);
  for (int b = 0; b < 3; b++)
    printf("band %d: mean %.6f std %.6f min %g max %g\n", b, vesk::getHistMean(&hist[b]),
           vesk::getHistStd(&hist[b]), hist[b].min, hist[b].max);
  printf("statistics of 4096 x 4096 x 3 BYTE: %.1f ms\n", stats * 1e3);

  vesk::freeRAMImage(image);
  Tcl_DeleteInterp(interp);
  return 0;
}
