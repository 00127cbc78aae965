// The object framework, driven through a small test class whose command
// "testobj.create" follows the creation protocol of the object classes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "core/console.h"
#include "core/core.h"
#include "tests/unit/harness.h"
#include "vesk/hash.h"
#include "vesk/object.h"

namespace {

// The payload of the test class: a number of items, read from the "file"
// name (a number); the name "bad" cannot be read.
struct TestPayload {
  int items;
  int selectedOnly;
};

int payloadsMade = 0;
int payloadsFreed = 0;

void *testCreatePayload(const char *fileName, int *) {
  if (strcmp(fileName, "bad") == 0) return nullptr;
  payloadsMade++;
  return new TestPayload{atoi(fileName), 0};
}
void testFreePayload(void *payload) {
  payloadsFreed++;
  delete static_cast<TestPayload *>(payload);
}
void *testClonePayload(void *payload, int selectedOnly) {
  payloadsMade++;
  return new TestPayload{static_cast<TestPayload *>(payload)->items, selectedOnly};
}
int testCount(RAMOBJ *object) { return static_cast<TestPayload *>(object->payload)->items; }
int testModified(RAMOBJ *object) {
  return static_cast<TestPayload *>(object->payload)->selectedOnly;
}
int testSave(RAMOBJ *, const char *fileName, int) { return strcmp(fileName, "nowhere") != 0; }

int testObjCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  int code = objDefCommand(static_cast<RAMOBJ *>(clientData), interp, argc, argv);
  if (code != OBJ_NOT_HANDLED) return code;
  Tcl_SetResult(interp, const_cast<char *>("not shared"), TCL_STATIC);
  return TCL_ERROR;
}

// testobj.create name ?option value ...?
int testCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) return TCL_ERROR;
  RAMOBJ *object = static_cast<RAMOBJ *>(gmemAlloc(sizeof(RAMOBJ)));
  memset(object, 0, sizeof *object);
  object->magic = RAMOBJ_MAGIC;
  object->classId = OBJ_STATS;
  object->version = RAMOBJ_VERSION;
  object->ops.count = testCount;
  object->ops.clonePayload = testClonePayload;
  object->ops.save = testSave;
  object->ops.acquire = objAcquire;
  object->ops.release = objRelease;
  object->ops.close = objClose;
  object->ops.createPayload = testCreatePayload;
  object->ops.freePayload = testFreePayload;
  object->ops.command = testObjCmd;
  object->ops.modified = testModified;
  Tcl_CreateCommand(interp, argv[1], testObjCmd, object, objDelete);
  if (objConfig(object, interp, argc - 2, argv + 2, 0, nullptr) != TCL_OK) {
    std::string message = Tcl_GetStringResult(interp);
    Tcl_DeleteCommand(interp, argv[1]);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
  }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(argv[1], -1));
  return TCL_OK;
}

class Objects : public ::testing::Test {
 protected:
  void SetUp() override {
    interp = testInterp();
    if (!Tk_MainWindow(interp)) GTEST_SKIP() << "no display";
    Tcl_CreateCommand(interp, "testobj.create", testCreateCmd, nullptr, nullptr);
    payloadsMade = payloadsFreed = 0;
  }
  void TearDown() override {
    if (!Tk_MainWindow(interp)) return;
    Tcl_Eval(interp, "foreach c {a b c} {catch {$c close}}");
    EXPECT_EQ(payloadsMade, payloadsFreed) << "every payload freed once";
  }
  int eval(const char *script) { return Tcl_Eval(interp, script); }
  std::string result() { return Tcl_GetStringResult(interp); }
  RAMOBJ *record(const char *name) {
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, name, &info)) return nullptr;
    return static_cast<RAMOBJ *>(info.clientData);
  }
  bool exists(const char *name) {
    Tcl_CmdInfo info;
    return Tcl_GetCommandInfo(interp, name, &info) != 0;
  }
  Tcl_Interp *interp = nullptr;
};

struct Call {
  const char *script;
  int code;
  const char *result;
};

void expectCalls(Tcl_Interp *interp, std::initializer_list<Call> calls) {
  for (const Call &call : calls) {
    SCOPED_TRACE(call.script);
    EXPECT_EQ(Tcl_Eval(interp, call.script), call.code);
    EXPECT_EQ(std::string(Tcl_GetStringResult(interp)), call.result);
  }
}

TEST_F(Objects, FileOptionKeepsThePayloadInStep) {
  expectCalls(interp, {
      {"testobj.create a -file 3", TCL_OK, "a"},
      {"a count", TCL_OK, "3"},
      {"a class", TCL_OK, "STATS"},
      {"a version", TCL_OK, "256"},
      {"a cget -update", TCL_OK, "1"},
      {"a configure -file 5", TCL_OK, ""},
      {"a count", TCL_OK, "5"},
      {"a configure -file {}", TCL_OK, ""},
      {"a count", TCL_ERROR, "Undefined object"},
      {"a modified", TCL_ERROR, "Undefined object"},
      {"a close", TCL_OK, "0"},
  });
  EXPECT_FALSE(exists("a"));
  EXPECT_EQ(payloadsMade, 2);
}

TEST_F(Objects, SameFileGivenAgainReloads) {
  ASSERT_EQ(eval("testobj.create a -file 4"), TCL_OK);
  ASSERT_EQ(eval("a configure -file 4"), TCL_OK);
  EXPECT_EQ(payloadsMade, 2);
  EXPECT_EQ(payloadsFreed, 1);
  EXPECT_NE(record("a")->payload, nullptr);
  ASSERT_EQ(eval("a configure -update 0"), TCL_OK);  // -file not given: no reload
  EXPECT_EQ(payloadsMade, 2);
}

TEST_F(Objects, FailedLoadKeepsTheOldPayloadAndEmptiesFile) {
  expectCalls(interp, {
      {"testobj.create a -file 7", TCL_OK, "a"},
      {"a configure -file bad", TCL_ERROR, "Error in creating object: bad"},
      {"a count", TCL_OK, "7"},
      {"a cget -file", TCL_OK, ""},
      // Another option leaves the data alone; only an empty -file drops it.
      {"a configure -update 0", TCL_OK, ""},
      {"a count", TCL_OK, "7"},
      {"a configure -fi {}", TCL_OK, ""},
      {"a count", TCL_ERROR, "Undefined object"},
  });
}

TEST_F(Objects, FailedCreationDeletesTheCommand) {
  expectCalls(interp, {
      {"testobj.create a -file bad", TCL_ERROR, "Error in creating object: bad"},
      {"testobj.create b -bogus 1", TCL_ERROR, "unknown option \"-bogus\""},
  });
  EXPECT_FALSE(exists("a"));
  EXPECT_FALSE(exists("b"));
}

TEST_F(Objects, SharedWordsAndTheirUsage) {
  ASSERT_EQ(eval("testobj.create a -file 2"), TCL_OK);
  expectCalls(interp, {
      {"a con", TCL_ERROR, "not shared"},  // fewer than 4 characters
      {"a coxx", TCL_ERROR, "not shared"},
      {"a sav x", TCL_ERROR, "not shared"},  // save and modified are exact
      {"a modify", TCL_ERROR, "not shared"},
      {"a bogus", TCL_ERROR, "not shared"},
      {"a conf -update", TCL_OK, "-update {} {} 1 1"},
      {"a conf", TCL_OK, "{-file {} {} {} 2} {-update {} {} 1 1}"},
      {"a cget", TCL_ERROR, "Usage: a cget option"},
      {"a cget -file", TCL_OK, "2"},
      {"a clas x", TCL_ERROR, "Usage: a class"},
      {"a clon", TCL_ERROR, "Usage: a clone newObjName [selected]"},
      {"a clone b all", TCL_ERROR, "Usage: a clone newObjName [selected]"},
      {"a close now", TCL_ERROR, "Usage: a close"},
      {"a save", TCL_ERROR, "Usage: a save filename [selected]"},
      {"a save f some", TCL_ERROR, "Usage: a save filename [selected]"},
      {"a save nowhere", TCL_ERROR, "Error in save object"},
      {"a save f selected", TCL_OK, ""},
      {"a modified", TCL_OK, "0"},
      {"a vers", TCL_OK, "256"},
      {"a configure -update x", TCL_ERROR, "expected integer but got \"x\""},
  });
}

TEST_F(Objects, CloneCopiesThePayloadButNotTheFile) {
  expectCalls(interp, {
      {"testobj.create a -file 6", TCL_OK, "a"},
      {"a clone b", TCL_OK, "b"},
      {"a clone c selected", TCL_OK, "c"},
      {"b count", TCL_OK, "6"},
      {"b modified", TCL_OK, "0"},
      {"c modified", TCL_OK, "1"},
      {"b cget -file", TCL_OK, ""},
      {"b class", TCL_OK, "STATS"},
      {"b configure -update 0", TCL_OK, ""},  // a clone keeps its copy
      {"b count", TCL_OK, "6"},
      {"a close", TCL_OK, "0"},
      {"b count", TCL_OK, "6"},
  });
}

TEST_F(Objects, OpenObjectChecksTheCommand) {
  ASSERT_EQ(eval("testobj.create a -file 1"), TCL_OK);
  RAMOBJ *a = record("a");
  RAMOBJ *opened = nullptr;

  EXPECT_EQ(openObject(interp, OBJ_STATS, "nosuch", &opened), 1);
  EXPECT_EQ(result(), "Fail to open the object: nosuch");
  EXPECT_EQ(openObject(interp, OBJ_STATS, "set", &opened), 1);  // an object command of Tcl
  EXPECT_EQ(result(), "Invalid object: set");
  static int notAnObject[16] = {0};
  Tcl_CreateCommand(interp, "plain", testObjCmd, notAnObject, nullptr);
  EXPECT_EQ(openObject(interp, OBJ_STATS, "plain", &opened), 1);
  EXPECT_EQ(result(), "Invalid object: plain");
  Tcl_DeleteCommand(interp, "plain");

  EXPECT_EQ(openObject(interp, OBJ_SHAPE, "a", &opened), 1);
  EXPECT_EQ(result(), "Not the type of RAMOBJ");
  EXPECT_EQ(a->users, 0) << "the user taken is given back";

  a->version = 0xff;
  EXPECT_EQ(openObject(interp, OBJ_STATS, "a", &opened), 1);
  EXPECT_EQ(result(), "RAMOBJ version 0x100 or higher is required");
  EXPECT_EQ(a->users, 0);
  a->version = RAMOBJ_VERSION;

  EXPECT_EQ(opened, nullptr);
  ASSERT_EQ(openObject(interp, OBJ_STATS, "a", &opened), 0);
  EXPECT_EQ(opened, a);
  EXPECT_EQ(a->users, 1);
  closeObject(opened);
  EXPECT_EQ(a->users, 0);
  EXPECT_TRUE(exists("a"));
}

std::string watchLog;
void watchA(RAMOBJ *, ClientData clientData) { watchLog += static_cast<const char *>(clientData); }

TEST_F(Objects, WatchersRunOnUpdateAndOutliveClose) {
  ASSERT_EQ(eval("testobj.create a -file 3"), TCL_OK);
  RAMOBJ *a = record("a");
  watchLog.clear();
  EXPECT_EQ(objAcquire(a, watchA, const_cast<char *>("1")), 1);
  EXPECT_EQ(objAcquire(a, watchA, const_cast<char *>("2")), 1);
  EXPECT_EQ(a->users, 2);
  objUpdate(a);
  EXPECT_EQ(watchLog, "21") << "most recently added first";
  ASSERT_EQ(eval("a configure -file 4"), TCL_OK);
  EXPECT_EQ(watchLog, "2121");

  EXPECT_EQ(objRelease(a, watchA, const_cast<char *>("2")), 0);
  EXPECT_EQ(a->users, 1);
  // Closing the command of a watched object keeps the record for its watcher.
  expectCalls(interp, {{"a close", TCL_OK, "0"}});
  EXPECT_FALSE(exists("a"));
  EXPECT_EQ(a->users, 0);
  objUpdate(a);
  EXPECT_EQ(watchLog, "21211");
  EXPECT_EQ(payloadsFreed, 1);  // only the payload replaced by "-file 4"
  EXPECT_EQ(objRelease(a, watchA, const_cast<char *>("1")), 1) << "the last release frees";
  EXPECT_EQ(payloadsFreed, 2);
}

TEST_F(Objects, TwoUsersCloseDeletesTheCommandAndFreesOnce) {
  ASSERT_EQ(eval("testobj.create a -file 3"), TCL_OK);
  RAMOBJ *first = nullptr, *second = nullptr;
  ASSERT_EQ(openObject(interp, OBJ_STATS, "a", &first), 0);
  ASSERT_EQ(openObject(interp, OBJ_STATS, "a", &second), 0);
  expectCalls(interp, {{"a close", TCL_OK, "1"}});
  EXPECT_FALSE(exists("a"));
  EXPECT_EQ(first->users, 1);
  EXPECT_EQ(objRelease(first, nullptr, nullptr), 0);
  EXPECT_EQ(payloadsFreed, 0) << "still held by the second user";
  EXPECT_EQ(objRelease(second, nullptr, nullptr), 1);
  EXPECT_EQ(payloadsFreed, 1);
}

TEST_F(Objects, UpdatePumpsEventsOnlyForWatchedObjects) {
  ASSERT_EQ(eval("testobj.create a -file 3"), TCL_OK);
  RAMOBJ *a = record("a");
  ASSERT_EQ(eval("set ::pumped 0; after idle {set ::pumped 1}"), TCL_OK);
  objUpdate(a);
  EXPECT_STREQ(Tcl_GetVar(interp, "pumped", TCL_GLOBAL_ONLY), "0");
  objAcquire(a, watchA, const_cast<char *>(""));
  objUpdate(a);
  EXPECT_STREQ(Tcl_GetVar(interp, "pumped", TCL_GLOBAL_ONLY), "1");
  objRelease(a, watchA, const_cast<char *>(""));
}

TEST_F(Objects, AcquireRefusesWhatIsNotAnObject) {
  RAMOBJ fake;
  memset(&fake, 0, sizeof fake);
  EXPECT_EQ(objAcquire(&fake, watchA, nullptr), 0);
  EXPECT_EQ(fake.users, 0);
  EXPECT_EQ(fake.watchers, nullptr);
}

TEST_F(Objects, ClosingAWatchedObjectWithoutUsersPanics) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        RAMOBJ *object = static_cast<RAMOBJ *>(gmemAlloc(sizeof(RAMOBJ)));
        memset(object, 0, sizeof *object);
        object->magic = RAMOBJ_MAGIC;
        objAcquire(object, watchA, nullptr);
        object->users = 0;
        objClose(object);
      },
      "Try to delete a RAMOBJ in using.");
}

// The registry lives as long as "vesk.object"; deleting the command with
// entries left says so on the error stream.
TEST(ObjectRegistry, LivesWithItsCommand) {
  Tcl_Interp *interp = Tcl_CreateInterp();
  Tcl_Interp *saved = vesk::setStdioInterp(interp);
  int savedTk = vesk::getTkConsoleActive();
  vesk::setTkConsoleActive(0);
  ASSERT_EQ(Tcl_Eval(interp, "set ::log {}; proc puts args {lappend ::log $args}"), TCL_OK);
  EXPECT_EQ(vesk::getObjectRegistry(interp), nullptr);
  ASSERT_EQ(vesk::initObjectRegistry(interp), TCL_OK);
  EXPECT_EQ(Tcl_Eval(interp, "vesk.object anything at all"), TCL_OK);
  ASSERT_NE(vesk::getObjectRegistry(interp), nullptr);
  Tcl_DeleteCommand(interp, "vesk.object");
  EXPECT_EQ(vesk::getObjectRegistry(interp), nullptr);

  ASSERT_EQ(vesk::initObjectRegistry(interp), TCL_OK);
  putToIntHashTable(vesk::getObjectRegistry(interp), reinterpret_cast<void *>(7), nullptr);
  Tcl_DeleteCommand(interp, "vesk.object");
  EXPECT_STREQ(Tcl_GetVar(interp, "log", TCL_GLOBAL_ONLY),
               "{-nonewline stderr {Permature to delete the object hash table}}");
  vesk::setStdioInterp(saved);
  vesk::setTkConsoleActive(savedTk);
  Tcl_DeleteInterp(interp);
}

TEST(ObjectNames, ClassIds) {
  const struct {
    int id;
    const char *name;
  } cases[] = {{0, "UNKNOWN"}, {1, "SHAPE"}, {5, "TABLE"}, {8, "TERRA"},
               {9, "Invalid obj id"}, {-1, "Invalid obj id"}};
  for (auto &c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_STREQ(getObjStr(c.id), c.name);
  }
}

}  // namespace
