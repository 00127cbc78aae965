// Printing and metafiles against their peers in the same run:
//  - "printer canvas" of a 4000 x 3000 Tk canvas region (A4 pages at 300
//    dpi, several bands a page, PDF written to a file) against capturing
//    the same region through the canvas bridge (the pixels printing starts
//    from);
//  - one metafile band record against the PNG encoding of the same band.
//   cmake --build build --target devices_bench
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/devices_bench
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <tk.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "canvas/gcanvas.h"
#include "devices/devices.h"
#include "display/capture.h"

using namespace vesk;

void initBenchStubs(Tcl_Interp *interp);
void initBenchTkStubs(Tcl_Interp *interp);

namespace {

template <class F>
double bestOf(int runs, F f) {
  double best = 1e30;
  for (int i = 0; i < runs; i++) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
  }
  return best;
}

}  // namespace

int main(int argc, char **argv) {
  Tcl_FindExecutable(argv[0]);
  Tcl_Interp *interp = Tcl_CreateInterp();
  if (Tcl_Init(interp) != TCL_OK || Tk_Init(interp) != TCL_OK) {
    fprintf(stderr, "needs a display: %s\n", Tcl_GetStringResult(interp));
    return 2;
  }
  initBenchStubs(interp);
  initBenchTkStubs(interp);
  if (Printer_Init(interp) != TCL_OK) return 2;
  const char *script =
      "wm withdraw .; toplevel .b; canvas .b.c -width 400 -height 300 -bg white; pack .b.c;"
      "expr {srand(5)};"
      "for {set i 0} {$i < 3000} {incr i} {"
      "  set x [expr {rand() * 3900}]; set y [expr {rand() * 2900}];"
      "  .b.c create rectangle $x $y [expr {$x + 10 + rand() * 90}] [expr {$y + 10 + rand() * 90}]"
      "    -fill [format #%06x [expr {int(rand() * 0xffffff)}]] -outline black };"
      "for {set i 0} {$i < 300} {incr i} {"
      "  .b.c create line [expr {rand() * 4000}] [expr {rand() * 3000}]"
      "    [expr {rand() * 4000}] [expr {rand() * 3000}] -width 3 -fill blue };"
      "update; printer interactive 0";
  if (Tcl_Eval(interp, script) != TCL_OK) {
    fprintf(stderr, "%s\n", Tcl_GetStringResult(interp));
    return 1;
  }
  std::string pdf = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/vesk-bench-print.pdf";
  Tcl_SetVar2(interp, "env", "VESK_PRINT_FILE", pdf.c_str(), TCL_GLOBAL_ONLY);
  CanvasInfo info;
  if (getCanvasInfo(interp, ".b.c", &info) != 0) return 1;
  RgbImage whole;
  double capture = bestOf(3, [&] {
    if (!captureCanvasBand(interp, &info, 0, 0, 4000, 3000, 1, whole)) exit(1);
  });
  double print = bestOf(3, [&] {
    if (Tcl_Eval(interp, "printer canvas .b.c 1 0 0 3999 2999 1") != TCL_OK) {
      fprintf(stderr, "%s\n", Tcl_GetStringResult(interp));
      exit(1);
    }
  });
  printf("print 4000x3000 region: %.3f s, bridge capture: %.3f s, ratio %.2f (goal <= 3)\n", print,
         capture, print / capture);

  RgbImage band;
  band.width = 2048;
  band.height = 1536;
  band.pixels.assign(whole.pixels.begin(), whole.pixels.begin() + 0);
  band.pixels.resize(static_cast<size_t>(band.width) * band.height);
  for (int y = 0; y < band.height; y++)
    for (int x = 0; x < band.width; x++)
      band.pixels[static_cast<size_t>(y) * band.width + x] = whole.pixels[static_cast<size_t>(y) * 4000 + x];
  MetafileFrame frame;
  EmfWriter emf;
  double emfTime = bestOf(5, [&] {
    beginEmf(emf, band.width, band.height, frame);
    addEmfBand(emf, band, 0, 0);
    finishEmf(emf);
  });
  std::string png;
  double pngTime = bestOf(5, [&] { encodePng(band, png); });
  printf("EMF band 2048x1536: %.4f s (%zu bytes), PNG encoding: %.4f s (%zu bytes), ratio %.2f "
         "(goal <= 2)\n",
         emfTime, emf.bytes.size(), pngTime, png.size(), emfTime / pngTime);
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  printf("peak RSS %ld MiB\n", ru.ru_maxrss / 1024);
  unlink(pdf.c_str());
  Tcl_DeleteInterp(interp);
  return 0;
}
