// Small files for the raster store's units: a private folder, whole-file
// reads and writes, and headers for raw layouts.
#ifndef VESK_TESTS_UNIT_RASTER_FILES_H
#define VESK_TESTS_UNIT_RASTER_FILES_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "raster/ramimg.h"

namespace rastertest {

// A folder of its own for each test binary run, removed at exit.
inline const std::string &tempFolder() {
  static std::string folder = [] {
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vesk-raster-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    std::string made = mkdtemp(name.data()) ? name.data() : "/tmp";
    static std::string toRemove = made;
    atexit([] { std::string cmd = "rm -rf '" + toRemove + "'"; (void)!system(cmd.c_str()); });
    return made;
  }();
  return folder;
}

inline std::string tempPath(const std::string &name) { return tempFolder() + "/" + name; }

inline void writeFile(const std::string &path, const std::vector<unsigned char> &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return;
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

inline std::vector<unsigned char> readFile(const std::string &path) {
  std::vector<unsigned char> bytes;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  int c;
  while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
  fclose(f);
  return bytes;
}

// Bytes 0..n-1 of a fixed pseudo-random sequence.
inline std::vector<unsigned char> noise(size_t n, unsigned seed) {
  std::vector<unsigned char> bytes(n);
  unsigned x = seed * 2654435761u + 12345u;
  for (auto &b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<unsigned char>(x >> 16);
  }
  return bytes;
}

// A header for a raw layout in a file.
inline ImageHeader rawHeader(const std::string &path, int imgid, int pixelid, int rows,
                             int columns, int nbands, int64_t offset, int64_t block) {
  ImageHeader h;
  vesk::initImageHeader(&h);
  snprintf(h.path, sizeof h.path, "%s", path.c_str());
  h.imgid = imgid;
  h.pixelid = pixelid;
  h.bits = vesk::getPixelBits(pixelid);
  h.rows = rows;
  h.columns = columns;
  h.nbands = nbands;
  h.offset = offset;
  h.block = block;
  h.transparent = -1;
  h.mapid = vesk::MAPID_GRID;
  h.altFd = -1;
  return h;
}

}  // namespace rastertest

#endif
