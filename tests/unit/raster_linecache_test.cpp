// The line cache: loads and write-backs by layout class, byte order,
// resident mode, short files and cache sizing.  Images here are opened
// and freed directly, without the registry.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <algorithm>
#include <string>
#include <vector>

#include "raster/pixels.h"
#include "raster/ramimg.h"
#include "tests/unit/raster_files.h"

using namespace vesk;
using namespace rastertest;

namespace {

struct Layout {
  const char *name;
  int imgid;
  int pixelid;
  int nbands;
  int64_t block;  // bytes of one stored record, padding included
};

const int kRows = 7, kColumns = 5;
const int64_t kOffset = 40;

int sampleSize(int pixelid) { return pixelid == P_SHORT || pixelid == P_USHORT ? 2 : 1; }

// Where byte k of sample (row, band, column) lives in the file, worked out
// from the layout definitions alone.
int64_t fileOffset(const Layout &l, int row, int band, int column, int k) {
  const int s = sampleSize(l.pixelid);
  switch (l.imgid) {
  case IMG_BSQ: return kOffset + (int64_t{band} * kRows + row) * l.block + column * s + k;
  case IMG_BIL: return kOffset + (int64_t{row} * l.nbands + band) * l.block + column * s + k;
  case IMG_BIP: return kOffset + int64_t{row} * l.block + (column * l.nbands + band) * s + k;
  case IMG_DIB: return kOffset + int64_t{kRows - 1 - row} * l.block + column * l.nbands + band;
  }
  return -1;
}

int64_t recordsOf(const Layout &l) {
  const bool perLine = l.imgid == IMG_BSQ || l.imgid == IMG_BIL;
  return l.block * kRows * (perLine ? l.nbands : 1);
}

unsigned char newValue(int row, int band, int64_t j) {
  return static_cast<unsigned char>(row * 31 + band * 7 + j * 3 + 1);
}

RAMIMG *openRaw(const std::string &path, const ImageHeader &header) {
  int err = -1;
  RAMIMG *image = openRAMImageFile(path.c_str(), &header, nullptr, &err);
  EXPECT_NE(image, nullptr);
  EXPECT_EQ(err, 0);
  return image;
}

}  // namespace

// Every layout class reads each sample from its own file position and
// writes it back there, through a cache of two rows so that slots are
// reused; bytes outside the pixels (header, padding, trailer) stay.
TEST(LineCache, RoundTripByLayoutClass) {
  const Layout layouts[] = {
      {"BSQ short", IMG_BSQ, P_SHORT, 2, 10},
      {"BSQ padded", IMG_BSQ, P_BYTE, 2, 8},
      {"BIL", IMG_BIL, P_BYTE, 3, 5},
      {"BIL padded", IMG_BIL, P_BYTE, 3, 8},
      {"BIP", IMG_BIP, P_BYTE, 3, 15},
      {"BIP short padded", IMG_BIP, P_SHORT, 2, 24},
      {"BIP one band", IMG_BIP, P_BYTE, 1, 5},
      {"DIB", IMG_DIB, P_BYTE, 3, 16},
      {"DIB one band", IMG_DIB, P_BYTE, 1, 8},
  };
  int seed = 1;
  for (const Layout &l : layouts) {
    SCOPED_TRACE(l.name);
    const std::string path = tempPath(std::string("layout-") + std::to_string(seed) + ".raw");
    std::vector<unsigned char> file = noise(static_cast<size_t>(kOffset + recordsOf(l) + 16), seed++);
    writeFile(path, file);
    ImageHeader header = rawHeader(path, l.imgid, l.pixelid, kRows, kColumns, l.nbands, kOffset,
                                   l.block);
    RAMIMG *image = openRaw(path, header);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(setRAMImageBuf(image, 2), 2);
    const int s = sampleSize(l.pixelid);

    for (int i = 0; i < kRows; i++) {
      const int row = (i * 3) % kRows;
      for (int band = l.nbands - 1; band >= 0; band--) {
        const unsigned char *line = getRAMImageLine(image, row, band, 1);
        ASSERT_NE(line, nullptr);
        for (int c = 0; c < kColumns; c++)
          for (int k = 0; k < s; k++)
            ASSERT_EQ(line[c * s + k], file[fileOffset(l, row, band, c, k)])
                << "row " << row << " band " << band << " column " << c;
      }
    }

    std::vector<unsigned char> expected = file;
    for (int i = 0; i < kRows; i++) {
      const int row = (i * 5) % kRows;
      for (int band = 0; band < l.nbands; band++) {
        unsigned char *line = getRAMImageLine(image, row, band, 1);
        ASSERT_NE(line, nullptr);
        for (int c = 0; c < kColumns; c++)
          for (int k = 0; k < s; k++) {
            line[c * s + k] = newValue(row, band, c * s + k);
            expected[fileOffset(l, row, band, c, k)] = newValue(row, band, c * s + k);
          }
        setRAMImageDirty(image, row, band);
      }
    }
    flushRAMImage(image);
    freeRAMImage(image);
    EXPECT_EQ(readFile(path), expected);
  }
}

// A 3-band BIP image: one read brings every band of the row; a dirty row
// is written back whole when another row takes its slots.
TEST(LineCache, InterleavedRowsMoveTogether) {
  const std::string path = tempPath("bip3.raw");
  std::vector<unsigned char> file = noise(kOffset + 15 * 8, 77);
  writeFile(path, file);
  RAMIMG *image = openRaw(path, rawHeader(path, IMG_BIP, P_BYTE, 8, 5, 3, kOffset, 15));
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(setRAMImageBuf(image, 2), 2);
  unsigned char *line = getRAMImageLine(image, 5, 0, 1);
  ASSERT_NE(line, nullptr);
  EXPECT_NE(getCachedLine(image, 5, 1), nullptr);
  EXPECT_NE(getCachedLine(image, 5, 2), nullptr);
  EXPECT_EQ(getCachedLine(image, 6, 0), nullptr);

  line[0] = static_cast<unsigned char>(file[kOffset + 5 * 15] ^ 0xff);
  setRAMImageDirty(image, 5, 0);
  ASSERT_NE(getRAMImageLine(image, 7, 1, 1), nullptr);  // row 7 takes row 5's slots
  std::vector<unsigned char> now = readFile(path);
  EXPECT_EQ(now[kOffset + 5 * 15], file[kOffset + 5 * 15] ^ 0xff);
  now[kOffset + 5 * 15] = file[kOffset + 5 * 15];
  EXPECT_EQ(now, file);
  freeRAMImage(image);
}

// A most-significant-first SHORT file: host order in the cache, file
// order on disk, and the cached line stays in host order after write-back.
TEST(LineCache, MsbfShortIsHostOrderInCache) {
  const std::string path = tempPath("msbf.raw");
  std::vector<unsigned char> file;
  const int16_t values[] = {1, -2, 300, -32768, 32767, 0x1234};
  for (int16_t v : values) {
    file.push_back(static_cast<unsigned char>(static_cast<uint16_t>(v) >> 8));
    file.push_back(static_cast<unsigned char>(v & 0xff));
  }
  writeFile(path, file);
  ImageHeader header = rawHeader(path, IMG_BIL, P_SHORT, 2, 3, 1, 0, 6);
  header.msbf = 1;
  RAMIMG *image = openRaw(path, header);
  ASSERT_NE(image, nullptr);
  int16_t *line = reinterpret_cast<int16_t *>(getRAMImageLine(image, 0, 0, 1));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line[0], 1);
  EXPECT_EQ(line[1], -2);
  EXPECT_EQ(line[2], 300);
  line[0] = 0x0102;
  setRAMImageDirty(image, 0, 0);
  flushRAMImage(image);
  EXPECT_EQ(line[0], 0x0102);
  EXPECT_EQ(line[1], -2);
  std::vector<unsigned char> expected = file;
  expected[0] = 0x01;
  expected[1] = 0x02;
  EXPECT_EQ(readFile(path), expected);
  int16_t *second = reinterpret_cast<int16_t *>(getRAMImageLine(image, 1, 0, 1));
  EXPECT_EQ(second[0], -32768);
  EXPECT_EQ(second[2], 0x1234);
  freeRAMImage(image);
}

// A resident image closes its file: writes and flushes leave it as it was.
TEST(LineCache, ResidentImageLeavesFileUnchanged) {
  const std::string path = tempPath("resident.raw");
  std::vector<unsigned char> file = noise(kOffset + 3 * 5 * 6, 5);
  writeFile(path, file);
  RAMIMG *image = openRaw(path, rawHeader(path, IMG_BIL, P_BYTE, 6, 5, 3, kOffset, 5));
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(setRAMImageResident(image, 1), 1);
  EXPECT_EQ(image->fd, -1);
  EXPECT_EQ(image->cachedRows, 6);
  for (int row = 0; row < 6; row++)
    for (int band = 0; band < 3; band++) {
      unsigned char *line = getRAMImageLine(image, row, band, 1);
      ASSERT_NE(line, nullptr);
      EXPECT_EQ(line[2], file[kOffset + (row * 3 + band) * 5 + 2]);
      memset(line, 0xee, 5);
      setRAMImageDirty(image, row, band);
    }
  flushRAMImage(image);
  EXPECT_EQ(readFile(path), file);
  // Off again: the file is reopened and later write-backs reach it.
  ASSERT_EQ(setRAMImageResident(image, 0), 1);
  EXPECT_GE(image->fd, 0);
  setRAMImageDirty(image, 0, 0);
  flushRAMImage(image);
  EXPECT_EQ(readFile(path)[kOffset], 0xee);
  freeRAMImage(image);
}

// A file shorter than its header says reads zeros past its end, also into
// slots that held other rows before.
TEST(LineCache, TruncatedFileReadsZeros) {
  const std::string path = tempPath("short.raw");
  std::vector<unsigned char> file = noise(10 + 8 * 3 + 5, 9);  // rows 0-2 and 5 bytes of row 3
  for (auto &b : file) b |= 1;                                 // no zero bytes in the data
  writeFile(path, file);
  RAMIMG *image = openRaw(path, rawHeader(path, IMG_BIL, P_BYTE, 6, 8, 1, 10, 8));
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(setRAMImageBuf(image, 1), 1);
  ASSERT_NE(getRAMImageLine(image, 0, 0, 1), nullptr);
  const unsigned char *line = getRAMImageLine(image, 3, 0, 1);
  ASSERT_NE(line, nullptr);
  for (int c = 0; c < 8; c++) EXPECT_EQ(line[c], c < 5 ? file[10 + 24 + c] : 0) << c;
  line = getRAMImageLine(image, 5, 0, 1);
  for (int c = 0; c < 8; c++) EXPECT_EQ(line[c], 0) << c;
  freeRAMImage(image);
}

// Pixel-interleaved records shorter than a row of all bands are widened,
// and cache sizes are computed in 64 bits.
TEST(LineCache, BlockAndCacheSizes) {
  const std::string path = tempPath("narrow.raw");
  writeFile(path, noise(200, 3));
  RAMIMG *image = openRaw(path, rawHeader(path, IMG_BIP, P_BYTE, 4, 5, 3, 0, 5));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.block, 15);
  freeRAMImage(image);

  // The file budget: 256 KiB of lines, 4 to 127 rows.
  image = openRaw(path, rawHeader(path, IMG_BIL, P_BYTE, 1000, 8192, 1, 0, 8192));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->cachedRows, 31);
  freeRAMImage(image);
  image = openRaw(path, rawHeader(path, IMG_BIL, P_BYTE, 1000, 100000, 1, 0, 100000));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->cachedRows, 4);
  freeRAMImage(image);

  // A memory image whose line count does not fit is refused, not wrapped.
  ImageHeader huge = rawHeader("huge", IMG_MBIL, P_BYTE, 1 << 30, 16, 4, 0, 16);
  int err = -1;
  EXPECT_EQ(createRAMImage(&huge, nullptr, &err), nullptr);
  EXPECT_EQ(err, VESK_RAMIMG_NOMEM);
}

// Memory images hold every line; MBSQ lines are addressed band after band.
TEST(LineCache, MemoryImagesAreResident) {
  int err = -1;
  ImageHeader header = rawHeader("mem", IMG_MBSQ, P_BYTE, 4, 3, 2, 0, 0);
  RAMIMG *image = createRAMImage(&header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(getRAMImageLine(image, 0, 1, 1), image->cache + 4 * 3);
  EXPECT_EQ(getRAMImageLine(image, 3, 0, 1), image->cache + 3 * 3);
  freeRAMImage(image);

  header = rawHeader("mem", IMG_MBIL, P_SHORT, 4, 3, 2, 0, 0);
  header.transparent = 7;
  image = createRAMImage(&header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  unsigned char *line = getRAMImageLine(image, 2, 1, 0);
  EXPECT_EQ(line, image->cache + (2 * 2 + 1) * 6);
  EXPECT_EQ(line[0], 7);  // filled with the transparent index
  EXPECT_EQ(getRAMImageLine(image, 4, 0, 1), nullptr);
  EXPECT_EQ(getRAMImageLine(image, 0, 2, 1), nullptr);
  freeRAMImage(image);
}

// Blocks given back are used again, and what they held never shows: a
// memory image made on an old block reads zeros (or its transparent fill),
// its dirty bits are clear, and only a creator that writes every line
// itself (cleared false) sees the old bytes until clearRAMImageLines.
TEST(LineCache, RecycledBlocksShowNoOldPixels) {
  // Cleared in place (3 MiB), or given back to the system and touched
  // anew (40 MiB): zeros either way, and the block's size survives.
  for (int size : {3 << 20, 40 << 20}) {
    SCOPED_TRACE(size);
    unsigned char *block = allocCacheBlock(size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);  // starts on a cache line
    memset(block, 0xAB, size);
    freeCacheBlock(block);
    unsigned char *again = allocCacheBlock(size);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again, block);  // kept and handed out again
    EXPECT_EQ(std::count(again, again + size, 0), size);
    memset(again, 0xCD, size);
    freeCacheBlock(again);
    unsigned char *third = allocCacheBlock(size, false);
    EXPECT_EQ(third, block);
    EXPECT_EQ(third[size - 1], 0xCD);  // not cleared: the caller writes every byte
    freeCacheBlock(third);
  }

  const int rows = 64, columns = 4096;
  auto everyLineIs = [&](RAMIMG *image, unsigned char value) {
    for (int row = 0; row < rows; row++) {
      const unsigned char *line = getRAMImageLine(image, row, 0, 1);
      if (!line || std::count(line, line + columns, value) != columns) return false;
    }
    return true;
  };
  ImageHeader h = rawHeader("@old", IMG_MBIL, P_BYTE, rows, columns, 1, 0, columns);
  for (int transparent : {-1, 7}) {
    SCOPED_TRACE(transparent);
    h.transparent = transparent;
    RAMIMG *old = createRAMImage(&h, nullptr, nullptr);
    ASSERT_NE(old, nullptr);
    for (int row = 0; row < rows; row++) {
      memset(getRAMImageLine(old, row, 0, 1), 0xCD, columns);
      setRAMImageDirty(old, row, 0);
    }
    freeRAMImage(old);
    RAMIMG *fresh = createRAMImage(&h, nullptr, nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(everyLineIs(fresh, transparent < 0 ? 0 : 7));
    for (int slot = 0; slot < fresh->cacheLines; slot++) EXPECT_FALSE(isSlotDirty(fresh, slot));
    memset(getRAMImageLine(fresh, 0, 0, 1), 0xEF, columns);
    freeRAMImage(fresh);
  }
  h.transparent = -1;
  // On an old block a new image's lines are zeroed as they are first had,
  // however had; a line had to be filled whole (load 0) is left to its
  // writer; emptying the cache keeps the lines, zeros included.
  RAMIMG *lazy = createRAMImage(&h, nullptr, nullptr);
  ASSERT_NE(lazy, nullptr);
  unsigned char *whole = getRAMImageLine(lazy, 0, 0, 0);
  EXPECT_EQ(whole[0], 0xEF);
  memset(whole, 1, columns);
  EXPECT_EQ(getCachedLine(lazy, 1, 0)[columns - 1], 0);
  invalidateRAMImageCache(lazy);
  EXPECT_EQ(getRAMImageLine(lazy, 0, 0, 1)[0], 1);
  EXPECT_EQ(getRAMImageLine(lazy, 2, 0, 1)[0], 0);
  memset(getRAMImageLine(lazy, 0, 0, 1), 0xEF, columns);
  freeRAMImage(lazy);
  RAMIMG *filled = createRAMImage(&h, nullptr, nullptr, false);
  ASSERT_NE(filled, nullptr);
  EXPECT_EQ(getRAMImageLine(filled, 0, 0, 1)[0], 0xEF);  // the old bytes, for a writer of every line
  clearRAMImageLines(filled);
  EXPECT_TRUE(everyLineIs(filled, 0));
  freeRAMImage(filled);
}

// A new image on a large old block (over 32 MiB) is not cleared either:
// lines had to be filled whole keep what their writer puts there; a line
// read is zeroed as it is first had, and emptying the cache zeros every
// other line at once (the whole pages among them given back), runs of
// lines that end inside a page included.
TEST(LineCache, LargeRecycledBlockZeroedAtFirstRead) {
  const int rows = 8300, columns = 4100;
  ImageHeader h = rawHeader("@large", IMG_MBIL, P_BYTE, rows, columns, 1, 0, columns);
  const int written[] = {0, 1, 2, 7, 4000, rows - 1};
  for (bool read : {true, false}) {
    SCOPED_TRACE(read);
    RAMIMG *old = createRAMImage(&h, nullptr, nullptr);
    ASSERT_NE(old, nullptr);
    for (int row = 0; row < rows; row++) memset(getRAMImageLine(old, row, 0, 1), 0xCD, columns);
    freeRAMImage(old);
    RAMIMG *fresh = createRAMImage(&h, nullptr, nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->linesUnzeroed);  // the old block, not cleared
    for (int row : written) {
      unsigned char *line = getRAMImageLine(fresh, row, 0, 0);
      EXPECT_EQ(line[columns - 1], 0xCD);
      memset(line, row % 250 + 1, columns);
    }
    if (read) {
      EXPECT_EQ(getRAMImageLine(fresh, 3, 0, 1)[0], 0);
    } else {
      invalidateRAMImageCache(fresh);
      EXPECT_FALSE(fresh->linesUnzeroed);
    }
    int wrong = 0;
    for (int row = 0; row < rows; row++) {
      const unsigned char *line = getRAMImageLine(fresh, row, 0, 1);
      const bool kept = std::count(std::begin(written), std::end(written), row) > 0;
      wrong += std::count(line, line + columns, kept ? row % 250 + 1 : 0) != columns;
    }
    EXPECT_EQ(wrong, 0);
    freeRAMImage(fresh);
  }
}

TEST(LineCache, SwapLineBytes) {
  unsigned char line[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  swapLineBytes(P_USHORT, 4, line);
  EXPECT_EQ(line[0], 2);
  EXPECT_EQ(line[7], 7);
  swapLineBytes(P_USHORT, 4, line);
  swapLineBytes(P_FLOAT, 2, line);
  EXPECT_EQ(line[0], 4);
  EXPECT_EQ(line[4], 8);
  swapLineBytes(P_FLOAT, 2, line);
  swapLineBytes(P_BYTE, 8, line);
  for (int i = 0; i < 8; i++) EXPECT_EQ(line[i], i + 1);
}

namespace {

// Resident bytes of this process.
int64_t residentBytes() {
  long pages = 0, resident = 0;
  FILE *f = fopen("/proc/self/statm", "r");
  if (!f) return -1;
  const int n = fscanf(f, "%ld %ld", &pages, &resident);
  fclose(f);
  return n == 2 ? int64_t{resident} * sysconf(_SC_PAGESIZE) : -1;
}

TEST(LineCache, MemoryImagesTouchNoPagesUntilUsedAndRefuseWhatCannotBeHad) {
  // 1 GB of zero pixels: only the pages written become resident.
  ImageHeader h = rawHeader("@big", IMG_MBIL, P_BYTE, 16384, 65536, 1, 0, 65536);
  const int64_t before = residentBytes();
  RAMIMG *image = openRAMImage("@big", nullptr, &h, nullptr, nullptr);
  ASSERT_NE(image, nullptr);
  EXPECT_LT(residentBytes() - before, int64_t{64} << 20);
  const unsigned char *line = getRAMImageLine(image, 9999, 0, 1);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(line, line + 65536), std::vector<unsigned char>(65536, 0));
  while (closeRAMImage(image, nullptr) > 0) {}

  // A petabyte: a null image, not an abort (also under the sanitizers).
  ImageHeader huge = rawHeader("@huge", IMG_MBIL, P_BYTE, 1 << 30, 1 << 20, 1, 0, 1 << 20);
  EXPECT_EQ(openRAMImage("@huge", nullptr, &huge, nullptr, nullptr), nullptr);
}

}  // namespace

// Writers that fill a whole line of a BIL file claim it without reading;
// the file ends with the written lines, and lines written in part (or a
// whole line written over part of itself first) keep the file's other
// samples.
TEST(LineCache, WholeLineWritesAndPartialWrites) {
  const std::string path = tempPath("bilwhole.raw");
  std::vector<unsigned char> file = noise(kOffset + 4 * 2 * 6, 91);
  writeFile(path, file);
  RAMIMG *image = openRaw(path, rawHeader(path, IMG_BIL, P_BYTE, 4, 6, 2, kOffset, 6));
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(setRAMImageBuf(image, 1), 1);
  const unsigned char whole[6] = {1, 2, 3, 4, 5, 6}, part[2] = {9, 8};
  EXPECT_EQ(putByteBILData(image, 0, 0, 6, 1, whole), 6);  // whole line, never read
  EXPECT_EQ(putByteBILData(image, 2, 1, 2, 0, part), 2);   // columns 1, 2 only
  EXPECT_EQ(putByteBILData(image, 3, 2, 2, 1, part), 2);   // a part, then the whole line
  EXPECT_EQ(putByteBILData(image, 3, 0, 6, 1, whole), 6);
  unsigned char back[6];
  getByteBILData(image, 0, 0, 6, 1, back);
  EXPECT_EQ(std::vector<unsigned char>(back, back + 6), std::vector<unsigned char>(whole, whole + 6));
  flushRAMImage(image);
  freeRAMImage(image);
  std::vector<unsigned char> want = file;
  auto at = [](int row, int band, int column) { return kOffset + (row * 2 + band) * 6 + column; };
  for (int c = 0; c < 6; c++) want[at(0, 1, c)] = whole[c];
  want[at(2, 0, 1)] = 9;
  want[at(2, 0, 2)] = 8;
  for (int c = 0; c < 6; c++) want[at(3, 1, c)] = whole[c];
  EXPECT_EQ(readFile(path), want);
}
