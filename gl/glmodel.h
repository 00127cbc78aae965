/*
 * glmodel.h --
 *     3-D models from Wavefront OBJ files with MTL material libraries:
 *     the model record, reading (a parser core over a text buffer),
 *     writing, fitting, normals, smoothing and reversing.
 */
#ifndef VESK_GL_GLMODEL_H
#define VESK_GL_GLMODEL_H

#include <functional>
#include <list>
#include <string>
#include <vector>

namespace vesk {

constexpr size_t kGlmNameMax = 127;     /* group names and paths */
constexpr size_t kGlmMaterialMax = 31;  /* material names */

struct GlmMaterial {
  std::string name;
  float shininess = 625.0f;
  float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
  float ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
  float specular[4] = {0, 0, 0, 1.0f};
  float emission[4] = {0, 0, 0, 0};
};

struct GlmGroup {
  std::string name;
  int material = 0;
  std::vector<int> faceStarts{0}; /* entry k: corners of faces 0..k-1 */
  bool hasSmoothing = true;
  std::vector<int> smoothing;     /* one per face */
  std::vector<int> vertices, normals, texcoords; /* one per corner, 0-based */
  bool hasVertices = false, hasNormals = false, hasTexcoords = false;
  int faces() const { return (int)faceStarts.size() - 1; }
};

/* Options of a model, filled by Tk's option table. */
struct GlmOptions {
  char *file;
  int reverse;
  int normal;
  int smoothmode;
  double smoothness;
  double zoom;
};

struct GlmModel {
  std::string path;
  GlmOptions options{};
  std::vector<float> vertices, normals, texcoords; /* three floats an entry */
  bool hasVertices = false, hasNormals = false, hasTexcoords = false;
  std::vector<GlmMaterial> materials;
  std::list<GlmGroup> groups; /* the most recently made first */
  size_t vertexCount() const { return vertices.size() / 3; }
  size_t normalCount() const { return normals.size() / 3; }
  size_t texcoordCount() const { return texcoords.size() / 3; }
};

/* Reads a material library by name; false when it cannot be opened. */
typedef std::function<bool(GlmModel &, const std::string &libName)> GlmMtlLoader;

/* The materials list with "default" alone. */
void glmInitMaterials(GlmModel &model);
int glmFindMaterial(GlmModel &model, const std::string &name, bool add);
GlmGroup *glmFindGroup(GlmModel &model, const std::string &name);
/* Parses OBJ text into a model whose materials are initialised. */
void glmParseObj(GlmModel &model, const char *data, size_t length, const GlmMtlLoader &mtl);
void glmParseMtl(GlmModel &model, const char *data, size_t length);
bool glmReadObj(GlmModel &model, const std::string &path);
bool glmWriteObj(const GlmModel &model, const std::string &path, bool verticesOnly);
void glmUnitize(GlmModel &model, double zoom);
void glmFacetNormals(GlmModel &model, int mode);
void glmSmooth(GlmModel &model, int mode, double angle);
void glmReverse(GlmModel &model);
void glmFreeData(GlmModel &model);

}  // namespace vesk

#endif
