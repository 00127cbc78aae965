/*
 * text.cpp --
 *     Small conversions shared by the whole library: numeric text tests,
 *     case-insensitive comparison, comma-separated number lists, rounding
 *     half away from zero, base64, bit arrays and byte order.
 */
#include <ctype.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "core/text.h"
#include "vesk/stdio.h"

namespace vesk {

/*
 * isIntString --
 *     An optional sign first, an optional single leading blank, digits,
 *     then only blanks.  The empty text and a lone sign count as integers.
 */
int isIntString(const char *text) {
  int digits = 0;
  for (int i = 0; text[i]; i++) {
    char c = text[i];
    if (isdigit(static_cast<unsigned char>(c))) {
      digits++;
    } else if (c == '+' || c == '-') {
      if (i != 0) return 0;
    } else if (c == ' ') {
      if (digits == 0) {
        if (i != 0) return 0;
      } else {
        for (int j = i; text[j]; j++)
          if (text[j] != ' ') return 0;
        return 1;
      }
    } else {
      return 0;
    }
  }
  return 1;
}

/* isRealString -- 1 when strtod consumes the whole text. */
int isRealString(const char *text) {
  char *end;
  strtod(text, &end);
  return *end == 0;
}

/*
 * compareNoCase --
 *     Compares upper-cased characters; NULL sorts before any text.
 */
int compareNoCase(const char *a, const char *b) {
  if (!a) return b ? -1 : 0;
  if (!b) return 1;
  for (;; a++, b++) {
    int x = toupper(static_cast<unsigned char>(*a));
    int y = toupper(static_cast<unsigned char>(*b));
    if (x != y) return x - y;
    if (!x) return 0;
  }
}

/*
 * Splits text on commas (empty items do not count), converting the first
 * capacity items with convert; returns the number of items.
 */
template <class Convert>
static int passList(const char *text, int capacity, Convert convert) {
  if (!text) return 0;
  std::string copy = text;
  int count = 0;
  char *state = nullptr;
  for (char *item = strtok_r(&copy[0], ",", &state); item; item = strtok_r(nullptr, ",", &state)) {
    if (count < capacity) convert(count, item);
    count++;
  }
  return count;
}

int passFloats(const char *text, float *values, int capacity) {
  return passList(text, capacity, [values](int i, const char *item) {
    values[i] = static_cast<float>(strtod(item, nullptr));
  });
}

int passLongs(const char *text, long *values, int capacity) {
  return passList(text, capacity, [values](int i, const char *item) { values[i] = atol(item); });
}

/*
 * Appends values to the result: one value as an element; several as a
 * plain list into an empty result, else as one braced sublist.
 */
template <class T>
static void appendList(Tcl_Interp *interp, const T *values, int n) {
  char number[TCL_DOUBLE_SPACE + 8];
  /* A count below 1 appends nothing: the caller passed no value to read. */
  if (n < 1 || !values) return;
  if (n == 1) {
    snprintf(number, sizeof number, "%.6g", static_cast<double>(values[0]));
    Tcl_AppendElement(interp, number);
    return;
  }
  bool wasEmpty = Tcl_GetStringResult(interp)[0] == 0;
  if (!wasEmpty) Tcl_AppendResult(interp, " {", nullptr);
  for (int i = 0; i < n; i++) {
    snprintf(number, sizeof number, i ? " %.6g" : "%.6g", static_cast<double>(values[i]));
    Tcl_AppendResult(interp, number, nullptr);
  }
  if (!wasEmpty) Tcl_AppendResult(interp, "}", nullptr);
}

void appendFloatList(Tcl_Interp *interp, const float *values, int n) {
  appendList(interp, values, n);
}

void appendDoubleList(Tcl_Interp *interp, const double *values, int n) {
  appendList(interp, values, n);
}

/*
 * roundToInt --
 *     Rounds half away from zero; values beyond the int range saturate and
 *     NaN gives 0.
 */
int roundToInt(double x) {
  double r = x > 0 ? x + 0.5 : x - 0.5;
  if (!(r == r)) return 0;
  if (r >= 2147483647.0) return INT_MAX;
  if (r <= -2147483648.0) return INT_MIN;
  return static_cast<int>(r);
}

/* ---- base64 ---- */

static const char kBase64[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

/*
 * encodeBase64 --
 *     Standard base64 with "=" padding and a newline after every 72
 *     characters of complete groups.
 * Results:      a new gmemAlloc text and its length without the NUL.
 */
char *encodeBase64(int count, const unsigned char *bytes, int *outLength) {
  if (count < 0) count = 0;
  int64_t chars = 4 * ((static_cast<int64_t>(count) + 2) / 3);
  int64_t size = chars + 2 * ((chars + 71) / 72) + 1;
  if (size > INT_MAX) return nullptr;
  char *out = static_cast<char *>(gmemAlloc(static_cast<int>(size)));
  if (!out) return nullptr;
  int n = 0, groups = 0, i = 0;
  for (; i + 3 <= count; i += 3) {
    unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out[n++] = kBase64[(v >> 18) & 63];
    out[n++] = kBase64[(v >> 12) & 63];
    out[n++] = kBase64[(v >> 6) & 63];
    out[n++] = kBase64[v & 63];
    if (++groups % 18 == 0) out[n++] = '\n';
  }
  int rest = count - i;
  if (rest > 0) {
    unsigned v = bytes[i] << 16;
    if (rest == 2) v |= bytes[i + 1] << 8;
    out[n++] = kBase64[(v >> 18) & 63];
    out[n++] = kBase64[(v >> 12) & 63];
    out[n++] = rest == 2 ? kBase64[(v >> 6) & 63] : '=';
    out[n++] = '=';
  }
  out[n] = 0;
  if (outLength) *outLength = n;
  return out;
}

static int base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return 64;
  return -1;
}

/*
 * decodeBase64 --
 *     Decodes groups of four symbols, skipping bytes outside the alphabet;
 *     "=" counts as a zero symbol.
 * Results:      a new gmemAlloc buffer and the decoded byte count.
 */
unsigned char *decodeBase64(int length, const char *text, int *outLength) {
  if (length < 0) length = 0;
  int64_t size = 3 * ((static_cast<int64_t>(length) + 3) / 4) + 1;
  unsigned char *out = static_cast<unsigned char *>(gmemAlloc(static_cast<int>(size)));
  if (!out) return nullptr;
  int n = 0, pads = 0, got = 0;
  unsigned v = 0;
  for (int i = 0; i < length; i++) {
    int s = base64Value(static_cast<unsigned char>(text[i]));
    if (s < 0) continue;
    if (s == 64) {
      pads++;
      s = 0;
    }
    v = (v << 6) | static_cast<unsigned>(s);
    if (++got == 4) {
      out[n++] = static_cast<unsigned char>(v >> 16);
      out[n++] = static_cast<unsigned char>(v >> 8);
      out[n++] = static_cast<unsigned char>(v);
      got = 0;
      v = 0;
    }
  }
  if (got > 0) vesk_fprintf(stderr, "Invalid base64 data block detected.\n");
  n -= pads;
  if (n < 0) n = 0;
  if (outLength) *outLength = n;
  return out;
}

/* ---- bit arrays: bit i is bit i % 8 of byte i / 8, least significant first ---- */

int bitArrayOp(unsigned char *bytes, unsigned bit, int op) {
  unsigned char &byte = bytes[bit / 8];
  unsigned char mask = static_cast<unsigned char>(1u << (bit % 8));
  switch (op) {
  case BIT_TEST: return (byte & mask) ? 1 : 0;
  case BIT_CLEAR: byte = static_cast<unsigned char>(byte & ~mask); return 1;
  case BIT_SET: byte = static_cast<unsigned char>(byte | mask); return 1;
  case BIT_TEST_MASKED: return byte & mask;
  case BIT_TEST_CLEAR: return ~byte & mask;
  case BIT_TOGGLE: byte = static_cast<unsigned char>(byte ^ mask); return (byte & mask) ? 1 : 0;
  default: return 1;
  }
}

int bitArrayRangeOp(unsigned char *bytes, unsigned from, unsigned to, int op) {
  if (static_cast<unsigned>(op) > BIT_COUNT_CLEAR) return bitArrayOp(bytes, to - 1, op);
  int result = 0;
  switch (op) {
  case BIT_TEST_MASKED:
  case BIT_TEST_CLEAR:
    for (unsigned i = from; i < to; i++)
      if (!(result = bitArrayOp(bytes, i, op))) return 0;
    return result;
  case BIT_FIRST_SET:
  case BIT_FIRST_CLEAR:
    for (unsigned i = from; i < to; i++)
      if (bitArrayOp(bytes, i, BIT_TEST) == (op == BIT_FIRST_SET)) return static_cast<int>(i);
    return static_cast<int>(to);
  case BIT_COUNT_SET:
  case BIT_COUNT_CLEAR:
    for (unsigned i = from; i < to; i++)
      result += bitArrayOp(bytes, i, BIT_TEST) == (op == BIT_COUNT_SET);
    return result;
  default:
    for (unsigned i = from; i < to; i++) result += bitArrayOp(bytes, i, op);
    return result;
  }
}

/* ---- byte order ---- */

int32_t swapLong(int32_t value) {
  return static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(value)));
}

int16_t swapShort(int16_t value) {
  return static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(value)));
}

void swapBytes(void *data, int n) {
  unsigned char *p = static_cast<unsigned char *>(data);
  for (int i = 0, j = n - 1; i < j; i++, j--) {
    unsigned char t = p[i];
    p[i] = p[j];
    p[j] = t;
  }
}

void reverseBytes(void *data, int n) { swapBytes(data, n); }

/* reverseByteString -- reverses the first n % 256 bytes. */
void reverseByteString(void *data, int n) { swapBytes(data, n % 256); }

/* msbFirst -- 1 on a big-endian host. */
int msbFirst() {
  const int one = 1;
  return *reinterpret_cast<const unsigned char *>(&one) == 0;
}

}  // namespace vesk
