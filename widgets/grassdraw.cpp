/*
 * grassdraw.cpp --
 *     The raster driver's drawing functions: colours, position, lines,
 *     boxes, dots, polygons, polylines and rasters written into band 0 of
 *     the virtual display's RAM image in image pixels (x the column, y the
 *     row, y downward); erase and stabilize; pointer input through the
 *     application's vdisp.get.* procedures; and the panel and pad stubs.
 */
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

#include "core/text.h"

#include "raster/banddraw.h"
#include "raster/pixels.h"
#include "raster/roi.h"
#include "vesk/grass.h"
#include "vesk/stdio.h"
#include "widgets/grass.h"

namespace vesk {
namespace {

unsigned char clampByte(int v) { return static_cast<unsigned char>(std::min(std::max(v, 0), 255)); }

/* Writes one pixel of band 0 when it lies in the image. */
void putDot(RAMIMG *image, int x, int y, unsigned char value) {
  if (x < 0 || y < 0 || x >= image->header.columns || y >= image->header.rows) return;
  putByteBILData(image, y, x, 1, 0, &value);
}

/* Sums that may leave the int range stay at its ends. */
int addClamped(int a, int b) {
  long long s = static_cast<long long>(a) + b;
  return static_cast<int>(std::min<long long>(std::max<long long>(s, INT_MIN), INT_MAX));
}

/* Points of a polygon or polyline: absolute, or accumulated from the
   current position. */
std::vector<RoiPoint> driverPoints(const VdispState &s, const int *x, const int *y, int n,
                                   bool relative) {
  std::vector<RoiPoint> points;
  if (n < 1 || !x || !y) return points;
  points.reserve(static_cast<size_t>(n));
  int px = s.curX, py = s.curY;
  for (int i = 0; i < n; i++) {
    px = relative ? addClamped(px, x[i]) : x[i];
    py = relative ? addClamped(py, y[i]) : y[i];
    points.push_back({px, py});
  }
  return points;
}

/*
 * clipPolygonRows --
 *     A polygon reaching far above or below the image is cut at the rows
 *     `low` and `high` (well outside it), so that its scan conversion
 *     costs rows of the image's order whatever its coordinates.
 */
std::vector<RoiPoint> clipPolygonRows(const std::vector<RoiPoint> &in, int low, int high) {
  std::vector<RoiPoint> points = in;
  for (int side = 0; side < 2; side++) {
    const double limit = side ? high : low;
    auto inside = [&](const RoiPoint &p) { return side ? p.y <= high : p.y >= low; };
    std::vector<RoiPoint> out;
    for (size_t i = 0; i < points.size(); i++) {
      const RoiPoint &a = points[i], &b = points[(i + 1) % points.size()];
      if (inside(a)) out.push_back(a);
      if (inside(a) != inside(b)) {
        const double t = (limit - a.y) / (double(b.y) - a.y);
        out.push_back({roundToInt(a.x + t * (double(b.x) - a.x)), static_cast<int>(limit)});
      }
    }
    points.swap(out);
  }
  return points;
}

/* Lines between successive points, drawn as the points are made. */
void polyline(const int *x, const int *y, int n, bool relative) {
  VdispState *s = openDriver();
  if (!s || n < 1 || !x || !y) return;
  int px = s->curX, py = s->curY;
  for (int i = 0; i < n; i++) {
    const int qx = relative ? addClamped(px, x[i]) : x[i];
    const int qy = relative ? addClamped(py, y[i]) : y[i];
    if (i > 0)
      drawRAMImageLine(s->image, 0, s->colour, static_cast<float>(px), static_cast<float>(py),
                       static_cast<float>(qx), static_cast<float>(qy));
    px = qx;
    py = qy;
  }
  s->curX = px;
  s->curY = py;
}

/* A filled polygon from one point list (the only drawing that allocates). */
void polygon(const int *x, const int *y, int n, bool relative) {
  VdispState *s = openDriver();
  if (!s) return;
  std::vector<RoiPoint> points = driverPoints(*s, x, y, n, relative);
  if (points.empty()) return;
  const RoiPoint last = points.back();
  const int rows = s->image->header.rows, margin = rows + 16;
  points = clipPolygonRows(points, -margin, rows + margin);
  PointList list;
  list.points = points.data();
  list.count = list.capacity = static_cast<int>(points.size());
  fillRAMImagePolygon(s->image, 0, s->colour, &list);
  s->curX = last.x;
  s->curY = last.y;
}

/*
 * Writes a row of values nrows times from the current position; a value
 * whose written byte is 0 is skipped (withzeros 0) or written as 1.
 */
template <class ValueAt>
void writeRaster(int num, int nrows, int withzeros, ValueAt valueAt) {
  VdispState *s = openDriver();
  if (!s || num < 1 || nrows < 1) return;
  RAMIMG *image = s->image;
  const int rows = image->header.rows, columns = image->header.columns;
  for (int r = 0; r < nrows; r++) {
    const long long y = static_cast<long long>(s->curY) + r;
    if (y < 0) continue;
    if (y >= rows) break;
    for (int i = 0; i < num; i++) {
      const long long x = static_cast<long long>(s->curX) + i;
      if (x < 0) continue;
      if (x >= columns) break;
      unsigned char v = valueAt(i);
      if (v == 0) {
        if (!withzeros) continue;
        v = 1;
      }
      putByteBILData(image, static_cast<int>(y), static_cast<int>(x), 1, 0, &v);
    }
  }
}

/* Evaluates vdisp.get.point/line/box with the display's path and the numbers. */
bool evalPointer(const char *procedure, std::initializer_list<int> numbers, std::string *result) {
  VdispState *s = openDriver();
  Tcl_Interp *interp = driverInterp();
  if (!s || !interp) return false;
  Tcl_Obj *words[8];
  int n = 0;
  words[n++] = Tcl_NewStringObj(procedure, -1);
  words[n++] = Tcl_NewStringObj(s->path, -1);
  words[n++] = Tcl_NewIntObj(1);
  for (int v : numbers) words[n++] = Tcl_NewIntObj(v);
  for (int i = 0; i < n; i++) Tcl_IncrRefCount(words[i]);
  int code = Tcl_EvalObjv(interp, n, words, TCL_EVAL_GLOBAL);
  for (int i = 0; i < n; i++) Tcl_DecrRefCount(words[i]);
  if (code == TCL_OK) *result = Tcl_GetStringResult(interp);
  Tcl_ResetResult(interp);
  return code == TCL_OK;
}

void lineOrBox(const char *procedure, int x0, int y0, int *x1, int *y1, int *button) {
  std::string answer;
  if (!x1 || !y1 || !button || !evalPointer(procedure, {x0, y0, *x1, *y1}, &answer)) return;
  int unused0, unused1;
  sscanf(answer.c_str(), "%d %d %d %d %d", button, &unused0, &unused1, x1, y1);
}

int padStub(const char *text) {
  vesk_fprintf(stderr, "%s", text);
  return 0;
}

}  // namespace
}  // namespace vesk

using namespace vesk;

/* ---- colours ---- */

int R_color_table_fixed(void) { return 0; }
int R_color_table_float(void) { return -1; }

/*
 * R_reset_color --
 *     Sets entry index of the image's colour table.  An index above the
 *     colour count becomes the count.
 * Results:      1; 0 (nothing changed) for an index outside 0..255.
 */
int R_reset_color(int r, int g, int b, int index) {
  VdispState *s = openDriver();
  if (!s || index < 0 || index > 255) return 0;
  unsigned char *entry = s->image->header.palette[index];
  entry[0] = static_cast<unsigned char>(r);
  entry[1] = static_cast<unsigned char>(g);
  entry[2] = static_cast<unsigned char>(b);
  if (index > s->colourCount) s->colourCount = index;
  return 1;
}

int R_reset_colors(int min, int max, const unsigned char *red, const unsigned char *green,
                   const unsigned char *blue) {
  if (!red || !green || !blue) return 0;
  for (long long i = min; i <= max; i++)
    R_reset_color(red[i - min], green[i - min], blue[i - min], static_cast<int>(i));
  return 1;
}

int R_color(int index) {
  VdispState *s = openDriver();
  if (!s) return 0;
  int previous = s->colour;
  s->colour = index;
  return previous;
}

int R_standard_color(int index) { return R_color(index); }

/*
 * R_RGB_color --
 *     The current colour becomes the sum of the RGB table's parts for the
 *     three intensities, each clamped to 0..255.
 */
int R_RGB_color(int r, int g, int b) {
  VdispState *s = openDriver();
  if (!s) return 0;
  s->colour = s->rgb[clampByte(r)][0] + s->rgb[clampByte(g)][1] + s->rgb[clampByte(b)][2];
  return 1;
}

void R_set_RGB_color(const unsigned char *red, const unsigned char *green,
                     const unsigned char *blue) {
  VdispState *s = openDriver();
  if (!s || !red || !green || !blue) return;
  for (int i = 0; i < 256; i++) {
    s->rgb[i][0] = red[i];
    s->rgb[i][1] = green[i];
    s->rgb[i][2] = blue[i];
  }
}

int R_get_num_colors(void) {
  VdispState *s = openDriver();
  return s ? s->colourCount : 0;
}

int R_color_offset(int offset) {
  VdispState *s = openDriver();
  if (!s) return 0;
  int previous = s->colourOffset;
  s->colourOffset = offset;
  return previous;
}

/* ---- screen and window ---- */

int R_screen_top(void) { return 0; }
int R_screen_left(void) { return 0; }
int R_screen_bot(void) {
  VdispState *s = openDriver();
  return s ? s->image->header.rows - 1 : 0;
}
int R_screen_rite(void) {
  VdispState *s = openDriver();
  return s ? s->image->header.columns - 1 : 0;
}

void R_set_window(int top, int bottom, int left, int right) {
  VdispState *s = openDriver();
  if (!s) return;
  s->clipTop = top;
  s->clipBottom = bottom;
  s->clipLeft = left;
  s->clipRight = right;
}

/* ---- position and lines ---- */

void R_move_abs(int x, int y) {
  VdispState *s = openDriver();
  if (!s) return;
  s->curX = x;
  s->curY = y;
}

void R_move_rel(int dx, int dy) {
  VdispState *s = openDriver();
  if (s) R_move_abs(addClamped(s->curX, dx), addClamped(s->curY, dy));
}

int R_curx(void) {
  VdispState *s = openDriver();
  return s ? s->curX : 0;
}
int R_cury(void) {
  VdispState *s = openDriver();
  return s ? s->curY : 0;
}

/*
 * R_cont_abs --
 *     A line in the current colour from the current position to (x, y),
 *     clipped to the image; the position moves there.
 */
void R_cont_abs(int x, int y) {
  VdispState *s = openDriver();
  if (!s) return;
  drawRAMImageLine(s->image, 0, s->colour, static_cast<float>(s->curX), static_cast<float>(s->curY),
                   static_cast<float>(x), static_cast<float>(y));
  s->curX = x;
  s->curY = y;
}

void R_cont_rel(int dx, int dy) {
  VdispState *s = openDriver();
  if (s) R_cont_abs(addClamped(s->curX, dx), addClamped(s->curY, dy));
}

/* The outline of a box; the position ends at (x2, y2). */
void R_box_abs(int x1, int y1, int x2, int y2) {
  if (!openDriver()) return;
  R_move_abs(x2, y2);
  R_cont_abs(x2, y1);
  R_cont_abs(x1, y1);
  R_cont_abs(x1, y2);
  R_cont_abs(x2, y2);
}

void R_box_rel(int dx, int dy) {
  VdispState *s = openDriver();
  if (s) R_box_abs(s->curX, s->curY, addClamped(s->curX, dx), addClamped(s->curY, dy));
}

/* ---- dots, polygons, polylines ---- */

/* Dots in the current colour's low byte; those outside the image are not written. */
void R_polydots_abs(const int *x, const int *y, int n) {
  VdispState *s = openDriver();
  if (!s || !x || !y || n < 1) return;
  for (int i = 0; i < n; i++) putDot(s->image, x[i], y[i], static_cast<unsigned char>(s->colour));
  s->curX = x[n - 1];
  s->curY = y[n - 1];
}

void R_polydots_rel(const int *dx, const int *dy, int n) {
  VdispState *s = openDriver();
  if (!s || !dx || !dy || n < 1) return;
  for (int i = 0; i < n; i++) {
    s->curX = addClamped(s->curX, dx[i]);
    s->curY = addClamped(s->curY, dy[i]);
    putDot(s->image, s->curX, s->curY, static_cast<unsigned char>(s->colour));
  }
}

void R_polygon_abs(const int *x, const int *y, int n) { polygon(x, y, n, false); }
void R_polygon_rel(const int *dx, const int *dy, int n) { polygon(dx, dy, n, true); }
void R_polyline_abs(const int *x, const int *y, int n) { polyline(x, y, n, false); }
void R_polyline_rel(const int *dx, const int *dy, int n) { polyline(dx, dy, n, true); }

/* ---- rasters ---- */

/*
 * R_raster --
 *     The row of num colours (low bytes) into rows curY .. curY + nrows - 1
 *     from column curX; cut at the image's edges; the position stays.
 */
void R_raster(int num, int nrows, int withzeros, const int *colours) {
  if (!colours) return;
  writeRaster(num, nrows, withzeros, [&](int i) { return static_cast<unsigned char>(colours[i]); });
}

/* The same with each value composed from the RGB table, summed modulo 256. */
void R_RGB_raster(int num, int nrows, const unsigned char *r, const unsigned char *g,
                  const unsigned char *b, int withzeros) {
  VdispState *s = openDriver();
  if (!s || !r || !g || !b) return;
  writeRaster(num, nrows, withzeros, [&](int i) {
    return static_cast<unsigned char>(s->rgb[r[i]][0] + s->rgb[g[i]][1] + s->rgb[b[i]][2]);
  });
}

/* ---- image and display ---- */

/* Zeroes the lines the image holds in memory; none is marked for writing. */
void R_erase(void) {
  VdispState *s = openDriver();
  if (!s || !s->image->cache) return;
  memset(s->image->cache, 0,
         static_cast<size_t>(static_cast<int64_t>(s->image->cacheLines) * s->image->lineBytes));
}

void R_flush(void) {}

/* Every display of the image redraws. */
void R_stabilize(void) {
  VdispState *s = openDriver();
  if (s) updateClient(s->image, nullptr, 2);
}

/* ---- pointer input ---- */

/*
 * R_get_location_with_pointer --
 *     Asks "vdisp.get.point path 1 x y"; its answer "button x y" replaces
 *     the out-values.  A failed evaluation leaves them as they were.
 */
void R_get_location_with_pointer(int *x, int *y, int *button) {
  std::string answer;
  if (!x || !y || !button || !evalPointer("vdisp.get.point", {*x, *y}, &answer)) return;
  sscanf(answer.c_str(), "%d %d %d", button, x, y);
}

/* "vdisp.get.line path 1 x0 y0 x1 y1" answers "button - - x1 y1". */
void R_get_location_with_line(int x0, int y0, int *x1, int *y1, int *button) {
  lineOrBox("vdisp.get.line", x0, y0, x1, y1, button);
}

void R_get_location_with_box(int x0, int y0, int *x1, int *y1, int *button) {
  lineOrBox("vdisp.get.box", x0, y0, x1, y1, button);
}

/* ---- panels and pads ---- */

int R_panel_save(const char *name, int t, int b, int l, int r) {
  vesk_fprintf(stderr, "R_panel_save: %s %d %d %d %d\n", name ? name : "", t, b, l, r);
  return 0;
}
int R_panel_delete(const char *name) {
  vesk_fprintf(stderr, "R_panel_delete: %s\n", name ? name : "");
  return 0;
}
int R_panel_restore(const char *name) {
  vesk_fprintf(stderr, "R_panel_resotr: %s\n", name ? name : "");
  return 0;
}

int R_pad_append_item(void) { return padStub("R_pad_append_item...\n"); }
int R_pad_create(void) { return padStub("R_pad_create...\n"); }
int R_pad_current(void) { return padStub("R_pad_current...\n"); }
int R_pad_delete(void) { return padStub("P_pad_delete...\n"); }
int R_pad_delete_item(void) { return padStub("P_pad_delete_item...\n"); }
int R_pad_freelist(void) { return padStub("R_pad_freelist...\n"); }
int R_pad_get_item(void) { return padStub("R_pad_get_item...\n"); }
int R_pad_invent(void) { return padStub("R_pad_invent...\n"); }
int R_pad_list(void) { return padStub("R_pad_list...\n"); }
int R_pad_select(void) { return padStub("R_pad_select...\n"); }
int R_pad_set_item(void) { return padStub("R_pad_set_item...\n"); }

/* The message, " : " when it is not empty, and the code's text. */
int R_pad_perror(const char *message, int code) {
  static const char *const texts[] = {"",          "out of memory",    "pad not found",
                                      "no current pad", "item not found", "DUPLICATE name",
                                      "ILLEGAL request"};
  const char *text = code >= 0 && code < 7 ? texts[code] : "unknown error";
  if (!message) message = "";
  vesk_fprintf(stderr, "%s%s%s\n", message, *message ? " : " : "", text);
  return 0;
}
