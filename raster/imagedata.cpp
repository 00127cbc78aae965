/*
 * imagedata.cpp --
 *     Image-data scripts: the word scanners, the head parser of both
 *     forms, the value stream with its repeat rule, and the writers that
 *     put the values into a RAM image.
 */
#include "raster/imagedata.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <vector>

#include "raster/pixels.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

inline bool isScriptBlank(char ch) { return ch == ' ' || ch == '\n'; }

const char *const rangeOrderNames[] = {"BSQH", "BSQV", "BILH", "BILV", "BIPH", "BIPV"};
const char *const blockOrderNames[] = {"BSQ", "BIL", "BIP"};

/* The word under the cursor as a string, the cursor moved past it. */
std::string takeWord(ScriptCursor *cursor) {
  const size_t length = nextScriptWord(cursor);
  std::string word(cursor->at, length);
  cursor->at += length;
  return word;
}

bool wordToFloat(const std::string &word, float *value) {
  if (word.empty()) return false;
  char *end = nullptr;
  const float v = strtof(word.c_str(), &end);
  if (*end != '\0') return false;
  *value = v;
  return true;
}

bool wordToInt(const std::string &word, int *value) {
  if (word.empty()) return false;
  char *end = nullptr;
  errno = 0;
  const long v = strtol(word.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

/* a x b, saturated at INT64_MAX (both non-negative). */
int64_t saturatedProduct(int64_t a, int64_t b) {
  if (a == 0 || b == 0) return 0;
  return a > INT64_MAX / b ? INT64_MAX : a * b;
}

/*
 * The values of a script in order.  Once the text is used up every further
 * value repeats the last one read (0 when none was), so skipping past the
 * end costs nothing and no value array is ever needed.
 */
class ValueStream {
 public:
  ValueStream(const char *text, size_t length, size_t start, int nindices)
      : cursor_{text + std::min(start, length), text + length}, nindices_(nindices) {}

  float next() {
    if (!exhausted_) {
      float v = 0;
      if (scanScriptFloat(&cursor_, &v) == 0) {
        exhausted_ = true;
      } else {
        last_ = clamp(v);
      }
    }
    return last_;
  }

  void read(float *out, int64_t n) {
    for (int64_t i = 0; i < n; i++) out[i] = next();
  }

  void skip(int64_t n) {
    for (int64_t i = 0; i < n && !exhausted_; i++) next();
  }

 private:
  float clamp(float v) const {
    if (nindices_ <= 0) return v;
    // Above the last entry (15.5 of 16 entries would round to 16): the last entry.
    if (v > static_cast<float>(nindices_ - 1)) return static_cast<float>(nindices_ - 1);
    if (!(v >= 0)) return 0;  // negatives, and NaN, which names no entry
    return v;
  }

  ScriptCursor cursor_;
  int nindices_;
  float last_ = 0;
  bool exhausted_ = false;
};

/* One axis of a range script: from first to last inclusive, either way. */
struct Axis {
  int first, last;
  int step() const { return last >= first ? 1 : -1; }
  int count() const { return (last >= first ? last - first : first - last) + 1; }
};

/* Reads the numbers of a head in turn, each checked against its range. */
bool readHeadNumbers(ScriptCursor *cursor, const char *const *names, int count,
                     const int *low, const int *high, int *out, std::string *error) {
  for (int i = 0; i < count; i++) {
    int v = 0;
    if (!wordToInt(takeWord(cursor), &v) || v < low[i] || v > high[i]) {
      *error = std::string("Error in parsing ") + names[i] + "\n";
      return false;
    }
    out[i] = v;
  }
  return true;
}

}  // namespace

/* nextScriptWord -- skips blanks and newlines; the length of the word now under the cursor. */
size_t nextScriptWord(ScriptCursor *cursor) {
  while (cursor->at < cursor->end && isScriptBlank(*cursor->at)) cursor->at++;
  const char *p = cursor->at;
  while (p < cursor->end && !isScriptBlank(*p) && *p != '\0') p++;
  return static_cast<size_t>(p - cursor->at);
}

/* scanScriptFloat -- the next word as a number; its length, 0 at the end (or not a number). */
size_t scanScriptFloat(ScriptCursor *cursor, float *value) {
  const size_t length = nextScriptWord(cursor);
  if (length == 0) return 0;
  const std::string word(cursor->at, length);
  cursor->at += length;
  return wordToFloat(word, value) ? length : 0;
}

/* scanScriptInt -- the next word as a decimal integer; as scanScriptFloat. */
size_t scanScriptInt(ScriptCursor *cursor, int *value) {
  const size_t length = nextScriptWord(cursor);
  if (length == 0) return 0;
  const std::string word(cursor->at, length);
  cursor->at += length;
  return wordToInt(word, value) ? length : 0;
}

/*
 * planImageData --
 *     Reads and checks the head of a script of either form, then checks
 *     that every value word is a number.
 * Results:      true with the plan filled; false with the message.
 */
bool planImageData(const char *text, size_t length, const ImageDataShape &shape,
                   ImageDataPlan *plan, std::string *error) {
  *plan = ImageDataPlan();
  const size_t textLength = strnlen(text, length);
  ScriptCursor cursor{text, text + textLength};
  plan->block = textLength > 3 && text[3] == ' ';
  const std::string order = takeWord(&cursor);
  if (plan->block) {
    if (order.size() != 3) {
      *error = "Error in parsing imgid\n";
      return false;
    }
    const auto *name = std::find_if(std::begin(blockOrderNames), std::end(blockOrderNames),
                                    [&](const char *n) { return order == n; });
    if (name == std::end(blockOrderNames)) {
      *error = "imgid must be BSQ or BIL or BIP\n";
      return false;
    }
    plan->order = DATA_BSQ + static_cast<int>(name - std::begin(blockOrderNames));
    static const char *const names[] = {"startBand", "nbands", "x", "y", "width", "height"};
    const int low[] = {1, 1, 0, 0, 1, 1};
    const int high[] = {shape.nbands, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX};
    int n[6];
    if (!readHeadNumbers(&cursor, names, 6, low, high, n, error)) return false;
    plan->startBand = n[0] - 1;
    plan->nbands = n[1];
    plan->x = n[2];
    plan->y = n[3];
    plan->width = n[4];
    plan->height = n[5];
  } else {
    if (order.size() != 4) {
      *error = "Error in parsing imgid\n";
      return false;
    }
    const auto *name = std::find_if(std::begin(rangeOrderNames), std::end(rangeOrderNames),
                                    [&](const char *n) { return order == n; });
    if (name == std::end(rangeOrderNames)) {
      *error = "imgid must be BSQH or BILH or BIPH or BSQV or BILV or BIPV\n";
      return false;
    }
    plan->order = static_cast<int>(name - std::begin(rangeOrderNames));
    static const char *const names[] = {"b0", "b1", "x0", "x1", "y0", "y1"};
    const int low[] = {1, 1, 0, 0, 0, 0};
    const int high[] = {shape.nbands, shape.nbands, shape.columns - 1,
                        shape.columns - 1, shape.rows - 1, shape.rows - 1};
    int n[6];
    if (!readHeadNumbers(&cursor, names, 6, low, high, n, error)) return false;
    plan->b0 = n[0] - 1;
    plan->b1 = n[1] - 1;
    plan->x0 = n[2];
    plan->x1 = n[3];
    plan->y0 = n[4];
    plan->y1 = n[5];
  }
  plan->values = static_cast<size_t>(cursor.at - text);
  for (;;) {
    const std::string word = takeWord(&cursor);
    if (word.empty()) break;
    float v;
    if (!wordToFloat(word, &v)) {
      *error = "Error in parsing value: " + word.substr(0, 64) + "\n";
      return false;
    }
  }
  return true;
}

/*
 * walkImageData --
 *     Hands the values of a planned script to the sink in script order.
 *     Only what can fall inside the shape is visited, so the work is
 *     bounded by the image and the text, whatever sizes the script names.
 */
void walkImageData(const char *text, size_t length, const ImageDataShape &shape,
                   const ImageDataPlan &plan, ImageDataSink *sink) {
  ValueStream values(text, strnlen(text, length), plan.values, shape.nindices);
  if (!plan.block) {
    const Axis band{plan.b0, plan.b1}, column{plan.x0, plan.x1}, row{plan.y0, plan.y1};
    /* outer, middle, inner axes and which is which: 0 band, 1 column, 2 row */
    static const int axes[6][3] = {{0, 2, 1}, {0, 1, 2}, {2, 0, 1},
                                   {1, 0, 2}, {2, 1, 0}, {1, 2, 0}};
    const Axis all[3] = {band, column, row};
    const int *ax = axes[plan.order];
    const Axis &a = all[ax[0]], &b = all[ax[1]], &c = all[ax[2]];
    int at[3];
    for (int i = 0, u = a.first; i < a.count(); i++, u += a.step()) {
      at[ax[0]] = u;
      for (int j = 0, v = b.first; j < b.count(); j++, v += b.step()) {
        at[ax[1]] = v;
        for (int k = 0, w = c.first; k < c.count(); k++, w += c.step()) {
          at[ax[2]] = w;
          sink->pixel(at[1], at[2], at[0], values.next());
        }
      }
    }
    return;
  }

  const int64_t width = plan.width, height = plan.height, nbands = plan.nbands;
  const int64_t bandsIn = std::min<int64_t>(nbands, shape.nbands - plan.startBand);
  const int64_t columnsIn = plan.x < shape.columns ? std::min<int64_t>(width, shape.columns - plan.x) : 0;
  const int64_t rowsIn = plan.y < shape.rows ? std::min<int64_t>(height, shape.rows - plan.y) : 0;
  if (bandsIn <= 0 || columnsIn <= 0 || rowsIn <= 0) return;
  std::vector<float> row(static_cast<size_t>(columnsIn * (plan.order == DATA_BIP ? bandsIn : 1)));
  switch (plan.order) {
  case DATA_BSQ:
    for (int64_t b = 0; b < bandsIn; b++) {
      for (int64_t r = 0; r < rowsIn; r++) {
        values.read(row.data(), columnsIn);
        sink->segment(static_cast<int>(plan.y + r), plan.x, static_cast<int>(columnsIn),
                      static_cast<int>(plan.startBand + b), row.data());
        values.skip(width - columnsIn);
      }
      values.skip(saturatedProduct(height - rowsIn, width));
    }
    break;
  case DATA_BIL:
    for (int64_t r = 0; r < rowsIn; r++) {
      for (int64_t b = 0; b < bandsIn; b++) {
        values.read(row.data(), columnsIn);
        sink->segment(static_cast<int>(plan.y + r), plan.x, static_cast<int>(columnsIn),
                      static_cast<int>(plan.startBand + b), row.data());
        values.skip(width - columnsIn);
      }
      values.skip(saturatedProduct(nbands - bandsIn, width));
    }
    break;
  default: /* DATA_BIP: pixel groups of nbands values, the first for startBand */
    for (int64_t r = 0; r < rowsIn; r++) {
      for (int64_t c = 0; c < columnsIn; c++) {
        for (int64_t b = 0; b < bandsIn; b++) row[static_cast<size_t>(b * columnsIn + c)] = values.next();
        values.skip(nbands - bandsIn);
      }
      for (int64_t b = 0; b < bandsIn; b++)
        sink->segment(static_cast<int>(plan.y + r), plan.x, static_cast<int>(columnsIn),
                      static_cast<int>(plan.startBand + b), row.data() + b * columnsIn);
      values.skip(saturatedProduct(width - columnsIn, nbands));
    }
    break;
  }
}

namespace {

/* Writes walked values into a RAM image. */
struct ImageWriterSink final : ImageDataSink {
  RAMIMG *image;
  explicit ImageWriterSink(RAMIMG *target) : image(target) {}
  void pixel(int column, int row, int band, float value) override {
    putPixelVector(image, column, row, 1, &band, &value);
  }
  void segment(int row, int column, int count, int band, const float *values) override {
    putFloatBILData(image, row, column, count, band, values);
  }
};

ImageDataShape imageShape(const RAMIMG *image) {
  ImageDataShape shape;
  shape.rows = image->header.rows;
  shape.columns = image->header.columns;
  shape.nbands = image->header.nbands;
  shape.nindices = image->header.nindices;
  return shape;
}

int applyScript(RAMIMG *image, const char *text) {
  const size_t length = strlen(text);
  const ImageDataShape shape = imageShape(image);
  ImageDataPlan plan;
  std::string error;
  if (!planImageData(text, length, shape, &plan, &error)) {
    vesk_fprintf(stderr, "%s", error.c_str());
    return 0;
  }
  ImageWriterSink sink(image);
  walkImageData(text, length, shape, plan, &sink);
  return 1;
}

}  // namespace

/*
 * parseASCIIData --
 *     Applies a script of either form (a blank as the fourth character
 *     means the block form).
 * Results:      1 when the values were written; 0 after a message on
 *               stderr, with nothing written.
 */
int parseASCIIData(RAMIMG *image, const char *text) {
  if (!image || !text) return 0;
  return applyScript(image, text);
}

/* parseASCIIBlock -- as parseASCIIData, for a block-form text. */
int parseASCIIBlock(RAMIMG *image, const char *text) {
  if (!image || !text) return 0;
  if (strlen(text) <= 3 || text[3] != ' ') {
    vesk_fprintf(stderr, "Error in parsing imgid\n");
    return 0;
  }
  return applyScript(image, text);
}

}  // namespace vesk
