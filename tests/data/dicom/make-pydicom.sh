#!/bin/sh
# DICOM fixtures made with pydicom (Debian package python3-pydicom), with
# pydicom's own reading of them beside them.  The bytes are committed: the
# tests need no tool.
#   spacing.dcm  8-bit 3 x 4, PixelSpacing [0.5, 0.25] (row spacing, then
#                column spacing); spacing.txt: pydicom's PixelSpacing
#   planar.dcm   RGB 5 x 7, PlanarConfiguration 1 (colour by plane);
#                planar.txt: pydicom's pixel_array, band after band
# Run from anywhere: sh tests/data/dicom/make-pydicom.sh
set -eu
cd "$(dirname "$0")"
/usr/bin/python3 - <<'PY'
import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileDataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, SecondaryCaptureImageStorage

def write(name, rows, columns, samples, pixels, **extra):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = SecondaryCaptureImageStorage
    meta.MediaStorageSOPInstanceUID = '1.2.826.0.1.3680043.2.1125.14.' + str(rows * columns)
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = FileDataset(name, {}, file_meta=meta, preamble=b'\0' * 128)
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = 'OT'
    ds.Rows, ds.Columns, ds.SamplesPerPixel = rows, columns, samples
    ds.PhotometricInterpretation = 'RGB' if samples == 3 else 'MONOCHROME2'
    ds.BitsAllocated = ds.BitsStored = 8
    ds.HighBit = 7
    ds.PixelRepresentation = 0
    for key, value in extra.items():
        setattr(ds, key, value)
    ds.PixelData = pixels
    ds.save_as(name, write_like_original=False)
    return pydicom.dcmread(name)

back = write('spacing.dcm', 3, 4, 1, bytes(range(12)), PixelSpacing=[0.5, 0.25])
open('spacing.txt', 'w').write('PixelSpacing %s %s\n' % tuple(back.PixelSpacing))

rng = np.random.default_rng(14)
planes = rng.integers(0, 256, (3, 5, 7), dtype=np.uint8)
back = write('planar.dcm', 5, 7, 3, planes.tobytes(), PlanarConfiguration=1)
array = back.pixel_array  # rows x columns x samples
with open('planar.txt', 'w') as out:
    for b in range(3):
        out.write(' '.join(str(v) for v in array[:, :, b].ravel().tolist()) + '\n')
PY
