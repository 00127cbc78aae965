/*
 * ddwvideo.cpp --
 *     Video playback in the ddw widget: the -video stream, the "video"
 *     subcommand with its forms, the playback step driven by idle and
 *     1 ms timer callbacks, the clock reported into -vvar, the -vstop
 *     script, and "dshow", which plays a file through to its end.
 */
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "core/lazylib.h"
#include "platform/video.h"
#include "vesk/vesk.h"
#include "widgets/ddw.h"

namespace vesk {

namespace {

const char *text(const char *s) { return s ? s : ""; }

void playStep(ClientData clientData);

void setTimeResult(Tcl_Interp *interp, double value) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%.3f", value);
  Tcl_SetResult(interp, buffer, TCL_VOLATILE);
}

void setIntResult(Tcl_Interp *interp, int value) { Tcl_SetObjResult(interp, Tcl_NewIntObj(value)); }

/* Runs -vstop; its result and errors are dropped, the caller's result kept. */
void runStopScript(DdwWidget *w) {
  const char *script = text(w->vstop);
  if (!*script) return;
  const std::string copy = script;
  Tcl_InterpState state = Tcl_SaveInterpState(w->interp, TCL_OK);
  Tcl_EvalEx(w->interp, copy.c_str(), -1, TCL_EVAL_GLOBAL);
  Tcl_RestoreInterpState(w->interp, state);
}

/* Stops play where it stands: the clock reported and -vstop run. */
void stopAndReport(DdwWidget *w) {
  w->playing = 0;
  ddwReportClock(w);
  runStopScript(w);
}

void deleteTimer(DdwWidget *w) {
  if (w->timer) Tcl_DeleteTimerHandler(w->timer);
  w->timer = nullptr;
}

/* Starts play from a time to endTime unless play is on already. */
void play(DdwWidget *w, double from, double end) {
  if (w->playing) return;
  w->playing = 1;
  streamSeek(w->stream, from);
  w->endTime = end;
  Tcl_DoWhenIdle(playStep, w);
}

/*
 * playStep --
 *     One step of playback: the next sample shown when due, the clock
 *     reported, idle callbacks serviced; play stops at endTime, at the end
 *     of the samples or when it was cleared meanwhile (each time running
 *     -vstop), and otherwise goes on from a 1 ms timer.
 */
void playStep(ClientData clientData) {
  DdwWidget *w = static_cast<DdwWidget *>(clientData);
  Tcl_Preserve(w);
  w->timer = nullptr;
  if (!w->stream) {
    Tcl_Release(w);
    return;
  }
  if (!w->playing) {
    /* Stopped before this step ran: nothing is buffered past a stop. */
    streamSeek(w->stream, -1.0);
    while (updateStreamSample(w->stream, w->primary) == 2) {
    }
    stopAndReport(w);
    Tcl_Release(w);
    return;
  }
  if (updateStreamSample(w->stream, w->primary) == 0) {
    /* The end of the samples: play stops here like at endTime. */
    stopAndReport(w);
    Tcl_Release(w);
    return;
  }
  ddwReportClock(w);
  Tcl_DoOneEvent(TCL_IDLE_EVENTS | TCL_DONT_WAIT);
  if (w->stream) {
    if (!w->playing || streamClock(w->stream) >= w->endTime) {
      streamSeek(w->stream, -1.0);
      while (updateStreamSample(w->stream, w->primary) == 2) {
      }
      w->playing = 0;
      runStopScript(w);
    } else if (!w->timer) {
      w->timer = Tcl_CreateTimerHandler(1, playStep, w);
    }
  }
  Tcl_Release(w);
}

}  // namespace

/* Sets -vvar to the stream clock with three decimals. */
void ddwReportClock(DdwWidget *w) {
  const char *name = text(w->vvar);
  if (!*name || !w->stream) return;
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%.3f", streamClock(w->stream));
  const std::string copy = name;
  Tcl_SetVar(w->interp, copy.c_str(), buffer, 0);
}

/*
 * ddwCloseVideo --
 *     Ends the widget's stream: the seek given (-1 stop, -2 destroy), the
 *     pending step cancelled, the stream freed.
 */
void ddwCloseVideo(DdwWidget *w, double seekTime) {
  Tcl_CancelIdleCall(playStep, w);
  deleteTimer(w);
  if (w->stream) {
    streamSeek(w->stream, seekTime);
    freeStreamSample(w->stream);
  }
  w->stream = 0;
  w->playing = 0;
}

/*
 * ddwConfigureVideo --
 *     Follows a changed -video: opens the new stream (restoring the old
 *     text when it cannot), closes the old one, installs the stream's
 *     palette and shows its first frame.
 */
int ddwConfigureVideo(DdwWidget *w, const char *oldName) {
  const std::string name = text(w->videoName);
  int stream = 0;
  if (!name.empty()) {
    const bool loaded = requireLibrary(w->interp, kLazyVideo) == TCL_OK;
    if (loaded) stream = createStreamSample(name.c_str(), w->tkwin, w->directDraw);
    if (!stream) {
      if (loaded) {
        Tcl_SetResult(w->interp, const_cast<char *>("Error in open video stream"), TCL_STATIC);
        Tcl_AddErrorInfo(w->interp, "Error in open video stream");
      }
      const std::string old = oldName ? oldName : "";
      if (w->videoName) Tcl_Free(w->videoName);
      w->videoName = nullptr;
      if (!old.empty()) {
        w->videoName = Tcl_Alloc(static_cast<unsigned>(old.size() + 1));
        memcpy(w->videoName, old.c_str(), old.size() + 1);
      }
      return TCL_ERROR;
    }
  }
  ddwCloseVideo(w, -1.0);
  w->stream = stream;
  if (stream) {
    unsigned char table[256][3];
    const int n = streamPalette(stream, table);
    if (n > 0) {
      memcpy(w->palette, table, static_cast<size_t>(n) * 3);
      w->paletteCount = n;
      ddwInstallTable(w, table, n, 1, 0);
    }
    streamPause(stream, w->primary, 0);
  }
  return TCL_OK;
}

/*
 * ddwVideoCmd --
 *     "video ?word? ?n?": play, continue, update, duration, frametime,
 *     pause, clock, imageinfo, width, height, state, or a time to show.
 */
int ddwVideoCmd(DdwWidget *w, int argc, const char **argv) {
  Tcl_Interp *interp = w->interp;
  Tcl_ResetResult(interp);
  if (!w->stream) return TCL_ERROR;
  const double clock = streamClock(w->stream);
  const double duration = streamDuration(w->stream);
  if (argc < 3) {
    play(w, 0, duration);
    return TCL_OK;
  }
  const std::string word = argv[2];
  if (word == "continue") {
    play(w, clock, duration);
  } else if (word == "update") {
    double span = 0.0001;
    if (argc > 3) span = atoi(argv[3]);
    span = std::max(span, 0.0001);
    play(w, clock, std::min(clock + span, duration));
  } else if (word == "duration") {
    setTimeResult(interp, duration);
  } else if (word == "frametime") {
    setTimeResult(interp, streamFrametime(w->stream));
  } else if (word == "pause") {
    if (w->playing) {
      streamSeek(w->stream, -1.0);
      deleteTimer(w);
      w->playing = 0;
    }
  } else if (word == "clock") {
    setTimeResult(interp, clock);
  } else if (word == "imageinfo") {
    int a, b, c, d;
    streamImageInfo(w->stream, &a, &b, &c, &d);
    char buffer[100];
    snprintf(buffer, sizeof buffer, "%d %d %d %d", a, b, c, d);
    Tcl_SetResult(interp, buffer, TCL_VOLATILE);
  } else if (word == "width" || word == "height") {
    int width, height;
    streamRect(w->stream, &width, &height);
    setIntResult(interp, word == "width" ? width : height);
  } else if (word == "state") {
    setIntResult(interp, w->playing);
  } else {
    double t;
    if (Tcl_GetDouble(interp, word.c_str(), &t) != TCL_OK) return TCL_ERROR;
    t = std::min(t, duration);
    if (w->playing && t < 0) {
      streamSeek(w->stream, t);
      deleteTimer(w);
      w->playing = 0;
    } else if (!w->playing && t >= 0) {
      streamPause(w->stream, w->primary, t);
    }
    Tcl_Preserve(w);
    ddwReportClock(w);
    runStopScript(w);
    Tcl_Release(w);
    Tcl_ResetResult(interp);
  }
  return TCL_OK;
}

/*
 * ddwDshowCmd --
 *     "dshow aviFile": plays a file on the widget's window to its end,
 *     servicing events after each step; the widget's own stream is not
 *     touched.  Play stops when the window goes away meanwhile.
 */
int ddwDshowCmd(DdwWidget *w, int argc, const char **argv) {
  Tcl_Interp *interp = w->interp;
  if (argc != 3) {
    Tcl_SetResult(interp, const_cast<char *>("Usage: ddw dshow aviFile\n"), TCL_STATIC);
    return TCL_ERROR;
  }
  if (!w->tkwin || !w->directDraw) return TCL_ERROR;
  if (requireLibrary(interp, kLazyVideo) != TCL_OK) return TCL_ERROR;
  const int stream = createStreamSample(argv[2], w->tkwin, w->directDraw);
  if (!stream) {
    Tcl_ResetResult(interp);
    return TCL_ERROR;
  }
  Tcl_Preserve(w);
  w->dshowActive++;
  while (w->tkwin && updateStreamSample(stream, w->primary) != 0) {
    tclUpdate(interp, TCL_ALL_EVENTS);
    const double wait = streamWaitTime(stream);
    if (w->tkwin && wait > 0.002) Tcl_Sleep(static_cast<int>(std::min(wait * 1000 - 1, 10.0)));
  }
  w->dshowActive--;
  freeStreamSample(stream);
  Tcl_Release(w);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

}  // namespace vesk
