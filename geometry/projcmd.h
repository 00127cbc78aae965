/*
 * projcmd.h --
 *     Projection objects: the payload of a "proj.create" object, the
 *     operation table every projection-kind object offers native clients,
 *     and the registration of the projection commands.
 */
#ifndef VESK_GEOMETRY_PROJCMD_H
#define VESK_GEOMETRY_PROJCMD_H

#include <tk.h>
#include <string>

#include "geometry/projlayer.h"

namespace vesk {

/*
 * The operations of a projection-kind object for native clients; each
 * takes the object's payload.  Degrees on the geographic side.
 */
struct ProjectionOps {
  int (*hasInverse)(void *payload);
  int (*isReversed)(void *payload);
  int (*forward)(void *payload, double longitude, double latitude, double *x, double *y);
  int (*inverse)(void *payload, double x, double y, double *longitude, double *latitude);
};

/* The payload of a projection object; options through projConfigSpecs. */
struct ProjObject {
  char *projdef = nullptr;   /* -projdef: Tcl list of PROJ words, at most kProjDefMax chars */
  int inv = 0;               /* -inv: nonzero converts projected to geographic */
  int modified = 0;          /* always 0 */
  int reversed = 0;          /* 1 when a word of the definition is exactly "-r" */
  Tk_Uid fmtll = nullptr;    /* -fmtll: format of one longitude or latitude */
  Tk_Uid fmtxy = nullptr;    /* -fmtxy: format of one x or y */
  projPJ pj = nullptr;       /* the projection, NULL for none */
  std::string pjDef;         /* the definition pj was made from: differs from projdef
                                after PROJ refused a new one, so it is tried again */
  double x = 0, y = 0;                   /* -x, -y: the projected point */
  double longitude = 0, latitude = 0;    /* -longitude, -latitude, degrees */
};

extern const ProjectionOps projectionOps;

ProjObject *newProjObject();
void freeProjObject(ProjObject *object);
int configureProjObject(Tcl_Interp *interp, ProjObject *object, int argc, const char **argv,
                        int flags);
ProjObject *cloneProjObject(Tcl_Interp *interp, const ProjObject *source);
int saveProjObject(const ProjObject *object, const char *path);
ProjObject *loadProjObject(Tcl_Interp *interp, const char *path);
int projObjectType(const ProjObject *object);
int projObjectSubcommand(Tcl_Interp *interp, ProjObject *object, const char *name, int argc,
                         const char **argv);
int checkNumberFormat(Tcl_Interp *interp, const char *option, const char *format);

Tcl_CmdProc projInfoCmd;
Tcl_CmdProc projCreateCmd;

}  // namespace vesk

#endif
