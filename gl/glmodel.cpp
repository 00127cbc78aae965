/*
 * glmodel.cpp --
 *     OBJ and MTL reading and writing and the model geometry steps.  The
 *     reader tokenises each line: names are bounded, faces of fewer than
 *     three corners or with indices out of range are dropped whole.
 */
#include "gl/glmodel.h"

#include <tcl.h>
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"

#include "core/savefile.h"

namespace vesk {

namespace {

std::vector<std::string> words(const std::string &text) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && strchr(" \t\r\n", text[i])) i++;
    size_t j = i;
    while (j < text.size() && !strchr(" \t\r\n", text[j])) j++;
    if (j > i) out.push_back(text.substr(i, j - i));
    i = j;
  }
  return out;
}

/* The text after the keyword and its blanks, without the line end. */
std::string restOf(const std::string &line, size_t keyword) {
  size_t i = keyword;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
  size_t j = line.size();
  while (j > i && strchr(" \t\r\n", line[j - 1])) j--;
  return line.substr(i, j - i);
}

/* Names longer than their field are cut, with a message. */
std::string bounded(const std::string &name, size_t limit) {
  if (name.size() <= limit) return name;
  fprintf(stderr, "Name too long, cut to %zu characters: %s\n", limit, name.c_str());
  return name.substr(0, limit);
}

void readFloats(const std::string &text, float *out, int n) {
  std::vector<std::string> w = words(text);
  for (int i = 0; i < n && i < (int)w.size(); i++) out[i] = (float)atof(w[i].c_str());
}

std::string keywordOf(const std::string &line) {
  size_t i = 0;
  while (i < line.size() && !strchr(" \t\r\n", line[i])) i++;
  return line.substr(0, i);
}

/* Splits text into lines (the last may lack its newline). */
template <class F> void forLines(const char *data, size_t length, F each) {
  size_t start = 0;
  while (start < length) {
    const char *nl = (const char *)memchr(data + start, '\n', length - start);
    size_t end = nl ? (size_t)(nl - data) + 1 : length;
    each(std::string(data + start, end - start));
    start = end;
  }
}

/* A 1-based corner index as 0-based: -1 for 0 and negatives (which are
   refused), also for the most negative number a word can saturate to. */
long cornerIndex(const std::string &word) {
  const long i = strtol(word.c_str(), nullptr, 10);
  return i > 0 ? i - 1 : -1;
}

void parseFace(GlmModel &model, GlmGroup &g, const std::string &line, int smoothingGroup) {
  std::vector<std::string> corners = words(line.substr(1));
  std::vector<long> v, t, n;
  bool bad = corners.size() < 3;
  int withT = 0, withN = 0;
  for (const std::string &c : corners) {
    std::vector<std::string> parts;
    size_t i = 0;
    for (;;) {
      size_t slash = c.find('/', i);
      parts.push_back(c.substr(i, slash == std::string::npos ? std::string::npos : slash - i));
      if (slash == std::string::npos) break;
      i = slash + 1;
    }
    if (parts[0].empty()) bad = true;
    v.push_back(cornerIndex(parts[0]));
    if (parts.size() > 1 && !parts[1].empty()) { t.push_back(cornerIndex(parts[1])); withT++; }
    if (parts.size() > 2 && !parts[2].empty()) { n.push_back(cornerIndex(parts[2])); withN++; }
  }
  size_t k = corners.size();
  size_t before = (size_t)g.faceStarts.back();
  /* Every corner carries the same parts as the group's earlier corners, so
   * the index lists stay aligned with the face starts. */
  if ((withT != 0 && (size_t)withT != k) || (withN != 0 && (size_t)withN != k)) bad = true;
  if (withT ? g.texcoords.size() != before : g.hasTexcoords) bad = true;
  if (withN ? g.normals.size() != before : g.hasNormals) bad = true;
  for (long i : v) bad = bad || i < 0 || (size_t)i >= model.vertexCount();
  for (long i : t) bad = bad || i < 0 || (size_t)i >= model.texcoordCount();
  for (long i : n) bad = bad || i < 0 || (size_t)i >= model.normalCount();
  if (bad) {
    std::string shown = line;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    fprintf(stderr, "Invalid face definition: %s\n", shown.c_str());
    return;
  }
  g.hasVertices = true;
  for (long i : v) g.vertices.push_back((int)i);
  if (withT) {
    g.hasTexcoords = true;
    for (long i : t) g.texcoords.push_back((int)i);
  }
  if (withN) {
    g.hasNormals = true;
    for (long i : n) g.normals.push_back((int)i);
  }
  g.faceStarts.push_back((int)(before + k));
  g.smoothing.push_back(smoothingGroup);
}

void normalize(float v[3]) {
  float d = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + 1e-32f);
  v[0] /= d;
  v[1] /= d;
  v[2] /= d;
}

void cross(const float *a, const float *b, float *out) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

/* normalise(cross(b - a, c - a)) */
void facetNormal(const float *a, const float *b, const float *c, float *out) {
  float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  cross(u, w, out);
  normalize(out);
}

}  // namespace

void glmInitMaterials(GlmModel &model) {
  model.materials.clear();
  GlmMaterial m;
  m.name = "default";
  model.materials.push_back(m);
}

int glmFindMaterial(GlmModel &model, const std::string &rawName, bool add) {
  std::string name = bounded(rawName, kGlmMaterialMax);
  for (size_t i = 0; i < model.materials.size(); i++)
    if (model.materials[i].name == name) return (int)i;
  if (!add) return -1;
  GlmMaterial m = model.materials.empty() ? GlmMaterial() : model.materials[0];
  m.name = name;
  model.materials.push_back(m);
  return (int)model.materials.size() - 1;
}

GlmGroup *glmFindGroup(GlmModel &model, const std::string &name) {
  for (GlmGroup &g : model.groups)
    if (g.name == name) return &g;
  return nullptr;
}

static GlmGroup &groupNamed(GlmModel &model, const std::string &rawName) {
  std::string name = bounded(rawName, kGlmNameMax);
  if (GlmGroup *g = glmFindGroup(model, name)) return *g;
  model.groups.emplace_front();
  model.groups.front().name = name;
  return model.groups.front();
}

void glmParseObj(GlmModel &model, const char *data, size_t length, const GlmMtlLoader &mtl) {
  if (model.materials.empty()) glmInitMaterials(model);
  GlmGroup *group = nullptr;
  int smoothingGroup = 0;
  bool smoothingLines = false;
  forLines(data, length, [&](const std::string &line) {
    if (line.empty()) return;
    std::string key = keywordOf(line);
    if (key == "v" || key == "vn" || key == "vt") {
      float xyz[3] = {0, 0, 0};
      readFloats(line.substr(key.size()), xyz, 3);
      std::vector<float> &list = key == "v" ? model.vertices : key == "vn" ? model.normals : model.texcoords;
      (key == "v" ? model.hasVertices : key == "vn" ? model.hasNormals : model.hasTexcoords) = true;
      list.insert(list.end(), xyz, xyz + 3);
    } else if (key == "f") {
      if (!group) group = &groupNamed(model, "default");
      parseFace(model, *group, line, smoothingGroup);
    } else if (key == "g") {
      group = &groupNamed(model, restOf(line, 1));
    } else if (key == "mtllib") {
      std::string lib = restOf(line, key.size());
      if (!mtl || !mtl(model, lib)) fprintf(stderr, "Error in loading mtl: %s\n", lib.c_str());
    } else if (key == "s") {
      smoothingLines = true;
      smoothingGroup = atoi(restOf(line, 1).c_str());
    } else if (key == "usemtl") {
      if (!group) group = &groupNamed(model, "default");
      std::vector<std::string> w = words(line.substr(key.size()));
      group->material = glmFindMaterial(model, w.empty() ? "" : w[0], true);
    }
  });
  if (!smoothingLines)
    for (GlmGroup &g : model.groups) {
      g.hasSmoothing = false;
      g.smoothing.clear();
    }
}

void glmParseMtl(GlmModel &model, const char *data, size_t length) {
  if (model.materials.empty()) glmInitMaterials(model);
  int current = 0;
  forLines(data, length, [&](const std::string &line) {
    std::string key = keywordOf(line);
    GlmMaterial &m = model.materials[current];
    if (key == "Kd") readFloats(line.substr(2), m.diffuse, 4);
    else if (key == "Ka") readFloats(line.substr(2), m.ambient, 4);
    else if (key == "Ks") readFloats(line.substr(2), m.specular, 4);
    else if (key == "Ke") readFloats(line.substr(2), m.emission, 4);
    else if (key == "Ns") readFloats(line.substr(2), &m.shininess, 1);
    else if (key == "newmtl") current = glmFindMaterial(model, restOf(line, key.size()), true);
  });
}

/* The largest OBJ or MTL file read: the model takes several times its text. */
constexpr int64_t kMaxModelFile = int64_t{1} << 30;

bool glmReadObj(GlmModel &model, const std::string &path) {
  std::string text, why;
  if (!readRegularFile(path.c_str(), kMaxModelFile, text, &why)) {
    fprintf(stderr, "Error in open %s: %s\n", path.c_str(), why.c_str());
    return false;
  }
  model.path = bounded(path, 4095);
  glmInitMaterials(model);
  glmParseObj(model, text.data(), text.size(), [&](GlmModel &m, const std::string &lib) {
    /* The library lies next to the OBJ file. */
    size_t slash = path.find_last_of('/');
    std::string mtlPath = slash == std::string::npos ? lib : path.substr(0, slash + 1) + lib;
    std::string mtlText;
    if (!readRegularFile(mtlPath.c_str(), kMaxModelFile, mtlText, &why)) {
      fprintf(stderr, "Error in open material file: %s: %s\n", mtlPath.c_str(), why.c_str());
      return false;
    }
    glmParseMtl(m, mtlText.data(), mtlText.size());
    return true;
  });
  return true;
}

/* printf onto the end of a text. */
static void appendf(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void appendf(std::string &out, const char *format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buffer) {
    out.append(buffer, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  vsnprintf(&big[0], big.size(), format, args);
  va_end(args);
  out.append(big, 0, static_cast<size_t>(n));
}

static std::string mtlText(const GlmModel &model) {
  std::string f;
  for (const GlmMaterial &m : model.materials) {
    appendf(f, "newmtl %s\n", m.name.c_str());
    appendf(f, "Kd %f %f %f %f\n", m.diffuse[0], m.diffuse[1], m.diffuse[2], m.diffuse[3]);
    appendf(f, "Ks %f %f %f %f\n", m.specular[0], m.specular[1], m.specular[2], m.specular[3]);
    appendf(f, "Ka %f %f %f %f\n", m.ambient[0], m.ambient[1], m.ambient[2], m.ambient[3]);
    appendf(f, "Ke %f %f %f %f\n", m.emission[0], m.emission[1], m.emission[2], m.emission[3]);
    if (m.shininess != 0) appendf(f, "Ns %f\n", m.shininess);
    appendf(f, "\n");
  }
  return f;
}

static std::string objText(const GlmModel &model, const std::string &path, bool withMtl,
                           bool verticesOnly) {
  std::string f;
  if (withMtl) {
    /* the library is found next to the OBJ file */
    size_t slash = path.find_last_of('/');
    appendf(f, "mtllib %s.mtl\n", (slash == std::string::npos ? path : path.substr(slash + 1)).c_str());
  }
  appendf(f, "\n# vertex %zu\n", model.vertexCount());
  for (size_t i = 0; i < model.vertexCount(); i++)
    appendf(f, "v %f %f %f\n", model.vertices[3 * i], model.vertices[3 * i + 1], model.vertices[3 * i + 2]);
  if (!verticesOnly) {
    if (model.hasNormals) {
      appendf(f, "\n# normal %zu\n", model.normalCount());
      for (size_t i = 0; i < model.normalCount(); i++)
        appendf(f, "vn %f %f %f\n", model.normals[3 * i], model.normals[3 * i + 1], model.normals[3 * i + 2]);
    }
    if (model.hasTexcoords) {
      appendf(f, "\n# texture %zu\n", model.texcoordCount());
      for (size_t i = 0; i < model.texcoordCount(); i++)
        appendf(f, "vt %f %f\n", model.texcoords[3 * i], model.texcoords[3 * i + 1]);
    }
  }
  appendf(f, "\n# faces\n");
  for (const GlmGroup &g : model.groups) {
    if (g.faces() <= 0) continue;
    appendf(f, "g %s\n", g.name.c_str());
    appendf(f, "usemtl %s\n", model.materials[g.material].name.c_str());
    bool n = !verticesOnly && g.hasNormals && model.hasNormals;
    bool t = !verticesOnly && g.hasTexcoords && model.hasTexcoords;
    for (int face = 0; face < g.faces(); face++) {
      appendf(f, "f");
      for (int c = g.faceStarts[face]; c < g.faceStarts[face + 1]; c++) {
        if (n && t) appendf(f, " %d/%d/%d", g.vertices[c] + 1, g.texcoords[c] + 1, g.normals[c] + 1);
        else if (n) appendf(f, " %d//%d", g.vertices[c] + 1, g.normals[c] + 1);
        else if (t) appendf(f, " %d/%d", g.vertices[c] + 1, g.texcoords[c] + 1);
        else appendf(f, " %d", g.vertices[c] + 1);
      }
      appendf(f, "\n");
    }
  }
  return f;
}

/*
 * glmWriteObj --
 *     Writes path.obj and, when the model has materials, path.mtl.  Both
 *     are written beside their targets and replace them only once both
 *     are complete, so a failure leaves the old pair as it was.
 */
bool glmWriteObj(const GlmModel &model, const std::string &path, bool verticesOnly) {
  if (!model.hasVertices) {
    fprintf(stderr, "No vertex to save.\n");
    return false;
  }
  const bool withMtl = !model.materials.empty();
  SaveFile obj, mtl;
  if (!obj.open((path + ".obj").c_str())) {
    fprintf(stderr, "Error in open %s.obj: %s\n", path.c_str(), obj.reason());
    return false;
  }
  if (withMtl && !mtl.open((path + ".mtl").c_str())) {
    fprintf(stderr, "Error in open: %s.mtl: %s\n", path.c_str(), mtl.reason());
    return false;
  }
  std::string text = objText(model, path, withMtl, verticesOnly);
  obj.write(text.data(), text.size());
  if (withMtl) {
    text = mtlText(model);
    mtl.write(text.data(), text.size());
  }
  if (!obj.finish() || (withMtl && !mtl.finish()) || (withMtl && !mtl.commit()) || !obj.commit()) {
    fprintf(stderr, "Error in writing %s: %s\n", path.c_str(),
            obj.error() ? obj.reason() : mtl.reason());
    return false;
  }
  return true;
}

void glmUnitize(GlmModel &model, double zoom) {
  size_t n = model.vertexCount();
  if (!n) return;
  float lo[3], hi[3];
  for (int k = 0; k < 3; k++) lo[k] = hi[k] = model.vertices[k];
  for (size_t i = 0; i < n; i++)
    for (int k = 0; k < 3; k++) {
      lo[k] = std::min(lo[k], model.vertices[3 * i + k]);
      hi[k] = std::max(hi[k], model.vertices[3 * i + k]);
    }
  double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  double scale = extent / (2 * zoom);
  if (scale == 0 || !std::isfinite(scale)) scale = 1; /* a single point stays at the centre */
  for (size_t i = 0; i < n; i++)
    for (int k = 0; k < 3; k++)
      model.vertices[3 * i + k] = (float)((model.vertices[3 * i + k] - (lo[k] + hi[k]) / 2.0) / scale);
}

void glmFacetNormals(GlmModel &model, int mode) {
  if (!model.hasVertices) return;
  if (mode == 0 && model.hasNormals) return;
  model.normals.clear();
  model.hasNormals = false;
  for (GlmGroup &g : model.groups) {
    g.normals.clear();
    g.hasNormals = false;
  }
  if (mode < 0 || mode > 2) return;
  const float *V = model.vertices.data();
  for (GlmGroup &g : model.groups) {
    for (int face = 0; face < g.faces(); face++) {
      int start = g.faceStarts[face], n = g.faceStarts[face + 1] - start;
      const int *c = &g.vertices[start];
      auto add = [&](const float *normal) {
        g.normals.push_back((int)model.normalCount());
        model.normals.insert(model.normals.end(), normal, normal + 3);
      };
      if (mode == 2 && n >= 4) {
        for (int i = 0; i < n; i++) {
          float sum[3] = {0, 0, 0};
          const float *ci = V + 3 * c[i];
          for (int k = 1; k < n; k++) {
            const float *a = V + 3 * c[(i + k) % n], *b = V + 3 * c[(i + k + 1) % n];
            float u[3] = {a[0] - ci[0], a[1] - ci[1], a[2] - ci[2]}, w[3] = {b[0] - ci[0], b[1] - ci[1], b[2] - ci[2]}, x[3];
            cross(u, w, x);
            for (int j = 0; j < 3; j++) sum[j] += x[j];
          }
          normalize(sum);
          add(sum);
        }
      } else {
        float last[3];
        facetNormal(V + 3 * c[0], V + 3 * c[1], V + 3 * c[2], last);
        add(last);
        add(last);
        for (int i = 2; i <= n - 2; i++) {
          facetNormal(V + 3 * c[0], V + 3 * c[i], V + 3 * c[i + 1], last);
          add(last);
        }
        add(last);
      }
    }
    g.hasNormals = g.faces() > 0;
  }
  model.hasNormals = true;
}

void glmSmooth(GlmModel &model, int mode, double angle) {
  if (!model.hasVertices) return;
  if (mode == 1) {
    std::vector<float> out(model.vertices.size(), 0.0f);
    std::vector<char> touched(model.vertexCount(), 0);
    for (GlmGroup &g : model.groups) {
      if (!g.hasNormals) continue;
      for (size_t c = 0; c < g.normals.size(); c++) {
        int v = g.vertices[c], n = g.normals[c];
        for (int k = 0; k < 3; k++) out[3 * v + k] += model.normals[3 * n + k];
        touched[v] = 1;
        g.normals[c] = v;
      }
    }
    for (size_t v = 0; v < touched.size(); v++)
      if (touched[v]) normalize(&out[3 * v]);
    model.normals.swap(out);
    model.hasNormals = true;
  } else if (mode == 2 && model.hasNormals) {
    double limit = std::cos(angle * M_PI / 180.0);
    struct Corner {
      int key, smoothing;
      size_t copy;
    };
    std::vector<Corner> corners;
    std::vector<float> copies;
    for (GlmGroup &g : model.groups) {
      if (!g.hasNormals) continue;
      for (int face = 0; face < g.faces(); face++)
        for (int c = g.faceStarts[face]; c < g.faceStarts[face + 1]; c++) {
          size_t copy = copies.size() / 3;
          copies.insert(copies.end(), &model.normals[3 * g.normals[c]], &model.normals[3 * g.normals[c]] + 3);
          g.normals[c] = (int)copy;
          corners.push_back({g.vertices[c] + 1, g.hasSmoothing ? g.smoothing[face] : -1, copy});
        }
    }
    std::stable_sort(corners.begin(), corners.end(), [](const Corner &a, const Corner &b) { return a.key < b.key; });
    std::vector<float> result(copies);
    for (size_t i = 0; i < corners.size();) {
      size_t j = i;
      while (j < corners.size() && corners[j].key == corners[i].key) j++;
      for (size_t a = i; a < j; a++) {
        if (corners[a].smoothing == 0) continue;
        const float *na = &copies[3 * corners[a].copy];
        float sum[3] = {0, 0, 0};
        for (size_t b = i; b < j; b++) {
          if (corners[b].smoothing != corners[a].smoothing) continue;
          const float *nb = &copies[3 * corners[b].copy];
          if (a != b && na[0] * nb[0] + na[1] * nb[1] + na[2] * nb[2] <= limit) continue;
          for (int k = 0; k < 3; k++) sum[k] += nb[k];
        }
        std::copy(sum, sum + 3, &result[3 * corners[a].copy]);
      }
      for (size_t a = i; a < j; a++) normalize(&result[3 * corners[a].copy]);
      i = j;
    }
    model.normals.swap(result);
  }
}

void glmReverse(GlmModel &model) {
  if (!model.hasNormals) return;
  for (GlmGroup &g : model.groups)
    for (int face = 0; face < g.faces(); face++) {
      int a = g.faceStarts[face], b = g.faceStarts[face + 1];
      std::reverse(g.vertices.begin() + a, g.vertices.begin() + b);
      if (g.hasTexcoords) std::reverse(g.texcoords.begin() + a, g.texcoords.begin() + b);
      if (g.hasNormals) std::reverse(g.normals.begin() + a, g.normals.begin() + b);
    }
  for (float &v : model.normals) v = -v;
}

void glmFreeData(GlmModel &model) {
  model.vertices.clear();
  model.normals.clear();
  model.texcoords.clear();
  model.hasVertices = model.hasNormals = model.hasTexcoords = false;
  model.materials.clear();
  model.groups.clear();
}

}  // namespace vesk
