/* Native reference for gl_bench.tcl: the fan order of the solid elevation
 * surface and the row/column strips of the wire one for a 1024 x 1024 grid
 * in immediate mode (colour, normal, vertex a point) into a 1024 x 768 GLX
 * pixmap.  Prints the best of five frames: "solid <ms> wire <ms>". */
#include <GL/glx.h>
#include <GL/gl.h>
#include <X11/Xlib.h>
#include <math.h>
#include <stdio.h>
#include <time.h>
#define C 1024
#define R 1024
static float z[R][C];
static void pt(int r, int c) {
  float col[3] = {z[r][c], 0.5f, 1 - z[r][c]}, n[3] = {0, 0, 1};
  glColor3fv(col);
  glNormal3fv(n);
  glVertex4f(c - C / 2.f, R / 2.f - r, z[r][c] * 50, C);
}
static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}
int main(void) {
  for (int r = 0; r < R; r++)
    for (int c = 0; c < C; c++) z[r][c] = 0.5f + 0.5f * sinf(r * 0.02f) * cosf(c * 0.03f);
  Display *d = XOpenDisplay(NULL);
  if (!d) return 2;
  int attr[] = {GLX_DRAWABLE_TYPE, GLX_PIXMAP_BIT, GLX_X_RENDERABLE, True, GLX_RENDER_TYPE, GLX_RGBA_BIT,
                GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, 16, None};
  int n;
  GLXFBConfig *fb = glXChooseFBConfig(d, DefaultScreen(d), attr, &n);
  int i = 0;
  XVisualInfo *vi = NULL;
  for (; i < n; i++)
    if ((vi = glXGetVisualFromFBConfig(d, fb[i])) && vi->depth == DefaultDepth(d, DefaultScreen(d))) break;
  if (i == n) return 3;
  Pixmap pm = XCreatePixmap(d, RootWindow(d, 0), 1024, 768, vi->depth);
  GLXPixmap gp = glXCreatePixmap(d, fb[i], pm, NULL);
  GLXContext ctx = glXCreateNewContext(d, fb[i], GLX_RGBA_TYPE, NULL, True);
  glXMakeContextCurrent(d, gp, gp, ctx);
  glViewport(0, 0, 1024, 768);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_COLOR_MATERIAL);
  glEnable(GL_NORMALIZE);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-0.6, 0.6, -0.6, 0.6, -2, 2);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glRotatef(-50, 1, 0, 0);
  double solid = 1e30, wire = 1e30;
  for (int frame = 0; frame < 5; frame++) {
    double t0 = now();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int i = 1; i < R - 1; i += 2)
      for (int j = 1; j < C; j += 2) {
        glBegin(GL_TRIANGLE_FAN);
        pt(i, j); pt(i + 1, j); pt(i + 1, j - 1); pt(i, j - 1); pt(i - 1, j - 1); pt(i - 1, j);
        if (j + 1 < C) { pt(i - 1, j + 1); pt(i, j + 1); pt(i + 1, j + 1); pt(i + 1, j); }
        glEnd();
      }
    glFinish();
    double t1 = now();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int r = 0; r < R; r++) { glBegin(GL_LINE_STRIP); for (int c = 0; c < C; c++) pt(r, c); glEnd(); }
    for (int c = 0; c < C; c++) { glBegin(GL_LINE_STRIP); for (int r = 0; r < R; r++) pt(r, c); glEnd(); }
    glFinish();
    double t2 = now();
    if (frame > 0) {
      if (t1 - t0 < solid) solid = t1 - t0;
      if (t2 - t1 < wire) wire = t2 - t1;
    }
  }
  printf("solid %.1f wire %.1f\n", solid * 1e3, wire * 1e3);
  return 0;
}
