/*
 * hash.h --
 *     Heap-allocated hash tables over Tcl's, for native modules that keep
 *     tables without Tcl's macros: one-word keys (ints, pointers) or string
 *     keys, iteration, sorted key arrays and clean-up.
 */
#ifndef VESK_HASH_H
#define VESK_HASH_H

#include "vesk/vesk.h"

typedef void HashFreeProc(void *value);
typedef int HashCompareProc(const void *a, const void *b);

VESK_EXPORT Tcl_HashTable *createIntHashTable(void);
VESK_EXPORT Tcl_HashTable *createStrHashTable(void);
VESK_EXPORT void destroyHashTable(Tcl_HashTable *table);
VESK_EXPORT void deleteHashTable(Tcl_HashTable *table, HashFreeProc *freeProc);
VESK_EXPORT Tcl_HashEntry *createHashEntry(Tcl_HashTable *table, const void *key, int *isNew);
VESK_EXPORT Tcl_HashEntry *findHashEntry(Tcl_HashTable *table, const void *key);
VESK_EXPORT void *getHashValue(Tcl_HashEntry *entry);
VESK_EXPORT void *setHashValue(Tcl_HashEntry *entry, void *value);
VESK_EXPORT void *getHashKey(Tcl_HashTable *table, Tcl_HashEntry *entry);
VESK_EXPORT Tcl_HashEntry *firstHashEntry(Tcl_HashTable *table, Tcl_HashSearch *search);
VESK_EXPORT Tcl_HashEntry *nextHashEntry(Tcl_HashSearch *search);
VESK_EXPORT Tcl_HashSearch *createSearchEntry(void);
VESK_EXPORT void freeSearchEntry(Tcl_HashSearch *search);
VESK_EXPORT int countHashEntries(Tcl_HashTable *table);
VESK_EXPORT void **getHashKeys(Tcl_HashTable *table, HashCompareProc *compare);
VESK_EXPORT int putToIntHashTable(Tcl_HashTable *table, const void *key, void *value);
VESK_EXPORT void deleteDicomHashTable(Tcl_HashTable *table);

/* qsort comparisons of key arrays: unsigned words, or the strings they address. */
VESK_EXPORT int compareUintKeys(const void *a, const void *b);
VESK_EXPORT int compareStrKeys(const void *a, const void *b);
/* A free procedure for deleteHashTable that hands values back to gmemFree. */
VESK_EXPORT void freeHashValue(void *value);

/*
 * The head of a chained element node of the DICOM element table: the value
 * bytes follow the head in the same gmemAlloc block.  deleteDicomHashTable
 * frees every node of every chain.
 */
typedef struct DicomElementNode {
  int tag;                       /* group in the low 16 bits, element in the high */
  int length;                    /* value length, -1 for an undefined length */
  short vr;                      /* value representation code */
  struct DicomElementNode *next; /* next node of the chain, NULL in the last */
} DicomElementNode;

#endif
