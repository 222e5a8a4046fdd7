#pragma once

#include <windows.h>

// Does what another local user could do to the work folder at seam `point`,
// whose object is `path`, when `action` is one of the attacker's moves.
// FALSE for any other action.
BOOL Attack(const char* point, const char* action, const char* path);
