/*
 * stdio.cpp --
 *     The library's standard streams.  Text written to stdout or stderr is
 *     handed to the stdio interpreter: a Tk console ("tkConsoleOutput") or
 *     an ordinary shell ("puts -nonewline"); lines read from stdin come
 *     from the console ("tkConsoleInput") or from the shell's "gets stdin".
 *     Other FILEs are read and written as files.
 */
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <string>

#include "core/console.h"
#include "core/core.h"
#include "vesk/stdio.h"

namespace {

int unblockFlag = 0;
int interpDeletionCount = 0;
/* Console writes and reads being evaluated right now (they may nest). */
int writeDepth = 0;
int readDepth = 0;

/*
 * The console line: the text conGets returned last (valid until the next
 * read), and the part of a line that a short read left for the next one,
 * with the interpreter it came from.
 */
struct ConsoleLine {
  std::string text;
  std::string rest;
  Tcl_Interp *restFrom = nullptr;
};
ConsoleLine consoleLine;

/*
 * Reads a line in an ordinary shell.  The newline that "gets" removed is
 * put back, so an empty line is told apart from the end of input.
 */
constexpr const char *kShellReadLine =
    "::apply {{} {if {[gets stdin line] < 0} {return {}}; return $line\\n}}";

/* Formats into a growing string; false when the format fails. */
bool formatText(std::string &out, const char *format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return false;
  if (static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
    return true;
  }
  out.resize(static_cast<size_t>(n) + 1);
  vsnprintf(&out[0], out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  return true;
}

int streamOfFile(FILE *file) {
  if (file == stdout) return VESK_STDOUT;
  if (file == stderr) return VESK_STDERR;
  return 0;
}

/* The console's standard input: descriptor 0, or a FILE with none. */
bool isConsoleInput(FILE *file) {
  return fileno(file) <= 0;
}

bool usableInterp(Tcl_Interp *interp) {
  return interp && !Tcl_InterpDeleted(interp);
}

/*
 * Tk 8.6 names its console procedures ::tk::ConsoleOutput and so on: where
 * the console interpreter lacks the old name, it becomes an alias.
 */
void aliasTkConsoleProc(Tcl_Interp *interp, const char *name, const char *tkName) {
  Tcl_CmdInfo info;
  if (Tcl_GetCommandInfo(interp, name, &info)) return;
  if (!Tcl_GetCommandInfo(interp, tkName, &info)) return;
  Tcl_CreateAlias(interp, name, interp, tkName, 0, nullptr);
}

/*
 * readConsoleText --
 *     Reads console input in the stdio interpreter: in a Tk console the
 *     given "tkConsoleInput" script and then the variable consoleCmdLine,
 *     otherwise one line of "gets stdin".  The interpreter's result is
 *     left as it was.
 * Results:      the length appended to text; 0 when there is no input.
 */
size_t readConsoleText(Tcl_Interp *interp, const char *tkScript, std::string &text) {
  if (!usableInterp(interp)) return 0;
  Tcl_Preserve(interp);
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  size_t before = text.size();
  readDepth++;
  if (vesk::getTkConsoleActive()) {
    aliasTkConsoleProc(interp, "tkConsoleInput", "::tk::ConsoleInput");
    if (Tcl_EvalEx(interp, tkScript, -1, TCL_EVAL_GLOBAL) == TCL_OK) {
      if (const char *value = Tcl_GetVar2(interp, "consoleCmdLine", nullptr, TCL_GLOBAL_ONLY))
        text += value;
    }
  } else if (Tcl_Channel previous; vesk::stdChannelIsConsole(VESK_STDIN, &previous)) {
    /* The shell's stdin is the console itself: read what it replaced. */
    if (previous) {
      Tcl_Obj *line = Tcl_NewObj();
      Tcl_IncrRefCount(line);
      if (Tcl_GetsObj(previous, line) >= 0) {
        int length;
        const char *value = Tcl_GetStringFromObj(line, &length);
        text.append(value, static_cast<size_t>(length));
        text += '\n';
      }
      Tcl_DecrRefCount(line);
    }
  } else if (Tcl_EvalEx(interp, kShellReadLine, -1, TCL_EVAL_GLOBAL) == TCL_OK) {
    int length;
    const char *value = Tcl_GetStringFromObj(Tcl_GetObjResult(interp), &length);
    text.append(value, static_cast<size_t>(length));
  }
  readDepth--;
  if (Tcl_InterpDeleted(interp)) Tcl_DiscardInterpState(state);
  else Tcl_RestoreInterpState(interp, state);
  Tcl_Release(interp);
  return text.size() - before;
}

/* Tcl's own "puts" procedure, taken once from a fresh interpreter. */
Tcl_ObjCmdProc *ownPutsProc() {
  static Tcl_ObjCmdProc *proc = nullptr;
  static bool looked = false;
  if (!looked) {
    looked = true;
    if (Tcl_Interp *fresh = Tcl_CreateInterp()) {
      Tcl_CmdInfo info;
      if (Tcl_GetCommandInfo(fresh, "::puts", &info) && info.isNativeObjectProc)
        proc = info.objProc;
      Tcl_DeleteInterp(fresh);
    }
  }
  return proc;
}

/*
 * directChannel --
 *     The channel "puts -nonewline stdout" (or stderr) would write to, when
 *     the interpreter's puts is Tcl's own command and the standard
 *     channel (which "stdout" names) is registered in it: writing there is
 *     what puts would do (same encoding, buffering and order).  Null when
 *     a script's puts must see the text.
 */
Tcl_Channel directChannel(Tcl_Interp *interp, int stream) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(interp, "::puts", &info) || !info.isNativeObjectProc ||
      !info.objProc || info.objProc != ownPutsProc())
    return nullptr;
  Tcl_Channel channel = Tcl_GetStdChannel(stream == VESK_STDERR ? TCL_STDERR : TCL_STDOUT);
  if (!channel || !Tcl_IsChannelRegistered(interp, channel) ||
      !(Tcl_GetChannelMode(channel) & TCL_WRITABLE))
    return nullptr;
  return channel;
}

/* Text for stdout gathered by an output batch, with the channel it goes to. */
struct OutputBatch {
  int depth = 0;
  std::string pending;
};
OutputBatch outputBatch;
constexpr size_t kBatchBytes = 1 << 16;

void writeBatch() {
  if (outputBatch.pending.empty()) return;
  Tcl_Interp *interp = vesk::getStdioInterp();
  Tcl_Channel channel = usableInterp(interp) ? directChannel(interp, VESK_STDOUT) : nullptr;
  if (channel)
    Tcl_WriteChars(channel, outputBatch.pending.data(),
                   static_cast<int>(outputBatch.pending.size()));
  outputBatch.pending.clear();
}

/* Appends a stdout piece to the batch when it may be gathered: no bell, no
   console, puts Tcl's own, no event processing between pieces. */
bool gatherOutput(Tcl_Interp *interp, int stream, const char *text, int length) {
  if (outputBatch.depth == 0) return false;
  if (stream != VESK_STDOUT || unblockFlag || vesk::getTkConsoleActive() ||
      memchr(text, 7, static_cast<size_t>(length))) {
    writeBatch();
    return false;
  }
  Tcl_Channel previous;
  if (vesk::stdChannelIsConsole(stream, &previous) || !directChannel(interp, stream)) {
    writeBatch();
    return false;
  }
  for (const char *p = text, *end = text + length; p < end;) {
    const char *nul = static_cast<const char *>(memchr(p, 0, static_cast<size_t>(end - p)));
    outputBatch.pending.append(p, static_cast<size_t>((nul ? nul : end) - p));
    if (!nul) break;
    outputBatch.pending.append("\xC0\x80", 2);
    p = nul + 1;
  }
  if (outputBatch.pending.size() >= kBatchBytes) writeBatch();
  return true;
}

/* Evaluates a console script in the stdio interpreter, result ignored. */
void evalConsoleScript(const char *script) {
  Tcl_Interp *interp = vesk::getStdioInterp();
  if (!usableInterp(interp)) return;
  errno = 0;
  Tcl_Preserve(interp);
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  Tcl_EvalEx(interp, script, -1, TCL_EVAL_GLOBAL);
  if (Tcl_InterpDeleted(interp)) Tcl_DiscardInterpState(state);
  else Tcl_RestoreInterpState(interp, state);
  Tcl_Release(interp);
}

}  // namespace

namespace vesk {

void setUnblockFlag(int flag) { unblockFlag = flag; }
int getUnblockFlag() { return unblockFlag; }

int getInterpDeletionCount() { return interpDeletionCount; }
void changeInterpDeletionCount(int delta) {
  interpDeletionCount += delta;
  if (interpDeletionCount < 0) interpDeletionCount = 0;
}

void beginOutputBatch() { outputBatch.depth++; }

void endOutputBatch() {
  if (outputBatch.depth > 0 && --outputBatch.depth == 0) writeBatch();
}

bool consoleWriteActive() { return writeDepth > 0; }
bool consoleReadActive() { return readDepth > 0; }

void putsErrorOnce(const char *text, size_t length) {
  if (!text || length == 0) return;
  Tcl_Interp *interp = getStdioInterp();
  const bool reachesFd2 =
      usableInterp(interp) && interpDeletionCount == 0 && !getTkConsoleActive();
  consolePuts(VESK_STDERR, text, static_cast<int>(length));
  if (!reachesFd2 && write(2, text, length) < 0) {
    /* Nothing left to report to. */
  }
}

/*
 * readConsoleLine --
 *     One console line cut to size-1 bytes and NUL-terminated; what does
 *     not fit stays for the next read.
 * Results:      the bytes stored, or -1 when there is no line or no room.
 */
int readConsoleLine(char *buffer, int size) {
  if (!buffer || size < 1) return -1;
  int length;
  char *line = conGets(&length);
  if (!line) return -1;
  int take = length < size - 1 ? length : size - 1;
  if (take < length) {
    consoleLine.rest.assign(line + take, static_cast<size_t>(length - take));
    consoleLine.restFrom = getStdioInterp();
  }
  memcpy(buffer, line, static_cast<size_t>(take));
  buffer[take] = 0;
  return take;
}

void discardConsoleInput() {
  consoleLine.rest.clear();
  consoleLine.restFrom = nullptr;
}

int consolePutsToFile(FILE *file, const char *text, int length) {
  return consolePuts(file == stderr ? VESK_STDERR : VESK_STDOUT, text, length);
}

void gotoConsoleXY(int x, int y) {
  evalConsoleScript(fmt("tkConsoleXY %d %d", x, y));
}

void clearConsole() {
  evalConsoleScript("clear");
}

}  // namespace vesk

/* ---- console primitives ---- */

/*
 * consolePuts --
 *     Writes text to the console of the stdio interpreter.  BEL bytes ring
 *     the bell instead of being shown; the rest goes as one list element,
 *     so no text can run as a script.  An ordinary shell whose own stdout
 *     is the console writes to the channel the console replaced.  The
 *     interpreter's result survives.
 * Results:      the length, also when there is nobody to show it to.
 */
int consolePuts(int stream, const char *text, int length) {
  Tcl_Interp *interp = vesk::getStdioInterp();
  if (!usableInterp(interp) || interpDeletionCount > 0 || !text || length <= 0) return length;
  if (gatherOutput(interp, stream, text, length)) return length;
  Tcl_Preserve(interp);
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  errno = 0;
  std::string shown;
  shown.reserve(static_cast<size_t>(length));
  for (int i = 0; i < length; i++) {
    if (text[i] == 7) Tcl_EvalEx(interp, "bell", -1, TCL_EVAL_GLOBAL);
    else shown += text[i];
  }
  const bool tkConsole = vesk::getTkConsoleActive();
  Tcl_Channel previous;
  if (!tkConsole && vesk::stdChannelIsConsole(stream, &previous)) {
    /* The shell's own stdout is the console: write to what it replaced. */
    if (previous) {
      Tcl_Write(previous, shown.data(), static_cast<int>(shown.size()));
      Tcl_Flush(previous);
    }
  } else {
    if (tkConsole) aliasTkConsoleProc(interp, "tkConsoleOutput", "::tk::ConsoleOutput");
    const char *prefix = stream == VESK_STDERR
        ? (tkConsole ? "tkConsoleOutput stderr" : "puts -nonewline stderr")
        : (tkConsole ? "tkConsoleOutput stdout" : "puts -nonewline stdout");
    /* A NUL byte goes in Tcl's own form, so the element keeps it. */
    Tcl_DString element;
    Tcl_DStringInit(&element);
    size_t start = 0;
    for (size_t i = 0; i < shown.size(); i++) {
      if (shown[i] != 0) continue;
      Tcl_DStringAppend(&element, shown.data() + start, static_cast<int>(i - start));
      Tcl_DStringAppend(&element, "\xC0\x80", 2);
      start = i + 1;
    }
    Tcl_DStringAppend(&element, shown.data() + start, static_cast<int>(shown.size() - start));
    if (Tcl_Channel direct = tkConsole ? nullptr : directChannel(interp, stream)) {
      Tcl_WriteChars(direct, Tcl_DStringValue(&element), Tcl_DStringLength(&element));
    } else {
      Tcl_DString command;
      Tcl_DStringInit(&command);
      Tcl_DStringAppend(&command, prefix, -1);
      Tcl_DStringAppendElement(&command, Tcl_DStringValue(&element));
      writeDepth++;
      Tcl_EvalEx(interp, Tcl_DStringValue(&command), Tcl_DStringLength(&command),
                 TCL_EVAL_GLOBAL);
      writeDepth--;
      Tcl_DStringFree(&command);
    }
    Tcl_DStringFree(&element);
  }
  if (unblockFlag) tclUpdate(interp, 0xffff);
  if (Tcl_InterpDeleted(interp)) Tcl_DiscardInterpState(state);
  else Tcl_RestoreInterpState(interp, state);
  Tcl_Release(interp);
  return length;
}

/*
 * conGets --
 *     Reads one console line into the static line buffer: first what a
 *     short read left over, else a new line from the stdio interpreter.
 * Results:      the line (valid until the next read) and its length, or
 *               NULL with a length of 0 when there is no input.
 */
char *conGets(int *length) {
  ConsoleLine &line = consoleLine;
  Tcl_Interp *interp = vesk::getStdioInterp();
  line.text.clear();
  if (!line.rest.empty() && line.restFrom == interp && usableInterp(interp)) {
    line.text.swap(line.rest);
  } else {
    readConsoleText(interp, "tkConsoleInput", line.text);
  }
  line.rest.clear();
  if (line.text.size() > INT_MAX) line.text.resize(INT_MAX);
  int n = static_cast<int>(line.text.size());
  if (length) *length = n;
  return n > 0 ? &line.text[0] : nullptr;
}

/*
 * consoleGetchar --
 *     One character of console input ("tkConsoleInput 1" in a Tk console,
 *     else the next character of a "gets stdin" line); the rest of the
 *     line is kept for the next read.
 * Results:      the character as 1..255, 0 when there is no input.
 */
int consoleGetchar(void) {
  ConsoleLine &line = consoleLine;
  Tcl_Interp *interp = vesk::getStdioInterp();
  if (!usableInterp(interp)) return 0;
  std::string value;
  if (!line.rest.empty() && line.restFrom == interp) value.swap(line.rest);
  else readConsoleText(interp, "tkConsoleInput 1", value);
  line.rest.clear();
  if (value.empty()) return 0;
  if (value.size() > 1) {
    line.rest.assign(value, 1, std::string::npos);
    line.restFrom = interp;
  }
  return static_cast<unsigned char>(value[0]);
}

/* ---- output ---- */

int vesk_vfprintf(FILE *file, const char *format, va_list args) {
  if (!file || !format) return -1;
  std::string text;
  if (!formatText(text, format, args)) return -1;
  int stream = streamOfFile(file);
  if (text.size() > INT_MAX) return -1;
  if (!stream) return fwrite(text.data(), 1, text.size(), file) == text.size()
      ? static_cast<int>(text.size()) : -1;
  return consolePuts(stream, text.data(), static_cast<int>(text.size()));
}

int vesk_fprintf(FILE *file, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vesk_vfprintf(file, format, args);
  va_end(args);
  return n;
}

int vesk_printf(const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vesk_vfprintf(stdout, format, args);
  va_end(args);
  return n;
}

int vesk_fputs(const char *text, FILE *file) {
  if (!text || !file) return -1;
  size_t size = strlen(text);
  if (size > INT_MAX) return -1;
  int length = static_cast<int>(size);
  int stream = streamOfFile(file);
  if (!stream) return fwrite(text, 1, size, file) == size ? length : -1;
  return consolePuts(stream, text, length) == length ? length : -1;
}

int vesk_puts(const char *text) {
  int n = vesk_fputs(text, stdout);
  consolePuts(VESK_STDOUT, "\n", 1);
  return n;
}

int vesk_fputc(int c, FILE *file) {
  return vesk_fprintf(file, "%c", c) == 1 ? c : -1;
}

int vesk_putc(int c, FILE *file) { return vesk_fputc(c, file); }

int vesk_putchar(int c) { return vesk_fputc(c, stdout); }

/* ---- input ---- */

int vesk_scanf(const char *format, ...) {
  int length;
  char *line = conGets(&length);
  if (!line) return length;
  va_list args;
  va_start(args, format);
  int n = vsscanf(line, format, args);
  va_end(args);
  return n;
}

int vesk_fscanf(FILE *file, const char *format, ...) {
  if (!file) return -1;
  va_list args;
  va_start(args, format);
  int n;
  if (!isConsoleInput(file)) {
    n = vfscanf(file, format, args);
  } else {
    int length;
    char *line = conGets(&length);
    n = line ? vsscanf(line, format, args) : length;
  }
  va_end(args);
  return n;
}

/*
 * vesk_gets --
 *     One console line without its trailing newline, copied into the
 *     caller's buffer (which must hold it), or the static line itself
 *     when the buffer is NULL.
 * Results:      the text, NULL when there is no input.
 */
char *vesk_gets(char *buffer) {
  int length;
  char *line = conGets(&length);
  if (!line) return nullptr;
  if (line[length - 1] == '\n') {
    consoleLine.text.resize(static_cast<size_t>(length) - 1);
    line = &consoleLine.text[0];
    length--;
  }
  if (!buffer) return line;
  memcpy(buffer, line, static_cast<size_t>(length) + 1);
  return buffer;
}

int vesk_getch(void) {
  int length;
  char *line = conGets(&length);
  return line ? static_cast<unsigned char>(line[0]) : 0;
}

int vesk_fgetc(FILE *file) {
  if (!file) return -1;
  if (isConsoleInput(file)) {
    int c = consoleGetchar();
    return c == 0 ? -1 : c;
  }
  int c = getc(file);
  return c == EOF ? -1 : c;
}

int vesk_getc(FILE *file) { return vesk_fgetc(file); }

/*
 * vesk_fgets --
 *     At most size-1 bytes up to and including a newline, NUL-terminated.
 *     From the console, a line longer than that keeps its rest for the
 *     next read.
 * Results:      the buffer, or NULL when nothing was read.
 */
char *vesk_fgets(char *buffer, int size, FILE *file) {
  if (!buffer || size < 1 || !file) return nullptr;
  if (!isConsoleInput(file)) return fgets(buffer, size, file);
  return vesk::readConsoleLine(buffer, size) < 0 ? nullptr : buffer;
}
