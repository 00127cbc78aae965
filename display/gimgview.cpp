/*
 * gimgview.cpp --
 *     View geometry of gimg images: the axis maps from view columns and
 *     rows to image columns and rows, the view size that follows the
 *     magnification, and the conversions between view, display (turned by
 *     the rotation) and image coordinates.
 */
#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <new>

#include <string.h>

#include "core/text.h"
#include "display/gimg.h"

namespace vesk {

/* createAxisMap -- a new empty map (Tcl's allocator), or NULL. */
AxisMap *createAxisMap() {
  void *block = Tcl_AttemptAlloc(sizeof(AxisMap));
  if (!block) return nullptr;
  return new (block) AxisMap();
}

/* clearAxisMap -- no array, count 0, origin 0, scale 0; flip untouched. */
void clearAxisMap(AxisMap *map) {
  map->index = nullptr;
  map->count = 0;
  map->origin = 0;
  map->scale = 0;
}

void freeAxisMapArray(AxisMap *map) {
  if (map->index) Tcl_Free(reinterpret_cast<char *>(map->index));
  clearAxisMap(map);
}

void deleteAxisMap(AxisMap *map) {
  if (!map) return;
  freeAxisMapArray(map);
  Tcl_Free(reinterpret_cast<char *>(map));
}

/*
 * setAxisMap --
 *     Fills a map of count positions from its origin, flip and scale.
 *     Nothing is recomputed when all four are unchanged.
 * Results:      the map, or NULL (map unchanged) when count is below 1
 *               or the array cannot be allocated.
 */
AxisMap *setAxisMap(AxisMap *map, int count, int origin, int flip, double scale) {
  if (count < 1) return nullptr;
  if (map->index && count == map->count && origin == map->origin && flip == map->flip &&
      scale == map->scale)
    return map;
  if (!map->index || count != map->count) {
    int *index = reinterpret_cast<int *>(Tcl_AttemptAlloc(
        static_cast<unsigned>(sizeof(int) * static_cast<size_t>(count))));
    if (!index) return nullptr;
    if (map->index) Tcl_Free(reinterpret_cast<char *>(map->index));
    map->index = index;
  }
  map->count = count;
  map->origin = origin;
  map->flip = flip;
  map->scale = scale;
  int *index = map->index;
  if (scale > 0) {
    for (int i = 0; i < count; i++) {
      const int v = static_cast<int>(i / scale + origin);
      index[flip ? count - 1 - i : i] = v;
    }
  } else {
    for (int i = 0; i < count; i++) {
      const int v = scale == 0 ? origin : static_cast<int>(origin - i / scale);
      index[flip ? i : count - 1 - i] = v;
    }
  }
  return map;
}

/*
 * axisMapSlice --
 *     A new map of count positions copied from start on; positions
 *     outside the source are -1.
 */
AxisMap *axisMapSlice(const AxisMap *map, int start, int count) {
  if (count < 1) return nullptr;
  AxisMap *slice = createAxisMap();
  if (!slice) return nullptr;
  slice->index = reinterpret_cast<int *>(
      Tcl_AttemptAlloc(static_cast<unsigned>(sizeof(int) * static_cast<size_t>(count))));
  if (!slice->index) {
    deleteAxisMap(slice);
    return nullptr;
  }
  for (int i = 0; i < count; i++) {
    const int64_t p = static_cast<int64_t>(start) + i;
    slice->index[i] = p < 0 || p >= map->count ? -1 : map->index[p];
  }
  slice->count = count;
  slice->scale = map->scale;
  slice->flip = map->flip;
  slice->origin = slice->index[0];
  return slice;
}

/*
 * axisMapRange --
 *     The run [first, end) of view positions whose image positions lie in
 *     [0, limit), from the first such position on.  Entries of -1 (slices
 *     past the source map) end the run in either direction, so mirrored
 *     and padded maps are handled alike.
 */
void axisMapRange(const AxisMap *map, int limit, int *first, int *end) {
  const int n = map->count;
  const int *index = map->index;
  int i = 0;
  while (i < n && (index[i] < 0 || index[i] >= limit)) i++;
  *first = i;
  while (i < n && index[i] >= 0 && index[i] < limit) i++;
  *end = i;
}

/* axisMapToScreen -- the view position of an image position. */
double axisMapToScreen(const AxisMap *map, double imagePos) {
  const double s = map->scale;
  if (s > 0)
    return map->flip ? s * (map->origin - imagePos) + map->count - 1 : s * (imagePos - map->origin);
  return map->flip ? s * (map->origin - imagePos) : s * (imagePos - map->origin) + map->count - 1;
}

/* axisMapToImage -- the image position of a view position. */
double axisMapToImage(const AxisMap *map, double viewPos) {
  const double s = map->scale;
  if (s == 0) return map->origin;
  if (s > 0)
    return map->flip ? map->origin + (map->count - 1 - viewPos) / s : map->origin + viewPos / s;
  return map->flip ? map->origin - viewPos / s : map->origin - (map->count - 1 - viewPos) / s;
}

/*
 * setMagnification --
 *     Sizes the view from the magnification: view size, axis maps, view
 *     and mask pixmaps and the transfer image.
 * Results:      TCL_OK, or TCL_ERROR when a map or pixmap cannot be sized.
 */
int setMagnification(GimgMaster *master, double mx, double my) {
  master->mx = mx;
  master->my = my;
  if (master->image) {
    const ImageHeader &h = master->image->header;
    master->width = static_cast<int>(ceil(fabs(mx) * (h.columns - master->sc)));
    master->height = static_cast<int>(ceil(fabs(my) * (h.rows - master->sr)));
  }
  if (master->maxw > 0 && master->width > master->maxw) master->width = master->maxw;
  if (master->maxh > 0 && master->height > master->maxh) master->height = master->maxh;
  if (master->width < 1) master->width = 1;
  if (master->height < 1) master->height = 1;

  ViewPixmap *vp = &master->viewPixmap;
  const int oldWidth = vp->width, oldHeight = vp->height, oldDepth = vp->depth;
  Tk_MakeWindowExist(master->tkwin);
  const Drawable window = Tk_WindowId(master->tkwin);
  const bool own = master->mirrorName.empty();
  bool mapsOk;
  if (own) {
    mapsOk = setAxisMap(&master->xMap, master->width, master->sc, master->xflip, mx) &&
             setAxisMap(&master->yMap, master->height, master->sr, master->yflip, my);
    int pw = master->width, ph = master->height;
    if (master->rotate != 0) std::swap(pw, ph);
    setViewPixmapSize(vp, window, pw, ph, master->depth, 0, 0, 0, 0);
  } else {
    const int xCount = master->rotate != 0 ? master->height : master->width;
    const int yCount = master->rotate != 0 ? master->width : master->height;
    mapsOk = setAxisMap(&master->xMap, xCount, master->sc, master->xflip, master->xMap.scale ? master->xMap.scale : mx) &&
             setAxisMap(&master->yMap, yCount, master->sr, master->yflip, master->yMap.scale ? master->yMap.scale : my);
    setViewPixmapSize(vp, window, master->width, master->height, master->depth, vp->destX,
                      vp->destY, 0, 0);
  }
  if (master->ximage) {
    XImage *xi = master->ximage;
    xi->width = vp->width;
    xi->height = vp->height;
    if (!master->turbo) {
      if (master->rotate != 0) xi->width = std::min(xi->width, 256);
      else xi->height = std::min(xi->height, 256);
    }
    xi->bytes_per_line = ((xi->bits_per_pixel * xi->width + 31) / 32) * 4;
    xi->data = nullptr;
  }
  master->viewValid = 0;
  if (vp->width != oldWidth || vp->height != oldHeight || vp->depth != oldDepth ||
      !master->viewRegion)
    setViewRegion(master);
  setViewPixmapSize(&master->maskPixmap, window, vp->width, vp->height, 1, 0, 0, 0, 0);
  setViewPixmapSize(&master->framePixmap, window, vp->width, vp->height, 1, 0, 0, 0, 0);
  if (!mapsOk) return TCL_ERROR;
  setViewPixmapBorrowed(vp, own ? 0 : 1);
  return TCL_OK;
}

/* The view pixmap's size, the frame of the display turn. */
static void viewPixmapSize(const GimgMaster *master, int *w, int *h) {
  *w = master->viewPixmap.width;
  *h = master->viewPixmap.height;
}

/* imageToDisplay -- the display position of an image position. */
void imageToDisplay(GimgMaster *master, double x, double y, double *dx, double *dy) {
  int W, H;
  viewPixmapSize(master, &W, &H);
  const double c = axisMapToScreen(&master->xMap, x), r = axisMapToScreen(&master->yMap, y);
  if (master->rotate < 0) {
    *dx = r;
    *dy = H - c - 1;
  } else if (master->rotate == 0) {
    *dx = c;
    *dy = r;
  } else {
    *dx = W - r - 1;
    *dy = c;
  }
}

/* displayToImage -- the image position of a display position. */
void displayToImage(GimgMaster *master, double dx, double dy, double *x, double *y) {
  int W, H;
  viewPixmapSize(master, &W, &H);
  double c, r;
  if (master->rotate < 0) {
    c = H - dy - 1;
    r = dx;
  } else if (master->rotate == 0) {
    c = dx;
    r = dy;
  } else {
    c = dy;
    r = W - dx - 1;
  }
  *x = axisMapToImage(&master->xMap, c);
  *y = axisMapToImage(&master->yMap, r);
}

/*
 * parseDisplayPosition --
 *     Reads a display position (two numbers, rounded) and turns it into
 *     a view position.
 * Results:      TCL_OK, or TCL_ERROR with the parse error in the result.
 */
int parseDisplayPosition(GimgMaster *master, const char *xText, const char *yText, int *col,
                         int *row) {
  double x, y;
  if (Tcl_GetDouble(master->interp, xText, &x) != TCL_OK ||
      Tcl_GetDouble(master->interp, yText, &y) != TCL_OK)
    return TCL_ERROR;
  /* Positions far outside any view stay far outside without overflowing. */
  const int ix = std::clamp(roundToInt(x), -100000000, 100000000);
  const int iy = std::clamp(roundToInt(y), -100000000, 100000000);
  int W, H;
  viewPixmapSize(master, &W, &H);
  if (master->rotate < 0) {
    *col = H - iy - 1;
    *row = ix;
  } else if (master->rotate == 0) {
    *col = ix;
    *row = iy;
  } else {
    *col = iy;
    *row = W - ix - 1;
  }
  return TCL_OK;
}

}  // namespace vesk

/* ---- the instance subcommands of the view ---- */

namespace vesk {
namespace {

int viewUsage(Tcl_Interp *interp, const char *text) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, text, nullptr);
  return TCL_ERROR;
}

/* (xflip, yflip, r) after "right" and after "left", by the state before. */
struct TurnRow {
  int from[3], right[3], left[3];
};
constexpr TurnRow kTurnTable[] = {
    {{0, 0, -1}, {0, 0, 0}, {1, 1, 0}},  {{0, 0, 0}, {0, 0, 1}, {0, 0, -1}},
    {{0, 0, 1}, {1, 1, 0}, {0, 0, 0}},   {{0, 1, -1}, {0, 1, 0}, {1, 0, 0}},
    {{0, 1, 0}, {0, 1, 1}, {1, 0, 1}},   {{0, 1, 1}, {1, 0, 0}, {0, 1, 0}},
    {{1, 0, -1}, {1, 0, 0}, {0, 1, 0}},  {{1, 0, 0}, {1, 0, 1}, {1, 0, -1}},
    {{1, 0, 1}, {0, 1, 0}, {1, 0, 0}},   {{1, 1, -1}, {1, 1, 0}, {0, 0, 0}},
    {{1, 1, 0}, {0, 0, -1}, {0, 0, 1}},  {{1, 1, 1}, {0, 0, 0}, {0, 0, 0}},
};
static_assert(sizeof kTurnTable / sizeof kTurnTable[0] == 12, "every state has a row");

/* The view position of a display position of a gimg, inside its maps. */
int sourceCentre(GimgMaster *source, const char *xText, const char *yText, int *column,
                 int *row) {
  int c, r;
  if (parseDisplayPosition(source, xText, yText, &c, &r) != TCL_OK) return TCL_ERROR;
  if (!source->xMap.index || !source->yMap.index) {
    *column = *row = 0;
    return TCL_OK;
  }
  c = std::clamp(c, 0, source->xMap.count - 1);
  r = std::clamp(r, 0, source->yMap.count - 1);
  *column = source->xMap.index[c];
  *row = source->yMap.index[r];
  return TCL_OK;
}

/*
 * showSourceView --
 *     Makes a target gimg a viewport onto a source gimg's image: takes the
 *     source's orientation and georeference, sets the maps from the view
 *     start and the scales, and sizes the view and mask pixmaps.
 */
void showSourceView(GimgMaster *target, GimgMaster *source, double scaleX, double scaleY,
                    int sc, int sr, bool centred, int destX, int destY) {
  if (target->image) {
    if (target->maskPresent) clearImageMask(target, 4, 1);
    closeRAMImage(target->image, &target->imageClient);
    target->image = nullptr;
  }
  target->mirrorName.clear();
  target->header.path[0] = '\0';
  target->xflip = source->xflip;
  target->yflip = source->yflip;
  target->rotate = source->rotate;
  target->header.left = source->header.left;
  target->header.top = source->header.top;
  target->header.x0 = source->header.x0;
  target->header.y0 = source->header.y0;
  target->header.dx = source->header.dx;
  target->header.dy = source->header.dy;
  target->header.pixelid = source->header.pixelid;
  target->header.mapid = source->header.mapid;
  const int lx = target->rotate != 0 ? target->height : target->width;
  const int ly = target->rotate != 0 ? target->width : target->height;
  if (centred) {
    sc = roundToInt(sc - lx / fabs(scaleX) * 0.5);
    sr = roundToInt(sr - ly / fabs(scaleY) * 0.5);
  }
  target->sc = sc;
  target->sr = sr;
  setAxisMap(&target->xMap, lx, sc, target->xflip, scaleX);
  setAxisMap(&target->yMap, ly, sr, target->yflip, scaleY);
  Tk_MakeWindowExist(target->tkwin);
  const Drawable window = Tk_WindowId(target->tkwin);
  ViewPixmap *vp = &target->viewPixmap;
  setViewPixmapSize(vp, window, target->width, target->height, target->depth, destX, destY, 0, 0);
  if (setViewPixmapSize(&target->maskPixmap, window, target->width, target->height, 1, 0, 0, 0, 0))
    setViewRegion(target);
  target->mirrorName = source->name;
  if (source->image) {
    target->viewValid = 0;
    gimgChanged(target);
  }
}

}  // namespace

/*
 * gimgMagnifyCmd --
 *     "magnify mx my ?update? ?flip?": view pixels per map unit.
 */
int gimgMagnifyCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 4 || argc > 6) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " magnify mx my ?update? ?flip?", nullptr);
    return TCL_ERROR;
  }
  double mx, my;
  if (Tcl_GetDouble(interp, argv[2], &mx) != TCL_OK || Tcl_GetDouble(interp, argv[3], &my) != TCL_OK)
    return TCL_ERROR;
  if (mx == 0 || my == 0) return viewUsage(interp, "mx or my must not be zero.");
  int update = master->update, flip = 0;
  if (argc > 4 && Tcl_GetInt(interp, argv[4], &update) != TCL_OK) return TCL_ERROR;
  if (argc > 5 && Tcl_GetInt(interp, argv[5], &flip) != TCL_OK) return TCL_ERROR;
  const int oldX = master->xflip, oldY = master->yflip;
  if (flip) {
    master->xflip = mx >= 0 ? 0 : 1;
    master->yflip = my >= 0 ? 1 : 0;
  }
  const double newX = master->header.dx * fabs(mx), newY = master->header.dy * fabs(my);
  if (newX == master->mx && newY == master->my && oldX == master->xflip && oldY == master->yflip)
    return TCL_OK;
  if (setMagnification(master, newX, newY) != TCL_OK)
    return viewUsage(interp, "Error in gimg magnify ...\n");
  if (update) gimgUpdate(master);
  else gimgChanged(master);
  return TCL_OK;
}

/*
 * gimgRotateCmd --
 *     "rotate ?right|left|xflip|yflip?": turns or mirrors the view.
 */
int gimgRotateCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc > 3) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], " option", nullptr);
    return TCL_ERROR;
  }
  int xflip = master->xMap.flip, yflip = master->yMap.flip;
  const int r = master->rotate < 0 ? -1 : (master->rotate > 0 ? 1 : 0);
  const char *word = argc == 3 ? argv[2] : "right";
  int state[3] = {xflip, yflip, r};
  const bool right = compareNoCase(word, "right") == 0, left = compareNoCase(word, "left") == 0;
  if (right || left) {
    for (const TurnRow &row : kTurnTable)
      if (row.from[0] == xflip && row.from[1] == yflip && row.from[2] == r) {
        memcpy(state, right ? row.right : row.left, sizeof state);
        break;
      }
  } else if (compareNoCase(word, "xflip") == 0) {
    state[r != 0 ? 1 : 0] ^= 1;
  } else if (compareNoCase(word, "yflip") == 0) {
    state[r != 0 ? 0 : 1] ^= 1;
  } else {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Unknown option: ", word, nullptr);
    return TCL_ERROR;
  }
  master->xflip = state[0];
  master->yflip = state[1];
  master->rotate = state[2];
  return gimgConfigMagnification(master);
}

/*
 * gimgCopyCmd --
 *     "copy sourceImage xc yc ?mx? ?my? ?flag? ?x0? ?y0?": shows the
 *     source gimg's image centred on a display position of the source.
 */
int gimgCopyCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 5 || argc > 10)
    return viewUsage(interp, "Usage: targetImage copy sourceImage xc yc ?mx? ?my? ?flag? ?x0? ?y0?");
  GimgMaster *source = findGimg(interp, argv[2]);
  if (!source) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "gimg ", argv[2], " not found", nullptr);
    return TCL_ERROR;
  }
  double mx = master->mx, my = master->my;
  int flag = 1, x0 = 0, y0 = 0;
  if ((argc > 5 && Tcl_GetDouble(interp, argv[5], &mx) != TCL_OK) ||
      (argc > 6 && Tcl_GetDouble(interp, argv[6], &my) != TCL_OK) ||
      (argc > 7 && Tcl_GetInt(interp, argv[7], &flag) != TCL_OK) ||
      (argc > 8 && Tcl_GetInt(interp, argv[8], &x0) != TCL_OK) ||
      (argc > 9 && Tcl_GetInt(interp, argv[9], &y0) != TCL_OK))
    return TCL_ERROR;
  if (!(mx > 0) || !(my > 0)) return viewUsage(interp, "Invalid magnification value!\n");
  master->mx = mx;
  master->my = my;
  int cx, cy;
  if (sourceCentre(source, argv[3], argv[4], &cx, &cy) != TCL_OK) return TCL_ERROR;
  if (master->instanceCount < 1) return TCL_OK;
  showSourceView(master, source, mx * source->mx, my * source->my, cx, cy, true, x0, y0);
  setViewPixmapBorrowed(&master->viewPixmap, flag != 0 ? 0 : 1);
  return TCL_OK;
}

/*
 * gimgCopySubCmd --
 *     "copysub sourceImage x0 y0 ?flag?" (the "crop" subcommand): shows
 *     the source gimg's image from a display position of the source on,
 *     at the source's magnification.
 */
int gimgCopySubCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 5 || argc > 6)
    return viewUsage(interp, "Usage: targetImage copysub sourceImage x0 y0 ?flag?");
  GimgMaster *source = findGimg(interp, argv[2]);
  if (!source) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "gimg ", argv[2], " not found", nullptr);
    return TCL_ERROR;
  }
  master->mx = source->mx;
  master->my = source->my;
  int column, row;
  if (sourceCentre(source, argv[3], argv[4], &column, &row) != TCL_OK) return TCL_ERROR;
  if (master->instanceCount < 1) return TCL_OK;
  showSourceView(master, source, source->mx, source->my, column, row, false, 0, 0);
  return TCL_OK;
}

}  // namespace vesk
