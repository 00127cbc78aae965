/*
 * linecache.cpp --
 *     The line cache of RAM images: a direct-mapped set of slots, one row
 *     of one band each, loaded from the file by the image's layout and
 *     written back by the same layout when a dirty slot is reused, on
 *     flush and when the cache is rebuilt.  The cache holds host byte
 *     order; files keep their own.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/text.h"
#include "core/threads.h"
#include "raster/ramimg.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* How the rows of a layout are moved between file and cache. */
enum LayoutClass {
  LC_NONE,         /* nothing to read: memory layouts, UNKNOWN */
  LC_SEQUENTIAL,   /* band-sequential: one record a line */
  LC_BYLINE,       /* band-interleaved by line: one record a line */
  LC_INTERLEAVED,  /* pixel-interleaved: one record a row */
  LC_DIB,          /* bottom-up rows, bytes interleaved per pixel */
  LC_STRIPS,       /* TIFF strips or tiles */
  LC_FRAMES,       /* DICOM frames */
  LC_WHOLE         /* whole-image codecs */
};

LayoutClass layoutClass(int imgid) {
  switch (imgid) {
  case IMG_BSQ: case IMG_E74BSQ: case IMG_BSQD: return LC_SEQUENTIAL;
  case IMG_BIL: case IMG_E73: case IMG_E74: case IMG_ELAS: case IMG_BILD: return LC_BYLINE;
  case IMG_BIP: case IMG_PPM: case IMG_FFT: case IMG_BIPD: return LC_INTERLEAVED;
  case IMG_DIB: return LC_DIB;
  case IMG_TIFF: case IMG_GEOTIFF: return LC_STRIPS;
  case IMG_DICOM: return LC_FRAMES;
  case IMG_XBMP: case IMG_GIF87A: case IMG_GIF89A: case IMG_JPEG: return LC_WHOLE;
  default: return LC_NONE;
  }
}

/* Bytes of one interleaved sample, 0 for types that are never split. */
int sampleBytes(int pixelid) {
  switch (pixelid) {
  case P_BYTE: case P_SBYTE: return 1;
  case P_SHORT: case P_USHORT: return 2;
  case P_LONG: case P_FLOAT: case P_ULONG: return 4;
  default: return 0;
  }
}

/*
 * True when the file's multi-byte values are in the other order than the
 * host's.  PPM, DICOM, the whole-image codecs and memory layouts are
 * never converted.
 */
bool needsSwap(const RAMIMG *image) {
  const ImageHeader &h = image->header;
  if (sampleBytes(h.pixelid) < 2) return false;
  switch (layoutClass(h.imgid)) {
  case LC_SEQUENTIAL: case LC_BYLINE: case LC_DIB: case LC_STRIPS: break;
  case LC_INTERLEAVED:
    if (h.imgid == IMG_PPM) return false;
    break;
  default: return false;
  }
  return (h.msbf != 0) != (msbFirst() != 0);
}

unsigned char *lineAt(RAMIMG *image, int slot) { return image->cache + slot * image->lineBytes; }

/* The slot of a line's tag: a cache that holds every line has one slot a
   line, found without a division. */
inline int slotOf(const RAMIMG *image, int64_t tag) {
  return static_cast<int>(tag < image->cacheLines ? tag : tag % image->cacheLines);
}

void clearDirty(RAMIMG *image, int slot) {
  image->dirtyBits[slot >> 3] &= static_cast<unsigned char>(~(1u << (slot & 7)));
}

/* Writes the occupant of a slot back when it is dirty. */
void releaseSlot(RAMIMG *image, int slot) {
  if (isSlotDirty(image, slot)) image->flushLineProc(image, slot);
}

/* A buffer of at least `size` bytes that lives until the next call; null
   when it cannot be had. */
unsigned char *scratch(std::vector<unsigned char> &buffer, int64_t size) {
  try {
    if (static_cast<int64_t>(buffer.size()) < size) buffer.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  return buffer.data();
}
std::vector<unsigned char> readBuffer, writeBuffer, swapBuffer;

/* Reverses every sample of `size` bytes, copying from one buffer to another. */
void copySwapped(unsigned char *__restrict to, const unsigned char *__restrict from,
                 int64_t count, int size) {
  if (size == 2) {
    for (int64_t i = 0; i < count; i++) {
      to[2 * i] = from[2 * i + 1];
      to[2 * i + 1] = from[2 * i];
    }
  } else if (size == 4) {
    for (int64_t i = 0; i < count; i++) {
      uint32_t v;
      memcpy(&v, from + 4 * i, 4);
      v = __builtin_bswap32(v);
      memcpy(to + 4 * i, &v, 4);
    }
  } else {
    memcpy(to, from, static_cast<size_t>(count * size));
  }
}

/* File offset of the record of (row, band) in the line-per-record layouts. */
int64_t lineRecordOffset(const RAMIMG *image, int row, int band) {
  const ImageHeader &h = image->header;
  if (layoutClass(h.imgid) == LC_SEQUENTIAL)
    return (int64_t{band} * h.rows + row) * h.block + image->dataOffset;
  return (int64_t{row} * h.nbands + band) * h.block + image->dataOffset;
}

/* DIB rows are stored bottom-up unless the DIB probe found a top-down file. */
int64_t dibRecordOffset(const RAMIMG *image, int row) {
  const DibPrivate *dib = static_cast<const DibPrivate *>(image->privateData);
  const int64_t stored = dib && dib->topDown ? row : int64_t{image->header.rows} - row - 1;
  return stored * image->header.block + image->dataOffset;
}

/* RGB bytes into three lines: built for the baseline and for AVX2 machines. */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void splitRGB(const unsigned char *__restrict record, int64_t columns, unsigned char *__restrict r,
              unsigned char *__restrict g, unsigned char *__restrict b) {
  for (int64_t k = 0; k < columns; k++) {
    r[k] = record[3 * k];
    g[k] = record[3 * k + 1];
    b[k] = record[3 * k + 2];
  }
}

/* Three lines into RGB bytes, splitRGB's reverse. */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void joinRGB(const unsigned char *__restrict r, const unsigned char *__restrict g,
             const unsigned char *__restrict b, int64_t columns, unsigned char *__restrict record) {
  for (int64_t k = 0; k < columns; k++) {
    record[3 * k] = r[k];
    record[3 * k + 1] = g[k];
    record[3 * k + 2] = b[k];
  }
}

/*
 * splitRecords --
 *     Distributes `count` records (`stride` bytes apart) into the lines of
 *     their rows.  Rows past the cache are left out so that every row put
 *     in stays: the window of cachedRows rows holding `keepRow`.  Slots
 *     already holding their line are kept (a dirty line is newer than the
 *     file); other occupants are written back first when dirty.
 *     sample 0: one band takes the record's first line bytes; sample s:
 *     band b takes samples b, b + nbands, ... of s bytes.
 */
void splitRecords(RAMIMG *image, int firstRow, int count, const unsigned char *records,
                  int64_t stride, int sample, bool swap, int keepRow) {
  const ImageHeader &h = image->header;
  const int nbands = h.nbands;
  if (nbands > 1 && sample == 0) return;
  int from = firstRow, to = firstRow + count;
  if (count > image->cachedRows) {
    from = std::max(firstRow, std::min(keepRow, to - image->cachedRows));
    to = from + image->cachedRows;
  }
  from = std::max(from, 0);
  to = std::min(to, h.rows);
  const int64_t columns = image->lineBytes / std::max(sample, 1);
  const int swapSize = swap ? sampleBytes(h.pixelid) : 0;
  for (int row = from; row < to; row++) {
    const unsigned char *record = records + (row - firstRow) * stride;
    if (sample == 1 && nbands == 3 && !swapSize) {
      /* RGB bytes: the three lines filled in one pass over the record. */
      unsigned char *lines[3];
      for (int band = 0; band < 3; band++) {
        const int64_t tag = int64_t{row} * 3 + band;
        const int slot = static_cast<int>(tag % image->cacheLines);
        if (image->lineTags[slot] == tag) {
          lines[band] = nullptr;
          continue;
        }
        releaseSlot(image, slot);
        lines[band] = lineAt(image, slot);
        image->lineTags[slot] = tag;
      }
      if (lines[0] && lines[1] && lines[2]) {
        splitRGB(record, columns, lines[0], lines[1], lines[2]);
      } else {
        for (int band = 0; band < 3; band++)
          if (lines[band])
            for (int64_t k = 0; k < columns; k++) lines[band][k] = record[3 * k + band];
      }
      continue;
    }
    for (int band = 0; band < nbands; band++) {
      const int64_t tag = int64_t{row} * nbands + band;
      const int slot = static_cast<int>(tag % image->cacheLines);
      if (image->lineTags[slot] == tag) continue;
      releaseSlot(image, slot);
      unsigned char *line = lineAt(image, slot);
      if (nbands == 1) {
        memcpy(line, record, static_cast<size_t>(image->lineBytes));
      } else if (sample == 1) {
        for (int64_t k = 0; k < columns; k++) line[k] = record[k * nbands + band];
      } else {
        for (int64_t k = 0; k < columns; k++)
          memcpy(line + k * sample, record + (k * nbands + band) * sample,
                 static_cast<size_t>(sample));
      }
      if (swapSize > 1) swapLineBytes(h.pixelid, h.columns, line);
      image->lineTags[slot] = tag;
    }
  }
}

/*
 * Builds the stored record of a row from its band lines, in file byte
 * order, and clears their dirty bits.  Bands whose lines are not in the
 * cache, and padding, keep the bytes the file holds.
 * Results:      the record, or null when the row cannot be written.
 */
const unsigned char *joinRecord(RAMIMG *image, int row, int sample, int64_t fileOffset,
                                bool fromStrips) {
  const ImageHeader &h = image->header;
  const int nbands = h.nbands;
  if (nbands > 1 && sample == 0) return nullptr;
  unsigned char *record = scratch(writeBuffer, h.block);
  if (!record) return nullptr;
  bool complete = h.block == image->lineBytes * nbands;
  for (int band = 0; band < nbands && complete; band++) {
    const int64_t tag = int64_t{row} * nbands + band;
    complete = image->lineTags[tag % image->cacheLines] == tag;
  }
  if (!complete && isUnwrittenRow(image, row)) {
    memset(record, 0, static_cast<size_t>(h.block));
  } else if (!complete) {
    if (fromStrips) {
      unsigned char *old = readTiffRowRecord(image, row);
      if (old) memcpy(record, old, static_cast<size_t>(h.block));
      else memset(record, 0, static_cast<size_t>(h.block));
    } else {
      readFileRange(image->fd, record, h.block, fileOffset);
    }
  }
  const int swapSize = needsSwap(image) ? sampleBytes(h.pixelid) : 0;
  const int64_t columns = image->lineBytes / std::max(sample, 1);
  if (complete && sample == 1 && nbands == 3) {
    /* RGB bytes: one pass over the record. */
    int slots[3];
    for (int band = 0; band < 3; band++) {
      slots[band] = static_cast<int>((int64_t{row} * 3 + band) % image->cacheLines);
      clearDirty(image, slots[band]);
    }
    joinRGB(lineAt(image, slots[0]), lineAt(image, slots[1]), lineAt(image, slots[2]), columns,
            record);
    return record;
  }
  for (int band = 0; band < nbands; band++) {
    const int64_t tag = int64_t{row} * nbands + band;
    const int slot = static_cast<int>(tag % image->cacheLines);
    if (image->lineTags[slot] != tag) continue;
    const unsigned char *line = lineAt(image, slot);
    clearDirty(image, slot);
    if (nbands == 1) {
      if (swapSize > 1) copySwapped(record, line, image->lineBytes / swapSize, swapSize);
      else memcpy(record, line, static_cast<size_t>(image->lineBytes));
    } else if (sample == 1) {
      for (int64_t k = 0; k < columns; k++) record[k * nbands + band] = line[k];
    } else {
      for (int64_t k = 0; k < columns; k++) {
        unsigned char *at = record + (k * nbands + band) * sample;
        if (swapSize > 1) copySwapped(at, line + k * sample, 1, sample);
        else memcpy(at, line + k * sample, static_cast<size_t>(sample));
      }
    }
  }
  return record;
}

/* Makes a slot hold (row, band) with zeros, when a load could not fill it. */
unsigned char *claimZeroed(RAMIMG *image, int slot, int64_t tag) {
  unsigned char *line = lineAt(image, slot);
  if (image->lineTags[slot] != tag) {
    releaseSlot(image, slot);
    memset(line, 0, static_cast<size_t>(image->lineBytes));
    image->lineTags[slot] = tag;
  }
  return line;
}

}  // namespace

/*
 * readFileRange --
 *     Reads length bytes at offset; what the file cannot give (a short
 *     file, a bad descriptor or offset) reads as zeros.
 */
void readFileRange(int fd, unsigned char *to, int64_t length, int64_t offset) {
  int64_t done = 0;
  while (fd >= 0 && offset >= 0 && done < length) {
    ssize_t n = pread(fd, to + done, static_cast<size_t>(std::min<int64_t>(length - done, 1 << 30)),
                      static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  if (done < length) memset(to + done, 0, static_cast<size_t>(length - done));
}

/* writeFileRange -- writes length bytes at offset: false (errno set) when they don't all go. */
bool writeFileRange(int fd, const unsigned char *from, int64_t length, int64_t offset) {
  int64_t done = 0;
  while (fd >= 0 && offset >= 0 && done < length) {
    ssize_t n = pwrite(fd, from + done,
                       static_cast<size_t>(std::min<int64_t>(length - done, 1 << 30)),
                       static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += n;
  }
  return true;
}

/* Writes a range of an image's file; a failure is recorded on the image. */
static void writeImageRange(RAMIMG *image, const unsigned char *from, int64_t length,
                            int64_t offset) {
  if (!writeFileRange(image->fd, from, length, offset)) failRAMImageWrite(image, errno);
}


/*
 * minimumBlock --
 *     The fewest bytes a stored record of the layout can have: every band
 *     of a row for the interleaved layouts, the packed row of an RGB frame,
 *     none for JPEG (its block field holds the quality), one line otherwise.
 */
int64_t minimumBlock(const ImageHeader *h, int64_t lineBytes) {
  const int64_t columns = h->columns;
  switch (h->imgid) {
  case IMG_BIP: case IMG_PPM: case IMG_FFT: case IMG_BIPD: case IMG_DIB: case IMG_TIFF:
  case IMG_GEOTIFF: case IMG_DICOM: case IMG_MBIP:
    return lineBytes * h->nbands;
  case IMG_MRGB32: return 4 * columns;
  case IMG_MRGB24: return 3 * columns;
  case IMG_MRGB565: case IMG_MRGB555: return 2 * columns;
  case IMG_MRGB8: return columns;
  case IMG_MRGB4: return (columns + 1) / 2;
  case IMG_MRGB1: return (columns + 7) / 8;
  case IMG_JPEG: return 0;
  default: return lineBytes;
  }
}

namespace {

/*
 * Blocks given back are kept for the next request of the same size, as
 * malloc keeps what is freed: a module that makes its output anew on each
 * call then writes into pages it already has, where fresh pages each cost
 * a fault and the kernel's clearing.  A few blocks are kept, their total
 * bounded; the most recent stay.
 */
struct SpareBlock {
  unsigned char *start;
  int64_t total;  /* bytes mapped, a whole number of pages */
};
std::mutex spareLock;
std::vector<SpareBlock> spareBlocks;  /* oldest first */
int64_t spareBytes = 0;
constexpr size_t kMaxSpareBlocks = 4;
/* The head in front of a block: its mapped size, then padding. */
constexpr int64_t kCacheBlockHead = 64;
/* A kept block that must be cleared is cleared in place up to this size. */
constexpr int64_t kClearInPlace = int64_t{32} << 20;

/* A sixteenth of the memory, at most 512 MiB. */
int64_t spareLimit() {
  static const int64_t limit = [] {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    const int64_t physical = pages > 0 && size > 0 ? int64_t{pages} * size : 0;
    return std::min<int64_t>(physical / 16, int64_t{512} << 20);
  }();
  return limit;
}

/* Unmaps the oldest spare blocks until at most `keep` bytes are kept. */
void releaseSpareBlocks(int64_t keep) {
  std::lock_guard<std::mutex> hold(spareLock);
  while (!spareBlocks.empty() && spareBytes > keep) {
    munmap(spareBlocks.front().start, static_cast<size_t>(spareBlocks.front().total));
    spareBytes -= spareBlocks.front().total;
    spareBlocks.erase(spareBlocks.begin());
  }
}

/* A kept block of exactly `total` mapped bytes, or null. */
unsigned char *takeSpareBlock(int64_t total) {
  std::lock_guard<std::mutex> hold(spareLock);
  for (size_t i = spareBlocks.size(); i-- > 0;) {
    if (spareBlocks[i].total != total) continue;
    unsigned char *start = spareBlocks[i].start;
    spareBytes -= total;
    spareBlocks.erase(spareBlocks.begin() + static_cast<std::ptrdiff_t>(i));
    return start;
  }
  return nullptr;
}

}  // namespace

/*
 * allocCacheBlock --
 *     A block for an image cache or a large work buffer, straight from
 *     the system or one given back before: a request that cannot be met
 *     gives null (never an abort, also under the sanitizers' allocator),
 *     and fresh pages stay untouched until used.  The size is kept in
 *     front of the block for freeCacheBlock, in a head of one cache line:
 *     the block starts on a line of 64 bytes, and so does every image line
 *     of a whole number of them (vector loads and stores of a row then
 *     never straddle two cache lines).
 * Results:      the block, all zeros when `cleared`; otherwise a block
 *     given back before keeps its old bytes (the caller writes every
 *     byte it reads).  With `unzeroed`, a kept block that would be
 *     cleared here is handed out as it is and *unzeroed set: the caller
 *     zeros it piece by piece as it uses it.
 */
unsigned char *allocCacheBlock(int64_t size, bool cleared, bool *unzeroed) {
  constexpr int64_t kHead = kCacheBlockHead;
  if (unzeroed) *unzeroed = false;
  if (size <= 0 || static_cast<uint64_t>(size) > SIZE_MAX / 2 - kHead) return nullptr;
  const int64_t page = std::max<long>(sysconf(_SC_PAGESIZE), 4096);
  const int64_t total = (size + kHead + page - 1) / page * page;
  if (unsigned char *start = takeSpareBlock(total)) {
    if (cleared && unzeroed) {
      *unzeroed = true;  /* the caller zeros what it uses (settleRAMImageLines) */
    } else if (cleared && size <= kClearInPlace) {
      // In pieces of 1 MiB on the worker pool: a cleared output is
      // created while every other thread waits for its rows.
      constexpr int64_t kPiece = int64_t{1} << 20;
      parallelFor(static_cast<int>((size + kPiece - 1) / kPiece), [&](int i) {
        const int64_t at = i * kPiece;
        memset(start + kHead + at, 0, static_cast<size_t>(std::min(kPiece, size - at)));
      });
    } else if (cleared) {
      // Cleared ahead, a large block would leave the cache before it is
      // written: its pages go back and come again zeroed as they are
      // touched, as fresh pages do.
      madvise(start, static_cast<size_t>(total), MADV_DONTNEED);
      memcpy(start, &total, sizeof total);
    }
    return start + kHead;
  }
  void *block = MAP_FAILED;
  for (int attempt = 0; attempt < 2 && block == MAP_FAILED; attempt++) {
    if (attempt == 1) releaseSpareBlocks(0);  /* the kept blocks may be what is missing */
    block = mmap(nullptr, static_cast<size_t>(total), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  }
  if (block == MAP_FAILED) return nullptr;
  memcpy(block, &total, sizeof total);
  return static_cast<unsigned char *>(block) + kHead;
}

/* freeCacheBlock -- gives back a block of allocCacheBlock; null is ignored. */
void freeCacheBlock(unsigned char *block) {
  if (!block) return;
  unsigned char *start = block - kCacheBlockHead;
  int64_t total = 0;
  memcpy(&total, start, sizeof total);
  if (total > spareLimit()) {
    munmap(start, static_cast<size_t>(total));
    return;
  }
  {
    std::lock_guard<std::mutex> hold(spareLock);
    spareBlocks.push_back({start, total});
    spareBytes += total;
    if (spareBlocks.size() > kMaxSpareBlocks) {
      munmap(spareBlocks.front().start, static_cast<size_t>(spareBlocks.front().total));
      spareBytes -= spareBlocks.front().total;
      spareBlocks.erase(spareBlocks.begin());
    }
  }
  releaseSpareBlocks(spareLimit());
}

/* rgbFrame -- the frame of a memory RGB image, behind the cache lines. */
unsigned char *rgbFrame(RAMIMG *image) {
  return image->cache + int64_t{image->cacheLines} * image->lineBytes;
}

namespace {

/* A large cache is asked to be backed by huge pages where the system
   does that on request: filling it then takes a page fault per 2 MiB
   rather than per 4 KiB. */
void adviseHugePages(unsigned char *block, int64_t size) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (size < int64_t{8} << 20) return;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + static_cast<uintptr_t>(size)) &
                        ~(kHuge - 1);
  if (end > first) madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace

/*
 * memoryImageBytes --
 *     The bytes a memory image of the header holds: its lines (the line
 *     slots of an RGB frame) and its frame.
 * Results:      the size; INT64_MAX when it does not fit in 64 bits.
 */
int64_t memoryImageBytes(const ImageHeader &h) {
  const int64_t lineBytes = pixelLineBytes(h.pixelid, h.columns);
  const int64_t block = std::max(h.block, minimumBlock(&h, lineBytes));
  int64_t rows = h.rows, frame = 0;
  switch (h.imgid) {
  case IMG_MRGB32: case IMG_MRGB24: case IMG_MRGB565: case IMG_MRGB555:
  case IMG_MRGB8: case IMG_MRGB4: case IMG_MRGB1:
    if (__builtin_mul_overflow(block, int64_t{h.rows}, &frame)) return INT64_MAX;
    rows = 3;
    break;
  default:
    break;
  }
  int64_t lines = 0, bytes = 0;
  if (__builtin_mul_overflow(rows, int64_t{h.nbands}, &lines) ||
      __builtin_mul_overflow(lines, lineBytes + 8, &bytes) ||
      __builtin_add_overflow(bytes, frame, &bytes))
    return INT64_MAX;
  return bytes;
}

/* physicalMemoryBytes -- the machine's memory; INT64_MAX when unknown. */
int64_t physicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
  int64_t bytes = 0;
  if (pages <= 0 || pageSize <= 0 || __builtin_mul_overflow(int64_t{pages}, pageSize, &bytes))
    return INT64_MAX;
  return bytes;
}

namespace {

/* The first number in a file (a cgroup's limit); INT64_MAX when there is
   none ("max", no such file). */
int64_t limitInFile(const char *path) {
  FILE *f = fopen(path, "r");
  if (!f) return INT64_MAX;
  long long value = 0;
  const bool read = fscanf(f, "%lld", &value) == 1 && value > 0;
  fclose(f);
  return read ? value : INT64_MAX;
}

/* The memory limit of the control group this process runs in (v2, then
   v1); INT64_MAX when it has none. */
int64_t readCgroupMemoryLimit() {
  FILE *f = fopen("/proc/self/cgroup", "r");
  if (!f) return INT64_MAX;
  int64_t limit = INT64_MAX;
  char line[4096];
  while (fgets(line, sizeof line, f)) {
    line[strcspn(line, "\n")] = 0;
    char *controllers = strchr(line, ':');
    char *path = controllers ? strchr(controllers + 1, ':') : nullptr;
    if (!path) continue;
    *path++ = 0;
    controllers++;
    std::string file;
    if (*controllers == 0) file = std::string("/sys/fs/cgroup") + path + "/memory.max";
    else if (strstr(controllers, "memory"))
      file = std::string("/sys/fs/cgroup/memory") + path + "/memory.limit_in_bytes";
    if (!file.empty()) limit = std::min(limit, limitInFile(file.c_str()));
  }
  fclose(f);
  return limit;
}

/* The limit as read at most a second ago: reading it takes about a tenth
   of a millisecond, paid by every memory image made. */
int64_t cgroupMemoryLimit() {
  static std::mutex lock;
  static std::chrono::steady_clock::time_point readAt;
  static int64_t limit = 0;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> hold(lock);
  if (limit == 0 || now - readAt > std::chrono::seconds(1)) {
    limit = readCgroupMemoryLimit();
    readAt = now;
  }
  return limit;
}

}  // namespace

/*
 * memoryImageRefusal --
 *     Why a memory image of the header cannot be made: it is larger than
 *     the machine's memory or than what this process may use (its
 *     control group's limit, its address-space and data limits).  Pages
 *     are touched only when used, so such an image would be accepted and
 *     exhaust the memory later.
 * Results:      the message with both sizes; empty when the image fits.
 */
std::string memoryImageRefusal(const ImageHeader &header) {
  const int64_t bytes = memoryImageBytes(header), physical = physicalMemoryBytes();
  int64_t limit = cgroupMemoryLimit();
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit r;
    if (getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY &&
        r.rlim_cur < static_cast<rlim_t>(INT64_MAX))
      limit = std::min(limit, static_cast<int64_t>(r.rlim_cur));
  }
  const bool byLimit = limit < physical;
  const int64_t memory = byLimit ? limit : physical;
  if (bytes <= memory) return {};
  char message[200];
  snprintf(message, sizeof message, "Memory image of %lld bytes is larger than %s (%lld bytes)",
           static_cast<long long>(bytes),
           byLimit ? "the memory this process may use" : "the physical memory",
           static_cast<long long>(memory));
  return message;
}

/*
 * setRAMImageBuf --
 *     (Re)allocates the cache of an image for about `rows` rows.  The
 *     lines of a memory image are its pixels: zeros, unless `cleared` is
 *     false, which a creator passes that writes every line before any is
 *     read.
 * Results:      the rows the cache holds; 0 when it cannot be had (the
 *     image then has no cache).
 * Side effects: dirty lines are written back first.  Memory images hold
 *     every line from now on; file images start empty.
 */
int setRAMImageBuf(RAMIMG *image, int rows, bool cleared) {
  if (image->cache) {
    flushRAMImage(image);
    freeCacheBlock(image->cache);
  }
  image->cache = nullptr;
  image->lineTags = nullptr;
  image->dirtyBits = nullptr;
  image->cachedRows = image->cacheLines = 0;

  const ImageHeader &h = image->header;
  const bool hasFile = image->fd >= 0;
  int64_t frameBytes = 0;
  int64_t r = rows;
  switch (h.imgid) {
  case IMG_XBMP: case IMG_GIF87A: case IMG_GIF89A: case IMG_JPEG: case IMG_DICOM:
    r = h.rows;
    break;
  case IMG_MRGB32: case IMG_MRGB24: case IMG_MRGB565: case IMG_MRGB555:
    frameBytes = h.block * h.rows;
    r = 3;
    break;
  case IMG_MRGB8: case IMG_MRGB4: case IMG_MRGB1:
    frameBytes = h.block * h.rows;
    r = 1;
    break;
  case IMG_TIFF: case IMG_GEOTIFF:
    if (image->privateData) {
      // Strips and tiles are read whole: the cache holds two of them.  One
      // uncompressed strip (a file this library writes) is read a window at
      // a time instead, so its cache stays small however large the image.
      const TiffPrivate *tiff = static_cast<const TiffPrivate *>(image->privateData);
      const int64_t unit = tiff->tileWidth > 0 ? tiff->tileLength : tiff->rowsPerStrip;
      const bool window = tiff->tileWidth <= 0 && tiff->stripCount <= 1 &&
                          (tiff->compression == 1 || tiff->compression == 0);
      if (unit > 0 && !window) r = std::max((r + unit - 1) / unit * unit, 2 * unit);
    }
    [[fallthrough]];
  default:
    r = hasFile ? std::min<int64_t>(r, h.rows) : h.rows;
    break;
  }
  r = std::max<int64_t>(r, 1);

  const int64_t nbands = h.nbands;
  const int fill = h.transparent >= 0 ? h.transparent & 0xff : 0;
  const bool resident = !hasFile && frameBytes == 0 && !image->memData;
  // Lines handed out as they lie start as zeros: a memory image's (unless
  // its creator fills them), an RGB frame and those of a file of no known
  // layout.  Every other line of a file is read, decoded or claimed whole
  // before it is used.
  const bool zeros = frameBytes > 0 || (resident ? cleared : layoutClass(h.imgid) == LC_NONE);
  // A new memory image's lines in a kept block are zeroed one by one as
  // they are first had, and not at all when had to be filled whole: a
  // module writing every line of its output then never clears it.  (A
  // band-sequential image's lines are had without a tag; a 1-bit one's
  // block may be viewed whole as a bitmap.)
  const bool lazy = resident && zeros && fill == 0 && h.imgid != IMG_MBSQ && h.pixelid != P_1BIT;
  bool unzeroed = false;
  unsigned char *cache = nullptr;
  int64_t linesBytes = 0, tagsAt = 0, bitsAt = 0, n = 0;
  for (;;) {
    n = r * nbands;
    int64_t total = 0;
    bool fits = n <= INT32_MAX && !__builtin_mul_overflow(n, image->lineBytes, &linesBytes) &&
                !__builtin_add_overflow(linesBytes, frameBytes, &tagsAt);
    if (fits) {
      tagsAt = (tagsAt + 7) & ~int64_t{7};
      bitsAt = tagsAt + n * static_cast<int64_t>(sizeof(int64_t));
      total = bitsAt + n / 8 + 1;
      fits = total > 0 && static_cast<uint64_t>(total) <= SIZE_MAX / 2;
    }
    cache = fits ? allocCacheBlock(total, zeros && fill == 0, lazy ? &unzeroed : nullptr) : nullptr;
    if (cache) {
      adviseHugePages(cache, total);
      break;
    }
    if (hasFile && r > nbands) {
      r -= nbands;
      continue;
    }
    vesk_fprintf(stderr, "Fatal error of malloc in: setRAMImageBuf\n");
    return 0;
  }

  if (fill != 0) memset(cache, fill, static_cast<size_t>(linesBytes + frameBytes));
  image->cache = cache;
  image->lineTags = reinterpret_cast<int64_t *>(cache + tagsAt);
  image->dirtyBits = cache + bitsAt;
  memset(image->dirtyBits, 0, static_cast<size_t>(n / 8 + 1));
  for (int64_t i = 0; i < n; i++) image->lineTags[i] = resident && !unzeroed ? i : -1;
  image->linesUnzeroed = unzeroed;
  image->cachedRows = static_cast<int>(r);
  image->cacheLines = static_cast<int>(n);
  return image->cachedRows;
}

/*
 * isUnwrittenRow --
 *     True when the stored record of a row of a pixel-interleaved file or
 *     a one-strip uncompressed TIFF lies in a hole of the file: a new
 *     file's body is made sparse, so a row never written back holds zeros
 *     there and its lines are claimed without reading.
 */
bool isUnwrittenRow(const RAMIMG *image, int row) {
  const ImageHeader &h = image->header;
  if (image->fd < 0 || row < 0 || row >= h.rows || h.block <= 0) return false;
  const LayoutClass layout = layoutClass(h.imgid);
  if (layout == LC_STRIPS) {
    const TiffPrivate *tiff = static_cast<const TiffPrivate *>(image->privateData);
    if (!tiff || tiff->tileWidth > 0 || tiff->stripCount > 1 || tiff->planar ||
        (tiff->compression != 1 && tiff->compression != 0))
      return false;
  } else if (layout != LC_INTERLEAVED) {
    return false;
  }
  const int64_t offset = int64_t{row} * h.block + image->dataOffset;
  const off_t data = lseek(image->fd, static_cast<off_t>(offset), SEEK_DATA);
  if (data < 0) return errno == ENXIO;  /* no data from there on */
  return data >= offset + h.block;
}

namespace {

/* getRAMImageLine for a line not in its slot: kept apart so that the
   lookup of a held line stays a few instructions. */
__attribute__((noinline)) unsigned char *loadRAMImageLine(RAMIMG *image, int row, int band,
                                                          int load, int64_t tag, int slot) {
  const ImageHeader &h = image->header;
  unsigned char *line = lineAt(image, slot);
  if (image->linesUnzeroed) {
    // A memory image's line first had: nothing to write back or read.
    if (load) memset(line, 0, static_cast<size_t>(image->lineBytes));
    image->lineTags[slot] = tag;
    return line;
  }
  const LayoutClass layout = layoutClass(h.imgid);
  const bool oneSlot = layout == LC_NONE || layout == LC_SEQUENTIAL || layout == LC_BYLINE ||
                       (layout == LC_DIB && h.nbands == 1);
  if (oneSlot || (h.nbands == 1 && !load)) {
    releaseSlot(image, slot);
    image->lineTags[slot] = tag;
    if (!load || layout == LC_NONE) return line;
    const int64_t offset =
        layout == LC_DIB ? dibRecordOffset(image, row) : lineRecordOffset(image, row, band);
    readFileRange(image->fd, line, image->lineBytes, offset);
    if (needsSwap(image)) swapLineBytes(h.pixelid, h.columns, line);
    return line;
  }

  if (isUnwrittenRow(image, row)) {
    // A new file's row never written back holds zeros: no read.  The row's
    // other lines not in the cache are claimed as zeros too (one look at
    // the file a row); this one is left for the caller to fill without load.
    for (int b = 0; b < h.nbands; b++) {
      const int64_t other = int64_t{row} * h.nbands + b;
      const int at = static_cast<int>(other % image->cacheLines);
      if (b != band && image->lineTags[at] == other) continue;
      releaseSlot(image, at);
      image->lineTags[at] = other;
      if (b != band || load) memset(lineAt(image, at), 0, static_cast<size_t>(image->lineBytes));
    }
    return line;
  }

  switch (layout) {
  case LC_INTERLEAVED:
  case LC_DIB: {
    unsigned char *record = scratch(readBuffer, h.block);
    if (!record) break;
    const int64_t offset = layout == LC_DIB ? dibRecordOffset(image, row)
                                            : int64_t{row} * h.block + image->dataOffset;
    readFileRange(image->fd, record, h.block, offset);
    splitRecords(image, row, 1, record, h.block, layout == LC_DIB ? 1 : sampleBytes(h.pixelid),
                 needsSwap(image), row);
    break;
  }
  case LC_STRIPS: {
    int first = row, count = 0;
    const unsigned char *records = readTiffStrip(image, &first, &count);
    if (records)
      splitRecords(image, first, count, records, h.block, sampleBytes(h.pixelid),
                   needsSwap(image), row);
    break;
  }
  case LC_FRAMES: {
    int first = row, count = 0;
    const unsigned char *records =
        rasterHooks().readFrameRows ? rasterHooks().readFrameRows(image, &first, &count) : nullptr;
    if (records)
      splitRecords(image, first, count, records, h.block, sampleBytes(h.pixelid), false, row);
    break;
  }
  case LC_WHOLE:
    if (h.imgid == IMG_GIF89A) seekRAMImageVolume(image, 1);
    else if (rasterHooks().loadWholeImage) rasterHooks().loadWholeImage(image, row);
    break;
  default:
    break;
  }
  return claimZeroed(image, slot, tag);
}

/* Where the line of (row, band) lives: its fixed place in a
   band-sequential cache, or else its tag and slot; false for a row or
   band outside the image or an image without a cache. */
struct LinePlace {
  unsigned char *fixed = nullptr;
  int64_t tag = 0;
  int slot = 0;
};
__attribute__((always_inline)) inline bool linePlace(const RAMIMG *image, int row, int band,
                                                     LinePlace *at) {
  const ImageHeader &h = image->header;
  if (!image->cache || row < 0 || row >= h.rows || band < 0 || band >= h.nbands) return false;
  if (h.imgid == IMG_MBSQ) {
    at->fixed = image->cache + (int64_t{band} * h.rows + row) * image->lineBytes;
    return true;
  }
  at->tag = int64_t{row} * h.nbands + band;
  at->slot = slotOf(image, at->tag);
  return true;
}

/* getRAMImageLine, inlined where lines are taken many at a time. */
__attribute__((always_inline)) inline unsigned char *cachedLine(RAMIMG *image, int row, int band,
                                                               int load) {
  LinePlace at;
  if (!linePlace(image, row, band, &at)) return nullptr;
  if (at.fixed) return at.fixed;
  if (image->lineTags[at.slot] == at.tag) return lineAt(image, at.slot);
  return loadRAMImageLine(image, row, band, load, at.tag, at.slot);
}

}  // namespace

/*
 * getRAMImageLine --
 *     The line of (row, band), loaded by the image's layout when it is not
 *     in the cache.  With load 0 a one-band line (and any line of the
 *     band-sequential and line-interleaved layouts, or of a new file's
 *     unwritten row) is claimed without reading: the caller fills all of
 *     it.
 * Results:      the line in host byte order; null for a row or band
 *     outside the image or an image without a cache.
 * Side effects: dirty lines whose slots are taken are written back; what
 *     the file cannot give (a short file) reads as zeros.
 */
unsigned char *getRAMImageLine(RAMIMG *image, int row, int band, int load) {
  return cachedLine(image, row, band, load);
}

/* getRAMImageLines -- getRAMImageLine for rows first .. first + count - 1,
   into lines (one call for the many rows of a whole-image operation). */
void getRAMImageLines(RAMIMG *image, int first, int count, int band, int load,
                      unsigned char **lines) {
  for (int k = 0; k < count; k++) lines[k] = cachedLine(image, first + k, band, load);
}

/*
 * claimRAMImageLines --
 *     For a cache that holds every line of its image, each in its own
 *     slot, tags every line as held without reading the file: for a
 *     writer about to fill every line of every band (a whole-image format
 *     is then not decoded only to be overwritten).
 * Results:      1 when every line is claimed; 0 (nothing changed) when
 *     the cache does not hold the whole image.
 */
int claimRAMImageLines(RAMIMG *image) {
  const ImageHeader &h = image->header;
  const int64_t total = int64_t{h.rows} * h.nbands;
  if (!image->cache || total <= 0 || image->cacheLines < total) return 0;
  for (int64_t i = 0; i < total; i++) image->lineTags[i] = i;
  image->linesUnzeroed = false;
  return 1;
}

/*
 * settleRAMImageLines --
 *     Zeros the lines of a new memory image not had yet, so that its
 *     block may be read or tagged as a whole.
 */
void settleRAMImageLines(RAMIMG *image) {
  if (!image->cache || !image->linesUnzeroed) return;
  const bool large = int64_t{image->cacheLines} * image->lineBytes > kClearInPlace;
  const uintptr_t page = static_cast<uintptr_t>(std::max<long>(sysconf(_SC_PAGESIZE), 4096));
  for (int i = 0; i < image->cacheLines;) {
    if (image->lineTags[i] == i) {
      i++;
      continue;
    }
    int end = i;
    while (end < image->cacheLines && image->lineTags[end] != end) end++;
    for (int k = i; k < end; k++) image->lineTags[k] = k;
    // A run of lines not had: a large block's whole pages in it go back to
    // the system, to come again zeroed as they are touched.
    const uintptr_t from = reinterpret_cast<uintptr_t>(lineAt(image, i));
    const uintptr_t to = reinterpret_cast<uintptr_t>(lineAt(image, end));
    uintptr_t first = (from + page - 1) & ~(page - 1), last = to & ~(page - 1);
    if (!large || last <= first ||
        madvise(reinterpret_cast<void *>(first), last - first, MADV_DONTNEED) != 0)
      first = last = to;
    memset(reinterpret_cast<void *>(from), 0, first - from);
    memset(reinterpret_cast<void *>(last), 0, to - last);
    i = end;
  }
  image->linesUnzeroed = false;
}

/*
 * clearRAMImageLines --
 *     Zeros every line of a memory image (its transparent fill where it
 *     has one): for a creator that promised to write every line and
 *     stopped short, so the image holds zeros and not old bytes.
 */
void clearRAMImageLines(RAMIMG *image) {
  const ImageHeader &h = image->header;
  if (!image->cache || image->fd >= 0 || image->memData) return;
  const int fill = h.transparent >= 0 ? h.transparent & 0xff : 0;
  memset(image->cache, fill, static_cast<size_t>(int64_t{image->cacheLines} * image->lineBytes));
}

/*
 * writeRAMImageLine --
 *     Writes the line of a slot (or the record it belongs to) back to the
 *     file, in the file's byte order.
 * Side effects: clears the dirty bits of every line written.  Without an
 *     open file the line stays only in memory.  A write that fails is
 *     recorded on the image (failRAMImageWrite): the command that writes
 *     reports it, and a new file with a failed write never replaces an
 *     older one.
 */
void writeRAMImageLine(RAMIMG *image, int slot) {
  if (!image->cache || slot < 0 || slot >= image->cacheLines) return;
  clearDirty(image, slot);
  const int64_t tag = image->lineTags[slot];
  if (image->fd < 0 || tag < 0) return;
  const ImageHeader &h = image->header;
  const int row = static_cast<int>(tag / h.nbands);
  const int band = static_cast<int>(tag % h.nbands);
  if (row >= h.rows) return;
  const unsigned char *line = lineAt(image, slot);

  const LayoutClass layout = layoutClass(h.imgid);
  switch (layout) {
  case LC_SEQUENTIAL:
  case LC_BYLINE:
  case LC_DIB: {
    if (layout == LC_DIB && h.nbands > 1) {
      const unsigned char *record = joinRecord(image, row, 1, dibRecordOffset(image, row), false);
      if (record) writeImageRange(image, record, h.block, dibRecordOffset(image, row));
      return;
    }
    const int64_t offset =
        layout == LC_DIB ? dibRecordOffset(image, row) : lineRecordOffset(image, row, band);
    const int swapSize = needsSwap(image) ? sampleBytes(h.pixelid) : 0;
    if (swapSize > 1) {
      unsigned char *copy = scratch(swapBuffer, image->lineBytes);
      if (!copy) return;
      copySwapped(copy, line, image->lineBytes / swapSize, swapSize);
      line = copy;
    }
    writeImageRange(image, line, image->lineBytes, offset);
    return;
  }
  case LC_INTERLEAVED:
  case LC_STRIPS:
  case LC_FRAMES: {
    if (layout != LC_INTERLEAVED && h.readerFlag != 0) return;
    const int64_t offset = int64_t{row} * h.block + image->dataOffset;
    const unsigned char *record =
        joinRecord(image, row, sampleBytes(h.pixelid), offset, layout == LC_STRIPS);
    if (!record) return;
    if (layout == LC_STRIPS) writeTiffRecord(image, row, record);
    else writeImageRange(image, record, h.block, offset);
    return;
  }
  case LC_WHOLE:
    if (rasterHooks().writeWholeImage && !rasterHooks().writeWholeImage(image))
      failRAMImageWrite(image, 0);
    return;
  default:
    return;
  }
}

/* setRAMImageDirtyRows -- flags the slots of rows first .. first + count - 1
   of a band as written. */
void setRAMImageDirtyRows(RAMIMG *image, int first, int count, int band) {
  if (!image->cache || image->cacheLines <= 0 || first < 0 || band < 0) return;
  // Each byte of flags written once (not once a row).
  int byte = -1;
  unsigned bits = 0;
  for (int k = 0; k < count; k++) {
    const int slot = slotOf(image, (int64_t{first} + k) * image->header.nbands + band);
    if (slot >> 3 != byte) {
      if (byte >= 0) image->dirtyBits[byte] |= static_cast<unsigned char>(bits);
      byte = slot >> 3;
      bits = 0;
    }
    bits |= 1u << (slot & 7);
  }
  if (byte >= 0) image->dirtyBits[byte] |= static_cast<unsigned char>(bits);
}

/* setRAMImageDirty -- flags the slot of (row, band) as written. */
void setRAMImageDirty(RAMIMG *image, int row, int band) { setRAMImageDirtyRows(image, row, 1, band); }

/* invalidateRAMImageCache -- empties every slot, without write-back. */
void invalidateRAMImageCache(RAMIMG *image) {
  if (!image->cache) return;
  settleRAMImageLines(image);  /* a memory image keeps its lines, zeros included */
  for (int i = 0; i < image->cacheLines; i++) image->lineTags[i] = -1;
  memset(image->dirtyBits, 0, static_cast<size_t>(image->cacheLines / 8 + 1));
}

/*
 * setRAMImageResident --
 *     On: the whole image is loaded into the cache and the file closed;
 *     writes stay in memory from then on.  Off: the file is opened again.
 * Results:      1 on success, 0 otherwise.
 */
int setRAMImageResident(RAMIMG *image, int on) {
  if (on) {
    if (image->fd < 0) return 1;
    if (setRAMImageBuf(image, image->header.rows) == 0) return 0;
    for (int band = 0; band < image->header.nbands; band++)
      for (int row = 0; row < image->header.rows; row++) image->getLineProc(image, row, band, 1);
    close(image->fd);
    image->fd = -1;
    return 1;
  }
  if (image->fd >= 0) return 1;
  settleRAMImageLines(image);
  image->fd = open(image->header.path, O_RDWR | O_CLOEXEC);
  return image->fd >= 0;
}

/*
 * splitBIPLine --
 *     Distributes `count` pixel-interleaved records, `block` bytes apart,
 *     into the lines of their rows (as they are: no byte-order change).
 */
void splitBIPLine(RAMIMG *image, int firstRow, int count, const unsigned char *records) {
  if (!image->cache || count <= 0) return;
  splitRecords(image, firstRow, count, records, image->header.block,
               sampleBytes(image->header.pixelid), false, firstRow + count - 1);
}

/* swapLineBytes -- reverses every 2- or 4-byte value of a line in place. */
void swapLineBytes(int pixelid, int64_t columns, unsigned char *line) {
  switch (pixelid) {
  case P_SHORT:
  case P_USHORT:
    for (int64_t i = 0; i < columns; i++) std::swap(line[2 * i], line[2 * i + 1]);
    break;
  case P_LONG:
  case P_FLOAT:
  case P_ULONG:
    for (int64_t i = 0; i < columns; i++) {
      uint32_t v;
      memcpy(&v, line + 4 * i, 4);
      v = __builtin_bswap32(v);
      memcpy(line + 4 * i, &v, 4);
    }
    break;
  default:
    break;
  }
}

/*
 * getCachedLine --
 *     The line of (row, band) only when the cache holds it (written back
 *     first when dirty); null otherwise.
 */
unsigned char *getCachedLine(RAMIMG *image, int row, int band) {
  LinePlace at;
  if (!linePlace(image, row, band, &at)) return nullptr;
  if (at.fixed) return at.fixed;
  if (image->lineTags[at.slot] != at.tag)
    return image->linesUnzeroed ? loadRAMImageLine(image, row, band, 1, at.tag, at.slot) : nullptr;
  releaseSlot(image, at.slot);
  return lineAt(image, at.slot);
}

}  // namespace vesk
