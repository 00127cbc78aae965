// DICOM files: fixtures made by dcmtk (explicit and implicit VR, with and
// without preamble and meta header, sequences, frames, run-length palette
// frames, RGB), element tables built byte by byte for the walk's rules,
// and truncated or damaged files refused or read without a fault.
#include <gtest/gtest.h>
#include <string.h>
#include <random>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "raster/dicom.h"
#include "tests/unit/raster_formats.h"

using namespace vesk;
using namespace rastertest;
using namespace formatstest;

namespace {

using Dicom = formatstest::Formats;

std::string dicomPath(const std::string &name) { return dataPath("dicom", name); }

// Every sample of one band, row by row, as ints.
std::vector<int> bandValues(RAMIMG *image, int band) {
  const ImageHeader &h = image->header;
  std::vector<int> out;
  for (int row = 0; row < h.rows; row++) {
    const unsigned char *line = getRAMImageLine(image, row, band, 1);
    for (int c = 0; c < h.columns; c++) {
      switch (h.pixelid) {
      case P_SHORT: {
        int16_t v;
        memcpy(&v, line + 2 * c, 2);
        out.push_back(v);
        break;
      }
      default: out.push_back(line[c]); break;
      }
    }
  }
  return out;
}

Tcl_HashTable *walkFile(const std::string &path, int64_t *offset = nullptr) {
  const std::vector<unsigned char> bytes = readFile(path);
  int64_t unused = 0;
  return readDicomElementsFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size()),
                                     offset ? offset : &unused);
}

std::string textOf(Tcl_HashTable *table, int group, int element) {
  DicomElementNode *node = findDicomElement(table, group, element);
  return node ? reinterpret_cast<const char *>(getDicomElementValue(node)) : "(absent)";
}

// Byte-by-byte DICOM: preamble, "DICM", then explicit-VR elements.
struct DicomBytes {
  std::vector<unsigned char> bytes = std::vector<unsigned char>(128, 0);
  DicomBytes() { text("DICM"); }
  void u16(int v) { bytes.push_back(v & 255), bytes.push_back(v >> 8 & 255); }
  void u32(uint32_t v) { u16(v & 0xffff), u16(v >> 16); }
  void text(const std::string &s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
  void tag(int group, int element) { u16(group), u16(element); }
  DicomBytes &element(int group, int element, const std::string &vr, const std::string &value) {
    tag(group, element);
    text(vr);
    if (vr == "OB" || vr == "OW" || vr == "SQ" || vr == "UN" || vr == "UT") {
      u16(0);
      u32(static_cast<uint32_t>(value.size()));
    } else {
      u16(static_cast<int>(value.size()));
    }
    text(value);
    return *this;
  }
  DicomBytes &us(int group, int element, int v) {
    return this->element(group, element, "US", std::string{char(v & 255), char(v >> 8)});
  }
  DicomBytes &item(int element, uint32_t length) {
    tag(0xfffe, element);
    u32(length);
    return *this;
  }
  DicomBytes &undefinedSequence(int group, int element) {
    tag(group, element);
    text("SQ");
    u16(0);
    u32(0xffffffffu);
    return *this;
  }
  // A BYTE image of 2 x 2 pixels (unless told otherwise): the group 0028
  // elements and four pixel bytes.
  DicomBytes &image(int rows = 2, int bits = 8) {
    us(0x0028, 0x0002, 1).us(0x0028, 0x0010, rows).us(0x0028, 0x0011, 2).us(0x0028, 0x0100, bits);
    return element(0x7fe0, 0x0010, "OB", std::string("\x01\x02\x03\x04", 4));
  }
};

TEST(DicomVR, NamesAndCodes) {
  EXPECT_STREQ(getDicomVRName(0), "RT");
  EXPECT_STREQ(getDicomVRName(15), "PN");
  EXPECT_STREQ(getDicomVRName(26), "UT");
  EXPECT_STREQ(getDicomVRName(27), "??");
  EXPECT_STREQ(getDicomVRName(-1), "??");
  EXPECT_EQ(getDicomVR("PN"), VR_PN);
  EXPECT_EQ(getDicomVR("US"), VR_US);
  EXPECT_EQ(getDicomVR("XX"), 0);
}

TEST_F(Dicom, SignedWordsWithSpacingAndSequence) {
  ImageHeader h;
  ASSERT_EQ(sniffPath(dicomPath("mono16.dcm"), &h), IMG_DICOM);
  EXPECT_EQ(h.rows, 3);
  EXPECT_EQ(h.columns, 4);
  EXPECT_EQ(h.nbands, 1);
  EXPECT_EQ(h.pixelid, P_SHORT);
  EXPECT_EQ(h.bits, 16);
  EXPECT_EQ(h.block, 8);
  EXPECT_EQ(h.mapid, MAPID_GRID);
  EXPECT_EQ(h.volumes, 0);
  EXPECT_EQ(h.msbf, 0);  // High Bit 15
  // PixelSpacing 0.5\0.25 is row spacing, then column spacing.
  EXPECT_DOUBLE_EQ(h.dx, 0.25);
  EXPECT_DOUBLE_EQ(h.dy, 0.5);
  EXPECT_EQ(h.offset, static_cast<int64_t>(readFile(dicomPath("mono16.dcm")).size()) - 24);

  RAMIMG *image = openFile(dicomPath("mono16.dcm"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(bandValues(image, 0),
            (std::vector<int>{-300, -1, 0, 1, 2, 100, 1000, 32767, -32768, 5, 6, 7}));
  EXPECT_EQ(image->frameDelay, 0);
  closeFile(image);
}

TEST(DicomWalk, UndefinedSequenceChainsItsItems) {
  Tcl_HashTable *table = walkFile(dicomPath("mono16.dcm"));
  ASSERT_NE(table, nullptr);
  DicomElementNode *sequence = findDicomElement(table, 0x0008, 0x1140);
  ASSERT_NE(sequence, nullptr);
  EXPECT_EQ(sequence->length, -1);
  EXPECT_EQ(sequence->vr, VR_SQ);
  // The sequence, two items of two elements with their delimiters, then
  // the Sequence Delimitation.
  std::vector<std::pair<int, int>> chain;
  for (DicomElementNode *n = sequence; n; n = n->next)
    chain.push_back({dicomNodeGroup(n), dicomNodeElement(n)});
  const std::vector<std::pair<int, int>> expected = {
      {0x0008, 0x1140}, {0xfffe, 0xe000}, {0x0008, 0x1150}, {0x0008, 0x1155},
      {0xfffe, 0xe00d}, {0xfffe, 0xe000}, {0x0008, 0x1150}, {0x0008, 0x1155},
      {0xfffe, 0xe00d}, {0xfffe, 0xe0dd}};
  EXPECT_EQ(chain, expected);
  EXPECT_EQ(findDicomElement(table, 0x0008, 0x1155), nullptr);
  EXPECT_EQ(textOf(table, 0x0010, 0x0010), "Doe^John");
  EXPECT_EQ(textOf(table, 0x0002, 0x0010).substr(0, 19), "1.2.840.10008.1.2.1");
  deleteDicomHashTable(table);
}

TEST(DicomWalk, SequenceOfDefinedLengthIsOneValue) {
  Tcl_HashTable *table = walkFile(dicomPath("mono16-lengths.dcm"));
  ASSERT_NE(table, nullptr);
  DicomElementNode *sequence = findDicomElement(table, 0x0008, 0x1140);
  ASSERT_NE(sequence, nullptr);
  EXPECT_EQ(sequence->length, 116);
  EXPECT_EQ(sequence->next, nullptr);
  EXPECT_EQ(findDicomElement(table, 0x0008, 0x1150), nullptr);
  EXPECT_EQ(textOf(table, 0x0010, 0x0010), "Doe^John");
  deleteDicomHashTable(table);
}

// The same two frames as a bare implicit data set and behind a meta header
// whose transfer syntax says implicit VR.
TEST_F(Dicom, ImplicitFramesWithAndWithoutMetaHeader) {
  for (const char *name : {"frames8-bare.dcm", "frames8-implicit.dcm"}) {
    SCOPED_TRACE(name);
    ImageHeader h;
    ASSERT_EQ(sniffPath(dicomPath(name), &h), IMG_DICOM);
    EXPECT_EQ(h.pixelid, P_BYTE);
    EXPECT_EQ(h.rows, 2);
    EXPECT_EQ(h.columns, 3);
    EXPECT_EQ(h.volumes, 2);
    EXPECT_EQ(h.msbf, 0);

    Tcl_HashTable *table = walkFile(dicomPath(name));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(findDicomElement(table, 0x0028, 0x0010)->vr, VR_RT);
    EXPECT_DOUBLE_EQ(getDicomFrameTime(table), 40.0);
    deleteDicomHashTable(table);

    RAMIMG *image = openFile(dicomPath(name));
    ASSERT_NE(image, nullptr);
    EXPECT_FLOAT_EQ(image->frameDelay, 40.0f);
    EXPECT_EQ(bandValues(image, 0), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(seekRAMImageVolume(image, 2), 2);
    EXPECT_EQ(bandValues(image, 0), (std::vector<int>{11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(seekRAMImageVolume(image, 0), -2);
    EXPECT_EQ(seekRAMImageVolume(image, 1), 1);
    EXPECT_EQ(bandValues(image, 0)[0], 1);
    closeFile(image);
  }
}

TEST_F(Dicom, RunLengthPaletteFrames) {
  ImageHeader h;
  ASSERT_EQ(sniffPath(dicomPath("palette-rle.dcm"), &h), IMG_DICOM);
  EXPECT_EQ(h.readerFlag, 2);
  EXPECT_EQ(h.volumes, 2);
  ASSERT_EQ(h.nindices, 4);
  const unsigned char palette[4][3] = {{0, 0, 0}, {255, 0, 0}, {0, 128, 0}, {16, 32, 48}};
  EXPECT_EQ(memcmp(h.palette, palette, sizeof palette), 0);

  RAMIMG *image = openFile(dicomPath("palette-rle.dcm"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(bandValues(image, 0), (std::vector<int>{0, 1, 2, 3, 3, 3, 3, 3}));
  EXPECT_EQ(seekRAMImageVolume(image, 2), 2);
  EXPECT_EQ(bandValues(image, 0), (std::vector<int>{2, 2, 2, 2, 1, 0, 1, 0}));
  EXPECT_FLOAT_EQ(image->frameDelay, 33.333f);  // no Frame Time
  closeFile(image);
}

TEST_F(Dicom, RgbFromImg2dcm) {
  RAMIMG *image = openFile(dicomPath("rgb.dcm"));
  ASSERT_NE(image, nullptr);
  const ImageHeader &h = image->header;
  EXPECT_EQ(h.nbands, 3);
  EXPECT_EQ(h.block, 15);
  const std::vector<int> samples = expectedSamples()["colour.ppm"];
  std::vector<int> got;
  const std::vector<int> r = bandValues(image, 0), g = bandValues(image, 1),
                         b = bandValues(image, 2);
  for (size_t i = 0; i < r.size(); i++) got.insert(got.end(), {r[i], g[i], b[i]});
  EXPECT_EQ(got, samples);
  closeFile(image);
}

TEST(DicomWalk, LaterDuplicateReplacesEarlier) {
  DicomBytes d;
  d.element(0x0002, 0x0010, "UI", std::string("1.2.840.10008.1.2.1\0", 20));
  d.element(0x0010, 0x0010, "PN", "First ").element(0x0010, 0x0010, "PN", "Second").image();
  int64_t offset = 0;
  Tcl_HashTable *table = readDicomElementsFromBuffer(d.bytes.data(), d.bytes.size(), &offset);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(textOf(table, 0x0010, 0x0010), "Second");
  EXPECT_EQ(offset, static_cast<int64_t>(d.bytes.size()) - 4);
  EXPECT_EQ(getDicomPixelOffset(findDicomElement(table, 0x7fe0, 0x0010)), offset);
  deleteDicomHashTable(table);
}

// Items of defined length inside a sequence of undefined length end where
// their bytes end; the element after the sequence is in the table again.
TEST(DicomWalk, ItemsOfDefinedLength) {
  DicomBytes d;
  d.element(0x0002, 0x0010, "UI", std::string("1.2.840.10008.1.2.1\0", 20));
  d.undefinedSequence(0x0008, 0x1140);
  d.item(0xe000, 12).element(0x0008, 0x1155, "UI", "1.2.3.4");
  d.item(0xe000, 12).element(0x0008, 0x1155, "UI", "1.2.3.5");
  d.item(0xe0dd, 0);
  d.element(0x0010, 0x0010, "PN", "After ").image();
  Tcl_HashTable *table = readDicomElementsFromBuffer(d.bytes.data(), d.bytes.size(), nullptr);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(textOf(table, 0x0010, 0x0010), "After ");
  EXPECT_EQ(findDicomElement(table, 0x0008, 0x1155), nullptr);
  int chained = 0;
  for (DicomElementNode *n = findDicomElement(table, 0x0008, 0x1140); n; n = n->next) chained++;
  EXPECT_EQ(chained, 6);
  deleteDicomHashTable(table);
}

TEST_F(Dicom, RefusedFiles) {
  struct Case {
    const char *name;
    DicomBytes bytes;
    const char *message;
  };
  std::vector<Case> cases;
  {
    DicomBytes d;
    d.element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1").us(0x0028, 0x0010, 2);
    cases.push_back({"no pixel data", d, ""});
  }
  {
    DicomBytes d;
    d.element(0x0010, 0x0010, "PN", "Wrong group").image();
    cases.push_back({"first group 0010", d, ""});
  }
  {
    DicomBytes d;
    d.element(0x0008, 0x0060, "CS", "OT");  // group 0008 read as implicit: garbage lengths
    d.image();
    cases.push_back({"explicit data without meta header", d, ""});
  }
  {
    DicomBytes d;
    d.element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1").element(0x0028, 0x0060, "CS", "RLE ");
    d.image();
    cases.push_back({"compression", d, "Unable to read compressed DICOM image.\n"});
  }
  {
    DicomBytes d;
    d.element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1").us(0x0028, 0x0010, 2);
    d.element(0x7fe0, 0x0010, "OB", "\x01\x02");
    cases.push_back({"no columns", d, "DICOM file without an image size.\n"});
  }
  {
    DicomBytes d;
    d.element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1").image(2, 12);
    cases.push_back({"12 bits", d, ""});
  }
  {
    DicomBytes d;
    d.element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1").image(200);
    cases.push_back({"rows beyond the data", d,
                     "DICOM pixel data ends beyond the end of the file.\n"});
  }
  // Encapsulated frames (an empty offset table, one 8-byte fragment): the
  // bytes after the offset (24) code at most 64 times theirs in run-length
  // palette data, 1024 times in another codec.
  auto encapsulated = [](int rows, int columns, int samples, bool palette) {
    DicomBytes d;
    d.element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.5");
    if (palette) d.element(0x0028, 0x0004, "CS", "PALETTE COLOR ");
    d.us(0x0028, 0x0002, samples).us(0x0028, 0x0010, rows).us(0x0028, 0x0011, columns);
    d.us(0x0028, 0x0100, 8);
    d.tag(0x7fe0, 0x0010);
    d.text("OB");
    d.u16(0);
    d.u32(0xffffffffu);
    d.item(0xe000, 0).item(0xe000, 8).text("fragment");
    d.item(0xe0dd, 0);
    return d;
  };
  cases.push_back({"encapsulated: 65535 samples of 64 x 64 pixels",
                   encapsulated(64, 64, 65535, false),
                   "A DICOM image of 64 x 64 pixels of 65535 samples can't be held in 24 bytes.\n"});
  cases.push_back({"encapsulated: 1537 x 16 pixels", encapsulated(1537, 16, 1, false),
                   "A DICOM image of 16 x 1537 pixels of 1 samples can't be held in 24 bytes.\n"});
  cases.push_back({"encapsulated palette: 97 x 16 pixels", encapsulated(97, 16, 1, true),
                   "A DICOM image of 16 x 97 pixels of 1 samples can't be held in 24 bytes.\n"});
  for (const bool palette : {false, true}) {
    const int rows = palette ? 96 : 1536;
    SCOPED_TRACE(rows);
    ImageHeader h;
    const DicomBytes d = encapsulated(rows, 16, 1, palette);
    EXPECT_EQ(sniffBytes(d.bytes, &h), IMG_DICOM);
    EXPECT_EQ(h.rows, rows);
  }
  for (Case &c : cases) {
    SCOPED_TRACE(c.name);
    int result = -1;
    const std::string errors = errorsOf([&] { result = sniffBytes(c.bytes.bytes); });
    EXPECT_NE(result, IMG_DICOM);
    if (c.message[0]) {
      EXPECT_EQ(errors, c.message);
    }
  }
}

TEST_F(Dicom, ElementValuesAndDefaults) {
  DicomBytes d;
  d.element(0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1");
  d.element(0x0028, 0x0004, "CS", "PALETTE COLOR ");
  // 300 entries announced, 8-bit depth, red table of two words only.
  d.element(0x0028, 0x1101, "US", std::string("\x2c\x01\x00\x00\x08\x00", 6));
  d.element(0x0028, 0x1201, "OW", std::string("\x34\x12\x78\x56", 4));
  d.image();
  ImageHeader h;
  ASSERT_EQ(sniffBytes(d.bytes, &h), IMG_DICOM);
  EXPECT_EQ(h.nindices, 256);
  EXPECT_EQ(h.palette[0][0], 0x34);
  EXPECT_EQ(h.palette[1][0], 0x78);
  EXPECT_EQ(h.palette[2][0], 0);
  EXPECT_EQ(h.volumes, 0);
  EXPECT_DOUBLE_EQ(h.dx, 1.0);

  Tcl_HashTable *table = readDicomElementsFromBuffer(d.bytes.data(), d.bytes.size(), nullptr);
  ASSERT_NE(table, nullptr);
  EXPECT_DOUBLE_EQ(getDicomFrameTime(table), 33.333);
  deleteDicomHashTable(table);
}

// Every shorter prefix of an uncompressed fixture is refused; prefixes and
// damaged copies of every fixture are walked and read without a fault.
TEST_F(Dicom, TruncatedAndDamagedFiles) {
  std::mt19937 random(12345);
  for (const char *name : {"mono16.dcm", "mono16-lengths.dcm", "frames8-bare.dcm",
                           "frames8-implicit.dcm", "palette-rle.dcm", "rgb.dcm"}) {
    SCOPED_TRACE(name);
    const std::vector<unsigned char> whole = readFile(dicomPath(name));
    const bool encapsulated = std::string(name) == "palette-rle.dcm";
    for (size_t cut = 0; cut < whole.size(); cut += 7) {
      std::vector<unsigned char> part(whole.begin(), whole.begin() + cut);
      int result = 0;
      errorsOf([&] { result = sniffBytes(part); });
      if (!encapsulated) {
        EXPECT_NE(result, IMG_DICOM) << "cut at " << cut;
      }
      if (result == IMG_DICOM) {
        RAMIMG *image = openFile(tempPath("sniffed.bin"));
        if (image) {
          for (int v = 1; v <= std::max(image->header.volumes, 1); v++) {
            seekRAMImageVolume(image, v);
            for (int b = 0; b < image->header.nbands; b++) bandValues(image, b);
          }
          closeFile(image);
        }
      }
    }
    for (int round = 0; round < 60; round++) {
      std::vector<unsigned char> damaged = whole;
      for (int k = 0; k < 4; k++)
        damaged[random() % damaged.size()] = static_cast<unsigned char>(random());
      int result = 0;
      errorsOf([&] { result = sniffBytes(damaged); });
      if (result != IMG_DICOM) continue;
      int err = 0;
      RAMIMG *image = nullptr;
      errorsOf([&] {
        image = openRAMImageFile(tempPath("sniffed.bin").c_str(), nullptr, nullptr, &err);
        if (!image) return;
        for (int v = 1; v <= std::min(std::max(image->header.volumes, 1), 4); v++) {
          seekRAMImageVolume(image, v);
          for (int b = 0; b < image->header.nbands; b++)
            for (int row = 0; row < std::min(image->header.rows, 64); row++)
              getRAMImageLine(image, row, b, 1);
        }
      });
      if (image) closeFile(image);
    }
  }
}

TEST_F(Dicom, PydicomSpacingAndColourByPlane) {
  // pydicom's PixelSpacing [0.5, 0.25]: rows 0.5 apart, columns 0.25.
  ImageHeader h;
  ASSERT_EQ(sniffPath(dicomPath("spacing.dcm"), &h), IMG_DICOM);
  EXPECT_DOUBLE_EQ(h.dx, 0.25);
  EXPECT_DOUBLE_EQ(h.dy, 0.5);

  // PlanarConfiguration 1: pydicom's pixel_array, band after band.
  std::ifstream in(dicomPath("planar.txt"));
  std::vector<std::vector<int>> want;
  for (std::string text; std::getline(in, text);) {
    std::istringstream words(text);
    want.emplace_back();
    for (int v; words >> v;) want.back().push_back(v);
  }
  RAMIMG *image = openFile(dicomPath("planar.dcm"));
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(image->header.nbands, 3);
  ASSERT_EQ(want.size(), 3u);
  for (int b = 2; b >= 0; b--) {
    std::vector<int> got;
    for (int row = 0; row < image->header.rows; row++) {
      const unsigned char *line = getRAMImageLine(image, row, b, 1);
      got.insert(got.end(), line, line + image->header.columns);
    }
    EXPECT_EQ(got, want[static_cast<size_t>(b)]) << b;
  }
  closeFile(image);
}

}  // namespace
