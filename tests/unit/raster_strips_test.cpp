// TIFF strips and tiles through hand-made strip tables, PackBits, memory
// RGB frames and the volumes of stacked files.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <string>
#include <vector>

#include "raster/ramimg.h"
#include "tests/unit/raster_files.h"

using namespace vesk;
using namespace rastertest;

namespace {

void putLong(std::vector<unsigned char> &file, size_t at, uint32_t v, bool bigEndian) {
  for (int i = 0; i < 4; i++)
    file[at + i] = static_cast<unsigned char>(v >> (bigEndian ? 24 - 8 * i : 8 * i));
}

unsigned char pixel(int row, int column, int band) {
  return static_cast<unsigned char>(row * 16 + column * 2 + band + 1);
}

// Opens a TIFF image described by a header and gives it strip fields.
RAMIMG *openTiff(const std::string &path, const ImageHeader &header, const TiffPrivate &fields,
                 int cacheRows) {
  int err = -1;
  RAMIMG *image = openRAMImageFile(path.c_str(), &header, nullptr, &err);
  EXPECT_NE(image, nullptr);
  if (!image) return nullptr;
  image->privateData = new TiffPrivate(fields);
  setRAMImageBuf(image, cacheRows);
  return image;
}

}  // namespace

TEST(PackBits, Runs) {
  struct Case {
    std::vector<unsigned char> in;
    size_t outLength;
    std::vector<unsigned char> out;
  } cases[] = {
      {{0xfd, 7}, 8, {7, 7, 7, 7}},                        // -3: four copies
      {{0x80, 0x02, 1, 2, 3}, 8, {1, 2, 3}},               // -128 is skipped
      {{0x01, 9, 8, 0xff, 5}, 8, {9, 8, 5, 5}},            // literal then run
      {{0xf9, 4}, 3, {4, 4, 4}},                           // output never passed
      {{0x05, 1, 2}, 8, {1, 2}},                           // input never passed
      {{0xfe}, 8, {}},                                     // run without its byte
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in.size());
    std::vector<unsigned char> out(c.outLength, 0xaa);
    const int64_t n = unpackBits(c.in.data(), static_cast<int64_t>(c.in.size()), out.data(),
                                 static_cast<int64_t>(c.outLength));
    ASSERT_EQ(n, static_cast<int64_t>(c.out.size()));
    EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + n), c.out);
  }
}

// A big-endian TIFF of three 16-row strips stored in reverse order: a
// request for row 37 reads strip 2 whole, and write-back goes to the
// strip's place, not to the table.
TEST(TiffStrips, MultiStripReadAndWriteBack) {
  const int rows = 48, columns = 4, perStrip = 16;
  const size_t stripBytes = perStrip * columns, table = 8 + 3 * stripBytes;
  std::vector<unsigned char> file(table + 12, 0);
  size_t stripAt[3];
  for (int s = 0; s < 3; s++) {
    stripAt[s] = 8 + (2 - s) * stripBytes;
    putLong(file, table + 4 * s, static_cast<uint32_t>(stripAt[s]), true);
    for (int r = 0; r < perStrip; r++)
      for (int c = 0; c < columns; c++)
        file[stripAt[s] + r * columns + c] = pixel(s * perStrip + r, c, 0);
  }
  const std::string path = tempPath("strips.tif");
  writeFile(path, file);
  ImageHeader header = rawHeader(path, IMG_TIFF, P_BYTE, rows, columns, 1, table, columns);
  TiffPrivate fields;
  fields.stripCount = 3;
  fields.rowsPerStrip = perStrip;
  fields.compression = 1;
  fields.byteOrder = kTiffBigEndian;
  RAMIMG *image = openTiff(path, header, fields, 4);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->cachedRows, 32);  // at least two strips

  unsigned char *line = getRAMImageLine(image, 37, 0, 1);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line[3], pixel(37, 3, 0));
  for (int r = 32; r < 48; r++) {
    SCOPED_TRACE(r);
    const unsigned char *cached = getCachedLine(image, r, 0);
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(cached[1], pixel(r, 1, 0));
  }
  EXPECT_EQ(getCachedLine(image, 31, 0), nullptr);

  line[0] = 0xee;
  setRAMImageDirty(image, 37, 0);
  flushRAMImage(image);
  file[stripAt[2] + 5 * columns] = 0xee;
  EXPECT_EQ(readFile(path), file);
  freeRAMImage(image);
}

// Tiles of 4 x 4 over a 10-column, 6-row, 2-band image: the right column
// of tiles is cut at the image edge, both reading and writing.
TEST(TiffStrips, TilesWithRaggedEdge) {
  const int rows = 6, columns = 10, bands = 2, tw = 4, tl = 4;
  const int across = 3, down = 2, tileRowBytes = tw * bands;
  const size_t tileBytes = tl * tileRowBytes, table = 8 + across * down * tileBytes;
  std::vector<unsigned char> file = noise(table + 4 * across * down, 3);
  auto at = [&](int r, int c, int b) {
    const int tile = (c / tw) + (r / tl) * across;
    return 8 + tile * tileBytes + (r % tl) * tileRowBytes + (c % tw) * bands + b;
  };
  for (int t = 0; t < across * down; t++)
    putLong(file, table + 4 * t, static_cast<uint32_t>(8 + t * tileBytes), false);
  for (int r = 0; r < rows; r++)
    for (int c = 0; c < columns; c++)
      for (int b = 0; b < bands; b++) file[at(r, c, b)] = pixel(r, c, b);
  const std::string path = tempPath("tiles.tif");
  writeFile(path, file);
  ImageHeader header =
      rawHeader(path, IMG_TIFF, P_BYTE, rows, columns, bands, table, columns * bands);
  TiffPrivate fields;
  fields.tileWidth = tw;
  fields.tileLength = tl;
  fields.stripCount = across * down;
  fields.compression = 1;
  fields.byteOrder = kTiffLittleEndian;
  RAMIMG *image = openTiff(path, header, fields, 1);
  ASSERT_NE(image, nullptr);
  for (int r = rows - 1; r >= 0; r--)
    for (int b = 0; b < bands; b++) {
      unsigned char *line = getRAMImageLine(image, r, b, 1);
      ASSERT_NE(line, nullptr);
      for (int c = 0; c < columns; c++) ASSERT_EQ(line[c], pixel(r, c, b)) << r << " " << c;
    }
  std::vector<unsigned char> expected = file;
  for (int r = 0; r < rows; r++)
    for (int b = 0; b < bands; b++) {
      unsigned char *line = getRAMImageLine(image, r, b, 1);
      for (int c = 0; c < columns; c++) {
        line[c] = static_cast<unsigned char>(200 + r + c + b);
        expected[at(r, c, b)] = line[c];
      }
      setRAMImageDirty(image, r, b);
    }
  flushRAMImage(image);
  EXPECT_EQ(readFile(path), expected);
  freeRAMImage(image);
}

// Two PackBits strips with a byte-count table; compressed strips are
// never written back in place.
TEST(TiffStrips, PackBitsStrips) {
  const std::vector<unsigned char> strip0 = {0xfd, 1, 0x03, 2, 3, 4, 5};  // 1111 2345
  const std::vector<unsigned char> strip1 = {0xf9, 9};                   // 9 x 8
  std::vector<unsigned char> file(8);
  const size_t at0 = file.size();
  file.insert(file.end(), strip0.begin(), strip0.end());
  const size_t at1 = file.size();
  file.insert(file.end(), strip1.begin(), strip1.end());
  const size_t offsets = file.size(), counts = offsets + 8;
  file.resize(counts + 8);
  putLong(file, offsets, static_cast<uint32_t>(at0), false);
  putLong(file, offsets + 4, static_cast<uint32_t>(at1), false);
  putLong(file, counts, static_cast<uint32_t>(strip0.size()), false);
  putLong(file, counts + 4, static_cast<uint32_t>(strip1.size()), false);
  const std::string path = tempPath("packbits.tif");
  writeFile(path, file);
  ImageHeader header = rawHeader(path, IMG_TIFF, P_BYTE, 4, 4, 1, offsets, 4);
  header.readerFlag = 2;
  TiffPrivate fields;
  fields.stripCount = 2;
  fields.rowsPerStrip = 2;
  fields.stripByteCounts = static_cast<int64_t>(counts);
  fields.compression = kTiffPackBits;
  fields.byteOrder = kTiffLittleEndian;
  RAMIMG *image = openTiff(path, header, fields, 1);
  ASSERT_NE(image, nullptr);
  const unsigned char expected[4][4] = {{1, 1, 1, 1}, {2, 3, 4, 5}, {9, 9, 9, 9}, {9, 9, 9, 9}};
  for (int r = 3; r >= 0; r--) {
    unsigned char *line = getRAMImageLine(image, r, 0, 1);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(memcmp(line, expected[r], 4), 0) << r;
    line[0] = 0;
    setRAMImageDirty(image, r, 0);
  }
  flushRAMImage(image);
  EXPECT_EQ(readFile(path), file);
  freeRAMImage(image);
}

TEST(RgbFrames, PackedPixelConversions) {
  int err = -1;
  ImageHeader header = rawHeader("frame565", IMG_MRGB565, P_BYTE, 2, 3, 3, 0, 0);
  RAMIMG *image = createRAMImage(&header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.block, 6);
  EXPECT_EQ(image->cachedRows, 3);
  unsigned char *frame = rgbFrame(image);
  frame[0] = 0x00;  // pixel 0 of row 0: 0xF800
  frame[1] = 0xf8;
  frame[2] = 0x1f;  // pixel 1: 0x001F
  frame[3] = 0x00;
  const unsigned char want[3][2] = {{248, 0}, {0, 0}, {0, 248}};
  for (int b = 0; b < 3; b++) {
    const unsigned char *line = getRGBFrameLine(image, 0, b, 1);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line[0], want[b][0]) << b;
    EXPECT_EQ(line[1], want[b][1]) << b;
  }
  unsigned char *green = getRGBFrameLine(image, 0, 4, 1);  // band 4 is band 1
  EXPECT_EQ(green, getRGBFrameLine(image, 0, 1, 1));
  green[0] = 255;
  setRAMImageDirty(image, 0, 1);
  flushRAMImage(image);
  EXPECT_EQ(frame[0] | frame[1] << 8, 0xF800 | 63 << 5);
  freeRAMImage(image);

  header = rawHeader("frame555", IMG_MRGB555, P_BYTE, 1, 2, 3, 0, 0);
  image = createRAMImage(&header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  frame = rgbFrame(image);
  frame[0] = 0xff;  // pixel 0: 0xFFFF
  frame[1] = 0xff;
  frame[2] = 0x20;  // pixel 1: 0x0020 (green 1)
  frame[3] = 0x00;
  unsigned char *line = getRGBFrameLine(image, 0, 1, 1);
  EXPECT_EQ(line[0], 248);
  EXPECT_EQ(line[1], 8);
  line = getRGBFrameLine(image, 0, 0, 1);
  EXPECT_EQ(line[0], 248);
  line[0] = 8;  // red 1; the top bit goes
  setRAMImageDirty(image, 0, 0);
  flushRAMImage(image);
  EXPECT_EQ(frame[0] | frame[1] << 8, 1 << 10 | 0x03ff);
  freeRAMImage(image);

  header = rawHeader("frame24", IMG_MRGB24, P_BYTE, 2, 2, 3, 0, 8);  // padded rows
  image = createRAMImage(&header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  frame = rgbFrame(image);
  for (int i = 0; i < 16; i++) frame[i] = static_cast<unsigned char>(i);
  line = getRGBFrameLine(image, 1, 2, 1);
  EXPECT_EQ(line[0], 10);
  EXPECT_EQ(line[1], 13);
  line[1] = 99;
  setRAMImageDirty(image, 1, 2);
  flushRAMImage(image);
  EXPECT_EQ(frame[13], 99);
  freeRAMImage(image);

  // Index frames give the frame row itself.
  header = rawHeader("frame8", IMG_MRGB8, P_BYTE, 3, 5, 1, 0, 0);
  image = createRAMImage(&header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(getRGBFrameLine(image, 2, 0, 1), rgbFrame(image) + 10);
  EXPECT_EQ(image->getLineProc, getRGBFrameLine);
  freeRAMImage(image);
}

// Three stacked volumes of a 2-band BIL file: an edit survives leaving and
// coming back, and lands in its own volume of the file.
TEST(Volumes, StackedVolumes) {
  const int rows = 3, columns = 4, bands = 2, volumes = 3;
  const size_t volumeBytes = rows * columns * bands;
  std::vector<unsigned char> file(16 + volumes * volumeBytes);
  for (size_t i = 16; i < file.size(); i++) file[i] = static_cast<unsigned char>((i - 16) / volumeBytes + 1);
  const std::string path = tempPath("stack.raw");
  writeFile(path, file);
  ImageHeader header = rawHeader(path, IMG_BIL, P_BYTE, rows, columns, bands, 16, columns);
  header.volumes = volumes;
  int err = -1;
  RAMIMG *image = openRAMImageFile(path.c_str(), &header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(seekRAMImageVolume(image, 2), 2);
  unsigned char *line = getRAMImageLine(image, 1, 1, 1);
  EXPECT_EQ(line[0], 2);
  line[0] = 0x77;
  setRAMImageDirty(image, 1, 1);
  EXPECT_EQ(seekRAMImageVolume(image, 0), 3);
  EXPECT_EQ(getRAMImageLine(image, 1, 1, 1)[0], 3);
  EXPECT_EQ(seekRAMImageVolume(image, 0), -2);  // already the last
  EXPECT_EQ(image->volume, 3);
  EXPECT_EQ(seekRAMImageVolume(image, 99), 3);
  EXPECT_EQ(seekRAMImageVolume(image, 2), 2);
  EXPECT_EQ(getRAMImageLine(image, 1, 1, 1)[0], 0x77);
  file[16 + volumeBytes + (1 * bands + 1) * columns] = 0x77;
  EXPECT_EQ(readFile(path), file);
  freeRAMImage(image);

  header.volumes = 1;
  image = openRAMImageFile(path.c_str(), &header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(seekRAMImageVolume(image, 2), -2);
  EXPECT_EQ(image->volume, 1);
  EXPECT_EQ(image->volumeCount, 1);
  freeRAMImage(image);
}
