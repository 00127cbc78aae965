/*
 * projfamily.h --
 *     What the projection-kind object classes (proj, cs2cs, geod, nad2nad)
 *     share around their payloads: the ".create" command, the instance
 *     command that tries the generic object subcommands before the class's
 *     own, the shared class operations, and the program commands' guard.
 */
#ifndef VESK_GEOMETRY_PROJFAMILY_H
#define VESK_GEOMETRY_PROJFAMILY_H

#include <tcl.h>
#include <new>
#include <string>

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
