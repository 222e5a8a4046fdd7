#pragma once

#include <windows.h>

#include "Handle.h"
#include "HeldFolder.h"

// Opens the expanded installer in the held `workFolder` for reading, sharing
// read access only, and checks that it is the program `instance` packed, so
// that from then on nobody can change it. INVALID_HANDLE_VALUE, reported,
// otherwise.
HANDLE HoldPackedInstaller(HINSTANCE instance, const CHeldFolder& workFolder);

// Starts the installer held by `installer` from the held `workFolder` and
// waits until its process ends; the hold ends once the process has started.
// A launch that fails is not reported.
void LaunchInstaller(const CHeldFolder& workFolder, CFileHandle& installer);
// Holds the work folder at `workFolder` as a real folder and the installer
// in it, then launches that.
void LaunchInstaller(const char* workFolder);
