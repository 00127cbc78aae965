/*
 * bindparse.cpp --
 *     The text parsers of bound images: index ranges and "@" data ranges
 *     (also read by "rimage open"), regions of interest and band maps.
 *     Numbers are decimal; a word with anything after its numbers is
 *     refused rather than half read.
 */
#include "processing/bindparse.h"

#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace vesk {
namespace {

/*
 * readBindNumber --
 *     Reads a decimal int at *cursor (leading blanks allowed).
 * Results: true and the cursor past the number; false when there is none
 *     or it does not fit an int.
 */
bool readBindNumber(const char **cursor, int *value) {
  const char *start = *cursor;
  while (*start == ' ' || *start == '\t') start++;
  if (!((*start >= '0' && *start <= '9') ||
        ((*start == '-' || *start == '+') && start[1] >= '0' && start[1] <= '9')))
    return false;
  char *end = nullptr;
  errno = 0;
  long n = strtol(start, &end, 10);
  if (errno == ERANGE || n < INT_MIN || n > INT_MAX) return false;
  *value = static_cast<int>(n);
  *cursor = end;
  return true;
}

bool isBindBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

/* True when only blanks are left. */
bool atBindEnd(const char *cursor) {
  while (isBindBlank(*cursor)) cursor++;
  return *cursor == 0;
}

/* Reads "n:n" (two numbers) or "n" (one) from a whole word: the count read, 0 on error. */
int readIndexPair(const std::string &item, int *a, int *b) {
  const char *p = item.c_str();
  if (!readBindNumber(&p, a)) return 0;
  if (atBindEnd(p)) return 1;
  if (*p != ':') return 0;
  p++;
  if (!readBindNumber(&p, b) || !atBindEnd(p)) return 0;
  return 2;
}

}  // namespace

/*
 * parseIndexRange --
 *     Reads one item of a data range, up to the next comma: empty, "*" or
 *     ":" is the whole range 0 .. len - 1; "n" selects n alone; "n:m" is
 *     kept as written (n may be above m).
 * Results: the characters consumed, the comma included; -1 for an item
 *     that is not a range or lies outside 0 .. len - 1.
 */
int parseIndexRange(const char *text, int len, int *first, int *last) {
  const char *comma = strchr(text, ',');
  const size_t length = comma ? static_cast<size_t>(comma - text) : strlen(text);
  std::string item(text, length);
  size_t b = item.find_first_not_of(" \t");
  std::string trimmed = b == std::string::npos ? "" : item.substr(b);
  while (!trimmed.empty() && isBindBlank(trimmed.back())) trimmed.pop_back();

  if (trimmed.empty() || trimmed == "*" || trimmed == ":") {
    if (len < 1) return -1;
    *first = 0;
    *last = len - 1;
  } else {
    int a = 0, z = 0;
    const int n = readIndexPair(trimmed, &a, &z);
    if (n == 0) return -1;
    if (n == 1) z = a;
    if (a < 0 || a >= len || z < 0 || z >= len) return -1;
    *first = a;
    *last = z;
  }
  return static_cast<int>(length) + (comma ? 1 : 0);
}

/*
 * parseDataRange --
 *     Reads "@cols,rows,bands", each part an index range, into range[0..1]
 *     (columns), range[2..3] (rows) and range[4..5] (bands).
 * Results: 1, or 0 for a text without the at-sign, a bad part, or
 *     anything after the third part.
 */
int parseDataRange(const char *text, int columns, int rows, int bands, int range[6]) {
  if (!text || text[0] != '@') return 0;
  const char *p = text + 1;
  const int sizes[3] = {columns, rows, bands};
  int out[6];
  for (int i = 0; i < 3; i++) {
    int n = parseIndexRange(p, sizes[i], &out[2 * i], &out[2 * i + 1]);
    if (n < 0) return 0;
    p += n;
  }
  if (!atBindEnd(p)) return 0;
  memcpy(range, out, sizeof out);
  return 1;
}

/*
 * parseRoi --
 *     Reads "desx desy srcx srcy width height".  The region must lie on
 *     an image of columns x rows; the source corner only must not be
 *     negative.
 * Results: 1 with the six values stored; 0 and nothing stored otherwise.
 */
int parseRoi(const char *text, int columns, int rows, int *desx, int *desy, int *srcx,
             int *srcy, int *width, int *height) {
  if (!text) return 0;
  int v[6];
  const char *p = text;
  for (int &n : v)
    if (!readBindNumber(&p, &n)) return 0;
  if (!atBindEnd(p)) return 0;
  const int64_t dx = v[0], dy = v[1], sx = v[2], sy = v[3], w = v[4], h = v[5];
  if (dx < 0 || dy < 0 || w < 1 || h < 1 || dx + w > columns || dy + h > rows || sx < 0 ||
      sy < 0)
    return 0;
  *desx = v[0];
  *desy = v[1];
  *srcx = v[2];
  *srcy = v[3];
  *width = v[4];
  *height = v[5];
  return 1;
}

/*
 * parseBandMap --
 *     Reads blank-separated words "t:s" and "t0-t1:s0-s1" pairing
 *     destination band t (1 .. count) with source band s (from 1).  A
 *     range walks both sides together, up or down, and both sides must
 *     have the same length.
 * Results: the number of pairs, stored in order into destBands and
 *     srcBands (room for count each) with the largest source in *maxSrc;
 *     0 and nothing stored for a bad word or more than count pairs.
 */
int parseBandMap(const char *text, int count, int *destBands, int *srcBands, int *maxSrc) {
  if (!text || count < 1 || strlen(text) > static_cast<size_t>(kMaxBandMapText)) return 0;
  std::vector<int> dest, src;
  const char *p = text;
  while (true) {
    while (isBindBlank(*p)) p++;
    if (!*p) break;
    const char *end = p;
    while (*end && !isBindBlank(*end)) end++;
    std::string word(p, end);
    p = end;

    int t0 = 0, t1 = 0, s0 = 0, s1 = 0;
    const char *q = word.c_str();
    bool ok = readBindNumber(&q, &t0);
    if (ok && *q == ':') {
      q++;
      ok = readBindNumber(&q, &s0) && *q == 0;
      t1 = t0;
      s1 = s0;
    } else if (ok && *q == '-') {
      q++;
      ok = readBindNumber(&q, &t1) && *q++ == ':' && readBindNumber(&q, &s0) && *q++ == '-' &&
           readBindNumber(&q, &s1) && *q == 0;
    } else {
      ok = false;
    }
    if (!ok) return 0;
    if (static_cast<int>(dest.size()) >= count) return 0;
    const int64_t span = t1 >= t0 ? int64_t{t1} - t0 : int64_t{t0} - t1;
    const int64_t srcSpan = s1 >= s0 ? int64_t{s1} - s0 : int64_t{s0} - s1;
    if (span != srcSpan) return 0;
    if (t0 < 1 || t1 < 1 || s0 < 1 || s1 < 1 || t0 > count || t1 > count) return 0;
    if (static_cast<int64_t>(dest.size()) + span + 1 > count) return 0;
    const int dt = t1 >= t0 ? 1 : -1, ds = s1 >= s0 ? 1 : -1;
    for (int64_t k = 0; k <= span; k++) {
      dest.push_back(t0 + static_cast<int>(k) * dt);
      src.push_back(s0 + static_cast<int>(k) * ds);
    }
  }
  if (dest.empty()) return 0;
  int largest = 0;
  for (size_t i = 0; i < dest.size(); i++) {
    destBands[i] = dest[i];
    srcBands[i] = src[i];
    if (src[i] > largest) largest = src[i];
  }
  *maxSrc = largest;
  return static_cast<int>(dest.size());
}

}  // namespace vesk
