/*
 * group.cpp --
 *     The "group" item type: a private list of member items placed from
 *     the group's world anchor point, moved, hidden and hit as one item.
 *     A group that is not scalable keeps its members' pixel sizes (their
 *     coordinates are pixel offsets from the anchor); a scalable one
 *     zooms them (world offsets).  The group record is a container, so
 *     member procedures run under the group's transform; members' boxes
 *     are canvas pixels like every other box.  Members are addressed by
 *     the canvas's "group" subcommand and by the names grp<id> and
 *     grp<id>.<member>.
 */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <new>
#include <string>

#include "canvas/gcanvas.h"

namespace vesk {

namespace {

struct GcanvasGroupItem {
  ItemContainer c;           /* header first; the members' container */
  int scalable;              /* "-scalable": members in world offsets */
  double x, y;               /* anchor point, world units */
  char *groupString;         /* "-groupstring", kept for the application */
  GcanvasItem *owner;        /* the group holding this one as a member; NULL on the canvas */
  char *name;                /* "grp<id>", or the owner's name and ".<member id>" */
  int textSizeMin, textSizeMax;
  double textSizeRatio;
};

#define GROUP_OFFSET(field) static_cast<int>(offsetof(GcanvasGroupItem, field))

Tk_ConfigSpec groupConfigSpecs[] = {
    {TK_CONFIG_INT, "-floating", nullptr, nullptr, "0", GROUP_OFFSET(c.header.floating), 0,
     nullptr},
    {TK_CONFIG_INT, "-scalable", nullptr, nullptr, "0", GROUP_OFFSET(scalable), 0, nullptr},
    {TK_CONFIG_STRING, "-groupstring", nullptr, nullptr, nullptr, GROUP_OFFSET(groupString),
     TK_CONFIG_NULL_OK, nullptr},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK, &tagsOption},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

GcanvasGroupItem *asGroup(GcanvasItem *item) { return reinterpret_cast<GcanvasGroupItem *>(item); }

/* The ten member types, taken once from the built-in records. */
GcanvasItemType *const *memberTypes() {
  static GcanvasItemType *const types[] = {&rectangleType, &textType,  &lineType,  &polygonType,
                                           &imageType,     &ovalType,  &bitmapType, &arcType,
                                           &gtextType,     &groupType, nullptr};
  return types;
}

/*
 * prepareContainer --
 *     Sets the group's container transform under the container it was
 *     given: member coordinates u map to G + u pixels (not scalable) or
 *     to the world point anchor + u (scalable).
 */
void prepareContainer(ItemContainer *parent, GcanvasGroupItem *g) {
  double gx = g->x * parent->mx - parent->xOffset, gy = g->y * parent->my - parent->yOffset;
  ItemContainer &c = g->c;
  GcanvasRecord *canvas = canvasOf(parent);
  c.canvas = canvas;
  c.tkwin = canvas->c.tkwin;
  c.display = canvas->c.display;
  c.interp = canvas->c.interp;
  c.groupItem = &g->c.header;
  c.mx = g->scalable ? parent->mx : 1.0;
  c.my = g->scalable ? parent->my : 1.0;
  c.xOffset = -gx;
  c.yOffset = -gy;
  if (g->scalable) {
    c.textSizeRatio = parent->textSizeRatio;
    c.textSizeMin = parent->textSizeMin;
    c.textSizeMax = parent->textSizeMax;
  } else {
    c.textSizeRatio = g->textSizeRatio;
    c.textSizeMin = g->textSizeMin;
    c.textSizeMax = g->textSizeMax;
  }
}

/* Prepares the chain of containers down from the canvas; the group's own. */
ItemContainer *containerOf(GcanvasRecord *canvas, GcanvasGroupItem *g) {
  ItemContainer *parent = g->owner ? containerOf(canvas, asGroup(g->owner)) : &canvas->c;
  prepareContainer(parent, g);
  return &g->c;
}

GcanvasGroupItem *topGroup(GcanvasGroupItem *g) {
  while (g->owner) g = asGroup(g->owner);
  return g;
}

std::string memberName(GcanvasGroupItem *g, int id) {
  return std::string(g->name ? g->name : "grp") + "." + std::to_string(id);
}

/* The name table goes with the window, before the items are freed. */
void enterName(GcanvasRecord *canvas, const std::string &name, GcanvasItem *item) {
  if (!canvas->c.tkwin) return;
  int isNew;
  Tcl_HashEntry *e = Tcl_CreateHashEntry(&canvas->nameTable, name.c_str(), &isNew);
  Tcl_SetHashValue(e, item);
}

void removeName(GcanvasRecord *canvas, const std::string &name, GcanvasItem *item) {
  if (!canvas->c.tkwin) return;
  Tcl_HashEntry *e = Tcl_FindHashEntry(&canvas->nameTable, name.c_str());
  if (e && Tcl_GetHashValue(e) == item) Tcl_DeleteHashEntry(e);
}

void computeGroupBbox(ItemContainer *parent, GcanvasItem *item);

/* Recomputes the boxes from the outermost group down. */
void recomputeFromTop(GcanvasRecord *canvas, GcanvasGroupItem *g) {
  computeGroupBbox(&canvas->c, &topGroup(g)->c.header);
}

/* Unlinks and frees one member. */
void freeMember(GcanvasRecord *canvas, GcanvasGroupItem *g, GcanvasItem *member) {
  if (member->prevPtr) member->prevPtr->nextPtr = member->nextPtr;
  else g->c.firstItemPtr = member->nextPtr;
  if (member->nextPtr) member->nextPtr->prevPtr = member->prevPtr;
  else g->c.lastItemPtr = member->prevPtr;
  if (member->typePtr->deleteProc) member->typePtr->deleteProc(&g->c, member, canvas->c.display);
  removeName(canvas, memberName(g, member->id), member);
  GcanvasTextInfo *info = &canvas->textInfo;
  if (info->selItemPtr == member) info->selItemPtr = nullptr;
  if (info->focusItemPtr == member) info->focusItemPtr = nullptr;
  if (info->anchorItemPtr == member) info->anchorItemPtr = nullptr;
  freeItemRecord(canvas, member);
}

void deleteAllMembers(GcanvasRecord *canvas, GcanvasGroupItem *g) {
  while (g->c.firstItemPtr) freeMember(canvas, g, g->c.firstItemPtr);
}

GcanvasItem *findMember(GcanvasGroupItem *g, int id) {
  for (GcanvasItem *m = g->c.firstItemPtr; m; m = m->nextPtr)
    if (m->id == id) return m;
  return nullptr;
}

void computeGroupBbox(ItemContainer *parent, GcanvasItem *item) {
  GcanvasGroupItem *g = asGroup(item);
  prepareContainer(parent, g);
  for (GcanvasItem *m = g->c.firstItemPtr; m; m = m->nextPtr)
    if (m->typePtr->bboxProc) m->typePtr->bboxProc(&g->c, m);
  double gx = -g->c.xOffset, gy = -g->c.yOffset;
  item->xMargin = item->yMargin = 0;
  item->x1 = gx;
  item->y1 = gy;
  item->x2 = gx + 1;
  item->y2 = gy + 1;
  if (effectiveState(parent, item) == STATE_HIDDEN || !g->c.firstItemPtr) return;
  for (GcanvasItem *m = g->c.firstItemPtr; m; m = m->nextPtr) {
    if (effectiveState(parent, m) == STATE_HIDDEN) continue;
    double x1 = m->x1 + m->xMargin, y1 = m->y1 + m->yMargin;
    double x2 = m->x2 - m->xMargin, y2 = m->y2 - m->yMargin;
    if (x1 > x2 || y1 > y2) continue;
    growItemBox(item, x1, y1);
    growItemBox(item, x2, y2);
  }
}

int groupCoords(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                Tcl_Obj *const objv[]) {
  GcanvasGroupItem *g = asGroup(item);
  if (pointItemCoords(interp, objc, objv, c, &g->x, &g->y) != TCL_OK) return TCL_ERROR;
  if (objc > 0) computeGroupBbox(c, item);
  return TCL_OK;
}

int configureGroup(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                   Tcl_Obj *const objv[], int flags) {
  GcanvasGroupItem *g = asGroup(item);
  int code = Tk_ConfigureWidget(interp, canvasTkwin(c), groupConfigSpecs, objc, objWords(objv),
                                reinterpret_cast<char *>(g), flags | TK_CONFIG_OBJS);
  /* Members' looks may follow the view: reconfigure them under the group's transform. */
  prepareContainer(c, g);
  for (GcanvasItem *m = g->c.firstItemPtr; m; m = m->nextPtr)
    if (m->typePtr->configProc &&
        m->typePtr->configProc(interp, &g->c, m, 0, nullptr, TK_CONFIG_ARGV_ONLY) != TCL_OK)
      Tcl_ResetResult(interp);
  computeGroupBbox(c, item);
  return code;
}

void deleteGroup(ItemContainer *c, GcanvasItem *item, Display *display) {
  GcanvasGroupItem *g = asGroup(item);
  GcanvasRecord *canvas = canvasOf(c);
  prepareContainer(c, g);
  deleteAllMembers(canvas, g);
  Tk_FreeOptions(groupConfigSpecs, reinterpret_cast<char *>(g), display, 0);
  if (g->name) {
    removeName(canvas, g->name, item);
    ckfree(g->name);
    g->name = nullptr;
  }
}

int createGroup(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                Tcl_Obj *const objv[]) {
  GcanvasGroupItem *g = asGroup(item);
  GcanvasRecord *canvas = canvasOf(c);
  int coords = createCoordCount(interp, c, item, objc, objv, 2, "x y");
  if (coords < 0) return TCL_ERROR;
  /* A member group was given its owner in the header before its creation. */
  GcanvasItem *owner = item->group;
  GcanvasItem header = *item;
  new (&g->c) ItemContainer();
  g->c.header = header;
  g->c.canvas = canvas;
  g->c.tkwin = canvas->c.tkwin;
  g->scalable = 0;
  g->x = g->y = 0;
  g->groupString = nullptr;
  g->owner = owner;
  g->name = nullptr;
  g->textSizeRatio = 1.0;
  g->textSizeMin = 4;
  g->textSizeMax = 400;
  item->group = item;
  if (createFromWords(interp, c, item, objc, objv, coords) != TCL_OK) return TCL_ERROR;
  std::string name = owner ? memberName(asGroup(owner), item->id) : "grp" + std::to_string(item->id);
  g->name = (char *)ckalloc(static_cast<unsigned>(name.size() + 1));
  memcpy(g->name, name.c_str(), name.size() + 1);
  if (!owner) enterName(canvas, name, item);
  return TCL_OK;
}

void displayGroup(ItemContainer *c, GcanvasItem *item, Display *display, Drawable drawable, int x,
                  int y, int width, int height) {
  GcanvasGroupItem *g = asGroup(item);
  prepareContainer(c, g);
  for (GcanvasItem *m = g->c.firstItemPtr; m; m = m->nextPtr) {
    bool meets = x + width > m->x1 && y + height > m->y1 && x <= m->x2 && y <= m->y2;
    if (!meets && !(m->typePtr->alwaysRedraw & TK_ITEM_ALWAYS_REDRAW)) continue;
    if (effectiveState(c, m) == STATE_HIDDEN) continue;
    m->typePtr->displayProc(&g->c, m, display, drawable, x, y, width, height);
  }
}

double groupToPoint(ItemContainer *c, GcanvasItem *item, double *point) {
  GcanvasGroupItem *g = asGroup(item);
  prepareContainer(c, g);
  double best = 1.0e36, closeEnough = canvasOf(c)->closeEnough;
  for (GcanvasItem *m = g->c.lastItemPtr; m; m = m->prevPtr) {
    if (effectiveState(c, m) == STATE_HIDDEN || !m->typePtr->pointProc) continue;
    double d = m->typePtr->pointProc(&g->c, m, point);
    if (d < best) best = d;
    if (best < closeEnough) break;
  }
  return best;
}

/* -1 outside every member, 1 when all members lie inside, else 0. */
int groupToArea(ItemContainer *c, GcanvasItem *item, double *rect) {
  GcanvasGroupItem *g = asGroup(item);
  prepareContainer(c, g);
  bool any = false, allInside = true, anyTouch = false;
  for (GcanvasItem *m = g->c.lastItemPtr; m; m = m->prevPtr) {
    if (effectiveState(c, m) == STATE_HIDDEN || !m->typePtr->areaProc) continue;
    any = true;
    int r = m->typePtr->areaProc(&g->c, m, rect);
    if (r >= 0) anyTouch = true;
    if (r != 1) allInside = false;
  }
  if (!any || !anyTouch) return -1;
  return allInside ? 1 : 0;
}

void scaleGroup(ItemContainer *c, GcanvasItem *item, double ox, double oy, double sx, double sy) {
  GcanvasGroupItem *g = asGroup(item);
  scaleWorldPoint(&g->x, &g->y, ox, oy, sx, sy);
  computeGroupBbox(c, item);
}

void translateGroup(ItemContainer *c, GcanvasItem *item, double dx, double dy) {
  GcanvasGroupItem *g = asGroup(item);
  g->x += dx;
  g->y += dy;
  computeGroupBbox(c, item);
}

int groupToPostscript(Tcl_Interp *, ItemContainer *, GcanvasItem *, int) { return TCL_OK; }

bool matchesWord(const char *word, size_t n, const char *command) {
  return n > 0 && word[0] == command[0] && n <= strlen(command) && strncmp(word, command, n) == 0;
}

int unknownCommand(Tcl_Interp *interp, const char *word) {
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "unknown or ambiguous group command \"", word, "\"", nullptr);
  return TCL_ERROR;
}

/* The member type a word names, by a unique prefix; NULL when none or ambiguous. */
GcanvasItemType *memberTypeFor(const char *word) {
  size_t n = strlen(word);
  GcanvasItemType *found = nullptr;
  int matches = 0;
  for (GcanvasItemType *const *t = memberTypes(); *t; t++) {
    if (n > 0 && strncmp(word, (*t)->name, n) == 0) {
      if (strlen((*t)->name) == n) return *t;
      found = *t;
      matches++;
    }
  }
  return matches == 1 ? found : nullptr;
}

int listMembers(Tcl_Interp *interp, GcanvasGroupItem *g) {
  Tcl_Obj *list = Tcl_NewObj();
  for (GcanvasItem *m = g->c.firstItemPtr; m; m = m->nextPtr)
    Tcl_ListObjAppendElement(nullptr, list, Tcl_ObjPrintf("%d", m->id));
  Tcl_SetObjResult(interp, list);
  return TCL_OK;
}

/* "<type> coordinates ?options?": a new member of the type the first word named. */
int createMember(Tcl_Interp *interp, GcanvasRecord *canvas, GcanvasGroupItem *g,
                 GcanvasItemType *type, int objc, Tcl_Obj *const objv[]) {
  if (!type) return unknownCommand(interp, Tcl_GetString(objv[0]));
  if (objc < 2) {
    Tcl_WrongNumArgs(interp, 0, objv, "type ?arg arg ...?");
    return TCL_ERROR;
  }
  objc--;
  objv++;
  ItemContainer *container = containerOf(canvas, g);
  GcanvasItem *member = newItemHeader(canvas, type);
  member->id = g->c.nextId;
  member->group = &g->c.header;
  if (type->createProc(interp, container, member, objc, objv) != TCL_OK) {
    freeItemRecord(canvas, member);
    return TCL_ERROR;
  }
  /* A member group names itself as its group; its owner is kept in its record. */
  if (type != &groupType) member->group = &g->c.header;
  member->prevPtr = g->c.lastItemPtr;
  member->nextPtr = nullptr;
  if (g->c.lastItemPtr) g->c.lastItemPtr->nextPtr = member;
  else g->c.firstItemPtr = member;
  g->c.lastItemPtr = member;
  GcanvasGroupItem *top = topGroup(g);
  eventuallyRedrawItem(canvas, &top->c.header);
  recomputeFromTop(canvas, g);
  member->redrawFlags |= ITEM_FORCE_REDRAW;
  top->c.header.redrawFlags |= ITEM_FORCE_REDRAW;
  canvas->flags |= ITEMS_FORCED | REPICK_NEEDED;
  eventuallyRedrawItem(canvas, &top->c.header);
  enterName(canvas, memberName(g, member->id), member);
  Tcl_SetObjResult(interp, Tcl_ObjPrintf("%d", member->id));
  g->c.nextId++;
  return TCL_OK;
}

int memberConfig(Tcl_Interp *interp, GcanvasRecord *canvas, GcanvasGroupItem *g,
                 GcanvasItem *member, int objc, Tcl_Obj *const objv[]) {
  Tk_Window tkwin = canvas->c.tkwin;
  if (objc == 0)
    return Tk_ConfigureInfo(interp, tkwin, member->typePtr->configSpecs,
                            reinterpret_cast<char *>(member), nullptr, 0);
  if (objc == 1)
    return Tk_ConfigureInfo(interp, tkwin, member->typePtr->configSpecs,
                            reinterpret_cast<char *>(member), Tcl_GetString(objv[0]), 0);
  GcanvasGroupItem *top = topGroup(g);
  eventuallyRedrawItem(canvas, &top->c.header);
  ItemContainer *container = containerOf(canvas, g);
  int code = member->typePtr->configProc(interp, container, member, objc, objv,
                                         TK_CONFIG_ARGV_ONLY);
  recomputeFromTop(canvas, g);
  eventuallyRedrawItem(canvas, &top->c.header);
  canvas->flags |= REPICK_NEEDED;
  return code;
}

int memberCoords(Tcl_Interp *interp, GcanvasRecord *canvas, GcanvasGroupItem *g,
                 GcanvasItem *member, int objc, Tcl_Obj *const objv[]) {
  GcanvasGroupItem *top = topGroup(g);
  if (objc > 0) eventuallyRedrawItem(canvas, &top->c.header);
  ItemContainer *container = containerOf(canvas, g);
  int code = member->typePtr->coordProc(interp, container, member, objc, objv);
  if (objc > 0) {
    recomputeFromTop(canvas, g);
    eventuallyRedrawItem(canvas, &top->c.header);
  }
  return code;
}

int memberById(Tcl_Interp *interp, GcanvasGroupItem *g, Tcl_Obj *word, GcanvasItem **member) {
  int id;
  if (Tcl_GetIntFromObj(interp, word, &id) != TCL_OK) return TCL_ERROR;
  *member = findMember(g, id);
  if (!*member) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "no member ", Tcl_GetString(word), " in the group", nullptr);
    return TCL_ERROR;
  }
  return TCL_OK;
}

void removeMember(GcanvasRecord *canvas, GcanvasGroupItem *g, GcanvasItem *member) {
  GcanvasGroupItem *top = topGroup(g);
  eventuallyRedrawItem(canvas, &top->c.header);
  containerOf(canvas, g);
  freeMember(canvas, g, member);
  recomputeFromTop(canvas, g);
  eventuallyRedrawItem(canvas, &top->c.header);
  canvas->flags |= REPICK_NEEDED;
}

/*
 * groupCommand --
 *     The group commands: list, delete ?id ...?, itemconfig id ..., coords
 *     id ..., and a member type (by prefix) with coordinates and options.
 */
int groupCommand(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *item, int objc,
                 Tcl_Obj *const objv[]) {
  GcanvasGroupItem *g = asGroup(item);
  GcanvasRecord *canvas = canvasOf(c);
  if (objc < 1) {
    Tcl_WrongNumArgs(interp, 0, objv, "command ?arg ...?");
    return TCL_ERROR;
  }
  const char *word = Tcl_GetString(objv[0]);
  size_t n = strlen(word);
  if (matchesWord(word, n, "list")) return listMembers(interp, g);
  if (matchesWord(word, n, "delete")) {
    for (int i = 1; i < objc; i++) {
      int id;
      if (Tcl_GetIntFromObj(interp, objv[i], &id) != TCL_OK) return TCL_ERROR;
      GcanvasItem *member = findMember(g, id);
      if (member) removeMember(canvas, g, member);
    }
    return TCL_OK;
  }
  if (matchesWord(word, n, "itemconfig") || matchesWord(word, n, "coords")) {
    if (objc < 2) {
      Tcl_WrongNumArgs(interp, 1, objv, "id ?arg ...?");
      return TCL_ERROR;
    }
    GcanvasItem *member;
    if (memberById(interp, g, objv[1], &member) != TCL_OK) return TCL_ERROR;
    if (word[0] == 'i') return memberConfig(interp, canvas, g, member, objc - 2, objv + 2);
    return memberCoords(interp, canvas, g, member, objc - 2, objv + 2);
  }
  return createMember(interp, canvas, g, memberTypeFor(word), objc, objv);
}

/* Commands given to a name: grp<id> (the group) or grp<id>.<member>. */
int memberCommand(Tcl_Interp *interp, ItemContainer *c, GcanvasItem *named, int objc,
                  Tcl_Obj *const objv[]) {
  GcanvasRecord *canvas = canvasOf(c);
  bool isGroup = named->group == named;
  GcanvasGroupItem *g = asGroup(named->group ? named->group : named);
  if (objc < 1) {
    Tcl_WrongNumArgs(interp, 0, objv, "command ?arg ...?");
    return TCL_ERROR;
  }
  const char *word = Tcl_GetString(objv[0]);
  size_t n = strlen(word);
  if (matchesWord(word, n, "list")) return listMembers(interp, g);
  if (matchesWord(word, n, "delete")) {
    if (!isGroup) {
      removeMember(canvas, g, named);
      return TCL_OK;
    }
    GcanvasGroupItem *top = topGroup(g);
    eventuallyRedrawItem(canvas, &top->c.header);
    containerOf(canvas, g);
    deleteAllMembers(canvas, g);
    if (g->name && !g->owner) removeName(canvas, g->name, &g->c.header);
    recomputeFromTop(canvas, g);
    eventuallyRedrawItem(canvas, &top->c.header);
    canvas->flags |= REPICK_NEEDED;
    return TCL_OK;
  }
  if (matchesWord(word, n, "itemconfig") || matchesWord(word, n, "coords")) {
    if (isGroup) {
      /* The group itself: its own options and anchor, under its owner. */
      ItemContainer *parent = g->owner ? containerOf(canvas, asGroup(g->owner)) : &canvas->c;
      GcanvasGroupItem *top = topGroup(g);
      eventuallyRedrawItem(canvas, &top->c.header);
      int code;
      if (word[0] == 'i' && objc <= 2)
        code = Tk_ConfigureInfo(interp, canvas->c.tkwin, groupConfigSpecs,
                                reinterpret_cast<char *>(g),
                                objc == 2 ? Tcl_GetString(objv[1]) : nullptr, 0);
      else if (word[0] == 'i')
        code = configureGroup(interp, parent, &g->c.header, objc - 1, objv + 1,
                              TK_CONFIG_ARGV_ONLY);
      else
        code = groupCoords(interp, parent, &g->c.header, objc - 1, objv + 1);
      recomputeFromTop(canvas, g);
      eventuallyRedrawItem(canvas, &top->c.header);
      return code;
    }
    if (word[0] == 'i') return memberConfig(interp, canvas, g, named, objc - 1, objv + 1);
    return memberCoords(interp, canvas, g, named, objc - 1, objv + 1);
  }
  return createMember(interp, canvas, g, isGroup ? memberTypeFor(word) : nullptr, objc, objv);
}

}  // namespace

GcanvasItemType groupType = {
    "group", sizeof(GcanvasGroupItem), createGroup, groupConfigSpecs, configureGroup, groupCoords,
    deleteGroup, displayGroup, TK_ITEM_OBJS, groupToPoint, groupToArea, groupToPostscript,
    scaleGroup, translateGroup, nullptr, nullptr, nullptr, nullptr, nullptr, computeGroupBbox,
    groupCommand, memberCommand, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace vesk
