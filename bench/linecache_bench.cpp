// Line-cache throughput against plain sequential read()/write() of the same
// 8192 x 8192 BYTE BIL file, all from the page cache, in one run.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tcl.h>
#include <unistd.h>
#include <chrono>
#include <string>
#include <vector>

#include "raster/ramimg.h"

void initBenchStubs(Tcl_Interp *interp);

namespace {

const int kSide = 8192;
const int kRepeats = 5;

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double mibPerSecond(double seconds) { return double(kSide) * kSide / (1 << 20) / seconds; }

// Best of kRepeats runs of a pass, in seconds.
template <class Fn> double best(Fn &&pass) {
  double fastest = 1e30;
  for (int i = 0; i < kRepeats; i++) {
    double start = now();
    pass();
    fastest = std::min(fastest, now() - start);
  }
  return fastest;
}

volatile unsigned sink;

}  // namespace

int main(int argc, char **argv) {
  Tcl_FindExecutable(argv[0]);
  Tcl_Interp *interp = Tcl_CreateInterp();
  initBenchStubs(interp);

  const std::string folder = argc > 1 ? argv[1] : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
  const std::string path = folder + "/vesk-linecache-bench.raw";
  std::vector<unsigned char> row(kSide);
  {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) { perror(path.c_str()); return 1; }
    for (int r = 0; r < kSide; r++) {
      memset(row.data(), r & 0xff, row.size());
      if (write(fd, row.data(), row.size()) != kSide) { perror("write"); return 1; }
    }
    close(fd);
  }

  // Plain sequential read() and write() of whole rows.
  int fd = open(path.c_str(), O_RDWR);
  const double plainRead = best([&] {
    lseek(fd, 0, SEEK_SET);
    unsigned sum = 0;
    for (int r = 0; r < kSide; r++) {
      if (read(fd, row.data(), row.size()) != kSide) abort();
      sum += row[r];
    }
    sink = sum;
  });
  const double plainWrite = best([&] {
    lseek(fd, 0, SEEK_SET);
    for (int r = 0; r < kSide; r++) {
      row[0] = static_cast<unsigned char>(r);
      if (write(fd, row.data(), row.size()) != kSide) abort();
    }
  });
  close(fd);

  // The same rows through the line cache of a RAM image.
  ImageHeader header;
  vesk::initImageHeader(&header);
  header.imgid = vesk::IMG_BIL;
  header.pixelid = vesk::P_BYTE;
  header.rows = header.columns = kSide;
  header.nbands = 1;
  header.block = kSide;
  header.transparent = -1;
  int err = 0;
  RAMIMG *image = vesk::openRAMImageFile(path.c_str(), &header, nullptr, &err);
  if (!image) { fprintf(stderr, "open failed: %d\n", err); return 1; }
  const double cacheRead = best([&] {
    vesk::invalidateRAMImageCache(image);
    unsigned sum = 0;
    for (int r = 0; r < kSide; r++) sum += vesk::getRAMImageLine(image, r, 0, 1)[r];
    sink = sum;
  });
  const double cacheWrite = best([&] {
    vesk::invalidateRAMImageCache(image);
    for (int r = 0; r < kSide; r++) {
      unsigned char *line = vesk::getRAMImageLine(image, r, 0, 0);
      memset(line, r & 0xff, kSide);
      vesk::setRAMImageDirty(image, r, 0);
    }
    vesk::flushRAMImage(image);
  });
  const int cachedRows = image->cachedRows;
  vesk::freeRAMImage(image);
  unlink(path.c_str());

  printf("cache rows: %d of %d\n", cachedRows, kSide);
  printf("%-28s %10s %10s\n", "pass (best of 5)", "MiB/s", "ratio");
  printf("%-28s %10.0f\n", "plain read() of rows", mibPerSecond(plainRead));
  printf("%-28s %10.0f %10.2f\n", "line cache read", mibPerSecond(cacheRead), plainRead / cacheRead);
  printf("%-28s %10.0f\n", "plain write() of rows", mibPerSecond(plainWrite));
  printf("%-28s %10.0f %10.2f\n", "line cache write-back", mibPerSecond(cacheWrite),
         plainWrite / cacheWrite);
  Tcl_DeleteInterp(interp);
  return 0;
}
