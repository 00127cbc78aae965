/*
 * gpz.cpp --
 *     GPZ images: a small head file that names a raw band-sequential data
 *     file beside it.  The store does not know the format by itself; the
 *     "gpz" command registers its reader ahead of the built-in readers or
 *     after them, and removes it again.
 *
 *     The head is in host byte order.  The reader checks the head's
 *     dimensions and the data file's size before it hands the data file
 *     to the store in place of the head.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/core.h"
#include "core/families.h"
#include "raster/sniffer.h"
#include "vesk/imagecmds.h"
#include "vesk/stdio.h"

namespace vesk {

int readGpzHeader(int fd, const char *path, ImageHeader *header, void **privateData);

namespace {

constexpr int kGpzMagicSize = 8;
constexpr int kGpzHeadSize = 2056;
constexpr int kGpzForm = 0;  /* GPZFORM, the only form read */

/* Offsets inside the head (which starts at file offset 8). */
constexpr int kGpzNameSize = 136;
constexpr int kGpzFormAt = 136;
constexpr int kGpzColumnsAt = 172;
constexpr int kGpzRowsAt = 176;
constexpr int kGpzBandsAt = 180;
constexpr int kGpzPixelAt = 184;
constexpr int kGpzX0At = 264;
constexpr int kGpzY0At = 272;
constexpr int kGpzDxAt = 280;
constexpr int kGpzDyAt = 288;
constexpr int kGpzIndicesAt = 892;
constexpr int kGpzPaletteAt = 1032;

/* GPZ pixel type codes, by code: pixel type and bits; P_UNKNOWN where unsupported. */
struct GpzPixelType {
  int pixelid;
  int bits;
};
constexpr GpzPixelType gpzPixelTypes[] = {
    {P_1BIT, 1},   {P_BYTE, 8},    {P_SHORT, 16},  {P_LONG, 32},  {P_FLOAT, 32},
    {P_UNKNOWN, 0}, {P_UNKNOWN, 0}, {P_UNKNOWN, 0}, {P_USHORT, 16}, {P_ULONG, 32}};
constexpr int kGpzPixelCodes = sizeof gpzPixelTypes / sizeof gpzPixelTypes[0];

/* Reads exactly n bytes at an offset, quietly; false when the file ends first. */
bool readGpzBytes(int fd, void *to, int64_t n, int64_t offset) {
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

/* Host-order fields of the head. */
int32_t headInt(const unsigned char *head, int at) {
  int32_t value;
  memcpy(&value, head + at, sizeof value);
  return value;
}
double headDouble(const unsigned char *head, int at) {
  double value;
  memcpy(&value, head + at, sizeof value);
  return value;
}

/*
 * gpzDataPath --
 *     The data file's path: the head's path with its last element replaced
 *     by the name from the head.  A bare file name lies in the current
 *     directory.
 */
std::string gpzDataPath(const char *headPath, const char *dataName) {
  std::string path = headPath;
  int count = 0;
  const char **elements = nullptr;
  Tcl_SplitPath(path.c_str(), &count, &elements);
  if (count == 1) {
    Tcl_Free(reinterpret_cast<char *>(elements));
    char cwd[4096];
    path = std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + headPath;
    Tcl_SplitPath(path.c_str(), &count, &elements);
  }
  if (count > 0) elements[count - 1] = dataName;
  Tcl_DString joined;
  Tcl_DStringInit(&joined);
  Tcl_JoinPath(count, elements, &joined);
  std::string result(Tcl_DStringValue(&joined), static_cast<size_t>(Tcl_DStringLength(&joined)));
  Tcl_DStringFree(&joined);
  Tcl_Free(reinterpret_cast<char *>(elements));
  return result;
}

/* gpz add|append|remove */
int gpzCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc == 2) {
    if (strcmp(argv[1], "add") == 0) {
      addImageReader(readGpzHeader, 0);
      return TCL_OK;
    }
    if (strcmp(argv[1], "append") == 0) {
      addImageReader(readGpzHeader, 1);
      return TCL_OK;
    }
    if (strcmp(argv[1], "remove") == 0) {
      removeImageReader(readGpzHeader);
      return TCL_OK;
    }
  }
  Tcl_AppendResult(interp, "Usage: ", argv[0], " add|append|remove", nullptr);
  return TCL_ERROR;
}

}  // namespace

/*
 * readGpzHeader --
 *     The GPZ reader procedure: recognises a head file, opens the data file
 *     it names and describes it as a band-sequential raw image.
 * Results:      1 (BSQ) for a GPZ head; 0 when the file is not one; -1 with
 *     a message on the standard error stream for a head that cannot be used.
 * Side effects: the header's replacement descriptor is the open data file.
 */
int readGpzHeader(int fd, const char *path, ImageHeader *header, void **) {
  unsigned char magic[kGpzMagicSize];
  if (!readGpzBytes(fd, magic, kGpzMagicSize, 0)) return 0;
  if (memcmp(magic, "GPZ", 3) != 0) return 0;
  unsigned char head[kGpzHeadSize];
  if (!readGpzBytes(fd, head, kGpzHeadSize, kGpzMagicSize)) {
    vesk_fprintf(stderr, "Wrong GPZ head size.\n");
    return -1;
  }
  if (headInt(head, kGpzFormAt) != kGpzForm) {
    vesk_fprintf(stderr, "Must be GPZFORM.\n");
    return -1;
  }
  const int columns = headInt(head, kGpzColumnsAt), rows = headInt(head, kGpzRowsAt);
  const int bands = headInt(head, kGpzBandsAt), code = headInt(head, kGpzPixelAt);
  if (code < 0 || code >= kGpzPixelCodes || gpzPixelTypes[code].pixelid == P_UNKNOWN) {
    vesk_fprintf(stderr, "Unsupported GPZ pixel type:%d\n", code);
    return -1;
  }
  if (columns <= 0 || rows <= 0 || bands <= 0) {
    vesk_fprintf(stderr, "Wrong GPZ image size: %d rows, %d columns, %d bands.\n", rows,
                 columns, bands);
    return -1;
  }

  const std::string name(reinterpret_cast<const char *>(head),
                         strnlen(reinterpret_cast<const char *>(head), kGpzNameSize));
  if (name.empty()) {
    vesk_fprintf(stderr, "No GPZ data file name.\n");
    return -1;
  }
  const std::string dataPath = gpzDataPath(path ? path : "", name.c_str());
  if (dataPath.size() >= sizeof header->path) {
    vesk_fprintf(stderr, "GPZ data file path too long: %s\n", dataPath.c_str());
    return -1;
  }
  // A size past int64 (the product of three counts of the head) is refused
  // before the data file is opened.
  const GpzPixelType &type = gpzPixelTypes[code];
  const int64_t rowBytes = (int64_t{columns} * type.bits + 7) / 8;
  int64_t need;
  if (__builtin_mul_overflow(int64_t{bands} * rows, rowBytes, &need)) {
    vesk_fprintf(stderr, "GPZ image too large: %d rows, %d columns, %d bands.\n", rows,
                 columns, bands);
    return -1;
  }
  int dataFd = open(dataPath.c_str(), O_RDWR | O_CLOEXEC);
  if (dataFd < 0) dataFd = open(dataPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (dataFd < 0) return -1;
  struct stat info;
  if (fstat(dataFd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < need) {
    vesk_fprintf(stderr, "GPZ data file %s is shorter than the %lld bytes of the image.\n",
                 dataPath.c_str(), static_cast<long long>(need));
    close(dataFd);
    return -1;
  }

  header->columns = columns;
  header->rows = rows;
  header->nbands = bands;
  header->pixelid = type.pixelid;
  header->bits = type.bits;
  header->x0 = headDouble(head, kGpzX0At);
  header->y0 = headDouble(head, kGpzY0At);
  header->dx = headDouble(head, kGpzDxAt);
  header->dy = headDouble(head, kGpzDyAt);
  header->block = 0;
  header->top = header->left = 0;
  header->imgid = IMG_BSQ;
  header->mapid = MAPID_GRID;
  header->offset = 0;
  header->msbf = 0;
  header->transparent = -1;
  // The palette holds 256 entries: a head that claims more keeps those.
  const int indices = headInt(head, kGpzIndicesAt);
  header->nindices = indices < 0 ? 0 : indices > 256 ? 256 : indices;
  for (int i = 0; i < 256; i++) {
    const unsigned char *quad = head + kGpzPaletteAt + 4 * i;
    header->palette[i][0] = quad[2];
    header->palette[i][1] = quad[1];
    header->palette[i][2] = quad[0];
  }
  memcpy(header->path, dataPath.c_str(), dataPath.size() + 1);
  header->altFd = dataFd;
  return IMG_BSQ;
}

}  // namespace vesk

/*
 * Gpz_Init --
 *     Creates the "gpz" command of an interpreter.
 * Results:      TCL_OK; TCL_ERROR with "Fail to create gpz command."
 *     appended to the result when the command cannot be made.
 */
int Gpz_Init(Tcl_Interp *interp) {
  if (!Tcl_CreateCommand(interp, "gpz", vesk::gpzCmd, nullptr, nullptr)) {
    Tcl_AppendResult(interp, "Fail to create gpz command.", nullptr);
    return TCL_ERROR;
  }
  return TCL_OK;
}
