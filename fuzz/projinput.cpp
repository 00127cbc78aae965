// The projection programs' input files: proj (forward, inverse, the -V
// report, binary input), cs2cs, geod (forward and inverse) and nad2nad
// reading the bytes as their input file.  The first byte picks the run.
#include <tcl.h>

#include "fuzz/fuzz.h"
#include "geometry/projprogram.h"

namespace {

struct Run {
  Tcl_CmdProc *program;
  int argc;
  const char *argv[12];
};

const Run kRuns[] = {
    {vesk::projProgramCmd, 4, {"proj", "+proj=utm", "+zone=32", "+ellps=WGS84"}},
    {vesk::projProgramCmd, 5, {"proj", "-I", "+proj=utm", "+zone=32", "+ellps=WGS84"}},
    {vesk::projProgramCmd, 5, {"proj", "-V", "+proj=merc", "+ellps=clrk66", "-f"}},
    {vesk::projProgramCmd, 5, {"proj", "-i", "-S", "+proj=merc", "+ellps=WGS84"}},
    {vesk::projProgramCmd, 6, {"proj", "-E", "-r", "-s", "-w3", "+proj=eqc"}},
    {vesk::cs2csProgramCmd, 8,
     {"cs2cs", "-f", "%.3f", "+proj=latlong", "+datum=WGS84", "+to", "+proj=utm", "+zone=32"}},
    {vesk::geodProgramCmd, 2, {"geod", "+ellps=WGS84"}},
    {vesk::geodProgramCmd, 4, {"geod", "-I", "+ellps=clrk66", "-f"}},
    {vesk::nad2nadProgramCmd, 5, {"nad2nad", "-i", "27,utm=10", "-o", "27,utm=11"}},
};

}  // namespace

FUZZ_TARGET(projinput) {
  if (size < 1) return 0;
  const Run &run = kRuns[data[0] % (sizeof kRuns / sizeof kRuns[0])];
  fuzz::MemFile file(data + 1, size - 1);
  const char *argv[14];
  int argc = 0;
  for (int i = 0; i < run.argc; i++) {
    argv[argc++] = run.argv[i];
    // -f takes the next word: the format of the numbers.
    if (argv[argc - 1][0] == '-' && argv[argc - 1][1] == 'f' && !argv[argc - 1][2] &&
        i + 1 == run.argc)
      argv[argc++] = "%.4f";
  }
  argv[argc++] = file.path();
  argv[argc] = nullptr;
  Tcl_Interp *interp = fuzz::interp();
  run.program(nullptr, interp, argc, argv);
  Tcl_ResetResult(interp);
  return 0;
}
