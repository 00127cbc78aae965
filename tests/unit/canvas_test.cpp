// Map canvas internals: the item-type registry, redisplay economy through a
// counting item type, drawable conversions, anchors and one-point coords,
// geometry, dashes, and the EPS output rendered by Ghostscript against a
// capture of the window.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "canvas/gcanvas.h"
#include "display/capture.h"
#include "display/drawing.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

bool canvasReady() {
  static int state = -1;
  if (state < 0) state = testMainWindow() && Gcanvas_Init(testInterp()) == TCL_OK ? 1 : 0;
  return state == 1;
}

GcanvasRecord *canvasRecord(const char *path) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(testInterp(), path, &info)) return nullptr;
  return static_cast<GcanvasRecord *>(info.objClientData);
}

// ---- a test-only item type that counts its display calls ----

struct CountItem {
  GcanvasItem header;
  double x1, y1, x2, y2;
};

int normalCalls = 0;
int floatingCalls = 0;
int lastWidth = 0, lastHeight = 0;
Tk_ConfigSpec countSpecs[] = {{TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr}};

void countBbox(ItemContainer *c, GcanvasItem *item) {
  CountItem *ci = reinterpret_cast<CountItem *>(item);
  setItemBoxFromWorld(c, ci->x1, ci->y1, ci->x2, ci->y2, item);
}

int countCreate(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                Tcl_Obj *const objv[]) {
  CountItem *ci = reinterpret_cast<CountItem *>(item);
  if (objc < 4) return TCL_ERROR;
  double *v[4] = {&ci->x1, &ci->y1, &ci->x2, &ci->y2};
  for (int i = 0; i < 4; i++)
    if (Tcl_GetDoubleFromObj(interp, objv[i], v[i]) != TCL_OK) return TCL_ERROR;
  item->floating = objc > 4;
  countBbox(c, item);
  return TCL_OK;
}

void countDisplay(ItemContainer *, GcanvasItem *item, Display *, Drawable, int, int, int width,
                  int height) {
  (item->floating ? floatingCalls : normalCalls)++;
  lastWidth = width;
  lastHeight = height;
}

void countTranslate(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  CountItem *ci = reinterpret_cast<CountItem *>(item);
  ci->x1 += dx;
  ci->x2 += dx;
  ci->y1 += dy;
  ci->y2 += dy;
  countBbox(c, item);
}

double countPoint(ItemContainer *, GcanvasItem *, double *) { return 0; }

GcanvasItemType countType = {
    "counter", sizeof(CountItem), countCreate, countSpecs, nullptr, nullptr, nullptr,
    countDisplay, TK_ITEM_OBJS, countPoint, nullptr, nullptr, nullptr, countTranslate, nullptr,
    nullptr, nullptr, nullptr, nullptr, countBbox, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,
};

void resetCounts() { normalCalls = floatingCalls = 0; }

struct CanvasWindow {
  explicit CanvasWindow(const char *options) {
    std::string script = std::string("catch {destroy .ut}; toplevel .ut; wm geometry .ut +0+0; "
                                     "gcanvas .ut.c -width 200 -height 100 -bd 0 -bg white ") +
                         options + "; pack .ut.c; update; raise .ut; update";
    int code;
    evalScript(script.c_str(), &code);
    ok = code == TCL_OK;
    canvas = canvasRecord(".ut.c");
  }
  ~CanvasWindow() { evalScript("destroy .ut"); }
  bool ok = false;
  GcanvasRecord *canvas = nullptr;
};

}  // namespace

TEST(CanvasRegistry, BuiltTypesKeepTheirOrderAndARegisteredTypeReplacesByName) {
  std::vector<std::string> names;
  for (GcanvasItemType *t = getItemTypes(); t; t = t->nextPtr)
    if (strcmp(t->name, "counter") != 0 && strcmp(t->name, "cursoritem") != 0)
      names.push_back(t->name);
  EXPECT_EQ((std::vector<std::string>{"rectangle", "text", "line", "polygon", "image", "oval",
                                      "bitmap", "arc", "gtext", "group", "symbol", "window", "object"}),
            names);
  EXPECT_EQ(-1, objectTypeFromName("point"));
  EXPECT_EQ(0x4400, objectTypeFromName("MULTIPOINTZ"));
  EXPECT_STREQ("POLYGONM", objectTypeName(0x1400));
  EXPECT_EQ(nullptr, objectTypeNameAt(13));
  GcanvasItemType copy = rectangleType;
  copy.name = "oval";
  registerItemType(&copy);
  int ovals = 0;
  for (GcanvasItemType *t = getItemTypes(); t; t = t->nextPtr)
    if (strcmp(t->name, "oval") == 0) {
      ovals++;
      EXPECT_EQ(&copy, t);
    }
  EXPECT_EQ(1, ovals);
  registerItemType(&ovalType);
}

TEST(CanvasRedisplay, RequestsGrowOneRegionAndScrollingRedrawsOneStrip) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  registerItemType(&countType);
  CanvasWindow w("-highlightthickness 0 -scrollregion {-1000 -1000 1000 1000} "
                 "-xscrollincrement 10 -confine 0");
  ASSERT_TRUE(w.ok);
  evalScript(".ut.c create counter -1000 -1000 1000 1000; update");

  // Two requests: one redisplay, one strip, one display call.
  resetCounts();
  int strips = backingStripCount();
  evalScript(".ut.c redraw 0 0 30 30; .ut.c redraw 5 5 60 25; update idletasks");
  EXPECT_EQ(1, backingStripCount() - strips);
  EXPECT_EQ(1, normalCalls);

  // An expose event only copies from the backing pixmap.
  resetCounts();
  strips = backingStripCount();
  evalScript("event generate .ut.c <Expose> -x 0 -y 0 -width 50 -height 50 -when now");
  EXPECT_TRUE(w.canvas->flags & REDRAW_PENDING);
  evalScript("update idletasks");
  EXPECT_EQ(0, backingStripCount() - strips);
  EXPECT_EQ(0, normalCalls);

  // A request wholly left of the window is ignored.
  strips = backingStripCount();
  evalScript(".ut.c redraw -100 0 -50 10; update idletasks");
  EXPECT_EQ(0, backingStripCount() - strips);
  EXPECT_EQ(0, w.canvas->flags & REDRAW_PENDING);

  // Scrolling 10 pixels copies the rest and redraws one 10-pixel strip.
  resetCounts();
  strips = backingStripCount();
  evalScript(".ut.c xview scroll 1 units; update idletasks");
  EXPECT_EQ(10, w.canvas->xOrigin);
  EXPECT_EQ(1, backingStripCount() - strips);
  EXPECT_EQ(1, normalCalls);
  EXPECT_EQ(10, lastWidth);
  EXPECT_EQ(100, lastHeight);

  // Moving a floating item redraws no other item.
  int code;
  std::string id = evalScript(".ut.c create counter 10 10 20 20 float", &code);
  ASSERT_EQ(TCL_OK, code);
  evalScript("update");
  resetCounts();
  evalScript((".ut.c move " + id + " 5 0; update idletasks").c_str());
  EXPECT_EQ(0, normalCalls);
  EXPECT_GE(floatingCalls, 1);
}

TEST(CanvasRedisplay, OriginFollowsTheScrollIncrementAndInset) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  CanvasWindow w("-highlightthickness 2 -xscrollincrement 20");
  ASSERT_TRUE(w.ok);
  setCanvasOrigin(w.canvas, 30, 0);
  EXPECT_EQ(38, w.canvas->xOrigin);
  setCanvasOrigin(w.canvas, -30, 0);
  EXPECT_EQ(-22, w.canvas->xOrigin);
  EXPECT_EQ("0 1", printScrollFractions(0, 10, 5, 5));
  EXPECT_EQ("-0.5 1.5", printScrollFractions(-50, 150, 0, 100));
}

TEST(CanvasSupport, DrawableCoordinatesRoundHalfAwayAndSaturate) {
  struct Case {
    int origin;
    double value;
    short expected;
  } cases[] = {{0, 2.5, 3},          {0, -2.5, -3},      {0, 40000, 32767},   {0, -40000, -32768},
               {10, 12.4, 2},        {0, 1e12, 32767},   {0, -1e300, -32768}, {0, NAN, 0},
               {-5, 0.49, 5}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(c.expected, toDrawableCoord(c.origin, c.value));
  }
}

TEST(CanvasSupport, AnchorOffsetsInPixelsAndPostscriptCorners) {
  // A 7 x 5 box: whole-pixel offsets truncate the halves; the PostScript
  // corner (y up) of the box anchored at (100, 50).
  struct Case {
    Tk_Anchor anchor;
    int dx, dy;
    double psx, psy;
  } cases[] = {{TK_ANCHOR_N, 3, 0, 96.5, 45},  {TK_ANCHOR_NE, 7, 0, 93, 45},
               {TK_ANCHOR_E, 7, 2, 93, 47.5},  {TK_ANCHOR_SE, 7, 5, 93, 50},
               {TK_ANCHOR_S, 3, 5, 96.5, 50},  {TK_ANCHOR_SW, 0, 5, 100, 50},
               {TK_ANCHOR_W, 0, 2, 100, 47.5}, {TK_ANCHOR_NW, 0, 0, 100, 45},
               {TK_ANCHOR_CENTER, 3, 2, 96.5, 47.5}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.anchor);
    int dx = -1, dy = -1;
    anchorOffset(c.anchor, 7, 5, &dx, &dy);
    EXPECT_EQ(c.dx, dx);
    EXPECT_EQ(c.dy, dy);
    double x = 100, y = 50;
    psAnchorCorner(c.anchor, 7, 5, &x, &y);
    EXPECT_DOUBLE_EQ(c.psx, x);
    EXPECT_DOUBLE_EQ(c.psy, y);
  }
}

TEST(CanvasSupport, OnePointCoordsChangeOnlyWhenBothParse) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  evalScript("catch {destroy .pc}; gcanvas .pc");
  for (const char *create : {"bitmap 5 6 -bitmap gray50", "image 5 6", "text 5 6 -text a",
                             "gtext 5 6 -text a", "window 5 6", "group 5 6"}) {
    SCOPED_TRACE(create);
    std::string id = evalScript((std::string(".pc create ") + create).c_str());
    int code = TCL_OK;
    std::string message = evalScript((".pc coords " + id + " 9 zz").c_str(), &code);
    EXPECT_EQ(TCL_ERROR, code);
    EXPECT_EQ("bad screen distance \"zz\"", message);
    EXPECT_EQ("5.0 6.0", evalScript((".pc coords " + id).c_str()));
    evalScript((".pc coords " + id + " {7 8}").c_str());
    EXPECT_EQ("7.0 8.0", evalScript((".pc coords " + id).c_str()));
  }
  evalScript("destroy .pc");
}

TEST(CanvasSupport, LinesAndPolygonsTakeTheirStyleSource) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  evalScript("catch {destroy .ss}; gcanvas .ss");
  GcanvasRecord *canvas = canvasRecord(".ss");
  ASSERT_TRUE(canvas);
  Tk_Window win = canvas->c.tkwin;
  // A style source is an outline followed by its record's tail.
  struct {
    GcanvasOutline outline;
    StyleTail tail;
  } source;
  source.outline.width = 3;
  source.outline.color = Tk_GetColor(testInterp(), win, "green");
  source.outline.activeColor = Tk_GetColor(testInterp(), win, "red");
  source.tail = StyleTail{JoinRound, CapButt, 7, &bezierSmoothMethod};
  XColor *fill = Tk_GetColor(testInterp(), win, "blue");
  double vertices[8] = {0, 0, 10, 0, 10, 10, 0, 0};
  int counts[1] = {4};
  VertexData data;
  data.numParts = 1;
  data.vertices = vertices;
  data.partCounts = counts;
  data.styleSource = &source.outline;
  data.fillColor = fill;
  struct Case {
    GcanvasItemType *type;
    const char *colourOption;
    const char *fillWord;
  } cases[] = {{&lineType, "-fill", "green"}, {&polygonType, "-outline", "blue"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.type->name);
    GcanvasItem *item = createItemFromVertices(canvas, testInterp(), c.type, &data, "");
    ASSERT_TRUE(item);
    std::string get = ".ss itemcget " + std::to_string(item->id) + " ";
    EXPECT_EQ("3.0", evalScript((get + "-width").c_str()));
    EXPECT_EQ("green", evalScript((get + c.colourOption).c_str()));
    EXPECT_EQ("7", evalScript((get + "-splinesteps").c_str()));
    EXPECT_EQ("bezier", evalScript((get + "-smooth").c_str()));
    EXPECT_EQ(c.fillWord, evalScript((get + "-fill").c_str()));
  }
  Tk_FreeColor(source.outline.color);
  Tk_FreeColor(source.outline.activeColor);
  Tk_FreeColor(fill);
  evalScript("destroy .ss");
}

TEST(CanvasSupport, PathsDropRepeatsAndStraightMiddles) {
  GcanvasRecord record;
  record.c.canvas = &record;
  struct Case {
    std::vector<double> in;
    std::vector<short> out;
  } cases[] = {
      {{0, 0, 0, 5, 0, 10}, {0, 0, 0, 10}},
      {{0, 0, 0, 5, 0, 2}, {0, 0, 0, 5, 0, 2}},
      {{0, 0, 5, 5, 2, 2}, {0, 0, 2, 2}},
      {{0, 0, 5, 0, 9, 0, 9, 4}, {0, 0, 9, 0, 9, 4}},
      {{3, 4}, {3, 4, 3, 4}},
      {{3, 4, 3, 4, 3, 4}, {3, 4, 3, 4}},
  };
  for (const Case &c : cases) {
    int n = static_cast<int>(c.in.size() / 2);
    std::vector<XPoint> out(static_cast<size_t>(n) + 2);
    int count = worldToDrawablePath(&record.c, c.in.data(), out.data(), n);
    std::vector<short> flat;
    for (int i = 0; i < count; i++) {
      flat.push_back(out[i].x);
      flat.push_back(out[i].y);
    }
    EXPECT_EQ(c.out, flat);
  }
}

TEST(CanvasGeometry, DistancesAnglesAndMeasures) {
  double e1[2] = {0, 0}, e2[2] = {0, 10}, p[2] = {3, 5};
  EXPECT_DOUBLE_EQ(6.0, lineToPointScaled(2, 1, e1, e2, p));
  // Ends 0.0005 apart: vertical for the line rule.
  double f2[2] = {0.0005, 10};
  EXPECT_DOUBLE_EQ(3.0, lineToPointScaled(1, 1, e1, f2, p));
  double square[8] = {0, 0, 10, 0, 10, 10, 0, 10};
  double left[2] = {0, 5}, right[2] = {10, 5}, out[2] = {13, 5};
  EXPECT_EQ(0.0, polygonToPointScaled(1, 1, square, 4, left, nullptr));
  EXPECT_GT(polygonToPointScaled(1, 1, square, 4, right, nullptr), -1.0);
  double edge = -1;
  EXPECT_DOUBLE_EQ(3.0, polygonToPointScaled(1, 1, square, 4, out, &edge));
  EXPECT_DOUBLE_EQ(3.0, edge);
  struct AngleCase {
    double dx, dy, degrees;
  } angles[] = {{1, 0, 0}, {0, 1, 90}, {-1, 0, -180}, {0, -1, -90}, {0, 0, 0}, {1, 1, 45}};
  for (const AngleCase &a : angles) {
    SCOPED_TRACE(a.degrees);
    EXPECT_NEAR(a.degrees, vectorAngle(a.dx, a.dy), 1e-12);
  }
  EXPECT_DOUBLE_EQ(polygonArea(square, 4), polygonAreaTrapezoid(square, 4));
  EXPECT_DOUBLE_EQ(-100.0, polygonArea(square, 4));
  double cx, cy;
  EXPECT_DOUBLE_EQ(-100.0, polygonCentroid(square, 4, &cx, &cy));
  EXPECT_DOUBLE_EQ(5.0, cx);
  EXPECT_DOUBLE_EQ(5.0, cy);
  double line[6] = {0, 0, 10, 0, 10, 10};
  EXPECT_DOUBLE_EQ(20.0, polylineLength(line, 3));
  EXPECT_DOUBLE_EQ(20.0, polylineCentroid(line, 3, &cx, &cy));
  EXPECT_DOUBLE_EQ(7.5, cx);
  EXPECT_DOUBLE_EQ(2.5, cy);
  double box[4] = {0, 0, 10, 10}, inside[4] = {-1, -1, 11, 11}, apart[4] = {20, 20, 30, 30},
         cut[4] = {5, 5, 15, 15};
  EXPECT_EQ(1, rectToArea(box, inside));
  EXPECT_EQ(-1, rectToArea(box, apart));
  EXPECT_EQ(0, rectToArea(box, cut));
  EXPECT_EQ(1, ovalToArea(box, inside));
  EXPECT_EQ(-1, ovalToArea(box, apart));
  double corner[4] = {9.5, 9.5, 12, 12};
  EXPECT_EQ(-1, ovalToArea(box, corner));
  EXPECT_EQ(0, ovalToArea(box, cut));
  double centre[2] = {5, 5}, far[2] = {5, 20};
  EXPECT_EQ(0.0, ovalToPointScaled(1, 1, box, 1, 1, centre));
  EXPECT_NEAR(9.5, ovalToPointScaled(1, 1, box, 1, 1, far), 1e-12);
  EXPECT_EQ(1 + 4 * 12, bezierCoords(nullptr, nullptr, 4, 12, nullptr, nullptr));
}

TEST(CanvasGeometry, ClippingGrowsPastTwiceTheInput) {
  struct Case {
    std::vector<short> ring;
    int box[4];
    std::vector<short> expected;
  } cases[] = {
      {{-10, -10, 10, -10, 10, 10, -10, 10}, {0, 0, 5, 5}, {0, 5, 0, 0, 5, 0, 5, 5}},
      {{-27, 150, 137, -44, -13, 122, 68, -34},
       {0, 0, 100, 100},
       {50, 0, 0, 98, 0, 100, 15, 100, 100, 0, 100, 0, 97, 0, 7, 100, 0, 100, 0, 97, 50, 0}},
      {{200, 200, 300, 200, 300, 300}, {0, 0, 10, 10}, {}},
  };
  for (const Case &c : cases) {
    std::vector<XPoint> in;
    for (size_t i = 0; i < c.ring.size(); i += 2) in.push_back(XPoint{c.ring[i], c.ring[i + 1]});
    std::vector<XPoint> out = clipPolygonToBox(in.data(), static_cast<int>(in.size()), c.box[0],
                                               c.box[1], c.box[2], c.box[3]);
    std::vector<short> flat;
    for (const XPoint &q : out) {
      flat.push_back(q.x);
      flat.push_back(q.y);
    }
    EXPECT_EQ(c.expected, flat);
  }
  // Parts are clipped one by one and packed.
  std::vector<XPoint> parts = {{-10, -10}, {10, -10}, {10, 10}, {-10, 10},
                               {1, 1},     {3, 1},    {3, 3}};
  int counts[2] = {4, 3};
  std::vector<XPoint> packed = clipPartsToBox(parts.data(), 2, counts, 0, 0, 5, 5);
  EXPECT_EQ(4, counts[0]);
  EXPECT_EQ(3, counts[1]);
  ASSERT_EQ(7u, packed.size());
  EXPECT_EQ(1, packed[4].x);
}

TEST(CanvasOutline, DashPatternsConvertByWidth) {
  struct Case {
    const char *pattern;
    double width;
    std::vector<int> lengths;
  } cases[] = {
      {"-.", 1, {6, 4, 2, 4}},
      {"-.", 3, {18, 12, 6, 12}},
      {"- ", 2, {12, 8 + 2 + 1}},
      {"_,", 1, {8, 4, 4, 4}},
      {" -", 1, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pattern);
    char out[16];
    int n = dashConvert(out, c.pattern, -1, c.width);
    std::vector<int> got;
    for (int i = 0; i < n; i++) got.push_back(static_cast<unsigned char>(out[i]));
    EXPECT_EQ(c.lengths, got);
  }
  EXPECT_EQ(-1, dashConvert(nullptr, "-x", -1, 1));
}

namespace {

bool readPpm(const std::string &path, RgbImage &image) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<unsigned char> data;
  unsigned char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
  fclose(f);
  size_t at = 0;
  std::vector<long> fields;
  if (data.size() < 2 || data[0] != 'P' || data[1] != '6') return false;
  at = 2;
  while (fields.size() < 3 && at < data.size()) {
    if (data[at] == '#') {
      while (at < data.size() && data[at] != '\n') at++;
    } else if (isdigit(data[at])) {
      long v = 0;
      while (at < data.size() && isdigit(data[at])) v = v * 10 + (data[at++] - '0');
      fields.push_back(v);
      continue;
    }
    at++;
  }
  if (fields.size() < 3) return false;
  at++;  // the single blank after the maximum value
  image.width = static_cast<int>(fields[0]);
  image.height = static_cast<int>(fields[1]);
  size_t need = static_cast<size_t>(image.width) * image.height * 3;
  if (data.size() < at + need) return false;
  image.pixels.resize(static_cast<size_t>(image.width) * image.height);
  for (size_t i = 0; i < image.pixels.size(); i++) {
    const unsigned char *p = &data[at + 3 * i];
    image.pixels[i] = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
  }
  return true;
}

bool nearColour(uint32_t a, uint32_t b, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    int x = (a >> shift) & 0xff, y = (b >> shift) & 0xff;
    if (abs(x - y) > tolerance) return false;
  }
  return true;
}

}  // namespace

TEST(CanvasPostscript, GhostscriptRenderingMatchesTheWindow) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  if (system("gs --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no Ghostscript";
  CanvasWindow w("-highlightthickness 0 -height 120 -mx 2 -my -2 -viewyorigin 60");
  ASSERT_TRUE(w.ok);
  // World units under the transform: canvas pixel = 2 x world, y flipped.
  evalScript(".ut.c create rect 5 55 45 30 -fill red -outline black -width 3;"
             ".ut.c create oval 55 50 95 10 -fill blue -outline {};"
             ".ut.c create rect 10 25 40 5 -outline #00a000 -width 2;"
             ".ut.c create rect 60 58 70 52 -fill yellow -state hidden;"
             "update; raise .ut; update");
  Tk_Window win = Tk_NameToWindow(testInterp(), ".ut.c", testMainWindow());
  ASSERT_NE(nullptr, win);
  XSync(Tk_Display(win), False);
  RgbImage screen;
  ASSERT_TRUE(captureDrawableRgb(Tk_Display(win), Tk_WindowId(win), Tk_Colormap(win), 0, 0, 200,
                                 120, screen));
  char dir[] = "/tmp/vesk-canvas-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  std::string eps = std::string(dir) + "/c.eps", ppm = std::string(dir) + "/c.ppm";
  int code;
  std::string message = evalScript((".ut.c postscript -file " + eps +
                                    " -pagewidth 200p -pageanchor sw -pagex 0 -pagey 0")
                                       .c_str(),
                                   &code);
  ASSERT_EQ(TCL_OK, code) << message;
  std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -r72 -sDEVICE=ppmraw "
                        "-sOutputFile=" + ppm + " " + eps + " > /dev/null 2>&1";
  ASSERT_EQ(0, system(command.c_str()));
  RgbImage paper;
  ASSERT_TRUE(readPpm(ppm, paper));
  unlink(eps.c_str());
  unlink(ppm.c_str());
  rmdir(dir);
  ASSERT_GE(paper.width, 200);
  ASSERT_GE(paper.height, 120);
  // The page is one point taller than the area: canvas row y is page row y + 1.
  auto pageAt = [&](int x, int y) { return paper.pixels[(y + 1) * paper.width + x]; };
  auto screenAt = [&](int x, int y) { return screen.pixels[y * screen.width + x]; };
  struct Probe {
    int x, y;
    uint32_t colour;
  } probes[] = {{50, 35, 0xff0000}, {150, 60, 0x0000ff}, {50, 90, 0xffffff},
                {195, 5, 0xffffff}, {130, 7, 0xffffff}};
  for (const Probe &p : probes) {
    SCOPED_TRACE(p.x * 1000 + p.y);
    EXPECT_TRUE(nearColour(p.colour, screenAt(p.x, p.y), 8)) << std::hex << screenAt(p.x, p.y);
    EXPECT_TRUE(nearColour(p.colour, pageAt(p.x, p.y), 8)) << std::hex << pageAt(p.x, p.y);
  }
  int differ = 0;
  for (int y = 0; y < 119; y++)
    for (int x = 0; x < 200; x++)
      if (!nearColour(pageAt(x, y), screenAt(x, y), 26)) differ++;
  EXPECT_LT(differ, 200 * 119 * 4 / 100) << differ << " pixels differ";
}

TEST(CanvasRedisplay, BackgroundKeepsTheBackingStoreAndTheTransformDropsIt) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  CanvasWindow w("-highlightthickness 0");
  ASSERT_TRUE(w.ok);
  evalScript(".ut.c create rect 10 10 20 20 -fill red; update");
  ASSERT_NE(static_cast<Pixmap>(None), w.canvas->backingPixmap);
  evalScript(".ut.c configure -bg gray");
  EXPECT_NE(static_cast<Pixmap>(None), w.canvas->backingPixmap);
  EXPECT_EQ(1, w.canvas->backingStale);
  evalScript("update; .ut.c configure -textsizeratio 2");
  EXPECT_EQ(static_cast<Pixmap>(None), w.canvas->backingPixmap);
  EXPECT_EQ(1, w.canvas->backingStale);
}

TEST(CanvasOutline, GcValuesFollowTheStateAndTheDashBackground) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  CanvasWindow w("-highlightthickness 0");
  ASSERT_TRUE(w.ok);
  int code;
  evalScript(".ut.c create rect 10 10 20 20 -dash {4 2} -background red -width 2;"
             ".ut.c create rect 10 10 20 20 -dash {4 2};"
             ".ut.c create rect 10 10 20 20 -disabledwidth 3 -state disabled -dash -.;"
             ".ut.c create rect 10 10 20 20 -state hidden",
             &code);
  ASSERT_EQ(TCL_OK, code);
  GcanvasItem *items[4];
  int i = 0;
  for (GcanvasItem *item = w.canvas->c.firstItemPtr; item && i < 4; item = item->nextPtr)
    items[i++] = item;
  ASSERT_EQ(4, i);
  // The outline record follows the header in the box item.
  auto outlineOf = [](GcanvasItem *item) {
    return reinterpret_cast<GcanvasOutline *>(reinterpret_cast<char *>(item) +
                                              sizeof(GcanvasItem));
  };
  XGCValues values;
  int mask = configOutlineGC(&values, &w.canvas->c, items[0], outlineOf(items[0]));
  EXPECT_EQ(LineDoubleDash, values.line_style);
  EXPECT_TRUE(mask & GCBackground);
  EXPECT_EQ(2, values.line_width);
  EXPECT_EQ(4, values.dashes);
  mask = configOutlineGC(&values, &w.canvas->c, items[1], outlineOf(items[1]));
  EXPECT_EQ(LineOnOffDash, values.line_style);
  EXPECT_FALSE(mask & GCBackground);
  mask = configOutlineGC(&values, &w.canvas->c, items[2], outlineOf(items[2]));
  EXPECT_EQ(3, values.line_width);
  EXPECT_EQ(12, values.dashes);  // a pattern: 4 x the width
  EXPECT_FLOAT_EQ(2.0f, items[2]->xMargin);
  EXPECT_EQ(0, configOutlineGC(&values, &w.canvas->c, items[3], outlineOf(items[3])));
}

TEST(CanvasPostscript, PageDistancesAndFontMapEntries) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  Tcl_Interp *interp = testInterp();
  struct Case {
    const char *text;
    double points;
  } cases[] = {{"2i", 144.0}, {"2.54c", 72.0}, {"25.4 m", 72.0}, {" 5p ", 5.0}, {"7", 7.0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    double points = -1;
    ASSERT_EQ(TCL_OK, psGetPoints(interp, c.text, &points));
    EXPECT_NEAR(c.points, points, 1e-9);
  }
  double points;
  EXPECT_EQ(TCL_ERROR, psGetPoints(interp, "2x", &points));
  EXPECT_STREQ("bad distance \"2x\"", Tcl_GetStringResult(interp));
  EXPECT_EQ(TCL_ERROR, psGetPoints(interp, "i", &points));

  Tk_Font font = Tk_GetFont(interp, testMainWindow(), "Helvetica 12");
  ASSERT_NE(nullptr, font);
  CanvasPsInfo ps;
  Tcl_InitHashTable(&ps.fontTable, TCL_STRING_KEYS);
  char mapName[] = "psFontMap";
  ps.fontVar = mapName;
  Tcl_SetVar2(interp, "psFontMap", Tk_NameOfFont(font), "Courier 0", 0);
  Tcl_ResetResult(interp);
  EXPECT_EQ(TCL_ERROR, psFont(interp, &ps, font));
  EXPECT_EQ(std::string("bad font map entry for \"") + Tk_NameOfFont(font) + "\": \"Courier 0\"",
            Tcl_GetStringResult(interp));
  Tcl_SetVar2(interp, "psFontMap", Tk_NameOfFont(font), "Symbol 10.7", 0);
  Tcl_ResetResult(interp);
  EXPECT_EQ(TCL_OK, psFont(interp, &ps, font));
  EXPECT_STREQ("/Symbol findfont 10 scalefont setfont\n", Tcl_GetStringResult(interp));
  Tcl_SetVar2(interp, "psFontMap", Tk_NameOfFont(font), "Times-Roman 9", 0);
  Tcl_ResetResult(interp);
  EXPECT_EQ(TCL_OK, psFont(interp, &ps, font));
  EXPECT_STREQ("/Times-Roman findfont 9 scalefont ISOEncode setfont\n",
               Tcl_GetStringResult(interp));
  EXPECT_EQ(2, ps.fontTable.numEntries);
  Tcl_UnsetVar(interp, "psFontMap", 0);
  Tcl_DeleteHashTable(&ps.fontTable);
  Tk_FreeFont(font);
  Tcl_ResetResult(interp);
}

namespace {

// Captures the 200 x 100 canvas .ut.c as 0xrrggbb pixels.
bool captureCanvas(RgbImage &image) {
  Tk_Window win = Tk_NameToWindow(testInterp(), ".ut.c", testMainWindow());
  if (!win) return false;
  XSync(Tk_Display(win), False);
  return captureDrawableRgb(Tk_Display(win), Tk_WindowId(win), Tk_Colormap(win), 0, 0, 200, 100,
                            image) != 0;
}

int darkPixels(const RgbImage &image, int x1, int y1, int x2, int y2) {
  int count = 0;
  for (int y = y1; y < y2; y++)
    for (int x = x1; x < x2; x++)
      if (nearColour(0x000000, image.pixels[y * image.width + x], 60)) count++;
  return count;
}

}  // namespace

// Tk's canvas draws the same arrow at the same pixels: the gcanvas line at
// -mx 2 must keep the arrowhead's pixel shape, not double it.
TEST(CanvasLine, ArrowheadsKeepTheirPixelSizeUnderMagnification) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  RgbImage tk, ours;
  {
    evalScript("catch {destroy .ut}; toplevel .ut; wm geometry .ut +0+0; "
               "canvas .ut.c -width 200 -height 100 -bd 0 -highlightthickness 0 -bg white; "
               "pack .ut.c; .ut.c create line 20 50 180 50 -arrow both; update; raise .ut; update");
    ASSERT_TRUE(captureCanvas(tk));
  }
  CanvasWindow w("-mx 2 -highlightthickness 0");
  ASSERT_TRUE(w.ok);
  evalScript(".ut.c create line 10 50 90 50 -arrow both; update; raise .ut; update");
  ASSERT_TRUE(captureCanvas(ours));
  for (int x1 : {0, 150}) {
    SCOPED_TRACE(x1);
    int expected = darkPixels(tk, x1, 35, x1 + 50, 65);
    int got = darkPixels(ours, x1, 35, x1 + 50, 65);
    EXPECT_GE(expected, 50);  // the arrowhead is there, not only the shaft
    EXPECT_NEAR(expected, got, 6);
  }
  // Nine pixels behind the tip both arrowheads are equally tall, well over the shaft.
  auto rowsAt = [](const RgbImage &image, int x) {
    int rows = 0;
    for (int y = 35; y < 65; y++)
      if (nearColour(0x000000, image.pixels[y * image.width + x], 60)) rows++;
    return rows;
  };
  EXPECT_GE(rowsAt(tk, 171), 3);
  EXPECT_NEAR(rowsAt(tk, 171), rowsAt(ours, 171), 1);
  EXPECT_NEAR(rowsAt(tk, 29), rowsAt(ours, 29), 1);
}

// The hole of a polygon stays in the background colour on the window and
// in the EPS rendered by Ghostscript (even-odd fill).
TEST(CanvasPolygon, HoleStaysOpenOnScreenAndInPostscript) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  CanvasWindow w("-highlightthickness 0");
  ASSERT_TRUE(w.ok);
  evalScript(".ut.c create polygon 20 10 20 90 100 90 100 10 40 30 80 30 80 70 40 70 {4 4} "
             "-fill red; update; raise .ut; update");
  RgbImage screen;
  ASSERT_TRUE(captureCanvas(screen));
  auto at = [&](int x, int y) { return screen.pixels[y * screen.width + x]; };
  EXPECT_TRUE(nearColour(0xff0000, at(30, 50), 8)) << std::hex << at(30, 50);
  EXPECT_TRUE(nearColour(0xffffff, at(60, 50), 8)) << std::hex << at(60, 50);
  EXPECT_TRUE(nearColour(0xffffff, at(150, 50), 8));

  char dir[] = "/tmp/vesk-polygon-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  std::string eps = std::string(dir) + "/p.eps", ppm = std::string(dir) + "/p.ppm";
  int code;
  std::string message = evalScript((".ut.c postscript -file " + eps +
                                    " -pagewidth 200p -pageanchor sw -pagex 0 -pagey 0")
                                       .c_str(),
                                   &code);
  ASSERT_EQ(TCL_OK, code) << message;
  FILE *f = fopen(eps.c_str(), "r");
  ASSERT_NE(nullptr, f);
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  fclose(f);
  EXPECT_NE(std::string::npos, text.find("eofill"));
  std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -r72 -sDEVICE=ppmraw "
                        "-sOutputFile=" + ppm + " " + eps + " > /dev/null 2>&1";
  bool rendered = system(command.c_str()) == 0;
  RgbImage paper;
  if (rendered) rendered = readPpm(ppm, paper);
  unlink(eps.c_str());
  unlink(ppm.c_str());
  rmdir(dir);
  ASSERT_TRUE(rendered);
  auto pageAt = [&](int x, int y) { return paper.pixels[(y + 1) * paper.width + x]; };
  EXPECT_TRUE(nearColour(0xff0000, pageAt(30, 50), 8)) << std::hex << pageAt(30, 50);
  EXPECT_TRUE(nearColour(0xffffff, pageAt(60, 50), 8)) << std::hex << pageAt(60, 50);
}

// The batch draws what Xlib draws with the Tk GC itself, and changes its
// scratch GC only when a value really changes.
TEST(CanvasBatch, DrawsAsTheTkGcAndSkipsUnchangedValues) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  Tk_Window win = testMainWindow();
  Display *display = Tk_Display(win);
  XColor *red = Tk_GetColor(testInterp(), win, "red");
  ASSERT_NE(nullptr, red);
  XGCValues values;
  values.foreground = red->pixel;
  values.line_width = 3;
  GC gc = Tk_GetGC(win, GCForeground | GCLineWidth, &values);
  unsigned long white = WhitePixelOfScreen(Tk_Screen(win));
  Pixmap direct = makeFilledPixmap(win, 60, 60, white);
  Pixmap batched = makeFilledPixmap(win, 60, 60, white);
  XPoint rings[] = {{5, 5}, {55, 5}, {55, 55}, {5, 55}, {20, 20}, {20, 40}, {40, 40}, {40, 20}};
  int counts[] = {4, 4};
  XPoint path[] = {{0, 58}, {30, 45}, {58, 58}};
  fillPolygonsWithHoles(display, direct, gc, rings, 2, counts, Complex, CoordModeOrigin);
  XDrawLines(display, direct, gc, path, 3, CoordModeOrigin);

  DrawBatch *batch = beginDrawBatch(display, batched);
  BatchGC *b = createBatchGC(batch, gc);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(nullptr, createBatchGC(batch, None));
  batchFillPolygonsWithHoles(b, rings, 2, counts, 0);
  batchDrawLines(b, path, 3, 0);
  batchSetForeground(b, red->pixel);
  batchSetFunction(b, GXcopy);
  EXPECT_EQ(0, b->changes);
  batchSetForeground(b, white);
  EXPECT_EQ(1, b->changes);
  freeBatchGC(b);
  endDrawBatch(batch);
  EXPECT_EQ(0, setDrawableGraphicsMode(display, batched, 1));

  int differ = 0;
  for (int y = 0; y < 60; y += 3)
    for (int x = 0; x < 60; x += 3)
      if (readPixel(display, direct, x, y) != readPixel(display, batched, x, y)) differ++;
  EXPECT_EQ(0, differ);
  EXPECT_EQ(white, readPixel(display, batched, 30, 30));  // the hole
  EXPECT_EQ(red->pixel, readPixel(display, batched, 10, 10));
  Tk_FreePixmap(display, direct);
  Tk_FreePixmap(display, batched);
  Tk_FreeGC(display, gc);
  Tk_FreeColor(red);
}
