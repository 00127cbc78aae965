// The shapefile store: reading the shapelib fixtures, editing, writing back,
// the index checks, and corrupt files derived from the fixtures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/text.h"
#include "tests/unit/harness.h"
#include "vector/shapefile.h"

using namespace vesk;

namespace {

std::string fixture(const std::string &name) {
  const char *source = getenv("VESK_SOURCE_DIR");
  return std::string(source ? source : ".") + "/tests/data/shape/" + name;
}

std::vector<unsigned char> slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::string &path, const std::vector<unsigned char> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// A fresh folder per test for written files.
struct TempDir {
  std::string path;
  TempDir() {
    std::string pattern = ::testing::TempDir() + "shapeXXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    path = mkdtemp(buffer.data());
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string &name) const { return path + "/" + name; }
  // Copies a fixture pair into the folder.
  std::string copy(const std::string &base, const std::string &as) const {
    spit(file(as + ".shp"), slurp(fixture(base + ".shp")));
    spit(file(as + ".shx"), slurp(fixture(base + ".shx")));
    return file(as + ".shp");
  }
};

// Collects what the library writes to its error stream.
struct ErrorCapture {
  Tcl_Interp *previous;
  int previousTk;
  ErrorCapture() {
    Tcl_Eval(testInterp(), "proc tkConsoleOutput {s t} {append ::captured($s) $t}");
    Tcl_Eval(testInterp(), "array unset ::captured");
    previous = setStdioInterp(testInterp());
    previousTk = getTkConsoleActive();
    setTkConsoleActive(1);
  }
  ~ErrorCapture() {
    setStdioInterp(previous);
    setTkConsoleActive(previousTk);
  }
  std::string text() {
    const char *t = Tcl_GetVar2(testInterp(), "captured", "stderr", TCL_GLOBAL_ONLY);
    return t ? t : "";
  }
};

using StorePtr = std::unique_ptr<ShapeFile, void (*)(ShapeFile *)>;
StorePtr open(const std::string &path, int *status = nullptr) {
  int ignored = -1;
  return StorePtr(openShapeFile(path.c_str(), status ? status : &ignored), freeShapeFile);
}
StorePtr hold(ShapeFile *store) { return StorePtr(store, freeShapeFile); }

// Record doubles are only 4-byte aligned: read them by value, never bind
// a reference (EXPECT_EQ, std::min) to one.
std::vector<double> doubles(const ShapeDouble *values, int n) {
  std::vector<double> out;
  for (int i = 0; i < n; i++) {
    double value = values[i];
    out.push_back(value);
  }
  return out;
}

std::vector<double> pointsOf(ShapeRecord *record) {
  int n;
  ShapeDouble *points = getRecordPoints(record, &n);
  return points ? doubles(points, 2 * n) : std::vector<double>();
}

std::vector<int> partsOf(ShapeRecord *record, int *count = nullptr) {
  int n;
  int32_t *parts = getRecordParts(record, &n);
  if (count) *count = n;
  return parts ? std::vector<int>(parts, parts + n) : std::vector<int>();
}

int32_t bigWord(const std::vector<unsigned char> &bytes, size_t at) {
  int32_t v;
  memcpy(&v, bytes.data() + at, 4);
  return swapLong(v);
}
void putBigWord(std::vector<unsigned char> &bytes, size_t at, int32_t value) {
  value = swapLong(value);
  memcpy(bytes.data() + at, &value, 4);
}
void putWord(std::vector<unsigned char> &bytes, size_t at, int32_t value) {
  memcpy(bytes.data() + at, &value, 4);
}

}  // namespace

// ---- reading the fixtures ----

struct FixtureCase {
  const char *name;
  int type;
  std::vector<std::vector<int>> parts;      // part lengths per record (empty: no array)
  std::vector<std::vector<double>> points;  // x y pairs per record
};

TEST(ShapeFileRead, FixturesGiveTheirRecordsPartsAndPoints) {
  const FixtureCase cases[] = {
      {"point", 1, {{}, {}, {}}, {{1, 2}, {-3.5, 4.25}, {10, -20}}},
      {"multipoint", 8, {{}, {}}, {{0, 0, 1, 1, 2, 2}, {5, 5, 6, 7, 8, 9, -1, -2}}},
      {"polyline", 3, {{2}, {3, 4, 3}},
       {{0, 0, 10, 10}, {0, 0, 1, 0, 2, 0, 0, 1, 1, 1, 2, 1, 3, 1, 0, 2, 1, 2, 2, 2}}},
      {"polygon", 5, {{5, 5}, {4}},
       {{0, 0, 0, 10, 10, 10, 10, 0, 0, 0, 2, 2, 8, 2, 8, 8, 2, 8, 2, 2},
        {20, 20, 20, 30, 30, 20, 20, 20}}},
      {"polylinez", 13, {{2, 2}}, {{0, 0, 1, 1, 2, 2, 3, 3}}},
      {"polylinem", 23, {{2}}, {{0, 0, 1, 1}}},
  };
  for (const FixtureCase &c : cases) {
    SCOPED_TRACE(c.name);
    StorePtr store = open(fixture(std::string(c.name) + ".shp"));
    ASSERT_TRUE(store);
    EXPECT_EQ(store->header.shapeType, c.type);
    EXPECT_EQ(store->header.fileCode, 9994);
    ASSERT_EQ(store->count, static_cast<int>(c.points.size()));
    EXPECT_EQ(store->nextNumber, store->count + 1);
    EXPECT_EQ(store->dirty, 0);
    EXPECT_EQ(countSelectedShapes(store.get()), store->count);
    int64_t bytes = 0;
    for (int i = 0; i < store->count; i++) {
      SCOPED_TRACE(i);
      ShapeRecord *record = getShapeRecord(store.get(), i);
      EXPECT_EQ(shapeRecordNumber(record), i + 1);
      EXPECT_EQ(pointsOf(record), c.points[static_cast<size_t>(i)]);
      EXPECT_EQ(partsOf(record), c.parts[static_cast<size_t>(i)]);
      bytes += shapeRecordBytes(record);
    }
    EXPECT_EQ(store->header.fileLength, 50 + bytes / 2);
    EXPECT_EQ(getShapeRecord(store.get(), store->count), nullptr);
  }
}

TEST(ShapeFileRead, CountsZAndMOfTheFixtures) {
  StorePtr multi = open(fixture("multipoint.shp"));
  ASSERT_TRUE(multi);
  int count;
  EXPECT_EQ(getRecordParts(getShapeRecord(multi.get(), 1), &count), nullptr);
  EXPECT_EQ(count, 4);  // a multipoint counts as that many one-point parts

  StorePtr z = open(fixture("polylinez.shp"));
  ASSERT_TRUE(z);
  ShapeRecord *record = getShapeRecord(z.get(), 0);
  double lo, hi;
  ShapeDouble *values = getRecordZ(record, &lo, &hi);
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(doubles(values, 4), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 4);
  values = getRecordM(record, &lo, &hi);
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(doubles(values, 4), (std::vector<double>{5, 6, 7, 8}));
  EXPECT_EQ(lo, 5);
  EXPECT_EQ(hi, 8);
  EXPECT_EQ(z->header.zmin, 1);
  EXPECT_EQ(z->header.mmax, 8);

  StorePtr m = open(fixture("polylinem.shp"));
  ASSERT_TRUE(m);
  EXPECT_EQ(getRecordZ(getShapeRecord(m.get(), 0), &lo, &hi), nullptr);
  values = getRecordM(getShapeRecord(m.get(), 0), &lo, &hi);
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(doubles(values, 2)[1], 6);
}

// ---- writing back ----

TEST(ShapeFileWrite, WritingBackReproducesTheFixturePairExactly) {
  TempDir dir;
  for (const char *name : {"point", "multipoint", "polyline", "polygon", "polylinez", "polylinem"}) {
    SCOPED_TRACE(name);
    StorePtr store = open(fixture(std::string(name) + ".shp"));
    ASSERT_TRUE(store);
    int32_t length = store->header.fileLength;
    store->dirty = 1;
    std::string out = dir.file(std::string(name) + ".shp");
    EXPECT_EQ(writeShape(out.c_str(), store.get(), 0, nullptr), 1);
    EXPECT_EQ(slurp(out), slurp(fixture(std::string(name) + ".shp")));
    EXPECT_EQ(slurp(dir.file(std::string(name) + ".shx")),
              slurp(fixture(std::string(name) + ".shx")));
    EXPECT_EQ(store->header.fileLength, length);
    EXPECT_EQ(store->dirty, 0);
    // The part lengths in memory are untouched by the write.
    if (store->header.shapeType == SHP_POLYLINE) {
      EXPECT_EQ(partsOf(getShapeRecord(store.get(), 1)), (std::vector<int>{3, 4, 3}));
    }
  }
}

TEST(ShapeFileWrite, TwoRecordsOverFiveLeaveAValidTwoRecordPair) {
  TempDir dir;
  std::string target = dir.copy("five", "five");
  StorePtr store = open(fixture("polyline.shp"));
  ASSERT_TRUE(store);
  ASSERT_EQ(writeShape(target.c_str(), store.get(), 0, nullptr), 1);
  std::vector<unsigned char> index = slurp(dir.file("five.shx"));
  ASSERT_EQ(index.size(), 116u);
  EXPECT_EQ(bigWord(index, 24), 50 + 8);
  EXPECT_EQ(bigWord(index, 100), 50);
  EXPECT_EQ(slurp(target), slurp(fixture("polyline.shp")));
  StorePtr back = open(target);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->count, 2);
  // No temporary file is left beside the pair.
  EXPECT_EQ(std::system(("test $(ls '" + dir.path + "' | wc -l) -eq 2").c_str()), 0);
}

TEST(ShapeFileWrite, SelectedOnlyWritesTheSelectedRecordsInOrder) {
  TempDir dir;
  StorePtr store = open(fixture("five.shp"));
  ASSERT_TRUE(store);
  unselectAllShapes(store.get());
  selectShape(store.get(), 3);
  selectShape(store.get(), 1);
  std::string out = dir.file("sel.shp");
  ASSERT_EQ(writeShape(out.c_str(), store.get(), 1, nullptr), 1);
  StorePtr back = open(out);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->count, 2);
  EXPECT_EQ(pointsOf(getShapeRecord(back.get(), 0)), (std::vector<double>{2, 2}));
  EXPECT_EQ(pointsOf(getShapeRecord(back.get(), 1)), (std::vector<double>{4, 4}));
  EXPECT_EQ(back->header.xmin, 2);
  EXPECT_EQ(back->header.xmax, 4);
  // The store keeps its own length: all five records are still in it.
  EXPECT_EQ(store->header.fileLength, 50 + 5 * 14);

  unselectAllShapes(store.get());
  std::string none = dir.file("none.shp");
  EXPECT_EQ(writeShape(none.c_str(), store.get(), 1, nullptr), 0);
  EXPECT_FALSE(exists(none));
  EXPECT_FALSE(exists(dir.file("none.shx")));
}

TEST(ShapeFileWrite, AFailedWriteLeavesTheOldPairAndTheStore) {
  // A file that lives where nothing can be created beside it (not even by
  // root): a pair member linked there cannot be replaced.
  struct Case {
    const char *linked;
    const char *message;
  } cases[] = {
      {"five.shp", "writeShape - error in open shape data file\n"},
      {"five.shx", "writeShape - error in open shape index file\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.linked);
    TempDir dir;
    std::string target = dir.copy("five", "five");
    unlink(dir.file(c.linked).c_str());
    ASSERT_EQ(symlink("/proc/version", dir.file(c.linked).c_str()), 0);
    StorePtr store = open(fixture("polyline.shp"));
    ASSERT_TRUE(store);
    store->dirty = 1;
    int status = 1;
    ErrorCapture capture;
    EXPECT_EQ(writeShape(target.c_str(), store.get(), 0, &status), 0);
    EXPECT_EQ(capture.text(), c.message);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(store->dirty, 1);
    EXPECT_EQ(store->header.xmax, 10);
    if (std::string(c.linked) == "five.shx") {
      EXPECT_EQ(slurp(target), slurp(fixture("five.shp")));
    }
    EXPECT_EQ(std::system(("test $(ls -A '" + dir.path + "' | wc -l) -eq 2").c_str()), 0);
  }
}

TEST(ShapeFileWrite, AddingAfterAWritePlacesTheRecordAfterTheLast) {
  TempDir dir;
  StorePtr store = open(fixture("five.shp"));
  ASSERT_TRUE(store);
  ASSERT_EQ(writeShape(dir.file("a.shp").c_str(), store.get(), 0, nullptr), 1);
  double point[2] = {9, 9};
  ShapeRecord *added = addShapeRecord(store.get(), 0, point, 1, nullptr, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added, getShapeRecord(store.get(), 5));
  EXPECT_EQ(shapeRecordNumber(added), 6);
  EXPECT_EQ(pointsOf(getShapeRecord(store.get(), 4)), (std::vector<double>{5, 5}));
  EXPECT_EQ(store->header.fileLength, 50 + 6 * 14);
}

TEST(ShapeFileWrite, AnEmptyStoreWritesAPairThatReadsBack) {
  TempDir dir;
  StorePtr store = hold(newShapeFile(SHP_POLYGON, nullptr, nullptr, 0));
  ASSERT_TRUE(store);
  std::string out = dir.file("empty.shp");
  ASSERT_EQ(writeShape(out.c_str(), store.get(), 0, nullptr), 1);
  for (const char *name : {"empty.shp", "empty.shx"}) {
    SCOPED_TRACE(name);
    std::vector<unsigned char> bytes = slurp(dir.file(name));
    ASSERT_EQ(bytes.size(), 100u);
    EXPECT_EQ(bigWord(bytes, 24), 50);
  }
  StorePtr back = open(out);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->count, 0);
  EXPECT_EQ(back->header.shapeType, SHP_POLYGON);
}

TEST(ShapeFileWrite, ANameThatIsItsOwnIndexNameIsRefused) {
  TempDir dir;
  StorePtr store = open(fixture("five.shp"));
  ASSERT_TRUE(store);
  store->dirty = 1;
  std::string out = dir.file("five.shx");
  int status = 1;
  ErrorCapture capture;
  EXPECT_EQ(writeShape(out.c_str(), store.get(), 0, &status), 0);
  EXPECT_EQ(capture.text(), "writeShape - " + out + " would be its own index file\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(store->dirty, 1);
  EXPECT_FALSE(exists(out));
}

// ---- the index file ----

TEST(ShapeFileIndex, MissingIndexIsReportedAndTheRecordsStillRead) {
  TempDir dir;
  std::string path = dir.copy("polyline", "lone");
  unlink(dir.file("lone.shx").c_str());
  ErrorCapture capture;
  StorePtr store = open(path);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->count, 2);
  EXPECT_EQ(capture.text(), "Error in open:" + dir.file("lone.shx") + "\n");
}

TEST(ShapeFileIndex, InconsistentIndexIsIgnored) {
  TempDir dir;
  std::string path = dir.copy("polyline", "cut");
  std::vector<unsigned char> index = slurp(dir.file("cut.shx"));
  index.resize(108);  // one entry of two
  spit(dir.file("cut.shx"), index);
  ErrorCapture capture;
  StorePtr store = open(path);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->count, 2);
  EXPECT_EQ(capture.text(),
            "Inconsistent shape sizes - file length:206 words; index length:94 words\n");
}

TEST(ShapeFileIndex, IndexCorrectsABadContentLength) {
  TempDir dir;
  std::string path = dir.copy("polyline", "bad");
  std::vector<unsigned char> main = slurp(path);
  putBigWord(main, 104, 999);  // first record's content length
  spit(path, main);
  ErrorCapture capture;
  StorePtr store = open(path);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->count, 2);
  EXPECT_EQ(capture.text(), "bad record nWords: 1\n");
  EXPECT_EQ(pointsOf(getShapeRecord(store.get(), 1)).size(), 20u);
}

TEST(ShapeFileIndex, CountFromTheIndexSize) {
  int count = -1;
  EXPECT_EQ(countShapeIndex(fixture("five.shp").c_str(), &count), 1);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(countShapeIndex(fixture("nosuch.shp").c_str(), &count), 0);
}

TEST(ShapeFileIndex, HeaderOfAFile) {
  int status = -1;
  auto header = getShapeHead(fixture("polygon.shp").c_str(), &status);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->shapeType, 5);
  EXPECT_EQ(header->version, 1000);
  EXPECT_EQ(header->xmax, 30);
  EXPECT_FALSE(getShapeHead(fixture("nosuch.shp").c_str(), &status));
  EXPECT_EQ(status, 0);
}

// ---- corrupt and unusual files ----

TEST(ShapeFileCorrupt, EveryTruncationIsRefusedWithoutHarm) {
  ErrorCapture capture;
  for (const char *name : {"point", "multipoint", "polyline", "polygon", "polylinez", "polylinem"}) {
    SCOPED_TRACE(name);
    std::vector<unsigned char> bytes = slurp(fixture(std::string(name) + ".shp"));
    for (size_t size = 0; size < bytes.size(); size++) {
      std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
      int status = 0;
      EXPECT_EQ(decodeShapeFile(cut.data(), cut.size(), nullptr, name, &status), nullptr) << size;
      EXPECT_EQ(status, 2);
      // The same cut with a header that believes it: the records must be checked.
      if (size >= 100 && size % 2 == 0) {
        putBigWord(cut, 24, static_cast<int32_t>(size / 2));
        StorePtr store = hold(decodeShapeFile(cut.data(), cut.size(), nullptr, name, &status));
        if (store) {
          // Only a cut at a record boundary may read, and then fully.
          for (int i = 0; i < store->count; i++) pointsOf(getShapeRecord(store.get(), i));
          EXPECT_EQ(store->header.fileLength, static_cast<int32_t>(size / 2));
        }
      }
    }
  }
  EXPECT_NE(capture.text().find("Error in reading in getShapeHead\n"), std::string::npos);
  EXPECT_NE(capture.text().find("holds 150 bytes, its header claims 412"), std::string::npos);
}

TEST(ShapeFileCorrupt, CountsAndStartsAreCheckedAgainstTheRecord) {
  const std::vector<unsigned char> polyline = slurp(fixture("polyline.shp"));
  const size_t second = 100 + 88;  // start of the second record
  struct Case {
    const char *what;
    size_t at;
    int32_t value;
    bool big;
  } cases[] = {
      {"numPoints huge", second + 8 + 40, 0x40000000, false},
      {"numPoints one too many", second + 8 + 40, 11, false},
      {"numParts negative", second + 8 + 36, -1, false},
      {"numParts huge", second + 8 + 36, 0x7fffffff, false},
      {"part starts falling", second + 8 + 48, 8, false},
      {"part start past the points", second + 8 + 52, 11, false},
      {"content length odd", second + 4, 137, true},
      {"content length negative", second + 4, -4, true},
      {"content length past the end", second + 4, 1000, true},
      {"content length too small", second + 4, 1, true},
      {"file code", 0, 9995, true},
      {"file length short", 24, 49, true},
      {"file length past the file", 24, 1000, true},
  };
  ErrorCapture capture;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<unsigned char> bytes = polyline;
    if (c.big) putBigWord(bytes, c.at, c.value);
    else putWord(bytes, c.at, c.value);
    int status = 0;
    EXPECT_EQ(decodeShapeFile(bytes.data(), bytes.size(), nullptr, "p.shp", &status), nullptr);
    EXPECT_EQ(status, 2);
  }
  EXPECT_NE(capture.text().find("Invalid shape ID\n"), std::string::npos);
  EXPECT_NE(capture.text().find("Error in openShapeFile: p.shp: record 1: part starts out of order\n"),
            std::string::npos);
}

TEST(ShapeFileCorrupt, RandomDamageNeverReadsOutside) {
  // Every byte of every fixture set to a few hostile values in turn.
  ErrorCapture capture;
  for (const char *name : {"multipoint", "polyline", "polygon", "polylinez"}) {
    const std::vector<unsigned char> bytes = slurp(fixture(std::string(name) + ".shp"));
    for (size_t at = 0; at < bytes.size(); at++) {
      for (unsigned char value : {0x00, 0x01, 0x7f, 0x80, 0xff}) {
        std::vector<unsigned char> damaged = bytes;
        damaged[at] = value;
        int status;
        StorePtr store = hold(decodeShapeFile(damaged.data(), damaged.size(), nullptr, name, &status));
        if (!store) continue;
        for (int i = 0; i < store->count; i++) {
          ShapeRecord *record = getShapeRecord(store.get(), i);
          int n, p;
          ShapeDouble *points = getRecordPoints(record, &n);
          int32_t *parts = getRecordParts(record, &p);
          double sum = 0;
          for (int k = 0; points && k < 2 * n; k++) sum += points[k];
          int64_t total = 0;
          for (int k = 0; parts && k < p; k++) {
            ASSERT_GE(parts[k], 0);
            total += parts[k];
          }
          if (parts) {
            EXPECT_LE(total, n);
          }
          double lo, hi;
          if (ShapeDouble *z = getRecordZ(record, &lo, &hi))
            for (int k = 0; k < n; k++) sum += z[k];
          if (ShapeDouble *m = getRecordM(record, &lo, &hi))
            for (int k = 0; k < n; k++) sum += m[k];
          (void)sum;
        }
      }
    }
  }
}

TEST(ShapeFileRead, HeaderOnlyFileIsAnEmptyStore) {
  std::vector<unsigned char> bytes = slurp(fixture("five.shp"));
  bytes.resize(100);
  putBigWord(bytes, 24, 50);
  int status;
  StorePtr store = hold(decodeShapeFile(bytes.data(), bytes.size(), nullptr, "e.shp", &status));
  ASSERT_TRUE(store);
  EXPECT_EQ(store->count, 0);
  EXPECT_EQ(store->nextNumber, 1);
  EXPECT_EQ(shapeRecordNumber(store->records), -1);
  EXPECT_EQ(shapeRecordBytes(store->records), 8);
}

TEST(ShapeFileRead, RecordsAreCountedUpToAnUnnumberedOne) {
  std::vector<unsigned char> bytes = slurp(fixture("five.shp"));
  putBigWord(bytes, 100 + 2 * 28, 0);  // the third record's number
  int status;
  StorePtr store = hold(decodeShapeFile(bytes.data(), bytes.size(), nullptr, "f.shp", &status));
  ASSERT_TRUE(store);
  EXPECT_EQ(store->count, 2);
  EXPECT_EQ(store->header.fileLength, 50 + 2 * 14);
  double point[2] = {7, 7};
  ASSERT_TRUE(addShapeRecord(store.get(), 0, point, 1, nullptr, 0, nullptr, nullptr, nullptr));
  EXPECT_EQ(store->header.fileLength, 50 + 3 * 14);
  EXPECT_EQ(pointsOf(getShapeRecord(store.get(), 2)), (std::vector<double>{7, 7}));
}

// ---- editing ----

TEST(ShapeFileEdit, LayoutsOfZMAndMultipatchRecords) {
  StorePtr pointz = hold(newShapeFile(SHP_POINTZ, nullptr, nullptr, 0));
  double xy[2] = {1, 2}, z = 3, m = 4;
  ShapeRecord *record = addShapeRecord(pointz.get(), 0, xy, 1, nullptr, 0, &z, &m, nullptr);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(shapeRecordBytes(record), 44);
  ShapeDouble *raw = reinterpret_cast<ShapeDouble *>(record + 12);
  EXPECT_EQ(doubles(raw, 4), (std::vector<double>{1, 2, 3, 4}));
  double lo, hi;
  ASSERT_NE(getRecordZ(record, &lo, &hi), nullptr);
  EXPECT_EQ(lo, 3);
  EXPECT_EQ(hi, 3);
  ASSERT_NE(getRecordM(record, &lo, &hi), nullptr);
  EXPECT_EQ(lo, 4);

  StorePtr patch = hold(newShapeFile(SHP_MULTIPATCH, nullptr, nullptr, 0));
  double points[8] = {0, 0, 1, 0, 1, 1, 0, 1};
  int32_t parts[2] = {3, 1}, types[2] = {0, 5};
  double zs[4] = {1, 2, 3, 4}, ms[4] = {-1, 9, 4, 4};
  record = addShapeRecord(patch.get(), 0, points, 4, parts, 2, zs, ms, types);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(shapeRecordBytes(record), 84 + 8 * 2 + 32 * 4);
  ASSERT_NE(getRecordM(record, &lo, &hi), nullptr);
  ShapeDouble *mRange = reinterpret_cast<ShapeDouble *>(record + 68 + 8 * 2 + 24 * 4);
  EXPECT_EQ(doubles(mRange, 2), (std::vector<double>{-1, 9}));
  int count;
  int32_t *partTypes = getRecordPartTypes(record, &count);
  ASSERT_NE(partTypes, nullptr);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(partTypes[1], 5);
  EXPECT_EQ(partsOf(record), (std::vector<int>{3, 1}));
}

TEST(ShapeFileEdit, InsertReplaceEraseKeepTheBufferConsistent) {
  StorePtr store = hold(newShapeFile(SHP_POLYLINE, nullptr, nullptr, 0));
  double small[4] = {0, 0, 1, 1};
  std::vector<double> large(200);
  for (size_t i = 0; i < large.size(); i++) large[i] = static_cast<double>(i);
  ASSERT_TRUE(addShapeRecord(store.get(), 0, small, 2, nullptr, 0, nullptr, nullptr, nullptr));
  ASSERT_TRUE(addShapeRecord(store.get(), 0, small, 2, nullptr, 0, nullptr, nullptr, nullptr));
  int64_t before = store->offsets[1];
  ShapeRecord *inserted =
      insertShapeRecord(store.get(), 0, 0, large.data(), 100, nullptr, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(inserted, nullptr);
  int64_t s = shapeRecordSize(SHP_POLYLINE, 100, 1);
  EXPECT_EQ(store->offsets[2], before + s);
  EXPECT_EQ(pointsOf(getShapeRecord(store.get(), 0)), large);
  EXPECT_EQ(pointsOf(getShapeRecord(store.get(), 1)), std::vector<double>(small, small + 4));
  EXPECT_EQ(shapeRecordNumber(getShapeRecord(store.get(), 0)), 3);
  EXPECT_EQ(partsOf(inserted), std::vector<int>{100});

  // Replace the large record with a small one: it keeps its number and flag.
  unselectShape(store.get(), 0);
  ASSERT_TRUE(replaceShapeRecord(store.get(), 0, 0, small, 2, nullptr, 0, nullptr, nullptr, nullptr));
  EXPECT_EQ(shapeRecordNumber(getShapeRecord(store.get(), 0)), 3);
  EXPECT_EQ(isShapeSelected(store.get(), 0), 0);
  EXPECT_EQ(store->offsets[2], 2 * shapeRecordSize(SHP_POLYLINE, 2, 1));
  EXPECT_EQ(pointsOf(getShapeRecord(store.get(), 2)), std::vector<double>(small, small + 4));
  // Past the end, replace appends with the next number.
  ASSERT_TRUE(replaceShapeRecord(store.get(), 9, 0, small, 2, nullptr, 0, nullptr, nullptr, nullptr));
  EXPECT_EQ(store->count, 4);
  EXPECT_EQ(shapeRecordNumber(getShapeRecord(store.get(), 3)), 4);

  EXPECT_EQ(eraseShapeRecords(store.get(), 1, 2), 1);
  EXPECT_EQ(store->count, 2);
  EXPECT_EQ(store->header.fileLength, 50 + 2 * shapeRecordSize(SHP_POLYLINE, 2, 1) / 2);
  EXPECT_EQ(shapeRecordNumber(getShapeRecord(store.get(), 1)), 4);
  EXPECT_EQ(shapeRecordNumber(nextShapeRecord(getShapeRecord(store.get(), 1))), -1);
}

TEST(ShapeFileEdit, AddingLeavesTheHeaderRangesUntilRecomputed) {
  StorePtr store = open(fixture("polygon.shp"));
  ASSERT_TRUE(store);
  double ring[8] = {40, 40, 40, 50, 50, 40, 40, 40};
  ASSERT_TRUE(addShapeRecord(store.get(), 0, ring, 4, nullptr, 0, nullptr, nullptr, nullptr));
  EXPECT_EQ(store->header.xmax, 30);
  EXPECT_EQ(store->dirty, 1);
  recomputeShapeRanges(store.get(), 1);
  EXPECT_EQ(store->header.xmax, 50);
  EXPECT_EQ(store->header.xmin, 0);
}

TEST(ShapeFileEdit, CloneTakesFurtherRecordsAfterTheLastNumber) {
  StorePtr store = open(fixture("five.shp"));
  ASSERT_TRUE(store);
  setShapeProjection(store.get(), "+proj=latlong");
  StorePtr copy = hold(cloneShapeFile(store.get()));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->projection, "");
  EXPECT_EQ(copy->dirty, 1);
  double point[2] = {6, 6};
  ShapeRecord *added = addShapeRecord(copy.get(), 0, point, 1, nullptr, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(shapeRecordNumber(added), 6);
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(pointsOf(getShapeRecord(copy.get(), i)), pointsOf(getShapeRecord(store.get(), i)));
  }
  EXPECT_EQ(store->count, 5);
}

TEST(ShapeFileEdit, CopySelectedNumbersByTheSourceIndex) {
  StorePtr store = open(fixture("five.shp"));
  ASSERT_TRUE(store);
  unselectAllShapes(store.get());
  EXPECT_EQ(copySelectedShapes(store.get()), nullptr);
  selectShape(store.get(), 2);
  selectShape(store.get(), 4);
  StorePtr copy = hold(copySelectedShapes(store.get()));
  ASSERT_TRUE(copy);
  ASSERT_EQ(copy->count, 2);
  EXPECT_EQ(shapeRecordNumber(getShapeRecord(copy.get(), 0)), 3);
  EXPECT_EQ(shapeRecordNumber(getShapeRecord(copy.get(), 1)), 5);
  EXPECT_EQ(pointsOf(getShapeRecord(copy.get(), 1)), (std::vector<double>{5, 5}));
  EXPECT_EQ(copy->header.fileLength, 50 + 2 * 14);
  double point[2] = {6, 6};
  ShapeRecord *added = addShapeRecord(copy.get(), 0, point, 1, nullptr, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(shapeRecordNumber(added), 6);
}

TEST(ShapeFileEdit, SettersStayWithinTheRecord) {
  StorePtr store = hold(newShapeFile(SHP_POLYLINEM, nullptr, nullptr, 0));
  double points[6] = {0, 0, 4, 1, 2, 5};
  double m[3] = {1, 2, 3};
  ShapeRecord *record = addShapeRecord(store.get(), 0, points, 3, nullptr, 0, nullptr, m, nullptr);
  ASSERT_NE(record, nullptr);
  ShapeDouble *box = getRecordBox(record);
  EXPECT_EQ(doubles(box, 4), (std::vector<double>{0, 0, 4, 5}));
  double more[6] = {-1, -1, -2, -2, -3, -3};
  EXPECT_EQ(setRecordPoints(record, more, 2, 3), 1);  // only one slot left
  EXPECT_EQ(doubles(box, 1)[0], -1);
  double ms[2] = {7, 8};
  EXPECT_EQ(setRecordM(record, ms, 2, 2), 1);
  double lo, hi;
  getRecordM(record, &lo, &hi);
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 7);
  int32_t lengths[2] = {4, 1};
  EXPECT_EQ(setRecordParts(record, lengths, 0, 2), 0);  // 4 > 3 points: stops
  EXPECT_EQ(setRecordZ(record, ms, 0, 2), 0);           // no Z in this type
}

// ---- selection, deletion and purging ----

TEST(ShapeFileFlags, SelectionAndDeletionRules) {
  StorePtr store = open(fixture("five.shp"));
  ASSERT_TRUE(store);
  deleteShape(store.get(), 2);
  EXPECT_EQ(store->flags[2], RECORD_DELETED);
  selectShape(store.get(), 2);
  toggleShape(store.get(), 2);
  EXPECT_EQ(isShapeDeleted(store.get(), 2), 1);
  EXPECT_EQ(isShapeSelected(store.get(), 2), 0);
  EXPECT_EQ(unselectAllShapes(store.get()), 4);
  EXPECT_EQ(selectAllShapes(store.get()), 4);
  EXPECT_EQ(countSelectedShapes(store.get()), 4);
  EXPECT_EQ(countDeletedShapes(store.get()), 1);
  undeleteShape(store.get(), 2);
  EXPECT_EQ(store->flags[2], RECORD_SELECTED);
}

TEST(ShapeFileFlags, PartialPurgeKeepsTheRestSelected) {
  StorePtr store = open(fixture("five.shp"));
  ASSERT_TRUE(store);
  unselectShape(store.get(), 0);
  deleteShape(store.get(), 1);
  deleteShape(store.get(), 3);
  EXPECT_EQ(purgeShapeFile(store.get()), 2);
  ASSERT_EQ(store->count, 3);
  EXPECT_EQ(countSelectedShapes(store.get()), 3);
  EXPECT_EQ(store->header.fileLength, 50 + 3 * 14);
  EXPECT_EQ(pointsOf(getShapeRecord(store.get(), 1)), (std::vector<double>{3, 3}));
  EXPECT_EQ(pointsOf(getShapeRecord(store.get(), 2)), (std::vector<double>{5, 5}));
  EXPECT_EQ(shapeRecordNumber(nextShapeRecord(getShapeRecord(store.get(), 2))), -1);

  store->lockCount = 1;
  deleteShape(store.get(), 0);
  EXPECT_EQ(purgeShapeFile(store.get()), 0);
  EXPECT_EQ(store->purgePending, 1);
  EXPECT_EQ(store->count, 3);
}

TEST(ShapeFileFlags, PurgingEverythingEmptiesTheStore) {
  StorePtr store = open(fixture("five.shp"));
  ASSERT_TRUE(store);
  for (int i = 0; i < 5; i++) deleteShape(store.get(), i);
  EXPECT_EQ(purgeShapeFile(store.get()), 5);
  EXPECT_EQ(store->count, 0);
  EXPECT_EQ(store->header.fileLength, 50);
  EXPECT_EQ(store->nextNumber, 1);
  EXPECT_EQ(getShapeRecord(store.get(), 0), nullptr);
  double point[2] = {1, 1};
  ShapeRecord *added = addShapeRecord(store.get(), 0, point, 1, nullptr, 0, nullptr, nullptr, nullptr);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(shapeRecordNumber(added), 1);
  EXPECT_EQ(store->header.fileLength, 50 + 14);
}

TEST(ShapeFileTypes, NamesAndSizes) {
  EXPECT_STREQ(shapeTypeDisplayName(13), "PolylineZ");
  EXPECT_STREQ(shapeTypeDisplayName(2), "Unknown");
  EXPECT_EQ(shapeRecordSize(SHP_NULL, 5, 5), 12);
  EXPECT_EQ(shapeRecordSize(SHP_MULTIPOINTM, 2, 0), 64 + 48);
  EXPECT_TRUE(shapeTypeHasM(SHP_MULTIPOINTM));
  EXPECT_FALSE(shapeTypeHasParts(SHP_MULTIPATCH));
  ShapeRecord *record = makePolygonShape(7, std::vector<double>{0, 0, 0, 1, 1, 1, 0, 0}.data(), 4,
                                         nullptr, 0);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(shapeRecordNumber(record), 7);
  EXPECT_EQ(partsOf(record), std::vector<int>{4});
  ShapeRecord *copy = copyShapeRecord(record);
  EXPECT_EQ(memcmp(copy, record, static_cast<size_t>(shapeRecordBytes(record))), 0);
  freeShapeRecord(copy);
  freeShapeRecord(record);
}

TEST(ShapeFileTypes, StandaloneRecords) {
  // newShapeRecord: zeroed, with type, content length (16-bit words after
  // the 8-byte record header) and, beyond points, the counts.
  struct Case {
    int type, n, p;
    int points, parts;
  } cases[] = {{SHP_POINT, 1, 0, 1, 0},       {SHP_MULTIPOINT, 3, 0, 3, 0},
               {SHP_POLYLINE, 5, 2, 5, 2},    {SHP_POLYGONZ, 4, 1, 4, 1},
               {SHP_NULL, 0, 0, 0, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type);
    ShapeRecord *record = newShapeRecord(c.type, c.n, c.p);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(shapeRecordType(record), c.type);
    EXPECT_EQ(shapeRecordBytes(record), shapeRecordSize(c.type, c.n, c.p));
    EXPECT_EQ(shapeRecordNumber(record), 0);
    int points = -1, parts = -1;
    if (c.type != SHP_NULL && c.type != SHP_POINT) {
      getRecordPoints(record, &points);
      EXPECT_EQ(points, c.points);
    }
    if (shapeTypeHasParts(c.type)) {
      getRecordParts(record, &parts);
      EXPECT_EQ(parts, c.parts);
    }
    freeShapeRecord(record);
  }
  EXPECT_EQ(newShapeRecord(SHP_POLYLINE, -1, 0), nullptr);
  EXPECT_EQ(newShapeRecord(SHP_POLYLINE, 1 << 30, 1), nullptr);  // beyond a record's size

  ShapeRecord *point = makePointShape(3, 2.5, -1);
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(shapeRecordType(point), SHP_POINT);
  EXPECT_EQ(shapeRecordNumber(point), 3);
  EXPECT_EQ(pointsOf(point), (std::vector<double>{2.5, -1}));
  freeShapeRecord(point);
  const double line[] = {0, 0, 1, 1, 2, 0, 5, 5, 6, 6};
  const int32_t lengths[] = {3, 2};
  ShapeRecord *polyline = makePolylineShape(9, line, 5, lengths, 2);
  ASSERT_NE(polyline, nullptr);
  EXPECT_EQ(shapeRecordType(polyline), SHP_POLYLINE);
  EXPECT_EQ(shapeRecordNumber(polyline), 9);
  EXPECT_EQ(partsOf(polyline), (std::vector<int>{3, 2}));
  EXPECT_EQ(pointsOf(polyline), std::vector<double>(line, line + 10));
  ShapeDouble *box = getRecordBox(polyline);
  ASSERT_NE(box, nullptr);
  freeShapeRecord(polyline);
}
