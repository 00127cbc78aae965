// The ddw widget's pixel rules: 16-bit channel shifts from the masks, the
// stretch of wide samples to bytes (including equal bounds and NaN), the
// colour cube, and surface formats of the usual visuals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "widgets/ddw.h"

namespace vesk {
namespace {

TEST(DdwConvert, ShiftsOfSixteenBitMasks) {
  struct Case {
    unsigned long mask;
    int blue;
    int shift;
    uint32_t of255, of128;
  } cases[] = {
      {0xF800, 0, 8, 0xF800, 0x8000}, {0x07E0, 0, 3, 0x07E0, 0x0400}, {0x001F, 1, -3, 0x1F, 0x10},
      {0x7C00, 0, 7, 0x7C00, 0x4000}, {0x03E0, 0, 2, 0x03E0, 0x0200},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mask);
    EXPECT_EQ(ddwShift16(c.mask, c.blue), c.shift);
    EXPECT_EQ(ddwBits16(c.mask, c.shift, 255), c.of255);
    EXPECT_EQ(ddwBits16(c.mask, c.shift, 128), c.of128);
  }
}

TEST(DdwConvert, StretchOfWideSamples) {
  struct Case {
    double v, low, high;
    int byte;
  } cases[] = {
      {1000, 0, 1000, 255}, {500, 0, 1000, 128}, {0, 0, 1000, 0},   {-1, 0, 1000, 0},
      {1001, 0, 1000, 255}, {2, 1, 3, 128},      {99, 100, 100, 0}, {100, 100, 100, 255},
      {1e30, 100, 100, 255}, {-1e30, -5, -5, 0}, {3.4e38, 0, 1, 255},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.v);
    const double scale = c.high != c.low ? 255.0 / (c.high - c.low) : 0.0;
    EXPECT_EQ(ddwScaleSample(c.v, c.low, c.high, scale), c.byte);
  }
  EXPECT_EQ(ddwScaleSample(std::numeric_limits<double>::quiet_NaN(), 0, 10, 25.5), 0);
}

TEST(DdwConvert, ColourCube) {
  struct Case {
    int entry;
    int r, g, b;
  } cases[] = {{0, 0, 0, 0}, {255, 255, 255, 255}, {226, 255, 0, 170}, {109, 109, 109, 85}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.entry);
    unsigned char rgb[3];
    ddwCubeColor(c.entry, rgb);
    EXPECT_EQ(rgb[0], c.r);
    EXPECT_EQ(rgb[1], c.g);
    EXPECT_EQ(rgb[2], c.b);
  }
}

}  // namespace
}  // namespace vesk
