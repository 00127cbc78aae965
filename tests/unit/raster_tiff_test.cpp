// TIFF and GeoTIFF files: files made by libtiff, ImageMagick and GDAL read
// page by page, corrupt and truncated files refused cleanly, and the
// one-strip writer's tags and round trips.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/text.h"
#include "raster/tiff.h"
#include "tests/unit/raster_formats.h"

using namespace vesk;
using namespace rastertest;
using namespace formatstest;

namespace {

std::string tiffPath(const std::string &name) { return dataPath("tiff", name); }

void dropPrivate(void *privateData) {
  RAMIMG holder;
  holder.privateData = privateData;
  freeTiffPrivate(&holder);
}

// Runs the TIFF reader on a file as the sniffer does; the private data
// is freed unless the caller takes it.
int readTiff(const std::string &path, ImageHeader *out, void **keep = nullptr) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return -100;
  ImageHeader h;
  initImageHeader(&h);
  void *privateData = nullptr;
  const int result = imgTiff(fd, &h, 1, &privateData);
  close(fd);
  if (result <= 0) {
    EXPECT_EQ(privateData, nullptr);
  }
  if (keep) *keep = privateData;
  else dropPrivate(privateData);
  if (out) *out = h;
  return result;
}

double sampleAt(const ImageHeader &h, const unsigned char *line, int column) {
  switch (h.pixelid) {
  case P_1BIT: return line[column / 8] >> (7 - column % 8) & 1;
  case P_4BITS: return column % 2 == 0 ? line[column / 2] >> 4 : line[column / 2] & 15;
  case P_USHORT: { uint16_t v; memcpy(&v, line + 2 * column, 2); return v; }
  case P_SHORT: { int16_t v; memcpy(&v, line + 2 * column, 2); return v; }
  case P_FLOAT: { float v; memcpy(&v, line + 4 * column, 4); return v; }
  default: return line[column];
  }
}

std::vector<double> band(RAMIMG *image, int b) {
  std::vector<double> out;
  const ImageHeader &h = image->header;
  for (int row = 0; row < h.rows; row++) {
    const unsigned char *line = getRAMImageLine(image, row, b, 1);
    for (int column = 0; column < h.columns; column++) out.push_back(sampleAt(h, line, column));
  }
  return out;
}

const std::vector<double> kGrey = {77, 149, 29, 226, 18, 0, 255, 80, 178, 18, 124, 0, 77, 29, 255};
const std::vector<double> kRed = {255, 0, 0, 255, 10, 0, 255, 128, 0, 10, 200, 0, 255, 0, 255};
const std::vector<double> kBlue = {0, 0, 255, 0, 30, 0, 255, 32, 255, 30, 50, 0, 0, 255, 255};

using Tiff = formatstest::Formats;

TEST_F(Tiff, FilesOfOutsideTools) {
  struct Case {
    const char *name;
    int imgid, pixelid, bands, msbf, readerFlag, nindices;
    std::vector<double> band0;
  } cases[] = {
      {"grey8.tif", IMG_TIFF, P_BYTE, 1, 0, 0, 0, kGrey},
      {"rgb8.tif", IMG_TIFF, P_BYTE, 3, 0, 0, 0, kRed},
      {"rgb8-mm.tif", IMG_TIFF, P_BYTE, 3, 1, 0, 0, kRed},
      {"packbits.tif", IMG_TIFF, P_BYTE, 1, 0, 2, 0, kGrey},
      {"u16.tif", IMG_TIFF, P_USHORT, 1, 0, 0, 0, kGrey},
      {"s16.tif", IMG_TIFF, P_SHORT, 1, 0, 0, 0, kGrey},
      {"float.tif", IMG_TIFF, P_FLOAT, 1, 0, 0, 0, kGrey},
      {"geo.tif", IMG_GEOTIFF, P_BYTE, 1, 0, 0, 0, kGrey},
      {"geo-mm.tif", IMG_GEOTIFF, P_BYTE, 1, 1, 0, 0, kGrey},
      // Min-is-black: black pixels of the source are 0.
      {"bilevel.tif", IMG_TIFF, P_1BIT, 1, 1, 0, 2, {0, 1, 0, 0, 1, 1, 0, 1, 1, 0, 0, 0, 0, 1, 1}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RAMIMG *image = openFile(tiffPath(c.name));
    if (!image) continue;
    const ImageHeader &h = image->header;
    EXPECT_EQ(h.imgid, c.imgid);
    EXPECT_EQ(h.pixelid, c.pixelid);
    EXPECT_EQ(h.rows, 3);
    EXPECT_EQ(h.columns, 5);
    EXPECT_EQ(h.nbands, c.bands);
    EXPECT_EQ(h.msbf, c.msbf);
    EXPECT_EQ(h.readerFlag, c.readerFlag);
    EXPECT_EQ(h.nindices, c.nindices);
    EXPECT_EQ(h.volumes, 1);
    EXPECT_EQ(band(image, 0), c.band0);
    if (c.bands == 3) {
      EXPECT_EQ(band(image, 2), kBlue);
    }
    closeFile(image);
  }
}

TEST_F(Tiff, PalettesTilesAndGeoreference) {
  // A 4-bit palette image: the colours of the indexes are the source's.
  RAMIMG *image = openFile(tiffPath("palette8.tif"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.pixelid, P_4BITS);
  EXPECT_EQ(image->header.nindices, 16);
  std::vector<double> red;
  for (double index : band(image, 0)) red.push_back(image->header.palette[int(index)][0]);
  EXPECT_EQ(red, kRed);
  closeFile(image);

  // 16 x 16 tiles over a 20 x 20 ramp: pixels on both sides of each edge.
  image = openFile(tiffPath("tiled.tif"));
  ASSERT_NE(image, nullptr);
  for (int row : {0, 15, 16, 19}) {
    const unsigned char *line = getRAMImageLine(image, row, 0, 1);
    for (int column : {0, 15, 16, 19}) EXPECT_EQ(line[column], (row * 20 + column) % 256);
  }
  closeFile(image);

  // GDAL's GeoTIFF in both byte orders reads to the same header.
  ImageHeader ii, mm, scaleOnly, bits12;
  ASSERT_EQ(readTiff(tiffPath("geo.tif"), &ii), 1);
  ASSERT_EQ(readTiff(tiffPath("geo-mm.tif"), &mm), 1);
  EXPECT_EQ(ii.imgid, IMG_GEOTIFF);
  EXPECT_EQ(ii.mapid, 32633);  // ProjectedCSTypeGeoKey: EPSG:32633, "PCS32633"
  EXPECT_DOUBLE_EQ(ii.x0, 500000);
  EXPECT_DOUBLE_EQ(ii.y0, 4100000);
  EXPECT_DOUBLE_EQ(ii.dx, 10);
  EXPECT_DOUBLE_EQ(ii.dy, 10);
  EXPECT_EQ(mm.msbf, 1);
  mm.msbf = 0;
  EXPECT_EQ(memcmp(&ii, &mm, sizeof ii), 0);

  // A pixel scale alone does not georeference the image.
  ASSERT_EQ(readTiff(tiffPath("scale-only.tif"), &scaleOnly), 1);
  EXPECT_EQ(scaleOnly.imgid, IMG_TIFF);
  EXPECT_EQ(scaleOnly.x0, 0);
  EXPECT_EQ(scaleOnly.y0, 0);
  EXPECT_EQ(scaleOnly.dx, 10);

  // Depths the store can't hold are refused, naming the depth.
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(readTiff(tiffPath("bits12.tif"), &bits12), 0); }),
            "imgTiff - Can't hold samples of 12 bits.\n");
}

TEST_F(Tiff, Pages) {
  RAMIMG *image = openFile(tiffPath("twopage.tif"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->header.volumes, 2);
  EXPECT_EQ(image->header.nbands, 1);
  EXPECT_EQ(band(image, 0), kGrey);
  EXPECT_EQ(seekRAMImageVolume(image, 2), 2);
  EXPECT_EQ(image->header.nbands, 3);
  EXPECT_EQ(band(image, 0), kRed);
  EXPECT_EQ(seekRAMImageVolume(image, 1), 1);
  EXPECT_EQ(band(image, 0), kGrey);

  // The page selector: the next page after the last is none; a page out
  // of range is the last.
  const int fd = open(tiffPath("twopage.tif").c_str(), O_RDONLY);
  ImageHeader h = image->header;
  void *privateData = nullptr;
  ASSERT_EQ(imgTiff(fd, &h, 5, &privateData), 1);
  EXPECT_EQ(h.nbands, 1);  // a new reading starts on page 1
  EXPECT_EQ(imgTiff(fd, &h, 0, &privateData), 1);
  EXPECT_EQ(h.nbands, 3);
  EXPECT_EQ(imgTiff(fd, &h, 0, &privateData), 0);
  EXPECT_EQ(imgTiff(fd, &h, 1, &privateData), 1);
  EXPECT_EQ(imgTiff(fd, &h, 7, &privateData), 1);
  EXPECT_EQ(static_cast<TiffPrivate *>(privateData)->page, 2);
  EXPECT_EQ(h.nbands, 3);
  close(fd);
  dropPrivate(privateData);
  closeFile(image);
}

TEST_F(Tiff, CorruptFilesAreRefused) {
  struct Case {
    const char *name;
    int result;
    const char *message;
  } cases[] = {
      {"lzw.tif", -1, "imgTiff - Can't read the Tiff with a compression ID:5\n"},
      {"zero-width.tif", 0, "imgTiff - invalid col/row: 0/3\n"},
      {"cut-strip.tif", 0, "imgTiff - Strip data beyond the end of the file.\n"},
      {"bad-colormap.tif", 0, "imgTiff - invalid nIndices: 255\n"},
      {"loop.tif", 0, "Error: read in getTiffInfo: invalid data\n"},
      {"ifd-past-end.tif", 0, "Error: read in getTiffInfo: invalid data\n"},
      {"cut-ifd.tif", 0, "Error: read in getTiffInfo: invalid data\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    int result = 99;
    EXPECT_EQ(errorsOf([&] { result = readTiff(tiffPath(c.name), nullptr); }), c.message);
    EXPECT_EQ(result, c.result);
  }
  // The sniffer: an unreadable compression ends the identification.
  ImageHeader h;
  initImageHeader(&h);
  const int fd = open(tiffPath("lzw.tif").c_str(), O_RDONLY);
  void *privateData = nullptr;
  errorsOf([&] { EXPECT_EQ(sniffImageFile(fd, "lzw.tif", &h, &privateData), -1); });
  EXPECT_EQ(privateData, nullptr);
  close(fd);
}

TEST_F(Tiff, TruncatedFilesStayInsideTheirBuffers) {
  for (const char *name : {"grey8.tif", "rgb8-mm.tif", "packbits.tif", "tiled.tif", "twopage.tif",
                           "geo-mm.tif", "palette8.tif"}) {
    SCOPED_TRACE(name);
    const std::vector<unsigned char> bytes = readFile(tiffPath(name));
    const std::string path = tempPath("cut.tif");
    for (size_t n = 0; n < bytes.size(); n++) {
      writeFile(path, std::vector<unsigned char>(bytes.begin(), bytes.begin() + n));
      errorsOf([&] {
        int err = 0;
        RAMIMG *image = openRAMImageFile(path.c_str(), nullptr, nullptr, &err);
        if (!image) return;
        for (int row = 0; row < image->header.rows; row++)
          for (int b = 0; b < image->header.nbands; b++) getRAMImageLine(image, row, b, 1);
        closeFile(image);
      });
    }
  }
}

// Tags of the first directory of a written file.
TiffInfo *loadWritten(const std::string &path, int *fd) {
  *fd = open(path.c_str(), O_RDWR);
  return loadTiffInfo(*fd);
}

TEST_F(Tiff, WrittenTags) {
  // Two bands of bytes: BitsPerSample and SampleFormat inline.
  const std::string path = tempPath("written.tif");
  ImageHeader h = rawHeader(path, IMG_TIFF, P_BYTE, 3, 4, 2, 0, 0);
  ASSERT_EQ(createImageFile(&h), 8);
  EXPECT_EQ(h.offset, 8);
  EXPECT_EQ(h.block, 8);
  int fd = -1;
  TiffInfo *info = loadWritten(path, &fd);
  ASSERT_NE(info, nullptr);
  const TiffIFD *ifd = info->directories[0];
  EXPECT_EQ(info->headerWord, msbFirst() ? kTiffBigEndian : kTiffLittleEndian);
  EXPECT_EQ(info->version, 42);
  EXPECT_EQ(info->firstOffset, 8 + 24 + 16);  // after the two resolutions
  std::vector<int> tags;
  for (const TiffEntry &e : ifd->entries) tags.push_back(e.tag);
  EXPECT_EQ(tags, (std::vector<int>{256, 257, 258, 259, 262, 273, 274, 277, 278, 279, 280, 281,
                                     282, 283, 284, 296, 338, 339}));
  // The second sample is an unspecified extra one.
  const TiffEntry &extra = ifd->entries[static_cast<size_t>(findTiffTag(ifd, 338))];
  EXPECT_EQ(extra.count, 1u);
  EXPECT_EQ(extra.value, 0u);
  const TiffEntry &bits = ifd->entries[static_cast<size_t>(findTiffTag(ifd, 258))];
  EXPECT_EQ(bits.count, 2u);
  EXPECT_EQ(bits.value, 8u | 8u << 16);
  const TiffEntry &format = ifd->entries[static_cast<size_t>(findTiffTag(ifd, 339))];
  EXPECT_EQ(format.value, 1u | 1u << 16);
  EXPECT_EQ(getTiffPhotometric(ifd), 1);
  EXPECT_EQ(getTiffStripByteCounts(ifd), 24);
  freeTiffInfo(info);
  close(fd);

  // A bilevel image of 100 columns takes 13 bytes a row.
  ImageHeader bilevel = rawHeader(path, IMG_TIFF, P_1BIT, 2, 100, 1, 0, 0);
  ASSERT_EQ(createImageFile(&bilevel), 8);
  EXPECT_EQ(bilevel.block, 13);
  info = loadWritten(path, &fd);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(getTiffStripByteCounts(info->directories[0]), 26);
  freeTiffInfo(info);
  close(fd);

  // GeoTIFF keys: a named projection is user-defined, a PCS code is itself.
  struct GeoCase {
    int mapid;
    const char *note;
    int pcs;
    std::string text;
  } geo[] = {{MAPID_GRID, "", 32767, std::string("GRID|\0", 6)},
             {32633, "zone", 32633, std::string("PCS32633|zone|\0", 15)}};
  for (const GeoCase &c : geo) {
    SCOPED_TRACE(c.mapid);
    ImageHeader g = rawHeader(path, IMG_GEOTIFF, P_BYTE, 3, 5, 1, 0, 0);
    g.mapid = c.mapid;
    snprintf(g.note, sizeof g.note, "%s", c.note);
    g.x0 = 500000;
    g.y0 = 4100000;
    g.dx = 30;
    g.dy = 20;
    ASSERT_EQ(createImageFile(&g), 8);
    info = loadWritten(path, &fd);
    ASSERT_NE(info, nullptr);
    ifd = info->directories[0];
    const TiffEntry &keys = ifd->entries[static_cast<size_t>(findTiffTag(ifd, 34735))];
    EXPECT_EQ(keys.count, 20u);
    EXPECT_EQ(getTiffArrayValue(fd, ifd, 34735, 15, info->headerWord), c.pcs);
    // The key counts the text up to its last "|", without the NUL.
    EXPECT_EQ(getTiffArrayValue(fd, ifd, 34735, 18, info->headerWord), int(c.text.size()) - 1);
    const TiffEntry &ascii = ifd->entries[static_cast<size_t>(findTiffTag(ifd, 34737))];
    ASSERT_EQ(ascii.count, c.text.size());
    std::string text(ascii.count, '?');
    ASSERT_EQ(pread(fd, &text[0], text.size(), ascii.value), ssize_t(text.size()));
    EXPECT_EQ(text, c.text);
    freeTiffInfo(info);
    close(fd);
    ImageHeader back;
    ASSERT_EQ(readTiff(path, &back), 1);
    EXPECT_EQ(back.imgid, IMG_GEOTIFF);
    EXPECT_EQ(back.x0, 500000);
    EXPECT_EQ(back.y0, 4100000);
    EXPECT_EQ(back.dx, 30);
    EXPECT_EQ(back.dy, 20);
  }
}

TEST_F(Tiff, RoundTripsThroughTheStore) {
  struct Case {
    int pixelid, bands, nindices;
  } cases[] = {{P_BYTE, 3, 0}, {P_USHORT, 1, 0}, {P_FLOAT, 2, 0}, {P_BYTE, 1, 4}, {P_1BIT, 1, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pixelid * 10 + c.bands);
    const std::string path = tempPath("round.tif");
    ImageHeader h = rawHeader(path, IMG_TIFF, c.pixelid, 4, 9, c.bands, 0, 0);
    h.nindices = c.nindices;
    for (int i = 0; i < c.nindices; i++) h.palette[i][0] = static_cast<unsigned char>(60 * i + 7);
    ASSERT_EQ(createImageFile(&h), 8);
    RAMIMG *image = openFile(path);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->header.pixelid, c.pixelid);
    const int64_t lineBytes = image->lineBytes;
    for (int row = 0; row < 4; row++)
      for (int b = 0; b < c.bands; b++) {
        unsigned char *line = getRAMImageLine(image, row, b, 1);
        for (int64_t k = 0; k < lineBytes; k++) line[k] = static_cast<unsigned char>(row * 31 + b * 7 + k);
        if (c.pixelid == P_1BIT) line[1] &= 0x80;  // nine columns
        setRAMImageDirty(image, row, b);
      }
    closeFile(image);
    image = openFile(path);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->header.nindices, c.pixelid == P_1BIT ? 2 : c.nindices ? 256 : 0);
    if (c.nindices) {
      EXPECT_EQ(image->header.palette[3][0], 187);
    }
    for (int row = 0; row < 4; row++)
      for (int b = 0; b < c.bands; b++) {
        const unsigned char *line = getRAMImageLine(image, row, b, 1);
        for (int64_t k = 0; k < lineBytes; k++) {
          unsigned char want = static_cast<unsigned char>(row * 31 + b * 7 + k);
          if (c.pixelid == P_1BIT && k == 1) want &= 0x80;
          ASSERT_EQ(line[k], want) << row << " " << b << " " << k;
        }
      }
    closeFile(image);
  }
}

TEST_F(Tiff, TrailerRewritesTheColourMap) {
  const std::string path = tempPath("trailer.tif");
  ImageHeader h = rawHeader(path, IMG_TIFF, P_BYTE, 2, 2, 1, 0, 0);
  h.nindices = 2;
  ASSERT_EQ(createImageFile(&h), 8);
  const int fd = open(path.c_str(), O_RDWR);
  ImageHeader page;
  initImageHeader(&page);
  void *privateData = nullptr;
  ASSERT_EQ(imgTiff(fd, &page, 1, &privateData), 1);
  page.palette[1][2] = 200;
  EXPECT_EQ(writeImageTrailer(fd, &page, privateData), 768);
  EXPECT_EQ(writeImageTrailer(fd, &page, nullptr), 0);
  dropPrivate(privateData);
  close(fd);
  ImageHeader back;
  ASSERT_EQ(readTiff(path, &back), 1);
  EXPECT_EQ(back.palette[1][2], 200);
  EXPECT_EQ(back.nindices, 256);
}

// ---- files made by GDAL in layouts once misread (tests/data/tiff/real) ----

std::string realPath(const std::string &name) { return dataPath("tiff/real", name); }

// GDAL's reading of a fixture: one line a band, rows one after another.
std::vector<std::vector<double>> gdalValues(const std::string &name) {
  std::ifstream in(realPath(name.substr(0, name.size() - 4) + ".txt"));
  std::vector<std::vector<double>> bands;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    bands.emplace_back();
    double value;
    while (words >> value) bands.back().push_back(value);
  }
  return bands;
}

std::string copyToTemp(const std::string &name) {
  const std::string path = tempPath(name);
  writeFile(path, readFile(realPath(name)));
  return path;
}

TEST_F(Tiff, LayoutsReadAsGdalReadsThem) {
  // One tile, band planes in strips, tiles and PackBits strips, 1- and
  // 4-bit tiles.
  for (const char *name : {"one-tile.tif", "planar.tif", "planar-tiled.tif", "bits1-tiled.tif",
                           "bits4-tiled.tif", "strips.tif", "planar-packbits.tif"}) {
    SCOPED_TRACE(name);
    const std::vector<std::vector<double>> want = gdalValues(name);
    RAMIMG *image = openFile(realPath(name));
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->header.nbands, static_cast<int>(want.size()));
    // Bands last to first, so that no band rides on another's reading.
    for (int b = image->header.nbands - 1; b >= 0; b--) EXPECT_EQ(band(image, b), want[b]) << b;
    closeFile(image);
  }
}

TEST_F(Tiff, PixelIsPointAndBlackIsZero) {
  // gdalinfo's upper left corner of a pixel-is-point file (reference.txt).
  ImageHeader point, bilevel;
  ASSERT_EQ(readTiff(realPath("point.tif"), &point), 1);
  EXPECT_EQ(point.imgid, IMG_GEOTIFF);
  EXPECT_DOUBLE_EQ(point.x0, 500000);
  EXPECT_DOUBLE_EQ(point.y0, 4100000);
  EXPECT_DOUBLE_EQ(point.dx, 30);
  // GDAL's palette of a 1-bit BlackIsZero file: black, white.
  ASSERT_EQ(readTiff(realPath("bits1-tiled.tif"), &bilevel), 1);
  EXPECT_EQ(bilevel.nindices, 2);
  for (int c = 0; c < 3; c++) {
    EXPECT_EQ(bilevel.palette[0][c], 0);
    EXPECT_EQ(bilevel.palette[1][c], 255);
  }
}

TEST_F(Tiff, SamplesTheStoreCannotHoldAreRefused) {
  int result = 99;
  EXPECT_EQ(errorsOf([&] { result = readTiff(realPath("float64.tif"), nullptr); }),
            "imgTiff - Can't hold samples of 64 bits.\n");
  EXPECT_EQ(result, 0);
}

TEST_F(Tiff, PlanarFilesAreWrittenBandByBand) {
  for (const char *name : {"planar.tif", "planar-tiled.tif"}) {
    SCOPED_TRACE(name);
    const std::vector<std::vector<double>> want = gdalValues(name);
    const std::string path = copyToTemp(name);
    RAMIMG *image = openFile(path);
    ASSERT_NE(image, nullptr);
    const int64_t lineBytes = image->lineBytes;
    unsigned char *line = getRAMImageLine(image, 9, 1, 1);
    ASSERT_NE(line, nullptr);
    for (int64_t k = 0; k < lineBytes; k++) line[k] = static_cast<unsigned char>(3 * k + 1);
    setRAMImageDirty(image, 9, 1);
    closeFile(image);

    image = openFile(path);
    ASSERT_NE(image, nullptr);
    const ImageHeader &h = image->header;
    for (int b = 0; b < h.nbands; b++)
      for (int row = 0; row < h.rows; row++) {
        const unsigned char *back = getRAMImageLine(image, row, b, 1);
        for (int column = 0; column < h.columns; column++) {
          if (b == 1 && row == 9) continue;
          ASSERT_EQ(sampleAt(h, back, column), want[b][row * h.columns + column]) << b << " " << row;
        }
        if (b == 1 && row == 9) {
          for (int64_t k = 0; k < lineBytes; k++) ASSERT_EQ(back[k], static_cast<unsigned char>(3 * k + 1));
        }
      }
    closeFile(image);
  }
}

TEST_F(Tiff, AnEditOfAnUnloadedStripSurvivesItsLoading) {
  // Row 5 is claimed without reading and written; reading row 6 loads
  // their strip (rows 4 to 7) and must not put the file's row 5 over it.
  const std::vector<double> want = gdalValues("strips.tif")[0];
  const std::string path = copyToTemp("strips.tif");
  RAMIMG *image = openFile(path);
  ASSERT_NE(image, nullptr);
  const int columns = image->header.columns;
  unsigned char *line = getRAMImageLine(image, 5, 0, 0);
  ASSERT_NE(line, nullptr);
  for (int k = 0; k < columns; k++) line[k] = static_cast<unsigned char>(200 + k);
  setRAMImageDirty(image, 5, 0);
  const unsigned char *neighbour = getRAMImageLine(image, 6, 0, 1);
  for (int k = 0; k < columns; k++) EXPECT_EQ(neighbour[k], want[6 * columns + k]);
  line = getRAMImageLine(image, 5, 0, 1);
  for (int k = 0; k < columns; k++) EXPECT_EQ(line[k], 200 + k);
  closeFile(image);

  image = openFile(path);
  ASSERT_NE(image, nullptr);
  std::vector<double> edited = want;
  for (int k = 0; k < columns; k++) edited[5 * columns + k] = 200 + k;
  EXPECT_EQ(band(image, 0), edited);
  closeFile(image);
}

TEST_F(Tiff, StripsAreCheckedAgainstTheFileBeforeUse) {
  // strips.tif with a strip moved past the end, and with its rows
  // raised beyond what its three strips hold.
  std::vector<unsigned char> bytes = readFile(realPath("strips.tif"));
  const std::string path = tempPath("bent.tif");
  int fd = open(realPath("strips.tif").c_str(), O_RDONLY);
  TiffInfo *info = loadTiffInfo(fd);
  close(fd);
  ASSERT_NE(info, nullptr);
  const TiffIFD *ifd = info->directories[0];
  const TiffEntry &offsets = ifd->entries[static_cast<size_t>(findTiffTag(ifd, TAG_STRIP_OFFSETS))];
  const TiffEntry &length = ifd->entries[static_cast<size_t>(findTiffTag(ifd, TAG_IMAGE_LENGTH))];
  const size_t lengthField = ifd->offset + 2 + 12 * static_cast<size_t>(&length - &ifd->entries[0]) + 8;
  const size_t lastOffset = offsets.value + 8;
  freeTiffInfo(info);

  std::vector<unsigned char> moved = bytes;
  putU32(&moved[lastOffset], static_cast<uint32_t>(bytes.size() - 10), false);
  writeFile(path, moved);
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(readTiff(path, nullptr), 0); }),
            "imgTiff - Strip data beyond the end of the file.\n");

  std::vector<unsigned char> longer = bytes;
  putU16(&longer[lengthField], 4000, false);
  writeFile(path, longer);
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(readTiff(path, nullptr), 0); }),
            "imgTiff - The image needs 1000 strips or tiles; the file has 3.\n");
}

// ---- what the writer gives baseline readers ----

TEST_F(Tiff, WrittenFilesAreAlignedAndCarryTheBaselineTags) {
  struct Case {
    int imgid, pixelid, bands, nindices;
  } cases[] = {{IMG_TIFF, P_BYTE, 1, 0},   {IMG_TIFF, P_BYTE, 3, 0},  {IMG_TIFF, P_BYTE, 1, 256},
               {IMG_TIFF, P_USHORT, 1, 0}, {IMG_TIFF, P_FLOAT, 1, 0}, {IMG_GEOTIFF, P_BYTE, 1, 0},
               {IMG_TIFF, P_1BIT, 1, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.imgid * 1000 + c.pixelid * 10 + c.bands);
    const std::string path = tempPath("aligned.tif");
    // 3 x 5: odd-length pixel data for bytes.
    ImageHeader h = rawHeader(path, c.imgid, c.pixelid, 3, 5, c.bands, 0, 0);
    h.nindices = c.nindices;
    h.dx = h.dy = 10;
    ASSERT_EQ(createImageFile(&h), 8);
    int fd = -1;
    TiffInfo *info = loadWritten(path, &fd);
    ASSERT_NE(info, nullptr);
    const TiffIFD *ifd = info->directories[0];
    EXPECT_EQ(ifd->offset % 2, 0);
    for (const TiffEntry &e : ifd->entries)
      if (int64_t{getTiffTypeSize(e.type)} * e.count > 4) {
        EXPECT_EQ(e.value % 2, 0u) << e.tag;
      }
    std::vector<int> required = {256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 296};
    if (c.nindices) required.push_back(320);
    for (int tag : required) EXPECT_GE(findTiffTag(ifd, tag), 0) << tag;
    for (int tag : {282, 283}) {
      const TiffEntry &e = ifd->entries[static_cast<size_t>(std::max(findTiffTag(ifd, tag), 0))];
      unsigned char ratio[8];
      ASSERT_EQ(pread(fd, ratio, 8, e.value), 8);
      EXPECT_EQ(getU32(ratio, info->headerWord == kTiffBigEndian), 72u);
      EXPECT_EQ(getU32(ratio + 4, info->headerWord == kTiffBigEndian), 1u);
    }
    EXPECT_EQ(getTiffArrayValue(fd, ifd, 296, 0, info->headerWord), 2);
    freeTiffInfo(info);
    close(fd);
  }
}

// ---- tags set in place in a loaded file ----

// The five tags make-settag.sh sets with libtiff's tiffset, set here with
// setTiffTag on the last directory of a copy of the fixture.
void setFiveTags(int fd, TiffInfo *info) {
  const char software[] = "vesk settag";
  const uint16_t orientation = 4, page[2] = {0, 2};
  const uint32_t xres[2] = {300, 1}, yres[2] = {150, 1};
  EXPECT_EQ(setTiffTag(fd, info, 305, TIFF_ASCII, sizeof software, software), 1);
  EXPECT_EQ(setTiffTag(fd, info, 274, TIFF_SHORT, 1, &orientation), 0);
  EXPECT_GE(setTiffTag(fd, info, 282, TIFF_RATIONAL, 1, xres), 0);
  EXPECT_GE(setTiffTag(fd, info, 283, TIFF_RATIONAL, 1, yres), 0);
  EXPECT_EQ(setTiffTag(fd, info, 297, TIFF_SHORT, 2, page), 0);
}

// One "Name (tag) TYPE (type) count<values>" line of tiffdump.
struct DumpLine {
  int tag, type;
  uint32_t count;
  std::string values;
};

std::vector<std::vector<DumpLine>> readDump(const std::string &text) {
  std::vector<std::vector<DumpLine>> directories;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Directory ", 0) == 0) directories.emplace_back();
    DumpLine d;
    char values[512] = "";
    const size_t open = line.find(" (");
    if (open == std::string::npos || directories.empty()) continue;
    if (sscanf(line.c_str() + open, " (%d) %*s (%d) %u<%511[^>]>", &d.tag, &d.type, &d.count,
               values) == 4) {
      d.values = values;
      directories.back().push_back(d);
    }
  }
  return directories;
}

std::string tiffdumpOf(const std::string &path) {
  std::string text;
  FILE *p = popen(("tiffdump '" + path + "' 2>&1 | sed -e 1d -e "
                   "'s/^\\(Directory [0-9]*\\): offset .* next .*/\\1/'").c_str(), "r");
  if (!p) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
  pclose(p);
  return text;
}

TEST_F(Tiff, TagsSetInPlaceReadAsLibtiffListsThem) {
  const bool haveTiffdump = system("command -v tiffdump >/dev/null 2>&1") == 0;
  for (const char *name : {"grey8", "rgb8-mm", "twopage"}) {
    SCOPED_TRACE(name);
    const std::string path = tempPath(std::string("settag-") + name + ".tif");
    const std::vector<unsigned char> before = readFile(tiffPath(std::string(name) + ".tif"));
    writeFile(path, before);
    int fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    TiffInfo *info = loadTiffInfo(fd);
    ASSERT_NE(info, nullptr);
    const TiffIFD old = *info->directories.back();
    // The link to the last directory: the header's first offset or the
    // previous directory's next field.
    int64_t link = 4;
    if (info->count > 1) {
      const TiffIFD *previous = info->directories[static_cast<size_t>(info->count - 2)];
      link = previous->offset + 2 + 12 * static_cast<int64_t>(previous->entries.size());
    }
    setFiveTags(fd, info);
    freeTiffInfo(info);

    // The file as tiffset left it, directory by directory.
    std::ifstream expected(tiffPath(std::string("settag-") + name + ".dump"));
    std::stringstream text;
    text << expected.rdbuf();
    const auto dump = readDump(text.str());
    info = loadTiffInfo(fd);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(static_cast<size_t>(info->count), dump.size());
    for (size_t d = 0; d < dump.size(); d++) {
      const TiffIFD *ifd = info->directories[d];
      ASSERT_EQ(ifd->entries.size(), dump[d].size());
      for (size_t i = 0; i < dump[d].size(); i++) {
        const DumpLine &want = dump[d][i];
        const TiffEntry &got = ifd->entries[i];
        SCOPED_TRACE(want.tag);
        EXPECT_EQ(got.tag, want.tag);
        EXPECT_EQ(got.type, want.type);
        EXPECT_EQ(got.count, want.count);
        std::istringstream values(want.values);
        if (want.type == TIFF_SHORT || want.type == TIFF_LONG) {
          int64_t v, k = 0;
          while (values >> v) EXPECT_EQ(getTiffArrayValue(fd, ifd, want.tag, k++, info->headerWord), v);
        } else if (want.type == TIFF_RATIONAL) {
          double v = 0;
          values >> v;
          unsigned char ratio[8];
          ASSERT_EQ(pread(fd, ratio, 8, got.value), 8);
          const bool msb = info->headerWord == kTiffBigEndian;
          EXPECT_NEAR(static_cast<double>(getU32(ratio, msb)) / getU32(ratio + 4, msb), v, 1e-4);
        } else if (want.type == TIFF_ASCII) {
          std::string chars;
          for (uint32_t k = 0; k + 1 < got.count; k++)
            chars.push_back(static_cast<char>(getTiffArrayValue(fd, ifd, want.tag, k, info->headerWord)));
          EXPECT_EQ(chars + "\\0", want.values);
        }
      }
    }
    // Nothing outside the old directory changed: pixels, earlier
    // directories and values behind it.
    const std::vector<unsigned char> after = readFile(path);
    const int64_t oldEnd = old.offset + 2 + 12 * static_cast<int64_t>(old.entries.size()) + 4;
    ASSERT_GE(after.size(), before.size() - static_cast<size_t>(oldEnd - old.offset));
    for (size_t k = 0; k < before.size(); k++)
      if ((static_cast<int64_t>(k) < link || static_cast<int64_t>(k) >= link + 4) &&
          (static_cast<int64_t>(k) < old.offset || static_cast<int64_t>(k) >= oldEnd)) {
        ASSERT_EQ(after[k], before[k]) << k;
      }
    freeTiffInfo(info);
    close(fd);
    if (haveTiffdump) {
      EXPECT_EQ(tiffdumpOf(path), text.str());
    }
  }
}

TEST_F(Tiff, AReplacedInlineTagIsRewrittenInPlace) {
  const std::string path = tempPath("settag-inplace.tif");
  const std::vector<unsigned char> before = readFile(tiffPath("grey8.tif"));
  writeFile(path, before);
  int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  TiffInfo *info = loadTiffInfo(fd);
  ASSERT_NE(info, nullptr);
  const int64_t offset = info->directories[0]->offset;
  const uint16_t orientation = 3;
  EXPECT_EQ(setTiffTag(fd, info, 274, TIFF_SHORT, 1, &orientation), 0);
  EXPECT_EQ(info->directories[0]->offset, offset);
  const std::vector<unsigned char> after = readFile(path);
  ASSERT_EQ(after.size(), before.size());
  size_t changed = 0;
  for (size_t k = 0; k < before.size(); k++) changed += after[k] != before[k];
  EXPECT_EQ(changed, 1u);
  EXPECT_EQ(getTiffArrayValue(fd, info->directories[0], 274, 0, info->headerWord), 3);

  // Refused: an unknown type, no values, no directory.
  const char one = 1;
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(setTiffTag(fd, info, 305, 13, 1, &one), -1); }),
            "Unknown data type: 13\n");
  EXPECT_EQ(setTiffTag(fd, info, 305, TIFF_BYTE, 0, &one), -1);
  EXPECT_EQ(setTiffTag(fd, info, 305, TIFF_BYTE, 1, nullptr), -1);
  EXPECT_EQ(setTiffTag(fd, nullptr, 305, TIFF_BYTE, 1, &one), -1);
  EXPECT_EQ(readFile(path), after);
  freeTiffInfo(info);
  close(fd);
}

TEST_F(Tiff, EntriesValuesAndDirectoriesAreWrittenInTheFilesOrder) {
  const std::string path = tempPath("pieces.tif");
  writeFile(path, {});
  int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  const uint16_t shorts[3] = {0x0102, 0x0304, 0x0506};
  EXPECT_EQ(writeTiffValues(fd, 2, kTiffBigEndian, 3, 2, shorts), 8);
  EXPECT_EQ(writeTiffValues(fd, 8, kTiffLittleEndian, 1, 2, shorts), 10);
  EXPECT_EQ(writeTiffValues(fd, 8, kTiffLittleEndian, 1, 3, shorts), -1);
  EXPECT_EQ(readFile(path), (std::vector<unsigned char>{0, 0, 1, 2, 3, 4, 5, 6, 2, 1}));

  TiffEntry twoShorts;
  twoShorts.tag = 297;
  twoShorts.type = TIFF_SHORT;
  twoShorts.count = 2;
  twoShorts.value = 7 | 9u << 16;
  ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
  EXPECT_EQ(writeTiffEntry(fd, kTiffBigEndian, &twoShorts), 12);
  std::vector<unsigned char> bytes = readFile(path);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 12),
            (std::vector<unsigned char>{1, 0x29, 0, 3, 0, 0, 0, 2, 0, 7, 0, 9}));

  TiffIFD ifd;
  ifd.entries = {twoShorts};
  EXPECT_EQ(writeTiffLongAt(fd, kTiffLittleEndian, 20, &ifd), 38);
  bytes = readFile(path);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 20, bytes.end()),
            (std::vector<unsigned char>{1, 0, 0x29, 1, 3, 0, 2, 0, 0, 0, 7, 0, 9, 0, 0, 0, 0, 0}));
  close(fd);
}

TEST_F(Tiff, BitsPerSampleAsOneNumber) {
  struct Case {
    const char *name;
    int64_t bits;
  } cases[] = {{"grey8.tif", 8}, {"rgb8.tif", 8}, {"u16.tif", 16}, {"rgb8-mm.tif", 8}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const int fd = open(tiffPath(c.name).c_str(), O_RDONLY);
    TiffInfo *info = loadTiffInfo(fd);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(getTiffBitsPerSample(info->directories[0]), c.bits);
    freeTiffInfo(info);
    close(fd);
  }
  TiffIFD twoBands;
  twoBands.entries = {{TAG_BITS_PER_SAMPLE, TIFF_SHORT, 2, 8 | 8u << 16}};
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(getTiffBitsPerSample(&twoBands), -1); }),
            "Unknown vCount for BITPERSAMPLE 2\n");
  TiffIFD none;
  EXPECT_EQ(getTiffBitsPerSample(&none), -1);
}

}  // namespace
