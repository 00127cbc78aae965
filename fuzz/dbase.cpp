// dBase III tables: read from the file, then every cell as text.
#include <string>

#include "fuzz/fuzz.h"
#include "vector/dbase.h"

FUZZ_TARGET(dbase) {
  fuzz::MemFile file(data, size);
  int status = 0;
  vesk::DBaseTable *table = vesk::readdBase(file.path(), &status);
  if (!table) return 0;
  std::string text;
  const int records = table->count < 4096 ? table->count : 4096;
  for (int record = 0; record < records; record++) {
    for (int field = 0; field < table->fieldCount; field++)
      vesk::getdBaseFieldText(table, record, field, text);
    vesk::getdBaseRecordText(table, record);
  }
  vesk::freedBase(table);
  return 0;
}
