/*
 * grass.h --
 *     Private interface of the raster graphics driver: the state of the
 *     virtual display it draws into, the driver interpreter, the stroke
 *     glyph store and font list, and the pieces of the "grass" command
 *     that the text and form units provide.
 */
#ifndef VESK_WIDGETS_GRASS_H
#define VESK_WIDGETS_GRASS_H

#include <tcl.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "raster/ramimg.h"

struct GimgMaster;

namespace vesk {

/* Longest virtual display path the driver keeps (with the terminator). */
inline constexpr int kVdispPathSize = 128;

/*
 * The driver's state: one record per process, loaded from the virtual
 * display's "_comb" entries at open and written back at close.
 */
struct VdispState {
  char path[kVdispPathSize] = {0};  /* the virtual display ("_comb" key prefix) */
  RAMIMG *image = nullptr;          /* drawn into; refreshed from imageTag at each use */
  std::string imageTag;             /* registry tag of the RAM image */
  GimgMaster *view = nullptr;       /* the display's gimg image; kept, never used */
  int colour = 255;                 /* current colour index (pixel value) */
  int curX = 0, curY = 0;           /* current position: column, row */
  int clipLeft = 0, clipRight = 0, clipTop = 0, clipBottom = 0;  /* stored only */
  double textWidth = 0.75, textHeight = 0.75;  /* pixels per glyph unit */
  double rotation = 0;              /* text rotation, radians */
  double rotationSin = 0, rotationCos = 1;
  int colourCount = 256;            /* reported by R_get_num_colors */
  int colourOffset = 0;             /* stored only */
  unsigned char rgb[256][3] = {};   /* red, green, blue parts of a composed index */
};

/* ---- driver state and the command (grass.cpp) ---- */
/* The open driver's state with its image looked up again, or null when the
   driver is closed or its image has been closed meanwhile. */
VdispState *openDriver();
/* The state record whether open or not. */
VdispState &driverState();
Tcl_Interp *driverInterp();
void setDriverInterp(Tcl_Interp *interp);
int openVirtualDisplay();
/* Integer of a word: decimal, text that is no number reads as 0. */
int wordToInt(const char *word);

/* ---- stroke fonts (hershey.cpp) ---- */

/* One glyph slot: length 0 is an empty slot. */
struct GlyphEntry {
  int32_t length = 0;     /* characters, twice the pair count */
  unsigned char width = 0, height = 0, left = 0, top = 0;
  int32_t offset = 0;     /* of its characters in the area */
};

/* Glyphs of the Hershey form: character pairs, coordinates relative to 'R'. */
struct GlyphStore {
  int32_t slotCount = 0;
  int32_t byteCapacity = 0;
  int32_t bytesUsed = 0;
  int32_t height = 30;    /* font height in glyph units */
  std::vector<GlyphEntry> index;
  std::vector<char> characters;
};

/* A font: glyph number k is the glyph of character code 32 + k. */
struct FontDef {
  char name[16] = {0};
  int32_t count = 0;
  FontDef *next = nullptr;
  std::vector<int32_t> glyphs;
};

inline constexpr int kGlyphMaxChars = 1024;
inline constexpr int kFontMaxGlyphs = 1024;
inline constexpr int kFontNameMax = 15;

void initGlyphStore(GlyphStore *store);
void clearGlyphStore(GlyphStore *store);
int fontAddISlots(GlyphStore *store, int n);
int fontAddCSlots(GlyphStore *store, int n);
int storeGlyph(GlyphStore *store, int number, int length, const char *characters);
const GlyphEntry *getGlyph(const GlyphStore *store, int number);
const char *glyphCharacters(const GlyphStore *store, const GlyphEntry *entry);
void measureGlyph(GlyphStore *store, GlyphEntry *entry);
int loadGlyphFile(GlyphStore *store, const char *path);
int loadGlyphBuffer(GlyphStore *store, const char *data, size_t size, std::string *error);
FontDef *readFontDef(const char *name, const char *path);
FontDef *parseFontDef(const char *name, const char *text, size_t size, std::string *error);
void freeFontDefs(FontDef *list);
void setFontHeight(const FontDef *font);
void appendGlyphCoords(Tcl_Interp *interp, const GlyphStore *store, const GlyphEntry *entry,
                       int offset);

/* The process's store (null after freeGrassFonts until the next registration). */
GlyphStore *glyphStore();
/* Replaces the store by a new empty one. */
void newGlyphStore();
/* Frees store and font list and clears the current font (hershey.cpp). */
void releaseGrassFonts();
/* releaseGrassFonts, and the driver interpreter forgotten (grass.cpp). */
void freeGrassFonts(ClientData clientData);
/* The font subcommands of "grass": TCL_CONTINUE when word is none of them. */
int grassFontCommand(Tcl_Interp *interp, int argc, const char **argv);

/* ---- forms (vask.cpp) ---- */
int vaskTest();
Tcl_CmdProc vaskParseInputCmd;

}  // namespace vesk

#endif
