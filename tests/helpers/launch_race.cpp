// Starts several copies of a program at the same moment: all are created
// suspended, then resumed one right after the other. Prints a line as each
// one ends, so a test can watch them from outside.
//   launch_race COUNT PROGRAM
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static const DWORD kTimeoutMs = 120000;

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    DWORD count = strtoul(argv[1], NULL, 10);
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS)
        return 2;
    char commandLine[MAX_PATH + 2];
    if (_snprintf(commandLine, sizeof(commandLine), "\"%s\"", argv[2]) < 0)
        return 2;

    HANDLE processes[MAXIMUM_WAIT_OBJECTS];
    HANDLE threads[MAXIMUM_WAIT_OBJECTS];
    DWORD index[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process;
        if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, &process)) {
            printf("start failed %lu\n", GetLastError());
            return 2;
        }
        processes[i] = process.hProcess;
        threads[i] = process.hThread;
        index[i] = i;
    }
    for (DWORD i = 0; i < count; ++i)
        ResumeThread(threads[i]);
    printf("started %lu\n", count);
    fflush(stdout);

    for (DWORD left = count; left > 0; --left) {
        DWORD which = WaitForMultipleObjects(left, processes, FALSE, kTimeoutMs) - WAIT_OBJECT_0;
        if (which >= left) {
            printf("timed out with %lu running\n", left);
            return 3;
        }
        DWORD code = 0;
        GetExitCodeProcess(processes[which], &code);
        printf("ended %lu exit=%lu\n", index[which], code);
        fflush(stdout);
        CloseHandle(processes[which]);
        CloseHandle(threads[which]);
        processes[which] = processes[left - 1];
        threads[which] = threads[left - 1];
        index[which] = index[left - 1];
    }
    return 0;
}
