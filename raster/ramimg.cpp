/*
 * ramimg.cpp --
 *     The registry of RAM images: opening images from files and from
 *     template headers, finding them by tag or path, counting their users,
 *     telling their clients of changes, and freeing them with write-back.
 *     Also the exported vesk_ interface over these operations.
 */
#include "raster/ramimg.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/text.h"
#include "raster/bandstats.h"
#include "raster/dicom.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

RAMIMG *registryHead = nullptr;
int tagCounter = 0;
int writeFailures = 0;  /* failed image writes, counted for the commands that write */

/* New files finished while a command runs, put in place at its end. */
struct DeferredFile {
  std::string temporary, target;
};
std::vector<DeferredFile> deferredFiles;
int deferDepth = 0;
bool exitHandlerInstalled = false;

/* The last reader's refusal (refuseImageFile); cleared by every open. */
std::string refusal;

const char *const errorTexts[] = {
    "", "Memory allocation error", "Unknown image type", "Open image file error",
    "Error in modifying a system RAMIMG", "File already exists", "Error in creating a file",
    "", "Unable to handle the image"};

/* Copies a text into a 256-byte record field, always terminated. */
void copyField(char *field, const char *text) {
  snprintf(field, VESK_PATH_SIZE, "%s", text ? text : "");
}

/* True when a header field holds a terminated text. */
bool isTerminated(const char *field) { return memchr(field, 0, VESK_PATH_SIZE) != nullptr; }

bool isClientOf(const RamImageClient *client, const RAMIMG *image) {
  for (const RamImageClient *c = image->clients; c; c = c->next)
    if (c == client) return true;
  return false;
}

void ramImageExitHandler(ClientData) { flushRAMImagesAtExit(); }

/* Frees the private data a sniffer handed over for an image never built. */
void dropSniffedData(int imgid, void *privateData) {
  if (!privateData) return;
  RAMIMG holder;
  holder.privateData = privateData;
  if (imgid == IMG_TIFF || imgid == IMG_GEOTIFF) freeTiffPrivate(&holder);
  else if (imgid == IMG_DICOM) freeDicomData(&holder);
  else gmemFree(privateData);
}

/*
 * Procedures, line size and record size of an image whose header was just
 * set.  Memory RGB frames have their own line procedures.
 */
void setImageGeometry(RAMIMG *image) {
  ImageHeader &h = image->header;
  if (h.imgid >= IMG_MRGB32 && h.imgid <= IMG_MRGB1) {
    image->getLineProc = getRGBFrameLine;
    image->flushLineProc = putRGBFrameLine;
  } else {
    image->getLineProc = getRAMImageLine;
    image->flushLineProc = writeRAMImageLine;
  }
  image->lineBytes = pixelLineBytes(h.pixelid, h.columns);
  if (h.bits <= 0) h.bits = getPixelBits(h.pixelid);
}

/* A header that describes no image cannot be cached. */
bool isUsableHeader(const ImageHeader &h) {
  return h.rows > 0 && h.columns > 0 && h.nbands > 0 && h.pixelid >= 0 &&
         h.pixelid < kPixelidCount && h.imgid >= 0 && h.imgid < kImgidCount;
}

/*
 * Releases what a record holds before it is refilled: dirty lines go to
 * the image's own file first, then the format data and the cache go.
 */
void emptyRecord(RAMIMG *image) {
  finishPendingImage(image);
  if (image->cache) flushRAMImage(image);
  freeCacheBlock(image->cache);
  image->cache = nullptr;
  image->lineTags = nullptr;
  image->dirtyBits = nullptr;
  image->cachedRows = image->cacheLines = 0;
  if (image->privateData) {
    if (image->freeProc) image->freeProc(image);
    else gmemFree(image->privateData);
    image->privateData = nullptr;
  }
  image->seekProc = nullptr;
  image->freeProc = nullptr;
  free(image->memData);
  image->memData = nullptr;
  image->memLength = 0;
  freeImageStats(image);
}

/* The rows of a file image's cache: 4 to 127 within a 256 KiB budget. */
int fileCacheRows(const RAMIMG *image) {
  const int64_t nbands = image->header.nbands;
  int rows = 4;
  while (rows < 127) {
    const int64_t lines = (rows + 1) * nbands;
    if (lines * image->lineBytes + 4 * lines + lines / 8 + 1 >= 0x40000) break;
    rows++;
  }
  return rows;
}

}  // namespace

RasterHooks &rasterHooks() {
  static RasterHooks hooks = [] {
    RasterHooks h{};
    h.freeHist = freeHist;
    h.resetBandHist = resetBandHist;
    return h;
  }();
  return hooks;
}

/* The statistics unit's accumulators, freed or reset through its hooks. */
void freeImageStats(RAMIMG *image) {
  if (!image->hist) return;
  if (rasterHooks().freeHist) rasterHooks().freeHist(image->hist, image->header.nbands);
  image->hist = nullptr;
}

void resetImageStats(RAMIMG *image) {
  if (!image->hist || !rasterHooks().resetBandHist) return;
  for (int b = 0; b < image->header.nbands; b++) rasterHooks().resetBandHist(image->hist, b);
}

/*
 * openRAMImageFile --
 *     Opens an image file into a new record, or refills the given one.
 *     Without a header the file is identified by the format sniffer.
 * Results:      the record, not registered; null with the error code.
 * Side effects: a refilled record first writes its dirty lines back to
 *     its old file.  A registered record whose cache cannot be made again
 *     stays registered with an empty cache (its lines read as null).
 */
RAMIMG *openRAMImageFile(const char *path, const ImageHeader *header, RAMIMG *record, int *err) {
  int localErr = 0;
  if (!err) err = &localErr;
  *err = VESK_RAMIMG_OK;
  refusal.clear();
  if (!path || !*path) {
    *err = VESK_RAMIMG_OPEN_ERROR;
    return nullptr;
  }
  std::string absolute;
  makeAbsolutePath(path, absolute);
  struct stat info;
  // Longer paths would be cut in the record and later writes go elsewhere;
  // FIFOs and folders would block or cannot hold an image.
  if (absolute.size() >= VESK_PATH_SIZE || stat(absolute.c_str(), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    *err = VESK_RAMIMG_OPEN_ERROR;
    return nullptr;
  }
  int fd = open(absolute.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) fd = open(absolute.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd >= 0) close(fd);
    *err = VESK_RAMIMG_OPEN_ERROR;
    return nullptr;
  }

  ImageHeader sniffed;
  void *privateData = nullptr;
  if (header) {
    sniffed = *header;
  } else {
    initImageHeader(&sniffed);
    sniffed.altFd = -1;
    int kind = rasterHooks().sniffImageFile
        ? rasterHooks().sniffImageFile(fd, absolute.c_str(), &sniffed, &privateData)
        : 0;
    if (kind <= 0) {
      close(fd);
      *err = kind < 0 ? VESK_RAMIMG_UNHANDLED : VESK_RAMIMG_UNKNOWN_TYPE;
      return nullptr;
    }
    if (sniffed.altFd != -1) {
      close(fd);
      fd = sniffed.altFd;
    }
  }
  if (!isUsableHeader(sniffed)) {
    close(fd);
    dropSniffedData(sniffed.imgid, privateData);
    *err = VESK_RAMIMG_UNKNOWN_TYPE;
    return nullptr;
  }

  const bool fresh = record == nullptr;
  if (fresh) {
    record = new (std::nothrow) RAMIMG();
    if (!record) {
      close(fd);
      dropSniffedData(sniffed.imgid, privateData);
      *err = VESK_RAMIMG_NOMEM;
      return nullptr;
    }
  } else {
    emptyRecord(record);
  }
  if (record->fd >= 0) close(record->fd);
  record->fd = fd;
  record->volume = 1;
  record->volumeCount = -1;
  record->frameDelay = 0;
  record->privateData = privateData;
  record->seekProc = nullptr;
  record->freeProc = nullptr;
  record->header = sniffed;
  setImageGeometry(record);
  record->dataOffset = record->header.offset;
  copyField(record->header.path, absolute.c_str());

  ImageHeader &h = record->header;
  /* A JPEG's block is its quality, not a record size. */
  if (h.block < record->lineBytes && h.imgid != IMG_JPEG) {
    const int64_t bits = h.bits;
    switch (h.imgid) {
    case IMG_BIP: case IMG_TIFF: case IMG_PPM: case IMG_GEOTIFF:
      h.block = h.nbands * int64_t{h.columns} * bits / 8;
      break;
    case IMG_DIB:
      h.block = (h.nbands * int64_t{h.columns} * bits + 31) / 32 * 4;
      break;
    default:
      h.block = (h.columns * bits + 7) / 8;
      break;
    }
  }
  h.block = std::max(h.block, minimumBlock(&h, record->lineBytes));

  if (h.imgid == IMG_TIFF || h.imgid == IMG_GEOTIFF) {
    record->seekProc = seekTiffVolume;
    record->freeProc = freeTiffPrivate;
  }
  if (setRAMImageBuf(record, fileCacheRows(record)) == 0) {
    *err = VESK_RAMIMG_NOMEM;
    if (fresh) freeRAMImage(record);
    return nullptr;
  }
  if (h.imgid == IMG_GIF87A || h.imgid == IMG_GIF89A) record->volume = 0;
  if (rasterHooks().prepareImage) rasterHooks().prepareImage(record);
  return record;
}

/*
 * createRAMImage --
 *     Builds a memory image from a header, or refills the given record.
 *     Every row is cached; nothing is read or written.  Its pixels are
 *     zeros unless `cleared` is false (see setRAMImageBuf).
 * Results:      the record, not registered; null with the error code.
 */
RAMIMG *createRAMImage(const ImageHeader *header, RAMIMG *record, int *err, bool cleared) {
  int localErr = 0;
  if (!err) err = &localErr;
  *err = VESK_RAMIMG_OK;
  if (!header || !isUsableHeader(*header)) {
    *err = VESK_RAMIMG_UNKNOWN_TYPE;
    return nullptr;
  }
  const bool fresh = record == nullptr;
  if (fresh) {
    record = new (std::nothrow) RAMIMG();
    if (!record) {
      *err = VESK_RAMIMG_NOMEM;
      return nullptr;
    }
  } else {
    emptyRecord(record);
  }
  record->header = *header;
  record->dataOffset = header->offset;
  setImageGeometry(record);
  if (!isTerminated(record->header.path)) record->header.path[VESK_PATH_SIZE - 1] = 0;
  ImageHeader &h = record->header;
  if (h.imgid == IMG_MBIP) h.block = std::max(h.block, record->lineBytes * h.nbands);
  h.block = std::max(h.block, minimumBlock(&h, record->lineBytes));
  const std::string refusal = memoryImageRefusal(h);
  if (!refusal.empty()) {
    vesk_fprintf(stderr, "%s\n", refusal.c_str());
    *err = VESK_RAMIMG_NOMEM;
    if (fresh) freeRAMImage(record);
    return nullptr;
  }
  if (setRAMImageBuf(record, h.rows, cleared) == 0) {
    *err = VESK_RAMIMG_NOMEM;
    if (fresh) freeRAMImage(record);
    return nullptr;
  }
  return record;
}

/*
 * reopenRAMImage --
 *     Refills a registered record in place: from the file when it has one
 *     open, else from the header.
 */
RAMIMG *reopenRAMImage(const char *path, const ImageHeader *header, RAMIMG *record, int *err) {
  if (!record) return nullptr;
  if (record->fd >= 0) return openRAMImageFile(path, header, record, err);
  return createRAMImage(header, record, err);
}

/*
 * openRAMImage --
 *     Finds or opens an image by tag, path or template and counts a user.
 * Results:      the image; null and an error code on failure.
 * Side effects: with a client the reference passes to the client (a
 *     client already attached counts nothing more).
 */
RAMIMG *openRAMImage(const char *tag, const char *path, ImageHeader *templ,
                     RamImageClient *client, int *err, bool cleared) {
  int localErr = 0;
  if (!err) err = &localErr;
  *err = VESK_RAMIMG_OK;
  refusal.clear();
  const bool havePath = path && *path;
  RAMIMG *image = getRAMImageByTag(tag);

  if (image && havePath && !getRAMImageByName(path)) {
    if (openRAMImageFile(path, nullptr, image, err)) return image;
    if (*err == VESK_RAMIMG_NOMEM) return nullptr;
    *err = VESK_RAMIMG_OK;
    image = getRAMImageByTag(path);
  }

  if (templ && !havePath) {
    if (image && ((image->attr & kRamImageLocked) || image->fd >= 0)) {
      *err = VESK_RAMIMG_SYSTEM;
      return nullptr;
    }
    if (image) {
      if (!createRAMImage(templ, image, err, cleared)) return nullptr;
    } else {
      image = createRAMImage(templ, nullptr, err, cleared);
      if (!image) return nullptr;
      registerRAMImage(tag, image);
    }
  }

  if (!image && !templ && havePath) image = getRAMImageByName(path);

  if (!image) {
    if (!havePath) {
      *err = VESK_RAMIMG_OPEN_ERROR;
      return nullptr;
    }
    image = openRAMImageFile(path, templ, nullptr, err);
    if (!image) return nullptr;
    registerRAMImage(tag, image);
  }

  if (client && isClientOf(client, image)) return image;
  image->refCount++;
  addClient(client, image);
  return image;
}

/*
 * openRAMImageNew --
 *     Creates a new image: a memory image kept by the registry, or a new
 *     file with its header and zero body, opened.  A memory image made
 *     with `cleared` false holds undefined pixels: for a module that
 *     writes every line of its new output (clearRAMImageLines if it
 *     stops short).  Within a command's beginPendingImages a new file
 *     waits beside its name until complete.
 * Results:      the image, or null with the error code (also the code of
 *     the inner open).
 */
RAMIMG *openRAMImageNew(ImageHeader *templ, RamImageClient *client, int overwrite, int *err,
                        bool cleared) {
  int localErr = 0;
  if (!err) err = &localErr;
  *err = VESK_RAMIMG_OK;
  if (!templ) {
    *err = VESK_RAMIMG_UNKNOWN_TYPE;
    return nullptr;
  }
  if (!isTerminated(templ->path)) {
    *err = isMemoryImgid(templ->imgid) ? VESK_RAMIMG_UNKNOWN_TYPE : VESK_RAMIMG_CREATE_ERROR;
    return nullptr;
  }
  if (isMemoryImgid(templ->imgid)) {
    if (!overwrite && getRAMImageByTag(templ->path)) {
      *err = VESK_RAMIMG_EXISTS;
      return nullptr;
    }
    templ->offset = 0;
    RAMIMG *image = openRAMImage(templ->path, nullptr, templ, client, err, cleared);
    if (!image) return nullptr;
    if (!client && image->refCount > 0) image->refCount--;
    if (image->keepCount < 1) image->keepCount = 1;
    return image;
  }
  if (!overwrite && accessFile(templ->path) == 0) {
    *err = VESK_RAMIMG_EXISTS;
    return nullptr;
  }
  if (deferDepth == 0) {
    if (!rasterHooks().createImageFile || rasterHooks().createImageFile(templ) < 0) {
      *err = VESK_RAMIMG_CREATE_ERROR;
      return nullptr;
    }
    return openRAMImage(nullptr, templ->path, templ->offset == 0 ? templ : nullptr, client, err);
  }
  // Made by a command (beginPendingImages): the new file replaces an older
  // one of that name only once it is complete.  Until its last user
  // closes it, it lies beside under a temporary name (finishPendingImage).
  std::string temporary;
  if (!rasterHooks().createPendingImageFile ||
      rasterHooks().createPendingImageFile(templ, &temporary) < 0) {
    *err = VESK_RAMIMG_CREATE_ERROR;
    return nullptr;
  }
  RAMIMG *image =
      openRAMImage(nullptr, temporary.c_str(), templ->offset == 0 ? templ : nullptr, client, err);
  if (!image) {
    unlink(temporary.c_str());
    return nullptr;
  }
  makeAbsolutePath(templ->path, image->pendingPath);
  return image;
}

/*
 * setRAMImageMemData --
 *     Makes an in-memory copy of an image file the image's source.  The
 *     data must come from malloc; the image owns it from now on.
 */
int setRAMImageMemData(RAMIMG *image, unsigned char *data, int64_t length) {
  if (image->cache) flushRAMImage(image);
  if (image->fd >= 0) close(image->fd);
  image->fd = -1;
  free(image->memData);
  image->memData = nullptr;
  image->memLength = 0;
  if (setRAMImageBuf(image, image->header.rows) == 0) return 0;
  image->memData = data;
  image->memLength = length;
  invalidateRAMImageCache(image);
  if (rasterHooks().prepareImage) rasterHooks().prepareImage(image);
  return 1;
}

/*
 * closeRAMImage --
 *     Releases one user: a client, else a reference.
 * Results:      the references left; 0 when the image was freed or is a
 *     system image.
 * Side effects: an image left without users, keeps or clients, and not
 *     locked, is unregistered, written back and freed.
 */
int closeRAMImage(RAMIMG *image, RamImageClient *client) {
  if (!image) return 0;
  if (!removeClient(client, image) && image->refCount > 0) image->refCount--;
  if (image->refCount == 0 && !image->clients) finishPendingImage(image);
  if (image->keepCount > 0 || image->refCount > 0 || image->clients) return image->refCount;
  if (image->attr & kRamImageLocked) return 0;
  unregisterRAMImage(image);
  flushRAMImage(image);
  freeRAMImage(image);
  return 0;
}

/* freeRAMImage -- frees format data, statistics, file, cache and record. */
void freeRAMImage(RAMIMG *image) {
  if (!image) return;
  finishPendingImage(image);
  if (image->privateData) {
    if (image->freeProc) image->freeProc(image);
    else gmemFree(image->privateData);
    image->privateData = nullptr;
  }
  freeImageStats(image);
  if (image->fd >= 0) close(image->fd);
  freeCacheBlock(image->cache);
  free(image->memData);
  delete image;
}

/*
 * flushRAMImage --
 *     Writes every dirty slot back, in slot order.
 * Results:      false when a write-back failed since the last flush (a new
 *     file keeps the failure until it is finished).
 */
bool flushRAMImage(RAMIMG *image) {
  if (!image) return true;
  if (image->cache && image->fd < 0 && image->flushLineProc == writeRAMImageLine) {
    // No file: writing a line back only clears its flag.
    memset(image->dirtyBits, 0, static_cast<size_t>(image->cacheLines / 8 + 1));
  } else if (image->cache && image->flushLineProc) {
    for (int slot = 0; slot < image->cacheLines; slot++)
      if (isSlotDirty(image, slot)) image->flushLineProc(image, slot);
  }
  if (image->cache && rasterHooks().finishImageStream && !rasterHooks().finishImageStream(image))
    failRAMImageWrite(image, 0);
  const bool ok = image->writeError == 0;
  if (image->pendingPath.empty()) image->writeError = 0;
  return ok;
}

int rasterWriteFailures() { return writeFailures; }

/*
 * failRAMImageWrite --
 *     Records a failed write to an image's file: the first since the last
 *     flush is reported on the error stream and counted, so the command
 *     that wrote can fail.  error is an errno, or 0 when the writer gave
 *     none.
 */
void failRAMImageWrite(RAMIMG *image, int error) {
  if (!image || image->writeError) return;
  image->writeError = error ? error : EIO;
  writeFailures++;
  const char *name = image->pendingPath.empty() ? image->header.path : image->pendingPath.c_str();
  if (error) vesk_fprintf(stderr, "Error in writing %s: %s\n", name, strerror(error));
  else vesk_fprintf(stderr, "Error in writing %s\n", name);
}

/*
 * finishPendingImage --
 *     Ends a new file image's pending state: its lines written back and
 *     flushed to disk, its file renamed over the path it replaces.  After
 *     a failed write the file is removed instead, and the older file of
 *     that name stays as it was.
 */
void finishPendingImage(RAMIMG *image) {
  if (image->pendingPath.empty()) return;
  flushRAMImage(image);
  const std::string target = image->pendingPath;
  if (!image->writeError && image->fd >= 0 && fsync(image->fd) != 0)
    failRAMImageWrite(image, errno);
  if (!image->writeError && deferDepth > 0) {
    /* The command decides at its end (endPendingImages). */
    deferredFiles.push_back({image->header.path, target});
    image->pendingPath.clear();
    return;
  }
  if (!image->writeError && rename(image->header.path, target.c_str()) != 0)
    failRAMImageWrite(image, errno);
  image->pendingPath.clear();
  if (image->writeError) {
    unlink(image->header.path);
    image->writeError = 0;
    return;
  }
  copyField(image->header.path, target.c_str());
}

/*
 * beginPendingImages, endPendingImages --
 *     Around a command that makes new file images: the new files its
 *     images finish meanwhile wait for its end, and replace their paths
 *     then only when it succeeded (keep); otherwise they are removed and
 *     older files of those names stay as they were.
 * Results:      begin: the mark to give to end; end: false when a file
 *     could not be put in place.
 */
size_t beginPendingImages() {
  deferDepth++;
  return deferredFiles.size();
}

bool endPendingImages(size_t mark, bool keep) {
  if (deferDepth > 0) deferDepth--;
  bool ok = true;
  for (size_t i = mark; i < deferredFiles.size(); i++) {
    const DeferredFile &file = deferredFiles[i];
    if (keep && rename(file.temporary.c_str(), file.target.c_str()) == 0) {
      /* An image still open follows its file. */
      for (RAMIMG *image = registryHead; image; image = image->next)
        if (file.temporary == image->header.path)
          copyField(image->header.path, file.target.c_str());
      continue;
    }
    if (keep) {
      vesk_fprintf(stderr, "Error in writing %s: %s\n", file.target.c_str(), strerror(errno));
      writeFailures++;
      ok = false;
    }
    unlink(file.temporary.c_str());
  }
  deferredFiles.resize(std::min(mark, deferredFiles.size()));
  return ok;
}

/*
 * flushRAMImagesAtExit --
 *     Writes back the dirty lines of every registered image stored as
 *     plain records in a file, so that edits survive the process.
 *     Encoded files (reader flag set) are not rewritten at exit.
 */
void flushRAMImagesAtExit() {
  for (RAMIMG *image = registryHead; image; image = image->next) {
    if (image->fd >= 0 && image->header.readerFlag == 0) flushRAMImage(image);
    finishPendingImage(image);
  }
}

/* getRAMImageByTag -- the image registered under the text (first 255 bytes). */
RAMIMG *getRAMImageByTag(const char *tag) {
  if (!tag || !*tag) return nullptr;
  for (RAMIMG *image = registryHead; image; image = image->next)
    if (strncmp(image->tag, tag, VESK_PATH_SIZE - 1) == 0) return image;
  return nullptr;
}

/*
 * getRAMImageByName --
 *     The image of a file.  A path that names no existing file is matched
 *     by its last element against the last element of each image's path
 *     (memory images, files that have gone); otherwise the absolute path
 *     is compared whole.  File names compare case-sensitively.
 */
RAMIMG *getRAMImageByName(const char *path) {
  if (!path || !*path) return nullptr;
  if (accessFile(path) != 0) {
    std::string tail, other;
    getPathTail(path, tail);
    for (RAMIMG *image = registryHead; image; image = image->next)
      if (getPathTail(image->header.path, other) == tail) return image;
    return nullptr;
  }
  std::string absolute;
  makeAbsolutePath(path, absolute);
  for (RAMIMG *image = registryHead; image; image = image->next)
    if (absolute == image->header.path) return image;
  return nullptr;
}

RAMIMG *firstRAMImage() { return registryHead; }

/*
 * registerRAMImage --
 *     Names the image (the given tag, else "rimg%d") and pushes it at the
 *     head of the registry.  The counter advances in both cases.
 */
void registerRAMImage(const char *tag, RAMIMG *image) {
  if (tag && *tag) copyField(image->tag, tag);
  else snprintf(image->tag, VESK_PATH_SIZE, "rimg%d", tagCounter);
  tagCounter++;
  image->next = registryHead;
  registryHead = image;
  if (!exitHandlerInstalled) {
    exitHandlerInstalled = true;
    Tcl_CreateExitHandler(ramImageExitHandler, nullptr);
  }
}

void unregisterRAMImage(RAMIMG *image) {
  for (RAMIMG **link = &registryHead; *link; link = &(*link)->next) {
    if (*link == image) {
      *link = image->next;
      image->next = nullptr;
      return;
    }
  }
}

/* attrRAMImage -- sets the attribute flags; returns the old ones. */
int attrRAMImage(RAMIMG *image, int flags) {
  int old = image->attr;
  image->attr = flags;
  return old;
}

/*
 * addClient --
 *     Attaches a client, moving it from any other image.  The client takes
 *     over the reference that openRAMImage counted.
 */
int addClient(RamImageClient *client, RAMIMG *image) {
  if (!client) return 0;
  if (isClientOf(client, image)) return 1;
  detachClient(client);
  client->next = image->clients;
  image->clients = client;
  image->refCount--;
  return 1;
}

int removeClient(RamImageClient *client, RAMIMG *image) {
  if (!client) return 0;
  for (RamImageClient **link = &image->clients; *link; link = &(*link)->next) {
    if (*link == client) {
      *link = client->next;
      client->next = nullptr;
      return 1;
    }
  }
  return 0;
}

RAMIMG *detachClient(RamImageClient *client) {
  for (RAMIMG *image = registryHead; image; image = image->next)
    if (removeClient(client, image)) return image;
  return nullptr;
}

/*
 * updateClient --
 *     Tells every client of another owner: the configuration changed (bit
 *     0, changeProc) and then the pixels changed (bit 1, redrawProc).
 */
void updateClient(RAMIMG *image, void *owner, int flags) {
  if (!image) return;
  for (RamImageClient *c = image->clients, *next; c; c = next) {
    next = c->next;
    if (c->owner == owner) continue;
    if ((flags & 1) && c->changeProc) c->changeProc(c->clientData);
    if ((flags & 2) && c->redrawProc) c->redrawProc(c->clientData);
  }
}

void updateClientRect(RAMIMG *image, void *owner, int a, int b, int c, int d) {
  if (!image) return;
  for (RamImageClient *client = image->clients, *next; client; client = next) {
    next = client->next;
    if (client->owner != owner && client->rectProc) client->rectProc(client->clientData, a, b, c, d);
  }
}

const char *getRAMImageErrorText(int code) {
  return code >= 0 && code < static_cast<int>(sizeof errorTexts / sizeof errorTexts[0])
      ? errorTexts[code]
      : "";
}

void printRAMImageError(int code) {
  const char *text = getRAMImageErrorText(code);
  if (*text) vesk_fprintf(stderr, "%s\n", text);
}

void refuseImageFile(const char *format, const char *message, ...) {
  char text[512];
  va_list args;
  va_start(args, message);
  vsnprintf(text, sizeof text, message, args);
  va_end(args);
  vesk_fprintf(stderr, "%s", text);
  refusal = std::string(format) + " file: " + text;
  while (!refusal.empty() && refusal.back() == '\n') refusal.pop_back();
}

const char *getRAMImageRefusal() { return refusal.c_str(); }

}  // namespace vesk

/* ---- the exported interface ---- */

RAMIMG *vesk_openRAMImage(const char *tag, const char *path, ImageHeader *templ,
                          RamImageClient *client, int *err) {
  return vesk::openRAMImage(tag, path, templ, client, err);
}

RAMIMG *vesk_openRAMImageNew(ImageHeader *templ, RamImageClient *client, int overwrite,
                             int *err) {
  return vesk::openRAMImageNew(templ, client, overwrite, err);
}

int vesk_closeRAMImage(RAMIMG *image, RamImageClient *client) {
  return vesk::closeRAMImage(image, client);
}

RAMIMG *vesk_getRAMImageByName(const char *path) { return vesk::getRAMImageByName(path); }

RAMIMG *vesk_getRAMImageByTag(const char *tag) { return vesk::getRAMImageByTag(tag); }

unsigned char *vesk_getRAMImageLine(RAMIMG *image, int row, int band, int load) {
  return image && image->getLineProc ? image->getLineProc(image, row, band, load) : nullptr;
}

void vesk_updateClient(RAMIMG *image, void *owner, int flags) {
  vesk::updateClient(image, owner, flags);
}

void vesk_updateClientRect(RAMIMG *image, void *owner, int a, int b, int c, int d) {
  vesk::updateClientRect(image, owner, a, b, c, d);
}

int vesk_attrRAMImage(RAMIMG *image, int flags) { return vesk::attrRAMImage(image, flags); }

int vesk_msbFirst(void) { return vesk::msbFirst(); }
