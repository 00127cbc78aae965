/*
 * services.cpp --
 *     The small services every part of the library calls: the heap, the
 *     rotating format buffer, the event pump, direct command calls,
 *     environment lookup and file and path helpers.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <algorithm>
#include <exception>
#include <vector>

#include "core/core.h"
#include "vesk/stdio.h"

namespace {

/* The rotating buffer: a result stays valid until the buffer wraps. */
struct FmtBuffer {
  char text[vesk::kFmtBufferSize];
  int fill = 0;
  char *last = nullptr;
};
FmtBuffer fmtBuffer;

}  // namespace

/* ---- memory ---- */

void *gmemAlloc(int size) {
  return Tcl_Alloc(static_cast<unsigned>(size));
}

void gmemFree(void *block) {
  if (block) Tcl_Free(static_cast<char *>(block));
}

void *gmemRealloc(void *block, int size) {
  return Tcl_Realloc(static_cast<char *>(block), static_cast<unsigned>(size));
}

/*
 * memAlloc --
 *     A zeroed block of the library heap.
 * Results:      the block, or NULL after printing the caller's label.
 */
void *memAlloc(int size, const char *label) {
  void *block = size >= 0 ? Tcl_AttemptAlloc(static_cast<unsigned>(size)) : nullptr;
  if (!block) {
    vesk_fprintf(stderr, "\ngmemAlloc error in memAlloc: %s.\n", label ? label : "");
    return nullptr;
  }
  memset(block, 0, static_cast<size_t>(size));
  return block;
}

namespace vesk {

int fmtFillOffset() { return fmtBuffer.fill; }
const char *fmtBufferStart() { return fmtBuffer.text; }

}  // namespace vesk

/*
 * fmt --
 *     printf-style formatting into the rotating buffer.  At least 1024 bytes
 *     are free at every start; longer texts are cut at the buffer's end.
 * Results:      the formatted text inside the buffer.
 */
char *fmt(const char *format, ...) {
  if (fmtBuffer.fill > vesk::kFmtWrapOffset) fmtBuffer.fill = 0;
  char *at = fmtBuffer.text + fmtBuffer.fill;
  size_t room = sizeof fmtBuffer.text - static_cast<size_t>(fmtBuffer.fill);
  va_list args;
  va_start(args, format);
  int n = vsnprintf(at, room, format, args);
  va_end(args);
  if (n < 0) n = 0;
  if (static_cast<size_t>(n) >= room) n = static_cast<int>(room) - 1;
  fmtBuffer.last = at;
  fmtBuffer.fill += n + 1;
  return at;
}

namespace vesk {

/*
 * addErrorInfoFormatted --
 *     Formats a text and adds it to the interpreter's errorInfo.
 */
int addErrorInfoFormatted(Tcl_Interp *interp, const char *format, ...) {
  va_list args;
  va_start(args, format);
  char *text = Tcl_Alloc(1);
  text[0] = 0;
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n > 0) {
    text = Tcl_Realloc(text, static_cast<unsigned>(n) + 1);
    vsnprintf(text, static_cast<size_t>(n) + 1, format, args);
  }
  va_end(args);
  Tcl_AddErrorInfo(interp, text);
  Tcl_Free(text);
  return 0;
}

}  // namespace vesk

/* ---- events ---- */

/*
 * tclUpdate --
 *     Services pending events of the kinds in flags without waiting, until
 *     none is left, then resets the interpreter's result.
 */
void tclUpdate(Tcl_Interp *interp, int flags) {
  while (Tcl_DoOneEvent(flags | TCL_DONT_WAIT)) {
  }
  if (interp) Tcl_ResetResult(interp);
}

namespace vesk {

static void waitTimerProc(ClientData clientData) {
  *static_cast<int *>(clientData) = 1;
}

/*
 * waitWithEvents --
 *     Waits the given time on a Tcl timer while servicing events.
 */
void waitWithEvents(Tcl_Interp *interp, int flags, int milliseconds) {
  int done = 0;
  Tcl_TimerToken timer = Tcl_CreateTimerHandler(milliseconds, waitTimerProc, &done);
  while (!done) {
    tclUpdate(interp, flags | TCL_TIMER_EVENTS);
    if (!done) Tcl_Sleep(1);
  }
  Tcl_DeleteTimerHandler(timer);
}

/* ---- commands ---- */

/* The reports of combEval; combEvalVar (the widget framework) has its own. */
const CombCallTexts kCombEvalTexts = {"\n%s does not exists!", "\nError from combEval: %s\n",
                                      true, "\nfrom combEval\n"};

/*
 * callCommandInfo --
 *     Calls a command's own procedure with its own client data: the object
 *     form when the command has one (Tk 8.6's commands are object commands,
 *     whose string form must not be called with another client data).
 * Results:      the command's completion code.
 */
int callCommandInfo(Tcl_Interp *interp, const Tcl_CmdInfo &info, int argc,
                    const char *const *argv) {
  if (info.isNativeObjectProc || !info.proc) {
    std::vector<Tcl_Obj *> objv;
    objv.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; i++) {
      objv.push_back(Tcl_NewStringObj(argv[i], -1));
      Tcl_IncrRefCount(objv.back());
    }
    int result = info.objProc(info.objClientData, interp, argc, objv.data());
    for (Tcl_Obj *obj : objv) Tcl_DecrRefCount(obj);
    return result;
  }
  std::vector<const char *> words(argv, argv + argc);
  words.push_back(nullptr);
  return info.proc(info.clientData, interp, argc, words.data());
}

/*
 * combCallWords --
 *     The body of combEval and its relatives: calls proc (with clientData)
 *     when given, else the command of info, else the command named by the
 *     first word, looked up in the interpreter.
 * Results:      the command's completion code; TCL_ERROR without words.
 * Side effects: on failure adds the texts' messages to errorInfo; given an
 *     abort point, prints the failed call and throws it back.
 */
int combCallWords(const CombEvalAbort *abort, Tcl_Interp *interp, Tcl_CmdProc *proc,
                  ClientData clientData, const Tcl_CmdInfo *info, int argc,
                  const char *const *argv, const CombCallTexts &texts) {
  if (argc <= 0 || !argv || !argv[0]) return TCL_ERROR;
  int result;
  if (proc) {
    std::vector<const char *> words(argv, argv + argc);
    words.push_back(nullptr);
    result = proc(clientData, interp, argc, words.data());
  } else if (info) {
    result = callCommandInfo(interp, *info, argc, argv);
  } else {
    Tcl_CmdInfo found;
    if (!Tcl_GetCommandInfo(interp, argv[0], &found)) {
      addErrorInfoFormatted(interp, texts.missing, argv[0]);
      result = TCL_ERROR;
    } else {
      result = callCommandInfo(interp, found, argc, argv);
    }
  }

  if (result != TCL_OK) {
    addErrorInfoFormatted(interp, texts.failed, argv[0]);
    if (abort) {
      if (texts.resultFirst) vesk_printf("%s\n", Tcl_GetStringResult(interp));
      vesk_printf("Abort at:\n");
      for (int i = 0; i < argc; i++) vesk_printf("%s ", argv[i]);
      vesk_printf("%s", texts.trailer);
      throw CombEvalAbort{result};
    }
  }
  return result;
}

/*
 * combEval --
 *     Calls a command procedure directly with the words given, ended by
 *     NULL.  Without a procedure, the command named by the first word is
 *     looked up and called with its own client data.
 * Results:      the command's completion code.
 * Side effects: on failure adds to errorInfo; given an abort point, prints
 *     the failed call and throws it back to the calling command.
 */
int combEval(const CombEvalAbort *abort, ClientData clientData, Tcl_Interp *interp,
             Tcl_CmdProc *proc, ...) {
  std::vector<const char *> argv;
  va_list args;
  va_start(args, proc);
  for (const char *word; (word = va_arg(args, const char *)) != nullptr;) {
    if (static_cast<int>(argv.size()) < kCombMaxWords) argv.push_back(word);
  }
  va_end(args);
  if (argv.empty()) return TCL_ERROR;
  return combCallWords(abort, interp, proc, clientData, nullptr, static_cast<int>(argv.size()),
                       argv.data(), kCombEvalTexts);
}

/*
 * getCommandClientData --
 *     The client data of a command: the object form's when the command is
 *     an object command, else the string form's.  NULL when there is none.
 */
ClientData getCommandClientData(Tcl_Interp *interp, const char *commandName) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(interp, commandName, &info)) return nullptr;
  return info.isNativeObjectProc ? info.objClientData : info.clientData;
}

}  // namespace vesk

/* ---- environment ---- */

/*
 * vesk_getenv --
 *     The element of the env array of the stdio interpreter; the process
 *     environment is never read directly, so scripts decide what the
 *     library sees.
 * Results:      the value, or NULL without a stdio interpreter or element.
 */
char *vesk_getenv(const char *name) {
  Tcl_Interp *interp = vesk::getStdioInterp();
  if (!interp || !name || Tcl_InterpDeleted(interp)) return nullptr;
  return const_cast<char *>(Tcl_GetVar2(interp, "env", name, TCL_GLOBAL_ONLY));
}

/* ---- files and paths ---- */

namespace vesk {

/*
 * translateFileName --
 *     Tilde expansion and native separators of a file name.
 * Results:      out's text, or NULL after adding to errorInfo.
 */
const char *translateFileName(Tcl_Interp *interp, std::string &out, const char *name) {
  Tcl_DString buffer;
  if (!Tcl_TranslateFileName(interp, name, &buffer)) {
    Tcl_AddErrorInfo(interp, "Fail to translate file name.");
    return nullptr;
  }
  out.assign(Tcl_DStringValue(&buffer), static_cast<size_t>(Tcl_DStringLength(&buffer)));
  Tcl_DStringFree(&buffer);
  return out.c_str();
}

/*
 * makeAbsolutePath --
 *     An absolute path unchanged; a relative one joined to the current
 *     directory.
 */
const char *makeAbsolutePath(const char *path, std::string &out) {
  if (Tcl_GetPathType(path) == TCL_PATH_ABSOLUTE) {
    out = path;
    return out.c_str();
  }
  Tcl_DString cwd, joined;
  Tcl_DStringInit(&joined);
  if (!Tcl_GetCwd(nullptr, &cwd)) {
    out = path;
    return out.c_str();
  }
  const char *parts[2] = {Tcl_DStringValue(&cwd), path};
  Tcl_JoinPath(2, parts, &joined);
  out = Tcl_DStringValue(&joined);
  Tcl_DStringFree(&cwd);
  Tcl_DStringFree(&joined);
  return out.c_str();
}

/* getPathTail -- the last element of a path. */
const char *getPathTail(const char *path, std::string &out) {
  int argc = 0;
  const char **argv = nullptr;
  Tcl_SplitPath(path, &argc, &argv);
  out = argc > 0 ? argv[argc - 1] : "";
  Tcl_Free(reinterpret_cast<char *>(argv));
  return out.c_str();
}

/* accessFile -- 0 when the path exists, -1 otherwise. */
int accessFile(const char *path) {
  return access(path, F_OK) == 0 ? 0 : -1;
}

/*
 * Free bytes of the file system holding a path, or of its parent folder
 * while the path does not exist yet.
 */
static double diskFreeOf(const char *path) {
  std::string probe = path && *path ? path : ".";
  struct statvfs fs;
  while (statvfs(probe.c_str(), &fs) != 0) {
    std::string::size_type slash = probe.find_last_of('/');
    if (errno != ENOENT || probe == "." || probe == "/") {
      vesk_fprintf(stderr, "Error in getdfree() call\n");
      return -1;
    }
    probe = slash == std::string::npos ? "." : slash == 0 ? "/" : probe.substr(0, slash);
  }
  return static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
}

/*
 * getDiskFree --
 *     Free bytes of a drive.  Linux has no drive letters: every drive is
 *     the file system of the current directory.
 */
double getDiskFree(int drive) {
  return diskFreeOf(".");
}

/* getPathDiskFree -- free bytes of the file system that holds a path. */
double getPathDiskFree(const char *path) {
  return diskFreeOf(path);
}

/* perror's message, through the library's error stream. */
static void reportErrno(const char *what) {
  vesk_fprintf(stderr, "%s: %s\n", what, errno ? strerror(errno) : "short read");
}

/*
 * getFileData --
 *     Positioned read in pieces of at most 32768 bytes; a negative offset
 *     reads from the current position.
 * Results:      the bytes of the complete pieces read.  With fatal set a
 *     failure gives -1 (the process is never ended).
 */
int64_t getFileData(int fd, void *buffer, int64_t length, off_t offset, int fatal) {
  if (offset >= 0 && lseek(fd, offset, SEEK_SET) < 0) {
    reportErrno("lseek in getFileData");
    return fatal ? -1 : 0;
  }
  char *at = static_cast<char *>(buffer);
  int64_t done = 0;
  while (done < length) {
    size_t piece = static_cast<size_t>(std::min<int64_t>(length - done, kFilePieceSize));
    errno = 0;
    ssize_t n = read(fd, at + done, piece);
    if (n != static_cast<ssize_t>(piece)) {
      reportErrno("read in getFileData");
      return fatal ? -1 : done;
    }
    done += n;
  }
  return done;
}

/*
 * putFileData --
 *     Positioned write in pieces of at most 32768 bytes.
 * Results:      the bytes of the complete pieces written.
 */
int64_t putFileData(int fd, const void *buffer, int64_t length, off_t offset, int quiet) {
  if (offset >= 0 && lseek(fd, offset, SEEK_SET) < 0) {
    if (!quiet) vesk_fprintf(stderr, "putFileData error in lseek\n");
    return 0;
  }
  const char *at = static_cast<const char *>(buffer);
  int64_t done = 0;
  while (done < length) {
    size_t piece = static_cast<size_t>(std::min<int64_t>(length - done, kFilePieceSize));
    ssize_t n = write(fd, at + done, piece);
    if (n != static_cast<ssize_t>(piece)) {
      if (!quiet) vesk_fprintf(stderr, "putFileData error in write\n");
      break;
    }
    done += n;
  }
  return done;
}

/*
 * readRegularFile --
 *     The whole of a regular file of at most limit bytes, read with that
 *     bound: a folder, a device or a FIFO is refused before it is opened
 *     (a FIFO would block the open, a device never ends), and a file that
 *     grows while it is read gives only the bytes it had.
 * Results:      true with the bytes in text; false with the reason in
 *     *why ("not a regular file", the size over the limit, or the system's
 *     message).
 */
bool readRegularFile(const char *path, int64_t limit, std::string &text, std::string *why) {
  std::string reason;
  if (!why) why = &reason;
  struct stat info;
  if (!path || stat(path, &info) != 0) {
    *why = strerror(path ? errno : ENOENT);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *why = "not a regular file";
    return false;
  }
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *why = fd < 0 ? strerror(errno) : "not a regular file";
    if (fd >= 0) close(fd);
    return false;
  }
  if (info.st_size > limit) {
    close(fd);
    *why = "too large: " + std::to_string(static_cast<long long>(info.st_size)) +
           " bytes, at most " + std::to_string(static_cast<long long>(limit));
    return false;
  }
  try {
    text.assign(static_cast<size_t>(info.st_size), '\0');
  } catch (const std::exception &) {
    close(fd);
    *why = "out of memory";
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = read(fd, &text[done], text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  text.resize(done);
  return true;
}

}  // namespace vesk
