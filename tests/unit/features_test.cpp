// Feature sets: the block and its items, feature files read back and
// refused when corrupt, the statistics kernels, eigenpairs by power
// iteration, matrix inversion and the console reports.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <glob.h>
#include <math.h>
#include <stdint.h>
#include <tcl.h>
#include <unistd.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/core.h"
#include "processing/features.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

// Collects what the library prints, per stream, while alive.
class Streams {
 public:
  Streams() : interp_(Tcl_CreateInterp()) {
    Tcl_Eval(interp_,
             "rename puts {}\n"
             "proc puts args {append ::[lindex $args end-1] [lindex $args end]}");
    previous_ = setStdioInterp(interp_);
  }
  ~Streams() {
    setStdioInterp(previous_);
    Tcl_DeleteInterp(interp_);
  }
  std::string text(const char *stream) {
    const char *out = Tcl_GetVar(interp_, stream, TCL_GLOBAL_ONLY);
    return out ? out : "";
  }

 private:
  Tcl_Interp *interp_;
  Tcl_Interp *previous_;
};

// Frees a set at the end of a scope.
struct SetHolder {
  FeatureSet *set;
  explicit SetHolder(FeatureSet *s) : set(s) {}
  ~SetHolder() { freeFeature(set); }
};

std::string tempPath(const char *name) {
  return testing::TempDir() + "features-" + std::to_string(getpid()) + "-" + name;
}

std::vector<unsigned char> readBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string &path, const std::vector<unsigned char> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

int32_t le32(const std::vector<unsigned char> &b, size_t at) {
  return static_cast<int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                              static_cast<uint32_t>(b[at + 3]) << 24);
}
void setLe32(std::vector<unsigned char> &b, size_t at, int32_t v) {
  unsigned char le[4];
  for (int i = 0; i < 4; i++)
    le[i] = static_cast<unsigned char>(static_cast<uint32_t>(v) >> (8 * i));
  memcpy(&b.at(at), le, 4);
}

// A STATFTUR set of n bands (1..n as 0-based 0..n-1) with one item per class.
FeatureSet *statSet(int n, const std::vector<StatItem> &items) {
  std::vector<int> bands(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) bands[i] = i;
  FeatureSet *set = newFeature(kStatTag, bands.data(), n, statItemSize(n),
                               static_cast<int>(items.size()), nullptr, kStatExtraSize);
  for (size_t k = 0; k < items.size(); k++) writeStatItem(set, static_cast<int>(k), items[k]);
  return set;
}

StatItem item2(const char *name, int count, double m0, double m1, double c00, double c10,
               double c11) {
  StatItem s;
  s.name = name;
  s.count = count;
  s.mean = {m0, m1};
  s.cov = {c00, c10, c11};
  return s;
}

TEST(FeatureLayout, SizesAndPackedIndex) {
  EXPECT_EQ(statItemSize(1), 80);
  EXPECT_EQ(statItemSize(3), 108);
  EXPECT_EQ(statItemSize(7), 212);
  EXPECT_EQ(eigenItemSize(1), 16);
  EXPECT_EQ(eigenExtraSize(2), 532);
  const int cases[][3] = {{0, 0, 0}, {1, 0, 1}, {1, 1, 2}, {2, 0, 3},
                          {2, 2, 5}, {0, 2, 3}, {1, 3, 7}};
  for (auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << "," << c[1]);
    EXPECT_EQ(packedIndex(c[0], c[1]), c[2]);
  }
}

TEST(FeatureSets, GrowCutDeleteAndHeadWords) {
  const int bands[] = {4, 2};
  char extra[kIsoExtraSize] = "source";
  FeatureSet *set = newFeature(kIsoTag, bands, 2, 16 * 2 + 12, 1, extra, kIsoExtraSize);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(getFeatureInfo(set, 0), 32 + 8 + kIsoExtraSize + 44);
  EXPECT_EQ(getFeatureInfo(set, 1), 1);
  EXPECT_EQ(getFeatureInfo(set, 2), 44);
  EXPECT_EQ(getFeatureInfo(set, 3), 32 + 8 + kIsoExtraSize);
  EXPECT_EQ(getFeatureInfo(set, 4), 2);
  EXPECT_EQ(getFeatureInfo(set, 5), FEATURE_ISO);
  EXPECT_EQ(getFeatureModified(set), 0);
  EXPECT_EQ(getFeatureBand(set, 0), 4);
  EXPECT_EQ(getFeatureBand(set, 2), -1);
  EXPECT_STREQ(reinterpret_cast<char *>(getFeatureExtra(set)), "source");
  EXPECT_EQ(getFeatureItem(set, 1), nullptr);

  unsigned char item[44];
  for (int i = 0; i < 44; i++) item[i] = static_cast<unsigned char>(i + 1);
  set = addFeature(set, item);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(getFeatureInfo(set, 1), 2);
  EXPECT_EQ(memcmp(getFeatureItem(set, 1), item, 44), 0);
  EXPECT_EQ(cutFeature(set, 2), set);  // the same count is the same block
  set = cutFeature(set, 4);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(getFeatureInfo(set, 0), getFeatureInfo(set, 3) + 4 * 44);
  for (int i = 0; i < 44; i++) ASSERT_EQ(getFeatureItem(set, 3)[i], 0);
  set = delFeatureItem(set, 0);
  EXPECT_EQ(getFeatureInfo(set, 1), 3);
  EXPECT_EQ(memcmp(getFeatureItem(set, 0), item, 44), 0);
  EXPECT_EQ(delFeatureItem(set, 3), set);
  set = cutFeature(set, -2);
  EXPECT_EQ(getFeatureInfo(set, 1), 0);

  Streams streams;
  EXPECT_EQ(getFeatureInfo(set, 9), 0);
  EXPECT_EQ(streams.text("stderr"), "Undefine feature info.\n");
  freeFeature(set);

  FeatureSet *bare = newFeature("NOTAKIND", nullptr, 0, 4, 0, nullptr, -5);
  EXPECT_EQ(getFeatureExtra(bare), nullptr);
  EXPECT_EQ(getFeatureInfo(bare, 0), 0);
  EXPECT_EQ(streams.text("stderr"), "Undefine feature info.\nUnknown feature ID.\n");
  freeFeature(bare);
}

TEST(FeatureFiles, RoundTripIsLittleEndianAndByTag) {
  SetHolder h(statSet(2, {item2("Water", 10, 1.5, 2.5, 4, 1, 9),
                          item2("forest", 5, 7, 8, 1, 0, 1)}));
  std::string path = tempPath("round.sta");
  ASSERT_EQ(putFeature(path.c_str(), h.set), 1);
  std::vector<unsigned char> bytes = readBytes(path);
  ASSERT_EQ(bytes.size(), 32u + 8 + 192 + 2 * 92);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "STATFTUR");
  EXPECT_EQ(le32(bytes, 8), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(le32(bytes, 16), 232);
  EXPECT_EQ(le32(bytes, 20), 92);
  EXPECT_EQ(le32(bytes, 24), 2);
  EXPECT_EQ(le32(bytes, 28), 2);
  EXPECT_EQ(le32(bytes, 36), 1);  // second band number
  // The first mean, 1.5f, at item 0 + 72.
  EXPECT_EQ(le32(bytes, 232 + 72), 0x3FC00000);

  Streams streams;
  FeatureSet *back = getFeature(path.c_str(), kStatTag);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(memcmp(back, h.set, bytes.size()), 0);
  EXPECT_EQ(findStatItem(back, "FOREST"), 1);
  EXPECT_EQ(findStatItem(back, "desert"), -1);
  StatItem s;
  ASSERT_TRUE(readStatItem(back, 0, &s));
  EXPECT_EQ(s.name, "Water");
  EXPECT_EQ(s.count, 10);
  EXPECT_EQ(s.cov[2], 9.0);
  freeFeature(back);
  FeatureSet *none = getFeature(path.c_str(), kEigenTag);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(getFeature((path + ".missing").c_str(), nullptr), nullptr);
  EXPECT_EQ(streams.text("stderr"), "");
  // No temporary file is left beside the target.
  glob_t found;
  EXPECT_EQ(glob((path + ".*").c_str(), 0, nullptr, &found), GLOB_NOMATCH);
  globfree(&found);
  unlink(path.c_str());

  std::string bad = "/no/such/dir/x.sta";
  EXPECT_EQ(putFeature(bad.c_str(), h.set), 0);
  EXPECT_EQ(streams.text("stderr"), bad + ": No such file or directory\n");
}

TEST(FeatureFiles, CorruptFilesAreRefused) {
  SetHolder h(statSet(2, {item2("a", 10, 1, 2, 4, 1, 9)}));
  std::string path = tempPath("corrupt.sta");
  ASSERT_EQ(putFeature(path.c_str(), h.set), 1);
  const std::vector<unsigned char> good = readBytes(path);
  const int total = static_cast<int>(good.size());

  struct Case {
    const char *what;
    std::vector<unsigned char> bytes;
    std::string message;
  };
  std::vector<Case> cases;
  cases.push_back({"short head", {good.begin(), good.begin() + 20},
                   "Error in reading features. count 20 size 36\n"});
  cases.push_back({"truncated body", {good.begin(), good.end() - 4},
                   fmt("Error in reading features. count %d size %d\n", total - 4, total)});
  std::vector<unsigned char> b = good;
  setLe32(b, 8, 0x7fffffff);
  cases.push_back({"total past the end", b,
                   fmt("Error in reading features. count %d size 2147483647\n", total)});
  b = good;
  setLe32(b, 28, 100000000);
  cases.push_back({"huge band count", b, "Wrong band count in feature file: 100000000\n"});
  b = good;
  setLe32(b, 16, 44);
  cases.push_back({"head bytes", b, "Wrong head bytes in feature file: 44 for 2 bands\n"});
  b = good;
  setLe32(b, 20, 8);
  cases.push_back({"item bytes", b, "Wrong item bytes in feature file: 8 for 2 bands\n"});
  b = good;
  setLe32(b, 24, 3);
  cases.push_back({"item count", b, "Wrong item count in feature file: 3\n"});
  b = good;
  setLe32(b, 24, -1);
  cases.push_back({"negative count", b, "Wrong item count in feature file: -1\n"});
  b = good;
  memcpy(b.data(), "BOGUSTAG", 8);
  cases.push_back({"unknown tag", b, "Unknown feature ID.\n"});

  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    writeBytes(path, c.bytes);
    Streams streams;
    EXPECT_EQ(getFeature(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(streams.text("stderr"), c.message);
    EXPECT_EQ(checkFeatureBlock(c.bytes.data(), static_cast<int64_t>(c.bytes.size())), c.message);
  }
  // Asked for a tag, another kind or garbage is refused without a word.
  Streams streams;
  EXPECT_EQ(getFeature(path.c_str(), kStatTag), nullptr);
  EXPECT_EQ(streams.text("stderr"), "");
  unlink(path.c_str());
}

// Every head word set to awkward values: a block the check accepts must be
// safe to read through every accessor and report (the sanitizer build
// watches the reads).
TEST(FeatureFiles, MutatedHeadsAreRefusedOrSafe) {
  SetHolder h(statSet(2, {item2("a", 10, 1, 2, 4, 1, 9), item2("b", 3, 0, 0, 1, 0, 1)}));
  const int total = getFeatureInfo(h.set, 0);
  const unsigned char *base = reinterpret_cast<const unsigned char *>(h.set);
  const std::vector<unsigned char> good(base, base + total);
  const int32_t values[] = {0, 1, -1, 3, 36, 108, 256, INT32_MAX, INT32_MIN, total};
  int accepted = 0;
  Streams streams;
  for (size_t at = 8; at + 4 <= 48; at += 4) {
    for (int32_t v : values) {
      std::vector<unsigned char> b = good;
      setLe32(b, at, v);
      if (!checkFeatureBlock(b.data(), static_cast<int64_t>(b.size())).empty()) continue;
      accepted++;
      const FeatureSet *set = reinterpret_cast<const FeatureSet *>(b.data());
      StatItem s;
      for (int i = 0; i < getFeatureInfo(set, 1); i++) {
        ASSERT_TRUE(readStatItem(set, i, &s));
        printStatItem(set, i, 15);
      }
      printFeatureBands(set);
      printStatSource(set);
      findStatItem(set, "b");
    }
  }
  EXPECT_GT(accepted, 0);  // the band numbers and the modified word are free
}

TEST(FeatureMatrices, DgbInvertsAndRefusesSingular) {
  double a[] = {2, 1, 1, 2};
  EXPECT_NEAR(dgb(a, 2), 3.0, 1e-12);
  const double inv[] = {2.0 / 3, -1.0 / 3, -1.0 / 3, 2.0 / 3};
  for (int i = 0; i < 4; i++) EXPECT_NEAR(a[i], inv[i], 1e-12);

  double packed[] = {4, 2, 3, 0.5, 1, 2};  // (4; 2 3; 0.5 1 2)
  double det = invertPackedMatrix(packed, 3);
  EXPECT_NEAR(det, 4 * (6 - 1) - 2 * (4 - 0.5) + 0.5 * (2 - 1.5), 1e-12);
  // numpy.linalg.inv([[4,2,.5],[2,3,1],[.5,1,2]]) lower triangle
  const double expect[] = {0.3773584906, -0.2641509434, 0.5849056604,
                           0.0377358491, -0.2264150943, 0.6037735849};
  for (int i = 0; i < 6; i++) EXPECT_NEAR(packed[i], expect[i], 1e-9);

  Streams streams;
  double s[] = {1, 2, 2, 4};
  EXPECT_EQ(dgb(s, 2), 0.0);
  EXPECT_EQ(streams.text("stderr"), "Error in dgb - zero value of a main element: 1\n");
}

TEST(FeatureMatrices, PowerIterationAndDeflation) {
  double a[] = {2, 1, 2};
  double v[2];
  EXPECT_NEAR(calcEV(a, v, 2, 1e-7f, 1000), 3.0, 1e-6);
  EXPECT_NEAR(v[0], M_SQRT1_2, 1e-6);
  EXPECT_NEAR(v[1], M_SQRT1_2, 1e-6);
  EXPECT_NEAR(a[0], 0.5, 1e-6);
  EXPECT_NEAR(a[1], -0.5, 1e-6);
  EXPECT_NEAR(a[2], 0.5, 1e-6);
  EXPECT_NEAR(calcEV(a, v, 2, 1e-7f, 1000), 1.0, 1e-6);
  EXPECT_NEAR(fabs(v[0]), M_SQRT1_2, 1e-6);
  EXPECT_NEAR(v[0], -v[1], 1e-6);
  EXPECT_NEAR(v[0] * v[0] + v[1] * v[1], 1.0, 1e-12);

  double d[] = {5, 0, 9, 0, 0, 1};  // diag(5, 9, 1): the start vector is already one
  double w[3];
  EXPECT_EQ(calcEV(d, w, 3, 1e-7f, 1000), 5.0);
  EXPECT_EQ(w[0], 1.0);
  // Now (0, 0, 0; 0, 9, 0; 0, 0, 1): the first axis is gone, the largest diagonal leads.
  EXPECT_EQ(calcEV(d, w, 3, 1e-7f, 1000), 9.0);
  EXPECT_EQ(w[1], 1.0);
  EXPECT_EQ(calcEV(d, w, 3, 1e-7f, 1000), 1.0);

  double zero[] = {0, 0, 0};  // nothing left: 0, and no division by it
  EXPECT_EQ(calcEV(zero, v, 2, 1e-7f, 100), 0.0);
  EXPECT_EQ(v[0], 1.0);
}

TEST(FeatureEigen, AllPairsOfAStatItem) {
  StatItem s;
  s.name = "class1";
  s.count = 100;
  s.mean = {10, 20, 30};
  s.cov = {4, 1, 3, 0, 0, 1};  // (4 1 0; 1 3 0; 0 0 1)
  SetHolder h(statSet(3, {s}));
  FeatureSet *eigen = calcAllEV(7, h.set, 0, 0, 1e-7f, 10000);
  ASSERT_NE(eigen, nullptr);
  EXPECT_EQ(getFeatureInfo(eigen, 1), 3);
  EXPECT_EQ(getFeatureInfo(eigen, 2), eigenItemSize(3));
  const double values[] = {(7 + sqrt(5.0)) / 2, (7 - sqrt(5.0)) / 2, 1};
  double percent = 0;
  for (int j = 0; j < 3; j++) {
    EigenItem e;
    ASSERT_TRUE(getEigenItem(eigen, j, &e));
    EXPECT_EQ(e.index, j);
    EXPECT_NEAR(e.value, values[j], 1e-4);
    percent += e.percent;
  }
  EXPECT_NEAR(percent, 100.0, 1e-3);
  EigenExtra x;
  ASSERT_TRUE(getEigenExtra(eigen, &x));
  EXPECT_EQ(x.source, "class1 0");
  EXPECT_EQ(x.normalized, 0);
  EXPECT_EQ(x.variance, (std::vector<double>{4, 3, 1}));
  EXPECT_EQ(x.mean, (std::vector<double>{10, 20, 30}));
  // The set survives a file round trip with its extra head.
  std::string path = tempPath("eigen.egv");
  ASSERT_EQ(putFeature(path.c_str(), eigen), 1);
  FeatureSet *back = getFeature(path.c_str(), kEigenTag);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(memcmp(back, eigen, static_cast<size_t>(getFeatureInfo(eigen, 0))), 0);
  freeFeature(back);
  freeFeature(eigen);
  unlink(path.c_str());

  // Normalised: the item turns into correlations, the extra keeps the raw values.
  SetHolder g(statSet(2, {item2("n", 10, 3, 4, 4, 2, 9)}));
  eigen = calcAllEV(2, g.set, 1, 0, 1e-7f, 10000);
  ASSERT_TRUE(getEigenExtra(eigen, &x));
  EXPECT_EQ(x.normalized, 1);
  EXPECT_EQ(x.variance, (std::vector<double>{4, 9}));
  EigenItem first;
  getEigenItem(eigen, 0, &first);
  EXPECT_NEAR(first.value, 1 + 2.0 / 6, 1e-5);  // correlation 1/3
  freeFeature(eigen);
}

TEST(FeatureStats, SumsMergeAndInvert) {
  // Five 2-band pixels in two batches; the merged covariance is the
  // population covariance of all five.
  const float px[] = {1, 2, 3, 5, 4, 4, 0, 1, 7, 3};
  double cross[3] = {0}, sums[2] = {0}, moments[3] = {0}, means[2] = {0};
  accumulateStatSums(cross, sums, 2, px, 3);
  int n = mergeStatSums(0, 2, moments, means, cross, sums, 3);
  double cross2[3] = {0}, sums2[2] = {0};
  accumulateStatSums(cross2, sums2, 2, px + 6, 2);
  n = mergeStatSums(n, 2, moments, means, cross2, sums2, 2);
  EXPECT_EQ(n, 5);
  subtractMeanProduct(moments, means, 2);
  // numpy: x=[1,3,4,0,7], y=[2,5,4,1,3]; np.cov(..., bias=True)
  EXPECT_NEAR(means[0], 3.0, 1e-12);
  EXPECT_NEAR(means[1], 3.0, 1e-12);
  EXPECT_NEAR(moments[0], 6.0, 1e-12);
  EXPECT_NEAR(moments[1], 1.8, 1e-12);
  EXPECT_NEAR(moments[2], 2.0, 1e-12);

  // An empty item takes the batch as it is; a second batch pools with it.
  SetHolder h(statSet(2, {item2("a", 0, 0, 0, 0, 0, 0)}));
  const double c1[] = {14.0 / 9, 11.0 / 9, 14.0 / 9}, m1[] = {8.0 / 3, 11.0 / 3};  // first 3 pixels
  ASSERT_EQ(mergeStatItem(h.set, 0, c1, m1, 3), 1);
  const double c2[] = {12.25, 3.5, 1.0}, m2[] = {3.5, 2.0};  // last 2 pixels
  ASSERT_EQ(mergeStatItem(h.set, 0, c2, m2, 2), 1);
  EXPECT_EQ(mergeStatItem(h.set, 1, c2, m2, 2), 0);
  StatItem s;
  readStatItem(h.set, 0, &s);
  EXPECT_EQ(s.count, 5);
  EXPECT_NEAR(s.mean[0], 3.0, 1e-6);
  EXPECT_NEAR(s.cov[0], 6.0, 1e-5);
  EXPECT_NEAR(s.cov[1], 1.8, 1e-5);
  EXPECT_NEAR(s.cov[2], 2.0, 1e-5);

  double det = 0;
  ASSERT_EQ(invertStatCov(h.set, 0, &det), 1);
  EXPECT_NEAR(det, 12 - 3.24, 1e-4);
  readStatItem(h.set, 0, &s);
  EXPECT_NEAR(s.cov[0], 2.0 / 8.76, 1e-6);
  EXPECT_NEAR(s.cov[1], -1.8 / 8.76, 1e-6);

  Streams streams;
  SetHolder few(statSet(2, {item2("few", 1, 0, 0, 1, 0, 1)}));
  EXPECT_EQ(invertStatCov(few.set, 0, &det), 0);
  EXPECT_EQ(streams.text("stderr"), "Not enough samples.\n");
  readStatItem(few.set, 0, &s);
  EXPECT_EQ(s.cov, (std::vector<double>{1, 0, 1}));
  SetHolder sing(statSet(2, {item2("sing", 9, 0, 0, 1, 1, 1)}));
  EXPECT_EQ(invertStatCov(sing.set, 0, &det), 0);
  readStatItem(sing.set, 0, &s);
  EXPECT_EQ(s.cov, (std::vector<double>{1, 1, 1}));  // kept though dgb worked on a copy

  ASSERT_EQ(normalizeStatCov(h.set, 0), 1);
  SetHolder k(statSet(2, {item2("k", 9, 5, 6, 4, 3, 9)}));
  normalizeStatCov(k.set, 0);
  readStatItem(k.set, 0, &s);
  EXPECT_EQ(s.mean, (std::vector<double>{1, 1}));
  EXPECT_NEAR(s.cov[1], 0.5, 1e-7);
  EXPECT_EQ(s.cov[2], 1.0);
}

TEST(FeatureReports, BandsItemsAndEigenTables) {
  std::vector<int> bands = {0, 1, 2, 3, 4, 5, 6, 7};
  FeatureSet *set = newFeature(kStatTag, bands.data(), 8, statItemSize(8), 0, nullptr, 0);
  {
    Streams streams;
    printFeatureBands(set);
    printStatSource(set);
    EXPECT_EQ(streams.text("stdout"),
              "Bands: 8\n         1         2         3         4         5         6"
              "         7         8\n\nNo private info.\n");
  }
  freeFeature(set);

  SetHolder h(statSet(2, {item2("Water", 10, 1.5, 2.5, 4, 1, 9)}));
  {
    Streams streams;
    printStatItem(h.set, 0, 1 | 2 | 8);
    EXPECT_EQ(streams.text("stdout"),
              "Stat Info Sequence # 0\nID     : 0\nname   : Water\nnote   : \nnPixels: 10\n"
              "Mean values:\n   1.500000e+00   2.500000e+00\n"
              "Std values:\n   4.000000e+00   9.000000e+00\n"
              "Correlation values:\n   1.000000e+00   1.666667e-01\n"
              "   1.666667e-01   1.000000e+00\n\n");
  }
  FeatureSet *eigen = calcAllEV(2, h.set, 0, 0, 1e-7f, 1000);
  ASSERT_NE(eigen, nullptr);
  {
    Streams streams;
    printEigenVectors(eigen, 1);
    std::string out = streams.text("stdout");
    const std::string head = "\n\nEigen Vector Information\nID    :      1            2      \n";
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_NE(out.find("APct  :"), std::string::npos);
    EXPECT_NE(out.find("\nVector:\nch   1:"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 2), "\n\n");
  }
  freeFeature(eigen);

  Streams streams;
  isoPrint(h.set, 7);
  EXPECT_EQ(streams.text("stderr"), "Wrong flag for isoPrint\n");
  EXPECT_EQ(streams.text("stdout"), "");
}

TEST(FeatureReports, StatItemPartsByFlag) {
  SetHolder h(statSet(2, {item2("Water", 10, 1.5, 2.5, 4, 1, 9)}));
  Tcl_Interp *interp = Tcl_CreateInterp();
  struct Case {
    int flags, parts;
    const char *result;
  } cases[] = {
      {1, 1, "1.5 2.5"},
      {2, 1, "4 9"},
      {1 | 4, 2, "1.5 2.5 {4 1 1 9}"},
      {8, 1, "1 0.166667 0.166667 1"},
      {15, 4, "1.5 2.5 {4 9} {4 1 1 9} {1 0.166667 0.166667 1}"},
      {0, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.flags);
    Tcl_ResetResult(interp);
    EXPECT_EQ(appendStatItem(interp, h.set, 0, c.flags), c.parts);
    EXPECT_STREQ(Tcl_GetStringResult(interp), c.result);
  }
  // After something already in the result, the first part is braced too.
  Tcl_SetResult(interp, const_cast<char *>("x"), TCL_STATIC);
  EXPECT_EQ(appendStatItem(interp, h.set, 0, 2), 1);
  EXPECT_STREQ(Tcl_GetStringResult(interp), "x {4 9}");
  // An index out of the set appends nothing.
  Tcl_ResetResult(interp);
  EXPECT_EQ(appendStatItem(interp, h.set, 1, 15), 0);
  EXPECT_EQ(appendStatItem(interp, h.set, -1, 15), 0);
  EXPECT_STREQ(Tcl_GetStringResult(interp), "");
  Tcl_DeleteInterp(interp);
}

TEST(FeatureSums, BatchesMergedThenFinishedIntoMeanAndCovariance) {
  // Samples (1, 2), (3, 4) in one batch and (5, 0) in another; population
  // mean (3, 2), variances 8/3, covariance -4/3.
  SetHolder h(statSet(2, {item2("", 0, 0, 0, 0, 0, 0)}));
  const double sums1[2] = {4, 6}, cross1[3] = {10, 14, 20};
  const double sums2[2] = {5, 0}, cross2[3] = {25, 0, 0};
  EXPECT_EQ(addStatSums(h.set, 0, cross1, sums1, 2), 1);
  EXPECT_EQ(addStatSums(h.set, 0, cross2, sums2, 1), 1);
  EXPECT_EQ(addStatSums(h.set, 1, cross2, sums2, 1), 0);
  EXPECT_EQ(finishStatItem(h.set, 0, "veg", 4), 1);
  EXPECT_EQ(finishStatItem(h.set, -1, "veg", 4), 0);
  StatItem s;  // the block keeps single-precision values
  ASSERT_TRUE(readStatItem(h.set, 0, &s));
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(s.name, "veg");
  EXPECT_EQ(s.sequence, 4);
  EXPECT_EQ(s.note.size(), 24u);  // the time, as ctime gives it without its newline
  EXPECT_NEAR(s.mean[0], 3, 1e-6);
  EXPECT_NEAR(s.mean[1], 2, 1e-6);
  EXPECT_NEAR(s.cov[0], 8.0 / 3, 1e-6);
  EXPECT_NEAR(s.cov[1], -4.0 / 3, 1e-6);
  EXPECT_NEAR(s.cov[2], 8.0 / 3, 1e-6);
}

TEST(FeatureReports, OneEigenVector) {
  SetHolder h(statSet(2, {item2("Water", 10, 1.5, 2.5, 4, 1, 9)}));
  FeatureSet *eigen = calcAllEV(2, h.set, 0, 0, 1e-7f, 1000);
  ASSERT_NE(eigen, nullptr);
  {
    Streams streams;
    printEigenVector(eigen, 1);
    const std::string out = streams.text("stdout");
    EXPECT_EQ(out.rfind("\nEVID: 2  Value: ", 0), 0u) << out;
    EXPECT_NE(out.find("  Percent: "), std::string::npos);
    // Two components of 15 characters, then the final newline.
    const size_t line = out.find('\n', 1);
    EXPECT_EQ(out.size() - line - 1, 2u * 15 + 1) << out;
  }
  {
    Streams streams;
    printEigenVector(eigen, 2);  // no such pair: nothing
    EXPECT_EQ(streams.text("stdout"), "");
  }
  freeFeature(eigen);
}

}  // namespace
