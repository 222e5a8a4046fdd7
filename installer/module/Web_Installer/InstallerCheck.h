#pragma once

#include <windows.h>

#include "HeldFolder.h"

const DWORD kDigestSize = 32;

// Opens the expanded installer at `installerPath` for reading, sharing read
// access only, so that nobody can change it while the handle is held, and
// checks that it is the program that was packed: a regular file, not a link,
// at its expected final path, whose SHA-256 is the one `instance` carries.
// INVALID_HANDLE_VALUE otherwise, with the reason as the last error.
HANDLE OpenPackedInstaller(HINSTANCE instance, const CChildPath& installerPath);
