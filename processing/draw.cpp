/*
 * draw.cpp --
 *     The "draw" subcommand of rimage: a polyline or a filled polygon of
 *     one value burnt into one band of an image.  Displays of the image
 *     are not told; the caller redraws when it is done.
 */
#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "processing/rimage.h"
#include "raster/banddraw.h"
#include "raster/roi.h"

namespace vesk {
namespace {

/* A whole word as a long integer. */
bool wordToLong(const char *word, long *value) {
  char *end = nullptr;
  errno = 0;
  *value = strtol(word, &end, 10);
  return end != word && *end == '\0' && errno != ERANGE;
}

/* The first coordinate word that is not a finite number, or null. */
const char *nonFiniteCoordinate(const char *list, std::string *word) {
  int n = 0;
  const char **words = nullptr;
  if (Tcl_SplitList(nullptr, list, &n, &words) != TCL_OK) return nullptr;
  const char *bad = nullptr;
  for (int i = 0; i < n && !bad; i++) {
    double v;
    if (Tcl_GetDouble(nullptr, words[i], &v) == TCL_OK && !std::isfinite(v)) {
      *word = words[i];
      bad = word->c_str();
    }
  }
  Tcl_Free(reinterpret_cast<char *>(words));
  return bad;
}

}  // namespace

/*
 * rimageDraw --
 *     "rimage draw imgID line|polygon coordList ?value? ?band?".
 * Results:      TCL_OK with an empty result (the usage for a wrong word
 *               count); TCL_ERROR with the message otherwise.
 */
int rimageDraw(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 5 || argc > 7) {
    std::string usage = std::string("Usage: ") + argv[0] + " " + argv[1] +
                        " imgID graphID coordList ?value? ?band?\n";
    Tcl_SetObjResult(interp, Tcl_NewStringObj(usage.c_str(), -1));
    return TCL_OK;
  }
  int err = 0;
  RAMIMG *image = openRAMImage(argv[2], argv[2], nullptr, nullptr, &err);
  if (!image)
    return rimageOpenFailure(interp, err, std::string("Error in open: ") + argv[2] + "\n");
  auto fail = [&](const std::string &message) {
    closeRAMImage(image, nullptr);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
  };
  const bool polygon = strcmp(argv[3], "polygon") == 0;
  if (!polygon && strcmp(argv[3], "line") != 0) return fail("Unknown graphic id\n");
  long value = 0, band = 1;
  if (argc > 5 && (!wordToLong(argv[5], &value) || value < 0 || value > 255))
    return fail(std::string("Invalid color value: ") + argv[5] + "\n");
  if (argc > 6 && (!wordToLong(argv[6], &band) || band < 1 || band > image->header.nbands))
    return fail("Invalid band number.\n");
  std::string word;
  if (nonFiniteCoordinate(argv[4], &word)) return fail("Invalid coordinate: " + word + "\n");
  Tcl_ResetResult(interp);
  PointList *points = parsePolygonPoints(interp, argv[4], polygon ? 6 : 4);
  if (!points) {
    closeRAMImage(image, nullptr);
    return TCL_ERROR;
  }
  if (polygon) fillRAMImagePolygon(image, static_cast<int>(band - 1), static_cast<int>(value), points);
  else drawRAMImagePolyline(image, static_cast<int>(band - 1), static_cast<int>(value), points);
  polyFree(points);
  closeRAMImage(image, nullptr);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

}  // namespace vesk
