/*
 * registry.cpp --
 *     The item-type registry of the map canvas (thirteen built-in types in
 *     a fixed order), the construction of item headers, items built from
 *     vertex data, and the geometry kinds shared with the vector objects.
 */
#include <stdint.h>
#include <string.h>
#include <new>

#include "canvas/gcanvas.h"

namespace vesk {

const ObjectTypeEntry objectTypeTable[14] = {
    {0x100, "POINT"},        {0x200, "LINE"},         {0x400, "POLYGON"},
    {0x1100, "POINTM"},      {0x1200, "LINEM"},       {0x1400, "POLYGONM"},
    {0x2100, "POINTZ"},      {0x2200, "LINEZ"},       {0x2400, "POLYGONZ"},
    {0x4000, "MULTIPATCH"},  {0x4100, "MULTIPOINT"},  {0x4200, "MULTIPOINTM"},
    {0x4400, "MULTIPOINTZ"}, {-1, nullptr},
};

namespace {

/*
 * The built-in types from the head of the registry.  A type whose unit is
 * not part of this build yet has no record and is left out of the list,
 * so the others keep their order.
 */
struct BuiltinType {
  const char *name;
  GcanvasItemType *type;
};
const BuiltinType builtinTypes[] = {
    {"rectangle", &rectangleType}, {"text", &textType},    {"line", &lineType},
    {"polygon", &polygonType},          {"image", &imageType},   {"oval", &ovalType},
    {"bitmap", &bitmapType},           {"arc", &arcType},     {"gtext", &gtextType},
    {"group", &groupType},            {"symbol", &symbolType},  {"window", &windowType},
    {"object", nullptr},
};
static_assert(sizeof builtinTypes / sizeof builtinTypes[0] == 13, "thirteen built-in item types");

GcanvasItemType *typeList = nullptr;
bool typesBuilt = false;
TagUids uids;

}  // namespace

/*
 * initItemTypes --
 *     Builds the registry once per process and interns the tag-search words.
 */
void initItemTypes() {
  if (typesBuilt) return;
  typesBuilt = true;
  GcanvasItemType **tail = &typeList;
  for (const BuiltinType &b : builtinTypes) {
    if (!b.type) continue;
    b.type->nextPtr = nullptr;
    *tail = b.type;
    tail = &b.type->nextPtr;
  }
  uids.all = Tk_GetUid("all");
  uids.current = Tk_GetUid("current");
  uids.andUid = Tk_GetUid("&&");
  uids.orUid = Tk_GetUid("||");
  uids.xorUid = Tk_GetUid("^");
  uids.parenUid = Tk_GetUid("(");
  uids.endParenUid = Tk_GetUid(")");
  uids.negParenUid = Tk_GetUid("!(");
  uids.tagValUid = Tk_GetUid("!!");
  uids.negTagValUid = Tk_GetUid("!");
}

const TagUids &tagUids() {
  initItemTypes();
  return uids;
}

GcanvasItemType *getItemTypes() {
  initItemTypes();
  return typeList;
}

/*
 * registerItemType --
 *     Adds a type at the head of the registry; a type of the same name is
 *     unlinked first, so the new one replaces it.
 */
void registerItemType(GcanvasItemType *typePtr) {
  initItemTypes();
  for (GcanvasItemType **p = &typeList; *p; p = &(*p)->nextPtr) {
    if (strcmp((*p)->name, typePtr->name) == 0) {
      *p = (*p)->nextPtr;
      break;
    }
  }
  typePtr->nextPtr = typeList;
  typeList = typePtr;
}

GcanvasItemType *findItemType(GcanvasRecord *, const char *name) {
  for (GcanvasItemType *t = getItemTypes(); t; t = t->nextPtr)
    if (strcmp(t->name, name) == 0) return t;
  return nullptr;
}

GcanvasItem *newItemHeader(GcanvasRecord *canvas, GcanvasItemType *typePtr) {
  char *block = (char *)ckalloc(static_cast<unsigned>(typePtr->itemSize));
  memset(block, 0, static_cast<size_t>(typePtr->itemSize));
  GcanvasItem *item = new (block) GcanvasItem();
  item->id = canvas->c.nextId;
  item->tagPtr = item->staticTagSpace;
  item->tagSpace = 3;
  item->typePtr = typePtr;
  item->state = STATE_NONE;
  return item;
}

void freeItemRecord(GcanvasRecord *, GcanvasItem *item) {
  if (item->tagPtr != item->staticTagSpace) ckfree(reinterpret_cast<char *>(item->tagPtr));
  ckfree(reinterpret_cast<char *>(item));
}

void linkNewItem(GcanvasRecord *canvas, GcanvasItem *item) {
  item->nextPtr = nullptr;
  item->prevPtr = canvas->c.lastItemPtr;
  canvas->hotPrevPtr = canvas->c.lastItemPtr;
  if (canvas->c.lastItemPtr)
    canvas->c.lastItemPtr->nextPtr = item;
  else
    canvas->c.firstItemPtr = item;
  canvas->c.lastItemPtr = item;
  int isNew;
  Tcl_HashEntry *entry = Tcl_CreateHashEntry(&canvas->idTable,
                                             reinterpret_cast<char *>(static_cast<intptr_t>(item->id)),
                                             &isNew);
  Tcl_SetHashValue(entry, item);
  canvas->hotPtr = item;
  item->redrawFlags |= ITEM_FORCE_REDRAW;
  canvas->flags |= ITEMS_FORCED;
  if (item->floating) canvas->flags |= HAS_FLOATING;
  eventuallyRedrawArea(canvas, item->x1, item->y1, item->x2, item->y2, 1);
  canvas->flags |= REPICK_NEEDED;
  canvas->c.nextId++;
}

/*
 * createItemFromVertices --
 *     Builds an item of the type from vertex data, with the tags given as
 *     a Tcl list (or none).
 * Results:      the item, or NULL with the type's message in the result.
 */
GcanvasItem *createItemFromVertices(GcanvasRecord *canvas, Tcl_Interp *interp,
                                    GcanvasItemType *typePtr, VertexData *data, const char *tags) {
  if (!typePtr->createFromVerticesProc) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("items of type \"%s\" can't be made from vertices",
                                           typePtr->name));
    return nullptr;
  }
  GcanvasItem *item = newItemHeader(canvas, typePtr);
  if (typePtr->createFromVerticesProc(interp, &canvas->c, item, data) != TCL_OK) {
    freeItemRecord(canvas, item);
    return nullptr;
  }
  if (tags) {
    const char *value = tags;
    if (tagsOption.parseProc(nullptr, interp, canvas->c.tkwin, value,
                             reinterpret_cast<char *>(item), 0) != TCL_OK) {
      if (typePtr->deleteProc) typePtr->deleteProc(&canvas->c, item, canvas->c.display);
      freeItemRecord(canvas, item);
      return nullptr;
    }
  }
  linkNewItem(canvas, item);
  return item;
}

int objectTypeFromName(const char *name) {
  for (int i = 0; objectTypeTable[i].name; i++)
    if (strcmp(objectTypeTable[i].name, name) == 0) return objectTypeTable[i].code;
  return -1;
}

const char *objectTypeName(int code) {
  for (int i = 0; objectTypeTable[i].name; i++)
    if (objectTypeTable[i].code == code) return objectTypeTable[i].name;
  return nullptr;
}

const char *objectTypeNameAt(int index) {
  if (index < 0 || index >= 13) return nullptr;
  return objectTypeTable[index].name;
}

int itemObjectType(GcanvasItem *item) {
  const char *name = item->typePtr->name;
  if (strcmp(name, "line") == 0) return 0x200;
  if (strcmp(name, "polygon") == 0) return 0x400;
  static const char *const pointTypes[] = {"symbol", "gtext", "text", "image", "bitmap"};
  for (const char *p : pointTypes)
    if (strcmp(name, p) == 0) return 0x100;
  return -1;
}

}  // namespace vesk
