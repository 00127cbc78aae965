// Numeric text, comparison, number lists, rounding, base64, bit arrays and
// byte order.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <string>

#include "core/text.h"
#include "vesk/vesk.h"
#include "tests/unit/harness.h"

using namespace vesk;

TEST(Text, IsIntString) {
  struct Case { const char *text; int expected; } cases[] = {
      {"", 1},    {"-", 1},     {"12", 1},  {"-12", 1}, {"+7", 1},  {" 12", 1},
      {"12  ", 1}, {"1 2", 0},  {"- 1", 0}, {"1.5", 0}, {" -12", 0}, {"1-", 0},
      {"  12", 0}, {"12a", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    EXPECT_EQ(isIntString(c.text), c.expected);
  }
}

TEST(Text, IsRealString) {
  EXPECT_EQ(isRealString(""), 1);
  EXPECT_EQ(isRealString(" 1.5e3"), 1);
  EXPECT_EQ(isRealString("1.5 "), 0);
  EXPECT_EQ(isRealString("x"), 0);
}

TEST(Text, CompareNoCase) {
  EXPECT_EQ(compareNoCase("abc", "ABC"), 0);
  EXPECT_EQ(compareNoCase(nullptr, nullptr), 0);
  EXPECT_EQ(compareNoCase(nullptr, "a"), -1);
  EXPECT_EQ(compareNoCase("a", nullptr), 1);
  EXPECT_EQ(compareNoCase("abd", "ABC"), 1);
  EXPECT_LT(compareNoCase("ab", "abc"), 0);
}

TEST(Text, PassLists) {
  float f[2] = {0, 0};
  EXPECT_EQ(passFloats("1,,2,3", f, 2), 3);
  EXPECT_FLOAT_EQ(f[0], 1);
  EXPECT_FLOAT_EQ(f[1], 2);
  EXPECT_EQ(passFloats(nullptr, f, 2), 0);
  long l[3] = {0, 0, 0};
  EXPECT_EQ(passLongs("5,-6", l, 3), 2);
  EXPECT_EQ(l[0], 5);
  EXPECT_EQ(l[1], -6);
}

TEST(Text, AppendFloatList) {
  Tcl_Interp *interp = testInterp();
  const float two[] = {1, 2};
  Tcl_SetResult(interp, const_cast<char *>("x"), TCL_STATIC);
  appendFloatList(interp, two, 2);
  EXPECT_STREQ(Tcl_GetStringResult(interp), "x {1 2}");
  Tcl_ResetResult(interp);
  appendFloatList(interp, two, 2);
  EXPECT_STREQ(Tcl_GetStringResult(interp), "1 2");
  const double one[] = {0.5};
  appendDoubleList(interp, one, 1);
  EXPECT_STREQ(Tcl_GetStringResult(interp), "1 2 0.5");
  appendFloatList(interp, two, 0);  // no values: nothing is read or appended
  EXPECT_STREQ(Tcl_GetStringResult(interp), "1 2 0.5");
  Tcl_ResetResult(interp);
}

TEST(Text, RoundToInt) {
  struct Case { double x; int expected; } cases[] = {
      {2.5, 3}, {-2.5, -3}, {-0.4, 0}, {0.4, 0}, {1e12, 2147483647}, {-1e12, -2147483647 - 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(roundToInt(c.x), c.expected);
  }
  EXPECT_EQ(roundToInt(nan("")), 0);
}

TEST(Text, Base64) {
  int n = 0;
  char *text = encodeBase64(3, reinterpret_cast<const unsigned char *>("abc"), &n);
  EXPECT_STREQ(text, "YWJj");
  EXPECT_EQ(n, 4);
  gmemFree(text);

  unsigned char bytes[54];
  for (int i = 0; i < 54; i++) bytes[i] = static_cast<unsigned char>(i);
  text = encodeBase64(54, bytes, &n);
  EXPECT_EQ(n, 73);
  EXPECT_EQ(text[72], '\n');
  int back = 0;
  unsigned char *decoded = decodeBase64(n, text, &back);
  ASSERT_EQ(back, 54);
  EXPECT_EQ(memcmp(decoded, bytes, 54), 0);
  gmemFree(decoded);
  gmemFree(text);

  text = encodeBase64(0, bytes, &n);  // nothing to encode: an empty text
  EXPECT_STREQ(text, "");
  EXPECT_EQ(n, 0);
  gmemFree(text);

  struct Case { const char *in; const char *out; } cases[] = {
      {"YWJj", "abc"}, {"YQ==", "a"}, {"YWI=", "ab"}, {"YW\nJj", "abc"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    decoded = decodeBase64(static_cast<int>(strlen(c.in)), c.in, &back);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(decoded), static_cast<size_t>(back)), c.out);
    gmemFree(decoded);
  }
}

TEST(Text, BitArrays) {
  unsigned char bits[2] = {0, 0};
  EXPECT_EQ(bitArrayOp(bits, 9, BIT_TOGGLE), 1);
  EXPECT_EQ(bits[1], 2);
  EXPECT_EQ(bitArrayOp(bits, 9, BIT_TOGGLE), 0);
  EXPECT_EQ(bits[1], 0);
  EXPECT_EQ(bitArrayOp(bits, 3, BIT_SET), 1);
  EXPECT_EQ(bitArrayOp(bits, 3, BIT_TEST), 1);
  EXPECT_EQ(bitArrayOp(bits, 3, BIT_TEST_MASKED), 8);
  EXPECT_EQ(bitArrayOp(bits, 3, BIT_TEST_CLEAR), 0);
  EXPECT_EQ(bitArrayOp(bits, 3, 99), 1);

  EXPECT_EQ(bitArrayRangeOp(bits, 0, 16, BIT_SET), 16);
  EXPECT_EQ(bits[0], 0xff);
  EXPECT_EQ(bitArrayRangeOp(bits, 4, 6, BIT_CLEAR), 2);
  EXPECT_EQ(bitArrayRangeOp(bits, 0, 16, BIT_FIRST_CLEAR), 4);
  EXPECT_EQ(bitArrayRangeOp(bits, 4, 16, BIT_FIRST_SET), 6);
  EXPECT_EQ(bitArrayRangeOp(bits, 0, 16, BIT_COUNT_SET), 14);
  EXPECT_EQ(bitArrayRangeOp(bits, 0, 16, BIT_COUNT_CLEAR), 2);
  EXPECT_EQ(bitArrayRangeOp(bits, 0, 4, BIT_TEST_MASKED), 8);
  EXPECT_EQ(bitArrayRangeOp(bits, 0, 6, BIT_TEST_MASKED), 0);
  EXPECT_EQ(bitArrayRangeOp(bits, 0, 5, BIT_TEST), 0);
}

TEST(Text, ByteOrder) {
  EXPECT_EQ(swapLong(0x11223344), 0x44332211);
  EXPECT_EQ(swapShort(0x1122), 0x2211);
  unsigned char b[5] = {1, 2, 3, 4, 5};
  swapBytes(b, 5);
  EXPECT_EQ(std::string(b, b + 5), std::string("\5\4\3\2\1"));
  reverseBytes(b, 2);
  EXPECT_EQ(b[0], 4);
  unsigned char s[257];
  for (int i = 0; i < 257; i++) s[i] = static_cast<unsigned char>(i);
  reverseByteString(s, 257);  // 257 % 256 = 1 byte: nothing moves
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(s[256], 0);
  EXPECT_EQ(msbFirst(), 0);  // x86-64 and arm64 hosts store the low byte first
}
