// DICOM files: the element walk and header core over the bytes, then the
// whole image read as that format.
#include "fuzz/fuzz.h"
#include "raster/sniffer.h"
#include "raster/dicom.h"
#include "vesk/hash.h"

FUZZ_TARGET(dicom) {
  ImageHeader header;
  vesk::initImageHeader(&header);
  int64_t dataOffset = 0;
  const int64_t length = static_cast<int64_t>(size);
  if (Tcl_HashTable *table = vesk::readDicomElementsFromBuffer(data, length, &dataOffset)) {
    vesk::parseDicomHeader(table, dataOffset, length, &header);
    deleteDicomHashTable(table);
  }
  fuzz::readImageFile(data, size, "DICOM");
  return 0;
}
