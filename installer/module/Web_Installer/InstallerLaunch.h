#pragma once

// Starts the expanded installer from `workFolder` and waits until its process
// ends. A launch that fails is not reported.
void LaunchInstaller(const char* workFolder);
