/*
 * screencapture.cpp --
 *     The "canvas", "clipboard" and "window" subcommands of rimage: a
 *     region of a Tk canvas or a map canvas drawn off-screen, the image
 *     on the clipboard, or a rectangle of the screen, made into a RAM
 *     image (or put on the clipboard); and the geometry of a window.
 */
#include <stdio.h>
#include <string.h>
#include <string>

#include "canvas/gcanvas.h"
#include "display/capture.h"
#include "processing/rimage.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* A whole word as a long integer, with Tcl's message when it is none. */
bool readLong(Tcl_Interp *interp, const char *word, long *value) {
  Tcl_Obj *obj = Tcl_NewStringObj(word, -1);
  Tcl_IncrRefCount(obj);
  const int code = Tcl_GetLongFromObj(interp, obj, value);
  Tcl_DecrRefCount(obj);
  return code == TCL_OK;
}

/*
 * finishCapture --
 *     After a capture into the image of tag: an image that had the tag
 *     before gives back the reference the capture took and tells its
 *     displays (flags); a new one keeps its registration with no user.
 */
void finishCapture(RAMIMG *before, RAMIMG *image, int flags) {
  if (before == image) {
    closeRAMImage(image, nullptr);
    updateClient(image, nullptr, flags);
  } else {
    image->refCount--;
    image->keepCount++;
  }
}

int errorInInfo(Tcl_Interp *interp, const char *message) {
  Tcl_ResetResult(interp);
  Tcl_AddErrorInfo(interp, message);
  return TCL_ERROR;
}

/* The option words of a geometry query, separated by commas, blanks or bars. */
bool windowFlags(const char *words, int *flags) {
  *flags = 0;
  std::string text(words);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of(", |", at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (word == "frame") *flags |= 1;
    else if (word == "rect") *flags |= 2;
    else if (word == "clip") *flags |= 8;
    else if (!word.empty()) return false;
    at = end + 1;
  }
  if (*flags == 0) *flags = 2;
  return true;
}

}  // namespace

/*
 * windowRect --
 *     A window's rectangle: flag 1 the screen rectangle of its toplevel's
 *     frame, flag 2 its size and its position inside the frame (added to
 *     the frame's position when both are asked), flag 8 clipped to the
 *     virtual root.
 * Results:      0, or 1 with the message in errorInfo.
 */
int windowRect(Tcl_Interp *interp, const char *pathName, int *xOut, int *yOut, int *widthOut,
               int *heightOut, int flags) {
  Tk_Window main = Tk_MainWindow(interp);
  Tk_Window tkwin = main ? Tk_NameToWindow(interp, pathName, main) : nullptr;
  if (!tkwin) return errorInInfo(interp, "Invalid window path.\n"), 1;
  Tcl_ResetResult(interp);
  if (!Tk_IsMapped(tkwin) || Tk_WindowId(tkwin) == None)
    return errorInInfo(interp, "Window is not mapped.\n"), 1;
  Display *display = Tk_Display(tkwin);
  int vx, vy, vw, vh;
  Tk_GetVRootGeometry(tkwin, &vx, &vy, &vw, &vh);
  int x = 0, y = 0, width = vw, height = vh;
  Tk_Window top = tkwin;
  while (!Tk_IsTopLevel(top) && Tk_Parent(top)) top = Tk_Parent(top);
  if (flags & 1) {
    if (getToplevelRect(interp, Tk_PathName(top), &x, &y, &width, &height) != TCL_OK)
      return errorInInfo(interp, "Invalid window path.\n"), 1;
  }
  if (flags & 2) {
    Window root = 0;
    int gx, gy;
    unsigned gw, gh, border, depth;
    if (!XGetGeometry(display, Tk_WindowId(tkwin), &root, &gx, &gy, &gw, &gh, &border, &depth))
      return errorInInfo(interp, "Window is not mapped.\n"), 1;
    width = static_cast<int>(gw);
    height = static_cast<int>(gh);
    /* Its position inside the outermost ancestor of the toplevel below the root. */
    Window frame = Tk_WindowId(top);
    for (;;) {
      Window r = 0, parent = 0, *children = nullptr;
      unsigned count = 0;
      if (!XQueryTree(display, frame, &r, &parent, &children, &count)) break;
      if (children) XFree(children);
      if (parent == r || parent == 0) break;
      frame = parent;
    }
    int fx = 0, fy = 0;
    Window child;
    XTranslateCoordinates(display, Tk_WindowId(tkwin), frame, 0, 0, &fx, &fy, &child);
    x += fx;
    y += fy;
  }
  if (flags & 8) {
    if (x < 0) {
      width += x;
      x = 0;
    }
    if (y < 0) {
      height += y;
      y = 0;
    }
    if (x + width > vw) width = vw - x;
    if (y + height > vh) height = vh - y;
    if (width < 0) width = 0;
    if (height < 0) height = 0;
  }
  *xOut = x;
  *yOut = y;
  *widthOut = width;
  *heightOut = height;
  return 0;
}

/* rimage canvas canvasId rimgTag ?x0 y0 width height ?coordType?? */
int rimageCanvas(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4 && argc != 8 && argc != 9) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, argv[0], " ", argv[1],
                     " canvasId rimgTag [x0 y0 width height] [coordType].\n", nullptr);
    return TCL_ERROR;
  }
  CanvasInfo info;
  if (getCanvasInfo(interp, argv[2], &info) != 0) return TCL_ERROR;
  Tcl_ResetResult(interp);
  long x0 = 0, y0 = 0, width = info.width, height = info.height, coordType = 0;
  if (argc >= 8 && (!readLong(interp, argv[4], &x0) || !readLong(interp, argv[5], &y0) ||
                    !readLong(interp, argv[6], &width) || !readLong(interp, argv[7], &height)))
    return TCL_ERROR;
  if (argc == 9 && !readLong(interp, argv[8], &coordType)) return TCL_ERROR;
  if (width <= 0 || height <= 0 || width > 32767 || height > 32767 || x0 < -1000000000L ||
      x0 > 1000000000L || y0 < -1000000000L || y0 > 1000000000L) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Error in create pixmap: width %ld height %ld\n",
                                           width, height));
    return TCL_ERROR;
  }
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  Drawable pixmap = renderCanvasToPixmap(interp, None, 0, 0, &info, static_cast<int>(x0) - 1,
                                         static_cast<int>(y0) - 1, w + 1, h + 1,
                                         static_cast<int>(coordType));
  if (pixmap == None) return TCL_ERROR;
  Tk_Window main = Tk_MainWindow(interp);
  Display *display = Tk_Display(main);
  int code = TCL_OK;
  if (strcmp(argv[3], "clipboard") == 0) {
    copyDrawableToClipboard(display, pixmap, 1, 1, w, h);
    Tcl_SetResult(interp, const_cast<char *>(argv[3]), TCL_VOLATILE);
  } else {
    RAMIMG *before = getRAMImageByTag(argv[3]);
    RAMIMG *image = makeRAMImageFromDrawable(argv[3], display, pixmap, Tk_Colormap(main), 1, 1,
                                             w, h);
    if (!image) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("Error in rimgDrawable...\n", -1));
      code = TCL_ERROR;
    } else {
      finishCapture(before, image, 1);
      Tcl_SetResult(interp, const_cast<char *>(argv[3]), TCL_VOLATILE);
    }
  }
  Tk_FreePixmap(display, pixmap);
  return code;
}

/* rimage clipboard rimgTag ?x y width height?, and the words ?, ~ and palette. */
int rimageClipboard(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Usage: %s %s rimgTag [x y width height]", argv[0],
                                           argv[1]));
    return TCL_OK;
  }
  Tk_Window main = Tk_MainWindow(interp);
  Display *display = Tk_Display(main);
  const char *tag = argv[2];
  int bw = 0, bh = 0;
  const bool haveBitmap = getClipboardBitmapSize(main, &bw, &bh) != 0;
  Tcl_ResetResult(interp);
  if (strcmp(tag, "?") == 0) {
    if (haveBitmap) Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d %d", bw, bh));
    return TCL_OK;
  }
  if (strcmp(tag, "~") == 0) {
    if (haveBitmap) clearLocalClipboard();
    return TCL_OK;
  }
  if (strcmp(tag, "palette") == 0) {
    /* The clipboard holds true-colour pictures: the default colormap answers. */
    Colormap colormap = DefaultColormap(display, DefaultScreen(display));
    Visual *visual = DefaultVisual(display, DefaultScreen(display));
    const int entries = visual->map_entries > 256 ? 256 : visual->map_entries;
    for (int i = 0; i < entries; i++) {
      XColor color;
      color.pixel = static_cast<unsigned long>(i);
      XQueryColor(display, colormap, &color);
      vesk_fprintf(stderr, "i: %d r: %d g: %d b: %d\n", i, color.red >> 8, color.green >> 8,
                   color.blue >> 8);
    }
    return TCL_OK;
  }
  if (!haveBitmap) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Failed to get image from clipboard.\n", -1));
    return TCL_ERROR;
  }
  long region[4] = {0, 0, bw, bh};
  for (int i = 3; i < argc && i < 7; i++)
    if (!readLong(interp, argv[i], &region[i - 3])) return TCL_ERROR;
  const long x = region[0], y = region[1], width = region[2], height = region[3];
  if (x < 0 || y < 0 || width <= 0 || height <= 0 || x + width > bw || y + height > bh) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Invalid bitmap range", -1));
    return TCL_ERROR;
  }
  int pw = 0, ph = 0;
  Pixmap pixmap = makePixmapFromClipboard(main, &pw, &ph);
  if (pixmap == None) {
    vesk_fprintf(stderr, "Error in copyClipboard\n");
    return TCL_ERROR;
  }
  int code = TCL_OK;
  const int ix = static_cast<int>(x), iy = static_cast<int>(y);
  const int iw = static_cast<int>(width), ih = static_cast<int>(height);
  if (strcmp(tag, "clipboard") == 0) {
    if (!copyDrawableToClipboard(display, pixmap, ix, iy, iw, ih)) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("error in get pixmap.\n", -1));
      code = TCL_ERROR;
    } else {
      Tcl_SetResult(interp, const_cast<char *>(tag), TCL_VOLATILE);
    }
  } else {
    RAMIMG *before = getRAMImageByTag(tag);
    RAMIMG *image = makeRAMImageFromDrawable(tag, display, pixmap, Tk_Colormap(main), ix, iy,
                                             iw, ih);
    if (!image) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("Error in rimgDrawable...\n", -1));
      code = TCL_ERROR;
    } else {
      finishCapture(before, image, 3);
      Tcl_SetResult(interp, const_cast<char *>(tag), TCL_VOLATILE);
    }
  }
  Tk_FreePixmap(display, pixmap);
  return code;
}

/* rimage window imgID ?x0 y0 width height|window?, and rimage window winID ?option? */
int rimageWindow(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], " imgID [x0 y0 width height]",
                     nullptr);
    return TCL_ERROR;
  }
  Tk_Window main = Tk_MainWindow(interp);
  Display *display = Tk_Display(main);
  const char *tag = argv[2];
  if (tag[0] == '.' && Tk_NameToWindow(interp, tag, main)) {
    int flags = 2;
    if (argc == 4 && !windowFlags(argv[3], &flags)) return errorInInfo(interp, "Invalide option.\n");
    int x, y, width, height;
    if (windowRect(interp, tag, &x, &y, &width, &height, flags) != 0) return TCL_ERROR;
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d %d %d %d", x, y, width, height));
    return TCL_OK;
  }
  Tcl_ResetResult(interp);
  RAMIMG *before = getRAMImageByTag(tag);
  if (before && before->fd >= 0) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("rimage must be memory resident", -1));
    return TCL_ERROR;
  }
  if (before && (before->attr & kRamImageLocked)) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("can't update a system rimage", -1));
    return TCL_ERROR;
  }
  int vx, vy, vw, vh;
  Tk_GetVRootGeometry(main, &vx, &vy, &vw, &vh);
  int x = 0, y = 0, width = vw, height = vh;
  if (argc == 4) {
    if (argv[3][0] == '.' && Tk_NameToWindow(interp, argv[3], main)) {
      if (windowRect(interp, argv[3], &x, &y, &width, &height, 1 | 2 | 8) != 0) return TCL_ERROR;
    } else {
      Tcl_ResetResult(interp);
      char extra;
      if (sscanf(argv[3], "%d %d %d %d %c", &x, &y, &width, &height, &extra) != 4) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("Invalid region.", -1));
        return TCL_ERROR;
      }
    }
  }
  if (x < 0 || y < 0 || width <= 0 || height <= 0 || width > vw - x || height > vh - y) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Window is out of limits.\n", -1));
    return TCL_ERROR;
  }
  Window root = RootWindowOfScreen(Tk_Screen(main));
  if (strcmp(tag, "clipboard") == 0) {
    if (!copyDrawableToClipboard(display, root, x, y, width, height))
      return errorInInfo(interp, "error in get pixmap.\n");
    Tcl_SetResult(interp, const_cast<char *>(tag), TCL_VOLATILE);
    return TCL_OK;
  }
  RAMIMG *image = makeRAMImageFromDrawable(tag, display, root, Tk_Colormap(main), x, y, width,
                                           height);
  if (!image) return errorInInfo(interp, "Error in rimgDrawable...\n");
  finishCapture(before, image, 3);
  Tcl_SetResult(interp, const_cast<char *>(tag), TCL_VOLATILE);
  return TCL_OK;
}

}  // namespace vesk
