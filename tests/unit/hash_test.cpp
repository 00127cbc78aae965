// The exported hash-table interface.
#include <gtest/gtest.h>
#include <string.h>

#include "vesk/hash.h"

namespace {
int freed = 0;
void countingFree(void *value) {
  freed++;
  gmemFree(value);
}
void *word(uintptr_t n) { return reinterpret_cast<void *>(n); }
}  // namespace

TEST(Hash, PutTwiceFreesTheOldValue) {
  Tcl_HashTable *table = createIntHashTable();
  EXPECT_EQ(putToIntHashTable(table, word(7), gmemAlloc(8)), 1);
  EXPECT_EQ(putToIntHashTable(table, word(7), gmemAlloc(8)), 0);
  EXPECT_EQ(countHashEntries(table), 1);
  freed = 0;
  deleteHashTable(table, countingFree);
  EXPECT_EQ(freed, 1);
}

TEST(Hash, SortedIntKeys) {
  Tcl_HashTable *table = createIntHashTable();
  for (uintptr_t k : {7, 3, 5}) putToIntHashTable(table, word(k), nullptr);
  void **keys = getHashKeys(table, compareUintKeys);
  ASSERT_NE(keys, nullptr);
  EXPECT_EQ(keys[0], word(3));
  EXPECT_EQ(keys[1], word(5));
  EXPECT_EQ(keys[2], word(7));
  gmemFree(keys);
  deleteHashTable(table, nullptr);  // values left alone (they are NULL here)
}

TEST(Hash, StringKeysAndSearch) {
  Tcl_HashTable *table = createStrHashTable();
  int isNew = 0;
  Tcl_HashEntry *entry = createHashEntry(table, "beta", &isNew);
  EXPECT_EQ(isNew, 1);
  setHashValue(entry, word(2));
  createHashEntry(table, "alpha", &isNew);
  createHashEntry(table, "beta", &isNew);
  EXPECT_EQ(isNew, 0);
  EXPECT_EQ(getHashValue(findHashEntry(table, "beta")), word(2));
  EXPECT_EQ(findHashEntry(table, "gamma"), nullptr);
  EXPECT_STREQ(static_cast<char *>(getHashKey(table, entry)), "beta");

  void **keys = getHashKeys(table, compareStrKeys);
  EXPECT_STREQ(static_cast<char *>(keys[0]), "alpha");
  EXPECT_STREQ(static_cast<char *>(keys[1]), "beta");
  gmemFree(keys);

  Tcl_HashSearch *search = createSearchEntry();
  int walked = 0;
  for (Tcl_HashEntry *e = firstHashEntry(table, search); e; e = nextHashEntry(search)) walked++;
  EXPECT_EQ(walked, 2);
  freeSearchEntry(search);

  keys = getHashKeys(createStrHashTable(), nullptr);  // empty table: an empty array
  EXPECT_NE(keys, nullptr);
  gmemFree(keys);
  destroyHashTable(table);
}

TEST(Hash, DicomTableFreesWholeChains) {
  Tcl_HashTable *table = createIntHashTable();
  auto node = [](DicomElementNode *next) {
    DicomElementNode *n = static_cast<DicomElementNode *>(gmemAlloc(sizeof(DicomElementNode) + 4));
    memset(n, 0, sizeof *n);
    n->next = next;
    return n;
  };
  putToIntHashTable(table, word(0x00100010), node(node(node(nullptr))));
  putToIntHashTable(table, word(0x00080020), node(nullptr));
  deleteDicomHashTable(table);
}
