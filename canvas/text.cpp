/*
 * text.cpp --
 *     The "text" and "gtext" item types: an editable string at a world
 *     anchor point, drawn in an item font made at the view's scale (held
 *     within the canvas's text-size limits), upright for "text" and at an
 *     escapement angle for "gtext".  The label machinery here is shared
 *     with the symbol item.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>

#include "canvas/textitem.h"
#include "core/text.h"
#include "display/rotfont.h"
#include "vesk/stdio.h"

namespace vesk {

/* ---- the shared label ---- */

XColor *labelColor(ItemContainer *c, GcanvasItem *item, TextLabel *t) {
  if (itemIsCurrent(c, item) && t->activeColor) return t->activeColor;
  if (!itemIsCurrent(c, item) && effectiveState(c, item) == STATE_DISABLED && t->disabledColor)
    return t->disabledColor;
  return t->color;
}

Pixmap labelStipple(ItemContainer *c, GcanvasItem *item, TextLabel *t) {
  if (itemIsCurrent(c, item) && t->activeStipple != None) return t->activeStipple;
  if (!itemIsCurrent(c, item) && effectiveState(c, item) == STATE_DISABLED &&
      t->disabledStipple != None)
    return t->disabledStipple;
  return t->stipple;
}

bool labelHasActiveLook(TextLabel *t) { return t->activeColor || t->activeStipple != None; }

/*
 * labelConfigureGCs --
 *     The text GC (with a colour), the selected-text GC (with a font) and
 *     the cursor-off GC (when the insert and selection borders share a
 *     colour, so a hidden cursor still shows over a selection).
 */
void labelConfigureGCs(ItemContainer *c, GcanvasItem *item, TextLabel *t) {
  Tk_Window tkwin = canvasTkwin(c);
  GcanvasTextInfo *info = canvasTextInfo(c);
  XColor *color = labelColor(c, item, t);
  Pixmap stipple = labelStipple(c, item, t);
  XGCValues values;
  GC newGC = None, newSelGC = None, newOffGC = None;
  if (t->tkfont) {
    unsigned long mask = 0;
    newGC = getFillGC(tkwin, color, stipple, &values);
    if (stipple != None) {
      values.stipple = stipple;
      values.fill_style = FillStippled;
      mask |= GCStipple | GCFillStyle;
    }
    values.foreground = info->selFgColorPtr ? info->selFgColorPtr->pixel
                                            : BlackPixelOfScreen(Tk_Screen(tkwin));
    mask |= GCForeground;
    newSelGC = Tk_GetGC(tkwin, mask, &values);
  }
  if (info->insertBorder && info->selBorder &&
      Tk_3DBorderColor(info->insertBorder)->pixel == Tk_3DBorderColor(info->selBorder)->pixel) {
    unsigned long black = BlackPixelOfScreen(Tk_Screen(tkwin));
    values.foreground = black == Tk_3DBorderColor(info->selBorder)->pixel
                            ? WhitePixelOfScreen(Tk_Screen(tkwin))
                            : black;
    newOffGC = Tk_GetGC(tkwin, GCForeground, &values);
  }
  Display *display = Tk_Display(tkwin);
  replaceGC(display, &t->gc, newGC);
  replaceGC(display, &t->selTextGC, newSelGC);
  replaceGC(display, &t->cursorOffGC, newOffGC);
}

void labelUpdateCounts(ItemContainer *c, GcanvasItem *item, TextLabel *t) {
  GcanvasTextInfo *info = canvasTextInfo(c);
  const char *text = t->text ? t->text : "";
  t->numBytes = static_cast<int>(strlen(text));
  t->numChars = Tcl_NumUtfChars(text, t->numBytes);
  if (info->selItemPtr == item) {
    if (info->selectFirst >= t->numChars) {
      info->selItemPtr = nullptr;
    } else {
      if (info->selectLast >= t->numChars) info->selectLast = t->numChars - 1;
      if (info->anchorItemPtr == item && info->selectAnchor >= t->numChars)
        info->selectAnchor = t->numChars - 1;
    }
  }
  if (t->insertPos >= t->numChars) t->insertPos = t->numChars;
}

void labelFree(Display *display, TextLabel *t) {
  freeTextLayout(t->layout);
  t->layout = nullptr;
  releaseRotatedFont(t->itemFont);
  t->itemFont = nullptr;
  freeItemGCs(display, {&t->gc, &t->selTextGC, &t->cursorOffGC});
}

void labelScales(ItemContainer *c, GcanvasItem *item, double *sx, double *sy) {
  if (item->scalable) {
    *sx = fabs(c->mx * c->textSizeRatio);
    *sy = fabs(c->my * c->textSizeRatio);
  } else {
    *sx = *sy = 1.0;
  }
}

/*
 * requestedFontSize --
 *     The size a font was asked for: Tk keeps the size it obtained, in
 *     points even for a request in pixels, so the description is read
 *     ("family size ?style?", "-size n" options, or a named font's size).
 */
double requestedFontSize(Tcl_Interp *interp, Tk_Font tkfont) {
  const TkFont *font = reinterpret_cast<const TkFont *>(tkfont);
  Tcl_Obj *name = Tcl_NewStringObj(Tk_NameOfFont(tkfont), -1);
  Tcl_IncrRefCount(name);
  double size = font->fa.size;
  int count;
  Tcl_Obj **words;
  if (Tcl_ListObjGetElements(nullptr, name, &count, &words) == TCL_OK) {
    int value;
    if (count >= 2 && Tcl_GetString(words[0])[0] != '-' &&
        Tcl_GetIntFromObj(nullptr, words[1], &value) == TCL_OK) {
      size = value;
    } else if (count >= 2 && Tcl_GetString(words[0])[0] == '-') {
      for (int i = 0; i + 1 < count; i += 2)
        if (strcmp(Tcl_GetString(words[i]), "-size") == 0 &&
            Tcl_GetIntFromObj(nullptr, words[i + 1], &value) == TCL_OK)
          size = value;
    } else if (count == 1 && interp) {
      Tcl_Obj *query[4] = {Tcl_NewStringObj("font", -1), Tcl_NewStringObj("configure", -1), name,
                           Tcl_NewStringObj("-size", -1)};
      for (Tcl_Obj *o : query) Tcl_IncrRefCount(o);
      Tcl_Obj *saved = Tcl_GetObjResult(interp);
      Tcl_IncrRefCount(saved);
      if (Tcl_EvalObjv(interp, 4, query, TCL_EVAL_GLOBAL) == TCL_OK &&
          Tcl_GetIntFromObj(nullptr, Tcl_GetObjResult(interp), &value) == TCL_OK)
        size = value;
      Tcl_SetObjResult(interp, saved);
      Tcl_DecrRefCount(saved);
      for (Tcl_Obj *o : query) Tcl_DecrRefCount(o);
    }
  }
  Tcl_DecrRefCount(name);
  return size;
}

int labelScaledSize(TextLabel *t, double sy) { return roundToInt(t->requestedSize * sy); }

void labelReadFontSize(ItemContainer *c, TextLabel *t) {
  if (t->tkfont == t->sizeFont) return;
  t->sizeFont = t->tkfont;
  t->requestedSize = t->tkfont ? requestedFontSize(c->interp ? c->interp : canvasOf(c)->c.interp,
                                                   t->tkfont)
                               : 0;
}

void labelLayout(ItemContainer *c, TextLabel *t, int size, double widthFactor, double escapement,
                 double orientation, int advanced, int *w, int *h) {
  TkFontAttributes fa = reinterpret_cast<const TkFont *>(t->tkfont)->fa;
  fa.size = size;
  RotatedFont *font = acquireRotatedFont(canvasTkwin(c), &fa, widthFactor, escapement,
                                         orientation, advanced);
  freeTextLayout(t->layout);
  releaseRotatedFont(t->itemFont);
  t->itemFont = font;
  t->itemSize = size;
  t->widthFactor = widthFactor;
  int justify = t->justify == TK_JUSTIFY_RIGHT    ? LAYOUT_JUSTIFY_RIGHT
                : t->justify == TK_JUSTIFY_CENTER ? LAYOUT_JUSTIFY_CENTER
                                                  : LAYOUT_JUSTIFY_LEFT;
  t->layout = computeTextLayout(font, t->text ? t->text : "", t->numChars, t->width, justify, 0, w,
                                h);
}

int labelCursorMargin(ItemContainer *c) {
  GcanvasTextInfo *info = canvasTextInfo(c);
  int m = (info->insertWidth + 1) / 2;
  if (info->selBorderWidth > m) m = info->selBorderWidth;
  return m;
}

/*
 * labelDisplay --
 *     Draws the selection background and (upright) cursor from the
 *     label's left edge and top, then the text with its top-left corner
 *     at drawable (textX, textY), then the selected characters again in
 *     the selected-text GC.
 */
void labelDisplay(ItemContainer *c, GcanvasItem *item, TextLabel *t, Display *display,
                  Drawable drawable, int textX, int textY, bool uprightCursor) {
  GcanvasRecord *canvas = canvasOf(c);
  GcanvasTextInfo *info = canvasTextInfo(c);
  Tk_Window tkwin = canvasTkwin(c);
  int selFirst = -1, selLast = 0;
  if (info->selItemPtr == item && t->layout) {
    selFirst = info->selectFirst;
    selLast = info->selectLast;
    if (selLast >= t->numChars) selLast = t->numChars - 1;
    if (selFirst >= 0 && selFirst <= selLast && info->selBorder) {
      int xFirst, yFirst, hFirst, xLast, yLast;
      if (layoutCharBbox(t->layout, selFirst, &xFirst, &yFirst, nullptr, &hFirst) &&
          layoutCharBbox(t->layout, selLast, &xLast, &yLast, nullptr, nullptr) && hFirst > 0) {
        int x = xFirst;
        for (int y = yFirst; y <= yLast; y += hFirst) {
          int width = y == yLast ? xLast - x : roundToInt(t->rightEdge - t->leftEdge - x);
          int dx = toDrawableCoord(canvas->drawableXOrigin,
                                   t->leftEdge + x - info->selBorderWidth);
          int dy = toDrawableCoord(canvas->drawableYOrigin, t->top + y);
          int fullWidth = width + 2 * info->selBorderWidth;
          if (fullWidth > 0)
            Tk_Fill3DRectangle(tkwin, drawable, info->selBorder, dx, dy, fullWidth, hFirst,
                               info->selBorderWidth, TK_RELIEF_RAISED);
          x = 0;
        }
      }
    } else {
      selFirst = -1;
    }
  }
  if (uprightCursor && info->focusItemPtr == item && info->gotFocus && t->layout) {
    int x, y, height;
    if (layoutCharBbox(t->layout, t->insertPos, &x, &y, nullptr, &height)) {
      int dx = toDrawableCoord(canvas->drawableXOrigin, t->leftEdge + x - info->insertWidth / 2);
      int dy = toDrawableCoord(canvas->drawableYOrigin, t->top + y);
      if (info->cursorOn) {
        if (info->insertBorder && info->insertWidth > 0 && height > 0)
          Tk_Fill3DRectangle(tkwin, drawable, info->insertBorder, dx, dy, info->insertWidth,
                             height, info->insertBorderWidth, TK_RELIEF_RAISED);
      } else if (t->cursorOffGC != None && info->insertWidth > 0 && height > 0) {
        XFillRectangle(display, drawable, t->cursorOffGC, dx, dy,
                       static_cast<unsigned>(info->insertWidth), static_cast<unsigned>(height));
      }
    }
  }
  drawTextLayout(display, drawable, t->gc, t->layout, textX, textY, 0, -1);
  if (selFirst >= 0 && t->selTextGC != t->gc && t->selTextGC != None)
    drawTextLayout(display, drawable, t->selTextGC, t->layout, textX, textY, selFirst,
                   selLast + 1);
}

/*
 * labelIndex --
 *     "end", "insert", "sel.first"/"sel.last" (five characters at least),
 *     the point form "@x,y" and integers (held within the text).
 */
int labelIndex(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, TextLabel *t,
               Tcl_Obj *obj, int *indexPtr, LabelPointIndex *pointIndex) {
  GcanvasTextInfo *info = canvasTextInfo(c);
  int length;
  const char *string = Tcl_GetStringFromObj(obj, &length);
  size_t n = static_cast<size_t>(length);
  char first = string[0];
  if (first == 'e' && strncmp(string, "end", n) == 0 && n <= 3) {
    *indexPtr = t->numChars;
  } else if (first == 'i' && strncmp(string, "insert", n) == 0 && n <= 6) {
    *indexPtr = t->insertPos;
  } else if (first == 's' && length >= 5 && n <= 9 && strncmp(string, "sel.first", n) == 0) {
    if (info->selItemPtr != item) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("selection isn't in item", -1));
      return TCL_ERROR;
    }
    *indexPtr = info->selectFirst;
  } else if (first == 's' && length >= 5 && n <= 8 && strncmp(string, "sel.last", n) == 0) {
    if (info->selItemPtr != item) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("selection isn't in item", -1));
      return TCL_ERROR;
    }
    *indexPtr = info->selectLast;
  } else if (first == '@') {
    const char *p = string + 1;
    char *end;
    double x = strtod(p, &end);
    if (end == p || *end != ',') goto badIndex;
    p = end + 1;
    double y = strtod(p, &end);
    if (end == p || *end != 0) goto badIndex;
    *indexPtr = pointIndex(c, item, x, y);
  } else if (Tcl_GetIntFromObj(nullptr, obj, indexPtr) == TCL_OK) {
    if (*indexPtr < 0) *indexPtr = 0;
    else if (*indexPtr > t->numChars) *indexPtr = t->numChars;
  } else {
  badIndex:
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "bad index \"", string, "\"", nullptr);
    return TCL_ERROR;
  }
  return TCL_OK;
}

void labelIcursor(TextLabel *t, int index) {
  if (index < 0) t->insertPos = 0;
  else if (index > t->numChars) t->insertPos = t->numChars;
  else t->insertPos = index;
}

int labelSelection(ItemContainer *c, GcanvasItem *, TextLabel *t, int offset, char *buffer,
                   int maxBytes) {
  GcanvasTextInfo *info = canvasTextInfo(c);
  if (info->selectFirst < 0 || info->selectFirst > info->selectLast || !t->text) return 0;
  const char *selStart = Tcl_UtfAtIndex(t->text, info->selectFirst);
  const char *selEnd = Tcl_UtfAtIndex(selStart, info->selectLast + 1 - info->selectFirst);
  int count = static_cast<int>(selEnd - selStart) - offset;
  if (count > maxBytes) count = maxBytes;
  if (count <= 0) return 0;
  memcpy(buffer, selStart + offset, static_cast<size_t>(count));
  buffer[count] = '\0';
  return count;
}

bool labelInsert(ItemContainer *c, GcanvasItem *item, TextLabel *t, int index, Tcl_Obj *obj) {
  GcanvasTextInfo *info = canvasTextInfo(c);
  int byteCount;
  const char *string = Tcl_GetStringFromObj(obj, &byteCount);
  if (index < 0) index = 0;
  if (index > t->numChars) index = t->numChars;
  if (byteCount == 0) return false;
  const char *text = t->text ? t->text : "";
  int byteIndex = static_cast<int>(Tcl_UtfAtIndex(text, index) - text);
  int charsAdded = Tcl_NumUtfChars(string, byteCount);
  char *fresh = (char *)ckalloc(static_cast<unsigned>(t->numBytes + byteCount + 1));
  memcpy(fresh, text, static_cast<size_t>(byteIndex));
  memcpy(fresh + byteIndex, string, static_cast<size_t>(byteCount));
  strcpy(fresh + byteIndex + byteCount, text + byteIndex);
  /* The layout points into the old text: drop it before freeing that. */
  freeTextLayout(t->layout);
  t->layout = nullptr;
  if (t->text) ckfree(t->text);
  t->text = fresh;
  t->numChars += charsAdded;
  t->numBytes += byteCount;
  if (info->selItemPtr == item) {
    if (info->selectFirst >= index) info->selectFirst += charsAdded;
    if (info->selectLast >= index) info->selectLast += charsAdded;
    if (info->anchorItemPtr == item && info->selectAnchor >= index)
      info->selectAnchor += charsAdded;
  }
  if (t->insertPos >= index) t->insertPos += charsAdded;
  return true;
}

bool labelDChars(ItemContainer *c, GcanvasItem *item, TextLabel *t, int first, int last) {
  GcanvasTextInfo *info = canvasTextInfo(c);
  if (first < 0) first = 0;
  if (last >= t->numChars) last = t->numChars - 1;
  if (first > last || !t->text) return false;
  int count = last + 1 - first;
  const char *text = t->text;
  int byteIndex = static_cast<int>(Tcl_UtfAtIndex(text, first) - text);
  int byteCount = static_cast<int>(Tcl_UtfAtIndex(text + byteIndex, count) - (text + byteIndex));
  char *fresh = (char *)ckalloc(static_cast<unsigned>(t->numBytes + 1 - byteCount));
  memcpy(fresh, text, static_cast<size_t>(byteIndex));
  strcpy(fresh + byteIndex, text + byteIndex + byteCount);
  freeTextLayout(t->layout);
  t->layout = nullptr;
  ckfree(t->text);
  t->text = fresh;
  t->numChars -= count;
  t->numBytes -= byteCount;
  if (info->selItemPtr == item) {
    if (info->selectFirst > first) {
      info->selectFirst -= count;
      if (info->selectFirst < first) info->selectFirst = first;
    }
    if (info->selectLast >= first) {
      info->selectLast -= count;
      if (info->selectLast < first - 1) info->selectLast = first - 1;
    }
    if (info->selectFirst > info->selectLast) info->selItemPtr = nullptr;
    if (info->anchorItemPtr == item && info->selectAnchor > first) {
      info->selectAnchor -= count;
      if (info->selectAnchor < first) info->selectAnchor = first;
    }
  }
  if (t->insertPos > first) {
    t->insertPos -= count;
    if (t->insertPos < first) t->insertPos = first;
  }
  return true;
}

/*
 * labelPostscript --
 *     The label as the prolog's DrawText call at canvas (x, y): upright,
 *     in the item's Tk font at its own size.
 */
int labelPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, TextLabel *t,
                    double x, double y, int prepass) {
  XColor *color = labelColor(c, item, t);
  Pixmap stipple = labelStipple(c, item, t);
  if (effectiveState(c, item) == STATE_HIDDEN || !color || !t->text || !t->text[0] ||
      !t->layout)
    return TCL_OK;
  if (canvasPsFont(interp, c, t->tkfont) != TCL_OK) return TCL_ERROR;
  if (prepass) return TCL_OK;
  if (canvasPsColor(interp, c, color) != TCL_OK) return TCL_ERROR;
  if (stipple != None) {
    Tcl_AppendResult(interp, "/StippleText {\n    ", nullptr);
    canvasPsStipple(interp, c, stipple);
    Tcl_AppendResult(interp, "} bind def\n", nullptr);
  }
  char buffer[500];
  snprintf(buffer, sizeof buffer, "%.15g %.15g [\n", x, canvasPsY(c, y));
  Tcl_AppendResult(interp, buffer, nullptr);
  textLayoutToPostscript(interp, t->layout);
  int fx, fy;  /* the anchor's offsets in halves of the width and height */
  anchorOffset(t->anchor, 2, 2, &fx, &fy);
  const char *justify = t->justify == TK_JUSTIFY_CENTER ? "0.5"
                        : t->justify == TK_JUSTIFY_RIGHT ? "1"
                                                         : "0";
  Tk_FontMetrics fm;
  Tk_GetFontMetrics(t->tkfont, &fm);
  snprintf(buffer, sizeof buffer, "] %d %g %g %s %s DrawText\n", fm.linespace, fx / -2.0,
           fy / 2.0, justify, stipple == None ? "false" : "true");
  Tcl_AppendResult(interp, buffer, nullptr);
  return TCL_OK;
}

/* ---- the text and gtext items ---- */

namespace {

struct GcanvasTextItem {
  GcanvasItem header;
  TextLabel label;
  double x, y;           /* anchor point, world units */
  double corners[8];     /* gtext: rotated layout corners from the anchor pixel */
  double escapement, orientation, aspectRatio;
};

static_assert(offsetof(GcanvasTextItem, label) == offsetof(LabelledItem, label),
              "the label follows the header");

#define TEXT_OFFSET(field) static_cast<int>(offsetof(GcanvasTextItem, field))

#define TEXT_SPECS                                                                              \
  {TK_CONFIG_COLOR, "-activefill", nullptr, nullptr, nullptr, TEXT_OFFSET(label.activeColor),  \
   TK_CONFIG_NULL_OK, nullptr},                                                                 \
      {TK_CONFIG_BITMAP, "-activestipple", nullptr, nullptr, nullptr,                           \
       TEXT_OFFSET(label.activeStipple), TK_CONFIG_NULL_OK, nullptr},                           \
      {TK_CONFIG_ANCHOR, "-anchor", nullptr, nullptr, "center", TEXT_OFFSET(label.anchor),      \
       TK_CONFIG_DONT_SET_DEFAULT, nullptr},                                                    \
      {TK_CONFIG_COLOR, "-disabledfill", nullptr, nullptr, nullptr,                             \
       TEXT_OFFSET(label.disabledColor), TK_CONFIG_NULL_OK, nullptr},                           \
      {TK_CONFIG_BITMAP, "-disabledstipple", nullptr, nullptr, nullptr,                         \
       TEXT_OFFSET(label.disabledStipple), TK_CONFIG_NULL_OK, nullptr},                         \
      {TK_CONFIG_COLOR, "-fill", nullptr, nullptr, "black", TEXT_OFFSET(label.color),           \
       TK_CONFIG_NULL_OK, nullptr},                                                             \
      {TK_CONFIG_INT, "-floating", nullptr, nullptr, "0", TEXT_OFFSET(header.floating), 0,      \
       nullptr},                                                                                \
      {TK_CONFIG_FONT, "-font", nullptr, nullptr, "{MS Sans Serif} 8", TEXT_OFFSET(label.tkfont), \
       0, nullptr},                                                                             \
      {TK_CONFIG_JUSTIFY, "-justify", nullptr, nullptr, "left", TEXT_OFFSET(label.justify),     \
       TK_CONFIG_DONT_SET_DEFAULT, nullptr},                                                    \
      {TK_CONFIG_CUSTOM, "-offset", nullptr, nullptr, "0,0", TEXT_OFFSET(label.tsoffset),       \
       TK_CONFIG_DONT_SET_DEFAULT, &offsetOption},                                              \
      {TK_CONFIG_INT, "-scalable", nullptr, nullptr, "0", TEXT_OFFSET(header.scalable), 0,      \
       nullptr},                                                                                \
      {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, TEXT_OFFSET(header.state),        \
       TK_CONFIG_NULL_OK, &stateOption},                                                        \
      {TK_CONFIG_BITMAP, "-stipple", nullptr, nullptr, nullptr, TEXT_OFFSET(label.stipple),     \
       TK_CONFIG_NULL_OK, nullptr},                                                             \
      {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption}, \
      {TK_CONFIG_STRING, "-text", nullptr, nullptr, "", TEXT_OFFSET(label.text), 0, nullptr},   \
      {TK_CONFIG_PIXELS, "-width", nullptr, nullptr, "0", TEXT_OFFSET(label.width),             \
       TK_CONFIG_DONT_SET_DEFAULT, nullptr}

Tk_ConfigSpec textConfigSpecs[] = {
    TEXT_SPECS,
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

Tk_ConfigSpec gtextConfigSpecs[] = {
    TEXT_SPECS,
    {TK_CONFIG_DOUBLE, "-escapement", "escapement", "Escapement", "0.0",
     TEXT_OFFSET(escapement), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-orientation", "orientation", "Orientation", "0.0",
     TEXT_OFFSET(orientation), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-aspectratio", "aspectratio", "Aspectratio", "0.0",
     TEXT_OFFSET(aspectRatio), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

GcanvasTextItem *asText(GcanvasItem *item) { return reinterpret_cast<GcanvasTextItem *>(item); }
bool isGtext(GcanvasItem *item) { return item->typePtr->name[0] == 'g'; }

/* The layout's angle in tenths of a degree: counter-clockwise on a north-up map. */
int gtextTenths(ItemContainer *c, GcanvasTextItem *tp) {
  double a = c->my > 0 ? -tp->escapement : tp->escapement;
  return roundToInt(a * 10);
}

/* The box as a point at the anchor pixel: nothing is drawn. */
void pointBox(GcanvasItem *item, double x, double y) {
  item->x1 = item->x2 = x;
  item->y1 = item->y2 = y;
}

/*
 * computeTextBbox --
 *     Lays the text out in an item font at the view's scale and places it
 *     around the anchor pixel; text whose size falls below the canvas's
 *     minimum keeps a point box and is not drawn.
 */
void computeTextBbox(ItemContainer *c, GcanvasItem *item) {
  GcanvasTextItem *tp = asText(item);
  TextLabel *t = &tp->label;
  double X = tp->x * c->mx - c->xOffset, Y = tp->y * c->my - c->yOffset;
  if (!t->tkfont || !t->text) {
    pointBox(item, X, Y);
    return;
  }
  double sx, sy;
  labelScales(c, item, &sx, &sy);
  int size = labelScaledSize(t, sy);
  if (size < c->textSizeMin || sy == 0) {
    pointBox(item, X, Y);
    return;
  }
  if (size > c->textSizeMax) size = c->textSizeMax;
  bool gtext = isGtext(item);
  double widthFactor = sx != sy ? (sx / sy) * 0.4 : 0;
  int w, h;
  if (!gtext) {
    labelLayout(c, t, size, widthFactor, 0, 0, 0, &w, &h);
  } else {
    if (tp->aspectRatio != 0) widthFactor = tp->aspectRatio * (sx / sy);
    int tenths = gtextTenths(c, tp);
    double orientation = roundToInt(tp->orientation * 10) / 10.0;
    labelLayout(c, t, size, widthFactor, tenths / 10.0, orientation,
                canvasOf(c)->graphicsMode != 0, &w, &h);
    double r = tenths * M_PI / 1800.0;
    setLayoutRotation(t->layout, sin(r), cos(r));
  }
  XColor *color = labelColor(c, item, t);
  if (effectiveState(c, item) == STATE_HIDDEN || !color) w = h = 0;
  int m = labelCursorMargin(c);
  t->cursorMargin = m;
  if (!gtext) {
    int dx, dy;
    anchorOffset(t->anchor, -w, -h, &dx, &dy);
    t->leftEdge = X + dx;
    t->rightEdge = t->leftEdge + w;
    t->top = Y + dy;
    item->x1 = X + dx - m;
    item->y1 = Y + dy;
    item->x2 = X + dx + w + m;
    item->y2 = Y + dy + h;
  } else {
    double co = t->layout ? t->layout->cosine : 1, si = t->layout ? t->layout->sine : 0;
    double ax, ay;
    anchorOffset<double>(t->anchor, w, h, &ax, &ay);
    double ox = -(ax * co + ay * si), oy = ax * si - ay * co;
    double *k = tp->corners;
    k[0] = ox;
    k[1] = oy;
    k[2] = ox + w * co;
    k[3] = oy - w * si;
    k[4] = k[2] + h * si;
    k[5] = k[3] + h * co;
    k[6] = ox + h * si;
    k[7] = oy + h * co;
    double x1 = k[0], x2 = k[0], y1 = k[1], y2 = k[1];
    for (int i = 1; i < 4; i++) {
      x1 = std::min(x1, k[2 * i]);
      x2 = std::max(x2, k[2 * i]);
      y1 = std::min(y1, k[2 * i + 1]);
      y2 = std::max(y2, k[2 * i + 1]);
    }
    t->leftEdge = roundToInt(X + x1);
    t->rightEdge = t->leftEdge + w;
    t->top = Y + y1;
    item->x1 = X + x1 - m;
    item->y1 = Y + y1;
    item->x2 = X + x2 + m;
    item->y2 = Y + y2;
  }
  item->xMargin = static_cast<float>(m);
  item->yMargin = 0;
}

int textCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
               Tcl_Obj *const objv[]) {
  GcanvasTextItem *tp = asText(item);
  if (pointItemCoords(interp, objc, objv, c, &tp->x, &tp->y) != TCL_OK) return TCL_ERROR;
  if (objc > 0) computeTextBbox(c, item);
  return TCL_OK;
}

int configureText(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                  Tcl_Obj *const objv[], int flags) {
  GcanvasTextItem *tp = asText(item);
  TextLabel *t = &tp->label;
  Tk_Window tkwin = canvasTkwin(c);
  /* The layout points into the text, which the options may replace. */
  freeTextLayout(t->layout);
  t->layout = nullptr;
  int code = Tk_ConfigureWidget(interp, tkwin, item->typePtr->configSpecs, objc, objWords(objv),
                                reinterpret_cast<char *>(tp), flags | TK_CONFIG_OBJS);
  setStateDependant(item, labelHasActiveLook(t));
  labelReadFontSize(c, t);
  labelConfigureGCs(c, item, t);
  labelUpdateCounts(c, item, t);
  computeTextBbox(c, item);
  return code;
}

void deleteText(ItemContainer *c, GcanvasItem *item, Display *display) {
  GcanvasTextItem *tp = asText(item);
  labelFree(display, &tp->label);
  Tk_FreeOptions(item->typePtr->configSpecs, reinterpret_cast<char *>(tp), display, 0);
  (void)c;
}

int createText(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
               Tcl_Obj *const objv[]) {
  GcanvasTextItem *tp = asText(item);
  int coords = createCoordCount(interp, c, item, objc, objv, 2, "x y");
  if (coords < 0) return TCL_ERROR;
  new (&tp->label) TextLabel();
  tp->label.textInfoPtr = canvasTextInfo(c);
  tp->x = tp->y = 0;
  memset(tp->corners, 0, sizeof tp->corners);
  tp->escapement = tp->orientation = tp->aspectRatio = 0;
  return createFromWords(interp, c, item, objc, objv, coords);
}

void displayText(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable, int,
                 int, int, int) {
  GcanvasTextItem *tp = asText(item);
  TextLabel *t = &tp->label;
  if (drawable == None || t->gc == None || !t->layout) return;
  if (item->x2 <= item->x1 || item->y2 <= item->y1) return;
  GcanvasRecord *canvas = canvasOf(c);
  Pixmap stipple = labelStipple(c, item, t);
  if (stipple != None) setStippleOffset(c, t->gc, &t->tsoffset);
  if (!isGtext(item)) {
    labelDisplay(c, item, t, display, drawable, toDrawableCoord(canvas->drawableXOrigin, t->leftEdge),
                 toDrawableCoord(canvas->drawableYOrigin, t->top), true);
  } else {
    GcanvasTextInfo *info = canvasTextInfo(c);
    double tlx = tp->x * c->mx + tp->corners[0] - c->xOffset;
    double tly = tp->y * c->my + tp->corners[1] - c->yOffset;
    int cx, cy, height;
    if (info->focusItemPtr == item && info->gotFocus &&
        layoutCharBbox(t->layout, t->insertPos, &cx, &cy, nullptr, &height)) {
      double local[8] = {static_cast<double>(cx - info->insertWidth), static_cast<double>(cy),
                         static_cast<double>(cx), static_cast<double>(cy),
                         static_cast<double>(cx), static_cast<double>(cy + height),
                         static_cast<double>(cx - info->insertWidth),
                         static_cast<double>(cy + height)};
      XPoint points[5];
      for (int i = 0; i < 4; i++) {
        double u, v;
        layoutUnrotatePoint(t->layout, local[2 * i], local[2 * i + 1], &u, &v);
        points[i].x = toDrawableCoord(canvas->drawableXOrigin, tlx + u);
        points[i].y = toDrawableCoord(canvas->drawableYOrigin, tly + v);
      }
      points[4] = points[0];
      GC gc = None;
      if (info->cursorOn && info->insertBorder)
        gc = Tk_3DBorderGC(canvasTkwin(c), info->insertBorder, TK_3D_FLAT_GC);
      else if (!info->cursorOn)
        gc = t->cursorOffGC;
      if (gc != None) XFillPolygon(display, drawable, gc, points, 5, Complex, CoordModeOrigin);
    }
    double X = roundToInt(tp->x * c->mx - c->xOffset), Y = roundToInt(tp->y * c->my - c->yOffset);
    int saved = setDrawableGraphicsMode(display, drawable, canvas->graphicsMode);
    labelDisplay(c, item, t, display, drawable,
                 toDrawableCoord(canvas->drawableXOrigin, X + tp->corners[0]),
                 toDrawableCoord(canvas->drawableYOrigin, Y + tp->corners[1]), false);
    setDrawableGraphicsMode(display, drawable, saved);
  }
  if (stipple != None) XSetTSOrigin(display, t->gc, 0, 0);
}

bool labelShown(ItemContainer *c, GcanvasItem *item, TextLabel *t) {
  return t->layout && effectiveState(c, item) != STATE_HIDDEN && labelColor(c, item, t) &&
         t->text && t->text[0];
}

double textToPoint(ItemContainer *c, GcanvasItem *item, double *p) {
  GcanvasTextItem *tp = asText(item);
  TextLabel *t = &tp->label;
  if (!labelShown(c, item, t)) return 9.999999999999999e35;
  int d;
  if (!isGtext(item)) {
    d = layoutDistance(t->layout, roundToInt(p[0] - t->leftEdge), roundToInt(p[1] - item->y1));
  } else {
    double X = tp->x * c->mx - c->xOffset, Y = tp->y * c->my - c->yOffset;
    d = layoutDistance(t->layout, roundToInt(p[0] - X - tp->corners[0]),
                       roundToInt(p[1] - Y - tp->corners[1]));
  }
  return d;
}

int textToArea(ItemContainer *c, GcanvasItem *item, double *r) {
  GcanvasTextItem *tp = asText(item);
  TextLabel *t = &tp->label;
  if (!t->layout) return -1;
  if (!isGtext(item))
    return layoutIntersect(t->layout, roundToInt(r[0] - t->leftEdge), roundToInt(r[1] - item->y1),
                           roundToInt(r[2] - r[0]), roundToInt(r[3] - r[1]));
  /* A rotated text: the rectangle against the turned layout rectangle. */
  if (effectiveState(c, item) == STATE_HIDDEN || !labelColor(c, item, t)) return -1;
  double X = tp->x * c->mx - c->xOffset, Y = tp->y * c->my - c->yOffset;
  double polygon[10];
  for (int i = 0; i < 4; i++) {
    polygon[2 * i] = X + tp->corners[2 * i];
    polygon[2 * i + 1] = Y + tp->corners[2 * i + 1];
  }
  polygon[8] = polygon[0];
  polygon[9] = polygon[1];
  return polygonToArea(polygon, 5, r);
}

void scaleText(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasTextItem *tp = asText(item);
  scaleWorldPoint(&tp->x, &tp->y, ox, oy, sx, sy);
  computeTextBbox(c, item);
}

void translateText(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasTextItem *tp = asText(item);
  tp->x += dx;
  tp->y += dy;
  computeTextBbox(c, item);
}

int textPointIndex(ItemContainer *c, GcanvasItem *item, double x, double y) {
  GcanvasTextItem *tp = asText(item);
  GcanvasRecord *canvas = canvasOf(c);
  if (!tp->label.layout) return 0;
  if (!isGtext(item)) {
    double px = static_cast<double>(roundToInt(x)) + canvas->xOrigin;
    double py = static_cast<double>(roundToInt(y)) + canvas->yOrigin;
    return layoutPointToChar(tp->label.layout, roundToInt(px - tp->label.leftEdge),
                             roundToInt(py - item->y1));
  }
  double u = x + canvas->xOrigin - (tp->x * c->mx + tp->corners[0] - c->xOffset);
  double v = y + canvas->yOrigin - (tp->y * c->my + tp->corners[1] - c->yOffset);
  layoutRotate(tp->label.layout, &u, &v);
  int index = layoutPointToChar(tp->label.layout, saturatingInt(u), saturatingInt(v));
  vesk_fprintf(stderr, "index:%d\n", index);
  return index;
}

int textIndex(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, Tcl_Obj *obj,
              int *indexPtr) {
  return labelIndex(interp, c, item, &asText(item)->label, obj, indexPtr, textPointIndex);
}

int textToPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int prepass) {
  GcanvasTextItem *tp = asText(item);
  return labelPostscript(interp, c, item, &tp->label, tp->x * c->mx - c->xOffset,
                         tp->y * c->my - c->yOffset, prepass);
}

TextLabel *labelOf(GcanvasItem *item) { return &reinterpret_cast<LabelledItem *>(item)->label; }

}  // namespace

void labelledIcursor(ItemContainer *, GcanvasItem *item, int index) {
  labelIcursor(labelOf(item), index);
}

int labelledSelection(ItemContainer *c, GcanvasItem *item, int offset, char *buffer,
                      int maxBytes) {
  return labelSelection(c, item, labelOf(item), offset, buffer, maxBytes);
}

void labelledInsert(ItemContainer *c, GcanvasItem *item, int index, Tcl_Obj *obj) {
  if (labelInsert(c, item, labelOf(item), index, obj)) item->typePtr->bboxProc(c, item);
}

void labelledDChars(ItemContainer *c, GcanvasItem *item, int first, int last) {
  if (labelDChars(c, item, labelOf(item), first, last)) item->typePtr->bboxProc(c, item);
}

/* The label of a text, gtext or symbol item (NULL for other types). */
TextLabel *textItemLabel(GcanvasItem *item) {
  const char *name = item->typePtr->name;
  if (strcmp(name, "text") && strcmp(name, "gtext") && strcmp(name, "symbol")) return nullptr;
  return labelOf(item);
}

GcanvasItemType textType = {
    "text", sizeof(GcanvasTextItem), createText, textConfigSpecs, configureText, textCoords,
    deleteText, displayText, TK_ITEM_OBJS, textToPoint, textToArea, textToPostscript, scaleText,
    translateText, textIndex, labelledIcursor, labelledSelection, labelledInsert, labelledDChars,
    computeTextBbox,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

GcanvasItemType gtextType = {
    "gtext", sizeof(GcanvasTextItem), createText, gtextConfigSpecs, configureText, textCoords,
    deleteText, displayText, TK_ITEM_OBJS, textToPoint, textToArea, textToPostscript, scaleText,
    translateText, textIndex, labelledIcursor, labelledSelection, labelledInsert, labelledDChars,
    computeTextBbox,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace vesk
