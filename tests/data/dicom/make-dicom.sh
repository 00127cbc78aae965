#!/bin/sh
# Makes the DICOM fixtures with dcmtk (dump2dcm, dcmcrle, img2dcm) from the
# dump texts below, and keeps dcmdump's listing of each beside it.  The
# bytes are committed: the tests need none of the tools.
# Run from anywhere: sh tests/data/dicom/make-dicom.sh
set -eu
cd "$(dirname "$0")"

# Signed 16-bit, 3 rows x 4 columns, a pixel spacing, and a sequence of two
# items ahead of the patient name.  Pixels, row by row:
#   -300 -1 0 1 / 2 100 1000 32767 / -32768 5 6 7
cat > mono16.txt <<'TXT'
(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,0018) UI [1.2.826.0.1.3680043.2.1125.1.1]
(0008,0060) CS [OT]
(0008,1140) SQ (Sequence with undefined length #=2)
(fffe,e000) na (Item with undefined length #=2)
(0008,1150) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,1155) UI [1.2.3.4]
(fffe,e00d) na (ItemDelimitationItem)
(fffe,e000) na (Item with undefined length #=2)
(0008,1150) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,1155) UI [1.2.3.5]
(fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(0010,0010) PN [Doe^John]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 3
(0028,0011) US 4
(0028,0030) DS [0.5\0.25]
(0028,0100) US 16
(0028,0101) US 16
(0028,0102) US 15
(0028,0103) US 1
(7fe0,0010) OW fed4\ffff\0000\0001\0002\0064\03e8\7fff\8000\0005\0006\0007
TXT
# Sequences and items with undefined lengths, and with explicit lengths.
dump2dcm +te -e mono16.txt mono16.dcm
dump2dcm +te +e mono16.txt mono16-lengths.dcm

# 8-bit, two frames of 2 rows x 3 columns, a frame time of 40 ms.
# Frame 1: 1 2 3 / 4 5 6; frame 2: 11 12 13 / 14 15 16.
cat > frames8.txt <<'TXT'
(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7.2]
(0008,0018) UI [1.2.826.0.1.3680043.2.1125.1.2]
(0008,0060) CS [OT]
(0018,1063) DS [40]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0008) IS [2]
(0028,0010) US 2
(0028,0011) US 3
(0028,0100) US 8
(0028,0101) US 8
(0028,0102) US 7
(0028,0103) US 0
(7fe0,0010) OB 01\02\03\04\05\06\0b\0c\0d\0e\0f\10
TXT
# A bare implicit-VR data set (no preamble, group 0008 first), and the same
# data set behind a meta header that names implicit VR.
dump2dcm -F +ti frames8.txt frames8-bare.dcm
dump2dcm +F +ti frames8.txt frames8-implicit.dcm

# PALETTE COLOR, 8-bit, two frames of 2 rows x 4 columns, a 16-bit palette
# of 4 entries, run-length encoded with a basic offset table.
# Frame 1: 0 1 2 3 / 3 3 3 3; frame 2: 2 2 2 2 / 1 0 1 0.
# Palette (high bytes): (0,0,0) (255,0,0) (0,128,0) (16,32,48).
cat > palette.txt <<'TXT'
(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7.2]
(0008,0018) UI [1.2.826.0.1.3680043.2.1125.1.3]
(0008,0060) CS [OT]
(0028,0002) US 1
(0028,0004) CS [PALETTE COLOR]
(0028,0008) IS [2]
(0028,0010) US 2
(0028,0011) US 4
(0028,0100) US 8
(0028,0101) US 8
(0028,0102) US 7
(0028,0103) US 0
(0028,1101) US 4\0\16
(0028,1102) US 4\0\16
(0028,1103) US 4\0\16
(0028,1201) OW 0000\ffff\0000\1000
(0028,1202) OW 0000\0000\8000\2000
(0028,1203) OW 0000\0000\0000\3000
(7fe0,0010) OB 00\01\02\03\03\03\03\03\02\02\02\02\01\00\01\00
TXT
dump2dcm +te palette.txt palette-raw.dcm
dcmcrle +ot palette-raw.dcm palette-rle.dcm
rm palette-raw.dcm

# RGB from a 5 x 3 colour BMP (the pixels of ../formats/colour.ppm).
img2dcm -i BMP ../formats/colour24.bmp rgb.dcm

for f in *.dcm; do dcmdump "$f" > "${f%.dcm}.dump"; done
