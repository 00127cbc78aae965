/*
 * comb.cpp --
 *     The compound-widget framework: the "_comb" state array, the command
 *     family's registration and its cache of Tk command procedures, direct
 *     calls with a recovery point, option parsing, id paths, the checks and
 *     the creation protocol of the classes.
 */
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/core.h"
#include "vesk/stdio.h"
#include "widgets/comb.h"
#include "widgets/combcmds.h"

namespace vesk {

/* ---- records ---- */

const char *const combCachedNames[COMB_CACHED_COUNT] = {
    "array", "bind",   "button", "canvas", "destroy", "entry",     "eval", "label",
    "listbox", "frame", "global", "grab",  "grid",    "image",     "lower", "pack",
    "place", "raise",  "scrollbar", "set", "toplevel", "update", "wm"};

namespace {

/*
 * The command cache of one interpreter.  Tk's procedures take client data
 * that belongs to one application (its main window), so each interpreter
 * keeps its own entries.
 */
struct CombCache {
  Tcl_CmdInfo info[COMB_CACHED_COUNT] = {};
  bool present[COMB_CACHED_COUNT] = {};
};
constexpr const char *kCacheKey = "vesk.combCache";

const CombCallTexts kCombEvalVarTexts = {"\n%s dose not exist!",
                                         "\nError from combEvalVar: %s\n", false,
                                         "\nfrom combEvalVar\n"};

/* The family, in its registration order. */
struct CombCommand {
  const char *name;
  Tcl_CmdProc *proc;
};
const CombCommand combCommands[] = {
    {"comb.addItem", combAddItemCmd},
    {"comb.bind", combBindCmd},
    {"comb.class", combClassCmd},
    {"comb.cf", combCfCmd},
    {"comb.cget", combCgetCmd},
    {"comb.config", combConfigCmd},
    {"comb.dir", combDirCmd},
    {"comb.dis", combDisCmd},
    {"comb.dis0", combDis0Cmd},
    {"comb.ena", combEnaCmd},
    {"comb.exec", combExecCmd},
    {"comb.eval", combEvalCmd},
    {"comb.focus", combFocusCmd},
    {"comb.free", combFreeCmd},
    {"comb.get", combGetCmd},
    {"comb.id", combIdCmd},
    {"comb.layout", combLayoutCmd},
    {"comb.parse", combParseCmd},
    {"comb.proc", combProcCmd},
    {"comb.set", combSetCmd},
    {"comb.validClass", combValidClassCmd},
    {"comb.validID", combValidIDCmd},
    {"comb.validPath", combValidPathCmd},
    {"comb.validSubName", combValidSubNameCmd},
    {"comb.args", combArgsCmd},
    {"fold.add", foldAddCmd},
    {"fold.addFoldItem", foldAddFoldItemCmd},
    {"fold.addItem", foldAddItemCmd},
    {"fold.create", foldCreateCmd},
    {"fold.draw", foldDrawCmd},
    {"fold.get", foldGetCmd},
    {"fold.page", foldPageCmd},
    {"frm.create", frmCreateCmd},
    {"frm.add", frmAddCmd},
    {"gbtn.create", gbtnCreateCmd},
    {"gbtn.frame", gbtnFrameCmd},
    {"num.create", numCreateCmd},
    {"num.update", numUpdateCmd},
    {"pal.create", nullptr /* palCreateCmd */},
    {"pal.colors", nullptr /* palColorsCmd */},
    {"pdl.create", nullptr /* pdlCreateCmd */},
    {"pdl.createList", nullptr /* pdlCreateListCmd */},
    {"pdl.openList", nullptr /* pdlOpenListCmd */},
    {"popup.add", nullptr /* popupAddCmd */},
    {"popup.create", nullptr /* popupCreateCmd */},
    {"popup.post", nullptr /* popupPostCmd */},
    {"popup.hide", nullptr /* popupHideCmd */},
    {"slis.create", nullptr /* slisCreateCmd */},
    {"str.create", strCreateCmd},
    {"str.add", strAddCmd},
    {"comb.update", combUpdateCmd},
};
static_assert(sizeof combCommands / sizeof combCommands[0] == 51,
              "the family has fifty-one commands");

std::string vformat(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(n));
  return text;
}

void freeCombCache(ClientData clientData, Tcl_Interp *) {
  delete static_cast<CombCache *>(clientData);
}

CombCache *combCache(Tcl_Interp *interp, bool create) {
  CombCache *cache = static_cast<CombCache *>(Tcl_GetAssocData(interp, kCacheKey, nullptr));
  if (!cache && create) {
    cache = new CombCache;
    Tcl_SetAssocData(interp, kCacheKey, freeCombCache, cache);
  }
  return cache;
}

/* Tcl's own commands in the cache need no Tk application. */
bool isTclCommand(int index) {
  return index == COMB_ARRAY || index == COMB_EVAL || index == COMB_GLOBAL ||
         index == COMB_SET || index == COMB_UPDATE;
}

/* Escapes the glob characters of a text for "array names" and "string match". */
std::string globQuote(const char *text) {
  std::string out;
  for (const char *p = text; *p; p++) {
    if (strchr("*?[]\\", *p)) out += '\\';
    out += *p;
  }
  return out;
}

/* Evaluates words at global level, keeping the interpreter's result,
   errorInfo and return options as they were; the answer goes to out. */
int evalQuiet(Tcl_Interp *interp, const std::vector<std::string> &words, std::string *out) {
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  int code = combGlobalEvalWords(interp, words);
  if (out) *out = Tcl_GetStringResult(interp);
  Tcl_RestoreInterpState(interp, state);
  return code;
}

}  // namespace

/* ---- state array ---- */

std::string combKey(const char *path, const char *name) {
  std::string key = path ? path : "";
  key += ',';
  key += name ? name : "";
  return key;
}

const char *combGetKey(Tcl_Interp *interp, const std::string &key) {
  return Tcl_GetVar2(interp, kCombArray, key.c_str(), TCL_GLOBAL_ONLY);
}

bool combSetKey(Tcl_Interp *interp, const std::string &key, const char *value) {
  return Tcl_SetVar2(interp, kCombArray, key.c_str(), value ? value : "", TCL_GLOBAL_ONLY) !=
         nullptr;
}

void combUnsetKey(Tcl_Interp *interp, const std::string &key) {
  Tcl_UnsetVar2(interp, kCombArray, key.c_str(), TCL_GLOBAL_ONLY);
}

const char *combGetVar(Tcl_Interp *interp, const char *keyFormat, ...) {
  va_list args;
  va_start(args, keyFormat);
  std::string key = vformat(keyFormat, args);
  va_end(args);
  return combGetKey(interp, key);
}

bool combSetVar(Tcl_Interp *interp, const char *value, const char *keyFormat, ...) {
  va_list args;
  va_start(args, keyFormat);
  std::string key = vformat(keyFormat, args);
  va_end(args);
  return combSetKey(interp, key, value);
}

void combUnsetVar(Tcl_Interp *interp, const char *keyFormat, ...) {
  va_list args;
  va_start(args, keyFormat);
  std::string key = vformat(keyFormat, args);
  va_end(args);
  combUnsetKey(interp, key);
}

/*
 * combKeysOf --
 *     The keys of "_comb" that begin with the path and a comma and whose
 *     rest matches the pattern, in the order "array names" lists them.
 */
std::vector<std::string> combKeysOf(Tcl_Interp *interp, const char *path,
                                    const char *namePattern) {
  std::vector<std::string> keys;
  std::string answer;
  if (evalQuiet(interp, {"array", "names", kCombArray, globQuote(path) + "," + namePattern},
                &answer) != TCL_OK)
    return keys;
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  combSplitList(interp, answer.c_str(), keys);
  Tcl_RestoreInterpState(interp, state);
  return keys;
}

std::string combOption(Tcl_Interp *interp, const char *path, const char *option) {
  const char *value = combGetKey(interp, combKey(path, (std::string("cf") + option).c_str()));
  return value ? value : "";
}

int combIntOption(Tcl_Interp *interp, const char *path, const char *option) {
  std::string text = combOption(interp, path, option);
  long value = strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

/* ---- scripts and word lists ---- */

int combGlobalEval(Tcl_Interp *interp, const char *scriptFormat, ...) {
  va_list args;
  va_start(args, scriptFormat);
  std::string script = vformat(scriptFormat, args);
  va_end(args);
  return Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL);
}

int combGlobalEvalWords(Tcl_Interp *interp, const std::vector<std::string> &words) {
  if (words.empty()) return TCL_ERROR;
  std::vector<Tcl_Obj *> objv;
  objv.reserve(words.size());
  for (const std::string &word : words) {
    objv.push_back(Tcl_NewStringObj(word.data(), static_cast<int>(word.size())));
    Tcl_IncrRefCount(objv.back());
  }
  int code = Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), TCL_EVAL_GLOBAL);
  for (Tcl_Obj *obj : objv) Tcl_DecrRefCount(obj);
  return code;
}

std::string combList(const std::vector<std::string> &words) {
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(list);
  for (const std::string &word : words)
    Tcl_ListObjAppendElement(nullptr, list,
                             Tcl_NewStringObj(word.data(), static_cast<int>(word.size())));
  std::string text = Tcl_GetString(list);
  Tcl_DecrRefCount(list);
  return text;
}

std::string combBindScript(const std::vector<std::string> &words) {
  return combEscapePercent(combList(words));
}

std::string combEscapePercent(const std::string &script) {
  std::string out;
  for (char c : script) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

bool combSplitList(Tcl_Interp *interp, const char *text, std::vector<std::string> &out) {
  int count = 0;
  const char **items = nullptr;
  if (Tcl_SplitList(interp, text ? text : "", &count, &items) != TCL_OK) return false;
  out.assign(items, items + count);
  Tcl_Free(reinterpret_cast<char *>(items));
  return true;
}

/* ---- direct calls ---- */

/*
 * callCachedCommand --
 *     Calls an entry of the interpreter's command cache with the entry's
 *     own procedure and client data.
 * Results:      the command's code; TCL_ERROR when the entry is empty or
 *     the Tk application is gone (its procedures would see freed data).
 */
int callCachedCommand(Tcl_Interp *interp, int index, int argc, const char *const *argv) {
  CombCache *cache = combCache(interp, false);
  if (index < 0 || index >= COMB_CACHED_COUNT || !cache || !cache->present[index]) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("no command procedure cached for \"%s\"",
                                           index >= 0 && index < COMB_CACHED_COUNT
                                               ? combCachedNames[index]
                                               : "?"));
    return TCL_ERROR;
  }
  if (!isTclCommand(index) && !Tk_MainWindow(interp)) return TCL_ERROR;
  return callCommandInfo(interp, cache->info[index], argc, argv);
}

/* Stands in for a cached command that can't be called: its message is in the result. */
static int unusableCommandProc(ClientData, Tcl_Interp *, int, const char **) {
  return TCL_ERROR;
}

int combEvalCached(const CombEvalAbort *abort, Tcl_Interp *interp, int index,
                   const std::vector<std::string> &words) {
  std::vector<const char *> argv;
  argv.reserve(words.size());
  for (const std::string &word : words) argv.push_back(word.c_str());
  int argc = static_cast<int>(argv.size());
  CombCache *cache = combCache(interp, false);
  if (index < 0 || index >= COMB_CACHED_COUNT || !cache || !cache->present[index] ||
      (!isTclCommand(index) && !Tk_MainWindow(interp))) {
    callCachedCommand(interp, index, argc, argv.data());
    return combCallWords(abort, interp, unusableCommandProc, nullptr, nullptr, argc, argv.data(),
                         kCombEvalTexts);
  }
  return combCallWords(abort, interp, nullptr, nullptr, &cache->info[index], argc, argv.data(),
                       kCombEvalTexts);
}

int combEvalWords(const CombEvalAbort *abort, Tcl_Interp *interp,
                  const std::vector<std::string> &words) {
  std::vector<const char *> argv;
  argv.reserve(words.size());
  for (const std::string &word : words) argv.push_back(word.c_str());
  return combCallWords(abort, interp, nullptr, nullptr, nullptr, static_cast<int>(argv.size()),
                       argv.data(), kCombEvalTexts);
}

/*
 * spliceEvalProc --
 *     The procedure behind combEvalSpliced: argv[0] is "eval", the client
 *     data says which further words are lists to splice.
 */
static int spliceEvalProc(ClientData clientData, Tcl_Interp *interp, int argc,
                          const char **argv) {
  const std::vector<bool> &spliced = *static_cast<const std::vector<bool> *>(clientData);
  std::vector<Tcl_Obj *> objv;
  int code = TCL_OK;
  for (int i = 1; i < argc && code == TCL_OK; i++) {
    if (!spliced[static_cast<size_t>(i)]) {
      objv.push_back(Tcl_NewStringObj(argv[i], -1));
      Tcl_IncrRefCount(objv.back());
      continue;
    }
    int count = 0;
    const char **items = nullptr;
    code = Tcl_SplitList(interp, argv[i], &count, &items);
    for (int k = 0; k < count; k++) {
      objv.push_back(Tcl_NewStringObj(items[k], -1));
      Tcl_IncrRefCount(objv.back());
    }
    if (items) Tcl_Free(reinterpret_cast<char *>(items));
  }
  if (code == TCL_OK && !objv.empty())
    code = Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), 0);
  for (Tcl_Obj *obj : objv) Tcl_DecrRefCount(obj);
  return code;
}

int combEvalSpliced(const CombEvalAbort *abort, Tcl_Interp *interp,
                    const std::vector<CombPiece> &pieces) {
  std::vector<const char *> argv = {"eval"};
  std::vector<bool> spliced = {false};
  for (const CombPiece &piece : pieces) {
    argv.push_back(piece.text.c_str());
    spliced.push_back(piece.spliced);
  }
  return combCallWords(abort, interp, spliceEvalProc, &spliced, nullptr,
                       static_cast<int>(argv.size()), argv.data(), kCombEvalTexts);
}

/*
 * combEvalVar --
 *     Calls the command named by the first word directly with the words.
 * Results:      the command's code; TCL_ERROR without words.
 * Side effects: "\n%s dose not exist!" when the command is missing and
 *     "\nError from combEvalVar: %s\n" on failure go to errorInfo; with a
 *     recovery point the call is printed and control goes back there.
 */
int combEvalVar(const CombEvalAbort *abort, Tcl_Interp *interp, int argc,
                const char *const *argv) {
  if (argc > kCombMaxWords) argc = kCombMaxWords;
  return combCallWords(abort, interp, nullptr, nullptr, nullptr, argc, argv, kCombEvalVarTexts);
}

int combEvalVar(const CombEvalAbort *abort, Tcl_Interp *interp,
                const std::vector<std::string> &words) {
  std::vector<const char *> argv;
  argv.reserve(words.size());
  for (const std::string &word : words) argv.push_back(word.c_str());
  return combEvalVar(abort, interp, static_cast<int>(argv.size()), argv.data());
}

void combAbort(const CombEvalAbort *, const char *text) {
  vesk_fprintf(stderr, "%s", text ? text : "");
  throw CombEvalAbort{TCL_ERROR};
}

/* ---- parsing and id paths ---- */

/*
 * combParseParams --
 *     Stores option/value pairs into the option entries the class
 *     declared.  Pairs before a bad one stay stored.
 * Results:      1 when all pairs were stored, else 0.
 * Side effects: the message of the bad pair goes to errorInfo.
 */
int combParseParams(Tcl_Interp *interp, const char *path, int argc, const char *const *argv) {
  for (int i = 0; i < argc; i += 2) {
    const char *option = argv[i];
    if (i + 1 >= argc) {
      addErrorInfoFormatted(interp, "\ncombParseParams: no value given to option %s\n", option);
      return 0;
    }
    const char *value = argv[i + 1];
    if (option[0] != '-') {
      addErrorInfoFormatted(interp, "\ncombParseParams: option syntax error: %s\n", option);
      return 0;
    }
    std::string key = combKey(path, (std::string("cf") + option).c_str());
    if (!combGetKey(interp, key)) {
      addErrorInfoFormatted(interp, "\ncombParseParams: unknown option: %s %s\n", option, value);
      return 0;
    }
    if (!combSetKey(interp, key, value)) return 0;
  }
  return 1;
}

/*
 * getID --
 *     Resolves an id path: each id word replaces the path by the entry
 *     (path, id).
 * Results:      true with the resolved path in out, else false.
 * Side effects: "getID - syntex error" or "getID - invalid path" to errorInfo.
 */
bool getID(Tcl_Interp *interp, const char *path, int argc, const char *const *ids,
           std::string &out) {
  std::string current = path ? path : "";
  for (int i = 0; i < argc; i++) {
    if (ids[i][0] != '-') {
      Tcl_AddErrorInfo(interp, "getID - syntex error");
      return false;
    }
    const char *next = combGetKey(interp, combKey(current.c_str(), ids[i]));
    if (!next) {
      Tcl_AddErrorInfo(interp, "getID - invalid path");
      return false;
    }
    current = next;
  }
  out = current;
  return true;
}

bool getIDList(Tcl_Interp *interp, const char *path, const char *idList, std::string &out) {
  std::vector<std::string> words;
  if (!combSplitList(interp, idList, words)) return false;
  std::vector<const char *> argv;
  for (const std::string &word : words) argv.push_back(word.c_str());
  return getID(interp, path, static_cast<int>(argv.size()), argv.data(), out);
}

/* ---- checks ---- */

Tk_Window combWindow(Tk_Window mainWindow, const char *path) {
  if (!mainWindow || !path || path[0] != '.') return nullptr;
  return Tk_NameToWindow(nullptr, path, mainWindow);
}

bool combClassOf(Tk_Window mainWindow, Tcl_Interp *interp, const char *path, std::string &out) {
  if (const char *cls = combGetKey(interp, combKey(path, "class"))) {
    out = cls;
    return true;
  }
  Tk_Window tkwin = combWindow(mainWindow, path);
  if (!tkwin) return false;
  const char *cls = Tk_Class(tkwin);
  out = cls ? cls : "";
  return true;
}

bool isTkClassName(const char *className) {
  return className && className[0] >= 'A' && className[0] <= 'Z';
}

bool isWidgetOfClass(Tk_Window mainWindow, Tcl_Interp *interp, const char *path,
                     const char *className) {
  if (!combWindow(mainWindow, path)) return false;
  std::string cls;
  return combClassOf(mainWindow, interp, path, cls) && cls == (className ? className : "");
}

bool isValidItemId(const char *word) {
  return word && word[0] == '-' && word[1] != '\0' && word[1] != '-';
}

/*
 * checkCombPath --
 *     Checks a path for a new widget (no window there yet) or for an
 *     existing compound widget (window and class entry).
 * Results:      1 or 0; a refusal leaves its message in the result.
 */
int checkCombPath(Tk_Window mainWindow, Tcl_Interp *interp, const char *path, bool newWidget) {
  if (!path || path[0] != '.') {
    Tcl_SetResult(interp, const_cast<char *>("Invalid widget pathname"), TCL_STATIC);
    return 0;
  }
  bool exists = combWindow(mainWindow, path) != nullptr;
  if (newWidget) {
    if (!exists) return 1;
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Path %s already exists!", path));
    return 0;
  }
  if (!exists) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("None-existed widget: %s", path));
    return 0;
  }
  if (!combGetKey(interp, combKey(path, "class"))) {
    Tcl_SetObjResult(interp,
                     Tcl_ObjPrintf("%s is not a combined widget or has currupted", path));
    return 0;
  }
  return 1;
}

int checkNewItem(Tk_Window mainWindow, Tcl_Interp *interp, const char *parent,
                 const char *className, const char *id, const char *name) {
  if (!isWidgetOfClass(mainWindow, interp, parent, className)) {
    addErrorInfoFormatted(interp, "%s - invalid class", name);
    return 0;
  }
  if (!isValidItemId(id)) {
    addErrorInfoFormatted(interp, "%s - invalid ID", name);
    return 0;
  }
  if (combGetKey(interp, combKey(parent, id))) {
    addErrorInfoFormatted(interp, "%s - id %s already exists", name, id);
    return 0;
  }
  return 1;
}

/*
 * disableTree --
 *     Disables a window and its descendants, children first in Tk's order:
 *     -state becomes disabled and -fg gray50 where the window has them.
 * Side effects: appends one restore command (a list) per changed window.
 */
void disableTree(Tk_Window mainWindow, Tcl_Interp *interp, std::vector<std::string> &restore,
                 const char *path) {
  Tcl_ResetResult(interp);
  std::string children;
  if (evalQuiet(interp, {"winfo", "children", path}, &children) != TCL_OK) return;
  std::vector<std::string> list;
  if (!combSplitList(interp, children.c_str(), list)) return;
  for (const std::string &child : list) disableTree(mainWindow, interp, restore, child.c_str());

  std::string state, fg;
  bool hasState = evalQuiet(interp, {path, "cget", "-state"}, &state) == TCL_OK;
  bool hasFg = evalQuiet(interp, {path, "cget", "-fg"}, &fg) == TCL_OK;
  if (hasState && hasFg) {
    if (evalQuiet(interp, {path, "config", "-state", "disabled", "-fg", "gray50"}, nullptr) ==
        TCL_OK)
      restore.push_back(combList({path, "config", "-state", state, "-fg", fg}));
  } else if (hasState) {
    if (evalQuiet(interp, {path, "config", "-state", "disabled"}, nullptr) == TCL_OK)
      restore.push_back(combList({path, "config", "-state", state}));
  } else if (hasFg) {
    if (evalQuiet(interp, {path, "config", "-fg", "gray50"}, nullptr) == TCL_OK)
      restore.push_back(combList({path, "config", "-fg", fg}));
  }
}

/* ---- creation protocol ---- */

/*
 * cancelPendingFree --
 *     Cancels the idle "comb.free path" that the destruction of an earlier
 *     widget at the path scheduled, and frees its state now, so that a new
 *     widget made at the same path before idle time keeps its own state.
 */
static void cancelPendingFree(Tcl_Interp *interp, const char *path) {
  std::string ids;
  if (evalQuiet(interp, {"after", "info"}, &ids) != TCL_OK) return;
  std::vector<std::string> list;
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  combSplitList(interp, ids.c_str(), list);
  Tcl_RestoreInterpState(interp, state);
  std::string wanted = combList({"comb.free", path});
  bool found = false;
  for (const std::string &id : list) {
    std::string info;
    if (evalQuiet(interp, {"after", "info", id}, &info) != TCL_OK) continue;
    std::vector<std::string> parts;
    state = Tcl_SaveInterpState(interp, TCL_OK);
    bool ok = combSplitList(interp, info.c_str(), parts);
    Tcl_RestoreInterpState(interp, state);
    if (ok && parts.size() == 2 && parts[1] == "idle" && parts[0] == wanted) {
      evalQuiet(interp, {"after", "cancel", id}, nullptr);
      found = true;
    }
  }
  if (found)
    for (const std::string &key : combKeysOf(interp, path)) combUnsetKey(interp, key);
}

int combBeginCreate(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv,
                    const CombCreateSpec &spec) {
  if (argc < 2) {
    vesk_printf(spec.usage, argv[0]);
    return TCL_ERROR;
  }
  const char *path = argv[1];
  Tk_Window mainWindow = Tk_MainWindow(interp);
  if (!checkCombPath(mainWindow, interp, path, true)) {
    if (spec.printPathError) vesk_printf("invalid path: %s\n", path);
    else addErrorInfoFormatted(interp, "\ninvalid path: %s\n", path);
    return TCL_ERROR;
  }
  cancelPendingFree(interp, path);
  return combDeclare(clientData, interp, argc, argv, spec);
}

/*
 * combDeclare --
 *     Declares the class and its defaults through "comb.set", then parses
 *     the option words of the call; a bad option frees the state.
 */
int combDeclare(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv,
                const CombCreateSpec &spec) {
  const char *path = argv[1];
  std::vector<const char *> words = {"comb.set", path, "class", spec.classWord};
  for (const char *word : spec.declare) words.push_back(word);
  if (combCallWords(nullptr, interp, combSetCmd, clientData, nullptr,
                    static_cast<int>(words.size()), words.data(), kCombEvalTexts) != TCL_OK)
    return TCL_ERROR;
  if (!combParseParams(interp, path, argc - 2, argv + 2)) {
    /* The parse message stays in errorInfo: comb.free resets the result. */
    Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_ERROR);
    const char *freeWords[] = {"comb.free", path};
    combCallWords(nullptr, interp, combFreeCmd, clientData, nullptr, 2, freeWords,
                  kCombEvalTexts);
    Tcl_RestoreInterpState(interp, state);
    return TCL_ERROR;
  }
  return TCL_OK;
}

void combDestroyPath(Tcl_Interp *interp, const char *path) {
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_ERROR);
  const char *words[] = {"destroy", path};
  callCachedCommand(interp, COMB_DESTROY, 2, words);
  /* A half-built widget leaves no state behind, whether or not its
     <Destroy> binding was made yet. */
  cancelPendingFree(interp, path);
  for (const std::string &key : combKeysOf(interp, path)) combUnsetKey(interp, key);
  Tcl_RestoreInterpState(interp, state);
}

void combBindFree(const CombEvalAbort *abort, Tcl_Interp *interp, const char *path) {
  combEvalCached(abort, interp, COMB_BIND,
                 {"bind", path, "<Destroy>", combBindScript({"after", "idle", "comb.free", path})});
}

/* ---- the framework's own state commands ---- */

/*
 * combSetCmd --
 *     comb.set w ?key value ...?: sets _comb(w,key) for each pair.
 */
int combSetCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2 || argc % 2 != 0) {
    Tcl_AddErrorInfo(interp, "syntax error in params!");
    return TCL_ERROR;
  }
  for (int i = 2; i + 1 < argc; i += 2) {
    if (!combSetKey(interp, combKey(argv[1], argv[i]), argv[i + 1])) {
      Tcl_AddErrorInfo(interp, "Error in comb.set");
      return TCL_ERROR;
    }
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/*
 * combFreeCmd --
 *     comb.free w: removes every entry of w ("w," and anything after); the
 *     entries of windows inside w (paths "w.x") are not touched.
 */
int combFreeCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    Tcl_SetResult(interp, const_cast<char *>("comb.free pathname"), TCL_STATIC);
    return TCL_OK;
  }
  for (const std::string &key : combKeysOf(interp, argv[1])) combUnsetKey(interp, key);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/*
 * Comb_Init --
 *     Creates the commands of the family, each with the main window as
 *     client data, then fills this interpreter's command cache.
 * Results:      TCL_OK, or TCL_ERROR at the first command refused.
 */
int Comb_Init(Tcl_Interp *interp) {
  ClientData mainWindow = Tk_MainWindow(interp);
  for (const CombCommand &command : combCommands) {
    if (!command.proc) continue;
    if (!Tcl_CreateCommand(interp, command.name, command.proc, mainWindow, nullptr))
      return TCL_ERROR;
  }
  CombCache *cache = combCache(interp, true);
  for (int i = 0; i < COMB_CACHED_COUNT; i++) {
    Tcl_CmdInfo info;
    if (Tcl_GetCommandInfo(interp, combCachedNames[i], &info)) {
      cache->info[i] = info;
      cache->present[i] = true;
    }
  }
  return TCL_OK;
}

}  // namespace vesk
