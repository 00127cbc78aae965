/*
 * terra.cpp --
 *     Tile sets and TERRA tile files: defining an empty set, reading and
 *     writing the file, storing and handing out tiles, and the
 *     georeference of a tile.  Every count, offset and length of a file is
 *     checked against the file's size before the set is built from it.
 */
#include "vector/terra.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "core/savefile.h"
#include "core/text.h"
#include "raster/imghead.h"

namespace vesk {
namespace {

const char kTerraMagic[6] = {'T', 'E', 'R', 'R', 'A', '\0'};
constexpr int kTerraProbeSize = 56;  /* header and the first index entry */
constexpr int64_t kTerraSizeLimit = INT32_MAX;  /* sizes are int32 fields */

const char *const terraThemeNames[] = {"Photo", "Topo", "Relief"};
const char *const terraScaleNames[] = {
    "Scale1mm", "Scale2mm",  "Scale4mm",  "Scale8mm",  "Scale16mm", "Scale32mm", "Scale63mm",
    "Scale125mm", "Scale250mm", "Scale500mm", "Scale1m", "Scale2m", "Scale4m",  "Scale8m",
    "Scale16m", "Scale32m",  "Scale64m",  "Scale128m", "Scale256m", "Scale512m", "Scale1km",
    "Scale2km", "Scale4km",  "Scale8km",  "Scale16km"};
const double terraScaleMetres[] = {0.0,   0.001, 0.002, 0.004, 0.008, 0.016, 0.032,
                                   0.063, 0.125, 0.25,  0.5,   1,     2,     4,
                                   8,     16,    32,    64,    128,   256,   512,
                                   1000,  2000,  4000,  8000,  16000};
constexpr int kTerraThemeCount = sizeof terraThemeNames / sizeof terraThemeNames[0];
constexpr int kTerraScaleCount = sizeof terraScaleNames / sizeof terraScaleNames[0];
static_assert(kTerraScaleCount + 1 == sizeof terraScaleMetres / sizeof terraScaleMetres[0],
              "one ground size a scale");

int32_t terraGet(const unsigned char *p, int offset, bool swap) {
  int32_t value;
  memcpy(&value, p + offset, 4);
  return swap ? swapLong(value) : value;
}

void terraPut(unsigned char *p, int offset, int32_t value) { memcpy(p + offset, &value, 4); }

/* The numbers of a header, in host order, once they passed the checks. */
struct TerraHead {
  bool swap = false;
  int32_t total = 0, headerSize = 0, n = 0, stored = 0;
  int32_t theme = 0, scale = 0, zone = 0, groupX = 0, groupY = 0;
};

/* Header size 48 + 8 n n, or -1 when n is out of range. */
int64_t terraHeadAndIndex(int64_t n) {
  if (n < 1 || n > 0x4000) return -1;
  int64_t size = kTerraHeadSize + 8 * n * n;
  return size <= kTerraSizeLimit ? size : -1;
}

/* Tile columns and rows of the group, and the one past the last, fit an int. */
bool terraOriginFits(int64_t n, int64_t groupX, int64_t groupY) {
  auto fits = [n](int64_t g) {
    int64_t first = n * g;
    return first >= INT32_MIN && first + n <= INT32_MAX;
  };
  return fits(groupX) && fits(groupY);
}

/*
 * readTerraHead --
 *     Decodes and checks the first 56 bytes of a TERRA file of fileSize
 *     bytes: magic, index size for n, total size within the file, stored
 *     tiles within n x n.
 */
bool readTerraHead(const unsigned char *p, int64_t fileSize, TerraHead &h) {
  if (fileSize < kTerraProbeSize || memcmp(p, kTerraMagic, sizeof kTerraMagic) != 0) return false;
  h.swap = p[TERRA_MSB_FIRST] != msbFirst();
  h.total = terraGet(p, TERRA_TOTAL_SIZE, h.swap);
  h.headerSize = terraGet(p, TERRA_HEADER_SIZE, h.swap);
  h.n = terraGet(p, TERRA_GROUP, h.swap);
  h.stored = terraGet(p, TERRA_STORED, h.swap);
  h.theme = terraGet(p, TERRA_THEME, h.swap);
  h.scale = terraGet(p, TERRA_SCALE, h.swap);
  h.zone = terraGet(p, TERRA_SCENE, h.swap);
  h.groupX = terraGet(p, TERRA_GROUP_X, h.swap);
  h.groupY = terraGet(p, TERRA_GROUP_Y, h.swap);
  int64_t expected = terraHeadAndIndex(h.n);
  return expected > 0 && h.headerSize == expected && h.total >= h.headerSize &&
         h.total <= fileSize && h.stored >= 0 && h.stored <= int64_t{h.n} * h.n &&
         terraOriginFits(h.n, h.groupX, h.groupY);
}

/* Bytes of a block holding total bytes plus the reserve for missing tiles. */
int64_t terraReserve(int64_t total, int64_t missingTiles, int64_t perTile) {
  int64_t size = total + std::min(missingTiles * perTile, kTerraSizeLimit);
  return std::max(total, std::min(size, kTerraSizeLimit));
}

/* Fills the set's record fields from its image. */
void terraSetFields(TerraTileSet *set) {
  // The origin was checked to fit (terraOriginFits); the sums are still
  // made in 64 bits so that no order of evaluation can overflow.
  const int64_t n = terraField(set, TERRA_GROUP);
  const int64_t firstColumn = n * terraField(set, TERRA_GROUP_X);
  const int64_t firstRow = n * terraField(set, TERRA_GROUP_Y);
  set->firstColumn = static_cast<int>(firstColumn);
  set->firstRow = static_cast<int>(firstRow);
  set->lastColumn = static_cast<int>(firstColumn + n - 1);
  set->lastRow = static_cast<int>(firstRow + n - 1);
  set->tilesPerSet = static_cast<int>(n * n);
  char name[32];
  snprintf(name, sizeof name, "UTM%d", terraField(set, TERRA_SCENE));
  set->mapid = getMapid(name);
  set->dirty = 0;
}

/*
 * terraFinishImage --
 *     Turns a block holding a file's first total bytes into the set's
 *     image: numbers into host order, then every index entry checked to
 *     lie within the tile data.
 * Results:      1, or 0 with the block freed.
 */
int terraFinishImage(TerraTileSet *set, unsigned char *image, int64_t allocated,
                     const TerraHead &h) {
  if (h.swap) {
    for (int offset = TERRA_TOTAL_SIZE; offset < h.headerSize; offset += 4)
      terraPut(image, offset, swapLong(terraGet(image, offset, false)));
    image[TERRA_MSB_FIRST] = static_cast<unsigned char>(msbFirst());
  }
  /* Every stored tile lies within the tile data, and the count agrees. */
  int64_t good = 0;
  for (int64_t i = 0; i < int64_t{h.n} * h.n; i++) {
    int32_t offset = terraGet(image, static_cast<int>(TERRA_INDEX + 8 * i), false);
    int32_t length = terraGet(image, static_cast<int>(TERRA_INDEX + 8 * i + 4), false);
    if (length < 0 || (length > 0 && (offset < h.headerSize || int64_t{offset} + length > h.total))) {
      good = -1;
      break;
    }
    if (length > 0) good++;
  }
  if (good != h.stored) {
    free(image);
    return 0;
  }
  set->image = image;
  set->allocatedSize = allocated;
  terraSetFields(set);
  return 1;
}

/* Reads length bytes at offset; false unless all came. */
bool terraRead(int fd, unsigned char *buffer, int64_t length, off_t offset) {
  while (length > 0) {
    ssize_t got = pread(fd, buffer, static_cast<size_t>(std::min<int64_t>(length, 1 << 30)), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got;
    length -= got;
    offset += got;
  }
  return true;
}

bool terraWrite(int fd, const unsigned char *buffer, int64_t length) {
  while (length > 0) {
    ssize_t put = write(fd, buffer, static_cast<size_t>(std::min<int64_t>(length, 1 << 30)));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    buffer += put;
    length -= put;
  }
  return true;
}

}  // namespace

int32_t terraField(const TerraTileSet *set, int offset) {
  return set && set->image ? terraGet(set->image, offset, false) : 0;
}

int terraThemeFromName(const char *name) {
  for (int i = 0; name && i < kTerraThemeCount; i++)
    if (strcmp(name, terraThemeNames[i]) == 0) return i + 1;
  return 0;
}

int terraScaleFromName(const char *name) {
  for (int i = 0; name && i < kTerraScaleCount; i++)
    if (strcmp(name, terraScaleNames[i]) == 0) return i + 1;
  return 0;
}

const char *terraThemeName(int theme) {
  return theme >= 1 && theme <= kTerraThemeCount ? terraThemeNames[theme - 1] : "";
}

const char *terraScaleName(int scale) {
  return scale >= 1 && scale <= kTerraScaleCount ? terraScaleNames[scale - 1] : "";
}

double terraMetresPerPixel(int scale) {
  return scale >= 1 && scale <= kTerraScaleCount ? terraScaleMetres[scale] : 0.0;
}

/*
 * defineTerraSet --
 *     An empty set of n x n tiles with its group origin, 10240 bytes
 *     reserved for each tile.
 * Results:      1, or 0 when n or the origin are out of range or the
 *               image cannot be allocated (the set is left as it was).
 */
int defineTerraSet(TerraTileSet *set, int theme, int scale, int zone, int n, int groupX,
                   int groupY) {
  int64_t headerSize = terraHeadAndIndex(n);
  if (headerSize < 0 || !terraOriginFits(n, groupX, groupY)) return 0;
  int64_t allocated = terraReserve(headerSize, int64_t{n} * n, kTerraTileReserve);
  unsigned char *image = static_cast<unsigned char *>(malloc(static_cast<size_t>(allocated)));
  if (!image) return 0;
  memset(image, 0, static_cast<size_t>(headerSize));
  memcpy(image, kTerraMagic, sizeof kTerraMagic);
  image[TERRA_MSB_FIRST] = static_cast<unsigned char>(msbFirst());
  terraPut(image, TERRA_TOTAL_SIZE, static_cast<int32_t>(headerSize));
  terraPut(image, TERRA_HEADER_SIZE, static_cast<int32_t>(headerSize));
  terraPut(image, TERRA_GROUP, n);
  terraPut(image, TERRA_THEME, theme);
  terraPut(image, TERRA_SCALE, scale);
  terraPut(image, TERRA_SCENE, zone);
  terraPut(image, TERRA_GROUP_X, groupX);
  terraPut(image, TERRA_GROUP_Y, groupY);
  closeTerraSet(set);
  set->path.clear();
  set->image = image;
  set->allocatedSize = allocated;
  terraSetFields(set);
  return 1;
}

/*
 * openTerraBytes --
 *     A set from the bytes of a TERRA file held in memory (no file stays
 *     open).
 * Results:      1, or 0 for a short or corrupt file or exhausted memory.
 */
int openTerraBytes(const unsigned char *bytes, int64_t size, TerraTileSet *set) {
  TerraHead h;
  if (!bytes || !readTerraHead(bytes, size, h)) return 0;
  int64_t allocated = terraReserve(h.total, int64_t{h.n} * h.n - h.stored, kTerraTileReserve);
  unsigned char *image = static_cast<unsigned char *>(malloc(static_cast<size_t>(allocated)));
  if (!image) return 0;
  memcpy(image, bytes, static_cast<size_t>(h.total));
  TerraTileSet fresh;
  if (!terraFinishImage(&fresh, image, allocated, h)) return 0;
  closeTerraSet(set);
  *set = fresh;
  return 1;
}

/*
 * openTerraFile --
 *     Reads a TERRA file whole into a set; the file stays open in the set
 *     (read-write, or read-only when it may not be written).
 * Results:      1, or 0 for a missing, short or corrupt file or exhausted
 *               memory (the file is closed, the set left as it was).
 */
int openTerraFile(const char *path, TerraTileSet *set) {
  int fd = open(path, O_RDWR);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) fd = open(path, O_RDONLY);
  if (fd < 0) return 0;
  struct stat info;
  unsigned char probe[kTerraProbeSize];
  TerraHead h;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      !terraRead(fd, probe, kTerraProbeSize, 0) || !readTerraHead(probe, info.st_size, h)) {
    close(fd);
    return 0;
  }
  int64_t allocated = terraReserve(h.total, int64_t{h.n} * h.n - h.stored, kTerraTileReserve);
  unsigned char *image = static_cast<unsigned char *>(malloc(static_cast<size_t>(allocated)));
  if (!image || !terraRead(fd, image, h.total, 0) ||
      memcmp(image, probe, kTerraProbeSize) != 0) {
    free(image);
    close(fd);
    return 0;
  }
  TerraTileSet fresh;
  if (!terraFinishImage(&fresh, image, allocated, h)) {
    close(fd);
    return 0;
  }
  closeTerraSet(set);
  *set = fresh;
  set->path = path;
  set->fd = fd;
  return 1;
}

/*
 * saveTerraFile --
 *     Writes the set's header, index and tiles (host order, byte 8 saying
 *     so) to a file beside path, then renames it over path.
 * Results:      1 when the whole file was written and put in place; else
 *               0 and an existing file at path is untouched.
 */
int saveTerraFile(const char *path, TerraTileSet *set) {
  if (!path || !*path || !set || !set->image) return 0;
  SaveFile file;
  if (file.open(path) && !terraWrite(file.fd(), set->image, terraField(set, TERRA_TOTAL_SIZE)))
    file.fail(errno);
  return file.commit() ? 1 : 0;
}

/* closeTerraSet -- frees the image and closes an open file. */
void closeTerraSet(TerraTileSet *set) {
  if (!set) return;
  free(set->image);
  set->image = nullptr;
  set->allocatedSize = 0;
  if (set->fd >= 0) close(set->fd);
  set->fd = -1;
}

/*
 * cloneTerraSet --
 *     A copy of a set's record and whole image block, with no file open.
 * Results:      1, or 0 when memory runs out.
 */
int cloneTerraSet(const TerraTileSet *from, TerraTileSet *to) {
  if (!from || !from->image) return 0;
  unsigned char *image = static_cast<unsigned char *>(malloc(static_cast<size_t>(from->allocatedSize)));
  if (!image) return 0;
  memcpy(image, from->image, static_cast<size_t>(terraField(from, TERRA_TOTAL_SIZE)));
  closeTerraSet(to);
  *to = *from;
  to->fd = -1;
  to->image = image;
  return 1;
}

/*
 * getTileData --
 *     The bytes of tile i inside the set's image, not copied.  They move
 *     when a later putTileData grows the image.
 * Results:      their address and *length, or NULL (length not set) when
 *               the tile is not stored or i is not an index of the set.
 */
unsigned char *getTileData(TerraTileSet *set, int i, int *length) {
  if (!set || !set->image || i < 0 || i >= set->tilesPerSet) return nullptr;
  int32_t offset = terraField(set, TERRA_INDEX + 8 * i);
  int32_t size = terraField(set, TERRA_INDEX + 8 * i + 4);
  if (size <= 0) return nullptr;
  if (length) *length = size;
  return set->image + offset;
}

/*
 * putTileData --
 *     Appends the bytes of tile i to the set.  When the reserve is used up
 *     the image grows by this tile's size for every missing tile.
 * Results:      1, or 0 when the tile is stored already, i or the length
 *               are out of range, or memory runs out (the set unchanged).
 * Side effects: the set is marked dirty.
 */
int putTileData(TerraTileSet *set, int i, const unsigned char *bytes, int length) {
  if (!set || !set->image || !bytes || length <= 0 || i < 0 || i >= set->tilesPerSet) return 0;
  if (terraField(set, TERRA_INDEX + 8 * i + 4) > 0) return 0;
  int64_t total = terraField(set, TERRA_TOTAL_SIZE);
  if (total + length > kTerraSizeLimit) return 0;
  if (set->allocatedSize < total + length) {
    /* The bytes may lie in this very image: take them before it moves. */
    std::string copy;
    if (bytes >= set->image && bytes < set->image + set->allocatedSize) {
      copy.assign(reinterpret_cast<const char *>(bytes), static_cast<size_t>(length));
    }
    int64_t missing = set->tilesPerSet - terraField(set, TERRA_STORED);
    int64_t grown = std::max(total + length,
                             terraReserve(set->allocatedSize, missing, length));
    unsigned char *image =
        static_cast<unsigned char *>(realloc(set->image, static_cast<size_t>(grown)));
    if (!image) return 0;
    set->image = image;
    set->allocatedSize = grown;
    if (!copy.empty()) bytes = reinterpret_cast<const unsigned char *>(copy.data());
    memcpy(set->image + total, bytes, static_cast<size_t>(length));
  } else {
    memmove(set->image + total, bytes, static_cast<size_t>(length));
  }
  terraPut(set->image, TERRA_INDEX + 8 * i, static_cast<int32_t>(total));
  terraPut(set->image, TERRA_INDEX + 8 * i + 4, length);
  terraPut(set->image, TERRA_TOTAL_SIZE, static_cast<int32_t>(total + length));
  terraPut(set->image, TERRA_STORED, terraField(set, TERRA_STORED) + 1);
  set->dirty = 1;
  return 1;
}

/* getTileIndex -- index of global tile (column, row), -1 outside the set. */
int getTileIndex(const TerraTileSet *set, int column, int row) {
  if (!set || !set->image || column < set->firstColumn || column > set->lastColumn ||
      row < set->firstRow || row > set->lastRow)
    return -1;
  int n = terraField(set, TERRA_GROUP);
  return (column - set->firstColumn) + n * (row - set->firstRow);
}

/* getTilePosition -- global column and row of tile i; 0 outside the set. */
int getTilePosition(const TerraTileSet *set, int i, int *column, int *row) {
  if (!set || !set->image || i < 0 || i >= set->tilesPerSet) return 0;
  int n = terraField(set, TERRA_GROUP);
  *column = set->firstColumn + i % n;
  *row = set->firstRow + i / n;
  return 1;
}

/*
 * setTileImageHead --
 *     Georeferences a 200 x 200 tile image: pixel size of the set's scale,
 *     origin at the tile's top left corner in UTM metres, the set's map id.
 */
void setTileImageHead(const TerraTileSet *set, int i, ImageHeader *header) {
  int column = 0, row = 0;
  if (!header || !getTilePosition(set, i, &column, &row)) return;
  double d = terraMetresPerPixel(terraField(set, TERRA_SCALE));
  header->dx = header->dy = d;
  header->x0 = static_cast<double>(column) * kTerraTilePixels * d;
  header->y0 = (static_cast<double>(row) * kTerraTilePixels + kTerraTilePixels - 1) * d;
  header->mapid = set->mapid;
}

/* setSetImageHead -- the same georeference for the whole set as one image. */
void setSetImageHead(const TerraTileSet *set, ImageHeader *header) {
  if (!set || !set->image || !header) return;
  double d = terraMetresPerPixel(terraField(set, TERRA_SCALE));
  header->dx = header->dy = d;
  header->x0 = static_cast<double>(set->firstColumn) * kTerraTilePixels * d;
  header->y0 = (static_cast<double>(set->lastRow) * kTerraTilePixels + kTerraTilePixels - 1) * d;
  header->mapid = set->mapid;
}

/*
 * readTileFromFile --
 *     Reads tile i's bytes from the set's open file, at the offset its
 *     index entry gives.
 * Results:      a malloc'd copy (freed with free) and *length, or NULL
 *     when the set has no open file, the tile is not stored or not all of
 *     its bytes are in the file.
 */
unsigned char *readTileFromFile(const TerraTileSet *set, int i, int *length) {
  if (!set || !set->image || set->fd < 0 || i < 0 || i >= set->tilesPerSet) return nullptr;
  const int32_t offset = terraField(set, TERRA_INDEX + 8 * i);
  const int32_t size = terraField(set, TERRA_INDEX + 8 * i + 4);
  if (size <= 0) return nullptr;
  unsigned char *bytes = static_cast<unsigned char *>(malloc(static_cast<size_t>(size)));
  if (!bytes) return nullptr;
  if (!terraRead(set->fd, bytes, size, offset)) {
    free(bytes);
    return nullptr;
  }
  if (length) *length = size;
  return bytes;
}

/*
 * appendTileToFile --
 *     Stores tile i in the set and in its open file: the bytes are
 *     written after the file's tile data, then the header and index are
 *     rewritten at offset 0 (in host order, byte 8 saying so).  A set
 *     holding tiles its file lacks (dirty) is refused: its index would
 *     point into bytes the file does not have.
 * Results:      1; 0 when there is no open file, the set is dirty, the
 *     tile is stored already, memory runs out or a write fails (the file
 *     then keeps its old header and stays readable).
 */
int appendTileToFile(TerraTileSet *set, int i, const unsigned char *bytes, int length) {
  if (!set || !set->image || set->fd < 0 || set->dirty || !bytes || length <= 0 || i < 0 ||
      i >= set->tilesPerSet || terraField(set, TERRA_INDEX + 8 * i + 4) > 0)
    return 0;
  const int64_t total = terraField(set, TERRA_TOTAL_SIZE);
  if (total + length > kTerraSizeLimit) return 0;
  if (lseek(set->fd, static_cast<off_t>(total), SEEK_SET) < 0) return 0;
  if (!terraWrite(set->fd, bytes, length)) {
    /* A full disk: the file gives back the part of the tile it took. */
    if (ftruncate(set->fd, static_cast<off_t>(total)) != 0) {
      /* The bytes past its total size are never read. */
    }
    return 0;
  }
  if (!putTileData(set, i, bytes, length)) return 0;
  const int32_t headerSize = terraField(set, TERRA_HEADER_SIZE);
  if (lseek(set->fd, 0, SEEK_SET) < 0 || !terraWrite(set->fd, set->image, headerSize)) return 0;
  set->dirty = 0;
  return 1;
}

}  // namespace vesk
