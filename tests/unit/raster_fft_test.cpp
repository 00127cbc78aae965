// The FFT image file: a file written block by block reads back through
// the store as a two-band FLOAT image with statistics from its head;
// running statistics, segment I/O, the probe's magic and the errors of
// the block I/O (reported, never ending the process).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <math.h>
#include <string.h>
#include <unistd.h>
#include <functional>
#include <string>
#include <vector>

#include "core/text.h"
#include "raster/bandstats.h"
#include "raster/fftfile.h"
#include "tests/unit/raster_formats.h"

using namespace vesk;
using namespace rastertest;
using namespace formatstest;

namespace {

using FFTFile = formatstest::Formats;

// Sample (row, column) of the test pattern: real r*10+c, imaginary -(r+c).
float realAt(int row, int column) { return static_cast<float>(row * 10 + column); }
float imagAt(int row, int column) { return static_cast<float>(-(row + column)); }

// Writes a whole file for a 3 x 5 source, row by row with statistics,
// and finishes the head (deviations in place of mean squares).
std::string writePattern(FFTHead *head) {
  const std::string path = tempPath("pattern.fft");
  initFFTHead(head, "/images/source.img", 2, 3, 5);
  const int fd = createFFTFile(path.c_str(), head);
  EXPECT_GE(fd, 0);
  std::vector<float> row(head->columns * 2);
  for (int r = 0; r < head->rows; r++) {
    for (int c = 0; c < head->columns; c++) {
      row[2 * c] = realAt(r, c);
      row[2 * c + 1] = imagAt(r, c);
    }
    EXPECT_EQ(PutFFTFileBlock(head, fd, row.data(), r, 1, 1), 0);
  }
  head->reSquare = sqrt(head->reSquare - head->reMean * head->reMean);
  head->imSquare = sqrt(head->imSquare - head->imMean * head->imMean);
  head->state = FFT_SFRI;
  EXPECT_EQ(PutFFTHead(head, fd), 0);
  close(fd);
  return path;
}

TEST_F(FFTFile, WrittenFileReadsBackThroughTheStore) {
  FFTHead head;
  const std::string path = writePattern(&head);
  EXPECT_EQ(head.rows, 4);
  EXPECT_EQ(head.columns, 8);
  EXPECT_EQ(readFile(path).size(), 1280u);

  FFTHead again;
  const int fd = openFFTFile(path.c_str(), &again);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(again.sourceRows, 3);
  EXPECT_EQ(again.sourceColumns, 5);
  EXPECT_EQ(again.band, 2);
  EXPECT_EQ(again.state, FFT_SFRI);
  EXPECT_STREQ(again.source, "/images/source.img");
  EXPECT_EQ(again.count, 32);
  close(fd);

  ImageHeader h;
  ASSERT_EQ(sniffPath(path, &h), IMG_FFT);
  EXPECT_EQ(h.pixelid, P_FLOAT);
  EXPECT_EQ(h.nbands, 2);
  EXPECT_EQ(h.offset, 1024);
  EXPECT_EQ(h.block, 64);
  EXPECT_EQ(h.bits, 32);

  int err = 0;
  RAMIMG *image = openRAMImageFile(path.c_str(), nullptr, nullptr, &err);
  ASSERT_NE(image, nullptr) << err;
  for (int r = 0; r < 4; r++) {
    const float *re = reinterpret_cast<const float *>(getRAMImageLine(image, r, 0, 1));
    const float *im = reinterpret_cast<const float *>(getRAMImageLine(image, r, 1, 1));
    for (int c = 0; c < 8; c++) {
      EXPECT_EQ(re[c], realAt(r, c));
      EXPECT_EQ(im[c], imagAt(r, c));
    }
  }
  // Statistics come from the head: mean, deviation and extremes.
  double stdOut = 0, mean = 0, least = 0, most = 0;
  ASSERT_EQ(ramImageBandStats(image, 0, &stdOut, &mean, &least, &most), 1);
  EXPECT_NEAR(mean, 18.5, 1e-9);  // rows 0..3 x 10 + columns 0..7
  EXPECT_NEAR(stdOut, sqrt(125.0 + 5.25), 1e-9);
  EXPECT_EQ(least, 0);
  EXPECT_EQ(most, 37);
  ASSERT_EQ(ramImageBandStats(image, 1, &stdOut, &mean, &least, &most), 1);
  EXPECT_NEAR(mean, -5.0, 1e-9);
  EXPECT_EQ(least, -10);
  EXPECT_EQ(most, 0);
  flushRAMImage(image);
  freeRAMImage(image);
}

TEST(FFTStats, ExtremesAndRunningMeans) {
  FFTHead head;
  initFFTHead(&head, "", 1, 1, 3);
  const float samples[] = {1, 0, 5, 0, 3, 0};
  updateFFTStats(&head, 3, samples);
  EXPECT_EQ(head.reMax, 5);
  EXPECT_EQ(head.reMin, 1);
  EXPECT_EQ(head.imMax, 0);

  initFFTHead(&head, "", 1, 1, 1);
  std::vector<float> ten(20, 0), thirty(60, 0);
  for (int i = 0; i < 10; i++) ten[2 * i] = 2;
  for (int i = 0; i < 30; i++) thirty[2 * i] = 6;
  updateFFTStats(&head, 10, ten.data());
  updateFFTStats(&head, 30, thirty.data());
  EXPECT_EQ(head.count, 40);
  EXPECT_DOUBLE_EQ(head.reMean, 5.0);
  EXPECT_DOUBLE_EQ(head.reSquare, (10 * 4.0 + 30 * 36.0) / 40);
}

/* Runs measured apart (four at a time or alone) and folded in order give
   the head of updateFFTStats over the same runs, bit for bit: extremes
   (zeros of both signs among them) and running means. */
TEST(FFTStats, MeasuredRunsFoldToTheSameHead) {
  std::vector<float> samples(2 * 7 * 33);
  for (size_t i = 0; i < samples.size(); i++)
    samples[i] = static_cast<float>(((i * 7919) % 1000) / 7.0 - 60);
  samples[0] = -0.0f;
  samples[3] = 0.0f;
  samples[10] = 1e30f;
  FFTHead direct, folded;
  initFFTHead(&direct, "", 1, 7, 33);
  initFFTHead(&folded, "", 1, 7, 33);
  const float *at[7];
  for (int r = 0; r < 7; r++) {
    at[r] = samples.data() + 2 * 33 * r;
    updateFFTStats(&direct, 33, at[r]);
  }
  FFTStatsRun runs[7];
  measureFFTStats(runs, 4, 33, at);
  measureFFTStats(runs + 4, 3, 33, at + 4);
  for (const FFTStatsRun &run : runs) foldFFTStats(&folded, run);
  EXPECT_EQ(memcmp(&direct.count, &folded.count, 9 * sizeof(double)), 0);
  EXPECT_EQ(folded.count, 7 * 33);
  EXPECT_EQ(folded.reMax, 1e30f);
}

TEST_F(FFTFile, SegmentsReadAndWriteColumns) {
  FFTHead head;
  const std::string path = writePattern(&head);
  const int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  std::vector<float> seg(4 * 3 * 2);
  ASSERT_NE(GetFFTFileSeg(&head, fd, seg.data(), 2, 3), nullptr);
  for (int r = 0; r < 4; r++)
    for (int k = 0; k < 3; k++) EXPECT_EQ(seg[(r * 3 + k) * 2], realAt(r, 2 + k));
  for (float &v : seg) v = -v;
  const double before = head.count;
  ASSERT_EQ(PutFFTFileSeg(&head, fd, seg.data(), 2, 3, 1), 0);
  EXPECT_EQ(head.count, before + 12);
  std::vector<float> rows(2 * 8 * 2);
  ASSERT_NE(GetFFTFileBlock(&head, fd, rows.data(), 1, 2), nullptr);
  EXPECT_EQ(rows[2 * 2], -realAt(1, 2));
  EXPECT_EQ(rows[2 * 1], realAt(1, 1));
  EXPECT_EQ(rows[(8 + 4) * 2 + 1], -imagAt(2, 4));
  close(fd);
}

TEST_F(FFTFile, ProbeMagicAndSizes) {
  auto headBytes = [](int rows, int columns) {
    FFTHead head;
    initFFTHead(&head, nullptr, 0, rows, columns);
    std::vector<unsigned char> bytes(kFFTHeadSize + rows * columns * 8, 0);
    encodeFFTHead(head, bytes.data());
    return bytes;
  };
  std::vector<unsigned char> bytes = headBytes(2, 2);
  for (int i = 15; i < 80; i++) bytes[i] = 0xa5;  // anything after the terminator
  EXPECT_EQ(sniffBytes(bytes), IMG_FFT);
  bytes[14] = 'X';
  EXPECT_EQ(sniffBytes(bytes), 0);
  bytes = headBytes(2, 2);
  bytes.pop_back();  // body cut short
  EXPECT_EQ(sniffBytes(bytes), 0);
  bytes = headBytes(2, 2);
  putU32(bytes.data() + 84, 0, msbFirst() != 0);  // no rows
  EXPECT_EQ(sniffBytes(bytes), 0);
  bytes = headBytes(2, 2);
  bytes.resize(1000);
  EXPECT_EQ(sniffBytes(bytes), 0);
}

TEST_F(FFTFile, ErrorsAreReportedNotFatal) {
  FFTHead head;
  const std::string path = writePattern(&head);
  std::vector<float> buffer(8 * 2 * 4);
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct Case {
    const char *name;
    std::function<bool()> call;
    const char *message;
  };
  const std::vector<Case> cases = {
      {"rows past the end", [&] { return !GetFFTFileBlock(&head, fd, buffer.data(), 3, 2); },
       "lseek error in GetFFTFileBlock: Invalid argument\n"},
      {"columns past the end", [&] { return !GetFFTFileSeg(&head, fd, buffer.data(), 7, 2); },
       "lseek error in GetFFTFileSeg: Invalid argument\n"},
      {"write on a read-only file",
       [&] { return PutFFTFileBlock(&head, fd, buffer.data(), 0, 1, 0) == -1; },
       "write error in PutFFTFileBlock: Bad file descriptor\n"},
      {"segment on a read-only file",
       [&] { return PutFFTFileSeg(&head, fd, buffer.data(), 0, 2, 0) == -1; },
       "write error in PutFFTFileSeg: Bad file descriptor\n"},
      {"head on a read-only file", [&] { return PutFFTHead(&head, fd) == -1; },
       "PutFFTHead: Bad file descriptor\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    bool failed = false;
    EXPECT_EQ(errorsOf([&] { failed = c.call(); }), c.message);
    EXPECT_TRUE(failed);
  }
  close(fd);

  const std::string other = tempPath("other.bin");
  writeFile(other, std::vector<unsigned char>(2048, 7));
  FFTHead read;
  int result = 0;
  EXPECT_EQ(errorsOf([&] { result = openFFTFile(other.c_str(), &read); }),
            "Not an FFT image file!\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(errorsOf([&] { result = openFFTFile(tempPath("absent.fft").c_str(), &read); }),
            tempPath("absent.fft") + ": No such file or directory\n");
  EXPECT_EQ(result, -1);
}

}  // namespace
