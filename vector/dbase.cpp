/*
 * dbase.cpp --
 *     The dBase store: reading and writing dBase III tables, adding,
 *     inserting, deleting and renaming fields, appending, inserting,
 *     erasing and purging records, the selection and deletion flags, and
 *     the conversion of field contents to and from text by field type.
 *
 *     Every count, length and offset read from a file is checked against
 *     the file's size before it is used; a table is written beside its
 *     destination and renamed into place once complete.
 */
#include "vector/dbase.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <new>

#include "core/core.h"
#include "core/savefile.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

constexpr unsigned char kdBaseTerminator = 0x0D;
constexpr unsigned char kdBaseEndOfFile = 0x1A;
constexpr int kdBaseGrowRecords = 1024;

/* ---- header fields ---- */

uint32_t dBaseGet32(const std::vector<unsigned char> &h, size_t at) {
  return static_cast<uint32_t>(h[at]) | static_cast<uint32_t>(h[at + 1]) << 8 |
         static_cast<uint32_t>(h[at + 2]) << 16 | static_cast<uint32_t>(h[at + 3]) << 24;
}

int dBaseGet16(const std::vector<unsigned char> &h, size_t at) { return h[at] | h[at + 1] << 8; }

void dBasePut32(std::vector<unsigned char> &h, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) h[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void dBasePut16(std::vector<unsigned char> &h, size_t at, int value) {
  h[at] = static_cast<unsigned char>(value & 0xff);
  h[at + 1] = static_cast<unsigned char>((value >> 8) & 0xff);
}

size_t descriptorAt(int field) {
  return kdBaseHeaderSize + static_cast<size_t>(field) * kdBaseDescriptorSize;
}

/* The current UTC date. */
struct tm dBaseToday() {
  time_t now = time(nullptr);
  struct tm today;
  memset(&today, 0, sizeof today);
  gmtime_r(&now, &today);
  return today;
}

/* Header, record count, record length and field offsets in step with the header block. */
void recomputedBaseLayout(DBaseTable *table) {
  std::vector<unsigned char> &h = table->header;
  table->fieldCount = dBaseFieldCountOf(h);
  table->fieldOffsets.assign(static_cast<size_t>(table->fieldCount), 0);
  int offset = 1;
  for (int i = 0; i < table->fieldCount; i++) {
    table->fieldOffsets[static_cast<size_t>(i)] = offset;
    offset += h[descriptorAt(i) + 16];
  }
  dBasePut32(h, 4, static_cast<uint32_t>(table->count));
  dBasePut16(h, 10, table->recordLength);
}

/* The field list of a table as descriptors. */
std::vector<DBaseField> dBaseFields(const DBaseTable *table) {
  std::vector<DBaseField> fields;
  for (int i = 0; i < table->fieldCount; i++) fields.push_back(getdBaseField(table->header, i));
  return fields;
}

/* A header block rebuilt from a file header and a field list. */
std::vector<unsigned char> builddBaseHeader(const std::vector<unsigned char> &old,
                                            const std::vector<DBaseField> &fields) {
  size_t length = descriptorAt(static_cast<int>(fields.size())) + 1;
  std::vector<unsigned char> h(length, 0);
  std::copy(old.begin(), old.begin() + kdBaseHeaderSize, h.begin());
  for (size_t i = 0; i < fields.size(); i++) {
    size_t at = descriptorAt(static_cast<int>(i));
    memcpy(&h[at], fields[i].name.data(), std::min<size_t>(fields[i].name.size(), 10));
    h[at + 11] = static_cast<unsigned char>(fields[i].type);
    h[at + 16] = static_cast<unsigned char>(fields[i].length);
    h[at + 17] = static_cast<unsigned char>(fields[i].decimals);
  }
  h[length - 1] = kdBaseTerminator;
  dBasePut16(h, 8, static_cast<int>(length));
  return h;
}

int recordLengthOf(const std::vector<DBaseField> &fields) {
  int length = 1;
  for (const DBaseField &field : fields) length += field.length;
  return length;
}

/* The default contents of a field. */
void defaultFieldBytes(const DBaseField &field, unsigned char *out) {
  memset(out, ' ', static_cast<size_t>(field.length));
  switch (field.type) {
    case 'N':
    case 'M':
      setFieldFromText(field, "0", out);
      break;
    case 'D': {
      struct tm today = dBaseToday();
      std::string text =
          fmt("%02d/%02d/%02d", today.tm_year - 100, today.tm_mon + 1, today.tm_mday);
      setFieldFromText(field, text.c_str(), out);
      break;
    }
    case 'L':
      setFieldFromText(field, "?", out);
      break;
    default:
      break;
  }
}

/* One record of default values. */
std::vector<unsigned char> defaultdBaseRecord(const DBaseTable *table) {
  std::vector<unsigned char> record(static_cast<size_t>(table->recordLength), ' ');
  for (int i = 0; i < table->fieldCount; i++) {
    DBaseField field = getdBaseField(table->header, i);
    defaultFieldBytes(field,
                      &record[static_cast<size_t>(table->fieldOffsets[static_cast<size_t>(i)])]);
  }
  return record;
}

unsigned char *recordAt(DBaseTable *table, int record) {
  return table->records.data() +
         static_cast<size_t>(record) * static_cast<size_t>(table->recordLength);
}

const unsigned char *recordAt(const DBaseTable *table, int record) {
  return table->records.data() +
         static_cast<size_t>(record) * static_cast<size_t>(table->recordLength);
}

bool validRecord(const DBaseTable *table, int record) {
  return table && record >= 0 && record < table->count;
}

/* Room for n more records: the block grows by at least 1024 records. */
bool growdBaseBlock(DBaseTable *table, int n) {
  size_t length = static_cast<size_t>(table->recordLength);
  size_t needed = (static_cast<size_t>(table->count) + static_cast<size_t>(n)) * length;
  if (table->records.size() >= needed) return true;
  try {
    table->records.resize(table->records.size() +
                          static_cast<size_t>(std::max(n, kdBaseGrowRecords)) * length);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "adddBaseRecord - error realloc table\n");
    return false;
  }
  size_t capacity = table->records.size() / length;
  try {
    table->order.reserve(capacity);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "adddBaseRecord - error realloc index");
    return false;
  }
  try {
    table->flags.reserve(capacity);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "adddBaseRecord - error realloc select bits");
    return false;
  }
  return true;
}

/* The block, index and flags cut to the records in use. */
void shrinkdBaseBlock(DBaseTable *table) {
  table->records.resize(static_cast<size_t>(table->count) *
                        static_cast<size_t>(table->recordLength));
  table->records.shrink_to_fit();
  table->order.shrink_to_fit();
  table->flags.shrink_to_fit();
  dBasePut32(table->header, 4, static_cast<uint32_t>(table->count));
}

/* Drops the records whose keep entry is false; order entries are renumbered. */
void dropdBaseRecords(DBaseTable *table, const std::vector<bool> &keep) {
  std::vector<int32_t> newIndex(static_cast<size_t>(table->count), -1);
  int kept = 0;
  size_t length = static_cast<size_t>(table->recordLength);
  for (int r = 0; r < table->count; r++) {
    if (!keep[static_cast<size_t>(r)]) continue;
    if (kept != r) {
      memmove(recordAt(table, kept), recordAt(table, r), length);
      table->flags[static_cast<size_t>(kept)] = table->flags[static_cast<size_t>(r)];
    }
    newIndex[static_cast<size_t>(r)] = kept++;
  }
  std::vector<int32_t> order;
  for (int32_t value : table->order)
    if (value >= 0 && value < table->count && newIndex[static_cast<size_t>(value)] >= 0)
      order.push_back(newIndex[static_cast<size_t>(value)]);
  table->order.swap(order);
  table->count = kept;
  table->flags.resize(static_cast<size_t>(kept));
  shrinkdBaseBlock(table);
  table->dirty = 1;
}

struct dBaseFd {
  int fd;
  ~dBaseFd() {
    if (fd >= 0) close(fd);
  }
};

/*
 * checkdBaseHeader --
 *     Checks a header block read from a file of fileSize bytes: version,
 *     header length, descriptors and record length.
 * Results:      the field count, or -1 when the header cannot be trusted.
 */
int checkdBaseHeader(const std::vector<unsigned char> &h) {
  int fields = dBaseFieldCountOf(h);
  int64_t length = 1;
  for (int i = 0; i < fields; i++) length += h[descriptorAt(i) + 16];
  if (length > dBaseGet16(h, 10)) return -1;
  return fields;
}

}  // namespace

/* ---- the header block ---- */

/* Descriptors up to the terminator, at most as many as the header length holds. */
int dBaseFieldCountOf(const std::vector<unsigned char> &header) {
  if (header.size() < static_cast<size_t>(kdBaseHeaderSize)) return 0;
  int limit = static_cast<int>((header.size() - kdBaseHeaderSize) / kdBaseDescriptorSize);
  int fields = 0;
  while (fields < limit && header[descriptorAt(fields)] != kdBaseTerminator) fields++;
  return fields;
}

DBaseField getdBaseField(const std::vector<unsigned char> &header, int field) {
  DBaseField out;
  size_t at = descriptorAt(field);
  if (field < 0 || at + kdBaseDescriptorSize > header.size()) return out;
  const char *name = reinterpret_cast<const char *>(&header[at]);
  out.name.assign(name, strnlen(name, 11));
  out.type = static_cast<char>(header[at + 11]);
  out.length = header[at + 16];
  out.decimals = header[at + 17];
  return out;
}

int32_t dBaseHeaderCount(const DBaseTable *table) {
  return static_cast<int32_t>(dBaseGet32(table->header, 4));
}

/* ---- table life ---- */

/*
 * readdBase --
 *     Reads a dBase III file into a new table: every record selected,
 *     the order index 0..count-1, the table clean.
 * Results:      the table, or NULL with status 0 (cannot open), 1 (not a
 *               dBase III header, or one the file cannot hold), 2 (records
 *               missing from the file) or 3 (no memory).
 */
DBaseTable *readdBase(const char *path, int *status) {
  int dummy;
  if (!status) status = &dummy;
  dBaseFd file{open(path, O_RDONLY)};
  if (file.fd < 0) {
    vesk_fprintf(stderr, "Error in open:%s\n", path);
    *status = 0;
    return nullptr;
  }
  struct stat info;
  if (fstat(file.fd, &info) != 0) {
    *status = 0;
    return nullptr;
  }
  int64_t fileSize = info.st_size;
  try {
    std::vector<unsigned char> h(kdBaseHeaderSize);
    if (fileSize < kdBaseHeaderSize ||
        getFileData(file.fd, h.data(), kdBaseHeaderSize, 0, 0) != kdBaseHeaderSize ||
        (h[0] != 3 && h[0] != 0x83)) {
      vesk_fprintf(stderr, "readdBase - not a dBase III file: %s\n", path);
      *status = 1;
      return nullptr;
    }
    int headerLength = dBaseGet16(h, 8);
    int recordLength = dBaseGet16(h, 10);
    int64_t count = dBaseGet32(h, 4);
    if (headerLength < kdBaseHeaderSize + 1 || headerLength > fileSize || recordLength < 1 ||
        count > INT32_MAX) {
      vesk_fprintf(stderr, "readdBase - bad header in %s\n", path);
      *status = 1;
      return nullptr;
    }
    h.resize(static_cast<size_t>(headerLength));
    if (getFileData(file.fd, h.data(), headerLength, 0, 0) != headerLength ||
        checkdBaseHeader(h) < 0) {
      vesk_fprintf(stderr, "readdBase - bad header in %s\n", path);
      *status = 1;
      return nullptr;
    }
    int64_t dataSize = count * recordLength;
    if (dataSize > fileSize - headerLength) {
      vesk_fprintf(stderr, "readdBase - error in read\n");
      *status = 2;
      return nullptr;
    }
    std::unique_ptr<DBaseTable> table(new DBaseTable);
    table->header.swap(h);
    table->count = static_cast<int32_t>(count);
    table->recordLength = recordLength;
    recomputedBaseLayout(table.get());
    table->records.resize(static_cast<size_t>(dataSize));
    if (getFileData(file.fd, table->records.data(), dataSize, headerLength, 0) != dataSize) {
      vesk_fprintf(stderr, "readdBase - error in read\n");
      *status = 2;
      return nullptr;
    }
    table->order.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < table->count; i++) table->order[static_cast<size_t>(i)] = i;
    table->flags.assign(static_cast<size_t>(count), RECORD_SELECTED);
    table->path.assign(path, strnlen(path, kdBasePathLimit - 1));
    table->dirty = 0;
    return table.release();
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "readdBase - error in malloc\n");
    *status = 3;
    return nullptr;
  }
}

/*
 * readdBaseInfo --
 *     The header block of a dBase file alone.
 * Results:      true with the block; false with status 0 (cannot open) or
 *               1 (bad header).
 */
bool readdBaseInfo(const char *path, std::vector<unsigned char> &header, int *status) {
  int dummy;
  if (!status) status = &dummy;
  dBaseFd file{open(path, O_RDONLY)};
  struct stat info;
  if (file.fd < 0 || fstat(file.fd, &info) != 0) {
    *status = 0;
    return false;
  }
  *status = 1;
  std::vector<unsigned char> h(kdBaseHeaderSize);
  if (info.st_size < kdBaseHeaderSize ||
      getFileData(file.fd, h.data(), kdBaseHeaderSize, 0, 0) != kdBaseHeaderSize ||
      (h[0] != 3 && h[0] != 0x83))
    return false;
  int headerLength = dBaseGet16(h, 8);
  if (headerLength < kdBaseHeaderSize + 1 || headerLength > info.st_size) return false;
  h.resize(static_cast<size_t>(headerLength));
  if (getFileData(file.fd, h.data(), headerLength, 0, 0) != headerLength || checkdBaseHeader(h) < 0)
    return false;
  header.swap(h);
  return true;
}

/* newdBaseTable -- an empty table of today's date, no fields, no records. */
DBaseTable *newdBaseTable() {
  DBaseTable *table = new (std::nothrow) DBaseTable;
  if (!table) return nullptr;
  table->header.assign(kdBaseHeaderSize + 1, 0);
  struct tm today = dBaseToday();
  table->header[0] = 3;
  table->header[1] = static_cast<unsigned char>(today.tm_year);
  table->header[2] = static_cast<unsigned char>(today.tm_mon + 1);
  table->header[3] = static_cast<unsigned char>(today.tm_mday);
  dBasePut16(table->header, 8, kdBaseHeaderSize + 1);
  table->header[kdBaseHeaderSize] = kdBaseTerminator;
  table->recordLength = 1;
  recomputedBaseLayout(table);
  return table;
}

DBaseTable *clonedBase(const DBaseTable *table) {
  if (!table) return nullptr;
  try {
    DBaseTable *copy = new DBaseTable(*table);
    /* The copy belongs to no running script. */
    copy->lockCount = 0;
    copy->purgePending = 0;
    copy->released = 0;
    return copy;
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "clonedBase - error in malloc\n");
    return nullptr;
  }
}

/*
 * copydBaseTable --
 *     A new table with the listed fields (all when n is 0) and copies of
 *     all records or of the selected ones in record order.
 * Results:      the table; NULL when selectedOnly finds no selected
 *               record, a field index is out of range, or memory runs out.
 */
DBaseTable *copydBaseTable(const DBaseTable *table, int n, const int *fieldIndexes,
                           int selectedOnly) {
  if (!table) return nullptr;
  if (selectedOnly && countdBaseSelected(table) == 0) return nullptr;
  std::vector<int> fields;
  if (n > 0 && fieldIndexes) {
    for (int i = 0; i < n; i++) {
      if (fieldIndexes[i] < 0 || fieldIndexes[i] >= table->fieldCount) return nullptr;
      fields.push_back(fieldIndexes[i]);
    }
  } else {
    for (int i = 0; i < table->fieldCount; i++) fields.push_back(i);
  }
  bool someFields = n > 0 && fieldIndexes;
  std::unique_ptr<DBaseTable> copy(newdBaseTable());
  if (!copy) return nullptr;
  try {
    std::vector<DBaseField> descriptors;
    for (int f : fields) descriptors.push_back(getdBaseField(table->header, f));
    copy->header = builddBaseHeader(copy->header, descriptors);
    copy->recordLength = someFields ? recordLengthOf(descriptors) : table->recordLength;
    std::vector<unsigned char> record(static_cast<size_t>(copy->recordLength));
    for (int r = 0; r < table->count; r++) {
      if (selectedOnly && !isdBaseSelected(table, r)) continue;
      const unsigned char *from = recordAt(table, r);
      if (someFields) {
        record[0] = ' ';
        size_t at = 1;
        for (size_t i = 0; i < fields.size(); i++) {
          size_t length = static_cast<size_t>(descriptors[i].length);
          memcpy(&record[at], from + table->fieldOffsets[static_cast<size_t>(fields[i])], length);
          at += length;
        }
      } else {
        memcpy(record.data(), from, record.size());
      }
      copy->records.insert(copy->records.end(), record.begin(), record.end());
      copy->order.push_back(copy->count++);
      copy->flags.push_back(RECORD_SELECTED);
    }
    recomputedBaseLayout(copy.get());
    copy->dirty = 1;
    return copy.release();
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "copydBaseTable - error in malloc\n");
    return nullptr;
  }
}

void freedBase(DBaseTable *table) { delete table; }

/*
 * writedBase --
 *     Writes the header block and all records, or only the selected ones
 *     under a header counting them, then the end-of-file byte.  The file
 *     is written beside path and renamed over it when complete, so a
 *     failure leaves any old file as it was.
 * Results:      1; 0 with status 0 (cannot create), 4 (header) or 5
 *               (records).
 * Side effects: on success the table takes the path and is clean.
 */
int writedBase(const char *path, DBaseTable *table, int selectedOnly, int *status) {
  int dummy;
  if (!status) status = &dummy;
  if (!table || !path || !path[0]) {
    *status = 0;
    return 0;
  }
  SaveFile file;
  if (!file.open(path)) {
    vesk_fprintf(stderr, "writedBase - error in open\n");
    *status = 0;
    return 0;
  }
  off_t at = 0;
  size_t length = static_cast<size_t>(table->recordLength);
  if (!selectedOnly) {
    if (!file.writeAt(table->header.data(), table->header.size(), 0)) {
      vesk_fprintf(stderr, "writedBase - error in writing head\n");
      *status = 4;
      return 0;
    }
    at = static_cast<off_t>(table->header.size());
    size_t data = static_cast<size_t>(table->count) * length;
    if (data && !file.writeAt(table->records.data(), data, at)) {
      vesk_fprintf(stderr, "writedBase - error in writing data\n");
      *status = 5;
      return 0;
    }
    at += static_cast<off_t>(data);
  } else {
    std::vector<unsigned char> header = table->header;
    dBasePut32(header, 4, static_cast<uint32_t>(countdBaseSelected(table)));
    if (!file.writeAt(header.data(), header.size(), 0)) {
      vesk_fprintf(stderr, "writedBase - error in writing head\n");
      *status = 4;
      return 0;
    }
    at = static_cast<off_t>(header.size());
    for (int r = 0; r < table->count; r++) {
      if (!isdBaseSelected(table, r)) continue;
      if (!file.writeAt(recordAt(table, r), length, at)) {
        vesk_fprintf(stderr, "writedBase - error in writing record\n");
        *status = 5;
        return 0;
      }
      at += static_cast<off_t>(length);
    }
  }
  if (!file.writeAt(&kdBaseEndOfFile, 1, at) || !file.commit()) {
    vesk_fprintf(stderr, "writedBase - error in writing data\n");
    *status = 5;
    return 0;
  }
  table->path.assign(path, strnlen(path, kdBasePathLimit - 1));
  table->dirty = 0;
  return 1;
}

/* ---- fields ---- */

/*
 * parsedBaseFieldDef --
 *     Checks the four words {name type length decimals} of a field
 *     definition.
 * Results:      true with the field filled in.
 */
bool parsedBaseFieldDef(const char *const words[4], DBaseField *field) {
  const char *name = words[0];
  size_t nameLength = strlen(name);
  if (nameLength == 0 || nameLength > kdBaseNameLimit || strchr(name, ' ')) return false;
  if (strlen(words[1]) != 1) return false;
  char type = words[1][0];
  long value[2];
  for (int i = 0; i < 2; i++) {
    const char *digits = words[2 + i];
    size_t n = strlen(digits);
    if (n == 0 || n > 6 || strspn(digits, "0123456789") != n) return false;
    value[i] = strtol(digits, nullptr, 10);
  }
  long length = value[0], decimals = value[1];
  if (length <= 0 || length > kdBaseFieldLimit || decimals >= length) return false;
  switch (type) {
    case 'C':
    case 'L':
      if (decimals != 0) return false;
      break;
    case 'D':
      if (length < 8 || decimals != 0) return false;
      break;
    case 'M':
      if (length < 4 || decimals != 0) return false;
      break;
    case 'N':
      break;
    default:
      return false;
  }
  field->name = name;
  field->type = type;
  field->length = static_cast<int>(length);
  field->decimals = static_cast<int>(decimals);
  return true;
}

/*
 * insertdBaseFieldsAt --
 *     Inserts n fields before field position; every record gets the given
 *     raw values (padded with blanks) or the fields' defaults.
 * Results:      1, or 0 with the table unchanged.
 */
int insertdBaseFieldsAt(DBaseTable *table, const DBaseField *fields, int n,
                        const char *const *values, int position) {
  if (!table || n <= 0 || position < 0 || position > table->fieldCount) return 0;
  const char *routine = position == table->fieldCount ? "adddBaseField" : "insertdBaseFieldsAt";
  std::vector<DBaseField> all = dBaseFields(table);
  all.insert(all.begin() + position, fields, fields + n);
  int newLength = recordLengthOf(all);
  if (newLength > kdBaseLengthLimit ||
      descriptorAt(static_cast<int>(all.size())) + 1 > static_cast<size_t>(kdBaseLengthLimit)) {
    vesk_fprintf(stderr, "%s - table too large\n", routine);
    return 0;
  }
  try {
    std::vector<unsigned char> added;
    for (int i = 0; i < n; i++) {
      size_t length = static_cast<size_t>(fields[i].length);
      std::vector<unsigned char> bytes(length, ' ');
      if (values) {
        const char *value = values[i] ? values[i] : "";
        memcpy(bytes.data(), value, std::min(length, strlen(value)));
      } else {
        defaultFieldBytes(fields[i], bytes.data());
      }
      added.insert(added.end(), bytes.begin(), bytes.end());
    }
    /* Bytes a file may keep after the last field are dropped. */
    size_t oldLength = static_cast<size_t>(recordLengthOf(dBaseFields(table)));
    size_t split = position < table->fieldCount
                       ? static_cast<size_t>(table->fieldOffsets[static_cast<size_t>(position)])
                       : oldLength;
    std::vector<unsigned char> block(static_cast<size_t>(table->count) *
                                     static_cast<size_t>(newLength));
    for (int r = 0; r < table->count; r++) {
      const unsigned char *from = recordAt(table, r);
      unsigned char *to = &block[static_cast<size_t>(r) * static_cast<size_t>(newLength)];
      memcpy(to, from, split);
      memcpy(to + split, added.data(), added.size());
      memcpy(to + split + added.size(), from + split, oldLength - split);
    }
    std::vector<unsigned char> header = builddBaseHeader(table->header, all);
    table->header.swap(header);
    table->records.swap(block);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "%s - error in malloc\n", routine);
    return 0;
  }
  table->recordLength = newLength;
  recomputedBaseLayout(table);
  table->dirty = 1;
  return 1;
}

int adddBaseField(DBaseTable *table, const DBaseField *fields, int n, const char *const *values) {
  return table ? insertdBaseFieldsAt(table, fields, n, values, table->fieldCount) : 0;
}

/*
 * deletedBaseFields --
 *     Removes the listed fields (indexes out of range are ignored).
 * Results:      1, or 0 when the list is empty or memory runs out.
 */
int deletedBaseFields(DBaseTable *table, int n, const int *fieldIndexes) {
  if (!table || n <= 0 || !fieldIndexes) return 0;
  std::vector<bool> drop(static_cast<size_t>(table->fieldCount), false);
  for (int i = 0; i < n; i++)
    if (fieldIndexes[i] >= 0 && fieldIndexes[i] < table->fieldCount)
      drop[static_cast<size_t>(fieldIndexes[i])] = true;
  std::vector<DBaseField> old = dBaseFields(table), kept;
  for (size_t i = 0; i < old.size(); i++)
    if (!drop[i]) kept.push_back(old[i]);
  int newLength = recordLengthOf(kept);
  try {
    std::vector<unsigned char> block(static_cast<size_t>(table->count) *
                                     static_cast<size_t>(newLength));
    for (int r = 0; r < table->count; r++) {
      const unsigned char *from = recordAt(table, r);
      unsigned char *to = &block[static_cast<size_t>(r) * static_cast<size_t>(newLength)];
      *to++ = from[0];
      for (size_t i = 0; i < old.size(); i++) {
        if (drop[i]) continue;
        size_t length = static_cast<size_t>(old[i].length);
        memcpy(to, from + table->fieldOffsets[i], length);
        to += length;
      }
    }
    std::vector<unsigned char> header = builddBaseHeader(table->header, kept);
    table->header.swap(header);
    table->records.swap(block);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "deletedBaseFields - error in malloc\n");
    return 0;
  }
  table->recordLength = newLength;
  recomputedBaseLayout(table);
  table->dirty = 1;
  return 1;
}

int finddBaseField(const DBaseTable *table, const char *name) {
  if (!table || !name) return -1;
  for (int i = 0; i < table->fieldCount; i++)
    if (getdBaseField(table->header, i).name == name) return i;
  return -1;
}

/* setdBaseFieldName -- 0 when the name is longer than 10 characters. */
int setdBaseFieldName(DBaseTable *table, int field, const char *newName) {
  if (!table || field < 0 || field >= table->fieldCount) return 0;
  size_t length = strlen(newName);
  if (length > kdBaseNameLimit) return 0;
  unsigned char *at = &table->header[descriptorAt(field)];
  memset(at, 0, 11);
  memcpy(at, newName, length);
  return 1;
}

/* ---- records ---- */

/*
 * insertdBaseRecords --
 *     Inserts n records before record position (clamped to 0..count),
 *     copied from a buffer of n records or built of default values.  The
 *     new records are selected; their order-index entries are their own
 *     indexes.
 * Results:      1, or 0 with the table unchanged.
 */
int insertdBaseRecords(DBaseTable *table, const unsigned char *records, int n, int position) {
  if (!table || n <= 0) return 0;
  if (static_cast<int64_t>(table->count) + n > INT32_MAX) return 0;
  position = std::max(0, std::min(position, table->count));
  std::vector<unsigned char> fresh;
  try {
    if (!records) fresh = defaultdBaseRecord(table);
    if (!growdBaseBlock(table, n)) return 0;
    table->order.reserve(static_cast<size_t>(table->count) + static_cast<size_t>(n));
    table->flags.reserve(static_cast<size_t>(table->count) + static_cast<size_t>(n));
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "adddBaseRecord - error realloc table\n");
    return 0;
  }
  size_t length = static_cast<size_t>(table->recordLength);
  memmove(recordAt(table, position + n), recordAt(table, position),
          static_cast<size_t>(table->count - position) * length);
  for (int i = 0; i < n; i++) {
    unsigned char *to = recordAt(table, position + i);
    if (records)
      memcpy(to, records + static_cast<size_t>(i) * length, length);
    else
      memcpy(to, fresh.data(), length);
  }
  for (int32_t &value : table->order)
    if (value >= position) value += n;
  std::vector<int32_t> added(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) added[static_cast<size_t>(i)] = position + i;
  size_t orderAt = std::min(table->order.size(), static_cast<size_t>(position));
  table->order.insert(table->order.begin() + static_cast<ptrdiff_t>(orderAt), added.begin(),
                      added.end());
  table->flags.insert(table->flags.begin() + position, static_cast<size_t>(n), RECORD_SELECTED);
  table->count += n;
  dBasePut32(table->header, 4, static_cast<uint32_t>(table->count));
  table->dirty = 1;
  return 1;
}

int adddBaseRecord(DBaseTable *table, const unsigned char *records, int n) {
  return table ? insertdBaseRecords(table, records, n, table->count) : 0;
}

/* erasedBaseRecords -- removes records first..last (clamped); how many went. */
int erasedBaseRecords(DBaseTable *table, int first, int last) {
  if (!table || table->count == 0) return 0;
  if (first > last) std::swap(first, last);
  first = std::max(first, 0);
  last = std::min(last, table->count - 1);
  if (first > last) return 0;
  int removed = last - first + 1;
  if (removed == table->count) {
    cleardBaseRecords(table);
    return removed;
  }
  std::vector<bool> keep(static_cast<size_t>(table->count), true);
  for (int r = first; r <= last; r++) keep[static_cast<size_t>(r)] = false;
  dropdBaseRecords(table, keep);
  return removed;
}

void cleardBaseRecords(DBaseTable *table) {
  if (!table) return;
  std::vector<unsigned char>().swap(table->records);
  std::vector<int32_t>().swap(table->order);
  std::vector<unsigned char>().swap(table->flags);
  table->count = 0;
  dBasePut32(table->header, 4, 0);
  table->dirty = 1;
}

/*
 * purgedBase --
 *     Removes the deleted records, or, while the table is locked, only
 *     notes that a purge is wanted.
 * Results:      the number removed.
 */
int purgedBase(DBaseTable *table) {
  if (!table) return 0;
  if (table->lockCount) {
    table->purgePending = 1;
    return 0;
  }
  table->purgePending = 0;
  int deleted = countdBaseDeleted(table);
  if (deleted == table->count) {
    if (deleted) cleardBaseRecords(table);
  } else if (deleted > 0) {
    std::vector<bool> keep(static_cast<size_t>(table->count));
    for (int r = 0; r < table->count; r++) keep[static_cast<size_t>(r)] = !isdBaseDeleted(table, r);
    dropdBaseRecords(table, keep);
  }
  table->dirty = 1;
  return deleted;
}

/* reorderdBaseIndex -- live records first (ascending with sort), deleted ones after. */
void reorderdBaseIndex(DBaseTable *table, int sort) {
  if (!table) return;
  std::vector<int32_t> &order = table->order;
  auto live = std::stable_partition(order.begin(), order.end(),
                                    [table](int32_t r) { return !isdBaseDeleted(table, r); });
  if (sort) std::sort(order.begin(), live);
}

/*
 * setdBaseFields --
 *     Sets n consecutive fields of a record from texts.
 * Results:      1; 0 at the first text its field refuses (fields before it
 *               stay set) or for indexes out of range.
 */
int setdBaseFields(DBaseTable *table, int record, int firstField, int n, const char *const *texts) {
  if (!validRecord(table, record) || firstField < 0 || n < 0 ||
      static_cast<int64_t>(firstField) + n > table->fieldCount)
    return 0;
  unsigned char *bytes = recordAt(table, record);
  for (int i = 0; i < n; i++) {
    int field = firstField + i;
    DBaseField descriptor = getdBaseField(table->header, field);
    if (!setFieldFromText(descriptor, texts[i],
                          bytes + table->fieldOffsets[static_cast<size_t>(field)]))
      return 0;
    table->dirty = 1;
  }
  return 1;
}

int setdBaseField(DBaseTable *table, int record, int field, const char *text) {
  return setdBaseFields(table, record, field, 1, &text);
}

/* parsedBaseRecord -- fills a record buffer (blank deletion byte) from texts. */
int parsedBaseRecord(const DBaseTable *table, unsigned char *record, int n,
                     const char *const *texts) {
  if (!table || n != table->fieldCount) return 0;
  memset(record, ' ', static_cast<size_t>(table->recordLength));
  for (int i = 0; i < n; i++) {
    DBaseField descriptor = getdBaseField(table->header, i);
    if (!setFieldFromText(descriptor, texts[i],
                          record + table->fieldOffsets[static_cast<size_t>(i)]))
      return 0;
  }
  return 1;
}

int getdBaseFieldText(const DBaseTable *table, int record, int field, std::string &out) {
  out.clear();
  if (!validRecord(table, record) || field < 0 || field >= table->fieldCount) return 0;
  out = fieldTextOf(getdBaseField(table->header, field),
                    recordAt(table, record) + table->fieldOffsets[static_cast<size_t>(field)]);
  return static_cast<int>(out.size());
}

/*
 * getdBaseRecordText --
 *     A record as one list text: a single field alone, otherwise the
 *     fields' texts as list elements (an empty text or one with a blank
 *     in braces).
 */
std::string getdBaseRecordText(const DBaseTable *table, int record) {
  std::string out, text;
  if (!validRecord(table, record)) return out;
  if (table->fieldCount == 1) {
    getdBaseFieldText(table, record, 0, out);
    return out;
  }
  for (int i = 0; i < table->fieldCount; i++) {
    getdBaseFieldText(table, record, i, text);
    if (i) out += ' ';
    int flags = 0;
    int size = Tcl_ScanCountedElement(text.data(), static_cast<int>(text.size()), &flags);
    std::string element(static_cast<size_t>(size) + 1, '\0');
    int written =
        Tcl_ConvertCountedElement(text.data(), static_cast<int>(text.size()), &element[0], flags);
    out.append(element.data(), static_cast<size_t>(written));
  }
  return out;
}

/* blankdBaseCells -- fields x0..x1 of records y0..y1 become blanks. */
void blankdBaseCells(DBaseTable *table, int x0, int y0, int x1, int y1) {
  if (!table || table->fieldCount == 0 || table->count == 0) return;
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  x0 = std::max(x0, 0);
  x1 = std::min(x1, table->fieldCount - 1);
  y0 = std::max(y0, 0);
  y1 = std::min(y1, table->count - 1);
  for (int r = y0; r <= y1; r++)
    for (int f = x0; f <= x1; f++)
      memset(recordAt(table, r) + table->fieldOffsets[static_cast<size_t>(f)], ' ',
             static_cast<size_t>(table->header[descriptorAt(f) + 16]));
  if (x0 <= x1 && y0 <= y1) table->dirty = 1;
}

/* ---- flags ---- */

int isdBaseSelected(const DBaseTable *table, int record) {
  return validRecord(table, record) &&
         (table->flags[static_cast<size_t>(record)] & RECORD_SELECTED);
}

int isdBaseDeleted(const DBaseTable *table, int record) {
  return validRecord(table, record) && (table->flags[static_cast<size_t>(record)] & RECORD_DELETED);
}

void selectdBaseRecord(DBaseTable *table, int record) {
  if (validRecord(table, record) && !isdBaseDeleted(table, record))
    table->flags[static_cast<size_t>(record)] |= RECORD_SELECTED;
}

void unselectdBaseRecord(DBaseTable *table, int record) {
  if (validRecord(table, record) && !isdBaseDeleted(table, record))
    table->flags[static_cast<size_t>(record)] &= static_cast<unsigned char>(~RECORD_SELECTED);
}

void toggledBaseRecord(DBaseTable *table, int record) {
  if (validRecord(table, record) && !isdBaseDeleted(table, record))
    table->flags[static_cast<size_t>(record)] ^= RECORD_SELECTED;
}

void deletedBaseRecord(DBaseTable *table, int record) {
  if (validRecord(table, record)) table->flags[static_cast<size_t>(record)] = RECORD_DELETED;
}

void undeletedBaseRecord(DBaseTable *table, int record) {
  if (isdBaseDeleted(table, record)) table->flags[static_cast<size_t>(record)] = RECORD_SELECTED;
}

int selectAlldBase(DBaseTable *table) {
  int changed = 0;
  for (int r = 0; table && r < table->count; r++)
    if (!isdBaseDeleted(table, r) && !isdBaseSelected(table, r)) {
      selectdBaseRecord(table, r);
      changed++;
    }
  return changed;
}

int unselectAlldBase(DBaseTable *table) {
  int changed = 0;
  for (int r = 0; table && r < table->count; r++)
    if (!isdBaseDeleted(table, r) && isdBaseSelected(table, r)) {
      unselectdBaseRecord(table, r);
      changed++;
    }
  return changed;
}

int countdBaseSelected(const DBaseTable *table) {
  int n = 0;
  for (int r = 0; table && r < table->count; r++) n += isdBaseSelected(table, r) ? 1 : 0;
  return n;
}

int countdBaseDeleted(const DBaseTable *table) {
  int n = 0;
  for (int r = 0; table && r < table->count; r++) n += isdBaseDeleted(table, r) ? 1 : 0;
  return n;
}

/* ---- field contents ---- */

/*
 * setFieldFromText --
 *     Converts a text into a field's bytes by the field's type.  An empty
 *     or missing text makes the field blanks.
 * Results:      false when the field refuses the text (out unchanged).
 */
bool setFieldFromText(const DBaseField &field, const char *text, unsigned char *out) {
  size_t length = static_cast<size_t>(field.length);
  if (!text || !text[0]) {
    memset(out, ' ', length);
    return true;
  }
  std::string bytes;
  switch (field.type) {
    case 'C': {
      while (*text == ' ') text++;
      bytes.assign(text, strnlen(text, length));
      break;
    }
    case 'N': {
      char *end;
      errno = 0;
      double value = strtod(text, &end);
      if (end == text || !isfinite(value)) return false;
      while (isspace(static_cast<unsigned char>(*end))) end++;
      if (*end) return false;
      std::string number = fmt("%.*f", field.decimals, value);
      if (number.size() > length) return false;
      bytes.assign(length - number.size(), ' ');
      bytes += number;
      break;
    }
    case 'D': {
      int year, month, day;
      if (length < 8 || sscanf(text, "%d/%d/%d", &year, &month, &day) != 3) return false;
      if (year < 0 || year > 37 || month < 0 || month > 12 || day < 0 || day > 31) return false;
      bytes = fmt("%4d%02d%02d", year + 2000, month, day);
      break;
    }
    case 'L': {
      while (*text == ' ') text++;
      if (!*text || !strchr("?FNTYfnty", *text)) return false;
      bytes.assign(1, *text);
      break;
    }
    case 'M': {
      int block;
      if (length != 10 || sscanf(text, "%d", &block) != 1) return false;
      bytes = fmt("%10d", block);
      if (bytes.size() != 10) return false;
      break;
    }
    default:
      return false;
  }
  bytes.resize(length, ' ');
  memcpy(out, bytes.data(), length);
  return true;
}

/* fieldTextOf -- the text of a field's bytes by the field's type. */
std::string fieldTextOf(const DBaseField &field, const unsigned char *bytes) {
  const char *at = reinterpret_cast<const char *>(bytes);
  const char *end = at + field.length;
  while (at < end && *at == ' ') at++;
  switch (field.type) {
    case 'C':
      while (end > at && end[-1] == ' ') end--;
      return std::string(at, end);
    case 'N': {
      // A field of asterisks is how other writers store a null number.
      const char *stop = std::find(at, end, ' ');
      if (stop > at && std::all_of(at, stop, [](char c) { return c == '*'; })) return std::string();
      return std::string(at, stop);
    }
    case 'D':
      if (end - at < 8) return std::string();
      return std::string(at + 2, 2) + "/" + std::string(at + 4, 2) + "/" + std::string(at + 6, 2);
    case 'L':
      return at < end ? std::string(1, *at) : std::string();
    case 'M':
      return std::string(at, end);
    default:
      return std::string();
  }
}

/* ---- raw records and fields, records of an open file, value order ---- */

/*
 * copydBaseRecord --
 *     Copies a record's bytes, deletion byte included, into a buffer of
 *     the record length.
 * Results:      the record length; 0 for a record out of range.
 */
int copydBaseRecord(const DBaseTable *table, int record, unsigned char *out) {
  if (!validRecord(table, record)) return 0;
  memcpy(out, recordAt(table, record), static_cast<size_t>(table->recordLength));
  return table->recordLength;
}

/*
 * splitdBaseRecord --
 *     Splits a record buffer into its fields' bytes as they stand (no
 *     blanks removed), one text per field.
 * Results:      the number of fields.
 */
int splitdBaseRecord(const DBaseTable *table, const unsigned char *record,
                     std::vector<std::string> &fields) {
  fields.clear();
  for (int f = 0; f < table->fieldCount; f++) {
    const DBaseField field = getdBaseField(table->header, f);
    fields.emplace_back(reinterpret_cast<const char *>(record) +
                            table->fieldOffsets[static_cast<size_t>(f)],
                        static_cast<size_t>(field.length));
  }
  return table->fieldCount;
}

/*
 * getdBaseFieldRaw --
 *     A field's bytes as they stand in a record.
 * Results:      the field length; 0 (and an empty text) for a record or
 *     field out of range.
 */
int getdBaseFieldRaw(const DBaseTable *table, int record, int field, std::string &out) {
  out.clear();
  if (!validRecord(table, record) || field < 0 || field >= table->fieldCount) return 0;
  const DBaseField f = getdBaseField(table->header, field);
  out.assign(reinterpret_cast<const char *>(recordAt(table, record)) +
                 table->fieldOffsets[static_cast<size_t>(field)],
             static_cast<size_t>(f.length));
  return f.length;
}

/*
 * setdBaseFieldsRaw --
 *     Stores n texts into consecutive fields as they are: each cut to its
 *     field's length or padded with blanks, without any conversion.
 * Results:      1; 0 for a record or a field range out of the table.
 * Side effects: the table is dirty.
 */
int setdBaseFieldsRaw(DBaseTable *table, int record, int firstField, int n,
                      const char *const *texts) {
  if (!validRecord(table, record) || firstField < 0 || n < 0 ||
      n > table->fieldCount - firstField)
    return 0;
  unsigned char *at = recordAt(table, record);
  for (int i = 0; i < n; i++) {
    const int f = firstField + i;
    const DBaseField field = getdBaseField(table->header, f);
    unsigned char *bytes = at + table->fieldOffsets[static_cast<size_t>(f)];
    const char *text = texts && texts[i] ? texts[i] : "";
    const size_t length = strnlen(text, static_cast<size_t>(field.length));
    memset(bytes, ' ', static_cast<size_t>(field.length));
    memcpy(bytes, text, length);
  }
  table->dirty = 1;
  return 1;
}

/*
 * getNthdBaseRec --
 *     Reads record n of an open dBase file, at the header length plus n
 *     times the record length its header gives.
 * Results:      a gmemAlloc'd copy of the record (record length bytes, the
 *     length stored in *length when asked), or NULL with a message: for
 *     a file that is not a dBase III table, a record that is not in the
 *     file, a failed read or no memory.
 */
unsigned char *getNthdBaseRec(int fd, int n, int *length) {
  struct stat info;
  unsigned char h[kdBaseHeaderSize];
  if (fd < 0 || n < 0 || fstat(fd, &info) != 0 || info.st_size < kdBaseHeaderSize ||
      getFileData(fd, h, kdBaseHeaderSize, 0, 0) != kdBaseHeaderSize ||
      (h[0] != 3 && h[0] != 0x83)) {
    vesk_fprintf(stderr, "Error in getNthdBaseRec\n");
    return nullptr;
  }
  const int64_t count = h[4] | h[5] << 8 | h[6] << 16 | int64_t{h[7]} << 24;
  const int headerLength = h[8] | h[9] << 8;
  const int recordLength = h[10] | h[11] << 8;
  const int64_t at = headerLength + int64_t{n} * recordLength;
  if (recordLength < 1 || n >= count || at + recordLength > info.st_size) {
    vesk_fprintf(stderr, "Error in getNthdBaseRec\n");
    return nullptr;
  }
  unsigned char *record = static_cast<unsigned char *>(gmemAlloc(recordLength));
  if (!record) {
    vesk_fprintf(stderr, "Error in malloc in getNthdBaseRec");
    return nullptr;
  }
  if (getFileData(fd, record, recordLength, static_cast<off_t>(at), 0) != recordLength) {
    gmemFree(record);
    vesk_fprintf(stderr, "Error in getNthdBaseRec\n");
    return nullptr;
  }
  if (length) *length = recordLength;
  return record;
}

namespace {

/* The order class of a logical value: '?' first, then false, then true. */
int logicalClass(unsigned char c) {
  if (c == '?') return 0;
  if (c == 'F' || c == 'N' || c == 'f' || c == 'n') return 1;
  return 2;
}

/* The number an 'N' field's text shows; blanks (no value) come first. */
double numberOf(const unsigned char *bytes, int length, bool *blank) {
  std::string text(reinterpret_cast<const char *>(bytes), static_cast<size_t>(length));
  char *end = nullptr;
  const double value = strtod(text.c_str(), &end);
  *blank = end == text.c_str();
  return value;
}

}  // namespace

/*
 * comparedBaseValues --
 *     Orders two values of a field type: 'C', 'D' and any other type by
 *     their bytes over the shorter length, 'N' by the numbers they show
 *     (a field without a number before any number), 'L' by the classes
 *     '?' < F N f n < any other letter (the first non-blank character).
 * Results:      -1, 0 or 1.
 */
int comparedBaseValues(char type, const unsigned char *a, int lengthA, const unsigned char *b,
                       int lengthB) {
  if (type == 'N') {
    bool blankA, blankB;
    const double x = numberOf(a, lengthA, &blankA), y = numberOf(b, lengthB, &blankB);
    if (blankA || blankB) return blankA == blankB ? 0 : blankA ? -1 : 1;
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (type == 'L') {
    const auto first = [](const unsigned char *p, int n) {
      int i = 0;
      while (i < n && p[i] == ' ') i++;
      return i < n ? p[i] : static_cast<unsigned char>(' ');
    };
    const int x = logicalClass(first(a, lengthA)), y = logicalClass(first(b, lengthB));
    return x < y ? -1 : x > y ? 1 : 0;
  }
  const int c = memcmp(a, b, static_cast<size_t>(std::max(0, std::min(lengthA, lengthB))));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace vesk
