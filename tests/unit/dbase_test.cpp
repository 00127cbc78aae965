// The dBase store: reading the fixtures, field conversions, field and
// record editing, writing back, corrupt files derived from the fixtures,
// and the predicate scripts of the table object.
#include "vector/dbase.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "tests/unit/harness.h"
#include "vector/tableobj.h"
#include "vesk/object.h"

using namespace vesk;

namespace {

std::string dbfFixture(const std::string &name) {
  const char *source = getenv("VESK_SOURCE_DIR");
  return std::string(source ? source : ".") + "/tests/data/dbase/" + name;
}

std::vector<unsigned char> readAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string &path, const std::vector<unsigned char> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

struct DbfDir {
  std::string path;
  DbfDir() {
    std::string pattern = ::testing::TempDir() + "dbaseXXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    path = mkdtemp(buffer.data());
  }
  ~DbfDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string file(const std::string &name) const { return path + "/" + name; }
  int entries() const {
    int n = 0;
    if (DIR *folder = opendir(path.c_str())) {
      while (struct dirent *entry = readdir(folder))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) n++;
      closedir(folder);
    }
    return n;
  }
};

using TablePtr = std::unique_ptr<DBaseTable, void (*)(DBaseTable *)>;
TablePtr hold(DBaseTable *table) { return TablePtr(table, freedBase); }
TablePtr load(const std::string &path, int *status = nullptr) {
  int ignored;
  return hold(readdBase(path.c_str(), status ? status : &ignored));
}

std::string text(const DBaseTable *table, int record, int field) {
  std::string out;
  getdBaseFieldText(table, record, field, out);
  return out;
}

std::string rawField(const DBaseTable *table, int record, int field) {
  DBaseField f = getdBaseField(table->header, field);
  const unsigned char *at = table->records.data() +
                            static_cast<size_t>(record) * table->recordLength +
                            table->fieldOffsets[static_cast<size_t>(field)];
  return std::string(reinterpret_cast<const char *>(at), static_cast<size_t>(f.length));
}

uint32_t le32(const std::vector<unsigned char> &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
int le16(const std::vector<unsigned char> &b, size_t at) { return b[at] | b[at + 1] << 8; }

DBaseField field(const char *name, char type, int length, int decimals = 0) {
  DBaseField f;
  f.name = name;
  f.type = type;
  f.length = length;
  f.decimals = decimals;
  return f;
}

TEST(DBase, ReadsShapelibTable) {
  int status = -1;
  TablePtr table = load(dbfFixture("people.dbf"), &status);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->count, 4);
  EXPECT_EQ(table->fieldCount, 3);
  EXPECT_EQ(table->recordLength, 21);
  EXPECT_EQ(table->fieldOffsets, (std::vector<int32_t>{1, 13, 16}));
  EXPECT_EQ(table->dirty, 0);
  EXPECT_EQ(countdBaseSelected(table.get()), 4);
  DBaseField height = getdBaseField(table->header, 2);
  EXPECT_EQ(height.name, "HEIGHT");
  EXPECT_EQ(height.type, 'N');
  EXPECT_EQ(height.length, 5);
  EXPECT_EQ(height.decimals, 2);
  // The texts dbfdump printed when the fixture was made.
  const char *expected[4][3] = {{"Ann Lee", "34", "1.65"},
                                {"Bob", "7", "1.20"},
                                {"Cy", "101", "0.50"},
                                {"Dee Dee Ramo", "40", "1.80"}};
  for (int r = 0; r < 4; r++)
    for (int f = 0; f < 3; f++) EXPECT_EQ(text(table.get(), r, f), expected[r][f]) << r << "," << f;
  EXPECT_EQ(getdBaseRecordText(table.get(), 0), "{Ann Lee} 34 1.65");
  EXPECT_EQ(finddBaseField(table.get(), "AGE"), 1);
  EXPECT_EQ(finddBaseField(table.get(), "age"), -1);
}

TEST(DBase, DeletionBytesStayAndWriteBackUnchanged) {
  TablePtr table = load(dbfFixture("kinds.dbf"));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->count, 3);
  // The '*' record reads as live and selected.
  EXPECT_TRUE(isdBaseSelected(table.get(), 1));
  EXPECT_FALSE(isdBaseDeleted(table.get(), 1));
  EXPECT_EQ(table->records[static_cast<size_t>(table->recordLength)], '*');
  EXPECT_EQ(text(table.get(), 0, 0), "ab");
  EXPECT_EQ(text(table.get(), 0, 1), "26/01/02");
  EXPECT_EQ(text(table.get(), 1, 1), "99/12/31");
  EXPECT_EQ(text(table.get(), 0, 2), "T");
  EXPECT_EQ(text(table.get(), 2, 2), "?");
  EXPECT_EQ(text(table.get(), 1, 3), "12");
  EXPECT_EQ(text(table.get(), 2, 3), "");
  DbfDir dir;
  ASSERT_EQ(writedBase(dir.file("a.dbf").c_str(), table.get(), 0, nullptr), 1);
  EXPECT_EQ(readAll(dir.file("a.dbf")), readAll(dbfFixture("kinds.dbf")));
  EXPECT_EQ(table->path, dir.file("a.dbf"));
}

// Corrupt files derived from the fixtures: each is refused with its status.
TEST(DBase, CorruptFilesAreRefused) {
  std::vector<unsigned char> good = readAll(dbfFixture("people.dbf"));
  ASSERT_EQ(good.size(), 32u + 96 + 1 + 4 * 21 + 1);
  struct Case {
    const char *name;
    void (*change)(std::vector<unsigned char> &);
    int status;
  } cases[] = {
      {"version byte", [](std::vector<unsigned char> &b) { b[0] = 4; }, 1},
      {"short header", [](std::vector<unsigned char> &b) { b.resize(20); }, 1},
      {"empty file", [](std::vector<unsigned char> &b) { b.clear(); }, 1},
      {"header length past the end",
       [](std::vector<unsigned char> &b) {
         b[8] = 0xff;
         b[9] = 0xff;
       },
       1},
      {"header length below 33",
       [](std::vector<unsigned char> &b) {
         b[8] = 20;
         b[9] = 0;
       },
       1},
      {"record length below the fields",
       [](std::vector<unsigned char> &b) {
         b[10] = 10;
         b[11] = 0;
       },
       1},
      {"record length 0",
       [](std::vector<unsigned char> &b) {
         b[10] = 0;
         b[11] = 0;
       },
       1},
      {"record count past the end", [](std::vector<unsigned char> &b) { b[4] = 5; }, 2},
      {"record count of 2^31",
       [](std::vector<unsigned char> &b) {
         b[4] = 0;
         b[5] = 0;
         b[6] = 0;
         b[7] = 0x80;
       },
       1},
      {"huge record count",
       [](std::vector<unsigned char> &b) {
         b[4] = 0xff;
         b[5] = 0xff;
         b[6] = 0xff;
         b[7] = 0x7f;
       },
       2},
      {"truncated records", [](std::vector<unsigned char> &b) { b.resize(b.size() - 30); }, 2},
      {"field longer than the record", [](std::vector<unsigned char> &b) { b[32 + 16] = 200; }, 1},
  };
  DbfDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> bytes = good;
    c.change(bytes);
    writeAll(dir.file("a.dbf"), bytes);
    int status = -1;
    EXPECT_FALSE(load(dir.file("a.dbf"), &status));
    EXPECT_EQ(status, c.status);
  }
  int status = -1;
  EXPECT_FALSE(load(dir.file("missing.dbf"), &status));
  EXPECT_EQ(status, 0);
  // A file without the end-of-file byte still holds every record.
  std::vector<unsigned char> bytes = good;
  bytes.pop_back();
  writeAll(dir.file("a.dbf"), bytes);
  EXPECT_TRUE(load(dir.file("a.dbf")));
  // Every truncation is read or refused, never overrun.
  for (size_t n = 0; n + 1 < good.size(); n++) {
    writeAll(dir.file("a.dbf"),
             std::vector<unsigned char>(good.begin(), good.begin() + static_cast<long>(n)));
    TablePtr t = load(dir.file("a.dbf"));
    std::vector<unsigned char> header;
    EXPECT_EQ(readdBaseInfo(dir.file("a.dbf").c_str(), header, &status), n >= 129) << n;
    EXPECT_FALSE(t) << n;
  }
}

TEST(DBase, InfoReadsTheHeaderAlone) {
  std::vector<unsigned char> header;
  int status = -1;
  ASSERT_TRUE(readdBaseInfo(dbfFixture("people.dbf").c_str(), header, &status));
  EXPECT_EQ(header.size(), 129u);
  EXPECT_EQ(dBaseFieldCountOf(header), 3);
  EXPECT_FALSE(readdBaseInfo("/nonexistent/x.dbf", header, &status));
  EXPECT_EQ(status, 0);
}

// Texts set into fields and read back, by field type.
TEST(DBase, FieldTextConversions) {
  struct Case {
    DBaseField f;
    const char *in;
    bool ok;
    const char *stored;  // the raw field after setting
    const char *out;     // its text
  } cases[] = {
      {field("N", 'N', 5, 2), "3.14159", true, " 3.14", "3.14"},
      {field("N", 'N', 5, 2), "123.456", false, nullptr, nullptr},
      {field("N", 'N', 5, 2), "3.1x", false, nullptr, nullptr},
      {field("N", 'N', 5, 2), "nan", false, nullptr, nullptr},
      {field("N", 'N', 5, 2), " -1.5 ", true, "-1.50", "-1.50"},
      {field("N", 'N', 5, 2), "", true, "     ", ""},
      {field("D", 'D', 8), "26/12/8", true, "20261208", "26/12/08"},
      {field("D", 'D', 8), "26/13/8", false, nullptr, nullptr},
      {field("D", 'D', 8), "-1/12/8", false, nullptr, nullptr},
      {field("D", 'D', 8), "38/1/1", false, nullptr, nullptr},
      {field("D", 'D', 10), "0/1/2", true, "20000102  ", "00/01/02"},
      {field("L", 'L', 1), "  yes", true, "y", "y"},
      {field("L", 'L', 3), "T", true, "T  ", "T"},
      {field("L", 'L', 1), "x", false, nullptr, nullptr},
      {field("M", 'M', 10), "42", true, "        42", "42"},
      {field("M", 'M', 8), "42", false, nullptr, nullptr},
      {field("M", 'M', 10), "-2147483648", false, nullptr, nullptr},
      {field("C", 'C', 8), "  ab c  ", true, "ab c    ", "ab c"},
      {field("C", 'C', 3), "abcdef", true, "abc", "abc"},
      {field("X", 'X', 3), "abc", false, nullptr, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(1, c.f.type) + " <- '" + c.in + "'");
    std::string bytes(static_cast<size_t>(c.f.length), '#');
    bool ok = setFieldFromText(c.f, c.in, reinterpret_cast<unsigned char *>(&bytes[0]));
    EXPECT_EQ(ok, c.ok);
    if (!c.ok) {
      EXPECT_EQ(bytes, std::string(static_cast<size_t>(c.f.length), '#'));
      continue;
    }
    EXPECT_EQ(bytes, c.stored);
    EXPECT_EQ(fieldTextOf(c.f, reinterpret_cast<const unsigned char *>(bytes.data())), c.out);
  }
}

TEST(DBase, FieldDefinitions) {
  struct Case {
    std::vector<const char *> words;
    bool ok;
  } cases[] = {
      {{"NAME", "C", "10", "0"}, true}, {{"NAME", "C", "10", "1"}, false},
      {{"A B", "C", "10", "0"}, false}, {{"ELEVENCHARS", "C", "5", "0"}, false},
      {{"N", "N", "5", "4"}, true},     {{"N", "N", "5", "5"}, false},
      {{"D", "D", "7", "0"}, false},    {{"D", "D", "8", "0"}, true},
      {{"M", "M", "3", "0"}, false},    {{"M", "M", "4", "0"}, true},
      {{"C", "C", "0", "0"}, false},    {{"C", "C", "256", "0"}, false},
      {{"C", "C", "-1", "0"}, false},   {{"C", "C", "1x", "0"}, false},
      {{"C", "C", "", "0"}, false},     {{"Q", "Q", "5", "0"}, false},
      {{"C", "CC", "5", "0"}, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.words[0]) + " " + c.words[1] + " " + c.words[2] + " " + c.words[3]);
    DBaseField f;
    EXPECT_EQ(parsedBaseFieldDef(c.words.data(), &f), c.ok);
  }
}

TEST(DBase, NewTableAndEmptyWrite) {
  TablePtr table = hold(newdBaseTable());
  DbfDir dir;
  ASSERT_EQ(writedBase(dir.file("a.dbf").c_str(), table.get(), 0, nullptr), 1);
  std::vector<unsigned char> bytes = readAll(dir.file("a.dbf"));
  ASSERT_EQ(bytes.size(), 34u);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_GE(bytes[2], 1);
  EXPECT_LE(bytes[2], 12);
  EXPECT_EQ(le32(bytes, 4), 0u);
  EXPECT_EQ(le16(bytes, 8), 33);
  EXPECT_EQ(le16(bytes, 10), 1);
  EXPECT_EQ(bytes[32], 0x0D);
  EXPECT_EQ(bytes[33], 0x1A);
}

TEST(DBase, FieldsAddInsertDelete) {
  TablePtr table = load(dbfFixture("people.dbf"));
  ASSERT_TRUE(table);
  DBaseField added[] = {field("BORN", 'D', 8), field("OK", 'L', 1)};
  ASSERT_EQ(adddBaseField(table.get(), added, 2, nullptr), 1);
  EXPECT_EQ(table->fieldCount, 5);
  EXPECT_EQ(table->recordLength, 30);
  EXPECT_EQ(le16(table->header, 8), 32 + 5 * 32 + 1);
  EXPECT_EQ(le16(table->header, 10), 30);
  EXPECT_EQ(text(table.get(), 3, 4), "?");
  EXPECT_EQ(text(table.get(), 3, 0), "Dee Dee Ramo");
  EXPECT_EQ(text(table.get(), 2, 3).size(), 8u);  // today
  EXPECT_EQ(table->dirty, 1);
  DBaseField first = field("ID", 'N', 4);
  const char *values[] = {"  12"};
  ASSERT_EQ(insertdBaseFieldsAt(table.get(), &first, 1, values, 0), 1);
  EXPECT_EQ(text(table.get(), 1, 0), "12");
  EXPECT_EQ(text(table.get(), 1, 1), "Bob");
  EXPECT_EQ(table->fieldOffsets[1], 5);
  int drop[] = {0, 4, 5};
  ASSERT_EQ(deletedBaseFields(table.get(), 3, drop), 1);
  EXPECT_EQ(table->fieldCount, 3);
  EXPECT_EQ(table->recordLength, 21);
  EXPECT_EQ(text(table.get(), 3, 2), "1.80");
  EXPECT_EQ(deletedBaseFields(table.get(), 0, drop), 0);
  // Deleting the middle of three fields.
  int middle = 1;
  ASSERT_EQ(deletedBaseFields(table.get(), 1, &middle), 1);
  EXPECT_EQ(le16(table->header, 8), 32 + 64 + 1);
  EXPECT_EQ(table->header.size(), 97u);
  EXPECT_EQ(table->header.back(), 0x0D);
  EXPECT_EQ(text(table.get(), 0, 1), "1.65");
  // A record too long for the header's 16-bit length is refused.
  std::vector<DBaseField> wide(300, field("W", 'C', 255));
  for (size_t i = 0; i < wide.size(); i++) wide[i].name = "W" + std::to_string(i);
  EXPECT_EQ(adddBaseField(table.get(), wide.data(), 300, nullptr), 0);
  EXPECT_EQ(table->fieldCount, 2);
  // Every field deleted leaves the deletion byte alone.
  int both[] = {0, 1};
  ASSERT_EQ(deletedBaseFields(table.get(), 2, both), 1);
  EXPECT_EQ(table->recordLength, 1);
  EXPECT_EQ(table->count, 4);
}

// A file whose records run past their last field: fields still go in whole.
TEST(DBase, FieldsAddedToPaddedRecords) {
  std::vector<unsigned char> good = readAll(dbfFixture("people.dbf")),
                             bytes(good.begin(), good.begin() + 129);
  bytes[10] = 23;
  for (int r = 0; r < 4; r++) {
    bytes.insert(bytes.end(), good.begin() + 129 + r * 21, good.begin() + 129 + (r + 1) * 21);
    bytes.push_back('P');
    bytes.push_back('Q');
  }
  DbfDir dir;
  writeAll(dir.file("a.dbf"), bytes);
  TablePtr table = load(dir.file("a.dbf"));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->recordLength, 23);
  DBaseField code = field("CODE", 'C', 3);
  const char *values[] = {"xyz"};
  ASSERT_EQ(adddBaseField(table.get(), &code, 1, values), 1);
  EXPECT_EQ(table->recordLength, 24);
  EXPECT_EQ(getdBaseRecordText(table.get(), 3), "{Dee Dee Ramo} 40 1.80 xyz");
}

TEST(DBase, RecordsInsertEraseGrow) {
  TablePtr table = load(dbfFixture("people.dbf"));
  ASSERT_TRUE(table);
  size_t full = table->records.size();
  ASSERT_EQ(full, 4u * 21);
  ASSERT_EQ(adddBaseRecord(table.get(), nullptr, 1), 1);
  EXPECT_EQ(table->records.size(), full + 1024u * 21);
  EXPECT_EQ(text(table.get(), 4, 0), "");
  EXPECT_EQ(text(table.get(), 4, 1), "0");
  EXPECT_EQ(text(table.get(), 4, 2), "0.00");
  EXPECT_EQ(le32(table->header, 4), 5u);
  // Two records before record 1: the order index makes room for them.
  ASSERT_EQ(insertdBaseRecords(table.get(), nullptr, 2, 1), 1);
  EXPECT_EQ(table->order, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(text(table.get(), 3, 0), "Bob");
  const char *texts[] = {"Eve", "22", "1.7"};
  ASSERT_EQ(setdBaseFields(table.get(), 1, 0, 3, texts), 1);
  EXPECT_EQ(getdBaseRecordText(table.get(), 1), "Eve 22 1.70");
  // A refused text stops the setting; earlier fields stay set.
  const char *bad[] = {"Fay", "abc", "1"};
  EXPECT_EQ(setdBaseFields(table.get(), 2, 0, 3, bad), 0);
  EXPECT_EQ(text(table.get(), 2, 0), "Fay");
  EXPECT_EQ(text(table.get(), 2, 2), "0.00");
  EXPECT_EQ(erasedBaseRecords(table.get(), 1, 2), 2);
  EXPECT_EQ(table->count, 5);
  EXPECT_EQ(table->records.size(), 5u * 21);
  EXPECT_EQ(text(table.get(), 1, 0), "Bob");
  EXPECT_EQ(table->order, (std::vector<int32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(erasedBaseRecords(table.get(), 3, 100), 2);
  EXPECT_EQ(erasedBaseRecords(table.get(), -5, 100), 3);
  EXPECT_EQ(table->count, 0);
  EXPECT_EQ(le32(table->header, 4), 0u);
  DbfDir dir;
  ASSERT_EQ(writedBase(dir.file("a.dbf").c_str(), table.get(), 0, nullptr), 1);
  EXPECT_EQ(readAll(dir.file("a.dbf")).size(), 129u + 1);
}

TEST(DBase, FlagsPurgeAndOrder) {
  TablePtr table = load(dbfFixture("people.dbf"));
  ASSERT_TRUE(table);
  deletedBaseRecord(table.get(), 1);
  EXPECT_EQ(table->flags[1], RECORD_DELETED);
  selectdBaseRecord(table.get(), 1);
  toggledBaseRecord(table.get(), 1);
  EXPECT_EQ(table->flags[1], RECORD_DELETED);
  EXPECT_EQ(unselectAlldBase(table.get()), 3);
  EXPECT_EQ(selectAlldBase(table.get()), 3);
  deletedBaseRecord(table.get(), 2);
  reorderdBaseIndex(table.get(), 0);
  EXPECT_EQ(table->order, (std::vector<int32_t>{0, 3, 1, 2}));
  // Locked: the purge waits.
  table->lockCount = 1;
  EXPECT_EQ(purgedBase(table.get()), 0);
  EXPECT_EQ(table->purgePending, 1);
  EXPECT_EQ(table->count, 4);
  table->lockCount = 0;
  EXPECT_EQ(purgedBase(table.get()), 2);
  EXPECT_EQ(table->count, 2);
  EXPECT_EQ(table->order, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(text(table.get(), 1, 0), "Dee Dee Ramo");
  undeletedBaseRecord(table.get(), 0);
  EXPECT_EQ(table->flags[0], RECORD_SELECTED);
  deletedBaseRecord(table.get(), 0);
  deletedBaseRecord(table.get(), 1);
  EXPECT_EQ(purgedBase(table.get()), 2);
  EXPECT_EQ(table->count, 0);
  EXPECT_EQ(table->fieldCount, 3);
}

TEST(DBase, WritesSelectedAndReplacesFiles) {
  TablePtr table = load(dbfFixture("people.dbf"));
  ASSERT_TRUE(table);
  erasedBaseRecords(table.get(), 3, 3);
  unselectAlldBase(table.get());
  selectdBaseRecord(table.get(), 1);
  DbfDir dir;
  std::string path = dir.file("a.dbf");
  writeAll(path, readAll(dbfFixture("people.dbf")));
  ASSERT_EQ(writedBase(path.c_str(), table.get(), 1, nullptr), 1);
  std::vector<unsigned char> bytes = readAll(path);
  ASSERT_EQ(bytes.size(), 129u + 21 + 1);
  EXPECT_EQ(le32(bytes, 4), 1u);
  EXPECT_EQ(bytes.back(), 0x1A);
  EXPECT_EQ(std::string(bytes.begin() + 130, bytes.begin() + 133), "Bob");
  EXPECT_EQ(table->count, 3);  // the table keeps its records
  EXPECT_EQ(le32(table->header, 4), 3u);
  TablePtr back = load(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->count, 1);
  // Through a symbolic link the target is replaced and the link kept;
  // no temporary file is left beside it.
  ASSERT_EQ(symlink(path.c_str(), dir.file("b.dbf").c_str()), 0);
  ASSERT_EQ(writedBase(dir.file("b.dbf").c_str(), table.get(), 0, nullptr), 1);
  EXPECT_EQ(load(path)->count, 3);
  char target[512] = {};
  EXPECT_GT(readlink(dir.file("b.dbf").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(dir.entries(), 2);
  int status = -1;
  EXPECT_EQ(writedBase(dir.file("none/a.dbf").c_str(), table.get(), 0, &status), 0);
  EXPECT_EQ(status, 0);
}

TEST(DBase, CopyAndClone) {
  TablePtr table = load(dbfFixture("kinds.dbf"));
  ASSERT_TRUE(table);
  unselectdBaseRecord(table.get(), 0);
  TablePtr clone = hold(clonedBase(table.get()));
  ASSERT_TRUE(clone);
  EXPECT_EQ(clone->records, table->records);
  EXPECT_EQ(clone->flags, table->flags);
  TablePtr selected = hold(copydBaseTable(table.get(), 0, nullptr, 1));
  ASSERT_TRUE(selected);
  EXPECT_EQ(selected->count, 2);
  EXPECT_EQ(selected->records[0], '*');  // all fields: deletion bytes kept
  EXPECT_EQ(text(selected.get(), 0, 0), "xyz");
  int some[] = {2, 0};
  TablePtr part = hold(copydBaseTable(table.get(), 2, some, 0));
  ASSERT_TRUE(part);
  EXPECT_EQ(part->count, 3);
  EXPECT_EQ(part->recordLength, 6);
  EXPECT_EQ(part->records[6], ' ');
  EXPECT_EQ(getdBaseRecordText(part.get(), 1), "F xyz");
  unselectAlldBase(table.get());
  EXPECT_FALSE(copydBaseTable(table.get(), 0, nullptr, 1));
}

TEST(DBase, CellsAndNames) {
  TablePtr table = load(dbfFixture("people.dbf"));
  ASSERT_TRUE(table);
  blankdBaseCells(table.get(), 2, 2, -3, 99);  // fields 0..2 of records 2..3
  EXPECT_EQ(rawField(table.get(), 3, 0), std::string(12, ' '));
  EXPECT_EQ(rawField(table.get(), 1, 0), "Bob         ");
  EXPECT_EQ(getdBaseRecordText(table.get(), 2), "{} {} {}");
  EXPECT_EQ(setdBaseFieldName(table.get(), 0, "ELEVENCHARS"), 0);
  EXPECT_EQ(setdBaseFieldName(table.get(), 0, "WHO"), 1);
  EXPECT_EQ(getdBaseField(table->header, 0).name, "WHO");
}

TEST(DBase, MatchScripts) {
  TablePtr table = load(dbfFixture("people.dbf"));
  ASSERT_TRUE(table);
  const char *names[] = {"a} [error x]", "c}d\\"};
  std::vector<MatchPiece> pieces;
  ASSERT_TRUE(compileMatchScript(table.get(), "f %{INDEX} %NAME %{RECORD} 100%% %AGE", pieces));
  std::string out;
  ASSERT_TRUE(expandMatchScript(table.get(), pieces, 0, out));
  EXPECT_EQ(out, "f 0 {Ann Lee} {{Ann Lee} 34 1.65} 100% {34}");
  EXPECT_FALSE(compileMatchScript(table.get(), "expr {%WEIGHT > 1}", pieces));
  // Values that braces cannot hold are quoted so that each stays one word.
  setdBaseField(table.get(), 1, 0, names[0]);
  setdBaseField(table.get(), 2, 0, names[1]);
  ASSERT_TRUE(compileMatchScript(table.get(), "set x %NAME", pieces));
  for (int r = 1; r <= 2; r++) {
    ASSERT_TRUE(expandMatchScript(table.get(), pieces, r, out));
    ASSERT_EQ(Tcl_Eval(testInterp(), out.c_str()), TCL_OK) << out;
    EXPECT_STREQ(Tcl_GetStringResult(testInterp()), names[r - 1]);
  }
  // The expanded script must fit its limit.
  std::string longScript(kMatchScriptLimit, ' ');
  ASSERT_TRUE(compileMatchScript(table.get(), (longScript + "%NAME").c_str(), pieces));
  EXPECT_FALSE(expandMatchScript(table.get(), pieces, 0, out));
}

void countChange(RAMOBJ *, ClientData clientData) { ++*static_cast<int *>(clientData); }

// Selection and deletion changes tell the watchers; reading and editing
// cells does not.  The class slots read the table.
TEST(DBase, TableObjectTellsWatchers) {
  Tcl_Interp *interp = testInterp();
  ASSERT_EQ(Gtable_Init(interp), 0);
  std::string create = "gtable.create tw -file {" + dbfFixture("people.dbf") + "}";
  ASSERT_EQ(Tcl_Eval(interp, create.c_str()), TCL_OK) << Tcl_GetStringResult(interp);
  RAMOBJ *object;
  ASSERT_EQ(openObject(interp, OBJ_TABLE, "tw", &object), 0);
  int changes = 0;
  objAcquire(object, countChange, &changes);
  EXPECT_EQ(object->ops.count(object), 4);
  EXPECT_EQ(object->ops.type(object), 0x100);
  const char *scripts[][2] = {
      {"tw getrecord 1", "0"},     {"tw setfield 0 1 9", "0"},        {"tw unselect 1", "1"},
      {"tw deleterecords 2", "2"}, {"tw match {expr 1} select", "2"}, {"tw selectonly 3", "3"}};
  for (auto &row : scripts) {
    SCOPED_TRACE(row[0]);
    EXPECT_EQ(Tcl_Eval(interp, row[0]), TCL_OK) << Tcl_GetStringResult(interp);
    EXPECT_EQ(changes, atoi(row[1]));
  }
  EXPECT_EQ(object->ops.selected(object, 0), 0);
  EXPECT_EQ(Tcl_Eval(interp, "tw select 0 1"), TCL_OK);
  EXPECT_EQ(object->ops.selected(object, 1), 1);
  EXPECT_EQ(object->ops.selected(object, 2), 0);  // deleted
  objRelease(object, countChange, &changes);
  closeObject(object);
  EXPECT_EQ(Tcl_Eval(interp, "tw close"), TCL_OK);
}

// ---- raw records and fields, records of an open file, value order ----

// What the library writes on its error stream while `run` runs.
template <class Fn> std::string errorsOf(Fn &&run) {
  Tcl_Interp *previous = setStdioInterp(testInterp());
  testing::internal::CaptureStderr();
  run();
  setStdioInterp(previous);
  return testing::internal::GetCapturedStderr();
}

TEST(DBase, NthRecordOfAShapelibFile) {
  // people.dbf was made by shapelib's dbfadd; people.dump is dbfdump's view.
  const int fd = open(dbfFixture("people.dbf").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct Case {
    int n;
    const char *bytes;
  } cases[] = {{0, " Ann Lee      34 1.65"}, {3, " Dee Dee Ramo 40 1.80"}, {2, " Cy          101 0.50"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.n);
    int length = 0;
    unsigned char *record = getNthdBaseRec(fd, c.n, &length);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(record), static_cast<size_t>(length)), c.bytes);
    gmemFree(record);
  }
  // Past the records (the 0x1A after them is no record), negative.
  for (int n : {4, -1, 1 << 30}) {
    EXPECT_EQ(errorsOf([&] { EXPECT_EQ(getNthdBaseRec(fd, n, nullptr), nullptr) << n; }),
              "Error in getNthdBaseRec\n");
  }
  close(fd);
  // A file whose header claims more records than it holds, and not a table.
  DbfDir dir;
  std::vector<unsigned char> bytes = readAll(dbfFixture("people.dbf"));
  bytes.resize(bytes.size() - 10);
  writeAll(dir.file("cut.dbf"), bytes);
  bytes[0] = 'x';
  writeAll(dir.file("other.dbf"), bytes);
  for (const char *name : {"cut.dbf", "other.dbf"}) {
    const int cut = open(dir.file(name).c_str(), O_RDONLY);
    EXPECT_EQ(errorsOf([&] {
                EXPECT_EQ(getNthdBaseRec(cut, std::string(name) == "cut.dbf" ? 3 : 0, nullptr),
                          nullptr) << name;
              }),
              "Error in getNthdBaseRec\n");
    close(cut);
  }
}

TEST(DBase, RawRecordsAndFields) {
  TablePtr table = load(dbfFixture("people.dbf"));
  ASSERT_TRUE(table);
  std::vector<unsigned char> record(static_cast<size_t>(table->recordLength));
  EXPECT_EQ(copydBaseRecord(table.get(), 1, record.data()), 21);
  EXPECT_EQ(copydBaseRecord(table.get(), 4, record.data()), 0);
  std::vector<std::string> fields;
  EXPECT_EQ(splitdBaseRecord(table.get(), record.data(), fields), 3);
  EXPECT_EQ(fields, (std::vector<std::string>{"Bob         ", "  7", " 1.20"}));
  std::string raw;
  EXPECT_EQ(getdBaseFieldRaw(table.get(), 3, 0, raw), 12);
  EXPECT_EQ(raw, "Dee Dee Ramo");
  EXPECT_EQ(getdBaseFieldRaw(table.get(), 3, 3, raw), 0);
  EXPECT_EQ(raw, "");

  // Raw setting: no conversion, cut or padded; out of range refused.
  const char *texts[] = {"Eve", "x9", "toolong"};
  EXPECT_EQ(setdBaseFieldsRaw(table.get(), 0, 0, 3, texts), 1);
  EXPECT_EQ(table->dirty, 1);
  EXPECT_EQ(rawField(table.get(), 0, 0), "Eve         ");
  EXPECT_EQ(rawField(table.get(), 0, 1), "x9 ");
  EXPECT_EQ(rawField(table.get(), 0, 2), "toolo");
  EXPECT_EQ(setdBaseFieldsRaw(table.get(), 0, 2, 2, texts), 0);
  EXPECT_EQ(setdBaseFieldsRaw(table.get(), 9, 0, 1, texts), 0);
  EXPECT_EQ(rawField(table.get(), 0, 2), "toolo");
}

TEST(DBase, ValueOrderByFieldType) {
  struct Case {
    char type;
    const char *a, *b;
    int order;
  } cases[] = {
      {'C', "abc ", "abd", -1},     {'C', "abc", "abcdef", 0},  {'C', "b", "a", 1},
      {'D', "20260102", "19991231", 1},
      {'N', "  9.5", " 10.0", -1},  {'N', " 1.20", "1.2", 0},   {'N', "  -3", "  -4", 1},
      {'N', "     ", "  0", -1},
      {'L', "?", "F", -1},          {'L', "n", "N", 0},         {'L', "  T", "f", 1},
      {'L', "y", "T", 0},           {'L', "?", "?", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(1, c.type) + " " + c.a + " " + c.b);
    const auto *a = reinterpret_cast<const unsigned char *>(c.a);
    const auto *b = reinterpret_cast<const unsigned char *>(c.b);
    const int la = static_cast<int>(strlen(c.a)), lb = static_cast<int>(strlen(c.b));
    EXPECT_EQ(comparedBaseValues(c.type, a, la, b, lb), c.order);
    EXPECT_EQ(comparedBaseValues(c.type, b, lb, a, la), -c.order);
  }
}

TEST(TableText, LinesAndBlanks) {
  FILE *file = tmpfile();
  ASSERT_NE(file, nullptr);
  fputs("first line\n\nabcdefghij\nlast", file);
  rewind(file);
  char buffer[5];
  std::vector<std::string> lines;
  while (readTextLine(file, buffer, sizeof buffer)) lines.push_back(buffer);
  // A line longer than the buffer comes in pieces; an empty line is a line.
  EXPECT_EQ(lines, (std::vector<std::string>{"firs", "t li", "ne", "", "abcd", "efgh", "ij", "last"}));
  EXPECT_EQ(readTextLine(file, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "");
  fclose(file);

  struct Case {
    const char *in, *out;
  } cases[] = {{"  a b  ", "a b"}, {"\tx\t", "x"}, {"    ", ""}, {"", ""}, {"keep", "keep"}};
  for (const Case &c : cases) {
    char text[16];
    snprintf(text, sizeof text, "%s", c.in);
    EXPECT_STREQ(trimBlanks(text), c.out) << c.in;
  }
}

}  // namespace
