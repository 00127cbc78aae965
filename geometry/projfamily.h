/*
 * projfamily.h --
 *     What the projection-kind object classes (proj, cs2cs, geod, nad2nad)
 *     share around their payloads: the ".create" command, the instance
 *     command that tries the generic object subcommands before the class's
 *     own, the shared class operations, the program commands' guard, and
 *     the option table that drives each kind's configure, cget, save and
 *     load.
 */
#ifndef VESK_GEOMETRY_PROJFAMILY_H
#define VESK_GEOMETRY_PROJFAMILY_H

#include <tcl.h>
#include <tk.h>
#include <new>
#include <string>
#include <vector>

#include "geometry/projcmd.h"
#include "geometry/projprog.h"
#include "vesk/object.h"

namespace vesk {

/* What one class gives the shared ".create" command. */
struct ProjFamilyClass {
  int classId;                           /* OBJ_PROJ, OBJ_CS2CS, ... */
  const char *createWord;                /* "proj.create": the frame's module */
  Tcl_CmdProc *instanceCmd;              /* the command of each object */
  void (*fillOps)(ObjectClassOps *ops);  /* the class operations */
  /*
   * Gives an object made without a file its default payload (stored in
   * object->payload); TCL_ERROR drops the object, keeping the message.
   */
  int (*makeDefaultPayload)(Tcl_Interp *interp, RAMOBJ *object);
  /* Nonzero: what the configuration left in the result stays before the name. */
  int keepsResult;
};

/* How an object kind's saved file holds its options. */
enum ProjSavedForm {
  PROJ_SAVED_PAIRS,  /* one line: a Tcl list of option and value pairs */
  PROJ_SAVED_TEXT    /* the text of the one saved option, alone */
};

/*
 * The options of one object kind, the way Tk's config specs describe a
 * widget's: configure, cget, the option listing and the defaults go
 * through the specs; save writes the saved options, load reads them back
 * through the kind's own configure.
 */
struct ProjOptionTable {
  Tk_ConfigSpec *specs;
  const char *const *saved;   /* the options save writes, in order; NULL-ended */
  const char *const *kept;    /* what a refused configuration puts back; NULL-ended */
  ProjSavedForm form;
  const char *numberFormat;   /* of the saved numbers */
  bool skipUnsetTexts;        /* a text option without a value is left out of a save */
  long fileLimit;             /* longest saved file that load reads */
};

/*
 * The kept options' values when a configuration starts, so that a refused
 * one can put them back.
 */
class ProjOptionSnapshot {
 public:
  ProjOptionSnapshot(const ProjOptionTable &table, const void *record);
  void restore(void *record) const;

 private:
  struct Value {
    const Tk_ConfigSpec *spec;
    bool isSet = false;  /* a text option that has a value */
    std::string text;
    double number = 0;
    int integer = 0;
    Tk_Uid uid = nullptr;
  };
  std::vector<Value> values_;
};

int applyProjOptions(Tcl_Interp *interp, const ProjOptionTable &table, void *record, int argc,
                     const char **argv, int flags);
int defaultProjOptions(Tcl_Interp *interp, const ProjOptionTable &table, void *record);
int getProjOption(Tcl_Interp *interp, const ProjOptionTable &table, void *record,
                  const char *option);
int listProjOptions(Tcl_Interp *interp, const ProjOptionTable &table, void *record,
                    const char *option);
int saveProjOptions(const ProjOptionTable &table, const void *record, const char *path);
bool readProjOptionWords(Tcl_Interp *interp, const ProjOptionTable &table, const char *path,
                         std::vector<std::string> &words);

/*
 * loadProjPayload --
 *     A payload made by the kind and configured with the words of a saved
 *     file; the options the file leaves out take their defaults.
 * Results:      the payload, or NULL when the file cannot be read or the
 *               configuration is refused.
 */
template <class Payload>
Payload *loadProjPayload(Tcl_Interp *interp, const ProjOptionTable &table, const char *path,
                         Payload *(*make)(),
                         int (*configure)(Tcl_Interp *, Payload *, int, const char **, int),
                         void (*drop)(Payload *)) {
  std::vector<std::string> words;
  if (!readProjOptionWords(interp, table, path, words)) return nullptr;
  std::vector<const char *> argv;
  for (const std::string &word : words) argv.push_back(word.c_str());
  Payload *payload = make();
  if (configure(interp, payload, static_cast<int>(argv.size()), argv.data(), 0) != TCL_OK) {
    drop(payload);
    return nullptr;
  }
  return payload;
}

/* How the class operations of one kind make, read, write and free its payloads. */
template <class Payload>
struct ProjPayloadKind {
  const ProjOptionTable *options;
  Payload *(*make)();
  int (*configure)(Tcl_Interp *interp, Payload *payload, int argc, const char **argv,
                   int flags);
  void (*drop)(Payload *payload);
};

template <class Payload, const ProjPayloadKind<Payload> &kind>
int projKindSave(RAMOBJ *object, const char *path, int) {
  return saveProjOptions(*kind.options, object->payload, path);
}

template <class Payload, const ProjPayloadKind<Payload> &kind>
void *projKindCreatePayload(const char *path, int *status) {
  Payload *payload = loadProjPayload(getCurrentProjInterp(), *kind.options, path, kind.make,
                                     kind.configure, kind.drop);
  if (status) *status = payload ? 0 : 1;
  return payload;
}

template <class Payload, const ProjPayloadKind<Payload> &kind>
void projKindFreePayload(void *payload) {
  kind.drop(static_cast<Payload *>(payload));
}

/* The payload operations of a kind: save, the payload of -file, and free. */
template <class Payload, const ProjPayloadKind<Payload> &kind>
void fillProjKindOps(ObjectClassOps *ops) {
  ops->save = projKindSave<Payload, kind>;
  ops->createPayload = projKindCreatePayload<Payload, kind>;
  ops->freePayload = projKindFreePayload<Payload, kind>;
}

/* The projection objects' payloads (projcmd.cpp). */
extern const ProjPayloadKind<ProjObject> projObjectKind;

/* Writes an object's saved text beside the file and renames it into place: 1, or 0. */
int writeObjectFile(const char *path, const std::string &text);
/* The whole text of a saved object of at most limit bytes; false when unreadable. */
bool readObjectFile(const char *path, long limit, std::string &text);

int createProjFamilyObject(const ProjFamilyClass &family, Tcl_Interp *interp, int argc,
                           const char **argv);
void fillProjFamilyOps(ObjectClassOps *ops, Tcl_CmdProc *command, const ProjectionOps *methods);
int projFamilyOutOfMemory(Tcl_Interp *interp);
int runProjProgramCmd(Tcl_Interp *interp, const char *module, ProjProgramMain *main, int argc,
                      const char **argv);

template <class Payload>
using ProjFamilySubcommand = int (*)(Tcl_Interp *interp, Payload *object, const char *name,
                                     int argc, const char **argv);

/*
 * projFamilyInstanceCmd --
 *     The command of one object: the generic object subcommands first,
 *     then the class's own (subcommand) inside a frame named for the
 *     object.
 */
template <class Payload, ProjFamilySubcommand<Payload> subcommand>
int projFamilyInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                          const char **argv) {
  RAMOBJ *object = static_cast<RAMOBJ *>(clientData);
  std::string name = argv[0];
  try {
    if (argc >= 2) {
      /* Payloads made by the generic subcommands (clone, -file) parse in this interpreter. */
      setCurrentProjInterp(interp);
      int result = objDefCommand(object, interp, argc, argv);
      if (result != OBJ_NOT_HANDLED) return result;
    }
    return runInProjFrame(interp, name.c_str(), [&]() {
      return subcommand(interp, static_cast<Payload *>(object->payload), name.c_str(), argc,
                        argv);
    });
  } catch (const std::bad_alloc &) {
    return projFamilyOutOfMemory(interp);
  }
}

}  // namespace vesk

#endif
