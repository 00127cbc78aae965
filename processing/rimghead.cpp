/*
 * rimghead.cpp --
 *     The "rimage" subcommands that read and change what describes an
 *     image rather than its pixels: configure and cget of image heads,
 *     create, the line cache sizes, band statistics and palette entries.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <utility>
#include <string>

#include "core/core.h"
#include "core/options.h"
#include "core/text.h"
#include "processing/rimage.h"
#include "raster/bandstats.h"
#include "raster/sniffer.h"

namespace vesk {
namespace {

int rimgheadError(Tcl_Interp *interp, const std::string &message) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, message.c_str(), (char *)nullptr);
  return TCL_ERROR;
}

int rimgheadUsage(Tcl_Interp *interp, const char **argv, const char *tail) {
  return rimgheadError(interp, std::string("Usage: ") + argv[0] + " " + argv[1] + tail);
}

/* The fields whose change re-creates or re-reads an image. */
bool geometryDiffers(const ImageHeader &a, const ImageHeader &b) {
  return a.nbands != b.nbands || a.msbf != b.msbf || a.rows != b.rows ||
         a.columns != b.columns || a.bits != b.bits || a.pixelid != b.pixelid ||
         a.imgid != b.imgid;
}

/* The share of an image's rows its line cache holds, in percent. */
double cachedPercent(const RAMIMG *image) {
  return image->header.rows > 0 ? image->cachedRows * 100.0 / image->header.rows : 0.0;
}

}  // namespace

/*
 * rimageConfigure --
 *     "rimage configure [option value ...]" reports or changes the default
 *     head; "rimage configure TAG [option [value] ...]" an image's head.
 *     A change of geometry re-creates a memory image or re-reads a file
 *     image, and tells the image's clients.
 */
int rimageConfigure(ImageHeader *head, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc == 2 || argv[2][0] == '-') return configRAMImageHead(head, interp, argc - 2, argv + 2);

  RAMIMG *image = getRAMImageByTag(argv[2]);
  if (!image) return rimgheadError(interp, std::string("Not found the ramimg tagged by: ") + argv[2]);
  ImageHeader h = image->header;
  if (configRAMImageHead(&h, interp, argc - 3, argv + 3) != TCL_OK) return TCL_ERROR;
  if (argc - 3 <= 1) return TCL_OK;
  Tcl_ResetResult(interp);
  if (image->attr & kRamImageLocked) return rimgheadError(interp, "Can't config a locked RAMIMG.\n");

  const bool geometry = geometryDiffers(h, image->header);
  if (geometry) freeImageStats(image);
  int err = 0;
  if (image->fd <= 0 || strcmp(h.path, image->header.path) != 0) {
    flushRAMImage(image);
    ImageHeader *templ = image->fd < 0 ? &h : nullptr;
    if (image->fd >= 0 && isUnsavableImgid(h.imgid)) {
      close(image->fd);
      image->fd = -1;
      snprintf(h.path, VESK_PATH_SIZE, "%s", image->tag);
      templ = &h;
    }
    if (geometry && !reopenRAMImage(h.path, templ, image, &err)) {
        return rimageOpenFailure(interp, err, std::string("Update ramimg error in open file: ") + h.path);
    }
  } else if (memcmp(&h, &image->header, sizeof h) == 0) {
    return TCL_OK;
  } else if (geometry) {
    // The cache was laid out for the old geometry: read the file again
    // under the new head rather than reuse lines of the wrong size.  A
    // decoder's layout (encoded pixels) cannot be re-read under another
    // head, and a PPM's pixels stay where its text header ends.
    if (image->header.readerFlag != 0)
      return rimgheadError(interp, std::string("Update ramimg error in open file: ") + h.path);
    if (h.imgid == IMG_PPM) h.offset = image->header.offset;
    flushRAMImage(image);
    if (!reopenRAMImage(h.path, &h, image, &err)) {
        return rimageOpenFailure(interp, err, std::string("Update ramimg error in open file: ") + h.path);
    }
  } else {
    image->header = h;
  }
  if (geometry) {
    if (image->fd == -1 && !image->memData && !image->cache) setRAMImageBuf(image, image->header.rows);
    updateClient(image, nullptr, 1);
  }
  return TCL_OK;
}

/*
 * rimageCget --
 *     "rimage cget option" of the default head, "rimage cget TAG option"
 *     of an image (opened for the call when it is a file not yet open).
 */
int rimageCget(ImageHeader *head, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc <= 2 || (argc == 3 && argv[2][0] != '-'))
    return rimgheadUsage(interp, argv, " [TAG] option");
  if (argc == 3) return headOptionValue(head, interp, argv[2]);
  int err = 0;
  RAMIMG *image = openRAMImage(argv[2], argv[2], nullptr, nullptr, &err);
  if (!image) {
    return rimageOpenFailure(interp, err, std::string("Error in open ") + argv[2]);
  }
  ImageHeader h = image->header;
  closeRAMImage(image, nullptr);
  return headOptionValue(&h, interp, argv[3]);
}

/*
 * rimageCreate --
 *     "rimage create [overwrite] [option value ...]": the options go to
 *     the default head, which then makes a memory image (tagged by its
 *     file name) or an image file with a zero body.
 * Results:      "1" when the image was made, else "0".
 */
int rimageCreate(ImageHeader *head, Tcl_Interp *interp, int argc, const char **argv) {
  bool overwrite = false;
  int first = 2;
  if (argc > 2 && strcmp(argv[2], "overwrite") == 0) {
    overwrite = true;
    first = 3;
  }
  if (argc > first && configRAMImageHead(head, interp, argc - first, argv + first) != TCL_OK)
    return TCL_ERROR;
  Tcl_ResetResult(interp);
  bool made = false;
  if (isMemoryImgid(head->imgid)) {
    RAMIMG *before = getRAMImageByTag(head->path);
    if (before && !overwrite) return rimgheadError(interp, "Image already exists");
    int err = 0;
    RAMIMG *image = openRAMImage(head->path, nullptr, head, nullptr, &err);
    if (image) {
      if (image->refCount > 0) image->refCount--;
      if (image->keepCount < 1) image->keepCount = 1;
      if (before) updateClient(image, nullptr, 1);
      made = true;
    }
  } else {
    if (!overwrite && accessFile(head->path) == 0)
      return rimgheadError(interp, "Image file already exists");
    made = rasterHooks().createImageFile && rasterHooks().createImageFile(head) != -1;
  }
  Tcl_SetResult(interp, const_cast<char *>(made ? "1" : "0"), TCL_STATIC);
  return TCL_OK;
}

/*
 * rimageCache --
 *     "rimage cache [-imgid idList] [-pct PCT]": the share of rows each
 *     image's line cache holds, or sets it.  Images without a file keep
 *     every row in their cache whatever is asked: their lines exist
 *     nowhere else.
 */
int rimageCache(ImageHeader *, Tcl_Interp *interp, int argc, const char **argv) {
  ModuleOption options[] = {{"-imgid", nullptr}, {"-pct", nullptr}, {nullptr, nullptr}};
  if (matchOptions(options, argc - 2, argv + 2) > 0)
    return rimgheadUsage(interp, argv, " [-imgid idList] [-pct PCT]");
  Tcl_ResetResult(interp);
  if (argc == 2) {
    for (RAMIMG *image = firstRAMImage(); image; image = image->next)
      Tcl_AppendResult(interp, "{", image->tag, fmt(" %.2f} ", cachedPercent(image)),
                       (char *)nullptr);
    return TCL_OK;
  }
  int count = 0;
  const char **ids = nullptr;
  if (options[0].value && Tcl_SplitList(interp, options[0].value, &count, &ids) != TCL_OK)
    return TCL_ERROR;
  std::string failure;
  if (options[1].value) {
    char *end = nullptr;
    double value = strtod(options[1].value, &end);
    float pct = end == options[1].value || !(value >= 0) ? 0.0f
                : value > 100 ? 100.0f : static_cast<float>(value);
    if (count == 0) failure = "image id missing!";
    for (int i = 0; i < count && failure.empty(); i++) {
      RAMIMG *image = findRAMImage(ids[i]);
      if (!image) {
        failure = std::string("Fail to find rimage: ") + ids[i];
        break;
      }
      if (image->fd < 0) continue;
      int rows = roundToInt(image->header.rows * pct * 0.01);
      if (rows < 1) rows = 1;
      if (setRAMImageBuf(image, rows) == 0) failure = std::string("Fail to set ramimg buffer: ") + ids[i];
    }
  } else {
    for (int i = 0; i < count; i++) {
      RAMIMG *image = findRAMImage(ids[i]);
      if (!image) {
        failure = std::string("Fail to find rimage: ") + ids[i];
        break;
      }
      Tcl_AppendResult(interp, "{", ids[i], fmt(" %.2f} ", cachedPercent(image)), (char *)nullptr);
    }
  }
  if (ids) Tcl_Free(reinterpret_cast<char *>(ids));
  if (!failure.empty()) return rimgheadError(interp, failure);
  return TCL_OK;
}

/*
 * rimageGetIndices --
 *     "rimage getIndices imgid [index ...]": palette entries as "index red
 *     green blue" elements; index words are single indices or ranges a-b.
 */
int rimageGetIndices(ImageHeader *, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) return rimgheadError(interp, std::string("Usage: ") + argv[0] + " getIndices imgid [index]");
  int err = 0;
  RAMIMG *image = openRAMImage(argv[2], argv[2], nullptr, nullptr, &err);
  if (!image) {
    return rimageOpenFailure(interp, err, std::string("Error in open ") + argv[2]);
  }
  const ImageHeader &h = image->header;
  Tcl_ResetResult(interp);
  auto entry = [&](int i) {
    Tcl_AppendElement(interp, fmt("%d %d %d %d", i, h.palette[i][0], h.palette[i][1], h.palette[i][2]));
  };
  int code = TCL_OK;
  if (h.nindices > 0) {
    if (argc == 3) {
      for (int i = 0; i < h.nindices && i < 256; i++) entry(i);
    }
    for (int w = 3; w < argc; w++) {
      int first = 0, last = 0;
      int n = sscanf(argv[w], "%d-%d", &first, &last);
      if (n == 1) last = first;
      if (n < 1 || first < 0 || first > 255 || last < 0 || last > 255) {
        code = rimgheadError(interp, "Invalid index.");
        break;
      }
      if (first > last) std::swap(first, last);
      for (int i = first; i <= last; i++) entry(i);
    }
  }
  closeRAMImage(image, nullptr);
  return code;
}

/*
 * rimageHist --
 *     "rimage hist -imgid imgid [-dx DX] [-dy DY] [-u UPDATE] [-list
 *     stats|hist|sum]": recomputes the statistics of every band over every
 *     DY-th row and DX-th column, and lists them.
 */
int rimageHist(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc == 2) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1],
                     " -imgid imgid [-dx DX] [-dy DY] [-u UPDATE] [-list stats|hist|sum]",
                     (char *)nullptr);
    return TCL_OK;
  }
  ModuleOption options[] = {{"-imgid", nullptr}, {"-dx", nullptr}, {"-dy", nullptr},
                            {"-u", nullptr},     {"-list", nullptr}, {nullptr, nullptr}};
  if (matchOptions(options, argc - 2, argv + 2) > 0) return rimgheadError(interp, "syntax error");
  const char *word = options[0].value ? options[0].value : "";
  RAMIMG *image = findRAMImage(word);
  if (!image) return rimgheadError(interp, std::string("Fail to find RAMIMG: ") + word);
  const int dx = options[1].value ? atoi(options[1].value) : 1;
  const int dy = options[2].value ? atoi(options[2].value) : 1;
  const int update = options[3].value ? atoi(options[3].value) : 0;
  char list = 0;
  if (const char *mode = options[4].value) {
    if (compareNoCase(mode, "stats") == 0) list = 's';
    else if (compareNoCase(mode, "hist") == 0) list = 'h';
    else if (compareNoCase(mode, "sum") == 0) list = 'u';
    else return rimgheadError(interp, "Invalid list option.");
  }
  BandHist *hist = ramImageHist(image, kHistRecompute, dx, dy);
  if (!hist) return rimgheadError(interp, "Memory allocation error");
  if (update) updateClient(image, nullptr, 1);
  Tcl_ResetResult(interp);
  const ImageHeader &h = image->header;
  const int bands = h.nindices >= 1 ? 3 : h.nbands;
  if (list == 's' || list == 'u') {
    for (int b = 0; b < bands; b++) {
      double sd = 0, mean = 0, lo = 0, hi = 0;
      ramImageBandStats(image, b, &sd, &mean, &lo, &hi);
      if (list == 's')
        Tcl_AppendElement(interp, fmt("%.6f %.6f %.6f %.6f", sd, mean, lo, hi));
      else
        Tcl_AppendElement(interp, fmt("%.6f", mean * image->hist[0].count));
    }
  } else if (list == 'h' && (h.pixelid == P_1BIT || h.pixelid == P_4BITS || h.pixelid == P_BYTE)) {
    std::string text;
    for (int b = 0; b < h.nbands; b++) {
      const BandHist &band = image->hist[b];
      if (!band.bins || band.binCount < 1) continue;
      text += fmt("{%lld ", static_cast<long long>(band.bins[0]));
      for (int i = 1; i < band.binCount; i++)
        text += fmt(" %lld", static_cast<long long>(band.bins[i]));
      text += "} ";
    }
    Tcl_AppendResult(interp, text.c_str(), (char *)nullptr);
  }
  return TCL_OK;
}

/*
 * rimageSetIndices --
 *     "rimage setIndices imgid {index r g b} ...": sets palette entries
 *     (a word "a-b r g b" sets a range) and writes the palette back into
 *     the file where the format keeps one.
 * Results:      the trailer writer's result, as "%d".
 */
int rimageSetIndices(ImageHeader *, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3)
    return rimgheadError(interp, std::string("Usage: ") + argv[0] + " setIndices imgid {index r g b} ...");
  int err = 0;
  RAMIMG *image = openRAMImage(argv[2], argv[2], nullptr, nullptr, &err);
  if (!image) return rimageOpenFailure(interp, err, std::string("Error in open ") + argv[2]);
  ImageHeader &h = image->header;
  int code = TCL_OK;
  if (h.nindices == 0) code = rimgheadError(interp, "Not a color index image.");
  for (int w = 3; w < argc && code == TCL_OK; w++) {
    int first = 0, last = 0, red = 0, green = 0, blue = 0;
    if (sscanf(argv[w], "%d-%d %d %d %d", &first, &last, &red, &green, &blue) != 5) {
      if (sscanf(argv[w], "%d %d %d %d", &first, &red, &green, &blue) != 4) first = -1;
      last = first;
    }
    if (first > last) std::swap(first, last);
    const int top = std::min(h.nindices, 256) - 1;
    if (first < 0 || last > top || red < 0 || red > 255 || green < 0 || green > 255 ||
        blue < 0 || blue > 255) {
      code = rimgheadError(interp, "Invalid color index specification.");
      break;
    }
    for (int i = first; i <= last; i++) {
      h.palette[i][0] = static_cast<unsigned char>(red);
      h.palette[i][1] = static_cast<unsigned char>(green);
      h.palette[i][2] = static_cast<unsigned char>(blue);
    }
  }
  if (code == TCL_OK) {
    const int written = writeImageTrailer(image->fd, &h, image->privateData);
    Tcl_SetResult(interp, fmt("%d", written), TCL_VOLATILE);
  }
  closeRAMImage(image, nullptr);
  return code;
}

}  // namespace vesk
