// DICOM palettes and frame times: both read from every element table,
// whatever the photometric interpretation says, then the image read as
// that format (a palette image's entries, a multi-frame image's delay).
#include <stdlib.h>

#include "fuzz/fuzz.h"
#include "raster/dicom.h"
#include "raster/sniffer.h"
#include "vesk/hash.h"

FUZZ_TARGET(dicompalette) {
  int64_t dataOffset = 0;
  if (Tcl_HashTable *table = vesk::readDicomElementsFromBuffer(data, static_cast<int64_t>(size),
                                                              &dataOffset)) {
    unsigned char palette[256][3];
    const int count = vesk::readDicomPalette(palette, table);
    if (count < 0 || count > 256) abort();
    volatile double delay = vesk::getDicomFrameTime(table);
    (void)delay;
    deleteDicomHashTable(table);
  }
  fuzz::readImageFile(data, size, "DICOM");
  return 0;
}
