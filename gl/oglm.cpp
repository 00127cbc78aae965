/*
 * oglm.cpp --
 *     The "oglm" command: named 3-D models read from OBJ files, fitted,
 *     given normals and smoothing, drawn with their materials into the
 *     current GL context, reported, edited and saved.
 */
#include <tk.h>
#include <GL/gl.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "core/lazylib.h"
#include "gl/glmodel.h"
#include "gl/ogl.h"

namespace vesk {

namespace {

Tk_ConfigSpec kModelSpecs[] = {
    {TK_CONFIG_UID, "-file", nullptr, nullptr, "", offsetof(GlmOptions, file), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-reverse", "reverse", "Reverse", "0", offsetof(GlmOptions, reverse), 0, nullptr},
    {TK_CONFIG_INT, "-normal", "normal", "Normal", "2", offsetof(GlmOptions, normal), 0, nullptr},
    {TK_CONFIG_INT, "-smoothmode", "smoothmode", "Smoothmode", "2", offsetof(GlmOptions, smoothmode), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-smoothness", "smoothness", "Smoothness", "60", offsetof(GlmOptions, smoothness), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-zoom", "zoom", "Zoom", "1.0", offsetof(GlmOptions, zoom), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr}};

/* One table for the process, as every interpreter's "oglm" shares it. */
std::map<std::string, std::unique_ptr<GlmModel>> *models = nullptr;

void freeModels(ClientData) {
  delete models;
  models = nullptr;
}

int usageError(Tcl_Interp *interp, const char *message) { return oglErrorInfo(interp, message); }

int configureModel(Tcl_Interp *interp, GlmModel &model, int argc, const char **argv, int flags) {
  GlmOptions scratch = model.options;
  Tk_Window main = Tk_MainWindow(interp);
  if (Tk_ConfigureWidget(interp, main, kModelSpecs, argc, argv, (char *)&scratch, flags) != TCL_OK) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Error in oglm configure.\n", (char *)nullptr);
    return TCL_ERROR;
  }
  if (std::fabs(scratch.zoom) < 1e-12) scratch.zoom = scratch.zoom < 0 ? -1e-12 : 1e-12;
  const char *file = scratch.file ? scratch.file : "";
  if (*file && model.path != file) {
    GlmModel fresh;
    if (!glmReadObj(fresh, file)) {
      model.options = scratch;
      Tcl_AppendResult(interp, "Error in load obj.\n", (char *)nullptr);
      return TCL_ERROR;
    }
    glmUnitize(fresh, scratch.zoom);
    glmFacetNormals(fresh, scratch.normal);
    glmSmooth(fresh, scratch.smoothmode, scratch.smoothness);
    if (scratch.reverse) glmReverse(fresh);
    model.vertices.swap(fresh.vertices);
    model.normals.swap(fresh.normals);
    model.texcoords.swap(fresh.texcoords);
    model.hasVertices = fresh.hasVertices;
    model.hasNormals = fresh.hasNormals;
    model.hasTexcoords = fresh.hasTexcoords;
    model.materials.swap(fresh.materials);
    model.groups.swap(fresh.groups);
    model.path = fresh.path;
  } else if (model.hasVertices) {
    if (scratch.zoom != model.options.zoom) glmUnitize(model, scratch.zoom);
    if (scratch.normal != model.options.normal || scratch.smoothmode != model.options.smoothmode ||
        scratch.smoothness != model.options.smoothness) {
      glmFacetNormals(model, scratch.normal);
      glmSmooth(model, scratch.smoothmode, scratch.smoothness);
    }
    if (scratch.reverse != model.options.reverse) glmReverse(model);
  }
  model.options = scratch;
  return TCL_OK;
}

void drawModel(const GlmModel &model) {
  if (!model.hasVertices) return;
  glDisable(GL_COLOR_MATERIAL);
  for (const GlmGroup &g : model.groups) {
    const GlmMaterial &m = model.materials[g.material];
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, m.ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, m.diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, m.specular);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, m.emission);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, m.shininess * 0.001f * 128);
    bool n = g.hasNormals && model.hasNormals, t = g.hasTexcoords && model.hasTexcoords;
    for (int face = 0; face < g.faces(); face++) {
      glBegin(GL_TRIANGLE_FAN);
      for (int c = g.faceStarts[face]; c < g.faceStarts[face + 1]; c++) {
        if (n) glNormal3fv(&model.normals[3 * g.normals[c]]);
        if (t) glTexCoord2fv(&model.texcoords[3 * g.texcoords[c]]);
        glVertex3fv(&model.vertices[3 * g.vertices[c]]);
      }
      glEnd();
    }
  }
}

std::string format4(const float *v) {
  char buf[160];
  snprintf(buf, sizeof buf, "%f %f %f %f", v[0], v[1], v[2], v[3]);
  return buf;
}

Tcl_Obj *indexLists(const GlmGroup &g, const std::vector<int> &list, bool has) {
  Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
  if (!has) return Tcl_NewStringObj("{}", -1);
  for (int face = 0; face < g.faces(); face++) {
    std::string text;
    for (int c = g.faceStarts[face]; c < g.faceStarts[face + 1]; c++) {
      if (!text.empty()) text += ' ';
      text += std::to_string(list[c] + 1);
    }
    Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(text.c_str(), -1));
  }
  return out;
}

Tcl_Obj *materialInfo(const GlmMaterial &m) {
  Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
  char buf[64];
  Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(m.name.c_str(), -1));
  snprintf(buf, sizeof buf, "%f", m.shininess);
  Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(buf, -1));
  for (const float *v : {m.diffuse, m.specular, m.ambient, m.emission})
    Tcl_ListObjAppendElement(nullptr, out, Tcl_NewStringObj(format4(v).c_str(), -1));
  return out;
}

int infoCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc >= 6) return TCL_ERROR;
  if (argc == 2) {
    for (auto &entry : *models) Tcl_AppendElement(interp, entry.first.c_str());
    return TCL_OK;
  }
  auto it = models->find(argv[2]);
  if (it == models->end()) {
    Tcl_AppendResult(interp, "can't find ", argv[2], (char *)nullptr);
    return TCL_ERROR;
  }
  GlmModel &model = *it->second;
  if (argc == 3) {
    if (!model.hasVertices) {
      Tcl_SetResult(interp, (char *)"{}", TCL_STATIC);
      return TCL_OK;
    }
    Tcl_Obj *groups = Tcl_NewListObj(0, nullptr), *names = Tcl_NewListObj(0, nullptr);
    for (const GlmGroup &g : model.groups) {
      if (g.faces() <= 0) continue;
      Tcl_Obj *row[3] = {Tcl_NewStringObj(g.name.c_str(), -1),
                         Tcl_NewStringObj(model.materials[g.material].name.c_str(), -1), Tcl_NewIntObj(g.faces())};
      Tcl_ListObjAppendElement(nullptr, groups, Tcl_NewListObj(3, row));
    }
    for (const GlmMaterial &m : model.materials)
      Tcl_ListObjAppendElement(nullptr, names, Tcl_NewStringObj(m.name.c_str(), -1));
    Tcl_Obj *out = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, out, groups);
    Tcl_ListObjAppendElement(nullptr, out, names);
    std::string text = Tcl_GetString(out);
    char buf[64];
    snprintf(buf, sizeof buf, " {v3 %zu}", model.vertexCount());
    text += buf;
    if (model.hasTexcoords) {
      snprintf(buf, sizeof buf, " {t3 %zu}", model.texcoordCount());
      text += buf;
    }
    if (model.hasNormals) {
      snprintf(buf, sizeof buf, " {n3 %zu}", model.normalCount());
      text += buf;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
    Tcl_IncrRefCount(out);
    Tcl_DecrRefCount(out);
    return TCL_OK;
  }
  GlmGroup *g = glmFindGroup(model, argv[3]);
  if (!g) {
    Tcl_AppendResult(interp, "can't find component: ", argv[3], "\n", (char *)nullptr);
    return TCL_ERROR;
  }
  if (argc == 5) {
    const char *part = argv[4];
    if (strcmp(part, "vertex") == 0) Tcl_SetObjResult(interp, indexLists(*g, g->vertices, g->hasVertices));
    else if (strcmp(part, "normal") == 0) Tcl_SetObjResult(interp, indexLists(*g, g->normals, g->hasNormals));
    else if (strcmp(part, "texture") == 0) Tcl_SetObjResult(interp, indexLists(*g, g->texcoords, g->hasTexcoords));
    else if (strcmp(part, "material") == 0) Tcl_SetObjResult(interp, materialInfo(model.materials[g->material]));
    else {
      Tcl_AppendResult(interp, "unknown oglm info option.\n", (char *)nullptr);
      return TCL_ERROR;
    }
    return TCL_OK;
  }
  std::string text;
  for (Tcl_Obj *o : {indexLists(*g, g->vertices, g->hasVertices), indexLists(*g, g->normals, g->hasNormals),
                     indexLists(*g, g->texcoords, g->hasTexcoords), materialInfo(model.materials[g->material])}) {
    Tcl_IncrRefCount(o);
    if (!text.empty()) text += ' ';
    text += Tcl_GetString(o);
    Tcl_DecrRefCount(o);
  }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
  return TCL_OK;
}

int materialCmd(Tcl_Interp *interp, int argc, const char **argv) {
  static const char *usage = "Usage: oglm material objName set|bind|alloc mtlName ?options?\n";
  if (argc < 3) {
    Tcl_AppendResult(interp, usage, (char *)nullptr);
    return TCL_ERROR;
  }
  auto it = models->find(argv[2]);
  if (it == models->end()) {
    Tcl_AppendResult(interp, "can't find ", argv[2], (char *)nullptr);
    return TCL_ERROR;
  }
  GlmModel &model = *it->second;
  if (argc == 3) {
    if (model.materials.empty()) Tcl_SetResult(interp, (char *)"{}", TCL_STATIC);
    for (const GlmMaterial &m : model.materials) Tcl_AppendElement(interp, m.name.c_str());
    return TCL_OK;
  }
  if (argc == 4) {
    if (strcmp(argv[3], "alloc") != 0) {
      Tcl_AppendResult(interp, usage, (char *)nullptr);
      return TCL_ERROR;
    }
    if (model.materials.empty()) glmInitMaterials(model);
    for (GlmGroup &g : model.groups)
      if (g.faces() > 0 && g.material == 0) g.material = glmFindMaterial(model, g.name, true);
    return TCL_OK;
  }
  if (model.materials.empty()) glmInitMaterials(model);
  if (strcmp(argv[3], "set") == 0) {
    int index = glmFindMaterial(model, argv[4], true);
    for (int i = 5; i < argc; i++) {
      GlmMaterial &m = model.materials[index];
      const char *word = argv[i];
      struct {
        const char *key;
        float *value;
        int n;
      } keys[] = {{"diffuse", m.diffuse, 4}, {"ambient", m.ambient, 4}, {"specular", m.specular, 4},
                  {"emission", m.emission, 4}, {"shininess", &m.shininess, 1}};
      bool known = false;
      for (auto &k : keys) {
        size_t len = strlen(k.key);
        if (strncmp(word, k.key, len) != 0) continue;
        known = true;
        const char *rest = word + len;
        while (*rest == ' ' || *rest == '\t') rest++;
        if (*rest) {
          float v[4] = {k.value[0], k.n > 1 ? k.value[1] : 0, k.n > 1 ? k.value[2] : 0, k.n > 1 ? k.value[3] : 0};
          if (k.n == 4) sscanf(rest, "%f %f %f %f", &v[0], &v[1], &v[2], &v[3]);
          else v[0] = (float)atof(rest);
          std::copy(v, v + k.n, k.value);
        } else {
          char buf[64];
          if (k.n == 4) Tcl_AppendElement(interp, format4(k.value).c_str());
          else {
            snprintf(buf, sizeof buf, "%f", k.value[0]);
            Tcl_AppendElement(interp, buf);
          }
        }
        break;
      }
      if (!known) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Unknown material attribute.", (char *)nullptr);
        return TCL_ERROR;
      }
    }
    return TCL_OK;
  }
  if (strcmp(argv[3], "bind") == 0) {
    int index = glmFindMaterial(model, argv[4], true);
    std::vector<std::string> names;
    for (int i = 5; i < argc; i++) names.push_back(argv[i]);
    if (names.empty()) names.push_back(model.materials[index].name);
    for (const std::string &name : names) {
      GlmGroup *g = glmFindGroup(model, name);
      if (!g) {
        Tcl_AppendResult(interp, "Unknown component: ", name.c_str(), (char *)nullptr);
        return TCL_ERROR;
      }
      g->material = index;
    }
    return TCL_OK;
  }
  Tcl_AppendResult(interp, "Syntax error.", (char *)nullptr);
  return TCL_ERROR;
}

bool matches(const char *word, const char *full, size_t minimum) {
  size_t n = strlen(word);
  return n >= minimum && strncmp(word, full, n) == 0;
}

GlmModel *findModel(const char *id) {
  auto it = models->find(id);
  return it == models->end() ? nullptr : it->second.get();
}

int oglmCommand(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_AppendResult(interp, "Usage: ", argv[0],
                     " create|cget|config|delete|draw|info|material|normal|reverse|smooth|save ?options?\n",
                     (char *)nullptr);
    return TCL_OK;
  }
  if (requireLibrary(interp, kLazyGl) != TCL_OK) return TCL_ERROR;
  const char *sub = argv[1];
  Tk_Window main = Tk_MainWindow(interp);
  if (matches(sub, "create", 3)) {
    if (argc < 3) {
      Tcl_AppendResult(interp, "Usage: oglm create id ?options?\n", (char *)nullptr);
      return TCL_ERROR;
    }
    if (findModel(argv[2])) return usageError(interp, "oglm object already exists");
    std::unique_ptr<GlmModel> model(new GlmModel);
    if (configureModel(interp, *model, argc - 3, argv + 3, 0) != TCL_OK) return TCL_ERROR;
    (*models)[argv[2]] = std::move(model);
    Tcl_SetResult(interp, (char *)argv[2], TCL_VOLATILE);
    return TCL_OK;
  }
  if (matches(sub, "configure", 3)) {
    if (argc < 3) return usageError(interp, "Error in oglm command syntax.");
    GlmModel *model = findModel(argv[2]);
    if (!model) return usageError(interp, "Non-existing oglm object.");
    if (argc == 3) return Tk_ConfigureInfo(interp, main, kModelSpecs, (char *)&model->options, nullptr, 0);
    if (argc == 4) return Tk_ConfigureInfo(interp, main, kModelSpecs, (char *)&model->options, argv[3], 0);
    return configureModel(interp, *model, argc - 3, argv + 3, TK_CONFIG_ARGV_ONLY);
  }
  if (matches(sub, "cget", 3)) {
    if (argc != 4) return usageError(interp, "Error in oglm command syntax.");
    GlmModel *model = findModel(argv[2]);
    if (!model) return usageError(interp, "Non-existing oglm object.");
    return Tk_ConfigureValue(interp, main, kModelSpecs, (char *)&model->options, argv[3], 0);
  }
  if (matches(sub, "delete", 3)) {
    if (argc != 3) return usageError(interp, "Error in oglm command syntax.");
    models->erase(argv[2]);
    return TCL_OK;
  }
  if (matches(sub, "draw", 3)) {
    if (argc != 3) return usageError(interp, "Error in oglm command syntax.");
    GlmModel *model = findModel(argv[2]);
    if (!model) return usageError(interp, "Non-existing oglm object.");
    drawModel(*model);
    return TCL_OK;
  }
  if (matches(sub, "info", 3)) return infoCmd(interp, argc, argv);
  if (matches(sub, "material", 4)) return materialCmd(interp, argc, argv);
  if (matches(sub, "normal", 3)) {
    if (argc != 3 && argc != 4) return usageError(interp, "Error in oglm command syntax.");
    GlmModel *model = findModel(argv[2]);
    if (!model) return usageError(interp, "Non-existing oglm object.");
    int mode = argc == 4 ? atoi(argv[3]) : 1;
    if (mode < 0 || mode > 2) mode = 0;
    model->options.normal = mode;
    glmFacetNormals(*model, mode);
    return TCL_OK;
  }
  if (matches(sub, "reverse", 3)) {
    if (argc != 3) return usageError(interp, "Error in oglm command syntax.");
    GlmModel *model = findModel(argv[2]);
    if (!model) return usageError(interp, "Non-existing oglm object.");
    model->options.reverse = !model->options.reverse;
    glmReverse(*model);
    return TCL_OK;
  }
  if (matches(sub, "smooth", 3)) {
    if (argc < 3 || argc > 5) return usageError(interp, "Error in oglm command syntax.");
    GlmModel *model = findModel(argv[2]);
    if (!model) return usageError(interp, "Non-existing oglm object.");
    int mode = argc >= 4 ? atoi(argv[3]) : 2;
    if (mode < 0 || mode > 2) mode = 0;
    double angle = argc == 5 ? atof(argv[4]) : model->options.smoothness;
    glmSmooth(*model, mode, angle);
    model->options.smoothmode = mode;
    model->options.smoothness = angle;
    return TCL_OK;
  }
  if (matches(sub, "save", 3)) {
    if (argc != 4 && argc != 5) return usageError(interp, "Error in oglm command syntax.");
    GlmModel *model = findModel(argv[2]);
    if (!model) return usageError(interp, "Non-existing oglm object.");
    Tcl_DString native;
    const char *path = Tcl_TranslateFileName(interp, argv[3], &native);
    bool ok = path && glmWriteObj(*model, path, argc == 5 && atoi(argv[4]) != 0);
    if (path) Tcl_DStringFree(&native);
    if (!ok) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "Error in save.", (char *)nullptr);
      return TCL_ERROR;
    }
    return TCL_OK;
  }
  return usageError(interp, "Unknown oglm command.");
}

}  // namespace

int Glm_Init(Tcl_Interp *interp) {
  if (!models) {
    models = new std::map<std::string, std::unique_ptr<GlmModel>>;
    Tcl_CreateExitHandler(freeModels, nullptr);
  }
  return Tcl_CreateCommand(interp, "oglm", oglmCommand, nullptr, nullptr) ? 0 : 1;
}

}  // namespace vesk
