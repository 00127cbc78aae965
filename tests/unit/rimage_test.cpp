// The rimage module frame: a module called through the frame prints its
// usage or its errors on the console's streams and the command answers
// by the module's return value.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <tk.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "core/options.h"
#include "processing/rimage.h"
#include "raster/imghead.h"
#include "raster/pixels.h"
#include "tests/unit/harness.h"
#include "vesk/rimage.h"
#include "vesk/stdio.h"

using namespace vesk;

namespace {

// Collects what the library prints, per stream, while alive.
class RimageStreams {
 public:
  RimageStreams() : interp_(Tcl_CreateInterp()) {
    Tcl_Eval(interp_,
             "rename puts {}\n"
             "proc puts args {append ::[lindex $args end-1] [lindex $args end]}");
    previous_ = setStdioInterp(interp_);
  }
  ~RimageStreams() {
    setStdioInterp(previous_);
    Tcl_DeleteInterp(interp_);
  }
  std::string text(const char *stream) {
    const char *out = Tcl_GetVar(interp_, stream, TCL_GLOBAL_ONLY);
    return out ? out : "";
  }

 private:
  Tcl_Interp *interp_;
  Tcl_Interp *previous_;
};

// A module of the usual shape: one option, usage without arguments.
std::string lastProg;
int testModule(const char *prog, int argc, const char **argv) {
  lastProg = prog;
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN\n", prog);
    vesk_printf("where IN    input image\n");
    return 2;
  }
  ModuleOption options[] = {{"-in", nullptr}, {nullptr, nullptr}};
  int unmatched = matchOptions(options, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  RowMeter meter(prog);
  for (int row = 1; row <= 4; row++) meter.row(row, 4);
  meter.finish();
  return 1;
}

int callModule(std::initializer_list<const char *> words) {
  std::vector<const char *> argv(words);
  return callRimageModule(testInterp(), testModule, "tmod", static_cast<int>(argv.size()),
                          argv.data());
}

TEST(RimageModule, NoArgumentsPrintsUsageAndAnswersOk) {
  RimageStreams streams;
  Tcl_SetResult(testInterp(), const_cast<char *>("stale"), TCL_STATIC);
  EXPECT_EQ(callModule({"rimage", "tm"}), TCL_OK);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "");
  EXPECT_EQ(lastProg, "rimage tmod");
  EXPECT_EQ(streams.text("stdout"), "Usage: rimage tmod -in IN\nwhere IN    input image\n");
  EXPECT_EQ(streams.text("stderr"), "");
}

TEST(RimageModule, FailureIsAnExecErrorWithTheWordsAsTyped) {
  RimageStreams streams;
  EXPECT_EQ(callModule({"rimage", "tm", "-bogus", "1", "-in"}), TCL_ERROR);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "Exec error from rimage tm");
  EXPECT_EQ(streams.text("stderr"), "Error: 2 unknown param(s).\n");
  EXPECT_EQ(streams.text("stdout"), "");
}

TEST(RimageModule, ModulesAsCommandProceduresOfTheirOwn) {
  struct Case {
    Tcl_CmdProc *proc;
    const char *usage;
  } cases[] = {{rimageTransCmd, "Usage: rimage copy"},
               {rimageGfftransCmd, "Usage: rimage gfftrans"},
               {rimageGeorefCmd, "Usage: rimage georef"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.usage);
    RimageStreams streams;
    const char *usage[] = {"mine", "sub"};
    EXPECT_EQ(c.proc(nullptr, testInterp(), 2, usage), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "");
    EXPECT_EQ(streams.text("stdout").rfind(c.usage, 0), 0u) << streams.text("stdout");
    // A module that fails fails the command.
    const char *bad[] = {"mine", "sub", "-in", "@no_such_image"};
    EXPECT_EQ(c.proc(nullptr, testInterp(), 4, bad), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "Exec error from mine sub");
    const char *none[] = {"mine"};
    EXPECT_EQ(c.proc(nullptr, testInterp(), 1, none), TCL_ERROR);
  }
}

TEST(RimageModule, SuccessAnswersOkWithAnEmptyResult) {
  RimageStreams streams;
  EXPECT_EQ(callModule({"rimage", "tmod", "-in", "x"}), TCL_OK);
  EXPECT_STREQ(Tcl_GetStringResult(testInterp()), "");
}

}  // namespace

namespace {

// A second interpreter with Tk and its own "rimage", as a script would have.
Tcl_Interp *newRimageInterp() {
  Tcl_Interp *interp = Tcl_CreateInterp();
  if (Tcl_Init(interp) != TCL_OK || Tk_Init(interp) != TCL_OK) {
    Tcl_DeleteInterp(interp);
    return nullptr;
  }
  Tcl_Eval(interp, "wm withdraw .");
  Rimg_Init(interp);
  return interp;
}

std::string evalOk(Tcl_Interp *interp, const std::string &script) {
  EXPECT_EQ(Tcl_Eval(interp, script.c_str()), TCL_OK) << Tcl_GetStringResult(interp);
  return Tcl_GetStringResult(interp);
}

TEST(RimageFiles, BilFileWrittenFlushedAndReopenedElsewhere) {
  installImageFormats();
  Tcl_Interp *first = newRimageInterp();
  if (!first) GTEST_SKIP() << "no display";
  std::string path = testing::TempDir() + "rimage-bil-" + std::to_string(getpid()) + ".img";
  unlink(path.c_str());
  EXPECT_EQ(evalOk(first, "rimage create -file " + path +
                              " -imgid BIL -pixel BYTE -nbands 3 -rows 4 -columns 5"),
            "1");
  std::string tag = evalOk(first, "rimage open " + path);
  RAMIMG *image = getRAMImageByTag(tag.c_str());
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(image->header.nbands, 3);
  for (int row = 0; row < 4; row++)
    for (int band = 0; band < 3; band++) {
      unsigned char values[5];
      for (int c = 0; c < 5; c++) values[c] = static_cast<unsigned char>(row * 50 + band * 10 + c);
      ASSERT_EQ(putByteBILData(image, row, 0, 5, band, values), 5);
    }
  evalOk(first, "rimage flush " + tag);

  // The file holds the rows now, band by band within each row.
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  unsigned char stored[5];
  const int64_t at = image->dataOffset + (2 * 3 + 1) * image->header.block;
  ASSERT_EQ(pread(fd, stored, 5, at), 5);
  close(fd);
  EXPECT_EQ(stored[0], 2 * 50 + 10);
  EXPECT_EQ(stored[4], 2 * 50 + 10 + 4);

  // Dropped here, the image is read again from the file by the other interpreter.
  evalOk(first, "rimage close " + tag);
  EXPECT_EQ(evalOk(first, "rimage isopened " + tag), "0");
  Tcl_Interp *second = newRimageInterp();
  ASSERT_NE(second, nullptr);
  std::string again = evalOk(second, "rimage open " + path);
  RAMIMG *reread = getRAMImageByTag(again.c_str());
  ASSERT_NE(reread, nullptr);
  for (int row = 0; row < 4; row++)
    for (int band = 0; band < 3; band++) {
      unsigned char values[5];
      getByteBILData(reread, row, 0, 5, band, values);
      for (int c = 0; c < 5; c++) EXPECT_EQ(values[c], row * 50 + band * 10 + c) << row << band << c;
    }
  evalOk(second, "rimage close " + again);
  Tcl_DeleteInterp(second);
  Tcl_DeleteInterp(first);
  unlink(path.c_str());
}

}  // namespace

namespace {

TEST(RimageXImage, HeadsFromXImagesByDepth) {
  struct Case {
    int depth, width, height, bytesPerLine;
    int pixelid, bits, bands, indices;
    int64_t block;
  } cases[] = {
      {1, 10, 3, 2, P_1BIT, 1, 1, 2, 2},      {4, 5, 2, 3, P_4BITS, 4, 1, 16, 3},
      {8, 7, 4, 8, P_BYTE, 8, 1, 256, 8},     {16, 5, 2, 10, P_BYTE, 8, 3, 0, 16},
      {24, 5, 2, 20, P_BYTE, 8, 3, 0, 20},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.depth);
    XImage image{};
    image.depth = c.depth;
    image.width = c.width;
    image.height = c.height;
    image.bytes_per_line = c.bytesPerLine;
    ImageHeader head;
    initImageHeader(&head);
    ASSERT_EQ(initXImage_Bi(&head, &image), 1);
    EXPECT_EQ(head.pixelid, c.pixelid);
    EXPECT_EQ(head.bits, c.bits);
    EXPECT_EQ(head.nbands, c.bands);
    EXPECT_EQ(head.nindices, c.indices);
    EXPECT_EQ(head.block, c.block);  // depth 16: (5 x 3 + 3) / 4 x 4
    EXPECT_EQ(head.rows, c.height);
    EXPECT_EQ(head.columns, c.width);
    EXPECT_EQ(head.imgid, IMG_BIP);
    EXPECT_EQ(head.mapid, MAPID_GRID);
    EXPECT_EQ(head.transparent, -1);
    EXPECT_EQ(head.dx, 1.0);
  }
  RimageStreams streams;
  XImage deep{};
  deep.depth = 32;
  ImageHeader head;
  initImageHeader(&head);
  EXPECT_EQ(initXImage_Bi(&head, &deep), 0);
  EXPECT_EQ(streams.text("stderr"), "Error in initXImage_Bi: invalid depth.\n");
}

TEST(RimageXImage, PaletteFromTheFirstColormapCells) {
  Tk_Window main = Tk_MainWindow(testInterp());
  if (!main) GTEST_SKIP() << "no display";
  Visual *visual = Tk_Visual(main);
  if (visual->c_class != TrueColor || Tk_Depth(main) != 24) GTEST_SKIP() << "needs TrueColor 24";
  ImageHeader head;
  initImageHeader(&head);
  // On a 24-bit TrueColor map pixel i is blue i.
  EXPECT_EQ(headPaletteFromColormap(&head, Tk_Display(main), Tk_Colormap(main), 4), 4);
  EXPECT_EQ(head.nindices, 4);
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(head.palette[i][0], 0);
    EXPECT_EQ(head.palette[i][1], 0);
    EXPECT_EQ(head.palette[i][2], i);
  }
  EXPECT_EQ(headPaletteFromColormap(&head, Tk_Display(main), Tk_Colormap(main), 300), 256);
  EXPECT_EQ(head.palette[255][2], 255);
  EXPECT_EQ(headPaletteFromColormap(&head, Tk_Display(main), Tk_Colormap(main), -3), 0);
  EXPECT_EQ(head.nindices, 0);
}

}  // namespace
