/*
 * meter.h --
 *     The progress meter.  A long operation calls meterReset at its start,
 *     meterSet (message, threshold) each time its fraction of work done
 *     reaches the next threshold (0, step, 2 x step ...), adding meterInc ()
 *     to the threshold, and meterSet (message, 1.0) at its end.
 */
#ifndef VESK_METER_H
#define VESK_METER_H

#include "vesk/vesk.h"

/* Each returns TCL_OK or the code of the meter script; 0 while switched off. */
VESK_EXPORT int meterReset(void);
VESK_EXPORT int meterSet(const char *message, float fraction);
/* The meter step: 0.05 unless set; 0 switches the meter off. */
VESK_EXPORT float meterInc(void);

#endif
