// JPEG files: files from the JPEG library's own tools decode to the
// pixels djpeg reports, the comment segments carry the georeference and
// note, written images read back, and corrupt or truncated data is
// refused (or decoded as far as it goes) without a crash.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "raster/jpeg.h"
#include "tests/unit/raster_formats.h"

using namespace vesk;
using namespace rastertest;
using namespace formatstest;

namespace {

using Jpeg = formatstest::Formats;

std::string jpegPath(const std::string &name) { return dataPath("jpeg", name); }

std::vector<unsigned char> jpegFixture(const std::string &name) {
  return readFile(jpegPath(name));
}

// What djpeg decoded from each fixture: the samples of its plain PNM.
struct Decoded {
  int width = 0, height = 0, bands = 0;
  std::vector<int> samples;
};
std::map<std::string, Decoded> djpegSamples() {
  std::map<std::string, Decoded> table;
  std::ifstream in(jpegPath("expected.txt"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string name, magic;
    Decoded d;
    int maximum = 0;
    words >> name >> magic >> d.width >> d.height >> maximum;
    name.pop_back();  // the colon
    d.bands = magic == "P3" ? 3 : 1;
    int v;
    while (words >> v) d.samples.push_back(v);
    table[name] = d;
  }
  return table;
}

// The pixels through the line cache, pixel-interleaved as PNM holds them.
std::vector<int> cachedSamples(RAMIMG *image) {
  const ImageHeader &h = image->header;
  std::vector<int> out;
  for (int row = 0; row < h.rows; row++) {
    std::vector<const unsigned char *> lines;
    for (int band = 0; band < h.nbands; band++) lines.push_back(getRAMImageLine(image, row, band, 1));
    for (int column = 0; column < h.columns; column++)
      for (int band = 0; band < h.nbands; band++)
        out.push_back(lines[band] ? lines[band][column] : -1);
  }
  return out;
}

ImageHeader jpegHeader(const std::string &path, int rows, int columns, int nbands) {
  ImageHeader h = rawHeader(path, IMG_JPEG, P_BYTE, rows, columns, nbands, 0, kJpegDefaultQuality);
  h.readerFlag = 1;
  return h;
}

// A smooth test pattern, which JPEG keeps closely.
unsigned char pattern(int row, int column, int band) {
  return static_cast<unsigned char>(40 + row * 6 + column * 4 + band * 30);
}

// Runs with JPEGMEM set only in the env array of the library's stdio
// interpreter (a plain array there, so the process environment, which
// the JPEG library would read itself, stays without it).
template <class Fn> std::string withJpegMem(const char *value, Fn &&run) {
  Tcl_Interp *interp = Tcl_CreateInterp();
  Tcl_UnsetVar(interp, "env", TCL_GLOBAL_ONLY);
  Tcl_SetVar2(interp, "env", "JPEGMEM", value, TCL_GLOBAL_ONLY);
  EXPECT_EQ(getenv("JPEGMEM"), nullptr);
  Tcl_Interp *previous = setStdioInterp(interp);
  testing::internal::CaptureStderr();
  run();
  setStdioInterp(previous);
  Tcl_DeleteInterp(interp);
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST_F(Jpeg, FilesFromTheLibraryToolsDecodeAsDjpegDoes) {
  const auto expected = djpegSamples();
  ASSERT_EQ(expected.size(), 5u);
  for (const auto &[name, want] : expected) {
    SCOPED_TRACE(name);
    ImageHeader h;
    ASSERT_EQ(sniffPath(jpegPath(name), &h), IMG_JPEG);
    EXPECT_EQ(h.pixelid, P_BYTE);
    EXPECT_EQ(h.rows, want.height);
    EXPECT_EQ(h.columns, want.width);
    EXPECT_EQ(h.nbands, want.bands);
    EXPECT_EQ(h.block, 90);
    EXPECT_EQ(h.bits, 8);
    EXPECT_EQ(h.offset, 0);
    EXPECT_EQ(h.nindices, 0);
    EXPECT_EQ(h.transparent, -1);
    EXPECT_EQ(h.readerFlag, 1);
    RAMIMG *image = openFile(jpegPath(name));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(cachedSamples(image), want.samples);
    closeFile(image);
  }
}

TEST_F(Jpeg, CommentsCarryTheGeoreferenceAndNote) {
  // No comment: GRID at the origin with unit pixels.
  ImageHeader h;
  ASSERT_EQ(sniffPath(jpegPath("colour.jpg"), &h), IMG_JPEG);
  EXPECT_EQ(h.mapid, MAPID_GRID);
  EXPECT_EQ(h.x0, 0.0);
  EXPECT_EQ(h.y0, 0.0);
  EXPECT_EQ(h.dx, 1.0);
  EXPECT_EQ(h.dy, 1.0);
  EXPECT_STREQ(h.note, "");
  // The first comment is no georeference; the second is, the third is the note.
  ASSERT_EQ(sniffPath(jpegPath("comments.jpg"), &h), IMG_JPEG);
  EXPECT_EQ(h.mapid, MAPID_UTM);
  EXPECT_EQ(h.x0, 500000.5);
  EXPECT_EQ(h.y0, 4500000.0);
  EXPECT_EQ(h.dx, 30.0);
  EXPECT_EQ(h.dy, -30.0);
  EXPECT_STREQ(h.note, "a note after it");

  // A note longer than the header's field is cut to 255 characters.
  std::vector<unsigned char> bytes = jpegFixture("grey.jpg");
  std::string geo = "vesk proj:UTM x0:1 y0:2 dx:3 dy:4";
  std::string note(400, 'n');
  std::vector<unsigned char> segments;
  for (const std::string &text : {geo, note}) {
    const size_t length = text.size() + 2;
    segments.insert(segments.end(), {0xFF, 0xFE, static_cast<unsigned char>(length >> 8),
                                     static_cast<unsigned char>(length)});
    segments.insert(segments.end(), text.begin(), text.end());
  }
  bytes.insert(bytes.begin() + 2, segments.begin(), segments.end());
  ImageHeader cut;
  initImageHeader(&cut);
  ASSERT_EQ(readJpegHeader(-1, &cut, bytes.data(), static_cast<int64_t>(bytes.size())), IMG_JPEG);
  EXPECT_EQ(cut.dy, 4.0);
  EXPECT_EQ(strlen(cut.note), 255u);
}

TEST_F(Jpeg, DecodingFillsBandLines) {
  const auto expected = djpegSamples();
  const Decoded &want = expected.at("colour.jpg");
  const std::vector<unsigned char> bytes = jpegFixture("colour.jpg");
  const int64_t stride = 16;  // wider than a row: the rest stays untouched
  for (bool fromMemory : {false, true}) {
    SCOPED_TRACE(fromMemory ? "memory" : "file");
    std::vector<unsigned char> lines(9 * 3 * stride, 0xEE);
    const int fd = fromMemory ? -1 : open(jpegPath("colour.jpg").c_str(), O_RDONLY);
    if (fd >= 0) lseek(fd, 7, SEEK_SET);
    EXPECT_EQ(decodeJpeg(fd, lines.data(), stride, bytes.data(),
                         static_cast<int64_t>(bytes.size()), 9, 13, 3), 1);
    if (fd >= 0) {
      EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 7);  // the position is kept
      close(fd);
    }
    // R, G, B of row 0, then of row 1 ...
    for (int row = 0; row < 9; row++)
      for (int band = 0; band < 3; band++)
        for (int column = 0; column < 16; column++) {
          const int got = lines[(row * 3 + band) * stride + column];
          ASSERT_EQ(got, column < 13 ? want.samples[(row * 13 + column) * 3 + band] : 0xEE)
              << row << " " << band << " " << column;
        }
  }
  // Data that no longer has the size the lines were made for is refused.
  std::vector<unsigned char> lines(9 * 3 * 16);
  for (auto [rows, columns, bands] : {std::tuple{9, 13, 1}, {8, 13, 3}, {9, 14, 3}, {9, 17, 3}}) {
    EXPECT_NE(errorsOf([&] {
                EXPECT_EQ(decodeJpeg(-1, lines.data(), 16, bytes.data(),
                                     static_cast<int64_t>(bytes.size()), rows, columns, bands), 0);
              }),
              "");
  }
  // Not a JPEG.
  const unsigned char gif[] = "GIF89a....";
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(decodeJpeg(-1, lines.data(), 16, gif, 10, 9, 13, 3), 0); }),
            "not a jpeg file...\n");
}

TEST_F(Jpeg, MemoryImagesDecodeTheirOwnBytes) {
  const auto expected = djpegSamples();
  const std::vector<unsigned char> bytes = jpegFixture("im444.jpg");
  ImageHeader h;
  initImageHeader(&h);
  ASSERT_EQ(readJpegHeader(-1, &h, bytes.data(), static_cast<int64_t>(bytes.size())), IMG_JPEG);
  snprintf(h.path, sizeof h.path, "tile");
  int err = -1;
  RAMIMG *image = createRAMImage(&h, nullptr, &err);
  ASSERT_NE(image, nullptr);
  unsigned char *copy = static_cast<unsigned char *>(malloc(bytes.size()));
  memcpy(copy, bytes.data(), bytes.size());
  ASSERT_EQ(setRAMImageMemData(image, copy, static_cast<int64_t>(bytes.size())), 1);
  EXPECT_EQ(cachedSamples(image), expected.at("im444.jpg").samples);
  freeRAMImage(image);
}

TEST_F(Jpeg, WrittenImagesKeepSizeAndGeoreference) {
  for (int nbands : {1, 3}) {
    SCOPED_TRACE(nbands);
    const std::string path = tempPath(nbands == 1 ? "grey-rt.jpg" : "rgb-rt.jpg");
    ImageHeader templ = jpegHeader(path, 11, 20, nbands);
    templ.mapid = getMapid("PCS32633");
    templ.x0 = 399960.123456789;
    templ.y0 = 5000040.5;
    templ.dx = 0.1;
    templ.dy = 1.0 / 3;
    snprintf(templ.note, sizeof templ.note, "written by the test");
    ASSERT_EQ(createImageFile(&templ), 0);  // a blank file, written whole

    ImageHeader back;
    ASSERT_EQ(sniffPath(path, &back), IMG_JPEG);
    EXPECT_EQ(back.rows, 11);
    EXPECT_EQ(back.columns, 20);
    EXPECT_EQ(back.nbands, nbands);
    EXPECT_EQ(back.mapid, 32633);
    EXPECT_EQ(back.x0, templ.x0);
    EXPECT_EQ(back.y0, templ.y0);
    EXPECT_EQ(back.dx, templ.dx);
    EXPECT_EQ(back.dy, templ.dy);
    EXPECT_STREQ(back.note, "written by the test");

    RAMIMG *image = openFile(path);
    ASSERT_NE(image, nullptr);
    image->header.block = 95;
    for (int row = 0; row < 11; row++)
      for (int band = 0; band < nbands; band++) {
        unsigned char *line = getRAMImageLine(image, row, band, 1);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line[3], 0);  // blank
        for (int column = 0; column < 20; column++) line[column] = pattern(row, column, band);
        setRAMImageDirty(image, row, band);
      }
    image->header.x0 = 12.5;
    closeFile(image);

    ASSERT_EQ(sniffPath(path, &back), IMG_JPEG);
    EXPECT_EQ(back.rows, 11);
    EXPECT_EQ(back.columns, 20);
    EXPECT_EQ(back.nbands, nbands);
    EXPECT_EQ(back.mapid, 32633);
    EXPECT_EQ(back.x0, 12.5);
    EXPECT_EQ(back.dy, templ.dy);
    EXPECT_STREQ(back.note, "written by the test");
    image = openFile(path);
    ASSERT_NE(image, nullptr);
    int worst = 0;
    for (int row = 0; row < 11; row++)
      for (int band = 0; band < nbands; band++) {
        const unsigned char *line = getRAMImageLine(image, row, band, 1);
        for (int column = 0; column < 20; column++)
          worst = std::max(worst, abs(line[column] - pattern(row, column, band)));
      }
    EXPECT_LE(worst, 6);
    closeFile(image);
    // Nothing is left beside the file.
    const std::string prefix = path.substr(path.rfind('/') + 1) + ".";
    DIR *folder = opendir(tempFolder().c_str());
    ASSERT_NE(folder, nullptr);
    while (const dirent *entry = readdir(folder))
      EXPECT_NE(std::string(entry->d_name).rfind(prefix, 0), 0u) << entry->d_name;
    closedir(folder);
  }
}

TEST_F(Jpeg, LinesNotYetReadSurviveAWrite) {
  // A line claimed without reading and written is kept when the rest of
  // the image is decoded, and the rewrite keeps the lines never touched.
  const std::string path = tempPath("partial.jpg");
  writeFile(path, jpegFixture("grey.jpg"));
  const Decoded want = djpegSamples().at("grey.jpg");
  RAMIMG *image = openFile(path);
  ASSERT_NE(image, nullptr);
  image->header.block = 100;
  unsigned char *line = getRAMImageLine(image, 4, 0, 0);
  ASSERT_NE(line, nullptr);
  memset(line, 200, 13);
  setRAMImageDirty(image, 4, 0);
  const unsigned char *other = getRAMImageLine(image, 2, 0, 1);
  for (int column = 0; column < 13; column++) ASSERT_EQ(other[column], want.samples[2 * 13 + column]);
  EXPECT_EQ(getRAMImageLine(image, 4, 0, 1)[5], 200);
  closeFile(image);

  image = openFile(path);
  ASSERT_NE(image, nullptr);
  image->header.block = 100;
  line = getRAMImageLine(image, 6, 0, 0);  // written before anything was decoded
  memset(line, 10, 13);
  setRAMImageDirty(image, 6, 0);
  closeFile(image);
  image = openFile(path);
  ASSERT_NE(image, nullptr);
  for (int row = 0; row < 9; row++) {
    const unsigned char *l = getRAMImageLine(image, row, 0, 1);
    const int target = row == 4 ? 200 : row == 6 ? 10 : -1;
    for (int column = 0; column < 13; column++) {
      const int expect = target >= 0 ? target : want.samples[row * 13 + column];
      EXPECT_NEAR(l[column], expect, 12) << row << " " << column;
    }
  }
  closeFile(image);
}

TEST_F(Jpeg, WriterQualityAndBands) {
  const std::string path = tempPath("quality.jpg");
  std::vector<unsigned char> lines(6 * 4 * 8);
  for (size_t i = 0; i < lines.size(); i++) lines[i] = static_cast<unsigned char>(i * 7);
  auto written = [&](int nbands, int64_t quality) {
    ImageHeader h = jpegHeader(path, 6, 8, nbands);
    h.block = quality;
    writeFile(path, {});
    const int fd = open(path.c_str(), O_RDWR);
    const int ok = writeJpegLines(fd, &h, lines.data(), 8);
    close(fd);
    return ok ? readFile(path) : std::vector<unsigned char>{};
  };
  // Quality above 100 writes 100; a negative one writes 90.
  EXPECT_EQ(written(3, 150), written(3, 100));
  EXPECT_EQ(written(3, -5), written(3, 90));
  EXPECT_NE(written(3, 90), written(3, 100));
  // Four bands are CMYK and read back as four; two can't be held.
  ASSERT_FALSE(written(4, 100).empty());
  ImageHeader back;
  ASSERT_EQ(sniffPath(path, &back), IMG_JPEG);
  EXPECT_EQ(back.nbands, 4);
  std::vector<unsigned char> decoded(lines.size());
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_EQ(decodeJpeg(fd, decoded.data(), 8, nullptr, 0, 6, 8, 4), 1);
  close(fd);
  EXPECT_EQ(errorsOf([&] { EXPECT_TRUE(written(2, 90).empty()); }),
            "Can't write a JPEG image of 2 bands.\n");

  // Blank files: fewer than two bands are grey, more are RGB.
  for (auto [given, made] : {std::pair{1, 1}, {2, 3}, {4, 3}, {0, 1}}) {
    ImageHeader h = jpegHeader(path, 3, 5, given);
    h.nindices = 7;
    writeFile(path, {});
    const int out = open(path.c_str(), O_RDWR);
    EXPECT_EQ(writeJpegFile(out, &h), 0);
    close(out);
    EXPECT_EQ(h.nbands, made);
    EXPECT_EQ(h.nindices, 0);
    ASSERT_EQ(sniffPath(path, &back), IMG_JPEG);
    EXPECT_EQ(back.nbands, made);
  }
  // A size the library refuses fails cleanly.
  ImageHeader wide = jpegHeader(path, 3, 70000, 1);
  const int out = open(path.c_str(), O_RDWR);
  EXPECT_NE(errorsOf([&] { EXPECT_EQ(writeJpegFile(out, &wide), -1); }), "");
  close(out);
}

TEST_F(Jpeg, BlankFilesAreTheLibrarysEncodingOfZeros) {
  // A blank file repeats the coded blank MCU after the library's first
  // row of MCUs: the bytes must be those of the library encoding the
  // whole zero image (sizes around the MCU edges, grey and RGB).
  const std::string path = tempPath("blank.jpg");
  for (int bands : {1, 3}) {
    for (auto [rows, columns] : {std::pair{1, 1}, {8, 8}, {9, 7}, {16, 16}, {17, 33}, {31, 100},
                                 {64, 5}, {203, 301}, {1000, 17}}) {
      SCOPED_TRACE(std::to_string(bands) + " bands, " + std::to_string(rows) + " x " +
                   std::to_string(columns));
      ImageHeader h = jpegHeader(path, rows, columns, bands);
      snprintf(h.note, sizeof h.note, "blank %d", rows);
      writeFile(path, {});
      int fd = open(path.c_str(), O_RDWR);
      ASSERT_EQ(writeJpegFile(fd, &h), 0);
      close(fd);
      const std::vector<unsigned char> blank = readFile(path);
      std::vector<unsigned char> zeros(static_cast<size_t>(rows) * bands * columns);
      writeFile(path, {});
      fd = open(path.c_str(), O_RDWR);
      ASSERT_EQ(writeJpegLines(fd, &h, zeros.data(), columns), 1);
      close(fd);
      EXPECT_EQ(blank, readFile(path));
      // And it decodes as zeros.
      std::vector<unsigned char> decoded(zeros.size(), 1);
      EXPECT_EQ(decodeJpeg(-1, decoded.data(), columns, blank.data(),
                           static_cast<int64_t>(blank.size()), rows, columns, bands),
                1);
      EXPECT_EQ(decoded, zeros);
    }
  }
}

TEST_F(Jpeg, WideImagesKeepTheirQualityWhenOpened) {
  // The block field of a JPEG holds its quality, not a record size: an
  // image wider than the quality must not have it raised to its width.
  const std::string path = tempPath("wide.jpg");
  ImageHeader h = jpegHeader(path, 8, 120, 1);
  h.block = 75;
  ASSERT_GE(createImageFile(&h), 0);
  RAMIMG *image = openFile(path);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.columns, 120);
  EXPECT_EQ(image->header.block, 90);
  closeFile(image);
}

TEST_F(Jpeg, JpegMemComesFromTheInterpreter) {
  // A progressive image needs whole-image buffers; a ceiling of 1000
  // bytes leaves no room, and the library's error ends the decoding.
  const std::vector<unsigned char> bytes = jpegFixture("tall-progressive.jpg");
  const int64_t length = static_cast<int64_t>(bytes.size());
  std::vector<unsigned char> lines(200 * 3 * 40);
  EXPECT_EQ(withJpegMem("1", [&] {
              EXPECT_EQ(decodeJpeg(-1, lines.data(), 40, bytes.data(), length, 200, 40, 3), 0);
            }),
            "Backing store not supported\n");
  EXPECT_EQ(withJpegMem("1m", [&] {
              EXPECT_EQ(decodeJpeg(-1, lines.data(), 40, bytes.data(), length, 200, 40, 3), 1);
            }),
            "");
  EXPECT_EQ(errorsOf([&] {
              EXPECT_EQ(decodeJpeg(-1, lines.data(), 40, bytes.data(), length, 200, 40, 3), 1);
            }),
            "");
}

// Every shorter copy and copies with bytes changed: refused, or decoded
// as far as the data goes, never read past its end (sanitizer build).
TEST_F(Jpeg, TruncatedAndCorruptDataIsRefusedCleanly) {
  for (const char *name : {"colour.jpg", "grey.jpg", "progressive.jpg", "im444.jpg"}) {
    SCOPED_TRACE(name);
    const std::vector<unsigned char> whole = jpegFixture(name);
    ImageHeader full;
    initImageHeader(&full);
    ASSERT_EQ(sniffPath(jpegPath(name), &full), IMG_JPEG);
    const std::string path = tempPath("cut.jpg");
    std::vector<unsigned char> lines(static_cast<size_t>(full.rows * full.nbands * full.columns));
    errorsOf([&] {
      for (size_t n = whole.size(); n-- > 0;) {
        // In memory: exactly n bytes, so an over-read shows.
        std::vector<unsigned char> part(whole.begin(), whole.begin() + n);
        ImageHeader h;
        initImageHeader(&h);
        const int probed = readJpegHeader(-1, &h, n ? part.data() : nullptr,
                                          static_cast<int64_t>(n));
        ASSERT_TRUE(probed == 0 || probed == IMG_JPEG) << n;
        if (probed)
          decodeJpeg(-1, lines.data(), full.columns, part.data(), static_cast<int64_t>(n),
                     full.rows, full.columns, full.nbands);
        // From a file, through the store.
        writeFile(path, part);
        if (sniffPath(path) != IMG_JPEG) continue;
        RAMIMG *image = openFile(path);
        ASSERT_NE(image, nullptr);
        cachedSamples(image);
        closeFile(image);
      }
    });
  }
  // Bytes changed one at a time, through the header and the data.
  const std::vector<unsigned char> whole = jpegFixture("colour.jpg");
  std::vector<unsigned char> lines(9 * 3 * 13);
  errorsOf([&] {
    for (size_t at = 2; at < whole.size(); at++) {
      for (unsigned char value : {0x00, 0xFF, 0x7F}) {
        std::vector<unsigned char> bytes = whole;
        bytes[at] = value;
        ImageHeader h;
        initImageHeader(&h);
        if (readJpegHeader(-1, &h, bytes.data(), static_cast<int64_t>(bytes.size())) != IMG_JPEG)
          continue;
        std::vector<unsigned char> out(static_cast<size_t>(h.rows) * h.nbands * h.columns);
        decodeJpeg(-1, out.data(), h.columns, bytes.data(), static_cast<int64_t>(bytes.size()),
                   h.rows, h.columns, h.nbands);
      }
    }
  });
  // A frame header claiming a huge image in a few hundred bytes.
  std::vector<unsigned char> huge = whole;
  size_t sof = 2;
  while (sof + 9 < huge.size() && !(huge[sof] == 0xFF && huge[sof + 1] == 0xC0)) sof++;
  ASSERT_LT(sof + 9, huge.size());
  putU16(&huge[sof + 5], 60000, true);  // height
  putU16(&huge[sof + 7], 60000, true);  // width
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(sniffBytes(huge), 0); }),
            "A JPEG image of 60000 x 60000 pixels can't be held in 699 bytes.\n");
  // Neither a JPEG: no signature, a short file, an empty block.
  EXPECT_EQ(errorsOf([&] {
              EXPECT_EQ(sniffBytes({0xFF, 0xD8}), 0);
              EXPECT_EQ(sniffBytes({0xFF, 0xD9, 0xFF, 0xE0, 0, 0}), 0);
              ImageHeader h;
              EXPECT_EQ(readJpegHeader(-1, &h, nullptr, 0), 0);
            }),
            "");
}
