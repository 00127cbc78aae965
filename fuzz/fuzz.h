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
struct Tcl_Interp;

namespace fuzz {

typedef int TargetProc(const uint8_t *data, size_t size);

// Starts Tcl once (the library calls it through the stub table) and
// plugs the image formats in.
void init();

// The interpreter init() started (Tcl only): for commands that need no Tk.
Tcl_Interp *interp();

// An interpreter with Tk and the package loaded, made on first use, for
// readers reached only through Tk's option tables.  It needs an X display:
// without DISPLAY the process ends with a message (scripts/fuzz.sh and the
// test command provide one).
Tcl_Interp *tkInterp();

// A private folder of the process, made on first use, for inputs that
// name other files beside them.
const std::string &folder();

// Writes the bytes to a file of that path, replacing it.
void writeFile(const std::string &path, const uint8_t *data, size_t size);

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

// Reads every line (or the first and last) of the first volumes of an
// open image.
void readImage(RAMIMG *image);

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
