// Looks at Windows-side state for the tests and prints it on one line.
//   probe mutex NAME               exit 0 when a mutex of that name exists
//   probe regvalue SUBKEY NAME     type, size and hex bytes of an HKCU value
//   probe run PROGRAM [ARGS]       runs a program, prints its full exit code
//   probe move FROM TO             exit 0 when FROM could be renamed to TO
//   probe swap FILE SIZE SOURCE MS as another local user might: waits until
//                                  FILE has SIZE bytes, then writes SOURCE
//                                  over it in place; "swapped", or "refused"
//                                  with the last error after MS milliseconds
//   probe short PATH               the short (8.3) form of PATH
//   probe hold FILE EVENT MS       holds FILE open sharing everything, as a
//                                  scanner or an indexer does, until MS
//                                  milliseconds after EVENT (which it
//                                  creates) is set; "released" then
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Mutex(const char* name)
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
    printf("mutex %s\n", mutex != NULL ? "exists" : "missing");
    if (mutex == NULL)
        return 1;
    CloseHandle(mutex);
    return 0;
}

static int RegValue(const char* subKey, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        printf("key missing\n");
        return 1;
    }
    BYTE data[4096];
    DWORD type = 0, size = sizeof(data);
    LONG result = RegQueryValueExA(key, name, NULL, &type, data, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        printf("value missing\n");
        return 1;
    }
    printf("type=%lu size=%lu hex=", type, size);
    for (DWORD i = 0; i < size; ++i)
        printf("%02x", data[i]);
    printf("\n");
    return 0;
}

static int Run(int argc, char** argv)
{
    char commandLine[32768] = "";
    for (int i = 0; i < argc; ++i) {
        if (strlen(commandLine) + strlen(argv[i]) + 4 >= sizeof(commandLine))
            return 2;
        strcat(commandLine, "\"");
        strcat(commandLine, argv[i]);
        strcat(commandLine, i + 1 < argc ? "\" " : "\"");
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        printf("start failed %lu\n", GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("exit=%lu\n", code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

static int Move(const char* from, const char* to)
{
    BOOL moved = MoveFileA(from, to);
    printf("move %s %lu\n", moved ? "done" : "failed", moved ? 0 : GetLastError());
    return moved ? 0 : 1;
}

static int Swap(const char* target, LONGLONG size, const char* source, DWORD ms)
{
    HANDLE in = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (in == INVALID_HANDLE_VALUE)
        return 2;
    DWORD length = GetFileSize(in, NULL);
    char* data = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 1));
    DWORD read = 0;
    BOOL loaded = data != NULL && ReadFile(in, data, length, &read, NULL) && read == length;
    CloseHandle(in);
    if (!loaded)
        return 2;
    printf("watching\n");
    fflush(stdout);
    DWORD error = 0;
    for (DWORD begin = GetTickCount(); GetTickCount() - begin < ms; Sleep(1)) {
        HANDLE file = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            continue;
        }
        LARGE_INTEGER current;
        DWORD written = 0;
        BOOL swapped = GetFileSizeEx(file, &current) && current.QuadPart == size &&
                       WriteFile(file, data, length, &written, NULL) && written == length && SetEndOfFile(file);
        CloseHandle(file);
        if (swapped) {
            printf("swapped\n");
            return 0;
        }
    }
    printf("refused %lu\n", error);
    return 1;
}

static int Short(const char* path)
{
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    printf("%s\n", shortPath);
    return 0;
}

static int Hold(const char* path, const char* eventName, DWORD ms)
{
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, eventName);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (event == NULL || file == INVALID_HANDLE_VALUE)
        return 2;
    printf("holding\n");
    fflush(stdout);
    DWORD waited = WaitForSingleObject(event, 60000);
    Sleep(ms);
    CloseHandle(file);
    CloseHandle(event);
    printf(waited == WAIT_OBJECT_0 ? "released\n" : "never signalled\n");
    return waited == WAIT_OBJECT_0 ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "mutex") == 0)
        return Mutex(argv[2]);
    if (argc == 4 && strcmp(argv[1], "regvalue") == 0)
        return RegValue(argv[2], argv[3]);
    if (argc >= 3 && strcmp(argv[1], "run") == 0)
        return Run(argc - 2, argv + 2);
    if (argc == 4 && strcmp(argv[1], "move") == 0)
        return Move(argv[2], argv[3]);
    if (argc == 6 && strcmp(argv[1], "swap") == 0)
        return Swap(argv[2], _strtoi64(argv[3], NULL, 10), argv[4], strtoul(argv[5], NULL, 10));
    if (argc == 3 && strcmp(argv[1], "short") == 0)
        return Short(argv[2]);
    if (argc == 5 && strcmp(argv[1], "hold") == 0)
        return Hold(argv[2], argv[3], strtoul(argv[4], NULL, 10));
    fprintf(stderr, "usage: probe mutex NAME | regvalue SUBKEY NAME | run PROGRAM [ARGS] | move FROM TO"
                    " | swap FILE SIZE SOURCE MS | short PATH"
                    " | hold FILE EVENT MS\n");
    return 2;
}
