// The stroke glyph store and font definitions of the raster driver.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "widgets/grass.h"

using namespace vesk;

TEST(HersheyStore, GrowsItsIndexAndAreaByTheRules) {
  GlyphStore store;
  EXPECT_EQ(store.height, 30);
  ASSERT_EQ(storeGlyph(&store, 600, 4, "MWRR"), 1);
  EXPECT_GE(store.slotCount, 601);
  EXPECT_EQ(store.slotCount, 601) << "600 - 0 + 1 is above the 512 minimum";
  EXPECT_EQ(store.byteCapacity, 4096);
  ASSERT_EQ(storeGlyph(&store, 601, 2, "JZ"), 1);
  EXPECT_EQ(store.slotCount, 601 + 512);
  const GlyphEntry *g = getGlyph(&store, 600);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->offset, 0);
  EXPECT_EQ(std::string(glyphCharacters(&store, g), 4), "MWRR");
  // Storing again gives a new place; the old characters stay unused.
  ASSERT_EQ(storeGlyph(&store, 600, 2, "AB"), 1);
  EXPECT_EQ(getGlyph(&store, 600)->offset, 6);
  EXPECT_EQ(store.bytesUsed, 8);
  std::string big(1024, 'R');
  for (int i = 0; i < 5; i++) ASSERT_EQ(storeGlyph(&store, 10 + i, 1024, big.data()), 1);
  EXPECT_EQ(store.byteCapacity, 8192);
}

TEST(HersheyStore, RefusesWhatTheFormCannotHold) {
  GlyphStore store;
  std::string big(1025, 'R');
  EXPECT_EQ(storeGlyph(&store, 1, 1025, big.data()), 0);
  EXPECT_EQ(storeGlyph(&store, -1, 2, "RR"), 0);
  EXPECT_EQ(storeGlyph(&store, 100000, 2, "RR"), 0);
  EXPECT_EQ(storeGlyph(&store, 1, 0, ""), 0);
  EXPECT_EQ(getGlyph(&store, 1), nullptr);
  EXPECT_EQ(getGlyph(&store, -5), nullptr);
  ASSERT_EQ(storeGlyph(&store, 3, 2, "RR"), 1);
  EXPECT_EQ(getGlyph(&store, 2), nullptr) << "an empty slot";
  EXPECT_EQ(getGlyph(&store, store.slotCount), nullptr);
}

TEST(HersheyStore, MeasuresAGlyph) {
  struct Case {
    const char *chars;
    int width, left, top, height;
  } cases[] = {
      {"MWRMNV RRMVV RPSTS", 11, 'M', 'M', 10},
      {"JZ", 17, 'J', 'R', 20},    // no points
      {"RR RRAR]", 1, 'R', 'A', 29},  // a pen lift skipped
  };
  GlyphStore store;
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.chars);
    ASSERT_EQ(storeGlyph(&store, n, static_cast<int>(strlen(c.chars)), c.chars), 1);
    GlyphEntry *e = &store.index[static_cast<size_t>(n++)];
    measureGlyph(&store, e);
    EXPECT_EQ(e->width, c.width);
    EXPECT_EQ(e->left, c.left);
    EXPECT_EQ(e->top, c.top);
    EXPECT_EQ(e->height, c.height);
  }
}

TEST(HersheyStore, LoadsGlyphTextWithLineEnds) {
  GlyphStore store;
  std::string error;
  const std::string text = "    8\r\n  9MWRMNV RRMVV\n RPSTS  600  1JZ 12";
  ASSERT_EQ(loadGlyphBuffer(&store, text.data(), text.size(), &error), 1) << error;
  ASSERT_NE(getGlyph(&store, 8), nullptr);
  EXPECT_EQ(std::string(glyphCharacters(&store, getGlyph(&store, 8)), 18), "MWRMNV RRMVV RPSTS");
  ASSERT_NE(getGlyph(&store, 600), nullptr);
  EXPECT_EQ(getGlyph(&store, 600)->width, 17);
}

TEST(HersheyFontDef, WordsRangesAndLimits) {
  struct Case {
    const char *text;
    int count;  // -1: refused
    int first, last;
  } cases[] = {
      {"32-34 40", 4, 32, 40},
      {"0-1023", 1024, 0, 1023},
      {"0-1024", -1, 0, 0},
      {"1023-0 7", 1, 7, 7},
      {"", 0, 0, 0},
      {"x 9x 10-x", 2, 9, 10},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    FontDef *f = parseFontDef("f", c.text, strlen(c.text), &error);
    if (c.count < 0) {
      EXPECT_EQ(f, nullptr);
      EXPECT_FALSE(error.empty());
      continue;
    }
    ASSERT_NE(f, nullptr) << error;
    EXPECT_EQ(f->count, c.count);
    if (c.count > 0) {
      EXPECT_EQ(f->glyphs.front(), c.first);
      EXPECT_EQ(f->glyphs.back(), c.last);
    }
    freeFontDefs(f);
  }
  std::string error;
  EXPECT_EQ(parseFontDef("sixteen-letters!", "1", 1, &error), nullptr);
  FontDef *f = parseFontDef("fifteen-letters", "1", 1, &error);
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->name, "fifteen-letters");
  freeFontDefs(f);
}
