/*
 * meter.cpp --
 *     The progress meter and the run status.  Long native operations move
 *     the application's meter (".status.info.meter") in whole steps and
 *     poll the run status, which the user's pause and abort buttons set.
 */
#include <errno.h>

#include "core/core.h"
#include "vesk/meter.h"

namespace {

/* The meter increment, 0..0.5; 0 switches the meter off. */
float meterStep = 0.05f;
/* 0 nothing to do, 1 keep events serviced, 2 pause, 3 abort. */
int runStatus = 0;

bool meterActive(Tcl_Interp *interp) {
  return interp && !Tcl_InterpDeleted(interp) && meterStep != 0.0f;
}

/*
 * Evaluates a meter script in the stdio interpreter.  The meter only
 * shows progress: whatever it does (a missing or failing procedure) leaves
 * the interpreter's result and error state as the running job had them.
 */
int evalMeterScript(Tcl_Interp *interp, const char *script, int length) {
  errno = 0;
  Tcl_Preserve(interp);
  Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
  int code = Tcl_EvalEx(interp, script, length, TCL_EVAL_GLOBAL);
  Tcl_RestoreInterpState(interp, state);
  Tcl_Release(interp);
  return code;
}

}  // namespace

namespace vesk {

float getMeterStep() { return meterStep; }

/* Values that are not at least 0 (NaN too) give 0; above 0.5 gives 0.5. */
void setMeterStep(double step) {
  if (!(step >= 0.0)) step = 0.0;
  if (step > 0.5) step = 0.5;
  meterStep = static_cast<float>(step);
}

int getRunStatus() { return runStatus; }

void setRunStatus(long status) {
  runStatus = status < 0 ? 0 : status > 3 ? 3 : static_cast<int>(status);
}

/*
 * pollStatus --
 *     Once a run status has been set, services pending events (where the
 *     user's buttons run) and then evaluates "vesk.pause" or "vesk.abort"
 *     for a status of 2 or 3.
 * Results:      the run status after that; 0 at once while none is set.
 */
int pollStatus() {
  Tcl_Interp *interp = getStdioInterp();
  if (!interp || Tcl_InterpDeleted(interp) || runStatus == 0) return 0;
  tclUpdate(nullptr, 0xffff);
  interp = getStdioInterp();
  if (!interp || Tcl_InterpDeleted(interp)) return runStatus;
  int status = runStatus;
  if (status == 2) evalMeterScript(interp, "vesk.pause", -1);
  else if (status == 3) evalMeterScript(interp, "vesk.abort", -1);
  return runStatus;
}

}  // namespace vesk

/*
 * meterReset --
 *     Evaluates "meter.reset .status.info.meter" in the stdio interpreter.
 * Results:      the script's code; 0 with no interpreter or no meter step.
 */
int meterReset(void) {
  Tcl_Interp *interp = vesk::getStdioInterp();
  if (!meterActive(interp)) return 0;
  return evalMeterScript(interp, fmt("meter.reset .status.info.meter"), -1);
}

/*
 * meterSet --
 *     Evaluates "meter.set .status.info.meter fraction message" in the
 *     stdio interpreter, the fraction printed with "%f" and the message
 *     as one list element.
 * Results:      the script's code; 0 with no interpreter or no meter step.
 */
int meterSet(const char *message, float fraction) {
  Tcl_Interp *interp = vesk::getStdioInterp();
  if (!meterActive(interp)) return 0;
  Tcl_DString command;
  Tcl_DStringInit(&command);
  Tcl_DStringAppend(&command, fmt("meter.set .status.info.meter %f", static_cast<double>(fraction)),
                    -1);
  Tcl_DStringAppendElement(&command, message ? message : "");
  int code = evalMeterScript(interp, Tcl_DStringValue(&command), Tcl_DStringLength(&command));
  Tcl_DStringFree(&command);
  return code;
}

float meterInc(void) {
  return meterStep;
}
