// Image-data scripts: the head checked against an image's extent, then the
// values walked to a sink that checks every place it is given lies inside
// that extent and every palette value below the palette's size.  The first
// byte picks one of a few extents.
#include <stdlib.h>

#include <string>

#include "fuzz/fuzz.h"
#include "raster/imagedata.h"

namespace {

struct CheckingSink final : vesk::ImageDataSink {
  vesk::ImageDataShape shape;
  explicit CheckingSink(const vesk::ImageDataShape &s) : shape(s) {}
  void value(float v) const {
    if (shape.nindices > 0 && !(v >= 0 && v <= shape.nindices - 1)) abort();
  }
  void pixel(int column, int row, int band, float v) override {
    if (column < 0 || column >= shape.columns || row < 0 || row >= shape.rows || band < 0 ||
        band >= shape.nbands)
      abort();
    value(v);
  }
  void segment(int row, int column, int count, int band, const float *values) override {
    if (row < 0 || row >= shape.rows || column < 0 || count <= 0 ||
        count > shape.columns - column || band < 0 || band >= shape.nbands)
      abort();
    for (int i = 0; i < count; i++) value(values[i]);
  }
};

}  // namespace

FUZZ_TARGET(imagedata) {
  if (size < 1) return 0;
  static const vesk::ImageDataShape shapes[] = {
      {1, 1, 1, 0}, {7, 5, 3, 0}, {40, 33, 4, 16}, {3, 200, 1, 256}};
  const vesk::ImageDataShape &shape = shapes[data[0] % 4];
  // The text as the command gets it: a C string (the core stops at a NUL too).
  const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  vesk::ImageDataPlan plan;
  std::string error;
  if (!vesk::planImageData(text.c_str(), text.size(), shape, &plan, &error)) return 0;
  CheckingSink sink(shape);
  vesk::walkImageData(text.c_str(), text.size(), shape, plan, &sink);
  return 0;
}
