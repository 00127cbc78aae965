/*
 * combcmds.h --
 *     The command procedures of the compound-widget family, one unit a
 *     class, gathered for the family's registration table.
 */
#ifndef VESK_WIDGETS_COMBCMDS_H
#define VESK_WIDGETS_COMBCMDS_H

#include <tcl.h>

namespace vesk {

/* comb.* (combcmds.cpp); comb.set and comb.free are in comb.h. */
Tcl_CmdProc combAddItemCmd, combBindCmd, combClassCmd, combCfCmd, combCgetCmd, combConfigCmd,
    combDirCmd, combDisCmd, combDis0Cmd, combEnaCmd, combExecCmd, combEvalCmd, combFocusCmd,
    combGetCmd, combIdCmd, combLayoutCmd, combParseCmd, combProcCmd, combValidClassCmd,
    combValidIDCmd, combValidPathCmd, combValidSubNameCmd, combArgsCmd, combUpdateCmd;
/* The folder (folder.cpp). */
Tcl_CmdProc foldAddCmd, foldAddFoldItemCmd, foldAddItemCmd, foldCreateCmd, foldDrawCmd,
    foldGetCmd, foldPageCmd;
/* The group frame and the button group (groupframe.cpp). */
Tcl_CmdProc frmCreateCmd, frmAddCmd, gbtnCreateCmd, gbtnFrameCmd;
/* The number spinner and the labelled entry (spinner.cpp). */
Tcl_CmdProc numCreateCmd, numUpdateCmd, strCreateCmd, strAddCmd;
/* The colour palette (palette.cpp). */
Tcl_CmdProc palCreateCmd, palColorsCmd;
/* The pull-down list and the pop-up window (popup.cpp). */
Tcl_CmdProc pdlCreateCmd, pdlCreateListCmd, pdlOpenListCmd, popupAddCmd, popupCreateCmd,
    popupPostCmd, popupHideCmd;
/* The scrolled list (scrolledlist.cpp). */
Tcl_CmdProc slisCreateCmd;

}  // namespace vesk

#endif
