/*
 * bytewindow.h --
 *     Kernels over windows of 8-bit images for native modules that match
 *     image chips: window sums, variance and correlation, template search,
 *     and the polynomial helpers that go with radiometric fits (terms,
 *     two-variable fit observations, 256-entry lookup tables).
 *
 *     A byte window is a rectangle of an 8-bit image given by the address
 *     of its upper-left pixel, the image's pitch (bytes from one row to
 *     the next) and the window's width and height.
 */
#ifndef VESK_CORE_BYTEWINDOW_H
#define VESK_CORE_BYTEWINDOW_H

#include <stddef.h>
#include <stdint.h>

namespace vesk {

/* Running sums of a window: the values and their squares. */
struct ByteSums {
  double sum = 0;
  double sumSq = 0;
};

void addByteSums(const unsigned char *window, ptrdiff_t pitch, int width, int height,
                 ByteSums *sums);
void subByteSums(const unsigned char *window, ptrdiff_t pitch, int width, int height,
                 ByteSums *sums);
double byteWindowR2(const unsigned char *a, ptrdiff_t pitchA, const unsigned char *b,
                    ptrdiff_t pitchB, int width, int height);
double byteVariance(const unsigned char *window, ptrdiff_t pitch, int width, int height,
                    double *mean);
int64_t byteDotProduct(const unsigned char *a, ptrdiff_t pitchA, const unsigned char *b,
                       ptrdiff_t pitchB, int width, int height);
void zeroBytes(unsigned char *window, ptrdiff_t pitch, int width, int height);
void copyByteWindow(const unsigned char *image, ptrdiff_t pitch, int imageColumns,
                    int imageRows, int column, int row, int width, int height,
                    unsigned char *out);

/* Where a template fits an image best. */
struct TemplateMatch {
  int column = -1;   /* upper-left corner of the best window; -1 when none fits */
  int row = -1;
  double r2 = 0;     /* its squared correlation coefficient */
};

TemplateMatch matchTemplate(const unsigned char *image, ptrdiff_t pitch, int columns, int rows,
                            const unsigned char *templ, ptrdiff_t templPitch, int width,
                            int height);
TemplateMatch matchTemplateFast(const unsigned char *image, ptrdiff_t pitch, int columns,
                                int rows, const unsigned char *templ, ptrdiff_t templPitch,
                                int width, int height);

/* Polynomial helpers. */
int accumPoly2(double x, double y, double z, int N, double *M, double *S, double *T);
void makeBilinearTerms(double a, double b, double *T);
void makePolyLut(const double *coef, int n, unsigned char *lut);
void makePolyLuts(const double *coef, int n, int channels, unsigned char *luts);

}  // namespace vesk

#endif
