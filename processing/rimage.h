/*
 * rimage.h --
 *     Private interface of the "rimage" command: the default image head and
 *     its options, the module convention and the subcommand procedures of
 *     the units that make up the command.
 */
#ifndef VESK_PROCESSING_RIMAGE_H
#define VESK_PROCESSING_RIMAGE_H

#include <tk.h>
#include <functional>
#include <string>
#include "raster/ramimg.h"

namespace vesk {

/*
 * A processing module: prog is "rimage " and the subcommand's full name;
 * argv holds the words after the subcommand, read as option/value pairs.
 * Results: 2 when argc is 0 (usage printed on stdout), 0 on failure
 * (messages printed on stderr), 1 on success.
 */
typedef int RimageModuleProc(const char *prog, int argc, const char **argv);

/* Own subcommands: with the default head, or with the interpreter only. */
typedef int RimageHeadProc(ImageHeader *head, Tcl_Interp *interp, int argc, const char **argv);
typedef int RimagePlainProc(Tcl_Interp *interp, int argc, const char **argv);

/* The options of an image head, over ImageHeader (rimage.cpp). */
extern Tk_ConfigSpec rimageHeadOptions[];

int configRAMImageHead(ImageHeader *head, Tcl_Interp *interp, int argc, const char **argv);
int headOptionValue(ImageHeader *head, Tcl_Interp *interp, const char *option);
bool isUnsavableImgid(int imgid);
int callRimageModule(Tcl_Interp *interp, RimageModuleProc *proc, const char *name, int argc,
                     const char **argv);
void setGreyRamp(ImageHeader *head, int count);

/*
 * The progress of a module's row loop: meterSet at each threshold of the
 * fraction done, then 1.0 and meterReset at the end.
 */
struct RowMeter {
  const char *name;
  float threshold = 0;
  explicit RowMeter(const char *text) : name(text) {}
  void row(int done, int total);
  void finish();
};

/* A failed open: the registry's error text in errorInfo, the message as result. */
int rimageOpenFailure(Tcl_Interp *interp, int err, const std::string &message);

/* Images found by tag, then by file name, without counting a user. */
RAMIMG *findRAMImage(const char *word);

/* Modules as command procedures of their own, for callers that register them. */
int rimageTransCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv);
int rimageGfftransCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv);
int rimageGeorefCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv);

/* Unused adapters of XImages and colormaps. */
int initXImage_Bi(ImageHeader *head, const XImage *image);
int headPaletteFromColormap(ImageHeader *head, Display *display, Colormap colormap, int count);

/* ---- open, close, save and queries (rimgopen.cpp) ---- */
bool readImageBytesHeader(const unsigned char *bytes, int64_t length, ImageHeader *h);
RimageHeadProc rimageOpen;
RimagePlainProc rimageClose;
RimagePlainProc rimageList;
RimagePlainProc rimageSave;
RimagePlainProc rimageIsopened;
RimagePlainProc rimageIsvalid;
RimagePlainProc rimageImgids;
RimagePlainProc rimageImgtypes;
RimagePlainProc rimageMapids;
RimagePlainProc rimagePixelids;
RimagePlainProc rimageVersion;
RimagePlainProc rimageResident;
RimagePlainProc rimageLock;
RimagePlainProc rimageUnlock;
RimagePlainProc rimageFlush;
RimagePlainProc rimageUpdate;
RimagePlainProc rimageVolume;

/* ---- head, cache, statistics and palette (rimghead.cpp) ---- */
RimageHeadProc rimageConfigure;
RimageHeadProc rimageCget;
RimageHeadProc rimageCreate;
RimageHeadProc rimageCache;
RimageHeadProc rimageGetIndices;
RimageHeadProc rimageSetIndices;
RimagePlainProc rimageHist;

/* ---- processing modules ---- */
RimageModuleProc classifyModule;  /* classify.cpp */
RimageModuleProc gdemModule;      /* demshade.cpp */
RimageModuleProc gslopeModule;    /* demshade.cpp */
RimageModuleProc gconvModule;     /* convolve.cpp */
RimageModuleProc distModule;      /* convolve.cpp */
RimageModuleProc georefModule;    /* georef.cpp */
RimageModuleProc gfftransModule;  /* gfftrans.cpp */
RimageModuleProc calcModule;      /* calc.cpp */
RimageModuleProc dataModule;      /* datamod.cpp */
RimageModuleProc rformModule;     /* datamod.cpp */
RimageModuleProc pcalcModule;     /* pcalc.cpp */
RimageModuleProc smetricModule;   /* smetric.cpp */
RimagePlainProc rimageDraw;       /* draw.cpp */
RimagePlainProc rimageCanvas;     /* screencapture.cpp */
RimagePlainProc rimageClipboard;  /* screencapture.cpp */
RimagePlainProc rimageWindow;     /* screencapture.cpp */
int windowRect(Tcl_Interp *interp, const char *pathName, int *xOut, int *yOut, int *widthOut,
               int *heightOut, int flags);

/* An output opened by name, or created as a file like a header (calc.cpp). */
RAMIMG *openModuleOutput(const char *word, const ImageHeader &like, int imgid, int pixelid,
                         int nbands, int *err);

RimageModuleProc ptableModule;    /* ptable.cpp */
RimageModuleProc gisocModule;     /* isocluster.cpp */
RimageModuleProc gstatModule;     /* statmodules.cpp */
RimageModuleProc egvModule;       /* statmodules.cpp */
RimageModuleProc statinfoModule;  /* statmodules.cpp */

/* The output of a classifier, opened or made (classify.cpp). */
RAMIMG *openClassOutput(RAMIMG *in, const char *word, const char *imgidWord);
/* The palette of a class output from the class means (classify.cpp). */
void writeClassPalette(RAMIMG *in, RAMIMG *out, const int *bands, int nbands, int classes,
                       bool stretch, const std::function<double(int, int)> &meanOf);

/* ---- bound images (boundimg.cpp) ---- */
RimagePlainProc rimageBind;

}  // namespace vesk

#endif
