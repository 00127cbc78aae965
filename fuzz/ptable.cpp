// Pixel-table files (PTABLEHD): a table read from the bytes finds each of
// its vectors at its own entry and is written back to bytes that read the
// same again.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz.h"
#include "processing/ptable.h"

FUZZ_TARGET(ptable) {
  std::string problem;
  vesk::PTABLE *table = vesk::parsePTable(data, static_cast<int64_t>(size), &problem);
  if (!table) return 0;
  for (int32_t i = 0; i < table->count; i++)
    if (vesk::findPTableEntry(table, table->vector(i)) != i) abort();
  const std::vector<unsigned char> bytes = vesk::encodePTable(table);
  vesk::PTABLE *again = vesk::parsePTable(bytes.data(), static_cast<int64_t>(bytes.size()), &problem);
  if (!again || vesk::encodePTable(again) != bytes) abort();
  vesk::freePTable(again);
  vesk::freePTable(table);
  // The reader over a file as well.
  fuzz::MemFile file(data, size);
  if (vesk::PTABLE *read = vesk::getPTable(file.path())) vesk::freePTable(read);
  return 0;
}
