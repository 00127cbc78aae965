/*
 * gimgquery.cpp --
 *     What scripts ask a gimg view: conversions between display, view,
 *     image, file and map coordinates; the values of the image shown
 *     (pixels, runs, profiles, sections), its histograms and statistics;
 *     writing one pixel; and the rendered view written to an image file
 *     or a Tk photo ("dump").
 */
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <string>
#include <vector>

#include "core/core.h"
#include "core/savefile.h"
#include "core/text.h"
#include "display/colortab.h"
#include "display/gimg.h"
#include "display/photo.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"
#include "raster/profile.h"
#include "raster/roi.h"
#include "raster/sniffer.h"

namespace vesk {
namespace {

int usageText(Tcl_Interp *interp, const std::string &text) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, text.c_str(), nullptr);
  return TCL_ERROR;
}

/* Sets the result to a pair of numbers. */
void setPair(Tcl_Interp *interp, double a, double b) {
  Tcl_Obj *pair[2] = {Tcl_NewDoubleObj(a), Tcl_NewDoubleObj(b)};
  Tcl_SetObjResult(interp, Tcl_NewListObj(2, pair));
}

/* The two coordinate words of a conversion. */
int readPair(GimgMaster *, Tcl_Interp *interp, int argc, const char *argv[], double *a, double *b) {
  if (argc != 4) return usageText(interp, std::string("Usage: ") + argv[0] + " " + argv[1] + " x y");
  if (Tcl_GetDouble(interp, argv[2], a) != TCL_OK || Tcl_GetDouble(interp, argv[3], b) != TCL_OK)
    return TCL_ERROR;
  return TCL_OK;
}

/* Map coordinates of an image position and back. */
void imageToMap(const GimgMaster *m, double x, double y, double *mx, double *my) {
  *mx = m->header.x0 + x * m->header.dx;
  *my = m->header.y0 - y * m->header.dy;
}
void mapToImage(const GimgMaster *m, double mx, double my, double *x, double *y) {
  *x = (mx - m->header.x0) / m->header.dx;
  *y = (m->header.y0 - my) / m->header.dy;
}

/* The image position of a view position (no display turn). */
void viewToImage(const GimgMaster *m, double c, double r, double *x, double *y) {
  *x = axisMapToImage(&m->xMap, c);
  *y = axisMapToImage(&m->yMap, r);
}

}  // namespace

/* "imgxy x y", "canv2img x y": display to image. */
int gimgImgXYCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  double a, b, x, y;
  if (readPair(master, interp, argc, argv, &a, &b) != TCL_OK) return TCL_ERROR;
  displayToImage(master, a, b, &x, &y);
  setPair(interp, x, y);
  return TCL_OK;
}

/* "img2canv x y", "scrxy x y": image to display. */
int gimgImgToCanvCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  double a, b, x, y;
  if (readPair(master, interp, argc, argv, &a, &b) != TCL_OK) return TCL_ERROR;
  imageToDisplay(master, a, b, &x, &y);
  setPair(interp, x, y);
  return TCL_OK;
}

/* "img2map x y": image to map. */
int gimgImgToMapCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  double a, b, x, y;
  if (readPair(master, interp, argc, argv, &a, &b) != TCL_OK) return TCL_ERROR;
  imageToMap(master, a, b, &x, &y);
  setPair(interp, x, y);
  return TCL_OK;
}

/* "canv2map x y": display to map. */
int gimgCanvToMapCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  double a, b, x, y;
  if (readPair(master, interp, argc, argv, &a, &b) != TCL_OK) return TCL_ERROR;
  displayToImage(master, a, b, &x, &y);
  imageToMap(master, x, y, &a, &b);
  setPair(interp, a, b);
  return TCL_OK;
}

/* "canv2file x y": display to file (image plus the header's left and top). */
int gimgCanvToFileCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  double a, b, x, y;
  if (readPair(master, interp, argc, argv, &a, &b) != TCL_OK) return TCL_ERROR;
  displayToImage(master, a, b, &x, &y);
  setPair(interp, x + master->header.left, y + master->header.top);
  return TCL_OK;
}

/* "mapxy c r", "bitmap2map c r": view (unturned) position to map. */
int gimgMapXYCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  double a, b, x, y;
  if (readPair(master, interp, argc, argv, &a, &b) != TCL_OK) return TCL_ERROR;
  viewToImage(master, a, b, &x, &y);
  imageToMap(master, x, y, &a, &b);
  setPair(interp, a, b);
  return TCL_OK;
}

/* "filexy c r", "bitmap2file c r": view (unturned) position to file. */
int gimgFileXYCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  double a, b, x, y;
  if (readPair(master, interp, argc, argv, &a, &b) != TCL_OK) return TCL_ERROR;
  viewToImage(master, a, b, &x, &y);
  setPair(interp, x + master->header.left, y + master->header.top);
  return TCL_OK;
}

/* "map2canv x y", "map2screen x y": map to display. */
int gimgMapToCanvCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  double a, b, x, y;
  if (readPair(master, interp, argc, argv, &a, &b) != TCL_OK) return TCL_ERROR;
  mapToImage(master, a, b, &x, &y);
  imageToDisplay(master, x, y, &a, &b);
  setPair(interp, a, b);
  return TCL_OK;
}

/* "file2canv x y", "file2screen x y": file to display. */
int gimgFileToCanvCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  double a, b, x, y;
  if (readPair(master, interp, argc, argv, &a, &b) != TCL_OK) return TCL_ERROR;
  imageToDisplay(master, a - master->header.left, b - master->header.top, &x, &y);
  setPair(interp, x, y);
  return TCL_OK;
}

/* ---- values ---- */

namespace {

int notConfigured(Tcl_Interp *interp) { return gimgError(interp, "Image not configured"); }

/* The master shows its values through a palette. */
bool hasPalette(const GimgMaster *m) { return m->header.nindices > 0; }

/* The image pixel at a display position, or an error in the result. */
int displayPixel(GimgMaster *m, Tcl_Interp *interp, const char *xText, const char *yText,
                 int *column, int *row, int *viewColumn = nullptr, int *viewRow = nullptr) {
  int c, r;
  if (parseDisplayPosition(m, xText, yText, &c, &r) != TCL_OK) return TCL_ERROR;
  if (c < 0 || c >= m->xMap.count || !m->xMap.index || m->xMap.index[c] < 0 ||
      m->xMap.index[c] >= m->image->header.columns)
    return gimgError(interp, "Undefined column ");
  if (r < 0 || r >= m->yMap.count || !m->yMap.index || m->yMap.index[r] < 0 ||
      m->yMap.index[r] >= m->image->header.rows)
    return gimgError(interp, "Undefined row");
  *column = m->xMap.index[c];
  *row = m->yMap.index[r];
  if (viewColumn) *viewColumn = c;
  if (viewRow) *viewRow = r;
  return TCL_OK;
}

/* One value of a band, or of a palette component (band 0: the index). */
float readValue(GimgMaster *m, int column, int row, int band) {
  RAMIMG *image = m->image;
  const ImageHeader &h = image->header;
  if (column < 0 || row < 0 || column >= h.columns || row >= h.rows) return 0;
  if (!hasPalette(m)) return getPixelValue(image, column, row, std::clamp(band, 0, h.nbands - 1));
  const int layerBand = std::clamp(m->layer > 0 ? m->layer - 1 : 0, 0, h.nbands - 1);
  const float index = getPixelValue(image, column, row, layerBand);
  if (band <= 0) return index;
  const int i = std::clamp(roundToInt(index), 0, 255);
  return m->header.palette[i][std::min(band, 3) - 1];
}

/* The statistics of a band, or of a palette component (component >= 0). */
bool bandSummary(GimgMaster *m, int band, int component, HistSummary *s) {
  RAMIMG *image = m->image;
  BandHist *hist = ramImageHist(image, kHistCached, 4, 4);
  if (!hist) return false;
  if (component >= 0) return histSummary(m, hist, component, s) != 0;
  HistSummary tmp;
  const int saved = m->layer;
  m->layer = 0;  /* the raw band, not its palette view */
  const int ok = histSummary(m, hist, std::clamp(band, 0, image->header.nbands - 1), &tmp);
  m->layer = saved;
  *s = tmp;
  return ok != 0;
}

/* Values of a run, formatted as "%-.3f " each, optionally normalised. */
int appendValues(GimgMaster *m, Tcl_Interp *interp, const std::vector<float> &values, int band,
                 bool normalize) {
  double mean = 0, std = 0;
  if (normalize) {
    HistSummary s;
    const bool ok = hasPalette(m) && band > 0 ? bandSummary(m, 0, band - 1, &s)
                                              : bandSummary(m, hasPalette(m) ? m->layer - 1 : band, -1, &s);
    if (!ok) return gimgError(interp, "Error in image histogram calculation");
    mean = s.mean;
    std = s.std;
  }
  Tcl_ResetResult(interp);
  for (float v : values) {
    const double out = normalize ? (std != 0 ? (v - mean) / std : 0) : v;
    appendFormat(interp, "%-.3f ", out);
  }
  return TCL_OK;
}

/* Checks a 1-based band word of the run subcommands. */
int readBand(GimgMaster *m, Tcl_Interp *interp, const char *text, int *band) {
  if (Tcl_GetInt(interp, text, band) != TCL_OK) return TCL_ERROR;
  const int low = hasPalette(m) ? 0 : 1, high = hasPalette(m) ? 3 : m->image->header.nbands;
  if (*band < low || *band > high) {
    Tcl_ResetResult(interp);
    appendFormat(interp, "Invalid band: %d", *band);
    return TCL_ERROR;
  }
  return TCL_OK;
}

/*
 * The band the run subcommands sample: the image band itself, or with a
 * palette the band of the index.  Index samples are then turned into the
 * component of the palette entry at their rounded value (band 1 to 3).
 */
int sampledBand(GimgMaster *m, int band) {
  const int nbands = m->image->header.nbands;
  if (!hasPalette(m)) return std::clamp(band, 0, nbands - 1);
  return std::clamp(m->layer > 0 ? m->layer - 1 : 0, 0, nbands - 1);
}

/* A script's coordinate as a float; beyond the float range it stays far outside. */
float scriptCoordinate(double v) {
  return static_cast<float>(std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

void paletteComponents(GimgMaster *m, int band, std::vector<float> &values) {
  if (!hasPalette(m) || band <= 0) return;
  for (float &v : values)
    v = m->header.palette[std::clamp(roundToInt(v), 0, 255)][std::min(band, 3) - 1];
}

/* A sample count of the run subcommands, at least 1 and bounded. */
int readCount(Tcl_Interp *interp, const char *text, int *n) {
  if (Tcl_GetInt(interp, text, n) != TCL_OK) return TCL_ERROR;
  if (*n < 1) *n = 1;
  if (*n > 1000000) return gimgError(interp, "too many samples");
  return TCL_OK;
}

}  // namespace

/* "pixel x y ?type?": the values of the pixel at a display position. */
int gimgPixelCmd(GimgMaster *m, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 4 || argc > 5)
    return usageText(interp, std::string("Usage: \"") + argv[0] + " " + argv[1] +
                                 " x y [truevalue|normalize|relative|rgb|display]\"");
  static const char *const types[] = {"truevalue", "normalize", "relative", "rgb", "display"};
  int type = 0;
  if (argc == 5) {
    type = -1;
    for (int i = 0; i < 5 && type < 0; i++)
      if (strcmp(argv[4], types[i]) == 0) type = i;
    if (type < 0) return usageText(interp, std::string("Unknown pixel type: ") + argv[4]);
  }
  if (!m->image) return notConfigured(interp);
  int column, row, vc, vr;
  if (displayPixel(m, interp, argv[2], argv[3], &column, &row, &vc, &vr) != TCL_OK) return TCL_ERROR;
  RAMIMG *image = m->image;
  const int nbands = image->header.nbands;
  std::vector<float> values;
  const bool palette = hasPalette(m);
  if (palette) {
    for (int b = 0; b < 4; b++) values.push_back(readValue(m, column, row, b));
  } else {
    values.assign(static_cast<size_t>(nbands), 0.0f);
    getPixelBands(image, row, column, values.data());
  }
  Tcl_ResetResult(interp);
  switch (type) {
  case 0:
    for (float v : values) appendFormat(interp, "%-.3f ", v);
    break;
  case 1:
    for (size_t i = 0; i < values.size(); i++) {
      HistSummary s;
      const bool ok = palette && i > 0 ? bandSummary(m, 0, static_cast<int>(i) - 1, &s)
                                       : bandSummary(m, palette ? m->layer - 1 : static_cast<int>(i), -1, &s);
      if (!ok) return gimgError(interp, "Error in image histogram calculation");
      appendFormat(interp, "%-.3f ", s.std != 0 ? (values[i] - s.mean) / (3 * s.std) : 0.0);
    }
    break;
  case 2: {
    double lo = FLT_MIN, hi = FLT_MAX;
    bool first = true;
    const int parts = palette ? 3 : nbands;
    for (int i = 0; i < parts; i++) {
      HistSummary s;
      const bool ok = palette ? bandSummary(m, 0, i, &s) : bandSummary(m, i, -1, &s);
      if (!ok) return gimgError(interp, "Error in image histogram calculation");
      if (first || s.min < lo) lo = s.min;
      if (first || s.max > hi) hi = s.max;
      first = false;
    }
    for (float v : values)
      appendFormat(interp, "%-.3f ", hi > lo ? ((v - lo) / (hi - lo) - 0.5) * 2 : 0.0);
    break;
  }
  case 3: {
    if (palette) appendFormat(interp, "i:%d ", roundToInt(values[0]));
    const bool isFloat = image->header.pixelid == P_FLOAT;
    auto valueOf = [&](int b) { return palette ? values[std::clamp(b, 1, 3)] : values[std::clamp(b - 1, 0, nbands - 1)]; };
    if (m->comb[0] == 1 && m->comb[1] > 0) {
      if (isFloat) appendFormat(interp, "v: %.3f", valueOf(m->comb[1]));
      else appendFormat(interp, "v: %d", roundToInt(valueOf(m->comb[1])));
    } else {
      static const char *const names[3] = {"r:", "g:", "b:"};
      for (int i = 0; i < 3 && i < m->comb[0]; i++) {
        if (m->comb[i + 1] <= 0) continue;
        const char *sep = i < 2 ? " " : "";
        if (isFloat) appendFormat(interp, "%s%.3f%s", names[i], valueOf(m->comb[i + 1]), sep);
        else appendFormat(interp, "%s%d%s", names[i], roundToInt(valueOf(m->comb[i + 1])), sep);
      }
    }
    break;
  }
  default: {
    int last = 0;
    /* Every channel with a band is shown (a grey view shows one band in
       all three). */
    for (int c = 0; c < 3; c++) {
      if (m->channelBand[c] < 0) continue;
      const int band = m->layer > 0 ? m->layer - 1 : m->channelBand[c];
      unsigned char out[2];
      const int index[1] = {column};
      if (band < 0 || band >= nbands) continue;
      renderBandLine(image, row, band, index, 0, 1, 1, &last, m->inLow[c], m->inHigh[c],
                     m->channelLut[c], out);
      appendFormat(interp, "%3d ", out[0]);
    }
    appendFormat(interp, "%3d ", last);
    break;
  }
  }
  return TCL_OK;
}

/* "lineh|linev band x y n ?normalize?": a run of a view row or column. */
int gimgLineCmd(GimgMaster *m, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 6 || argc > 7)
    return usageText(interp, std::string("Usage: \"") + argv[0] + " " + argv[1] + " band x y n [normalize]\"");
  if (argc == 7 && strcmp(argv[6], "normalize") != 0)
    return usageText(interp, std::string("Unknown pixel type: ") + argv[6]);
  if (!m->image) return notConfigured(interp);
  int band, n, c, r;
  if (readBand(m, interp, argv[2], &band) != TCL_OK || readCount(interp, argv[5], &n) != TCL_OK ||
      parseDisplayPosition(m, argv[3], argv[4], &c, &r) != TCL_OK)
    return TCL_ERROR;
  const int b = hasPalette(m) ? band : band - 1;
  std::vector<float> values(static_cast<size_t>(n), 0.0f);
  const bool horizontal = argv[1][4] == 'h';
  if (horizontal) {
    if (r >= 0 && r < m->yMap.count && c < m->xMap.count) {
      const int y = m->yMap.index[r];
      /* Positions left of the view are skipped; the run goes on in image
         columns from the first view column's. */
      const int start = c >= 0 ? m->xMap.index[c] : m->xMap.index[0];
      const int skip = c >= 0 ? 0 : -c;
      for (int k = skip; k < n; k++) values[k] = readValue(m, start + (k - skip), y, b);
    }
  } else if (c >= 0 && c < m->xMap.count) {
    const int x = m->xMap.index[c];
    for (int k = 0; k < n; k++) {
      const int64_t vr = static_cast<int64_t>(r) + k;
      if (vr >= 0 && vr < m->yMap.count) values[k] = readValue(m, x, m->yMap.index[vr], b);
    }
  }
  return appendValues(m, interp, values, b, argc == 7);
}

/* "profile band x y n ?alpha? ?step offset? ?op? ?normalize?": a ray. */
int gimgProfileCmd(GimgMaster *m, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 6 || argc > 11)
    return usageText(interp, std::string("Usage: ") + argv[0] + " " + argv[1] +
                                 " band x y n [alpha step offset op normalize]");
  if (!m->image) return notConfigured(interp);
  int band, n;
  if (Tcl_GetInt(interp, argv[2], &band) != TCL_OK || readCount(interp, argv[5], &n) != TCL_OK)
    return TCL_ERROR;
  if (band < 1) band = 1;
  const int b = hasPalette(m) ? band % 4 : (band - 1) % m->image->header.nbands;
  int column, row;
  if (displayPixel(m, interp, argv[3], argv[4], &column, &row) != TCL_OK) return TCL_ERROR;
  double alpha = 0, step = 1, offset;
  if (argc > 6 && Tcl_GetDouble(interp, argv[6], &alpha) != TCL_OK) return TCL_ERROR;
  alpha *= M_PI / 180;
  if (argc > 7 && Tcl_GetDouble(interp, argv[7], &step) != TCL_OK) return TCL_ERROR;
  const char *offsetWord = argc > 8 ? argv[8] : "auto";
  if (strcmp(offsetWord, "auto") == 0) {
    const double ca = cos(alpha);
    offset = fabs(ca) > 1e-12 ? -column / ca : 0;
  } else if (strcmp(offsetWord, "pivot") == 0) {
    offset = step * (-(n / 2));
  } else if (Tcl_GetDouble(interp, offsetWord, &offset) != TCL_OK) {
    return TCL_ERROR;
  }
  const int method = argc > 9 && strcmp(argv[9], "bi") == 0 ? kSampleBilinear : kSampleNearest;
  const bool normalize = argc > 10 && strcmp(argv[10], "normalize") == 0;
  std::vector<float> values(static_cast<size_t>(n));
  getRAMImageProfile(m->image, static_cast<float>(column), static_cast<float>(row),
                     sampledBand(m, b), scriptCoordinate(alpha), scriptCoordinate(step),
                     scriptCoordinate(offset), values.data(), n, method);
  paletteComponents(m, b, values);
  return appendValues(m, interp, values, b, normalize);
}

/* "section band x0 y0 x1 y1 n ?op? ?normalize?": between two image points. */
int gimgSectionCmd(GimgMaster *m, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 8 || argc > 10)
    return usageText(interp, std::string("Usage: ") + argv[0] + " " + argv[1] +
                                 " band x0 y0 x1 y1 n [op normalize]");
  if (!m->image) return notConfigured(interp);
  int band, n;
  double p[4];
  if (Tcl_GetInt(interp, argv[2], &band) != TCL_OK) return TCL_ERROR;
  for (int i = 0; i < 4; i++)
    if (Tcl_GetDouble(interp, argv[3 + i], &p[i]) != TCL_OK) return TCL_ERROR;
  if (readCount(interp, argv[7], &n) != TCL_OK) return TCL_ERROR;
  if (band < 1) band = 1;
  const int b = hasPalette(m) ? band % 4 : (band - 1) % m->image->header.nbands;
  const int method = argc > 8 && strcmp(argv[8], "bi") == 0 ? kSampleBilinear : kSampleNearest;
  const bool normalize = argc > 9 && strcmp(argv[9], "normalize") == 0;
  std::vector<float> values(static_cast<size_t>(n));
  const int sampled = sampledBand(m, b);
  getRAMImageSeg(m->image, scriptCoordinate(p[0]), scriptCoordinate(p[1]), scriptCoordinate(p[2]),
                 scriptCoordinate(p[3]), 1, &sampled, values.data(), n, method);
  paletteComponents(m, b, values);
  return appendValues(m, interp, values, b, normalize);
}

/* "hist ?band? ?type?": the histogram of a band. */
int gimgHistCmd(GimgMaster *m, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc > 4)
    return usageText(interp, std::string("wrong # args: should be \"") + argv[0] + " " + argv[1] + " ?band?\"");
  if (!m->image) return notConfigured(interp);
  int band = 1;
  if (argc > 2 && Tcl_GetInt(nullptr, argv[2], &band) != TCL_OK)
    return usageText(interp, std::string("Invalid band number: ") + argv[2]);
  const int count = hasPalette(m) ? 3 : m->image->header.nbands;
  Tcl_ResetResult(interp);
  if (band < 0) {
    appendFormat(interp, "%d", count);
    return TCL_OK;
  }
  int type = 1;
  if (argc > 3) {
    if (compareNoCase(argv[3], "normalize") == 0) type = 0;
    else if (compareNoCase(argv[3], "short") == 0) type = 1;
    else if (compareNoCase(argv[3], "long") == 0) type = 2;
    else return usageText(interp, std::string("Unknown histogram type: ") + argv[3]);
  }
  const int b = ((band - 1) % count + count) % count;
  HistSummary s;
  const bool ok = hasPalette(m) ? bandSummary(m, 0, b, &s) : bandSummary(m, b, -1, &s);
  if (!ok) return gimgError(interp, "Error in image histogram calculation");
  if (type == 0) {
    int64_t largest = 0;
    for (int i = 0; i < s.binCount; i++) largest = std::max(largest, s.bins[i]);
    for (int i = 0; i < s.binCount; i++)
      appendFormat(interp, "%.3f ", largest > 0 ? 100.0 * static_cast<double>(s.bins[i]) / static_cast<double>(largest) : 0.0);
    return TCL_OK;
  }
  appendFormat(interp, "{%-.1f %-.8f %-.8f %-.8f %-.8f} ", s.count, s.mean, s.std, s.min, s.max);
  for (int i = 0; i < s.binCount; i++)
    if (type == 2 || s.bins[i] != 0) appendFormat(interp, "{%d %lld} ", i, static_cast<long long>(s.bins[i]));
  return TCL_OK;
}

/* "stats|std|mean|min|max ?mode? ?mask ?roi ...??": band statistics. */
int gimgStatsCmd(GimgMaster *m, Tcl_Interp *interp, int argc, const char *argv[]) {
  const char *word = argv[1];
  enum { STATS, STD, MEAN, MIN, MAX } what;
  if (word[0] == 's') what = word[2] == 'd' ? STD : STATS;
  else if (!strcmp(word, "mean")) what = MEAN;
  else if (!strcmp(word, "min")) what = MIN;
  else what = MAX;
  if (word[0] == 's' && strncmp(word, what == STD ? "std" : "stats", strlen(word)) != 0)
    return gimgError(interp, "unknown stats.");
  const std::string wrong = std::string("Wrong # args. should be: \"") + argv[0] + " " + word +
                            "[normalize|[true|{}]] [mask args]\"";
  int mode = 0;
  if (argc > 2) {
    if (!*argv[2] || !strcmp(argv[2], "true")) mode = 0;
    else if (!strcmp(argv[2], "normalize")) mode = 1;
    else if (!strcmp(argv[2], "update")) mode = 2;
    else return usageText(interp, wrong);
  }
  if (argc > 3 && strcmp(argv[3], "mask") != 0) return usageText(interp, wrong);
  if (!m->image) return notConfigured(interp);
  RAMIMG *image = m->image;
  BandHist *hist = nullptr;
  bool owned = false;
  if (argc > 3) {
    if (argc == 4) {
      if (!m->maskExport) return gimgError(interp, "No mask image available.\n");
      hist = ramImageHistWithMask(image, m->maskExport, 1, 1, 0);
    } else {
      PointList *chain = parseROIList(interp, argc - 4, argv + 4);
      if (!chain) return gimgError(interp, "Error in parsing ROIs.\n");
      /* Only the part over the image counts; far-out corners cost nothing. */
      PointList *cut = clipChainToRect(chain, -1, -1, image->header.columns + 1, image->header.rows + 1);
      polyFree(chain);
      PointList *spans = cut ? polyListToSpans(cut) : nullptr;
      polyFree(cut);
      hist = spans ? ramImageHistWithROI(image, spans, 0) : nullptr;
      polyFree(spans);
    }
    owned = true;
  } else {
    hist = ramImageHist(image, mode == 2 ? kHistRecompute : kHistCached, 4, 4);
  }
  if (!hist) return gimgError(interp, "Error in image histogram calculation");
  if (mode == 2) {
    if (owned) freeHist(hist, image->header.nbands);
    imageChangedProc(m);
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  Tcl_ResetResult(interp);
  std::vector<HistSummary> parts;
  const bool palette = hasPalette(m);
  const int count = palette ? 4 : image->header.nbands;
  double lastCount = 0;
  for (int i = 0; i < count; i++) {
    HistSummary s;
    if (palette) {
      if (i == 0) {
        const int saved = m->layer;
        const int layerBand = std::clamp(saved - 1, 0, image->header.nbands - 1);
        m->layer = 0;
        histSummary(m, hist, layerBand, &s);
        m->layer = saved;
      } else {
        histSummary(m, hist, i - 1, &s);
      }
    } else {
      const int saved = m->layer;
      m->layer = 0;
      histSummary(m, hist, i, &s);
      m->layer = saved;
    }
    double mean = s.mean, std = s.std, lo = s.min, hi = s.max;
    if (mode == 1 && std != 0) {
      lo = (lo - mean) / std;
      hi = (hi - mean) / std;
      mean = 0;
      std = 1;
    }
    switch (what) {
    case STATS: appendFormat(interp, "{%-.3f %-.3f %-.3f %-.3f} ", mean, std, lo, hi); break;
    case STD: appendFormat(interp, "%-.3f ", std); break;
    case MEAN: appendFormat(interp, "%-.3f ", mean); break;
    case MIN: appendFormat(interp, "%-.3f ", lo); break;
    case MAX: appendFormat(interp, "%-.3f ", hi); break;
    }
    lastCount = s.count;
  }
  appendFormat(interp, "%.1f", lastCount);
  if (owned) freeHist(hist, image->header.nbands);
  return TCL_OK;
}

/* "setPixel x y v1 v2 ... vn": writes one pixel at a display position. */
int gimgSetPixelCmd(GimgMaster *m, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 4) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " setPixel x y v1 v2 ... vn", nullptr);
    return TCL_OK;
  }
  if (!m->image) return TCL_OK;
  int c, r;
  if (parseDisplayPosition(m, argv[2], argv[3], &c, &r) != TCL_OK) return TCL_ERROR;
  RAMIMG *image = m->image;
  const ImageHeader &h = image->header;
  if (c < 0 || c >= m->xMap.count || r < 0 || r >= m->yMap.count || m->xMap.index[c] < 0 ||
      m->xMap.index[c] >= h.columns || m->yMap.index[r] < 0 || m->yMap.index[r] >= h.rows)
    return gimgError(interp, "pixel is out of image\n");
  std::vector<float> values(static_cast<size_t>(std::max(h.nbands, 1)), 0.0f);
  float last = 0;
  for (int b = 0; b < h.nbands; b++) {
    if (4 + b < argc) {
      double v;
      if (Tcl_GetDouble(interp, argv[4 + b], &v) != TCL_OK) return TCL_ERROR;
      last = static_cast<float>(v);
    }
    values[b] = last;
    if (h.nindices > 0 || hasPalette(m))
      values[b] = std::clamp(values[b], 0.0f, static_cast<float>(m->header.nindices));
  }
  Tcl_ResetResult(interp);
  if (!putFloatBIPData(image, 0, h.nbands, m->yMap.index[r], m->xMap.index[c], 1, values.data())) {
    Tcl_AppendResult(interp, "Error in write ramimg\n", nullptr);
    return TCL_OK;
  }
  if (m->update) imageRedrawProc(m);
  return TCL_OK;
}

/* ---- dump ---- */

namespace {

/* One view row of the index writer: palette indices of the dump. */
void indexRow(GimgMaster *m, int r, std::vector<unsigned char> &out, std::vector<signed char> *errors,
              std::vector<unsigned char> *previous, bool *first) {
  const int width = m->xMap.count;
  std::fill(out.begin(), out.end(), 0);
  RAMIMG *image = m->image;
  const int y = m->yMap.index[r];
  if (y < 0 || y >= image->header.rows) return;
  int c0, c1;
  axisMapRange(&m->xMap, image->header.columns, &c0, &c1);
  const int channels = std::clamp(m->channelCount, 0, 3);
  std::vector<unsigned char> line(static_cast<size_t>(width)), raw(static_cast<size_t>(width));
  if (hasPalette(m) && m->layer > 0)
    renderBandValues(image, y, m->layer - 1, m->xMap.index, c0, c1, width, m->inLow[0], m->inHigh[0], raw.data());
  for (int c = 0; c < channels; c++) {
    if (hasPalette(m) && m->layer > 0) {
      const int component = std::clamp(m->channelBand[c], 0, 2);
      for (int i = 0; i < width; i++) line[i] = m->header.palette[raw[i]][component];
      if (m->truePalette) line = raw;
    } else {
      const int band = m->channelBand[c];
      if (band < 0) continue;
      renderBandValues(image, y, band, m->xMap.index, c0, c1, width, m->inLow[c], m->inHigh[c], line.data());
    }
    if (m->filterStrength != 0) {
      filterLine(width, line.data(), previous[c].data(), m->filterStrength, m->filterOverride,
                 first[c] ? 1 : 0, m->filterDir);
      first[c] = false;
    }
    if (m->ditherOn) {
      ditherLine(width, out.data(), line.data(), m->channelLut[c], m->levelIndex[c],
                 m->ditherError[c], errors[c].data(), m->ditherOn, r & 1);
    } else {
      for (int i = 0; i < width; i++) out[i] = static_cast<unsigned char>(out[i] + m->channelLut[c][line[i]]);
    }
  }
}

/* One view row of the colour writer: the three displayed channels. */
void colourRow(GimgMaster *m, int r, std::vector<unsigned char> *lines,
               std::vector<unsigned char> *previous, bool *first) {
  const int width = m->xMap.count;
  RAMIMG *image = m->image;
  for (int c = 0; c < 3; c++) std::fill(lines[c].begin(), lines[c].end(), 0);
  const int y = m->yMap.index[r];
  if (y < 0 || y >= image->header.rows) return;
  int c0, c1;
  axisMapRange(&m->xMap, image->header.columns, &c0, &c1);
  for (int c = 0; c < 3; c++) {
    const int band = m->layer > 0 ? m->layer - 1 : m->channelBand[c];
    if (m->channelBand[c] < 0 || band < 0) continue;
    renderBandLine(image, y, band, m->xMap.index, c0, c1, width, nullptr, m->inLow[c], m->inHigh[c],
                   m->channelLut[c], lines[c].data());
  }
  auto filter = [&](int c) {
    filterLine(width, lines[c].data(), previous[c].data(), m->filterStrength, m->filterOverride,
               first[c] ? 1 : 0, m->filterDir);
    first[c] = false;
  };
  if ((m->paletteFlags & 1) && m->channelCount != 0 && m->layer == 0) {
    for (int i = 0; i < width; i++)
      lines[0][i] = static_cast<unsigned char>(
          std::min((lines[0][i] + lines[1][i] + lines[2][i] + 1) / m->channelCount, 255));
    if (m->filterStrength != 0) filter(0);
    lines[1] = lines[0];
    lines[2] = lines[0];
  } else if (m->filterStrength != 0) {
    for (int c = 0; c < 3; c++)
      if (m->channelBand[c] >= 0 || hasPalette(m)) filter(c);
  }
}

}  // namespace

/* "dump fileName imgID bits owFlag ?option?": the view as it is shown. */
int gimgDumpCmd(GimgMaster *m, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 6 || argc > 7) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " dump fileName imgID bits owFlag [option]\n", nullptr);
    return TCL_ERROR;
  }
  if (!m->image) return gimgError(interp, "No image is defined.\n");
  int bits, overwrite;
  if (Tcl_GetInt(interp, argv[4], &bits) != TCL_OK || Tcl_GetInt(interp, argv[5], &overwrite) != TCL_OK)
    return TCL_ERROR;
  const char *fileName = argv[2];
  const bool photo = strcmp(argv[3], "TKPHOTO") == 0;
  if (!photo && !overwrite && access(fileName, F_OK) == 0)
    return gimgError(interp, "The file already exists.\n");
  if (!m->xMap.index || !m->yMap.index) return gimgError(interp, "No image is defined.\n");

  const bool rotated = m->rotate != 0;
  ImageHeader h = m->header;
  snprintf(h.path, VESK_PATH_SIZE, "%s", fileName);
  h.rows = rotated ? m->xMap.count : m->yMap.count;
  h.columns = rotated ? m->yMap.count : m->xMap.count;
  h.imgid = photo ? IMG_MBSQ : getImgid(argv[3]);
  h.top = h.left = 0;
  h.x0 = h.y0 = 0;
  h.dx = h.dy = 1.0;
  h.offset = 0;
  h.transparent = -1;
  h.volumes = 0;
  h.readerFlag = 0;
  int levels[4] = {0, 0, 0, 0};
  const bool cube = (m->comb[0] == 3 && m->levels[0] == 0) || m->layer > 0;
  switch (bits) {
  case 1: h.nbands = 1; h.pixelid = P_1BIT; levels[0] = 2; break;
  case 4: h.nbands = 1; h.pixelid = P_4BITS; levels[0] = 16; break;
  case 8: h.nbands = 1; h.pixelid = P_BYTE; levels[0] = 256; break;
  case 24: h.nbands = 3; h.pixelid = P_BYTE; break;
  default: return gimgError(interp, "Illegal bits.\n");
  }
  h.bits = bits == 24 ? 8 : bits;
  const int id = h.imgid;
  if ((bits == 4 || bits == 8) && cube && id != IMG_JPEG) {
    levels[0] = 0;
    levels[1] = bits == 4 ? 4 : 8;
    levels[2] = bits == 4 ? 2 : 8;
    levels[3] = bits == 4 ? 2 : 4;
  }
  if (bits == 24) {
    h.nindices = 0;
  } else if (m->layer == 0 || m->ditherOn) {
    h.nindices = buildColorTable(&h.palette[0][0], levels[0], levels[1], levels[2], levels[3]);
  }
  if (photo) {
    if (bits != 8 && bits != 24) return gimgError(interp, "Illegal bits for TKPHOTO.\n");
  } else if (id == IMG_DIB) {
    if (bits == 24) h.nindices = 0;
  } else if (id == IMG_XBMP) {
    if (bits != 1) return gimgError(interp, "Illegal bits for XBMP file.\n");
  } else if (id == IMG_TIFF) {
    if (bits != 8 && bits != 24) return gimgError(interp, "Illegal bits for TIFF file.\n");
  } else if (id == IMG_GIF87A || id == IMG_GIF89A) {
    if (bits != 1 && bits != 4 && bits != 8) return gimgError(interp, "Illegal bits for GIF file.\n");
  } else if (id == IMG_JPEG) {
    if (bits != 8 && bits != 24) return gimgError(interp, "Illegal bits for JPEG file.\n");
    h.nindices = 0;
  } else {
    return gimgError(interp, "The image ID is not supported.\n");
  }
  if (id == IMG_JPEG) {
    int quality = 90;
    if (argc == 7 && (Tcl_GetInt(nullptr, argv[6], &quality) != TCL_OK || quality < 0 || quality > 100))
      quality = 90;
    h.block = quality;
  } else {
    h.block = (static_cast<int64_t>(getPixelBits(h.pixelid)) * h.columns + 7) / 8;
  }

  RAMIMG *target = nullptr;
  std::string photoName;
  if (photo) {
    photoName = argc == 6 ? fileName : "";
    target = createPhotoRAMImage(interp, photoName, &h);
    if (!target) return gimgError(interp, "Error in rimg creation.\n");
  }
  /* The file replaces an older one of that name only once the dump is
     written whole (the new image waits beside it until then). */
  const int failures = rasterWriteFailures();
  const size_t pending = beginPendingImages();
  if (!photo) {
    int err = 0;
    target = openRAMImageNew(&h, nullptr, 1, &err);
    if (!target) {
      endPendingImages(pending, false);
      return gimgError(interp, err == VESK_RAMIMG_CREATE_ERROR ? "Error in image creation.\n"
                                                               : "Error in image open.\n");
    }
  }

  /* The palette settings of the dump are in force while it is written. */
  int savedLevels[4];
  memcpy(savedLevels, m->levels, sizeof savedLevels);
  const int savedCount = m->pixelCount, savedFlags = m->paletteFlags;
  if (bits != 24) {
    memcpy(m->levels, levels, sizeof levels);
    m->pixelCount = std::max(h.nindices, 1);
    m->paletteFlags = (levels[0] != 0 ? 1 : 0) | (levels[1] > 1 ? 2 : 0) | (levels[2] > 1 ? 4 : 0) |
                      (levels[3] > 1 ? 8 : 0);
  } else {
    m->pixelCount = 0;
  }
  buildGimgLuts(m, m->funcInForce, m->stdDev);

  const int width = m->xMap.count, viewRows = m->yMap.count;
  const int bands = bits == 24 ? 3 : 1;
  const size_t plane = static_cast<size_t>(h.rows) * static_cast<size_t>(h.columns);
  std::vector<unsigned char> out;
  try {
    out.assign(plane * bands, 0);
  } catch (const std::bad_alloc &) {
    out.clear();
  }
  if (!out.empty()) {
    std::vector<unsigned char> lines[3], previous[3];
    std::vector<signed char> errors[3];
    bool first[3] = {true, true, true};
    for (int c = 0; c < 3; c++) {
      lines[c].assign(static_cast<size_t>(width), 0);
      previous[c].assign(static_cast<size_t>(width), 0);
      errors[c].assign(static_cast<size_t>(width) + 1, 0);
    }
    const bool dib = id == IMG_DIB && !photo;
    for (int r = 0; r < viewRows; r++) {
      if (bits == 24) {
        colourRow(m, r, lines, previous, first);
        if (dib) std::swap(lines[0], lines[2]);
      } else {
        indexRow(m, r, lines[0], errors, previous, first);
        if (id == IMG_XBMP && !photo)
          for (auto &v : lines[0]) v = v ? 0 : 1;
      }
      for (int b = 0; b < bands; b++) {
        unsigned char *dst = out.data() + plane * b;
        for (int c = 0; c < width; c++) {
          int orow, ocol;
          if (m->rotate < 0) {
            orow = h.rows - 1 - c;
            ocol = r;
          } else if (m->rotate > 0) {
            orow = c;
            ocol = h.columns - 1 - r;
          } else {
            orow = r;
            ocol = c;
          }
          dst[static_cast<size_t>(orow) * h.columns + ocol] = lines[b][c];
        }
      }
    }
    for (int b = 0; b < bands; b++)
      for (int y = 0; y < h.rows; y++)
        putByteBILData(target, y, 0, h.columns, b, out.data() + plane * b + static_cast<size_t>(y) * h.columns);
  }

  memcpy(m->levels, savedLevels, sizeof savedLevels);
  m->pixelCount = savedCount;
  m->paletteFlags = savedFlags;
  buildGimgLuts(m, m->funcInForce, m->stdDev);

  int code = out.empty() ? gimgError(interp, "Error in image creation.\n") : TCL_OK;
  if (code == TCL_OK) Tcl_ResetResult(interp);
  if (photo && code == TCL_OK) {
    copyRAMImageToPhoto(interp, target, photoName.c_str());
    if (argc == 7) {
      /* The photo and file names are words of their own; the option is
         the photo writer's words as given. */
      Tcl_Obj *words = Tcl_NewListObj(0, nullptr);
      Tcl_IncrRefCount(words);
      Tcl_ListObjAppendElement(nullptr, words, Tcl_NewStringObj(photoName.c_str(), -1));
      Tcl_ListObjAppendElement(nullptr, words, Tcl_NewStringObj("write", -1));
      /* Tk writes a file beside fileName, renamed over it once written. */
      std::string temporary;
      {
        SaveFile file;
        if (file.open(fileName)) temporary = file.release();
      }
      Tcl_ListObjAppendElement(nullptr, words, Tcl_NewStringObj(temporary.c_str(), -1));
      const std::string script = std::string(Tcl_GetString(words)) + " " + argv[6];
      Tcl_DecrRefCount(words);
      int written = temporary.empty() ? TCL_ERROR : Tcl_Eval(interp, script.c_str());
      Tcl_Eval(interp, ("image delete " + photoName).c_str());
      if (written == TCL_OK && rename(temporary.c_str(), fileName) != 0) written = TCL_ERROR;
      if (written != TCL_OK && !temporary.empty()) unlink(temporary.c_str());
      if (written != TCL_OK) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Error in writing TKPHOTO.\n", nullptr);
        code = written;
      } else {
        Tcl_ResetResult(interp);
      }
    }
  }
  closeRAMImage(target, nullptr);
  if (code == TCL_OK && rasterWriteFailures() != failures) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Error in writing ", fileName, ".\n", nullptr);
    code = TCL_ERROR;
  }
  if (!endPendingImages(pending, code == TCL_OK) && code == TCL_OK) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Error in writing ", fileName, ".\n", nullptr);
    code = TCL_ERROR;
  }
  return code;
}

}  // namespace vesk
