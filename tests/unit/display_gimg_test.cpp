// The gimg table: finding masters by their command's current name, per
// interpreter, and telling gimg images from other images; the display
// state that follows the image shown.  (Linked after the registry tests:
// those count the tags of the first images the process registers.)
#include <gtest/gtest.h>
#include <tk.h>

#include <stdio.h>

#include "display/gimg.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

Tcl_Interp *gimgInterp() {
  Tcl_Interp *interp = testInterp();
  if (!Tk_MainWindow(interp)) return nullptr;
  Gimg_Init(interp);
  return interp;
}

int eval(Tcl_Interp *interp, const char *script) {
  int code = Tcl_Eval(interp, script);
  if (code != TCL_OK) ADD_FAILURE() << script << ": " << Tcl_GetStringResult(interp);
  return code;
}

}  // namespace

TEST(GimgTable, FindFollowsRenameAndInterpreter) {
  Tcl_Interp *interp = gimgInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  ASSERT_EQ(eval(interp, "image create gimg ut1"), TCL_OK);
  GimgMaster *master = findGimg(interp, "ut1");
  ASSERT_NE(master, nullptr);
  EXPECT_EQ(master->name, "ut1");
  EXPECT_EQ(isGimgImage(interp, "ut1"), master);

  // Another interpreter of the same application does not see it.
  Tcl_Interp *child = Tcl_CreateSlave(interp, "utchild", 0);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(findGimg(child, "ut1"), nullptr);
  Tcl_DeleteInterp(child);

  // After a rename the new command name is found and the old one is not;
  // the image keeps its name, and its command is no longer that name.
  ASSERT_EQ(eval(interp, "rename ut1 ut1b"), TCL_OK);
  EXPECT_EQ(findGimg(interp, "ut1b"), master);
  EXPECT_EQ(findGimg(interp, "ut1"), nullptr);
  EXPECT_EQ(isGimgImage(interp, "ut1"), nullptr);
  ASSERT_EQ(eval(interp, "image delete ut1"), TCL_OK);
  EXPECT_EQ(findGimg(interp, "ut1b"), nullptr);
}

TEST(GimgTable, IsGimgImageRefusesOtherImagesAndCommands) {
  Tcl_Interp *interp = gimgInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  ASSERT_EQ(eval(interp, "image create photo utphoto"), TCL_OK);
  EXPECT_EQ(isGimgImage(interp, "utphoto"), nullptr);
  EXPECT_EQ(isGimgImage(interp, "nosuchimage"), nullptr);
  EXPECT_EQ(isGimgImage(interp, "[exit 3]"), nullptr);
  eval(interp, "image delete utphoto");
}

TEST(GimgTable, InstancesAreCountedAndFreed) {
  Tcl_Interp *interp = gimgInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  ASSERT_EQ(eval(interp, "image create gimg ut2; label .ut2a -image ut2; label .ut2b -image ut2"),
            TCL_OK);
  GimgMaster *master = findGimg(interp, "ut2");
  ASSERT_NE(master, nullptr);
  EXPECT_EQ(master->instanceCount, 2);
  eval(interp, "destroy .ut2a .ut2b");
  EXPECT_EQ(master->instanceCount, 0);
  EXPECT_EQ(master->instances, nullptr);
  eval(interp, "image delete ut2");
}

TEST(GimgConfig, ContrastWindow) {
  struct Case {
    double contrast, bright;
    int low, high;
  } cases[] = {
      {1.0, 0.5, 0, 255}, {-1.0, 0.5, 255, 0}, {0.5, 0.5, 64, 191},
      {0.0, 0.5, 127, 128}, {1.0, 0.75, 128, 255}, {2.0, 0.0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.contrast);
    GimgMaster master;
    master.contrast = c.contrast;
    master.bright = c.bright;
    setContrastWindow(&master);
    EXPECT_EQ(master.outLow, c.low);
    EXPECT_EQ(master.outHigh, c.high);
    EXPECT_LE(master.contrast, 1.0);
  }
}

TEST(GimgConfig, SpecialPaletteEntriesFollowTheImage) {
  Tcl_Interp *interp = gimgInterp();
  if (!interp) GTEST_SKIP() << "needs a display";
  ImageHeader h;
  initImageHeader(&h);
  snprintf(h.path, sizeof h.path, "@ut_special");
  h.imgid = IMG_MBSQ;
  h.pixelid = P_BYTE;
  h.rows = h.columns = 2;
  h.nbands = 1;
  h.bits = 8;
  h.transparent = -1;
  int err = 0;
  RAMIMG *image = openRAMImageNew(&h, nullptr, 1, &err);
  ASSERT_NE(image, nullptr) << err;
  ASSERT_EQ(eval(interp, "image create gimg ut3 -file @ut_special -background #102030 "
                         "-foreground #a0b0c0"),
            TCL_OK);
  GimgMaster *master = findGimg(interp, "ut3");
  ASSERT_NE(master, nullptr);
  EXPECT_EQ(master->transparentIndex, -1);

  // A transparent index is shown in the background colour...
  image->header.transparent = 3;
  updateClient(image, nullptr, 1);
  EXPECT_EQ(master->transparentIndex, 3);
  EXPECT_EQ(master->header.palette[3][0], 0x10);
  EXPECT_EQ(master->header.palette[3][1], 0x20);
  EXPECT_EQ(master->header.palette[3][2], 0x30);
  // ... or, for GIF images, in the colour TRANSPARENT_GIF_COLOR names.
  Tcl_SetVar(interp, "TRANSPARENT_GIF_COLOR", "#ff8000", TCL_GLOBAL_ONLY);
  image->header.imgid = IMG_GIF89A;
  updateClient(image, nullptr, 1);
  EXPECT_EQ(master->header.palette[3][0], 0xff);
  EXPECT_EQ(master->header.palette[3][1], 0x80);
  EXPECT_EQ(master->header.palette[3][2], 0x00);
  Tcl_UnsetVar(interp, "TRANSPARENT_GIF_COLOR", TCL_GLOBAL_ONLY);

  // A 1-bit XBM shows 0 in the foreground and 1 in the background colour.
  image->header.transparent = -1;
  image->header.imgid = IMG_XBMP;
  image->header.pixelid = P_1BIT;
  updateClient(image, nullptr, 1);
  EXPECT_EQ(master->header.palette[0][0], 0xa0);
  EXPECT_EQ(master->header.palette[0][2], 0xc0);
  EXPECT_EQ(master->header.palette[1][0], 0x10);
  EXPECT_EQ(master->header.palette[1][2], 0x30);

  image->header.imgid = IMG_MBSQ;
  image->header.pixelid = P_BYTE;
  eval(interp, "image delete ut3");
  // The gimg let its client go: dropping the registry's keep frees the image.
  EXPECT_EQ(image->clients, nullptr);
  image->keepCount = 0;
  closeRAMImage(image, nullptr);
  EXPECT_EQ(getRAMImageByTag("@ut_special"), nullptr);
}

TEST(GimgView, BorrowedFlagReadsBack) {
  ViewPixmap vp;
  EXPECT_EQ(isViewPixmapBorrowed(&vp), 0);
  setViewPixmapBorrowed(&vp, 1);
  EXPECT_EQ(isViewPixmapBorrowed(&vp), 1);
  setViewPixmapBorrowed(&vp, 0);
  EXPECT_EQ(isViewPixmapBorrowed(&vp), 0);
}
