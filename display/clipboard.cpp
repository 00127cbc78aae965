/*
 * clipboard.cpp --
 *     Images on the X CLIPBOARD selection.  Putting an image keeps a copy
 *     in the process and makes a hidden window of ours the selection owner;
 *     it offers the targets TARGETS and image/png (written with cairo).
 *     Reading takes the process copy while we still own the selection, and
 *     otherwise asks the owner for image/png; nothing else is read as an
 *     image.  Another owner taking the selection drops our copy.
 */
#include "display/capture.h"

#include <X11/Xatom.h>
#include <cairo.h>
#include <stdlib.h>
#include <tkInt.h>

#include "core/console.h"
#include "vesk/stdio.h"

namespace vesk {

namespace {

constexpr const char *kPngTarget = "image/png";
/* Images the clipboard accepts from others, in pixels. */
constexpr long kMaxClipboardPixels = 1L << 26;

struct OwnerWindow {
  Display *display;
  Window window;
};

/* The process copy and the selection owner windows. */
struct LocalClipboard {
  std::vector<OwnerWindow> owners;
  Display *display = nullptr; /* whose CLIPBOARD we own; NULL: none */
  Window owner = 0;
  RgbImage image;
  std::string png;
  std::string extraTarget; /* a further target offered, e.g. image/x-emf */
  std::string extraData;
};

LocalClipboard &localClipboard() {
  static LocalClipboard *clip = new LocalClipboard;
  return *clip;
}

int clipboardTrapError(ClientData clientData, XErrorEvent *) {
  if (clientData) *static_cast<int *>(clientData) = 1;
  return 0;
}

void dropLocalCopy() {
  LocalClipboard &clip = localClipboard();
  clip.display = nullptr;
  clip.owner = 0;
  clip.image = RgbImage{};
  clip.png.clear();
  clip.png.shrink_to_fit();
  clip.extraTarget.clear();
  clip.extraData.clear();
  clip.extraData.shrink_to_fit();
}

/*
 * answerRequest --
 *     Converts our CLIPBOARD for a requestor: the target list or the PNG
 *     bytes stored on its property; anything else is refused.
 */
void answerRequest(XSelectionRequestEvent *request) {
  LocalClipboard &clip = localClipboard();
  Display *display = request->display;
  Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  Atom targets = XInternAtom(display, "TARGETS", False);
  Atom png = XInternAtom(display, kPngTarget, False);
  Atom extra = clip.extraTarget.empty() ? None
                                        : XInternAtom(display, clip.extraTarget.c_str(), False);
  XSelectionEvent reply{};
  reply.type = SelectionNotify;
  reply.send_event = True;
  reply.display = display;
  reply.requestor = request->requestor;
  reply.selection = request->selection;
  reply.target = request->target;
  reply.time = request->time;
  Atom property = request->property ? request->property : request->target;
  reply.property = None;
  int failed = 0;
  Tk_ErrorHandler handler =
      Tk_CreateErrorHandler(display, -1, -1, -1, clipboardTrapError, &failed);
  if (clip.display == display && request->selection == clipboard) {
    long maxBytes = XExtendedMaxRequestSize(display);
    if (maxBytes == 0) maxBytes = XMaxRequestSize(display);
    maxBytes = maxBytes * 4 - 1024;
    if (request->target == targets) {
      Atom list[3] = {targets, png, extra};
      XChangeProperty(display, request->requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char *>(list), extra != None ? 3 : 2);
      reply.property = property;
    } else if (extra != None && request->target == extra &&
               static_cast<long>(clip.extraData.size()) <= maxBytes) {
      XChangeProperty(display, request->requestor, property, extra, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(clip.extraData.data()),
                      static_cast<int>(clip.extraData.size()));
      reply.property = property;
    } else if (request->target == png && static_cast<long>(clip.png.size()) <= maxBytes) {
      XChangeProperty(display, request->requestor, property, png, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(clip.png.data()),
                      static_cast<int>(clip.png.size()));
      reply.property = property;
    }
  }
  XSendEvent(display, request->requestor, False, 0, reinterpret_cast<XEvent *>(&reply));
  XSync(display, False);
  Tk_DeleteErrorHandler(handler);
}

/* Tk's generic handler: selection traffic of our owner windows. */
int clipboardEventProc(ClientData, XEvent *event) {
  LocalClipboard &clip = localClipboard();
  if (event->type == SelectionRequest) {
    for (const OwnerWindow &owner : clip.owners) {
      if (owner.display == event->xany.display &&
          owner.window == event->xselectionrequest.owner) {
        answerRequest(&event->xselectionrequest);
        return 1;
      }
    }
  } else if (event->type == SelectionClear) {
    if (clip.display == event->xany.display && clip.owner == event->xselectionclear.window) {
      dropLocalCopy();
      return 1;
    }
  }
  return 0;
}

/*
 * refreshEventHandler --
 *     (Re)installs the generic handler that answers for our owner windows.
 *     Tk drops the generic handlers of a thread when another interpreter
 *     of that thread initialises Tk, so every clipboard call renews it.
 */
void refreshEventHandler() {
  Tk_DeleteGenericHandler(clipboardEventProc, nullptr);
  Tk_CreateGenericHandler(clipboardEventProc, nullptr);
}

/* Our hidden owner window on a display, made on first use. */
Window ownerWindow(Display *display) {
  LocalClipboard &clip = localClipboard();
  refreshEventHandler();
  for (const OwnerWindow &owner : clip.owners)
    if (owner.display == display) return owner.window;
  Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0);
  clip.owners.push_back({display, window});
  return window;
}

cairo_status_t appendPngBytes(void *closure, const unsigned char *data, unsigned int length) {
  static_cast<std::string *>(closure)->append(reinterpret_cast<const char *>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

struct PngSource {
  const unsigned char *data;
  size_t size;
  size_t offset;
};

cairo_status_t readPngBytes(void *closure, unsigned char *data, unsigned int length) {
  PngSource *source = static_cast<PngSource *>(closure);
  if (length > source->size - source->offset) return CAIRO_STATUS_READ_ERROR;
  memcpy(data, source->data + source->offset, length);
  source->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

/* Collects the bytes of a selection that Tk hands over as "0x89 0x50 ..." words. */
int collectHexBytes(ClientData clientData, Tcl_Interp *, const char *portion) {
  std::string *bytes = static_cast<std::string *>(clientData);
  const char *p = portion;
  while (*p) {
    char *end = nullptr;
    unsigned long value = strtoul(p, &end, 0);
    if (end == p) {
      p++;
      continue;
    }
    bytes->push_back(static_cast<char>(value & 0xff));
    p = end;
  }
  return TCL_OK;
}

}  // namespace

/* PNG bytes of an RGB image; 1 on success. */
int encodePng(const RgbImage &image, std::string &png) {
  png.clear();
  if (image.width <= 0 || image.height <= 0) return 0;
  cairo_surface_t *surface =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, image.height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return 0;
  }
  cairo_surface_flush(surface);
  unsigned char *data = cairo_image_surface_get_data(surface);
  int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < image.height; y++)
    memcpy(data + static_cast<size_t>(y) * static_cast<size_t>(stride),
           &image.pixels[static_cast<size_t>(y) * static_cast<size_t>(image.width)],
           sizeof(uint32_t) * static_cast<size_t>(image.width));
  cairo_surface_mark_dirty(surface);
  cairo_status_t status = cairo_surface_write_to_png_stream(surface, appendPngBytes, &png);
  cairo_surface_destroy(surface);
  return status == CAIRO_STATUS_SUCCESS;
}

/*
 * decodePng --
 *     The RGB pixels of PNG bytes; transparent pixels become white,
 *     partly transparent ones keep their colour.
 * Results:      1, or 0 for bytes that are no PNG image or one too large.
 */
int decodePng(const unsigned char *data, size_t size, RgbImage &out) {
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (!data || size < 8 || memcmp(data, signature, 8) != 0) return 0;
  PngSource source{data, size, 0};
  cairo_surface_t *surface = cairo_image_surface_create_from_png_stream(readPngBytes, &source);
  int ok = 0;
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    cairo_format_t format = cairo_image_surface_get_format(surface);
    int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    if ((format == CAIRO_FORMAT_RGB24 || format == CAIRO_FORMAT_ARGB32) && w > 0 && h > 0 &&
        static_cast<long>(w) * h <= kMaxClipboardPixels) {
      cairo_surface_flush(surface);
      const unsigned char *pixels = cairo_image_surface_get_data(surface);
      int stride = cairo_image_surface_get_stride(surface);
      out.width = w;
      out.height = h;
      out.pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
      for (int y = 0; y < h; y++) {
        const uint32_t *row = reinterpret_cast<const uint32_t *>(pixels + y * stride);
        for (int x = 0; x < w; x++) {
          uint32_t p = row[x];
          if (format == CAIRO_FORMAT_ARGB32) {
            uint32_t a = p >> 24;
            if (a == 0) {
              p = 0xffffff;
            } else if (a < 255) {
              uint32_t r = std::min(255u, ((p >> 16) & 0xff) * 255 / a);
              uint32_t g = std::min(255u, ((p >> 8) & 0xff) * 255 / a);
              uint32_t b = std::min(255u, (p & 0xff) * 255 / a);
              p = (r << 16) | (g << 8) | b;
            }
          }
          out.pixels[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
              p & 0xffffff;
        }
      }
      ok = 1;
    }
  }
  cairo_surface_destroy(surface);
  return ok;
}

/*
 * putImageOnClipboard --
 *     Makes the image the content of the display's CLIPBOARD; extraData,
 *     when given, is offered as extraTarget too (its bytes are taken).
 * Results:      1, or 0 when the image cannot be encoded or the selection
 *               cannot be owned (the previous content is then gone).
 */
int putImageOnClipboard(Display *display, const RgbImage &image, const char *extraTarget,
                        std::string *extraData) {
  std::string png;
  if (!encodePng(image, png)) return 0;
  Window owner = ownerWindow(display);
  Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  LocalClipboard &clip = localClipboard();
  dropLocalCopy();
  clip.display = display;
  clip.owner = owner;
  /* While we own it, a console starting Tk must not silence our answers. */
  setTkStartedHook(refreshClipboardHandler);
  clip.image = image;
  clip.png.swap(png);
  if (extraTarget && extraData) {
    clip.extraTarget = extraTarget;
    clip.extraData.swap(*extraData);
  }
  XSetSelectionOwner(display, clipboard, owner, CurrentTime);
  if (XGetSelectionOwner(display, clipboard) != owner) {
    dropLocalCopy();
    return 0;
  }
  return 1;
}

/*
 * copyDrawableToClipboard --
 *     Puts a capture of a rectangle of the drawable (its colours read
 *     through the default colormap) on the clipboard.
 * Results:      1 on success, 0 when nothing could be captured or put.
 */
int copyDrawableToClipboard(Display *display, Drawable drawable, int x, int y, int width,
                            int height) {
  RgbImage image;
  if (!captureDrawableRgb(display, drawable, DefaultColormap(display, DefaultScreen(display)), x,
                          y, width, height, image))
    return 0;
  return putImageOnClipboard(display, image);
}

/*
 * getClipboardImage --
 *     The clipboard's image: our own copy while we own the selection, else
 *     what the owner offers as image/png.
 * Results:      1 and the pixels, or 0 when the clipboard holds no image.
 */
int getClipboardImage(Tk_Window tkwin, RgbImage &out) {
  if (!tkwin) return 0;
  Display *display = Tk_Display(tkwin);
  Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
  LocalClipboard &clip = localClipboard();
  if (clip.display) refreshEventHandler();
  if (clip.display == display && XGetSelectionOwner(display, clipboard) == clip.owner) {
    out = clip.image;
    return 1;
  }
  Tcl_Interp *interp = reinterpret_cast<TkWindow *>(tkwin)->mainPtr->interp;
  if (!interp) return 0;
  Tcl_InterpState saved = Tcl_SaveInterpState(interp, TCL_OK);
  std::string bytes;
  int code = Tk_GetSelection(interp, tkwin, clipboard, XInternAtom(display, kPngTarget, False),
                             collectHexBytes, &bytes);
  Tcl_RestoreInterpState(interp, saved);
  if (code != TCL_OK) return 0;
  return decodePng(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), out);
}

/* 1 and the size of the clipboard's image, or 0 when it holds none. */
int getClipboardBitmapSize(Tk_Window tkwin, int *width, int *height) {
  RgbImage image;
  if (!getClipboardImage(tkwin, image)) return 0;
  *width = image.width;
  *height = image.height;
  return 1;
}

/*
 * makePixmapFromClipboard --
 *     A new Tk pixmap of the window's depth holding the clipboard's image.
 * Results:      the pixmap and its size, or None.
 */
Pixmap makePixmapFromClipboard(Tk_Window tkwin, int *width, int *height) {
  RgbImage image;
  if (!getClipboardImage(tkwin, image)) return None;
  Pixmap pixmap = makePixmapFromRgb(tkwin, image);
  if (!pixmap) {
    vesk_fprintf(stderr, "Failed to create pixmap.\n");
    return None;
  }
  *width = image.width;
  *height = image.height;
  return pixmap;
}

/* Renews the answering of our CLIPBOARD (after Tk starts in another interpreter). */
void refreshClipboardHandler() {
  if (localClipboard().display) refreshEventHandler();
}

/* Gives up our CLIPBOARD and drops the process copy. */
void clearLocalClipboard() {
  LocalClipboard &clip = localClipboard();
  if (clip.display) {
    Atom clipboard = XInternAtom(clip.display, "CLIPBOARD", False);
    if (XGetSelectionOwner(clip.display, clipboard) == clip.owner)
      XSetSelectionOwner(clip.display, clipboard, None, CurrentTime);
  }
  dropLocalCopy();
}

}  // namespace vesk
