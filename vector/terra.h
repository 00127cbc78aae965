/*
 * terra.h --
 *     Tile sets: one square group of n x n map tiles of one theme and
 *     scale in one UTM zone, each tile a whole JPEG or GIF file held as
 *     opaque bytes.  On disk a set is a TERRA file (a 48-byte header, an
 *     index of n x n entries of offset and length, then the tiles); in
 *     memory it is the same layout in one block, in host byte order, with
 *     room reserved for the missing tiles.
 */
#ifndef VESK_VECTOR_TERRA_H
#define VESK_VECTOR_TERRA_H

#include <stdint.h>

#include <string>

#include "vesk/ramimg.h"

namespace vesk {

/* Byte offsets of the fields of a TERRA header. */
enum TerraHeaderField {
  TERRA_MSB_FIRST = 8,     /* one byte: 1 when the numbers are MSB first */
  TERRA_TOTAL_SIZE = 12,   /* header, index and tile data */
  TERRA_HEADER_SIZE = 16,  /* 48 + 8 n n */
  TERRA_GROUP = 20,        /* n, tiles per side */
  TERRA_STORED = 24,       /* stored tiles */
  TERRA_THEME = 28,
  TERRA_SCALE = 32,
  TERRA_SCENE = 36,        /* UTM zone */
  TERRA_GROUP_X = 40,      /* column origin in groups */
  TERRA_GROUP_Y = 44,      /* row origin in groups */
  TERRA_INDEX = 48         /* n n entries of int32 offset, int32 length */
};

constexpr int kTerraHeadSize = 48;
constexpr int kTerraTilePixels = 200;    /* tiles are 200 x 200 pixels */
constexpr int64_t kTerraTileReserve = 10240;

struct TerraTileSet {
  std::string path;         /* file it was read from; empty for a defined set */
  int fd = -1;              /* -1 when no file is open */
  int64_t allocatedSize = 0;  /* bytes of the image block */
  int dirty = 0;            /* 1 once a tile was stored */
  int firstColumn = 0, firstRow = 0, lastColumn = 0, lastRow = 0;
  int tilesPerSet = 0;      /* n x n: valid tile indices are 0..tilesPerSet-1 */
  int mapid = 0;            /* map id of "UTM<zone>" */
  unsigned char *image = nullptr;  /* the TERRA layout, malloc'd, host order */
};

/* A 32-bit field of the set's image, by byte offset. */
int32_t terraField(const TerraTileSet *set, int offset);

int terraThemeFromName(const char *name);
int terraScaleFromName(const char *name);
const char *terraThemeName(int theme);   /* "" outside 1..3 */
const char *terraScaleName(int scale);   /* "" outside 1..25 */
double terraMetresPerPixel(int scale);   /* 0.0 outside 1..25 */

int defineTerraSet(TerraTileSet *set, int theme, int scale, int zone, int n, int groupX,
                   int groupY);
int openTerraFile(const char *path, TerraTileSet *set);
int openTerraBytes(const unsigned char *bytes, int64_t size, TerraTileSet *set);
int saveTerraFile(const char *path, TerraTileSet *set);
void closeTerraSet(TerraTileSet *set);
int cloneTerraSet(const TerraTileSet *from, TerraTileSet *to);

unsigned char *getTileData(TerraTileSet *set, int i, int *length);
int putTileData(TerraTileSet *set, int i, const unsigned char *bytes, int length);
int getTileIndex(const TerraTileSet *set, int column, int row);
int getTilePosition(const TerraTileSet *set, int i, int *column, int *row);
void setTileImageHead(const TerraTileSet *set, int i, ImageHeader *header);
void setSetImageHead(const TerraTileSet *set, ImageHeader *header);
unsigned char *readTileFromFile(const TerraTileSet *set, int i, int *length);
int appendTileToFile(TerraTileSet *set, int i, const unsigned char *bytes, int length);

}  // namespace vesk

#endif
