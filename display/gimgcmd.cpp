/*
 * gimgcmd.cpp --
 *     The package-wide "gimg" command: the display's global switches
 *     (debug flag, render mode, 24-bit flag), the list of gimg images,
 *     Tcl's service mode, the version, and a process-wide list of palette
 *     colours that scripts allocate in the screen's colormap.
 */
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "core/text.h"
#include "display/colormap.h"
#include "display/colortab.h"
#include "display/gimg.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* The palette colours scripts allocated, newest first (Tcl allocator). */
unsigned long *paletteList = nullptr;
int paletteListLength = 0;

/* A word read as a long integer without checking ("abc" gives 0). */
long looseLong(const char *text) { return strtol(text, nullptr, 10); }

/* Puts count new pixels in front of the list; prints the outcome. */
void prependPalette(const unsigned char *table, int count) {
  unsigned long *pixels =
      count > 0 ? allocNearestColors(getDisplay(), getColormap(), table, count) : nullptr;
  if (!pixels) {
    vesk_printf("Fail to allocate palette.\n");
    return;
  }
  unsigned long *list = reinterpret_cast<unsigned long *>(Tcl_Alloc(
      static_cast<unsigned>(sizeof(unsigned long) * static_cast<size_t>(count + paletteListLength))));
  memcpy(list, pixels, sizeof(unsigned long) * static_cast<size_t>(count));
  if (paletteList)
    memcpy(list + count, paletteList, sizeof(unsigned long) * static_cast<size_t>(paletteListLength));
  if (paletteList) Tcl_Free(reinterpret_cast<char *>(paletteList));
  Tcl_Free(reinterpret_cast<char *>(pixels));
  paletteList = list;
  paletteListLength += count;
  vesk_printf("%d palettes allocated.\n", paletteListLength);
}

void appendColor(Tcl_Interp *interp, unsigned long pixel, int red, int green, int blue) {
  char item[96];
  snprintf(item, sizeof item, "{%lu %d %d %d} ", pixel, red, green, blue);
  Tcl_AppendResult(interp, item, nullptr);
}

/* gimgPalette -- "gimg palette option ?count?". */
int gimgPalette(Tcl_Interp *interp, int argc, const char *argv[]) {
  Display *display = getDisplay();
  Colormap colormap = getColormap();
  if (!display || !colormap || getVisualDepth() >= 9) return TCL_OK;
  if (argc < 3) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], " list|free|query|PSEUDO|BW|default",
                     nullptr);
    return TCL_OK;
  }
  const char *option = argv[2];
  if (strcmp(option, "free") == 0) {
    if (paletteListLength > 0) {
      freeColorPixels(display, colormap, paletteList, paletteListLength);
      Tcl_Free(reinterpret_cast<char *>(paletteList));
      vesk_printf("%d palettes freed.\n", paletteListLength);
      paletteList = nullptr;
      paletteListLength = 0;
      setPaletteKind(0);
    }
  } else if (strcmp(option, "list") == 0) {
    for (int i = 0; i < paletteListLength; i++) {
      XColor color;
      color.pixel = paletteList[i];
      if (!queryPaletteColor(display, colormap, &color)) {
        vesk_fprintf(stderr, "Undefined color index: %d\n", static_cast<int>(paletteList[i]));
        continue;
      }
      appendColor(interp, color.pixel, color.red, color.green, color.blue);
    }
  } else if (strcmp(option, "query") == 0) {
    int count = 256;
    if (argc > 3 && Tcl_GetInt(interp, argv[3], &count) != TCL_OK) return TCL_ERROR;
    if (count < 0) count = 256;
    std::vector<XColor> colors(static_cast<size_t>(count) + 1);
    const int n = queryPaletteColors(display, colormap, colors.data(), count);
    for (int i = 0; i < n; i++)
      appendColor(interp, colors[i].pixel, colors[i].red, colors[i].green, colors[i].blue);
  } else if (strcmp(option, "default") == 0) {
    unsigned char table[3 * kMaxColorEntries];
    buildColorTable(table, 0, 6, 6, 6);
    for (int i = 216; i < 256; i++) {
      const int g = roundToInt((i - 216) / (255.0001 - 216) * 255);
      table[3 * i] = table[3 * i + 1] = table[3 * i + 2] = static_cast<unsigned char>(g);
    }
    prependPalette(table, 256);
    setPaletteKind(3);
  } else if (strcmp(option, "PSEUDO") == 0) {
    unsigned char table[3 * kMaxColorEntries];
    prependPalette(table, buildColorTable(table, 0, 8, 8, 4));
    setPaletteKind(2);
  } else if (strcmp(option, "BW") == 0) {
    int count = 256;
    if (argc > 3 && Tcl_GetInt(interp, argv[3], &count) != TCL_OK) return TCL_ERROR;
    unsigned char table[3 * kMaxColorEntries];
    prependPalette(table, count >= 1 ? buildColorTable(table, count, 0, 0, 0) : 0);
    setPaletteKind(1);
  } else {
    Tcl_SetResult(interp, const_cast<char *>("Unknown palette option.\n"), TCL_STATIC);
    return TCL_ERROR;
  }
  return TCL_OK;
}

/* The subcommand word names a subcommand: its prefix, 3 letters at least. */
bool isSubcommand(const char *word, const char *name) {
  const size_t n = strlen(word);
  return n >= 3 && word[0] == name[0] && strncmp(word, name, n) == 0 && n <= strlen(name);
}

void setLongResult(Tcl_Interp *interp, long value) {
  char text[32];
  snprintf(text, sizeof text, "%ld", value);
  Tcl_SetResult(interp, text, TCL_VOLATILE);
}

/* gimgCmd -- "gimg subcommand ?arg ...?". */
int gimgCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 2) {
    Tcl_AppendResult(interp, "Usage: ", argv[0],
                     " debug deviceinfo mode names palette rgb24 service version", nullptr);
    return TCL_OK;
  }
  const char *word = argv[1];
  if (isSubcommand(word, "debug")) {
    if (argc > 2) setDebugFlag(static_cast<int>(looseLong(argv[2])));
    else setLongResult(interp, getDebugFlag());
  } else if (isSubcommand(word, "mode")) {
    if (argc > 2) setGimgRenderMode(static_cast<int>(looseLong(argv[2])));
    else setLongResult(interp, getGimgRenderMode());
  } else if (isSubcommand(word, "names")) {
    gimgNames(interp);
  } else if (isSubcommand(word, "palette")) {
    return gimgPalette(interp, argc, argv);
  } else if (isSubcommand(word, "rgb24")) {
    if (argc > 2) setRgb24Mode(static_cast<int>(looseLong(argv[2])));
    else setLongResult(interp, getRgb24Mode());
  } else if (isSubcommand(word, "service")) {
    if (argc == 2) {
      const int mode = Tcl_GetServiceMode();
      if (mode == TCL_SERVICE_NONE) Tcl_SetResult(interp, const_cast<char *>("none"), TCL_STATIC);
      else if (mode == TCL_SERVICE_ALL) Tcl_SetResult(interp, const_cast<char *>("all"), TCL_STATIC);
    } else if (argc == 3 && strcmp(argv[2], "none") == 0) {
      Tcl_SetServiceMode(TCL_SERVICE_NONE);
    } else if (argc == 3 && strcmp(argv[2], "all") == 0) {
      Tcl_SetServiceMode(TCL_SERVICE_ALL);
    } else {
      Tcl_SetResult(interp, const_cast<char *>("service [none|all]"), TCL_STATIC);
      return TCL_ERROR;
    }
  } else if (isSubcommand(word, "version")) {
    Tcl_SetResult(interp, const_cast<char *>(getPackageVersion()), TCL_STATIC);
  } else {
    Tcl_AppendResult(interp, "unknown gimg command\n", nullptr);
    return TCL_ERROR;
  }
  return TCL_OK;
}

/* gimgCmdDeleted -- the command goes: its palette colours are freed. */
void gimgCmdDeleted(ClientData) { freePaletteColors(); }

}  // namespace

Tcl_CmdProc *gimgCommandProc() { return gimgCmd; }
Tcl_CmdDeleteProc *gimgCommandDeleteProc() { return gimgCmdDeleted; }

/* freePaletteColors -- frees the scripts' palette colours (exit and deletion). */
void freePaletteColors() {
  if (paletteList && getDisplay() && getColormap())
    freeColorPixels(getDisplay(), getColormap(), paletteList, paletteListLength);
  if (paletteList) Tcl_Free(reinterpret_cast<char *>(paletteList));
  paletteList = nullptr;
  paletteListLength = 0;
}

}  // namespace vesk
