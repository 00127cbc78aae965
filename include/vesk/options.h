/*
 * options.h --
 *     Tk configuration options that read and print ids by name.  A
 *     Tk_CustomOption with ParseID and GetIDStr as its procedures and an
 *     IdKind as its client data stores the id of a name in an int field.
 */
#ifndef VESK_OPTIONS_H
#define VESK_OPTIONS_H

#include <tk.h>
#include "vesk/vesk.h"

/* A vocabulary of ids: its name, and its lookups in both directions. */
typedef struct IdKind {
  const char *name;
  int (*nameToId)(const char *name);  /* -1 for a name not in the vocabulary */
  const char *(*idToName)(int id);
} IdKind;

VESK_EXPORT int ParseID(ClientData clientData, Tcl_Interp *interp, Tk_Window tkwin,
                        const char *value, char *widgRec, int offset);
VESK_EXPORT const char *GetIDStr(ClientData clientData, Tk_Window tkwin, char *widgRec,
                                 int offset, Tcl_FreeProc **freeProcPtr);

#endif
