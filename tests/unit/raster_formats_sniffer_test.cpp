// The format sniffer's probe order and reader hooks, and image file
// creation: header dispatch, zero bodies, trailers, disk-space refusals.
#include <gtest/gtest.h>
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "core/core.h"
#include "tests/unit/raster_formats.h"

using namespace vesk;
using namespace rastertest;
using namespace formatstest;

namespace {

std::vector<std::string> hookCalls;
int claimAll(int, const char *, ImageHeader *, void **) {
  hookCalls.push_back("claimAll");
  return 99;
}
int refuseAll(int, const char *, ImageHeader *, void **) {
  hookCalls.push_back("refuseAll");
  return -5;
}
int passOn(int, const char *, ImageHeader *, void **) {
  hookCalls.push_back("passOn");
  return 0;
}
int claimLate(int, const char *, ImageHeader *, void **) {
  hookCalls.push_back("claimLate");
  return 42;
}

std::vector<ImageReaderProc *> listOf(ImageReaderHook *node) {
  std::vector<ImageReaderProc *> procs;
  for (; node; node = node->next) procs.push_back(node->proc);
  return procs;
}

using Formats = formatstest::Formats;

}  // namespace

TEST_F(Formats, ProbeOrder) {
  int count = 0;
  const FormatProbe *probes = formatProbes(&count);
  std::vector<std::string> names;
  for (int i = 0; i < count; i++) names.push_back(probes[i].name);
  EXPECT_EQ(names, (std::vector<std::string>{"DICOM", "DIB", "XBM", "ERDAS", "GIF", "FFT", "ELAS",
                                             "TIFF", "JPEG", "IMAGEDEF", "PPM"}));
  // Only the TIFF probe's errors end the identification.
  for (int i = 0; i < count; i++) EXPECT_EQ(probes[i].errorEnds, names[i] == "TIFF") << names[i];
}

TEST_F(Formats, ProbeOrderDecidesBetweenFormats) {
  // A DIB whose gap holds "_width" text is still a DIB: its probe runs first.
  std::vector<unsigned char> dib = fixture("colour24.bmp");
  const std::string text = "#define a_width 5\n#define a_height 3\n";
  std::vector<unsigned char> both(dib.begin(), dib.begin() + 54);
  both.insert(both.end(), text.begin(), text.end());
  both.insert(both.end(), dib.begin() + 54, dib.end());
  const uint32_t offset = 54 + static_cast<uint32_t>(text.size());
  putU32(&both[10], offset, false);
  putU32(&both[2], static_cast<uint32_t>(both.size()), false);
  EXPECT_EQ(sniffBytes(both), IMG_DIB);
  // "BM" with an info header shorter than 40 bytes falls through to the
  // later probes (the XBM probe stops at the header's NUL bytes).
  putU32(&both[14], 12, false);
  EXPECT_EQ(sniffBytes(both), 0);
  // Noise is nothing.
  EXPECT_EQ(sniffBytes(noise(2000, 3)), 0);
}

TEST_F(Formats, ReaderHooks) {
  const std::string dib = fixturePath("colour24.bmp");
  const std::string plain = tempPath("noise.bin");
  writeFile(plain, noise(100, 1));
  hookCalls.clear();

  // A before-hook that claims every file hides the built-in formats.
  addImageReader(claimAll, 0);
  EXPECT_EQ(sniffPath(dib), 99);
  removeImageReader(claimAll);
  EXPECT_EQ(sniffPath(dib), IMG_DIB);
  EXPECT_EQ(hookCalls, std::vector<std::string>{"claimAll"});

  // An after-hook sees only what no built-in probe recognised.
  hookCalls.clear();
  addImageReader(claimLate, 1);
  EXPECT_EQ(sniffPath(dib), IMG_DIB);
  EXPECT_EQ(sniffPath(plain), 42);
  EXPECT_EQ(hookCalls, std::vector<std::string>{"claimLate"});

  // Before-hooks newest first, after-hooks in the order appended.
  addImageReader(passOn, 1);
  addImageReader(refuseAll, 0);
  addImageReader(claimAll, 0);
  EXPECT_EQ(listOf(imageReadersBefore()), (std::vector<ImageReaderProc *>{claimAll, refuseAll}));
  EXPECT_EQ(listOf(imageReadersAfter()), (std::vector<ImageReaderProc *>{claimLate, passOn}));
  // A procedure lives in one list only: the second registration moves it.
  addImageReader(claimAll, 1);
  EXPECT_EQ(listOf(imageReadersBefore()), std::vector<ImageReaderProc *>{refuseAll});
  EXPECT_EQ(listOf(imageReadersAfter()),
            (std::vector<ImageReaderProc *>{claimLate, passOn, claimAll}));
  // A hook's error ends the identification with -1.
  hookCalls.clear();
  EXPECT_EQ(sniffPath(dib), -1);
  EXPECT_EQ(hookCalls, std::vector<std::string>{"refuseAll"});
  // Removing a procedure that is in neither list changes nothing.
  removeImageReader(refuseAll);
  removeImageReader(refuseAll);
  EXPECT_EQ(listOf(imageReadersBefore()), std::vector<ImageReaderProc *>{});
  EXPECT_EQ(listOf(imageReadersAfter()).size(), 3u);
  hookCalls.clear();
  EXPECT_EQ(sniffPath(plain), 42);
  EXPECT_EQ(hookCalls, std::vector<std::string>{"claimLate"});
  freeImageReaders();
  EXPECT_EQ(imageReadersBefore(), nullptr);
  EXPECT_EQ(imageReadersAfter(), nullptr);
  EXPECT_EQ(sniffPath(plain), 0);
}

TEST_F(Formats, SnifferPresetsAndPrivateData) {
  ImageHeader h;
  initImageHeader(&h);
  h.altFd = 7;
  h.volumes = 3;
  h.readerFlag = 2;
  void *privateData = reinterpret_cast<void *>(1);
  const int fd = open(fixturePath("colour24.bmp").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  lseek(fd, 17, SEEK_SET);
  EXPECT_EQ(sniffImageFile(fd, "x", &h, &privateData), IMG_DIB);
  EXPECT_EQ(privateData, nullptr);  // bottom-up rows need nothing
  EXPECT_EQ(h.altFd, -1);
  EXPECT_EQ(h.volumes, 0);
  EXPECT_EQ(h.readerFlag, 0);
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 17);  // the probes keep the position
  close(fd);
}

TEST_F(Formats, HeaderDispatch) {
  const std::string path = tempPath("dispatch.bin");
  writeFile(path, {});
  const int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  // Formats without a file header of their own.
  for (int imgid : {IMG_GIF87A, IMG_JPEG, IMG_DICOM, IMG_ELAS, IMG_MBSQ}) {
    ImageHeader h = rawHeader(path, imgid, P_BYTE, 2, 2, 1, 0, 2);
    EXPECT_EQ(writeImageHeader(fd, 0, &h), -2) << imgid;
    EXPECT_EQ(rewriteImageHeader(fd, &h), -2) << imgid;
  }
  ImageHeader ppm = rawHeader(path, IMG_PPM, P_BYTE, 2, 3, 3, 0, 0);
  EXPECT_EQ(rewriteImageHeader(fd, &ppm), -2);
  EXPECT_EQ(writeImageHeader(fd, 0, &ppm), 11);
  ImageHeader e74 = rawHeader(path, IMG_E74, P_BYTE, 2, 3, 1, 0, 0);
  EXPECT_EQ(rewriteImageHeader(fd, &e74), 128);
  // ERDAS refuses pixel types without a pack type.
  for (int pixelid : {P_1BIT, P_ULONG, P_SBYTE}) {
    ImageHeader h = rawHeader(path, IMG_E74, pixelid, 2, 3, 1, 0, 0);
    EXPECT_EQ(writeImageHeader(fd, 0, &h), -1) << pixelid;
  }
  // Trailers: nothing for a negative descriptor or for formats without one.
  EXPECT_EQ(writeImageTrailer(-1, &ppm, nullptr), 0);
  EXPECT_EQ(writeImageTrailer(fd, &e74, nullptr), 0);
  close(fd);
}

TEST_F(Formats, ZeroBodies) {
  const std::string path = tempPath("body.bin");
  struct Case {
    int imgid, rows, nbands;
    int64_t block, offset, size;
  } cases[] = {
      {IMG_BSQ, 3, 2, 8192, 100, 100 + 6 * 8192},  // whole chunks
      {IMG_BIL, 2, 3, 5, 7, 7 + 30},
      {IMG_BIP, 2, 3, 15, 0, 30},                   // one record a row
      {IMG_PPM, 4, 3, 6, 11, 11 + 24},
      {IMG_DIB, 3, 3, 20, 54, 54 + 60},
      {IMG_E74, 0, 1, 10, 128, 0},                  // nothing to write
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.imgid);
    writeFile(path, {});
    const int fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    lseek(fd, 3, SEEK_SET);
    ImageHeader h = rawHeader(path, c.imgid, P_BYTE, c.rows, 4, c.nbands, c.offset, c.block);
    EXPECT_EQ(writeImageBody(fd, &h), c.offset);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 3);
    struct stat info;
    fstat(fd, &info);
    EXPECT_EQ(info.st_size, c.size);
    close(fd);
  }
  // JPEG files are written whole by a writer not in this build.
  const int fd = open(path.c_str(), O_RDWR);
  ImageHeader jpeg = rawHeader(path, IMG_JPEG, P_BYTE, 2, 2, 1, 0, 2);
  EXPECT_EQ(writeImageBody(fd, &jpeg), -1);
  close(fd);
}

TEST_F(Formats, CreateImageFile) {
  // A raw file: header, zeros, and the header's data offset updated.
  const std::string path = tempPath("created.bil");
  ImageHeader h = rawHeader(path, IMG_BIL, P_SHORT, 3, 5, 2, 0, 0);
  EXPECT_EQ(createImageFile(&h), 1152);
  EXPECT_EQ(h.offset, 1152);
  EXPECT_EQ(h.block, 10);
  std::vector<unsigned char> bytes = readFile(path);
  EXPECT_EQ(bytes.size(), 1152u + 3 * 2 * 10);
  ImageHeader back;
  EXPECT_EQ(sniffPath(path, &back), IMG_BIL);
  EXPECT_EQ(back.offset, 1152);
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

  // An XBM is written whole, with zero bits, by the body step.
  const std::string xbm = tempPath("created.xbm");
  ImageHeader x = rawHeader(xbm, IMG_XBMP, P_1BIT, 2, 9, 1, 0, 0);
  EXPECT_EQ(createImageFile(&x), 71);
  const std::vector<unsigned char> text = readFile(xbm);
  EXPECT_EQ(std::string(text.begin(), text.end()),
            "#define xbmp_width 9\n#define xbmp_height 2\nstatic char xbmp_bits[] = {\n"
            " 0x00, 0x00, 0x00, 0x00};");

  // Refusals: no folder, and a file larger than the disk, which leaves an
  // older file of that name as it was.
  ImageHeader lost = rawHeader(tempPath("no/such/folder.bil"), IMG_BIL, P_BYTE, 2, 2, 1, 0, 0);
  EXPECT_EQ(createImageFile(&lost), -1);
  const std::string old = tempPath("old.lan");
  writeFile(old, noise(10, 4));
  ImageHeader huge = rawHeader(old, IMG_E74, P_FLOAT, 1 << 30, 1 << 20, 200, 0, 0);
  EXPECT_EQ(errorsOf([&] { EXPECT_EQ(createImageFile(&huge), -1); })
                .rfind("Insufficient disk space. Requested:", 0),
            0u);
  EXPECT_EQ(readFile(old), noise(10, 4));
  ImageHeader bigDib = rawHeader(old, IMG_DIB, P_BYTE, 30000, 30000, 3, 0, 0);
  const double free = getPathDiskFree(old.c_str());
  if (free < 30000.0 * 90000) {
    EXPECT_EQ(errorsOf([&] { EXPECT_EQ(createImageFile(&bigDib), -1); })
                  .rfind("Insufficient disk space. Request:", 0),
              0u);
  }
  EXPECT_EQ(readFile(old), noise(10, 4));
  // No temporary file is left beside the target.
  DIR *folder = opendir(tempFolder().c_str());
  ASSERT_NE(folder, nullptr);
  while (struct dirent *entry = readdir(folder))
    EXPECT_NE(std::string(entry->d_name).rfind("old.lan.", 0), 0u) << entry->d_name;
  closedir(folder);
}

TEST_F(Formats, NewImageThroughTheStore) {
  // The store's file creation hook makes the file, the sniffer reads it.
  const std::string path = tempPath("new.ppm");
  ImageHeader templ = rawHeader(path, IMG_PPM, P_BYTE, 2, 3, 3, 0, 0);
  EXPECT_EQ(rasterHooks().createImageFile(&templ), 11);
  int err = -1;
  RAMIMG *image = openRAMImageFile(path.c_str(), nullptr, nullptr, &err);
  ASSERT_NE(image, nullptr) << err;
  EXPECT_EQ(image->header.imgid, IMG_PPM);
  EXPECT_EQ(image->header.offset, 11);
  EXPECT_EQ(image->header.nbands, 3);
  EXPECT_EQ(readFile(path).size(), 11u + 18);
  freeRAMImage(image);
}
