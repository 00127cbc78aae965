/*
 * demshade.cpp --
 *     The DEM modules of rimage: "gdem" shades a digital elevation model
 *     under a light (Lambert, sine or tangent of the slope, and three
 *     perspective highlight models), optionally corrects a second image
 *     for the shading, and labels a DEM as normalized; "gslope" turns a
 *     normalized DEM into a slope image one row and one column smaller.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <iterator>
#include <new>
#include <vector>

#include "core/options.h"
#include "core/threads.h"
#include "core/text.h"
#include "processing/rimage.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "raster/sniffer.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Image types of a normalized DEM and of a slope image. */
constexpr int kNormalizedDem = 100;
constexpr int kSlopeImage = 102;

constexpr double kRadiansPerDegree = 3.141592653589793 * 0.005555555555555556;

/* The z scale a normalized DEM lends: formats that carry none leave 0, and
   a scale not above 0 means the values are heights in the units of dx, dy. */
double demZScale(const ImageHeader &h) { return h.zscale > 0 ? h.zscale : 1.0; }

/* ---- gdem ---- */

/* Rows of gdemOptions. */
enum {
  GD_DX, GD_DY, GD_DEM, GD_SHADE, GD_IMG, GD_OP, GD_AZ, GD_VA, GD_ZS, GD_B, GD_U, GD_S,
  GD_AVG, GD_VAZ, GD_VVA, GD_H, GD_XC, GD_YC, GD_P, GD_OFF, GD_G, GD_CALIB, GD_CB, GD_FB,
  GD_M, GD_IN, GD_OUT, GD_SLOPE, GD_OPTION_COUNT
};

const ModuleOption gdemOptions[] = {
    {"-dx", nullptr},  {"-dy", nullptr},    {"-dem", nullptr},   {"-shade", nullptr},
    {"-img", nullptr}, {"-op", nullptr},    {"-az", nullptr},    {"-va", nullptr},
    {"-zs", nullptr},  {"-b", nullptr},     {"-u", nullptr},     {"-s", nullptr},
    {"-avg", nullptr}, {"-vaz", nullptr},   {"-vva", nullptr},   {"-h", nullptr},
    {"-xc", nullptr},  {"-yc", nullptr},    {"-p", nullptr},     {"-off", nullptr},
    {"-g", nullptr},   {"-calib", nullptr}, {"-cb", nullptr},    {"-fb", nullptr},
    {"-m", nullptr},   {"-in", nullptr},    {"-out", nullptr},   {"-slope", nullptr},
    {nullptr, nullptr},
};
static_assert(sizeof gdemOptions / sizeof gdemOptions[0] == GD_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const gdemUsage[] = {
    "where DEM    input DEM image\n",
    "      SHADE  output shade image\n",
    "      DX     pixel width\n",
    "      DY     pixel height\n",
    "      ZS     z scale (1.0)\n",
    "      S      output scale (255.0)\n",
    "      U      flag of update (0)\n",
    "      AVG    flag of averaging (1)\n",
    "      OP     flag of operation: LAMBERT, SINE, TANG, NORM, SL, HL, HLE (LAMBERT)\n",
    "      AZ     azimuth (135)\n",
    "      VA     vertical angle (45)\n",
    "      VAZ    view azimuth (AZ)\n",
    "      VVA    view vertical angle (90)\n",
    "      H      height of focal point\n",
    "      XC     x of focal point\n",
    "      YC     y of focal point\n",
    "      P      power (1.0)\n",
    "      OFF    offset (0.0)\n",
    "      GAIN   gain (0.5)\n",
    "      IMG    the input image to be calibarated\n",
    "      CALIB  the calibarated image\n",
    "      CB     the band to be calibarated\n",
    "      FB     the feed back factor (-0.5)\n",
    "      M      flag of multi-centeral projection (0)\n",
};

/* Operations, in the order of their codes. */
enum GdemOperation { OP_LAMBERT, OP_SINE, OP_TANG, OP_SL, OP_HL, OP_HLE, OP_NORM };
const char *const operationNames[] = {"LAMBERT", "SINE", "TANG", "SL", "HL"};

/* The work record of one gdem call; owns its images until closeGdemImages. */
struct GdemWork {
  RAMIMG *dem = nullptr;
  RAMIMG *shade = nullptr;       /* output; null when only calibrating */
  RAMIMG *img = nullptr;         /* reference image of the calibration */
  RAMIMG *calib = nullptr;       /* calibrated (output) image */
  int op = OP_LAMBERT;
  int demBand = 0, shadeBand = 0;
  int calibBand = -1;            /* 0-based; -1: all bands */
  int columns = 0, rows = 0;     /* of the geometry image */
  int update = 0, average = 1, multiCentral = 0;
  float dx = 1, dy = 1;
  float az = 0, va = 0, zs = 1, scale = 255;  /* angles in radians */
  float vaz = 0, vva = 0;
  bool verticalView = true;      /* the view elevation was 90 degrees */
  float H = 0, xc = 0, yc = 0;   /* focal height, column and row */
  float power = 1, offset = 0, gain = 0.5f, feedback = -0.5f;
  float hleAngle = 0;            /* HLE halo width, radians */
  bool hleFromGeometry = false;  /* "HLE" without its angle */
};

/* closeGdemImages -- closes each of the four images that is open. */
void closeGdemImages(GdemWork *w) {
  for (RAMIMG **image : {&w->dem, &w->shade, &w->img, &w->calib}) {
    if (*image) closeRAMImage(*image, nullptr);
    *image = nullptr;
  }
}

/* A failed parse: the message is out; images closed, the open error printed. */
int gdemParseFailure(GdemWork *w, int err) {
  closeGdemImages(w);
  printRAMImageError(err);
  return 0;
}

/*
 * copyHeaderAs --
 *     A header for a new image like the given one, named path.
 * Results:      false when the path does not fit the header.
 */
bool copyHeaderAs(const ImageHeader &from, const char *path, ImageHeader *to) {
  if (strlen(path) >= sizeof to->path) return false;
  *to = from;
  strcpy(to->path, path);
  to->offset = 0;
  to->block = 0;
  to->altFd = -1;
  to->volumes = 0;
  to->readerFlag = 0;
  return true;
}

/* A float option, or its default. */
float floatOption(const char *value, double fallback) {
  return static_cast<float>(value ? atof(value) : fallback);
}
int intOption(const char *value, long fallback) {
  return static_cast<int>(value ? atol(value) : fallback);
}

/* ---- row kernels ---- */

/* The light direction of the work record. */
struct Light {
  float x, y, z;
};
inline Light lightOf(const GdemWork &w) {
  return {static_cast<float>(cos(w.va) * sin(w.az)), static_cast<float>(cos(w.va) * cos(w.az)),
          static_cast<float>(sin(w.va))};
}

/*
 * shadeRow --
 *     Runs a cell function over the 2x2 cells of two DEM rows: output
 *     column j >= 1 gets cell(j, gx, gy) from the gradients of the cell
 *     left of it, and column 0 repeats column 1.  A single column has no
 *     cell: it gets the value of a flat one.
 */
template <class Cell>
inline void shadeRow(const float *__restrict P, const float *__restrict Q, float *__restrict out,
                     int columns, const GdemWork &w, Cell cell) {
  const float fx = 2 * w.zs / w.dx;
  const float fy = 2 * w.zs / w.dy;
  for (int j = 1; j < columns; j++) {
    const float gx = fx * ((P[j] + Q[j]) - (P[j - 1] + Q[j - 1]));
    const float gy = fy * ((P[j - 1] + P[j]) - (Q[j - 1] + Q[j]));
    out[j] = cell(j, gx, gy);
  }
  out[0] = columns > 1 ? out[1] : cell(0, 0.0f, 0.0f);
}

typedef void GdemRowProc(const float *P, const float *Q, float *out, int columns,
                         const GdemWork &w, int row);

/* shadeRowLambert -- the Lambert shade seen from the view direction. */
void shadeRowLambert(const float *P, const float *Q, float *out, int columns, const GdemWork &w,
                     int) {
  const Light L = lightOf(w);
  const float Vx = static_cast<float>(cos(w.vva) * sin(w.vaz));
  const float Vy = static_cast<float>(cos(w.vva) * cos(w.vaz));
  const float Vz = static_cast<float>(sin(w.vva));
  const float S = w.scale;
  shadeRow(P, Q, out, columns, w, [&](int, float gx, float gy) {
    const float O = gx * gx + gy * gy + 1;
    const float Ln = gx * L.x + gy * L.y - L.z;
    return S * (gx * Vx + gy * Vy - Vz) * Ln / O;
  });
}

/* slopeRowSine -- the sine of the slope, scaled. */
void slopeRowSine(const float *P, const float *Q, float *out, int columns, const GdemWork &w,
                  int) {
  const float S = w.scale;
  shadeRow(P, Q, out, columns, w, [&](int, float gx, float gy) {
    const float O = gx * gx + gy * gy + 1;
    return static_cast<float>(S * sqrt(1 - 1 / O));
  });
}

/* slopeRowTang -- the tangent of the slope, scaled. */
void slopeRowTang(const float *P, const float *Q, float *out, int columns, const GdemWork &w,
                  int) {
  const float S = w.scale;
  shadeRow(P, Q, out, columns, w, [&](int, float gx, float gy) {
    return static_cast<float>(S * sqrt(gx * gx + gy * gy));
  });
}

/*
 * perspectiveRow --
 *     The cells of one row seen from the focal point: hands the cell
 *     function the unit vector to the eye (vx, vy, vz), the diffuse term
 *     B, Vn, O, gx and gy.
 */
template <class Cell>
inline void perspectiveRow(const float *P, const float *Q, float *out, int columns,
                           const GdemWork &w, int row, Cell cell) {
  const Light L = lightOf(w);
  const float Y = w.multiCentral ? w.dy * w.yc : w.dy * (w.yc - static_cast<float>(row));
  const float H2 = w.H * w.H;
  shadeRow(P, Q, out, columns, w, [&](int j, float gx, float gy) {
    const float X = (static_cast<float>(j) - w.xc) * w.dx;
    const float R = static_cast<float>(sqrt(X * X + Y * Y + H2));
    const float vx = -X / R, vy = -Y / R, vz = w.H / R;
    const float O = gx * gx + gy * gy + 1;
    const float Ln = gx * L.x + gy * L.y - L.z;
    const float Vn = gx * vx + gy * vy - vz;
    const float B = (1 - w.gain) * Vn * Ln / O;
    const float c = vx * L.x + vy * L.y + vz * L.z;
    return cell(gx, gy, O, Vn, B, c, L);
  });
}

/* shadeRowSL -- diffuse shade plus the specular highlight of the mirrored view. */
void shadeRowSL(const float *P, const float *Q, float *out, int columns, const GdemWork &w,
                int row) {
  const float S = w.scale, g = w.gain, off = w.offset;
  const double p = w.power;
  perspectiveRow(P, Q, out, columns, w, row,
                 [&](float gx, float gy, float O, float Vn, float B, float c, const Light &L) {
                   const float D = -c - 2 * (L.z - L.x * gx - L.y * gy) * Vn / O;
                   if (D > 0) return static_cast<float>(off + S * (g * pow(D, p) + B));
                   return off + S * B;
                 });
}

/*
 * shadeRowHL --
 *     Diffuse shade plus a halo around the light.  A negative cosine
 *     between view and light under a power that is not whole has no real
 *     power: it adds no halo.
 */
void shadeRowHL(const float *P, const float *Q, float *out, int columns, const GdemWork &w,
                int row) {
  const float S = w.scale, g = w.gain, off = w.offset;
  const double p = w.power;
  const bool whole = p == floor(p);
  perspectiveRow(P, Q, out, columns, w, row,
                 [&](float, float, float, float, float B, float c, const Light &) {
                   const double halo = c >= 0 || whole ? pow(c, p) : 0.0;
                   return static_cast<float>(off + S * (g * halo + B));
                 });
}

/* shadeRowHLE -- diffuse shade plus an exponential halo of angular width HLE. */
void shadeRowHLE(const float *P, const float *Q, float *out, int columns, const GdemWork &w,
                 int row) {
  const float S = w.scale, g = w.gain, off = w.offset;
  const double p = w.power;
  const double sinE = sin(w.hleAngle);
  perspectiveRow(P, Q, out, columns, w, row,
                 [&](float, float, float, float, float B, float cosine, const Light &) {
                   const float c = std::min(cosine, 0.0f);
                   const double halo = exp(-pow(sqrt(1 - c * c) / sinE, p));
                   return static_cast<float>(off + S * (g * halo + B));
                 });
}

/*
 * averageRows --
 *     The mean of two output rows over 2x2 neighbourhoods; the first and
 *     last columns average only vertically.
 */
void averageRows(const float *a, const float *b, float *result, int columns) {
  result[0] = (a[0] + b[0]) * 0.5f;
  if (columns < 2) return;
  for (int k = 1; k < columns - 1; k++) result[k] = (a[k] + b[k] + a[k + 1] + b[k + 1]) * 0.25f;
  result[columns - 1] = (a[columns - 1] + b[columns - 1]) * 0.5f;
}

/*
 * calibrateRow --
 *     Corrects one row of the source image for the shade into the target:
 *     value + S + fb x shade, band by band from the given band (or all).
 */
void calibrateRow(RAMIMG *source, RAMIMG *target, int band, int row, int column, int count,
                  float scale, const float *shade, float feedback, float *work) {
  const int last = band >= 0 ? band + 1
                             : std::min(source->header.nbands, target->header.nbands);
  for (int b = std::max(band, 0); b < last; b++) {
    getFloatBILData(source, row, column, count, b, work);
    for (int k = 0; k < count; k++) work[k] = work[k] + scale + feedback * shade[k];
    putFloatBILData(target, row, column, count, b, work);
  }
}

/*
 * demStats --
 *     The mean, least and greatest value of band 0 into the header's z0,
 *     zmin and zmax.
 * Results:      1, or 0 when the row buffer cannot be had.
 */
int demStats(RAMIMG *image) {
  ImageHeader &h = image->header;
  std::vector<float> row;
  try {
    row.resize(static_cast<size_t>(std::max(h.columns, 0)));
  } catch (const std::bad_alloc &) {
    return 0;
  }
  double sum = 0, lo = HUGE_VAL, hi = -HUGE_VAL;
  for (int i = 0; i < h.rows; i++) {
    getFloatBILData(image, i, 0, h.columns, 0, row.data());
    for (float v : row) {
      sum += v;
      lo = std::min(lo, static_cast<double>(v));
      hi = std::max(hi, static_cast<double>(v));
    }
  }
  const double n = static_cast<double>(h.rows) * h.columns;
  if (n > 0) {
    h.z0 = sum / n;
    h.zmin = lo;
    h.zmax = hi;
  }
  return 1;
}

/* Stores the header of a file image back into its file (IMAGEDEF, ERDAS). */
void rewriteHeaderOf(RAMIMG *image) {
  if (image->fd >= 0) rewriteImageHeader(image->fd, &image->header);
}

/* Opens an existing image, or creates one from a header, named by word. */
RAMIMG *openOrCreate(const char *word, const ImageHeader &like, int *err) {
  RAMIMG *image = openRAMImage(word, word, nullptr, nullptr, err);
  if (image) return image;
  ImageHeader h;
  if (!copyHeaderAs(like, word, &h)) return nullptr;
  return openRAMImageNew(&h, nullptr, 1, err);
}

/*
 * parseGdemOptions --
 *     Fills the work record from the option words and opens the images.
 * Results:      1; 0 after the message of the first fault, with nothing
 *               left open.
 */
int parseGdemOptions(GdemWork *w, int argc, const char **argv) {
  ModuleOption o[GD_OPTION_COUNT + 1];
  std::copy(std::begin(gdemOptions), std::end(gdemOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  int err = 0;

  w->op = OP_LAMBERT;
  if (const char *word = o[GD_OP].value) {
    w->op = -1;
    for (int i = 0; i < 5 && w->op < 0; i++)
      if (strcmp(word, operationNames[i]) == 0) w->op = i;
    if (w->op < 0 && strcmp(word, "NORM") == 0) w->op = OP_NORM;
    if (w->op < 0 && strncmp(word, "HLE", 3) == 0) {
      w->op = OP_HLE;
      float degrees = 0;
      if (sscanf(word, "HLE%f", &degrees) == 1)
        w->hleAngle = static_cast<float>(degrees * kRadiansPerDegree);
      else
        w->hleFromGeometry = true;
    }
    if (w->op < 0) {
      vesk_fprintf(stderr, "Unknown operation.\n");
      return 0;
    }
  }

  if (!o[GD_DEM].value) o[GD_DEM].value = o[GD_IN].value;
  if (!o[GD_SHADE].value) o[GD_SHADE].value = o[GD_OUT].value;
  if (!o[GD_SHADE].value) o[GD_SHADE].value = o[GD_SLOPE].value;

  if (w->op == OP_SINE || w->op == OP_TANG) {
    if (!o[GD_DEM].value || !o[GD_SHADE].value) {
      vesk_fprintf(stderr, "Missing DEM image or slope images!\n");
      return 0;
    }
  } else if (!o[GD_DEM].value) {
    vesk_fprintf(stderr, "Missing DEM image!\n");
    return 0;
  } else if (w->op != OP_NORM && !o[GD_SHADE].value && !o[GD_CALIB].value) {
    vesk_fprintf(stderr, "Missing output shade/calib image(s)!\n");
    return 0;
  }

  if (const char *word = o[GD_IMG].value) {
    w->img = openRAMImage(word, word, nullptr, nullptr, &err);
    if (!w->img) {
      vesk_fprintf(stderr, "Error in open %s.\n", word);
      return gdemParseFailure(w, err);
    }
  }
  if (const char *word = o[GD_CALIB].value) {
    w->calib = openRAMImage(word, word, nullptr, nullptr, &err);
    if (!w->calib && w->img) {
      ImageHeader h;
      if (copyHeaderAs(w->img->header, word, &h)) w->calib = openRAMImageNew(&h, nullptr, 1, &err);
    }
    if (!w->calib) {
      vesk_fprintf(stderr, "Error in open %s.\n", word);
      return gdemParseFailure(w, err);
    }
    if (w->calib->header.nindices > 0) {
      vesk_fprintf(stderr, "Index image can not be calibarated.\n");
      return gdemParseFailure(w, err);
    }
    if (o[GD_CB].value) {
      w->calibBand = intOption(o[GD_CB].value, 0) - 1;
      if (w->calibBand < 0 || w->calibBand >= w->calib->header.nbands) {
        vesk_fprintf(stderr, "Invalid band of the image to be calibarated\n");
        return gdemParseFailure(w, err);
      }
    }
  }
  {
    const char *word = o[GD_DEM].value;
    w->dem = openRAMImage(word, word, nullptr, nullptr, &err);
    if (!w->dem) {
      vesk_fprintf(stderr, "Error in open %s.\n", word);
      return gdemParseFailure(w, err);
    }
    if (w->dem->header.nindices > 0) {
      vesk_fprintf(stderr, "Index image is not supported.\n");
      return gdemParseFailure(w, err);
    }
  }
  if (const char *word = o[GD_SHADE].value) {
    const ImageHeader &like = w->dem ? w->dem->header : w->calib->header;
    w->shade = openOrCreate(word, like, &err);
    if (!w->shade) {
      vesk_fprintf(stderr, "Error in open %s.\n", word);
      return gdemParseFailure(w, err);
    }
    if (w->shade->header.nindices > 0) {
      vesk_fprintf(stderr, "Index image is not supported.\n");
      return gdemParseFailure(w, err);
    }
  } else if (!w->calib) {
    vesk_fprintf(stderr, "output image file(s) missing.\n");
    return gdemParseFailure(w, err);
  }
  if (w->dem == w->shade) {
    vesk_fprintf(stderr, "DEM image should not be the same as the shade or slope image.\n");
    return gdemParseFailure(w, err);
  }

  RAMIMG *geometry = w->dem ? w->dem : w->calib ? w->calib : w->img ? w->img : w->shade;
  if (!geometry) {
    vesk_fprintf(stderr, "image file(s) missing.\n");
    return gdemParseFailure(w, err);
  }
  const ImageHeader &g = geometry->header;
  w->dx = floatOption(o[GD_DX].value, g.dx);
  w->dy = floatOption(o[GD_DY].value, g.dy);
  w->columns = g.columns;
  w->rows = g.rows;
  w->az = floatOption(o[GD_AZ].value, 135.0);
  w->zs = floatOption(o[GD_ZS].value,
                      w->dem->header.imgtype == kNormalizedDem ? demZScale(w->dem->header) : 1.0);
  w->va = floatOption(o[GD_VA].value, 45.0);
  w->power = floatOption(o[GD_P].value, 1.0);
  w->offset = floatOption(o[GD_OFF].value, 0.0);
  w->gain = floatOption(o[GD_G].value, 0.5);

  int demBand = 1, shadeBand = 1;
  if (const char *word = o[GD_B].value) {
    if (sscanf(word, "%d:%d", &demBand, &shadeBand) != 2) {
      vesk_fprintf(stderr, "Error in band specification.\n");
      return gdemParseFailure(w, err);
    }
  }
  if (demBand < 1 || demBand > w->dem->header.nbands) {
    vesk_fprintf(stderr, "Invalid DEM image band:%d\n", demBand);
    return gdemParseFailure(w, err);
  }
  if (w->shade && (shadeBand < 1 || shadeBand > w->shade->header.nbands)) {
    vesk_fprintf(stderr, "Invalid shade image band:%d\n", shadeBand);
    return gdemParseFailure(w, err);
  }
  w->demBand = demBand - 1;
  w->shadeBand = shadeBand - 1;

  w->update = intOption(o[GD_U].value, 0);
  w->scale = floatOption(o[GD_S].value, 255.0);
  w->average = intOption(o[GD_AVG].value, 1);
  w->vaz = floatOption(o[GD_VAZ].value, w->az);
  w->vva = floatOption(o[GD_VVA].value, 90.0);
  w->verticalView = w->vva == 90.0f;
  w->H = floatOption(o[GD_H].value, static_cast<double>(w->columns) * w->dx * 2);
  w->xc = floatOption(o[GD_XC].value, (w->columns - 1) * 0.5);
  w->yc = floatOption(o[GD_YC].value, (w->rows - 1) * 0.5);
  w->multiCentral = intOption(o[GD_M].value, 0);
  w->az = static_cast<float>(w->az * kRadiansPerDegree);
  w->va = static_cast<float>(w->va * kRadiansPerDegree);
  w->vaz = static_cast<float>(w->vaz * kRadiansPerDegree);
  w->vva = static_cast<float>(w->vva * kRadiansPerDegree);
  if (w->hleFromGeometry)
    w->hleAngle = static_cast<float>(atan(w->H / ((w->columns / 2) * w->dx)));
  w->feedback = floatOption(o[GD_FB].value, -0.5);
  return 1;
}

/*
 * runGdem --
 *     Shades the DEM row by row into the shade band, corrects the
 *     calibrated image with each shade row, then labels a slope output,
 *     tells the clients and closes every image.
 * Results:      1, or 0 when the row buffer cannot be had.
 */
int runGdem(GdemWork *w) {
  static GdemRowProc *const rowProcs[] = {shadeRowLambert, slopeRowSine, slopeRowTang,
                                         shadeRowSL,      shadeRowHL,   shadeRowHLE};
  const int columns = w->columns;
  const size_t n = static_cast<size_t>(std::max(columns, 1));
  const int grain = rowGrain(static_cast<long long>(columns) * (w->op >= OP_SL ? 32 : 8));
  const int round = roundRows(grain, w->rows, static_cast<long long>(n) * 8);
  /* A round's DEM rows with the two before it (rows -2 and -1 repeat
     row 0), and its shade rows. */
  std::vector<float> dem, shades, work;
  try {
    dem.resize((static_cast<size_t>(round) + 2) * n);
    shades.resize(static_cast<size_t>(round) * n);
    work.resize(n);  /* the calibration's own row */
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in gmemAlloc.\n");
    closeGdemImages(w);
    return 0;
  }
  GdemRowProc *rowProc = rowProcs[w->op];
  auto demRow = [&](int k) { return dem.data() + static_cast<size_t>(k + 2) * n; };

  RowMeter meter("gdem");
  meter.threshold = meterInc();
  for (int r0 = 0; r0 < w->rows; r0 += round) {
    const int m = std::min(round, w->rows - r0);
    /* Each DEM row is read once, in order (the calibrated image may be
       the DEM): the two before a round are kept from the last one. */
    for (int k = r0 == 0 ? -2 : 0; k < m; k++)
      getFloatBILData(w->dem, std::max(r0 + k, 0), 0, columns, w->demBand, demRow(k));
    /* Row i shades the cells between DEM rows i - 1 and i; averaged, it
       is the mean of raw rows i - 1 and i, so a block works out the raw
       row before its first as well. */
    parallelRows(m, grain, [&](int first, int end) {
      std::vector<float> raw(2 * n);
      float *raws[2] = {raw.data(), raw.data() + n};
      if (w->average)
        rowProc(demRow(first - 2), demRow(first - 1), raws[(first & 1) ^ 1], columns, *w,
                std::max(r0 + first - 1, 0));
      for (int k = first; k < end; k++) {
        const int i = r0 + k, now = k & 1;
        float *shade = shades.data() + static_cast<size_t>(k) * n;
        float *out = w->average ? raws[now] : shade;
        rowProc(demRow(k - 1), demRow(k), out, columns, *w, i);
        if (w->average) averageRows(i == 0 ? out : raws[now ^ 1], out, shade, columns);
      }
    });
    for (int k = 0; k < m; k++) {
      const int i = r0 + k;
      const float *shade = shades.data() + static_cast<size_t>(k) * n;
      if (w->shade) putFloatBILData(w->shade, i, 0, columns, w->shadeBand, shade);
      if (w->calib)
        calibrateRow(w->img ? w->img : w->calib, w->calib, w->calibBand, i, 0, columns, w->scale,
                     shade, w->feedback, work.data());
      meter.row(i + 1, w->rows);
    }
    std::copy_n(demRow(m - 2), n, demRow(-2));
    std::copy_n(demRow(m - 1), n, demRow(-1));
  }
  meter.finish();

  if (RAMIMG *out = w->shade) {
    if ((w->op == OP_SINE || w->op == OP_TANG) && w->verticalView) {
      demStats(out);
      out->header.zscale = w->scale;
      out->header.imgtype = kSlopeImage;
      rewriteHeaderOf(out);
    }
    if (out->hist) resetHist(&out->hist[w->shadeBand]);
    updateClient(out, nullptr, 2);
    if (w->update) flushRAMImage(out);
  }
  if (RAMIMG *out = w->calib) {
    freeImageStats(out);
    updateClient(out, nullptr, 2);
    if (w->update) flushRAMImage(out);
  }
  closeGdemImages(w);
  return 1;
}

}  // namespace

/*
 * gdemModule --
 *     "rimage gdem -dem DEM -shade SHADE ...": shading, slope, calibration
 *     by shade, or the NORM label of a DEM.
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int gdemModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -dem DEM -shade SHADE -dx DX -dy DY -zs ZS -u U -s S -avg AVG -op OP "
                "-az AZ -va VA -vaz VAZ -vva VVA -h H -xc XC -yc YC -p P -off OFF -g GAIN "
                "-img IMG -calib CALIB -cb CB -fb FB -m M\n",
                prog);
    for (const char *line : gdemUsage) vesk_printf("%s", line);
    return 2;
  }
  GdemWork work;
  if (!parseGdemOptions(&work, argc, argv)) return 0;
  if (work.op != OP_NORM) return runGdem(&work);
  RAMIMG *dem = work.dem;
  demStats(dem);
  dem->header.imgtype = kNormalizedDem;
  rewriteHeaderOf(dem);
  if (work.update) updateClient(dem, nullptr, 2);
  closeGdemImages(&work);
  return 1;
}

/* ---- gslope ---- */

namespace {

enum { GS_IN, GS_OUT, GS_SCALE, GS_OPTION_COUNT };

const ModuleOption gslopeOptions[] = {
    {"-in", nullptr}, {"-out", nullptr}, {"-scale", nullptr}, {nullptr, nullptr},
};
static_assert(sizeof gslopeOptions / sizeof gslopeOptions[0] == GS_OPTION_COUNT + 1,
              "one row per option and the end row");

const char *const gslopeUsage[] = {
    "    where\n",
    "    IN     the input image file;\n",
    "    OUT    the output image file;\n",
    "    SCALE  the scale (100 or 256, defalt:100).\n",
};

/* The work record of one gslope call. */
struct GslopeWork {
  RAMIMG *in = nullptr;
  RAMIMG *out = nullptr;
  double scale = 100.0;
};

/* closeGslope -- closes output and input. */
void closeGslope(GslopeWork *w) {
  if (w->out) closeRAMImage(w->out, nullptr);
  if (w->in) closeRAMImage(w->in, nullptr);
  w->out = w->in = nullptr;
}

/*
 * parseGslopeOptions --
 *     Reads the scale, opens the normalized DEM and creates the slope
 *     image one row and one column smaller.
 * Results:      1; 0 after the message, with nothing left open.
 */
int parseGslopeOptions(GslopeWork *w, int argc, const char **argv) {
  ModuleOption o[GS_OPTION_COUNT + 1];
  std::copy(std::begin(gslopeOptions), std::end(gslopeOptions), o);
  int unmatched = matchOptions(o, argc, argv);
  if (unmatched > 0) {
    vesk_fprintf(stderr, "Error: %d unknown param(s).\n", unmatched);
    return 0;
  }
  w->scale = o[GS_SCALE].value ? atof(o[GS_SCALE].value) : 100.0;
  if (!(w->scale > 0)) {
    vesk_fprintf(stderr, "Scale should be greater than 0.\n");
    return 0;
  }
  const char *in = o[GS_IN].value, *out = o[GS_OUT].value;
  if (!in) {
    vesk_fprintf(stderr, "Input image file missing!\n");
    return 0;
  }
  if (!out) {
    vesk_fprintf(stderr, "Output file missing!\n");
    return 0;
  }
  if (compareNoCase(in, out) == 0) {
    vesk_fprintf(stderr, "Input file must not be the same as the output.\n");
    return 0;
  }
  int err = 0;
  w->in = openRAMImage(in, in, nullptr, nullptr, &err);
  if (!w->in) {
    vesk_fprintf(stderr, "Error in open:%s\n", in);
    return 0;
  }
  if (w->in->header.imgtype != kNormalizedDem) {
    vesk_fprintf(stderr, "Must be normalized DEM image.\n");
    closeGslope(w);
    return 0;
  }
  ImageHeader h;
  if (copyHeaderAs(w->in->header, out, &h)) {
    h.rows--;
    h.columns--;
    if (h.rows > 0 && h.columns > 0) w->out = openRAMImageNew(&h, nullptr, 0, &err);
  }
  if (!w->out) {
    vesk_fprintf(stderr, "Error in open %s.\n", out);
    closeGslope(w);
    return 0;
  }
  return 1;
}

/*
 * runGslope --
 *     The scaled tangent of the slope of each 2x2 cell of band 0: output
 *     row i - 1, column j - 1 from DEM rows i - 1, i and columns j - 1, j.
 *     The output's header gets the values' mean and range, the scale as
 *     zscale and the slope image type.
 */
void runGslope(GslopeWork *w) {
  const ImageHeader &h = w->in->header;
  const int columns = h.columns;
  const double zs = demZScale(h);
  const double mx = 4 * (h.dx / zs) * (h.dx / zs);
  const double my = 4 * (h.dy / zs) * (h.dy / zs);
  const float scale = static_cast<float>(w->scale);
  const size_t n = static_cast<size_t>(columns);
  /* Rounds of output rows: the DEM rows (the one before the round first)
     read here, the slopes worked out on the pool, then summed here in
     the order of one thread and written. */
  const int outRows = h.rows - 1;
  const int grain = rowGrain(static_cast<long long>(columns) * 16);
  const int round = roundRows(grain, outRows, static_cast<long long>(n) * 8);
  std::vector<float> dem((static_cast<size_t>(round) + 1) * n), slopes(static_cast<size_t>(round) * n);
  double sum = 0, lo = HUGE_VAL, hi = -HUGE_VAL;
  getFloatBILData(w->in, 0, 0, columns, 0, dem.data());
  for (int r0 = 0; r0 < outRows; r0 += round) {
    const int m = std::min(round, outRows - r0);
    for (int k = 1; k <= m; k++) getFloatBILData(w->in, r0 + k, 0, columns, 0, &dem[k * n]);
    /* All the round in one call (one thread) is done in order: the sums
       go along with the slopes, as they would after them. */
    bool summed = false;
    parallelRows(m, grain, [&](int first, int end) {
      const bool inOrder = first == 0 && end == m;
      for (int k = first; k < end; k++) {
        const float *P = &dem[k * n], *Q = &dem[(k + 1) * n];
        float *out = &slopes[k * n];
        for (int j = 1; j < columns; j++) {
          const float a = (P[j - 1] + Q[j - 1]) - (P[j] + Q[j]);
          const float b = (P[j - 1] + P[j]) - (Q[j - 1] + Q[j]);
          const float kk = static_cast<float>(1 / (a * a / mx + b * b / my + 1));
          const float value = static_cast<float>(sqrt((1 - kk) / kk)) * scale;
          out[j - 1] = value;
          if (inOrder) {
            sum += value;
            lo = std::min(lo, static_cast<double>(value));
            hi = std::max(hi, static_cast<double>(value));
          }
        }
      }
      if (inOrder) summed = true;
    });
    for (int k = 0; k < m; k++) {
      const float *row = &slopes[k * n];
      for (int j = 0; j < columns - 1 && !summed; j++) {
        const float value = row[j];
        sum += value;
        lo = std::min(lo, static_cast<double>(value));
        hi = std::max(hi, static_cast<double>(value));
      }
      putFloatBILData(w->out, r0 + k, 0, columns - 1, 0, row);
    }
    std::copy_n(&dem[m * n], n, dem.data());
  }
  ImageHeader &oh = w->out->header;
  oh.z0 = sum / (static_cast<double>(h.rows - 1) * (columns - 1));
  oh.zmin = lo;
  oh.zmax = hi;
  oh.zscale = w->scale;
  oh.imgtype = kSlopeImage;
  rewriteHeaderOf(w->out);
}

}  // namespace

/*
 * gslopeModule --
 *     "rimage gslope -in IN -out OUT -scale SCALE".
 * Results:      2 after the usage, 0 on failure, 1 on success.
 */
int gslopeModule(const char *prog, int argc, const char **argv) {
  if (argc == 0) {
    vesk_printf("Usage: %s -in IN -out OUT -scale SCALE\n", prog);
    for (const char *line : gslopeUsage) vesk_printf("%s", line);
    return 2;
  }
  GslopeWork work;
  if (!parseGslopeOptions(&work, argc, argv)) return 0;
  int result = 1;
  try {
    runGslope(&work);
  } catch (const std::bad_alloc &) {
    vesk_fprintf(stderr, "Error in malloc.\n");
    result = 0;
  }
  closeGslope(&work);
  return result;
}

}  // namespace vesk
