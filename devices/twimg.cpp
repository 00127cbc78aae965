/*
 * twimg.cpp --
 *     "twimg": image capture with the TWAIN states on SANE.  Loading the
 *     source manager is sane_init with the default source (VESK_SANE_DEVICE,
 *     else the first device); opening, enabling, disabling and closing the
 *     source are sane_open, sane_start, sane_cancel and sane_close.  An
 *     enabled source is read from timer callbacks, a chunk at a time and
 *     without blocking where the backend allows it, so the event loop runs
 *     meanwhile.  The frames become the RAM image "twain.img".
 */
#include <sane/sane.h>
#include <sane/saneopts.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "core/lazylib.h"
#include "devices/devices.h"
#include "raster/ramimg.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

constexpr int kSourceOpen = 1, kSourceEnabled = 2, kSourceDisabled = 4;
constexpr int kNativeMode = 1, kMemoryMode = 2;
constexpr const char *kImageName = "twain.img";
constexpr size_t kChunk = 1 << 16;

/* TWAIN capabilities answered from the SANE options. */
constexpr int kCapFeederEnabled = 0x1002;
constexpr int kCapFeederLoaded = 0x1007;
constexpr int kCapUIControllable = 0x100e;
constexpr int kCapDeviceOnline = 0x100f;

struct TwainSession {
  bool initialised = false;
  Tcl_Interp *interp = nullptr;
  int interactive = 1;
  int transferMode = kNativeMode;
  int debug = 0;
  std::string library = "twain_32.dll";
  bool managerOpen = false; /* sane_init done */
  RAMIMG *image = nullptr;
  /* the source identity: the SANE device */
  std::string device, vendor, model, type;
  SANE_Handle handle = nullptr;
  int flags = 0;
  int pending = 0;
  std::string afterCapture;
  bool haveScript = false;
  /* the transfer in progress */
  bool reading = false;
  bool nonBlocking = false;
  Tcl_TimerToken timer = nullptr;
  int selectFd = -1;       /* readable when the source has data (non-blocking) */
  bool fileWatched = false;
  SANE_Parameters params{};
  std::vector<unsigned char> frame[3]; /* gray/RGB in [0]; three-pass frames by colour */
  bool haveFrame[3] = {false, false, false};
  int frameFormat = SANE_FRAME_GRAY;
};

TwainSession &session() {
  static TwainSession *s = new TwainSession;
  return *s;
}

void logError(const char *what, SANE_Status status) {
  vesk_fprintf(stderr, "Error in %s - status: %d %s\n", what, static_cast<int>(status),
               sane_strstatus(status));
}

/* The source identity of a device name from the device list. */
void setSourceIdentity(TwainSession &s, const SANE_Device *d) {
  s.device = d->name ? d->name : "";
  s.vendor = d->vendor ? d->vendor : "";
  s.model = d->model ? d->model : "";
  s.type = d->type ? d->type : "";
}

/* The default source: VESK_SANE_DEVICE, else the first device. */
bool getDefaultSource(TwainSession &s) {
  const SANE_Device **list = nullptr;
  if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list) return false;
  const char *wanted =
      s.interp ? Tcl_GetVar2(s.interp, "env", "VESK_SANE_DEVICE", TCL_GLOBAL_ONLY) : nullptr;
  for (int i = 0; list[i]; i++) {
    if (!wanted || !*wanted || (list[i]->name && strcmp(list[i]->name, wanted) == 0)) {
      setSourceIdentity(s, list[i]);
      return true;
    }
  }
  if (wanted && *wanted) {
    /* A device the list does not show (e.g. a network one) is still tried. */
    s.device = wanted;
    s.vendor = s.model = s.type = "";
    return true;
  }
  return false;
}

/* Loads the source manager; nothing when loaded. */
bool loadManager(TwainSession &s, std::string *error = nullptr) {
  if (s.managerOpen) return true;
  SANE_Int version = 0;
  SANE_Status st = sane_init(&version, nullptr);
  if (st != SANE_STATUS_GOOD) {
    vesk_fprintf(stderr, "Fail to open DSM.\n");
    if (error) *error = "Error in initializing DSM.";
    return false;
  }
  if (!getDefaultSource(s)) {
    vesk_fprintf(stderr, "Fail to get default DS.\n");
    if (error) *error = "Error in get default DS.";
    sane_exit();
    return false;
  }
  s.managerOpen = true;
  return true;
}

/* The value of the source's "source" option, or "". */
std::string sourceOption(TwainSession &s) {
  if (!s.handle) return "";
  for (SANE_Int i = 1;; i++) {
    const SANE_Option_Descriptor *o = sane_get_option_descriptor(s.handle, i);
    if (!o) break;
    if (o->name && strcmp(o->name, SANE_NAME_SCAN_SOURCE) == 0 && o->type == SANE_TYPE_STRING &&
        SANE_OPTION_IS_ACTIVE(o->cap)) {
      std::vector<char> value(static_cast<size_t>(o->size) + 1, 0);
      if (sane_control_option(s.handle, i, SANE_ACTION_GET_VALUE, value.data(), nullptr) ==
          SANE_STATUS_GOOD)
        return value.data();
    }
  }
  return "";
}

bool feederSelected(TwainSession &s) {
  std::string v = sourceOption(s);
  return v.find("ADF") != std::string::npos || v.find("Feeder") != std::string::npos ||
         v.find("feeder") != std::string::npos;
}

/* Sets the transfer mode: native and memory are both ours to keep. */
void setTransferMode(TwainSession &s, int mode) {
  if (mode == kNativeMode || mode == kMemoryMode)
    s.transferMode = mode;
  else
    vesk_fprintf(stderr, "Fail to setup data mode.\n");
}

bool openSource(TwainSession &s, int mode) {
  if (!loadManager(s)) return false;
  if (s.flags & kSourceOpen) return true;
  SANE_Status st = sane_open(s.device.c_str(), &s.handle);
  if (st != SANE_STATUS_GOOD) {
    logError("sane_open", st);
    s.handle = nullptr;
    return false;
  }
  s.flags |= kSourceOpen;
  setTransferMode(s, mode);
  return true;
}

/* No timer and no file handler left for the transfer. */
void cancelWait(TwainSession &s) {
  if (s.timer) Tcl_DeleteTimerHandler(s.timer);
  s.timer = nullptr;
  if (s.fileWatched) Tcl_DeleteFileHandler(s.selectFd);
  s.fileWatched = false;
}

void stopReading(TwainSession &s) {
  cancelWait(s);
  s.reading = false;
  for (auto &f : s.frame) f.clear(), f.shrink_to_fit();
  for (bool &h : s.haveFrame) h = false;
}

/* Disabling: nothing when not enabled. */
void disableSource(TwainSession &s) {
  if (!(s.flags & kSourceEnabled)) return;
  stopReading(s);
  if (s.handle) sane_cancel(s.handle);
  s.flags &= ~kSourceEnabled;
  s.flags |= kSourceDisabled;
}

void closeSource(TwainSession &s) {
  if (!s.flags) return;
  disableSource(s);
  if (s.handle) sane_close(s.handle);
  s.handle = nullptr;
  s.flags = 0;
  s.pending = 0;
}

void releaseImage(TwainSession &s) {
  if (s.image) closeRAMImage(s.image, nullptr);
  s.image = nullptr;
}

void closeManager(TwainSession &s) {
  closeSource(s);
  if (s.managerOpen) sane_exit();
  s.managerOpen = false;
}

void readStep(ClientData);

/* Starts a frame: sane_start and its parameters. */
bool startFrame(TwainSession &s) {
  SANE_Status st = sane_start(s.handle);
  if (st != SANE_STATUS_GOOD) {
    if (st != SANE_STATUS_NO_DOCS) logError("sane_start", st);
    return false;
  }
  st = sane_get_parameters(s.handle, &s.params);
  if (st != SANE_STATUS_GOOD || s.params.bytes_per_line <= 0 || s.params.pixels_per_line <= 0) {
    logError("sane_get_parameters", st);
    sane_cancel(s.handle);
    return false;
  }
  s.nonBlocking = sane_set_io_mode(s.handle, SANE_TRUE) == SANE_STATUS_GOOD;
  /* Read only when the source's descriptor is readable: a source asked for
   * data it does not have yet may end the frame (SANE's test backend does). */
  SANE_Int fd = -1;
  s.selectFd = s.nonBlocking && sane_get_select_fd(s.handle, &fd) == SANE_STATUS_GOOD ? fd : -1;
  int slot = 0;
  if (s.params.format == SANE_FRAME_GREEN) slot = 1;
  if (s.params.format == SANE_FRAME_BLUE) slot = 2;
  s.frame[slot].clear();
  if (s.params.lines > 0)
    s.frame[slot].reserve(static_cast<size_t>(s.params.lines) *
                          static_cast<size_t>(s.params.bytes_per_line));
  s.frameFormat = s.params.format;
  return true;
}

/*
 * assembleImage --
 *     The frames as a packed DIB: 1-bit line art (1 is black, as in SANE),
 *     8-bit gray with a gray table, or 24-bit colour; 16-bit samples keep
 *     their high byte.
 */
RAMIMG *assembleImage(TwainSession &s) {
  const SANE_Parameters &p = s.params;
  const int width = p.pixels_per_line;
  const size_t bpl = static_cast<size_t>(p.bytes_per_line);
  const bool color = s.frameFormat == SANE_FRAME_RGB || s.haveFrame[1] || s.haveFrame[2];
  const int slot = s.frameFormat == SANE_FRAME_GREEN ? 1 : s.frameFormat == SANE_FRAME_BLUE ? 2 : 0;
  const size_t rows = bpl ? s.frame[slot].size() / bpl : 0;
  if (rows == 0 || width <= 0) return nullptr;
  const int bits = color ? 24 : (p.depth == 1 ? 1 : 8);
  const int colors = bits == 24 ? 0 : (bits == 1 ? 2 : 256);
  const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  std::vector<unsigned char> dib(40 + 4 * static_cast<size_t>(colors) + stride * rows, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) dib[at + i] = static_cast<unsigned char>((v >> (8 * i)) & 0xff);
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(width));
  put32(8, static_cast<uint32_t>(-static_cast<int32_t>(rows))); /* top-down */
  dib[12] = 1;
  dib[14] = static_cast<unsigned char>(bits);
  put32(32, static_cast<uint32_t>(colors));
  unsigned char *table = &dib[40];
  for (int i = 0; i < colors; i++) {
    unsigned char v = bits == 1 ? static_cast<unsigned char>(i ? 0 : 255) : static_cast<unsigned char>(i);
    table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = v;
  }
  unsigned char *out = table + 4 * colors;
  const int bytesPerSample = p.depth == 16 ? 2 : 1;
  /* the high byte of a 16-bit sample in host order */
  const int high = bytesPerSample == 2 && *reinterpret_cast<const uint16_t *>("\x01\x00") == 1 ? 1 : 0;
  for (size_t r = 0; r < rows; r++, out += stride) {
    if (bits == 1) {
      memcpy(out, &s.frame[0][r * bpl], std::min(bpl, stride));
    } else if (bits == 8) {
      const unsigned char *in = &s.frame[0][r * bpl];
      for (int x = 0; x < width; x++) out[x] = in[x * bytesPerSample + high];
    } else if (s.frameFormat == SANE_FRAME_RGB) {
      const unsigned char *in = &s.frame[0][r * bpl];
      for (int x = 0; x < width; x++)
        for (int c = 0; c < 3; c++) out[3 * x + 2 - c] = in[(3 * x + c) * bytesPerSample + high];
    } else {
      for (int c = 0; c < 3; c++) {
        if (s.frame[c].size() < (r + 1) * bpl) continue;
        const unsigned char *in = &s.frame[c][r * bpl];
        for (int x = 0; x < width; x++) out[3 * x + 2 - c] = in[x * bytesPerSample + high];
      }
    }
  }
  return makeRAMImageFromDIB(kImageName, dib.data(), dib.size());
}

/* The transfer is complete: keep the image, tell its clients, run the script. */
void finishTransfer(TwainSession &s) {
  RAMIMG *image = assembleImage(s);
  Tcl_Interp *interp = s.interp;
  if (image && Tcl_InterpDeleted(interp)) {
    releaseImage(s);
    s.image = image;
  } else if (image) {
    if (image == s.image) {
      closeRAMImage(image, nullptr);
    } else {
      releaseImage(s);
      s.image = image;
    }
    if (s.image->clients || s.haveScript)
      updateClient(s.image, nullptr, 1);
    else
      Tcl_EvalEx(interp, "after idle {view {-file twain.img}}", -1, TCL_EVAL_GLOBAL);
    if (s.haveScript) {
      if (Tcl_EvalEx(interp, s.afterCapture.c_str(), -1, TCL_EVAL_GLOBAL) != TCL_OK)
        Tcl_BackgroundError(interp);
    }
  } else if (s.debug) {
    vesk_fprintf(stderr, "TW Failure...\n");
  }
}

/*
 * readStep --
 *     Reads a chunk of the enabled source.  At the end of the last frame
 *     the image is made; a feeder is asked for its next document.
 */
void readChunks(TwainSession &s);
void sourceReadable(ClientData, int);

void readStep(ClientData) {
  TwainSession &s = session();
  try {
    readChunks(s);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in reading the source: out of memory.\n");
    stopReading(s);
    disableSource(s);
  }
}

/*
 * Whether to wait for the source's descriptor before the next read: only
 * with a descriptor and while bytes of the frame are still to come (a
 * source may close it once it has handed out the whole frame; the read
 * after that gives the end of the frame at once).
 */
bool frameIncomplete(const TwainSession &s, const std::vector<unsigned char> &f) {
  if (!s.nonBlocking || s.selectFd < 0) return false;
  if (s.params.lines <= 0) return true;
  return f.size() < static_cast<size_t>(s.params.lines) * static_cast<size_t>(s.params.bytes_per_line);
}

void sourceReadable(ClientData, int) {
  TwainSession &s = session();
  if (s.fileWatched) Tcl_DeleteFileHandler(s.selectFd);
  s.fileWatched = false;
  readStep(nullptr);
}

void readChunks(TwainSession &s) {
  s.timer = nullptr;
  if (!s.reading || !s.handle) return;
  Tcl_Interp *interp = s.interp;
  Tcl_Preserve(interp);
  bool again = true;
  for (int i = 0; i < 16 && again; i++) {
    const int slot =
        s.params.format == SANE_FRAME_GREEN ? 1 : s.params.format == SANE_FRAME_BLUE ? 2 : 0;
    std::vector<unsigned char> &f = s.frame[slot];
    size_t at = f.size();
    f.resize(at + kChunk);
    SANE_Int got = 0;
    SANE_Status st = sane_read(s.handle, &f[at], static_cast<SANE_Int>(kChunk), &got);
    f.resize(at + static_cast<size_t>(got > 0 ? got : 0));
    if (st == SANE_STATUS_GOOD) {
      if (got <= 0) break; /* nothing yet: come back later */
      if (frameIncomplete(s, f)) {
        again = false; /* the rest when the descriptor is readable again */
        break;
      }
      continue;
    }
    again = false;
    if (st != SANE_STATUS_EOF) {
      if (s.debug) vesk_fprintf(stderr, st == SANE_STATUS_CANCELLED ? "TW Cancel...\n" : "TW Abort...\n");
      stopReading(s);
      disableSource(s);
      s.pending = 0;
      Tcl_Release(interp);
      return;
    }
    s.haveFrame[slot] = true;
    if (!s.params.last_frame) {
      if (!startFrame(s)) {
        stopReading(s);
        disableSource(s);
        Tcl_Release(interp);
        return;
      }
      again = true;
      continue;
    }
    /* A whole image. */
    s.reading = false;
    finishTransfer(s);
    for (auto &fr : s.frame) fr.clear(), fr.shrink_to_fit();
    for (bool &h : s.haveFrame) h = false;
    s.pending = 0;
    if (s.handle && (s.flags & kSourceEnabled) && feederSelected(s) && startFrame(s)) {
      s.pending = 1;
      s.reading = true;
      again = true;
      continue;
    }
    if (s.flags & kSourceEnabled) {
      if (s.interactive == 0)
        closeSource(s);
      else
        disableSource(s);
    }
    Tcl_Release(interp);
    return;
  }
  if (s.reading) {
    const int slot =
        s.params.format == SANE_FRAME_GREEN ? 1 : s.params.format == SANE_FRAME_BLUE ? 2 : 0;
    if (frameIncomplete(s, s.frame[slot])) {
      Tcl_CreateFileHandler(s.selectFd, TCL_READABLE, sourceReadable, nullptr);
      s.fileWatched = true;
    } else {
      s.timer = Tcl_CreateTimerHandler(s.nonBlocking && !again ? 5 : 0, readStep, nullptr);
    }
  }
  Tcl_Release(interp);
}

/* The memory transfer delivers no image: it reports its status (and the
   buffer sizes when that is not success). */
void memoryTransfer(TwainSession &s) {
  SANE_Parameters p{};
  SANE_Status st = sane_get_parameters(s.handle, &p);
  if (st != SANE_STATUS_GOOD)
    vesk_fprintf(stderr, "max:%d min:%d pref:%d\n", p.bytes_per_line * (p.lines > 0 ? p.lines : 1),
                 p.bytes_per_line, static_cast<int>(kChunk));
  vesk_fprintf(stderr, "status:%d\n", static_cast<int>(st));
  s.pending = 0;
  if (s.interactive == 0)
    closeSource(s);
  else
    disableSource(s);
}

void memoryStep(ClientData) {
  TwainSession &s = session();
  s.timer = nullptr;
  if (s.flags & kSourceEnabled) memoryTransfer(s);
}

/*
 * enableSource --
 *     Opens the source in the mode, starts a scan and schedules its
 *     reading.
 */
bool enableSource(TwainSession &s, int mode) {
  Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
  if (!openSource(s, mode)) {
    vesk_fprintf(stderr, "Error in twEnableDS: fail to open DS.\n");
    return false;
  }
  if (s.flags & kSourceEnabled) return true;
  if (s.transferMode == kMemoryMode) {
    s.flags = (s.flags | kSourceEnabled) & ~kSourceDisabled;
    s.pending = 1;
    s.timer = Tcl_CreateTimerHandler(0, memoryStep, nullptr);
    return true;
  }
  if (!startFrame(s)) {
    closeSource(s);
    vesk_fprintf(stderr, "Error in twEnableDS: fail to enable DS.\n");
    return false;
  }
  s.flags = (s.flags | kSourceEnabled) & ~kSourceDisabled;
  s.pending = 1;
  s.reading = true;
  for (bool &h : s.haveFrame) h = false;
  if (s.nonBlocking && s.selectFd >= 0) {
    Tcl_CreateFileHandler(s.selectFd, TCL_READABLE, sourceReadable, nullptr);
    s.fileWatched = true;
  } else {
    s.timer = Tcl_CreateTimerHandler(0, readStep, nullptr);
  }
  return true;
}

int modeOf(int argc, const char **argv, int at) {
  return argc > at && strcmp(argv[at], "memory") == 0 ? kMemoryMode : kNativeMode;
}

int fail(Tcl_Interp *interp, const char *message) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(message, -1));
  return TCL_ERROR;
}

int setInt(Tcl_Interp *interp, int v) {
  Tcl_SetObjResult(interp, Tcl_NewIntObj(v));
  return TCL_OK;
}

/* ---- the subcommands ---- */

using TwimgProc = int (*)(TwainSession &s, Tcl_Interp *interp, int argc, const char **argv);

int twAcquire(TwainSession &s, Tcl_Interp *interp, int argc, const char **argv) {
  if ((s.flags & kSourceEnabled) || !enableSource(s, modeOf(argc, argv, 2)))
    return fail(interp, "Error in acquire.");
  return TCL_OK;
}

int twAppinfo(TwainSession &, Tcl_Interp *interp, int, const char **) {
  for (const char *e : {"VESK", "Vesk TWAIN", "VeskTW", "VeskTW V1.0 12/26/1999"})
    Tcl_AppendElement(interp, e);
  return TCL_OK;
}

/*
 * twCapability --
 *     The few capabilities a SANE source answers: a feeder enabled and
 *     loaded when its "source" option names a document feeder; the user
 *     interface controllable and the device online while it is open.
 */
int twCapability(TwainSession &s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return TCL_OK;
  int cap = atoi(argv[2]), value = 0;
  if (s.flags & kSourceOpen) {
    switch (cap) {
    case kCapFeederEnabled:
    case kCapFeederLoaded: value = feederSelected(s) ? 1 : 0; break;
    case kCapUIControllable:
    case kCapDeviceOnline: value = 1; break;
    default: break;
    }
  }
  return setInt(interp, value);
}

int twClose(TwainSession &s, Tcl_Interp *, int, const char **) {
  closeManager(s);
  releaseImage(s);
  return TCL_OK;
}

int twDebug(TwainSession &s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc >= 3) s.debug = atoi(argv[2]) != 0;
  return setInt(interp, s.debug);
}

int twDisable(TwainSession &s, Tcl_Interp *, int, const char **) {
  disableSource(s);
  return TCL_OK;
}

int twDoaftercapture(TwainSession &s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) return fail(interp, "syntax error");
  if (argc == 3) {
    s.haveScript = argv[2][0] != '\0';
    s.afterCapture = argv[2];
  }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(s.afterCapture.c_str(), -1));
  return TCL_OK;
}

int twDsinfo(TwainSession &s, Tcl_Interp *interp, int, const char **) {
  if (!(s.flags & kSourceOpen)) return fail(interp, "Error in dsinfo.");
  for (const std::string *e : {&s.vendor, &s.type, &s.model, &s.device})
    Tcl_AppendElement(interp, e->c_str());
  return TCL_OK;
}

int twDsopen(TwainSession &s, Tcl_Interp *interp, int argc, const char **argv) {
  if (!openSource(s, modeOf(argc, argv, 2))) return fail(interp, "Error in dsopen.");
  return TCL_OK;
}

int twDsclose(TwainSession &s, Tcl_Interp *, int, const char **) {
  closeSource(s);
  return TCL_OK;
}

int twEnable(TwainSession &s, Tcl_Interp *interp, int argc, const char **argv) {
  if (s.flags & kSourceEnabled) return fail(interp, "Twain data source already enabled");
  if (argc > 3 && !Tk_NameToWindow(interp, argv[3], Tk_MainWindow(interp))) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Can't retrieve Tk window from ", argv[3], nullptr);
    return TCL_ERROR;
  }
  if (!enableSource(s, modeOf(argc, argv, 2))) return fail(interp, "Error in enable.");
  return TCL_OK;
}

/* Reads the enabled source to its end now, in blocking mode. */
int twGet(TwainSession &s, Tcl_Interp *interp, int, const char **) {
  if (!(s.flags & kSourceEnabled)) {
    vesk_fprintf(stderr, "DS not enabled.\n");
    return fail(interp, "Error in get.");
  }
  cancelWait(s);
  if (s.transferMode == kMemoryMode) {
    memoryTransfer(s);
    return TCL_OK;
  }
  if (s.handle) sane_set_io_mode(s.handle, SANE_FALSE);
  s.nonBlocking = false;
  s.selectFd = -1;
  while (s.reading) readStep(nullptr);
  cancelWait(s);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* The next image's width, lines and bits per pixel. */
int twInfo(TwainSession &s, Tcl_Interp *interp, int, const char **) {
  SANE_Parameters p;
  if (!s.handle || sane_get_parameters(s.handle, &p) != SANE_STATUS_GOOD) {
    Tcl_ResetResult(interp);
    return TCL_ERROR;
  }
  const int channels = p.format == SANE_FRAME_GRAY ? 1 : 3;
  Tcl_SetObjResult(interp,
                   Tcl_ObjPrintf("%d %d %d", p.pixels_per_line, p.lines, p.depth * channels));
  return TCL_OK;
}

int twInteractive(TwainSession &s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc >= 3) s.interactive = atoi(argv[2]);
  return setInt(interp, s.interactive);
}

int twOpen(TwainSession &s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) {
    Tcl_SetObjResult(interp,
                     Tcl_ObjPrintf("Usage : %s %s [SourceManageDLLName]\n", argv[0], argv[1]));
    return TCL_ERROR;
  }
  if (argc == 3) s.library = argv[2];
  if (s.managerOpen) return TCL_OK;
  std::string error;
  if (!loadManager(s, &error)) return fail(interp, error.c_str());
  return TCL_OK;
}

int twPending(TwainSession &s, Tcl_Interp *interp, int, const char **) {
  return setInt(interp, (s.flags & kSourceOpen) ? s.pending : -1);
}

/* No dialog: the source is the default one again. */
int twSelect(TwainSession &s, Tcl_Interp *interp, int, const char **) {
  if (!loadManager(s)) return fail(interp, "Fail to open DSM.");
  if (s.flags & kSourceOpen) return fail(interp, "Error in DS select: DS already opened.");
  if (!getDefaultSource(s)) return fail(interp, "Error in get default DS.");
  return TCL_OK;
}

/* The source's settings only: enabled without a transfer. */
int twSetup(TwainSession &s, Tcl_Interp *interp, int, const char **) {
  if ((s.flags & kSourceEnabled) || !openSource(s, kNativeMode))
    return fail(interp, "Error in twEnableDSUIOnly.");
  s.flags = (s.flags | kSourceEnabled) & ~kSourceDisabled;
  return TCL_OK;
}

int twStatus(TwainSession &s, Tcl_Interp *interp, int, const char **) {
  const char *st = (s.flags & kSourceEnabled) ? "DSEnabled"
                   : (s.flags & kSourceOpen)  ? "DSOpened"
                   : s.managerOpen            ? "DSMOpened"
                                              : "DSMClosed";
  Tcl_SetObjResult(interp, Tcl_NewStringObj(st, -1));
  return TCL_OK;
}

struct TwimgSubcommand {
  const char *name;
  size_t shortest; /* the fewest characters of an abbreviation */
  TwimgProc proc;
};

const TwimgSubcommand twimgSubcommands[] = {
    {"acquire", 4, twAcquire},         {"appinfo", 4, twAppinfo},
    {"capability", 3, twCapability},   {"close", 3, twClose},
    {"debug", 4, twDebug},             {"disable", 4, twDisable},
    {"doaftercapture", 4, twDoaftercapture}, {"dsinfo", 4, twDsinfo},
    {"dsopen", 4, twDsopen},           {"dsclose", 4, twDsclose},
    {"enable", 4, twEnable},           {"get", 3, twGet},
    {"info", 3, twInfo},               {"interactive", 4, twInteractive},
    {"open", 3, twOpen},               {"pending", 3, twPending},
    {"select", 3, twSelect},           {"setup", 3, twSetup},
    {"status", 3, twStatus},
};
static_assert(sizeof twimgSubcommands / sizeof twimgSubcommands[0] == 19,
              "twimg has nineteen subcommands");

int twimgCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  TwainSession &s = session();
  if (argc < 2) {
    Tcl_AppendResult(interp, "Usage : ", argv[0],
                     " command {a command should be: acquire capability close debug disable "
                     "doaftercapture dsopen dsclose dsinfo enable get info interactive open "
                     "pending select status setup}",
                     nullptr);
    return TCL_OK;
  }
  if (requireLibrary(interp, kLazySane) != TCL_OK) return TCL_ERROR;
  const size_t len = strlen(argv[1]);
  for (const TwimgSubcommand &sub : twimgSubcommands) {
    if (len >= sub.shortest && strncmp(argv[1], sub.name, len) == 0) {
      try {
        return sub.proc(s, interp, argc, argv);
      } catch (const std::bad_alloc &) {
        stopReading(s);
        return fail(interp, "Out of memory.");
      }
    }
  }
  return fail(interp, "Unknown twimg commands.");
}

void twimgExit(ClientData) {
  TwainSession &s = session();
  closeManager(s);
  releaseImage(s);
  s.afterCapture.clear();
  s.haveScript = false;
  s.initialised = false;
}

}  // namespace

int Twimg_Init(Tcl_Interp *interp) {
  TwainSession &s = session();
  /* Scripts go to the first interpreter while it lives; it is kept
     preserved so that its deletion can be seen. */
  if (!s.interp || Tcl_InterpDeleted(s.interp)) {
    if (s.interp) Tcl_Release(s.interp);
    s.interp = interp;
    Tcl_Preserve(interp);
  }
  if (!s.initialised) {
    s.initialised = true;
    static bool exitHandler = false;
    if (!exitHandler) {
      Tcl_CreateExitHandler(twimgExit, nullptr);
      exitHandler = true;
    }
  }
  return Tcl_CreateCommand(interp, "twimg", twimgCmd, &s, nullptr) ? TCL_OK : TCL_ERROR;
}

}  // namespace vesk
