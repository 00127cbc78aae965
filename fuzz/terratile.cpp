// TERRA tiles read: the set from its bytes and from a file, then each
// stored tile (the first few) decoded as "rimage open TAG binary OBJECT
// TILE" decodes it: the JPEG or GIF head from the bytes, the tile's place,
// and the image read from memory.
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "fuzz/fuzz.h"
#include "processing/rimage.h"
#include "raster/ramimg.h"
#include "vector/terra.h"

namespace {

constexpr int kMaxTiles = 4;
// A tile claiming more samples than this has its head read only: decoding
// it whole would only measure the memory limit.
constexpr int64_t kMaxTileSamples = int64_t{1} << 24;

void readTile(vesk::TerraTileSet *set, int index, const unsigned char *tile, int length) {
  unsigned char *copy = static_cast<unsigned char *>(malloc(static_cast<size_t>(length)));
  if (!copy) abort();
  memcpy(copy, tile, static_cast<size_t>(length));
  ImageHeader h;
  vesk::initImageHeader(&h);
  if (!vesk::readImageBytesHeader(copy, length, &h)) {
    free(copy);
    return;
  }
  vesk::setTileImageHead(set, index, &h);
  if (int64_t{h.rows} * h.columns * std::max(h.nbands, 1) > kMaxTileSamples) {
    free(copy);
    return;
  }
  int err = 0;
  RAMIMG *image = vesk::openRAMImage("@fztile", nullptr, &h, nullptr, &err);
  if (!image) {
    free(copy);
    return;
  }
  if (!vesk::setRAMImageMemData(image, copy, length)) free(copy);
  fuzz::readImage(image);
  vesk::closeRAMImage(image, nullptr);
}

}  // namespace

FUZZ_TARGET(terratile) {
  vesk::TerraTileSet set;
  if (vesk::openTerraBytes(data, static_cast<int64_t>(size), &set) > 0) {
    for (int i = 0, read = 0; i < set.tilesPerSet && read < kMaxTiles; i++) {
      int length = 0;
      const unsigned char *tile = vesk::getTileData(&set, i, &length);
      if (!tile || length <= 0) continue;
      readTile(&set, i, tile, length);
      read++;
    }
  }
  vesk::closeTerraSet(&set);
  // The same set from a file: its tiles read from the file.
  fuzz::MemFile file(data, size);
  vesk::TerraTileSet fromFile;
  if (vesk::openTerraFile(file.path(), &fromFile) > 0) {
    for (int i = 0, read = 0; i < fromFile.tilesPerSet && read < kMaxTiles; i++) {
      int length = 0;
      unsigned char *tile = vesk::readTileFromFile(&fromFile, i, &length);
      if (!tile) continue;
      if (length > 0) {
        readTile(&fromFile, i, tile, length);
        read++;
      }
      free(tile);
    }
  }
  vesk::closeTerraSet(&fromFile);
  return 0;
}
