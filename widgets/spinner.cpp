/*
 * spinner.cpp --
 *     The number spinner (an entry with up and down arrows that step a
 *     number between bounds, repeating while an arrow is held) and the
 *     labelled entry (an entry with an optional label and button).
 */
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "vesk/stdio.h"
#include "widgets/comb.h"
#include "widgets/combcmds.h"

namespace vesk {
namespace {

constexpr int kServiceFlags = TCL_WINDOW_EVENTS | TCL_FILE_EVENTS | TCL_TIMER_EVENTS;

/* A text read as a real the way atof reads it: 0 when it is no number. */
float readReal(const std::string &text) {
  return static_cast<float>(strtod(text.c_str(), nullptr));
}

}  // namespace

/*
 * numCreateCmd --
 *     num.create w ?option value ...?: the entry, the arrow buttons and the
 *     optional check button and label of a spinner.
 */
int numCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  tclUpdate(interp, kServiceFlags);
  int code = combBeginCreate(
      clientData, interp, argc, argv,
      {"usage: %s w\n",
       "num",
       {"cf-max", "10", "cf-min", "0", "cf-init", "5", "cf-inc", "1", "cf-dec", "1", "cf-ent", "",
        "cf-up", "", "cf-down", "", "cf-label", "", "cf-chck", "", "cf-fmt", "%.0f"},
       true});
  if (code != TCL_OK) return code;
  const char *w = argv[1];
  std::string buttons = std::string(w) + ".b", entry = std::string(w) + ".entry";
  std::string up = buttons + ".up", down = buttons + ".down";
  code = combGuard(interp, [&] {
    CombCalls calls(interp);
    combSetKey(interp, combKey(w, "wb"), buttons.c_str());
    combSetKey(interp, combKey(w, "-ent"), entry.c_str());
    combSetKey(interp, combKey(w, "-up"), up.c_str());
    combSetKey(interp, combKey(w, "-down"), down.c_str());
    calls.call({"_image.get", "up.bmp", "up.bmp", "bitmap"});
    calls.call({"_image.get", "down.bmp", "down.bmp", "bitmap"});

    calls.cached(COMB_FRAME, {"frame", w, "-bd", "1", "-relief", "sunken", "-highlightthickness", "0"});
    combBindFree(&calls.abort, interp, w);
    calls.cached(COMB_FRAME, {"frame", buttons, "-bd", "0"});
    calls.cached(COMB_PACK, {"pack", buttons, "-side", "right", "-padx", "1", "-pady", "1", "-ipady", "0"});
    std::string check = combOption(interp, w, "-chck");
    if (!check.empty()) {
      std::string path = std::string(w) + ".chck";
      combSetKey(interp, combKey(w, "-chck"), path.c_str());
      calls.spliced({combWord("checkbutton"), combWord(path), combSplice(check)});
      calls.cached(COMB_PACK, {"pack", path, "-side", "left", "-pady", "1", "-padx", "1"});
    }
    std::string label = combOption(interp, w, "-label");
    if (!label.empty()) {
      std::string path = std::string(w) + ".label";
      combSetKey(interp, combKey(w, "-label"), path.c_str());
      calls.spliced({combWord("label"), combWord(path), combSplice(label)});
      calls.cached(COMB_PACK, {"pack", path, "-side", "left", "-padx", "1", "-pady", "1"});
    }
    calls.spliced({combWord("entry"), combWord(entry), combSplice("-bd 1 -width 5 -highlightthickness 1"),
                   combSplice(combOption(interp, w, "-ent"))});
    std::string stop = combBindScript({"comb.set", w, "done", "1"});
    struct Arrow {
      const std::string &path;
      const char *image, *option, *flag;
    } arrows[] = {{up, "up.bmp", "-up", "up"}, {down, "down.bmp", "-down", "down"}};
    for (const Arrow &arrow : arrows) {
      calls.cached(COMB_BUTTON, {"button", arrow.path, "-command", combList({"comb.set", w, "done", "1"}),
                                 "-bd", "1", "-image", arrow.image, "-width", "12", "-height", "5",
                                 "-highlightthickness", "0"});
      std::string extra = combOption(interp, w, arrow.option);
      if (!extra.empty())
        calls.spliced({combWord(arrow.path), combWord("config"), combSplice(extra)});
    }
    calls.cached(COMB_PACK, {"pack", entry, "-side", "left", "-fill", "x", "-expand", "1", "-padx",
                             "1", "-pady", "1"});
    calls.cached(COMB_PACK, {"pack", up, "-side", "top", "-pady", "0"});
    calls.cached(COMB_PACK, {"pack", down, "-side", "bottom", "-pady", "0"});
    for (const Arrow &arrow : arrows) {
      calls.bind(arrow.path, "<ButtonRelease-1>", stop);
      calls.bind(arrow.path, "<Leave>", stop);
      calls.bind(arrow.path, "<ButtonPress-1>",
                 combBindScript({"after", "idle", "num.update", w, arrow.flag}));
    }
    calls.call({"num.set", w, combOption(interp, w, "-init")});
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w, -1));
    return TCL_OK;
  });
  if (code != TCL_OK) combDestroyPath(interp, w);
  return code;
}

/*
 * numUpdateCmd --
 *     num.update w ?flag?: steps the value up (no flag or "up") or down,
 *     within the bounds, until "w,done" is no longer "0"; about 120 ms
 *     between steps, servicing events meanwhile.
 */
int numUpdateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2 && argc != 3) {
    vesk_printf("usage: %s w flag\n", argv[0]);
    return TCL_ERROR;
  }
  std::string w = argv[1];
  float max = readReal(combOption(interp, w.c_str(), "-max"));
  float min = readReal(combOption(interp, w.c_str(), "-min"));
  float inc = readReal(combOption(interp, w.c_str(), "-inc"));
  float dec = readReal(combOption(interp, w.c_str(), "-dec"));
  float step = argc == 2 || strcmp(argv[2], "up") == 0 ? inc : -dec;
  std::string format = combOption(interp, w.c_str(), "-fmt");
  bool real = format.find('f') != std::string::npos;
  std::string doneKey = combKey(w.c_str(), "done");
  combSetKey(interp, doneKey, "0");

  Tcl_Preserve(interp);
  int code = TCL_OK;
  for (;;) {
    const char *done = combGetKey(interp, doneKey);
    if (Tcl_InterpDeleted(interp) || !done || done[0] != '0') break;
    if (combEvalWords(nullptr, interp, {"num.get", w}) != TCL_OK) {
      code = TCL_ERROR;
      break;
    }
    float value = readReal(Tcl_GetStringResult(interp)) + step;
    if (value > max) value = max;
    if (value < min) value = min;
    /* The -fmt text is the caller's: Tcl's format reads it safely. */
    Tcl_Obj *number = real ? Tcl_NewDoubleObj(value) : Tcl_NewIntObj(roundToInt(value));
    Tcl_Obj *words[] = {Tcl_NewStringObj("format", -1), Tcl_NewStringObj(format.c_str(), -1), number};
    for (Tcl_Obj *word : words) Tcl_IncrRefCount(word);
    code = Tcl_EvalObjv(interp, 3, words, TCL_EVAL_GLOBAL);
    for (Tcl_Obj *word : words) Tcl_DecrRefCount(word);
    if (code != TCL_OK) break;
    std::string text = Tcl_GetStringResult(interp);
    if ((code = combEvalWords(nullptr, interp, {"num.set", w, text})) != TCL_OK) break;
    for (int i = 0; i < 6 && !Tcl_InterpDeleted(interp); i++) {
      tclUpdate(interp, TCL_ALL_EVENTS);
      Tcl_Sleep(20);
    }
  }
  if (code == TCL_OK && !Tcl_InterpDeleted(interp)) Tcl_ResetResult(interp);
  Tcl_Release(interp);
  return code;
}

/*
 * strCreateCmd --
 *     str.create w ?option value ...?: spacer, label, entry, button and
 *     spacer, packed from the -layout side.
 */
int strCreateCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  int code = combBeginCreate(clientData, interp, argc, argv,
                             {"usage: %s w args",
                              "str",
                              {"cf-ent", "", "cf-label", "", "cf-btn", "", "cf-padx", "0", "cf-pady",
                               "0", "cf-layout", "right"},
                              true});
  if (code != TCL_OK) return code;
  const char *w = argv[1];
  std::string side = combOption(interp, w, "-layout");
  if (side != "left" && side != "right") {
    Tcl_AddErrorInfo(interp, "wrong layout - should be left or right");
    for (const std::string &key : combKeysOf(interp, w)) combUnsetKey(interp, key);
    return TCL_ERROR;
  }
  std::string padx = combOption(interp, w, "-padx"), pady = combOption(interp, w, "-pady");
  code = combGuard(interp, [&] {
    CombCalls calls(interp);
    auto pack = [&](const std::string &path, std::vector<std::string> extra) {
      std::vector<std::string> words = {"pack", path, "-side", side};
      words.insert(words.end(), extra.begin(), extra.end());
      words.insert(words.end(), {"-padx", padx, "-pady", pady});
      calls.cached(COMB_PACK, words);
    };
    calls.cached(COMB_FRAME, {"frame", w, "-relief", "raise", "-bd", "1"});
    calls.bind(w, "<Destroy>", combBindScript({"comb.free", w}));
    std::string first = std::string(w) + ".1", last = std::string(w) + ".2";
    combSetKey(interp, combKey(w, "w1"), first.c_str());
    combSetKey(interp, combKey(w, "w2"), last.c_str());
    calls.cached(COMB_FRAME, {"frame", first, "-width", "2"});
    pack(first, {});

    std::string label = combOption(interp, w, "-label");
    if (!label.empty()) {
      std::string path = std::string(w) + ".label";
      combSetKey(interp, combKey(w, "-label"), path.c_str());
      calls.spliced({combWord("label"), combWord(path),
                     combSplice("-width 6 -relief flat -bd 1 -highlightthickness 0"), combSplice(label)});
      calls.bind(path, "<Destroy>", "+" + combBindScript({"str.freeItem", w, "-label"}));
      pack(path, {"-fill", "both"});
    } else {
      combUnsetKey(interp, combKey(w, "cf-label"));
    }

    std::string entry = std::string(w) + ".ent";
    combSetKey(interp, combKey(w, "-ent"), entry.c_str());
    calls.cached(COMB_ENTRY, {"entry", entry, "-width", "12", "-bd", "1", "-highlightthickness", "0"});
    calls.bind(entry, "<Destroy>", "+" + combBindScript({"str.freeItem", w, "-ent"}));
    pack(entry, {"-expand", "1", "-fill", "both"});
    std::string entOptions = combOption(interp, w, "-ent");
    if (!entOptions.empty())
      calls.spliced({combWord(entry), combWord("config"), combSplice(entOptions)});

    std::string button = combOption(interp, w, "-btn");
    if (!button.empty()) {
      std::string path = std::string(w) + ".btn";
      combSetKey(interp, combKey(w, "-btn"), path.c_str());
      calls.spliced({combWord("button"), combWord(path),
                     combSplice("-width 6 -relief raise -bd 1 -padx 0 -pady 0 -highlightthickness 0"),
                     combSplice(button)});
      pack(path, {"-fill", "both"});
      std::string run = "eval [" + combList({path, "cget", "-command"}) + "]";
      calls.bind(entry, "<Return>", combEscapePercent(run));
    } else {
      combUnsetKey(interp, combKey(w, "cf-btn"));
    }
    calls.cached(COMB_FRAME, {"frame", last, "-width", "2"});
    pack(last, {});
    Tcl_SetObjResult(interp, Tcl_NewStringObj(w, -1));
    return TCL_OK;
  });
  if (code != TCL_OK) combDestroyPath(interp, w);
  return code;
}

/* str.add w id creator ?option?: an item packed before the end spacer. */
int strAddCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 4) {
    vesk_printf("usage: %s w id creator ?option?\n", argv[0]);
    return TCL_ERROR;
  }
  const char *w = argv[1], *id = argv[2], *creator = argv[3];
  const char *opts = argc > 4 ? argv[4] : "";
  if (!checkNewItem(Tk_MainWindow(interp), interp, w, "str", id, "str.add")) return TCL_ERROR;
  return combGuard(interp, [&] {
    CombCalls calls(interp);
    std::string side = combOption(interp, w, "-layout");
    std::string padx = combOption(interp, w, "-padx"), pady = combOption(interp, w, "-pady");
    std::string path = std::string(w) + "." + (id + 1), last = std::string(w) + ".2";
    combSetKey(interp, combKey(w, id), path.c_str());
    combSetKey(interp, combKey(w, (std::string("cf") + id).c_str()), opts);
    calls.spliced({combSplice(creator), combWord(path), combSplice(opts)});
    calls.bind(path, "<Destroy>", "+" + combBindScript({"str.freeItem", w, id}));
    calls.cached(COMB_PACK, {"pack", "forget", last});
    calls.cached(COMB_PACK, {"pack", path, "-side", side, "-expand", "1", "-fill", "y", "-padx", padx,
                             "-pady", pady});
    calls.cached(COMB_PACK, {"pack", last, "-side", side, "-padx", padx, "-pady", pady});
    Tcl_SetObjResult(interp, Tcl_NewStringObj(path.c_str(), -1));
    return TCL_OK;
  });
}

}  // namespace vesk
