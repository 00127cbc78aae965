/*
 * bindparse.h --
 *     The small text parsers of bound images and data ranges: index
 *     ranges, "@" data ranges, regions of interest and band maps.
 */
#ifndef VESK_PROCESSING_BINDPARSE_H
#define VESK_PROCESSING_BINDPARSE_H

namespace vesk {

/* Longest band map text parseBandMap reads. */
inline constexpr int kMaxBandMapText = 16384;

int parseIndexRange(const char *text, int len, int *first, int *last);
int parseDataRange(const char *text, int columns, int rows, int bands, int range[6]);
int parseRoi(const char *text, int columns, int rows, int *desx, int *desy, int *srcx,
             int *srcy, int *width, int *height);
int parseBandMap(const char *text, int count, int *destBands, int *srcBands, int *maxSrc);

}  // namespace vesk

#endif
