/*
 * gimginstance.cpp --
 *     The command of each gimg image: the dispatcher with its matching
 *     rules, and the subcommands that work on the display state (options,
 *     rendering on demand, residency, enhancement, lookup tables, value
 *     ranges, palette edits and captures of the view).
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/text.h"
#include "display/capture.h"
#include "display/colortab.h"
#include "display/gimg.h"

namespace vesk {

/* ---- shared helpers of the subcommands ---- */

std::vector<std::string> splitItems(const char *text) {
  std::vector<std::string> items;
  std::string item;
  for (const char *p = text;; p++) {
    if (*p == ',' || *p == ' ' || *p == '\0') {
      if (!item.empty()) items.push_back(item);
      item.clear();
      if (*p == '\0') break;
    } else {
      item += *p;
    }
  }
  return items;
}

/* "%d" or "%d-%d" exactly; hi = lo for a single value. */
bool parseRangeItem(const std::string &item, int *lo, int *hi) {
  const char *p = item.c_str();
  char *end;
  long a = strtol(p, &end, 10);
  if (end == p) return false;
  long b = a;
  if (*end == '-') {
    const char *q = end + 1;
    b = strtol(q, &end, 10);
    if (end == q) return false;
  }
  if (*end != '\0' || a < -1000000 || a > 1000000 || b < -1000000 || b > 1000000) return false;
  *lo = static_cast<int>(a);
  *hi = static_cast<int>(b);
  return true;
}

void appendFormat(Tcl_Interp *interp, const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Tcl_AppendResult(interp, text, nullptr);
}

int gimgError(Tcl_Interp *interp, const char *message) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, message, nullptr);
  return TCL_ERROR;
}

namespace {

int usage(Tcl_Interp *interp, const char *command, const char *rest) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "Usage: ", command, rest, nullptr);
  return TCL_ERROR;
}

/* "makepixmap": renders the whole view into the cached pixmaps. */
int makePixmapCmd(GimgMaster *master, Tcl_Interp *, int, const char *[]) {
  if (master->image && !master->viewValid)
    makePixmap(master, nullptr, master->image, &master->viewPixmap, &master->framePixmap,
               &master->maskPixmap, &master->xMap, &master->yMap, nullptr);
  return TCL_OK;
}

/* "resident ?flag?": loads every line and closes the file, or reopens it. */
int residentCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (!master->image) return TCL_OK;
  int flag = 1;
  if (argc > 2 && Tcl_GetInt(interp, argv[2], &flag) != TCL_OK) return TCL_ERROR;
  const int result = setRAMImageResident(master->image, flag);
  appendFormat(interp, "%d", result);
  return result ? TCL_OK : TCL_ERROR;
}

/* "graph id coords": outlines a fixed square in the view pixmap. */
int graphCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (!master->viewPixmap.pixmap || master->viewPixmap.borrowed)
    return gimgError(interp, "view port not defined.\n");
  if (argc < 3) {
    Tcl_ResetResult(interp);
    appendFormat(interp, "Usage: %s %s id coords\n", argv[0], argv[1]);
    return TCL_ERROR;
  }
  if (!master->drawGC && !makeDrawGC(master)) return gimgError(interp, "Error in creating drawGC.\n");
  XDrawRectangle(master->display, master->viewPixmap.pixmap, master->gc, 0, 0, 128, 128);
  gimgChanged(master);
  return TCL_OK;
}

/* "enhance mode ?std?": the tables with another function, -func unchanged. */
int enhanceCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (!master->image) return gimgError(interp, "Image not configured");
  if (argc < 3 || argc > 4)
    return usage(interp, argv[0], (std::string(" ") + argv[1] + " [linear | hists | histeq] [std]").c_str());
  double stdFactor = 2.5;
  if (argc > 3 && Tcl_GetDouble(interp, argv[3], &stdFactor) != TCL_OK) return TCL_ERROR;
  static const char *const modes[] = {"none", "linear", "hists", "histeq"};
  int mode = 0;
  for (int i = 0; i < 4 && !mode; i++)
    if (compareNoCase(argv[2], modes[i]) == 0) mode = i + 1;
  if (!mode) return gimgError(interp, "Unknown enhance mode.");
  buildGimgLuts(master, mode, stdFactor);
  imageRedrawProc(master);
  return TCL_OK;
}

/* "getLookup ?internal? ?indices?": entries of the user or channel table. */
int getLookupCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc == 3 && strcmp(argv[2], "?") == 0)
    return usage(interp, argv[0], " getLookup [?indices?|internal ?indices?]");
  int first = 2;
  unsigned char (*lut)[256] = master->userLut;
  if (argc > 2 && strcmp(argv[2], "internal") == 0) {
    lut = master->channelLut;
    first = 3;
  }
  const int n = master->header.nindices > 0 ? std::min(master->header.nindices, 256) : 256;
  auto list = [&](int lo, int hi) {
    for (int i = lo; i <= hi; i++)
      appendFormat(interp, "{%d %d %d %d} ", i, lut[0][i], lut[1][i], lut[2][i]);
  };
  if (argc <= first) {
    list(0, n - 1);
    return TCL_OK;
  }
  for (int a = first; a < argc; a++) {
    for (const std::string &item : splitItems(argv[a])) {
      int lo, hi;
      if (!parseRangeItem(item, &lo, &hi) || lo < 0 || hi < lo || hi >= n) {
        Tcl_AppendResult(interp, "Invalid index", nullptr);
        return TCL_ERROR;
      }
      list(lo, hi);
    }
  }
  return TCL_OK;
}

/* "setLookup ?internal? ?lutList?": sets entries 1..255 of a table. */
int setLookupCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc > 4)
    return usage(interp, argv[0], " setLookup [?lutList?|[?internal lutlist?]]");
  if (argc == 2) {
    for (int c = 0; c < 3; c++)
      for (int i = 0; i < 256; i++) master->userLut[c][i] = static_cast<unsigned char>(i);
  } else {
    unsigned char (*lut)[256] = master->userLut;
    const char *listText = argv[2];
    if (strcmp(argv[2], "internal") == 0) {
      lut = master->channelLut;
      listText = argc > 3 ? argv[3] : nullptr;
    }
    if (listText) {
      int count;
      const char **items;
      if (Tcl_SplitList(interp, listText, &count, &items) != TCL_OK)
        return gimgError(interp, "Error in Tcl_SplitList.\n");
      for (int k = 0; k < count; k++) {
        int index;
        double v[3];
        const int got = sscanf(items[k], "%d %lf %lf %lf", &index, &v[0], &v[1], &v[2]);
        if (got < 1 || index < 1 || index > 255) continue;
        for (int c = 0; c < got - 1; c++)
          lut[c][index] = static_cast<unsigned char>(std::clamp(roundToInt(v[c]), 0, 255));
      }
      Tcl_Free(reinterpret_cast<char *>(items));
    }
  }
  if (argc < 4) buildGimgLuts(master, master->funcInForce, master->stdDev);
  if (master->update) gimgUpdate(master);
  return TCL_OK;
}

/* "setRange ?{low0 high0 ...}?": the value ranges of the channels. */
int setRangeCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  static const char *const rest = "setRange {low0 hihg0 low1 high1 low2 high2}";
  if (argc > 3) return usage(interp, argv[0], rest);
  if (argc == 2) {
    for (int c = 0; c < 3; c++) {
      master->low[c] = 0;
      master->high[c] = 255;
    }
  } else {
    double v[6];
    const int n = sscanf(argv[2], "%lf %lf %lf %lf %lf %lf", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    if (n != 2 && n != 4 && n != 6) return usage(interp, argv[0], rest);
    for (int c = 0; c < n / 2; c++) {
      master->low[c] = v[2 * c];
      master->high[c] = v[2 * c + 1];
    }
  }
  buildGimgLuts(master, master->funcInForce, master->stdDev);
  if (master->update > 0) gimgUpdate(master);
  return TCL_OK;
}

/* "getIndices ?format? ?indices?": entries of the master's palette. */
int getIndicesCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc > 4) return usage(interp, argv[0], " getIndice format [indices]");
  int format = 2;
  if (argc > 2) {
    if (compareNoCase(argv[2], "X") == 0) format = 0;
    else if (compareNoCase(argv[2], "XRGB") == 0) format = 1;
    else if (compareNoCase(argv[2], "RGB") == 0) format = 2;
    else return gimgError(interp, "Undefined color format.  Must be X, XRGB, or RGB.");
  }
  Tcl_ResetResult(interp);
  const unsigned char(*palette)[3] = master->header.palette;
  auto list = [&](int lo, int hi) {
    for (int i = lo; i <= hi; i++) {
      const int r = palette[i][0], g = palette[i][1], b = palette[i][2];
      if (format == 0) appendFormat(interp, "{%d #%02x%02x%02x} ", i, r, g, b);
      else if (format == 1) appendFormat(interp, "{%d %ld %ld %ld} ", i, static_cast<long>(r) << 8, static_cast<long>(g) << 8, static_cast<long>(b) << 8);
      else appendFormat(interp, "{%d %d %d %d} ", i, r, g, b);
    }
  };
  if (argc < 4) {
    list(0, std::min(master->header.nindices, 256) - 1);
    return TCL_OK;
  }
  for (const std::string &item : splitItems(argv[3])) {
    int lo, hi;
    if (!parseRangeItem(item, &lo, &hi) || lo < 0 || hi > 255 || lo > hi)
      return gimgError(interp, "invalid index specification\n");
    list(lo, hi);
  }
  return TCL_OK;
}

/* Sets the 1-bit colours from palette entries 0 and 1. */
void monoColorsFromPalette(GimgMaster *master) {
  if (master->header.bits != 1) return;
  char name[16];
  for (int i = 0; i < 2; i++) {
    const unsigned char *e = master->header.palette[i];
    snprintf(name, sizeof name, "#%02x%02x%02x", e[0], e[1], e[2]);
    XColor *color = Tk_GetColor(master->interp, master->tkwin, Tk_GetUid(name));
    if (!color) continue;
    XColor *&field = i == 0 ? master->fgColor : master->bgColor;
    if (field) Tk_FreeColor(field);
    field = color;
    (i == 0 ? master->foreground : master->background) = Tk_GetUid(name);
  }
  XSetForeground(master->display, master->gc, master->fgColor->pixel);
  XSetBackground(master->display, master->gc, master->bgColor->pixel);
}

/* "setIndices mode ?list? ?hi?": edits of the master's palette. */
int setIndicesCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  ImageHeader &h = master->header;
  const char *mode = argc > 2 ? argv[2] : "RESTORE";
  static const char *const modes[] = {"X", "XRGB", "RGB", "PSEUDO", "BW", "NONE", "RESTORE"};
  int m = -1;
  for (int i = 0; i < 7 && m < 0; i++)
    if (compareNoCase(mode, modes[i]) == 0) m = i;
  const std::string usageText = std::string("Usage: ") + argv[0] +
                                " setIndices X|XRGB|RGB|PSEUDO|BW|NONE|RESTORE palList|indiceList\n";
  if (m < 0) {
    Tcl_SetResult(interp, const_cast<char *>(usageText.c_str()), TCL_VOLATILE);
    return TCL_OK;
  }
  if (m == 5) {
    h.nindices = 0;
  } else if (m == 6) {
    RAMIMG *image = master->image;
    if (argc <= 3) {
      if (image) {
        memcpy(h.palette, image->header.palette, sizeof h.palette);
        h.nindices = image->header.nindices;
      }
    } else if (image && (image->header.nindices > 0 || master->layer > 0)) {
      for (const std::string &item : splitItems(argv[3])) {
        int lo, hi;
        if (!parseRangeItem(item, &lo, &hi) || lo < 0 || hi > 255 || lo > hi)
          return gimgError(interp, "index out of range.\n");
        for (int i = std::min(h.nindices, lo); i <= hi; i++)
          memcpy(h.palette[i], image->header.palette[i], 3);
        h.nindices = std::max(h.nindices, hi + 1);
      }
    }
  } else if (m <= 2) {
    if (argc != 4) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "Usage: ", argv[0], " setIndices ", mode, " colorIndices", nullptr);
      return TCL_ERROR;
    }
    if (h.nindices <= 0) h.nindices = buildColorTable(&h.palette[0][0], 256, 0, 0, 0);
    int count;
    const char **items;
    if (Tcl_SplitList(interp, argv[3], &count, &items) != TCL_OK) return TCL_ERROR;
    std::string failure;
    for (int k = 0; k < count && failure.empty(); k++) {
      int n;
      const char **words;
      if (Tcl_SplitList(interp, items[k], &n, &words) != TCL_OK) {
        failure = std::string(m == 0 ? "X" : m == 1 ? "XRGB" : "RGB") + " Color parse error: " + items[k];
        continue;
      }
      int rgb[3] = {0, 0, 0};
      bool ok = n == (m == 0 ? 2 : 4);
      if (ok && m == 0) {
        XColor color{};
        ok = XParseColor(master->display, master->colormap, words[1], &color) != 0;
        rgb[0] = color.red >> 8;
        rgb[1] = color.green >> 8;
        rgb[2] = color.blue >> 8;
      } else if (ok) {
        for (int c = 0; c < 3 && ok; c++) {
          ok = Tcl_GetInt(nullptr, words[c + 1], &rgb[c]) == TCL_OK;
          if (m == 1) rgb[c] >>= 8;
          rgb[c] = std::clamp(rgb[c], 0, 255);
        }
      }
      if (!ok) {
        failure = std::string(m == 0 ? "X" : m == 1 ? "XRGB" : "RGB") + " Color parse error: " + items[k];
      } else {
        for (const std::string &item : splitItems(words[0])) {
          int lo, hi;
          if (!parseRangeItem(item, &lo, &hi) || lo < 0 || hi > 255 || lo > hi) {
            failure = "Invalid color indices.\n";
            break;
          }
          for (int i = lo; i <= hi; i++)
            for (int c = 0; c < 3; c++) h.palette[i][c] = static_cast<unsigned char>(rgb[c]);
          h.nindices = std::max(h.nindices, hi + 1);
        }
      }
      Tcl_Free(reinterpret_cast<char *>(words));
    }
    Tcl_Free(reinterpret_cast<char *>(items));
    if (!failure.empty()) return gimgError(interp, failure.c_str());
    monoColorsFromPalette(master);
  } else {
    if (argc > 5) {
      Tcl_SetResult(interp, const_cast<char *>(usageText.c_str()), TCL_VOLATILE);
      return TCL_ERROR;
    }
    int lo = 0, hi = 255;
    if ((argc > 3 && Tcl_GetInt(interp, argv[3], &lo) != TCL_OK) ||
        (argc > 4 && Tcl_GetInt(interp, argv[4], &hi) != TCL_OK))
      return TCL_ERROR;
    lo = std::clamp(lo, 0, 254);
    hi = std::min(hi, 255);
    if (hi < lo) hi = lo + 1;
    unsigned char table[3 * 256];
    if (m == 3) buildColorTable(table, 0, 8, 8, 4);
    else buildColorTable(table, 256, 0, 0, 0);
    for (int i = 0; i < 256; i++) {
      const int t = i < lo ? 0 : i > hi ? 255 : roundToInt((i - lo) * 255.0 / (hi - lo));
      memcpy(h.palette[i], table + 3 * t, 3);
    }
    h.nindices = 256;
  }
  gimgPaletteChanged(master);
  return TCL_OK;
}

/* "capture rimgTag ?x0 y0 width height?": the view as a RAM image. */
int captureCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 3 || argc > 7)
    return usage(interp, argv[0], (std::string(" ") + argv[1] + " rimgTag [x0 y0 width height]").c_str());
  ViewPixmap *vp = &master->viewPixmap;
  if (vp->width <= 0 || vp->height <= 0) return gimgError(interp, "No pixmap.\n");
  int v[4] = {0, 0, vp->width, vp->height};
  for (int i = 0; i < 4 && 3 + i < argc; i++)
    if (Tcl_GetInt(interp, argv[3 + i], &v[i]) != TCL_OK) return TCL_ERROR;
  /* X pixmaps have 16-bit sides; a refused one must not end the process. */
  if (v[2] <= 0 || v[3] <= 0 || v[2] > 32767 || v[3] > 32767) return gimgError(interp, "No pixmap.\n");
  Tk_MakeWindowExist(master->tkwin);
  int failed = 0;
  Tk_ErrorHandler handler = Tk_CreateErrorHandler(
      master->display, -1, -1, -1,
      [](ClientData data, XErrorEvent *) {
        *static_cast<int *>(data) = 1;
        return 0;
      },
      &failed);
  Pixmap pixmap = Tk_GetPixmap(master->display, Tk_WindowId(master->tkwin), v[2], v[3], master->depth);
  XSync(master->display, False);
  Tk_DeleteErrorHandler(handler);
  if (failed && pixmap) {
    Tk_FreePixmap(master->display, pixmap);
    pixmap = 0;
  }
  if (!pixmap) return gimgError(interp, "No pixmap.\n");
  XFillRectangle(master->display, pixmap, master->gc, 0, 0, static_cast<unsigned>(v[2]),
                 static_cast<unsigned>(v[3]));
  GimgInstance temporary;
  temporary.master = master;
  gimgDisplay(&temporary, master->display, pixmap, v[0], v[1], v[2], v[3], 0, 0);
  int code = TCL_OK;
  if (strcmp(argv[2], "clipboard") == 0) {
    copyDrawableToClipboard(master->display, pixmap, 0, 0, v[2], v[3]);
  } else {
    RAMIMG *before = getRAMImageByTag(argv[2]);
    RAMIMG *image = makeRAMImageFromDrawable(argv[2], master->display, pixmap, master->colormap,
                                             0, 0, v[2], v[3]);
    if (!image) {
      code = gimgError(interp, "Error in rimgWindow...\n");
    } else {
      if (before == image) {
        closeRAMImage(image, nullptr);
        updateClient(image, nullptr, 1);
      } else {
        image->refCount--;
        image->keepCount++;
      }
      Tcl_SetResult(interp, const_cast<char *>(argv[2]), TCL_VOLATILE);
    }
  }
  Tk_FreePixmap(master->display, pixmap);
  return code;
}

/* One row of the dispatch table. */
struct Subcommand {
  char letter;
  const char *name;
  int minimum;     /* letters the word needs; 0: the whole name only */
  int (*proc)(GimgMaster *, Tcl_Interp *, int, const char *[]);
};

int cgetCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc != 3) return usage(interp, argv[0], " cget option");
  return Tk_ConfigureValue(interp, master->tkwin, gimgConfigSpecs, reinterpret_cast<char *>(master),
                           argv[2], 0);
}
int configureCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc <= 3)
    return Tk_ConfigureInfo(interp, master->tkwin, gimgConfigSpecs, reinterpret_cast<char *>(master),
                            argc == 3 ? argv[2] : nullptr, 0);
  return gimgConfigure(master, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
}
int classCmd(GimgMaster *, Tcl_Interp *interp, int, const char *[]) {
  Tcl_SetResult(interp, const_cast<char *>("GIMG"), TCL_STATIC);
  return TCL_OK;
}
int closeCmd(GimgMaster *master, Tcl_Interp *interp, int, const char *[]) {
  Tcl_Preserve(master);
  std::string script = "image delete " + master->name;
  Tcl_Eval(interp, script.c_str());
  Tcl_ResetResult(interp);
  Tcl_Release(master);
  return TCL_OK;
}
int namesCmd(GimgMaster *, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc != 2) return usage(interp, argv[0], " names");
  gimgNames(interp);
  return TCL_OK;
}
int updateCmd(GimgMaster *master, Tcl_Interp *, int, const char *[]) {
  gimgUpdate(master);
  return TCL_OK;
}

const Subcommand kSubcommands[] = {
    {'c', "cget", 4, cgetCmd},
    {'c', "configure", 4, configureCmd},
    {'c', "canv2file", 6, gimgCanvToFileCmd},
    {'c', "canv2img", 6, gimgImgXYCmd},
    {'c', "canv2map", 4, gimgCanvToMapCmd},
    {'c', "copy", 4, gimgCopyCmd},
    {'c', "crop", 4, gimgCopySubCmd},
    {'c', "capture", 4, captureCmd},
    {'c', "class", 0, classCmd},
    {'c', "close", 0, closeCmd},
    {'b', "bitmap2map", 7, gimgMapXYCmd},
    {'b', "bitmap2file", 7, gimgFileXYCmd},
    {'d', "dump", 3, gimgDumpCmd},
    {'e', "enhance", 3, enhanceCmd},
    {'f', "filexy", 5, gimgFileXYCmd},
    {'f', "file2canv", 5, gimgFileToCanvCmd},
    {'f', "file2screen", 5, gimgFileToCanvCmd},
    {'g', "getIndices", 4, getIndicesCmd},
    {'g', "getLookup", 4, getLookupCmd},
    {'g', "graph", 4, graphCmd},
    {'h', "hist", 4, gimgHistCmd},
    {'i', "imgxy", 4, gimgImgXYCmd},
    {'i', "img2canv", 4, gimgImgToCanvCmd},
    {'i', "img2map", 4, gimgImgToMapCmd},
    {'l', "lineh", 5, gimgLineCmd},
    {'l', "linev", 5, gimgLineCmd},
    {'m', "magnify", 4, gimgMagnifyCmd},
    {'m', "mapxy", 4, gimgMapXYCmd},
    {'m', "map2canv", 4, gimgMapToCanvCmd},
    {'m', "map2screen", 4, gimgMapToCanvCmd},
    {'m', "mask", 0, gimgMaskCmd},
    {'m', "makepixmap", 0, makePixmapCmd},
    {'m', "mean", 0, gimgStatsCmd},
    {'m', "min", 0, gimgStatsCmd},
    {'m', "max", 0, gimgStatsCmd},
    {'n', "names", 3, namesCmd},
    {'s', "stats", 3, gimgStatsCmd},
    {'s', "std", 3, gimgStatsCmd},
    {'s', "scrxy", 3, gimgImgToCanvCmd},
    {'s', "seek", 3, gimgSeekCmd},
    {'s', "setIndices", 3, setIndicesCmd},
    {'s', "setPixel", 3, gimgSetPixelCmd},
    {'s', "setLookup", 3, setLookupCmd},
    {'s', "setRange", 3, setRangeCmd},
    {'s', "section", 3, gimgSectionCmd},
    {'p', "pixel", 4, gimgPixelCmd},
    {'p', "profile", 4, gimgProfileCmd},
    {'r', "rotate", 2, gimgRotateCmd},
    {'r', "resident", 2, residentCmd},
    {'u', "update", 2, updateCmd},
    {'a', "animate", 2, gimgAnimateCmd},
};

}  // namespace

/*
 * gimgInstanceCmd --
 *     The command of each gimg image.  A subcommand word matches by its
 *     first letter, a least length per letter, then as a prefix of the
 *     name (or as the whole name for the exact ones); the first match in
 *     table order wins.
 */
int gimgInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  if (argc < 2) return usage(interp, argv[0], " option ?arg arg ...?");
  const char *word = argv[1];
  const size_t length = strlen(word);
  for (const Subcommand &s : kSubcommands) {
    if (word[0] != s.letter) continue;
    const bool match = s.minimum == 0
                           ? strcmp(word, s.name) == 0
                           : length >= static_cast<size_t>(s.minimum) && strncmp(word, s.name, length) == 0;
    if (!match) continue;
    Tcl_Preserve(master);
    const int code = s.proc(master, interp, argc, argv);
    Tcl_Release(master);
    return code;
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "bad option \"", word,
                   "\": must be animate bitmap2file bitmap2map canv2file canv2img canv2map "
                   "capture config, cget, close class copy, dump, enhance, filexy, getIndices, "
                   "getLookup, graph, hist, imgxy, img2map, lineh, linev, magnify, mapxy, mask, "
                   "names, max, mean, min, pixel, profile, resident, rotate, section, scrxy, "
                   "seek, setIndices, setLookup setPixel, setRange, stats, std, update",
                   nullptr);
  return TCL_ERROR;
}

}  // namespace vesk
