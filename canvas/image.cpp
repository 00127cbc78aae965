/*
 * image.cpp --
 *     The "image" item type: a Tk image placed at a world anchor point,
 *     re-magnified to the canvas scale when it is scalable, with per-state
 *     images and PostScript through a pixmap read back from the server.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <X11/Xutil.h>

#include "canvas/gcanvas.h"
#include "core/text.h"

namespace vesk {

namespace {

struct GcanvasImageItem {
  GcanvasItem header;
  GcanvasRecord *canvas;
  double x, y;
  Tk_Anchor anchor;
  char *imageString;
  char *activeImageString;
  char *disabledImageString;
  Tk_Image image;
  Tk_Image activeImage;
  Tk_Image disabledImage;
  char *magnifyCommand;
};

#define IMAGE_OFFSET(field) static_cast<int>(offsetof(GcanvasImageItem, field))

Tk_ConfigSpec imageConfigSpecs[] = {
    {TK_CONFIG_STRING, "-activeimage", nullptr, nullptr, nullptr,
     IMAGE_OFFSET(activeImageString), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_ANCHOR, "-anchor", nullptr, nullptr, "center", IMAGE_OFFSET(anchor),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_STRING, "-disabledimage", nullptr, nullptr, nullptr,
     IMAGE_OFFSET(disabledImageString), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-image", nullptr, nullptr, nullptr, IMAGE_OFFSET(imageString),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, IMAGE_OFFSET(header.state),
     TK_CONFIG_NULL_OK, &stateOption},
    {TK_CONFIG_INT, "-scalable", nullptr, nullptr, "0", IMAGE_OFFSET(header.scalable), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_STRING, "-magnifycommand", nullptr, nullptr, nullptr,
     IMAGE_OFFSET(magnifyCommand), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

GcanvasImageItem *asImage(GcanvasItem *item) { return reinterpret_cast<GcanvasImageItem *>(item); }

Tk_Image chosenImage(ItemContainer *c, GcanvasImageItem *im) {
  return stateValue(c, &im->header, im->image, im->activeImage, im->disabledImage);
}

std::string printFixed(double v) {
  char buffer[TCL_DOUBLE_SPACE + 400];
  snprintf(buffer, sizeof buffer, "%f", v);
  return buffer;
}

/*
 * The magnification step: the user's command, or a gimg image's own
 * "magnify", run with the words (never a script pasted from names).
 */
void magnifyImage(ItemContainer *c, GcanvasImageItem *im) {
  Tcl_Interp *interp = c->interp;
  std::string mx = printFixed(c->mx), my = printFixed(c->my);
  if (im->magnifyCommand) {
    Tcl_Obj *command = Tcl_NewStringObj(im->magnifyCommand, -1);
    Tcl_IncrRefCount(command);
    int count;
    Tcl_Obj **words;
    if (Tcl_ListObjGetElements(interp, command, &count, &words) == TCL_OK) {
      std::vector<Tcl_Obj *> objv(words, words + count);
      objv.push_back(Tcl_NewStringObj(mx.c_str(), -1));
      objv.push_back(Tcl_NewStringObj(my.c_str(), -1));
      for (Tcl_Obj *o : objv) Tcl_IncrRefCount(o);
      Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), TCL_EVAL_GLOBAL);
      for (Tcl_Obj *o : objv) Tcl_DecrRefCount(o);
    }
    Tcl_DecrRefCount(command);
    return;
  }
  if (!im->imageString) {
    Tcl_ResetResult(interp);
    return;
  }
  Tcl_Obj *query[3] = {Tcl_NewStringObj("image", -1), Tcl_NewStringObj("type", -1),
                       Tcl_NewStringObj(im->imageString, -1)};
  for (Tcl_Obj *o : query) Tcl_IncrRefCount(o);
  int code = Tcl_EvalObjv(interp, 3, query, TCL_EVAL_GLOBAL);
  for (Tcl_Obj *o : query) Tcl_DecrRefCount(o);
  if (code != TCL_OK || strcmp(Tcl_GetStringResult(interp), "gimg") != 0) {
    Tcl_ResetResult(interp);
    return;
  }
  Tcl_Obj *magnify[6] = {Tcl_NewStringObj(im->imageString, -1),
                         Tcl_NewStringObj("magnify", -1),
                         Tcl_NewStringObj(mx.c_str(), -1),
                         Tcl_NewStringObj(my.c_str(), -1),
                         Tcl_NewIntObj(0),
                         Tcl_NewIntObj(1)};
  for (Tcl_Obj *o : magnify) Tcl_IncrRefCount(o);
  if (Tcl_EvalObjv(interp, 6, magnify, TCL_EVAL_GLOBAL) == TCL_OK) Tcl_ResetResult(interp);
  for (Tcl_Obj *o : magnify) Tcl_DecrRefCount(o);
}

void computeImageBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasImageItem *im = asImage(item);
  GcanvasRecord *canvas = canvasOf(c);
  /* A magnify script may destroy the canvas; hold the record meanwhile. */
  if (item->scalable) {
    Tcl_Preserve(canvas);
    magnifyImage(c, im);
    bool gone = !canvas->c.tkwin;
    Tcl_Release(canvas);
    if (gone) return;
  }
  int x = roundToInt(im->x * c->mx - c->xOffset);
  int y = roundToInt(im->y * c->my - c->yOffset);
  Tk_Image image = chosenImage(c, im);
  if (effectiveState(c, item) == STATE_HIDDEN || !image) {
    item->x1 = item->x2 = x;
    item->y1 = item->y2 = y;
    return;
  }
  int w, h, dx, dy;
  Tk_SizeOfImage(image, &w, &h);
  anchorOffset(im->anchor, w, h, &dx, &dy);
  x -= dx;
  y -= dy;
  item->x1 = x;
  item->y1 = y;
  item->x2 = x + w;
  item->y2 = y + h;
  item->xMargin = item->yMargin = 0;
}

void imageChangedProc(ClientData clientData, int x, int y, int width, int height, int imageWidth,
                      int imageHeight) {
  GcanvasImageItem *im = static_cast<GcanvasImageItem *>(clientData);
  GcanvasRecord *canvas = im->canvas;
  GcanvasItem *item = &im->header;
  if (!canvas->c.tkwin) return;
  if (imageWidth != saturatingInt(item->x2 - item->x1) ||
      imageHeight != saturatingInt(item->y2 - item->y1)) {
    eventuallyRedrawArea(canvas, item->x1, item->y1, item->x2, item->y2, 1);
    x = y = 0;
    width = imageWidth;
    height = imageHeight;
  }
  computeImageBbox(&canvas->c, item);
  eventuallyRedrawArea(canvas, item->x1 + x, item->y1 + y, floor(item->x1 + x + width),
                       floor(item->y1 + y + height), 1);
}

int imageCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                Tcl_Obj *const objv[]) {
  GcanvasImageItem *im = asImage(item);
  if (pointItemCoords(interp, objc, objv, c, &im->x, &im->y) != TCL_OK) return TCL_ERROR;
  if (objc > 0) computeImageBbox(c, item);
  return TCL_OK;
}

int configureImage(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                   Tcl_Obj *const objv[], int flags) {
  GcanvasImageItem *im = asImage(item);
  Tk_Window tkwin = canvasTkwin(c);
  if (Tk_ConfigureWidget(interp, tkwin, imageConfigSpecs, objc, objWords(objv),
                         reinterpret_cast<char *>(im), flags | TK_CONFIG_OBJS) != TCL_OK)
    return TCL_ERROR;
  setStateDependant(item, im->activeImageString != nullptr);
  struct Slot {
    char *name;
    Tk_Image *image;
  } slots[] = {{im->imageString, &im->image},
               {im->activeImageString, &im->activeImage},
               {im->disabledImageString, &im->disabledImage}};
  for (Slot &s : slots) {
    Tk_Image fresh = nullptr;
    if (s.name) {
      fresh = Tk_GetImage(interp, tkwin, s.name, imageChangedProc, im);
      if (!fresh) return TCL_ERROR;
    }
    if (*s.image) Tk_FreeImage(*s.image);
    *s.image = fresh;
  }
  computeImageBbox(c, item);
  return TCL_OK;
}

void deleteImage(ItemContainer *, GcanvasItem *item, Display *) {
  GcanvasImageItem *im = asImage(item);
  for (char **s : {&im->imageString, &im->activeImageString, &im->disabledImageString,
                   &im->magnifyCommand}) {
    if (*s) ckfree(*s);
    *s = nullptr;
  }
  for (Tk_Image *image : {&im->image, &im->activeImage, &im->disabledImage}) {
    if (*image) Tk_FreeImage(*image);
    *image = nullptr;
  }
}

int createImage(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                Tcl_Obj *const objv[]) {
  GcanvasImageItem *im = asImage(item);
  int coords = createCoordCount(interp, c, item, objc, objv, 2, "x y");
  if (coords < 0) return TCL_ERROR;
  im->canvas = canvasOf(c);
  im->x = im->y = 0;
  im->anchor = TK_ANCHOR_CENTER;
  im->imageString = im->activeImageString = im->disabledImageString = nullptr;
  im->image = im->activeImage = im->disabledImage = nullptr;
  im->magnifyCommand = nullptr;
  return createFromWords(interp, c, item, objc, objv, coords);
}

void displayImage(ItemContainer *c, GcanvasItem *item, Display *, Drawable drawable, int x, int y,
                  int width, int height) {
  GcanvasImageItem *im = asImage(item);
  Tk_Image image = chosenImage(c, im);
  if (!image || drawable == None) return;
  GcanvasRecord *canvas = canvasOf(c);
  Tk_RedrawImage(image, saturatingInt(x - item->x1), saturatingInt(y - item->y1), width,
                 height, drawable, toDrawableCoord(canvas->drawableXOrigin, x),
                 toDrawableCoord(canvas->drawableYOrigin, y));
}

double imageToPoint(ItemContainer *, GcanvasItem *item, double *p) {
  return itemBoxToPoint(item, p);
}

int imageToArea(ItemContainer *, GcanvasItem *item, double *r) {
  return itemBoxToArea(item, r);
}

void scaleImage(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasImageItem *im = asImage(item);
  scaleWorldPoint(&im->x, &im->y, ox, oy, sx, sy);
  computeImageBbox(c, item);
}

void translateImage(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasImageItem *im = asImage(item);
  im->x += dx;
  im->y += dy;
  computeImageBbox(c, item);
}

/* Renders the image onto white and writes it through the XImage writer. */
int psImageFromPixmap(Tcl_Interp *interp, ItemContainer *c, Tk_Image image, int w, int h,
                      int prepass) {
  if (prepass) return TCL_OK;
  Tk_Window tkwin = canvasTkwin(c);
  Display *display = Tk_Display(tkwin);
  // A canvas never mapped has no window yet: the pixmap needs a drawable
  // of its screen (None ends the process with BadDrawable).
  Tk_MakeWindowExist(tkwin);
  Pixmap pixmap = Tk_GetPixmap(display, Tk_WindowId(tkwin), w, h, Tk_Depth(tkwin));
  XGCValues values;
  values.foreground = WhitePixelOfScreen(Tk_Screen(tkwin));
  GC gc = XCreateGC(display, pixmap, GCForeground, &values);
  XFillRectangle(display, pixmap, gc, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h));
  XFreeGC(display, gc);
  Tk_RedrawImage(image, 0, 0, w, h, pixmap, 0, 0);
  XImage *ximage = XGetImage(display, pixmap, 0, 0, static_cast<unsigned>(w),
                             static_cast<unsigned>(h), AllPlanes, ZPixmap);
  Tk_FreePixmap(display, pixmap);
  if (!ximage) return TCL_OK;
  int result = psXImage(interp, tkwin, canvasOf(c)->psInfo, ximage, 0, 0, w, h);
  XDestroyImage(ximage);
  return result;
}

int imageToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int prepass) {
  GcanvasImageItem *im = asImage(item);
  Tk_Image image = chosenImage(c, im);
  if (!image) return TCL_OK;
  int w, h;
  Tk_SizeOfImage(image, &w, &h);
  if (w == 0 || h == 0) return TCL_OK;
  double x = im->x * c->mx - c->xOffset;
  double y = canvasPsY(c, im->y * c->my - c->yOffset);
  psAnchorCorner(im->anchor, w, h, &x, &y);
  if (!prepass) {
    char buffer[200];
    snprintf(buffer, sizeof buffer, "%.15g %.15g translate\n", x, y);
    Tcl_AppendResult(interp, buffer, nullptr);
  }
  return psImageFromPixmap(interp, c, image, w, h, prepass);
}

}  // namespace

GcanvasItemType imageType = {
    "image", sizeof(GcanvasImageItem), createImage, imageConfigSpecs, configureImage, imageCoords,
    deleteImage, displayImage, TK_ITEM_OBJS, imageToPoint, imageToArea, imageToPostscript,
    scaleImage, translateImage, nullptr, nullptr, nullptr, nullptr, nullptr, computeImageBbox,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace vesk
