/*
 * projprogram.h --
 *     What the proj and cs2cs programs share beyond the frame: whole input
 *     lines, the number and angle readers, the listing options and the
 *     printed parameter list of a projection.
 */
#ifndef VESK_GEOMETRY_PROJPROGRAM_H
#define VESK_GEOMETRY_PROJPROGRAM_H

#include <stdio.h>
#include <tcl.h>
#include <string>

#include "geometry/projlayer.h"

namespace vesk {

/* Release text printed with the usage of a program. */
inline constexpr const char *kProgramReleaseText = "Rel. 4.4.5, 9 January 2002";

bool readProgramLine(FILE *file, std::string &line);
double readProgramNumber(const char *text, char **rest);
double readProgramAngle(const char *text, char **rest);
[[noreturn]] void listProgramTables(const char *arg);
void printProjParamList(projPJ pj);
void appendFormatted(std::string &out, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* The precision of a format that is exactly "%.Nf" (N one digit), else -1. */
int fixedFormatPrecision(const char *format);
bool appendFixed(std::string &out, double value, int precision);
std::string dmsText(double radians, int pos, int neg);

Tcl_CmdProc projProgramCmd;
Tcl_CmdProc cs2csProgramCmd;
Tcl_CmdProc cs2csCreateCmd;
Tcl_CmdProc geodProgramCmd;
Tcl_CmdProc geodCreateCmd;
Tcl_CmdProc nad2nadProgramCmd;
Tcl_CmdProc nad2nadCreateCmd;

}  // namespace vesk

#endif
