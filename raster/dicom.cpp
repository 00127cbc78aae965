/*
 * dicom.cpp --
 *     Reading of DICOM image files.  The walk reads the data elements up
 *     to the pixel data into an element table (sequence contents chained
 *     behind their sequence), the probe fills the image header from the
 *     image-pixel group 0028, and open images read their pixels a row at
 *     a time, or a run-length encoded palette frame at a time.
 *
 *     Every length and offset read from the file is checked against the
 *     file's size before it is used.
 */
#include "raster/dicom.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <new>
#include <vector>

#include "core/core.h"
#include "core/text.h"
#include "raster/ramimg.h"
#include "raster/sniffer.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

const char *const dicomVRNames[kDicomVRCount] = {
    "RT", "AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO", "LT", "OB",
    "OW", "PN", "SH", "SL", "SQ", "SS", "ST", "TM", "UI", "UL", "UN", "US", "UT"};

constexpr uint32_t kUndefinedLength = 0xffffffffu;
constexpr int kItemGroup = 0xfffe;
constexpr int kItem = 0xe000;
constexpr int kItemDelimitation = 0xe00d;
constexpr int kSequenceDelimitation = 0xe0dd;
constexpr int kPixelGroup = 0x7fe0;
constexpr int kPixelElement = 0x0010;
constexpr int kRleHeaderSize = 64;
constexpr int kRleMaxSegments = 15;
constexpr int kDicomByPlane = 3;  /* readerFlag of colour-by-plane pixel data */
const char kImplicitLittleEndian[] = "1.2.840.10008.1.2";
const char kExplicitBigEndian[] = "1.2.840.10008.1.2.2";

/* Where the walk reads from: a file (positioned reads) or a buffer. */
struct DicomSource {
  int fd = -1;
  const unsigned char *data = nullptr;
  int64_t size = 0;

  /* Reads exactly length bytes at offset; false when the source ends first. */
  bool read(int64_t offset, void *to, int64_t length) const {
    if (offset < 0 || length < 0 || offset > size || length > size - offset) return false;
    if (data) {
      memcpy(to, data + offset, static_cast<size_t>(length));
      return true;
    }
    unsigned char *into = static_cast<unsigned char *>(to);
    int64_t done = 0;
    while (done < length) {
      const ssize_t n = pread(fd, into + done, static_cast<size_t>(length - done), offset + done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += n;
    }
    return true;
  }
};

/* The explicit-VR representations whose length is a uint32 after two
   reserved bytes. */
bool hasLongLength(const unsigned char *vr) {
  static const char *const longs[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                      "SV", "UC", "UN", "UR", "UT", "UV"};
  for (const char *name : longs)
    if (vr[0] == name[0] && vr[1] == name[1]) return true;
  return false;
}

/*
 * A node with room for `valueBytes` bytes and their terminating zero.
 * Results: the node, null when the heap refuses.
 */
DicomElementNode *newDicomNode(int group, int element, int length, int vr, int64_t valueBytes) {
  if (valueBytes < 0 ||
      valueBytes > INT_MAX - static_cast<int64_t>(sizeof(DicomElementNode)) - 1)
    return nullptr;
  const unsigned size = static_cast<unsigned>(sizeof(DicomElementNode) + valueBytes + 1);
  DicomElementNode *node = reinterpret_cast<DicomElementNode *>(Tcl_AttemptAlloc(size));
  if (!node) return nullptr;
  memset(node, 0, size);
  node->tag = static_cast<int>((static_cast<uint32_t>(element) & 0xffff) << 16 |
                               (static_cast<uint32_t>(group) & 0xffff));
  node->length = length;
  node->vr = static_cast<short>(vr);
  node->next = nullptr;
  return node;
}

void freeDicomChain(DicomElementNode *node) {
  while (node) {
    DicomElementNode *next = node->next;
    gmemFree(node);
    node = next;
  }
}

/* A value as text (it is zero-terminated); null when absent or binary. */
const char *dicomText(Tcl_HashTable *table, int group, int element) {
  DicomElementNode *node = findDicomElement(table, group, element);
  if (!node || node->length < 0) return nullptr;
  if (group == kPixelGroup && element == kPixelElement) return nullptr;
  return reinterpret_cast<const char *>(getDicomElementValue(node));
}

/* A US value: true when present with at least two bytes. */
bool dicomUint16(Tcl_HashTable *table, int group, int element, int index, int *value) {
  DicomElementNode *node = findDicomElement(table, group, element);
  if (!node || node->length < 2 * (index + 1)) return false;
  *value = getU16(getDicomElementValue(node) + 2 * index, false);
  return true;
}

/* The DICOM text of a UID or code string without its padding. */
std::string trimmedText(const char *text) {
  std::string value = text ? text : "";
  while (!value.empty() && (value.back() == ' ' || value.back() == '\0')) value.pop_back();
  size_t first = value.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : value.substr(first);
}

/*
 * Steps over the fragments of encapsulated pixel data nested inside a
 * sequence (an icon image): items up to the Sequence Delimitation.
 * Results: the position after it, or -1 when the file ends first.
 */
int64_t skipFragments(const DicomSource &src, int64_t pos) {
  unsigned char item[8];
  while (src.read(pos, item, 8)) {
    const int group = getU16(item, false), element = getU16(item + 2, false);
    const uint32_t length = getU32(item + 4, false);
    pos += 8;
    if (group != kItemGroup) return -1;
    if (element == kSequenceDelimitation) return pos;
    if (length == kUndefinedLength || length > static_cast<uint64_t>(src.size - pos)) return -1;
    pos += length;
  }
  return -1;
}

/*
 * walkDicomElements --
 *     The element walk over a file or a buffer (see readDicomElements).
 */
Tcl_HashTable *walkDicomElements(const DicomSource &src, int64_t *dataOffset) {
  unsigned char head[132];
  if (!src.read(0, head, sizeof head)) return nullptr;
  int64_t pos = memcmp(head + 128, "DICM", 4) == 0 ? 132 : 0;
  unsigned char e[12];
  if (!src.read(pos, e, 8)) return nullptr;
  const int firstGroup = getU16(e, false);
  if (firstGroup != 0x0002 && firstGroup != 0x0008) return nullptr;
  bool explicitVR = firstGroup == 0x0002;
  bool inMeta = explicitVR;

  Tcl_HashTable *table = createIntHashTable();
  if (!table) return nullptr;
  auto fail = [&]() -> Tcl_HashTable * {
    deleteDicomHashTable(table);
    return nullptr;
  };
  DicomElementNode *prev = nullptr;  // the last node made: the tail of the current chain
  int depth = 0;
  bool prevItemDelimitation = false;
  std::vector<int64_t> itemEnds;  // ends of the open items of defined length
  uint32_t pixelLength = 0;

  auto place = [&](int group, int element, DicomElementNode *node, bool chain) {
    if (chain && prev) prev->next = node;
    else storeDicomElement(table, group, element, node);
    prev = node;
  };

  for (;;) {
    // An item of defined length closes where its bytes end, as if its
    // Item Delimitation had been read.
    while (!itemEnds.empty() && pos >= itemEnds.back()) {
      itemEnds.pop_back();
      depth = std::max(depth - 1, 0);
      prevItemDelimitation = true;
    }
    if (!src.read(pos, e, 8)) return fail();  // no Pixel Data before the end
    const int group = getU16(e, false), element = getU16(e + 2, false);
    if (inMeta && group != 0x0002) {
      // The meta header is explicit; the data set follows its transfer syntax.
      inMeta = false;
      const std::string syntax = trimmedText(dicomText(table, 0x0002, 0x0010));
      if (syntax == kImplicitLittleEndian) explicitVR = false;
      // Elements are read little-endian only: a big-endian data set would
      // be walked as garbage.
      if (syntax == kExplicitBigEndian) {
        refuseImageFile("DICOM", "Can't read a big-endian DICOM data set (transfer syntax %s).\n",
                        kExplicitBigEndian);
        return fail();
      }
    }

    if (group == kItemGroup) {
      const uint32_t length = getU32(e + 4, false);
      pos += 8;
      if (element == kItem) {
        depth += prevItemDelimitation ? 1 : 2;
        if (length != kUndefinedLength) {
          if (length > static_cast<uint64_t>(src.size - pos)) return fail();
          itemEnds.push_back(pos + length);
        }
      } else if (element == kItemDelimitation || element == kSequenceDelimitation) {
        depth = std::max(depth - 1, 0);
      }
      DicomElementNode *node =
          newDicomNode(group, element, length == kUndefinedLength ? -1 : 0, VR_RT, 0);
      if (!node) return fail();
      place(group, element, node, true);
      prevItemDelimitation = element == kItemDelimitation;
      continue;
    }

    uint32_t length = 0;
    int vr = VR_RT;
    int headLength = 8;
    if (explicitVR) {
      char name[3] = {static_cast<char>(e[4]), static_cast<char>(e[5]), 0};
      vr = getDicomVR(name);
      if (hasLongLength(e + 4)) {
        if (!src.read(pos + 8, e + 8, 4)) return fail();
        length = getU32(e + 8, false);
        headLength = 12;
      } else {
        length = getU16(e + 6, false);
      }
    } else {
      length = getU32(e + 4, false);
    }
    pos += headLength;

    if (group == kPixelGroup && element == kPixelElement) {
      if (depth == 0) {
        pixelLength = length;
        break;
      }
      if (length == kUndefinedLength) {
        // Encapsulated pixel data of an icon: its fragments are not elements.
        DicomElementNode *node = newDicomNode(group, element, -1, vr, 0);
        if (!node) return fail();
        place(group, element, node, true);
        prevItemDelimitation = false;
        pos = skipFragments(src, pos);
        if (pos < 0) return fail();
        continue;
      }
    }

    DicomElementNode *node = nullptr;
    if (length == kUndefinedLength) {
      node = newDicomNode(group, element, -1, vr, 0);
    } else {
      if (length > static_cast<uint64_t>(src.size - pos)) return fail();
      node = newDicomNode(group, element, static_cast<int>(std::min<uint32_t>(length, INT_MAX)),
                          vr, length);
      if (node && length > 0 && !src.read(pos, getDicomElementValue(node), length)) {
        gmemFree(node);
        return fail();
      }
      pos += length;
    }
    if (!node) return fail();
    place(group, element, node, depth > 0);
    prevItemDelimitation = false;
  }

  // The pixel data node holds the offset of the pixel data in place of it.
  DicomElementNode *pixel =
      newDicomNode(kPixelGroup, kPixelElement,
                   pixelLength == kUndefinedLength ? -1
                                                   : static_cast<int>(std::min<uint32_t>(pixelLength, INT_MAX)),
                   explicitVR ? getDicomVR(std::string(reinterpret_cast<char *>(e + 4), 2).c_str())
                              : VR_RT,
                   sizeof(int64_t));
  if (!pixel) return fail();
  storeDicomElement(table, kPixelGroup, kPixelElement, pixel);
  if (pixelLength == kUndefinedLength) {
    unsigned char item[8];
    if (src.read(pos, item, 8) && getU16(item, false) == kItemGroup &&
        getU16(item + 2, false) == kItem) {
      const uint32_t length = getU32(item + 4, false);
      if (length == kUndefinedLength || length > static_cast<uint64_t>(src.size - pos - 8))
        return fail();
      DicomElementNode *table0 = newDicomNode(kItemGroup, kItem, static_cast<int>(length), VR_RT,
                                              length);
      if (!table0) return fail();
      if (length > 0 && !src.read(pos + 8, getDicomElementValue(table0), length)) {
        gmemFree(table0);
        return fail();
      }
      pixel->next = table0;
      pos += 8 + length;
    }
  }
  memcpy(getDicomElementValue(pixel), &pos, sizeof pos);
  if (dataOffset) *dataOffset = pos;
  return table;
}

Tcl_HashTable *tableOf(RAMIMG *image) {
  return image->header.imgid == IMG_DICOM ? static_cast<Tcl_HashTable *>(image->privateData)
                                          : nullptr;
}

int64_t imageSourceSize(RAMIMG *image) {
  if (image->memData) return image->memLength;
  struct stat info;
  if (image->fd < 0 || fstat(image->fd, &info) != 0) return 0;
  return info.st_size;
}

/* Reads image bytes from the file or the in-memory copy; false when short. */
bool readImageBytes(RAMIMG *image, int64_t offset, void *to, int64_t length) {
  DicomSource src;
  src.fd = image->fd;
  src.data = image->memData;
  src.size = imageSourceSize(image);
  return src.read(offset, to, length);
}

/* The frame buffer handed to the line cache; it lives until the next call. */
std::vector<unsigned char> frameBuffer;

unsigned char *sizedFrameBuffer(int64_t size) {
  if (size <= 0) return nullptr;
  try {
    frameBuffer.assign(static_cast<size_t>(size), 0);
  } catch (const std::exception &) {
    vesk_fprintf(stderr, "Can't allocate %lld bytes for a DICOM frame.\n",
                 static_cast<long long>(size));
    return nullptr;
  }
  return frameBuffer.data();
}

}  // namespace

/* getDicomVRName -- the two letters of a VR code; "??" outside the list. */
const char *getDicomVRName(int code) {
  return code >= 0 && code < kDicomVRCount ? dicomVRNames[code] : "??";
}

/* getDicomVR -- the code of a two-letter VR name; 0 for one not in the list. */
int getDicomVR(const char *name) {
  if (!name || !name[0] || !name[1]) return VR_RT;
  for (int code = 0; code < kDicomVRCount; code++)
    if (name[0] == dicomVRNames[code][0] && name[1] == dicomVRNames[code][1]) return code;
  return VR_RT;
}

/*
 * storeDicomElement --
 *     Puts a node under group << 16 | element.  A node stored there before
 *     is freed with its chain.
 * Results:      1 for a new key, 0 when a node was replaced.
 */
int storeDicomElement(Tcl_HashTable *table, int group, int element, DicomElementNode *node) {
  const intptr_t key = dicomKey(group, element);
  int isNew = 0;
  Tcl_HashEntry *entry = createHashEntry(table, reinterpret_cast<const void *>(key), &isNew);
  if (!isNew) freeDicomChain(static_cast<DicomElementNode *>(getHashValue(entry)));
  setHashValue(entry, node);
  return isNew;
}

DicomElementNode *findDicomElement(Tcl_HashTable *table, int group, int element) {
  if (!table) return nullptr;
  const intptr_t key = dicomKey(group, element);
  Tcl_HashEntry *entry = findHashEntry(table, reinterpret_cast<const void *>(key));
  return entry ? static_cast<DicomElementNode *>(getHashValue(entry)) : nullptr;
}

unsigned char *getDicomElementValue(DicomElementNode *node) {
  return reinterpret_cast<unsigned char *>(node) + sizeof(DicomElementNode);
}

int64_t getDicomPixelOffset(DicomElementNode *pixelNode) {
  int64_t offset = 0;
  if (pixelNode) memcpy(&offset, getDicomElementValue(pixelNode), sizeof offset);
  return offset;
}

/*
 * readDicomElements --
 *     Walks the data elements of a DICOM file up to its Pixel Data.  Files
 *     with the 128-byte preamble and "DICM" and files without it are read;
 *     the first group must be 0002 (explicit VR, the data set then as its
 *     transfer syntax says) or 0008 (implicit VR), little-endian.
 * Results:      the element table, null when the file is not DICOM, is
 *     cut short or holds no Pixel Data.
 * Side effects: *dataOffset gets the offset of the pixel data.  The file
 *     position is not used.
 */
Tcl_HashTable *readDicomElements(int fd, int64_t *dataOffset) {
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) return nullptr;
  DicomSource src;
  src.fd = fd;
  src.size = info.st_size;
  return walkDicomElements(src, dataOffset);
}

Tcl_HashTable *readDicomElementsFromBuffer(const unsigned char *data, int64_t size,
                                           int64_t *dataOffset) {
  DicomSource src;
  src.data = data;
  src.size = data ? size : 0;
  return walkDicomElements(src, dataOffset);
}

/*
 * readDicomPalette --
 *     The palette of a PALETTE COLOR image: entry count and depth from the
 *     red descriptor (0028,1101), the entries from (0028,1201) to
 *     (0028,1203).  A 16-bit table gives the high byte of each entry,
 *     others the low byte of each word.  At most 256 entries are taken;
 *     entries a short table lacks are 0.
 * Results:      the entry count.
 */
int readDicomPalette(unsigned char (*palette)[3], Tcl_HashTable *table) {
  int count = 0, depth = 0;
  if (!dicomUint16(table, 0x0028, 0x1101, 0, &count) ||
      !dicomUint16(table, 0x0028, 0x1101, 2, &depth))
    return 0;
  count = std::min(count == 0 ? 65536 : count, 256);
  for (int channel = 0; channel < 3; channel++) {
    DicomElementNode *node = findDicomElement(table, 0x0028, 0x1201 + channel);
    const int64_t words = node && node->length > 0 ? node->length / 2 : 0;
    const unsigned char *value = node ? getDicomElementValue(node) : nullptr;
    for (int i = 0; i < count; i++) {
      const int v = i < words ? getU16(value + 2 * i, false) : 0;
      palette[i][channel] = static_cast<unsigned char>(depth == 16 ? v >> 8 : v & 0xff);
    }
  }
  return count;
}

/* getDicomFrameTime -- Frame Time (0018,1063) in ms, else 33.333. */
double getDicomFrameTime(Tcl_HashTable *table) {
  const char *text = dicomText(table, 0x0018, 0x1063);
  if (!text) return 33.333;
  char *end = nullptr;
  const double value = strtod(text, &end);
  return end != text ? value : 33.333;
}

/*
 * parseDicomHeader --
 *     Fills an image header from an element table: image-pixel group 0028,
 *     palette, pixel spacing.  Images without rows, columns, samples or a
 *     bit count the store can hold, uncompressed pixel data that the
 *     file does not hold whole, and encapsulated frames larger than the
 *     file's bytes can code, are refused.
 * Results:      1, or 0 (with a message where the file is DICOM but its
 *     image cannot be read).
 */
int parseDicomHeader(Tcl_HashTable *table, int64_t dataOffset, int64_t fileSize,
                     ImageHeader *header) {
  const char *compression = dicomText(table, 0x0028, 0x0060);
  if (compression && strncmp(compression, "NONE", 4) != 0) {
    refuseImageFile("DICOM", "Unable to read compressed DICOM image.\n");
    return 0;
  }
  header->offset = dataOffset;
  header->altFd = -1;
  header->imgid = IMG_DICOM;
  header->mapid = MAPID_GRID;
  header->x0 = header->y0 = 0;
  header->dx = header->dy = 1.0;
  header->top = header->left = 0;
  header->nindices = 0;
  header->nbands = 1;
  header->volumes = 0;
  header->bits = 8;
  header->transparent = -1;
  header->readerFlag = 0;

  const char *photometric = dicomText(table, 0x0028, 0x0004);
  if (photometric && strncmp(photometric, "PALETTE COLOR", 13) == 0) {
    header->nindices = readDicomPalette(header->palette, table);
    header->readerFlag = 2;
  }
  int value = 0;
  if (dicomUint16(table, 0x0028, 0x0002, 0, &value)) header->nbands = value;
  if (const char *frames = dicomText(table, 0x0028, 0x0008)) {
    const long n = strtol(frames, nullptr, 10);
    header->volumes = n > 0 && n <= INT_MAX ? static_cast<int>(n) : 0;
  }
  int rows = 0, columns = 0, bits = 0;
  if (!dicomUint16(table, 0x0028, 0x0010, 0, &rows) ||
      !dicomUint16(table, 0x0028, 0x0011, 0, &columns) ||
      !dicomUint16(table, 0x0028, 0x0100, 0, &bits) || rows <= 0 || columns <= 0 ||
      header->nbands <= 0) {
    refuseImageFile("DICOM", "DICOM file without an image size.\n");
    return 0;
  }
  header->rows = rows;
  header->columns = columns;
  header->bits = bits;

  int sign = 0;
  const bool isSigned = dicomUint16(table, 0x0028, 0x0103, 0, &sign) && sign != 0;
  switch (bits) {
  case 4: header->pixelid = P_4BITS; break;
  case 8: header->pixelid = isSigned ? P_SBYTE : P_BYTE; break;
  case 16: header->pixelid = isSigned ? P_SHORT : P_USHORT; break;
  case 32: header->pixelid = isSigned ? P_LONG : P_ULONG; break;
  default:
    refuseImageFile("DICOM", "Unsupported DICOM pixel size: %d bits.\n", bits);
    return 0;
  }
  int highBit = 0;
  header->msbf = dicomUint16(table, 0x0028, 0x0102, 0, &highBit) && highBit != 0 ? 0 : msbFirst();
  // PixelSpacing is row spacing (vertical) first, then column spacing.
  if (const char *spacing = dicomText(table, 0x0028, 0x0030)) {
    double between[2];
    if (sscanf(spacing, "%lf\\%lf", &between[0], &between[1]) == 2) {
      header->dy = between[0];
      header->dx = between[1];
    }
  }
  int planar = 0;
  if (header->nbands > 1 && dicomUint16(table, 0x0028, 0x0006, 0, &planar) && planar == 1) {
    // Colour by plane: records are gathered from the planes on reading,
    // and the file is not written in place.
    if (bits % 8 != 0) {
      refuseImageFile("DICOM", "Unsupported DICOM pixel size: %d bits.\n", bits);
      return 0;
    }
    header->readerFlag = kDicomByPlane;
  }

  // A record holds every sample of a row, rounded up to whole bytes.
  header->block = (int64_t{columns} * header->nbands * bits + 7) / 8;
  DicomElementNode *pixel = findDicomElement(table, kPixelGroup, kPixelElement);
  if (!pixel) return 0;
  if (pixel->length >= 0 &&
      !extentFits(dataOffset, header->block * rows, std::max(header->volumes, 1), fileSize)) {
    refuseImageFile("DICOM", "DICOM pixel data ends beyond the end of the file.\n");
    return 0;
  }
  if (pixel->length < 0) {
    // Encapsulated frames are compressed, but not without bound: run-length
    // segments give at most 64 bytes a byte, and no other codec comes near
    // 1024.  A geometry past that is a damaged head, whose lines would only
    // cost memory and time.
    const int64_t ratio = header->readerFlag == 2 ? 64 : 1024;
    const int64_t held = std::max<int64_t>(fileSize - dataOffset, 0);
    if (header->block > held * ratio / rows) {
      refuseImageFile("DICOM",
                      "A DICOM image of %d x %d pixels of %d samples can't be held in %lld bytes.\n",
                      columns, rows, header->nbands, static_cast<long long>(held));
      return 0;
    }
  }
  return 1;
}

/*
 * readDicomHeader --
 *     The sniffer's DICOM probe.
 * Results:      the imgid DICOM when the file is a readable DICOM image,
 *     else 0.
 * Side effects: fills the header; *privateData gets the element table.
 */
int readDicomHeader(int fd, ImageHeader *header, void **privateData) {
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) return 0;
  int64_t dataOffset = 0;
  Tcl_HashTable *table = readDicomElements(fd, &dataOffset);
  if (!table) return 0;
  ImageHeader filled = *header;
  if (!parseDicomHeader(table, dataOffset, info.st_size, &filled)) {
    deleteDicomHashTable(table);
    return 0;
  }
  *header = filled;
  if (privateData) *privateData = table;
  else deleteDicomHashTable(table);
  return IMG_DICOM;
}

/*
 * seekDicomFrame --
 *     Selects frame n as stacked volumes do; encapsulated frames start at
 *     the pixel data offset plus their Basic Offset Table entry, or, with
 *     no such entry, at their fragment counted from the first.
 * Results:      the frame selected; the stacked seek's result when 0 or
 *     less; -1 when an encapsulated frame is not in the file.
 */
int seekDicomFrame(RAMIMG *image, int n) {
  const int frame = seekStackedVolume(image, n);
  if (frame <= 0) return frame;
  DicomElementNode *pixel = findDicomElement(tableOf(image), kPixelGroup, kPixelElement);
  if (!pixel || pixel->length >= 0) return frame;
  const int64_t first = getDicomPixelOffset(pixel);
  DicomElementNode *offsets = pixel->next;
  if (offsets && offsets->length / 4 >= frame) {
    image->dataOffset = first + getU32(getDicomElementValue(offsets) + 4 * (frame - 1), false);
    return frame;
  }
  int64_t at = first;
  for (int k = 1; k < frame; k++) {
    unsigned char item[8];
    if (!readImageBytes(image, at, item, 8) || getU16(item, false) != kItemGroup ||
        getU16(item + 2, false) != kItem)
      return -1;
    at += 8 + int64_t{getU32(item + 4, false)};
  }
  image->dataOffset = at;
  return frame;
}

/* freeDicomData -- deletes the element table of an image. */
void freeDicomData(RAMIMG *image) {
  deleteDicomHashTable(static_cast<Tcl_HashTable *>(image->privateData));
  image->privateData = nullptr;
}

/*
 * readDicomFrame --
 *     Pixel records of the current frame.  Uncompressed data: the record
 *     of row *row.  Encapsulated run-length palette data: the whole frame
 *     decoded, *row set to 0.
 * Results:      the records (*count of them), living until the next call;
 *     null for a row outside the image, for encapsulated data of another
 *     kind (*row 0, *count rows) and when the frame cannot be read.
 */
unsigned char *readDicomFrame(RAMIMG *image, int *row, int *count) {
  const ImageHeader &h = image->header;
  *count = 0;
  DicomElementNode *pixel = findDicomElement(tableOf(image), kPixelGroup, kPixelElement);
  if (!pixel || *row < 0 || *row >= h.rows || h.block <= 0) return nullptr;
  if (pixel->length >= 0) {
    unsigned char *record = sizedFrameBuffer(h.block);
    if (!record) return nullptr;
    const int64_t size = imageSourceSize(image);
    *count = 1;
    if (h.readerFlag != kDicomByPlane) {
      // A short read leaves the rest of the record zero.
      const int64_t at = image->dataOffset + *row * h.block;
      if (at < size) readImageBytes(image, at, record, std::min(h.block, size - at));
      return record;
    }
    // Colour by plane: each band's rows follow the previous band's.
    const int64_t sample = h.bits / 8, planeRow = int64_t{h.columns} * sample;
    std::vector<unsigned char> samples(static_cast<size_t>(planeRow));
    for (int band = 0; band < h.nbands; band++) {
      std::fill(samples.begin(), samples.end(), 0);
      const int64_t at = image->dataOffset + (int64_t{band} * h.rows + *row) * planeRow;
      if (at < size) readImageBytes(image, at, samples.data(), std::min(planeRow, size - at));
      for (int64_t k = 0; k < h.columns; k++)
        memcpy(record + (k * h.nbands + band) * sample, &samples[static_cast<size_t>(k * sample)],
               static_cast<size_t>(sample));
    }
    return record;
  }
  *row = 0;
  *count = h.rows;
  if (h.readerFlag != 2) return nullptr;

  unsigned char item[8];
  const int64_t size = imageSourceSize(image);
  if (!readImageBytes(image, image->dataOffset, item, 8) || getU16(item, false) != kItemGroup ||
      getU16(item + 2, false) != kItem)
    return nullptr;
  const int64_t fragmentLength = getU32(item + 4, false);
  if (fragmentLength < kRleHeaderSize || fragmentLength > size - image->dataOffset - 8)
    return nullptr;
  // PackBits output is at most 128 bytes for two bytes of input.
  const int64_t frameBytes = h.block * h.rows;
  if (h.block > INT64_MAX / h.rows || frameBytes > fragmentLength * 64) return nullptr;
  std::vector<unsigned char> fragment;
  try {
    fragment.resize(static_cast<size_t>(fragmentLength));
  } catch (const std::exception &) {
    return nullptr;
  }
  if (!readImageBytes(image, image->dataOffset + 8, fragment.data(), fragmentLength))
    return nullptr;
  unsigned char *out = sizedFrameBuffer(frameBytes);
  if (!out) return nullptr;
  const uint32_t segments = std::min<uint32_t>(getU32(fragment.data(), false), kRleMaxSegments);
  int64_t produced = 0;
  for (uint32_t i = 0; i < segments && produced < frameBytes; i++) {
    const int64_t from = getU32(fragment.data() + 4 + 4 * i, false);
    const int64_t to = i + 1 < segments ? getU32(fragment.data() + 8 + 4 * i, false)
                                        : fragmentLength;
    if (from < kRleHeaderSize || from > to || to > fragmentLength) continue;
    produced += unpackBits(fragment.data() + from, to - from, out + produced, frameBytes - produced);
  }
  *count = h.rows;
  return out;
}

/*
 * prepareDicomImage --
 *     Gives a newly opened DICOM image its frame seek and its free
 *     procedure, and multi-frame images their frame delay.
 */
void prepareDicomImage(RAMIMG *image) {
  if (image->header.imgid != IMG_DICOM || !image->privateData) return;
  image->seekProc = seekDicomFrame;
  image->freeProc = freeDicomData;
  if (image->header.volumes > 1)
    image->frameDelay = static_cast<float>(getDicomFrameTime(tableOf(image)));
}

/* installDicomFormat -- plugs the frame reader into the line cache. */
void installDicomFormat() {
  rasterHooks().readFrameRows = readDicomFrame;
}

}  // namespace vesk
