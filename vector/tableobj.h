/*
 * tableobj.h --
 *     Table objects: generic objects of class TABLE whose payload is a
 *     dBase store, and the predicate scripts of their "match" subcommand.
 */
#ifndef VESK_VECTOR_TABLEOBJ_H
#define VESK_VECTOR_TABLEOBJ_H

#include <stdio.h>

#include <string>
#include <vector>

#include "vector/dbase.h"

namespace vesk {

/* Expanded predicate scripts must fit this many bytes. */
inline constexpr size_t kMatchScriptLimit = 5120;

/* One piece of a compiled predicate script. */
struct MatchPiece {
  enum Kind { TEXT, INDEX, RECORD, FIELD } kind = TEXT;
  std::string text; /* TEXT: the literal text */
  int field = 0;    /* FIELD: the field's index */
};

/*
 * compileMatchScript --
 *     Splits a predicate script into literal text and references to the
 *     record index, the whole record and fields by name.
 * Results:      false when the script names a field the table lacks.
 */
bool compileMatchScript(const DBaseTable *table, const char *script,
                        std::vector<MatchPiece> &pieces);

/*
 * expandMatchScript --
 *     The script of one record: references replaced by the record's
 *     values, each value a single word of the script.
 * Results:      false when the expanded text does not fit the limit.
 */
bool expandMatchScript(const DBaseTable *table, const std::vector<MatchPiece> &pieces, int record,
                       std::string &out);

/* Plain-text helpers for table readers. */
char *readTextLine(FILE *file, char *buffer, int size);
char *trimBlanks(char *text);

}  // namespace vesk

#endif
