/*
 * combcmds.cpp --
 *     The "comb." commands: items of compound widgets, options read and
 *     changed through id paths, disabling and enabling window trees,
 *     bindings and focus chains, grid layouts, direct calls and the
 *     freeing of destroyed widgets' state.
 */
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/core.h"
#include "vesk/stdio.h"
#include "widgets/comb.h"
#include "widgets/combcmds.h"

namespace vesk {
namespace {

/* Empties the result without touching errorInfo. */
void clearResult(Tcl_Interp *interp) {
  Tcl_SetObjResult(interp, Tcl_NewObj());
}

void setResult(Tcl_Interp *interp, const std::string &text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.data(), static_cast<int>(text.size())));
}

/* Runs "puts text" the way a script would (so that a console sees it). */
int putsLine(Tcl_Interp *interp, const std::string &text) {
  return combGlobalEvalWords(interp, {"puts", text});
}

/* An option list: an id path followed by the option. */
struct OptionPath {
  std::vector<std::string> ids;
  std::string option;
};
bool splitOptionPath(Tcl_Interp *interp, const char *optList, OptionPath &out) {
  std::vector<std::string> words;
  if (!combSplitList(interp, optList, words)) return false;
  if (words.empty()) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad option list \"%s\"", optList));
    return false;
  }
  out.option = words.back();
  words.pop_back();
  out.ids = std::move(words);
  return true;
}

bool resolveIds(Tcl_Interp *interp, const char *path, const std::vector<std::string> &ids,
                std::string &out) {
  std::vector<const char *> argv;
  for (const std::string &id : ids) argv.push_back(id.c_str());
  return getID(interp, path, static_cast<int>(argv.size()), argv.data(), out);
}

/* The text comb.cf answers: each option name followed by a blank. */
std::string optionNames(Tcl_Interp *interp, const char *path) {
  std::string names;
  size_t prefix = strlen(path) + 3; /* "path,cf" */
  for (const std::string &key : combKeysOf(interp, path, "cf-*")) {
    names += key.substr(prefix);
    names += ' ';
  }
  return names;
}

/*
 * listOptions --
 *     The listing of comb.config: one element per key, {option value}, or
 *     {option itemPath itemClass value} when the option also names an item.
 */
void listOptions(Tcl_Interp *interp, const char *path, const std::vector<std::string> &keys) {
  Tk_Window mainWindow = Tk_MainWindow(interp);
  Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
  size_t prefix = strlen(path) + 3;
  for (const std::string &key : keys) {
    if (key.size() < prefix) continue;
    std::string option = key.substr(prefix);
    const char *value = combGetKey(interp, key);
    Tcl_Obj *element = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, element, Tcl_NewStringObj(option.c_str(), -1));
    if (const char *item = combGetKey(interp, combKey(path, option.c_str()))) {
      std::string cls;
      combClassOf(mainWindow, interp, item, cls);
      Tcl_ListObjAppendElement(nullptr, element, Tcl_NewStringObj(item, -1));
      Tcl_ListObjAppendElement(nullptr, element, Tcl_NewStringObj(cls.c_str(), -1));
    }
    Tcl_ListObjAppendElement(nullptr, element, Tcl_NewStringObj(value ? value : "", -1));
    Tcl_ListObjAppendElement(nullptr, result, element);
  }
  Tcl_SetObjResult(interp, result);
}

}  // namespace

/*
 * combAddItemCmd --
 *     comb.addItem w pw id creator ?opts?: creates the item "pw.itemN"
 *     (N from w's counter) with the creator and records it under w's id.
 */
int combAddItemCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 5 && argc != 6) {
    Tcl_AddErrorInfo(interp, "usage: comb.addItem w pw id creator opts\n");
    return TCL_ERROR;
  }
  const char *w = argv[1], *pw = argv[2], *id = argv[3], *creator = argv[4];
  const char *opts = argc == 6 ? argv[5] : "";
  return combGuard(interp, [&] {
    if (combGetKey(interp, combKey(w, id))) {
      addErrorInfoFormatted(interp, "id %s already exists!\n", id);
      return TCL_ERROR;
    }
    std::string counterKey = combKey(w, "_itemID_");
    const char *counter = combGetKey(interp, counterKey);
    if (!counter) {
      combSetKey(interp, counterKey, "0");
      counter = "0";
    }
    long n = strtol(counter, nullptr, 10);
    std::string item = std::string(pw) + ".item" + counter;
    std::vector<CombPiece> pieces = {combSplice(creator), combWord(item)};
    if (opts[0]) pieces.push_back(combSplice(opts));
    if (combEvalSpliced(nullptr, interp, pieces) != TCL_OK) {
      clearResult(interp);
      return TCL_ERROR;
    }
    if (opts[0]) combSetKey(interp, combKey(w, (std::string("cf") + id).c_str()), opts);
    combSetKey(interp, combKey(w, id), item.c_str());
    const char *bindWords[] = {"bind", item.c_str(), "<Destroy>", nullptr};
    std::string script = "+" + combBindScript({"comb.freeItem", w, id});
    bindWords[3] = script.c_str();
    if (callCachedCommand(interp, COMB_BIND, 4, bindWords) != TCL_OK) {
      clearResult(interp);
      return TCL_ERROR;
    }
    combSetKey(interp, counterKey, std::to_string(n + 1).c_str());
    setResult(interp, item);
    return TCL_OK;
  });
}

/*
 * combBindCmd --
 *     comb.bind w ?event? ?script? ?idList?: Tk's bind on w, or on the
 *     part that a non-empty idList names.
 */
int combBindCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  std::string target = argc > 1 ? argv[1] : "";
  if (argc > 4 && argv[4][0]) {
    if (!getIDList(interp, argv[1], argv[4], target)) {
      addErrorInfoFormatted(interp, "bad comb-widget path: %s", argv[4]);
      return TCL_ERROR;
    }
  }
  std::vector<const char *> words = {"bind"};
  if (argc > 1) words.push_back(target.c_str());
  for (int i = 2; i < argc && i < 4; i++) words.push_back(argv[i]);
  return callCachedCommand(interp, COMB_BIND, static_cast<int>(words.size()), words.data());
}

/* comb.class w: the compound class, else the Tk class, else empty. */
int combClassCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_SetResult(interp, const_cast<char *>("comb.class pathname"), TCL_STATIC);
    return TCL_OK;
  }
  std::string cls;
  combClassOf(Tk_MainWindow(interp), interp, argv[1], cls);
  setResult(interp, cls);
  return TCL_OK;
}

/* comb.cf w: the option names of w. */
int combCfCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_SetResult(interp, const_cast<char *>("comb.cf pathname"), TCL_STATIC);
    return TCL_OK;
  }
  setResult(interp, optionNames(interp, argv[1]));
  return TCL_OK;
}

/*
 * combCgetCmd --
 *     comb.cget w optList: the option entry of the part the id path names,
 *     else that widget's own cget answer.
 */
int combCgetCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return putsLine(interp, "comb.cget w option");
  Tk_Window mainWindow = Tk_MainWindow(interp);
  std::string cls;
  if (!combClassOf(mainWindow, interp, argv[1], cls))
    return combGlobalEvalWords(interp, {argv[1], "cget", argv[2]});
  OptionPath op;
  std::string target;
  if (!splitOptionPath(interp, argv[2], op) || !resolveIds(interp, argv[1], op.ids, target))
    return TCL_ERROR;
  if (const char *value = combGetKey(interp, combKey(target.c_str(), ("cf" + op.option).c_str()))) {
    setResult(interp, value);
    return TCL_OK;
  }
  CombEvalAbort abort;
  return combGuard(interp, [&] {
    return combEvalWords(&abort, interp, {target, "cget", op.option});
  });
}

/*
 * combConfigCmd --
 *     comb.config w ?optList? ?optList value ...?: lists or changes the
 *     options of a compound widget and its parts; a plain Tk widget gets
 *     its own "config".
 */
int combConfigCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) return putsLine(interp, "comb.config w ?option? ?value option value ...?");
  Tk_Window mainWindow = Tk_MainWindow(interp);
  const char *w = argv[1];
  std::string cls;
  if (!combClassOf(mainWindow, interp, w, cls) || isTkClassName(cls.c_str())) {
    std::vector<const char *> words = {w, "config"};
    for (int i = 2; i < argc; i++) words.push_back(argv[i]);
    return combEvalVar(nullptr, interp, static_cast<int>(words.size()), words.data());
  }
  if (argc == 2) {
    listOptions(interp, w, combKeysOf(interp, w, "cf-*"));
    return TCL_OK;
  }
  if (argc == 3) {
    OptionPath op;
    if (!splitOptionPath(interp, argv[2], op)) return TCL_ERROR;
    if (!isValidItemId(op.option.c_str())) {
      Tcl_AddErrorInfo(interp, "comb.config - option syntax error!");
      return TCL_ERROR;
    }
    std::string target;
    if (!resolveIds(interp, w, op.ids, target)) return TCL_ERROR;
    std::string key = combKey(target.c_str(), ("cf" + op.option).c_str());
    if (!combGetKey(interp, key)) return combGlobalEvalWords(interp, {target, "config", op.option});
    listOptions(interp, target.c_str(), {key});
    return TCL_OK;
  }
  if ((argc - 2) % 2 != 0) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("value for \"%s\" missing", argv[argc - 1]));
    return TCL_ERROR;
  }

  CombEvalAbort abort;
  return combGuard(interp, [&] {
    bool redraw = false;
    for (int i = 2; i + 1 < argc; i += 2) {
      const char *value = argv[i + 1];
      OptionPath op;
      std::string target;
      if (!splitOptionPath(interp, argv[i], op) || !resolveIds(interp, w, op.ids, target))
        return TCL_ERROR;
      std::string key = combKey(target.c_str(), ("cf" + op.option).c_str());
      if (!combGetKey(interp, key)) {
        combEvalWords(&abort, interp, {target, "config", op.option, value});
      } else if (const char *item = combGetKey(interp, combKey(target.c_str(), op.option.c_str()))) {
        /* An item option: its value is the item's own option words. */
        std::vector<std::string> words;
        if (!combSplitList(interp, value, words)) return TCL_ERROR;
        words.insert(words.begin(), {"comb.config", item});
        if (combGlobalEvalWords(interp, words) != TCL_OK) return TCL_ERROR;
      } else {
        redraw = true;
      }
      if (!combSetKey(interp, key, value)) return TCL_ERROR;
    }
    clearResult(interp);
    if (redraw) {
      if (const char *script = combGetKey(interp, combKey(w, "redraw"))) {
        std::string copy = script;
        Tcl_EvalEx(interp, copy.c_str(), -1, TCL_EVAL_GLOBAL);
        clearResult(interp);
      }
    }
    return TCL_OK;
  });
}

/*
 * combDirCmd --
 *     comb.dir w ?id ...?: the class word and the option names of the
 *     compound widget the ids name.
 */
int combDirCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) return putsLine(interp, "comd.dir w ?option?");
  std::string target;
  if (!getID(interp, argv[1], argc - 2, argv + 2, target)) {
    clearResult(interp);
    return TCL_OK;
  }
  std::string cls;
  if (!combClassOf(Tk_MainWindow(interp), interp, target.c_str(), cls)) {
    clearResult(interp);
    return TCL_OK;
  }
  if (isTkClassName(cls.c_str())) return putsLine(interp, target + " is not a combined widget");
  std::string names = optionNames(interp, target.c_str());
  const char *parts[] = {cls.c_str(), names.c_str()};
  char *text = Tcl_Concat(2, parts);
  Tcl_SetResult(interp, text, TCL_DYNAMIC);
  return TCL_OK;
}

/* comb.dis w: disables w's tree unless it is disabled already. */
int combDisCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    Tcl_AddErrorInfo(interp, "comb.dis - syntax error");
    return TCL_ERROR;
  }
  if (!combGetKey(interp, combKey(argv[1], "STATES"))) {
    const char *words[] = {"comb.dis0", argv[1], argv[1], nullptr};
    int code = combDis0Cmd(clientData, interp, 3, words);
    if (code != TCL_OK) return code;
  }
  clearResult(interp);
  return TCL_OK;
}

/*
 * combDis0Cmd --
 *     comb.dis0 w target: disables target's tree and keeps the restore
 *     commands under w's "STATES".
 */
int combDis0Cmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) {
    Tcl_AddErrorInfo(interp, "comb.dis0 - syntax error");
    return TCL_ERROR;
  }
  return combGuard(interp, [&] {
    std::vector<std::string> restore;
    disableTree(Tk_MainWindow(interp), interp, restore, argv[2]);
    combSetKey(interp, combKey(argv[1], "STATES"), combList(restore).c_str());
    std::string script = combBindScript({"after", "idle", "comb.free", argv[1]});
    const char *words[] = {"bind", argv[1], "<Destroy>", script.c_str()};
    callCachedCommand(interp, COMB_BIND, 4, words);
    clearResult(interp);
    return TCL_OK;
  });
}

/* comb.ena w: runs the restore commands of comb.dis and forgets them. */
int combEnaCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    Tcl_AddErrorInfo(interp, "comb.ena - syntax error");
    return TCL_ERROR;
  }
  return combGuard(interp, [&] {
    std::string key = combKey(argv[1], "STATES");
    if (const char *states = combGetKey(interp, key)) {
      std::vector<std::string> restore;
      if (combSplitList(interp, states, restore)) {
        for (const std::string &script : restore)
          Tcl_EvalEx(interp, script.c_str(), -1, TCL_EVAL_GLOBAL);
      }
      combUnsetKey(interp, key);
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
  });
}

/*
 * combExecCmd --
 *     comb.exec w command idList ?word ...?: calls command directly with
 *     the path that idList names and the further words.
 */
int combExecCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 4) {
    Tcl_AddErrorInfo(interp, "comb.exec - syntax error");
    return TCL_ERROR;
  }
  std::string target;
  if (!getIDList(interp, argv[1], argv[3], target)) {
    Tcl_AddErrorInfo(interp, "comb.exec - bad path");
    return TCL_ERROR;
  }
  std::vector<std::string> words = {argv[2], target};
  for (int i = 4; i < argc; i++) words.push_back(argv[i]);
  CombEvalAbort abort;
  return combGuard(interp, [&] { return combEvalWords(&abort, interp, words); });
}

/* comb.eval command ?word ...?: a direct call, no substitution. */
int combEvalCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) return TCL_ERROR;
  CombEvalAbort abort;
  return combGuard(interp, [&] {
    return combCallWords(&abort, interp, nullptr, nullptr, nullptr, argc - 1, argv + 1,
                         kCombEvalTexts);
  });
}

/*
 * combFocusCmd --
 *     comb.focus event dir ?window ...?: event in each window moves the
 *     focus to the next window of the list (down) or the previous (up),
 *     round the ends.
 */
int combFocusCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_SetResult(interp, const_cast<char *>("comb.focus event dir args"), TCL_STATIC);
    return TCL_OK;
  }
  int step;
  if (argc > 2 && strcasecmp(argv[2], "down") == 0) step = 1;
  else if (argc > 2 && strcasecmp(argv[2], "up") == 0) step = -1;
  else {
    Tcl_AddErrorInfo(interp, "Error - comb.focus");
    return TCL_OK;
  }
  int n = argc - 3;
  if (n > 1) {
    for (int i = 0; i < n; i++) {
      const char *next = argv[3 + (i + step + n) % n];
      /* break: Tk's own Tab traversal (bind all) would move the focus on. */
      std::string script = "+" + combBindScript({"focus", next}) + "; break";
      const char *words[] = {"bind", argv[3 + i], argv[1], script.c_str()};
      callCachedCommand(interp, COMB_BIND, 4, words);
    }
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/* comb.get w key ?key ...?: one value, or the list of several. */
int combGetCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Tcl_AddErrorInfo(interp, "Error in param parsing");
    return TCL_ERROR;
  }
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(list);
  for (int i = 2; i < argc; i++) {
    const char *value = combGetKey(interp, combKey(argv[1], argv[i]));
    if (!value) {
      Tcl_DecrRefCount(list);
      addErrorInfoFormatted(interp, "comb varialbe %s,%s does not exist!", argv[1], argv[i]);
      return TCL_ERROR;
    }
    if (argc == 3) {
      Tcl_DecrRefCount(list);
      setResult(interp, value);
      return TCL_OK;
    }
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(value, -1));
  }
  Tcl_SetObjResult(interp, list);
  Tcl_DecrRefCount(list);
  return TCL_OK;
}

/* comb.id w ?idList?: the path the id path names. */
int combIdCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_SetResult(interp, const_cast<char *>("comb.id pathname"), TCL_STATIC);
    return TCL_OK;
  }
  Tk_Window mainWindow = Tk_MainWindow(interp);
  if (!mainWindow || !Tk_NameToWindow(interp, argv[1], mainWindow)) return TCL_ERROR;
  std::string target = argv[1];
  if (argc > 2 && !getIDList(interp, argv[1], argv[2], target)) return TCL_ERROR;
  setResult(interp, target);
  return TCL_OK;
}

/*
 * combLayoutCmd --
 *     comb.layout w ?columns? ?winList? ?gridOption ...?: forgets the pack
 *     and grid slaves of w and grids the windows row by row.
 */
int combLayoutCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    Tcl_SetResult(interp, const_cast<char *>("comb.layout pathname width winList options"),
                  TCL_STATIC);
    return TCL_OK;
  }
  const char *w = argv[1];
  int columns = 1;
  if (argc > 2 && Tcl_GetInt(interp, argv[2], &columns) != TCL_OK) return TCL_ERROR;
  return combGuard(interp, [&] {
    std::vector<std::string> windows;
    if (argc > 3 && argv[3][0] && argv[3][0] != ' ') {
      if (!combSplitList(interp, argv[3], windows)) return TCL_ERROR;
    } else {
      if (combGlobalEvalWords(interp, {"winfo", "children", w}) != TCL_OK) return TCL_ERROR;
      if (!combSplitList(interp, Tcl_GetStringResult(interp), windows)) return TCL_ERROR;
    }
    if (windows.empty()) return TCL_ERROR;

    for (int manager : {COMB_PACK, COMB_GRID}) {
      const char *name = combCachedNames[manager];
      const char *words[] = {name, "slaves", w};
      if (callCachedCommand(interp, manager, 3, words) != TCL_OK) continue;
      std::string slaves = Tcl_GetStringResult(interp);
      combEvalSpliced(nullptr, interp, {combWord(name), combWord("forget"), combSplice(slaves)});
    }

    int code = TCL_OK, column = 0, row = 0;
    for (const std::string &win : windows) {
      std::vector<const char *> words = {"grid", win.c_str()};
      for (int i = 4; i < argc; i++) words.push_back(argv[i]);
      std::string c = std::to_string(column), r = std::to_string(row);
      words.insert(words.end(), {"-column", c.c_str(), "-row", r.c_str()});
      code = callCachedCommand(interp, COMB_GRID, static_cast<int>(words.size()), words.data());
      if (code != TCL_OK) Tcl_AddErrorInfo(interp, "Error - comb.layout");
      if (++column >= columns) {
        column = 0;
        row++;
      }
    }
    clearResult(interp);
    return code;
  });
}

/*
 * combParseCmd --
 *     comb.parse w optList: stores the option pairs into w's declared
 *     options; "-" alone prints the option names.
 */
int combParseCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 3) {
    Tcl_SetResult(interp, const_cast<char *>("1"), TCL_STATIC);
    return TCL_ERROR;
  }
  std::vector<std::string> words;
  if (!combSplitList(interp, argv[2], words)) return TCL_ERROR;
  if (words.size() == 1 && words[0] == "-") {
    putsLine(interp, "options: " + optionNames(interp, argv[1]));
    Tcl_SetResult(interp, const_cast<char *>("0"), TCL_STATIC);
    return TCL_ERROR;
  }
  std::vector<const char *> pairs;
  for (const std::string &word : words) pairs.push_back(word.c_str());
  int ok = combParseParams(interp, argv[1], static_cast<int>(pairs.size()), pairs.data());
  Tcl_SetObjResult(interp, Tcl_NewIntObj(ok));
  return ok ? TCL_OK : TCL_ERROR;
}

/*
 * combProcCmd --
 *     comb.proc name: the definition of a procedure as the list
 *     {proc name argList body}.
 */
int combProcCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 2) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("Usage: %s procName\n", argv[0]));
    return TCL_ERROR;
  }
  const char *name = argv[1];
  if (combGlobalEvalWords(interp, {"info", "args", name}) != TCL_OK) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("\"%s\" isn't a procedure", name));
    return TCL_ERROR;
  }
  std::vector<std::string> args;
  combSplitList(interp, Tcl_GetStringResult(interp), args);
  Tcl_Obj *argList = Tcl_NewListObj(0, nullptr);
  Tcl_IncrRefCount(argList);
  for (const std::string &arg : args) {
    Tcl_Obj *element = Tcl_NewStringObj(arg.c_str(), -1);
    if (arg != "args") {
      /* info default answers through a variable: one local to a lambda. */
      int has = 0;
      std::vector<std::string> answer;
      if (combGlobalEvalWords(interp, {"apply", "{p a} {list [info default $p $a d] $d}", name,
                                       arg}) == TCL_OK &&
          combSplitList(interp, Tcl_GetStringResult(interp), answer) && answer.size() == 2 &&
          Tcl_GetInt(nullptr, answer[0].c_str(), &has) == TCL_OK && has) {
        Tcl_Obj *pair = Tcl_NewListObj(0, nullptr);
        Tcl_ListObjAppendElement(nullptr, pair, element);
        Tcl_ListObjAppendElement(nullptr, pair, Tcl_NewStringObj(answer[1].c_str(), -1));
        element = pair;
      }
    }
    Tcl_ListObjAppendElement(nullptr, argList, element);
  }
  if (combGlobalEvalWords(interp, {"info", "body", name}) != TCL_OK) {
    Tcl_DecrRefCount(argList);
    return TCL_ERROR;
  }
  Tcl_Obj *body = Tcl_GetObjResult(interp);
  Tcl_Obj *definition = Tcl_NewListObj(0, nullptr);
  Tcl_ListObjAppendElement(nullptr, definition, Tcl_NewStringObj("proc", -1));
  Tcl_ListObjAppendElement(nullptr, definition, Tcl_NewStringObj(name, -1));
  Tcl_ListObjAppendElement(nullptr, definition, argList);
  Tcl_ListObjAppendElement(nullptr, definition, body);
  Tcl_DecrRefCount(argList);
  Tcl_SetObjResult(interp, definition);
  return TCL_OK;
}

/*
 * combValidClassCmd --
 *     comb.validClass w class name: with an empty class, w's class;
 *     otherwise "1" when w is a compound widget of that class.
 */
int combValidClassCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) {
    Tcl_SetResult(interp, const_cast<char *>("0"), TCL_STATIC);
    return TCL_OK;
  }
  Tk_Window mainWindow = Tk_MainWindow(interp);
  const char *w = argv[1], *cls = argv[2], *name = argv[3];
  if (!combWindow(mainWindow, w)) {
    addErrorInfoFormatted(interp, "%s - invalid widget pathname", name);
    Tcl_SetResult(interp, const_cast<char *>("0"), TCL_STATIC);
    return TCL_OK;
  }
  if (!cls[0]) {
    std::string found;
    combClassOf(mainWindow, interp, w, found);
    setResult(interp, found);
    return TCL_OK;
  }
  const char *own = combGetKey(interp, combKey(w, "class"));
  if (own && strcmp(own, cls) == 0) {
    Tcl_SetResult(interp, const_cast<char *>("1"), TCL_STATIC);
    return TCL_OK;
  }
  addErrorInfoFormatted(interp, "%s is not a %s widget", w, cls);
  Tcl_SetResult(interp, const_cast<char *>("0"), TCL_STATIC);
  return TCL_OK;
}

/* comb.validID w id: "1" for an item id. */
int combValidIDCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  Tcl_SetResult(interp, const_cast<char *>(argc >= 3 && isValidItemId(argv[2]) ? "1" : "0"),
                TCL_STATIC);
  return TCL_OK;
}

/* comb.validPath w ?mode?: checks a path for a new or an existing widget. */
int combValidPathCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  int ok = 0;
  if (argc >= 2 && argv[1][0] == '.') {
    bool isNew = argc < 3 || strcmp(argv[2], "new") == 0;
    ok = checkCombPath(Tk_MainWindow(interp), interp, argv[1], isNew);
  }
  Tcl_SetResult(interp, const_cast<char *>(ok ? "1" : "0"), TCL_STATIC);
  return TCL_OK;
}

/* comb.validSubName parent class id name: "1" when the new item id is free. */
int combValidSubNameCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 5) {
    Tcl_AddErrorInfo(interp, "error in params");
    return TCL_ERROR;
  }
  int ok = checkNewItem(Tk_MainWindow(interp), interp, argv[1], argv[2], argv[3], argv[4]);
  Tcl_SetResult(interp, const_cast<char *>(ok ? "1" : "0"), TCL_STATIC);
  return TCL_OK;
}

/* comb.args arrayName element value: sets a global array element. */
int combArgsCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 4) {
    Tcl_ResetResult(interp);
    return TCL_ERROR;
  }
  if (!Tcl_SetVar2(interp, argv[1], argv[2], argv[3], TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG))
    return TCL_ERROR;
  Tcl_ResetResult(interp);
  return TCL_OK;
}

/*
 * combUpdateCmd --
 *     comb.update ?idletasks|all?: services pending events of the kinds
 *     asked for until none is left, never waiting.
 */
int combUpdateCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 2) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("wrong # args: should be \"%s idletasks or all\"",
                                           argv[0]));
    return TCL_ERROR;
  }
  int flags = TCL_WINDOW_EVENTS | TCL_FILE_EVENTS | TCL_TIMER_EVENTS;
  if (argc == 2) {
    size_t n = strlen(argv[1]);
    if (strncmp(argv[1], "idletasks", n) == 0) flags = TCL_IDLE_EVENTS;
    else if (strncmp(argv[1], "all", n) == 0) flags = TCL_ALL_EVENTS;
    else {
      Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad option \"%s\": must be idletasks or all",
                                             argv[1]));
      return TCL_ERROR;
    }
  }
  while (Tcl_DoOneEvent(flags | TCL_DONT_WAIT)) {
  }
  Tcl_ResetResult(interp);
  return TCL_OK;
}

}  // namespace vesk
