/*
 * devices.h --
 *     Scanners (SANE), printers (CUPS and cairo PDF) and canvas metafiles:
 *     the command families and the band recording they share.
 */
#ifndef VESK_DEVICES_DEVICES_H
#define VESK_DEVICES_DEVICES_H

#include <tk.h>

#include <string>

#include "display/capture.h"

namespace vesk {

struct CanvasInfo;

/* ---- metafile.cpp ---- */
/* The frame of a metafile in 0.01 mm and the reference device it names. */
struct MetafileFrame {
  int widthMM100 = 0, heightMM100 = 0; /* the frame: 0.01 mm */
  int deviceWidth = 0, deviceHeight = 0; /* the reference device: pixels */
  int deviceWidthMM = 0, deviceHeightMM = 0; /* and millimetres */
};
/* An enhanced metafile being written: a header, one picture record a band, the end. */
struct EmfWriter {
  int width = 0, height = 0; /* the recorded region, in pixels */
  MetafileFrame frame;
  std::string bytes;
  int records = 0;
};
void beginEmf(EmfWriter &emf, int width, int height, const MetafileFrame &frame);
void addEmfBand(EmfWriter &emf, const RgbImage &band, int x, int y);
void finishEmf(EmfWriter &emf);
MetafileFrame screenMetafileFrame(Tk_Window tkwin, int width, int height);
int captureCanvasBand(Tcl_Interp *interp, const CanvasInfo *info, int x, int y, int width,
                      int height, int coordType, RgbImage &out);
int recordCanvasMetafile(Tcl_Interp *interp, const char *pathName, int x0, int y0, int x1,
                         int y1, int coordType, EmfWriter &emf, RgbImage *picture);
int Gmetafile_Init(Tcl_Interp *interp);

/* ---- printer.cpp ---- */
int Printer_Init(Tcl_Interp *interp);

/* ---- twimg.cpp ---- */
int Twimg_Init(Tcl_Interp *interp);

}  // namespace vesk

#endif
