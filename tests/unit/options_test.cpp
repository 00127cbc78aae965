// Option types and option matching: the custom Tk options of ids, files,
// image descriptions, band combinations and palettes; module option tables;
// band lists; the module parameter file.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/options.h"
#include "tests/unit/harness.h"
#include "vesk/stdio.h"

using namespace vesk;

namespace {

// Collects what the library writes to its standard streams, and gives it
// console input, while alive.
class StreamCapture {
 public:
  explicit StreamCapture(const char *inputLines = "") : interp_(Tcl_CreateInterp()) {
    Tcl_SetVar(interp_, "input", inputLines, TCL_GLOBAL_ONLY);
    Tcl_Eval(interp_,
             "rename puts {}; proc puts args {append ::out [lindex $args end]}\n"
             "proc bell {} {append ::out <BEL>}\n"
             "rename gets {}\n"
             "proc gets {channel var} {\n"
             "  upvar 1 $var line\n"
             "  if {![llength $::input]} {return -1}\n"
             "  set line [lindex $::input 0]; set ::input [lrange $::input 1 end]\n"
             "  return [string length $line]\n"
             "}");
    previous_ = setStdioInterp(interp_);
  }
  ~StreamCapture() {
    Tcl_SetVar(interp_, "input", "", TCL_GLOBAL_ONLY);
    while (consoleGetchar() != 0) {  // leave no unread rest of a line behind
    }
    setStdioInterp(previous_);
    Tcl_DeleteInterp(interp_);
  }
  std::string text() {
    const char *out = Tcl_GetVar(interp_, "out", TCL_GLOBAL_ONLY);
    return out ? out : "";
  }

 private:
  Tcl_Interp *interp_;
  Tcl_Interp *previous_;
};

// A record configured through all the custom options.
struct OptionRecord {
  char file[kOptionTextSize];
  char imgdes[kOptionTextSize];
  int comb[4];
  int palette[4];
  int func;
  int range;
  int rotation;
  int mapid;
  int imgid;
  int imgtype;
  int pixel;
};

Tk_ConfigSpec optionSpecs[] = {
    {TK_CONFIG_CUSTOM, "-file", nullptr, nullptr, nullptr, offsetof(OptionRecord, file), 0,
     &fileOption},
    {TK_CONFIG_CUSTOM, "-imgdes", nullptr, nullptr, nullptr, offsetof(OptionRecord, imgdes), 0,
     &imgdesOption},
    {TK_CONFIG_CUSTOM, "-comb", nullptr, nullptr, nullptr, offsetof(OptionRecord, comb), 0,
     &combOption},
    {TK_CONFIG_CUSTOM, "-palette", nullptr, nullptr, nullptr, offsetof(OptionRecord, palette), 0,
     &paletteOption},
    {TK_CONFIG_CUSTOM, "-func", nullptr, nullptr, nullptr, offsetof(OptionRecord, func), 0,
     &funcOption},
    {TK_CONFIG_CUSTOM, "-range", nullptr, nullptr, nullptr, offsetof(OptionRecord, range), 0,
     &rangeOption},
    {TK_CONFIG_CUSTOM, "-rotation", nullptr, nullptr, nullptr, offsetof(OptionRecord, rotation),
     0, &rotationidOption},
    {TK_CONFIG_CUSTOM, "-mapid", nullptr, nullptr, nullptr, offsetof(OptionRecord, mapid), 0,
     &mapidOption},
    {TK_CONFIG_CUSTOM, "-imgid", nullptr, nullptr, nullptr, offsetof(OptionRecord, imgid), 0,
     &imgidOption},
    {TK_CONFIG_CUSTOM, "-imgtype", nullptr, nullptr, nullptr, offsetof(OptionRecord, imgtype), 0,
     &imgtypeOption},
    {TK_CONFIG_CUSTOM, "-pixel", nullptr, nullptr, nullptr, offsetof(OptionRecord, pixel), 0,
     &pixelOption},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

class CustomOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    interp = testInterp();
    if (!Tk_MainWindow(interp)) GTEST_SKIP() << "no display";
    memset(&record, 0, sizeof record);
  }
  int configure(const char *option, const char *value) {
    const char *argv[] = {option, value};
    return Tk_ConfigureWidget(interp, Tk_MainWindow(interp), optionSpecs, 2, argv,
                              reinterpret_cast<char *>(&record), TK_CONFIG_ARGV_ONLY);
  }
  std::string value(const char *option) {
    if (Tk_ConfigureValue(interp, Tk_MainWindow(interp), optionSpecs,
                          reinterpret_cast<char *>(&record), option, 0) != TCL_OK)
      return "error: " + std::string(Tcl_GetStringResult(interp));
    return Tcl_GetStringResult(interp);
  }
  std::string result() { return Tcl_GetStringResult(interp); }
  Tcl_Interp *interp = nullptr;
  OptionRecord record;
};

TEST_F(CustomOptions, Palette) {
  const struct {
    const char *value;
    int fields[4];
    const char *printed;
  } good[] = {
      {"6/7/6", {0, 6, 7, 6}, "6/7/6"},
      {"DEFAULT", {-1, 0, 0, 0}, "Default"},
      {"default", {-1, 0, 0, 0}, "Default"},
      {"256", {256, 0, 0, 0}, "256"},
      {"1//2/3", {0, 1, 2, 3}, "1/2/3"},    // empty pieces are skipped
  };
  for (auto &c : good) {
    SCOPED_TRACE(c.value);
    memset(record.palette, 0x55, sizeof record.palette);
    ASSERT_EQ(configure("-palette", c.value), TCL_OK) << result();
    for (int i = 0; i < 4; i++) EXPECT_EQ(record.palette[i], c.fields[i]) << i;
    EXPECT_EQ(value("-palette"), c.printed);
  }
  for (const char *bad : {"8/8", "/1//256/", "257", "0", "1/2/3/4", "", "a", "6/x/6", "-4"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(configure("-palette", bad), TCL_ERROR);
    EXPECT_EQ(result(), std::string("Invalid value: ") + bad + " for palette");
  }
}

TEST_F(CustomOptions, BandCombination) {
  const struct {
    const char *value;
    int fields[4];
    const char *printed;
  } good[] = {
      {"3/2/1", {3, 3, 2, 1}, "3/2/1"},
      {"2", {1, 2, 0, 0}, "2"},
      {"0/4", {2, 0, 4, 0}, "0/4"},
      {"/5//", {1, 5, 0, 0}, "5"},
  };
  for (auto &c : good) {
    SCOPED_TRACE(c.value);
    ASSERT_EQ(configure("-comb", c.value), TCL_OK) << result();
    for (int i = 0; i < 4; i++) EXPECT_EQ(record.comb[i], c.fields[i]) << i;
    EXPECT_EQ(value("-comb"), c.printed);
  }
  for (const char *bad : {"0/0/0", "0", "", "1/2/3/4", "-1/2", "1/b", "99999999999"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(configure("-comb", bad), TCL_ERROR);
    EXPECT_EQ(result(), std::string("Invalid value: ") + bad + " for comb");
  }
}

TEST_F(CustomOptions, IdVocabulariesAreCaseSensitive) {
  const struct {
    const char *option;
    const char *name;
    int OptionRecord::*field;
    int id;
  } good[] = {
      {"-func", "HISTEQ", &OptionRecord::func, 4},
      {"-func", "UNKNOWN", &OptionRecord::func, 0},
      {"-range", "DETAIL", &OptionRecord::range, 2},
      {"-rotation", "XZY", &OptionRecord::rotation, 6},
      {"-rotation", "ZYX", &OptionRecord::rotation, 1},
      {"-mapid", "UTM33", &OptionRecord::mapid, 35},
      {"-mapid", "PCS32633", &OptionRecord::mapid, 32633},
      {"-imgid", "UNKNOWN", &OptionRecord::imgid, 0},
      {"-imgid", "GIF89a", &OptionRecord::imgid, 11},
      {"-imgtype", "SLOPE", &OptionRecord::imgtype, 4},
      {"-pixel", "BYTE", &OptionRecord::pixel, 3},
  };
  for (auto &c : good) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(configure(c.option, c.name), TCL_OK) << result();
    EXPECT_EQ(record.*c.field, c.id);
    EXPECT_EQ(value(c.option), c.name);
  }
  const struct {
    const char *option;
    const char *name;
    const char *message;
  } bad[] = {
      {"-func", "histeq", "Invalid value: histeq for func"},
      {"-range", "MEANS", "Invalid value: MEANS for range"},
      {"-rotation", "", "Invalid value:  for rotationid"},
      {"-mapid", "UNKNOWN", "Invalid value: UNKNOWN for mapid"},
      {"-mapid", "PCS123", "Invalid value: PCS123 for mapid"},
      {"-pixel", "byte", "Invalid value: byte for pixel"},
      {"-imgid", "GIF89A", "Invalid value: GIF89A for imgid"},
  };
  for (auto &c : bad) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(configure(c.option, c.name), TCL_ERROR);
    EXPECT_EQ(result(), c.message);
  }
  record.func = 17;  // outside the vocabulary
  EXPECT_EQ(value("-func"), "UNKNOWN");
}

TEST_F(CustomOptions, FileNamesAndDescriptions) {
  const char *home = getenv("HOME");
  ASSERT_NE(home, nullptr);
  ASSERT_EQ(configure("-file", "~/images/a.tif"), TCL_OK) << result();
  EXPECT_EQ(value("-file"), std::string(home) + "/images/a.tif");
  std::string longName(300, 'n');
  EXPECT_EQ(configure("-file", longName.c_str()), TCL_ERROR);
  EXPECT_EQ(result(), "Error in file name translation: " + longName + " for file");
  EXPECT_EQ(configure("-file", "~nosuchuser123/x"), TCL_ERROR);
  EXPECT_EQ(result(), "Error in file name translation: ~nosuchuser123/x for file");

  ASSERT_EQ(configure("-imgdes", "rows 5 cols 7"), TCL_OK);
  EXPECT_EQ(value("-imgdes"), "rows 5 cols 7");
  std::string limit(255, 'd');
  EXPECT_EQ(configure("-imgdes", limit.c_str()), TCL_OK);
  limit += "d";
  EXPECT_EQ(configure("-imgdes", limit.c_str()), TCL_ERROR);
  EXPECT_EQ(result(), "Error in parsing image description: " + limit + " for imgdes");
}

TEST(ModuleOptions, MatchOptions) {
  const struct {
    std::vector<const char *> words;
    int unmatched;
    const char *in;
    const char *out;
  } cases[] = {
      {{"-in", "a", "-out", "b", "-zz", "c"}, 1, "a", "b"},
      {{"-in", "a", "-in", "b"}, 1, "a", nullptr},  // one row of that name
      {{"-out", "b", "-in"}, 1, nullptr, "b"},      // the last word has no value
      {{"-IN", "a"}, 1, nullptr, nullptr},          // names are case-sensitive
      {{"-i", "a"}, 1, nullptr, nullptr},           // and whole words
      {{}, 0, nullptr, nullptr},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.words.empty() ? "" : c.words[0]);
    ModuleOption table[] = {{"-in", "stale"}, {"-out", "stale"}, {nullptr, nullptr}};
    EXPECT_EQ(matchOptions(table, static_cast<int>(c.words.size()), c.words.data()), c.unmatched);
    EXPECT_STREQ(table[0].value, c.in);
    EXPECT_STREQ(table[1].value, c.out);
    if (c.in) {
      EXPECT_EQ(table[0].value, c.words[1]) << "the word itself, not a copy";
    }
  }
  // A name given in two rows takes the option twice.
  ModuleOption twice[] = {{"-b", nullptr}, {"-b", nullptr}, {nullptr, nullptr}};
  const char *words[] = {"-b", "1", "-b", "2", "-b", "3"};
  EXPECT_EQ(matchOptions(twice, 6, words), 1);
  EXPECT_STREQ(twice[0].value, "1");
  EXPECT_STREQ(twice[1].value, "2");
}

TEST(BandLists, NumberLists) {
  const struct {
    const char *text;
    int capacity;
    int count;
    std::vector<int> numbers;
  } cases[] = {
      {"1,3,5", 8, 3, {1, 3, 5}},
      {"3-1", 8, 3, {3, 2, 1}},
      {"2-4,7", 8, 4, {2, 3, 4, 7}},
      {"1,2,3,4", 4, 4, {1, 2, 3, 4}},  // single numbers may fill the room
      {"1-4", 4, -1, {}},               // a range must leave a place free
      {"1-4", 5, 4, {1, 2, 3, 4}},
      {"1,2,3", 2, -1, {}},
      {"2-2", 8, -1, {}},
      {"", 8, -1, {}},
      {"1,", 8, -1, {}},
      {",1", 8, -1, {}},
      {"1-", 8, -1, {}},
      {"1-2-3", 8, -1, {}},
      {"1;2", 8, -1, {}},
      {"x", 8, -1, {}},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.text);
    int out[8] = {0};
    ASSERT_EQ(parseNumberList(c.text, out, c.capacity), c.count);
    for (size_t i = 0; i < c.numbers.size(); i++) EXPECT_EQ(out[i], c.numbers[i]) << i;
  }
  const char *cursor = "12,3";
  long value = 0;
  EXPECT_EQ(getListNumber(&cursor, &value), ',');
  EXPECT_EQ(value, 12);
  EXPECT_STREQ(cursor, "3");
  EXPECT_EQ(getListNumber(&cursor, &value), 0);
  EXPECT_EQ(value, 3);
  cursor = "7:";
  EXPECT_EQ(getListNumber(&cursor, &value), -1);
}

TEST(BandLists, BandMaps) {
  const struct {
    const char *text;
    int sourceBands, destBands;
    int count;
    std::vector<int> source, dest;
    bool message;
  } cases[] = {
      {"1-3:3-1", 3, 3, 3, {0, 1, 2}, {2, 1, 0}, false},
      {"4", 3, 3, 0, {}, {}, false},  // out of range: silent
      {"1:4", 3, 3, 0, {}, {}, false},
      {"1-2:3", 3, 3, 0, {}, {}, true},  // lists of different lengths
      {"1:2:3", 3, 3, 0, {}, {}, true},
      {"x", 3, 3, 0, {}, {}, true},
      {"3;1 2", 3, 3, 3, {2, 0, 1}, {2, 0, 1}, false},
      {"1,2:3", 3, 3, 2, {0, 1}, {0, 2}, false},  // "," separates items too
      {"2:1;;3:2", 3, 2, 2, {1, 2}, {0, 1}, false},
      {"", 3, 3, 0, {}, {}, false},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<int> source(kMaxBandPairs), dest(kMaxBandPairs);
    StreamCapture capture;
    ASSERT_EQ(parseBandList(c.sourceBands, c.destBands, source.data(), dest.data(), c.text),
              c.count);
    for (size_t i = 0; i < c.source.size(); i++) {
      EXPECT_EQ(source[i], c.source[i]) << i;
      EXPECT_EQ(dest[i], c.dest[i]) << i;
    }
    EXPECT_EQ(capture.text(), c.message ? "Error in band params.\n" : "");
  }
}

TEST(BandLists, IdentityAndCapacity) {
  std::vector<int> source(kMaxBandPairs), dest(kMaxBandPairs);
  EXPECT_EQ(parseBandList(5, 3, source.data(), dest.data(), nullptr), 3);
  EXPECT_EQ(source[2], 2);
  EXPECT_EQ(dest[2], 2);
  EXPECT_EQ(parseBandList(20000, 20000, source.data(), dest.data(), nullptr), kMaxBandPairs);
  EXPECT_EQ(parseBandList(0, 3, source.data(), dest.data(), nullptr), 0);
  // A list of more pairs than the arrays hold is refused, not overrun.
  StreamCapture capture;
  EXPECT_EQ(parseBandList(20000, 20000, source.data(), dest.data(), "1-8192"), 0);
  EXPECT_EQ(parseBandList(20000, 20000, source.data(), dest.data(), "1-8191"), 8191);
  EXPECT_EQ(parseBandList(20000, 20000, source.data(), dest.data(), "1-8191,9000"), 8192);
  EXPECT_EQ(parseBandList(20000, 20000, source.data(), dest.data(), "1-8191,9000,9001"), 0);
}

class ModuleConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vesk-config-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    path = dir + "/CONFIG.MOD";
  }
  void TearDown() override {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  std::string bytes() {
    std::string out;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file) return out;
    char buffer[1024];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, n);
    fclose(file);
    return out;
  }
  std::string dir, path;
};

TEST_F(ModuleConfig, WriteMergeAndReadBack) {
  ModuleOption first[] = {{"-in", "a.tif"}, {"-out", "b.tif"}, {nullptr, nullptr}};
  EXPECT_EQ(writeModuleConfig(path.c_str(), "resample", first), 1);
  ModuleOption other[] = {{"-k", "3"}, {nullptr, nullptr}};
  EXPECT_EQ(writeModuleConfig(path.c_str(), "convolution-long-name", other), 1);
  ModuleOption second[] = {{"-out", "c.tif"}, {"-rsp", "BI"}, {nullptr, nullptr}};
  EXPECT_EQ(writeModuleConfig(path.c_str(), "resample", second), 0);

  std::string file = bytes();
  ASSERT_EQ(file.size(), 512u);
  EXPECT_EQ(file.substr(0, 9), std::string("resample\0", 9));
  EXPECT_STREQ(file.c_str() + 16, "-in a.tif -out c.tif -rsp BI ");
  EXPECT_EQ(file.substr(256, 16), "convolution-long") << "names keep 16 bytes";

  ModuleOption table[] = {{"-in", nullptr}, {"-out", "given"}, {"-rsp", nullptr},
                          {nullptr, nullptr}};
  EXPECT_EQ(readModuleConfig(path.c_str(), "resample", table), 1);
  EXPECT_STREQ(table[0].value, "a.tif");
  EXPECT_STREQ(table[1].value, "given") << "a value already set stays";
  EXPECT_STREQ(table[2].value, "BI");
  EXPECT_EQ(readModuleConfig(path.c_str(), "convolution-long-other", other), 1)
      << "compared on 16 bytes";
  EXPECT_EQ(readModuleConfig(path.c_str(), "nosuch", table), 0);
  ModuleOption narrow[] = {{"-in", nullptr}, {nullptr, nullptr}};
  EXPECT_EQ(readModuleConfig(path.c_str(), "resample", narrow), -1) << "-out has no row";
}

// A write the disk can't take (a file-size limit below the file's size)
// fails and leaves every record of the old file as it was.
TEST_F(ModuleConfig, AFailedWriteKeepsTheOldFile) {
  ModuleOption first[] = {{"-in", "a.tif"}, {nullptr, nullptr}};
  ASSERT_EQ(writeModuleConfig(path.c_str(), "resample", first), 1);
  ASSERT_EQ(writeModuleConfig(path.c_str(), "convolve", first), 1);
  const std::string old = bytes();
  ASSERT_EQ(old.size(), 512u);

  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 300;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  ModuleOption changed[] = {{"-in", "b.tif"}, {nullptr, nullptr}};
  int appended, rewritten;
  {
    StreamCapture capture;
    appended = writeModuleConfig(path.c_str(), "gconv", changed);
    rewritten = writeModuleConfig(path.c_str(), "convolve", changed);
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);

  EXPECT_EQ(appended, -1);
  EXPECT_EQ(rewritten, -1);
  EXPECT_EQ(bytes(), old);
  DIR *folder = opendir(dir.c_str());
  ASSERT_NE(folder, nullptr);
  int entries = 0;
  while (struct dirent *e = readdir(folder)) entries += e->d_name[0] != '.';
  closedir(folder);
  EXPECT_EQ(entries, 1) << "no temporary file is left beside";
}

TEST_F(ModuleConfig, TextBeyondTheRecordIsRefused) {
  std::string big(200, 'v');
  ModuleOption table[] = {{"-a", big.c_str()}, {"-b", big.c_str()}, {nullptr, nullptr}};
  StreamCapture capture;
  EXPECT_EQ(writeModuleConfig(path.c_str(), "m", table), -1);
  EXPECT_EQ(bytes().size(), 0u);
  EXPECT_NE(capture.text().find("Error in writeModuleConfig"), std::string::npos);
}

TEST_F(ModuleConfig, OpenFindAndMergePieces) {
  // The file named by env(PARAMS) of the stdio interpreter and CONFIG.MOD.
  Tcl_Interp *previous = setStdioInterp(testInterp());
  Tcl_SetVar2(testInterp(), "env", "PARAMS", (dir + "/").c_str(), TCL_GLOBAL_ONLY);
  int fd = openModuleConfig(nullptr);
  Tcl_UnsetVar2(testInterp(), "env", "PARAMS", TCL_GLOBAL_ONLY);
  setStdioInterp(previous);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(access(path.c_str(), F_OK), 0) << "created when missing";

  ModuleOption a[] = {{"-in", "x"}, {nullptr, nullptr}};
  ModuleOption b[] = {{"-k", "5"}, {nullptr, nullptr}};
  ASSERT_EQ(writeModuleConfig(path.c_str(), "first", a), 1);
  ASSERT_EQ(writeModuleConfig(path.c_str(), "second", b), 1);
  fd = openModuleConfig(path.c_str());
  ASSERT_GE(fd, 0);
  char record[kModuleRecordSize];
  struct Case {
    const char *name;
    int index;
    const char *text;
  } cases[] = {{"second", 1, "-k 5 "}, {"first", 0, "-in x "}, {"third", -1, ""}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(findModuleRecord(fd, c.name, record), c.index);
    EXPECT_STREQ(record, c.name);  // the name leads the record either way
    EXPECT_STREQ(record + kModuleNameSize, c.text);
  }
  close(fd);

  // Merging: pairs the table names are dropped and its values appended;
  // a text that would pass the record is cut and reported.
  memset(record, 0, sizeof record);
  strcpy(record + kModuleNameSize, "-in x -out y -k 3 ");
  ModuleOption table[] = {{"-in", "z"}, {"-k", nullptr}, {nullptr, nullptr}};
  EXPECT_EQ(mergeModuleParams(record, table), 0);
  EXPECT_STREQ(record + kModuleNameSize, "-out y -in z ");
  std::string big(150, 'v');
  ModuleOption wide[] = {{"-a", big.c_str()}, {"-b", big.c_str()}, {nullptr, nullptr}};
  EXPECT_EQ(mergeModuleParams(record, wide), -1);
  EXPECT_LE(strlen(record + kModuleNameSize), static_cast<size_t>(kModuleTextMax));
}

TEST(ModuleName, FromTheProgramWords) {
  const struct {
    std::vector<const char *> words;
    const char *name;
    int result;
  } cases[] = {
      {{"c:\\bin\\resample.exe", "-in"}, "resample", 1},
      {{"/usr/bin/stats.exe", "head", "-x"}, "stats head", 2},
      {{"run the gfft.exe"}, "gfft", 1},
      {{"abc"}, "", 1},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.words[0]);
    std::string name;
    EXPECT_EQ(makeModuleName(name, static_cast<int>(c.words.size()), c.words.data()), c.result);
    EXPECT_EQ(name, c.name);
  }
}

}  // namespace

TEST(IdKinds, TableOrder) {
  const char *names[] = {"file",  "palette", "comb", "imgdes", "mapid",     "imgid",
                         "imgtype", "pixel", "func", "range",  "rotationid"};
  ASSERT_EQ(sizeof names / sizeof names[0], static_cast<size_t>(ID_KIND_COUNT));
  for (int i = 0; i < ID_KIND_COUNT; i++) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(idKinds[i].name, names[i]);
  }
  EXPECT_EQ(funcOption.clientData, &idKinds[ID_FUNC]);
  EXPECT_EQ(fileOption.clientData, &idKinds[ID_FILE]);
}

TEST(AskYesNo, ReadsUntilYesOrNo) {
  const struct {
    const char *input;
    int answer;
    const char *shown;
  } cases[] = {
      {"y", 1, "\nSave? (Y/N) "},
      {"N", 0, "\nSave? (Y/N) "},
      {"xY", 1, "\nSave? (Y/N) <BEL>"},
      {"{} n", 0, "\nSave? (Y/N) <BEL>"},  // the empty line's newline rings too
      {"", 0, "\nSave? (Y/N) "},           // end of input answers no
      {"a", 0, "\nSave? (Y/N) <BEL><BEL>"},  // "a", its newline, then the end
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.input);
    StreamCapture console(c.input);
    EXPECT_EQ(askYesNo("Save?"), c.answer);
    EXPECT_EQ(console.text(), c.shown);
  }
}
