/*
 * terraobj.cpp --
 *     Terra objects: the "terra.create" command, the TERRA class's
 *     operations over its tile set, and the instance command that answers
 *     questions about the set and moves single tiles in and out as base64
 *     text.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <new>
#include <string>

#include "core/core.h"
#include "core/families.h"
#include "core/text.h"
#include "vector/terra.h"
#include "vesk/object.h"

namespace vesk {
namespace {

/* Strings longer than this are tile texts; shorter ones name a variable. */
constexpr size_t kTileNameLimit = 127;

TerraTileSet *terraSet(RAMOBJ *object) { return static_cast<TerraTileSet *>(object->payload); }

void terraFreeSet(TerraTileSet *set) {
  if (!set) return;
  closeTerraSet(set);
  delete set;
}

/* ---- class operations ---- */

int terraCount(RAMOBJ *object) { return terraField(terraSet(object), TERRA_STORED); }

int terraSelected(RAMOBJ *, int) { return 1; }

int terraKind(RAMOBJ *) { return OBJ_TERRA; }

void *terraClonePayload(void *payload, int) {
  TerraTileSet *copy = new (std::nothrow) TerraTileSet;
  if (!copy) return nullptr;
  if (!cloneTerraSet(static_cast<const TerraTileSet *>(payload), copy)) {
    delete copy;
    return nullptr;
  }
  return copy;
}

int terraSave(RAMOBJ *object, const char *path, int) {
  TerraTileSet *set = terraSet(object);
  return set ? saveTerraFile(path, set) : 0;
}

/* A set read from a file; the file is closed at once. */
void *terraCreatePayload(const char *path, int *status) {
  *status = 0;
  TerraTileSet *set = new (std::nothrow) TerraTileSet;
  if (!set) return nullptr;
  if (!path || !openTerraFile(path, set)) {
    terraFreeSet(set);
    return nullptr;
  }
  if (set->fd >= 0) close(set->fd);
  set->fd = -1;
  *status = 1;
  return set;
}

void terraFreePayload(void *payload) { terraFreeSet(static_cast<TerraTileSet *>(payload)); }

int terraModified(RAMOBJ *object) {
  TerraTileSet *set = terraSet(object);
  return set ? set->dirty : 0;
}

/* ---- the instance command ---- */

const char kTerraCommandWords[] =
    " [config cget class clone close count define exists gettile group index pixelsize puttile "
    "range save scale scene size theme tilecap tileinfo title version]";

/* A failure told through errorInfo, with an empty result. */
int terraFail(Tcl_Interp *interp, const char *message) {
  Tcl_ResetResult(interp);
  Tcl_AddErrorInfo(interp, message);
  return TCL_ERROR;
}

int terraUsage(Tcl_Interp *interp, const char **argv, const char *syntax) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], syntax, (char *)nullptr);
  return TCL_ERROR;
}

int terraResult(Tcl_Interp *interp, const std::string &text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
  return TCL_OK;
}

/* The word names the subcommand: at least min letters, a prefix of it. */
bool terraMatches(const char *word, const char *name, size_t min) {
  size_t length = strlen(word);
  return length >= min && strncmp(name, word, length) == 0;
}

/*
 * terraTileId --
 *     A tile id word: "column row" (global tile position) or an index.
 * Results:      true with *index in 0..n x n - 1; else "Invalid index".
 */
bool terraTileId(Tcl_Interp *interp, TerraTileSet *set, const char *word, int *index) {
  int a = 0, b = 0;
  int got = sscanf(word, "%d %d", &a, &b);
  int i = got == 2 ? getTileIndex(set, a, b) : got == 1 ? a : -1;
  if (i < 0 || i >= set->tilesPerSet) {
    terraFail(interp, "Invalid index");
    return false;
  }
  *index = i;
  return true;
}

/* "define group theme scale scene x y": a new empty set replaces the set. */
int terraDefine(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 8) return terraUsage(interp, argv, " group theme scale scene x y");
  int group, scene, x, y;
  if (Tcl_GetInt(interp, argv[2], &group) != TCL_OK ||
      Tcl_GetInt(interp, argv[5], &scene) != TCL_OK || Tcl_GetInt(interp, argv[6], &x) != TCL_OK ||
      Tcl_GetInt(interp, argv[7], &y) != TCL_OK)
    return TCL_ERROR;
  int theme = terraThemeFromName(argv[3]);
  int scale = terraScaleFromName(argv[4]);
  if (!theme) return terraFail(interp, "Invalid theme");
  if (!scale) return terraFail(interp, "Invalid scale");
  if (group <= 0) return terraFail(interp, "Invalid group");
  if (x < 1 || y < 1) return terraFail(interp, "Invalid group id");
  TerraTileSet *set = new (std::nothrow) TerraTileSet;
  if (!set || !defineTerraSet(set, theme, scale, scene, group, x, y)) {
    delete set;
    return terraFail(interp, "Error in creating terra object");
  }
  terraFreeSet(terraSet(object));
  object->payload = set;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* "gettile tileId ?tileVar?": the tile as base64 text. */
int terraGetTile(TerraTileSet *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4) return terraUsage(interp, argv, " tileId [tileVar]");
  int i;
  if (!terraTileId(interp, set, argv[2], &i)) return TCL_ERROR;
  Tcl_ResetResult(interp);
  int length = 0;
  unsigned char *bytes = getTileData(set, i, &length);
  if (!bytes) return TCL_OK;
  int textLength = 0;
  char *text = encodeBase64(length, bytes, &textLength);
  if (!text) return terraFail(interp, "Error in base64 encoding");
  int code = TCL_OK;
  if (argc == 4) {
    if (!Tcl_SetVar(interp, argv[3], text, TCL_LEAVE_ERR_MSG)) code = TCL_ERROR;
  } else {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text, textLength));
  }
  gmemFree(text);
  return code;
}

/* "puttile tileId tileString": stores a tile from base64 text. */
int terraPutTile(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv) {
  TerraTileSet *set = terraSet(object);
  if (argc != 4) return terraUsage(interp, argv, " tileId tileString");
  int i;
  if (!terraTileId(interp, set, argv[2], &i)) return TCL_ERROR;
  int length = 0;
  if (getTileData(set, i, &length)) return terraFail(interp, "tile already exists");
  const char *text = argv[3];
  if (strlen(text) <= kTileNameLimit) {
    text = Tcl_GetVar(interp, argv[3], TCL_GLOBAL_ONLY);
    if (!text) return terraFail(interp, "fail to find tile string");
  }
  size_t textLength = strlen(text);
  if (textLength > static_cast<size_t>(INT32_MAX)) return terraFail(interp, "Error in base64 decoding");
  int n = 0;
  unsigned char *bytes = decodeBase64(static_cast<int>(textLength), text, &n);
  if (!bytes || n <= 0) {
    gmemFree(bytes);
    return terraFail(interp, "Error in base64 decoding");
  }
  int stored = putTileData(set, i, bytes, n);
  gmemFree(bytes);
  if (!stored) return terraFail(interp, "fail to put tile");
  Tcl_ResetResult(interp);
  /* Watchers may pump events; the command's result must survive them. */
  Tcl_InterpState saved = Tcl_SaveInterpState(interp, TCL_OK);
  objUpdate(object);
  return Tcl_RestoreInterpState(interp, saved);
}

/* "index ?tileId?": the group origin, a tile's index or its position. */
int terraIndex(TerraTileSet *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) return terraUsage(interp, argv, " [tileId]");
  if (argc == 2)
    return terraResult(interp, fmt("%d %d", terraField(set, TERRA_GROUP_X),
                                   terraField(set, TERRA_GROUP_Y)));
  int a, b;
  bool position = sscanf(argv[2], "%d %d", &a, &b) == 2;
  int i;
  if (!terraTileId(interp, set, argv[2], &i)) return TCL_ERROR;
  if (position) return terraResult(interp, fmt("%d", i));
  int column = 0, row = 0;
  getTilePosition(set, i, &column, &row);
  return terraResult(interp, fmt("%d %d", column, row));
}

/* "range ?map?": the tile range, or its extent in metres. */
int terraRange(TerraTileSet *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3 || (argc == 3 && strcmp(argv[2], "map") != 0))
    return terraUsage(interp, argv, " [map]");
  if (argc == 2)
    return terraResult(interp, fmt("%d %d %d %d", set->firstColumn, set->firstRow,
                                   set->lastColumn, set->lastRow));
  double d = terraMetresPerPixel(terraField(set, TERRA_SCALE));
  double x0 = static_cast<double>(set->firstColumn) * kTerraTilePixels * d;
  double y0 = static_cast<double>(set->firstRow) * kTerraTilePixels * d;
  double extent = (static_cast<double>(kTerraTilePixels) * terraField(set, TERRA_GROUP) - 1) * d;
  return terraResult(interp, fmt("%.3f %.3f %.3f %.3f", x0, y0, x0 + extent, y0 + extent));
}

/* "tileinfo ?tileId?": index, position, length and offset of stored tiles. */
int terraTileInfo(TerraTileSet *set, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) return terraUsage(interp, argv, " [tileId]");
  if (argc == 3) {
    int i;
    if (!terraTileId(interp, set, argv[2], &i)) return TCL_ERROR;
    int length = 0;
    if (!getTileData(set, i, &length)) {
      Tcl_ResetResult(interp);
      return TCL_OK;
    }
    return terraResult(interp, fmt("%d %d", length, terraField(set, TERRA_INDEX + 8 * i)));
  }
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (int i = 0; i < set->tilesPerSet; i++) {
    int length = 0, column = 0, row = 0;
    if (!getTileData(set, i, &length)) continue;
    getTilePosition(set, i, &column, &row);
    std::string element =
        fmt("%d %d %d %d %d", i, column, row, length, terraField(set, TERRA_INDEX + 8 * i));
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(element.c_str(), -1));
  }
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

/*
 * terraObjectCmd --
 *     The command of a terra object: the subcommands every object shares,
 *     "define", then the questions and tile transfers of the set.
 */
int terraObjectCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  if (argc < 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], kTerraCommandWords, (char *)nullptr);
    return TCL_ERROR;
  }
  int code = objDefCommand(object, interp, argc, argv);
  if (code != OBJ_NOT_HANDLED) return code;
  const char *word = argv[1];
  if (strcmp(word, "define") == 0) return terraDefine(object, interp, argc, argv);
  TerraTileSet *set = terraSet(object);
  if (!set) {
    Tcl_SetResult(interp, const_cast<char *>("Undefined object"), TCL_STATIC);
    return TCL_ERROR;
  }
  switch (word[0]) {
  case 'e':
    if (terraMatches(word, "exists", 4)) {
      if (argc != 3) return terraUsage(interp, argv, " tileId");
      int i, length;
      if (!terraTileId(interp, set, argv[2], &i)) return TCL_ERROR;
      return terraResult(interp, getTileData(set, i, &length) ? "1" : "0");
    }
    break;
  case 'g':
    if (terraMatches(word, "gettile", 4)) return terraGetTile(set, interp, argc, argv);
    if (terraMatches(word, "group", 4))
      return terraResult(interp, fmt("%d", terraField(set, TERRA_GROUP)));
    break;
  case 'i':
    if (terraMatches(word, "index", 4)) return terraIndex(set, interp, argc, argv);
    break;
  case 'p':
    if (terraMatches(word, "pixelsize", 4))
      return terraResult(interp, fmt("%.3f", terraMetresPerPixel(terraField(set, TERRA_SCALE))));
    if (terraMatches(word, "puttile", 4)) return terraPutTile(object, interp, argc, argv);
    break;
  case 'r':
    if (terraMatches(word, "range", 4)) return terraRange(set, interp, argc, argv);
    break;
  case 's':
    if (terraMatches(word, "scale", 3))
      return terraResult(interp, terraScaleName(terraField(set, TERRA_SCALE)));
    if (terraMatches(word, "scene", 3))
      return terraResult(interp, fmt("%d", terraField(set, TERRA_SCENE)));
    if (terraMatches(word, "size", 3))
      return terraResult(interp, fmt("%d", terraField(set, TERRA_TOTAL_SIZE) -
                                               terraField(set, TERRA_HEADER_SIZE)));
    break;
  case 't':
    if (terraMatches(word, "theme", 3))
      return terraResult(interp, terraThemeName(terraField(set, TERRA_THEME)));
    if (terraMatches(word, "tilecap", 5)) return terraResult(interp, fmt("%d", set->tilesPerSet));
    if (terraMatches(word, "tileinfo", 3)) return terraTileInfo(set, interp, argc, argv);
    if (terraMatches(word, "title", 3))
      return terraResult(
          interp, fmt("Terra.%s.%d.%s.%d.%d.%d", terraThemeName(terraField(set, TERRA_THEME)),
                      terraField(set, TERRA_GROUP), terraScaleName(terraField(set, TERRA_SCALE)),
                      terraField(set, TERRA_SCENE), terraField(set, TERRA_GROUP_X),
                      terraField(set, TERRA_GROUP_Y)));
    break;
  default:
    break;
  }
  Tcl_SetResult(interp, const_cast<char *>("Unknown command"), TCL_STATIC);
  return TCL_ERROR;
}

/*
 * terraCreateCmd --
 *     "terra.create id ?option value ...?": a terra object behind the
 *     command id, configured with the object options (-file loads a TERRA
 *     file).
 * Results:      the id; on failure no command is left behind.
 */
int terraCreateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, argv[0], " id options", (char *)nullptr);
    return TCL_ERROR;
  }
  RAMOBJ *object = newObjectRecord(OBJ_TERRA);
  if (!object) {
    Tcl_SetResult(interp, const_cast<char *>("Error in create terra obj"), TCL_STATIC);
    return TCL_ERROR;
  }
  object->ops.count = terraCount;
  object->ops.selected = terraSelected;
  object->ops.type = terraKind;
  object->ops.clonePayload = terraClonePayload;
  object->ops.save = terraSave;
  object->ops.createPayload = terraCreatePayload;
  object->ops.freePayload = terraFreePayload;
  object->ops.command = terraObjectCmd;
  object->ops.modified = terraModified;
  return createObjectCommand(interp, object, argv[1], argc - 2, argv + 2, "Error in create terra obj");
}

}  // namespace

int Terra_Init(Tcl_Interp *interp) {
  return Tcl_CreateCommand(interp, "terra.create", terraCreateCmd, nullptr, nullptr) ? 0 : 1;
}

}  // namespace vesk
