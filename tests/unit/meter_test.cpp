// Progress meter and run status: the meter scripts evaluated in the stdio
// interpreter, the step and status settings, and the status poll.
#include <gtest/gtest.h>
#include <math.h>
#include <string>

#include "core/core.h"
#include "tests/unit/harness.h"
#include "vesk/meter.h"

using namespace vesk;

namespace {

// A stdio interpreter whose meter procedures record their words in ::log.
class MeterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedInterp_ = getStdioInterp();
    interp_ = Tcl_CreateInterp();
    setStdioInterp(interp_);
    eval("set ::log {}; "
         "proc meter.set {w f msg} {lappend ::log [list set $w $f $msg]}; "
         "proc meter.reset {w} {lappend ::log [list reset $w]}; "
         "proc vesk.pause {} {lappend ::log pause}; "
         "proc vesk.abort {} {lappend ::log abort}");
  }
  void TearDown() override {
    setMeterStep(0.05);
    setRunStatus(0);
    setStdioInterp(savedInterp_);
    Tcl_DeleteInterp(interp_);
  }
  std::string eval(const std::string &script) {
    int code = Tcl_Eval(interp_, script.c_str());
    EXPECT_EQ(code, TCL_OK) << script << ": " << Tcl_GetStringResult(interp_);
    return Tcl_GetStringResult(interp_);
  }
  Tcl_Interp *interp_ = nullptr;

 private:
  Tcl_Interp *savedInterp_ = nullptr;
};

}  // namespace

// A loop over 100 units that follows the progress convention.
TEST_F(MeterTest, HundredUnitsMoveTheMeterInWholeSteps) {
  EXPECT_FLOAT_EQ(meterInc(), 0.05f);
  EXPECT_EQ(meterReset(), TCL_OK);
  float threshold = 0;
  for (int unit = 1; unit <= 100; unit++) {
    double done = unit / 100.0;
    if (done >= threshold) {
      EXPECT_EQ(meterSet("classify", threshold), TCL_OK);
      threshold += meterInc();
    }
  }
  EXPECT_EQ(meterSet("classify", 1.0f), TCL_OK);

  EXPECT_EQ(eval("lindex $::log 0"), "reset .status.info.meter");
  EXPECT_EQ(eval("lindex $::log 1"), "set .status.info.meter 0.000000 classify");
  std::string fractions = eval("lmap call [lrange $::log 1 end] {lindex $call 2}");
  std::string expected;
  for (int k = 0; k < 20; k++) expected += fmt("%.6f ", k * 0.05);
  expected += "1.000000";
  EXPECT_EQ(fractions, expected);
}

TEST_F(MeterTest, StepZeroEvaluatesNothing) {
  setMeterStep(0);
  eval("rename meter.set {}; rename meter.reset {}");
  EXPECT_EQ(meterReset(), 0);
  EXPECT_EQ(meterSet("gstats", 0.5f), 0);
  EXPECT_EQ(meterInc(), 0.0f);
  EXPECT_EQ(eval("set ::log"), "");
}

TEST_F(MeterTest, StepIsClamped) {
  struct Case {
    double value;
    float stored;
  } cases[] = {{0.8, 0.5f}, {0.5, 0.5f}, {0.1, 0.1f}, {-1, 0.0f}, {NAN, 0.0f}, {0, 0.0f}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    setMeterStep(c.value);
    EXPECT_EQ(getMeterStep(), c.stored);
    EXPECT_EQ(meterInc(), c.stored);
  }
}

TEST_F(MeterTest, MessageIsOneWordThatNeverRuns) {
  const char *messages[] = {"a} b", "two words", "[set ::ran 1]", "{", "$x \\"};
  for (const char *message : messages) {
    SCOPED_TRACE(message);
    eval("set ::log {}");
    EXPECT_EQ(meterSet(message, 0.25f), TCL_OK);
    EXPECT_EQ(eval("llength [lindex $::log 0]"), "4");
    EXPECT_EQ(eval("lindex $::log 0 3"), message);
  }
  EXPECT_EQ(eval("info exists ::ran"), "0");
}

TEST_F(MeterTest, ScriptErrorsAndNoInterpreter) {
  eval("rename meter.set {}");
  // A missing meter procedure is no error of the job: its result stays.
  Tcl_SetObjResult(interp_, Tcl_NewStringObj("the job's result", -1));
  EXPECT_EQ(meterSet("x", 0.5f), TCL_ERROR);
  EXPECT_STREQ(Tcl_GetStringResult(interp_), "the job's result");
  setStdioInterp(nullptr);
  EXPECT_EQ(meterReset(), 0);
  EXPECT_EQ(meterSet("x", 0.5f), 0);
  setRunStatus(3);
  EXPECT_EQ(pollStatus(), 0);
  setStdioInterp(interp_);
  EXPECT_EQ(eval("set ::log"), "");
}

// The poll services events only once a status has been set; a pause or
// abort status then runs the application's procedure.
TEST_F(MeterTest, PollAnswersOnlyAfterAStatusIsSet) {
  eval("after idle {set ::serviced 1}");
  EXPECT_EQ(getRunStatus(), 0);
  EXPECT_EQ(pollStatus(), 0);
  EXPECT_EQ(eval("info exists ::serviced"), "0");

  struct Case {
    long status;
    int answer;
    const char *log;
  } cases[] = {{1, 1, ""}, {2, 2, "pause"}, {3, 3, "abort"}, {7, 3, "abort"}, {-2, 0, ""}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.status);
    eval("set ::log {}");
    setRunStatus(c.status);
    EXPECT_EQ(pollStatus(), c.answer);
    EXPECT_EQ(eval("set ::log"), c.log);
  }
  EXPECT_EQ(eval("set ::serviced"), "1");
}

TEST_F(MeterTest, PauseProcedureMayChangeTheStatus) {
  // The application's pause procedure resumes the run by changing the
  // status (later through the console manager); the poll reports the new one.
  Tcl_CreateCommand(
      interp_, "vesk.pause",
      [](ClientData, Tcl_Interp *, int, const char **) {
        setRunStatus(1);
        return TCL_OK;
      },
      nullptr, nullptr);
  setRunStatus(2);
  EXPECT_EQ(pollStatus(), 1);
}
