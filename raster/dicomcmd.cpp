/*
 * dicomcmd.cpp --
 *     The "dicom" command: a process-wide data dictionary of DICOM tags
 *     (VR, two numbers and a name each, supplied by scripts) and listings
 *     of the elements and values of a DICOM file or an open DICOM image.
 *
 *     A node's value is read only as far as its length says the bytes are
 *     there: item and delimiter nodes carry none, and the Pixel Data node
 *     holds a file offset in place of the pixels, so it shows no value.
 */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/core.h"
#include "core/families.h"
#include "raster/dicom.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"
#include "vesk/hash.h"
#include "vesk/imagecmds.h"

namespace vesk {

void formatDicomValue(Tcl_Interp *interp, int vr, int length, const unsigned char *value,
                      const char *name);

namespace {

/*
 * One dictionary entry, one gmemAlloc block: the VR code, the two numbers
 * given with the tag, then the NUL-terminated name.
 */
struct DicomDictEntry {
  int16_t vr;
  signed char first;
  signed char second;
};
constexpr size_t kDictNameOffset = sizeof(DicomDictEntry);

/* Key group << 16 | element -> DicomDictEntry; null while absent. */
Tcl_HashTable *dicomTagTable = nullptr;

const char *dictName(const DicomDictEntry *entry) {
  return reinterpret_cast<const char *>(entry) + kDictNameOffset;
}

const void *dictKey(int group, int element) {
  return reinterpret_cast<const void *>(static_cast<intptr_t>(dicomKey(group, element)));
}

const DicomDictEntry *findDictEntry(int group, int element) {
  if (!dicomTagTable) return nullptr;
  Tcl_HashEntry *entry = findHashEntry(dicomTagTable, dictKey(group, element));
  return entry ? static_cast<const DicomDictEntry *>(getHashValue(entry)) : nullptr;
}

/* Reads a leading hexadecimal number as "%x" does. */
bool scanHex(const char *text, int *value) {
  unsigned int v = 0;
  if (sscanf(text, "%x", &v) != 1) return false;
  *value = static_cast<int>(v & 0xffff);
  return true;
}

/* The element of one dictionary entry, as "get" and "index" give it. */
void appendDictEntry(Tcl_Interp *interp, int group, int element, const DicomDictEntry *entry) {
  const char *name = dictName(entry);
  const char *form = strchr(name, ' ') ? "%04x %04x %s %d %d \"%s\"" : "%04x %04x %s %d %d %s";
  const std::string text = fmt(form, group, element, getDicomVRName(entry->vr), entry->first,
                               entry->second, name);
  Tcl_AppendElement(interp, text.c_str());
}

/* dicom add {group element vr first second name} ... */
int dicomAddEntries(Tcl_Interp *interp, int argc, const char **argv) {
  for (int i = 2; i < argc; i++) {
    int count = 0;
    const char **words = nullptr;
    if (Tcl_SplitList(interp, argv[i], &count, &words) != TCL_OK) return TCL_ERROR;
    int group = 0, element = 0, first = 0, second = 0;
    const bool ok = count == 6 && scanHex(words[0], &group) && scanHex(words[1], &element) &&
                    sscanf(words[3], "%d", &first) == 1 && sscanf(words[4], "%d", &second) == 1;
    if (!ok) {
      Tcl_Free(reinterpret_cast<char *>(words));
      Tcl_ResetResult(interp);
      return TCL_ERROR;
    }
    const size_t length = strlen(words[5]);
    void *block = gmemAlloc(static_cast<int>(kDictNameOffset + length + 1));
    if (!block) {
      Tcl_Free(reinterpret_cast<char *>(words));
      Tcl_SetResult(interp, const_cast<char *>("Out of memory"), TCL_STATIC);
      return TCL_ERROR;
    }
    DicomDictEntry *entry = static_cast<DicomDictEntry *>(block);
    entry->vr = static_cast<int16_t>(getDicomVR(words[2]));
    entry->first = static_cast<signed char>(first);
    entry->second = static_cast<signed char>(second);
    memcpy(static_cast<char *>(block) + kDictNameOffset, words[5], length + 1);
    Tcl_Free(reinterpret_cast<char *>(words));
    putToIntHashTable(dicomTagTable, dictKey(group, element), block);
  }
  Tcl_SetObjResult(interp, Tcl_NewIntObj(countHashEntries(dicomTagTable)));
  return TCL_OK;
}

/* dicom index ?first? ?last? */
int dicomIndexEntries(Tcl_Interp *interp, int argc, const char **argv) {
  int first = 0;
  if (argc > 2) sscanf(argv[2], "%d", &first);
  int last = first;
  if (argc > 3) sscanf(argv[3], "%d", &last);
  const int count = countHashEntries(dicomTagTable);
  if (count == 0) return TCL_OK;
  void **keys = getHashKeys(dicomTagTable, compareUintKeys);
  if (!keys) return TCL_ERROR;
  for (int i = first < 0 ? 0 : first; i <= last && i < count; i++) {
    const uint32_t key = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(keys[i]));
    const int group = static_cast<int>(key >> 16), element = static_cast<int>(key & 0xffff);
    appendDictEntry(interp, group, element, findDictEntry(group, element));
  }
  gmemFree(keys);
  return TCL_OK;
}

/* The element table named by a word, and whether the command must free it. */
struct DicomSource {
  Tcl_HashTable *table = nullptr;
  bool owned = false;

  ~DicomSource() {
    if (owned) deleteDicomHashTable(table);
  }
};

/*
 * openDicomSource --
 *     The element table of an open DICOM image (its tag or its path), else
 *     the table walked from the file of that path.
 * Results:      TCL_OK, or TCL_ERROR with the message as the result.
 */
int openDicomSource(Tcl_Interp *interp, const char *word, DicomSource *source) {
  RAMIMG *image = getRAMImageByTag(word);
  if (!image) image = getRAMImageByName(word);
  if (image) {
    if (image->header.imgid != IMG_DICOM || !image->privateData) {
      Tcl_AppendResult(interp, "Not a DICOM image: ", word, nullptr);
      return TCL_ERROR;
    }
    source->table = static_cast<Tcl_HashTable *>(image->privateData);
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
  source->table = readDicomElements(fd, nullptr);
  source->owned = true;
  close(fd);
  if (!source->table) {
    Tcl_AppendResult(interp, "Not a DICOM image: ", word, nullptr);
    return TCL_ERROR;
  }
  return TCL_OK;
}

/* The value bytes a node really holds (see the file comment). */
int nodeValueLength(const DicomElementNode *node) {
  if (dicomNodeGroup(node) == 0x7fe0 && dicomNodeElement(node) == 0x0010) return 0;
  if (node->length < 0 || node->length == 65535) return 0;
  return node->length;
}

/* One node: group, element, VR name, name and value text. */
void appendDicomNode(Tcl_Interp *interp, DicomElementNode *node) {
  const int group = dicomNodeGroup(node), element = dicomNodeElement(node);
  const DicomDictEntry *entry = findDictEntry(group, element);
  int vr = node->vr;
  if ((vr == 0 || vr == -1) && entry) vr = entry->vr;
  Tcl_AppendElement(interp, fmt("%04x", group));
  Tcl_AppendElement(interp, fmt("%04x", element));
  formatDicomValue(interp, vr, nodeValueLength(node), getDicomElementValue(node),
                   entry ? dictName(entry) : "??");
}

/* dicom data image ?group? ?element? */
int dicomListData(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", "data", " imgid ?option?", nullptr);
    return TCL_ERROR;
  }
  if (argc > 5) {
    Tcl_SetResult(interp, const_cast<char *>("Syntax error"), TCL_STATIC);
    return TCL_ERROR;
  }
  DicomSource source;
  if (openDicomSource(interp, argv[2], &source) != TCL_OK) return TCL_ERROR;
  int group = 0, element = 0;
  if (argc > 3 && !scanHex(argv[3], &group)) return TCL_OK;
  if (argc > 4 && !scanHex(argv[4], &element)) return TCL_OK;

  if (argc == 5) {
    for (DicomElementNode *node = findDicomElement(source.table, group, element); node;
         node = node->next) {
      appendDicomNode(interp, node);
      if (node->next) Tcl_AppendResult(interp, "\n", nullptr);
    }
    return TCL_OK;
  }
  const int count = countHashEntries(source.table);
  if (count == 0) return TCL_OK;
  void **keys = getHashKeys(source.table, compareUintKeys);
  if (!keys) return TCL_ERROR;
  for (int i = 0; i < count; i++) {
    const uint32_t key = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(keys[i]));
    const int g = static_cast<int>(key >> 16), e = static_cast<int>(key & 0xffff);
    if (argc == 3) Tcl_AppendElement(interp, fmt("%04x %04x", g, e));
    else if (g == group) Tcl_AppendElement(interp, fmt("%04x", e));
  }
  gmemFree(keys);
  return TCL_OK;
}

/*
 * dicomCmd --
 *     The "dicom" command.  Every call makes the dictionary when absent.
 */
int dicomCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (!dicomTagTable) dicomTagTable = createIntHashTable();
  if (!dicomTagTable) return TCL_ERROR;
  if (argc < 2) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " option", nullptr);
    return TCL_ERROR;
  }
  const char *option = argv[1];
  if (strcmp(option, "add") == 0) return dicomAddEntries(interp, argc, argv);
  if (strcmp(option, "get") == 0) {
    if (argc != 4) return TCL_ERROR;
    int group = 0, element = 0;
    if (!scanHex(argv[2], &group) || !scanHex(argv[3], &element)) return TCL_OK;
    if (const DicomDictEntry *entry = findDictEntry(group, element))
      appendDictEntry(interp, group, element, entry);
    return TCL_OK;
  }
  if (strcmp(option, "index") == 0) return dicomIndexEntries(interp, argc, argv);
  if (strcmp(option, "count") == 0) {
    Tcl_SetObjResult(interp, Tcl_NewIntObj(countHashEntries(dicomTagTable)));
    return TCL_OK;
  }
  if (strcmp(option, "data") == 0) return dicomListData(interp, argc, argv);
  return TCL_ERROR;
}

/* The value bytes up to the first zero byte, without leading and trailing blanks. */
std::string dicomValueText(const unsigned char *value, int length) {
  const char *text = reinterpret_cast<const char *>(value);
  size_t end = strnlen(text, static_cast<size_t>(length));
  while (end > 1 && text[end - 1] == ' ') end--;
  size_t start = 0;
  while (start < end && text[start] == ' ') start++;
  return std::string(text + start, end - start);
}

/* A 2- or 4-byte value as a number, else the text. */
std::string dicomNumberOrText(const unsigned char *value, int length) {
  if (length == 2) return fmt("%d", getU16(value, false));
  if (length == 4) return fmt("%d", getI32(value, false));
  return dicomValueText(value, length);
}

}  // namespace

/*
 * formatDicomValue --
 *     Appends three elements to the result: the VR's name, the tag's name
 *     and the text of the value, chosen by the VR.  Only `length` bytes of
 *     the value are read.
 */
void formatDicomValue(Tcl_Interp *interp, int vr, int length, const unsigned char *value,
                      const char *name) {
  if (length < 0) length = 0;
  std::string text;
  switch (vr) {
  case VR_RT:
    text = dicomNumberOrText(value, length);
    break;
  case VR_AS: case VR_CS: case VR_DA: case VR_DS: case VR_IS: case VR_LT: case VR_PN:
  case VR_SH: case VR_TM: case VR_UI: case VR_LO:
    text = dicomValueText(value, length);
    break;
  case VR_US:
    if (length >= 2) text = fmt("%d", getU16(value, false));
    break;
  case VR_AE: case VR_AT: case VR_DT: case VR_FL: case VR_FD: case VR_OB: case VR_OW:
  case VR_SL: case VR_SQ: case VR_SS: case VR_ST: case VR_UL: case VR_UN: case VR_UT:
    text = getDicomVRName(vr);
    break;
  default:
    if (length == 2 || length == 4) {
      text = dicomNumberOrText(value, length);
    } else {
      for (int i = 0; i < length; i++)
        text += value[i] < 32 || value[i] > 127 ? '.' : static_cast<char>(value[i]);
    }
    break;
  }
  Tcl_AppendElement(interp, getDicomVRName(vr));
  Tcl_AppendElement(interp, name);
  Tcl_AppendElement(interp, text.c_str());
}

/*
 * dicomCmdDeleted --
 *     Frees the dictionary with every entry and leaves it absent.
 */
void dicomCmdDeleted(ClientData) {
  if (!dicomTagTable) return;
  deleteHashTable(dicomTagTable, freeHashValue);
  dicomTagTable = nullptr;
}

bool dicomTagTableExists() { return dicomTagTable != nullptr; }

/*
 * freeTagTables --
 *     Exit-time clean-up: the DICOM dictionary, then the TIFF tag names.
 */
void freeTagTables() {
  if (dicomTagTableExists()) dicomCmdDeleted(nullptr);
  if (tiffTagTableExists()) tiffCmdDeleted(nullptr);
}

}  // namespace vesk

/*
 * Dicom_Init --
 *     Creates the "dicom" command of an interpreter.
 * Results:      TCL_OK; TCL_ERROR when the command cannot be made.
 */
int Dicom_Init(Tcl_Interp *interp) {
  Tcl_Command command =
      Tcl_CreateCommand(interp, "dicom", vesk::dicomCmd,
                        static_cast<ClientData>(vesk::dicomTagTable), vesk::dicomCmdDeleted);
  return command ? TCL_OK : TCL_ERROR;
}
