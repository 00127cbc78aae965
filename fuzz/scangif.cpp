// "calc scangif": the GIF block walk that prints a file's structure.
#include <tcl.h>

#include "raster/gif.h"
#include "fuzz/fuzz.h"

FUZZ_TARGET(scangif) {
  fuzz::MemFile file(data, size);
  const char *argv[] = {"calc", "scangif", file.path()};
  vesk::calcScangif(fuzz::interp(), 3, argv);
  Tcl_ResetResult(fuzz::interp());
  return 0;
}
