/*
 * georecpar.cpp --
 *     Writes the georectification parameter file "GOERECHD" field by
 *     field, in little-endian order whatever the host, so that the file
 *     never depends on how a record is laid out in memory.
 */
#include "processing/georecpar.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>

#include "vesk/stdio.h"

namespace vesk {
namespace {

void putUint32(std::vector<unsigned char> &out, uint32_t value) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void putDouble(std::vector<unsigned char> &out, double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; i++) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

}  // namespace

std::vector<unsigned char> encodeGeorecPar(double xc, double yc, double columnOffset,
                                           double rowOffset, int n, int N,
                                           const double *rowCoef, const double *columnCoef) {
  std::vector<unsigned char> out;
  if (n < 1) n = 0;
  out.reserve(kGeorecHeadSize + 16 * static_cast<size_t>(n));
  out.insert(out.end(), "GOERECHD", "GOERECHD" + 8);
  putDouble(out, xc);
  putDouble(out, yc);
  putDouble(out, columnOffset);
  putDouble(out, rowOffset);
  putUint32(out, static_cast<uint32_t>(n));
  putUint32(out, static_cast<uint32_t>(N));
  for (int i = 0; i < n; i++) putDouble(out, rowCoef[i] + (i == 0 ? rowOffset : 0));
  for (int i = 0; i < n; i++) putDouble(out, columnCoef[i] + (i == 0 ? columnOffset : 0));
  return out;
}

/*
 * writeGeorecPar --
 *     Writes the parameter file.  The bytes go to a temporary file beside
 *     the path, which replaces the path only once all of them are written.
 * Results:      1 written; 0 after "%s open error." or "%s write error."
 *               (no newline), the path left as it was.
 */
int writeGeorecPar(const char *path, double xc, double yc, double columnOffset, double rowOffset,
                   int n, int N, const double *rowCoef, const double *columnCoef) {
  if (!path || !*path || n < 1 || !rowCoef || !columnCoef) {
    vesk_fprintf(stderr, "%s open error.", path ? path : "");
    return 0;
  }
  std::vector<unsigned char> bytes =
      encodeGeorecPar(xc, yc, columnOffset, rowOffset, n, N, rowCoef, columnCoef);
  std::string temporary = std::string(path) + ".tmpXXXXXX";
  int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    vesk_fprintf(stderr, "%s open error.", path);
    return 0;
  }
  fchmod(fd, 0644);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  bool ok = done == bytes.size();
  if (close(fd) != 0) ok = false;
  if (ok && rename(temporary.c_str(), path) != 0) ok = false;
  if (!ok) {
    unlink(temporary.c_str());
    vesk_fprintf(stderr, "%s write error.", path);
    return 0;
  }
  return 1;
}

}  // namespace vesk
