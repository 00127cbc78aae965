// TERRA tile files read from their bytes.
#include "fuzz/fuzz.h"
#include "vector/terra.h"

FUZZ_TARGET(terra) {
  vesk::TerraTileSet set;
  if (vesk::openTerraBytes(data, static_cast<int64_t>(size), &set) > 0) {
    vesk::TerraTileSet copy;
    if (vesk::cloneTerraSet(&set, &copy) > 0) vesk::closeTerraSet(&copy);
  }
  vesk::closeTerraSet(&set);
  return 0;
}
