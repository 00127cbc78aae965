/*
 * hash.cpp --
 *     The exported hash-table interface: tables, entries, searches and key
 *     arrays on Tcl's hash tables, allocated from the library heap.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vesk/hash.h"

namespace {

Tcl_HashTable *createTable(int keyType) {
  Tcl_HashTable *table = static_cast<Tcl_HashTable *>(gmemAlloc(sizeof(Tcl_HashTable)));
  if (table) Tcl_InitHashTable(table, keyType);
  return table;
}

}  // namespace

Tcl_HashTable *createIntHashTable(void) { return createTable(TCL_ONE_WORD_KEYS); }

Tcl_HashTable *createStrHashTable(void) { return createTable(TCL_STRING_KEYS); }

void destroyHashTable(Tcl_HashTable *table) {
  if (!table) return;
  Tcl_DeleteHashTable(table);
  gmemFree(table);
}

/*
 * deleteHashTable --
 *     Frees every value with the given procedure (values are left alone
 *     without one), then the table.
 */
void deleteHashTable(Tcl_HashTable *table, HashFreeProc *freeProc) {
  if (!table) return;
  if (freeProc) {
    Tcl_HashSearch search;
    for (Tcl_HashEntry *entry = Tcl_FirstHashEntry(table, &search); entry;
         entry = Tcl_NextHashEntry(&search)) {
      freeProc(Tcl_GetHashValue(entry));
    }
  }
  destroyHashTable(table);
}

Tcl_HashEntry *createHashEntry(Tcl_HashTable *table, const void *key, int *isNew) {
  int created = 0;
  Tcl_HashEntry *entry = Tcl_CreateHashEntry(table, key, &created);
  if (isNew) *isNew = created;
  return entry;
}

Tcl_HashEntry *findHashEntry(Tcl_HashTable *table, const void *key) {
  return Tcl_FindHashEntry(table, key);
}

void *getHashValue(Tcl_HashEntry *entry) { return Tcl_GetHashValue(entry); }

void *setHashValue(Tcl_HashEntry *entry, void *value) {
  Tcl_SetHashValue(entry, value);
  return value;
}

/* The key word of a one-word table, the key string's address otherwise. */
void *getHashKey(Tcl_HashTable *table, Tcl_HashEntry *entry) {
  return Tcl_GetHashKey(table, entry);
}

Tcl_HashEntry *firstHashEntry(Tcl_HashTable *table, Tcl_HashSearch *search) {
  return Tcl_FirstHashEntry(table, search);
}

Tcl_HashEntry *nextHashEntry(Tcl_HashSearch *search) { return Tcl_NextHashEntry(search); }

Tcl_HashSearch *createSearchEntry(void) {
  Tcl_HashSearch *search = static_cast<Tcl_HashSearch *>(gmemAlloc(sizeof(Tcl_HashSearch)));
  if (search) memset(search, 0, sizeof *search);
  return search;
}

void freeSearchEntry(Tcl_HashSearch *search) { gmemFree(search); }

int countHashEntries(Tcl_HashTable *table) { return table ? table->numEntries : 0; }

/*
 * getHashKeys --
 *     A new array of every key, in walk order or sorted by compare; the
 *     caller frees it with gmemFree.
 */
void **getHashKeys(Tcl_HashTable *table, HashCompareProc *compare) {
  int count = countHashEntries(table);
  void **keys = static_cast<void **>(gmemAlloc(static_cast<int>(sizeof(void *)) * (count > 0 ? count : 1)));
  if (!keys) return nullptr;
  int i = 0;
  Tcl_HashSearch search;
  for (Tcl_HashEntry *entry = Tcl_FirstHashEntry(table, &search); entry && i < count;
       entry = Tcl_NextHashEntry(&search)) {
    keys[i++] = Tcl_GetHashKey(table, entry);
  }
  if (compare && i > 1) qsort(keys, static_cast<size_t>(i), sizeof(void *), compare);
  return keys;
}

/*
 * putToIntHashTable --
 *     Stores a value under a key, freeing the value it replaces.
 * Results:      1 for a new key, 0 for an existing one.
 */
int putToIntHashTable(Tcl_HashTable *table, const void *key, void *value) {
  int isNew = 0;
  Tcl_HashEntry *entry = Tcl_CreateHashEntry(table, key, &isNew);
  if (!isNew) gmemFree(Tcl_GetHashValue(entry));
  Tcl_SetHashValue(entry, value);
  return isNew;
}

/* deleteDicomHashTable -- frees every node of every chain, then the table. */
void deleteDicomHashTable(Tcl_HashTable *table) {
  if (!table) return;
  Tcl_HashSearch search;
  for (Tcl_HashEntry *entry = Tcl_FirstHashEntry(table, &search); entry;
       entry = Tcl_NextHashEntry(&search)) {
    DicomElementNode *node = static_cast<DicomElementNode *>(Tcl_GetHashValue(entry));
    while (node) {
      DicomElementNode *next = node->next;
      gmemFree(node);
      node = next;
    }
  }
  destroyHashTable(table);
}

int compareUintKeys(const void *a, const void *b) {
  uintptr_t x = reinterpret_cast<uintptr_t>(*static_cast<void *const *>(a));
  uintptr_t y = reinterpret_cast<uintptr_t>(*static_cast<void *const *>(b));
  return x < y ? -1 : x > y ? 1 : 0;
}

int compareStrKeys(const void *a, const void *b) {
  return strcmp(*static_cast<const char *const *>(a), *static_cast<const char *const *>(b));
}

void freeHashValue(void *value) { gmemFree(value); }
