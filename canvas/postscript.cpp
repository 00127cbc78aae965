/*
 * postscript.cpp --
 *     "postscript": one page of Encapsulated PostScript of a canvas area,
 *     with the standard canvas prolog, and the writers item types use for
 *     colours, fonts, bitmaps, stipples, paths and images.  Items write in
 *     canvas pixels; the page set-up maps them to points.
 */
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <X11/Xutil.h>

#include "canvas/gcanvas.h"
#include "core/savefile.h"

namespace vesk {

namespace {

#define PS_OFFSET(field) static_cast<int>(offsetof(CanvasPsInfo, field))

Tk_ConfigSpec psConfigSpecs[] = {
    {TK_CONFIG_STRING, "-colormap", nullptr, nullptr, "", PS_OFFSET(colorVar), 0, nullptr},
    {TK_CONFIG_STRING, "-colormode", nullptr, nullptr, "", PS_OFFSET(colorMode), 0, nullptr},
    {TK_CONFIG_STRING, "-file", nullptr, nullptr, "", PS_OFFSET(fileName), 0, nullptr},
    {TK_CONFIG_STRING, "-channel", nullptr, nullptr, "", PS_OFFSET(channelName), 0, nullptr},
    {TK_CONFIG_STRING, "-fontmap", nullptr, nullptr, "", PS_OFFSET(fontVar), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-height", nullptr, nullptr, "", PS_OFFSET(height), 0, &wholePixelOption},
    {TK_CONFIG_ANCHOR, "-pageanchor", nullptr, nullptr, "", PS_OFFSET(pageAnchor), 0, nullptr},
    {TK_CONFIG_STRING, "-pageheight", nullptr, nullptr, "", PS_OFFSET(pageHeightString), 0,
     nullptr},
    {TK_CONFIG_STRING, "-pagewidth", nullptr, nullptr, "", PS_OFFSET(pageWidthString), 0,
     nullptr},
    {TK_CONFIG_STRING, "-pagex", nullptr, nullptr, "", PS_OFFSET(pageXString), 0, nullptr},
    {TK_CONFIG_STRING, "-pagey", nullptr, nullptr, "", PS_OFFSET(pageYString), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-prolog", nullptr, nullptr, "", PS_OFFSET(prolog), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-rotate", nullptr, nullptr, "", PS_OFFSET(rotate), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-width", nullptr, nullptr, "", PS_OFFSET(width), 0, &wholePixelOption},
    {TK_CONFIG_CUSTOM, "-x", nullptr, nullptr, "", PS_OFFSET(x), 0, &wholePixelOption},
    {TK_CONFIG_CUSTOM, "-y", nullptr, nullptr, "", PS_OFFSET(y), 0, &wholePixelOption},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

/*
 * Writes the result so far to the file or the channel (when there is one)
 * and resets it.  A failed write is kept and reported at the end.
 */
void flushToChannel(Tcl_Interp *interp, CanvasPsInfo *ps) {
  if (ps->file) {
    int length;
    const char *text = Tcl_GetStringFromObj(Tcl_GetObjResult(interp), &length);
    Tcl_DString external;
    Tcl_UtfToExternalDString(nullptr, text, length, &external);
    ps->file->write(Tcl_DStringValue(&external), static_cast<size_t>(Tcl_DStringLength(&external)));
    Tcl_DStringFree(&external);
  } else if (ps->chan) {
    if (Tcl_WriteObj(ps->chan, Tcl_GetObjResult(interp)) < 0 && !ps->writeError)
      ps->writeError = Tcl_GetErrno();
  } else {
    return;
  }
  Tcl_ResetResult(interp);
}

/* True once a write to the file or channel has failed: the page is lost. */
bool writeFailed(CanvasPsInfo *ps) { return ps->writeError || (ps->file && ps->file->error()); }

void appendf(Tcl_Interp *interp, const char *format, ...) __attribute__((format(printf, 2, 3)));
void appendf(Tcl_Interp *interp, const char *format, ...) {
  va_list args;
  va_start(args, format);
  char buffer[512];
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  Tcl_AppendResult(interp, buffer, nullptr);
}

bool boxMeetsArea(GcanvasItem *item, CanvasPsInfo *ps) {
  return ps->x2 > item->x1 && ps->x <= item->x2 && ps->y2 > item->y1 && ps->y <= item->y2;
}

}  // namespace

/*
 * psGetPoints --
 *     A page distance in points: a number, optional blanks, an optional
 *     unit letter c, i, m or p, optional blanks.
 */
int psGetPoints(Tcl_Interp *interp, const char *text, double *points) {
  char *end;
  double d = strtod(text, &end);
  if (end != text) {
    while (*end && isspace(static_cast<unsigned char>(*end))) end++;
    switch (*end) {
    case 'c': d *= 72.0 / 2.54; end++; break;
    case 'i': d *= 72.0; end++; break;
    case 'm': d *= 72.0 / 25.4; end++; break;
    case 0: break;
    case 'p': end++; break;
    default: goto error;
    }
    while (*end && isspace(static_cast<unsigned char>(*end))) end++;
    if (*end == 0) {
      *points = d;
      return TCL_OK;
    }
  }
error:
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "bad distance \"", text, "\"", nullptr);
  return TCL_ERROR;
}

double psY(double y, CanvasPsInfo *ps) { return ps->y2 - y; }

int psColor(Tcl_Interp *interp, CanvasPsInfo *ps, XColor *color) {
  if (!ps || ps->prepass || !color) return TCL_OK;
  if (ps->colorVar) {
    const char *mapped = Tcl_GetVar2(interp, ps->colorVar, Tk_NameOfColor(color), 0);
    if (mapped) {
      Tcl_AppendResult(interp, mapped, "\n", nullptr);
      return TCL_OK;
    }
  }
  appendf(interp, "%.3f %.3f %.3f setrgbcolor AdjustColor\n", ((color->red >> 8) & 0xff) / 255.0,
          ((color->green >> 8) & 0xff) / 255.0, ((color->blue >> 8) & 0xff) / 255.0);
  return TCL_OK;
}

int psFont(Tcl_Interp *interp, CanvasPsInfo *ps, Tk_Font font) {
  if (!ps) return TCL_OK;
  std::string name;
  int size = 0;
  const char *fontName = Tk_NameOfFont(font);
  const char *entry = ps->fontVar ? Tcl_GetVar2(interp, ps->fontVar, fontName, 0) : nullptr;
  if (entry) {
    int argc;
    const char **argv;
    double d = 0;
    bool ok = Tcl_SplitList(nullptr, entry, &argc, &argv) == TCL_OK;
    if (ok) {
      ok = argc == 2 && Tcl_GetDouble(nullptr, argv[1], &d) == TCL_OK && d > 0;
      if (ok) {
        name = argv[0];
        size = saturatingInt(d);
      }
      ckfree(reinterpret_cast<char *>(argv));
    }
    if (!ok) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "bad font map entry for \"", fontName, "\": \"", entry, "\"",
                       nullptr);
      return TCL_ERROR;
    }
  } else {
    Tcl_DString ds;
    Tcl_DStringInit(&ds);
    size = Tk_PostscriptFontName(font, &ds);
    name = Tcl_DStringValue(&ds);
    Tcl_DStringFree(&ds);
  }
  appendf(interp, "/%s findfont %d scalefont%s setfont\n", name.c_str(), size,
          strcasecmp(name.c_str(), "Symbol") != 0 ? " ISOEncode" : "");
  int isNew;
  Tcl_CreateHashEntry(&ps->fontTable, name.c_str(), &isNew);
  return TCL_OK;
}

int psBitmap(Tcl_Interp *interp, Tk_Window tkwin, CanvasPsInfo *ps, Pixmap bitmap, int x, int y,
             int width, int height) {
  if (!ps || ps->prepass) return TCL_OK;
  Display *display = Tk_Display(tkwin);
  Window root;
  int dx, dy;
  unsigned int w, h, border, depth;
  XGetGeometry(display, bitmap, &root, &dx, &dy, &w, &h, &border, &depth);
  XImage *image = XGetImage(display, bitmap, 0, 0, w, h, 1, XYPixmap);
  if (!image) return TCL_OK;
  std::string text = "<";
  int bytes = 0;
  for (int row = y + height - 1; row >= y; row--) {
    int value = 0, mask = 0x80;
    for (int col = x; col < x + width; col++) {
      if (XGetPixel(image, col, row)) value |= mask;
      mask >>= 1;
      if (mask == 0) {
        char hex[4];
        snprintf(hex, sizeof hex, "%02x", value);
        text += hex;
        value = 0;
        mask = 0x80;
        if (++bytes >= 30) {
          text += "\n";
          bytes = 0;
        }
      }
    }
    if (mask != 0x80) {
      char hex[4];
      snprintf(hex, sizeof hex, "%02x", value);
      text += hex;
      if (++bytes >= 30) {
        text += "\n";
        bytes = 0;
      }
    }
  }
  text += ">";
  XDestroyImage(image);
  Tcl_AppendResult(interp, text.c_str(), nullptr);
  return TCL_OK;
}

int psStipple(Tcl_Interp *interp, Tk_Window tkwin, CanvasPsInfo *ps, Pixmap bitmap) {
  if (!ps || ps->prepass) return TCL_OK;
  Window root;
  int dx, dy;
  unsigned int w, h, border, depth;
  XGetGeometry(Tk_Display(tkwin), bitmap, &root, &dx, &dy, &w, &h, &border, &depth);
  appendf(interp, "%d %d ", static_cast<int>(w), static_cast<int>(h));
  if (psBitmap(interp, tkwin, ps, bitmap, 0, 0, static_cast<int>(w), static_cast<int>(h)) !=
      TCL_OK)
    return TCL_ERROR;
  Tcl_AppendResult(interp, " StippleFill\n", nullptr);
  return TCL_OK;
}

void psPath(Tcl_Interp *interp, CanvasPsInfo *ps, const double *points, int n) {
  if (!ps || ps->prepass || n <= 0) return;
  appendf(interp, "%.15g %.15g moveto\n", points[0], psY(points[1], ps));
  for (int i = 1; i < n; i++)
    appendf(interp, "%.15g %.15g lineto\n", points[2 * i], psY(points[2 * i + 1], ps));
}

/*
 * psXImage --
 *     The image operator for a rectangle of an XImage in the window's
 *     visual, as monochrome bits, gray bytes or RGB triples.
 */
int psXImage(Tcl_Interp *interp, Tk_Window tkwin, CanvasPsInfo *ps, XImage *image, int x, int y,
             int width, int height) {
  if (!ps || ps->prepass) return TCL_OK;
  Visual *visual = Tk_Visual(tkwin);
  Display *display = Tk_Display(tkwin);
  int ncolors = visual->map_entries;
  bool direct = visual->c_class == TrueColor || visual->c_class == DirectColor;
  auto shiftOf = [](unsigned long mask) {
    int s = 0;
    if (!mask) return 0;
    while (!(mask & 1)) {
      mask >>= 1;
      s++;
    }
    return s;
  };
  int rs = shiftOf(visual->red_mask), gs = shiftOf(visual->green_mask),
      bs = shiftOf(visual->blue_mask);
  std::vector<XColor> cdata(static_cast<size_t>(ncolors));
  for (int i = 0; i < ncolors; i++) {
    cdata[i].pixel = direct ? ((static_cast<unsigned long>(i) << rs) & visual->red_mask) |
                                  ((static_cast<unsigned long>(i) << gs) & visual->green_mask) |
                                  ((static_cast<unsigned long>(i) << bs) & visual->blue_mask)
                            : static_cast<unsigned long>(i);
    cdata[i].flags = DoRed | DoGreen | DoBlue;
  }
  if (ncolors > 0) XQueryColors(display, Tk_Colormap(tkwin), cdata.data(), ncolors);
  int level = ps->colorLevel;
  if (visual->c_class == StaticGray || visual->c_class == GrayScale) {
    level = ncolors == 2 ? 0 : 1;
  }
  int bytesPerLine, maxWidth;
  if (level == 0) {
    bytesPerLine = (width + 7) / 8;
    maxWidth = 240000;
  } else if (level == 1) {
    bytesPerLine = width;
    maxWidth = 60000;
  } else {
    bytesPerLine = 3 * width;
    maxWidth = 20000;
  }
  if (bytesPerLine > 60000) {
    Tcl_ResetResult(interp);
    appendf(interp, "Can't generate Postscript for images more than %d pixels wide", maxWidth);
    return TCL_ERROR;
  }
  int maxRows = bytesPerLine > 0 ? 60000 / bytesPerLine : height;
  if (maxRows < 1) maxRows = 1;
  auto colorOf = [&](unsigned long pixel, double *r, double *g, double *b) {
    auto at = [&](size_t i) -> const XColor & {
      static XColor black{};
      return i < cdata.size() ? cdata[i] : black;
    };
    if (direct) {
      *r = at((pixel & visual->red_mask) >> rs).red / 65535.0;
      *g = at((pixel & visual->green_mask) >> gs).green / 65535.0;
      *b = at((pixel & visual->blue_mask) >> bs).blue / 65535.0;
    } else {
      const XColor &c = at(pixel);
      *r = c.red / 65535.0;
      *g = c.green / 65535.0;
      *b = c.blue / 65535.0;
    }
  };
  std::string text;
  char hex[16];
  for (int band = height - 1; band >= 0; band -= maxRows) {
    int rows = band + 1 < maxRows ? band + 1 : maxRows;
    snprintf(hex, sizeof hex, "%d", width);
    text += hex;
    text += " ";
    snprintf(hex, sizeof hex, "%d", rows);
    text += hex;
    text += level == 0 ? " 1 matrix {\n<" : " 8 matrix {\n<";
    int digits = 0;
    for (int yy = band; yy > band - rows; yy--) {
      int mask = 0x80, data = 0;
      for (int xx = x; xx < x + width; xx++) {
        double r, g, b;
        colorOf(XGetPixel(image, xx, y + yy), &r, &g, &b);
        if (level == 0) {
          if (0.30 * r + 0.59 * g + 0.11 * b > 0.5) data |= mask;
          mask >>= 1;
          if (mask == 0) {
            snprintf(hex, sizeof hex, "%02X", data);
            text += hex;
            digits += 2;
            mask = 0x80;
            data = 0;
          }
        } else if (level == 1) {
          snprintf(hex, sizeof hex, "%02X",
                   static_cast<int>((0.30 * r + 0.59 * g + 0.11 * b) * 255 + 0.5));
          text += hex;
          digits += 2;
        } else {
          snprintf(hex, sizeof hex, "%02X%02X%02X", static_cast<int>(r * 255 + 0.5),
                   static_cast<int>(g * 255 + 0.5), static_cast<int>(b * 255 + 0.5));
          text += hex;
          digits += 6;
        }
        if (digits > 60) {
          text += "\n";
          digits = 0;
        }
      }
      if (level == 0 && mask != 0x80) {
        snprintf(hex, sizeof hex, "%02X", data);
        text += hex;
        digits += 2;
      }
    }
    text += level == 2 ? ">\n} false 3 colorimage\n" : ">\n} image\n";
    snprintf(hex, sizeof hex, "%d", rows);
    text += "0 ";
    text += hex;
    text += " translate\n";
  }
  Tcl_AppendResult(interp, text.c_str(), nullptr);
  return TCL_OK;
}

/*
 * postscriptCmd --
 *     The "postscript" subcommand.
 * Results:      the PostScript, or empty with -file/-channel; TCL_ERROR
 *               with a message.
 */
int postscriptCmd(GcanvasRecord *canvas, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  Tk_Window tkwin = canvas->c.tkwin;
  CanvasPsInfo info;
  CanvasPsInfo *ps = &info;
  CanvasPsInfo *saved = canvas->psInfo;
  canvas->psInfo = ps;
  ps->x = canvas->xOrigin;
  ps->y = canvas->yOrigin;
  ps->tkwin = tkwin;
  Tcl_InitHashTable(&ps->fontTable, TCL_STRING_KEYS);
  SaveFile file;
  int result = Tk_ConfigureWidget(interp, tkwin, psConfigSpecs, objc - 2,
                                  objWords(objv + 2),
                                  reinterpret_cast<char *>(ps), TK_CONFIG_ARGV_ONLY | TK_CONFIG_OBJS);
  int dx = 0, dy = 0;
  char date[64];
  time_t now;
  if (result != TCL_OK) goto cleanup;
  result = TCL_ERROR;
  if (ps->width == -1) ps->width = Tk_Width(tkwin);
  if (ps->height == -1) ps->height = Tk_Height(tkwin);
  // Each within +-2^30 (the pixel options), their sum held within int.
  ps->x2 = saturatingInt(static_cast<double>(ps->x) + ps->width);
  ps->y2 = saturatingInt(static_cast<double>(ps->y) + ps->height);
  if (ps->pageXString && psGetPoints(interp, ps->pageXString, &ps->pageX) != TCL_OK) goto cleanup;
  if (ps->pageYString && psGetPoints(interp, ps->pageYString, &ps->pageY) != TCL_OK) goto cleanup;
  if (ps->pageWidthString) {
    if (psGetPoints(interp, ps->pageWidthString, &ps->scale) != TCL_OK) goto cleanup;
    ps->scale /= ps->width;
  } else if (ps->pageHeightString) {
    if (psGetPoints(interp, ps->pageHeightString, &ps->scale) != TCL_OK) goto cleanup;
    ps->scale /= ps->height;
  } else {
    ps->scale = (72.0 / 25.4) * WidthMMOfScreen(Tk_Screen(tkwin)) / WidthOfScreen(Tk_Screen(tkwin));
  }
  switch (ps->pageAnchor) {
  case TK_ANCHOR_NW: case TK_ANCHOR_W: case TK_ANCHOR_SW: dx = 0; break;
  case TK_ANCHOR_N: case TK_ANCHOR_CENTER: case TK_ANCHOR_S: dx = -ps->width / 2; break;
  default: dx = -ps->width; break;
  }
  switch (ps->pageAnchor) {
  case TK_ANCHOR_NW: case TK_ANCHOR_N: case TK_ANCHOR_NE: dy = -ps->height; break;
  case TK_ANCHOR_W: case TK_ANCHOR_CENTER: case TK_ANCHOR_E: dy = -ps->height / 2; break;
  default: dy = 0; break;
  }
  if (!ps->colorMode) {
    ps->colorLevel = 2;
  } else {
    size_t length = strlen(ps->colorMode);
    if (strncmp(ps->colorMode, "monochrome", length) == 0) ps->colorLevel = 0;
    else if (strncmp(ps->colorMode, "gray", length) == 0) ps->colorLevel = 1;
    else if (strncmp(ps->colorMode, "color", length) == 0) ps->colorLevel = 2;
    else {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "bad color mode \"", ps->colorMode, "\": must be monochrome, ",
                       "gray, or color", nullptr);
      goto cleanup;
    }
  }
  if (ps->fileName) {
    if (ps->channelName) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "can't specify both -file", " and -channel", nullptr);
      goto cleanup;
    }
    if (Tcl_IsSafe(interp)) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "can't specify -file in a", " safe interpreter", nullptr);
      goto cleanup;
    }
    Tcl_DString buffer;
    const char *path = Tcl_TranslateFileName(interp, ps->fileName, &buffer);
    if (!path) goto cleanup;
    bool opened = file.open(path);
    Tcl_DStringFree(&buffer);
    if (!opened) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "couldn't open \"", ps->fileName, "\": ",
                       Tcl_ErrnoMsg(file.error()), nullptr);
      goto cleanup;
    }
    ps->file = &file;
  }
  if (ps->channelName) {
    int mode;
    ps->chan = Tcl_GetChannel(interp, ps->channelName, &mode);
    if (!ps->chan) goto cleanup;
    if (!(mode & TCL_WRITABLE)) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "channel \"", ps->channelName, "\" wasn't opened for writing",
                       nullptr);
      ps->chan = nullptr;
      goto cleanup;
    }
  }
  Tcl_ResetResult(interp);

  ps->prepass = 1;
  for (GcanvasItem *item = canvas->c.firstItemPtr; item; item = item->nextPtr) {
    if (!boxMeetsArea(item, ps) || !item->typePtr->postscriptProc) continue;
    int code = item->typePtr->postscriptProc(interp, &canvas->c, item, 1);
    Tcl_ResetResult(interp);
    if (code != TCL_OK) break;
  }
  ps->prepass = 0;

  if (ps->prolog) {
    Tcl_AppendResult(interp, "%!PS-Adobe-3.0 EPSF-3.0\n", "%%Creator: Tk Canvas Widget\n",
                     "%%Title: Window ", Tk_PathName(tkwin), "\n", nullptr);
    time(&now);
    struct tm tmNow;
    localtime_r(&now, &tmNow);
    asctime_r(&tmNow, date);
    Tcl_AppendResult(interp, "%%CreationDate: ", date, nullptr);
    if (!ps->rotate)
      appendf(interp, "%%%%BoundingBox: %d %d %d %d\n",
              saturatingInt(ps->pageX + ps->scale * dx),
              saturatingInt(ps->pageY + ps->scale * dy),
              saturatingInt(ps->pageX + ps->scale * (dx + ps->width) + 1.0),
              saturatingInt(ps->pageY + ps->scale * (dy + ps->height) + 1.0));
    else
      appendf(interp, "%%%%BoundingBox: %d %d %d %d\n",
              saturatingInt(ps->pageX - ps->scale * (dy + ps->height)),
              saturatingInt(ps->pageY + ps->scale * dx),
              saturatingInt(ps->pageX - ps->scale * dy + 1.0),
              saturatingInt(ps->pageY + ps->scale * (dx + ps->width) + 1.0));
    Tcl_AppendResult(interp, "%%Pages: 1\n", "%%DocumentData: Clean7Bit\n", "%%Orientation: ",
                     ps->rotate ? "Landscape\n" : "Portrait\n", nullptr);
    const char *lead = "%%DocumentNeededResources: font ";
    Tcl_HashSearch search;
    for (Tcl_HashEntry *e = Tcl_FirstHashEntry(&ps->fontTable, &search); e;
         e = Tcl_NextHashEntry(&search)) {
      Tcl_AppendResult(interp, lead, Tcl_GetHashKey(&ps->fontTable, e), "\n", nullptr);
      lead = "%%+ font ";
    }
    Tcl_AppendResult(interp, "%%EndComments\n\n", nullptr);
    for (const char *const *chunk = psProlog; *chunk; chunk++)
      Tcl_AppendResult(interp, *chunk, nullptr);
    flushToChannel(interp, ps);
    appendf(interp, "%%%%BeginSetup\n/CL %d def\n", ps->colorLevel);
    for (Tcl_HashEntry *e = Tcl_FirstHashEntry(&ps->fontTable, &search); e;
         e = Tcl_NextHashEntry(&search))
      Tcl_AppendResult(interp, "%%IncludeResource: font ", Tcl_GetHashKey(&ps->fontTable, e),
                       "\n", nullptr);
    Tcl_AppendResult(interp, "%%EndSetup\n\n", "%%Page: 1 1\n", "save\n", nullptr);
    appendf(interp, "%.1f %.1f translate\n", ps->pageX, ps->pageY);
    if (ps->rotate) Tcl_AppendResult(interp, "90 rotate\n", nullptr);
    appendf(interp, "%.4g %.4g scale\n", ps->scale, ps->scale);
    appendf(interp, "%d %d translate\n", saturatingInt(static_cast<double>(dx) - ps->x), dy);
    appendf(interp, "%d %.15g moveto %d %.15g lineto %d %.15g lineto %d %.15g", ps->x,
            psY(ps->y, ps), ps->x2, psY(ps->y, ps), ps->x2, psY(ps->y2, ps), ps->x,
            psY(ps->y2, ps));
    Tcl_AppendResult(interp, " lineto closepath clip newpath\n", nullptr);
  }
  flushToChannel(interp, ps);

  for (GcanvasItem *item = canvas->c.firstItemPtr; item; item = item->nextPtr) {
    if (!boxMeetsArea(item, ps) || !item->typePtr->postscriptProc) continue;
    if (item->state == STATE_HIDDEN) continue;
    Tcl_AppendResult(interp, "gsave\n", nullptr);
    if (item->typePtr->postscriptProc(interp, &canvas->c, item, 0) != TCL_OK) {
      char msg[80];
      snprintf(msg, sizeof msg, "\n    (generating Postscript for item %d)", item->id);
      Tcl_AddErrorInfo(interp, msg);
      goto cleanup;
    }
    Tcl_AppendResult(interp, "grestore\n", nullptr);
    flushToChannel(interp, ps);
    if (writeFailed(ps)) break;
  }
  if (ps->prolog)
    Tcl_AppendResult(interp, "restore showpage\n\n", "%%Trailer\nend\n%%EOF\n", nullptr);
  flushToChannel(interp, ps);
  if (ps->chan && !ps->writeError && Tcl_Flush(ps->chan) != TCL_OK) ps->writeError = Tcl_GetErrno();
  if (ps->file) ps->file->commit();
  if (writeFailed(ps)) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "error writing \"", ps->file ? ps->fileName : ps->channelName,
                     "\": ", Tcl_ErrnoMsg(ps->file ? ps->file->error() : ps->writeError),
                     nullptr);
    goto cleanup;
  }
  result = TCL_OK;

cleanup:
  Tk_FreeOptions(psConfigSpecs, reinterpret_cast<char *>(ps), canvas->c.display, 0);
  Tcl_DeleteHashTable(&ps->fontTable);
  canvas->psInfo = saved;
  return result;
}

}  // namespace vesk
