/*
 * comb.h --
 *     The compound-widget framework: the global state array "_comb", the
 *     direct calls of Tk and Tcl command procedures with a recovery point,
 *     option parsing, id paths, the checks every class makes and the
 *     creation protocol the class creators follow.  The raster driver keeps
 *     its virtual display in the same array and uses the accessors.
 *
 *     Keys of "_comb" are a widget's path, a comma and a name: "%s,class",
 *     "%s,cf-opt" (option values), "%s,-id" (the Tk path of a part),
 *     "%s,_itemID_", "%s,STATES", "%s,redraw" and the class's own keys.
 */
#ifndef VESK_WIDGETS_COMB_H
#define VESK_WIDGETS_COMB_H

#include <tk.h>

#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "core/core.h"

namespace vesk {

/* The global array that holds every compound widget's state. */
inline constexpr const char *kCombArray = "_comb";

/* ---- state array (global scope) ---- */

/* The value of the entry of the formatted key, NULL when it does not exist. */
const char *combGetVar(Tcl_Interp *interp, const char *keyFormat, ...)
    __attribute__((format(printf, 2, 3)));
/* Sets the entry of the formatted key; false when Tcl refuses (a trace). */
bool combSetVar(Tcl_Interp *interp, const char *value, const char *keyFormat, ...)
    __attribute__((format(printf, 3, 4)));
/* Removes the entry of the formatted key when it exists. */
void combUnsetVar(Tcl_Interp *interp, const char *keyFormat, ...)
    __attribute__((format(printf, 2, 3)));
/* The same over a key already made ("path,name"). */
const char *combGetKey(Tcl_Interp *interp, const std::string &key);
bool combSetKey(Tcl_Interp *interp, const std::string &key, const char *value);
void combUnsetKey(Tcl_Interp *interp, const std::string &key);
/* "path,name". */
std::string combKey(const char *path, const char *name);
/* Every key of "_comb" that begins with path and a comma (the path taken
   literally, whatever glob characters it holds). */
std::vector<std::string> combKeysOf(Tcl_Interp *interp, const char *path,
                                    const char *namePattern = "*");

/* ---- scripts and word lists ---- */

/* Evaluates a formatted script at global level; the completion code.  Only
   for texts that are scripts: values go through combGlobalEvalWords. */
int combGlobalEval(Tcl_Interp *interp, const char *scriptFormat, ...)
    __attribute__((format(printf, 2, 3)));
/* Evaluates the words as one command at global level, no substitution. */
int combGlobalEvalWords(Tcl_Interp *interp, const std::vector<std::string> &words);
/* The words as a proper Tcl list (a script of one command). */
std::string combList(const std::vector<std::string> &words);
/* A binding script of one command: the words as a list, with every '%'
   doubled so that Tk's event substitution leaves them alone. */
std::string combBindScript(const std::vector<std::string> &words);
/* A script text with every '%' doubled, for a binding. */
std::string combEscapePercent(const std::string &script);
/* Splits a Tcl list; false (message in the result) when it is not one. */
bool combSplitList(Tcl_Interp *interp, const char *text, std::vector<std::string> &out);

/* ---- direct calls ---- */

/* The Tk and Tcl commands whose procedures the framework keeps. */
enum CombCachedCommand {
  COMB_ARRAY, COMB_BIND, COMB_BUTTON, COMB_CANVAS, COMB_DESTROY, COMB_ENTRY, COMB_EVAL,
  COMB_LABEL, COMB_LISTBOX, COMB_FRAME, COMB_GLOBAL, COMB_GRAB, COMB_GRID, COMB_IMAGE,
  COMB_LOWER, COMB_PACK, COMB_PLACE, COMB_RAISE, COMB_SCROLLBAR, COMB_SET, COMB_TOPLEVEL,
  COMB_UPDATE, COMB_WM, COMB_CACHED_COUNT
};
/* The names of the cached commands, in cache order. */
extern const char *const combCachedNames[COMB_CACHED_COUNT];

/* Calls entry index of this interpreter's cache with the entry's own
   procedure and client data; TCL_ERROR with a message when the entry is
   empty or the application's main window is gone. */
int callCachedCommand(Tcl_Interp *interp, int index, int argc, const char *const *argv);
/* callCachedCommand with combEval's failure report and recovery point. */
int combEvalCached(const CombEvalAbort *abort, Tcl_Interp *interp, int index,
                   const std::vector<std::string> &words);
/* combEval over a word vector: the command named by the first word. */
int combEvalWords(const CombEvalAbort *abort, Tcl_Interp *interp,
                  const std::vector<std::string> &words);
/* One word of a spliced call: a plain word, or a list whose elements are
   spliced in (the option words a class passes on to a part). */
struct CombPiece {
  std::string text;
  bool spliced = false;
};
inline CombPiece combWord(const std::string &text) { return CombPiece{text, false}; }
inline CombPiece combSplice(const std::string &text) { return CombPiece{text, true}; }
/* "eval" of the pieces: the lists' elements and the plain words make one
   command, evaluated at the current level without substitution.  Reports
   like combEval (the call printed as "eval" and the pieces). */
int combEvalSpliced(const CombEvalAbort *abort, Tcl_Interp *interp,
                    const std::vector<CombPiece> &pieces);
/* Calls the command named by argv[0] directly ("\n%s dose not exist!" when
   it is missing); on failure "\nError from combEvalVar: %s\n" goes to
   errorInfo and, with a recovery point, the call is printed and thrown. */
int combEvalVar(const CombEvalAbort *abort, Tcl_Interp *interp, int argc,
                const char *const *argv);
int combEvalVar(const CombEvalAbort *abort, Tcl_Interp *interp,
                const std::vector<std::string> &words);
/* Writes text to the error stream and returns to the recovery point. */
[[noreturn]] void combAbort(const CombEvalAbort *abort, const char *text);

/* ---- parsing and id paths ---- */

/* Stores option/value pairs into the declared "cf" entries of path; 1 when
   all were stored, 0 (message in errorInfo) at the first bad pair. */
int combParseParams(Tcl_Interp *interp, const char *path, int argc, const char *const *argv);
/* Resolves an id path from path; false (message in errorInfo) when a word
   is no id or names no entry. */
bool getID(Tcl_Interp *interp, const char *path, int argc, const char *const *ids,
           std::string &out);
/* getID over the words of a Tcl list. */
bool getIDList(Tcl_Interp *interp, const char *path, const char *idList, std::string &out);

/* ---- checks ---- */

/* The compound class of path, else its Tk class; false when neither exists. */
bool combClassOf(Tk_Window mainWindow, Tcl_Interp *interp, const char *path, std::string &out);
/* A Tk class name (upper-case first letter): a plain widget. */
bool isTkClassName(const char *className);
bool isWidgetOfClass(Tk_Window mainWindow, Tcl_Interp *interp, const char *path,
                     const char *className);
/* "-" followed by a character other than "-". */
bool isValidItemId(const char *word);
/* Path checks for a new widget (must not exist) or an existing compound
   widget; 1 or 0 with the message in the result. */
int checkCombPath(Tk_Window mainWindow, Tcl_Interp *interp, const char *path, bool newWidget);
/* Checks for a new item id of parent; 1 or 0 with the message in errorInfo. */
int checkNewItem(Tk_Window mainWindow, Tcl_Interp *interp, const char *parent,
                 const char *className, const char *id, const char *name);
/* Disables the window tree of path, appending restore commands. */
void disableTree(Tk_Window mainWindow, Tcl_Interp *interp, std::vector<std::string> &restore,
                 const char *path);
/* The window of a path, NULL when it does not exist. */
Tk_Window combWindow(Tk_Window mainWindow, const char *path);

/* ---- creation protocol ---- */

/* Steps 1, 3, 4 and 5 of every class creator: usage without a path (usage
   formatted with the command name and printed), the new-path check, the
   class word with its option defaults and keys ("cf-opt" value ... key
   value ...), then the option words of the call.  TCL_OK to go on. */
struct CombCreateSpec {
  const char *usage;                 /* printed with argv[0] when the path is missing */
  const char *classWord;
  std::initializer_list<const char *> declare; /* name value pairs after "class" */
  bool printPathError = false;       /* print "invalid path: %s\n" instead of errorInfo */
};
int combBeginCreate(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv,
                    const CombCreateSpec &spec);
/* Steps 4 and 5 alone, for creators that do more between the path check
   and the declaration. */
int combDeclare(ClientData clientData, Tcl_Interp *interp, int argc, const char **argv,
                const CombCreateSpec &spec);
/* Destroys what was built at path (the creator's recovery). */
void combDestroyPath(Tcl_Interp *interp, const char *path);
/* Binds <Destroy> of path to "after idle comb.free path" (replacing). */
void combBindFree(const CombEvalAbort *abort, Tcl_Interp *interp, const char *path);
/* Runs body; a CombEvalAbort becomes its code, no memory TCL_ERROR. */
template <class Fn>
int combGuard(Tcl_Interp *interp, Fn &&body) {
  try {
    return body();
  } catch (const CombEvalAbort &abort) {
    return abort.code == TCL_OK ? TCL_ERROR : abort.code;
  } catch (const std::bad_alloc &) {
    Tcl_SetResult(interp, const_cast<char *>("out of memory"), TCL_STATIC);
    return TCL_ERROR;
  }
}

/*
 * The calls of one class command under its recovery point: every failing
 * call prints itself and throws back to the command's combGuard.
 */
struct CombCalls {
  Tcl_Interp *interp;
  CombEvalAbort abort;
  explicit CombCalls(Tcl_Interp *i) : interp(i) {}
  /* A cached Tk procedure (COMB_FRAME ...). */
  std::string cached(int index, const std::vector<std::string> &words) {
    combEvalCached(&abort, interp, index, words);
    return Tcl_GetStringResult(interp);
  }
  /* A command looked up by its name. */
  std::string call(const std::vector<std::string> &words) {
    combEvalWords(&abort, interp, words);
    return Tcl_GetStringResult(interp);
  }
  /* "eval" of words and option lists. */
  std::string spliced(const std::vector<CombPiece> &pieces) {
    combEvalSpliced(&abort, interp, pieces);
    return Tcl_GetStringResult(interp);
  }
  /* One of our own command procedures, called directly. */
  std::string proc(Tcl_CmdProc *procedure, const std::vector<std::string> &words) {
    std::vector<const char *> argv;
    for (const std::string &word : words) argv.push_back(word.c_str());
    combCallWords(&abort, interp, procedure, Tk_MainWindow(interp), nullptr,
                  static_cast<int>(argv.size()), argv.data(), kCombEvalTexts);
    return Tcl_GetStringResult(interp);
  }
  /* bind path event script (the script made by combBindScript). */
  void bind(const std::string &path, const char *event, const std::string &script) {
    cached(COMB_BIND, {"bind", path, event, script});
  }
};
/* The value of option name ("-x") of path, "" when it is not set. */
std::string combOption(Tcl_Interp *interp, const char *path, const char *option);
/* The same read as an integer the way atoi reads it (0 when not a number). */
int combIntOption(Tcl_Interp *interp, const char *path, const char *option);

/* The framework's own commands that others call directly. */
Tcl_CmdProc combSetCmd;
Tcl_CmdProc combFreeCmd;

/* Creates the 51 commands of the family and fills the command cache. */
int Comb_Init(Tcl_Interp *interp);

}  // namespace vesk

#endif
