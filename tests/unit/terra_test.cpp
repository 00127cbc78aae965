// Tile sets: tiles read from and appended to a set's open file.
#include "vector/terra.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "raster/imghead.h"
#include "tests/unit/raster_files.h"

using namespace vesk;

namespace {

std::vector<unsigned char> tileBytes(int seed, int length) {
  std::vector<unsigned char> bytes(static_cast<size_t>(length));
  for (int k = 0; k < length; k++) bytes[static_cast<size_t>(k)] = static_cast<unsigned char>(seed + 7 * k);
  return bytes;
}

std::vector<unsigned char> taken(unsigned char *bytes, int length) {
  std::vector<unsigned char> copy(bytes, bytes + length);
  free(bytes);
  return copy;
}

TEST(TerraFile, TilesAppendedToTheOpenFileReadBack) {
  const std::string path = rastertest::tempPath("append.terra");
  TerraTileSet made;
  ASSERT_EQ(defineTerraSet(&made, 1, 21, 33, 2, 3, 5), 1);
  const std::vector<unsigned char> first = tileBytes(1, 300);
  ASSERT_EQ(putTileData(&made, 2, first.data(), 300), 1);
  ASSERT_EQ(saveTerraFile(path.c_str(), &made), 1);
  // A defined set has no file to read from or append to.
  EXPECT_EQ(readTileFromFile(&made, 2, nullptr), nullptr);
  EXPECT_EQ(appendTileToFile(&made, 1, first.data(), 300), 0);
  closeTerraSet(&made);

  TerraTileSet set;
  ASSERT_EQ(openTerraFile(path.c_str(), &set), 1);
  int length = 0;
  unsigned char *bytes = readTileFromFile(&set, 2, &length);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(taken(bytes, length), first);
  EXPECT_EQ(readTileFromFile(&set, 0, &length), nullptr);  // not stored
  EXPECT_EQ(readTileFromFile(&set, 4, &length), nullptr);  // not an index of the set

  // Larger than the reserve: the image grows, the file takes the bytes.
  const std::vector<unsigned char> second = tileBytes(9, 20000);
  EXPECT_EQ(appendTileToFile(&set, 1, second.data(), 20000), 1);
  EXPECT_EQ(set.dirty, 0);
  EXPECT_EQ(appendTileToFile(&set, 1, second.data(), 20000), 0);  // stored already
  bytes = readTileFromFile(&set, 1, &length);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(taken(bytes, length), second);
  closeTerraSet(&set);

  // The file alone, opened again, holds both tiles and their count.
  ASSERT_EQ(openTerraFile(path.c_str(), &set), 1);
  EXPECT_EQ(terraField(&set, TERRA_STORED), 2);
  EXPECT_EQ(terraField(&set, TERRA_TOTAL_SIZE), 48 + 8 * 4 + 300 + 20000);
  for (int i : {1, 2}) {
    unsigned char *data = getTileData(&set, i, &length);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(data, data + length), i == 1 ? second : first);
  }
  // A tile stored only in memory makes the set dirty: appending is then
  // refused, the file keeps what it had.
  ASSERT_EQ(putTileData(&set, 0, first.data(), 300), 1);
  EXPECT_EQ(appendTileToFile(&set, 3, first.data(), 300), 0);
  closeTerraSet(&set);
  ASSERT_EQ(openTerraFile(path.c_str(), &set), 1);
  EXPECT_EQ(terraField(&set, TERRA_STORED), 2);
  closeTerraSet(&set);
}

}  // namespace

TEST(TerraFile, WholeSetGeoreference) {
  // n = 2 at group (3, 5): columns 6..7, rows 10..11; Scale1km.
  TerraTileSet set;
  ASSERT_EQ(defineTerraSet(&set, 1, 21, 33, 2, 3, 5), 1);
  ImageHeader whole, tile;
  initImageHeader(&whole);
  initImageHeader(&tile);
  setSetImageHead(&set, &whole);
  setTileImageHead(&set, 2, &tile);  // column 6, row 11: the set's lower-left tile
  EXPECT_EQ(whole.dx, 1000);
  EXPECT_EQ(whole.dy, 1000);
  EXPECT_EQ(whole.x0, 6 * 200 * 1000.0);
  EXPECT_EQ(whole.y0, (11 * 200 + 199) * 1000.0);
  EXPECT_EQ(whole.x0, tile.x0);
  EXPECT_EQ(whole.y0, tile.y0);
  EXPECT_EQ(whole.mapid, set.mapid);
  closeTerraSet(&set);
  // No set image: the header is left alone.
  ImageHeader untouched;
  initImageHeader(&untouched);
  untouched.x0 = 7;
  setSetImageHead(&set, &untouched);
  EXPECT_EQ(untouched.x0, 7);
}
