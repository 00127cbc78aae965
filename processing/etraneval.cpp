/*
 * etraneval.cpp --
 *     Runs the quads of the expression translator on scalar values: a
 *     small machine with a table of named values and one instruction per
 *     quad.  Also the console drivers of "etran" ("parser0" .. "parser3"),
 *     which read expressions and values from the console and show the
 *     tokens, the tree, the code and the timing of repeated runs.
 */
#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <string>
#include <utility>
#include <vector>

#include "core/console.h"
#include "core/core.h"
#include "processing/etran.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

/* ---- instruction procedures: A the first, B the second argument ---- */

double &sym(EtranMachine *m, int index) { return m->symbols[static_cast<size_t>(index)].value; }

int instrAdd(EtranMachine *m, int r, int a, int b) {
  sym(m, r) = sym(m, a) + sym(m, b);
  return 1;
}
int instrSub(EtranMachine *m, int r, int a, int b) {
  sym(m, r) = sym(m, a) - sym(m, b);
  return 1;
}
int instrMul(EtranMachine *m, int r, int a, int b) {
  sym(m, r) = sym(m, a) * sym(m, b);
  return 1;
}
int instrDiv(EtranMachine *m, int r, int a, int b) {
  sym(m, r) = sym(m, a) / sym(m, b);
  return 1;
}
int instrPow(EtranMachine *m, int r, int a, int b) {
  sym(m, r) = pow(sym(m, a), sym(m, b));
  return 1;
}
int instrAssign(EtranMachine *m, int, int a, int b) {
  sym(m, a) = sym(m, b);
  return 1;
}
int instrNeg(EtranMachine *m, int r, int a, int) {
  sym(m, r) = -sym(m, a);
  return 1;
}

struct EtranInstrRow {
  const char *op;
  EtranInstrProc *proc;
};
const EtranInstrRow etranInstrTable[] = {
    {"+", instrAdd}, {"-", instrSub},    {"*", instrMul},   {"/", instrDiv},
    {"^", instrPow}, {"=", instrAssign}, {"neg", instrNeg},
};

EtranInstrProc *findInstrProc(const std::string &op) {
  for (const EtranInstrRow &row : etranInstrTable)
    if (op == row.op) return row.proc;
  return nullptr;
}

/* After one optional sign, the name starts with a decimal digit. */
bool startsAsNumber(const std::string &name) {
  size_t i = (!name.empty() && (name[0] == '+' || name[0] == '-')) ? 1 : 0;
  return i < name.size() && isdigit(static_cast<unsigned char>(name[i]));
}

/* After one optional sign, the whole name reads as a number. */
bool isWholeNumber(const std::string &name) {
  size_t i = (!name.empty() && (name[0] == '+' || name[0] == '-')) ? 1 : 0;
  if (i >= name.size()) return false;
  const char *start = name.c_str() + i;
  char *end = nullptr;
  strtod(start, &end);
  return end != start && *end == 0;
}

/* The value a symbol starts with: a number's own, else 0. */
double symbolInitialValue(const std::string &name) {
  size_t i = (!name.empty() && (name[0] == '+' || name[0] == '-')) ? 1 : 0;
  if (i >= name.size()) return 0;
  if (!isdigit(static_cast<unsigned char>(name[i])) && name[i] != '.') return 0;
  return atof(name.c_str());
}

double secondsNow() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

/* ---- console input ---- */

/* One console line without its newline; false at the end of input. */
bool readLine(std::string &line) {
  char *text = vesk_gets(nullptr);
  if (!text) return false;
  line = text;
  return true;
}

bool promptLine(const char *prompt, std::string &line) {
  vesk_printf("%s", prompt);
  return readLine(line);
}

/* Asks for a number; a line that does not scan keeps *value. */
bool askDouble(const std::string &prompt, double *value) {
  std::string line;
  if (!promptLine(prompt.c_str(), line)) return false;
  sscanf(line.c_str(), "%lf", value);
  return true;
}

bool askLong(const char *prompt, long *value) {
  std::string line;
  if (!promptLine(prompt, line)) return false;
  sscanf(line.c_str(), "%ld", value);
  return true;
}

/* ---- tree drawing ---- */

/*
 * drawEtranTree --
 *     Shows the tree on the console: the root at column 40 of topRow, each
 *     level one row lower, children a quarter of the spread to the left
 *     and right, the spread halving per level from 80 and never below 4.
 * Side effects: leaves the cursor at the start of the row below the tree.
 */
void drawEtranTree(const EtranTree &tree, int topRow) {
  struct Place {
    int node, row, column, spread;
  };
  std::vector<Place> stack;
  stack.push_back({tree.root, topRow, 40, 80});
  int lastRow = topRow;
  while (!stack.empty()) {
    Place p = stack.back();
    stack.pop_back();
    const EtranNode &node = tree.nodes[static_cast<size_t>(p.node)];
    gotoConsoleXY(p.column < 0 ? 0 : p.column, p.row);
    vesk_printf("%s", node.name.c_str());
    if (p.row > lastRow) lastRow = p.row;
    int half = p.spread / 2 < 4 ? 4 : p.spread / 2;
    if (node.right >= 0) stack.push_back({node.right, p.row + 1, p.column + p.spread / 4, half});
    if (node.left >= 0) stack.push_back({node.left, p.row + 1, p.column - p.spread / 4, half});
  }
  gotoConsoleXY(0, lastRow + 1);
}

/*
 * Reads an expression and parses its first statement with the bracket
 * depth counted; an empty tree when there is no line or no valid tree.
 */
EtranTree readAndParse(std::string &line, bool *gotLine) {
  *gotLine = promptLine("Input expression: ", line);
  if (!*gotLine) return EtranTree();
  etranResetBrackets();
  int depth = 0;
  EtranTree tree = exprTree(line.c_str(), &depth);
  if (depth != 0) {
    vesk_printf("nPars %d\n", depth);
    etranSyntaxError("parenthesis mismatch in main");
    return EtranTree();
  }
  return tree;
}

/* ---- the operand and operator split of "parser0" ---- */

enum StackClass { STACK_OPEN, STACK_CLOSE, STACK_END, STACK_OPERATOR, STACK_NAME };

StackClass classifyStackToken(const std::string &token) {
  static const char *const operators[] = {"+",   "-",     "*",     "/",      "^",    "=",   "%",
                                          "!",   "==",    ">",     ">=",     "<",    "<=",  "rand",
                                          "inity", "initx", "initxy", "ring", "min", "max"};
  if (token == "(" || token == "{") return STACK_OPEN;
  if (token == ")" || token == "}") return STACK_CLOSE;
  if (token == ";") return STACK_END;
  for (const char *op : operators)
    if (token == op) return STACK_OPERATOR;
  return STACK_NAME;
}

/*
 * exprStack --
 *     Splits a statement into its operands and its operators (brackets
 *     included), checking that names and operators alternate and that
 *     brackets match.
 * Results:      false on error (reported on stderr).
 */
bool exprStack(const std::string &text, std::vector<std::string> &operands,
               std::vector<std::string> &operators) {
  std::vector<char> brackets;
  bool wantOperand = true;
  for (const char *t = etranNextToken(text.c_str()); t; t = etranNextToken(nullptr)) {
    std::string token = t;
    StackClass kind = classifyStackToken(token);
    if (kind == STACK_END) break;
    bool operandPlace = kind == STACK_OPEN || kind == STACK_NAME;
    if (operandPlace != wantOperand) {
      vesk_fprintf(stderr, "syntax in exprStack\n");
      return false;
    }
    if (kind == STACK_CLOSE) {
      char open = token == ")" ? '(' : '{';
      if (brackets.empty() || brackets.back() != open) {
        vesk_fprintf(stderr, "unmatched parenthese exprStack\n");
        return false;
      }
      brackets.pop_back();
    } else if (kind == STACK_OPEN) {
      brackets.push_back(token[0]);
    }
    if (kind == STACK_NAME) {
      operands.push_back(token);
      wantOperand = false;
    } else {
      operators.push_back(token);
      if (kind == STACK_OPERATOR) wantOperand = true;
    }
  }
  if (!brackets.empty()) {
    vesk_fprintf(stderr, "unmatched parenthese or bracket\n");
    return false;
  }
  if (wantOperand && !operators.empty()) {
    vesk_fprintf(stderr, "syntax in exprStack\n");
    return false;
  }
  return true;
}

}  // namespace

/* ---- the machine ---- */

/*
 * addEtranSymbol --
 *     Finds the symbol of that name, or adds it with the value the name
 *     reads as a number (0 for other names).
 * Results:      its index; -1 when the table is full (reported).
 */
int addEtranSymbol(EtranMachine *machine, const char *name) {
  std::string key(name);
  if (key.size() > kEtranNameMax) key.resize(kEtranNameMax);
  for (size_t i = 0; i < machine->symbols.size(); i++)
    if (machine->symbols[i].name == key) return static_cast<int>(i);
  if (machine->symbols.size() >= static_cast<size_t>(kEtranMaxSymbols)) {
    vesk_fprintf(stderr, "Items overlow.\n");
    return -1;
  }
  EtranSymbol symbol;
  symbol.value = symbolInitialValue(key);
  symbol.name = std::move(key);
  machine->symbols.push_back(std::move(symbol));
  return static_cast<int>(machine->symbols.size()) - 1;
}

/*
 * compileQuads --
 *     Adds the symbols and instructions of a quad list.  New symbols that
 *     are neither temporaries nor numbers become input variables.
 * Results:      the new instruction count; -1 when an operator has no
 *               procedure or the symbol table is full (reported).
 * Side effects: on failure the machine is left as it was before the call.
 */
int compileQuads(EtranMachine *machine, const EtranQuads &quads) {
  size_t symbolsBefore = machine->symbols.size();
  size_t instrsBefore = machine->instrs.size();
  for (const EtranQuad &q : quads) {
    EtranInstr instr;
    instr.result = addEtranSymbol(machine, q.result.c_str());
    instr.arg1 = instr.result < 0 ? -1 : addEtranSymbol(machine, q.arg1.c_str());
    instr.arg2 = instr.arg1 < 0 ? -1 : addEtranSymbol(machine, q.arg2.c_str());
    instr.proc = findInstrProc(q.op);
    if (instr.arg2 >= 0 && !instr.proc) vesk_fprintf(stderr, "fail to solve opr: %s\n", q.op.c_str());
    if (instr.arg2 < 0 || !instr.proc) {
      machine->symbols.resize(symbolsBefore);
      machine->instrs.resize(instrsBefore);
      return -1;
    }
    machine->instrs.push_back(instr);
  }
  for (size_t i = symbolsBefore; i < machine->symbols.size(); i++) {
    const std::string &name = machine->symbols[i].name;
    if (name[0] != '~' && !startsAsNumber(name)) machine->inputs.push_back(static_cast<int>(i));
  }
  return static_cast<int>(machine->instrs.size());
}

void runEtranMachine(EtranMachine *machine) {
  size_t count = machine->instrs.size();
  size_t pc = 0;
  while (pc < count) {
    const EtranInstr &in = machine->instrs[pc];
    pc += static_cast<size_t>(in.proc(machine, in.result, in.arg1, in.arg2));
  }
}

void printEtranQuads(const EtranQuads &quads) {
  vesk_printf("\n\n");
  for (const EtranQuad &q : quads)
    vesk_printf("%10s %10s %10s %10s\n", q.result.c_str(), q.arg1.c_str(), q.op.c_str(),
                q.arg2.c_str());
}

/*
 * compileStatements --
 *     Compiles every statement of text (separated by ";") into machine,
 *     printing the code of each.
 * Results:      the index among the input variables of the variable the
 *               last statement assigns (kEtranNoLeftVar when it assigns
 *               none), -2 when the first statement does not parse, -1 when
 *               a later one does not or a compile fails (reported).
 */
int compileStatements(EtranMachine *machine, const char *text) {
  EtranTree tree = parseStatement(text);
  if (tree.empty()) return -2;
  std::string assigned;
  for (;;) {
    const EtranNode &root = tree.nodes[static_cast<size_t>(tree.root)];
    assigned.clear();
    if (tree.isLeaf(tree.root) || root.name != "=")
      vesk_fprintf(stderr, "incomplete expression\n");
    else if (root.left >= 0)
      assigned = tree.nodes[static_cast<size_t>(root.left)].name;
    etranTempName(0);
    EtranQuads quads = treeToQuads(tree);
    if (quads.empty()) {
      vesk_fprintf(stderr, "fail to create symbol list\n");
      return -1;
    }
    printEtranQuads(quads);
    if (compileQuads(machine, quads) < 0) {
      vesk_fprintf(stderr, "fail to create instrunction\n");
      return -1;
    }
    if (etranAtEnd()) break;
    tree = parseStatement(nullptr);
    if (tree.empty()) return -1;
  }
  if (assigned.empty()) return kEtranNoLeftVar;
  for (size_t i = 0; i < machine->inputs.size(); i++)
    if (machine->symbols[static_cast<size_t>(machine->inputs[i])].name == assigned)
      return static_cast<int>(i);
  return kEtranNoLeftVar;
}

/* ---- console drivers ---- */

/* "parser0": the operand and operator lists of a statement, last first. */
void etranParser0() {
  std::string line;
  if (!promptLine("Input expression: ", line)) return;
  std::vector<std::string> operands, operators;
  if (!exprStack(line, operands, operators)) return;
  for (auto it = operands.rbegin(); it != operands.rend(); ++it) vesk_printf("%s\n", it->c_str());
  for (auto it = operators.rbegin(); it != operators.rend(); ++it) vesk_printf("%s\n", it->c_str());
}

/* "parser1": the tree and the code of a statement. */
void etranParser1() {
  clearConsole();
  std::string line;
  bool gotLine;
  EtranTree tree = readAndParse(line, &gotLine);
  if (tree.empty()) return;
  vesk_printf("%s\n", line.c_str());
  drawEtranTree(tree, 5);
  printEtranQuads(treeToQuads(tree));
}

/* "parser2": the tree and code of a statement, then timed runs of it. */
void etranParser2() {
  clearConsole();
  std::string line;
  bool gotLine;
  EtranTree tree = readAndParse(line, &gotLine);
  if (tree.empty()) {
    vesk_printf("quit\n");
    return;
  }
  vesk_printf("%s\n", line.c_str());
  drawEtranTree(tree, 4);
  if (tree.isLeaf(tree.root)) {
    vesk_fprintf(stderr, "Incomplete expression\n");
    return;
  }
  EtranQuads quads = treeToQuads(tree);
  if (quads.empty()) {
    vesk_fprintf(stderr, "Empty expr\n");
    return;
  }
  printEtranQuads(quads);
  EtranMachine machine;
  if (compileQuads(&machine, quads) < 0) return;
  for (const EtranSymbol &s : machine.symbols) vesk_printf("init:%s\n", s.name.c_str());
  for (EtranSymbol &s : machine.symbols) {
    if (s.name[0] == '~' || isWholeNumber(s.name)) continue;
    if (!askDouble(fmt("Input value for %s: ", s.name.c_str()), &s.value)) return;
  }
  long runs = 0;
  if (!askLong("Enter execution numbers: ", &runs)) return;
  double start = secondsNow();
  for (long i = 0; i < runs; i++) runEtranMachine(&machine);
  vesk_printf("Time used: %13.6fs\n", secondsNow() - start);
  for (int index : machine.inputs) {
    const EtranSymbol &s = machine.symbols[static_cast<size_t>(index)];
    vesk_printf("%10s %13.3f\n", s.name.c_str(), s.value);
  }
}

/* "parser3": statements line by line into one machine, then timed runs. */
void etranParser3() {
  EtranMachine machine;
  int leftVar = kEtranNoLeftVar;
  std::string line;
  for (;;) {
    if (!promptLine("Input expression: ", line)) return;
    size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos && line.compare(first, std::string::npos, "end") == 0) break;
    int assigned = compileStatements(&machine, line.c_str());
    if (assigned == -1 || assigned == -2) {
      vesk_fprintf(stderr, "parser error.\n");
      return;
    }
    if (assigned >= 0) leftVar = assigned;
  }
  vesk_printf("out of while\n");
  for (int index : machine.inputs) {
    EtranSymbol &s = machine.symbols[static_cast<size_t>(index)];
    if (!askDouble(fmt("%s ? ", s.name.c_str()), &s.value)) return;
  }
  long runs = 0;
  if (!askLong("Input n: ", &runs)) return;
  double start = secondsNow();
  for (long i = 0; i < runs; i++) runEtranMachine(&machine);
  double used = secondsNow() - start;
  long long operations = runs > 0 ? static_cast<long long>(runs) *
                                        static_cast<long long>(machine.instrs.size())
                                  : 0;
  vesk_printf("Time used: %13.6fs for total of %lld operations\n", used, operations);
  for (int index : machine.inputs) {
    const EtranSymbol &s = machine.symbols[static_cast<size_t>(index)];
    vesk_printf("%s = %13.3f\n", s.name.c_str(), s.value);
  }
  if (!machine.inputs.empty() && leftVar >= 0) {
    const EtranSymbol &s =
        machine.symbols[static_cast<size_t>(machine.inputs[static_cast<size_t>(leftVar)])];
    vesk_printf("leftVar: %s = %13.3f\n", s.name.c_str(), s.value);
  }
}

}  // namespace vesk
