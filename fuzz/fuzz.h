// Shared pieces of the fuzz targets.  Each target is one file that names
// itself with FUZZ_TARGET; built with clang and -fsanitize=fuzzer it is a
// libFuzzer binary, built for replay (VESK_FUZZ_REPLAY) it is a row of the
// replay driver's table (replay.cpp), which feeds a corpus through it.
#ifndef VESK_FUZZ_FUZZ_H
#define VESK_FUZZ_FUZZ_H

#include <stddef.h>
#include <stdint.h>

#include <string>

struct RAMIMG;

namespace fuzz {

typedef int TargetProc(const uint8_t *data, size_t size);

// Starts Tcl once (the library calls it through the stub table) and
// plugs the image formats in.
void init();

// The fuzz input as an open file (a memfd): the fd and a path that opens it.
class MemFile {
 public:
  MemFile(const uint8_t *data, size_t size, const char *name = "fuzz");
  ~MemFile();
  MemFile(const MemFile &) = delete;
  MemFile &operator=(const MemFile &) = delete;
  int fd() const { return fd_; }
  const char *path() const { return path_.c_str(); }

 private:
  int fd_;
  std::string path_;
};

// Opens the input as an image file of one format (a name of the sniffer's
// probe table) and reads its pixels: every line of the first volumes when
// the image is small enough, else the first and last lines.
void readImageFile(const uint8_t *data, size_t size, const char *format);

}  // namespace fuzz

#ifdef VESK_FUZZ_REPLAY
#define FUZZ_TARGET(name) int fuzzTarget_##name(const uint8_t *data, size_t size)
#else
#define FUZZ_TARGET(name)                                          \
  static int fuzzTarget_##name(const uint8_t *, size_t);           \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { \
    return fuzzTarget_##name(data, size);                          \
  }                                                                \
  static int fuzzTarget_##name(const uint8_t *data, size_t size)
#endif

#endif
