/*
 * textlayout.cpp --
 *     The text layout of the canvas's text-bearing items: lines and chunks
 *     measured in a rotated font, wrapped at a width and justified as Tk
 *     lays out text, with a rotation (cosine and sine) applied when drawing
 *     and when measuring distances.  Character boxes, point lookup and
 *     intersection work in the layout's own (unrotated) frame.
 */
#include <ctype.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>

#include <string>

#include "canvas/gcanvas.h"
#include "canvas/textlayout.h"
#include "core/text.h"
#include "display/rotfont.h"

namespace vesk {

namespace {

int measure(RotatedFont *font, const char *source, int numBytes, int maxLength, int flags,
            int *lengthPtr) {
  return measureRotatedChars(font, source, numBytes, maxLength, flags, lengthPtr);
}

LayoutChunk &newChunk(RotatedTextLayout *layout, const char *start, int numBytes, int curX,
                      int newX, int y) {
  LayoutChunk chunk;
  chunk.start = start;
  chunk.numBytes = numBytes;
  chunk.numChars = Tcl_NumUtfChars(start, numBytes);
  chunk.numDisplayChars = chunk.numChars;
  chunk.x = curX;
  chunk.y = y;
  chunk.totalWidth = newX - curX;
  chunk.displayWidth = newX - curX;
  layout->chunks.push_back(chunk);
  return layout->chunks.back();
}

bool isNewline(char ch) { return ch == '\n' || ch == '\r'; }

}  // namespace

/*
 * computeTextLayout --
 *     Breaks the first numChars characters (all when negative) into lines
 *     and chunks: at newlines, at tabs (to the next tab stop) and, with a
 *     positive wrap length, at word boundaries; the whitespace that ends a
 *     wrapped line joins its last chunk's total width only.  Lines are
 *     justified against the longest one.
 * Results:      the layout (rotation: none), its width and height; NULL
 *               with zero sizes when the font or string is missing.
 */
RotatedTextLayout *computeTextLayout(RotatedFont *font, const char *string, int numChars,
                                     int wrapLength, int justify, int flags, int *widthPtr,
                                     int *heightPtr) {
  if (!font || !string) {
    if (widthPtr) *widthPtr = 0;
    if (heightPtr) *heightPtr = 0;
    return nullptr;
  }
  RotatedTextLayout *layout = new RotatedTextLayout;
  layout->font = font;
  layout->string = string;
  int ascent = font->fm.ascent, descent = font->fm.descent;
  int height = ascent + descent;
  int tabWidth = font->tabWidth > 0 ? font->tabWidth : 1;
  int numBytes = numChars < 0 ? static_cast<int>(strlen(string))
                              : static_cast<int>(Tcl_UtfAtIndex(string, numChars) - string);
  const char *end = string + numBytes;
  layout->numChars = Tcl_NumUtfChars(string, numBytes);
  flags &= LAYOUT_IGNORE_TABS | LAYOUT_IGNORE_NEWLINES;
  flags |= kMeasureWholeWords | kMeasureAtLeastOne;
  int maxWidth = 0, curX = 0, baseline = ascent;
  std::vector<int> lineLengths;
  const char *special = string;
  for (const char *start = string; start < end;) {
    if (start >= special) {
      for (special = start; special < end; special++) {
        if (!(flags & LAYOUT_IGNORE_NEWLINES) && isNewline(*special)) break;
        if (!(flags & LAYOUT_IGNORE_TABS) && *special == '\t') break;
      }
    }
    int chunkIndex = -1;
    if (start < special) {
      int newX;
      int limit = wrapLength > 0 ? wrapLength - curX : -1;
      if (wrapLength > 0 && limit < 0) limit = 0;
      int bytes = measure(font, start, static_cast<int>(special - start), limit, flags, &newX);
      newX += curX;
      flags &= ~kMeasureAtLeastOne;
      if (bytes > 0) {
        newChunk(layout, start, bytes, curX, newX, baseline);
        chunkIndex = static_cast<int>(layout->chunks.size()) - 1;
        start += bytes;
        curX = newX;
      }
    }
    bool wrapLine = false;
    if (start == special && special < end) {
      chunkIndex = -1;
      if (*special == '\t') {
        int newX = curX + tabWidth;
        newX -= newX % tabWidth;
        newChunk(layout, start, 1, curX, newX, baseline).numDisplayChars = -1;
        start++;
        curX = newX;
        flags &= ~kMeasureAtLeastOne;
        if (start < end && (wrapLength <= 0 || newX <= wrapLength)) continue;
      } else {
        newChunk(layout, start, 1, curX, curX, baseline).numDisplayChars = -1;
        start++;
        wrapLine = true;
      }
    }
    if (!wrapLine) {
      while (start < end && isspace(static_cast<unsigned char>(*start))) {
        if (!(flags & LAYOUT_IGNORE_NEWLINES) && isNewline(*start)) break;
        if (!(flags & LAYOUT_IGNORE_TABS) && *start == '\t') break;
        start++;
      }
      if (chunkIndex >= 0) {
        LayoutChunk &chunk = layout->chunks[static_cast<size_t>(chunkIndex)];
        const char *chunkEnd = chunk.start + chunk.numBytes;
        int extra = static_cast<int>(start - chunkEnd);
        if (extra > 0) {
          measure(font, chunkEnd, extra, -1, 0, &chunk.totalWidth);
          chunk.numBytes += extra;
          chunk.numChars += Tcl_NumUtfChars(chunkEnd, extra);
          chunk.totalWidth += curX;
        }
      }
    }
    flags |= kMeasureAtLeastOne;
    if (curX > maxWidth) maxWidth = curX;
    lineLengths.push_back(curX);
    curX = 0;
    baseline += height;
  }
  if (!layout->chunks.empty() && !(flags & LAYOUT_IGNORE_NEWLINES) &&
      layout->chunks.back().start[0] == '\n') {
    newChunk(layout, end, 0, curX, curX, baseline).numDisplayChars = -1;
    lineLengths.push_back(curX);
    baseline += height;
  }
  layout->width = maxWidth;
  int layoutHeight = baseline - ascent;
  if (layout->chunks.empty()) {
    layoutHeight = height;
    LayoutChunk empty;
    empty.start = string;
    empty.numDisplayChars = -1;
    empty.y = ascent;
    layout->chunks.push_back(empty);
  } else {
    size_t line = 0;
    int y = layout->chunks[0].y;
    for (LayoutChunk &chunk : layout->chunks) {
      if (chunk.y != y) {
        line++;
        y = chunk.y;
      }
      int extra = maxWidth - (line < lineLengths.size() ? lineLengths[line] : 0);
      if (justify == LAYOUT_JUSTIFY_CENTER) chunk.x += extra / 2;
      else if (justify == LAYOUT_JUSTIFY_RIGHT) chunk.x += extra;
    }
  }
  if (widthPtr) *widthPtr = layout->width;
  if (heightPtr) *heightPtr = layoutHeight;
  return layout;
}

void setLayoutRotation(RotatedTextLayout *layout, double sine, double cosine) {
  if (!layout) return;
  layout->sine = sine;
  layout->cosine = cosine;
}

/* A drawable offset back into layout coordinates. */
void layoutRotate(const RotatedTextLayout *layout, double *x, double *y) {
  double c = layout ? layout->cosine : 1.0, s = layout ? layout->sine : 0.0;
  double u = *x * c - *y * s, v = *x * s + *y * c;
  *x = u;
  *y = v;
}

/* A layout offset placed on the drawable. */
void layoutUnrotatePoint(const RotatedTextLayout *layout, double x, double y, double *xOut,
                         double *yOut) {
  double c = layout ? layout->cosine : 1.0, s = layout ? layout->sine : 0.0;
  *xOut = x * c + y * s;
  *yOut = -x * s + y * c;
}

void freeTextLayout(RotatedTextLayout *layout) { delete layout; }

/*
 * drawTextLayout --
 *     Draws characters firstChar .. lastChar-1 (lastChar negative: to the
 *     end) with the layout's top-left corner at (x, y), turned by the
 *     layout's rotation.
 */
void drawTextLayout(Display *display, Drawable drawable, GC gc, RotatedTextLayout *layout, int x,
                    int y, int firstChar, int lastChar) {
  if (!layout) return;
  if (lastChar < 0) lastChar = INT_MAX / 2;
  for (const LayoutChunk &chunk : layout->chunks) {
    int numDisplayChars = chunk.numDisplayChars;
    if (numDisplayChars > 0 && firstChar < numDisplayChars) {
      int drawX = 0;
      const char *firstByte = chunk.start;
      if (firstChar > 0) {
        firstByte = Tcl_UtfAtIndex(chunk.start, firstChar);
        measure(layout->font, chunk.start, static_cast<int>(firstByte - chunk.start), -1, 0,
                &drawX);
      } else {
        firstChar = 0;
      }
      if (lastChar < numDisplayChars) numDisplayChars = lastChar;
      const char *lastByte = Tcl_UtfAtIndex(chunk.start, numDisplayChars);
      double u = chunk.x + drawX, v = chunk.y;
      double dx, dy;
      layoutUnrotatePoint(layout, u, v, &dx, &dy);
      drawRotatedChars(display, drawable, gc, layout->font, firstByte,
                       static_cast<int>(lastByte - firstByte), x + saturatingInt(dx),
                       y + saturatingInt(dy), layout->cosine, layout->sine);
    }
    firstChar -= chunk.numChars;
    lastChar -= chunk.numChars;
    if (lastChar <= 0) break;
  }
}

/*
 * layoutCharBbox --
 *     The unrotated box of one character in layout coordinates; the
 *     index just past the last character gives a zero-width box at the
 *     end of the last chunk.
 * Results:      1, or 0 for an index outside the text.
 */
int layoutCharBbox(RotatedTextLayout *layout, int index, int *xPtr, int *yPtr, int *widthPtr,
                   int *heightPtr) {
  if (!layout || index < 0 || layout->chunks.empty()) return 0;
  const LayoutChunk *chunk = nullptr;
  int x = 0, w = 0;
  bool found = false;
  for (const LayoutChunk &c : layout->chunks) {
    chunk = &c;
    if (c.numDisplayChars < 0) {
      if (index == 0) {
        x = c.x;
        w = c.totalWidth;
        found = true;
        break;
      }
    } else if (index < c.numChars) {
      const char *at = Tcl_UtfAtIndex(c.start, index);
      measure(layout->font, c.start, static_cast<int>(at - c.start), -1, 0, &x);
      x += c.x;
      measure(layout->font, at, static_cast<int>(Tcl_UtfNext(at) - at), -1, 0, &w);
      found = true;
      break;
    }
    index -= c.numChars;
  }
  if (!found) {
    if (index != 0) return 0;
    chunk = &layout->chunks.back();
    x = chunk->x + chunk->totalWidth;
    w = 0;
  }
  RotatedFont *font = layout->font;
  if (yPtr) *yPtr = chunk->y - font->fm.ascent;
  if (heightPtr) *heightPtr = font->fm.ascent + font->fm.descent;
  if (x > layout->width) x = layout->width;
  if (xPtr) *xPtr = x;
  if (widthPtr) {
    if (x + w > layout->width) w = layout->width - x;
    *widthPtr = w;
  }
  return 1;
}

/*
 * layoutPointToChar --
 *     The character nearest to an unrotated layout point: the first of a
 *     line left of it, the last of a line right of it, the index past the
 *     end below the text.
 */
int layoutPointToChar(RotatedTextLayout *layout, int x, int y) {
  if (!layout || y < 0) return 0;
  int descent = layout->font->fm.descent;
  int numChars = 0;
  size_t n = layout->chunks.size();
  for (size_t i = 0; i < n; i++) {
    const LayoutChunk *chunk = &layout->chunks[i];
    int baseline = chunk->y;
    if (y < baseline + descent) {
      if (x < chunk->x) return numChars;
      if (x >= layout->width) x = INT_MAX;
      while (i < n && layout->chunks[i].y == baseline) {
        chunk = &layout->chunks[i];
        if (x < chunk->x + chunk->totalWidth) {
          if (chunk->numDisplayChars < 0) return numChars;
          int dummy;
          int bytes = measure(layout->font, chunk->start, chunk->numBytes, x - chunk->x, 0,
                              &dummy);
          return numChars + Tcl_NumUtfChars(chunk->start, bytes);
        }
        numChars += chunk->numChars;
        i++;
      }
      if (i < n) numChars--;
      return numChars;
    }
    numChars += chunk->numChars;
  }
  return layout->numChars;
}

/*
 * layoutDistance --
 *     Distance from a drawable offset relative to the layout's top-left
 *     corner (turned back into the layout's frame) to the nearest drawn
 *     chunk; 0 on one.
 */
int layoutDistance(RotatedTextLayout *layout, int x, int y) {
  if (!layout) return 0;
  double u = x, v = y;
  layoutRotate(layout, &u, &v);
  int px = roundToInt(u), py = roundToInt(v);
  int ascent = layout->font->fm.ascent, descent = layout->font->fm.descent;
  int minDist = 0;
  for (const LayoutChunk &chunk : layout->chunks) {
    if (chunk.start[0] == '\n') continue;
    int x1 = chunk.x, y1 = chunk.y - ascent;
    int x2 = chunk.x + chunk.displayWidth, y2 = chunk.y + descent;
    int xDiff = px < x1 ? x1 - px : px >= x2 ? px - x2 + 1 : 0;
    int yDiff = py < y1 ? y1 - py : py >= y2 ? py - y2 + 1 : 0;
    if (xDiff == 0 && yDiff == 0) return 0;
    int dist = saturatingInt(hypot(xDiff, yDiff));
    if (dist < minDist || minDist == 0) minDist = dist;
  }
  return minDist;
}

/*
 * layoutIntersect --
 *     Whether an unrotated rectangle is outside every drawn chunk (-1),
 *     contains all (1) or neither (0).
 */
int layoutIntersect(RotatedTextLayout *layout, int x, int y, int width, int height) {
  if (!layout) return 0;
  int ascent = layout->font->fm.ascent, descent = layout->font->fm.descent;
  int right = x + width, bottom = y + height;
  int result = 0;
  for (const LayoutChunk &chunk : layout->chunks) {
    if (chunk.start[0] == '\n') continue;
    int x1 = chunk.x, y1 = chunk.y - ascent;
    int x2 = chunk.x + chunk.displayWidth, y2 = chunk.y + descent;
    if (right < x1 || x >= x2 || bottom < y1 || y >= y2) {
      if (result == 1) return 0;
      result = -1;
    } else if (x1 < x || x2 >= right || y1 < y || y2 >= bottom) {
      return 0;
    } else if (result == -1) {
      return 0;
    } else {
      result = 1;
    }
  }
  return result;
}

/*
 * textLayoutToPostscript --
 *     Appends the layout's lines as PostScript strings, one a line, with
 *     parentheses, backslashes and bytes outside printable ASCII escaped
 *     in octal and tabs as \t.
 */
void textLayoutToPostscript(Tcl_Interp *interp, RotatedTextLayout *layout) {
  std::string out = "(";
  if (layout && !layout->chunks.empty()) {
    int baseline = layout->chunks[0].y;
    for (const LayoutChunk &chunk : layout->chunks) {
      if (baseline != chunk.y) {
        out += ")\n(";
        baseline = chunk.y;
      }
      if (chunk.numDisplayChars <= 0) {
        if (chunk.numBytes > 0 && chunk.start[0] == '\t') out += "\\t";
        continue;
      }
      const char *p = chunk.start;
      for (int j = 0; j < chunk.numDisplayChars; j++) {
        Tcl_UniChar ch = 0;
        p += Tcl_UtfToUniChar(p, &ch);
        unsigned c = static_cast<unsigned>(ch) & 0xff;
        if (c == '(' || c == ')' || c == '\\' || c < 0x20 || c >= 0x7f) {
          char escaped[8];
          snprintf(escaped, sizeof escaped, "\\%03o", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
      }
    }
  }
  out += ")\n";
  Tcl_AppendResult(interp, out.c_str(), nullptr);
}

}  // namespace vesk
