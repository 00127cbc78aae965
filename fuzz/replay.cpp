// Replays fuzz corpora without fuzzing: vesk_fuzz_replay TARGET PATH...
// feeds every file (folders are walked) through the named target.  A
// fault ends the process through the sanitizers; a clean run prints the
// count of inputs.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz.h"

namespace fs = std::filesystem;

FUZZ_TARGET(configmod);
FUZZ_TARGET(dbase);
FUZZ_TARGET(dib);
FUZZ_TARGET(dicom);
FUZZ_TARGET(dicompalette);
FUZZ_TARGET(dicomtags);
FUZZ_TARGET(elas);
FUZZ_TARGET(erdas);
FUZZ_TARGET(features);
FUZZ_TARGET(fftfile);
FUZZ_TARGET(fontdef);
FUZZ_TARGET(gconvkernel);
FUZZ_TARGET(gcpedit);
FUZZ_TARGET(gcpfile);
FUZZ_TARGET(georecpar);
FUZZ_TARGET(gif);
FUZZ_TARGET(glload);
FUZZ_TARGET(gpz);
FUZZ_TARGET(gpzimage);
FUZZ_TARGET(hersheyglyphs);
FUZZ_TARGET(imagedata);
FUZZ_TARGET(imagedef);
FUZZ_TARGET(jpeg);
FUZZ_TARGET(loadtime);
FUZZ_TARGET(objmodel);
FUZZ_TARGET(ppm);
FUZZ_TARGET(projinput);
FUZZ_TARGET(projobject);
FUZZ_TARGET(ptable);
FUZZ_TARGET(scangif);
FUZZ_TARGET(scriptlib);
FUZZ_TARGET(shapefile);
FUZZ_TARGET(sniffer);
FUZZ_TARGET(terra);
FUZZ_TARGET(terratile);
FUZZ_TARGET(tiff);
FUZZ_TARGET(tifftags);
FUZZ_TARGET(xbm);

namespace {

// Every target of fuzz/, by name (a target missing here fails its replay test).
const struct {
  const char *name;
  fuzz::TargetProc *proc;
} kTargets[] = {
    {"configmod", fuzzTarget_configmod},
    {"dbase", fuzzTarget_dbase},
    {"dib", fuzzTarget_dib},
    {"dicom", fuzzTarget_dicom},
    {"dicompalette", fuzzTarget_dicompalette},
    {"dicomtags", fuzzTarget_dicomtags},
    {"elas", fuzzTarget_elas},
    {"erdas", fuzzTarget_erdas},
    {"features", fuzzTarget_features},
    {"fftfile", fuzzTarget_fftfile},
    {"fontdef", fuzzTarget_fontdef},
    {"gconvkernel", fuzzTarget_gconvkernel},
    {"gcpedit", fuzzTarget_gcpedit},
    {"gcpfile", fuzzTarget_gcpfile},
    {"georecpar", fuzzTarget_georecpar},
    {"gif", fuzzTarget_gif},
    {"glload", fuzzTarget_glload},
    {"gpz", fuzzTarget_gpz},
    {"gpzimage", fuzzTarget_gpzimage},
    {"hersheyglyphs", fuzzTarget_hersheyglyphs},
    {"imagedata", fuzzTarget_imagedata},
    {"imagedef", fuzzTarget_imagedef},
    {"jpeg", fuzzTarget_jpeg},
    {"loadtime", fuzzTarget_loadtime},
    {"objmodel", fuzzTarget_objmodel},
    {"ppm", fuzzTarget_ppm},
    {"projinput", fuzzTarget_projinput},
    {"projobject", fuzzTarget_projobject},
    {"ptable", fuzzTarget_ptable},
    {"scangif", fuzzTarget_scangif},
    {"scriptlib", fuzzTarget_scriptlib},
    {"shapefile", fuzzTarget_shapefile},
    {"sniffer", fuzzTarget_sniffer},
    {"terra", fuzzTarget_terra},
    {"terratile", fuzzTarget_terratile},
    {"tiff", fuzzTarget_tiff},
    {"tifftags", fuzzTarget_tifftags},
    {"xbm", fuzzTarget_xbm},
};

fuzz::TargetProc *findTarget(const char *name) {
  for (const auto &target : kTargets)
    if (strcmp(target.name, name) == 0) return target.proc;
  return nullptr;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s target path...\n", argv[0]);
    return 2;
  }
  fuzz::TargetProc *target = findTarget(argv[1]);
  if (!target) {
    fprintf(stderr, "no fuzz target %s\n", argv[1]);
    return 2;
  }
  fuzz::init();
  std::vector<fs::path> inputs;
  for (int i = 2; i < argc; i++) {
    if (fs::is_directory(argv[i])) {
      for (const auto &entry : fs::recursive_directory_iterator(argv[i]))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else {
      inputs.push_back(argv[i]);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    fprintf(stderr, "no inputs for %s\n", argv[1]);
    return 2;
  }
  for (const fs::path &input : inputs) {
    std::ifstream in(input, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    fprintf(stderr, "replay %s\n", input.c_str());
    target(bytes.data(), bytes.size());
  }
  printf("%s: %zu inputs replayed\n", argv[1], inputs.size());
  return 0;
}
