// Shared pieces of the display-layer unit tests: pixel read-back from
// drawables and X servers of other depths started for the tests.
#ifndef VESK_TESTS_UNIT_DISPLAY_HARNESS_H
#define VESK_TESTS_UNIT_DISPLAY_HARNESS_H

#include <tk.h>

#include <string>

// The test interpreter's main window, or NULL without a display.
Tk_Window testMainWindow();

// A Tk window on a private Xvfb of the given depth (8, 16 or 24), made once
// per depth and kept until the test program ends; NULL when Xvfb cannot run.
Tk_Window windowAtDepth(int depth);

// Evaluates a script in the test interpreter; the result or error text.
std::string evalScript(const char *script, int *code = nullptr);

// Reads one pixel of a drawable.
unsigned long readPixel(Display *display, Drawable drawable, int x, int y);

// A pixmap of the window's depth filled with one pixel value.
Pixmap makeFilledPixmap(Tk_Window tkwin, int width, int height, unsigned long pixel);

// A frame of 60 x 40 at (20, 20) inside a raised toplevel of 100 x 80 (on
// the screen of parent), painted white with a red square at (10, 10) size
// 20 and a blue bar at (40, 5) size 10 x 30.  The toplevel is destroyed
// with the record; frame is NULL when it could not be made.
struct PaintedFrame {
  Tk_Window frame = nullptr;
  std::string top;
  PaintedFrame(const std::string &parent, const char *name);
  ~PaintedFrame();
  PaintedFrame(const PaintedFrame &) = delete;
  PaintedFrame &operator=(const PaintedFrame &) = delete;
  // The colour (0xrrggbb) painted at a point of the frame.
  unsigned expected(int x, int y) const;
};

#endif
