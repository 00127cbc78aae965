/*
 * options.h --
 *     Private interface of the option vocabulary: the custom Tk options of
 *     ids, file names, image descriptions, band combinations and palettes;
 *     the func, range and rotation vocabularies; the option tables of
 *     processing modules; band lists; the module parameter file.
 */
#ifndef VESK_CORE_OPTIONS_H
#define VESK_CORE_OPTIONS_H

#include <string>
#include "vesk/options.h"

namespace vesk {

/* The kinds of the custom options, in the order of idKinds. */
enum IdKindIndex {
  ID_FILE,
  ID_PALETTE,
  ID_COMB,
  ID_IMGDES,
  ID_MAPID,
  ID_IMGID,
  ID_IMGTYPE,
  ID_PIXEL,
  ID_FUNC,
  ID_RANGE,
  ID_ROTATIONID,
  ID_KIND_COUNT
};
extern IdKind idKinds[ID_KIND_COUNT];

/* Size of the text fields of fileOption and imgdesOption. */
inline constexpr int kOptionTextSize = 256;

/* Custom options; the field each one configures is noted beside it. */
extern Tk_CustomOption fileOption;       /* char[256] file name */
extern Tk_CustomOption imgdesOption;     /* char[256] image description */
extern Tk_CustomOption combOption;       /* int[4]: band count, three band numbers */
extern Tk_CustomOption paletteOption;    /* int[4]: -1 default, n colours or 0, three levels */
extern Tk_CustomOption mapidOption;      /* int ids from here on */
extern Tk_CustomOption imgidOption;
extern Tk_CustomOption imgtypeOption;
extern Tk_CustomOption pixelOption;
extern Tk_CustomOption funcOption;
extern Tk_CustomOption rangeOption;
extern Tk_CustomOption rotationidOption;

Tk_OptionParseProc parseFileOption;
Tk_OptionPrintProc printFileOption;
Tk_OptionParseProc parseImgdesOption;
Tk_OptionPrintProc printImgdesOption;
Tk_OptionParseProc parseCombOption;
Tk_OptionPrintProc printCombOption;
Tk_OptionParseProc parsePaletteOption;
Tk_OptionPrintProc printPaletteOption;

/* The vocabularies of enhancement functions, stretch ranges and rotation orders. */
int getFuncid(const char *name);
const char *getFuncidName(int id);
int getRangeid(const char *name);
const char *getRangeidName(int id);
int getRotationid(const char *name);
const char *getRotationidName(int id);

/*
 * A row of a module's option table: the option word, and the argument word
 * given with it (not a copy), NULL when the option was not given.  A table
 * ends with a row whose name is NULL.
 */
struct ModuleOption {
  const char *name;
  const char *value;
};
int matchOptions(ModuleOption *table, int argc, const char *const *argv);

/* Band lists: pairs of 0-based source and destination band indices. */
inline constexpr int kMaxBandPairs = 8192;
int getListNumber(const char **cursor, long *value);
int parseNumberList(const char *text, int *out, int capacity);
int parseBandPair(int *source, int *dest, int capacity, const char *item);
int parseBandList(int sourceBands, int destBands, int *source, int *dest, const char *text);

int askYesNo(const char *question);

/* The module parameter file: 256-byte records, the name in the first 16. */
inline constexpr int kModuleRecordSize = 256;
inline constexpr int kModuleNameSize = 16;
inline constexpr int kModuleTextMax = kModuleRecordSize - kModuleNameSize - 1;
int openModuleConfig(const char *path);
int findModuleRecord(int fd, const char *name, char *record);
int readModuleConfig(const char *path, const char *name, ModuleOption *table);
int mergeModuleParams(char *record, const ModuleOption *table);
int writeModuleConfig(const char *path, const char *name, const ModuleOption *table);
int makeModuleName(std::string &out, int argc, const char *const *argv);

}  // namespace vesk

#endif
