// Profiles and segments along lines through an image, and the principal
// component operations of "rimage trans" against numpy's eigenvectors
// (tests/data/transfer/expected.py).
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <unistd.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/core.h"
#include "processing/features.h"
#include "processing/transfer.h"
#include "raster/pixels.h"
#include "raster/profile.h"
#include "tests/unit/raster_images.h"

using namespace vesk;
using namespace rastertest;

namespace {

// A FLOAT image of rows x columns with pixel (r, c) = r * 100 + c.
ImagePtr rampImage(int rows, int columns) {
  ImagePtr image = memoryImage(P_FLOAT, rows, columns);
  for (int r = 0; r < rows; r++)
    for (int c = 0; c < columns; c++) {
      float v = static_cast<float>(r * 100 + c);
      putFloatBILData(image.get(), r, c, 1, 0, &v);
    }
  return image;
}

// The numbers of one line of tests/data/transfer/expected.txt.
std::vector<double> expectedValues(const std::string &name) {
  const char *source = getenv("VESK_SOURCE_DIR");
  std::ifstream in(std::string(source ? source : ".") + "/tests/data/transfer/expected.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, name.size() + 1, name + " ") != 0) continue;
    for (char &ch : line)
      if (ch == '{' || ch == '}') ch = ' ';
    std::istringstream words(line.substr(name.size()));
    std::vector<double> out;
    double v;
    while (words >> v) out.push_back(v);
    return out;
  }
  return {};
}

}  // namespace

TEST(Profile, RaysAtAngleZeroAndHalfPi) {
  ImagePtr image = rampImage(20, 20);
  float out[3];
  getRAMImageProfile(image.get(), 10, 10, 0, 0, 1, 0, out, 3, kSampleNearest);
  EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{1010, 1011, 1012}));
  getRAMImageProfile(image.get(), 10, 10, 0, static_cast<float>(M_PI / 2), 1, 0, out, 3,
                     kSampleNearest);
  EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{1010, 910, 810}));
  // Bilinear on pixel centres gives the pixels; a start distance moves the ray.
  getRAMImageProfile(image.get(), 10, 10, 0, 0, 2, 1, out, 3, kSampleBilinear);
  EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{1011, 1013, 1015}));
  // Beyond the image: 0.  Other methods leave the buffer alone.
  getRAMImageProfile(image.get(), 18, 3, 0, 0, 1, 0, out, 3, kSampleNearest);
  EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{318, 319, 0}));
  out[0] = -7;
  getRAMImageProfile(image.get(), 1, 1, 0, 0, 1, 0, out, 1, 3);
  EXPECT_EQ(out[0], -7);
}

TEST(Profile, LastColumnNeighbourAndFarCoordinates) {
  ImagePtr image = rampImage(4, 5);
  // Half a pixel right of the last column: the segment takes the pixel
  // itself as its neighbour, the profile takes 0.
  float seg = 0, ray = 0;
  const int band = 0;
  getRAMImageSeg(image.get(), 4.5f, 2, 4.5f, 2, 1, &band, &seg, 1, kSampleBilinear);
  getRAMImageProfile(image.get(), 4.5f, 2, 0, 0, 1, 0, &ray, 1, kSampleBilinear);
  EXPECT_FLOAT_EQ(seg, 204);
  EXPECT_FLOAT_EQ(ray, 102);
  // Coordinates from scripts may be anything: outside reads 0.
  const float far[] = {1e30f, -1e30f, NAN, INFINITY, 3e9f, -3e9f};
  for (float f : far) {
    SCOPED_TRACE(f);
    float v[2] = {-1, -1};
    getRAMImageSeg(image.get(), f, 1, 2, f, 1, &band, v, 2, kSampleBilinear);
    EXPECT_EQ(v[0], 0);
    getRAMImageSeg(image.get(), f, f, f, f, 1, &band, v, 1, kSampleNearest);
    EXPECT_EQ(v[0], 0);
    getRAMImageProfile(image.get(), f, 1, 0, 0, 1, 0, v, 1, kSampleBilinear);
    EXPECT_EQ(v[0], 0);
    const float values[] = {5, 6};
    // A segment without a length writes nothing and says so.
    EXPECT_EQ(putRAMImageSeg(image.get(), f, 1, -f, 1, 1, &band, values, 2, kSampleNearest),
              isfinite(f) ? 2 : 0);
  }
}

TEST(Segment, SamplesAndBands) {
  ImagePtr image = memoryImage(P_FLOAT, 6, 6, 2);
  for (int r = 0; r < 6; r++)
    for (int c = 0; c < 6; c++)
      for (int b = 0; b < 2; b++) {
        float v = static_cast<float>(b * 1000 + r * 10 + c);
        putFloatBILData(image.get(), r, c, 1, b, &v);
      }
  // The diagonal, pixel-interleaved, bands in the listed order.
  const int bands[] = {1, 0};
  float out[8];
  getRAMImageSeg(image.get(), 0, 0, 3, 3, 2, bands, out, 4, kSampleNearest);
  EXPECT_EQ(std::vector<float>(out, out + 8),
            (std::vector<float>{1000, 0, 1011, 11, 1022, 22, 1033, 33}));
  // n = 1: only the start point.
  getRAMImageSeg(image.get(), 2, 1, 5, 5, 1, bands + 1, out, 1, kSampleNearest);
  EXPECT_EQ(out[0], 12);
  // Bilinear between centres; outside: 0 for every band.
  getRAMImageSeg(image.get(), 0.5f, 0, 0.5f, 0, 1, bands + 1, out, 1, kSampleBilinear);
  EXPECT_FLOAT_EQ(out[0], 0.5f);
  getRAMImageSeg(image.get(), -3, -3, -3, -3, 2, bands, out, 1, kSampleNearest);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
}

TEST(Segment, PutWritesEachPixelOnceAlongTheSequence) {
  ImagePtr image = memoryImage(P_FLOAT, 3, 12);
  const int band = 0;
  const float values[] = {0, 100};
  // Ten pixels long, two values, bilinear: a ramp over the eleven pixels.
  // The half-pixel walk reaches pixel p (p >= 1) at t = (p - 0.5) / 10.
  EXPECT_EQ(putRAMImageSeg(image.get(), 0, 1, 10, 1, 1, &band, values, 2, kSampleBilinear), 2);
  for (int p = 0; p <= 10; p++) {
    SCOPED_TRACE(p);
    const float want = p == 0 ? 0.0f : (p - 0.5f) * 10.0f;
    EXPECT_NEAR(getPixelValue(image.get(), p, 1, 0), want, 1e-4);
  }
  EXPECT_EQ(getPixelValue(image.get(), 11, 1, 0), 0);
  EXPECT_EQ(getPixelValue(image.get(), 5, 0, 0), 0);
  // Nearest: the group at round(t); a zero-length segment writes once and answers 1.
  const float three[] = {7, 8, 9};
  putRAMImageSeg(image.get(), 0, 0, 0, 2, 1, &band, three, 3, kSampleNearest);
  EXPECT_EQ(getPixelValue(image.get(), 0, 0, 0), 7);
  EXPECT_EQ(getPixelValue(image.get(), 0, 1, 0), 8);
  EXPECT_EQ(getPixelValue(image.get(), 0, 2, 0), 9);
  EXPECT_EQ(putRAMImageSeg(image.get(), 4, 2, 4, 2, 1, &band, three, 3, kSampleNearest), 1);
  EXPECT_EQ(getPixelValue(image.get(), 4, 2, 0), 7);
  // A segment that leaves the image writes only what lies inside.
  EXPECT_EQ(putRAMImageSeg(image.get(), -5, 0, 20, 0, 1, &band, values, 2, kSampleNearest), 2);
  EXPECT_EQ(getPixelValue(image.get(), 11, 0, 0), 100);
}

namespace {

// A registered memory image of the given tag, removed at the end.
struct TaggedImage {
  std::string tag;
  RAMIMG *image = nullptr;
  // With no rows: only releases an image a module made under the tag.
  TaggedImage(const char *name, int rows, int columns, int bands) : tag(name) {
    if (rows <= 0) return;
    ImageHeader h = rawHeader(name, IMG_MBIL, P_FLOAT, rows, columns, bands, 0,
                              pixelLineBytes(P_FLOAT, columns));
    int err = 0;
    image = openRAMImageNew(&h, nullptr, 1, &err);
  }
  ~TaggedImage() {
    if (RAMIMG *still = getRAMImageByTag(tag.c_str())) {
      still->keepCount = 0;
      still->refCount = 0;
      closeRAMImage(still, nullptr);
    }
  }
};

int runTrans(std::vector<const char *> words) {
  return transModule("rimage trans", static_cast<int>(words.size()), words.data());
}

}  // namespace

TEST(Trans, PrincipalComponentsMatchNumpyAndRebuildTheInput) {
  const std::vector<double> mean = expectedValues("pc.mean"), cov = expectedValues("pc.cov");
  const std::vector<double> vectors = expectedValues("pc.vectors");
  const std::vector<double> components = expectedValues("pc.components");
  ASSERT_EQ(mean.size(), 3u);
  ASSERT_EQ(components.size(), 3u * 42u);

  TaggedImage in("@pcIn", 6, 7, 3);
  ASSERT_NE(in.image, nullptr);
  for (int r = 0; r < 6; r++)
    for (int c = 0; c < 7; c++) {
      const float v[3] = {static_cast<float>((r * 7 + c * 3) % 11 + r),
                          static_cast<float>((r * 2 + c * 5) % 13 + c),
                          static_cast<float>((r * c) % 7 + 2 * r)};
      for (int b = 0; b < 3; b++) putFloatBILData(in.image, r, c, 1, b, &v[b]);
    }

  // The statistics numpy used, and our eigenvectors of them in a file.
  StatItem item;
  item.name = "all";
  item.count = 42;
  item.mean = mean;
  item.cov = cov;
  const int bands[] = {0, 1, 2};
  FeatureSet *stat = newFeature(kStatTag, bands, 3, statItemSize(3), 1, nullptr, kStatExtraSize);
  ASSERT_NE(stat, nullptr);
  writeStatItem(stat, 0, item);
  FeatureSet *eigen = calcAllEV(3, stat, 0, 0, 1e-9f, 100000);
  ASSERT_NE(eigen, nullptr);
  char dir[] = "/tmp/vesk-transXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/eigen.ftr";
  ASSERT_GT(putFeature(file.c_str(), eigen), 0);
  freeFeature(eigen);
  freeFeature(stat);

  // PC into FLOAT: components centred at 0, each equal to numpy's up to sign.
  ASSERT_EQ(runTrans({"-in", "@pcIn", "-out", "@pcOut", "-ev", file.c_str(), "-imgid", "MBIL",
                      "-pixel", "FLOAT"}),
            1);
  TaggedImage out("@pcOut", 0, 0, 0);
  RAMIMG *pcs = getRAMImageByTag("@pcOut");
  ASSERT_NE(pcs, nullptr);
  EXPECT_EQ(pcs->header.nbands, 3);
  for (int k = 0; k < 3; k++) {
    SCOPED_TRACE(k);
    std::vector<float> got(42);
    for (int r = 0; r < 6; r++) getFloatBILData(pcs, r, 0, 7, k, &got[r * 7]);
    const double sign = got[0] * components[k * 42] < 0 ? -1 : 1;
    for (int i = 0; i < 42; i++) EXPECT_NEAR(sign * got[i], components[k * 42 + i], 1e-3);
  }

  // PC into BYTE centres at 127.5; -pc picks the components.
  ASSERT_EQ(runTrans({"-in", "@pcIn", "-out", "@pcByte", "-ev", file.c_str(), "-pc", "1",
                      "-imgid", "MBIL", "-pixel", "BYTE"}),
            1);
  TaggedImage byteOut("@pcByte", 0, 0, 0);
  RAMIMG *first = getRAMImageByTag("@pcByte");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->header.nbands, 1);
  {
    float v = 0;
    getFloatBILData(first, 0, 0, 1, 0, &v);
    const double sign = (v > 127.5) == (components[0] > 0) ? 1 : -1;
    EXPECT_NEAR(v, 127.5 + sign * components[0], 0.5 + 1e-3);
  }

  // RPC of every component gives the input back.
  ASSERT_EQ(runTrans({"-in", "@pcIn", "-out", "@pcBack", "-ev", file.c_str(), "-o", "rpc",
                      "-imgid", "MBIL", "-pixel", "FLOAT"}),
            1);
  TaggedImage back("@pcBack", 0, 0, 0);
  RAMIMG *rebuilt = getRAMImageByTag("@pcBack");
  ASSERT_NE(rebuilt, nullptr);
  for (int b = 0; b < 3; b++)
    for (int r = 0; r < 6; r++)
      for (int c = 0; c < 7; c++)
        EXPECT_NEAR(getPixelValue(rebuilt, c, r, b), getPixelValue(in.image, c, r, b), 1e-3);

  // -ev with another operation, a bad -pc item, a missing file.
  EXPECT_EQ(runTrans({"-in", "@pcIn", "-out", "@pcX", "-ev", file.c_str(), "-o", "BIN"}), 0);
  EXPECT_EQ(runTrans({"-in", "@pcIn", "-out", "@pcX", "-ev", file.c_str(), "-pc", "2-9"}), 0);
  EXPECT_EQ(runTrans({"-in", "@pcIn", "-out", "@pcX", "-o", "PC", "-ev", "/nonexistent.ftr"}), 0);
  EXPECT_EQ(getRAMImageByTag("@pcX"), nullptr);
  unlink(file.c_str());
  rmdir(dir);
}

// An abort through the run status ends crop at once, as a success.
TEST(Trans, CropAbortKeepsRowsAndSucceeds) {
  TaggedImage in("@abortIn", 3, 4, 1), out("@abortOut", 3, 4, 1);
  ASSERT_NE(in.image, nullptr);
  ASSERT_NE(out.image, nullptr);
  const float v = 9;
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 4; c++) putFloatBILData(in.image, r, c, 1, 0, &v);
  // The status is polled through a stdio interpreter.
  Tcl_Interp *interp = Tcl_CreateInterp();
  Tcl_Interp *saved = setStdioInterp(interp);
  setRunStatus(3);
  std::vector<const char *> words = {"-in", "@abortIn", "-out", "@abortOut"};
  testing::internal::CaptureStderr();
  const int result = copyModule("rimage crop", static_cast<int>(words.size()), words.data());
  const std::string err = testing::internal::GetCapturedStderr();
  setRunStatus(0);
  setStdioInterp(saved);
  Tcl_DeleteInterp(interp);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(err, "rimage crop canceled...\n");
  EXPECT_EQ(getPixelValue(out.image, 0, 0, 0), 0);
  EXPECT_EQ(copyModule("rimage crop", static_cast<int>(words.size()), words.data()), 1);
  EXPECT_EQ(getPixelValue(out.image, 3, 2, 0), 9);
}
