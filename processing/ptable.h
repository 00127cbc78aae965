/*
 * ptable.h --
 *     Pixel tables: the sorted distinct band vectors of a BYTE image with
 *     the number of pixels of each, indexed by the first byte of the
 *     vectors, and the pixel-table file ("PTABLEHD") that holds one.
 */
#ifndef VESK_PROCESSING_PTABLE_H
#define VESK_PROCESSING_PTABLE_H

#include <stdint.h>
#include <string>
#include <vector>

#include "raster/ramimg.h"

namespace vesk {

/*
 * A pixel table.  Counts are 32-bit in memory; the file keeps 16 bits
 * and stores counts above 65535 as 65535.
 */
struct PTABLE {
  int32_t capacity = 0;          /* entries the arrays hold */
  int32_t count = 0;             /* entries in use */
  int32_t first[256];            /* first entry of each first byte, -1 when none */
  int32_t last[256];             /* last entry, -2 when none (an insertion position while building) */
  std::vector<unsigned char> vectors;  /* capacity x n bytes, ascending as memcmp */
  std::vector<uint32_t> values;  /* pixels of each entry */
  int32_t n = 0;                 /* vector length */
  std::vector<int32_t> bands;    /* n band numbers, 0-based */
  std::vector<int32_t> prefix;   /* n >= 2: first entry of each two-byte prefix, 65537 of them */

  const unsigned char *vector(int32_t i) const { return vectors.data() + static_cast<size_t>(i) * n; }
};

/* File layout. */
inline constexpr int kPTableHeadFixed = 2080;      /* band list follows */
inline constexpr int kPTableMaxBands = 8192;
inline constexpr int kPTableFileCountMax = 65535;

/* Sizes of a build. */
int32_t ptableCapacity(int n);

PTABLE *createPTable(int32_t capacity, int n, const int32_t *bands);
void freePTable(PTABLE *table);
void clearPTable(PTABLE *table);
int32_t findPTableEntry(const PTABLE *table, const unsigned char *vector);
void computePTableBuckets(PTABLE *table);
int32_t checkMergeOrder(const PTABLE *table);
void printVectorList(const unsigned char *vectors, int64_t count, int n);

/* The file: a parser over a buffer, the reader and the writer. */
PTABLE *parsePTable(const unsigned char *data, int64_t size, std::string *problem);
PTABLE *getPTable(const char *fileName);
std::vector<unsigned char> encodePTable(const PTABLE *table);
int putPTable(int fd, const PTABLE *table);

/* The table of the rows [startRow, endRow) of an image over the bands. */
PTABLE *buildImagePTable(RAMIMG *image, int n, const int32_t *bands, int startRow, int endRow,
                         bool verbose, std::vector<int32_t> *entryMap = nullptr);
PTABLE *makePTable(RAMIMG *image, int n, const int32_t *bands,
                   std::vector<int32_t> *entryMap = nullptr);

/* Pixels of an image up to which makePTable can also map every pixel to its entry. */
inline constexpr int64_t kPTableMapPixels = 16 * 1024 * 1024;

}  // namespace vesk

#endif
