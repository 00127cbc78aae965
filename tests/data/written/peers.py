#!/usr/bin/python3
"""Reads every file of the written-file table with GDAL and with the
format's own reference tool, checks that they agree with each other and
with what the library reads back (ours.txt), and prints their answers as
a Tcl script (peers.tcl) for tests/raster/written.test.

usage: /usr/bin/python3 peers.py FOLDER > peers.tcl
Needs python3-gdal, libtiff-tools, netpbm and libjpeg-turbo-progs.
"""
import subprocess
import sys
from pathlib import Path

from osgeo import gdal, osr

folder = Path(sys.argv[1])
failures = []


def fail(name, text):
    failures.append(f"{name}: {text}")


def number(v):
    """A value as Tcl and this library print it: integers bare, floats short."""
    f = float(v)
    if f == int(f) and abs(f) < 1e15:
        return str(int(f))
    return repr(f)


def run(args):
    p = subprocess.run(args, capture_output=True)
    return p.returncode, p.stdout, p.stderr.decode(errors="replace").strip()


def parse_pnm(data):
    """Width, height, maxval, samples per pixel and the samples of a raw PNM."""
    magic = data[:2]
    fields, pos = [], 2
    wanted = 2 if magic == b"P4" else 3
    while len(fields) < wanted:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(int(data[start:pos]))
    pos += 1
    w, h = fields[0], fields[1]
    if magic == b"P4":
        row = (w + 7) // 8
        bits = []
        for y in range(h):
            for x in range(w):
                byte = data[pos + y * row + x // 8]
                bits.append((byte >> (7 - x % 8)) & 1)  # 1 is black, as a set XBM bit
        return w, h, 1, 1, bits
    maxval = fields[2]
    spp = 3 if magic == b"P6" else 1
    size = 2 if maxval > 255 else 1
    n = w * h * spp
    if size == 1:
        samples = list(data[pos:pos + n])
    else:
        samples = [data[pos + 2 * i] << 8 | data[pos + 2 * i + 1] for i in range(n)]
    return w, h, maxval, spp, samples


ours = {}
for line in (folder / "ours.txt").read_text().splitlines():
    words = line.split()
    ours.setdefault(words[0], []).append([float(v) for v in words[2:]])

gdal.UseExceptions()
out = ["# Made by peers.py from the files of make-written.sh: what GDAL and each",
       "# format's reference tool read from the library's written files.",
       f"# GDAL {gdal.__version__}."]
messages = []
gdal.PushErrorHandler(lambda cls, no, msg: messages.append(msg))

# IMAGEDEF files: a 1152-byte header, then raw host-order (little-endian)
# samples; GDAL reads them through a raw VRT that states that layout.
imagedef = {"BSQ": "bsq", "BIL": "bil", "BIP": "bip"}
gdal_types = {1: "Byte", 2: "Int16", 4: "Float32"}

for path in sorted(folder.iterdir()):
    name = path.name
    if name in ("ours.txt",) or name.endswith(".vrt"):
        continue
    entry = {}
    messages.clear()
    source = str(path)
    if path.suffix == ".img":
        layout = name.split("-")[1].split(".")[0]
        band_count = len(ours[name])
        kind = {"bsq": ("Int16", 2), "bil": ("Byte", 1), "bip": ("Float32", 4)}[layout]
        dtype, size = kind
        cols, rows = 7, 5
        vrt = ['<VRTDataset rasterXSize="7" rasterYSize="5">']
        for b in range(band_count):
            if layout == "bsq":
                off, pix, line = 1152 + b * rows * cols * size, size, cols * size
            elif layout == "bil":
                off, pix, line = 1152 + b * cols * size, size, band_count * cols * size
            else:
                off, pix, line = 1152 + b * size, band_count * size, band_count * cols * size
            vrt.append(f'<VRTRasterBand dataType="{dtype}" band="{b + 1}" subClass="VRTRawRasterBand">'
                       f'<SourceFilename relativeToVRT="1">{name}</SourceFilename>'
                       f'<ImageOffset>{off}</ImageOffset><PixelOffset>{pix}</PixelOffset>'
                       f'<LineOffset>{line}</LineOffset><ByteOrder>LSB</ByteOrder></VRTRasterBand>')
        vrt.append("</VRTDataset>")
        source = str(folder / (name + ".vrt"))
        Path(source).write_text("".join(vrt))
        entry["gdalDriver"] = "VRT raw (1152-byte header)"
    try:
        ds = gdal.Open(source)
    except RuntimeError as e:
        ds = None
        entry["gdalRefuses"] = str(e)
    if ds is not None:
        if "gdalDriver" not in entry:
            entry["gdalDriver"] = ds.GetDriver().ShortName
        bands = []
        for b in range(1, ds.RasterCount + 1):
            band = ds.GetRasterBand(b)
            values = band.ReadAsArray().flatten().tolist()
            if band.DataType == gdal.GDT_Byte and \
                    band.GetMetadataItem("PIXELTYPE", "IMAGE_STRUCTURE") == "SIGNEDBYTE":
                values = [v - 256 if v > 127 else v for v in values]
            bands.append(values)
        entry["gdalType"] = gdal.GetDataTypeName(ds.GetRasterBand(1).DataType)
        table = ds.GetRasterBand(1).GetColorTable()
        entry["gdalColours"] = table.GetCount() if table else 0
        entry["gdalBands"] = [[number(v) for v in band] for band in bands]
        srs = ds.GetSpatialRef()
        if srs is not None:
            srs.AutoIdentifyEPSG()
            entry["gdalEPSG"] = srs.GetAuthorityCode(None) or ""
            entry["gdalGeoTransform"] = [number(v) for v in ds.GetGeoTransform()]
        # The library's own reading must equal GDAL's (JPEG too: both decode
        # with libjpeg's default method).
        mine = ours.get(name)
        if path.suffix == ".bmp" and mine and len(mine) == 3:
            mine = mine[::-1]  # the library keeps a DIB's bands blue first
        if mine != [[float(v) for v in band] for band in bands]:
            fail(name, f"GDAL reads {bands}, the library {mine}")
        rgb = []
        if table:
            for v in bands[0]:
                rgb.extend(table.GetColorEntry(int(v))[:3])
        elif len(bands) == 3:
            for k in range(len(bands[0])):
                rgb.extend(bands[c][k] for c in range(3))
        else:
            rgb = bands[0]
    entry["gdalMessages"] = list(messages)
    if messages and not (ds is None and path.suffix == ".xbm"):  # GDAL has no XBM driver
        fail(name, f"GDAL says {messages}")

    # The format's own reference tool.
    suffix = path.suffix
    if suffix == ".tif":
        code, _, err = run(["tiffinfo", str(path)])
        entry["tool"] = "tiffinfo"
        # tiffinfo knows no GeoTIFF tags: it warns of them in every GeoTIFF.
        geo = ("33550", "33922", "34735", "34736", "34737")
        err = "\n".join(l for l in err.splitlines()
                        if not ("Unknown field with tag" in l and any(t in l for t in geo)))
        entry["toolMessages"] = err
        if code != 0 or err:
            fail(name, f"tiffinfo: {err}")
    elif suffix in (".gif", ".jpg", ".bmp", ".pgm", ".ppm", ".xbm"):
        tool = {".gif": ["giftopnm"], ".jpg": ["djpeg", "-pnm"], ".bmp": ["bmptopnm"],
                ".pgm": ["pnmtopnm"], ".ppm": ["pnmtopnm"], ".xbm": ["xbmtopbm"]}[suffix]
        code, data, err = run(tool + [str(path)])
        entry["tool"] = tool[0]
        # bmptopnm notes the gap that holds the georeference string between
        # the palette and the pixels (the pixel offset says where they are).
        entry["toolMessages"] = "\n".join(
            l for l in err.splitlines() if not l.startswith("bmptopnm: Windows"))
        if code != 0:
            fail(name, f"{tool[0]}: {err}")
        else:
            w, h, maxval, spp, samples = parse_pnm(data)
            entry["toolPixels"] = [number(v) for v in samples]
            if suffix == ".xbm":
                if [samples] != ours[name]:
                    fail(name, f"{tool[0]} reads {samples}, the library {ours[name]}")
            if spp == 1 and len(rgb) == 3 * len(samples) and rgb[0::3] == rgb[1::3] == rgb[2::3]:
                rgb = rgb[0::3]  # netpbm writes a grey image as PGM
            if suffix == ".xbm":
                pass
            elif ds is not None and samples != rgb:
                fail(name, f"{tool[0]} reads {samples}, GDAL {rgb}")
            if entry["toolMessages"] and not (suffix == ".bmp" and "offbits" in err):
                fail(name, f"{tool[0]}: {err}")
    out.append(f"set writtenPeers({name}) {{")
    for key, value in entry.items():
        if isinstance(value, list):
            if value and isinstance(value[0], list):
                text = " ".join("{" + " ".join(v) + "}" for v in value)
            else:
                text = " ".join(str(v) for v in value)
            out.append(f"    {key} {{{text}}}")
        else:
            text = str(value).replace("\\", "\\\\").replace("{", "(").replace("}", ")")
            out.append(f"    {key} {{{text}}}")
    out.append("}")

print("\n".join(out))
if failures:
    sys.stderr.write("\n".join(failures) + "\n")
    sys.exit(1)
