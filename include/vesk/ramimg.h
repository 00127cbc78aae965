/*
 * ramimg.h --
 *     The RAM image interface that other native modules of the application
 *     call: the image header record, the client record by which a module
 *     watches an image, and the vesk_ functions that open, find, read,
 *     notify and close images.  RAMIMG itself is opaque here.
 */
#ifndef VESK_RAMIMG_H
#define VESK_RAMIMG_H

#include <stdint.h>
#include "vesk/vesk.h"

#define VESK_PATH_SIZE 256

/*
 * The description of one raster image, in memory or in a file.  Plain
 * record: it is copied whole between templates, readers and images.
 * Sizes and file offsets are 64-bit.
 */
typedef struct ImageHeader {
  char path[VESK_PATH_SIZE];  /* file of the image; a name for memory images */
  char note[VESK_PATH_SIZE];  /* free description text */
  int pixelid;                /* pixel type (1BIT ... SBYTE) */
  int imgid;                  /* layout or file format */
  int mapid;                  /* map projection: named code or PCS code */
  int imgtype;                /* content type */
  int64_t offset;             /* file offset of the first pixel record */
  int64_t block;              /* bytes of one stored record */
  int top, left;              /* origin row and column, carried only */
  int rows, columns;
  int bits;                   /* bits per stored sample */
  int nbands;
  int msbf;                   /* 1: most significant byte (and bit) first */
  int nindices;               /* palette entries in use; 0: no palette */
  int transparent;            /* transparent palette index, -1 for none */
  unsigned char palette[256][3];
  double x0, y0;              /* map coordinates of the image origin */
  double dx, dy;              /* pixel size in map units */
  double z0, zscale;          /* value offset and scale, carried only */
  double zmin, zmax;          /* declared value range */
  int altFd;                  /* data file a reader opened, -1 for none */
  int volumes;                /* images in a multi-image file, 0: not given */
  int readerFlag;             /* 0: plain records; else encoded pixels */
} ImageHeader;

/*
 * How a display or object watches an image.  The record belongs to the
 * client; the image only links it.
 */
typedef struct RamImageClient {
  void (*changeProc)(ClientData clientData);   /* configuration changed */
  void (*redrawProc)(ClientData clientData);   /* pixels changed */
  void (*rectProc)(ClientData clientData, int a, int b, int c, int d);
  void *owner;            /* notifications naming this owner skip the client */
  ClientData clientData;  /* argument of the three procedures */
  struct RamImageClient *next;
} RamImageClient;

typedef struct RAMIMG RAMIMG;

/* Error codes of the open operations. */
#define VESK_RAMIMG_OK 0
#define VESK_RAMIMG_NOMEM 1
#define VESK_RAMIMG_UNKNOWN_TYPE 2
#define VESK_RAMIMG_OPEN_ERROR 3
#define VESK_RAMIMG_SYSTEM 4
#define VESK_RAMIMG_EXISTS 5
#define VESK_RAMIMG_CREATE_ERROR 6
#define VESK_RAMIMG_UNHANDLED 8

VESK_EXPORT RAMIMG *vesk_openRAMImage(const char *tag, const char *path, ImageHeader *templ,
                                      RamImageClient *client, int *err);
VESK_EXPORT RAMIMG *vesk_openRAMImageNew(ImageHeader *templ, RamImageClient *client,
                                         int overwrite, int *err);
VESK_EXPORT int vesk_closeRAMImage(RAMIMG *image, RamImageClient *client);
VESK_EXPORT RAMIMG *vesk_getRAMImageByName(const char *path);
VESK_EXPORT RAMIMG *vesk_getRAMImageByTag(const char *tag);
VESK_EXPORT unsigned char *vesk_getRAMImageLine(RAMIMG *image, int row, int band, int load);
/* Stores count unsigned 16-bit values into one band of one row, converted
   to the image's pixel type; returns the number stored. */
VESK_EXPORT int vesk_putUSHORTBILData(RAMIMG *image, int row, int column, int count, int band,
                                      const uint16_t *values);
VESK_EXPORT void vesk_updateClient(RAMIMG *image, void *owner, int flags);
VESK_EXPORT void vesk_updateClientRect(RAMIMG *image, void *owner, int a, int b, int c, int d);
VESK_EXPORT int vesk_attrRAMImage(RAMIMG *image, int flags);
VESK_EXPORT int vesk_msbFirst(void);

#endif
