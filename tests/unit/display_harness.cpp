// Display-layer test helpers.  Xvfb servers of other depths are started
// with -displayfd (the server picks a free number) and stopped after the
// last test, when no event can reach their connections any more.
#include <gtest/gtest.h>

#include "tests/unit/display_harness.h"

#include <X11/Xutil.h>
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "display/colortab.h"
#include "tests/unit/harness.h"

extern char **environ;

namespace {

struct PrivateServer {
  pid_t pid = -1;
  Tk_Window window = nullptr;
};

class PrivateServers : public ::testing::Environment {
 public:
  std::map<int, PrivateServer> byDepth;
  void TearDown() override {
    for (auto &entry : byDepth) {
      if (entry.second.pid > 0) {
        kill(entry.second.pid, SIGTERM);
        waitpid(entry.second.pid, nullptr, 0);
      }
    }
    byDepth.clear();
  }
};

PrivateServers *servers =
    static_cast<PrivateServers *>(::testing::AddGlobalTestEnvironment(new PrivateServers));

pid_t startXvfb(int depth, int *displayNumber) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  std::string fdText = std::to_string(fds[1]);
  std::string screen = "640x480x" + std::to_string(depth);
  std::vector<const char *> argv = {"Xvfb", "-displayfd", fdText.c_str(), "-screen", "0",
                                    screen.c_str(), "-nolisten", "tcp", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char **>(argv.data()),
                        environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return -1;
  }
  std::string text;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') text += c;
  close(fds[0]);
  if (text.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  *displayNumber = std::stoi(text);
  return pid;
}

}  // namespace

Tk_Window testMainWindow() { return Tk_MainWindow(testInterp()); }

std::string evalScript(const char *script, int *code) {
  int rc = Tcl_Eval(testInterp(), script);
  if (code) *code = rc;
  return Tcl_GetStringResult(testInterp());
}

Tk_Window windowAtDepth(int depth) {
  auto found = servers->byDepth.find(depth);
  if (found != servers->byDepth.end()) return found->second.window;
  PrivateServer &server = servers->byDepth[depth];
  int number = 0;
  server.pid = startXvfb(depth, &number);
  if (server.pid < 0) return nullptr;
  std::string path = ".depth" + std::to_string(depth);
  std::string script = "toplevel " + path + " -screen :" + std::to_string(number) +
                       ".0 -width 200 -height 200; update";
  int code;
  evalScript(script.c_str(), &code);
  if (code != TCL_OK) return nullptr;
  server.window = Tk_NameToWindow(testInterp(), path.c_str(), testMainWindow());
  return server.window;
}

unsigned long readPixel(Display *display, Drawable drawable, int x, int y) {
  XImage *image = XGetImage(display, drawable, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return ~0UL;
  unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return pixel;
}

Pixmap makeFilledPixmap(Tk_Window tkwin, int width, int height, unsigned long pixel) {
  Display *display = Tk_Display(tkwin);
  Pixmap pixmap = Tk_GetPixmap(display, RootWindowOfScreen(Tk_Screen(tkwin)), width, height,
                               Tk_Depth(tkwin));
  GC gc = XCreateGC(display, pixmap, 0, nullptr);
  XSetForeground(display, gc, pixel);
  XFillRectangle(display, pixmap, gc, 0, 0, static_cast<unsigned>(width),
                 static_cast<unsigned>(height));
  XFreeGC(display, gc);
  return pixmap;
}

PaintedFrame::PaintedFrame(const std::string &parent, const char *name) {
  top = parent == "." ? std::string(".") + name : parent + "." + name;
  std::string script = "toplevel " + top + " -width 100 -height 80" +
                       (parent == "." ? std::string("") : " -screen [winfo screen " + parent + "]") +
                       "; frame " + top + ".f -width 60 -height 40 -bg white;"
                       " place " + top + ".f -x 20 -y 20; update; raise " + top + "; update";
  int code;
  evalScript(script.c_str(), &code);
  if (code != TCL_OK) return;
  frame = Tk_NameToWindow(testInterp(), (top + ".f").c_str(), testMainWindow());
  Display *display = Tk_Display(frame);
  const unsigned char table[9] = {255, 255, 255, 255, 0, 0, 0, 0, 255};
  unsigned long *pixels = vesk::allocNearestColors(display, Tk_Colormap(frame), table, 3);
  GC gc = XCreateGC(display, Tk_WindowId(frame), 0, nullptr);
  XSetForeground(display, gc, pixels[0]);
  XFillRectangle(display, Tk_WindowId(frame), gc, 0, 0, 60, 40);
  XSetForeground(display, gc, pixels[1]);
  XFillRectangle(display, Tk_WindowId(frame), gc, 10, 10, 20, 20);
  XSetForeground(display, gc, pixels[2]);
  XFillRectangle(display, Tk_WindowId(frame), gc, 40, 5, 10, 30);
  XFreeGC(display, gc);
  XSync(display, False);
  Tcl_Free(reinterpret_cast<char *>(pixels));
}

PaintedFrame::~PaintedFrame() { evalScript(("destroy " + top).c_str()); }

unsigned PaintedFrame::expected(int x, int y) const {
  if (x >= 10 && x < 30 && y >= 10 && y < 30) return 0xff0000;
  if (x >= 40 && x < 50 && y >= 5 && y < 35) return 0x0000ff;
  return 0xffffff;
}
