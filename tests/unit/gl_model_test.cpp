// The OBJ/MTL parser core over text buffers: the index lists of every group
// stay aligned with its face starts whatever the input, and the geometry
// steps run on what was kept.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "gl/glmodel.h"

namespace {

using vesk::GlmGroup;
using vesk::GlmModel;

void expectAligned(const GlmModel &m) {
  for (const GlmGroup &g : m.groups) {
    size_t corners = (size_t)g.faceStarts.back();
    EXPECT_EQ(g.vertices.size(), corners) << g.name;
    if (g.hasNormals) {
      EXPECT_EQ(g.normals.size(), corners) << g.name;
    }
    if (g.hasTexcoords) {
      EXPECT_EQ(g.texcoords.size(), corners) << g.name;
    }
    if (g.hasSmoothing) {
      EXPECT_EQ(g.smoothing.size(), (size_t)g.faces()) << g.name;
    }
    for (int f = 0; f < g.faces(); f++) EXPECT_GE(g.faceStarts[f + 1] - g.faceStarts[f], 3);
    for (int v : g.vertices) EXPECT_LT((size_t)v, m.vertexCount());
    for (int n : g.normals) EXPECT_LT((size_t)n, m.normalCount());
    for (int t : g.texcoords) EXPECT_LT((size_t)t, m.texcoordCount());
  }
}

void runAll(GlmModel &m) {
  vesk::glmUnitize(m, 1.0);
  vesk::glmFacetNormals(m, 2);
  vesk::glmSmooth(m, 2, 60);
  vesk::glmReverse(m);
  vesk::glmSmooth(m, 1, 0);
  expectAligned(m);
}

TEST(GlmParse, MixedCornerPartsAreDroppedWhole) {
  GlmModel m;
  std::string text =
      "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nvt 0 0\n"
      "f 1//1 2//1 3//1\n"  // kept: normals on every corner
      "f 1 2 3\n"           // dropped: the group's earlier corners have normals
      "f 1/1/1 2//1 3//1\n" // dropped: texture on one corner only
      "g other\nf 1/1 2/1 3/1\nf 3/1 2/1 1/1\n";
  vesk::glmParseObj(m, text.data(), text.size(), nullptr);
  ASSERT_EQ(m.groups.size(), 2u);
  EXPECT_EQ(vesk::glmFindGroup(m, "default")->faces(), 1);
  EXPECT_EQ(vesk::glmFindGroup(m, "other")->faces(), 2);
  runAll(m);
}

TEST(GlmParse, IndicesPastTheLongRangeAreRefused) {
  GlmModel m;
  std::string text =
      "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\n"
      "f 1 2 -99999999999999999999999\n"      // saturates to the most negative long
      "f 1 2 99999999999999999999999\n"
      "f 1//-99999999999999999999999 2//1 3//1\n"
      "f 3 2 1\n";
  vesk::glmParseObj(m, text.data(), text.size(), nullptr);
  ASSERT_EQ(m.groups.size(), 1u);
  EXPECT_EQ(m.groups.front().faces(), 1);
  EXPECT_EQ(m.groups.front().vertices, (std::vector<int>{2, 1, 0}));
  runAll(m);
}

TEST(GlmParse, RandomBytesAndLinesNeverBreakTheModel) {
  std::mt19937 rng(7);
  const char *pieces[] = {"v 1 2 3\n", "vn 0 0 1\n", "vt 0.5 0.5\n", "f 1 2 3\n", "f 1/1/1 2/1/1 3/1/1\n",
                          "f 1//1 2//1 3//1 4//1\n", "f -1 0 2\n", "f\n", "g\n", "g x\n", "s 1\n", "s off\n",
                          "usemtl\n", "usemtl m\n", "mtllib\n", "u\n", "m\n", "f 1/ /2 3//\n", "v\n"};
  for (int round = 0; round < 300; round++) {
    std::string text;
    int lines = rng() % 40;
    for (int i = 0; i < lines; i++) {
      if (rng() % 5 == 0) {
        int n = rng() % 30;
        for (int k = 0; k < n; k++) text += (char)(rng() % 256);
      } else {
        text += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
      }
    }
    GlmModel m;
    vesk::glmParseObj(m, text.data(), text.size(), nullptr);
    vesk::glmParseMtl(m, text.data(), text.size());
    expectAligned(m);
    runAll(m);
  }
}

}  // namespace
