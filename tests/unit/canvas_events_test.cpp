// Map canvas events through a test item type with an insertion cursor, a
// selection and components: focus and key dispatch, the blink timing, the
// component calls of picking, and the PRIMARY selection.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "canvas/gcanvas.h"
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

struct CursorItem {
  GcanvasItem header;
  double x1, y1, x2, y2;
  int cursor;
};

std::vector<int> componentCalls;
Tk_ConfigSpec cursorSpecs[] = {{TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr}};
const char kText[] = "abcdefghij";

void cursorBbox(ItemContainer *c, GcanvasItem *item) {
  CursorItem *ci = reinterpret_cast<CursorItem *>(item);
  setItemBoxFromWorld(c, ci->x1, ci->y1, ci->x2, ci->y2, item);
}

int cursorCreate(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  CursorItem *ci = reinterpret_cast<CursorItem *>(item);
  if (objc != 4) return TCL_ERROR;
  double *v[4] = {&ci->x1, &ci->y1, &ci->x2, &ci->y2};
  for (int i = 0; i < 4; i++)
    if (Tcl_GetDoubleFromObj(interp, objv[i], v[i]) != TCL_OK) return TCL_ERROR;
  ci->cursor = 0;
  cursorBbox(c, item);
  return TCL_OK;
}

void cursorDisplay(ItemContainer *, GcanvasItem *, Display *, Drawable, int, int, int, int) {}

double cursorPoint(ItemContainer *c, GcanvasItem *item, double *p) {
  double dx = p[0] < item->x1 ? item->x1 - p[0] : p[0] > item->x2 ? p[0] - item->x2 : 0;
  double dy = p[1] < item->y1 ? item->y1 - p[1] : p[1] > item->y2 ? p[1] - item->y2 : 0;
  (void)c;
  return dx > dy ? dx : dy;
}

int cursorIndex(Tcl_Interp *interp, ItemContainer *, GcanvasItem *, Tcl_Obj *obj, int *index) {
  return Tcl_GetIntFromObj(interp, obj, index);
}

void cursorIcursor(ItemContainer *, GcanvasItem *item, int index) {
  reinterpret_cast<CursorItem *>(item)->cursor = index;
}

int cursorSelection(ItemContainer *c, GcanvasItem *, int offset, char *buffer, int maxBytes) {
  GcanvasTextInfo *ti = canvasTextInfo(c);
  int count = ti->selectLast + 1 - ti->selectFirst - offset;
  if (count > maxBytes) count = maxBytes;
  if (count <= 0) return 0;
  memcpy(buffer, kText + ti->selectFirst + offset, count);
  buffer[count] = 0;
  return count;
}

void cursorSetComponent(ItemContainer *, GcanvasItem *, int on) { componentCalls.push_back(on); }

GcanvasItemType cursorType = {
    "cursoritem", sizeof(CursorItem), cursorCreate, cursorSpecs, nullptr, nullptr, nullptr,
    cursorDisplay, TK_ITEM_OBJS, cursorPoint, nullptr, nullptr, nullptr, nullptr, cursorIndex,
    cursorIcursor, cursorSelection, nullptr, nullptr, cursorBbox, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, cursorSetComponent, nullptr,
    nullptr, nullptr, nullptr, nullptr,
};

struct EventCanvas {
  explicit EventCanvas(const char *options) {
    registerItemType(&cursorType);
    std::string script = std::string("catch {destroy .ev}; toplevel .ev; wm geometry .ev +0+0; "
                                     "gcanvas .ev.c -width 200 -height 100 -bd 0 "
                                     "-highlightthickness 0 ") +
                         options +
                         "; pack .ev.c; update; raise .ev; "
                         ".ev.c create cursoritem 10 10 50 50; "
                         ".ev.c create cursoritem 100 10 150 50; update";
    int code;
    evalScript(script.c_str(), &code);
    ok = code == TCL_OK;
    canvas = canvasRecord(".ev.c");
  }
  ~EventCanvas() { evalScript("destroy .ev"); }
  bool ok = false;
  GcanvasRecord *canvas = nullptr;
};

struct BlinkSample {
  GcanvasRecord *canvas;
  std::vector<int> *seen;
};

void sampleCursor(ClientData data) {
  BlinkSample *s = static_cast<BlinkSample *>(data);
  s->seen->push_back(s->canvas->textInfo.cursorOn);
}

}  // namespace

TEST(CanvasEvents, KeysGoToTheFocusItemAndTheCursorBlinksSixHundredThenThreeHundred) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  EventCanvas w("");
  ASSERT_TRUE(w.ok);
  EXPECT_EQ("", evalScript("focus -force .ev.c; update; .ev.c focus 2; .ev.c icursor 2 4; "
                           "set ::keys {}; .ev.c bind 1 <Key> {lappend ::keys one}; "
                           ".ev.c bind 2 <Key> {lappend ::keys two}; "
                           "event generate .ev.c <Motion> -x 20 -y 20; "
                           "event generate .ev.c <KeyPress-a> -x 20 -y 20; update"));
  EXPECT_EQ("2", evalScript(".ev.c focus"));
  EXPECT_EQ("1", evalScript(".ev.c find withtag current"));
  EXPECT_EQ("two", evalScript("set ::keys"));
  GcanvasItem *focus = w.canvas->textInfo.focusItemPtr;
  ASSERT_NE(nullptr, focus);
  EXPECT_EQ(4, reinterpret_cast<CursorItem *>(focus)->cursor);

  // The blink samples and the blink timer are all created now: their order is fixed by due time.
  std::vector<int> seen;
  BlinkSample sample{w.canvas, &seen};
  canvasFocusProc(w.canvas, 1);
  for (int ms : {300, 750, 1200}) Tcl_CreateTimerHandler(ms, sampleCursor, &sample);
  while (seen.size() < 3) Tcl_DoOneEvent(TCL_ALL_EVENTS);
  EXPECT_EQ((std::vector<int>{1, 0, 1}), seen);
  canvasFocusProc(w.canvas, 0);
  EXPECT_EQ(nullptr, w.canvas->insertBlinkHandler);
  EXPECT_EQ(0, w.canvas->textInfo.cursorOn);
}

TEST(CanvasEvents, ComponentCallsFollowUpdateComponent) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  {
    EventCanvas w("-updatecomponent 1");
    ASSERT_TRUE(w.ok);
    evalScript("event generate .ev.c <Motion> -x 20 -y 20; update");
    componentCalls.clear();
    evalScript("event generate .ev.c <Motion> -x 21 -y 20; "
               "event generate .ev.c <Motion> -x 22 -y 20; update");
    EXPECT_EQ((std::vector<int>{0, 1, 0, 1}), componentCalls);
  }
  {
    EventCanvas w("-updatecomponent 0");
    ASSERT_TRUE(w.ok);
    componentCalls.clear();
    evalScript("event generate .ev.c <Motion> -x 20 -y 20; "
               "event generate .ev.c <Motion> -x 21 -y 20; "
               "event generate .ev.c <Motion> -x 120 -y 20; update");
    // Entering: the old (none) gets nothing, the new nothing; leaving item 1 calls 0.
    EXPECT_EQ((std::vector<int>{0}), componentCalls);
  }
}

TEST(CanvasEvents, SelectionIsServedThroughPrimaryAndAdjustMovesTheAnchor) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  EventCanvas w("");
  ASSERT_TRUE(w.ok);
  EXPECT_EQ("", evalScript(".ev.c select from 1 2; .ev.c select to 1 5"));
  EXPECT_EQ("1", evalScript(".ev.c select item"));
  EXPECT_EQ("cdef", evalScript("selection get"));
  // Left of the middle of 2..5: the anchor moves past the last character.
  evalScript(".ev.c select adjust 1 1");
  EXPECT_EQ(1, w.canvas->textInfo.selectFirst);
  EXPECT_EQ(5, w.canvas->textInfo.selectLast);
  EXPECT_EQ("bcdef", evalScript("selection get"));
  // Another owner takes PRIMARY: the canvas forgets its selection.
  evalScript("selection own .ev; update");
  EXPECT_EQ("", evalScript(".ev.c select item"));
  int code;
  std::string message = evalScript(".ev.c select to 99 1", &code);
  EXPECT_EQ(TCL_ERROR, code);
  EXPECT_EQ("can't find an indexable and selectable item \"99\"", message);
}
