// The raster driver's notifications: the displays of the virtual
// display's image redraw at R_stabilize, after the driver words that
// change the drawing, and at close; nothing reaches them while closed.
#include <gtest/gtest.h>

#include "core/families.h"
#include "tests/unit/harness.h"
#include "tests/unit/raster_images.h"
#include "vesk/grass.h"

namespace {

int redraws = 0;
void countRedraw(ClientData) { redraws++; }

}  // namespace

TEST(GrassDriver, DisplaysRedrawAtStabilizeAndClose) {
  Tcl_Interp *interp = testInterp();
  ASSERT_EQ(vesk::Grass_Init(interp), TCL_OK);
  rastertest::ImagePtr image = rastertest::memoryImage(vesk::P_BYTE, 4, 5);
  ASSERT_TRUE(image);
  vesk::registerRAMImage("grassUnitImage", image.get());
  RamImageClient client{};
  client.redrawProc = countRedraw;
  client.owner = &client;  // a display: notifications naming no owner reach it
  ASSERT_EQ(vesk::addClient(&client, image.get()), 1);
  Tcl_SetVar2(interp, "_comb", "gu,class", "vdisp", TCL_GLOBAL_ONLY);
  Tcl_SetVar2(interp, "_comb", "gu,rimage", "grassUnitImage", TCL_GLOBAL_ONLY);
  Tcl_SetVar2(interp, "virtural_display", nullptr, "gu", TCL_GLOBAL_ONLY);

  R_stabilize();
  EXPECT_EQ(redraws, 0) << "the driver is closed";
  ASSERT_EQ(Tcl_Eval(interp, "grass driver open_driver"), TCL_OK);
  EXPECT_EQ(R_screen_rite(), 4);
  R_cont_abs(4, 0);
  EXPECT_EQ(redraws, 0) << "drawing alone tells no display";
  R_stabilize();
  EXPECT_EQ(redraws, 1);
  ASSERT_EQ(Tcl_Eval(interp, "grass driver move_abs 1 1"), TCL_OK);
  ASSERT_EQ(Tcl_Eval(interp, "grass driver erase"), TCL_OK);
  EXPECT_EQ(redraws, 3);
  EXPECT_EQ(R_close_driver(), 1);
  EXPECT_EQ(redraws, 4);
  EXPECT_EQ(R_close_driver(), 0);
  EXPECT_STREQ(Tcl_GetVar2(interp, "_comb", "gu,cf-cur_x", TCL_GLOBAL_ONLY), "1");

  vesk::removeClient(&client, image.get());
  vesk::unregisterRAMImage(image.get());
  Tcl_UnsetVar2(interp, "_comb", nullptr, TCL_GLOBAL_ONLY);
  Tcl_UnsetVar2(interp, "virtural_display", nullptr, TCL_GLOBAL_ONLY);
  Tcl_DeleteCommand(interp, "grass");
  Tcl_DeleteCommand(interp, "_vask.parseInput");
}
