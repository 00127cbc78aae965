/*
 * rotfont.h --
 *     Scaled and rotated fonts for text in world coordinates: a font
 *     record over cairo-ft faces chosen through fontconfig, measured with
 *     Tk's measuring flags and drawn through the caller's GC as a 1-bit
 *     glyph stipple (GC function, clip and colour hold).
 */
#ifndef VESK_DISPLAY_ROTFONT_H
#define VESK_DISPLAY_ROTFONT_H

#include <tkInt.h>
#include <tkFont.h>

#include <string>
#include <unordered_map>
#include <vector>

typedef struct _cairo_scaled_font cairo_scaled_font_t;
typedef struct _FcFontSet FcFontSet;

namespace vesk {

struct RotatedFamily;

/* One face of a font record: the requested family or a fallback. */
struct RotatedSubfont {
  RotatedFamily *family = nullptr;
  cairo_scaled_font_t *upright = nullptr; /* scale only: glyph lookup, advances */
  cairo_scaled_font_t *turned = nullptr;  /* scale and orientation: drawing */
};

struct RotatedFont {
  TkFontAttributes fa{};      /* attributes actually obtained */
  TkFontMetrics fm{};         /* ascent, descent, max width, fixed */
  int tabWidth = 0;
  int underlinePos = 0;       /* below the baseline, pixels */
  int underlineHeight = 0;
  Tk_Window tkwin = nullptr;  /* window whose screen sets the resolution; NULL: none */
  int pixelSize = 0;          /* em height in pixels */
  double widthScale = 0;      /* average character width / pixel size; 0: the face's own */
  double xScale = 0;          /* horizontal em size in pixels */
  double escapement = 0;      /* direction of the baseline, degrees counter-clockwise */
  double orientation = 0;     /* direction of each glyph's baseline */
  int advanced = 0;           /* 0: orientation follows escapement */
  std::vector<RotatedSubfont> subfonts;
  int widths[128] = {};       /* advances of characters 0..127 in the first subfont */
  std::unordered_map<int, int> subfontOf; /* characters >= 128 met so far */
  FcFontSet *fallbacks = nullptr;         /* fontconfig's candidates, made on first need */
};

/* Tk's measuring flags. */
inline constexpr int kMeasureWholeWords = 1;
inline constexpr int kMeasureAtLeastOne = 2;
inline constexpr int kMeasurePartialOk = 4;

void initFontPackage();
RotatedFont *getNativeRotatedFont(Tk_Window tkwin, const char *name);
RotatedFont *getRotatedFont(RotatedFont *font, Tk_Window tkwin, const TkFontAttributes *fa,
                            double widthScale, double escapement, double orientation,
                            int advanced);
void freeRotatedFont(RotatedFont *font);
RotatedFont *acquireRotatedFont(Tk_Window tkwin, const TkFontAttributes *fa, double widthScale,
                                double escapement, double orientation, int advanced);
void releaseRotatedFont(RotatedFont *font);
int sharedFontCount();
void getFontFamilies(Tcl_Interp *interp, Tk_Window tkwin);
void getSubFonts(Tcl_Interp *interp, RotatedFont *font);
int measureRotatedChars(RotatedFont *font, const char *source, int numBytes, int maxLength,
                        int flags, int *lengthPtr);
void drawChars(Display *display, Drawable drawable, GC gc, RotatedFont *font,
               const char *source, int numBytes, int x, int y);
void drawRotatedChars(Display *display, Drawable drawable, GC gc, RotatedFont *font,
                      const char *source, int numBytes, int x, int y, double cosine,
                      double sine);
int rotatedInkBox(RotatedFont *font, const char *source, int numBytes, int x, int y,
                  XRectangle *box);
int resolveFamily(const char *family, std::string &resolved);

}  // namespace vesk

#endif
