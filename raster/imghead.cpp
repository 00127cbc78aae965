/*
 * imghead.cpp --
 *     The image header's vocabularies and the helpers over the record:
 *     name lookups of pixel types, layouts, map projections and content
 *     types, header initialisation, the georeference string and the byte
 *     order change of an ERDAS header.
 */
#include "raster/imghead.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>

#include "core/families.h"
#include "core/options.h"
#include "core/text.h"

namespace vesk {

namespace {

constexpr const char *pixelidNames[] = {
    "UNKNOWN", "1BIT", "4BITS", "BYTE", "SHORT", "LONG", "FLOAT", "USHORT", "ULONG", "SBYTE"};
static_assert(sizeof(pixelidNames) / sizeof(pixelidNames[0]) == kPixelidCount);

constexpr int pixelBitsTable[] = {0, 1, 4, 8, 16, 32, 32, 16, 32, 8};
static_assert(sizeof(pixelBitsTable) / sizeof(pixelBitsTable[0]) == kPixelidCount);

#define VESK_IMGID_NAME(id, name) name,
constexpr const char *imgidNames[] = {VESK_IMGID_LIST(VESK_IMGID_NAME)};
#undef VESK_IMGID_NAME
static_assert(sizeof(imgidNames) / sizeof(imgidNames[0]) == kImgidCount);
static_assert(kImgidCount == 31);

constexpr const char *imgtypeNames[] = {"GENERAL", "REFLECTION", "TRANSMISSION", "ELEVATION",
                                        "SLOPE", "PCT", "CLASSIFICATION"};
static_assert(sizeof(imgtypeNames) / sizeof(imgtypeNames[0]) == kImgtypeCount);

constexpr const char *mapidNames[] = {
    "UNKNOWN", "GRID", "UTM",
    "UTM1", "UTM2", "UTM3", "UTM4", "UTM5", "UTM6", "UTM7", "UTM8", "UTM9", "UTM10",
    "UTM11", "UTM12", "UTM13", "UTM14", "UTM15", "UTM16", "UTM17", "UTM18", "UTM19", "UTM20",
    "UTM21", "UTM22", "UTM23", "UTM24", "UTM25", "UTM26", "UTM27", "UTM28", "UTM29", "UTM30",
    "UTM31", "UTM32", "UTM33", "UTM34", "UTM35", "UTM36", "UTM37", "UTM38", "UTM39", "UTM40",
    "UTM41", "UTM42", "UTM43", "UTM44", "UTM45", "UTM46", "UTM47", "UTM48", "UTM49", "UTM50",
    "UTM51", "UTM52", "UTM53", "UTM54", "UTM55", "UTM56", "UTM57", "UTM58", "UTM59", "UTM60",
    "POLAR",
    "AEA", "AEQD", "AIRY", "AITOFF", "ALSK", "APIAN", "AUGUST", "BACON", "BIPC", "BOGGS",
    "BONNE", "CASS", "CC", "CEA", "CHAMB", "COLLG", "CRAST", "DENOY", "ECK1", "ECK2",
    "ECK3", "ECK4", "ECK5", "ECK6", "EQC", "EQDC", "EULER", "FAHEY", "FOUC", "FOUC_S",
    "GALL", "GINS8", "GN_SINU", "GNOM", "GOODE", "GS48", "GS50", "HAMMER", "HATANO", "IMW_P",
    "KAV5", "KAV7", "LABRD", "LAEA", "LAGRNG", "LARR", "LASK", "LATLONG", "LONGLAT", "LCC",
    "LEAC", "LEE_OS", "LOXIM", "LSAT", "MBT_S", "MBT_FPS", "MBTFPP", "MBTFPQ", "MBTFPS", "MERC",
    "MIL_OS", "MILL", "MPOLY", "MOLL", "MURD1", "MURD2", "MURD3", "NELL", "NELL_H", "NICOL",
    "NSPER", "NZMG", "OB_TRAN", "OCEA", "OEA", "OMERC", "ORTEL", "ORTHO", "PCONIC", "POLY",
    "PUTP1", "PUTP2", "PUTP3", "PUTP3P", "PUTP4P", "PUTP5", "PUTP5P", "PUTP6", "PUTP6P",
    "QUA_AUT", "ROBIN", "RPOLY", "SINU", "SOMERC", "STERE", "TCC", "TCEA", "TISSOT", "TMERC",
    "TPEQD", "TPERS", "UPS", "URM5", "URMFPS", "VANDG", "VANDG2", "VANDG3", "VANDG4", "VITK1",
    "WAG1", "WAG2", "WAG3", "WAG4", "WAG5", "WAG6", "WAG7", "WEREN", "WINK1", "WINK2",
    "WINTRI"};
static_assert(sizeof(mapidNames) / sizeof(mapidNames[0]) == kMapidCount);

/* First row from `first` whose name equals the text exactly, or -1. */
int lookupName(const char *const *table, int count, int first, const char *name) {
  if (!name) return -1;
  for (int i = first; i < count; i++)
    if (strcmp(table[i], name) == 0) return i;
  return -1;
}

}  // namespace

/* getPixelid -- code 1 to 9 of a pixel type name; "UNKNOWN" is refused. */
int getPixelid(const char *name) { return lookupName(pixelidNames, kPixelidCount, 1, name); }

/* getPixelidName -- name of a pixel code; "UNKNOWN" outside the table. */
const char *getPixelidName(int code) {
  return code >= 0 && code < kPixelidCount ? pixelidNames[code] : pixelidNames[0];
}

int countPixelids() { return kPixelidCount; }

/* getPixelBits -- bits of one sample of a pixel type; 0 outside the table. */
int getPixelBits(int code) {
  return code >= 0 && code < kPixelidCount ? pixelBitsTable[code] : 0;
}

/* pixelLineBytes -- bytes one cached line of `columns` pixels occupies. */
int64_t pixelLineBytes(int pixelid, int64_t columns) {
  switch (pixelid) {
  case P_1BIT: return (columns + 7) / 8;
  case P_4BITS: return (4 * columns + 4) / 8;
  case P_SHORT:
  case P_USHORT: return 2 * columns;
  case P_LONG:
  case P_FLOAT:
  case P_ULONG: return 4 * columns;
  default: return columns;
  }
}

/* getImgid -- code 0 to 30 of a layout name ("UNKNOWN" is 0), or -1. */
int getImgid(const char *name) { return lookupName(imgidNames, kImgidCount, 0, name); }

const char *getImgidName(int code) {
  return code >= 0 && code < kImgidCount ? imgidNames[code] : imgidNames[0];
}

int countImgids() { return kImgidCount; }

/* isMemoryImgid -- true for the layouts that never live in a file. */
bool isMemoryImgid(int code) { return code >= IMG_MBSQ && code <= IMG_MRGB1; }

/*
 * getMapid --
 *     A "PCS%d" text with a code from 20000 to 65535 gives that code (what
 *     follows the digits is ignored); otherwise the named code from row 1,
 *     or -1.
 */
int getMapid(const char *name) {
  if (!name) return -1;
  int code = 0;
  if (sscanf(name, "PCS%d", &code) == 1 && code >= kMinPcsCode && code <= kMaxPcsCode)
    return code;
  return lookupName(mapidNames, kMapidCount, 1, name);
}

/*
 * getMapidName --
 *     Name of a map code.  PCS codes are printed into one static buffer
 *     that the next such call overwrites; unknown codes give "UNKNOWN".
 */
const char *getMapidName(int code) {
  static char pcsName[32];
  if (code >= kMinPcsCode && code <= kMaxPcsCode) {
    snprintf(pcsName, sizeof pcsName, "PCS%d", code);
    return pcsName;
  }
  return code >= 0 && code < kMapidCount ? mapidNames[code] : mapidNames[0];
}

int countMapids() { return kMapidCount; }

int getImgtype(const char *name) { return lookupName(imgtypeNames, kImgtypeCount, 0, name); }

/* getImgtypeName -- 100, 101 and 102 print as ELEVATION, GENERAL, SLOPE. */
const char *getImgtypeName(int code) {
  switch (code) {
  case 100: return imgtypeNames[IT_ELEVATION];
  case 101: return imgtypeNames[IT_GENERAL];
  case 102: return imgtypeNames[IT_SLOPE];
  default: break;
  }
  return code >= 0 && code < kImgtypeCount ? imgtypeNames[code] : "UNKNOWN";
}

int countImgtypes() { return kImgtypeCount; }

/* installImageVocabularies -- the lookups behind the id options of these names. */
void installImageVocabularies() {
  idKinds[ID_MAPID].nameToId = getMapid;
  idKinds[ID_MAPID].idToName = getMapidName;
  idKinds[ID_IMGID].nameToId = getImgid;
  idKinds[ID_IMGID].idToName = getImgidName;
  idKinds[ID_IMGTYPE].nameToId = getImgtype;
  idKinds[ID_IMGTYPE].idToName = getImgtypeName;
  idKinds[ID_PIXEL].nameToId = getPixelid;
  idKinds[ID_PIXEL].idToName = getPixelidName;
}

/* initImageHeader -- every field zero, the palette a grey ramp. */
void initImageHeader(ImageHeader *header) {
  memset(header, 0, sizeof *header);
  for (int i = 0; i < 256; i++)
    header->palette[i][0] = header->palette[i][1] = header->palette[i][2] =
        static_cast<unsigned char>(i);
}

/*
 * formatProjString --
 *     Writes the georeference string of a header.
 * Results:      the string's length plus one (its size with the NUL).
 */
int formatProjString(const ImageHeader *header, char *out, size_t size) {
  return snprintf(out, size, "vesk proj:%s x0:%.32g y0:%.32g dx:%.32g dy:%.32g",
                  getMapidName(header->mapid), header->x0, header->y0, header->dx,
                  header->dy) + 1;
}

/*
 * parseProjString --
 *     Reads a georeference string.  The projection name is one blank-free
 *     word of at most 63 characters; longer names end the match.
 * Results:      1 with mapid, x0, y0, dx and dy set when all five fields
 *     are read; 0 and the header untouched otherwise.
 */
int parseProjString(ImageHeader *header, const char *text) {
  if (!text) return 0;
  char name[64];
  int nameEnd = 0;
  if (sscanf(text, "vesk proj:%63s%n", name, &nameEnd) != 1 || nameEnd <= 0) return 0;
  if (text[nameEnd] != '\0' && !isspace(static_cast<unsigned char>(text[nameEnd]))) return 0;
  double x0, y0, dx, dy;
  if (sscanf(text + nameEnd, " x0:%lg y0:%lg dx:%lg dy:%lg", &x0, &y0, &dx, &dy) != 4) return 0;
  header->mapid = getMapid(name);
  header->x0 = x0;
  header->y0 = y0;
  header->dx = dx;
  header->dy = dy;
  return 1;
}

/*
 * swapErdasHeader --
 *     Changes a 128-byte ERDAS header between the two byte orders: the
 *     2-byte and 4-byte fields are reversed in place.
 */
void swapErdasHeader(unsigned char *header) {
  static constexpr int shortFields[] = {6, 8, 10, 88, 90, 106};
  static constexpr int longFields[] = {16, 20, 24, 28, 36, 40, 108, 112, 116, 120, 124};
  for (int at : shortFields) swapBytes(header + at, 2);
  for (int at : longFields) swapBytes(header + at, 4);
}

}  // namespace vesk
