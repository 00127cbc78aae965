/*
 * jpeg.cpp --
 *     JPEG files through the JPEG library (the libjpeg 6b interface).  A
 *     JPEG image is decoded whole into the line cache when its pixels are
 *     first wanted and written whole when its cache is written back.  The
 *     image's georeference string and note travel in two comment (COM)
 *     segments; the header's bytes-per-record field holds the quality.
 *
 *     The library reports errors through a procedure that must not
 *     return.  Ours prints the message and jumps back to the procedure
 *     that set the jump point; those procedures are plain C-style code
 *     that keeps every object it changes in a job record of its caller
 *     and holds no C++ object that a jump would skip.
 */
#include "raster/jpeg.h"

#include <fcntl.h>
#include <limits.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>

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

/* One decoded row of c interleaved components into c band lines. */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void splitJpegRow(const JSAMPLE *__restrict from, int c, int64_t columns,
                  unsigned char *__restrict lines, int64_t stride) {
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

}  // namespace

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
  if (blank >= 0) return blank ? 0 : -1;
  JpegEncodeJob *job = new (std::nothrow) JpegEncodeJob();
  if (!job) return -1;
  initJpegErrors(&job->err);
  job->header = header;
  job->components = header->nbands;
  job->quality = kJpegDefaultQuality;
  const int ok = compressToFile(fd, job);
  delete job;
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
  }
  if (image->dirtyBits)
    memset(image->dirtyBits, 0, static_cast<size_t>(image->cacheLines / 8 + 1));
  return ok;
}

}  // namespace vesk
