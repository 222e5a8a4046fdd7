#pragma once

#include <windows.h>

// Does what another local user could do to the work folder at seam `point`,
// whose object is `path`, when `action` is one of the attacker's moves.
// FALSE for any other action.
BOOL Attack(const char* point, const char* action, const char* path);

// Runs `format`, a shell script with two %s, the Unix names of the Windows
// paths `windowsPath` and `awaited`, and waits for `awaited` to exist.
BOOL RunUnixScript(const char* format, const char* windowsPath, const char* awaited);
