// Libraries loaded on first use: the loader's errors, and the trampolines'
// own loading keeping the caller's arguments.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <proj.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/lazylib.h"
#include "tests/unit/harness.h"

namespace {

std::string loadResult(VeskLazyLibrary *library, int *code) {
  Tcl_Interp *interp = testInterp();
  Tcl_ResetResult(interp);
  *code = vesk::loadLazyLibrary(interp, library);
  return Tcl_GetStringResult(interp);
}

VeskLazyLibrary *libraryOf(const char *family) {
  for (VeskLazyLibrary *const *p = vesk_lazy_libraries; *p; p++)
    if (strcmp((*p)->family, family) == 0) return *p;
  return nullptr;
}

}  // namespace

TEST(LazyLibrary, MissingFileOrSymbolIsAnErrorAndChangesNothing) {
  void *slots[2] = {nullptr, nullptr};
  struct Case {
    VeskLazyLibrary library;
    const char *message;
  } cases[] = {
      {{"sane", "libvesk-absent.so.9", "", nullptr, 0, nullptr},
       "cannot load libvesk-absent.so.9: cannot open shared object file: No such file or directory"},
      {{"proj", "libm.so.6", "cos\0vesk_no_such_function\0", slots, 2, nullptr},
       "cannot load libm.so.6: undefined symbol: vesk_no_such_function"},
  };
  for (Case &c : cases) {
    SCOPED_TRACE(c.library.soname);
    int code = 0;
    EXPECT_EQ(loadResult(&c.library, &code), c.message);
    EXPECT_EQ(code, TCL_ERROR);
    EXPECT_EQ(c.library.handle, nullptr);
  }
  EXPECT_EQ(slots[0], nullptr);  // cos was found, but no slot is filled unless all are
}

TEST(LazyLibrary, LoadFillsEverySlotOnce) {
  void *slots[2] = {nullptr, nullptr};
  VeskLazyLibrary library = {"proj", "libm.so.6", "cos\0sqrt\0", slots, 2, nullptr};
  int code = 0;
  EXPECT_EQ(loadResult(&library, &code), "");
  EXPECT_EQ(code, TCL_OK);
  ASSERT_NE(library.handle, nullptr);
  typedef double (*MathFn)(double);
  EXPECT_EQ(reinterpret_cast<MathFn>(slots[0])(0.0), 1.0);
  EXPECT_EQ(reinterpret_cast<MathFn>(slots[1])(9.0), 3.0);
  void *handle = library.handle;
  EXPECT_EQ(vesk::loadLazyLibrary(testInterp(), &library), TCL_OK);
  EXPECT_EQ(library.handle, handle);
}

// A function called before its library is loaded goes through the loader
// and must still see its arguments: integer registers (cupsGetOption) and
// SSE registers with a hidden return pointer (proj_coord).
[[noreturn]] static void callThroughTrampolines(VeskLazyLibrary *cups, VeskLazyLibrary *proj) {
  if (cups->handle || proj->handle) exit(2);
  cups_option_t options[2] = {{const_cast<char *>("a"), const_cast<char *>("1")},
                              {const_cast<char *>("b"), const_cast<char *>("2")}};
  const char *value = cupsGetOption("b", 2, options);
  PJ_COORD c = proj_coord(1.5, 2.5, 3.5, 4.5);
  bool ok = value && strcmp(value, "2") == 0 && c.v[0] == 1.5 && c.v[1] == 2.5 && c.v[2] == 3.5 &&
            c.v[3] == 4.5 && cups->handle && proj->handle;
  exit(ok ? 0 : 1);
}

// In a fresh process, where neither library has been loaded yet.
TEST(LazyLibrary, FirstCallThroughTrampolineKeepsArguments) {
  VeskLazyLibrary *cups = libraryOf("cups"), *proj = libraryOf("proj");
  if (!cups || !proj || cups->count == 0 || proj->count == 0)
    GTEST_SKIP() << "the libraries are linked normally in this build";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(callThroughTrampolines(cups, proj), ::testing::ExitedWithCode(0), "");
}
