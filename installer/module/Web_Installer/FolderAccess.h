#pragma once

#include <windows.h>

// Gives Everyone inheritable full access to the file-system object at `path`.
// On FALSE the object's DACL is unchanged.
BOOL GrantEveryoneFullAccess(const char* path);
