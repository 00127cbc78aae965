/*
 * copy.cpp --
 *     Window transfers of rimage.  "copy" and "crop" move a window of an
 *     input into an output band by band, with optional subsampling; "trans"
 *     is the general form: plain copy or subsampling, block sums and block
 *     means, and the principal-component transform and its reverse driven
 *     by an eigenvector feature set.  The output is written in place when
 *     it opens, else created from the input's head.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/options.h"
#include "core/threads.h"
#include "core/text.h"
#include "processing/features.h"
#include "processing/transfer.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "raster/sniffer.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Rows of the trans table; copy has the same rows up to -dy, then -dump. */
enum {
  CO_IN, CO_OUT, CO_IC, CO_IR, CO_OC, CO_OR, CO_R, CO_C, CO_B, CO_O, CO_CMP, CO_U, CO_IND,
  CO_IMGID, CO_PIXEL, CO_NBANDS, CO_DX, CO_DY, CO_EV, CO_PC, CO_DUMP, CO_OPTION_COUNT
};

const ModuleOption transOptions[] = {
    {"-in", nullptr},     {"-out", nullptr},   {"-ic", nullptr},    {"-ir", nullptr},
    {"-oc", nullptr},     {"-or", nullptr},    {"-r", nullptr},     {"-c", nullptr},
    {"-b", nullptr},      {"-o", nullptr},     {"-cmp", nullptr},   {"-u", nullptr},
    {"-ind", nullptr},    {"-imgid", nullptr}, {"-pixel", nullptr}, {"-nbands", nullptr},
    {"-dx", nullptr},     {"-dy", nullptr},    {"-ev", nullptr},    {"-pc", nullptr},
    {nullptr, nullptr},
};
static_assert(sizeof transOptions / sizeof transOptions[0] == CO_DUMP + 1,
              "trans: one row per option up to -pc and the end row");

/* copy's table in its own order; copyRow maps each row to the trans row. */
const ModuleOption copyOptions[] = {
    {"-in", nullptr},     {"-out", nullptr},   {"-ic", nullptr},    {"-ir", nullptr},
    {"-oc", nullptr},     {"-or", nullptr},    {"-r", nullptr},     {"-c", nullptr},
    {"-b", nullptr},      {"-cmp", nullptr},   {"-u", nullptr},     {"-ind", nullptr},
    {"-imgid", nullptr},  {"-pixel", nullptr}, {"-nbands", nullptr}, {"-dx", nullptr},
    {"-dy", nullptr},     {"-dump", nullptr},  {nullptr, nullptr},
};
const int copyRow[] = {CO_IN,  CO_OUT,   CO_IC,    CO_IR,     CO_OC,    CO_OR,
                       CO_R,   CO_C,     CO_B,     CO_CMP,    CO_U,     CO_IND,
                       CO_IMGID, CO_PIXEL, CO_NBANDS, CO_DX,  CO_DY,    CO_DUMP};
static_assert(sizeof copyOptions / sizeof copyOptions[0] == sizeof copyRow / sizeof copyRow[0] + 1,
              "copy: one mapped row per option and the end row");

const char *const transUsage[] = {
    "where IN    input image\n",
    "      OUT   output image\n",
    "      IC    input start column\n",
    "      IR    input start row\n",
    "      OC    output start column\n",
    "      OR    output start row\n",
    "      R     rows to copy\n",
    "      C     columns to copy\n",
    "      B     band selection: i1[[:o1];i2[:o2];...]\n",
    "      O     options: rsp, avg, bin, pc, rpc\n",
    "      CMP   compression rate for JPEG image\n",
    "      IND   flag of copy color indice: Y or N (def.: N).\n",
    "      U     flag of update image file after copy: 0,1,or 2 (def: 1)).\n",
    "      IMG   output image type.\n",
    "      PX    output pixel ID.\n",
    "      NB    output bands.\n",
    "      EV    eigen vector file.\n",
    "      PC    pc bands.\n",
    "      DX    column interval.\n",
    "      DY    row interval.\n",
};

/* Operations, in the order of their names. */
enum TransOp { OP_BIN, OP_AVG, OP_RSP, OP_CP, OP_PC, OP_RPC, OP_COUNT };
const char *const transOpNames[] = {"BIN", "AVG", "RSP", "CP", "PC", "RPC"};
const char *const transMeterNames[] = {"bin", "avgbin", "rsp", "copy", "pct", "rpct"};
static_assert(sizeof transOpNames / sizeof transOpNames[0] == OP_COUNT, "one name an operation");
static_assert(sizeof transMeterNames / sizeof transMeterNames[0] == OP_COUNT,
              "one meter name an operation");

/* The work record of one call. */
struct CopyWork {
  bool isCopy = false;          /* copy or crop: pollStatus, byte path, "crop" meter */
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  int ic = 0, ir = 0, oc = 0, orow = 0;
  int64_t rs = 0, cs = 0;       /* input rows and columns spanned */
  int dx = 1, dy = 1;
  int op = OP_CP;
  int update = 1;
  int cmp = 90;
  int palette = 0;              /* copy the palette */
  int indexFlags = 0;           /* bit 0: input has a palette, bit 1: output */
  std::vector<int> source, dest;  /* 0-based; -1 is the index band */
  const char *meter = "crop";
  FeatureSet *ev = nullptr;
  std::vector<int> pcs;         /* chosen components, 0-based */
  bool uncleared = false;       /* a new memory output not cleared: every line is to be written */
};

void freeCopyWork(CopyWork *w) {
  closeTransferImages(&w->in, &w->out);
  if (w->ev) freeFeature(w->ev);
  w->ev = nullptr;
}

int copyParseFailure(CopyWork *w, int err) {
  if (w->uncleared && w->out) clearRAMImageLines(w->out);
  freeCopyWork(w);
  printRAMImageError(err);
  return 0;
}

/* Reads -pc items such as "1-3,5" against n components. Results: false on a bad item. */
bool parsePcBands(const char *text, int n, std::vector<int> *pcs) {
  std::string copy(text);
  size_t at = 0;
  while (at <= copy.size()) {
    size_t end = copy.find_first_of(",; ", at);
    if (end == std::string::npos) end = copy.size();
    std::string item = copy.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    long first = 0, last = 0;
    int got = sscanf(item.c_str(), "%ld-%ld", &first, &last);
    if (got < 1) return false;
    if (got == 1) last = first;
    if (first < 1 || last < first || last > n) return false;
    for (long k = first; k <= last; k++) pcs->push_back(static_cast<int>(k - 1));
  }
  return true;
}

/*
 * createCopyOutput --
 *     A new output from the input's head: rows / DY, columns / DX and the
 *     type options.
 * Results:      the image, or null after the message.
 */
RAMIMG *createCopyOutput(CopyWork *w, const ModuleOption *o, int dump, int *err, bool cleared) {
  const char *name = o[CO_OUT].value;
  ImageHeader h = w->in->header;
  if (strlen(name) >= sizeof h.path) {
    vesk_fprintf(stderr, "Error in open %s.\n", name);
    return nullptr;
  }
  strcpy(h.path, name);
  h.rows /= w->dy;
  h.columns /= w->dx;
  if (o[CO_IMGID].value) {
    h.imgid = getImgid(o[CO_IMGID].value);
    if (h.imgid <= 0) {
      vesk_fprintf(stderr, "Invalid image ID\n");
      return nullptr;
    }
  }
  if (o[CO_PIXEL].value) {
    h.pixelid = getPixelid(o[CO_PIXEL].value);
    if (h.pixelid <= 0) {
      vesk_fprintf(stderr, "Invalid pixel ID\n");
      return nullptr;
    }
  }
  if (o[CO_NBANDS].value) h.nbands = transferInt(o[CO_NBANDS].value, h.nbands);
  if (w->op == OP_PC) h.nbands = std::min(h.nbands, static_cast<int>(w->pcs.size()));
  if (h.nbands < 1 || h.rows < 1 || h.columns < 1) {
    vesk_fprintf(stderr, "Error in open %s.\n", name);
    return nullptr;
  }
  fitMemoryFrame(h);
  h.bits = getPixelBits(h.pixelid);
  if (h.nbands != 1 || h.bits > 8) h.nindices = 0;
  h.offset = 0;
  h.block = 0;
  h.altFd = -1;
  h.volumes = 0;
  h.readerFlag = 0;
  if (dump) {
    /* Headerless: the pixels start at the first byte of the file. */
    if (h.imgid == IMG_BSQ) h.imgid = IMG_BSQD;
    else if (h.imgid == IMG_BIL) h.imgid = IMG_BILD;
    else if (h.imgid == IMG_BIP) h.imgid = IMG_BIPD;
  }
  RAMIMG *out = openRAMImageNew(&h, nullptr, 0, err, cleared);
  if (!out) vesk_fprintf(stderr, "Error in open %s.\n", name);
  return out;
}

/* Checks the band pairs against both images (step by step, as documented). */
bool checkCopyPairs(CopyWork *w, int inBands, int outBands) {
  const bool inIndex = w->indexFlags & 1, outIndex = w->indexFlags & 2;
  const bool blockOp = w->op == OP_BIN || w->op == OP_AVG || w->op == OP_PC || w->op == OP_RPC;
  int maxBand = 0;
  if (w->ev) {
    const int m = getFeatureInfo(w->ev, 4);
    for (int j = 0; j < m; j++) maxBand = std::max(maxBand, getFeatureBand(w->ev, j));
  }
  for (size_t k = 0; k < w->source.size(); k++) {
    int s = w->source[k], d = w->dest[k];
    if (s < 0 || s > inBands || d < 0 || d > outBands) {
      vesk_fprintf(stderr, "Error in band params.\n");
      return false;
    }
    if ((s == 0 && !inIndex) || (d == 0 && !outIndex)) {
      vesk_fprintf(stderr, "Invalid indice.\n");
      return false;
    }
    if (outIndex && !inIndex) {
      if (d != 0) {
        vesk_fprintf(stderr, "Invalid band number of an output index image.\n");
        return false;
      }
      if (blockOp) {
        vesk_fprintf(stderr, "Index output image for the operation is not supported.\n");
        return false;
      }
    } else if (outIndex && inIndex) {
      if (s != 0 || d != 0) {
        vesk_fprintf(stderr, "Invalid band number of an input/output index image.\n");
        return false;
      }
      if (blockOp) {
        vesk_fprintf(stderr, "Index image for the operation is not supported.\n");
        return false;
      }
    }
    /* The set keeps 0-based bands; pairs are 1-based here. */
    if ((w->op == OP_PC || w->op == OP_RPC) && s - 1 > maxBand) {
      vesk_fprintf(stderr, "Invalid eigen vector features - nBands:%d k:%d bi:%d maxb:%d\n",
                   getFeatureInfo(w->ev, 4), static_cast<int>(k), s, maxBand);
      return false;
    }
    w->source[k] = s - 1;
    w->dest[k] = d - 1;
  }
  return true;
}

/*
 * parseCopyOptions --
 *     Fills the work record: operation, flags, both images (the output
 *     created when it does not open), the window and the band pairs.
 * Results:      1; 0 after the message, with nothing left open.
 */
int parseCopyOptions(CopyWork *w, int argc, const char **argv) {
  ModuleOption o[CO_OPTION_COUNT + 1];
  for (int i = 0; i <= CO_OPTION_COUNT; i++) o[i] = {nullptr, nullptr};
  int unmatched;
  if (w->isCopy) {
    ModuleOption table[sizeof copyOptions / sizeof copyOptions[0]];
    std::copy(std::begin(copyOptions), std::end(copyOptions), table);
    unmatched = matchOptions(table, argc, argv);
    for (size_t i = 0; i < sizeof copyRow / sizeof copyRow[0]; i++) o[copyRow[i]] = table[i];
  } else {
    std::copy(std::begin(transOptions), std::end(transOptions), o);
    unmatched = matchOptions(o, argc, argv);
  }
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  if (!w->isCopy) {
    if (o[CO_O].value) {
      w->op = -1;
      for (int i = 0; i < OP_COUNT; i++)
        if (compareNoCase(o[CO_O].value, transOpNames[i]) == 0) w->op = i;
      if (w->op < 0) {
        vesk_fprintf(stderr, "Unknown operation.\n");
        return 0;
      }
    }
    if (o[CO_EV].value && w->op != OP_PC && w->op != OP_RPC) {
      if (o[CO_O].value) {
        vesk_fprintf(stderr, "Invalid operation with the -ev option.\n");
        return 0;
      }
      w->op = OP_PC;
    }
    if (w->op == OP_PC || w->op == OP_RPC) {
      if (!o[CO_EV].value) {
        vesk_fprintf(stderr, "Eigen vector file missing.\n");
        return 0;
      }
      w->ev = getFeature(o[CO_EV].value, kEigenTag);
      if (!w->ev) {
        vesk_fprintf(stderr, "Error in get eigen features.\n");
        return 0;
      }
      const int n = getFeatureInfo(w->ev, 1);
      if (!o[CO_PC].value) {
        for (int i = 0; i < n; i++) w->pcs.push_back(i);
      } else if (!parsePcBands(o[CO_PC].value, n, &w->pcs) || w->pcs.empty()) {
        vesk_fprintf(stderr, "Error in parse pc bands.\n");
        return copyParseFailure(w, 0);
      }
    }
    w->meter = transMeterNames[w->op];
  }
  w->dx = transferInt(o[CO_DX].value, 1);
  w->dy = transferInt(o[CO_DY].value, 1);
  if (w->dx < 1 || w->dy < 1) {
    /* A zero interval would divide the output's size by zero. */
    vesk_fprintf(stderr, "Invalid column/row interval.\n");
    return copyParseFailure(w, 0);
  }
  w->cmp = transferInt(o[CO_CMP].value, 90);
  w->palette = o[CO_IND].value && compareNoCase(o[CO_IND].value, "Y") == 0;
  w->update = transferInt(o[CO_U].value, 1);
  if (w->update < 0 || w->update > 2) {
    vesk_fprintf(stderr, "invalid update flag (must be 0,1,or 2).\n");
    return copyParseFailure(w, 0);
  }
  if (!o[CO_IN].value) {
    vesk_fprintf(stderr, "Missing input file.\n");
    return copyParseFailure(w, 0);
  }
  if (!o[CO_OUT].value) {
    vesk_fprintf(stderr, "Missing output file.\n");
    return copyParseFailure(w, 0);
  }
  int err = 0;
  w->in = openRAMImage(o[CO_IN].value, o[CO_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open %s.\n", o[CO_IN].value);
    return copyParseFailure(w, err);
  }
  /* The input window first: a refused start makes no output. */
  w->ic = transferInt(o[CO_IC].value, 0);
  w->ir = transferInt(o[CO_IR].value, 0);
  if (w->ir < 0 || w->ir >= w->in->header.rows || w->ic < 0 || w->ic >= w->in->header.columns) {
    vesk_fprintf(stderr, "Start point is out of input region.");
    return copyParseFailure(w, 0);
  }
  w->out = openRAMImage(o[CO_OUT].value, o[CO_OUT].value, nullptr, nullptr, &err);
  if (!w->out) {
    err = 0;
    /* Block sums write their window whole: a new memory output is cleared
       only when the window leaves some of it unwritten (runCopy). */
    const bool blocks = !w->isCopy && (w->op == OP_BIN || w->op == OP_AVG);
    w->out = createCopyOutput(w, o, w->isCopy && transferInt(o[CO_DUMP].value, 0) != 0, &err,
                              !blocks);
    if (!w->out) return copyParseFailure(w, err);
    w->uncleared = blocks && isMemoryImgid(w->out->header.imgid);
  }
  if (w->in->header.imgid == IMG_JPEG) w->in->header.block = w->cmp;
  if (w->out->header.imgid == IMG_JPEG) w->out->header.block = w->cmp;

  const ImageHeader &in = w->in->header;
  const ImageHeader &out = w->out->header;
  w->oc = transferInt(o[CO_OC].value, 0);
  w->orow = transferInt(o[CO_OR].value, 0);
  if (w->orow < 0 || w->orow >= out.rows || w->oc < 0 || w->oc >= out.columns) {
    vesk_fprintf(stderr, "Start point is out of output region.");
    return copyParseFailure(w, 0);
  }
  w->rs = (o[CO_R].value ? std::max(0, transferInt(o[CO_R].value, 0)) : int64_t{out.rows} - w->orow) *
          int64_t{w->dy};
  w->cs = (o[CO_C].value ? std::max(0, transferInt(o[CO_C].value, 0)) : int64_t{out.columns} - w->oc) *
          int64_t{w->dx};
  w->cs = std::min({w->cs, (int64_t{out.columns} - w->oc) * w->dx, int64_t{in.columns} - w->ic});
  w->rs = std::min({w->rs, (int64_t{out.rows} - w->orow) * w->dy, int64_t{in.rows} - w->ir});

  const int inBands = in.nindices > 0 ? 3 : (w->op == OP_PC ? static_cast<int>(w->pcs.size()) : in.nbands);
  const int outBands = out.nindices > 0 ? 3 : out.nbands;
  w->indexFlags = (in.nindices > 0 ? 1 : 0) | (out.nindices > 0 ? 2 : 0);

  if (o[CO_B].value) {
    std::string text(o[CO_B].value);
    std::vector<int> s(kMaxBandPairs), d(kMaxBandPairs);
    int total = 0;
    size_t at = 0;
    while (at <= text.size()) {
      size_t end = text.find_first_of(";, ", at);
      if (end == std::string::npos) end = text.size();
      std::string item = text.substr(at, end - at);
      at = end + 1;
      if (item.empty()) continue;
      int n = total < kMaxBandPairs
                  ? parseBandPair(s.data() + total, d.data() + total, kMaxBandPairs - total,
                                  item.c_str())
                  : 0;
      if (n <= 0) {
        vesk_fprintf(stderr, "Invalid band specification.\n");
        return copyParseFailure(w, 0);
      }
      total += n;
    }
    w->source.assign(s.begin(), s.begin() + total);
    w->dest.assign(d.begin(), d.begin() + total);
  } else if (w->indexFlags == 2) {
    w->source = {1};
    w->dest = {0};
  } else if (w->indexFlags == 3) {
    w->source = {0};
    w->dest = {0};
  } else {
    /* A palette spreads into the output's colour order (a DIB's is blue first). */
    const bool spread = w->indexFlags == 1 && w->op != OP_PC && w->op != OP_RPC;
    for (int b = 1; b <= std::min(inBands, outBands); b++) {
      w->source.push_back(spread ? rgbBandComponent(out, b - 1) + 1 : b);
      w->dest.push_back(b);
    }
  }
  if (w->source.empty()) {
    vesk_fprintf(stderr, "Invalid band specification.\n");
    return copyParseFailure(w, 0);
  }
  if (!checkCopyPairs(w, inBands, outBands)) return copyParseFailure(w, 0);
  return 1;
}

/* The output band of a stored destination: the index band is band 0. */
inline int outBand(int d) { return d < 0 ? 0 : d; }

/*
 * copyResidentBytes --
 *     copyRows between BYTE memory images that hold every line: the lines
 *     had here, the bytes moved on the pool, the meter moved and (for
 *     copy and crop) the run status polled here between blocks.
 */
int copyResidentBytes(CopyWork *w, RowMeter *meter, int rowsOut) {
  const size_t pairs = w->source.size();
  const int outCount = static_cast<int>(w->cs);
  /* The output columns written, as putByteBILData clips them. */
  const int64_t first = std::max<int64_t>(w->oc, 0);
  const int64_t n = std::min<int64_t>(int64_t{w->oc} + outCount, w->out->header.columns) - first;
  if (n <= 0) return 1;
  const int64_t lead = first - w->oc;
  const std::vector<unsigned char> zeros(static_cast<size_t>(n));  /* rows outside the input */
  std::vector<std::pair<const unsigned char *, unsigned char *>> lines(
      static_cast<size_t>(rowsOut) * pairs);
  for (int k = 0; k < rowsOut; k++) {
    const int row = static_cast<int>(w->ir + int64_t{k} * w->dy), orow = w->orow + k;
    for (size_t p = 0; p < pairs; p++) {
      const int d = outBand(w->dest[p]);
      const unsigned char *from = getRAMImageLine(w->in, row, w->source[p], 1);
      unsigned char *to = getRAMImageLine(w->out, orow, d, 1);
      lines[static_cast<size_t>(k) * pairs + p] = {from ? from + w->ic + lead : zeros.data(),
                                                    to ? to + first : nullptr};
    }
  }
  // Every threshold the rows done have passed, as a row at a time reaches them.
  auto catchUp = [&](int rows) {
    for (float before = -1; rows > 0 && meter->threshold != before;) {
      before = meter->threshold;
      meter->row(rows, rowsOut);
    }
  };
  const bool done = parallelRows(
      rowsOut, rowGrain(n * static_cast<int64_t>(pairs) / 8),
      [&](int k0, int k1) {
        for (size_t i = static_cast<size_t>(k0) * pairs; i < static_cast<size_t>(k1) * pairs; i++)
          if (lines[i].second) memcpy(lines[i].second, lines[i].first, static_cast<size_t>(n));
      },
      [&](int rows) {
        catchUp(rows);
        return !(w->isCopy && pollStatus() == 3);
      });
  if (done) catchUp(rowsOut);
  else vesk_fprintf(stderr, "rimage crop canceled...\n");
  /* Every line given to a block was written: flagged here. */
  for (int k = 0; k < rowsOut; k++)
    for (size_t p = 0; p < pairs; p++)
      if (lines[static_cast<size_t>(k) * pairs + p].second)
        setRAMImageDirty(w->out, w->orow + k, outBand(w->dest[p]));
  if (w->out->hist)
    for (size_t p = 0; p < pairs; p++) resetBandHist(w->out->hist, outBand(w->dest[p]));
  return 1;
}

/*
 * copyRows --
 *     CP and RSP, and copy/crop: samples 0, DX, 2 DX ... of each source
 *     row into the output row; bytes for inputs of 8 bits or less.
 * Results:      1.
 */
int copyRows(CopyWork *w, RowMeter *meter) {
  const int64_t cs = w->cs;
  const int outCount = static_cast<int>((cs + w->dx - 1) / w->dx);
  const bool bytes = readsAsBytes(w->in->header);
  const ImageHeader &h = w->in->header;
  const bool direct = bytes && w->dx == 1 && h.pixelid == P_BYTE && h.nindices <= 0 &&
                      w->in != w->out && w->ic >= 0 && w->ic + cs <= h.columns;
  std::vector<unsigned char> byteRow(bytes ? static_cast<size_t>(cs) : 0);
  std::vector<float> floatRow(bytes ? 0 : static_cast<size_t>(cs));
  const int64_t rowsOut = (w->rs + w->dy - 1) / w->dy;
  if (direct && w->out->header.pixelid == P_BYTE && residentImage(w->in) &&
      residentImage(w->out) && rowsOut <= INT_MAX &&
      std::all_of(w->source.begin(), w->source.end(), [](int b) { return b >= 0; }))
    return copyResidentBytes(w, meter, static_cast<int>(rowsOut));
  for (int64_t k = 0; k * w->dy < w->rs; k++) {
    if (w->isCopy && pollStatus() == 3) {
      vesk_fprintf(stderr, "rimage crop canceled...\n");
      break;
    }
    const int row = static_cast<int>(w->ir + k * w->dy);
    const int orow = static_cast<int>(w->orow + k);
    for (size_t p = 0; p < w->source.size(); p++) {
      const int d = outBand(w->dest[p]);
      if (direct) {
        /* Whole BYTE samples inside the input: straight from its line. */
        const unsigned char *line = getRAMImageLine(w->in, row, w->source[p], 1);
        if (line) {
          putByteBILData(w->out, orow, w->oc, outCount, d, line + w->ic);
          continue;
        }
      }
      if (bytes) {
        getPaletteByteBILData(w->in, row, w->ic, static_cast<int>(cs), w->source[p], byteRow.data());
        if (w->dx > 1)
          for (int j = 0; j < outCount; j++) byteRow[j] = byteRow[static_cast<size_t>(j) * w->dx];
        putByteBILData(w->out, orow, w->oc, outCount, d, byteRow.data());
      } else {
        getFloatBILData(w->in, row, w->ic, static_cast<int>(cs), w->source[p], floatRow.data());
        if (w->dx > 1)
          for (int j = 0; j < outCount; j++) floatRow[j] = floatRow[static_cast<size_t>(j) * w->dx];
        putFloatBILData(w->out, orow, w->oc, outCount, d, floatRow.data());
      }
    }
    meter->row(static_cast<int>(k + 1), static_cast<int>(rowsOut));
  }
  return 1;
}

/* Whether BIN or AVG writes every line of every band of the output whole
   (every byte: packed pixels leave a line's last bits alone). */
bool binCoversOutput(const CopyWork *w) {
  const ImageHeader &h = w->out->header;
  if (getPixelBits(h.pixelid) < 8 || w->orow != 0 || w->oc != 0 || w->cs / w->dx != h.columns ||
      (w->rs + w->dy - 1) / w->dy != h.rows)
    return false;
  std::vector<char> written(static_cast<size_t>(std::max(h.nbands, 0)), 0);
  for (int d : w->dest)
    if (outBand(d) < h.nbands) written[outBand(d)] = 1;
  return std::all_of(written.begin(), written.end(), [](char b) { return b != 0; });
}

/*
 * binSums --
 *     One output row of BIN or AVG from its dy input rows (src[j], each
 *     from the window's first column): the sums of dx x dy blocks, times
 *     scale unless it is 1.
 */
__attribute__((target_clones("arch=x86-64-v3", "default")))
void binSums(const float *const *src, int dy, int dx, int count, float scale,
             float *__restrict out) {
  if (dx == 2 && dy == 2) {
    /* One sweep over both rows.  The general sums start from zero; they
       differ from these only in the sign of a zero sum, which the + 0
       makes positive as theirs is. */
    const float *__restrict a = src[0], *__restrict b = src[1];
    if (scale != 1.0f)
      for (int c = 0; c < count; c++)
        out[c] = (((a[2 * c] + a[2 * c + 1]) + (b[2 * c] + b[2 * c + 1])) + 0.0f) * scale;
    else
      for (int c = 0; c < count; c++)
        out[c] = ((a[2 * c] + a[2 * c + 1]) + (b[2 * c] + b[2 * c + 1])) + 0.0f;
    return;
  }
  std::fill(out, out + count, 0.0f);
  for (int j = 0; j < dy; j++) {
    const float *__restrict from = src[j];
    if (dx == 2) {
      for (int c = 0; c < count; c++) out[c] += from[2 * c] + from[2 * c + 1];
      continue;
    }
    for (int c = 0; c < count; c++) {
      float s = 0;
      for (int i = 0; i < dx; i++) s += from[static_cast<int64_t>(c) * dx + i];
      out[c] += s;
    }
  }
  if (scale != 1.0f)
    for (int c = 0; c < count; c++) out[c] *= scale;
}

/*
 * binResident --
 *     binRows between FLOAT memory images that hold every line (the
 *     input's window inside it, every source a band): the lines had here,
 *     the rows summed on the pool, the meter moved here as blocks end.
 * Results:      false, with nothing written, when a line is not held.
 */
bool binResident(CopyWork *w, RowMeter *meter, int rowsOut, int outCount, float scale) {
  const ImageHeader &ih = w->in->header;
  const size_t pairs = w->source.size(), dy = static_cast<size_t>(w->dy);
  /* Rows past the input's last (a last block cut short) read as zeros. */
  const std::vector<float> zeros(static_cast<size_t>(w->cs), 0.0f);
  std::vector<const float *> from(static_cast<size_t>(rowsOut) * pairs * dy);
  std::vector<float *> to(static_cast<size_t>(rowsOut) * pairs);
  for (int k = 0; k < rowsOut; k++)
    for (size_t p = 0; p < pairs; p++) {
      for (size_t j = 0; j < dy; j++) {
        const int64_t r = w->ir + int64_t{k} * w->dy + static_cast<int64_t>(j);
        const float *line = zeros.data();
        if (r < ih.rows) {
          line = residentFloatLine(w->in, static_cast<int>(r), w->source[p]);
          if (!line) return false;
          line += w->ic;
        }
        from[(static_cast<size_t>(k) * pairs + p) * dy + j] = line;
      }
      float *line = residentFloatLine(w->out, w->orow + k, outBand(w->dest[p]));
      if (!line) return false;
      to[static_cast<size_t>(k) * pairs + p] = line + w->oc;
    }
  for (int k = 0; k < rowsOut; k++)
    for (size_t p = 0; p < pairs; p++) setRAMImageDirty(w->out, w->orow + k, outBand(w->dest[p]));
  int told = 0;
  parallelRows(
      rowsOut, rowGrain(w->cs * static_cast<int64_t>(dy * pairs)),
      [&](int k0, int k1) {
        for (size_t i = static_cast<size_t>(k0) * pairs; i < static_cast<size_t>(k1) * pairs; i++)
          binSums(&from[i * dy], w->dy, w->dx, outCount, scale, to[i]);
      },
      [&](int rows) {
        for (; told < rows; told++) meter->row(told + 1, rowsOut);
        return true;
      });
  for (; told < rowsOut; told++) meter->row(told + 1, rowsOut);
  if (w->out->hist)
    for (size_t p = 0; p < pairs; p++) resetBandHist(w->out->hist, outBand(w->dest[p]));
  return true;
}

/*
 * BIN and AVG: sums (or means) of DX x DY blocks, whole blocks only.
 * Between FLOAT memory images that hold every line, the lines are had
 * here and the blocks of output rows summed on the worker pool straight
 * from the input's lines into the output's (the first writes into a new
 * output, its pages zeroed by the system as they are touched, spread over
 * the threads too).  Otherwise in rounds of output rows on this thread:
 * the input rows read (or used where they lie), summed and written.
 */
int binRows(CopyWork *w, RowMeter *meter) {
  const int64_t cs = w->cs;
  const int outCount = static_cast<int>(cs / w->dx);
  if (outCount <= 0) return 1;
  const size_t pairs = w->source.size(), dy = static_cast<size_t>(w->dy);
  const size_t inRow = static_cast<size_t>(cs), outRow = static_cast<size_t>(outCount);
  const float scale = w->op == OP_AVG ? 1.0f / static_cast<float>(int64_t{w->dx} * w->dy) : 1.0f;
  const int64_t rowsOut64 = (w->rs + w->dy - 1) / w->dy;
  const int rowsOut = static_cast<int>(std::min<int64_t>(rowsOut64, INT_MAX));
  const ImageHeader &ih = w->in->header;
  const bool inside = ih.nindices <= 0 && w->ic >= 0 && w->ic + cs <= ih.columns;
  /* An image binned into itself may read what it wrote: one pair of one
     row at a time, in order. */
  const bool inPlace = w->in == w->out;
  if (inside && !inPlace && w->out->header.pixelid == P_FLOAT &&
      std::all_of(w->source.begin(), w->source.end(), [](int b) { return b >= 0; }) &&
      binResident(w, meter, rowsOut, outCount, scale))
    return 1;
  const long long rowBytes = static_cast<long long>(pairs * (dy * inRow + outRow)) * 4;
  const int round = roundRows(1, rowsOut, rowBytes);
  /* The input rows of a round: where a FLOAT memory input holds them, or
     read into the buffer. */
  std::vector<const float *> inLines(pairs * dy * round);
  std::vector<float> in, sums(pairs * outRow * round);
  auto inLine = [&](int k, size_t p, size_t j) -> const float *& {
    return inLines[(static_cast<size_t>(k) * pairs + p) * dy + j];
  };
  auto sumLine = [&](int k, size_t p) { return &sums[(static_cast<size_t>(k) * pairs + p) * outRow]; };
  auto read = [&](int k0, int k, size_t p) {
    for (size_t j = 0; j < dy; j++) {
      const int64_t r = w->ir + int64_t{k0 + k} * w->dy + static_cast<int64_t>(j);
      const float *line = inside && r < ih.rows && w->source[p] >= 0
                              ? residentFloatLine(w->in, static_cast<int>(r), w->source[p])
                              : nullptr;
      if (line) {
        inLine(k, p, j) = line + w->ic;
        continue;
      }
      if (in.empty()) in.resize(pairs * dy * inRow * round);
      float *row = &in[((static_cast<size_t>(k) * pairs + p) * dy + j) * inRow];
      if (r >= ih.rows) std::fill(row, row + inRow, 0.0f);
      else getPaletteFloatBILData(w->in, static_cast<int>(r), w->ic, static_cast<int>(cs),
                                  w->source[p], row);
      inLine(k, p, j) = row;
    }
  };
  auto sum = [&](int k, size_t p) {
    binSums(&inLine(k, p, 0), w->dy, w->dx, outCount, scale, sumLine(k, p));
  };
  auto write = [&](int k0, int k, size_t p) {
    putFloatBILData(w->out, static_cast<int>(w->orow + k0 + k), w->oc, outCount,
                    outBand(w->dest[p]), sumLine(k, p));
  };
  for (int k0 = 0; k0 < rowsOut; k0 += inPlace ? 1 : round) {
    const int m = inPlace ? 1 : std::min(round, rowsOut - k0);
    if (inPlace) {
      for (size_t p = 0; p < pairs; p++) {
        read(k0, 0, p);
        sum(0, p);
        write(k0, 0, p);
      }
    } else {
      for (int k = 0; k < m; k++)
        for (size_t p = 0; p < pairs; p++) read(k0, k, p);
      for (int k = 0; k < m; k++)
        for (size_t p = 0; p < pairs; p++) sum(k, p);
      for (int k = 0; k < m; k++)
        for (size_t p = 0; p < pairs; p++) write(k0, k, p);
    }
    for (int k = 0; k < m; k++) meter->row(k0 + k + 1, rowsOut);
  }
  return 1;
}

/*
 * pcRows --
 *     PC: chosen components of the set's bands (centred, shifted into
 *     the middle of an unsigned output type); RPC: the bands rebuilt from
 *     the components.
 */
int pcRows(CopyWork *w, RowMeter *meter) {
  FeatureSet *set = w->ev;
  const int m = getFeatureInfo(set, 4);
  const int nc = static_cast<int>(w->pcs.size());
  EigenExtra extra;
  if (m <= 0 || !getEigenExtra(set, &extra) || static_cast<int>(extra.mean.size()) < m) {
    vesk_fprintf(stderr, "Error in get eigen features.\n");
    return 0;
  }
  std::vector<int> bands(static_cast<size_t>(m));
  for (int j = 0; j < m; j++) bands[j] = getFeatureBand(set, j);  /* stored 0-based */
  /* vectors[i * m + j]: component j of the i-th chosen eigenvector. */
  std::vector<double> vectors(static_cast<size_t>(nc) * m), offsets(static_cast<size_t>(nc));
  for (int i = 0; i < nc; i++) {
    EigenItem item;
    if (!getEigenItem(set, w->pcs[i], &item) || static_cast<int>(item.vector.size()) < m) {
      vesk_fprintf(stderr, "Error in get eigen features.\n");
      return 0;
    }
    double offset = 0;
    for (int j = 0; j < m; j++) {
      double v = item.vector[j];
      if (extra.normalized && extra.variance[j] > 0) v /= sqrt(extra.variance[j]);
      vectors[static_cast<size_t>(i) * m + j] = v;
      offset -= v * extra.mean[j];
    }
    if (w->op == OP_PC) {
      switch (w->out->header.pixelid) {
      case P_4BITS: offset += 7.5; break;
      case P_BYTE: offset += 127.5; break;
      case P_USHORT: offset += 32767.0; break;
      case P_ULONG: offset += 2147483647.0; break;
      default: break;
      }
    }
    offsets[i] = offset;
  }
  const int count = static_cast<int>((w->cs + w->dx - 1) / w->dx);
  const size_t pairs = w->source.size(), columns = static_cast<size_t>(count);
  const int64_t rowsOut64 = (w->rs + w->dy - 1) / w->dy;
  const int rowsOut = static_cast<int>(std::min<int64_t>(rowsOut64, INT_MAX));
  /* Rounds of rows: read here, transformed on the pool (a pixel's values
     depend on that pixel alone), written here; an image transformed into
     itself one row at a time. */
  const size_t pixelRow = columns * m, lineRow = columns * pairs;
  const int grain = rowGrain(static_cast<long long>(columns) * m * (nc + static_cast<long long>(pairs)));
  const int round = w->in == w->out ? 1 : roundRows(grain, rowsOut, static_cast<long long>(pixelRow + lineRow) * 4);
  std::vector<float> pixels(pixelRow * round), lines(lineRow * round);
  for (int k0 = 0; k0 < rowsOut; k0 += round) {
    const int n = std::min(round, rowsOut - k0);
    for (int k = 0; k < n; k++)
      getFloatBIPData(w->in, static_cast<int>(w->ir + int64_t{k0 + k} * w->dy), w->ic, count, w->dx, m,
                      bands.data(), &pixels[pixelRow * k]);
    parallelRows(n, grain, [&](int first, int end) {
      std::vector<double> comps(w->op == OP_RPC ? columns * nc : 0);
      for (int k = first; k < end; k++) {
        const float *row = &pixels[pixelRow * k];
        float *out = &lines[lineRow * k];
        if (w->op == OP_PC) {
          for (size_t p = 0; p < pairs; p++) {
            const double *v = &vectors[static_cast<size_t>(w->source[p]) * m];
            float *line = out + columns * p;
            for (int c = 0; c < count; c++) {
              const float *x = &row[static_cast<size_t>(c) * m];
              double s = offsets[w->source[p]];
              for (int j = 0; j < m; j++) s += v[j] * x[j];
              line[c] = static_cast<float>(s);
            }
          }
          continue;
        }
        for (int c = 0; c < count; c++) {
          const float *x = &row[static_cast<size_t>(c) * m];
          for (int i = 0; i < nc; i++) {
            const double *v = &vectors[static_cast<size_t>(i) * m];
            double s = offsets[i];
            for (int j = 0; j < m; j++) s += v[j] * x[j];
            comps[static_cast<size_t>(c) * nc + i] = s;
          }
        }
        for (size_t p = 0; p < pairs; p++) {
          const int s = w->source[p];
          if (s >= m) continue;
          float *line = out + columns * p;
          for (int c = 0; c < count; c++) {
            double sum = extra.mean[s];
            for (int i = 0; i < nc; i++) {
              double weight = vectors[static_cast<size_t>(i) * m + s];
              if (extra.normalized) weight *= extra.variance[s];
              sum += weight * comps[static_cast<size_t>(c) * nc + i];
            }
            line[c] = static_cast<float>(sum);
          }
        }
      }
    });
    for (int k = 0; k < n; k++) {
      for (size_t p = 0; p < pairs; p++)
        if (w->op == OP_PC || w->source[p] < m)
          putFloatBILData(w->out, static_cast<int>(w->orow + k0 + k), w->oc, count,
                          outBand(w->dest[p]), &lines[lineRow * k + columns * p]);
      meter->row(k0 + k + 1, rowsOut);
    }
  }
  return 1;
}

/*
 * runCopy --
 *     The run after a good parse: palette, operation, write-back and the
 *     clients told.
 * Results:      1, or 0 when a worker failed.
 */
int runCopy(CopyWork *w) {
  ImageHeader &out = w->out->header;
  if (w->palette && w->in->header.nindices > 0 && out.nindices > 0) {
    const int n = std::min(out.nindices, w->in->header.nindices);
    memcpy(out.palette, w->in->header.palette, 3 * static_cast<size_t>(n));
    if (w->out->fd >= 0) writeImageTrailer(w->out->fd, &out, w->out->privateData);
  }
  if (w->uncleared && !binCoversOutput(w)) {
    clearRAMImageLines(w->out);
    w->uncleared = false;
  }
  RowMeter meter(w->meter);
  int result = 0;
  try {
    switch (w->op) {
    case OP_BIN: case OP_AVG: result = binRows(w, &meter); break;
    case OP_PC: case OP_RPC: result = pcRows(w, &meter); break;
    default: result = copyRows(w, &meter); break;
    }
  } catch (const std::bad_alloc &) {
    vesk_printf("Error in memory allocation.\n");
  } catch (const std::length_error &) {
    vesk_printf("Error in memory allocation.\n");
  }
  meterReset();
  if (!result && w->uncleared) clearRAMImageLines(w->out);
  closeRAMImage(w->in, nullptr);
  w->in = nullptr;
  if (result && w->update != 0) {
    flushRAMImage(w->out);
    if (w->update == 2 && w->out->hist) {
      for (int d : w->dest)
        if (d >= 0) resetBandHist(w->out->hist, d);
      updateClient(w->out, nullptr, 1);
    } else {
      updateClient(w->out, nullptr, 2);
    }
  }
  freeCopyWork(w);
  return result;
}

}  // namespace

/*
 * copyModule --
 *     "rimage copy" and "rimage crop": a window of the input into the
 *     output, band pairs with optional subsampling.
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int copyModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -ic IC -ir IR -oc OC -or OR -r R -c C -b B -cmp CMP "
                "-u U -ind IND -imgid IMG -pixel PX -nbands NB -dx DX -dy DY -dump DUMP\n",
                prog);
    for (const char *line : transUsage)
      if (strncmp(line + 6, "O ", 2) != 0 && strncmp(line + 6, "EV", 2) != 0 &&
          strncmp(line + 6, "PC", 2) != 0)
        vesk_printf("%s", line);
    vesk_printf("      DUMP  flag of dump (for a new BIP, BIL, BSQ output image, def:0).\n");
    return 2;
  }
  CopyWork work;
  work.isCopy = true;
  if (!parseCopyOptions(&work, argc, argv)) return 0;
  return runCopy(&work);
}

/*
 * transModule --
 *     "rimage trans": copy, subsampling, block sums and means, and the
 *     principal-component transform and its reverse.
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int transModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -ic IC -ir IR -oc OC -or OR -r R -c C -b B -o O "
                "-cmp CMP -u U -ind IND -imgid IMG -pixel PX -nbands NB -ev EV -pc PC -dx DX "
                "-dy DY\n",
                prog);
    for (const char *line : transUsage) vesk_printf("%s", line);
    return 2;
  }
  CopyWork work;
  if (!parseCopyOptions(&work, argc, argv)) return 0;
  return runCopy(&work);
}

}  // namespace vesk
