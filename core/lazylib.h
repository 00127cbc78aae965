/*
 * lazylib.h --
 *     Libraries loaded on first use.  The libraries of devices, views,
 *     projections and drawing (OpenGL, FFmpeg, SANE, CUPS, PROJ, cairo) are
 *     large and bring dozens of their own: linked normally they would be
 *     mapped and relocated by every `package require Vesk`.  Instead the
 *     build generates a trampoline for each function our code calls in
 *     them (cmake/lazylibs.sh): a jump through a slot that first leads to
 *     a loader, which opens the library, fills the slots of all its
 *     functions and jumps on.
 *
 *     Commands of those families call requireLibrary at their entry, so a
 *     missing library is a Tcl error there; the trampolines' own loading is
 *     the last resort for a path that forgot it, and panics on failure.
 *
 *     This header is read by the generated C source too.
 */
#ifndef VESK_CORE_LAZYLIB_H
#define VESK_CORE_LAZYLIB_H

#ifdef __cplusplus
extern "C" {
#endif

/* One library, as the build generated it. */
struct VeskLazyLibrary {
  const char *family; /* "gl", "video", "sane", "cups", "proj", "cairo" */
  const char *soname; /* the name given to dlopen */
  const char *names;  /* count function names, each ended by a NUL */
  void **slots;       /* the trampolines' targets; NULL when linked normally */
  int count;          /* 0 when linked normally */
  void *handle;       /* dlopen's handle once loaded and resolved */
};

/* The generated table, ended by NULL. */
extern __attribute__((visibility("hidden"))) struct VeskLazyLibrary *const vesk_lazy_libraries[];

/* Called by the trampolines of a library not loaded yet. */
__attribute__((visibility("hidden"))) void vesk_lazy_resolve(struct VeskLazyLibrary *library);

#ifdef __cplusplus
}

#include <tcl.h>

namespace vesk {

enum LazyFamily { kLazyGl, kLazyVideo, kLazySane, kLazyCups, kLazyProj, kLazyCairo, kLazyFamilies };

/*
 * Loads the libraries of a family unless loaded.  TCL_OK, or TCL_ERROR with
 * "cannot load <soname>: <reason>" in the interpreter.
 */
int requireLibrary(Tcl_Interp *interp, LazyFamily family);

/* Loads one library (exposed for the unit tests); same results. */
int loadLazyLibrary(Tcl_Interp *interp, VeskLazyLibrary *library);

}  // namespace vesk
#endif

#endif
