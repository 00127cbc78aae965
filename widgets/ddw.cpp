/*
 * ddw.cpp --
 *     The "ddw" widget (class "DDW", package TK_DIRECTX): shows a RAM
 *     image through an off-screen surface of the image's size in the
 *     window's pixel format, copied scaled onto the window.  Options, the
 *     widget command (cget, configure, ddsd, ddarea, ddline, dshow, getpal,
 *     setpal, video, update), redraw and show, test patterns and the event
 *     handling; Ddw_Init.
 */
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <cairo.h>

#include "core/families.h"
#include "core/lazylib.h"
#include "core/options.h"
#include "display/colormap.h"
#include "platform/video.h"
#include "raster/ramimg.h"
#include "vesk/stdio.h"
#include "widgets/ddw.h"

namespace vesk {

namespace {

#define DDW_OFFSET(field) offsetof(DdwWidget, field)
#define DDW_STRING(name, field, def) \
  {TK_CONFIG_STRING, name, nullptr, nullptr, def, DDW_OFFSET(field), TK_CONFIG_NULL_OK, nullptr}
#define DDW_DOUBLE(name, field, def) \
  {TK_CONFIG_DOUBLE, name, nullptr, nullptr, def, DDW_OFFSET(field), 0, nullptr}

Tk_ConfigSpec ddwSpecs[] = {
    DDW_STRING("-image", imageName, ""),
    DDW_STRING("-video", videoName, ""),
    DDW_STRING("-vvar", vvar, ""),
    DDW_STRING("-vstop", vstop, ""),
    DDW_STRING("-teststr", teststr, ""),
    DDW_STRING("-background", backgroundName, "#000000"),
    DDW_STRING("-foreground", foregroundName, "#ffffff"),
    {TK_CONFIG_INT, "-width", nullptr, nullptr, "128", DDW_OFFSET(width), 0, nullptr},
    {TK_CONFIG_INT, "-height", nullptr, nullptr, "128", DDW_OFFSET(height), 0, nullptr},
    DDW_DOUBLE("-std", std, "2.5"),
    {TK_CONFIG_CUSTOM, "-comb", nullptr, nullptr, "1", DDW_OFFSET(comb), 0, &combOption},
    DDW_DOUBLE("-low0", low[0], "0.0"),
    DDW_DOUBLE("-high0", high[0], "255.0"),
    DDW_DOUBLE("-low1", low[1], "0.0"),
    DDW_DOUBLE("-high1", high[1], "255.0"),
    DDW_DOUBLE("-low2", low[2], "0.0"),
    DDW_DOUBLE("-high2", high[2], "255.0"),
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr}};

/* Redraws of all ddw widgets: where -teststr goes. */
unsigned redrawCounter = 0;
/* Each test pattern's own counter. */
unsigned areaCounter = 0;
unsigned lineCounter = 0;

const char *text(const char *s) { return s ? s : ""; }

/* Replaces a string option field (Tk's configuration frees it with ckfree). */
void setStringField(char **field, const std::string &value) {
  if (*field) Tcl_Free(*field);
  *field = nullptr;
  if (!value.empty()) {
    *field = Tcl_Alloc(static_cast<unsigned>(value.size() + 1));
    memcpy(*field, value.c_str(), value.size() + 1);
  }
}

void ddwShowIdle(ClientData clientData);

void scheduleShow(DdwWidget *w) {
  if (!w->redrawPending && w->tkwin) {
    w->redrawPending = 1;
    Tcl_DoWhenIdle(ddwShowIdle, w);
  }
}

/*
 * drawTestString --
 *     Writes -teststr in red onto a locked surface at (c mod width,
 *     c mod height), the glyphs rendered by cairo with antialiasing off
 *     into an alpha mask; pixels outside the surface are not written.
 */
void drawTestString(DdwWidget *w, const SurfaceDesc *desc, unsigned counter) {
  const char *s = text(w->teststr);
  if (!*s || !desc->bits || desc->width < 1 || desc->height < 1) return;
  cairo_surface_t *probe = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t *cr = cairo_create(probe);
  cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 13);
  cairo_font_extents_t fe;
  cairo_text_extents_t te;
  cairo_font_extents(cr, &fe);
  cairo_text_extents(cr, s, &te);
  cairo_destroy(cr);
  cairo_surface_destroy(probe);
  const int tw = std::min(static_cast<int>(te.x_advance + te.x_bearing + 2), desc->width);
  const int th = std::min(static_cast<int>(fe.ascent + fe.descent + 1), desc->height);
  if (tw < 1 || th < 1) return;
  cairo_surface_t *mask = cairo_image_surface_create(CAIRO_FORMAT_A8, tw, th);
  cr = cairo_create(mask);
  cairo_font_options_t *options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
  cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 13);
  cairo_move_to(cr, 0, fe.ascent);
  cairo_show_text(cr, s);
  cairo_destroy(cr);
  cairo_surface_flush(mask);
  const unsigned char *bits = cairo_image_surface_get_data(mask);
  const int stride = cairo_image_surface_get_stride(mask);
  const int x0 = static_cast<int>(counter % static_cast<unsigned>(desc->width));
  const int y0 = static_cast<int>(counter % static_cast<unsigned>(desc->height));
  const int bytes = desc->format.bitsPerPixel / 8;
  const unsigned long red = ddwRedPixel(w, desc->format);
  for (int y = 0; y < th && y0 + y < desc->height; y++) {
    for (int x = 0; x < tw && x0 + x < desc->width; x++) {
      if (bits[y * stride + x] < 128) continue;
      unsigned char *p = desc->bits + static_cast<size_t>(y0 + y) * desc->pitch +
                         static_cast<size_t>(x0 + x) * bytes;
      if (bytes == 1) {
        *p = static_cast<unsigned char>(red);
      } else if (bytes == 2) {
        const uint16_t v = static_cast<uint16_t>(red);
        memcpy(p, &v, 2);
      } else {
        p[0] = static_cast<unsigned char>(red);
        p[1] = static_cast<unsigned char>(red >> 8);
        p[2] = static_cast<unsigned char>(red >> 16);
      }
    }
  }
  cairo_surface_destroy(mask);
}

/* The rectangle of the back surface that is shown. */
void shownSize(const DdwWidget *w, int *width, int *height) {
  if (w->image) {
    *width = w->image->header.columns;
    *height = w->image->header.rows;
  } else {
    *width = w->width;
    *height = w->height;
  }
  if (w->back) {
    *width = std::min(*width, w->back->width);
    *height = std::min(*height, w->back->height);
  }
}

}  // namespace

/*
 * ddFlip --
 *     Shows the widget: the open video stream's current frame, else the
 *     back surface copied scaled onto the window.
 * Results:      TCL_OK; TCL_ERROR when the copy failed, after which the
 *     back surface is gone.
 * Side effects: a failure prints the reason on the error stream.
 */
static int ddFlip(DdwWidget *w) {
  if (!w->back || !w->tkwin) return TCL_OK;
  if (w->stream) {
    updateSurface(w->stream, w->primary);
    return TCL_OK;
  }
  int width, height;
  shownSize(w, &width, &height);
  const int code = bltToPrimary(w->primary, w->back, width, height);
  if (code == DD_OK) return TCL_OK;
  vesk_fprintf(stderr, "%s", surfaceErrorName(code));
  freeSurface(w->back);
  w->back = nullptr;
  Tcl_AddErrorInfo(w->interp, "Error in ddFlip");
  return TCL_ERROR;
}

/*
 * ddwRedraw --
 *     Converts the image into the back surface, draws -teststr and shows
 *     it.  Without an image the back surface is cleared and not shown.
 * Results:      TCL_OK, or TCL_ERROR ("No back surface", a failed show).
 */
static int ddwRedraw(DdwWidget *w) {
  if (!w->image) {
    clearSurface(w->back);
    return TCL_OK;
  }
  if (!w->back) {
    Tcl_SetResult(w->interp, const_cast<char *>("No back surface"), TCL_STATIC);
    return TCL_ERROR;
  }
  SurfaceDesc desc;
  if (getSurfaceDesc(w->back, &desc) != DD_OK) {
    Tcl_AddErrorInfo(w->interp, "Error in GetSurfaceDesc");
    return TCL_ERROR;
  }
  if (lockSurface(w->back, &desc) != DD_OK) {
    Tcl_AddErrorInfo(w->interp, "Error in Lock");
    return TCL_ERROR;
  }
  ddwConvertImage(w, &desc);
  const unsigned counter = redrawCounter++;
  drawTestString(w, &desc, counter);
  unlockSurface(w->back);
  return ddFlip(w);
}

namespace {

void clientChanged(ClientData clientData) {
  DdwWidget *w = static_cast<DdwWidget *>(clientData);
  ddwComputeColorTable(w, 0);
  ddwRedraw(w);
}

void clientRedraw(ClientData clientData) { ddwRedraw(static_cast<DdwWidget *>(clientData)); }

void clientRect(ClientData clientData, int, int, int, int) {
  ddwRedraw(static_cast<DdwWidget *>(clientData));
}

void ddwShowIdle(ClientData clientData) {
  DdwWidget *w = static_cast<DdwWidget *>(clientData);
  w->redrawPending = 0;
  if (w->tkwin && Tk_IsMapped(w->tkwin)) ddFlip(w);
}

/*
 * makeBackSurface --
 *     Makes the back surface as large as the image (the widget's size
 *     without one), keeping one of that size, then redraws.
 * Results:      TCL_OK or TCL_ERROR ("Error in creating back surface" in
 *     the error information).
 */
int makeBackSurface(DdwWidget *w) {
  if (!w->directDraw) return TCL_OK;
  const int width = w->image ? w->image->header.columns : w->width;
  const int height = w->image ? w->image->header.rows : w->height;
  if (!w->back || w->back->width != width || w->back->height != height) {
    freeSurface(w->back);
    w->back = nullptr;
    if (createOffscreenSurface(w->directDraw, width, height, &w->back) != DD_OK) {
      Tcl_AddErrorInfo(w->interp, "Error in creating back surface");
      return TCL_ERROR;
    }
  }
  ddwRedraw(w);
  return TCL_OK;
}

/* Sets up the display context, the primary surface and the back surface. */
int setupDirectDraw(DdwWidget *w) {
  if (w->directDraw) return TCL_OK;
  Tcl_Interp *interp = w->interp;
  if (createDDContext(w->tkwin, &w->directDraw) != DD_OK) {
    Tcl_SetResult(interp, const_cast<char *>("Error in create DD obj"), TCL_STATIC);
    return TCL_ERROR;
  }
  if (createPrimarySurface(w->directDraw, &w->primary) != DD_OK) {
    Tcl_SetResult(interp, const_cast<char *>("Error in creating primary surface"), TCL_STATIC);
    return TCL_ERROR;
  }
  /* The window itself clips what is copied onto it. */
  w->clipper = 1;
  w->primary->clipped = 1;
  /* Pure red for -teststr on palette displays, until a table is installed. */
  if (w->directDraw->format.bitsPerPixel == 8) {
    XColor cells[256];
    const int n = queryPaletteColors(w->display, w->colormap, cells, 256);
    long best = -1;
    for (int i = 0; i < n; i++) {
      const long dr = (cells[i].red >> 8) - 255, dg = cells[i].green >> 8, db = cells[i].blue >> 8;
      const long d = dr * dr + dg * dg + db * db;
      if (best < 0 || d < best) {
        best = d;
        w->redPixel = cells[i].pixel;
      }
    }
    for (int i = 0; i < 256; i++) w->indexMap[i] = static_cast<unsigned char>(i);
  }
  if (makeBackSurface(w) != TCL_OK) {
    Tcl_SetResult(interp, const_cast<char *>("Error in creating back surface"), TCL_STATIC);
    return TCL_ERROR;
  }
  return TCL_OK;
}

/*
 * openWidgetImage --
 *     openRAMImage by a text as tag and path; the caller holds one
 *     reference to what it gets, also when the image was re-read in place
 *     under its tag.
 */
RAMIMG *openWidgetImage(const char *name, int *err) {
  RAMIMG *prior = getRAMImageByTag(name);
  const int before = prior ? prior->refCount : 0;
  RAMIMG *image = openRAMImage(name, name, nullptr, nullptr, err);
  if (image && image == prior && image->refCount == before) image->refCount++;
  return image;
}

/* Allocates a colour option; the old colour is freed once the new one holds. */
int takeColor(DdwWidget *w, XColor **slot, const char *name, const char *message) {
  XColor *color = Tk_GetColor(w->interp, w->tkwin, Tk_GetUid(text(name)));
  if (!color) {
    Tcl_SetResult(w->interp, const_cast<char *>(message), TCL_STATIC);
    return TCL_ERROR;
  }
  if (*slot) Tk_FreeColor(*slot);
  *slot = color;
  return TCL_OK;
}

/*
 * ddwConfigure --
 *     Applies option words, then follows what changed: colours, size,
 *     the surfaces, the video stream, the image and the colour table.
 */
int ddwConfigure(DdwWidget *w, int argc, const char **argv, int flags) {
  Tcl_Interp *interp = w->interp;
  const std::string oldBackground = text(w->backgroundName), oldForeground = text(w->foregroundName);
  const std::string oldImage = text(w->imageName), oldVideo = text(w->videoName);
  if (Tk_ConfigureWidget(interp, w->tkwin, ddwSpecs, argc, argv, reinterpret_cast<char *>(w),
                         flags) != TCL_OK)
    return TCL_ERROR;

  bool colorChanged = false;
  if (oldBackground != text(w->backgroundName)) {
    if (takeColor(w, &w->background, w->backgroundName, "Error in allocate bg color") != TCL_OK) {
      setStringField(&w->backgroundName, oldBackground);
      return TCL_ERROR;
    }
    XSetBackground(w->display, w->gc, w->background->pixel);
    colorChanged = true;
  }
  if (oldForeground != text(w->foregroundName)) {
    if (takeColor(w, &w->foreground, w->foregroundName, "Error in allocate fg color") != TCL_OK) {
      setStringField(&w->foregroundName, oldForeground);
      return TCL_ERROR;
    }
    XSetForeground(w->display, w->gc, w->foreground->pixel);
    colorChanged = true;
  }

  Tk_GeometryRequest(w->tkwin, std::max(w->width, 1), std::max(w->height, 1));
  Tk_MakeWindowExist(w->tkwin);
  if (colorChanged) scheduleShow(w);

  if (setupDirectDraw(w) != TCL_OK) return TCL_ERROR;

  if (oldVideo != text(w->videoName) && ddwConfigureVideo(w, oldVideo.c_str()) != TCL_OK)
    return TCL_ERROR;

  bool opened = false;
  const std::string name = text(w->imageName);
  if (name != oldImage) {
    if (!name.empty()) {
      int err = 0;
      RAMIMG *image = openWidgetImage(name.c_str(), &err);
      if (!image) {
        const char *why = getRAMImageErrorText(err);
        Tcl_SetResult(interp, const_cast<char *>(*why ? why : "Error in open rimage"),
                      TCL_VOLATILE);
        Tcl_AddErrorInfo(interp, "Error in open rimage");
        setStringField(&w->imageName, oldImage);
        return TCL_ERROR;
      }
      if (w->image) closeRAMImage(w->image, &w->client);
      addClient(&w->client, image);
      w->image = image;
      opened = true;
    } else if (w->image) {
      closeRAMImage(w->image, &w->client);
      w->image = nullptr;
      opened = true;
    }
  }

  ddwComputeColorTable(w, 0);
  if (opened) makeBackSurface(w);
  else ddwRedraw(w);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* Frees the widget once Tk no longer uses it. */
void ddwFree(char *memory) {
  DdwWidget *w = reinterpret_cast<DdwWidget *>(memory);
  freeSurface(w->back);
  freePrimarySurface(w->primary);
  freeDDContext(w->directDraw);
  ddwFreePixels(w);
  if (w->foreground) Tk_FreeColor(w->foreground);
  if (w->background) Tk_FreeColor(w->background);
  if (w->gc) XFreeGC(w->display, w->gc);
  if (w->image) closeRAMImage(w->image, &w->client);
  Tk_FreeOptions(ddwSpecs, memory, w->display, 0);
  delete w;
}

void ddwEventProc(ClientData clientData, XEvent *event) {
  DdwWidget *w = static_cast<DdwWidget *>(clientData);
  switch (event->type) {
  case Expose:
    if (event->xexpose.count == 0) scheduleShow(w);
    break;
  case ConfigureNotify:
    if (!w->tkwin) break;
    w->width = Tk_Width(w->tkwin);
    w->height = Tk_Height(w->tkwin);
    if (w->directDraw && makeBackSurface(w) != TCL_OK) {
      vesk_fprintf(stderr, "Error in ddConfig\n");
      Tcl_ResetResult(w->interp);
    }
    scheduleShow(w);
    break;
  case DestroyNotify:
    if (!w->tkwin) break;
    w->tkwin = nullptr;
    if (w->command) Tcl_DeleteCommandFromToken(w->interp, w->command);
    w->command = nullptr;
    if (w->redrawPending) Tcl_CancelIdleCall(ddwShowIdle, w);
    w->redrawPending = 0;
    ddwCloseVideo(w, -2.0);
    Tcl_EventuallyFree(w, ddwFree);
    break;
  default:
    break;
  }
}

void ddwCommandDeleted(ClientData clientData) {
  DdwWidget *w = static_cast<DdwWidget *>(clientData);
  w->command = nullptr;
  if (w->tkwin) Tk_DestroyWindow(w->tkwin);
}

/* "ddsd": the back surface's description. */
int ddsdCmd(DdwWidget *w) {
  if (!w->back) {
    Tcl_SetResult(w->interp, const_cast<char *>("No back surface"), TCL_STATIC);
    return TCL_ERROR;
  }
  SurfaceDesc d;
  if (getSurfaceDesc(w->back, &d) != DD_OK) {
    Tcl_SetResult(w->interp, const_cast<char *>("Error in GetSurfaceDesc"), TCL_STATIC);
    return TCL_ERROR;
  }
  char buffer[200];
  snprintf(buffer, sizeof buffer, "%d %d %d %d %d %d 0x%04lx 0x%04lx 0x%04lx", d.width, d.height,
           d.pitch, d.mipMapCount, d.alphaBitDepth, d.format.bitsPerPixel, d.format.redMask,
           d.format.greenMask, d.format.blueMask);
  Tcl_SetResult(w->interp, buffer, TCL_VOLATILE);
  return TCL_OK;
}

/*
 * patternCmd --
 *     "ddarea" fills every row with the grey gradient (column + c) mod 256
 *     and draws -teststr; "ddline" writes it into row c mod height only.
 *     Then the back surface is shown.
 */
int patternCmd(DdwWidget *w, bool area) {
  Tcl_Interp *interp = w->interp;
  if (!w->back) {
    Tcl_SetResult(interp, const_cast<char *>("No back surface"), TCL_STATIC);
    return TCL_ERROR;
  }
  SurfaceDesc desc;
  if (getSurfaceDesc(w->back, &desc) != DD_OK) {
    Tcl_SetResult(interp, const_cast<char *>("Error in GetSurfaceDesc"), TCL_STATIC);
    return TCL_ERROR;
  }
  if (lockSurface(w->back, &desc) != DD_OK) {
    Tcl_SetResult(interp, const_cast<char *>("Error in Lock"), TCL_STATIC);
    return TCL_ERROR;
  }
  const unsigned c = area ? areaCounter++ : lineCounter++;
  const int bytes = desc.format.bitsPerPixel / 8;
  const int first = area ? 0 : static_cast<int>(c % static_cast<unsigned>(desc.height));
  const int last = area ? desc.height : first + 1;
  for (int y = first; y < last; y++) {
    unsigned char *row = desc.bits + static_cast<size_t>(y) * desc.pitch;
    for (int x = 0; x < desc.width; x++)
      ddwStoreGrey(desc.format, row + static_cast<size_t>(x) * bytes,
                   static_cast<int>((static_cast<unsigned>(x) + c) % 256));
  }
  if (area) drawTestString(w, &desc, c);
  unlockSurface(w->back);
  return ddFlip(w);
}

/* The palette of a colormap as 256 "index red green blue" elements. */
void listColormap(Tcl_Interp *interp, Display *display, Colormap colormap) {
  XColor cells[256];
  const int n = queryPaletteColors(display, colormap, cells, 256);
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (int i = 0; i < 256; i++) {
    char entry[64];
    if (i < n)
      snprintf(entry, sizeof entry, "%d %d %d %d", i, cells[i].red >> 8, cells[i].green >> 8,
               cells[i].blue >> 8);
    else
      snprintf(entry, sizeof entry, "%d 0 0 0", i);
    Tcl_ListObjAppendElement(interp, list, Tcl_NewStringObj(entry, -1));
  }
  Tcl_SetObjResult(interp, list);
}

/*
 * getpalCmd --
 *     0 and 1: the window's colormap (no palette object is ever made);
 *     2 and 3: the screen's default colormap; any other n the fixed
 *     default palette, the 8 x 8 x 4 colour cube.  Cells a colormap does
 *     not have (true-colour visuals) list as black.
 */
int getpalCmd(DdwWidget *w, int argc, const char **argv) {
  int n = 0;
  if (argc > 2 && Tcl_GetInt(w->interp, argv[2], &n) != TCL_OK) return TCL_ERROR;
  Tk_Window tkwin = w->tkwin;
  if (n == 0 || n == 1) {
    listColormap(w->interp, w->display, w->colormap);
  } else if (n == 2 || n == 3) {
    listColormap(w->interp, w->display, DefaultColormapOfScreen(Tk_Screen(tkwin)));
  } else {
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < 256; i++) {
      unsigned char rgb[3];
      ddwCubeColor(i, rgb);
      char entry[64];
      snprintf(entry, sizeof entry, "%d %d %d %d", i, rgb[0], rgb[1], rgb[2]);
      Tcl_ListObjAppendElement(w->interp, list, Tcl_NewStringObj(entry, -1));
    }
    Tcl_SetObjResult(w->interp, list);
  }
  return TCL_OK;
}

bool isPrefix(const char *word, const char *of, size_t minimum) {
  const size_t n = strlen(word);
  return n >= minimum && n <= strlen(of) && strncmp(word, of, n) == 0;
}

int ddwWidgetCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  DdwWidget *w = static_cast<DdwWidget *>(clientData);
  if (argc < 2) {
    Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " option ?arg arg ...?\"",
                     nullptr);
    return TCL_ERROR;
  }
  const char *word = argv[1];
  int code = TCL_OK;
  Tcl_Preserve(w);
  switch (word[0]) {
  case 'c':
    if (isPrefix(word, "cget", 2)) {
      if (argc != 3) {
        Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " cget option\"", nullptr);
        code = TCL_ERROR;
      } else {
        code = Tk_ConfigureValue(interp, w->tkwin, ddwSpecs, reinterpret_cast<char *>(w), argv[2], 0);
      }
    } else if (isPrefix(word, "configure", 3)) {
      if (argc == 2)
        code = Tk_ConfigureInfo(interp, w->tkwin, ddwSpecs, reinterpret_cast<char *>(w), nullptr, 0);
      else if (argc == 3)
        code = Tk_ConfigureInfo(interp, w->tkwin, ddwSpecs, reinterpret_cast<char *>(w), argv[2], 0);
      else
        code = ddwConfigure(w, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
    } else {
      goto unknown;
    }
    break;
  case 'd':
    if (!strcmp(word, "d") || !strcmp(word, "dd") || isPrefix(word, "ddsd", 3)) code = ddsdCmd(w);
    else if (isPrefix(word, "ddarea", 3)) code = patternCmd(w, true);
    else if (isPrefix(word, "ddline", 3)) code = patternCmd(w, false);
    else if (isPrefix(word, "dshow", 2)) code = ddwDshowCmd(w, argc, argv);
    else goto unknown;
    break;
  case 'g':
    if (!isPrefix(word, "getpal", 1)) goto unknown;
    code = getpalCmd(w, argc, argv);
    break;
  case 's':
    /* No palette object is made, so there is nothing to set. */
    if (!isPrefix(word, "setpal", 1)) goto unknown;
    if (argc > 2) {
      int n;
      code = Tcl_GetInt(interp, argv[2], &n);
    }
    break;
  case 'v':
    if (!isPrefix(word, "video", 1)) goto unknown;
    code = ddwVideoCmd(w, argc, argv);
    break;
  case 'u':
    if (!isPrefix(word, "update", 1)) goto unknown;
    ddwComputeColorTable(w, 1);
    code = ddwRedraw(w);
    break;
  default:
  unknown:
    Tcl_SetResult(interp, const_cast<char *>("unknown command"), TCL_STATIC);
    code = TCL_ERROR;
    break;
  }
  Tcl_Release(w);
  return code;
}

/*
 * ddwCmd --
 *     "ddw pathName ?options?": creates the widget.
 */
int ddwCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  Tk_Window main = static_cast<Tk_Window>(clientData);
  if (requireLibrary(interp, kLazyCairo) != TCL_OK) return TCL_ERROR;
  if (argc < 2) {
    Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " pathName ?options?\"",
                     nullptr);
    return TCL_ERROR;
  }
  Tk_Window tkwin = Tk_CreateWindowFromPath(interp, main, argv[1], nullptr);
  if (!tkwin) return TCL_ERROR;
  Tk_SetClass(tkwin, "DDW");
  DdwWidget *w = new DdwWidget;
  w->interp = interp;
  w->tkwin = tkwin;
  w->display = Tk_Display(tkwin);
  w->colormap = Tk_Colormap(tkwin);
  for (int i = 0; i < 256; i++) w->palette[i][0] = w->palette[i][1] = w->palette[i][2] = static_cast<unsigned char>(i);
  w->paletteCount = 256;
  w->client.changeProc = clientChanged;
  w->client.redrawProc = clientRedraw;
  w->client.rectProc = clientRect;
  w->client.owner = w;
  w->client.clientData = w;
  w->command = Tcl_CreateCommand(interp, Tk_PathName(tkwin), ddwWidgetCmd, w, ddwCommandDeleted);
  Tk_CreateEventHandler(tkwin, ExposureMask | StructureNotifyMask, ddwEventProc, w);

  w->background = Tk_GetColor(interp, tkwin, Tk_GetUid("#000000"));
  w->foreground = Tk_GetColor(interp, tkwin, Tk_GetUid("#ffffff"));
  if (!w->background || !w->foreground) {
    Tcl_SetResult(interp, const_cast<char *>("Error in allocate bg/fg colors"), TCL_STATIC);
    Tk_DestroyWindow(tkwin);
    return TCL_ERROR;
  }
  Tk_MakeWindowExist(tkwin);
  XGCValues values;
  values.graphics_exposures = False;
  values.background = w->background->pixel;
  values.foreground = w->foreground->pixel;
  w->gc = XCreateGC(w->display, Tk_WindowId(tkwin),
                    GCGraphicsExposures | GCBackground | GCForeground, &values);
  /* The option texts of the colours just allocated. */
  setStringField(&w->backgroundName, "#000000");
  setStringField(&w->foregroundName, "#ffffff");

  if (ddwConfigure(w, argc - 2, argv + 2, 0) != TCL_OK) {
    Tk_DestroyWindow(tkwin);
    return TCL_ERROR;
  }
  Tcl_SetResult(interp, const_cast<char *>(Tk_PathName(tkwin)), TCL_VOLATILE);
  return TCL_OK;
}

void ddwExit(ClientData) {}

}  // namespace

/*
 * Ddw_Init --
 *     Provides the package TK_DIRECTX 1.0 and creates "ddw".
 */
int Ddw_Init(Tcl_Interp *interp) {
  static bool exitInstalled = false;
  Tk_Window main = Tk_MainWindow(interp);
  if (!main) return TCL_ERROR;
  if (Tcl_PkgProvide(interp, "TK_DIRECTX", "1.0") != TCL_OK) return TCL_ERROR;
  Tcl_CreateCommand(interp, "ddw", ddwCmd, main, nullptr);
  if (!exitInstalled) {
    Tcl_CreateExitHandler(ddwExit, nullptr);
    exitInstalled = true;
  }
  return TCL_OK;
}

}  // namespace vesk
