/*
 * gcpset.h --
 *     Ground control point sets: up to 300 points pairing a source position
 *     (x1, y1) with a target position (x2, y2), the least-squares
 *     polynomials of x2 and y2 in x1 and y1, the GCPOBJ file, and the
 *     interactive "CML> " editor that works on one set.
 */
#ifndef VESK_GEOMETRY_GCPSET_H
#define VESK_GEOMETRY_GCPSET_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

namespace vesk {

inline constexpr int kGcpCapacity = 300;
inline constexpr int kGcpLineSize = 128;   /* the editor's input line, NUL included */
inline constexpr int kGcpMaxWords = 4;     /* the editor's word table */

/* One control point; the GCPOBJ file holds the same 48 bytes, little-endian. */
struct GcpRecord {
  int32_t selected = 0;   /* nonzero: the point takes part in fits */
  int32_t id = 0;         /* the user's number; look-ups take the first match */
  double x1 = 0, y1 = 0;  /* source position, the fit's input */
  double x2 = 0, y2 = 0;  /* target position, the fit's output */
  float dx = 0, dy = 0;   /* residuals of the last fit: observed minus predicted */
};
static_assert(sizeof(GcpRecord) == 48, "a GCP record is 48 bytes");

/*
 * A GCP set with its fit and the editor's state.  One gmemAlloc block; the
 * records and the three arrays are owned by the set.  Icoef, Jcoef and xy
 * exist exactly when a fit is held (termCount > 0).
 */
struct GCPOBJ {
  GcpRecord *records;       /* capacity slots */
  int capacity;
  int count;                /* records in use, slots 0 .. count-1 */
  int current;              /* the editor's list position */
  int running;              /* 1 while the editor goes on */
  int lineLength;           /* length of the editor's last line */
  int wordCount;            /* words of the editor's last line */
  int modified;             /* records or fit changed since the last save */
  int termCount;            /* terms of the current fit; 0: no fit */
  int power;                /* power of the current fit (0: bilinear) */
  char line[kGcpLineSize];
  char words[kGcpLineSize]; /* lower-cased copy of line, cut into words */
  char *wordPtrs[kGcpMaxWords];
  char helpFile[80];        /* appended to the documentation folder */
  double *Icoef;            /* termCount coefficients of the Y2 polynomial */
  double *Jcoef;            /* termCount coefficients of the X2 polynomial */
  double *xy;               /* termCount + 2 doubles: the terms of one position */
  double meanX1, meanY1, meanY2, meanX2;
  double MSRJ, MSRI, MSR;   /* rms residual of X2, of Y2, of both */
};

/* Terms of a fit of the given power: N(N+3)/2 + 1, or 4 for power 0. */
int gcpTermCount(int power);

GCPOBJ *createGcpSet(const GCPOBJ *source);
void freeGcpSet(GCPOBJ *set);
int parseGcpRecord(GCPOBJ *set, const char *text);
int formatGcpResidual(const GCPOBJ *set, int i, char *buffer);
int fitGcpPolynomial(GCPOBJ *set, int power);
int solveGcpPolynomial(GCPOBJ *set, int power);
void gcpTerms(GCPOBJ *set, double x, double y);
int evalGcpPolynomial(GCPOBJ *set, double x, double y, double *y2, double *x2);
char *formatJcoef(const GCPOBJ *set, const char *format, char *buffer);
char *formatIcoef(const GCPOBJ *set, const char *format, char *buffer);
char *formatGcpErrors(const GCPOBJ *set, const char *format, char *buffer);
int saveGcpFunction(const GCPOBJ *set, const char *path);
int findGcpById(const GCPOBJ *set, int id, int *index);
void deleteGcpAt(GCPOBJ *set, int index);
void exchangeGcpPoints(GCPOBJ *set);
void freeGcpFit(GCPOBJ *set);
int writeGcpFile(GCPOBJ *set, const char *path);
GCPOBJ *readGcpFile(const char *path);

/* The editor's text files: records to load and the help. */
FILE *openGcpTextFile(const char *path, std::string *why);
void loadGcpRecords(GCPOBJ *set, FILE *file);
bool printGcpHelpEntry(FILE *file, const char *topic);

/* Replaces path with the bytes only once all are written; 0, or 1 open / 2 write failure. */
int writeWholeFile(const char *path, const void *data, size_t size);

/* Room formatJcoef, formatIcoef and formatGcpErrors need (each number cut to 255 bytes). */
int gcpCoefBufferSize(const GCPOBJ *set);

/* The editor (gcpedit.cpp). */
int runGeocalc(GCPOBJ *set);
int splitCmlLine(GCPOBJ *set);
int dispatchCmlCommand(GCPOBJ *set, int wordCount, char **words);
int rimageGeocalc(const char *prog, int argc, const char **argv);

/* Gives "calc" its geocalc subcommand (geocalc.cpp). */
void registerCalcGeocalc();

}  // namespace vesk

#endif
