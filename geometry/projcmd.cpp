/*
 * projcmd.cpp --
 *     The projection commands: their registration in order, "proj.info"
 *     over PROJ's projection and ellipsoid lists, and the payload of the
 *     projection objects made by "proj.create": one definition that
 *     converts points between degrees and projected coordinates, with its
 *     options, subcommands and the operation table for native clients.
 */
#include "geometry/projcmd.h"
#include "geometry/projfamily.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "core/lazylib.h"
#include "geometry/projprog.h"
#include "geometry/projprogram.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

constexpr double kDegToRad = M_PI / 180.0;
constexpr double kRadToDeg = 180.0 / M_PI;

/* The options of a projection object, in their documented order. */
Tk_ConfigSpec projConfigSpecs[] = {
    {TK_CONFIG_STRING, "-projdef", nullptr, nullptr, "proj=utm", Tk_Offset(ProjObject, projdef),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_INT, "-inv", nullptr, nullptr, "0", Tk_Offset(ProjObject, inv), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-longitude", nullptr, nullptr, "0.0", Tk_Offset(ProjObject, longitude), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-latitude", nullptr, nullptr, "0.0", Tk_Offset(ProjObject, latitude), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-x", nullptr, nullptr, "0.0", Tk_Offset(ProjObject, x), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-y", nullptr, nullptr, "0.0", Tk_Offset(ProjObject, y), 0, nullptr},
    {TK_CONFIG_UID, "-fmtxy", nullptr, nullptr, "%.12g", Tk_Offset(ProjObject, fmtxy), 0, nullptr},
    {TK_CONFIG_UID, "-fmtll", nullptr, nullptr, "%.12g", Tk_Offset(ProjObject, fmtll), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

constexpr const char *kInstanceUsage =
    " command (cget class clone close config count info projconfigure params project projget "
    "save type version)";

/* The definition alone is saved; a refused configuration puts every option back. */
const char *const projSavedOptions[] = {"-projdef", nullptr};
const char *const projKeptOptions[] = {"-projdef", "-inv",   "-longitude", "-latitude",
                                       "-x",       "-y",     "-fmtxy",     "-fmtll", nullptr};
const ProjOptionTable projOptions = {projConfigSpecs, projSavedOptions, projKeptOptions,
                                     PROJ_SAVED_TEXT, "%.12g", false, 65536};

/* One number in a format that checkNumberFormat accepted. */
std::string formatNumber(const char *format, double value) {
  char buffer[256];
  int n = snprintf(buffer, sizeof buffer, format, value);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  snprintf(&out[0], out.size(), format, value);
  out.resize(static_cast<size_t>(n));
  return out;
}

/* The id named by the first "proj=" word of a projection, or NULL. */
const char *projIdOf(projPJ pj) {
  for (ProjParam *param = getFirstProjParam(pj); param; param = getNextProjParam(param)) {
    const char *text = getProjParamText(param);
    if (strncmp(text, "proj=", 5) == 0) return text + 5;
  }
  return nullptr;
}

/*
 * makeProjection --
 *     Splits a definition into words and makes its projection.
 * Results:      TCL_OK with *out set (NULL for an empty definition), or
 *               TCL_ERROR with the message in the result.
 */
int makeProjection(Tcl_Interp *interp, const char *definition, projPJ *out, int *reversed) {
  *out = nullptr;
  int argc = 0;
  const char **argv = nullptr;
  if (Tcl_SplitList(interp, definition, &argc, &argv) != TCL_OK) return TCL_ERROR;
  *reversed = 0;
  for (int i = 0; i < argc; i++)
    if (strcmp(argv[i], "-r") == 0) *reversed = 1;
  projPJ pj = initProjection(interp, argc, argv);
  ckfree(reinterpret_cast<char *>(argv));
  if (!pj) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Error in allocating projection: ", definition, nullptr);
    const char *cause = getProjError(interp);
    if (*cause) {
      Tcl_AddErrorInfo(interp, "\n");
      Tcl_AddErrorInfo(interp, cause);
      Tcl_SetErrorCode(interp, "PROJ", fmt("%d", getProjErrno(interp)), cause, nullptr);
    }
    return TCL_ERROR;
  }
  *out = pj;
  return TCL_OK;
}

/* ---- ProjectionOps of projection objects ---- */

int opsHasInverse(void *payload) {
  return hasProjectionInverse(static_cast<ProjObject *>(payload)->pj);
}

int opsIsReversed(void *payload) { return static_cast<ProjObject *>(payload)->reversed; }

int opsForward(void *payload, double longitude, double latitude, double *x, double *y) {
  projPJ pj = static_cast<ProjObject *>(payload)->pj;
  projectForward(pj, longitude * kDegToRad, latitude * kDegToRad, x, y);
  return *x != HUGE_VAL;
}

int opsInverse(void *payload, double x, double y, double *longitude, double *latitude) {
  projPJ pj = static_cast<ProjObject *>(payload)->pj;
  projectInverse(pj, x, y, longitude, latitude);
  if (*longitude == HUGE_VAL) return 0;
  *longitude *= kRadToDeg;
  *latitude *= kRadToDeg;
  return 1;
}

/* ---- proj.info ---- */

/* "%s %s %s {%s}" of an ellipsoid. */
const char *formatEllipsoid(const EllipsoidEntry *entry) {
  return fmt("%s %s %s {%s}", getEllipsoidId(entry), getEllipsoidMajor(entry),
             getEllipsoidEll(entry), getEllipsoidName(entry));
}

/* A field of a description, preceded by a blank and braced when it holds one. */
void appendField(std::string &out, const std::string &field) {
  out += ' ';
  if (field.find(' ') != std::string::npos) {
    out += '{';
    out += field;
    out += '}';
  } else {
    out += field;
  }
}

/*
 * formatProjType --
 *     The id of a projection and three fields of its description: the
 *     name line, the category line, and the rest as one line.
 */
std::string formatProjType(const ProjTypeEntry *entry) {
  std::string out = getProjTypeId(entry);
  const char *s = getProjTypeDescr(entry);
  if (!s) s = "";
  std::string name, category, rest;
  for (; *s && *s != '\n'; s++)
    if (*s != '\t') name += *s;
  if (*s == '\n') s++;
  while (*s == '\t' || *s == ' ') s++;
  for (; *s && *s != '\n'; s++)
    if (*s != '\t') category += *s;
  if (*s == '\n') s++;
  while (*s == '\t' || *s == ' ') s++;
  for (; *s; s++) {
    if (*s == '\n') continue;
    rest += *s == '\t' ? ' ' : *s;
  }
  appendField(out, name);
  appendField(out, category);
  appendField(out, rest);
  return out;
}

/* Subcommand words of "proj.info": exact, or a list word's longer prefix. */
enum InfoWord { INFO_NONE, INFO_ELLPS, INFO_ELLPSLIST, INFO_ELLPSIDS, INFO_PROJ, INFO_PROJLIST, INFO_PROJIDS };

InfoWord matchInfoWord(const char *word) {
  size_t n = strlen(word);
  if (strcmp(word, "ellps") == 0) return INFO_ELLPS;
  if (strcmp(word, "proj") == 0) return INFO_PROJ;
  if (n > 5 && strncmp("ellpslist", word, n) == 0) return INFO_ELLPSLIST;
  if (n > 5 && strncmp("ellpsids", word, n) == 0) return INFO_ELLPSIDS;
  if (n > 4 && strncmp("projlist", word, n) == 0) return INFO_PROJLIST;
  if (n > 4 && strncmp("projids", word, n) == 0) return INFO_PROJIDS;
  return INFO_NONE;
}

}  // namespace

const ProjectionOps projectionOps = {opsHasInverse, opsIsReversed, opsForward, opsInverse};

/* ---- the payload ---- */

ProjObject *newProjObject() { return new ProjObject; }

/*
 * freeProjObject --
 *     Frees the projection, the options and the payload.
 */
void freeProjObject(ProjObject *object) {
  if (!object) return;
  freeProjection(object->pj);
  if (object->projdef) ckfree(object->projdef);
  delete object;
}

/*
 * checkNumberFormat --
 *     Accepts a format for one number: literal text around exactly one
 *     floating conversion with optional flags, a width and a precision of
 *     at most two digits each ("%%" stands for itself).  Anything else
 *     ("%s", "%n", two conversions) would read or write memory that is
 *     not there when the number is formatted.
 * Results:      TCL_OK, or TCL_ERROR with a message naming the option.
 */
int checkNumberFormat(Tcl_Interp *interp, const char *option, const char *format) {
  int conversions = 0;
  bool good = format != nullptr;
  for (const char *s = format; good && *s; s++) {
    if (*s != '%') continue;
    s++;
    if (*s == '%') continue;
    while (*s && strchr("-+ #0", *s)) s++;
    int digits = 0;
    while (*s >= '0' && *s <= '9') s++, digits++;
    if (digits > 2) good = false;
    if (*s == '.') {
      s++;
      digits = 0;
      while (*s >= '0' && *s <= '9') s++, digits++;
      if (digits > 2) good = false;
    }
    if (*s == 'l') s++;
    if (!*s || !strchr("eEfFgGaA", *s)) good = false;
    conversions++;
    if (!*s) break;
  }
  if (good && conversions == 1) return TCL_OK;
  if (interp) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "bad ", option, " format \"", format ? format : "",
                     "\": must hold one floating-point conversion such as %.12g", nullptr);
  }
  return TCL_ERROR;
}

/*
 * configureProjObject --
 *     Applies option words to a payload, remakes the projection when the
 *     definition changed, and recomputes the dependent point: x and y from
 *     the longitude and latitude, or the reverse with -inv.
 * Results:      TCL_OK, or TCL_ERROR with the message in the result.
 * Side effects: a refused option, format or over-long definition leaves
 *               every option as it was; a definition PROJ refuses keeps
 *               the old projection (and the new text); an empty
 *               definition leaves the payload without a projection.
 */
int configureProjObject(Tcl_Interp *interp, ProjObject *object, int argc, const char **argv,
                        int flags) {
  ProjOptionSnapshot snapshot(projOptions, object);
  if (applyProjOptions(interp, projOptions, object, argc, argv, flags) != TCL_OK) {
    snapshot.restore(object);
    return TCL_ERROR;
  }
  const char *definition = object->projdef ? object->projdef : "";
  if (strlen(definition) > static_cast<size_t>(kProjDefMax)) {
    snapshot.restore(object);
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "projection definition longer than ", fmt("%d", kProjDefMax),
                     " characters", nullptr);
    return TCL_ERROR;
  }
  if (checkNumberFormat(interp, "-fmtxy", object->fmtxy) != TCL_OK ||
      checkNumberFormat(interp, "-fmtll", object->fmtll) != TCL_OK) {
    snapshot.restore(object);
    return TCL_ERROR;
  }

  if (!object->pj || !*definition || object->pjDef != definition) {
    if (!*definition) {
      freeProjection(object->pj);
      object->pj = nullptr;
      object->pjDef.clear();
      object->reversed = 0;
    } else {
      projPJ pj = nullptr;
      int reversed = 0;
      if (makeProjection(interp, definition, &pj, &reversed) != TCL_OK) return TCL_ERROR;
      freeProjection(object->pj);
      object->pj = pj;
      object->pjDef = definition;
      object->reversed = reversed;
    }
  }
  if (object->pj) {
    if (object->inv) {
      if (!hasProjectionInverse(object->pj)) {
        Tcl_SetResult(interp, const_cast<char *>("inverse projection not available"), TCL_STATIC);
        return TCL_ERROR;
      }
      opsInverse(object, object->x, object->y, &object->longitude, &object->latitude);
    } else {
      opsForward(object, object->longitude, object->latitude, &object->x, &object->y);
    }
  }
  return TCL_OK;
}

/*
 * cloneProjObject --
 *     A new payload with the source's definition and every other option at
 *     its default; a source without a definition gives a payload without
 *     one that keeps the source's formats.
 * Results:      the payload (without a projection when PROJ refuses the
 *               definition), or NULL when the options cannot be applied.
 */
ProjObject *cloneProjObject(Tcl_Interp *interp, const ProjObject *source) {
  ProjObject *copy = newProjObject();
  const char *definition = source->projdef ? source->projdef : "";
  if (*definition) {
    const char *argv[] = {"-projdef", definition};
    /* A definition PROJ refuses still gives a copy, one without a projection. */
    if (configureProjObject(interp, copy, 2, argv, 0) != TCL_OK && !copy->fmtxy) {
      freeProjObject(copy);
      return nullptr;
    }
    return copy;
  }
  const char *argv[] = {"-projdef", "", "-fmtxy", source->fmtxy ? source->fmtxy : "%.12g",
                        "-fmtll", source->fmtll ? source->fmtll : "%.12g"};
  if (configureProjObject(interp, copy, 6, argv, 0) != TCL_OK) {
    freeProjObject(copy);
    return nullptr;
  }
  return copy;
}

/* saveProjObject -- the definition text alone: 1 when written, 0 without one. */
int saveProjObject(const ProjObject *object, const char *path) {
  return saveProjOptions(projOptions, object, path);
}

/*
 * loadProjObject --
 *     A payload whose definition is the whole text of a file, every other
 *     option at its default; an empty file gives a payload without a
 *     projection.
 * Results:      the payload, or NULL when the file cannot be read, is
 *               longer than a definition may be, or PROJ refuses it.
 */
ProjObject *loadProjObject(Tcl_Interp *interp, const char *path) {
  return loadProjPayload(interp, projOptions, path, newProjObject, configureProjObject,
                         freeProjObject);
}

/* The index in PROJ's list of the projection's "proj=" id; -1 when none. */
int projObjectType(const ProjObject *object) {
  if (!object || !object->pj) return -1;
  const char *id = projIdOf(object->pj);
  return id ? findProjType(id) : -1;
}

/*
 * projObjectSubcommand --
 *     The own subcommands of a projection object: project, projget,
 *     projconfigure, params, info and type.  argv[0] is the object's name
 *     and argv[1] the subcommand.
 */
int projObjectSubcommand(Tcl_Interp *interp, ProjObject *object, const char *name, int argc,
                         const char **argv) {
  const char *word = argc > 1 ? argv[1] : "";
  size_t n = strlen(word);
  enum { NONE, PROJECT, PROJGET, PROJCONFIGURE, PARAMS, INFO, TYPE } sub = NONE;
  if (word[0] == 'p' && n >= 5) {
    if (strncmp("project", word, n) == 0) sub = PROJECT;
    else if (strncmp("projget", word, n) == 0) sub = PROJGET;
    else if (strncmp("projconfigure", word, n) == 0) sub = PROJCONFIGURE;
    else if (strncmp("params", word, n) == 0) sub = PARAMS;
  } else if (strcmp(word, "info") == 0) {
    sub = INFO;
  } else if (strcmp(word, "type") == 0) {
    sub = TYPE;
  }
  if (sub == NONE) {
    Tcl_AppendResult(interp, "Usage: ", name, kInstanceUsage, nullptr);
    return TCL_ERROR;
  }
  if (!object) {
    Tcl_SetResult(interp, const_cast<char *>("Undefined object"), TCL_STATIC);
    return TCL_ERROR;
  }
  switch (sub) {
  case PROJECT: {
    if (argc != 4) {
      Tcl_AppendResult(interp, "Usage: ", name, " project u v", nullptr);
      return TCL_ERROR;
    }
    if (!object->pj) {
      Tcl_SetResult(interp, const_cast<char *>("projection function not defined"), TCL_STATIC);
      return TCL_ERROR;
    }
    double u = atof(argv[2]), v = atof(argv[3]);
    std::string result;
    if (object->inv) {
      if (!hasProjectionInverse(object->pj)) {
        Tcl_SetResult(interp, const_cast<char *>("projection is not inversible"), TCL_STATIC);
        return TCL_ERROR;
      }
      object->x = u;
      object->y = v;
      opsInverse(object, u, v, &object->longitude, &object->latitude);
      result = formatNumber(object->fmtll, object->longitude) + " " +
               formatNumber(object->fmtll, object->latitude);
    } else {
      object->longitude = u;
      object->latitude = v;
      opsForward(object, u, v, &object->x, &object->y);
      result = formatNumber(object->fmtxy, object->x) + " " +
               formatNumber(object->fmtxy, object->y);
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(result.c_str(), -1));
    return TCL_OK;
  }
  case PROJGET:
    if (argc != 3) {
      Tcl_AppendResult(interp, "Usage: ", name, " projget option", nullptr);
      return TCL_ERROR;
    }
    return getProjOption(interp, projOptions, object, argv[2]);
  case PROJCONFIGURE:
    if (argc == 2 || argc == 3)
      return listProjOptions(interp, projOptions, object, argc == 3 ? argv[2] : nullptr);
    return configureProjObject(interp, object, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
  case PARAMS:
    for (ProjParam *param = getFirstProjParam(object->pj); object->pj && param;
         param = getNextProjParam(param))
      Tcl_AppendElement(interp, getProjParamText(param));
    return TCL_OK;
  case INFO: {
    projPJ pj = object->pj;
    if (!pj) return TCL_OK;
    Tcl_AppendElement(interp, fmt("a %f", getProjA(pj)));
    Tcl_AppendElement(interp, fmt("e %f", getProjE(pj)));
    Tcl_AppendElement(interp, fmt("lam0 %f", getProjLam0(pj)));
    Tcl_AppendElement(interp, fmt("phi0 %f", getProjPhi0(pj)));
    Tcl_AppendElement(interp, fmt("x0 %f", getProjX0(pj)));
    Tcl_AppendElement(interp, fmt("y0 %f", getProjY0(pj)));
    Tcl_AppendElement(interp, fmt("k0 %f", getProjK0(pj)));
    Tcl_AppendElement(interp, fmt("to_meter %f", getProjToMeter(pj)));
    Tcl_AppendElement(interp, fmt("fr_meter %f", getProjFrMeter(pj)));
    Tcl_AppendElement(interp, fmt("datum_type %s", getDatumTypeName(pj)));
    int count = 0;
    const double *p = getDatumParams(pj, &count);
    Tcl_AppendElement(interp, fmt("datum_params %f %f %f %f %f %f %f", p[0], p[1], p[2], p[3],
                                  p[4], p[5], p[6]));
    return TCL_OK;
  }
  case TYPE: {
    int index = projObjectType(object);
    if (index >= 0) Tcl_AppendResult(interp, getProjTypeId(getProjTypeAt(index)), nullptr);
    return TCL_OK;
  }
  default:
    return TCL_ERROR;
  }
}

/* ---- commands ---- */

/*
 * projInfoCmd --
 *     "proj.info": PROJ's ellipsoids and projections, one or all.
 */
int projInfoCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  InfoWord word = argc > 1 ? matchInfoWord(argv[1]) : INFO_NONE;
  bool needsId = word == INFO_ELLPS || word == INFO_PROJ;
  if (word == INFO_NONE || (!needsId && argc != 2)) {
    Tcl_AppendResult(interp, "Usage: ", argv[0],
                     " option (ellps ellpslist ellpsids proj projlist projids)", nullptr);
    return TCL_ERROR;
  }
  if (needsId && argc != 3) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1],
                     word == INFO_ELLPS ? " ellpsid" : " projid", nullptr);
    return TCL_ERROR;
  }
  switch (word) {
  case INFO_ELLPS: {
    const EllipsoidEntry *entry = getEllipsoidAt(findEllipsoid(argv[2]));
    if (entry) Tcl_AppendResult(interp, formatEllipsoid(entry), nullptr);
    break;
  }
  case INFO_ELLPSLIST:
  case INFO_ELLPSIDS:
    for (const EllipsoidEntry *e = getFirstEllipsoid(); e && getEllipsoidId(e);
         e = getNextEllipsoid(e))
      Tcl_AppendElement(interp, word == INFO_ELLPSIDS ? getEllipsoidId(e) : formatEllipsoid(e));
    break;
  case INFO_PROJ: {
    const ProjTypeEntry *entry = getProjTypeAt(findProjType(argv[2]));
    if (entry) Tcl_AppendResult(interp, formatProjType(entry).c_str(), nullptr);
    break;
  }
  case INFO_PROJLIST:
  case INFO_PROJIDS:
    for (const ProjTypeEntry *e = getFirstProjType(); e && e->id; e = getNextProjType(e)) {
      if (!getProjTypeDescr(e)) continue;
      if (word == INFO_PROJIDS) Tcl_AppendElement(interp, getProjTypeId(e));
      else Tcl_AppendElement(interp, formatProjType(e).c_str());
    }
    break;
  default:
    break;
  }
  return TCL_OK;
}

/*
 * The projection commands in registration order.  The programs and their
 * object kinds get their procedures as they are built; until then their
 * rows are passed over.
 */
struct ProjCommand {
  const char *name;
  Tcl_CmdProc *proc;
};
static const ProjCommand projCommands[] = {
    {"proj", projProgramCmd},
    {"proj.create", projCreateCmd},
    {"proj.exitCode", projExitCodeCmd},
    {"proj.module", projModuleCmd},
    {"proj.info", projInfoCmd},
    {"nad2nad", nad2nadProgramCmd},
    {"nad2nad.create", nad2nadCreateCmd},
    {"geod", geodProgramCmd},
    {"geod.create", geodCreateCmd},
    {"cs2cs", cs2csProgramCmd},
    {"cs2cs.create", cs2csCreateCmd},
};

/* Each projection command loads PROJ before it runs. */
static int projEntry(ClientData data, Tcl_Interp *interp, int argc, const char **argv) {
  if (requireLibrary(interp, kLazyProj) != TCL_OK) return TCL_ERROR;
  return static_cast<const ProjCommand *>(data)->proc(nullptr, interp, argc, argv);
}

/*
 * Proj_Init --
 *     Creates the projection commands in their order.
 * Results:      TCL_OK, or TCL_ERROR at the first command Tcl refuses
 *               (those made before it stay).
 */
int Proj_Init(Tcl_Interp *interp) {
  for (const ProjCommand &command : projCommands) {
    if (!command.proc) continue;
    if (!Tcl_CreateCommand(interp, command.name, projEntry, const_cast<ProjCommand *>(&command),
                           nullptr)) {
      vesk_fprintf(stderr, "Fail to create command:%s", command.name);
      return TCL_ERROR;
    }
  }
  return TCL_OK;
}

const ProjPayloadKind<ProjObject> projObjectKind = {&projOptions, newProjObject,
                                                    configureProjObject, freeProjObject};

}  // namespace vesk
