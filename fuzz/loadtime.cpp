// "calc loadtime": the 4-byte time stamps of a file from an offset (the
// first byte picks it); the list holds one number a whole stamp.
#include <stdlib.h>
#include <tcl.h>

#include <string>

#include "core/calc.h"
#include "fuzz/fuzz.h"

FUZZ_TARGET(loadtime) {
  if (size < 1) return 0;
  const long offset = static_cast<long>(data[0] % 12) - 2;
  const size_t length = size - 1;
  fuzz::MemFile file(data + 1, length);
  const std::string offsetText = std::to_string(offset);
  const char *argv[] = {"calc", "loadtime", file.path(), offsetText.c_str()};
  Tcl_Interp *interp = fuzz::interp();
  if (vesk::calcLoadtime(interp, 4, argv) == TCL_OK) {
    int count = 0;
    const char **words = nullptr;
    if (Tcl_SplitList(interp, Tcl_GetStringResult(interp), &count, &words) != TCL_OK) abort();
    Tcl_Free(reinterpret_cast<char *>(words));
    const size_t from = offset > 0 ? static_cast<size_t>(offset) : 0;
    if (static_cast<size_t>(count) != (length > from ? (length - from) / 4 : 0)) abort();
  }
  Tcl_ResetResult(interp);
  return 0;
}
