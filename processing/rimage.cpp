/*
 * rimage.cpp --
 *     The "rimage" command: its per-interpreter default image head, the
 *     head options and configRAMImageHead, the subcommand dispatch, and
 *     the frame that calls processing modules.
 */
#include "processing/rimage.h"
#include "processing/transfer.h"
#include "processing/gtop.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <new>
#include <string>

#include "core/core.h"
#include "core/options.h"
#include "core/text.h"
#include "geometry/gcpset.h"
#include "vesk/meter.h"
#include "vesk/rimage.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

constexpr const char *kRimageCommands =
    "Commands: bind cache calc canvas cget classify clipboard close configure copy create crop "
    "data dist draw egv flush gconv gdem geocalc georef getIndices gisoc gfftrans gsfzoom gslope "
    "gstat gtop hist imgid imgtypes isopened isvalid list lock mapids open pcalc pixelids ptable "
    "resample resident rform rotate save section setIndices smetric statinfo trans unlock "
    "update version volume window";

/* ---- 64-bit integer fields of the head (offset, block) ---- */

int parseWideOption(ClientData, Tcl_Interp *interp, Tk_Window, const char *value, char *widgRec,
                    int offset) {
  Tcl_WideInt n = 0;
  Tcl_Obj *text = Tcl_NewStringObj(value ? value : "", -1);
  Tcl_IncrRefCount(text);
  int code = Tcl_GetWideIntFromObj(interp, text, &n);
  Tcl_DecrRefCount(text);
  if (code != TCL_OK) return TCL_ERROR;
  *reinterpret_cast<int64_t *>(widgRec + offset) = static_cast<int64_t>(n);
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

/*
 * One subcommand: the full name and its handler, one of three kinds.  A
 * row with no handler is a subcommand this build does not carry; a word
 * that reaches it answers as an unknown word does.
 */
struct RimageSubcommand {
  const char *name;
  RimageHeadProc *head;
  RimagePlainProc *plain;
  RimageModuleProc *module;
};

#define RIMAGE_HEAD(name, proc) {name, proc, nullptr, nullptr}
#define RIMAGE_PLAIN(name, proc) {name, nullptr, proc, nullptr}
#define RIMAGE_MODULE(name, proc) {name, nullptr, nullptr, proc}
#define RIMAGE_NONE(name) {name, nullptr, nullptr, nullptr}

/* Grouped by first letter; within a group, in the order words are tried. */
const RimageSubcommand rimageSubcommands[] = {
    RIMAGE_HEAD("cache", rimageCache),
    RIMAGE_MODULE("calc", calcModule),
    RIMAGE_HEAD("cget", rimageCget),
    RIMAGE_MODULE("classify", classifyModule),
    RIMAGE_PLAIN("clipboard", rimageClipboard),
    RIMAGE_HEAD("create", rimageCreate),
    RIMAGE_HEAD("configure", rimageConfigure),
    RIMAGE_MODULE("copy", copyModule),
    RIMAGE_MODULE("crop", copyModule),
    RIMAGE_PLAIN("close", rimageClose),
    RIMAGE_PLAIN("canvas", rimageCanvas),
    RIMAGE_MODULE("data", dataModule),
    RIMAGE_MODULE("dist", distModule),
    RIMAGE_PLAIN("draw", rimageDraw),
    RIMAGE_MODULE("egv", egvModule),
    RIMAGE_MODULE("gfftrans", gfftransModule),
    RIMAGE_MODULE("gconv", gconvModule),
    RIMAGE_MODULE("geocalc", rimageGeocalc),
    RIMAGE_MODULE("georef", georefModule),
    RIMAGE_MODULE("gisoc", gisocModule),
    RIMAGE_HEAD("getIndices", rimageGetIndices),
    RIMAGE_MODULE("gsfzoom", gsfzoomModule),
    RIMAGE_MODULE("gslope", gslopeModule),
    RIMAGE_MODULE("gstat", gstatModule),
    RIMAGE_MODULE("gtop", gtopModule),
    RIMAGE_MODULE("gdem", gdemModule),
    RIMAGE_PLAIN("hist", rimageHist),
    RIMAGE_PLAIN("flush", rimageFlush),
    RIMAGE_PLAIN("imgids", rimageImgids),
    RIMAGE_PLAIN("imgtypes", rimageImgtypes),
    RIMAGE_PLAIN("isopened", rimageIsopened),
    RIMAGE_PLAIN("isvalid", rimageIsvalid),
    RIMAGE_PLAIN("list", rimageList),
    RIMAGE_PLAIN("lock", rimageLock),
    RIMAGE_PLAIN("mapids", rimageMapids),
    RIMAGE_HEAD("open", rimageOpen),
    RIMAGE_MODULE("pcalc", pcalcModule),
    RIMAGE_MODULE("ptable", ptableModule),
    RIMAGE_PLAIN("pixelids", rimagePixelids),
    RIMAGE_PLAIN("bind", rimageBind),
    RIMAGE_PLAIN("resident", rimageResident),
    RIMAGE_MODULE("rform", rformModule),
    RIMAGE_MODULE("rotate", rotateModule),
    RIMAGE_MODULE("resample", resampleModule),
    RIMAGE_PLAIN("save", rimageSave),
    RIMAGE_MODULE("smetric", smetricModule),
    RIMAGE_MODULE("section", sectionModule),
    RIMAGE_HEAD("setIndices", rimageSetIndices),
    RIMAGE_MODULE("statinfo", statinfoModule),
    RIMAGE_MODULE("trans", transModule),
    RIMAGE_PLAIN("unlock", rimageUnlock),
    RIMAGE_PLAIN("update", rimageUpdate),
    RIMAGE_PLAIN("version", rimageVersion),
    RIMAGE_PLAIN("volume", rimageVolume),
    RIMAGE_PLAIN("window", rimageWindow),
};
static_assert(sizeof rimageSubcommands / sizeof rimageSubcommands[0] == 55,
              "rimage has fifty-five subcommands");

/* The fewest characters a word of the group of this first letter needs; 0: no group. */
size_t rimageGroupMinimum(char first) {
  switch (first) {
  case 'c': case 'i': case 'm': case 'p': return 4;
  case 'd': case 'e': case 'g': case 'l': case 'o': return 3;
  case 'b': case 'f': case 'h': case 'r': case 's': case 'u': return 2;
  case 't': case 'v': case 'w': return 1;
  default: return 0;
  }
}

/* The first row of the word's group of which the word is a prefix, or null. */
const RimageSubcommand *findRimageSubcommand(const char *word) {
  const size_t minimum = rimageGroupMinimum(word[0]);
  const size_t length = strlen(word);
  if (minimum == 0 || length < minimum) return nullptr;
  for (const RimageSubcommand &row : rimageSubcommands)
    if (row.name[0] == word[0] && strncmp(word, row.name, length) == 0) return &row;
  return nullptr;
}

/*
 * rimageCmd --
 *     The "rimage" command.  Alone it lists the subcommands; otherwise the
 *     word picks a subcommand by its group and trial order.
 */
int rimageCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_SetResult(interp, const_cast<char *>(kRimageCommands), TCL_STATIC);
    return TCL_OK;
  }
  const RimageSubcommand *row = findRimageSubcommand(argv[1]);
  if (!row || (!row->head && !row->plain && !row->module)) {
    Tcl_SetResult(interp, const_cast<char *>("Unknown command"), TCL_STATIC);
    return TCL_ERROR;
  }
  ImageHeader *head = static_cast<ImageHeader *>(clientData);
  try {
    if (row->head) return row->head(head, interp, argc, argv);
    if (row->plain) return row->plain(interp, argc, argv);
    return callRimageModule(interp, row->module, row->name, argc, argv);
  } catch (const std::bad_alloc &) {
    Tcl_SetResult(interp, const_cast<char *>("Memory allocation error"), TCL_STATIC);
    return TCL_ERROR;
  }
}

void rimageCmdDeleted(ClientData clientData) { Tcl_Free(static_cast<char *>(clientData)); }

}  // namespace

/*
 * The head options, over ImageHeader.  offset and block are 64-bit fields
 * and read as wide integers.
 */
#define HEAD_FIELD(field) static_cast<int>(offsetof(ImageHeader, field))
Tk_ConfigSpec rimageHeadOptions[] = {
    {TK_CONFIG_CUSTOM, "-file", nullptr, nullptr, "rimage.lan", HEAD_FIELD(path), 0,
     &fileOption},
    {TK_CONFIG_CUSTOM, "-mapid", nullptr, nullptr, "GRID", HEAD_FIELD(mapid), 0,
     &mapidOption},
    {TK_CONFIG_CUSTOM, "-imgid", nullptr, nullptr, "E74", HEAD_FIELD(imgid), 0,
     &imgidOption},
    {TK_CONFIG_CUSTOM, "-imgdes", nullptr, nullptr, "", HEAD_FIELD(note), 0,
     &imgdesOption},
    {TK_CONFIG_CUSTOM, "-imgtype", nullptr, nullptr, "GENERAL", HEAD_FIELD(imgtype), 0,
     &imgtypeOption},
    {TK_CONFIG_CUSTOM, "-pixel", nullptr, nullptr, "BYTE", HEAD_FIELD(pixelid), 0,
     &pixelOption},
    {TK_CONFIG_INT, "-nbands", nullptr, nullptr, "1", HEAD_FIELD(nbands), 0, nullptr},
    {TK_CONFIG_INT, "-msbf", nullptr, nullptr, "0", HEAD_FIELD(msbf), 0, nullptr},
    {TK_CONFIG_INT, "-rows", nullptr, nullptr, "512", HEAD_FIELD(rows), 0, nullptr},
    {TK_CONFIG_INT, "-columns", nullptr, nullptr, "512", HEAD_FIELD(columns), 0,
     nullptr},
    {TK_CONFIG_INT, "-top", nullptr, nullptr, "0", HEAD_FIELD(top), 0, nullptr},
    {TK_CONFIG_INT, "-left", nullptr, nullptr, "0", HEAD_FIELD(left), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-x0", nullptr, nullptr, "0.0", HEAD_FIELD(x0), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-y0", nullptr, nullptr, "0.0", HEAD_FIELD(y0), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-z0", nullptr, nullptr, "0.0", HEAD_FIELD(z0), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dx", nullptr, nullptr, "1.0", HEAD_FIELD(dx), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dy", nullptr, nullptr, "1.0", HEAD_FIELD(dy), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-zscale", nullptr, nullptr, "1.0", HEAD_FIELD(zscale), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-zmin", nullptr, nullptr, "0.0", HEAD_FIELD(zmin), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-zmax", nullptr, nullptr, "0.0", HEAD_FIELD(zmax), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-offset", nullptr, nullptr, "128", HEAD_FIELD(offset), 0,
     &wideOption},
    {TK_CONFIG_CUSTOM, "-block", nullptr, nullptr, "512", HEAD_FIELD(block), 0,
     &wideOption},
    {TK_CONFIG_INT, "-nindices", nullptr, nullptr, "0", HEAD_FIELD(nindices), 0,
     nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};
#undef HEAD_FIELD

namespace {

/* The window Tk's configuration calls need; an error when there is none. */
Tk_Window rimageMainWindow(Tcl_Interp *interp) {
  Tk_Window main = Tk_MainWindow(interp);
  if (!main) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "image heads need a Tk main window", (char *)nullptr);
  }
  return main;
}

/* The palette count a one-band image of this pixel type may have. */
int maxPaletteEntries(int pixelid) {
  switch (pixelid) {
  case P_1BIT: return 2;
  case P_4BITS: return 16;
  case P_BYTE: return 256;
  default: return 0;
  }
}

/* The palette count a small pixel type implies: 1BIT 2, 4BITS 16, BYTE 256. */
int impliedPaletteEntries(int pixelid) { return maxPaletteEntries(pixelid); }

/* True when the option words set -nindices. */
bool namesNindices(int argc, const char **argv) {
  for (int i = 0; i + 1 < argc; i += 2)
    if (strcmp(argv[i], "-nindices") == 0) return true;
  return false;
}

/*
 * applyImgidRule --
 *     What a layout or format demands of a head.
 * Results: null, or the message of a head the format cannot hold.
 */
const char *applyImgidRule(ImageHeader &h) {
  switch (h.imgid) {
  case IMG_BSQ: case IMG_BIL: case IMG_BIP: case IMG_MBSQ: case IMG_MBIL: case IMG_MBIP:
    if (h.pixelid == P_1BIT) h.nindices = 2;
    break;
  case IMG_DIB:
    if (h.nbands == 1) {
      if (h.pixelid != P_1BIT && h.pixelid != P_4BITS && h.pixelid != P_BYTE)
        return "Illegal pixel for a DIB image.";
      h.nindices = impliedPaletteEntries(h.pixelid);
    } else if (h.nbands == 3) {
      if (h.pixelid != P_BYTE) return "Illegal pixel for a 24-BIT DIB image.";
      h.nindices = 0;
    } else {
      return "Illegal bands for a DIB image.";
    }
    break;
  case IMG_TIFF: case IMG_GEOTIFF:
    if (h.nbands == 1) h.nindices = impliedPaletteEntries(h.pixelid);
    break;
  case IMG_PPM:
  case IMG_JPEG:
    if (h.nbands != 1 && h.nbands != 3)
      return h.imgid == IMG_PPM ? "Illegal bands for a PPM image." : "Illegal bands for a JPEG image.";
    h.pixelid = P_BYTE;
    h.nindices = 0;
    h.offset = 0;
    break;
  case IMG_FFT:
    h.pixelid = P_FLOAT;
    h.nbands = 2;
    h.imgid = IMG_BIP;
    break;
  case IMG_MRGB32: h.nbands = 4; h.pixelid = P_BYTE; h.nindices = 0; break;
  case IMG_MRGB24: h.nbands = 3; h.pixelid = P_BYTE; h.nindices = 0; break;
  case IMG_MRGB565: h.nbands = 1; h.pixelid = P_USHORT; h.nindices = 0; break;
  case IMG_MRGB555: h.nbands = 1; h.pixelid = P_SHORT; h.nindices = 0; break;
  case IMG_MRGB8: h.nbands = 1; h.pixelid = P_BYTE; h.nindices = 256; break;
  case IMG_MRGB4: h.nbands = 1; h.pixelid = P_4BITS; h.nindices = 16; break;
  case IMG_MRGB1: h.nbands = 1; h.pixelid = P_1BIT; h.nindices = 2; break;
  default: break;
  }
  return nullptr;
}

/* The bytes of one stored row the layout needs at least. */
int64_t headRowLength(const ImageHeader &h) {
  const int64_t n = int64_t{h.columns} * h.bits * h.nbands;
  switch (h.imgid) {
  case IMG_BIP: case IMG_DIB: case IMG_MBIP: case IMG_MRGB32: case IMG_MRGB24:
  case IMG_MRGB565: case IMG_MRGB555: case IMG_MRGB8: case IMG_MRGB4: case IMG_MRGB1:
    return (n + 31) / 32 * 4;
  case IMG_TIFF: case IMG_PPM: case IMG_FFT:
    return (n + 7) / 8;
  default:
    return (int64_t{h.columns} * h.bits + 7) / 8;
  }
}

}  // namespace

/* setGreyRamp -- the first count palette entries from black to white. */
void setGreyRamp(ImageHeader *head, int count) {
  count = std::min(count, 256);
  for (int i = 0; i < count; i++) {
    const unsigned char v =
        static_cast<unsigned char>(roundToInt(static_cast<float>(i * 255.0 / (count - 1.0))));
    head->palette[i][0] = head->palette[i][1] = head->palette[i][2] = v;
  }
}

/* isUnsavableImgid -- the memory layouts "rimage save" refuses (MRGB4 saves). */
bool isUnsavableImgid(int imgid) {
  return (imgid >= IMG_MBSQ && imgid <= IMG_MRGB8) || imgid == IMG_MRGB1;
}

/*
 * configRAMImageHead --
 *     Applies head options to a head.  No option reports them all, one
 *     reports that one; pairs configure a copy that the layout's rules
 *     then complete (bits, palette count, row length, palette).
 * Results:      TCL_OK, or TCL_ERROR with the message in the result.
 * Side effects: the head changes only when everything succeeded.
 */
int configRAMImageHead(ImageHeader *head, Tcl_Interp *interp, int argc, const char **argv) {
  Tk_Window main = rimageMainWindow(interp);
  if (!main) return TCL_ERROR;
  char *record = reinterpret_cast<char *>(head);
  if (argc == 0) return Tk_ConfigureInfo(interp, main, rimageHeadOptions, record, nullptr, 0);
  if (argc == 1) return Tk_ConfigureInfo(interp, main, rimageHeadOptions, record, argv[0], 0);

  ImageHeader copy = *head;
  if (Tk_ConfigureWidget(interp, main, rimageHeadOptions, argc, argv,
                         reinterpret_cast<char *>(&copy), TK_CONFIG_ARGV_ONLY) != TCL_OK)
    return TCL_ERROR;
  if (copy.nbands < 1) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, fmt("Invalid band number:%d", copy.nbands), (char *)nullptr);
    return TCL_ERROR;
  }
  if (copy.nbands == 1) {
    if (copy.nindices < 0 || copy.nindices > maxPaletteEntries(copy.pixelid)) {
      Tcl_SetResult(interp, const_cast<char *>("Invalid index number."), TCL_STATIC);
      return TCL_ERROR;
    }
  } else {
    copy.nindices = 0;
  }
  if (const char *message = applyImgidRule(copy)) {
    Tcl_SetResult(interp, const_cast<char *>(message), TCL_STATIC);
    return TCL_ERROR;
  }
  copy.bits = getPixelBits(copy.pixelid);
  copy.block = std::max(copy.block, headRowLength(copy));

  // A palette the head had survives; its count too, unless the words set
  // another or the new pixel type cannot hold that many entries.
  if (head->nindices != 0) {
    const bool fits = copy.nbands == 1 && head->nindices <= maxPaletteEntries(copy.pixelid);
    if (!namesNindices(argc, argv) && fits) copy.nindices = head->nindices;
  } else {
    setGreyRamp(&copy, copy.nindices);
  }
  *head = copy;
  return TCL_OK;
}

/* headOptionValue -- the value of one head option into the result. */
int headOptionValue(ImageHeader *head, Tcl_Interp *interp, const char *option) {
  Tk_Window main = rimageMainWindow(interp);
  if (!main) return TCL_ERROR;
  return Tk_ConfigureValue(interp, main, rimageHeadOptions, reinterpret_cast<char *>(head),
                           option, 0);
}

/*
 * callRimageModule --
 *     Runs a processing module under the name "rimage <name>" with the
 *     words after the subcommand.
 *     A module whose image files could not all be written fails, and the
 *     new files it made replace older ones only when it succeeds.
 * Results:      TCL_OK with an empty result when the module printed its
 *     usage or succeeded; TCL_ERROR with "Exec error from" and the words
 *     as typed when it failed (its messages went to stderr).
 */
int callRimageModule(Tcl_Interp *interp, RimageModuleProc *proc, const char *name, int argc,
                     const char **argv) {
  std::string prog = std::string("rimage ") + name;
  const int failures = rasterWriteFailures();
  const size_t mark = beginPendingImages();
  int status = proc(prog.c_str(), argc - 2, argv + 2);
  if (status == 1 && rasterWriteFailures() != failures) status = 0;
  if (!endPendingImages(mark, status == 1 || status == 2)) status = 0;
  Tcl_ResetResult(interp);
  if (status == 1 || status == 2) return TCL_OK;
  Tcl_AppendResult(interp, "Exec error from ", argv[0], " ", argv[1], (char *)nullptr);
  return TCL_ERROR;
}

/* RowMeter::row -- after each output row: the next threshold reached. */
void RowMeter::row(int done, int total) {
  if (total <= 0) return;
  if (static_cast<float>(done) / static_cast<float>(total) >= threshold) {
    meterSet(name, threshold);
    threshold += meterInc();
  }
}

/* RowMeter::finish -- the end of the loop: 1.0, then the meter is reset. */
void RowMeter::finish() {
  meterSet(name, 1.0f);
  meterReset();
}

int rimageOpenFailure(Tcl_Interp *interp, int err, const std::string &message) {
  Tcl_ResetResult(interp);
  Tcl_AddErrorInfo(interp, getRAMImageErrorText(err));
  // What the format's reader said about the file, when one refused it.
  if (*getRAMImageRefusal()) {
    Tcl_AddErrorInfo(interp, ": ");
    Tcl_AddErrorInfo(interp, getRAMImageRefusal());
  }
  Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
  return TCL_ERROR;
}

RAMIMG *findRAMImage(const char *word) {
  RAMIMG *image = getRAMImageByTag(word);
  return image ? image : getRAMImageByName(word);
}

/*
 * rimageTransCmd, rimageGfftransCmd, rimageGeorefCmd --
 *     The copy, gfftrans and georef modules as command procedures of
 *     their own (words: command, subcommand, options), for callers that
 *     register them under a name of their choice.  A module that fails
 *     fails the command, as through "rimage".
 * Results:      callRimageModule's; a missing subcommand word is an error.
 */
static int rimageModuleCmd(Tcl_Interp *interp, RimageModuleProc *proc, const char *name,
                           int argc, const char **argv) {
  if (argc < 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argc > 0 ? argv[0] : "rimage", " ", name, " options",
                     (char *)nullptr);
    return TCL_ERROR;
  }
  return callRimageModule(interp, proc, name, argc, argv);
}

int rimageTransCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return rimageModuleCmd(interp, transModule, "copy", argc, argv);
}

int rimageGfftransCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return rimageModuleCmd(interp, gfftransModule, "gfftrans", argc, argv);
}

int rimageGeorefCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  return rimageModuleCmd(interp, georefModule, "georef", argc, argv);
}

/*
 * initXImage_Bi --
 *     Fills a head that describes an XImage's pixels.
 * Results:      1, or 0 for a depth other than 1, 4, 8, 16 and 24.
 */
int initXImage_Bi(ImageHeader *head, const XImage *image) {
  switch (image->depth) {
  case 1:
    head->pixelid = P_1BIT; head->bits = 1; head->nbands = 1; head->nindices = 2; head->msbf = 1;
    break;
  case 4:
    head->pixelid = P_4BITS; head->bits = 4; head->nbands = 1; head->nindices = 16; head->msbf = 1;
    break;
  case 8:
    head->pixelid = P_BYTE; head->bits = 8; head->nbands = 1; head->nindices = 256;
    break;
  case 16: case 24:
    head->pixelid = P_BYTE; head->bits = 8; head->nbands = 3; head->nindices = 0;
    break;
  default:
    vesk_fprintf(stderr, "Error in initXImage_Bi: invalid depth.\n");
    return 0;
  }
  head->imgid = IMG_BIP;
  head->mapid = MAPID_GRID;
  head->offset = 0;
  head->top = head->left = 0;
  head->rows = image->height;
  head->columns = image->width;
  head->block = image->depth == 16 ? (int64_t{image->width} * 3 + 3) / 4 * 4
                                   : int64_t{image->bytes_per_line};
  head->transparent = -1;
  head->x0 = head->y0 = 0;
  head->dx = head->dy = 1.0;
  return 1;
}

/* headPaletteFromColormap -- the first count colours of a colormap as the palette. */
int headPaletteFromColormap(ImageHeader *head, Display *display, Colormap colormap, int count) {
  count = std::max(0, std::min(count, 256));
  XColor colors[256];
  for (int i = 0; i < count; i++) colors[i].pixel = static_cast<unsigned long>(i);
  if (count > 0) XQueryColors(display, colormap, colors, count);
  head->nindices = count;
  for (int i = 0; i < count; i++) {
    head->palette[i][0] = static_cast<unsigned char>(colors[i].red >> 8);
    head->palette[i][1] = static_cast<unsigned char>(colors[i].green >> 8);
    head->palette[i][2] = static_cast<unsigned char>(colors[i].blue >> 8);
  }
  return count;
}

}  // namespace vesk

/*
 * Rimg_Init --
 *     Creates "rimage" with a default image head of its own.
 * Results:      TCL_OK, or TCL_ERROR when Tcl refuses the command.
 */
int Rimg_Init(Tcl_Interp *interp) {
  using namespace vesk;
  ImageHeader *head = reinterpret_cast<ImageHeader *>(Tcl_Alloc(sizeof(ImageHeader)));
  initImageHeader(head);
  head->block = 512;
  head->msbf = msbFirst();
  head->nindices = 0;
  head->bits = 8;
  head->transparent = -1;
  head->altFd = -1;
  memset(head->palette, 0, sizeof head->palette);
  if (Tk_Window main = Tk_MainWindow(interp)) {
    Tk_ConfigureWidget(interp, main, rimageHeadOptions, 0, nullptr,
                       reinterpret_cast<char *>(head), 0);
    Tcl_ResetResult(interp);
  }
  if (!Tcl_CreateCommand(interp, "rimage", rimageCmd, head, rimageCmdDeleted)) {
    Tcl_Free(reinterpret_cast<char *>(head));
    return TCL_ERROR;
  }
  return TCL_OK;
}
