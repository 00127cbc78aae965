// GCP set files: read (which refits a stored fit), then fitted at each power.
#include "fuzz/fuzz.h"
#include "geometry/gcpset.h"

FUZZ_TARGET(gcpfile) {
  fuzz::MemFile file(data, size);
  vesk::GCPOBJ *set = vesk::readGcpFile(file.path());
  if (!set) return 0;
  for (int power = 1; power <= 3; power++) vesk::fitGcpPolynomial(set, power);
  vesk::freeGcpSet(set);
  return 0;
}
