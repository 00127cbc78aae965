/*
 * object.h --
 *     The generic object interface: every vector set, table, statistics
 *     set, projection, GCP set and tile store of the library is a RAMOBJ
 *     behind a Tcl command.  Native modules open objects by command name,
 *     watch them, configure and update them, and release them here.
 */
#ifndef VESK_OBJECT_H
#define VESK_OBJECT_H

#include <tk.h>
#include "vesk/vesk.h"

#define RAMOBJ_MAGIC 0x0F2F4F8F
#define RAMOBJ_VERSION 0x100

/* Class ids of the object classes. */
typedef enum ObjectClass {
  OBJ_UNKNOWN = 0,
  OBJ_SHAPE = 1,
  OBJ_STATS = 2,
  OBJ_EV = 3,
  OBJ_ISO = 4,
  OBJ_TABLE = 5,
  OBJ_PROJ = 6,
  OBJ_GCP = 7,
  OBJ_TERRA = 8,
  OBJ_NAD2NAD = 9,
  OBJ_CS2CS = 10,
  OBJ_GEOD = 11
} ObjectClass;

typedef struct RAMOBJ RAMOBJ;

/* A watcher procedure: called with the object each time it changes. */
typedef void ObjectWatchProc(RAMOBJ *object, ClientData clientData);

/* An observer of an object; one gmemAlloc block per watcher. */
typedef struct ObjectWatcher {
  ObjectWatchProc *proc;
  ClientData clientData;
  struct ObjectWatcher *next;
} ObjectWatcher;

/*
 * The operations of an object class, filled by the class's creator.  A slot
 * is NULL where the class has no such operation.
 */
typedef struct ObjectClassOps {
  int (*count)(RAMOBJ *object);                   /* items in the payload */
  int (*selected)(RAMOBJ *object, int item);      /* selection state of an item */
  int (*type)(RAMOBJ *object);                    /* content kind of the payload */
  void *(*clonePayload)(void *payload, int selectedOnly);
  int (*save)(RAMOBJ *object, const char *fileName, int selectedOnly); /* non-zero: saved */
  int (*acquire)(RAMOBJ *object, ObjectWatchProc *proc, ClientData clientData);
  int (*release)(RAMOBJ *object, ObjectWatchProc *proc, ClientData clientData);
  RAMOBJ *(*close)(RAMOBJ *object);               /* NULL once the object is freed */
  void *(*createPayload)(const char *fileName, int *status); /* NULL on failure */
  void (*freePayload)(void *payload);
  Tcl_CmdProc *command;                           /* the class's command procedure */
  int (*modified)(RAMOBJ *object);
  void *methods;                                  /* class operation table, or NULL */
} ObjectClassOps;

/* The object record: one gmemAlloc block, zeroed by the creator. */
struct RAMOBJ {
  int magic;                /* RAMOBJ_MAGIC in every valid object */
  int classId;              /* an ObjectClass */
  int version;              /* RAMOBJ_VERSION */
  int update;               /* -update: pump events after notifying watchers */
  int users;                /* acquisitions beyond the command itself */
  void *payload;            /* the class's data; NULL: "Undefined object" */
  char *file;               /* -file: Tcl-allocated, or NULL */
  ObjectWatcher *watchers;  /* most recently added first */
  ObjectClassOps ops;
};

/* The -file and -update options of the record. */
VESK_EXPORT Tk_ConfigSpec objectConfigSpecs[];

VESK_EXPORT int openObject(Tcl_Interp *interp, int classId, const char *name, RAMOBJ **object);
VESK_EXPORT void closeObject(RAMOBJ *object);
VESK_EXPORT int objAcquire(RAMOBJ *object, ObjectWatchProc *proc, ClientData clientData);
VESK_EXPORT int objRelease(RAMOBJ *object, ObjectWatchProc *proc, ClientData clientData);
VESK_EXPORT RAMOBJ *objClose(RAMOBJ *object);
VESK_EXPORT void objDelete(ClientData clientData);
VESK_EXPORT int objConfig(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv,
                          int flags, const char *previousFile);
VESK_EXPORT void objUpdate(RAMOBJ *object);
VESK_EXPORT int objDefCommand(RAMOBJ *object, Tcl_Interp *interp, int argc, const char **argv);
VESK_EXPORT const char *getObjStr(int classId);

/* What objDefCommand answers for a word that is not one of its subcommands. */
#define OBJ_NOT_HANDLED 4

#endif
