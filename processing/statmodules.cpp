/*
 * statmodules.cpp --
 *     Three modules of rimage over feature files: "gstat" measures the
 *     mean and covariance of a window of an image (on a grid of sampled
 *     rows and columns, optionally where a mask has a value) and pools
 *     them into a named item of a statistics file; "egv" writes the
 *     eigenvectors of one item; "statinfo" prints a feature file of any
 *     kind.
 */
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/text.h"
#include "processing/features.h"
#include "processing/rimage.h"
#include "raster/pixels.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* ---- gstat ---- */

enum {
  GS_IN, GS_OUT, GS_STAT, GS_MASK, GS_SR, GS_SC, GS_R, GS_C, GS_B, GS_DX, GS_DY, GS_MASKID,
  GS_OPTION_COUNT
};

const ModuleOption gstatOptions[] = {
    {"-in", nullptr}, {"-out", nullptr}, {"-stat", nullptr}, {"-mask", nullptr},
    {"-sr", nullptr}, {"-sc", nullptr},  {"-r", nullptr},    {"-c", nullptr},
    {"-b", nullptr},  {"-dx", nullptr},  {"-dy", nullptr},   {"-maskid", nullptr},
    {nullptr, nullptr},
};
static_assert(sizeof gstatOptions / sizeof gstatOptions[0] == GS_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const gstatUsage[] = {
    "where IN   name of the image\n",
    "      OUT  name of the output stat file\n",
    "      MASK name of the mask image file\n",
    "      STAT name of the statistics\n",
    "      SR   start row\n",
    "      SC   start column\n",
    "      R    rows\n",
    "      C    columns\n",
    "      B    image bands\n",
    "      DX   increment of rows\n",
    "      DY   increment of columns\n",
    "      MASKID id of the mask value (default:1)\n",
};

/* Pixels merged into the running averages at a time. */
constexpr int kGstatBatch = 16384;

struct GstatWork {
  RAMIMG *image = nullptr;
  RAMIMG *mask = nullptr;
  long maskValue = 1;
  int sr = 0, sc = 0, r = 0, c = 0, dx = 1, dy = 1;
  std::vector<int> bands;
  std::string name, out;
  ~GstatWork() {
    if (image) closeRAMImage(image, nullptr);
    if (mask) closeRAMImage(mask, nullptr);
  }
};

int parseGstatOptions(GstatWork *w, int argc, const char **argv) {
  ModuleOption o[GS_OPTION_COUNT + 1];
  std::copy(std::begin(gstatOptions), std::end(gstatOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  int err = 0;
  if (!o[GS_IN].value) {
    vesk_fprintf(stderr, "Image file missing.\n");
    return 0;
  }
  w->image = openRAMImage(o[GS_IN].value, o[GS_IN].value, nullptr, nullptr, &err);
  if (!w->image) {
    vesk_fprintf(stderr, "Error in open %s.\n", o[GS_IN].value);
    printRAMImageError(err);
    return 0;
  }
  const ImageHeader &h = w->image->header;
  if (o[GS_MASKID].value) w->maskValue = atol(o[GS_MASKID].value);
  if (o[GS_MASK].value) {
    w->mask = openRAMImage(o[GS_MASK].value, o[GS_MASK].value, nullptr, nullptr, &err);
    if (!w->mask) {
      vesk_fprintf(stderr, "Error in open %s.\n", o[GS_MASK].value);
      printRAMImageError(err);
      return 0;
    }
    if (w->mask->header.rows != h.rows || w->mask->header.columns != h.columns) {
      vesk_fprintf(stderr, "Error: inconsistent row or/and columns between mask and data.\n");
      return 0;
    }
  }
  if (!o[GS_STAT].value) {
    vesk_fprintf(stderr, "Stat name missing.\n");
    return 0;
  }
  if (!o[GS_OUT].value) {
    vesk_fprintf(stderr, "Output stat file missing.\n");
    return 0;
  }
  w->name = o[GS_STAT].value;
  w->out = o[GS_OUT].value;
  if (o[GS_B].value) {
    std::vector<int> source(kMaxBandPairs), dest(kMaxBandPairs);
    int pairs = parseBandList(h.nbands, h.nbands, source.data(), dest.data(), o[GS_B].value);
    if (pairs <= 0) return 0;
    w->bands.assign(source.begin(), source.begin() + pairs);
  } else {
    for (int b = 0; b < h.nbands; b++) w->bands.push_back(b);
  }
  w->r = o[GS_R].value ? static_cast<int>(atol(o[GS_R].value)) : h.rows;
  w->c = o[GS_C].value ? static_cast<int>(atol(o[GS_C].value)) : h.columns;
  w->sr = o[GS_SR].value ? static_cast<int>(atol(o[GS_SR].value)) : 0;
  w->sc = o[GS_SC].value ? static_cast<int>(atol(o[GS_SC].value)) : 0;
  if (w->sr < 0 || w->sr > h.rows - 1) {
    vesk_fprintf(stderr, "start row out of range.\n");
    return 0;
  }
  if (w->sc < 0 || w->sc > h.columns - 1) {
    vesk_fprintf(stderr, "start column out of range.\n");
    return 0;
  }
  w->r = std::clamp(w->r, 0, h.rows - w->sr);
  w->c = std::clamp(w->c, 0, h.columns - w->sc);
  /* Steps below 1 would never advance. */
  w->dx = std::max(1, o[GS_DX].value ? static_cast<int>(atol(o[GS_DX].value)) : 1);
  w->dy = std::max(1, o[GS_DY].value ? static_cast<int>(atol(o[GS_DY].value)) : 1);
  return 1;
}

/* The statistics file to update: the existing one, or a new one-item set. */
FeatureSet *gstatTarget(GstatWork *w, int *index) {
  FeatureSet *set = getFeature(w->out.c_str(), kStatTag);
  const int nbands = w->image->header.nbands;
  if (set) {
    const int n = getFeatureInfo(set, 4);
    std::vector<int> bands(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
      bands[i] = getFeatureBand(set, i);
      if (bands[i] < 0 || bands[i] >= nbands) {
        vesk_fprintf(stderr, "Band %d of %s is not in the image.\n", bands[i] + 1, w->out.c_str());
        freeFeature(set);
        return nullptr;
      }
    }
    w->bands = bands;
    *index = findStatItem(set, w->name.c_str());
    if (*index < 0) {
      FeatureSet *grown = addFeature(set, nullptr);
      if (!grown) {
        freeFeature(set);
        return nullptr;
      }
      set = grown;
      *index = getFeatureInfo(set, 1) - 1;
    }
    return set;
  }
  const int n = static_cast<int>(w->bands.size());
  std::vector<unsigned char> extra(kStatExtraSize, 0);
  const std::string &path = w->image->header.path[0] ? w->image->header.path : w->image->tag;
  memcpy(extra.data(), path.data(), std::min<size_t>(path.size(), kStatSourceSize - 1));
  const char *note = "Created by GSTATS";
  memcpy(extra.data() + kStatSourceSize, note, strlen(note));
  set = newFeature(kStatTag, w->bands.data(), n, statItemSize(n), 1, extra.data(), kStatExtraSize);
  *index = 0;
  return set;
}

/*
 * runGstat --
 *     Reads the sampled window row by row, merges the sums into running
 *     averages every 16384 pixels, pools the result into the item and
 *     writes the file.
 * Results: 1; 0 when the file cannot be read or written.
 */
int runGstat(GstatWork *w) {
  int index = 0;
  FeatureSet *set = gstatTarget(w, &index);
  if (!set) return 0;
  StatItem item;
  readStatItem(set, index, &item);
  item.sequence = index;
  item.name = w->name;
  time_t now = time(nullptr);
  char stamp[32] = {0};
  ctime_r(&now, stamp);
  item.note = std::string(stamp, strnlen(stamp, 24));
  writeStatItem(set, index, item);

  const int n = static_cast<int>(w->bands.size());
  const int l = (w->c + w->dx - 1) / w->dx;
  const size_t packed = static_cast<size_t>(n) * (n + 1) / 2;
  std::vector<float> pixels(static_cast<size_t>(l) * n);
  std::vector<double> means(static_cast<size_t>(n)), moments(packed), sums(static_cast<size_t>(n)),
      cross(packed);
  std::vector<unsigned char> maskRow(static_cast<size_t>(w->c));
  int running = 0, batch = 0;
  float threshold = 0.05f;
  for (int y = w->sr; y < w->sr + w->r; y += w->dy) {
    int k = l;
    if (w->mask) {
      getByteBILData(w->mask, y, w->sc, w->c, 0, maskRow.data());
      bool any = false;
      for (int j = 0; j < l && !any; j++) any = maskRow[static_cast<size_t>(j) * w->dx] == w->maskValue;
      if (!any) continue;
      getFloatBIPData(w->image, y, w->sc, w->c, w->dx, n, w->bands.data(), pixels.data());
      k = 0;
      for (int j = 0; j < l; j++) {
        if (maskRow[static_cast<size_t>(j) * w->dx] != w->maskValue) continue;
        if (k != j)
          std::copy_n(&pixels[static_cast<size_t>(j) * n], n, &pixels[static_cast<size_t>(k) * n]);
        k++;
      }
    } else {
      getFloatBIPData(w->image, y, w->sc, w->c, w->dx, n, w->bands.data(), pixels.data());
    }
    accumulateStatSums(cross.data(), sums.data(), n, pixels.data(), k);
    batch += k;
    if (batch > kGstatBatch) {
      running = mergeStatSums(running, n, moments.data(), means.data(), cross.data(), sums.data(), batch);
      batch = 0;
      std::fill(sums.begin(), sums.end(), 0.0);
      std::fill(cross.begin(), cross.end(), 0.0);
    }
    const float fraction = static_cast<float>(y - w->sr + 1) / static_cast<float>(w->r);
    if (fraction >= threshold) {
      meterSet("gstats", threshold);
      threshold += meterInc();
    }
  }
  running = mergeStatSums(running, n, moments.data(), means.data(), cross.data(), sums.data(), batch);
  meterSet("gstats", 1.0f);
  int result = 1;
  if (running > 0) {
    subtractMeanProduct(moments.data(), means.data(), n);
    mergeStatItem(set, index, moments.data(), means.data(), running);
    result = putFeature(w->out.c_str(), set);
  }
  freeFeature(set);
  meterReset();
  return result;
}

/* ---- egv ---- */

enum { EG_IN, EG_OUT, EG_STAT, EG_ID, EG_NEGVS, EG_O, EG_ITER, EG_ERR, EG_OPTION_COUNT };

const ModuleOption egvOptions[] = {
    {"-in", nullptr},    {"-out", nullptr}, {"-stat", nullptr}, {"-id", nullptr},
    {"-negvs", nullptr}, {"-o", nullptr},   {"-iter", nullptr}, {"-err", nullptr},
    {nullptr, nullptr},
};
static_assert(sizeof egvOptions / sizeof egvOptions[0] == EG_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const egvUsage[] = {
    "where IN    name of the input stat file\n",
    "      OUT   name of the output eigen vector file\n",
    "      STAT  name of the stat\n",
    "      ID    id number of the stat\n",
    "      NEGVS number of eigen vectors\n",
    "      OPT   NORM or NONNORM (def:NONORM)\n",
    "      ITER  iteration number (def:512)\n",
    "      ERR   error of convergence (def:0.0000000001)\n",
};

struct EgvWork {
  FeatureSet *set = nullptr;
  std::string in, out;
  int pairs = 0, index = 0, normalize = 0, iterations = 512;
  float tolerance = 1e-10f;
  ~EgvWork() {
    if (set) freeFeature(set);
  }
};

int parseEgvOptions(EgvWork *w, int argc, const char **argv) {
  ModuleOption o[EG_OPTION_COUNT + 1];
  std::copy(std::begin(egvOptions), std::end(egvOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  w->iterations = o[EG_ITER].value ? static_cast<int>(atol(o[EG_ITER].value)) : 512;
  w->tolerance = o[EG_ERR].value ? static_cast<float>(atof(o[EG_ERR].value)) : 1e-10f;
  if (!o[EG_IN].value) {
    vesk_fprintf(stderr, "Input stat file missing!\n");
    return 0;
  }
  w->set = getFeature(o[EG_IN].value, kStatTag);
  if (!w->set) {
    vesk_fprintf(stderr, "Fail to get feature file: %s\n", o[EG_IN].value);
    return 0;
  }
  w->in = o[EG_IN].value;
  FeatureSet *set = w->set;
  auto fail = [&](const char *message) {
    vesk_fprintf(stderr, "%s", message);
    return 0;
  };
  if (!o[EG_OUT].value) return fail("output eigen vector file missing!\n");
  w->out = o[EG_OUT].value;
  const int n = getFeatureInfo(set, 4);
  w->pairs = n;
  if (o[EG_NEGVS].value) {
    long asked = atol(o[EG_NEGVS].value);
    if (asked < 0) return fail(fmt("Invalid number of eigen vectors: %s\n", o[EG_NEGVS].value));
    w->pairs = static_cast<int>(std::min<long>(asked, n));
  }
  const int count = getFeatureInfo(set, 1);
  if (o[EG_ID].value) {
    long id = atol(o[EG_ID].value);
    if (id < 0 || id >= count) return fail(fmt("Invalid statID %s\n", o[EG_ID].value));
    w->index = static_cast<int>(id);
  } else if (o[EG_STAT].value) {
    w->index = findStatItem(set, o[EG_STAT].value);
    if (w->index < 0) return fail(fmt("Couldn't find stat: %s\n", o[EG_STAT].value));
  } else if (count < 1) {
    return fail(fmt("Invalid statID %s\n", "0"));
  }
  if (const char *word = o[EG_O].value) {
    if (compareNoCase(word, "NORM") == 0) w->normalize = 1;
    else if (compareNoCase(word, "NONNORM") == 0) w->normalize = 0;
    else return fail(fmt("Undefined option: %s\n", word));
  }
  return 1;
}

int runEgv(EgvWork *w) {
  StatItem item;
  readStatItem(w->set, w->index, &item);
  FeatureSet *eigen =
      calcAllEV(w->pairs, w->set, w->normalize, w->index, w->tolerance, w->iterations);
  if (!eigen) return 0;
  unsigned char *extra = getFeatureExtra(eigen);
  std::string source = fmt("%s %s %d", w->in.c_str(), item.name.c_str(), w->index);
  memset(extra, 0, kEigenSourceSize);
  memcpy(extra, source.data(), std::min<size_t>(source.size(), kEigenSourceSize - 1));
  const int written = putFeature(w->out.c_str(), eigen);
  freeFeature(eigen);
  return written;
}

/* ---- statinfo ---- */

enum { SI_IN, SI_STAT, SI_INV, SI_INFO, SI_OPTION_COUNT };

const ModuleOption statinfoOptions[] = {
    {"-in", nullptr}, {"-stat", nullptr}, {"-inv", nullptr}, {"-info", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof statinfoOptions / sizeof statinfoOptions[0] == SI_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const statinfoUsage[] = {
    "where IN      name of the feature file\n",
    "      STAT    name of the feature\n",
    "      INV     flag of inverting: Y or N (def: N)\n",
    "      INFO    flag of stat info (MEAN|STD|COV|COR, ALL) (def: MEAN)\n",
};

/* One statistics item printed, its covariance first inverted when asked. */
void statinfoItem(FeatureSet *set, int index, bool invert, int flags) {
  if (invert) {
    double det = 0;
    if (invertStatCov(set, index, &det)) vesk_printf("Det: %13.7e\n", det);
    else vesk_printf("feature %d can not be inverted!\n", index);
  }
  printStatItem(set, index, flags);
}

struct StatinfoWork {
  FeatureSet *set = nullptr;
  int flags = 1;
  bool invert = false;
  int kind = 0;
  bool named = false;  /* -stat given */
  std::string stat;
  ~StatinfoWork() {
    if (set) freeFeature(set);
  }
};

int parseStatinfoOptions(StatinfoWork *w, int argc, const char **argv) {
  ModuleOption o[SI_OPTION_COUNT + 1];
  std::copy(std::begin(statinfoOptions), std::end(statinfoOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  int &flags = w->flags;
  bool &invert = w->invert;
  if (!o[SI_IN].value) {
    vesk_fprintf(stderr, "Statistical file name missing.\n");
    return 0;
  }
  w->set = getFeature(o[SI_IN].value, nullptr);
  if (!w->set) {
    vesk_fprintf(stderr, "Error in get features\n");
    return 0;
  }
  if (const char *text = o[SI_INFO].value) {
    flags = 0;
    std::string words(text);
    size_t at = 0;
    while (at <= words.size()) {
      size_t end = words.find_first_of("|,;:", at);
      std::string word = words.substr(at, end == std::string::npos ? std::string::npos : end - at);
      if (!word.empty()) {
        if (compareNoCase(word.c_str(), "MEAN") == 0) flags += 1;
        else if (compareNoCase(word.c_str(), "STD") == 0) flags += 2;
        else if (compareNoCase(word.c_str(), "COV") == 0) flags += 4;
        else if (compareNoCase(word.c_str(), "COR") == 0) flags += 8;
        else if (compareNoCase(word.c_str(), "ALL") == 0) flags = 15;
        else if (compareNoCase(word.c_str(), "DEF") == 0) flags = 1;
        else {
          vesk_fprintf(stderr, "Unknown option for -info\n");
          return 0;
        }
      }
      if (end == std::string::npos) break;
      at = end + 1;
    }
  }
  if (const char *word = o[SI_INV].value) {
    if (compareNoCase(word, "N") == 0) {
      invert = false;
    } else if (compareNoCase(word, "Y") == 0) {
      invert = true;
      flags = 15;
    }
  }
  w->kind = getFeatureInfo(w->set, 5);
  if (o[SI_STAT].value) {
    w->named = true;
    w->stat = o[SI_STAT].value;
  }
  return 1;
}

int runStatinfo(StatinfoWork *w) {
  FeatureSet *set = w->set;
  const int flags = w->flags;
  const bool invert = w->invert;
  int result = 1;
  switch (w->kind) {
  case FEATURE_STAT:
    printStatSource(set);
    printFeatureBands(set);
    if (w->named) {
      int index = findStatItem(set, w->stat.c_str());
      if (index < 0) {
        vesk_fprintf(stderr, "Can't find the stat: %s", w->stat.c_str());
        result = 0;
      } else {
        statinfoItem(set, index, invert, flags);
      }
    } else {
      for (int i = 0; i < getFeatureInfo(set, 1); i++) statinfoItem(set, i, invert, flags);
    }
    break;
  case FEATURE_EIGEN:
    printEigenInfo(set);
    printFeatureBands(set);
    printEigenVectors(set, flags != 0);
    break;
  case FEATURE_ISO:
    vesk_printf("ISO INFO - ");
    printIsoInfo(set);
    if (flags & 1) isoPrint(set, 0);
    if (flags & 2) isoPrint(set, 1);
    break;
  default:
    break;
  }
  return result;
}

}  // namespace

/* gstatModule -- "rimage gstat -in IN -out OUT -stat STAT ...". */
int gstatModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -mask MASK -stat STAT -sr SR -sc SC -r R -c C -b B "
                "-dx DX -dy DY -maskid MASKID\n",
                prog);
    for (const char *line : gstatUsage) vesk_printf("%s", line);
    return 2;
  }
  GstatWork work;
  if (!parseGstatOptions(&work, argc, argv)) return 0;
  return runGstat(&work);
}

/* egvModule -- "rimage egv -in IN -out OUT ...". */
int egvModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -stat STAT -id ID -negvs NEGVS -o OPT -iter ITER -err ERR\n",
                prog);
    for (const char *line : egvUsage) vesk_printf("%s", line);
    return 2;
  }
  EgvWork work;
  if (!parseEgvOptions(&work, argc, argv)) return 0;
  return runEgv(&work);
}

/* statinfoModule -- "rimage statinfo -in IN ...". */
int statinfoModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -stat STAT -inv INV -info INFO\n", prog);
    for (const char *line : statinfoUsage) vesk_printf("%s", line);
    return 2;
  }
  StatinfoWork work;
  if (!parseStatinfoOptions(&work, argc, argv)) return 0;
  return runStatinfo(&work);
}

}  // namespace vesk
