/*
 * gsfzoom.cpp --
 *     "rimage gsfzoom": enlargement by 2, 4 or 8 through interpolating
 *     subdivision (a weighted four-point rule, or the midpoint), streaming
 *     input rows through a window of row slots; or reduction by the means
 *     of s x s blocks.  The output is always a new image.
 */
#include <string.h>
#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/core.h"
#include "core/options.h"
#include "core/text.h"
#include "core/threads.h"
#include "processing/transfer.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

enum { GZ_IN, GZ_OUT, GZ_S, GZ_RS, GZ_PIXEL, GZ_W, GZ_OPTION_COUNT };
const ModuleOption gsfzoomOptions[] = {
    {"-in", nullptr},    {"-out", nullptr}, {"-s", nullptr}, {"-rs", nullptr},
    {"-pixel", nullptr}, {"-w", nullptr},   {nullptr, nullptr},
};
static_assert(sizeof gsfzoomOptions / sizeof gsfzoomOptions[0] == GZ_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const gsfzoomUsage[] = {
    "where\n",
    "    IN         the input file;\n",
    "    OUT        the output file;\n",
    "    PIXEL      the output pixel type (BYTE, SHORT, USHORT, LONG, FLOAT);\n",
    "    SCALE      the scale factor (2 or 4 or 8);\n",
    "    RSP        the method of resampling (CC or BI or AVG);\n",
    "               CC: cubic convolution (default); BI: bi-linear; AVG: average\n",
    "    WEIGHT     the weight for cubic convolution resampling (default: 5);\n",
};

enum ZoomMethod { ZOOM_CC = 100, ZOOM_BI = 200, ZOOM_AVG = 300 };

/* One subdivision step: the new slot and its neighbours a, b, c, d. */
struct ZoomStep {
  int slot, a, b, c, d;
};
const ZoomStep zoomSteps2[] = {{3, 0, 2, 4, 6}};
const ZoomStep zoomSteps4[] = {{6, 0, 4, 8, 12}, {3, 0, 2, 4, 6}, {5, 2, 4, 6, 8}};
const ZoomStep zoomSteps8[] = {{12, 0, 8, 16, 24}, {6, 0, 4, 8, 12}, {10, 4, 8, 12, 16},
                               {3, 0, 2, 4, 6},    {5, 2, 4, 6, 8},  {7, 4, 6, 8, 10},
                               {9, 6, 8, 10, 12}};

struct ZoomWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  int s = 2;
  int method = ZOOM_CC;
  float weight = 5;
  int bands = 0;   /* bands read: 3 for a palette input */
};

int gsfzoomFailure(ZoomWork *w, int err) {
  closeTransferImages(&w->in, &w->out);
  printRAMImageError(err);
  return 0;
}

/* The point between b and c, with their outer neighbours a and d:
   (w (b + c) - a - d) scale when cubic, else the midpoint of b and c. */
struct ZoomRule {
  bool cubic;
  float w, scale;   /* scale = 1 / (2 (W - 1)) */
};

/*
 * zoomColumns --
 *     One band of one row: the samples at columns 0, s, 2s ..., then the
 *     gaps filled halving: the first and last gap by the midpoint, the
 *     others by the rule.
 */
void zoomColumns(const ZoomRule &rule, int s, int columns, const float *in, float *d) {
  const int n = (columns - 1) / s + 1;
  if (s == 2) {
    /* One pass, each sample stored once: the samples and the points
       between them; the first and last gaps by the midpoint, as the
       halving below gives. */
    if (rule.cubic && n >= 4) {
      d[0] = in[0];
      d[1] = (in[0] + in[1]) * 0.5f;
      for (int k = 1; k + 2 < n; k++) {
        d[2 * k] = in[k];
        d[2 * k + 1] = (rule.w * (in[k] + in[k + 1]) - in[k - 1] - in[k + 2]) * rule.scale;
      }
      d[2 * n - 4] = in[n - 2];
      d[2 * n - 3] = (in[n - 2] + in[n - 1]) * 0.5f;
    } else {
      for (int k = 0; k + 1 < n; k++) {
        d[2 * k] = in[k];
        d[2 * k + 1] = (in[k] + in[k + 1]) * 0.5f;
      }
    }
    d[2 * (n - 1)] = in[n - 1];
    return;
  }
  for (int k = 0; k < n; k++) d[static_cast<int64_t>(k) * s] = in[k];
  for (int f = s / 2; f >= 1; f /= 2) {
    d[f] = (d[0] + d[2 * f]) * 0.5f;
    const int f3 = 3 * f, f2 = 2 * f;
    if (rule.cubic) {
      for (int i = f3; i < columns - f3; i += f2)
        d[i] = (rule.w * (d[i - f] + d[i + f]) - d[i - f3] - d[i + f3]) * rule.scale;
    } else {
      for (int i = f3; i < columns - f3; i += f2) d[i] = (d[i - f] + d[i + f]) * 0.5f;
    }
    d[columns - 1 - f] = (d[columns - 1] + d[columns - 1 - f2]) * 0.5f;
  }
}

/* The input band (palette component) that output band b takes: a
   palette spreads in the output's colour order. */
int zoomSource(const ZoomWork *w, int b) {
  return w->in->header.nindices > 0 ? rgbBandComponent(w->out->header, b) : b;
}

/* Rounds a block of gaps works through before its first: a slot carried
   from one round to the next is worked out from rows at most two rounds
   back, so the window holds the serial run's values again by then. */
constexpr int kZoomWarmUp = 2;

/* Both images resident FLOAT memory images: all rows in one pass, read
   and written where their lines lie. */
bool zoomResident(const ZoomWork *w) {
  return w->in->header.nindices == 0 && w->in->header.pixelid == P_FLOAT &&
         residentImage(w->in) && w->out->header.pixelid == P_FLOAT && residentImage(w->out);
}

/*
 * zoomInputLines --
 *     lines[t] for t < count, row and band of the input as at(t) gives
 *     them: a FLOAT memory input's line where it lies, else a copy in
 *     store (through the palette), the copies made in the order of t.
 */
template <class At>
void zoomInputLines(const ZoomWork *w, size_t count, At at, std::vector<const float *> &lines,
                    std::vector<float> &store) {
  const int columns = w->in->header.columns;
  lines.assign(count, nullptr);
  size_t copies = 0;
  for (size_t t = 0; t < count; t++) {
    const std::pair<int, int> rb = at(t);
    if (w->in->header.nindices == 0) lines[t] = residentFloatLine(w->in, rb.first, rb.second);
    copies += lines[t] == nullptr;
  }
  store.resize(copies * columns);
  size_t next = 0;
  for (size_t t = 0; t < count; t++) {
    if (lines[t]) continue;
    const std::pair<int, int> rb = at(t);
    float *row = store.data() + next++ * columns;
    getPaletteFloatBILData(w->in, rb.first, 0, columns, zoomSource(w, rb.second), row);
    lines[t] = row;
  }
}

/*
 * zoomOutputLines --
 *     lines[(i - first) bands + b] for output rows first .. end - 1: a
 *     FLOAT memory output's lines where they lie (marked dirty) when all
 *     of them are had, else buffers in store.
 * Results:      true when the lines are the output's own.
 */
bool zoomOutputLines(ZoomWork *w, int first, int end, int bands, std::vector<float *> &lines,
                     std::vector<float> &store) {
  const size_t count = static_cast<size_t>(end - first) * bands;
  const int columns = w->out->header.columns;
  lines.resize(count);
  bool direct = true;
  for (int i = first; i < end && direct; i++)
    for (int b = 0; b < bands && direct; b++)
      direct = (lines[static_cast<size_t>(i - first) * bands + b] =
                    residentFloatLine(w->out, i, b)) != nullptr;
  if (direct) {
    for (int i = first; i < end; i++)
      for (int b = 0; b < bands; b++) setRAMImageDirty(w->out, i, b);
  } else {
    store.resize(count * columns);
    for (size_t t = 0; t < count; t++) lines[t] = store.data() + t * columns;
  }
  return direct;
}

/*
 * Where the rows of one pass of zoomSubdivide lie: input row r of band b
 * at in[(r - inFirst) bands + b] (its resident line or a copy), output
 * row i at out[(i - outFirst) bands + b] (its resident line or a buffer).
 */
struct ZoomRows {
  int inFirst = 0, outFirst = 0;
  std::vector<const float *> in;
  std::vector<float *> out;
};

/*
 * zoomGaps --
 *     CC and BI of the input gaps j0 .. j1 - 1: input row j lands on
 *     output row j s, gap j is output rows j s .. j s + s - 1 (the last
 *     gap, n - 1, its one row).  A window of slots 0 .. 3s holds rows;
 *     each round reads the next input row into slot 3s (extrapolated past
 *     the last), fills the slots between by the step table, emits slots
 *     0 .. s - 1 zoomed along the row and moves the window by s.  A block
 *     that starts inside the image first runs kZoomWarmUp rounds without
 *     emitting, so every block gives the rows one pass from the top gives.
 * Side effects: writes the output rows of the gaps, band by band.
 */
void zoomGaps(const ZoomWork *w, const ZoomRule &rule, const ZoomRows &rows, int j0, int j1) {
  const int s = w->s, n = w->in->header.rows, bands = w->bands;
  const int outColumns = w->out->header.columns;
  const int64_t columns = w->in->header.columns;
  const ZoomStep *steps = s == 2 ? zoomSteps2 : s == 4 ? zoomSteps4 : zoomSteps8;
  const int stepCount = s - 1;

  auto combine = [&](float *to, const float *a, const float *b, const float *c, const float *d) {
    if (rule.cubic) {
      for (int64_t j = 0; j < columns; j++)
        to[j] = (rule.w * (b[j] + c[j]) - a[j] - d[j]) * rule.scale;
    } else {
      for (int64_t j = 0; j < columns; j++) to[j] = (b[j] + c[j]) * 0.5f;
    }
  };
  auto midpoint = [&](float *to, const float *a, const float *b) {
    for (int64_t j = 0; j < columns; j++) to[j] = (a[j] + b[j]) * 0.5f;
  };
  auto extrapolate = [&](float *to, const float *near, const float *far) {
    for (int64_t j = 0; j < columns; j++) to[j] = 2 * near[j] - far[j];
  };

  /* own[k] is slot k's buffer; at[k] the row the slot holds: its buffer,
     or an input row where it lies. */
  std::vector<float> store(static_cast<size_t>((3 * s + 1) * columns));
  std::vector<float *> own(static_cast<size_t>(3 * s + 1));
  std::vector<const float *> at(own.size());
  const int r0 = std::max(0, j0 - kZoomWarmUp);
  for (int b = 0; b < bands; b++) {
    for (int k = 0; k <= 3 * s; k++) at[k] = own[k] = store.data() + k * columns;
    auto output = [&](int i) {
      return rows.out[static_cast<size_t>(i - rows.outFirst) * bands + b];
    };
    auto take = [&](int k, int r) {
      if (r < n) {
        at[k] = rows.in[static_cast<size_t>(r - rows.inFirst) * bands + b];
      } else {
        extrapolate(own[k], at[k - s], at[k - 2 * s]);
        at[k] = own[k];
      }
    };
    for (int k = 0; k < 3; k++) take(k * s, r0 + k);
    if (r0 == 0)
      for (int m = s / 2; m >= 1; m /= 2) {
        midpoint(own[m], at[0], at[2 * m]);
        at[m] = own[m];
      }
    for (int j = r0; j < j1; j++) {
      if (j == n - 1) {
        zoomColumns(rule, s, outColumns, at[0], output(j * s));
        break;
      }
      take(3 * s, j + 3);
      for (int i = 0; i < stepCount; i++) {
        const ZoomStep &st = steps[i];
        combine(own[st.slot], at[st.a], at[st.b], at[st.c], at[st.d]);
        at[st.slot] = own[st.slot];
      }
      /* The row a later round first reads is fetched while this round's
         rows are stored: the stores keep the loads idle (a few per cent
         on one thread). */
      const size_t ahead = static_cast<size_t>(j + 4 - rows.inFirst) * bands + b;
      if (j + 4 < n && ahead < rows.in.size())
        for (int64_t x = 0; x < columns; x += 16) __builtin_prefetch(rows.in[ahead] + x);
      if (j >= j0)
        for (int e = 0; e < s; e++) zoomColumns(rule, s, outColumns, at[e], output(j * s + e));
      /* Slots s .. 3s move down by s; the freed buffers go to the top. */
      std::rotate(own.begin(), own.begin() + s, own.end());
      std::rotate(at.begin(), at.begin() + s, at.end());
    }
  }
}

/*
 * zoomSubdivide --
 *     CC and BI: passes of gaps (all of them at once when both images are
 *     resident FLOAT memory images).  A pass's input rows are had on this
 *     thread (a FLOAT memory input's used where they lie), its blocks of
 *     gaps worked out on the worker pool, each block writing its rows
 *     straight into a resident FLOAT output's lines (so the pages of a
 *     new output are first touched by many threads) or into buffers
 *     stored here in order.
 */
void zoomSubdivide(ZoomWork *w) {
  const int s = w->s, n = w->in->header.rows, bands = w->bands;
  const int inColumns = w->in->header.columns;
  const int outRows = w->out->header.rows, outColumns = w->out->header.columns;
  const ZoomRule rule{w->method == ZOOM_CC, w->weight, 1.0f / (2.0f * (w->weight - 1.0f))};
  /* A gap is s output rows; blocks of a few gaps keep the warm-up small. */
  const int grain = std::max(rowGrain(int64_t{outColumns} * bands * s), 4 * kZoomWarmUp);
  const int pass = zoomResident(w)
                       ? n
                       : roundRows(grain, n, (int64_t{s} * outColumns + inColumns) * bands * 4);
  ZoomRows rows;
  std::vector<float> inStore, outStore;
  for (int g0 = 0; g0 < n; g0 += pass) {
    const int g1 = std::min(n, g0 + pass);
    rows.inFirst = std::max(0, g0 - kZoomWarmUp);
    const int inEnd = std::min(n, g1 + 3);
    zoomInputLines(
        w, static_cast<size_t>(inEnd - rows.inFirst) * bands,
        [&](size_t t) {
          return std::pair<int, int>(rows.inFirst + static_cast<int>(t / bands),
                                     static_cast<int>(t % bands));
        },
        rows.in, inStore);
    rows.outFirst = g0 * s;
    const int outEnd = std::min(outRows, g1 * s);
    const bool direct = zoomOutputLines(w, rows.outFirst, outEnd, bands, rows.out, outStore);
    parallelRows(g1 - g0, grain,
                 [&](int k0, int k1) { zoomGaps(w, rule, rows, g0 + k0, g0 + k1); });
    for (int i = rows.outFirst; i < outEnd && !direct; i++)
      for (int b = 0; b < bands; b++) {
        const float *line = rows.out[static_cast<size_t>(i - rows.outFirst) * bands + b];
        /* A FLOAT output's cached line takes the samples as they are. */
        float *claimed = nullptr;
        if (w->out->header.pixelid == P_FLOAT && w->out->getLineProc)
          claimed = reinterpret_cast<float *>(w->out->getLineProc(w->out, i, b, 0));
        if (claimed) {
          std::copy(line, line + outColumns, claimed);
          setRAMImageDirty(w->out, i, b);
        } else {
          putFloatBILData(w->out, i, 0, outColumns, b, line);
        }
      }
    if (w->out->hist)
      for (int b = 0; b < bands; b++) resetBandHist(w->out->hist, b);
  }
}

/*
 * zoomAverage --
 *     AVG: means of s x s blocks, whole blocks only.  Rounds of output
 *     rows: their input rows read on this thread (a FLOAT memory input's
 *     used where they lie), the means worked out in blocks of rows on the
 *     worker pool, written where a FLOAT memory output's lines lie or
 *     stored in order.
 */
void zoomAverage(ZoomWork *w) {
  const int s = w->s, inColumns = w->in->header.columns;
  const int outRows = w->out->header.rows, outColumns = w->out->header.columns;
  const float scale = 1.0f / static_cast<float>(s) / static_cast<float>(s);
  const int bands = std::min(w->bands, w->out->header.nbands);
  const int grain = rowGrain(int64_t{outColumns} * s * s * bands);
  const int64_t rowFloats = int64_t{s} * bands * inColumns;
  /* Both images resident FLOAT memory images: one round of all rows, each
     block read and written where its lines lie. */
  const int round =
      zoomResident(w) ? std::max(outRows, 1)
                      : static_cast<int>(std::clamp<int64_t>(
                            std::max<int64_t>(int64_t{grain} * workerCount() * 4,
                                              (int64_t{1} << 22) / std::max<int64_t>(rowFloats, 1)),
                            1, std::max(outRows, 1)));
  /* Input row r of band b for round row k at inputs[(k bands + b) s + r]. */
  std::vector<const float *> inputs;
  std::vector<float *> outputs;
  std::vector<float> inStore, outStore;
  for (int i0 = 0; i0 < outRows; i0 += round) {
    const int m = std::min(round, outRows - i0);
    zoomInputLines(
        w, static_cast<size_t>(m) * bands * s,
        [&](size_t t) {
          const int k = static_cast<int>(t / (static_cast<size_t>(bands) * s));
          return std::pair<int, int>((i0 + k) * s + static_cast<int>(t % s),
                                     static_cast<int>(t / s % bands));
        },
        inputs, inStore);
    const bool direct = zoomOutputLines(w, i0, i0 + m, bands, outputs, outStore);
    parallelRows(m, grain, [&](int k0, int k1) {
      for (int k = k0; k < k1; k++)
        for (int b = 0; b < bands; b++) {
          float *sums = outputs[static_cast<size_t>(k) * bands + b];
          const float *const *src = &inputs[(static_cast<size_t>(k) * bands + b) * s];
          if (s == 2) {
            /* The sums from zero, row by row, then scaled: a row at a time
               (two rows read side by side went slower). */
            const float *a = src[0], *c = src[1];
            for (int x = 0; x < outColumns; x++) sums[x] = 0.0f + (a[2 * x] + a[2 * x + 1]);
            for (int x = 0; x < outColumns; x++)
              sums[x] = (sums[x] + (c[2 * x] + c[2 * x + 1])) * scale;
            continue;
          }
          std::fill(sums, sums + outColumns, 0.0f);
          for (int r = 0; r < s; r++)
            for (int c = 0; c < outColumns; c++) {
              float t = 0;
              const float *p = src[r] + static_cast<int64_t>(c) * s;
              for (int q = 0; q < s; q++) t += p[q];
              sums[c] += t;
            }
          for (int c = 0; c < outColumns; c++) sums[c] *= scale;
        }
    });
    if (!direct)
      for (int k = 0; k < m; k++)
        for (int b = 0; b < bands; b++)
          putFloatBILData(w->out, i0 + k, 0, outColumns, b,
                          outputs[static_cast<size_t>(k) * bands + b]);
    if (w->out->hist)
      for (int b = 0; b < bands; b++) resetBandHist(w->out->hist, b);
  }
}

/* True when an image of this name exists: a file, or a registered tag. */
bool zoomOutputExists(const char *name) {
  return accessFile(name) == 0 || getRAMImageByTag(name) != nullptr;
}

/*
 * parseGsfzoomOptions --
 *     Weight, method, scale, the input and the new output's head.
 * Results:      1; 0 after the message, with nothing left open.
 */
int parseGsfzoomOptions(ZoomWork *w, int argc, const char **argv) {
  ModuleOption o[GZ_OPTION_COUNT + 1];
  std::copy(std::begin(gsfzoomOptions), std::end(gsfzoomOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  w->weight = o[GZ_W].value ? static_cast<float>(atof(o[GZ_W].value)) : 5.0f;
  if (!(w->weight > 0)) {
    vesk_fprintf(stderr, "WEIGHT must be greater than zero.\n");
    return 0;
  }
  if (o[GZ_RS].value) {
    const char *m = o[GZ_RS].value;
    if (compareNoCase(m, "CC") == 0) w->method = ZOOM_CC;
    else if (compareNoCase(m, "BI") == 0) w->method = ZOOM_BI;
    else if (compareNoCase(m, "AVG") == 0) w->method = ZOOM_AVG;
    else {
      vesk_fprintf(stderr, "Unknown resampling method\n");
      return 0;
    }
  }
  if (w->method == ZOOM_CC && w->weight == 1.0f) {
    /* The rule divides by 2 (W - 1). */
    vesk_fprintf(stderr, "WEIGHT must not be 1.\n");
    return 0;
  }
  const char *inName = o[GZ_IN].value, *outName = o[GZ_OUT].value;
  if (!inName) {
    vesk_fprintf(stderr, "Input image file missing!\n");
    return 0;
  }
  if (!outName) {
    vesk_fprintf(stderr, "Output image file missing!\n");
    return 0;
  }
  if (compareNoCase(inName, outName) == 0) {
    vesk_fprintf(stderr, "Input file must not be the same as the output.\n");
    return 0;
  }
  if (zoomOutputExists(outName)) {
    vesk_fprintf(stderr, "The output file already exists.\n");
    return 0;
  }
  w->s = transferInt(o[GZ_S].value, 2);
  if (w->method != ZOOM_AVG && w->s != 2 && w->s != 4 && w->s != 8) {
    vesk_fprintf(stderr, "ZOOMSCALE must be 2 or 4 or 8.\n");
    return 0;
  }
  if (w->method == ZOOM_AVG && w->s < 1) {
    vesk_fprintf(stderr, "ZOOMSCALE must be at least 1 for AVG.\n");
    return 0;
  }
  int pixelid = 0;
  if (o[GZ_PIXEL].value) {
    pixelid = getPixelid(o[GZ_PIXEL].value);
    if (pixelid <= 0) {
      vesk_fprintf(stderr, "Invalid pixel ID\n");
      return 0;
    }
  }
  int err = 0;
  w->in = openRAMImage(inName, inName, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open %s.\n", inName);
    return gsfzoomFailure(w, err);
  }
  ImageHeader h = w->in->header;
  const bool palette = h.nindices > 0;
  w->bands = palette ? 3 : h.nbands;
  if (w->method == ZOOM_AVG) {
    if (w->s > h.rows || w->s > h.columns) {
      vesk_fprintf(stderr, "ZOOMSCALE %d exceeds the image size %dx%d.\n", w->s, h.columns, h.rows);
      return gsfzoomFailure(w, 0);
    }
    h.dx *= w->s;
    h.dy *= w->s;
    h.rows /= w->s;
    h.columns /= w->s;
  } else {
    if (h.rows < 2 || h.columns < 2) {
      vesk_fprintf(stderr, "Interpolation needs at least 2 rows and 2 columns.\n");
      return gsfzoomFailure(w, 0);
    }
    const int64_t rows = (int64_t{h.rows} - 1) * w->s + 1;
    const int64_t columns = (int64_t{h.columns} - 1) * w->s + 1;
    if (rows > INT_MAX || columns > INT_MAX) {
      vesk_fprintf(stderr, "Error in open %s.\n", outName);
      return gsfzoomFailure(w, 0);
    }
    h.dx /= w->s;
    h.dy /= w->s;
    h.rows = static_cast<int>(rows);
    h.columns = static_cast<int>(columns);
  }
  if (strlen(outName) >= sizeof h.path) {
    vesk_fprintf(stderr, "Error in open %s.\n", outName);
    return gsfzoomFailure(w, 0);
  }
  strcpy(h.path, outName);
  if (pixelid > 0) h.pixelid = pixelid;
  if (palette && h.nbands == 1) {
    h.nbands = 3;
    h.pixelid = P_BYTE;
    h.nindices = 0;
    if (h.imgid != IMG_TIFF && h.imgid != IMG_DIB && !isMemoryImgid(h.imgid)) h.imgid = IMG_DIB;
  }
  fitMemoryFrame(h);
  h.bits = getPixelBits(h.pixelid);
  if (h.bits > 8) h.nindices = 0;
  h.offset = 0;
  h.block = 0;
  h.altFd = -1;
  h.volumes = 0;
  h.readerFlag = 0;
  // Every row of every band is written: a memory output need not be cleared first.
  w->out = openRAMImageNew(&h, nullptr, 0, &err, w->bands < h.nbands);
  if (!w->out) {
    vesk_fprintf(stderr, "Error in open %s.\n", outName);
    return gsfzoomFailure(w, err);
  }
  return 1;
}

}  // namespace

/*
 * gsfzoomModule --
 *     "rimage gsfzoom -in IN -out OUT -pixel PIXEL -s SCALE -rs RSP -w WEIGHT".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int gsfzoomModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -pixel PIXEL -s SCALE -rs RSP -w WEIGHT\n", prog);
    for (const char *line : gsfzoomUsage) vesk_printf("%s", line);
    return 2;
  }
  ZoomWork w;
  if (!parseGsfzoomOptions(&w, argc, argv)) return 0;
  int result = 1;
  try {
    if (w.method == ZOOM_AVG) zoomAverage(&w);
    else zoomSubdivide(&w);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in AllocateMemmory.\n");
    result = 0;
  } catch (const std::length_error &) {
    vesk_fprintf(stderr, "Error in AllocateMemmory.\n");
    result = 0;
  }
  if (!result) clearRAMImageLines(w.out);
  closeTransferImages(&w.in, &w.out);
  return result;
}

}  // namespace vesk
