#pragma once

#include <windows.h>

// TRUE when `name`, a member name in the ANSI code page `codePage`, is a
// relative path that cannot leave the folder it is expanded into and lands
// where it says: backslash-separated components, none empty, none ending in
// a dot or a space (so no "." or ".."), none a reserved device name (NUL,
// COM1.txt, CONIN$, ...), and no character a Windows file name cannot hold
// (a colon, a forward slash, one of <>"|?* or a control character). When
// FALSE, the last error says which rule the name broke.
BOOL IsSafeMemberName(const char* name, UINT codePage);
