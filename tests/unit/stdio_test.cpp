// Standard streams: console output and input through the stdio interpreter,
// file streams, and the "console" channels that take over the standard
// channels.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <string>

#include "core/console.h"
#include "core/core.h"
#include "tests/unit/harness.h"
#include "vesk/stdio.h"

using namespace vesk;

namespace {

// A fresh stdio interpreter whose console procedures record what they get:
// ::log collects the words of every bell, console and shell output call.
class StdioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedInterp_ = getStdioInterp();
    savedTk_ = getTkConsoleActive();
    interp_ = Tcl_CreateInterp();
    setStdioInterp(interp_);
    setTkConsoleActive(0);
    discardConsoleInput();
    eval("set ::log {}; proc bell {} {lappend ::log bell}");
  }
  void TearDown() override {
    discardConsoleInput();
    setStdioInterp(savedInterp_);
    setTkConsoleActive(savedTk_);
    Tcl_DeleteInterp(interp_);
  }
  std::string eval(const std::string &script) {
    int code = Tcl_Eval(interp_, script.c_str());
    EXPECT_EQ(code, TCL_OK) << script << ": " << Tcl_GetStringResult(interp_);
    return Tcl_GetStringResult(interp_);
  }
  // The Tk console route: output and input procedures of a console window.
  void useTkConsole(const char *inputLine) {
    setTkConsoleActive(1);
    eval("proc tkConsoleOutput {args} {lappend ::log $args}");
    eval(std::string("set ::inputCalls 0; proc tkConsoleInput {args} {incr ::inputCalls; "
                     "lappend ::log [list input {*}$args]; set ::consoleCmdLine ") +
         inputLine + "}");
  }
  Tcl_Interp *interp_ = nullptr;

 private:
  Tcl_Interp *savedInterp_ = nullptr;
  int savedTk_ = 0;
};

std::string tempPath(const char *name) {
  return std::string(P_tmpdir) + "/vesk_stdio_" + std::to_string(getpid()) + "_" + name;
}

}  // namespace

TEST_F(StdioTest, BellRingsOnceAndTheRestIsOneElement) {
  useTkConsole("{}");
  EXPECT_EQ(consolePuts(VESK_STDOUT, "a\ab", 3), 3);
  EXPECT_EQ(eval("set ::log"), "bell {stdout ab}");
}

TEST_F(StdioTest, StderrGoesToTheTkConsoleAsOneBracedElement) {
  useTkConsole("{}");
  const char *text = "a} b {c [set ::ran 1] $x\n";
  EXPECT_EQ(vesk_fprintf(stderr, "%s", text), static_cast<int>(strlen(text)));
  EXPECT_EQ(eval("llength $::log"), "1");
  EXPECT_EQ(eval("lindex $::log 0 0"), "stderr");
  EXPECT_EQ(eval("lindex $::log 0 1"), text);
  EXPECT_EQ(eval("info exists ::ran"), "0");
}

TEST_F(StdioTest, ShellRouteUsesPutsNonewline) {
  eval("proc puts {args} {lappend ::log $args}");
  struct Case {
    FILE *file;
    const char *expected;
  } cases[] = {{stdout, "{-nonewline stdout {x 5}}"}, {stderr, "{-nonewline stderr {x 5}}"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.expected);
    eval("set ::log {}");
    EXPECT_EQ(vesk_fprintf(c.file, "x %d", 5), 3);
    EXPECT_EQ(eval("set ::log"), c.expected);
  }
  eval("set ::log {}");
  EXPECT_EQ(vesk_puts("line"), 4);
  EXPECT_EQ(vesk_putchar('z'), 'z');
  EXPECT_EQ(eval("set ::log"), "{-nonewline stdout line} {-nonewline stdout {\n}} "
                               "{-nonewline stdout z}");
}

TEST_F(StdioTest, LongTextIsNotCut) {
  eval("proc puts {args} {lappend ::log [string length [lindex $args end]]}");
  std::string text(10000, 'x');
  EXPECT_EQ(vesk_printf("%s|%s", text.c_str(), text.c_str()), 20001);
  EXPECT_EQ(eval("set ::log"), "20001");
}

TEST_F(StdioTest, OutputLeavesTheInterpreterResultAlone) {
  eval("proc puts {args} {return junk}");
  Tcl_SetResult(interp_, const_cast<char *>("keep"), TCL_STATIC);
  vesk_printf("text");
  EXPECT_STREQ(Tcl_GetStringResult(interp_), "keep");
}

TEST_F(StdioTest, TkEightSixConsoleNamesAreAliased) {
  setTkConsoleActive(1);
  eval("namespace eval ::tk {}; proc ::tk::ConsoleOutput {dest s} {lappend ::log $dest $s}");
  vesk_printf("hi");
  EXPECT_EQ(eval("set ::log"), "stdout hi");
}

TEST_F(StdioTest, NoInterpreterDropsOutputAndReadsEndOfInput) {
  setStdioInterp(nullptr);
  EXPECT_EQ(vesk_printf("hello"), 5);
  EXPECT_EQ(consolePuts(VESK_STDERR, "abc", 3), 3);
  EXPECT_EQ(vesk_fputs("abc", stderr), 3);
  int length = 99;
  EXPECT_EQ(conGets(&length), nullptr);
  EXPECT_EQ(length, 0);
  char buffer[16] = "unchanged";
  EXPECT_EQ(vesk_gets(buffer), nullptr);
  EXPECT_EQ(vesk_fgets(buffer, sizeof buffer, stdin), nullptr);
  EXPECT_EQ(vesk_getch(), 0);
  EXPECT_EQ(consoleGetchar(), 0);
  EXPECT_EQ(vesk_fgetc(stdin), -1);
  int value = 0;
  EXPECT_EQ(vesk_scanf("%d", &value), 0);
  setStdioInterp(interp_);
  EXPECT_EQ(eval("set ::log"), "");
}

TEST_F(StdioTest, OutputIsDroppedWhileAnInterpreterIsBeingDeleted) {
  useTkConsole("{}");
  EXPECT_EQ(getInterpDeletionCount(), 0);
  changeInterpDeletionCount(1);
  EXPECT_EQ(vesk_printf("lost"), 4);
  changeInterpDeletionCount(-5);
  EXPECT_EQ(getInterpDeletionCount(), 0);
  vesk_printf("seen");
  EXPECT_EQ(eval("set ::log"), "{stdout seen}");
}

TEST_F(StdioTest, FileStreams) {
  std::string path = tempPath("lines");
  FILE *out = fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(vesk_fprintf(out, "%s\n", "abcdefghij"), 11);
  EXPECT_EQ(vesk_fputs("xy\n", out), 3);
  EXPECT_EQ(vesk_fputc(0xFF, out), 0xFF);
  fclose(out);

  FILE *in = fopen(path.c_str(), "rb");
  ASSERT_NE(in, nullptr);
  char buffer[8];
  const char *pieces[] = {"abc", "def", "ghi", "j\n", "xy\n"};
  for (const char *piece : pieces) {
    SCOPED_TRACE(piece);
    ASSERT_EQ(vesk_fgets(buffer, 4, in), buffer);
    EXPECT_STREQ(buffer, piece);
  }
  EXPECT_EQ(vesk_fgetc(in), 255);
  EXPECT_EQ(vesk_getc(in), -1);
  EXPECT_EQ(vesk_fgets(buffer, 4, in), nullptr);
  fclose(in);

  in = fopen(path.c_str(), "rb");
  int number = 0;
  char word[8] = "";
  EXPECT_EQ(vesk_fscanf(in, "%3s", word), 1);
  EXPECT_STREQ(word, "abc");
  EXPECT_EQ(vesk_fscanf(in, "%d", &number), 0);
  fclose(in);
  unlink(path.c_str());
  EXPECT_EQ(eval("set ::log"), "");
}

TEST_F(StdioTest, ConsoleLineLongerThanTheBufferKeepsItsRest) {
  useTkConsole("abcdefghij\\n");
  char buffer[4];
  const char *pieces[] = {"abc", "def", "ghi", "j\n", "abc"};
  for (const char *piece : pieces) {
    SCOPED_TRACE(piece);
    ASSERT_EQ(vesk_fgets(buffer, sizeof buffer, stdin), buffer);
    EXPECT_STREQ(buffer, piece);
  }
  EXPECT_EQ(eval("set ::inputCalls"), "2");
  // What is left of the second line comes first, whole, to the next reader.
  int length;
  char *line = conGets(&length);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(std::string(line, static_cast<size_t>(length)), "defghij\n");
  EXPECT_EQ(eval("set ::inputCalls"), "2");
}

TEST_F(StdioTest, GetsStripsOneNewline) {
  useTkConsole("two\\n\\n");
  char buffer[16];
  EXPECT_EQ(vesk_gets(buffer), buffer);
  EXPECT_STREQ(buffer, "two\n");
  char *line = vesk_gets(nullptr);
  ASSERT_NE(line, nullptr);
  EXPECT_STREQ(line, "two\n");
  eval("set ::log {}");
  EXPECT_EQ(vesk_getch(), 't');
  EXPECT_EQ(eval("set ::log"), "input");
}

TEST_F(StdioTest, ConsoleCharactersAndScans) {
  useTkConsole("{12 ab}");
  // A character read asks for one character; the rest of the value stays.
  EXPECT_EQ(consoleGetchar(), '1');
  EXPECT_EQ(vesk_fgetc(stdin), '2');
  EXPECT_EQ(vesk_getc(stdin), ' ');
  EXPECT_EQ(eval("set ::log"), "{input 1}");
  int number = 0;
  char word[8] = "";
  EXPECT_EQ(vesk_scanf("%s", word), 1);
  EXPECT_STREQ(word, "ab");
  EXPECT_EQ(vesk_fscanf(stdin, "%d %2s", &number, word), 2);
  EXPECT_EQ(number, 12);
  eval("proc tkConsoleInput {args} {set ::consoleCmdLine {}}");
  EXPECT_EQ(vesk_fgetc(stdin), -1);
  EXPECT_EQ(vesk_scanf("%d", &number), 0);
}

TEST_F(StdioTest, FailingConsoleInputReadsAsEndOfInput) {
  setTkConsoleActive(1);
  eval("set ::consoleCmdLine stale");
  EXPECT_EQ(vesk_gets(nullptr), nullptr);
  EXPECT_EQ(consoleGetchar(), 0);
}

TEST_F(StdioTest, CursorAndClear) {
  eval("proc tkConsoleXY {x y} {lappend ::log [list xy $x $y]}; "
       "proc clear {} {lappend ::log clear}");
  gotoConsoleXY(3, 4);
  clearConsole();
  EXPECT_EQ(eval("set ::log"), "{xy 3 4} clear");
}

TEST_F(StdioTest, PipedLineArrivesThroughGets) {
  // A child tclsh writes two lines into the pipe that is the shell's stdin.
  std::string channel = eval("open |[list tclsh8.6 << {puts {piped line}; puts {}; "
                             "puts -nonewline last}] r");
  Tcl_Channel pipe = Tcl_GetChannel(interp_, channel.c_str(), nullptr);
  ASSERT_NE(pipe, nullptr);
  Tcl_Channel previous = Tcl_GetStdChannel(TCL_STDIN);
  Tcl_SetStdChannel(pipe, TCL_STDIN);
  char buffer[32];
  const char *lines[] = {"piped line", "", "last"};
  for (const char *expected : lines) {
    SCOPED_TRACE(expected);
    ASSERT_EQ(vesk_gets(buffer), buffer);
    EXPECT_STREQ(buffer, expected);
  }
  EXPECT_EQ(vesk_gets(buffer), nullptr);
  Tcl_SetStdChannel(previous, TCL_STDIN);
  eval("close " + channel);
}

TEST_F(StdioTest, PutsToFileAndRestoringTheStandardChannels) {
  useTkConsole("{}");
  EXPECT_EQ(consolePutsToFile(stderr, "e", 1), 1);
  EXPECT_EQ(consolePutsToFile(stdout, "o", 1), 1);
  EXPECT_EQ(consolePutsToFile(stdin, "i", 1), 1);
  EXPECT_EQ(eval("set ::log"), "{stderr e} {stdout o} {stdout i}");

  Tcl_Channel previous[] = {Tcl_GetStdChannel(TCL_STDIN), Tcl_GetStdChannel(TCL_STDOUT),
                            Tcl_GetStdChannel(TCL_STDERR)};
  hookStdChannels(interp_);
  EXPECT_STREQ(Tcl_GetChannelName(Tcl_GetStdChannel(TCL_STDERR)), "console2");
  restoreConsoleChannelProcs();
  EXPECT_EQ(Tcl_GetStdChannel(TCL_STDIN), previous[0]);
  EXPECT_EQ(Tcl_GetStdChannel(TCL_STDOUT), previous[1]);
  EXPECT_EQ(Tcl_GetStdChannel(TCL_STDERR), previous[2]);
  // Unlike the exit handler, the console keeps its interpreter.
  EXPECT_EQ(getStdioInterp(), interp_);
}

// The console channels become the standard channels of every interpreter
// made after them and send their text to the console; at exit the previous
// channels come back.
TEST_F(StdioTest, ConsoleChannelsTakeOverTheStandardChannels) {
  useTkConsole("{typed line\n}");
  Tcl_Channel previous[] = {Tcl_GetStdChannel(TCL_STDIN), Tcl_GetStdChannel(TCL_STDOUT),
                            Tcl_GetStdChannel(TCL_STDERR)};
  EXPECT_EQ(createConsoleChannels(interp_), 1);
  EXPECT_EQ(eval("set ::log"), "{stdout {create channels...\n}} {stdout {create console0...\n}} "
                               "{stdout {create console1...\n}} {stdout {create console2...\n}}");
  const char *names[] = {"console0", "console1", "console2"};
  int types[] = {TCL_STDIN, TCL_STDOUT, TCL_STDERR};
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(names[i]);
    Tcl_Channel channel = Tcl_GetStdChannel(types[i]);
    ASSERT_NE(channel, nullptr);
    EXPECT_STREQ(Tcl_GetChannelName(channel), names[i]);
    EXPECT_STREQ(Tcl_GetChannelType(channel)->typeName, "console");
  }
  EXPECT_EQ(eval("fconfigure console1 -buffering"), "none");
  EXPECT_EQ(eval("fconfigure console0 -translation"), "lf");

  Tcl_Interp *later = Tcl_CreateInterp();
  eval("set ::log {}");
  EXPECT_EQ(Tcl_Eval(later, "puts {out text}; puts stderr err; gets stdin"), TCL_OK)
      << Tcl_GetStringResult(later);
  EXPECT_STREQ(Tcl_GetStringResult(later), "typed line");
  Tcl_DeleteInterp(later);
  // Unbuffered: Tcl hands the newline over as a write of its own.
  EXPECT_EQ(eval("set ::log"),
            "{stdout {out text}} {stdout {\n}} {stderr err} {stderr {\n}} input");

  consoleExitHandler(nullptr);
  EXPECT_EQ(getStdioInterp(), nullptr);
  EXPECT_EQ(Tcl_GetStdChannel(TCL_STDIN), previous[0]);
  EXPECT_EQ(Tcl_GetStdChannel(TCL_STDOUT), previous[1]);
  EXPECT_EQ(Tcl_GetStdChannel(TCL_STDERR), previous[2]);

  // The old console channels are still known by name in the interpreter:
  // new ones take their names there, and they stay open until let go.
  setStdioInterp(interp_);
  eval("set ::log {}");
  EXPECT_EQ(createConsoleChannels(interp_), 1);
  EXPECT_EQ(eval("set ::log"), "{stdout {create channels...\n}} {stdout {modify console0...\n}}");
  EXPECT_NE(Tcl_GetStdChannel(TCL_STDOUT), previous[1]);
  eval("set ::log {}");
  EXPECT_EQ(Tcl_Eval(interp_, "puts -nonewline console1 again"), TCL_OK);
  EXPECT_EQ(eval("set ::log"), "{stdout again}");
  consoleExitHandler(nullptr);
  EXPECT_EQ(Tcl_GetStdChannel(TCL_STDOUT), previous[1]);
}

// An ordinary shell as stdio interpreter whose own standard channels are the
// console channels: its output and input use the channels those replaced (a
// file and a pipe from a child tclsh here) instead of coming back to the
// console.  Output that a Tk console's own script writes to stdout goes
// there too, instead of looping.
TEST_F(StdioTest, ShellWhoseChannelsAreTheConsoleUsesTheReplacedOnes) {
  std::string path = tempPath("nested");
  Tcl_SetVar(interp_, "path", path.c_str(), TCL_GLOBAL_ONLY);
  std::string fileName = eval("open $::path w");
  std::string pipeName = eval("open |[list tclsh8.6 << {puts first; puts second}] r");
  Tcl_Channel file = Tcl_GetChannel(interp_, fileName.c_str(), nullptr);
  Tcl_Channel pipe = Tcl_GetChannel(interp_, pipeName.c_str(), nullptr);
  ASSERT_NE(file, nullptr);
  ASSERT_NE(pipe, nullptr);
  Tcl_Channel previousOut = Tcl_GetStdChannel(TCL_STDOUT);
  Tcl_Channel previousIn = Tcl_GetStdChannel(TCL_STDIN);
  // A standard channel holds a reference of its own, as Tcl's do.
  Tcl_SetStdChannel(file, TCL_STDOUT);
  Tcl_RegisterChannel(nullptr, file);
  Tcl_SetStdChannel(pipe, TCL_STDIN);
  Tcl_RegisterChannel(nullptr, pipe);

  hookStdChannels(interp_);
  EXPECT_STREQ(Tcl_GetChannelName(Tcl_GetStdChannel(TCL_STDOUT)), "console1");
  EXPECT_STREQ(Tcl_GetChannelName(Tcl_GetStdChannel(TCL_STDIN)), "console0");
  EXPECT_EQ(vesk_printf("nested %d\n", 1), 9);
  EXPECT_STREQ(vesk_gets(nullptr), "first");
  Tcl_Interp *later = Tcl_CreateInterp();
  EXPECT_EQ(Tcl_Eval(later, "puts -nonewline [gets stdin]"), TCL_OK)
      << Tcl_GetStringResult(later);
  useTkConsole("{}");
  eval("proc tkConsoleOutput {dest text} {puts -nonewline stdout <$text>}");
  EXPECT_EQ(Tcl_Eval(later, "puts -nonewline tk"), TCL_OK) << Tcl_GetStringResult(later);
  Tcl_DeleteInterp(later);

  consoleExitHandler(nullptr);
  ASSERT_EQ(Tcl_GetStdChannel(TCL_STDOUT), file);
  ASSERT_EQ(Tcl_GetStdChannel(TCL_STDIN), pipe);
  Tcl_SetStdChannel(previousOut, TCL_STDOUT);
  Tcl_SetStdChannel(previousIn, TCL_STDIN);
  Tcl_UnregisterChannel(nullptr, file);
  Tcl_UnregisterChannel(nullptr, pipe);
  setStdioInterp(interp_);
  eval("close " + fileName + "; close " + pipeName);
  // The console script's write re-enters console1 while it is writing, and
  // Tcl may hand the outer bytes over once more: only the ends are certain.
  std::string text = eval("set f [open $::path]; set text [read $f]; close $f; set text");
  EXPECT_EQ(text.substr(0, 15), "nested 1\nsecond");
  EXPECT_EQ(text.substr(text.size() - 4), "<tk>");
  unlink(path.c_str());
}
