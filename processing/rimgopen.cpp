/*
 * rimgopen.cpp --
 *     The "rimage" subcommands that manage the life of RAM images from
 *     scripts: open (files, memory images, decoded image strings), close,
 *     save, list, the image queries and the vocabulary lists.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <string>

#include "core/core.h"
#include "core/savefile.h"
#include "core/text.h"
#include "display/photo.h"
#include "raster/gif.h"
#include "raster/jpeg.h"
#include "processing/bindparse.h"
#include "processing/rimage.h"
#include "vector/terra.h"
#include "vesk/object.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* Class id of the tile store objects of "terra.create". */
constexpr int kTerraObjectClass = 8;

int rimgopenError(Tcl_Interp *interp, const std::string &message) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, message.c_str(), (char *)nullptr);
  return TCL_ERROR;
}

/* "Usage: rimage <sub><tail>" as the result, with the given code. */
int rimgopenUsage(Tcl_Interp *interp, int code, const char **argv, const char *tail) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], tail, (char *)nullptr);
  return code;
}

/* Adds the registry's error text of a failed open to errorInfo. */
void addOpenErrorInfo(Tcl_Interp *interp, int err) {
  Tcl_AddErrorInfo(interp, getRAMImageErrorText(err));
}

/* Turns the reference an open counted into a keep-to-be. */
void dropReference(RAMIMG *image) {
  if (image->refCount > 0) image->refCount--;
}

/*
 * Memory RGB layouts: band count, pixel type, palette entries (-1 leaves
 * them) and bits per pixel of the packed row.
 */
void fixRgbHead(ImageHeader &h) {
  const int64_t n = h.columns;
  auto packed = [n](int64_t bits) { return (n * bits + 31) / 32 * 4; };
  switch (h.imgid) {
  case IMG_MRGB32: h.nbands = 4; h.pixelid = P_BYTE; h.block = n * 4; break;
  case IMG_MRGB24: h.nbands = 3; h.pixelid = P_BYTE; h.block = packed(24); break;
  case IMG_MRGB565:
  case IMG_MRGB555: h.nbands = 3; h.pixelid = P_BYTE; h.block = packed(16); break;
  case IMG_MRGB8: h.nbands = 1; h.pixelid = P_BYTE; h.nindices = 256; h.block = packed(8); break;
  case IMG_MRGB4: h.nbands = 1; h.pixelid = P_4BITS; h.nindices = 16; h.block = packed(4); break;
  case IMG_MRGB1: h.nbands = 1; h.pixelid = P_1BIT; h.nindices = 2; h.block = packed(1); break;
  default: break;
  }
}

/*
 * openExisting --
 *     The last step of every successful open: one more keep, and the tag
 *     as the result.
 */
int openExisting(Tcl_Interp *interp, RAMIMG *image) {
  image->keepCount++;
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, image->tag, (char *)nullptr);
  return TCL_OK;
}

/*
 * A file under a tag (or none); when no file opens, the image of a Tk
 * photo of that name, copied with the head as template.
 */
RAMIMG *openFileOrPhoto(Tcl_Interp *interp, const char *tag, const char *word,
                        const ImageHeader &h, int *err) {
  RAMIMG *image = openRAMImage(tag, word, nullptr, nullptr, err);
  if (!image && findPhoto(interp, word)) {
    image = copyPhotoToRAMImage(interp, word, &h, tag);
    if (image) *err = 0;
  }
  return image;
}

/*
 * openImageString --
 *     "open TAG base64 TEXT" and "open TAG binary OBJECT TILE": the bytes
 *     of an image file held by the script or by a tile store.
 * Results: TCL_OK with *bytes (a malloc'd buffer) and the head filled.
 */
int openImageString(Tcl_Interp *interp, int argc, const char **argv, ImageHeader &h,
                    unsigned char **bytes, int64_t *length) {
  if (strcmp(argv[3], "base64") == 0) {
    if (argc != 5)
      return rimgopenError(interp, "Syntax error. Should be rimage open imgID base64 string.\n");
    int n = 0;
    const size_t textLength = strlen(argv[4]);
    if (textLength > static_cast<size_t>(INT32_MAX))
      return rimgopenError(interp, "Unrecognized base64 image string.\n");
    unsigned char *decoded = decodeBase64(static_cast<int>(textLength), argv[4], &n);
    if (!decoded) return rimgopenError(interp, "Memory allocation error");
    unsigned char *copy = static_cast<unsigned char *>(malloc(n > 0 ? static_cast<size_t>(n) : 1));
    if (copy) memcpy(copy, decoded, static_cast<size_t>(n));
    gmemFree(decoded);
    if (!copy) return rimgopenError(interp, "Memory allocation error");
    if (!readImageBytesHeader(copy, n, &h)) {
      free(copy);
      return rimgopenError(interp, "Unrecognized base64 image string.\n");
    }
    *bytes = copy;
    *length = n;
    return TCL_OK;
  }
  if (argc != 6)
    return rimgopenError(interp,
                         "Syntax error. Should be rimage open imgID binary terrObj tileId.\n");
  RAMOBJ *object = nullptr;
  if (openObject(interp, kTerraObjectClass, argv[4], &object) != TCL_OK) return TCL_ERROR;
  /* An object without a set holds no tile: every index is out of range. */
  TerraTileSet *set = static_cast<TerraTileSet *>(object->payload);
  const int tileCount = set ? set->tilesPerSet : 0;
  int first = 0, second = 0;
  int got = sscanf(argv[5], "%d %d", &first, &second);
  int index = got == 2 ? getTileIndex(set, first, second) : got == 1 ? first : -1;
  if (index < 0 || index >= tileCount) {
    closeObject(object);
    return rimgopenError(interp, "Invalid tileId");
  }
  int tileLength = 0;
  const unsigned char *tile = getTileData(set, index, &tileLength);
  if (!tile) {
    closeObject(object);
    return rimgopenError(interp, "terra object has no data");
  }
  unsigned char *copy = static_cast<unsigned char *>(malloc(static_cast<size_t>(tileLength)));
  if (!copy) {
    closeObject(object);
    return rimgopenError(interp, "Memory allocation error");
  }
  memcpy(copy, tile, static_cast<size_t>(tileLength));
  if (!readImageBytesHeader(copy, tileLength, &h)) {
    free(copy);
    closeObject(object);
    return rimgopenError(interp, "Unrecognized binary image tile.\n");
  }
  setTileImageHead(set, index, &h);
  closeObject(object);
  *bytes = copy;
  *length = tileLength;
  return TCL_OK;
}

}  // namespace

/*
 * readImageBytesHeader --
 *     The header of an image file held in memory (a base64 string, a
 *     tile): offered to the JPEG reader, then to the GIF reader.
 * Results:      true when one takes the bytes and fills the head.
 */
bool readImageBytesHeader(const unsigned char *bytes, int64_t length, ImageHeader *h) {
  ImageHeader probe = *h;
  if (readJpegHeader(-1, &probe, bytes, length) > 0 ||
      (probe = *h, readGifHeader(-1, &probe, bytes, length) > 0)) {
    *h = probe;
    return true;
  }
  return false;
}

/*
 * rimageOpen --
 *     "rimage open FILE|TAG [imgID [[template [dataRange]] | options]]":
 *     finds, opens or creates an image and keeps it.
 * Results:      the image's tag.
 * Side effects: one more keep of the image; a memory image made here is
 *     registered under TAG, with TAG as its path.
 */
int rimageOpen(ImageHeader *head, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3)
    return rimgopenError(interp, fmt("Usage: %s %s FILE|TAG [imgID [[template [dataRange]] | options]]",
                                     argv[0], argv[1]));
  ImageHeader h = *head;
  const char *w2 = argv[2];
  RAMIMG *existing = getRAMImageByName(w2);
  if (!existing) existing = getRAMImageByTag(w2);
  int err = 0;

  if (argc == 3) {
    if (existing) return openExisting(interp, existing);
    RAMIMG *image = w2[0] == '@' ? openRAMImage(w2, h.path, &h, nullptr, &err)
                                 : openFileOrPhoto(interp, nullptr, w2, h, &err);
    if (!image) {
      std::string message = std::string("Error in open ") + w2;
      if (w2[0] == '@') message += std::string(" with file: ") + h.path;
      message += std::string(" of ") + getImgidName(h.imgid);
      return rimageOpenFailure(interp, err, message);
    }
    dropReference(image);
    return openExisting(interp, image);
  }

  unsigned char *bytes = nullptr;  // a decoded image file, malloc'd
  int64_t byteCount = 0;
  bool paletteCame = false;
  int c = 0;
  if (strcmp(argv[3], "base64") == 0 || strcmp(argv[3], "binary") == 0) {
    if (openImageString(interp, argc, argv, h, &bytes, &byteCount) != TCL_OK) return TCL_ERROR;
    c = h.imgid;
    paletteCame = h.nindices > 0;
  } else {
    c = getImgid(argv[3]);
    if (c <= 0 || !isMemoryImgid(c)) {
      if (argc != 4)
        return rimgopenError(interp, "Invalid image ID for a memory resident rimage.");
      RAMIMG *image = openFileOrPhoto(interp, w2, argv[3], h, &err);
      if (!image) {
        return rimageOpenFailure(interp, err, fmt("Error in open: %s", argv[3]));
      }
      dropReference(image);
      return openExisting(interp, image);
    }
    if (existing && existing->header.imgid != c)
      return rimgopenError(interp, "Incompatible rimage ID.\n");
    if (existing && argc == 4) return openExisting(interp, existing);
    if ((argc == 5 || argc == 6) && argv[4][0] != '-') {
      RAMIMG *templ = openRAMImage(argv[4], argv[4], nullptr, nullptr, &err);
      if (!templ) {
        return rimageOpenFailure(interp, err, fmt("Fail to open the template: %s", argv[4]));
      }
      h = templ->header;
      closeRAMImage(templ, nullptr);
      paletteCame = h.nindices > 0;
      if (argc == 6) {
        int range[6];
        if (!parseDataRange(argv[5], h.columns, h.rows, h.nbands, range))
          return rimgopenError(interp, "Invalid data range");
        h.columns = abs(range[1] - range[0]) + 1;
        h.rows = abs(range[3] - range[2]) + 1;
        h.nbands = abs(range[5] - range[4]) + 1;
      }
    } else if (argc > 5) {
      if (existing) h = existing->header;
      else h.imgid = c;
      if (configRAMImageHead(&h, interp, argc - 4, argv + 4) != TCL_OK) return TCL_ERROR;
      if (h.imgid != c) return rimgopenError(interp, "conflicting -imgid option");
    }
    h.imgid = c;
    fixRgbHead(h);
  }

  if (!paletteCame) setGreyRamp(&h, h.nindices);
  const std::string refusal = memoryImageRefusal(h);
  if (!refusal.empty()) {
    free(bytes);
    return rimgopenError(interp, refusal);
  }
  RAMIMG *image = openRAMImage(w2, nullptr, &h, nullptr, &err);
  if (!image) {
    free(bytes);
    return rimageOpenFailure(interp, err, "Error in creating a new memory resident rimage.\n");
  }
  if (bytes && (c == IMG_GIF87A || c == IMG_GIF89A || c == IMG_JPEG) &&
      setRAMImageMemData(image, bytes, byteCount))
    bytes = nullptr;
  free(bytes);
  dropReference(image);
  snprintf(image->header.path, VESK_PATH_SIZE, "%s", w2);
  updateClient(image, nullptr, 1);
  return openExisting(interp, image);
}

/*
 * rimageClose --
 *     "rimage close TAG|FILE": gives one keep back.
 * Results:      the keeps left; the image is freed when nothing holds it.
 */
int rimageClose(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return rimgopenUsage(interp, TCL_ERROR, argv, " TAG | FILE");
  RAMIMG *image = findRAMImage(argv[2]);
  if (!image) return rimgopenError(interp, std::string("Not found RAMIMG:") + argv[2]);
  if (image->keepCount <= 0) return rimgopenError(interp, "Unmatched close");
  image->refCount++;
  image->keepCount--;
  Tcl_SetResult(interp, fmt("%d", image->keepCount), TCL_VOLATILE);
  closeRAMImage(image, nullptr);
  return TCL_OK;
}

/* rimageList -- "rimage list [pair|name|tag|all]": the registered images. */
int rimageList(Tcl_Interp *interp, int argc, const char **argv) {
  const char *mode = argc == 3 ? argv[2] : "pair";
  if (argc > 3 || (strcmp(mode, "pair") != 0 && strcmp(mode, "name") != 0 &&
                   strcmp(mode, "tag") != 0 && strcmp(mode, "all") != 0))
    return rimgopenUsage(interp, TCL_ERROR, argv, " [pair|name|tag|all]");
  Tcl_ResetResult(interp);
  for (RAMIMG *image = firstRAMImage(); image; image = image->next) {
    switch (mode[0]) {
    case 'p':
      Tcl_AppendResult(interp, "{", image->tag, " ", image->header.path, "} ", (char *)nullptr);
      break;
    case 'n': Tcl_AppendResult(interp, image->header.path, " ", (char *)nullptr); break;
    case 't': Tcl_AppendResult(interp, image->tag, " ", (char *)nullptr); break;
    default: {
      int clients = 0;
      for (RamImageClient *c = image->clients; c; c = c->next) clients++;
      Tcl_AppendResult(interp, "{", image->tag, " ", image->header.path,
                       fmt(" %d %d %d} ", image->keepCount, image->refCount, clients),
                       (char *)nullptr);
      break;
    }
    }
  }
  return TCL_OK;
}

/*
 * saveMemData --
 *     Writes an image's in-memory file copy to a file: beside it first,
 *     then renamed over it, so that a failed write leaves the old file.
 */
bool saveMemData(const RAMIMG *image, const char *name) {
  if (image->memLength < 0) return false;
  return saveFileBytes(name, image->memData, static_cast<size_t>(image->memLength)) == 0;
}

/*
 * rimageSave --
 *     "rimage save imgid [fileName]": writes an image back; an image with
 *     an in-memory file copy writes that copy to the file named.
 */
int rimageSave(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4)
    return rimgopenError(interp, std::string("Usage: ") + argv[0] + " save imgid [fileName]");
  int err = 0;
  RAMIMG *image = openRAMImage(argv[2], argv[2], nullptr, nullptr, &err);
  if (!image) return rimgopenError(interp, std::string("Error to open: ") + argv[2]);
  if (isUnsavableImgid(image->header.imgid)) {
    closeRAMImage(image, nullptr);
    return rimgopenError(interp, "Can't save a memory image.");
  }
  if (image->memData) {
    const char *name = argc == 4 ? argv[3] : argv[2];
    if (!saveMemData(image, name)) {
      closeRAMImage(image, nullptr);
      return rimgopenError(interp, std::string("Fail to create file:") + name);
    }
  } else if (!flushRAMImage(image)) {
    const std::string path = image->header.path;
    closeRAMImage(image, nullptr);
    return rimgopenError(interp, "Fail to write file:" + path);
  }
  closeRAMImage(image, nullptr);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

int rimageIsopened(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return rimgopenUsage(interp, TCL_ERROR, argv, " imgid");
  Tcl_SetResult(interp, const_cast<char *>(findRAMImage(argv[2]) ? "1" : "0"), TCL_STATIC);
  return TCL_OK;
}

/* rimageIsvalid -- "1" when the word names a registered image or an openable file. */
int rimageIsvalid(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return rimgopenUsage(interp, TCL_ERROR, argv, " imgid");
  bool valid = false;
  if (argv[2][0] && findRAMImage(argv[2])) {
    valid = true;
  } else if (argv[2][0]) {
    int err = 0;
    RAMIMG *image = openRAMImage(argv[2], argv[2], nullptr, nullptr, &err);
    if (image) {
      closeRAMImage(image, nullptr);
      valid = true;
    } else {
      addOpenErrorInfo(interp, err);
    }
  }
  Tcl_SetResult(interp, const_cast<char *>(valid ? "1" : "0"), TCL_STATIC);
  return TCL_OK;
}

/* ---- vocabularies ---- */

int rimageImgids(Tcl_Interp *interp, int, const char **) {
  for (int i = 1; i < countImgids(); i++) Tcl_AppendElement(interp, getImgidName(i));
  return TCL_OK;
}

int rimageImgtypes(Tcl_Interp *interp, int, const char **) {
  for (int i = 1; i < countImgtypes(); i++) Tcl_AppendElement(interp, getImgtypeName(i));
  return TCL_OK;
}

int rimageMapids(Tcl_Interp *interp, int, const char **) {
  for (int i = 1; i < countMapids(); i++) Tcl_AppendElement(interp, getMapidName(i));
  return TCL_OK;
}

int rimagePixelids(Tcl_Interp *interp, int, const char **) {
  for (int i = 1; i < countPixelids(); i++) Tcl_AppendElement(interp, getPixelidName(i));
  return TCL_OK;
}

int rimageVersion(Tcl_Interp *interp, int, const char **) {
  Tcl_SetResult(interp, const_cast<char *>(getPackageVersion()), TCL_VOLATILE);
  return TCL_OK;
}

/* ---- one image ---- */

namespace {

/*
 * The image of word 2 for the one-image subcommands; with a wrong word
 * count the usage is the result (TCL_OK), with no image an error.
 */
RAMIMG *oneImage(Tcl_Interp *interp, int argc, const char **argv, int minWords, int maxWords,
                 const char *usageTail, int *code) {
  if (argc < minWords || argc > maxWords) {
    *code = rimgopenUsage(interp, TCL_OK, argv, usageTail);
    return nullptr;
  }
  RAMIMG *image = findRAMImage(argv[2]);
  if (!image) *code = rimgopenError(interp, std::string("Can't found RAMIMG: ") + argv[2]);
  return image;
}

}  // namespace

int rimageResident(Tcl_Interp *interp, int argc, const char **argv) {
  int code = TCL_OK;
  RAMIMG *image = oneImage(interp, argc, argv, 3, 3, " imgID", &code);
  if (!image) return code;
  Tcl_SetResult(interp, const_cast<char *>(image->fd == -1 ? "1" : "0"), TCL_STATIC);
  return TCL_OK;
}

int rimageLock(Tcl_Interp *interp, int argc, const char **argv) {
  int code = TCL_OK;
  RAMIMG *image = oneImage(interp, argc, argv, 3, 3, " imgID", &code);
  if (!image) return code;
  attrRAMImage(image, 1);
  return TCL_OK;
}

int rimageUnlock(Tcl_Interp *interp, int argc, const char **argv) {
  int code = TCL_OK;
  RAMIMG *image = oneImage(interp, argc, argv, 3, 3, " imgID", &code);
  if (!image) return code;
  attrRAMImage(image, 0);
  return TCL_OK;
}

int rimageFlush(Tcl_Interp *interp, int argc, const char **argv) {
  int code = TCL_OK;
  RAMIMG *image = oneImage(interp, argc, argv, 3, 3, " imgID", &code);
  if (!image) return code;
  flushRAMImage(image);
  return TCL_OK;
}

/*
 * rimageUpdate --
 *     "rimage update imgID [DISPLAY|CONFIG|ALL|DATA]": tells the image's
 *     clients; DATA first drops the cached lines without writing them.
 */
int rimageUpdate(Tcl_Interp *interp, int argc, const char **argv) {
  int code = TCL_OK;
  RAMIMG *image =
      oneImage(interp, argc, argv, 3, 4, " imgID [DISPLAY|CONFIG|ALL|DATA] (def: DISPLAY)", &code);
  if (!image) return code;
  int flags = 2;
  if (argc == 4) {
    if (strcmp(argv[3], "DISPLAY") == 0) {
      flags = 2;
    } else if (strcmp(argv[3], "CONFIG") == 0) {
      flags = 1;
    } else if (strcmp(argv[3], "ALL") == 0) {
      flags = 3;
    } else if (strcmp(argv[3], "DATA") == 0) {
      invalidateRAMImageCache(image);
      flags = 2;
    } else {
      return rimgopenError(interp, std::string("Invalid option: ") + argv[3]);
    }
  }
  updateClient(image, nullptr, flags);
  return TCL_OK;
}

/* rimageVolume -- "rimage volume imgID [vID]": the current volume, after a seek. */
int rimageVolume(Tcl_Interp *interp, int argc, const char **argv) {
  int code = TCL_OK;
  RAMIMG *image = oneImage(interp, argc, argv, 3, 4, " imgID [vID]", &code);
  if (!image) return code;
  if (argc == 4) {
    const int v = atoi(argv[3]);
    int status = seekRAMImageVolume(image, v);
    if (status == -2 && v == 0) status = seekRAMImageVolume(image, 1);
    if (status == -1) return rimgopenError(interp, "Error in seek");
    updateClient(image, nullptr, 1);
  }
  Tcl_SetResult(interp, fmt("%d", image->volume), TCL_VOLATILE);
  return TCL_OK;
}

}  // namespace vesk
