/*
 * gfftrans.cpp --
 *     "rimage gfftrans": one band of an image into the frequency domain
 *     and back, conversions between real/imaginary and power/phase form,
 *     and filtering of spectra, in passes over blocks of rows and strips
 *     of columns of an FFT image file, so that the data never has to fit
 *     in memory.  A raw image is extended by mirroring to powers of 2.
 */
#include <fcntl.h>
#include <math.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <iterator>
#include <new>
#include <string>
#include <vector>
#include "core/core.h"
#include "core/options.h"
#include "core/text.h"
#include "core/threads.h"
#include "processing/fftkernel.h"
#include "processing/rimage.h"
#include "raster/fftfile.h"
#include "raster/pixels.h"
#include "vesk/stdio.h"
#include "vesk/vesk.h"

namespace vesk {
namespace {

enum { GF_IN, GF_OUT, GF_B, GF_OP, GF_FP, GF_FA, GF_OPTION_COUNT };

const ModuleOption gfftOptions[] = {
    {"-in", nullptr}, {"-out", nullptr}, {"-b", nullptr}, {"-op", nullptr},
    {"-fp", nullptr}, {"-fa", nullptr},  {nullptr, nullptr},
};
static_assert(sizeof gfftOptions / sizeof gfftOptions[0] == GF_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const gfftUsage[] = {
    "where IN    imageID of the input image\n",
    "      OUT   imageID of the output FFT image\n",
    "      OP    option: XRI, YRI, XYRI, XPP, YPP, XYPP, RI, PP, XY, XX, XY, FLTR\n",
    "      BAND  band number\n",
    "      FP    filter parameters:\n",
    "                bell,r,n;\n",
    "                high,r,n,amp;\n",
    "                notch,r,n,amp,x,y\n",
    "      FA    rotation angle of the filter\n",
};

enum Op { XRI, YRI, XYRI, XPP, YPP, XYPP, XY, XX, YY, FLTR, RI, PP, NOOP };
const char *const opNames[] = {"XRI", "YRI", "XYRI", "XPP", "YPP", "XYPP",
                               "XY",  "XX",  "YY",   "FLTR", "RI", "PP"};

/* The input state once a pass of this run has written the output file. */
constexpr int kWritten = 19;
constexpr long long kBufferBytes = 4194304;

/*
 * Floats in a block of the cache allocator: pages given back by an earlier
 * call are used again, and nothing is cleared (every sample is written
 * before it is read).
 */
class FloatBlock {
 public:
  FloatBlock() = default;
  FloatBlock(const FloatBlock &) = delete;
  FloatBlock &operator=(const FloatBlock &) = delete;
  ~FloatBlock() { release(); }
  bool allocate(size_t count) {
    release();
    block_ = count > 0 && count <= SIZE_MAX / 2 / sizeof(float)
                 ? allocCacheBlock(static_cast<int64_t>(count * sizeof(float)), false)
                 : nullptr;
    return block_ != nullptr;
  }
  void release() {
    freeCacheBlock(block_);
    block_ = nullptr;
  }
  float *data() const { return reinterpret_cast<float *>(block_); }
  bool empty() const { return block_ == nullptr; }

 private:
  unsigned char *block_ = nullptr;
};

struct GfftWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  FFTHead inHead;  /* an FFT input's head */
  FFTHead head;    /* the output's */
  bool fftInput = false;
  FloatBlock buffer;
  int band = 1;
  int inState = FFT_INIT;
  int outState = FFT_SFRI;
  int op = NOOP;
  int direction = 1;
  FftFilterProc *filter = nullptr;
  FftFilter record;
  long long bufferSize = 0;
  bool dataPP = false;  /* the data a pass reads is in power/phase form */
  /* The output's samples between passes, when the whole spectrum fits:
     passes then read and write memory, and the file is written once. */
  FloatBlock resident;
  /* The statistics the last resident pass leaves to the writing of the
     file: none, one run a block of rows (the row pass), or one a row of
     each strip (the column pass). */
  enum { NO_RUNS, BLOCK_RUNS, STRIP_RUNS } residentRuns = NO_RUNS;
};

/* Spectra up to this size stay in memory between the passes of one call. */
constexpr long long kResidentBytes = 64LL << 20;

bool isPP(int state) {
  return state == FFT_SFPP || state == FFT_FSPP || state == FFT_SFPPX || state == FFT_SFPPY;
}
bool isRI(int state) {
  return state == FFT_SFRI || state == FFT_FSRI || state == FFT_SFRIX || state == FFT_SFRIY;
}

void closeGfft(GfftWork *w) {
  if (w->out) closeRAMImage(w->out, nullptr);
  if (w->in) closeRAMImage(w->in, nullptr);
  w->in = w->out = nullptr;
}

int nextPow2(int n) {
  int p = 1;
  while (p < n && p < (1 << 30)) p *= 2;
  return p;
}

/*
 * parseFilterSpec --
 *     "name,number,..." with the counts each form allows; radii must be
 *     positive and every number finite.
 * Results:      the family (0 bell, 1 high, 2 notch), or -1.
 */
int parseFilterSpec(const char *text, FftFilter *f) {
  char name[8];
  size_t len = 0;
  while (text[len] >= 'A' && text[len] <= 'z') len++;
  if (len == 0 || len >= sizeof name) return -1;
  memcpy(name, text, len);
  name[len] = 0;
  float v[7];
  int count = 0;
  const char *p = text + len;
  while (*p == ',' && count < 7) {
    char *end;
    v[count] = strtof(p + 1, &end);
    if (end == p + 1) break;
    count++;
    p = end;
  }
  if (*p) return -1;
  for (int i = 0; i < count; i++)
    if (!std::isfinite(v[i])) return -1;
  int family;
  int extra;  /* numbers after r (or r1, r2) and n */
  if (strcmp(name, "bell") == 0) {
    family = 0, extra = 0;
  } else if (strcmp(name, "high") == 0) {
    family = 1, extra = 1;
  } else if (strcmp(name, "notch") == 0) {
    family = 2, extra = 3;
  } else {
    return -1;
  }
  int at;
  if (count == 2 + extra) {
    f->r = f->r1 = f->r2 = v[0];
    at = 1;
  } else if (count == 3 + extra) {
    f->r1 = v[0];
    f->r2 = v[1];
    f->r = (v[0] + v[1]) / 2;
    at = 2;
  } else {
    return -1;
  }
  if (!(f->r1 > 0) || !(f->r2 > 0)) return -1;
  f->n = v[at];
  if (family >= 1) f->amplitude = v[at + 1];
  if (family == 2) {
    f->cx = v[at + 2];
    f->cy = v[at + 3];
  }
  return family;
}

/*
 * planState --
 *     The output state and direction of an operation on an FFT input.
 * Results:      1; 0 after the message.
 */
int planState(GfftWork *w) {
  const int s = w->inState;
  if (s < 0 || s > FFT_SFPPY) {
    vesk_fprintf(stderr, "Must be SFRI[X|Y], SFPP[X|Y], FSRI, FSPP or INIT file!\n");
    return 0;
  }
  if (w->op == RI && isRI(s)) {
    vesk_fprintf(stderr, "Input FFT is already in {real,image} format.\n");
    return 0;
  }
  if (w->op == PP && isPP(s)) {
    vesk_fprintf(stderr, "Input FFT is already in {power,phase} format.\n");
    return 0;
  }
  const bool pp = isPP(s);
  if (s == FFT_SFRI || s == FFT_SFPP) {
    if (w->op == NOOP) w->op = XYRI;
    static const int next[] = {FFT_SFRIY, FFT_SFRIX, FFT_FSRI, FFT_SFPPY, FFT_SFPPX, FFT_FSPP};
    w->direction = -1;
    if (w->op <= XYPP) {
      w->outState = next[w->op];
    } else if (w->op == FLTR) {
      w->outState = s;
    } else if (w->op == RI) {
      w->outState = FFT_SFRI;
    } else if (w->op == PP) {
      w->outState = FFT_SFPP;
    } else {
      vesk_fprintf(stderr, "Invalid op for a SFRI or SFPP image.\n");
      return 0;
    }
    return 1;
  }
  if (s == FFT_SFRIX || s == FFT_SFPPX) {
    if (w->op == NOOP) w->op = XRI;
    switch (w->op) {
      case XRI: w->outState = FFT_FSRI, w->direction = -1; return 1;
      case YRI: w->outState = FFT_SFRI, w->direction = 1; return 1;
      case XPP: w->outState = FFT_FSPP, w->direction = -1; return 1;
      case YPP: w->outState = FFT_SFPP, w->direction = 1; return 1;
      case FLTR: w->outState = s, w->direction = -1; return 1;
      case RI: w->outState = FFT_SFRIX; return 1;
      case PP: w->outState = FFT_SFPPX; return 1;
      default: vesk_fprintf(stderr, "Invalid op for a SFRIX or SFPPX image.\n"); return 0;
    }
  }
  if (s == FFT_SFRIY || s == FFT_SFPPY) {
    if (w->op == NOOP) w->op = YRI;
    switch (w->op) {
      case XRI: w->outState = FFT_SFRI, w->direction = 1; return 1;
      case YRI: w->outState = FFT_FSRI, w->direction = -1; return 1;
      case XPP: w->outState = FFT_SFPP, w->direction = 1; return 1;
      case YPP: w->outState = FFT_FSPP, w->direction = -1; return 1;
      case RI: w->outState = FFT_SFRIY; return 1;
      case PP: w->outState = FFT_SFPPY; return 1;
      default: vesk_fprintf(stderr, "Invalid op for a SFRIY or a SFPPY image.\n"); return 0;
    }
  }
  /* INIT, FSRI, FSPP: forward */
  (void)pp;
  if (w->op == NOOP) w->op = XYRI;
  if (w->op == FLTR) {
    vesk_fprintf(stderr, "Input image must be a frequency domain image.\n");
    return 0;
  }
  static const int forward[] = {FFT_SFRIX, FFT_SFRIY, FFT_SFRI, FFT_SFPPX, FFT_SFPPY, FFT_SFPP,
                                FFT_FSRI,  FFT_FSRI,  FFT_FSRI, 0,         FFT_FSRI,  FFT_FSPP};
  w->outState = forward[w->op];
  w->direction = 1;
  return 1;
}

/* chooseFftFilter -- the variant for the state the filter sees. */
int chooseFftFilter(GfftWork *w, int family) {
  const int s = w->direction > 0 ? w->outState : w->inState;
  int variant;
  switch (s) {
    case FFT_SFRI: case FFT_SFPP: variant = 0; break;
    case FFT_FSRI: case FFT_FSPP:
      if (w->op == YRI || w->op == YPP || w->op == YY)
        variant = 2;
      else if (w->op == XYRI || w->op == XYPP || w->op == XY)
        variant = 0;
      else
        variant = 1;
      break;
    case FFT_SFRIX: case FFT_SFPPX: variant = 1; break;
    case FFT_SFRIY: case FFT_SFPPY: variant = 2; break;
    default:
      vesk_fprintf(stderr, "wrong type of FFT image for filtering.\n");
      return 0;
  }
  w->filter = fftFilterProcs[family * 3 + variant];
  return 1;
}

/*
 * openGfftOutput --
 *     Opens the output FFT image, creating it (at its full size) with the
 *     work head when it cannot be opened.  The new spectrum is built in a
 *     file beside the output's name, which replaces an older file of that
 *     name only once the module has written it all (a failure leaves the
 *     old file).  An output that is the input, or is open elsewhere, is
 *     written in place.
 */
int openGfftOutput(GfftWork *w, const char *name) {
  int err = 0;
  RAMIMG *existing = openRAMImage(name, name, nullptr, nullptr, &err);
  if (existing) {
    const ImageHeader &h = existing->header;
    if (h.imgid != IMG_FFT || h.rows != w->head.rows || h.columns != w->head.columns ||
        existing->fd < 0) {
      w->out = existing;
      vesk_fprintf(stderr, "Wrong type of output file.\n");
      return 0;
    }
    if (existing == w->in || existing->refCount > 1 || existing->clients ||
        existing->keepCount > 0) {
      w->out = existing;
      return 1;
    }
    closeRAMImage(existing, nullptr);
  }
  FFTHead made = w->head;
  std::string temporary;
  const int fd = createFFTFile(name, &made, &temporary);
  bool ok = fd >= 0;
  if (ok) {
    const int64_t size = kFFTHeadSize + int64_t{made.rows} * made.columns * 8;
    ok = ftruncate(fd, size) == 0;
    /* The blocks taken at once, where the file system can: the writes
       then only fill them, with no space reserved page by page.  A hint;
       without it the writes take the blocks. */
    if (ok) (void)fallocate(fd, 0, 0, size);
    close(fd);
  }
  if (!ok) {
    if (!temporary.empty()) unlink(temporary.c_str());
    vesk_fprintf(stderr, "Error in creating %s.\n", name);
    return 0;
  }
  w->out = openRAMImage(nullptr, temporary.c_str(), nullptr, nullptr, &err);
  if (!w->out) {
    unlink(temporary.c_str());
    vesk_fprintf(stderr, "Error in creating %s.\n", name);
    printRAMImageError(err);
    return 0;
  }
  makeAbsolutePath(name, w->out->pendingPath);
  return 1;
}

/*
 * parseGfftrans --
 *     Options, the plan of states and the set-up of the output and the
 *     filter.
 * Results:      1; 0 after the message with both images closed.
 */
int parseGfftrans(GfftWork *w, int argc, const char **argv) {
  ModuleOption o[GF_OPTION_COUNT + 1];
  std::copy(std::begin(gfftOptions), std::end(gfftOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  if (!o[GF_IN].value) {
    vesk_fprintf(stderr, "Input image missing!\n");
    return 0;
  }
  if (!o[GF_OUT].value) {
    vesk_fprintf(stderr, "Output image missing!\n");
    return 0;
  }
  int err = 0;
  w->in = openRAMImage(o[GF_IN].value, o[GF_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open %s\n", o[GF_IN].value);
    printRAMImageError(err);
    return 0;
  }
  auto fail = [w]() {
    closeGfft(w);
    return 0;
  };
  w->op = NOOP;
  if (const char *op = o[GF_OP].value) {
    w->op = -1;
    for (int i = 0; i < NOOP; i++)
      if (compareNoCase(op, opNames[i]) == 0) w->op = i;
    if (w->op < 0) {
      vesk_fprintf(stderr, "Undefined operation: -op %s\n", op);
      return fail();
    }
  }
  w->band = o[GF_B].value ? atoi(o[GF_B].value) : 1;
  const ImageHeader &ih = w->in->header;
  if (ih.imgid == IMG_FFT) {
    w->fftInput = true;
    if (!w->in->privateData || w->in->fd < 0 ||
        !decodeFFTHead(static_cast<const unsigned char *>(w->in->privateData), kFFTHeadSize,
                       &w->inHead)) {
      vesk_fprintf(stderr, "Wrong type of input file.\n");
      return fail();
    }
    w->head = w->inHead;
    w->inState = w->inHead.state;
    if (!planState(w)) return fail();
  } else {
    const bool palette = ih.nindices > 0;
    const int most = palette ? 3 : ih.nbands;
    if (w->band < (palette ? 0 : 1) || w->band > most) {
      vesk_fprintf(stderr, "Wrong band number: %d (max bands: %d).\n", w->band, most);
      return fail();
    }
    initFFTHead(&w->head, ih.path, w->band, ih.rows, ih.columns);
    w->head.rows = nextPow2(ih.rows);
    w->head.columns = nextPow2(ih.columns);
    w->inState = FFT_INIT;
    if (w->op == FLTR) {
      vesk_fprintf(stderr, "Invalid op for a raw image.\n");
      return fail();
    }
    if (w->op == NOOP) w->op = XYRI;
    static const int forward[] = {FFT_SFRIX, FFT_SFRIY, FFT_SFRI, FFT_SFPPX, FFT_SFPPY, FFT_SFPP,
                                  FFT_FSRI,  FFT_FSRI,  FFT_FSRI, 0,         FFT_FSRI,  FFT_FSPP};
    w->outState = forward[w->op];
    w->direction = 1;
  }
  w->dataPP = isPP(w->inState);
  const char *fp = o[GF_FP].value;
  if (fp && (w->op == RI || w->op == PP)) {
    vesk_fprintf(stderr, "Filter is not allowed for the specified op.\n");
    return fail();
  }
  if (!fp && (w->op == XY || w->op == XX || w->op == YY || w->op == FLTR)) {
    vesk_fprintf(stderr, "Missing filter specification!\n");
    return fail();
  }
  if (fp) {
    FftFilter &f = w->record;
    f.rows = w->head.rows;
    f.columns = w->head.columns;
    f.cx = static_cast<float>(f.columns / 2);
    f.cy = static_cast<float>(f.rows / 2);
    f.angle = o[GF_FA].value ? atof(o[GF_FA].value) : 0;
    const int family = parseFilterSpec(fp, &f);
    if (family < 0 || !std::isfinite(f.angle)) {
      vesk_fprintf(stderr, "Invalid filter specification.\n");
      return fail();
    }
    if (!chooseFftFilter(w, family)) return fail();
  }
  if (!openGfftOutput(w, o[GF_OUT].value)) return fail();
  FFTHead &h = w->head;
  h.count = 0;
  h.reMax = h.imMax = -HUGE_VAL;
  h.reMin = h.imMin = HUGE_VAL;
  h.reMean = h.imMean = h.reSquare = h.imSquare = 0;
  /* At least one whole row and one whole column, however large the file. */
  const long long whole = static_cast<long long>(h.rows) * h.columns * 8;
  w->bufferSize = std::max({std::min(whole, kBufferBytes), static_cast<long long>(h.rows) * 8,
                            static_cast<long long>(h.columns) * 8});
  return 1;
}

int allocGFFT(GfftWork *w) {
  if (!w->buffer.allocate(static_cast<size_t>(w->bufferSize / 4))) {
    vesk_fprintf(stderr, "Error in allocGFFT!\n");
    return 0;
  }
  return 1;
}

/* One file row of the raw input, mirrored to the file's width. */
void loadRawRow(GfftWork *w, int fileRow, float *out, std::vector<float> *line) {
  const ImageHeader &ih = w->in->header;
  int row = fileRow < ih.rows ? fileRow : 2 * ih.rows - fileRow - 1;
  row = std::max(0, std::min(ih.rows - 1, row));
  getPaletteFloatBILData(w->in, row, 0, ih.columns, w->band - 1, line->data());
  const float *pixels = line->data();
  const int inside = std::min(ih.columns, w->head.columns);
  for (int c = 0; c < inside; c++) {
    out[2 * c] = pixels[c];
    out[2 * c + 1] = 0;
  }
  for (int c = inside; c < w->head.columns; c++) {
    const int from = std::max(0, std::min(ih.columns - 1, 2 * ih.columns - c - 2));
    out[2 * c] = pixels[from];
    out[2 * c + 1] = 0;
  }
}

void loadRowBlock(GfftWork *w, float *block, int firstRow, int rows) {
  std::vector<float> line(w->in->header.columns);
  for (int r = 0; r < rows; r++)
    loadRawRow(w, firstRow + r, block + 2 * static_cast<size_t>(r) * w->head.columns, &line);
}

void loadColumnStrip(GfftWork *w, float *strip, int firstColumn, int columns) {
  std::vector<float> line(w->in->header.columns), row(2 * static_cast<size_t>(w->head.columns));
  for (int r = 0; r < w->head.rows; r++) {
    loadRawRow(w, r, row.data(), &line);
    std::copy(row.begin() + 2 * firstColumn, row.begin() + 2 * (firstColumn + columns),
              strip + 2 * static_cast<size_t>(r) * columns);
  }
}

/* Reads rows by the input state; power/phase data comes back rectangular when rect. */
bool readRows(GfftWork *w, float *block, int firstRow, int rows, bool rect) {
  if (w->inState == FFT_INIT) {
    loadRowBlock(w, block, firstRow, rows);
    return true;
  }
  const bool written = w->inState == kWritten;
  if (written && !w->resident.empty()) {
    const size_t width = 2 * static_cast<size_t>(w->head.columns);
    std::copy_n(w->resident.data() + firstRow * width, rows * width, block);
  } else if (!GetFFTFileBlock(written ? &w->head : &w->inHead, written ? w->out->fd : w->in->fd,
                              block, firstRow, rows)) {
    return false;
  }
  if (rect && w->dataPP) fftToRect(block, static_cast<long long>(rows) * w->head.columns);
  return true;
}

bool readColumns(GfftWork *w, float *strip, int firstColumn, int columns) {
  if (w->inState == FFT_INIT) {
    loadColumnStrip(w, strip, firstColumn, columns);
    return true;
  }
  const bool written = w->inState == kWritten;
  if (written && !w->resident.empty()) {
    const size_t width = 2 * static_cast<size_t>(w->head.columns), part = 2 * static_cast<size_t>(columns);
    for (size_t r = 0; r < static_cast<size_t>(w->head.rows); r++)
      std::copy_n(w->resident.data() + r * width + 2 * static_cast<size_t>(firstColumn), part,
                  strip + r * part);
  } else if (!GetFFTFileSeg(written ? &w->head : &w->inHead, written ? w->out->fd : w->in->fd,
                            strip, firstColumn, columns)) {
    return false;
  }
  if (w->dataPP) fftToRect(strip, static_cast<long long>(columns) * w->head.rows);
  return true;
}

/* Writes rows of a pass: to the file, or to the resident copy. */
bool putRows(GfftWork *w, const float *block, int firstRow, int rows, int stats) {
  if (w->resident.empty()) return PutFFTFileBlock(&w->head, w->out->fd, block, firstRow, rows, stats) == 0;
  const size_t width = 2 * static_cast<size_t>(w->head.columns);
  if (stats) updateFFTStats(&w->head, static_cast<int64_t>(rows) * w->head.columns, block);
  std::copy_n(block, rows * width, w->resident.data() + firstRow * width);
  return true;
}

/* Writes a column strip of a pass, the statistics folded row by row as the file writer does. */
bool putColumns(GfftWork *w, const float *strip, int firstColumn, int columns, int stats) {
  if (w->resident.empty())
    return PutFFTFileSeg(&w->head, w->out->fd, strip, firstColumn, columns, stats) == 0;
  const size_t width = 2 * static_cast<size_t>(w->head.columns), part = 2 * static_cast<size_t>(columns);
  for (size_t r = 0; r < static_cast<size_t>(w->head.rows); r++) {
    if (stats) updateFFTStats(&w->head, columns, strip + r * part);
    std::copy_n(strip + r * part, part, w->resident.data() + r * width + 2 * static_cast<size_t>(firstColumn));
  }
  return true;
}

int blockRows(const GfftWork *w) {
  return static_cast<int>(std::max(1LL, std::min<long long>(w->head.rows,
                                                            w->bufferSize / 8 / w->head.columns)));
}

void makePlan(FftPlan *plan, int n, int direction) {
  std::vector<double> c(n), s(n);
  fftTwiddles(n, direction, c.data(), s.data());
  fftPlan(plan, n, direction, c.data(), s.data());
}

/* Rows of a piece of a resident pass on the pool: about 256 KB, so that
   the rows a piece reads are still in the cache when it transforms them. */
int pieceRows(int columns) { return std::max(1, (256 << 10) / (8 * columns)); }

/*
 * Rows of an FFT file mapped for reading: the row pass transforms them
 * from the page cache straight into place, with no copy in between.
 */
class MappedRows {
 public:
  MappedRows() = default;
  MappedRows(const MappedRows &) = delete;
  MappedRows &operator=(const MappedRows &) = delete;
  ~MappedRows() { unmap(); }
  /* Rows first .. first + count - 1 (in place of those mapped before), or
     null: the file is shorter than its head says, or cannot be mapped. */
  const float *map(const FFTHead *head, int fd, int first, int count) {
    unmap();
    const int64_t rowBytes = int64_t{head->columns} * 8, at = kFFTHeadSize + first * rowBytes;
    const int64_t page = std::max<long>(sysconf(_SC_PAGESIZE), 1);
    const int64_t end = at + count * rowBytes, start = at / page * page;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < end) return nullptr;
    void *p = mmap(nullptr, static_cast<size_t>(end - start), PROT_READ, MAP_SHARED | MAP_POPULATE,
                   fd, static_cast<off_t>(start));
    if (p == MAP_FAILED) return nullptr;
    map_ = p;
    length_ = static_cast<size_t>(end - start);
    return reinterpret_cast<const float *>(static_cast<const char *>(p) + (at - start));
  }
  void unmap() {
    if (map_) munmap(map_, length_);
    map_ = nullptr;
  }

 private:
  void *map_ = nullptr;
  size_t length_ = 0;
};

/*
 * fftRowPassResident --
 *     The row pass over the resident spectrum, in pieces of rows on the
 *     worker pool: each piece read from the input file straight into its
 *     place (unless a pass has already put it there; one thread instead
 *     transforms it from the mapped file into its place), transformed,
 *     filtered and put in polar form where it lies.  Its statistics (it
 *     is the last pass) are taken as the file is written.
 */
bool fftRowPassResident(GfftWork *w, const FftPlan &plan, int stats, FftFilterProc *filter) {
  const int rows = w->head.rows, columns = w->head.columns, step = blockRows(w);
  const size_t width = 2 * static_cast<size_t>(columns);
  float *data = w->resident.data();
  const bool polar = w->op == XPP, rect = w->dataPP;
  const bool fromFile = w->inState != kWritten && w->inState != FFT_INIT;
  if (w->inState == FFT_INIT) {
    /* the raw image is read through its line cache, on this thread */
    for (int r = 0; r < rows; r += step)
      if (!readRows(w, data + r * width, r, std::min(step, rows - r), false)) return false;
  }
  if (filter) w->record.powerPhase = 0;
  std::atomic<bool> failed{false};
  auto work = [&](int first, int n, const float *from) {
    float *block = data + first * width;
    if (rect) fftToRect(block, static_cast<long long>(n) * columns);
    if (!fftRowsFrom(from, block, plan, n)) {
      failed = true;
      return;
    }
    if (filter) filter(&w->record, block, 0, columns, first, n);
    if (polar) fftToPolar(block, static_cast<long long>(n) * columns);
  };
  /* One thread transforms the rows from the mapped file, a buffer's
     worth of them mapped at a time; threads read their pieces into place
     (each reads while others compute), as does power/phase input, to be
     converted there first. */
  const bool mapping = fromFile && !rect && workerCount() == 1;
  const int window = mapping ? step : rows;
  MappedRows mapped;
  for (int w0 = 0; w0 < rows; w0 += window) {
    const int wn = std::min(window, rows - w0);
    const float *source = mapping ? mapped.map(&w->inHead, w->in->fd, w0, wn) : nullptr;
    /* mapped rows in one piece: each transform fetches the next rows ahead */
    const int piece = source ? wn : pieceRows(columns);
    const int pieces = (wn + piece - 1) / piece;
    std::vector<char> unread(pieces, 0);
    parallelFor(pieces, [&](int i) {
      const int first = w0 + i * piece, n = std::min(piece, w0 + wn - first);
      if (source) {
        work(first, n, source + (first - w0) * width);
      } else if (fromFile && !readFFTFileRows(&w->inHead, w->in->fd, data + first * width, first, n)) {
        unread[i] = 1;
      } else {
        work(first, n, data + first * width);
      }
    });
    /* A piece a worker could not read is read again here, where a
       failure is reported. */
    for (int i = 0; i < pieces; i++) {
      if (!unread[i]) continue;
      const int first = w0 + i * piece, n = std::min(piece, w0 + wn - first);
      if (!GetFFTFileBlock(&w->inHead, w->in->fd, data + first * width, first, n)) return false;
      work(first, n, data + first * width);
    }
  }
  if (failed) {
    vesk_fprintf(stderr, "Error in malloc.\n");
    return false;
  }
  if (stats) w->residentRuns = GfftWork::BLOCK_RUNS;  /* measured as the file is written */
  w->inState = kWritten;
  w->dataPP = polar;
  return true;
}

/* fftRowPass -- transforms every row; polar output for XPP. */
bool fftRowPass(GfftWork *w, int direction, int stats, FftFilterProc *filter) {
  FftPlan plan;
  makePlan(&plan, w->head.columns, direction);
  if (!w->resident.empty()) return fftRowPassResident(w, plan, stats, filter);
  const int step = blockRows(w);
  float *block = w->buffer.data();
  const bool polar = w->op == XPP;
  for (int r = 0; r < w->head.rows; r += step) {
    const int n = std::min(step, w->head.rows - r);
    if (!readRows(w, block, r, n, true)) return false;
    /* Each row is transformed alone: blocks of rows on the worker pool. */
    std::atomic<bool> failed{false};
    parallelRows(n, rowGrain(static_cast<long long>(w->head.columns) * 16), [&](int first, int end) {
      if (!fftRows(block + 2 * static_cast<size_t>(first) * w->head.columns, plan, end - first))
        failed = true;
    });
    if (failed) {
      vesk_fprintf(stderr, "Error in malloc.\n");
      return false;
    }
    if (filter) {
      w->record.powerPhase = 0;
      filter(&w->record, block, 0, w->head.columns, r, n);
    }
    if (polar) fftToPolar(block, static_cast<long long>(n) * w->head.columns);
    if (!putRows(w, block, r, n, stats)) return false;
  }
  w->inState = kWritten;
  w->dataPP = polar;
  return true;
}

/* The columns of a strip of the column pass: a power of 2 that fits the buffer. */
int stripColumns(const GfftWork *w) {
  long long width = 1;
  while (width * 2 * w->head.rows * 8 <= w->bufferSize && width * 2 <= w->head.columns) width *= 2;
  return static_cast<int>(width);
}

/* Columns of a piece of a column pass on the pool. */
constexpr int kColumnPiece = 32;

/* The columns of a strip (rows stride floats apart) in pieces on the pool.
   Results: false, after the message, when the work space cannot be had. */
bool transformStrip(float *strip, const FftPlan &plan, int columns, size_t stride, bool rect,
                    bool polar) {
  /* one thread takes the strip whole: the transform of each batch of
     columns then fetches the next batch's rows ahead */
  const int piece = workerCount() > 1 ? kColumnPiece : std::max(columns, 1);
  const int rows = plan.n, pieces = (columns + piece - 1) / piece;
  std::atomic<bool> failed{false};
  parallelFor(pieces, [&](int i) {
    const int c = i * piece, n = std::min(piece, columns - c);
    float *part = strip + 2 * static_cast<size_t>(c);
    if (rect)
      for (int r = 0; r < rows; r++) fftToRect(part + r * stride, n);
    if (!fftColumns(part, plan, n, stride)) {
      failed = true;
      return;
    }
    if (polar)
      for (int r = 0; r < rows; r++) fftToPolar(part + r * stride, n);
  });
  if (failed) vesk_fprintf(stderr, "Error in malloc.\n");
  return !failed;
}

/*
 * fftColumnPassResident --
 *     The column pass over a resident spectrum that a pass has filled:
 *     pieces of columns transformed where they lie, on the worker pool.
 *     Its statistics (it is the last pass) are taken as the file is
 *     written.
 */
bool fftColumnPassResident(GfftWork *w, const FftPlan &plan, int stats) {
  const int columns = w->head.columns;
  const size_t stride = 2 * static_cast<size_t>(columns);
  float *data = w->resident.data();
  const bool polar = isPP(w->outState);
  if (!transformStrip(data, plan, columns, stride, w->dataPP, polar)) return false;
  if (stats) w->residentRuns = GfftWork::STRIP_RUNS;  /* measured as the file is written */
  w->inState = kWritten;
  w->dataPP = polar;
  return true;
}

/* fftColumnPass -- transforms every column in power-of-2 strips. */
bool fftColumnPass(GfftWork *w, int direction, int stats, FftFilterProc *filter) {
  FftPlan plan;
  makePlan(&plan, w->head.rows, direction);
  if (!w->resident.empty() && w->inState == kWritten && !filter)
    return fftColumnPassResident(w, plan, stats);
  const long long width = stripColumns(w);
  float *strip = w->buffer.data();
  const bool polar = isPP(w->outState);
  for (int c = 0; c < w->head.columns; c += static_cast<int>(width)) {
    const int n = static_cast<int>(std::min<long long>(width, w->head.columns - c));
    if (!readColumns(w, strip, c, n)) return false;
    if (!transformStrip(strip, plan, n, 2 * static_cast<size_t>(n), false, false)) return false;
    if (filter) {
      w->record.powerPhase = 0;
      filter(&w->record, strip, c, n, 0, w->head.rows);
    }
    if (polar) fftToPolar(strip, static_cast<long long>(n) * w->head.rows);
    if (!putColumns(w, strip, c, n, stats)) return false;
  }
  w->inState = kWritten;
  w->dataPP = polar;
  return true;
}

/* fftFilterPass -- filters the data as it is; on power/phase only the power. */
bool fftFilterPass(GfftWork *w, int stats) {
  const int step = blockRows(w);
  float *block = w->buffer.data();
  for (int r = 0; r < w->head.rows; r += step) {
    const int n = std::min(step, w->head.rows - r);
    if (!readRows(w, block, r, n, false)) return false;
    w->record.powerPhase = w->dataPP;
    w->filter(&w->record, block, 0, w->head.columns, r, n);
    if (!putRows(w, block, r, n, stats)) return false;
  }
  w->inState = kWritten;
  return true;
}

/* The conversion passes: to power/phase (polar) or to real/imaginary. */
bool fftConvertPass(GfftWork *w, bool polar, int stats) {
  const int step = blockRows(w);
  float *block = w->buffer.data();
  for (int r = 0; r < w->head.rows; r += step) {
    const int n = std::min(step, w->head.rows - r);
    if (!readRows(w, block, r, n, false)) return false;
    const long long samples = static_cast<long long>(n) * w->head.columns;
    if (polar && !w->dataPP) fftToPolar(block, samples);
    if (!polar && w->dataPP) fftToRect(block, samples);
    if (!putRows(w, block, r, n, stats)) return false;
  }
  w->inState = kWritten;
  w->dataPP = polar;
  return true;
}

/* fftPolarPass -- the data to power/phase form. */
bool fftPolarPass(GfftWork *w, int stats) { return fftConvertPass(w, true, stats); }

/* fftRectPass -- the data to real/imaginary form. */
bool fftRectPass(GfftWork *w, int stats) { return fftConvertPass(w, false, stats); }

bool runPassSequence(GfftWork *w) {
  FftFilterProc *f = w->filter;
  const bool forward = w->direction > 0;
  switch (w->op) {
    case XRI: case XPP:
      if (forward) return fftRowPass(w, 1, 1, f);
      return (!f || fftFilterPass(w, 0)) && fftRowPass(w, -1, 1, nullptr);
    case YRI: case YPP:
      if (forward) return fftColumnPass(w, 1, 1, f);
      return (!f || fftFilterPass(w, 0)) && fftColumnPass(w, -1, 1, nullptr);
    case XY:
      return fftRowPass(w, 1, 0, nullptr) && fftColumnPass(w, 1, 0, f) &&
             fftRowPass(w, -1, 0, nullptr) && fftColumnPass(w, -1, 1, nullptr);
    case XX:
      return fftRowPass(w, 1, 0, f) && fftRowPass(w, -1, 1, nullptr);
    case YY:
      return fftColumnPass(w, 1, 0, f) && fftColumnPass(w, -1, 1, nullptr);
    case FLTR:
      return fftFilterPass(w, 1);
    case RI:
      return fftRectPass(w, 1);
    case PP:
      return fftPolarPass(w, 1);
    default:  /* XYRI, XYPP */
      if (forward) return fftRowPass(w, 1, 0, nullptr) && fftColumnPass(w, 1, 1, f);
      return fftRowPass(w, -1, 0, f) && fftColumnPass(w, -1, 1, nullptr);
  }
}

/*
 * writeResident --
 *     Writes the resident spectrum into the output file block by block of
 *     buffer rows, measuring the statistics the last pass left on the
 *     pool meanwhile: each block is measured while the one before it is
 *     written (a piece of the same job), and the runs are folded at the
 *     end in the file pass's order (strip by strip and row by row, or
 *     block by block), so the head gets the same sums.
 * Results:      false after the message of a failed write.
 */
bool writeResident(GfftWork *w) {
  const int rows = w->head.rows, columns = w->head.columns, step = blockRows(w);
  const size_t rowFloats = 2 * static_cast<size_t>(columns);
  const float *data = w->resident.data();
  const int kind = w->residentRuns, width = stripColumns(w);
  const int strips = (columns + width - 1) / width, blocks = (rows + step - 1) / step;
  std::vector<FFTStatsRun> runs(kind == GfftWork::BLOCK_RUNS   ? blocks
                                : kind == GfftWork::STRIP_RUNS ? static_cast<size_t>(strips) * rows
                                                               : 0);
  const bool writeBack = !w->out->pendingPath.empty();
  constexpr int kGroup = 16;  /* rows a piece measures */
  const int groups = kind == GfftWork::STRIP_RUNS ? (step + kGroup - 1) / kGroup : kind ? 1 : 0;
  auto measure = [&](int b, int g) {
    const int first = b * step, end = std::min(rows, first + step);
    if (kind == GfftWork::BLOCK_RUNS) {
      const float *block = data + first * rowFloats;
      measureFFTStats(&runs[b], 1, static_cast<int64_t>(end - first) * columns, &block);
      return;
    }
    const int r0 = first + g * kGroup, r1 = std::min(end, r0 + kGroup);
    if (r1 <= r0) return;  /* a group past the end of a short last block */
    for (int s = 0; s < strips; s++) {
      const int c = s * width, n = std::min(width, columns - c);
      const float *at[kGroup];
      for (int r = r0; r < r1; r++) at[r - r0] = data + r * rowFloats + 2 * static_cast<size_t>(c);
      measureFFTStats(&runs[static_cast<size_t>(s) * rows + r0], r1 - r0, n, at);
    }
  };
  for (int b = 0; b <= blocks; b++) {
    const int writing = b > 0 ? 1 : 0, measuring = b < blocks ? groups : 0;
    const int first = (b - 1) * step, n = std::min(step, rows - first);
    bool failed = false;
    parallelFor(writing + measuring, [&](int i) {
      if (i < writing)
        failed = !writeFFTFileRows(&w->head, w->out->fd, data + first * rowFloats, first, n, writeBack);
      else
        measure(b, i - writing);
    });
    /* a block a piece could not write is written again here, where a
       failure is reported */
    if (failed && PutFFTFileBlock(&w->head, w->out->fd, data + first * rowFloats, first, n, 0,
                                  writeBack) != 0)
      return false;
  }
  for (const FFTStatsRun &run : runs) foldFFTStats(&w->head, run);
  w->residentRuns = GfftWork::NO_RUNS;
  return true;
}

/*
 * runPasses --
 *     The passes of the operation.  Operations of several passes over a
 *     spectrum that fits in memory keep it there between them and write
 *     the file once at the end (the same samples and statistics).
 */
bool runPasses(GfftWork *w) {
  const long long bytes = static_cast<long long>(w->head.rows) * w->head.columns * 8;
  const bool several = w->op == XY || w->op == XX || w->op == YY || w->op == XYRI || w->op == XYPP;
  if (several && bytes <= kResidentBytes) {
    w->resident.allocate(static_cast<size_t>(bytes / 4));  /* else the passes go through the file */
  }
  bool done = runPassSequence(w);
  if (done && !w->resident.empty()) done = writeResident(w);
  w->resident.release();
  return done;
}

/* freeGFFT -- standard deviations into the head, the head written. */
bool freeGFFT(GfftWork *w) {
  w->buffer.release();
  FFTHead &h = w->head;
  const double vr = h.reSquare - h.reMean * h.reMean;
  const double vi = h.imSquare - h.imMean * h.imMean;
  h.reSquare = vr > 0 ? sqrt(vr) : 0;
  h.imSquare = vi > 0 ? sqrt(vi) : 0;
  h.state = w->outState;
  const bool ok = PutFFTHead(&h, w->out->fd) == 0;
  if (ok && w->out->privateData) encodeFFTHead(h, static_cast<unsigned char *>(w->out->privateData));
  invalidateRAMImageCache(w->out);
  freeImageStats(w->out);
  return ok;
}

}  // namespace

/*
 * gfftransModule --
 *     "rimage gfftrans -in IN -out OUT -op OP -b BAND -fp FP -fa FA".
 * Results:      2 after the usage, 0 on failure, 1 on success.  A pass
 *     that fails (a read, a write, the memory) fails the module; the
 *     output's head then keeps the state it had.
 */
int gfftransModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -op OP -b BAND -fp FP -fa FA\n", prog);
    for (const char *line : gfftUsage) vesk_printf("%s", line);
    return 2;
  }
  GfftWork work;
  if (!parseGfftrans(&work, argc, argv)) return 0;
  if (!allocGFFT(&work)) {
    closeGfft(&work);
    return 0;
  }
  bool ok = runPasses(&work);
  if (ok) {
    ok = freeGFFT(&work);
  } else {
    invalidateRAMImageCache(work.out);
    freeImageStats(work.out);
  }
  RAMIMG *out = work.out;
  closeRAMImage(work.in, nullptr);
  work.in = nullptr;
  updateClient(out, nullptr, 2);
  closeRAMImage(out, nullptr);
  work.out = nullptr;
  return ok ? 1 : 0;
}

}  // namespace vesk
