/*
 * xbm.cpp --
 *     X bitmaps: C text that defines the width and height and lists the
 *     bytes of the rows as numbers, the first pixel of a byte in its low
 *     bit.  The pixels are read and written whole; this file finds the
 *     size and writes the text.
 */
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <exception>
#include <string>

#include "raster/sniffer.h"

namespace vesk {

namespace {

/* The "%d" right behind the first occurrence of a key, or false. */
bool findXbmNumber(const char *text, const char *key, int *value) {
  const char *at = strstr(text, key);
  return at && sscanf(at + strlen(key), "%d", value) == 1;
}

}  // namespace

/*
 * parseXbmHeader --
 *     Finds the width and height in the first bytes of an XBM text.
 * Results:      8 (XBMP); 0 when either number is missing or not above
 *     0, or when the file is too short to hold the bytes of that size
 *     (each takes at least a digit and a separator).
 */
int parseXbmHeader(const unsigned char *buffer, int64_t size, int64_t fileSize,
                   ImageHeader *header) {
  if (size <= 0) return 0;
  const std::string text(reinterpret_cast<const char *>(buffer),
                         static_cast<size_t>(std::min<int64_t>(size, kXbmProbeSize)));
  int width = 0, height = 0;
  if (!findXbmNumber(text.c_str(), "_width", &width) ||
      !findXbmNumber(text.c_str(), "_height", &height))
    return 0;
  if (width <= 0 || height <= 0) return 0;
  const int64_t rowBytes = (int64_t{width} + 7) / 8;
  if (!extentFits(0, 2 * rowBytes, height, fileSize)) return 0;

  header->imgid = IMG_XBMP;
  header->mapid = MAPID_GRID;
  header->pixelid = P_1BIT;
  header->bits = 1;
  header->nbands = 1;
  header->msbf = 0;
  header->offset = 0;
  header->block = rowBytes;
  header->rows = height;
  header->columns = width;
  header->top = header->left = 0;
  header->x0 = header->y0 = 0;
  header->dx = header->dy = 1.0;
  header->nindices = 2;
  memset(header->palette[0], 255, 3);
  memset(header->palette[1], 0, 3);
  header->transparent = -1;
  return IMG_XBMP;
}

/* readXbmHeader -- the XBM probe: the first 4096 bytes; the position is kept. */
int readXbmHeader(int fd, ImageHeader *header) {
  unsigned char buffer[kXbmProbeSize];
  int64_t fileSize = 0;
  const int64_t n = readFilePrefix(fd, buffer, sizeof buffer, &fileSize);
  return n <= 0 ? 0 : parseXbmHeader(buffer, n, fileSize, header);
}

/*
 * formatXbmText --
 *     The whole XBM text: the two defines, the array head and every byte
 *     of every row as " 0x%02x," (the last one closes the array), twelve
 *     to a line.  Without data every byte is 0 and a row holds
 *     (columns - 1) / 8 + 1 bytes.  Bytes are written as given.
 * Results:      false when the text can't be allocated; headLength gets
 *     the length of the "#define" text.
 */
bool formatXbmText(const ImageHeader &header, const unsigned char *data, int64_t rowBytes,
                   std::string &text, int *headLength) {
  char head[160];
  const int length = snprintf(head, sizeof head,
                              "#define xbmp_width %d\n#define xbmp_height %d\n"
                              "static char xbmp_bits[] = {\n",
                              header.columns, header.rows);
  if (headLength) *headLength = length;
  if (!data || rowBytes <= 0) rowBytes = (int64_t{header.columns} - 1) / 8 + 1;
  const int64_t total = header.rows > 0 && rowBytes > 0 ? rowBytes * header.rows : 0;
  text.assign(head, static_cast<size_t>(length));
  try {
    text.reserve(text.size() + static_cast<size_t>(total) * 6 + total / 12 + 4);
  } catch (const std::exception &) {
    return false;
  }
  char item[8];
  for (int64_t i = 0; i < total; i++) {
    snprintf(item, sizeof item, " 0x%02x%c", data ? data[i] : 0, i + 1 == total ? '}' : ',');
    text += item;
    if (i + 1 == total) text += ';';
    if ((i + 1) % 12 == 0) text += '\n';
  }
  if (total == 0) text += "};";
  return true;
}

/*
 * writeXbmFile --
 *     Writes a whole XBM text from offset 0.
 * Results:      the length of the "#define" text, -1 when a write falls
 *     short.
 * Side effects: the header gets one band.
 */
int writeXbmFile(int fd, ImageHeader *header, const unsigned char *data, int64_t rowBytes) {
  header->nbands = 1;
  std::string text;
  int headLength = 0;
  if (!formatXbmText(*header, data, rowBytes, text, &headLength)) return -1;
  if (!writeFileAt(fd, text.data(), static_cast<int64_t>(text.size()), 0)) return -1;
  return headLength;
}

}  // namespace vesk
