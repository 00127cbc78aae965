/*
 * widget.cpp --
 *     The "gcanvas" widget: creation, the option table, configuration with
 *     the world-to-canvas transform and the scroll region, the world
 *     changed procedure and destruction.
 */
#include <stdio.h>
#include <string.h>
#include <new>

#include <X11/Xatom.h>

#include "canvas/gcanvas.h"

namespace vesk {

#define CANVAS_OFFSET(field) static_cast<int>(offsetof(GcanvasRecord, field))

/*
 * The options.  The colour defaults are the X11 stand-ins of the system
 * colours Tk's own X11 canvas uses; the monochrome rows apply on a screen
 * of depth 1.
 */
Tk_ConfigSpec gcanvasConfigSpecs[] = {
    {TK_CONFIG_BORDER, "-background", "background", "Background", "#d9d9d9",
     CANVAS_OFFSET(bgBorder), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_BORDER, "-background", "background", "Background", "White", CANVAS_OFFSET(bgBorder),
     TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_SYNONYM, "-bd", "borderWidth", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_SYNONYM, "-bg", "background", nullptr, nullptr, 0, 0, nullptr},
    {TK_CONFIG_PIXELS, "-borderwidth", "borderWidth", "BorderWidth", "0",
     CANVAS_OFFSET(borderWidth), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-closeenough", "closeEnough", "CloseEnough", "1",
     CANVAS_OFFSET(closeEnough), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-mx", "mx", "Mx", "1.0", CANVAS_OFFSET(c.mx), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-my", "my", "My", "1.0", CANVAS_OFFSET(c.my), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-viewxorigin", "viewxorigin", "Viewxorigin", "0.0",
     CANVAS_OFFSET(viewXOrigin), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-viewyorigin", "viewyorigin", "Viewyorigin", "0.0",
     CANVAS_OFFSET(viewYOrigin), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-confine", "confine", "Confine", "1", CANVAS_OFFSET(confine), 0, nullptr},
    {TK_CONFIG_ACTIVE_CURSOR, "-cursor", "cursor", "Cursor", "", CANVAS_OFFSET(cursor),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_PIXELS, "-height", "height", "Height", "7c", CANVAS_OFFSET(height), 0, nullptr},
    {TK_CONFIG_COLOR, "-highlightbackground", "highlightBackground", "HighlightBackground",
     "#d9d9d9", CANVAS_OFFSET(highlightBgColorPtr), 0, nullptr},
    {TK_CONFIG_COLOR, "-highlightcolor", "highlightColor", "HighlightColor", "#000000",
     CANVAS_OFFSET(highlightColorPtr), 0, nullptr},
    {TK_CONFIG_PIXELS, "-highlightthickness", "highlightThickness", "HighlightThickness", "2",
     CANVAS_OFFSET(highlightWidth), 0, nullptr},
    {TK_CONFIG_BORDER, "-insertbackground", "insertBackground", "Foreground", "#000000",
     CANVAS_OFFSET(textInfo.insertBorder), 0, nullptr},
    {TK_CONFIG_PIXELS, "-insertborderwidth", "insertBorderWidth", "BorderWidth", "0",
     CANVAS_OFFSET(textInfo.insertBorderWidth), 0, nullptr},
    {TK_CONFIG_INT, "-insertofftime", "insertOffTime", "OffTime", "300",
     CANVAS_OFFSET(insertOffTime), 0, nullptr},
    {TK_CONFIG_INT, "-insertontime", "insertOnTime", "OnTime", "600", CANVAS_OFFSET(insertOnTime),
     0, nullptr},
    {TK_CONFIG_PIXELS, "-insertwidth", "insertWidth", "InsertWidth", "2",
     CANVAS_OFFSET(textInfo.insertWidth), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-offset", "offset", "Offset", "0,0", CANVAS_OFFSET(tsoffset),
     TK_CONFIG_DONT_SET_DEFAULT, &canvasOffsetOption},
    {TK_CONFIG_RELIEF, "-relief", "relief", "Relief", "flat", CANVAS_OFFSET(relief), 0, nullptr},
    {TK_CONFIG_STRING, "-scrollregion", "scrollRegion", "ScrollRegion", "",
     CANVAS_OFFSET(regionString), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_BORDER, "-selectbackground", "selectBackground", "Foreground", "#c3c3c3",
     CANVAS_OFFSET(textInfo.selBorder), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_BORDER, "-selectbackground", "selectBackground", "Foreground", "Black",
     CANVAS_OFFSET(textInfo.selBorder), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_PIXELS, "-selectborderwidth", "selectBorderWidth", "BorderWidth", "1",
     CANVAS_OFFSET(textInfo.selBorderWidth), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_PIXELS, "-selectborderwidth", "selectBorderWidth", "BorderWidth", "0",
     CANVAS_OFFSET(textInfo.selBorderWidth), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_COLOR, "-selectforeground", "selectForeground", "Background", "#000000",
     CANVAS_OFFSET(textInfo.selFgColorPtr), TK_CONFIG_COLOR_ONLY, nullptr},
    {TK_CONFIG_COLOR, "-selectforeground", "selectForeground", "Background", "White",
     CANVAS_OFFSET(textInfo.selFgColorPtr), TK_CONFIG_MONO_ONLY, nullptr},
    {TK_CONFIG_INT, "-graphicsmode", "graphicsMode", "Graphicsmode", "0",
     CANVAS_OFFSET(graphicsMode), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-textsizeratio", "textSizeratio", "TextSizeratio", "1.0",
     CANVAS_OFFSET(c.textSizeRatio), 0, nullptr},
    {TK_CONFIG_INT, "-textsizemin", "textsizemin", "Textsizemin", "4",
     CANVAS_OFFSET(c.textSizeMin), 0, nullptr},
    {TK_CONFIG_INT, "-textsizemax", "textSizemax", "Textsizemax", "400",
     CANVAS_OFFSET(c.textSizeMax), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-state", "state", "State", "normal", CANVAS_OFFSET(canvasState),
     TK_CONFIG_DONT_SET_DEFAULT, &canvasStateOption},
    {TK_CONFIG_STRING, "-takefocus", "takeFocus", "TakeFocus", nullptr, CANVAS_OFFSET(takeFocus),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_INT, "-updatecomponent", "updatecomponent", "UpdateComponent", nullptr,
     CANVAS_OFFSET(updateComponent), 0, nullptr},
    {TK_CONFIG_PIXELS, "-width", "width", "Width", "10c", CANVAS_OFFSET(width), 0, nullptr},
    {TK_CONFIG_STRING, "-xscrollcommand", "xScrollCommand", "ScrollCommand", "",
     CANVAS_OFFSET(xScrollCmd), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_PIXELS, "-xscrollincrement", "xScrollIncrement", "ScrollIncrement", "0",
     CANVAS_OFFSET(xScrollIncrement), 0, nullptr},
    {TK_CONFIG_STRING, "-yscrollcommand", "yScrollCommand", "ScrollCommand", "",
     CANVAS_OFFSET(yScrollCmd), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_PIXELS, "-yscrollincrement", "yScrollIncrement", "ScrollIncrement", "0",
     CANVAS_OFFSET(yScrollIncrement), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

namespace {

void gcanvasCmdDeleted(ClientData clientData);

const Tk_ClassProcs gcanvasClass = {
    sizeof(Tk_ClassProcs),
    gcanvasWorldChanged,
    nullptr,
    nullptr,
};

void freeCanvasRecord(char *memory) {
  GcanvasRecord *canvas = reinterpret_cast<GcanvasRecord *>(memory);
  /*
   * The items and the bindings go only now: a binding or a magnify script
   * that destroyed the canvas may still be running with one of them.
   */
  for (GcanvasItem *item = canvas->c.firstItemPtr; item;) {
    GcanvasItem *next = item->nextPtr;
    if (item->typePtr->deleteProc) item->typePtr->deleteProc(&canvas->c, item, canvas->c.display);
    freeItemRecord(canvas, item);
    item = next;
  }
  canvas->c.firstItemPtr = canvas->c.lastItemPtr = nullptr;
  if (canvas->bindingTable) Tk_DeleteBindingTable(canvas->bindingTable);
  canvas->bindingTable = nullptr;
  canvas->~GcanvasRecord();
  ckfree(memory);
}

/*
 * destroyGcanvas --
 *     Releases everything the canvas holds; the record itself goes once
 *     the last Tcl_Release is done.
 */
void destroyGcanvas(GcanvasRecord *canvas) {
  Tcl_DeleteHashTable(&canvas->idTable);
  Tcl_DeleteHashTable(&canvas->nameTable);
  if (canvas->pixmapGC != None) Tk_FreeGC(canvas->c.display, canvas->pixmapGC);
  canvas->pixmapGC = None;
  freeTagExprs(canvas);
  if (canvas->insertBlinkHandler) Tcl_DeleteTimerHandler(canvas->insertBlinkHandler);
  canvas->insertBlinkHandler = nullptr;
  Tk_FreeOptions(gcanvasConfigSpecs, reinterpret_cast<char *>(canvas), canvas->c.display, 0);
  if (canvas->backingPixmap != None) Tk_FreePixmap(canvas->c.display, canvas->backingPixmap);
  canvas->backingPixmap = None;
  canvas->c.tkwin = nullptr;
  Tcl_EventuallyFree(canvas, freeCanvasRecord);
}

void gcanvasCmdDeleted(ClientData clientData) {
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(clientData);
  Tk_Window tkwin = canvas->c.tkwin;
  if (tkwin) {
    canvas->c.tkwin = nullptr;
    Tk_DestroyWindow(tkwin);
  }
}

}  // namespace

/*
 * gcanvasStructureGone --
 *     Called for DestroyNotify: deletes the widget command and the items,
 *     then frees what the record holds.
 */
void gcanvasStructureGone(GcanvasRecord *canvas) {
  if (canvas->c.tkwin) {
    canvas->c.tkwin = nullptr;
    Tcl_DeleteCommandFromToken(canvas->c.interp, canvas->widgetCmd);
  }
  if (canvas->flags & REDRAW_PENDING) Tcl_CancelIdleCall(displayGcanvas, canvas);
  canvas->flags &= ~REDRAW_PENDING;
  canvas->currentItemPtr = canvas->newCurrentPtr = nullptr;
  canvas->hotPtr = canvas->hotPrevPtr = nullptr;
  canvas->textInfo.selItemPtr = canvas->textInfo.anchorItemPtr = nullptr;
  canvas->textInfo.focusItemPtr = nullptr;
  destroyGcanvas(canvas);
}

/*
 * gcanvasCmd --
 *     "gcanvas pathName ?options?": creates a map canvas.
 * Results:      the path name, or TCL_ERROR with the message.
 */
int gcanvasCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  if (objc < 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "pathName ?options?");
    return TCL_ERROR;
  }
  initItemTypes();
  Tk_Window mainWin = static_cast<Tk_Window>(clientData);
  if (!mainWin) mainWin = Tk_MainWindow(interp);
  if (!mainWin) return TCL_ERROR;
  Tk_Window tkwin =
      Tk_CreateWindowFromPath(interp, mainWin, Tcl_GetString(objv[1]), nullptr);
  if (!tkwin) return TCL_ERROR;

  char *memory = (char *)ckalloc(sizeof(GcanvasRecord));
  GcanvasRecord *canvas = new (memory) GcanvasRecord();
  canvas->c.tkwin = tkwin;
  canvas->c.display = Tk_Display(tkwin);
  canvas->c.interp = interp;
  canvas->c.canvas = canvas;
  canvas->widgetCmd = Tcl_CreateObjCommand(interp, Tk_PathName(tkwin), gcanvasInstanceCmd,
                                           canvas, gcanvasCmdDeleted);
  canvas->pickEvent.type = LeaveNotify;
  canvas->pickEvent.xcrossing.x = 0;
  canvas->pickEvent.xcrossing.y = 0;
  Screen *screen = Tk_Screen(tkwin);
  canvas->pixelsPerMM = WidthMMOfScreen(screen) > 0
                            ? static_cast<double>(WidthOfScreen(screen)) / WidthMMOfScreen(screen)
                            : 1.0;
  Tcl_InitHashTable(&canvas->idTable, TCL_ONE_WORD_KEYS);
  Tcl_InitHashTable(&canvas->nameTable, TCL_STRING_KEYS);

  Tk_SetClass(tkwin, "Gcanvas");
  Tk_SetClassProcs(tkwin, &gcanvasClass, canvas);
  Tk_CreateEventHandler(tkwin, ExposureMask | StructureNotifyMask | FocusChangeMask,
                        gcanvasEventProc, canvas);
  Tk_CreateEventHandler(tkwin,
                        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            EnterWindowMask | LeaveWindowMask | PointerMotionMask |
                            VirtualEventMask,
                        canvasBindProc, canvas);
  Tk_CreateSelHandler(tkwin, XA_PRIMARY, XA_STRING, canvasFetchSelection, canvas, XA_STRING);
  if (configureGcanvas(interp, canvas, objc - 2, objv + 2, 0) != TCL_OK) {
    Tk_DestroyWindow(canvas->c.tkwin);
    return TCL_ERROR;
  }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(Tk_PathName(tkwin), -1));
  return TCL_OK;
}

namespace {

/* Reads the scroll region string into canvas pixels; TCL_ERROR with a message. */
int parseScrollRegion(Tcl_Interp *interp, GcanvasRecord *canvas) {
  canvas->scrollX1 = canvas->scrollY1 = canvas->scrollX2 = canvas->scrollY2 = 0;
  if (!canvas->regionString || !*canvas->regionString) return TCL_OK;
  double v[4];
  if (sscanf(canvas->regionString, "%lf %lf %lf %lf", &v[0], &v[1], &v[2], &v[3]) != 4) {
    int argc;
    const char **argv;
    if (Tcl_SplitList(interp, canvas->regionString, &argc, &argv) != TCL_OK) return TCL_ERROR;
    if (argc != 4) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "bad scrollRegion \"", canvas->regionString, "\"", nullptr);
      ckfree(reinterpret_cast<char *>(argv));
      ckfree(canvas->regionString);
      canvas->regionString = nullptr;
      return TCL_ERROR;
    }
    for (int i = 0; i < 4; i++) {
      int pixels;
      if (Tk_GetPixels(interp, canvas->c.tkwin, argv[i], &pixels) != TCL_OK) {
        ckfree(reinterpret_cast<char *>(argv));
        return TCL_ERROR;
      }
      v[i] = pixels;
    }
    ckfree(reinterpret_cast<char *>(argv));
  }
  double x1 = v[0] * canvas->c.mx - canvas->c.xOffset, x2 = v[2] * canvas->c.mx - canvas->c.xOffset;
  double y1 = v[1] * canvas->c.my - canvas->c.yOffset, y2 = v[3] * canvas->c.my - canvas->c.yOffset;
  canvas->scrollX1 = x1 < x2 ? x1 : x2;
  canvas->scrollX2 = x1 < x2 ? x2 : x1;
  canvas->scrollY1 = y1 < y2 ? y1 : y2;
  canvas->scrollY2 = y1 < y2 ? y2 : y1;
  return TCL_OK;
}

}  // namespace

/*
 * configureGcanvas --
 *     Applies option/value pairs and what they imply: the transform, the
 *     pixmap GC, the geometry request, the scroll region and the origin.
 * Results:      TCL_OK, or TCL_ERROR with the message (earlier options stay).
 * Side effects: redraws the window; a changed transform rebuilds every
 *               item's box.
 */
int configureGcanvas(Tcl_Interp *interp, GcanvasRecord *canvas, int objc, Tcl_Obj *const objv[],
                     int flags) {
  double oldMx = canvas->c.mx, oldMy = canvas->c.my, oldXOff = canvas->c.xOffset,
         oldYOff = canvas->c.yOffset, oldRatio = canvas->c.textSizeRatio;
  int oldMin = canvas->c.textSizeMin, oldMax = canvas->c.textSizeMax;
  Tk_3DBorder oldBorder = canvas->bgBorder;
  if (Tk_ConfigureWidget(interp, canvas->c.tkwin, gcanvasConfigSpecs, objc,
                         objWords(objv),
                         reinterpret_cast<char *>(canvas), flags | TK_CONFIG_OBJS) != TCL_OK)
    return TCL_ERROR;
  if (canvas->c.mx == 0) canvas->c.mx = 1.0;
  if (canvas->c.my == 0) canvas->c.my = 1.0;
  canvas->c.xOffset = canvas->c.mx * canvas->viewXOrigin;
  canvas->c.yOffset = canvas->c.my * canvas->viewYOrigin;

  Tk_SetBackgroundFromBorder(canvas->c.tkwin, canvas->bgBorder);
  if (canvas->highlightWidth < 0) canvas->highlightWidth = 0;
  canvas->inset = canvas->borderWidth + canvas->highlightWidth;

  XGCValues gcValues;
  gcValues.function = GXcopy;
  gcValues.graphics_exposures = False;
  gcValues.foreground = Tk_3DBorderColor(canvas->bgBorder)->pixel;
  GC newGC = Tk_GetGC(canvas->c.tkwin, GCFunction | GCGraphicsExposures | GCForeground, &gcValues);
  if (canvas->pixmapGC != None) Tk_FreeGC(canvas->c.display, canvas->pixmapGC);
  canvas->pixmapGC = newGC;

  Tk_GeometryRequest(canvas->c.tkwin, canvas->width + 2 * canvas->inset,
                     canvas->height + 2 * canvas->inset);

  if (canvas->textInfo.gotFocus) canvasFocusProc(canvas, 1);

  int result = parseScrollRegion(interp, canvas);

  StippleOffset &ts = canvas->tsoffset;
  if (ts.flags & OFFSET_LEFT) ts.x = 0;
  else if (ts.flags & OFFSET_CENTER) ts.x = canvas->width / 2;
  else if (ts.flags & OFFSET_RIGHT) ts.x = canvas->width;
  if (ts.flags & OFFSET_TOP) ts.y = 0;
  else if (ts.flags & OFFSET_MIDDLE) ts.y = canvas->height / 2;
  else if (ts.flags & OFFSET_BOTTOM) ts.y = canvas->height;

  setCanvasOrigin(canvas, canvas->xOrigin, canvas->yOrigin);
  canvas->flags |= UPDATE_SCROLLBARS | REDRAW_BORDERS;
  if (canvas->c.mx == oldMx && canvas->c.my == oldMy && canvas->c.xOffset == oldXOff &&
      canvas->c.yOffset == oldYOff && canvas->c.textSizeRatio == oldRatio &&
      canvas->c.textSizeMin == oldMin && canvas->c.textSizeMax == oldMax) {
    eventuallyRedrawArea(canvas, canvas->xOrigin, canvas->yOrigin,
                         canvas->xOrigin + Tk_Width(canvas->c.tkwin),
                         canvas->yOrigin + Tk_Height(canvas->c.tkwin),
                         oldBorder != canvas->bgBorder);
  } else {
    if (canvas->backingPixmap != None) Tk_FreePixmap(canvas->c.display, canvas->backingPixmap);
    canvas->backingPixmap = None;
    gcanvasWorldChanged(canvas);
  }
  return result;
}

/*
 * gcanvasWorldChanged --
 *     Every item recomputes its box under the present transform; the whole
 *     window is redrawn into a fresh backing store.
 */
void gcanvasWorldChanged(ClientData instanceData) {
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(instanceData);
  if (!canvas->c.tkwin) return;
  for (GcanvasItem *item = canvas->c.firstItemPtr; item && canvas->c.tkwin;
       item = item->nextPtr) {
    if (item->typePtr->configProc &&
        item->typePtr->configProc(canvas->c.interp, &canvas->c, item, 0, nullptr,
                                  TK_CONFIG_ARGV_ONLY) != TCL_OK)
      Tcl_ResetResult(canvas->c.interp);
  }
  if (!canvas->c.tkwin) return;
  canvas->flags |= REPICK_NEEDED;
  eventuallyRedrawArea(canvas, canvas->xOrigin, canvas->yOrigin,
                       canvas->xOrigin + Tk_Width(canvas->c.tkwin),
                       canvas->yOrigin + Tk_Height(canvas->c.tkwin), 1);
}

}  // namespace vesk
