// Image header vocabularies, the georeference string and ERDAS byte order.
#include <gtest/gtest.h>
#include <string.h>
#include <string>

#include "raster/imghead.h"

using namespace vesk;

TEST(Vocabulary, NameLookups) {
  struct Case {
    const char *what;
    int (*lookup)(const char *);
    const char *name;
    int code;
  } cases[] = {
      {"mapid", getMapid, "PCS32633", 32633},
      {"mapid", getMapid, "PCS123", -1},
      {"mapid", getMapid, "PCS20000", 20000},
      {"mapid", getMapid, "PCS65535", 65535},
      {"mapid", getMapid, "PCS65536", -1},
      {"mapid", getMapid, "PCS32633xyz", 32633},
      {"mapid", getMapid, "UTM33", 35},
      {"mapid", getMapid, "UTM1", 3},
      {"mapid", getMapid, "UTM60", 62},
      {"mapid", getMapid, "POLAR", 63},
      {"mapid", getMapid, "AEA", 64},
      {"mapid", getMapid, "WINTRI", 183},
      {"mapid", getMapid, "GRID", 1},
      {"mapid", getMapid, "grid", -1},
      {"mapid", getMapid, "UNKNOWN", -1},
      {"pixelid", getPixelid, "UNKNOWN", -1},
      {"pixelid", getPixelid, "1BIT", 1},
      {"pixelid", getPixelid, "SBYTE", 9},
      {"pixelid", getPixelid, "byte", -1},
      {"imgid", getImgid, "UNKNOWN", 0},
      {"imgid", getImgid, "GIF89a", 11},
      {"imgid", getImgid, "GIF89A", -1},
      {"imgid", getImgid, "MRGB1", 30},
      {"imgid", getImgid, "", -1},
      {"imgtype", getImgtype, "GENERAL", 0},
      {"imgtype", getImgtype, "CLASSIFICATION", 6},
      {"imgtype", getImgtype, "UNKNOWN", -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.what) + " " + c.name);
    EXPECT_EQ(c.lookup(c.name), c.code);
  }
  EXPECT_EQ(getMapid(nullptr), -1);
}

TEST(Vocabulary, CodeNames) {
  struct Case {
    const char *(*name)(int);
    int code;
    const char *text;
  } cases[] = {
      {getMapidName, 32633, "PCS32633"}, {getMapidName, 35, "UTM33"},
      {getMapidName, 184, "UNKNOWN"},    {getMapidName, -1, "UNKNOWN"},
      {getMapidName, 19999, "UNKNOWN"},  {getMapidName, 183, "WINTRI"},
      {getImgtypeName, 100, "ELEVATION"}, {getImgtypeName, 101, "GENERAL"},
      {getImgtypeName, 102, "SLOPE"},    {getImgtypeName, 7, "UNKNOWN"},
      {getImgtypeName, -1, "UNKNOWN"},   {getImgtypeName, 5, "PCT"},
      {getPixelidName, 0, "UNKNOWN"},    {getPixelidName, 7, "USHORT"},
      {getImgidName, 26, "MRGB565"},     {getImgidName, 31, "UNKNOWN"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_STREQ(c.name(c.code), c.text);
  }
  // Every table name reads back to its own code.
  for (int i = 1; i < countMapids(); i++) EXPECT_EQ(getMapid(getMapidName(i)), i) << i;
  for (int i = 0; i < countImgids(); i++) EXPECT_EQ(getImgid(getImgidName(i)), i) << i;
}

TEST(Vocabulary, CountsBitsAndMemoryLayouts) {
  EXPECT_EQ(countPixelids(), 10);
  EXPECT_EQ(countImgids(), 31);
  EXPECT_EQ(countMapids(), 184);
  EXPECT_EQ(countImgtypes(), 7);
  const int bits[] = {0, 1, 4, 8, 16, 32, 32, 16, 32, 8};
  for (int i = 0; i < 10; i++) EXPECT_EQ(getPixelBits(i), bits[i]) << i;
  for (int i = 0; i < 31; i++) EXPECT_EQ(isMemoryImgid(i), i >= 21) << i;
  // Bytes per cached line of 10 columns, by pixel type.
  const int64_t lineBytes[] = {10, 2, 5, 10, 20, 40, 40, 20, 40, 10};
  for (int i = 0; i < 10; i++) EXPECT_EQ(pixelLineBytes(i, 10), lineBytes[i]) << i;
  EXPECT_EQ(pixelLineBytes(P_FLOAT, 65536LL * 65536LL), 4 * 65536LL * 65536LL);
}

TEST(ImageHeaderInit, ZeroWithGreyRamp) {
  ImageHeader header;
  memset(&header, 0x5a, sizeof header);
  initImageHeader(&header);
  EXPECT_EQ(header.rows, 0);
  EXPECT_EQ(header.path[0], 0);
  EXPECT_EQ(header.dx, 0.0);
  for (int i = 0; i < 256; i++) {
    EXPECT_EQ(header.palette[i][0], i);
    EXPECT_EQ(header.palette[i][2], i);
  }
}

TEST(ProjString, FormatGridUnitPixels) {
  ImageHeader header;
  initImageHeader(&header);
  header.mapid = MAPID_GRID;
  header.dx = header.dy = 1;
  char text[kProjStringSize];
  const char *expected = "vesk proj:GRID x0:0 y0:0 dx:1 dy:1";
  ASSERT_EQ(strlen(expected), 34u);
  EXPECT_EQ(formatProjString(&header, text, sizeof text), 35);
  EXPECT_STREQ(text, expected);
}

TEST(ProjString, ParseRoundTripAndRefusals) {
  ImageHeader header;
  initImageHeader(&header);
  header.mapid = 32633;
  header.x0 = 500000.125;
  header.y0 = -4.0e6 / 3.0;
  header.dx = 0.1;
  header.dy = 30;
  char text[kProjStringSize];
  formatProjString(&header, text, sizeof text);
  ImageHeader back;
  initImageHeader(&back);
  EXPECT_EQ(parseProjString(&back, text), 1);
  EXPECT_EQ(back.mapid, 32633);
  EXPECT_EQ(back.x0, header.x0);
  EXPECT_EQ(back.y0, header.y0);
  EXPECT_EQ(back.dx, header.dx);
  EXPECT_EQ(back.dy, header.dy);

  EXPECT_EQ(parseProjString(&back, "vesk proj:NOSUCH x0:1 y0:2 dx:3 dy:4"), 1);
  EXPECT_EQ(back.mapid, -1);

  // Texts that do not match leave the header as it was.
  std::string longName = "vesk proj:" + std::string(200, 'A') + " x0:1 y0:2 dx:3 dy:4";
  const char *refused[] = {"vesk proj:GRID x0:1 y0:2 dx:3", "GRID x0:1 y0:2 dx:3 dy:4", "",
                           longName.c_str()};
  for (const char *bad : refused) {
    SCOPED_TRACE(bad);
    ImageHeader before;
    initImageHeader(&before);
    before.mapid = 7;
    before.x0 = 9;
    ImageHeader after = before;
    EXPECT_EQ(parseProjString(&after, bad), 0);
    EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
  }
}

TEST(ErdasHeader, SwapsOnlyTheNumericFields) {
  unsigned char header[128];
  for (int i = 0; i < 128; i++) header[i] = static_cast<unsigned char>(i);
  swapErdasHeader(header);
  EXPECT_EQ(header[6], 7);
  EXPECT_EQ(header[7], 6);
  EXPECT_EQ(header[16], 19);
  EXPECT_EQ(header[19], 16);
  EXPECT_EQ(header[124], 127);
  EXPECT_EQ(header[0], 0);    // the magic stays
  EXPECT_EQ(header[12], 12);  // outside every field
  swapErdasHeader(header);
  for (int i = 0; i < 128; i++) EXPECT_EQ(header[i], i);
}
