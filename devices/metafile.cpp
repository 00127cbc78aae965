/*
 * metafile.cpp --
 *     Canvas regions recorded as enhanced metafiles, and "gmetafile".
 *     Items draw through Xlib, so a recording is the raster of the region:
 *     a header, one stretch-DIB record a band (24-bit rows, bottom-up,
 *     padded to 4 bytes) and the end record.  The frame, in 0.01 mm, comes
 *     from the screen's size in millimetres and pixels.  The printer
 *     records its bands through the same capture.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "canvas/gcanvas.h"
#include "core/savefile.h"
#include "devices/devices.h"

namespace vesk {

namespace {

constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmrEof = 14;
constexpr uint32_t kEmrStretchDIBits = 81;
constexpr uint32_t kEmfSignature = 0x464D4520; /* " EMF" */
constexpr uint32_t kSrcCopy = 0x00CC0020;
constexpr size_t kHeaderSize = 88;
constexpr size_t kStretchSize = 80;
constexpr size_t kInfoHeaderSize = 40;
/* Rows captured at a time: bounds the pixmap and the band record. */
constexpr int kBandRows = 1024;

void put32(std::string &s, uint32_t v) {
  char b[4] = {static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
               static_cast<char>((v >> 16) & 0xff), static_cast<char>((v >> 24) & 0xff)};
  s.append(b, 4);
}
void put16(std::string &s, uint16_t v) {
  char b[2] = {static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff)};
  s.append(b, 2);
}
void set32(std::string &s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

}  // namespace

/* The frame of width x height pixels of the window's screen. */
MetafileFrame screenMetafileFrame(Tk_Window tkwin, int width, int height) {
  MetafileFrame f;
  Screen *screen = Tk_Screen(tkwin);
  f.deviceWidth = WidthOfScreen(screen);
  f.deviceHeight = HeightOfScreen(screen);
  f.deviceWidthMM = WidthMMOfScreen(screen);
  f.deviceHeightMM = HeightMMOfScreen(screen);
  if (f.deviceWidth > 0)
    f.widthMM100 = static_cast<int>(static_cast<int64_t>(width) * f.deviceWidthMM * 100 /
                                    f.deviceWidth);
  if (f.deviceHeight > 0)
    f.heightMM100 = static_cast<int>(static_cast<int64_t>(height) * f.deviceHeightMM * 100 /
                                     f.deviceHeight);
  return f;
}

void beginEmf(EmfWriter &emf, int width, int height, const MetafileFrame &frame) {
  emf.width = width;
  emf.height = height;
  emf.frame = frame;
  emf.bytes.clear();
  emf.records = 1;
  std::string &s = emf.bytes;
  put32(s, kEmrHeader);
  put32(s, kHeaderSize);
  /* bounds (inclusive pixels) and frame (0.01 mm) */
  put32(s, 0), put32(s, 0), put32(s, width - 1), put32(s, height - 1);
  put32(s, 0), put32(s, 0), put32(s, frame.widthMM100), put32(s, frame.heightMM100);
  put32(s, kEmfSignature);
  put32(s, 0x10000);
  put32(s, 0); /* total bytes, set by finishEmf */
  put32(s, 0); /* records, set by finishEmf */
  put16(s, 1); /* handles: the metafile itself */
  put16(s, 0);
  put32(s, 0), put32(s, 0), put32(s, 0); /* no description, no palette */
  put32(s, frame.deviceWidth), put32(s, frame.deviceHeight);
  put32(s, frame.deviceWidthMM), put32(s, frame.deviceHeightMM);
}

/*
 * addEmfBand --
 *     One stretch-DIB record copying the band's pixels to (x, y) at their
 *     own size.
 */
void addEmfBand(EmfWriter &emf, const RgbImage &band, int x, int y) {
  const int w = band.width, h = band.height;
  if (w <= 0 || h <= 0) return;
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~static_cast<size_t>(3);
  const size_t bits = stride * static_cast<size_t>(h);
  const size_t size = kStretchSize + kInfoHeaderSize + bits;
  std::string &s = emf.bytes;
  s.reserve(s.size() + size + 20);
  put32(s, kEmrStretchDIBits);
  put32(s, static_cast<uint32_t>(size));
  put32(s, x), put32(s, y), put32(s, x + w - 1), put32(s, y + h - 1);
  put32(s, x), put32(s, y); /* destination */
  put32(s, 0), put32(s, 0), put32(s, w), put32(s, h); /* source */
  put32(s, kStretchSize), put32(s, kInfoHeaderSize);
  put32(s, kStretchSize + kInfoHeaderSize), put32(s, static_cast<uint32_t>(bits));
  put32(s, 0); /* DIB_RGB_COLORS */
  put32(s, kSrcCopy);
  put32(s, w), put32(s, h);
  put32(s, kInfoHeaderSize);
  put32(s, w), put32(s, h);
  put16(s, 1), put16(s, 24);
  put32(s, 0), put32(s, static_cast<uint32_t>(bits));
  put32(s, 3780), put32(s, 3780), put32(s, 0), put32(s, 0);
  const size_t at = s.size();
  s.resize(at + bits);
  unsigned char *out = reinterpret_cast<unsigned char *>(&s[at]);
  for (int row = h - 1; row >= 0; row--) {
    const uint32_t *from = &band.pixels[static_cast<size_t>(row) * static_cast<size_t>(w)];
    unsigned char *to = out;
    for (int i = 0; i < w; i++) {
      const uint32_t p = from[i];
      to[0] = static_cast<unsigned char>(p & 0xff);
      to[1] = static_cast<unsigned char>((p >> 8) & 0xff);
      to[2] = static_cast<unsigned char>((p >> 16) & 0xff);
      to += 3;
    }
    memset(to, 0, stride - static_cast<size_t>(w) * 3);
    out += stride;
  }
  emf.records++;
}

void finishEmf(EmfWriter &emf) {
  std::string &s = emf.bytes;
  put32(s, kEmrEof);
  put32(s, 20);
  put32(s, 0);  /* no palette entries */
  put32(s, 16); /* their offset */
  put32(s, 20); /* this record's size, read from the end */
  emf.records++;
  set32(s, 48, static_cast<uint32_t>(s.size()));
  set32(s, 52, static_cast<uint32_t>(emf.records));
}

/*
 * captureCanvasBand --
 *     The pixels of a canvas region as its items draw it off-screen.
 * Results:      1, or 0 with the message in the interpreter result.
 */
int captureCanvasBand(Tcl_Interp *interp, const CanvasInfo *info, int x, int y, int width,
                      int height, int coordType, RgbImage &out) {
  Drawable d = renderCanvasToPixmap(interp, None, 0, 0, info, x, y, width, height, coordType);
  if (d == None) return 0;
  Tk_Window main = Tk_MainWindow(interp);
  int ok = captureDrawableRgb(Tk_Display(main), d, Tk_Colormap(main), 0, 0, width, height, out);
  Tk_FreePixmap(Tk_Display(main), d);
  if (!ok) Tcl_SetObjResult(interp, Tcl_NewStringObj("Error in capturing the canvas.", -1));
  return ok;
}

/*
 * recordCanvasMetafile --
 *     Records the region x0..x1, y0..y1 (inclusive) of a canvas into emf,
 *     band by band; picture, when given, receives the whole region.
 * Results:      1, or 0 with the message in the interpreter result.
 */
int recordCanvasMetafile(Tcl_Interp *interp, const char *pathName, int x0, int y0, int x1,
                         int y1, int coordType, EmfWriter &emf, RgbImage *picture) {
  CanvasInfo info;
  if (getCanvasInfo(interp, pathName, &info) != 0) return 0;
  const int64_t w = static_cast<int64_t>(x1) - x0 + 1, h = static_cast<int64_t>(y1) - y0 + 1;
  if (w <= 0 || h <= 0 || w > 32000 || h > 1000000 || w * h > (int64_t(1) << 28)) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Invalid region: %d %d %d %d", x0, y0, x1, y1));
    return 0;
  }
  Tk_Window tkwin = Tk_NameToWindow(interp, pathName, Tk_MainWindow(interp));
  if (!tkwin) return 0;
  beginEmf(emf, static_cast<int>(w), static_cast<int>(h),
           screenMetafileFrame(tkwin, static_cast<int>(w), static_cast<int>(h)));
  if (picture) {
    picture->width = static_cast<int>(w);
    picture->height = static_cast<int>(h);
    picture->pixels.assign(static_cast<size_t>(w * h), 0);
  }
  RgbImage band;
  for (int by = 0; by < h; by += kBandRows) {
    const int bh = static_cast<int>(std::min<int64_t>(kBandRows, h - by));
    if (!captureCanvasBand(interp, &info, x0, y0 + by, static_cast<int>(w), bh, coordType, band))
      return 0;
    addEmfBand(emf, band, 0, by);
    if (picture)
      std::copy(band.pixels.begin(), band.pixels.end(),
                picture->pixels.begin() + static_cast<size_t>(by) * static_cast<size_t>(w));
  }
  finishEmf(emf);
  return 1;
}

namespace {

/*
 * gmetafileCmd --
 *     "gmetafile canvasName metaFile ?x0 y0 x1 y1? ?coordType?": records a
 *     canvas region into a file, or onto the clipboard for "clipboard".
 */
int recordToDestination(Tcl_Interp *interp, int argc, const char **argv);

int gmetafileCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  try {
    return recordToDestination(interp, argc, argv);
  } catch (const std::bad_alloc &) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Out of memory.", -1));
    return TCL_ERROR;
  }
}

int recordToDestination(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 7 && argc != 8) {
    Tcl_AppendResult(interp, "Usage: ", argv[0],
                     " canvasName metaFile [x0 y0 x1 y1] [coordType]", nullptr);
    return TCL_ERROR;
  }
  int x0, y0, x1, y1, coordType = 0;
  if (argc == 3) {
    CanvasInfo info;
    if (getCanvasInfo(interp, argv[1], &info) != 0) return TCL_ERROR;
    getCanvasBounds(&info, &x0, &y0, &x1, &y1);
  } else {
    x0 = static_cast<int>(atol(argv[3]));
    y0 = static_cast<int>(atol(argv[4]));
    x1 = static_cast<int>(atol(argv[5]));
    y1 = static_cast<int>(atol(argv[6]));
    if (argc == 8) coordType = static_cast<int>(atol(argv[7]));
  }
  const bool toClipboard = strcmp(argv[2], "clipboard") == 0;
  EmfWriter emf;
  RgbImage picture;
  if (!recordCanvasMetafile(interp, argv[1], x0, y0, x1, y1, coordType, emf,
                            toClipboard ? &picture : nullptr))
    return TCL_ERROR;
  if (toClipboard) {
    Display *display = Tk_Display(Tk_MainWindow(interp));
    if (!putImageOnClipboard(display, picture, "image/x-emf", &emf.bytes)) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("Fail to put the metafile on the clipboard.", -1));
      return TCL_ERROR;
    }
  } else if (int error = saveFileBytes(argv[2], emf.bytes.data(), emf.bytes.size())) {
    /* The old file stays as it was. */
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Fail to create metafile %s: %s", argv[2],
                                           Tcl_ErrnoMsg(error)));
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

}  // namespace

int Gmetafile_Init(Tcl_Interp *interp) {
  return Tcl_CreateCommand(interp, "gmetafile", gmetafileCmd, nullptr, nullptr) ? TCL_OK
                                                                                : TCL_ERROR;
}

}  // namespace vesk
