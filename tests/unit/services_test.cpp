// Core services: the rotating format buffer, combEval, environment lookup
// and positioned file reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "core/core.h"
#include "tests/unit/harness.h"

using namespace vesk;

TEST(Fmt, SeventeenCallsWrapToTheStart) {
  // Bring the buffer back to its start: a call made above the wrap offset restarts it.
  while (fmtFillOffset() <= kFmtWrapOffset) fmt("%1000s", "");
  std::string text(1000, 'x');
  std::vector<const char *> results;
  for (int i = 0; i < 17; i++) results.push_back(fmt("%s", text.c_str()));
  for (int i = 0; i < 16; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[static_cast<size_t>(i)] - fmtBufferStart(), i * 1001);
  }
  EXPECT_EQ(results[16], fmtBufferStart());
  EXPECT_EQ(fmtFillOffset(), 1001);
}

TEST(Memory, MemAllocZeroesAndNamesTheCallerOnFailure) {
  unsigned char *block = static_cast<unsigned char *>(memAlloc(100, "probe"));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 100; i++) ASSERT_EQ(block[i], 0) << i;
  gmemFree(block);

  Tcl_Interp *interp = Tcl_CreateInterp();
  Tcl_Interp *previous = setStdioInterp(interp);
  Tcl_Eval(interp, "set ::log {}; proc puts {args} {lappend ::log $args}");
  EXPECT_EQ(memAlloc(-1, "probe"), nullptr);
  EXPECT_STREQ(Tcl_GetVar(interp, "log", TCL_GLOBAL_ONLY),
               "{-nonewline stderr {\ngmemAlloc error in memAlloc: probe.\n}}");
  setStdioInterp(previous);
  Tcl_DeleteInterp(interp);
}

TEST(CombEval, NoWordsIsAnError) {
  EXPECT_EQ(combEval(nullptr, nullptr, testInterp(), nullptr, (char *)nullptr), TCL_ERROR);
}

TEST(CombEval, UnknownCommandAddsToErrorInfo) {
  Tcl_Interp *interp = testInterp();
  Tcl_ResetResult(interp);
  EXPECT_EQ(combEval(nullptr, nullptr, interp, nullptr, "noSuchCmd", "a", (char *)nullptr),
            TCL_ERROR);
  const char *info = Tcl_GetVar(interp, "errorInfo", TCL_GLOBAL_ONLY);
  ASSERT_NE(info, nullptr);
  EXPECT_NE(strstr(info, "\nnoSuchCmd does not exists!"), nullptr) << info;
  EXPECT_NE(strstr(info, "\nError from combEval: noSuchCmd\n"), nullptr) << info;
}

TEST(CombEval, CallsStringAndObjectCommands) {
  Tcl_Interp *interp = testInterp();
  EXPECT_EQ(combEval(nullptr, nullptr, interp, nullptr, "set", "combVar", "7", (char *)nullptr),
            TCL_OK);
  EXPECT_STREQ(Tcl_GetVar(interp, "combVar", TCL_GLOBAL_ONLY), "7");
}

TEST(CombEval, AbortPointThrowsBackToTheCaller) {
  Tcl_Interp *interp = testInterp();
  CombEvalAbort abort;
  bool thrown = false;
  try {
    combEval(&abort, nullptr, interp, nullptr, "error", "boom", (char *)nullptr);
  } catch (const CombEvalAbort &caught) {
    thrown = true;
    EXPECT_EQ(caught.code, TCL_ERROR);
  }
  EXPECT_TRUE(thrown);
}

TEST(Getenv, NullWithoutStdioInterpreter) {
  setenv("VESK_UNIT_PROBE", "process", 1);
  Tcl_Interp *previous = setStdioInterp(nullptr);
  EXPECT_EQ(vesk_getenv("VESK_UNIT_PROBE"), nullptr);
  setStdioInterp(testInterp());
  Tcl_SetVar2(testInterp(), "env", "VESK_UNIT_PROBE", "tcl", TCL_GLOBAL_ONLY);
  ASSERT_NE(vesk_getenv("VESK_UNIT_PROBE"), nullptr);
  EXPECT_STREQ(vesk_getenv("VESK_UNIT_PROBE"), "tcl");
  setStdioInterp(previous);
}

class FileData : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/vesk-unit-XXXXXX";
    fd = mkstemp(name);
    path = name;
    ASSERT_GE(fd, 0);
  }
  void TearDown() override {
    close(fd);
    unlink(path.c_str());
  }
  int fd = -1;
  std::string path;
};

TEST_F(FileData, ReadsInPiecesAndStopsAtAShortPiece) {
  std::vector<unsigned char> data(70000);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<unsigned char>(i * 7);
  ASSERT_EQ(putFileData(fd, data.data(), 70000, 0, 0), 70000);
  std::vector<unsigned char> back(70000);
  EXPECT_EQ(getFileData(fd, back.data(), 70000, 0, 0), 70000);
  EXPECT_EQ(back, data);
  // Asking for more than the file holds: only complete pieces count.
  std::vector<unsigned char> more(80000);
  EXPECT_EQ(getFileData(fd, more.data(), 80000, 0, 0), 65536);
  EXPECT_EQ(getFileData(fd, more.data(), 80000, 0, 1), -1);
  // A positioned read.
  unsigned char byte = 0;
  EXPECT_EQ(getFileData(fd, &byte, 1, 69999, 0), 1);
  EXPECT_EQ(byte, data[69999]);
}

TEST(Paths, AbsoluteUnchangedRelativeJoined) {
  std::string out;
  EXPECT_STREQ(makeAbsolutePath("/a/b/c.img", out), "/a/b/c.img");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(makeAbsolutePath("c.img", out)), std::string(cwd) + "/c.img");
  EXPECT_STREQ(getPathTail("/a/b/c.img", out), "c.img");
  EXPECT_EQ(accessFile("/"), 0);
  EXPECT_EQ(accessFile("/no/such/path"), -1);
}

TEST(Paths, DiskFreeOfMissingPathUsesItsFolder) {
  EXPECT_GT(getPathDiskFree("/tmp/no-such-file.img"), 0);
  EXPECT_GT(getDiskFree(-1), 0);
  // Other writers on the file system move the figure a little between calls.
  double here = getDiskFree(-1);
  EXPECT_NEAR(getPathDiskFree("c:foo"), here, here * 0.01);
}

TEST(WaitWithEvents, ServicesEventsUntilTheTimeIsUp) {
  struct Seen {
    int timer = 0, idle = 0;
  } seen;
  Tcl_CreateTimerHandler(1, [](ClientData data) { static_cast<Seen *>(data)->timer++; }, &seen);
  Tcl_DoWhenIdle([](ClientData data) { static_cast<Seen *>(data)->idle++; }, &seen);
  Tcl_Time before, after;
  Tcl_GetTime(&before);
  waitWithEvents(nullptr, TCL_ALL_EVENTS, 20);
  Tcl_GetTime(&after);
  EXPECT_EQ(seen.timer, 1);
  EXPECT_EQ(seen.idle, 1);
  const long waited = (after.sec - before.sec) * 1000 + (after.usec - before.usec) / 1000;
  EXPECT_GE(waited, 19);  // never returns before its time
}
