/*
 * dbase.h --
 *     The dBase store: one dBase III table held in memory as its header
 *     block (file header, field descriptors, terminator), one block of
 *     fixed-length records, the offset of each field in a record, an order
 *     index and a flag byte per record.  Table objects carry a store as
 *     their payload.
 */
#ifndef VESK_VECTOR_DBASE_H
#define VESK_VECTOR_DBASE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "vector/shapefile.h" /* RECORD_SELECTED, RECORD_DELETED */

namespace vesk {

inline constexpr int kdBaseHeaderSize = 32;
inline constexpr int kdBaseDescriptorSize = 32;
inline constexpr int kdBaseNameLimit = 10;   /* characters of a field name */
inline constexpr int kdBaseFieldLimit = 255; /* bytes of a field: one descriptor byte */
inline constexpr size_t kdBasePathLimit = 256;
/* Header and record lengths are 16-bit fields of the file header. */
inline constexpr int kdBaseLengthLimit = 65535;

struct DBaseTable {
  std::string path;                  /* the file read or last written */
  std::vector<unsigned char> header; /* header block exactly as in the file */
  int32_t lockCount = 0;             /* non-zero: a purge only sets purgePending */
  int32_t purgePending = 0;
  int32_t dirty = 0; /* 1 after changes, 0 after reading and writing */
  int32_t fieldCount = 0;
  int32_t count = 0;                  /* records; equal to the header's record count */
  int32_t recordLength = 1;           /* bytes per record, deletion byte included */
  std::vector<unsigned char> records; /* size is the data size (capacity in records x length) */
  std::vector<int32_t> fieldOffsets;  /* 1 for the first field */
  std::vector<int32_t> order;         /* order index, count entries in use */
  std::vector<unsigned char> flags;   /* one per record in use */
  int32_t released = 0;               /* given up by its owner while locked: freed at unlock */
};

/* One field descriptor as the store uses it. */
struct DBaseField {
  std::string name; /* at most 10 characters */
  char type = 'C';
  int length = 0;
  int decimals = 0;
};

/* Table life. */
DBaseTable *readdBase(const char *path, int *status);
bool readdBaseInfo(const char *path, std::vector<unsigned char> &header, int *status);
DBaseTable *newdBaseTable();
DBaseTable *clonedBase(const DBaseTable *table);
DBaseTable *copydBaseTable(const DBaseTable *table, int n, const int *fieldIndexes,
                           int selectedOnly);
void freedBase(DBaseTable *table);
int writedBase(const char *path, DBaseTable *table, int selectedOnly, int *status);

/* The header block. */
int dBaseFieldCountOf(const std::vector<unsigned char> &header);
DBaseField getdBaseField(const std::vector<unsigned char> &header, int field);
int32_t dBaseHeaderCount(const DBaseTable *table);

/* Fields. */
bool parsedBaseFieldDef(const char *const words[4], DBaseField *field);
int adddBaseField(DBaseTable *table, const DBaseField *fields, int n, const char *const *values);
int insertdBaseFieldsAt(DBaseTable *table, const DBaseField *fields, int n,
                        const char *const *values, int position);
int deletedBaseFields(DBaseTable *table, int n, const int *fieldIndexes);
int finddBaseField(const DBaseTable *table, const char *name);
int setdBaseFieldName(DBaseTable *table, int field, const char *newName);

/* Records. */
int adddBaseRecord(DBaseTable *table, const unsigned char *records, int n);
int insertdBaseRecords(DBaseTable *table, const unsigned char *records, int n, int position);
int erasedBaseRecords(DBaseTable *table, int first, int last);
int setdBaseFields(DBaseTable *table, int record, int firstField, int n, const char *const *texts);
int setdBaseField(DBaseTable *table, int record, int field, const char *text);
int parsedBaseRecord(const DBaseTable *table, unsigned char *record, int n,
                     const char *const *texts);
int getdBaseFieldText(const DBaseTable *table, int record, int field, std::string &out);
std::string getdBaseRecordText(const DBaseTable *table, int record);
void blankdBaseCells(DBaseTable *table, int x0, int y0, int x1, int y1);
int purgedBase(DBaseTable *table);
void cleardBaseRecords(DBaseTable *table);
void reorderdBaseIndex(DBaseTable *table, int sort);

/* Flags. */
int isdBaseSelected(const DBaseTable *table, int record);
int isdBaseDeleted(const DBaseTable *table, int record);
void selectdBaseRecord(DBaseTable *table, int record);
void unselectdBaseRecord(DBaseTable *table, int record);
void toggledBaseRecord(DBaseTable *table, int record);
void deletedBaseRecord(DBaseTable *table, int record);
void undeletedBaseRecord(DBaseTable *table, int record);
int selectAlldBase(DBaseTable *table);
int unselectAlldBase(DBaseTable *table);
int countdBaseSelected(const DBaseTable *table);
int countdBaseDeleted(const DBaseTable *table);

/* Raw records and fields, records of an open file, the order of values. */
int copydBaseRecord(const DBaseTable *table, int record, unsigned char *out);
int splitdBaseRecord(const DBaseTable *table, const unsigned char *record,
                     std::vector<std::string> &fields);
int getdBaseFieldRaw(const DBaseTable *table, int record, int field, std::string &out);
int setdBaseFieldsRaw(DBaseTable *table, int record, int firstField, int n,
                      const char *const *texts);
unsigned char *getNthdBaseRec(int fd, int n, int *length);
int comparedBaseValues(char type, const unsigned char *a, int lengthA, const unsigned char *b,
                       int lengthB);

/* Field contents. */
bool setFieldFromText(const DBaseField &field, const char *text, unsigned char *out);
std::string fieldTextOf(const DBaseField &field, const unsigned char *bytes);

}  // namespace vesk

#endif
