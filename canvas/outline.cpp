/*
 * outline.cpp --
 *     The stroke record of line-drawing items: width, colour, stipple and
 *     dash pattern per state, the GC values derived from it, the dash
 *     option, and the stroke's PostScript.  A dash background colour makes
 *     the dashes double (gaps drawn in that colour).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "canvas/gcanvas.h"

namespace vesk {

namespace {

const char *dashBytes(const GcanvasDash *dash) {
  int n = abs(dash->number);
  return n > static_cast<int>(sizeof(char *)) ? dash->pattern.pt : dash->pattern.array;
}

/* The values that apply in the item's present state. */
struct OutlineState {
  double width;
  const GcanvasDash *dash;
  XColor *color;
  Pixmap stipple;
  bool hidden;
};

OutlineState chooseState(ItemContainer *c, GcanvasItem *item, GcanvasOutline *o, bool anyDisabled) {
  OutlineState s{o->width, &o->dash, o->color, o->stipple, false};
  int state = effectiveState(c, item);
  if (itemIsCurrent(c, item)) {
    if (o->activeWidth > s.width) s.width = o->activeWidth;
    if (o->activeDash.number != 0) s.dash = &o->activeDash;
    if (o->activeColor) s.color = o->activeColor;
    if (o->activeStipple != None) s.stipple = o->activeStipple;
  } else if (state == STATE_DISABLED) {
    if (anyDisabled ? o->disabledWidth > 0 : o->disabledWidth > s.width) s.width = o->disabledWidth;
    if (o->disabledDash.number != 0) s.dash = &o->disabledDash;
    if (o->disabledColor) s.color = o->disabledColor;
    if (o->disabledStipple != None) s.stipple = o->disabledStipple;
  }
  s.hidden = state == STATE_HIDDEN;
  return s;
}

bool isCharPattern(const GcanvasDash *dash) {
  const char *p = dashBytes(dash);
  return dash->number < -1 || (dash->number == -1 && p[1] != ',');
}

}  // namespace

void initOutline(GcanvasOutline *o) { *o = GcanvasOutline(); }

void freeDash(GcanvasDash *dash) {
  if (abs(dash->number) > static_cast<int>(sizeof(char *))) ckfree(dash->pattern.pt);
  dash->number = 0;
}

void freeOutline(Display *display, GcanvasOutline *o) {
  freeItemGCs(display, {&o->gc});
  freeDash(&o->dash);
  freeDash(&o->activeDash);
  freeDash(&o->disabledDash);
  freeItemColors({&o->color, &o->background, &o->activeColor, &o->disabledColor});
  freeItemBitmaps(display, {&o->stipple, &o->activeStipple, &o->disabledStipple});
}

bool outlineHasActiveLook(const GcanvasOutline *o) {
  return o->activeWidth > o->width || o->activeDash.number != 0 || o->activeColor ||
         o->activeStipple != None;
}

double outlineStateWidth(ItemContainer *c, GcanvasItem *item, GcanvasOutline *o) {
  return chooseState(c, item, o, true).width;
}

double outlineWidthFor(ItemContainer *c, GcanvasItem *item, GcanvasOutline *o) {
  double w = outlineStateWidth(c, item, o);
  return w < 1.0 ? 1.0 : w;
}

GC getHighlightGC(ItemContainer *c, GcanvasItem *item, GcanvasOutline *o, XColor *color,
                  XGCValues *values) {
  if (!color) return None;
  double w = o->width;
  if (itemIsCurrent(c, item) && o->activeWidth > w) w = o->activeWidth;
  if (w < 1.0) w = 1.0;
  values->foreground = color->pixel;
  values->line_width = saturatingInt(w + 0.5);
  return Tk_GetGC(canvasTkwin(c), GCForeground | GCLineWidth, values);
}

/*
 * configOutlineGC --
 *     The GC values of the item's stroke for its state.
 * Results:      the value mask, 0 when nothing is to be stroked.
 */
int configOutlineGC(XGCValues *gcValues, ItemContainer *c, GcanvasItem *item, GcanvasOutline *o) {
  if (o->width < 0) o->width = 0;
  if (o->activeWidth < 0) o->activeWidth = 0;
  if (o->disabledWidth < 0) o->disabledWidth = 0;
  OutlineState s = chooseState(c, item, o, true);
  if (s.hidden || !s.color) return 0;
  double width = s.width < 1.0 ? 1.0 : s.width;
  gcValues->line_width = saturatingInt(width + 0.5);
  gcValues->foreground = s.color->pixel;
  int mask = GCForeground | GCLineWidth;
  if (s.stipple != None) {
    gcValues->stipple = s.stipple;
    gcValues->fill_style = FillStippled;
    mask |= GCStipple | GCFillStyle;
  }
  if (s.dash->number != 0) {
    if (o->background) {
      gcValues->line_style = LineDoubleDash;
      gcValues->background = o->background->pixel;
      mask |= GCBackground;
    } else {
      gcValues->line_style = LineOnOffDash;
    }
    gcValues->dash_offset = o->offset;
    if (s.dash->number >= 2)
      gcValues->dashes = 4;
    else if (s.dash->number > 0)
      gcValues->dashes = dashBytes(s.dash)[0];
    else
      gcValues->dashes = static_cast<char>(saturatingInt(4 * width));
    mask |= GCLineStyle | GCDashList | GCDashOffset;
  }
  return mask;
}

/*
 * changeOutlineGC --
 *     Before drawing: the dash list and stipple origin for the state.
 * Results:      1 when a stipple is in use.
 */
int changeOutlineGC(ItemContainer *c, GcanvasItem *item, GcanvasOutline *o) {
  OutlineState s = chooseState(c, item, o, false);
  double width = s.width < 1.0 ? 1.0 : s.width;
  Display *display = canvasOf(c)->c.display;
  if (o->gc == None) return 0;
  if (s.dash->number != 0 && isCharPattern(s.dash)) {
    int n = abs(s.dash->number);
    std::vector<char> lengths(2 * static_cast<size_t>(n) + 2);
    int count = dashConvert(lengths.data(), dashBytes(s.dash), n, width);
    if (count > 0) XSetDashes(display, o->gc, o->offset, lengths.data(), count);
  } else if (s.dash->number > 2 ||
             (s.dash->number == 2 && dashBytes(s.dash)[0] != dashBytes(s.dash)[1])) {
    XSetDashes(display, o->gc, o->offset, dashBytes(s.dash), s.dash->number);
  }
  if (s.stipple != None) {
    StippleOffset saved = o->tsoffset;
    if (!(saved.flags & OFFSET_INDEX) && (saved.flags & (OFFSET_CENTER | OFFSET_MIDDLE))) {
      int w = 0, h = 0;
      Tk_SizeOfBitmap(display, s.stipple, &w, &h);
      if (saved.flags & OFFSET_CENTER) o->tsoffset.x -= w / 2;
      if (saved.flags & OFFSET_MIDDLE) o->tsoffset.y -= h / 2;
    }
    setStippleOffset(c, o->gc, &o->tsoffset);
    o->tsoffset = saved;
    return 1;
  }
  return 0;
}

int resetOutlineGC(ItemContainer *c, GcanvasItem *item, GcanvasOutline *o) {
  OutlineState s = chooseState(c, item, o, false);
  double width = s.width < 1.0 ? 1.0 : s.width;
  Display *display = canvasOf(c)->c.display;
  if (o->gc == None) return 0;
  bool charPattern = s.dash->number != 0 && isCharPattern(s.dash);
  if (charPattern || s.dash->number > 2 ||
      (s.dash->number == 2 && dashBytes(s.dash)[0] != dashBytes(s.dash)[1])) {
    char dash;
    if (charPattern)
      dash = static_cast<char>(saturatingInt(4 * width + 0.5));
    else if (s.dash->number > 2)
      dash = 4;
    else
      dash = dashBytes(s.dash)[0];
    XSetDashes(display, o->gc, o->offset, &dash, 1);
  }
  if (s.stipple != None) {
    XSetTSOrigin(display, o->gc, 0, 0);
    return 1;
  }
  return 0;
}

/*
 * outlinePostScript --
 *     Appends the stroke: width, dash, colour, then stroke or a stippled
 *     stroke clip.
 */
int outlinePostScript(ItemContainer *c, GcanvasItem *item, GcanvasOutline *o) {
  Tcl_Interp *interp = canvasOf(c)->c.interp;
  OutlineState s = chooseState(c, item, o, true);
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%.15g setlinewidth\n", s.width);
  Tcl_AppendResult(interp, buffer, nullptr);
  std::vector<int> lengths;
  if (s.dash->number > 0) {
    const char *p = dashBytes(s.dash);
    for (int i = 0; i < s.dash->number; i++) lengths.push_back(static_cast<unsigned char>(p[i]));
  } else if (s.dash->number < 0) {
    int n = -s.dash->number;
    std::vector<char> converted(2 * static_cast<size_t>(n) + 2);
    int count = dashConvert(converted.data(), dashBytes(s.dash), n, s.width);
    for (int i = 0; i < count; i++) lengths.push_back(static_cast<unsigned char>(converted[i]));
  }
  if (lengths.empty()) {
    Tcl_AppendResult(interp, "[] 0 setdash\n", nullptr);
  } else {
    std::string text = "[" + std::to_string(lengths[0]);
    for (size_t i = 1; i < lengths.size(); i++) text += " " + std::to_string(lengths[i]);
    if (lengths.size() & 1)
      for (int v : lengths) text += " " + std::to_string(v);
    text += "] " + std::to_string(o->offset) + " setdash\n";
    Tcl_AppendResult(interp, text.c_str(), nullptr);
  }
  if (canvasPsColor(interp, c, s.color) != TCL_OK) return TCL_ERROR;
  if (s.stipple != None) {
    Tcl_AppendResult(interp, "StrokeClip ", nullptr);
    if (canvasPsStipple(interp, c, s.stipple) != TCL_OK) return TCL_ERROR;
  } else {
    Tcl_AppendResult(interp, "stroke\n", nullptr);
  }
  return TCL_OK;
}

/*
 * dashConvert --
 *     Turns a character pattern into dash lengths at a line width.
 * Results:      the number of lengths, 0 for a pattern starting with a blank.
 */
int dashConvert(char *out, const char *p, int n, double width) {
  int w = saturatingInt(width + 0.5);
  if (w < 1) w = 1;
  if (n < 0) n = static_cast<int>(strlen(p));
  int result = 0;
  for (int i = 0; i < n && p[i]; i++) {
    int a, b;
    switch (p[i]) {
    case ' ':
      if (result == 0) return 0;
      if (out) out[result - 1] = static_cast<char>(out[result - 1] + w + 1);
      continue;
    case '_': a = 8; b = 4; break;
    case '-': a = 6; b = 4; break;
    case ',': a = 4; b = 4; break;
    case '.': a = 2; b = 4; break;
    default: return -1;
    }
    if (out) {
      out[result] = static_cast<char>(a * w);
      out[result + 1] = static_cast<char>(b * w);
    }
    result += 2;
  }
  return result;
}

/*
 * getDash --
 *     Reads a dash option value: a list of lengths 1..255 or a pattern of
 *     ".", ",", "-", "_" and blanks.
 */
int getDash(Tcl_Interp *interp, const char *value, GcanvasDash *dash) {
  freeDash(dash);
  if (!value || !*value) return TCL_OK;
  auto store = [&](const char *bytes, int n, int number) {
    char *target;
    if (n > static_cast<int>(sizeof(char *))) {
      dash->pattern.pt = (char *)ckalloc(static_cast<unsigned>(n));
      target = dash->pattern.pt;
    } else {
      target = dash->pattern.array;
    }
    memcpy(target, bytes, static_cast<size_t>(n));
    dash->number = number;
  };
  auto badList = [&]() {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "bad dash list \"", value,
                     "\": must be a list of integers or a format like \"-..\"", nullptr);
    return TCL_ERROR;
  };
  if (strchr(".,-_", value[0])) {
    int n = static_cast<int>(strlen(value));
    if (dashConvert(nullptr, value, n, 1) <= 0) return badList();
    store(value, n, -n);
    return TCL_OK;
  }
  int argc;
  const char **argv;
  if (Tcl_SplitList(interp, value, &argc, &argv) != TCL_OK) return badList();
  if (argc == 0) {
    ckfree(reinterpret_cast<char *>(argv));
    return TCL_OK;
  }
  std::vector<char> bytes;
  for (int i = 0; i < argc; i++) {
    int v;
    if (Tcl_GetInt(interp, argv[i], &v) != TCL_OK) {
      ckfree(reinterpret_cast<char *>(argv));
      return badList();
    }
    if (v < 1 || v > 255) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "expected integer in the range 1..255 but got \"", argv[i], "\"",
                       nullptr);
      ckfree(reinterpret_cast<char *>(argv));
      return TCL_ERROR;
    }
    bytes.push_back(static_cast<char>(v));
  }
  ckfree(reinterpret_cast<char *>(argv));
  store(bytes.data(), argc, argc);
  return TCL_OK;
}

namespace {

int dashParse(ClientData, Tcl_Interp *interp, Tk_Window, const char *value, char *widgRec,
              int offset) {
  return getDash(interp, value, reinterpret_cast<GcanvasDash *>(widgRec + offset));
}

const char *dashPrint(ClientData, Tk_Window, char *widgRec, int offset,
                      Tcl_FreeProc **freeProcPtr) {
  GcanvasDash *dash = reinterpret_cast<GcanvasDash *>(widgRec + offset);
  const char *p = dashBytes(dash);
  std::string text;
  if (dash->number < 0) {
    text.assign(p, static_cast<size_t>(-dash->number));
  } else {
    for (int i = 0; i < dash->number; i++) {
      if (i) text += ' ';
      text += std::to_string(static_cast<unsigned char>(p[i]));
    }
  }
  char *result = (char *)ckalloc(static_cast<unsigned>(text.size() + 1));
  memcpy(result, text.c_str(), text.size() + 1);
  *freeProcPtr = TCL_DYNAMIC;
  return result;
}

}  // namespace

Tk_CustomOption dashOption = {dashParse, dashPrint, nullptr};

}  // namespace vesk
