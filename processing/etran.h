/*
 * etran.h --
 *     Private interface of the expression translator and its evaluator:
 *     the token table, the tokenizer, expression trees, three-address
 *     code (quads), the scalar machine that runs the quads and the console
 *     drivers of the "etran" command.
 */
#ifndef VESK_PROCESSING_ETRAN_H
#define VESK_PROCESSING_ETRAN_H

#include <tcl.h>
#include <string>
#include <vector>

namespace vesk {

/* Token kinds. */
enum EtranKind {
  ETRAN_OPERATOR = 1,
  ETRAN_LPAREN = 2,
  ETRAN_RPAREN = 4,
  ETRAN_NUMBER = 8,
  ETRAN_NAME = 16,
  ETRAN_SEMICOLON = 32,
  ETRAN_LBRACE = 64,
  ETRAN_RBRACE = 128,
};

/* One row of the token table; text is NULL for the name and number rows. */
struct EtranToken {
  const char *text;
  int kind;
  int nvars;     /* operand count */
  int priority;  /* 0 binds loosest; names and numbers are 6 */
};

/* Rows of the token table: 0 empty, 1..46 named, then names and numbers. */
inline constexpr int kEtranNameRow = 47;
inline constexpr int kEtranNumberRow = 48;
extern const EtranToken etranOperators[kEtranNumberRow + 1];

/* Names in trees, quads and symbols keep at most this many characters. */
inline constexpr size_t kEtranNameMax = 31;
/* Open brackets that one statement may nest. */
inline constexpr int kEtranBracketDepth = 64;
/* Priority of a bracketed sub-expression and of a leaf. */
inline constexpr int kEtranBracketPriority = 1000;
inline constexpr int kEtranLeafPriority = 6;

/* The row of a token: exact text, else number or name; NULL gives row 0. */
const EtranToken *lookupEtranToken(const char *token);

/*
 * An expression tree: nodes live in one array and refer to their
 * children by index (-1 for none), so no walk needs the C stack.
 */
struct EtranNode {
  std::string name;
  int priority = 0;
  int left = -1;
  int right = -1;
};
struct EtranTree {
  std::vector<EtranNode> nodes;
  int root = -1;
  bool empty() const { return root < 0; }
  bool isLeaf(int index) const {
    return nodes[static_cast<size_t>(index)].left < 0 && nodes[static_cast<size_t>(index)].right < 0;
  }
};

/* One line of three-address code. */
struct EtranQuad {
  std::string result;
  std::string op;
  std::string arg1;
  std::string arg2;
};
typedef std::vector<EtranQuad> EtranQuads;

/* ---- translator (etran.cpp) ---- */

/* The next token, or NULL at the end; a non-NULL text starts a new scan. */
const char *etranNextToken(const char *text);
/* True when the current scan has no token left. */
bool etranAtEnd();
/* Empties the bracket stack. */
void etranResetBrackets();
/* (1) the next temporary name "~t%d"; (0) resets the counter ("" back). */
std::string etranTempName(int next);
/* Prints a syntax error with the scanned text and a caret on stderr. */
void etranSyntaxError(const char *message);
/*
 * One statement of text (NULL goes on with the current scan); depth
 * counts the brackets opened and not closed.  An empty tree on error.
 */
EtranTree exprTree(const char *text, int *depth);
/* exprTree with a fresh bracket stack, failing when brackets stay open. */
EtranTree parseStatement(const char *text);
/* The quads of a tree in execution order. */
EtranQuads treeToQuads(const EtranTree &tree);

/* ---- evaluator (etraneval.cpp) ---- */

struct EtranSymbol {
  std::string name;
  double value = 0;
};
struct EtranMachine;
/* An instruction procedure: the number of instructions to advance. */
typedef int EtranInstrProc(EtranMachine *machine, int result, int arg1, int arg2);
struct EtranInstr {
  EtranInstrProc *proc = nullptr;
  int result = -1;
  int arg1 = -1;
  int arg2 = -1;
};
inline constexpr int kEtranMaxSymbols = 256;
struct EtranMachine {
  std::vector<int> inputs;          /* symbol indices of the input variables */
  std::vector<EtranInstr> instrs;
  std::vector<EtranSymbol> symbols; /* at most kEtranMaxSymbols */
};

/* compileStatements when the last statement assigns no input variable. */
inline constexpr int kEtranNoLeftVar = -3;

int addEtranSymbol(EtranMachine *machine, const char *name);
int compileQuads(EtranMachine *machine, const EtranQuads &quads);
void runEtranMachine(EtranMachine *machine);
int compileStatements(EtranMachine *machine, const char *text);
/* Prints quads on the console, "\n\n" first. */
void printEtranQuads(const EtranQuads &quads);

/* The console drivers "parser0" .. "parser3". */
void etranParser0();
void etranParser1();
void etranParser2();
void etranParser3();

}  // namespace vesk

#endif
