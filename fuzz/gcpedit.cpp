// The GCP editor's text files: the records "load" reads, fitted at each
// power, and the same bytes as the help file "help" searches.
#include <stdlib.h>

#include <string>

#include "fuzz/fuzz.h"
#include "geometry/gcpset.h"

FUZZ_TARGET(gcpedit) {
  fuzz::MemFile file(data, size);
  std::string why;
  FILE *text = vesk::openGcpTextFile(file.path(), &why);
  if (!text) abort();
  vesk::GCPOBJ *set = vesk::createGcpSet(nullptr);
  if (!set) abort();
  vesk::loadGcpRecords(set, text);
  if (set->count > set->capacity) abort();
  for (int power = 0; power <= 3; power++) vesk::fitGcpPolynomial(set, power);
  for (const char *topic : {"help", "list", "end"}) {
    rewind(text);
    vesk::printGcpHelpEntry(text, topic);
  }
  fclose(text);
  vesk::freeGcpSet(set);
  return 0;
}
