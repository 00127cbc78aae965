// The text parsers of bound images: index ranges, data ranges, ROIs and
// band maps, each over a table of accepted and refused texts.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "processing/bindparse.h"

using namespace vesk;

namespace {

TEST(BindParse, IndexRangeItems) {
  struct Case {
    const char *text;
    int len, consumed, first, last;
  } cases[] = {
      {"5", 10, 1, 5, 5},        {"5,rest", 10, 2, 5, 5},  {"", 10, 0, 0, 9},
      {"*", 10, 1, 0, 9},        {":", 10, 1, 0, 9},       {",x", 4, 1, 0, 3},
      {"7:2", 10, 3, 7, 2},      {"0:9,", 10, 4, 0, 9},    {" 3: 4 ", 10, 6, 3, 4},
      {"10", 10, -1, 0, 0},      {"-1", 10, -1, 0, 0},     {"2:10", 10, -1, 0, 0},
      {"x", 10, -1, 0, 0},       {"1:", 10, -1, 0, 0},     {"1x", 10, -1, 0, 0},
      {"1:2:3", 10, -1, 0, 0},   {"*", 0, -1, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\" of " + std::to_string(c.len));
    int first = -7, last = -7;
    EXPECT_EQ(parseIndexRange(c.text, c.len, &first, &last), c.consumed);
    if (c.consumed >= 0) {
      EXPECT_EQ(first, c.first);
      EXPECT_EQ(last, c.last);
    } else {
      EXPECT_EQ(first, -7);
    }
  }
}

TEST(BindParse, DataRanges) {
  struct Case {
    const char *text;
    int ok;
    std::vector<int> range;
  } cases[] = {
      {"@0:99,*,0", 1, {0, 99, 0, 49, 0, 0}},
      {"@", 1, {0, 99, 0, 49, 0, 2}},
      {"@,,", 1, {0, 99, 0, 49, 0, 2}},
      {"@99:0,49:0,2:0", 1, {99, 0, 49, 0, 2, 0}},
      {"@5", 1, {5, 5, 0, 49, 0, 2}},
      {"0:99,*,0", 0, {}},
      {"@100,*,*", 0, {}},
      {"@*,50,*", 0, {}},
      {"@*,*,3", 0, {}},
      {"@*,*,*,*", 0, {}},
      {"@a,*,*", 0, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    int range[6] = {-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(parseDataRange(c.text, 100, 50, 3, range), c.ok);
    if (c.ok) {
      EXPECT_EQ(std::vector<int>(range, range + 6), c.range);
    } else {
      EXPECT_EQ(range[0], -1);
    }
  }
}

TEST(BindParse, Rois) {
  struct Case {
    const char *text;
    int ok;
  } cases[] = {
      {"0 0 0 0 10 5", 1},  {"2 1 50 60 8 4", 1}, {"9 4 0 0 1 1", 1},
      {"0 0 0 0 11 5", 0},  {"0 0 0 0 10 6", 0},  {"3 0 0 0 8 5", 0},
      {"-1 0 0 0 1 1", 0},  {"0 -1 0 0 1 1", 0},  {"0 0 -1 0 1 1", 0},
      {"0 0 0 -1 1 1", 0},  {"0 0 0 0 0 1", 0},   {"0 0 0 0 1 0", 0},
      {"0 0 0 0 1", 0},     {"0 0 0 0 1 1 x", 0}, {"", 0},
      {"0 0 0 0 2147483647 1", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    int v[6] = {-9, -9, -9, -9, -9, -9};
    EXPECT_EQ(parseRoi(c.text, 10, 5, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), c.ok);
    if (!c.ok) {
      EXPECT_EQ(v[0], -9);
    }
  }
  int v[6];
  ASSERT_EQ(parseRoi("2 1 50 60 8 4", 10, 5, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), 1);
  EXPECT_EQ(std::vector<int>(v, v + 6), (std::vector<int>{2, 1, 50, 60, 8, 4}));
}

TEST(BindParse, BandMaps) {
  struct Case {
    const char *text;
    int count;
    std::vector<int> dest, src;
    int maxSrc;
  } cases[] = {
      {"1-3:4-6", 3, {1, 2, 3}, {4, 5, 6}, 6},
      {"3-1:1-3", 3, {3, 2, 1}, {1, 2, 3}, 3},
      {"1:2 2:1", 2, {1, 2}, {2, 1}, 2},
      {" 2:9\t1:1 ", 3, {2, 1}, {9, 1}, 9},
      {"1:1 1:1", 2, {1, 1}, {1, 1}, 1},
      {"1-3:1-2", 3, {}, {}, 0},
      {"4:1", 3, {}, {}, 0},
      {"0:1", 3, {}, {}, 0},
      {"1:0", 3, {}, {}, 0},
      {"1:1 2:2 3:3", 2, {}, {}, 0},
      {"1-2:1-2 2:2", 2, {}, {}, 0},
      {"1:x", 3, {}, {}, 0},
      {"1", 3, {}, {}, 0},
      {"1-2:3", 3, {}, {}, 0},
      {"1:2:3", 3, {}, {}, 0},
      {"", 3, {}, {}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<int> dest(static_cast<size_t>(c.count), -1), src(static_cast<size_t>(c.count), -1);
    int maxSrc = -1;
    const int n = parseBandMap(c.text, c.count, dest.data(), src.data(), &maxSrc);
    EXPECT_EQ(n, static_cast<int>(c.dest.size()));
    if (n > 0) {
      dest.resize(static_cast<size_t>(n));
      src.resize(static_cast<size_t>(n));
      EXPECT_EQ(dest, c.dest);
      EXPECT_EQ(src, c.src);
      EXPECT_EQ(maxSrc, c.maxSrc);
    } else {
      EXPECT_EQ(maxSrc, -1);
      EXPECT_EQ(dest[0], -1);
    }
  }
  // Texts longer than the limit are refused before they are read.
  std::string longText(kMaxBandMapText, ' ');
  longText += "1:1";
  int d = 0, s = 0, m = 0;
  EXPECT_EQ(parseBandMap(longText.c_str(), 1, &d, &s, &m), 0);
}

}  // namespace
