// Regions of interest: ROI texts, scan conversion of rectangles, polygons
// and ovals into span sets (expectations worked out by hand from the
// pixel rule: rows and columns from the first coordinate up to, not
// including, the second), parity, set operations and statistics over spans.
#include <gtest/gtest.h>
#include <limits.h>
#include <string>
#include <vector>

#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "raster/roi.h"
#include "tests/unit/harness.h"
#include "tests/unit/raster_images.h"

using namespace vesk;
using namespace rastertest;

namespace {

// "row:from-to" for each span, separated by blanks.
std::string show(const PointList *spans) {
  std::string text;
  if (!spans) return "null";
  for (int i = 0; i + 1 < spans->count; i += 2) {
    if (!text.empty()) text += " ";
    text += std::to_string(spans->points[i].y) + ":" + std::to_string(spans->points[i].x) + "-" +
            std::to_string(spans->points[i + 1].x);
  }
  return text;
}

struct ChainFree {
  void operator()(PointList *chain) const { polyFree(chain); }
};
using ListPtr = std::unique_ptr<PointList, ChainFree>;

// Parses a ROI list of words and returns its spans combined by parity.
std::string listSpans(std::vector<const char *> words) {
  Tcl_Interp *interp = testInterp();
  Tcl_ResetResult(interp);
  ListPtr chain(parseROIList(interp, static_cast<int>(words.size()), words.data()));
  if (!chain) return std::string("error: ") + Tcl_GetStringResult(interp);
  ListPtr spans(polyListToSpans(chain.get()));
  return show(spans.get());
}

}  // namespace

TEST(Roi, ShapesToSpans) {
  struct Case {
    const char *name;
    std::vector<const char *> words;
    const char *spans;
  };
  const Case cases[] = {
      {"rectangle", {"rc", "0 0 4 3"}, "0:0-4 1:0-4 2:0-4"},
      {"rectangle, corners swapped", {"rc", "4 3 0 0"}, "0:0-4 1:0-4 2:0-4"},
      {"rectangle, rounded corners", {"rc", "0.5 -0.4 2.4 1.5"}, "0:1-2 1:1-2"},
      {"triangle", {"pl", "0 0 8 0 0 4"}, "0:0-8 1:0-6 2:0-4 3:0-2"},
      {"triangle, first point repeated", {"pl", "0 0 8 0 0 4 0 0"}, "0:0-8 1:0-6 2:0-4 3:0-2"},
      // Local tops at (0,0) and (8,0) and a local bottom at (4,2) add no vertex.
      {"notched", {"pl", "0 0 4 2 8 0 8 4 0 4"}, "1:0-2 1:6-8 2:0-8 3:0-8"},
      {"2 x 2 oval is its box", {"ov", "0 0 2 2"}, "0:0-2 1:0-2"},
      {"parity of two squares", {"rc", "0 0 4 4", "rc", "2 2 6 6"},
       "0:0-4 1:0-4 2:0-2 2:4-6 3:0-2 3:4-6 4:2-6 5:2-6"},
      {"rows beyond 16 bits", {"rc", "0 40000 3 40002"}, "40000:0-3 40001:0-3"},
      {"columns beyond 16 bits", {"rc", "70000 0 70002 1"}, "0:70000-70002"},
      {"five numbers", {"pl", "0 0 4 0 4"}, "error: Error in parsing polygon.\n"},
      {"seven numbers", {"pl", "0 0 4 0 4 4 1"}, "error: Error in parsing polygon.\n"},
      {"four numbers", {"pl", "0 0 4 4"}, "error: Error in parsing polygon.\n"},
      {"not numbers", {"pl", "0 0 4 a 4 4"}, "error: Error in parsing polygon.\n"},
      {"bad rectangle", {"rc", "0 0 4"}, "error: Error in parsing rectangle.\n"},
      {"bad oval", {"ov", "x"}, "error: Error in parsing oval.\n"},
      {"unknown type", {"tri", "0 0 1 1 2 0"}, "error: Unknown obj type: tri"},
      {"type without value", {"rc", "0 0 1 1", "rc"}, "error: error in parsing obj.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(listSpans(c.words), c.spans);
  }
}

// Scanning over a range of rows gives exactly the spans of those rows that
// the whole scan gives, and a far polygon costs only the rows asked for.
TEST(Roi, SpansOverRowRange) {
  struct Case {
    const char *name;
    std::vector<RoiPoint> points;
  };
  const Case cases[] = {
      {"triangle", {{0, 0}, {8, 0}, {0, 4}}},
      {"notched", {{0, 0}, {4, 2}, {8, 0}, {8, 4}, {0, 4}}},
      {"star", {{5, -3}, {7, 3}, {13, 3}, {8, 7}, {10, 13}, {5, 9}, {0, 13}, {2, 7}, {-3, 3}, {3, 3}}},
      {"first point repeated", {{0, 0}, {6, 1}, {2, 9}, {0, 0}}},
      {"flat edges", {{0, 2}, {4, 2}, {4, 6}, {8, 6}, {8, 10}, {0, 10}}},
  };
  for (const Case &c : cases) {
    const int n = static_cast<int>(c.points.size());
    ListPtr whole(pointArrayToSpans(c.points.data(), n));
    for (int lo = -4; lo <= 14; lo += 3) {
      for (int hi = lo; hi <= 15; hi += 4) {
        SCOPED_TRACE(std::string(c.name) + " rows " + std::to_string(lo) + ".." + std::to_string(hi));
        ListPtr part(pointArrayToSpans(c.points.data(), n, lo, hi));
        PointList expected;
        for (int i = 0; i + 1 < whole->count; i += 2)
          if (whole->points[i].y >= lo && whole->points[i].y <= hi)
            spanAdd(&expected, whole->points[i], whole->points[i + 1]);
        EXPECT_EQ(show(part.get()), show(&expected));
        clearPointList(&expected);
      }
    }
  }
  const RoiPoint far[] = {{INT_MAX, 0}, {0, INT_MAX}, {INT_MIN, INT_MIN}};
  ListPtr spans(pointArrayToSpans(far, 3, 0, 2));
  EXPECT_EQ(spans->count, 6);
  EXPECT_EQ(show(spans.get()).substr(0, 2), "0:");
}

// An oval wider than tall: one point a column along the top, then back
// along the bottom (points worked out from the ellipse equation).
TEST(Roi, OvalOutline) {
  Tcl_Interp *interp = testInterp();
  ListPtr oval(parseOval(interp, "10 6 0 0"));
  ASSERT_TRUE(oval);
  std::string points;
  for (int i = 0; i < oval->count; i++)
    points += std::to_string(oval->points[i].x) + "," + std::to_string(oval->points[i].y) + " ";
  EXPECT_EQ(points,
            "0,3 1,1 2,0 3,0 4,0 5,0 6,0 7,0 8,1 9,3 8,4 7,5 6,5 5,5 4,5 3,5 2,5 1,4 ");
  // Taller than wide: one point a row.
  ListPtr tall(parseOval(interp, "0 0 3 7"));
  ASSERT_TRUE(tall);
  EXPECT_EQ(tall->count, 2 * (6 - 0));
  EXPECT_EQ(tall->points[0].y, 0);
  EXPECT_EQ(tall->points[0].x, 1);
}

// The list runs from the last pair to the first; mask kinds.
TEST(Roi, ListsAndMaskKinds) {
  Tcl_Interp *interp = testInterp();
  const char *words[] = {"rc", "0 0 1 1", "pl", "0 0 5 0 5 5"};
  ListPtr chain(parseROIList(interp, 4, words));
  ASSERT_TRUE(chain);
  EXPECT_EQ(chain->count, 3);
  ASSERT_NE(chain->next, nullptr);
  EXPECT_EQ(chain->next->count, 4);
  EXPECT_EQ(chain->next->next, nullptr);

  const char *kinds[] = {"frame", "clip", "data", "all"};
  for (int i = 0; i < 4; i++) EXPECT_EQ(parseMaskKind(interp, kinds[i]), i + 1);
  Tcl_ResetResult(interp);
  EXPECT_EQ(parseMaskKind(interp, "Frame"), 0);
  EXPECT_STREQ(Tcl_GetStringResult(interp), "unknown mask\n");
}

// Union, intersection and symmetric difference, directly and through
// ROI expressions.
TEST(Roi, SetOperations) {
  Tcl_Interp *interp = testInterp();
  struct Case {
    std::vector<const char *> words;
    const char *spans;
  };
  const Case cases[] = {
      {{"rc", "0 0 4 2", "or", "rc", "2 1 6 3"}, "0:0-4 1:0-6 2:2-6"},
      {{"rc", "0 0 4 2", "and", "rc", "2 1 6 3"}, "1:2-4"},
      {{"rc", "0 0 4 2", "xor", "rc", "2 1 6 3"}, "0:0-4 1:0-2 1:4-6 2:2-6"},
      {{"rc", "0 0 2 1", "or", "rc", "2 0 4 1"}, "0:0-4"},            // touching spans merge
      {{"rc", "0 0 2 1", "xor", "rc", "2 0 4 1"}, "0:0-4"},           // shared end cancels
      {{"rc", "0 0 2 1", "xor", "rc", "0 0 2 1"}, ""},
      {{"set", "rc", "0 0 1 1", "or", "rc", "3 0 4 1", "rc", "5 0 6 1"}, "0:0-1 0:3-4 0:5-6"},
      {{"rc", "0 0 4 4", "and", "rc", "9 9 10 10"}, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.words[1]);
    int error = -1;
    ListPtr spans(parseROIExpr(interp, nullptr, static_cast<int>(c.words.size()), c.words.data(),
                               &error));
    EXPECT_EQ(error, 0);
    EXPECT_EQ(show(spans.get()), c.spans);
  }

  // "current" keeps the current set; more words after it are an error.
  const char *base[] = {"rc", "0 0 3 1"};
  int error = -1;
  ListPtr current(parseROIExpr(interp, nullptr, 2, base, &error));
  const char *keep[] = {"current"};
  ListPtr same(parseROIExpr(interp, current.get(), 1, keep, &error));
  EXPECT_EQ(show(same.get()), "0:0-3");
  const char *more[] = {"current", "rc", "0 0 1 1"};
  Tcl_ResetResult(interp);
  EXPECT_EQ(parseROIExpr(interp, current.get(), 3, more, &error), nullptr);
  EXPECT_EQ(error, 1);
  EXPECT_STREQ(Tcl_GetStringResult(interp), "Syntax error.\n");
  const char *extend[] = {"or", "rc", "5 0 6 1"};
  ListPtr extended(parseROIExpr(interp, current.get(), 3, extend, &error));
  EXPECT_EQ(show(extended.get()), "0:0-3 0:5-6");
  const char *bad[] = {"or", "rc", "0 0", "rc", "1 1 2 2"};
  Tcl_ResetResult(interp);
  EXPECT_EQ(parseROIExpr(interp, current.get(), 5, bad, &error), nullptr);
  EXPECT_EQ(error, 1);

  // A chain combined by symmetric difference equals parity.
  const char *squares[] = {"rc", "0 0 4 4", "rc", "2 2 6 6"};
  ListPtr chain(parseROIList(interp, 4, squares));
  ListPtr xorSpans(polyListXorSpans(chain.get()));
  ListPtr paritySpans(polyListToSpans(chain.get()));
  EXPECT_EQ(show(xorSpans.get()), show(paritySpans.get()));

  const RoiPoint crossings[] = {{-3, 0}, {5, 0}, {1, 1}, {9, 1}, {2, 4}, {3, 4}};
  ListPtr clipped(clipPointArraySpans(crossings, 6, 0, 0, 4, 3));
  EXPECT_EQ(show(clipped.get()), "0:0-4 1:1-4");
}

// Point lists grow by 256 points; copies keep capacity and points.
TEST(Roi, PointLists) {
  ListPtr list(polyNew(2));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->count, 2);
  EXPECT_EQ(list->points[1].x, 0);
  for (int i = 0; i < 300; i++) polyPush(list.get(), i, -i);
  EXPECT_EQ(list->count, 302);
  EXPECT_EQ(list->capacity, 2 + 2 * 256);
  EXPECT_EQ(list->points[301].y, -299);
  ListPtr copy(polyCopy(list.get()));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->capacity, list->capacity);
  EXPECT_EQ(copy->points[301].x, 299);
  EXPECT_EQ(polyCopy(nullptr), nullptr);
  RoiPoint *points = polyAllocPt(copy.get(), 10);
  EXPECT_EQ(points, copy->points);
  EXPECT_EQ(copy->count, 10);
  clearPointList(copy.get());
  EXPECT_EQ(copy->capacity, 0);
  ListPtr corners(rectToPoints(0.5f, -0.5f, 2.4f, 3.6f));
  ASSERT_TRUE(corners);
  const int expected[4][2] = {{1, -1}, {1, 4}, {2, 4}, {2, -1}};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(corners->points[i].x, expected[i][0]) << i;
    EXPECT_EQ(corners->points[i].y, expected[i][1]) << i;
  }
}

// Statistics over the spans of a region, clipped to the image.
TEST(Roi, StatisticsOverSpans) {
  ImagePtr image = memoryImage(P_BYTE, 4, 4, 2);
  for (int row = 0; row < 4; row++)
    for (int band = 0; band < 2; band++) {
      unsigned char values[4];
      for (int x = 0; x < 4; x++) values[x] = static_cast<unsigned char>(band * 100 + row * 4 + x);
      putByteBILData(image.get(), row, 0, 4, band, values);
    }
  Tcl_Interp *interp = testInterp();
  const char *words[] = {"rc", "-2 1 2 3"};  // columns 0 and 1 of rows 1 and 2
  ListPtr chain(parseROIList(interp, 2, words));
  ListPtr spans(polyListToSpans(chain.get()));
  BandHist *hist = ramImageHistWithROI(image.get(), spans.get(), 0);
  ASSERT_NE(hist, nullptr);
  EXPECT_EQ(hist[0].count, 4);
  EXPECT_EQ(hist[0].sum, 4 + 5 + 8 + 9);
  EXPECT_EQ(hist[1].bins[108], 1);
  EXPECT_EQ(image->hist, nullptr);
  freeHist(hist, 2);

  BandHist *kept = ramImageHistWithROI(image.get(), spans.get(), 1);
  EXPECT_EQ(image->hist, kept);

  const char *outside[] = {"rc", "4 0 8 4", "rc", "0 -3 4 -1"};
  ListPtr far(parseROIList(interp, 4, outside));
  ListPtr farSpans(polyListToSpans(far.get()));
  EXPECT_EQ(ramImageHistWithROI(image.get(), farSpans.get(), 0), nullptr);
}
