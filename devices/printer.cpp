/*
 * printer.cpp --
 *     "printer" (package TK_PRINTER 1.0): CUPS destinations and their
 *     capabilities, Tk dialogs for printer and page set-up, and band
 *     printing of a canvas region into a cairo PDF page per printed page,
 *     submitted to CUPS as a PDF job.  VESK_PRINT_FILE=path writes the
 *     job's PDF there instead (machines without a CUPS server).
 *
 *     A printer's "device context" here is its media size and resolution:
 *     the destination's default media (A4 when it has none) at its default
 *     resolution (300 dpi when it names none).
 */
#include <cairo-pdf.h>
#include <cairo.h>
#include <cups/cups.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "canvas/gcanvas.h"
#include "core/lazylib.h"
#include "core/savefile.h"
#include "core/text.h"
#include "devices/devices.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

constexpr const char *kPrinterCommands =
    "enum capability canvas interactive pagesetup setup tilewidth tileheight";
constexpr int kMinTile = 128;

/* Band size (canvas units) and the busy counter are process-wide. */
int tileWidth = 2048;
int tileHeight = 1536;
int printerBusy = 0;

struct PrinterSettings {
  Tcl_Interp *interp = nullptr;
  float leftMargin = 25.4f, rightMargin = 25.4f, topMargin = 25.4f, bottomMargin = 25.4f;
  int interactive = 1;
  int fromPage = 1, toPage = 1;
  int pageCount = 1;
  std::string printer; /* the destination chosen in a dialog; empty: the default */
};

/* What printing needs to know of a printer. */
struct PrintDevice {
  std::string name;        /* the CUPS destination; empty with toFile */
  std::string file;        /* VESK_PRINT_FILE */
  bool toFile = false;
  double widthMM = 210.0, heightMM = 297.0;
  int dpi = 300;
  int horzRes() const { return roundToInt(widthMM / 25.4 * dpi); }
  int vertRes() const { return roundToInt(heightMM / 25.4 * dpi); }
};

struct FlagName {
  const char *name;
  unsigned value;
};

/* The names of the bits set, in table order; braced when two or more. */
std::string flagText(const FlagName *table, size_t n, unsigned flags) {
  std::vector<std::string> names;
  for (size_t i = 0; i < n; i++)
    if (table[i].value != 0 && (flags & table[i].value) == table[i].value)
      names.push_back(table[i].name);
  std::string text;
  for (size_t i = 0; i < names.size(); i++) text += (i ? " " : "") + names[i];
  return names.size() >= 2 ? "{" + text + "}" : text;
}

/* A name, braced when it holds a blank. */
std::string wordOf(const char *s) {
  std::string w = s ? s : "";
  return w.find(' ') != std::string::npos ? "{" + w + "}" : w;
}

const char *destOption(const cups_dest_t *d, const char *name) {
  return cupsGetOption(name, d->num_options, d->options);
}

/*
 * findPrintDevice --
 *     The named destination, else the chosen one, else the default; with
 *     VESK_PRINT_FILE set, the file stands in when CUPS knows no printer.
 * Results:      1, or 0 with CUPS's error text in error.
 */
int findPrintDevice(Tcl_Interp *interp, const char *name, PrintDevice &device,
                    std::string &error) {
  const char *file = Tcl_GetVar2(interp, "env", "VESK_PRINT_FILE", TCL_GLOBAL_ONLY);
  cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name, nullptr);
  if (!dest) {
    error = cupsLastErrorString() ? cupsLastErrorString() : "Unknown error";
    if (error.empty()) error = "Unknown error";
    if (!file || !*file || (name && *name)) return 0;
  }
  if (file && *file) {
    device.toFile = true;
    device.file = file;
  }
  if (dest) {
    device.name = dest->name;
    cups_dinfo_t *info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    if (info) {
      cups_size_t size;
      if (cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest, info, 0, &size) && size.width > 0 &&
          size.length > 0) {
        device.widthMM = size.width / 100.0;
        device.heightMM = size.length / 100.0;
      }
      ipp_attribute_t *res = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info,
                                                 "printer-resolution");
      if (res && ippGetValueTag(res) == IPP_TAG_RESOLUTION) {
        int yres;
        ipp_res_t units;
        int xres = ippGetResolution(res, 0, &yres, &units);
        if (units == IPP_RES_PER_CM) xres = roundToInt(xres * 2.54);
        if (xres > 0 && xres <= 4800) device.dpi = xres;
      }
      cupsFreeDestInfo(info);
    }
    cupsFreeDests(1, dest);
  }
  return 1;
}

/* ---- dialogs, in Tk ---- */

constexpr const char *kDialogScript = R"TCL(
namespace eval ::vesk::printer {
    variable done 0
    # OK of the print dialog: a range within 1 .. max closes it; any other
    # keeps it open with a note, as the page range is all the job has.
    proc checkRange {w max} {
        variable from_; variable to_
        if {[string is integer -strict $from_] && [string is integer -strict $to_]
                && 1 <= $from_ && $from_ <= $to_ && $to_ <= $max} {
            set ::vesk::printer::done 1
            return
        }
        $w.note configure -text "Enter pages between 1 and $max."
    }
    # The print dialog: the printer, and the page range from .. to of max
    # pages.  Result: {printer from to}, or {} when cancelled.
    proc printDialog {owner printers current from to max} {
        variable done; variable from_ $from; variable to_ $to
        set w .vesk_printdlg
        catch {destroy $w}
        toplevel $w
        wm title $w Print
        catch {wm transient $w $owner}
        label $w.l -text Printer
        listbox $w.list -height 5 -exportselection 0
        set i 0
        foreach p $printers {
            $w.list insert end $p
            if {$p eq $current} {$w.list selection set $i}
            incr i
        }
        label $w.fl -text From
        entry $w.from -textvariable ::vesk::printer::from_
        label $w.tl -text "To (of $max)"
        entry $w.to -textvariable ::vesk::printer::to_
        label $w.note
        button $w.ok -text OK -command [list ::vesk::printer::checkRange $w $max]
        button $w.cancel -text Cancel -command {set ::vesk::printer::done 0}
        wm protocol $w WM_DELETE_WINDOW [list $w.cancel invoke]
        grid $w.l - -sticky w
        grid $w.list - -sticky news
        grid $w.fl $w.from
        grid $w.tl $w.to
        grid $w.note - -sticky w
        grid $w.ok $w.cancel
        raise $w
        set done -1
        vwait ::vesk::printer::done
        set sel [$w.list curselection]
        set p [expr {$sel eq "" ? $current : [$w.list get [lindex $sel 0]]}]
        destroy $w
        if {!$done} {return {}}
        return [list $p $from_ $to_]
    }
    # The page set-up dialog: margins in millimetres.  Result: {left top
    # right bottom}, or {} when cancelled.
    proc pageSetupDialog {owner left top right bottom} {
        variable done
        set w .vesk_pagedlg
        catch {destroy $w}
        toplevel $w
        wm title $w "Page Setup"
        catch {wm transient $w $owner}
        foreach m {left top right bottom} {
            variable margin_$m [set $m]
            label $w.l$m -text "[string totitle $m] (mm)"
            entry $w.$m -textvariable ::vesk::printer::margin_$m
            grid $w.l$m $w.$m
        }
        button $w.ok -text OK -command {set ::vesk::printer::done 1}
        button $w.cancel -text Cancel -command {set ::vesk::printer::done 0}
        wm protocol $w WM_DELETE_WINDOW [list $w.cancel invoke]
        grid $w.ok $w.cancel
        raise $w
        set done -1
        vwait ::vesk::printer::done
        destroy $w
        if {!$done} {return {}}
        set out {}
        foreach m {left top right bottom} {
            set v [set margin_$m]
            if {![string is double -strict $v] || $v < 0} {return {}}
            lappend out $v
        }
        return $out
    }
}
)TCL";

int ensureDialogs(Tcl_Interp *interp) {
  if (Tcl_FindCommand(interp, "::vesk::printer::printDialog", nullptr, 0)) return TCL_OK;
  return Tcl_Eval(interp, kDialogScript);
}

std::vector<std::string> destinationNames() {
  std::vector<std::string> names;
  cups_dest_t *dests = nullptr;
  int n = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  for (int i = 0; i < n; i++) names.push_back(dests[i].name);
  cupsFreeDests(n, dests);
  return names;
}

/* The owner window of a dialog: the named Tk window, else ".". */
int dialogOwner(Tcl_Interp *interp, int argc, const char **argv, std::string &owner) {
  owner = ".";
  if (argc == 3) {
    if (!Tk_NameToWindow(interp, argv[2], Tk_MainWindow(interp))) return TCL_ERROR;
    owner = argv[2];
  }
  return TCL_OK;
}

/*
 * runPrintDialog --
 *     The print dialog offering the pages 1 .. maxPages: it opens on the
 *     last from page (held within them) to maxPages.
 * Results:      1 chosen (printer and range stored, within 1 .. maxPages),
 *               0 cancelled, -1 an error (message in the result).
 */
int runPrintDialog(PrinterSettings *s, const std::string &owner, int maxPages) {
  maxPages = std::max(1, maxPages);
  Tcl_Interp *interp = s->interp;
  if (ensureDialogs(interp) != TCL_OK) return -1;
  Tcl_Obj *printers = Tcl_NewListObj(0, nullptr);
  for (const std::string &n : destinationNames())
    Tcl_ListObjAppendElement(nullptr, printers, Tcl_NewStringObj(n.c_str(), -1));
  Tcl_Obj *cmd = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(cmd);
  Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj("::vesk::printer::printDialog", -1));
  Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj(owner.c_str(), -1));
  Tcl_ListObjAppendElement(nullptr, cmd, printers);
  Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj(s->printer.c_str(), -1));
  Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewIntObj(std::min(std::max(1, s->fromPage), maxPages)));
  Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewIntObj(maxPages));
  Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewIntObj(maxPages));
  int oldMode = Tcl_SetServiceMode(TCL_SERVICE_ALL);
  int code = Tcl_EvalObjEx(interp, cmd, TCL_EVAL_GLOBAL);
  Tcl_SetServiceMode(oldMode);
  Tcl_DecrRefCount(cmd);
  if (code != TCL_OK) return -1;
  Tcl_Obj **parts;
  int n;
  if (Tcl_ListObjGetElements(interp, Tcl_GetObjResult(interp), &n, &parts) != TCL_OK) return -1;
  if (n != 3) {
    Tcl_ResetResult(interp);
    return 0;
  }
  int from = 1, to = 1;
  Tcl_GetIntFromObj(nullptr, parts[1], &from);
  Tcl_GetIntFromObj(nullptr, parts[2], &to);
  s->printer = Tcl_GetString(parts[0]);
  s->fromPage = std::min(std::max(1, from), maxPages);
  s->toPage = std::min(std::max(s->fromPage, to), maxPages);
  Tcl_ResetResult(interp);
  return 1;
}

int usage(Tcl_Interp *interp, const char *name, const char *sub, const char *rest) {
  Tcl_AppendResult(interp, "Usage: ", name, " ", sub, rest, nullptr);
  return TCL_ERROR;
}

/* ---- enum ---- */

int printerEnum(PrinterSettings *, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Tcl_AppendResult(interp, argv[0], " ", argv[1], " level ?options?", nullptr);
    return TCL_ERROR;
  }
  static const FlagName words[] = {{"default", 0x1}, {"remote", 0x10}, {"shared", 0x20},
                                   {"favorite", 0x4}, {"local", 0x2},  {"name", 0x8}};
  unsigned flags = 0;
  for (int i = 3; i < argc; i++) {
    bool found = false;
    for (const FlagName &w : words)
      if (strcasecmp(argv[i], w.name) == 0) flags |= w.value, found = true;
    if (!found) {
      Tcl_AppendResult(interp, argv[0], " ", argv[1], " level ?options?", nullptr);
      return TCL_ERROR;
    }
  }
  if (argc == 3) flags = 0x7;
  int level = atoi(argv[2]);
  if (level != 1 && level != 2 && level != 4 && level != 5) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("valid level is 1, 2, 4, 5\n", -1));
    return TCL_ERROR;
  }
  cups_dest_t *dests = nullptr;
  int n = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  if (n == 0 && cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
    const char *msg = cupsLastErrorString();
    Tcl_SetObjResult(interp, Tcl_NewStringObj(msg && *msg ? msg : "Unknown error", -1));
    return TCL_ERROR;
  }
  static const FlagName where[] = {{"LOCAL", 0x40}, {"NETWORK", 0x10}};
  static const FlagName attrs[] = {{"QUEUED", 0x1},
                                   {"DIRECT", 0x2},
                                   {"DEFAULT", 0x4},
                                   {"SHARED", 0x8},
                                   {"WORK_OFFLINE", 0x400}};
  for (int i = 0; i < n; i++) {
    const cups_dest_t *d = &dests[i];
    const char *typeText = destOption(d, "printer-type");
    unsigned type = typeText ? static_cast<unsigned>(strtoul(typeText, nullptr, 10)) : 0;
    const bool remote = (type & CUPS_PRINTER_REMOTE) != 0;
    const char *sharedText = destOption(d, "printer-is-shared");
    const bool shared = sharedText && strcmp(sharedText, "true") == 0;
    /* DEFAULT the default one, LOCAL and FAVORITE the local ones, REMOTE
       and NAME the network ones, SHARED the shared ones. */
    bool take = ((flags & 0x1) && d->is_default) || ((flags & 0x6) && !remote) ||
                ((flags & 0x18) && remote) || ((flags & 0x20) && shared);
    if (!take) continue;
    std::string e = wordOf(d->name);
    if (level == 2) {
      e += " " + wordOf(destOption(d, "printer-make-and-model"));
      e += " " + wordOf(destOption(d, "device-uri"));
    } else if (level == 4) {
      e += " " + wordOf(remote ? cupsServer() : "");
      e += " " + flagText(where, 2, remote ? 0x10 : 0x40);
    } else if (level == 5) {
      e += " " + wordOf(destOption(d, "device-uri"));
      const char *state = destOption(d, "printer-state");
      const char *accepting = destOption(d, "printer-is-accepting-jobs");
      unsigned a = 0x1;
      if (d->is_default) a |= 0x4;
      if (shared) a |= 0x8;
      if ((state && atoi(state) == IPP_PSTATE_STOPPED) ||
          (accepting && strcmp(accepting, "false") == 0))
        a |= 0x400;
      e += " " + flagText(attrs, 5, a);
    }
    Tcl_AppendElement(interp, e.c_str());
  }
  cupsFreeDests(n, dests);
  return TCL_OK;
}

/* ---- capability ---- */

const FlagName kRasterCaps[] = {
    {"RC_NONE", 0},           {"RC_BITBLT", 1},          {"RC_BANDING", 2},
    {"RC_SCALING", 4},        {"RC_BITMAP64", 8},        {"RC_GDI20_OUTPUT", 0x10},
    {"RC_GDI20_STATE", 0x20}, {"RC_SAVEBITMAP", 0x40},   {"RC_DI_BITMAP", 0x80},
    {"RC_PALETTE", 0x100},    {"RC_DIBTODEV", 0x200},    {"RC_BIGFONT", 0x400},
    {"RC_STRETCHBLT", 0x800}, {"RC_FLOODFILL", 0x1000},  {"RC_STRETCHDIB", 0x2000},
    {"RC_OP_DX_OUTPUT", 0x4000}, {"RC_DEVBITS", 0x8000}};
const FlagName kCurveCaps[] = {{"CC_NONE", 0},      {"CC_CIRCLES", 1},    {"CC_PIE", 2},
                               {"CC_CHORD", 4},     {"CC_ELLIPSES", 8},   {"CC_WIDE", 16},
                               {"CC_STYLED", 32},   {"CC_WIDESTYLED", 64}, {"CC_INTERIORS", 128},
                               {"CC_ROUNDRECT", 256}};
const FlagName kLineCaps[] = {{"LC_NONE", 0},      {"LC_POLYLINE", 2},   {"LC_MARKER", 4},
                              {"LC_POLYMARKER", 8}, {"LC_WIDE", 16},     {"LC_STYLED", 32},
                              {"LC_WIDESTYLED", 64}, {"LC_INTERIORS", 128}};
const FlagName kPolygonCaps[] = {{"PC_NONE", 0},       {"PC_POLYGON", 1},   {"PC_RECTANGLE", 2},
                                 {"PC_WINDPOLYGON", 4}, {"PC_TRAPEZOID", 4}, {"PC_SCANLINE", 8},
                                 {"PC_WIDE", 16},       {"PC_STYLED", 32},   {"PC_WIDESTYLED", 64},
                                 {"PC_INTERIORS", 128}};
const FlagName kTextCaps[] = {
    {"TC_OP_CHARACTER", 1}, {"TC_OP_STROKE", 2},    {"TC_CP_STROKE", 4},     {"TC_CR_90", 8},
    {"TC_CR_ANY", 0x10},    {"TC_SF_X_YINDEP", 0x20}, {"TC_SA_DOUBLE", 0x40}, {"TC_SA_INTEGER", 0x80},
    {"TC_SA_CONTIN", 0x100}, {"TC_EA_DOUBLE", 0x200}, {"TC_IA_ABLE", 0x400},  {"TC_UA_ABLE", 0x800},
    {"TC_SO_ABLE", 0x1000}, {"TC_RA_ABLE", 0x2000}, {"TC_VA_ABLE", 0x4000},  {"TC_RESERVED", 0x8000},
    {"TC_SCROLLBLT", 0x10000}};
const FlagName kClipCaps[] = {{"CP_NONE", 0}, {"CP_RECTANGLE", 1}, {"CP_REGION", 2}};

/*
 * printerCapability --
 *     The capabilities of the default (or named) printer.  Pages are
 *     raster bands in a PDF: the printer takes bitmaps (bit blocks,
 *     banding, scaling, stretched DIBs) and draws no figures itself, so
 *     the curve, line, polygon and text capabilities are empty.
 */
int printerCapability(PrinterSettings *s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2 && argc != 5)
    return usage(interp, argv[0], argv[1], " printerDriver printerName port");
  PrintDevice dev;
  std::string error;
  const char *name = argc == 5 ? argv[3] : (s->printer.empty() ? nullptr : s->printer.c_str());
  if (!findPrintDevice(interp, name, dev, error)) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(error.c_str(), -1));
    return TCL_ERROR;
  }
  const int hres = dev.horzRes(), vres = dev.vertRes();
  const int aspect = dev.dpi;
  const unsigned raster = 0x1 | 0x2 | 0x4 | 0x80 | 0x800 | 0x2000;
  char line[128];
  auto add = [&](const char *fmt, auto value) {
    snprintf(line, sizeof line, fmt, value);
    Tcl_AppendElement(interp, line);
  };
  auto addText = [&](const char *label, const std::string &text) {
    Tcl_AppendElement(interp, (std::string(label) + " " + text).c_str());
  };
  add("DRIVERVERSION %d", 0x400);
  addText("TECHNOLOGY", "DT_RASPRINTER");
  add("HORZSIZE %d", roundToInt(dev.widthMM));
  add("VERTSIZE %d", roundToInt(dev.heightMM));
  add("HORZRES %d", hres);
  add("VERTRES %d", vres);
  add("LOGPIXELSX %d", dev.dpi);
  add("LOGPIXELSY %d", dev.dpi);
  add("BITSPIXEL %d", 24);
  add("PLANES %d", 1);
  add("NUMBRUSHES %d", -1);
  add("NUMPENS %d", -1);
  add("NUMFONTS %d", 0);
  add("NUMCOLORS %d", -1);
  add("ASPECTX %d", aspect);
  add("ASPECTY %d", aspect);
  add("ASPECTXY %d", roundToInt(sqrt(2.0) * aspect));
  add("CLIPCAPS %d", 1);
  add("SIZEPALETTE %d", 0);
  add("COLORRES %d", 24);
  add("PHYSICALWIDTH %d", hres);
  add("PHYSICALHEIGHT %d", vres);
  add("SCALINGFACTORX %d", 0);
  add("SCALINGFACTORY %d", 0);
  add("BLTALIGNMENT %d", 0);
  addText("RASTERCAPS", flagText(kRasterCaps, std::size(kRasterCaps), raster));
  addText("CURVECAPS", flagText(kCurveCaps, std::size(kCurveCaps), 0));
  addText("LINECAPS", flagText(kLineCaps, std::size(kLineCaps), 0));
  addText("POLYGONCAPS", flagText(kPolygonCaps, std::size(kPolygonCaps), 0));
  addText("TEXTCAPS", flagText(kTextCaps, std::size(kTextCaps), 0));
  addText("CLIPCAPS", flagText(kClipCaps, std::size(kClipCaps), 1));
  return TCL_OK;
}

/* ---- setup, pagesetup, interactive, tile sizes ---- */

int printerSetup(PrinterSettings *s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) return usage(interp, argv[0], argv[1], " window");
  std::string owner;
  if (dialogOwner(interp, argc, argv, owner) != TCL_OK) return TCL_ERROR;
  if (!s->interactive) return TCL_OK;
  int r = runPrintDialog(s, owner, std::max(1, s->pageCount));
  if (r < 0) {
    Tcl_ResetResult(interp);
    return TCL_ERROR;
  }
  return TCL_OK;
}

int printerPagesetup(PrinterSettings *s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) return usage(interp, argv[0], argv[1], " window");
  std::string owner;
  if (dialogOwner(interp, argc, argv, owner) != TCL_OK) return TCL_ERROR;
  if (!s->interactive) return TCL_OK;
  if (ensureDialogs(interp) != TCL_OK) return TCL_ERROR;
  Tcl_Obj *cmd = Tcl_ObjPrintf("::vesk::printer::pageSetupDialog {%s} %g %g %g %g",
                               owner.c_str(), s->leftMargin, s->topMargin, s->rightMargin,
                               s->bottomMargin);
  Tcl_IncrRefCount(cmd);
  int oldMode = Tcl_SetServiceMode(TCL_SERVICE_ALL);
  int code = Tcl_EvalObjEx(interp, cmd, TCL_EVAL_GLOBAL);
  Tcl_SetServiceMode(oldMode);
  Tcl_DecrRefCount(cmd);
  if (code != TCL_OK) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Error in PageSetupDlg.", -1));
    return TCL_ERROR;
  }
  Tcl_Obj **m;
  int n;
  if (Tcl_ListObjGetElements(nullptr, Tcl_GetObjResult(interp), &n, &m) == TCL_OK && n == 4) {
    double v[4];
    for (int i = 0; i < 4; i++)
      if (Tcl_GetDoubleFromObj(nullptr, m[i], &v[i]) != TCL_OK) n = 0;
    if (n == 4) {
      s->leftMargin = static_cast<float>(v[0]);
      s->topMargin = static_cast<float>(v[1]);
      s->rightMargin = static_cast<float>(v[2]);
      s->bottomMargin = static_cast<float>(v[3]);
    }
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int printerInteractive(PrinterSettings *s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " interactive [option]", nullptr);
    return TCL_ERROR;
  }
  if (argc == 3) s->interactive = static_cast<int>(atol(argv[2]));
  Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d", s->interactive));
  return TCL_OK;
}

int tileSize(Tcl_Interp *interp, int argc, const char **argv, int *size, const char *invalid) {
  if (argc >= 3) {
    long n = atol(argv[2]);
    if (n < kMinTile || n > 32000) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj(invalid, -1));
      return TCL_ERROR;
    }
    *size = static_cast<int>(n);
  }
  Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d", *size));
  return TCL_OK;
}

/* ---- canvas ---- */

cairo_status_t appendBytes(void *closure, const unsigned char *data, unsigned int length) {
  try {
    static_cast<std::string *>(closure)->append(reinterpret_cast<const char *>(data), length);
  } catch (const std::bad_alloc &) {
    return CAIRO_STATUS_NO_MEMORY;
  }
  return CAIRO_STATUS_SUCCESS;
}

/* Sends the PDF to the device: its file, or a CUPS job. */
int submitDocument(Tcl_Interp *interp, const PrintDevice &dev, const char *title,
                   const std::string &pdf) {
  if (dev.toFile) {
    /* Written beside the file and renamed: a failure leaves the old file. */
    if (int error = saveFileBytes(dev.file.c_str(), pdf.data(), pdf.size())) {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("Fail to write %s: %s", dev.file.c_str(),
                                             Tcl_ErrnoMsg(error)));
      return TCL_ERROR;
    }
    return TCL_OK;
  }
  int job = cupsCreateJob(CUPS_HTTP_DEFAULT, dev.name.c_str(), title, 0, nullptr);
  bool ok = job > 0 && cupsStartDocument(CUPS_HTTP_DEFAULT, dev.name.c_str(), job, title,
                                         CUPS_FORMAT_PDF, 1) == HTTP_STATUS_CONTINUE;
  for (size_t at = 0; ok && at < pdf.size(); at += 65536)
    ok = cupsWriteRequestData(CUPS_HTTP_DEFAULT, pdf.data() + at,
                              std::min<size_t>(65536, pdf.size() - at)) == HTTP_STATUS_CONTINUE;
  if (job > 0 && cupsFinishDocument(CUPS_HTTP_DEFAULT, dev.name.c_str()) > IPP_STATUS_OK_CONFLICTING)
    ok = false;
  if (!ok) {
    if (job > 0) cupsCancelJob2(CUPS_HTTP_DEFAULT, dev.name.c_str(), job, 0);
    const char *msg = cupsLastErrorString();
    Tcl_AppendResult(interp, "Fail to print: ", msg && *msg ? msg : "Unknown error", nullptr);
    return TCL_ERROR;
  }
  return TCL_OK;
}

/* A page shows at most this many canvas pixels a printer dot each way:
   a smaller scale would capture far more than the page can show. */
constexpr double kMinPrintScale = 0.25;

/*
 * reduceBand --
 *     A band larger than the dots it is printed on, sampled down to them
 *     (nearest pixel, as the page would show it), so that a page holds
 *     at most its own dots whatever the region's size.
 */
void reduceBand(RgbImage &band, int w, int h) {
  if (w < 1 || h < 1 || (band.width <= w && band.height <= h)) return;
  w = std::min(w, band.width);
  h = std::min(h, band.height);
  RgbImage out;
  out.width = w;
  out.height = h;
  out.pixels.resize(static_cast<size_t>(w) * h);
  for (int r = 0; r < h; r++) {
    const size_t from = static_cast<size_t>((int64_t{r} * band.height + band.height / 2) / h);
    for (int c = 0; c < w; c++) {
      const size_t col = static_cast<size_t>((int64_t{c} * band.width + band.width / 2) / w);
      out.pixels[static_cast<size_t>(r) * w + c] = band.pixels[from * band.width + col];
    }
  }
  band = std::move(out);
}

/* A page of the job: the canvas region x0..x1, y0..y1 (inclusive). */
struct PageRect {
  int x0, y0, x1, y1;
};

struct PrintJob {
  Tcl_Interp *interp;
  std::string canvasPath;
  CanvasInfo info;
  int coordType;
  double scale;
  int left, top;
  cairo_t *cr;
};

/*
 * printPageBands --
 *     Paints the bands of one page.  Events are serviced after every band;
 *     the canvas is looked up again before each, so a canvas destroyed
 *     meanwhile ends the job.
 * Results:      TCL_OK, or TCL_ERROR with the message in the result.
 */
int printPageBands(PrintJob &job, const PageRect &page, int k, int m) {
  float f = static_cast<float>(k) / m;
  meterSet("Printing done", f);
  float threshold = f;
  const int tw = tileWidth, th = tileHeight;
  const int64_t cols = (static_cast<int64_t>(page.x1) - page.x0 + tw - 1) / tw;
  int64_t n = ((static_cast<int64_t>(page.y1) - page.y0 + th - 1) * cols) / th;
  if (n < 1) n = 1;
  double x = job.left;
  RgbImage band;
  for (int bx = page.x0; bx < page.x1 || bx == page.x0; bx += tw) {
    const int bx1 = std::min(bx + tw, page.x1);
    double y = job.top;
    int w = 0;
    for (int by = page.y0; by < page.y1 || by == page.y0; by += th) {
      const int by1 = std::min(by + th, page.y1);
      w = roundToInt(job.scale * (bx1 - bx + 1));
      const int h = roundToInt(job.scale * (by1 - by + 1));
      CanvasInfo now;
      if (getCanvasInfo(job.interp, job.canvasPath.c_str(), &now) != 0 ||
          now.widget != job.info.widget) {
        Tcl_SetObjResult(job.interp, Tcl_NewStringObj("Not a canvas widget", -1));
        return TCL_ERROR;
      }
      if (!captureCanvasBand(job.interp, &now, bx, by, bx1 - bx + 1, by1 - by + 1, job.coordType,
                             band))
        return TCL_ERROR;
      reduceBand(band, w, h);
      cairo_surface_t *image =
          cairo_image_surface_create(CAIRO_FORMAT_RGB24, band.width, band.height);
      cairo_surface_flush(image);
      unsigned char *data = cairo_image_surface_get_data(image);
      const int stride = cairo_image_surface_get_stride(image);
      for (int r = 0; r < band.height; r++)
        memcpy(data + static_cast<size_t>(r) * stride,
               &band.pixels[static_cast<size_t>(r) * band.width], 4 * static_cast<size_t>(band.width));
      cairo_surface_mark_dirty(image);
      cairo_t *cr = job.cr;
      cairo_save(cr);
      cairo_rectangle(cr, x, y, w, h);
      cairo_clip(cr);
      cairo_translate(cr, x, y);
      cairo_scale(cr, static_cast<double>(w) / band.width, static_cast<double>(h) / band.height);
      cairo_set_source_surface(cr, image, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
      cairo_paint(cr);
      cairo_restore(cr);
      cairo_surface_destroy(image);
      f += 1.0f / static_cast<float>(n) / static_cast<float>(m);
      if (f >= threshold) {
        meterSet("Printing done", threshold);
        threshold += meterInc();
      }
      Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
      y += h;
      if (by1 >= page.y1) break;
    }
    x += w;
    if (bx1 >= page.x1) break;
  }
  meterSet("Printing done", static_cast<float>(k + 1) / m);
  return TCL_OK;
}

int printCanvasJob(PrinterSettings *s, Tcl_Interp *interp, int argc, const char **argv,
                   PrintDevice &dev, bool named) {
  const int horzRes = dev.horzRes(), vertRes = dev.vertRes();
  const int left = roundToInt(s->leftMargin / dev.widthMM * horzRes);
  const int top = roundToInt(s->topMargin / dev.heightMM * vertRes);
  const int right = roundToInt(horzRes - horzRes * s->rightMargin / dev.widthMM);
  const int bottom = roundToInt(vertRes - vertRes * s->bottomMargin / dev.heightMM);
  double scale = argc >= 4 ? atof(argv[3]) : 0.0;
  int x0, y0, x1, y1;
  CanvasInfo info;
  if (getCanvasInfo(interp, argv[2], &info) != 0) return TCL_ERROR;
  if (argc >= 8) {
    x0 = static_cast<int>(atol(argv[4]));
    y0 = static_cast<int>(atol(argv[5]));
    x1 = static_cast<int>(atol(argv[6]));
    y1 = static_cast<int>(atol(argv[7]));
  } else {
    getCanvasBounds(&info, &x0, &y0, &x1, &y1);
  }
  const int coordType = argc >= 9 ? static_cast<int>(atol(argv[8])) : 0;
  if (x1 < x0 || y1 < y0) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Invalid region: %d %d %d %d", x0, y0, x1, y1));
    return TCL_ERROR;
  }
  const int pw = right - left + 1, ph = bottom - top + 1;
  if (pw < 1 || ph < 1) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Error in resolving print region", -1));
    return TCL_ERROR;
  }
  if (!(scale > 0))
    scale = std::min(static_cast<double>(pw) / (x1 - x0 + 1.0),
                     static_cast<double>(ph) / (y1 - y0 + 1.0));
  /* A page must cover at least one canvas unit each way, else the page
     loop would not advance. */
  const double twd = pw / scale, thd = ph / scale;
  if (!(twd >= 0.5 && thd >= 0.5) || !std::isfinite(scale)) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Invalid scale: %s", argc >= 4 ? argv[3] : "0"));
    return TCL_ERROR;
  }
  if (scale < kMinPrintScale) {
    const double regionW = std::min(x1 - x0 + 1.0, twd), regionH = std::min(y1 - y0 + 1.0, thd);
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Region too large for the page: %.0f x %.0f canvas "
                                           "pixels onto %d x %d dots at %d dpi (scale %g, at "
                                           "least %g)",
                                           regionW, regionH, pw, ph, dev.dpi, scale, kMinPrintScale));
    return TCL_ERROR;
  }
  const int tw = std::max(1, static_cast<int>(std::min(twd + 0.5, 1e9)));
  const int th = std::max(1, static_cast<int>(std::min(thd + 0.5, 1e9)));
  std::vector<PageRect> pages;
  for (int64_t y = y0; y < y1 || y == y0; y += th) {
    for (int64_t x = x0; x < x1 || x == x0; x += tw) {
      pages.push_back({static_cast<int>(x), static_cast<int>(y),
                       static_cast<int>(std::min<int64_t>(x + tw, x1)),
                       static_cast<int>(std::min<int64_t>(y + th, y1))});
      if (pages.size() > 100000) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("Too many pages.", -1));
        return TCL_ERROR;
      }
    }
  }
  s->pageCount = static_cast<int>(pages.size());
  if (named || !s->interactive) {
    s->fromPage = 1;
    s->toPage = s->pageCount;
  } else {
    Tk_Window tkwin = Tk_NameToWindow(interp, argv[2], Tk_MainWindow(interp));
    int r = runPrintDialog(s, tkwin ? argv[2] : ".", s->pageCount);
    if (r < 0) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("Fail to get default printer DC", -1));
      return TCL_ERROR;
    }
    if (r == 0) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("0", -1));
      return TCL_OK;
    }
    std::string error;
    PrintDevice chosen;
    if (findPrintDevice(interp, s->printer.empty() ? nullptr : s->printer.c_str(), chosen, error))
      dev = chosen;
    Tcl_Eval(interp, "update; _busyIcon");
    Tcl_ResetResult(interp);
  }
  /* The canvas record stays while the job runs; it is looked up again before every band. */
  PrintJob job{interp, argv[2], info, coordType, scale, left, top, nullptr};
  Tcl_Preserve(info.widget);
  std::string pdf;
  const double ptPerDot = 72.0 / dev.dpi;
  cairo_surface_t *surface = cairo_pdf_surface_create_for_stream(
      appendBytes, &pdf, dev.widthMM / 25.4 * 72.0, dev.heightMM / 25.4 * 72.0);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, argv[2]);
  job.cr = cairo_create(surface);
  cairo_scale(job.cr, ptPerDot, ptPerDot);
  meterReset();
  int code = TCL_OK;
  const int m = std::max(1, std::min(s->toPage, s->pageCount) - s->fromPage + 1);
  int k = 0;
  try {
    for (size_t i = 0; i < pages.size() && code == TCL_OK; i++) {
      const int number = static_cast<int>(i) + 1;
      if (number < s->fromPage || number > s->toPage) continue;
      code = printPageBands(job, pages[i], k++, m);
      if (code == TCL_OK) cairo_show_page(job.cr);
    }
  } catch (const std::bad_alloc &) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Out of memory.", -1));
    code = TCL_ERROR;
  }
  cairo_destroy(job.cr);
  cairo_surface_finish(surface);
  if (code == TCL_OK && cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(cairo_status_to_string(cairo_surface_status(surface)), -1));
    code = TCL_ERROR;
  }
  cairo_surface_destroy(surface);
  Tcl_Release(info.widget);
  Tcl_InterpState state = Tcl_SaveInterpState(interp, code);
  meterReset();
  code = Tcl_RestoreInterpState(interp, state);
  if (code == TCL_OK && k > 0) code = submitDocument(interp, dev, argv[2], pdf);
  if (code == TCL_OK) Tcl_SetObjResult(interp, Tcl_NewStringObj("1", -1));
  return code;
}

int printerCanvas(PrinterSettings *s, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4 && argc != 8 && argc != 9 && argc != 12)
    return usage(interp, argv[0], argv[1],
                 " canvasName [scale x0 y0 x1 y1 [coordType] [printerDriver printerName port]]");
  if (printerBusy) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Printer is busy...", -1));
    return TCL_ERROR;
  }
  const bool named = argc == 12;
  PrintDevice dev;
  std::string error;
  if (!findPrintDevice(interp, named ? argv[10] : (s->printer.empty() ? nullptr : s->printer.c_str()),
                       dev, error)) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(named ? "Fail to get specified printer DC"
                                                    : "Error in resolving print region",
                                              -1));
    return TCL_ERROR;
  }
  printerBusy++;
  int code;
  try {
    code = printCanvasJob(s, interp, argc, argv, dev, named);
  } catch (const std::bad_alloc &) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Out of memory.", -1));
    code = TCL_ERROR;
  }
  printerBusy--;
  return code;
}

/* ---- the command ---- */

struct PrinterSubcommand {
  const char *name;
  size_t shortest;
  int (*proc)(PrinterSettings *, Tcl_Interp *, int, const char **);
};

int printerTileWidth(PrinterSettings *, Tcl_Interp *interp, int argc, const char **argv) {
  return tileSize(interp, argc, argv, &tileWidth, "Invalid tile width.");
}
int printerTileHeight(PrinterSettings *, Tcl_Interp *interp, int argc, const char **argv) {
  return tileSize(interp, argc, argv, &tileHeight, "Invalid tile height.");
}

const PrinterSubcommand kSubcommands[] = {
    {"enum", 3, printerEnum},
    {"capability", 4, printerCapability},
    {"canvas", 4, printerCanvas},
    {"interactive", 5, printerInteractive},
    {"pagesetup", 4, printerPagesetup},
    {"setup", 5, printerSetup},
    {"tilewidth", 5, printerTileWidth},
    {"tileheight", 5, printerTileHeight},
};

int printerCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  PrinterSettings *s = static_cast<PrinterSettings *>(clientData);
  if (requireLibrary(interp, kLazyCups) != TCL_OK || requireLibrary(interp, kLazyCairo) != TCL_OK)
    return TCL_ERROR;
  /* The server as the environment names it now (CUPS_SERVER may change). */
  cupsSetServer(nullptr);
  if (argc >= 2) {
    const size_t len = strlen(argv[1]);
    for (const PrinterSubcommand &sub : kSubcommands)
      if (len >= sub.shortest && strncmp(argv[1], sub.name, len) == 0)
        return sub.proc(s, interp, argc, argv);
  }
  Tcl_AppendResult(interp, "Usage: ", argv[0], " ", kPrinterCommands, nullptr);
  return TCL_ERROR;
}

void printerCmdDeleted(ClientData clientData) { delete static_cast<PrinterSettings *>(clientData); }

void printerExit(ClientData) {}

}  // namespace

int Printer_Init(Tcl_Interp *interp) {
  if (Tcl_PkgProvide(interp, "TK_PRINTER", "1.0") != TCL_OK) return TCL_ERROR;
  PrinterSettings *s = new PrinterSettings;
  s->interp = interp;
  if (!Tcl_CreateCommand(interp, "printer", printerCmd, s, printerCmdDeleted)) {
    delete s;
    return TCL_ERROR;
  }
  if (Gmetafile_Init(interp) != TCL_OK) return TCL_ERROR;
  static bool exitHandler = false;
  if (!exitHandler) {
    Tcl_CreateExitHandler(printerExit, nullptr);
    exitHandler = true;
  }
  return TCL_OK;
}

}  // namespace vesk
