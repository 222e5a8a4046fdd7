#pragma once

#include "HeldFolder.h"

// Starts the expanded installer from the held `workFolder` and waits until
// its process ends. A launch that fails is not reported.
void LaunchInstaller(const CHeldFolder& workFolder);
// The same for a caller that has only the work folder's path: it is held
// first, as a real folder.
void LaunchInstaller(const char* workFolder);
