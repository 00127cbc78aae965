// The compound-widget framework: the state array, direct calls with a
// recovery point, option parsing, id paths, the checks and the creation
// protocol, in an interpreter of its own whose puts is captured.
#include <gtest/gtest.h>
#include <string.h>
#include <tk.h>

#include <string>
#include <vector>

#include "core/core.h"
#include "tests/unit/harness.h"
#include "widgets/comb.h"

using namespace vesk;

namespace {

class Comb : public ::testing::Test {
 protected:
  void SetUp() override {
    interp = Tcl_CreateInterp();
    Tcl_Init(interp);
    if (Tcl_Eval(interp, "package require Tk; wm withdraw .") != TCL_OK) {
      Tcl_DeleteInterp(interp);
      interp = nullptr;
      GTEST_SKIP() << "needs a display";
    }
    ASSERT_EQ(Comb_Init(interp), TCL_OK);
    previous = setStdioInterp(interp);
    Tcl_Eval(interp, "set ::log {}; rename puts _puts; proc puts {args} {append ::log [lindex $args end]}");
  }
  void TearDown() override {
    if (!interp) return;
    setStdioInterp(previous);
    Tcl_DeleteInterp(interp);
  }
  std::string var(const char *name) {
    const char *v = Tcl_GetVar(interp, name, TCL_GLOBAL_ONLY);
    return v ? v : "";
  }
  int eval(const char *script) { return Tcl_Eval(interp, script); }
  std::string result() { return Tcl_GetStringResult(interp); }

  Tcl_Interp *interp = nullptr;
  Tcl_Interp *previous = nullptr;
};

TEST_F(Comb, StateArrayKeysAreGlobalAndLiteral) {
  EXPECT_EQ(combGetVar(interp, "%s,class", ".w"), nullptr);
  EXPECT_TRUE(combSetVar(interp, "fold", "%s,class", ".w"));
  EXPECT_TRUE(combSetVar(interp, "[error x] $y", "%s,cf%s", ".w", "-opt"));
  ASSERT_EQ(eval("proc probe {} {return $::_comb(.w,cf-opt)}; probe"), TCL_OK);
  EXPECT_EQ(result(), "[error x] $y");
  // Keys of .w only: not those of .w.x or .wx, and glob characters in a path are literal.
  combSetVar(interp, "1", "%s,a", ".w.x");
  combSetVar(interp, "1", "%s,a", ".wx");
  combSetVar(interp, "1", "%s,a", ".w*");
  std::vector<std::string> keys = combKeysOf(interp, ".w");
  EXPECT_EQ(keys.size(), 2u);
  EXPECT_EQ(combKeysOf(interp, ".w*").size(), 1u);
  combUnsetVar(interp, "%s,a", ".w*");
  EXPECT_EQ(combGetVar(interp, "%s,a", ".w*"), nullptr);
}

TEST_F(Comb, EvalVarReportsMissingCommandsAndFailures) {
  EXPECT_EQ(combEvalVar(nullptr, interp, 0, nullptr), TCL_ERROR);
  EXPECT_EQ(var("log"), "");
  Tcl_ResetResult(interp);
  const char *words[] = {"xyz", "a"};
  EXPECT_EQ(combEvalVar(nullptr, interp, 2, words), TCL_ERROR);
  EXPECT_NE(var("errorInfo").find("\nxyz dose not exist!\nError from combEvalVar: xyz\n"),
            std::string::npos)
      << var("errorInfo");
  EXPECT_EQ(var("log"), "");  // no recovery point: nothing printed

  CombEvalAbort abort;
  const char *failing[] = {"error", "boom"};
  bool thrown = false;
  try {
    combEvalVar(&abort, interp, 2, failing);
  } catch (const CombEvalAbort &caught) {
    thrown = true;
    EXPECT_EQ(caught.code, TCL_ERROR);
  }
  EXPECT_TRUE(thrown);
  EXPECT_EQ(var("log"), "Abort at:\nerror boom \nfrom combEvalVar\n");
}

TEST_F(Comb, CachedProceduresUseTheirOwnClientData) {
  // Tk's object procedures with their own client data: frames are made in
  // this application, also when another interpreter registered later.
  Tcl_Interp *other = Tcl_CreateInterp();
  Tcl_Init(other);
  ASSERT_EQ(Tcl_Eval(other, "package require Tk; wm withdraw ."), TCL_OK);
  ASSERT_EQ(Comb_Init(other), TCL_OK);
  const char *words[] = {"frame", ".cached", "-width", "7"};
  EXPECT_EQ(callCachedCommand(interp, COMB_FRAME, 4, words), TCL_OK) << result();
  EXPECT_EQ(eval("winfo exists .cached"), TCL_OK);
  EXPECT_EQ(result(), "1");
  EXPECT_EQ(Tcl_Eval(other, "winfo exists .cached"), TCL_OK);
  EXPECT_STREQ(Tcl_GetStringResult(other), "0");
  Tcl_DeleteInterp(other);

  CombEvalAbort abort;
  bool thrown = false;
  try {
    combEvalCached(&abort, interp, COMB_FRAME, {"frame", ".bad", "-bogus", "1"});
  } catch (const CombEvalAbort &) {
    thrown = true;
  }
  EXPECT_TRUE(thrown);
  EXPECT_EQ(var("log"), "unknown option \"-bogus\"\nAbort at:\nframe .bad -bogus 1 \nfrom combEval\n");
}

TEST_F(Comb, ParseParamsMessages) {
  combSetVar(interp, "", "%s,cf-a", ".p");
  combSetVar(interp, "", "%s,cf-b", ".p");
  struct Case {
    std::vector<const char *> words;
    int ok;
    const char *message;
  } cases[] = {
      {{"-a", "1", "-b", "2"}, 1, nullptr},
      {{"-a", "3", "-b"}, 0, "\ncombParseParams: no value given to option -b\n"},
      {{"a", "1"}, 0, "\ncombParseParams: option syntax error: a\n"},
      {{"-c", "v w"}, 0, "\ncombParseParams: unknown option: -c v w\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.words[0]);
    Tcl_ResetResult(interp);
    EXPECT_EQ(combParseParams(interp, ".p", static_cast<int>(c.words.size()), c.words.data()),
              c.ok);
    if (c.message) {
      EXPECT_NE(var("errorInfo").find(c.message), std::string::npos) << var("errorInfo");
    }
  }
  // The pair before the missing value stayed stored.
  EXPECT_STREQ(combGetVar(interp, "%s,cf-a", ".p"), "3");
  EXPECT_STREQ(combGetVar(interp, "%s,cf-b", ".p"), "2");
}

TEST_F(Comb, IdPathsAndItemIds) {
  combSetVar(interp, ".w.x", "%s,-a", ".w");
  combSetVar(interp, ".w.x.y", "%s,-b", ".w.x");
  struct Case {
    std::vector<const char *> ids;
    bool ok;
    const char *out;
    const char *message;
  } cases[] = {
      {{}, true, ".w", nullptr},
      {{"-a"}, true, ".w.x", nullptr},
      {{"-a", "-b"}, true, ".w.x.y", nullptr},
      {{"a"}, false, nullptr, "getID - syntex error"},
      {{"-a", "-c"}, false, nullptr, "getID - invalid path"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.ids.size());
    Tcl_ResetResult(interp);
    std::string out;
    EXPECT_EQ(getID(interp, ".w", static_cast<int>(c.ids.size()), c.ids.data(), out), c.ok);
    if (c.ok) EXPECT_EQ(out, c.out);
    else EXPECT_NE(var("errorInfo").find(c.message), std::string::npos);
  }
  std::string out;
  EXPECT_TRUE(getIDList(interp, ".w", "-a -b", out));
  EXPECT_EQ(out, ".w.x.y");

  struct IdCase {
    const char *word;
    bool valid;
  } ids[] = {{"-", false}, {"--a", false}, {"a", false}, {"", false}, {"-a", true}, {"-1x", true}};
  for (const IdCase &c : ids) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(isValidItemId(c.word), c.valid);
  }
}

TEST_F(Comb, ClassesAndPathChecks) {
  Tk_Window main = Tk_MainWindow(interp);
  ASSERT_EQ(eval("button .b; frame .f; set _comb(.f,class) fold; frame .plain"), TCL_OK);
  std::string cls;
  EXPECT_TRUE(combClassOf(main, interp, ".b", cls));
  EXPECT_EQ(cls, "Button");
  EXPECT_TRUE(isTkClassName(cls.c_str()));
  EXPECT_TRUE(combClassOf(main, interp, ".f", cls));
  EXPECT_EQ(cls, "fold");
  EXPECT_FALSE(isTkClassName(cls.c_str()));
  EXPECT_FALSE(combClassOf(main, interp, ".none", cls));
  EXPECT_TRUE(isWidgetOfClass(main, interp, ".f", "fold"));
  EXPECT_FALSE(isWidgetOfClass(main, interp, ".f", "fol"));

  struct Case {
    const char *path;
    bool isNew;
    int ok;
    const char *message;
  } cases[] = {
      {"x", true, 0, "Invalid widget pathname"},
      {".b", true, 0, "Path .b already exists!"},
      {".new", true, 1, ""},
      {".new", false, 0, "None-existed widget: .new"},
      {".plain", false, 0, ".plain is not a combined widget or has currupted"},
      {".f", false, 1, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    Tcl_ResetResult(interp);
    EXPECT_EQ(checkCombPath(main, interp, c.path, c.isNew), c.ok);
    EXPECT_EQ(result(), c.message);
  }

  struct ItemCase {
    const char *parent, *cls, *id, *message;
  } items[] = {
      {".b", "fold", "-x", "t - invalid class"},
      {".f", "fold", "x", "t - invalid ID"},
      {".f", "fold", "-x", "t - id -x already exists"},
  };
  combSetVar(interp, ".f.x", "%s,-x", ".f");
  for (const ItemCase &c : items) {
    SCOPED_TRACE(c.message);
    Tcl_ResetResult(interp);
    EXPECT_EQ(checkNewItem(main, interp, c.parent, c.cls, c.id, "t"), 0);
    EXPECT_NE(var("errorInfo").find(c.message), std::string::npos);
  }
  EXPECT_EQ(checkNewItem(main, interp, ".f", "fold", "-y", "t"), 1);
}

TEST_F(Comb, DisableTreeRecordsChildrenFirst) {
  ASSERT_EQ(eval("frame .t; button .t.b -fg blue; label .t.l -fg red; frame .t.f"), TCL_OK);
  std::vector<std::string> restore;
  disableTree(Tk_MainWindow(interp), interp, restore, ".t");
  ASSERT_EQ(restore.size(), 2u);
  EXPECT_EQ(restore[0], ".t.b config -state normal -fg blue");
  EXPECT_EQ(restore[1], ".t.l config -state normal -fg red");
  ASSERT_EQ(eval(".t.b cget -state"), TCL_OK);
  EXPECT_EQ(result(), "disabled");
}

// A creator in the framework's shape whose second part fails.
int testCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  int code = combBeginCreate(clientData, interp, argc, argv,
                             {"usage: %s w\n", "tst", {"cf-text", "hi"}});
  if (code != TCL_OK) return code;
  const char *path = argv[1];
  CombEvalAbort abort;
  code = combGuard(interp, [&] {
    combEvalCached(&abort, interp, COMB_FRAME, {"frame", path});
    combBindFree(&abort, interp, path);
    std::string text = combGetVar(interp, "%s,cf-text", path);
    combEvalWords(&abort, interp, {"label", std::string(path) + ".l", "-text", text});
    combEvalWords(&abort, interp, {"label", std::string(path) + ".m", "-bogus", "1"});
    return TCL_OK;
  });
  if (code != TCL_OK) combDestroyPath(interp, path);
  return code;
}

TEST_F(Comb, FailingCreatorAbortsAndDestroysTheHalfBuiltWidget) {
  Tcl_CreateCommand(interp, "tst.create", testCreateCmd, Tk_MainWindow(interp), nullptr);
  EXPECT_EQ(eval("tst.create"), TCL_ERROR);
  EXPECT_EQ(var("log"), "usage: tst.create w\n");
  eval("set ::log {}");
  EXPECT_EQ(eval("tst.create .c -bogus 1"), TCL_ERROR);
  EXPECT_NE(var("errorInfo").find("combParseParams: unknown option: -bogus 1"), std::string::npos);
  EXPECT_EQ(combKeysOf(interp, ".c").size(), 0u);

  EXPECT_EQ(eval("tst.create .c -text {[error no] $x}"), TCL_ERROR);
  EXPECT_NE(var("log").find("Abort at:\nlabel .c.m -bogus 1 \nfrom combEval\n"), std::string::npos)
      << var("log");
  EXPECT_EQ(eval("winfo exists .c"), TCL_OK);
  EXPECT_EQ(result(), "0");
  EXPECT_EQ(combKeysOf(interp, ".c").size(), 0u);
  // Nothing pending frees a widget made at the same path afterwards.
  eval("frame .c; set _comb(.c,class) x; update idletasks");
  EXPECT_STREQ(combGetVar(interp, "%s,class", ".c"), "x");
  EXPECT_EQ(eval("tst.create .c"), TCL_ERROR);
  EXPECT_EQ(result(), "Path .c already exists!");
}

}  // namespace
