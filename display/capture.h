/*
 * capture.h --
 *     Screen, window and pixmap contents as pixmaps and as RGB pixels, the
 *     rectangle of a toplevel's frame, the X clipboard of images, and RAM
 *     images made from all of these and from packed DIBs.
 */
#ifndef VESK_DISPLAY_CAPTURE_H
#define VESK_DISPLAY_CAPTURE_H

#include <tk.h>

#include <stdint.h>
#include <string>
#include <vector>

#include "vesk/ramimg.h"

namespace vesk {

/* Pixels as 0x00rrggbb, rows top-down. */
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

/* ---- capture.cpp ---- */
int captureSourceRect(Display *display, Drawable drawable, int x, int y, int width, int height,
                      Drawable *source, XRectangle *rect);
XImage *getDrawableImage(Display *display, Drawable drawable, int x, int y, int width,
                         int height);
int ximageToRgb(Display *display, Colormap colormap, XImage *image, RgbImage &out);
int captureDrawableRgb(Display *display, Drawable drawable, Colormap colormap, int x, int y,
                       int width, int height, RgbImage &out);
Pixmap makePixmapFromDrawable(Display *display, Drawable drawable, Colormap colormap, int x,
                              int y, int width, int height);
Pixmap makePixmapFromRgb(Tk_Window tkwin, const RgbImage &image);
int getDrawableDepth(Display *display, Drawable drawable);
Pixmap duplicateBitmap(Display *display, Pixmap bitmap);
int getToplevelRect(Tcl_Interp *interp, const char *pathName, int *x, int *y, int *width,
                    int *height);

/* ---- clipboard.cpp ---- */
int encodePng(const RgbImage &image, std::string &png);
int decodePng(const unsigned char *data, size_t size, RgbImage &out);
int putImageOnClipboard(Display *display, const RgbImage &image,
                        const char *extraTarget = nullptr, std::string *extraData = nullptr);
int copyDrawableToClipboard(Display *display, Drawable drawable, int x, int y, int width,
                            int height);
int getClipboardImage(Tk_Window tkwin, RgbImage &out);
int getClipboardBitmapSize(Tk_Window tkwin, int *width, int *height);
Pixmap makePixmapFromClipboard(Tk_Window tkwin, int *width, int *height);
void refreshClipboardHandler();
void clearLocalClipboard();

/* ---- ramcapture.cpp ---- */
RAMIMG *makeRAMImageFromRgb(const char *name, const RgbImage &rgb);
RAMIMG *makeRAMImageFromBitmap(const char *name, Display *display, Pixmap bitmap,
                               Colormap colormap);
RAMIMG *makeRAMImageFromDrawable(const char *name, Display *display, Drawable drawable,
                                 Colormap colormap, int x, int y, int width, int height);
RAMIMG *makeRAMImageFromDIB(const char *name, const unsigned char *dib, size_t size);
RAMIMG *makeRAMImageFromClipboard(const char *name, Tk_Window tkwin);

}  // namespace vesk

#endif
