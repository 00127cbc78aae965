/*
 * shapefile.h --
 *     The shapefile store: one ESRI shapefile (.shp with its .shx index)
 *     held in memory as a header and a single buffer of records, with an
 *     offset table and a flag byte per record.  Shape objects carry a store
 *     as their payload; the map canvas reads it through their VectorOps.
 */
#ifndef VESK_VECTOR_SHAPEFILE_H
#define VESK_VECTOR_SHAPEFILE_H

#include <stddef.h>
#include <stdint.h>
#include <memory>
#include <string>
#include <vector>

namespace vesk {

/*
 * Doubles inside a record: every record starts on a 4-byte boundary, so
 * its coordinate arrays are only 4-byte aligned.  Read them by value:
 * binding one to a `const double &` (std::min, a template deducing
 * double) assumes 8-byte alignment.
 */
typedef double ShapeDouble __attribute__((aligned(4)));

/* Shape type codes of the main file. */
enum ShapeType {
  SHP_NULL = 0,
  SHP_POINT = 1,
  SHP_POLYLINE = 3,
  SHP_POLYGON = 5,
  SHP_MULTIPOINT = 8,
  SHP_POINTZ = 11,
  SHP_POLYLINEZ = 13,
  SHP_POLYGONZ = 15,
  SHP_MULTIPOINTZ = 18,
  SHP_POINTM = 21,
  SHP_POLYLINEM = 23,
  SHP_POLYGONM = 25,
  SHP_MULTIPOINTM = 28,
  SHP_MULTIPATCH = 31,
};

/* The flag byte of a record: a deleted record's byte is exactly 2. */
inline constexpr unsigned char RECORD_SELECTED = 1;
inline constexpr unsigned char RECORD_DELETED = 2;

inline constexpr int32_t kShapeFileCode = 9994;
inline constexpr int32_t kShapeVersion = 1000;
inline constexpr int kShapeHeaderSize = 100;
inline constexpr int kShapeTerminatorSize = 12;
/* Texts kept by a store (path, projection definition) stay below this. */
inline constexpr size_t kShapeTextLimit = 256;

/* The 100-byte main-file header, every field in host byte order. */
struct ShapeFileHeader {
  int32_t fileCode = 0;    /* always 9994 */
  int32_t unused[5] = {};  /* neither read nor set */
  int32_t fileLength = 0;  /* 16-bit words, header included */
  int32_t version = 0;
  int32_t shapeType = 0;
  double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  double zmin = 0, zmax = 0;
  double mmin = 0, mmax = 0;
};

/*
 * One record in the buffer: record number, content length (16-bit words,
 * the 8 header bytes not counted), then the content in host byte order,
 * with the parts array holding the NUMBER OF POINTS of each part.  The
 * last record is followed by a 12-byte terminator (number -1, length 0,
 * type 0).
 */
typedef unsigned char ShapeRecord;

struct ShapeFile {
  std::string path;        /* main file as opened; empty when made in memory */
  std::string projection;  /* projection definition of the shape object */
  ShapeFileHeader header;
  unsigned char *records = nullptr;  /* malloc'd; records then terminator */
  int32_t lockCount = 0;             /* non-zero: purges are deferred */
  int32_t purgePending = 0;
  int32_t dirty = 0;          /* 1 after a change, 0 after open and write */
  int64_t bufferSize = 0;     /* bytes allocated at records */
  int32_t count = 0;          /* records */
  int32_t nextNumber = 1;     /* number of the next record added without one */
  std::vector<int64_t> offsets;       /* byte offset of each record, ascending */
  std::vector<unsigned char> flags;   /* RECORD_SELECTED / RECORD_DELETED */
};

/* One entry of the index file: offset and content length, in words. */
struct ShapeIndexEntry {
  int32_t offset = 0;
  int32_t length = 0;
};

/* ---- shape types ---- */
bool shapeTypeHasZ(int type);
bool shapeTypeHasM(int type);
bool shapeTypeIsPolygon(int type);
bool shapeTypeHasParts(int type);
int64_t shapeRecordSize(int type, int64_t n, int64_t p);
const char *shapeTypeDisplayName(int type);

/* ---- store life ---- */
ShapeFile *openShapeFile(const char *path, int *status);
ShapeFile *decodeShapeFile(const unsigned char *data, size_t size,
                           const std::vector<ShapeIndexEntry> *index, const char *name,
                           int *status);
ShapeFile *newShapeFile(int type, const int32_t *partCounts, const int32_t *pointCounts, int n);
ShapeFile *cloneShapeFile(const ShapeFile *store);
ShapeFile *copySelectedShapes(const ShapeFile *store);
void freeShapeFile(ShapeFile *store);
int setShapeProjection(ShapeFile *store, const char *text);

/* ---- records ---- */
ShapeRecord *getShapeRecord(const ShapeFile *store, int i);
ShapeRecord *nextShapeRecord(ShapeRecord *record);
int32_t shapeRecordNumber(const ShapeRecord *record);
int32_t shapeRecordType(const ShapeRecord *record);
int64_t shapeRecordBytes(const ShapeRecord *record);
ShapeDouble *getRecordBox(ShapeRecord *record);
int32_t *getRecordParts(ShapeRecord *record, int *count);
ShapeDouble *getRecordPoints(ShapeRecord *record, int *count);
ShapeDouble *getRecordZ(ShapeRecord *record, double *min, double *max);
ShapeDouble *getRecordM(ShapeRecord *record, double *min, double *max);
int32_t *getRecordPartTypes(ShapeRecord *record, int *count);

ShapeRecord *addShapeRecord(ShapeFile *store, int number, const double *points, int n,
                            const int32_t *parts, int p, const double *z, const double *m,
                            const int32_t *partTypes);
ShapeRecord *insertShapeRecord(ShapeFile *store, int i, int number, const double *points, int n,
                               const int32_t *parts, int p, const double *z, const double *m,
                               const int32_t *partTypes);
ShapeRecord *replaceShapeRecord(ShapeFile *store, int i, int number, const double *points, int n,
                                const int32_t *parts, int p, const double *z, const double *m,
                                const int32_t *partTypes);
int eraseShapeRecords(ShapeFile *store, int first, int last);
int setShapeRecordContent(ShapeFile *store, int i, const double *points, int n,
                          const int32_t *parts, int p, const double *z, const double *m,
                          const int32_t *partTypes);

int setRecordPoints(ShapeRecord *record, const double *points, int start, int n);
int setRecordParts(ShapeRecord *record, const int32_t *lengths, int start, int n);
int setRecordPartTypes(ShapeRecord *record, const int32_t *types, int start, int n);
int setRecordZ(ShapeRecord *record, const double *values, int start, int n);
int setRecordM(ShapeRecord *record, const double *values, int start, int n);
void recomputeRecordBox(ShapeRecord *record);
void recomputeShapeRanges(ShapeFile *store, int recomputeBoxes);

/* ---- selection and deletion ---- */
void selectShape(ShapeFile *store, int i);
void unselectShape(ShapeFile *store, int i);
void toggleShape(ShapeFile *store, int i);
void deleteShape(ShapeFile *store, int i);
void undeleteShape(ShapeFile *store, int i);
int selectAllShapes(ShapeFile *store);
int unselectAllShapes(ShapeFile *store);
int countSelectedShapes(const ShapeFile *store);
int countDeletedShapes(const ShapeFile *store);
int isShapeSelected(const ShapeFile *store, int i);
int isShapeDeleted(const ShapeFile *store, int i);
int purgeShapeFile(ShapeFile *store);
void clearShapeFile(ShapeFile *store);

/* ---- files ---- */
std::unique_ptr<ShapeFileHeader> getShapeHead(const char *path, int *status);
void decodeShapeHeader(const unsigned char *bytes, ShapeFileHeader &header);
void encodeShapeHeader(const ShapeFileHeader &header, unsigned char *bytes);
int saveShapeHead(int fd, ShapeFileHeader *header);
int writeShape(const char *path, ShapeFile *store, int selectedOnly, int *status);
bool readShapeIndex(const char *path, std::vector<ShapeIndexEntry> &entries, int *status);
bool decodeShapeIndex(const unsigned char *data, size_t size, int32_t mainFileLength,
                      std::vector<ShapeIndexEntry> &entries);
int countShapeIndex(const char *path, int *count);
std::string shapeIndexPath(const char *path);

/* ---- standalone records (malloc'd; freeShapeRecord gives them back) ---- */
ShapeRecord *newShapeRecord(int type, int n, int p);
ShapeRecord *makePointShape(int number, double x, double y);
ShapeRecord *makePolylineShape(int number, const double *points, int n, const int32_t *lengths,
                               int p);
ShapeRecord *makePolygonShape(int number, const double *points, int n, const int32_t *lengths,
                              int p);
ShapeRecord *copyShapeRecord(const ShapeRecord *record);
void freeShapeRecord(ShapeRecord *record);

}  // namespace vesk

#endif
