/*
 * lazylib.cpp --
 *     Opening the libraries that are loaded on first use, and filling the
 *     slots of their trampolines (see lazylib.h).
 */
#include "core/lazylib.h"

#include <dlfcn.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace vesk {
namespace {

const char *const kFamilyNames[] = {"gl", "video", "sane", "cups", "proj", "cairo"};
static_assert(sizeof kFamilyNames / sizeof kFamilyNames[0] == kLazyFamilies,
              "one name a family");

std::atomic<bool> familyLoaded[kLazyFamilies];
/* Loads may come from any thread that calls a trampoline. */
std::mutex loadMutex;

/*
 * openLibrary --
 *     Opens a library and resolves every name its trampolines stand for;
 *     the slots change only once all are found.
 * Results:      true, or false with the reason in *error.
 * Side effects: sets library->handle; the library stays loaded.
 */
bool openLibrary(VeskLazyLibrary *library, std::string *error) {
  if (library->handle) return true;
  void *handle = dlopen(library->soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char *why = dlerror();
    *error = why ? why : "unknown error";
    /* dlerror names the file first: say it once. */
    const std::string prefix = std::string(library->soname) + ": ";
    if (error->compare(0, prefix.size(), prefix) == 0) error->erase(0, prefix.size());
    return false;
  }
  std::vector<void *> found(static_cast<size_t>(library->count));
  const char *name = library->names;
  for (int i = 0; i < library->count; i++, name += strlen(name) + 1) {
    dlerror();
    found[i] = dlsym(handle, name);
    if (!found[i]) {
      *error = std::string("undefined symbol: ") + name;
      dlclose(handle);
      return false;
    }
  }
  for (int i = 0; i < library->count; i++)
    __atomic_store_n(&library->slots[i], found[i], __ATOMIC_RELEASE);
  library->handle = handle;
  return true;
}

}  // namespace

int loadLazyLibrary(Tcl_Interp *interp, VeskLazyLibrary *library) {
  std::string error;
  bool ok;
  {
    std::lock_guard<std::mutex> lock(loadMutex);
    ok = openLibrary(library, &error);
  }
  if (ok) return TCL_OK;
  if (interp) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "cannot load ", library->soname, ": ", error.c_str(), nullptr);
  }
  return TCL_ERROR;
}

/*
 * requireLibrary --
 *     Loads the libraries of a family unless that happened before; a
 *     command of the family calls it before anything else.
 * Results:      TCL_OK, or TCL_ERROR with the reason in the interpreter.
 */
int requireLibrary(Tcl_Interp *interp, LazyFamily family) {
  if (familyLoaded[family].load(std::memory_order_acquire)) return TCL_OK;
  for (VeskLazyLibrary *const *p = vesk_lazy_libraries; *p; p++)
    if (strcmp((*p)->family, kFamilyNames[family]) == 0 && loadLazyLibrary(interp, *p) != TCL_OK)
      return TCL_ERROR;
  familyLoaded[family].store(true, std::memory_order_release);
  return TCL_OK;
}

}  // namespace vesk

/*
 * vesk_lazy_resolve --
 *     The trampolines' loader, for a call that came before its command's
 *     requireLibrary.  Such a function has no way to report a failure.
 * Side effects: the library is loaded, or the process panics.
 */
extern "C" void vesk_lazy_resolve(VeskLazyLibrary *library) {
  std::string error;
  std::lock_guard<std::mutex> lock(vesk::loadMutex);
  if (!vesk::openLibrary(library, &error))
    Tcl_Panic("cannot load %s: %s", library->soname, error.c_str());
}
