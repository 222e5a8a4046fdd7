#include "InstallerLaunch.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include "InstallerCheck.h"
#include "NarrowString.h"
#include "NoFollow.h"
#include "ProductNames.h"

void LaunchInstaller(const char* workFolder)
{
    CString installerPath;
    if (!installerPath.Format("%s%s%s", workFolder, "\\", INSTALLER_FILE_NAME))
        return;

    // Held until the process has started from it: from then on the system
    // keeps a running program's file from being changed.
    CFileHandle installer(OpenPackedInstaller(GetModuleHandleA(NULL), workFolder, INSTALLER_FILE_NAME));
    if (!installer.IsValid())
        return;

    SHELLEXECUTEINFOA launch;
    memset(&launch, 0, sizeof(launch));
    launch.cbSize = sizeof(launch);
    launch.fMask = SEE_MASK_NOCLOSEPROCESS;
    launch.lpFile = installerPath;
    launch.lpParameters = "";
    launch.nShow = SW_SHOWNORMAL;

    BOOL launched = ShellExecuteExA(&launch) && reinterpret_cast<INT_PTR>(launch.hInstApp) > 32;
    installer.Reset(INVALID_HANDLE_VALUE);
    // The shell may start the file without handing back a process, e.g. when
    // an already running program takes the request over.
    if (launch.hProcess == NULL)
        return;
    if (launched)
        WaitForSingleObject(launch.hProcess, INFINITE);
    CloseHandle(launch.hProcess);
}
