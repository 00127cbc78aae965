// Lines and polygons burnt into a band: the pixels of the analyser, the
// counts returned, clipping, far and non-finite coordinates.
#include <gtest/gtest.h>
#include <math.h>
#include <set>
#include <utility>
#include <vector>

#include "raster/banddraw.h"
#include "raster/pixels.h"
#include "tests/unit/raster_images.h"

using namespace vesk;
using namespace rastertest;

namespace {

std::set<std::pair<int, int>> setPixels(RAMIMG *image) {
  std::set<std::pair<int, int>> out;
  std::vector<unsigned char> row(static_cast<size_t>(image->header.columns));
  for (int y = 0; y < image->header.rows; y++) {
    getByteBILData(image, y, 0, image->header.columns, 0, row.data());
    for (int x = 0; x < image->header.columns; x++)
      if (row[static_cast<size_t>(x)]) out.insert({x, y});
  }
  return out;
}

PointList *points(std::initializer_list<std::pair<int, int>> xy) {
  PointList *list = polyNew(static_cast<int>(xy.size()));
  int i = 0;
  for (const auto &p : xy) list->points[i++] = {p.first, p.second};
  return list;
}

}  // namespace

TEST(BandDraw, Lines) {
  const struct {
    float x0, y0, x1, y1;
    int count;
    std::set<std::pair<int, int>> pixels;
  } cases[] = {
      {0, 0, 4, 2, 5, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},
      {4, 2, 0, 0, 5, {{4, 2}, {3, 2}, {2, 1}, {1, 1}, {0, 0}}},
      {2, 5, 2, 5, 1, {{2, 5}}},
      {20, 5, 20, 5, 0, {}},
      {1, 0, 1, 3, 4, {{1, 0}, {1, 1}, {1, 2}, {1, 3}}},
      {-3, 2, 3, 2, 4, {{0, 2}, {1, 2}, {2, 2}, {3, 2}}},
      {0, 0, 2, 2, 3, {{0, 0}, {1, 1}, {2, 2}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.x0 << "," << c.y0 << " - " << c.x1 << "," << c.y1);
    ImagePtr image = memoryImage(P_BYTE, 8, 8);
    EXPECT_EQ(drawRAMImageLine(image.get(), 0, 7, c.x0, c.y0, c.x1, c.y1), c.count);
    EXPECT_EQ(setPixels(image.get()), c.pixels);
  }
}

// Lines far longer than the image cost no more than the image.
TEST(BandDraw, FarAndNonFinite) {
  ImagePtr image = memoryImage(P_BYTE, 4, 5);
  EXPECT_EQ(drawRAMImageLine(image.get(), 0, 1, 0, 1, 1e12f, 1), 5);
  EXPECT_EQ(drawRAMImageLine(image.get(), 0, 1, 2e12f, 3, -2e12f, 3), 5);
  EXPECT_EQ(drawRAMImageLine(image.get(), 0, 1, 1, -1e30f, 1, 1e30f), 4);
  EXPECT_EQ(drawRAMImageLine(image.get(), 0, 1, 1e9f, 1e9f, 1e9f + 100, 1e9f), 0);
  EXPECT_EQ(drawRAMImageLine(image.get(), 0, 1, 0, 0, INFINITY, 0), 0);
  EXPECT_EQ(drawRAMImageLine(image.get(), 0, 1, NAN, 0, 1, 1), 0);
  EXPECT_EQ(drawRAMImageLine(image.get(), 0, 1, 0, 0, 3, -INFINITY), 0);
}

TEST(BandDraw, PolylineAndPolygon) {
  ImagePtr image = memoryImage(P_BYTE, 12, 12);
  PointList *square = points({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  EXPECT_EQ(fillRAMImagePolygon(image.get(), 0, 3, square), 20);
  std::set<std::pair<int, int>> want;
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 10; x++) want.insert({x, y});
  EXPECT_EQ(setPixels(image.get()), want);
  polyFree(square);

  ImagePtr lines = memoryImage(P_BYTE, 4, 4);
  PointList *path = points({{0, 0}, {3, 0}, {3, 3}});
  EXPECT_EQ(drawRAMImagePolyline(lines.get(), 0, 2, path), 2);
  EXPECT_EQ(setPixels(lines.get()),
            (std::set<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {3, 2}, {3, 3}}));
  path->count = 1;
  EXPECT_EQ(drawRAMImagePolyline(lines.get(), 0, 2, path), 0);
  polyFree(path);
}
