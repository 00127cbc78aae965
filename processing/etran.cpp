/*
 * etran.cpp --
 *     The expression translator: arithmetic statements written with the
 *     band-operator vocabulary are split into tokens, built into a tree by
 *     operator priority and walked into three-address code (quads) whose
 *     temporaries are named "~t0", "~t1" ...  The "etran" command gives
 *     scripts the code of a statement, the tokens of a text and the kind,
 *     operand count and priority of a token.
 */
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/core.h"
#include "core/families.h"
#include "processing/etran.h"
#include "vesk/stdio.h"

namespace vesk {

/*
 * The token table.  Row 0 is empty, rows 1..46 are the named tokens,
 * row 47 stands for every name and row 48 for every number.
 */
const EtranToken etranOperators[kEtranNumberRow + 1] = {
    {"", 0, 0, 0},
    {"=", ETRAN_OPERATOR, 1, 0},
    {"+", ETRAN_OPERATOR, 1, 2},
    {"-", ETRAN_OPERATOR, 1, 2},
    {"*", ETRAN_OPERATOR, 2, 3},
    {"/", ETRAN_OPERATOR, 1, 3},
    {"idiv", ETRAN_OPERATOR, 1, 3},
    {"lini", ETRAN_OPERATOR, 4, 3},
    {"%", ETRAN_OPERATOR, 1, 3},
    {"rand", ETRAN_OPERATOR, 1, 3},
    {"==", ETRAN_OPERATOR, 3, 1},
    {">=", ETRAN_OPERATOR, 3, 1},
    {"<=", ETRAN_OPERATOR, 3, 1},
    {">", ETRAN_OPERATOR, 3, 1},
    {"<", ETRAN_OPERATOR, 3, 1},
    {"&&", ETRAN_OPERATOR, 3, 1},
    {"||", ETRAN_OPERATOR, 3, 1},
    {"&", ETRAN_OPERATOR, 1, 4},
    {"|", ETRAN_OPERATOR, 1, 4},
    {"xor", ETRAN_OPERATOR, 1, 4},
    {"^", ETRAN_OPERATOR, 1, 4},
    {"dist", ETRAN_OPERATOR, 2, 4},
    {"exp", ETRAN_OPERATOR, 1, 4},
    {"expd", ETRAN_OPERATOR, 6, 4},
    {"expx", ETRAN_OPERATOR, 3, 4},
    {"expy", ETRAN_OPERATOR, 3, 4},
    {"sinx", ETRAN_OPERATOR, 2, 4},
    {"siny", ETRAN_OPERATOR, 2, 4},
    {"sin", ETRAN_OPERATOR, 4, 4},
    {"cosx", ETRAN_OPERATOR, 2, 4},
    {"cosy", ETRAN_OPERATOR, 2, 4},
    {"cos", ETRAN_OPERATOR, 4, 4},
    {"deconv", ETRAN_OPERATOR, 3, 4},
    {"init", ETRAN_OPERATOR, 1, 5},
    {"initx", ETRAN_OPERATOR, 2, 5},
    {"inity", ETRAN_OPERATOR, 2, 5},
    {"initxy", ETRAN_OPERATOR, 4, 5},
    {"ring", ETRAN_OPERATOR, 0, 5},
    {"!", ETRAN_OPERATOR, 0, 5},
    {"max", ETRAN_OPERATOR, 1, 5},
    {"min", ETRAN_OPERATOR, 1, 5},
    {"neg", ETRAN_OPERATOR, 1, 5},
    {"(", ETRAN_LPAREN, 0, 0},
    {")", ETRAN_RPAREN, 0, 0},
    {"{", ETRAN_LBRACE, 0, 0},
    {"}", ETRAN_RBRACE, 0, 0},
    {";", ETRAN_SEMICOLON, 0, 0},
    {nullptr, ETRAN_NAME, 0, kEtranLeafPriority},
    {nullptr, ETRAN_NUMBER, 0, kEtranLeafPriority},
};

namespace {

/*
 * The tokenizer's state, one per process: the text being scanned, the
 * read position, the current token, the bracket stack (1 a parenthesis,
 * 0 a brace), the temporary counter and a count of the syntax errors
 * reported so far (to tell a silent failure from a reported one).
 */
struct EtranScanner {
  std::string text;
  size_t pos = 0;
  bool active = false;
  std::string token;
  int brackets[kEtranBracketDepth] = {};
  int bracketTop = 0;
  unsigned long temps = 0;
  unsigned long errors = 0;
};
EtranScanner scanner;

const char kEtranUsage[] =
    "Usage: etran isopr|nvars|parser|parser0|parser1|parser2|parser3|priority|resetvar|token\n";

bool isSingleCharToken(char c) { return c != 0 && strchr("!%&()*/;^{|}", c) != nullptr; }

std::string cutName(const std::string &name) {
  return name.size() > kEtranNameMax ? name.substr(0, kEtranNameMax) : name;
}

int newNode(EtranTree &tree, const std::string &name, int priority, int left, int right) {
  EtranNode node;
  node.name = cutName(name);
  node.priority = priority;
  node.left = left;
  node.right = right;
  tree.nodes.push_back(std::move(node));
  return static_cast<int>(tree.nodes.size()) - 1;
}

EtranNode &nodeAt(EtranTree &tree, int index) { return tree.nodes[static_cast<size_t>(index)]; }

/* Pushes a bracket; false (reported) when the stack is full. */
bool pushBracket(int kind) {
  if (scanner.bracketTop >= kEtranBracketDepth) {
    etranSyntaxError("bracket stack overflow");
    return false;
  }
  scanner.brackets[scanner.bracketTop++] = kind;
  return true;
}

/* Pops a bracket; -1 (reported) when the stack is empty. */
int popBracket() {
  if (scanner.bracketTop <= 0) {
    etranSyntaxError("bracket stack underflow");
    return -1;
  }
  return scanner.brackets[--scanner.bracketTop];
}

/* The next token as a string; false at the end of the text. */
bool nextToken(std::string &token) {
  const char *t = etranNextToken(nullptr);
  if (!t) return false;
  token = t;
  return true;
}

int exprTreeInto(EtranTree &tree, const char *text, int *depth);

/*
 * exprTerm --
 *     Parses one term starting with token (NULL at the end of the text):
 *     a bracketed sub-statement, a name, a number, or a name or number
 *     behind a unary sign.
 * Results:      the node of the term, -1 when there is none (errors are
 *               reported; the end of the text is not).
 */
int exprTerm(EtranTree &tree, const std::string *first, int *depth) {
  std::string token;
  if (!first) return -1;
  token = *first;
  for (;;) {
    const EtranToken *row = lookupEtranToken(token.c_str());
    if (row->kind == ETRAN_LPAREN || row->kind == ETRAN_LBRACE) {
      if (!pushBracket(row->kind == ETRAN_LPAREN ? 1 : 0)) return -1;
      ++*depth;
      int sub = exprTreeInto(tree, nullptr, depth);
      if (sub < 0) return -1;
      nodeAt(tree, sub).priority = kEtranBracketPriority;
      return sub;
    }
    if (row->kind == ETRAN_NAME || row->kind == ETRAN_NUMBER)
      return newNode(tree, token, kEtranLeafPriority, -1, -1);
    if (token == "+") {
      if (!nextToken(token)) return -1;
      continue;
    }
    if (token == "-") {
      if (!nextToken(token)) {
        etranSyntaxError("unary operator missing variable.");
        return -1;
      }
      const EtranToken *operand = lookupEtranToken(token.c_str());
      if (operand->kind == ETRAN_NUMBER)
        return newNode(tree, "-" + token, kEtranLeafPriority, -1, -1);
      if (operand->kind == ETRAN_NAME) {
        int left = newNode(tree, token, kEtranLeafPriority, -1, -1);
        int right = newNode(tree, token, kEtranLeafPriority, -1, -1);
        return newNode(tree, "neg", lookupEtranToken("neg")->priority, left, right);
      }
      etranSyntaxError("expected a NUM or a VAR");
      return -1;
    }
    if (row->kind == ETRAN_OPERATOR)
      etranSyntaxError("unexpected operator.");
    else if (row->kind == ETRAN_RPAREN || row->kind == ETRAN_RBRACE)
      etranSyntaxError("Unexpected right parenthese or bracket in exprTerm");
    else
      etranSyntaxError("syntax in exprTerm");
    return -1;
  }
}

/*
 * exprTreeInto --
 *     Parses one statement into tree.  An operator binds its right operand
 *     (one term) and is placed by priority: equal priorities group to the
 *     left, higher ones bind tighter, and bracketed terms and leaves are
 *     never entered.  The statement ends at ";", at the closing bracket of
 *     a sub-statement or at the end of the text.
 * Results:      the root node, -1 on error (reported).
 * Side effects: reads tokens; moves the bracket stack and *depth.
 */
int exprTreeInto(EtranTree &tree, const char *text, int *depth) {
  unsigned long errorsBefore = scanner.errors;
  std::string token;
  const char *t = etranNextToken(text);
  if (t) token = t;
  int root = exprTerm(tree, t ? &token : nullptr, depth);
  if (root < 0) {
    if (text && scanner.errors == errorsBefore) etranSyntaxError("empty line.");
    return -1;
  }
  while (nextToken(token)) {
    const EtranToken *row = lookupEtranToken(token.c_str());
    if (row->kind == ETRAN_OPERATOR) {
      int term = -1;
      if (row->nvars > 0) {
        unsigned long before = scanner.errors;
        std::string operand;
        bool have = nextToken(operand);
        term = exprTerm(tree, have ? &operand : nullptr, depth);
        if (term < 0) {
          if (scanner.errors == before) etranSyntaxError("opr syntax.");
          return -1;
        }
      }
      int c = row->priority;
      int node = newNode(tree, token, c, -1, term);
      if (nodeAt(tree, root).priority >= c) {
        nodeAt(tree, node).left = root;
        root = node;
      } else {
        int last = root;
        for (;;) {
          int next = nodeAt(tree, last).right;
          if (next < 0 || nodeAt(tree, next).priority >= c) break;
          last = next;
        }
        nodeAt(tree, node).left = nodeAt(tree, last).right;
        nodeAt(tree, last).right = node;
      }
      continue;
    }
    if (row->kind == ETRAN_SEMICOLON) break;
    if (row->kind == ETRAN_RPAREN || row->kind == ETRAN_RBRACE) {
      int popped = popBracket();
      if (row->kind == ETRAN_RPAREN && popped != 1) {
        etranSyntaxError("unmatch right parenthses");
        return -1;
      }
      if (row->kind == ETRAN_RBRACE && popped != 0) {
        etranSyntaxError("unmatch right bracket");
        return -1;
      }
      --*depth;
      break;
    }
    etranSyntaxError("unexpected token in exprTree");
    return -1;
  }
  if (*depth < 0) {
    etranSyntaxError("Unexpected right parenthese or bracket in exprTree");
    return -1;
  }
  return root;
}

/* ---- the command ---- */

int usageError(Tcl_Interp *interp, const char *name, const char *rest) {
  Tcl_AppendResult(interp, "Usage: ", name, rest, nullptr);
  return TCL_ERROR;
}

int etranParserSub(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return usageError(interp, argv[0], " parser expression");
  etranResetBrackets();
  int depth = 0;
  EtranTree tree = exprTree(argv[2], &depth);
  if (depth != 0) {
    vesk_printf("nPars %d\n", depth);
    etranSyntaxError("parenthesis mismatch in main");
    return TCL_ERROR;
  }
  if (tree.empty()) return TCL_ERROR;
  for (const EtranQuad &q : treeToQuads(tree)) {
    std::string line = q.result + " " + q.arg1 + " " + q.op + " " + q.arg2;
    Tcl_AppendElement(interp, line.c_str());
  }
  return TCL_OK;
}

int etranPriority(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return usageError(interp, argv[0], " priority token");
  Tcl_SetResult(interp, fmt("%d", lookupEtranToken(argv[2])->priority), TCL_VOLATILE);
  return TCL_OK;
}

int etranIsopr(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return usageError(interp, argv[0], " isopr token");
  bool isOperator = lookupEtranToken(argv[2])->kind == ETRAN_OPERATOR;
  Tcl_SetResult(interp, const_cast<char *>(isOperator ? "1" : "0"), TCL_STATIC);
  return TCL_OK;
}

int etranNvars(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return usageError(interp, argv[0], " nvars token");
  Tcl_SetResult(interp, fmt("%d", lookupEtranToken(argv[2])->nvars), TCL_VOLATILE);
  return TCL_OK;
}

int etranResetvar(Tcl_Interp *, int, const char **) {
  etranTempName(0);
  return TCL_OK;
}

int etranToken(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc != 3) return usageError(interp, argv[0], " token str");
  Tcl_DString result;
  Tcl_DStringInit(&result);
  for (const char *t = etranNextToken(argv[2]); t; t = etranNextToken(nullptr)) {
    Tcl_DStringAppend(&result, t, -1);
    Tcl_DStringAppend(&result, " ", 1);
  }
  Tcl_DStringResult(interp, &result);
  return TCL_OK;
}

template <void (*Driver)()>
int etranDriver(Tcl_Interp *, int, const char **) {
  Driver();
  return TCL_OK;
}

/*
 * The subcommands in matching order: the first letter picks the rows that
 * share it; the word must be at least minimum characters long and a prefix
 * of the name.
 */
typedef int EtranSubProc(Tcl_Interp *interp, int argc, const char **argv);
struct EtranSubcommand {
  const char *name;
  size_t minimum;
  EtranSubProc *proc;
};
const EtranSubcommand etranSubcommands[] = {
    {"parser", 6, etranParserSub},
    {"parser0", 7, etranDriver<etranParser0>},
    {"parser1", 7, etranDriver<etranParser1>},
    {"parser2", 7, etranDriver<etranParser2>},
    {"parser3", 7, etranDriver<etranParser3>},
    {"priority", 7, etranPriority},
    {"isopr", 4, etranIsopr},
    {"nvars", 4, etranNvars},
    {"resetvar", 4, etranResetvar},
    {"token", 5, etranToken},
};

const EtranSubcommand *findEtranSubcommand(const char *word) {
  size_t length = strlen(word);
  for (const EtranSubcommand &row : etranSubcommands) {
    if (row.name[0] != word[0]) continue;
    if (length >= row.minimum && length <= strlen(row.name) && strncmp(word, row.name, length) == 0)
      return &row;
  }
  return nullptr;
}

/*
 * etranCmd --
 *     The "etran" command.  Alone it prints its usage and succeeds; an
 *     unknown subcommand is reported on stderr.
 */
int etranCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv) {
  if (argc < 2) {
    vesk_printf("%s", kEtranUsage);
    return TCL_OK;
  }
  const EtranSubcommand *row = findEtranSubcommand(argv[1]);
  if (!row) {
    vesk_fprintf(stderr, "Unkndow command of etran\n");
    return TCL_ERROR;
  }
  try {
    return row->proc(interp, argc, argv);
  } catch (const std::bad_alloc &) {
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "etran: out of memory", nullptr);
    return TCL_ERROR;
  }
}

}  // namespace

/* ---- token table and tokenizer ---- */

const EtranToken *lookupEtranToken(const char *token) {
  if (!token) return &etranOperators[0];
  for (int i = 0; i < kEtranNameRow; i++)
    if (strcmp(etranOperators[i].text, token) == 0) return &etranOperators[i];
  if (isdigit(static_cast<unsigned char>(token[0]))) return &etranOperators[kEtranNumberRow];
  return &etranOperators[kEtranNameRow];
}

/*
 * etranNextToken --
 *     Blanks and line feeds separate tokens; the single-character tokens
 *     and the comparisons end a token being collected; "+" and "-" stay
 *     inside a token after "," and as the exponent sign of a number.
 * Results:      the token (valid until the next call), NULL at the end.
 */
const char *etranNextToken(const char *text) {
  if (text) {
    scanner.text = text;
    scanner.pos = 0;
    scanner.active = true;
  }
  if (!scanner.active) return nullptr;
  const std::string &s = scanner.text;
  size_t &pos = scanner.pos;
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\n')) pos++;
  if (pos >= s.size()) return nullptr;
  std::string &token = scanner.token;
  token.clear();
  while (pos < s.size()) {
    char c = s[pos];
    if (c == ' ' || c == '\n') {
      pos++;
      break;
    }
    if (isSingleCharToken(c)) {
      if (token.empty()) {
        token += c;
        pos++;
      }
      break;
    }
    if (c == '<' || c == '=' || c == '>') {
      if (token.empty()) {
        token += c;
        pos++;
        if (pos < s.size() && s[pos] == '=') {
          token += '=';
          pos++;
        }
      }
      break;
    }
    if (c == '+' || c == '-') {
      if (token.empty()) {
        token += c;
        pos++;
        break;
      }
      if (token.size() == 1) break;
      char previous = token.back();
      bool exponent = (previous == 'e' || previous == 'E') &&
                      isdigit(static_cast<unsigned char>(token[0]));
      if (previous != ',' && !exponent) break;
    }
    token += c;
    pos++;
  }
  return token.c_str();
}

bool etranAtEnd() {
  if (!scanner.active) return true;
  size_t pos = scanner.pos;
  const std::string &s = scanner.text;
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\n')) pos++;
  return pos >= s.size();
}

void etranResetBrackets() { scanner.bracketTop = 0; }

std::string etranTempName(int next) {
  if (!next) {
    scanner.temps = 0;
    return std::string();
  }
  return fmt("~t%lu", scanner.temps++);
}

/*
 * etranSyntaxError --
 *     Reports a syntax error on stderr: the message, the text being
 *     scanned and a caret under the character just read.
 */
void etranSyntaxError(const char *message) {
  scanner.errors++;
  vesk_fprintf(stderr, "\nError: %s\n", message);
  std::string where = scanner.text;
  where += '\n';
  if (scanner.pos > 1) where.append(scanner.pos - 1, ' ');
  where += "^\n";
  vesk_fputs(where.c_str(), stderr);
}

/* ---- trees and quads ---- */

EtranTree exprTree(const char *text, int *depth) {
  EtranTree tree;
  tree.root = exprTreeInto(tree, text, depth);
  if (tree.root < 0) tree.nodes.clear();
  return tree;
}

EtranTree parseStatement(const char *text) {
  etranResetBrackets();
  int depth = 0;
  EtranTree tree = exprTree(text, &depth);
  if (!tree.empty() && depth != 0) {
    etranSyntaxError("parenthesis mismatch");
    return EtranTree();
  }
  return tree;
}

/*
 * treeToQuads --
 *     Walks the tree bottom-up, left before right.  Each operator node
 *     whose children are done yields one quad; its result is the first
 *     argument when that is a temporary, else the second when that is one,
 *     else a new temporary, so temporaries are reused once consumed.  A
 *     lone leaf gives one quad with the leaf as its operator.
 * Results:      the quads in execution order (none for an empty tree).
 */
EtranQuads treeToQuads(const EtranTree &tree) {
  EtranQuads quads;
  if (tree.empty()) return quads;
  const std::vector<EtranNode> &nodes = tree.nodes;
  if (tree.isLeaf(tree.root)) {
    EtranQuad quad;
    quad.op = nodes[static_cast<size_t>(tree.root)].name;
    quads.push_back(std::move(quad));
    return quads;
  }
  std::vector<std::string> names(nodes.size());
  for (size_t i = 0; i < nodes.size(); i++) names[i] = nodes[i].name;
  /* Iterative post-order: a node is finished once both children are. */
  std::vector<std::pair<int, bool>> stack;
  stack.emplace_back(tree.root, false);
  while (!stack.empty()) {
    auto [index, childrenDone] = stack.back();
    stack.pop_back();
    const EtranNode &node = nodes[static_cast<size_t>(index)];
    if (tree.isLeaf(index)) continue;
    if (!childrenDone) {
      stack.emplace_back(index, true);
      if (node.right >= 0) stack.emplace_back(node.right, false);
      if (node.left >= 0) stack.emplace_back(node.left, false);
      continue;
    }
    EtranQuad quad;
    quad.op = node.name;
    quad.arg1 = node.left >= 0 ? names[static_cast<size_t>(node.left)] : "null";
    quad.arg2 = node.right >= 0 ? names[static_cast<size_t>(node.right)] : "null";
    if (quad.arg1[0] == '~')
      quad.result = quad.arg1;
    else if (quad.arg2[0] == '~')
      quad.result = quad.arg2;
    else
      quad.result = etranTempName(1);
    names[static_cast<size_t>(index)] = quad.result;
    quads.push_back(std::move(quad));
  }
  return quads;
}

/* Etran_Init -- creates "etran"; 1 when Tcl refuses it. */
int Etran_Init(Tcl_Interp *interp) {
  return Tcl_CreateCommand(interp, "etran", etranCmd, nullptr, nullptr) ? 0 : 1;
}

}  // namespace vesk
