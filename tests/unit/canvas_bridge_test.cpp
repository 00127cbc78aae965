// The canvas bridge: a region of a Tk canvas or of a map canvas drawn
// off-screen, in window or canvas coordinates, against the window itself.
#include <gtest/gtest.h>

#include <string>

#include "canvas/gcanvas.h"
#include "display/capture.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

bool canvasReady() {
  static int state = -1;
  if (state < 0) state = testMainWindow() && Gcanvas_Init(testInterp()) == TCL_OK ? 1 : 0;
  return state == 1;
}

// Renders the region into a new pixmap and reads its pixels (offset 0,0 = region corner).
bool renderRegion(const CanvasInfo &info, int x, int y, int w, int h, int coordType,
                  RgbImage &out) {
  Tcl_Interp *interp = testInterp();
  Drawable d = renderCanvasToPixmap(interp, None, 0, 0, &info, x, y, w, h, coordType);
  if (d == None) return false;
  Tk_Window main = testMainWindow();
  bool ok = captureDrawableRgb(Tk_Display(main), d, Tk_Colormap(main), 0, 0, w, h, out) != 0;
  Tk_FreePixmap(Tk_Display(main), d);
  return ok;
}

}  // namespace

TEST(CanvasBridge, BothKindsRenderTheSameRegionAtAnyScrollPosition) {
  if (!canvasReady()) GTEST_SKIP() << "no display";
  evalScript("catch {destroy .br}; toplevel .br; wm geometry .br +0+0; "
             "canvas .br.tk -width 100 -height 80 -bd 0 -highlightthickness 0 -bg white "
             "  -scrollregion {0 0 400 400} -xscrollincrement 1 -yscrollincrement 1; "
             "gcanvas .br.g -width 100 -height 80 -bd 0 -highlightthickness 0 -bg white "
             "  -scrollregion {0 0 400 400} -xscrollincrement 1 -yscrollincrement 1; "
             "pack .br.tk .br.g; "
             "foreach w {.br.tk .br.g} {"
             "  $w create rectangle 20 20 40 40 -fill red -outline {};"
             "  $w create rectangle 60 10 70 20 -fill blue -outline {} };"
             "update");
  Tcl_Interp *interp = testInterp();
  CanvasInfo bad;
  EXPECT_EQ(1, getCanvasInfo(interp, ".br", &bad));
  EXPECT_STREQ("Not a canvas widget", Tcl_GetStringResult(interp));
  for (const char *path : {".br.tk", ".br.g"}) {
    SCOPED_TRACE(path);
    CanvasInfo info;
    ASSERT_EQ(0, getCanvasInfo(interp, path, &info));
    EXPECT_EQ(path[4] == 't' ? 1 : 2, info.kind);
    EXPECT_EQ(100, info.width);
    int x1, y1, x2, y2;
    getCanvasBounds(&info, &x1, &y1, &x2, &y2);
    EXPECT_LE(x1, 20);
    EXPECT_GE(x2, 70);
    EXPECT_LE(y1, 10);
    EXPECT_GE(y2, 40);
    RgbImage first, second;
    ASSERT_TRUE(renderRegion(info, 10, 10, 50, 40, 1, first));
    evalScript((std::string(path) + " xview scroll 15 units; " + path +
                " yview scroll 7 units; update").c_str());
    ASSERT_TRUE(renderRegion(info, 10, 10, 50, 40, 1, second));
    EXPECT_EQ(first.pixels, second.pixels);
    EXPECT_EQ(0xff0000u, first.pixels[15 * first.width + 15] & 0xffffff);
    EXPECT_EQ(0xffffffu, first.pixels[35 * first.width + 45] & 0xffffff);
    // In window coordinates the scroll origin is added: (5, 3) is canvas (20, 10).
    RgbImage window;
    ASSERT_TRUE(renderRegion(info, -5, 3, 50, 40, 0, window));
    EXPECT_EQ(first.pixels, window.pixels);
  }
  evalScript("destroy .br");
}
