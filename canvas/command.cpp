/*
 * command.cpp --
 *     The widget command of a gcanvas: the subcommand dispatch, the tag
 *     search with tag expressions, the search commands of "find" and
 *     "addtag", item creation and deletion, restacking, boxes in four
 *     coordinate systems and the measures.
 */
#include <ctype.h>
#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "canvas/gcanvas.h"
#include "vector/shapeobj.h"

namespace vesk {


namespace {

enum SearchKind { SEARCH_NONE = 0, SEARCH_ID = 1, SEARCH_ALL = 2, SEARCH_TAG = 3, SEARCH_EXPR = 4 };

struct TagSearch {
  GcanvasRecord *canvas = nullptr;
  int searchOver = 0;
  int type = SEARCH_NONE;
  unsigned long id = 0;
  std::string string;
  size_t stringIndex = 0;
  Tk_Uid tag = nullptr;
  TagExpr expr;
  GcanvasItem *lastPtr = nullptr;
  GcanvasItem *currentPtr = nullptr;
};

/* Compiles the tag expression from searchPtr->stringIndex on. */
int tagSearchScanExpr(Tcl_Interp *interp, TagSearch *s, TagExpr *expr) {
  const TagUids &u = tagUids();
  int lookingForTag = 1;
  bool foundTag = false;
  const std::string &str = s->string;
  size_t length = str.size();
  auto at = [&](size_t i) { return i < length ? str[i] : '\0'; };
  auto fail = [&](const char *message) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, message, nullptr);
    return TCL_ERROR;
  };
  while (s->stringIndex < length) {
    char c = str[s->stringIndex++];
    if (lookingForTag) {
      switch (c) {
      case ' ': case '\t': case '\n': case '\r':
        break;
      case '!':
        if (lookingForTag > 1) return fail("Too many '!' in tag search expression");
        lookingForTag++;
        foundTag = false;
        break;
      case '(':
        expr->uids.push_back(lookingForTag > 1 ? u.negParenUid : u.parenUid);
        if (tagSearchScanExpr(interp, s, expr) != TCL_OK) return TCL_ERROR;
        lookingForTag = 0;
        foundTag = true;
        break;
      case '"': {
        expr->uids.push_back(lookingForTag > 1 ? u.negTagValUid : u.tagValUid);
        std::string tag;
        bool endQuote = false;
        while (s->stringIndex < length) {
          c = str[s->stringIndex++];
          if (c == '\\') c = at(s->stringIndex++);
          if (c == '"') {
            endQuote = true;
            break;
          }
          tag += c;
        }
        if (!endQuote) return fail("Missing endquote in tag search expression");
        if (tag.empty()) return fail("Null quoted tag string in tag search expression");
        expr->uids.push_back(Tk_GetUid(tag.c_str()));
        lookingForTag = 0;
        foundTag = true;
        break;
      }
      case '&': case '|': case '^': case ')':
        return fail("Unexpected operator in tag search expression");
      default: {
        expr->uids.push_back(lookingForTag > 1 ? u.negTagValUid : u.tagValUid);
        std::string tag(1, c);
        while (s->stringIndex < length) {
          c = str[s->stringIndex];
          if (c == '!' || c == '&' || c == '|' || c == '^' || c == '(' || c == ')' || c == '"')
            break;
          tag += c;
          s->stringIndex++;
        }
        while (!tag.empty() && strchr(" \t\n\r", tag.back())) tag.pop_back();
        expr->uids.push_back(Tk_GetUid(tag.c_str()));
        lookingForTag = 0;
        foundTag = true;
        break;
      }
      }
    } else {
      switch (c) {
      case ' ': case '\t': case '\n': case '\r':
        break;
      case '&':
        if (at(s->stringIndex++) != '&') return fail("Singleton '&' in tag search expression");
        expr->uids.push_back(u.andUid);
        lookingForTag = 1;
        break;
      case '|':
        if (at(s->stringIndex++) != '|') return fail("Singleton '|' in tag search expression");
        expr->uids.push_back(u.orUid);
        lookingForTag = 1;
        break;
      case '^':
        expr->uids.push_back(u.xorUid);
        lookingForTag = 1;
        break;
      case ')':
        expr->uids.push_back(u.endParenUid);
        goto done;
      default:
        return fail("Invalid boolean operator in tag search expression");
      }
    }
  }
done:
  if (foundTag && !lookingForTag) return TCL_OK;
  return fail("Missing tag in tag search expression");
}

bool itemHasTag(GcanvasItem *item, Tk_Uid uid) {
  for (int i = 0; i < item->numTags; i++)
    if (item->tagPtr[i] == uid) return true;
  return false;
}

}  // namespace

/*
 * tagExprEval --
 *     Whether an item's tags satisfy a compiled expression: left to right,
 *     no precedence, short-circuit over the rest of a (sub)expression.
 */
int tagExprEval(TagExpr *expr, GcanvasItem *item) {
  const TagUids &u = tagUids();
  int lookingForTag = 1, negate = 0, result = 0;
  int length = static_cast<int>(expr->uids.size());
  while (expr->index < length) {
    Tk_Uid uid = expr->uids[expr->index++];
    if (lookingForTag) {
      if (uid == u.tagValUid) {
        result = itemHasTag(item, expr->uids[expr->index++]);
      } else if (uid == u.negTagValUid) {
        negate = !negate;
        result = itemHasTag(item, expr->uids[expr->index++]);
      } else if (uid == u.parenUid) {
        result = tagExprEval(expr, item);
      } else if (uid == u.negParenUid) {
        negate = !negate;
        result = tagExprEval(expr, item);
      }
      if (negate) {
        result = !result;
        negate = 0;
      }
      lookingForTag = 0;
    } else {
      if ((uid == u.andUid && !result) || (uid == u.orUid && result)) {
        int depth = 0;
        while (expr->index < length) {
          uid = expr->uids[expr->index++];
          if (uid == u.tagValUid || uid == u.negTagValUid) {
            expr->index++;
            continue;
          }
          if (uid == u.parenUid || uid == u.negParenUid) {
            depth++;
            continue;
          }
          if (uid == u.endParenUid && --depth < 0) break;
        }
        return result;
      } else if (uid == u.xorUid) {
        negate = result;
      } else if (uid == u.endParenUid) {
        return result;
      }
      lookingForTag = 1;
    }
  }
  return result;
}

void freeTagExprs(GcanvasRecord *canvas) {
  while (canvas->bindTagExprs) {
    TagExpr *next = canvas->bindTagExprs->next;
    delete canvas->bindTagExprs;
    canvas->bindTagExprs = next;
  }
}

namespace {

/*
 * tagSearchScan --
 *     Classifies a tagOrId: id, "all", a single tag or an expression
 *     (compiled here).
 */
int tagSearchScan(GcanvasRecord *canvas, Tcl_Obj *tagObj, TagSearch *s) {
  const char *tag = Tcl_GetString(tagObj);
  *s = TagSearch();
  s->canvas = canvas;
  s->string = tag;
  if (isdigit(static_cast<unsigned char>(tag[0]))) {
    char *end;
    errno = 0;
    unsigned long id = strtoul(tag, &end, 0);
    if (*end == '\0' && errno == 0) {
      s->id = id;
      s->type = SEARCH_ID;
      return TCL_OK;
    }
  }
  if (!*tag) {
    s->type = SEARCH_NONE;
    return TCL_OK;
  }
  const std::string &str = s->string;
  bool expr = false;
  for (size_t i = 0; i < str.size() && !expr; i++) {
    if (str[i] == '"') {
      for (i++; i < str.size(); i++) {
        if (str[i] == '\\') {
          i++;
          continue;
        }
        if (str[i] == '"') break;
      }
    } else if ((str[i] == '&' && i + 1 < str.size() && str[i + 1] == '&') ||
               (str[i] == '|' && i + 1 < str.size() && str[i + 1] == '|') || str[i] == '^' ||
               str[i] == '!') {
      expr = true;
    }
  }
  s->tag = Tk_GetUid(tag);
  if (expr) {
    s->type = SEARCH_EXPR;
    s->stringIndex = 0;
    s->expr.uid = s->tag;
    if (tagSearchScanExpr(canvas->c.interp, s, &s->expr) != TCL_OK) {
      s->type = SEARCH_NONE;
      return TCL_ERROR;
    }
    return TCL_OK;
  }
  s->type = s->tag == tagUids().all ? SEARCH_ALL : SEARCH_TAG;
  return TCL_OK;
}

bool matchesSearch(TagSearch *s, GcanvasItem *item) {
  if (s->type == SEARCH_TAG) return itemHasTag(item, s->tag);
  if (s->type == SEARCH_EXPR) {
    s->expr.index = 0;
    return tagExprEval(&s->expr, item) != 0;
  }
  return true;
}

GcanvasItem *tagSearchFirst(TagSearch *s) {
  GcanvasRecord *canvas = s->canvas;
  s->searchOver = 0;
  if (s->type == SEARCH_ID) {
    GcanvasItem *item = canvas->hotPtr;
    GcanvasItem *last = canvas->hotPrevPtr;
    if (!item || static_cast<unsigned long>(item->id) != s->id || !last || last->nextPtr != item) {
      Tcl_HashEntry *entry = Tcl_FindHashEntry(
          &canvas->idTable, reinterpret_cast<char *>(static_cast<intptr_t>(s->id)));
      if (s->id > INT_MAX || !entry) {
        s->searchOver = 1;
        return nullptr;
      }
      item = static_cast<GcanvasItem *>(Tcl_GetHashValue(entry));
      last = item->prevPtr;
    }
    s->lastPtr = last;
    s->searchOver = 1;
    canvas->hotPtr = item;
    canvas->hotPrevPtr = last;
    return item;
  }
  if (s->type == SEARCH_NONE) {
    s->searchOver = 1;
    return nullptr;
  }
  GcanvasItem *last = nullptr;
  for (GcanvasItem *item = canvas->c.firstItemPtr; item; last = item, item = item->nextPtr) {
    if (matchesSearch(s, item)) {
      s->lastPtr = last;
      s->currentPtr = item;
      return item;
    }
  }
  s->lastPtr = last;
  s->searchOver = 1;
  return nullptr;
}

GcanvasItem *tagSearchNext(TagSearch *s) {
  if (s->searchOver) return nullptr;
  GcanvasItem *last = s->lastPtr;
  GcanvasItem *item;
  if (!last)
    item = s->canvas->c.firstItemPtr;
  else
    item = last->nextPtr;
  if (item && item == s->currentPtr) {
    last = item;
    item = item->nextPtr;
  }
  for (; item; last = item, item = item->nextPtr) {
    if (matchesSearch(s, item)) {
      s->lastPtr = last;
      s->currentPtr = item;
      return item;
    }
  }
  s->lastPtr = last;
  s->searchOver = 1;
  return nullptr;
}

/* Iterates the items of a tagOrId; a compile error sets result and returns false. */
template <class Fn>
int forEachMatch(GcanvasRecord *canvas, Tcl_Obj *tagObj, Fn fn) {
  TagSearch s;
  if (tagSearchScan(canvas, tagObj, &s) != TCL_OK) return TCL_ERROR;
  for (GcanvasItem *item = tagSearchFirst(&s); item; item = tagSearchNext(&s))
    if (!fn(item)) break;
  return TCL_OK;
}

GcanvasItem *firstMatch(GcanvasRecord *canvas, Tcl_Obj *tagObj, int *code) {
  TagSearch s;
  *code = tagSearchScan(canvas, tagObj, &s);
  if (*code != TCL_OK) return nullptr;
  return tagSearchFirst(&s);
}

void addItemTag(Tcl_Interp *interp, GcanvasItem *item, Tk_Uid tag) {
  if (!tag) {
    Tcl_AppendElement(interp, std::to_string(item->id).c_str());
    return;
  }
  if (itemHasTag(item, tag)) return;
  if (item->numTags == item->tagSpace) {
    int space = item->tagSpace + 5;
    Tk_Uid *newPtr = static_cast<Tk_Uid *>((void *)ckalloc(sizeof(Tk_Uid) * space));
    memcpy(newPtr, item->tagPtr, sizeof(Tk_Uid) * item->numTags);
    if (item->tagPtr != item->staticTagSpace) ckfree(reinterpret_cast<char *>(item->tagPtr));
    item->tagPtr = newPtr;
    item->tagSpace = space;
  }
  item->tagPtr[item->numTags++] = tag;
}

/*
 * findItems --
 *     The search commands shared by "find" (newTag NULL: ids into the
 *     result) and "addtag".
 */
int findItems(Tcl_Interp *interp, GcanvasRecord *canvas, int objc, Tcl_Obj *const objv[],
              Tcl_Obj *newTagObj, int first) {
  static const char *const options[] = {"above", "all", "below", "closest", "component",
                                        "enclosed", "overlapping", "withtag", nullptr};
  enum { ABOVE, ALL, BELOW, CLOSEST, COMPONENT, ENCLOSED, OVERLAPPING, WITHTAG };
  Tk_Uid newTag = newTagObj ? Tk_GetUid(Tcl_GetString(newTagObj)) : nullptr;
  int index;
  if (Tcl_GetIndexFromObj(interp, objv[first], options, "search command", 0, &index) != TCL_OK)
    return TCL_ERROR;
  auto wrong = [&](const char *args) {
    Tcl_WrongNumArgs(interp, first + 1, objv, args);
    return TCL_ERROR;
  };
  ItemContainer *c = &canvas->c;
  switch (index) {
  case ABOVE: {
    if (objc != first + 2) return wrong("tagOrId");
    GcanvasItem *last = nullptr;
    if (forEachMatch(canvas, objv[first + 1], [&](GcanvasItem *item) {
          last = item;
          return true;
        }) != TCL_OK)
      return TCL_ERROR;
    if (last && last->nextPtr) addItemTag(interp, last->nextPtr, newTag);
    return TCL_OK;
  }
  case ALL:
    if (objc != first + 1) return wrong("");
    for (GcanvasItem *item = c->firstItemPtr; item; item = item->nextPtr)
      addItemTag(interp, item, newTag);
    return TCL_OK;
  case BELOW: {
    if (objc != first + 2) return wrong("tagOrId");
    int code;
    GcanvasItem *item = firstMatch(canvas, objv[first + 1], &code);
    if (code != TCL_OK) return TCL_ERROR;
    if (item && item->prevPtr) addItemTag(interp, item->prevPtr, newTag);
    return TCL_OK;
  }
  case CLOSEST: {
    if (objc < first + 3 || objc > first + 5) return wrong("x y ?halo? ?start?");
    double p[2], halo = 0;
    if (canvasGetCoordFromObj(interp, c, objv[first + 1], &p[0]) != TCL_OK ||
        canvasGetCoordFromObj(interp, c, objv[first + 2], &p[1]) != TCL_OK)
      return TCL_ERROR;
    worldToCanvas(c, p, p, 1);
    if (objc > first + 3) {
      if (canvasGetCoordFromObj(interp, c, objv[first + 3], &halo) != TCL_OK) return TCL_ERROR;
      if (halo < 0.0) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "can't have negative halo value \"",
                         Tcl_GetString(objv[first + 3]), "\"", nullptr);
        return TCL_ERROR;
      }
    }
    GcanvasItem *start = c->firstItemPtr;
    if (objc == first + 5) {
      int code;
      GcanvasItem *s = firstMatch(canvas, objv[first + 4], &code);
      if (code != TCL_OK) return TCL_ERROR;
      if (s) start = s;
    }
    while (start && itemIsHidden(canvas, start)) start = start->nextPtr;
    if (!start) return TCL_OK;
    auto dist = [&](GcanvasItem *item) {
      double d = item->typePtr->pointProc ? item->typePtr->pointProc(c, item, p) : 1.0e36;
      d -= halo;
      return d < 0 ? 0.0 : d;
    };
    GcanvasItem *best = start;
    double closest = dist(start);
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    auto square = [&]() {
      x1 = saturatingInt(p[0] - closest - halo - 1);
      y1 = saturatingInt(p[1] - closest - halo - 1);
      x2 = saturatingInt(p[0] + closest + halo + 1);
      y2 = saturatingInt(p[1] + closest + halo + 1);
    };
    if (closest > 1.0e30) closest = 1.0e30;
    square();
    GcanvasItem *item = start;
    while (true) {
      item = item->nextPtr ? item->nextPtr : c->firstItemPtr;
      if (item == start) break;
      if (itemIsHidden(canvas, item)) continue;
      if (item->x1 >= x2 || item->x2 <= x1 || item->y1 >= y2 || item->y2 <= y1) continue;
      double d = dist(item);
      if (d <= closest) {
        closest = d;
        best = item;
        square();
      }
    }
    addItemTag(interp, best, newTag);
    return TCL_OK;
  }
  case COMPONENT: {
    if (objc != first + 2) return wrong("tagOrId");
    int code;
    GcanvasItem *item = firstMatch(canvas, objv[first + 1], &code);
    if (code != TCL_OK) return TCL_ERROR;
    if (item && item->typePtr->getComponentProc)
      Tcl_SetObjResult(interp, Tcl_NewIntObj(item->typePtr->getComponentProc(item)));
    return TCL_OK;
  }
  case ENCLOSED:
  case OVERLAPPING: {
    if (objc != first + 5) return wrong("x1 y1 x2 y2");
    double r[4];
    for (int i = 0; i < 4; i++)
      if (canvasGetCoordFromObj(interp, c, objv[first + 1 + i], &r[i]) != TCL_OK) return TCL_ERROR;
    if (r[0] > r[2]) std::swap(r[0], r[2]);
    if (r[1] > r[3]) std::swap(r[1], r[3]);
    int enclosed = index == ENCLOSED;
    double x1 = saturatingInt(r[0] - 1.0), y1 = saturatingInt(r[1] - 1.0);
    double x2 = saturatingInt(r[2] + 1.0), y2 = saturatingInt(r[3] + 1.0);
    for (GcanvasItem *item = c->firstItemPtr; item; item = item->nextPtr) {
      if (itemIsHidden(canvas, item)) continue;
      if (item->x1 >= x2 || item->y1 >= y2 || item->x2 <= x1 || item->y2 <= y1) continue;
      if (!item->typePtr->areaProc) continue;
      if (item->typePtr->areaProc(c, item, r) >= enclosed) addItemTag(interp, item, newTag);
    }
    return TCL_OK;
  }
  case WITHTAG:
    if (objc != first + 2) return wrong("tagOrId");
    return forEachMatch(canvas, objv[first + 1], [&](GcanvasItem *item) {
      addItemTag(interp, item, newTag);
      return true;
    });
  }
  return TCL_OK;
}

/* Moves the matching items, keeping order, to just above prev (NULL: bottom). */
int relinkItems(GcanvasRecord *canvas, Tcl_Obj *tagObj, GcanvasItem *prev) {
  std::vector<GcanvasItem *> moved;
  if (forEachMatch(canvas, tagObj, [&](GcanvasItem *item) {
        moved.push_back(item);
        return true;
      }) != TCL_OK)
    return TCL_ERROR;
  if (moved.empty()) return TCL_OK;
  ItemContainer *c = &canvas->c;
  for (GcanvasItem *item : moved) {
    if (item == prev) prev = prev->prevPtr;
    if (item->prevPtr) item->prevPtr->nextPtr = item->nextPtr;
    else c->firstItemPtr = item->nextPtr;
    if (item->nextPtr) item->nextPtr->prevPtr = item->prevPtr;
    else c->lastItemPtr = item->prevPtr;
    eventuallyRedrawItem(canvas, item);
  }
  /* prev may itself have moved: find a surviving predecessor. */
  for (GcanvasItem *item : moved)
    if (prev == item) prev = nullptr;
  GcanvasItem *next = prev ? prev->nextPtr : c->firstItemPtr;
  GcanvasItem *before = prev;
  for (GcanvasItem *item : moved) {
    item->prevPtr = before;
    if (before) before->nextPtr = item;
    else c->firstItemPtr = item;
    before = item;
  }
  before->nextPtr = next;
  if (next) next->prevPtr = before;
  else c->lastItemPtr = before;
  canvas->hotPtr = nullptr;
  canvas->hotPrevPtr = nullptr;
  return TCL_OK;
}

/* Union of boxes of matching items; mode 0 world, 1 world less margins, 2 canvas, 3 window. */
int bboxCommand(GcanvasRecord *canvas, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[],
                int mode) {
  if (objc < 3) {
    Tcl_WrongNumArgs(interp, 2, objv, "tagOrId ?tagOrId ...?");
    return TCL_ERROR;
  }
  bool any = false;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  for (int i = 2; i < objc; i++) {
    if (forEachMatch(canvas, objv[i], [&](GcanvasItem *item) {
          if (!(item->x1 < item->x2 && item->y1 < item->y2)) return true;
          double b[4] = {item->x1, item->y1, item->x2, item->y2};
          if (mode == 1) {
            b[0] += item->xMargin;
            b[1] += item->yMargin;
            b[2] -= item->xMargin;
            b[3] -= item->yMargin;
          }
          if (!any) {
            x1 = b[0]; y1 = b[1]; x2 = b[2]; y2 = b[3];
            any = true;
          } else {
            x1 = fmin(x1, b[0]); y1 = fmin(y1, b[1]);
            x2 = fmax(x2, b[2]); y2 = fmax(y2, b[3]);
          }
          return true;
        }) != TCL_OK)
      return TCL_ERROR;
  }
  if (!any) return TCL_OK;
  double r[4] = {x1, y1, x2, y2};
  if (mode <= 1) {
    canvasRectToWorld(&canvas->c, x1, y1, x2, y2, r);
  } else if (mode == 3) {
    r[0] -= canvas->xOrigin;
    r[2] -= canvas->xOrigin;
    r[1] -= canvas->yOrigin;
    r[3] -= canvas->yOrigin;
  }
  char buffer[200];
  snprintf(buffer, sizeof buffer, "%f %f %f %f", r[0], r[1], r[2], r[3]);
  Tcl_SetObjResult(interp, Tcl_NewStringObj(buffer, -1));
  return TCL_OK;
}

Tcl_Obj *doubleObj(double v) { return Tcl_NewDoubleObj(v); }

}  // namespace

/*
 * deleteCanvasItem --
 *     Unlinks and frees one item, clearing every pointer that named it.
 */
void deleteCanvasItem(GcanvasRecord *canvas, GcanvasItem *item) {
  ItemContainer *c = &canvas->c;
  eventuallyRedrawItem(canvas, item);
  if (canvas->bindingTable) Tk_DeleteAllBindings(canvas->bindingTable, item);
  if (item->typePtr->deleteProc) item->typePtr->deleteProc(c, item, c->display);
  Tcl_HashEntry *entry =
      Tcl_FindHashEntry(&canvas->idTable, reinterpret_cast<char *>(static_cast<intptr_t>(item->id)));
  if (entry) Tcl_DeleteHashEntry(entry);
  if (item->nextPtr) item->nextPtr->prevPtr = item->prevPtr;
  else c->lastItemPtr = item->prevPtr;
  if (item->prevPtr) item->prevPtr->nextPtr = item->nextPtr;
  else c->firstItemPtr = item->nextPtr;
  if (canvas->currentItemPtr == item) {
    canvas->currentItemPtr = nullptr;
    canvas->flags |= REPICK_NEEDED;
  }
  if (canvas->newCurrentPtr == item) {
    canvas->newCurrentPtr = nullptr;
    canvas->flags |= REPICK_NEEDED;
  }
  if (canvas->textInfo.focusItemPtr == item) canvas->textInfo.focusItemPtr = nullptr;
  if (canvas->textInfo.selItemPtr == item) canvas->textInfo.selItemPtr = nullptr;
  if (canvas->textInfo.anchorItemPtr == item) canvas->textInfo.anchorItemPtr = nullptr;
  if (canvas->hotPtr == item || canvas->hotPrevPtr == item) canvas->hotPtr = nullptr;
  freeItemRecord(canvas, item);
}

/*
 * gcanvasInstanceCmd --
 *     The widget command of a gcanvas.
 */
int gcanvasInstanceCmd(ClientData clientData, Tcl_Interp *interp, int objc,
                       Tcl_Obj *const objv[]) {
  static const char *const options[] = {
      "addtag",  "area",     "assemble", "bbox",        "bind",          "canvasx", "canvasy",
      "centroid", "cget",    "configure", "coords",     "count",         "create",  "dbbox",
      "dchars",  "delete",   "disassemble", "dtag",     "find",          "focus",   "gettags",
      "group",   "icursor",  "index",    "insert",      "itemcget",      "itemconfigure",
      "langle",  "length",   "lower",    "mbbox",       "move",          "postscript",
      "raise",   "redraw",   "sbbox",    "scale",       "scan",          "select",  "type",
      "vangle",  "xview",    "yview",    nullptr};
  enum {
    ADDTAG, AREA, ASSEMBLE, BBOX, BIND, CANVASX, CANVASY, CENTROID, CGET, CONFIGURE, COORDS,
    COUNT, CREATE, DBBOX, DCHARS, DELETE, DISASSEMBLE, DTAG, FIND, FOCUS, GETTAGS, GROUP,
    ICURSOR, INDEX, INSERT, ITEMCGET, ITEMCONFIGURE, LANGLE, LENGTH, LOWER, MBBOX, MOVE,
    POSTSCRIPT, RAISE, REDRAW, SBBOX, SCALE, SCAN, SELECT, TYPE, VANGLE, XVIEW, YVIEW,
    SUBCOMMAND_COUNT
  };
  static_assert(SUBCOMMAND_COUNT == 43, "the widget command has 43 subcommands");
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(clientData);
  ItemContainer *c = &canvas->c;
  if (objc < 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "option ?arg arg ...?");
    return TCL_ERROR;
  }
  int index;
  if (Tcl_GetIndexFromObj(interp, objv[1], options, "option", 0, &index) != TCL_OK)
    return TCL_ERROR;
  if (!canvas->c.tkwin) return TCL_OK;
  Tcl_Preserve(canvas);
  int result = TCL_OK;
  auto wrong = [&](const char *args) {
    Tcl_WrongNumArgs(interp, 2, objv, args);
    return TCL_ERROR;
  };
  switch (index) {
  case ADDTAG:
    if (objc < 4) { result = wrong("tag searchCommand ?arg arg ...?"); break; }
    result = findItems(interp, canvas, objc, objv, objv[2], 3);
    break;
  case AREA:
  case LENGTH:
  case CENTROID: {
    if (objc < 3) { result = wrong("tagOrId ?tagOrId ...?"); break; }
    double sum = 0, sx = 0, sy = 0;
    bool any = false;
    for (int i = 2; i < objc && result == TCL_OK; i++) {
      result = forEachMatch(canvas, objv[i], [&](GcanvasItem *item) {
        GcanvasItemType *t = item->typePtr;
        if (index == AREA && t->areaMeasureProc) {
          sum += t->areaMeasureProc(c, item);
          any = true;
        } else if (index == LENGTH && t->lengthProc) {
          sum += t->lengthProc(c, item);
          any = true;
        } else if (index == CENTROID && t->centroidProc) {
          double x = 0, y = 0;
          double w = t->centroidProc(c, item, &x, &y);
          sum += w;
          sx += w * x;
          sy += w * y;
          any = true;
        }
        return true;
      });
    }
    if (result != TCL_OK || !any) break;
    if (index == CENTROID) {
      /* All weights zero (lines only): the weighted mean is undefined, give none. */
      if (sum == 0) break;
      Tcl_Obj *list = Tcl_NewObj();
      Tcl_ListObjAppendElement(nullptr, list, doubleObj(sx / sum));
      Tcl_ListObjAppendElement(nullptr, list, doubleObj(sy / sum));
      Tcl_ListObjAppendElement(nullptr, list, doubleObj(c->my > 0 ? -sum : sum));
      Tcl_SetObjResult(interp, list);
    } else {
      Tcl_SetObjResult(interp, doubleObj(index == AREA && c->my > 0 ? -sum : sum));
    }
    break;
  }
  case ASSEMBLE: {
    if (objc < 5) { result = wrong("object type id ..."); break; }
    RAMOBJ *object = nullptr;
    if (openObject(interp, OBJ_SHAPE, Tcl_GetString(objv[2]), &object) != TCL_OK) {
      result = TCL_ERROR;
      break;
    }
    int type = objectTypeFromName(Tcl_GetString(objv[3]));
    const VectorOps *ops = static_cast<const VectorOps *>(object->ops.methods);
    if (type < 0) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "Invalid object type. Should be", nullptr);
      for (int i = 0; objectTypeNameAt(i); i++)
        Tcl_AppendResult(interp, " ", objectTypeNameAt(i), nullptr);
      closeObject(object);
      result = TCL_ERROR;
      break;
    }
    if (!object->payload && ops) ops->newPayload(object, type, nullptr, nullptr, 0);
    if (!object->ops.type || object->ops.type(object) != type) {
      Tcl_SetObjResult(interp,
                       Tcl_NewStringObj("The object is different from the specified type", -1));
      closeObject(object);
      result = TCL_ERROR;
      break;
    }
    if (type != 0x100 && type != 0x200 && type != 0x400) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("Not implemented yet.", -1));
      closeObject(object);
      break;
    }
    int written = 0;
    for (int i = 4; i < objc && result == TCL_OK; i++) {
      result = forEachMatch(canvas, objv[i], [&](GcanvasItem *item) {
        GcanvasItemType *t = item->typePtr;
        if (itemObjectType(item) != type || !t->getVerticesProc || !t->getPartCountsProc)
          return true;
        double *vertices = nullptr;
        int *counts = nullptr;
        int n = t->getVerticesProc(item, &vertices);
        int parts = t->getPartCountsProc(item, &counts);
        /* The store keeps each part's length (the file's starts are made on save). */
        std::vector<int32_t> lengths(counts, counts + (parts > 0 ? parts : 0));
        if (ops && ops->addRecord(object, -1, vertices, n, lengths.data(), parts, nullptr, nullptr,
                                  nullptr))
          written++;
        return true;
      });
    }
    closeObject(object);
    if (result == TCL_OK) Tcl_SetObjResult(interp, Tcl_NewIntObj(written));
    break;
  }
  case BBOX:
    result = bboxCommand(canvas, interp, objc, objv, 0);
    break;
  case DBBOX:
    result = bboxCommand(canvas, interp, objc, objv, 1);
    break;
  case MBBOX:
    result = bboxCommand(canvas, interp, objc, objv, 2);
    break;
  case SBBOX:
    result = bboxCommand(canvas, interp, objc, objv, 3);
    break;
  case BIND: {
    if (objc < 3 || objc > 5) { result = wrong("tagOrId ?sequence? ?command?"); break; }
    ClientData object = nullptr;
    TagSearch search;
    if (tagSearchScan(canvas, objv[2], &search) != TCL_OK) { result = TCL_ERROR; break; }
    if (search.type == SEARCH_ID) {
      Tcl_HashEntry *entry =
          search.id > INT_MAX ? nullptr
                              : Tcl_FindHashEntry(&canvas->idTable, reinterpret_cast<char *>(
                                                                        static_cast<intptr_t>(search.id)));
      if (!entry) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "item \"", Tcl_GetString(objv[2]), "\" doesn't exist", nullptr);
        result = TCL_ERROR;
        break;
      }
      object = Tcl_GetHashValue(entry);
    } else {
      object = const_cast<char *>(Tk_GetUid(Tcl_GetString(objv[2])));
    }
    if (!canvas->bindingTable) canvas->bindingTable = Tk_CreateBindingTable(interp);
    if (objc == 5) {
      const char *script = Tcl_GetString(objv[4]);
      if (!*script) {
        result = Tk_DeleteBinding(interp, canvas->bindingTable, object, Tcl_GetString(objv[3]));
        break;
      }
      if (search.type == SEARCH_EXPR) {
        TagExpr *known = canvas->bindTagExprs;
        while (known && known->uid != search.expr.uid) known = known->next;
        if (!known) {
          TagExpr *expr = new TagExpr(search.expr);
          expr->next = canvas->bindTagExprs;
          canvas->bindTagExprs = expr;
        }
      }
      int append = script[0] == '+';
      if (append) script++;
      unsigned long mask =
          Tk_CreateBinding(interp, canvas->bindingTable, object, Tcl_GetString(objv[3]), script,
                           append);
      if (mask == 0) {
        result = TCL_ERROR;
        break;
      }
      if (mask & ~static_cast<unsigned long>(
                      Button1MotionMask | Button2MotionMask | Button3MotionMask |
                      Button4MotionMask | Button5MotionMask | ButtonPressMask |
                      ButtonReleaseMask | EnterWindowMask | LeaveWindowMask | KeyPressMask |
                      KeyReleaseMask | PointerMotionMask | VirtualEventMask)) {
        Tk_DeleteBinding(interp, canvas->bindingTable, object, Tcl_GetString(objv[3]));
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "requested illegal events; ",
                         "only key, button, motion, enter, leave, and virtual ",
                         "events may be used", nullptr);
        result = TCL_ERROR;
      }
    } else if (objc == 4) {
      const char *command =
          Tk_GetBinding(interp, canvas->bindingTable, object, Tcl_GetString(objv[3]));
      if (!command) {
        const char *msg = Tcl_GetStringResult(interp);
        if (*msg) result = TCL_ERROR;
        else Tcl_ResetResult(interp);
      } else {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(command, -1));
      }
    } else {
      Tk_GetAllBindings(interp, canvas->bindingTable, object);
    }
    break;
  }
  case CANVASX:
  case CANVASY: {
    bool isX = index == CANVASX;
    if (objc != 3 && objc != 4) { result = wrong(isX ? "screenx ?gridspacing?" : "screeny ?gridspacing?"); break; }
    double screen, grid = 0;
    if (canvasScreenDistance(interp, c->tkwin, Tcl_GetString(objv[2]), true, &screen) != TCL_OK ||
        (objc == 4 && canvasGetCoordFromObj(interp, c, objv[3], &grid) != TCL_OK)) {
      result = TCL_ERROR;
      break;
    }
    // A whole screen pixel, as Tk's canvas takes it; the sum in doubles.
    double pixel = pixelRound(screen);
    double v = isX ? (pixel + canvas->xOrigin + c->xOffset) / c->mx
                   : (pixel + canvas->yOrigin + c->yOffset) / c->my;
    if (grid > 0) {
      if (v >= 0) v = grid * trunc(v / grid + 0.5);
      else v = -grid * trunc(-v / grid + 0.5);
    }
    Tcl_SetObjResult(interp, doubleObj(v));
    break;
  }
  case CGET:
    if (objc != 3) { result = wrong("option"); break; }
    result = Tk_ConfigureValue(interp, c->tkwin, gcanvasConfigSpecs,
                               reinterpret_cast<char *>(canvas), Tcl_GetString(objv[2]), 0);
    break;
  case CONFIGURE:
    if (objc == 2)
      result = Tk_ConfigureInfo(interp, c->tkwin, gcanvasConfigSpecs,
                                reinterpret_cast<char *>(canvas), nullptr, 0);
    else if (objc == 3)
      result = Tk_ConfigureInfo(interp, c->tkwin, gcanvasConfigSpecs,
                                reinterpret_cast<char *>(canvas), Tcl_GetString(objv[2]), 0);
    else
      result = configureGcanvas(interp, canvas, objc - 2, objv + 2, TK_CONFIG_ARGV_ONLY);
    break;
  case COORDS: {
    if (objc < 3) { result = wrong("tagOrId ?x y x y ...?"); break; }
    GcanvasItem *item = firstMatch(canvas, objv[2], &result);
    if (result != TCL_OK || !item || !item->typePtr->coordProc) break;
    if (objc != 3) eventuallyRedrawItem(canvas, item);
    result = item->typePtr->coordProc(interp, c, item, objc - 3, objv + 3);
    if (objc != 3) eventuallyRedrawItem(canvas, item);
    break;
  }
  case COUNT: {
    if (objc < 3) { result = wrong("all or type id ..."); break; }
    int n = 0;
    if (objc == 3) {
      for (GcanvasItem *item = c->firstItemPtr; item; item = item->nextPtr) n++;
    } else {
      int type = objectTypeFromName(Tcl_GetString(objv[2]));
      if (type < 0) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Invalid object type. Should be", nullptr);
        for (int i = 0; objectTypeNameAt(i); i++)
          Tcl_AppendResult(interp, " ", objectTypeNameAt(i), nullptr);
        result = TCL_ERROR;
        break;
      }
      if (type != 0x100 && type != 0x200 && type != 0x400) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("Not implemented yet.", -1));
        break;
      }
      for (int i = 3; i < objc && result == TCL_OK; i++)
        result = forEachMatch(canvas, objv[i], [&](GcanvasItem *item) {
          if (itemObjectType(item) == type) n++;
          return true;
        });
      if (result != TCL_OK) break;
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(n));
    break;
  }
  case CREATE: {
    if (objc < 3) { result = wrong("type ?arg arg ...?"); break; }
    const char *word = Tcl_GetString(objv[2]);
    size_t length = strlen(word);
    GcanvasItemType *match = nullptr;
    int matches = 0;
    for (GcanvasItemType *t = getItemTypes(); t; t = t->nextPtr) {
      if (strncmp(word, t->name, length) == 0) {
        if (t->name[length] == '\0') {
          match = t;
          matches = 1;
          break;
        }
        match = t;
        matches++;
      }
    }
    if (matches != 1 || length == 0) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "unknown or ambiguous item type \"", word, "\"", nullptr);
      result = TCL_ERROR;
      break;
    }
    GcanvasItem *item = newItemHeader(canvas, match);
    if (match->createProc(interp, c, item, objc - 3, objv + 3) != TCL_OK) {
      freeItemRecord(canvas, item);
      result = TCL_ERROR;
      break;
    }
    if (!c->tkwin) {
      /* A script run by the new item destroyed the canvas. */
      if (match->deleteProc) match->deleteProc(c, item, c->display);
      freeItemRecord(canvas, item);
      Tcl_SetObjResult(interp,
                       Tcl_NewStringObj("the canvas was destroyed while the item was created", -1));
      result = TCL_ERROR;
      break;
    }
    linkNewItem(canvas, item);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(item->id));
    break;
  }
  case DCHARS:
  case INSERT: {
    bool insert = index == INSERT;
    if (insert ? objc != 5 : (objc != 4 && objc != 5)) {
      result = wrong(insert ? "tagOrId beforeThis string" : "tagOrId first ?last?");
      break;
    }
    int code = TCL_OK;
    result = forEachMatch(canvas, objv[2], [&](GcanvasItem *item) {
      GcanvasItemType *t = item->typePtr;
      if (!t->indexProc || !(insert ? (void *)t->insertProc : (void *)t->dCharsProc)) return true;
      int first, last;
      if (t->indexProc(interp, c, item, objv[3], &first) != TCL_OK) {
        code = TCL_ERROR;
        return false;
      }
      last = first;
      if (!insert && objc == 5 && t->indexProc(interp, c, item, objv[4], &last) != TCL_OK) {
        code = TCL_ERROR;
        return false;
      }
      item->redrawFlags &= ~ITEM_DONT_REDRAW;
      double x1 = item->x1, y1 = item->y1, x2 = item->x2, y2 = item->y2;
      if (insert) t->insertProc(c, item, first, objv[4]);
      else t->dCharsProc(c, item, first, last);
      if (!(item->redrawFlags & ITEM_DONT_REDRAW)) {
        eventuallyRedrawArea(canvas, x1, y1, x2, y2, 1);
        eventuallyRedrawItem(canvas, item);
      }
      item->redrawFlags &= ~ITEM_DONT_REDRAW;
      return true;
    });
    if (result == TCL_OK) result = code;
    break;
  }
  case DELETE:
    for (int i = 2; i < objc && result == TCL_OK; i++) {
      std::vector<GcanvasItem *> doomed;
      result = forEachMatch(canvas, objv[i], [&](GcanvasItem *item) {
        doomed.push_back(item);
        return true;
      });
      for (GcanvasItem *item : doomed) deleteCanvasItem(canvas, item);
    }
    break;
  case DISASSEMBLE:
    for (int i = 2; i < objc && result == TCL_OK; i++) {
      std::vector<GcanvasItem *> items;
      result = forEachMatch(canvas, objv[i], [&](GcanvasItem *item) {
        if (item->typePtr->disassembleProc) items.push_back(item);
        return true;
      });
      for (GcanvasItem *item : items)
        if (result == TCL_OK) result = item->typePtr->disassembleProc(interp, c, item);
    }
    break;
  case DTAG: {
    if (objc != 3 && objc != 4) { result = wrong("tagOrId ?tagToDelete?"); break; }
    Tk_Uid tag = Tk_GetUid(Tcl_GetString(objv[objc == 4 ? 3 : 2]));
    result = forEachMatch(canvas, objv[2], [&](GcanvasItem *item) {
      for (int i = item->numTags - 1; i >= 0; i--) {
        if (item->tagPtr[i] == tag) {
          item->tagPtr[i] = item->tagPtr[item->numTags - 1];
          item->numTags--;
        }
      }
      return true;
    });
    break;
  }
  case FIND:
    if (objc < 3) { result = wrong("searchCommand ?arg arg ...?"); break; }
    result = findItems(interp, canvas, objc, objv, nullptr, 2);
    break;
  case FOCUS: {
    if (objc > 3) { result = wrong("?tagOrId?"); break; }
    GcanvasItem *focus = canvas->textInfo.focusItemPtr;
    if (objc == 2) {
      if (focus) Tcl_SetObjResult(interp, Tcl_NewIntObj(focus->id));
      break;
    }
    if (focus) eventuallyRedrawItem(canvas, focus);
    if (!*Tcl_GetString(objv[2])) {
      canvas->textInfo.focusItemPtr = nullptr;
      break;
    }
    GcanvasItem *found = nullptr;
    result = forEachMatch(canvas, objv[2], [&](GcanvasItem *item) {
      if (item->typePtr->icursorProc) {
        found = item;
        return false;
      }
      return true;
    });
    if (result != TCL_OK || !found) break;
    canvas->textInfo.focusItemPtr = found;
    if (canvas->textInfo.gotFocus) eventuallyRedrawItem(canvas, found);
    break;
  }
  case GETTAGS: {
    if (objc != 3) { result = wrong("tagOrId"); break; }
    GcanvasItem *item = firstMatch(canvas, objv[2], &result);
    if (result != TCL_OK || !item) break;
    Tcl_Obj *list = Tcl_NewObj();
    for (int i = 0; i < item->numTags; i++)
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(item->tagPtr[i], -1));
    Tcl_SetObjResult(interp, list);
    break;
  }
  case GROUP: {
    if (objc < 4) { result = wrong("tagOrId command ?arg ...?"); break; }
    Tcl_HashEntry *entry = Tcl_FindHashEntry(&canvas->nameTable, Tcl_GetString(objv[2]));
    GcanvasItem *member = nullptr, *group = nullptr;
    if (entry) {
      member = static_cast<GcanvasItem *>(Tcl_GetHashValue(entry));
      group = member->group ? member->group : member;
      if (!group->typePtr->memberCmdProc) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("Invalid item command", -1));
        result = TCL_ERROR;
        break;
      }
      eventuallyRedrawItem(canvas, group);
      result = group->typePtr->memberCmdProc(interp, c, member, objc - 3, objv + 3);
      eventuallyRedrawItem(canvas, group);
    } else {
      group = firstMatch(canvas, objv[2], &result);
      if (result != TCL_OK || !group) break;
      if (!group->typePtr->groupCmdProc) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("Invalid item command", -1));
        result = TCL_ERROR;
        break;
      }
      eventuallyRedrawItem(canvas, group);
      result = group->typePtr->groupCmdProc(interp, c, group, objc - 3, objv + 3);
      eventuallyRedrawItem(canvas, group);
    }
    canvas->flags |= REPICK_NEEDED;
    break;
  }
  case ICURSOR: {
    if (objc != 4) { result = wrong("tagOrId index"); break; }
    int code = TCL_OK;
    result = forEachMatch(canvas, objv[2], [&](GcanvasItem *item) {
      GcanvasItemType *t = item->typePtr;
      if (!t->indexProc || !t->icursorProc) return true;
      int at;
      if (t->indexProc(interp, c, item, objv[3], &at) != TCL_OK) {
        code = TCL_ERROR;
        return false;
      }
      t->icursorProc(c, item, at);
      if (item == canvas->textInfo.focusItemPtr && canvas->textInfo.cursorOn)
        eventuallyRedrawItem(canvas, item);
      return true;
    });
    if (result == TCL_OK) result = code;
    break;
  }
  case INDEX: {
    if (objc != 4) { result = wrong("tagOrId string"); break; }
    GcanvasItem *found = nullptr;
    result = forEachMatch(canvas, objv[2], [&](GcanvasItem *item) {
      if (item->typePtr->indexProc) {
        found = item;
        return false;
      }
      return true;
    });
    if (result != TCL_OK) break;
    if (!found) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "can't find an indexable item \"", Tcl_GetString(objv[2]), "\"",
                       nullptr);
      result = TCL_ERROR;
      break;
    }
    int at;
    result = found->typePtr->indexProc(interp, c, found, objv[3], &at);
    if (result == TCL_OK) Tcl_SetObjResult(interp, Tcl_NewIntObj(at));
    break;
  }
  case ITEMCGET: {
    if (objc != 4) { result = wrong("tagOrId option"); break; }
    GcanvasItem *item = firstMatch(canvas, objv[2], &result);
    if (result != TCL_OK || !item) break;
    result = Tk_ConfigureValue(interp, c->tkwin, item->typePtr->configSpecs,
                               reinterpret_cast<char *>(item), Tcl_GetString(objv[3]), 0);
    break;
  }
  case ITEMCONFIGURE: {
    if (objc < 3) { result = wrong("tagOrId ?option value ...?"); break; }
    int code = TCL_OK;
    result = forEachMatch(canvas, objv[2], [&](GcanvasItem *item) {
      if (objc == 3) {
        code = Tk_ConfigureInfo(interp, c->tkwin, item->typePtr->configSpecs,
                                  reinterpret_cast<char *>(item), nullptr, 0);
        return false;
      }
      if (objc == 4) {
        code = Tk_ConfigureInfo(interp, c->tkwin, item->typePtr->configSpecs,
                                  reinterpret_cast<char *>(item), Tcl_GetString(objv[3]), 0);
        return false;
      }
      eventuallyRedrawItem(canvas, item);
      code = item->typePtr->configProc(interp, c, item, objc - 3, objv + 3,
                                         TK_CONFIG_ARGV_ONLY);
      eventuallyRedrawItem(canvas, item);
      canvas->flags |= REPICK_NEEDED;
      return code == TCL_OK;
    });
    if (result == TCL_OK) result = code;
    break;
  }
  case LANGLE:
  case VANGLE: {
    bool line = index == LANGLE;
    if (objc < 4) {
      result = wrong(line ? "tagOrId pIndex ?pIndex...?" : "tagOrId vertexindex ?vertexindex...?");
      break;
    }
    GcanvasItem *found = nullptr;
    result = forEachMatch(canvas, objv[2], [&](GcanvasItem *item) {
      if (line ? item->typePtr->langleProc != nullptr : item->typePtr->vangleProc != nullptr) {
        found = item;
        return false;
      }
      return true;
    });
    if (result != TCL_OK || !found) break;
    Tcl_Obj *list = Tcl_NewObj();
    Tcl_SetObjResult(interp, list);
    for (int i = 3; i < objc; i++) {
      if (line) {
        double position, x = 0, y = 0;
        if (Tcl_GetDoubleFromObj(interp, objv[i], &position) != TCL_OK) {
          result = TCL_ERROR;
          break;
        }
        double angle = found->typePtr->langleProc(c, found, position, &x, &y);
        Tcl_ListObjAppendElement(nullptr, list, doubleObj(angle));
        Tcl_ListObjAppendElement(nullptr, list, doubleObj(x));
        Tcl_ListObjAppendElement(nullptr, list, doubleObj(y));
      } else {
        int vertex;
        if (Tcl_GetIntFromObj(interp, objv[i], &vertex) != TCL_OK) {
          result = TCL_ERROR;
          break;
        }
        Tcl_ListObjAppendElement(nullptr, list,
                                 doubleObj(found->typePtr->vangleProc(c, found, vertex)));
      }
    }
    break;
  }
  case LOWER: {
    if (objc != 3 && objc != 4) { result = wrong("tagOrId ?belowThis?"); break; }
    GcanvasItem *prev = nullptr;
    if (objc == 4) {
      GcanvasItem *below = firstMatch(canvas, objv[3], &result);
      if (result != TCL_OK) break;
      if (!below) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "tag \"", Tcl_GetString(objv[3]), "\" doesn't match any items",
                         nullptr);
        break;
      }
      prev = below->prevPtr;
    }
    result = relinkItems(canvas, objv[2], prev);
    break;
  }
  case RAISE: {
    if (objc != 3 && objc != 4) { result = wrong("tagOrId ?aboveThis?"); break; }
    GcanvasItem *prev = c->lastItemPtr;
    if (objc == 4) {
      prev = nullptr;
      result = forEachMatch(canvas, objv[3], [&](GcanvasItem *item) {
        prev = item;
        return true;
      });
      if (result != TCL_OK) break;
      if (!prev) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "tagOrId \"", Tcl_GetString(objv[3]),
                         "\" doesn't match any items", nullptr);
        result = TCL_ERROR;
        break;
      }
    }
    result = relinkItems(canvas, objv[2], prev);
    break;
  }
  case MOVE: {
    if (objc != 5) { result = wrong("tagOrId xAmount yAmount"); break; }
    double dx, dy;
    if (canvasGetCoordFromObj(interp, c, objv[3], &dx) != TCL_OK ||
        canvasGetCoordFromObj(interp, c, objv[4], &dy) != TCL_OK) {
      result = TCL_ERROR;
      break;
    }
    result = forEachMatch(canvas, objv[2], [&](GcanvasItem *item) {
      eventuallyRedrawItem(canvas, item);
      item->typePtr->translateProc(c, item, dx, dy);
      eventuallyRedrawItem(canvas, item);
      canvas->flags |= REPICK_NEEDED;
      return true;
    });
    break;
  }
  case POSTSCRIPT:
    result = postscriptCmd(canvas, interp, objc, objv);
    break;
  case REDRAW:
    result = redrawCmd(canvas, interp, objc, objv);
    break;
  case SCALE: {
    if (objc != 7) { result = wrong("tagOrId xOrigin yOrigin xScale yScale"); break; }
    double ox, oy, sx, sy;
    if (canvasGetCoordFromObj(interp, c, objv[3], &ox) != TCL_OK ||
        canvasGetCoordFromObj(interp, c, objv[4], &oy) != TCL_OK ||
        Tcl_GetDoubleFromObj(interp, objv[5], &sx) != TCL_OK ||
        Tcl_GetDoubleFromObj(interp, objv[6], &sy) != TCL_OK) {
      result = TCL_ERROR;
      break;
    }
    if (sx == 0.0 || sy == 0.0) {
      Tcl_SetObjResult(interp, Tcl_NewStringObj("scale factor cannot be zero", -1));
      result = TCL_ERROR;
      break;
    }
    result = forEachMatch(canvas, objv[2], [&](GcanvasItem *item) {
      eventuallyRedrawItem(canvas, item);
      item->typePtr->scaleProc(c, item, ox, oy, sx, sy);
      eventuallyRedrawItem(canvas, item);
      canvas->flags |= REPICK_NEEDED;
      return true;
    });
    break;
  }
  case SCAN:
    result = scanCmd(canvas, interp, objc, objv);
    break;
  case SELECT: {
    if (objc < 3 || objc > 5) { result = wrong("option ?tagOrId? ?arg?"); break; }
    static const char *const selOptions[] = {"adjust", "clear", "from", "item", "to", nullptr};
    int sel;
    if (Tcl_GetIndexFromObj(interp, objv[2], selOptions, "select option", 0, &sel) != TCL_OK) {
      result = TCL_ERROR;
      break;
    }
    GcanvasTextInfo &ti = canvas->textInfo;
    if (sel == 1) {  /* clear */
      if (objc != 3) { result = wrong("clear"); break; }
      if (ti.selItemPtr) eventuallyRedrawItem(canvas, ti.selItemPtr);
      ti.selItemPtr = nullptr;
      break;
    }
    if (sel == 3) {  /* item */
      if (objc != 3) { result = wrong("item"); break; }
      if (ti.selItemPtr) Tcl_SetObjResult(interp, Tcl_NewIntObj(ti.selItemPtr->id));
      break;
    }
    /* As Tk's canvas says it, "to" keeps two words. */
    if (objc != 5) {
      result = wrong(sel == 0 ? "adjust tagOrId index" : sel == 2 ? "from tagOrId index" : "tagOrId index");
      break;
    }
    GcanvasItem *found = nullptr;
    result = forEachMatch(canvas, objv[3], [&](GcanvasItem *item) {
      if (item->typePtr->indexProc && item->typePtr->selectionProc) {
        found = item;
        return false;
      }
      return true;
    });
    if (result != TCL_OK) break;
    if (!found) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "can't find an indexable and selectable item \"",
                       Tcl_GetString(objv[3]), "\"", nullptr);
      result = TCL_ERROR;
      break;
    }
    int at;
    if (found->typePtr->indexProc(interp, c, found, objv[4], &at) != TCL_OK) {
      result = TCL_ERROR;
      break;
    }
    if (sel == 2) {  /* from */
      ti.anchorItemPtr = found;
      ti.selectAnchor = at;
      break;
    }
    if (sel == 0 && ti.selItemPtr == found) {  /* adjust: move the far end */
      if (at < (ti.selectFirst + ti.selectLast) / 2) ti.selectAnchor = ti.selectLast + 1;
      else ti.selectAnchor = ti.selectFirst;
    }
    canvasSelectTo(canvas, found, at);
    break;
  }
  case TYPE: {
    if (objc != 3) { result = wrong("tag"); break; }
    GcanvasItem *item = firstMatch(canvas, objv[2], &result);
    if (result == TCL_OK && item)
      Tcl_SetObjResult(interp, Tcl_NewStringObj(item->typePtr->name, -1));
    break;
  }
  case XVIEW:
  case YVIEW:
    result = xviewCmd(canvas, interp, objc, objv, index == YVIEW);
    break;
  }
  Tcl_Release(canvas);
  return result;
}

}  // namespace vesk
