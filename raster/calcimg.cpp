/*
 * calcimg.cpp --
 *     The image subcommands of "calc": "bitmap" turns a Tk photo into the
 *     Tk bitmap "test", "scangif" prints the block structure of a GIF file.
 *     Start-up registers them with "calc".
 */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <tk.h>
#include <memory>

#include "core/calc.h"
#include "core/families.h"
#include "raster/gif.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/*
 * calcBitmap --
 *     "calc bitmap photo": a bit for every pixel of the photo whose red
 *     byte is not zero, least significant bit first, rows padded to whole
 *     bytes, defined as the Tk bitmap "test".  No such photo: nothing.
 */
int calcBitmap(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], " photo", nullptr);
    return TCL_ERROR;
  }
  Tk_PhotoHandle photo = Tk_FindPhoto(interp, argv[2]);
  if (!photo) return TCL_OK;
  Tk_PhotoImageBlock block;
  Tk_PhotoGetImage(photo, &block);
  int width = 0, height = 0;
  Tk_PhotoGetSize(photo, &width, &height);
  if (width <= 0 || height <= 0) return TCL_OK;
  const int rowBytes = (width + 7) / 8;
  char *bits = static_cast<char *>(Tcl_AttemptAlloc(static_cast<unsigned>(rowBytes) *
                                                    static_cast<unsigned>(height)));
  if (!bits) return TCL_OK;
  memset(bits, 0, static_cast<size_t>(rowBytes) * static_cast<size_t>(height));
  for (int y = 0; y < height && y < block.height; y++) {
    const unsigned char *row = block.pixelPtr + static_cast<size_t>(y) * block.pitch;
    for (int x = 0; x < width && x < block.width; x++) {
      if (row[static_cast<size_t>(x) * block.pixelSize + block.offset[0]])
        bits[y * rowBytes + x / 8] = static_cast<char>(bits[y * rowBytes + x / 8] | (1 << (x % 8)));
    }
  }
  /* Tk keeps the data of a defined bitmap; a refused definition frees it. */
  if (Tk_DefineBitmap(interp, Tk_GetUid("test"), bits, width, height) != TCL_OK) Tcl_Free(bits);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

}  // namespace

/*
 * calcScangif --
 *     "calc scangif file": prints the file's GIF blocks on the console.
 */
int calcScangif(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], " giffile", nullptr);
    return TCL_ERROR;
  }
  /* Only a regular file: a FIFO would block the open, a device never ends. */
  int fd = open(argv[2], O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    vesk_fprintf(stderr, "Error in open %s\n", argv[2]);
    return TCL_ERROR;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    vesk_fprintf(stderr, "Error in open %s: not a regular file\n", argv[2]);
    return TCL_ERROR;
  }
  std::unique_ptr<GifReader> reader(new (std::nothrow) GifReader);
  if (reader) {
    initGifReader(fd, nullptr, 0, reader.get());
    int status = 0;
    scanGif(reader.get(), &status);
  }
  close(fd);
  return TCL_OK;
}

void installCalcImageSubcommands() {
  registerCalcSubcommand("bitmap", calcBitmap);
  registerCalcSubcommand("scangif", calcScangif);
}

}  // namespace vesk
