/*
 * boundimg.cpp --
 *     Bound images: "rimage bind" ties a RAM image, a region of interest
 *     and a band map to a Tcl command.  The command reads and sets single
 *     pixels and applies per-pixel operators (arithmetic, comparisons, bit
 *     operations, synthetic patterns, radial and directional weights) to
 *     the region, to a data range, or between the image and a second one.
 */
#include <errno.h>
#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <new>
#include <string>
#include <vector>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "core/core.h"
#include "core/options.h"
#include "core/threads.h"
#include "processing/bindparse.h"
#include "processing/rimage.h"
#include "raster/bandstats.h"
#include "raster/pixels.h"

namespace vesk {

/*
 * rimgObj --
 *     A bound image, the client data of its command.  Zeroed when made;
 *     the band maps are one block of 2 x bands ints, srcBands first.
 */
struct rimgObj {
  RAMIMG *image = nullptr;        /* the bound image; null only while being made */
  RamImageClient client = {};     /* this object's client record on the image */
  int columns = 0, rows = 0, bands = 0;  /* the image's size at the last change */
  int desx = 0, desy = 0, width = 0, height = 0;  /* region on the bound image */
  int srcx = 0, srcy = 0;         /* corner of the matching region of an operand */
  int bandCount = 0;              /* pairs in the band map */
  int maxSrcBand = 0;             /* highest source band of the map */
  int *srcBands = nullptr;        /* source band of each pair, from 1 */
  int *destBands = nullptr;       /* destination band of each pair, from 1 */
  int mapCapacity = 0;            /* pairs the maps have room for */
  Tcl_Interp *interp = nullptr;   /* where the command lives */
  Tcl_Command token = nullptr;    /* the object's command */
};

/*
 * What a pixel operator sees: the pixel, its place and the image the
 * place refers to, and the operands (with an image operand, its pixel
 * first).
 */
struct PixelOperatorContext {
  float pixelType;
  float x, y;
  float rows, columns;
  float spare;
  float operandCount;
  float value;
  float operands[6];
};

typedef float PixelOperatorProc(const PixelOperatorContext *c);

/* An operator over a run of n pixels of one row: line in place, other (or
   null) the operand image's pixels, x0 the column of the first pixel. */
typedef void PixelRowProc(const PixelOperatorContext *c, float *line, const float *other, int n,
                          int x0);

struct PixelOperator {
  const char *name;
  int operandCount;
  PixelOperatorProc *proc;
  PixelRowProc *row;
  bool placeless;  /* its row reads no x or y: rows end to end may go as one */
};

namespace {

/* ---- the operators ---- */

/* int() of a pixel value: toward zero, clamped to the int range. */
int64_t boundTrunc(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return static_cast<int64_t>(v);
}

inline double opV(const PixelOperatorContext *c) { return c->value; }
inline double opA(const PixelOperatorContext *c, int i) { return c->operands[i]; }
inline double halfM(const PixelOperatorContext *c) { return c->columns / 2.0; }
inline double halfN(const PixelOperatorContext *c) { return c->rows / 2.0; }
/* r: the distance of the pixel from the image centre. */
double centreDistance(const PixelOperatorContext *c) {
  const double dx = c->x - halfM(c), dy = c->y - halfN(c);
  return sqrt(dx * dx + dy * dy);
}
/* t to the power b, taken as 1 when t is 0. */
double powerOrOne(double t, double b) { return t == 0 ? 1.0 : pow(t, b); }
/* A result as a float: beyond the float range an infinity, NaN kept.
   Written without branches so that row loops vectorise. */
inline float f(double v) {
  constexpr double kFloatMax = 3.4028234663852886e38;
  const double clamped = v < -kFloatMax ? -kFloatMax : v > kFloatMax ? kFloatMax : v;
  const float inRange = static_cast<float>(clamped);
  return v > kFloatMax ? HUGE_VALF : v < -kFloatMax ? -HUGE_VALF : inRange;
}
/* The reduction of initx and initxy on the small pixel types. */
double reducePosition(const PixelOperatorContext *c, double position) {
  const int64_t n = boundTrunc(position);
  switch (static_cast<int>(c->pixelType)) {
  case P_1BIT: return static_cast<double>(n % 2);
  case P_4BITS: return static_cast<double>(n % 16);
  case P_BYTE: return static_cast<double>(n % 256);
  default: return position;
  }
}

float opSet(const PixelOperatorContext *c) { return f(opA(c, 0)); }
float opAdd(const PixelOperatorContext *c) { return f(opV(c) + opA(c, 0)); }
float opSub(const PixelOperatorContext *c) { return f(opV(c) - opA(c, 0)); }
float opMul(const PixelOperatorContext *c) { return f(opV(c) * opA(c, 0)); }
float opMulAdd(const PixelOperatorContext *c) { return f(opV(c) * opA(c, 0) + opA(c, 1)); }
float opDiv(const PixelOperatorContext *c) {
  return opA(c, 0) == 0 ? f(opV(c) * 9.999999999999999e29) : f(opV(c) / opA(c, 0));
}
/* A zero divisor leaves the pixel as it was. */
float opMod(const PixelOperatorContext *c) {
  const int64_t a = boundTrunc(opA(c, 0));
  if (a == 0) return c->value;
  return static_cast<float>(boundTrunc(opV(c)) % a);
}
float opIdiv(const PixelOperatorContext *c) {
  const int64_t a = boundTrunc(opA(c, 0));
  if (a == 0) return 2147483648.0f;
  return static_cast<float>(boundTrunc(opV(c)) / a);
}
float opNot(const PixelOperatorContext *c) {
  const int64_t v = boundTrunc(opV(c));
  switch (static_cast<int>(c->pixelType)) {
  case P_1BIT: return c->value == 0 ? 1.0f : 0.0f;
  case P_4BITS: return static_cast<float>(~v & 15);
  case P_BYTE: case P_SBYTE: return static_cast<float>(~v & 255);
  case P_SHORT: case P_USHORT: return static_cast<float>(~v & 65535);
  default: return static_cast<float>(static_cast<uint32_t>(~static_cast<uint32_t>(v)));
  }
}
float opAnd(const PixelOperatorContext *c) {
  return static_cast<float>(boundTrunc(opV(c)) & boundTrunc(opA(c, 0)));
}
float opOr(const PixelOperatorContext *c) {
  return static_cast<float>(boundTrunc(opV(c)) | boundTrunc(opA(c, 0)));
}
float opXor(const PixelOperatorContext *c) {
  return static_cast<float>(boundTrunc(opV(c)) ^ boundTrunc(opA(c, 0)));
}
float opPow(const PixelOperatorContext *c) {
  return c->value == 0 ? 1.0f : f(pow(fabs(opV(c)), opA(c, 0)));
}
float opNeg(const PixelOperatorContext *c) { return -c->value; }
float opMin(const PixelOperatorContext *c) { return f(std::min(opV(c), opA(c, 0))); }
float opMax(const PixelOperatorContext *c) { return f(std::max(opV(c), opA(c, 0))); }
float opExp(const PixelOperatorContext *c) { return f(opV(c) * exp(opA(c, 0))); }
float opExpd1(const PixelOperatorContext *c) {
  const double r = centreDistance(c);
  return f(opV(c) * exp(opA(c, 0) * r * r));
}
float opExpd2(const PixelOperatorContext *c) {
  return f(opV(c) * exp(opA(c, 0) * powerOrOne(centreDistance(c), opA(c, 1))));
}
float opExpd4(const PixelOperatorContext *c) {
  const double dx = (halfM(c) - c->x) * opA(c, 2), dy = (halfN(c) - c->y) * opA(c, 3);
  return f(opV(c) * exp(opA(c, 0) * powerOrOne(sqrt(dx * dx + dy * dy), opA(c, 1))));
}
float opExpd6(const PixelOperatorContext *c) {
  const double dx = (opA(c, 4) - c->x) * opA(c, 2), dy = (opA(c, 5) - c->y) * opA(c, 3);
  return f(opV(c) * exp(opA(c, 0) * powerOrOne(sqrt(dx * dx + dy * dy), opA(c, 1))));
}
float opExpx1(const PixelOperatorContext *c) {
  return f(opV(c) * exp(opA(c, 0) * fabs(halfM(c) - c->x)));
}
float opExpx2(const PixelOperatorContext *c) {
  return f(opV(c) * exp(opA(c, 0) * powerOrOne(fabs(halfM(c) - c->x), opA(c, 1))));
}
float opExpx3(const PixelOperatorContext *c) {
  return f(opV(c) * exp(opA(c, 0) * powerOrOne(fabs(opA(c, 2) - c->x), opA(c, 1))));
}
float opExpy1(const PixelOperatorContext *c) {
  return f(opV(c) * exp(opA(c, 0) * fabs(halfN(c) - c->y)));
}
float opExpy2(const PixelOperatorContext *c) {
  return f(opV(c) * exp(opA(c, 0) * powerOrOne(fabs(halfN(c) - c->y), opA(c, 1))));
}
float opExpy3(const PixelOperatorContext *c) {
  return f(opV(c) * exp(opA(c, 0) * powerOrOne(fabs(opA(c, 2) - c->y), opA(c, 1))));
}
float opSinx1(const PixelOperatorContext *c) { return f(opV(c) * sin((c->x - halfM(c)) * opA(c, 0))); }
float opSinx2(const PixelOperatorContext *c) { return f(opV(c) * sin((c->x - opA(c, 1)) * opA(c, 0))); }
float opSiny1(const PixelOperatorContext *c) { return f(opV(c) * sin((c->y - halfN(c)) * opA(c, 0))); }
float opSiny2(const PixelOperatorContext *c) { return f(opV(c) * sin((c->y - opA(c, 1)) * opA(c, 0))); }
float opSin2(const PixelOperatorContext *c) {
  return f(opV(c) * sin((c->x - halfM(c)) * opA(c, 0) + (c->y - halfN(c)) * opA(c, 1)));
}
float opSin4(const PixelOperatorContext *c) {
  return f(opV(c) * sin((c->x - opA(c, 2)) * opA(c, 0) + (c->y - opA(c, 3)) * opA(c, 1)));
}
float opCosx1(const PixelOperatorContext *c) { return f(opV(c) * cos((c->x - halfM(c)) * opA(c, 0))); }
float opCosx2(const PixelOperatorContext *c) { return f(opV(c) * cos((c->x - opA(c, 1)) * opA(c, 0))); }
float opCosy1(const PixelOperatorContext *c) { return f(opV(c) * cos((c->y - halfN(c)) * opA(c, 0))); }
float opCosy2(const PixelOperatorContext *c) { return f(opV(c) * cos((c->y - opA(c, 1)) * opA(c, 0))); }
float opCos2(const PixelOperatorContext *c) {
  return f(opV(c) * cos((c->x - halfM(c)) * opA(c, 0) + (c->y - halfN(c)) * opA(c, 1)));
}
float opCos4(const PixelOperatorContext *c) {
  return f(opV(c) * cos((c->x - opA(c, 2)) * opA(c, 0) + (c->y - opA(c, 3)) * opA(c, 1)));
}
float opDist0(const PixelOperatorContext *c) { return f(centreDistance(c)); }
float opDist2(const PixelOperatorContext *c) {
  const double dx = c->x - opA(c, 0), dy = c->y - opA(c, 1);
  return f(sqrt(dx * dx + dy * dy));
}
double deconvK(const PixelOperatorContext *c) { return opA(c, 1) == 0 ? 1.0 : fabs(opA(c, 1)); }
float opDeconv2(const PixelOperatorContext *c) {
  const double a = opA(c, 0);
  return f(opV(c) * a / (a * a + deconvK(c)));
}
float opDeconv3(const PixelOperatorContext *c) {
  const double g = fabs(opA(c, 2)) + opA(c, 0);
  return f(opV(c) * g / (g * g + deconvK(c)));
}
float opLini(const PixelOperatorContext *c) {
  const double v = opV(c), a = opA(c, 0), b = opA(c, 1), lo = opA(c, 2), hi = opA(c, 3);
  if (a == b) return c->value;
  if (a < b ? v < a : v > a) return f(lo);
  if (a < b ? v > b : v < b) return f(hi);
  return f(lo + (hi - lo) * (v - a) / (b - a));
}

/* The comparisons and logical operators: a result when it holds, another when not. */
template <int N, class Test>
float conditional(const PixelOperatorContext *c, Test test) {
  if (test(opV(c), opA(c, 0))) return N >= 2 ? c->operands[1] : 255.0f;
  return N == 3 ? c->operands[2] : c->value;
}
#define BOUND_COMPARE(fn, expr)                                                             \
  template <int N> float fn(const PixelOperatorContext *c) {                                \
    return conditional<N>(c, [](double v, double a) { return expr; });                      \
  }
BOUND_COMPARE(opEq, v == a)
BOUND_COMPARE(opLe, v <= a)
BOUND_COMPARE(opLt, v < a)
BOUND_COMPARE(opGe, v >= a)
BOUND_COMPARE(opGt, v > a)
BOUND_COMPARE(opLand, v != 0 && a != 0)
BOUND_COMPARE(opLor, v != 0 || a != 0)
#undef BOUND_COMPARE

float opInitx0(const PixelOperatorContext *c) { return f(reducePosition(c, c->x)); }
float opInitx1(const PixelOperatorContext *c) { return f((c->x - halfM(c)) * opA(c, 0)); }
float opInitx2(const PixelOperatorContext *c) { return f((c->x - opA(c, 1)) * opA(c, 0)); }
float opInity0(const PixelOperatorContext *c) { return f(reducePosition(c, c->y)); }
float opInity1(const PixelOperatorContext *c) { return f((c->y - halfN(c)) * opA(c, 0)); }
float opInity2(const PixelOperatorContext *c) { return f((c->y - opA(c, 1)) * opA(c, 0)); }
float opInitxy0(const PixelOperatorContext *c) {
  return f(reducePosition(c, static_cast<double>(c->x) + c->y));
}
float opInitxy2(const PixelOperatorContext *c) {
  return f((c->x - halfM(c)) * opA(c, 0) + (c->y - halfN(c)) * opA(c, 1));
}
float opInitxy4(const PixelOperatorContext *c) {
  return f((c->x - opA(c, 2)) * opA(c, 0) + (c->y - opA(c, 3)) * opA(c, 1));
}

/* The pattern generator of "rand": 0 .. 32767, the same sequence each run. */
uint32_t boundRandSeed = 1;
int boundRand() {
  boundRandSeed = boundRandSeed * 214013u + 2531011u;
  return static_cast<int>((boundRandSeed >> 16) & 0x7fff);
}
float opRand(const PixelOperatorContext *c) { return f(opA(c, 0) * boundRand() / 32767.0); }
float opRing(const PixelOperatorContext *c) {
  const double half = sqrt((double{c->columns} * c->columns + double{c->rows} * c->rows) / 4.0);
  const double rho = half > 0 ? centreDistance(c) / half : 0.0;
  return f(127.5 + 127.5 * sin(2 * M_PI * opV(c) * rho));
}

/* The row loop of one operator: the operator inlined, the same
   arithmetic per pixel, left to right (rand draws in order). */
template <PixelOperatorProc *P>
void pixelRow(const PixelOperatorContext *context, float *__restrict line,
              const float *__restrict other, int n, int x0) {
  PixelOperatorContext c = *context;
  if (other) {
    for (int j = 0; j < n; j++) {
      c.x = static_cast<float>(x0 + j);
      c.value = line[j];
      c.operands[0] = other[j];
      line[j] = P(&c);
    }
  } else {
    for (int j = 0; j < n; j++) {
      c.x = static_cast<float>(x0 + j);
      c.value = line[j];
      line[j] = P(&c);
    }
  }
}

/*
 * The four arithmetic operators in float.  A sum, difference, product or
 * quotient of two floats worked out in double and rounded to float is the
 * float operation's own result (double holds more than twice a float's
 * digits), except where the operators' range rule decides: a double result
 * just beyond the float range is an infinity, where float rounding gives
 * the largest float.  So the row is computed in float, a few pixels at a
 * time with their old values kept in registers, and a run whose results
 * touch the largest float (or that divides by zero: that has its own rule)
 * is put back and goes through the double row instead.  The line is read
 * once and written once, as a plain loop would.
 */
enum FloatArithmetic { FLOAT_ADD, FLOAT_SUB, FLOAT_MUL, FLOAT_DIV };

constexpr int kFloatRun = 32;

#define FLOAT_RUN(length, expr, divisor)                                  \
  {                                                                       \
    float *__restrict at = line + done;                                   \
    float kept[kFloatRun];                                                \
    int edge = 0;                                                         \
    for (int j = 0; j < (length); j++) {                                  \
      const float a = at[j], b = (divisor);                               \
      const float r = (expr);                                             \
      kept[j] = a;                                                        \
      at[j] = r;                                                          \
      edge |= (fabsf(r) == FLT_MAX) | (kind == FLOAT_DIV && b == 0.0f);   \
    }                                                                     \
    if (edge) {                                                           \
      memcpy(at, kept, sizeof(float) * static_cast<size_t>(length));      \
      return done;                                                        \
    }                                                                     \
  }
#define FLOAT_ROW(expr, divisor)                                          \
  for (; done + kFloatRun <= n; done += kFloatRun) FLOAT_RUN(kFloatRun, expr, divisor) \
  if (done < n) FLOAT_RUN(n - done, expr, divisor)                        \
  return n;
#define FLOAT_KINDS(divisor)                                              \
  switch (kind) {                                                         \
  case FLOAT_ADD: FLOAT_ROW(a + b, divisor)                               \
  case FLOAT_SUB: FLOAT_ROW(a - b, divisor)                               \
  case FLOAT_MUL: FLOAT_ROW(a * b, divisor)                               \
  default: FLOAT_ROW(a / b, divisor)                                      \
  }

/* Pixels from done to n worked out in place in float, in runs of
   kFloatRun.  Results: n, or the start of the first run that must be done
   in double (that run left as it was). */
__attribute__((target_clones("arch=x86-64-v3", "default")))
int floatArithmeticRun(int kind, float *__restrict line, const float *__restrict other, float k,
                       int done, int n) {
  if (other) FLOAT_KINDS(other[done + j])
  FLOAT_KINDS(k)
}
#undef FLOAT_RUN
#undef FLOAT_ROW
#undef FLOAT_KINDS

#if defined(__x86_64__)
/*
 * The same runs with AVX2: results stay in registers until their check
 * has passed and are then stored, so no old value is copied aside and the
 * check is one test.  (The loop above cannot leave a vector loop early: it
 * keeps the old values aside and reduces its check lane by lane, which at
 * memory speed costs most of the time.)  Eight lanes, not sixteen: at
 * memory speed the wider stores are slower on the processors that split
 * them.
 */
#define FLOAT_AVX2 __attribute__((target("avx2"), always_inline)) inline

/* Of two NaNs an instruction gives its first operand's payload, and the
   compiler may swap the operands of a sum or a product written with the
   intrinsics: they are placed by hand, Swap putting the operand first. */
template <int Kind, bool Swap = false>
FLOAT_AVX2 __m256 floatOp256(__m256 a, __m256 b) {
  __m256 r;
  switch (Kind) {
  case FLOAT_ADD:
    if (Swap) asm("vaddps %1, %2, %0" : "=x"(r) : "x"(a), "x"(b));
    else asm("vaddps %2, %1, %0" : "=x"(r) : "x"(a), "x"(b));
    return r;
  case FLOAT_SUB: return _mm256_sub_ps(a, b);
  case FLOAT_MUL:
    if (Swap) asm("vmulps %1, %2, %0" : "=x"(r) : "x"(a), "x"(b));
    else asm("vmulps %2, %1, %0" : "=x"(r) : "x"(a), "x"(b));
    return r;
  default: return _mm256_div_ps(a, b);
  }
}

/* A result's magnitude bits xor those of the largest float: zero only
   where its magnitude is the largest float. */
FLOAT_AVX2 __m256i awayFromLargest(__m256 r) {
  return _mm256_xor_si256(_mm256_and_si256(_mm256_castps_si256(r), _mm256_set1_epi32(0x7fffffff)),
                          _mm256_set1_epi32(0x7f7fffff));
}

/* Whether any lane of the unsigned minima of four such vectors is zero. */
FLOAT_AVX2 bool anyLargest(__m256 r0, __m256 r1, __m256 r2, __m256 r3) {
  const __m256i least =
      _mm256_min_epu32(_mm256_min_epu32(awayFromLargest(r0), awayFromLargest(r1)),
                       _mm256_min_epu32(awayFromLargest(r2), awayFromLargest(r3)));
  const __m256i zero = _mm256_cmpeq_epi32(least, _mm256_setzero_si256());
  return !_mm256_testz_si256(zero, zero);
}

/* Whether a lane of lanes must go through the double row: its result's
   magnitude the largest float, or (a quotient) its divisor zero. */
template <int Kind>
FLOAT_AVX2 bool floatEdge256(__m256 lanes, __m256 r, __m256 b) {
  const __m256 magnitude = _mm256_and_ps(r, _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff)));
  __m256 edge = _mm256_cmp_ps(magnitude, _mm256_set1_ps(FLT_MAX), _CMP_EQ_OQ);
  if (Kind == FLOAT_DIV) edge = _mm256_or_ps(edge, _mm256_cmp_ps(b, _mm256_setzero_ps(), _CMP_EQ_OQ));
  return !_mm256_testz_ps(edge, lanes);
}

template <int Kind>
FLOAT_AVX2 bool floatRunEdge256(const __m256 *r, const __m256 *b) {
  const __m256 all = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
  return floatEdge256<Kind>(all, r[0], b[0]) | floatEdge256<Kind>(all, r[1], b[1]) |
         floatEdge256<Kind>(all, r[2], b[2]) | floatEdge256<Kind>(all, r[3], b[3]);
}

/*
 * floatArithmeticRun for one operator, other given or not: the same runs
 * and results.  A run's results are stored as they are made (held back for
 * the check, the stores stall the loads) and its old values, still in
 * registers, put back when the check fails.  Of two NaNs a sum or product
 * keeps the one the loop above keeps: the pixel's, except in the first 16
 * pixels of a whole run of a product and, in the last, shorter run, the 8
 * pixels it takes together after its steps of 16 (when 8 or more are
 * left), where it keeps the operand's.
 */
template <int Kind, bool Image>
__attribute__((target("avx2"))) int floatArithmeticRun256(float *__restrict line,
                                                          const float *__restrict other, float k,
                                                          int done, int n) {
  const __m256 constant = _mm256_set1_ps(k);
  __m256 a[4], b[4], r[4];
  for (; done + kFloatRun <= n; done += kFloatRun) {
    float *at = line + done;
    const float *by = Image ? other + done : nullptr;
#define FLOAT_STEP(v, swap)                                      \
  a[v] = _mm256_loadu_ps(at + 8 * (v));                          \
  b[v] = Image ? _mm256_loadu_ps(by + 8 * (v)) : constant;       \
  r[v] = floatOp256<Kind, swap>(a[v], b[v]);                     \
  _mm256_storeu_ps(at + 8 * (v), r[v]);
    FLOAT_STEP(0, Kind == FLOAT_MUL)
    FLOAT_STEP(1, Kind == FLOAT_MUL)
    FLOAT_STEP(2, false)
    FLOAT_STEP(3, false)
#undef FLOAT_STEP
    // Short of a quotient's zero divisors, a lane's edge is its magnitude
    // bits equal to the largest float's: one test of the four minima.
    if (Kind == FLOAT_DIV ? floatRunEdge256<Kind>(r, b) : anyLargest(r[0], r[1], r[2], r[3])) {
      _mm256_storeu_ps(at, a[0]);
      _mm256_storeu_ps(at + 8, a[1]);
      _mm256_storeu_ps(at + 16, a[2]);
      _mm256_storeu_ps(at + 24, a[3]);
      return done;
    }
  }
  if (done < n) {
    // The last, shorter run: lanes past n are neither read nor written.
    const int left = n - done, steps = left & ~15;
    const int swapped = left - steps >= 8 ? steps / 8 : -1;
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    float *at = line + done;
    bool edge = false;
    __m256i mask[4];
    for (int v = 0; v < 4; v++) {
      mask[v] = _mm256_cmpgt_epi32(_mm256_set1_epi32(left - 8 * v), lane);
      a[v] = _mm256_maskload_ps(at + 8 * v, mask[v]);
      b[v] = Image ? _mm256_maskload_ps(other + done + 8 * v, mask[v]) : constant;
      r[v] = v == swapped ? floatOp256<Kind, true>(a[v], b[v]) : floatOp256<Kind>(a[v], b[v]);
      edge |= floatEdge256<Kind>(_mm256_castsi256_ps(mask[v]), r[v], b[v]);
    }
    if (edge) return done;
    for (int v = 0; v < 4; v++) _mm256_maskstore_ps(at + 8 * v, mask[v], r[v]);
  }
  return n;
}
#undef FLOAT_AVX2

/* Whether the processor (and the system) runs AVX2 code. */
bool hasAvx2() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
  return has;
}
#endif

/* floatArithmeticRun, with AVX2 where the processor has it. */
template <int Kind>
int floatArithmeticRuns(float *line, const float *other, float k, int done, int n) {
#if defined(__x86_64__)
  if (hasAvx2())
    return other ? floatArithmeticRun256<Kind, true>(line, other, k, done, n)
                 : floatArithmeticRun256<Kind, false>(line, nullptr, k, done, n);
#endif
  return floatArithmeticRun(Kind, line, other, k, done, n);
}

/* The row of +, -, * or / with one operand: in float, the double row for
   the runs that need it; the same values as pixelRow<P>. */
template <int Kind, PixelOperatorProc *P>
void floatArithmeticRow(const PixelOperatorContext *c, float *line, const float *other, int n,
                        int x0) {
  const float k = c->operands[0];
  for (int done = 0; done < n; done += kFloatRun) {
    done = floatArithmeticRuns<Kind>(line, other, k, done, n);
    if (done >= n) break;
    const int count = std::min(kFloatRun, n - done);
    pixelRow<P>(c, line + done, other ? other + done : nullptr, count, x0 + done);
  }
}

}  // namespace

/* One row per name and operand count, in lookup order; a null row ends it. */
#define BOUND_OP(name, count, proc) {name, count, proc, pixelRow<proc>, false}
#define FLOAT_OP(name, kind, proc) {name, 1, proc, floatArithmeticRow<kind, proc>, true}
const PixelOperator pixelOperators[] = {
    BOUND_OP("=", 1, opSet), FLOAT_OP("+", FLOAT_ADD, opAdd), FLOAT_OP("-", FLOAT_SUB, opSub),
    FLOAT_OP("*", FLOAT_MUL, opMul), BOUND_OP("*", 2, opMulAdd), FLOAT_OP("/", FLOAT_DIV, opDiv),
    BOUND_OP("!", 0, opNot), BOUND_OP("&", 1, opAnd), BOUND_OP("|", 1, opOr),
    BOUND_OP("^", 1, opPow), BOUND_OP("dist", 0, opDist0), BOUND_OP("dist", 2, opDist2),
    BOUND_OP("exp", 1, opExp), BOUND_OP("expd", 1, opExpd1), BOUND_OP("expd", 2, opExpd2),
    BOUND_OP("expd", 4, opExpd4), BOUND_OP("expd", 6, opExpd6), BOUND_OP("expx", 1, opExpx1),
    BOUND_OP("expx", 2, opExpx2), BOUND_OP("expx", 3, opExpx3), BOUND_OP("expy", 1, opExpy1),
    BOUND_OP("expy", 2, opExpy2), BOUND_OP("expy", 3, opExpy3), BOUND_OP("sinx", 1, opSinx1),
    BOUND_OP("sinx", 2, opSinx2), BOUND_OP("siny", 1, opSiny1), BOUND_OP("siny", 2, opSiny2),
    BOUND_OP("sin", 2, opSin2), BOUND_OP("sin", 4, opSin4), BOUND_OP("cosx", 1, opCosx1),
    BOUND_OP("cosx", 2, opCosx2), BOUND_OP("cosy", 1, opCosy1), BOUND_OP("cosy", 2, opCosy2),
    BOUND_OP("cos", 2, opCos2), BOUND_OP("cos", 4, opCos4), BOUND_OP("deconv", 2, opDeconv2),
    BOUND_OP("deconv", 3, opDeconv3), BOUND_OP("lini", 4, opLini), BOUND_OP("idiv", 1, opIdiv),
    BOUND_OP("min", 1, opMin), BOUND_OP("max", 1, opMax), BOUND_OP("xor", 1, opXor),
    BOUND_OP("%", 1, opMod), BOUND_OP("==", 3, opEq<3>), BOUND_OP("==", 2, opEq<2>),
    BOUND_OP("==", 1, opEq<1>), BOUND_OP("<=", 3, opLe<3>), BOUND_OP("<=", 2, opLe<2>),
    BOUND_OP("<=", 1, opLe<1>), BOUND_OP("<", 3, opLt<3>), BOUND_OP("<", 2, opLt<2>),
    BOUND_OP("<", 1, opLt<1>), BOUND_OP(">=", 3, opGe<3>), BOUND_OP(">=", 2, opGe<2>),
    BOUND_OP(">=", 1, opGe<1>), BOUND_OP(">", 3, opGt<3>), BOUND_OP(">", 2, opGt<2>),
    BOUND_OP(">", 1, opGt<1>), BOUND_OP("&&", 3, opLand<3>), BOUND_OP("&&", 2, opLand<2>),
    BOUND_OP("&&", 1, opLand<1>), BOUND_OP("||", 3, opLor<3>), BOUND_OP("||", 2, opLor<2>),
    BOUND_OP("||", 1, opLor<1>), BOUND_OP("neg", 0, opNeg), BOUND_OP("init", 1, opSet),
    BOUND_OP("initx", 0, opInitx0), BOUND_OP("initx", 1, opInitx1),
    BOUND_OP("initx", 2, opInitx2), BOUND_OP("inity", 0, opInity0),
    BOUND_OP("inity", 1, opInity1), BOUND_OP("inity", 2, opInity2),
    BOUND_OP("initxy", 0, opInitxy0), BOUND_OP("initxy", 2, opInitxy2),
    BOUND_OP("initxy", 4, opInitxy4), BOUND_OP("rand", 1, opRand), BOUND_OP("ring", 0, opRing),
    {nullptr, 0, nullptr, nullptr, false},
};
#undef BOUND_OP
#undef FLOAT_OP
static_assert(sizeof pixelOperators / sizeof pixelOperators[0] == 78,
              "seventy-seven operator rows and the end row");

/* findPixelOperator -- the operator of name with count operands, or null. */
const PixelOperator *findPixelOperator(const char *name, int count) {
  for (const PixelOperator *row = pixelOperators; row->name; row++)
    if (row->operandCount == count && strcmp(row->name, name) == 0) return row;
  return nullptr;
}

namespace {

/* ---- the apply forms ---- */

/* The context of an image: its type and size, the numbers placed after the first operands. */
PixelOperatorContext contextOf(RAMIMG *image, const std::vector<float> &numbers, int first) {
  PixelOperatorContext c = {};
  c.pixelType = static_cast<float>(image->header.pixelid);
  c.rows = static_cast<float>(image->header.rows);
  c.columns = static_cast<float>(image->header.columns);
  c.operandCount = static_cast<float>(numbers.size() + first);
  for (size_t i = 0; i < numbers.size() && i + first < 6; i++) c.operands[i + first] = numbers[i];
  return c;
}

/* After a band is rewritten, its statistics are stale. */
void resetBoundBand(RAMIMG *image, int band) {
  if (image->hist && band >= 0 && band < image->header.nbands) resetBandHist(image->hist, band);
}

/* The FLOAT line of a memory image that holds every line, to be changed
   in place (the same values as a copy out and back); null otherwise. */
float *heldFloatLine(RAMIMG *image, int row, int band) {
  float *line = residentFloatLine(image, row, band);
  if (line) setRAMImageDirty(image, row, band);
  return line;
}

/* Whether another image's columns x .. x + width - 1 may be read where they lie. */
bool readsInPlace(const RAMIMG *operand, const RAMIMG *image, int x, int width) {
  return operand != image && int64_t{x} + width <= operand->header.columns;
}

/* The FLOAT line of another memory image that holds every line, to be
   read where it lies; null otherwise. */
const float *residentFloatOperand(RAMIMG *operand, const RAMIMG *image, int row, int band,
                                  int x, int width) {
  if (!readsInPlace(operand, image, x, width)) return nullptr;
  const float *line = residentFloatLine(operand, row, band);
  return line ? line + x : nullptr;
}

/* The FLOAT lines of rows first .. first + count - 1 of a band of a memory
   image that holds every line, all flagged dirty; false (and none
   flagged) when they are not all held. */
bool heldFloatLines(RAMIMG *image, int first, int count, int band, std::vector<float *> *lines) {
  lines->resize(static_cast<size_t>(std::max(count, 0)));
  if (!residentFloatLines(image, first, count, band, 1, lines->data())) return false;
  setRAMImageDirtyRows(image, first, count, band);
  return true;
}

/* The operand's lines for rows 0 .. count - 1 of the region (row k reads
   the operand's row (first + k) modulo rows, from column x on), read where
   they lie; false when they are not all held so. */
bool residentFloatOperands(RAMIMG *operand, const RAMIMG *image, int first, int count, int rows,
                           int band, int x, int width, std::vector<const float *> *lines) {
  if (!readsInPlace(operand, image, x, width)) return false;
  std::vector<float *> held(static_cast<size_t>(std::max(count, 0)));
  for (int k = 0; k < count;) {
    // The rows up to the operand's last before it wraps round.
    const int row = static_cast<int>((int64_t{first} + k) % rows);
    const int n = std::min(count - k, rows - row);
    if (!residentFloatLines(operand, row, n, band, 1, held.data() + k)) return false;
    k += n;
  }
  for (int k = 0; k < count; k++) (*lines)[k] = held[k] + x;
  return true;
}

/*
 * The operator over held lines, blocks of rows on the worker pool: each
 * pixel's result depends on that pixel alone (rand, which draws in
 * order, stays on one thread).  other, when given, holds the operand's
 * line of each row.  y of row k is k modulo yRows.
 */
bool pooledPixelRows(const PixelOperator *op, const PixelOperatorContext &c,
                     const std::vector<float *> &held, const std::vector<const float *> *other,
                     int x, int width, int yRows) {
  if (op->proc == opRand) return false;
  // Whole rows that lie end to end in both images go to a placeless
  // operator as one row when its runs still start at each row's start
  // (up to about a million pixels a call).
  const int most = op->placeless && width > 0 && width % kFloatRun == 0
                       ? std::max(1, (1 << 20) / width) : 1;
  parallelRows(static_cast<int>(held.size()), rowGrain(width), [&](int first, int end) {
    PixelOperatorContext rc = c;
    for (int k = first, span = 1; k < end; k += span) {
      for (span = 1; span < most && k + span < end; span++)
        if (held[k + span] != held[k + span - 1] + width ||
            (other && (*other)[k + span] != (*other)[k + span - 1] + width))
          break;
      rc.y = static_cast<float>(k < yRows ? k : k % yRows);
      op->row(&rc, held[k] + x, other ? (*other)[k] : nullptr, width * span, 0);
    }
  });
  return true;
}

/* applyPixelOperator -- the operator over the region, per destination band of the map. */
void applyPixelOperator(rimgObj *obj, const PixelOperator *op, const std::vector<float> &numbers) {
  RAMIMG *image = obj->image;
  PixelOperatorContext c = contextOf(image, numbers, 0);
  const int rows = std::max(1, image->header.rows);
  std::vector<float> line(static_cast<size_t>(std::max(obj->width, 1)));
  std::vector<float *> held;
  for (int s = 0; s < obj->bandCount; s++) {
    const int band = obj->destBands[s] - 1;
    if (heldFloatLines(image, obj->desy, obj->height, band, &held) &&
        pooledPixelRows(op, c, held, nullptr, obj->desx, obj->width, rows)) {
      resetBoundBand(image, band);
      continue;
    }
    for (int k = 0; k < obj->height; k++) {
      c.y = static_cast<float>(k % rows);
      if (float *held = heldFloatLine(image, obj->desy + k, band)) {
        op->row(&c, held + obj->desx, nullptr, obj->width, 0);
        continue;
      }
      getFloatBILData(image, obj->desy + k, obj->desx, obj->width, band, line.data());
      op->row(&c, line.data(), nullptr, obj->width, 0);
      putFloatBILData(image, obj->desy + k, obj->desx, obj->width, band, line.data());
    }
    resetBoundBand(image, band);
  }
  updateClient(image, nullptr, 1);
}

/* Whether "=" of an operand image may copy its samples as they are: the
   same whole-byte type that floats hold exactly, and the operand's
   columns all inside it (outside ones read as 0). */
bool copiesSamples(const rimgObj *obj, const RAMIMG *operand, const PixelOperator *op) {
  const int type = obj->image->header.pixelid;
  return op->proc == opSet && operand->header.pixelid == type &&
         (type == P_BYTE || type == P_SBYTE || type == P_SHORT || type == P_USHORT ||
          type == P_FLOAT) &&
         int64_t{obj->srcx} + obj->width <= operand->header.columns && obj->image->getLineProc &&
         operand->getLineProc;
}

/* Whether the region and the band map cover every line of the image. */
bool coversEveryLine(const rimgObj *obj) {
  const ImageHeader &h = obj->image->header;
  if (obj->desx != 0 || obj->desy != 0 || obj->width != h.columns || obj->height != h.rows)
    return false;
  std::vector<char> written(static_cast<size_t>(std::max(h.nbands, 1)), 0);
  for (int s = 0; s < obj->bandCount; s++)
    if (obj->destBands[s] >= 1 && obj->destBands[s] <= h.nbands) written[obj->destBands[s] - 1] = 1;
  return std::all_of(written.begin(), written.end(), [](char w) { return w != 0; });
}

/* "=" of an operand image of the same type: each row's samples copied. */
void copyOperandImage(rimgObj *obj, RAMIMG *operand) {
  RAMIMG *image = obj->image;
  // A JPEG whose every line is about to be replaced is not decoded first.
  if (image->header.imgid == IMG_JPEG && image != operand && coversEveryLine(obj))
    claimRAMImageLines(image);
  const int opRows = std::max(1, operand->header.rows);
  const size_t size = getPixelBits(image->header.pixelid) / 8;
  std::vector<unsigned char> samples(size * static_cast<size_t>(std::max(obj->width, 1)));
  const bool direct = image != operand && image->getLineProc == getRAMImageLine &&
                      operand->getLineProc == getRAMImageLine;
  for (int s = 0; s < obj->bandCount; s++) {
    const int band = obj->destBands[s] - 1;
    for (int k = 0; k < obj->height; k++) {
      const int opRow = static_cast<int>((int64_t{obj->srcy} + k) % opRows);
      const unsigned char *from = operand->getLineProc(operand, opRow, obj->srcBands[s] - 1, 1);
      if (from && direct) {
        // Another image's cache line stays where it is while this one is
        // had (in one cache, loading a line may reuse the other's slot).
        unsigned char *to = image->getLineProc(image, obj->desy + k, band, 1);
        if (!to) continue;
        memcpy(to + size * obj->desx, from + size * obj->srcx, size * obj->width);
        setRAMImageDirty(image, obj->desy + k, band);
        continue;
      }
      if (from) memcpy(samples.data(), from + size * obj->srcx, size * obj->width);
      else std::fill(samples.begin(), samples.end(), 0);
      unsigned char *to = image->getLineProc(image, obj->desy + k, band, 1);
      if (!to) continue;
      memcpy(to + size * obj->desx, samples.data(), size * obj->width);
      setRAMImageDirty(image, obj->desy + k, band);
    }
    resetBoundBand(image, band);
  }
  updateClient(image, nullptr, 1);
}

/* applyPixelOperatorImage -- the operator over the region with an operand image's pixels. */
void applyPixelOperatorImage(rimgObj *obj, RAMIMG *operand, const PixelOperator *op,
                             const std::vector<float> &numbers) {
  RAMIMG *image = obj->image;
  if (copiesSamples(obj, operand, op)) {
    copyOperandImage(obj, operand);
    return;
  }
  PixelOperatorContext c = contextOf(operand, numbers, 1);
  const int opRows = std::max(1, operand->header.rows);
  const size_t n = static_cast<size_t>(std::max(obj->width, 1));
  std::vector<float> line(n), other(n);
  std::vector<float *> held;
  std::vector<const float *> operandLines(static_cast<size_t>(std::max(obj->height, 0)));
  for (int s = 0; s < obj->bandCount; s++) {
    const int band = obj->destBands[s] - 1;
    // Both images' lines where they lie: rows on the worker pool.
    const bool pooled =
        op->proc != opRand &&
        residentFloatOperands(operand, image, obj->srcy, obj->height, opRows,
                              obj->srcBands[s] - 1, obj->srcx, obj->width, &operandLines);
    if (pooled && heldFloatLines(image, obj->desy, obj->height, band, &held) &&
        pooledPixelRows(op, c, held, &operandLines, obj->desx, obj->width, opRows)) {
      resetBoundBand(image, band);
      continue;
    }
    for (int k = 0; k < obj->height; k++) {
      const int opRow = static_cast<int>((int64_t{obj->srcy} + k) % opRows);
      const float *values = residentFloatOperand(operand, image, opRow, obj->srcBands[s] - 1,
                                                 obj->srcx, obj->width);
      if (!values) {
        getFloatBILData(operand, opRow, obj->srcx, obj->width, obj->srcBands[s] - 1, other.data());
        values = other.data();
      }
      c.y = static_cast<float>(k % opRows);
      if (float *held = heldFloatLine(image, obj->desy + k, band)) {
        op->row(&c, held + obj->desx, values, obj->width, 0);
        continue;
      }
      getFloatBILData(image, obj->desy + k, obj->desx, obj->width, band, line.data());
      op->row(&c, line.data(), values, obj->width, 0);
      putFloatBILData(image, obj->desy + k, obj->desx, obj->width, band, line.data());
    }
    resetBoundBand(image, band);
  }
  updateClient(image, nullptr, 1);
}

/* applyPixelOperatorRange -- the operator over a data range, each axis low to high. */
void applyPixelOperatorRange(RAMIMG *image, const int range[6], const PixelOperator *op,
                             const std::vector<float> &numbers) {
  PixelOperatorContext c = contextOf(image, numbers, 0);
  const int c0 = std::min(range[0], range[1]), c1 = std::max(range[0], range[1]);
  const int r0 = std::min(range[2], range[3]), r1 = std::max(range[2], range[3]);
  const int b0 = std::min(range[4], range[5]), b1 = std::max(range[4], range[5]);
  const int count = c1 - c0 + 1;
  std::vector<float> line(static_cast<size_t>(count));
  for (int band = b0; band <= b1; band++) {
    for (int row = r0; row <= r1; row++) {
      getFloatBILData(image, row, c0, count, band, line.data());
      c.y = static_cast<float>(row);
      op->row(&c, line.data(), nullptr, count, c0);
      putFloatBILData(image, row, c0, count, band, line.data());
    }
    resetBoundBand(image, band);
  }
  updateClient(image, nullptr, 1);
}

/* One axis of a walk: from first toward last, one step at a time. */
struct BoundAxis {
  int first, last, step, length;
  explicit BoundAxis(int a, int b)
      : first(a), last(b), step(b >= a ? 1 : -1), length((b >= a ? b - a : a - b) + 1) {}
  int at(int64_t i) const { return first + static_cast<int>(i % length) * step; }
};

/*
 * applyPixelOperatorRangeImage --
 *     The operator over the bound image's data range with the operand's:
 *     each axis walks from its first number toward its second; the
 *     operand's axes advance with the bound image's and start again at
 *     their first numbers once they have reached their second.
 */
void applyPixelOperatorRangeImage(RAMIMG *image, const int dr[6], RAMIMG *operand,
                                  const int sr[6], const PixelOperator *op,
                                  const std::vector<float> &numbers) {
  PixelOperatorProc *proc = op->proc;
  PixelOperatorContext c = contextOf(operand, numbers, 1);
  const BoundAxis dc(dr[0], dr[1]), drow(dr[2], dr[3]), db(dr[4], dr[5]);
  const BoundAxis sc(sr[0], sr[1]), srow(sr[2], sr[3]), sb(sr[4], sr[5]);
  const int dLow = std::min(dr[0], dr[1]), sLow = std::min(sr[0], sr[1]);
  std::vector<float> line(static_cast<size_t>(dc.length)), other(static_cast<size_t>(sc.length));
  for (int bi = 0; bi < db.length; bi++) {
    const int band = db.at(bi), opBand = sb.at(bi);
    for (int ri = 0; ri < drow.length; ri++) {
      const int row = drow.at(ri), opRow = srow.at(ri);
      getFloatBILData(image, row, dLow, dc.length, band, line.data());
      getFloatBILData(operand, opRow, sLow, sc.length, opBand, other.data());
      c.y = static_cast<float>(opRow);
      for (int ci = 0; ci < dc.length; ci++) {
        const int column = dc.at(ci), opColumn = sc.at(ci);
        c.x = static_cast<float>(opColumn);
        c.value = line[column - dLow];
        c.operands[0] = other[opColumn - sLow];
        line[column - dLow] = proc(&c);
      }
      putFloatBILData(image, row, dLow, dc.length, band, line.data());
    }
    resetBoundBand(image, band);
  }
  updateClient(image, nullptr, 1);
}

/* ---- the object ---- */

int rimgObjInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv);

void rimgObjChangeProc(ClientData clientData);

/* The band maps of a record: one block, srcBands first. */
bool allocBandMaps(int bands, int **src, int **dest) {
  const int n = std::max(bands, 1);
  int *block = static_cast<int *>(gmemAlloc(static_cast<int>(2 * sizeof(int)) * n));
  if (!block) return false;
  *src = block;
  *dest = block + n;
  return true;
}

void setResult(Tcl_Interp *interp, const std::string &text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), -1));
}

/* A prefix of word at least minimum characters long. */
bool isPrefixOf(const char *given, const char *word, size_t minimum) {
  const size_t n = strlen(given);
  return n >= minimum && strncmp(given, word, n) == 0;
}

/* A decimal int word, whole. */
bool readDecimal(const char *text, int *value) {
  char *end = nullptr;
  errno = 0;
  long n = strtol(text, &end, 10);
  if (end == text || errno == ERANGE || n < INT_MIN || n > INT_MAX) return false;
  while (*end == ' ' || *end == '\t') end++;
  if (*end) return false;
  *value = static_cast<int>(n);
  return true;
}

/* A floating-point word, whole. */
bool readReal(const char *text, float *value) {
  char *end = nullptr;
  double d = strtod(text, &end);
  if (end == text) return false;
  while (*end == ' ' || *end == '\t') end++;
  if (*end) return false;
  *value = static_cast<float>(std::max(-3.4028234663852886e38, std::min(d, 3.4028234663852886e38)));
  return true;
}

/* Splits a Tcl list into ints; false when it is not a list of decimal ints. */
bool splitIntList(Tcl_Interp *interp, const char *text, std::vector<int> &out) {
  int n = 0;
  const char **items = nullptr;
  if (Tcl_SplitList(interp, text, &n, &items) != TCL_OK) return false;
  bool ok = true;
  for (int i = 0; i < n && ok; i++) {
    int v = 0;
    ok = readDecimal(items[i], &v);
    out.push_back(v);
  }
  Tcl_Free(reinterpret_cast<char *>(items));
  return ok;
}

bool splitRealList(Tcl_Interp *interp, const char *text, std::vector<float> &out) {
  int n = 0;
  const char **items = nullptr;
  if (Tcl_SplitList(interp, text, &n, &items) != TCL_OK) return false;
  bool ok = true;
  for (int i = 0; i < n && ok; i++) {
    float v = 0;
    ok = readReal(items[i], &v);
    out.push_back(v);
  }
  Tcl_Free(reinterpret_cast<char *>(items));
  return ok;
}

const char *objName(rimgObj *obj) { return Tcl_GetCommandName(obj->interp, obj->token); }

/*
 * openBoundImage --
 *     openRAMImage by tag and path, always with one reference counted.
 *     When the tag names an image and no image has the path, the registry
 *     re-reads that image in place from the file and counts nothing; the
 *     reference is counted here so that every caller may close it.
 * Results: the image, or null with the error code; *reread tells whether
 *     an image was re-read in place (its clients must be told).
 */
RAMIMG *openBoundImage(const char *tag, const char *path, int *err, bool *reread) {
  RAMIMG *tagged = tag ? getRAMImageByTag(tag) : nullptr;
  const bool rereads = tagged && path && *path && !getRAMImageByName(path);
  RAMIMG *image = openRAMImage(tag, path, nullptr, nullptr, err);
  *reread = false;
  if (image && rereads && image == tagged && strcmp(image->tag, tag) == 0 &&
      getRAMImageByName(path) == image) {
    image->refCount++;
    *reread = true;
  }
  return image;
}

}  // namespace

/*
 * rimgObjImageChanged --
 *     Brings the snapshot, region and band map to the image's present
 *     configuration.  An image that grew (or kept its size) with the same
 *     band count keeps everything; otherwise the region is cut to fit and
 *     the map keeps the pairs that still have a destination band.
 * Results: 1.
 */
int rimgObjImageChanged(rimgObj *obj) {
  RAMIMG *image = obj->image;
  if (!image) return 1;
  const ImageHeader &h = image->header;
  if (obj->srcBands && h.columns >= obj->columns && h.rows >= obj->rows &&
      h.nbands == obj->bands) {
    obj->columns = h.columns;
    obj->rows = h.rows;
    return 1;
  }
  obj->columns = h.columns;
  obj->rows = h.rows;
  obj->bands = h.nbands;
  if (obj->desx >= obj->columns) obj->desx = 0;
  if (obj->desy >= obj->rows) obj->desy = 0;
  if (obj->width == 0) obj->width = obj->columns;
  else obj->width = std::min(obj->width, obj->columns - obj->desx);
  if (obj->height == 0) obj->height = obj->rows;
  else obj->height = std::min(obj->height, obj->rows - obj->desy);

  int *src = nullptr, *dest = nullptr;
  if (!allocBandMaps(obj->bands, &src, &dest)) {
    // No room for maps of the new size: the object keeps no pairs.
    obj->bandCount = obj->maxSrcBand = 0;
    obj->mapCapacity = std::min(obj->mapCapacity, obj->bands);
    return 1;
  }
  if (obj->srcBands) {
    // The pairs are kept in order while their destination band exists.
    int kept = 0, largest = 0;
    for (int i = 0; i < obj->bandCount && kept < obj->bands; i++) {
      if (obj->destBands[i] > obj->bands) continue;
      src[kept] = obj->srcBands[i];
      dest[kept] = obj->destBands[i];
      largest = std::max(largest, src[kept]);
      kept++;
    }
    gmemFree(obj->srcBands);
    obj->bandCount = kept;
    obj->maxSrcBand = largest;
  } else {
    for (int i = 0; i < obj->bands; i++) src[i] = dest[i] = i + 1;
    obj->bandCount = obj->maxSrcBand = obj->bands;
  }
  obj->srcBands = src;
  obj->destBands = dest;
  obj->mapCapacity = obj->bands;
  return 1;
}

/*
 * rimgObjCmdDeleted --
 *     The delete procedure of an object's command: lets go of the image
 *     and frees the record.
 */
void rimgObjCmdDeleted(ClientData clientData) {
  rimgObj *obj = static_cast<rimgObj *>(clientData);
  if (obj->image) closeRAMImage(obj->image, &obj->client);
  obj->image = nullptr;
  if (obj->srcBands) gmemFree(obj->srcBands);
  obj->~rimgObj();
  gmemFree(obj);
}

namespace {

void rimgObjChangeProc(ClientData clientData) {
  rimgObjImageChanged(static_cast<rimgObj *>(clientData));
}

constexpr const char *kBindUsage = " -file FILE [-obj objName] [-roi ROI] [-bands bands]";

}  // namespace

/*
 * rimageBind --
 *     "rimage bind -file FILE ?-obj name? ?-roi ROI? ?-bands map?": makes
 *     or rebinds the object command of an image.
 * Results: the object's name; TCL_ERROR with a message, and no object
 *     made or left half made, on failure.
 */
int rimageBind(Tcl_Interp *interp, int argc, const char **argv) {
  ModuleOption options[] = {
      {"-obj", nullptr}, {"-file", nullptr}, {"-roi", nullptr}, {"-bands", nullptr},
      {nullptr, nullptr}};
  if (argc <= 2 || matchOptions(options, argc - 2, argv + 2) > 0) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], kBindUsage, (char *)nullptr);
    return TCL_ERROR;
  }
  const char *name = options[0].value, *file = options[1].value;
  const char *roi = options[2].value, *bandSpec = options[3].value;
  if (!file) {
    setResult(interp, "Error: FILE missing.");
    return TCL_ERROR;
  }
  // The name becomes the image's tag, which holds 255 characters.
  if (name && strlen(name) >= VESK_PATH_SIZE) {
    setResult(interp, "Error: objName too long.");
    return TCL_ERROR;
  }
  int err = 0;
  bool reread = false;
  RAMIMG *image = openBoundImage(name, file, &err, &reread);
  if (!image) return rimageOpenFailure(interp, err, std::string("Error in open ") + file);
  const std::string objectName = name ? name : image->tag;

  rimgObj *obj = nullptr;
  Tcl_CmdInfo info;
  if (Tcl_GetCommandInfo(interp, objectName.c_str(), &info)) {
    if (info.proc != rimgObjInstanceCmd || !info.clientData) {
      closeRAMImage(image, nullptr);
      setResult(interp, "Error: objName conflits with Tcl command.");
      return TCL_ERROR;
    }
    obj = static_cast<rimgObj *>(info.clientData);
    if (obj->image == image) {
      // Bound to this image already: its client keeps it, the new
      // reference is not needed.
      closeRAMImage(image, nullptr);
    } else if (obj->image) {
      closeRAMImage(obj->image, &obj->client);
    }
    obj->image = nullptr;
  } else {
    void *block = gmemAlloc(static_cast<int>(sizeof(rimgObj)));
    if (!block) {
      closeRAMImage(image, nullptr);
      setResult(interp, "Error: malloc");
      return TCL_ERROR;
    }
    obj = new (block) rimgObj();
    obj->interp = interp;
    obj->token = Tcl_CreateCommand(interp, objectName.c_str(), rimgObjInstanceCmd, obj,
                                   rimgObjCmdDeleted);
  }
  obj->image = image;
  rimgObjImageChanged(obj);
  obj->client.changeProc = rimgObjChangeProc;
  obj->client.redrawProc = nullptr;
  obj->client.rectProc = nullptr;
  obj->client.owner = obj;
  obj->client.clientData = obj;
  obj->client.next = nullptr;
  addClient(&obj->client, image);
  if (reread) updateClient(image, obj, 1);

  const char *failure = nullptr;
  if (roi && !parseRoi(roi, image->header.columns, image->header.rows, &obj->desx, &obj->desy,
                       &obj->srcx, &obj->srcy, &obj->width, &obj->height))
    failure = "Invalid ROI.";
  if (!failure && bandSpec) {
    const int n = parseBandMap(bandSpec, obj->mapCapacity, obj->destBands, obj->srcBands,
                               &obj->maxSrcBand);
    if (n == 0) failure = "Invalid band specification";
    else obj->bandCount = n;
  }
  if (failure) {
    Tcl_DeleteCommandFromToken(interp, obj->token);
    setResult(interp, failure);
    return TCL_ERROR;
  }
  setResult(interp, objName(obj));
  return TCL_OK;
}

namespace {

/*
 * rimgObjConfigure --
 *     Applies image options to a copy of the image's head.  Only a new
 *     file path takes effect: the image is re-read in place from it.
 *     Every client is then told the configuration changed.
 */
int rimgObjConfigure(rimgObj *obj, Tcl_Interp *interp, int argc, const char **argv) {
  RAMIMG *image = obj->image;
  ImageHeader copy = image->header;
  if (configRAMImageHead(&copy, interp, argc, argv) != TCL_OK) return TCL_ERROR;
  if (strcmp(copy.path, image->header.path) != 0) {
    flushRAMImage(image);
    int err = 0;
    // A memory image has no file to re-read: it is opened from the new one.
    if (!openRAMImageFile(copy.path, nullptr, image, &err)) {
      Tcl_AddErrorInfo(interp, getRAMImageErrorText(err));
      setResult(interp, std::string("Update ramimg error in open file: ") + copy.path);
      return TCL_ERROR;
    }
  }
  updateClient(image, nullptr, 1);
  return TCL_OK;
}

int boundUsage(Tcl_Interp *interp, std::initializer_list<const char *> words) {
  Tcl_ResetResult(interp);
  for (const char *w : words) Tcl_AppendResult(interp, w, (char *)nullptr);
  return TCL_ERROR;
}

int boundError(Tcl_Interp *interp, const char *message) {
  setResult(interp, message);
  return TCL_ERROR;
}

/* vget x y ?bandList? */
int rimgObjVget(rimgObj *obj, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4 && argc != 5)
    return boundUsage(interp, {"Usage: ", argv[0], " ", argv[1], " x y ?bandList?"});
  RAMIMG *image = obj->image;
  int x = 0, y = 0;
  if (!readDecimal(argv[2], &x) || !readDecimal(argv[3], &y) || x < 0 || y < 0 ||
      x >= image->header.columns || y >= image->header.rows)
    return boundError(interp, "Invalid pixel coordinates");
  if (argc == 4) {
    setResult(interp, fmt("%g", getPixelValue(image, x, y, 0)));
    return TCL_OK;
  }
  std::vector<int> bands;
  if (!splitIntList(interp, argv[4], bands)) return boundError(interp, "Error in parsing band list");
  for (int b : bands)
    if (b < 1 || b > image->header.nbands) return boundError(interp, "Invalid band list");
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (int b : bands)
    Tcl_ListObjAppendElement(nullptr, list,
                             Tcl_NewStringObj(fmt("%g", getPixelValue(image, x, y, b - 1)), -1));
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

/* vset x y valueList ?bandList? */
int rimgObjVset(rimgObj *obj, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 5 && argc != 6)
    return boundUsage(interp, {"Usage: ", argv[0], " ", argv[1], " x y valuelist ?bandList?"});
  RAMIMG *image = obj->image;
  int x = 0, y = 0;
  if (!readDecimal(argv[2], &x) || !readDecimal(argv[3], &y) || x < 0 || y < 0 ||
      x >= image->header.columns || y >= image->header.rows)
    return boundError(interp, "Invalid pixel coordinates");
  std::vector<float> values;
  if (!splitRealList(interp, argv[4], values)) return boundError(interp, "Error in parsing valuelist");
  if (static_cast<int>(values.size()) > image->header.nbands)
    return boundError(interp, "Too many values");
  std::vector<int> bands;
  if (argc == 6) {
    if (!splitIntList(interp, argv[5], bands)) return boundError(interp, "Error in parsing bandlist");
    if (bands.size() != values.size()) return boundError(interp, "Bands and values are not match");
  } else {
    for (size_t i = 0; i < values.size(); i++) bands.push_back(static_cast<int>(i) + 1);
  }
  for (size_t i = 0; i < values.size(); i++) {
    if (bands[i] < 1 || bands[i] > image->header.nbands)
      return boundError(interp, "Invalid band list");
    putFloatBILData(image, y, x, 1, bands[i] - 1, &values[i]);
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/*
 * rimgObjOperate --
 *     "?@range? operator ?operand ...?": parses everything first, then
 *     applies the operator to the region, a data range, or between this
 *     image and an operand image.
 */
int rimgObjOperate(rimgObj *obj, Tcl_Interp *interp, int argc, const char **argv) {
  RAMIMG *image = obj->image;
  const ImageHeader &h = image->header;
  int at = 1;
  const char *ownRange = nullptr;
  if (argv[1][0] == '@') {
    ownRange = argv[1];
    at = 2;
    if (argc < 3) return boundError(interp, "Unknown rimage operation or syntax error.");
  }
  const char *opName = argv[at];
  const int first = at + 1;
  int count = argc - first;
  if (count >= 2 && argv[first + 1][0] == '@') count--;
  const PixelOperator *op = findPixelOperator(opName, count);
  if (!op) return boundError(interp, "Unknown rimage operation or syntax error.");

  int dr[6] = {0, h.columns - 1, 0, h.rows - 1, 0, h.nbands - 1};
  if (ownRange && !parseDataRange(ownRange, h.columns, h.rows, h.nbands, dr))
    return boundError(interp, "Invalid data range");

  RAMIMG *operand = nullptr;
  if (count > 0 && !(argv[first][0] >= '0' && argv[first][0] <= '9')) {
    int err = 0;
    bool reread = false;
    operand = openBoundImage(argv[first], argv[first], &err, &reread);
    if (operand && reread) updateClient(operand, nullptr, 1);
  }
  std::vector<float> numbers;
  int code = TCL_OK;
  if (operand) {
    const ImageHeader &oh = operand->header;
    int sr[6] = {0, oh.columns - 1, 0, oh.rows - 1, 0, oh.nbands - 1};
    int next = first + 1;
    const bool opRange = next < argc && argv[next][0] == '@';
    if (opRange) {
      if (!parseDataRange(argv[next], oh.columns, oh.rows, oh.nbands, sr)) {
        closeRAMImage(operand, nullptr);
        return boundError(interp, "Invalid data range");
      }
      next++;
    }
    for (int i = next; i < argc; i++) {
      float v = 0;
      if (!readReal(argv[i], &v)) {
        closeRAMImage(operand, nullptr);
        return boundUsage(interp, {"invalid operand:", argv[i]});
      }
      numbers.push_back(v);
    }
    if (ownRange || opRange) {
      applyPixelOperatorRangeImage(image, dr, operand, sr, op, numbers);
    } else if (oh.nbands < obj->maxSrcBand) {
      code = boundError(interp, "In consistent operand rimage");
    } else {
      applyPixelOperatorImage(obj, operand, op, numbers);
    }
    closeRAMImage(operand, nullptr);
  } else {
    for (int i = first; i < argc; i++) {
      float v = 0;
      if (!readReal(argv[i], &v)) return boundUsage(interp, {"invalid operand:", argv[i]});
      numbers.push_back(v);
    }
    if (ownRange) applyPixelOperatorRange(image, dr, op, numbers);
    else applyPixelOperator(obj, op, numbers);
  }
  if (code != TCL_OK) return code;
  flushRAMImage(image);
  setResult(interp, objName(obj));
  return TCL_OK;
}

/*
 * rimgObjInstanceCmd --
 *     The command of a bound image: configure, cget, unbind, roi, bands,
 *     vget, vset, and the pixel operators.
 */
int rimgObjInstanceCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  rimgObj *obj = static_cast<rimgObj *>(clientData);
  if (argc < 2) {
    std::string text = "Commands: configure cget bands roi unbind vget vset ";
    for (const PixelOperator *row = pixelOperators; row->name; row++) {
      bool seen = false;
      for (const PixelOperator *p = pixelOperators; p != row && !seen; p++)
        seen = strcmp(p->name, row->name) == 0;
      if (!seen) text.append(row->name).append(" ");
    }
    setResult(interp, text);
    return TCL_OK;
  }
  Tcl_ResetResult(interp);
  if (!obj->image) return TCL_OK;
  const char *word = argv[1];
  try {
    if (isPrefixOf(word, "configure", 2)) return rimgObjConfigure(obj, interp, argc - 2, argv + 2);
    if (isPrefixOf(word, "cget", 2)) {
      if (argc != 3) return boundUsage(interp, {"Usage: \"", argv[0], " cget option\""});
      return headOptionValue(&obj->image->header, interp, argv[2]);
    }
    if (isPrefixOf(word, "unbind", 2)) {
      if (argc != 2) return boundUsage(interp, {"Usage: ", argv[0], " unbind"});
      Tcl_CmdInfo info;
      if (!Tcl_GetCommandInfo(interp, argv[0], &info) || info.proc != rimgObjInstanceCmd)
        return boundUsage(interp, {argv[0], " is not a rimgObj name"});
      Tcl_DeleteCommandFromToken(interp, obj->token);
      return TCL_OK;
    }
    if (isPrefixOf(word, "roi", 2)) {
      if (argc == 2) {
        setResult(interp, fmt("%d %d %d %d %d %d", obj->desx, obj->desy, obj->srcx, obj->srcy,
                              obj->width, obj->height));
        return TCL_OK;
      }
      if (argc != 3)
        return boundUsage(interp, {"Usage: ", argv[0], " roi {desx desy srcx srcy width height}"});
      if (!parseRoi(argv[2], obj->image->header.columns, obj->image->header.rows, &obj->desx,
                    &obj->desy, &obj->srcx, &obj->srcy, &obj->width, &obj->height))
        return boundError(interp, "Invalid ROI.");
      return TCL_OK;
    }
    if (isPrefixOf(word, "bands", 3)) {
      if (argc == 2) {
        Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < obj->bandCount; i++)
          Tcl_ListObjAppendElement(
              nullptr, list,
              Tcl_NewStringObj(fmt("%d:%d", obj->destBands[i], obj->srcBands[i]), -1));
        Tcl_SetObjResult(interp, list);
        return TCL_OK;
      }
      if (argc != 3) return boundUsage(interp, {"Usage: ", argv[0], " bands bandSpec"});
      const int n = parseBandMap(argv[2], obj->mapCapacity, obj->destBands, obj->srcBands,
                                 &obj->maxSrcBand);
      if (n == 0) return boundError(interp, "Invalid band specification");
      obj->bandCount = n;
      return TCL_OK;
    }
    if (isPrefixOf(word, "vget", 1)) return rimgObjVget(obj, interp, argc, argv);
    if (isPrefixOf(word, "vset", 2)) return rimgObjVset(obj, interp, argc, argv);
    return rimgObjOperate(obj, interp, argc, argv);
  } catch (const std::bad_alloc &) {
    return boundError(interp, "Memory allocation error");
  }
}

}  // namespace

}  // namespace vesk
