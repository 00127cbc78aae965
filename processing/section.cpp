/*
 * section.cpp --
 *     "rimage section": moves a profile between images.  ISECT samples the
 *     input along a segment and stores the samples as a row, a column or
 *     the bands of one pixel of the output; OSECT takes such a row, column
 *     or pixel from the input and draws it along a segment of the output.
 */
#include <string.h>
#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/core.h"
#include "core/options.h"
#include "core/text.h"
#include "processing/transfer.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "raster/profile.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

enum { SE_IN, SE_OUT, SE_B, SE_OP, SE_SECT, SE_ROW, SE_COL, SE_PIX, SE_RS, SE_OPTION_COUNT };
const ModuleOption sectionOptions[] = {
    {"-in", nullptr},  {"-out", nullptr}, {"-b", nullptr},   {"-op", nullptr},
    {"-sect", nullptr}, {"-row", nullptr}, {"-col", nullptr}, {"-pix", nullptr},
    {"-rs", nullptr},  {nullptr, nullptr},
};
static_assert(sizeof sectionOptions / sizeof sectionOptions[0] == SE_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const sectionUsage[] = {
    "where  IN     input image.\n",
    "       OUT    output image.\n",
    "       OP     option: ISECT or OSECT (def: ISECT).\n",
    "       B      band definition.\n",
    "       SECT   section specification: x0,y0,x1,y1.\n",
    "       ROW    row specification: sc,sr,np, or\n",
    "       COL    col specification: sc,sr,np, or\n",
    "       PIX    pixel specification: sc,sr,np.\n",
    "       RSP    option resampling: BI or NN (def: NN).\n",
};

enum { SECT_ISECT = 257, SECT_OSECT = 258 };
enum { SECT_ROW = 259, SECT_COL = 260, SECT_PIX = 261 };

/* Points a section may hold: its buffer stays below 1 GB. */
constexpr int64_t kSectionMaxValues = int64_t{1} << 28;

}  // namespace

/* The section work record. */
struct SectionWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  float x0 = 0, y0 = 0, x1 = 0, y1 = 0;  /* segment, image column and row coordinates */
  int sampling = kSampleNearest;
  int placement = 0;
  int sc = 0, sr = 0, np = 0;
  int op = SECT_ISECT;
  int nb = 0;
  std::vector<int> source, dest;
};

/*
 * sectRimg --
 *     Runs a section: samples into the buffer and out to the placement
 *     (ISECT), or the placement's values drawn along the segment (OSECT).
 * Results:      1, or 0 when the buffer cannot be had (images closed).
 */
int sectRimg(SectionWork *w) {
  std::vector<float> buffer;
  try {
    buffer.assign(static_cast<size_t>(int64_t{w->np} * w->nb + 1), 0.0f);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error: gmemAlloc in sectRimg.\n");
    closeTransferImages(&w->in, &w->out);
    return 0;
  }
  float *buf = buffer.data();
  const int *src = w->source.data(), *dst = w->dest.data();
  if (w->op == SECT_ISECT) {
    getRAMImageSeg(w->in, w->x0, w->y0, w->x1, w->y1, w->nb, src, buf, w->np, w->sampling);
    switch (w->placement) {
    case SECT_ROW: writeFloatBIPData(w->out, w->sr, w->sc, w->np, w->nb, dst, buf); break;
    case SECT_COL:
      for (int i = 0; i < w->np; i++)
        writeFloatBIPData(w->out, w->sr + i, w->sc, 1, w->nb, dst, buf + int64_t{i} * w->nb);
      break;
    default:
      for (int k = 0; k < w->np; k++) putFloatBILData(w->out, w->sr, w->sc, 1, dst[k], buf + k);
      break;
    }
  } else {
    switch (w->placement) {
    case SECT_ROW: getFloatBIPData(w->in, w->sr, w->sc, w->np, 1, w->nb, src, buf); break;
    case SECT_COL:
      for (int i = 0; i < w->np; i++)
        getFloatBIPData(w->in, w->sr + i, w->sc, 1, 1, w->nb, src, buf + int64_t{i} * w->nb);
      break;
    default: getFloatBIPData(w->in, w->sr, w->sc, 1, 1, w->np, src, buf); break;
    }
    putRAMImageSeg(w->out, w->x0, w->y0, w->x1, w->y1, w->nb, dst, buf, w->np, w->sampling);
  }
  if (w->out->hist) {
    const int count = w->placement == SECT_PIX && w->op == SECT_ISECT ? w->np : w->nb;
    for (int i = 0; i < count; i++) resetBandHist(w->out->hist, dst[i]);
  }
  closeTransferImages(&w->in, &w->out);
  return 1;
}

namespace {

int sectionFailure(SectionWork *w) {
  closeTransferImages(&w->in, &w->out);
  return 0;
}

/*
 * parseSectionOptions --
 *     Operation, sampling, segment, placement, both images and the bands.
 * Results:      1; 0 after the message, with nothing left open.
 */
int parseSectionOptions(SectionWork *w, int argc, const char **argv) {
  ModuleOption o[SE_OPTION_COUNT + 1];
  std::copy(std::begin(sectionOptions), std::end(sectionOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  if (const char *op = o[SE_OP].value) {
    if (strcmp(op, "ISECT") == 0) w->op = SECT_ISECT;
    else if (strcmp(op, "OSECT") == 0) w->op = SECT_OSECT;
    else {
      vesk_fprintf(stderr, "Unknown option: %s\n", op);
      return 0;
    }
  }
  if (const char *rs = o[SE_RS].value) {
    if (strcmp(rs, "BI") == 0) w->sampling = kSampleBilinear;
    else if (strcmp(rs, "NN") == 0) w->sampling = kSampleNearest;
    else {
      vesk_fprintf(stderr, "Invalid resampling option.\n");
      return 0;
    }
  }
  if (!o[SE_SECT].value) {
    vesk_fprintf(stderr, "Section specification missing.\n");
    return 0;
  }
  float seg[4];
  if (passFloats(o[SE_SECT].value, seg, 4) != 4) {
    vesk_fprintf(stderr, "Invalid section specification.\n");
    return 0;
  }
  w->x0 = seg[0];
  w->y0 = seg[1];
  w->x1 = seg[2];
  w->y1 = seg[3];
  static const struct {
    int row, placement;
    const char *message;
  } placements[] = {
      {SE_ROW, SECT_ROW, "Invalid row specification.\n"},
      {SE_COL, SECT_COL, "Invalid col specification.\n"},
      {SE_PIX, SECT_PIX, "Invalid pix specification.\n"},
  };
  for (const auto &p : placements) {
    const char *text = o[p.row].value;
    if (!text) continue;
    long v[3];
    /* At least one point, and a start that is an int. */
    if (passLongs(text, v, 3) != 3 || v[2] < 1 || v[2] > kSectionMaxValues || v[0] < INT_MIN ||
        v[0] > INT_MAX || v[1] < INT_MIN || v[1] > INT_MAX) {
      vesk_fprintf(stderr, "%s", p.message);
      return 0;
    }
    w->placement = p.placement;
    w->sc = static_cast<int>(v[0]);
    w->sr = static_cast<int>(v[1]);
    w->np = static_cast<int>(v[2]);
    break;
  }
  if (!w->placement) {
    vesk_fprintf(stderr, "Section placement missing.\n");
    return 0;
  }
  if (!o[SE_IN].value) {
    vesk_fprintf(stderr, "Input image missing.\n");
    return 0;
  }
  if (!o[SE_OUT].value) {
    vesk_fprintf(stderr, "Output image missing.\n");
    return 0;
  }
  int err = 0;
  w->in = openRAMImage(o[SE_IN].value, o[SE_IN].value, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open: %s\n", o[SE_IN].value);
    return sectionFailure(w);
  }
  w->out = openRAMImage(o[SE_OUT].value, o[SE_OUT].value, nullptr, nullptr, &err);
  if (!w->out) {
    vesk_fprintf(stderr, "Error in open: %s\n", o[SE_OUT].value);
    return sectionFailure(w);
  }
  w->source.resize(kMaxBandPairs);
  w->dest.resize(kMaxBandPairs);
  w->nb = parseBandList(w->in->header.nbands, w->out->header.nbands, w->source.data(),
                        w->dest.data(), o[SE_B].value);
  if (w->nb <= 0) return sectionFailure(w);
  w->source.resize(static_cast<size_t>(w->nb));
  w->dest.resize(static_cast<size_t>(w->nb));
  if (w->placement == SECT_PIX) {
    const int c = w->source[0];
    if (int64_t{c} + w->np > w->in->header.nbands) w->np = w->in->header.nbands - c;
    /* ISECT stores sample k into destination k: no more samples than destinations. */
    if (w->op == SECT_ISECT) w->np = std::min(w->np, w->nb);
    w->source.resize(static_cast<size_t>(std::max(w->np, w->nb)));
    for (int k = 0; k < w->np; k++) w->source[k] = c + k;
    w->nb = 1;
  } else if (int64_t{w->np} * w->nb > kSectionMaxValues) {
    vesk_fprintf(stderr, "%s", w->placement == SECT_ROW ? "Invalid row specification.\n"
                                                        : "Invalid col specification.\n");
    return sectionFailure(w);
  }
  return 1;
}

}  // namespace

/*
 * sectionModule --
 *     "rimage section -in IN -out OUT -b B -op OP -sect SECT -row ROW|-col
 *     COL|-pix PIX -rs RSP".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int sectionModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -b B -op OP -sect SECT -row ROW|-col COL|-pix PIX "
                "-rs RSP\n",
                prog);
    for (const char *line : sectionUsage) vesk_printf("%s", line);
    return 2;
  }
  SectionWork w;
  if (!parseSectionOptions(&w, argc, argv)) return 0;
  return sectRimg(&w);
}

}  // namespace vesk
