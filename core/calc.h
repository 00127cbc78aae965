/*
 * calc.h --
 *     Private interface of the "calc" command and the script-library codec
 *     it carries: the codec's buffer-level core (no I/O, no Tcl) and the
 *     subcommand procedures.
 */
#ifndef VESK_CORE_CALC_H
#define VESK_CORE_CALC_H

#include <stddef.h>
#include <tcl.h>
#include <string>

namespace vesk {

/* ---- script libraries (scrbcomp.cpp) ---- */

/*
 * Layout of a script library: the magic, a selector byte, the compressed
 * body length and the script length (NUL included) as decimal texts in
 * fixed fields, then the body.
 */
inline constexpr const char kScriptLibMagic[] = "SCRBCOMP";
inline constexpr size_t kScriptLibMagicSize = 8;
inline constexpr size_t kScriptLibSelectorOffset = 8;
inline constexpr size_t kScriptLibBodyLengthOffset = 9;
inline constexpr size_t kScriptLibScriptLengthOffset = 21;
inline constexpr size_t kScriptLibLengthFieldSize = 12;
inline constexpr size_t kScriptLibHeaderSize = 33;
/* The selector the writer stores: table 1, body substituted. */
inline constexpr int kScriptLibWriteSelector = 3;
/* File pieces of the codec's reads and writes. */
inline constexpr size_t kScriptLibPieceSize = 32767;

/* The header of a script library, as read from a file. */
struct ScriptLibHeader {
  int selector = 0;        /* bit 0: body substituted; bits 1-7: table index */
  long long bodyLength = 0;   /* compressed bytes after the header */
  long long scriptLength = 0; /* script bytes, terminating NUL included */
};

/* Outcome of the buffer-level decoder. */
enum ScriptLibStatus {
  SCRIPTLIB_OK = 0,
  SCRIPTLIB_NOT_LIBRARY,   /* no magic: a plain script */
  SCRIPTLIB_BAD_VERSION,   /* selector 0 or 1, or a table this build lacks */
  SCRIPTLIB_CORRUPT,       /* lengths that the file cannot hold, or a bad body */
  SCRIPTLIB_NO_MEMORY,
};

int substituteBytes(int selector, unsigned char *bytes, size_t length);
const unsigned char *substitutionTable(int index);
int scriptLibTableCount();
bool hasScriptLibMagic(const unsigned char *data, size_t size);
int parseScriptLibHeader(const unsigned char *data, size_t size, ScriptLibHeader &header);
int decodeScriptLib(const unsigned char *data, size_t size, std::string &script, int *zlibCode);
int encodeScriptLib(const char *script, size_t length, std::string &out, int *zlibCode);

/* A subcommand procedure: the interpreter and the words of the command. */
typedef int CalcProc(Tcl_Interp *interp, int argc, const char **argv);

/*
 * Gives a subcommand that another subsystem carries (bitmap, scangif,
 * geocalc) its procedure: its row keeps its place in the matching order
 * and answers as an unknown word until then.  False for a name "calc"
 * does not list.
 */
bool registerCalcSubcommand(const char *name, CalcProc *proc);

void scriptLibDebug(Tcl_Interp *interp, const char *label);
int calcCompsave(Tcl_Interp *interp, int argc, const char **argv);
int calcDecompload(Tcl_Interp *interp, int argc, const char **argv);
int calcComptest(Tcl_Interp *interp, int argc, const char **argv);

/* ---- the command's generator (calc.cpp) ---- */
void seedRandom(unsigned seed);
int nextRandom();

/* ---- times and process diagnostics (calcsys.cpp) ---- */
CalcProc calcFtime, calcStime, calcLoadtime, calcFreeDisk, calcHandles, calcMemory;
CalcProc calcMalloc, calcRealloc, calcGalloc, calcGfree, calcMemid, calcFgets, calcFscanf;
CalcProc calcPanic;

/* ---- geometry and correlation calculators (calcgeom.cpp) ---- */
CalcProc calcFplane, calcXyzRotate, calcRefImgCoord, calcCorrel;

}  // namespace vesk

#endif
