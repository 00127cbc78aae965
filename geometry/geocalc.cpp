/*
 * geocalc.cpp --
 *     The "calc geocalc" subcommand: a polynomial fit of GCP records given
 *     as words, or alone the interactive GCP editor on a new set.  The
 *     GCP unit's start-up registers it with "calc".
 */
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "core/calc.h"
#include "core/options.h"
#include "geometry/gcpset.h"
#include "vesk/stdio.h"

namespace vesk {
namespace {

int geocalcError(Tcl_Interp *interp, const char *text) {
  Tcl_SetResult(interp, const_cast<char *>(text), TCL_VOLATILE);
  return TCL_ERROR;
}

void printGeocalcUsage() {
  vesk_printf("Usage: geocalc -order ORDER -data DATA -file FILE\n");
  vesk_printf("       geocalc -help\n\n");
  vesk_printf("    where:     ORDER    the order of the polynomial.\n");
  vesk_printf("               DATA     the list of GCP records.\n");
  vesk_printf("               FILE     the file of the result.\n");
}

/*
 * calcGeocalc --
 *     "calc geocalc -order N -data {records} ?-file path?": fits the
 *     records ("selected id x1 y1 x2 y2") and answers the residual of each
 *     element, the X2 and Y2 coefficients and the three errors.  An
 *     element that is no record answers an empty residual.
 */
int calcGeocalc(Tcl_Interp *interp, int argc, const char **argv) {
  ModuleOption options[] = {{"-order", nullptr}, {"-data", nullptr}, {"-file", nullptr},
                            {nullptr, nullptr}};
  if (strcmp(argv[2], "-help") == 0 || matchOptions(options, argc - 2, argv + 2) != 0) {
    printGeocalcUsage();
    return TCL_OK;
  }
  int order = options[0].value ? static_cast<int>(atol(options[0].value)) : 1;
  int count = 0;
  const char **elements = nullptr;
  if (options[1].value && Tcl_SplitList(interp, options[1].value, &count, &elements) != TCL_OK)
    return TCL_ERROR;
  GCPOBJ *set = createGcpSet(nullptr);
  if (!set) {
    Tcl_Free(reinterpret_cast<char *>(elements));
    return geocalcError(interp, "Error in malloc.\n");
  }
  std::vector<int> recordOf(static_cast<size_t>(count), -1);
  for (int i = 0; i < count; i++)
    if (parseGcpRecord(set, elements[i]) > 0) recordOf[static_cast<size_t>(i)] = set->count - 1;
  Tcl_Free(reinterpret_cast<char *>(elements));
  if (!fitGcpPolynomial(set, order)) {
    freeGcpSet(set);
    return geocalcError(interp, "Not enough selected GCPs!");
  }
  if (options[2].value && !saveGcpFunction(set, options[2].value)) {
    freeGcpSet(set);
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Error in saving ", options[2].value, (char *)nullptr);
    return TCL_ERROR;
  }
  std::string result = "{";
  char residual[128];
  for (int i = 0; i < count; i++) {
    int record = recordOf[static_cast<size_t>(i)];
    if (record < 0 || !formatGcpResidual(set, record, residual)) residual[0] = 0;
    result += i == 0 ? "{" : " {";
    result += residual;
    result += "}";
  }
  result += "}";
  std::vector<char> buffer(static_cast<size_t>(gcpCoefBufferSize(set)));
  result += " {" + std::string(formatJcoef(set, "%15.7E", buffer.data())) + "}";
  result += " {" + std::string(formatIcoef(set, "%15.7E", buffer.data())) + "}";
  result += " {" + std::string(formatGcpErrors(set, "%15.7E", buffer.data())) + "}";
  freeGcpSet(set);
  Tcl_SetObjResult(interp, Tcl_NewStringObj(result.c_str(), -1));
  return TCL_OK;
}

/*
 * calcGeocalcCmd --
 *     "calc geocalc": alone, the interactive GCP editor on a new set;
 *     with words, the fit of calcGeocalc.
 */
int calcGeocalcCmd(Tcl_Interp *interp, int argc, const char **argv) {
  if (argc > 2) return calcGeocalc(interp, argc, argv);
  GCPOBJ *set = createGcpSet(nullptr);
  if (!set) return geocalcError(interp, "Error in malloc.\n");
  runGeocalc(set);
  freeGcpSet(set);
  Tcl_ResetResult(interp);
  return TCL_OK;
}

}  // namespace

void registerCalcGeocalc() { registerCalcSubcommand("geocalc", calcGeocalcCmd); }

}  // namespace vesk
