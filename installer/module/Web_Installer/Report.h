#pragma once

#include <windows.h>

// Writes one line to the debugger channel: the product's short name, then
// `format` filled in (printf style), then, when `error` is not 0, its
// number and meaning. Nothing is shown or stored: a debugger or a
// debug-output viewer reads it, and without one it costs next to nothing.
// Every road that ends the run early says why in exactly one such line.
void Report(DWORD error, const char* format, ...) __attribute__((format(ms_printf, 2, 3)));
