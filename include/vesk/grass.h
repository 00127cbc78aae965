/*
 * grass.h --
 *     The raster graphics driver that native client code draws with: the
 *     R_ functions (colours, position, lines, boxes, dots, polygons,
 *     rasters, text in stroke fonts, pointer input), grassFont, and the
 *     V_ form functions.  The driver draws into the RAM image of a virtual
 *     display; scripts open it with "grass driver open_driver".  Every R_
 *     function that draws or reads the driver's state does nothing (and
 *     returns 0) while the driver is closed.
 */
#ifndef VESK_GRASS_H
#define VESK_GRASS_H

#include "vesk/vesk.h"

/* ---- driver ---- */
VESK_EXPORT int R_close_driver(void);

/* ---- colours ---- */
VESK_EXPORT int R_color_table_fixed(void);
VESK_EXPORT int R_color_table_float(void);
VESK_EXPORT int R_reset_color(int r, int g, int b, int index);
VESK_EXPORT int R_reset_colors(int min, int max, const unsigned char *red,
                               const unsigned char *green, const unsigned char *blue);
VESK_EXPORT int R_color(int index);
VESK_EXPORT int R_standard_color(int index);
VESK_EXPORT int R_RGB_color(int r, int g, int b);
VESK_EXPORT void R_set_RGB_color(const unsigned char *red, const unsigned char *green,
                                 const unsigned char *blue);
VESK_EXPORT int R_get_num_colors(void);
VESK_EXPORT int R_color_offset(int offset);

/* ---- screen and window (image pixels: x the column, y the row) ---- */
VESK_EXPORT int R_screen_top(void);
VESK_EXPORT int R_screen_left(void);
VESK_EXPORT int R_screen_bot(void);
VESK_EXPORT int R_screen_rite(void);
VESK_EXPORT void R_set_window(int top, int bottom, int left, int right);

/* ---- position and lines ---- */
VESK_EXPORT void R_move_abs(int x, int y);
VESK_EXPORT void R_move_rel(int dx, int dy);
VESK_EXPORT int R_curx(void);
VESK_EXPORT int R_cury(void);
VESK_EXPORT void R_cont_abs(int x, int y);
VESK_EXPORT void R_cont_rel(int dx, int dy);
VESK_EXPORT void R_box_abs(int x1, int y1, int x2, int y2);
VESK_EXPORT void R_box_rel(int dx, int dy);

/* ---- dots, polygons, polylines ---- */
VESK_EXPORT void R_polydots_abs(const int *x, const int *y, int n);
VESK_EXPORT void R_polydots_rel(const int *dx, const int *dy, int n);
VESK_EXPORT void R_polygon_abs(const int *x, const int *y, int n);
VESK_EXPORT void R_polygon_rel(const int *dx, const int *dy, int n);
VESK_EXPORT void R_polyline_abs(const int *x, const int *y, int n);
VESK_EXPORT void R_polyline_rel(const int *dx, const int *dy, int n);

/* ---- rasters ---- */
VESK_EXPORT void R_raster(int num, int nrows, int withzeros, const int *colours);
VESK_EXPORT void R_RGB_raster(int num, int nrows, const unsigned char *r, const unsigned char *g,
                              const unsigned char *b, int withzeros);

/* ---- image and display ---- */
VESK_EXPORT void R_erase(void);
VESK_EXPORT void R_flush(void);
VESK_EXPORT void R_stabilize(void);

/* ---- pointer input (through the vdisp.get.* script procedures) ---- */
VESK_EXPORT void R_get_location_with_pointer(int *x, int *y, int *button);
VESK_EXPORT void R_get_location_with_line(int x0, int y0, int *x1, int *y1, int *button);
VESK_EXPORT void R_get_location_with_box(int x0, int y0, int *x1, int *y1, int *button);

/* ---- panels and pads (not kept: each prints one line on stderr) ---- */
VESK_EXPORT int R_panel_save(const char *name, int t, int b, int l, int r);
VESK_EXPORT int R_panel_delete(const char *name);
VESK_EXPORT int R_panel_restore(const char *name);
VESK_EXPORT int R_pad_append_item(void);
VESK_EXPORT int R_pad_create(void);
VESK_EXPORT int R_pad_current(void);
VESK_EXPORT int R_pad_delete(void);
VESK_EXPORT int R_pad_delete_item(void);
VESK_EXPORT int R_pad_freelist(void);
VESK_EXPORT int R_pad_get_item(void);
VESK_EXPORT int R_pad_invent(void);
VESK_EXPORT int R_pad_list(void);
VESK_EXPORT int R_pad_select(void);
VESK_EXPORT int R_pad_set_item(void);
VESK_EXPORT int R_pad_perror(const char *message, int code);

/* ---- stroke-font text ---- */
VESK_EXPORT int R_font(const char *name);
VESK_EXPORT void R_text_size(int width, int height);
VESK_EXPORT void R_text_rotation(double angle);  /* radians */
VESK_EXPORT void R_text(const char *text);
VESK_EXPORT void R_get_text_box(const char *text, int *a, int *b, int *c, int *d);
/* The defined fonts' names joined by ",", as many as fit in length bytes. */
VESK_EXPORT char *grassFont(char *buffer, int length);

/* ---- forms ---- */
/*
 * An answer field is bound to the caller's variable (type 'd' double,
 * 'f' float, 'i' int, 'l' long, 's' char[len]); the variable must stay
 * valid until V_call returns.  Each function answers the completion code
 * of its script (V_ques 0 on success).
 */
VESK_EXPORT int V_clear(void);
VESK_EXPORT int V_line(int line, const char *text);
VESK_EXPORT int V_const(void *value, char type, int row, int col, int len);
VESK_EXPORT int V_ques(void *value, char type, int row, int col, int len);
VESK_EXPORT int V_float_accuracy(int decimals);
VESK_EXPORT int V_call(void);
VESK_EXPORT int V_intrpt_GD_OK(void);
VESK_EXPORT int V_intrpt_msg(const char *message);

#endif
