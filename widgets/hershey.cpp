/*
 * hershey.cpp --
 *     Stroke fonts of the raster driver: the glyph store loaded from glyph
 *     files in the Hershey form, the font definitions that map character
 *     codes to glyph numbers, the font subcommands of "grass", and text
 *     drawn with the driver's lines (R_text and friends).
 *
 *     A glyph is a run of character pairs whose codes minus 'R' (82) are
 *     coordinates: the first pair the left and right extent, each later
 *     pair a point (x right, y down), the pair " R" lifting the pen.
 */
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "core/text.h"
#include "vesk/grass.h"
#include "vesk/stdio.h"
#include "widgets/grass.h"

namespace vesk {
namespace {

constexpr int kGlyphOrigin = 'R';
/* Glyph numbers are five-digit fields of the glyph file. */
constexpr int kGlyphNumberMax = 99999;
/* Characters of a definition file that are read. */
constexpr size_t kFontDefTextMax = 1023;
/* Largest glyph or definition file read whole. */
constexpr long kFontFileMax = 64L << 20;

std::unique_ptr<GlyphStore> theStore;
FontDef *fontList = nullptr;
FontDef *currentFont = nullptr;

void setResult(Tcl_Interp *interp, const std::string &text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
}

bool isPrefix(const char *word, const char *name, size_t minimum) {
  size_t n = strlen(word);
  return n >= minimum && n <= strlen(name) && strncmp(word, name, n) == 0;
}

/* Reads a whole file of at most kFontFileMax bytes (or its first `limit`). */
bool readFile(const char *path, std::string *data, size_t limit = 0) {
  FILE *f = fopen(path, "rb");
  if (!f) return false;
  data->clear();
  char buffer[65536];
  bool ok = true;
  for (;;) {
    size_t want = sizeof buffer;
    if (limit) want = std::min(want, limit - data->size());
    size_t n = want ? fread(buffer, 1, want, f) : 0;
    data->append(buffer, n);
    if (n < want || (limit && data->size() >= limit)) break;
    if (data->size() > static_cast<size_t>(kFontFileMax)) {
      ok = false;
      break;
    }
  }
  if (ferror(f)) ok = false;
  fclose(f);
  return ok;
}

/* The font that "fontGet" and "fontSet" use: the current one, else the first. */
FontDef *currentOrFirst() {
  if (!currentFont) currentFont = fontList;
  return currentFont;
}

FontDef *findFont(FontDef *from, const char *name) {
  for (FontDef *f = from; f; f = f->next)
    if (strcmp(f->name, name) == 0) return f;
  return nullptr;
}

/* The glyph of a character of the current font, or null. */
const GlyphEntry *characterGlyph(unsigned char c) {
  if (!theStore || !currentFont || c < 32) return nullptr;
  const int k = c - 32;
  if (k >= currentFont->count) return nullptr;
  return getGlyph(theStore.get(), currentFont->glyphs[static_cast<size_t>(k)]);
}

/* ---- the font subcommands ---- */

int fontDefCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) {
    setResult(interp, std::string("Usage: ") + argv[0] + " fontDef fontName fontFile.\n");
    return TCL_ERROR;
  }
  FontDef *font = readFontDef(argv[2], argv[3]);
  if (!font) {
    setResult(interp, "Error in fontDefIndex.\n");
    return TCL_ERROR;
  }
  FontDef **tail = &fontList;
  while (*tail) tail = &(*tail)->next;
  *tail = font;
  if (fontList == font) currentFont = font;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int fontIndicesCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    setResult(interp, std::string("Usage: ") + argv[0] + " fontIndices fontName.\n");
    return TCL_ERROR;
  }
  FontDef *font = findFont(fontList, argv[2]);
  if (!font) {
    setResult(interp, "Can't found the named indices.\n");
    return TCL_ERROR;
  }
  std::string text;
  for (int32_t n : font->glyphs) text += std::to_string(n) + " ";
  setResult(interp, text);
  return TCL_OK;
}

int fontListCmd(Tcl_Interp *interp, int, const char **) {
  std::string text;
  for (FontDef *f = fontList; f; f = f->next)
    text += std::string("{") + f->name + " " + std::to_string(f->count) + "} ";
  setResult(interp, text);
  return TCL_OK;
}

int fontLoadCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    setResult(interp, std::string("Usage: ") + argv[0] + " fontLoad fontFile");
    return TCL_ERROR;
  }
  if (!theStore || !loadGlyphFile(theStore.get(), argv[2])) {
    setResult(interp, "Error in fontLoad...\n");
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int fontGetCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4 && argc != 5) {
    setResult(interp, std::string("Usage: ") + argv[0] + " fontGet index offset fontName\n");
    return TCL_ERROR;
  }
  FontDef *font = currentOrFirst();
  if (!font || !theStore) {
    setResult(interp, "Font has not been defined\n");
    return TCL_ERROR;
  }
  if (argc == 5 && !(font = findFont(font, argv[4]))) {
    setResult(interp, std::string("Can't found font: ") + argv[4]);
    return TCL_ERROR;
  }
  const int k = wordToInt(argv[2]);
  if (k < 0 || k >= font->count) {
    setResult(interp, "Index is out of range\n");
    return TCL_ERROR;
  }
  const GlyphEntry *entry = getGlyph(theStore.get(), font->glyphs[static_cast<size_t>(k)]);
  if (!entry) {
    setResult(interp, std::string("Can't find symbol: ") + argv[2]);
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  appendGlyphCoords(interp, theStore.get(), entry, wordToInt(argv[3]));
  return TCL_OK;
}

int fontSymbolCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    setResult(interp, std::string("Usage: ") + argv[0] + " fontSymbol Id\n");
    return TCL_ERROR;
  }
  const GlyphEntry *entry = theStore ? getGlyph(theStore.get(), wordToInt(argv[2])) : nullptr;
  if (!entry) {
    setResult(interp, std::string("Can't find symbol: ") + argv[2]);
    return TCL_ERROR;
  }
  std::string text = std::to_string(entry->offset) + " ";
  text.append(glyphCharacters(theStore.get(), entry), static_cast<size_t>(entry->length));
  setResult(interp, text);
  return TCL_OK;
}

int fontCoordCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4) {
    setResult(interp, std::string("Usage: ") + argv[0] + " fontCoord Id offset\n");
    return TCL_ERROR;
  }
  const GlyphEntry *entry = theStore ? getGlyph(theStore.get(), wordToInt(argv[2])) : nullptr;
  if (!entry) {
    setResult(interp, std::string("Can't find symbol: ") + argv[2]);
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  appendGlyphCoords(interp, theStore.get(), entry, argc == 4 ? wordToInt(argv[3]) : 0);
  return TCL_OK;
}

int fontSetCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) {
    setResult(interp, std::string("Usage: ") + argv[0] + " fontSet fontName");
    return TCL_ERROR;
  }
  if (argc == 2) {
    FontDef *font = currentOrFirst();
    if (!font) {
      setResult(interp, "Font has not been defined.\n");
      return TCL_ERROR;
    }
    setResult(interp, font->name);
    return TCL_OK;
  }
  if (!theStore || !R_font(argv[2])) {
    setResult(interp, std::string("Can't found font: ") + argv[2]);
    return TCL_ERROR;
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* Tried in this order, each word a prefix of at least six characters. */
struct FontSubcommand {
  const char *name;
  int (*proc)(Tcl_Interp *interp, int argc, const char **argv);
};
const FontSubcommand fontSubcommands[] = {
    {"fontDef", fontDefCmd},     {"fontIndices", fontIndicesCmd}, {"fontList", fontListCmd},
    {"fontLoad", fontLoadCmd},   {"fontGet", fontGetCmd},         {"fontSymbol", fontSymbolCmd},
    {"fontCoord", fontCoordCmd}, {"fontSet", fontSetCmd},
};

/* Reads a header field of digits with leading blanks; -1 when it is none. */
int headerNumber(const char *field, int width) {
  int i = 0, value = 0;
  while (i < width && field[i] == ' ') i++;
  if (i == width) return -1;
  for (; i < width; i++) {
    if (!isdigit(static_cast<unsigned char>(field[i]))) return -1;
    value = value * 10 + (field[i] - '0');
  }
  return value;
}

/* Takes up to n characters that are not line ends from data at *at. */
size_t takeCharacters(const char *data, size_t size, size_t *at, size_t n, char *out) {
  size_t got = 0;
  while (got < n && *at < size) {
    char c = data[(*at)++];
    if (c == '\n' || c == '\r') continue;
    out[got++] = c;
  }
  return got;
}

}  // namespace

/* ---- the store ---- */

void initGlyphStore(GlyphStore *store) {
  store->slotCount = 0;
  store->byteCapacity = 0;
  store->bytesUsed = 0;
  store->height = 30;
}

void clearGlyphStore(GlyphStore *store) {
  std::vector<GlyphEntry>().swap(store->index);
  std::vector<char>().swap(store->characters);
  initGlyphStore(store);
}

/*
 * fontAddISlots --
 *     Grows the glyph index by n empty slots.
 * Results:      the new slot count; 0 (index emptied) when it cannot grow.
 */
int fontAddISlots(GlyphStore *store, int n) {
  const int64_t want = int64_t{store->slotCount} + n;
  try {
    if (n < 0 || want > INT32_MAX) throw std::bad_alloc();
    store->index.resize(static_cast<size_t>(want));
    store->slotCount = static_cast<int32_t>(want);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in fontAddISlots: realloc size: %lld\n",
                 static_cast<long long>(want * static_cast<int64_t>(sizeof(GlyphEntry))));
    std::vector<GlyphEntry>().swap(store->index);
    store->slotCount = 0;
  }
  return store->slotCount;
}

/*
 * fontAddCSlots --
 *     Grows the character area by n bytes.
 * Results:      the new capacity; 0 (area emptied) when it cannot grow.
 */
int fontAddCSlots(GlyphStore *store, int n) {
  const int64_t want = int64_t{store->byteCapacity} + n;
  try {
    if (n < 0 || want > INT32_MAX) throw std::bad_alloc();
    store->characters.resize(static_cast<size_t>(want));
    store->byteCapacity = static_cast<int32_t>(want);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in fontAddCSlots: realloc size: %lld\n",
                 static_cast<long long>(want));
    std::vector<char>().swap(store->characters);
    store->byteCapacity = 0;
    store->bytesUsed = 0;
    for (GlyphEntry &e : store->index) e = GlyphEntry();
  }
  return store->byteCapacity;
}

/*
 * storeGlyph --
 *     Stores the characters of glyph `number`; a number stored again gets
 *     a new slot content (its old characters stay unused in the area).
 * Results:      1; 0 for a number outside 0..99999, a length outside
 *               1..1024, or when the store cannot grow.
 */
int storeGlyph(GlyphStore *store, int number, int length, const char *characters) {
  if (!store || number < 0 || number > kGlyphNumberMax || length < 1 || length > kGlyphMaxChars)
    return 0;
  if (number >= store->slotCount) {
    const int grow = std::max(number - store->slotCount + 1, 512);
    if (fontAddISlots(store, grow) <= number) return 0;
  }
  if (int64_t{store->bytesUsed} + length > store->byteCapacity) {
    const int64_t need = int64_t{store->bytesUsed} + length - store->byteCapacity;
    if (need > INT32_MAX) return 0;
    const int grow = std::max(static_cast<int>(need), 4096);
    if (int64_t{fontAddCSlots(store, grow)} < int64_t{store->bytesUsed} + length) return 0;
  }
  GlyphEntry &slot = store->index[static_cast<size_t>(number)];
  slot = GlyphEntry();
  slot.length = length;
  slot.offset = store->bytesUsed;
  memcpy(store->characters.data() + store->bytesUsed, characters, static_cast<size_t>(length));
  store->bytesUsed += length;
  return 1;
}

const GlyphEntry *getGlyph(const GlyphStore *store, int number) {
  if (!store || number < 0 || number >= store->slotCount) return nullptr;
  const GlyphEntry &e = store->index[static_cast<size_t>(number)];
  return e.length > 0 ? &e : nullptr;
}

const char *glyphCharacters(const GlyphStore *store, const GlyphEntry *entry) {
  return store->characters.data() + entry->offset;
}

/*
 * measureGlyph --
 *     Left and width from the extent pair; top and height from the points'
 *     y codes (pen-up pairs skipped); a glyph without points gets top 'R'
 *     and height 20.
 */
void measureGlyph(GlyphStore *store, GlyphEntry *entry) {
  const unsigned char *c =
      reinterpret_cast<const unsigned char *>(glyphCharacters(store, entry));
  const int n = entry->length;
  entry->left = c[0];
  entry->width = static_cast<unsigned char>(n > 1 ? std::max(c[1] - c[0] + 1, 0) : 0);
  if (n < 4) {
    entry->top = kGlyphOrigin;
    entry->height = 20;
    return;
  }
  int low = c[3], high = c[3];
  for (int i = 2; i + 1 < n; i += 2) {
    if (c[i] == ' ') continue;
    low = std::min(low, static_cast<int>(c[i + 1]));
    high = std::max(high, static_cast<int>(c[i + 1]));
  }
  entry->top = static_cast<unsigned char>(low);
  entry->height = static_cast<unsigned char>(high - low + 1);
}

/*
 * loadGlyphBuffer --
 *     Stores every glyph of a glyph file's text: an 8-character header
 *     (5 for the number, 3 for the pair count) and twice the pair count
 *     characters, line ends skipped.  The text ends where no whole header
 *     remains.
 * Results:      1; 0 with *error set for a header that is no number pair,
 *               a glyph over 1024 characters, a glyph cut off by the end,
 *               or a store that cannot grow (glyphs before it stay).
 */
int loadGlyphBuffer(GlyphStore *store, const char *data, size_t size, std::string *error) {
  size_t at = 0;
  char header[9] = {0};
  std::string glyph;
  for (;;) {
    if (takeCharacters(data, size, &at, 8, header) < 8) return 1;
    const int number = headerNumber(header, 5), pairs = headerNumber(header + 5, 3);
    if (number < 0 || pairs < 0) {
      *error = std::string("bad glyph header \"") + header + "\"";
      return 0;
    }
    const size_t length = 2 * static_cast<size_t>(pairs);
    if (length > static_cast<size_t>(kGlyphMaxChars)) {
      *error = "glyph " + std::to_string(number) + " has " + std::to_string(pairs) +
               " pairs (at most " + std::to_string(kGlyphMaxChars / 2) + ")";
      return 0;
    }
    glyph.resize(length);
    if (takeCharacters(data, size, &at, length, &glyph[0]) < length) {
      *error = "glyph " + std::to_string(number) + " is cut off by the end of the file";
      return 0;
    }
    if (length == 0) continue;
    if (!storeGlyph(store, number, static_cast<int>(length), glyph.data())) {
      *error = "cannot store glyph " + std::to_string(number);
      return 0;
    }
    measureGlyph(store, &store->index[static_cast<size_t>(number)]);
  }
}

/*
 * loadGlyphFile --
 *     Loads a glyph file into the store.
 * Results:      1, or 0 after a message on stderr.
 */
int loadGlyphFile(GlyphStore *store, const char *path) {
  std::string data;
  if (!readFile(path, &data)) {
    vesk_fprintf(stderr, "Error in load font file: %s\n", path);
    return 0;
  }
  std::string error;
  if (!loadGlyphBuffer(store, data.data(), data.size(), &error)) {
    vesk_fprintf(stderr, "Error in load font file: %s: %s\n", path, error.c_str());
    return 0;
  }
  return 1;
}

/*
 * parseFontDef --
 *     A font definition from the text of a definition file: words "a" add
 *     glyph number a, words "a-b" add a to b; other words add nothing, a
 *     word that begins with a number adds that number.
 * Results:      a new definition, or null with *error set for a name over
 *               15 characters or more than 1024 glyph numbers.
 */
FontDef *parseFontDef(const char *name, const char *text, size_t size, std::string *error) {
  if (strlen(name) > static_cast<size_t>(kFontNameMax)) {
    *error = std::string("font name \"") + name + "\" is longer than " +
             std::to_string(kFontNameMax) + " characters";
    return nullptr;
  }
  std::vector<int32_t> glyphs;
  std::string words(text, std::min(size, kFontDefTextMax));
  const char *p = words.c_str();
  auto number = [](const char *&q, long *value) {
    if (!isdigit(static_cast<unsigned char>(*q))) return false;
    errno = 0;
    char *end;
    *value = strtol(q, &end, 10);
    q = end;
    if (errno == ERANGE || *value > INT32_MAX) *value = INT32_MAX;
    return true;
  };
  while (*p) {
    while (*p && isspace(static_cast<unsigned char>(*p))) p++;
    const char *word = p;
    while (*p && !isspace(static_cast<unsigned char>(*p))) p++;
    const char *q = word;
    long a, b;
    if (!number(q, &a)) continue;
    b = a;
    if (*q == '-') {
      const char *r = q + 1;
      if (!number(r, &b)) b = a;
    }
    if (b < a) continue;
    if (b - a + 1 > kFontMaxGlyphs - static_cast<long>(glyphs.size())) {
      *error = "more than " + std::to_string(kFontMaxGlyphs) + " glyph numbers";
      return nullptr;
    }
    for (long v = a; v <= b; v++) glyphs.push_back(static_cast<int32_t>(v));
  }
  FontDef *font = new (std::nothrow) FontDef;
  if (!font) {
    *error = "out of memory";
    return nullptr;
  }
  memcpy(font->name, name, strlen(name) + 1);
  font->glyphs.swap(glyphs);
  font->count = static_cast<int32_t>(font->glyphs.size());
  return font;
}

/*
 * readFontDef --
 *     A font definition from the first 1023 characters of a file.
 * Results:      the new definition, or null after a message on stderr.
 */
FontDef *readFontDef(const char *name, const char *path) {
  std::string data;
  if (!readFile(path, &data, kFontDefTextMax)) {
    vesk_fprintf(stderr, "Error in open font definition file: %s\n", path);
    return nullptr;
  }
  std::string error;
  FontDef *font = parseFontDef(name, data.data(), data.size(), &error);
  if (!font) vesk_fprintf(stderr, "Error in font definition %s: %s\n", path, error.c_str());
  return font;
}

void freeFontDefs(FontDef *list) {
  while (list) {
    FontDef *next = list->next;
    delete list;
    list = next;
  }
}

/*
 * setFontHeight --
 *     The store height: the spread of y codes over the font's glyphs (pen
 *     lifts included, both ends starting at 'R').  Numbers without a
 *     stored glyph are passed over.
 */
void setFontHeight(const FontDef *font) {
  if (!theStore || !font) return;
  int low = kGlyphOrigin, high = kGlyphOrigin;
  for (int32_t number : font->glyphs) {
    const GlyphEntry *entry = getGlyph(theStore.get(), number);
    if (!entry || entry->length <= 2) continue;
    const unsigned char *c =
        reinterpret_cast<const unsigned char *>(glyphCharacters(theStore.get(), entry));
    for (int i = 3; i < entry->length; i += 2) {
      low = std::min(low, static_cast<int>(c[i]));
      high = std::max(high, static_cast<int>(c[i]));
    }
  }
  theStore->height = high - low + 1;
}

/*
 * appendGlyphCoords --
 *     Appends "offset left right" and each stroke as a braced list of
 *     alternating x and y, every value the code minus `offset`.
 */
void appendGlyphCoords(Tcl_Interp *interp, const GlyphStore *store, const GlyphEntry *entry,
                       int offset) {
  const unsigned char *c = reinterpret_cast<const unsigned char *>(glyphCharacters(store, entry));
  const int n = entry->length;
  const long long o = offset;
  std::string text = std::to_string(entry->offset) + " " + std::to_string(c[0] - o) + " " +
                     std::to_string((n > 1 ? c[1] : c[0]) - o);
  bool inStroke = false;
  for (int i = 2; i + 1 < n; i += 2) {
    if (c[i] == ' ') {
      if (inStroke) text += "}";
      inStroke = false;
      continue;
    }
    text += inStroke ? " " : " {";
    text += std::to_string(c[i] - o) + " " + std::to_string(c[i + 1] - o);
    inStroke = true;
  }
  if (inStroke) text += "}";
  Tcl_AppendResult(interp, text.c_str(), nullptr);
}

GlyphStore *glyphStore() { return theStore.get(); }

void newGlyphStore() {
  GlyphStore *store = new (std::nothrow) GlyphStore;
  theStore.reset(store);
}

void releaseGrassFonts() {
  theStore.reset();
  freeFontDefs(fontList);
  fontList = nullptr;
  currentFont = nullptr;
}

/*
 * grassFontCommand --
 *     The font subcommands of "grass".
 * Results:      TCL_CONTINUE when argv[1] is none of them.
 */
int grassFontCommand(Tcl_Interp *interp, int argc, const char **argv) {
  for (const FontSubcommand &sub : fontSubcommands)
    if (isPrefix(argv[1], sub.name, 6)) return sub.proc(interp, argc, argv);
  return TCL_CONTINUE;
}

}  // namespace vesk

using namespace vesk;

/*
 * R_font --
 *     Makes the first definition of that name the current font and takes
 *     the store height from it.
 * Results:      1, or 0 after "Can't found font: name" on stderr.
 */
int R_font(const char *name) {
  FontDef *font = name && theStore ? findFont(fontList, name) : nullptr;
  if (!font) {
    vesk_fprintf(stderr, "Can't found font: %s\n", name ? name : "");
    return 0;
  }
  currentFont = font;
  setFontHeight(font);
  return 1;
}

/* Text sizes in pixels per font height. */
void R_text_size(int width, int height) {
  VdispState *s = openDriver();
  if (!s || !theStore || theStore->height <= 0) return;
  s->textWidth = static_cast<double>(width) / theStore->height;
  s->textHeight = static_cast<double>(height) / theStore->height;
}

void R_text_rotation(double angle) {
  VdispState *s = openDriver();
  if (!s) return;
  s->rotation = angle;
  s->rotationSin = sin(angle);
  s->rotationCos = cos(angle);
}

/*
 * R_text --
 *     Draws the text's glyphs in the current colour from the current
 *     position, turned by the rotation; "\n" starts the next line one font
 *     height further.  Characters without a glyph are skipped.
 * Side effects: the position ends right after the last character.
 */
void R_text(const char *text) {
  VdispState *s = openDriver();
  if (!s || !text) return;
  const double fx = s->textWidth, fy = s->textHeight;
  const double sn = s->rotationSin, cs = s->rotationCos;
  const double H = (theStore ? theStore->height : 30) * fy;
  const int x0 = s->curX, y0 = s->curY;
  double X = x0, Y = y0;
  int line = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
    if (*p == '\n') {
      line++;
      X = x0 - line * H * sn;
      Y = y0 + line * H * cs;
      continue;
    }
    const GlyphEntry *entry = characterGlyph(*p);
    if (!entry) continue;
    const unsigned char *c =
        reinterpret_cast<const unsigned char *>(glyphCharacters(theStore.get(), entry));
    bool penDown = false;
    for (int i = 2; i + 1 < entry->length; i += 2) {
      if (c[i] == ' ') {
        penDown = false;
        continue;
      }
      const double u = (c[i] - entry->left) * fx;
      const double v = (c[i + 1] - kGlyphOrigin) * fy + H;
      const int px = roundToInt(X + u * cs - v * sn), py = roundToInt(Y + u * sn + v * cs);
      if (penDown) R_cont_abs(px, py);
      else R_move_abs(px, py);
      penDown = true;
    }
    const double a = entry->width * fx;
    X += a * cs;
    Y += a * sn;
  }
  s->curX = roundToInt(X);
  s->curY = roundToInt(Y);
}

/*
 * R_get_text_box --
 *     The box of the text from the current position: *a bottom, *b top,
 *     *c left, *d right (the widest line, the sum of the line heights).
 */
void R_get_text_box(const char *text, int *a, int *b, int *c, int *d) {
  VdispState *s = openDriver();
  if (!s || !text || !a || !b || !c || !d) return;
  long long widest = 0, lineWidth = 0, totalHeight = 0, lineHeight = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text);; p++) {
    if (*p == '\n' || *p == 0) {
      widest = std::max(widest, lineWidth);
      totalHeight += lineHeight;
      lineWidth = lineHeight = 0;
      if (*p == 0) break;
      continue;
    }
    const GlyphEntry *entry = characterGlyph(*p);
    if (!entry) continue;
    lineWidth += entry->width;
    lineHeight = std::max<long long>(lineHeight, entry->height);
  }
  const int w = roundToInt(widest * s->textWidth), h = roundToInt(totalHeight * s->textHeight);
  auto clampInt = [](long long v) {
    return static_cast<int>(std::min<long long>(std::max<long long>(v, INT_MIN), INT_MAX));
  };
  *a = clampInt(static_cast<long long>(s->curY) + h);
  *b = s->curY;
  *c = s->curX;
  *d = clampInt(static_cast<long long>(s->curX) + w);
}

/*
 * grassFont --
 *     The defined fonts' names in list order, joined by ",", as many as fit
 *     with the terminator into length bytes.
 * Results:      buffer.
 */
char *grassFont(char *buffer, int length) {
  if (!buffer || length < 1) return buffer;
  size_t used = 0;
  buffer[0] = 0;
  for (FontDef *f = fontList; f; f = f->next) {
    const size_t n = strlen(f->name) + (used ? 1 : 0);
    if (used + n + 1 > static_cast<size_t>(length)) break;
    if (used) buffer[used++] = ',';
    memcpy(buffer + used, f->name, strlen(f->name) + 1);
    used += strlen(f->name);
  }
  return buffer;
}
