// Stroke glyph files in the Hershey form: every glyph stored from the
// bytes lies inside the store's character area and has its measures.
#include <stdlib.h>

#include <string>

#include "fuzz/fuzz.h"
#include "widgets/grass.h"

FUZZ_TARGET(hersheyglyphs) {
  vesk::GlyphStore store;
  std::string error;
  vesk::loadGlyphBuffer(&store, reinterpret_cast<const char *>(data), size, &error);
  if (store.bytesUsed > store.byteCapacity || store.slotCount != static_cast<int>(store.index.size()))
    abort();
  for (int n = 0; n < store.slotCount; n++) {
    const vesk::GlyphEntry *entry = vesk::getGlyph(&store, n);
    if (!entry) continue;
    if (entry->length > vesk::kGlyphMaxChars || entry->offset < 0 ||
        entry->offset + entry->length > store.bytesUsed)
      abort();
  }
  vesk::clearGlyphStore(&store);
  return 0;
}
