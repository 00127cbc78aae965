// GIF: files made by ImageMagick and giflib read into the store, the
// frames of an animation composited as volumes, the LZW codec's edge
// cases, the block writers, whole-file rewrites, and corrupt files.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/text.h"
#include "raster/gif.h"
#include "tests/unit/raster_formats.h"

using namespace vesk;
using namespace rastertest;
using namespace formatstest;

namespace {

std::string gifPath(const std::string &name) { return dataPath("gif", name); }

std::vector<int> indexes(RAMIMG *image) {
  std::vector<int> out;
  for (int row = 0; row < image->header.rows; row++) {
    const unsigned char *line = getRAMImageLine(image, row, 0, 1);
    for (int column = 0; column < image->header.columns; column++) out.push_back(line[column]);
  }
  return out;
}

std::vector<int> reds(RAMIMG *image) {
  std::vector<int> out;
  for (int index : indexes(image)) out.push_back(image->header.palette[index][0]);
  return out;
}

const std::vector<int> kRed = {255, 0, 0, 255, 10, 0, 255, 128, 0, 10, 200, 0, 255, 0, 255};

using Gif = formatstest::Formats;

TEST_F(Gif, FilesOfOutsideTools) {
  struct Case {
    const char *name;
    int imgid, nindices;
    int64_t offset;
  } cases[] = {{"colour87.gif", IMG_GIF87A, 16, 13 + 48}, {"colour89.gif", IMG_GIF89A, 16, 13 + 48}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RAMIMG *image = openFile(gifPath(c.name));
    if (!image) continue;
    EXPECT_EQ(image->header.imgid, c.imgid);
    EXPECT_EQ(image->header.nindices, c.nindices);
    EXPECT_EQ(image->header.offset, c.offset);
    EXPECT_EQ(image->header.readerFlag, 4);
    EXPECT_EQ(image->header.transparent, -1);
    EXPECT_EQ(reds(image), kRed);
    closeFile(image);
  }
  // Interlaced, with codes up to 9 bits: the indexes giflib reads back.
  RAMIMG *image = openFile(gifPath("ramp-interlaced.gif"));
  ASSERT_NE(image, nullptr);
  std::vector<int> want;
  {
    std::ifstream dump(gifPath("gifbuild.txt"));
    std::string line;
    while (std::getline(dump, line) && line != "== ramp-interlaced.gif") {
    }
    while (std::getline(dump, line) && line.rfind("image bits", 0) != 0) {
    }
    for (int row = 0; row < 20 && std::getline(dump, line); row++)
      for (size_t k = 0; k + 1 < line.size(); k += 2) want.push_back(std::stoi(line.substr(k, 2), nullptr, 16));
  }
  ASSERT_EQ(want.size(), 400u);
  EXPECT_EQ(indexes(image), want);
  closeFile(image);

  // No global colour table: data offset 13, and the image is decoded at
  // once; its local table of two entries is read before the code size.
  image = openFile(gifPath("local.gif"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.offset, 13);
  EXPECT_EQ(image->header.nindices, 0);
  EXPECT_EQ(image->lineTags[1], 1);
  EXPECT_EQ(indexes(image), (std::vector<int>{0, 1, 0, 1, 1, 0}));
  closeFile(image);
  std::vector<unsigned char> bytes = readFile(gifPath("local.gif"));
  auto reader = std::make_unique<GifReader>();
  initGifReader(-1, bytes.data(), static_cast<int64_t>(bytes.size()), reader.get());
  EXPECT_EQ(readGifSignature(reader.get()), IMG_GIF87A);
  EXPECT_EQ(getGifLSD(reader.get()), 1);
  EXPECT_EQ(reader->info.paletteBits, 8);
  int transparent = -1;
  EXPECT_EQ(readGifExtensions(reader.get(), &transparent), 14);
  EXPECT_EQ(getGIFImgDes(reader.get(), &reader->info), 2);
  EXPECT_EQ(reader->info.paletteEntries, 2);
  EXPECT_EQ(reader->info.palette[1][0], 200);
  EXPECT_EQ(reader->info.codeSize, 2);
  EXPECT_EQ(gifSeek(reader.get(), 0, SEEK_CUR), 14 + 9 + 6 + 1);
}

TEST_F(Gif, AnimationFrames) {
  RAMIMG *image = openFile(gifPath("anim.gif"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->volume, 0);
  const std::vector<int> frame1 = {1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1};
  const std::vector<int> frame2 = {1, 1, 1, 1, 1, 3, 2, 1, 1, 1, 3, 1};
  const std::vector<int> frame3 = {3, 3, 1, 0, 3, 3, 0, 1, 3, 3, 3, 3};
  EXPECT_EQ(indexes(image), frame1);
  EXPECT_EQ(image->volume, 1);
  EXPECT_EQ(image->frameDelay, 33);  // a delay of 0
  // The georeference comment before the first image.
  EXPECT_EQ(image->header.mapid, MAPID_UTM);
  EXPECT_EQ(image->header.x0, 500000);
  EXPECT_EQ(image->header.dy, 20);

  EXPECT_EQ(seekRAMImageVolume(image, 2), 2);
  EXPECT_EQ(indexes(image), frame2);  // transparent pixels keep frame 1
  EXPECT_EQ(image->frameDelay, 500);
  EXPECT_EQ(seekRAMImageVolume(image, 3), 3);
  EXPECT_EQ(indexes(image), frame3);  // disposed to index 3 first
  EXPECT_EQ(image->volumeCount, 3);
  EXPECT_EQ(seekRAMImageVolume(image, 1), 1);
  EXPECT_EQ(indexes(image), frame1);
  EXPECT_EQ(seekRAMImageVolume(image, -1), 3);
  EXPECT_EQ(indexes(image), frame3);
  EXPECT_EQ(seekRAMImageVolume(image, 0), -2);
  closeFile(image);
}

TEST_F(Gif, ProbeOnMemoryAndFile) {
  std::vector<unsigned char> bytes = readFile(gifPath("colour89.gif"));
  ImageHeader h;
  initImageHeader(&h);
  EXPECT_EQ(readGifHeader(-1, &h, bytes.data(), static_cast<int64_t>(bytes.size())), IMG_GIF89A);
  EXPECT_EQ(h.columns, 5);
  EXPECT_EQ(h.rows, 3);
  EXPECT_EQ(h.offset, 61);
  EXPECT_EQ(h.msbf, msbFirst());
  // A graphic control extension whose flag is clear leaves no transparency.
  EXPECT_EQ(h.transparent, -1);
  bytes[0x40] |= 1;  // the flags byte of the fixture's graphic control
  EXPECT_EQ(readGifHeader(-1, &h, bytes.data(), static_cast<int64_t>(bytes.size())), IMG_GIF89A);
  EXPECT_EQ(h.transparent, 0);
  // A zero-sized screen, a cut signature, or another file is not a GIF.
  for (const char *name : {"zero-width.gif"}) EXPECT_EQ(sniffPath(gifPath(name)), 0) << name;
  EXPECT_EQ(readGifHeader(-1, &h, bytes.data(), 5), 0);
  // The file keeps its position.
  const int fd = open(gifPath("anim.gif").c_str(), O_RDONLY);
  lseek(fd, 9, SEEK_SET);
  EXPECT_EQ(readGifHeader(fd, &h, nullptr, 0), IMG_GIF89A);
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 9);
  close(fd);
}

// Packs codes of the given widths least significant bit first into one
// image's data: code size byte, sub-blocks, terminator.
std::vector<unsigned char> codeStream(int codeSize, const std::vector<std::pair<int, int>> &codes) {
  std::vector<unsigned char> data;
  uint32_t acc = 0;
  int bits = 0;
  for (auto [code, width] : codes) {
    acc |= static_cast<uint32_t>(code) << bits;
    bits += width;
    while (bits >= 8) {
      data.push_back(static_cast<unsigned char>(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) data.push_back(static_cast<unsigned char>(acc));
  std::vector<unsigned char> out = {static_cast<unsigned char>(codeSize)};
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t n = std::min<size_t>(255, data.size() - at);
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
  }
  out.push_back(0);
  return out;
}

std::vector<int> decodeAll(const std::vector<unsigned char> &stream, size_t limit = 1u << 20) {
  auto reader = std::make_unique<GifReader>();
  initGifReader(-1, stream.data() + 1, static_cast<int64_t>(stream.size()) - 1, reader.get());
  reader->info.codeSize = stream[0];
  std::vector<int> out;
  if (!initGifDecoder(reader.get())) return out;
  for (int p; out.size() < limit && (p = nextGifPixel(reader.get())) >= 0;) {
    out.push_back(p);
    EXPECT_LE(reader->nextFree, 4096);
    EXPECT_LE(reader->codeWidth, 12);
  }
  return out;
}

TEST_F(Gif, LzwDecoderEdges) {
  // Root 2: clear 4, end 5, codes of 3 bits.  One or two clears first
  // decode alike: 1 1 (new 6 = "1 1") 6.
  const auto once = codeStream(2, {{4, 3}, {1, 3}, {1, 3}, {6, 3}, {5, 3}});
  const auto twice = codeStream(2, {{4, 3}, {4, 3}, {1, 3}, {1, 3}, {6, 3}, {5, 3}});
  EXPECT_EQ(decodeAll(once), (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(decodeAll(twice), decodeAll(once));
  // A code one past the next free one is taken as the previous string
  // plus its first character (KwKwK).
  EXPECT_EQ(decodeAll(codeStream(2, {{4, 3}, {2, 3}, {6, 3}, {5, 3}})), (std::vector<int>{2, 2, 2}));
  // Code sizes outside 1 to 11 decode nothing.
  EXPECT_TRUE(decodeAll(codeStream(12, {{0, 13}})).empty());
  EXPECT_TRUE(decodeAll(codeStream(0, {{0, 1}})).empty());
  // Codes far past the table, built into chains, end the image cleanly.
  std::vector<std::pair<int, int>> junk = {{4, 3}, {1, 3}};
  for (int i = 0; i < 3000; i++) junk.push_back({7 - i % 3, 3 + (i > 2 ? 1 : 0)});
  errorsOf([&] { EXPECT_LE(decodeAll(codeStream(2, junk)).size(), 3000u * 4096); });
}

TEST_F(Gif, LzwRoundTripsThroughFullTables) {
  // Noise of 256 colours fills the table many times over: the encoder
  // clears it when the next code would pass 4095 and the decoder never
  // grows beyond 12 bits nor adds codes beyond 4095.
  for (int root : {8, 2}) {
    SCOPED_TRACE(root);
    std::vector<unsigned char> pixels = noise(300 * 200, 7);
    for (auto &p : pixels) p = static_cast<unsigned char>(p & ((1 << root) - 1));
    const std::string path = tempPath("lzw.bin");
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    unsigned char size = static_cast<unsigned char>(root);
    ASSERT_EQ(write(fd, &size, 1), 1);
    auto encoder = std::make_unique<GifEncoder>();
    initGifEncoder(fd, root, -1, encoder.get());
    for (int row = 0; row < 200; row++) gifEncodeLine(encoder.get(), 300, &pixels[row * 300]);
    EXPECT_EQ(finishGifEncoder(encoder.get()), 1);
    close(fd);
    const std::vector<unsigned char> stream = readFile(path);
    // Every sub-block is whole: walk them to the terminator at the end.
    size_t at = 1;
    while (at < stream.size() && stream[at] != 0) at += stream[at] + 1u;
    EXPECT_EQ(at, stream.size() - 1);
    std::vector<int> back = decodeAll(stream);
    ASSERT_EQ(back.size(), pixels.size());
    EXPECT_TRUE(std::equal(back.begin(), back.end(), pixels.begin()));
  }
}

TEST_F(Gif, BlockWriters) {
  const std::string path = tempPath("blocks.bin");
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  std::string text(300, 'x');
  ASSERT_EQ(putGifComment(fd, text.data(), 300), 1);
  ASSERT_EQ(putGifControl(fd, 5, 125, 2, 1), 1);
  ASSERT_EQ(putGifImageDesc(fd, 3, 4, 300, 2, 2, 1), 1);
  ASSERT_EQ(putGifIntroducer(fd), 1);
  ASSERT_EQ(putGifTrailer(fd), 1);
  close(fd);
  std::vector<unsigned char> b = readFile(path);
  ASSERT_EQ(b.size(), 2u + 1 + 255 + 1 + 45 + 1 + 8 + 11 + 2);
  EXPECT_EQ(b[324], 0x21);
  EXPECT_EQ(b[325], 0x3B);
  EXPECT_EQ(b[2], 255);
  EXPECT_EQ(b[258], 45);
  EXPECT_EQ(b[304], 0);
  // A write that falls short is reported.
  EXPECT_EQ(putGifIntroducer(-1), 0);
  const unsigned char control[8] = {0x21, 0xF9, 4, 1 | 8 | 2, 13, 0, 5, 0};
  EXPECT_EQ(memcmp(&b[305], control, 8), 0);
  const unsigned char desc[11] = {0x2C, 4, 0, 3, 0, 44, 1, 2, 0, 0, 2};
  EXPECT_EQ(memcmp(&b[313], desc, 11), 0);

  // A blank GIF89a for a 2-entry palette: 1 bit, code size 2, the
  // georeference comment, and an image of zeros.
  ImageHeader h = rawHeader(tempPath("blank.gif"), IMG_GIF89A, P_BYTE, 3, 7, 1, 0, 0);
  h.nindices = 2;
  h.palette[1][1] = 99;
  h.mapid = 32633;
  h.x0 = 12.5;
  ASSERT_GE(createImageFile(&h), 0);
  b = readFile(h.path);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 6), "GIF89a");
  EXPECT_EQ(b[10], 0x80);
  EXPECT_EQ(b[b.size() - 1], ';');
  RAMIMG *image = openFile(h.path);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.nindices, 2);
  EXPECT_EQ(image->header.palette[1][1], 99);
  EXPECT_EQ(indexes(image), std::vector<int>(21, 0));
  EXPECT_EQ(image->header.mapid, 32633);
  EXPECT_EQ(image->header.x0, 12.5);
  closeFile(image);
  const std::string blank(b.begin(), b.end());
  EXPECT_NE(blank.find("vesk proj:PCS32633 x0:12.5"), std::string::npos);
}

TEST_F(Gif, WholeFileRewrite) {
  // 256 palette entries holding three colours: written with 2 bits, code
  // size 2, pixels remapped to the merged indexes; the georeference of a
  // GIF89a survives.
  ImageHeader h = rawHeader(tempPath("rewrite.gif"), IMG_GIF89A, P_BYTE, 4, 6, 1, 0, 0);
  h.nindices = 256;
  for (int i = 0; i < 256; i++) memset(h.palette[i], i % 3 * 100, 3);
  ASSERT_GE(createImageFile(&h), 0);
  RAMIMG *image = openFile(h.path);
  ASSERT_NE(image, nullptr);
  for (int row = 0; row < 4; row++) {
    unsigned char *line = getRAMImageLine(image, row, 0, 1);
    for (int k = 0; k < 6; k++) line[k] = static_cast<unsigned char>(row * 6 + k + 3);
    setRAMImageDirty(image, row, 0);
  }
  image->header.mapid = MAPID_UTM;
  image->header.dx = 2.5;
  image->frameDelay = 120;
  flushRAMImage(image);
  std::vector<int> want;
  for (int i = 0; i < 24; i++) want.push_back((i + 3) % 3);
  EXPECT_EQ(indexes(image), want);
  EXPECT_EQ(image->header.nindices, 4);
  closeFile(image);
  const std::vector<unsigned char> b = readFile(h.path);
  EXPECT_EQ(b[10], 0x80 | 0x10 | 1);
  image = openFile(h.path);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(indexes(image), want);
  EXPECT_EQ(image->header.mapid, MAPID_UTM);
  EXPECT_EQ(image->header.dx, 2.5);
  EXPECT_EQ(image->frameDelay, 120);
  closeFile(image);
}

TEST_F(Gif, CorruptFilesStayInsideTheirBuffers) {
  // A code size of 12 decodes nothing; a stray byte ends the decoding.
  RAMIMG *image = openFile(gifPath("codesize12.gif"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(indexes(image), std::vector<int>(15, 0));
  closeFile(image);
  image = openFile(gifPath("stray.gif"));
  ASSERT_NE(image, nullptr);
  std::string errors = errorsOf([&] { indexes(image); });
  EXPECT_EQ(errors, "Unknown GIF Introducer: 0x7.\nError in seek image: " + gifPath("stray.gif") + "\n");
  closeFile(image);
  // Every truncation of every fixture.
  for (const char *name : {"colour87.gif", "colour89.gif", "anim.gif", "local.gif", "ramp-interlaced.gif"}) {
    SCOPED_TRACE(name);
    const std::vector<unsigned char> bytes = readFile(gifPath(name));
    const std::string path = tempPath("cut.gif");
    for (size_t n = 0; n < bytes.size(); n++) {
      writeFile(path, std::vector<unsigned char>(bytes.begin(), bytes.begin() + n));
      errorsOf([&] {
        int err = 0;
        RAMIMG *cut = openRAMImageFile(path.c_str(), nullptr, nullptr, &err);
        if (!cut) return;
        indexes(cut);
        if (cut->header.imgid == IMG_GIF89A) seekRAMImageVolume(cut, -1);
        closeFile(cut);
      });
    }
  }
}

TEST_F(Gif, ScanDump) {
  std::vector<unsigned char> bytes = readFile(gifPath("anim.gif"));
  auto reader = std::make_unique<GifReader>();
  initGifReader(-1, bytes.data(), static_cast<int64_t>(bytes.size()), reader.get());
  int status = 0, result = 0;
  Tcl_Interp *previous = setStdioInterp(testInterp());
  testing::internal::CaptureStdout();
  result = scanGif(reader.get(), &status);
  setStdioInterp(previous);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("scanGIF...\n    File ID: GIF89a\n    width: 4 height: 3\n    i   0 r:  0 g:  0 b:  0\n"),
            std::string::npos);
  EXPECT_NE(out.find("Get GIF Extension block...\n    Get Comment label...\n"), std::string::npos);
  EXPECT_NE(out.find("    Image Description - codeSize:2 left:1 top:1 cols:2 rows:2\n        Total Bytes: 16\n"),
            std::string::npos);
  EXPECT_NE(out.find("End of GIF at: " + std::to_string(bytes.size()) + ".\nend of scanGIF - status: 1\n\n"),
            std::string::npos);
}

}  // namespace
