/*
 * grass.cpp --
 *     The raster graphics driver's state and the "grass" command.  The
 *     driver owns no window: it draws into the RAM image of a virtual
 *     display, a compound widget of class "vdisp" kept in the global array
 *     "_comb".  Opening loads the drawing state from the display's entries,
 *     closing writes it back; scripts open and close the driver and call a
 *     few driver operations through "grass driver ...".
 */
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "core/families.h"
#include "display/gimg.h"
#include "widgets/comb.h"
#include "vesk/grass.h"
#include "vesk/stdio.h"
#include "widgets/grass.h"

namespace vesk {
namespace {

constexpr double kDegreesToRadians = 0.017453292519943295;

/* The one driver record, the driver pointer and the driver interpreter. */
VdispState vdispState;
VdispState *driverPointer = nullptr;
Tcl_Interp *theDriverInterp = nullptr;

constexpr const char *kGrassUsage =
    " driver fontCoord fontDef fontGet fontIndices fontSymbol fontList fontLoad fontSet";
constexpr const char *kDriverUsage =
    " driver ?options? (open_driver close_driver erase get_location_with_pointer "
    "get_location_with_line get_location_with_box move_abs move_rel text textsize "
    "textrotation)";

/* True when word is a prefix of name at least minimum characters long. */
bool isPrefix(const char *word, const char *name, size_t minimum) {
  size_t n = strlen(word);
  return n >= minimum && n <= strlen(name) && strncmp(word, name, n) == 0;
}

void setResult(Tcl_Interp *interp, const std::string &text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
}

/* Copies an entry, empty with false when it does not exist. */
bool readEntry(Tcl_Interp *interp, const char *path, const char *field, std::string *value) {
  const char *text = combGetKey(interp, combKey(path, field));
  *value = text ? text : "";
  return text != nullptr;
}

/* Writes the RGB table: all 256 triples, braced, one blank apart. */
std::string rgbTableText(const VdispState &s) {
  std::string text;
  char triple[48];
  for (int i = 0; i < 256; i++) {
    snprintf(triple, sizeof triple, "%s{%d %d %d}", i ? " " : "", s.rgb[i][0], s.rgb[i][1],
             s.rgb[i][2]);
    text += triple;
  }
  return text;
}

/*
 * loadRgbTable --
 *     Entry i of the list gives up to three integers (missing ones 0) as
 *     the bytes of rgb entry i; the colour count is the list's length.
 *     Only the first 256 elements fit the table.  Without the entry, or
 *     with one that is not a list, the table is the identity of 256.
 */
void loadRgbTable(VdispState &s, const std::string *list) {
  int n = 0;
  const char **elements = nullptr;
  if (list && Tcl_SplitList(nullptr, list->c_str(), &n, &elements) == TCL_OK) {
    if (n > 256) n = 256;
    for (int i = 0; i < n; i++) {
      int rgb[3] = {0, 0, 0};
      sscanf(elements[i], "%d %d %d", &rgb[0], &rgb[1], &rgb[2]);
      for (int k = 0; k < 3; k++) s.rgb[i][k] = static_cast<unsigned char>(rgb[k]);
    }
    Tcl_Free(reinterpret_cast<char *>(elements));
    s.colourCount = n;
    return;
  }
  for (int i = 0; i < 256; i++) s.rgb[i][0] = s.rgb[i][1] = s.rgb[i][2] = static_cast<unsigned char>(i);
  s.colourCount = 256;
}

void printPointerAnswer(int x, int y, int button) {
  vesk_printf("x:%d y:%d bt:%d\n", x, y, button);
}

/*
 * driverWord --
 *     "grass driver word ?args?": the driver words.
 */
int driverWord(Tcl_Interp *interp, int argc, const char **argv) {
  const char *word = argv[2];
  if (strcmp(word, "open_driver") == 0) {
    openVirtualDisplay();
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  if (strcmp(word, "close_driver") == 0) {
    R_close_driver();
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  if (!openDriver()) {
    setResult(interp, "driver not open.\n");
    return TCL_ERROR;
  }
  const int words = argc - 3;  /* after "grass driver word" */
  auto usage = [&](const char *text) {
    setResult(interp, text);
    return TCL_ERROR;
  };
  int code = TCL_OK;
  bool stabilize = true;
  if (strcmp(word, "erase") == 0) {
    R_erase();
  } else if (strcmp(word, "get_location_with_pointer") == 0) {
    if (words != 2) return usage("Usage: get_location_with_pointer x y\n");
    int x = wordToInt(argv[3]), y = wordToInt(argv[4]), button = 1;
    R_get_location_with_pointer(&x, &y, &button);
    printPointerAnswer(x, y, button);
    stabilize = false;
  } else if (strcmp(word, "get_location_with_line") == 0 ||
             strcmp(word, "get_location_with_box") == 0) {
    const bool line = word[18] == 'l';
    if (words != 4)
      return usage(line ? "Usage: get_location_with_line x0 y0 x1 y1\n"
                        : "Usage: get_location_with_box x0 y0 x1 y1\n");
    int x0 = wordToInt(argv[3]), y0 = wordToInt(argv[4]);
    int x1 = wordToInt(argv[5]), y1 = wordToInt(argv[6]), button = 1;
    if (line) R_get_location_with_line(x0, y0, &x1, &y1, &button);
    else R_get_location_with_box(x0, y0, &x1, &y1, &button);
    vesk_printf("x0:%d y0:%d x1:%d y1:%d bt:%d\n", x0, y0, x1, y1, button);
    stabilize = false;
  } else if (strcmp(word, "move_abs") == 0) {
    if (words != 2) return usage("Usage: move_abs x y");
    R_move_abs(wordToInt(argv[3]), wordToInt(argv[4]));
  } else if (strcmp(word, "move_rel") == 0) {
    if (words != 2) return usage("Usage: move_rel x y");
    R_move_rel(wordToInt(argv[3]), wordToInt(argv[4]));
  } else if (strcmp(word, "text") == 0) {
    if (words != 1) return usage("Usage: text textString");
    R_text(argv[3]);
  } else if (strcmp(word, "textsize") == 0) {
    if (words != 2) return usage("Usage: textsize width height");
    R_text_size(wordToInt(argv[3]), wordToInt(argv[4]));
  } else if (strcmp(word, "textrotation") == 0) {
    if (words != 1) return usage("Usage: textrotation angle");
    R_text_rotation(atof(argv[3]) * M_PI * (1.0 / 180.0));
  } else {
    return usage("unknown option");
  }
  if (stabilize) R_stabilize();
  Tcl_ResetResult(interp);
  return code;
}

/*
 * grassCmd --
 *     The "grass" command: driver words, font subcommands and the test form.
 */
int grassCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  theDriverInterp = interp;
  if (argc < 2) {
    setResult(interp, std::string("Usage: ") + argv[0] + kGrassUsage);
    return TCL_OK;
  }
  if (isPrefix(argv[1], "driver", 5)) {
    if (argc < 3) {
      setResult(interp, std::string("Usage: ") + argv[0] + kDriverUsage);
      return TCL_ERROR;
    }
    return driverWord(interp, argc, argv);
  }
  int code = grassFontCommand(interp, argc, argv);
  if (code != TCL_CONTINUE) return code;
  if (isPrefix(argv[1], "vaskTest", 3)) {
    int confirmed = vaskTest();
    setResult(interp, confirmed ? "1" : "0");
    return TCL_OK;
  }
  setResult(interp, "Unknown grass command.\n");
  return TCL_ERROR;
}

}  // namespace

VdispState &driverState() { return vdispState; }
Tcl_Interp *driverInterp() { return theDriverInterp; }
void setDriverInterp(Tcl_Interp *interp) { theDriverInterp = interp; }

VdispState *openDriver() {
  if (!driverPointer) return nullptr;
  RAMIMG *image = getRAMImageByTag(driverPointer->imageTag.c_str());
  driverPointer->image = image;
  return image ? driverPointer : nullptr;
}

int wordToInt(const char *word) {
  errno = 0;
  long v = strtol(word, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

/*
 * openVirtualDisplay --
 *     Closes the driver, then loads the state from the virtual display
 *     that the global "virtural_display" names.
 * Results:      1 when the driver is open; 0 after a message on stderr.
 *               A path of 128 characters or more, and a display whose
 *               image is not open, count as invalid paths.
 */
int openVirtualDisplay() {
  driverPointer = nullptr;
  Tcl_Interp *interp = theDriverInterp;
  const char *name =
      interp ? Tcl_GetVar2(interp, "virtural_display", nullptr, TCL_GLOBAL_ONLY) : nullptr;
  if (!name) {
    vesk_fprintf(stderr, "can't find virtural display.\n");
    return 0;
  }
  const std::string path = name;
  std::string text;
  RAMIMG *image = nullptr;
  if (path.size() < kVdispPathSize && readEntry(interp, path.c_str(), "class", &text) &&
      text == "vdisp" && readEntry(interp, path.c_str(), "rimage", &text))
    image = getRAMImageByTag(text.c_str());
  if (!image || image->header.nbands < 1) {
    vesk_fprintf(stderr, "invalid path for a virtural display.\n");
    return 0;
  }
  VdispState &s = vdispState;
  memcpy(s.path, path.c_str(), path.size() + 1);
  s.image = image;
  s.imageTag = text;
  s.view = readEntry(interp, s.path, "-image", &text) ? findGimg(interp, text.c_str()) : nullptr;

  s.colour = readEntry(interp, s.path, "cf-color", &text) ? wordToInt(text.c_str()) : 255;
  s.colourOffset = readEntry(interp, s.path, "cf-colorOffset", &text) ? wordToInt(text.c_str()) : 0;
  s.curX = readEntry(interp, s.path, "cf-cur_x", &text) ? wordToInt(text.c_str()) : 0;
  s.curY = readEntry(interp, s.path, "cf-cur_y", &text) ? wordToInt(text.c_str()) : 0;
  s.clipLeft = 0;
  s.clipTop = 0;
  s.clipRight = image->header.columns;
  s.clipBottom = image->header.rows;
  if (readEntry(interp, s.path, "cf-clip", &text))
    sscanf(text.c_str(), "%d %d %d %d", &s.clipLeft, &s.clipTop, &s.clipRight, &s.clipBottom);
  double size[3] = {0.75, 0.75, 0};
  if (readEntry(interp, s.path, "cf-textSize", &text))
    sscanf(text.c_str(), "%lf %lf %lf", &size[0], &size[1], &size[2]);
  s.textWidth = size[0];
  s.textHeight = size[1];
  s.rotation = size[2] * kDegreesToRadians;
  s.rotationSin = sin(s.rotation);
  s.rotationCos = cos(s.rotation);
  const bool haveRgb = readEntry(interp, s.path, "RGB", &text);
  loadRgbTable(s, haveRgb ? &text : nullptr);
  driverPointer = &s;
  return 1;
}

/*
 * freeGrassFonts --
 *     Exit handler and delete procedure of "grass": frees the glyph store
 *     and the font list and forgets the driver interpreter.  Safe to run
 *     more than once.
 */
void freeGrassFonts(ClientData) {
  releaseGrassFonts();
  theDriverInterp = nullptr;
}

/*
 * Grass_Init --
 *     The raster driver's family: a new empty glyph store, "grass" and
 *     "_vask.parseInput", and the exit handler.
 */
int Grass_Init(Tcl_Interp *interp) {
  newGlyphStore();
  if (!Tcl_CreateCommand(interp, "grass", grassCmd, nullptr, freeGrassFonts)) return TCL_ERROR;
  if (!Tcl_CreateCommand(interp, "_vask.parseInput", vaskParseInputCmd, nullptr, nullptr))
    return TCL_ERROR;
  Tcl_DeleteExitHandler(freeGrassFonts, nullptr);
  Tcl_CreateExitHandler(freeGrassFonts, nullptr);
  theDriverInterp = interp;
  return TCL_OK;
}

}  // namespace vesk

using namespace vesk;

/*
 * R_close_driver --
 *     Tells every display of the image to redraw, writes the drawing state
 *     back into the virtual display's entries and closes the driver.
 * Results:      1, or 0 when the driver was not open.
 */
int R_close_driver(void) {
  if (!driverPointer) return 0;
  VdispState &s = *driverPointer;
  if (RAMIMG *image = getRAMImageByTag(s.imageTag.c_str())) updateClient(image, nullptr, 2);
  Tcl_Interp *interp = theDriverInterp;
  if (interp) {
    char text[128];
    auto put = [&](const char *field, const std::string &value) {
      combSetKey(interp, combKey(s.path, field), value.c_str());
    };
    put("cf-color", std::to_string(s.colour));
    put("cf-colorOffset", std::to_string(s.colourOffset));
    put("cf-cur_x", std::to_string(s.curX));
    put("cf-cur_y", std::to_string(s.curY));
    snprintf(text, sizeof text, "%d %d %d %d", s.clipLeft, s.clipTop, s.clipRight, s.clipBottom);
    put("cf-clip", text);
    const double degrees = s.rotation / kDegreesToRadians;
    int n = snprintf(nullptr, 0, "%f %f %f", s.textWidth, s.textHeight, degrees);
    std::string size(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
    snprintf(&size[0], size.size(), "%f %f %f", s.textWidth, s.textHeight, degrees);
    size.pop_back();
    put("cf-textSize", size);
    put("RGB", rgbTableText(s));
  }
  driverPointer = nullptr;
  return 1;
}
