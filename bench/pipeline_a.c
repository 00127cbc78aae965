/*
 * pipeline_a.c --
 *     The peer of pipeline A as libvips' own benchmark defines it, in one
 *     process: load a TIFF (sequential access), crop 100 pixels off each
 *     side, reduce by 10 % with the linear kernel, 3 x 3 sharpen
 *     ([-1 -1 -1; -1 16 -1; -1 -1 -1] / 8, integer precision), save as an
 *     uncompressed strip TIFF.  Prints "seconds peakKiB" (the time from
 *     the load to the end of the save, VmHWM at the end).
 *       pipeline_a IN.tif OUT.tif
 *     VIPS_CONCURRENCY=1 runs it on one thread.  The benchmark's input is
 *     a 10000 x 10000 RGB BYTE strip TIFF as libvips writes it (128 rows a
 *     strip), e.g. "vips copy big.ppm big.tif".
 */
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <vips/vips.h>

static long peakKiB(void) {
  char line[256];
  long kib = -1;
  FILE *f = fopen("/proc/self/status", "r");
  if (!f) return -1;
  while (fgets(line, sizeof line, f))
    if (sscanf(line, "VmHWM: %ld", &kib) == 1) break;
  fclose(f);
  return kib;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s IN.tif OUT.tif\n", argv[0]);
    return 2;
  }
  if (VIPS_INIT(argv[0])) vips_error_exit(NULL);
  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  VipsImage *in = vips_image_new_from_file(argv[1], "access", VIPS_ACCESS_SEQUENTIAL, NULL);
  if (!in) vips_error_exit(NULL);
  VipsImage *mask = vips_image_new_matrixv(3, 3, -1.0, -1.0, -1.0, -1.0, 16.0, -1.0, -1.0,
                                           -1.0, -1.0);
  vips_image_set_double(mask, "scale", 8);
  VipsImage *crop = NULL, *small = NULL, *sharp = NULL;
  if (vips_extract_area(in, &crop, 100, 100, in->Xsize - 200, in->Ysize - 200, NULL) ||
      vips_reduce(crop, &small, 1.0 / 0.9, 1.0 / 0.9, "kernel", VIPS_KERNEL_LINEAR, NULL) ||
      vips_conv(small, &sharp, mask, "precision", VIPS_PRECISION_INTEGER, NULL) ||
      vips_tiffsave(sharp, argv[2], NULL))
    vips_error_exit(NULL);
  g_object_unref(sharp);
  g_object_unref(small);
  g_object_unref(crop);
  g_object_unref(mask);
  g_object_unref(in);
  clock_gettime(CLOCK_MONOTONIC, &t1);
  printf("%.3f %ld\n", (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9, peakKiB());
  vips_shutdown();
  return 0;
}
