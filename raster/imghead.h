/*
 * imghead.h --
 *     The image header and its four vocabularies: pixel types, layouts and
 *     formats (imgid), map projections (mapid) and content types, with the
 *     name lookups, the bit widths, and the georeference string that GIF,
 *     JPEG and DIB files carry in a comment.
 */
#ifndef VESK_RASTER_IMGHEAD_H
#define VESK_RASTER_IMGHEAD_H

#include <stddef.h>
#include <stdint.h>
#include "vesk/ramimg.h"

namespace vesk {

/* Pixel types; the code is the row of the name table. */
enum PixelId {
  P_UNKNOWN, P_1BIT, P_4BITS, P_BYTE, P_SHORT, P_LONG, P_FLOAT, P_USHORT, P_ULONG, P_SBYTE,
  kPixelidCount
};

/* Layouts and file formats, written once and expanded into the enum and names. */
#define VESK_IMGID_LIST(X)                                                          \
  X(UNKNOWN, "UNKNOWN") X(BSQ, "BSQ") X(BIL, "BIL") X(BIP, "BIP") X(E73, "E73")     \
  X(E74, "E74") X(ELAS, "ELAS") X(DIB, "DIB") X(XBMP, "XBMP") X(TIFF, "TIFF")       \
  X(GIF87A, "GIF87a") X(GIF89A, "GIF89a") X(PPM, "PPM") X(JPEG, "JPEG")             \
  X(E74BSQ, "E74BSQ") X(GEOTIFF, "GEOTIFF") X(FFT, "FFT") X(DICOM, "DICOM")         \
  X(BSQD, "BSQD") X(BILD, "BILD") X(BIPD, "BIPD") X(MBSQ, "MBSQ") X(MBIL, "MBIL")   \
  X(MBIP, "MBIP") X(MRGB32, "MRGB32") X(MRGB24, "MRGB24") X(MRGB565, "MRGB565")     \
  X(MRGB555, "MRGB555") X(MRGB8, "MRGB8") X(MRGB4, "MRGB4") X(MRGB1, "MRGB1")

#define VESK_IMGID_ENUM(id, name) IMG_##id,
enum ImgId { VESK_IMGID_LIST(VESK_IMGID_ENUM) kImgidCount };
#undef VESK_IMGID_ENUM

/* Content types. */
enum ImgType {
  IT_GENERAL, IT_REFLECTION, IT_TRANSMISSION, IT_ELEVATION, IT_SLOPE, IT_PCT,
  IT_CLASSIFICATION, kImgtypeCount
};

/* Named map projections; "PCS%d" codes lie in [kMinPcsCode, kMaxPcsCode]. */
inline constexpr int kMapidCount = 184;
inline constexpr int MAPID_UNKNOWN = 0;
inline constexpr int MAPID_GRID = 1;
inline constexpr int MAPID_UTM = 2;
inline constexpr int kMinPcsCode = 20000;
inline constexpr int kMaxPcsCode = 65535;

/* Room for a georeference string (the longest one is under 200 bytes). */
inline constexpr size_t kProjStringSize = 256;

/*
 * Whether the modules may move an image's values as bytes (getByteBILData
 * and putByteBILData): pixels of 8 bits or fewer, but SBYTE, whose byte is
 * not its value.  The others go through floats.
 */
inline bool readsAsBytes(const ImageHeader &h) { return h.bits <= 8 && h.pixelid != P_SBYTE; }

int getPixelid(const char *name);
const char *getPixelidName(int code);
int countPixelids();
int getPixelBits(int code);
int64_t pixelLineBytes(int pixelid, int64_t columns);

int getImgid(const char *name);
const char *getImgidName(int code);
int countImgids();
bool isMemoryImgid(int code);

int getMapid(const char *name);
const char *getMapidName(int code);
int countMapids();

int getImgtype(const char *name);
const char *getImgtypeName(int code);
int countImgtypes();

void initImageHeader(ImageHeader *header);
int formatProjString(const ImageHeader *header, char *out, size_t size);
int parseProjString(ImageHeader *header, const char *text);
void swapErdasHeader(unsigned char *header);

}  // namespace vesk

#endif
