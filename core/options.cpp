/*
 * options.cpp --
 *     The option vocabulary shared by commands and modules: custom Tk
 *     options that read and print ids by name, file names, image
 *     descriptions, band combinations and palettes; the option tables of
 *     processing modules; band lists; the module parameter file
 *     CONFIG.MOD; the console's yes/no prompt.
 */
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/options.h"
#include "core/savefile.h"
#include "core/text.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* ---- the vocabularies of this unit ---- */

const char *const funcNames[] = {"UNKNOWN", "NONE", "LINEAR", "HISTS", "HISTEQ"};
const char *const rangeNames[] = {"UNKNOWN", "MEAN", "DETAIL"};
const char *const rotationNames[] = {"UNKNOWN", "ZYX", "ZXY", "YXZ", "YZX", "XYZ", "XZY"};

template <size_t N>
int optionsFindName(const char *const (&names)[N], const char *name) {
  if (!name) return -1;
  for (size_t i = 0; i < N; i++)
    if (strcmp(names[i], name) == 0) return static_cast<int>(i);
  return -1;
}

template <size_t N>
const char *optionsIdName(const char *const (&names)[N], int id) {
  return id >= 0 && static_cast<size_t>(id) < N ? names[id] : "UNKNOWN";
}

/* ---- helpers of the option procedures ---- */

const IdKind *optionsKind(ClientData clientData) {
  return static_cast<const IdKind *>(clientData);
}

int optionsError(Tcl_Interp *interp, const char *what, const char *value, ClientData kind) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, what, value, " for ", optionsKind(kind)->name, (char *)nullptr);
  return TCL_ERROR;
}

/* A Tcl_Alloc copy of a text, handed to Tk with its free procedure. */
char *optionsPrinted(const std::string &text, Tcl_FreeProc **freeProcPtr) {
  char *copy = Tcl_Alloc(static_cast<unsigned>(text.size() + 1));
  memcpy(copy, text.c_str(), text.size() + 1);
  *freeProcPtr = TCL_DYNAMIC;
  return copy;
}

/* A 256-byte copy of a text field. */
char *optionsPrintedField(const char *field, Tcl_FreeProc **freeProcPtr) {
  char *copy = Tcl_Alloc(kOptionTextSize);
  memcpy(copy, field, kOptionTextSize);
  copy[kOptionTextSize - 1] = '\0';
  *freeProcPtr = TCL_DYNAMIC;
  return copy;
}

/*
 * optionsSplitInts --
 *     Splits the first 255 characters of a value at "/" (empty pieces
 *     skipped) and reads up to three non-negative decimal integers.
 * Results:      the piece count, or -1 for a piece that is not such an
 *               integer or for a fourth piece.
 */
int optionsSplitInts(const char *value, int numbers[3]) {
  std::string text(value ? value : "");
  if (text.size() > 255) text.resize(255);
  int count = 0;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('/', at);
    if (end == std::string::npos) end = text.size();
    std::string piece = text.substr(at, end - at);
    at = end + 1;
    if (piece.empty()) continue;
    if (count == 3) return -1;
    const char *start = piece.c_str();
    char *stop = nullptr;
    errno = 0;
    long n = strtol(start, &stop, 10);
    if (stop == start || *stop != '\0' || errno == ERANGE || n < 0 || n > INT_MAX) return -1;
    numbers[count++] = static_cast<int>(n);
  }
  return count;
}

int *optionsIntField(char *widgRec, int offset) {
  return reinterpret_cast<int *>(widgRec + offset);
}

}  // namespace

int getFuncid(const char *name) { return optionsFindName(funcNames, name); }
const char *getFuncidName(int id) { return optionsIdName(funcNames, id); }
int getRangeid(const char *name) { return optionsFindName(rangeNames, name); }
const char *getRangeidName(int id) { return optionsIdName(rangeNames, id); }
int getRotationid(const char *name) { return optionsFindName(rotationNames, name); }
const char *getRotationidName(int id) { return optionsIdName(rotationNames, id); }

/*
 * The kinds, one row each, with the lookups of their vocabularies.  The
 * image header's vocabularies (mapid, imgid, imgtype, pixel) belong to the
 * raster store, which fills in their lookups at start-up
 * (installImageVocabularies).
 */
IdKind idKinds[ID_KIND_COUNT] = {
    {"file", nullptr, nullptr},
    {"palette", nullptr, nullptr},
    {"comb", nullptr, nullptr},
    {"imgdes", nullptr, nullptr},
    {"mapid", nullptr, nullptr},
    {"imgid", nullptr, nullptr},
    {"imgtype", nullptr, nullptr},
    {"pixel", nullptr, nullptr},
    {"func", getFuncid, getFuncidName},
    {"range", getRangeid, getRangeidName},
    {"rotationid", getRotationid, getRotationidName},
};

Tk_CustomOption fileOption = {parseFileOption, printFileOption, &idKinds[ID_FILE]};
Tk_CustomOption imgdesOption = {parseImgdesOption, printImgdesOption, &idKinds[ID_IMGDES]};
Tk_CustomOption combOption = {parseCombOption, printCombOption, &idKinds[ID_COMB]};
Tk_CustomOption paletteOption = {parsePaletteOption, printPaletteOption, &idKinds[ID_PALETTE]};
Tk_CustomOption mapidOption = {ParseID, GetIDStr, &idKinds[ID_MAPID]};
Tk_CustomOption imgidOption = {ParseID, GetIDStr, &idKinds[ID_IMGID]};
Tk_CustomOption imgtypeOption = {ParseID, GetIDStr, &idKinds[ID_IMGTYPE]};
Tk_CustomOption pixelOption = {ParseID, GetIDStr, &idKinds[ID_PIXEL]};
Tk_CustomOption funcOption = {ParseID, GetIDStr, &idKinds[ID_FUNC]};
Tk_CustomOption rangeOption = {ParseID, GetIDStr, &idKinds[ID_RANGE]};
Tk_CustomOption rotationidOption = {ParseID, GetIDStr, &idKinds[ID_ROTATIONID]};

/* ---- custom options ---- */

/*
 * parseFileOption --
 *     Stores the native form of a file name (tilde expanded) in a
 *     256-character field.
 */
int parseFileOption(ClientData clientData, Tcl_Interp *interp, Tk_Window, const char *value,
                    char *widgRec, int offset) {
  if (!value) value = "";
  Tcl_DString native;
  Tcl_DStringInit(&native);
  const char *name = Tcl_TranslateFileName(interp, value, &native);
  if (!name || strlen(name) >= static_cast<size_t>(kOptionTextSize)) {
    Tcl_DStringFree(&native);
    return optionsError(interp, "Error in file name translation: ", value, clientData);
  }
  strcpy(widgRec + offset, name);
  Tcl_DStringFree(&native);
  return TCL_OK;
}

const char *printFileOption(ClientData, Tk_Window, char *widgRec, int offset,
                            Tcl_FreeProc **freeProcPtr) {
  return optionsPrintedField(widgRec + offset, freeProcPtr);
}

/* parseImgdesOption -- stores a text of fewer than 256 characters. */
int parseImgdesOption(ClientData clientData, Tcl_Interp *interp, Tk_Window, const char *value,
                      char *widgRec, int offset) {
  if (!value) value = "";
  if (strlen(value) >= static_cast<size_t>(kOptionTextSize))
    return optionsError(interp, "Error in parsing image description: ", value, clientData);
  strcpy(widgRec + offset, value);
  return TCL_OK;
}

const char *printImgdesOption(ClientData, Tk_Window, char *widgRec, int offset,
                              Tcl_FreeProc **freeProcPtr) {
  return optionsPrintedField(widgRec + offset, freeProcPtr);
}

/*
 * parseCombOption --
 *     A band combination "r/g/b" (one to three band numbers, at least one
 *     of them non-zero): stores the count and the numbers, 0 for those not
 *     given.
 */
int parseCombOption(ClientData clientData, Tcl_Interp *interp, Tk_Window, const char *value,
                    char *widgRec, int offset) {
  int numbers[3] = {0, 0, 0};
  int count = optionsSplitInts(value, numbers);
  long long sum = static_cast<long long>(numbers[0]) + numbers[1] + numbers[2];
  if (count < 0 || sum == 0)
    return optionsError(interp, "Invalid value: ", value ? value : "", clientData);
  int *field = optionsIntField(widgRec, offset);
  field[0] = count;
  for (int i = 0; i < 3; i++) field[i + 1] = numbers[i];
  return TCL_OK;
}

const char *printCombOption(ClientData, Tk_Window, char *widgRec, int offset,
                            Tcl_FreeProc **freeProcPtr) {
  const int *field = optionsIntField(widgRec, offset);
  std::string text = std::to_string(field[1]);
  for (int i = 2; i <= field[0] && i <= 3; i++) text += "/" + std::to_string(field[i]);
  return optionsPrinted(text, freeProcPtr);
}

/*
 * parsePaletteOption --
 *     "default" (any case) stores -1; one number n in 1..256 a palette of
 *     n colours; three such numbers "r/g/b" the kind 0 and the levels of a
 *     colour cube.  Anything else, an empty value included, is an error.
 */
int parsePaletteOption(ClientData clientData, Tcl_Interp *interp, Tk_Window, const char *value,
                       char *widgRec, int offset) {
  int *field = optionsIntField(widgRec, offset);
  if (value && compareNoCase(value, "default") == 0) {
    field[0] = -1;
    field[1] = field[2] = field[3] = 0;
    return TCL_OK;
  }
  int numbers[3] = {0, 0, 0};
  int count = optionsSplitInts(value, numbers);
  bool inRange = true;
  for (int i = 0; i < count; i++) inRange = inRange && numbers[i] >= 1 && numbers[i] <= 256;
  if ((count != 1 && count != 3) || !inRange)
    return optionsError(interp, "Invalid value: ", value ? value : "", clientData);
  if (count == 1) {
    field[0] = numbers[0];
    field[1] = field[2] = field[3] = 0;
  } else {
    field[0] = 0;
    for (int i = 0; i < 3; i++) field[i + 1] = numbers[i];
  }
  return TCL_OK;
}

const char *printPaletteOption(ClientData, Tk_Window, char *widgRec, int offset,
                               Tcl_FreeProc **freeProcPtr) {
  const int *field = optionsIntField(widgRec, offset);
  if (field[0] < 0) return optionsPrinted("Default", freeProcPtr);
  if (field[0] == 0)
    return optionsPrinted(std::to_string(field[1]) + "/" + std::to_string(field[2]) + "/" +
                              std::to_string(field[3]),
                          freeProcPtr);
  return optionsPrinted(std::to_string(field[0]), freeProcPtr);
}

/* ---- module options ---- */

/*
 * matchOptions --
 *     Fills a module's option table from option/value word pairs: each
 *     pair goes to the first row of that exact name not filled yet.
 * Results:      the number of pairs left unmatched (a last option word
 *               without its value counts as one).
 */
int matchOptions(ModuleOption *table, int argc, const char *const *argv) {
  for (ModuleOption *row = table; row->name; row++) row->value = nullptr;
  int unmatched = 0;
  for (int i = 0; i < argc; i += 2) {
    ModuleOption *found = nullptr;
    for (ModuleOption *row = table; row->name; row++) {
      if (!row->value && strcmp(row->name, argv[i]) == 0) {
        found = row;
        break;
      }
    }
    if (found && i + 1 < argc)
      found->value = argv[i + 1];
    else
      unmatched++;
  }
  return unmatched;
}

/* ---- band lists ---- */

/*
 * getListNumber --
 *     Reads the decimal number at the cursor.
 * Results:      the character that ends it, "," or "-" (the cursor then
 *               moves past it) or 0 at the end of the text; 0 as well
 *               when there is no digit; -1 for any other ending.
 */
int getListNumber(const char **cursor, long *value) {
  const char *p = *cursor;
  const char *digits = p;
  while (isdigit(static_cast<unsigned char>(*p))) p++;
  if (p == digits) return 0;
  char ending = *p;
  if (ending != '\0' && ending != ',' && ending != '-') return -1;
  errno = 0;
  long n = strtol(digits, nullptr, 10);
  *value = errno == ERANGE || n > INT_MAX ? INT_MAX : n;
  *cursor = ending ? p + 1 : p;
  return ending;
}

/*
 * parseNumberList --
 *     A comma-separated list of numbers and ranges a-b (stepping down when
 *     b < a).  A range must leave at least one place free after it.
 * Results:      the count of numbers stored, or -1 for a malformed list
 *               or one that does not fit.
 */
int parseNumberList(const char *text, int *out, int capacity) {
  const char *p = text;
  int count = 0;
  for (;;) {
    if (!isdigit(static_cast<unsigned char>(*p))) return -1;  // empty item, stray character
    long first = 0;
    int ending = getListNumber(&p, &first);
    if (ending < 0) return -1;
    if (ending != '-') {
      if (count >= capacity) return -1;
      out[count++] = static_cast<int>(first);
      if (ending == 0) return count;
      continue;
    }
    if (!isdigit(static_cast<unsigned char>(*p))) return -1;  // a range without its end
    long last = 0;
    ending = getListNumber(&p, &last);
    if (ending < 0 || ending == '-' || first == last) return -1;
    long step = last > first ? 1 : -1;
    for (long v = first;; v += step) {
      if (count >= capacity) return -1;
      out[count++] = static_cast<int>(v);
      if (count >= capacity) return -1;
      if (v == last) break;
    }
    if (ending == 0) return count;
  }
}

/*
 * parseBandPair --
 *     One band-list item: "list" (the same bands on both sides) or
 *     "list:list" of equal lengths.
 * Results:      the number of pairs, 0 on error.
 */
int parseBandPair(int *source, int *dest, int capacity, const char *item) {
  std::string text(item ? item : "");
  size_t colon = text.find(':');
  std::string first = text.substr(0, colon);
  int count = parseNumberList(first.c_str(), source, capacity);
  if (count <= 0) return 0;
  if (colon == std::string::npos) {
    memcpy(dest, source, static_cast<size_t>(count) * sizeof(int));
    return count;
  }
  std::string second = text.substr(colon + 1);
  if (parseNumberList(second.c_str(), dest, capacity) != count) return 0;
  return count;
}

/*
 * parseBandList --
 *     A band map "1-3:3-1;4" of 1-based band numbers, into 0-based
 *     source and destination indices (room for kMaxBandPairs each).
 *     Without a text: the identity of the bands both sides have.
 * Results:      the number of pairs; 0 for a malformed item ("Error in
 *               band params." on stderr) or a band out of range (silent).
 */
int parseBandList(int sourceBands, int destBands, int *source, int *dest, const char *text) {
  if (!text) {
    int n = sourceBands < destBands ? sourceBands : destBands;
    if (n > kMaxBandPairs) n = kMaxBandPairs;
    for (int i = 0; i < n; i++) source[i] = dest[i] = i;
    return n > 0 ? n : 0;
  }
  std::string copy(text);
  int total = 0;
  size_t at = 0;
  while (at < copy.size()) {
    size_t end = copy.find_first_of(";, ", at);
    if (end == std::string::npos) end = copy.size();
    std::string item = copy.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    int n = parseBandPair(source + total, dest + total, kMaxBandPairs - total, item.c_str());
    if (n <= 0) {
      vesk_fprintf(stderr, "Error in band params.\n");
      return 0;
    }
    total += n;
  }
  for (int i = 0; i < total; i++) {
    if (source[i] < 1 || source[i] > sourceBands || dest[i] < 1 || dest[i] > destBands) return 0;
    source[i]--;
    dest[i]--;
  }
  return total;
}

/*
 * askYesNo --
 *     Asks a question on the console and reads characters until Y or N
 *     (either case); the console's bell rings at any other character.
 * Results:      1 for yes; 0 for no, and 0 at the end of input.
 */
int askYesNo(const char *question) {
  vesk_printf("\n%s (Y/N) ", question ? question : "");
  for (;;) {
    int c = consoleGetchar();
    if (c <= 0) return 0;
    c = toupper(c & 0xff);
    if (c == 'Y') return 1;
    if (c == 'N') return 0;
    vesk_printf("\a");
  }
}

/* ---- the module parameter file ---- */

namespace {

/* The words of the record readModuleConfig read last; table values point here. */
char moduleConfigWords[kModuleRecordSize];

/* The key/value word pairs of a record's text. */
std::vector<std::pair<std::string, std::string>> moduleConfigPairs(const char *record) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string text(record + kModuleNameSize, strnlen(record + kModuleNameSize, kModuleTextMax));
  std::vector<std::string> words;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  for (size_t i = 0; i + 1 < words.size(); i += 2) pairs.emplace_back(words[i], words[i + 1]);
  return pairs;
}

const ModuleOption *moduleConfigRow(const ModuleOption *table, const char *key) {
  for (const ModuleOption *row = table; row->name; row++)
    if (strcmp(row->name, key) == 0) return row;
  return nullptr;
}

}  // namespace

/* The parameter file's name: the path given, else $PARAMS and "CONFIG.MOD". */
static std::string moduleConfigName(const char *path) {
  if (path && *path) return path;
  const char *params = vesk_getenv("PARAMS");
  return std::string(params ? params : "") + "CONFIG.MOD";
}

/*
 * openModuleConfig --
 *     Opens the parameter file for reading and writing, creating it when
 *     missing: the path given, else $PARAMS followed by "CONFIG.MOD".
 * Results:      a file descriptor, or -1.
 */
int openModuleConfig(const char *path) {
  return open(moduleConfigName(path).c_str(), O_RDWR | O_CREAT, 0666);
}

/*
 * findModuleRecord --
 *     Looks for the record of a module (names compared on 16 bytes); the
 *     record buffer (256 bytes) receives the name and that record's text.
 * Results:      the record's index, or -1 when the file has none.
 */
int findModuleRecord(int fd, const char *name, char *record) {
  memset(record, 0, kModuleRecordSize);
  strncpy(record, name, kModuleNameSize);
  char buffer[kModuleRecordSize];
  for (int index = 0;; index++) {
    ssize_t n = pread(fd, buffer, kModuleRecordSize, static_cast<off_t>(index) * kModuleRecordSize);
    if (n != kModuleRecordSize) return -1;
    if (memcmp(buffer, record, kModuleNameSize) == 0) {
      memcpy(record + kModuleNameSize, buffer + kModuleNameSize, kModuleRecordSize - kModuleNameSize);
      record[kModuleRecordSize - 1] = '\0';
      return index;
    }
  }
}

/*
 * readModuleConfig --
 *     Fills the empty rows of a table from the module's record.  The
 *     values point into a buffer that the next call overwrites.
 * Results:      1 when read; 0 when the file has no record of the module;
 *               -1 when the file cannot be opened or a key has no row.
 */
int readModuleConfig(const char *path, const char *name, ModuleOption *table) {
  int fd = openModuleConfig(path);
  if (fd < 0) {
    vesk_fprintf(stderr, "Error in readModuleConfig: %s: %s\n", path ? path : "CONFIG.MOD",
                 strerror(errno));
    return -1;
  }
  char record[kModuleRecordSize];
  int index = findModuleRecord(fd, name, record);
  close(fd);
  if (index < 0) return 0;
  auto pairs = moduleConfigPairs(record);
  /* Lay the words out one after another, each ended by NUL. */
  size_t at = 0;
  for (auto &pair : pairs) {
    for (const std::string *word : {&pair.first, &pair.second}) {
      memcpy(moduleConfigWords + at, word->c_str(), word->size() + 1);
      at += word->size() + 1;
    }
  }
  at = 0;
  for (auto &pair : pairs) {
    const char *value = moduleConfigWords + at + pair.first.size() + 1;
    at += pair.first.size() + pair.second.size() + 2;
    ModuleOption *row = const_cast<ModuleOption *>(moduleConfigRow(table, pair.first.c_str()));
    if (!row) return -1;
    if (!row->value) row->value = value;
  }
  return 1;
}

/*
 * mergeModuleParams --
 *     Rebuilds a record's text: its pairs whose key the table lacks, then
 *     every table row that has a value, each word followed by a blank.
 * Results:      0; -1 when pairs were left out because the text would
 *               pass its 239 characters.
 */
int mergeModuleParams(char *record, const ModuleOption *table) {
  std::string text;
  bool dropped = false;
  auto add = [&](const std::string &key, const std::string &value) {
    std::string pair = key + " " + value + " ";
    if (text.size() + pair.size() > static_cast<size_t>(kModuleTextMax))
      dropped = true;
    else
      text += pair;
  };
  for (auto &pair : moduleConfigPairs(record))
    if (!moduleConfigRow(table, pair.first.c_str())) add(pair.first, pair.second);
  for (const ModuleOption *row = table; row->name; row++)
    if (row->value) add(row->name, row->value);
  memset(record + kModuleNameSize, 0, kModuleRecordSize - kModuleNameSize);
  memcpy(record + kModuleNameSize, text.c_str(), text.size());
  return dropped ? -1 : 0;
}

/*
 * writeModuleConfig --
 *     Merges a table into the module's record and writes it back in its
 *     place, or appends it as a new record.  The whole file is written
 *     anew beside the old one and renamed over it, so a failure leaves
 *     every record as it was.
 * Results:      1 when appended, 0 when rewritten, -1 on failure.
 */
int writeModuleConfig(const char *path, const char *name, const ModuleOption *table) {
  const char *shown = path && *path ? path : "CONFIG.MOD";
  int fd = openModuleConfig(path);
  if (fd < 0) {
    vesk_fprintf(stderr, "Error in writeModuleConfig: %s: %s\n", shown, strerror(errno));
    return -1;
  }
  char record[kModuleRecordSize];
  int index = findModuleRecord(fd, name, record);
  if (mergeModuleParams(record, table) < 0) {
    vesk_fprintf(stderr, "Error in writeModuleConfig: parameters of %s pass %d characters\n",
                 name, kModuleTextMax);
    close(fd);
    return -1;
  }
  std::string bytes;
  struct stat info;
  bool read = fstat(fd, &info) == 0 && info.st_size >= 0;
  if (read) {
    bytes.resize(static_cast<size_t>(info.st_size));
    read = pread(fd, &bytes[0], bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
  }
  close(fd);
  if (!read) {
    vesk_fprintf(stderr, "Error in writeModuleConfig: %s: %s\n", shown,
                 strerror(errno ? errno : EIO));
    return -1;
  }
  /* A new record goes past the last whole one. */
  const size_t at = index >= 0 ? static_cast<size_t>(index) * kModuleRecordSize
                               : bytes.size() - bytes.size() % kModuleRecordSize;
  if (bytes.size() < at + kModuleRecordSize) bytes.resize(at + kModuleRecordSize);
  memcpy(&bytes[at], record, kModuleRecordSize);
  if (int error = saveFileBytes(moduleConfigName(path).c_str(), bytes.data(), bytes.size())) {
    vesk_fprintf(stderr, "Error in writeModuleConfig: %s\n", strerror(error));
    return -1;
  }
  return index < 0 ? 1 : 0;
}

/*
 * makeModuleName --
 *     The module's record name: the last element of the program word less
 *     its last 4 characters, then a blank and the second word when that
 *     does not begin with "-".
 * Results:      2 when the second word was added, else 1.
 */
int makeModuleName(std::string &out, int argc, const char *const *argv) {
  std::string program = argc > 0 && argv[0] ? argv[0] : "";
  size_t slash = program.find_last_of("/\\ ");
  if (slash != std::string::npos) program.erase(0, slash + 1);
  out = program.size() > 4 ? program.substr(0, program.size() - 4) : "";
  if (argc > 1 && argv[1] && argv[1][0] != '-') {
    out += " ";
    out += argv[1];
    return 2;
  }
  return 1;
}

}  // namespace vesk

/* ---- id options ---- */

/*
 * ParseID --
 *     Stores the id of a name of the option's vocabulary in an int field.
 * Results:      TCL_OK, or TCL_ERROR with "Invalid value: <value> for
 *               <kind>" for a name the vocabulary does not hold.
 */
int ParseID(ClientData clientData, Tcl_Interp *interp, Tk_Window, const char *value,
            char *widgRec, int offset) {
  const IdKind *kind = static_cast<const IdKind *>(clientData);
  int id = kind->nameToId && value ? kind->nameToId(value) : -1;
  if (id < 0) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Invalid value: ", value ? value : "", " for ", kind->name,
                     (char *)nullptr);
    return TCL_ERROR;
  }
  *reinterpret_cast<int *>(widgRec + offset) = id;
  return TCL_OK;
}

/*
 * GetIDStr --
 *     The name of the id in an int field, as a Tcl_Alloc text.
 */
const char *GetIDStr(ClientData clientData, Tk_Window, char *widgRec, int offset,
                     Tcl_FreeProc **freeProcPtr) {
  const IdKind *kind = static_cast<const IdKind *>(clientData);
  int id = *reinterpret_cast<int *>(widgRec + offset);
  const char *name = kind->idToName ? kind->idToName(id) : nullptr;
  std::string text = name ? name : std::to_string(id);
  char *copy = Tcl_Alloc(static_cast<unsigned>(text.size() + 1));
  memcpy(copy, text.c_str(), text.size() + 1);
  *freeProcPtr = TCL_DYNAMIC;
  return copy;
}
