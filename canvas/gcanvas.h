/*
 * gcanvas.h --
 *     Private interface of the map canvas: the widget record, the item
 *     header and item-type record, the outline record, the PostScript
 *     state, and the procedures the canvas units and the item types share.
 *     Items keep world coordinates; boxes, redraw and scroll regions are
 *     canvas pixels (m x world - offset per axis).
 */
#ifndef VESK_CANVAS_GCANVAS_H
#define VESK_CANVAS_GCANVAS_H

#include <tk.h>
#include <limits.h>
#include <string>
#include <vector>

#include "vesk/gcanvas.h"

namespace vesk {

/* Tk's configuration procedures take Tcl objects in place of strings (TK_CONFIG_OBJS). */
inline const char **objWords(Tcl_Obj *const objv[]) {
  return (const char **)(void *)const_cast<Tcl_Obj **>(objv);
}

/* Truncates towards zero, clamped to the int range first (NaN gives 0). */
inline int saturatingInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return static_cast<int>(v);
}

/*
 * A whole canvas pixel of a point, truncated (or rounded half away from
 * zero) and held within +-2^30, so sizes added to it stay within int.
 */
inline int pixelTrunc(double v) {
  if (!(v == v)) return 0;
  if (v >= 1073741824.0) return 1073741824;
  if (v <= -1073741824.0) return -1073741824;
  return static_cast<int>(v);
}
inline int pixelRound(double v) { return pixelTrunc(v > 0 ? v + 0.5 : v - 0.5); }

struct GcanvasItem;
struct GcanvasItemType;
struct GcanvasRecord;
struct CanvasPsInfo;
class SaveFile;
struct TagExpr;

/* Item states (header field and the canvas's -state). */
enum { STATE_NONE = -1, STATE_ACTIVE = 0, STATE_DISABLED = 1, STATE_NORMAL = 2, STATE_HIDDEN = 3 };

/* Item redraw flags. */
enum { ITEM_STATE_DEPENDANT = 0x1, ITEM_DONT_REDRAW = 0x2, ITEM_FORCE_REDRAW = 0x8 };

/* Canvas flags. */
enum {
  REDRAW_PENDING = 0x1,
  REDRAW_BORDERS = 0x2,
  REPICK_NEEDED = 0x4,
  UPDATE_SCROLLBARS = 0x20,
  LEFT_GRABBED_ITEM = 0x40,
  REPICK_IN_PROGRESS = 0x100,
  BBOX_NOT_EMPTY = 0x200,
  ITEMS_FORCED = 0x400,  /* some item carries ITEM_FORCE_REDRAW */
  HAS_FLOATING = 0x800,  /* a floating item may exist: compose them over the backing */
  HAS_WINDOWS = 0x1000,  /* a window item may exist: place its window after each redisplay */
};

/* The type record's alwaysRedraw bits. */
enum { TK_ITEM_ALWAYS_REDRAW = 0x1, TK_ITEM_OBJS = 0x80 };

/* StippleOffset flag bits. */
enum {
  OFFSET_INDEX = 0x1,
  OFFSET_RELATIVE = 0x2,
  OFFSET_LEFT = 0x4,
  OFFSET_CENTER = 0x8,
  OFFSET_RIGHT = 0x10,
  OFFSET_TOP = 0x20,
  OFFSET_MIDDLE = 0x40,
  OFFSET_BOTTOM = 0x80,
};

struct StippleOffset {
  int flags = 0;
  int x = 0;  /* INT_MAX means "end" for an index */
  int y = 0;
};

/* A dash pattern: count > 0 lengths, count < 0 pattern characters, 0 none. */
struct GcanvasDash {
  int number = 0;
  union {
    char *pt;
    char array[sizeof(char *)];
  } pattern{};
};

struct GcanvasOutline {
  GC gc = None;
  double width = 1.0;
  double activeWidth = 0.0;
  double disabledWidth = 0.0;
  int offset = 0;  /* dash offset */
  GcanvasDash dash, activeDash, disabledDash;
  void *reserved1 = nullptr, *reserved2 = nullptr, *reserved3 = nullptr;
  StippleOffset tsoffset;
  XColor *color = nullptr;
  XColor *background = nullptr;  /* the gaps of a dashed stroke; NULL for on-off dashes */
  XColor *activeColor = nullptr;
  XColor *disabledColor = nullptr;
  Pixmap stipple = None, activeStipple = None, disabledStipple = None;
};

/* The header at the start of every item record. */
struct GcanvasItem {
  int id = 0;
  GcanvasItem *nextPtr = nullptr;
  Tk_Uid staticTagSpace[3] = {nullptr, nullptr, nullptr};
  Tk_Uid *tagPtr = nullptr;
  int tagSpace = 0;
  int numTags = 0;
  GcanvasItemType *typePtr = nullptr;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;  /* canvas pixels; -1 x 4 when hidden */
  float xMargin = 0, yMargin = 0;         /* outline margins in canvas pixels */
  GcanvasItem *prevPtr = nullptr;
  int state = STATE_NONE;
  GcanvasItem *group = nullptr;  /* owning group; NULL on the canvas itself */
  int redrawFlags = 0;
  int scalable = 0;
  int floating = 0;
};

/*
 * The part shared by the canvas record and a group's container: item
 * procedures work on it.  canvas is the owning canvas (the record itself
 * for a canvas).
 */
struct ItemContainer {
  GcanvasItem header;
  Tk_Window tkwin = nullptr;
  Display *display = nullptr;
  Tcl_Interp *interp = nullptr;
  GcanvasRecord *canvas = nullptr;
  GcanvasItem *groupItem = nullptr;
  double xOffset = 0, yOffset = 0;  /* mx x viewxorigin, my x viewyorigin */
  double mx = 1.0, my = 1.0;
  double textSizeRatio = 1.0;
  int textSizeMin = 4, textSizeMax = 400;
  GcanvasItem *firstItemPtr = nullptr;
  GcanvasItem *lastItemPtr = nullptr;
  int nextId = 1;
};

/* Tk's canvas text information, which text items read. */
struct GcanvasTextInfo {
  Tk_3DBorder selBorder = nullptr;
  int selBorderWidth = 0;
  XColor *selFgColorPtr = nullptr;
  GcanvasItem *selItemPtr = nullptr;
  int selectFirst = -1, selectLast = -1;
  GcanvasItem *anchorItemPtr = nullptr;
  int selectAnchor = 0;
  Tk_3DBorder insertBorder = nullptr;
  int insertWidth = 0;
  int insertBorderWidth = 0;
  GcanvasItem *focusItemPtr = nullptr;
  int gotFocus = 0;
  int cursorOn = 0;
};

struct GcanvasRecord {
  ItemContainer c;
  int width = 0, height = 0;
  Tk_BindingTable bindingTable = nullptr;
  GcanvasItem *currentItemPtr = nullptr;
  GcanvasItem *newCurrentPtr = nullptr;
  double closeEnough = 0.1;
  XEvent pickEvent{};
  int state = 0;  /* button and key state of the last event */
  Tcl_Command widgetCmd = nullptr;
  int borderWidth = 0;
  Tk_3DBorder bgBorder = nullptr;
  int relief = TK_RELIEF_FLAT;
  int highlightWidth = 0;
  XColor *highlightBgColorPtr = nullptr;
  XColor *highlightColorPtr = nullptr;
  int inset = 0;
  GC pixmapGC = None;
  int redrawX1 = 0, redrawY1 = 0, redrawX2 = 0, redrawY2 = 0;
  int confine = 0;
  int updateComponent = 0;
  int backingStale = 0;
  int backingX1 = 0, backingY1 = 0, backingX2 = 0, backingY2 = 0;
  Pixmap backingPixmap = None;
  GcanvasTextInfo textInfo;
  int insertOnTime = 0, insertOffTime = 0;
  Tcl_TimerToken insertBlinkHandler = nullptr;
  int xOrigin = 0, yOrigin = 0;
  int drawableXOrigin = 0, drawableYOrigin = 0;
  double viewXOrigin = 0, viewYOrigin = 0;
  char *xScrollCmd = nullptr, *yScrollCmd = nullptr;
  double scrollX1 = 0, scrollY1 = 0, scrollX2 = 0, scrollY2 = 0;
  char *regionString = nullptr;
  int xScrollIncrement = 0, yScrollIncrement = 0;
  int graphicsMode = 0;
  int scanX = 0, scanXOrigin = 0, scanY = 0, scanYOrigin = 0;
  GcanvasItem *hotPtr = nullptr, *hotPrevPtr = nullptr;
  Tk_Cursor cursor = nullptr;
  char *takeFocus = nullptr;
  double pixelsPerMM = 1.0;
  int flags = 0;
  CanvasPsInfo *psInfo = nullptr;
  Tcl_HashTable idTable;
  Tcl_HashTable nameTable;
  int canvasState = STATE_NORMAL;
  StippleOffset tsoffset;
  TagExpr *bindTagExprs = nullptr;
};

/* Item-type procedures. */
typedef int GcanvasCreateProc(Tcl_Interp *, ItemContainer *, GcanvasItem *, int, Tcl_Obj *const[]);
typedef int GcanvasConfigureProc(Tcl_Interp *, ItemContainer *, GcanvasItem *, int,
                                 Tcl_Obj *const[], int flags);
typedef int GcanvasCoordProc(Tcl_Interp *, ItemContainer *, GcanvasItem *, int, Tcl_Obj *const[]);
typedef void GcanvasDeleteProc(ItemContainer *, GcanvasItem *, Display *);
typedef void GcanvasDisplayProc(ItemContainer *, GcanvasItem *, Display *, Drawable, int x, int y,
                                int width, int height);
typedef double GcanvasPointProc(ItemContainer *, GcanvasItem *, double *point);
typedef int GcanvasAreaProc(ItemContainer *, GcanvasItem *, double *rect);
typedef int GcanvasPostscriptProc(Tcl_Interp *, ItemContainer *, GcanvasItem *, int prepass);
typedef void GcanvasScaleProc(ItemContainer *, GcanvasItem *, double, double, double, double);
typedef void GcanvasTranslateProc(ItemContainer *, GcanvasItem *, double, double);
typedef int GcanvasIndexProc(Tcl_Interp *, ItemContainer *, GcanvasItem *, Tcl_Obj *, int *);
typedef void GcanvasCursorProc(ItemContainer *, GcanvasItem *, int);
typedef int GcanvasSelectionProc(ItemContainer *, GcanvasItem *, int, char *, int);
typedef void GcanvasInsertProc(ItemContainer *, GcanvasItem *, int, Tcl_Obj *);
typedef void GcanvasDCharsProc(ItemContainer *, GcanvasItem *, int, int);
typedef void GcanvasBboxProc(ItemContainer *, GcanvasItem *);
typedef int GcanvasGroupCmdProc(Tcl_Interp *, ItemContainer *, GcanvasItem *, int, Tcl_Obj *const[]);
struct VertexData;
typedef int GcanvasFromVerticesProc(Tcl_Interp *, ItemContainer *, GcanvasItem *, VertexData *);
typedef int GcanvasDisassembleProc(Tcl_Interp *, ItemContainer *, GcanvasItem *);
typedef int GcanvasGetVerticesProc(GcanvasItem *, double **);
typedef int GcanvasGetPartCountsProc(GcanvasItem *, int **);
typedef int GcanvasGetComponentProc(GcanvasItem *);
typedef void GcanvasSetComponentProc(ItemContainer *, GcanvasItem *, int);
typedef double GcanvasMeasureProc(ItemContainer *, GcanvasItem *);
typedef double GcanvasCentroidProc(ItemContainer *, GcanvasItem *, double *, double *);
typedef double GcanvasVangleProc(ItemContainer *, GcanvasItem *, int);
typedef double GcanvasLangleProc(ItemContainer *, GcanvasItem *, double, double *, double *);

/* The 36-slot item-type record; a NULL procedure means "not supported". */
struct GcanvasItemType {
  const char *name;                                /* 0 */
  int itemSize;                                    /* 1 */
  GcanvasCreateProc *createProc;                   /* 2 */
  Tk_ConfigSpec *configSpecs;                      /* 3 */
  GcanvasConfigureProc *configProc;                /* 4 */
  GcanvasCoordProc *coordProc;                     /* 5 */
  GcanvasDeleteProc *deleteProc;                   /* 6 */
  GcanvasDisplayProc *displayProc;                 /* 7 */
  int alwaysRedraw;                                /* 8 */
  GcanvasPointProc *pointProc;                     /* 9 */
  GcanvasAreaProc *areaProc;                       /* 10 */
  GcanvasPostscriptProc *postscriptProc;           /* 11 */
  GcanvasScaleProc *scaleProc;                     /* 12 */
  GcanvasTranslateProc *translateProc;             /* 13 */
  GcanvasIndexProc *indexProc;                     /* 14 */
  GcanvasCursorProc *icursorProc;                  /* 15 */
  GcanvasSelectionProc *selectionProc;             /* 16 */
  GcanvasInsertProc *insertProc;                   /* 17 */
  GcanvasDCharsProc *dCharsProc;                   /* 18 */
  GcanvasBboxProc *bboxProc;                       /* 19 */
  GcanvasGroupCmdProc *groupCmdProc;               /* 20 */
  GcanvasGroupCmdProc *memberCmdProc;              /* 21 */
  GcanvasItemType *nextPtr;                        /* 22 */
  GcanvasFromVerticesProc *createFromVerticesProc; /* 23 */
  GcanvasDisassembleProc *disassembleProc;         /* 24 */
  GcanvasGetVerticesProc *getVerticesProc;         /* 25 */
  GcanvasGetPartCountsProc *getPartCountsProc;     /* 26 */
  void *reserved27;                                /* 27 */
  void *reserved28;                                /* 28 */
  GcanvasGetComponentProc *getComponentProc;       /* 29 */
  GcanvasSetComponentProc *setComponentProc;       /* 30 */
  GcanvasMeasureProc *areaMeasureProc;             /* 31 */
  GcanvasMeasureProc *lengthProc;                  /* 32 */
  GcanvasCentroidProc *centroidProc;               /* 33 */
  GcanvasVangleProc *vangleProc;                   /* 34 */
  GcanvasLangleProc *langleProc;                   /* 35 */
};

/* What createFromVerticesProc and createItemFromVertices take. */
struct VertexData {
  int numParts = 0;
  double *vertices = nullptr;  /* x, y world units, parts one after the other */
  int *partCounts = nullptr;
  void *unused = nullptr;
  GcanvasOutline *styleSource = nullptr;
  XColor *fillColor = nullptr, *activeFillColor = nullptr, *disabledFillColor = nullptr;
};

/* Geometry kinds of vector records. */
struct ObjectTypeEntry {
  int code;
  const char *name;
};
extern const ObjectTypeEntry objectTypeTable[14];

/* ---- registry (registry.cpp) ---- */
void initItemTypes();
GcanvasItemType *getItemTypes();
void registerItemType(GcanvasItemType *typePtr);
GcanvasItemType *findItemType(GcanvasRecord *canvas, const char *name);
GcanvasItem *createItemFromVertices(GcanvasRecord *canvas, Tcl_Interp *interp,
                                    GcanvasItemType *typePtr, VertexData *data, const char *tags);
/* Allocates an item header of the type, filled as "create" starts it. */
GcanvasItem *newItemHeader(GcanvasRecord *canvas, GcanvasItemType *typePtr);
/* Links a created item at the top, enters it in the id table and schedules its redraw. */
void linkNewItem(GcanvasRecord *canvas, GcanvasItem *item);
/* Frees an item whose createProc failed or that is being deleted (not unlinked here). */
void freeItemRecord(GcanvasRecord *canvas, GcanvasItem *item);
int objectTypeFromName(const char *name);
const char *objectTypeName(int code);
const char *objectTypeNameAt(int index);
int itemObjectType(GcanvasItem *item);
/* The tag-search words, interned once. */
struct TagUids {
  Tk_Uid all, current, andUid, orUid, xorUid, parenUid, endParenUid, negParenUid, tagValUid,
      negTagValUid;
};
const TagUids &tagUids();

/* ---- widget (widget.cpp) ---- */
int gcanvasCmd(ClientData, Tcl_Interp *, int, Tcl_Obj *const[]);
int configureGcanvas(Tcl_Interp *interp, GcanvasRecord *canvas, int objc, Tcl_Obj *const objv[],
                     int flags);
void gcanvasWorldChanged(ClientData instanceData);
/* DestroyNotify: deletes the command and the items, frees the record later. */
void gcanvasStructureGone(GcanvasRecord *canvas);
extern Tk_ConfigSpec gcanvasConfigSpecs[];

/* ---- redisplay (redisplay.cpp) ---- */
void eventuallyRedrawArea(GcanvasRecord *canvas, double x1, double y1, double x2, double y2,
                          int backing);
void eventuallyRedrawItem(GcanvasRecord *canvas, GcanvasItem *item);
void displayGcanvas(ClientData clientData);
void gcanvasEventProc(ClientData clientData, XEvent *eventPtr);
void setCanvasOrigin(GcanvasRecord *canvas, int xOrigin, int yOrigin);
void updateScrollbars(GcanvasRecord *canvas);
std::string printScrollFractions(double screen1, double screen2, double object1, double object2);
int xviewCmd(GcanvasRecord *canvas, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], bool y);
int scanCmd(GcanvasRecord *canvas, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]);
int redrawCmd(GcanvasRecord *canvas, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]);
bool itemIsHidden(GcanvasRecord *canvas, GcanvasItem *item);
/* Test hook: counts the strips redrawn into the backing pixmap. */
int backingStripCount();

/* ---- widget command (command.cpp) ---- */
int gcanvasInstanceCmd(ClientData, Tcl_Interp *, int, Tcl_Obj *const[]);
void deleteCanvasItem(GcanvasRecord *canvas, GcanvasItem *item);
void freeTagExprs(GcanvasRecord *canvas);

/* A compiled tag expression (command.cpp). */
struct TagExpr {
  TagExpr *next = nullptr;
  Tk_Uid uid = nullptr;
  std::vector<Tk_Uid> uids;
  int index = 0;
  int match = 0;
};
int tagExprEval(TagExpr *expr, GcanvasItem *item);

/* ---- events, focus and selection (events.cpp) ---- */
GcanvasItem *findClosestItem(GcanvasRecord *canvas, double x, double y);
void canvasDoEvent(GcanvasRecord *canvas, XEvent *eventPtr);
void pickCurrentItem(GcanvasRecord *canvas, XEvent *eventPtr);
void canvasBindProc(ClientData clientData, XEvent *eventPtr);
void cursorBlinkProc(ClientData clientData);
void canvasFocusProc(GcanvasRecord *canvas, int gotFocus);
void canvasSelectTo(GcanvasRecord *canvas, GcanvasItem *item, int index);
int canvasFetchSelection(ClientData clientData, int offset, char *buffer, int maxBytes);
void canvasLostSelection(ClientData clientData);
void scheduleCanvasRedisplay(GcanvasRecord *canvas);

/* ---- item support (itemsupport.cpp) ---- */
inline GcanvasRecord *canvasOf(ItemContainer *c) { return c->canvas; }
Tk_Window canvasTkwin(ItemContainer *c);
GcanvasTextInfo *canvasTextInfo(ItemContainer *c);
void worldToCanvas(ItemContainer *c, const double *in, double *out, int n);
void canvasToWorld(ItemContainer *c, const double *in, double *out, int n);
void setItemBoxFromWorld(ItemContainer *c, double x1, double y1, double x2, double y2,
                         GcanvasItem *item);
void worldRectToCanvas(ItemContainer *c, double x1, double y1, double x2, double y2, double *rect);
void worldPointsToCanvasRect(ItemContainer *c, const double *p1, const double *p2, double *rect);
void canvasPointsToWorldRect(ItemContainer *c, const double *p1, const double *p2, double *rect);
void canvasRectToWorld(ItemContainer *c, double x1, double y1, double x2, double y2, double *rect);
void pointsBox(const double *points, int n, double *rect);
/* Saturating: clamps in double before converting. */
short toDrawableCoord(int origin, double coord);
int worldToDrawablePath(ItemContainer *c, const double *points, XPoint *out, int n);
int worldToDrawableParts(ItemContainer *c, const double *points, XPoint *out, int numParts,
                         int *counts);
int canvasGetCoord(Tcl_Interp *interp, ItemContainer *c, const char *string, double *value);
int canvasGetCoordFromObj(Tcl_Interp *interp, ItemContainer *c, Tcl_Obj *obj, double *value);
/* A screen distance in pixels (units c, i, m, p); NaN refused, a negative one only with anySign. */
int canvasScreenDistance(Tcl_Interp *interp, Tk_Window tkwin, const char *value, bool anySign,
                         double *pixels);
int partOfVertex(int vertex, const int *counts, int numParts);
void setStippleOffset(ItemContainer *c, GC gc, StippleOffset *offset);
XColor *copyColor(Tcl_Interp *interp, Tk_Window tkwin, XColor *color);
/* Whether the item's look is the active one (the canvas's current item). */
bool itemIsCurrent(ItemContainer *c, GcanvasItem *item);
/* The item's state, or the canvas's when the item has none. */
int effectiveState(ItemContainer *c, GcanvasItem *item);
int canvasPsColor(Tcl_Interp *interp, ItemContainer *c, XColor *color);
int canvasPsFont(Tcl_Interp *interp, ItemContainer *c, Tk_Font font);
int canvasPsBitmap(Tcl_Interp *interp, ItemContainer *c, Pixmap bitmap, int x, int y, int width,
                   int height);
int canvasPsStipple(Tcl_Interp *interp, ItemContainer *c, Pixmap bitmap);
double canvasPsY(ItemContainer *c, double y);
void canvasPsPath(Tcl_Interp *interp, ItemContainer *c, const double *points, int n);
extern Tk_CustomOption tagsOption;
extern Tk_CustomOption stateOption;        /* items: normal, disabled, hidden, active */
extern Tk_CustomOption canvasStateOption;  /* the canvas: normal, disabled */
extern Tk_CustomOption hiddenStateOption;  /* items without an active look: normal, disabled, hidden */
extern Tk_CustomOption offsetOption;       /* items: "x,y", "#x,y", an index, anchors */
extern Tk_CustomOption canvasOffsetOption; /* the canvas: "x,y", "#x,y", anchors */
extern Tk_CustomOption distanceOption;        /* non-negative distance */
extern Tk_CustomOption wholePixelOption;      /* whole pixels of any sign, within +-2^30 */
extern Tk_CustomOption smoothOption;
/* Smooth method: "bezier" is built in. */
struct SmoothMethod {
  const char *name;
  int (*coordProc)(ItemContainer *, double *, int, int, XPoint *, double *);
  void (*postscriptProc)(Tcl_Interp *, ItemContainer *, double *, int, int);
};
extern const SmoothMethod bezierSmoothMethod;

/* ---- what the item types share of their procedures (itemsupport.cpp unless named) ---- */
/*
 * How many of "create"'s words are coordinates: one (a list) when the
 * second word is an option, else coords; -1 with the "wrong # args"
 * message naming usage ("x y") when there are too few.
 */
int createCoordCount(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                     Tcl_Obj *const objv[], int coords, const char *usage);
/*
 * The end of "create" once the record is emptied: the first coords words
 * through the type's coordProc (none when 0), the rest as options; when
 * either fails the type's deleteProc frees what the record holds.
 */
int createFromWords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                    Tcl_Obj *const objv[], int coords);
/*
 * "coords" of an item with n coordinates: with no words they are the
 * result; else n words or a list of n, the fields set only when all
 * parse.  pointItemCoords is the form for one point.
 */
int fixedItemCoords(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], ItemContainer *c, int n,
                    double *const fields[]);
int pointItemCoords(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], ItemContainer *c,
                    double *x, double *y);
/*
 * Where a w x h box's top-left corner lies left of and above its anchor
 * point (screen axes: y down).  T is int for whole pixels (halves
 * truncated) or double.
 */
template <class T> void anchorOffset(Tk_Anchor anchor, T w, T h, T *dx, T *dy) {
  switch (anchor) {
  case TK_ANCHOR_N: case TK_ANCHOR_CENTER: case TK_ANCHOR_S: *dx = w / 2; break;
  case TK_ANCHOR_NE: case TK_ANCHOR_E: case TK_ANCHOR_SE: *dx = w; break;
  default: *dx = 0; break;
  }
  switch (anchor) {
  case TK_ANCHOR_W: case TK_ANCHOR_CENTER: case TK_ANCHOR_E: *dy = h / 2; break;
  case TK_ANCHOR_SW: case TK_ANCHOR_S: case TK_ANCHOR_SE: *dy = h; break;
  default: *dy = 0; break;
  }
}
/* The lower-left corner, in PostScript space (y up), of a w x h box anchored at (x, y). */
void psAnchorCorner(Tk_Anchor anchor, int w, int h, double *x, double *y);
/* Distance from a point to the item's box, and the box against an ordered rectangle. */
double itemBoxToPoint(GcanvasItem *item, const double *p);
int itemBoxToArea(GcanvasItem *item, const double *rect);
/* World points scaled about (ox, oy), and moved. */
inline void scaleWorldPoint(double *x, double *y, double ox, double oy, double sx, double sy) {
  *x = ox + (*x - ox) * sx;
  *y = oy + (*y - oy) * sy;
}
void scaleWorldPoints(double *points, int n, double ox, double oy, double sx, double sy);
void translateWorldPoints(double *points, int n, double dx, double dy);
/*
 * The value of the item's present state: the active one for the
 * current item, the disabled one for a disabled item, when set.
 */
template <class T> T stateValue(ItemContainer *c, GcanvasItem *item, T normal, T active,
                                T disabled) {
  if (itemIsCurrent(c, item) && active) return active;
  if (effectiveState(c, item) == STATE_DISABLED && disabled) return disabled;
  return normal;
}
/*
 * The GC filling with color, through stipple when there is one; None
 * without a colour.  values and mask may bring further fields.
 */
GC getFillGC(Tk_Window tkwin, XColor *color, Pixmap stipple, XGCValues *values,
             unsigned long mask = 0);
/* Frees the GC held in *slot, if any, and holds gc there. */
void replaceGC(Display *display, GC *slot, GC gc);
/* Free what option fields hold, and clear them. */
void freeItemColors(std::initializer_list<XColor **> colors);
void freeItemBitmaps(Display *display, std::initializer_list<Pixmap *> bitmaps);
void freeItemGCs(Display *display, std::initializer_list<GC *> gcs);
/* Marks the item to be redrawn when it becomes or stops being the current item. */
inline void setStateDependant(GcanvasItem *item, bool dependant) {
  if (dependant) item->redrawFlags |= ITEM_STATE_DEPENDANT;
  else item->redrawFlags &= ~ITEM_STATE_DEPENDANT;
}
/* Whether the outline looks different when its item is current (outline.cpp). */
bool outlineHasActiveLook(const GcanvasOutline *outline);
/* outlineWidthFor before it is held to at least 1 (outline.cpp). */
double outlineStateWidth(ItemContainer *c, GcanvasItem *item, GcanvasOutline *outline);
/*
 * The GC drawing a highlighted part in color, as wide as the outline in
 * the item's present state and at least 1 pixel; None without a colour
 * (outline.cpp).
 */
GC getHighlightGC(ItemContainer *c, GcanvasItem *item, GcanvasOutline *outline, XColor *color,
                  XGCValues *values);
/*
 * A component's highlight switched on (to the component last hit) or
 * off; redraw(component) is called for the component whose look changes.
 */
template <class Redraw> void switchHighlight(int on, int hit, int *highlight, Redraw redraw) {
  if (on) {
    if (hit >= 0 && hit != *highlight) {
      redraw(hit);
      *highlight = hit;
    }
  } else if (*highlight >= 0) {
    redraw(*highlight);
    *highlight = -1;
  }
}
/*
 * An item made from vertex data takes its style source's outline width,
 * colour and active colour (those set), spline steps and smooth method.
 */
void copyStyleSource(Tcl_Interp *interp, Tk_Window tkwin, const GcanvasOutline *style,
                     GcanvasOutline *outline, int *splineSteps, const SmoothMethod **smooth);
/*
 * The direction angle of the segment from a vertex (taken modulo n; the
 * last vertex gives the last segment); 0 with fewer than two vertices
 * (geometry.cpp).
 */
double vertexAngle(const double *points, int n, int vertex);
/*
 * The point at a fraction of a polyline's length into *x, *y (the first
 * vertex for a single one) and its segment's direction angle; 0 without
 * a segment, and *x, *y untouched without a vertex (geometry.cpp).
 */
double polylinePointAt(const double *points, int n, double fraction, double *x, double *y);

/* ---- geometry (geometry.cpp) ---- */
double lineToPointScaled(double sx, double sy, const double *end1, const double *end2,
                         const double *point);
int lineToArea(double *end1, double *end2, double *rect);
double thickLineToPoint(double *points, int n, double width, int capStyle, int joinStyle,
                        double *point);
double polygonToPointScaled(double sx, double sy, const double *points, int n, const double *point,
                            double *edgeDistance);
int polygonToArea(double *points, int n, double *rect);
double ovalToPointScaled(double sx, double sy, const double *oval, double width, int filled,
                         const double *point);
int ovalToArea(const double *oval, const double *rect);
int rectToArea(const double *box, const double *rect);
void growItemBox(GcanvasItem *item, double x, double y);
void growItemBoxByPoints(GcanvasItem *item, const double *points, int n);
int miterPoints(const double *p1, const double *p2, const double *p3, double width, double *m1,
                double *m2);
double polygonArea(const double *points, int n);
double polygonAreaTrapezoid(const double *points, int n);
double polygonCentroid(const double *points, int n, double *x, double *y);
double polylineCentroid(const double *points, int n, double *x, double *y);
double pointsCentroid(const double *points, int n, double *x, double *y);
double polylineLength(const double *points, int n);
double vectorAngle(double dx, double dy);
/* Sutherland-Hodgman against an integer box; the output may grow beyond 2n. */
std::vector<XPoint> clipPolygonToBox(const XPoint *points, int n, int left, int top, int right,
                                     int bottom);
/* Clips parts laid out one after another; counts replaced by the clipped counts. */
std::vector<XPoint> clipPartsToBox(const XPoint *points, int numParts, int *counts, int left,
                                   int top, int right, int bottom);
int bezierCoords(ItemContainer *c, double *points, int n, int steps, XPoint *xPoints,
                 double *dblPoints);
void bezierPostscript(Tcl_Interp *interp, ItemContainer *c, double *points, int n, int steps);

/* ---- outlines (outline.cpp) ---- */
void initOutline(GcanvasOutline *outline);
void freeOutline(Display *display, GcanvasOutline *outline);
int configOutlineGC(XGCValues *gcValues, ItemContainer *c, GcanvasItem *item,
                    GcanvasOutline *outline);
int changeOutlineGC(ItemContainer *c, GcanvasItem *item, GcanvasOutline *outline);
int resetOutlineGC(ItemContainer *c, GcanvasItem *item, GcanvasOutline *outline);
int outlinePostScript(ItemContainer *c, GcanvasItem *item, GcanvasOutline *outline);
int getDash(Tcl_Interp *interp, const char *value, GcanvasDash *dash);
int dashConvert(char *out, const char *pattern, int n, double width);
void freeDash(GcanvasDash *dash);
extern Tk_CustomOption dashOption;
/* The width the outline strokes with in the item's present state. */
double outlineWidthFor(ItemContainer *c, GcanvasItem *item, GcanvasOutline *outline);

/* ---- PostScript (postscript.cpp) ---- */
struct CanvasPsInfo {
  int x = 0, y = 0, width = -1, height = -1, x2 = 0, y2 = 0;
  char *pageXString = nullptr, *pageYString = nullptr;
  double pageX = 306.0, pageY = 396.0;
  char *pageWidthString = nullptr, *pageHeightString = nullptr;
  double scale = 1.0;
  Tk_Anchor pageAnchor = TK_ANCHOR_CENTER;
  int rotate = 0;
  char *fontVar = nullptr, *colorVar = nullptr, *colorMode = nullptr;
  int colorLevel = 2;
  char *fileName = nullptr, *channelName = nullptr;
  Tcl_Channel chan = nullptr;  /* -channel's */
  SaveFile *file = nullptr;    /* -file's, replaced once the page is complete */
  int writeError = 0;          /* errno of a failed write to the channel */
  Tcl_HashTable fontTable;
  int prepass = 0;
  int prolog = 1;
  Tk_Window tkwin = nullptr;
};
int postscriptCmd(GcanvasRecord *canvas, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]);
int psGetPoints(Tcl_Interp *interp, const char *text, double *points);
int psColor(Tcl_Interp *interp, CanvasPsInfo *ps, XColor *color);
int psFont(Tcl_Interp *interp, CanvasPsInfo *ps, Tk_Font font);
int psBitmap(Tcl_Interp *interp, Tk_Window tkwin, CanvasPsInfo *ps, Pixmap bitmap, int x, int y,
             int width, int height);
int psStipple(Tcl_Interp *interp, Tk_Window tkwin, CanvasPsInfo *ps, Pixmap bitmap);
double psY(double y, CanvasPsInfo *ps);
void psPath(Tcl_Interp *interp, CanvasPsInfo *ps, const double *points, int n);
int psXImage(Tcl_Interp *interp, Tk_Window tkwin, CanvasPsInfo *ps, XImage *image, int x, int y,
             int width, int height);
extern const char *const psProlog[];

/* ---- item types built so far ---- */
extern GcanvasItemType rectangleType;
extern GcanvasItemType ovalType;
extern GcanvasItemType lineType;
extern GcanvasItemType polygonType;
extern GcanvasItemType imageType;
extern GcanvasItemType textType;
extern GcanvasItemType gtextType;
extern GcanvasItemType bitmapType;
extern GcanvasItemType arcType;
extern GcanvasItemType windowType;
extern GcanvasItemType symbolType;
extern GcanvasItemType groupType;
/* -symboltype (oval rectangle diamond crosshair handle) and -markertype (point cross). */
extern Tk_CustomOption symbolTypeOption;
extern Tk_CustomOption markerTypeOption;

/*
 * What follows a style source's outline in its record: the join style,
 * the cap style, the spline steps and the smooth method.
 */
struct StyleTail {
  int joinStyle;
  int capStyle;
  int splineSteps;
  const SmoothMethod *smooth;
};

/* ---- batched drawing (batch.cpp) ---- */
struct DrawBatch {
  Display *display;
  Drawable drawable;
};
struct BatchGC {
  DrawBatch *batch;
  GC tkGC;
  GC gc;             /* the scratch copy drawn with */
  XGCValues values;  /* what the scratch GC holds of function and foreground */
  int changes;       /* XChangeGC calls made: tells whether tracking skips */
};
DrawBatch *beginDrawBatch(Display *display, Drawable drawable);
void endDrawBatch(DrawBatch *batch);
BatchGC *createBatchGC(DrawBatch *batch, GC gc);
void freeBatchGC(BatchGC *b);
void batchSetForeground(BatchGC *b, unsigned long pixel);
void batchSetFunction(BatchGC *b, int function);
void batchDrawLines(BatchGC *b, XPoint *points, int count, int mode);
void batchFillPolygon(BatchGC *b, XPoint *points, int count, int mode);
void batchFillPolygonsWithHoles(BatchGC *b, XPoint *points, int partCount, int *counts, int mode);
void batchDrawArc(BatchGC *b, int x, int y, int width, int height, int start, int extent,
                  int fill);
void batchDrawRectangle(BatchGC *b, int x, int y, int width, int height);
void batchFillRectangle(BatchGC *b, int x, int y, int width, int height);
void batchFillRectangles(BatchGC *b, XRectangle *rectangles, int count);
int setDrawableGraphicsMode(Display *display, Drawable drawable, int advanced);

/* ---- canvas bridge (bridge.cpp) ---- */
struct CanvasInfo {
  int kind;            /* 1 Tk canvas, 2 map canvas */
  int width, height;   /* the window's present size */
  void *widget;        /* the widget record: the command's client data */
};
int getCanvasInfo(Tcl_Interp *interp, const char *pathName, CanvasInfo *info);
void getCanvasBounds(const CanvasInfo *info, int *x1, int *y1, int *x2, int *y2);
GC getCanvasPixmapGC(const CanvasInfo *info);
Drawable renderCanvasToPixmap(Tcl_Interp *interp, Drawable drawable, int extraX, int extraY,
                              const CanvasInfo *info, int x, int y, int width, int height,
                              int coordType);

/* ---- line (line.cpp) ---- */
int parsePartCoords(Tcl_Interp *interp, ItemContainer *c, int objc, Tcl_Obj *const objv[],
                    const char *inconsistent, const char *badList, int minimum,
                    const char *tooFew, std::vector<double> &vertices, std::vector<int> &counts);
void fillCanvasPolygon(ItemContainer *c, Display *display, Drawable drawable, GC gc,
                       const double *points, int n);
void finishLineConfigure(ItemContainer *c, GcanvasItem *item);

/* ---- object item (object.cpp) ---- */
extern GcanvasItemType objectType;

}  // namespace vesk

#endif
