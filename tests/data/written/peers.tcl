# Made by peers.py from the files of make-written.sh: what GDAL and each
# format's reference tool read from the library's written files.
# GDAL 3.6.2.
set writtenPeers(dib-1bit.bmp) {
    gdalDriver {BMP}
    gdalType {Byte}
    gdalColours {2}
    gdalBands {{0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0}}
    gdalMessages {}
    tool {bmptopnm}
    toolMessages {bmptopnm: warning: the BMP header says the raster starts at offset 97 bytes into the file (offbits), but that there are 62 bytes of information before the raster.  This inconsistency probably means the input file is not a legal BMP file and is unusable.
bmptopnm: WRITING PPM IMAGE}
    toolPixels {0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255 255 61 0 0 64 255}
}
set writtenPeers(dib-4bits.bmp) {
    gdalDriver {BMP}
    gdalType {Byte}
    gdalColours {16}
    gdalBands {{0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 0 1 2}}
    gdalMessages {}
    tool {bmptopnm}
    toolMessages {bmptopnm: warning: the BMP header says the raster starts at offset 153 bytes into the file (offbits), but that there are 118 bytes of information before the raster.  This inconsistency probably means the input file is not a legal BMP file and is unusable.
bmptopnm: WRITING PPM IMAGE}
    toolPixels {0 64 255 17 115 238 34 166 221 51 217 204 68 12 187 85 63 170 102 114 153 119 165 136 136 216 119 153 11 102 170 62 85 187 113 68 204 164 51 221 215 34 238 10 17 255 61 0 0 64 255 17 115 238 34 166 221 51 217 204 68 12 187 85 63 170 102 114 153 119 165 136 136 216 119 153 11 102 170 62 85 187 113 68 204 164 51 221 215 34 238 10 17 255 61 0 0 64 255 17 115 238 34 166 221}
}
set writtenPeers(dib-palette8.bmp) {
    gdalDriver {BMP}
    gdalType {Byte}
    gdalColours {256}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}}
    gdalMessages {}
    tool {bmptopnm}
    toolMessages {bmptopnm: warning: the BMP header says the raster starts at offset 1113 bytes into the file (offbits), but that there are 1078 bytes of information before the raster.  This inconsistency probably means the input file is not a legal BMP file and is unusable.
bmptopnm: WRITING PPM IMAGE}
    toolPixels {0 64 255 37 175 218 74 30 181 111 141 144 148 252 107 185 107 70 222 218 33 3 73 252 40 184 215 77 39 178 114 150 141 151 5 104 188 116 67 225 227 30 6 82 249 43 193 212 80 48 175 117 159 138 154 14 101 191 125 64 228 236 27 9 91 246 46 202 209 83 57 172 120 168 135 157 23 98 194 134 61 231 245 24 12 100 243 49 211 206 86 66 169 123 177 132 160 32 95 197 143 58 234 254 21}
}
set writtenPeers(dib-rgb24.bmp) {
    gdalDriver {BMP}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{30 67 104 141 178 215 252 33 70 107 144 181 218 255 36 73 110 147 184 221 2 39 76 113 150 187 224 5 42 79 116 153 190 227 8} {15 52 89 126 163 200 237 18 55 92 129 166 203 240 21 58 95 132 169 206 243 24 61 98 135 172 209 246 27 64 101 138 175 212 249} {0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}}
    gdalMessages {}
    tool {bmptopnm}
    toolMessages {bmptopnm: warning: the BMP header says the raster starts at offset 89 bytes into the file (offbits), but that there are 54 bytes of information before the raster.  This inconsistency probably means the input file is not a legal BMP file and is unusable.
bmptopnm: WRITING PPM IMAGE}
    toolPixels {30 15 0 67 52 37 104 89 74 141 126 111 178 163 148 215 200 185 252 237 222 33 18 3 70 55 40 107 92 77 144 129 114 181 166 151 218 203 188 255 240 225 36 21 6 73 58 43 110 95 80 147 132 117 184 169 154 221 206 191 2 243 228 39 24 9 76 61 46 113 98 83 150 135 120 187 172 157 224 209 194 5 246 231 42 27 12 79 64 49 116 101 86 153 138 123 190 175 160 227 212 197 8 249 234}
}
set writtenPeers(erdas-4bits.lan) {
    gdalDriver {LAN}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{0 1 2 3 4 5 6 7 7 8 9 10 11 12 13 14 14 15 0 1 2 3 4 5 5 6 7 8 9 10 11 12 12 13 14 15 0 1 2 3}}
    gdalEPSG {4326}
    gdalGeoTransform {-0.5 1 0 0.5 0 -1}
    gdalMessages {}
}
set writtenPeers(erdas-bil3.lan) {
    gdalDriver {LAN}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234} {15 52 89 126 163 200 237 18 55 92 129 166 203 240 21 58 95 132 169 206 243 24 61 98 135 172 209 246 27 64 101 138 175 212 249} {30 67 104 141 178 215 252 33 70 107 144 181 218 255 36 73 110 147 184 221 2 39 76 113 150 187 224 5 42 79 116 153 190 227 8}}
    gdalEPSG {4326}
    gdalGeoTransform {-0.5 1 0 0.5 0 -1}
    gdalMessages {}
}
set writtenPeers(erdas-byte.lan) {
    gdalDriver {LAN}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}}
    gdalEPSG {4326}
    gdalGeoTransform {-0.5 1 0 0.5 0 -1}
    gdalMessages {}
}
set writtenPeers(erdas-e73.lan) {
    gdalDriver {LAN}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234} {15 52 89 126 163 200 237 18 55 92 129 166 203 240 21 58 95 132 169 206 243 24 61 98 135 172 209 246 27 64 101 138 175 212 249}}
    gdalEPSG {4326}
    gdalGeoTransform {-0.5 1 0 0.5 0 -1}
    gdalMessages {}
}
set writtenPeers(erdas-ushort.lan) {
    gdalDriver {LAN}
    gdalType {Int16}
    gdalColours {0}
    gdalBands {{0 1873 3746 5619 7492 9365 11238 13111 14984 16857 18730 20603 22476 24349 26222 28095 29968 31841 946 2819 4692 6565 8438 10311 12184 14057 15930 17803 19676 21549 23422 25295 27168 29041 30914}}
    gdalEPSG {4326}
    gdalGeoTransform {-0.5 1 0 0.5 0 -1}
    gdalMessages {}
}
set writtenPeers(geotiff-float.tif) {
    gdalDriver {GTiff}
    gdalType {Float32}
    gdalColours {0}
    gdalBands {{-10.25 -8.75 -7.25 -5.75 -4.25 -2.75 -1.25 0.25 1.75 3.25 4.75 6.25 7.75 9.25 10.75 12.25 13.75 15.25 16.75 18.25 19.75 21.25 22.75 24.25 25.75 27.25 28.75 30.25 31.75 33.25 34.75 36.25 37.75 39.25 40.75}}
    gdalEPSG {32633}
    gdalGeoTransform {500000 30 0 4650000 0 -30}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(geotiff-utm33.tif) {
    gdalDriver {GTiff}
    gdalType {Byte}
    gdalColours {256}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}}
    gdalEPSG {32633}
    gdalGeoTransform {500000 30 0 4650000 0 -30}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(gif87-grey.gif) {
    gdalDriver {GIF}
    gdalType {Byte}
    gdalColours {256}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}}
    gdalMessages {}
    tool {giftopnm}
    toolMessages {}
    toolPixels {0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}
}
set writtenPeers(gif89-grey.gif) {
    gdalDriver {GIF}
    gdalType {Byte}
    gdalColours {256}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}}
    gdalMessages {}
    tool {giftopnm}
    toolMessages {}
    toolPixels {0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}
}
set writtenPeers(gif89-palette.gif) {
    gdalDriver {GIF}
    gdalType {Byte}
    gdalColours {16}
    gdalBands {{0 5 10 15 4 9 14 3 8 13 2 7 12 1 6 11 0 5 10 15 4 9 14 3 8 13 2 7 12 1 6 11 0 5 10}}
    gdalMessages {}
    tool {giftopnm}
    toolMessages {}
    toolPixels {0 64 255 85 63 170 170 62 85 255 61 0 68 12 187 153 11 102 238 10 17 51 217 204 136 216 119 221 215 34 34 166 221 119 165 136 204 164 51 17 115 238 102 114 153 187 113 68 0 64 255 85 63 170 170 62 85 255 61 0 68 12 187 153 11 102 238 10 17 51 217 204 136 216 119 221 215 34 34 166 221 119 165 136 204 164 51 17 115 238 102 114 153 187 113 68 0 64 255 85 63 170 170 62 85}
}
set writtenPeers(imagedef-bil.img) {
    gdalDriver {VRT raw (1152-byte header)}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234} {15 52 89 126 163 200 237 18 55 92 129 166 203 240 21 58 95 132 169 206 243 24 61 98 135 172 209 246 27 64 101 138 175 212 249} {30 67 104 141 178 215 252 33 70 107 144 181 218 255 36 73 110 147 184 221 2 39 76 113 150 187 224 5 42 79 116 153 190 227 8}}
    gdalMessages {}
}
set writtenPeers(imagedef-bip.img) {
    gdalDriver {VRT raw (1152-byte header)}
    gdalType {Float32}
    gdalColours {0}
    gdalBands {{-10.25 -8.75 -7.25 -5.75 -4.25 -2.75 -1.25 0.25 1.75 3.25 4.75 6.25 7.75 9.25 10.75 12.25 13.75 15.25 16.75 18.25 19.75 21.25 22.75 24.25 25.75 27.25 28.75 30.25 31.75 33.25 34.75 36.25 37.75 39.25 40.75} {42.25 43.75 45.25 46.75 48.25 49.75 51.25 52.75 54.25 55.75 57.25 58.75 60.25 61.75 63.25 64.75 66.25 67.75 69.25 70.75 72.25 73.75 75.25 76.75 78.25 79.75 81.25 82.75 84.25 85.75 87.25 88.75 90.25 91.75 93.25}}
    gdalMessages {}
}
set writtenPeers(imagedef-bsq.img) {
    gdalDriver {VRT raw (1152-byte header)}
    gdalType {Int16}
    gdalColours {0}
    gdalBands {{-32768 -30895 -29022 -27149 -25276 -23403 -21530 -19657 -17784 -15911 -14038 -12165 -10292 -8419 -6546 -4673 -2800 -927 946 2819 4692 6565 8438 10311 12184 14057 15930 17803 19676 21549 23422 25295 27168 29041 30914} {-32749 -30876 -29003 -27130 -25257 -23384 -21511 -19638 -17765 -15892 -14019 -12146 -10273 -8400 -6527 -4654 -2781 -908 965 2838 4711 6584 8457 10330 12203 14076 15949 17822 19695 21568 23441 25314 27187 29060 30933}}
    gdalMessages {}
}
set writtenPeers(jpeg-grey.jpg) {
    gdalDriver {JPEG}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{1 38 74 113 148 186 222 3 40 76 115 150 188 224 6 43 79 118 153 192 227 9 46 82 121 157 195 231 11 49 84 123 159 197 233}}
    gdalMessages {}
    tool {djpeg}
    toolMessages {}
    toolPixels {1 38 74 113 148 186 222 3 40 76 115 150 188 224 6 43 79 118 153 192 227 9 46 82 121 157 195 231 11 49 84 123 159 197 233}
}
set writtenPeers(jpeg-rgb.jpg) {
    gdalDriver {JPEG}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{0 33 63 100 134 180 219 0 38 69 110 145 191 228 11 51 83 120 152 192 218 17 55 89 128 162 203 224 15 51 89 128 165 210 230} {21 61 87 128 167 208 232 17 58 89 132 173 215 240 18 57 89 130 167 208 232 19 57 93 132 170 214 238 24 60 97 136 172 218 244} {14 64 111 152 172 209 240 18 67 114 156 177 199 200 36 79 121 155 172 159 97 42 82 122 157 181 156 55 41 77 116 157 200 179 61}}
    gdalMessages {}
    tool {djpeg}
    toolMessages {}
    toolPixels {0 21 14 33 61 64 63 87 111 100 128 152 134 167 172 180 208 209 219 232 240 0 17 18 38 58 67 69 89 114 110 132 156 145 173 177 191 215 199 228 240 200 11 18 36 51 57 79 83 89 121 120 130 155 152 167 172 192 208 159 218 232 97 17 19 42 55 57 82 89 93 122 128 132 157 162 170 181 203 214 156 224 238 55 15 24 41 51 60 77 89 97 116 128 136 157 165 172 200 210 218 179 230 244 61}
}
set writtenPeers(ppm-grey.pgm) {
    gdalDriver {PNM}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}}
    gdalMessages {}
    tool {pnmtopnm}
    toolMessages {}
    toolPixels {0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}
}
set writtenPeers(ppm-rgb.ppm) {
    gdalDriver {PNM}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234} {15 52 89 126 163 200 237 18 55 92 129 166 203 240 21 58 95 132 169 206 243 24 61 98 135 172 209 246 27 64 101 138 175 212 249} {30 67 104 141 178 215 252 33 70 107 144 181 218 255 36 73 110 147 184 221 2 39 76 113 150 187 224 5 42 79 116 153 190 227 8}}
    gdalMessages {}
    tool {pnmtopnm}
    toolMessages {}
    toolPixels {0 15 30 37 52 67 74 89 104 111 126 141 148 163 178 185 200 215 222 237 252 3 18 33 40 55 70 77 92 107 114 129 144 151 166 181 188 203 218 225 240 255 6 21 36 43 58 73 80 95 110 117 132 147 154 169 184 191 206 221 228 243 2 9 24 39 46 61 76 83 98 113 120 135 150 157 172 187 194 209 224 231 246 5 12 27 42 49 64 79 86 101 116 123 138 153 160 175 190 197 212 227 234 249 8}
}
set writtenPeers(roundtrip-utm33.tif) {
    gdalDriver {GTiff}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{10 20 30 40 50 60}}
    gdalEPSG {32633}
    gdalGeoTransform {500000 30 0 4650000 0 -30}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-1bit.tif) {
    gdalDriver {GTiff}
    gdalType {Byte}
    gdalColours {2}
    gdalBands {{0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-4bits.tif) {
    gdalDriver {GTiff}
    gdalType {Byte}
    gdalColours {16}
    gdalBands {{0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 0 1 2}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-float.tif) {
    gdalDriver {GTiff}
    gdalType {Float32}
    gdalColours {0}
    gdalBands {{-10.25 -8.75 -7.25 -5.75 -4.25 -2.75 -1.25 0.25 1.75 3.25 4.75 6.25 7.75 9.25 10.75 12.25 13.75 15.25 16.75 18.25 19.75 21.25 22.75 24.25 25.75 27.25 28.75 30.25 31.75 33.25 34.75 36.25 37.75 39.25 40.75} {42.25 43.75 45.25 46.75 48.25 49.75 51.25 52.75 54.25 55.75 57.25 58.75 60.25 61.75 63.25 64.75 66.25 67.75 69.25 70.75 72.25 73.75 75.25 76.75 78.25 79.75 81.25 82.75 84.25 85.75 87.25 88.75 90.25 91.75 93.25}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-long.tif) {
    gdalDriver {GTiff}
    gdalType {Int32}
    gdalColours {0}
    gdalBands {{-999999 -971998 -943997 -915996 -887995 -859994 -831993 -803992 -775991 -747990 -719989 -691988 -663987 -635986 -607985 -579984 -551983 -523982 -495981 -467980 -439979 -411978 -383977 -355976 -327975 -299974 -271973 -243972 -215971 -187970 -159969 -131968 -103967 -75966 -47965}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-palette8.tif) {
    gdalDriver {GTiff}
    gdalType {Byte}
    gdalColours {256}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-ramp8.tif) {
    gdalDriver {GTiff}
    gdalType {Byte}
    gdalColours {256}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-rgb8.tif) {
    gdalDriver {GTiff}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{0 37 74 111 148 185 222 3 40 77 114 151 188 225 6 43 80 117 154 191 228 9 46 83 120 157 194 231 12 49 86 123 160 197 234} {15 52 89 126 163 200 237 18 55 92 129 166 203 240 21 58 95 132 169 206 243 24 61 98 135 172 209 246 27 64 101 138 175 212 249} {30 67 104 141 178 215 252 33 70 107 144 181 218 255 36 73 110 147 184 221 2 39 76 113 150 187 224 5 42 79 116 153 190 227 8}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-sbyte.tif) {
    gdalDriver {GTiff}
    gdalType {Byte}
    gdalColours {0}
    gdalBands {{-128 -91 -54 -17 20 57 94 -125 -88 -51 -14 23 60 97 -122 -85 -48 -11 26 63 100 -119 -82 -45 -8 29 66 103 -116 -79 -42 -5 32 69 106}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-short.tif) {
    gdalDriver {GTiff}
    gdalType {Int16}
    gdalColours {0}
    gdalBands {{-32768 -30895 -29022 -27149 -25276 -23403 -21530 -19657 -17784 -15911 -14038 -12165 -10292 -8419 -6546 -4673 -2800 -927 946 2819 4692 6565 8438 10311 12184 14057 15930 17803 19676 21549 23422 25295 27168 29041 30914}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-ulong.tif) {
    gdalDriver {GTiff}
    gdalType {UInt32}
    gdalColours {0}
    gdalBands {{70000 83001 96002 109003 122004 135005 148006 161007 174008 187009 200010 213011 226012 239013 252014 265015 278016 291017 304018 317019 330020 343021 356022 369023 382024 395025 408026 421027 434028 447029 460030 473031 486032 499033 512034}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(tiff-ushort.tif) {
    gdalDriver {GTiff}
    gdalType {UInt16}
    gdalColours {0}
    gdalBands {{0 1873 3746 5619 7492 9365 11238 13111 14984 16857 18730 20603 22476 24349 26222 28095 29968 31841 33714 35587 37460 39333 41206 43079 44952 46825 48698 50571 52444 54317 56190 58063 59936 61809 63682}}
    gdalMessages {}
    tool {tiffinfo}
    toolMessages {}
}
set writtenPeers(xbm-1bit.xbm) {
    gdalRefuses {`/tmp/tmp.g4YSgeeOpT/xbm-1bit.xbm' not recognized as a supported file format.}
    gdalMessages {`/tmp/tmp.g4YSgeeOpT/xbm-1bit.xbm' not recognized as a supported file format.}
    tool {xbmtopbm}
    toolMessages {}
    toolPixels {0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0}
}
