/*
 * colortab.h --
 *     Colour tables (grey ramps and colour cubes on one level rule) and
 *     their allocation in X colormaps with nearest-colour fallback.
 */
#ifndef VESK_DISPLAY_COLORTAB_H
#define VESK_DISPLAY_COLORTAB_H

#include <tk.h>

namespace vesk {

inline constexpr int kMaxColorEntries = 256;

void computeLevels(signed char *errors, int *levelList, int n, int *levelIndex,
                   double multiplier);
int buildColorTable(unsigned char *table, int grey, int red, int green, int blue);
unsigned long *allocColorCube(Display *display, Colormap colormap, int grey, int red, int green,
                              int blue);
unsigned long *allocNearestColors(Display *display, Colormap colormap,
                                  const unsigned char *table, int count);

/*
 * The colour state of a displayed image: what the palette allocation reads
 * and writes.  The image's master record holds one.
 */
struct GimgColorState {
  int levels[4] = {28, 0, 0, 0}; /* grey, red, green, blue level counts */
  int truePalette = 0;           /* show the image's own palette */
  unsigned long *pixels = nullptr; /* Tcl-allocated; NULL: none allocated */
  int pixelCount = 0;
  int depth = 0;                 /* display depth */
  Display *display = nullptr;
  Colormap colormap = 0;
  int paletteEntries = 0;        /* the image's own palette */
  const unsigned char *palette = nullptr; /* paletteEntries RGB triplets */
};

int allocGimgPalette(GimgColorState *state);
void freeGimgPalette(GimgColorState *state);

}  // namespace vesk

#endif
