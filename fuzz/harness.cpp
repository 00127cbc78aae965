// Set-up shared by the fuzz targets: Tcl started once, the input as a
// memory file, and the image read-through.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <tcl.h>

#include "core/families.h"
#include "vesk/vesk.h"
#include "fuzz/fuzz.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"

namespace fuzz {

namespace {

// Images of more samples than this are read at their first and last rows
// only: the targets look for faults, not at decoding speed.
constexpr int64_t kFullReadSamples = 1 << 22;
constexpr int kMaxVolumes = 3;

void readVolume(RAMIMG *image) {
  const ImageHeader &h = image->header;
  if (h.rows <= 0 || h.columns <= 0 || h.nbands <= 0) return;
  const int64_t samples = static_cast<int64_t>(h.rows) * h.columns * h.nbands;
  const bool full = samples <= kFullReadSamples;
  for (int band = 0; band < std::min(h.nbands, full ? h.nbands : 2); band++) {
    for (int row = 0; row < h.rows; row++) {
      if (!full && row != 0 && row != h.rows - 1) continue;
      volatile unsigned char *line = vesk::getRAMImageLine(image, row, band, 1);
      (void)line;
    }
  }
}

// The probe of the format under test: the sniffer hook tries it alone, so
// that a target's inputs are opened only as its own format (the other
// formats have their own targets).
vesk::ImageReaderProc *targetProbe = nullptr;

int sniffTargetFormat(int fd, const char *path, ImageHeader *header, void **privateData) {
  return targetProbe ? targetProbe(fd, path, header, privateData) : 0;
}

vesk::ImageReaderProc *findProbe(const char *format) {
  int count = 0;
  const vesk::FormatProbe *probes = vesk::formatProbes(&count);
  for (int i = 0; i < count; i++)
    if (strcmp(probes[i].name, format) == 0) return probes[i].probe;
  abort();
}

Tcl_Interp *plainInterp = nullptr;

}  // namespace

Tcl_Interp *startTcl();  // interp.cpp
Tcl_Interp *startTk();   // interp.cpp

void init() {
  static bool done = false;
  if (done) return;
  done = true;
  // The library calls Tcl through the stub table: fill it from a real interpreter.
  plainInterp = startTcl();
  if (!Tcl_InitStubs(plainInterp, "8.6", 0)) abort();
  vesk::installImageFormats();
}

Tcl_Interp *interp() {
  init();
  return plainInterp;
}

Tcl_Interp *tkInterp() {
  static Tcl_Interp *tk = nullptr;
  if (!tk) {
    init();
    if (!getenv("DISPLAY")) {
      fprintf(stderr, "this fuzz target needs an X display: set DISPLAY (xvfb-run)\n");
      abort();
    }
    tk = startTk();
    if (!tk) {
      fprintf(stderr, "Tk cannot start: is the display %s open?\n", getenv("DISPLAY"));
      abort();
    }
    // The package's own entry, as "load" calls it: it fills the Tk stub table.
    Tcl_SetVar(tk, "veskAppScripts", "", TCL_GLOBAL_ONLY);
    if (Vesk_Init(tk) != TCL_OK) {
      fprintf(stderr, "Vesk_Init: %s\n", Tcl_GetStringResult(tk));
      abort();
    }
  }
  return tk;
}

namespace {
std::string folderPath;
void removeFolder() { std::filesystem::remove_all(folderPath); }
}  // namespace

const std::string &folder() {
  if (folderPath.empty()) {
    char name[] = "/tmp/vesk-fuzz-XXXXXX";
    if (!mkdtemp(name)) abort();
    folderPath = name;
    atexit(removeFolder);
  }
  return folderPath;
}

void writeFile(const std::string &path, const uint8_t *data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) abort();
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) abort();
    done += static_cast<size_t>(n);
  }
  close(fd);
}

void readImage(RAMIMG *image) {
  readVolume(image);
  const int volumes = std::min(image->header.volumes, kMaxVolumes);
  for (int volume = 2; volume <= volumes; volume++) {
    if (vesk::seekRAMImageVolume(image, volume) < 0) break;
    readVolume(image);
  }
}

MemFile::MemFile(const uint8_t *data, size_t size, const char *name) {
  fd_ = memfd_create(name, MFD_CLOEXEC);
  if (fd_ < 0) abort();
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd_, data + done, size - done);
    if (n <= 0) abort();
    done += static_cast<size_t>(n);
  }
  lseek(fd_, 0, SEEK_SET);
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemFile::~MemFile() { close(fd_); }

void readImageFile(const uint8_t *data, size_t size, const char *format) {
  targetProbe = findProbe(format);
  vesk::rasterHooks().sniffImageFile = sniffTargetFormat;
  MemFile file(data, size);
  int err = 0;
  RAMIMG *image = vesk::openRAMImageFile(file.path(), nullptr, nullptr, &err);
  if (!image) return;
  readImage(image);
  vesk::flushRAMImage(image);
  vesk::freeRAMImage(image);
}

}  // namespace fuzz

#ifndef VESK_FUZZ_REPLAY
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::init();
  return 0;
}
#endif
