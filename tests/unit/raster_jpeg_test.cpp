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
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <jpeglib.h>

#include "raster/bandstats.h"
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

// ---- Read and written in order ----

namespace {

// Encodes a pattern with the library itself, in the variants a reader in
// order must take: restart intervals, progressive scans, sizes that are
// no whole number of MCUs.
std::vector<unsigned char> encodeVariant(int rows, int columns, int bands, int restartRows,
                                         bool progressive) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char *buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(columns);
  cinfo.image_height = static_cast<JDIMENSION>(rows);
  cinfo.input_components = bands;
  cinfo.in_color_space = bands == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 85, TRUE);
  cinfo.restart_in_rows = restartRows;
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(static_cast<size_t>(columns) * bands);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int r = static_cast<int>(cinfo.next_scanline);
    for (int c = 0; c < columns; c++)
      for (int b = 0; b < bands; b++)
        row[static_cast<size_t>(c) * bands + b] =
            static_cast<unsigned char>(pattern(r, c, b) + ((r * 7 + c * 13) % 23));
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<unsigned char> bytes(buffer, buffer + size);
  free(buffer);
  return bytes;
}

// The whole-image decoder's lines of a file (row r, band k at line r x bands + k).
std::vector<unsigned char> decodedLines(const std::string &path, int rows, int columns, int bands) {
  std::vector<unsigned char> lines(static_cast<size_t>(rows) * columns * bands, 0x55);
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_EQ(decodeJpeg(fd, lines.data(), columns, nullptr, 0, rows, columns, bands), 1);
  close(fd);
  return lines;
}

// A small window, so that small images pass through it many times.
struct SmallWindow {
  SmallWindow() : old(setJpegWindowBytes(0)) {}
  ~SmallWindow() { setJpegWindowBytes(old); }
  int64_t old;
};

// The orders a reader may take: in order, in order twice, backwards,
// and rows at random.
std::vector<int> readOrder(int kind, int rows) {
  std::vector<int> order;
  if (kind == 0 || kind == 1)
    for (int pass = 0; pass <= kind; pass++)
      for (int r = 0; r < rows; r++) order.push_back(r);
  if (kind == 2)
    for (int r = rows - 1; r >= 0; r--) order.push_back(r);
  if (kind == 3) {
    unsigned seed = 12345;
    for (int i = 0; i < rows; i++) {
      seed = seed * 1103515245 + 12345;
      order.push_back(static_cast<int>(seed >> 8) % rows);
    }
  }
  return order;
}

// Reads `path` through the line cache in the given order and compares
// every line read with the whole-image decoder's.
void expectReadsAsWhole(const std::string &path, int rows, int columns, int bands, int kind) {
  const std::vector<unsigned char> want = decodedLines(path, rows, columns, bands);
  RAMIMG *image = openFile(path);
  ASSERT_NE(image, nullptr);
  for (int row : readOrder(kind, rows)) {
    for (int band = 0; band < bands; band++) {
      const unsigned char *line = getRAMImageLine(image, row, band, 1);
      ASSERT_NE(line, nullptr);
      const size_t at = (static_cast<size_t>(row) * bands + band) * columns;
      ASSERT_EQ(memcmp(line, &want[at], columns), 0)
          << "row " << row << " band " << band;
    }
  }
  closeFile(image);
}

}  // namespace

TEST_F(Jpeg, ReadInAnyOrderGivesTheWholeDecodersPixels) {
  // Rows decoded in order into a window (passed rows given back, a read
  // that goes back decoding again or falling back to the whole image)
  // are the whole-image decoder's, bit for bit.
  SmallWindow window;
  struct Case {
    const char *name;
    int rows, columns, bands, restartRows;
    bool progressive;
  };
  const Case cases[] = {
      {"grey", 203, 77, 1, 0, false},
      {"rgb 4:2:0", 203, 77, 3, 0, false},
      {"rgb, one MCU row", 9, 13, 3, 0, false},
      {"grey, restarts", 150, 64, 1, 1, false},
      {"rgb, restarts every 3 MCU rows", 157, 41, 3, 3, false},
      {"grey, progressive", 120, 33, 1, 0, true},
      {"rgb, progressive", 181, 50, 3, 0, true},
  };
  const std::string path = tempPath("order.jpg");
  const char *orders[] = {"in order", "in order twice", "backwards", "at random"};
  for (const Case &c : cases) {
    writeFile(path, encodeVariant(c.rows, c.columns, c.bands, c.restartRows, c.progressive));
    for (int kind = 0; kind < 4; kind++) {
      SCOPED_TRACE(std::string(c.name) + ", " + orders[kind]);
      expectReadsAsWhole(path, c.rows, c.columns, c.bands, kind);
    }
  }
  // The committed fixtures (4:4:4, a tall progressive image) too.
  for (const char *name : {"im444.jpg", "tall-progressive.jpg", "colour.jpg"}) {
    ImageHeader h;
    initImageHeader(&h);
    ASSERT_EQ(sniffPath(jpegPath(name), &h), IMG_JPEG);
    for (int kind = 0; kind < 4; kind++) {
      SCOPED_TRACE(std::string(name) + ", " + orders[kind]);
      expectReadsAsWhole(jpegPath(name), h.rows, h.columns, h.nbands, kind);
    }
  }
}

TEST_F(Jpeg, StatisticsOfAFileReadInOrderCountEveryRowAsDecoded) {
  // The statistics scan gets a round of rows and counts them on the
  // worker pool; a JPEG file read in order gives back rows its window
  // has passed, so a round longer than the window must not be counted
  // from rows already given back.  The image is several 2 MiB pieces
  // tall, the unit in which passed rows are given back.
  SmallWindow window;
  const int rows = 5000, columns = 1024;
  const std::string path = tempPath("stats.jpg");
  writeFile(path, encodeVariant(rows, columns, 1, 0, false));
  const std::vector<unsigned char> want = decodedLines(path, rows, columns, 1);
  int64_t bins[256] = {0};
  for (unsigned char v : want) bins[v]++;
  RAMIMG *image = openFile(path);
  ASSERT_NE(image, nullptr);
  BandHist *hist = ramImageHist(image, kHistCached, 1, 1);
  ASSERT_NE(hist, nullptr);
  ASSERT_NE(hist[0].bins, nullptr);
  EXPECT_EQ(hist[0].count, double(rows) * columns);
  int differing = 0;
  for (int v = 0; v < 256; v++) differing += hist[0].bins[v] != bins[v];
  EXPECT_EQ(differing, 0);
  closeFile(image);
}

TEST_F(Jpeg, NewImagesWrittenInAnyOrderAreTheWholeWritersFile) {
  // A new JPEG written row by row is encoded as the window passes; the
  // file is byte for byte the one the whole-image writer makes of the
  // same lines, whatever the order of the writes, and rows the writer
  // comes back to read as they were written.
  SmallWindow window;
  const int rows = 301, columns = 45;
  const std::string path = tempPath("written-in-order.jpg");
  const std::string wholePath = tempPath("written-whole.jpg");
  enum Order { kRows, kBandsFirst, kRowsThenBack, kTopHalf, kOrders };
  const char *names[] = {"rows in order", "band by band", "rows, then back to row 2",
                         "top half only"};
  for (int bands : {1, 3}) {
    for (int order = 0; order < kOrders; order++) {
      SCOPED_TRACE(std::to_string(bands) + " bands, " + names[order]);
      ImageHeader templ = jpegHeader(path, rows, columns, bands);
      templ.readerFlag = 0;  // a new image, as a module makes its output
      snprintf(templ.note, sizeof templ.note, "order %d", order);
      unlink(path.c_str());
      ASSERT_EQ(createImageFile(&templ), 0);
      int err = 0;
      RAMIMG *image = openRAMImageFile(path.c_str(), &templ, nullptr, &err);
      ASSERT_NE(image, nullptr);
      image->header.block = 88;
      // What the lines hold in the end: blank (zeros) where not written.
      std::vector<unsigned char> want(static_cast<size_t>(rows) * bands * columns, 0);
      auto put = [&](int row, int band, int shift) {
        unsigned char *line = getRAMImageLine(image, row, band, 1);
        ASSERT_NE(line, nullptr);
        for (int c = 0; c < columns; c++)
          line[c] = static_cast<unsigned char>(pattern(row, c, band) + shift);
        setRAMImageDirty(image, row, band);
        memcpy(&want[(static_cast<size_t>(row) * bands + band) * columns], line, columns);
      };
      if (order == kBandsFirst) {
        for (int band = 0; band < bands; band++)
          for (int row = 0; row < rows; row++) put(row, band, 0);
      } else {
        const int last = order == kTopHalf ? rows / 2 : rows;
        for (int row = 0; row < last; row++)
          for (int band = 0; band < bands; band++) put(row, band, 0);
      }
      if (order == kRowsThenBack) {
        const unsigned char *line = getRAMImageLine(image, 2, bands - 1, 1);
        ASSERT_NE(line, nullptr);
        const size_t at = (2 * static_cast<size_t>(bands) + bands - 1) * columns;
        EXPECT_EQ(memcmp(line, &want[at], columns), 0);
        put(2, 0, 9);
      }
      closeFile(image);

      ImageHeader whole = templ;
      whole.block = 88;
      writeFile(wholePath, {});
      const int fd = open(wholePath.c_str(), O_RDWR);
      ASSERT_EQ(writeJpegLines(fd, &whole, want.data(), columns), 1);
      close(fd);
      EXPECT_EQ(readFile(path), readFile(wholePath));
    }
  }
}

namespace {

// A figure of /proc/self/status in KiB.
long statusKiB(const char *field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return atol(line.c_str() + key.size());
  return -1;
}

}  // namespace

TEST_F(Jpeg, ImagesWrittenAndReadInOrderStayWithinAWindowOfMemory) {
  // In a child process: a new 6000 x 4000 RGB JPEG (72 MB of pixels) is
  // written row by row, closed, opened and read row by row.  The peak
  // resident size grows by far less than the image.
  const int rows = 4000, columns = 6000, bands = 3;
  const std::string path = tempPath("big-in-order.jpg");
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeEnds[0]);
    long result[3] = {-1, -1, -1};
    const long before = statusKiB("VmRSS");
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts from here
    ImageHeader templ = jpegHeader(path, rows, columns, bands);
    templ.readerFlag = 0;
    int err = 0;
    RAMIMG *image = createImageFile(&templ) == 0
                        ? openRAMImageFile(path.c_str(), &templ, nullptr, &err)
                        : nullptr;
    if (image) {
      for (int row = 0; row < rows; row++)
        for (int band = 0; band < bands; band++) {
          unsigned char *line = getRAMImageLine(image, row, band, 1);
          if (!line) break;
          for (int c = 0; c < columns; c++) line[c] = pattern(row, c % 97, band);
          setRAMImageDirty(image, row, band);
        }
      flushRAMImage(image);
      freeRAMImage(image);
      result[0] = statusKiB("VmHWM") - before;
    }
    image = openRAMImageFile(path.c_str(), nullptr, nullptr, &err);
    if (image) {
      long sum = 0;
      for (int row = 0; row < rows; row++)
        for (int band = 0; band < bands; band++) {
          const unsigned char *line = getRAMImageLine(image, row, band, 1);
          if (line) sum += line[row % columns];
        }
      freeRAMImage(image);
      result[1] = statusKiB("VmHWM") - before;
      result[2] = sum;
    }
    ssize_t n = write(pipeEnds[1], result, sizeof result);
    _exit(n == sizeof result ? 0 : 1);
  }
  close(pipeEnds[1]);
  long result[3] = {0, 0, 0};
  EXPECT_EQ(read(pipeEnds[0], result, sizeof result), static_cast<ssize_t>(sizeof result));
  close(pipeEnds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const long imageKiB = int64_t{rows} * columns * bands / 1024;
  EXPECT_GE(result[0], 0);
  EXPECT_LT(result[0], 40 * 1024) << "written, of " << imageKiB << " KiB";
  EXPECT_GE(result[1], 0);
  EXPECT_LT(result[1], 40 * 1024) << "read, of " << imageKiB << " KiB";
  EXPECT_GT(result[2], 0);
  ImageHeader back;
  initImageHeader(&back);
  EXPECT_EQ(sniffPath(path, &back), IMG_JPEG);
  EXPECT_EQ(back.rows, rows);
  unlink(path.c_str());
}
