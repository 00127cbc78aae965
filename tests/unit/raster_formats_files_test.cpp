// The IMAGEDEF, ERDAS, ELAS, PPM, XBM and DIB formats: files made by
// outside tools, the exact bytes of written headers, round trips through
// the store, and corrupt or truncated files refused cleanly.
#include <gtest/gtest.h>
#include <limits.h>
#include <math.h>
#include <string>
#include <vector>

#include "core/text.h"
#include "tests/unit/raster_formats.h"

using namespace vesk;
using namespace rastertest;
using namespace formatstest;

namespace {

using Formats = formatstest::Formats;

// Sample `column` of a cached line, by pixel type and bit order.
int sampleAt(const ImageHeader &h, const unsigned char *line, int column) {
  switch (h.pixelid) {
  case P_1BIT: {
    const int bit = h.msbf ? 7 - column % 8 : column % 8;
    return line[column / 8] >> bit & 1;
  }
  case P_4BITS: {
    const bool high = (column % 2 == 0) == (h.msbf != 0);
    return high ? line[column / 2] >> 4 : line[column / 2] & 15;
  }
  default:
    return line[column];
  }
}

// The image's pixels in the order the tools print them: r g b for colour
// (DIB bands are blue, green, red; palettes are looked up), one grey
// value, or 1 for a black bilevel pixel.
std::vector<int> toolSamples(RAMIMG *image, bool bilevel) {
  const ImageHeader &h = image->header;
  std::vector<int> out;
  for (int row = 0; row < h.rows; row++) {
    for (int column = 0; column < h.columns; column++) {
      int v[3] = {0, 0, 0};
      for (int band = 0; band < h.nbands && band < 3; band++)
        v[band] = sampleAt(h, getRAMImageLine(image, row, band, 1), column);
      if (h.nbands == 1 && h.nindices > 0) {
        const unsigned char *rgb = h.palette[v[0]];
        if (bilevel) {
          out.push_back(rgb[0] == 0 ? 1 : 0);
        } else {
          out.insert(out.end(), {rgb[0], rgb[1], rgb[2]});
        }
      } else if (h.nbands == 1) {
        out.push_back(v[0]);
      } else if (h.imgid == IMG_DIB) {
        out.insert(out.end(), {v[2], v[1], v[0]});
      } else {
        out.insert(out.end(), {v[0], v[1], v[2]});
      }
    }
  }
  return out;
}

void putField32(std::vector<unsigned char> &b, size_t at, uint32_t v) { putU32(&b[at], v, false); }

}  // namespace

TEST_F(Formats, FilesFromOutsideTools) {
  const auto expected = expectedSamples();
  struct Case {
    const char *name;
    int imgid, pixelid, nbands;
    int64_t offset, block;
    bool bilevel;
  } cases[] = {
      {"colour.ppm", IMG_PPM, P_BYTE, 3, 11, 15, false},
      {"comment.ppm", IMG_PPM, P_BYTE, 3, 21, 15, false},
      {"grey.pgm", IMG_PPM, P_BYTE, 1, 11, 5, false},
      {"bilevel1.bmp", IMG_DIB, P_1BIT, 1, 62, 4, true},
      {"colour4.bmp", IMG_DIB, P_4BITS, 1, 54 + 4 * 16, 4, false},
      {"colour8.bmp", IMG_DIB, P_BYTE, 1, 54 + 4 * 256, 8, false},
      {"colour24.bmp", IMG_DIB, P_BYTE, 3, 54, 16, false},
      {"topdown24.bmp", IMG_DIB, P_BYTE, 3, 54, 16, false},
      {"im24.bmp", IMG_DIB, P_BYTE, 3, 138, 16, false},
      {"im4.bmp", IMG_DIB, P_4BITS, 1, 202, 4, false},
      {"im1.bmp", IMG_DIB, P_1BIT, 1, 130, 4, true},
      {"colour.lan", IMG_E74, P_BYTE, 3, 128, 5, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RAMIMG *image = openFile(fixturePath(c.name));
    if (!image) continue;
    const ImageHeader &h = image->header;
    EXPECT_EQ(h.imgid, c.imgid);
    EXPECT_EQ(h.pixelid, c.pixelid);
    EXPECT_EQ(h.nbands, c.nbands);
    EXPECT_EQ(h.rows, 3);
    EXPECT_EQ(h.columns, 5);
    EXPECT_EQ(h.offset, c.offset);
    EXPECT_EQ(h.block, c.block);
    EXPECT_EQ(h.mapid, MAPID_GRID);
    ASSERT_EQ(expected.count(c.name), 1u);
    EXPECT_EQ(toolSamples(image, c.bilevel), expected.at(c.name));
    closeFile(image);
  }
  // The XBM's size, palette and bits, decoded whole.
  ImageHeader x;
  EXPECT_EQ(sniffPath(fixturePath("bilevel.xbm"), &x), IMG_XBMP);
  EXPECT_EQ(x.block, 1);
  EXPECT_EQ(x.nindices, 2);
  EXPECT_EQ(x.pixelid, P_1BIT);
  RAMIMG *image = openFile(fixturePath("bilevel.xbm"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.columns, 5);
  EXPECT_EQ(image->header.rows, 3);
  EXPECT_EQ(toolSamples(image, true), expected.at("bilevel.xbm"));
  closeFile(image);
}

TEST_F(Formats, XbmIsRewrittenWholeAndShortTextsLeaveZeros) {
  const auto expected = expectedSamples();
  const std::string path = tempPath("edit.xbm");
  writeFile(path, fixture("bilevel.xbm"));
  RAMIMG *image = openFile(path);
  ASSERT_NE(image, nullptr);
  unsigned char *line = getRAMImageLine(image, 1, 0, 1);
  ASSERT_NE(line, nullptr);
  line[0] = 0x1f;  // the middle row all black
  setRAMImageDirty(image, 1, 0);
  closeFile(image);
  const std::vector<unsigned char> text = readFile(path);
  EXPECT_NE(std::string(text.begin(), text.end()).find("#define xbmp_width 5"), std::string::npos);
  image = openFile(path);
  ASSERT_NE(image, nullptr);
  std::vector<int> samples = toolSamples(image, true);
  std::vector<int> want = expected.at("bilevel.xbm");
  for (int column = 0; column < 5; column++) want[5 + column] = 1;
  EXPECT_EQ(samples, want);
  closeFile(image);

  // A text that ends after the first row: the rest reads as zeros.
  const std::string shortText =
      "#define a_width 5\n#define a_height 3\nstatic char a_bits[] = {\n 0x0d, 0x00,"
      "                                                    ";
  writeFile(path, std::vector<unsigned char>(shortText.begin(), shortText.end()));
  image = openFile(path);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(readXbmImage(image), 0);
  EXPECT_EQ(image->cache[0], 0x0d);
  EXPECT_EQ(image->cache[image->lineBytes], 0);
  closeFile(image);
}

TEST_F(Formats, CompressedAndOddDibsAreRefused) {
  EXPECT_EQ(errorsOf([] { EXPECT_EQ(sniffPath(fixturePath("rle8.bmp")), 0); }),
            "Can't read a compressed DIB (compression 1, RLE8).\n");
  std::vector<unsigned char> dib = fixture("colour24.bmp");
  putU16(&dib[28], 16, false);
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(sniffBytes(dib), 0); }),
            "Error in initDIB_Bi: invalid BitCount.\n");
  std::vector<unsigned char> eight = fixture("colour8.bmp");
  putField32(eight, 46, 70000);
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(sniffBytes(eight), 0); }),
            "Wrong value for colors used: 70000\n");
}

// Every shorter copy of each fixture, and copies with a field set out of
// range, are not images (checked under the sanitizers for over-reads).
TEST_F(Formats, TruncatedAndCorruptFilesAreRefused) {
  for (const char *name : {"colour.ppm", "comment.ppm", "grey.pgm", "bilevel1.bmp", "colour4.bmp",
                           "colour8.bmp", "colour24.bmp", "topdown24.bmp", "im24.bmp", "im4.bmp",
                           "im1.bmp", "colour.lan"}) {
    SCOPED_TRACE(name);
    const std::vector<unsigned char> whole = fixture(name);
    ASSERT_FALSE(whole.empty());
    const std::string path = tempPath("cut.bin");
    writeFile(path, whole);
    for (size_t n = whole.size(); n-- > 0;) {
      ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(n)), 0);
      ASSERT_EQ(sniffPath(path), 0) << "cut to " << n;
    }
  }
  // An XBM cut inside its defines is no XBM; cut later, its size is read.
  const std::vector<unsigned char> xbm = fixture("bilevel.xbm");
  for (size_t n = 0; n < xbm.size(); n++) {
    const int result = sniffBytes(std::vector<unsigned char>(xbm.begin(), xbm.begin() + n));
    EXPECT_EQ(result, n >= 46 && n >= 2 * 3 ? IMG_XBMP : 0) << n;
  }

  struct Mutation {
    const char *name;
    size_t at;
    int width;  // 2 or 4 bytes, little-endian
    uint32_t value;
  } mutations[] = {
      {"colour24.bmp", 18, 4, 0},                       // width 0
      {"colour24.bmp", 18, 4, static_cast<uint32_t>(-5)},
      {"colour24.bmp", 18, 4, 0x7fffffff},              // pixels past the end
      {"colour24.bmp", 22, 4, 0},                       // height 0
      {"colour24.bmp", 22, 4, 0x80000000},              // INT_MIN height
      {"colour24.bmp", 22, 4, static_cast<uint32_t>(-4)},
      {"colour24.bmp", 10, 4, 0xfffffff0},              // pixel offset past the end
      {"colour24.bmp", 10, 4, 20},                      // pixels inside the headers
      {"colour24.bmp", 14, 4, 0xffffffff},              // info header size
      {"colour24.bmp", 14, 4, 39},
      {"im24.bmp", 14, 4, 5000},
      {"colour8.bmp", 10, 4, 600},                      // pixels inside the palette
      {"colour8.bmp", 46, 4, 257},
      {"colour4.bmp", 46, 4, 17},
      {"colour.lan", 6, 2, 9},                          // unknown pack type
      {"colour.lan", 6, 2, 0xffff},
      {"colour.lan", 8, 2, 0},                          // no bands
      {"colour.lan", 8, 2, 0x8000},
      {"colour.lan", 16, 4, 0},                         // no columns
      {"colour.lan", 20, 4, static_cast<uint32_t>(-1)}, // negative rows
      {"colour.lan", 20, 4, 0x7fffffff},
      {"colour.lan", 16, 4, 0x40000000},
  };
  for (const Mutation &m : mutations) {
    SCOPED_TRACE(std::string(m.name) + " at " + std::to_string(m.at) + " = " +
                 std::to_string(m.value));
    std::vector<unsigned char> bytes = fixture(m.name);
    if (m.width == 2) putU16(&bytes[m.at], m.value, false);
    else putU32(&bytes[m.at], m.value, false);
    errorsOf([&] { EXPECT_EQ(sniffBytes(bytes), 0); });
  }
  // PPM and XBM texts with sizes that are not images.
  for (const char *text : {"P6\n0 3\n255\n", "P6\n5 -3\n255\n", "P6\n99999999 99999999\n255\n",
                           "P5\n5 3x\n255\n", "P7\n5 3\n255\n",
                           "P6\n5 3\n2555555555555555555555555555555 ",
                           "#define a_width 0\n#define a_height 3\n{0,0,0};",
                           "#define a_width x5\n#define a_height 3\n{0,0,0};",
                           "#define a_width 5\n#define a_height 2000000000\n{0,0,0};"}) {
    SCOPED_TRACE(text);
    std::vector<unsigned char> bytes(text, text + strlen(text));
    bytes.resize(bytes.size() + 45, 7);
    EXPECT_EQ(sniffBytes(bytes), 0);
  }
}

TEST_F(Formats, PpmHeaderText) {
  // Valid headers end with the blank or newline after the maximum: the
  // data offset is the whole text.
  const std::string digits32 = "P5 " + std::string(22, '0') + "2 2 255";  // 32 characters
  struct Case {
    std::string text;
    bool valid;
    int rows, columns, nbands;
  } cases[] = {
      {"P6\n#comment1\n2 2\n255\n", true, 2, 2, 3},   // offset 21
      {"P6\n#comment1\n2  2\n255\n", true, 2, 2, 3},  // offset 22
      {"P5 2 2 65535\n", true, 2, 2, 1},                  // still read as bytes
      {"P6\t3\r\n1 # a comment at a token's start\n255 ", true, 1, 3, 3},
      {"P5\n    \n\n2\n3\n# late comment\n7\n", true, 3, 2, 1},
      {digits32 + "\n", true, 2, 2, 1},
      {"P5 0" + digits32.substr(3) + "\n", false, 0, 0, 0},  // 33 characters
      {"P6\n2#3 2\n255\n", false, 0, 0, 0},
      {"P6\n2 2\n", false, 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<unsigned char> bytes(c.text.begin(), c.text.end());
    bytes.resize(bytes.size() + 12, 9);
    ImageHeader h;
    initImageHeader(&h);
    const int64_t size = static_cast<int64_t>(bytes.size());
    EXPECT_EQ(parsePpmHeader(bytes.data(), size, size, &h), c.valid ? IMG_PPM : 0);
    if (!c.valid) continue;
    EXPECT_EQ(h.offset, static_cast<int64_t>(c.text.size()));
    EXPECT_EQ(h.rows, c.rows);
    EXPECT_EQ(h.columns, c.columns);
    EXPECT_EQ(h.nbands, c.nbands);
    EXPECT_EQ(h.dx, 1.0);
  }
  EXPECT_EQ(std::string("P6\n#comment1\n2 2\n255\n").size(), 21u);
}

TEST_F(Formats, ErdasAndElasHeaders) {
  // An old header: sizes as floats, 100.9 rows are 100; mapid 0 is GRID.
  std::vector<unsigned char> e73(128 + 100 * 3, 0);
  memcpy(e73.data(), "HEADER", 6);
  putU16(&e73[6], 0, false);
  putU16(&e73[8], 1, false);
  putF32(&e73[16], 3.0f, false);
  putF32(&e73[20], 100.9f, false);
  putF32(&e73[120], 30.0f, false);
  ImageHeader h;
  initImageHeader(&h);
  EXPECT_EQ(parseErdasHeader(e73.data(), 128, static_cast<int64_t>(e73.size()), &h), IMG_E73);
  EXPECT_EQ(h.rows, 100);
  EXPECT_EQ(h.columns, 3);
  EXPECT_EQ(h.mapid, MAPID_GRID);
  EXPECT_EQ(h.dx, 30.0);
  EXPECT_EQ(h.transparent, -1);
  putF32(&e73[20], NAN, false);
  EXPECT_EQ(parseErdasHeader(e73.data(), 128, static_cast<int64_t>(e73.size()), &h), 0);
  putF32(&e73[20], 0.5f, false);
  EXPECT_EQ(parseErdasHeader(e73.data(), 128, static_cast<int64_t>(e73.size()), &h), 0);
  // 4-bit data: high nibble first.
  std::vector<unsigned char> e74(128 + 2 * 2, 0);
  memcpy(e74.data(), "E74BSQ", 6);
  putU16(&e74[6], 1, false);
  putU16(&e74[8], 2, false);
  putU32(&e74[16], 3, false);
  putU32(&e74[20], 1, false);
  putU16(&e74[92], 35, false);
  EXPECT_EQ(parseErdasHeader(e74.data(), 128, 132, &h), IMG_E74BSQ);
  EXPECT_EQ(h.msbf, 1);
  EXPECT_EQ(h.block, 2);
  EXPECT_EQ(h.mapid, 35);
  EXPECT_EQ(parseErdasHeader(e74.data(), 128, 131, &h), 0);

  // ELAS: host order, 4321 at byte 28, rows and columns from line ranges.
  std::vector<unsigned char> elas(1024 + 2 * 3 * 512, 0);
  const bool host = msbFirst() != 0;
  const int fields[][2] = {{0, 1024}, {4, 512}, {8, 11}, {12, 13}, {16, 5}, {20, 104},
                           {24, 2}, {28, 4321}, {36, 4000}, {44, 300}};
  for (const auto &f : fields) putU32(&elas[f[0]], static_cast<uint32_t>(f[1]), host);
  putF32(&elas[48], 2.5f, host);
  putF32(&elas[52], 1.5f, host);
  initImageHeader(&h);
  EXPECT_EQ(parseElasHeader(elas.data(), 1024, static_cast<int64_t>(elas.size()), &h), IMG_ELAS);
  EXPECT_EQ(h.rows, 3);
  EXPECT_EQ(h.columns, 100);
  EXPECT_EQ(h.top, 11);
  EXPECT_EQ(h.left, 5);
  EXPECT_EQ(h.nbands, 2);
  EXPECT_EQ(h.block, 512);
  EXPECT_EQ(h.y0, 4000.0);
  EXPECT_EQ(h.x0, 300.0);
  EXPECT_EQ(h.dy, 2.5);
  EXPECT_EQ(h.dx, 1.5);
  EXPECT_EQ(sniffBytes(elas), IMG_ELAS);
  for (const auto &bad : std::vector<std::pair<int, int>>{
           {12, 10}, {20, 4}, {4, 99}, {24, 0}, {0, 4000}, {12, INT_MAX}, {8, INT_MIN}}) {
    SCOPED_TRACE(bad.first);
    std::vector<unsigned char> copy = elas;
    putU32(&copy[bad.first], static_cast<uint32_t>(bad.second), host);
    EXPECT_EQ(sniffBytes(copy), 0);
  }
  for (size_t n : {0, 27, 1023, 1024 + 3071})
    EXPECT_EQ(sniffBytes(std::vector<unsigned char>(elas.begin(), elas.begin() + n)), 0) << n;
}

TEST_F(Formats, WrittenHeaderBytes) {
  const std::string path = tempPath("header.bin");
  auto fresh = [&] {
    writeFile(path, {});
    return open(path.c_str(), O_RDWR);
  };

  // PPM: the text only.
  int fd = fresh();
  ImageHeader ppm = rawHeader(path, IMG_PPM, P_SHORT, 3, 5, 4, 0, 0);
  EXPECT_EQ(writeImageHeader(fd, 1, &ppm), 11);
  close(fd);
  EXPECT_EQ(readFile(path), std::vector<unsigned char>({'P', '6', '\n', '5', ' ', '3', '\n', '2',
                                                        '5', '5', '\n'}));
  EXPECT_EQ(ppm.nbands, 3);
  EXPECT_EQ(ppm.pixelid, P_BYTE);
  EXPECT_EQ(ppm.block, 15);
  ppm.nbands = 1;
  fd = fresh();
  EXPECT_EQ(writePpmHeader(fd, &ppm), 11);
  close(fd);
  EXPECT_EQ(readFile(path)[1], '5');

  // E74: 128 little-endian bytes at the offsets of the format.
  ImageHeader e = rawHeader(path, IMG_E74, P_USHORT, 7, 9, 2, 0, 0);
  e.imgtype = 3;
  e.zscale = 0.5;
  e.top = 11;
  e.left = 12;
  e.z0 = 1;
  e.zmin = 2;
  e.zmax = 3;
  e.mapid = 35;
  e.x0 = 1000;
  e.y0 = 2000;
  e.dx = 30;
  e.dy = 40;
  fd = fresh();
  EXPECT_EQ(writeImageHeader(fd, 1, &e), 128);
  close(fd);
  std::vector<unsigned char> want(128, 0);
  memcpy(want.data(), "HEAD74", 6);
  putU16(&want[6], 2, false);
  putU16(&want[8], 2, false);
  putU16(&want[10], 3, false);
  putF32(&want[12], 0.5f, false);
  putU32(&want[16], 9, false);
  putU32(&want[20], 7, false);
  putU32(&want[24], 12, false);
  putU32(&want[28], 11, false);
  putF32(&want[32], 1, false);
  putF32(&want[36], 2, false);
  putF32(&want[40], 3, false);
  putU16(&want[92], 35, false);
  putF32(&want[112], 1000, false);
  putF32(&want[116], 2000, false);
  putF32(&want[120], 30, false);
  putF32(&want[124], 40, false);
  EXPECT_EQ(readFile(path), want);
  EXPECT_EQ(e.offset, 128);
  EXPECT_EQ(e.block, 18);
  // E73 keeps its sizes as floats; a 4-bit line is (4 x columns + 4) / 8.
  e.imgid = IMG_E73;
  e.pixelid = P_4BITS;
  fd = fresh();
  EXPECT_EQ(writeImageHeader(fd, 0, &e), 128);
  close(fd);
  std::vector<unsigned char> e73 = readFile(path);
  EXPECT_EQ(memcmp(e73.data(), "HEADER", 6), 0);
  EXPECT_EQ(getF32(&e73[16], false), 9.0f);
  EXPECT_EQ(getF32(&e73[20], false), 7.0f);
  EXPECT_EQ(e.block, 5);

  // IMAGEDEF: 1152 bytes in host order, zeros up to a larger data offset.
  ImageHeader d = rawHeader(path, IMG_BIP, P_FLOAT, 4, 6, 3, 2000, 0);
  d.mapid = 40;
  d.imgtype = 2;
  d.top = -3;
  d.left = 8;
  d.x0 = 1.25;
  d.dy = -0.5;
  d.zmax = 99;
  d.nindices = 2;
  d.palette[1][0] = 200;
  d.msbf = 1;
  snprintf(d.note, sizeof d.note, "a note");
  fd = fresh();
  EXPECT_EQ(writeImageHeader(fd, 1, &d), 2000);
  close(fd);
  std::vector<unsigned char> b = readFile(path);
  ASSERT_EQ(b.size(), 2000u);
  const bool host = msbFirst() != 0;
  EXPECT_EQ(std::string(reinterpret_cast<char *>(b.data())),
            host ? "IMAGEDEF_MSBF" : "IMAGEDEF_MSBL");
  const int ints[][2] = {{16, 1}, {20, IMG_BIP}, {24, 40}, {28, 2}, {32, 2000}, {36, P_FLOAT},
                         {40, 3}, {44, 4}, {48, 6}, {52, -3}, {56, 8}, {124, 2}};
  for (const auto &f : ints) EXPECT_EQ(getI32(&b[f[0]], host), f[1]) << f[0];
  EXPECT_EQ(getF64(&b[60], host), 1.25);
  EXPECT_EQ(getF64(&b[100], host), 99.0);
  EXPECT_EQ(getF64(&b[116], host), -0.5);
  EXPECT_EQ(b[128 + 3], 200);
  EXPECT_EQ(b[128 + 10], 3);  // the whole palette is written (a grey ramp here)
  EXPECT_EQ(std::string(reinterpret_cast<char *>(&b[896])), "a note");
  for (size_t i = 1152; i < b.size(); i++) ASSERT_EQ(b[i], 0) << i;
  EXPECT_EQ(d.block, 6 * 4 * 3);
  // A data offset of 0 or less still leaves the pixels after the header.
  d.offset = 0;
  fd = fresh();
  EXPECT_EQ(writeImageHeader(fd, 1, &d), 1152);
  close(fd);
  EXPECT_EQ(d.offset, 1152);
  // Headerless raw layouts: nothing written, no offset, no palette.
  d.imgid = IMG_BSQD;
  fd = fresh();
  EXPECT_EQ(writeImageHeader(fd, 1, &d), 0);
  close(fd);
  EXPECT_EQ(d.offset, 0);
  EXPECT_EQ(d.nindices, 0);
  EXPECT_EQ(readFile(path).size(), 0u);

  // DIB: 54 bytes of headers, the palette and the georeference string.
  char proj[kProjStringSize];
  struct Case {
    int pixelid, nbands, paletteCount, bitCount;
    int64_t rowBytes;
  } cases[] = {{P_BYTE, 1, 256, 8, 12}, {P_BYTE, 3, 0, 24, 28}, {P_1BIT, 1, 2, 1, 4},
               {P_4BITS, 1, 16, 4, 8}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bitCount);
    ImageHeader h = rawHeader(path, IMG_DIB, c.pixelid, 2, 9, c.nbands, 0, 0);
    const int g = formatProjString(&h, proj, sizeof proj);
    EXPECT_EQ(g, 35);
    fd = fresh();
    const int offset = 54 + 4 * c.paletteCount + g;
    EXPECT_EQ(writeImageHeader(fd, 1, &h), offset);
    close(fd);
    std::vector<unsigned char> f = readFile(path);
    ASSERT_EQ(f.size(), static_cast<size_t>(offset));
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(getU32(&f[2], false), offset + 2 * c.rowBytes);
    EXPECT_EQ(getU32(&f[6], false), 0u);
    EXPECT_EQ(getU32(&f[10], false), static_cast<uint32_t>(offset));
    EXPECT_EQ(getU32(&f[14], false), 40u);
    EXPECT_EQ(getI32(&f[18], false), 9);
    EXPECT_EQ(getI32(&f[22], false), 2);
    EXPECT_EQ(getU16(&f[26], false), 1);
    EXPECT_EQ(getU16(&f[28], false), c.bitCount);
    for (int at = 30; at < 54; at++) EXPECT_EQ(f[at], 0) << at;
    for (int i = 0; i < c.paletteCount; i++) {  // the grey ramp without a palette
      EXPECT_EQ(f[54 + 4 * i], i);
      EXPECT_EQ(f[54 + 4 * i + 3], 0);
    }
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&f[54 + 4 * c.paletteCount])), proj);
    EXPECT_EQ(h.block, c.rowBytes);
    EXPECT_EQ(h.offset, offset);
    EXPECT_EQ(h.nbands, c.nbands == 1 ? 1 : 3);
  }
  ImageHeader shorts = rawHeader(path, IMG_DIB, P_SHORT, 2, 2, 1, 0, 0);
  fd = fresh();
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(writeImageHeader(fd, 0, &shorts), -1); }),
            "Can't write a DIB of pixel type SHORT.\n");
  close(fd);
}

TEST_F(Formats, ImagedefOfTheOtherByteOrder) {
  const std::string path = tempPath("order.bsq");
  ImageHeader h = rawHeader(path, IMG_BSQ, P_LONG, 2, 3, 2, 0, 0);
  h.x0 = 123.5;
  h.zscale = -2;
  h.nindices = 3;
  h.palette[2][1] = 77;
  h.msbf = 1;
  ASSERT_EQ(createImageFile(&h), 1152);
  std::vector<unsigned char> b = readFile(path);
  ImageHeader mine, other;
  initImageHeader(&mine);
  initImageHeader(&other);
  ASSERT_EQ(parseImagedefHeader(b.data(), 1152, static_cast<int64_t>(b.size()), &mine), IMG_BSQ);
  // The same header as a host of the other order writes it.
  swapImagedefHeader(b.data());
  memcpy(b.data(), msbFirst() ? "IMAGEDEF_MSBL" : "IMAGEDEF_MSBF", 14);
  ASSERT_EQ(parseImagedefHeader(b.data(), 1152, static_cast<int64_t>(b.size()), &other), IMG_BSQ);
  EXPECT_EQ(memcmp(&mine, &other, sizeof mine), 0);
  EXPECT_EQ(other.x0, 123.5);
  EXPECT_EQ(other.zscale, -2.0);
  EXPECT_EQ(other.msbf, 1);
  EXPECT_EQ(other.palette[2][1], 77);
  EXPECT_EQ(other.block, 12);
  // Fields that describe no image, or more data than the file holds.
  const std::vector<unsigned char> good = readFile(path);
  const bool host = msbFirst() != 0;
  for (const auto &bad : std::vector<std::pair<int, int>>{
           {20, 4}, {20, 0}, {36, 0}, {36, 10}, {40, 0}, {44, -2}, {48, 0}, {124, 257},
           {124, -1}, {32, 1 << 30}, {32, -1}, {48, INT_MAX}}) {
    SCOPED_TRACE(std::to_string(bad.first) + " = " + std::to_string(bad.second));
    std::vector<unsigned char> copy = good;
    putU32(&copy[bad.first], static_cast<uint32_t>(bad.second), host);
    EXPECT_EQ(sniffBytes(copy), 0);
  }
  // A pixel-interleaved record (row bytes times bands) past int64.
  std::vector<unsigned char> huge = good;
  for (const auto &field : std::vector<std::pair<int, int>>{
           {20, IMG_BIP}, {36, 6}, {40, INT_MAX}, {44, INT_MAX}, {48, INT_MAX}})
    putU32(&huge[field.first], static_cast<uint32_t>(field.second), host);
  EXPECT_EQ(sniffBytes(huge), 0);
  std::vector<unsigned char> noTerminator = good;
  memset(&noTerminator[896], 'n', 256);
  ImageHeader n;
  EXPECT_EQ(sniffBytes(noTerminator, &n), IMG_BSQ);
  EXPECT_EQ(strlen(n.note), 255u);
  for (size_t cut : {0, 13, 1151, 1152 + 47}) {
    EXPECT_EQ(sniffBytes(std::vector<unsigned char>(good.begin(), good.begin() + cut)), 0) << cut;
  }
}

// Files made by the writers read back with their fields and pixels.
TEST_F(Formats, RoundTrips) {
  struct Case {
    const char *name;
    int imgid, pixelid, nbands;
  } cases[] = {
      {"rt.bsq", IMG_BSQ, P_SHORT, 2}, {"rt.bil", IMG_BIL, P_FLOAT, 3},
      {"rt.bip", IMG_BIP, P_USHORT, 2}, {"rt.lan", IMG_E74, P_USHORT, 2},
      {"rt.bsq.lan", IMG_E74BSQ, P_LONG, 2}, {"rt73.lan", IMG_E73, P_BYTE, 1},
      {"rt.ppm", IMG_PPM, P_BYTE, 3}, {"rt.pgm", IMG_PPM, P_BYTE, 1},
      {"rt24.bmp", IMG_DIB, P_BYTE, 3}, {"rt8.bmp", IMG_DIB, P_BYTE, 1},
      {"rt4.bmp", IMG_DIB, P_4BITS, 1}, {"rt1.bmp", IMG_DIB, P_1BIT, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tempPath(c.name);
    ImageHeader templ = rawHeader(path, c.imgid, c.pixelid, 5, 7, c.nbands, 0, 0);
    templ.mapid = 35;
    templ.x0 = 500000.5;
    templ.y0 = 4.5e6;
    templ.dx = 30;
    templ.dy = 30;
    ASSERT_GT(createImageFile(&templ), 0);
    RAMIMG *image = openFile(path);
    ASSERT_NE(image, nullptr);
    const int64_t lineBytes = image->lineBytes;
    for (int row = 0; row < 5; row++) {
      for (int band = 0; band < c.nbands; band++) {
        unsigned char *line = getRAMImageLine(image, row, band, 1);
        ASSERT_NE(line, nullptr);
        for (int64_t i = 0; i < lineBytes; i++)
          line[i] = static_cast<unsigned char>(row * 37 + band * 11 + i * 3 + 1);
        setRAMImageDirty(image, row, band);
      }
    }
    const ImageHeader written = image->header;
    closeFile(image);

    ImageHeader back;
    ASSERT_EQ(sniffPath(path, &back), c.imgid);
    EXPECT_EQ(back.rows, 5);
    EXPECT_EQ(back.columns, 7);
    EXPECT_EQ(back.nbands, c.nbands);
    EXPECT_EQ(back.pixelid, c.pixelid);
    EXPECT_EQ(back.offset, written.offset);
    EXPECT_EQ(back.block, written.block);
    if (c.imgid != IMG_PPM) {  // PPM carries no map position
      EXPECT_EQ(back.mapid, 35);
      EXPECT_EQ(back.x0, 500000.5);
      EXPECT_EQ(back.y0, 4.5e6);
      EXPECT_EQ(back.dx, 30.0);
    }
    image = openFile(path);
    ASSERT_NE(image, nullptr);
    for (int row = 0; row < 5; row++) {
      for (int band = 0; band < c.nbands; band++) {
        const unsigned char *line = getRAMImageLine(image, row, band, 1);
        ASSERT_NE(line, nullptr);
        for (int64_t i = 0; i < lineBytes; i++)
          ASSERT_EQ(line[i], static_cast<unsigned char>(row * 37 + band * 11 + i * 3 + 1))
              << row << " " << band << " " << i;
      }
    }
    closeFile(image);
  }
}

TEST_F(Formats, DibPaletteAndGeoreference) {
  const std::string path = tempPath("geo.bmp");
  ImageHeader templ = rawHeader(path, IMG_DIB, P_BYTE, 3, 4, 1, 0, 0);
  templ.mapid = getMapid("PCS32633");
  templ.x0 = 399960.123456789;
  templ.y0 = 5000040.5;
  templ.dx = 0.1;
  templ.dy = 1.0 / 3;
  templ.nindices = 3;
  const unsigned char colours[3][3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  memcpy(templ.palette, colours, sizeof colours);
  ASSERT_GT(createImageFile(&templ), 0);
  ImageHeader back;
  ASSERT_EQ(sniffPath(path, &back), IMG_DIB);
  EXPECT_EQ(back.mapid, 32633);
  EXPECT_EQ(back.x0, templ.x0);
  EXPECT_EQ(back.y0, templ.y0);
  EXPECT_EQ(back.dx, templ.dx);
  EXPECT_EQ(back.dy, templ.dy);
  // The given colours, then zero quads up to 256.
  EXPECT_EQ(back.nindices, 256);
  EXPECT_EQ(memcmp(back.palette, colours, sizeof colours), 0);
  EXPECT_EQ(back.palette[3][0] + back.palette[255][2], 0);

  // The trailer puts a whole palette in; the fourth byte of a quad stays.
  const int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  const unsigned char marker = 0x5a;
  ASSERT_EQ(pwrite(fd, &marker, 1, 54 + 4 * 9 + 3), 1);
  ImageHeader full = back;
  for (int i = 0; i < 256; i++) full.palette[i][0] = static_cast<unsigned char>(255 - i);
  EXPECT_EQ(writeImageTrailer(fd, &full, nullptr), 256);
  ImageHeader wrong = full;
  wrong.nindices = 255;
  EXPECT_EQ(writeImageTrailer(fd, &wrong, nullptr), 0);
  wrong = full;
  wrong.pixelid = P_4BITS;
  EXPECT_EQ(writeImageTrailer(fd, &wrong, nullptr), 0);
  close(fd);
  std::vector<unsigned char> bytes = readFile(path);
  EXPECT_EQ(bytes[54 + 4 * 9 + 2], 255 - 9);
  EXPECT_EQ(bytes[54 + 4 * 9 + 3], marker);
  ASSERT_EQ(sniffPath(path, &back), IMG_DIB);
  EXPECT_EQ(back.palette[200][0], 55);
  EXPECT_EQ(back.mapid, 32633);  // the georeference is untouched

  // A 4-bit image whose header has 2 entries gets no trailer palette.
  const std::string four = tempPath("four.bmp");
  ImageHeader f4 = rawHeader(four, IMG_DIB, P_4BITS, 2, 3, 1, 0, 0);
  ASSERT_GT(createImageFile(&f4), 0);
  const std::vector<unsigned char> before = readFile(four);
  f4.nindices = 2;
  const int fd4 = open(four.c_str(), O_RDWR);
  EXPECT_EQ(writeImageTrailer(fd4, &f4, nullptr), 0);
  close(fd4);
  EXPECT_EQ(readFile(four), before);

  // A gap of 300 bytes carries no georeference.
  std::vector<unsigned char> dib = fixture("colour24.bmp");
  std::string text = "vesk proj:UTM33 x0:1 y0:2 dx:3 dy:4";
  text.resize(300, '\0');
  dib.insert(dib.begin() + 54, text.begin(), text.end());
  putU32(&dib[10], 54 + 300, false);
  ASSERT_EQ(sniffBytes(dib, &back), IMG_DIB);
  EXPECT_EQ(back.mapid, MAPID_GRID);
  EXPECT_EQ(back.x0, 0.0);
  dib.erase(dib.begin() + 54 + 100, dib.begin() + 54 + 300);
  putU32(&dib[10], 54 + 100, false);
  ASSERT_EQ(sniffBytes(dib, &back), IMG_DIB);
  EXPECT_EQ(back.mapid, getMapid("UTM33"));
  EXPECT_EQ(back.dy, 4.0);
}
