/*
 * Pipeline A with libvips, in one process, as libvips' own speed benchmark
 * runs it: read a TIFF sequentially, crop 100 pixels off each side, shrink
 * to 90 % (bilinear, as our side resamples), 3 x 3 sharpen (integer
 * precision), write a TIFF.  VIPS_CONCURRENCY=1 for one thread.
 *   cc -O2 -o pipeline_a bench/pipeline_a.c $(pkg-config --cflags --libs vips)
 *   pipeline_a in.tif out.tif
 */
#include <stdio.h>
#include <vips/vips.h>

int main(int argc, char **argv) {
  if (VIPS_INIT(argv[0])) vips_error_exit(NULL);
  if (argc != 3) {
    fprintf(stderr, "usage: %s in.tif out.tif\n", argv[0]);
    return 1;
  }
  VipsImage *in = vips_image_new_from_file(argv[1], "access", VIPS_ACCESS_SEQUENTIAL, NULL);
  if (!in) vips_error_exit(NULL);
  VipsImage *mask = vips_image_new_matrixv(3, 3, 0.0, -1.0, 0.0, -1.0, 5.0, -1.0, 0.0, -1.0, 0.0);
  VipsImage *t[3] = {NULL, NULL, NULL};
  if (vips_crop(in, &t[0], 100, 100, in->Xsize - 200, in->Ysize - 200, NULL) ||
      vips_resize(t[0], &t[1], 0.9, "kernel", VIPS_KERNEL_LINEAR, NULL) ||
      vips_conv(t[1], &t[2], mask, "precision", VIPS_PRECISION_INTEGER, NULL) ||
      vips_image_write_to_file(t[2], argv[2], NULL))
    vips_error_exit(NULL);
  for (int i = 0; i < 3; i++) g_object_unref(t[i]);
  g_object_unref(mask);
  g_object_unref(in);
  vips_shutdown();
  return 0;
}
