/*
 * calc.cpp --
 *     The "calc" utility command: script libraries, small calculators
 *     (angles, random numbers, permutations, times), the console services
 *     and the subcommand matching.  The process diagnostics live in
 *     calcsys.cpp.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <limits>
#include <string>
#include <vector>

#include "core/calc.h"
#include "core/console.h"
#include "core/core.h"
#include "core/families.h"
#include "core/options.h"
#include "core/text.h"
#include "vesk/meter.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

constexpr const char *kCalcCommands =
    "Commands: bands bitmap chars clrscr correl comptest compsave decompload d2r fgets fscanf "
    "fplane ftime freeDisk galloc gfree geocalc handles loadtime malloc memid memory meter panic "
    "test rand refImgCoord rrand r2d scangif scramble srand stime xyzRotate";

/*
 * The 15-bit generator behind "rand", "rrand", "srand" and "scramble": the
 * classic run-time library sequence, so a seed gives the same numbers on
 * every platform.
 */
uint32_t randomState = 1;

/* The largest permutation "scramble" builds: its text must fit one result. */
constexpr long kMaxScramble = 1L << 26;

int usageOk(Tcl_Interp *interp, const char *text) {
  Tcl_SetResult(interp, const_cast<char *>(text), TCL_VOLATILE);
  return TCL_OK;
}

int usageError(Tcl_Interp *interp, const char *text) {
  Tcl_SetResult(interp, const_cast<char *>(text), TCL_VOLATILE);
  return TCL_ERROR;
}

/* ---- calculators ---- */

int calcR2d(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3)
    return usageOk(interp, fmt("Usage: %s %s radian\n", argv[0], argv[1]));
  double degrees = atof(argv[2]) * 180 * 0.3183098861837907;
  Tcl_SetResult(interp, fmt("%f", degrees), TCL_VOLATILE);
  return TCL_OK;
}

int calcD2r(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3)
    return usageOk(interp, fmt("Usage: %s %s degree\n", argv[0], argv[1]));
  double radians = atof(argv[2]) * 3.141592653589793 * 0.005555555555555556;
  Tcl_SetResult(interp, fmt("%f", radians), TCL_VOLATILE);
  return TCL_OK;
}

int calcRand(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) return usageError(interp, fmt("Usage: %s %s [seed|max]", argv[0], argv[1]));
  if (argc == 3) {
    if (strcmp(argv[2], "max") == 0) return usageOk(interp, "32767");
    seedRandom(static_cast<unsigned>(atol(argv[2])));
  }
  Tcl_SetResult(interp, fmt("%d", nextRandom()), TCL_VOLATILE);
  return TCL_OK;
}

int calcRrand(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 3) return usageError(interp, fmt("Usage: %s %s [density]", argv[0], argv[1]));
  long density = argc == 3 ? atol(argv[2]) : 1;
  if (density <= 0) return usageError(interp, "density must be an integer.");
  double sum = 0;
  for (long i = 0; i < density; i++) sum += nextRandom();
  Tcl_SetResult(interp, fmt("%.8f", sum / (static_cast<double>(density) * 32767)), TCL_VOLATILE);
  return TCL_OK;
}

int calcSrand(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc == 3)
    seedRandom(static_cast<unsigned>(atol(argv[2])));
  else
    seedRandom(static_cast<unsigned>(time(nullptr)));
  return TCL_OK;
}

/*
 * calcScramble --
 *     "calc scramble n|list": a permutation of 0..n-1, or of the list's
 *     elements.  Each position i is exchanged with a position drawn from
 *     the generator; only the low 8 bits of the draw are kept, so
 *     positions beyond 255 are never drawn.
 */
int calcScramble(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    vesk_printf("Usage %s %s n|list\n", argv[0], argv[1]);
    return TCL_ERROR;
  }
  int count = 0;
  const char **elements = nullptr;
  if (Tcl_SplitList(interp, argv[2], &count, &elements) != TCL_OK) return TCL_ERROR;
  long n = count == 1 ? atol(elements[0]) : count;
  if (count == 0 || n < 1) {
    Tcl_Free(reinterpret_cast<char *>(elements));
    Tcl_AddErrorInfo(interp, "Invalid scramble param.\n");
    return usageError(interp, "Invalid scramble param.\n");
  }
  std::vector<long> order;
  try {
    if (n > kMaxScramble) throw std::bad_alloc();
    order.resize(static_cast<size_t>(n));
  } catch (const std::exception &) {
    Tcl_Free(reinterpret_cast<char *>(elements));
    Tcl_AddErrorInfo(interp, "Error in malloc.\n");
    return usageError(interp, "Error in malloc.\n");
  }
  for (long i = 0; i < n; i++) order[static_cast<size_t>(i)] = i;
  const float d = n == 1 ? std::numeric_limits<float>::infinity()
                         : static_cast<float>(32767.0 / static_cast<double>(n - 1));
  for (long i = 0; i < n; i++) {
    long j = roundToInt(nextRandom() / d) & 0xff;
    if (j > n - 1) j = n - 1;
    std::swap(order[static_cast<size_t>(i)], order[static_cast<size_t>(j)]);
  }
  for (long i = 0; i < n; i++) {
    long k = order[static_cast<size_t>(i)];
    if (count == 1)
      Tcl_AppendElement(interp, fmt("%ld", k));
    else
      Tcl_AppendElement(interp, elements[k]);
  }
  Tcl_Free(reinterpret_cast<char *>(elements));
  return TCL_OK;
}

/*
 * calcChars --
 *     "calc chars characters [offset]": the code of every byte plus the
 *     offset, each followed by a blank.
 */
int calcChars(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3 && argc != 4) return usageOk(interp, "Usage: calc chars characters [offset]\n");
  /* The sum wraps as a machine word would: an offset near the limit must
     not overflow. */
  unsigned long offset = static_cast<unsigned long>(argc == 4 ? atol(argv[3]) : 0);
  std::string out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(argv[2]); *p; p++)
    out += fmt("%ld ", static_cast<long>(*p + offset));
  Tcl_SetResult(interp, const_cast<char *>(out.c_str()), TCL_VOLATILE);
  return TCL_OK;
}

/*
 * calcBands --
 *     "calc bands [bandList]": prints the 0-based pairs of a band list
 *     over 8192 bands on each side; without a text, the identity.
 */
int calcBands(Tcl_Interp *, int argc, const char **argv) {
  std::vector<int> source(kMaxBandPairs), dest(kMaxBandPairs);
  const char *text = argc >= 3 ? argv[2] : nullptr;
  int n = parseBandList(kMaxBandPairs, kMaxBandPairs, source.data(), dest.data(), text);
  if (n <= 0) {
    vesk_printf("Error in parse bands: %s\n", text ? text : "");
    return TCL_OK;
  }
  for (int i = 0; i < n; i++) vesk_printf("%d %d\n", source[static_cast<size_t>(i)], dest[static_cast<size_t>(i)]);
  return TCL_OK;
}

/* ---- console services ---- */

/* "calc clrscr": clears the console. */
int calcClrscr(Tcl_Interp *, int, const char **) {
  clearConsole();
  return TCL_OK;
}

/* "calc gotoxy x y text": moves the console's cursor and prints the text. */
int calcGotoxy(Tcl_Interp *, int argc, const char **argv) {
  if (argc != 5) {
    vesk_fprintf(stderr, "Usage: calc gotoxy x y text\n");
    return TCL_ERROR;
  }
  gotoConsoleXY(atoi(argv[2]), atoi(argv[3]));
  vesk_printf("%s", argv[4]);
  return TCL_OK;
}

/*
 * calcMeter --
 *     "calc meter": resets the progress meter; "calc meter msg pct" sets it
 *     to pct percent.
 */
int calcMeter(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc == 2) {
    meterReset();
    return TCL_OK;
  }
  if (argc != 4) return usageError(interp, "Usage: calc meter msg pct");
  float percent = 0;
  sscanf(argv[3], "%f", &percent);
  vesk_fprintf(stderr, "pct: %s %f\n", argv[3], percent);
  meterSet(argv[2], percent * 0.01f);
  return TCL_OK;
}

/*
 * calcTest --
 *     "calc test": shows the standard FILEs' descriptors, writes through
 *     the standard output FILE and reads a number and a word twice from
 *     the console, once with scanf and once with fscanf of stdin.
 */
int calcTest(Tcl_Interp *, int, const char **) {
  vesk_printf("stdin: %d stdout: %d stderr: %d\n", fileno(stdin), fileno(stdout), fileno(stderr));
  vesk_fprintf(stdout, "int: %d string: %s\n", 100, "abcd");
  float number = 0;
  char word[256] = "";
  vesk_fprintf(stderr, "Enter a number and a string: ");
  vesk_scanf("%f %255s", &number, word);
  vesk_printf("%f %s\n", number, word);
  vesk_fprintf(stdout, "Enter a number and a string: ");
  vesk_fscanf(stdin, "%f %255s", &number, word);
  return TCL_OK;
}

/* ---- subcommand matching ---- */

/*
 * The subcommands in matching order.  The first letter of the word picks
 * the rows that share it; the word must be at least minimum characters
 * long and a prefix of the name.  A row without a procedure is a
 * subcommand that this build does not carry: it answers as an unknown
 * word does.  The rows of subcommands that other subsystems carry
 * (bitmap, scangif, geocalc) get their procedures from those subsystems'
 * start-up (registerCalcSubcommand).
 */
struct CalcSubcommand {
  const char *name;
  size_t minimum;
  CalcProc *proc;
};
CalcSubcommand calcSubcommands[] = {
    {"chars", 5, calcChars},
    {"correl", 5, calcCorrel},
    {"comptest", 5, calcComptest},
    {"compsave", 5, calcCompsave},
    {"clrscr", 5, calcClrscr},
    {"bands", 4, calcBands},
    {"bitmap", 4, nullptr},
    {"d2r", 3, calcD2r},
    {"decompload", 4, calcDecompload},
    {"ftime", 3, calcFtime},
    {"fplane", 3, calcFplane},
    {"freeDisk", 3, calcFreeDisk},
    {"fgets", 3, calcFgets},
    {"fscanf", 3, calcFscanf},
    {"galloc", 5, calcGalloc},
    {"gfree", 5, calcGfree},
    {"gotoxy", 5, calcGotoxy},
    {"geocalc", 5, nullptr},
    {"handles", 5, calcHandles},
    {"loadtime", 4, calcLoadtime},
    {"malloc", 4, calcMalloc},
    {"memory", 4, calcMemory},
    {"memid", 4, calcMemid},
    {"meter", 4, calcMeter},
    {"panic", 3, calcPanic},
    {"r2d", 3, calcR2d},
    {"refImgCoord", 3, calcRefImgCoord},
    {"rand", 3, calcRand},
    {"rrand", 3, calcRrand},
    {"realloc", 3, calcRealloc},
    {"stime", 4, calcStime},
    {"scramble", 4, calcScramble},
    {"scangif", 4, nullptr},
    {"srand", 4, calcSrand},
    {"test", 4, calcTest},
    {"xyzRotate", 3, calcXyzRotate},
};

const CalcSubcommand *findCalcSubcommand(const char *word) {
  size_t length = strlen(word);
  for (const CalcSubcommand &row : calcSubcommands) {
    if (row.name[0] != word[0]) continue;
    if (length >= row.minimum && strncmp(word, row.name, length) == 0) return &row;
  }
  return nullptr;
}

/*
 * calcCmd --
 *     The "calc" command.  No subcommand lists them; an unknown word
 *     answers "Unknown command" with TCL_OK.
 */
int calcCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) return usageOk(interp, kCalcCommands);
  const CalcSubcommand *row = findCalcSubcommand(argv[1]);
  if (!row || !row->proc) return usageOk(interp, "Unknown command");
  try {
    return row->proc(interp, argc, argv);
  } catch (const std::exception &) {
    return usageError(interp, "Error in malloc.\n");
  }
}

}  // namespace

void seedRandom(unsigned seed) { randomState = seed; }

int nextRandom() {
  randomState = randomState * 214013u + 2531011u;
  return static_cast<int>((randomState >> 16) & 0x7fff);
}

bool registerCalcSubcommand(const char *name, CalcProc *proc) {
  for (CalcSubcommand &row : calcSubcommands) {
    if (strcmp(row.name, name) == 0) {
      row.proc = proc;
      return true;
    }
  }
  return false;
}

/* Calc_Init -- creates "calc"; 1 when Tcl refuses it. */
int Calc_Init(Tcl_Interp *interp) {
  return Tcl_CreateCommand(interp, "calc", calcCmd, nullptr, nullptr) ? 0 : 1;
}

}  // namespace vesk
