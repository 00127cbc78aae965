// Stroke font definition files: a definition read from the bytes holds at
// most 1024 glyph numbers, none negative.
#include <stdlib.h>

#include <string>

#include "fuzz/fuzz.h"
#include "widgets/grass.h"

FUZZ_TARGET(fontdef) {
  std::string error;
  vesk::FontDef *font =
      vesk::parseFontDef("fuzz", reinterpret_cast<const char *>(data), size, &error);
  if (!font) return 0;
  if (font->count > vesk::kFontMaxGlyphs || font->count != static_cast<int>(font->glyphs.size()))
    abort();
  for (int32_t n : font->glyphs)
    if (n < 0) abort();
  vesk::freeFontDefs(font);
  return 0;
}
