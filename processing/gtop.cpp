/*
 * gtop.cpp --
 *     "rimage gtop": views of a ground image from a focal point and back.
 *     Polar views (one row per direction, one column per distance),
 *     perspective photos of flat ground, and ground images rectified from
 *     a photo; the options, the view geometry and the workers over flat
 *     ground.  The workers over a DEM are in gtop3d.cpp.
 *
 *     Every position is computed in double and tested before it becomes a
 *     pixel index: a point behind the focal point, a ray parallel to the
 *     ground or a non-finite value reads as outside (zero).
 */
#include "processing/gtop.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <iterator>
#include <new>
#include <stdexcept>
#include <vector>

#include "core/numeric.h"
#include "core/options.h"
#include "core/text.h"
#include "raster/pixels.h"
#include "raster/profile.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

enum {
  GT_IN, GT_OUT, GT_DEM, GT_ZS, GT_XC, GT_YC, GT_ZC, GT_TX, GT_TY, GT_TZ, GT_NR, GT_NC, GT_B,
  GT_NBANDS, GT_IMGID, GT_PIXEL, GT_RS, GT_OV, GT_OP, GT_RO, GT_HRS, GT_GP, GT_OFF,
  GT_OPTION_COUNT
};

const ModuleOption gtopOptions[] = {
    {"-in", nullptr},    {"-out", nullptr},   {"-dem", nullptr}, {"-zs", nullptr},
    {"-xc", nullptr},    {"-yc", nullptr},    {"-zc", nullptr},  {"-tx", nullptr},
    {"-ty", nullptr},    {"-tz", nullptr},    {"-nr", nullptr},  {"-nc", nullptr},
    {"-b", nullptr},     {"-nbands", nullptr}, {"-imgid", nullptr}, {"-pixel", nullptr},
    {"-rs", nullptr},    {"-ov", nullptr},    {"-op", nullptr},  {"-ro", nullptr},
    {"-hrs", nullptr},   {"-gp", nullptr},    {"-off", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof gtopOptions / sizeof gtopOptions[0] == GT_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const gtopUsage[] = {
    "where IN     input image name\n",
    "      OUT    output image name\n",
    "      DEM    DEM image name\n",
    "      TX     x of the target\n",
    "      TY     y of the target\n",
    "      TZ     z of the target\n",
    "      XC     x of the view (focal) point\n",
    "      YC     y of the view (focal) point\n",
    "      ZC     z of the view (focal) point\n",
    "      RO     parameters of the image focal plane\n",
    "      ZS     scale of DEM\n",
    "      NR     number of rows\n",
    "      NC     number of columns\n",
    "      NB     number of output bands\n",
    "      PIXEL  pixel of output image\n",
    "      B      band specification\n",
    "      RS     resampling method: NN or BI: (def: NN)\n",
    "      HRS    resampling method for DEM: NN or BI (def: NN)\n",
    "      OV     flag of over writing output image: Y or N (def: N)\n",
    "      OP     option: ORTHOR, GTOP3D, GFP3D, GTOGR\n",
    "      GP     resampling gap (0.5-1.0) def: 0.9.\n",
    "      OFF    output offset (offx,offy)\n",
};

constexpr int kMapidPolar = 63;
constexpr int kLastGroundMapid = 61;  /* GRID, UTM, UTM1 ... UTM59 */
constexpr float kPi = 3.14159265358979f;

/* ---- angle functions: one per position of the focal point ---- */

inline float asinOf(float Y, float r) { return asinf(std::min(1.0f, std::max(-1.0f, Y / r))); }

float angleRight(float X, float Y, float r) {  /* X >= 0: asin, else pi - asin */
  if (r == 0) return 0;
  return X >= 0 ? asinOf(Y, r) : kPi - asinOf(Y, r);
}
float angleAsin(float, float Y, float r) { return r == 0 ? 0 : asinOf(Y, r); }
float angleBelow(float X, float Y, float r) {
  if (r == 0) return 0;
  return X >= 0 ? asinOf(Y, r) : -kPi - asinOf(Y, r);
}
float angleInside(float X, float Y, float r) {
  if (r == 0) return 0;
  if (X < 0) return kPi - asinOf(Y, r);
  if (Y < 0) return asinOf(Y, r) + 2 * kPi;
  return asinOf(Y, r);
}
float angleAbove(float X, float Y, float r) {
  if (r == 0) return 0;
  return X >= 0 ? asinOf(Y, r) + 2 * kPi : kPi - asinOf(Y, r);
}
float angleLeftTop(float X, float Y, float r) {
  if (r == 0) return 1.5707964f;
  return X > 0 ? asinOf(Y, r) : kPi - asinOf(Y, r);
}
float angleLeft(float, float Y, float r) { return r == 0 ? 3.1415927f : kPi - asinOf(Y, r); }
float angleLeftBottom(float X, float Y, float r) {
  if (r == 0) return 3.1415927f;
  return X > 0 ? 2 * kPi - asinOf(Y, r) : kPi - asinOf(Y, r);
}

inline double rho(double a, double b) { return sqrt(a * a + b * b); }
/* asin(a / r), 0 when r is 0 (a degenerate one-row or one-column ground). */
inline double asinRatio(double a, double r) {
  return r > 0 ? asin(std::min(1.0, std::max(-1.0, a / r))) : 0.0;
}

/* A position rounded to the nearest pixel index, or -1 outside [0, limit). */
inline int gtopIndex(double v, int limit) {
  if (!(v >= -0.5 && v < limit - 0.5)) return -1;
  return static_cast<int>(floor(v + 0.5));
}

/* ---- option parsing ---- */

int gtopFailure(GtopWork *w, int err) {
  if (w->in) closeRAMImage(w->in, nullptr);
  if (w->out) closeRAMImage(w->out, nullptr);
  if (w->dem) closeRAMImage(w->dem, nullptr);
  w->in = w->out = w->dem = nullptr;
  printRAMImageError(err);
  return 0;
}

/* The two resampling words: 1 nearest, 2 bilinear, 0 unknown. */
int gtopMethod(const char *word) {
  if (!word) return 1;
  if (strcmp(word, "NN") == 0) return 1;
  if (strcmp(word, "BI") == 0) return 2;
  return 0;
}

bool gtopLayout(int imgid) {
  return imgid == IMG_BSQ || imgid == IMG_BIL || imgid == IMG_BIP || imgid == IMG_MBSQ ||
         imgid == IMG_MBIL || imgid == IMG_MBIP;
}

/*
 * parseGtopOptions --
 *     Reads the options, opens the input, the DEM and the output (made
 *     from a template of the input's header), and sets up the view.
 * Results:      1; 0 after the message, with every image closed.
 */
int parseGtopOptions(GtopWork *w, int argc, const char **argv) {
  ModuleOption o[GT_OPTION_COUNT + 1];
  std::copy(std::begin(gtopOptions), std::end(gtopOptions), o);
  const int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return gtopFailure(w, 0);
  }
  if (o[GT_ZC].value) w->zc = atof(o[GT_ZC].value);
  if (const char *ov = o[GT_OV].value) {
    if (strcmp(ov, "Y") == 0) w->overwrite = 1;
    else if (strcmp(ov, "N") == 0) w->overwrite = 0;
    else {
      vesk_fprintf(stderr, "Unknown over writing flag.\n");
      return gtopFailure(w, 0);
    }
  }
  if (o[GT_ZS].value) w->zs = atof(o[GT_ZS].value);
  if (o[GT_GP].value) {
    const double gap = atof(o[GT_GP].value);
    w->gap = gap > 1.0 ? 1.0 : (gap >= 0.5 ? gap : 0.5);  /* NaN becomes 0.5 */
  }
  w->method = gtopMethod(o[GT_RS].value);
  w->demMethod = gtopMethod(o[GT_HRS].value);
  if (!w->method || !w->demMethod) {
    vesk_fprintf(stderr, "Invalid resampling option.\n");
    return gtopFailure(w, 0);
  }

  /* The input. */
  const char *inName = o[GT_IN].value;
  if (!inName) {
    vesk_fprintf(stderr, "Input image file missing.\n");
    return gtopFailure(w, 0);
  }
  int err = 0;
  w->in = openRAMImage(inName, inName, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open %s.\n", inName);
    return gtopFailure(w, err);
  }
  const ImageHeader ih = w->in->header;
  if (ih.nindices > 0) {
    vesk_fprintf(stderr, "Index image is not supported.\n");
    return gtopFailure(w, 0);
  }
  const bool ground = ih.mapid >= 1 && ih.mapid <= kLastGroundMapid;
  if (ground) {
    w->tx = (ih.columns - 1) * 0.5;
    w->ty = (ih.rows - 1) * 0.5;
  }
  if (o[GT_TZ].value) w->tz = atof(o[GT_TZ].value);

  /* The template of a new output. */
  ImageHeader h = ih;
  h.imgid = IMG_BIP;
  if (o[GT_IMGID].value) h.imgid = getImgid(o[GT_IMGID].value);
  if (!gtopLayout(h.imgid)) {
    vesk_fprintf(stderr, "A valid imgid should be BIP or BIL or BSQ\n");
    return gtopFailure(w, 0);
  }
  if (o[GT_PIXEL].value) {
    h.pixelid = getPixelid(o[GT_PIXEL].value);
    if (h.pixelid <= 0) {
      vesk_fprintf(stderr, "Invalid pixel ID\n");
      return gtopFailure(w, 0);
    }
  }
  if (o[GT_NBANDS].value) h.nbands = static_cast<int>(atol(o[GT_NBANDS].value));

  if (ground) {
    w->groundRows = ih.rows;
    w->groundColumns = ih.columns;
    w->xc = o[GT_XC].value ? atof(o[GT_XC].value) : ih.columns * 0.5;
    w->yc = o[GT_YC].value ? atof(o[GT_YC].value) : ih.rows * 0.5;
    h.rows = o[GT_NR].value ? static_cast<int>(atol(o[GT_NR].value)) : ih.rows;
    h.columns = o[GT_NC].value ? static_cast<int>(atol(o[GT_NC].value)) : ih.columns;
    const char *op = o[GT_OP].value;
    if (const char *demName = o[GT_DEM].value) {
      w->dem = openRAMImage(demName, demName, nullptr, nullptr, &err);
      if (!w->dem) {
        vesk_fprintf(stderr, "Error in open %s.\n", demName);
        return gtopFailure(w, err);
      }
      if (w->dem->header.rows != ih.rows || w->dem->header.columns != ih.columns) {
        vesk_fprintf(stderr, "DEM does not match the input image\n");
        return gtopFailure(w, 0);
      }
      w->op = GTOP_GFP3D;
      if (op) {
        if (strcmp(op, "POLAR") == 0) w->op = GTOP_POLAR3D;
        else if (strcmp(op, "ORTHOR") == 0) w->op = GTOP_ORTHOR;
        else if (strcmp(op, "GTOP3D") == 0) w->op = GTOP_GTOP3D;
        else if (strcmp(op, "GFP3D") == 0) w->op = GTOP_GFP3D;
        else {
          vesk_fprintf(stderr, "Invalid option.\n");
          return gtopFailure(w, 0);
        }
      }
    } else {
      w->op = GTOP_GTOGR;
      if (op) {
        if (strcmp(op, "POLAR") == 0) w->op = GTOP_POLAR;
        else if (strcmp(op, "GTOGR") == 0) w->op = GTOP_GTOGR;
        else {
          vesk_fprintf(stderr, "Invalid option.\n");
          return gtopFailure(w, 0);
        }
      }
    }
    h.x0 = w->xc;
    h.y0 = w->yc;
    h.top = w->groundRows;
    h.left = w->groundColumns;
    h.mapid = (w->op == GTOP_POLAR || w->op == GTOP_POLAR3D) ? kMapidPolar : MAPID_GRID;
  } else {
    if (!o[GT_OP].value || strcmp(o[GT_OP].value, "PTOG") != 0) {
      vesk_fprintf(stderr, "Invalid option\n");
      return gtopFailure(w, 0);
    }
    w->op = o[GT_ZC].value ? GTOP_PTOP : GTOP_PTOG;
    /* A view made by this module: its focal point and its ground's size. */
    w->xc = ih.x0;
    w->yc = ih.y0;
    w->groundRows = ih.top;
    w->groundColumns = ih.left;
    if (ih.rows < 2 || ih.columns < 2) {
      vesk_fprintf(stderr, "A polar view needs at least 2 rows and 2 columns.\n");
      return gtopFailure(w, 0);
    }
    w->tx = (w->groundColumns - 1) * 0.5;
    w->ty = (w->groundRows - 1) * 0.5;
    h.rows = o[GT_NR].value ? static_cast<int>(atol(o[GT_NR].value)) : w->groundRows;
    h.columns = o[GT_NC].value ? static_cast<int>(atol(o[GT_NC].value)) : w->groundColumns;
    h.top = h.left = 0;
    h.x0 = h.y0 = 0;
    h.dx = h.dy = 1.0;
    h.mapid = MAPID_GRID;
  }
  if (o[GT_TX].value) w->tx = atof(o[GT_TX].value);
  if (o[GT_TY].value) w->ty = atof(o[GT_TY].value);
  if (!(isfinite(w->xc) && isfinite(w->yc) && isfinite(w->zc) && isfinite(w->tx) &&
        isfinite(w->ty) && isfinite(w->tz) && isfinite(w->zs))) {
    vesk_fprintf(stderr, "Invalid view point or target.\n");
    return gtopFailure(w, 0);
  }

  /* The output: opened when it exists (unless -ov Y), else made. */
  const char *outName = o[GT_OUT].value;
  if (!outName) {
    vesk_fprintf(stderr, "output file missing.\n");
    return gtopFailure(w, 0);
  }
  w->outRows = h.rows;
  w->outColumns = h.columns;
  if (!w->overwrite) {
    w->out = openRAMImage(outName, outName, nullptr, nullptr, &err);
    if (w->out && (w->op == GTOP_POLAR || w->op == GTOP_POLAR3D || w->op == GTOP_GTOP3D ||
                   w->op == GTOP_GFP3D)) {
      w->outRows = w->out->header.rows;
      w->outColumns = w->out->header.columns;
    }
  }
  if (!w->out) {
    err = 0;
    if (strlen(outName) >= sizeof h.path || h.rows < 1 || h.columns < 1 || h.nbands < 1) {
      vesk_fprintf(stderr, "Error in open %s.\n", outName);
      return gtopFailure(w, 0);
    }
    strcpy(h.path, outName);
    h.bits = getPixelBits(h.pixelid);
    h.nindices = 0;
    h.offset = isMemoryImgid(h.imgid) ? 0 : 1416;
    h.block = 0;
    h.altFd = -1;
    h.volumes = 0;
    h.readerFlag = 0;
    w->out = openRAMImageNew(&h, nullptr, w->overwrite, &err);
    if (!w->out) {
      vesk_fprintf(stderr, "Error in open %s.\n", outName);
      return gtopFailure(w, err);
    }
  }

  /* Band pairs. */
  std::vector<int> s(kMaxBandPairs), d(kMaxBandPairs);
  const int pairs = parseBandList(ih.nbands, w->out->header.nbands, s.data(), d.data(), o[GT_B].value);
  if (pairs <= 0) {
    vesk_fprintf(stderr, "Invalid band specification.\n");
    return gtopFailure(w, 0);
  }
  w->source.assign(s.begin(), s.begin() + pairs);
  w->dest.assign(d.begin(), d.begin() + pairs);

  /* Orientation. */
  w->ex = w->tx - w->xc;
  w->ey = w->ty - w->yc;
  w->ez = w->tz - w->zc;
  w->f = viewRotation(w->M, w->ex, w->ey, -w->ez, &w->omega, &w->kappa);
  if (const char *ro = o[GT_RO].value) {
    double om, ph, ka, f;
    char extra;
    if (sscanf(ro, "%lf,%lf,%lf,%lf %c", &om, &ph, &ka, &f, &extra) != 4 ||
        !(isfinite(om) && isfinite(ph) && isfinite(ka) && isfinite(f))) {
      vesk_fprintf(stderr, "Error in parsing orientation params.\n");
      return gtopFailure(w, 0);
    }
    w->omega = om;
    w->phi = ph;
    w->kappa = ka;
    w->f = f;
    rotateMatrix3(w->M, ROTATE_IDENTITY, 0);
    rotateMatrix3(w->M, ROTATE_Z, ka);
    rotateMatrix3(w->M, ROTATE_Y, ph);
    rotateMatrix3(w->M, ROTATE_X, om);
    double N[9];
    std::copy(w->M, w->M + 9, N);
    rotateMatrix3(N, ROTATE_TRANSPOSE, 0);
    w->zc = N[8] * f + w->tz;
    w->ez = w->tz - w->zc;
    w->ex = N[2] * f;
    w->ey = N[5] * f;
    w->xc = w->tx - w->ex;
    w->yc = w->ty - w->ey;
    if (w->op == GTOP_GTOP3D || w->op == GTOP_GFP3D) {
      w->f = viewRotation(w->M, w->ex, w->ey, -w->ez, &w->omega, &w->kappa);
      w->phi = 0;
    }
    w->oriented = 1;
  }

  polarRange(0, 0, w->groundColumns - 1, w->groundRows - 1, w->xc, w->yc, w);
  if (w->op == GTOP_POLAR3D || w->op == GTOP_GTOP3D) w->rmax += (w->rmax - w->rmin) * 0.5;

  if (const char *off = o[GT_OFF].value) {
    float x, y;
    char extra;
    if (sscanf(off, "%f,%f %c", &x, &y, &extra) != 2 || !isfinite(x) || !isfinite(y)) {
      vesk_fprintf(stderr, "Error parsing output image center.\n");
      return gtopFailure(w, 0);
    }
    w->offx = x;
    w->offy = y;
  }
  return 1;
}

/* ---- flat workers ---- */

/* gtopConvert -- POLAR over flat ground: one ray per output row. */
int gtopConvert(GtopWork *w) {
  if (w->outRows < 2 || w->outColumns < 1) {
    vesk_fprintf(stderr, "Error in gtopConvert: the view needs at least 2 rows.\n");
    return 0;
  }
  const int pairs = static_cast<int>(w->source.size());
  std::vector<float> values;
  try {
    values.resize(static_cast<size_t>(w->outColumns) * pairs);
  } catch (const std::exception &) {
    vesk_fprintf(stderr, "Error in gtopConvert: malloc.\n");
    return 0;
  }
  gtopPrepareCache(w->in, false);
  gtopPrepareCache(w->out, true);
  const double step = (w->thetaMax - w->thetaMin) / (w->outRows - 1);
  double theta = w->thetaMin;
  for (int i = 0; i < w->outRows; i++, theta += step) {
    const double c = cos(theta), s = sin(theta);
    getRAMImageSeg(w->in, static_cast<float>(w->xc + w->rmin * c), static_cast<float>(w->yc + w->rmin * s),
                   static_cast<float>(w->xc + w->rmax * c), static_cast<float>(w->yc + w->rmax * s), pairs,
                   w->source.data(), values.data(), w->outColumns, w->method);
    writeFloatBIPData(w->out, i, 0, w->outColumns, pairs, w->dest.data(), values.data());
  }
  return 1;
}

/* The pixel of the polar view at angle theta and radius r, or false outside. */
bool polarPixel(const GtopWork *w, double theta, double r, double dTheta, double dR, int rows,
                int columns, int *row, int *column) {
  *row = gtopIndex((theta - w->thetaMin) / dTheta, rows);
  *column = gtopIndex((r - w->rmin) / dR, columns);
  return *row >= 0 && *column >= 0;
}

/* ptogConvert -- PTOG: a polar view back onto the ground grid. */
int ptogConvert(GtopWork *w) {
  const int pairs = static_cast<int>(w->source.size());
  const int rows = w->in->header.rows, columns = w->in->header.columns;
  vesk_printf("ptogConvert size: %d\n", w->outColumns * pairs);
  std::vector<float> values;
  try {
    values.resize(static_cast<size_t>(w->outColumns) * pairs);
  } catch (const std::exception &) {
    vesk_fprintf(stderr, "Error in gtopConvert: malloc.\n");
    return 0;
  }
  gtopPrepareCache(w->in, false);
  gtopPrepareCache(w->out, true);
  const double dTheta = (w->thetaMax - w->thetaMin) / (rows - 1);
  const double dR = (w->rmax - w->rmin) / (columns - 1);
  for (int i = 0; i < w->outRows; i++) {
    std::fill(values.begin(), values.end(), 0.0f);
    for (int j = 0; j < w->outColumns; j++) {
      const float X = static_cast<float>(j - w->xc), Y = static_cast<float>(i - w->yc);
      const float r = sqrtf(X * X + Y * Y);
      int pr, pc;
      if (!polarPixel(w, w->angle(X, Y, r), r, dTheta, dR, rows, columns, &pr, &pc)) continue;
      for (int p = 0; p < pairs; p++)
        values[static_cast<size_t>(j) * pairs + p] = getPixelValue(w->in, pc, pr, w->source[p]);
    }
    gtopWriteRow(w, w->out, i, values, w->outColumns);
  }
  return 1;
}

/*
 * rectifyFlat --
 *     GTOGR and ORTHOR: each output (ground) pixel projected into the
 *     photo input; ORTHOR lifts the ground to the DEM's height.
 */
int rectifyFlat(GtopWork *w, bool orthor, double shiftU = 0, double shiftV = 0) {
  const char *who = orthor ? "othorC" : "rOrient";
  const int pairs = static_cast<int>(w->source.size());
  if (!orthor) vesk_printf("rOrient size: %d\n", w->outColumns * pairs);
  std::vector<float> values, heights;
  try {
    values.resize(static_cast<size_t>(w->outColumns) * pairs);
    if (orthor) heights.resize(static_cast<size_t>(w->outColumns));
  } catch (const std::exception &) {
    vesk_fprintf(stderr, "Error in %s: malloc.\n", who);
    return 0;
  }
  gtopPrepareCache(w->in, false);
  gtopPrepareCache(w->out, true);
  if (w->dem) gtopPrepareCache(w->dem, true);
  if (!orthor) {
    std::vector<float> zero(values.size(), 0.0f);
    for (int i = 0; i < w->out->header.rows; i++)
      writeFloatBIPData(w->out, i, 0, w->out->header.columns, pairs, w->dest.data(), zero.data());
  }
  double N[9];
  std::copy(w->M, w->M + 9, N);
  rotateMatrix3(N, ROTATE_TRANSPOSE, 0);
  const int inRows = w->in->header.rows, inColumns = w->in->header.columns;
  /* The photo point that stands at the input's centre: (0, 0), or the
     centre of the ground's box with rOrientCentred. */
  const double cx = (inColumns - 1) * 0.5 - shiftU, cy = (inRows - 1) * 0.5 - shiftV;
  for (int r = 0; r < w->outRows; r++) {
    std::fill(values.begin(), values.end(), 0.0f);
    /* The DEM row of the same number, zeros beyond the DEM. */
    if (orthor) getFloatBILData(w->dem, r, 0, w->outColumns, 0, heights.data());
    for (int c = 0; c < w->outColumns; c++) {
      const double Z = orthor ? heights[c] * w->zs : 0.0;
      double u, v;
      if (!groundToPhoto(N, w->zc, c - w->xc, r - w->yc, Z, w->ex, w->ey, w->tz, &u, &v)) continue;
      const double U = cx + u, V = cy + v;
      if (!(U >= 0 && U <= inColumns - 1 && V >= 0 && V <= inRows - 1)) continue;
      const int pr = static_cast<int>(V + 0.5), pc = static_cast<int>(U + 0.5);
      for (int p = 0; p < pairs; p++)
        values[static_cast<size_t>(c) * pairs + p] = getPixelValue(w->in, pc, pr, w->source[p]);
    }
    gtopWriteRow(w, w->out, r, values, w->outColumns);
  }
  return 1;
}

/* GTOGR: the ground plane rectified from the photo. */
int rOrient(GtopWork *w) { return rectifyFlat(w, false); }

/* ORTHOR: the ground lifted to the DEM's heights. */
int othorC(GtopWork *w) { return rectifyFlat(w, true); }

int runGtop(GtopWork *w) {
  switch (w->op) {
  case GTOP_POLAR: return gtopConvert(w);
  case GTOP_POLAR3D: return gtopConvert3D(w, w->out);
  case GTOP_PTOG: return ptogConvert(w);
  case GTOP_PTOP: return polarToPhoto(w);
  case GTOP_GTOP3D: return gtop3D(w);
  case GTOP_GFP3D: return centerProjection(w);
  case GTOP_GTOGR: return rOrient(w);
  case GTOP_ORTHOR: return othorC(w);
  }
  return 0;
}

}  // namespace

/*
 * viewRotation --
 *     The orientation of a view along (dx, dy, dz): M = Rx(omega) Rz(kappa).
 * Results:      the length of the direction.
 */
double viewRotation(double *M, double dx, double dy, double dz, double *omega, double *kappa) {
  const double d = sqrt(dx * dx + dy * dy + dz * dz), r = sqrt(dx * dx + dy * dy);
  auto clamp1 = [](double a) { return std::min(1.0, std::max(-1.0, a)); };
  if (dx == 0 && dy == 0) {
    *kappa = *omega = 0;
  } else if (dy > 0) {
    *kappa = -asin(clamp1(dx / r));
    *omega = acos(clamp1(dz / d));
  } else {
    *kappa = asin(clamp1(dx / r));
    *omega = -acos(clamp1(dz / d));
  }
  rotateMatrix3(M, ROTATE_IDENTITY, 0);
  rotateMatrix3(M, ROTATE_Z, *kappa);
  rotateMatrix3(M, ROTATE_X, *omega);
  return d;
}

/*
 * groundToPhoto --
 *     Photo coordinates (u, v) of the ground point (x, y, Z), x and y
 *     relative to the focal point, by Cramer's rule in single precision.
 * Results:      false when the point is level with or above the focal
 *     point, the system is singular, or the result is not finite.
 */
bool groundToPhoto(const double *M, double zc, double x, double y, double Z, double ex, double ey,
                   double tz, double *u, double *v) {
  const float h = static_cast<float>(zc - Z);
  if (!(h > 0)) return false;
  const float fx = static_cast<float>(x), fy = static_cast<float>(y);
  const float depth = static_cast<float>(zc - tz);
  const float p = depth * fx - static_cast<float>(ex) * h;
  const float q = depth * fy - static_cast<float>(ey) * h;
  const float a = h * static_cast<float>(M[0]) + fx * static_cast<float>(M[6]);
  const float b = h * static_cast<float>(M[1]) + fx * static_cast<float>(M[7]);
  const float c = h * static_cast<float>(M[3]) + fy * static_cast<float>(M[6]);
  const float d = h * static_cast<float>(M[4]) + fy * static_cast<float>(M[7]);
  const float det = a * d - b * c;
  if (det == 0) return false;
  *u = (p * d - b * q) / det;
  *v = (a * q - p * c) / det;
  return isfinite(*u) && isfinite(*v);
}

/*
 * polarRange --
 *     Radii and angles that the rectangle (x0, y0) - (x1, y1) covers seen
 *     from (px, py), and the angle function that keeps angles continuous
 *     over it.
 */
void polarRange(double x0, double y0, double x1, double y1, double px, double py, GtopWork *w) {
  const double dx0 = x0 - px, dx1 = x1 - px, dy0 = y0 - py, dy1 = y1 - py;
  const double pi = M_PI;
  double rmin, rmax, tmin, tmax;
  GtopAngleProc *fn;
  if (!(px > x0)) {
    if (!(py > y0)) {
      rmin = rho(dx0, dy0), rmax = rho(dx1, dy1);
      tmin = asinRatio(dy0, rho(dx1, dy0)), tmax = asinRatio(dy1, rho(dx0, dy1));
      fn = angleRight;
    } else if (py < y1) {
      rmin = dx0, rmax = dy0 + dy1 < 0 ? rho(dx1, dy0) : rho(dx1, dy1);
      tmin = asinRatio(dy0, rho(dx0, dy0)), tmax = asinRatio(dy1, rho(dx0, dy1));
      fn = angleAsin;
    } else {
      rmin = rho(dx0, dy1), rmax = rho(dx1, dy0);
      tmin = asinRatio(dy0, rho(dx0, dy0)), tmax = asinRatio(dy1, rho(dx1, dy1));
      fn = angleBelow;
    }
  } else if (px < x1) {
    if (!(py > y0)) {
      rmin = dy0, rmax = dx0 + dx1 < 0 ? rho(dx0, dy1) : rho(dx1, dy1);
      tmin = asinRatio(dy0, rho(dx1, dy0)), tmax = pi - asinRatio(dy0, rho(dx0, dy0));
      fn = angleRight;
    } else if (py < y1) {
      rmin = 0;
      rmax = rho(dx0 + dx1 < 0 ? dx0 : dx1, dy0 + dy1 < 0 ? dy0 : dy1);
      tmin = 0, tmax = 2 * pi;
      fn = angleInside;
    } else {
      rmin = -dy1, rmax = dx0 + dx1 < 0 ? rho(dx0, dy0) : rho(dx1, dy0);
      tmin = pi - asinRatio(dy1, rho(dx0, dy1)), tmax = asinRatio(dy1, rho(dx1, dy1)) + 2 * pi;
      fn = angleAbove;
    }
  } else {
    if (!(py > y0)) {
      rmin = rho(dx1, dy0), rmax = rho(dx0, dy1);
      tmin = pi - asinRatio(dy1, rho(dx1, dy1)), tmax = pi - asinRatio(dy0, rho(dx0, dy0));
      fn = angleLeftTop;
    } else if (py < y1) {
      rmin = -dx1, rmax = dy0 + dy1 < 0 ? rho(dx0, dy0) : rho(dx0, dy1);
      tmin = pi - asinRatio(dy1, rho(dx1, dy1)), tmax = pi - asinRatio(dy0, rho(dx1, dy0));
      fn = angleLeft;
    } else {
      rmin = rho(dx1, dy1), rmax = rho(dx0, dy0);
      tmin = pi - asinRatio(dy1, rho(dx0, dy1)), tmax = pi - asinRatio(dy0, rho(dx1, dy0));
      fn = angleLeftBottom;
    }
  }
  w->rmin = rmin;
  w->rmax = rmax;
  w->thetaMin = tmin;
  w->thetaMax = tmax;
  w->angle = fn;
}

/*
 * gtopPrepareCache --
 *     Enlarges the line cache of an image held in a file to the whole
 *     image, 32 rows fewer after each failure; memory images hold every
 *     line already.
 */
void gtopPrepareCache(RAMIMG *image, bool /*always*/) {
  if (!image || image->fd < 0) return;
  for (int rows = image->header.rows; rows > 0; rows -= 32)
    if (setRAMImageBuf(image, rows) > 0) return;
  setRAMImageBuf(image, 1);
}

/*
 * gtopWriteRow --
 *     Writes a row of count pixel-interleaved values to the destination
 *     bands, moved by the output offset: the row goes to row + offy and
 *     starts at column offx (rounded); columns before 0 are dropped.
 */
void gtopWriteRow(GtopWork *w, RAMIMG *image, int row, std::vector<float> &values, int count) {
  const double target = row + floor(w->offy + 0.5);
  if (!(target >= 0 && target < image->header.rows)) return;
  const double c = floor(w->offx + 0.5);
  const int pairs = static_cast<int>(w->dest.size());
  if (c < 0) {
    if (-c >= count) return;
    const int drop = static_cast<int>(-c);
    writeFloatBIPData(image, static_cast<int>(target), 0, count - drop, pairs, w->dest.data(),
                      values.data() + static_cast<size_t>(drop) * pairs);
    return;
  }
  if (c >= image->header.columns) return;
  writeFloatBIPData(image, static_cast<int>(target), static_cast<int>(c), count, pairs, w->dest.data(),
                    values.data());
}

/*
 * polarToPhoto --
 *     PTOG with -zc, and the second step of GTOP3D: each photo pixel's
 *     line of sight meets the ground Z = 0; the polar input gives the
 *     value there.
 */
int polarToPhoto(GtopWork *w) {
  const int pairs = static_cast<int>(w->source.size());
  const int rows = w->in->header.rows, columns = w->in->header.columns;
  if (rows < 2 || columns < 2) {
    vesk_fprintf(stderr, "A polar view needs at least 2 rows and 2 columns.\n");
    return 0;
  }
  std::vector<float> values;
  try {
    values.resize(static_cast<size_t>(std::max(w->outColumns, 0)) * pairs);
  } catch (const std::exception &) {
    vesk_fprintf(stderr, "Error in gtopConvert: malloc.\n");
    return 0;
  }
  gtopPrepareCache(w->in, false);
  gtopPrepareCache(w->out, true);
  const double dTheta = (w->thetaMax - w->thetaMin) / (rows - 1);
  const double dR = (w->rmax - w->rmin) / (columns - 1);
  double N[9];
  std::copy(w->M, w->M + 9, N);
  rotateMatrix3(N, ROTATE_TRANSPOSE, 0);
  double cx = 0, cy = 0;
  if (w->oriented && w->dem)
    demViewCentre(w->dem, w->zs, N, w->xc, w->yc, w->zc, w->tx, w->ty, w->tz, &cx, &cy);
  const double s = w->ey > 0 ? 1.0 : -1.0;
  const double cx1 = (w->outColumns - 1) * 0.5 + s * cx, cy1 = (w->outRows - 1) * 0.5 + s * cy;
  for (int hgt = 0; hgt < w->outRows; hgt++) {
    std::fill(values.begin(), values.end(), 0.0f);
    for (int l = 0; l < w->outColumns; l++) {
      const double u = s * (cx1 - l), v = s * (cy1 - hgt);
      const double gx = N[0] * u + N[1] * v, gy = N[3] * u + N[4] * v, gz = N[6] * u + N[7] * v;
      const double depth = w->zc - gz - w->tz;
      if (!(depth > 0)) continue;
      const double X = (gx + w->ex) * w->zc / depth, Y = (gy + w->ey) * w->zc / depth;
      const double r = sqrt(X * X + Y * Y);
      if (!(r >= w->rmin && r <= w->rmax)) continue;
      const double theta = w->angle(static_cast<float>(X), static_cast<float>(Y), static_cast<float>(r));
      if (!(theta >= w->thetaMin && theta <= w->thetaMax)) continue;
      int pr, pc;
      if (!polarPixel(w, theta, r, dTheta, dR, rows, columns, &pr, &pc)) continue;
      for (int p = 0; p < pairs; p++)
        values[static_cast<size_t>(l) * pairs + p] = getPixelValue(w->in, pc, pr, w->source[p]);
    }
    gtopWriteRow(w, w->out, hgt, values, w->outColumns);
  }
  return 1;
}

/*
 * gtopModule --
 *     "rimage gtop -in IN -out OUT ...".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int gtopModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -dem DEM -tx TX -ty TY -tz TZ -xc XC -yc YC -zc ZC -ro RO "
                "-zs ZS -nr NR -nc NC -b B -rs RS -hrs HRS -nbands NB -pixel PIXEL -ov OV -op OP "
                "-gp GP -off OFF\n",
                prog);
    for (const char *line : gtopUsage) vesk_printf("%s", line);
    return 2;
  }
  GtopWork w;
  if (!parseGtopOptions(&w, argc, argv)) return 0;
  int result = 0;
  try {
    result = runGtop(&w);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in gtop: malloc.\n");
    result = 0;
  } catch (const std::length_error &) {
    vesk_fprintf(stderr, "Error in gtop: malloc.\n");
    result = 0;
  }
  if (result) updateClient(w.out, nullptr, 2);
  if (w.in) closeRAMImage(w.in, nullptr);
  if (w.out) closeRAMImage(w.out, nullptr);
  if (w.dem) closeRAMImage(w.dem, nullptr);
  return result;
}

/* ---- offered to native callers: not reached from the command ---- */

/*
 * rOrientCentred --
 *     GTOGR with the view centred on the ground: as rOrient, but the
 *     centre of the photo input stands for the centre of the box that the
 *     ground rectangle (the output's rows and columns at height 0)
 *     projects to, the box of its four corners, instead of for the
 *     target.  A photo just large enough for that box then holds the
 *     whole ground.
 * Results:      1, or 0 after a message.
 */
int rOrientCentred(GtopWork *w) {
  double N[9];
  std::copy(w->M, w->M + 9, N);
  rotateMatrix3(N, ROTATE_TRANSPOSE, 0);
  double umin = HUGE_VAL, umax = -HUGE_VAL, vmin = HUGE_VAL, vmax = -HUGE_VAL;
  const double right = std::max(w->outColumns - 1, 0), bottom = std::max(w->outRows - 1, 0);
  const double corners[4][2] = {{0, 0}, {right, 0}, {0, bottom}, {right, bottom}};
  for (const auto &corner : corners) {
    double u, v;
    if (!groundToPhoto(N, w->zc, corner[0] - w->xc, corner[1] - w->yc, 0, w->ex, w->ey, w->tz, &u,
                       &v))
      continue;
    umin = std::min(umin, u);
    umax = std::max(umax, u);
    vmin = std::min(vmin, v);
    vmax = std::max(vmax, v);
  }
  /* No corner in view: centred on the target, as rOrient. */
  const double cu = umin <= umax ? (umin + umax) * 0.5 : 0.0;
  const double cv = vmin <= vmax ? (vmin + vmax) * 0.5 : 0.0;
  return rectifyFlat(w, false, cu, cv);
}

/*
 * pointToPhoto --
 *     Photo coordinates of a point (x, y, z) given relative to the target,
 *     z in DEM units: rows 0 and 1 of M times (x, y, z x zs).  A point of
 *     the focal plane gets the coordinates that groundToPhoto gives the
 *     ground points seen through it.
 * Results:      false when a coordinate is not finite.
 */
bool pointToPhoto(const double *M, double x, double y, double z, double zs, double *u, double *v) {
  const double h = z * zs;
  *u = M[0] * x + M[1] * y + M[2] * h;
  *v = M[3] * x + M[4] * y + M[5] * h;
  return isfinite(*u) && isfinite(*v);
}

namespace {

/*
 * fillAxisSegment --
 *     Writes n value groups (nb values each, pixel-interleaved) along one
 *     column or row, group 0 at position p1 and group n - 1 at p2, spread
 *     evenly between them.  Every pixel whose position rounds into the
 *     span takes the group nearest to it (method 1) or the two groups
 *     around it weighed (method 2).
 * Results:      the number of pixels written; pixels outside the image
 *     are skipped.
 */
int fillAxisSegment(RAMIMG *image, bool alongColumn, int fixed, double p1, double p2, int nb,
                    const int *bands, const float *values, int n, int method) {
  if (!image || !bands || !values || n < 1 || nb < 1) return 0;
  if (method != kSampleNearest && method != kSampleBilinear) return 0;
  if (!isfinite(p1) || !isfinite(p2)) return 0;
  const int length = alongColumn ? image->header.rows : image->header.columns;
  const int across = alongColumn ? image->header.columns : image->header.rows;
  if (fixed < 0 || fixed >= across || length < 1) return 0;
  /* Pixel i covers positions i - 0.5 up to i + 0.5. */
  const double first = std::max(floor(std::min(p1, p2) + 0.5), 0.0);
  const double last = std::min(floor(std::max(p1, p2) + 0.5), static_cast<double>(length - 1));
  if (first > last) return 0;
  const int m = n - 1;
  std::vector<float> group(static_cast<size_t>(nb));
  int written = 0;
  for (int i = static_cast<int>(first); i <= static_cast<int>(last); i++) {
    double t = p2 == p1 ? 0.0 : (i - p1) / (p2 - p1);
    t = std::min(1.0, std::max(0.0, t)) * m;
    if (method == kSampleNearest) {
      const int g = std::min(static_cast<int>(floor(t + 0.5)), m);
      std::copy(values + static_cast<size_t>(g) * nb, values + static_cast<size_t>(g + 1) * nb,
                group.begin());
    } else {
      const int g = std::min(static_cast<int>(t), m);
      const double k = t - g;
      const float *a = values + static_cast<size_t>(g) * nb;
      for (int b = 0; b < nb; b++)
        group[b] = g < m ? static_cast<float>((1 - k) * a[b] + k * a[b + nb]) : a[b];
    }
    const int row = alongColumn ? i : fixed, column = alongColumn ? fixed : i;
    for (int b = 0; b < nb; b++) putFloatBILData(image, row, column, 1, bands[b], &group[b]);
    written++;
  }
  return written;
}

}  // namespace

/*
 * gtopFillColumn --
 *     Writes n value groups down one column from row position y1 (group
 *     0) to y2 (group n - 1) into the bands listed, method 1 nearest or
 *     2 linear.
 * Results:      the number of pixels written.
 */
int gtopFillColumn(RAMIMG *image, int column, double y1, double y2, int nb, const int *bands,
                   const float *values, int n, int method) {
  return fillAxisSegment(image, true, column, y1, y2, nb, bands, values, n, method);
}

/*
 * gtopFillRow --
 *     The same along one row, from column position x1 to x2.
 * Results:      the number of pixels written.
 */
int gtopFillRow(RAMIMG *image, int row, double x1, double x2, int nb, const int *bands,
                const float *values, int n, int method) {
  return fillAxisSegment(image, false, row, x1, x2, nb, bands, values, n, method);
}

/*
 * rayFixedRadii --
 *     Values of a ray over terrain at the fixed radii r0 + k dr, k = 0 ..
 *     count - 1: n samples at radii v + j with heights dem[j] x zs, seen
 *     from the height zc.  A sample shows at its apparent radius
 *     zc (v + j) / (zc - zs dem[j]) when that passes the highest one so
 *     far; a fixed radius up to it takes the sample before and this one
 *     weighed by its place between their apparent radii.  Terrain at or
 *     above the eye hides everything behind it.
 * Results:      the number of radii filled, a run from *first; the other
 *     radii of values (count x bands) are 0.
 */
int rayFixedRadii(const float *image, const float *dem, int n, double zs, double zc, double v,
                  double r0, double dr, int count, int bands, float *values, int *first) {
  *first = 0;
  if (count < 1 || bands < 1) return 0;
  std::fill(values, values + static_cast<size_t>(count) * bands, 0.0f);
  if (n < 1 || !(dr > 0) || !isfinite(dr) || !isfinite(r0) || !isfinite(v)) return 0;
  auto apparent = [&](int j, double *m) {
    const double den = zc - zs * dem[j];
    if (!(den > 0)) return false;
    *m = zc * (v + j) / den;
    return isfinite(*m) != 0;
  };
  auto radius = [&](int k) { return r0 + k * dr; };
  double m0;
  if (!apparent(0, &m0)) return 0;
  /* The first fixed radius at or past the first sample. */
  const double k0 = ceil((m0 - r0) / dr);
  if (!(k0 <= count)) return 0;
  int k = k0 > 0 ? static_cast<int>(k0) : 0;
  while (k > 0 && radius(k - 1) >= m0) k--;
  while (k < count && radius(k) < m0) k++;
  const int start = k;
  for (; k < count && radius(k) <= m0; k++)
    std::copy(image, image + bands, values + static_cast<size_t>(k) * bands);
  double H = m0, p = m0;
  for (int j = 1; j < n && k < count; j++) {
    double m;
    if (!apparent(j, &m)) break;
    if (m > H) {
      const float *a = image + static_cast<size_t>(j - 1) * bands, *b = a + bands;
      for (; k < count && radius(k) <= m; k++) {
        const double K = (radius(k) - p) / (m - p);
        float *out = values + static_cast<size_t>(k) * bands;
        for (int i = 0; i < bands; i++) out[i] = static_cast<float>((1 - K) * a[i] + K * b[i]);
      }
      H = m;
    }
    p = m;
  }
  *first = start;
  return k - start;
}

}  // namespace vesk
