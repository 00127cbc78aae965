/*
 * vesk.h --
 *     The exported core interface of the Vesk library: package entry
 *     procedures, the library heap, the rotating format buffer and the
 *     event pump.  Other native modules of the application include this.
 */
#ifndef VESK_VESK_H
#define VESK_VESK_H

#include <tcl.h>

#ifdef __cplusplus
#define VESK_EXTERN_C extern "C"
#else
#define VESK_EXTERN_C extern
#endif
#define VESK_EXPORT VESK_EXTERN_C __attribute__((visibility("default")))

VESK_EXPORT int Vesk_Init(Tcl_Interp *interp);
VESK_EXPORT int Console_Init(Tcl_Interp *interp);

/* The library heap: Tcl's allocator, so blocks may be handed to Tcl. */
VESK_EXPORT void *gmemAlloc(int size);
VESK_EXPORT void gmemFree(void *block);
VESK_EXPORT void *gmemRealloc(void *block, int size);
/* A zeroed block; NULL after a message naming label when none is left. */
VESK_EXPORT void *memAlloc(int size, const char *label);

/* Formats into the rotating 16384-byte buffer; valid until it wraps. */
VESK_EXPORT char *fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Services pending events of the given kinds without waiting. */
VESK_EXPORT void tclUpdate(Tcl_Interp *interp, int flags);

/* The Gauss-Jordan sweep of the first k variables of a symmetric matrix of
   order n (row-major), the swept columns keeping their sign; work holds
   (n + k) doubles and 2k ints, or is NULL to allocate.  0 on success. */
VESK_EXPORT int resolve(double *M, int k, int n, void *work);

/* Environment lookup through the env array of the stdio interpreter. */
VESK_EXPORT char *vesk_getenv(const char *name);

#endif
