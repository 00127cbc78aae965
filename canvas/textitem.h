/*
 * textitem.h --
 *     The editable text label shared by the "text", "gtext" and "symbol"
 *     items: colours and stipples per state, the item font made at the
 *     view's scale, the layout, the GCs, editing, selection, index forms,
 *     drawing of selection, cursor and text, and PostScript.
 */
#ifndef VESK_CANVAS_TEXTITEM_H
#define VESK_CANVAS_TEXTITEM_H

#include "canvas/gcanvas.h"
#include "canvas/textlayout.h"

namespace vesk {

struct TextLabel {
  GcanvasTextInfo *textInfoPtr = nullptr;
  int insertPos = 0;
  Tk_Anchor anchor = TK_ANCHOR_CENTER;
  StippleOffset tsoffset;
  XColor *color = nullptr, *activeColor = nullptr, *disabledColor = nullptr;
  Tk_Font tkfont = nullptr;
  RotatedFont *itemFont = nullptr;  /* shared: released, never freed here */
  Tk_Justify justify = TK_JUSTIFY_LEFT;
  Pixmap stipple = None, activeStipple = None, disabledStipple = None;
  char *text = nullptr;
  int width = 0;  /* wrap length, pixels */
  int numChars = 0, numBytes = 0;
  RotatedTextLayout *layout = nullptr;
  double leftEdge = 0, rightEdge = 0;  /* canvas pixels */
  double top = 0;                      /* canvas pixels of the layout's top */
  int cursorMargin = 0;
  GC gc = None, selTextGC = None, cursorOffGC = None;
  Tk_Font sizeFont = nullptr; /* the font requestedSize was read from */
  double requestedSize = 0;   /* its size as asked for: points, negative for pixels */
  int itemSize = 0;          /* the size the item font was made at */
  double widthFactor = 0;    /* its width factor */
};

/* Colour and stipple of the item's present state. */
XColor *labelColor(ItemContainer *c, GcanvasItem *item, TextLabel *t);
Pixmap labelStipple(ItemContainer *c, GcanvasItem *item, TextLabel *t);
bool labelHasActiveLook(TextLabel *t);
/* The three GCs for the present state. */
void labelConfigureGCs(ItemContainer *c, GcanvasItem *item, TextLabel *t);
/* Counts of the text; selection, anchor and cursor held within them. */
void labelUpdateCounts(ItemContainer *c, GcanvasItem *item, TextLabel *t);
void labelFree(Display *display, TextLabel *t);
/* The view's scale factors for a scalable item (1 and 1 otherwise). */
void labelScales(ItemContainer *c, GcanvasItem *item, double *sx, double *sy);
/* The Tk font's size times sy, rounded; a size in pixels stays negative. */
int labelScaledSize(TextLabel *t, double sy);
/* Reads the size the label's Tk font was asked for, when the font changed. */
void labelReadFontSize(ItemContainer *c, TextLabel *t);
/* Makes the item font and the layout; w and h out. */
void labelLayout(ItemContainer *c, TextLabel *t, int size, double widthFactor, double escapement,
                 double orientation, int advanced, int *w, int *h);
/* Selection background, cursor (upright), text and selected text. */
void labelDisplay(ItemContainer *c, GcanvasItem *item, TextLabel *t, Display *display,
                  Drawable drawable, int textX, int textY, bool uprightCursor);
/* The index forms; pointIndex maps the "@x,y" form (x, y as read). */
typedef int LabelPointIndex(ItemContainer *c, GcanvasItem *item, double x, double y);
int labelIndex(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, TextLabel *t,
               Tcl_Obj *obj, int *indexPtr, LabelPointIndex *pointIndex);
void labelIcursor(TextLabel *t, int index);
int labelSelection(ItemContainer *c, GcanvasItem *item, TextLabel *t, int offset, char *buffer,
                   int maxBytes);
/* Returns true when the text changed (the caller recomputes the box). */
bool labelInsert(ItemContainer *c, GcanvasItem *item, TextLabel *t, int index, Tcl_Obj *obj);
bool labelDChars(ItemContainer *c, GcanvasItem *item, TextLabel *t, int first, int last);
/* The DrawText call for the label anchored at canvas (x, y). */
int labelPostscript(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, TextLabel *t,
                    double x, double y, int prepass);
/* The cursor margin from the canvas's text information. */
int labelCursorMargin(ItemContainer *c);

/* The start every text-bearing record shares: the label right after the header. */
struct LabelledItem {
  GcanvasItem header;
  TextLabel label;
};

/* The label of a text, gtext or symbol item (NULL for other types). */
TextLabel *textItemLabel(GcanvasItem *item);

/*
 * The editing procedures of a type whose record starts as a
 * LabelledItem; a changed text's box comes from the type's bboxProc.
 */
void labelledIcursor(ItemContainer *c, GcanvasItem *item, int index);
int labelledSelection(ItemContainer *c, GcanvasItem *item, int offset, char *buffer,
                      int maxBytes);
void labelledInsert(ItemContainer *c, GcanvasItem *item, int index, Tcl_Obj *obj);
void labelledDChars(ItemContainer *c, GcanvasItem *item, int first, int last);

}  // namespace vesk

#endif
