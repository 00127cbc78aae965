// The module parameter file (CONFIG.MOD): a record found by the name in the
// input's first 16 bytes is read into an option table, merged and written back.
#include <string.h>

#include "core/options.h"
#include "fuzz/fuzz.h"

FUZZ_TARGET(configmod) {
  char name[vesk::kModuleNameSize + 1] = {0};
  memcpy(name, data, size < sizeof name - 1 ? size : sizeof name - 1);
  fuzz::MemFile file(data, size);
  vesk::ModuleOption table[] = {{"-a", nullptr}, {"-b", nullptr}, {"-size", nullptr},
                                {"-out", nullptr}, {nullptr, nullptr}};
  vesk::readModuleConfig(file.path(), name, table);
  char record[vesk::kModuleRecordSize];
  if (vesk::findModuleRecord(file.fd(), name, record) >= 0) {
    vesk::ModuleOption given[] = {{"-a", "1"}, {"-out", "x"}, {nullptr, nullptr}};
    vesk::mergeModuleParams(record, given);
  }
  vesk::ModuleOption update[] = {{"-b", "2"}, {nullptr, nullptr}};
  vesk::writeModuleConfig(file.path(), name, update);
  return 0;
}
