/*
 * gcpedit.cpp --
 *     The interactive GCP editor: a "CML> " prompt on the console whose
 *     commands add, list, update, select, delete, load and save control
 *     points, fit the polynomials and write the fit, until "quit".
 */
#include <ctype.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <string>

#include "core/console.h"
#include "core/numeric.h"
#include "core/options.h"
#include "core/text.h"
#include "geometry/gcpset.h"
#include "vesk/stdio.h"
#include "vesk/vesk.h"

namespace vesk {
namespace {

/* Command words and messages. */
const char *const cmlCommands[] = {
    "add", "calculate", "delete", "update", "list", "load", "saved", "savef", "select", "quit",
    "help", "exchange", "grid",
    "Unknown command",          /* 13 */
    nullptr,                    /* 14 */
    "Need more parameter(s)",   /* 15 */
    "Too many parameters",      /* 16 */
    "Invalid parameter(s)",     /* 17 */
    "Can not find",             /* 18 */
};
enum {
  CML_COMMANDS = 13,
  CML_UNKNOWN = 13,
  CML_NEED_MORE = 15,
  CML_TOO_MANY = 16,
  CML_INVALID = 17,
  CML_NOT_FOUND = 18,
};

/* The fields and operators of select. */
const char *const cmlFields[] = {"id", "x1", "y1", "x2", "y2", "dx", "dy", "record"};
const char *const cmlOperators[] = {">", ">=", "<", "<=", "="};

/* The longest line an editor command takes (the rest of a line is refused). */
constexpr size_t kMaxLine = kGcpLineSize - 1;

void complain(int message) { vesk_fprintf(stderr, "%s", cmlCommands[message]); }

void printSystemError(const char *name) {
  vesk_fprintf(stderr, "%s: %s\n", name, strerror(errno ? errno : ENOENT));
}

/* askYesNo, the rest of the answer's line dropped so that it is no next input. */
bool askCml(const char *question) {
  int yes = askYesNo(question);
  discardConsoleInput();
  return yes != 0;
}

/* One console line without its newline; false at the end of input. */
bool readLine(std::string &line) {
  const char *text = vesk_gets(nullptr);
  if (!text) return false;
  line = text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

/* Prompts until a whole number comes; false at the end of input. */
bool promptInt(const char *prompt, int *value) {
  std::string line;
  for (;;) {
    vesk_printf("%s", prompt);
    if (!readLine(line)) return false;
    if (sscanf(line.c_str(), "%d", value) == 1) return true;
    vesk_fprintf(stderr, "Invalid input!");
  }
}

/* Prompts until two numbers come; false at the end of input. */
bool promptPair(const char *prompt, double *a, double *b) {
  std::string line;
  for (;;) {
    vesk_printf("%s", prompt);
    if (!readLine(line)) return false;
    if (sscanf(line.c_str(), "%lf %lf", a, b) == 2) return true;
    vesk_fprintf(stderr, "Invalid input!");
  }
}

/*
 * The prompts of update: an empty line keeps the values.
 * Results: 1 new values, 0 kept, -1 at the end of input.
 */
int updateInt(const char *prompt, int *value) {
  std::string line;
  for (;;) {
    vesk_printf("%s", prompt);
    if (!readLine(line)) return -1;
    if (line.empty()) return 0;
    if (sscanf(line.c_str(), "%d", value) == 1) return 1;
    vesk_fprintf(stderr, "Invalid input!");
  }
}

int updatePair(const char *prompt, double *a, double *b) {
  std::string line;
  for (;;) {
    vesk_printf("%s", prompt);
    if (!readLine(line)) return -1;
    if (line.empty()) return 0;
    double x, y;
    if (sscanf(line.c_str(), "%lf %lf", &x, &y) == 2) {
      *a = x;
      *b = y;
      return 1;
    }
    vesk_fprintf(stderr, "Invalid input!");
  }
}

/* Reads one line of a text file, whatever its length; false at the end. */
bool readFileLine(FILE *file, std::string &line) {
  line.clear();
  char chunk[256];
  while (fgets(chunk, sizeof chunk, file)) {
    line += chunk;
    if (!line.empty() && line.back() == '\n') return true;
  }
  return !line.empty();
}

/* The first word of a line, cut at blanks and newlines. */
std::string firstWord(const std::string &line) {
  size_t start = line.find_first_not_of(" \n");
  if (start == std::string::npos) return std::string();
  size_t end = line.find_first_of(" \n", start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool fileExists(const char *name) {
  struct stat info;
  return stat(name, &info) == 0;
}

void appendRecord(GCPOBJ *set, int id, double x1, double y1, double x2, double y2) {
  GcpRecord &r = set->records[set->count++];
  r = GcpRecord();
  r.selected = 1;
  r.id = id;
  r.x1 = x1;
  r.y1 = y1;
  r.x2 = x2;
  r.y2 = y2;
  set->modified = 1;
}

/* Removes records from..to (0-based, inclusive); the list position follows. */
void removeRange(GCPOBJ *set, int from, int to) {
  int removed = to - from + 1;
  memmove(static_cast<void *>(set->records + from), set->records + to + 1,
          sizeof(GcpRecord) * static_cast<size_t>(set->count - to - 1));
  set->count -= removed;
  set->modified = 1;
  if (set->current >= set->count) set->current = set->count > 0 ? set->count - 1 : 0;
}

/* ---- commands ---- */

int cmlAdd(GCPOBJ *set, int, char **) {
  for (;;) {
    if (set->count >= set->capacity) {
      vesk_fprintf(stderr, "Buffer overflow");
      return 1;
    }
    int id;
    if (!promptInt("\nID Number (ID# <= 0 for quit) ? ", &id) || id <= 0) return 1;
    double x1, y1, x2, y2;
    if (!promptPair("\n(X1,Y1)? ", &x1, &y1)) return 1;
    if (!promptPair("\n(X2,Y2)? ", &x2, &y2)) return 1;
    appendRecord(set, id, x1, y1, x2, y2);
  }
}

/*
 * cmlCalculate --
 *     Fits the selected records; selected records get their residuals,
 *     unselected ones take the fitted target position.
 */
int cmlCalculate(GCPOBJ *set, int, char **) {
  std::string line;
  vesk_printf("\nEnter the maximum power (it must be >=0) of the polynomial: ");
  if (!readLine(line)) return 1;
  int power;
  if (sscanf(line.c_str(), "%d", &power) != 1) {
    vesk_fprintf(stderr, "Invalid input!");
    return 1;
  }
  if (power < 0) {
    vesk_fprintf(stderr, "\nThe power of the polynorm must be >= 0\n");
    return 1;
  }
  if (!solveGcpPolynomial(set, power)) return 1;
  const int n = set->termCount;
  vesk_printf("\n\nCoeficients of Y2:\n");
  for (int k = 0; k < n; k++) vesk_printf(" %15.7E", set->Icoef[k]);
  vesk_printf("\n\nCoeficients of X2:\n");
  for (int k = 0; k < n; k++) vesk_printf(" %15.7E", set->Jcoef[k]);
  double sumX = 0, sumY = 0;
  int selected = 0;
  for (int i = 0; i < set->count; i++) {
    GcpRecord &r = set->records[i];
    gcpTerms(set, r.x1, r.y1);
    double fx = dotProduct(set->Jcoef, set->xy, n), fy = dotProduct(set->Icoef, set->xy, n);
    if (r.selected) {
      double dx = (r.x2 - set->meanX2) - fx, dy = (r.y2 - set->meanY2) - fy;
      r.dx = static_cast<float>(dx);
      r.dy = static_cast<float>(dy);
      sumX += dx * dx;
      sumY += dy * dy;
      selected++;
    } else {
      r.x2 = set->meanX2 + fx;
      r.y2 = set->meanY2 + fy;
      r.dx = r.dy = 0;
    }
  }
  set->MSRJ = sqrt(sumX / selected);
  set->MSRI = sqrt(sumY / selected);
  set->MSR = sqrt((sumX + sumY) / selected);
  set->modified = 1;
  vesk_printf("\n\nMean Sqare Roots:\n");
  vesk_printf("\nMSRI=%6.3f  MSRJ=%6.3f  MSR=%6.3f", set->MSRI, set->MSRJ, set->MSR);
  return 1;
}

int cmlDelete(GCPOBJ *set, int n, char **words) {
  if (n < 2) {
    vesk_printf("%s", cmlCommands[CML_NEED_MORE]);
    return 1;
  }
  if (strcmp(words[1], "all") == 0) {
    if (n > 2) {
      complain(CML_TOO_MANY);
      return 1;
    }
    set->count = 0;
    set->current = 0;
    set->modified = 1;
    return 1;
  }
  if (strcmp(words[1], "id") == 0) {
    if (n == 2) {
      vesk_printf("%s", cmlCommands[CML_NEED_MORE]);
      return 1;
    }
    for (int k = 2; k < n; k++) {
      int id;
      if (sscanf(words[k], "%d", &id) != 1) {
        complain(CML_INVALID);
        return 1;
      }
      for (int i = 0; i < set->count;) {
        if (set->records[i].id == id) deleteGcpAt(set, i);
        else i++;
      }
    }
    return 1;
  }
  if (strcmp(words[1], "record") == 0 || strcmp(words[1], "records") == 0) {
    int a, b;
    if (n != 4 || sscanf(words[2], "%d", &a) != 1 || sscanf(words[3], "%d", &b) != 1 || a < 1 ||
        a > b || a > set->count) {
      complain(CML_INVALID);
      return 1;
    }
    removeRange(set, a - 1, (b < set->count ? b : set->count) - 1);
    return 1;
  }
  complain(CML_INVALID);
  return 1;
}

int cmlUpdateRecord(GCPOBJ *set, int index, bool withId) {
  GcpRecord r = set->records[index];
  if (withId) {
    if (updateInt(fmt("\nOld ID # is %3d.  New ID # ? ", r.id), &r.id) < 0) return 1;
  }
  int got = updatePair(fmt("\nOld (X1 Y1) %12.3f %12.3f.  New (X1 Y1) ? ", r.x1, r.y1), &r.x1, &r.y1);
  if (got < 0) return 1;
  if (got == 0) vesk_printf(withId ? "\n           %12.3f %12.3f" : "\n            %12.3f %12.3f\n", r.x1, r.y1);
  got = updatePair(fmt("\nOld (X2 Y2) %12.3f %12.3f.  New (X2 Y2) ? ", r.x2, r.y2), &r.x2, &r.y2);
  if (got < 0) return 1;
  if (got == 0) vesk_printf("\n            %12.3f %12.3f", r.x2, r.y2);
  set->records[index] = r;
  set->modified = 1;
  return 1;
}

int cmlUpdate(GCPOBJ *set, int n, char **words) {
  if (n >= 4) {
    complain(CML_TOO_MANY);
    return 1;
  }
  if (n < 3) {
    complain(CML_NEED_MORE);
    return 1;
  }
  int value;
  bool byId = strcmp(words[1], "id") == 0;
  if ((!byId && strcmp(words[1], "record") != 0) || sscanf(words[2], "%d", &value) != 1) {
    complain(CML_INVALID);
    return 1;
  }
  if (!byId) {
    if (set->count == 0) {
      vesk_fprintf(stderr, "\nNo records in RAM");
      return 1;
    }
    if (value < 1 || value > set->count) {
      vesk_fprintf(stderr, "Maximum record # is %4d", set->count);
      vesk_fprintf(stderr, "\nMinmum record # is 1");
      return 1;
    }
    return cmlUpdateRecord(set, value - 1, true);
  }
  bool found = false;
  for (int i = 0; i < set->count; i++) {
    if (set->records[i].id != value) continue;
    found = true;
    cmlUpdateRecord(set, i, false);
  }
  if (!found) complain(CML_NOT_FOUND);
  return 1;
}

void printListHeader() {
  vesk_printf("\n No  ID       X1           Y1     ");
  vesk_printf("      X2           Y2         DX       DY");
  vesk_printf("\n__________________________________");
  vesk_printf("___________________________________________\n");
}

int cmlList(GCPOBJ *set, int n, char **words) {
  if (n > 3) {
    complain(CML_TOO_MANY);
    return 1;
  }
  int first = set->current, last;
  if (n >= 2) {
    int a, b = 0;
    if (sscanf(words[1], "%d", &a) != 1 || (n == 3 && sscanf(words[2], "%d", &b) != 1)) {
      complain(CML_INVALID);
      return 1;
    }
    if (a < 1) {
      vesk_fprintf(stderr, "\nRecord # must be greater than zero.");
      return 1;
    }
    first = a - 1;
    last = n == 3 ? b - 1 : first + 19;
  } else {
    last = first + 19;
  }
  if (set->count == 0) {
    vesk_fprintf(stderr, "No loaded records");
    return 1;
  }
  if (last > set->count - 1) last = set->count - 1;
  if (first < 0) first = 0;
  if (first > last) return 1;
  int rows = 0;
  for (int i = first; i <= last; i++) {
    const GcpRecord &r = set->records[i];
    if (!r.selected) continue;
    if (rows > 0 && rows % 20 == 0 && !askCml("More")) break;
    if (rows % 20 == 0) printListHeader();
    vesk_printf("\n%3d %4d %12.3f %12.3f %12.3f %12.3f %8.4f %8.4f", i + 1, r.id, r.x1, r.y1, r.x2,
                r.y2, static_cast<double>(r.dx), static_cast<double>(r.dy));
    rows++;
  }
  set->current = last;
  return 1;
}

int cmlLoad(GCPOBJ *set, int n, char **words) {
  if (n <= 2) {
    complain(CML_NEED_MORE);
    return 1;
  }
  if (n >= 4) {
    complain(CML_TOO_MANY);
    return 1;
  }
  bool over = strcmp(words[1], "over") == 0;
  if (!over && strcmp(words[1], "append") != 0) {
    complain(CML_INVALID);
    return 1;
  }
  std::string why;
  FILE *file = openGcpTextFile(words[2], &why);
  if (!file) {
    vesk_fprintf(stderr, "Error in fopen.\n");
    vesk_fprintf(stderr, "%s: %s\n", words[2], why.c_str());
    return 1;
  }
  if (over) {
    if (set->count > 0) set->modified = 1;
    set->count = 0;
    set->current = 0;
  }
  loadGcpRecords(set, file);
  fclose(file);
  return 1;
}

int cmlSaved(GCPOBJ *set, int n, char **words) {
  if (n == 1) {
    vesk_fprintf(stderr, "%s", "File name missing");
    return 1;
  }
  if (n > 2) {
    complain(CML_TOO_MANY);
    return 1;
  }
  if (set->count == 0) {
    vesk_fprintf(stderr, "%s", "No record to save");
    return 1;
  }
  const char *name = words[1];
  if (fileExists(name)) {
    vesk_printf("\n\aGCP file %s already exists. ", name);
    if (!askCml("Over write it ?")) return 1;
  }
  std::string text;
  for (int i = 0; i < set->count; i++) {
    const GcpRecord &r = set->records[i];
    text += fmt("%5d %12.3f %12.3f %12.3f %12.3f\n", r.id, r.x1, r.y1, r.x2, r.y2);
  }
  int failure = writeWholeFile(name, text.data(), text.size());
  if (failure == 1) {
    vesk_fprintf(stderr, "Error in fopen\n");
    printSystemError(name);
    return 1;
  }
  if (failure == 2) {
    vesk_printf("Error in fprintf\n");
    printSystemError(name);
    return 1;
  }
  set->modified = 0;
  return 1;
}

int cmlSavef(GCPOBJ *set, int n, char **words) {
  if (n == 1) {
    vesk_fprintf(stderr, "%s", "File name missing");
    return 1;
  }
  if (n > 2) {
    complain(CML_TOO_MANY);
    return 1;
  }
  if (set->termCount <= 0) {
    vesk_fprintf(stderr, "%s", "No function exist");
    return 1;
  }
  if (fileExists(words[1])) {
    vesk_printf("\n\aParameter file %s already exists. ", words[1]);
    if (!askCml("Over write it ?")) return 1;
  }
  saveGcpFunction(set, words[1]);
  return 1;
}

bool compareValue(double a, int op, double b) {
  switch (op) {
  case 0: return a > b;
  case 1: return a >= b;
  case 2: return a < b;
  case 3: return a <= b;
  default: return a == b;
  }
}

int cmlSelect(GCPOBJ *set, int n, char **words) {
  if (n == 1) {
    complain(CML_NEED_MORE);
    return 1;
  }
  if (strcmp(words[1], "all") == 0) {
    if (n > 2) {
      complain(CML_TOO_MANY);
      return 1;
    }
    for (int i = 0; i < set->count; i++) set->records[i].selected = 1;
    return 1;
  }
  if (n >= 5) {
    complain(CML_TOO_MANY);
    return 1;
  }
  if (n < 4) {
    complain(CML_NEED_MORE);
    return 1;
  }
  double value;
  if (sscanf(words[3], "%lf", &value) != 1) {
    complain(CML_INVALID);
    return 1;
  }
  int op = -1;
  for (int k = 0; k < 5; k++)
    if (strcmp(words[2], cmlOperators[k]) == 0) op = k;
  if (op < 0) {
    vesk_fprintf(stderr, "%s", "Invalid operator");
    return 1;
  }
  int field = 7;
  for (int k = 0; k < 7; k++)
    if (strcmp(words[1], cmlFields[k]) == 0) field = k;
  for (int i = 0; i < set->count; i++) {
    GcpRecord &r = set->records[i];
    if (!r.selected) continue;
    bool keep;
    switch (field) {
    case 0: keep = compareValue(r.id, op, roundToInt(value)); break;
    case 1: keep = compareValue(r.x1, op, value); break;
    case 2: keep = compareValue(r.y1, op, value); break;
    case 3: keep = compareValue(r.x2, op, value); break;
    case 4: keep = compareValue(r.y2, op, value); break;
    case 5: keep = compareValue(r.dx, op, value); break;
    case 6: keep = compareValue(r.dy, op, value); break;
    default: keep = compareValue(i, op, roundToInt(value)); break;
    }
    if (!keep) r.selected = 0;
  }
  return 1;
}

int cmlQuit(GCPOBJ *, int, char **) { return 0; }

/*
 * cmlHelp --
 *     Prints the entry "@topic" of the help file, up to its "@END" line.
 */
int cmlHelp(GCPOBJ *set, int n, char **words) {
  if (n >= 3) {
    vesk_fprintf(stderr, "\n%s", cmlCommands[CML_TOO_MANY]);
    return 1;
  }
  const char *doc = vesk_getenv("VESK_DOC");
  std::string name = std::string(doc ? doc : "") + set->helpFile;
  FILE *file;
  std::string why;
  while (!(file = openGcpTextFile(name.c_str(), &why))) {
    vesk_fprintf(stderr, "\nError in fopen\n");
    vesk_fprintf(stderr, "%s: %s\n", name.c_str(), why.c_str());
    if (!askCml("\a\nTry again")) return 1;
    vesk_printf("\nEnter full path for the help file name: ");
    std::string line;
    if (!readLine(line)) return 1;
    char *word = strtok(&line[0], " \t");
    name = word ? word : "";
  }
  if (!printGcpHelpEntry(file, n == 2 ? words[1] : "help")) {
    vesk_fprintf(stderr, "\nCan't find the entry of the help.");
    vesk_fprintf(stderr, "\nPlease type HELP to get a list of command entry.");
  }
  fclose(file);
  return 1;
}

int cmlExchange(GCPOBJ *set, int, char **) {
  exchangeGcpPoints(set);
  return 1;
}

/*
 * cmlGrid --
 *     Writes the fit at a rows x columns grid over the source extent of
 *     the records to "gridgcp.txt".
 */
int cmlGrid(GCPOBJ *set, int, char **) {
  if (set->termCount <= 0) {
    vesk_fprintf(stderr, "%s", "No function exist");
    return 1;
  }
  vesk_printf("\nEnter the rows and cols: ");
  std::string line;
  if (!readLine(line)) return 1;
  int rows, columns;
  if (sscanf(line.c_str(), "%d %d", &rows, &columns) != 2) {
    vesk_fprintf(stderr, "Invalid input!");
    return 1;
  }
  if (rows < 2 || columns < 2 || set->count == 0) {
    complain(CML_INVALID);
    return 1;
  }
  double xmin = set->records[0].x1, xmax = xmin, ymin = set->records[0].y1, ymax = ymin;
  for (int i = 1; i < set->count; i++) {
    const GcpRecord &r = set->records[i];
    xmin = fmin(xmin, r.x1);
    xmax = fmax(xmax, r.x1);
    ymin = fmin(ymin, r.y1);
    ymax = fmax(ymax, r.y1);
  }
  vesk_printf("xmin: %13.3f xmax: %13.3f ymin: %13.3f ymax: %13.3f\n", xmin, xmax, ymin, ymax);
  double sx = (xmax - xmin) / (columns - 1), sy = (ymax - ymin) / (rows - 1);
  std::string text;
  int point = 0;
  for (int i = 0; i < rows; i++) {
    for (int j = 0; j < columns; j++) {
      double y2, x2;
      evalGcpPolynomial(set, xmin + j * sx, ymin + i * sy, &y2, &x2);
      text += fmt("%5d %13.3f %13.3f\n", ++point, x2, y2);
    }
  }
  if (writeWholeFile("gridgcp.txt", text.data(), text.size()) != 0) printSystemError("gridgcp.txt");
  return 1;
}

typedef int CmlProc(GCPOBJ *set, int n, char **words);
CmlProc *const cmlProcs[CML_COMMANDS] = {
    cmlAdd, cmlCalculate, cmlDelete, cmlUpdate, cmlList,  cmlLoad, cmlSaved,
    cmlSavef, cmlSelect, cmlQuit, cmlHelp, cmlExchange, cmlGrid,
};

}  // namespace

/*
 * openGcpTextFile --
 *     Opens a text file of the editor (records to load, the help) for
 *     reading.  Only a regular file is opened: a FIFO would block the
 *     open and a device would never end.
 * Results:      the file; null with the reason in *why.
 */
FILE *openGcpTextFile(const char *path, std::string *why) {
  struct stat info;
  FILE *file = nullptr;
  if (stat(path, &info) != 0) {
    *why = strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    *why = "not a regular file";
  } else if (!(file = fopen(path, "r"))) {
    *why = strerror(errno);
  }
  return file;
}

/*
 * loadGcpRecords --
 *     Appends the records of a text file, "id x1 y1 x2 y2" a line, each
 *     echoed; lines starting with # are skipped, others that do not hold
 *     a record are reported.  Loading stops when the set is full.
 */
void loadGcpRecords(GCPOBJ *set, FILE *file) {
  std::string line;
  while (readFileLine(file, line)) {
    if (line[0] == '#') continue;
    if (set->count >= set->capacity) {
      vesk_fprintf(stderr, "Buffer overflow");
      break;
    }
    vesk_printf("%s", line.c_str());
    int id;
    double x1, y1, x2, y2;
    if (sscanf(line.c_str(), "%d %lf %lf %lf %lf", &id, &x1, &y1, &x2, &y2) != 5) {
      vesk_fprintf(stderr, "Invalid record:\n%s", line.c_str());
      continue;
    }
    appendRecord(set, id, x1, y1, x2, y2);
  }
}

/*
 * printGcpHelpEntry --
 *     Prints the entry "@topic" of a help file, up to its "@END" line (a
 *     blank line before the entry prints as one newline).
 * Results:      false when the file holds no such entry.
 */
bool printGcpHelpEntry(FILE *file, const char *topic) {
  const std::string entry = std::string("@") + topic;
  std::string line;
  bool found = false;
  while (readFileLine(file, line)) {
    std::string word = firstWord(line);
    if (word.empty()) {
      vesk_printf("\n");
      continue;
    }
    if (compareNoCase(word.c_str(), entry.c_str()) == 0) {
      found = true;
      break;
    }
  }
  if (!found) return false;
  while (readFileLine(file, line)) {
    if (compareNoCase(firstWord(line).c_str(), "@END") == 0) break;
    vesk_printf("%s", line.c_str());
  }
  return true;
}

/*
 * splitCmlLine --
 *     Copies the input line in lower case into the word buffer and cuts it
 *     at commas, blanks and newlines; the first four words go to the word
 *     table.
 * Results:      the number of words in the line (more than the table holds
 *               when the line has too many).
 */
int splitCmlLine(GCPOBJ *set) {
  size_t i = 0;
  for (; set->line[i] && i < kMaxLine; i++)
    set->words[i] = static_cast<char>(tolower(static_cast<unsigned char>(set->line[i])));
  set->words[i] = 0;
  int count = 0;
  char *save = nullptr;
  for (char *word = strtok_r(set->words, ", \n", &save); word;
       word = strtok_r(nullptr, ", \n", &save)) {
    if (count < kGcpMaxWords) set->wordPtrs[count] = word;
    count++;
  }
  set->wordCount = count;
  return count;
}

/*
 * dispatchCmlCommand --
 *     Runs the command named by the first word.
 * Results:      0 after quit, else 1.
 */
int dispatchCmlCommand(GCPOBJ *set, int wordCount, char **words) {
  if (wordCount <= 0) return 1;
  for (int k = 0; k < CML_COMMANDS; k++)
    if (strcmp(words[0], cmlCommands[k]) == 0) return cmlProcs[k](set, wordCount, words);
  complain(CML_UNKNOWN);
  return 1;
}

/*
 * runGeocalc --
 *     The editor loop: prompt, read a line, run it, until quit or the end
 *     of console input.  A line longer than the input line holds, or with
 *     more words than the word table holds, is refused.
 * Results:      1.
 */
int runGeocalc(GCPOBJ *set) {
  set->running = 1;
  while (set->running == 1) {
    vesk_printf("\nCML> ");
    const char *text = vesk_gets(nullptr);
    if (!text) {
      set->running = 0;
      break;
    }
    size_t length = strlen(text);
    if (length > kMaxLine) {
      vesk_fprintf(stderr, "Line too long (at most %d characters)", static_cast<int>(kMaxLine));
      continue;
    }
    memcpy(set->line, text, length + 1);
    set->lineLength = static_cast<int>(length);
    int n = splitCmlLine(set);
    if (n > kGcpMaxWords) {
      complain(CML_TOO_MANY);
      continue;
    }
    set->running = dispatchCmlCommand(set, n, set->wordPtrs);
  }
  return 1;
}

/*
 * rimageGeocalc --
 *     The "geocalc" module of rimage: the editor on a new set, whatever
 *     the arguments.
 * Results:      1.
 */
int rimageGeocalc(const char *, int, const char **) {
  GCPOBJ *set = createGcpSet(nullptr);
  if (!set) return 1;
  runGeocalc(set);
  freeGcpSet(set);
  return 1;
}

}  // namespace vesk
