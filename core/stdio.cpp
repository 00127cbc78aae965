/*
 * stdio.cpp --
 *     The library's standard output streams: text written to stdout or
 *     stderr is handed to the stdio interpreter, a Tk console
 *     ("tkConsoleOutput") or an ordinary shell ("puts -nonewline").
 */
#include <errno.h>
#include <stdarg.h>
#include <string.h>
#include <string>

#include "core/core.h"
#include "vesk/stdio.h"

namespace {

int unblockFlag = 0;

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

}  // namespace

namespace vesk {
void setUnblockFlag(int flag) { unblockFlag = flag; }
int getUnblockFlag() { return unblockFlag; }
}  // namespace vesk

/*
 * consolePuts --
 *     Writes text to the console of the stdio interpreter.  BEL bytes ring
 *     the bell instead of being shown.
 * Results:      the length, also when there is nobody to show it to.
 */
int consolePuts(int stream, const char *text, int length) {
  Tcl_Interp *interp = vesk::getStdioInterp();
  if (!interp || Tcl_InterpDeleted(interp) || length <= 0) return length;
  Tcl_Preserve(interp);
  errno = 0;
  const bool tkConsole = vesk::getTkConsoleActive();
  const char *prefix = stream == VESK_STDERR
      ? (tkConsole ? "tkConsoleOutput stderr" : "puts -nonewline stderr")
      : (tkConsole ? "tkConsoleOutput stdout" : "puts -nonewline stdout");
  Tcl_DString copied;
  Tcl_DStringInit(&copied);
  for (int i = 0; i < length; i++) {
    if (text[i] == 7) Tcl_Eval(interp, "bell");
    else Tcl_DStringAppend(&copied, text + i, 1);
  }
  Tcl_DString command;
  Tcl_DStringInit(&command);
  Tcl_DStringAppend(&command, prefix, -1);
  Tcl_DStringAppendElement(&command, Tcl_DStringValue(&copied));
  Tcl_EvalEx(interp, Tcl_DStringValue(&command), Tcl_DStringLength(&command), TCL_EVAL_GLOBAL);
  Tcl_DStringFree(&command);
  Tcl_DStringFree(&copied);
  if (unblockFlag) tclUpdate(interp, 0xffff);
  Tcl_Release(interp);
  return length;
}

int vesk_vfprintf(FILE *file, const char *format, va_list args) {
  int stream = streamOfFile(file);
  if (!stream) return vfprintf(file, format, args);
  std::string text;
  if (!formatText(text, format, args)) return -1;
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
  int stream = streamOfFile(file);
  int length = static_cast<int>(strlen(text));
  if (!stream) return fwrite(text, 1, static_cast<size_t>(length), file) == static_cast<size_t>(length) ? length : -1;
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
