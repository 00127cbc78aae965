// Shared pieces of the image-format tests: the fixture that plugs the
// formats into the store, sniffing a file, and the committed fixtures.
#ifndef VESK_TESTS_UNIT_RASTER_FORMATS_H
#define VESK_TESTS_UNIT_RASTER_FORMATS_H

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "tests/unit/harness.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"
#include "tests/unit/raster_files.h"

namespace formatstest {

// Installs the sniffer and file creation for one test and takes them
// away after it; every image must be closed by then.
class Formats : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = vesk::rasterHooks();
    vesk::installImageFormats();
  }
  void TearDown() override {
    vesk::rasterHooks() = saved;
    vesk::freeImageReaders();
    EXPECT_EQ(vesk::firstRAMImage(), nullptr);
  }
  vesk::RasterHooks saved;
};

// What the library writes on its error stream while `run` runs: the
// stream goes through the test interpreter's stderr channel.
template <class Fn> std::string errorsOf(Fn &&run) {
  Tcl_Interp *previous = vesk::setStdioInterp(testInterp());
  testing::internal::CaptureStderr();
  run();
  vesk::setStdioInterp(previous);
  return testing::internal::GetCapturedStderr();
}

// Sniffs a file; the header and private data come back through the out
// parameters (private data is freed here unless asked for).
inline int sniffPath(const std::string &path, ImageHeader *out = nullptr) {
  ImageHeader h;
  vesk::initImageHeader(&h);
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return -100;
  void *privateData = nullptr;
  const int result = vesk::sniffImageFile(fd, path.c_str(), &h, &privateData);
  close(fd);
  gmemFree(privateData);
  if (out) *out = h;
  return result;
}

inline int sniffBytes(const std::vector<unsigned char> &bytes, ImageHeader *out = nullptr) {
  const std::string path = rastertest::tempPath("sniffed.bin");
  rastertest::writeFile(path, bytes);
  return sniffPath(path, out);
}

// A fixture of tests/data/<folder>.
inline std::string dataPath(const std::string &folder, const std::string &name) {
  const char *source = getenv("VESK_SOURCE_DIR");
  return std::string(source ? source : ".") + "/tests/data/" + folder + "/" + name;
}

inline std::string fixturePath(const std::string &name) { return dataPath("formats", name); }

// Images are opened outside the registry, so that the registry's own
// tests still see its first tags.
inline RAMIMG *openFile(const std::string &path) {
  int err = -1;
  RAMIMG *image = vesk::openRAMImageFile(path.c_str(), nullptr, nullptr, &err);
  EXPECT_NE(image, nullptr) << path << " error " << err;
  return image;
}

inline void closeFile(RAMIMG *image) {
  vesk::flushRAMImage(image);
  vesk::freeRAMImage(image);
}

inline std::vector<unsigned char> fixture(const std::string &name) {
  return rastertest::readFile(fixturePath(name));
}

// What the outside tools reported: per fixture, the samples after the
// plain PNM header (three a pixel for P3, one for P2 and P1).
inline std::map<std::string, std::vector<int>> expectedSamples() {
  std::map<std::string, std::vector<int>> table;
  std::ifstream in(fixturePath("expected.txt"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string name, magic;
    int width = 0, height = 0, maximum = 1;
    words >> name >> magic >> width >> height;
    name.pop_back();  // the colon
    if (magic != "P1") words >> maximum;
    std::vector<int> &samples = table[name];
    std::string word;
    while (words >> word) {
      if (magic == "P1") {
        for (char c : word) samples.push_back(c - '0');
      } else {
        samples.push_back(std::stoi(word));
      }
    }
  }
  return table;
}

}  // namespace formatstest

#endif
