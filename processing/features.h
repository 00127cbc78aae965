/*
 * features.h --
 *     Feature sets: the one container of what the statistics and
 *     classification tools learn from an image (band statistics, their
 *     eigenvectors, cluster centres), kept as a single block that is
 *     also the feature file.  Every field of the block is a little-endian
 *     int32, float or double stored through the byte-order helpers, so
 *     the block is the file on every host.  Also the matrix kernels the
 *     tools share and the console reports of the three kinds.
 */
#ifndef VESK_PROCESSING_FEATURES_H
#define VESK_PROCESSING_FEATURES_H

#include <stdint.h>
#include <string>
#include <vector>

struct Tcl_Interp;

namespace vesk {

/* A feature block: only ever handled through a pointer and the procedures below. */
struct FeatureSet;

/* Kind codes of the tags (getFeatureInfo code 5). */
enum FeatureKind { FEATURE_UNKNOWN = 0, FEATURE_STAT = 1, FEATURE_EIGEN = 2, FEATURE_ISO = 3 };

/* The tags; each is read as its first 8 bytes ("EIGENID" ends with its zero). */
inline constexpr const char *kStatTag = "STATFTUR";
inline constexpr const char *kEigenTag = "EIGENID";
inline constexpr const char *kIsoTag = "ISOFEATU";

/* Offsets of the head words. */
inline constexpr int kFeatureTotalAt = 8;
inline constexpr int kFeatureModifiedAt = 12;
inline constexpr int kFeatureHeadAt = 16;
inline constexpr int kFeatureItemBytesAt = 20;
inline constexpr int kFeatureCountAt = 24;
inline constexpr int kFeatureBandsAt = 28;
inline constexpr int kFeatureFixedHead = 32;   /* band list follows */
inline constexpr int kFeatureFirstRead = 36;   /* what identifies a file */

/* Extra heads and text fields. */
inline constexpr int kStatExtraSize = 192;     /* source 64, note 128 */
inline constexpr int kStatSourceSize = 64;
inline constexpr int kStatNoteSize = 128;
inline constexpr int kStatNameSize = 32;       /* item name and note, zero-terminated */
inline constexpr int kEigenSourceSize = 512;
inline constexpr int kIsoExtraSize = 152;      /* RMS, DIS, samples, classes, source 128 */
inline constexpr int kIsoSourceSize = 128;

/* ---- sets and files ---- */
FeatureSet *newFeature(const char *tag, const int *bands, int n, int itemBytes, int count,
                       const void *extra, int extraBytes);
void freeFeature(FeatureSet *set);
FeatureSet *addFeature(FeatureSet *set, const void *item);
FeatureSet *cutFeature(FeatureSet *set, int count);
FeatureSet *delFeatureItem(FeatureSet *set, int index);
unsigned char *getFeatureItem(FeatureSet *set, int index);
unsigned char *getFeatureExtra(FeatureSet *set);
int getFeatureExtraSize(const FeatureSet *set);
void setFeatureExtra(FeatureSet *set, const void *data, int bytes);
int getFeatureBand(const FeatureSet *set, int position);
int getFeatureInfo(const FeatureSet *set, int code);
int getFeatureModified(const FeatureSet *set);
int getFeatureKind(const unsigned char *tag);
std::string checkFeatureBlock(const unsigned char *block, int64_t size);
FeatureSet *getFeature(const char *fileName, const char *tag);
int putFeature(const char *fileName, const FeatureSet *set);

/* ---- statistics items ---- */

/* One StatItem decoded; means and the packed covariance as doubles. */
struct StatItem {
  std::string name;             /* at most 31 characters in the block */
  std::string note;             /* creation time text, or empty */
  int32_t count = 0;            /* pixels merged so far */
  int32_t sequence = 0;         /* the item's index when it was made */
  std::vector<double> mean;     /* n values */
  std::vector<double> cov;      /* n(n+1)/2 values, packed lower triangle */
};

int statItemSize(int n);
inline int packedIndex(int i, int j) { return j <= i ? j + i * (i + 1) / 2 : i + j * (j + 1) / 2; }
int findStatItem(const FeatureSet *set, const char *name);
bool readStatItem(const FeatureSet *set, int index, StatItem *item);
bool writeStatItem(FeatureSet *set, int index, const StatItem &item);
unsigned char *getStatMean(FeatureSet *set, int index);
unsigned char *getStatCov(FeatureSet *set, int index);
int normalizeStatCov(FeatureSet *set, int index);
int invertStatCov(FeatureSet *set, int index, double *determinant);
int mergeStatItem(FeatureSet *set, int index, const double *cov2, const double *mean2,
                  int batch);
void accumulateStatSums(double *cross, double *sums, int n, const float *pixels, int count);
int mergeStatSums(int running, int n, double *moments, double *means, const double *cross,
                  const double *sums, int batch);
void subtractMeanProduct(double *moments, const double *means, int n);
int addStatSums(FeatureSet *set, int index, const double *cross, const double *sums, int batch);
int finishStatItem(FeatureSet *set, int index, const char *name, int sequence);

/* ---- eigenvectors ---- */

/* One EIGENID item decoded. */
struct EigenItem {
  int32_t index = 0;            /* order of computation, from 0 */
  float value = 0;              /* eigenvalue */
  float percent = 0;            /* of the trace */
  std::vector<double> vector;   /* n components, unit length */
};

/* The EIGENID extra head decoded. */
struct EigenExtra {
  std::string source;           /* "name index" of the source StatItem */
  int32_t normalized = 0;       /* 1: computed from correlations */
  std::vector<double> variance; /* per band, before normalisation */
  std::vector<double> mean;
};

int eigenItemSize(int n);
int eigenExtraSize(int n);
bool getEigenItem(const FeatureSet *set, int index, EigenItem *item);
bool getEigenExtra(const FeatureSet *set, EigenExtra *extra);
FeatureSet *newEigenFeature(FeatureSet *stat, int index, int normalized, int count);
FeatureSet *calcAllEV(int count, FeatureSet *stat, int normalize, int index, float tolerance,
                      int maxIterations);
double calcEV(double *packed, double *v, int n, float tolerance, int maxIterations);

/* ---- matrices ---- */
double dgb(double *a, int n);
double invertPackedMatrix(double *packed, int n);

/* ---- reports on the console's standard output ---- */
void printFeatureBands(const FeatureSet *set);
void printStatSource(const FeatureSet *set);
void printStatItem(const FeatureSet *set, int index, int flags);
void printStatMeans(const double *means, int n);
void printStatStd(const double *cov, int n);
void printStatMatrix(const double *cov, int n, int correlation);
void printEigenInfo(const FeatureSet *set);
void printEigenVectors(const FeatureSet *set, int withVectors);
void printEigenVector(const FeatureSet *set, int index);
void printIsoInfo(const FeatureSet *set);
void isoPrint(const FeatureSet *set, int flag);

/* Feature objects' result formats (featureobj.cpp). */
int appendStatItem(Tcl_Interp *interp, FeatureSet *set, int index, int flags);

}  // namespace vesk

#endif
