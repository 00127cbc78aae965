/*
 * featureobj.cpp --
 *     Feature objects: "stats.create", "eigen.create" and "iso.create"
 *     hold one feature set each (statistics, eigenvectors, cluster
 *     centres) behind an object command.  The framework's -file option
 *     loads a set, its shared subcommands save, clone and close it; the
 *     classes add subcommands that make empty sets, add statistics from
 *     image windows or script values, and report the set's contents.
 */
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "core/text.h"
#include "processing/features.h"
#include "raster/pixels.h"
#include "raster/sniffer.h"
#include "vesk/object.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

FeatureSet *setOf(RAMOBJ *object) { return static_cast<FeatureSet *>(object->payload); }

/* ---- class operations ---- */

int featureCount(RAMOBJ *object) { return object->payload ? getFeatureInfo(setOf(object), 1) : 0; }
int featureType(RAMOBJ *object) { return object->payload ? getFeatureInfo(setOf(object), 5) : 0; }

void *cloneFeature(void *payload, int) {
  const FeatureSet *set = static_cast<const FeatureSet *>(payload);
  const int total = getFeatureInfo(set, 0);
  void *copy = Tcl_AttemptAlloc(static_cast<unsigned>(total));
  if (copy) memcpy(copy, set, static_cast<size_t>(total));
  return copy;
}

int saveFeatureObject(RAMOBJ *object, const char *fileName, int) {
  return object->payload ? putFeature(fileName, setOf(object)) : 0;
}

void *loadFeature(const char *fileName, int *status, const char *tag, const char *message) {
  *status = 0;
  FeatureSet *set = getFeature(fileName, tag);
  if (!set) vesk_fprintf(stderr, "%s", message);
  return set;
}
void *loadStatsFeature(const char *fileName, int *status) {
  return loadFeature(fileName, status, kStatTag, "Error in get stats.\n");
}
void *loadEigenFeature(const char *fileName, int *status) {
  return loadFeature(fileName, status, kEigenTag, "Error in get eigen.\n");
}
void *loadIsoFeature(const char *fileName, int *status) {
  return loadFeature(fileName, status, kIsoTag, "Error in get iso features.\n");
}

void freeFeaturePayload(void *payload) { freeFeature(static_cast<FeatureSet *>(payload)); }
int featureModified(RAMOBJ *object) { return object->payload ? getFeatureModified(setOf(object)) : 0; }

/* ---- results ---- */

int featureError(Tcl_Interp *interp, const std::string &message) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, message.c_str(), (char *)nullptr);
  return TCL_ERROR;
}

/* Appends a text as one word: braced when it holds a blank or is empty. */
void appendTextWord(std::string *out, const std::string &text) {
  if (text.empty() || text.find(' ') != std::string::npos)
    *out += "{" + text + "}";
  else
    *out += text;
}

/* Words appended bare to an empty result, else as one more braced element. */
void appendWords(Tcl_Interp *interp, const std::string &words) {
  if (Tcl_GetStringResult(interp)[0] == '\0')
    Tcl_AppendResult(interp, words.c_str(), (char *)nullptr);
  else
    Tcl_AppendResult(interp, " {", words.c_str(), "}", (char *)nullptr);
}

std::string numbers(const std::vector<double> &values) {
  std::string out;
  for (size_t i = 0; i < values.size(); i++) out += fmt(i ? " %.6g" : "%.6g", values[i]);
  return out;
}

void appendBandList(Tcl_Interp *interp, const FeatureSet *set) {
  const int n = getFeatureInfo(set, 4);
  std::vector<double> bands;
  for (int i = 0; i < n; i++) bands.push_back(getFeatureBand(set, i) + 1);
  appendWords(interp, numbers(bands));
}

/* The source text and note of a statistics set's extra head. */
void appendStatSource(Tcl_Interp *interp, FeatureSet *set) {
  const unsigned char *extra = getFeatureExtra(set);
  if (!extra || getFeatureExtraSize(set) < kStatExtraSize) {
    Tcl_AppendElement(interp, "");
    return;
  }
  const char *p = reinterpret_cast<const char *>(extra);
  std::string source(p, strnlen(p, kStatSourceSize));
  std::string note(p + kStatSourceSize, strnlen(p + kStatSourceSize, kStatNoteSize));
  std::string words;
  appendTextWord(&words, source);
  words += " ";
  appendTextWord(&words, note);
  appendWords(interp, words);
}

/* ---- ISOFEATU items ---- */

struct IsoItem {
  int32_t count = 0, current = 0;
  float srmd2 = 0;
  std::vector<float> mean, dmean;
  std::vector<double> sum;
};

void readIsoItem(FeatureSet *set, int index, IsoItem *item) {
  const int n = getFeatureInfo(set, 4);
  const unsigned char *p = getFeatureItem(set, index);
  item->count = getI32(p, false);
  item->current = getI32(p + 4, false);
  item->srmd2 = getF32(p + 8, false);
  item->mean.resize(static_cast<size_t>(n));
  item->dmean.resize(static_cast<size_t>(n));
  item->sum.resize(static_cast<size_t>(n));
  for (int b = 0; b < n; b++) {
    item->mean[b] = getF32(p + 12 + 16 * b, false);
    item->dmean[b] = getF32(p + 16 + 16 * b, false);
    item->sum[b] = getF64(p + 20 + 16 * b, false);
  }
}

void writeIsoItem(FeatureSet *set, int index, const IsoItem &item) {
  const int n = getFeatureInfo(set, 4);
  unsigned char *p = getFeatureItem(set, index);
  putU32(p, static_cast<uint32_t>(item.count), false);
  putU32(p + 4, static_cast<uint32_t>(item.current), false);
  putF32(p + 8, item.srmd2, false);
  for (int b = 0; b < n; b++) {
    putF32(p + 12 + 16 * b, item.mean[b], false);
    putF32(p + 16 + 16 * b, item.dmean[b], false);
    putF64(p + 20 + 16 * b, item.sum[b], false);
  }
}

/*
 * updateIsoMean --
 *     Merges k samples of mean m into a class: the means weighted by the
 *     counts, DMEAN the move of the mean, SRMD2 its RMS over the bands.
 */
void updateIsoMean(FeatureSet *set, int index, const std::vector<double> &m, int n, int k) {
  IsoItem item;
  readIsoItem(set, index, &item);
  const int64_t N = static_cast<int64_t>(item.count) + k;
  const float w = N > 0 ? static_cast<float>(k) / static_cast<float>(N) : 1.0f;
  double squares = 0;
  for (int i = 0; i < n; i++) {
    const float old = item.mean[i];
    const float mean = w * static_cast<float>(m[i]) + (1 - w) * old;
    item.dmean[i] = mean - (old + item.dmean[i]);
    item.mean[i] = mean;
    squares += static_cast<double>(item.dmean[i]) * item.dmean[i];
  }
  item.count = static_cast<int32_t>(std::min<int64_t>(N, INT32_MAX));
  item.srmd2 = static_cast<float>(sqrt(squares / n));
  writeIsoItem(set, index, item);
}

void appendIsoClass(Tcl_Interp *interp, FeatureSet *set, int index, int which) {
  IsoItem item;
  readIsoItem(set, index, &item);
  std::vector<double> values;
  for (size_t b = 0; b < item.mean.size(); b++)
    values.push_back(which == 0 ? item.mean[b] : which == 1 ? item.dmean[b] : item.sum[b]);
  std::string text = "{" + numbers(values) + fmt("} %d %.6g", item.count, item.srmd2);
  appendWords(interp, text);
}

/* ---- shared parts of the instance commands ---- */

bool prefixOf(const char *word, const char *name, size_t minLength) {
  const size_t length = strlen(word);
  return length >= minLength && length <= strlen(name) && strncmp(word, name, length) == 0;
}

/* The optional index word of "[index]" subcommands. */
int readItemIndex(Tcl_Interp *interp, FeatureSet *set, int argc, const char **argv, int *index) {
  if (argc > 3) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], " [index]", (char *)nullptr);
    return TCL_ERROR;
  }
  long value = argc == 3 ? atol(argv[2]) : 0;
  if (value < 0 || value >= getFeatureInfo(set, 1)) return featureError(interp, "Invalid index");
  *index = static_cast<int>(value);
  return TCL_OK;
}

/* The band list of "init": 1-based words. Results: TCL_OK with bands, TCL_BREAK for an empty list. */
int readInitBands(Tcl_Interp *interp, const char *text, std::vector<int> *bands) {
  int count = 0;
  const char **words = nullptr;
  if (Tcl_SplitList(interp, text, &count, &words) != TCL_OK) return TCL_BREAK;
  int code = count == 0 ? TCL_BREAK : TCL_OK;
  for (int i = 0; i < count && code == TCL_OK; i++) {
    long b = atol(words[i]);
    if (b < 1 || b > INT32_MAX) code = featureError(interp, "Invalid band specification");
    else bands->push_back(static_cast<int>(b - 1));
  }
  Tcl_Free(reinterpret_cast<char *>(words));
  return code;
}

/* Replaces the payload with a new set. */
void replacePayload(RAMOBJ *object, FeatureSet *set) {
  freeFeature(setOf(object));
  object->payload = set;
}

/*
 * The window of an "addroi": the image by tag, bands the image has, and
 * a window inside it.
 * Results: TCL_OK with the image, TCL_BREAK for an empty window.
 */
int readRoi(Tcl_Interp *interp, FeatureSet *set, int argc, const char **argv, const char *bandText,
            RAMIMG **image, int window[4]) {
  RAMIMG *found = getRAMImageByTag(argv[3]);
  if (!found) return featureError(interp, std::string("Not found the tagged image:") + argv[3]);
  const int n = getFeatureInfo(set, 4);
  for (int i = 0; i < n; i++)
    if (getFeatureBand(set, i) < 0 || getFeatureBand(set, i) >= found->header.nbands)
      return featureError(interp, bandText);
  long x1 = atol(argv[4]), y1 = atol(argv[5]);
  long x2 = argc == 8 ? atol(argv[6]) : x1, y2 = argc == 8 ? atol(argv[7]) : y1;
  if (x2 < x1 || y2 < y1) return TCL_BREAK;
  /* Zeros from outside the image would be merged like pixels. */
  if (x1 < 0 || y1 < 0 || x2 >= found->header.columns || y2 >= found->header.rows)
    return featureError(interp, "Window outside the image");
  *image = found;
  window[0] = static_cast<int>(x1);
  window[1] = static_cast<int>(y1);
  window[2] = static_cast<int>(x2);
  window[3] = static_cast<int>(y2);
  return TCL_OK;
}

/* The set's bands as a list for the pixel reader. */
std::vector<int> setBands(const FeatureSet *set) {
  std::vector<int> bands(static_cast<size_t>(getFeatureInfo(set, 4)));
  for (size_t i = 0; i < bands.size(); i++) bands[i] = getFeatureBand(set, static_cast<int>(i));
  return bands;
}

/* A batch of pixels merged into a statistics item as its mean and covariance. */
void mergeStatBatch(FeatureSet *set, int index, const std::vector<double> &cross,
                    const std::vector<double> &sums, int64_t count) {
  const int n = getFeatureInfo(set, 4);
  const int batch = static_cast<int>(std::min<int64_t>(count, INT32_MAX));
  std::vector<double> moments(cross.size()), means(static_cast<size_t>(n));
  mergeStatSums(0, n, moments.data(), means.data(), cross.data(), sums.data(), batch);
  subtractMeanProduct(moments.data(), means.data(), n);
  mergeStatItem(set, index, moments.data(), means.data(), batch);
}

/*
 * The first steps of every instance command: usage without a word, the
 * framework's subcommands, the payload and "band".
 * Results: TCL_OK/TCL_ERROR when answered, else TCL_CONTINUE.
 */
int featureObjDefCommand(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  int code = objDefCommand(object, interp, argc, argv);
  if (code != OBJ_NOT_HANDLED) return code;
  if (!object->payload) return featureError(interp, "Undefined object");
  if (prefixOf(argv[1], "band", 3)) {
    Tcl_ResetResult(interp);
    appendBandList(interp, setOf(object));
    return TCL_OK;
  }
  return TCL_CONTINUE;
}

int featureUsage(Tcl_Interp *interp, const char *name, const char *list) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "Usage: ", name, list, (char *)nullptr);
  return TCL_ERROR;
}

/*
 * readInitWords --
 *     "init count bandList" of the stats and iso objects: the count (1 and
 *     up) and the bands, with readInitBands' codes.
 */
int readInitWords(Tcl_Interp *interp, int argc, const char **argv, const char *usage,
                  const char *countError, long *count, std::vector<int> *bands) {
  if (argc != 4) return featureUsage(interp, argv[0], usage);
  *count = atol(argv[2]);
  if (*count <= 0 || *count > INT32_MAX) return featureError(interp, countError);
  return readInitBands(interp, argv[3], bands);
}

/* ---- stats objects ---- */

int statsInit(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  long nstats = 0;
  std::vector<int> bands;
  int code = readInitWords(interp, argc, argv, " init nstats bandList", "Invalid stats number",
                           &nstats, &bands);
  if (code == TCL_BREAK) return TCL_OK;
  if (code != TCL_OK) return code;
  const int n = static_cast<int>(bands.size());
  std::vector<unsigned char> extra(kStatExtraSize, 0);
  memcpy(extra.data(), "stats.create", 12);
  memcpy(extra.data() + kStatSourceSize, "Created by VEsk", 15);
  FeatureSet *set = newFeature(kStatTag, bands.data(), n, statItemSize(n), static_cast<int>(nstats),
                               extra.data(), kStatExtraSize);
  if (!set) return featureError(interp, "Error in creating stats features");
  StatItem item;
  for (int i = 0; i < nstats; i++) {
    readStatItem(set, i, &item);
    item.sequence = i;
    writeStatItem(set, i, item);
  }
  replacePayload(object, set);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int statsAddRoi(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 6 && argc != 8)
    return featureUsage(interp, argv[0], " addroi addsample index rimage x1 y1 [x2 y2]");
  FeatureSet *set = setOf(object);
  const long index = atol(argv[2]);
  if (index < 0 || index >= getFeatureInfo(set, 1)) return featureError(interp, "Invalid index");
  RAMIMG *image = nullptr;
  int win[4];
  int code = readRoi(interp, set, argc, argv, "image band dese not match the object", &image, win);
  if (code == TCL_BREAK) {
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  if (code != TCL_OK) return code;
  const int n = getFeatureInfo(set, 4);
  const int columns = win[2] - win[0] + 1;
  std::vector<int> bands = setBands(set);
  std::vector<float> pixels(static_cast<size_t>(columns) * n);
  std::vector<double> sums(static_cast<size_t>(n)), cross(static_cast<size_t>(n) * (n + 1) / 2);
  for (int y = win[1]; y <= win[3]; y++) {
    getFloatBIPData(image, y, win[0], columns, 1, n, bands.data(), pixels.data());
    accumulateStatSums(cross.data(), sums.data(), n, pixels.data(), columns);
  }
  mergeStatBatch(set, static_cast<int>(index), cross, sums,
                 static_cast<int64_t>(columns) * (win[3] - win[1] + 1));
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int statsAddSample(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) return featureUsage(interp, argv[0], " merge index dataList");
  FeatureSet *set = setOf(object);
  const long index = atol(argv[2]);
  if (index < 0 || index >= getFeatureInfo(set, 1)) return featureError(interp, "Invalid index");
  const int n = getFeatureInfo(set, 4);
  int count = 0;
  const char **words = nullptr;
  if (Tcl_SplitList(interp, argv[3], &count, &words) != TCL_OK || count != n) {
    if (words) Tcl_Free(reinterpret_cast<char *>(words));
    return featureError(interp, "Error in parsing dataList");
  }
  std::vector<float> sample(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) sample[i] = static_cast<float>(atof(words[i]));
  Tcl_Free(reinterpret_cast<char *>(words));
  std::vector<double> sums(static_cast<size_t>(n)), cross(static_cast<size_t>(n) * (n + 1) / 2);
  accumulateStatSums(cross.data(), sums.data(), n, sample.data(), 1);
  mergeStatBatch(set, static_cast<int>(index), cross, sums, 1);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* An item's covariance, or its correlations, as n x n values row by row. */
std::vector<double> statItemMatrix(const StatItem &item, int n, bool correlation) {
  std::vector<double> values;
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < n; j++) {
      double v = item.cov[packedIndex(i, j)];
      if (correlation) v = v / sqrt(item.cov[packedIndex(j, j)]) / sqrt(item.cov[packedIndex(i, i)]);
      values.push_back(v);
    }
  }
  return values;
}

void appendCovMatrix(Tcl_Interp *interp, const StatItem &item, int n, bool correlation) {
  appendWords(interp, numbers(statItemMatrix(item, n, correlation)));
}

/* Sequence number, sample count, name and note of an item. */
void appendStatItemInfo(Tcl_Interp *interp, const StatItem &item) {
  std::string words = fmt("%d %d ", item.sequence, item.count);
  appendTextWord(&words, item.name);
  words += " ";
  appendTextWord(&words, item.note);
  appendWords(interp, words);
}

void appendStatMeans(Tcl_Interp *interp, const StatItem &item) {
  std::vector<float> means(item.mean.begin(), item.mean.end());
  appendFloatList(interp, means.data(), static_cast<int>(means.size()));
}

/* The covariance's diagonal: the variances. */
void appendStatStd(Tcl_Interp *interp, const StatItem &item, int n) {
  std::vector<double> variances;
  for (int i = 0; i < n; i++) variances.push_back(item.cov[packedIndex(i, i)]);
  appendWords(interp, numbers(variances));
}

int statsMatrix(FeatureSet *set, Tcl_Interp *interp, int argc, const char **argv, bool correlation) {
  int index = 0;
  if (readItemIndex(interp, set, argc, argv, &index) != TCL_OK) return TCL_ERROR;
  StatItem item;
  readStatItem(set, index, &item);
  Tcl_ResetResult(interp);
  appendCovMatrix(interp, item, getFeatureInfo(set, 4), correlation);
  return TCL_OK;
}

int statsInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  if (argc < 2)
    return featureUsage(interp, argv[0],
                        " [addroi band config cget class clone close count correlation covarance "
                        "info init iteminfo mean merge save stdev version]");
  if (strcmp(argv[1], "init") == 0) return statsInit(object, interp, argc, argv);
  int code = featureObjDefCommand(object, interp, argc, argv);
  if (code != TCL_CONTINUE) return code;
  FeatureSet *set = setOf(object);
  const char *word = argv[1];
  int index = 0;
  switch (word[0]) {
  case 'a':
    if (strcmp(word, "addroi") == 0) return statsAddRoi(object, interp, argc, argv);
    if (prefixOf(word, "addsample", 4)) return statsAddSample(object, interp, argc, argv);
    break;
  case 'c':
    if (prefixOf(word, "covarance", 3)) return statsMatrix(set, interp, argc, argv, false);
    if (prefixOf(word, "correlation", 3)) return statsMatrix(set, interp, argc, argv, true);
    break;
  case 'i':
    if (prefixOf(word, "info", 3)) {
      Tcl_ResetResult(interp);
      appendStatSource(interp, set);
      return TCL_OK;
    }
    if (prefixOf(word, "iteminfo", 3)) {
      if (readItemIndex(interp, set, argc, argv, &index) != TCL_OK) return TCL_ERROR;
      StatItem item;
      readStatItem(set, index, &item);
      Tcl_ResetResult(interp);
      appendStatItemInfo(interp, item);
      return TCL_OK;
    }
    break;
  case 'm':
    if (prefixOf(word, "mean", 3)) {
      if (readItemIndex(interp, set, argc, argv, &index) != TCL_OK) return TCL_ERROR;
      StatItem item;
      readStatItem(set, index, &item);
      Tcl_ResetResult(interp);
      appendStatMeans(interp, item);
      return TCL_OK;
    }
    break;
  case 's':
    if (prefixOf(word, "stdev", 3)) {
      if (readItemIndex(interp, set, argc, argv, &index) != TCL_OK) return TCL_ERROR;
      StatItem item;
      readStatItem(set, index, &item);
      Tcl_ResetResult(interp);
      appendStatStd(interp, item, static_cast<int>(item.mean.size()));
      return TCL_OK;
    }
    break;
  default:
    break;
  }
  return featureError(interp, "Unknown command");
}

/* ---- eigen objects ---- */

/* Source, normalization, variances and means of the set's extra head. */
void appendEigenInfo(Tcl_Interp *interp, FeatureSet *set) {
  EigenExtra extra;
  if (!getEigenExtra(set, &extra)) {
    Tcl_AppendElement(interp, "");
    return;
  }
  std::string words;
  appendTextWord(&words, extra.source);
  appendWords(interp, words + " " + (extra.normalized ? "Normalized {" : "Unnormalized {") +
                          numbers(extra.variance) + "} {" + numbers(extra.mean) + "}");
}

void appendEigenValues(Tcl_Interp *interp, const std::vector<EigenItem> &items) {
  std::vector<double> values;
  for (const EigenItem &e : items) values.push_back(e.value);
  appendWords(interp, numbers(values));
}

void appendEigenPct(Tcl_Interp *interp, const std::vector<EigenItem> &items) {
  std::vector<double> values;
  for (const EigenItem &e : items) values.push_back(e.percent);
  appendWords(interp, numbers(values));
}

/* The running sum of the percents, kept in single precision. */
void appendEigenAccumPct(Tcl_Interp *interp, const std::vector<EigenItem> &items) {
  std::vector<double> values;
  float running = 0;
  for (const EigenItem &e : items) values.push_back(running += e.percent);
  appendWords(interp, numbers(values));
}

void appendEigenVector(Tcl_Interp *interp, const EigenItem &item) {
  std::vector<float> v(item.vector.begin(), item.vector.end());
  appendFloatList(interp, v.data(), static_cast<int>(v.size()));
}

int eigenInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  if (argc < 2)
    return featureUsage(interp, argv[0],
                        " [accumpct band config cget class clone close count info pct save value "
                        "vector version]");
  int code = featureObjDefCommand(object, interp, argc, argv);
  if (code != TCL_CONTINUE) return code;
  FeatureSet *set = setOf(object);
  const char *word = argv[1];
  const int count = getFeatureInfo(set, 1);
  std::vector<EigenItem> items(static_cast<size_t>(count));
  for (int i = 0; i < count; i++) getEigenItem(set, i, &items[i]);
  if (prefixOf(word, "accumpct", 3)) {
    Tcl_ResetResult(interp);
    appendEigenAccumPct(interp, items);
  } else if (prefixOf(word, "info", 3)) {
    Tcl_ResetResult(interp);
    appendEigenInfo(interp, set);
  } else if (prefixOf(word, "pct", 3)) {
    Tcl_ResetResult(interp);
    appendEigenPct(interp, items);
  } else if (prefixOf(word, "value", 3)) {
    Tcl_ResetResult(interp);
    appendEigenValues(interp, items);
  } else if (prefixOf(word, "vector", 3)) {
    int index = 0;
    if (readItemIndex(interp, set, argc, argv, &index) != TCL_OK) return TCL_ERROR;
    Tcl_ResetResult(interp);
    appendEigenVector(interp, items[index]);
  } else {
    return featureError(interp, "Unknown command");
  }
  return TCL_OK;
}

/* ---- iso objects ---- */

int isoInitCmd(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  long classes = 0;
  std::vector<int> bands;
  int code = readInitWords(interp, argc, argv, " init nclasses bandList", "Invalid class number",
                           &classes, &bands);
  if (code == TCL_BREAK) return TCL_OK;
  if (code != TCL_OK) return code;
  const int n = static_cast<int>(bands.size());
  std::vector<unsigned char> extra(kIsoExtraSize, 0);
  FeatureSet *set = newFeature(kIsoTag, bands.data(), n, 16 * n + 12, static_cast<int>(classes),
                               extra.data(), kIsoExtraSize);
  if (!set) return featureError(interp, "Error in creating ISO features");
  replacePayload(object, set);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int isoAddRoi(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 6 && argc != 8) return featureUsage(interp, argv[0], " addroi index rimage x1 y1 [x2 y2]");
  FeatureSet *set = setOf(object);
  const long index = atol(argv[2]);
  if (index < 0 || index >= getFeatureInfo(set, 1)) return featureError(interp, "Invalid index");
  RAMIMG *image = nullptr;
  int win[4];
  int code = readRoi(interp, set, argc, argv, "image band dose not match the object", &image, win);
  if (code == TCL_BREAK) {
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  if (code != TCL_OK) return code;
  const int n = getFeatureInfo(set, 4);
  const int columns = win[2] - win[0] + 1;
  std::vector<int> bands = setBands(set);
  std::vector<float> pixels(static_cast<size_t>(columns) * n);
  std::vector<double> mean(static_cast<size_t>(n));
  for (int y = win[1]; y <= win[3]; y++) {
    getFloatBIPData(image, y, win[0], columns, 1, n, bands.data(), pixels.data());
    std::fill(mean.begin(), mean.end(), 0.0);
    for (int j = 0; j < columns; j++)
      for (int b = 0; b < n; b++) mean[b] += pixels[static_cast<size_t>(j) * n + b];
    for (double &m : mean) m /= columns;
    updateIsoMean(set, static_cast<int>(index), mean, n, columns);
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int isoMerge(FeatureSet *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 5) return featureUsage(interp, argv[0], " merge index nsamples meanList");
  const long index = atol(argv[2]);
  if (index < 0 || index >= getFeatureInfo(set, 1)) return featureError(interp, "Invalid index");
  const int n = getFeatureInfo(set, 4);
  int count = 0;
  const char **words = nullptr;
  if (Tcl_SplitList(interp, argv[4], &count, &words) != TCL_OK || count != n) {
    if (words) Tcl_Free(reinterpret_cast<char *>(words));
    return featureError(interp, "Error in parsing meanList");
  }
  std::vector<double> mean(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) mean[i] = atof(words[i]);
  Tcl_Free(reinterpret_cast<char *>(words));
  const long samples = atol(argv[3]);
  updateIsoMean(set, static_cast<int>(index), mean, n,
                static_cast<int>(std::clamp<long>(samples, INT32_MIN, INT32_MAX)));
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* Source, class count, total samples, RMS and DIS of the set's extra head. */
void appendIsoInfo(Tcl_Interp *interp, FeatureSet *set) {
  if (getFeatureExtraSize(set) < kIsoExtraSize) {
    Tcl_AppendElement(interp, "");
    return;
  }
  const unsigned char *x = getFeatureExtra(set);
  const char *text = reinterpret_cast<const char *>(x + 24);
  std::string words;
  appendTextWord(&words, std::string(text, strnlen(text, kIsoSourceSize)));
  appendWords(interp, words + fmt(" %d %d %.6g %.6g", getI32(x + 20, false),
                                  getI32(x + 16, false), getF64(x, false), getF64(x + 8, false)));
}

int isoInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  if (argc < 2)
    return featureUsage(interp, argv[0],
                        " [addroi band config cget class clone close count dmean info init mean "
                        "merge save sum version]");
  if (strcmp(argv[1], "init") == 0) return isoInitCmd(object, interp, argc, argv);
  int code = featureObjDefCommand(object, interp, argc, argv);
  if (code != TCL_CONTINUE) return code;
  FeatureSet *set = setOf(object);
  const char *word = argv[1];
  int index = 0;
  int which = -1;
  if (prefixOf(word, "addroi", 4)) return isoAddRoi(object, interp, argc, argv);
  if (prefixOf(word, "info", 3)) {
    Tcl_ResetResult(interp);
    appendIsoInfo(interp, set);
    return TCL_OK;
  }
  if (prefixOf(word, "mean", 3)) which = 0;
  else if (prefixOf(word, "merge", 3)) return isoMerge(set, interp, argc, argv);
  else if (prefixOf(word, "dmean", 3)) which = 1;
  else if (prefixOf(word, "sum", 3)) which = 2;
  if (which < 0) return featureError(interp, "Unknown command");
  if (readItemIndex(interp, set, argc, argv, &index) != TCL_OK) return TCL_ERROR;
  Tcl_ResetResult(interp);
  appendIsoClass(interp, set, index, which);
  return TCL_OK;
}

/* ---- creation ---- */

RAMOBJ *newFeatureObject(int classId) {
  RAMOBJ *object = newObjectRecord(classId);
  if (!object) return nullptr;
  object->ops.count = featureCount;
  object->ops.type = featureType;
  object->ops.clonePayload = cloneFeature;
  object->ops.save = saveFeatureObject;
  object->ops.freePayload = freeFeaturePayload;
  object->ops.modified = featureModified;
  switch (classId) {
  case OBJ_STATS:
    object->ops.createPayload = loadStatsFeature;
    object->ops.command = statsInstanceCmd;
    break;
  case OBJ_EV:
    object->ops.createPayload = loadEigenFeature;
    object->ops.command = eigenInstanceCmd;
    break;
  default:
    object->ops.createPayload = loadIsoFeature;
    object->ops.command = isoInstanceCmd;
    break;
  }
  return object;
}

/*
 * createFeatureObject --
 *     "<class>.create id ?option value ...?": an object of the class
 *     behind the command id, configured with -file and -update.
 * Results: the id; on failure no command is left behind.
 */
int createFeatureObject(Tcl_Interp *interp, int argc, const char **argv, int classId) {
  if (argc < 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, argv[0], " id options", (char *)nullptr);
    return TCL_ERROR;
  }
  RAMOBJ *object = newFeatureObject(classId);
  if (!object) return featureError(interp, "Error in creating object");
  return createObjectCommand(interp, object, argv[1], argc - 2, argv + 2, "Error in creating object");
}

int statsCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return createFeatureObject(interp, argc, argv, OBJ_STATS);
}
int eigenCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return createFeatureObject(interp, argc, argv, OBJ_EV);
}
int isoCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return createFeatureObject(interp, argc, argv, OBJ_ISO);
}

}  // namespace

/* Stats_Init -- "stats.create", "eigen.create" and "iso.create". */
int Stats_Init(Tcl_Interp *interp) {
  bool created = Tcl_CreateCommand(interp, "stats.create", statsCreateCmd, nullptr, nullptr) &&
                 Tcl_CreateCommand(interp, "eigen.create", eigenCreateCmd, nullptr, nullptr) &&
                 Tcl_CreateCommand(interp, "iso.create", isoCreateCmd, nullptr, nullptr);
  return created ? TCL_OK : TCL_ERROR;
}

/*
 * appendStatItem --
 *     Appends what flag bits choose of a statistics item to the result,
 *     in this order: 1 the means, 2 the variances (the covariance's
 *     diagonal), 4 the covariance and 8 the correlations (n x n values
 *     row by row each), each part a bare list when the result was empty,
 *     else one more braced element, as the stats object's subcommands
 *     give them.
 * Results:      the number of parts appended; 0 for an index out of the
 *     set, a set of another kind or no flag.
 */
int appendStatItem(Tcl_Interp *interp, FeatureSet *set, int index, int flags) {
  if (!interp || !set || getFeatureInfo(set, 5) != 1 || index < 0 ||
      index >= getFeatureInfo(set, 1))
    return 0;
  StatItem item;
  readStatItem(set, index, &item);
  const int n = getFeatureInfo(set, 4);
  int parts = 0;
  if (flags & 1) {
    appendStatMeans(interp, item);
    parts++;
  }
  if (flags & 2) {
    appendStatStd(interp, item, n);
    parts++;
  }
  if (flags & 4) {
    appendCovMatrix(interp, item, n, false);
    parts++;
  }
  if (flags & 8) {
    appendCovMatrix(interp, item, n, true);
    parts++;
  }
  return parts;
}

}  // namespace vesk
