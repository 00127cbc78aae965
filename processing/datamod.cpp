/*
 * datamod.cpp --
 *     Two small modules of rimage.  "data" applies an image-data script to
 *     an image.  "rform" redefines an image's head in place: its
 *     georeference and origin, or a layout that reads the same bytes
 *     another way (BSQ as BIL, ERDAS BIL as BSQ), and rewrites the header
 *     of its file.
 */
#include <stdlib.h>
#include <string.h>
#include <stdint.h>
#include <algorithm>
#include <iterator>

#include "core/options.h"
#include "processing/rimage.h"
#include "raster/imagedata.h"
#include "raster/sniffer.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* ---- data ---- */

enum { DA_IN, DA_DATA, DA_U, DA_OPTION_COUNT };
const ModuleOption dataOptions[] = {
    {"-in", nullptr}, {"-data", nullptr}, {"-u", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof dataOptions / sizeof dataOptions[0] == DA_OPTION_COUNT + 1,
              "one row per option and the end row");

/* ---- rform ---- */

enum {
  RF_IN, RF_IMGID, RF_U, RF_LEFT, RF_TOP, RF_X0, RF_Y0, RF_DX, RF_DY, RF_OPTION_COUNT
};
const ModuleOption rformOptions[] = {
    {"-in", nullptr},  {"-imgid", nullptr}, {"-u", nullptr},  {"-left", nullptr},
    {"-top", nullptr}, {"-x0", nullptr},    {"-y0", nullptr}, {"-dx", nullptr},
    {"-dy", nullptr},  {nullptr, nullptr},
};
static_assert(sizeof rformOptions / sizeof rformOptions[0] == RF_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const rformUsage[] = {
    "where IN         input image\n",
    "      IMGID      new image ID\n",
    "      UPDATE     flag of updating client (def: 1)\n",
    "      X0         map x coordinate of the upperleft\n",
    "      Y0         map y coordinate of the upperleft\n",
    "      DX         pixel's width\n",
    "      DY         pixel's height\n",
    "      LEFT       file x coordinate of the upperleft\n",
    "      TOP        file y coordinate of the upperleft\n",
};

/*
 * Whether an image of layout from may be read as layout to, and whether
 * that exchanges rows and bands.  Results: 1 accepted, 0 refused.
 */
int rformCompatible(int from, int to, bool *swap) {
  auto in = [](int id, std::initializer_list<int> set) {
    return std::find(set.begin(), set.end(), id) != set.end();
  };
  *swap = false;
  if (from == IMG_BSQ || from == IMG_BIL) {
    if (!in(to, {IMG_BSQ, IMG_BIL})) return 0;
    *swap = to != from;
    return 1;
  }
  if (in(from, {IMG_E73, IMG_E74})) {
    if (!in(to, {IMG_E73, IMG_E74, IMG_E74BSQ})) return 0;
    *swap = to == IMG_E74BSQ;
    return 1;
  }
  if (from == IMG_E74BSQ) {
    if (!in(to, {IMG_E73, IMG_E74, IMG_E74BSQ})) return 0;
    *swap = to != IMG_E74BSQ;
    return 1;
  }
  return to == from;
}

}  // namespace

/*
 * dataModule --
 *     "rimage data -in imgID -data DATA -u UPDATE": the script's values
 *     written into the image.
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int dataModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in imgID -data DATA -u UPDATE\n", prog);
    vesk_printf("where IMGID    an image ID (a tag or a filename)\n");
    vesk_printf("      DATA     image data scripts\n");
    vesk_printf("      UPDATE   flag of updating clients\n");
    return 2;
  }
  ModuleOption o[DA_OPTION_COUNT + 1];
  std::copy(std::begin(dataOptions), std::end(dataOptions), o);
  const int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  const long update = o[DA_U].value ? atol(o[DA_U].value) : 1;
  if (!o[DA_DATA].value) {
    vesk_fprintf(stderr, "missing data scripts\n");
    return 0;
  }
  if (!o[DA_IN].value) {
    vesk_fprintf(stderr, "missing input IMGID\n");
    return 0;
  }
  int err = 0;
  RAMIMG *image = openRAMImage(o[DA_IN].value, o[DA_IN].value, nullptr, nullptr, &err);
  if (!image) {
    vesk_fprintf(stderr, "Error in open ramimg: %s\n", o[DA_IN].value);
    printRAMImageError(err);
    return 0;
  }
  const int done = parseASCIIData(image, o[DA_DATA].value);
  if (done && update) updateClient(image, nullptr, 2);
  closeRAMImage(image, nullptr);
  return done;
}

/*
 * rformModule --
 *     "rimage rform -in IN -imgid IMGID ...": the image's head redefined
 *     and its file header rewritten.  The head is changed on a copy and
 *     committed only once the file's header has been rewritten, so a
 *     failure leaves image and file as they were.
 * Results:      2 after the usage, 0 on failure, 1 on success.
 * Side effects: dirty lines are written back first; after a change of
 *     layout the line cache is rebuilt for the new geometry.
 */
int rformModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -imgid IMGID -u UPDATE -x0 X0 -y0 Y0 -dx DX -dy DY "
                "-left LEFT -top TOP\n",
                prog);
    for (const char *line : rformUsage) vesk_printf("%s", line);
    return 2;
  }
  ModuleOption o[RF_OPTION_COUNT + 1];
  std::copy(std::begin(rformOptions), std::end(rformOptions), o);
  const int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  if (!o[RF_IN].value) {
    vesk_fprintf(stderr, "Missing input image!\n");
    return 0;
  }
  const long update = o[RF_U].value ? atol(o[RF_U].value) : 1;
  int err = 0;
  RAMIMG *image = openRAMImage(nullptr, o[RF_IN].value, nullptr, nullptr, &err);
  if (!image) image = openRAMImage(o[RF_IN].value, nullptr, nullptr, nullptr, &err);
  if (!image) {
    vesk_fprintf(stderr, "Error in open %s.\n", o[RF_IN].value);
    printRAMImageError(err);
    return 0;
  }
  auto fail = [image](const char *message) {
    vesk_fprintf(stderr, "%s", message);
    closeRAMImage(image, nullptr);
    return 0;
  };

  ImageHeader h = image->header;
  if (o[RF_X0].value) h.x0 = atof(o[RF_X0].value);
  if (o[RF_Y0].value) h.y0 = atof(o[RF_Y0].value);
  if (o[RF_DX].value) h.dx = atof(o[RF_DX].value);
  if (o[RF_DY].value) h.dy = atof(o[RF_DY].value);
  if (o[RF_LEFT].value) h.left = static_cast<int>(atol(o[RF_LEFT].value));
  if (o[RF_TOP].value) h.top = static_cast<int>(atol(o[RF_TOP].value));
  if (!(h.dx > 0)) h.dx = 1.0;
  if (!(h.dy > 0)) h.dy = 1.0;
  if (h.left < 0) h.left = 0;
  if (h.top < 0) h.top = 0;

  const int from = image->header.imgid;
  if (from == IMG_XBMP || from == IMG_PPM) return fail("Error: possible incompatible redefine.\n");
  int to = from;
  if (o[RF_IMGID].value) {
    to = getImgid(o[RF_IMGID].value);
    if (to < 0) return fail("Invalid imgid!\n");
  }
  bool swap = false;
  if (!rformCompatible(from, to, &swap)) return fail("Error: possible incompatible redefine.\n");
  h.imgid = to;
  if (swap) std::swap(h.rows, h.nbands);

  /* Only headers that are rewritten in place, over a body that stays where
     it is, can be redefined: IMAGEDEF and ERDAS files. */
  flushRAMImage(image);
  const int written = image->fd >= 0 ? rewriteImageHeader(image->fd, &h) : -2;
  if (written < 0) {
    return fail(written == -1 ? "Error in updating image head.\n"
                              : "Updating this image head is not supported.\n");
  }
  const bool bandsChanged = h.nbands != image->header.nbands;
  const bool geometryChanged = bandsChanged || h.rows != image->header.rows;
  /* The cache keeps about as many lines as before under the new geometry. */
  const int64_t lines = int64_t{image->cachedRows} * std::max(image->header.nbands, 1);
  image->header = h;
  if (geometryChanged)
    setRAMImageBuf(image, static_cast<int>(std::max<int64_t>(1, lines / std::max(h.nbands, 1))));
  if (bandsChanged) freeImageStats(image);
  if (update) updateClient(image, nullptr, 1);
  closeRAMImage(image, nullptr);
  return 1;
}

}  // namespace vesk
