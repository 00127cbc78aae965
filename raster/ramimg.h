/*
 * ramimg.h --
 *     The RAM image record, its registry, the line cache that every pixel
 *     access goes through, and the special line sources: TIFF strips and
 *     tiles, memory RGB frames and the volumes of multi-image files.
 */
#ifndef VESK_RASTER_RAMIMG_H
#define VESK_RASTER_RAMIMG_H

#include <stdint.h>
#include <string>
#include "raster/imghead.h"
#include "vesk/ramimg.h"

struct BandHist;  /* per-band statistics, kept by the statistics unit */
struct TiffInfo;  /* loaded TIFF directories, kept by the TIFF unit */

/*
 * One raster image: a header copy, the open file, the line cache and the
 * clients that watch it.  Allocated zeroed by the registry.
 */
struct RAMIMG {
  char tag[VESK_PATH_SIZE];      /* registry name, NUL-terminated */
  ImageHeader header;            /* path holds the absolute path of a file image */
  int fd = -1;                   /* open file; -1 for memory and resident images */
  int64_t lineBytes = 0;         /* bytes of one cached line */
  int refCount = 0;              /* references not handed to a client */
  int keepCount = 0;             /* keeps: registered without users */
  int cachedRows = 0;            /* rows the line cache holds */
  int cacheLines = 0;            /* slots = cachedRows x nbands */
  int attr = 0;                  /* bit 0: locked system image */
  int volume = 0;                /* current image of a multi-image file, from 1 */
  int volumeCount = 0;           /* images in the file, -1 while unknown */
  int64_t dataOffset = 0;        /* file offset of the current volume */
  float frameDelay = 0;          /* milliseconds; 0 when none */
  void *privateData = nullptr;   /* format data; gmemAlloc'd unless freeProc frees it */
  unsigned char *memData = nullptr;  /* in-memory file copy (malloc'd), owned */
  int64_t memLength = 0;
  int (*seekProc)(RAMIMG *image, int volume) = nullptr;  /* null: stacked volumes */
  void (*freeProc)(RAMIMG *image) = nullptr;             /* frees privateData */
  unsigned char *(*getLineProc)(RAMIMG *image, int row, int band, int load) = nullptr;
  void (*flushLineProc)(RAMIMG *image, int slot) = nullptr;
  int64_t *lineTags = nullptr;   /* per slot: row x nbands + band, -1 when empty */
  unsigned char *dirtyBits = nullptr;  /* one bit per slot, LSB first */
  unsigned char *cache = nullptr;      /* lines, then the RGB frame, tags and bits */
  BandHist *hist = nullptr;      /* cached statistics, one per band, or null */
  RamImageClient *clients = nullptr;
  RAMIMG *next = nullptr;        /* next image of the registry */
  /* A new file image's file lies under a temporary name beside this path
     until its last user closes it; then it replaces the path, or is
     removed when a write failed.  Empty for every other image. */
  std::string pendingPath;
  int writeError = 0;            /* errno of a failed write-back since the last flush */
  /* A new memory image whose untagged lines still hold a kept block's old
     bytes: each is zeroed when first had (settleRAMImageLines: all). */
  bool linesUnzeroed = false;
};

namespace vesk {

inline constexpr int kRamImageLocked = 1;  /* attr bit of a system image */

/*
 * Where the store calls into format units that are added later: each
 * member may stay null, and the store then does what it can without it.
 */
struct RasterHooks {
  /* Identifies an open file and fills the header: imgid, 0 unknown, -1 error. */
  int (*sniffImageFile)(int fd, const char *path, ImageHeader *header, void **privateData);
  /* Creates the file of a header with a zero body: data offset or -1. */
  int (*createImageFile)(ImageHeader *header);
  /* The same, left under a temporary name beside the path (*temporary). */
  int (*createPendingImageFile)(ImageHeader *header, std::string *temporary);
  /* The format's own set-up once a file image is opened or given memData
     (GIF volume and first decode, DICOM seek and free procedures). */
  void (*prepareImage)(RAMIMG *image);
  /* Decodes a whole XBMP, GIF87a or JPEG image into the cache (a JPEG
     read in order: its rows up to `row`). */
  int (*loadWholeImage)(RAMIMG *image, int row);
  /* Rewrites a whole XBMP, GIF or JPEG file from the cache, clearing every
     dirty bit and emptying the cache. */
  int (*writeWholeImage)(RAMIMG *image);
  /* On a flush: completes a whole-image file written in order (0 when it
     could not be written). */
  int (*finishImageStream)(RAMIMG *image);
  /* DICOM frames: records of the frame holding *row (count into *count,
     *row set to its first row), or null. */
  unsigned char *(*readFrameRows)(RAMIMG *image, int *row, int *count);
  /* Loads a TIFF page into a header (the page selector of the TIFF unit). */
  int (*imgTiff)(int fd, ImageHeader *header, int page, void **privateData);
  void (*freeTiffInfo)(TiffInfo *info);
  void (*freeHist)(BandHist *hist, int count);
  /* Resets the statistics of one band of an image's array (resetHist). */
  void (*resetBandHist)(BandHist *hist, int band);
  /* Fills the statistics of an FFT image file from its header in place of
     a scan: 1 when done, 0 to scan the pixels. */
  int (*getFFTHist)(RAMIMG *image, BandHist *hist);
};
RasterHooks &rasterHooks();

/* ---- registry (ramimg.cpp) ---- */
RAMIMG *openRAMImage(const char *tag, const char *path, ImageHeader *templ,
                     RamImageClient *client, int *err, bool cleared = true);
RAMIMG *openRAMImageNew(ImageHeader *templ, RamImageClient *client, int overwrite, int *err,
                        bool cleared = true);
RAMIMG *openRAMImageFile(const char *path, const ImageHeader *header, RAMIMG *record, int *err);
RAMIMG *createRAMImage(const ImageHeader *header, RAMIMG *record, int *err, bool cleared = true);
RAMIMG *reopenRAMImage(const char *path, const ImageHeader *header, RAMIMG *record, int *err);
int setRAMImageMemData(RAMIMG *image, unsigned char *data, int64_t length);
int closeRAMImage(RAMIMG *image, RamImageClient *client);
void freeRAMImage(RAMIMG *image);
bool flushRAMImage(RAMIMG *image);
void flushRAMImagesAtExit();
/* Renames a complete new file image over the path it replaces (see pendingPath). */
void finishPendingImage(RAMIMG *image);
/* A command's new file images wait for its end to replace their paths. */
size_t beginPendingImages();
bool endPendingImages(size_t mark, bool keep);
/* Failed image writes (write-backs and new files) since the process began. */
int rasterWriteFailures();
/* Records a failed write-back of an image (the errno), reported once. */
void failRAMImageWrite(RAMIMG *image, int error);
RAMIMG *getRAMImageByTag(const char *tag);
RAMIMG *getRAMImageByName(const char *path);
RAMIMG *firstRAMImage();
void registerRAMImage(const char *tag, RAMIMG *image);
void unregisterRAMImage(RAMIMG *image);
int attrRAMImage(RAMIMG *image, int flags);
int addClient(RamImageClient *client, RAMIMG *image);
int removeClient(RamImageClient *client, RAMIMG *image);
RAMIMG *detachClient(RamImageClient *client);
void updateClient(RAMIMG *image, void *owner, int flags);
void updateClientRect(RAMIMG *image, void *owner, int a, int b, int c, int d);
const char *getRAMImageErrorText(int code);
void printRAMImageError(int code);

/*
 * A reader that knows a file as its format but can't hold it says why:
 * refuseImageFile prints the message on the standard error stream and
 * keeps it, "FORMAT file: message", until the next open; an open that
 * fails reports it with getRAMImageRefusal ("" when nothing refused).
 */
void refuseImageFile(const char *format, const char *message, ...)
    __attribute__((format(printf, 2, 3)));
const char *getRAMImageRefusal();
void freeImageStats(RAMIMG *image);
void resetImageStats(RAMIMG *image);

/* ---- line cache (linecache.cpp) ---- */
int setRAMImageBuf(RAMIMG *image, int rows, bool cleared = true);
unsigned char *getRAMImageLine(RAMIMG *image, int row, int band, int load);
void getRAMImageLines(RAMIMG *image, int first, int count, int band, int load,
                      unsigned char **lines);
bool isUnwrittenRow(const RAMIMG *image, int row);
void writeRAMImageLine(RAMIMG *image, int slot);
void setRAMImageDirty(RAMIMG *image, int row, int band);
void setRAMImageDirtyRows(RAMIMG *image, int first, int count, int band);
int claimRAMImageLines(RAMIMG *image);
void settleRAMImageLines(RAMIMG *image);
void invalidateRAMImageCache(RAMIMG *image);
int setRAMImageResident(RAMIMG *image, int on);
void splitBIPLine(RAMIMG *image, int firstRow, int count, const unsigned char *records);
void swapLineBytes(int pixelid, int64_t columns, unsigned char *line);
unsigned char *getCachedLine(RAMIMG *image, int row, int band);
int64_t minimumBlock(const ImageHeader *header, int64_t lineBytes);
/* A memory image larger than the machine's memory is refused when made. */
int64_t memoryImageBytes(const ImageHeader &header);
int64_t physicalMemoryBytes();
std::string memoryImageRefusal(const ImageHeader &header);
unsigned char *allocCacheBlock(int64_t size, bool cleared = true, bool *unzeroed = nullptr);
void clearRAMImageLines(RAMIMG *image);
void freeCacheBlock(unsigned char *block);
unsigned char *rgbFrame(RAMIMG *image);
/* Positioned whole-range file access of the cache; short reads give zeros. */
void readFileRange(int fd, unsigned char *to, int64_t length, int64_t offset);
bool writeFileRange(int fd, const unsigned char *from, int64_t length, int64_t offset);
inline bool isSlotDirty(const RAMIMG *image, int slot) {
  return (image->dirtyBits[slot >> 3] >> (slot & 7)) & 1;
}

/* ---- TIFF strips, RGB frames and volumes (strips.cpp) ---- */

/*
 * The private data of an open TIFF image (allocated with new by the TIFF
 * reader, freed by freeTiffPrivate).  The header's dataOffset holds the
 * StripOffsets value field: the single strip itself, or the offsets table.
 */
struct TiffPrivate {
  int georeferenced = 0;
  int tileWidth = 0;        /* 0: not tiled */
  int tileLength = 0;
  int stripCount = 0;
  int rowsPerStrip = 0;
  int64_t stripByteCounts = 0;  /* the count itself, or the counts table */
  int compression = 0;      /* 1 none, 32773 PackBits */
  int byteOrder = 0;        /* 0x4949 "II" or 0x4D4D "MM" */
  int page = 0;             /* current page, from 1 */
  int planar = 0;           /* 1: each band in its own strips or tiles */
  TiffInfo *info = nullptr;
};
inline constexpr int kTiffLittleEndian = 0x4949;
inline constexpr int kTiffBigEndian = 0x4D4D;
inline constexpr int kTiffPackBits = 32773;

/*
 * The private data of a DIB whose rows are stored top-down (a negative
 * height in the file); bottom-up DIBs have none.  Allocated with
 * gmemAlloc by the DIB probe.
 */
struct DibPrivate {
  int topDown = 0;  /* 1: row 0 is the first row in the file */
};

int64_t readTiffLong(int fd, int byteOrder, int64_t offset, int64_t i);
unsigned char *readTiffStrip(RAMIMG *image, int *row, int *count);
unsigned char *readTiffRowRecord(RAMIMG *image, int row);
int writeTiffRecord(RAMIMG *image, int row, const unsigned char *record);
int64_t unpackBits(const unsigned char *in, int64_t inLength, unsigned char *out,
                   int64_t outLength);
unsigned char *getRGBFrameLine(RAMIMG *image, int row, int band, int load);
void putRGBFrameLine(RAMIMG *image, int slot);
int seekRAMImageVolume(RAMIMG *image, int volume);
int seekStackedVolume(RAMIMG *image, int volume);
int seekTiffVolume(RAMIMG *image, int volume);
void freeTiffPrivate(RAMIMG *image);

}  // namespace vesk

#endif
