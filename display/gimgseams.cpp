/*
 * gimgseams.cpp --
 *     Hooks of the gimg units not in the library yet: masks, animation
 *     and the image command.  Each one leaves this file when the unit that owns it
 *     arrives; until then they keep the master's state consistent and draw
 *     nothing.
 */
#include <string.h>

#include "core/core.h"
#include "display/gimg.h"

namespace vesk {

/* ---- the image command: configuration and the master's own words ---- */

namespace {

int seamUsage(Tcl_Interp *interp, const char *command, const char *rest) {
  Tcl_AppendResult(interp, "Usage: ", command, rest, nullptr);
  return TCL_ERROR;
}

/* The subcommand word matches a name: a prefix of at least min letters. */
bool seamMatches(const char *word, const char *name, size_t min) {
  size_t n = strlen(word);
  return n >= min && strncmp(word, name, n) == 0;
}

}  // namespace

/*
 * gimgInstanceCmd --
 *     The command of each gimg image.  This build answers cget,
 *     configure, class, close, names, update, and the view's magnify,
 *     rotate, copy and crop.
 */
int gimgInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  if (argc < 2) return seamUsage(interp, argv[0], " option ?arg arg ...?");
  const char *word = argv[1];
  if (word[0] == 'c' && seamMatches(word, "cget", 4)) {
    if (argc != 3) return seamUsage(interp, argv[0], " cget option");
    return Tk_ConfigureValue(interp, master->tkwin, gimgConfigSpecs,
                             reinterpret_cast<char *>(master), argv[2], 0);
  }
  if (word[0] == 'c' && seamMatches(word, "configure", 4)) {
    if (argc == 2)
      return Tk_ConfigureInfo(interp, master->tkwin, gimgConfigSpecs,
                              reinterpret_cast<char *>(master), nullptr, 0);
    if (argc == 3)
      return Tk_ConfigureInfo(interp, master->tkwin, gimgConfigSpecs,
                              reinterpret_cast<char *>(master), argv[2], 0);
    return gimgConfigure(master, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
  }
  if (strcmp(word, "class") == 0) {
    Tcl_SetResult(interp, const_cast<char *>("GIMG"), TCL_STATIC);
    return TCL_OK;
  }
  if (strcmp(word, "close") == 0) {
    Tk_DeleteImage(interp, master->name.c_str());
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  if (word[0] == 'n' && seamMatches(word, "names", 3)) {
    if (argc != 2) return seamUsage(interp, argv[0], " names");
    gimgNames(interp);
    return TCL_OK;
  }
  if (word[0] == 'm' && seamMatches(word, "magnify", 4)) return gimgMagnifyCmd(master, interp, argc, argv);
  if (word[0] == 'r' && seamMatches(word, "rotate", 2)) return gimgRotateCmd(master, interp, argc, argv);
  if (word[0] == 'c' && seamMatches(word, "copy", 4)) return gimgCopyCmd(master, interp, argc, argv);
  if (word[0] == 'c' && seamMatches(word, "crop", 4)) return gimgCopySubCmd(master, interp, argc, argv);
  if (word[0] == 'u' && seamMatches(word, "update", 2)) {
    gimgUpdate(master);
    return TCL_OK;
  }
  Tcl_AppendResult(interp, "bad option \"", word,
                   "\": must be animate bitmap2file bitmap2map canv2file canv2img canv2map "
                   "capture config, cget, close class copy, dump, enhance, filexy, getIndices, "
                   "getLookup, graph, hist, imgxy, img2map, lineh, linev, magnify, mapxy, mask, "
                   "names, max, mean, min, pixel, profile, resident, rotate, section, scrxy, "
                   "seek, setIndices, setLookup setPixel, setRange, stats, std, update",
                   nullptr);
  return TCL_ERROR;
}

/* ---- animation ---- */

/* stopAnimation -- 1 when an animation was running. */
int stopAnimation(GimgMaster *master) {
  if (master->animPeriod == -1) return 0;
  master->animPeriod = -1;
  if (master->animTimer) Tcl_DeleteTimerHandler(master->animTimer);
  master->animTimer = nullptr;
  return 1;
}

/* ---- masks ---- */

int parseClassList(unsigned char *, int, const char *) { return 0; }
void clearImageMask(GimgMaster *, int, int) {}
int combineMasks(GimgMaster *master) { return master->maskPresent; }
void buildValueMask(GimgMaster *, const unsigned char *) {}
void buildFileMask(GimgMaster *) {}

}  // namespace vesk
