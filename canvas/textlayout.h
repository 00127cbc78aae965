/*
 * textlayout.h --
 *     The text layout shared by the canvas's text-bearing items: a string
 *     broken into lines and chunks in a rotated font, wrapped and
 *     justified as Tk lays out text, and carrying a rotation that drawing
 *     and distance tests apply.
 */
#ifndef VESK_CANVAS_TEXTLAYOUT_H
#define VESK_CANVAS_TEXTLAYOUT_H

#include <tk.h>
#include <X11/Xlib.h>

#include <vector>

namespace vesk {

struct RotatedFont;

/* A run of characters drawn at once, or one tab or newline. */
struct LayoutChunk {
  const char *start = nullptr;
  int numBytes = 0;
  int numChars = 0;
  int numDisplayChars = 0;  /* -1: a tab, a newline or the empty chunk */
  int x = 0;                /* left edge, pixels from the layout's left */
  int y = 0;                /* baseline, pixels from the layout's top */
  int totalWidth = 0;       /* with the whitespace that ends the line */
  int displayWidth = 0;     /* of the drawn characters */
};

struct RotatedTextLayout {
  RotatedFont *font = nullptr;
  const char *string = nullptr;  /* not copied: must outlive the layout */
  int width = 0;                 /* of the longest line */
  int numChars = 0;              /* characters laid out */
  double cosine = 1.0;
  double sine = 0.0;
  std::vector<LayoutChunk> chunks;
};

/* Tk's layout flags and justification numbers. */
enum { LAYOUT_IGNORE_TABS = 0x8, LAYOUT_IGNORE_NEWLINES = 0x10 };
enum { LAYOUT_JUSTIFY_LEFT = 0, LAYOUT_JUSTIFY_RIGHT = 1, LAYOUT_JUSTIFY_CENTER = 2 };

RotatedTextLayout *computeTextLayout(RotatedFont *font, const char *string, int numChars,
                                     int wrapLength, int justify, int flags, int *widthPtr,
                                     int *heightPtr);
void setLayoutRotation(RotatedTextLayout *layout, double sine, double cosine);
void layoutRotate(const RotatedTextLayout *layout, double *x, double *y);
void layoutUnrotatePoint(const RotatedTextLayout *layout, double x, double y, double *xOut,
                         double *yOut);
void freeTextLayout(RotatedTextLayout *layout);
void drawTextLayout(Display *display, Drawable drawable, GC gc, RotatedTextLayout *layout, int x,
                    int y, int firstChar, int lastChar);
int layoutCharBbox(RotatedTextLayout *layout, int index, int *xPtr, int *yPtr, int *widthPtr,
                   int *heightPtr);
int layoutPointToChar(RotatedTextLayout *layout, int x, int y);
int layoutDistance(RotatedTextLayout *layout, int x, int y);
int layoutIntersect(RotatedTextLayout *layout, int x, int y, int width, int height);
void textLayoutToPostscript(Tcl_Interp *interp, RotatedTextLayout *layout);

}  // namespace vesk

#endif
