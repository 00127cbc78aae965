// Script-library codec at the buffer level: tables, round trips and every
// truncation or damaged byte of a good library.
#include <gtest/gtest.h>
#include <string.h>
#include <zlib.h>
#include <string>

#include "core/calc.h"

using namespace vesk;

namespace {

std::string encode(const std::string &script) {
  std::string out;
  int code = 0;
  EXPECT_EQ(encodeScriptLib(script.c_str(), script.size() + 1, out, &code), SCRIPTLIB_OK);
  return out;
}

int decode(const std::string &data, std::string &script, int *code = nullptr) {
  return decodeScriptLib(reinterpret_cast<const unsigned char *>(data.data()), data.size(), script,
                         code);
}

}  // namespace

TEST(Codec, TablesArePermutations) {
  for (int t = 0; t < scriptLibTableCount(); t++) {
    SCOPED_TRACE(t);
    const unsigned char *table = substitutionTable(t);
    ASSERT_NE(table, nullptr);
    bool seen[256] = {};
    for (int i = 0; i < 256; i++) seen[table[i]] = true;
    for (int i = 0; i < 256; i++) EXPECT_TRUE(seen[i]);
  }
  EXPECT_EQ(substitutionTable(scriptLibTableCount()), nullptr);
}

TEST(Codec, SubstituteTogglesBitZeroAndUndoes) {
  unsigned char bytes[256];
  for (int i = 0; i < 256; i++) bytes[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(substituteBytes(2, bytes, sizeof bytes), 3);
  int moved = 0;
  for (int i = 0; i < 256; i++) moved += bytes[i] != i;
  EXPECT_GT(moved, 200);
  EXPECT_EQ(substituteBytes(3, bytes, sizeof bytes), 2);
  for (int i = 0; i < 256; i++) EXPECT_EQ(bytes[i], i);
  EXPECT_EQ(substituteBytes(2 * scriptLibTableCount(), bytes, sizeof bytes), -1);
}

TEST(Codec, RoundTrips) {
  for (const std::string &script :
       {std::string(), std::string("set x 42"), std::string(100000, 'q'),
        std::string("binary \x01\xff\x80 bytes")}) {
    SCOPED_TRACE(script.size());
    std::string library = encode(script);
    EXPECT_EQ(library.compare(0, 8, "SCRBCOMP"), 0);
    EXPECT_EQ(static_cast<unsigned char>(library[8]), 3);
    EXPECT_EQ(atol(library.c_str() + 21), static_cast<long>(script.size() + 1));
    EXPECT_EQ(static_cast<size_t>(atol(library.c_str() + 9)) + 33, library.size());
    std::string back;
    ASSERT_EQ(decode(library, back), SCRIPTLIB_OK);
    EXPECT_EQ(back, script);
  }
}

TEST(Codec, PlainTextIsNotALibrary) {
  std::string back;
  EXPECT_EQ(decode("set x 1", back), SCRIPTLIB_NOT_LIBRARY);
  EXPECT_EQ(decode("", back), SCRIPTLIB_NOT_LIBRARY);
}

// Every prefix of a good library is refused, never read past its end.
TEST(Codec, EveryTruncationIsRefused) {
  std::string library = encode("proc p {} {return [string repeat ab 50]}");
  for (size_t n = 8; n < library.size(); n++) {
    SCOPED_TRACE(n);
    std::string back;
    int code = 0;
    EXPECT_EQ(decode(library.substr(0, n), back, &code), SCRIPTLIB_CORRUPT);
    EXPECT_NE(code, Z_OK);
  }
}

// Damaging any single byte gives a refusal or, rarely, another valid
// script; it never crashes (the sanitizer build checks the reads).
TEST(Codec, DamagedBytesNeverCrash) {
  std::string library = encode("set a 1; set b 2; set c 3");
  for (size_t i = 8; i < library.size(); i++) {
    for (int flip : {0x01, 0x80, 0xff}) {
      std::string damaged = library;
      damaged[i] = static_cast<char>(damaged[i] ^ flip);
      std::string back;
      int status = decode(damaged, back);
      EXPECT_TRUE(status == SCRIPTLIB_OK || status == SCRIPTLIB_CORRUPT ||
                  status == SCRIPTLIB_BAD_VERSION)
          << i;
    }
  }
}

// A script length the body does not produce is refused with uncompress's
// own code: Z_OK when the stream is shorter, Z_BUF_ERROR when longer.
TEST(Codec, WrongScriptLengthKeepsZlibsCode) {
  std::string library = encode("set x 42");  // L = 9
  const struct {
    const char *length;
    int code;
  } cases[] = {{"10", Z_OK}, {"100", Z_OK}, {"8", Z_BUF_ERROR}, {"1", Z_BUF_ERROR}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.length);
    std::string damaged = library;
    damaged.replace(21, 12, std::string(c.length) + std::string(12 - strlen(c.length), '\0'));
    std::string back;
    int code = -99;
    EXPECT_EQ(decode(damaged, back, &code), SCRIPTLIB_CORRUPT);
    EXPECT_EQ(code, c.code);
  }
}
