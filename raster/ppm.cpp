/*
 * ppm.cpp --
 *     Binary portable graymaps and pixmaps: "P5" (one band) and "P6"
 *     (three bands) with a text header of width, height and maximum,
 *     then pixel bytes, row after row, interleaved.
 */
#include <stdio.h>
#include <string>

#include "raster/sniffer.h"

namespace vesk {

namespace {

/* The header text holds at most this many characters. */
constexpr int kPpmTextLimit = 32;
/* Bytes of a file the probe reads: the header and any comments. */
constexpr int kPpmProbeSize = 16384;

bool isPpmBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; }

/* A decimal number made of digits only, within int. */
bool parsePpmNumber(const std::string &token, int *value) {
  if (token.empty()) return false;
  long long v = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > INT32_MAX) return false;
  }
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

/*
 * parsePpmHeader --
 *     Reads the four header tokens of a PPM or PGM file.  Blanks before a
 *     token, comments ("#" to the end of the line) and newlines are
 *     skipped; a blank or newline ends a token and is counted into the
 *     header.  The tokens together (one blank between) hold at most 32
 *     characters.
 * Results:      12 (PPM); 0 for another file, sizes of 0 or less, or
 *     pixel data past the end of the file.  The maximum sample value is
 *     not used: samples are read as bytes.
 */
int parsePpmHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                   ImageHeader *header) {
  std::string tokens[4];
  int count = 0, textLength = 0;
  int64_t at = 0;
  bool inToken = false;
  while (count < 4 && at < size) {
    const unsigned char c = buffer[at++];
    if (inToken) {
      if (isPpmBlank(c) || c == '\n') {
        inToken = false;
        count++;
        continue;
      }
      tokens[count] += static_cast<char>(c);
      if (++textLength > kPpmTextLimit) return 0;
      continue;
    }
    if (isPpmBlank(c) || c == '\n') continue;
    if (c == '#') {
      while (at < size && buffer[at] != '\n') at++;
      continue;
    }
    inToken = true;
    if (count > 0 && ++textLength > kPpmTextLimit) return 0;  // the separating blank
    tokens[count] += static_cast<char>(c);
    if (++textLength > kPpmTextLimit) return 0;
  }
  if (inToken && at == fileSize) count++;  // the last token ends with the file
  if (count != 4) return 0;

  int bands;
  if (tokens[0] == "P6") bands = 3;
  else if (tokens[0] == "P5") bands = 1;
  else return 0;
  int width, height, maximum;
  if (!parsePpmNumber(tokens[1], &width) || !parsePpmNumber(tokens[2], &height) ||
      !parsePpmNumber(tokens[3], &maximum))
    return 0;
  if (width <= 0 || height <= 0) return 0;
  if (!extentFits(at, int64_t{width} * bands, height, fileSize)) return 0;

  header->pixelid = P_BYTE;
  header->bits = 8;
  header->imgid = IMG_PPM;
  header->mapid = MAPID_GRID;
  header->rows = height;
  header->columns = width;
  header->nbands = bands;
  header->offset = at;
  header->block = int64_t{width} * bands;
  header->msbf = 0;
  header->nindices = 0;
  header->transparent = -1;
  header->top = header->left = 0;
  header->x0 = header->y0 = 0;
  header->dx = header->dy = 1.0;
  return IMG_PPM;
}

/* readPpmHeader -- the PPM probe; the file position is kept. */
int readPpmHeader(int fd, ImageHeader *header) {
  std::string buffer(kPpmProbeSize, '\0');
  unsigned char *bytes = reinterpret_cast<unsigned char *>(&buffer[0]);
  int64_t fileSize = 0;
  const int64_t n = readFilePrefix(fd, bytes, kPpmProbeSize, &fileSize);
  return n < 0 ? 0 : parsePpmHeader(bytes, n, fileSize, header);
}

/*
 * writePpmHeader --
 *     Writes "P6" (three bands and more) or "P5" (one band) with the size
 *     and maximum 255.
 * Results:      the data offset (the header's length), -1 when the write
 *     falls short.
 * Side effects: the header becomes a byte PPM of one or three bands.
 */
int writePpmHeader(int fd, ImageHeader *header) {
  header->nbands = header->nbands < 2 ? 1 : 3;
  char text[64];
  const int length = snprintf(text, sizeof text, "%s\n%d %d\n255\n",
                              header->nbands == 3 ? "P6" : "P5", header->columns, header->rows);
  header->offset = length;
  header->pixelid = P_BYTE;
  header->bits = 8;
  header->imgid = IMG_PPM;
  header->block = int64_t{header->columns} * header->nbands;
  header->nindices = 0;
  header->msbf = 0;
  if (!writeFileAt(fd, text, length, 0)) return -1;
  return length;
}

}  // namespace vesk
