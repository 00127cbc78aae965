// The RAM image registry: tags, references, keeps, clients, refills,
// refusals and write-back when the last user leaves.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "raster/ramimg.h"
#include "tests/unit/raster_files.h"

using namespace vesk;
using namespace rastertest;

namespace {

ImageHeader memoryHeader(const char *name, int rows = 4, int columns = 6) {
  return rawHeader(name, IMG_MBIL, P_BYTE, rows, columns, 1, 0, columns);
}

struct Recorder {
  std::vector<std::string> *calls;
  std::string name;
};
void recordChange(ClientData data) {
  auto *r = static_cast<Recorder *>(data);
  r->calls->push_back(r->name + ".change");
}
void recordRedraw(ClientData data) {
  auto *r = static_cast<Recorder *>(data);
  r->calls->push_back(r->name + ".redraw");
}
void recordRect(ClientData data, int a, int b, int c, int d) {
  auto *r = static_cast<Recorder *>(data);
  r->calls->push_back(r->name + ".rect " + std::to_string(a) + " " + std::to_string(b) + " " +
                      std::to_string(c) + " " + std::to_string(d));
}

// Closes every user and keep, so that later tests start from an empty registry.
void dispose(RAMIMG *image) {
  image->keepCount = 0;
  image->attr = 0;
  while (image->clients) closeRAMImage(image, image->clients);
  while (closeRAMImage(image, nullptr) > 0) {}
}

}  // namespace

// Untagged images are named rimg0, rimg1, ... (rimg0 when no earlier test of
// the process registered an image), and an image opened with a tag of its
// own still advances the counter.
TEST(Registry, TagsAndSharedFileImages) {
  ASSERT_EQ(firstRAMImage(), nullptr) << "the registry must be empty when this test starts";
  const std::string path = tempPath("shared.raw");
  std::vector<unsigned char> file = noise(6 * 4, 1);
  writeFile(path, file);
  ImageHeader header = rawHeader(path, IMG_BIL, P_BYTE, 4, 6, 1, 0, 6);
  int err = -1;
  RAMIMG *a = openRAMImage(nullptr, path.c_str(), &header, nullptr, &err);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(err, 0);
  ASSERT_EQ(strncmp(a->tag, "rimg", 4), 0);
  const int first = atoi(a->tag + 4);
  const std::string firstTag = a->tag;
  EXPECT_EQ(firstTag, "rimg" + std::to_string(first));
  EXPECT_STREQ(a->header.path, path.c_str());
  RAMIMG *again = openRAMImage(nullptr, path.c_str(), nullptr, nullptr, &err);
  EXPECT_EQ(again, a);
  EXPECT_EQ(a->refCount, 2);

  ImageHeader mem = memoryHeader("scratch");
  RAMIMG *named = openRAMImage("mine", nullptr, &mem, nullptr, &err);
  ASSERT_NE(named, nullptr);
  EXPECT_STREQ(named->tag, "mine");
  EXPECT_EQ(getRAMImageByTag("mine"), named);
  RAMIMG *b = openRAMImage(nullptr, nullptr, &mem, nullptr, &err);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::string(b->tag), "rimg" + std::to_string(first + 2));
  EXPECT_EQ(firstRAMImage(), b);  // new images go to the head

  // The last of two closes writes the dirty line back and frees the image.
  unsigned char *line = getRAMImageLine(a, 2, 0, 1);
  ASSERT_NE(line, nullptr);
  line[0] = static_cast<unsigned char>(~file[12]);
  setRAMImageDirty(a, 2, 0);
  EXPECT_EQ(closeRAMImage(a, nullptr), 1);
  EXPECT_EQ(readFile(path), file);
  EXPECT_EQ(closeRAMImage(a, nullptr), 0);
  EXPECT_EQ(getRAMImageByTag(firstTag.c_str()), nullptr);
  file[12] = static_cast<unsigned char>(~file[12]);
  EXPECT_EQ(readFile(path), file);

  dispose(named);
  dispose(b);
  EXPECT_EQ(firstRAMImage(), nullptr);
}

TEST(Registry, LookupsByTagAndName) {
  int err = -1;
  ImageHeader mem = memoryHeader("/nowhere/Scene.img");
  RAMIMG *image = openRAMImage("scene", nullptr, &mem, nullptr, &err);
  ASSERT_NE(image, nullptr);
  // A name that is no file matches the last element of an image's path.
  EXPECT_EQ(getRAMImageByName("Scene.img"), image);
  EXPECT_EQ(getRAMImageByName("/elsewhere/Scene.img"), image);
  EXPECT_EQ(getRAMImageByName("scene.img"), nullptr);  // file names keep their case
  EXPECT_EQ(getRAMImageByName(""), nullptr);
  EXPECT_EQ(getRAMImageByName(nullptr), nullptr);
  EXPECT_EQ(getRAMImageByTag(""), nullptr);
  EXPECT_EQ(getRAMImageByTag(nullptr), nullptr);
  EXPECT_EQ(getRAMImageByTag("scen"), nullptr);

  // Tags are cut to 255 characters and found by their first 255.
  std::string longTag(300, 't');
  ImageHeader other = memoryHeader("other");
  RAMIMG *longNamed = openRAMImage(longTag.c_str(), nullptr, &other, nullptr, &err);
  ASSERT_NE(longNamed, nullptr);
  EXPECT_EQ(strlen(longNamed->tag), 255u);
  EXPECT_EQ(getRAMImageByTag(longTag.c_str()), longNamed);
  dispose(image);
  dispose(longNamed);
}

TEST(Registry, RefillsAndRefusals) {
  int err = -1;
  ImageHeader mem = memoryHeader("refill", 4, 6);
  RAMIMG *image = openRAMImage("refill", nullptr, &mem, nullptr, &err);
  ASSERT_NE(image, nullptr);
  ImageHeader bigger = memoryHeader("refill", 8, 10);
  EXPECT_EQ(openRAMImage("refill", nullptr, &bigger, nullptr, &err), image);
  EXPECT_EQ(image->header.rows, 8);
  EXPECT_EQ(image->refCount, 2);
  // A locked image is never re-created, nor freed by closing.
  EXPECT_EQ(attrRAMImage(image, kRamImageLocked), 0);
  EXPECT_EQ(openRAMImage("refill", nullptr, &mem, nullptr, &err), nullptr);
  EXPECT_EQ(err, VESK_RAMIMG_SYSTEM);
  EXPECT_EQ(image->header.rows, 8);
  closeRAMImage(image, nullptr);
  EXPECT_EQ(closeRAMImage(image, nullptr), 0);
  EXPECT_EQ(getRAMImageByTag("refill"), image);
  dispose(image);

  // Neither a tag, a template nor a path.
  EXPECT_EQ(openRAMImage("nosuchtag", nullptr, nullptr, nullptr, &err), nullptr);
  EXPECT_EQ(err, VESK_RAMIMG_OPEN_ERROR);
  EXPECT_EQ(openRAMImage(nullptr, nullptr, nullptr, nullptr, nullptr), nullptr);

  // Paths that cannot hold an image: missing, too long, a folder, a FIFO.
  const std::string fifo = tempPath("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string tooLong = tempPath(std::string(300, 'x'));
  ImageHeader raw = rawHeader("", IMG_BIL, P_BYTE, 2, 2, 1, 0, 2);
  for (const std::string &bad : {tempPath("missing.raw"), tooLong, tempFolder(), fifo}) {
    SCOPED_TRACE(bad.substr(0, 60));
    EXPECT_EQ(openRAMImage(nullptr, bad.c_str(), &raw, nullptr, &err), nullptr);
    EXPECT_EQ(err, VESK_RAMIMG_OPEN_ERROR);
  }
  // Without a template the file goes to the sniffer; none is installed here.
  const std::string plain = tempPath("plain.raw");
  writeFile(plain, noise(16, 2));
  EXPECT_EQ(openRAMImage(nullptr, plain.c_str(), nullptr, nullptr, &err), nullptr);
  EXPECT_EQ(err, VESK_RAMIMG_UNKNOWN_TYPE);
  EXPECT_EQ(firstRAMImage(), nullptr);
}

// A file without write permission still opens; write-back fails silently.
TEST(Registry, ReadOnlyFileOpens) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes to read-only files";
  const std::string path = tempPath("readonly.raw");
  std::vector<unsigned char> file = noise(12, 4);
  writeFile(path, file);
  chmod(path.c_str(), 0444);
  ImageHeader header = rawHeader(path, IMG_BIL, P_BYTE, 2, 6, 1, 0, 6);
  int err = -1;
  RAMIMG *image = openRAMImage(nullptr, path.c_str(), &header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  getRAMImageLine(image, 0, 0, 1)[0] ^= 0xff;
  setRAMImageDirty(image, 0, 0);
  EXPECT_EQ(closeRAMImage(image, nullptr), 0);
  EXPECT_EQ(readFile(path), file);
}

TEST(Registry, ClientsHoldReferences) {
  std::vector<std::string> calls;
  Recorder ra{&calls, "a"}, rb{&calls, "b"}, rc{&calls, "c"};
  int ownerA = 0, ownerB = 0;
  RamImageClient a{recordChange, recordRedraw, recordRect, &ownerA, &ra, nullptr};
  RamImageClient b{recordChange, recordRedraw, recordRect, &ownerB, &rb, nullptr};
  RamImageClient c{nullptr, recordRedraw, nullptr, &ownerB, &rc, nullptr};
  int err = -1;
  ImageHeader mem = memoryHeader("watched");
  RAMIMG *image = openRAMImage("watched", nullptr, &mem, &a, &err);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->refCount, 0);
  // Attaching the same client again lists it once and counts nothing.
  EXPECT_EQ(openRAMImage("watched", nullptr, nullptr, &a, &err), image);
  EXPECT_EQ(image->refCount, 0);
  EXPECT_EQ(image->clients, &a);
  EXPECT_EQ(a.next, nullptr);
  openRAMImage("watched", nullptr, nullptr, &b, &err);
  openRAMImage("watched", nullptr, nullptr, &c, &err);

  updateClient(image, &ownerA, 3);
  EXPECT_EQ(calls, (std::vector<std::string>{"c.redraw", "b.change", "b.redraw"}));
  calls.clear();
  updateClient(image, &ownerB, 1);
  EXPECT_EQ(calls, (std::vector<std::string>{"a.change"}));
  calls.clear();
  updateClientRect(image, nullptr, 1, 2, 3, 4);
  EXPECT_EQ(calls, (std::vector<std::string>{"b.rect 1 2 3 4", "a.rect 1 2 3 4"}));

  // A client opened on another image moves there.
  ImageHeader mem2 = memoryHeader("other");
  RAMIMG *other = openRAMImage("other", nullptr, &mem2, &c, &err);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->clients, &c);
  EXPECT_EQ(detachClient(&c), other);
  EXPECT_EQ(removeClient(&c, image), 0);
  EXPECT_EQ(addClient(nullptr, image), 0);
  closeRAMImage(other, nullptr);

  // Each client is a user: the image goes with the last one.
  EXPECT_EQ(closeRAMImage(image, &a), 0);
  EXPECT_EQ(getRAMImageByTag("watched"), image);
  closeRAMImage(image, &b);
  EXPECT_EQ(getRAMImageByTag("watched"), nullptr);
  EXPECT_EQ(firstRAMImage(), nullptr);
}

TEST(Registry, NewImagesAndKeeps) {
  int err = -1;
  ImageHeader templ = memoryHeader("kept");
  templ.offset = 99;
  RAMIMG *image = openRAMImageNew(&templ, nullptr, 0, &err);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(templ.offset, 0);
  EXPECT_EQ(image->keepCount, 1);
  EXPECT_EQ(image->refCount, 0);
  EXPECT_EQ(openRAMImageNew(&templ, nullptr, 0, &err), nullptr);
  EXPECT_EQ(err, VESK_RAMIMG_EXISTS);
  // With a client the reference went to it: nothing is taken back twice.
  RamImageClient client{};
  EXPECT_EQ(openRAMImageNew(&templ, &client, 1, &err), image);
  EXPECT_EQ(image->refCount, 0);
  closeRAMImage(image, &client);
  EXPECT_EQ(getRAMImageByTag("kept"), image);
  dispose(image);

  // A file image needs the file creator; an existing file is not replaced.
  const std::string path = tempPath("exists.raw");
  writeFile(path, noise(4, 1));
  ImageHeader file = rawHeader(path, IMG_BIL, P_BYTE, 2, 2, 1, 0, 2);
  auto *creator = rasterHooks().createImageFile;
  auto *pendingCreator = rasterHooks().createPendingImageFile;
  rasterHooks().createImageFile = nullptr;
  rasterHooks().createPendingImageFile = nullptr;
  EXPECT_EQ(openRAMImageNew(&file, nullptr, 0, &err), nullptr);
  EXPECT_EQ(err, VESK_RAMIMG_EXISTS);
  EXPECT_EQ(openRAMImageNew(&file, nullptr, 1, &err), nullptr);
  EXPECT_EQ(err, VESK_RAMIMG_CREATE_ERROR);
  rasterHooks().createImageFile = creator;
  rasterHooks().createPendingImageFile = pendingCreator;
}

// Images still open at exit write their dirty lines back.
TEST(Registry, ExitFlushesFileImages) {
  const std::string path = tempPath("atexit.raw");
  std::vector<unsigned char> file = noise(8, 6);
  writeFile(path, file);
  ImageHeader header = rawHeader(path, IMG_BIL, P_BYTE, 2, 4, 1, 0, 4);
  int err = -1;
  RAMIMG *image = openRAMImage(nullptr, path.c_str(), &header, nullptr, &err);
  ASSERT_NE(image, nullptr);
  getRAMImageLine(image, 1, 0, 1)[3] = 0x5a;
  setRAMImageDirty(image, 1, 0);
  flushRAMImagesAtExit();
  file[7] = 0x5a;
  EXPECT_EQ(readFile(path), file);
  dispose(image);
}

TEST(Registry, ErrorTexts) {
  const char *texts[] = {"", "Memory allocation error", "Unknown image type",
                         "Open image file error", "Error in modifying a system RAMIMG",
                         "File already exists", "Error in creating a file", "",
                         "Unable to handle the image", ""};
  for (int code = 0; code < 10; code++) EXPECT_STREQ(getRAMImageErrorText(code), texts[code]);
  EXPECT_STREQ(getRAMImageErrorText(-1), "");
}

TEST(Registry, ExportedInterface) {
  int err = -1;
  ImageHeader mem = memoryHeader("exported");
  RAMIMG *image = vesk_openRAMImage("exported", nullptr, &mem, nullptr, &err);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(vesk_getRAMImageByTag("exported"), image);
  EXPECT_EQ(vesk_getRAMImageByName("exported"), image);
  EXPECT_NE(vesk_getRAMImageLine(image, 0, 0, 1), nullptr);
  EXPECT_EQ(vesk_attrRAMImage(image, 0), 0);
  uint32_t one = 1;
  EXPECT_EQ(vesk_msbFirst(), *reinterpret_cast<unsigned char *>(&one) == 0 ? 1 : 0);
  EXPECT_EQ(vesk_closeRAMImage(image, nullptr), 0);
  EXPECT_EQ(vesk_getRAMImageByTag("exported"), nullptr);
}
