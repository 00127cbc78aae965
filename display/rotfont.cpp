/*
 * rotfont.cpp --
 *     Fonts with a width scale, an escapement (direction of the baseline)
 *     and an orientation (direction of each glyph), for the text items of
 *     the map canvas.  Faces are chosen through fontconfig and rendered by
 *     cairo-ft with antialiasing off into a 1-bit mask, which is filled
 *     through a copy of the caller's GC as a stipple, so the GC's function,
 *     clip, colour and stipple still decide what reaches the drawable.
 *
 *     A font record holds one or more subfonts: the requested face first,
 *     then faces that fontconfig offers for characters the first lacks.
 *     Faces are shared per thread in a family list.
 */
#include "display/rotfont.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include <math.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "core/text.h"
#include "display/drawing.h"

namespace vesk {

/* A face shared by the fonts of one thread. */
struct RotatedFamily {
  RotatedFamily *next = nullptr;
  int refCount = 0;
  std::string name;             /* family name fontconfig reports */
  std::string key;              /* file and index: identifies the face */
  FcPattern *pattern = nullptr; /* the matched pattern */
  FcCharSet *charset = nullptr; /* owned by pattern */
  cairo_font_face_t *face = nullptr;
  int monospace = 0;
};

namespace {

struct FamilyList {
  RotatedFamily *head;
  int exitHandlerSet;
};

Tcl_ThreadDataKey familyKey;

FamilyList *familyList() {
  return static_cast<FamilyList *>(
      Tcl_GetThreadData(&familyKey, static_cast<int>(sizeof(FamilyList))));
}

void destroyFamily(RotatedFamily *family) {
  if (family->face) cairo_font_face_destroy(family->face);
  if (family->pattern) FcPatternDestroy(family->pattern);
  delete family;
}

/* Set once the thread's list is gone: fonts still alive free their faces themselves. */
thread_local bool familiesReleased = false;

/*
 * freeFamiliesAtThreadExit --
 *     Drops the list's own hold on every face; a face that fonts still
 *     use (items destroyed later in the exit) goes with its last font.
 */
void freeFamiliesAtThreadExit(ClientData) {
  FamilyList *list = familyList();
  familiesReleased = true;
  while (list->head) {
    RotatedFamily *family = list->head;
    list->head = family->next;
    family->next = nullptr;
    if (--family->refCount <= 0) destroyFamily(family);
  }
}

/* Tk's alias classes, each closed by the fontconfig generic family. */
const char *const kAliasClasses[][5] = {
    {"Times", "Times New Roman", "New York", "serif", nullptr},
    {"Helvetica", "Arial", "Geneva", "sans-serif", nullptr},
    {"Courier", "Courier New", "Monaco", "monospace", nullptr},
    {"mincho", "MS Mincho", "serif", nullptr, nullptr},
    {"gothic", "MS Gothic", "sans-serif", nullptr, nullptr},
    {"dingbats", "zapfdingbats", "itc zapfdingbats", "zapf dingbats", nullptr},
};

/* The system font names and what stands for them. */
struct StockFont {
  const char *name;
  const char *family;
  int pixels;
  int bold;
};
const StockFont kStockFonts[] = {
    {"ansifixed", "monospace", 13, 0}, {"ansi", "sans-serif", 13, 0},
    {"device", "sans-serif", 16, 1},   {"oemfixed", "monospace", 12, 0},
    {"systemfixed", "monospace", 16, 0}, {"system", "sans-serif", 16, 1},
};

bool isGenericFamily(const char *name) {
  return !strcasecmp(name, "serif") || !strcasecmp(name, "sans-serif") ||
         !strcasecmp(name, "sans") || !strcasecmp(name, "monospace");
}

/* A family exists when fontconfig lists a face of exactly that name. */
bool familyExists(const char *name) {
  if (!name || !*name) return false;
  if (!strcasecmp(name, "Courier") || !strcasecmp(name, "Times") ||
      !strcasecmp(name, "Helvetica"))
    return false;
  if (isGenericFamily(name)) return true;
  FcPattern *pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(name));
  FcObjectSet *objects = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet *set = FcFontList(nullptr, pattern, objects);
  bool found = set && set->nfont > 0;
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return found;
}

int pixelsForSize(Tk_Window tkwin, double size) {
  if (size < 0) return roundToInt(-size);
  if (size == 0) return 12;
  double perMM = 72.0 / 25.4;
  if (tkwin) {
    Screen *screen = Tk_Screen(tkwin);
    double pixels = size / perMM * WidthOfScreen(screen) / WidthMMOfScreen(screen);
    return std::max(1, roundToInt(pixels));
  }
  return std::max(1, roundToInt(size / perMM * 96.0 / 25.4));
}

double pointsForPixels(Tk_Window tkwin, int pixels) {
  double perMM = 72.0 / 25.4;
  if (tkwin) {
    Screen *screen = Tk_Screen(tkwin);
    return pixels * perMM * WidthMMOfScreen(screen) / WidthOfScreen(screen);
  }
  return pixels * perMM * 25.4 / 96.0;
}

/* The fontconfig pattern of a request, substituted and ready to match. */
FcPattern *requestPattern(const char *family, const TkFontAttributes *fa, int pixels) {
  FcPattern *pattern = FcPatternCreate();
  if (family && *family)
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family));
  FcPatternAddInteger(pattern, FC_WEIGHT,
                      fa->weight == TK_FW_BOLD ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT,
                      fa->slant == TK_FS_ITALIC ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddDouble(pattern, FC_PIXEL_SIZE, pixels);
  FcPatternAddBool(pattern, FC_ANTIALIAS, FcFalse);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  return pattern;
}

/*
 * acquireFamily --
 *     The thread's family record of a matched pattern (taken over), found
 *     by its face file and index or made.
 * Results:      the family with its count raised; a new one starts at 2, so
 *               it outlives its first font.
 */
RotatedFamily *acquireFamily(FcPattern *matched) {
  FcChar8 *file = nullptr;
  int index = 0;
  FcPatternGetString(matched, FC_FILE, 0, &file);
  FcPatternGetInteger(matched, FC_INDEX, 0, &index);
  std::string key = std::string(file ? reinterpret_cast<char *>(file) : "") + ":" +
                    std::to_string(index);
  FamilyList *list = familyList();
  if (!list->exitHandlerSet) {
    Tcl_CreateThreadExitHandler(freeFamiliesAtThreadExit, nullptr);
    list->exitHandlerSet = 1;
  }
  for (RotatedFamily *family = list->head; family; family = family->next) {
    if (family->key == key) {
      family->refCount++;
      FcPatternDestroy(matched);
      return family;
    }
  }
  RotatedFamily *family = new RotatedFamily;
  family->key = key;
  family->pattern = matched;
  FcChar8 *name = nullptr;
  if (FcPatternGetString(matched, FC_FAMILY, 0, &name) == FcResultMatch)
    family->name = reinterpret_cast<char *>(name);
  FcPatternGetCharSet(matched, FC_CHARSET, 0, &family->charset);
  int spacing = 0;
  if (FcPatternGetInteger(matched, FC_SPACING, 0, &spacing) == FcResultMatch)
    family->monospace = spacing == FC_MONO;
  FcPatternDel(matched, FC_ANTIALIAS);
  FcPatternAddBool(matched, FC_ANTIALIAS, FcFalse);
  family->face = cairo_ft_font_face_create_for_pattern(matched);
  family->refCount = 2;
  family->next = list->head;
  list->head = family;
  return family;
}

void releaseFamily(RotatedFamily *family) {
  if (--family->refCount > 0) return;
  if (familiesReleased) {
    destroyFamily(family);
    return;
  }
  FamilyList *list = familyList();
  for (RotatedFamily **link = &list->head; *link; link = &(*link)->next) {
    if (*link == family) {
      *link = family->next;
      break;
    }
  }
  destroyFamily(family);
}

/* The face's average character width per em: OS/2 xAvgCharWidth, else 'x'. */
double averageWidthPerEm(cairo_scaled_font_t *upright, double em) {
  double ratio = 0;
  FT_Face face = cairo_ft_scaled_font_lock_face(upright);
  if (face) {
    TT_OS2 *os2 = static_cast<TT_OS2 *>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->xAvgCharWidth > 0 && face->units_per_EM > 0)
      ratio = static_cast<double>(os2->xAvgCharWidth) / face->units_per_EM;
    if (ratio <= 0) {
      cairo_glyph_t glyph = {FT_Get_Char_Index(face, 'x'), 0, 0};
      cairo_ft_scaled_font_unlock_face(upright);
      face = nullptr;
      cairo_text_extents_t extents;
      cairo_scaled_font_glyph_extents(upright, &glyph, 1, &extents);
      ratio = extents.x_advance / em;
    }
    if (face) cairo_ft_scaled_font_unlock_face(upright);
  }
  return ratio > 0 ? ratio : 0.5;
}

cairo_scaled_font_t *makeScaledFont(cairo_font_face_t *face, double xScale, double yScale,
                                    double angleDegrees, bool hintMetrics) {
  cairo_matrix_t fontMatrix, identity;
  cairo_matrix_init_rotate(&fontMatrix, -angleDegrees * M_PI / 180.0);
  cairo_matrix_scale(&fontMatrix, xScale, yScale);
  cairo_matrix_init_identity(&identity);
  cairo_font_options_t *options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
  cairo_font_options_set_hint_metrics(options,
                                      hintMetrics ? CAIRO_HINT_METRICS_ON : CAIRO_HINT_METRICS_OFF);
  cairo_scaled_font_t *scaled = cairo_scaled_font_create(face, &fontMatrix, &identity, options);
  cairo_font_options_destroy(options);
  return scaled;
}

RotatedSubfont makeSubfont(RotatedFont *font, RotatedFamily *family) {
  RotatedSubfont sub;
  sub.family = family;
  sub.upright = makeScaledFont(family->face, font->xScale, font->pixelSize, 0, true);
  sub.turned = makeScaledFont(family->face, font->xScale, font->pixelSize, font->orientation,
                              false);
  return sub;
}

void releaseSubfonts(RotatedFont *font) {
  for (RotatedSubfont &sub : font->subfonts) {
    cairo_scaled_font_destroy(sub.upright);
    cairo_scaled_font_destroy(sub.turned);
    releaseFamily(sub.family);
  }
  font->subfonts.clear();
  font->subfontOf.clear();
  if (font->fallbacks) FcFontSetDestroy(font->fallbacks);
  font->fallbacks = nullptr;
}

/*
 * nextChar --
 *     Decodes one character of Tcl's UTF-8 (sequences of up to 4 bytes;
 *     0xC0 0x80 is NUL); a byte that starts no valid sequence stands for
 *     itself, as Tcl reads it.
 * Results:      the bytes consumed (at least 1); the character in *ch.
 */
int nextChar(const char *p, const char *end, int *ch) {
  const unsigned char *u = reinterpret_cast<const unsigned char *>(p);
  long avail = end - p;
  unsigned lead = u[0];
  int length = lead < 0x80 ? 1 : lead < 0xC0 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
  if (length == 1 || length == 0 || length > avail) {
    *ch = static_cast<int>(lead);
    return 1;
  }
  int value = static_cast<int>(lead & (0x7F >> length));
  for (int i = 1; i < length; i++) {
    if ((u[i] & 0xC0) != 0x80) {
      *ch = static_cast<int>(lead);
      return 1;
    }
    value = (value << 6) | (u[i] & 0x3F);
  }
  *ch = value;
  return length;
}

bool isBreakSpace(int ch) {
  return ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r' || ch == ' ';
}

/*
 * subfontFor --
 *     The subfont that draws a character: the first for characters below
 *     128; else the first subfont whose face has it; else a new subfont on
 *     the first face fontconfig offers that has it.  A character no face
 *     has is recorded in the first subfont, so the search runs once.
 */
int subfontFor(RotatedFont *font, int ch) {
  if (ch < 128 || font->subfonts.empty()) return 0;
  auto known = font->subfontOf.find(ch);
  if (known != font->subfontOf.end()) return known->second;
  int found = -1;
  for (size_t i = 0; i < font->subfonts.size() && found < 0; i++) {
    FcCharSet *charset = font->subfonts[i].family->charset;
    if (charset && FcCharSetHasChar(charset, static_cast<FcChar32>(ch)))
      found = static_cast<int>(i);
  }
  if (found < 0) {
    FcPattern *request = requestPattern(font->fa.family, &font->fa, font->pixelSize);
    if (!font->fallbacks) {
      FcResult result;
      font->fallbacks = FcFontSort(nullptr, request, FcFalse, nullptr, &result);
    }
    for (int i = 0; font->fallbacks && i < font->fallbacks->nfont && found < 0; i++) {
      FcPattern *candidate = font->fallbacks->fonts[i];
      FcCharSet *charset = nullptr;
      if (FcPatternGetCharSet(candidate, FC_CHARSET, 0, &charset) != FcResultMatch ||
          !FcCharSetHasChar(charset, static_cast<FcChar32>(ch)))
        continue;
      FcPattern *matched = FcFontRenderPrepare(nullptr, request, candidate);
      if (!matched) continue;
      RotatedFamily *family = acquireFamily(matched);
      bool already = false;
      for (const RotatedSubfont &sub : font->subfonts) already = already || sub.family == family;
      if (already) {
        releaseFamily(family);
        continue;
      }
      font->subfonts.push_back(makeSubfont(font, family));
      found = static_cast<int>(font->subfonts.size() - 1);
    }
    FcPatternDestroy(request);
  }
  if (found < 0) found = 0;
  font->subfontOf[ch] = found;
  return found;
}

/* One placed glyph of a laid-out string, in baseline pixels from its start. */
struct PlacedGlyph {
  int subfont;
  unsigned long index;
  int penX;    /* advance before the glyph */
  int advance;
  int byteEnd; /* offset just past the character */
  int ch;
};

int glyphAdvance(cairo_scaled_font_t *upright, unsigned long index) {
  cairo_glyph_t glyph = {index, 0, 0};
  cairo_text_extents_t extents;
  cairo_scaled_font_glyph_extents(upright, &glyph, 1, &extents);
  return roundToInt(extents.x_advance);
}

/*
 * layoutChars --
 *     Places the characters of a string along its baseline: each in its
 *     subfont, advancing by whole pixels (the same advances measure and
 *     draw, so they agree).  With a limit of zero or more, placing stops
 *     after the first glyph that ends past it: a wrapped line costs its own
 *     length, never the rest of the text's.
 */
void layoutChars(RotatedFont *font, const char *source, int numBytes,
                 std::vector<PlacedGlyph> &out, int limit = -1) {
  out.clear();
  if (font->subfonts.empty() || numBytes <= 0) return;
  const char *end = source + numBytes;
  int penX = 0;
  std::vector<FT_Face> locked(font->subfonts.size(), nullptr);
  for (const char *p = source; p < end && (limit < 0 || penX <= limit);) {
    int ch;
    int n = nextChar(p, end, &ch);
    p += n;
    int sub = subfontFor(font, ch);
    if (locked.size() < font->subfonts.size()) locked.resize(font->subfonts.size(), nullptr);
    PlacedGlyph glyph{sub, 0, penX, 0, static_cast<int>(p - source), ch};
    if (!locked[sub]) locked[sub] = cairo_ft_scaled_font_lock_face(font->subfonts[sub].upright);
    glyph.index = locked[sub] ? FT_Get_Char_Index(locked[sub], static_cast<FT_ULong>(ch)) : 0;
    glyph.advance = (ch < 128 && sub == 0) ? font->widths[ch]
                                            : glyphAdvance(font->subfonts[sub].upright, glyph.index);
    penX += glyph.advance;
    out.push_back(glyph);
  }
  for (size_t i = 0; i < locked.size(); i++)
    if (locked[i]) cairo_ft_scaled_font_unlock_face(font->subfonts[i].upright);
}

/*
 * fillFontRecord --
 *     Makes the first subfont for a resolved family and fills the record's
 *     attributes, metrics and width table.
 */
void fillFontRecord(RotatedFont *font, const char *family, const TkFontAttributes *fa) {
  FcPattern *pattern = requestPattern(family, fa, font->pixelSize);
  FcResult result;
  FcPattern *matched = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!matched) return;
  RotatedFamily *fam = acquireFamily(matched);

  // The width scale sets the average character width to widthScale x height.
  font->xScale = font->pixelSize;
  if (font->widthScale != 0) {
    cairo_scaled_font_t *probe = makeScaledFont(fam->face, font->pixelSize, font->pixelSize, 0,
                                                false);
    double ratio = averageWidthPerEm(probe, font->pixelSize);
    cairo_scaled_font_destroy(probe);
    int width = roundToInt(fabs(static_cast<double>(font->pixelSize)) * font->widthScale);
    if (width > 0) font->xScale = width / ratio;
  }
  font->subfonts.push_back(makeSubfont(font, fam));
  cairo_scaled_font_t *upright = font->subfonts[0].upright;

  cairo_font_extents_t extents;
  cairo_scaled_font_extents(upright, &extents);
  font->fm.ascent = roundToInt(extents.ascent);
  font->fm.descent = roundToInt(extents.descent);
  font->fm.maxWidth = roundToInt(extents.max_x_advance);
  font->fm.fixed = fam->monospace;

  FT_Face face = cairo_ft_scaled_font_lock_face(upright);
  for (int c = 0; c < 128; c++) {
    unsigned long index = face ? FT_Get_Char_Index(face, static_cast<FT_ULong>(c)) : 0;
    font->widths[c] = glyphAdvance(upright, index);
  }
  if (face) cairo_ft_scaled_font_unlock_face(upright);

  font->tabWidth = 8 * std::max(1, font->widths[static_cast<int>('0')]);
  font->underlinePos = std::max(1, font->fm.descent / 2);
  font->underlineHeight = std::max(1, font->pixelSize / 12);

  int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(fam->pattern, FC_WEIGHT, 0, &weight);
  FcPatternGetInteger(fam->pattern, FC_SLANT, 0, &slant);
  font->fa.family = Tk_GetUid(fam->name.c_str());
  font->fa.size = pointsForPixels(font->tkwin, font->pixelSize);
  font->fa.weight = weight > FC_WEIGHT_MEDIUM ? TK_FW_BOLD : TK_FW_NORMAL;
  font->fa.slant = slant != FC_SLANT_ROMAN ? TK_FS_ITALIC : TK_FS_ROMAN;
  font->fa.underline = fa->underline;
  font->fa.overstrike = fa->overstrike;
}

/* Ink position of glyph i: the pen point turned by the escapement. */
void penPoint(const RotatedFont *font, int penX, double x, double y, double *px, double *py) {
  double a = font->escapement * M_PI / 180.0;
  *px = x + penX * cos(a);
  *py = y - penX * sin(a);
}

/* The box covering the text's glyphs and lines, in device pixels. */
bool inkBounds(RotatedFont *font, const std::vector<PlacedGlyph> &glyphs, int x, int y,
               double *x0, double *y0, double *x1, double *y1) {
  bool any = false;
  auto add = [&](double ax, double ay) {
    if (!any) {
      *x0 = *x1 = ax;
      *y0 = *y1 = ay;
      any = true;
    }
    *x0 = std::min(*x0, ax);
    *x1 = std::max(*x1, ax);
    *y0 = std::min(*y0, ay);
    *y1 = std::max(*y1, ay);
  };
  for (const PlacedGlyph &g : glyphs) {
    cairo_glyph_t glyph = {g.index, 0, 0};
    cairo_text_extents_t e;
    cairo_scaled_font_glyph_extents(font->subfonts[static_cast<size_t>(g.subfont)].turned, &glyph,
                                    1, &e);
    if (e.width <= 0 || e.height <= 0) continue;
    double px, py;
    penPoint(font, g.penX, x, y, &px, &py);
    add(px + e.x_bearing, py + e.y_bearing);
    add(px + e.x_bearing + e.width, py + e.y_bearing + e.height);
  }
  if ((font->fa.underline || font->fa.overstrike) && !glyphs.empty()) {
    int total = glyphs.back().penX + glyphs.back().advance;
    double a = font->escapement * M_PI / 180.0, c = cos(a), s = sin(a);
    double top = -font->fm.ascent, bottom = font->underlinePos + font->underlineHeight;
    for (double along : {0.0, static_cast<double>(total)})
      for (double across : {top, bottom}) add(x + along * c + across * s, y - along * s + across * c);
  }
  return any;
}

}  // namespace

/* Sets up fontconfig once per process. */
void initFontPackage() { FcInit(); }

/*
 * resolveFamily --
 *     The face name a request uses: the family when it exists, else the
 *     first existing name of its alias class; generic names stand for
 *     fontconfig's configured families.
 * Results:      1 when a name was found, 0 when the request is kept as is.
 */
int resolveFamily(const char *family, std::string &resolved) {
  resolved = family ? family : "";
  if (!family || !*family) return 0;
  if (familyExists(family)) return 1;
  for (const auto &aliases : kAliasClasses) {
    bool member = false;
    for (const char *const *name = aliases; *name; name++) member = member || !strcasecmp(*name, family);
    if (!member) continue;
    for (const char *const *name = aliases; *name; name++) {
      if (strcasecmp(*name, family) && familyExists(*name)) {
        resolved = *name;
        return 1;
      }
    }
  }
  return 0;
}

/*
 * getRotatedFont --
 *     A font record for the attributes at a width scale, escapement and
 *     orientation (degrees counter-clockwise).  Without the advanced flag
 *     each glyph turns with the baseline, whatever the orientation.
 * Results:      font refilled in place (its subfonts released first), or
 *               a new record when font is NULL.
 */
RotatedFont *getRotatedFont(RotatedFont *font, Tk_Window tkwin, const TkFontAttributes *fa,
                            double widthScale, double escapement, double orientation,
                            int advanced) {
  if (!font) {
    font = new RotatedFont;
  } else {
    releaseSubfonts(font);
    font->fm = TkFontMetrics{};
  }
  TkFontAttributes request{};
  if (fa) request = *fa;
  font->tkwin = tkwin;
  font->pixelSize = pixelsForSize(tkwin, request.size);
  font->widthScale = widthScale;
  font->escapement = escapement;
  font->orientation = advanced ? orientation : escapement;
  font->advanced = advanced;
  std::string family;
  resolveFamily(request.family, family);
  fillFontRecord(font, family.c_str(), &request);
  return font;
}

/*
 * getNativeRotatedFont --
 *     A font record for one of the system font names ("ansifixed",
 *     "ansi", "device", "oemfixed", "systemfixed", "system").
 * Results:      the record, or NULL for any other name.
 */
RotatedFont *getNativeRotatedFont(Tk_Window tkwin, const char *name) {
  for (const StockFont &stock : kStockFonts) {
    if (name && !strcmp(name, stock.name)) {
      TkFontAttributes fa{};
      fa.family = Tk_GetUid(stock.family);
      fa.size = -stock.pixels;
      fa.weight = stock.bold ? TK_FW_BOLD : TK_FW_NORMAL;
      return getRotatedFont(nullptr, tkwin, &fa, 0, 0, 0, 0);
    }
  }
  return nullptr;
}

namespace {

/* A shared font: its request and the number of holders. */
struct SharedFont {
  std::string family;
  double size;
  int weight, slant, underline, overstrike;
  double widthScale, escapement, orientation;
  int advanced;
  Screen *screen;
  RotatedFont *font;
  int refCount;
};

std::vector<SharedFont> &sharedFonts() {
  static thread_local std::vector<SharedFont> fonts;
  return fonts;
}

}  // namespace

/*
 * acquireRotatedFont --
 *     A font record shared by every holder of the same request (family,
 *     size, style, width scale, angles and screen): callers that make one
 *     font per item at each zoom get one font for all items of one look.
 * Results:      the record with its holder count raised.
 */
RotatedFont *acquireRotatedFont(Tk_Window tkwin, const TkFontAttributes *fa, double widthScale,
                                double escapement, double orientation, int advanced) {
  if (!advanced) orientation = escapement;
  Screen *screen = tkwin ? Tk_Screen(tkwin) : nullptr;
  const char *family = fa->family ? fa->family : "";
  for (SharedFont &s : sharedFonts()) {
    if (s.size == fa->size && s.widthScale == widthScale && s.escapement == escapement &&
        s.orientation == orientation && s.advanced == advanced && s.weight == fa->weight &&
        s.slant == fa->slant && s.underline == fa->underline &&
        s.overstrike == fa->overstrike && s.screen == screen && s.family == family) {
      s.refCount++;
      return s.font;
    }
  }
  RotatedFont *font = getRotatedFont(nullptr, tkwin, fa, widthScale, escapement, orientation,
                                     advanced);
  sharedFonts().push_back({family, fa->size, fa->weight, fa->slant, fa->underline,
                           fa->overstrike, widthScale, escapement, orientation, advanced, screen,
                           font, 1});
  return font;
}

/* Drops one holder of a shared font; the last one frees it.  NULL is ignored. */
void releaseRotatedFont(RotatedFont *font) {
  if (!font) return;
  std::vector<SharedFont> &fonts = sharedFonts();
  for (size_t i = 0; i < fonts.size(); i++) {
    if (fonts[i].font != font) continue;
    if (--fonts[i].refCount == 0) {
      fonts[i] = fonts.back();
      fonts.pop_back();
      freeRotatedFont(font);
    }
    return;
  }
}

/* The number of shared fonts alive (for tests). */
int sharedFontCount() { return static_cast<int>(sharedFonts().size()); }

/* Releases the subfonts and frees the record; NULL is ignored. */
void freeRotatedFont(RotatedFont *font) {
  if (!font) return;
  releaseSubfonts(font);
  delete font;
}

/* Appends every installed family name to the interpreter's list result. */
void getFontFamilies(Tcl_Interp *interp, Tk_Window /*tkwin*/) {
  FcPattern *pattern = FcPatternCreate();
  FcObjectSet *objects = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet *set = FcFontList(nullptr, pattern, objects);
  Tcl_Obj *result = Tcl_GetObjResult(interp);
  if (Tcl_IsShared(result)) {
    result = Tcl_DuplicateObj(result);
    Tcl_SetObjResult(interp, result);
  }
  std::vector<std::string> names;
  for (int i = 0; set && i < set->nfont; i++) {
    FcChar8 *name = nullptr;
    if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &name) == FcResultMatch)
      names.emplace_back(reinterpret_cast<char *>(name));
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  for (const std::string &name : names)
    Tcl_ListObjAppendElement(interp, result, Tcl_NewStringObj(name.c_str(), -1));
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
}

/* Appends the face name of each subfont to the interpreter's list result. */
void getSubFonts(Tcl_Interp *interp, RotatedFont *font) {
  Tcl_Obj *result = Tcl_GetObjResult(interp);
  if (Tcl_IsShared(result)) {
    result = Tcl_DuplicateObj(result);
    Tcl_SetObjResult(interp, result);
  }
  for (const RotatedSubfont &sub : font->subfonts)
    Tcl_ListObjAppendElement(interp, result, Tcl_NewStringObj(sub.family->name.c_str(), -1));
}

/*
 * measureRotatedChars --
 *     How many bytes of the string fit in maxLength pixels along the
 *     baseline (negative: no limit), under Tk's flags: whole words, at
 *     least one character, partial character OK.
 * Results:      the byte count; its width goes to lengthPtr.
 */
int measureRotatedChars(RotatedFont *font, const char *source, int numBytes, int maxLength,
                        int flags, int *lengthPtr) {
  std::vector<PlacedGlyph> glyphs;
  if (numBytes <= 0 || !font) {
    *lengthPtr = 0;
    return 0;
  }
  layoutChars(font, source, numBytes, glyphs, maxLength);
  if (glyphs.empty()) {
    *lengthPtr = 0;
    return 0;
  }
  if (maxLength < 0) {
    *lengthPtr = glyphs.empty() ? 0 : glyphs.back().penX + glyphs.back().advance;
    return numBytes;
  }
  size_t stop = 0;  /* glyphs that fit */
  int curX = 0;
  int breakBytes = -1, breakX = 0;
  int previousChar = -1;
  for (; stop < glyphs.size(); stop++) {
    const PlacedGlyph &g = glyphs[stop];
    if (isBreakSpace(g.ch) && previousChar >= 0 && !isBreakSpace(previousChar)) {
      breakBytes = stop == 0 ? 0 : glyphs[stop - 1].byteEnd;
      breakX = curX;
    }
    if (curX + g.advance > maxLength) break;
    curX += g.advance;
    previousChar = g.ch;
  }
  bool stoppedEarly = stop < glyphs.size();
  size_t taken = stop;
  int takenX = curX;
  if (stoppedEarly && (flags & kMeasurePartialOk) && curX < maxLength) {
    takenX += glyphs[taken].advance;
    taken++;
  }
  int bytes;
  if ((flags & kMeasureAtLeastOne) && breakBytes < 0) {
    if (taken == 0) {
      taken = 1;
      takenX = glyphs[0].advance;
    }
    bytes = glyphs[taken - 1].byteEnd;
  } else if (!stoppedEarly || !(flags & kMeasureWholeWords) || breakBytes < 0) {
    bytes = taken == 0 ? 0 : glyphs[taken - 1].byteEnd;
  } else {
    bytes = breakBytes;
    takenX = breakX;
  }
  *lengthPtr = takenX;
  return bytes;
}

/*
 * rotatedInkBox --
 *     The device box the text would cover when drawn with its baseline
 *     start at (x, y).
 * Results:      1 and the box, or 0 when the text has no ink.
 */
int rotatedInkBox(RotatedFont *font, const char *source, int numBytes, int x, int y,
                  XRectangle *box) {
  std::vector<PlacedGlyph> glyphs;
  layoutChars(font, source, numBytes, glyphs);
  double x0, y0, x1, y1;
  if (!inkBounds(font, glyphs, x, y, &x0, &y0, &x1, &y1)) return 0;
  box->x = static_cast<short>(floor(x0));
  box->y = static_cast<short>(floor(y0));
  box->width = static_cast<unsigned short>(ceil(x1) - floor(x0));
  box->height = static_cast<unsigned short>(ceil(y1) - floor(y0));
  return 1;
}

/*
 * drawRotatedChars --
 *     Draws the string with its baseline start at (x, y), along the font's
 *     escapement, in the GC's foreground: the glyphs are rendered into a
 *     1-bit mask (ANDed with the GC's own stipple when it has one) that a
 *     copy of the GC fills as its stipple.  cosine and sine, those of the
 *     text angle, are the caller's; the font's escapement decides.
 */
void drawRotatedChars(Display *display, Drawable drawable, GC gc, RotatedFont *font,
                      const char *source, int numBytes, int x, int y, double /*cosine*/,
                      double /*sine*/) {
  if (!drawable || !font || numBytes <= 0 || font->subfonts.empty()) return;
  std::vector<PlacedGlyph> glyphs;
  layoutChars(font, source, numBytes, glyphs);
  double fx0, fy0, fx1, fy1;
  if (!inkBounds(font, glyphs, x, y, &fx0, &fy0, &fx1, &fy1)) return;
  int boxX = static_cast<int>(floor(fx0)) - 1, boxY = static_cast<int>(floor(fy0)) - 1;
  int width = static_cast<int>(ceil(fx1)) + 1 - boxX;
  int height = static_cast<int>(ceil(fy1)) + 1 - boxY;
  if (width <= 0 || height <= 0 || width > 32767 || height > 32767) return;

  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_A1, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return;
  }
  cairo_t *cr = cairo_create(surface);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_source_rgba(cr, 0, 0, 0, 1);
  std::vector<cairo_glyph_t> run;
  for (size_t i = 0; i < glyphs.size();) {
    int sub = glyphs[i].subfont;
    run.clear();
    for (; i < glyphs.size() && glyphs[i].subfont == sub; i++) {
      double px, py;
      penPoint(font, glyphs[i].penX, x, y, &px, &py);
      run.push_back({glyphs[i].index, px - boxX, py - boxY});
    }
    cairo_set_scaled_font(cr, font->subfonts[static_cast<size_t>(sub)].turned);
    cairo_show_glyphs(cr, run.data(), static_cast<int>(run.size()));
  }
  if (font->fa.underline || font->fa.overstrike) {
    int total = glyphs.back().penX + glyphs.back().advance;
    cairo_save(cr);
    cairo_translate(cr, x - boxX, y - boxY);
    cairo_rotate(cr, -font->escapement * M_PI / 180.0);
    if (font->fa.underline)
      cairo_rectangle(cr, 0, font->underlinePos, total, font->underlineHeight);
    if (font->fa.overstrike)
      cairo_rectangle(cr, 0, -font->fm.ascent * 3 / 10 - font->underlineHeight / 2, total,
                      font->underlineHeight);
    cairo_fill(cr);
    cairo_restore(cr);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);

  // The A1 rows (32-bit units in host bit order) become X bitmap rows.
  const unsigned char *data = cairo_image_surface_get_data(surface);
  int stride = cairo_image_surface_get_stride(surface);
  int rowBytes = (width + 7) / 8;
  std::vector<char> bits(static_cast<size_t>(rowBytes) * static_cast<size_t>(height), 0);
  bool littleEndian = !msbFirst();
  for (int row = 0; row < height; row++) {
    const uint32_t *words = reinterpret_cast<const uint32_t *>(data + row * stride);
    char *out = &bits[static_cast<size_t>(row) * static_cast<size_t>(rowBytes)];
    for (int col = 0; col < width; col++) {
      uint32_t word = words[col / 32];
      int bit = littleEndian ? col % 32 : 31 - col % 32;
      if ((word >> bit) & 1) out[col / 8] = static_cast<char>(out[col / 8] | (1 << (col % 8)));
    }
  }
  cairo_surface_destroy(surface);
  Pixmap mask = XCreateBitmapFromData(display, drawable, bits.data(),
                                      static_cast<unsigned>(width), static_cast<unsigned>(height));

  XGCValues callerValues;
  if (XGetGCValues(display, gc, GCFillStyle | GCStipple | GCTileStipXOrigin | GCTileStipYOrigin,
                   &callerValues) &&
      (callerValues.fill_style == FillStippled || callerValues.fill_style == FillOpaqueStippled)) {
    XGCValues andValues;
    andValues.function = GXand;
    andValues.foreground = 1;
    andValues.background = 0;
    andValues.fill_style = FillOpaqueStippled;
    andValues.stipple = callerValues.stipple;
    andValues.ts_x_origin = callerValues.ts_x_origin - boxX;
    andValues.ts_y_origin = callerValues.ts_y_origin - boxY;
    GC andGC = XCreateGC(display, mask,
                         GCFunction | GCForeground | GCBackground | GCFillStyle | GCStipple |
                             GCTileStipXOrigin | GCTileStipYOrigin,
                         &andValues);
    XFillRectangle(display, mask, andGC, 0, 0, static_cast<unsigned>(width),
                   static_cast<unsigned>(height));
    XFreeGC(display, andGC);
  }

  GC textGC = copyGCFor(display, drawable, gc);
  XGCValues values;
  values.fill_style = FillStippled;
  values.stipple = mask;
  values.ts_x_origin = boxX;
  values.ts_y_origin = boxY;
  XChangeGC(display, textGC, GCFillStyle | GCStipple | GCTileStipXOrigin | GCTileStipYOrigin,
            &values);
  XFillRectangle(display, drawable, textGC, boxX, boxY, static_cast<unsigned>(width),
                 static_cast<unsigned>(height));
  XFreeGC(display, textGC);
  XFreePixmap(display, mask);
}

/* Draws the string with the font's own angle, baseline start at (x, y). */
void drawChars(Display *display, Drawable drawable, GC gc, RotatedFont *font,
               const char *source, int numBytes, int x, int y) {
  if (!font) return;
  double a = font->escapement * M_PI / 180.0;
  drawRotatedChars(display, drawable, gc, font, source, numBytes, x, y, cos(a), sin(a));
}

}  // namespace vesk
