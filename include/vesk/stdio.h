/*
 * stdio.h --
 *     The library's standard streams.  Everything native code writes to
 *     stdout or stderr, and everything it reads from stdin, goes through
 *     the stdio interpreter: a Tk console or an ordinary shell.
 */
#ifndef VESK_STDIO_H
#define VESK_STDIO_H

#include <stdarg.h>
#include <stdio.h>
#include "vesk/vesk.h"

/* Stream codes of consolePuts (Tcl's TCL_STDOUT and TCL_STDERR values). */
#define VESK_STDIN 2
#define VESK_STDOUT 4
#define VESK_STDERR 8

VESK_EXPORT int consolePuts(int stream, const char *text, int length);
VESK_EXPORT char *conGets(int *length);
VESK_EXPORT int consoleGetchar(void);

VESK_EXPORT int vesk_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
VESK_EXPORT int vesk_fprintf(FILE *file, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
VESK_EXPORT int vesk_vfprintf(FILE *file, const char *format, va_list args);
VESK_EXPORT int vesk_fputs(const char *text, FILE *file);
VESK_EXPORT int vesk_puts(const char *text);
VESK_EXPORT int vesk_fputc(int c, FILE *file);
VESK_EXPORT int vesk_putc(int c, FILE *file);
VESK_EXPORT int vesk_putchar(int c);
VESK_EXPORT int vesk_scanf(const char *format, ...);
VESK_EXPORT int vesk_fscanf(FILE *file, const char *format, ...);
VESK_EXPORT char *vesk_gets(char *buffer);
VESK_EXPORT int vesk_getch(void);
VESK_EXPORT int vesk_fgetc(FILE *file);
VESK_EXPORT int vesk_getc(FILE *file);
VESK_EXPORT char *vesk_fgets(char *buffer, int size, FILE *file);

#endif
