/* Reference for the glw rendering test: a 64x32 GLX pixmap cleared blue with
 * a red triangle, read back with glReadPixels (bottom row first) as RGB.
 * Build: gcc -O2 -o triangle triangle.c -lGL -lX11
 * Run:   xvfb-run -a -s "-screen 0 1280x1024x24" ./triangle > triangle64x32.rgb */
#include <GL/glx.h>
#include <GL/gl.h>
#include <X11/Xlib.h>
#include <stdio.h>
int main(void) {
  Display *d = XOpenDisplay(NULL);
  if (!d) return 2;
  int attr[] = {GLX_X_RENDERABLE, True, GLX_DRAWABLE_TYPE, GLX_PIXMAP_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT,
                GLX_RED_SIZE, 1, GLX_GREEN_SIZE, 1, GLX_BLUE_SIZE, 1, GLX_DEPTH_SIZE, 1, None};
  int n = 0;
  GLXFBConfig *fb = glXChooseFBConfig(d, DefaultScreen(d), attr, &n);
  if (!fb || !n) return 3;
  XVisualInfo *vi = NULL;
  int i = 0;
  for (; i < n; i++)
    if ((vi = glXGetVisualFromFBConfig(d, fb[i])) && vi->depth == DefaultDepth(d, DefaultScreen(d))) break;
  if (i == n) return 4;
  Pixmap pm = XCreatePixmap(d, RootWindow(d, vi->screen), 64, 32, vi->depth);
  GLXPixmap gp = glXCreatePixmap(d, fb[i], pm, NULL);
  GLXContext ctx = glXCreateNewContext(d, fb[i], GLX_RGBA_TYPE, NULL, True);
  glXMakeContextCurrent(d, gp, gp, ctx);
  glViewport(0, 0, 64, 32);
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glColor3f(1, 0, 0);
  glBegin(GL_TRIANGLES);
  glVertex2f(-1, -1);
  glVertex2f(1, -1);
  glVertex2f(-1, 1);
  glEnd();
  glFinish();
  static unsigned char px[64 * 32 * 3];
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, 64, 32, GL_RGB, GL_UNSIGNED_BYTE, px);
  fwrite(px, 1, sizeof px, stdout);
  return 0;
}
