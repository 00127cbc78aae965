// GCP sets: fits against numpy figures from tests/data/gcp/make_reference.py,
// the record operations, the GCPOBJ file and the rectification parameter file.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <algorithm>
#include <fstream>
#include <memory>
#include <iterator>
#include <string>
#include <vector>

#include "geometry/gcpset.h"
#include "processing/georecpar.h"
#include "tests/data/gcp/gcp_reference.h"

using namespace vesk;

namespace {

constexpr int kRefCount = sizeof kGcpX1 / sizeof kGcpX1[0];

struct SetDeleter {
  void operator()(GCPOBJ *set) const { freeGcpSet(set); }
};
using SetPtr = std::unique_ptr<GCPOBJ, SetDeleter>;

SetPtr referenceSet() {
  SetPtr set(createGcpSet(nullptr));
  for (int i = 0; i < kRefCount; i++) {
    char text[256];
    snprintf(text, sizeof text, "%d %d %.17g %.17g %.17g %.17g", kGcpSelected[i], kGcpIds[i],
             kGcpX1[i], kGcpY1[i], kGcpX2[i], kGcpY2[i]);
    EXPECT_EQ(parseGcpRecord(set.get(), text), i + 1);
  }
  return set;
}

std::string tempPath(const char *name) {
  return ::testing::TempDir() + "gcp_test_" + std::to_string(getpid()) + "_" + name;
}

std::vector<unsigned char> fileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string &path, const std::vector<unsigned char> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

double leDouble(const unsigned char *p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; i--) bits = (bits << 8) | p[i];
  double v;
  memcpy(&v, &bits, sizeof v);
  return v;
}

int32_t leInt(const unsigned char *p) {
  return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

struct Reference {
  int power;
  const double *means, *J, *I, *dx, *dy, *errors;
  int terms;
};

const Reference kReferences[] = {
    {0, kPower0Means, kPower0Jcoef, kPower0Icoef, kPower0Dx, kPower0Dy, kPower0Errors, 4},
    {1, kPower1Means, kPower1Jcoef, kPower1Icoef, kPower1Dx, kPower1Dy, kPower1Errors, 3},
    {2, kPower2Means, kPower2Jcoef, kPower2Icoef, kPower2Dx, kPower2Dy, kPower2Errors, 6},
    {3, kPower3Means, kPower3Jcoef, kPower3Icoef, kPower3Dx, kPower3Dy, kPower3Errors, 10},
};

void expectRel(double got, double want, double tolerance) {
  EXPECT_NEAR(got, want, tolerance * (1 + fabs(want)));
}

}  // namespace

TEST(GcpSet, FitsMatchLeastSquares) {
  for (const Reference &ref : kReferences) {
    SCOPED_TRACE("power " + std::to_string(ref.power));
    SetPtr set = referenceSet();
    ASSERT_EQ(fitGcpPolynomial(set.get(), ref.power), 1);
    ASSERT_EQ(set->termCount, ref.terms);
    EXPECT_EQ(set->power, ref.power);
    expectRel(set->meanX1, ref.means[0], 1e-12);
    expectRel(set->meanY1, ref.means[1], 1e-12);
    expectRel(set->meanX2, ref.means[2], 1e-12);
    expectRel(set->meanY2, ref.means[3], 1e-12);
    for (int k = 0; k < ref.terms; k++) {
      SCOPED_TRACE("term " + std::to_string(k));
      /* Higher terms are tiny numbers over large centred ranges. */
      EXPECT_NEAR(set->Jcoef[k], ref.J[k], 1e-7 * (1 + fabs(ref.J[k])));
      EXPECT_NEAR(set->Icoef[k], ref.I[k], 1e-7 * (1 + fabs(ref.I[k])));
    }
    for (int i = 0; i < kRefCount; i++) {
      EXPECT_NEAR(set->records[i].dx, ref.dx[i], 1e-4 * (1 + fabs(ref.dx[i])));
      EXPECT_NEAR(set->records[i].dy, ref.dy[i], 1e-4 * (1 + fabs(ref.dy[i])));
    }
    expectRel(set->MSRJ, ref.errors[0], 1e-6);
    expectRel(set->MSRI, ref.errors[1], 1e-6);
    expectRel(set->MSR, ref.errors[2], 1e-6);

    /* The evaluation at a record gives its fitted target. */
    double y2, x2;
    ASSERT_EQ(evalGcpPolynomial(set.get(), kGcpX1[5], kGcpY1[5], &y2, &x2), 1);
    EXPECT_NEAR(x2, kGcpX2[5] - ref.dx[5], 1e-6);
    EXPECT_NEAR(y2, kGcpY2[5] - ref.dy[5], 1e-6);
  }
}

TEST(GcpSet, TooFewOrDegeneratePointsLeaveTheSetAsItWas) {
  struct Case {
    int power, points;
    bool fits;
  } cases[] = {{0, 3, false}, {0, 4, true}, {1, 2, false}, {1, 3, true},
               {2, 5, false}, {2, 6, true}, {3, 9, false}, {3, 10, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE("power " + std::to_string(c.power) + " points " + std::to_string(c.points));
    SetPtr set(createGcpSet(nullptr));
    for (int i = 0; i < kRefCount; i++) {
      char text[256];
      snprintf(text, sizeof text, "%d %d %.17g %.17g %.17g %.17g", i < c.points ? 1 : 0, i + 1,
               kGcpX1[i], kGcpY1[i], kGcpX2[i], kGcpY2[i]);
      parseGcpRecord(set.get(), text);
    }
    ASSERT_EQ(fitGcpPolynomial(set.get(), c.power), c.fits ? 1 : 0);
    if (c.fits) {
      /* Exactly as many points as terms: the fit passes through all of them. */
      EXPECT_NEAR(set->MSR, 0, 1e-6);
      for (int i = 0; i < c.points; i++) EXPECT_NEAR(set->records[i].dx, 0, 1e-4);
    } else {
      EXPECT_EQ(set->termCount, 0);
      EXPECT_EQ(set->xy, nullptr);
    }
  }

  /* A failed fit keeps the previous one; so do points on one line. */
  SetPtr set = referenceSet();
  ASSERT_EQ(fitGcpPolynomial(set.get(), 1), 1);
  std::vector<double> J(set->Jcoef, set->Jcoef + 3);
  double msr = set->MSR;
  SetPtr line(createGcpSet(nullptr));
  for (int i = 0; i < 8; i++)
    parseGcpRecord(line.get(), ("1 " + std::to_string(i) + " " + std::to_string(i) + " " +
                                std::to_string(2 * i) + " 5 6").c_str());
  EXPECT_EQ(fitGcpPolynomial(line.get(), 1), 0);
  EXPECT_EQ(line->termCount, 0);
  EXPECT_EQ(fitGcpPolynomial(set.get(), 6), 0);  // 28 terms, 26 selected
  EXPECT_EQ(set->termCount, 3);
  EXPECT_EQ(set->power, 1);
  EXPECT_EQ(std::vector<double>(set->Jcoef, set->Jcoef + 3), J);
  EXPECT_EQ(set->MSR, msr);
}

TEST(GcpSet, UnselectedPointsAreCheckPoints) {
  SetPtr set = referenceSet();
  ASSERT_EQ(fitGcpPolynomial(set.get(), 1), 1);
  double msr = set->MSR;
  set->records[3].x2 += 1000;  // unselected
  ASSERT_EQ(fitGcpPolynomial(set.get(), 1), 1);
  EXPECT_NEAR(set->records[3].dx, kPower1Dx[3] + 1000, 1e-2);
  EXPECT_DOUBLE_EQ(set->MSR, msr);
}

TEST(GcpSet, RecordsParseFormatAndOverflow) {
  SetPtr set(createGcpSet(nullptr));
  EXPECT_EQ(set->capacity, 300);
  EXPECT_EQ(set->running, 1);
  EXPECT_STREQ(set->helpFile, "/geocalc.hlp");
  EXPECT_EQ(parseGcpRecord(set.get(), "1 7 1.5"), 0);
  EXPECT_EQ(parseGcpRecord(set.get(), "abc"), 0);
  EXPECT_EQ(set->modified, 0);
  for (int i = 0; i < 300; i++) ASSERT_EQ(parseGcpRecord(set.get(), "1 5 1 2 3 4"), i + 1);
  EXPECT_EQ(set->modified, 1);
  EXPECT_EQ(parseGcpRecord(set.get(), "1 5 1 2 3 4"), 0);
  EXPECT_EQ(set->count, 300);

  char buffer[64] = "untouched";
  set->records[0].dx = 1.23456f;
  set->records[0].dy = -2.5f;
  EXPECT_EQ(formatGcpResidual(set.get(), 0, buffer), 1);
  EXPECT_STREQ(buffer, "5 1.235 -2.500");
  strcpy(buffer, "untouched");
  EXPECT_EQ(formatGcpResidual(set.get(), 300, buffer), 0);
  EXPECT_STREQ(buffer, "untouched");

  double a, b;
  EXPECT_EQ(evalGcpPolynomial(set.get(), 0, 0, &a, &b), 0);
}

TEST(GcpSet, CoefficientAndErrorTexts) {
  SetPtr set = referenceSet();
  ASSERT_EQ(fitGcpPolynomial(set.get(), 1), 1);
  std::vector<char> buffer(static_cast<size_t>(gcpCoefBufferSize(set.get())));
  std::string j = formatJcoef(set.get(), "%.12g", buffer.data());
  double v[4];
  ASSERT_EQ(sscanf(j.c_str(), "%lf %lf %lf %lf", &v[0], &v[1], &v[2], &v[3]), 3);
  EXPECT_NEAR(v[0], kPower1Means[2] + kPower1Jcoef[0], 1e-5);
  EXPECT_NEAR(v[1], kPower1Jcoef[1], 1e-9);
  std::string i = formatIcoef(set.get(), "%.12g", buffer.data());
  ASSERT_EQ(sscanf(i.c_str(), "%lf", &v[0]), 1);
  EXPECT_NEAR(v[0], kPower1Means[3] + kPower1Icoef[0], 1e-5);
  std::string e = formatGcpErrors(set.get(), "%.3f", buffer.data());
  EXPECT_EQ(e, std::string(buffer.data()));
  EXPECT_EQ(std::count(e.begin(), e.end(), ' '), 2);

  /* A power-3 fit in the widest format still fits the buffer. */
  ASSERT_EQ(fitGcpPolynomial(set.get(), 3), 1);
  buffer.assign(static_cast<size_t>(gcpCoefBufferSize(set.get())), 0);
  size_t length = strlen(formatJcoef(set.get(), "%250.200f", buffer.data()));
  EXPECT_GE(length, 10u * 250 + 9);
  EXPECT_LT(length, buffer.size());
}

TEST(GcpSet, DeleteExchangeFindAndCopy) {
  SetPtr set(createGcpSet(nullptr));
  parseGcpRecord(set.get(), "1 10 1 2 3 4");
  parseGcpRecord(set.get(), "1 11 5 6 7 8");
  parseGcpRecord(set.get(), "0 11 9 10 11 12");
  int index;
  EXPECT_EQ(findGcpById(set.get(), 11, &index), 1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(findGcpById(set.get(), 99, &index), 0);
  EXPECT_EQ(index, 3);

  set->current = 2;
  deleteGcpAt(set.get(), 0);
  ASSERT_EQ(set->count, 2);
  EXPECT_EQ(set->records[0].x1, 5);
  EXPECT_EQ(set->records[1].x1, 9);
  EXPECT_EQ(set->current, 1);
  deleteGcpAt(set.get(), 2);
  deleteGcpAt(set.get(), -1);
  EXPECT_EQ(set->count, 2);

  parseGcpRecord(set.get(), "1 12 0 0 1 1");
  parseGcpRecord(set.get(), "1 13 3 1 2 9");
  ASSERT_EQ(fitGcpPolynomial(set.get(), 1), 1);
  SetPtr copy(createGcpSet(set.get()));
  EXPECT_EQ(copy->count, 4);
  EXPECT_EQ(copy->modified, 0);
  ASSERT_EQ(copy->termCount, 3);
  EXPECT_NE(copy->Jcoef, set->Jcoef);
  EXPECT_EQ(copy->Jcoef[1], set->Jcoef[1]);

  exchangeGcpPoints(set.get());
  EXPECT_EQ(set->termCount, 0);
  EXPECT_EQ(set->Icoef, nullptr);
  EXPECT_EQ(set->power, 1);
  EXPECT_EQ(set->records[0].x1, 7);
  EXPECT_EQ(set->records[0].x2, 5);
  exchangeGcpPoints(set.get());
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(set->records[i].x1, copy->records[i].x1);
    EXPECT_EQ(set->records[i].y2, copy->records[i].y2);
  }
}

TEST(GcpFile, RoundTripAndLayout) {
  SetPtr set = referenceSet();
  ASSERT_EQ(fitGcpPolynomial(set.get(), 2), 1);
  std::string path = tempPath("round.gcp");
  ASSERT_EQ(writeGcpFile(set.get(), path.c_str()), 1);
  EXPECT_EQ(set->modified, 0);
  std::vector<unsigned char> bytes = fileBytes(path);
  ASSERT_EQ(bytes.size(), 18u + 48u * kRefCount);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GCPOBJ");
  EXPECT_EQ(leInt(&bytes[6]), kRefCount);
  EXPECT_EQ(leInt(&bytes[10]), 2);
  EXPECT_EQ(leInt(&bytes[14]), 6);
  EXPECT_EQ(leInt(&bytes[18 + 48 * 3]), 0);  // record 3 is unselected
  EXPECT_EQ(leInt(&bytes[18 + 48 * 3 + 4]), 4);
  EXPECT_EQ(leDouble(&bytes[18 + 48 * 3 + 8]), kGcpX1[3]);

  SetPtr back(readGcpFile(path.c_str()));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->count, kRefCount);
  EXPECT_EQ(back->power, 2);
  ASSERT_EQ(back->termCount, 6);
  EXPECT_EQ(back->modified, 0);
  EXPECT_DOUBLE_EQ(back->MSR, set->MSR);
  EXPECT_DOUBLE_EQ(back->meanX2, set->meanX2);
  for (int i = 0; i < kRefCount; i++) {
    EXPECT_EQ(back->records[i].selected, set->records[i].selected);
    EXPECT_EQ(back->records[i].y2, set->records[i].y2);
    EXPECT_EQ(back->records[i].dx, set->records[i].dx);
  }

  /* Without a fit, none comes back. */
  exchangeGcpPoints(set.get());
  ASSERT_EQ(writeGcpFile(set.get(), path.c_str()), 1);
  SetPtr plain(readGcpFile(path.c_str()));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->termCount, 0);
  EXPECT_EQ(plain->xy, nullptr);
  unlink(path.c_str());
}

TEST(GcpFile, CorruptFilesAreRefused) {
  SetPtr set = referenceSet();
  std::string path = tempPath("bad.gcp");
  ASSERT_EQ(writeGcpFile(set.get(), path.c_str()), 1);
  const std::vector<unsigned char> good = fileBytes(path);

  struct Case {
    const char *what;
    std::vector<unsigned char> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"short magic", {'G', 'C', 'P'}});
  cases.push_back({"foreign", std::vector<unsigned char>(good.size(), 'x')});
  cases.push_back({"head cut", std::vector<unsigned char>(good.begin(), good.begin() + 12)});
  cases.push_back({"records cut", std::vector<unsigned char>(good.begin(), good.end() - 1)});
  std::vector<unsigned char> big = good;
  big[6] = 0x2d;  // 301 records
  big[7] = 0x01;
  cases.push_back({"count above 300", big});
  std::vector<unsigned char> negative = good;
  negative[9] = 0xff;
  cases.push_back({"negative count", negative});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    writeBytes(path, c.bytes);
    EXPECT_EQ(readGcpFile(path.c_str()), nullptr);
  }
  EXPECT_EQ(readGcpFile((path + ".missing").c_str()), nullptr);

  /* A stored fit that the records cannot give again is dropped. */
  std::vector<unsigned char> huge = good;
  huge[10] = 0x40;  // power 64
  huge[14] = 1;
  writeBytes(path, huge);
  SetPtr back(readGcpFile(path.c_str()));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->termCount, 0);

  /* An unwritable path fails and leaves nothing behind. */
  EXPECT_EQ(writeGcpFile(set.get(), "/nonexistent-dir/x.gcp"), 0);
  unlink(path.c_str());
}

TEST(GeorecPar, FunctionFileLayout) {
  SetPtr set = referenceSet();
  std::string path = tempPath("fit.par");
  EXPECT_EQ(saveGcpFunction(set.get(), path.c_str()), 0);  // no fit held
  ASSERT_EQ(fitGcpPolynomial(set.get(), 2), 1);
  ASSERT_EQ(saveGcpFunction(set.get(), path.c_str()), 1);
  std::vector<unsigned char> bytes = fileBytes(path);
  const int n = 6;
  ASSERT_EQ(bytes.size(), 48u + 16u * n);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "GOERECHD");
  EXPECT_EQ(leDouble(&bytes[8]), set->meanX1);
  EXPECT_EQ(leDouble(&bytes[16]), set->meanY1);
  EXPECT_EQ(leDouble(&bytes[24]), set->meanX2);
  EXPECT_EQ(leDouble(&bytes[32]), set->meanY2);
  EXPECT_EQ(leInt(&bytes[40]), n);
  EXPECT_EQ(leInt(&bytes[44]), 2);
  EXPECT_EQ(leDouble(&bytes[48]), set->Icoef[0] + set->meanY2);
  EXPECT_EQ(leDouble(&bytes[48 + 8]), set->Icoef[1]);
  EXPECT_EQ(leDouble(&bytes[48 + 8 * n]), set->Jcoef[0] + set->meanX2);
  EXPECT_EQ(leDouble(&bytes[48 + 8 * (2 * n - 1)]), set->Jcoef[n - 1]);

  /* An unwritable path is refused. */
  EXPECT_EQ(writeGeorecPar("/nonexistent-dir/x.par", 0, 0, 0, 0, 3, 1, set->Icoef, set->Jcoef), 0);
  EXPECT_EQ(fileBytes(path).size(), 48u + 16u * n);
  unlink(path.c_str());
}
