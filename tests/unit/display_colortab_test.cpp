// Colour tables and palette allocation: the level rule, table building,
// the shrinking palette request, and allocation on true-colour (24 and 16
// bits) and pseudo-colour (8 bits) colormaps.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "display/colormap.h"
#include "display/colortab.h"
#include "tests/unit/display_harness.h"

using namespace vesk;

TEST(ComputeLevels, SixLevels) {
  int levels[6];
  signed char errors[256];
  int index[256];
  computeLevels(errors, levels, 6, index, 1.0);
  EXPECT_EQ(std::vector<int>(levels, levels + 6), (std::vector<int>{0, 51, 102, 154, 205, 255}));
  EXPECT_EQ(errors[60], 60 - 51);
  EXPECT_EQ(errors[250], 250 - 255);
  EXPECT_EQ(index[0], 0);
  EXPECT_EQ(index[60], 1);
  EXPECT_EQ(index[255], 5);
}

TEST(ComputeLevels, OneLevelLeavesNoStaleErrors) {
  signed char errors[256];
  int index[256];
  int levels[1] = {99};
  for (int v = 0; v < 256; v++) {
    errors[v] = 7;
    index[v] = 7;
  }
  computeLevels(errors, levels, 1, index, 3.0);
  EXPECT_EQ(levels[0], 0);
  for (int v = 0; v < 256; v++) {
    ASSERT_EQ(errors[v], 0) << v;
    ASSERT_EQ(index[v], 0) << v;
  }
}

TEST(BuildColorTable, Requests) {
  struct Case {
    int grey, red, green, blue, entries;
  } cases[] = {
      {256, 0, 0, 0, 256}, {1, 0, 0, 0, 1},   {8, 0, 0, 0, 8},    {257, 0, 0, 0, 0},
      {0, 8, 8, 4, 256},   {0, 7, 7, 7, 0},   {0, 1, 1, 6, 6},    {4, 2, 2, 2, 0},
      {0, 2, 0, 2, 0},     {0, 0, 0, 0, 0},   {-3, 2, 2, 2, 8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.grey << " " << c.red << " " << c.green << " " << c.blue);
    unsigned char table[3 * 256];
    EXPECT_EQ(buildColorTable(table, c.grey, c.red, c.green, c.blue), c.entries);
  }
  unsigned char table[3 * 256];
  ASSERT_EQ(buildColorTable(table, 256, 0, 0, 0), 256);
  for (int i = 0; i < 256; i++) ASSERT_EQ(table[3 * i + 1], i);
  ASSERT_EQ(buildColorTable(table, 1, 0, 0, 0), 1);
  EXPECT_EQ(table[0] + table[1] + table[2], 0);
  ASSERT_EQ(buildColorTable(table, 0, 1, 1, 6), 6);
  const int blues[6] = {0, 51, 102, 154, 205, 255};
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(table[3 * i], 0);
    EXPECT_EQ(table[3 * i + 1], 0);
    EXPECT_EQ(table[3 * i + 2], blues[i]);
  }
  // Red slowest, blue fastest.
  ASSERT_EQ(buildColorTable(table, 0, 2, 2, 2), 8);
  EXPECT_EQ(table[3 * 1 + 2], 255);
  EXPECT_EQ(table[3 * 4 + 0], 255);
}

namespace {

GimgColorState stateFor(Tk_Window tkwin, int depth) {
  GimgColorState state;
  state.display = Tk_Display(tkwin);
  state.colormap = Tk_Colormap(tkwin);
  state.depth = depth;
  return state;
}

}  // namespace

TEST(AllocGimgPalette, ShrinksTheRequestUntilItFits) {
  Tk_Window tkwin = testMainWindow();
  ASSERT_NE(tkwin, nullptr);
  GimgColorState state = stateFor(tkwin, 8);
  int request[4] = {0, 8, 8, 8};
  std::copy(request, request + 4, state.levels);
  ASSERT_EQ(allocGimgPalette(&state), 0);
  EXPECT_EQ(std::vector<int>(state.levels, state.levels + 4), (std::vector<int>{0, 6, 6, 7}));
  EXPECT_EQ(state.pixelCount, 252);
  ASSERT_NE(state.pixels, nullptr);

  int big[4] = {0, 64, 8, 1};  // 512: 64 is halved to 32
  std::copy(big, big + 4, state.levels);
  ASSERT_EQ(allocGimgPalette(&state), 0);
  EXPECT_EQ(std::vector<int>(state.levels, state.levels + 4), (std::vector<int>{0, 32, 8, 1}));

  // Requests that no shrinking can satisfy end instead of looping.
  int none[4] = {0, 0, 0, 0};
  std::copy(none, none + 4, state.levels);
  EXPECT_EQ(allocGimgPalette(&state), 1);
  EXPECT_EQ(state.pixels, nullptr);
  int mixed[4] = {4, 2, 2, 2};
  std::copy(mixed, mixed + 4, state.levels);
  EXPECT_EQ(allocGimgPalette(&state), 1);
  EXPECT_EQ(state.pixelCount, 0);

  // Deep displays need no palette.
  GimgColorState deep = stateFor(tkwin, 24);
  EXPECT_EQ(allocGimgPalette(&deep), 0);
  EXPECT_EQ(deep.pixels, nullptr);
  freeGimgPalette(&state);
}

TEST(AllocGimgPalette, TruePaletteFirstThenTheRamp) {
  Tk_Window tkwin = testMainWindow();
  ASSERT_NE(tkwin, nullptr);
  GimgColorState state = stateFor(tkwin, 8);
  const unsigned char palette[6] = {255, 0, 0, 0, 0, 255};
  state.truePalette = 1;
  state.palette = palette;
  state.paletteEntries = 2;
  ASSERT_EQ(allocGimgPalette(&state), 0);
  EXPECT_EQ(state.pixelCount, 2);
  EXPECT_EQ(state.truePalette, 1);
  state.paletteEntries = 0;
  ASSERT_EQ(allocGimgPalette(&state), 0);
  EXPECT_EQ(state.truePalette, 0);
  EXPECT_EQ(state.pixelCount, 28);  // the default grey ramp
  freeGimgPalette(&state);
  EXPECT_EQ(state.pixelCount, 0);
}

TEST(AllocNearestColors, TrueColorPixelsAreComputed) {
  for (int depth : {24, 16}) {
    SCOPED_TRACE(depth);
    Tk_Window tkwin = depth == 24 ? testMainWindow() : windowAtDepth(depth);
    if (!tkwin || Tk_Depth(tkwin) != depth) GTEST_SKIP() << "no display of depth " << depth;
    Visual *visual = Tk_Visual(tkwin);
    ASSERT_EQ(visual->c_class, TrueColor);
    const unsigned char table[9] = {0x12, 0x34, 0x56, 255, 255, 255, 0xf8, 0x04, 0x80};
    unsigned long *pixels = allocNearestColors(Tk_Display(tkwin), Tk_Colormap(tkwin), table, 3);
    ASSERT_NE(pixels, nullptr);
    for (int i = 0; i < 3; i++) {
      SCOPED_TRACE(i);
      unsigned long expect = 0;
      if (depth == 24) {
        expect = (static_cast<unsigned long>(table[3 * i]) << 16) |
                 (static_cast<unsigned long>(table[3 * i + 1]) << 8) | table[3 * i + 2];
      } else {
        auto level = [](unsigned v, unsigned max) { return (v * max + 127) / 255; };
        expect = (static_cast<unsigned long>(level(table[3 * i], 31)) << 11) |
                 (static_cast<unsigned long>(level(table[3 * i + 1], 63)) << 5) |
                 level(table[3 * i + 2], 31);
      }
      EXPECT_EQ(pixels[i], expect);
      // The same value the server hands out.
      XColor color;
      color.red = static_cast<unsigned short>(table[3 * i] * 257);
      color.green = static_cast<unsigned short>(table[3 * i + 1] * 257);
      color.blue = static_cast<unsigned short>(table[3 * i + 2] * 257);
      ASSERT_TRUE(XAllocColor(Tk_Display(tkwin), Tk_Colormap(tkwin), &color));
      EXPECT_EQ(pixels[i], color.pixel);
    }
    EXPECT_EQ(allocNearestColors(Tk_Display(tkwin), Tk_Colormap(tkwin), table, 0), nullptr);
    freeColorPixels(Tk_Display(tkwin), Tk_Colormap(tkwin), pixels, 3);
    Tcl_Free(reinterpret_cast<char *>(pixels));
  }
}

TEST(AllocNearestColors, PseudoColorExactWhileCellsLastThenNearest) {
  Tk_Window tkwin = windowAtDepth(8);
  if (!tkwin || Tk_Depth(tkwin) != 8) GTEST_SKIP() << "no display of depth 8";
  Display *display = Tk_Display(tkwin);
  Colormap colormap = Tk_Colormap(tkwin);
  ASSERT_EQ(Tk_Visual(tkwin)->c_class, PseudoColor);
  // 300 distinct colours: more than the colormap has cells.
  std::vector<unsigned char> table;
  for (int i = 0; i < 300; i++) {
    table.push_back(static_cast<unsigned char>(17 + (i * 37) % 223));
    table.push_back(static_cast<unsigned char>(5 + (i * 11) % 241));
    table.push_back(static_cast<unsigned char>(3 + i % 199));
  }
  unsigned long *pixels = allocNearestColors(display, colormap, table.data(), 300);
  ASSERT_NE(pixels, nullptr);
  std::vector<XColor> cells(256);
  ASSERT_EQ(queryPaletteColors(display, colormap, cells.data(), 256), 256);
  int exact = 0;
  bool full = false;
  for (int i = 0; i < 300; i++) {
    SCOPED_TRACE(i);
    const XColor &got = cells[pixels[i]];
    bool same = (got.red >> 8) == table[3 * i] && (got.green >> 8) == table[3 * i + 1] &&
                (got.blue >> 8) == table[3 * i + 2];
    if (!full && same) {
      exact++;
      continue;
    }
    full = true;  // from here on the colormap is full: the nearest cell
    double best = 1e300;
    for (const XColor &cell : cells) {
      double dr = cell.red - table[3 * i] * 256.0, dg = cell.green - table[3 * i + 1] * 256.0,
             db = cell.blue - table[3 * i + 2] * 256.0;
      best = std::min(best, dr * dr + dg * dg + db * db);
    }
    double dr = got.red - table[3 * i] * 256.0, dg = got.green - table[3 * i + 1] * 256.0,
           db = got.blue - table[3 * i + 2] * 256.0;
    EXPECT_EQ(dr * dr + dg * dg + db * db, best);
  }
  EXPECT_GT(exact, 100);
  EXPECT_TRUE(full);
  freeColorPixels(display, colormap, pixels, 300);
  Tcl_Free(reinterpret_cast<char *>(pixels));

  // With the cells back, a grey ramp palette is allocated exactly.
  GimgColorState state;
  state.display = display;
  state.colormap = colormap;
  state.depth = 8;
  ASSERT_EQ(allocGimgPalette(&state), 0);
  ASSERT_EQ(state.pixelCount, 28);
  int levels[28];
  computeLevels(nullptr, levels, 28, nullptr, 0);
  for (int i = 0; i < 28; i++) {
    XColor color;
    color.pixel = state.pixels[i];
    ASSERT_EQ(queryPaletteColor(display, colormap, &color), 1);
    EXPECT_EQ(color.red >> 8, levels[i]);
  }
  freeGimgPalette(&state);
}
