/*
 * text.h --
 *     Stateless helpers shared by the whole library: numeric text tests,
 *     keyword comparison, number lists, rounding, base64, bit arrays and
 *     byte order.
 */
#ifndef VESK_CORE_TEXT_H
#define VESK_CORE_TEXT_H

#include <stdint.h>
#include <tcl.h>

namespace vesk {

int isIntString(const char *text);
int isRealString(const char *text);
int compareNoCase(const char *a, const char *b);
int passFloats(const char *text, float *values, int capacity);
int passLongs(const char *text, long *values, int capacity);
void appendFloatList(Tcl_Interp *interp, const float *values, int n);
void appendDoubleList(Tcl_Interp *interp, const double *values, int n);
int roundToInt(double x);

char *encodeBase64(int count, const unsigned char *bytes, int *outLength);
unsigned char *decodeBase64(int length, const char *text, int *outLength);

/* Operations of bitArrayOp and bitArrayRangeOp. */
enum BitOp {
  BIT_TEST = -1,
  BIT_CLEAR = 0,
  BIT_SET = 1,
  BIT_TEST_MASKED = 2,
  BIT_TEST_CLEAR = 3,
  BIT_TOGGLE = 4,
  BIT_FIRST_SET = 5,
  BIT_FIRST_CLEAR = 6,
  BIT_COUNT_SET = 7,
  BIT_COUNT_CLEAR = 8,
};
int bitArrayOp(unsigned char *bytes, unsigned bit, int op);
int bitArrayRangeOp(unsigned char *bytes, unsigned from, unsigned to, int op);

int32_t swapLong(int32_t value);
int16_t swapShort(int16_t value);
void swapBytes(void *data, int n);
void reverseBytes(void *data, int n);
void reverseByteString(void *data, int n);
int msbFirst();

}  // namespace vesk

#endif
