// Start-up: loads into several interpreters, and a failing family.
#include <gtest/gtest.h>
#include <tk.h>

#include <string>

#include "core/console.h"
#include "core/core.h"
#include "core/families.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

Tcl_Interp *newTkInterp() {
  Tcl_Interp *interp = Tcl_CreateInterp();
  Tcl_Init(interp);
  if (Tcl_Eval(interp, "package require Tk; wm withdraw .") != TCL_OK) {
    Tcl_DeleteInterp(interp);
    return nullptr;
  }
  return interp;
}

bool hasCommand(Tcl_Interp *interp, const char *name) {
  Tcl_CmdInfo info;
  return Tcl_GetCommandInfo(interp, name, &info) != 0;
}

}  // namespace

TEST(Package, SecondLoadRegistersCommandsOnly) {
  Tcl_Interp *first = newTkInterp();
  ASSERT_NE(first, nullptr) << "needs a display";
  ASSERT_EQ(Vesk_Init(first), TCL_OK) << Tcl_GetStringResult(first);
  EXPECT_EQ(getPackageExitInstalled(), 1);
  Display *display = getDisplay();
  EXPECT_NE(display, nullptr);
  EXPECT_EQ(getVisualDepth(), 24);
  EXPECT_EQ(getRgb24Mode(), 0);

  Tcl_Interp *second = newTkInterp();
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(Vesk_Init(second), TCL_OK) << Tcl_GetStringResult(second);
  // The once-per-process steps did not run again: the first display stays.
  EXPECT_EQ(getDisplay(), display);
  EXPECT_EQ(getPackageExitInstalled(), 1);
  for (const char *name : {"vesk", "vesk.selection", "vesk.listconcat", "winmsg"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(hasCommand(second, name));
  }
  EXPECT_EQ(getStdioInterp(), second);
  Tcl_DeleteInterp(second);
  setStdioInterp(first);
}

TEST(Package, FailingFamilyStopsTheRegistration) {
  Tcl_Interp *interp = newTkInterp();
  ASSERT_NE(interp, nullptr);
  Tcl_Interp *before = getStdioInterp();
  setFailingFamily("Calc_Init");
  int code = Vesk_Init(interp);
  setFailingFamily(nullptr);
  EXPECT_EQ(code, TCL_ERROR);
  EXPECT_STREQ(Tcl_GetStringResult(interp), "Fail to init Calc_Initerror in init app");
  for (const char *name : {"vesk.selection", "vesk.listconcat", "winmsg"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(hasCommand(interp, name));
  }
  // The stdio interpreter goes back to what it was.
  EXPECT_EQ(getStdioInterp(), before);
  Tcl_DeleteInterp(interp);
}

TEST(Package, PatchConsoleTrustsOnlyTkConsoleCommand) {
  Tcl_Interp *interp = newTkInterp();
  ASSERT_NE(interp, nullptr);
  Tcl_Interp *before = getStdioInterp();
  int tkBefore = getTkConsoleActive();
  // A script's own "console" keeps no console interpreter in its data.
  const char *impostors[] = {"proc console args {}", "interp alias {} console {} list"};
  for (const char *script : impostors) {
    SCOPED_TRACE(script);
    Tcl_Eval(interp, "catch {rename console {}}");
    ASSERT_EQ(Tcl_Eval(interp, script), TCL_OK);
    patchConsole(interp);
    EXPECT_EQ(getStdioInterp(), before);
    EXPECT_EQ(getTkConsoleActive(), tkBefore);
    EXPECT_FALSE(hasCommand(interp, "vesk.listconcat"));
  }
  Tcl_Eval(interp, "rename console {}");

  // Tk's console: its interpreter takes the console output and gets the
  // command families.
  Tcl_SetVar(interp, "gimgHome", "/no/such/folder", TCL_GLOBAL_ONLY);
  Tcl_SetVar(interp, "tcl_interactive", "0", TCL_GLOBAL_ONLY);
  ASSERT_EQ(Tk_CreateConsoleWindow(interp), TCL_OK) << Tcl_GetStringResult(interp);
  Tcl_Interp *consoleInterp = *static_cast<Tcl_Interp **>(getCommandClientData(interp, "console"));
  ASSERT_NE(consoleInterp, interp);
  Tcl_ResetResult(interp);
  patchConsole(interp);
  EXPECT_EQ(getStdioInterp(), consoleInterp);
  EXPECT_EQ(getTkConsoleActive(), 1);
  EXPECT_TRUE(hasCommand(consoleInterp, "vesk.listconcat"));
  std::string result = Tcl_GetStringResult(interp);
  EXPECT_EQ(result.substr(result.size() - 24), "Failed to patch console!") << result;

  consoleExitHandler(nullptr);
  setStdioInterp(before);
  setTkConsoleActive(tkBefore);
  Tcl_DeleteInterp(interp);
}

TEST(Package, SharedPixmapAndPaletteKind) {
  Tk_Window main = Tk_MainWindow(testInterp());
  ASSERT_NE(main, nullptr);
  Tk_MakeWindowExist(main);
  const Pixmap saved = setSharedPixmap(None);
  Pixmap pixmap = Tk_GetPixmap(Tk_Display(main), Tk_WindowId(main), 4, 4, Tk_Depth(main));
  EXPECT_EQ(setSharedPixmap(pixmap), static_cast<Pixmap>(None));
  EXPECT_EQ(getSharedPixmap(), pixmap);
  EXPECT_EQ(setSharedPixmap(pixmap), pixmap);  // the previous one comes back
  if (getDisplay()) {
    freeSharedPixmap();  // freed on the main display
  } else {
    Tk_FreePixmap(Tk_Display(main), setSharedPixmap(None));
  }
  EXPECT_EQ(getSharedPixmap(), static_cast<Pixmap>(None));
  freeSharedPixmap();  // nothing held: nothing done
  setSharedPixmap(saved);

  const int kind = getPaletteKind();
  for (int k : {1, 2, 3, 0}) {
    setPaletteKind(k);
    EXPECT_EQ(getPaletteKind(), k);
  }
  setPaletteKind(kind);
}

TEST(ConsoleSlots, ClearTheApplicationOfOneSlot) {
  ConsoleSlot *slots = getConsoleSlots();
  Tcl_Interp *saved[kConsoleSlotCount];
  for (int i = 0; i < kConsoleSlotCount; i++) {
    saved[i] = slots[i].appInterp;
    slots[i].appInterp = testInterp();
  }
  clearConsoleApp(3);
  clearConsoleApp(-1);                 // outside the slots: nothing
  clearConsoleApp(kConsoleSlotCount);
  for (int i = 0; i < kConsoleSlotCount; i++)
    EXPECT_EQ(slots[i].appInterp, i == 3 ? nullptr : testInterp()) << i;
  for (int i = 0; i < kConsoleSlotCount; i++) slots[i].appInterp = saved[i];
}
