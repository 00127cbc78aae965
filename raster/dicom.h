/*
 * dicom.h --
 *     DICOM image files: the element walk that builds the element table,
 *     the probe that fills an image header from it, and the frame seek and
 *     frame reading of open DICOM images.  The element table stays with
 *     the open image as its private data; the "dicom" command lists it.
 */
#ifndef VESK_RASTER_DICOM_H
#define VESK_RASTER_DICOM_H

#include <stdint.h>
#include <tcl.h>

#include "raster/imghead.h"
#include "vesk/hash.h"

struct RAMIMG;

namespace vesk {

/* Value representation codes: index into the 27 names; 0 (RT) also
   stands for no VR or an unknown one. */
enum DicomVR {
  VR_RT, VR_AE, VR_AS, VR_AT, VR_CS, VR_DA, VR_DS, VR_DT, VR_FL, VR_FD, VR_IS, VR_LO, VR_LT,
  VR_OB, VR_OW, VR_PN, VR_SH, VR_SL, VR_SQ, VR_SS, VR_ST, VR_TM, VR_UI, VR_UL, VR_UN, VR_US,
  VR_UT, kDicomVRCount
};
const char *getDicomVRName(int code);
int getDicomVR(const char *name);

/* Table keys: group << 16 | element. */
inline int dicomKey(int group, int element) {
  return static_cast<int>((static_cast<uint32_t>(group) & 0xffff) << 16 |
                          (static_cast<uint32_t>(element) & 0xffff));
}
inline int dicomNodeGroup(const DicomElementNode *node) { return node->tag & 0xffff; }
inline int dicomNodeElement(const DicomElementNode *node) {
  return static_cast<int>(static_cast<uint32_t>(node->tag) >> 16);
}

/*
 * Element table.  A node's value bytes follow its head and end with a zero
 * byte.  The Pixel Data node (7FE0,0010) keeps the element's own length
 * (-1 when encapsulated) and holds, in place of the pixel bytes, the file
 * offset of the pixel data as an int64 (getDicomPixelOffset); for
 * encapsulated data the node of the Basic Offset Table item follows it.
 */
Tcl_HashTable *readDicomElements(int fd, int64_t *dataOffset);
Tcl_HashTable *readDicomElementsFromBuffer(const unsigned char *data, int64_t size,
                                           int64_t *dataOffset);
int storeDicomElement(Tcl_HashTable *table, int group, int element, DicomElementNode *node);
DicomElementNode *findDicomElement(Tcl_HashTable *table, int group, int element);
unsigned char *getDicomElementValue(DicomElementNode *node);
int64_t getDicomPixelOffset(DicomElementNode *pixelNode);

/* Probe, palette and frame time. */
int readDicomHeader(int fd, ImageHeader *header, void **privateData);
int parseDicomHeader(Tcl_HashTable *table, int64_t dataOffset, int64_t fileSize,
                     ImageHeader *header);
int readDicomPalette(unsigned char (*palette)[3], Tcl_HashTable *table);
double getDicomFrameTime(Tcl_HashTable *table);

/* Open DICOM images: frame seek, frame reading and clean-up. */
int seekDicomFrame(struct ::RAMIMG *image, int n);
void freeDicomData(struct ::RAMIMG *image);
unsigned char *readDicomFrame(struct ::RAMIMG *image, int *row, int *count);
void prepareDicomImage(struct ::RAMIMG *image);
void installDicomFormat();

}  // namespace vesk

#endif
