/*
 * imggimg.cpp --
 *     The "gimg" Tk image type: a RAM image shown in any widget that shows
 *     images.  The type record, the master record's creation and deletion,
 *     the instances of the widgets that show it, and the table through
 *     which other code finds a master by name.
 */
#include "display/gimg.h"

#include <string.h>
#include <new>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "display/colortab.h"
#include "raster/roi.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

int gimgCreate(Tcl_Interp *interp, const char *name, int objc, Tcl_Obj *const objv[],
               const Tk_ImageType *typePtr, Tk_ImageMaster masterToken,
               ClientData *clientDataPtr);
ClientData gimgGet(Tk_Window tkwin, ClientData clientData);
void gimgFree(ClientData instanceData, Display *display);
void gimgDelete(ClientData clientData);

Tk_ImageType gimgImageType = {
    "gimg",       gimgCreate, gimgGet, gimgDisplay, gimgFree, gimgDelete,
    nullptr,      /* postscriptProc */
    nullptr,      /* nextPtr */
    nullptr,      /* reserved */
};

/*
 * All masters, in creation order with freed slots reused.  Shared by every
 * interpreter of the process; NULL until Gimg_Init and after exit.
 */
GimgMaster **gimgTable = nullptr;

/* Tk keeps its image types per thread: each thread registers once. */
thread_local int gimgTypeRegistered = 0;

/* Fails a creation: the message goes to errorInfo. */
int gimgCreateFailed(GimgMaster *master, const char *message) {
  if (message) Tcl_AddErrorInfo(master->interp, message);
  gimgDelete(master);
  return TCL_ERROR;
}

/*
 * gimgInstanceCmdDeleted --
 *     Delete procedure of an image's command: deleting the command deletes
 *     the image (Tk then calls gimgDelete).
 */
void gimgInstanceCmdDeleted(ClientData clientData) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  if (!master->master) return;
  Tcl_Interp *interp = master->interp;
  Tcl_Preserve(interp);
  master->instanceCmd = nullptr;
  Tk_DeleteImage(interp, master->name.c_str());
  Tcl_Release(interp);
}

/*
 * gimgDestroy --
 *     Frees a deleted master and everything it holds, once no caller
 *     preserves it any more.
 */
void gimgDestroy(char *block) {
  GimgMaster *master = reinterpret_cast<GimgMaster *>(block);
  removeGimg(master);
  Display *display = master->display;
  Tk_FreeOptions(gimgConfigSpecs, reinterpret_cast<char *>(master), display, 0);
  freeMasterPalette(master);
  if (master->image) closeRAMImage(master->image, &master->imageClient);
  if (master->maskExport) closeRAMImage(master->maskExport, &master->exportClient);
  if (master->maskImage) closeRAMImage(master->maskImage, &master->maskClient);
  master->image = master->maskExport = master->maskImage = nullptr;
  polyFree(master->clipPolygons);
  polyFree(master->framePolygons);
  freeAxisMapArray(&master->xMap);
  freeAxisMapArray(&master->yMap);
  freeViewPixmap(&master->viewPixmap);
  freeViewPixmap(&master->maskPixmap);
  freeViewPixmap(&master->framePixmap);
  freeMaskBitmap(&master->maskBits);
  freeMaskBitmap(&master->frameBits);
  freeMaskBitmap(&master->clipBits);
  freeMaskBitmap(&master->fileMaskBits);
  freeMaskBitmap(&master->valueMaskBits);
  if (master->ximage) XDestroyImage(master->ximage);  /* frees its data as well */
  if (display) {
    if (master->gc) XFreeGC(display, master->gc);
    if (master->bitmapGC) XFreeGC(display, master->bitmapGC);
    if (master->drawGC) XFreeGC(display, master->drawGC);
    if (master->stippleBitmap) Tk_FreeBitmap(display, master->stippleBitmap);
  }
  if (master->viewRegion) XDestroyRegion(master->viewRegion);
  if (master->clipRegion) XDestroyRegion(master->clipRegion);
  if (master->fgColor) Tk_FreeColor(master->fgColor);
  if (master->bgColor) Tk_FreeColor(master->bgColor);
  delete master;
}

/*
 * gimgCreate --
 *     The type's createProc: builds a master, registers it in the table
 *     and applies the creation options.
 * Results:      TCL_OK with the master as client data, or TCL_ERROR with
 *     the half-built master deleted.
 */
int gimgCreate(Tcl_Interp *interp, const char *name, int objc, Tcl_Obj *const objv[],
               const Tk_ImageType *, Tk_ImageMaster masterToken, ClientData *clientDataPtr) {
  GimgMaster *master = new (std::nothrow) GimgMaster;
  if (!master) {
    Tcl_SetResult(interp, const_cast<char *>("Memory allocation error"), TCL_STATIC);
    return TCL_ERROR;
  }
  master->master = masterToken;
  master->interp = interp;
  master->instanceCmd =
      Tcl_CreateCommand(interp, name, gimgInstanceCmd, master, gimgInstanceCmdDeleted);
  master->name = name;
  initImageHeader(&master->header);
  master->header.path[0] = '\0';
  master->header.transparent = -1;

  Tk_Window tkwin = Tk_MainWindow(interp);
  if (!tkwin) return gimgCreateFailed(master, "\nFail to get the main window.");
  master->tkwin = tkwin;
  master->display = Tk_Display(tkwin);
  master->colormap = Tk_Colormap(tkwin);
  master->depth = Tk_Depth(tkwin);
  master->visual = Tk_Visual(tkwin);
  master->header.block = 512;

  master->foreground = Tk_GetUid("#ffffff");
  master->background = Tk_GetUid("#000000");
  master->stipple = Tk_GetUid("None");
  master->bgColor = Tk_GetColor(interp, tkwin, master->background);
  master->fgColor = Tk_GetColor(interp, tkwin, master->foreground);

  initMaskBitmap(&master->maskBits);
  initMaskBitmap(&master->frameBits);
  initMaskBitmap(&master->clipBits);
  initMaskBitmap(&master->fileMaskBits);
  initMaskBitmap(&master->valueMaskBits);
  memset(master->shownValues, 1, sizeof master->shownValues);
  memset(master->maskClasses, 1, sizeof master->maskClasses);
  master->maskClasses[0] = 0;

  master->imageClient.changeProc = imageChangedProc;
  master->imageClient.redrawProc = imageRedrawProc;
  master->imageClient.rectProc = imageRectProc;
  master->imageClient.owner = master;
  master->imageClient.clientData = master;
  master->imageClient.next = nullptr;
  master->maskClient = master->imageClient;
  master->maskClient.changeProc = maskChangedProc;
  master->exportClient = master->maskClient;

  clearAxisMap(&master->xMap);
  clearAxisMap(&master->yMap);
  initViewPixmap(&master->maskPixmap, master->display);
  initViewPixmap(&master->viewPixmap, master->display);
  initViewPixmap(&master->framePixmap, master->display);
  master->header.nindices = 0;
  for (int c = 0; c < 3; c++)
    for (int i = 0; i < 256; i++) master->userLut[c][i] = static_cast<unsigned char>(i);

  int depth = master->depth > 8 && getRgb24Mode() ? 24 : master->depth;
  master->ximage = XCreateImage(master->display, master->visual, depth,
                                depth > 1 ? ZPixmap : XYBitmap, 0, nullptr, 128, 128, 32, 0);

  if (!master->ximage) return gimgCreateFailed(master, "\nFail to allocate ximg.");
  if (!master->fgColor || !master->bgColor)
    return gimgCreateFailed(master, "\nFail to allocate fg/bg color.");
  if (!makeGimgGCs(master)) return gimgCreateFailed(master, "Fail to get GC.\n");
  if (!addGimg(master)) {
    Tcl_SetResult(interp, const_cast<char *>("Fail to add the gimg."), TCL_STATIC);
    return gimgCreateFailed(master, nullptr);
  }

  std::vector<const char *> argv(static_cast<size_t>(objc) + 1, nullptr);
  for (int i = 0; i < objc; i++) argv[i] = Tcl_GetString(objv[i]);
  if (gimgConfigure(master, objc, argv.data(), 0) != TCL_OK)
    return gimgCreateFailed(master, nullptr);
  *clientDataPtr = master;
  return TCL_OK;
}

/* gimgGet -- the type's getProc: a new instance for one widget. */
ClientData gimgGet(Tk_Window tkwin, ClientData clientData) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  GimgInstance *instance = new GimgInstance;
  instance->master = master;
  instance->tkwin = tkwin;
  instance->next = master->instances;
  master->instances = instance;
  master->instanceCount++;
  return instance;
}

/*
 * gimgFree --
 *     The type's freeProc: a widget stops showing the image.  Nothing
 *     while the master is being deleted: its deletion frees the list.
 */
void gimgFree(ClientData instanceData, Display *) {
  GimgInstance *instance = static_cast<GimgInstance *>(instanceData);
  GimgMaster *master = instance->master;
  if (!master || !master->master || !master->instanceCmd) return;
  if (!master->instances) return;
  for (GimgInstance **link = &master->instances; *link; link = &(*link)->next) {
    if (*link == instance) {
      *link = instance->next;
      master->instanceCount--;
      delete instance;
      return;
    }
  }
}

/*
 * gimgDelete --
 *     The type's deleteProc: the image is deleted.  The record goes when
 *     no caller preserves it any more.
 */
void gimgDelete(ClientData clientData) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  if (!master->master) Tcl_Panic("tried to delete a deleted gimg");
  for (GimgInstance *instance = master->instances, *next; instance; instance = next) {
    next = instance->next;
    delete instance;
  }
  master->instances = nullptr;
  master->instanceCount = 0;
  master->master = nullptr;
  if (master->instanceCmd) {
    Tcl_Command command = master->instanceCmd;
    master->instanceCmd = nullptr;
    Tcl_DeleteCommandFromToken(master->interp, command);
  }
  stopAnimation(master);
  Tcl_EventuallyFree(master, gimgDestroy);
}

}  // namespace

/*
 * Gimg_Init --
 *     Registers the image type (once per thread: Tk keeps the types per
 *     thread) and makes the table of masters.
 * Results:      0.
 */
int Gimg_Init(Tcl_Interp *) {
  if (!gimgTypeRegistered) {
    Tk_CreateImageType(&gimgImageType);
    gimgTypeRegistered = 1;
  }
  if (!gimgTable) {
    gimgTable = reinterpret_cast<GimgMaster **>(Tcl_Alloc(kGimgTableSize * sizeof(GimgMaster *)));
    memset(gimgTable, 0, kGimgTableSize * sizeof(GimgMaster *));
  }
  return 0;
}

/* addGimg -- stores a master in the first free slot; 0 when all are taken. */
int addGimg(GimgMaster *master) {
  if (gimgTable) {
    for (int i = 0; i < kGimgTableSize; i++) {
      if (!gimgTable[i]) {
        gimgTable[i] = master;
        return 1;
      }
    }
  }
  vesk_fprintf(stderr, "Fail to add the gimg.\n");
  return 0;
}

/* removeGimg -- clears the slot of a master, if it has one. */
void removeGimg(GimgMaster *master) {
  if (!gimgTable) return;
  for (int i = 0; i < kGimgTableSize; i++) {
    if (gimgTable[i] == master) {
      gimgTable[i] = nullptr;
      return;
    }
  }
}

/* gimgTableSlot -- the master in one slot, NULL for a free slot. */
GimgMaster *gimgTableSlot(int slot) {
  if (!gimgTable || slot < 0 || slot >= kGimgTableSize) return nullptr;
  return gimgTable[slot];
}

/*
 * findGimg --
 *     The first master of an interpreter whose command has the given
 *     name now (a renamed command is found by its new name).
 */
GimgMaster *findGimg(Tcl_Interp *interp, const char *name) {
  if (!gimgTable || !name) return nullptr;
  for (int i = 0; i < kGimgTableSize; i++) {
    GimgMaster *master = gimgTable[i];
    if (!master || master->interp != interp || !master->instanceCmd) continue;
    if (strcmp(Tcl_GetCommandName(interp, master->instanceCmd), name) == 0) return master;
  }
  return nullptr;
}

/*
 * gimgNames --
 *     Appends each image name and a space to the result, in table order.
 *     A name that needs quoting to stay one list element is quoted.
 */
void gimgNames(Tcl_Interp *interp) {
  if (!gimgTable) return;
  for (int i = 0; i < kGimgTableSize; i++) {
    GimgMaster *master = gimgTable[i];
    if (!master) continue;
    int flags = 0;
    int size = Tcl_ScanElement(master->name.c_str(), &flags);
    std::string element(static_cast<size_t>(size) + 1, '\0');
    element.resize(static_cast<size_t>(Tcl_ConvertElement(master->name.c_str(), &element[0], flags)));
    element += ' ';
    Tcl_AppendResult(interp, element.c_str(), nullptr);
  }
}

/*
 * isGimgImage --
 *     The master of the gimg image of that name, or NULL when there is no
 *     such image or its command is not the image's own.
 */
GimgMaster *isGimgImage(Tcl_Interp *interp, const char *name) {
  Tcl_Preserve(interp);
  Tcl_Obj *words[3] = {Tcl_NewStringObj("image", -1), Tcl_NewStringObj("type", -1),
                       Tcl_NewStringObj(name, -1)};
  for (Tcl_Obj *word : words) Tcl_IncrRefCount(word);
  int code = Tcl_EvalObjv(interp, 3, words, TCL_EVAL_GLOBAL);
  for (Tcl_Obj *word : words) Tcl_DecrRefCount(word);
  GimgMaster *master = nullptr;
  Tcl_CmdInfo info;
  if (code == TCL_OK && strcmp(Tcl_GetStringResult(interp), "gimg") == 0 &&
      Tcl_GetCommandInfo(interp, name, &info) && info.proc == gimgInstanceCmd)
    master = static_cast<GimgMaster *>(info.clientData);
  Tcl_Release(interp);
  return master;
}

/*
 * gimgChanged --
 *     Tells Tk that the whole image changed, with its size: the tile size
 *     while tiling, else the view size turned with the rotation.
 */
void gimgChanged(GimgMaster *master) {
  if (!master->master) return;
  int width = master->width, height = master->height;
  if (master->tile) {
    width = master->tw;
    height = master->th;
  } else if (master->mirrorName.empty() && master->rotate != 0) {
    width = master->height;
    height = master->width;
  }
  Tk_ImageChanged(master->master, 0, 0, width, height, width, height);
}

/* gimgUpdate -- tells Tk and makes the next display render the view again. */
int gimgUpdate(GimgMaster *master) {
  gimgChanged(master);
  master->viewValid = 0;
  return 1;
}

/*
 * makeGimgGCs --
 *     (Re)makes the display GC on the main window and the GC of 1-bit
 *     pixmaps, both with the master's colours and no graphics exposures.
 * Results:      1, or 0 when a GC could not be made.
 */
int makeGimgGCs(GimgMaster *master) {
  Tk_MakeWindowExist(master->tkwin);
  XGCValues values;
  values.foreground = master->fgColor->pixel;
  values.background = master->bgColor->pixel;
  values.graphics_exposures = False;
  const unsigned long mask = GCForeground | GCBackground | GCGraphicsExposures;
  GC gc = XCreateGC(master->display, Tk_WindowId(master->tkwin), mask, &values);
  if (!gc) return 0;
  if (master->gc) XFreeGC(master->display, master->gc);
  master->gc = gc;
  Pixmap bitmap = Tk_GetPixmap(master->display, Tk_WindowId(master->tkwin), 8, 8, 1);
  if (!bitmap) return 0;
  GC bitmapGC = XCreateGC(master->display, bitmap, mask, &values);
  Tk_FreePixmap(master->display, bitmap);
  if (!bitmapGC) return 0;
  if (master->bitmapGC) XFreeGC(master->display, master->bitmapGC);
  master->bitmapGC = bitmapGC;
  return 1;
}

/* makeDrawGC -- the GC of the "graph" drawing, made on demand; 0 on failure. */
int makeDrawGC(GimgMaster *master) {
  Tk_MakeWindowExist(master->tkwin);
  XGCValues values;
  values.foreground = master->fgColor->pixel;
  values.background = master->bgColor->pixel;
  values.graphics_exposures = False;
  GC gc = XCreateGC(master->display, Tk_WindowId(master->tkwin),
                    GCForeground | GCBackground | GCGraphicsExposures, &values);
  if (!gc) {
    Tcl_AddErrorInfo(master->interp, "Fail to get drawGC.\n");
    return 0;
  }
  if (master->drawGC) XFreeGC(master->display, master->drawGC);
  master->drawGC = gc;
  return 1;
}

/*
 * deleteAllGimgs --
 *     Exit-time clean-up: deletes every image still in the table, in slot
 *     order, then the table itself.
 */
void deleteAllGimgs() {
  if (!gimgTable) return;
  for (int i = 0; i < kGimgTableSize; i++) {
    GimgMaster *master = gimgTable[i];
    if (!master || !master->master) continue;
    /* Deleting the image deletes its command too (gimgDelete), so no
       command is left behind with a freed master as its client data. */
    Tcl_Interp *interp = master->interp;
    Tcl_Preserve(interp);
    Tk_DeleteImage(interp, master->name.c_str());
    Tcl_Release(interp);
  }
  Tcl_Free(reinterpret_cast<char *>(gimgTable));
  gimgTable = nullptr;
}

}  // namespace vesk
