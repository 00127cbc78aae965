// GL views on the screen: a label showing a "glw" image shows the GL
// picture flipped (GL rows go bottom up), and an adopted Tk canvas shows its
// items over the GL clear colour.  Pixels are read back with XGetImage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display_harness.h"
#include "gl/ogl.h"
#include "harness.h"

namespace {

bool glwReady() {
  static int state = -1;
  if (state < 0) state = testMainWindow() && vesk::Glw_Init(testInterp()) == TCL_OK;
  return state == 1;
}

unsigned pixelAt(const char *path, int x, int y) {
  Tk_Window w = Tk_NameToWindow(testInterp(), path, testMainWindow());
  return (unsigned)(readPixel(Tk_Display(w), Tk_WindowId(w), x, y) & 0xffffff);
}

TEST(GlwImage, LabelShowsTheGlPictureFlipped) {
  if (!glwReady()) GTEST_SKIP() << "needs a display";
  int code = 0;
  evalScript(
      "image create glw gli -width 64 -height 32; glw current gli;"
      "GLchar display {glClearColor 0 0 1 1; glClear GL_COLOR_BUFFER_BIT; glColor 1 0 0;"
      " glBegin GL_TRIANGLES; glVertex -1 -1; glVertex 1 -1; glVertex -1 1; glEnd};"
      "glw draw gli; update;"
      "toplevel .glt; label .glt.l -image gli -bd 0 -highlightthickness 0 -padx 0 -pady 0;"
      "pack .glt.l; raise .glt; update;"
      "glPixelStore GL_PACK_SKIP_ROWS 1; glReadPixels 0 0 64 32 GL_RGB GL_UNSIGNED_BYTE ::glpx",
      &code);
  ASSERT_EQ(code, TCL_OK);
  std::string bytes = evalScript("set ::glpx");
  std::vector<int> gl;
  Tcl_Obj *list = Tcl_NewStringObj(bytes.c_str(), -1);
  Tcl_IncrRefCount(list);
  int n = 0;
  Tcl_Obj **items;
  ASSERT_EQ(Tcl_ListObjGetElements(nullptr, list, &n, &items), TCL_OK);
  ASSERT_EQ(n, 64 * 32 * 3);
  for (int i = 0; i < n; i++) {
    int v;
    Tcl_GetIntFromObj(nullptr, items[i], &v);
    gl.push_back(v);
  }
  Tcl_DecrRefCount(list);
  int mismatches = 0;
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 64; x++) {
      const int *p = &gl[((31 - y) * 64 + x) * 3];
      unsigned want = (unsigned)(p[0] << 16 | p[1] << 8 | p[2]);
      if (pixelAt(".glt.l", x, y) != want) mismatches++;
    }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(pixelAt(".glt.l", 2, 29), 0xff0000u);
  EXPECT_EQ(pixelAt(".glt.l", 60, 2), 0x0000ffu);
  evalScript("destroy .glt; image delete gli");
}

TEST(GlwCanvas, ItemsAreDrawnOverTheGlPicture) {
  if (!glwReady()) GTEST_SKIP() << "needs a display";
  int code = 0;
  evalScript(
      "toplevel .glc; canvas .glc.c -width 64 -height 48 -bd 0 -highlightthickness 0;"
      ".glc.c create rectangle 10 10 30 30 -fill #00ff00 -outline {};"
      "pack .glc.c; raise .glc; update;"
      "glw .glc.c -width 64 -height 48; glw current .glc.c;"
      "GLchar display {glClearColor 1 0 0 1; glClear GL_COLOR_BUFFER_BIT};"
      "update; glw draw .glc.c; update",
      &code);
  ASSERT_EQ(code, TCL_OK) << evalScript("set ::errorInfo");
  EXPECT_EQ(evalScript("glw current"), "");
  EXPECT_EQ(pixelAt(".glc.c", 20, 20), 0x00ff00u);
  EXPECT_EQ(pixelAt(".glc.c", 50, 40), 0xff0000u);
  EXPECT_EQ(pixelAt(".glc.c", 5, 5), 0xff0000u);
  evalScript("glw delete .glc.c; destroy .glc");
  EXPECT_EQ(evalScript("glw exists .glc.c"), "0");
}

TEST(GlwView, DepthEightOffersNoRgbaConfiguration) {
  if (!glwReady()) GTEST_SKIP() << "needs a display";
  Tk_Window deep = windowAtDepth(8);
  if (!deep) GTEST_SKIP() << "no Xvfb at depth 8";
  std::string path = std::string(Tk_PathName(deep)) + ".gl8";
  testing::internal::CaptureStderr();
  int code = 0;
  evalScript(("glw " + path).c_str(), &code);
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, TCL_ERROR);
  EXPECT_NE(printed.find("Error in glXChooseFBConfig: "), std::string::npos) << printed;
  EXPECT_EQ(evalScript(("glw exists " + path).c_str()), "0");
  EXPECT_EQ(evalScript(("winfo exists " + path).c_str()), "0");
}

}  // namespace
