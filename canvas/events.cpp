/*
 * events.cpp --
 *     Pointer and key events of the map canvas: picking the current item
 *     (with part highlighting through the component procedures), running
 *     the bindings of items, tags and tag expressions, the keyboard focus
 *     with its blinking insertion cursor, and the PRIMARY selection.
 */
#include <string.h>
#include <X11/Xatom.h>

#include "canvas/gcanvas.h"

namespace vesk {

namespace {

constexpr unsigned kButtonsDown = Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask;

unsigned buttonMask(unsigned button) {
  switch (button) {
  case Button1: return Button1Mask;
  case Button2: return Button2Mask;
  case Button3: return Button3Mask;
  case Button4: return Button4Mask;
  case Button5: return Button5Mask;
  }
  return 0;
}

bool itemPickable(GcanvasRecord *canvas, GcanvasItem *item) {
  int state = item->state == STATE_NONE ? canvas->canvasState : item->state;
  return state != STATE_HIDDEN && state != STATE_DISABLED;
}

/* Removes one "current" tag; the last tag takes its place. */
void dropCurrentTag(GcanvasItem *item) {
  Tk_Uid current = tagUids().current;
  for (int i = item->numTags - 1; i >= 0; i--) {
    if (item->tagPtr[i] == current) {
      item->tagPtr[i] = item->tagPtr[item->numTags - 1];
      item->numTags--;
      return;
    }
  }
}

void addCurrentTag(GcanvasItem *item) {
  Tk_Uid current = tagUids().current;
  for (int i = 0; i < item->numTags; i++)
    if (item->tagPtr[i] == current) return;
  if (item->numTags == item->tagSpace) {
    int space = item->tagSpace + 5;
    Tk_Uid *tags = (Tk_Uid *)ckalloc(space * sizeof(Tk_Uid));
    memcpy(tags, item->tagPtr, item->numTags * sizeof(Tk_Uid));
    if (item->tagPtr != item->staticTagSpace) ckfree((char *)item->tagPtr);
    item->tagPtr = tags;
    item->tagSpace = space;
  }
  item->tagPtr[item->numTags++] = current;
}

void setComponent(GcanvasRecord *canvas, GcanvasItem *item, int on) {
  if (item && item->typePtr->setComponentProc) item->typePtr->setComponentProc(&canvas->c, item, on);
}

void reconfigureForState(GcanvasRecord *canvas, GcanvasItem *item) {
  if (item->typePtr->configProc &&
      item->typePtr->configProc(canvas->c.interp, &canvas->c, item, 0, nullptr,
                                TK_CONFIG_ARGV_ONLY) != TCL_OK)
    Tcl_ResetResult(canvas->c.interp);
}

}  // namespace

/*
 * findClosestItem --
 *     The topmost pickable item within close-enough of a point in canvas
 *     pixels; boxes cull before the item's own distance is asked.
 */
GcanvasItem *findClosestItem(GcanvasRecord *canvas, double x, double y) {
  double c = canvas->closeEnough;
  double point[2] = {x, y};
  GcanvasItem *best = nullptr;
  for (GcanvasItem *item = canvas->c.firstItemPtr; item; item = item->nextPtr) {
    if (!itemPickable(canvas, item)) continue;
    if (item->x1 > x + c || item->x2 < x - c || item->y1 > y + c || item->y2 < y - c) continue;
    if (!item->typePtr->pointProc) continue;
    if (item->typePtr->pointProc(&canvas->c, item, point) <= c) best = item;
  }
  return best;
}

/*
 * canvasDoEvent --
 *     Runs the bindings of "all", the item's tags, the item itself and the
 *     tag expressions it satisfies.  Key events go to the focus item.
 */
void canvasDoEvent(GcanvasRecord *canvas, XEvent *eventPtr) {
  if (!canvas->bindingTable) return;
  GcanvasItem *item = canvas->currentItemPtr;
  if (eventPtr->type == KeyPress || eventPtr->type == KeyRelease)
    item = canvas->textInfo.focusItemPtr;
  if (!item) return;
  std::vector<ClientData> objects;
  objects.reserve(item->numTags + 2);
  objects.push_back(const_cast<char *>(tagUids().all));
  for (int i = 0; i < item->numTags; i++) objects.push_back(const_cast<char *>(item->tagPtr[i]));
  objects.push_back(item);
  for (TagExpr *expr = canvas->bindTagExprs; expr; expr = expr->next) {
    expr->index = 0;
    expr->match = tagExprEval(expr, item);
    if (expr->match) objects.push_back(const_cast<char *>(expr->uid));
  }
  if (canvas->c.tkwin)
    Tk_BindEvent(canvas->bindingTable, eventPtr, canvas->c.tkwin, static_cast<int>(objects.size()),
                 objects.data());
}

/*
 * pickCurrentItem --
 *     Chooses the item under the pointer of the event and sends Leave and
 *     Enter to the bindings when it changes; while a button is down the
 *     grabbed item stays current.
 */
void pickCurrentItem(GcanvasRecord *canvas, XEvent *eventPtr) {
  if (!(canvas->state & kButtonsDown)) canvas->flags &= ~LEFT_GRABBED_ITEM;

  if (eventPtr != &canvas->pickEvent) {
    if (eventPtr->type == MotionNotify || eventPtr->type == ButtonRelease) {
      XEvent &p = canvas->pickEvent;
      p.xcrossing.type = EnterNotify;
      p.xcrossing.serial = eventPtr->xmotion.serial;
      p.xcrossing.send_event = eventPtr->xmotion.send_event;
      p.xcrossing.display = eventPtr->xmotion.display;
      p.xcrossing.window = eventPtr->xmotion.window;
      p.xcrossing.root = eventPtr->xmotion.root;
      p.xcrossing.subwindow = None;
      p.xcrossing.time = eventPtr->xmotion.time;
      p.xcrossing.x = eventPtr->xmotion.x;
      p.xcrossing.y = eventPtr->xmotion.y;
      p.xcrossing.x_root = eventPtr->xmotion.x_root;
      p.xcrossing.y_root = eventPtr->xmotion.y_root;
      p.xcrossing.mode = NotifyNormal;
      p.xcrossing.detail = NotifyNonlinear;
      p.xcrossing.same_screen = eventPtr->xmotion.same_screen;
      p.xcrossing.focus = False;
      p.xcrossing.state = eventPtr->xmotion.state;
    } else {
      canvas->pickEvent = *eventPtr;
    }
  }

  if (canvas->flags & REPICK_IN_PROGRESS) return;

  if (canvas->pickEvent.type == LeaveNotify) {
    canvas->newCurrentPtr = nullptr;
  } else {
    canvas->newCurrentPtr = findClosestItem(canvas, canvas->pickEvent.xcrossing.x + canvas->xOrigin,
                                            canvas->pickEvent.xcrossing.y + canvas->yOrigin);
  }

  if (canvas->newCurrentPtr == canvas->currentItemPtr && !(canvas->flags & LEFT_GRABBED_ITEM)) {
    if (canvas->updateComponent) {
      setComponent(canvas, canvas->currentItemPtr, 0);
      setComponent(canvas, canvas->currentItemPtr, 1);
    }
    return;
  }

  if (canvas->newCurrentPtr != canvas->currentItemPtr && canvas->currentItemPtr &&
      !(canvas->flags & LEFT_GRABBED_ITEM)) {
    XEvent event = canvas->pickEvent;
    event.type = LeaveNotify;
    event.xcrossing.detail = NotifyAncestor;
    canvas->flags |= REPICK_IN_PROGRESS;
    canvasDoEvent(canvas, &event);
    canvas->flags &= ~REPICK_IN_PROGRESS;
    if (!canvas->c.tkwin) return;
    /* The binding may have deleted the item, which clears currentItemPtr. */
    if (canvas->currentItemPtr && canvas->newCurrentPtr != canvas->currentItemPtr &&
        !(canvas->state & kButtonsDown))
      dropCurrentTag(canvas->currentItemPtr);
  }
  if (canvas->newCurrentPtr != canvas->currentItemPtr && (canvas->state & kButtonsDown)) {
    canvas->flags |= LEFT_GRABBED_ITEM;
    return;
  }

  canvas->flags &= ~LEFT_GRABBED_ITEM;
  GcanvasItem *previous = canvas->currentItemPtr;
  setComponent(canvas, previous, 0);
  canvas->currentItemPtr = canvas->newCurrentPtr;
  if (previous && previous != canvas->currentItemPtr &&
      (previous->redrawFlags & ITEM_STATE_DEPENDANT)) {
    eventuallyRedrawItem(canvas, previous);
    reconfigureForState(canvas, previous);
  }
  GcanvasItem *current = canvas->currentItemPtr;
  if (current) {
    if (canvas->updateComponent) setComponent(canvas, current, 1);
    addCurrentTag(current);
    if ((current->redrawFlags & ITEM_STATE_DEPENDANT) && current != previous) {
      reconfigureForState(canvas, current);
      eventuallyRedrawItem(canvas, current);
    }
    XEvent event = canvas->pickEvent;
    event.type = EnterNotify;
    event.xcrossing.detail = NotifyAncestor;
    canvasDoEvent(canvas, &event);
  }
}

/*
 * canvasBindProc --
 *     Key, button, crossing, motion and virtual events of the window.
 */
void canvasBindProc(ClientData clientData, XEvent *eventPtr) {
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(clientData);
  Tcl_Preserve(canvas);
  switch (eventPtr->type) {
  case ButtonPress:
  case ButtonRelease: {
    unsigned mask = buttonMask(eventPtr->xbutton.button);
    if (eventPtr->type == ButtonPress) {
      canvas->state = eventPtr->xbutton.state;
      pickCurrentItem(canvas, eventPtr);
      canvas->state ^= mask;
      if (canvas->c.tkwin) canvasDoEvent(canvas, eventPtr);
    } else {
      canvas->state = eventPtr->xbutton.state;
      canvasDoEvent(canvas, eventPtr);
      if (canvas->c.tkwin) {
        eventPtr->xbutton.state ^= mask;
        canvas->state = eventPtr->xbutton.state;
        pickCurrentItem(canvas, eventPtr);
        eventPtr->xbutton.state ^= mask;
      }
    }
    break;
  }
  case EnterNotify:
  case LeaveNotify:
    canvas->state = eventPtr->xcrossing.state;
    pickCurrentItem(canvas, eventPtr);
    break;
  case MotionNotify:
    canvas->state = eventPtr->xmotion.state;
    pickCurrentItem(canvas, eventPtr);
    if (canvas->c.tkwin) canvasDoEvent(canvas, eventPtr);
    break;
  default:
    canvasDoEvent(canvas, eventPtr);
    break;
  }
  Tcl_Release(canvas);
}

/*
 * cursorBlinkProc --
 *     The blink timer: the cursor is on for the on time, off for the off
 *     time, while the window has the focus.
 */
void cursorBlinkProc(ClientData clientData) {
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(clientData);
  canvas->insertBlinkHandler = nullptr;
  if (!canvas->textInfo.gotFocus || canvas->insertOffTime == 0 || !canvas->c.tkwin) return;
  if (canvas->textInfo.cursorOn) {
    canvas->textInfo.cursorOn = 0;
    canvas->insertBlinkHandler =
        Tcl_CreateTimerHandler(canvas->insertOffTime, cursorBlinkProc, canvas);
  } else {
    canvas->textInfo.cursorOn = 1;
    canvas->insertBlinkHandler =
        Tcl_CreateTimerHandler(canvas->insertOnTime, cursorBlinkProc, canvas);
  }
  if (canvas->textInfo.focusItemPtr) eventuallyRedrawItem(canvas, canvas->textInfo.focusItemPtr);
}

/*
 * canvasFocusProc --
 *     The window gained or lost the keyboard focus (or the blink times
 *     changed): restarts or stops the blink and redraws the focus item and
 *     the highlight ring.
 */
void canvasFocusProc(GcanvasRecord *canvas, int gotFocus) {
  if (canvas->insertBlinkHandler) Tcl_DeleteTimerHandler(canvas->insertBlinkHandler);
  canvas->insertBlinkHandler = nullptr;
  if (gotFocus) {
    canvas->textInfo.gotFocus = 1;
    canvas->textInfo.cursorOn = 1;
    if (canvas->insertOffTime != 0)
      canvas->insertBlinkHandler =
          Tcl_CreateTimerHandler(canvas->insertOnTime, cursorBlinkProc, canvas);
  } else {
    canvas->textInfo.gotFocus = 0;
    canvas->textInfo.cursorOn = 0;
  }
  if (!canvas->c.tkwin) return;
  if (canvas->textInfo.focusItemPtr) eventuallyRedrawItem(canvas, canvas->textInfo.focusItemPtr);
  if (canvas->highlightWidth > 0) {
    canvas->flags |= REDRAW_BORDERS;
    scheduleCanvasRedisplay(canvas);
  }
}

/*
 * canvasLostSelection --
 *     Another client took PRIMARY: the selection item is redrawn unselected.
 */
void canvasLostSelection(ClientData clientData) {
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(clientData);
  if (canvas->textInfo.selItemPtr) eventuallyRedrawItem(canvas, canvas->textInfo.selItemPtr);
  canvas->textInfo.selItemPtr = nullptr;
}

/*
 * canvasSelectTo --
 *     Extends the selection from the anchor to index in item, claiming
 *     PRIMARY when the canvas had no selection.
 */
void canvasSelectTo(GcanvasRecord *canvas, GcanvasItem *item, int index) {
  GcanvasTextInfo &ti = canvas->textInfo;
  int oldFirst = ti.selectFirst, oldLast = ti.selectLast;
  GcanvasItem *oldSel = ti.selItemPtr;
  if (!ti.selItemPtr) {
    if (canvas->c.tkwin) Tk_OwnSelection(canvas->c.tkwin, XA_PRIMARY, canvasLostSelection, canvas);
  } else if (ti.selItemPtr != item) {
    eventuallyRedrawItem(canvas, ti.selItemPtr);
  }
  ti.selItemPtr = item;
  if (ti.anchorItemPtr != item) {
    ti.anchorItemPtr = item;
    ti.selectAnchor = index;
  }
  if (ti.selectAnchor <= index) {
    ti.selectFirst = ti.selectAnchor;
    ti.selectLast = index;
  } else {
    ti.selectFirst = index;
    ti.selectLast = ti.selectAnchor - 1;
  }
  if (ti.selectFirst != oldFirst || ti.selectLast != oldLast || item != oldSel)
    eventuallyRedrawItem(canvas, item);
}

/*
 * canvasFetchSelection --
 *     The PRIMARY handler: the selection item's characters from offset.
 * Results:      bytes stored, or -1 when there is nothing to give.
 */
int canvasFetchSelection(ClientData clientData, int offset, char *buffer, int maxBytes) {
  GcanvasRecord *canvas = static_cast<GcanvasRecord *>(clientData);
  GcanvasItem *item = canvas->textInfo.selItemPtr;
  if (!item || !item->typePtr->selectionProc) return -1;
  return item->typePtr->selectionProc(&canvas->c, item, offset, buffer, maxBytes);
}

}  // namespace vesk
