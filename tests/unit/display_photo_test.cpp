// The photo bridge: RAM images into Tk photos and back, photos loaded from
// Tk's own formats, and photos made to receive an image.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "display/photo.h"
#include "raster/ramimg.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"
#include "tests/unit/raster_files.h"

using namespace vesk;

namespace {

void dispose(RAMIMG *image) {
  if (!image) return;
  image->keepCount = 0;
  while (closeRAMImage(image, nullptr) > 0) {}
}

std::vector<unsigned char> row(RAMIMG *image, int y, int band) {
  const unsigned char *line = image->getLineProc(image, y, band, 1);
  return std::vector<unsigned char>(line, line + image->header.columns);
}

// A memory image of noise, band-sequential BYTE.
RAMIMG *noiseImage(const char *tag, int rows, int columns, int bands) {
  ImageHeader h = rastertest::rawHeader(tag, IMG_MBSQ, P_BYTE, rows, columns, bands, 0, columns);
  RAMIMG *image = openRAMImage(tag, nullptr, &h, nullptr, nullptr);
  if (!image) return nullptr;
  std::vector<unsigned char> bytes =
      rastertest::noise(static_cast<size_t>(rows * columns * bands), 7);
  for (int b = 0; b < bands; b++)
    for (int y = 0; y < rows; y++)
      memcpy(image->getLineProc(image, y, b, 0), &bytes[static_cast<size_t>((b * rows + y) * columns)],
             static_cast<size_t>(columns));
  return image;
}

int imageCount() {
  evalScript("llength [image names]");
  return atoi(Tcl_GetStringResult(testInterp()));
}

// Creates a photo under an exact name (blanks and brackets included).
bool makePhoto(const std::string &name, const char *extra = "") {
  Tcl_SetVar(testInterp(), "photoName", name.c_str(), TCL_GLOBAL_ONLY);
  int code;
  evalScript((std::string("image create photo $photoName ") + extra).c_str(), &code);
  return code == TCL_OK;
}

void deletePhotoNamed(const std::string &name) {
  Tcl_SetVar(testInterp(), "photoName", name.c_str(), TCL_GLOBAL_ONLY);
  evalScript("image delete $photoName");
}

}  // namespace

TEST(Photo, RoundTripIsByteIdentical) {
  if (!testMainWindow()) GTEST_SKIP() << "needs Tk";
  const std::string photo = "round trip [photo]";
  for (int bands : {1, 3}) {
    SCOPED_TRACE(bands);
    RAMIMG *source = noiseImage("rt.source", 5, 7, bands);
    ASSERT_NE(source, nullptr);
    ASSERT_TRUE(makePhoto(photo));
    ASSERT_EQ(copyRAMImageToPhoto(testInterp(), source, photo.c_str()), 0);
    RAMIMG *back = copyPhotoToRAMImage(testInterp(), photo.c_str(), nullptr, "rt.back");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->header.nbands, 3);
    EXPECT_EQ(back->header.rows, 5);
    EXPECT_EQ(back->header.columns, 7);
    // One band is shown grey: it comes back in all three.
    for (int b = 0; b < 3; b++)
      for (int y = 0; y < 5; y++) EXPECT_EQ(row(back, y, b), row(source, y, bands == 3 ? b : 0));
    dispose(back);
    dispose(source);
    deletePhotoNamed(photo);
  }
  EXPECT_EQ(copyRAMImageToPhoto(testInterp(), nullptr, "no such photo"), kPhotoNotFound);
}

TEST(Photo, PaletteImagesGoThroughTheirPalette) {
  if (!testMainWindow()) GTEST_SKIP() << "needs Tk";
  ImageHeader h = rastertest::rawHeader("pal", IMG_MBSQ, P_BYTE, 1, 2, 1, 0, 2);
  h.nindices = 2;
  const unsigned char entries[2][3] = {{255, 0, 0}, {0, 0, 255}};
  memcpy(h.palette, entries, sizeof entries);
  RAMIMG *image = openRAMImage("pal", nullptr, &h, nullptr, nullptr);
  ASSERT_NE(image, nullptr);
  unsigned char *line = image->getLineProc(image, 0, 0, 0);
  line[0] = 0;
  line[1] = 1;
  ASSERT_TRUE(makePhoto("palette photo"));
  EXPECT_EQ(copyRAMImageToPhoto(testInterp(), image, "palette photo"), 0);
  EXPECT_EQ(evalScript("list [$photoName get 0 0] [$photoName get 1 0] [image width $photoName]"),
            "{255 0 0} {0 0 255} 2");
  deletePhotoNamed("palette photo");
  dispose(image);
}

TEST(Photo, CopiesOfPhotos) {
  if (!testMainWindow()) GTEST_SKIP() << "needs Tk";
  ASSERT_TRUE(makePhoto("p1", "-width 3 -height 2"));
  evalScript("p1 put {{#102030 #405060 #708090} {#a0b0c0 #d0e0f0 #000000}}");
  ImageHeader templ = rastertest::rawHeader("ignored", IMG_BIL, P_FLOAT, 9, 9, 1, 0, 36);
  templ.mapid = MAPID_UTM;
  templ.nindices = 5;
  RAMIMG *image = copyPhotoToRAMImage(testInterp(), "p1", &templ, nullptr);
  ASSERT_NE(image, nullptr);
  EXPECT_STREQ(image->tag, "p1.photo");
  EXPECT_STREQ(image->header.path, "p1.photo");
  EXPECT_EQ(image->header.imgid, IMG_MBSQ);
  EXPECT_EQ(image->header.pixelid, P_BYTE);
  EXPECT_EQ(image->header.nindices, 0);
  EXPECT_EQ(image->header.mapid, MAPID_UTM);  // the rest comes from the template
  EXPECT_EQ(row(image, 0, 0), (std::vector<unsigned char>{0x10, 0x40, 0x70}));
  EXPECT_EQ(row(image, 1, 1), (std::vector<unsigned char>{0xb0, 0xe0, 0x00}));
  EXPECT_EQ(row(image, 1, 2), (std::vector<unsigned char>{0xc0, 0xf0, 0x00}));
  dispose(image);
  deletePhotoNamed("p1");

  // An empty photo and a missing one give nothing.
  ASSERT_TRUE(makePhoto("empty"));
  EXPECT_EQ(copyPhotoToRAMImage(testInterp(), "empty", nullptr, nullptr), nullptr);
  EXPECT_EQ(getRAMImageByTag("empty.photo"), nullptr);
  deletePhotoNamed("empty");
  EXPECT_EQ(copyPhotoToRAMImage(testInterp(), "nothing", nullptr, nullptr), nullptr);
  EXPECT_EQ(findPhoto(testInterp(), "nothing"), nullptr);
}

TEST(Photo, LoadingLeavesNoPhotoBehind) {
  if (!testMainWindow()) GTEST_SKIP() << "needs Tk";
  ASSERT_TRUE(makePhoto("src", "-width 2 -height 1"));
  evalScript("src put {{#ff8000 #0000ff}}");
  const std::string data = evalScript("src data -format png");
  // A file whose path has blanks and brackets: the value stays one word.
  const std::string folder = rastertest::tempPath("photo [dir] x");
  mkdir(folder.c_str(), 0700);
  const std::string file = folder + "/a [b].ppm";
  Tcl_SetVar(testInterp(), "file", file.c_str(), TCL_GLOBAL_ONLY);
  int code;
  evalScript("src write $file -format ppm", &code);
  ASSERT_EQ(code, TCL_OK);
  deletePhotoNamed("src");

  const int before = imageCount();
  struct Case {
    const char *option;
    std::string value;
    bool loads;
  } cases[] = {
      {"-data", data, true},
      {"-file", file, true},
      {"-data", "not an image", false},
      {"-file", folder + "/missing [x].gif", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.option + (" " + c.value));
    RAMIMG *image = loadPhotoToRAMImage(testInterp(), c.option, c.value.c_str(), nullptr);
    EXPECT_EQ(image != nullptr, c.loads);
    EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "");
    EXPECT_EQ(imageCount(), before);
    if (!image) continue;
    EXPECT_EQ(row(image, 0, 0), (std::vector<unsigned char>{0xff, 0x00}));
    EXPECT_EQ(row(image, 0, 1), (std::vector<unsigned char>{0x80, 0x00}));
    EXPECT_EQ(row(image, 0, 2), (std::vector<unsigned char>{0x00, 0xff}));
    std::string tag = image->tag;
    EXPECT_EQ(tag.substr(tag.size() - 6), ".photo");
    dispose(image);
  }
}

TEST(Photo, CreatedPhotosAndTheirImages) {
  if (!testMainWindow()) GTEST_SKIP() << "needs Tk";
  ImageHeader h = rastertest::rawHeader("", IMG_MBSQ, P_BYTE, 2, 3, 3, 0, 3);
  std::string name;
  RAMIMG *image = createPhotoRAMImage(testInterp(), name, &h);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(name.compare(0, 5, "image"), 0);
  EXPECT_EQ(std::string(image->tag), name + ".ramimg");
  EXPECT_NE(findPhoto(testInterp(), name.c_str()), nullptr);
  EXPECT_EQ(copyRAMImageToPhoto(testInterp(), image, name.c_str()), 0);
  deletePhotoNamed(name);
  dispose(image);

  name = "made [here]; x";
  image = createPhotoRAMImage(testInterp(), name, &h);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(name, "made [here]; x");
  EXPECT_STREQ(image->tag, "made [here]; x.ramimg");
  EXPECT_NE(findPhoto(testInterp(), name.c_str()), nullptr);
  deletePhotoNamed(name);
  dispose(image);

  // A header that describes no image: the photo made for it goes again.
  const int before = imageCount();
  ImageHeader none = h;
  none.rows = 0;
  name.clear();
  EXPECT_EQ(createPhotoRAMImage(testInterp(), name, &none), nullptr);
  EXPECT_EQ(imageCount(), before);
}
