/*
 * gimg.h --
 *     Private interface of the "gimg" image type: the master record of an
 *     image, the instance record of each widget that shows it, the table
 *     of all masters, and the procedures the units of the type share
 *     (creation and deletion, configuration, image watching, and the
 *     rendering, view, mask and animation hooks they call).
 */
#ifndef VESK_DISPLAY_GIMG_H
#define VESK_DISPLAY_GIMG_H

#include <tk.h>
#include <X11/Xutil.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "raster/mask.h"
#include "raster/ramimg.h"

struct BandHist;

namespace vesk {

/* Slots of the table of masters. */
inline constexpr int kGimgTableSize = 5120;

/* One axis of the view: the image position shown at each view position. */
struct AxisMap {
  int *index = nullptr;  /* count entries (Tcl_Alloc); -1 where none */
  int count = 0;         /* view positions */
  int origin = 0;        /* image position of the first view position */
  int flip = 0;          /* 1: the axis is mirrored */
  double scale = 0;      /* view pixels per image pixel */
};

/* One rendered layer of a view: the view itself or a 1-bit mask of it. */
struct ViewPixmap {
  Display *display = nullptr;
  Drawable drawable = 0;  /* the window the pixmap is made for */
  Pixmap pixmap = 0;      /* 0 when none */
  int depth = 0;
  int width = 0, height = 0;
  int destX = 0, destY = 0;      /* where the view lies inside the pixmap */
  int originX = 0, originY = 0;  /* view position of the top-left corner */
  int valid = 0;                 /* 1 after an allocation or fill */
  int borrowed = 0;              /* 1: not owned by the record */
};

struct GimgMaster;

/* One widget's use of an image. */
struct GimgInstance {
  GimgMaster *master = nullptr;
  Tk_Window tkwin = nullptr;
  GimgInstance *next = nullptr;
};

/*
 * The master record of one gimg image.  Option values live in the fields
 * the option table names; the ImageHeader group writes straight into the
 * header copy.  Allocated zeroed by gimgCreate, freed by gimgDestroy.
 */
struct GimgMaster {
  Tk_ImageMaster master = nullptr;  /* null once gimgDelete ran */
  Tcl_Interp *interp = nullptr;
  Tcl_Command instanceCmd = nullptr;  /* null once the command is deleted */
  Tk_Window tkwin = nullptr;          /* the application's main window */
  std::string name;                   /* image (and first command) name */
  std::string mirrorName;             /* gimg whose image this one shows; empty: none */
  RAMIMG *image = nullptr;
  RAMIMG *maskImage = nullptr;        /* -maskfile image */
  RAMIMG *maskExport = nullptr;       /* the combined mask, "<name>.mask" */
  Display *display = nullptr;
  Colormap colormap = 0;
  int depth = 0;
  int test = 0;
  RamImageClient imageClient{};
  RamImageClient exportClient{};
  RamImageClient maskClient{};
  GimgInstance *instances = nullptr;
  GC gc = nullptr;
  XColor *fgColor = nullptr;
  XColor *bgColor = nullptr;
  ImageHeader header{};
  ViewPixmap maskPixmap;
  ViewPixmap viewPixmap;
  ViewPixmap framePixmap;
  AxisMap xMap, yMap;
  GC drawGC = nullptr;
  int channelCount = 0;
  int channelBand[3] = {-1, -1, -1};
  int layer = 0;
  int outLow = 0, outHigh = 255;
  int paletteFlags = 0;
  double inLow[3] = {0, 0, 0};
  double inHigh[3] = {255, 255, 255};
  double filterStrength = 0;
  int pixelCount = 0;
  unsigned char packedLut[3][256] = {};
  unsigned char channelLut[3][256] = {};
  unsigned char ditherError[3][256] = {};
  unsigned char levelIndex[3][256] = {};
  unsigned char cubeTable[3][256] = {};
  unsigned char userLut[3][256] = {};
  unsigned long *pixels = nullptr;  /* pixelCount palette pixels (Tcl_Alloc) */
  Visual *visual = nullptr;
  XImage *ximage = nullptr;         /* the transfer image */
  Region viewRegion = nullptr;      /* the view pixmap rectangle, cut to 32700 */
  Region clipRegion = nullptr;      /* clip polygons in view coordinates */
  int ditherOn = 0;
  int instanceCount = 0;
  int viewValid = 0;
  int filterOverride = 0;
  int funcInForce = 0;
  int transparentIndex = -1;
  Tcl_TimerToken animTimer = nullptr;
  int animPeriod = -1;
  int animRepeat = 1;
  int clipParity = 1;
  int frameParity = 1;
  int frameDynamic = 1;
  MaskBitmap maskBits{};
  MaskBitmap frameBits{};
  MaskBitmap clipBits{};
  MaskBitmap fileMaskBits{};
  MaskBitmap valueMaskBits{};
  unsigned char shownValues[256] = {};
  unsigned char maskClasses[256] = {};
  int maskBandInForce = 0;
  int maskState = 1;
  int maskOn = 1;                   /* -maskon */
  int maskOpaque = 0;               /* -maskopaque */
  int maskPresent = 0;
  Pixmap stippleBitmap = 0;
  GC bitmapGC = nullptr;
  PointList *clipPolygons = nullptr;
  PointList *framePolygons = nullptr;

  /* Option values. */
  Tk_Uid foreground = nullptr, background = nullptr, stipple = nullptr;
  char *file = nullptr;             /* strings: Tk-allocated, null when unset */
  char *maskFile = nullptr;
  char *maskClass = nullptr;
  char *data = nullptr;
  int width = 128, height = 128;
  int sc = 0, sr = 0;
  int xflip = 0, yflip = 0;
  double mx = 1, my = 1;
  int rotate = 0;
  int tile = 0, tw = 2048, th = 2048;
  int levels[4] = {0, 0, 0, 0};     /* -palette at the last allocation */
  int comb[4] = {1, 1, 0, 0};       /* -comb: count, three 1-based bands */
  int range = 0, autod = 1, update = 0, dither = 0;
  int truePalette = 0;
  double dg = 0.9, contrast = 1, bright = 0.5;
  double low[3] = {0, 0, 0};
  double high[3] = {255, 255, 255};
  double gamma = 1, stdDev = 2.5;  /* stdDev: -std */
  int gmid = 0, func = 0, optLayer = 0;  /* optLayer: -layer */
  int palette[4] = {-1, 0, 0, 0};   /* -palette: kind, red, green, blue levels */
  int maxw = 4096, maxh = 4096, turbo = 0, maskImgBand = 1;
  double sharpness = 0, emboss = 0;
  int filterDir = 0, filterBg = 0, pixmapOnly = 0;
};

/* ---- the type and its table (imggimg.cpp) ---- */
int Gimg_Init(Tcl_Interp *interp);
int addGimg(GimgMaster *master);
void removeGimg(GimgMaster *master);
GimgMaster *findGimg(Tcl_Interp *interp, const char *name);
void gimgNames(Tcl_Interp *interp);
GimgMaster *isGimgImage(Tcl_Interp *interp, const char *name);
void gimgChanged(GimgMaster *master);
int gimgUpdate(GimgMaster *master);
int makeGimgGCs(GimgMaster *master);
int makeDrawGC(GimgMaster *master);
void deleteAllGimgs();
GimgMaster *gimgTableSlot(int slot);

/* ---- configuration and image watching (gimgconfig.cpp) ---- */
extern Tk_ConfigSpec gimgConfigSpecs[];
int gimgConfigure(GimgMaster *master, int argc, const char **argv, int flags);
int gimgConfigMagnification(GimgMaster *master);
void setContrastWindow(GimgMaster *master);
int gimgPaletteChanged(GimgMaster *master);
void allocMasterPalette(GimgMaster *master);
void freeMasterPalette(GimgMaster *master);
void imageChangedProc(ClientData clientData);
void imageRedrawProc(ClientData clientData);
void imageRectProc(ClientData clientData, int x, int y, int width, int height);
void maskChangedProc(ClientData clientData);

/* ---- lookup tables, histograms and enhancement (gimglut.cpp) ---- */

/* The histogram summary of one band or palette component. */
struct HistSummary {
  double mean = 0, std = 0, min = 0, max = 0, count = 0;
  int binCount = 0;
  int64_t bins[256] = {};
};

double toneCurve(double x, double gamma, int mode);
void fillToneLut(unsigned char *lut, int n, int outLow, int outHigh, double inLow, double inHigh,
                 const unsigned char *inputMap, double gamma, int mode);
const unsigned char *paletteIndexMap(int paletteCount, const unsigned char *palette, int band,
                                     unsigned char work[256], const unsigned char *table);
void quantizeLut(unsigned char *lut, int n, int step, int cap);
int histSummary(GimgMaster *master, BandHist *bandHists, int component, HistSummary *summary);
int ramImageHistSummary(GimgMaster *master, RAMIMG *image, int band, HistSummary *summary);
int enhanceLut(GimgMaster *master, int function, double stdFactor, int band, double gamma,
               unsigned char *lut, int n, int outLow, int outHigh, double *low, double *high,
               const unsigned char *inputMap);
void buildGimgLuts(GimgMaster *master, int func, double std);

/* ---- view geometry and coordinate conversion (gimgview.cpp) ---- */
AxisMap *createAxisMap();
void clearAxisMap(AxisMap *map);
void freeAxisMapArray(AxisMap *map);
void deleteAxisMap(AxisMap *map);
AxisMap *setAxisMap(AxisMap *map, int count, int origin, int flip, double scale);
AxisMap *axisMapSlice(const AxisMap *map, int start, int count);
void axisMapRange(const AxisMap *map, int limit, int *first, int *end);
double axisMapToScreen(const AxisMap *map, double imagePos);
double axisMapToImage(const AxisMap *map, double viewPos);
int setMagnification(GimgMaster *master, double mx, double my);
void imageToDisplay(GimgMaster *master, double x, double y, double *dx, double *dy);
void displayToImage(GimgMaster *master, double dx, double dy, double *x, double *y);
int parseDisplayPosition(GimgMaster *master, const char *xText, const char *yText, int *col,
                         int *row);
int gimgMagnifyCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]);
int gimgRotateCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]);
int gimgCopyCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]);
int gimgCopySubCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]);

/* ---- rendering (gimgrender.cpp) ---- */

/* A rectangle of the view to render. */
struct RenderRect {
  int16_t x = 0, y = 0;
  uint16_t width = 0, height = 0;
};

Pixmap makePixmap(GimgMaster *owner, GimgInstance *instance, RAMIMG *image, ViewPixmap *target,
                  ViewPixmap *frameTarget, ViewPixmap *maskTarget, const AxisMap *xMap,
                  const AxisMap *yMap, const RenderRect *rect);
void makePixmap(GimgMaster *master, int x, int y, int width, int height);
void renderBandLine(RAMIMG *image, int row, int band, const int *xIndex, int start, int end,
                    int count, int *lastValue, double low, double high, const unsigned char *lut,
                    unsigned char *out);
void renderBandValues(RAMIMG *image, int row, int band, const int *xIndex, int start, int end,
                      int count, double low, double high, unsigned char *out);
void filterLine(int count, unsigned char *line, unsigned char *previous, double value,
                int background, int first, int direction);
void ditherLine(int count, unsigned char *indexLine, const unsigned char *values,
                const unsigned char *lut, const unsigned char *levelIndex,
                const unsigned char *ditherError, signed char *errorLine, int kind, int oddRow);

/* ---- display and view pixmaps (gimgdisplay.cpp) ---- */
void gimgDisplay(ClientData instance, Display *display, Drawable drawable, int imageX,
                 int imageY, int width, int height, int drawableX, int drawableY);
void initViewPixmap(ViewPixmap *vp, Display *display);
ViewPixmap *newViewPixmap(Display *display);
void deleteViewPixmap(ViewPixmap *vp);
int setViewPixmapSize(ViewPixmap *vp, Drawable drawable, int width, int height, int depth,
                      int destX, int destY, int originX, int originY);
Pixmap getViewPixmap(ViewPixmap *vp);
void freeViewPixmap(ViewPixmap *vp);
void setViewPixmapBorrowed(ViewPixmap *vp, int flag);
int isViewPixmapBorrowed(const ViewPixmap *vp);
void setViewRegion(GimgMaster *master);
int getGimgRenderMode();
void setGimgRenderMode(int mode);

/* ---- the image command (gimginstance.cpp) ---- */
Tcl_CmdProc gimgInstanceCmd;
/* A subcommand: the master, then the command's words. */
typedef int GimgSubcommand(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]);
std::vector<std::string> splitItems(const char *text);
bool parseRangeItem(const std::string &item, int *lo, int *hi);
void appendFormat(Tcl_Interp *interp, const char *format, ...) __attribute__((format(printf, 2, 3)));
int gimgError(Tcl_Interp *interp, const char *message);

/* ---- masks (gimgmask.cpp) ---- */
GimgSubcommand gimgMaskCmd;
int parseClassList(unsigned char *flags, int mode, const char *text);
void clearImageMask(GimgMaster *master, int kind, int withSources);
int combineMasks(GimgMaster *master);
void buildValueMask(GimgMaster *master, const unsigned char *flags);
void buildFileMask(GimgMaster *master);
PointList *clipChainToRect(const PointList *chain, double x0, double y0, double x1, double y1);
int polygonMaskToView(GimgMaster *master, MaskBitmap *bits, int parity, const PointList *polygons);
void buildViewMasks(GimgMaster *owner, const MaskBitmap *maskBits, const MaskBitmap *frameBits,
                    ViewPixmap *frameTarget, ViewPixmap *maskTarget, const AxisMap *xMap,
                    const AxisMap *yMap, int rotation);

/* ---- animation and volumes (gimganim.cpp) ---- */
GimgSubcommand gimgAnimateCmd, gimgSeekCmd;
int stopAnimation(GimgMaster *master);

/* ---- coordinates, values, statistics and dump (gimgquery.cpp) ---- */
GimgSubcommand gimgImgXYCmd, gimgImgToCanvCmd, gimgImgToMapCmd, gimgCanvToMapCmd,
    gimgCanvToFileCmd, gimgMapXYCmd, gimgMapToCanvCmd, gimgFileXYCmd, gimgFileToCanvCmd;
GimgSubcommand gimgPixelCmd, gimgLineCmd, gimgProfileCmd, gimgSectionCmd, gimgHistCmd,
    gimgStatsCmd, gimgSetPixelCmd, gimgDumpCmd;

}  // namespace vesk

#endif
