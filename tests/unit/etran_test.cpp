// The expression evaluator: symbols, compiling quads into instructions,
// running them, and compiling statements; messages are read from a
// stdio interpreter whose output procedure records them.
#include <gtest/gtest.h>
#include <string>

#include "core/core.h"
#include "processing/etran.h"

using namespace vesk;

namespace {

class EtranTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedInterp_ = getStdioInterp();
    interp_ = Tcl_CreateInterp();
    setStdioInterp(interp_);
    Tcl_Eval(interp_, "set ::err {}; set ::out {}; proc puts {args} {"
                      "if {[lindex $args 1] eq {stderr}} {append ::err [lindex $args 2]} "
                      "else {append ::out [lindex $args 2]}}");
  }
  void TearDown() override {
    setStdioInterp(savedInterp_);
    Tcl_DeleteInterp(interp_);
  }
  std::string var(const char *name) {
    const char *value = Tcl_GetVar(interp_, name, TCL_GLOBAL_ONLY);
    return value ? value : "";
  }
  double value(const EtranMachine &m, const char *name) {
    for (const EtranSymbol &s : m.symbols)
      if (s.name == name) return s.value;
    ADD_FAILURE() << "no symbol " << name;
    return 0;
  }
  std::string inputNames(const EtranMachine &m) {
    std::string names;
    for (int i : m.inputs) names += m.symbols[static_cast<size_t>(i)].name + " ";
    return names;
  }
  Tcl_Interp *interp_ = nullptr;

 private:
  Tcl_Interp *savedInterp_ = nullptr;
};

EtranQuads quadsOf(const char *text) {
  etranTempName(0);
  return treeToQuads(parseStatement(text));
}

TEST_F(EtranTest, InputsAreNamesNotTemporariesOrNumbers) {
  EtranMachine m;
  EXPECT_EQ(compileQuads(&m, quadsOf("a = b * 2 + c")), 3);
  EXPECT_EQ(inputNames(m), "b c a ");
  EXPECT_EQ(value(m, "2"), 2.0);
  EXPECT_EQ(m.symbols.size(), 5u);
  // A number behind a sign is a constant too; a name is 0 until set.
  EXPECT_EQ(addEtranSymbol(&m, "-1.5"), 5);
  EXPECT_EQ(value(m, "-1.5"), -1.5);
  EXPECT_EQ(addEtranSymbol(&m, "inf"), 6);
  EXPECT_EQ(value(m, "inf"), 0.0);
  EXPECT_EQ(addEtranSymbol(&m, "b"), 1);
}

TEST_F(EtranTest, RunsTheInstructions) {
  struct Case {
    const char *text;
    double y;
    const char *result;
    double expected;
  } cases[] = {
      {"x = y ^ 2", 3, "x", 9},
      {"x = -y * 4 - 1", 3, "x", -13},
      {"x = (y + 1) / 2 - -3", 5, "x", 6},
      {"x = y - 1 - 1", 5, "x", 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EtranMachine m;
    ASSERT_GT(compileQuads(&m, quadsOf(c.text)), 0);
    m.symbols[static_cast<size_t>(addEtranSymbol(&m, "y"))].value = c.y;
    runEtranMachine(&m);
    EXPECT_DOUBLE_EQ(value(m, c.result), c.expected);
  }
}

TEST_F(EtranTest, AnOperatorWithoutProcedureFailsAndLeavesTheMachine) {
  EtranMachine m;
  ASSERT_EQ(compileQuads(&m, quadsOf("a = b")), 1);
  EXPECT_EQ(compileQuads(&m, quadsOf("c = d max e")), -1);
  EXPECT_EQ(var("err"), "fail to solve opr: max\n");
  EXPECT_EQ(m.instrs.size(), 1u);
  EXPECT_EQ(m.symbols.size(), 3u);
  EXPECT_EQ(inputNames(m), "a b ");
}

TEST_F(EtranTest, TheSymbolTableHoldsTwoHundredFiftySix) {
  EtranMachine m;
  for (int i = 0; i < kEtranMaxSymbols; i++)
    ASSERT_EQ(addEtranSymbol(&m, ("v" + std::to_string(i)).c_str()), i);
  EXPECT_EQ(addEtranSymbol(&m, "v0"), 0);
  EXPECT_EQ(addEtranSymbol(&m, "one_more"), -1);
  EXPECT_EQ(var("err"), "Items overlow.\n");
  // A compile that needs a new symbol fails whole: nothing of it may run.
  EXPECT_EQ(compileQuads(&m, quadsOf("v1 = v2 + w")), -1);
  EXPECT_TRUE(m.instrs.empty());
  EXPECT_EQ(m.symbols.size(), static_cast<size_t>(kEtranMaxSymbols));
}

TEST_F(EtranTest, CompileStatements) {
  EtranMachine m;
  EXPECT_EQ(compileStatements(&m, "a = b + 1; c = a * 2"), 2);
  EXPECT_EQ(inputNames(m), "b a c ");
  EXPECT_EQ(var("out"), "\n\n       ~t0          b          +          1\n"
                        "       ~t0          a          =        ~t0\n"
                        "\n\n       ~t0          a          *          2\n"
                        "       ~t0          c          =        ~t0\n");
  m.symbols[static_cast<size_t>(addEtranSymbol(&m, "b"))].value = 4;
  runEtranMachine(&m);
  EXPECT_EQ(value(m, "c"), 10.0);

  // Not an assignment: reported, compiled all the same, assigns nothing.
  Tcl_Eval(interp_, "set ::err {}");
  EXPECT_EQ(compileStatements(&m, "b + c"), kEtranNoLeftVar);
  EXPECT_EQ(var("err"), "incomplete expression\n");
  EXPECT_EQ(m.instrs.size(), 5u);

  EXPECT_EQ(compileStatements(&m, "a = "), -2);
  // A later statement that does not parse fails the whole text.
  EXPECT_EQ(compileStatements(&m, "a = 1; b = ("), -1);
  // A trailing separator ends the text.
  EXPECT_EQ(compileStatements(&m, "q = 1;  \n"), 3);
}

TEST_F(EtranTest, ALoneLeafCannotCompile) {
  EtranMachine m;
  EXPECT_EQ(compileStatements(&m, "a"), -1);
  EXPECT_EQ(var("err"), "incomplete expression\nfail to solve opr: a\nfail to create instrunction\n");
  EXPECT_TRUE(m.instrs.empty());
}

}  // namespace
