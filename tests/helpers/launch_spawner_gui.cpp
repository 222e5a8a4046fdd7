// Stand-in installer that hands the work on: it starts "waiter.exe" from its
// own folder and ends its own process at once, leaving the waiter running.
#include "launch_marks.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char waiter[MAX_PATH];
    if (!BesideSelf("waiter.exe", waiter))
        return 1;
    char commandLine[MAX_PATH + 2];
    _snprintf(commandLine, sizeof(commandLine), "\"%s\"", waiter);
    commandLine[sizeof(commandLine) - 1] = '\0';
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        LogLine("spawn-failed %lu", GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LogLine("spawned %lu", process.dwProcessId);
    return 0;
}
