/*
 * gimgconfig.cpp --
 *     Configuration of gimg images: the option table, the options applied
 *     to colours, stipple and the image shown (a RAM image, a file, or a
 *     Tk photo), bringing the display state in line with the options, and
 *     following the changes of the RAM images a master watches.
 */
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "core/core.h"
#include "core/options.h"
#include "core/text.h"
#include "display/colortab.h"
#include "display/gimg.h"
#include "display/photo.h"
#include "raster/bandstats.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* An int64_t field as a Tk option (the header's data offset). */
int parseWideOption(ClientData, Tcl_Interp *interp, Tk_Window, const char *value,
                    char *widgRec, int offset) {
  Tcl_Obj *obj = Tcl_NewStringObj(value ? value : "", -1);
  Tcl_IncrRefCount(obj);
  Tcl_WideInt wide = 0;
  int code = Tcl_GetWideIntFromObj(interp, obj, &wide);
  Tcl_DecrRefCount(obj);
  if (code != TCL_OK) return TCL_ERROR;
  *reinterpret_cast<int64_t *>(widgRec + offset) = static_cast<int64_t>(wide);
  return TCL_OK;
}

const char *printWideOption(ClientData, Tk_Window, char *widgRec, int offset,
                            Tcl_FreeProc **freeProcPtr) {
  std::string text = std::to_string(*reinterpret_cast<int64_t *>(widgRec + offset));
  char *copy = Tcl_Alloc(static_cast<unsigned>(text.size() + 1));
  memcpy(copy, text.c_str(), text.size() + 1);
  *freeProcPtr = TCL_DYNAMIC;
  return copy;
}

Tk_CustomOption wideOption = {parseWideOption, printWideOption, nullptr};

}  // namespace

#define GIMG_FIELD(field) static_cast<int>(offsetof(GimgMaster, field))
#define GIMG_HEAD(field) static_cast<int>(offsetof(GimgMaster, header) + offsetof(ImageHeader, field))

/* The options of a gimg image, in the order "configure" lists them. */
Tk_ConfigSpec gimgConfigSpecs[] = {
    {TK_CONFIG_UID, "-background", nullptr, nullptr, "#000000", GIMG_FIELD(background), 0, nullptr},
    {TK_CONFIG_UID, "-foreground", nullptr, nullptr, "#ffffff", GIMG_FIELD(foreground), 0, nullptr},
    {TK_CONFIG_STRING, "-file", nullptr, nullptr, nullptr, GIMG_FIELD(file), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-maskfile", nullptr, nullptr, nullptr, GIMG_FIELD(maskFile), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-maskclass", nullptr, nullptr, nullptr, GIMG_FIELD(maskClass), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-data", nullptr, nullptr, nullptr, GIMG_FIELD(data), TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-mapid", nullptr, nullptr, "GRID", GIMG_HEAD(mapid), 0, &mapidOption},
    {TK_CONFIG_CUSTOM, "-imgid", nullptr, nullptr, "BSQ", GIMG_HEAD(imgid), 0, &imgidOption},
    {TK_CONFIG_CUSTOM, "-offset", nullptr, nullptr, "0", GIMG_HEAD(offset), 0, &wideOption},
    {TK_CONFIG_CUSTOM, "-pixel", nullptr, nullptr, "BYTE", GIMG_HEAD(pixelid), 0, &pixelOption},
    {TK_CONFIG_INT, "-nbands", nullptr, nullptr, "1", GIMG_HEAD(nbands), 0, nullptr},
    {TK_CONFIG_INT, "-msbf", nullptr, nullptr, "-1", GIMG_HEAD(msbf), 0, nullptr},
    {TK_CONFIG_INT, "-rows", nullptr, nullptr, "512", GIMG_HEAD(rows), 0, nullptr},
    {TK_CONFIG_INT, "-columns", nullptr, nullptr, "512", GIMG_HEAD(columns), 0, nullptr},
    {TK_CONFIG_INT, "-left", nullptr, nullptr, "0", GIMG_HEAD(left), 0, nullptr},
    {TK_CONFIG_INT, "-top", nullptr, nullptr, "0", GIMG_HEAD(top), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-x0", nullptr, nullptr, "0.0", GIMG_HEAD(x0), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-y0", nullptr, nullptr, "0.0", GIMG_HEAD(y0), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dx", nullptr, nullptr, "1.0", GIMG_HEAD(dx), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dy", nullptr, nullptr, "1.0", GIMG_HEAD(dy), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-func", nullptr, nullptr, "NONE", GIMG_FIELD(func), 0, &funcOption},
    {TK_CONFIG_CUSTOM, "-range", nullptr, nullptr, "DETAIL", GIMG_FIELD(range), 0, &rangeOption},
    {TK_CONFIG_DOUBLE, "-std", nullptr, nullptr, "2.5", GIMG_FIELD(stdDev), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-test", nullptr, nullptr, "false", GIMG_FIELD(test), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-autod", nullptr, nullptr, "true", GIMG_FIELD(autod), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-update", nullptr, nullptr, "false", GIMG_FIELD(update), 0, nullptr},
    {TK_CONFIG_INT, "-width", nullptr, nullptr, "128", GIMG_FIELD(width), 0, nullptr},
    {TK_CONFIG_INT, "-height", nullptr, nullptr, "128", GIMG_FIELD(height), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-mx", nullptr, nullptr, "1.0", GIMG_FIELD(mx), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-my", nullptr, nullptr, "1.0", GIMG_FIELD(my), 0, nullptr},
    {TK_CONFIG_INT, "-sr", nullptr, nullptr, "0", GIMG_FIELD(sr), 0, nullptr},
    {TK_CONFIG_INT, "-sc", nullptr, nullptr, "0", GIMG_FIELD(sc), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-low0", nullptr, nullptr, "0", GIMG_FIELD(low[0]), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-low1", nullptr, nullptr, "0", GIMG_FIELD(low[1]), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-low2", nullptr, nullptr, "0", GIMG_FIELD(low[2]), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-high0", nullptr, nullptr, "255", GIMG_FIELD(high[0]), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-high1", nullptr, nullptr, "255", GIMG_FIELD(high[1]), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-high2", nullptr, nullptr, "255", GIMG_FIELD(high[2]), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-palette", nullptr, nullptr, "Default", GIMG_FIELD(palette), 0, &paletteOption},
    {TK_CONFIG_INT, "-layer", nullptr, nullptr, "0", GIMG_FIELD(optLayer), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-comb", nullptr, nullptr, "1", GIMG_FIELD(comb), 0, &combOption},
    {TK_CONFIG_INT, "-maxw", nullptr, nullptr, "4096", GIMG_FIELD(maxw), 0, nullptr},
    {TK_CONFIG_INT, "-maxh", nullptr, nullptr, "4096", GIMG_FIELD(maxh), 0, nullptr},
    {TK_CONFIG_INT, "-dither", nullptr, nullptr, "0", GIMG_FIELD(dither), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dg", nullptr, nullptr, "0.9", GIMG_FIELD(dg), 0, nullptr},
    {TK_CONFIG_INT, "-gmid", nullptr, nullptr, "0", GIMG_FIELD(gmid), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-gamma", nullptr, nullptr, "1.0", GIMG_FIELD(gamma), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-contrast", nullptr, nullptr, "1.0", GIMG_FIELD(contrast), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-bright", nullptr, nullptr, "0.5", GIMG_FIELD(bright), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-sharpness", nullptr, nullptr, "0.0", GIMG_FIELD(sharpness), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-emboss", nullptr, nullptr, "0.0", GIMG_FIELD(emboss), 0, nullptr},
    {TK_CONFIG_INT, "-filterdir", nullptr, nullptr, "0", GIMG_FIELD(filterDir), 0, nullptr},
    {TK_CONFIG_INT, "-filterbg", nullptr, nullptr, "0", GIMG_FIELD(filterBg), 0, nullptr},
    {TK_CONFIG_INT, "-yflip", nullptr, nullptr, "0", GIMG_FIELD(yflip), 0, nullptr},
    {TK_CONFIG_INT, "-xflip", nullptr, nullptr, "0", GIMG_FIELD(xflip), 0, nullptr},
    {TK_CONFIG_INT, "-rotate", nullptr, nullptr, "0", GIMG_FIELD(rotate), 0, nullptr},
    {TK_CONFIG_INT, "-tile", nullptr, nullptr, "0", GIMG_FIELD(tile), 0, nullptr},
    {TK_CONFIG_INT, "-tw", nullptr, nullptr, "2048", GIMG_FIELD(tw), 0, nullptr},
    {TK_CONFIG_INT, "-th", nullptr, nullptr, "2048", GIMG_FIELD(th), 0, nullptr},
    {TK_CONFIG_INT, "-turbo", nullptr, nullptr, "0", GIMG_FIELD(turbo), 0, nullptr},
    {TK_CONFIG_INT, "-maskon", nullptr, nullptr, "1", GIMG_FIELD(maskOn), 0, nullptr},
    {TK_CONFIG_INT, "-maskopaque", nullptr, nullptr, "0", GIMG_FIELD(maskOpaque), 0, nullptr},
    {TK_CONFIG_INT, "-maskimgband", nullptr, nullptr, "1", GIMG_FIELD(maskImgBand), 0, nullptr},
    {TK_CONFIG_UID, "-stipple", nullptr, nullptr, "None", GIMG_FIELD(stipple), 0, nullptr},
    {TK_CONFIG_INT, "-pixmaponly", nullptr, nullptr, "0", GIMG_FIELD(pixmapOnly), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};
static_assert(sizeof gimgConfigSpecs / sizeof gimgConfigSpecs[0] == 66,
              "a gimg image has sixty-five options");

#undef GIMG_FIELD
#undef GIMG_HEAD

namespace {

/* The photo bridge: photos named by -file, and files or data that only Tk's
   photo type reads, copied into new RAM images. */
RAMIMG *gimgCopyPhoto(Tcl_Interp *interp, const char *name, const ImageHeader *templ) {
  return copyPhotoToRAMImage(interp, name, templ, nullptr);
}
RAMIMG *gimgLoadPhoto(Tcl_Interp *interp, const char *option, const char *value,
                      const ImageHeader *templ) {
  return loadPhotoToRAMImage(interp, option, value, templ);
}

/* Replaces a Tk-allocated string option by a copy of a text. */
void setStringOption(char **field, const char *text) {
  if (*field) ckfree(*field);
  *field = nullptr;
  if (!text) return;
  size_t n = strlen(text);
  *field = static_cast<char *>(ckalloc(static_cast<unsigned>(n + 1)));
  memcpy(*field, text, n + 1);
}

int clampInt(int value, int low, int high) {
  return value < low ? low : value > high ? high : value;
}

/*
 * openWithReference --
 *     openRAMImage for the gimg: the caller always holds one reference to
 *     the image it gets, also when the image was re-read in place under
 *     its tag (which counts none).
 */
RAMIMG *openWithReference(const char *tag, const char *path, ImageHeader *templ, int *err) {
  RAMIMG *prior = tag ? getRAMImageByTag(tag) : nullptr;
  int before = prior ? prior->refCount : 0;
  RAMIMG *image = openRAMImage(tag, path, templ, nullptr, err);
  if (image && image == prior && image->refCount == before) image->refCount++;
  return image;
}

/*
 * openShownImage --
 *     Opens what -file names: with format detection a tag, a file (under
 *     the image's name as tag), a Tk photo or a file Tk's photo type
 *     reads; else, and without detection, a raw image described by the
 *     header options.
 * Results:      the image with one reference for the caller, or NULL with
 *     the message in the result.
 */
RAMIMG *openShownImage(GimgMaster *master, const char *text) {
  Tcl_Interp *interp = master->interp;
  RAMIMG *image = nullptr;
  int err = 0;
  if (master->autod) {
    if (getRAMImageByTag(text)) image = openWithReference(text, nullptr, nullptr, &err);
    else image = openWithReference(master->name.c_str(), text, nullptr, &err);
    if (!image && err == VESK_RAMIMG_OPEN_ERROR) {
      image = gimgCopyPhoto(interp, text, &master->header);
      if (image) vesk_fprintf(stderr, "opened tkPhoto object...\n");
      else vesk_fprintf(stderr, "failed to open tkphoto object %s\n", text);
    }
    if (!image) {
      if (err == VESK_RAMIMG_UNHANDLED) {
        Tcl_SetResult(interp, const_cast<char *>("Unable to hanlde the image."), TCL_STATIC);
        return nullptr;
      }
      if (err != VESK_RAMIMG_CREATE_ERROR) {
        image = gimgLoadPhoto(interp, "-file", text, &master->header);
        if (image) vesk_fprintf(stderr, "opened tkPhoto image...\n");
        else vesk_fprintf(stderr, "failed to open photo image %s\n", text);
      }
    }
  }
  if (!image) {
    /* The header options describe the raw image; the master's own header
       changes only once the image is shown. */
    ImageHeader h = master->header;
    h.bits = getPixelBits(h.pixelid);
    h.nindices = 0;
    h.transparent = -1;
    h.block = 0;
    if (RAMIMG *found = getRAMImageByTag(text)) {
      /* A raw reading of a tagged image's file under the header options. */
      image = openWithReference(text, nullptr, nullptr, &err);
      if (image && found->fd >= 0 && found->header.readerFlag == 0) {
        ImageHeader templ = h;
        snprintf(templ.path, VESK_PATH_SIZE, "%s", found->header.path);
        flushRAMImage(found);
        if (!reopenRAMImage(templ.path, &templ, found, &err)) {
          closeRAMImage(found, nullptr);
          image = nullptr;
        }
      }
    } else {
      ImageHeader templ = h;
      snprintf(templ.path, VESK_PATH_SIZE, "%s", text);
      image = openRAMImage(nullptr, text, &templ, nullptr, &err);
    }
    if (!image) Tcl_SetResult(interp, const_cast<char *>("Fail to open ram image."), TCL_STATIC);
  }
  return image;
}

/* The shown image's statistics are not complete for the bands shown. */
bool statsMissing(const GimgMaster *master) {
  const RAMIMG *image = master->image;
  if (!image->hist) return true;
  const int nbands = image->header.nbands;
  if (master->layer > 0) return master->layer <= nbands && !image->hist[master->layer - 1].done;
  for (int i = 0; i < master->channelCount && i < 3; i++) {
    int band = master->channelBand[i];
    if (band >= 0 && band < nbands && !image->hist[band].done) return true;
  }
  return false;
}

/* imageChanged -- imageChangedProc with its result. */
int imageChanged(GimgMaster *master) {
  if (!master->master) return TCL_OK;
  RAMIMG *image = master->image;
  if (image && image->header.imgid > 0) {
    int msbf = master->header.msbf;
    master->header = image->header;
    master->header.msbf = msbf;
    if (image->header.transparent != master->transparentIndex) {
      if (master->transparentIndex >= 0 && master->transparentIndex < 256)
        master->shownValues[master->transparentIndex] = 1;
      master->transparentIndex = image->header.transparent;
    }
    clearImageMask(master, 3, 1);
    if (master->palette[0] < 0) {
      const ImageHeader &h = master->header;
      bool colour = false;
      for (int i = 0; i < h.nindices && i < 256 && !colour; i++)
        colour = h.palette[i][0] != h.palette[i][1] || h.palette[i][1] != h.palette[i][2];
      if (colour) {
        const int comb[4] = {3, 1, 2, 3}, palette[4] = {0, 8, 8, 4};
        memcpy(master->comb, comb, sizeof comb);
        memcpy(master->palette, palette, sizeof palette);
        master->paletteFlags = 14;
      } else if (h.nindices == 0 && h.nbands == 1) {
        const int comb[4] = {1, 1, 0, 0}, palette[4] = {28, 0, 0, 0};
        memcpy(master->comb, comb, sizeof comb);
        memcpy(master->palette, palette, sizeof palette);
        master->paletteFlags = 1;
      }
    }
  }
  if (master->header.nindices > 0) freeMasterPalette(master);
  return gimgConfigMagnification(master);
}

/* The colour a transparent palette index is shown in, as 8-bit channels. */
void transparentColor(GimgMaster *master, unsigned char rgb[3]) {
  const XColor *color = master->bgColor;
  XColor *named = nullptr;
  const int imgid = master->image->header.imgid;
  if (imgid == IMG_GIF87A || imgid == IMG_GIF89A) {
    const char *name = Tcl_GetVar2(master->interp, "TRANSPARENT_GIF_COLOR", nullptr, TCL_GLOBAL_ONLY);
    if (name) {
      named = Tk_GetColor(master->interp, master->tkwin, Tk_GetUid(name));
      if (named) color = named;
      else Tcl_ResetResult(master->interp);
    }
  }
  rgb[0] = static_cast<unsigned char>(color->red >> 8);
  rgb[1] = static_cast<unsigned char>(color->green >> 8);
  rgb[2] = static_cast<unsigned char>(color->blue >> 8);
  if (named) Tk_FreeColor(named);
}

}  // namespace

/*
 * gimgConfigure --
 *     Applies configuration words to a master: the option table, then the
 *     colours, the stipple, -data and the image -file names.
 * Results:      TCL_OK or TCL_ERROR with the message in the result and
 *     errorInfo; the options set by the table stay set, a colour, stipple
 *     or image that failed keeps its previous value.
 */
int gimgConfigure(GimgMaster *master, int argc, const char **argv, int flags) {
  Tcl_Interp *interp = master->interp;
  Tk_Uid oldForeground = master->foreground, oldBackground = master->background;
  Tk_Uid oldStipple = master->stipple;
  if (Tk_ConfigureWidget(interp, master->tkwin, gimgConfigSpecs, argc, argv,
                         reinterpret_cast<char *>(master), flags) != TCL_OK)
    return TCL_ERROR;

  if (master->foreground != oldForeground) {
    XColor *color = Tk_GetColor(interp, master->tkwin, master->foreground);
    if (!color) {
      master->foreground = oldForeground;
      Tcl_AddErrorInfo(interp, "\nFail to get fg color.");
      return TCL_ERROR;
    }
    if (master->fgColor) Tk_FreeColor(master->fgColor);
    master->fgColor = color;
    XSetForeground(master->display, master->gc, color->pixel);
  }
  if (master->background != oldBackground) {
    XColor *color = Tk_GetColor(interp, master->tkwin, master->background);
    if (!color) {
      master->background = oldBackground;
      Tcl_AddErrorInfo(interp, "\nFail to get bg color.");
      return TCL_ERROR;
    }
    if (master->bgColor) Tk_FreeColor(master->bgColor);
    master->bgColor = color;
    XSetBackground(master->display, master->gc, color->pixel);
  }
  if (master->stipple != oldStipple) {
    if (strcmp(master->stipple, "None") != 0) {
      Pixmap bitmap = Tk_GetBitmap(interp, master->tkwin, master->stipple);
      if (!bitmap) {
        master->stipple = oldStipple;
        Tcl_AddErrorInfo(interp, "\nFail to get stipple pixmap.");
        return TCL_ERROR;
      }
      XSetStipple(master->display, master->gc, bitmap);
      if (master->stippleBitmap) Tk_FreeBitmap(master->display, master->stippleBitmap);
      master->stippleBitmap = bitmap;
    } else {
      makeGimgGCs(master);
      if (master->stippleBitmap) Tk_FreeBitmap(master->display, master->stippleBitmap);
      master->stippleBitmap = 0;
    }
  }

  /* Inline data: read by Tk's photo type into a RAM image that -file names. */
  RAMIMG *loaded = nullptr;
  if (master->data) {
    loaded = gimgLoadPhoto(interp, "-data", master->data, &master->header);
    if (!loaded) {
      Tcl_AddErrorInfo(interp, "\nFail to open ramimg from string data.");
      return TCL_ERROR;
    }
    setStringOption(&master->data, nullptr);
    char path[VESK_PATH_SIZE];
    snprintf(path, sizeof path, "%s", loaded->header.path);
    setStringOption(&master->file, path);
  }

  master->header.block =
      (static_cast<int64_t>(getPixelBits(master->header.pixelid)) * master->header.columns + 7) / 8;

  if (master->file && *master->file) {
    master->mirrorName.clear();
    RAMIMG *shown = master->image;
    const bool namesAnother = !shown || (getRAMImageByTag(master->file) != shown &&
                                         getRAMImageByName(master->file) != shown);
    if (namesAnother || master->update) {
      std::string text = master->file;
      RAMIMG *image = openShownImage(master, text.c_str());
      /* The reference of the -data image is the one openShownImage took. */
      if (loaded) closeRAMImage(loaded, nullptr);
      if (!image) {
        setStringOption(&master->file, master->header.path);
        return TCL_ERROR;
      }
      if (image == shown) {
        closeRAMImage(image, nullptr);
        if (!namesAnother) return gimgConfigMagnification(master);
      } else {
        if (shown) {
          if (master->maskPresent) clearImageMask(master, 4, 1);
          closeRAMImage(shown, &master->imageClient);
        }
        addClient(&master->imageClient, image);
        snprintf(master->header.path, VESK_PATH_SIZE, "%s", image->header.path);
        master->image = image;
        if (image->header.nindices > 0) master->optLayer = 1;
      }
      return imageChanged(master);
    }
  } else if (master->image) {
    closeRAMImage(master->image, &master->imageClient);
    master->viewValid = 0;
    freeViewPixmap(&master->viewPixmap);
    master->image = nullptr;
    if (master->maskPresent) clearImageMask(master, 4, 1);
  }

  if (!master->mirrorName.empty()) {
    if (GimgMaster *source = findGimg(interp, master->mirrorName.c_str())) {
      master->rotate = source->rotate;
      master->xflip = source->xflip;
      master->yflip = source->yflip;
    }
  }
  return gimgConfigMagnification(master);
}

/*
 * gimgConfigMagnification --
 *     Brings the display state in line with the options: layer and
 *     palette, view start and size, byte order, magnification, contrast,
 *     special palette entries, band combination, filter, palette
 *     allocation, lookup tables and masks.
 * Results:      TCL_OK, or TCL_ERROR with the message appended.
 */
int gimgConfigMagnification(GimgMaster *master) {
  Tcl_Interp *interp = master->interp;
  ImageHeader &h = master->header;
  RAMIMG *image = master->image;

  if (h.nbands < 0) h.nbands = 1;
  master->optLayer = clampInt(master->optLayer, 0, h.nbands);
  if (image) {
    if (master->optLayer == 0) {
      h.nindices = 0;
    } else if (h.nindices == 0) {
      if (image->header.nindices > 0) {
        memcpy(h.palette, image->header.palette, sizeof h.palette);
        h.nindices = image->header.nindices;
      } else {
        h.nindices = buildColorTable(&h.palette[0][0], 256, 0, 0, 0);
      }
      freeMasterPalette(master);
    }
    const int rows = image->header.rows, columns = image->header.columns;
    master->sr = clampInt(master->sr, 0, rows > 0 ? rows - 1 : 0);
    master->sc = clampInt(master->sc, 0, columns > 0 ? columns - 1 : 0);
    master->width = roundToInt(fabs(master->mx) * (columns - master->sc));
    master->height = roundToInt(fabs(master->my) * (rows - master->sr));
    /* A new byte order is read again from the file; memory images and
       decoded formats hold their pixels in host order and keep it. */
    if (h.msbf >= 0 && h.msbf != image->header.msbf && image->fd >= 0 &&
        image->header.readerFlag == 0) {
      image->header.msbf = h.msbf;
      setRAMImageBuf(image, 128);
      if (image->hist && h.pixelid != P_BYTE) ramImageHist(image, kHistRecompute, 4, 4);
    }
  }
  if (!(h.dx > 0)) h.dx = 1.0;
  if (!(h.dy > 0)) h.dy = 1.0;

  if (setMagnification(master, master->mx, master->my) != TCL_OK) {
    Tcl_AppendResult(interp, "Error in gimgConfigMagnification ...\n", nullptr);
    return TCL_ERROR;
  }
  setContrastWindow(master);

  if (image && h.imgid == IMG_XBMP && getPixelBits(h.pixelid) == 1) {
    const XColor *colors[2] = {master->fgColor, master->bgColor};
    for (int i = 0; i < 2; i++) {
      h.palette[i][0] = static_cast<unsigned char>(colors[i]->red >> 8);
      h.palette[i][1] = static_cast<unsigned char>(colors[i]->green >> 8);
      h.palette[i][2] = static_cast<unsigned char>(colors[i]->blue >> 8);
    }
    freeMasterPalette(master);
  }
  if (image && image->header.transparent >= 0 && image->header.transparent < 256) {
    transparentColor(master, h.palette[image->header.transparent]);
    if (master->pixels) freeMasterPalette(master);
  }

  const int combBands = image && h.nindices > 0 && master->optLayer > 0 ? 3 : (h.nbands > 0 ? h.nbands : 1);
  for (int i = 1; i <= master->comb[0] && i <= 3; i++)
    if (master->comb[i] > 0) master->comb[i] = (master->comb[i] - 1) % combBands + 1;

  master->funcInForce = master->func;
  master->filterDir = clampInt(master->filterDir, 0, 4);
  master->filterBg = clampInt(master->filterBg, 0, 255);
  double filter = master->emboss != 0 ? master->emboss : master->sharpness;
  master->filterOverride = master->emboss != 0 ? -1 : master->filterBg;
  master->truePalette = master->optLayer > 0 && master->filterStrength == 0 && master->dither == 0;

  int request[4] = {master->palette[0], master->palette[1], master->palette[2], master->palette[3]};
  if (request[0] < 0) {
    request[0] = 28;
    request[1] = request[2] = request[3] = 0;
  }
  if (master->dither != master->ditherOn || !master->pixels || master->optLayer != master->layer ||
      (filter == 0) != (master->filterStrength == 0) ||
      memcmp(request, master->levels, sizeof request) != 0) {
    master->ditherOn = master->dither;
    master->filterStrength = filter;
    master->layer = master->optLayer;
    memcpy(master->levels, request, sizeof request);
    master->paletteFlags = (master->levels[0] != 0 ? 1 : 0) | (master->levels[1] > 1 ? 2 : 0) |
                           (master->levels[2] > 1 ? 4 : 0) | (master->levels[3] > 1 ? 8 : 0);
    if (master->depth <= 8) {
      allocMasterPalette(master);
      memcpy(master->palette, master->levels, sizeof master->levels);
    }
  }
  master->filterStrength = filter;
  buildGimgLuts(master, master->funcInForce, master->stdDev);

  bool rebuild = false;
  if (master->maskClass) {
    int changed = parseClassList(master->maskClasses, 0, master->maskClass);
    if (changed < 0) {
      /* A bad list is not kept: the next configure must not fail on it. */
      setStringOption(&master->maskClass, nullptr);
      Tcl_SetResult(interp, const_cast<char *>("Error in parsing mask class."), TCL_STATIC);
      return TCL_ERROR;
    }
    if (changed > 0) rebuild = true;
  }
  if (master->maskFile && *master->maskFile) {
    const char *text = compareNoCase(master->maskFile, "Default") == 0 ? master->file : master->maskFile;
    std::string name = text ? text : "";
    RAMIMG *mask = nullptr;
    if (!name.empty()) {
      int err = 0;
      mask = openWithReference(name.c_str(), name.c_str(), nullptr, &err);
      if (!mask) mask = gimgLoadPhoto(interp, "-file", name.c_str(), &master->header);
      if (!mask) mask = gimgCopyPhoto(interp, name.c_str(), &master->header);
    }
    if (!mask) {
      /* The mask image held so far stays; -maskfile names it again, so
         that the next configure does not fail on the same name. */
      setStringOption(&master->maskFile, master->maskImage ? master->maskImage->tag : nullptr);
      Tcl_SetResult(interp, const_cast<char *>("Fail to open mask image file"), TCL_STATIC);
      return TCL_ERROR;
    }
    if (mask == master->maskImage) {
      closeRAMImage(mask, nullptr);
    } else {
      if (master->maskImage) closeRAMImage(master->maskImage, &master->maskClient);
      addClient(&master->maskClient, mask);
      master->maskImage = mask;
      freeMaskBitmap(&master->fileMaskBits);
      rebuild = true;
    }
    const int bands = master->maskImage->header.nbands;
    master->maskImgBand = master->maskImgBand > 0 ? (master->maskImgBand < bands ? master->maskImgBand : bands) : 1;
    if (master->maskImgBand != master->maskBandInForce) {
      master->maskBandInForce = master->maskImgBand;
      freeMaskBitmap(&master->fileMaskBits);
      rebuild = true;
    }
  } else if (master->maskImage) {
    closeRAMImage(master->maskImage, &master->maskClient);
    master->maskImage = nullptr;
    freeMaskBitmap(&master->fileMaskBits);
    rebuild = true;
  }

  master->maskOn = clampInt(master->maskOn, 0, 4);
  if (master->maskOn != master->maskState) {
    if (master->maskOn > 0) {
      const bool switchedBackOn = master->maskState == -master->maskOn;
      master->maskState = master->maskOn;
      if (!rebuild && !switchedBackOn) combineMasks(master);
    } else if (master->maskState > 0) {
      master->maskState = -master->maskState;
    }
  }
  if (rebuild) maskChangedProc(master);
  imageRedrawProc(master);
  return TCL_OK;
}

/*
 * setContrastWindow --
 *     The output window of the contrast and brightness options: an
 *     inverted window for negative contrast.
 */
void setContrastWindow(GimgMaster *master) {
  if (master->contrast > 1) master->contrast = 1;
  if (master->contrast < -1) master->contrast = -1;
  const double c = master->contrast;
  int low, high;
  if (c > 0) {
    low = roundToInt((1 - c) * 127.5);
    high = 255 - low;
  } else {
    high = roundToInt((c + 1) * 127.5);
    low = 255 - high;
  }
  const int shift = roundToInt((master->bright - 0.5) * 512);
  master->outLow = clampInt(low + shift, 0, 255);
  master->outHigh = clampInt(high + shift, 0, 255);
}

/*
 * gimgPaletteChanged --
 *     After an edit of the master's palette: allocates it again on
 *     displays that need it, rebuilds the lookup tables and redisplays.
 */
int gimgPaletteChanged(GimgMaster *master) {
  if (!master->ditherOn && master->depth <= 8) allocMasterPalette(master);
  buildGimgLuts(master, master->funcInForce, master->stdDev);
  gimgUpdate(master);
  return 0;
}

/* The master's colour state, handed to the palette allocation and back. */
void allocMasterPalette(GimgMaster *master) {
  GimgColorState state;
  memcpy(state.levels, master->levels, sizeof state.levels);
  state.truePalette = master->truePalette;
  state.pixels = master->pixels;
  state.pixelCount = master->pixelCount;
  state.depth = master->depth;
  state.display = master->display;
  state.colormap = master->colormap;
  state.paletteEntries = master->header.nindices;
  state.palette = &master->header.palette[0][0];
  allocGimgPalette(&state);
  memcpy(master->levels, state.levels, sizeof master->levels);
  master->truePalette = state.truePalette;
  master->pixels = state.pixels;
  master->pixelCount = state.pixelCount;
}

void freeMasterPalette(GimgMaster *master) {
  if (!master->pixels) {
    master->pixelCount = 0;
    return;
  }
  GimgColorState state;
  state.pixels = master->pixels;
  state.pixelCount = master->pixelCount;
  state.depth = master->depth;
  state.display = master->display;
  state.colormap = master->colormap;
  freeGimgPalette(&state);
  master->pixels = state.pixels;
  master->pixelCount = state.pixelCount;
}

/* ---- watching the RAM images ---- */

/*
 * imageChangedProc --
 *     The shown image's header or palette changed: the header is copied
 *     (keeping the master's byte order), the display mode chosen again
 *     under -palette Default, and the display state rebuilt.
 */
void imageChangedProc(ClientData clientData) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  if (imageChanged(master) != TCL_OK && master->master) Tcl_ResetResult(master->interp);
}

/*
 * imageRedrawProc --
 *     The pixels of a watched image changed: Tk is told, the lookup
 *     tables follow statistics that are not complete yet, and the view is
 *     rendered again at the next display.
 */
void imageRedrawProc(ClientData clientData) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  if (!master->master) return;
  gimgChanged(master);
  if (!master->image) return;
  if (master->funcInForce != 1 && statsMissing(master))
    buildGimgLuts(master, master->funcInForce, master->stdDev);
  if (master->image->header.transparent >= 0) {
    buildValueMask(master, master->shownValues);
    combineMasks(master);
  }
  master->viewValid = 0;
}

/*
 * imageRectProc --
 *     The pixels of an image rectangle changed: only the view block that
 *     shows it is rendered again and told to Tk.
 */
void imageRectProc(ClientData clientData, int x, int y, int width, int height) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  if (!master->master || !master->xMap.index || !master->yMap.index) return;
  int first[2] = {-1, -1}, last[2] = {-1, -1};
  const AxisMap *maps[2] = {&master->xMap, &master->yMap};
  const int limits[2] = {master->width, master->height};
  const int low[2] = {x, y};
  const int64_t end[2] = {static_cast<int64_t>(x) + width, static_cast<int64_t>(y) + height};
  for (int a = 0; a < 2; a++) {
    for (int i = 0; i < maps[a]->count && i < limits[a]; i++) {
      const int v = maps[a]->index[i];
      if (v >= low[a] && v < end[a]) {
        if (first[a] < 0) first[a] = i;
        last[a] = i;
      }
    }
  }
  if (first[0] < 0 || first[1] < 0) return;
  const int w = last[0] - first[0] + 1, h = last[1] - first[1] + 1;
  makePixmap(master, first[0], first[1], w, h);
  Tk_ImageChanged(master->master, first[0], first[1], w, h, master->width, master->height);
}

/*
 * maskChangedProc --
 *     A mask image changed: the file mask is built again and the masks
 *     combined.
 */
void maskChangedProc(ClientData clientData) {
  GimgMaster *master = static_cast<GimgMaster *>(clientData);
  if (!master->master) return;
  if (master->image && master->maskImage) {
    buildFileMask(master);
    combineMasks(master);
  }
}

}  // namespace vesk
