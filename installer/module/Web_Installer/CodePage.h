#pragma once

#include <windows.h>

// Conversions between a code page's bytes and UTF-16 that refuse what they
// cannot carry over exactly, with ERROR_NO_UNICODE_TRANSLATION. Not every
// code page takes the conversion flags that report an inexact result (UTF-8
// takes only some, the ISO-2022 ones none): each is given the flags it
// allows, and the result is converted back and compared.

// `text` into `out` (`capacity` characters, zero-terminated).
BOOL WidenExactly(UINT codePage, const char* text, WCHAR* out, int capacity);

// `text` into `out` (`capacity` bytes, zero-terminated). Where the code page
// cannot spell it, `out` still receives it with the code page's default
// character in place of what is missing, for showing it, and FALSE comes back.
BOOL NarrowExactly(UINT codePage, const WCHAR* text, char* out, int capacity);

// The flags each direction is given for `codePage`; `*reportsDefault` says
// whether narrowing also asks if a default character was used.
DWORD WideningFlags(UINT codePage);
DWORD NarrowingFlags(UINT codePage, BOOL* reportsDefault);
