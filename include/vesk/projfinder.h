/*
 * projfinder.h --
 *     The classic projection library's hook for finding its data files,
 *     kept for native modules written against it.
 */
#ifndef VESK_PROJFINDER_H
#define VESK_PROJFINDER_H

#include "vesk/vesk.h"

/*
 * The procedure is asked for the full path of a data file (an init file
 * or a grid) before the folders of PROJ_LIB are searched; it returns NULL
 * when it does not know the file.  NULL removes the procedure.
 */
VESK_EXPORT void pj_set_finder(const char *(*finder)(const char *name));

#endif
