/*
 * jpeg.cpp --
 *     JPEG files through the JPEG library (the libjpeg 6b interface).  A
 *     JPEG image read in order is decoded row by row into a window of
 *     its line cache, and a new one written in order is encoded row by
 *     row as the window passes; read or written in any other order, it
 *     is decoded whole into the cache and written whole when its cache
 *     is written back.  The image's georeference string and note travel
 *     in two comment (COM) segments; the header's bytes-per-record field
 *     holds the quality.
 *
 *     The library reports errors through a procedure that must not
 *     return.  Ours prints the message and jumps back to the procedure
 *     that set the jump point; those procedures are plain C-style code
 *     that keeps every object it changes in a job record of its caller
 *     and holds no C++ object that a jump would skip.
 */
#include "raster/jpeg.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <tmmintrin.h>

#include <jpeglib.h>
#include <jerror.h>

#include "core/savefile.h"
#include "core/text.h"
#include "raster/ramimg.h"
#include "vesk/stdio.h"
#include "vesk/vesk.h"

namespace vesk {

namespace {

/* The library's error manager followed by the jump back to its owner. */
struct JpegErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

/*
 * Where compressed bytes come from: a stream on a duplicate of an open
 * file (the file's position is put back afterwards), or a memory block.
 */
struct JpegSource {
  int fd = -1;
  const unsigned char *memory = nullptr;
  int64_t length = 0;  /* bytes of the memory block, or of the file */
  FILE *stream = nullptr;
  off_t position = -1;
};

/* One decompression: the probe fills a header, decoding fills lines. */
struct JpegDecodeJob {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  JpegSource *source;
  ImageHeader *header;         /* probe: filled; null when decoding */
  unsigned char *destination;  /* decoding: the lines, band-interleaved by line */
  int64_t lineStride;
  int rows, columns, bands;    /* decoding: what the destination holds */
  int64_t rowsDone;            /* decoding: rows written so far */
};

/* One compression into a stream: of lines, or of a blank image. */
struct JpegEncodeJob {
  jpeg_compress_struct cinfo;
  JpegErrorManager err;
  FILE *stream;
  const ImageHeader *header;
  const unsigned char *lines;  /* null: every sample 0 */
  int64_t lineStride;
  int components;              /* 1 grey, 3 RGB, 4 CMYK */
  int quality;
};

/*
 * jpegErrorExit --
 *     The error-exit procedure: prints the library's message and jumps
 *     back to the owner of the manager with the value 1.
 */
void jpegErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  longjmp(reinterpret_cast<JpegErrorManager *>(cinfo->err)->jump, 1);
}

/* jpegOutputMessage -- the library's messages go to our error stream. */
void jpegOutputMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  vesk_fprintf(stderr, "%s\n", text);
}

void initJpegErrors(JpegErrorManager *err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = jpegErrorExit;
  err->pub.output_message = jpegOutputMessage;
}

/*
 * applyJpegMem --
 *     The memory ceiling of the library from JPEGMEM, as the library
 *     itself reads it: thousands of bytes, or megabytes with an "m".
 */
void applyJpegMem(j_common_ptr cinfo) {
  const char *text = vesk_getenv("JPEGMEM");
  long value = 0;
  char unit = 0;
  if (!text || sscanf(text, "%ld%c", &value, &unit) < 1 || value <= 0) return;
  const long scale = unit == 'm' || unit == 'M' ? 1000000L : 1000L;
  cinfo->mem->max_memory_to_use = value > LONG_MAX / scale ? LONG_MAX : value * scale;
}

/*
 * openJpegSource --
 *     Checks the signature and readies the bytes for the library.
 * Results:      true when the data starts with the SOI signature and a
 *     stream could be had for a file.
 */
bool openJpegSource(JpegSource *source) {
  unsigned char magic[3];
  if (source->fd >= 0) {
    struct stat info;
    if (fstat(source->fd, &info) != 0) return false;
    source->length = info.st_size;
    if (pread(source->fd, magic, 3, 0) != 3 || !isJpegSOI(magic)) return false;
    source->position = lseek(source->fd, 0, SEEK_CUR);
    const int copy = dup(source->fd);
    if (copy < 0) return false;
    source->stream = fdopen(copy, "rb");
    if (!source->stream) {
      close(copy);
      return false;
    }
    fseek(source->stream, 0, SEEK_SET);
    return true;
  }
  return source->memory && source->length >= 3 && isJpegSOI(source->memory);
}

void closeJpegSource(JpegSource *source) {
  if (source->stream) fclose(source->stream);
  source->stream = nullptr;
  if (source->fd >= 0 && source->position >= 0) lseek(source->fd, source->position, SEEK_SET);
}

/*
 * readJpegComments --
 *     Takes the georeference and the note from the saved COM segments:
 *     the first segment that holds a georeference string sets the map
 *     position, and the segment after it (when there is one) is the note.
 */
void readJpegComments(j_decompress_ptr cinfo, ImageHeader *header) {
  for (jpeg_saved_marker_ptr marker = cinfo->marker_list; marker; marker = marker->next) {
    if (marker->marker != JPEG_COM) continue;
    char text[kProjStringSize];
    const size_t n = std::min<size_t>(marker->data_length, sizeof text - 1);
    memcpy(text, marker->data, n);
    text[n] = 0;
    if (!parseProjString(header, text)) continue;
    for (jpeg_saved_marker_ptr next = marker->next; next; next = next->next) {
      if (next->marker != JPEG_COM) continue;
      const size_t m = std::min<size_t>(next->data_length, sizeof header->note - 1);
      memcpy(header->note, next->data, m);
      header->note[m] = 0;
      break;
    }
    return;
  }
}

/* putJpegComments -- the georeference string, then the note, each with its NUL. */
void putJpegComments(j_compress_ptr cinfo, const ImageHeader *header) {
  char text[kProjStringSize];
  const int length = formatProjString(header, text, sizeof text);
  const unsigned size = static_cast<unsigned>(std::min<size_t>(length, sizeof text));
  jpeg_write_marker(cinfo, JPEG_COM, reinterpret_cast<const JOCTET *>(text), size);
  const size_t note = strnlen(header->note, sizeof header->note - 1);
  char copy[sizeof header->note];
  memcpy(copy, header->note, note);
  copy[note] = 0;
  jpeg_write_marker(cinfo, JPEG_COM, reinterpret_cast<const JOCTET *>(copy),
                    static_cast<unsigned>(note + 1));
}

/*
 * Byte shuffles that take 16 RGB pixels (48 bytes in three vectors) apart:
 * for band k and vector v, lane j picks byte 3j + k - 16v when it lies in
 * that vector, else none (0x80 gives zero).
 */
struct RgbShuffles {
  alignas(16) unsigned char mask[3][3][16];
  RgbShuffles() {
    for (int k = 0; k < 3; k++)
      for (int v = 0; v < 3; v++)
        for (int j = 0; j < 16; j++) {
          const int at = 3 * j + k - 16 * v;
          mask[k][v][j] = at >= 0 && at < 16 ? static_cast<unsigned char>(at) : 0x80;
        }
  }
};
const RgbShuffles rgbShuffles;

/* RGB pixels into three lines, 16 at a time with byte shuffles. */
__attribute__((target("ssse3")))
void splitRgbShuffled(const unsigned char *__restrict from, int64_t columns,
                      unsigned char *__restrict r, unsigned char *__restrict g,
                      unsigned char *__restrict b) {
  __m128i m[3][3];
  for (int k = 0; k < 3; k++)
    for (int v = 0; v < 3; v++)
      m[k][v] = _mm_load_si128(reinterpret_cast<const __m128i *>(rgbShuffles.mask[k][v]));
  unsigned char *const out[3] = {r, g, b};
  int64_t i = 0;
  for (; i + 16 <= columns; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 3 * i));
    const __m128i bb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 3 * i + 16));
    const __m128i cc = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 3 * i + 32));
    for (int k = 0; k < 3; k++) {
      const __m128i band = _mm_or_si128(
          _mm_or_si128(_mm_shuffle_epi8(a, m[k][0]), _mm_shuffle_epi8(bb, m[k][1])),
          _mm_shuffle_epi8(cc, m[k][2]));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out[k] + i), band);
    }
  }
  for (; i < columns; i++) {
    r[i] = from[3 * i];
    g[i] = from[3 * i + 1];
    b[i] = from[3 * i + 2];
  }
}

/* One decoded row of c interleaved components into c band lines. */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void splitJpegRow(const JSAMPLE *__restrict from, int c, int64_t columns,
                  unsigned char *__restrict lines, int64_t stride) {
  static const bool shuffles = __builtin_cpu_supports("ssse3");
  if (c == 3 && shuffles) {
    splitRgbShuffled(from, columns, lines, lines + stride, lines + 2 * stride);
    return;
  }
  if (c == 3) {
    unsigned char *__restrict r = lines, *__restrict g = lines + stride,
                              *__restrict b = lines + 2 * stride;
    for (int64_t i = 0; i < columns; i++) {
      r[i] = from[3 * i];
      g[i] = from[3 * i + 1];
      b[i] = from[3 * i + 2];
    }
    return;
  }
  for (int k = 0; k < c; k++) {
    unsigned char *__restrict line = lines + k * stride;
    for (int64_t i = 0; i < columns; i++) line[i] = from[i * c + k];
  }
}

/*
 * runJpegDecompress --
 *     Reads the header and, when the job has a destination, every row.
 * Results:      1 on success, 0 after a library error or a mismatch.
 */
int runJpegDecompress(JpegDecodeJob *job) {
  j_decompress_ptr cinfo = &job->cinfo;
  cinfo->err = &job->err.pub;
  if (setjmp(job->err.jump)) {
    jpeg_destroy_decompress(cinfo);
    return 0;
  }
  jpeg_create_decompress(cinfo);
  applyJpegMem(reinterpret_cast<j_common_ptr>(cinfo));
  if (job->source->stream) {
    jpeg_stdio_src(cinfo, job->source->stream);
  } else {
    jpeg_mem_src(cinfo, const_cast<unsigned char *>(job->source->memory),
                 static_cast<unsigned long>(job->source->length));
  }
  if (job->header) jpeg_save_markers(cinfo, JPEG_COM, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);

  if (job->header) {
    const int64_t pixels = int64_t{cinfo->image_width} * cinfo->image_height;
    if (pixels > job->source->length * kJpegMaxPixelsPerByte) {
      vesk_fprintf(stderr, "A JPEG image of %u x %u pixels can't be held in %lld bytes.\n",
                   cinfo->image_width, cinfo->image_height,
                   static_cast<long long>(job->source->length));
      jpeg_destroy_decompress(cinfo);
      return 0;
    }
    ImageHeader *h = job->header;
    h->pixelid = P_BYTE;
    h->imgid = IMG_JPEG;
    h->mapid = MAPID_GRID;
    h->offset = 0;
    h->top = h->left = 0;
    h->bits = 8;
    h->rows = static_cast<int>(cinfo->image_height);
    h->columns = static_cast<int>(cinfo->image_width);
    h->nbands = cinfo->num_components;
    h->block = kJpegDefaultQuality;
    h->msbf = msbFirst();
    h->nindices = 0;
    h->x0 = h->y0 = 0;
    h->dx = h->dy = 1.0;
    h->transparent = -1;
    h->readerFlag = 1;
    readJpegComments(cinfo, h);
    jpeg_destroy_decompress(cinfo);
    return 1;
  }

  jpeg_start_decompress(cinfo);
  const int c = cinfo->output_components;
  if (cinfo->output_width != static_cast<JDIMENSION>(job->columns) ||
      cinfo->output_height != static_cast<JDIMENSION>(job->rows) || c != job->bands ||
      job->lineStride < job->columns) {
    vesk_fprintf(stderr, "The JPEG data is no longer %d x %d pixels of %d bands.\n", job->columns,
                 job->rows, job->bands);
    jpeg_destroy_decompress(cinfo);
    return 0;
  }
  JSAMPARRAY row = c == 1 ? nullptr
                          : (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                        JPOOL_IMAGE, cinfo->output_width * c, 1);
  while (cinfo->output_scanline < cinfo->output_height) {
    const int64_t r = cinfo->output_scanline;
    if (c == 1) {
      JSAMPROW line = job->destination + r * job->lineStride;
      jpeg_read_scanlines(cinfo, &line, 1);
      job->rowsDone = cinfo->output_scanline;
      continue;
    }
    jpeg_read_scanlines(cinfo, row, 1);
    splitJpegRow(row[0], c, job->columns, job->destination + r * c * job->lineStride,
                 job->lineStride);
    job->rowsDone = r + 1;
  }
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  return 1;
}

/* Three band lines (stride bytes apart) into one RGB row, in one pass. */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void interleaveJpegRow(const unsigned char *lines, int64_t stride, int64_t columns,
                       JSAMPLE *__restrict to) {
  const unsigned char *__restrict red = lines;
  const unsigned char *__restrict green = lines + stride;
  const unsigned char *__restrict blue = lines + 2 * stride;
  for (int64_t i = 0; i < columns; i++) {
    to[3 * i] = red[i];
    to[3 * i + 1] = green[i];
    to[3 * i + 2] = blue[i];
  }
}

/*
 * runJpegCompress --
 *     Writes the whole image of the job into its stream: the comments,
 *     then every row interleaved from the band lines (or zeros).
 * Results:      1 on success, 0 after a library error.
 */
int runJpegCompress(JpegEncodeJob *job) {
  j_compress_ptr cinfo = &job->cinfo;
  cinfo->err = &job->err.pub;
  if (setjmp(job->err.jump)) {
    jpeg_destroy_compress(cinfo);
    return 0;
  }
  jpeg_create_compress(cinfo);
  applyJpegMem(reinterpret_cast<j_common_ptr>(cinfo));
  jpeg_stdio_dest(cinfo, job->stream);
  const ImageHeader *h = job->header;
  cinfo->image_width = static_cast<JDIMENSION>(std::max(h->columns, 0));
  cinfo->image_height = static_cast<JDIMENSION>(std::max(h->rows, 0));
  cinfo->input_components = job->components;
  cinfo->in_color_space = job->components == 3   ? JCS_RGB
                          : job->components == 4 ? JCS_CMYK
                                                 : JCS_GRAYSCALE;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, job->quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  putJpegComments(cinfo, h);
  const int c = job->components;
  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                               JPOOL_IMAGE, cinfo->image_width * c, 1);
  const int64_t columns = cinfo->image_width;
  memset(row[0], 0, static_cast<size_t>(columns * c));
  while (cinfo->next_scanline < cinfo->image_height) {
    const int64_t r = cinfo->next_scanline;
    if (job->lines && c == 3) {
      interleaveJpegRow(job->lines + r * c * job->lineStride, job->lineStride, columns, row[0]);
    } else if (job->lines) {
      for (int k = 0; k < c; k++) {
        const unsigned char *__restrict line = job->lines + (r * c + k) * job->lineStride;
        JSAMPLE *__restrict to = row[0] + k;
        for (int64_t i = 0; i < columns; i++) to[i * c] = line[i];
      }
    }
    jpeg_write_scanlines(cinfo, row, 1);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  return 1;
}

/*
 * compressToFile --
 *     Runs a compression into a stream on a duplicate of fd, from offset 0.
 * Results:      1 when the whole file was written and the stream closed
 *     cleanly, else 0.
 */
int compressToFile(int fd, JpegEncodeJob *job) {
  const int copy = fd >= 0 ? dup(fd) : -1;
  if (copy < 0) return 0;
  job->stream = fdopen(copy, "w+b");
  if (!job->stream) {
    close(copy);
    return 0;
  }
  int ok = fseek(job->stream, 0, SEEK_SET) == 0 ? runJpegCompress(job) : 0;
  if (fclose(job->stream) != 0) ok = 0;
  job->stream = nullptr;
  return ok;
}

/*
 * Blank files.  A blank image is one colour, so after its first block
 * every block of the scan codes a DC difference of 0 and an immediate
 * end of block: the entropy-coded data is the first row of MCUs followed
 * by one fixed bit pattern an MCU.  The library encodes the first row of
 * MCUs (with every header segment); the rest of the scan is that pattern
 * repeated, which gives the very bytes the library writes for the whole
 * image without a transform of every block.
 */

/* Entropy-coded bytes, most significant bit first, 0xFF stuffed with 0x00. */
struct JpegBitSink {
  std::vector<unsigned char> bytes;
  uint64_t bits = 0;
  int count = 0;
  void put(uint64_t code, int length) {  /* length <= 56 */
    bits = (bits << length) | code;
    count += length;
    while (count >= 8) {
      count -= 8;
      const unsigned char byte = static_cast<unsigned char>(bits >> count);
      bytes.push_back(byte);
      if (byte == 0xFF) bytes.push_back(0);
    }
    bits &= (uint64_t{1} << count) - 1;
  }
};

/* The code of a symbol in a Huffman table; false when the table lacks it. */
bool huffmanCode(const JHUFF_TBL *table, int symbol, uint32_t *code, int *length) {
  if (!table) return false;
  uint32_t next = 0;
  int k = 0;
  for (int l = 1; l <= 16; l++) {
    for (int i = 0; i < table->bits[l]; i++, k++, next++) {
      if (table->huffval[k] != symbol) continue;
      *code = next;
      *length = l;
      return true;
    }
    next <<= 1;
  }
  return false;
}

/* One encoding of the first row of MCUs of a blank image, into memory. */
struct JpegBlankJob {
  jpeg_compress_struct cinfo;
  JpegErrorManager err;
  const ImageHeader *header;
  int components;
  unsigned char *buffer;  /* the library's memory destination */
  unsigned long size;
  std::vector<uint32_t> *mcuBits;  /* (code << 8 | length) of each block's codes */
  int mcuRows, mcuColumns;         /* of the whole image */
  bool repeatable;                 /* the scan is one interleaved sequential pass */
};

/*
 * runJpegBlankRow --
 *     Encodes the first row of MCUs of a blank image into memory and
 *     notes the codes of a blank MCU.
 * Results:      1 on success, 0 after a library error.
 */
int runJpegBlankRow(JpegBlankJob *job) {
  j_compress_ptr cinfo = &job->cinfo;
  cinfo->err = &job->err.pub;
  if (setjmp(job->err.jump)) {
    jpeg_destroy_compress(cinfo);
    return 0;
  }
  jpeg_create_compress(cinfo);
  applyJpegMem(reinterpret_cast<j_common_ptr>(cinfo));
  jpeg_mem_dest(cinfo, &job->buffer, &job->size);
  const ImageHeader *h = job->header;
  const int c = job->components;
  cinfo->image_width = static_cast<JDIMENSION>(std::max(h->columns, 0));
  cinfo->image_height = static_cast<JDIMENSION>(std::max(h->rows, 0));
  cinfo->input_components = c;
  cinfo->in_color_space = c == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, kJpegDefaultQuality, TRUE);
  int hmax = 1, vmax = 1;
  for (int i = 0; i < cinfo->num_components; i++) {
    hmax = std::max(hmax, cinfo->comp_info[i].h_samp_factor);
    vmax = std::max(vmax, cinfo->comp_info[i].v_samp_factor);
  }
  const int64_t mcuHeight = 8 * vmax, mcuWidth = 8 * hmax;
  job->mcuRows = static_cast<int>((int64_t{cinfo->image_height} + mcuHeight - 1) / mcuHeight);
  job->mcuColumns = static_cast<int>((int64_t{cinfo->image_width} + mcuWidth - 1) / mcuWidth);
  job->repeatable = !cinfo->scan_info && cinfo->restart_interval == 0 &&
                    cinfo->restart_in_rows == 0 && !cinfo->optimize_coding &&
                    !cinfo->arith_code && cinfo->image_height <= JPEG_MAX_DIMENSION &&
                    cinfo->image_width <= JPEG_MAX_DIMENSION &&
                    (cinfo->num_components > 1 || (hmax == 1 && vmax == 1));
  for (int i = 0; job->repeatable && i < cinfo->num_components; i++) {
    const jpeg_component_info &comp = cinfo->comp_info[i];
    uint32_t dc, ac;
    int dcLength, acLength;
    job->repeatable = huffmanCode(cinfo->dc_huff_tbl_ptrs[comp.dc_tbl_no], 0, &dc, &dcLength) &&
                      huffmanCode(cinfo->ac_huff_tbl_ptrs[comp.ac_tbl_no], 0, &ac, &acLength);
    for (int b = 0; job->repeatable && b < comp.h_samp_factor * comp.v_samp_factor; b++) {
      job->mcuBits->push_back(dc << 8 | static_cast<uint32_t>(dcLength));
      job->mcuBits->push_back(ac << 8 | static_cast<uint32_t>(acLength));
    }
  }
  if (job->repeatable)
    cinfo->image_height = static_cast<JDIMENSION>(std::min<int64_t>(cinfo->image_height, mcuHeight));
  jpeg_start_compress(cinfo, TRUE);
  putJpegComments(cinfo, h);
  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                               JPOOL_IMAGE, cinfo->image_width * c, 1);
  memset(row[0], 0, static_cast<size_t>(int64_t{cinfo->image_width} * c));
  while (cinfo->next_scanline < cinfo->image_height) jpeg_write_scanlines(cinfo, row, 1);
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  return 1;
}

/* Writes all n bytes at offset; false when a write fails. */
bool writeAllAt(int fd, const unsigned char *data, size_t n, off_t offset) {
  while (n > 0) {
    const ssize_t done = pwrite(fd, data, n, offset);
    if (done <= 0) return false;
    data += done;
    n -= static_cast<size_t>(done);
    offset += done;
  }
  return true;
}

/*
 * writeBlankJpeg --
 *     Writes the blank image of the header from offset 0 through fd:
 *     the library's first row of MCUs, the SOF height set to the whole
 *     image, then the blank MCU repeated to the end of the scan.
 * Results:      1 when written, 0 after a library or write error; -1
 *     when the scan can't be repeated (the caller lets the library
 *     encode the whole image).
 */
int writeBlankJpeg(int fd, const ImageHeader *header, int components) {
  std::vector<uint32_t> mcuBits;
  JpegBlankJob *job = new (std::nothrow) JpegBlankJob();
  if (!job) return 0;
  initJpegErrors(&job->err);
  job->header = header;
  job->components = components;
  job->mcuBits = &mcuBits;
  const int ran = runJpegBlankRow(job);
  const unsigned char *data = job->buffer;
  const size_t size = job->size;
  const int mcuRows = job->mcuRows, mcuColumns = job->mcuColumns;
  int result = ran ? -1 : 0;
  if (ran && !job->repeatable) {
    result = -1;
  } else if (ran && mcuRows <= 1) {
    result = writeAllAt(fd, data, size, 0) ? 1 : 0;
  } else if (ran) {
    // Find the frame height and the start of the scan's data.
    size_t pos = 2, heightAt = 0, scanAt = 0;
    while (pos + 4 <= size && data[pos] == 0xFF && !scanAt) {
      const size_t length = size_t{data[pos + 2]} << 8 | data[pos + 3];
      if (data[pos + 1] == 0xC0 && pos + 7 <= size) heightAt = pos + 5;
      if (data[pos + 1] == 0xDA) scanAt = pos + 2 + length;
      pos += 2 + length;
    }
    // The first row's bits, without stuffing, up to the fill of 1 bits
    // (the last code of an MCU, an end of block, ends in a 0 bit).
    std::vector<unsigned char> bits;
    if (heightAt && scanAt && scanAt + 2 <= size && data[size - 2] == 0xFF &&
        data[size - 1] == 0xD9) {
      for (size_t i = scanAt; i < size - 2; i++) {
        for (int b = 7; b >= 0; b--) bits.push_back((data[i] >> b) & 1);
        if (data[i] == 0xFF) i++;
      }
    }
    size_t length = bits.size();
    while (length > 0 && bits[length - 1]) length--;
    const uint32_t last = mcuBits.empty() ? 1 : mcuBits.back();
    if (length > 0 && bits.size() - length < 8 && ((last >> 8) & 1) == 0) {
      JpegBitSink sink;
      sink.bytes.assign(data, data + scanAt);
      sink.bytes[heightAt] = static_cast<unsigned char>(header->rows >> 8);
      sink.bytes[heightAt + 1] = static_cast<unsigned char>(header->rows);
      for (size_t i = 0; i < length; i++) sink.put(bits[i], 1);
      bool ok = true;
      off_t offset = 0;
      // The MCU's codes joined into pieces of at most 48 bits.
      std::vector<std::pair<uint64_t, int>> pieces;
      for (uint32_t code : mcuBits) {
        const int n = static_cast<int>(code & 0xFF);
        if (pieces.empty() || pieces.back().second + n > 48) pieces.push_back({0, 0});
        pieces.back().first = pieces.back().first << n | code >> 8;
        pieces.back().second += n;
      }
      const int64_t more = int64_t{mcuRows - 1} * mcuColumns;
      for (int64_t m = 0; m < more && ok; m++) {
        for (const auto &piece : pieces) sink.put(piece.first, piece.second);
        if (sink.bytes.size() >= (1u << 20)) {
          ok = writeAllAt(fd, sink.bytes.data(), sink.bytes.size(), offset);
          offset += static_cast<off_t>(sink.bytes.size());
          sink.bytes.clear();
        }
      }
      if (sink.count > 0) sink.put((1u << (8 - sink.count)) - 1, 8 - sink.count);
      sink.bytes.push_back(0xFF);
      sink.bytes.push_back(0xD9);
      result = ok && writeAllAt(fd, sink.bytes.data(), sink.bytes.size(), offset) ? 1 : 0;
    }
  }
  free(job->buffer);
  delete job;
  return result;
}

/* True when slot i of the cache holds line i, for every line of the image. */
bool holdsEveryLine(const RAMIMG *image) {
  const ImageHeader &h = image->header;
  const int64_t total = int64_t{h.rows} * h.nbands;
  if (!image->cache || image->cacheLines < total) return false;
  for (int64_t i = 0; i < total; i++)
    if (image->lineTags[i] != i) return false;
  return true;
}

/*
 * A source of compressed bytes read with pread at its own offset, so
 * that a decoder kept open between calls does not share a file position
 * with anyone else.  At the file's end it gives an end-of-image marker,
 * as the library's stdio source does.
 */
struct JpegFileSource {
  jpeg_source_mgr pub;
  int fd;
  int64_t offset;
  JOCTET buffer[65536];
};

void initFileSource(j_decompress_ptr) {}

boolean fillFileSource(j_decompress_ptr cinfo) {
  JpegFileSource *src = reinterpret_cast<JpegFileSource *>(cinfo->src);
  ssize_t n;
  do {
    n = pread(src->fd, src->buffer, sizeof src->buffer, static_cast<off_t>(src->offset));
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  } else {
    src->offset += n;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = static_cast<size_t>(n);
  return TRUE;
}

void skipFileSource(j_decompress_ptr cinfo, long count) {
  JpegFileSource *src = reinterpret_cast<JpegFileSource *>(cinfo->src);
  if (count <= 0) return;
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    fillFileSource(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void termFileSource(j_decompress_ptr) {}

/*
 * The state of a JPEG image read (and written) in order: a decoder kept
 * open between line loads, and for a new image an encoder that takes each
 * row once the reading and writing have moved past it.  Kept as the
 * image's private data.
 */
struct JpegStream {
  /* Decoding. */
  jpeg_decompress_struct dinfo;
  JpegErrorManager derr;
  JSAMPARRAY drow = nullptr;  /* one interleaved row */
  bool decoding = false;
  bool failed = false;        /* a decoding error: later rows read as zeros */
  int next = 0;               /* the row the decoder gives next */
  int restarts = 0;           /* reads that went back and began again */
  bool whole = false;         /* the whole image is decoded into the cache from now on */
  int kept = 0;               /* rows below this were given back (or encoded) */
  uintptr_t releasedTo = 0;   /* cache pages below here were given back */
  uintptr_t readyTo = 0;      /* lines up to here hold pages moved from passed rows */
  /* Encoding. */
  jpeg_compress_struct cinfo;
  JpegErrorManager cerr;
  SaveFile *file = nullptr;   /* the new file, renamed over the image's when complete */
  FILE *out = nullptr;
  JSAMPARRAY crow = nullptr;
  bool encoding = false;
  bool noEncoder = false;     /* an encoder could not be had: read only */
  int encoded = 0;            /* the row the encoder takes next */
  int64_t quality = 0;        /* the header's block and comments as written */
  std::string comments;
  int spillFd = -1;           /* written rows given back, for a fall-back */
  std::vector<char> spilled;  /* per row: its lines are in the spill file */
  /* A blank file this process wrote decodes to one row repeated. */
  bool blank = false;
  std::vector<JSAMPLE> blankRow;
};

/*
 * The blank files written by this process (a new image's body), known by
 * device, inode, size, modification time and a hash of their bytes: every
 * row of such a file decodes alike, so a new image read in order decodes
 * its first row only.
 */
struct BlankFileMark {
  dev_t dev;
  ino_t ino;
  off_t size;
  int64_t mtime;
  uint64_t hash;
  bool sameFile(const BlankFileMark &o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime == o.mtime;
  }
  bool operator==(const BlankFileMark &o) const { return sameFile(o) && hash == o.hash; }
};
std::mutex blankLock;
std::vector<BlankFileMark> blankFiles;  /* the latest few */
constexpr off_t kBlankFileLimit = off_t{64} << 20;

/* The file's identity without the hash of its bytes (hash 0). */
bool fileMarkOf(int fd, BlankFileMark *mark) {
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || info.st_size > kBlankFileLimit) return false;
  *mark = {info.st_dev, info.st_ino, info.st_size,
           int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec, 0};
  return true;
}

bool blankMarkOf(int fd, BlankFileMark *mark) {
  if (!fileMarkOf(fd, mark)) return false;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a over the bytes
  unsigned char buffer[65536];
  for (off_t at = 0; at < mark->size;) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; i++) hash = (hash ^ buffer[i]) * 1099511628211ull;
    at += n;
  }
  mark->hash = hash;
  return true;
}

void noteBlankFile(int fd) {
  BlankFileMark mark;
  if (!blankMarkOf(fd, &mark)) return;
  std::lock_guard<std::mutex> hold(blankLock);
  try {
    blankFiles.push_back(mark);
    if (blankFiles.size() > 64) blankFiles.erase(blankFiles.begin());
  } catch (const std::bad_alloc &) {
  }
}

bool isNotedBlankFile(int fd) {
  BlankFileMark mark;
  /* Bytes are hashed only for a file that looks like a noted one. */
  if (!fileMarkOf(fd, &mark)) return false;
  {
    std::lock_guard<std::mutex> hold(blankLock);
    if (std::none_of(blankFiles.begin(), blankFiles.end(),
                     [&](const BlankFileMark &b) { return b.sameFile(mark); }))
      return false;
  }
  if (!blankMarkOf(fd, &mark)) return false;
  std::lock_guard<std::mutex> hold(blankLock);
  return std::find(blankFiles.begin(), blankFiles.end(), mark) != blankFiles.end();
}

/*
 * startStreamDecoder --
 *     Opens the decoder of a stream on the image's file (fd) or memory
 *     block and checks that it still gives rows x columns x bands.
 * Results:      1, or 0 after a library error or a mismatch.
 */
int startStreamDecoder(JpegStream *s, int fd, const unsigned char *memory, int64_t length,
                       int rows, int columns, int bands) {
  j_decompress_ptr cinfo = &s->dinfo;
  cinfo->err = &s->derr.pub;
  if (setjmp(s->derr.jump)) {
    jpeg_destroy_decompress(cinfo);
    s->decoding = false;
    return 0;
  }
  jpeg_create_decompress(cinfo);
  s->decoding = true;
  applyJpegMem(reinterpret_cast<j_common_ptr>(cinfo));
  if (fd >= 0) {
    JpegFileSource *src = static_cast<JpegFileSource *>((*cinfo->mem->alloc_large)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(JpegFileSource)));
    src->pub.init_source = initFileSource;
    src->pub.fill_input_buffer = fillFileSource;
    src->pub.skip_input_data = skipFileSource;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = termFileSource;
    src->pub.bytes_in_buffer = 0;
    src->pub.next_input_byte = nullptr;
    src->fd = fd;
    src->offset = 0;
    cinfo->src = &src->pub;
  } else {
    jpeg_mem_src(cinfo, const_cast<unsigned char *>(memory), static_cast<unsigned long>(length));
  }
  jpeg_read_header(cinfo, TRUE);
  jpeg_start_decompress(cinfo);
  const int c = cinfo->output_components;
  if (cinfo->output_width != static_cast<JDIMENSION>(columns) ||
      cinfo->output_height != static_cast<JDIMENSION>(rows) || c != bands) {
    vesk_fprintf(stderr, "The JPEG data is no longer %d x %d pixels of %d bands.\n", columns,
                 rows, bands);
    jpeg_destroy_decompress(cinfo);
    s->decoding = false;
    return 0;
  }
  s->drow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                        cinfo->output_width * c, 1);
  s->next = 0;
  return 1;
}

/*
 * readStreamRow --
 *     Decodes the next row into `to` (width x components samples).
 * Results:      1, or 0 after a library error (the decoder is then gone).
 */
int readStreamRow(JpegStream *s, JSAMPROW to) {
  j_decompress_ptr cinfo = &s->dinfo;
  if (setjmp(s->derr.jump)) {
    jpeg_destroy_decompress(cinfo);
    s->decoding = false;
    return 0;
  }
  jpeg_read_scanlines(cinfo, &to, 1);
  s->next = static_cast<int>(cinfo->output_scanline);
  return 1;
}

void endStreamDecoder(JpegStream *s) {
  if (s->decoding) jpeg_destroy_decompress(&s->dinfo);
  s->decoding = false;
  s->drow = nullptr;
  s->blank = false;
}

/*
 * startStreamEncoder --
 *     Begins the compression of the image of the header into s->out,
 *     with the same settings as a whole-image write.
 * Results:      1, or 0 after a library error.
 */
int startStreamEncoder(JpegStream *s, const ImageHeader *h, int components, int quality) {
  j_compress_ptr cinfo = &s->cinfo;
  cinfo->err = &s->cerr.pub;
  if (setjmp(s->cerr.jump)) {
    jpeg_destroy_compress(cinfo);
    s->encoding = false;
    return 0;
  }
  jpeg_create_compress(cinfo);
  s->encoding = true;
  applyJpegMem(reinterpret_cast<j_common_ptr>(cinfo));
  jpeg_stdio_dest(cinfo, s->out);
  cinfo->image_width = static_cast<JDIMENSION>(std::max(h->columns, 0));
  cinfo->image_height = static_cast<JDIMENSION>(std::max(h->rows, 0));
  cinfo->input_components = components;
  cinfo->in_color_space = components == 3   ? JCS_RGB
                          : components == 4 ? JCS_CMYK
                                            : JCS_GRAYSCALE;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  putJpegComments(cinfo, h);
  s->crow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                        cinfo->image_width * components, 1);
  return 1;
}

/* writeStreamRow -- compresses one interleaved row: 1, or 0 after an error. */
int writeStreamRow(JpegStream *s, JSAMPROW row) {
  j_compress_ptr cinfo = &s->cinfo;
  if (setjmp(s->cerr.jump)) {
    jpeg_destroy_compress(cinfo);
    s->encoding = false;
    return 0;
  }
  jpeg_write_scanlines(cinfo, &row, 1);
  return 1;
}

/* finishStreamEncoder -- ends the compression: 1, or 0 after an error. */
int finishStreamEncoder(JpegStream *s) {
  j_compress_ptr cinfo = &s->cinfo;
  if (setjmp(s->cerr.jump)) {
    jpeg_destroy_compress(cinfo);
    s->encoding = false;
    return 0;
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  s->encoding = false;
  return 1;
}

/* ---- Reading and writing in order ---- */

/*
 * The rows kept decoded behind the newest: what a module working on a few
 * rows around its own comes back to.  Rows further behind are given back
 * (a new image's are encoded first), so a read in order holds a bounded
 * window of the image.
 */
int64_t jpegWindowBytes = int64_t{2} << 20;
constexpr int kJpegWindowMinRows = 64;

int windowRows(const RAMIMG *image) {
  const int64_t rowBytes = std::max<int64_t>(image->lineBytes * image->header.nbands, 1);
  return static_cast<int>(std::max<int64_t>(kJpegWindowMinRows, jpegWindowBytes / rowBytes));
}

unsigned char *jpegLine(RAMIMG *image, int64_t tag) {
  return image->cache + tag * image->lineBytes;
}

/* True when every band line of the row is in its slot. */
bool rowHeld(const RAMIMG *image, int row) {
  const int64_t nb = image->header.nbands, first = int64_t{row} * nb;
  for (int64_t k = 0; k < nb; k++)
    if (image->lineTags[first + k] != first + k) return false;
  return true;
}

bool rowDirty(const RAMIMG *image, int row) {
  const int64_t nb = image->header.nbands, first = int64_t{row} * nb;
  for (int64_t k = 0; k < nb; k++)
    if (isSlotDirty(image, static_cast<int>(first + k))) return true;
  return false;
}

void setRowDirty(RAMIMG *image, int row, bool dirty) {
  const int64_t nb = image->header.nbands;
  for (int64_t slot = int64_t{row} * nb; slot < (int64_t{row} + 1) * nb; slot++) {
    const unsigned char bit = static_cast<unsigned char>(1u << (slot & 7));
    if (dirty) image->dirtyBits[slot >> 3] |= bit;
    else image->dirtyBits[slot >> 3] &= static_cast<unsigned char>(~bit);
  }
}

uintptr_t pageSize() {
  static const uintptr_t size = static_cast<uintptr_t>(std::max<long>(sysconf(_SC_PAGESIZE), 4096));
  return size;
}

/* Gives back the pages wholly inside the image's lines. */
void releaseLines(RAMIMG *image) {
  const uintptr_t page = pageSize();
  const uintptr_t start = (reinterpret_cast<uintptr_t>(image->cache) + page - 1) & ~(page - 1);
  const int64_t lines = int64_t{image->header.rows} * image->header.nbands;
  const uintptr_t end = reinterpret_cast<uintptr_t>(jpegLine(image, lines)) & ~(page - 1);
  if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_DONTNEED);
}

/*
 * recycleRows --
 *     Gives back the pages of the rows below `to` that the window has
 *     passed, by moving them to the lines of rows not yet decoded, where
 *     the next rows will be written: fresh pages would each cost a fault
 *     and the kernel's clearing.  The passed rows get fresh (unbacked)
 *     pages in their place.  Pages move in aligned 2 MiB pieces, so that
 *     huge pages stay whole (split, every access would walk more page
 *     tables); pieces that can't be moved are simply given back.
 */
void recycleRows(RAMIMG *image, JpegStream *s, int to) {
  constexpr uintptr_t kPiece = uintptr_t{2} << 20;
  const int64_t nb = image->header.nbands, lineBytes = image->lineBytes;
  const uintptr_t base = reinterpret_cast<uintptr_t>(image->cache);
  const uintptr_t start = std::max(s->releasedTo, (base + kPiece - 1) & ~(kPiece - 1));
  const uintptr_t end = reinterpret_cast<uintptr_t>(jpegLine(image, to * nb)) & ~(kPiece - 1);
  if (end <= start) return;
  const uintptr_t length = end - start;
  s->releasedTo = end;
  // Lines below the window that were claimed again stay where they are.
  auto unheld = [&](uintptr_t from, uintptr_t size) {
    const int64_t last = std::min<int64_t>(static_cast<int64_t>(from + size - 1 - base) / lineBytes,
                                           int64_t{image->cacheLines} - 1);
    for (int64_t t = static_cast<int64_t>(from - base) / lineBytes; t <= last; t++)
      if (image->lineTags[t] >= 0) return false;
    return true;
  };
  if (!unheld(start, length)) return;
  const uintptr_t linesEnd =
      reinterpret_cast<uintptr_t>(jpegLine(image, int64_t{image->header.rows} * nb)) &
      ~(kPiece - 1);
  const uintptr_t ahead =
      (reinterpret_cast<uintptr_t>(jpegLine(image, int64_t{s->next} * nb)) + kPiece - 1) &
      ~(kPiece - 1);
  const uintptr_t target = std::max(s->readyTo, ahead);
  void *at = reinterpret_cast<void *>(start);
  if (target + length <= linesEnd && unheld(target, length) &&
      mremap(at, length, length, MREMAP_MAYMOVE | MREMAP_FIXED,
             reinterpret_cast<void *>(target)) != MAP_FAILED) {
    if (mmap(at, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      s->readyTo = target + length;
      return;
    }
    // The hole can't be filled: the pages go back where they were.
    mremap(reinterpret_cast<void *>(target), length, length, MREMAP_MAYMOVE | MREMAP_FIXED, at);
  }
  madvise(at, length, MADV_DONTNEED);
}

/* The cache holds every line in its own slot: the only cache read in order. */
bool holdsWholeCache(const RAMIMG *image) {
  return image->cache && image->cacheLines >= int64_t{image->header.rows} * image->header.nbands;
}

void freeJpegStream(RAMIMG *image);

JpegStream *jpegStreamOf(RAMIMG *image) {
  if (image->privateData)
    return image->freeProc == freeJpegStream ? static_cast<JpegStream *>(image->privateData)
                                             : nullptr;
  JpegStream *s = new (std::nothrow) JpegStream();
  if (!s) return nullptr;
  initJpegErrors(&s->derr);
  initJpegErrors(&s->cerr);
  image->privateData = s;
  image->freeProc = freeJpegStream;
  return s;
}

/* Drops an unfinished encoding: its file is removed, its spill closed. */
void abortStreamEncoder(JpegStream *s) {
  if (s->encoding) jpeg_destroy_compress(&s->cinfo);
  s->encoding = false;
  if (s->out) fclose(s->out);
  s->out = nullptr;
  delete s->file;
  s->file = nullptr;
  if (s->spillFd >= 0) close(s->spillFd);
  s->spillFd = -1;
  s->spilled.clear();
  s->encoded = 0;
}

/* Back to the state of an image not yet read. */
void resetJpegStream(JpegStream *s) {
  endStreamDecoder(s);
  abortStreamEncoder(s);
  s->failed = s->whole = s->noEncoder = false;
  s->next = s->restarts = s->kept = 0;
  s->readyTo = s->releasedTo = 0;
}

void freeJpegStream(RAMIMG *image) {
  JpegStream *s = static_cast<JpegStream *>(image->privateData);
  resetJpegStream(s);
  delete s;
  image->privateData = nullptr;
}

/* The comment text written into the file: georeference and note. */
std::string jpegCommentText(const ImageHeader &h) {
  char text[kProjStringSize];
  const int length = formatProjString(&h, text, sizeof text);
  std::string all(text, static_cast<size_t>(std::max(0, std::min<int>(length, sizeof text))));
  all.push_back('\n');
  all.append(h.note, strnlen(h.note, sizeof h.note - 1));
  return all;
}

int jpegQuality(const ImageHeader &h) {
  const int64_t q = h.block;
  return q < 0 ? kJpegDefaultQuality : q > 100 ? 100 : static_cast<int>(q);
}

/* An unlinked file for the rows written and given back. */
int openSpillFile() {
  const char *dir = vesk_getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = std::string(dir) + "/vesk-jpeg-XXXXXX";
  fd = mkostemp(&name[0], O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

/*
 * startEncoding --
 *     Starts writing a new image in order: a new file beside the image's,
 *     its compression begun.  Only for an image made new (its header came
 *     from its creator) of 1, 3 or 4 bands, before any row was given back.
 * Results:      true when the encoder runs.
 */
bool startEncoding(RAMIMG *image, JpegStream *s) {
  const ImageHeader &h = image->header;
  if (s->noEncoder || s->encoding) return s->encoding;
  s->noEncoder = true;
  if (image->fd < 0 || h.readerFlag != 0 || s->kept != 0 ||
      (h.nbands != 1 && h.nbands != 3 && h.nbands != 4) || !h.path[0] ||
      !memchr(h.path, 0, sizeof h.path))
    return false;
  s->spillFd = openSpillFile();
  s->file = new (std::nothrow) SaveFile();
  const int copy = s->file && s->spillFd >= 0 && s->file->open(h.path) ? dup(s->file->fd()) : -1;
  s->out = copy >= 0 ? fdopen(copy, "w+b") : nullptr;
  if (!s->out && copy >= 0) close(copy);
  try {
    if (s->out) s->spilled.assign(static_cast<size_t>(h.rows), 0);
    s->comments = jpegCommentText(h);
  } catch (const std::bad_alloc &) {
    s->spilled.clear();
  }
  s->quality = h.block;
  if (!s->out || s->spilled.empty() || !startStreamEncoder(s, &h, h.nbands, jpegQuality(h))) {
    abortStreamEncoder(s);
    return false;
  }
  s->encoded = 0;
  s->noEncoder = false;
  return true;
}

/*
 * encodeRow --
 *     Compresses the row the encoder takes next from its lines; a row
 *     that was written is also kept in the spill file, so that a later
 *     return to it finds it as written.
 * Results:      false when the row is not in the cache or a write failed.
 */
bool encodeRow(RAMIMG *image, JpegStream *s, int row) {
  const ImageHeader &h = image->header;
  const int c = h.nbands;
  const int64_t first = int64_t{row} * c, columns = h.columns;
  if (row != s->encoded || !rowHeld(image, row)) return false;
  if (rowDirty(image, row)) {
    if (!writeFileRange(s->spillFd, jpegLine(image, first), c * image->lineBytes,
                        first * image->lineBytes))
      return false;
    s->spilled[static_cast<size_t>(row)] = 1;
    setRowDirty(image, row, false);
  }
  JSAMPROW to = s->crow[0];
  if (c == 1) {
    to = jpegLine(image, first);
  } else if (c == 3) {
    interleaveJpegRow(jpegLine(image, first), image->lineBytes, columns, to);
  } else {
    for (int k = 0; k < c; k++) {
      const unsigned char *__restrict line = jpegLine(image, first + k);
      for (int64_t i = 0; i < columns; i++) to[i * c + k] = line[i];
    }
  }
  if (!writeStreamRow(s, to)) return false;
  s->encoded++;
  return true;
}

/*
 * toWholeImage --
 *     Falls back to the whole image in the cache, for reads and writes in
 *     any order: an unfinished encoding is dropped, the rows it took come
 *     back from the spill file as they were written (and still to be
 *     written), and every other line not in the cache is decoded.
 * Results:      that of readJPEG.
 */
int toWholeImage(RAMIMG *image, JpegStream *s) {
  const int64_t nb = image->header.nbands;
  s->whole = true;
  endStreamDecoder(s);
  if (s->encoding || s->out) {
    if (s->encoding) jpeg_destroy_compress(&s->cinfo);
    s->encoding = false;
  }
  for (size_t row = 0; row < s->spilled.size(); row++) {
    if (!s->spilled[row] || rowHeld(image, static_cast<int>(row))) continue;
    const int64_t first = static_cast<int64_t>(row) * nb;
    readFileRange(s->spillFd, jpegLine(image, first), nb * image->lineBytes,
                  first * image->lineBytes);
    for (int64_t k = 0; k < nb; k++) image->lineTags[first + k] = first + k;
    setRowDirty(image, static_cast<int>(row), true);
  }
  abortStreamEncoder(s);
  return readJPEG(image);
}

/*
 * retireRows --
 *     Gives back the rows below upTo that the window has passed: a new
 *     image's are encoded first; an image read only keeps them when
 *     written (it then falls back to the whole image).
 * Results:      false when it fell back to the whole image.
 */
bool retireRows(RAMIMG *image, JpegStream *s, int upTo) {
  if (upTo <= s->kept) return true;
  const int64_t nb = image->header.nbands;
  if (!s->encoding && !s->noEncoder) startEncoding(image, s);
  for (int row = s->kept; row < upTo; row++) {
    if (s->encoding ? !encodeRow(image, s, row) : rowDirty(image, row)) {
      toWholeImage(image, s);
      return false;
    }
    for (int64_t k = 0; k < nb; k++) image->lineTags[row * nb + k] = -1;
  }
  recycleRows(image, s, upTo);
  s->kept = upTo;
  return true;
}

/* Decodes the decoder's next row into the lines of that row not yet held. */
bool decodeNextRow(RAMIMG *image, JpegStream *s) {
  const int row = s->next, c = image->header.nbands;
  const int64_t first = int64_t{row} * c;
  bool none = true, all = true;
  for (int k = 0; k < c; k++) {
    const bool held = image->lineTags[first + k] == first + k;
    none = none && !held;
    all = all && held;
  }
  if (s->blank) {
    // One value a band throughout: the lines are filled with it.
    for (int k = 0; k < c; k++)
      if (image->lineTags[first + k] != first + k)
        memset(jpegLine(image, first + k), s->blankRow[static_cast<size_t>(k)],
               static_cast<size_t>(image->header.columns));
    s->next++;
    for (int k = 0; k < c; k++) image->lineTags[first + k] = first + k;
    return true;
  }
  if (c == 1 && none) {
    if (!readStreamRow(s, jpegLine(image, first))) return false;
  } else {
    if (!readStreamRow(s, s->drow[0])) return false;
    if (none) {
      splitJpegRow(s->drow[0], c, image->header.columns, jpegLine(image, first),
                   image->lineBytes);
    } else if (!all) {
      for (int k = 0; k < c; k++) {
        if (image->lineTags[first + k] == first + k) continue;
        unsigned char *line = jpegLine(image, first + k);
        for (int64_t i = 0; i < image->header.columns; i++) line[i] = s->drow[0][i * c + k];
      }
    }
  }
  for (int k = 0; k < c; k++) image->lineTags[first + k] = first + k;
  return true;
}

/* Opens the decoder of the stream on the image's data. */
bool openStreamDecoder(RAMIMG *image, JpegStream *s) {
  const ImageHeader &h = image->header;
  auto start = [&] {
    return (image->fd >= 0 ||
            (image->memData && image->memLength >= 3 && isJpegSOI(image->memData))) &&
           startStreamDecoder(s, image->fd, image->memData, image->memLength, h.rows, h.columns,
                              h.nbands);
  };
  bool ok = start();
  if (ok && s->next == 0 && image->fd >= 0 && isNotedBlankFile(image->fd)) {
    // The first row, checked to be one value throughout, stands for all.
    const size_t n = static_cast<size_t>(h.columns) * static_cast<size_t>(h.nbands);
    try {
      s->blankRow.resize(n);
    } catch (const std::bad_alloc &) {
      s->blankRow.clear();
    }
    if (!s->blankRow.empty() && readStreamRow(s, s->blankRow.data())) {
      s->blank = true;
      for (size_t i = h.nbands; i < n && s->blank; i++)
        s->blank = s->blankRow[i] == s->blankRow[i % h.nbands];
    }
    if (!s->blank) {
      endStreamDecoder(s);
      ok = start();
    }
    s->next = 0;
  }
  if (!ok) s->failed = true;
  return ok;
}



/*
 * decodeThrough --
 *     Decodes rows in order up to `row`, giving back those the window
 *     has passed.
 * Results:      false when the stream fell back to the whole image.
 */
bool decodeThrough(RAMIMG *image, JpegStream *s, int row, bool retire) {
  const int window = windowRows(image);
  while (s->next <= row && !s->failed) {
    // Passed rows go a few at a time, so that the pages moved ahead keep
    // ahead of the decoder.
    if (retire && s->next - s->kept >= window + window / 4 &&
        !retireRows(image, s, s->next - window))
      return false;
    if (!s->decoding && !openStreamDecoder(image, s)) break;
    if (!decodeNextRow(image, s)) s->failed = true;
  }
  return true;
}

/* Drops every line held (none written) and begins decoding again. */
bool restartStream(RAMIMG *image, JpegStream *s) {
  const int rows = image->header.rows;
  for (int row = 0; row < rows; row++)
    if (rowDirty(image, row)) return false;
  const int64_t total = int64_t{rows} * image->header.nbands;
  for (int64_t i = 0; i < total; i++) image->lineTags[i] = -1;
  releaseLines(image);
  endStreamDecoder(s);
  s->next = s->kept = 0;
  s->readyTo = s->releasedTo = 0;
  s->failed = false;
  s->restarts++;
  return true;
}

/*
 * finishEncoding --
 *     Completes a new image written in order: the rows not yet encoded
 *     (decoding those the module never reached), then the new file in
 *     place of the old.
 * Results:      1 when the new file is in place, 0 when it could not be
 *     written; -1 when the stream fell back to the whole image (the
 *     caller writes that).
 */
int finishEncoding(RAMIMG *image, JpegStream *s) {
  const ImageHeader &h = image->header;
  if (h.block != s->quality || jpegCommentText(h) != s->comments || !holdsWholeCache(image)) {
    toWholeImage(image, s);
    return -1;
  }
  const int window = windowRows(image);
  const int64_t nb = h.nbands;
  while (s->encoded < h.rows) {
    const int row = s->encoded;
    if (!rowHeld(image, row) &&
        (row < s->next || !decodeThrough(image, s, row, false) || !rowHeld(image, row))) {
      toWholeImage(image, s);
      return -1;
    }
    if (!encodeRow(image, s, row)) {
      toWholeImage(image, s);
      return -1;
    }
    for (int64_t k = 0; k < nb; k++) image->lineTags[row * nb + k] = -1;
    if (row + 1 - s->kept >= window) {
      recycleRows(image, s, row + 1);
      s->kept = row + 1;
    }
  }
  bool ok = finishStreamEncoder(s) != 0;
  ok = fclose(s->out) == 0 && ok;
  s->out = nullptr;
  if (!ok) s->file->fail(EIO);
  if (!s->file->commit()) {
    vesk_fprintf(stderr, "Can't rewrite %s\n", h.path);
    toWholeImage(image, s);
    memset(image->dirtyBits, 0, static_cast<size_t>(image->cacheLines / 8 + 1));
    return 0;
  }
  const int reopened = open(h.path, O_RDWR | O_CLOEXEC);
  if (reopened >= 0) {
    if (image->fd >= 0) close(image->fd);
    image->fd = reopened;
  }
  for (int i = 0; i < image->cacheLines; i++) image->lineTags[i] = -1;
  memset(image->dirtyBits, 0, static_cast<size_t>(image->cacheLines / 8 + 1));
  resetJpegStream(s);
  releaseLines(image);
  return 1;
}

}  // namespace

/*
 * loadJpegRows --
 *     Makes the line cache of a JPEG image hold `row`.  Read in order,
 *     the image is decoded row by row and keeps a window of rows; rows
 *     the window has passed are given back, and those of an image made
 *     new are encoded into its new file as they go.  A read that goes
 *     back begins decoding again from the first row once; after that (or
 *     when a written row would be lost) the whole image is decoded into
 *     the cache as readJPEG does.
 * Results:      1, or 0 after a decoding error (rows not decoded read as
 *     zeros).
 */
int loadJpegRows(RAMIMG *image, int row) {
  JpegStream *s = jpegStreamOf(image);
  if (!s || s->whole || !holdsWholeCache(image)) {
    if (s) endStreamDecoder(s);
    return readJPEG(image);
  }
  if (row < s->next &&
      (s->encoding || s->restarts > 0 || !restartStream(image, s)))
    return toWholeImage(image, s);
  if (!decodeThrough(image, s, row, true)) return 1;
  return s->failed ? 0 : 1;
}

/* setJpegWindowBytes -- sets the window's bytes (tests make it small); the old value. */
int64_t setJpegWindowBytes(int64_t bytes) {
  const int64_t old = jpegWindowBytes;
  jpegWindowBytes = std::max<int64_t>(bytes, 0);
  return old;
}

/*
 * finishJpegStream --
 *     On a flush: completes a new image being written in order, when
 *     every written row already went to the encoder (no dirty line is
 *     left to make the flush rewrite the file).
 * Results:      1, or 0 when the file could not be written.
 */
int finishJpegStream(RAMIMG *image) {
  if (image->header.imgid != IMG_JPEG || !image->privateData ||
      image->freeProc != freeJpegStream)
    return 1;
  return static_cast<JpegStream *>(image->privateData)->encoding ? writeJpegRAMImage(image) : 1;
}


/* isJpegSOI -- 1 when the bytes start 0xFF 0xD8 0xFF. */
int isJpegSOI(const unsigned char *bytes) {
  return bytes && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

/*
 * readJpegHeader --
 *     The sniffer's JPEG probe, on an open file or (fd < 0) on a memory
 *     block of `length` bytes.
 * Results:      13 (JPEG) with the header filled; 0 when the data is not
 *     a JPEG image the store can hold (a library error prints its
 *     message; no part of the header is then filled).
 * Side effects: the file's position is kept.
 */
int readJpegHeader(int fd, ImageHeader *header, const unsigned char *memory, int64_t length) {
  JpegSource source;
  source.fd = fd;
  source.memory = fd < 0 ? memory : nullptr;
  source.length = fd < 0 ? length : 0;
  if (!openJpegSource(&source)) {
    closeJpegSource(&source);
    return 0;
  }
  JpegDecodeJob *job = new (std::nothrow) JpegDecodeJob();
  ImageHeader *probed = new (std::nothrow) ImageHeader(*header);
  int ok = 0;
  if (job && probed) {
    initJpegErrors(&job->err);
    job->source = &source;
    job->header = probed;
    ok = runJpegDecompress(job);
    if (ok) *header = *probed;
  }
  delete probed;
  delete job;
  closeJpegSource(&source);
  return ok ? IMG_JPEG : 0;
}

/*
 * decodeJpeg --
 *     Decodes a whole JPEG file or memory block into band lines: row r,
 *     band k goes to line r x bands + k, the lines lineStride bytes apart.
 *     The data must still be rows x columns pixels of `bands` components.
 * Results:      1, or 0 on any failure (the lines stay as far as filled).
 * Side effects: the file's position is kept.
 */
namespace {
int decodeJpegRows(int fd, unsigned char *destination, int64_t lineStride,
                   const unsigned char *memory, int64_t length, int rows, int columns, int bands,
                   int64_t *rowsDone);
}  // namespace

int decodeJpeg(int fd, unsigned char *destination, int64_t lineStride,
               const unsigned char *memory, int64_t length, int rows, int columns, int bands) {
  int64_t rowsDone = 0;
  return decodeJpegRows(fd, destination, lineStride, memory, length, rows, columns, bands,
                        &rowsDone);
}

namespace {

/* decodeJpeg, also telling how many rows were written. */
int decodeJpegRows(int fd, unsigned char *destination, int64_t lineStride,
                   const unsigned char *memory, int64_t length, int rows, int columns, int bands,
                   int64_t *rowsDone) {
  JpegSource source;
  source.fd = fd;
  source.memory = fd < 0 ? memory : nullptr;
  source.length = fd < 0 ? length : 0;
  if (!destination || !openJpegSource(&source)) {
    closeJpegSource(&source);
    vesk_fprintf(stderr, "not a jpeg file...\n");
    return 0;
  }
  JpegDecodeJob *job = new (std::nothrow) JpegDecodeJob();
  int ok = 0;
  if (job) {
    initJpegErrors(&job->err);
    job->source = &source;
    job->destination = destination;
    job->lineStride = lineStride;
    job->rows = rows;
    job->columns = columns;
    job->bands = bands;
    ok = runJpegDecompress(job);
    *rowsDone = job->rowsDone;
  }
  delete job;
  closeJpegSource(&source);
  return ok;
}

}  // namespace

/*
 * writeJpegFile --
 *     Writes a blank (all zero) JPEG file from offset 0 at quality 90:
 *     RGB for two or more bands, else greyscale.
 * Results:      0, or -1 after a library or write error.
 * Side effects: the header gets 1 or 3 bands and no palette.
 */
int writeJpegFile(int fd, ImageHeader *header) {
  header->nbands = header->nbands < 2 ? 1 : 3;
  header->nindices = 0;
  const int blank = writeBlankJpeg(fd, header, header->nbands);
  if (blank == 1) noteBlankFile(fd);
  if (blank >= 0) return blank ? 0 : -1;
  JpegEncodeJob *job = new (std::nothrow) JpegEncodeJob();
  if (!job) return -1;
  initJpegErrors(&job->err);
  job->header = header;
  job->components = header->nbands;
  job->quality = kJpegDefaultQuality;
  const int ok = compressToFile(fd, job);
  delete job;
  if (ok) noteBlankFile(fd);
  return ok ? 0 : -1;
}

/*
 * writeJpegLines --
 *     Writes a whole image from its band lines (row r, band k at line
 *     r x bands + k, lineStride bytes apart) from offset 0, at the quality
 *     in the header's block (90 when negative, 100 above 100).  One band
 *     is written as grey, three as RGB and four as CMYK; other band counts
 *     can't be held by the file and are refused.
 * Results:      1, or 0 after a library or write error or a refusal.
 */
int writeJpegLines(int fd, const ImageHeader *header, const unsigned char *lines,
                   int64_t lineStride) {
  const int bands = header->nbands;
  if (bands != 1 && bands != 3 && bands != 4) {
    vesk_fprintf(stderr, "Can't write a JPEG image of %d bands.\n", bands);
    return 0;
  }
  if (!lines || lineStride < header->columns) return 0;
  JpegEncodeJob *job = new (std::nothrow) JpegEncodeJob();
  if (!job) return 0;
  initJpegErrors(&job->err);
  job->header = header;
  job->lines = lines;
  job->lineStride = lineStride;
  job->components = bands;
  const int64_t q = header->block;
  job->quality = q < 0 ? kJpegDefaultQuality : q > 100 ? 100 : static_cast<int>(q);
  const int ok = compressToFile(fd, job);
  delete job;
  return ok;
}

/*
 * readJPEG --
 *     Decodes the whole file (or memory copy) of a JPEG image into the
 *     cache, slot i holding line i.  Lines the cache already holds are
 *     kept as they are: they may carry changes not yet written.
 * Results:      1 when the image was decoded; 0 with "Error of malloc in
 *     readJPEG.\n" when the cache can't hold every line, or after a
 *     decoding error (the lines stay as far as they were filled).
 * Side effects: every line of the image is tagged.
 */
int readJPEG(RAMIMG *image) {
  const ImageHeader &h = image->header;
  const int64_t total = int64_t{h.rows} * h.nbands;
  if (image->cacheLines < total &&
      (setRAMImageBuf(image, h.rows) == 0 || image->cacheLines < total)) {
    vesk_fprintf(stderr, "Error of malloc in readJPEG.\n");
    return 0;
  }
  std::vector<int64_t> held;
  std::vector<unsigned char> saved;
  try {
    for (int64_t i = 0; i < total; i++)
      if (image->lineTags[i] == i) held.push_back(i);
    if (!held.empty() && static_cast<int64_t>(held.size()) < total) {
      saved.resize(held.size() * static_cast<size_t>(image->lineBytes));
      for (size_t n = 0; n < held.size(); n++)
        memcpy(&saved[n * image->lineBytes], image->cache + held[n] * image->lineBytes,
               static_cast<size_t>(image->lineBytes));
    }
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error of malloc in readJPEG.\n");
    return 0;
  }
  if (static_cast<int64_t>(held.size()) == total) return 1;
  // Every line is written by the decoder: nothing is cleared first.  A
  // failure leaves the rows decoded so far and zeros after them.
  for (int64_t i = 0; i < total; i++) image->lineTags[i] = i;
  int64_t rowsDone = 0;
  const int ok = decodeJpegRows(image->fd, image->cache, image->lineBytes, image->memData,
                                image->memLength, h.rows, h.columns, h.nbands, &rowsDone);
  if (!ok && rowsDone < h.rows)
    memset(image->cache + rowsDone * h.nbands * image->lineBytes, 0,
           static_cast<size_t>((total - rowsDone * h.nbands) * image->lineBytes));
  for (size_t n = 0; n < held.size(); n++)
    memcpy(image->cache + held[n] * image->lineBytes, &saved[n * image->lineBytes],
           static_cast<size_t>(image->lineBytes));
  return ok;
}

/*
 * writeJpegRAMImage --
 *     Rewrites the whole file of a JPEG image from the cache, with the
 *     header's georeference and note.  Lines not in the cache are decoded
 *     from the old file first.  The new file is written beside the old one
 *     and renamed over it, so a failure leaves the old file whole.
 * Results:      1 when the new file is in place, else 0.
 * Side effects: every dirty bit is cleared; on success every slot is
 *     emptied, so the next access decodes the new file (with the loss of
 *     the re-encoding), and the image's descriptor is the new file's.
 */
int writeJpegRAMImage(RAMIMG *image) {
  const ImageHeader &h = image->header;
  JpegStream *s = image->privateData && image->freeProc == freeJpegStream
                      ? static_cast<JpegStream *>(image->privateData)
                      : nullptr;
  if (s && s->encoding) {
    const int streamed = finishEncoding(image, s);
    if (streamed >= 0) return streamed;
  }
  int ok = h.path[0] != 0 && memchr(h.path, 0, sizeof h.path) != nullptr;
  if (ok && !holdsEveryLine(image)) {
    readJPEG(image);
    ok = holdsEveryLine(image);
  }
  std::string path = h.path;
  SaveFile file;
  if (ok && file.open(path.c_str())) {
    if (!writeJpegLines(file.fd(), &h, image->cache, image->lineBytes)) file.fail(EIO);
    ok = file.commit();
  } else {
    ok = 0;
  }
  if (!ok) {
    vesk_fprintf(stderr, "Can't rewrite %s\n", h.path);
  } else {
    const int reopened = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (reopened >= 0) {
      if (image->fd >= 0) close(image->fd);
      image->fd = reopened;
    }
    for (int i = 0; i < image->cacheLines; i++) image->lineTags[i] = -1;
    if (s) {
      resetJpegStream(s);
      if (holdsWholeCache(image)) releaseLines(image);
    }
  }
  if (image->dirtyBits)
    memset(image->dirtyBits, 0, static_cast<size_t>(image->cacheLines / 8 + 1));
  return ok;
}

}  // namespace vesk
