/*
 * drivertest.cpp --
 *     A test-only module (never installed) through which the suites call
 *     the library's exported raster driver and form functions as native
 *     client code does:
 *       rdriver name ?arg ...?   one R_ function (or grassFont)
 *       vform word ?arg ...?     the V_ functions over variables kept here
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include <tcl.h>
#include "vesk/grass.h"

namespace {

/* The form's variables: one of each field type. */
double dvar = 0;
float fvar = 0;
int ivar = 0;
long lvar = 0;
char svar[64];

void *variable(char type) {
  switch (type) {
  case 'd': return &dvar;
  case 'f': return &fvar;
  case 'i': return &ivar;
  case 'l': return &lvar;
  case 's': return svar;
  default: return nullptr;
  }
}

std::vector<int> intList(Tcl_Interp *interp, const char *text) {
  std::vector<int> out;
  int n = 0;
  const char **words = nullptr;
  if (Tcl_SplitList(interp, text, &n, &words) != TCL_OK) return out;
  for (int i = 0; i < n; i++) out.push_back(atoi(words[i]));
  Tcl_Free(reinterpret_cast<char *>(words));
  return out;
}

std::vector<unsigned char> byteList(Tcl_Interp *interp, const char *text) {
  std::vector<unsigned char> out;
  for (int v : intList(interp, text)) out.push_back(static_cast<unsigned char>(v));
  return out;
}

void setResult(Tcl_Interp *interp, const std::string &text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
}

/* Splits an alternating "x y x y ..." list into two arrays. */
void pointLists(Tcl_Interp *interp, const char *text, std::vector<int> *x, std::vector<int> *y) {
  std::vector<int> all = intList(interp, text);
  for (size_t i = 0; i + 1 < all.size(); i += 2) {
    x->push_back(all[i]);
    y->push_back(all[i + 1]);
  }
}

int rdriverCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    setResult(interp, "usage: rdriver name ?arg ...?");
    return TCL_ERROR;
  }
  const std::string f = argv[1];
  auto a = [&](int i) { return i + 2 < argc ? atoi(argv[i + 2]) : 0; };
  char buffer[256];
  int result = 0;
  bool hasResult = true;
  if (f == "close_driver") result = R_close_driver();
  else if (f == "color_table_fixed") result = R_color_table_fixed();
  else if (f == "color_table_float") result = R_color_table_float();
  else if (f == "reset_color") result = R_reset_color(a(0), a(1), a(2), a(3));
  else if (f == "reset_colors") {
    std::vector<unsigned char> r = byteList(interp, argv[4]), g = byteList(interp, argv[5]),
                               b = byteList(interp, argv[6]);
    result = R_reset_colors(a(0), a(1), r.data(), g.data(), b.data());
  } else if (f == "color") result = R_color(a(0));
  else if (f == "standard_color") result = R_standard_color(a(0));
  else if (f == "RGB_color") result = R_RGB_color(a(0), a(1), a(2));
  else if (f == "set_RGB_color") {
    std::vector<unsigned char> r = byteList(interp, argv[2]), g = byteList(interp, argv[3]),
                               b = byteList(interp, argv[4]);
    r.resize(256);
    g.resize(256);
    b.resize(256);
    R_set_RGB_color(r.data(), g.data(), b.data());
    hasResult = false;
  } else if (f == "get_num_colors") result = R_get_num_colors();
  else if (f == "color_offset") result = R_color_offset(a(0));
  else if (f == "screen") {
    snprintf(buffer, sizeof buffer, "%d %d %d %d", R_screen_top(), R_screen_bot(), R_screen_left(),
             R_screen_rite());
    setResult(interp, buffer);
    return TCL_OK;
  } else if (f == "set_window") { R_set_window(a(0), a(1), a(2), a(3)); hasResult = false; }
  else if (f == "move_abs") { R_move_abs(a(0), a(1)); hasResult = false; }
  else if (f == "move_rel") { R_move_rel(a(0), a(1)); hasResult = false; }
  else if (f == "cont_abs") { R_cont_abs(a(0), a(1)); hasResult = false; }
  else if (f == "cont_rel") { R_cont_rel(a(0), a(1)); hasResult = false; }
  else if (f == "box_abs") { R_box_abs(a(0), a(1), a(2), a(3)); hasResult = false; }
  else if (f == "box_rel") { R_box_rel(a(0), a(1)); hasResult = false; }
  else if (f == "pos") {
    snprintf(buffer, sizeof buffer, "%d %d", R_curx(), R_cury());
    setResult(interp, buffer);
    return TCL_OK;
  } else if (f.compare(0, 4, "poly") == 0) {
    std::vector<int> x, y;
    pointLists(interp, argc > 2 ? argv[2] : "", &x, &y);
    const int n = argc > 3 ? atoi(argv[3]) : static_cast<int>(x.size());
    if (f == "polydots_abs") R_polydots_abs(x.data(), y.data(), n);
    else if (f == "polydots_rel") R_polydots_rel(x.data(), y.data(), n);
    else if (f == "polygon_abs") R_polygon_abs(x.data(), y.data(), n);
    else if (f == "polygon_rel") R_polygon_rel(x.data(), y.data(), n);
    else if (f == "polyline_abs") R_polyline_abs(x.data(), y.data(), n);
    else if (f == "polyline_rel") R_polyline_rel(x.data(), y.data(), n);
    else {
      setResult(interp, "unknown function " + f);
      return TCL_ERROR;
    }
    hasResult = false;
  } else if (f == "raster") {
    std::vector<int> colours = intList(interp, argv[5]);
    R_raster(a(0), a(1), a(2), colours.data());
    hasResult = false;
  } else if (f == "RGB_raster") {
    std::vector<unsigned char> r = byteList(interp, argv[4]), g = byteList(interp, argv[5]),
                               b = byteList(interp, argv[6]);
    R_RGB_raster(a(0), a(1), r.data(), g.data(), b.data(), a(5));
    hasResult = false;
  } else if (f == "erase") { R_erase(); hasResult = false; }
  else if (f == "flush") { R_flush(); hasResult = false; }
  else if (f == "stabilize") { R_stabilize(); hasResult = false; }
  else if (f == "get_location_with_pointer") {
    int x = a(0), y = a(1), button = a(2);
    R_get_location_with_pointer(&x, &y, &button);
    snprintf(buffer, sizeof buffer, "%d %d %d", x, y, button);
    setResult(interp, buffer);
    return TCL_OK;
  } else if (f == "get_location_with_line" || f == "get_location_with_box") {
    int x1 = a(2), y1 = a(3), button = a(4);
    if (f == "get_location_with_line") R_get_location_with_line(a(0), a(1), &x1, &y1, &button);
    else R_get_location_with_box(a(0), a(1), &x1, &y1, &button);
    snprintf(buffer, sizeof buffer, "%d %d %d", x1, y1, button);
    setResult(interp, buffer);
    return TCL_OK;
  } else if (f == "panel_save") result = R_panel_save(argv[2], a(1), a(2), a(3), a(4));
  else if (f == "panel_delete") result = R_panel_delete(argv[2]);
  else if (f == "panel_restore") result = R_panel_restore(argv[2]);
  else if (f == "pads") {
    result = R_pad_append_item() + R_pad_create() + R_pad_current() + R_pad_delete() +
             R_pad_delete_item() + R_pad_freelist() + R_pad_get_item() + R_pad_invent() +
             R_pad_list() + R_pad_select() + R_pad_set_item();
  } else if (f == "pad_perror") result = R_pad_perror(argc > 2 ? argv[2] : nullptr, a(1));
  else if (f == "font") result = R_font(argv[2]);
  else if (f == "text_size") { R_text_size(a(0), a(1)); hasResult = false; }
  else if (f == "text_rotation") { R_text_rotation(atof(argv[2]) * 3.14159265358979323846 / 180); hasResult = false; }
  else if (f == "text") { R_text(argv[2]); hasResult = false; }
  else if (f == "text_box") {
    int box[4] = {-1, -1, -1, -1};
    R_get_text_box(argv[2], &box[0], &box[1], &box[2], &box[3]);
    snprintf(buffer, sizeof buffer, "%d %d %d %d", box[0], box[1], box[2], box[3]);
    setResult(interp, buffer);
    return TCL_OK;
  } else if (f == "grassFont") {
    int length = a(0);
    std::vector<char> names(static_cast<size_t>(length > 0 ? length : 0) + 8, 'X');
    names.back() = 0;
    grassFont(names.data(), length);
    setResult(interp, names.data());
    return TCL_OK;
  } else {
    setResult(interp, "unknown function " + f);
    return TCL_ERROR;
  }
  if (hasResult) Tcl_SetObjResult(interp, Tcl_NewIntObj(result));
  else Tcl_ResetResult(interp);
  return TCL_OK;
}

/*
 * vform set type value | get type | ques type row col len | const ... |
 * accuracy n | clear | line n text | gdok | msg ?text? | call | id type
 */
int vformCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    setResult(interp, "usage: vform word ?arg ...?");
    return TCL_ERROR;
  }
  const std::string w = argv[1];
  const char type = argc > 2 ? argv[2][0] : 0;
  char buffer[128];
  int code = 0;
  if (w == "set") {
    switch (type) {
    case 'd': dvar = atof(argv[3]); break;
    case 'f': fvar = static_cast<float>(atof(argv[3])); break;
    case 'i': ivar = atoi(argv[3]); break;
    case 'l': lvar = atol(argv[3]); break;
    case 's':
      memset(svar, 'Z', sizeof svar);
      memcpy(svar, argv[3], strlen(argv[3]));
      break;
    }
    return TCL_OK;
  }
  if (w == "get") {
    switch (type) {
    case 'd': snprintf(buffer, sizeof buffer, "%.17g", dvar); break;
    case 'f': snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(fvar)); break;
    case 'i': snprintf(buffer, sizeof buffer, "%d", ivar); break;
    case 'l': snprintf(buffer, sizeof buffer, "%ld", lvar); break;
    case 's': {
      /* the first n bytes, as a list of codes */
      std::string codes;
      int n = atoi(argv[3]);
      for (int i = 0; i < n && i < static_cast<int>(sizeof svar); i++)
        codes += std::to_string(static_cast<unsigned char>(svar[i])) + " ";
      setResult(interp, codes);
      return TCL_OK;
    }
    default: buffer[0] = 0;
    }
    setResult(interp, buffer);
    return TCL_OK;
  }
  if (w == "id") {
    snprintf(buffer, sizeof buffer, "%lld",
             static_cast<long long>(reinterpret_cast<uintptr_t>(variable(type))));
    setResult(interp, buffer);
    return TCL_OK;
  }
  auto n = [&](int i) { return i < argc ? atoi(argv[i]) : 0; };
  if (w == "ques") code = V_ques(variable(type), type, n(3), n(4), n(5));
  else if (w == "const") code = V_const(variable(type), type, n(3), n(4), n(5));
  else if (w == "accuracy") code = V_float_accuracy(n(2));
  else if (w == "clear") code = V_clear();
  else if (w == "line") code = V_line(n(2), argv[3]);
  else if (w == "gdok") code = V_intrpt_GD_OK();
  else if (w == "msg") code = V_intrpt_msg(argc > 2 ? argv[2] : nullptr);
  else if (w == "call") code = V_call();
  else {
    setResult(interp, "unknown word " + w);
    return TCL_ERROR;
  }
  Tcl_SetObjResult(interp, Tcl_NewIntObj(code));
  return TCL_OK;
}

}  // namespace

extern "C" int Drivertest_Init(Tcl_Interp *interp) {
  if (!Tcl_InitStubs(interp, "8.6", 0)) return TCL_ERROR;
  Tcl_CreateCommand(interp, "rdriver", rdriverCmd, nullptr, nullptr);
  Tcl_CreateCommand(interp, "vform", vformCmd, nullptr, nullptr);
  return TCL_OK;
}
