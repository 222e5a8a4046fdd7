#pragma once

#include <windows.h>

#include <stdarg.h>

// Writes one line to the debugger channel: the product's short name, then
// `format` filled in (printf style), then, when `error` is not 0, its
// number and meaning. Nothing is shown or stored: a debugger or a
// debug-output viewer reads it, and without one it costs next to nothing.
// Every road that ends the run early says why in exactly one such line.
void Report(DWORD error, const char* format, ...) __attribute__((format(ms_printf, 2, 3)));

// The line Report writes, into `line` (kReportLineCapacity bytes): always
// zero-terminated and ending in a line end, with the error's number and
// meaning kept whole however long the message is.
const size_t kReportLineCapacity = 2048;
void FormatReport(char* line, DWORD error, const char* format, va_list arguments);
