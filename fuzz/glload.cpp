// glload: a raw file of GL numbers from an offset.  The first byte picks
// the type, the second the offset; the loaded elements must be the file's
// bytes after the offset.
#include <GL/gl.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz/fuzz.h"
#include "gl/ogl.h"

FUZZ_TARGET(glload) {
  if (size < 2) return 0;
  static const int types[] = {GL_UNSIGNED_BYTE, GL_BYTE, GL_UNSIGNED_SHORT, GL_SHORT,
                              GL_UNSIGNED_INT, GL_INT, GL_FLOAT};
  const int type = types[data[0] % 7];
  const long offset = static_cast<long>(data[1] % 10) - 1;
  const uint8_t *bytes = data + 2;
  const size_t length = size - 2;
  fuzz::MemFile file(bytes, length);
  vesk::GlDataObject *o = vesk::oglLoadFile(file.path(), type, offset);
  if (!o) return 0;
  const size_t loaded = static_cast<size_t>(o->count) * static_cast<size_t>(o->elementSize);
  if (offset < 0 || loaded != length - static_cast<size_t>(offset) ||
      memcmp(o->data, bytes + offset, loaded) != 0)
    abort();
  vesk::oglFreeObject(o);
  return 0;
}
