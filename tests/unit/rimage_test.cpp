// The rimage module frame: a module called through the frame prints its
// usage or its errors on the console's streams and the command answers
// by the module's return value.
#include <gtest/gtest.h>
#include <string>

#include "core/core.h"
#include "core/options.h"
#include "processing/rimage.h"
#include "tests/unit/harness.h"
#include "vesk/stdio.h"

using namespace vesk;

namespace {

// Collects what the library prints, per stream, while alive.
class RimageStreams {
 public:
  RimageStreams() : interp_(Tcl_CreateInterp()) {
    Tcl_Eval(interp_,
             "rename puts {}\n"
             "proc puts args {append ::[lindex $args end-1] [lindex $args end]}");
    previous_ = setStdioInterp(interp_);
  }
  ~RimageStreams() {
    setStdioInterp(previous_);
    Tcl_DeleteInterp(interp_);
  }
  std::string text(const char *stream) {
    const char *out = Tcl_GetVar(interp_, stream, TCL_GLOBAL_ONLY);
    return out ? out : "";
  }

 private:
  Tcl_Interp *interp_;
  Tcl_Interp *previous_;
};

// A module of the usual shape: one option, usage without arguments.
std::string lastProg;
int testModule(const char *prog, int argc, const char **argv) {
  lastProg = prog;
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN\n", prog);
    vesk_printf("where IN    input image\n");
    return 2;
  }
  ModuleOption options[] = {{"-in", nullptr}, {nullptr, nullptr}};
  int unmatched = matchOptions(options, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  RowMeter meter(prog);
  for (int row = 1; row <= 4; row++) meter.row(row, 4);
  meter.finish();
  return 1;
}

int callModule(std::initializer_list<const char *> words) {
  std::vector<const char *> argv(words);
  return callRimageModule(testInterp(), testModule, "tmod", static_cast<int>(argv.size()),
                          argv.data());
}

TEST(RimageModule, NoArgumentsPrintsUsageAndAnswersOk) {
  RimageStreams streams;
  Tcl_SetResult(testInterp(), const_cast<char *>("stale"), TCL_STATIC);
  EXPECT_EQ(callModule({"rimage", "tm"}), TCL_OK);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "");
  EXPECT_EQ(lastProg, "rimage tmod");
  EXPECT_EQ(streams.text("stdout"), "Usage: rimage tmod -in IN\nwhere IN    input image\n");
  EXPECT_EQ(streams.text("stderr"), "");
}

TEST(RimageModule, FailureIsAnExecErrorWithTheWordsAsTyped) {
  RimageStreams streams;
  EXPECT_EQ(callModule({"rimage", "tm", "-bogus", "1", "-in"}), TCL_ERROR);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "Exec error from rimage tm");
  EXPECT_EQ(streams.text("stderr"), "Error: 2 unknown param(s).\n");
  EXPECT_EQ(streams.text("stdout"), "");
}

TEST(RimageModule, SuccessAnswersOkWithAnEmptyResult) {
  RimageStreams streams;
  EXPECT_EQ(callModule({"rimage", "tmod", "-in", "x"}), TCL_OK);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "");
}

}  // namespace
