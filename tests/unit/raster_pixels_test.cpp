// Pixel access by type: conversions on read and write for every pixel
// type, sub-byte bit orders, segments that leave the image, strided and
// palette reads, multi-band buffers and the dirty bit.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>
#include <string.h>
#include <string>
#include <vector>

#include "raster/pixels.h"
#include "tests/unit/raster_images.h"
#include "vesk/ramimg.h"

using namespace vesk;
using namespace rastertest;

namespace {

const char *typeName(int pixelid) { return getPixelidName(pixelid); }

}  // namespace

// Floats stored into each pixel type come back clamped and rounded half
// away from zero.
TEST(Pixels, FloatStoreConversions) {
  struct Case {
    int pixelid;
    float in;
    float stored;
  };
  const Case cases[] = {
      {P_BYTE, 254.5f, 255},       {P_BYTE, 300, 255},           {P_BYTE, -3, 0},
      {P_BYTE, 2.5f, 3},           {P_BYTE, 0.49999997f, 0},     {P_BYTE, NAN, 0},
      {P_BYTE, 1e30f, 255},        {P_SHORT, -2.0f, -2},         {P_SHORT, -2.5f, -3},
      {P_SHORT, 40000, 32767},     {P_SHORT, -40000, -32768},    {P_SHORT, 2.4999f, 2},
      {P_USHORT, 70000, 65535},    {P_USHORT, -1, 0},            {P_USHORT, 1.5f, 2},
      {P_LONG, 3e9f, 2147483647.f}, {P_LONG, -3e9f, -2147483648.f}, {P_LONG, -2.5f, -3},
      {P_LONG, INFINITY, 2147483647.f}, {P_FLOAT, -2.5f, -2.5f},  {P_FLOAT, 1e30f, 1e30f},
      {P_4BITS, 15.7f, 15},        {P_4BITS, 16, 15},            {P_4BITS, -1, 0},
      {P_4BITS, 7.5f, 8},          {P_1BIT, 0.1f, 1},            {P_1BIT, 0, 0},
      {P_1BIT, -1, 0},             {P_ULONG, -5, 0},             {P_ULONG, 2.5f, 3},
      {P_ULONG, 70000.4f, 70000},  {P_ULONG, 5e9f, 4294967295.f}, {P_SBYTE, -200, -128},
      {P_SBYTE, -2.5f, -3},        {P_SBYTE, 126.6f, 127},       {P_SBYTE, 300, 127},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(typeName(c.pixelid)) + " " + std::to_string(c.in));
    ImagePtr image = memoryImage(c.pixelid, 2, 5);
    ASSERT_TRUE(image);
    EXPECT_EQ(putFloatBILData(image.get(), 1, 3, 1, 0, &c.in), 1);
    EXPECT_EQ(getPixelValue(image.get(), 3, 1, 0), c.stored);
  }
  // LONG keeps every integer of its range exactly.
  ImagePtr image = memoryImage(P_LONG, 1, 1);
  float in = -2147483648.f;
  putFloatBILData(image.get(), 0, 0, 1, 0, &in);
  int32_t raw;
  memcpy(&raw, getRAMImageLine(image.get(), 0, 0, 1), 4);
  EXPECT_EQ(raw, INT32_MIN);
  // ULONG holds values past the LONG range, four bytes a pixel.
  image = memoryImage(P_ULONG, 1, 2);
  const float big[2] = {4e9f, 1249000};
  putFloatBILData(image.get(), 0, 0, 2, 0, big);
  uint32_t stored[2];
  memcpy(stored, getRAMImageLine(image.get(), 0, 0, 1), 8);
  EXPECT_EQ(stored[0], 4000000000u);
  EXPECT_EQ(stored[1], 1249000u);
}

// A BYTE row stored or read whole (converted sixteen at a time) holds
// what pixel-by-pixel stores and reads give, edge values included.
TEST(Pixels, ByteRowsConvertAsSinglePixels) {
  const float edges[] = {0.49999997f, 0.5f, 2.5f, 254.5f, 254.49998f, 255.5f, -0.5f, -0.0f,
                         NAN, INFINITY, -INFINITY, 1e30f, -1e30f, 127.25f, 0.75f, 3};
  std::vector<float> row;
  for (int i = 0; i < 45; i++) row.push_back(edges[i % 16] + (i >= 16 && i < 32 ? i : 0));
  const int n = static_cast<int>(row.size());
  ImagePtr whole = memoryImage(P_BYTE, 1, n), single = memoryImage(P_BYTE, 1, n);
  ASSERT_TRUE(whole && single);
  EXPECT_EQ(putFloatBILData(whole.get(), 0, 0, n, 0, row.data()), n);
  for (int x = 0; x < n; x++) putFloatBILData(single.get(), 0, x, 1, 0, &row[x]);
  std::vector<float> back(static_cast<size_t>(n));
  getFloatBILData(whole.get(), 0, 0, n, 0, back.data());
  for (int x = 0; x < n; x++) {
    SCOPED_TRACE(x);
    EXPECT_EQ(getPixelValue(whole.get(), x, 0, 0), getPixelValue(single.get(), x, 0, 0));
    EXPECT_EQ(back[x], getPixelValue(single.get(), x, 0, 0));
  }
}

// Bytes read from wider types keep the low byte; floats are truncated
// toward zero first.  Bytes and 16-bit values stored into each type: a
// type as narrow as the value takes its bits (SHORT from 16, SBYTE from 8).
TEST(Pixels, ByteAndUShortConversions) {
  struct ReadCase {
    int pixelid;
    float value;
    int byte;
  };
  const ReadCase reads[] = {
      {P_SHORT, 300, 44}, {P_SHORT, -1, 255},  {P_USHORT, 511, 255}, {P_LONG, 65537, 1},
      {P_FLOAT, -1.5f, 255}, {P_FLOAT, 257.9f, 1}, {P_FLOAT, 1e20f, 0}, {P_BYTE, 200, 200},
      {P_4BITS, 9, 9},    {P_1BIT, 1, 1},      {P_ULONG, 70000, 0x70}, {P_SBYTE, -1, 255},
      {P_SBYTE, -128, 128},
  };
  for (const ReadCase &r : reads) {
    SCOPED_TRACE(std::string(typeName(r.pixelid)) + " " + std::to_string(r.value));
    ImagePtr image = memoryImage(r.pixelid, 1, 3);
    putFloatBILData(image.get(), 0, 1, 1, 0, &r.value);
    unsigned char b = 0xee;
    getByteBILData(image.get(), 0, 1, 1, 0, &b);
    EXPECT_EQ(b, r.byte);
  }

  struct StoreCase {
    int pixelid;
    unsigned byteIn, ushortIn;
    float fromByte, fromUShort;
  };
  const StoreCase stores[] = {
      {P_1BIT, 2, 256, 1, 1},          {P_4BITS, 0x1f, 0x123, 15, 3},
      {P_BYTE, 200, 300, 200, 44},     {P_SHORT, 255, 40000, 255, -25536},
      {P_LONG, 255, 65535, 255, 65535}, {P_FLOAT, 7, 65535, 7, 65535},
      {P_USHORT, 255, 65535, 255, 65535}, {P_ULONG, 255, 65535, 255, 65535},
      {P_SBYTE, 200, 0x1ff, -56, -1},
  };
  for (const StoreCase &s : stores) {
    SCOPED_TRACE(typeName(s.pixelid));
    ImagePtr image = memoryImage(s.pixelid, 1, 4);
    const unsigned char b = static_cast<unsigned char>(s.byteIn);
    EXPECT_EQ(putByteBILData(image.get(), 0, 2, 1, 0, &b), 1);
    EXPECT_EQ(getPixelValue(image.get(), 2, 0, 0), s.fromByte);
    const uint16_t u = static_cast<uint16_t>(s.ushortIn);
    EXPECT_EQ(vesk_putUSHORTBILData(image.get(), 0, 2, 1, 0, &u), 1);
    EXPECT_EQ(getPixelValue(image.get(), 2, 0, 0), s.fromUShort);
  }
}

// 1BIT and 4BITS pixels sit in their bytes by the image's bit order.
TEST(Pixels, SubBytePixelsFollowBitOrder) {
  struct Case {
    int pixelid, msbf, column;
    unsigned value;
    int byteIndex;
    unsigned char byte;
  };
  const Case cases[] = {
      {P_1BIT, 1, 0, 1, 0, 0x80},  {P_1BIT, 0, 0, 1, 0, 0x01},  {P_1BIT, 1, 9, 1, 1, 0x40},
      {P_1BIT, 0, 9, 1, 1, 0x02},  {P_4BITS, 0, 1, 7, 0, 0x70}, {P_4BITS, 1, 1, 7, 0, 0x07},
      {P_4BITS, 0, 2, 5, 1, 0x05}, {P_4BITS, 1, 2, 5, 1, 0x50},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(typeName(c.pixelid)) + " msbf " + std::to_string(c.msbf) +
                 " column " + std::to_string(c.column));
    ImagePtr image = memoryImage(c.pixelid, 1, 12, 1, c.msbf);
    const unsigned char *line = getRAMImageLine(image.get(), 0, 0, 1);
    const int64_t bytes = image->lineBytes;
    const unsigned char b = static_cast<unsigned char>(c.value);
    EXPECT_EQ(putByteBILData(image.get(), 0, c.column, 1, 0, &b), 1);
    for (int64_t i = 0; i < bytes; i++)
      EXPECT_EQ(line[i], i == c.byteIndex ? c.byte : 0) << "byte " << i;
    unsigned char back[12];
    getByteBILData(image.get(), 0, 0, 12, 0, back);
    for (int x = 0; x < 12; x++) EXPECT_EQ(back[x], x == c.column ? c.value : 0) << "column " << x;
  }
  // A write into one nibble or bit keeps its neighbours.
  ImagePtr image = memoryImage(P_4BITS, 1, 4);
  const unsigned char values[4] = {1, 2, 3, 4};
  putByteBILData(image.get(), 0, 0, 4, 0, values);
  const unsigned char nine = 9;
  putByteBILData(image.get(), 0, 1, 1, 0, &nine);
  unsigned char back[4];
  getByteBILData(image.get(), 0, 0, 4, 0, back);
  EXPECT_EQ(std::vector<unsigned char>(back, back + 4), (std::vector<unsigned char>{1, 9, 3, 4}));
}

// Segments that start left of column 0, run past the last column or lie
// on a row outside the image.
TEST(Pixels, SegmentsOutsideTheImage) {
  ImagePtr image = memoryImage(P_SHORT, 3, 4);
  const float row1[4] = {10, 11, 12, 13};
  putFloatBILData(image.get(), 1, 0, 4, 0, row1);

  float out[5];
  getFloatBILData(image.get(), 1, -2, 5, 0, out);
  EXPECT_EQ(std::vector<float>(out, out + 5), (std::vector<float>{0, 0, 10, 11, 12}));
  getFloatBILData(image.get(), 1, 2, 5, 0, out);
  EXPECT_EQ(std::vector<float>(out, out + 5), (std::vector<float>{12, 13, 0, 0, 0}));
  for (int row : {-1, 3}) {
    getFloatBILData(image.get(), row, 0, 5, 0, out);
    EXPECT_EQ(std::vector<float>(out, out + 5), std::vector<float>(5, 0)) << "row " << row;
  }
  getFloatBILData(image.get(), 1, 0, 4, 1, out);  // no band 1
  EXPECT_EQ(std::vector<float>(out, out + 4), std::vector<float>(4, 0));

  // Writes store only the inside part and say how much.
  const float in[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(putFloatBILData(image.get(), 2, -3, 6, 0, in), 3);
  EXPECT_EQ(putFloatBILData(image.get(), 2, 3, 6, 0, in), 1);
  EXPECT_EQ(putFloatBILData(image.get(), 3, 0, 6, 0, in), 0);
  EXPECT_EQ(putFloatBILData(image.get(), 2, 4, 2, 0, in), 0);
  getFloatBILData(image.get(), 2, 0, 4, 0, out);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{4, 5, 6, 1}));
}

// A strided read fills every stride-th position and nothing in between.
TEST(Pixels, StrideReads) {
  ImagePtr image = memoryImage(P_BYTE, 2, 4);
  const unsigned char row[4] = {5, 6, 7, 8};
  putByteBILData(image.get(), 0, 0, 4, 0, row);
  std::vector<unsigned char> out(12, 0xaa);
  getByteBILDataStride(image.get(), 0, -1, 4, 0, out.data() + 1, 3);
  EXPECT_EQ(out, (std::vector<unsigned char>{0xaa, 0, 0xaa, 0xaa, 5, 0xaa, 0xaa, 6, 0xaa, 0xaa,
                                             7, 0xaa}));
  std::vector<unsigned char> outside(12, 0xaa);
  getByteBILDataStride(image.get(), 9, 0, 4, 0, outside.data(), 3);
  for (int i = 0; i < 12; i++) EXPECT_EQ(outside[i], i % 3 == 0 ? 0 : 0xaa) << i;
  std::vector<float> floats(8, -1);
  getFloatBILDataStride(image.get(), 0, 2, 4, 0, floats.data(), 2);
  EXPECT_EQ(floats, (std::vector<float>{7, -1, 8, -1, 0, -1, 0, -1}));
}

// Palette images read through their colour table by component.
TEST(Pixels, PaletteComponents) {
  ImagePtr image = memoryImage(P_BYTE, 1, 3);
  image->header.nindices = 3;
  const unsigned char rgb[3][3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  memcpy(image->header.palette, rgb, sizeof rgb);
  const unsigned char indexes[3] = {2, 0, 1};
  putByteBILData(image.get(), 0, 0, 3, 0, indexes);

  unsigned char bytes[3];
  float floats[3];
  getPaletteByteBILData(image.get(), 0, 0, 3, 1, bytes);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 3), (std::vector<unsigned char>{80, 20, 50}));
  getPaletteByteBILData(image.get(), 0, 0, 3, -1, bytes);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 3), (std::vector<unsigned char>{2, 0, 1}));
  getPaletteFloatBILData(image.get(), 0, 0, 3, 2, floats);
  EXPECT_EQ(std::vector<float>(floats, floats + 3), (std::vector<float>{90, 30, 60}));
  getPaletteFloatBILData(image.get(), 0, 0, 3, -1, floats);
  EXPECT_EQ(std::vector<float>(floats, floats + 3), (std::vector<float>{2, 0, 1}));

  // Interleaved RGB through the palette: the float form takes band i = component i.
  float rgbOut[9];
  getFloatBIPData(image.get(), 0, 0, 3, 1, 3, nullptr, rgbOut);
  EXPECT_EQ(std::vector<float>(rgbOut, rgbOut + 9),
            (std::vector<float>{70, 80, 90, 10, 20, 30, 40, 50, 60}));
  float vec[3];
  getPixelVector(image.get(), 1, 0, 3, nullptr, vec);
  EXPECT_EQ(std::vector<float>(vec, vec + 3), (std::vector<float>{10, 20, 30}));
}

// Pixel-interleaved buffers of several bands, read with a column step and
// written through a band list or from a first band.
TEST(Pixels, MultiBandBuffers) {
  ImagePtr image = memoryImage(P_BYTE, 2, 4, 3);
  for (int band = 0; band < 3; band++) {
    unsigned char row[4];
    for (int x = 0; x < 4; x++) row[x] = static_cast<unsigned char>(10 * band + x);
    putByteBILData(image.get(), 0, 0, 4, band, row);
  }
  unsigned char bip[12];
  const int bands[2] = {2, 0};
  getByteBIPData(image.get(), 0, 0, 4, 2, 2, bands, bip);
  EXPECT_EQ(std::vector<unsigned char>(bip, bip + 4), (std::vector<unsigned char>{20, 0, 22, 2}));
  getByteBIPData(image.get(), 0, 1, 3, 1, 4, nullptr, bip);  // band i mod 3
  EXPECT_EQ(bip[0], 1);
  EXPECT_EQ(bip[3], 1);

  // First band 1, n 2: bands 1 and 2 from values 0 and 1 of each group.
  const float groups[8] = {100, 200, 101, 201, 102, 202, 103, 203};
  EXPECT_EQ(putFloatBIPData(image.get(), 1, 2, 1, 0, 4, groups), 4);
  float pixel[3];
  getPixelBands(image.get(), 1, 2, pixel);
  EXPECT_EQ(std::vector<float>(pixel, pixel + 3), (std::vector<float>{0, 102, 202}));
  // A first band near the end writes only the bands that exist.
  EXPECT_EQ(putFloatBIPData(image.get(), 2, 2, 1, 0, 4, groups), 4);
  EXPECT_EQ(getPixelValue(image.get(), 3, 1, 2), 103);

  // A band list with a band the image lacks skips it.
  const int list[3] = {0, 5, 1};
  const float triples[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(writeFloatBIPData(image.get(), 1, 2, 2, 3, list, triples), 2);
  getPixelBands(image.get(), 1, 3, pixel);
  EXPECT_EQ(std::vector<float>(pixel, pixel + 3), (std::vector<float>{4, 6, 103}));
  const unsigned char bytes[2] = {9, 8};
  EXPECT_EQ(writeByteBIPData(image.get(), 0, 0, 1, 2, nullptr, bytes), 1);
  EXPECT_EQ(putByteBIPData(image.get(), 0, 2, 0, 1, 1, bytes), 1);
  getByteBIPData(image.get(), 0, 0, 2, 1, 2, nullptr, bip);
  EXPECT_EQ(std::vector<unsigned char>(bip, bip + 4), (std::vector<unsigned char>{9, 8, 9, 8}));

  const float px[2] = {55, 66};
  const int pxBands[2] = {2, 1};
  putPixelVector(image.get(), 0, 1, 2, pxBands, px);
  getPixelBands(image.get(), 1, 0, pixel);
  EXPECT_EQ(pixel[1], 66);
  EXPECT_EQ(pixel[2], 55);
}

// A write through a file image's cache flags the line, so that write-back
// stores it in place and keeps the other pixels of the record.
TEST(Pixels, WritesReachTheFile) {
  const std::string path = tempPath("pixels-short.raw");
  std::vector<unsigned char> file = noise(16 + 2 * 3 * 4 * 2, 7);
  writeFile(path, file);
  ImageHeader header = rawHeader(path, IMG_BIL, P_SHORT, 3, 4, 2, 16, 8);
  header.msbf = 1;
  int err = -1;
  RAMIMG *image = openRAMImageFile(path.c_str(), &header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  const float value = -2.5f;
  EXPECT_EQ(putFloatBILData(image, 2, 1, 1, 1, &value), 1);
  flushRAMImage(image);
  freeRAMImage(image);
  // Row 2, band 1, column 1 of a big-endian BIL file: -3 is ff fd.
  const size_t at = 16 + (2 * 2 + 1) * 8 + 2;
  file[at] = 0xff;
  file[at + 1] = 0xfd;
  EXPECT_EQ(readFile(path), file);
}
