/*
 * glw.cpp --
 *     GL views: OpenGL contexts on GLX bound to a Tk window the view makes
 *     (class "GLW"), to an existing Tk window it adopts (a canvas gets its
 *     items drawn over the GL picture), or to a "glw" image drawn offscreen
 *     in a GLX pixmap.  The "glw" command, the per-view commands, the idle
 *     redraw through the "display" script and the package entry Glw_Init.
 */
#include "gl/ogl.h"

#include <tkInt.h>
#include <tkCanvas.h>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "core/lazylib.h"
#include "core/text.h"

namespace vesk {

namespace {

GlwView *currentView = nullptr;
GlwView *madeCurrentView = nullptr;

Tk_ConfigSpec kOptionSpecs[] = {
    {TK_CONFIG_PIXELS, "-height", "height", "Height", "256", offsetof(GlwOptions, height), 0, nullptr},
    {TK_CONFIG_PIXELS, "-width", "width", "Width", "256", offsetof(GlwOptions, width), 0, nullptr},
    {TK_CONFIG_PIXELS, "-x", "x", "X", "0", offsetof(GlwOptions, x), 0, nullptr},
    {TK_CONFIG_PIXELS, "-y", "y", "Y", "0", offsetof(GlwOptions, y), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-dbuffer", "dbuffer", "DBuffer", "1", offsetof(GlwOptions, dbuffer), 0, nullptr},
    {TK_CONFIG_INT, "-depth", "depth", "Depth", "32", offsetof(GlwOptions, depth), 0, nullptr},
    {TK_CONFIG_INT, "-stencil", "stencil", "Stencil", "0", offsetof(GlwOptions, stencil), 0, nullptr},
    {TK_CONFIG_INT, "-alpha", "alpha", "Alpha", "0", offsetof(GlwOptions, alpha), 0, nullptr},
    {TK_CONFIG_INT, "-accum", "accum", "Accum", "0", offsetof(GlwOptions, accum), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-aspect", "aspect", "Aspect", "0", offsetof(GlwOptions, aspect), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr}};

/* X errors trapped during a GLX step. */
struct XTrap {
  Tk_ErrorHandler handler;
  Display *display;
  int code = 0;
  static int proc(ClientData data, XErrorEvent *event) {
    XTrap *trap = (XTrap *)data;
    if (!trap->code) trap->code = event->error_code;
    return 0;
  }
  explicit XTrap(Display *d) : display(d) { handler = Tk_CreateErrorHandler(d, -1, -1, -1, proc, this); }
  ~XTrap() { Tk_DeleteErrorHandler(handler); }
  int sync() {
    XSync(display, False);
    return code;
  }
  std::string text() {
    if (!code) return "no X error";
    char buf[256];
    XGetErrorText(display, code, buf, sizeof buf);
    return buf;
  }
};

void stepFailed(const char *step, const std::string &why) {
  fprintf(stderr, "Error in %s: %s\n", step, why.c_str());
  fflush(stderr);
}

void eventProc(ClientData data, XEvent *event);
void redrawIdle(ClientData data);
void viewFree(char *data);

}  // namespace


GlwView *glwCurrentView() { return currentView; }

void glwMakeCurrent(GlwView *view) {
  if (!view || view == madeCurrentView || !view->context) return;
  glXMakeContextCurrent(view->display, view->glxDrawable, view->glxDrawable, view->context);
  madeCurrentView = view;
}

/*
 * Chooses a frame-buffer configuration renderable by X whose visual has the
 * wanted depth (0: any), with the view's buffer sizes where they exist.
 */
static GLXFBConfig chooseConfig(GlwView *view, bool window, int wantDepth, XVisualInfo **visualOut,
                                std::string &why) {
  Display *d = view->display;
  int screen = Tk_ScreenNumber(view->tkwin);
  for (int relax = 0; relax < 2; relax++) {
    auto size = [&](int v) { return relax && v > 0 ? 1 : (v > 0 ? v : 0); };
    int attr[40], n = 0;
    attr[n++] = GLX_X_RENDERABLE; attr[n++] = True;
    attr[n++] = GLX_DRAWABLE_TYPE; attr[n++] = window ? GLX_WINDOW_BIT : GLX_PIXMAP_BIT;
    attr[n++] = GLX_RENDER_TYPE; attr[n++] = GLX_RGBA_BIT;
    attr[n++] = GLX_RED_SIZE; attr[n++] = 1;
    attr[n++] = GLX_GREEN_SIZE; attr[n++] = 1;
    attr[n++] = GLX_BLUE_SIZE; attr[n++] = 1;
    attr[n++] = GLX_DEPTH_SIZE; attr[n++] = size(view->o.depth);
    attr[n++] = GLX_STENCIL_SIZE; attr[n++] = size(view->o.stencil);
    attr[n++] = GLX_ALPHA_SIZE; attr[n++] = size(view->o.alpha);
    attr[n++] = GLX_ACCUM_RED_SIZE; attr[n++] = size(view->o.accum);
    attr[n++] = GLX_ACCUM_GREEN_SIZE; attr[n++] = size(view->o.accum);
    attr[n++] = GLX_ACCUM_BLUE_SIZE; attr[n++] = size(view->o.accum);
    attr[n++] = GLX_DOUBLEBUFFER; attr[n++] = window && view->o.dbuffer ? True : (window ? GLX_DONT_CARE : False);
    attr[n++] = None;
    int count = 0;
    XTrap trap(d);
    GLXFBConfig *configs = glXChooseFBConfig(d, screen, attr, &count);
    trap.sync();
    for (int i = 0; configs && i < count; i++) {
      XVisualInfo *vi = glXGetVisualFromFBConfig(d, configs[i]);
      if (!vi) continue;
      if (wantDepth && vi->depth != wantDepth) {
        XFree(vi);
        continue;
      }
      GLXFBConfig chosen = configs[i];
      XFree(configs);
      *visualOut = vi;
      return chosen;
    }
    if (configs) XFree(configs);
    why = trap.code ? trap.text() : "no RGBA configuration with a visual of the window's depth";
  }
  return nullptr;
}

/* Pixel format and context on the view's drawable; false when a step failed
 * (the step was printed). */
static bool setupContext(GlwView *view, bool window) {
  Display *d = view->display;
  std::string why;
  XVisualInfo *vi = nullptr;
  if (!view->fbconfig) {
    int wantDepth = window ? 0 : Tk_Depth(view->tkwin);
    view->fbconfig = chooseConfig(view, window, wantDepth, &vi, why);
    if (!view->fbconfig) {
      stepFailed("glXChooseFBConfig", why);
      return false;
    }
    XFree(vi);
  }
  XTrap trap(d);
  if (window) {
    view->glxDrawable = glXCreateWindow(d, view->fbconfig, Tk_WindowId(view->tkwin), nullptr);
    view->glxWindow = true;
  } else {
    view->glxDrawable = glXCreatePixmap(d, view->fbconfig, view->pixmap, nullptr);
  }
  if (trap.sync() || !view->glxDrawable) {
    stepFailed(window ? "glXCreateWindow" : "glXCreatePixmap", trap.text());
    view->glxDrawable = None;
    return false;
  }
  view->context = glXCreateNewContext(d, view->fbconfig, GLX_RGBA_TYPE, nullptr, True);
  if (trap.sync() || !view->context) {
    stepFailed("glXCreateNewContext", trap.text());
    view->context = nullptr;
    return false;
  }
  if (!glXMakeContextCurrent(d, view->glxDrawable, view->glxDrawable, view->context) || trap.sync()) {
    stepFailed("glXMakeContextCurrent", trap.text());
    return false;
  }
  madeCurrentView = view;
  int value = 0;
  glXGetFBConfigAttrib(d, view->fbconfig, GLX_DEPTH_SIZE, &value);
  view->o.depth = value;
  glXGetFBConfigAttrib(d, view->fbconfig, GLX_STENCIL_SIZE, &value);
  view->o.stencil = value;
  glXGetFBConfigAttrib(d, view->fbconfig, GLX_ALPHA_SIZE, &value);
  view->o.alpha = value;
  glXGetFBConfigAttrib(d, view->fbconfig, GLX_ACCUM_RED_SIZE, &value);
  view->o.accum = value;
  glXGetFBConfigAttrib(d, view->fbconfig, GLX_DOUBLEBUFFER, &value);
  view->o.dbuffer = window ? value : 1;
  glViewport(view->o.x, view->o.y, view->o.width, view->o.height);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glFinish();
  if (currentView && currentView != view) glwMakeCurrent(currentView);
  return true;
}

/*
 * makePixmap --
 *     A new offscreen pixmap (and GLX pixmap) of the view's size, black.
 *     X errors are trapped: the server may refuse a pixmap it cannot hold,
 *     and Xlib's default handler would end the process.
 * Results:      true; false with the reason in *why, the old pixmap kept.
 */
static bool makePixmap(GlwView *view, std::string *why = nullptr) {
  std::string unused;
  if (!why) why = &unused;
  int w = view->o.width > 0 ? view->o.width : 1, h = view->o.height > 0 ? view->o.height : 1;
  Pixmap old = view->pixmap;
  GLXDrawable oldGlx = view->glxDrawable;
  Tk_Window win = view->kind == 3 ? Tk_MainWindow(view->interp) : view->tkwin;
  XTrap trap(view->display);
  Pixmap fresh = Tk_GetPixmap(view->display, Tk_WindowId(win), w, h, Tk_Depth(win));
  XSetForeground(view->display, view->gc, BlackPixelOfScreen(Tk_Screen(win)));
  XFillRectangle(view->display, fresh, view->gc, 0, 0, w, h);
  if (trap.sync()) {
    *why = "X refused a " + std::to_string(w) + " x " + std::to_string(h) + " pixmap: " + trap.text();
    stepFailed("XCreatePixmap", trap.text());
    trap.code = 0;
    if (fresh) Tk_FreePixmap(view->display, fresh);
    trap.sync();
    return false;
  }
  view->pixmap = fresh;
  if (view->context) {
    view->glxDrawable = glXCreatePixmap(view->display, view->fbconfig, view->pixmap, nullptr);
    if (trap.sync() || !view->glxDrawable) {
      *why = "glXCreatePixmap: " + trap.text();
      stepFailed("glXCreatePixmap", trap.text());
      Tk_FreePixmap(view->display, fresh);
      view->pixmap = old;
      view->glxDrawable = oldGlx;
      return false;
    }
    if (madeCurrentView == view) madeCurrentView = nullptr;
    glwMakeCurrent(view);
    if (oldGlx) glXDestroyPixmap(view->display, oldGlx);
  }
  if (old) Tk_FreePixmap(view->display, old);
  return true;
}

static void evalScriptObject(GlwView *view, const char *name) {
  const char *script = currentView ? (const char *)oglDataPointer(name, kGlText, 1) : nullptr;
  if (!script) return;
  std::string copy(script); /* the script may replace its own object */
  Tcl_Interp *interp = view->interp;
  Tcl_Preserve(interp);
  Tcl_Obj *saved = Tcl_GetObjResult(interp);
  Tcl_IncrRefCount(saved);
  Tcl_EvalEx(interp, copy.c_str(), -1, TCL_EVAL_GLOBAL);
  Tcl_SetObjResult(interp, saved);
  Tcl_DecrRefCount(saved);
  Tcl_Release(interp);
}

static void scheduleRedraw(GlwView *view) {
  if (view->redrawPending || !view->tkwin) return;
  view->redrawPending = 1;
  Tcl_DoWhenIdle(redrawIdle, view);
}

static bool resizeView(GlwView *view, std::string *why = nullptr) {
  if (!view->context || !view->tkwin) return true;
  bool changed = false;
  if (view->kind != 3) {
    int w = Tk_Width(view->tkwin), h = Tk_Height(view->tkwin);
    changed = w != view->o.width || h != view->o.height;
    view->o.width = w;
    view->o.height = h;
  }
  if (view->pixmap && (view->kind == 3 || changed) && !makePixmap(view, why)) return false;
  glwMakeCurrent(view);
  int w = view->o.width, h = view->o.height;
  if (view->o.aspect > 0) w = roundToInt(view->o.aspect * view->o.width);
  else if (view->o.aspect < 0) h = roundToInt(-view->o.aspect * view->o.height);
  glViewport(view->o.x, view->o.y, w, h);
  Tcl_Preserve(view);
  evalScriptObject(view, "viewport");
  if (view->tkwin) {
    glwMakeCurrent(currentView);
    if (view->kind == 3)
      Tk_ImageChanged(view->master, 0, 0, view->o.width, view->o.height, view->o.width, view->o.height);
  }
  Tcl_Release(view);
  return true;
}

/* Draws an adopted canvas's items over the GL picture in the pixmap. */
static void drawCanvasItems(GlwView *view) {
  TkCanvas *canvas = (TkCanvas *)view->canvas;
  int w = view->o.width, h = view->o.height;
  int oldX = canvas->drawableXOrigin, oldY = canvas->drawableYOrigin;
  canvas->drawableXOrigin = 0;
  canvas->drawableYOrigin = 0;
  for (Tk_Item *item = canvas->firstItemPtr; item; item = item->nextPtr) {
    if (item->x1 >= w || item->x2 <= 0 || item->y1 >= h || item->y2 <= 0) continue;
    if (item->state == TK_STATE_HIDDEN) continue;
    item->typePtr->displayProc((Tk_Canvas)canvas, item, view->display, view->pixmap, 0, 0, w, h);
  }
  canvas->drawableXOrigin = oldX;
  canvas->drawableYOrigin = oldY;
}

static void redraw(GlwView *view) {
  if (!view->tkwin || !view->context) {
    view->redrawPending = 0;
    return;
  }
  if (view->kind != 3 && ((((TkWindow *)view->tkwin)->flags & TK_ALREADY_DEAD) || !Tk_IsMapped(view->tkwin))) {
    view->redrawPending = 0;
    return;
  }
  glwMakeCurrent(view);
  Tcl_Preserve(view);
  evalScriptObject(view, "display");
  if (!view->tkwin) {
    Tcl_Release(view);
    return;
  }
  glwMakeCurrent(view);
  glFlush();
  if (view->kind == 1 && view->o.dbuffer) glXSwapBuffers(view->display, view->glxDrawable);
  if (view->pixmap) {
    glFinish();
    glXWaitGL();
  }
  glwMakeCurrent(currentView);
  if (view->kind == 3) {
    Tk_ImageChanged(view->master, 0, 0, view->o.width, view->o.height, view->o.width, view->o.height);
  } else if (view->pixmap) {
    if (view->canvas) drawCanvasItems(view);
    XCopyArea(view->display, view->pixmap, Tk_WindowId(view->tkwin), view->gc, 0, 0, view->o.width,
              view->o.height, 0, 0);
  }
  view->redrawPending = 0;
  Tcl_Release(view);
}

namespace {

void redrawIdle(ClientData data) { redraw((GlwView *)data); }

void eventProc(ClientData data, XEvent *event) {
  GlwView *view = (GlwView *)data;
  switch (event->type) {
    case Expose: scheduleRedraw(view); break;
    case ConfigureNotify: resizeView(view); break;
    case DestroyNotify: glwReleaseView(view); break;
    default: break;
  }
}

}  // namespace

/* Unregisters a view and frees it when no caller holds it any more. */
void glwReleaseView(GlwView *view) {
  if (!view->tkwin) return;
  if (view->kind == 2) Tk_DeleteEventHandler(view->tkwin, ExposureMask | StructureNotifyMask, eventProc, view);
  view->tkwin = nullptr;
  if (view->command) {
    Tcl_Command command = view->command;
    view->command = nullptr;
    Tcl_DeleteCommandFromToken(view->interp, command);
  }
  if (view->viewTable) {
    Tcl_HashEntry *entry = Tcl_FindHashEntry(view->viewTable, view->name.c_str());
    if (entry && Tcl_GetHashValue(entry) == view) Tcl_DeleteHashEntry(entry);
  }
  if (view->redrawPending) Tcl_CancelIdleCall(redrawIdle, view);
  view->redrawPending = 0;
  Tcl_EventuallyFree(view, viewFree);
}

namespace {

void viewFree(char *data) {
  GlwView *view = (GlwView *)data;
  if (!view->display) return;
  Display *d = view->display;
  XTrap trap(d); /* a created window may be gone from the server already */
  if (view->context) {
    GlwView *keep = currentView == view ? nullptr : currentView;
    if (madeCurrentView != view) glXMakeContextCurrent(d, view->glxDrawable, view->glxDrawable, view->context);
    oglFreeAll(view);
    glXMakeContextCurrent(d, None, None, nullptr);
    madeCurrentView = nullptr;
    glXDestroyContext(d, view->context);
    if (keep) glwMakeCurrent(keep);
  } else {
    oglFreeAll(view);
  }
  if (view->glxDrawable) {
    if (view->glxWindow) glXDestroyWindow(d, view->glxDrawable);
    else glXDestroyPixmap(d, view->glxDrawable);
  }
  if (view->pixmap) Tk_FreePixmap(d, view->pixmap);
  if (view->gc) Tk_FreeGC(d, view->gc);
  if (view->colormap) XFreeColormap(d, view->colormap);
  if (madeCurrentView == view) madeCurrentView = nullptr;
  if (currentView == view) currentView = nullptr;
  Tk_FreeOptions(kOptionSpecs, (char *)&view->o, d, 0);
  while (view->instances) glwFreeInstanceList(view);
  trap.sync();
  view->display = nullptr;
  delete view;
}

}  // namespace

/* The largest side of an X drawable: the protocol carries sizes in 16 bits. */
constexpr int kMaxViewSide = 32767;

static int configureView(Tcl_Interp *interp, GlwView *view, int argc, const char **argv, int flags) {
  Tk_Window win = view->kind == 3 ? Tk_MainWindow(interp) : view->tkwin;
  int oldW = view->o.width, oldH = view->o.height;
  if (Tk_ConfigureWidget(interp, win, kOptionSpecs, argc, argv, (char *)&view->o, flags) != TCL_OK)
    return TCL_ERROR;
  if (view->o.width > kMaxViewSide || view->o.height > kMaxViewSide) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Invalid view size: %d x %d (at most %d a side)",
                                           view->o.width, view->o.height, kMaxViewSide));
    view->o.width = oldW;
    view->o.height = oldH;
    return TCL_ERROR;
  }
  if (view->o.width < 1) view->o.width = 1;
  if (view->o.height < 1) view->o.height = 1;
  if (view->kind != 3 && (view->o.width != oldW || view->o.height != oldH))
    Tk_GeometryRequest(view->tkwin, view->o.width, view->o.height);
  return TCL_OK;
}

static void setCurrent(Tcl_Interp *interp, GlwView *view) {
  Tcl_ResetResult(interp);
  if (currentView && currentView->interp == interp && currentView->command)
    Tcl_SetResult(interp, (char *)currentView->name.c_str(), TCL_VOLATILE);
  currentView = view;
  glwMakeCurrent(view);
}

static int viewCommand(ClientData data, Tcl_Interp *interp, int argc, const char **argv) {
  GlwView *view = (GlwView *)data;
  if (argc < 2) {
    Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " option ?arg arg ...?\"", (char *)nullptr);
    return TCL_ERROR;
  }
  size_t length = strlen(argv[1]);
  int oldW = view->o.width, oldH = view->o.height;
  int code = TCL_OK;
  Tcl_Preserve(view);
  Tk_Window win = view->kind == 3 ? Tk_MainWindow(interp) : view->tkwin;
  if (length >= 2 && strncmp(argv[1], "configure", length) == 0) {
    if (argc == 2) code = Tk_ConfigureInfo(interp, win, kOptionSpecs, (char *)&view->o, nullptr, 0);
    else if (argc == 3) code = Tk_ConfigureInfo(interp, win, kOptionSpecs, (char *)&view->o, argv[2], 0);
    else code = configureView(interp, view, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
  } else if (length >= 2 && strncmp(argv[1], "cget", length) == 0) {
    if (argc != 3) {
      Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " cget option\"", (char *)nullptr);
      code = TCL_ERROR;
    } else {
      code = Tk_ConfigureValue(interp, win, kOptionSpecs, (char *)&view->o, argv[2], 0);
    }
  } else if (length >= 2 && strncmp(argv[1], "current", length) == 0) {
    if (argc == 2) {
      setCurrent(interp, view);
    } else if (argc == 3 && strcmp(argv[2], "?") == 0) {
      Tcl_SetResult(interp, (char *)(currentView == view ? "1" : "0"), TCL_STATIC);
    } else {
      Tcl_SetResult(interp, (char *)"syntax error", TCL_STATIC);
      code = TCL_ERROR;
    }
  } else if (length >= 1 && strncmp(argv[1], "draw", length) == 0) {
    scheduleRedraw(view);
  } else {
    Tcl_AppendResult(interp, "unknown command: ", argv[1], (char *)nullptr);
    code = TCL_ERROR;
  }
  if (view->kind == 3 && view->tkwin && (view->o.width != oldW || view->o.height != oldH)) {
    std::string why;
    if (!resizeView(view, &why)) {
      view->o.width = oldW;
      view->o.height = oldH;
      Tcl_SetObjResult(interp, Tcl_NewStringObj(why.c_str(), -1));
      code = TCL_ERROR;
    }
    scheduleRedraw(view);
  }
  Tcl_Release(view);
  return code;
}

static void viewCommandDeleted(ClientData data) {
  GlwView *view = (GlwView *)data;
  if (!view->command) return; /* deleted by the release */
  view->command = nullptr;
  if (view->kind == 1 && view->tkwin && !(((TkWindow *)view->tkwin)->flags & TK_ALREADY_DEAD))
    Tk_DestroyWindow(view->tkwin);
  else if (view->kind == 3 && view->master)
    ; /* the image master keeps the view until the image goes */
  else
    glwReleaseView(view);
}

static void registerView(Tcl_HashTable *table, const std::string &name, GlwView *view) {
  int isNew = 0;
  Tcl_HashEntry *entry = Tcl_CreateHashEntry(table, name.c_str(), &isNew);
  Tcl_SetHashValue(entry, view);
  view->viewTable = table;
  view->name = name;
}

static GlwView *findView(Tcl_HashTable *table, const char *name) {
  Tcl_HashEntry *entry = Tcl_FindHashEntry(table, name);
  return entry ? (GlwView *)Tcl_GetHashValue(entry) : nullptr;
}

/* glw pathName ?option value ...?: a view on a new or an existing window. */
static int makeWindowView(Tcl_Interp *interp, Tcl_HashTable *table, int argc, const char **argv) {
  const char *path = argv[1];
  Tk_Window main = Tk_MainWindow(interp);
  Tk_Window tkwin = Tk_NameToWindow(interp, path, main);
  int kind = 2;
  if (tkwin) {
    if (findView(table, path)) return oglErrorInfo(interp, "glw window already exist");
  } else {
    Tcl_ResetResult(interp);
    tkwin = Tk_CreateWindowFromPath(interp, main, path, nullptr);
    if (!tkwin) return oglErrorInfo(interp, "Error in creating window");
    kind = 1;
  }
  GlwView *view = new GlwView;
  view->kind = kind;
  view->tkwin = tkwin;
  view->display = Tk_Display(tkwin);
  view->interp = interp;
  view->name = path;
  memset(&view->o, 0, sizeof view->o);
  Tk_CreateEventHandler(tkwin, ExposureMask | StructureNotifyMask, eventProc, view);
  auto fail = [&]() {
    if (kind == 1) {
      Tk_DestroyWindow(tkwin); /* DestroyNotify releases the view */
    } else {
      glwReleaseView(view);
    }
    return TCL_ERROR;
  };
  if (kind == 1) {
    Tk_SetClass(tkwin, "GLW");
    view->command = Tcl_CreateCommand(interp, path, viewCommand, view, viewCommandDeleted);
  }
  if (configureView(interp, view, argc - 2, argv + 2, 0) != TCL_OK) return fail();
  if (kind == 1) {
    std::string why;
    XVisualInfo *vi = nullptr;
    view->fbconfig = chooseConfig(view, true, 0, &vi, why);
    if (!view->fbconfig) {
      stepFailed("glXChooseFBConfig", why);
      return fail();
    }
    view->colormap = XCreateColormap(view->display, RootWindowOfScreen(Tk_Screen(tkwin)), vi->visual, AllocNone);
    Tk_SetWindowVisual(tkwin, vi->visual, vi->depth, view->colormap);
    XFree(vi);
  }
  Tk_MakeWindowExist(tkwin);
  if (kind == 2 && strcmp(Tk_Class(tkwin), "Canvas") == 0) view->canvas = getCommandClientData(interp, path);
  view->drawable = Tk_WindowId(tkwin);
  view->gc = Tk_GetGC(tkwin, 0, nullptr);
  if (kind == 2) {
    std::string why;
    if (!makePixmap(view, &why)) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj(why.c_str(), -1));
      return fail();
    }
    view->drawable = view->pixmap;
  }
  Tcl_ResetResult(interp);
  if (!setupContext(view, kind == 1)) return fail();
  registerView(table, path, view);
  Tcl_SetResult(interp, (char *)path, TCL_VOLATILE);
  return TCL_OK;
}

static bool matches(const char *word, const char *full, size_t minimum) {
  size_t n = strlen(word);
  return n >= minimum && strncmp(word, full, n) == 0;
}

static int glwCommand(ClientData data, Tcl_Interp *interp, int argc, const char **argv) {
  Tcl_HashTable *table = (Tcl_HashTable *)data;
  if (argc < 2) {
    Tcl_AppendResult(interp, "wrong # args:  should be \"", argv[0],
                     " pathName|current|delete|draw|exists|list ?options?\"", (char *)nullptr);
    return TCL_ERROR;
  }
  if (requireLibrary(interp, kLazyGl) != TCL_OK) return TCL_ERROR;
  const char *sub = argv[1];
  switch (sub[0]) {
    case 'c':
      if (!matches(sub, "current", 2)) return TCL_ERROR;
      if (argc == 2) {
        if (currentView && currentView->command) Tcl_SetResult(interp, (char *)currentView->name.c_str(), TCL_VOLATILE);
        return TCL_OK;
      }
      if (argc > 4) {
        Tcl_SetResult(interp, (char *)"Usage: glw current glwPath ?option?", TCL_STATIC);
        return TCL_ERROR;
      }
      if (!argv[2][0]) return TCL_OK;
      {
        GlwView *view = findView(table, argv[2]);
        if (!view) return oglErrorInfo(interp, "Invalid glw pathname.");
        if (argc == 4) {
          if (strcmp(argv[3], "?") == 0) {
            Tcl_SetResult(interp, (char *)(currentView == view ? "1" : "0"), TCL_STATIC);
            return TCL_OK;
          }
          if (atol(argv[3]) == 0) {
            if (currentView == view) currentView = nullptr;
            return TCL_OK;
          }
        }
        setCurrent(interp, view);
      }
      return TCL_OK;
    case 'd':
      if (matches(sub, "draw", 3)) {
        GlwView *view = argc > 2 ? findView(table, argv[2]) : currentView;
        if (view) scheduleRedraw(view);
        return TCL_OK;
      }
      if (matches(sub, "delete", 3)) {
        if (argc != 3) return TCL_ERROR;
        GlwView *view = findView(table, argv[2]);
        if (!view) return TCL_ERROR;
        if (view->kind == 1) {
          Tk_DestroyWindow(view->tkwin);
        } else if (view->kind == 2) {
          glwReleaseView(view);
        } else {
          std::string script = "image delete " + view->name;
          return Tcl_EvalEx(interp, script.c_str(), -1, 0);
        }
        return TCL_OK;
      }
      return TCL_ERROR;
    case 'e':
      if (!matches(sub, "exists", 3) || argc != 3) return TCL_ERROR;
      Tcl_SetResult(interp, (char *)(findView(table, argv[2]) ? "1" : "0"), TCL_STATIC);
      return TCL_OK;
    case 'l': {
      if (!matches(sub, "list", 3)) return TCL_ERROR;
      Tcl_HashSearch search;
      for (Tcl_HashEntry *e = Tcl_FirstHashEntry(table, &search); e; e = Tcl_NextHashEntry(&search))
        Tcl_AppendElement(interp, (const char *)Tcl_GetHashKey(table, e));
      return TCL_OK;
    }
    default: return makeWindowView(interp, table, argc, argv);
  }
}

static void glwCommandDeleted(ClientData data) {
  Tcl_HashTable *table = (Tcl_HashTable *)data;
  Display *d = madeCurrentView ? madeCurrentView->display : nullptr;
  if (d) glXMakeContextCurrent(d, None, None, nullptr);
  madeCurrentView = nullptr;
  Tcl_HashSearch search;
  std::vector<GlwView *> views;
  for (Tcl_HashEntry *e = Tcl_FirstHashEntry(table, &search); e; e = Tcl_NextHashEntry(&search))
    views.push_back((GlwView *)Tcl_GetHashValue(e));
  Tcl_DeleteHashTable(table);
  delete table;
  for (GlwView *view : views) {
    view->viewTable = nullptr;
    if (view->kind == 3) {
      /* The image keeps its view until Tk deletes the image. */
      continue;
    }
    if (view->redrawPending) Tcl_CancelIdleCall(redrawIdle, view);
    view->redrawPending = 0;
    if (view->tkwin) Tk_DeleteEventHandler(view->tkwin, ExposureMask | StructureNotifyMask, eventProc, view);
    view->tkwin = nullptr;
    if (view->command) {
      Tcl_Command c = view->command;
      view->command = nullptr;
      Tcl_DeleteCommandFromToken(view->interp, c);
    }
    viewFree((char *)view);
  }
}

/* ---- the image type ---- */

struct GlwImageInstance {
  Tk_Window tkwin;
  GlwView *view;
  GlwImageInstance *next;
  bool released; /* freed by Tk; unlinked at idle time */
};

/* Unlinks the instances that Tk released. */
static void purgeInstances(ClientData data) {
  GlwView *view = (GlwView *)data;
  for (GlwImageInstance **p = &view->instances; *p;) {
    if ((*p)->released) {
      GlwImageInstance *gone = *p;
      *p = gone->next;
      delete gone;
    } else {
      p = &(*p)->next;
    }
  }
}

void glwFreeInstanceList(GlwView *view) {
  GlwImageInstance *inst = view->instances;
  view->instances = inst->next;
  delete inst;
}

static int imageCreate(Tcl_Interp *interp, const char *name, int objc, Tcl_Obj *const objv[],
                       const Tk_ImageType *, Tk_ImageMaster master, ClientData *clientData) {
  Tcl_HashTable *table = (Tcl_HashTable *)getCommandClientData(interp, "glw");
  if (!table) {
    Tcl_SetResult(interp, (char *)"glw is not available", TCL_STATIC);
    return TCL_ERROR;
  }
  if (requireLibrary(interp, kLazyGl) != TCL_OK) return TCL_ERROR;
  Tk_Window main = Tk_MainWindow(interp);
  Tk_MakeWindowExist(main);
  GlwView *view = new GlwView;
  memset(&view->o, 0, sizeof view->o);
  view->kind = 3;
  view->master = master;
  view->interp = interp;
  view->tkwin = main;
  view->display = Tk_Display(main);
  view->gc = Tk_GetGC(main, 0, nullptr);
  view->drawable = Tk_WindowId(main);
  view->name = name;
  std::vector<const char *> argv;
  for (int i = 0; i < objc; i++) argv.push_back(Tcl_GetString(objv[i]));
  argv.push_back(nullptr);
  bool ok = configureView(interp, view, objc, argv.data(), 0) == TCL_OK;
  if (ok) {
    std::string why;
    ok = makePixmap(view, &why);
    if (!ok) Tcl_SetObjResult(interp, Tcl_NewStringObj(why.c_str(), -1));
    view->drawable = view->pixmap;
  }
  if (ok) {
    Tcl_ResetResult(interp);
    ok = setupContext(view, false);
    if (!ok) Tcl_SetResult(interp, (char *)"Error in creating the GL context", TCL_STATIC);
  }
  if (!ok) {
    view->master = nullptr;
    glwReleaseView(view);
    return TCL_ERROR;
  }
  registerView(table, name, view);
  view->command = Tcl_CreateCommand(interp, name, viewCommand, view, viewCommandDeleted);
  *clientData = view;
  Tk_ImageChanged(master, 0, 0, view->o.width, view->o.height, view->o.width, view->o.height);
  return TCL_OK;
}

static ClientData imageGet(Tk_Window tkwin, ClientData data) {
  GlwView *view = (GlwView *)data;
  GlwImageInstance *inst = new GlwImageInstance{tkwin, view, view->instances, false};
  view->instances = inst;
  return inst;
}

static void imageDisplay(ClientData data, Display *display, Drawable drawable, int imageX, int imageY,
                         int width, int height, int drawableX, int drawableY) {
  GlwImageInstance *inst = (GlwImageInstance *)data;
  GlwView *view = inst->view;
  if (!view->pixmap || !view->gc) return;
  XCopyArea(display, view->pixmap, drawable, view->gc, imageX, imageY, width, height, drawableX, drawableY);
}

static void imageFree(ClientData data, Display *) {
  GlwImageInstance *inst = (GlwImageInstance *)data;
  GlwView *view = inst->view;
  /* Tk clears the image's type before it frees the instances of an image
   * it deletes: those stay listed so that the delete sees them.  While the
   * application's main window is torn down Tk can't be asked. */
  const Tk_ImageType *type = nullptr;
  if (!Tcl_InterpDeleted(view->interp) && Tk_MainWindow(view->interp))
    Tk_GetImageMasterData(view->interp, view->name.c_str(), &type);
  inst->released = true;
  if (type) purgeInstances(view);
}

static void imageDelete(ClientData data) {
  GlwView *view = (GlwView *)data;
  /* At exit Tk deletes images before the widgets that show them. */
  if (view->instances && !Tcl_InterpDeleted(view->interp) && Tk_MainWindow(view->interp)) {
    fprintf(stderr, "tried to delete glimg image when clients still exist\n");
    fflush(stderr);
  }
  view->master = nullptr;
  if (view->tkwin) glwReleaseView(view);
}

static Tk_ImageType glwImageType = {
    (char *)"glw", imageCreate, imageGet, imageDisplay, imageFree, imageDelete, nullptr, nullptr, nullptr};

int Glimg_Init(Tcl_Interp *) {
  static bool registered = false;
  if (!registered) {
    Tk_CreateImageType(&glwImageType);
    registered = true;
  }
  return 0;
}

int Glw_Init(Tcl_Interp *interp) {
  Tcl_HashTable *table = new Tcl_HashTable;
  Tcl_InitHashTable(table, TCL_STRING_KEYS);
  Tcl_CreateCommand(interp, "glw", glwCommand, table, glwCommandDeleted);
  if (Ogl_Init(interp) != 0) {
    Tcl_AppendResult(interp, "Error in Ogl_Init", (char *)nullptr);
    return TCL_ERROR;
  }
  if (Glimg_Init(interp) != 0) Tcl_AppendResult(interp, "Error in Glimg_Init", (char *)nullptr);
  if (Glm_Init(interp) != 0) Tcl_AppendResult(interp, "Error in Glm_Init", (char *)nullptr);
  return Tcl_PkgProvide(interp, "glw", "1.0");
}

}  // namespace vesk
