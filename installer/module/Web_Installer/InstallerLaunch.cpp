#include "InstallerLaunch.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include "InstallerCheck.h"
#include "Handle.h"
#include "ProductNames.h"
#include "Report.h"
#include "TestSeam.h"

HANDLE HoldPackedInstaller(HINSTANCE instance, const CHeldFolder& workFolder)
{
    CChildPath child;
    if (!workFolder.Child(INSTALLER_FILE_NAME, &child)) {
        Report(GetLastError(), "installer path in \"%s\" cannot be formed", workFolder.Path());
        return INVALID_HANDLE_VALUE;
    }
    HANDLE installer = OpenPackedInstaller(instance, child);
    if (installer == INVALID_HANDLE_VALUE)
        Report(GetLastError(), "installer \"%s\" not launched", child.Path());
    else
        TestSeam("digest-checked", child.Path());
    return installer;
}

void LaunchInstaller(const CHeldFolder& workFolder, CFileHandle& installer)
{
    CChildPath child;
    if (!workFolder.Child(INSTALLER_FILE_NAME, &child)) {
        Report(GetLastError(), "installer path in \"%s\" cannot be formed", workFolder.Path());
        return;
    }
    const char* installerPath = child.Path();

    SHELLEXECUTEINFOA launch;
    memset(&launch, 0, sizeof(launch));
    launch.cbSize = sizeof(launch);
    launch.fMask = SEE_MASK_NOCLOSEPROCESS;
    launch.lpFile = installerPath;
    launch.lpParameters = "";
    launch.nShow = SW_SHOWNORMAL;

    TestSeam("launching", installerPath);
    BOOL launched = ShellExecuteExA(&launch) && reinterpret_cast<INT_PTR>(launch.hInstApp) > 32;
    DWORD error = GetLastError();
    // From the process's start on, the system itself keeps a running
    // program's file from being changed.
    installer.Reset(INVALID_HANDLE_VALUE);
    if (!launched)
        Report(error, "installer \"%s\" could not be started (shell result %d)", installerPath,
               static_cast<int>(reinterpret_cast<INT_PTR>(launch.hInstApp)));
    // The shell may start the file without handing back a process, e.g. when
    // an already running program takes the request over.
    if (launch.hProcess == NULL) {
        if (launched)
            Report(0, "installer started by the shell, which handed back no process to wait for");
        return;
    }
    if (launched) {
        TestSeam("installer-running", installerPath);
        WaitForSingleObject(launch.hProcess, INFINITE);
        DWORD exitCode = 0;
        GetExitCodeProcess(launch.hProcess, &exitCode);
        Report(0, "installer started (process %lu); it ended with exit code %lu", GetProcessId(launch.hProcess),
               exitCode);
    }
    CloseHandle(launch.hProcess);
}

void LaunchInstaller(const char* workFolder)
{
    CHeldFolder work;
    if (!work.OpenReal(workFolder, NULL)) {
        Report(GetLastError(), "work folder \"%s\" cannot be opened for the launch", workFolder);
        return;
    }
    CFileHandle installer(HoldPackedInstaller(GetModuleHandleA(NULL), work));
    if (installer.IsValid())
        LaunchInstaller(work, installer);
}
