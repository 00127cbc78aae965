/*
 * colortab.cpp --
 *     Colour tables for displays of 8 bits or less: grey ramps and
 *     red-green-blue cubes whose levels are spread over 0..255 by one
 *     rule, their allocation in an X colormap (the nearest existing colour
 *     when the colormap is full) and the palette of a displayed image,
 *     shrunk until it can be had.
 */
#include "display/colortab.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

#include "core/text.h"
#include "display/colormap.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

/* Start value of the nearest-colour search: above any real distance. */
constexpr double kFarthest = 12884901888.0;

/*
 * One call's colour allocation: the colormap's cells are read at most
 * once, on the first colour the colormap refuses.
 */
struct ColorAllocator {
  Display *display;
  Colormap colormap;
  Visual *visual;
  std::vector<XColor> palette;
  bool paletteRead = false;

  ColorAllocator(Display *d, Colormap c) : display(d), colormap(c), visual(colormapVisual(d, c)) {}

  unsigned long alloc(unsigned char r, unsigned char g, unsigned char b) {
    XColor color;
    color.red = static_cast<unsigned short>(r << 8);
    color.green = static_cast<unsigned short>(g << 8);
    color.blue = static_cast<unsigned short>(b << 8);
    color.flags = DoRed | DoGreen | DoBlue;
    color.pixel = 0;
    if (visual->c_class == TrueColor)
      return trueColorPixel(visual, color.red, color.green, color.blue);
    if (XAllocColor(display, colormap, &color)) return color.pixel;
    if (!paletteRead) {
      palette.resize(kMaxColorEntries);
      palette.resize(static_cast<size_t>(
          queryPaletteColors(display, colormap, palette.data(), kMaxColorEntries)));
      paletteRead = true;
    }
    double best = kFarthest;
    const XColor *nearest = nullptr;
    for (const XColor &entry : palette) {
      double dr = static_cast<double>(entry.red) - color.red;
      double dg = static_cast<double>(entry.green) - color.green;
      double db = static_cast<double>(entry.blue) - color.blue;
      double distance = dr * dr + dg * dg + db * db;
      if (distance < best) {
        best = distance;
        nearest = &entry;
      }
    }
    if (nearest) {
      color = *nearest;
      color.flags = DoRed | DoGreen | DoBlue;
      XAllocColor(display, colormap, &color); /* a reference on that cell */
    }
    return color.pixel;
  }
};

unsigned long *newPixelArray(int count) {
  return reinterpret_cast<unsigned long *>(
      Tcl_Alloc(static_cast<unsigned>(sizeof(unsigned long) * static_cast<size_t>(count))));
}

}  // namespace

/*
 * computeLevels --
 *     The level rule of one channel with n levels.  Every output is
 *     optional: errors[256] (value minus its level), levelList[n] (the
 *     distinct level values, increasing), levelIndex[256] (level number of
 *     each value times multiplier, rounded).
 * Side effects: with a single level (or fewer) every value maps to level
 *               0 with error 0, so no stale entries remain.
 */
void computeLevels(signed char *errors, int *levelList, int n, int *levelIndex,
                   double multiplier) {
  if (levelList) levelList[0] = 0;
  if (n <= 1) {
    for (int v = 0; v < 256; v++) {
      if (errors) errors[v] = 0;
      if (levelIndex) levelIndex[v] = 0;
    }
    return;
  }
  float step = 256.0f / static_cast<float>(n - 1);
  float half = step * 0.5f;
  int previous = 0;
  int j = 0;
  for (int v = 0; v < 256; v++) {
    int c;
    if (n == 256) {
      c = v;
    } else {
      float t = truncf((static_cast<float>(v) + half) / step);
      c = roundToInt(static_cast<double>(t * step));
    }
    if (c > 255) c = 255;
    if (errors) errors[v] = static_cast<signed char>(v - c);
    if (c != previous) {
      j++;
      previous = c;
      if (levelList && j < n) levelList[j] = c;
    }
    if (levelIndex) levelIndex[v] = roundToInt(j * multiplier);
  }
}

/*
 * buildColorTable --
 *     Fills table (3 bytes an entry) with a grey ramp (grey > 0, no colour
 *     counts) or a colour cube (red, green, blue > 0, no grey; red slowest,
 *     blue fastest).
 * Results:      the number of entries; 0 for any other request or one of
 *               more than 256 entries.
 */
int buildColorTable(unsigned char *table, int grey, int red, int green, int blue) {
  if (grey > 0 && red <= 0 && green <= 0 && blue <= 0) {
    if (grey > kMaxColorEntries) return 0;
    int levels[kMaxColorEntries] = {};
    computeLevels(nullptr, levels, grey, nullptr, 0);
    for (int i = 0; i < grey; i++) {
      unsigned char v = static_cast<unsigned char>(levels[i]);
      table[3 * i] = table[3 * i + 1] = table[3 * i + 2] = v;
    }
    return grey;
  }
  if (grey <= 0 && red > 0 && green > 0 && blue > 0) {
    long count = static_cast<long>(red) * green * blue;
    if (count > kMaxColorEntries) return 0;
    int rl[kMaxColorEntries] = {}, gl[kMaxColorEntries] = {}, bl[kMaxColorEntries] = {};
    computeLevels(nullptr, rl, red, nullptr, 0);
    computeLevels(nullptr, gl, green, nullptr, 0);
    computeLevels(nullptr, bl, blue, nullptr, 0);
    int i = 0;
    for (int r = 0; r < red; r++)
      for (int g = 0; g < green; g++)
        for (int b = 0; b < blue; b++, i++) {
          table[3 * i] = static_cast<unsigned char>(rl[r]);
          table[3 * i + 1] = static_cast<unsigned char>(gl[g]);
          table[3 * i + 2] = static_cast<unsigned char>(bl[b]);
        }
    return static_cast<int>(count);
  }
  return 0;
}

/*
 * allocNearestColors --
 *     Allocates count entries of an RGB table in the colormap; a colour the
 *     colormap refuses becomes its nearest cell (squared 16-bit distance,
 *     the first of equals).  On true-colour visuals the pixel values are
 *     computed from the visual's masks.
 * Results:      a new Tcl-allocated pixel array, NULL when count <= 0.
 */
unsigned long *allocNearestColors(Display *display, Colormap colormap,
                                  const unsigned char *table, int count) {
  if (count <= 0 || !table) return nullptr;
  ColorAllocator allocator(display, colormap);
  unsigned long *pixels = newPixelArray(count);
  for (int i = 0; i < count; i++)
    pixels[i] = allocator.alloc(table[3 * i], table[3 * i + 1], table[3 * i + 2]);
  return pixels;
}

/*
 * allocColorCube --
 *     buildColorTable's table for the request, allocated in the colormap.
 * Results:      a new pixel array, or NULL when the request is invalid.
 */
unsigned long *allocColorCube(Display *display, Colormap colormap, int grey, int red, int green,
                              int blue) {
  unsigned char table[3 * kMaxColorEntries];
  int count = buildColorTable(table, grey, red, green, blue);
  if (count == 0) return nullptr;
  return allocNearestColors(display, colormap, table, count);
}

/*
 * freeGimgPalette --
 *     Gives the state's pixels back to its colormap and empties the array.
 */
void freeGimgPalette(GimgColorState *state) {
  if (state->pixels) {
    freeColorPixels(state->display, state->colormap, state->pixels, state->pixelCount);
    Tcl_Free(reinterpret_cast<char *>(state->pixels));
  }
  state->pixels = nullptr;
  state->pixelCount = 0;
}

/*
 * allocGimgPalette --
 *     (Re)allocates the palette of a displayed image.  Displays deeper than
 *     8 bits need none.  The image's own palette is tried first when
 *     truePalette is set; otherwise, or when that fails, the grey ramp or
 *     colour cube of levels, whose largest count is lowered (by 1 up to 32,
 *     else halved) until the table can be built.
 * Results:      0 when a palette is in place (or none is needed); 1 when
 *               the level request cannot be met even at one level.
 * Side effects: levels holds the counts actually allocated.
 */
int allocGimgPalette(GimgColorState *state) {
  freeGimgPalette(state);
  if (state->depth > 8) return 0;
  if (state->truePalette) {
    state->pixelCount = std::min(state->paletteEntries, kMaxColorEntries);
    if (state->pixelCount > 0) {
      state->pixels =
          allocNearestColors(state->display, state->colormap, state->palette, state->pixelCount);
      if (state->pixels) return 0;
      vesk_fprintf(stderr, "Error in truePalette alloc.\n");
    }
    state->truePalette = 0;
    state->pixelCount = 0;
  }
  int *levels = state->levels;
  for (;;) {
    state->pixels =
        allocColorCube(state->display, state->colormap, levels[0], levels[1], levels[2], levels[3]);
    if (state->pixels) break;
    int largest = 0;
    for (int i = 1; i < 4; i++)
      if (levels[i] > levels[largest]) largest = i;
    if (levels[largest] <= 1) return 1;
    levels[largest] = levels[largest] <= 32 ? levels[largest] - 1 : levels[largest] / 2;
  }
  int count = 1;
  for (int i = 0; i < 4; i++)
    if (levels[i] > 0) count *= levels[i];
  state->pixelCount = count;
  return 0;
}

}  // namespace vesk
