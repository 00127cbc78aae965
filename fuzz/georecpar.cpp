// Georectification parameter files (GOERECHD): the record read from the
// bytes, then its polynomials evaluated directly and reduced along a row
// and a column, and the source box of a frame block found.
#include <vector>

#include "fuzz/fuzz.h"
#include "processing/georecpar.h"

FUZZ_TARGET(georecpar) {
  vesk::GeorecPar par;
  int why = 0;
  if (!vesk::decodeGeorecPar(data, size, &par, &why)) return 0;
  double X = 0, Y = 0;
  for (double x : {-1.0, 0.0, 0.5, 100.0})
    for (double y : {-3.0, 0.0, 250.0}) vesk::evalGeorecPar(par, x, y, &X, &Y);
  std::vector<double> pairs(2 * static_cast<size_t>(vesk::reducedCount(par)));
  vesk::reduceAtY(par, pairs.data(), 2.5);
  vesk::evalReduced(pairs.data(), vesk::reducedCount(par), 7.0, &X, &Y);
  vesk::reduceAtX(par, pairs.data(), -4.0);
  vesk::evalReduced(pairs.data(), vesk::reducedCount(par), 1.0, &X, &Y);
  const vesk::GeoFrame frame{99.0, 0.0, 0.0, -49.0, 1.0, 1.0};
  vesk::PixelBox box{};
  vesk::transformBounds(par, frame, &box);
  // The reader over a file as well.
  fuzz::MemFile file(data, size);
  vesk::GeorecPar read;
  vesk::readGeorecPar(file.path(), &read);
  return 0;
}
