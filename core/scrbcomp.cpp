/*
 * scrbcomp.cpp --
 *     Script libraries: the application's Tcl scripts stored zlib-compressed
 *     behind a 33-byte header, the body's bytes passed through a
 *     substitution table.  "calc compsave" writes them, "calc decompload"
 *     loads them (a file without the magic is sourced as a plain script),
 *     "calc comptest" checks a compression round trip, and start-up loads
 *     the libraries its script lists name.
 */
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <string>
#include <vector>

#include "core/calc.h"
#include "core/core.h"
#include "core/families.h"
#include "core/savefile.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/*
 * The substitution tables: permutations of the byte values.  Table 0 is
 * never written (its selectors are refused on load); the writer uses
 * table 1.  Table 1 is a Fisher-Yates shuffle driven by a fixed linear
 * congruential sequence, so every build carries the same bytes.
 */
constexpr int kTableCount = 2;
struct SubstitutionTables {
  unsigned char table[kTableCount][256] = {};
};

constexpr SubstitutionTables makeSubstitutionTables() {
  SubstitutionTables tables;
  for (int t = 0; t < kTableCount; t++)
    for (int i = 0; i < 256; i++) tables.table[t][i] = static_cast<unsigned char>(i);
  uint32_t x = 0x53435242u;
  for (int i = 255; i >= 1; i--) {
    x = x * 1103515245u + 12345u;
    int j = static_cast<int>((x >> 8) % static_cast<uint32_t>(i + 1));
    unsigned char swap = tables.table[1][i];
    tables.table[1][i] = tables.table[1][j];
    tables.table[1][j] = swap;
  }
  return tables;
}
constexpr SubstitutionTables kSubstitution = makeSubstitutionTables();

/*
 * The largest expansion deflate can reach is a little above 1000 to 1; a
 * header claiming more than this for its body is corrupt, and the loader
 * refuses it before allocating anything.
 */
constexpr long long kMaxExpansion = 1032;

/* Reads one decimal length field: a NUL must end it inside the field. */
long long readLengthField(const unsigned char *field) {
  char text[kScriptLibLengthFieldSize + 1];
  memcpy(text, field, kScriptLibLengthFieldSize);
  text[kScriptLibLengthFieldSize] = 0;
  if (memchr(field, 0, kScriptLibLengthFieldSize) == nullptr) return -1;
  return atoll(text);
}

/*
 * Writes text to the console's error stream and, when that stream does
 * not already end on descriptor 2 (a Tk console, or no console at all),
 * to descriptor 2 as well.  The interpreter's result and errorInfo are
 * kept: the console's own evaluation must not replace them.
 */
void reportScriptLibError(Tcl_Interp *interp, int code, const std::string &text) {
  Tcl_InterpState state = Tcl_SaveInterpState(interp, code);
  putsErrorOnce(text.data(), text.size());
  Tcl_RestoreInterpState(interp, state);
}

/* Leaves a message in errorInfo and the result, then the debug trace. */
int failScriptLib(Tcl_Interp *interp, const char *label, const char *message) {
  if (message) {
    Tcl_AddErrorInfo(interp, message);
    Tcl_SetResult(interp, const_cast<char *>(message), TCL_VOLATILE);
  }
  scriptLibDebug(interp, label);
  return TCL_ERROR;
}

/*
 * A file that cannot be opened, read or replaced: the result stays "Error
 * in open.", and errorInfo names the file by its full path and gives the
 * system's reason, so that a newcomer can tell which file is missing.
 */
int failScriptLibFile(Tcl_Interp *interp, const char *label, const std::string &path,
                      const char *reason) {
  Tcl_Obj *pathObj = Tcl_NewStringObj(path.c_str(), -1);
  Tcl_IncrRefCount(pathObj);
  Tcl_Obj *full = Tcl_FSGetNormalizedPath(interp, pathObj);
  const std::string where = fmt("    (script library \"%s\": %s)\n",
                                full ? Tcl_GetString(full) : path.c_str(), reason);
  Tcl_DecrRefCount(pathObj);
  Tcl_AddErrorInfo(interp, "Error in open.\n");
  Tcl_AddErrorInfo(interp, where.c_str());
  Tcl_SetResult(interp, const_cast<char *>("Error in open.\n"), TCL_STATIC);
  scriptLibDebug(interp, label);
  return TCL_ERROR;
}

/* The reason of the last failed system call, in the system's words. */
const char *systemReason() { return errno ? Tcl_ErrnoMsg(errno) : "unexpected end of file"; }

/* Reads exactly length bytes in codec-sized pieces; false on a short read. */
bool readPieces(int fd, unsigned char *to, size_t length) {
  size_t done = 0;
  while (done < length) {
    size_t piece = length - done < kScriptLibPieceSize ? length - done : kScriptLibPieceSize;
    ssize_t n = read(fd, to + done, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool writePieces(int fd, const unsigned char *from, size_t length) {
  size_t done = 0;
  while (done < length) {
    size_t piece = length - done < kScriptLibPieceSize ? length - done : kScriptLibPieceSize;
    ssize_t n = write(fd, from + done, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

/* Closes a descriptor when it goes out of scope. */
struct FdCloser {
  int fd = -1;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

const unsigned char *substitutionTable(int index) {
  return index >= 0 && index < kTableCount ? kSubstitution.table[index] : nullptr;
}
int scriptLibTableCount() { return kTableCount; }

/*
 * substituteBytes --
 *     Applies (selector bit 0 clear) or undoes (bit 0 set) the
 *     substitution through the table that selector >> 1 names.
 * Results:      the selector with bit 0 toggled; -1 for a table this
 *               build does not carry (the bytes are left alone).
 */
int substituteBytes(int selector, unsigned char *bytes, size_t length) {
  const unsigned char *table = substitutionTable(selector >> 1);
  if (selector < 0 || !table) return -1;
  if ((selector & 1) == 0) {
    for (size_t i = 0; i < length; i++) bytes[i] = table[bytes[i]];
    return selector | 1;
  }
  unsigned char inverse[256];
  for (int i = 0; i < 256; i++) inverse[table[i]] = static_cast<unsigned char>(i);
  for (size_t i = 0; i < length; i++) bytes[i] = inverse[bytes[i]];
  return selector & ~1;
}

bool hasScriptLibMagic(const unsigned char *data, size_t size) {
  return size >= kScriptLibMagicSize && memcmp(data, kScriptLibMagic, kScriptLibMagicSize) == 0;
}

/*
 * parseScriptLibHeader --
 *     Decodes and checks the header of a library of size bytes: the
 *     selector must name a substitution table, the body must lie inside
 *     the file and the script length must be one the body can produce.
 * Results:      a ScriptLibStatus.
 */
int parseScriptLibHeader(const unsigned char *data, size_t size, ScriptLibHeader &header) {
  if (!hasScriptLibMagic(data, size)) return SCRIPTLIB_NOT_LIBRARY;
  if (size < kScriptLibHeaderSize) return SCRIPTLIB_CORRUPT;
  header.selector = data[kScriptLibSelectorOffset];
  if (header.selector < 2 || !substitutionTable(header.selector >> 1))
    return SCRIPTLIB_BAD_VERSION;
  header.bodyLength = readLengthField(data + kScriptLibBodyLengthOffset);
  header.scriptLength = readLengthField(data + kScriptLibScriptLengthOffset);
  long long room = static_cast<long long>(size - kScriptLibHeaderSize);
  if (header.bodyLength <= 0 || header.bodyLength > room) return SCRIPTLIB_CORRUPT;
  if (header.scriptLength <= 0 || header.scriptLength >= INT_MAX ||
      header.scriptLength > header.bodyLength * kMaxExpansion + 1024)
    return SCRIPTLIB_CORRUPT;
  return SCRIPTLIB_OK;
}

/*
 * decodeScriptLib --
 *     Decodes a whole library held in memory.
 * Results:      a ScriptLibStatus; on SCRIPTLIB_OK the script text (up to
 *               its terminating NUL).  zlibCode receives uncompress's code
 *               (Z_OK when it produced another length than the header
 *               gives), or Z_DATA_ERROR for a corrupt header.
 */
int decodeScriptLib(const unsigned char *data, size_t size, std::string &script, int *zlibCode) {
  if (zlibCode) *zlibCode = Z_OK;
  ScriptLibHeader header;
  int status = parseScriptLibHeader(data, size, header);
  if (status != SCRIPTLIB_OK) {
    if (status == SCRIPTLIB_CORRUPT && zlibCode) *zlibCode = Z_DATA_ERROR;
    return status;
  }
  std::vector<unsigned char> body;
  std::vector<unsigned char> text;
  try {
    body.assign(data + kScriptLibHeaderSize,
                data + kScriptLibHeaderSize + static_cast<size_t>(header.bodyLength));
    text.resize(static_cast<size_t>(header.scriptLength) + 1);
  } catch (const std::exception &) {
    return SCRIPTLIB_NO_MEMORY;
  }
  /* An unsubstituted body (bit 0 clear) is stored as zlib wrote it. */
  if (header.selector & 1) substituteBytes(header.selector, body.data(), body.size());
  uLongf produced = static_cast<uLongf>(header.scriptLength);
  int code = uncompress(text.data(), &produced, body.data(), static_cast<uLong>(body.size()));
  if (code != Z_OK || produced != static_cast<uLongf>(header.scriptLength)) {
    if (zlibCode) *zlibCode = code;
    return SCRIPTLIB_CORRUPT;
  }
  text[static_cast<size_t>(header.scriptLength)] = 0;
  script.assign(reinterpret_cast<const char *>(text.data()));
  return SCRIPTLIB_OK;
}

/*
 * encodeScriptLib --
 *     Builds a whole library (header and body) from length bytes of
 *     script, its terminating NUL included.
 * Results:      a ScriptLibStatus; zlibCode receives compress's code.
 */
int encodeScriptLib(const char *script, size_t length, std::string &out, int *zlibCode) {
  if (zlibCode) *zlibCode = Z_OK;
  if (length == 0 || length >= INT_MAX) return SCRIPTLIB_CORRUPT;
  std::vector<unsigned char> body;
  try {
    body.resize(compressBound(static_cast<uLong>(length)));
  } catch (const std::exception &) {
    return SCRIPTLIB_NO_MEMORY;
  }
  uLongf bodyLength = static_cast<uLongf>(body.size());
  int code = compress(body.data(), &bodyLength, reinterpret_cast<const Bytef *>(script),
                      static_cast<uLong>(length));
  if (zlibCode) *zlibCode = code;
  if (code != Z_OK) return code == Z_MEM_ERROR ? SCRIPTLIB_NO_MEMORY : SCRIPTLIB_CORRUPT;
  int selector = substituteBytes(kScriptLibWriteSelector & ~1, body.data(), bodyLength);

  unsigned char header[kScriptLibHeaderSize] = {};
  memcpy(header, kScriptLibMagic, kScriptLibMagicSize);
  header[kScriptLibSelectorOffset] = static_cast<unsigned char>(selector);
  snprintf(reinterpret_cast<char *>(header + kScriptLibBodyLengthOffset), kScriptLibLengthFieldSize,
           "%lu", static_cast<unsigned long>(bodyLength));
  snprintf(reinterpret_cast<char *>(header + kScriptLibScriptLengthOffset),
           kScriptLibLengthFieldSize, "%lu", static_cast<unsigned long>(length));
  try {
    out.assign(reinterpret_cast<const char *>(header), kScriptLibHeaderSize);
    out.append(reinterpret_cast<const char *>(body.data()), bodyLength);
  } catch (const std::exception &) {
    return SCRIPTLIB_NO_MEMORY;
  }
  return SCRIPTLIB_OK;
}

/*
 * scriptLibDebug --
 *     With Vesk_Debug set to "1", prints the label and errorInfo on the
 *     standard error stream.
 */
void scriptLibDebug(Tcl_Interp *interp, const char *label) {
  const char *debug = Tcl_GetVar2(interp, "Vesk_Debug", nullptr, TCL_GLOBAL_ONLY);
  if (!debug || strcmp(debug, "1") != 0) return;
  const char *info = Tcl_GetVar2(interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY);
  std::string copy = info ? info : "";
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_ERROR);
  vesk_fprintf(stderr, "%s\n %s\n", label, copy.c_str());
  Tcl_RestoreInterpState(interp, state);
}

/*
 * calcCompsave --
 *     "calc compsave fileName string": writes the string as a script
 *     library.  The file is written beside the target and renamed over it,
 *     so a failed write never replaces a good library.
 * Results:      the compression ratio as "%.3f".
 */
int calcCompsave(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) {
    vesk_printf("Usage: %s %s fileName string.\n", argv[0], argv[1]);
    return failScriptLib(interp, "CompSave", nullptr);
  }
  size_t length = strlen(argv[3]) + 1;
  std::string library;
  int zlibCode = Z_OK;
  int status = encodeScriptLib(argv[3], length, library, &zlibCode);
  if (status == SCRIPTLIB_NO_MEMORY) return failScriptLib(interp, "CompSave", "Error in malloc.\n");
  if (status != SCRIPTLIB_OK) return failScriptLib(interp, "CompSave", "Error in compress");

  std::string path;
  if (!translateFileName(interp, path, argv[2])) return failScriptLib(interp, "CompSave", nullptr);
  SaveFile file;
  if (!file.open(path.c_str()))
    return failScriptLibFile(interp, "CompSave", path, Tcl_ErrnoMsg(file.error()));
  if (!writePieces(file.fd(), reinterpret_cast<const unsigned char *>(library.data()),
                   library.size()))
    file.fail(errno);
  if (!file.finish()) return failScriptLib(interp, "CompSave", "Error in writing.\n");
  if (!file.commit())
    return failScriptLibFile(interp, "CompSave", path, Tcl_ErrnoMsg(file.error()));
  double ratio = static_cast<double>(library.size() - kScriptLibHeaderSize) /
                 static_cast<double>(length);
  Tcl_SetResult(interp, fmt("%.3f", ratio), TCL_VOLATILE);
  return TCL_OK;
}

/*
 * calcDecompload --
 *     "calc decompload fileName": evaluates a script library, or sources a
 *     file that does not start with the magic.  Every length in the header
 *     is checked against the file's size before anything is allocated.
 * Results:      the code and result of the evaluation.
 * Side effects: a failing script is reported on the console's error
 *               stream with its errorInfo.
 */
int calcDecompload(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    vesk_printf("Usage: %s %s fileName\n", argv[0], argv[1]);
    return failScriptLib(interp, "deCompLoad", nullptr);
  }
  std::string path;
  if (!translateFileName(interp, path, argv[2])) return failScriptLib(interp, "deCompLoad", nullptr);
  FdCloser file;
  file.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (file.fd < 0 || fstat(file.fd, &info) != 0)
    return failScriptLibFile(interp, "deCompLoad", path, systemReason());
  if (!S_ISREG(info.st_mode))
    return failScriptLibFile(interp, "deCompLoad", path, "not a regular file");
  const size_t size = static_cast<size_t>(info.st_size);

  unsigned char head[kScriptLibHeaderSize] = {};
  size_t headSize = size < kScriptLibHeaderSize ? size : kScriptLibHeaderSize;
  if (!readPieces(file.fd, head, headSize))
    return failScriptLibFile(interp, "deCompLoad", path, systemReason());
  if (!hasScriptLibMagic(head, headSize)) {
    close(file.fd);
    file.fd = -1;
    return Tcl_EvalFile(interp, argv[2]);
  }

  ScriptLibHeader header;
  int status = headSize < kScriptLibHeaderSize ? static_cast<int>(SCRIPTLIB_CORRUPT)
                                               : parseScriptLibHeader(head, size, header);
  std::string script;
  int zlibCode = Z_DATA_ERROR;
  if (status == SCRIPTLIB_OK) {
    std::vector<unsigned char> data;
    try {
      data.resize(kScriptLibHeaderSize + static_cast<size_t>(header.bodyLength));
    } catch (const std::exception &) {
      return failScriptLib(interp, "deCompLoad", "Error in malloc.\n");
    }
    memcpy(data.data(), head, kScriptLibHeaderSize);
    if (!readPieces(file.fd, data.data() + kScriptLibHeaderSize, data.size() - kScriptLibHeaderSize))
      status = SCRIPTLIB_CORRUPT;
    else
      status = decodeScriptLib(data.data(), data.size(), script, &zlibCode);
  }
  close(file.fd);
  file.fd = -1;
  if (status == SCRIPTLIB_BAD_VERSION)
    return failScriptLib(interp, "deCompLoad", "Invalid script lib version.");
  if (status == SCRIPTLIB_NO_MEMORY) return failScriptLib(interp, "deCompLoad", "Error in malloc.\n");
  if (status != SCRIPTLIB_OK) {
    Tcl_AddErrorInfo(interp, "Error in uncompress");
    Tcl_SetResult(interp, const_cast<char *>("Error in uncompress"), TCL_STATIC);
    Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_ERROR);
    vesk_fprintf(stderr, "Error in uncompress: %d %s\n", zlibCode, path.c_str());
    Tcl_RestoreInterpState(interp, state);
    return failScriptLib(interp, "deCompLoad", nullptr);
  }

  int code = Tcl_EvalEx(interp, script.c_str(), static_cast<int>(script.size()), 0);
  if (code == TCL_RETURN) code = TCL_OK; /* as source does at a file's top level */
  if (code == TCL_ERROR) {
    const char *trace = Tcl_GetVar2(interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY);
    std::string text = "Error in Tcl_Eval: " + path + "\n" + (trace ? trace : "") + "\n";
    reportScriptLibError(interp, code, text);
  }
  return code;
}

/*
 * calcComptest --
 *     "calc comptest varName": compresses the variable's value, uncompresses
 *     it and compares the two texts.
 */
int calcComptest(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    vesk_printf("Usage: %s %s string.\n", argv[0], argv[1]);
    return failScriptLib(interp, "CompressTest", nullptr);
  }
  const char *value = Tcl_GetVar(interp, argv[2], 0);
  if (!value) {
    vesk_printf("can't find variable named %s\n", argv[2]);
    return failScriptLib(interp, "CompressTest", nullptr);
  }
  std::string text(value, strlen(value) + 1);
  std::vector<unsigned char> packed, unpacked;
  try {
    packed.resize(compressBound(static_cast<uLong>(text.size())));
    unpacked.resize(text.size());
  } catch (const std::exception &) {
    vesk_printf("Error in malloc.\n");
    return failScriptLib(interp, "CompressTest", nullptr);
  }
  uLongf packedLength = static_cast<uLongf>(packed.size());
  int code = compress(packed.data(), &packedLength, reinterpret_cast<const Bytef *>(text.data()),
                      static_cast<uLong>(text.size()));
  if (code != Z_OK) {
    vesk_fprintf(stderr, "Error in compress: %d\n", code);
    return failScriptLib(interp, "CompressTest", nullptr);
  }
  uLongf unpackedLength = static_cast<uLongf>(unpacked.size());
  code = uncompress(unpacked.data(), &unpackedLength, packed.data(), packedLength);
  if (code != Z_OK) {
    vesk_fprintf(stderr, "Error in uncompress: %d\n", code);
    return failScriptLib(interp, "CompressTest", nullptr);
  }
  if (unpackedLength != text.size() || memcmp(unpacked.data(), text.data(), text.size()) != 0) {
    vesk_fprintf(stderr, "Error in compressing\n");
    return failScriptLib(interp, "CompressTest", nullptr);
  }
  vesk_printf("len: %d compLen: %d compressing ratio: %.6f\n", static_cast<int>(text.size()),
              static_cast<int>(packedLength),
              static_cast<double>(packedLength) / static_cast<double>(text.size()));
  return TCL_OK;
}

/*
 * loadScriptLibraries --
 *     Loads every library that a global list variable (veskAppScripts or
 *     veskConScripts) names, from the home folder, through "calc
 *     decompload"; the first failure ends the loading.
 */
int loadScriptLibraries(Tcl_Interp *interp, const char *listVariable) {
  std::string script = fmt("foreach s $%s {calc decompload [file join $gimgHome $s]}", listVariable);
  return Tcl_Eval(interp, script.c_str());
}

}  // namespace vesk
