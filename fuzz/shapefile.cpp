// Shapefiles: the main file alone, the input read as an index, and the
// main file again with that index; every record is then copied out whole.
#include <vector>

#include "fuzz/fuzz.h"
#include "vector/shapefile.h"

namespace {

void walk(vesk::ShapeFile *store) {
  if (!store) return;
  for (int i = 0; i < store->count; i++)
    vesk::freeShapeRecord(vesk::copyShapeRecord(vesk::getShapeRecord(store, i)));
  vesk::freeShapeFile(store);
}

}  // namespace

FUZZ_TARGET(shapefile) {
  int status = 0;
  walk(vesk::decodeShapeFile(data, size, nullptr, "fuzz.shp", &status));
  std::vector<vesk::ShapeIndexEntry> entries;
  if (vesk::decodeShapeIndex(data, size, static_cast<int32_t>(size / 2), entries))
    walk(vesk::decodeShapeFile(data, size, &entries, "fuzz.shp", &status));
  return 0;
}
