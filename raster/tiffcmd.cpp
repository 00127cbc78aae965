/*
 * tiffcmd.cpp --
 *     The "tiff" command: a process-wide table of tag names that scripts
 *     fill, and listings of the directory entries and tag values of any
 *     page of a TIFF file or of an open TIFF image.
 *
 *     Values that do not fit in an entry's value field are read from the
 *     file only after their extent has been checked against its size.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"
#include "raster/tiff.h"
#include "vesk/hash.h"

namespace vesk {

bool printTiffEntry(Tcl_Interp *interp, int fd, int byteOrder, const TiffEntry *entry);

namespace {

/* Tag number -> name (a gmemAlloc'd text); null while absent. */
Tcl_HashTable *tiffTagTable = nullptr;

/* The directories a "data" form lists, and whether the command owns them. */
struct TiffSource {
  int fd = -1;
  TiffInfo *info = nullptr;
  bool owned = false;

  ~TiffSource() {
    if (!owned) return;
    freeTiffInfo(info);
    if (fd >= 0) close(fd);
  }
};

/* Reads exactly n bytes at an offset, quietly; false when the file ends first. */
bool readTiffBytes(int fd, void *to, int64_t n, int64_t offset) {
  unsigned char *into = static_cast<unsigned char *>(to);
  int64_t done = 0;
  while (done < n) {
    const ssize_t got = pread(fd, into + done, static_cast<size_t>(n - done), offset + done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += got;
  }
  return true;
}

/* Reads a leading decimal number as "%d" does. */
bool scanTiffInt(const char *text, int *value) {
  return sscanf(text, "%d", value) == 1;
}

/* Bytes of one value of a type; 0 for a type without a size. */
int tiffValueSize(int type) {
  switch (type) {
  case TIFF_BYTE: case TIFF_ASCII: case TIFF_SBYTE: case TIFF_UNDEFINED: return 1;
  case TIFF_SHORT: case TIFF_SSHORT: return 2;
  case TIFF_LONG: case TIFF_SLONG: case TIFF_FLOAT: return 4;
  case TIFF_RATIONAL: case TIFF_SRATIONAL: case TIFF_DOUBLE: return 8;
  default: return 0;
  }
}

const char *tiffTagName(int tag) {
  if (!tiffTagTable) return nullptr;
  Tcl_HashEntry *entry =
      findHashEntry(tiffTagTable, reinterpret_cast<const void *>(static_cast<intptr_t>(tag)));
  return entry ? static_cast<const char *>(getHashValue(entry)) : nullptr;
}

/* The element of one tag name: "%d %s", the name quoted when it holds a blank. */
void appendTiffTagName(Tcl_Interp *interp, int tag, const char *name) {
  const std::string text = strchr(name, ' ') ? fmt("%d \"%s\"", tag, name)
                                             : fmt("%d %s", tag, name);
  Tcl_AppendElement(interp, text.c_str());
}

/* tiff add {tag name} ... */
int tiffAddNames(Tcl_Interp *interp, int argc, const char **argv) {
  for (int i = 2; i < argc; i++) {
    int count = 0;
    const char **words = nullptr;
    if (Tcl_SplitList(interp, argv[i], &count, &words) != TCL_OK) return TCL_ERROR;
    int tag = 0;
    const bool ok = count == 2 && scanTiffInt(words[0], &tag);
    if (!ok) {
      Tcl_Free(reinterpret_cast<char *>(words));
      Tcl_ResetResult(interp);
      return TCL_ERROR;
    }
    const size_t length = strlen(words[1]);
    char *name = static_cast<char *>(gmemAlloc(static_cast<int>(length + 1)));
    if (!name) {
      Tcl_Free(reinterpret_cast<char *>(words));
      Tcl_SetResult(interp, const_cast<char *>("Out of memory"), TCL_STATIC);
      return TCL_ERROR;
    }
    memcpy(name, words[1], length + 1);
    Tcl_Free(reinterpret_cast<char *>(words));
    putToIntHashTable(tiffTagTable, reinterpret_cast<const void *>(static_cast<intptr_t>(tag)),
                      name);
  }
  Tcl_SetObjResult(interp, Tcl_NewIntObj(countHashEntries(tiffTagTable)));
  return TCL_OK;
}

/* tiff index ?first? ?last? */
int tiffIndexNames(Tcl_Interp *interp, int argc, const char **argv) {
  int first = 0;
  if (argc > 2) scanTiffInt(argv[2], &first);
  int last = first;
  if (argc > 3) scanTiffInt(argv[3], &last);
  const int count = countHashEntries(tiffTagTable);
  if (count == 0) return TCL_OK;
  void **keys = getHashKeys(tiffTagTable, compareUintKeys);
  if (!keys) return TCL_ERROR;
  for (int i = first < 0 ? 0 : first; i <= last && i < count; i++) {
    const int tag = static_cast<int>(reinterpret_cast<intptr_t>(keys[i]));
    appendTiffTagName(interp, tag, tiffTagName(tag));
  }
  gmemFree(keys);
  return TCL_OK;
}

/*
 * openTiffSource --
 *     The directories named by a word: those of an open TIFF image (its tag
 *     or its path), else those of the file of that path, loaded here.
 * Results:      TCL_OK, or TCL_ERROR with the message as the result.
 */
int openTiffSource(Tcl_Interp *interp, const char *word, TiffSource *source) {
  RAMIMG *image = getRAMImageByTag(word);
  if (!image) image = getRAMImageByName(word);
  if (image) {
    const TiffPrivate *tiff = static_cast<const TiffPrivate *>(image->privateData);
    if ((image->header.imgid != IMG_TIFF && image->header.imgid != IMG_GEOTIFF) || !tiff ||
        !tiff->info || image->fd < 0) {
      Tcl_SetResult(interp, const_cast<char *>("Not a TIFF image"), TCL_STATIC);
      return TCL_ERROR;
    }
    source->fd = image->fd;
    source->info = tiff->info;
    return TCL_OK;
  }
  /* A listing only reads: the file is never opened for writing. */
  int fd = open(word, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info;
  if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    close(fd);
    fd = -1;
  }
  if (fd < 0) {
    Tcl_AppendResult(interp, "Error in open:", word, nullptr);
    return TCL_ERROR;
  }
  source->fd = fd;
  source->owned = true;
  source->info = loadTiffInfo(fd);
  if (!source->info) {
    Tcl_SetResult(interp, const_cast<char *>("Error in open TIFF image"), TCL_STATIC);
    return TCL_ERROR;
  }
  return TCL_OK;
}

/* One element per entry of a directory: tag, type, count, value, name. */
void listTiffEntries(Tcl_Interp *interp, const TiffIFD *ifd) {
  for (const TiffEntry &e : ifd->entries) {
    const bool fieldItself =
        e.count > 4 || (e.count > 2 && (e.type == TIFF_SHORT || e.type == TIFF_SSHORT));
    const long long value = fieldItself ? static_cast<int32_t>(e.value)
                                        : static_cast<long long>(narrowTiffValue(e.type, e.value));
    const char *name = tiffTagName(e.tag);
    const std::string text = fmt("%d %d %u %lld %s", e.tag, e.type, e.count, value,
                                 name ? name : "??");
    Tcl_AppendElement(interp, text.c_str());
  }
}

/* tiff data image ?-volume? ?n? ?tag? */
int tiffListData(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", "data", " imgid ?option?", nullptr);
    return TCL_ERROR;
  }
  const bool volumeForm = argc > 3 && strcmp(argv[3], "-volume") == 0;
  if (volumeForm ? argc > 6 : argc > 4) {
    if (!volumeForm) Tcl_SetResult(interp, const_cast<char *>("Syntax error"), TCL_STATIC);
    return TCL_ERROR;
  }
  TiffSource source;
  if (openTiffSource(interp, argv[2], &source) != TCL_OK) return TCL_ERROR;
  const TiffInfo *info = source.info;
  if (volumeForm && argc == 4) {
    Tcl_SetObjResult(interp, Tcl_NewIntObj(info->count));
    return TCL_OK;
  }
  int page = 1;
  if (volumeForm && (!scanTiffInt(argv[4], &page) || page < 1 || page > info->count ||
                     static_cast<size_t>(page) > info->directories.size())) {
    Tcl_SetResult(interp, const_cast<char *>("Invalid TIFF volume"), TCL_STATIC);
    return TCL_ERROR;
  }
  const TiffIFD *ifd = info->directories[static_cast<size_t>(page - 1)];
  const char *tagWord = volumeForm ? (argc > 5 ? argv[5] : nullptr) : (argc > 3 ? argv[3] : nullptr);
  if (!tagWord) {
    listTiffEntries(interp, ifd);
    return TCL_OK;
  }
  int tag = 0;
  const int index = scanTiffInt(tagWord, &tag) ? findTiffTag(ifd, tag) : -1;
  if (index < 0) return TCL_OK;
  const TiffEntry &entry = ifd->entries[static_cast<size_t>(index)];
  const char *name = tiffTagName(tag);
  Tcl_AppendElement(interp, name ? name : "??");
  return printTiffEntry(interp, source.fd, info->headerWord, &entry) ? TCL_OK : TCL_ERROR;
}

/*
 * tiffCmd --
 *     The "tiff" command.  Every call makes the tag table when it is absent.
 */
int tiffCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (!tiffTagTable) tiffTagTable = createIntHashTable();
  if (!tiffTagTable) return TCL_ERROR;
  if (argc < 2) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " option", nullptr);
    return TCL_ERROR;
  }
  const char *option = argv[1];
  if (strcmp(option, "add") == 0) return tiffAddNames(interp, argc, argv);
  if (strcmp(option, "get") == 0) {
    if (argc != 3) return TCL_ERROR;
    int tag = 0;
    if (!scanTiffInt(argv[2], &tag)) return TCL_OK;
    if (const char *name = tiffTagName(tag)) appendTiffTagName(interp, tag, name);
    return TCL_OK;
  }
  if (strcmp(option, "index") == 0) return tiffIndexNames(interp, argc, argv);
  if (strcmp(option, "count") == 0) {
    Tcl_SetObjResult(interp, Tcl_NewIntObj(countHashEntries(tiffTagTable)));
    return TCL_OK;
  }
  if (strcmp(option, "data") == 0) return tiffListData(interp, argc, argv);
  return TCL_ERROR;
}

}  // namespace

/*
 * printTiffEntry --
 *     Appends the values of one entry to the result, one element each.
 *     Values that fit in the 4-byte value field come from the entry as
 *     loaded; the others are read from the file at the field's offset.
 * Results:      true; false with a message when the values lie beyond the
 *     end of the file or cannot be read.
 */
bool printTiffEntry(Tcl_Interp *interp, int fd, int byteOrder, const TiffEntry *entry) {
  const int size = tiffValueSize(entry->type);
  const int64_t count = entry->count;
  if (count == 0) return true;
  if (count == 1 && size <= 4) {
    std::string text;
    if (entry->type == TIFF_FLOAT) {
      float value;
      memcpy(&value, &entry->value, sizeof value);
      text = fmt("%f", static_cast<double>(value));
    } else if (entry->type == TIFF_LONG) {
      text = fmt("%u", entry->value);
    } else if (entry->type == TIFF_SBYTE) {
      text = fmt("%d", static_cast<signed char>(entry->value & 0xff));
    } else {
      text = fmt("%lld", static_cast<long long>(narrowTiffValue(entry->type, entry->value)));
    }
    Tcl_AppendElement(interp, text.c_str());
    return true;
  }
  if (size == 0 || entry->type == TIFF_SBYTE) return true;
  const int64_t total = count * size;
  std::vector<unsigned char> bytes;
  bool msb = false;
  if (total <= 4) {
    bytes.resize(4);
    putU32(bytes.data(), entry->value, false);  // the field as a little-endian reading
  } else {
    struct stat info;
    if (fstat(fd, &info) != 0 || entry->value > info.st_size ||
        total > static_cast<int64_t>(info.st_size) - entry->value) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("Values of tag %d lie beyond the end of the file",
                                             entry->tag));
      return false;
    }
    bytes.resize(static_cast<size_t>(total));
    if (!readTiffBytes(fd, bytes.data(), total, entry->value)) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("Error reading the values of tag %d", entry->tag));
      return false;
    }
    msb = byteOrder == kTiffBigEndian;
  }

  const unsigned char *p = bytes.data();
  if (entry->type == TIFF_ASCII) {
    const size_t length = strnlen(reinterpret_cast<const char *>(p), static_cast<size_t>(count));
    Tcl_AppendElement(interp, std::string(reinterpret_cast<const char *>(p), length).c_str());
    return true;
  }
  for (int64_t i = 0; i < count; i++) {
    const unsigned char *v = p + i * size;
    std::string text;
    switch (entry->type) {
    case TIFF_BYTE: text = fmt("%d", v[0]); break;
    case TIFF_UNDEFINED: text = fmt("%d", static_cast<signed char>(v[0])); break;
    case TIFF_SHORT: text = fmt("%d", getU16(v, msb)); break;
    case TIFF_SSHORT: text = fmt("%d", static_cast<int16_t>(getU16(v, msb))); break;
    case TIFF_LONG: text = fmt("%u", getU32(v, msb)); break;
    case TIFF_SLONG: text = fmt("%d", getI32(v, msb)); break;
    case TIFF_RATIONAL: text = fmt("%u %u", getU32(v, msb), getU32(v + 4, msb)); break;
    case TIFF_SRATIONAL: text = fmt("%d %d", getI32(v, msb), getI32(v + 4, msb)); break;
    case TIFF_FLOAT: text = fmt("%f", static_cast<double>(getF32(v, msb))); break;
    case TIFF_DOUBLE: text = fmt("%f", getF64(v, msb)); break;
    default: break;
    }
    Tcl_AppendElement(interp, text.c_str());
  }
  return true;
}

/*
 * tiffCmdDeleted --
 *     Frees the tag table with every name and leaves it absent.
 */
void tiffCmdDeleted(ClientData) {
  if (!tiffTagTable) return;
  deleteHashTable(tiffTagTable, freeHashValue);
  tiffTagTable = nullptr;
}

bool tiffTagTableExists() { return tiffTagTable != nullptr; }

/*
 * Tiff_Init --
 *     Creates the "tiff" command of an interpreter.
 * Results:      TCL_OK; TCL_ERROR when the command cannot be made.
 */
int Tiff_Init(Tcl_Interp *interp) {
  Tcl_Command command = Tcl_CreateCommand(interp, "tiff", tiffCmd,
                                          static_cast<ClientData>(tiffTagTable), tiffCmdDeleted);
  return command ? TCL_OK : TCL_ERROR;
}

}  // namespace vesk
