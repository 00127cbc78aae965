/*
 * gimganim.cpp --
 *     Volumes of gimg images: "seek" shows another image of a multi-image
 *     file (GIF frames, TIFF pages, stacked volumes) and "animate" steps
 *     through them on a Tcl timer, or on idle callbacks when there is no
 *     wait, with a repeat count.
 */
#include <string.h>

#include <algorithm>

#include "core/text.h"
#include "display/gimg.h"
#include "vesk/stdio.h"
#include "vesk/vesk.h"

namespace vesk {
namespace {

void gimgAnimateTimer(ClientData clientData);

bool animationAlive(const GimgMaster *master) {
  return master->instanceCmd && master->master && master->image && master->animPeriod != -1;
}

/*
 * showNewVolume --
 *     Shows the image's current volume: a frame with a palette of its own
 *     changes the master's palette, any other is just drawn again.
 */
void showNewVolume(GimgMaster *master) {
  RAMIMG *image = master->image;
  if (!image) return;
  const ImageHeader &ih = image->header;
  ImageHeader &mh = master->header;
  const bool differs = ih.nindices != mh.nindices ||
                       (ih.nindices > 0 && memcmp(ih.palette, mh.palette, 3 * static_cast<size_t>(std::min(ih.nindices, 256))) != 0);
  if (differs) {
    master->transparentIndex = ih.transparent;
    memcpy(mh.palette, ih.palette, sizeof mh.palette);
    mh.nindices = ih.nindices;
    gimgPaletteChanged(master);
  } else {
    imageRedrawProc(master);
  }
  master->viewValid = 0;
}

/* Schedules the next frame after a wait (idle when there is none). */
void scheduleFrame(GimgMaster *master, int wait) {
  if (wait > 0) {
    master->animTimer = Tcl_CreateTimerHandler(wait, gimgAnimateTimer, master);
    if (!master->animTimer)
      vesk_fprintf(stderr, "Error in creating gimg animation timer handler.\n");
  } else {
    Tcl_DoWhenIdle(gimgAnimateTimer, master);
  }
}

/*
 * gimgAnimateTimer --
 *     One frame: shows the current volume, then seeks the next one and
 *     schedules itself, rewinding for each further pass.
 */
void gimgAnimateTimer(ClientData clientData) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  Tcl_Preserve(master);
  master->animTimer = nullptr;
  if (animationAlive(master)) {
    showNewVolume(master);
    tclUpdate(nullptr, TCL_IDLE_EVENTS | TCL_DONT_WAIT);
  }
  if (animationAlive(master)) {
    RAMIMG *image = master->image;
    const int wait = master->animPeriod > 0 ? master->animPeriod : roundToInt(image->frameDelay);
    const int result = seekRAMImageVolume(image, 0);
    bool running = true;
    if (result == -2) {
      if (master->animRepeat > 0) master->animRepeat--;
      if (image->volume == 1 || master->animRepeat == 0) {
        stopAnimation(master);
        running = false;
      } else if (seekRAMImageVolume(image, 1) < 1) {
        stopAnimation(master);
        running = false;
      }
    } else if (result < 1) {
      vesk_fprintf(stderr, "Error in getRAMImageVolume\n");
      stopAnimation(master);
      running = false;
    }
    if (running) scheduleFrame(master, wait);
  } else {
    stopAnimation(master);
  }
  Tcl_Release(master);
}

}  // namespace

/* stopAnimation -- 1 when an animation was running. */
int stopAnimation(GimgMaster *master) {
  if (master->animPeriod == -1) return 0;
  master->animPeriod = -1;
  if (master->animTimer) Tcl_DeleteTimerHandler(master->animTimer);
  else Tcl_CancelIdleCall(gimgAnimateTimer, master);
  master->animTimer = nullptr;
  return 1;
}

/*
 * gimgAnimateCmd --
 *     "animate ?milliSeconds|default? ?repeat?".
 */
int gimgAnimateCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc > 4) {
    Tcl_ResetResult(interp);
    appendFormat(interp, "Usage: %s animate [milliSeconds|default] [repeat]\n", argv[0]);
    return TCL_ERROR;
  }
  RAMIMG *image = master->image;
  if (!image) return gimgError(interp, "Image has not been defined.\n");
  const int previousRepeat = master->animRepeat;
  if (argc == 4 && Tcl_GetInt(interp, argv[3], &master->animRepeat) != TCL_OK) return TCL_ERROR;
  const int count = image->volumeCount > 0 ? image->volumeCount : image->header.volumes;
  if (previousRepeat == 0 && image->volume >= count) seekRAMImageVolume(image, 1);
  const bool running = master->animPeriod != -1;
  if (argc > 2 && strcmp(argv[2], "default") != 0) {
    int period;
    if (Tcl_GetInt(interp, argv[2], &period) != TCL_OK) return TCL_ERROR;
    if (period < 0) period = -1;
    if (argc == 3 && previousRepeat == 0) master->animRepeat = 1;
    if (running || period == -1) {
      if (period == -1) stopAnimation(master);
      else master->animPeriod = period;
      tclUpdate(interp, TCL_ALL_EVENTS | TCL_DONT_WAIT);
      return TCL_OK;
    }
    master->animPeriod = period;
  } else {
    if (argc < 4 && previousRepeat == 0) master->animRepeat = 1;
    if (running) {
      master->animPeriod = -2;
      return TCL_OK;
    }
    master->animPeriod = -2;
  }
  Tcl_DoWhenIdle(gimgAnimateTimer, master);
  return TCL_OK;
}

/*
 * gimgSeekCmd --
 *     "seek ?volumeID?": the current volume, or shows another one.
 */
int gimgSeekCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc > 3) {
    Tcl_ResetResult(interp);
    appendFormat(interp, "Usage: %s seek volumeID\n", argv[0]);
    return TCL_ERROR;
  }
  RAMIMG *image = master->image;
  if (!image) return gimgError(interp, "Image has not been defined.\n");
  const int before = image->volume > 0 ? image->volume : 1;
  Tcl_ResetResult(interp);
  if (argc == 2) {
    appendFormat(interp, "%d", before);
    return TCL_OK;
  }
  int n;
  if (Tcl_GetInt(interp, argv[2], &n) != TCL_OK) return TCL_ERROR;
  if (n != image->volume || image->volume == 0) {
    int result = seekRAMImageVolume(image, n);
    if (result == -2 && n == 0) result = seekRAMImageVolume(image, 1);
    if (result == -1) return TCL_ERROR;
    /* A volume past the last leaves the image where it was (some readers
       stop at the last one instead of refusing). */
    if (n > 0 && result != n && image->volume != before) seekRAMImageVolume(image, before);
    if (image->volume != before) {
      showNewVolume(master);
      tclUpdate(interp, TCL_ALL_EVENTS | TCL_DONT_WAIT);
    } else if (before == 1) {
      return TCL_OK;
    }
  } else if (image->volumeCount == 1) {
    return TCL_OK;
  }
  appendFormat(interp, "%d", image->volume);
  return TCL_OK;
}

}  // namespace vesk
