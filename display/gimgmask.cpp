/*
 * gimgmask.cpp --
 *     Masks of gimg views.  A mask image filtered by a class table, the
 *     set of shown pixel values and clip polygons (all at image
 *     resolution) combine into a 1-bit memory image "<name>.mask" that
 *     scripts can read; at rendering the combined mask is resampled to the
 *     view, and-ed with the frame polygons (view resolution), and becomes
 *     the clip mask of the copy to the widget.  Also the stipple overlay.
 */
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/text.h"
#include "display/gimg.h"
#include "raster/roi.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

inline unsigned char bitOf(const MaskBitmap *b, int x) {
  return static_cast<unsigned char>(b->bitOrder ? 0x80 >> (x & 7) : 1 << (x & 7));
}

/* Writes one row of a bitmap from one byte a pixel (non-zero sets). */
void writeMaskRow(MaskBitmap *b, int row, const unsigned char *bytes) {
  unsigned char *r = b->bits + static_cast<size_t>(row) * b->rowBytes;
  memset(r, 0, static_cast<size_t>(b->rowBytes));
  for (int x = 0; x < b->width; x++)
    if (bytes[x]) r[x >> 3] |= bitOf(b, x);
}

bool hasBits(const MaskBitmap *b) { return b->bits != nullptr && b->width > 0 && b->height > 0; }

/*
 * ensureMaskExport --
 *     The 1-bit memory image that carries the combined mask, made on first
 *     use, all bits set; maskBits borrows its pixels.
 */
void ensureMaskExport(GimgMaster *master) {
  const ImageHeader &src = master->image->header;
  if (!master->maskExport) {
    ImageHeader h = master->header;
    h.rows = src.rows;
    h.columns = src.columns;
    h.pixelid = P_1BIT;
    h.imgid = IMG_MBSQ;
    h.nbands = 1;
    h.bits = 1;
    h.msbf = msbFirst();
    h.offset = 0;
    h.nindices = 2;
    h.transparent = -1;
    memset(h.palette, 0, sizeof h.palette);
    memset(h.palette[1], 255, 3);
    h.block = (static_cast<int64_t>(h.columns) + 15) / 16 * 2;
    std::string tag = master->name + ".mask";
    for (int i = 0; getRAMImageByTag(tag.c_str()) || getRAMImageByName(tag.c_str()); i++)
      tag = master->name + ".mask." + std::to_string(i);
    snprintf(h.path, VESK_PATH_SIZE, "%s", tag.c_str());
    int err = 0;
    RAMIMG *image = openRAMImage(tag.c_str(), nullptr, &h, &master->exportClient, &err);
    if (!image) {
      vesk_fprintf(stderr, "Error in exporting mask file.\n");
      return;
    }
    setRAMImageBuf(image, h.rows);
    master->maskExport = image;
  }
  RAMIMG *image = master->maskExport;
  for (int y = 0; y < image->header.rows; y++) {
    unsigned char *line = getRAMImageLine(image, y, 0, 0);
    if (line) memset(line, 255, static_cast<size_t>(image->lineBytes));
  }
  if (!borrowMaskBitmap(&master->maskBits, image)) initMaskBitmap(&master->maskBits);
}

/* The mask bitmap of a view from a bitmap at image resolution. */
MaskBitmap *maskToViewBitmap(const MaskBitmap *bits, const AxisMap *xMap, const AxisMap *yMap,
                             int rotation) {
  int w = xMap->count, h = yMap->count;
  if (rotation) std::swap(w, h);
  MaskBitmap *view = newMaskBitmap(w, h, 0);
  if (!view) return nullptr;
  int first, end;
  axisMapRange(xMap, bits->width, &first, &end);
  std::vector<unsigned char> line(static_cast<size_t>(xMap->count) + 1, 0);
  const int direction = rotation < 0 ? -1 : rotation > 0 ? 1 : 0;
  for (int r = 0; r < yMap->count; r++) {
    const int y = yMap->index[r];
    if (y < 0 || y >= bits->height) continue;
    getMaskBitmapRowIndexed(bits, y, first, end, xMap->index, xMap->count, line.data());
    putMaskBitmapLine(view, r, line.data(), direction);
  }
  return view;
}

/* Puts a bitmap on a 1-bit target pixmap at its destination. */
void putBitmapOnTarget(GimgMaster *master, const MaskBitmap *bits, ViewPixmap *target) {
  Pixmap pixmap = getViewPixmap(target);
  if (!pixmap || !master->bitmapGC) return;
  XImage *xi = XCreateImage(master->display, master->visual, 1, XYBitmap, 0,
                            reinterpret_cast<char *>(bits->bits), static_cast<unsigned>(bits->width),
                            static_cast<unsigned>(bits->height), 8, bits->rowBytes);
  if (!xi) return;
  /* Bytes hold pixels in order: with the byte order equal to the bit order
     the server's bitmap unit does not reorder them. */
  xi->bitmap_bit_order = bits->bitOrder ? MSBFirst : LSBFirst;
  xi->byte_order = xi->bitmap_bit_order;
  /* A 1-bit target takes plane values: set bits 1, clear bits 0, whatever
     the colours of the view are. */
  XSetForeground(master->display, master->bitmapGC, 1);
  XSetBackground(master->display, master->bitmapGC, 0);
  XPutImage(master->display, pixmap, master->bitmapGC, xi, 0, 0, target->destX, target->destY,
            static_cast<unsigned>(bits->width), static_cast<unsigned>(bits->height));
  xi->data = nullptr;
  XDestroyImage(xi);
  target->valid = 1;
}

/* Fills a chain into a bitmap, cut to a margin around the bitmap. */
void fillChain(const PointList *chain, MaskBitmap *bits, int parity) {
  PointList *cut = clipChainToRect(chain, -2, -2, bits->width + 2, bits->height + 2);
  if (cut) polyFillMask(cut, bits, parity);
  polyFree(cut);
}

/* Appends a chain at the end of another. */
void appendChain(PointList **chain, PointList *more) {
  PointList **tail = chain;
  while (*tail) tail = &(*tail)->next;
  *tail = more;
}

/* The region of the clip polygons in display coordinates. */
Region roiToRegion(GimgMaster *master, const PointList *chain) {
  Region region = XCreateRegion();
  for (const PointList *p = chain; p; p = p->next) {
    if (p->count < 3) continue;
    std::vector<XPoint> points(static_cast<size_t>(p->count));
    for (int i = 0; i < p->count; i++) {
      double dx, dy;
      imageToDisplay(master, p->points[i].x, p->points[i].y, &dx, &dy);
      points[i].x = static_cast<short>(std::clamp(roundToInt(dx), -32768, 32767));
      points[i].y = static_cast<short>(std::clamp(roundToInt(dy), -32768, 32767));
    }
    Region one = XPolygonRegion(points.data(), p->count, WindingRule);
    XUnionRegion(region, one, region);
    XDestroyRegion(one);
  }
  return region;
}

/* Rebuilds the frame bitmap from the frame polygons. */
void rebuildFrameBits(GimgMaster *master) {
  if (!master->framePolygons) return;
  if (master->frameDynamic) {
    polygonMaskToView(master, &master->frameBits, master->frameParity, master->framePolygons);
  } else if (allocMaskBitmap(&master->frameBits, master->viewPixmap.width,
                             master->viewPixmap.height, 0)) {
    fillChain(master->framePolygons, &master->frameBits, master->frameParity);
  }
}

/* Rebuilds the clip region and the clip bitmap from the clip polygons. */
void rebuildClip(GimgMaster *master) {
  if (master->clipRegion) XDestroyRegion(master->clipRegion);
  master->clipRegion = nullptr;
  if (!master->clipPolygons) return;
  master->clipRegion = roiToRegion(master, master->clipPolygons);
  if (master->image &&
      allocMaskBitmap(&master->clipBits, master->image->header.columns, master->image->header.rows, 0))
    fillChain(master->clipPolygons, &master->clipBits, master->clipParity);
}

int maskUsage(Tcl_Interp *interp, const char *command, const char *sub, const char *rest) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "Usage: ", command, " ", sub, rest, nullptr);
  return TCL_ERROR;
}

/* The shown-values directives of "mask data": on/off words and ranges. */
int applyDataDirectives(GimgMaster *m, Tcl_Interp *interp, int argc, const char *argv[]) {
  int show = -1;
  for (int a = 0; a < argc; a++) {
    for (const std::string &item : splitItems(argv[a])) {
      if (item == "on" || item == "off") {
        show = item == "on" ? 1 : 0;
        continue;
      }
      if (show < 0) return gimgError(interp, "invalid mask directive.\n");
      int lo, hi;
      if (!parseRangeItem(item, &lo, &hi) || lo < 0 || hi > 255 || lo > hi)
        return gimgError(interp, "Syntax error.\n");
      for (int v = lo; v <= hi; v++) m->shownValues[v] = static_cast<unsigned char>(show);
    }
  }
  return TCL_OK;
}

}  // namespace

/*
 * clipChainToRect --
 *     Each polygon of a chain cut to the rectangle [x0, x1] x [y0, y1]
 *     (Sutherland-Hodgman): filling far-out vertices row by row would
 *     take as long as the polygon is tall.
 */
PointList *clipChainToRect(const PointList *chain, double x0, double y0, double x1, double y1) {
  PointList *head = nullptr, **tail = &head;
  for (const PointList *p = chain; p; p = p->next) {
    std::vector<std::pair<double, double>> ring;
    for (int i = 0; i < p->count; i++) ring.emplace_back(p->points[i].x, p->points[i].y);
    for (int edge = 0; edge < 4 && !ring.empty(); edge++) {
      auto inside = [&](const std::pair<double, double> &q) {
        switch (edge) {
        case 0: return q.first >= x0;
        case 1: return q.first <= x1;
        case 2: return q.second >= y0;
        default: return q.second <= y1;
        }
      };
      auto cross = [&](const std::pair<double, double> &a, const std::pair<double, double> &b) {
        const double limit = edge == 0 ? x0 : edge == 1 ? x1 : edge == 2 ? y0 : y1;
        const double t = edge < 2 ? (limit - a.first) / (b.first - a.first)
                                  : (limit - a.second) / (b.second - a.second);
        return std::make_pair(a.first + t * (b.first - a.first), a.second + t * (b.second - a.second));
      };
      std::vector<std::pair<double, double>> out;
      for (size_t i = 0; i < ring.size(); i++) {
        const auto &cur = ring[i], &prev = ring[(i + ring.size() - 1) % ring.size()];
        if (inside(cur)) {
          if (!inside(prev)) out.push_back(cross(prev, cur));
          out.push_back(cur);
        } else if (inside(prev)) {
          out.push_back(cross(prev, cur));
        }
      }
      ring.swap(out);
    }
    if (ring.size() < 3) continue;
    PointList *list = polyNew(static_cast<int>(ring.size()));
    if (!list) continue;
    for (size_t k = 0; k < ring.size(); k++)
      list->points[k] = {roundToInt(ring[k].first), roundToInt(ring[k].second)};
    *tail = list;
    tail = &list->next;
  }
  return head;
}

/*
 * parseClassList --
 *     Sets the flags of a list of values and ranges ("," or " "
 *     separated); mode 0 starts from nothing set, 1 adds to the flags,
 *     2 inverts the listed ones.
 * Results:      the number of entries that changed, or -1 (flags kept)
 *     for a bad item.
 */
int parseClassList(unsigned char *flags, int mode, const char *text) {
  unsigned char next[256];
  if (mode == 0) memset(next, 0, sizeof next);
  else memcpy(next, flags, sizeof next);
  for (const std::string &item : splitItems(text ? text : "")) {
    int lo, hi;
    if (!parseRangeItem(item, &lo, &hi) || lo < 0 || hi < lo || hi > 255) return -1;
    for (int v = lo; v <= hi; v++) next[v] = mode == 2 ? !next[v] : 1;
  }
  int changed = 0;
  for (int v = 0; v < 256; v++) changed += (next[v] != 0) != (flags[v] != 0);
  memcpy(flags, next, sizeof next);
  return changed;
}

/*
 * clearImageMask --
 *     Drops the bitmaps of one mask kind (1 frame, 2 clip, 3 data, 4 all),
 *     with their sources on request; the export image goes with the last
 *     image-resolution mask.
 */
void clearImageMask(GimgMaster *master, int kind, int withSources) {
  if (kind == 1 || kind == 4) {
    master->framePixmap.valid = 0;
    freeMaskBitmap(&master->frameBits);
    if (withSources) {
      polyFree(master->framePolygons);
      master->framePolygons = nullptr;
    }
  }
  if (kind == 2 || kind == 4) {
    master->maskPixmap.valid = 0;
    freeMaskBitmap(&master->clipBits);
    if (withSources) {
      polyFree(master->clipPolygons);
      master->clipPolygons = nullptr;
    }
    if (master->clipRegion) XDestroyRegion(master->clipRegion);
    master->clipRegion = nullptr;
  }
  if (kind == 3 || kind == 4) {
    freeMaskBitmap(&master->valueMaskBits);
    if (withSources) memset(master->shownValues, 1, sizeof master->shownValues);
  }
  if (!hasBits(&master->valueMaskBits) && !hasBits(&master->clipBits) &&
      !hasBits(&master->fileMaskBits) && master->maskExport) {
    freeMaskBitmap(&master->maskBits);
    initMaskBitmap(&master->maskBits);
    closeRAMImage(master->maskExport, &master->exportClient);
    master->maskExport = nullptr;
    master->maskPresent = 0;
    master->maskPixmap.valid = 0;
  }
}

/*
 * combineMasks --
 *     Combines the file, value and clip masks into the export image by
 *     the mask operation in force.
 * Results:      1 when a combined mask exists.
 */
int combineMasks(GimgMaster *master) {
  const MaskBitmap *file = &master->fileMaskBits, *value = &master->valueMaskBits,
                   *clip = &master->clipBits;
  if (!master->image || (!hasBits(file) && !hasBits(value) && !hasBits(clip))) {
    master->maskPresent = 0;
    return 0;
  }
  ensureMaskExport(master);
  MaskBitmap *out = &master->maskBits;
  if (!hasBits(out)) return master->maskPresent;
  const int op = master->maskState == 0 ? 1 : abs(master->maskState);
  const bool valueOr = op == 2 || op == 4, clipOr = op == 2 || op == 3;
  const int w = out->width;
  std::vector<unsigned char> acc(static_cast<size_t>(w)), row(static_cast<size_t>(w));
  for (int y = 0; y < out->height; y++) {
    bool started = false;
    std::fill(acc.begin(), acc.end(), 1);
    const MaskBitmap *parts[3] = {file, value, clip};
    const bool orParts[3] = {false, valueOr, clipOr};
    for (int p = 0; p < 3; p++) {
      if (!hasBits(parts[p])) continue;
      getMaskBitmapRow(parts[p], y, 0, w, row.data());
      for (int x = 0; x < w; x++) {
        const bool bit = row[x] != 0;
        acc[x] = started && orParts[p] ? (acc[x] || bit) : (acc[x] && bit);
      }
      started = true;
    }
    writeMaskRow(out, y, acc.data());
  }
  master->maskPresent = 1;
  updateClient(master->maskExport, master, 3);
  return 1;
}

/* buildFileMask -- the mask image through the class table. */
void buildFileMask(GimgMaster *master) {
  RAMIMG *mask = master->maskImage;
  if (!mask) return;
  const int w = mask->header.columns, h = mask->header.rows;
  if (!allocMaskBitmap(&master->fileMaskBits, w, h, 0)) return;
  std::vector<int> identity(static_cast<size_t>(w));
  for (int i = 0; i < w; i++) identity[i] = i;
  std::vector<unsigned char> line(static_cast<size_t>(w) + 1);
  const int band = std::clamp(master->maskBandInForce - 1, 0, std::max(mask->header.nbands - 1, 0));
  for (int y = 0; y < h; y++) {
    renderBandLine(mask, y, band, identity.data(), 0, w, w, nullptr, 0, 255, master->maskClasses,
                   line.data());
    writeMaskRow(&master->fileMaskBits, y, line.data());
  }
}

/* buildValueMask -- the pixels whose values are shown. */
void buildValueMask(GimgMaster *master, const unsigned char *flags) {
  RAMIMG *image = master->image;
  if (!image) return;
  const int w = image->header.columns, h = image->header.rows;
  if (!allocMaskBitmap(&master->valueMaskBits, w, h, 0)) return;
  unsigned char table[256];
  memcpy(table, flags, sizeof table);
  const int t = image->header.transparent;
  if (t >= 0 && t < 256) table[t] = 0;
  std::vector<int> identity(static_cast<size_t>(w));
  for (int i = 0; i < w; i++) identity[i] = i;
  std::vector<unsigned char> line(static_cast<size_t>(w) + 1), sum(static_cast<size_t>(w) + 1);
  for (int y = 0; y < h; y++) {
    if (image->header.nbands <= 1) {
      renderBandLine(image, y, 0, identity.data(), 0, w, w, nullptr, 0, 255, table, line.data());
    } else {
      std::fill(sum.begin(), sum.end(), 0);
      for (int c = 0; c < std::clamp(master->channelCount, 0, 3); c++) {
        const int band = master->channelBand[c];
        if (band < 0 || band >= image->header.nbands) continue;
        renderBandLine(image, y, band, identity.data(), 0, w, w, nullptr, master->inLow[c],
                       master->inHigh[c], master->packedLut[c], line.data());
        for (int x = 0; x < w; x++) sum[x] = static_cast<unsigned char>(sum[x] + line[x]);
      }
      for (int x = 0; x < w; x++) line[x] = table[sum[x]];
    }
    writeMaskRow(&master->valueMaskBits, y, line.data());
  }
}

/*
 * polygonMaskToView --
 *     Fills polygons given in image coordinates into a bitmap of the
 *     view pixmap's size, turned to display coordinates.
 * Results:      0 when there are no polygons.
 */
int polygonMaskToView(GimgMaster *master, MaskBitmap *bits, int parity, const PointList *polygons) {
  if (!polygons) return 0;
  PointList *copy = polyCopy(polygons);
  if (!copy) return 0;
  for (PointList *p = copy; p; p = p->next)
    for (int i = 0; i < p->count; i++) {
      double dx, dy;
      imageToDisplay(master, p->points[i].x, p->points[i].y, &dx, &dy);
      p->points[i].x = static_cast<int>(std::clamp(dx, -1e8, 1e8));
      p->points[i].y = static_cast<int>(std::clamp(dy, -1e8, 1e8));
    }
  if (allocMaskBitmap(bits, master->viewPixmap.width, master->viewPixmap.height, 0))
    fillChain(copy, bits, parity);
  polyFree(copy);
  return 1;
}

/*
 * buildViewMasks --
 *     The clip mask of a view: the combined mask resampled to the view,
 *     and-ed with the frame mask; both go to their 1-bit pixmaps.  With
 *     neither, the pixmaps are marked stale so that nothing clips.
 */
void buildViewMasks(GimgMaster *owner, const MaskBitmap *maskBits, const MaskBitmap *frameBits,
                    ViewPixmap *frameTarget, ViewPixmap *maskTarget, const AxisMap *xMap,
                    const AxisMap *yMap, int rotation) {
  const bool haveMask = maskBits && hasBits(maskBits), haveFrame = frameBits && hasBits(frameBits);
  if (!haveMask && !haveFrame) {
    if (frameTarget) frameTarget->valid = 0;
    if (maskTarget) maskTarget->valid = 0;
    return;
  }
  if (!xMap->index || !yMap->index) return;
  MaskBitmap *view;
  if (haveMask) {
    view = maskToViewBitmap(maskBits, xMap, yMap, rotation);
  } else {
    int w = xMap->count, h = yMap->count;
    if (rotation) std::swap(w, h);
    view = newMaskBitmap(w, h, 255);
  }
  if (!view) return;
  if (haveFrame) {
    std::vector<unsigned char> a(static_cast<size_t>(view->width)), b(static_cast<size_t>(view->width));
    for (int y = 0; y < view->height; y++) {
      getMaskBitmapRow(view, y, 0, view->width, a.data());
      getMaskBitmapRow(frameBits, y, 0, view->width, b.data());
      for (int x = 0; x < view->width; x++) a[x] = a[x] && b[x];
      writeMaskRow(view, y, a.data());
    }
    if (frameTarget) putBitmapOnTarget(owner, frameBits, frameTarget);
  } else if (frameTarget) {
    frameTarget->valid = 0;
  }
  if (maskTarget) putBitmapOnTarget(owner, view, maskTarget);
  deleteMaskBitmap(view);
}

/*
 * gimgMaskCmd --
 *     "mask clear|delete|frame|clip|data|class|on|off ...".
 */
int gimgMaskCmd(GimgMaster *master, Tcl_Interp *interp, int argc, const char *argv[]) {
  if (argc < 3) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], " ?options?\n", nullptr);
    return TCL_OK;
  }
  GimgMaster *m = master;
  if (!master->image && !master->mirrorName.empty())
    if (GimgMaster *source = findGimg(interp, master->mirrorName.c_str())) m = source;
  const char *option = argv[2];
  const int rest = argc - 3;
  const char **words = argv + 3;
  Tcl_ResetResult(interp);
  if (strcmp(option, "clear") == 0 || strcmp(option, "delete") == 0) {
    const bool withSources = option[0] == 'd';
    if (rest > 1)
      return maskUsage(interp, argv[0], argv[1],
                       withSources ? " [frame|clip|data|all]\n" : " [frame|class|clip|data|all]\n");
    const int kind = rest == 1 ? parseMaskKind(interp, words[0]) : MASK_ALL;
    if (kind == MASK_NONE) return TCL_ERROR;
    if (kind == MASK_FRAME) clearImageMask(master, kind, withSources);
    else clearImageMask(m, kind, withSources);
    if (kind == MASK_ALL && m != master) clearImageMask(master, MASK_FRAME, withSources);
  } else if (strcmp(option, "frame") == 0) {
    if (rest == 0) {
      appendFormat(interp, "%d %s %s", master->framePolygons ? 1 : 0,
                   master->frameDynamic ? "dynamic" : "static", master->frameParity ? "xor" : "or");
      return TCL_OK;
    }
    if (rest == 1) {
      const char *w = words[0];
      if (!strcmp(w, "dynamic") || !strcmp(w, "static")) {
        master->frameDynamic = w[0] == 'd';
        return TCL_OK;
      }
      if (!strcmp(w, "xor") || !strcmp(w, "or")) {
        master->frameParity = w[0] == 'x';
        return TCL_OK;
      }
      if (strcmp(w, "current") != 0) return gimgError(interp, "Unknown frame option.\n");
    } else {
      PointList *chain = parseROIList(interp, rest, words);
      if (!chain) return TCL_ERROR;
      appendChain(&master->framePolygons, chain);
    }
    rebuildFrameBits(master);
  } else if (strcmp(option, "clip") == 0) {
    if (rest == 0) {
      appendFormat(interp, "%d %s", m->clipPolygons ? 1 : 0, m->clipParity ? "xor" : "or");
      return TCL_OK;
    }
    if (rest == 1) {
      const char *w = words[0];
      if (!strcmp(w, "xor") || !strcmp(w, "or")) {
        m->clipParity = w[0] == 'x';
        return TCL_OK;
      }
      if (strcmp(w, "current") != 0) return gimgError(interp, "Unknown clip option.\n");
      if (!m->clipPolygons) return TCL_OK;
    } else {
      PointList *chain = parseROIList(interp, rest, words);
      if (!chain) return TCL_ERROR;
      appendChain(&m->clipPolygons, chain);
    }
    rebuildClip(m);
  } else if (strcmp(option, "data") == 0) {
    if (rest == 1 && strcmp(words[0], "values") == 0) {
      for (int v = 0; v < 256;) {
        if (!m->shownValues[v]) {
          v++;
          continue;
        }
        int e = v;
        while (e + 1 < 256 && m->shownValues[e + 1]) e++;
        if (e > v) appendFormat(interp, "%d-%d ", v, e);
        else appendFormat(interp, "%d ", v);
        v = e + 1;
      }
      return TCL_OK;
    }
    if (applyDataDirectives(m, interp, rest, words) != TCL_OK) return TCL_ERROR;
    buildValueMask(m, m->shownValues);
  } else if (strcmp(option, "class") == 0) {
    if (rest < 1 || rest > 2) {
      appendFormat(interp, "%s %s %s classDef|? [xor|or|set]", argv[0], "mask", "class");
      return TCL_ERROR;
    }
    if (strcmp(words[0], "?") == 0) {
      for (int v = 0; v < 256; v++)
        if (m->maskClasses[v]) Tcl_AppendElement(interp, std::to_string(v).c_str());
      return TCL_OK;
    }
    int mode = 0;
    if (rest == 2) {
      if (compareNoCase(words[1], "set") == 0) mode = 0;
      else if (compareNoCase(words[1], "or") == 0) mode = 1;
      else if (compareNoCase(words[1], "xor") == 0) mode = 2;
      else return gimgError(interp, "Invalid mask class specification.\n");
    }
    const int changed = parseClassList(m->maskClasses, mode, words[0]);
    if (changed < 0) return gimgError(interp, "Error in parsing mask class.");
    if (changed > 0) {
      maskChangedProc(m);
      if (!m->maskPresent) return TCL_ERROR;
    }
  } else if (strcmp(option, "on") == 0) {
    if (m->maskState < 0) m->maskOn = -m->maskState;
    if (rest > 0 && Tcl_GetInt(interp, words[0], &m->maskOn) != TCL_OK) return TCL_ERROR;
    if (m->maskOn < 1 || m->maskOn > 4) return gimgError(interp, "Invalid mask operation flag.\n");
    if (m->maskState == -m->maskOn) {
      m->maskState = m->maskOn;
      gimgChanged(master);
      if (m != master) gimgChanged(m);
      return TCL_OK;
    }
    m->maskState = m->maskOn;
  } else if (strcmp(option, "off") == 0) {
    m->maskState = -m->maskState;
    m->maskOn = 0;
    if (m != master) master->maskState = m->maskState;
    gimgChanged(master);
    if (m != master) gimgChanged(m);
    return TCL_OK;
  } else {
    return gimgError(interp, "Unknown mask option.\n");
  }

  if (m->image) {
    if (m == master) {
      combineMasks(master);
      buildViewMasks(master, master->maskPresent ? &master->maskBits : nullptr, &master->frameBits,
                     &master->framePixmap, &master->maskPixmap, &master->xMap, &master->yMap,
                     master->rotate);
    } else {
      combineMasks(m);
      buildViewMasks(master, m->maskPresent ? &m->maskBits : nullptr, &master->frameBits,
                     &master->framePixmap, &master->maskPixmap, &master->xMap, &master->yMap,
                     m->rotate);
    }
    gimgChanged(master);
    if (m != master) gimgChanged(m);
  }
  return TCL_OK;
}

}  // namespace vesk
