// Wavefront OBJ models: the text parsed with the same bytes as every
// material library it names, every corner checked to index an entry of
// the model, then fitted, given facet and smoothed normals and reversed as
// the oglm command does.  The first byte picks the normal and smoothing modes.
#include <stdlib.h>

#include <string>

#include "fuzz/fuzz.h"
#include "gl/glmodel.h"

namespace {

void checkCorners(const vesk::GlmModel &model) {
  for (const vesk::GlmGroup &g : model.groups) {
    if (g.faceStarts.empty() || g.faceStarts.back() != static_cast<int>(g.vertices.size())) abort();
    if (g.material < 0 || g.material >= static_cast<int>(model.materials.size())) abort();
    for (int v : g.vertices)
      if (v < 0 || static_cast<size_t>(v) >= model.vertexCount()) abort();
    if (g.hasNormals)
      for (int n : g.normals)
        if (n < 0 || static_cast<size_t>(n) >= model.normalCount()) abort();
    if (g.hasTexcoords)
      for (int t : g.texcoords)
        if (t < 0 || static_cast<size_t>(t) >= model.texcoordCount()) abort();
  }
}

}  // namespace

FUZZ_TARGET(objmodel) {
  if (size < 1) return 0;
  const int modes = data[0];
  const char *text = reinterpret_cast<const char *>(data) + 1;
  const size_t length = size - 1;
  vesk::GlmModel model;
  vesk::glmInitMaterials(model);
  vesk::glmParseObj(model, text, length, [&](vesk::GlmModel &m, const std::string &) {
    vesk::glmParseMtl(m, text, length);
    return true;
  });
  checkCorners(model);
  vesk::glmUnitize(model, (modes & 16) ? 2.5 : 1.0);
  vesk::glmFacetNormals(model, modes % 3);
  vesk::glmSmooth(model, (modes / 3) % 3, 60.0);
  if (modes & 32) vesk::glmReverse(model);
  checkCorners(model);
  return 0;
}
