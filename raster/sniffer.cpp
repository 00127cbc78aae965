/*
 * sniffer.cpp --
 *     Which format an image file is in, and how a new image file is
 *     started.  The sniffer tries the built-in format probes in one fixed
 *     order between two lists of reader hooks that other units register
 *     at run time; the writers give a new file its header, a zero body
 *     and, for some formats, a trailer, dispatched by imgid.
 */
#include "raster/sniffer.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "core/savefile.h"
#include "raster/dicom.h"
#include "raster/fftfile.h"
#include "raster/gif.h"
#include "raster/jpeg.h"
#include "raster/ramimg.h"
#include "raster/tiff.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* Adapters from the readers' (fd, header) form to the probe form. */
int probeXbm(int fd, const char *, ImageHeader *header, void **) {
  return readXbmHeader(fd, header);
}
int probeErdas(int fd, const char *, ImageHeader *header, void **) {
  return readErdasHeader(fd, header);
}
int probeElas(int fd, const char *, ImageHeader *header, void **) {
  return readElasHeader(fd, header);
}
int probeImagedef(int fd, const char *, ImageHeader *header, void **) {
  return readImagedefHeader(fd, header);
}
int probePpm(int fd, const char *, ImageHeader *header, void **) {
  return readPpmHeader(fd, header);
}
int probeJpeg(int fd, const char *, ImageHeader *header, void **) {
  return readJpegHeader(fd, header, nullptr, 0);
}
int probeDicom(int fd, const char *, ImageHeader *header, void **privateData) {
  return readDicomHeader(fd, header, privateData);
}
int probeFFT(int fd, const char *, ImageHeader *header, void **privateData) {
  return readFFTHeader(fd, header, privateData);
}

/*
 * The built-in probes, in the order they are tried.  The order decides
 * between files that more than one format would accept (a DIB holding
 * "_width" text is a DIB).  Formats not in the library yet keep their
 * place with no probe.
 */
const FormatProbe builtinProbes[] = {
    {"DICOM", probeDicom, false},
    {"DIB", readDibProbe, false},
    {"XBM", probeXbm, false},
    {"ERDAS", probeErdas, false},
    {"GIF", probeGif, false},
    {"FFT", probeFFT, false},
    {"ELAS", probeElas, false},
    {"TIFF", probeTiff, true},
    {"JPEG", probeJpeg, false},
    {"IMAGEDEF", probeImagedef, false},
    {"PPM", probePpm, false},
};
constexpr int kProbeCount = sizeof builtinProbes / sizeof builtinProbes[0];
static_assert(kProbeCount == 11, "eleven built-in formats are probed");

/* Hooks tried before the built-in probes (newest first) and after them. */
ImageReaderHook *readersBefore = nullptr;
ImageReaderHook *readersAfter = nullptr;

/* Header writers by imgid.  A row without a writer is a format whose
   writer is not in the library yet: the header cannot be written (-1). */
int writeImagedefRow(int fd, int, ImageHeader *header) { return writeImagedefHeader(fd, header); }
int writePpmRow(int fd, int, ImageHeader *header) { return writePpmHeader(fd, header); }

struct HeaderWriter {
  int imgid;
  int (*write)(int fd, int spaceCheck, ImageHeader *header);
};
const HeaderWriter headerWriters[] = {
    {IMG_BSQ, writeImagedefRow},  {IMG_BIL, writeImagedefRow},  {IMG_BIP, writeImagedefRow},
    {IMG_BSQD, writeImagedefRow}, {IMG_BILD, writeImagedefRow}, {IMG_BIPD, writeImagedefRow},
    {IMG_E73, writeErdasHeader},  {IMG_E74, writeErdasHeader},  {IMG_E74BSQ, writeErdasHeader},
    {IMG_DIB, writeDibHeader},    {IMG_TIFF, writeTiffHeader},  {IMG_GEOTIFF, writeTiffHeader},
    {IMG_PPM, writePpmRow},
};

/* Formats written whole by the body step; a row without a writer fails. */
int writeXbmBody(int fd, ImageHeader *header) { return writeXbmFile(fd, header, nullptr, 0); }
int writeGifBody(int fd, ImageHeader *header) { return writeGifFile(fd, header); }

struct BodyWriter {
  int imgid;
  int (*write)(int fd, ImageHeader *header);
};
const BodyWriter wholeFileWriters[] = {
    {IMG_XBMP, writeXbmBody},
    {IMG_GIF87A, writeGifBody},
    {IMG_GIF89A, writeGifBody},
    {IMG_JPEG, writeJpegFile},
};

/*
 * Runs the hooks of one list.  The next node is taken before the call so
 * that a hook may remove itself.
 * Results: the first non-zero hook result (negative ones as -1), else 0.
 */
int runHooks(ImageReaderHook *list, int fd, const char *path, ImageHeader *header,
             void **privateData) {
  for (ImageReaderHook *node = list, *next; node; node = next) {
    next = node->next;
    const int result = node->proc(fd, path, header, privateData);
    if (result != 0) return result > 0 ? result : -1;
  }
  return 0;
}

/* Records of one layout row hold every band (pixel-interleaved layouts). */
bool isInterleavedBody(int imgid) {
  switch (imgid) {
  case IMG_BIP: case IMG_DIB: case IMG_TIFF: case IMG_GEOTIFF: case IMG_BIPD: case IMG_PPM:
    return true;
  default:
    return false;
  }
}

}  // namespace

const FormatProbe *formatProbes(int *count) {
  if (count) *count = kProbeCount;
  return builtinProbes;
}

ImageReaderHook *imageReadersBefore() { return readersBefore; }
ImageReaderHook *imageReadersAfter() { return readersAfter; }

/*
 * sniffImageFile --
 *     Identifies an open image file: the before-hooks, the built-in probes
 *     in their order, then the after-hooks; the first that decides ends
 *     the search.
 * Results:      the imgid; 0 when nothing recognised the file; -1 when a
 *     hook or the TIFF probe reported an error.
 * Side effects: fills the header; *privateData gets the format's data.
 */
int sniffImageFile(int fd, const char *path, ImageHeader *header, void **privateData) {
  void *unused = nullptr;
  if (!privateData) privateData = &unused;
  *privateData = nullptr;
  header->altFd = -1;
  header->volumes = 0;
  header->readerFlag = 0;

  int result = runHooks(readersBefore, fd, path, header, privateData);
  if (result != 0) return result;
  for (const FormatProbe &row : builtinProbes) {
    if (!row.probe) continue;
    result = row.probe(fd, path, header, privateData);
    if (result > 0) return result;
    if (result < 0 && row.errorEnds) return -1;
  }
  return runHooks(readersAfter, fd, path, header, privateData);
}

/*
 * unlinkImageReader --
 *     Unlinks and frees the first node of a list that holds a procedure.
 * Results:      the list's head, which changes when the first node goes.
 */
ImageReaderHook *unlinkImageReader(ImageReaderHook *head, ImageReaderProc *proc) {
  for (ImageReaderHook **link = &head; *link; link = &(*link)->next) {
    if ((*link)->proc == proc) {
      ImageReaderHook *node = *link;
      *link = node->next;
      gmemFree(node);
      break;
    }
  }
  return head;
}

/* removeImageReader -- takes the procedure out of both lists. */
void removeImageReader(ImageReaderProc *proc) {
  readersBefore = unlinkImageReader(readersBefore, proc);
  readersAfter = unlinkImageReader(readersAfter, proc);
}

/*
 * addImageReader --
 *     Registers a reader procedure: with append set at the tail of the
 *     after-list, else at the head of the before-list.  A procedure is
 *     never in two nodes: any earlier registration is removed first.
 */
void addImageReader(ImageReaderProc *proc, int append) {
  if (!proc) return;
  removeImageReader(proc);
  ImageReaderHook *node = static_cast<ImageReaderHook *>(gmemAlloc(sizeof(ImageReaderHook)));
  node->proc = proc;
  node->next = nullptr;
  if (append) {
    ImageReaderHook **link = &readersAfter;
    while (*link) link = &(*link)->next;
    *link = node;
  } else {
    node->next = readersBefore;
    readersBefore = node;
  }
}

/* freeImageReaders -- empties both hook lists (package exit). */
void freeImageReaders() {
  for (ImageReaderHook **list : {&readersBefore, &readersAfter}) {
    while (*list) {
      ImageReaderHook *node = *list;
      *list = node->next;
      gmemFree(node);
    }
  }
}

/*
 * writeImageHeader --
 *     Writes the file header of the header's imgid.
 * Results:      the writer's result (bytes written or the data offset),
 *     -1 on failure, -2 for an imgid without a file header.
 * Side effects: the writer updates the header (data offset, bytes per
 *     record ...).
 */
int writeImageHeader(int fd, int spaceCheck, ImageHeader *header) {
  for (const HeaderWriter &row : headerWriters) {
    if (row.imgid != header->imgid) continue;
    if (!row.write) {
      vesk_fprintf(stderr, "Can't write %s files in this build.\n",
                   getImgidName(header->imgid));
      return -1;
    }
    return row.write(fd, spaceCheck, header);
  }
  return -2;
}

/* rewriteImageHeader -- a new header for an IMAGEDEF or ERDAS file, no space check. */
int rewriteImageHeader(int fd, ImageHeader *header) {
  switch (header->imgid) {
  case IMG_BSQ: case IMG_BIL: case IMG_BIP: case IMG_BSQD: case IMG_BILD: case IMG_BIPD:
    return writeImagedefHeader(fd, header);
  case IMG_E73: case IMG_E74: case IMG_E74BSQ:
    return writeErdasHeader(fd, 0, header);
  default:
    return -2;
  }
}

/*
 * writeImageBody --
 *     Reserves the pixel data of a new file with zeros from the data
 *     offset on, or writes a whole-file format in one piece.
 * Results:      the data offset, the whole-file writer's result, or -1
 *     when a write falls short or the body size makes no sense.
 */
int writeImageBody(int fd, ImageHeader *header) {
  for (const BodyWriter &row : wholeFileWriters) {
    if (row.imgid != header->imgid) continue;
    if (!row.write) {
      vesk_fprintf(stderr, "Can't write %s files in this build.\n",
                   getImgidName(header->imgid));
      return -1;
    }
    return row.write(fd, header);
  }
  const int64_t records = isInterleavedBody(header->imgid)
                              ? int64_t{header->rows}
                              : int64_t{header->rows} * header->nbands;
  if (header->block < 0 || records < 0 || header->offset < 0 ||
      (records > 0 && header->block > INT64_MAX / records))
    return -1;
  const int64_t size = header->block * records;
  if (size > INT64_MAX - header->offset) return -1;
  // The body of a new file is zeros: extending the file gives them
  // without writing them (a sparse file where the file system can).
  // Bytes the header step put beyond the body (a TIFF directory) stay.
  // A sparse body takes its room only as rows are written: the disk must
  // have that room now, whatever the format's header writer checked.
  struct stat info;
  if (fstat(fd, &info) != 0) return -1;
  const int64_t end = header->offset + size;
  if (size > 0 && info.st_size < end) {
    const double available = getPathDiskFree(header->path);
    if (static_cast<double>(end - info.st_size) > available) {
      vesk_fprintf(stderr, "Insufficient disk space. Requested:%lld Available:%.f\n",
                   static_cast<long long>(end), available);
      return -1;
    }
    if (ftruncate(fd, static_cast<off_t>(end)) != 0) return -1;
  }
  return static_cast<int>(header->offset);
}

/*
 * writeImageTrailer --
 *     Finishes a written file: the palette of a DIB, or of the current
 *     page of a TIFF.
 * Results:      the trailer writer's result; 0 for other formats and for
 *     a negative descriptor.
 */
int writeImageTrailer(int fd, ImageHeader *header, void *privateData) {
  if (fd < 0) return 0;
  if (header->imgid == IMG_DIB) return writeDibPalette(fd, header);
  if (header->imgid == IMG_TIFF || header->imgid == IMG_GEOTIFF)
    return writeTiffTrailer(fd, header, privateData);
  return 0;
}

/* The header and zero body of a new file, written beside the header's path. */
static int buildImageFile(ImageHeader *header, SaveFile &file) {
  if (!memchr(header->path, 0, sizeof header->path) || !header->path[0]) return -1;
  if (!file.open(header->path)) {
    vesk_fprintf(stderr, "Can't create %s: %s\n", header->path, file.reason());
    return -1;
  }
  int result = writeImageHeader(file.fd(), 1, header);
  if (result != -1) result = writeImageBody(file.fd(), header);
  if (result == -1) vesk_fprintf(stderr, "Can't create %s\n", header->path);
  return result;
}

/*
 * createImageFile --
 *     Creates the file named by the header's path with its header and a
 *     zero body.  The file is built beside the target and renamed over it
 *     once complete, so a refusal (no disk space) leaves an older file of
 *     that name as it was.
 * Results:      the result of writeImageBody (the data offset for raw
 *     layouts), or -1 when the file cannot be made (the reason on the
 *     error stream).
 * Side effects: the header writer updates the header.
 */
int createImageFile(ImageHeader *header) {
  SaveFile file;
  int result = buildImageFile(header, file);
  if (result == -1) return -1;
  if (!file.commit()) {
    vesk_fprintf(stderr, "Can't create %s: %s\n", header->path, file.reason());
    return -1;
  }
  return result;
}

/*
 * createPendingImageFile --
 *     Builds the file of a header as createImageFile does but leaves it
 *     under its temporary name beside the header's path: the caller fills
 *     it and renames it over the path once complete.
 * Results:      as createImageFile's; *temporary gets the file's name.
 */
int createPendingImageFile(ImageHeader *header, std::string *temporary) {
  SaveFile file;
  int result = buildImageFile(header, file);
  if (result == -1) return -1;
  *temporary = file.release();
  if (temporary->empty()) {
    vesk_fprintf(stderr, "Can't create %s: %s\n", header->path,
                 file.error() ? file.reason() : "not a regular file");
    return -1;
  }
  return result;
}

/* The format's own set-up of an image once its file is open. */
static void prepareFormatImage(RAMIMG *image) {
  switch (image->header.imgid) {
  case IMG_GIF87A: case IMG_GIF89A: prepareGifImage(image); break;
  case IMG_DICOM: prepareDicomImage(image); break;
  default: break;
  }
}

/* installImageFormats -- plugs the sniffer and file creation into the store. */
void installImageFormats() {
  rasterHooks().sniffImageFile = sniffImageFile;
  rasterHooks().createImageFile = createImageFile;
  rasterHooks().createPendingImageFile = createPendingImageFile;
  rasterHooks().imgTiff = imgTiff;
  rasterHooks().freeTiffInfo = freeTiffInfo;
  installWholeImageFormats();
  rasterHooks().prepareImage = prepareFormatImage;
  installDicomFormat();
  installFFTFormat();
}

/* ---- shared file helpers ---- */

/*
 * readFilePrefix --
 *     Reads up to `length` bytes from offset 0 without moving the file
 *     position.
 * Results:      the bytes read (fewer at the end of the file), -1 on an
 *     error; *fileSize gets the file's size.
 */
int64_t readFilePrefix(int fd, unsigned char *buffer, int64_t length, int64_t *fileSize) {
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) return -1;
  if (fileSize) *fileSize = info.st_size;
  int64_t done = 0;
  while (done < length) {
    const ssize_t n = pread(fd, buffer + done, static_cast<size_t>(length - done), done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += n;
  }
  return done;
}

/* writeFileAt -- writes all bytes at an offset without moving the position. */
bool writeFileAt(int fd, const void *data, int64_t length, int64_t offset) {
  const unsigned char *from = static_cast<const unsigned char *>(data);
  int64_t done = 0;
  while (done < length) {
    const ssize_t n = pwrite(fd, from + done, static_cast<size_t>(length - done), offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

/*
 * extentFits --
 *     True when `count` records of `stride` bytes from `offset` lie inside
 *     a file of `fileSize` bytes; every product checked for overflow.
 */
bool extentFits(int64_t offset, int64_t stride, int64_t count, int64_t fileSize) {
  if (offset < 0 || stride < 0 || count < 0 || fileSize < 0 || offset > fileSize) return false;
  if (count > 0 && stride > (fileSize - offset) / count) return false;
  return offset + stride * count <= fileSize;
}

}  // namespace vesk
