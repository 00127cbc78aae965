/*
 * ddw.h --
 *     Private interface of the "ddw" image widget: its record, the image
 *     conversion and colour table (ddwconvert.cpp) and video playback
 *     (ddwvideo.cpp).
 */
#ifndef VESK_WIDGETS_DDW_H
#define VESK_WIDGETS_DDW_H

#include <stdint.h>
#include <tk.h>

#include "platform/surface.h"
#include "vesk/ramimg.h"

namespace vesk {

/* paletteMode values. */
inline constexpr int kDdwPaletteNone = 0;
inline constexpr int kDdwPaletteGreys = 1;
inline constexpr int kDdwPaletteCube = 2;
inline constexpr int kDdwPaletteTable = 3;

/* One ddw widget.  Allocated zero-filled; freed when Tk no longer uses it. */
struct DdwWidget {
  Tcl_Interp *interp = nullptr;
  Tk_Window tkwin = nullptr;         /* NULL once the window is destroyed */
  Display *display = nullptr;        /* the window's display and colormap */
  Colormap colormap = 0;
  GC gc = nullptr;                   /* graphics exposures off; colours of the options */
  XColor *foreground = nullptr;
  XColor *background = nullptr;
  Tcl_Command command = nullptr;
  int redrawPending = 0;             /* an idle show is scheduled */
  int width = 128, height = 128;     /* -width, -height */
  int comb[4] = {1, 1, 0, 0};        /* -comb: band count, three band numbers from 1 */
  unsigned char palette[256][3] = {};  /* the widget colour table */
  int paletteCount = 0;              /* meaningful entries of palette; 0: none */
  unsigned char indexMap[256] = {};  /* pixel of each table entry on a palette display */
  double std = 2.5;                  /* -std */
  unsigned long *pixels = nullptr;   /* colours allocated for the table (Tcl_Alloc'd) */
  int pixelCount = 0;
  char *backgroundName = nullptr;    /* option texts (Tk's configuration owns them) */
  char *foregroundName = nullptr;
  char *imageName = nullptr;
  char *teststr = nullptr;
  char *videoName = nullptr;
  char *vvar = nullptr;
  char *vstop = nullptr;
  RAMIMG *image = nullptr;           /* the shown image, held through client */
  int stream = 0;                    /* video stream handle; 0 when none */
  int playing = 0;
  Tcl_TimerToken timer = nullptr;
  double endTime = 0;                /* seconds: where the current playback stops */
  DDContext *directDraw = nullptr;
  DDPrimary *primary = nullptr;
  DDSurface *back = nullptr;
  int clipper = 0;                   /* the window clips copies onto it */
  int ddPalette = 0;                 /* no palette object is made: always 0 */
  RamImageClient client{};
  double low[3] = {0, 0, 0};         /* -low0 .. -high2 */
  double high[3] = {255, 255, 255};
  int paletteMode = kDdwPaletteNone;
  unsigned char installed[256][3] = {};  /* entries last installed in mode 3 */
  int installedCount = 0;
  unsigned long redPixel = 0;        /* pixel of pure red for -teststr */
  int dshowActive = 0;               /* a dshow loop runs on this widget */
};

/* Conversion and colour table (ddwconvert.cpp). */
void ddwChannelBands(const DdwWidget *w, int bands[3], int *single);
void ddwConvertImage(DdwWidget *w, const SurfaceDesc *desc);
void ddwComputeColorTable(DdwWidget *w, int force);
void ddwInstallTable(DdwWidget *w, const unsigned char (*entries)[3], int n, int force,
                     int mapIndices);
void ddwFreePixels(DdwWidget *w);
unsigned long ddwRedPixel(const DdwWidget *w, const SurfaceFormat &format);
void ddwStoreGrey(const SurfaceFormat &format, unsigned char *pixel, int value);

/*
 * 16-bit surfaces: the shift that takes a byte to a channel mask (red and
 * green: the position above the mask's top bit, at least 8, less 8; blue:
 * at least 1, less 8), and the mask bits a byte gives.
 */
int ddwShift16(unsigned long mask, int blue);
uint32_t ddwBits16(unsigned long mask, int shift, int byte);
/* The colour of entry 32r + 4g + b of the 8 x 8 x 4 colour cube. */
void ddwCubeColor(int entry, unsigned char rgb[3]);

/* The byte a sample of a wider pixel type shows as, between low and high. */
inline unsigned char ddwScaleSample(double v, double low, double high, double scale) {
  if (v < low) return 0;
  if (v > high) return 255;
  if (!(v == v)) return 0;
  if (high == low) return v >= high ? 255 : 0;
  double r = v * scale - low * scale + 0.5;
  if (r < 0) return 0;
  if (r >= 255) return 255;
  return static_cast<unsigned char>(r);
}

/* Video playback (ddwvideo.cpp). */
int ddwConfigureVideo(DdwWidget *w, const char *oldName);
int ddwVideoCmd(DdwWidget *w, int argc, const char **argv);
int ddwDshowCmd(DdwWidget *w, int argc, const char **argv);
void ddwCloseVideo(DdwWidget *w, double seekTime);
void ddwReportClock(DdwWidget *w);

}  // namespace vesk

#endif
