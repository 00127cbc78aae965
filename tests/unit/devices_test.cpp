// Scanning, printing and metafiles against outside oracles: scanimage's
// PNM of the same SANE test configuration, Ghostscript's rendering of the
// printed PDF and libemf2svg's reading of a metafile, each compared with
// what Tk drew on the screen.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if __has_include(<emf2svg.h>)
#include <emf2svg.h>
#define HAVE_EMF2SVG 1
#endif

#include "canvas/gcanvas.h"
#include "devices/devices.h"
#include "display/capture.h"
#include "raster/ramimg.h"
#include "tests/unit/display_harness.h"
#include "tests/unit/harness.h"

using namespace vesk;

namespace {

bool haveTool(const char *name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

std::string tempFolder() {
  char name[] = "/tmp/vesk-devices-XXXXXX";
  return mkdtemp(name) ? name : "";
}

void writeText(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readBytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// A binary PNM (P5, P6): its size, channels and samples; false when it is not one.
struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::string data;
};
bool readPnm(const std::string &bytes, Pnm &out) {
  size_t at = 0;
  std::vector<long> fields;
  std::string magic = bytes.substr(0, 2);
  if (magic != "P5" && magic != "P6") return false;
  at = 2;
  while (fields.size() < 3 && at < bytes.size()) {
    char c = bytes[at];
    if (c == '#') {
      while (at < bytes.size() && bytes[at] != '\n') at++;
    } else if (isdigit(static_cast<unsigned char>(c))) {
      long v = 0;
      while (at < bytes.size() && isdigit(static_cast<unsigned char>(bytes[at])))
        v = v * 10 + (bytes[at++] - '0');
      fields.push_back(v);
      continue;
    }
    at++;
  }
  if (fields.size() < 3) return false;
  at++;  // past the single blank after the maximum
  out.width = static_cast<int>(fields[0]);
  out.height = static_cast<int>(fields[1]);
  out.channels = magic == "P6" ? 3 : 1;
  out.data = bytes.substr(at);
  return out.data.size() >= static_cast<size_t>(out.width) * out.height * out.channels;
}

// Pixels (0xrrggbb) of a rectangle of a window as Tk drew it.
bool windowPixels(const char *path, int x, int y, int w, int h, RgbImage &out) {
  Tk_Window tkwin = Tk_NameToWindow(testInterp(), path, testMainWindow());
  return tkwin && captureDrawableRgb(Tk_Display(tkwin), Tk_WindowId(tkwin), Tk_Colormap(tkwin), x,
                                     y, w, h, out);
}

// The canvas the printing and metafile tests record: Tk's canvas, white,
// with three coloured figures; it lies wholly on the screen.
const char *kCanvasScript =
    "catch {destroy .dv}; toplevel .dv; wm geometry .dv +0+0; "
    "canvas .dv.c -width 240 -height 160 -bd 0 -highlightthickness 0 -bg white; pack .dv.c; "
    ".dv.c create rectangle 10 10 90 70 -fill red -outline {}; "
    ".dv.c create oval 100 20 200 120 -fill {#2060c0} -outline black -width 3; "
    ".dv.c create line 0 150 240 100 -fill {#20a040} -width 5; "
    "update; raise .dv; update";

bool devicesReady() {
  static int state = -1;
  if (state < 0)
    state = testMainWindow() && Printer_Init(testInterp()) == TCL_OK &&
                    Twimg_Init(testInterp()) == TCL_OK
                ? 1
                : 0;
  return state == 1;
}

/*
 * SANE's test backend frees neither some option strings nor its reader's
 * buffer when libsane unloads it at sane_exit.  Kept mapped, its frames
 * carry its name, which tests/lsan.supp names, rather than an unknown
 * module's address.
 */
void keepSaneTestBackend() {
  static void *backend = nullptr;
  char origin[4096] = "";
  void *sane = dlopen("libsane.so.1", RTLD_NOW);
  if (backend || !sane || dlinfo(sane, RTLD_DI_ORIGIN, origin) != 0) return;
  backend = dlopen((std::string(origin) + "/sane/libsane-test.so.1").c_str(), RTLD_NOW | RTLD_NODELETE);
}

}  // namespace

// ---- twimg ----

TEST(Twimg, CapturesEqualScanimageByteForByte) {
  if (!devicesReady()) GTEST_SKIP() << "no display";
  if (!haveTool("scanimage")) GTEST_SKIP() << "scanimage (sane-utils) is not installed";
  keepSaneTestBackend();
  std::string dir = tempFolder();
  ASSERT_FALSE(dir.empty());
  writeText(dir + "/dll.conf", "test\n");
  setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
  setenv("VESK_SANE_DEVICE", "test:0", 1);
  struct Case {
    const char *mode, *picture;
    int depth;
    bool threePass;
  } cases[] = {{"Color", "\"Color pattern\"", 8, false},
               {"Color", "\"Color pattern\"", 8, true},
               {"Gray", "\"Grid\"", 8, false},
               {"Gray", "\"Color pattern\"", 16, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.depth) + (c.threePass ? " 3-pass" : ""));
    writeText(dir + "/test.conf",
              std::string("number_of_devices 2\nmode ") + c.mode + "\ndepth " +
                  std::to_string(c.depth) + "\nthree-pass " + (c.threePass ? "true" : "false") +
                  "\nresolution 50.0\ntest-picture " + c.picture +
                  "\ntl_x 0.0\ntl_y 0.0\nbr_x 40.0\nbr_y 30.0\n");
    std::string pnmPath = dir + "/scan.pnm";
    ASSERT_EQ(0, system(("scanimage -d test:0 --format=pnm > " + pnmPath).c_str()));
    Pnm pnm;
    ASSERT_TRUE(readPnm(readBytes(pnmPath), pnm));
    std::string r = evalScript(
        "set ::cap {}; twimg interactive 0; twimg doaftercapture {set ::cap done}; "
        "twimg enable; set ::info [twimg info]; "
        "set t [after 20000 {set ::cap timeout}]; vwait ::cap; after cancel $t; "
        "list $::cap $::info");
    const int bits = pnm.channels * c.depth;
    EXPECT_EQ("done {" + std::to_string(pnm.width) + " " + std::to_string(pnm.height) + " " +
                  std::to_string(bits) + "}",
              r);
    RAMIMG *image = getRAMImageByName("twain.img");
    ASSERT_NE(nullptr, image);
    ASSERT_EQ(pnm.width, image->header.columns);
    ASSERT_EQ(pnm.height, image->header.rows);
    ASSERT_EQ(pnm.channels, image->header.nbands);
    const int sample = c.depth == 16 ? 2 : 1;
    int mismatches = 0;
    for (int y = 0; y < pnm.height; y++) {
      for (int band = 0; band < pnm.channels; band++) {
        const unsigned char *line = image->getLineProc(image, y, band, 0);
        ASSERT_NE(nullptr, line);
        // DIB order: blue first; PNM: red first, 16-bit samples big-endian.
        const int channel = pnm.channels == 3 ? 2 - band : 0;
        for (int x = 0; x < pnm.width; x++) {
          unsigned char want = static_cast<unsigned char>(
              pnm.data[(static_cast<size_t>(y) * pnm.width + x) * pnm.channels * sample +
                       channel * sample]);
          if (line[x] != want) mismatches++;
        }
      }
    }
    EXPECT_EQ(0, mismatches);
    evalScript("twimg doaftercapture {}; twimg close");
  }
  unsetenv("VESK_SANE_DEVICE");
  system(("rm -rf " + dir).c_str());
}

// ---- printing ----

TEST(Printer, GhostscriptPagesEqualTheScreenScaled) {
  if (!devicesReady()) GTEST_SKIP() << "no display";
  if (!haveTool("gs")) GTEST_SKIP() << "Ghostscript is not installed";
  evalScript(kCanvasScript);
  RgbImage screen;
  ASSERT_TRUE(windowPixels(".dv.c", 0, 0, 240, 160, screen));
  std::string dir = tempFolder();
  std::string pdf = dir + "/job.pdf";
  setenv("VESK_PRINT_FILE", pdf.c_str(), 1);
  // A4 at 300 dpi with 25.4 mm margins: the printable area starts at (300, 300)
  // and is 1881 x 2909 dots; at scale 12 a page holds 157 x 242 canvas units,
  // so the 240 x 160 canvas region prints as two pages side by side.
  int code = 0;
  std::string r = evalScript("printer interactive 0; printer canvas .dv.c 12 0 0 239 159 1", &code);
  ASSERT_EQ(TCL_OK, code) << r;
  EXPECT_EQ("1", r);
  std::string ppm = dir + "/page-%d.ppm";
  ASSERT_EQ(0, system(("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=ppmraw -r300 -o " + ppm + " " +
                       pdf + " >/dev/null 2>&1")
                          .c_str()));
  const int scale = 12, left = 300, top = 300, tw = 157;  // round(1881 / 12)
  for (int page = 1; page <= 3; page++) {
    char name[64];
    snprintf(name, sizeof name, "/page-%d.ppm", page);
    Pnm p;
    bool exists = readPnm(readBytes(dir + name), p);
    if (page == 3) {
      EXPECT_FALSE(exists) << "a third page";
      break;
    }
    ASSERT_TRUE(exists) << name;
    ASSERT_EQ(2480, p.width);
    const int px0 = page == 1 ? 0 : tw, px1 = page == 1 ? tw : 239;
    int compared = 0, mismatches = 0;
    for (int cy = 0; cy <= 159; cy += 3) {
      for (int cx = px0; cx <= px1; cx += 3) {
        const int gx = left + (cx - px0) * scale + scale / 2, gy = top + cy * scale + scale / 2;
        const unsigned char *g =
            reinterpret_cast<const unsigned char *>(&p.data[(static_cast<size_t>(gy) * p.width + gx) * 3]);
        const uint32_t want = screen.pixels[static_cast<size_t>(cy) * 240 + cx] & 0xffffff;
        const uint32_t got = (uint32_t(g[0]) << 16) | (uint32_t(g[1]) << 8) | g[2];
        compared++;
        if (got != want) mismatches++;
      }
    }
    EXPECT_GT(compared, 1000);
    EXPECT_EQ(0, mismatches) << "page " << page;
    // Outside the printed region the page stays white.
    const unsigned char *corner = reinterpret_cast<const unsigned char *>(&p.data[(10 * p.width + 10) * 3]);
    EXPECT_EQ(255, corner[0] & corner[1] & corner[2]);
  }
  unsetenv("VESK_PRINT_FILE");
  evalScript("destroy .dv");
  system(("rm -rf " + dir).c_str());
}

// ---- metafiles ----

#ifdef HAVE_EMF2SVG
namespace {

std::string decodeBase64(const std::string &in) {
  static const std::string chars =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned value = 0;
  int bits = 0;
  for (char c : in) {
    size_t k = chars.find(c);
    if (k == std::string::npos) continue;
    value = (value << 6) | static_cast<unsigned>(k);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((value >> bits) & 0xff));
    }
  }
  return out;
}

}  // namespace

TEST(Gmetafile, LibEmf2svgReadsOneImageEqualToTheScreen) {
  if (!devicesReady()) GTEST_SKIP() << "no display";
  void *lib = dlopen("libemf2svg.so.1", RTLD_NOW);
  if (!lib) GTEST_SKIP() << "libemf2svg is not installed";
  using Emf2svgProc = int (*)(char *, size_t, char **, size_t *, generatorOptions *);
  auto emf2svgProc = reinterpret_cast<Emf2svgProc>(dlsym(lib, "emf2svg"));
  ASSERT_NE(nullptr, emf2svgProc);
  evalScript(kCanvasScript);
  std::string dir = tempFolder();
  std::string emfPath = dir + "/region.emf";
  int code = 0;
  std::string r = evalScript(("gmetafile .dv.c " + emfPath + " 5 8 204 137").c_str(), &code);
  ASSERT_EQ(TCL_OK, code) << r;
  std::string emf = readBytes(emfPath);
  generatorOptions opt;
  memset(&opt, 0, sizeof opt);
  opt.svgDelimiter = true;
  char *svg = nullptr;
  size_t len = 0;
  ASSERT_TRUE(emf2svgProc(&emf[0], emf.size(), &svg, &len, &opt));
  std::string text(svg, len);
  free(svg);
  size_t first = text.find("<image");
  ASSERT_NE(std::string::npos, first);
  EXPECT_EQ(std::string::npos, text.find("<image", first + 1)) << "one image";
  size_t data = text.find("base64,", first);
  ASSERT_NE(std::string::npos, data);
  data += 7;
  std::string png = decodeBase64(text.substr(data, text.find('"', data) - data));
  RgbImage picture, screen;
  ASSERT_TRUE(decodePng(reinterpret_cast<const unsigned char *>(png.data()), png.size(), picture));
  ASSERT_EQ(200, picture.width);
  ASSERT_EQ(130, picture.height);
  ASSERT_TRUE(windowPixels(".dv.c", 5, 8, 200, 130, screen));
  int mismatches = 0;
  for (size_t i = 0; i < screen.pixels.size(); i++)
    if ((picture.pixels[i] & 0xffffff) != (screen.pixels[i] & 0xffffff)) mismatches++;
  EXPECT_EQ(0, mismatches);
  // The header: the frame in 0.01 mm from the screen's millimetres and pixels.
  Tk_Window tkwin = Tk_NameToWindow(testInterp(), ".dv.c", testMainWindow());
  MetafileFrame frame = screenMetafileFrame(tkwin, 200, 130);
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(emf[at])) | uint32_t(uint8_t(emf[at + 1])) << 8 |
           uint32_t(uint8_t(emf[at + 2])) << 16 | uint32_t(uint8_t(emf[at + 3])) << 24;
  };
  EXPECT_EQ(uint32_t(frame.widthMM100), u32(32));
  EXPECT_EQ(uint32_t(frame.heightMM100), u32(36));
  EXPECT_EQ(emf.size(), u32(48));
  EXPECT_EQ(3u, u32(52));
  // Not closed: what the library allocates for itself would show up as
  // leaks of an unknown module once it is unmapped.
  evalScript("destroy .dv");
  system(("rm -rf " + dir).c_str());
}
#endif
